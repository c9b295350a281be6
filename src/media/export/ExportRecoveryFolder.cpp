#include "media/export/ExportRecoveryFolder.h"

#include "app/UserFileGuard.h"
#include "media/export/ExportTargetLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
QByteArray EncodedPath(QString const& path)
{
    return QFile::encodeName(path);
}

FileIdentity IdentityFrom(struct stat const& status)
{
    FileIdentity identity;
    identity.device = static_cast<quint64>(status.st_dev);
    identity.inode = static_cast<quint64>(status.st_ino);
    identity.size = static_cast<qint64>(status.st_size);
    identity.modifiedNs = static_cast<qint64>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
    return identity;
}

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// What the lock file `name` in the folder `fd` holds: only a regular file
// of this user, not a link, read through the guarded open and known to be
// the entry found in that folder.
bool ReadLock(int fd, QString const& folder, QString const& name, QByteArray& bytes, FileIdentity& identity,
              QString& reason)
{
    struct stat entry = {};
    if (::fstatat(fd, EncodedPath(name).constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
    {
        reason = ErrorText(errno);
        return false;
    }
    if (S_ISLNK(entry.st_mode))
    {
        reason = QStringLiteral("a link");
        return false;
    }
    if (!S_ISREG(entry.st_mode) || entry.st_uid != ::geteuid())
    {
        reason = S_ISREG(entry.st_mode) ? QStringLiteral("another user's") : QStringLiteral("not a regular file");
        return false;
    }
    int const lockFd = UserFileGuard::OpenDescriptor(QDir(folder).filePath(name), ExportTargetLock::MAXIMUM_SIZE,
                                                     reason);
    if (lockFd < 0)
    {
        return false;
    }
    struct stat opened = {};
    bool same = ::fstat(lockFd, &opened) == 0 && opened.st_dev == entry.st_dev && opened.st_ino == entry.st_ino;
    bytes.clear();
    char buffer[4096];
    for (ssize_t got = 0; same && bytes.size() <= ExportTargetLock::MAXIMUM_SIZE;)
    {
        got = ::read(lockFd, buffer, sizeof buffer);
        if (got <= 0)
        {
            same = got == 0;
            break;
        }
        bytes.append(buffer, got);
    }
    ::close(lockFd);
    if (!same || bytes.size() > ExportTargetLock::MAXIMUM_SIZE)
    {
        reason = QStringLiteral("changed while it was read");
        return false;
    }
    identity = IdentityFrom(opened);
    return true;
}
} // namespace

ExportRecoveryFolder::~ExportRecoveryFolder()
{
    if (mFd >= 0)
    {
        ::close(mFd);
    }
}

bool ExportRecoveryFolder::Open(QString const& lockPath, ProcessIdentity const& holder, QString const& journalPath,
                                QString& reason)
{
    QString const path = QDir::cleanPath(lockPath);
    QString const folder = QFileInfo(path).path();
    QString const lockName = QFileInfo(path).fileName();
    if (lockPath.isEmpty() || !QDir::isAbsolutePath(path) || !ExportTargetLock::IsLockName(lockName))
    {
        reason = QStringLiteral("its lock path is not one an export makes: %1").arg(lockPath);
        return false;
    }
    // Never through a link: a folder swapped for one is refused at the open.
    int const fd = ::open(EncodedPath(folder).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
    {
        int const error = errno;
        reason = QFileInfo(folder).isSymLink()
                     ? QStringLiteral("its output folder %1 is a link").arg(folder)
                     : QStringLiteral("its output folder %1: %2").arg(folder, ErrorText(error));
        return false;
    }
    QByteArray bytes;
    FileIdentity identity;
    QString why;
    if (!ReadLock(fd, folder, lockName, bytes, identity, why))
    {
        ::close(fd);
        reason = QStringLiteral("no lock of its export at %1 (%2)").arg(path, why);
        return false;
    }
    ProcessIdentity named;
    QString namedJournal;
    QString const canonicalJournal = QFileInfo(journalPath).canonicalFilePath();
    if (!ExportTargetLock::Parse(bytes, named, namedJournal) || !(named == holder) || canonicalJournal.isEmpty() ||
        QFileInfo(namedJournal).canonicalFilePath() != canonicalJournal)
    {
        ::close(fd);
        reason = QStringLiteral("the lock at %1 is not its export's").arg(path);
        return false;
    }
    if (mFd >= 0)
    {
        ::close(mFd);
    }
    mFd = fd;
    mPath = folder;
    mLockName = lockName;
    mLock = identity;
    return true;
}

QString ExportRecoveryFolder::Path() const
{
    return mPath;
}

QString ExportRecoveryFolder::OwnName(QString const& path) const
{
    QString const cleaned = QDir::cleanPath(path);
    QString const name = QFileInfo(cleaned).fileName();
    if (mFd < 0 || path.isEmpty() || QFileInfo(cleaned).path() != mPath || name.isEmpty() || name == mLockName)
    {
        return QString();
    }
    // A movie or sound file by the name locked; a picture by its sequence's
    // base name and extension, which its lock is made for.
    QStringList candidates = {name};
    static QRegularExpression const picture(QStringLiteral("^(.+)\\.-?[0-9]+\\.([^.]+)$"));
    QRegularExpressionMatch const match = picture.match(name);
    if (match.hasMatch())
    {
        candidates.append(QStringLiteral("%1.%2").arg(match.captured(1), match.captured(2)));
    }
    for (QString const& candidate : std::as_const(candidates))
    {
        if (QFileInfo(ExportTargetLock::LockPath(mPath, candidate)).fileName() == mLockName)
        {
            return name;
        }
    }
    return QString();
}

FileIdentity ExportRecoveryFolder::IdentityOf(QString const& name) const
{
    struct stat status = {};
    if (mFd < 0 || name.isEmpty() || ::fstatat(mFd, EncodedPath(name).constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
    {
        return FileIdentity();
    }
    return IdentityFrom(status);
}

bool ExportRecoveryFolder::Remove(QString const& name) const
{
    return mFd >= 0 && !name.isEmpty() && ::unlinkat(mFd, EncodedPath(name).constData(), 0) == 0;
}

bool ExportRecoveryFolder::PutBack(QString const& keptPath, QString const& name) const
{
    if (mFd < 0 || name.isEmpty())
    {
        return false;
    }
    QString const keptFolder = QFileInfo(QDir::cleanPath(keptPath)).path();
    int const fromFd = keptFolder == mPath ? mFd : AT_FDCWD;
    QByteArray const from = EncodedPath(fromFd == mFd ? QFileInfo(keptPath).fileName() : keptPath);
    QByteArray const to = EncodedPath(name);
    if (::renameat2(fromFd, from.constData(), mFd, to.constData(), RENAME_NOREPLACE) == 0)
    {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS)
    {
        return false;
    }
    // A file system that cannot refuse to replace in the rename itself.
    if (IdentityOf(name).IsValid())
    {
        return false;
    }
    return ::renameat(fromFd, from.constData(), mFd, to.constData()) == 0;
}

bool ExportRecoveryFolder::RemoveLock() const
{
    return mFd >= 0 && IdentityOf(mLockName) == mLock && Remove(mLockName);
}
