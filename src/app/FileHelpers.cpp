#include "app/FileHelpers.h"

#include "app/Logger.h"
#include "app/PlatformIntegration.h"
#include "app/Settings.h"
#include "app/UserFileGuard.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextStream>

#include <algorithm>

namespace
{
bool HasSuffixIn(QString const& path, QStringList const& extensions)
{
    return extensions.contains(QFileInfo(path).suffix(), Qt::CaseInsensitive);
}

QStringList FilterPatterns(QStringList const& extensions)
{
    QStringList patterns;
    for (QString const& extension : extensions)
        patterns.append(QString("*.%1").arg(extension));
    return patterns;
}

QString SortedFilterPatterns(QStringList const& extensions)
{
    QStringList patterns = FilterPatterns(extensions);
    patterns.sort();
    return patterns.join(' ');
}

void TrimRecentList(QStringList& list, int& count, int maximum)
{
    count = qBound(0, count, maximum);
    while (list.size() > count)
        list.removeLast();
}

void AddToRecentList(QStringList& list, QString const& path, void (*trim)())
{
    if (path.isEmpty())
        return;

    QString const absolutePath = QFileInfo(path).absoluteFilePath();
    list.removeOne(absolutePath);
    list.prepend(absolutePath);
    trim();
    FileHelpers::SaveUserSettings();
}

QString DirPathOrRoot(QString const& filePath)
{
    QFileInfo const info(filePath);
    return !filePath.isEmpty() && info.exists() ? info.absolutePath() : FileHelpers::GetRootDir();
}

// One item of a frame range: "n" or "first-last" (empty parts dropped, so no
// negative frames). Only the list form refuses more than two numbers.
enum class RangeParse
{
    Ok,
    WrongCount,
    NotANumber
};

RangeParse ParseFrameRange(QString const& item, bool extraNumbersAllowed, qint64& first, qint64& last)
{
    QStringList const numbers = item.split('-', Qt::SkipEmptyParts);
    if (numbers.isEmpty() || (!extraNumbersAllowed && numbers.size() > 2))
        return RangeParse::WrongCount;

    bool firstOk = false;
    bool lastOk = true;
    first = numbers[0].toInt(&firstOk, 10);
    last = numbers.size() > 1 ? numbers[1].toInt(&lastOk, 10) : first;
    return firstOk && lastOk ? RangeParse::Ok : RangeParse::NotANumber;
}

qint64 FrameCount(qint64 first, qint64 last)
{
    return first > last ? 0 : last - first + 1;
}
} // namespace

// ---- User configuration ----

void FileHelpers::LoadUserSettings()
{
    QString const overridePath = QProcessEnvironment::systemEnvironment().value(CONFIG_OVERRIDE_PATH_ENV_VAR);
    Settings::ReadUserConfig(GetUserConfigFilePath(), overridePath);
    UpdateRecentFiles();
    UpdateRecentProjects();
}

bool FileHelpers::SaveUserSettings()
{
    return Settings::WriteUserConfig(GetUserConfigFilePath());
}

QString FileHelpers::GetRootDir()
{
    QStringList const documents = QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    return QDir(documents.isEmpty() ? QDir::homePath() : documents.first()).absolutePath();
}

QString FileHelpers::GetUserDirPath()
{
    return QString("%1/%2").arg(GetRootDir(), Settings::userDirName);
}

QString FileHelpers::GetUserConfigDirPath()
{
    QString const userDirPath = GetUserDirPath();
    return userDirPath.isEmpty() ? QString() : QString("%1/config").arg(userDirPath);
}

QString FileHelpers::GetUserConfigFilePath()
{
    QString const configDirPath = GetUserConfigDirPath();
    return configDirPath.isEmpty() ? QString() : QString("%1/%2.ini").arg(configDirPath, Settings::userDirName);
}

void FileHelpers::UpdateRecentFiles()
{
    TrimRecentList(Settings::recentFiles, Settings::numRecentFiles, MAXIMUM_RECENT_FILES);
}

