#pragma once

#include <QByteArray>
#include <QString>

class QFileDevice;

// Writes to a file with the system's reason when it fails. Qt reports a write
// that stops part way (a full disk, a size limit) with no reason ("Unknown
// error"): the reason is the errno the failing call left.
class FileWrite
{
public:
    // Writes all of bytes to the open file and flushes them; false with the
    // reason otherwise.
    static bool WriteAll(QFileDevice& file, QByteArray const& bytes, QString& reason);
    // The reason an open, a flush or a commit of file failed.
    static QString Reason(QFileDevice const& file);
};
