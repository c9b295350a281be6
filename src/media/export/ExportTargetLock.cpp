#include "media/export/ExportTargetLock.h"

#include "app/UserFileGuard.h"
#include "media/export/FileIdentity.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace
{
// File names are limited to 255 bytes; the lock's helper files add a tag.
qsizetype const MAXIMUM_LOCK_NAME_BYTES = 200;
int const TAKE_OVER_ATTEMPTS = 4;

QByteArray NativeName(QString const& path)
{
    return QFile::encodeName(path);
}

bool WriteNewFile(QString const& path, QByteArray const& content)
{
    int const fd = ::open(NativeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
    {
        return false;
    }
    bool const written = ::write(fd, content.constData(), static_cast<size_t>(content.size())) == content.size();
    bool const closed = ::close(fd) == 0;
    if (!written || !closed)
    {
        ::unlink(NativeName(path).constData());
        return false;
    }
    return true;
}

// The whole file when it is a regular file of lock size; false otherwise.
bool ReadLockBytes(QString const& path, QByteArray& bytes)
{
    QString reason;
    return UserFileGuard::ReadAll(path, ExportTargetLock::MAXIMUM_SIZE, bytes, reason) && !bytes.isEmpty();
}

// Puts the finished file at `from` in place at `to` in one step, never
// over an existing one: a reader sees either no lock or a whole one.
bool PlaceWithoutReplacing(QString const& from, QString const& to)
{
    if (::link(NativeName(from).constData(), NativeName(to).constData()) == 0)
    {
        ::unlink(NativeName(from).constData());
        return true;
    }
    if (errno == EEXIST)
    {
        return false;
    }
    // A file system without hard links.
    if (::renameat2(AT_FDCWD, NativeName(from).constData(), AT_FDCWD, NativeName(to).constData(),
                    RENAME_NOREPLACE) == 0)
    {
        return true;
    }
    int const error = errno;
    ::unlink(NativeName(from).constData());
    errno = error;
    return false;
}

QString HolderText(ProcessIdentity const& holder)
{
    if (holder.IsOfThisHost())
    {
        return QStringLiteral("process %1").arg(holder.pid);
    }
    return QStringLiteral("process %1 on %2").arg(holder.pid).arg(QString::fromUtf8(holder.host));
}
} // namespace

ExportTargetLock::ExportTargetLock(QString const& path, QByteArray const& content)
    : mPath(path)
    , mContent(content)
{
}

ExportTargetLock::~ExportTargetLock()
{
    Release();
}

QString ExportTargetLock::Path() const
{
    return mPath;
}

QString ExportTargetLock::LockPath(QString const& folder, QString const& name)
{
    QString fileName = QStringLiteral(".%1.export-lock").arg(name);
    if (NativeName(fileName).size() > MAXIMUM_LOCK_NAME_BYTES)
    {
        QByteArray const hash = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex();
        fileName = QStringLiteral(".export-lock.%1").arg(QString::fromLatin1(hash));
    }
    return QDir(folder).filePath(fileName);
}

bool ExportTargetLock::IsLockName(QString const& fileName)
{
    QString const suffix = QStringLiteral(".export-lock");
    return (fileName.size() > suffix.size() + 1 && fileName.startsWith(QLatin1Char('.')) &&
            fileName.endsWith(suffix)) ||
           fileName.startsWith(suffix + QLatin1Char('.'));
}

bool ExportTargetLock::Read(QString const& lockPath, ProcessIdentity& holder, QString& journalPath)
{
    QByteArray bytes;
    return ReadLockBytes(lockPath, bytes) && Parse(bytes, holder, journalPath);
}

bool ExportTargetLock::Parse(QByteArray const& bytes, ProcessIdentity& holder, QString& journalPath)
{
    holder = ProcessIdentity::FromText(bytes);
    journalPath.clear();
    for (QByteArray const& line : bytes.split('\n'))
    {
        if (line.startsWith("journal="))
        {
            journalPath = QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(8)));
        }
    }
    return holder.IsValid();
}

std::shared_ptr<ExportTargetLock> ExportTargetLock::Acquire(QString const& folder, QString const& name,
                                                            QString const& journalPath, QString& error,
                                                            QString& staleJournalPath, ProcessIdentity* staleHolder)
{
    error.clear();
    staleJournalPath.clear();
    QString const path = LockPath(folder, name);
    QString const target = QDir(folder).filePath(name);
    QString const failure = QStringLiteral("Failed to lock output for export: %1").arg(path);
    QString const nonce = QString::number(QRandomGenerator::system()->generate64(), 16);
    QByteArray const content = ProcessIdentity::Current().ToText() + "journal=" +
                               QUrl::toPercentEncoding(journalPath) + "\nlock=" + nonce.toLatin1() + "\n";
    QString const fresh = QStringLiteral("%1.%2.new").arg(path, nonce);
    QString const stale = QStringLiteral("%1.%2.stale").arg(path, nonce);

    for (int attempt = 0; attempt < TAKE_OVER_ATTEMPTS; ++attempt)
    {
        if (!WriteNewFile(fresh, content))
        {
            error = QStringLiteral("%1 (%2)").arg(failure, QString::fromLocal8Bit(std::strerror(errno)));
            return nullptr;
        }
        if (PlaceWithoutReplacing(fresh, path))
        {
            return std::shared_ptr<ExportTargetLock>(new ExportTargetLock(path, content));
        }
        int const placeError = errno;
        ::unlink(NativeName(fresh).constData());
        if (placeError != EEXIST)
        {
            error = QStringLiteral("%1 (%2)").arg(failure, QString::fromLocal8Bit(std::strerror(placeError)));
            return nullptr;
        }

        QByteArray held;
        if (!ReadLockBytes(path, held))
        {
            if (!FileIdentity::Of(path).IsValid())
            {
                continue; // released meanwhile
            }
            error = failure; // something else by that name
            return nullptr;
        }
        ProcessIdentity const holder = ProcessIdentity::FromText(held);
        if (holder.IsValid() && holder.IsRunning())
        {
            error = QStringLiteral("Output is in use by another export (%1): %2").arg(HolderText(holder), target);
            return nullptr;
        }
        // Its process is gone. The lock is moved aside first and removed
        // only if it is still the one found stale; a lock another export
        // took meanwhile goes back.
        if (::rename(NativeName(path).constData(), NativeName(stale).constData()) != 0)
        {
            continue;
        }
        QByteArray moved;
        if (!ReadLockBytes(stale, moved) || moved != held)
        {
            // Never over a lock placed since: then the one moved stays aside.
            PlaceWithoutReplacing(stale, path);
            error = QStringLiteral("Output is in use by another export: %1").arg(target);
            return nullptr;
        }
        ::unlink(NativeName(stale).constData());
        ProcessIdentity heldBy;
        Parse(held, heldBy, staleJournalPath);
        if (staleHolder)
        {
            *staleHolder = heldBy;
        }
    }
    error = failure;
    return nullptr;
}

void ExportTargetLock::Release()
{
    if (!mHeld)
    {
        return;
    }
    mHeld = false;
    QByteArray current;
    if (ReadLockBytes(mPath, current) && current == mContent)
    {
        ::unlink(NativeName(mPath).constData());
    }
}
