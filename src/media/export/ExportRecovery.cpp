#include "media/export/ExportRecovery.h"

#include "app/Logger.h"
#include "media/export/ExportJournal.h"
#include "media/export/ExportOutputFiles.h"
#include "media/export/ExportRecoveryFolder.h"
#include "media/export/FileIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>

#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
// A journal is acted on only when this user's export wrote it: a regular
// file of this user, not a link, in the export's own folder.
bool IsOwnJournal(QString const& journalPath, QString const& exportName)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(journalPath).constData(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid())
    {
        return false;
    }
    QString const folder = QFileInfo(journalPath).absolutePath();
    return !exportName.isEmpty() && QFileInfo(folder).fileName() == exportName &&
           QFileInfo(ExportJournal::PathFor(folder, exportName)) == QFileInfo(journalPath);
}

// What a journal's steps ask, sorted by kind; `refused` names the steps
// outside the export's own output.
struct JournalSteps
{
    QStringList refused;
    QHash<QString, QList<FileIdentity>> placed;
    QList<ExportJournal::Entry> setAside;
    QStringList moved;
};

// The user's files found where the export keeps them: how many, how many
// went back, and those left (their place, and where each is kept).
struct PutBackOutcome
{
    qsizetype found = 0;
    qsizetype restored = 0;
    QList<std::pair<QString, QString>> left;
};

void Warn(QStringList& lines, QString const& line)
{
    lines << line;
    Logger::GetInstance()->Warning(line);
}

// Reads the journal; true when it is this user's, its export is gone and,
// for a lock taken over, it names the lock's stale holder.
bool ReadInterruptedJournal(QString const& journalPath, ProcessIdentity const* takenFrom,
                            ExportJournal::Contents& journal, QStringList& lines)
{
    QString reason;
    if (!ExportJournal::Read(journalPath, journal, &reason))
    {
        if (QFileInfo::exists(journalPath))
        {
            Warn(lines, QStringLiteral("Failed to read the journal of an interrupted export: %1 (%2)")
                            .arg(journalPath, reason));
        }
        return false;
    }
    // Not this user's, not interrupted (its export still runs), or not the lock's.
    return IsOwnJournal(journalPath, journal.exportName) && !journal.owner.IsRunning() &&
           !(takenFrom && !(*takenFrom == journal.owner));
}

JournalSteps SortSteps(ExportJournal::Contents const& journal, ExportRecoveryFolder const& output, bool inOutput,
                       QString const& journalPath, QStringList& lines)
{
    JournalSteps steps;
    for (ExportJournal::Entry entry : std::as_const(journal.entries))
    {
        QString const name = inOutput ? output.OwnName(entry.path) : QString();
        if (name.isEmpty())
        {
            if (!steps.refused.contains(entry.path))
            {
                steps.refused.append(entry.path);
            }
            continue;
        }
        entry.path = QDir(output.Path()).filePath(name);
        switch (entry.kind)
        {
        case ExportJournal::Kind::Placed:
            steps.placed[entry.path].append(entry.identity);
            break;
        case ExportJournal::Kind::SetAside:
            steps.setAside.append(entry);
            break;
        case ExportJournal::Kind::Move:
            steps.moved.append(entry.path);
            break;
        }
    }
    for (QString const& path : std::as_const(steps.refused))
    {
        Warn(lines, QStringLiteral("Interrupted export: refused to act on %1, outside the output of its journal %2")
                        .arg(path, journalPath));
    }
    return steps;
}