void FileHelpers::UpdateRecentProjects()
{
    TrimRecentList(Settings::recentProjects, Settings::numRecentProjects, MAXIMUM_RECENT_PROJECTS);
}

// ---- Folders and paths ----

QString FileHelpers::GetUserTempDirPath()
{
    return Settings::tempDirPath.isEmpty() ? GetDefaultUserTempDirPath() : Settings::tempDirPath;
}

QString FileHelpers::GetDefaultUserTempDirPath()
{
    QString const userDirPath = GetUserDirPath();
    return userDirPath.isEmpty() ? QString() : QString("%1/temp").arg(userDirPath);
}

void FileHelpers::SetUserTempDirPath(QString const& path)
{
    Settings::tempDirPath = path;
}

QString FileHelpers::GetExportDirPath()
{
    return Settings::exportDirPath.isEmpty() ? GetUserDirPath() : Settings::exportDirPath;
}

QString FileHelpers::GetLogFilePath()
{
    QString const tempDirPath = GetUserTempDirPath();
    return tempDirPath.isEmpty() ? QString() : QString("%1/%2.log").arg(tempDirPath, Settings::applicationName);
}

bool FileHelpers::CreateDirectoryAt(QString const& path)
{
    return QDir().mkpath(path);
}

bool FileHelpers::RemoveDirectoryAt(QString const& path)
{
    return QDir().rmdir(path);
}

QString FileHelpers::ProjectPath()
{
    return Settings::projectPath;
}

QString FileHelpers::ProjectDirPath()
{
    return Settings::projectPath.isEmpty() ? QString() : QFileInfo(Settings::projectPath).absolutePath();
}

QString FileHelpers::SourceRootDirPath()
{
    return Settings::sourceRootDirPath;
}

bool FileHelpers::IsSourceRootDirPathValid()
{
    return Settings::sourceRootDirPath.isEmpty() || QFileInfo(Settings::sourceRootDirPath).isDir();
}

QString FileHelpers::ResolvedSourceRootDirPath()
{
    QString const& root = Settings::sourceRootDirPath;
    return !root.isEmpty() && QFileInfo(root).isDir() ? root : ProjectDirPath();
}

QString FileHelpers::RelativeSourcePath(QString const& path)
{
    QString const root = ResolvedSourceRootDirPath();
    if (path.isEmpty() || root.isEmpty() || !QFileInfo::exists(root))
        return QString();

    QString const relativePath = QDir(root).relativeFilePath(path);
    return QDir::isRelativePath(relativePath) ? relativePath : QString();
}

QString FileHelpers::AbsoluteSourcePath(QString const& path)
{
    QString const root = ResolvedSourceRootDirPath();
    if (path.isEmpty() || root.isEmpty() || QDir::isAbsolutePath(path))
        return QString();

    return QFileInfo(root + "/" + path).absoluteFilePath();
}

// ---- Recent lists ----

void FileHelpers::AddRecentFile(QString const& path)
{
    AddToRecentList(Settings::recentFiles, path, &UpdateRecentFiles);
}

void FileHelpers::AddRecentProject(QString const& path)
{
    AddToRecentList(Settings::recentProjects, path, &UpdateRecentProjects);
}

void FileHelpers::ClearRecentFiles()
{
    Settings::recentFiles.clear();
    SaveUserSettings();
}

void FileHelpers::ClearRecentProjects()
{
    Settings::recentProjects.clear();
    SaveUserSettings();
}

QString FileHelpers::MostRecentFilePath()
{
    return Settings::recentFiles.value(0);
}

QString FileHelpers::MostRecentProjectPath()
{
    return Settings::recentProjects.value(0);
}

QString FileHelpers::MostRecentFileDirPath()
{
    QList<QString> paths;
    if (Settings::recentFiles.isEmpty() || !ParseMediaPath(Settings::recentFiles.first(), paths) || paths.isEmpty())
        return GetRootDir();
    return DirPathOrRoot(paths.first());
}

QString FileHelpers::MostRecentProjectDirPath()
{
    return DirPathOrRoot(MostRecentProjectPath());
}

// ---- File types ----

