#include "viewer/ViewerWidget.h"

#include "app/FileHelpers.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/VideoFrame.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "panels/UiHelpers.h"
#include "viewer/AnnotationsOverlay.h"
#include "viewer/InputThreadManager.h"
#include "viewer/OpenGLViewer.h"
#include "viewer/SoftwareViewer.h"
#include "viewer/TextToolPopup.h"
#include "viewer/ViewerFpsMeter.h"
#include "viewer/ViewerOverlay.h"
#include "window/PlaybackControlWidget.h"
#include "window/TimeControlBaseWidget.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

static void InitViewerWidgetResources()
{
    Q_INIT_RESOURCE(viewer_icons);
}

namespace
{

constexpr int SLOT_SHOW = 0;
constexpr int SLOT_NEXT = 1;
constexpr int SLOT_PREVIOUS = 2;
constexpr int SLOT_SHOWN = 3;

QCursor CursorFromImage(QString const& path)
{
    QPixmap const pixmap(path);
    if (pixmap.isNull())
    {
        return QCursor(Qt::CrossCursor);
    }
    return QCursor(pixmap, pixmap.width() / 2, pixmap.height() / 2);
}

bool OnlyModifiers(Qt::KeyboardModifiers held, Qt::KeyboardModifiers wanted)
{
    Qt::KeyboardModifiers const relevant =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    return (held & relevant) == wanted;
}

} // namespace

ViewerWidget::ViewerWidget(ProjectManager* projectManager, TimeControlBaseWidget* globalTimeControl,
                           TimeControlBaseWidget* rangeTimeControl, PlaybackControlWidget* playbackControl,
                           QWidget* parent)
    : QWidget(parent)
    , projectManager(projectManager)
    , avManager(projectManager->AvManagerPtr())
    , playbackControl(playbackControl)
    , globalTimeControl(globalTimeControl)
    , rangeTimeControl(rangeTimeControl)
{
    InitViewerWidgetResources();
    fpsMeter = new ViewerFpsMeter(avManager, this);
    connect(fpsMeter, &ViewerFpsMeter::FpsChanged, this, &ViewerWidget::FpsChanged);
    setMinimumSize(300, 200);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMouseTracking(true);
    setAcceptDrops(true);

    for (int i = 0; i < Settings::MAXIMUM_ACTIVE_TIMELINE_VIEWERS; ++i)
    {
        frameSlots.append(std::array<FramePtr, 4> {});
    }
    InitializeViewer(globalTimeControl, rangeTimeControl);
    timeBarMouse.SetViewer(openGLViewer);
    annotationCursor = CursorFromImage(QStringLiteral(":/icons/annotation_cursor.png"));
    rotateCursor = CursorFromImage(QStringLiteral(":/icons/rotate_cursor_macos.png"));

    connect(avManager, &AvManager::PrimaryTimelineChanged, this,
            [this](Timeline* timeline, bool) { SetPrimaryTimeline(timeline); });
    connect(avManager, &AvManager::PlaybackTimeChanged, this, &ViewerWidget::UpdateViewportFrames);
    connect(avManager, &AvManager::PlaybackFrameChanged, this, &ViewerWidget::UpdateNoVideoFrameBookmarks);
    connect(avManager, &AvManager::VideoFrameChanged, this, &ViewerWidget::UpdateVideoFrameCache);
    connect(avManager, &AvManager::TimelineDecodingEnded, this, &ViewerWidget::ClearBookmarks);
    connect(avManager, &AvManager::PlaybackStateChanged, this, &ViewerWidget::OnPlaybackStateChanged);
    connect(avManager, &AvManager::SeekInProgress, this, &ViewerWidget::ResetFps);
}

ViewerWidget::~ViewerWidget()
{
    // Unparented: released here.
    delete textToolPopup;
}

void ViewerWidget::InitializeViewer(TimeControlBaseWidget* globalBar, TimeControlBaseWidget* rangeBar)
{
    viewerOverlay = new ViewerOverlay(avManager, this);
    viewerOverlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(viewerOverlay, &ViewerOverlay::OverlayDrawableChanged, this, &ViewerWidget::OnViewerOverlayDrawableChanged);
    connect(viewerOverlay, &ViewerOverlay::EyeDropperColorUpdateRequired, this, &ViewerWidget::UpdateEyeDropperColor);

    annotationsOverlay = new AnnotationsOverlay(projectManager, 0, this);
    connect(viewerOverlay, &ViewerOverlay::WipeMaskChanged, annotationsOverlay, &AnnotationsOverlay::SetWipeMask);
    connect(viewerOverlay, &ViewerOverlay::WipePositionChanged, annotationsOverlay,
            &AnnotationsOverlay::SetWipePosition);
    connect(annotationsOverlay, &AnnotationsOverlay::ActiveLayerChanged, this,
            &ViewerWidget::OnActiveAnnotationLayerChanged);

    if (Settings::HardwareRenderingInUse())
    {
        openGLViewer = new OpenGLViewer(viewerOverlay, annotationsOverlay, globalBar, rangeBar, this);
        viewer = openGLViewer;
        viewerWidget = openGLViewer;
        connect(openGLViewer, &OpenGLViewer::ViewportImageDisplaySizeChanged, this,
                [this](float width, float height, int index) {
                    viewerOverlay->SetImageDisplayResolution(width, height, index);
                    annotationsOverlay->SetImageDisplayWidth(static_cast<int>(width), static_cast<int>(height), index);
                });
        connect(openGLViewer, &OpenGLViewer::ViewerLayoutChanged, this, &ViewerWidget::OnViewerLayoutChanged);
        connect(openGLViewer, &OpenGLViewer::PaintingFinished, this, &ViewerWidget::OnViewerPaintingFinished);
        connect(openGLViewer, &OpenGLViewer::PicturePainted, this, &ViewerWidget::OnViewerPicturePainted);
        connect(viewerOverlay, &ViewerOverlay::WipeMaskChanged, openGLViewer, &OpenGLViewer::SetWipeMask);
        connect(openGLViewer, &OpenGLViewer::PanZoomUpdateRequested, this, &ViewerWidget::UpdatePanAndZoom);
    }
    else
    {
        softwareViewer = new SoftwareViewer(this);
        viewer = softwareViewer;
        viewerWidget = softwareViewer;
        connect(softwareViewer, &SoftwareViewer::ViewportImageDisplaySizeChanged, this,
                [this](int width, int height, int index) {
                    viewerOverlay->SetImageDisplayResolution(static_cast<float>(width), static_cast<float>(height),
                                                             index);
                    annotationsOverlay->SetImageDisplayWidth(width, height, index);
                });
        connect(softwareViewer, &SoftwareViewer::ViewerLayoutChanged, this, &ViewerWidget::OnViewerLayoutChanged);
        connect(softwareViewer, &SoftwareViewer::PaintingFinished, this, &ViewerWidget::OnViewerPaintingFinished);
        connect(softwareViewer, &SoftwareViewer::PicturePainted, this, &ViewerWidget::OnViewerPicturePainted);
        connect(viewerOverlay, &ViewerOverlay::WipeMaskChanged, softwareViewer, &SoftwareViewer::SetWipeMask);
    }
    // This widget takes every mouse event and hands on what the viewer needs.
    viewerWidget->setAttribute(Qt::WA_TransparentForMouseEvents);
    viewerWidget->move(0, 0);

    viewer->SetViewerLayout(1, 1, 1);
    annotationsOverlay->raise();
    viewerOverlay->raise();
    if (Settings::HardwareRenderingInUse())
    {
        // The OpenGL viewer paints both in its own frame.
        annotationsOverlay->hide();
        viewerOverlay->hide();
    }
    UpdateAnnotationVisibility();
}

