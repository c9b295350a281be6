#include "media/export/ExportRecovery.h"

#include "app/Logger.h"
#include "media/export/ExportJournal.h"
#include "media/export/ExportOutputFiles.h"
#include "media/export/ExportTargetLock.h"
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
bool RemoveEntry(QString const& path)
{
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

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
    if (!IsOwnJournal(journalPath, journal.exportName) || journal.owner.IsRunning())
    {
        return lines; // not this user's, or not interrupted: its export still runs
    }

    // A journal acts in two places only: the output folder, where its lock
    // lies, and its own temporary folder (where the files it set aside are
    // kept). A step it names anywhere else is not an export's and is refused.
    QString const lockPath = QDir::cleanPath(journal.lockPath);
    QString const outputFolder = !journal.lockPath.isEmpty() &&
                                         ExportTargetLock::IsLockName(QFileInfo(lockPath).fileName())
                                     ? QFileInfo(lockPath).path()
                                     : QString();
    QStringList refused;
    QHash<QString, QList<FileIdentity>> placed;
    QList<ExportJournal::Entry> setAside;
    QStringList moved;
    for (ExportJournal::Entry entry : std::as_const(journal.entries))
    {
        QString const path = QDir::cleanPath(entry.path);
        if (outputFolder.isEmpty() || entry.path.isEmpty() || QFileInfo(path).path() != outputFolder)
        {
            if (!refused.contains(entry.path))
            {
                refused.append(entry.path);
            }
            continue;
        }
        entry.path = path;
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
        lines << QStringLiteral("Interrupted export: refused to act on %1, outside the output folder of its journal %2")
                     .arg(path, journalPath);
        logger->Warning(lines.last());
    }

    // What the export put in place goes first, where it is still its own.
    QString outputDirPath;
    qsizetype removed = 0;
    for (auto it = placed.constBegin(); it != placed.constEnd(); ++it)
    {
        FileIdentity const current = FileIdentity::Of(it.key());
        if (current.IsValid() && it.value().contains(current) && RemoveEntry(it.key()))
        {
            ++removed;
            outputDirPath = QFileInfo(it.key()).absolutePath();
        }
    }
    for (QString const& path : std::as_const(moved))
    {
        // A copy to another drive cut short, under the export's staged name.
        QString const staged = ExportOutputFiles::StagedPath(path, journal.exportName);
        if (FileIdentity::Of(staged).IsValid())
        {
            RemoveEntry(staged);
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
        QString kept;
        QStringList const candidates = {ExportOutputFiles::KeptInFolderPath(entry.path, keepDirPath),
                                        ExportOutputFiles::KeptBesidePath(entry.path, journal.exportName)};
        for (QString const& candidate : candidates)
        {
            if (entry.identity.IsValid() && FileIdentity::Of(candidate) == entry.identity)
            {
                kept = candidate;
                break;
            }
        }
        if (kept.isEmpty())
        {
            continue; // never moved, or already back
        }
        ++found;
        outputDirPath = QFileInfo(entry.path).absolutePath();
        if (!FileIdentity::Of(entry.path).IsValid() && ExportOutputFiles::PutBack(kept, entry.path))
        {
            ++restored;
        }
        else
        {
            left.append({entry.path, kept});
        }
    }

    bool const lockRemoved = !outputFolder.isEmpty() && ExportTargetLock::RemoveIfHeldBy(lockPath, journal.owner);
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
        if (FileIdentity::Of(path).IsValid())
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
