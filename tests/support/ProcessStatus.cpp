#include "support/ProcessStatus.h"

#include <QFile>

namespace ProcessStatus
{

long long Value(QByteArray const& key)
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

} // namespace ProcessStatus