bool FileHelpers::IsSupportedMediaFilePath(QString const& path)
{
    return HasSuffixIn(path, VIDEO_FILE_EXTENSIONS);
}

bool FileHelpers::IsSupportedMediaExtension(QString const& extension)
{
    return VIDEO_FILE_EXTENSIONS.contains(extension, Qt::CaseInsensitive);
}

bool FileHelpers::IsImageSequence(QString const& path)
{
    return !path.isEmpty() && HasSuffixIn(path, IMAGE_FILE_EXTENSIONS);
}

bool FileHelpers::IsLinearColorSpace(QString const& path)
{
    return !path.isEmpty() && HasSuffixIn(path, LINEAR_COLOR_SPACE_EXTENSIONS);
}

bool FileHelpers::IsSupportedProjectFilePath(QString const& path)
{
    return HasSuffixIn(path, PROJECT_FILE_EXTENSIONS);
}

bool FileHelpers::IsSupportedProjectExtension(QString const& extension)
{
    return PROJECT_FILE_EXTENSIONS.contains(extension, Qt::CaseInsensitive);
}

// ---- Dialog filters ----

QString FileHelpers::ProjectFileFilterExtensions()
{
    return FilterPatterns(PROJECT_FILE_EXTENSIONS).join(' ');
}

QString FileHelpers::ProjectFileFilters()
{
    return QString("Project Files (%1);;All Files (*.*)").arg(ProjectFileFilterExtensions());
}

QString FileHelpers::DefaultProjectFileFilter()
{
    return QString("Project Files (%1)").arg(ProjectFileFilterExtensions());
}

QString FileHelpers::SaveProjectFileExtension()
{
    return PROJECT_FILE_EXTENSIONS.first();
}

QString FileHelpers::SaveProjectFileFilters()
{
    return QString("Project Files (*.%1);;All Files (*.*)").arg(SaveProjectFileExtension());
}

QString FileHelpers::DefaultSaveProjectFileFilter()
{
    return QString("Project Files (*.%1)").arg(SaveProjectFileExtension());
}

QString FileHelpers::VideoFileFilterExtensions()
{
    return SortedFilterPatterns(VIDEO_FILE_EXTENSIONS);
}

QString FileHelpers::ImageFileFilterExtensions()
{
    return SortedFilterPatterns(IMAGE_FILE_EXTENSIONS);
}

QString FileHelpers::AudioFileFilterExtensions()
{
    return SortedFilterPatterns(AUDIO_FILE_EXTENSIONS);
}

QString FileHelpers::MediaFileFilterExtensions()
{
    return SortedFilterPatterns(VIDEO_FILE_EXTENSIONS + IMAGE_FILE_EXTENSIONS);
}

QString FileHelpers::MediaFileFilters()
{
    return QString("Video Files (%1);;All Files (*.*)").arg(VideoFileFilterExtensions());
}

QString FileHelpers::DefaultMediaFileFilter()
{
    return QString("Video Files (%1)").arg(VideoFileFilterExtensions());
}

// ---- Media paths, drops and lists ----

bool FileHelpers::IsImageSequencePattern(QString const& path)
{
    // The text after the last dot holds a blank: frames follow the suffix.
    QStringList const parts = path.trimmed().split('.', Qt::SkipEmptyParts);
    static QRegularExpression const whiteSpace("\\s");
    return parts.size() > 1 && parts.last().contains(whiteSpace);
}

