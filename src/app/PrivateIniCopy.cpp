#include "app/PrivateIniCopy.h"

#include "app/UserFileGuard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <qplatformdefs.h>

#include <cerrno>

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
    reason = QStringLiteral("no private copy (%1)").arg(problems.join(QStringLiteral("; ")));
    return false;
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
    if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.flush())
    {
        reason = copy.errorString();
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
    QString const finalPath = FinalPath(path);
    if (!RegularOrAbsent(finalPath))
    {
        reason = QStringLiteral("not a regular file");
        return WriteResult::Refused;
    }
    mSettings->sync();
    if (mSettings->status() == QSettings::AccessError)
    {
        reason = QStringLiteral("the private copy could not be written");
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
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
    {
        reason = file.errorString();
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
        reason = file.errorString();
        return WriteResult::Failed;
    }
    return WriteResult::Written;
}
