#pragma once

#include "model/StrokeData.h"
#include "viewer/AnnotationLayer.h"
#include "viewer/AnnotationToolType.h"

#include <QImage>
#include <QList>
#include <QMetaObject>
#include <QPainterPath>
#include <QPointer>
#include <QPointF>
#include <QPolygonF>
#include <QSize>
#include <QTimer>
#include <QTransform>
#include <QWidget>

#include <functional>
#include <memory>

class AvManager;
class ProjectManager;
class QPainter;
class Timeline;
struct FrameBookmark;

// The reviewer's strokes over the picture of one output: the foreground layer
// (the shown frame's bookmark) and the background layer (the timeline's
// background bookmark), held and ghosted frames, and the live stroke. The
// finished strokes are rendered once into cached images; a paint draws those
// and the live stroke, clipped to the wipe mask. In software rendering the
// overlay is a shown, mouse-transparent widget that paints itself; in
// hardware rendering it stays hidden and the OpenGL viewer calls PaintGL.
//
// Stroke geometry is normalised: origin at the centre of the displayed image,
// one unit the displayed image width, widths in thousandths of it.
//
// A bookmark's strokes and its undo stack always agree: every stroke that
// stays in a bookmark gets its stroke command, also one cut off by a bookmark
// change, and the live stroke is committed before undo, redo, clear, cut and
// paste. Main thread only.
class AnnotationsOverlay : public QWidget
{
    Q_OBJECT

public:
    AnnotationsOverlay(ProjectManager* projectManager, int outputId, QWidget* parent = nullptr);
    ~AnnotationsOverlay() override;

    // Which modifiers are held; the application's by default.
    void SetKeyboardModifiersQuery(std::function<Qt::KeyboardModifiers()> query);

    void SetPrimaryTimeline(Timeline* timeline);
    void SetFrameBookmark(FrameBookmark* bookmark);
    void SetBackgroundFrameBookmark(FrameBookmark* bookmark);
    FrameBookmark* ForegroundBookmark() const;
    FrameBookmark* BackgroundBookmark() const;
    FrameBookmark* ActiveBookmark() const;

    void SetActiveLayer(AnnotationLayer layer);
    AnnotationLayer ActiveLayer() const;
    AnnotationToolType ActiveTool() const;
    void SetHoldFramesEnabled(bool enabled);
    void SetGhostingVisible(bool visible);
    void UpdateGhostingProperties();
    void SetBackgroundColor(QColor const& color);
    void SetBackgroundOpacity(int opacity);

    void SetImageDisplayWidth(int width, int height, int outputId);
    void SetRotation(int degrees);
    void SetHorizontalFlipEnabled(bool enabled);
    void SetVerticalFlipEnabled(bool enabled);
    void SetZoomFactor(float zoom);
    void SetPanAndZoomOffset(QPoint const& offset);
    void SetPanAndZoomInterpY(float value);
    void SetAnnotationsVisibleHwOverride(bool visible);
    bool AnnotationsVisible() const;
    bool Contains(QPoint const& point) const;

    void UpdateGeometryGL(int width, int height, int top);
    void UpdateViewportCenterGL();
    void PaintGL(QPainter& painter);

    // Strokes (positions in overlay pixels).
    void BeginStroke(QPoint const& position);
    void AppendToStroke(QPoint const& position, bool newSubPath);
    void EndStroke();
    void UpdateStrokeText(QString const& text);
    // The stroke being drawn or faded, null when none. Valid until the next
    // call into the overlay.
    StrokeData const* ActiveStroke() const;

    void Undo();
    void Redo();
    void Clear();
    void Cut();
    void Copy();
    void Paste();
    QList<StrokeData> const& ClipboardStrokes() const;

    void ResetActiveStroke();
    void ConnectUndoStack(FrameBookmark* bookmark);

