#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

// The player's file-system knowledge: where user files go, which names count as
// media or projects, the recent lists, how a media path (plain file or image
// sequence pattern with a frame range) expands into files, and how drops are
// screened. Only static members; never instantiated.
class FileHelpers : public QObject
{
    Q_OBJECT

public:
    FileHelpers() = delete;

    // Lower case, without the dot.
    inline static const QStringList VIDEO_FILE_EXTENSIONS = {
        "avi", "f4v", "flv", "m4v", "mkv", "mov", "mp4", "mpeg", "mpeg4", "mpg", "mts", "mxf", "webm", "wmv"};
    inline static const QStringList IMAGE_FILE_EXTENSIONS = {
        "dpx", "exr", "jpeg", "jpg", "png", "sgi", "tga", "tif", "tiff"};
    inline static const QStringList AUDIO_FILE_EXTENSIONS = {"aif", "aiff", "wav"};
    inline static const QStringList LINEAR_COLOR_SPACE_EXTENSIONS = {"exr"};
    // The first is the extension projects are saved with.
    inline static const QStringList PROJECT_FILE_EXTENSIONS = {"zeph", "bmk"};

    static constexpr int MAXIMUM_RECENT_FILES = 10;
    static constexpr int MAXIMUM_RECENT_PROJECTS = 10;
    // An image sequence pattern may expand to at most this many frames.
    static constexpr qint64 MAXIMUM_IMAGE_SEQUENCE_FRAMES = 1000000;
    // How many frames of a pattern may lack a file, beyond the files found.
    static constexpr qint64 IMAGE_SEQUENCE_FRAMES_WITHOUT_FILES = 10000;
    inline static const QString CONFIG_OVERRIDE_PATH_ENV_VAR = QStringLiteral("ZEPH_CONFIG_OVERRIDE_PATH");

    // User configuration.
    static void LoadUserSettings();
    // False when the settings file could not be written (the old one is kept).
    static bool SaveUserSettings();
    static QString GetRootDir();
    static QString GetUserDirPath();
    static QString GetUserConfigDirPath();
    static QString GetUserConfigFilePath();
    static void UpdateRecentFiles();
    static void UpdateRecentProjects();

    // Folders and paths.
    static QString GetUserTempDirPath();
    static QString GetDefaultUserTempDirPath();
    static void SetUserTempDirPath(QString const& path);
    static QString GetExportDirPath();
    static QString GetLogFilePath();
    static bool CreateDirectoryAt(QString const& path);
    static bool RemoveDirectoryAt(QString const& path);
    static QString ProjectPath();
    static QString ProjectDirPath();
    static QString SourceRootDirPath();
    static bool IsSourceRootDirPathValid();
    static QString ResolvedSourceRootDirPath();
    static QString RelativeSourcePath(QString const& path);
    static QString AbsoluteSourcePath(QString const& path);

    // Recent lists, most recent first.
    static void AddRecentFile(QString const& path);
    static void AddRecentProject(QString const& path);
    static void ClearRecentFiles();
    static void ClearRecentProjects();
    static QString MostRecentFilePath();
    static QString MostRecentProjectPath();
    static QString MostRecentFileDirPath();
    static QString MostRecentProjectDirPath();

    // File types.
    static bool IsSupportedMediaFilePath(QString const& path);
    static bool IsSupportedMediaExtension(QString const& extension);
    static bool IsImageSequence(QString const& path);
    static bool IsLinearColorSpace(QString const& path);
    static bool IsSupportedProjectFilePath(QString const& path);
    static bool IsSupportedProjectExtension(QString const& extension);

    // Dialog filters.
    static QString ProjectFileFilterExtensions();
    static QString ProjectFileFilters();
    static QString DefaultProjectFileFilter();
    static QString SaveProjectFileExtension();
    static QString SaveProjectFileFilters();
    static QString DefaultSaveProjectFileFilter();
    static QString VideoFileFilterExtensions();
    static QString ImageFileFilterExtensions();
    static QString AudioFileFilterExtensions();
    static QString MediaFileFilterExtensions();
    static QString MediaFileFilters();
    static QString DefaultMediaFileFilter();

    // Media paths, drops and lists.
    static bool ParseMediaPath(QString const& path, QList<QString>& paths);
    // Whether a media path is an image sequence pattern with frames after its
    // suffix ("shot.####.png 1001-1100"), as ParseMediaPath tells it.
    static bool IsImageSequencePattern(QString const& path);
    static QString BuildImageSequencePath(QString const& path);
    static QList<QString> BuildImageSequencePaths(QList<QString> const& paths);
    static QString BuildImageSequencePathFromHashedPath(QString const& path);
    static QList<QUrl> ValidFileDropUrls(QList<QUrl> urls, bool allowFolder, bool allowProject);
    // The paths an import takes, in its order: a path ending in '@' is taken
    // as it is without the '@', any other must be a supported media file. With
    // grouping, the frames of an image sequence become the sequence and the
    // paths are sorted (case-insensitive); reverse then turns the order round
    // (paths inserted one by one at the same index).
    static QList<QString> ImportablePaths(QList<QString> const& paths, bool groupImageSequences, bool reverse);
    static QList<QString> UrlsToLocalFiles(QList<QUrl> const& urls);
    static QList<QString> FilePathsFromTextFile(QString const& path);
    static void ShowInFolder(QString const& path);
};