// ---- Accessors --------------------------------------------------------------------

QSize ViewerWidget::ViewerSize() const
{
    return viewer->ViewerSize();
}

void ViewerWidget::VideoWidthHeight(int& width, int& height) const
{
    int const outputId = avManager->PrimaryTimelineOutputId();
    if (outputId < 0)
    {
        width = UiHelpers::DEFAULT_VIEWER_WIDTH;
        height = UiHelpers::DEFAULT_VIEWER_HEIGHT;
        return;
    }
    viewer->VideoWidthHeight(outputId, width, height);
}

ViewerLayoutType ViewerWidget::ViewerLayout() const
{
    return viewer->ViewerLayout();
}

bool ViewerWidget::IsAnnotationDrawingEnabled() const
{
    return annotationDrawingEnabled;
}

AnnotationVisibility ViewerWidget::GetAnnotationVisibility() const
{
    return annotationVisibility;
}

bool ViewerWidget::IsWipeEnabled() const
{
    return wipeEnabled;
}

bool ViewerWidget::IsHoldAnnotationFramesEnabled() const
{
    return holdAnnotationFramesEnabled;
}

bool ViewerWidget::IsGhostingEnabled() const
{
    return ghostingEnabled;
}

bool ViewerWidget::IsMediaInfoVisible() const
{
    return viewerOverlay->IsMediaInfoVisible();
}

bool ViewerWidget::IsSafeAreaVisible() const
{
    return viewerOverlay->IsSafeAreaVisible();
}

bool ViewerWidget::IsGridVisible() const
{
    return viewerOverlay->IsGridVisible();
}

bool ViewerWidget::IsCenterVisible() const
{
    return viewerOverlay->IsCenterVisible();
}

Timeline* ViewerWidget::PrimaryTimeline() const
{
    return primaryTimelineGuard ? primaryTimeline : nullptr;
}

AvManager* ViewerWidget::AvManagerPtr() const
{
    return avManager;
}

ViewerOverlay* ViewerWidget::ViewerOverlayPtr() const
{
    return viewerOverlay;
}

AnnotationsOverlay* ViewerWidget::AnnotationsOverlayPtr() const
{
    return annotationsOverlay;
}

ViewerBase* ViewerWidget::ViewerPtr() const
{
    return viewer;
}

QWidget* ViewerWidget::ViewerWidgetPtr() const
{
    return viewerWidget;
}

bool ViewerWidget::PanAndZoomEnabled() const
{
    return panZoomEnabled;
}

QPointF ViewerWidget::PanInterpolation() const
{
    return QPointF(panInterpolation[0], panInterpolation[1]);
}

float ViewerWidget::ZoomFactor() const
{
    return zoomFactor;
}

QPoint ViewerWidget::PanZoomPositionOffset() const
{
    return panZoomPositionOffset;
}

ViewerWidget::FramePtr ViewerWidget::FrameInSlot(int outputId, int slot) const
{
    if (outputId < 0 || outputId >= frameSlots.size() || slot < 0 || slot > SLOT_SHOWN)
    {
        return nullptr;
    }
    return frameSlots.at(outputId)[slot];
}

InputThreadManager* ViewerWidget::InputThreadManagerPtr() const
{
    return inputThreadManager;
}

TextToolPopup* ViewerWidget::TextToolPopupPtr() const
{
    return textToolPopup;
}

// ---- Frames -------------------------------------------------------------------------

Timeline* ViewerWidget::FollowedTimeline(int outputId) const
{
    Timeline* const primary = PrimaryTimeline();
    if (primary && primary->OutputId() == outputId)
    {
        return primary;
    }
    return avManager->TimelineWithOutputId(outputId);
}

bool ViewerWidget::IsFollowedFrame(int outputId, FramePtr const& frame) const
{
    if (!frame)
    {
        return true; // an output without a frame shows nothing
    }
    Timeline* const followed = FollowedTimeline(outputId);
    return followed && frame->timeline == followed;
}

void ViewerWidget::UpdateVideoFrameCache(int outputId, std::shared_ptr<VideoFrame> current,
                                         std::shared_ptr<VideoFrame> previous, std::shared_ptr<VideoFrame> next)
{
    // The engine serves more outputs than this widget keeps slots for.
    if (outputId < 0 || outputId >= frameSlots.size())
    {
        return;
    }
    // Queued before a switch, or from a timeline since deleted: not ours.
    if (!IsFollowedFrame(outputId, current))
    {
        return;
    }
    if (!IsFollowedFrame(outputId, previous))
    {
        previous.reset();
    }
    if (!IsFollowedFrame(outputId, next))
    {
        next.reset();
    }
    std::array<FramePtr, 4>& outputSlots = frameSlots[outputId];
    outputSlots[SLOT_SHOW] = current;
    outputSlots[SLOT_NEXT] = next;
    outputSlots[SLOT_PREVIOUS] = previous;
    if (current != outputSlots[SLOT_SHOWN])
    {
        SetVideoFrame(outputId, current);
    }
}

