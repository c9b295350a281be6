#pragma once

#include "viewer/AnnotationLayer.h"
#include "viewer/AnnotationToolType.h"
#include "viewer/AnnotationVisibility.h"
#include "viewer/DesktopEdgeWrap.h"
#include "viewer/ViewerBackgroundType.h"
#include "viewer/ViewerLayoutType.h"
#include "viewer/ViewerOverlayDrawable.h"
#include "viewer/ViewerTimeBarMouse.h"

#include <QColor>
#include <QCursor>
#include <QList>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class AnnotationsOverlay;
class AvManager;
class InputThreadManager;
class OpenGLViewer;
class PlaybackControlWidget;
class ProjectManager;
class QMimeData;
class SoftwareViewer;
class TextToolPopup;
class ViewerFpsMeter;
class TimeControlBaseWidget;
class Timeline;
class ViewerBase;
class ViewerOverlay;
struct VideoFrame;

// The viewer area of the monitor: owns the viewer (OpenGL or software, fixed
// by the rendering mode latched at start-up) and both overlays, keeps the
// frames the engine delivers for each output and shows the one covering the
// playback time, keeps pan and zoom in step with the primary timeline,
// measures the displayed frame rate and turns mouse, wheel and drops into
// scrubbing, strokes, wipe drags, pan and zoom and open requests.
//
// A frame is kept and shown only when it belongs to the timeline this widget
// follows in its output; a timeline is compared by pointer and never read
// through a frame. Main thread only.
class ViewerWidget : public QWidget
{
    Q_OBJECT

public:
    using FramePtr = std::shared_ptr<VideoFrame>;
    using ScreenGeometryLookup = DesktopEdgeWrap::ScreenGeometryLookup;

    ViewerWidget(ProjectManager* projectManager, TimeControlBaseWidget* globalTimeControl,
                 TimeControlBaseWidget* rangeTimeControl, PlaybackControlWidget* playbackControl,
                 QWidget* parent = nullptr);
    ~ViewerWidget() override;

    QSize ViewerSize() const;
    void VideoWidthHeight(int& width, int& height) const;
    ViewerLayoutType ViewerLayout() const;
    bool IsAnnotationDrawingEnabled() const;
    AnnotationVisibility GetAnnotationVisibility() const;
    bool IsWipeEnabled() const;
    bool IsHoldAnnotationFramesEnabled() const;
    bool IsGhostingEnabled() const;
    bool IsMediaInfoVisible() const;
    bool IsSafeAreaVisible() const;
    bool IsGridVisible() const;
    bool IsCenterVisible() const;
    Timeline* PrimaryTimeline() const;
    AvManager* AvManagerPtr() const;
    ViewerOverlay* ViewerOverlayPtr() const;
    AnnotationsOverlay* AnnotationsOverlayPtr() const;
    ViewerBase* ViewerPtr() const;
    QWidget* ViewerWidgetPtr() const;
    bool PanAndZoomEnabled() const;
    QPointF PanInterpolation() const;
    float ZoomFactor() const;
    QPoint PanZoomPositionOffset() const;
    // The frame a slot of an output holds (0 to show, 1 next, 2 previous,
    // 3 handed to the viewer); null outside the slots.
    FramePtr FrameInSlot(int outputId, int slot) const;
    InputThreadManager* InputThreadManagerPtr() const;
    TextToolPopup* TextToolPopupPtr() const;

    QImage CaptureImage(bool full);

    // Where the scrub's desktop-edge wrap looks for screens; the
    // application's screens by default.
    void SetScreenGeometryLookup(ScreenGeometryLookup lookup);
    bool EndlessMouseDragWrapped(QPoint& position) const;

