#include "model/ProjectFileStamp.h"

#include "app/UserFileGuard.h"

#include <QCryptographicHash>
#include <QFileInfo>

ProjectFileStamp ProjectFileStamp::Of(QString const& path)
{
    // Read once and bounded, never a FIFO or a device: a file larger than a
    // project may be, or one that reads on past its size, gives a null stamp
    // as soon as the cap is passed.
    QByteArray bytes;
    QDateTime modified;
    QString reason;
    if (path.isEmpty() || !UserFileGuard::ReadAll(QFileInfo(path).absoluteFilePath(),
                                                   UserFileGuard::MAXIMUM_PROJECT_FILE_SIZE, bytes, reason, &modified))
    {
        return ProjectFileStamp();
    }
    return OfBytes(path, bytes, modified);
}

ProjectFileStamp ProjectFileStamp::OfBytes(QString const& path, QByteArray const& bytes, QDateTime const& modified)
{
    ProjectFileStamp stamp;
    if (path.isEmpty())
    {
        return stamp;
    }
    stamp.mPath = QFileInfo(path).absoluteFilePath();
    stamp.mSize = bytes.size();
    stamp.mModified = modified;
    stamp.mHash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
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