void ViewerWidget::UpdateViewportFrames(long long time)
{
    int const count = std::min<int>(viewer->ViewportCount(), frameSlots.size());
    for (int index = 0; index < count; ++index)
    {
        for (int slot : {SLOT_SHOW, SLOT_NEXT, SLOT_PREVIOUS})
        {
            FramePtr const candidate = frameSlots.at(index)[slot];
            if (candidate && candidate != frameSlots.at(index)[SLOT_SHOWN] &&
                candidate->adjustedStartTime <= time && candidate->adjustedEndTime >= time &&
                IsFollowedFrame(index, candidate))
            {
                SetVideoFrame(index, candidate);
            }
        }
    }
}

void ViewerWidget::SetVideoFrame(int index, FramePtr const& frame)
{
    viewer->SetVideoFrame(index, frame);
    frameSlots[index][SLOT_SHOWN] = frame;
    Timeline* const primary = PrimaryTimeline();
    if (index == 0)
    {
        Timeline* const followed = FollowedTimeline(0);
        if (!frame || frame->emptyFrame || !followed)
        {
            annotationsOverlay->SetFrameBookmark(nullptr);
        }
        else
        {
            annotationsOverlay->SetFrameBookmark(followed->FrameBookmarkAt(frame->startFrame));
        }
    }
    if (primaryTimelineChanged)
    {
        if (Settings::panZoomByTimeline)
        {
            if (primary)
            {
                SetPanAndZoom(primary->PanInterpolation(), primary->ZoomFactor(), primary->IsPanAndZoomEnabled(),
                              true);
            }
            else
            {
                SetPanAndZoom(QPointF(0.0, 0.0), 1.0f, false, true);
            }
        }
        if (Settings::holdAnnotationsByTimeline)
        {
            holdAnnotationFramesEnabled = primary && primary->HoldAnnotationFramesEnabled();
            annotationsOverlay->SetHoldFramesEnabled(holdAnnotationFramesEnabled);
            Q_EMIT HoldAnnotationFramesChanged(holdAnnotationFramesEnabled);
        }
        primaryTimelineChanged = false;
    }
    if (primary && primary->OutputId() == index)
    {
        if (!Settings::viewerRefreshRateFpsOverride)
        {
            IncrementVideoFrameFps();
        }
        Q_EMIT PrimaryVideoFrameChanged(frame);
    }
}

void ViewerWidget::EmptyFrameSlots()
{
    for (int index = 0; index < frameSlots.size(); ++index)
    {
        frameSlots[index] = {};
        viewer->SetVideoFrame(index, nullptr);
    }
}

void ViewerWidget::SetPrimaryTimeline(Timeline* timeline)
{
    if (timeline == PrimaryTimeline())
    {
        return;
    }
    disconnect(primaryTimelineDestroyedConnection);
    primaryTimeline = timeline;
    primaryTimelineGuard = timeline;
    if (timeline)
    {
        primaryTimelineDestroyedConnection =
            connect(timeline, &QObject::destroyed, this, &ViewerWidget::OnPrimaryTimelineDestroyed);
    }
    primaryTimelineChanged = true;
    // Nothing of the timeline before may show after the switch.
    EmptyFrameSlots();
    annotationsOverlay->SetFrameBookmark(nullptr);
    viewerOverlay->SetPrimaryTimeline(timeline);
    viewerOverlay->SetImageDisplayResolution(static_cast<float>(viewer->PrimaryVideoDisplayWidth()),
                                             static_cast<float>(viewer->PrimaryVideoDisplayHeight()), 0);
    annotationsOverlay->SetPrimaryTimeline(timeline);
    annotationsOverlay->SetBackgroundFrameBookmark(timeline ? timeline->BackgroundFrameBookmark() : nullptr);
}

void ViewerWidget::OnPrimaryTimelineDestroyed()
{
    primaryTimeline = nullptr;
    primaryTimelineGuard = nullptr;
    EmptyFrameSlots();
    annotationsOverlay->SetFrameBookmark(nullptr);
    annotationsOverlay->SetBackgroundFrameBookmark(nullptr);
}

void ViewerWidget::UpdateNoVideoFrameBookmarks(int frame)
{
    Timeline* const primary = PrimaryTimeline();
    if (!primary)
    {
        return;
    }
    int const outputId = primary->OutputId();
    if (outputId < 0 || outputId >= frameSlots.size())
    {
        return;
    }
    FramePtr const& shown = frameSlots.at(outputId)[SLOT_SHOWN];
    if (!shown || shown->emptyFrame)
    {
        annotationsOverlay->SetFrameBookmark(primary->FrameBookmarkAt(frame));
    }
}

void ViewerWidget::ClearBookmarks(int)
{
    annotationsOverlay->SetFrameBookmark(nullptr);
}

// ---- Frame rate ---------------------------------------------------------------------

void ViewerWidget::IncrementVideoFrameFps()
{
    fpsMeter->IncrementVideoFrameFps(PrimaryTimeline());
}

void ViewerWidget::ResetFps()
{
    fpsMeter->ResetFps();
}

void ViewerWidget::OnPlaybackStateChanged()
{
    UpdateGhostingVisibility();
    UpdateAnnotationVisibility();
    ResetFps();
}

void ViewerWidget::OnViewerPicturePainted()
{
    if (!firstPicturePainted)
    {
        firstPicturePainted = true;
        Q_EMIT FirstPicturePainted();
    }
}

void ViewerWidget::OnViewerPaintingFinished()
{
    if (Settings::viewerRefreshRateFpsOverride)
    {
        IncrementVideoFrameFps();
    }
}

// ---- Layout, background, wipe, orientation -------------------------------------------

void ViewerWidget::SetViewerLayout(int rows, int columns, int stackHeight)
{
    viewer->SetViewerLayout(rows, columns, stackHeight);
}