// Removes the files the export put in place while they are still the ones
// it put there, and its copies cut short; returns how many it put in place
// were removed.
qsizetype RemoveWhatItPlaced(JournalSteps const& steps, ExportRecoveryFolder const& output, QString const& exportName,
                             QStringList& lines)
{
    qsizetype removed = 0;
    for (auto it = steps.placed.constBegin(); it != steps.placed.constEnd(); ++it)
    {
        QString const name = QFileInfo(it.key()).fileName();
        FileIdentity const current = output.IdentityOf(name);
        if (current.IsValid() && it.value().contains(current) && output.Remove(name))
        {
            ++removed;
            Warn(lines, QStringLiteral("Interrupted export: removed %1, a file it had put in place").arg(it.key()));
        }
    }
    for (QString const& path : std::as_const(steps.moved))
    {
        // A copy to another drive cut short, under the export's staged name.
        QString const staged = QFileInfo(ExportOutputFiles::StagedPath(path, exportName)).fileName();
        if (output.IdentityOf(staged).IsValid() && output.Remove(staged))
        {
            Warn(lines, QStringLiteral("Interrupted export: removed %1, a copy it had not finished")
                            .arg(QDir(output.Path()).filePath(staged)));
        }
    }
    return removed;
}

// Puts the user's files back where nothing newer stands. They are looked
// for only where the export keeps them: in its folder, or beside their
// places under its name.
PutBackOutcome PutBackSetAside(QList<ExportJournal::Entry> const& setAside, ExportRecoveryFolder const& output,
                               QString const& tempDirPath, QString const& exportName, QStringList& lines)
{
    QString const keepDirPath = QStringLiteral("%1/%2_replaced").arg(tempDirPath, exportName);
    PutBackOutcome outcome;
    for (ExportJournal::Entry const& entry : setAside)
    {
        QString const name = QFileInfo(entry.path).fileName();
        QString kept;
        QString const inFolder = ExportOutputFiles::KeptInFolderPath(entry.path, keepDirPath);
        QString const beside = ExportOutputFiles::KeptBesidePath(entry.path, exportName);
        if (entry.identity.IsValid() && FileIdentity::Of(inFolder) == entry.identity)
        {
            kept = inFolder;
        }
        else if (entry.identity.IsValid() && output.IdentityOf(QFileInfo(beside).fileName()) == entry.identity)
        {
            kept = beside;
        }
        if (kept.isEmpty())
        {
            continue; // never moved, or already back
        }
        ++outcome.found;
        if (!output.IdentityOf(name).IsValid() && output.PutBack(kept, name))
        {
            ++outcome.restored;
            Warn(lines, QStringLiteral("Interrupted export: put back %1, a file it had set aside").arg(entry.path));
        }
        else
        {
            outcome.left.append({entry.path, kept});
        }
    }
    return outcome;
}

void ReportCounts(PutBackOutcome const& putBack, qsizetype removed, QString const& outputDirPath, QStringList& lines)
{
    if (putBack.found > 0)
    {
        Warn(lines, QStringLiteral("Interrupted export found: %1 of %2 set-aside files put back in %3")
                        .arg(putBack.restored)
                        .arg(putBack.found)
                        .arg(outputDirPath));
    }
    if (removed > 0)
    {
        lines << QStringLiteral("Interrupted export found: %1 partly exported files removed").arg(removed);
        Logger::GetInstance()->Info(lines.last());
    }
}

// Says where each file that could not go back is kept; true when one is
// kept in the export's temporary folder.
bool ReportFilesLeft(QList<std::pair<QString, QString>> const& left, ExportRecoveryFolder const& output,
                     QString const& tempDirPath, QStringList& lines)
{
    bool keptInTemp = false;
    for (auto const& [path, kept] : left)
    {
        if (output.IdentityOf(QFileInfo(path).fileName()).IsValid())
        {
            Warn(lines,
                 QStringLiteral("Interrupted export: a newer file stands at %1; the file it replaced is kept as %2")
                     .arg(path, kept));
        }
        else
        {
            Warn(lines, QStringLiteral("Interrupted export: failed to put back %1; it is kept as %2").arg(path, kept));
        }
        keptInTemp = keptInTemp || kept.startsWith(tempDirPath + QLatin1Char('/'));
    }
    return keptInTemp;
}

