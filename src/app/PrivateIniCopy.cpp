#include "app/PrivateIniCopy.h"

#include "app/UserFileGuard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
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
    return Take(bytes, reason);
}

bool PrivateIniCopy::Take(QByteArray const& bytes, QString& reason)
{
    mSettings.reset();
    // A folder only this process can enter, so that nobody swaps the copy.
    mFolder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/ini-copy-XXXXXX"));
    if (!mFolder->isValid())
    {
        reason = QStringLiteral("no private copy: %1").arg(mFolder->errorString());
        mFolder.reset();
        return false;
    }
    QString const copyPath = mFolder->filePath(COPY_NAME);
    QFile copy(copyPath);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.flush())
    {
        reason = QStringLiteral("no private copy: %1").arg(copy.errorString());
        mFolder.reset();
        return false;
    }
    copy.close();
    mSettings = std::make_unique<QSettings>(copyPath, QSettings::IniFormat);
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