void ViewerWidget::SetViewerLayoutByType(ViewerLayoutType type)
{
    viewer->SetViewerLayout(type);
}

void ViewerWidget::ToggleViewerLayout(ViewerLayoutType type)
{
    viewer->ToggleViewerLayout(type);
}

void ViewerWidget::UpdateViewerLayout()
{
    viewer->UpdateViewerLayout();
}

void ViewerWidget::OnViewerLayoutChanged()
{
    ViewerLayoutType const layout = viewer->ViewerLayout();
    if (layout == ViewerLayoutType::HorizontalSplit || layout == ViewerLayoutType::VerticalSplit ||
        layout == ViewerLayoutType::Grid)
    {
        SetViewerOverlayDrawable(ViewerOverlayDrawable::Off);
        SetWipeEnabled(false);
    }
    annotationsOverlay->setGeometry(viewer->ViewportRectAtIndex(0));
    if (openGLViewer)
    {
        annotationsOverlay->UpdateViewportCenterGL();
    }
    Q_EMIT ViewerLayoutChanged(layout);
}

void ViewerWidget::SetViewerBackground(ViewerBackgroundType type)
{
    if (type == viewer->BackgroundType())
    {
        return;
    }
    viewer->SetBackgroundByType(type);
    Q_EMIT ViewerBackgroundChanged(viewer->BackgroundType());
}

void ViewerWidget::SetViewerOverlayDrawable(ViewerOverlayDrawable drawable)
{
    viewerOverlay->SetOverlayDrawable(drawable);
}

void ViewerWidget::OnViewerOverlayDrawableChanged(ViewerOverlayDrawable drawable)
{
    Q_EMIT ViewerOverlayDrawableChanged(drawable);
}

void ViewerWidget::SetWipeEnabled(bool enabled)
{
    ViewerLayoutType const layout = viewer->ViewerLayout();
    if (enabled && layout != ViewerLayoutType::Single && layout != ViewerLayoutType::AOverB)
    {
        return;
    }
    wipeEnabled = enabled;
    viewer->SetWipeEnabled(enabled);
    viewerOverlay->SetWipeEnabled(enabled);
    UpdateCursor();
    Q_EMIT ViewerWipeStateChanged(enabled);
}

void ViewerWidget::ResetWipePositionAndRotation()
{
    viewerOverlay->ResetWipePositionAndRotation();
}

void ViewerWidget::SetImageAlpha(int index, float alpha)
{
    viewer->SetImageAlpha(index, std::clamp(alpha, 0.0f, 1.0f));
}

void ViewerWidget::SetHorizontalFlipEnabled(bool enabled)
{
    viewer->SetHorizontalFlipEnabled(enabled);
    annotationsOverlay->SetHorizontalFlipEnabled(enabled);
}

void ViewerWidget::SetVerticalFlipEnabled(bool enabled)
{
    viewer->SetVerticalFlipEnabled(enabled);
    annotationsOverlay->SetVerticalFlipEnabled(enabled);
}

void ViewerWidget::RotateClockwise()
{
    viewer->RotateClockwise();
    annotationsOverlay->SetRotation(viewer->ViewportRotation());
}

void ViewerWidget::RotateCounterClockwise()
{
    viewer->RotateCounterClockwise();
    annotationsOverlay->SetRotation(viewer->ViewportRotation());
}

void ViewerWidget::ResetFlipAndRotate()
{
    viewer->ResetFlipAndRotate();
    annotationsOverlay->SetRotation(viewer->ViewportRotation());
    annotationsOverlay->SetHorizontalFlipEnabled(false);
    annotationsOverlay->SetVerticalFlipEnabled(false);
}

void ViewerWidget::SetMediaInfoVisible(bool visible)
{
    viewerOverlay->SetMediaInfoVisible(visible);
}

// ---- Annotations ----------------------------------------------------------------------

void ViewerWidget::SetAnnotationVisiblity(AnnotationVisibility visibility)
{
    annotationVisibility = visibility;
    Settings::annotationVisibility = static_cast<int>(visibility);
    UpdateAnnotationVisibility();
    Q_EMIT AnnotationVisibilityChanged(visibility);
}

void ViewerWidget::SyncUiToSettings()
{
    if (Settings::annotationVisibility < 0 || Settings::annotationVisibility >= 3)
    {
        Settings::annotationVisibility = 1;
    }
    annotationVisibility = static_cast<AnnotationVisibility>(Settings::annotationVisibility);
    UpdateAnnotationVisibility();
    Q_EMIT AnnotationVisibilityChanged(annotationVisibility);
}

void ViewerWidget::UpdateAnnotationVisibility()
{
    bool visible = false;
    switch (annotationVisibility)
    {
    case AnnotationVisibility::On:
        visible = true;
        break;
    case AnnotationVisibility::OffDuringPlayback:
        visible = !avManager->IsPlaying();
        break;
    default:
        break;
    }
    if (openGLViewer)
    {
        openGLViewer->SetAnnotationsOverlayVisible(visible);
        annotationsOverlay->SetAnnotationsVisibleHwOverride(visible);
    }
    else
    {
        annotationsOverlay->setVisible(visible);
    }
}

void ViewerWidget::SetAnnotationDrawingEnabled(bool enabled)
{
    annotationDrawingEnabled = enabled;
    UpdateCursor();
}

void ViewerWidget::SetAnnotationActiveLayer(AnnotationLayer layer)
{
    annotationsOverlay->SetActiveLayer(layer);
}

void ViewerWidget::OnActiveAnnotationLayerChanged(AnnotationLayer layer)
{
    Q_EMIT AnnotationActiveLayerChanged(layer);
}

void ViewerWidget::SetAnnotationBackgroundColor(QColor const& color)
{
    annotationsOverlay->SetBackgroundColor(color);
}

void ViewerWidget::SetAnnotationBackgroundOpacity(int opacity)
{
    annotationsOverlay->SetBackgroundOpacity(opacity);
}

void ViewerWidget::UndoAnnotation()
{
    annotationsOverlay->Undo();
}

void ViewerWidget::RedoAnnotation()
{
    annotationsOverlay->Redo();
}

void ViewerWidget::ClearAnnotations()
{
    annotationsOverlay->Clear();
}

