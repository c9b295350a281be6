#pragma once

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Every tunable value of the player, process-wide. Subsystems read and write the
// variables by name; nothing is notified of a change. Only the variables of the
// four INI groups (main, menu, preferences, timeControl) are stored per user.
// Worker threads may read but never write them.
namespace Settings
{
    // Functions (main thread only).
    void ReadUserConfig(QString const& filePath, QString const& overrideFilePath);
    void ReadUserConfigOverride(QString const& overrideFilePath);
    // The file is read before the logger has any output: what went wrong is
    // kept and logged (as warnings) by this call, once the outputs exist.
    void ReportReadProblems();
    void ValidateUserSettings();
    // Writes through a temporary file that replaces the old one only once it is
    // complete. Returns false (and logs) when the file could not be written; the
    // old file then stays as it was. A file the read refused (a FIFO, a dangling
    // link, one too large) is never written over in that run.
    bool WriteUserConfig(QString const& filePath);
    // Fonts need the font database, which only exists once the QGuiApplication
    // does: call this right after the application object is created.
    void InitFonts();

    // Limits and tables.
    inline constexpr double MINIMUM_IMAGE_SEQUENCE_FRAME_RATE = 1.0;
    inline constexpr double MAXIMUM_IMAGE_SEQUENCE_FRAME_RATE = 120.0;
    inline constexpr int MAXIMUM_TIME_CONTROL_FRAME_OFFSET = 999999;
    inline constexpr int MINIMUM_CACHE_SIZE = 512;
    inline constexpr int MAXIMUM_CACHE_SIZE = 32768;
    inline constexpr int MINIMUM_TIMELINE_CACHE_SIZE = 256;
    inline constexpr int MAXIMUM_VIEWPORT_ROWS = 4;
    inline constexpr int MAXIMUM_VIEWPORT_COLUMNS = 4;
    inline constexpr int MAXIMUM_ACTIVE_TIMELINE_VIEWERS = 1;
    inline constexpr int MINIMUM_VIEWER_SCRUB_PIXELS_PER_FRAME = 1;
    inline constexpr int MAXIMUM_VIEWER_SCRUB_PIXELS_PER_FRAME = 50;
    inline constexpr float MINIMUM_VIEWER_SCRUB_MULTIPLIER = 0.1f;
    inline constexpr float MAXIMUM_VIEWER_SCRUB_MULTIPLIER = 10.0f;
    inline constexpr float ZOOM_FACTOR_MINIMUM = 1.0f;
    inline constexpr float ZOOM_FACTOR_MAXIMUM = 4.0f;
    inline constexpr int MINIMUM_EXPORT_RESOLUTION = 120;
    inline constexpr int MAXIMUM_EXPORT_RESOLUTION = 4096;
    inline constexpr int MAXIMUM_IMAGE_SEQ_PADDING = 6;
    inline constexpr int MAYA_SYNC_OFFSET_MINIMUM = -999999;
    inline constexpr int MAYA_SYNC_OFFSET_MAXIMUM = 999999;
    inline constexpr float MAYA_SYNC_MULTIPLIER_MINIMUM = 0.1f;
    inline constexpr float MAYA_SYNC_MULTIPLIER_MAXIMUM = 10.0f;
    inline constexpr int VIEWER_SCRUB_MAX_PIXELS_PER_FRAME = 200;
    inline const QStringList EXPORT_FILE_FORMATS = {"mp4", "mov", "png", "jpg", "wav"};

    // Defaults that validation falls back to.
    inline constexpr int DEFAULT_CLIENT_API_PORT = 17176;
    inline constexpr quint16 DEFAULT_MAYA_COMMAND_PORT = 20240;
    inline constexpr quint16 MAYA_OFFSET_PORT_DISTANCE = 6;
    inline constexpr float DEFAULT_MAYA_SYNC_MULTIPLIER = 1.0f;
    inline constexpr double DEFAULT_IMAGE_SEQUENCE_FRAME_RATE = 24.0;
    inline constexpr float DEFAULT_VIEWER_SCRUB_CTRL_MULTIPLIER = 2.0f;
    inline constexpr float DEFAULT_VIEWER_SCRUB_SHIFT_MULTIPLIER = 0.5f;
    inline constexpr float DEFAULT_ANNOTATION_TEXT_BOX_WIDTH_SCALER = 0.3f;
    inline constexpr float DEFAULT_ANNOTATION_TEXT_BOX_HEIGHT_SCALER = 0.1f;
    inline constexpr float DEFAULT_ANNOTATION_TOOL_INCREMENT_SIZE = 1.0f;

