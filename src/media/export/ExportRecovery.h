#pragma once

#include "media/export/ProcessIdentity.h"

#include <QString>
#include <QStringList>

// Undoes, at the next start, what an export that never ended (its process
// was killed or died) left at its output: the pictures it had moved in are
// removed when they are still the ones it put there, and each of the user's
// files it had set aside goes back to its place unless a newer file stands
// there; then it is left where it is kept, and the log says where. Its
// temporary folder (what it had rendered) and its lock go too.
//
// A journal is followed only in its own temporary folder and in the output
// folder its lock lies in, while that lock is there and names the journal
// and its process, and there only on names of the export's own output; a
// step it names anywhere else is refused, and the log names the path. Each
// file removed or put back is named in the log.
class ExportRecovery
{
public:
    // Every export folder in the temporary folder whose journal names a
    // process that is gone. Returns the lines it logged.
    static QStringList RecoverInterruptedExports(QString const& tempRootPath);
    // One export's journal; nothing happens while its process runs.
    static QStringList RecoverExport(QString const& journalPath);
    // One export's journal, named by the stale lock of `staleHolder` that
    // this process has just taken over: its lock now names this process and
    // `takerJournalPath`.
    static QStringList RecoverTakenOver(QString const& journalPath, ProcessIdentity const& staleHolder,
                                        QString const& takerJournalPath);

private:
    // `lockHolder` and `lockJournalPath`: what the lock must name.
    static QStringList Recover(QString const& journalPath, ProcessIdentity const* lockHolder,
                               QString const& lockJournalPath);
};