void ViewerWidget::CutAnnotations()
{
    annotationsOverlay->Cut();
}

void ViewerWidget::CopyAnnotations()
{
    annotationsOverlay->Copy();
}

void ViewerWidget::PasteAnnotations()
{
    annotationsOverlay->Paste();
}

void ViewerWidget::SetEyedropperEnabled(bool enabled)
{
    viewerOverlay->SetEyeDropperEnabled(enabled);
    UpdateCursor();
}

void ViewerWidget::SetHoldAnnotationFramesEnabled(bool enabled)
{
    holdAnnotationFramesEnabled = enabled;
    annotationsOverlay->SetHoldFramesEnabled(enabled);
    Q_EMIT HoldAnnotationFramesChanged(enabled);
}

void ViewerWidget::SetGhostingEnabled(bool enabled)
{
    ghostingEnabled = enabled;
    UpdateGhostingVisibility();
    Q_EMIT AnnotationGhostingChanged(enabled);
}

void ViewerWidget::UpdateGhostingVisibility()
{
    annotationsOverlay->SetGhostingVisible(ghostingEnabled &&
                                           (!Settings::hideGhostedFramesOnPlayback || !avManager->IsPlaying()));
}

void ViewerWidget::UpdateGhostingProperties()
{
    annotationsOverlay->UpdateGhostingProperties();
}

void ViewerWidget::OnActiveAnnotationToolChanged(AnnotationToolType tool)
{
    activeTool = tool;
    annotationsOverlay->OnActiveToolChanged(tool);
}

void ViewerWidget::UpdateAnnotationStrokeText(QString const& text)
{
    annotationsOverlay->UpdateStrokeText(text);
}

void ViewerWidget::EndAnnotationStroke()
{
    annotationsOverlay->EndStroke();
    strokeInProgress = false;
}

void ViewerWidget::AppendToAnnotationStroke(QPoint const& position)
{
    annotationsOverlay->AppendToStroke(position - panZoomPositionOffset, false);
}

void ViewerWidget::SetCtrlKeyPressed(bool pressed)
{
    ctrlKeyPressed = pressed;
    UpdateCursor();
}

// ---- Pan and zoom ---------------------------------------------------------------------

void ViewerWidget::SetPanAndZoom(QPointF pan, float zoom, bool enabled, bool update)
{
    panInterpolation[0] = pan.x();
    panInterpolation[1] = pan.y();
    zoomFactor = zoom;
    panZoomEnabled = enabled;
    if (update)
    {
        UpdatePanAndZoom();
    }
}

void ViewerWidget::ResetPanAndZoom(bool update)
{
    SetPanAndZoom(QPointF(0.0, 0.0), 1.0f, false, update);
}

void ViewerWidget::ZoomIn()
{
    if (!panZoomEnabled)
    {
        panInterpolation[0] = 0.0;
        panInterpolation[1] = 0.0;
        zoomFactor = 1.1f;
    }
    else
    {
        zoomFactor += 0.1f;
    }
    panZoomEnabled = true;
    UpdatePanAndZoom();
}

void ViewerWidget::ZoomOut()
{
    if (!panZoomEnabled)
    {
        panInterpolation[0] = 0.0;
        panInterpolation[1] = 0.0;
        zoomFactor = 0.9f;
    }
    else
    {
        zoomFactor -= 0.1f;
    }
    panZoomEnabled = true;
    UpdatePanAndZoom();
}

QSize ViewerWidget::PanZoomArea() const
{
    return openGLViewer ? openGLViewer->ViewerSize() : size();
}

void ViewerWidget::UpdatePanAndZoom()
{
    zoomFactor = std::clamp(zoomFactor, Settings::ZOOM_FACTOR_MINIMUM, Settings::ZOOM_FACTOR_MAXIMUM);
    float const shownZoom = panZoomEnabled ? zoomFactor : 1.0f;
    viewerOverlay->SetZoomFactor(shownZoom);
    annotationsOverlay->SetZoomFactor(shownZoom);

    QSize const s = PanZoomArea();
    QSize const z(static_cast<int>(std::lround(s.width() * zoomFactor)),
                  static_cast<int>(std::lround(s.height() * zoomFactor)));
    double const hx = (z.width() - s.width()) / 2.0;
    double const hy = (z.height() - s.height()) / 2.0;
    if (zoomFactor != 1.0f && hx != 0.0 && hy != 0.0)
    {
        panInterpolation[0] += panDragDelta.x() / hx;
        panInterpolation[1] += panDragDelta.y() / hy;
    }
    panInterpolation[0] = std::clamp(panInterpolation[0], -1.0, 1.0);
    panInterpolation[1] = std::clamp(panInterpolation[1], -1.0, 1.0);

    QPoint offset(0, 0);
    if (openGLViewer)
    {
        if (panZoomEnabled)
        {
            double const h = height() / 2.0;
            int const t = openGLViewer->TimeControlOffset();
            int const b = openGLViewer->TimeControlHeight() - t;
            double py = panInterpolation[1];
            if (h > 0.0)
            {
                py = std::clamp(py, -(h - b) / h, (h - t) / h);
            }
            double const zoomLess = zoomFactor - 1.0;
            offset.setX(static_cast<int>(panInterpolation[0] * hx));
            offset.setY(static_cast<int>(hy * py + (t - b) * zoomLess * (1.0 + py) / 2.0 + zoomLess * b * py));
            panZoomPositionOffset =
                QPoint(s.width() / 2 - z.width() / 2, s.height() / 2 - z.height() / 2) + offset;
            openGLViewer->SetPanAndZoom(QPointF(panInterpolation[0], py), zoomFactor);
            viewerOverlay->SetPanAndZoomInterpY(static_cast<float>(py));
            annotationsOverlay->SetPanAndZoomInterpY(static_cast<float>(py));
            viewerOverlay->SetPanAndZoomPositionOffset(panZoomPositionOffset, offset);
        }
        else
        {
            panZoomPositionOffset = QPoint(0, 0);
            openGLViewer->SetPanAndZoom(QPointF(0.0, 0.0), 1.0f);
            viewerOverlay->SetPanAndZoomInterpY(0.0f);
            annotationsOverlay->SetPanAndZoomInterpY(0.0f);
            viewerOverlay->SetPanAndZoomPositionOffset(QPoint(0, 0), QPoint(0, 0));
        }
    }
    else if (panZoomEnabled)
    {
        offset = QPoint(static_cast<int>(panInterpolation[0] * hx), static_cast<int>(panInterpolation[1] * hy));
        panZoomPositionOffset = QPoint(s.width() / 2 - z.width() / 2, s.height() / 2 - z.height() / 2) + offset;
        viewer->SetViewerSize(z);
        viewer->SetViewerPosition(panZoomPositionOffset);
        viewerOverlay->SetPanAndZoomPositionOffset(panZoomPositionOffset, offset);
    }
    else
    {
        panZoomPositionOffset = QPoint(0, 0);
        viewer->SetViewerSize(size());
        viewer->SetViewerPosition(QPoint(0, 0));
        viewerOverlay->SetPanAndZoomPositionOffset(QPoint(0, 0), QPoint(0, 0));
    }
    annotationsOverlay->SetPanAndZoomOffset(offset);
    annotationsOverlay->setGeometry(viewer->ViewportRectAtIndex(0));
    if (openGLViewer)
    {
        annotationsOverlay->UpdateViewportCenterGL();
    }
    if (Timeline* const primary = PrimaryTimeline())
    {
        primary->SetPanAndZoom(PanInterpolation(), zoomFactor, panZoomEnabled);
    }
}

void ViewerWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (openGLViewer)
    {
        openGLViewer->SetViewerSize(size());
        Q_EMIT HwTimeControlOffsetChanged(pos());
    }
    UpdatePanAndZoom();
    viewerOverlay->setFixedSize(size());
}

// ---- Capture, eyedropper, cursor --------------------------------------------------------

QImage ViewerWidget::CaptureImage(bool full)
{
    if (!full && softwareViewer)
    {
        return grab().toImage();
    }
    return viewer->CaptureImage();
}

void ViewerWidget::UpdateEyeDropperColor(QPoint const& position)
{
    if (openGLViewer)
    {
        QImage image = openGLViewer->CaptureFullImage();
        double const ratio = openGLViewer->DevicePixelRatio();
        if (ratio > 1.0)
        {
            image = image.scaled(static_cast<int>(image.width() / ratio), static_cast<int>(image.height() / ratio));
        }
        if (image.rect().contains(position))
        {
            viewerOverlay->SetEyeDropperColor(image.pixelColor(position));
        }
        return;
    }
    QImage const pixel = grab(QRect(position, QSize(1, 1))).toImage();
    if (!pixel.isNull())
    {
        viewerOverlay->SetEyeDropperColor(pixel.pixelColor(0, 0));
    }
}

void ViewerWidget::UpdateCursor()
{
    QPoint const point = viewerOverlay->mapFromGlobal(QCursor::pos());
    if (openGLViewer && openGLViewer->GlobalTimeControlContains(point))
    {
        setCursor(Qt::ArrowCursor);
        return;
    }
    if (openGLViewer && openGLViewer->RangeTimeControlContains(point))
    {
        setCursor(openGLViewer->InRangeTimeControlRangeEditZone(point) ? Qt::SizeHorCursor : Qt::ArrowCursor);
        return;
    }
    if (wipeEnabled && viewerOverlay->InWipeMoveRegion(point))
    {
        setCursor(Qt::SizeAllCursor);
        return;
    }
    if (wipeEnabled && viewerOverlay->InWipeRotateRegion(point))
    {
        setCursor(rotateCursor);
        return;
    }
    if (!annotationDrawingEnabled)
    {
        setCursor(Qt::ArrowCursor);
        return;
    }
    bool const drawingCursor = viewerOverlay->IsEyeDropperEnabled() || !ctrlKeyPressed || strokeInProgress;
    setCursor(drawingCursor ? annotationCursor : QCursor(Qt::ArrowCursor));
}

// ---- Input ------------------------------------------------------------------------------

bool ViewerWidget::PrimaryTimelineHasClips() const
{
    Timeline* const primary = PrimaryTimeline();
    return primary && primary->ClipCount() > 0;
}

bool ViewerWidget::HardwareRenderingMousePressEvent(QMouseEvent* event)
{
    return timeBarMouse.MousePressEvent(event);
}

bool ViewerWidget::HardwareRenderingMouseReleaseEvent(QMouseEvent* event)
{
    return timeBarMouse.MouseReleaseEvent(event);
}

bool ViewerWidget::HardwareRenderingMouseMoveEvent(QMouseEvent* event)
{
    bool const handled = timeBarMouse.MouseMoveEvent(event);
    if (handled)
    {
        if (viewerOverlay->IsEyeDropperEnabled())
        {
            viewerOverlay->UpdateEyeDropper(QPoint(0, 0));
        }
        UpdateCursor();
    }
    return handled;
}