    static bool CanDrop(QMimeData const* mimeData);
    static QList<QUuid> UuidsFromMimeData(QMimeData const* mimeData, QString const& mimeType);

public Q_SLOTS:
    void SetPrimaryTimeline(Timeline* timeline);
    void UpdateViewportFrames(long long time);
    void UpdateNoVideoFrameBookmarks(int frame);
    void UpdateVideoFrameCache(int outputId, std::shared_ptr<VideoFrame> current,
                               std::shared_ptr<VideoFrame> previous, std::shared_ptr<VideoFrame> next);
    void ClearBookmarks(int outputId);
    void OnPlaybackStateChanged();
    void ResetFps();

    void SetViewerLayout(int rows, int columns, int stackHeight);
    void SetViewerLayoutByType(ViewerLayoutType type);
    void ToggleViewerLayout(ViewerLayoutType type);
    void UpdateViewerLayout();
    void SetViewerBackground(ViewerBackgroundType type);
    void SetViewerOverlayDrawable(ViewerOverlayDrawable drawable);
    void OnViewerOverlayDrawableChanged(ViewerOverlayDrawable drawable);
    void SetWipeEnabled(bool enabled);
    void ResetWipePositionAndRotation();
    void SetImageAlpha(int index, float alpha);
    void SetHorizontalFlipEnabled(bool enabled);
    void SetVerticalFlipEnabled(bool enabled);
    void RotateClockwise();
    void RotateCounterClockwise();
    void ResetFlipAndRotate();
    void SetMediaInfoVisible(bool visible);
    void SetAnnotationVisiblity(AnnotationVisibility visibility);
    void SyncUiToSettings();
    void SetAnnotationDrawingEnabled(bool enabled);
    void SetAnnotationActiveLayer(AnnotationLayer layer);
    void SetAnnotationBackgroundColor(QColor const& color);
    void SetAnnotationBackgroundOpacity(int opacity);
    void UndoAnnotation();
    void RedoAnnotation();
    void ClearAnnotations();
    void CutAnnotations();
    void CopyAnnotations();
    void PasteAnnotations();
    void SetEyedropperEnabled(bool enabled);
    void SetHoldAnnotationFramesEnabled(bool enabled);
    void SetGhostingEnabled(bool enabled);
    void UpdateGhostingVisibility();
    void UpdateGhostingProperties();
    void OnActiveAnnotationToolChanged(AnnotationToolType tool);
    void UpdateAnnotationStrokeText(QString const& text);
    void EndAnnotationStroke();
    void AppendToAnnotationStroke(QPoint const& position);
    void SetCtrlKeyPressed(bool pressed);
    void SetPanAndZoom(QPointF pan, float zoom, bool enabled, bool update);
    void ResetPanAndZoom(bool update);
    void ZoomIn();
    void ZoomOut();
    void UpdatePanAndZoom();
    void UpdateEyeDropperColor(QPoint const& position);
    void UpdateCursor();

Q_SIGNALS:
    void ViewerLayoutChanged(ViewerLayoutType type);
    void ViewerBackgroundChanged(ViewerBackgroundType type);
    void ViewerOverlayDrawableChanged(ViewerOverlayDrawable drawable);
    void ViewerWipeStateChanged(bool enabled);
    void AnnotationVisibilityChanged(AnnotationVisibility visibility);
    void AnnotationActiveLayerChanged(AnnotationLayer layer);
    void HoldAnnotationFramesChanged(bool enabled);
    void AnnotationGhostingChanged(bool enabled);
    void PrimaryVideoFrameChanged(std::shared_ptr<VideoFrame> frame);
    // The viewer drew a picture for the first time since it was made.
    void FirstPicturePainted();
    void FpsChanged(float fps, bool reset);
    void HwTimeControlOffsetChanged(QPoint const& offset);
    void OpenUrlsInViewerRequested(QList<QUrl> const& urls, int viewportIndex, int viewportCount, bool play);
    void OpenTimelinesInViewerRequested(QList<QUuid> const& ids, int viewportIndex, bool keepPrevious);
    void OpenFolderInViewerRequested(QUuid const& id, int viewportIndex, bool keepPrevious);
    void OpenProjectRequested(QString const& path);
    void SeekPreviousFrameRequested();
    void SeekNextFrameRequested();
    void AnnotationToolColorChangeRequested(QColor const& color);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    bool HardwareRenderingMousePressEvent(QMouseEvent* event);
    bool HardwareRenderingMouseReleaseEvent(QMouseEvent* event);
    bool HardwareRenderingMouseMoveEvent(QMouseEvent* event);

private Q_SLOTS:
    void OnViewerLayoutChanged();
    void OnViewerPaintingFinished();
    void OnViewerPicturePainted();
    void OnActiveAnnotationLayerChanged(AnnotationLayer layer);
    void OnPrimaryTimelineDestroyed();

private:
    void InitializeViewer(TimeControlBaseWidget* globalTimeControl, TimeControlBaseWidget* rangeTimeControl);
    void SetVideoFrame(int index, FramePtr const& frame);
    // The timeline whose frames an output shows: the primary timeline in its
    // own output, else the engine's timeline in that output; null for none.
    Timeline* FollowedTimeline(int outputId) const;
    bool IsFollowedFrame(int outputId, FramePtr const& frame) const;
    void EmptyFrameSlots();
    void IncrementVideoFrameFps();
    void UpdateAnnotationVisibility();
    bool PrimaryTimelineHasClips() const;
    QSize PanZoomArea() const;

