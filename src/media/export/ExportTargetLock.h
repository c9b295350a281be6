#pragma once

#include "media/export/ProcessIdentity.h"

#include <QString>

#include <memory>

// Keeps a second export, of this player or of another process, from writing
// the output an export is writing: a lock file beside the output names the
// process that holds it and the journal of its export. A lock whose process
// is gone (it was killed, or the machine restarted) is stale and is taken
// over; the journal it names tells what that export left undone.
class ExportTargetLock
{
public:
    // Far more than a lock file holds; a larger file is not a lock.
    static constexpr qint64 MAXIMUM_SIZE = 16 * 1024;

    // Takes the lock for the output `name` (a file name, or a picture
    // sequence's base name and extension) in `folder`. Returns null when
    // another export holds it or it cannot be made, with `error` saying so.
    // `staleJournalPath` receives the journal named by a stale lock that
    // was taken over (empty when there was none), and `staleHolder`, when
    // given, the process that held it.
    static std::shared_ptr<ExportTargetLock> Acquire(QString const& folder, QString const& name,
                                                     QString const& journalPath, QString& error,
                                                     QString& staleJournalPath, ProcessIdentity* staleHolder = nullptr);
    // Where the lock for `name` in `folder` lies.
    static QString LockPath(QString const& folder, QString const& name);
    // Whether a file of that name may be a lock that LockPath makes.
    static bool IsLockName(QString const& fileName);
    // Reads a lock file: its holder and journal; false when it is not one.
    static bool Read(QString const& lockPath, ProcessIdentity& holder, QString& journalPath);
    // The same from what a lock file holds.
    static bool Parse(QByteArray const& bytes, ProcessIdentity& holder, QString& journalPath);

    ~ExportTargetLock();
    ExportTargetLock(ExportTargetLock const&) = delete;
    ExportTargetLock& operator=(ExportTargetLock const&) = delete;

    QString Path() const;
    // Removes the lock file, when it is still the one this made; done by the
    // destructor at the latest.
    void Release();

private:
    ExportTargetLock(QString const& path, QByteArray const& content);

    QString mPath;
    QByteArray mContent; // what this lock wrote, to know its file again
    bool mHeld = true;
};