void ViewerWidget::mousePressEvent(QMouseEvent* event)
{
    if (!PrimaryTimelineHasClips())
    {
        return;
    }
    if (HardwareRenderingMousePressEvent(event))
    {
        return;
    }
    QPoint const point = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
    {
        pressConsumed = false;
        if (viewerOverlay->IsEyeDropperEnabled())
        {
            Q_EMIT AnnotationToolColorChangeRequested(viewerOverlay->EyeDropperColor());
            pressConsumed = true;
            return;
        }
        if (wipeEnabled && viewerOverlay->InWipeMoveRegion(point))
        {
            wipeMoving = true;
            viewerOverlay->SetMoveHighlightsEnabled(true);
        }
        else if (wipeEnabled && viewerOverlay->InWipeRotateRegion(point))
        {
            wipeRotating = true;
            viewerOverlay->SetRotateHighlightsEnabled(true);
        }
        else if (!annotationDrawingEnabled || event->modifiers().testFlag(Qt::ControlModifier))
        {
            scrubInProgress = true;
            scrubAnchorX = event->globalPosition().toPoint().x();
            if (avManager->IsPlaying())
            {
                if (Settings::pausePlaybackOnScrub)
                {
                    avManager->Pause(DecodeBias::None);
                }
                else if (playbackControl)
                {
                    playbackControl->SetLeftMousePauseEnabled(true);
                    leftMousePauseActive = true;
                }
            }
        }
        else
        {
            avManager->Pause(DecodeBias::None);
            if (!annotationsOverlay->Contains(point) || !viewer->CanPaintAnnotations())
            {
                pressConsumed = true;
                return;
            }
            if (!inputThreadManager)
            {
                inputThreadManager = new InputThreadManager(this);
                connect(inputThreadManager, &InputThreadManager::MousePositionChanged, this,
                        &ViewerWidget::AppendToAnnotationStroke);
            }
            annotationsOverlay->BeginStroke(point - panZoomPositionOffset);
            strokeInProgress = true;
            if (activeTool == AnnotationToolType::Text)
            {
                if (!textToolPopup)
                {
                    textToolPopup = new TextToolPopup(nullptr);
                    connect(textToolPopup, &TextToolPopup::TextChanged, this,
                            &ViewerWidget::UpdateAnnotationStrokeText);
                    connect(textToolPopup, &TextToolPopup::PopupClosed, this, &ViewerWidget::EndAnnotationStroke);
                }
                int const w = static_cast<int>(width() * Settings::annotationTextBoxWidthScaler);
                int const h = static_cast<int>(height() * Settings::annotationTextBoxHeightScaler);
                QPoint const bottomCentre = mapToGlobal(QPoint(width() / 2, height() - 20));
                textToolPopup->setGeometry(bottomCentre.x() - w / 2, bottomCentre.y() - h, w, h);
                textToolPopup->show();
            }
            else
            {
                inputThreadManager->CreateInputThread(this);
            }
        }
        UpdateCursor();
        return;
    }
    if (event->button() == Qt::MiddleButton && Settings::panZoomMouseControls)
    {
        Qt::KeyboardModifiers const modifiers = event->modifiers();
        if (OnlyModifiers(modifiers, Qt::ControlModifier | Qt::ShiftModifier))
        {
            zoomDragActive = true;
            zoomDragStart = event->globalPosition().toPoint();
        }
        else if (OnlyModifiers(modifiers, Qt::ControlModifier) && zoomFactor != 1.0f)
        {
            panDragActive = true;
            panDragDelta = QPoint(0, 0);
            panDragStart = event->globalPosition().toPoint();
        }
    }
}

void ViewerWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (HardwareRenderingMouseMoveEvent(event))
    {
        return;
    }
    QPoint const point = event->position().toPoint();
    QPoint const global = event->globalPosition().toPoint();
    if (event->buttons().testFlag(Qt::LeftButton))
    {
        if (pressConsumed)
        {
            return;
        }
        bool const snap = !OnlyModifiers(event->modifiers(), Qt::ControlModifier);
        if (wipeMoving)
        {
            viewerOverlay->SetWipePosition(point, snap);
        }
        else if (wipeRotating)
        {
            viewerOverlay->SetWipeRotationFromPoint(point, snap);
        }
        else if (strokeInProgress)
        {
            // The sampling thread feeds the stroke.
        }
        else if (scrubInProgress)
        {
            bool const alt = event->modifiers().testFlag(Qt::AltModifier);
            bool const shift = event->modifiers().testFlag(Qt::ShiftModifier);
            int interval = Settings::scrubFrameInterval;
            if (alt && !shift)
            {
                interval = Settings::scrubFrameIntervalAlt;
            }
            else if (shift && !alt)
            {
                interval = Settings::scrubFrameIntervalShift;
            }
            interval = std::max(1, interval);
            int x = global.x();
            QPoint wrapped = global;
            if (Settings::endlessMouseScrub && EndlessMouseDragWrapped(wrapped))
            {
                QCursor::setPos(wrapped);
                scrubAnchorX = wrapped.x();
                x = wrapped.x();
            }
            int const d = x - scrubAnchorX;
            if (d >= interval)
            {
                scrubAnchorX = x;
                Q_EMIT SeekNextFrameRequested();
            }
            else if (d <= -interval)
            {
                scrubAnchorX = x;
                Q_EMIT SeekPreviousFrameRequested();
            }
        }
        return;
    }
    if (event->buttons().testFlag(Qt::MiddleButton))
    {
        if (panDragActive)
        {
            if (!panZoomEnabled)
            {
                SetPanAndZoom(QPointF(0.0, 0.0), 1.0f, true, false);
            }
            panDragDelta = global - panDragStart;
            panDragStart = global;
            UpdatePanAndZoom();
            panDragDelta = QPoint(0, 0);
        }
        else if (zoomDragActive)
        {
            if (!panZoomEnabled)
            {
                SetPanAndZoom(QPointF(0.0, 0.0), 1.0f, true, false);
            }
            zoomFactor += static_cast<float>((global.x() - zoomDragStart.x()) / 500.0);
            zoomDragStart = global;
            UpdatePanAndZoom();
        }
        return;
    }
    if (event->buttons() == Qt::NoButton)
    {
        if (viewerOverlay->IsEyeDropperEnabled())
        {
            viewerOverlay->UpdateEyeDropper(point);
            viewerOverlay->DoUpdate();
        }
        UpdateCursor();
    }
}

void ViewerWidget::mouseReleaseEvent(QMouseEvent* event)
{
    // Releases are never gated: each finishes the gesture its press began,
    // whatever happened to the timeline meanwhile.
    if (HardwareRenderingMouseReleaseEvent(event))
    {
        return;
    }
    if (event->button() == Qt::MiddleButton)
    {
        if (panDragActive)
        {
            panDragDelta = QPoint(0, 0);
            panDragActive = false;
        }
        else
        {
            zoomDragActive = false;
        }
        return;
    }
    if (event->button() != Qt::LeftButton)
    {
        return;
    }
    if (!pressConsumed)
    {
        if (strokeInProgress)
        {
            if (inputThreadManager)
            {
                inputThreadManager->DestroyInputThread();
            }
            if (activeTool != AnnotationToolType::Text || !textToolPopup || !textToolPopup->isVisible())
            {
                annotationsOverlay->EndStroke();
            }
            strokeInProgress = false;
        }
        else if (leftMousePauseActive && playbackControl)
        {
            playbackControl->SetLeftMousePauseEnabled(false);
        }
    }
    leftMousePauseActive = false;
    scrubInProgress = false;
    pressConsumed = false;
    wipeMoving = false;
    wipeRotating = false;
    viewerOverlay->SetMoveHighlightsEnabled(false);
    viewerOverlay->SetRotateHighlightsEnabled(false);
    UpdateCursor();
}