bool FileHelpers::ParseMediaPath(QString const& path, QList<QString>& paths)
{
    Logger* const logger = Logger::GetInstance();
    QString const trimmed = path.trimmed();

    // A name made only of dots has no parts at all: as invalid as one without a dot.
    if (trimmed.split('.', Qt::SkipEmptyParts).size() <= 1)
    {
        logger->Error(QString("Failed to parse source path. Invalid file naming: %1").arg(path));
        return false;
    }
    if (!IsImageSequencePattern(trimmed))
    {
        paths.append(trimmed);
        return true;
    }

    // An image sequence pattern: prefix, a run of "#" (the padding), the suffix,
    // then a frame range or a parenthesised list of ranges and frames.
    qsizetype const dot = trimmed.lastIndexOf('.');
    if (dot < 2)
    {
        logger->Error(QString("Failed to parse source path (1): %1").arg(path));
        return false;
    }

    qsizetype hashStart = dot;
    while (hashStart > 0 && trimmed[hashStart - 1] == '#')
        --hashStart;
    int const padding = int(dot - hashStart);
    QString const prefix = trimmed.left(hashStart);
    // Every path is padded to this width: a run of a thousand "#" would make
    // each of a million paths kilobytes long.
    if (padding > Settings::MAXIMUM_IMAGE_SEQ_PADDING)
    {
        logger->Error(QString("Failed to parse source path. Frame padding wider than %1: %2")
                          .arg(Settings::MAXIMUM_IMAGE_SEQ_PADDING)
                          .arg(path));
        return false;
    }

    static QRegularExpression const whiteSpace("\\s");
    QStringList const tokens = trimmed.mid(dot).split(whiteSpace, Qt::SkipEmptyParts);
    if (tokens.size() < 2)
    {
        logger->Error(QString("Failed to parse source path (2): %1").arg(path));
        return false;
    }
    QString const& suffix = tokens.first();

    QList<QPair<qint64, qint64>> ranges;
    qint64 frameCount = 0;
    if (!trimmed.endsWith(')'))
    {
        qint64 first = 0;
        qint64 last = 0;
        if (ParseFrameRange(tokens[1], true, first, last) != RangeParse::Ok)
        {
            logger->Error(QString("Failed to parse source path (6): %1").arg(path));
            return false;
        }
        ranges.append({first, last});
        frameCount = FrameCount(first, last);
    }
    else
    {
        static QRegularExpression const parentheses("[\\(\\)]");
        QStringList const sections = trimmed.split(parentheses, Qt::SkipEmptyParts);
        if (sections.size() != 2)
        {
            logger->Error(QString("Failed to parse source path (3): %1").arg(path));
            return false;
        }
        for (QString const& item : sections[1].split(whiteSpace, Qt::SkipEmptyParts))
        {
            qint64 first = 0;
            qint64 last = 0;
            switch (ParseFrameRange(item, false, first, last))
            {
            case RangeParse::WrongCount:
                logger->Error(QString("Failed to parse source path (4): %1").arg(path));
                return false;
            case RangeParse::NotANumber:
                logger->Error(QString("Failed to parse source path (5): %1").arg(path));
                return false;
            case RangeParse::Ok:
                break;
            }
            ranges.append({first, last});
            frameCount += FrameCount(first, last);
        }
    }

    // A typing slip such as 1-100000000 must not try to build millions of paths.
    if (frameCount > MAXIMUM_IMAGE_SEQUENCE_FRAMES)
    {
        logger->Error(QString("Failed to parse source path. Too many frames (%1, at most %2): %3")
                          .arg(frameCount)
                          .arg(MAXIMUM_IMAGE_SEQUENCE_FRAMES)
                          .arg(path));
        return false;
    }

    // Frames without files are allowed (a render still running), but only so
    // many beyond the files there are: the paths held follow the real files.
    if (frameCount > IMAGE_SEQUENCE_FRAMES_WITHOUT_FILES)
    {
        QFileInfo const pattern(prefix);
        qint64 const files = QDir(pattern.path())
                                 .entryList({pattern.fileName() + QLatin1Char('*') + suffix}, QDir::Files)
                                 .size();
        if (frameCount > files + IMAGE_SEQUENCE_FRAMES_WITHOUT_FILES)
        {
            logger->Error(QString("Failed to parse source path. Too many frames (%1) for the %2 files found: %3")
                              .arg(frameCount)
                              .arg(files)
                              .arg(path));
            return false;
        }
    }

    paths.reserve(paths.size() + frameCount);
    for (auto const& [first, last] : ranges)
    {
        for (qint64 frame = first; frame <= last; ++frame)
            paths.append(prefix + QString::number(frame).rightJustified(padding, '0') + suffix);
    }
    return true;
}

