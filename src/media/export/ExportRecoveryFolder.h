#pragma once

#include "media/export/FileIdentity.h"
#include "media/export/ProcessIdentity.h"

#include <QString>

// The output folder in which the recovery of an interrupted export may act:
// the folder its lock lies in, and only while that lock is there, a regular
// file of this user (not a link) that names the export's process and its
// journal. The folder is opened once, not through a link, and every step is
// taken by name inside the folder opened, so that a folder swapped for a
// link meanwhile is not followed. Only names of the export's own output are
// acted on: the name its lock is made for, or a picture of that sequence
// (its base name, a frame number, its extension).
class ExportRecoveryFolder
{
public:
    ExportRecoveryFolder() = default;
    ~ExportRecoveryFolder();
    ExportRecoveryFolder(ExportRecoveryFolder const&) = delete;
    ExportRecoveryFolder& operator=(ExportRecoveryFolder const&) = delete;

    // Opens the folder of the lock at `lockPath` when that lock names
    // `holder` and the journal at `journalPath`; false with `reason` (what
    // was refused, and why) otherwise.
    bool Open(QString const& lockPath, ProcessIdentity const& holder, QString const& journalPath, QString& reason);
    QString Path() const;

    // The name of `path` in this folder when it is one of the export's own
    // outputs; empty otherwise.
    QString OwnName(QString const& path) const;
    // The entry `name` in the folder (a link itself, not what it points to).
    FileIdentity IdentityOf(QString const& name) const;
    bool Remove(QString const& name) const;
    // Moves the entry at `keptPath` (in this folder, or anywhere else) to
    // `name` in it, never over an existing entry.
    bool PutBack(QString const& keptPath, QString const& name) const;
    // Removes the lock when it is still the one found by Open.
    bool RemoveLock() const;

private:
    int mFd = -1; // the folder, opened as a path only
    QString mPath;
    QString mLockName;
    FileIdentity mLock;
};
