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
    int const errorNumber = errno;
    if (file.error() == QFileDevice::NoError && errorNumber != 0)
    {
        reason = qt_error_string(errorNumber);
    }
    else
    {
        reason = Reason(file);
    }
    return false;
}

QString FileWrite::Reason(QFileDevice const& file)
{
    return file.error() == QFileDevice::NoError ? QStringLiteral("the write stopped short") : file.errorString();
}
