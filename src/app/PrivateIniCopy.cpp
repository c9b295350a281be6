#include "app/PrivateIniCopy.h"

#include "app/FileWrite.h"
#include "app/UserFileGuard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <qplatformdefs.h>

#include <atomic>
#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>
#if defined(Q_OS_LINUX)
#include <sys/mman.h>
#endif

namespace
{
QString const COPY_NAME = QStringLiteral("copy.ini");

// Where a path leads after its links, as far as they lead: the last link's
// target may not exist yet (it is then made).
QString FinalPath(QString const& path)
{
    QFileInfo info(QFileInfo(path).absoluteFilePath());
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
    {
        info.setFile(info.symLinkTarget());
    }
    return info.absoluteFilePath();
}

// Whether the path names a regular file or nothing, without following a link
// and without opening it.
bool RegularOrAbsent(QString const& path)
{
    QT_STATBUF info;
    if (QT_LSTAT(QFile::encodeName(path).constData(), &info) != 0)
    {
        return errno == ENOENT;
    }
    return S_ISREG(info.st_mode);
}

// The folders a private copy may be made in, best first: the temporary
// folder, the user's runtime folder (which a TMPDIR naming a file, a full or
// a read-only temporary folder leaves alone), and the folder of the user's
// file itself, which must take a new file anyway for the file to be saved.
QStringList CopyFolders(QString const& besideFolder)
{
    QStringList folders {QDir::tempPath()};
    QString const runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
    {
        folders.append(runtime);
    }
    if (!besideFolder.isEmpty())
    {
        folders.append(besideFolder);
    }
    folders.removeDuplicates();
    return folders;
}
} // namespace

PrivateIniCopy::PrivateIniCopy() = default;

PrivateIniCopy::~PrivateIniCopy()
{
    // The settings write nothing more once the folder is gone.
    mSettings.reset();
    if (mMemoryFile >= 0)
    {
        ::close(mMemoryFile);
    }
}

bool PrivateIniCopy::Read(QString const& path, qint64 maximumSize, QString& reason)
{
    QFileInfo const info(path);
    QByteArray bytes;
    if ((info.exists() || info.isSymLink()) && !UserFileGuard::ReadAll(path, maximumSize, bytes, reason))
    {
        return false;
    }
    return Take(bytes, reason, QFileInfo(FinalPath(path)).absolutePath());
}

bool PrivateIniCopy::Take(QByteArray const& bytes, QString& reason, QString const& besideFolder)
{
    mSettings.reset();
    if (mMemoryFile >= 0)
    {
        ::close(mMemoryFile);
        mMemoryFile = -1;
    }
    mFolderProblems.clear();
    QStringList problems;
    for (QString const& folder : CopyFolders(besideFolder))
    {
        QString problem;
        if (MakeCopy(folder, bytes, problem))
        {
            mSettings = std::make_unique<QSettings>(mFolder->filePath(COPY_NAME), QSettings::IniFormat);
            return true;
        }
        problems.append(QStringLiteral("%1: %2").arg(folder, problem));
    }
    mFolderProblems = problems.join(QStringLiteral("; "));
    QString problem;
    if (MakeMemoryCopy(bytes, problem))
    {
        return true;
    }
    problems.append(QStringLiteral("in memory: %1").arg(problem));
    reason = QStringLiteral("no private copy (%1)").arg(problems.join(QStringLiteral("; ")));
    return false;
}

bool PrivateIniCopy::InMemory() const
{
    return mMemoryFile >= 0;
}

QString PrivateIniCopy::FolderProblems() const
{
    return mFolderProblems;
}

