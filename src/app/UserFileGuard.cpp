#include "app/UserFileGuard.h"

#include <QFile>
#include <QFileInfo>
#include <qplatformdefs.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace
{
QString TooLarge(qint64 size, qint64 maximumSize)
{
    return QStringLiteral("%1 bytes, more than %2").arg(size).arg(maximumSize);
}
} // namespace

bool UserFileGuard::IsReadable(QString const& path, QString& reason, qint64 maximumSize)
{
    QFileInfo const info(path);
    if (!info.exists() && !info.isSymLink())
    {
        return true;
    }
    if (!info.isFile())
    {
        reason = QStringLiteral("not a regular file");
        return false;
    }
    if (info.size() > maximumSize)
    {
        reason = TooLarge(info.size(), maximumSize);
        return false;
    }
    return true;
}

bool UserFileGuard::OpenForRead(QFile& file, QString const& path, qint64 maximumSize, QString& reason)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
    {
        reason = QStringLiteral("no such file");
        return false;
    }
    // The check before the open keeps devices from being opened at all.
    if (!IsReadable(path, reason, maximumSize))
    {
        return false;
    }
    int const fd = QT_OPEN(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    QT_STATBUF info;
    bool const regular = QT_FSTAT(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (!regular || info.st_size > maximumSize)
    {
        reason = regular ? TooLarge(info.st_size, maximumSize) : QStringLiteral("not a regular file");
        QT_CLOSE(fd);
        return false;
    }
    // A regular file never blocks; its reads go on as usual.
    int const flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
    {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
    {
        reason = file.errorString();
        QT_CLOSE(fd);
        return false;
    }
    return true;
}

bool UserFileGuard::ReadAll(QString const& path, qint64 maximumSize, QByteArray& bytes, QString& reason)
{
    QFile file;
    if (!OpenForRead(file, path, maximumSize, reason))
    {
        return false;
    }
    // One byte more than the cap tells a file that grew past it since the open.
    bytes = file.read(qMin(file.size(), maximumSize) + 1);
    if (bytes.size() > maximumSize)
    {
        bytes.clear();
        reason = TooLarge(file.size(), maximumSize);
        return false;
    }
    if (file.error() != QFileDevice::NoError)
    {
        bytes.clear();
        reason = file.errorString();
        return false;
    }
    return true;
}
