#pragma once

#include <QString>
#include <QStringList>

// Undoes, at the next start, what an export that never ended (its process
// was killed or died) left at its output: the pictures it had moved in are
// removed when they are still the ones it put there, and each of the user's
// files it had set aside goes back to its place unless a newer file stands
// there; then it is left where it is kept, and the log says where. Its
// temporary folder (what it had rendered) and its lock go too.
//
// A journal is followed only in the output folder its lock lies in and in
// its own temporary folder; a step it names anywhere else is refused, and
// the log names the path.
class ExportRecovery
{
public:
    // Every export folder in the temporary folder whose journal names a
    // process that is gone. Returns the lines it logged.
    static QStringList RecoverInterruptedExports(QString const& tempRootPath);
    // One export's journal; nothing happens while its process runs.
    static QStringList RecoverExport(QString const& journalPath);
};
