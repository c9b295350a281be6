#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What a project file looked like at one moment: its path, size,
// modification time and a hash of its bytes. Two stamps of one path tell
// whether the file was written in between (by another player, say).
class ProjectFileStamp
{
public:
    ProjectFileStamp() = default;

    // The file at the path as it is now; a null stamp when it cannot be read.
    static ProjectFileStamp Of(QString const& path);
    // The file at the path as the given bytes, read or written at the given
    // modification time, show it: the stamp of exactly what was parsed.
    static ProjectFileStamp OfBytes(QString const& path, QByteArray const& bytes, QDateTime const& modified);

    bool IsNull() const;
    // The absolute path.
    QString Path() const;
    long long Size() const;
    QDateTime Modified() const;
    // Whether the file now differs from this stamp. Same bytes count as the
    // same file, whatever the time says; a file that is gone has lost
    // nothing, so it counts as unchanged.
    bool ChangedOnDisk() const;

private:
    QString mPath;
    long long mSize = -1;
    QDateTime mModified;
    QByteArray mHash;
};
