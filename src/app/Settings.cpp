#include "app/Settings.h"

#include "app/Logger.h"
#include "app/PrivateIniCopy.h"
#include "app/UserFileGuard.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>
#include <QSet>
#include <QSettings>

#include <atomic>
#include <cmath>
#include <type_traits>

namespace Settings
{
namespace
{
constexpr int MAXIMUM_SCRUB_FRAME_INTERVAL = 200;

// What went wrong reading the file, until ReportReadProblems logs it. Main
// thread only.
QStringList readProblems;

// The settings files refused at the read, and whether the skipped write was
// logged. Never written over: the user's file would be lost to defaults. Main
// thread only.
QHash<QString, bool> refusedFiles;

// The settings files read in memory, as no folder could take a private copy:
// the run's settings are not written back over them (the reason was logged
// with the read). Main thread only.
QSet<QString> readOnlyFiles;

// Calls visit(key, variable) for every stored variable, group by group, in file
// order. The key is always the variable's own name, so reading and writing share
// the one list.
#define TESSARIN_SETTING(name) visit(#name, name)

template <typename Visitor>
void VisitPersisted(QSettings& settings, Visitor&& visit)
{
    settings.beginGroup("main");
    TESSARIN_SETTING(windowGeometry);
    TESSARIN_SETTING(consoleWindowGeometry);
    TESSARIN_SETTING(consoleShowOnType);
    TESSARIN_SETTING(waitOnStart);
    TESSARIN_SETTING(sideBarOrder);
    TESSARIN_SETTING(sideBarViewState);
    TESSARIN_SETTING(sideBarProjectExpanded);
    TESSARIN_SETTING(sideBarTimelineExpanded);
    settings.endGroup();

    settings.beginGroup("menu");
    TESSARIN_SETTING(recentFiles);
    TESSARIN_SETTING(recentProjects);
    TESSARIN_SETTING(lastImgCaptureDirPath);
    TESSARIN_SETTING(alwaysOnTopEnabled);
    TESSARIN_SETTING(loopState);
    TESSARIN_SETTING(loopOnStepScrub);
    TESSARIN_SETTING(loopStepScrubToRange);
    TESSARIN_SETTING(lockStepScrubToRange);
    TESSARIN_SETTING(autoPlayEnabled);
    TESSARIN_SETTING(audioScrubEnabled);
    TESSARIN_SETTING(volume);
    TESSARIN_SETTING(muted);
    TESSARIN_SETTING(globalTimeControlVisible);
    TESSARIN_SETTING(rangeTimeControlVisible);
    TESSARIN_SETTING(playbackControlsVisible);
    TESSARIN_SETTING(menuBarVisible);
    settings.endGroup();

    settings.beginGroup("preferences");
    TESSARIN_SETTING(tempDirPath);
    TESSARIN_SETTING(cacheSize);
    TESSARIN_SETTING(numRecentFiles);
    TESSARIN_SETTING(numRecentProjects);
    TESSARIN_SETTING(openMediaInNewPlayers);
    TESSARIN_SETTING(resizeToFit);
    TESSARIN_SETTING(pausePlaybackOnSeek);
    TESSARIN_SETTING(pausePlaybackOnScrub);
    TESSARIN_SETTING(endlessMouseScrub);
    TESSARIN_SETTING(panZoomMouseControls);
    TESSARIN_SETTING(playbackControlsSeekRangeStartEnd);
    TESSARIN_SETTING(displayFrameNumberInTitleBar);
    TESSARIN_SETTING(audioOnBackwardsPlayback);
    TESSARIN_SETTING(hideVolumeControl);
    TESSARIN_SETTING(clientApiPort);
    TESSARIN_SETTING(clientApiPortEnabled);
    TESSARIN_SETTING(mayaCommandPort);
    TESSARIN_SETTING(mayaSyncTimeout);
    TESSARIN_SETTING(mayaToolsGeometry);
    TESSARIN_SETTING(mayaSyncOffset);
    TESSARIN_SETTING(mayaSyncFromRangeStart);
    TESSARIN_SETTING(mayaSyncMultiplier);
    TESSARIN_SETTING(hardwareRenderingEnabled);
    TESSARIN_SETTING(vSyncEnabled);
    TESSARIN_SETTING(useSurfaceDefaults);
    TESSARIN_SETTING(surfaceBufferCountOverride);
    TESSARIN_SETTING(viewerRefreshRateFpsOverride);
    TESSARIN_SETTING(ignoreScalingEnvVars);
    TESSARIN_SETTING(scrubFrameInterval);
    TESSARIN_SETTING(scrubFrameIntervalShift);
    TESSARIN_SETTING(scrubFrameIntervalAlt);
    TESSARIN_SETTING(audioOnScrubType);
    settings.endGroup();

    settings.beginGroup("timeControl");
    TESSARIN_SETTING(globalTimeControlDisplayFormat);
    TESSARIN_SETTING(globalTimeControlPositionTop);
    TESSARIN_SETTING(globalTimeControlFrameBookmarksVisible);
    TESSARIN_SETTING(globalTimeControlRangeBookmarksVisible);
    TESSARIN_SETTING(globalTimeControlCacheVisible);
    TESSARIN_SETTING(rangeTimeControlDisplayFormat);
    TESSARIN_SETTING(rangeTimeControlPositionTop);
    TESSARIN_SETTING(rangeTimeControlFrameBookmarksVisible);
    TESSARIN_SETTING(rangeTimeControlCacheVisible);
    settings.endGroup();
}

#undef TESSARIN_SETTING

// A stored value that does not convert gives 0, false or empty.
template <typename T>
T FromVariant(QVariant const& value)
{
    if constexpr (std::is_same_v<T, bool>)
        return value.toBool();
    else if constexpr (std::is_same_v<T, int>)
        return value.toInt();
    else if constexpr (std::is_same_v<T, quint16>)
        return static_cast<quint16>(value.toUInt()); // ports keep their low 16 bits
    else if constexpr (std::is_same_v<T, float>)
        return value.toFloat();
    else if constexpr (std::is_same_v<T, QString>)
        return value.toString();
    else if constexpr (std::is_same_v<T, QStringList>)
        return value.toStringList();
    else
    {
        static_assert(std::is_same_v<T, QByteArray>, "unhandled setting type");
        return value.toByteArray();
    }
}

template <typename T>
QVariant ToVariant(T const& value)
{
    if constexpr (std::is_same_v<T, quint16>)
        return int(value);
    else
        return QVariant::fromValue(value);
}

// Integer modes: anything outside [minimum, maximum] takes the fallback.
void RangeOr(int& value, int minimum, int maximum, int fallback)
{
    if (value < minimum || value > maximum)
        value = fallback;
}

// A value that is not a number at all (NaN, infinity) takes the default;
// otherwise it is clamped.
template <typename T>
void ClampFinite(T& value, T minimum, T maximum, T fallbackIfNotFinite)
{
    if (!std::isfinite(value))
        value = fallbackIfNotFinite;
    else if (value < minimum)
        value = minimum;
    else if (value > maximum)
        value = maximum;
}

// Below or above the range gives one fixed value; NaN and infinity give it too.
template <typename T>
void RangeOrFinite(T& value, T minimum, T maximum, T fallback)
{
    if (!std::isfinite(value) || value < minimum || value > maximum)
        value = fallback;
}

QStringList const ANNOTATION_COLOR_PRESETS = {
    QColor(Qt::red).name(),     QColor(Qt::cyan).name(), QColor(Qt::yellow).name(), QColor(Qt::magenta).name(),
    QColor(Qt::green).name(),   QColor(Qt::blue).name(), QColor(Qt::white).name(),  QColor(Qt::black).name(),
    QColor(Qt::white).name(),   QColor(Qt::white).name(), QColor(Qt::white).name(), QColor(Qt::white).name(),
    QColor(Qt::white).name(),   QColor(Qt::white).name(), QColor(Qt::white).name(), QColor(Qt::white).name()};
} // namespace

namespace
{
// Written once on the main thread before any decoder or viewer exists; read from
// every thread afterwards.
std::atomic<int> latchedHardwareRendering{-1};
}

void LatchHardwareRendering()
{
    latchedHardwareRendering.store(hardwareRenderingEnabled ? 1 : 0);
}

bool HardwareRenderingInUse()
{
    int const latched = latchedHardwareRendering.load();
    return latched < 0 ? hardwareRenderingEnabled : latched == 1;
}

void InitFonts()
{
    generalFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    fixedFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    timeControlFont = fixedFont;
}

void ReadUserConfig(QString const& filePath, QString const& overrideFilePath)
{
    if (filePath.isEmpty() || (!QFileInfo::exists(filePath) && !QFileInfo(filePath).isSymLink()))
        return;

    annotationColorPresets.append(ANNOTATION_COLOR_PRESETS);

    // A FIFO would block the read for good and a huge file hold the start for
    // minutes: such a file is not read, the defaults stand. QSettings parses
    // the bytes that were read, never the path again: what the path names may
    // change in between.
    PrivateIniCopy copy;
    QString reason;
    if (copy.Read(filePath, UserFileGuard::MAXIMUM_USER_FILE_SIZE, reason))
    {
        QSettings& settings = copy.Settings();
        VisitPersisted(settings, [&settings](char const* key, auto& variable)
        {
            using T = std::decay_t<decltype(variable)>;
            variable = FromVariant<T>(settings.value(key, ToVariant(variable)));
        });
        mayaOffsetPort = quint16(mayaCommandPort + MAYA_OFFSET_PORT_DISTANCE);
        if (settings.status() != QSettings::NoError)
            readProblems.append(QString("Failed to read the user settings file: %1").arg(filePath));
        if (copy.InMemory())
        {
            readOnlyFiles.insert(QFileInfo(filePath).absoluteFilePath());
            readProblems.append(QString("No folder could take a private copy of the user settings file, so it was read "
                                        "in memory and this session's settings will not be saved: %1 (%2)")
                                    .arg(filePath, copy.FolderProblems()));
        }
    }
    else
    {
        refusedFiles.insert(QFileInfo(filePath).absoluteFilePath(), false);
        readProblems.append(QString("Failed to read the user settings file: %1 (%2)").arg(filePath, reason));
    }

    if (!overrideFilePath.isEmpty())
        ReadUserConfigOverride(overrideFilePath);

    ValidateUserSettings();
}

void ReadUserConfigOverride(QString const& overrideFilePath)
{
    // An override file only has to exist; nothing is read from it yet.
    if (!QFileInfo::exists(overrideFilePath))
        readProblems.append(QString("User settings override file not found: %1").arg(overrideFilePath));
}

void ReportReadProblems()
{
    QStringList const problems = readProblems;
    readProblems.clear();
    for (QString const& problem : problems)
        Logger::GetInstance()->Warning(problem);
}

void ValidateUserSettings()
{
    // A change made during a run applies from the next start.
    hideVolumeControlCurrentSession = hideVolumeControl;

    cacheSize = qBound(MINIMUM_CACHE_SIZE, cacheSize, MAXIMUM_CACHE_SIZE);
    RangeOr(confirmOnClose, 0, 2, 1);
    ClampFinite(defaultImageSequenceFrameRate, MINIMUM_IMAGE_SEQUENCE_FRAME_RATE, MAXIMUM_IMAGE_SEQUENCE_FRAME_RATE,
                DEFAULT_IMAGE_SEQUENCE_FRAME_RATE);
    defaultTimeControlFrameOffset = qBound(0, defaultTimeControlFrameOffset, MAXIMUM_TIME_CONTROL_FRAME_OFFSET);
    RangeOr(viewerScrubPixelsPerFrame, MINIMUM_VIEWER_SCRUB_PIXELS_PER_FRAME, MAXIMUM_VIEWER_SCRUB_PIXELS_PER_FRAME, 10);
    RangeOrFinite(viewerScrubCtrlMultiplier, MINIMUM_VIEWER_SCRUB_MULTIPLIER, MAXIMUM_VIEWER_SCRUB_MULTIPLIER,
                  DEFAULT_VIEWER_SCRUB_CTRL_MULTIPLIER);
    RangeOrFinite(viewerScrubShiftMultiplier, MINIMUM_VIEWER_SCRUB_MULTIPLIER, MAXIMUM_VIEWER_SCRUB_MULTIPLIER,
                  DEFAULT_VIEWER_SCRUB_SHIFT_MULTIPLIER);
    ClampFinite(annotationTextBoxWidthScaler, 0.1f, 1.0f, DEFAULT_ANNOTATION_TEXT_BOX_WIDTH_SCALER);
    ClampFinite(annotationTextBoxHeightScaler, 0.1f, 1.0f, DEFAULT_ANNOTATION_TEXT_BOX_HEIGHT_SCALER);
    ClampFinite(annotationToolIncrementSize, 0.1f, 1.0f, DEFAULT_ANNOTATION_TOOL_INCREMENT_SIZE);
    RangeOr(snapshotFormat, 0, 1, 0);
    exportGlobalWidth = qBound(MINIMUM_EXPORT_RESOLUTION, exportGlobalWidth, MAXIMUM_EXPORT_RESOLUTION);
    exportGlobalHeight = qBound(MINIMUM_EXPORT_RESOLUTION, exportGlobalHeight, MAXIMUM_EXPORT_RESOLUTION);
    if (!EXPORT_FILE_FORMATS.contains(exportFileFormat, Qt::CaseSensitive))
        exportFileFormat = EXPORT_FILE_FORMATS.first();
    RangeOr(h264Quality, 0, 3, 1);
    RangeOr(h264Preset, 0, 5, 3);
    RangeOr(exportImagePadding, 1, MAXIMUM_IMAGE_SEQ_PADDING, 4);
    RangeOr(exportImageNumberingType, 0, 2, 0);
    RangeOr(scrubFrameInterval, 1, MAXIMUM_SCRUB_FRAME_INTERVAL, 20);
    RangeOr(scrubFrameIntervalShift, 1, MAXIMUM_SCRUB_FRAME_INTERVAL, 50);
    RangeOr(scrubFrameIntervalAlt, 1, MAXIMUM_SCRUB_FRAME_INTERVAL, 20);
    RangeOr(audioOnScrubType, 0, 2, 0);
    projectUndoLimit = qMax(0, projectUndoLimit);
    annotationUndoLimit = qMax(0, annotationUndoLimit);

    // A port outside the valid range would otherwise wrap to some other port.
    RangeOr(clientApiPort, 1, 65535, DEFAULT_CLIENT_API_PORT);
    if (!std::isfinite(mayaSyncMultiplier))
        mayaSyncMultiplier = DEFAULT_MAYA_SYNC_MULTIPLIER;
}

bool WriteUserConfig(QString const& filePath)
{
    if (filePath.isEmpty())
        return false;

    if (readOnlyFiles.contains(QFileInfo(filePath).absoluteFilePath()))
        return false;

    QString const dirPath = QFileInfo(filePath).absolutePath();
    if (!QDir().mkpath(dirPath))
    {
        Logger::GetInstance()->Error(QString("Failed to create the user settings folder: %1").arg(dirPath));
        return false;
    }

    // A file that was not read, or may not be read now, holds what the user
    // had: it is kept, and this session's settings go unsaved. Keys the file
    // holds beyond the stored variables stay as they are.
    QString const absolutePath = QFileInfo(filePath).absoluteFilePath();
    auto const keep = [&absolutePath, &filePath]
    {
        bool& reported = refusedFiles[absolutePath];
        if (!reported)
        {
            reported = true;
            Logger::GetInstance()->Warning(
                QString("The user settings file was not read, so it is kept and this session's settings are not "
                        "saved: %1").arg(filePath));
        }
        return false;
    };
    PrivateIniCopy copy;
    QString reason;
    if (refusedFiles.contains(absolutePath) || !copy.Read(filePath, UserFileGuard::MAXIMUM_USER_FILE_SIZE, reason))
        return keep();
    auto const failed = [&filePath](QString const& why)
    {
        Logger::GetInstance()->Error(QString("Failed to write the user settings file: %1 (%2)").arg(filePath, why));
        return false;
    };
    // A copy in memory is never written back.
    if (copy.InMemory())
        return failed(QString("no private copy (%1)").arg(copy.FolderProblems()));
    QSettings& settings = copy.Settings();
    settings.setValue("main/version", 1);
    VisitPersisted(settings, [&settings](char const* key, auto const& variable)
    {
        settings.setValue(key, ToVariant(variable));
    });
    // Never a half-written file: the new content replaces the old in one rename.
    switch (copy.WriteTo(filePath, reason))
    {
    case PrivateIniCopy::WriteResult::Written:
        return true;
    case PrivateIniCopy::WriteResult::Refused:
        return keep();
    case PrivateIniCopy::WriteResult::Failed:
        break;
    }
    return failed(reason);
}
} // namespace Settings
