#include "app/UserFileGuard.h"

#include <QDateTime>
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

int UserFileGuard::OpenDescriptor(QString const& path, qint64 maximumSize, QString& reason)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
    {
        reason = QStringLiteral("no such file");
        return -1;
    }
    // The check before the open keeps devices from being opened at all.
    if (!IsReadable(path, reason, maximumSize))
    {
        return -1;
    }
    int const fd = QT_OPEN(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    QT_STATBUF info;
    bool const regular = QT_FSTAT(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (!regular || info.st_size > maximumSize)
    {
        reason = regular ? TooLarge(info.st_size, maximumSize) : QStringLiteral("not a regular file");
        QT_CLOSE(fd);
        return -1;
    }
    // A regular file never blocks; its reads go on as usual.
    int const flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
    {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

bool UserFileGuard::OpenForRead(QFile& file, QString const& path, qint64 maximumSize, QString& reason)
{
    int const fd = OpenDescriptor(path, maximumSize, reason);
    if (fd < 0)
    {
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
    {
        reason = file.errorString();
        QT_CLOSE(fd);
        return false;
    }
    return true;
}

bool UserFileGuard::ReadAll(QString const& path, qint64 maximumSize, QByteArray& bytes, QString& reason,
                            QDateTime* modified)
{
    bytes.clear();
    QFile file;
    if (!OpenForRead(file, path, maximumSize, reason))
    {
        return false;
    }
    if (modified)
    {
        // Of the handle: the file that is read, whatever the path names now.
        *modified = file.fileTime(QFileDevice::FileModificationTime);
    }
    // The size the open saw is only a hint: read to the end, one byte past
    // the cap at most, which tells a file too large.
    constexpr qint64 CHUNK_SIZE = 1024 * 1024;
    qint64 const limit = maximumSize + 1;
    bytes.reserve(qMin(file.size(), maximumSize) + 1);
    while (bytes.size() < limit)
    {
        qint64 const offset = bytes.size();
        qint64 const wanted = qMin(CHUNK_SIZE, limit - offset);
        bytes.resize(offset + wanted);
        qint64 const got = file.read(bytes.data() + offset, wanted);
        bytes.resize(offset + qMax<qint64>(got, 0));
        if (got < 0)
        {
            bytes.clear();
            reason = file.errorString();
            return false;
        }
        if (got == 0)
        {
            break;
        }
    }
    if (bytes.size() > maximumSize)
    {
        bytes.clear();
        reason = QStringLiteral("more than %1 bytes").arg(maximumSize);
        return false;
    }
    return true;
}