    ProjectManager* projectManager;
    AvManager* avManager;
    PlaybackControlWidget* playbackControl;
    TimeControlBaseWidget* globalTimeControl;
    TimeControlBaseWidget* rangeTimeControl;

    ViewerBase* viewer = nullptr;
    QWidget* viewerWidget = nullptr;      // the same object as viewer
    OpenGLViewer* openGLViewer = nullptr; // set under hardware rendering
    SoftwareViewer* softwareViewer = nullptr;
    ViewerOverlay* viewerOverlay = nullptr;
    AnnotationsOverlay* annotationsOverlay = nullptr;

    // Followed by pointer; the guard tells when it was deleted.
    Timeline* primaryTimeline = nullptr;
    QPointer<Timeline> primaryTimelineGuard;
    QMetaObject::Connection primaryTimelineDestroyedConnection;
    bool primaryTimelineChanged = false;
    QList<std::array<FramePtr, 4>> frameSlots;

    bool panZoomEnabled = false;
    float zoomFactor = 1.0f;
    double panInterpolation[2] = {0.0, 0.0};
    QPoint panZoomPositionOffset;
    QPoint panDragStart;
    QPoint panDragDelta;
    bool panDragActive = false;
    QPoint zoomDragStart;
    bool zoomDragActive = false;

    bool annotationDrawingEnabled = false;
    AnnotationVisibility annotationVisibility = AnnotationVisibility::OffDuringPlayback;
    bool holdAnnotationFramesEnabled = false;
    bool ghostingEnabled = false;
    bool wipeEnabled = false;
    bool ctrlKeyPressed = false;
    bool strokeInProgress = false;
    AnnotationToolType activeTool = AnnotationToolType::Pencil;
    QCursor annotationCursor;
    QCursor rotateCursor;

    // Input state.
    bool pressConsumed = false;
    // The left press began a gesture that its release must finish: a scrub
    // (with the left-mouse pause) or a wipe drag. Strokes use strokeInProgress.
    bool scrubInProgress = false;
    bool leftMousePauseActive = false;
    int scrubAnchorX = 0;
    bool wipeMoving = false;
    bool wipeRotating = false;
    ViewerTimeBarMouse timeBarMouse;
    InputThreadManager* inputThreadManager = nullptr;
    TextToolPopup* textToolPopup = nullptr;
    DesktopEdgeWrap desktopEdges;

    ViewerFpsMeter* fpsMeter = nullptr; // child
    bool firstPicturePainted = false;
};