    // Identity.
    inline const QString applicationName = QStringLiteral("TessarinORVEL");
    inline const QString applicationTitle = QStringLiteral("Tessarin ORVEL");
    inline const QString applicationVersion = QStringLiteral("1.0.6");
    inline const QString userDirName = QStringLiteral("tessarin_orvel");
    inline const QString documentationUrl = QStringLiteral("https://docs.tessarin-orvel.org/");
    inline const QString QT_RUNTIME_VERSION = QString::fromLatin1(qVersion());
    inline const QString APPLICATION_FLAG_NEW_INSTANCE = QStringLiteral("--new");
    inline const QString APPLICATION_FLAG_NEW_INSTANCE_SHORT = QStringLiteral("-n");
    inline const QString mayaToTessarinScriptNodeName = QStringLiteral("MayaToTessarinORVELScriptNode");

    // Fonts: default fonts until InitFonts() runs.
    inline QFont generalFont;
    inline QFont fixedFont;
    inline QFont timeControlFont;

    // ---- Persisted: group "main" ----
    inline QByteArray windowGeometry;
    inline QByteArray consoleWindowGeometry;
    inline int consoleShowOnType = -1;
    inline bool waitOnStart = false;

    // ---- Persisted: group "menu" ----
    inline QStringList recentFiles;
    inline QStringList recentProjects;
    inline QString lastImgCaptureDirPath;
    inline bool alwaysOnTopEnabled = false;
    inline int loopState = 1;
    inline bool loopOnStepScrub = true;
    inline bool loopStepScrubToRange = true;
    inline bool lockStepScrubToRange = true;
    inline bool autoPlayEnabled = false;
    inline bool audioScrubEnabled = true;
    inline int volume = 100;
    inline bool muted = false;
    inline bool globalTimeControlVisible = true;
    inline bool rangeTimeControlVisible = true;
    inline bool playbackControlsVisible = true;
    inline bool menuBarVisible = true;

    // ---- Persisted: group "preferences" ----
    inline QString tempDirPath; // empty: the user folder's "temp"
    inline int cacheSize = 512; // MB
    inline int numRecentFiles = 5;
    inline int numRecentProjects = 5;
    inline bool openMediaInNewPlayers = false;
    inline bool resizeToFit = false;
    inline bool pausePlaybackOnSeek = false;
    inline bool pausePlaybackOnScrub = false;
    inline bool endlessMouseScrub = true;
    inline bool panZoomMouseControls = true;
    inline bool playbackControlsSeekRangeStartEnd = true;
    inline bool displayFrameNumberInTitleBar = true;
    inline bool audioOnBackwardsPlayback = false;
    inline bool hideVolumeControl = false;
    inline int clientApiPort = DEFAULT_CLIENT_API_PORT;
    inline bool clientApiPortEnabled = true;
    inline quint16 mayaCommandPort = DEFAULT_MAYA_COMMAND_PORT;
    inline int mayaSyncTimeout = 1000; // ms
    inline QByteArray mayaToolsGeometry;
    inline int mayaSyncOffset = 0;
    inline bool mayaSyncFromRangeStart = false;
    inline float mayaSyncMultiplier = DEFAULT_MAYA_SYNC_MULTIPLIER;
    inline bool hardwareRenderingEnabled = true;
    inline bool vSyncEnabled = true;
    inline bool useSurfaceDefaults = true;
    inline int surfaceBufferCountOverride = 2;
    inline bool viewerRefreshRateFpsOverride = false;
    inline bool ignoreScalingEnvVars = true;
    inline int scrubFrameInterval = 20;
    inline int scrubFrameIntervalShift = 50;
    inline int scrubFrameIntervalAlt = 5;
    inline int audioOnScrubType = 0;

