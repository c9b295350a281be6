#include "media/ExportPreparation.h"

#include "app/FileHelpers.h"
#include "app/Settings.h"
#include "media/ExportManager.h"
#include "media/ExportProperties.h"
#include "media/export/ExportJournal.h"
#include "media/export/ExportOutputFiles.h"
#include "media/export/ExportRecovery.h"
#include "media/export/ExportTargetLock.h"
#include "media/export/FileIdentity.h"
#include "model/Timeline.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

QString ExportPreparation::PreExportInitialization(ExportProperties* properties)
{
    if (!properties || !properties->timeline)
    {
        return QStringLiteral("No timeline to export");
    }
    Timeline* timeline = properties->timeline;
    if (timeline->ContainsClipWithMediaPath(properties->outputFilePath))
    {
        return QStringLiteral("Output file exists in the timeline being exported: %1").arg(properties->outputFilePath);
    }
    QString const format =
        properties->imageSequence ? properties->imageExtension : QFileInfo(properties->outputFilePath).suffix();
    if (!Settings::EXPORT_FILE_FORMATS.contains(format, Qt::CaseSensitive))
    {
        return QStringLiteral("Unsupported file type: %1").arg(format);
    }

    bool const audioAvailable = timeline->HasAudio() || !timeline->AudioOverrideTimelineId().isNull();
    bool audio = audioAvailable && !properties->noAudio;
    bool video = timeline->HasVideo() && !properties->noVideo;
    if (format == QLatin1String("wav"))
    {
        audio = audioAvailable;
        video = false;
    }
    if (properties->imageSequence)
    {
        video = timeline->HasVideo();
        audio = false;
    }
    if (!audio && !video)
    {
        return QStringLiteral("No audio or video streams in final output");
    }

    properties->exportName = QString::number(QDateTime::currentMSecsSinceEpoch());
    properties->tempDirPath = QStringLiteral("%1/%2").arg(ExportManager::TempRootPath(), properties->exportName);
    properties->frameRate = static_cast<float>(timeline->FrameRateAtFrame(0, 0));
    properties->finalAudioPath =
        audio ? QStringLiteral("%1/%2_final.m4a").arg(properties->tempDirPath, properties->exportName) : QString();
    properties->finalVideoPath =
        video ? QStringLiteral("%1/%2_final.m4v").arg(properties->tempDirPath, properties->exportName) : QString();
    properties->noAudio = !audio;
    properties->noVideo = !video;
    properties->intermediateFiles.clear();
    properties->outputFiles.clear();
    properties->replacedFiles.clear();
    properties->concatListPath.clear();
    if (video && !properties->imageSequence)
    {
        properties->width = ExportManager::EvenSize(properties->width);
        properties->height = ExportManager::EvenSize(properties->height);
    }

    if (properties->imageSequence && !properties->overwriteExisting)
    {
        // Numbered pictures of the same names are the user's work: never
        // written over unless asked for. (Checked again under the lock.)
        QString const error = RefuseExistingImages(properties);
        if (!error.isEmpty())
        {
            return error;
        }
    }

    if (QFileInfo::exists(properties->tempDirPath))
    {
        QString const path = properties->tempDirPath;
        properties->tempDirPath.clear(); // not this export's to remove
        return QStringLiteral("Temporary export directory already exists: %1").arg(path);
    }
    if (!FileHelpers::CreateDirectoryAt(properties->tempDirPath))
    {
        return QStringLiteral("Failed to create temporary directory: %1").arg(properties->tempDirPath);
    }
    QString const outputDirPath = QFileInfo(properties->outputFilePath).absolutePath();
    QString error = BeginJournal(properties);
    if (error.isEmpty() && !QFileInfo(outputDirPath).isDir() && !FileHelpers::CreateDirectoryAt(outputDirPath))
    {
        error = QStringLiteral("Failed to create output directory: %1").arg(outputDirPath);
    }
    else if (error.isEmpty() && !QFileInfo(outputDirPath).isWritable())
    {
        error = QStringLiteral("Output directory is not writable: %1").arg(outputDirPath);
    }
    if (error.isEmpty())
    {
        error = LockOutput(properties);
    }
    if (error.isEmpty() && properties->imageSequence && !properties->overwriteExisting)
    {
        // Pictures an export that ended meanwhile delivered count too.
        error = RefuseExistingImages(properties);
    }
    if (!error.isEmpty())
    {
        // Nothing of a refused export stays behind.
        if (properties->outputLock)
        {
            properties->outputLock->Release();
            properties->outputLock.reset();
        }
        properties->journal.reset();
        QFile::remove(ExportJournal::PathFor(properties->tempDirPath, properties->exportName));
        FileHelpers::RemoveDirectoryAt(properties->tempDirPath);
    }
    return error;
}

QString ExportPreparation::RefuseExistingImages(ExportProperties const* properties)
{
    QStringList const existing = ExportOutputFiles::ExistingImageFiles(properties, 1);
    if (existing.isEmpty())
    {
        return QString();
    }
    return QStringLiteral("Output file already exists (enable force overwrite to continue): %1").arg(existing.first());
}

void ExportPreparation::OutputLockTarget(ExportProperties const* properties, QString& folder, QString& name)
{
    // An image sequence is locked by its base name and extension, whatever
    // its padding; a movie or sound file by its name.
    folder = QFileInfo(properties->outputFilePath).absolutePath();
    name = QFileInfo(properties->outputFilePath).fileName();
    if (properties->imageSequence)
    {
        folder = properties->imageDirPath;
        name = QStringLiteral("%1.%2").arg(properties->imageBaseName, properties->imageExtension);
    }
}

