#pragma once

#include <QByteArray>
#include <QFile>

// Figures of /proc/self/status (memory in kilobytes, thread count), -1 when unknown.
namespace BenchMemory
{
inline long long StatusKilobytes(QByteArray const& key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
    {
        return -1;
    }
    for (QByteArray const& line : status.readAll().split('\n'))
    {
        if (line.startsWith(key))
        {
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

inline long long ResidentKilobytes()
{
    return StatusKilobytes("VmRSS:");
}

inline long long PeakKilobytes()
{
    return StatusKilobytes("VmHWM:");
}
}