// The export's folder (the pictures it rendered) goes once nothing of the
// user's is kept in it, nor may be (`keep`); says what went, with the lock.
void RemoveTempFolder(QString const& tempDirPath, ExportJournal::Contents const& journal, bool keep,
                      bool lockRemoved, QStringList& lines)
{
    QString const lockPath = QDir::cleanPath(journal.lockPath);
    bool folderRemoved = false;
    if (!keep && QFileInfo(tempDirPath).fileName() == journal.exportName)
    {
        QDir(tempDirPath).removeRecursively();
        folderRemoved = !QFileInfo::exists(tempDirPath);
    }
    if (folderRemoved && lockRemoved)
    {
        Warn(lines, QStringLiteral("Interrupted export found: its temporary folder %1 and its lock %2 removed")
                        .arg(tempDirPath, lockPath));
    }
    else if (folderRemoved)
    {
        Warn(lines, QStringLiteral("Interrupted export found: its temporary folder %1 removed").arg(tempDirPath));
    }
    else if (lockRemoved)
    {
        Warn(lines, QStringLiteral("Interrupted export found: its lock %1 removed").arg(lockPath));
    }
}
} // namespace

QStringList ExportRecovery::RecoverInterruptedExports(QString const& tempRootPath)
{
    QStringList lines;
    if (tempRootPath.isEmpty())
    {
        return lines;
    }
    QDir const root(tempRootPath);
    QStringList const folders = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (QString const& name : folders)
    {
        QString const journalPath = ExportJournal::PathFor(root.filePath(name), name);
        if (QFileInfo(journalPath).isFile())
        {
            lines += RecoverExport(journalPath);
        }
    }
    return lines;
}

QStringList ExportRecovery::RecoverExport(QString const& journalPath)
{
    return Recover(journalPath, nullptr, journalPath);
}

QStringList ExportRecovery::RecoverTakenOver(QString const& journalPath, ProcessIdentity const& staleHolder,
                                             QString const& takerJournalPath)
{
    return Recover(journalPath, &staleHolder, takerJournalPath);
}

QStringList ExportRecovery::Recover(QString const& journalPath, ProcessIdentity const* takenFrom,
                                    QString const& lockJournalPath)
{
    QStringList lines;
    ExportJournal::Contents journal;
    if (!ReadInterruptedJournal(journalPath, takenFrom, journal, lines))
    {
        return lines;
    }

    // A journal acts in two places only: its own temporary folder (where
    // the files it set aside are kept) and the output folder where its lock
    // lies, while the lock names it; there only on the export's own names.
    // A step it names anywhere else is not an export's and is refused.
    ExportRecoveryFolder output;
    QString refusal;
    bool const inOutput = output.Open(journal.lockPath, takenFrom ? ProcessIdentity::Current() : journal.owner,
                                      lockJournalPath, refusal);
    if (!inOutput && !journal.entries.isEmpty())
    {
        Warn(lines, QStringLiteral("Interrupted export: refused to act in the output folder of its journal %1: %2")
                        .arg(journalPath, refusal));
    }
    JournalSteps const steps = SortSteps(journal, output, inOutput, journalPath, lines);

    // What the export put in place goes first, where it is still its own;
    // then the user's files come back where nothing newer stands.
    qsizetype const removed = RemoveWhatItPlaced(steps, output, journal.exportName, lines);
    QString const tempDirPath = QFileInfo(journalPath).absolutePath();
    PutBackOutcome const putBack = PutBackSetAside(steps.setAside, output, tempDirPath, journal.exportName, lines);

    // A lock taken over is the taker's now.
    bool const lockRemoved = inOutput && !takenFrom && output.RemoveLock();
    ReportCounts(putBack, removed, output.Path(), lines);
    bool const keptInTemp = ReportFilesLeft(putBack.left, output, tempDirPath, lines);
    RemoveTempFolder(tempDirPath, journal, keptInTemp || !steps.refused.isEmpty(), lockRemoved, lines);
    return lines;
}
