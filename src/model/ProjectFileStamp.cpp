#include "model/ProjectFileStamp.h"

#include "app/UserFileGuard.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

ProjectFileStamp ProjectFileStamp::Of(QString const& path)
{
    ProjectFileStamp stamp;
    QFileInfo const info(path);
    QFile file;
    QString reason;
    // Never a FIFO, a device or a file too large to be a project: such a file
    // is refused by the read that follows, and hashing it would hang or take
    // minutes.
    if (path.isEmpty() ||
        !UserFileGuard::OpenForRead(file, info.absoluteFilePath(), UserFileGuard::MAXIMUM_PROJECT_FILE_SIZE, reason))
    {
        return stamp;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
    {
        return stamp;
    }
    stamp.mPath = info.absoluteFilePath();
    stamp.mSize = file.size();
    stamp.mModified = info.lastModified();
    stamp.mHash = hash.result();
    return stamp;
}

bool ProjectFileStamp::IsNull() const
{
    return mPath.isEmpty();
}

QString ProjectFileStamp::Path() const
{
    return mPath;
}

long long ProjectFileStamp::Size() const
{
    return mSize;
}

QDateTime ProjectFileStamp::Modified() const
{
    return mModified;
}

bool ProjectFileStamp::ChangedOnDisk() const
{
    if (IsNull() || !QFileInfo::exists(mPath))
    {
        return false;
    }
    ProjectFileStamp const now = Of(mPath);
    if (now.IsNull())
    {
        // There but unreadable: someone changed it.
        return true;
    }
    return now.mSize != mSize || now.mHash != mHash;
}