QString FileHelpers::BuildImageSequencePath(QString const& path)
{
    return path;
}

QList<QString> FileHelpers::BuildImageSequencePaths(QList<QString> const& paths)
{
    return paths;
}

QString FileHelpers::BuildImageSequencePathFromHashedPath(QString const& path)
{
    QFileInfo const info(path);
    QString const suffix = info.suffix();
    if (info.exists() || !path.endsWith("#." + suffix))
        return BuildImageSequencePath(path);

    QString baseName = info.completeBaseName();
    while (baseName.endsWith('#'))
        baseName.chop(1);

    QFileInfoList const candidates =
        QDir(info.absolutePath()).entryInfoList({baseName + "*"}, QDir::Files, QDir::Name);
    for (QFileInfo const& candidate : candidates)
    {
        if (candidate.suffix().endsWith(suffix))
            return candidate.absoluteFilePath();
    }
    return path;
}

QList<QString> FileHelpers::ImportablePaths(QList<QString> const& paths, bool groupImageSequences, bool reverse)
{
    QList<QString> kept;
    for (QString const& path : paths)
    {
        if (path.endsWith(QLatin1Char('@')))
        {
            kept.append(path.chopped(1));
        }
        else if (IsSupportedMediaFilePath(path))
        {
            kept.append(path);
        }
    }
    if (groupImageSequences)
    {
        kept = BuildImageSequencePaths(kept);
        kept.sort(Qt::CaseInsensitive);
        if (reverse)
        {
            std::reverse(kept.begin(), kept.end());
        }
    }
    return kept;
}

QList<QUrl> FileHelpers::ValidFileDropUrls(QList<QUrl> urls, bool allowFolder, bool allowProject)
{
    QList<QUrl> valid;
    if (urls.size() == 1 && QFileInfo(urls.first().toLocalFile()).isDir())
    {
        if (!allowFolder)
            return valid;

        QDir const folder(urls.first().toLocalFile());
        QString const folderPath = folder.absolutePath();
        for (QString const& name : folder.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase))
        {
            QString const filePath = QString("%1/%2").arg(folderPath, name);
            if (IsSupportedMediaFilePath(filePath))
                valid.append(QUrl::fromLocalFile(filePath));
        }
        return valid;
    }

    for (QUrl const& url : urls)
    {
        QFileInfo const info(url.toLocalFile());
        if (!info.isFile())
            continue;

        if (IsSupportedMediaFilePath(info.filePath()))
        {
            valid.append(url);
        }
        else if (allowProject && IsSupportedProjectFilePath(info.filePath()))
        {
            return {url};
        }
    }
    return valid;
}

QList<QString> FileHelpers::UrlsToLocalFiles(QList<QUrl> const& urls)
{
    QList<QString> files;
    for (QUrl const& url : urls)
    {
        if (url.isLocalFile())
            files.append(url.toLocalFile());
    }
    return files;
}

QList<QString> FileHelpers::FilePathsFromTextFile(QString const& path)
{
    QList<QString> paths;
    // A list of paths is read like a project file: a FIFO or a device named
    // .txt would block the start-up for good.
    QByteArray bytes;
    QString reason;
    if (!UserFileGuard::ReadAll(path, UserFileGuard::MAXIMUM_PROJECT_FILE_SIZE, bytes, reason))
    {
        Logger::GetInstance()->Warning(QStringLiteral("Failed to read file list: %1 (%2)").arg(path, reason));
        return paths;
    }
    for (QString line : QString::fromUtf8(bytes).split(QLatin1Char('\n')))
    {
        line = line.trimmed();
        if (!line.isEmpty())
            paths.append(line);
    }
    return paths;
}

void FileHelpers::ShowInFolder(QString const& path)
{
    QFileInfo const info(path);
    if (!info.exists())
        return;

    // The path is handed over as data only, never spliced into a script or command line.
    QString const folderPath = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    PlatformIntegration::ShowInFileManager(info.absoluteFilePath(), [folderPath]
    {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folderPath));
    });
}
