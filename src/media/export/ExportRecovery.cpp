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
    Logger* const logger = Logger::GetInstance();
    ExportJournal::Contents journal;
    QString reason;
    if (!ExportJournal::Read(journalPath, journal, &reason))
    {
        if (QFileInfo::exists(journalPath))
        {
            lines << QStringLiteral("Failed to read the journal of an interrupted export: %1 (%2)")
                         .arg(journalPath, reason);
            logger->Warning(lines.last());
        }
        return lines;
    }
    if (!IsOwnJournal(journalPath, journal.exportName) || journal.owner.IsRunning() ||
        (takenFrom && !(*takenFrom == journal.owner)))
    {
        return lines; // not this user's, not interrupted (its export still runs), or not the lock's
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
        lines << QStringLiteral("Interrupted export: refused to act in the output folder of its journal %1: %2")
                     .arg(journalPath, refusal);
        logger->Warning(lines.last());
    }
    QStringList refused;
    QHash<QString, QList<FileIdentity>> placed;
    QList<ExportJournal::Entry> setAside;
    QStringList moved;
    for (ExportJournal::Entry entry : std::as_const(journal.entries))
    {
        QString const name = inOutput ? output.OwnName(entry.path) : QString();
        if (name.isEmpty())
        {
            if (!refused.contains(entry.path))
            {
                refused.append(entry.path);
            }
            continue;
        }
        entry.path = QDir(output.Path()).filePath(name);
        switch (entry.kind)
        {
        case ExportJournal::Kind::Placed:
            placed[entry.path].append(entry.identity);
            break;
        case ExportJournal::Kind::SetAside:
            setAside.append(entry);
            break;
        case ExportJournal::Kind::Move:
            moved.append(entry.path);
            break;
        }
    }
    for (QString const& path : std::as_const(refused))
    {
        lines << QStringLiteral("Interrupted export: refused to act on %1, outside the output of its journal %2")
                     .arg(path, journalPath);
        logger->Warning(lines.last());
    }

    // What the export put in place goes first, where it is still its own.
    QString const outputDirPath = output.Path();
    qsizetype removed = 0;
    for (auto it = placed.constBegin(); it != placed.constEnd(); ++it)
    {
        QString const name = QFileInfo(it.key()).fileName();
        FileIdentity const current = output.IdentityOf(name);
        if (current.IsValid() && it.value().contains(current) && output.Remove(name))
        {
            ++removed;
            lines << QStringLiteral("Interrupted export: removed %1, a file it had put in place").arg(it.key());
            logger->Warning(lines.last());
        }
    }
    for (QString const& path : std::as_const(moved))
    {
        // A copy to another drive cut short, under the export's staged name.
        QString const staged = QFileInfo(ExportOutputFiles::StagedPath(path, journal.exportName)).fileName();
        if (output.IdentityOf(staged).IsValid() && output.Remove(staged))
        {
            lines << QStringLiteral("Interrupted export: removed %1, a copy it had not finished")
                         .arg(QDir(outputDirPath).filePath(staged));
            logger->Warning(lines.last());
        }
    }

    // Then the user's files come back where nothing newer stands. They are
    // looked for only where the export keeps them: in its folder, or beside
    // their places under its name.
    QString const tempDirPath = QFileInfo(journalPath).absolutePath();
    QString const keepDirPath = QStringLiteral("%1/%2_replaced").arg(tempDirPath, journal.exportName);
    qsizetype found = 0;
    qsizetype restored = 0;
    QList<std::pair<QString, QString>> left;
    for (ExportJournal::Entry const& entry : std::as_const(setAside))
    {
        QString const name = QFileInfo(entry.path).fileName();
        QString kept;
        QString const inFolder = ExportOutputFiles::KeptInFolderPath(entry.path, keepDirPath);
        QString const beside = ExportOutputFiles::KeptBesidePath(entry.path, journal.exportName);
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
        ++found;
        if (!output.IdentityOf(name).IsValid() && output.PutBack(kept, name))
        {
            ++restored;
            lines << QStringLiteral("Interrupted export: put back %1, a file it had set aside").arg(entry.path);
            logger->Warning(lines.last());
        }
        else
        {
            left.append({entry.path, kept});
        }
    }

    // A lock taken over is the taker's now.
    bool const lockRemoved = inOutput && !takenFrom && output.RemoveLock();
    QString const lockPath = QDir::cleanPath(journal.lockPath);
    if (found > 0)
    {
        lines << QStringLiteral("Interrupted export found: %1 of %2 set-aside files put back in %3")
                     .arg(restored)
                     .arg(found)
                     .arg(outputDirPath);
        logger->Warning(lines.last());
    }
    if (removed > 0)
    {
        lines << QStringLiteral("Interrupted export found: %1 partly exported files removed").arg(removed);
        logger->Info(lines.last());
    }
    bool keptInTemp = false;
    for (auto const& [path, kept] : std::as_const(left))
    {
        if (output.IdentityOf(QFileInfo(path).fileName()).IsValid())
        {
            lines << QStringLiteral("Interrupted export: a newer file stands at %1; the file it replaced is kept as %2")
                         .arg(path, kept);
        }
        else
        {
            lines << QStringLiteral("Interrupted export: failed to put back %1; it is kept as %2").arg(path, kept);
        }
        logger->Warning(lines.last());
        keptInTemp = keptInTemp || kept.startsWith(tempDirPath + QLatin1Char('/'));
    }
    // The export's folder (the pictures it rendered) goes once nothing of
    // the user's is kept in it, nor may be.
    bool folderRemoved = false;
    if (!keptInTemp && refused.isEmpty() && QFileInfo(tempDirPath).fileName() == journal.exportName)
    {
        QDir(tempDirPath).removeRecursively();
        folderRemoved = !QFileInfo::exists(tempDirPath);
    }
    if (folderRemoved && lockRemoved)
    {
        lines << QStringLiteral("Interrupted export found: its temporary folder %1 and its lock %2 removed")
                     .arg(tempDirPath, lockPath);
    }
    else if (folderRemoved)
    {
        lines << QStringLiteral("Interrupted export found: its temporary folder %1 removed").arg(tempDirPath);
    }
    else if (lockRemoved)
    {
        lines << QStringLiteral("Interrupted export found: its lock %1 removed").arg(lockPath);
    }
    if (folderRemoved || lockRemoved)
    {
        logger->Warning(lines.last());
    }
    return lines;
}
