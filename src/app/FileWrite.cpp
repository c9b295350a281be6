#include "app/FileWrite.h"

#include <QFileDevice>

#include <cerrno>

bool FileWrite::WriteAll(QFileDevice& file, QByteArray const& bytes, QString& reason)
{
    errno = 0;
    if (file.write(bytes) == bytes.size() && file.flush())
    {
        return true;
    }
    // Qt keeps no reason for a part written (its text is then "Unknown
    // error"), while the call that failed left its errno.
    int const errorNumber = errno;
    reason = errorNumber != 0 ? qt_error_string(errorNumber) : Reason(file);
    return false;
}

QString FileWrite::Reason(QFileDevice const& file)
{
    return file.error() == QFileDevice::NoError ? QStringLiteral("the write stopped short") : file.errorString();
}
