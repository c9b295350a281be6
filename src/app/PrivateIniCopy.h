#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QSettings;

// A user's INI file (settings, key bindings, an older bookmark file) as
// QSettings sees it, without QSettings ever opening the user's path: that
// open blocks for good on a FIFO put there after any check. The bytes are
// read once under UserFileGuard's rules into a private copy, which QSettings
// parses and updates; writing puts the copy's bytes in place by one rename.
class PrivateIniCopy
{
public:
    enum class WriteResult
    {
        Written,
        // The path names something other than a regular file: it is left
        // as it is.
        Refused,
        Failed,
    };

    PrivateIniCopy();
    ~PrivateIniCopy();
    PrivateIniCopy(PrivateIniCopy const&) = delete;
    PrivateIniCopy& operator=(PrivateIniCopy const&) = delete;

    // Reads the file at path, a regular file of at most maximumSize bytes
    // (after links); a path that names nothing reads as an empty file. False
    // with the reason when the file may not be read.
    bool Read(QString const& path, qint64 maximumSize, QString& reason);
    // Takes bytes read before. The copy is made in the temporary folder, or
    // where that fails (TMPDIR naming a file, a full or read-only folder) in
    // the user's runtime folder or else in besideFolder, when given (the
    // folder of the file the bytes came from). Where no folder takes it, the
    // bytes are read from memory: InMemory() tells, and the copy is then
    // read-only.
    bool Take(QByteArray const& bytes, QString& reason, QString const& besideFolder = QString());
    // The copy lives in memory, as no folder could take it; FolderProblems()
    // says which folders were tried and why each failed.
    bool InMemory() const;
    QString FolderProblems() const;
    // The settings over the copy; only after Read or Take succeeded.
    QSettings& Settings();
    // Writes what Settings holds over the file at path, after links: to a new
    // file beside it that replaces it by a rename once complete, and only
    // while the path names a regular file or nothing. A copy in memory is
    // never written: Failed.
    WriteResult WriteTo(QString const& path, QString& reason);

private:
    // Makes the private folder in folder and the copy of bytes in it.
    bool MakeCopy(QString const& folder, QByteArray const& bytes, QString& reason);
    // Puts bytes in an anonymous memory file QSettings can open by a path of
    // its own; false with the reason where the system has none.
    bool MakeMemoryCopy(QByteArray const& bytes, QString& reason);

    std::unique_ptr<QTemporaryDir> mFolder;
    // The memory file of a copy in memory, or -1.
    int mMemoryFile = -1;
    QString mFolderProblems;
    std::unique_ptr<QSettings> mSettings;
};