bool PrivateIniCopy::MakeMemoryCopy(QByteArray const& bytes, QString& reason)
{
#if defined(Q_OS_LINUX)
    int const file = memfd_create("ini-copy", MFD_CLOEXEC);
    if (file < 0)
    {
        reason = qt_error_string(errno);
        return false;
    }
    qint64 done = 0;
    while (done < bytes.size())
    {
        ssize_t const count = ::write(file, bytes.constData() + done, size_t(bytes.size() - done));
        if (count < 0 && errno == EINTR)
        {
            continue;
        }
        if (count <= 0)
        {
            reason = qt_error_string(count < 0 ? errno : ENOSPC);
            ::close(file);
            return false;
        }
        done += count;
    }
    // QSettings keeps what it parsed by path, and trusts it again while the
    // size and the modification time match: the descriptor's number, and so
    // the path, comes back for a later copy, so every copy gets a time of
    // its own.
    // Counted from any thread.
    static std::atomic<qint64> copies {0};
    timespec const times[2] = {{0, UTIME_OMIT}, {time_t(++copies), 0}};
    QString const path = QStringLiteral("/proc/self/fd/%1").arg(file);
    if (::futimens(file, times) != 0)
    {
        reason = qt_error_string(errno);
        ::close(file);
        return false;
    }
    if (!QFileInfo(path).isReadable())
    {
        reason = QStringLiteral("%1 cannot be opened").arg(path);
        ::close(file);
        return false;
    }
    mMemoryFile = file;
    mSettings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    return true;
#else
    Q_UNUSED(bytes);
    reason = QStringLiteral("not on this system");
    return false;
#endif
}

bool PrivateIniCopy::MakeCopy(QString const& folder, QByteArray const& bytes, QString& reason)
{
    // A folder only this process can enter, so that nobody swaps the copy.
    // Hidden, for the one beside the user's file.
    mFolder = std::make_unique<QTemporaryDir>(folder + QStringLiteral("/.ini-copy-XXXXXX"));
    if (!mFolder->isValid())
    {
        reason = mFolder->errorString();
        mFolder.reset();
        return false;
    }
    QFile copy(mFolder->filePath(COPY_NAME));
    if (!copy.open(QIODevice::WriteOnly))
    {
        reason = FileWrite::Reason(copy);
        mFolder.reset();
        return false;
    }
    if (!FileWrite::WriteAll(copy, bytes, reason))
    {
        copy.close();
        mFolder.reset();
        return false;
    }
    copy.close();
    return true;
}

QSettings& PrivateIniCopy::Settings()
{
    Q_ASSERT(mSettings);
    return *mSettings;
}

PrivateIniCopy::WriteResult PrivateIniCopy::WriteTo(QString const& path, QString& reason)
{
    Q_ASSERT(mSettings);
    if (InMemory())
    {
        reason = QStringLiteral("no private copy (%1)").arg(mFolderProblems);
        return WriteResult::Failed;
    }
    QString const finalPath = FinalPath(path);
    if (!RegularOrAbsent(finalPath))
    {
        reason = QStringLiteral("not a regular file");
        return WriteResult::Refused;
    }
    // QSettings keeps no reason: the errno its failed write left is the one.
    errno = 0;
    mSettings->sync();
    int const errorNumber = errno;
    if (mSettings->status() == QSettings::AccessError)
    {
        reason = QStringLiteral("the private copy in %1 could not be written: %2")
                     .arg(QFileInfo(mFolder->path()).absolutePath(),
                          errorNumber != 0 ? qt_error_string(errorNumber) : QStringLiteral("no reason given"));
        return WriteResult::Failed;
    }
    QFile copy(mFolder->filePath(COPY_NAME));
    if (!copy.open(QIODevice::ReadOnly))
    {
        reason = copy.errorString();
        return WriteResult::Failed;
    }
    QByteArray const bytes = copy.readAll();
    QString const folder = QFileInfo(finalPath).absolutePath();
    if (!QDir().mkpath(folder))
    {
        reason = QStringLiteral("cannot make the folder %1").arg(folder);
        return WriteResult::Failed;
    }
    QSaveFile file(finalPath);
    if (!file.open(QIODevice::WriteOnly))
    {
        reason = FileWrite::Reason(file);
        return WriteResult::Failed;
    }
    if (!FileWrite::WriteAll(file, bytes, reason))
    {
        file.cancelWriting();
        return WriteResult::Failed;
    }
    // Checked again just before the rename, which itself never opens what
    // it replaces.
    if (!RegularOrAbsent(finalPath))
    {
        file.cancelWriting();
        reason = QStringLiteral("not a regular file");
        return WriteResult::Refused;
    }
    if (!file.commit())
    {
        reason = FileWrite::Reason(file);
        return WriteResult::Failed;
    }
    return WriteResult::Written;
}