    // ---- Persisted: group "timeControl" ----
    inline int globalTimeControlDisplayFormat = 0;
    inline bool globalTimeControlPositionTop = false;
    inline bool globalTimeControlFrameBookmarksVisible = true;
    inline bool globalTimeControlRangeBookmarksVisible = true;
    inline bool globalTimeControlCacheVisible = false;
    inline int rangeTimeControlDisplayFormat = 0;
    inline bool rangeTimeControlPositionTop = true;
    inline bool rangeTimeControlFrameBookmarksVisible = true;
    inline bool rangeTimeControlCacheVisible = false;

    // ---- Compiled in: window and panels ----
    inline bool sideBarVisible = true;
    inline bool sideBarLeft = true;
    inline bool sideBarProjectExpanded = true;
    inline bool sideBarTimelineExpanded = true;
    inline bool viewerControlsVisible = true;
    inline bool wipeSnapEnabled = true;
    inline bool wipeSnapGuidesEnabled = true;
    inline bool activateWindowOnFileDrop = true;
    inline bool hideAnnotationToolbarOnLaunch = true;
    inline bool highlightCurrentSourceInTimelinePanel = true;
    inline bool menuWaitBetweenMousePressesEnabled = true;
    inline bool annotationToolsVisible = false;
    inline QByteArray windowState;
    inline QByteArray sideBarViewState;
    inline QStringList sideBarOrder;
    inline int confirmOnClose = 1;
    inline int multiFrameStepSize = 10;
    inline int menuWaitBetweenMousePresses = 100; // ms

    // ---- Compiled in: scrubbing and speed ----
    inline int viewerScrubPixelsPerFrame = 10;
    inline float viewerScrubCtrlMultiplier = DEFAULT_VIEWER_SCRUB_CTRL_MULTIPLIER;
    inline float viewerScrubShiftMultiplier = DEFAULT_VIEWER_SCRUB_SHIFT_MULTIPLIER;
    inline float playbackSpeedMinimum = 0.1f;
    inline float playbackSpeedMaximum = 4.0f;
    inline float playbackSpeedIncrementSize = 0.25f;

    // ---- Compiled in: project defaults ----
    inline double defaultImageSequenceFrameRate = DEFAULT_IMAGE_SEQUENCE_FRAME_RATE;
    inline double imageSequenceFrameRate = DEFAULT_IMAGE_SEQUENCE_FRAME_RATE;
    inline int defaultTimeControlFrameOffset = 1;
    inline int timeControlFrameOffset = 1;
    inline QString defaultSourceRootDirPath;
    inline bool addDefaultTimeline = true;
    inline bool activateDefaultTimeline = true;
    inline bool restorePanZoomOnProjectLoad = true;
    inline bool restoreHoldAnnotationsOnProjectLoad = true;
    inline bool panZoomByTimeline = true;
    inline bool holdAnnotationsByTimeline = true;
    inline bool projectUndoEnabled = true;
    inline bool addAudioOnlySourcesToDefaultTimeline = false;
    inline int projectUndoLimit = 0;
    inline int annotationUndoLimit = 0;
    inline const QString projectFolderName = QStringLiteral("PROJECT");
    inline const QString timelinesFolderName = QStringLiteral("TIMELINES");
    inline const QString sourcesFolderName = QStringLiteral("SOURCES");

    // ---- Compiled in: duplicate source ----
    inline bool dupSrcPlaybackTime = true;
    inline bool dupSrcInOut = true;
    inline bool dupSrcFrameBookmarks = true;
    inline bool dupSrcRangeBookmarks = true;
    inline bool dupSrcAnnotations = true;
    inline bool dupSrcAudioDelay = true;

    // ---- Compiled in: audio ----
    inline int audioOutputChannelCount = 2;
    inline int audioOutputSampleRate = 48000;

