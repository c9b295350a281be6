#pragma once

#include "media/ExportLoggingMsgType.h"
#include "media/LoopState.h"
#include "viewer/AnnotationVisibility.h"
#include "viewer/ViewerLayoutType.h"
#include "viewer/ViewerOverlayDrawable.h"

#include <QImage>
#include <QList>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <QWidget>

class AnnotationOptionsWidget;
class AnnotationToolsWidget;
class AvManager;
class CaptureInputBlocker;
class ExportDialog;
class GlobalTimeControlWidget;
class KeyBindings;
class MayaToolsDialog;
class PlaybackControlWidget;
class PlaybackOptionsWidget;
class ProjectManager;
class QHBoxLayout;
class QVBoxLayout;
class RangeTimeControlWidget;
class SnapshotManager;
class TimeControlBaseWidget;
class ToolsDisplayWidget;
class ViewerControlsWidget;
class ViewerWidget;
struct ExportProperties;
struct SnapshotProperties;

// The main window's centre: the viewer between its range and global time bars,
// the three strips below it, and the hidden viewer-controls and annotation
// strips. Every playback, view and bookmark command of the window lands on a
// slot here, which forwards to the strip or viewer that owns the behaviour.
// It also runs exports (timeline exports through the engine, viewer captures
// through the snapshot manager) and snapshots. Main thread only.
class MonitorPanel : public QWidget
{
    Q_OBJECT

public:
    MonitorPanel(ProjectManager* projectManager, KeyBindings* keyBindings, QWidget* parent);
    ~MonitorPanel() override;

    bool IsGlobalTimeControlVisible() const;
    bool IsRangeTimeControlVisible() const;
    bool IsPlaybackControlsVisible() const;
    bool IsViewerControlsVisible() const;
    bool IsHorizontalFlipEnabled() const;
    bool IsVerticalFlipEnabled() const;
    bool IsAnnotationDrawingEnabled() const;
    bool IsMediaInfoVisible() const;
    ViewerLayoutType ViewerLayout() const;
    QSize ViewerSize() const;
    void VideoWidthHeight(int& width, int& height) const;
    // 1 safe area, else 2 grid, else 3 centre cross, else 0.
    int ViewerOverlayDrawableState() const;
    void SetCtrlKeyPressed(bool pressed);
    void UpdateKeyBindings();

    ViewerWidget* ViewerWidgetPtr() const;
    GlobalTimeControlWidget* GlobalTimeControl() const;
    RangeTimeControlWidget* RangeTimeControl() const;
    PlaybackControlWidget* PlaybackControl() const;
    PlaybackOptionsWidget* PlaybackOptions() const;
    ToolsDisplayWidget* ToolsDisplay() const;
    ViewerControlsWidget* ViewerControls() const;
    AnnotationToolsWidget* AnnotationTools() const;
    AnnotationOptionsWidget* AnnotationOptions() const;
    QVBoxLayout* ViewerColumn() const;
    ExportDialog* ExportDialogPtr() const;
    SnapshotManager* SnapshotManagerPtr();
    // The export running now, or null.
    ExportProperties const* CurrentExport() const;
    // True while a viewer capture holds the playhead: input that would move
    // it or change the view is dropped.
    bool IsCaptureInputBlocked() const;

public Q_SLOTS:
    void TogglePlayPause();
    void TogglePlayPauseBookmarksOnly();
    void PlayForwards();
    void PlayBackwards();
    void Pause();
    void RangeStartToCurrent();
    void RangeEndToCurrent();
    void ResetRange();
    void SeekTimelineStart();
    void SeekTimelineEnd();
    void SeekRangeStart();
    void SeekRangeEnd();
    void FrameStepBackward();
    void FrameStepForward();
    void MultiFrameStepBackward();
    void MultiFrameStepForward();
    void SeekPreviousEdit();
    void SeekNextEdit();
    void SeekPreviousBookmark();
    void SeekNextBookmark();
    void SetPlaybackSpeed(float speed);
    void IncreasePlaybackSpeed();
    void DecreasePlaybackSpeed();
    void SetPlaybackSpeedBySender();
    void UpdateSteppedPlaybackState();
    void SetLoopState(LoopState state);
    void ToggleLoopState();
    void TogglePingPong();
    void SetLoopStateBySender();
    void IncreaseVolume();
    void DecreaseVolume();
    void ToggleMute();
    void ResizeViewer(float factor);
    void SetViewerLayout(int rows, int columns, int stackHeight);
    void SetViewerLayoutByType(ViewerLayoutType type);
    void ToggleViewerLayoutBySender();
    void SetViewerOverlayDrawable(ViewerOverlayDrawable drawable);
    void SetViewerOverlayDrawableStateBySender();
    void SetAnnotationVisibility(AnnotationVisibility visibility);
    void SetAnnotationVisibilityBySender();
    void SetAnnotationToolBySender();
    void ActivateEyedropper();
    void IncreaseAnnotationToolSize();
    void DecreaseAnnotationToolSize();
    void ToggleHoldAnnotationFrames();
    void ToggleGhosting();
    void UndoAnnotation();
    void RedoAnnotation();
    void SetHorizontalFlipEnabled(bool enabled);
    void SetVerticalFlipEnabled(bool enabled);
    void RotateClockwise();
    void RotateCounterClockwise();
    void ResetFlipAndRotate();
    void ToggleABWipe();
    void ResetABWipe();
    void SetPanAndZoom(QPointF pan, float zoom, bool enabled);
    void ZoomIn();
    void ZoomOut();
    void TogglePanAndZoom();
    void ResetPanAndZoom();
    void ToggleBookmark();
    void ToggleRangeBoomark();
    void CutBookmark();
    void CopyBookmark();
    void PasteBookmark();
    void RemoveBookmarks();
    void RemoveBookmarksInRange();
    void RemoveRangeBookmarks();
    void ClearAllBookmarks();
    void SetRangeToPreviousRangeBookmark();
    void SetRangeToNextRangeBookmark();
    void SetGlobalTimeControlVisible(bool visible, bool force);
    void SetRangeTimeControlVisible(bool visible, bool force);
    void ToggleGlobalTimeControlVisible();
    void ToggleRangeTimeControlVisible();
    void SwapTimeControls();
    void SetPlaybackControlsVisible(bool visible);
    void TogglePlaybackControlsVisible();
    void SetViewerControlsVisible(bool visible);
    void ToggleViewerControlsVisibility();
    void SetAnnotationToolbarVisible(bool visible);
    void ToggleAnnotationToolbarVisibility();
    void SetMediaInfoVisible(bool visible);
    void ToggleMediaInfoVisibility();
    void ToggleSideBar();
    void ShowConsole();
    void ToggleFullscreen();
    void SetFullscreenState(bool fullscreen);
    void ToggleTimeControlPosition(TimeControlBaseWidget* widget);
    void OnOpenUrlsRequested(QList<QUrl> const& urls, int viewportIndex, int viewportCount, bool play);
    void OnOpenTimelinesRequested(QList<QUuid> const& ids, int viewportIndex, bool keepPrevious);
    void OnOpenFolderRequested(QUuid const& id, int viewportIndex, bool keepPrevious);
    void OnOpenProjectRequested(QString const& path);
    void OnTimeControlPlaybackFrameChanged(int frame, int offset);