void ViewerWidget::wheelEvent(QWheelEvent* event)
{
    if (panDragActive || zoomDragActive || !Settings::panZoomMouseControls ||
        !OnlyModifiers(event->modifiers(), Qt::ControlModifier))
    {
        return;
    }
    int const delta = event->angleDelta().y();
    if (delta == 0)
    {
        return;
    }
    if (!panZoomEnabled)
    {
        panInterpolation[0] = 0.0;
        panInterpolation[1] = 0.0;
        zoomFactor = delta > 0 ? 1.1f : 0.9f;
    }
    else
    {
        zoomFactor += delta > 0 ? 0.1f : -0.1f;
    }
    panZoomEnabled = true;
    UpdatePanAndZoom();
    event->accept();
}

void ViewerWidget::enterEvent(QEnterEvent* event)
{
    ctrlKeyPressed = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
    UpdateCursor();
    QPoint const point = event->position().toPoint();
    bool const onBar = openGLViewer &&
                       (openGLViewer->GlobalTimeControlContains(point) || openGLViewer->RangeTimeControlContains(point));
    if (!onBar && viewerOverlay->IsEyeDropperEnabled())
    {
        viewerOverlay->UpdateEyeDropper(point);
    }
}

void ViewerWidget::leaveEvent(QEvent*)
{
    if (openGLViewer)
    {
        openGLViewer->GlobalTimeControlSetUnderMouse(false);
        openGLViewer->RangeTimeControlSetUnderMouse(false);
    }
    if (viewerOverlay->IsEyeDropperEnabled())
    {
        viewerOverlay->UpdateEyeDropper(QPoint(0, 0));
        viewerOverlay->DoUpdate();
    }
}

// ---- Desktop edges ------------------------------------------------------------------

void ViewerWidget::SetScreenGeometryLookup(ScreenGeometryLookup lookup)
{
    desktopEdges.SetScreenGeometryLookup(std::move(lookup));
}

bool ViewerWidget::EndlessMouseDragWrapped(QPoint& position) const
{
    return desktopEdges.EndlessMouseDragWrapped(position);
}


// ---- Drag and drop ------------------------------------------------------------------

bool ViewerWidget::CanDrop(QMimeData const* mimeData)
{
    if (!mimeData)
    {
        return false;
    }
    if (mimeData->hasFormat(QStringLiteral("text/uri-list")))
    {
        QList<QUrl> const urls = mimeData->urls();
        return !urls.isEmpty() && urls.first().isLocalFile();
    }
    return mimeData->hasFormat(UiHelpers::PROJECT_VIEW_FOLDER_MIME_TYPE) ||
           mimeData->hasFormat(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE);
}

QList<QUuid> ViewerWidget::UuidsFromMimeData(QMimeData const* mimeData, QString const& mimeType)
{
    if (!mimeData || !mimeData->hasFormat(mimeType))
    {
        return {};
    }
    return UiHelpers::ReadIdList(mimeData->data(mimeType));
}

void ViewerWidget::dragEnterEvent(QDragEnterEvent* event)
{
    QMimeData const* const mimeData = event->mimeData();
    if (!CanDrop(mimeData))
    {
        return;
    }
    if (mimeData->hasFormat(QStringLiteral("text/uri-list")) &&
        FileHelpers::ValidFileDropUrls(mimeData->urls(), true, true).isEmpty())
    {
        return;
    }
    event->acceptProposedAction();
    viewerOverlay->SetViewportDropRect(viewer->ViewportRectAtPosition(event->position().toPoint()));
}

void ViewerWidget::dragMoveEvent(QDragMoveEvent* event)
{
    viewerOverlay->SetViewportDropRect(viewer->ViewportRectAtPosition(event->position().toPoint()));
    event->acceptProposedAction();
}

void ViewerWidget::dragLeaveEvent(QDragLeaveEvent*)
{
    viewerOverlay->SetViewportDropRect(QRect());
}

void ViewerWidget::dropEvent(QDropEvent* event)
{
    QMimeData const* const mimeData = event->mimeData();
    if (CanDrop(mimeData))
    {
        QPoint const point = event->position().toPoint();
        bool const ctrl = event->modifiers().testFlag(Qt::ControlModifier);
        int const viewport = viewer->ViewportIndexAtPosition(point);
        if (mimeData->hasFormat(QStringLiteral("text/uri-list")))
        {
            QList<QUrl> const urls = FileHelpers::ValidFileDropUrls(mimeData->urls(), true, true);
            if (urls.size() == 1 && FileHelpers::IsSupportedProjectFilePath(urls.first().toLocalFile()))
            {
                Q_EMIT OpenProjectRequested(urls.first().toLocalFile());
            }
            else if (!urls.isEmpty())
            {
                if (!ctrl && viewport >= 0)
                {
                    Q_EMIT OpenUrlsInViewerRequested(urls, viewport, 1, true);
                }
                else if (ctrl)
                {
                    Q_EMIT OpenUrlsInViewerRequested(urls, 0, static_cast<int>(urls.size()), true);
                }
            }
        }
        else
        {
            QList<QUuid> const timelines = UuidsFromMimeData(mimeData, UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE);
            if (!timelines.isEmpty() && viewport >= 0)
            {
                Q_EMIT OpenTimelinesInViewerRequested(ctrl ? timelines : QList<QUuid>{timelines.first()}, viewport,
                                                      false);
            }
            QList<QUuid> const folders = UuidsFromMimeData(mimeData, UiHelpers::PROJECT_VIEW_FOLDER_MIME_TYPE);
            if (!folders.isEmpty() && !ctrl)
            {
                Q_EMIT OpenFolderInViewerRequested(folders.first(), 0, false);
            }
        }
        setFocus();
        event->acceptProposedAction();
    }
    viewerOverlay->SetViewportDropRect(QRect());
}