    // ---- Compiled in: annotations ----
    inline int annotationVisibility = 1;
    inline int activeAnnotationTool = 0;
    inline float annotationToolSize = 1.0f;
    inline float annotationToolIncrementSize = DEFAULT_ANNOTATION_TOOL_INCREMENT_SIZE;
    inline float annotationToolOpacity = 1.0f;
    inline QColor annotationToolColor = QColor(255, 255, 255);
    inline float pencilSize = 2.0f;
    inline float laserPointerSize = 2.0f;
    inline float eraserSize = 2.0f;
    inline float textSize = 2.0f;
    inline float arrowSize = 2.0f;
    inline float ellipseSize = 2.0f;
    inline float rectangleSize = 2.0f;
    inline float pencilOpacity = 1.0f;
    inline float laserPointerOpacity = 1.0f;
    inline float eraserOpacity = 1.0f;
    inline float textOpacity = 1.0f;
    inline float arrowOpacity = 1.0f;
    inline float ellipseOpacity = 1.0f;
    inline float rectangleOpacity = 1.0f;
    inline QColor annotationBackgroundColor = QColor(255, 255, 255, 0);
    inline bool annotationBackgroundFillsViewport = false;
    inline bool showAnnotationTextBox = false;
    inline bool annotationDrawArrowTipToBase = false;
    inline bool byAnnotationGhosting = false;
    inline float annotationTextBoxWidthScaler = DEFAULT_ANNOTATION_TEXT_BOX_WIDTH_SCALER;
    inline float annotationTextBoxHeightScaler = DEFAULT_ANNOTATION_TEXT_BOX_HEIGHT_SCALER;
    inline int annotationInputWorkerSleepDuration = 1; // ms
    inline int numGhostedFramesPrev = 5;
    inline int numGhostedFramesNext = 5;
    inline QColor ghostedFramesPrevTintColor = QColor(255, 0, 0);
    inline QColor ghostedFramesNextTintColor = QColor(0, 255, 0);
    inline float ghostedFramesTintFactor = 0.5f;
    inline bool hideGhostedFramesOnPlayback = true;
    inline QStringList annotationColorPresets; // filled when the user file is read

    // ---- Compiled in: snapshots ----
    inline int snapshotFormat = 0; // 0 PNG, 1 JPG
    inline QString snapshotFileType = QStringLiteral("png");
    inline qint64 snapshotUpdateTimeout = 1000; // ms a capture waits for a frame while decoding stands still

    // ---- Compiled in: export ----
    inline int exportGlobalWidth = 960;
    inline int exportGlobalHeight = 540;
    inline int h264Quality = 1;
    inline int h264Preset = 3;
    inline int exportImagePadding = 4;
    inline int exportImageNumberingType = 0;
    inline QString exportFileFormat = QStringLiteral("mp4"); // first of EXPORT_FILE_FORMATS
    inline QString exportDirPath;
    inline QString ffmpegExePath;
    inline bool ffmpegPathIsEnvVar = false;
    inline bool exportForceOverwrite = false;
    inline bool exportExcludeAnnotations = false;
    inline bool exportViewer = false;
    inline bool exportIgnoreRange = false;
    inline bool exportExcludeAudio = false;
    inline bool exportUseFrameNumbering = false;
    inline bool hideViewerOnExport = false;

    // ---- Compiled in: Maya ----
    inline int mayaSyncPausedDuration = 1000; // ms
    inline quint16 mayaOffsetPort = quint16(DEFAULT_MAYA_COMMAND_PORT + MAYA_OFFSET_PORT_DISTANCE);

    // ---- Compiled in: decoding ----
    inline int videoDecoderFrameDecodingThreadCount = 1;
    inline int videoDecoderThreadCount = 0;
    inline int imageSequenceThreadCount = 4;
    inline int imageSequenceDecoderThreadCount = 1;
    inline int numLeadingVideoFramesKeptOnSeek = 24;
    inline bool decodeExtraStreamInfoOnParse = true;
    inline bool seekAudioByVideoStream = true;
    inline bool hardwareVideoDecodingEnabled = false;
    inline bool videoDecoderForceRgbOutput = false;
    inline bool disableAudioDecoding = false;
    inline bool deleteCacheOnDecodeTaskEnd = false;
    inline bool forceNativeSourceFrameRate = false;

    // ---- Run-time state, set by the subsystems that own it ----
    inline QString projectPath;
    inline QString sourceRootDirPath;
    inline QString rendererInfo;
    inline QString exportErrorMsg;
    inline bool exportInProgress = false;
    inline int currentViewerLayout = 0; // a ViewerLayoutType
    inline bool hideVolumeControlCurrentSession = false;

    // The rendering mode of this run. hardwareRenderingEnabled is only what the
    // user stored (the preferences change it for the next start); the viewer
    // kind, every renderer branch and the decoders' pixel format read this copy,
    // taken once at start-up. Until it is latched it follows the stored value.
    void LatchHardwareRendering();
    bool HardwareRenderingInUse();
}