QString ExportPreparation::BeginJournal(ExportProperties* properties)
{
    // Written before anything else goes into the temporary folder, and
    // before the lock is taken: whenever this process dies, the next start
    // finds whose folder and lock are left and removes them.
    QString folder;
    QString name;
    OutputLockTarget(properties, folder, name);
    QString const path = ExportJournal::PathFor(properties->tempDirPath, properties->exportName);
    auto journal = std::make_shared<ExportJournal>(path);
    if (!journal->Begin(properties->exportName, ExportTargetLock::LockPath(folder, name)))
    {
        return QStringLiteral("Failed to write export journal: %1").arg(path);
    }
    properties->journal = std::move(journal);
    return QString();
}

QString ExportPreparation::LockOutput(ExportProperties* properties)
{
    QString folder;
    QString name;
    OutputLockTarget(properties, folder, name);
    if (properties->imageSequence)
    {
        if (!QFileInfo(folder).isDir() && !FileHelpers::CreateDirectoryAt(folder))
        {
            return QStringLiteral("Failed to create output directory: %1").arg(QFileInfo(folder).absoluteFilePath());
        }
    }
    QString error;
    QString staleJournalPath;
    ProcessIdentity staleHolder;
    QString const journalPath = ExportJournal::PathFor(properties->tempDirPath, properties->exportName);
    properties->outputLock =
        ExportTargetLock::Acquire(folder, name, journalPath, error, staleJournalPath, &staleHolder);
    // A lock names its journal; only one in this user's temporary folder
    // is followed.
    QString const staleRoot = QFileInfo(QFileInfo(staleJournalPath).absolutePath()).dir().canonicalPath();
    if (properties->outputLock && !staleJournalPath.isEmpty() && !staleRoot.isEmpty() &&
        staleRoot == QDir(ExportManager::TempRootPath()).canonicalPath())
    {
        // The export that held the output was killed: what it left there
        // is undone before this one starts.
        ExportRecovery::RecoverTakenOver(staleJournalPath, staleHolder, journalPath);
    }
    return error;
}

QString ExportPreparation::PostExportCleanup(ExportProperties* properties, QString* summary)
{
    if (summary)
    {
        summary->clear();
    }
    if (!properties)
    {
        return QString();
    }
    auto const removeFile = [](QString const& path) {
        if (!path.isEmpty() && QFileInfo::exists(path))
        {
            QFile::remove(path);
        }
    };
    for (QString const& path : std::as_const(properties->intermediateFiles))
    {
        removeFile(path);
    }
    removeFile(properties->finalAudioPath);
    removeFile(properties->finalVideoPath);
    removeFile(properties->concatListPath);
    bool const undone = properties->failed || properties->cancelled;
    QStringList errors;
    if (undone)
    {
        // A failed or stopped export leaves no partial output; a file that
        // is no longer the one it moved in is another's, and stays.
        for (ExportOutputFile const& output : std::as_const(properties->outputFiles))
        {
            FileIdentity const current = FileIdentity::Of(output.path);
            if (!current.IsValid())
            {
                continue;
            }
            if (current != output.identity)
            {
                errors << QStringLiteral("Not removed, changed since the export wrote it: %1").arg(output.path);
                continue;
            }
            QFile::remove(output.path);
        }
    }
    // What the export replaced goes only once every replacement is in
    // place; otherwise it returns to where it was, unless another file has
    // taken its place meanwhile.
    bool keptInTemp = false;
    qsizetype restored = 0;
    for (ExportReplacedFile const& replaced : std::as_const(properties->replacedFiles))
    {
        QString const& path = replaced.path;
        QString const& kept = replaced.keptPath;
        bool const keptUnchanged = FileIdentity::Of(kept) == replaced.identity;
        if (!undone)
        {
            if (keptUnchanged && !QFile::remove(kept))
            {
                errors << QStringLiteral("Failed to remove replaced file: %1").arg(kept);
            }
        }
        else if (keptUnchanged && ExportOutputFiles::PutBack(kept, path))
        {
            ++restored;
        }
        else
        {
            errors << QStringLiteral("Failed to put back %1 (kept as %2)").arg(path, kept);
            keptInTemp = keptInTemp || kept.startsWith(properties->tempDirPath + QLatin1Char('/'));
        }
    }
    if (summary && !properties->replacedFiles.isEmpty())
    {
        QString const folder = properties->imageDirPath;
        *summary = undone ? QStringLiteral("Existing output files kept: %1 of %2 put back in %3")
                                .arg(restored)
                                .arg(properties->replacedFiles.size())
                                .arg(folder)
                          : QStringLiteral("Existing output files replaced: %1 in %2")
                                .arg(properties->replacedFiles.size())
                                .arg(folder);
    }
    QString const tempDirPath = properties->tempDirPath;
    if (properties->outputLock)
    {
        properties->outputLock->Release();
        properties->outputLock.reset();
    }
    properties->journal.reset();
    if (keptInTemp || tempDirPath.isEmpty() || !QFileInfo::exists(tempDirPath))
    {
        // A file that could not be put back stays where it is kept (the
        // journal beside it tells the next start where).
        return errors.join(QLatin1Char('\n'));
    }
    FileHelpers::RemoveDirectoryAt(tempDirPath);
    // The folder was made for this export alone: whatever ffmpeg left in it goes too.
    if (QFileInfo::exists(tempDirPath) && QFileInfo(tempDirPath).fileName() == properties->exportName)
    {
        QDir(tempDirPath).removeRecursively();
    }
    if (QFileInfo::exists(tempDirPath))
    {
        errors << QStringLiteral("Failed to remove temporary directory: %1").arg(tempDirPath);
    }
    return errors.join(QLatin1Char('\n'));
}