    void ShowExportDialog();
    void ExportToFile(ExportProperties const& properties);
    void CancelExport();
    void LogExportMsg(QString const& message, ExportLoggingMsgType type, bool isError);
    void BeginExportProcess();
    void EndExportProcess();
    void SnapshotToClipboard();
    // Asks for a file name, then SnapshotToPath.
    void SnapshotToFolder();
    // Writes one capture to path. A name without a "png" or "jpg" suffix
    // takes the suffix of the filter; false when nothing was written.
    bool SnapshotToPath(QString const& path, QString const& selectedFilter);
    int AdvancedSnapshot(SnapshotProperties const& properties);
    void UpdateSnapshotExportImage();
    void SetSnapshotProgress(float fraction);
    void ShowMayaToolsDialog();

Q_SIGNALS:
    void OpenUrlsRequested(QList<QUrl> const& urls, int viewportIndex, int viewportCount, bool play);
    void OpenTimelinesRequested(QList<QUuid> const& ids, int viewportIndex, bool keepPrevious);
    void OpenFolderRequested(QUuid const& id, int viewportIndex, bool keepPrevious);
    void OpenProjectRequested(QString const& path);
    void TimeControlPlaybackFrameChanged(int frame, int offset);
    void ToggleSideBarRequested();
    void ToggleFullscreenRequested();
    void AnnotationToolbarVisibilityChanged(bool visible);
    void ViewerResizeRequested(int width, int height);
    void ShowConsoleRequested();
    void ExportLogMsgReceived(QString const& message, ExportLoggingMsgType type, bool isError);
    // An export ended (completed, failed or cancelled) and the panel is back
    // to how it was before.
    void ExportEnded();
    void SnapshotExportImageChanged(QImage const& image);

private:
    void CreateWidgets(KeyBindings* keyBindings);
    void CreateLayout();
    void CreateConnections();
    void UpdateLayout();
    void ApplyTimeControlVisible(TimeControlBaseWidget* widget, bool visible);
    void HideAnnotationStrips();
    // Lays the panel and the widgets around it out now rather than when the
    // event loop comes to it, so that sizes read next are the final ones.
    void SettleLayout();
    void TimelineExport();
    void SnapshotExport();
    int EncodeSnapshotsToVideo(SnapshotProperties& snapshot);
    void SetCaptureInputBlocked(bool blocked);
    int ActionData(bool& ok) const;

    ProjectManager* mProjectManager = nullptr;
    AvManager* mAvManager = nullptr;
    QWidget* mParentWindow = nullptr;
    ViewerWidget* mViewerWidget = nullptr;
    ViewerControlsWidget* mViewerControls = nullptr;
    GlobalTimeControlWidget* mGlobalTimeControl = nullptr;
    RangeTimeControlWidget* mRangeTimeControl = nullptr;
    PlaybackControlWidget* mPlaybackControl = nullptr;
    PlaybackOptionsWidget* mPlaybackOptions = nullptr;
    ToolsDisplayWidget* mToolsDisplay = nullptr;
    AnnotationToolsWidget* mAnnotationTools = nullptr;
    AnnotationOptionsWidget* mAnnotationOptions = nullptr;
    QVBoxLayout* mMainLayout = nullptr;
    QVBoxLayout* mViewerColumn = nullptr;
    QHBoxLayout* mBottomRow = nullptr;

    SnapshotManager* mSnapshotManager = nullptr;
    bool mExportImage = false;
    ExportDialog* mExportDialog = nullptr;
    ExportProperties* mCurrentExport = nullptr;
    QRect mSavedWindowGeometry;
    QSize mSavedViewerSize;
    bool mSavedGlobalVisible = true;
    bool mSavedRangeVisible = true;
    bool mSavedPlaybackControlsVisible = true;
    bool mSavedViewerControlsVisible = false;
    bool mSavedAnnotationDrawing = false;
    // Set when BeginExportProcess saved the monitor's state; EndExportProcess
    // restores exactly then.
    bool mStateSaved = false;
    CaptureInputBlocker* mCaptureInputBlocker = nullptr; // child
    MayaToolsDialog* mMayaToolsDialog = nullptr;
};