    QTransform const& OrientationTransform() const;
    QTransform const& ImageToScreenTransform() const;

Q_SIGNALS:
    void ActiveLayerChanged(AnnotationLayer layer);
    void BookmarkIsAnnotationChanged(int timelineFrame, bool hasStrokes);
    void UpdateRequested();

public Q_SLOTS:
    void UpdateForegroundBookmark();
    void OnActiveToolChanged(AnnotationToolType tool);
    void UpdateLaserPointerOpacity();
    void SetWipePosition(QPointF const& position);
    void SetWipeMask(QPolygonF const& polygon);
    void DoUpdate();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private Q_SLOTS:
    void OnForegroundUndoIndexChanged();
    void OnFrameBookmarksReplaced();
    void OnPrimaryTimelineDestroyed();

private:
    StrokeData* LiveStroke();
    bool IsDrawingOnBookmark(FrameBookmark* bookmark) const;
    // Gives the live stroke its command; it stays in its bookmark.
    void CommitActiveStroke();
    void Repaint();
    // The timeline shown in this overlay's output.
    Timeline* OutputTimeline() const;
    void InsertBookmarkAtPlaybackFrame();
    QPointF MappedPoint(QPoint const& position) const;
    QPointF NormalisedPoint(QPointF const& mapped) const;
    QPointF MovingAveragePoint(StrokeData const& stroke, QPointF const& point);
    void RebuildShapePath(StrokeData& stroke) const;
    void UpdateTransforms();
    QTransform OrientationAround(QPointF const& centre) const;
    void UpdateWipeMaskPath();
    QImage NewImage() const;
    // Whether the bookmark has strokes to paint into its layer's image.
    bool HasStrokesToPaint(FrameBookmark* bookmark) const;
    // The bookmark's strokes painted into a new viewport-sized image; a null
    // image when there are none to paint.
    QImage StrokesImage(FrameBookmark* bookmark, double opacity, QColor const& tint);
    void PaintAnnotationToImage(QImage& image, FrameBookmark* bookmark, double opacity, QColor const& tint);
    void PaintStroke(QPainter& painter, StrokeData const& stroke, QColor const& tint, bool active) const;
    void RebuildThisFrameImage();
    void RebuildHeldFrameImage();
    void RebuildGhostedFramesImage();
    void RebuildBackgroundImage(bool repaint);
    void RebuildActiveLayerImage();
    void DoPaint(QPainter& painter);
    void DrawLayerImage(QPainter& painter, QImage const& image, FrameBookmark* bookmark);

    ProjectManager* projectManager = nullptr;
    AvManager* avManager = nullptr;
    int outputId = 0;
    QPointer<Timeline> primaryTimeline;
    QMetaObject::Connection bookmarksChangedConnection;
    QMetaObject::Connection bookmarksReplacedConnection;
    QMetaObject::Connection timelineDestroyedConnection;
    std::function<Qt::KeyboardModifiers()> keyboardModifiers;

    AnnotationToolType activeTool = AnnotationToolType::Pencil;
    AnnotationLayer activeLayer = AnnotationLayer::Foreground;
    FrameBookmark* foregroundBookmark = nullptr;
    FrameBookmark* backgroundBookmark = nullptr;
    FrameBookmark* activeBookmark = nullptr;
    // The live stroke of a bookmark, held by its index in that bookmark's
    // strokes: a pointer would dangle when the list detaches or shrinks.
    FrameBookmark* strokeBookmark = nullptr;
    int strokeIndex = -1;
    // The laser pointer's stroke belongs to the overlay and never enters a
    // bookmark.
    std::unique_ptr<StrokeData> laserStroke;
    QList<QPointF> recentPoints;
    QTimer laserTimer;
    float laserHold = 0.5f;
    QMetaObject::Connection undoCleanConnection;
    QMetaObject::Connection foregroundIndexConnection;
    QList<StrokeData> clipboard;

    QPointF viewportCentre;
    QPointF zoomedCentre;
    int imageDisplayWidth = 0;
    int imageDisplayHeight = 0;
    int rotation = 0;
    bool horizontalFlip = false;
    bool verticalFlip = false;
    bool holdFramesEnabled = false;
    bool ghostingVisible = false;
    QTransform orientationTransform;
    QTransform inverseOrientationTransform;
    QTransform imageToScreenTransform;
    QImage thisFrameImage;
    QImage heldFrameImage;
    QImage ghostedFramesImage;
    QImage backgroundImage;
    QPointF wipePosition;
    QPainterPath wipeMask;
    QPainterPath wipeMaskPath;
    QSize imageSize {-1, -1};
    int viewportTop = 0;
    int viewportHeightDelta = 0;
    float zoomFactor = 1.0f;
    QPoint panOffset;
    float panZoomInterpY = 0.0f;
    bool hwVisible = false;
};
