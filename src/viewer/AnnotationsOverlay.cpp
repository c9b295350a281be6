#include "viewer/AnnotationsOverlay.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/FrameBookmark.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "viewer/AnnotationClearCmd.h"
#include "viewer/AnnotationPasteCmd.h"
#include "viewer/AnnotationStrokeCmd.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPen>
#include <QResizeEvent>
#include <QShowEvent>

#include <cmath>
#include <optional>

namespace
{
    constexpr int LASER_INTERVAL_MS = 50;
    constexpr int SMOOTHING_WINDOW = 5;
    constexpr double CLICK_PATH_OFFSET = 0.000001;
    constexpr double CLICK_POINT_OFFSET = 0.001;
    constexpr float ARROW_WING_LENGTH = 0.022f;
    constexpr float ARROW_WING_DEGREES = 36.0f;

    bool IsFreehand(int type)
    {
        return type >= 0 && type <= 2;
    }

    int StrokeTypeForTool(AnnotationToolType tool, bool shift)
    {
        switch (tool)
        {
        case AnnotationToolType::Pencil: return shift ? 4 : 0;
        case AnnotationToolType::LaserPointer: return 1;
        case AnnotationToolType::Eraser: return 2;
        case AnnotationToolType::Text: return 3;
        case AnnotationToolType::Arrow: return 5;
        case AnnotationToolType::Ellipse: return 6;
        case AnnotationToolType::Rectangle: return 7;
        }
        return 0;
    }

    // Equal within one part in 10^12, or within 10^-12 where a coordinate is 0.
    bool SamePoint(QPointF const& a, QPointF const& b)
    {
        auto same = [](double p, double q) {
            if (p == 0.0 || q == 0.0)
            {
                return std::abs(p - q) <= 1e-12;
            }
            return qFuzzyCompare(p, q);
        };
        return same(a.x(), b.x()) && same(a.y(), b.y());
    }

    // The vector rotated by the angle and brought to unit length unless it is
    // already (or nearly nothing).
    QPointF WingDirection(float dx, float dy, float degrees)
    {
        float const radians = degrees * float(M_PI) / 180.0f;
        float const c = std::cos(radians);
        float const s = std::sin(radians);
        float x = c * dx - s * dy;
        float y = s * dx + c * dy;
        float const length = std::sqrt(x * x + y * y);
        if (std::abs(length - 1.0f) > 0.00001f && length > 0.00001f)
        {
            x /= length;
            y /= length;
        }
        return QPointF(x, y);
    }
}

AnnotationsOverlay::AnnotationsOverlay(ProjectManager* projectManager, int outputId, QWidget* parent)
    : QWidget(parent)
    , projectManager(projectManager)
    , avManager(projectManager ? projectManager->AvManagerPtr() : nullptr)
    , outputId(outputId)
    , keyboardModifiers(&QGuiApplication::queryKeyboardModifiers)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    laserTimer.setInterval(LASER_INTERVAL_MS);
    laserTimer.setSingleShot(false);
    connect(&laserTimer, &QTimer::timeout, this, &AnnotationsOverlay::UpdateLaserPointerOpacity);
}

AnnotationsOverlay::~AnnotationsOverlay()
{
    // The bookmarks may already be gone with their timeline: only let go.
    disconnect(undoCleanConnection);
    disconnect(foregroundIndexConnection);
}

void AnnotationsOverlay::SetKeyboardModifiersQuery(std::function<Qt::KeyboardModifiers()> query)
{
    keyboardModifiers = query ? std::move(query) : &QGuiApplication::queryKeyboardModifiers;
}

// ---- Bookmarks and layers ----

void AnnotationsOverlay::SetPrimaryTimeline(Timeline* timeline)
{
    disconnect(bookmarksChangedConnection);
    disconnect(bookmarksReplacedConnection);
    disconnect(timelineDestroyedConnection);
    primaryTimeline = timeline;
    if (timeline)
    {
        bookmarksChangedConnection =
            connect(timeline, &Timeline::BookmarksChanged, this, &AnnotationsOverlay::UpdateForegroundBookmark);
        bookmarksReplacedConnection =
            connect(timeline, &Timeline::FrameBookmarksReplaced, this, &AnnotationsOverlay::OnFrameBookmarksReplaced);
        timelineDestroyedConnection =
            connect(timeline, &QObject::destroyed, this, &AnnotationsOverlay::OnPrimaryTimelineDestroyed);
    }
}

void AnnotationsOverlay::UpdateForegroundBookmark()
{
    if (!primaryTimeline)
    {
        return;
    }
    SetFrameBookmark(primaryTimeline->FrameBookmarkAt(primaryTimeline->PlaybackFrame()));
}

void AnnotationsOverlay::OnFrameBookmarksReplaced()
{
    // Called before the old bookmarks are deleted: the live stroke is still
    // committed to its bookmark, then both layers take the current ones.
    if (!primaryTimeline)
    {
        return;
    }
    SetBackgroundFrameBookmark(primaryTimeline->BackgroundFrameBookmark());
    UpdateForegroundBookmark();
    Repaint();
}

void AnnotationsOverlay::OnPrimaryTimelineDestroyed()
{
    // Its bookmarks are being deleted: forget them without touching them.
    disconnect(undoCleanConnection);
    disconnect(foregroundIndexConnection);
    laserTimer.stop();
    laserStroke.reset();
    strokeBookmark = nullptr;
    strokeIndex = -1;
    foregroundBookmark = nullptr;
    backgroundBookmark = nullptr;
    activeBookmark = nullptr;
    thisFrameImage = QImage();
    backgroundImage = QImage();
    Repaint();
}

void AnnotationsOverlay::SetFrameBookmark(FrameBookmark* bookmark)
{
    // A stroke cut off here is committed while its bookmark still reports
    // its changes.
    ResetActiveStroke();
    disconnect(foregroundIndexConnection);
    foregroundBookmark = bookmark;
    if (bookmark)
    {
        foregroundIndexConnection = connect(&bookmark->undoStack, &QUndoStack::indexChanged, this,
                                            &AnnotationsOverlay::OnForegroundUndoIndexChanged);
    }
    if (activeLayer == AnnotationLayer::Foreground)
    {
        activeBookmark = bookmark;
        ConnectUndoStack(bookmark);
    }
    RebuildThisFrameImage();
    RebuildHeldFrameImage();
    RebuildGhostedFramesImage();
    Repaint();
}

void AnnotationsOverlay::SetBackgroundFrameBookmark(FrameBookmark* bookmark)
{
    ResetActiveStroke();
    backgroundBookmark = bookmark;
    if (activeLayer == AnnotationLayer::Background)
    {
        activeBookmark = bookmark;
        ConnectUndoStack(bookmark);
    }
    RebuildBackgroundImage(false);
}

FrameBookmark* AnnotationsOverlay::ForegroundBookmark() const
{
    return foregroundBookmark;
}

FrameBookmark* AnnotationsOverlay::BackgroundBookmark() const
{
    return backgroundBookmark;
}

FrameBookmark* AnnotationsOverlay::ActiveBookmark() const
{
    return activeBookmark;
}

void AnnotationsOverlay::OnForegroundUndoIndexChanged()
{
    if (foregroundBookmark)
    {
        emit BookmarkIsAnnotationChanged(foregroundBookmark->timelineFrame, !foregroundBookmark->strokes.isEmpty());
    }
}

void AnnotationsOverlay::SetActiveLayer(AnnotationLayer layer)
{
    if (layer == activeLayer)
    {
        return;
    }
    activeLayer = layer;
    activeBookmark = layer == AnnotationLayer::Background ? backgroundBookmark : foregroundBookmark;
    ConnectUndoStack(activeBookmark);
    emit ActiveLayerChanged(layer);
}

AnnotationLayer AnnotationsOverlay::ActiveLayer() const
{
    return activeLayer;
}

AnnotationToolType AnnotationsOverlay::ActiveTool() const
{
    return activeTool;
}

void AnnotationsOverlay::ConnectUndoStack(FrameBookmark* bookmark)
{
    disconnect(undoCleanConnection);
    undoCleanConnection = {};
    if (bookmark && projectManager)
    {
        undoCleanConnection = connect(&bookmark->undoStack, &QUndoStack::cleanChanged, projectManager,
                                      &ProjectManager::OnUndoCleanChanged);
    }
}

void AnnotationsOverlay::SetHoldFramesEnabled(bool enabled)
{
    if (enabled != holdFramesEnabled)
    {
        holdFramesEnabled = enabled;
        RebuildHeldFrameImage();
    }
    if (Timeline* timeline = OutputTimeline())
    {
        timeline->SetHoldAnnotationFramesEnabled(enabled);
    }
}

void AnnotationsOverlay::SetGhostingVisible(bool visible)
{
    if (visible == ghostingVisible)
    {
        return;
    }
    ghostingVisible = visible;
    RebuildGhostedFramesImage();
    if (!visible)
    {
        Repaint();
    }
}

void AnnotationsOverlay::UpdateGhostingProperties()
{
    if (ghostingVisible)
    {
        RebuildGhostedFramesImage();
    }
}

void AnnotationsOverlay::SetBackgroundColor(QColor const& color)
{
    Settings::annotationBackgroundColor.setRgb(color.red(), color.green(), color.blue(),
                                               Settings::annotationBackgroundColor.alpha());
    Repaint();
}

void AnnotationsOverlay::SetBackgroundOpacity(int opacity)
{
    Settings::annotationBackgroundColor.setAlpha(qBound(0, opacity, 255));
    Repaint();
}

// ---- Geometry ----

void AnnotationsOverlay::SetImageDisplayWidth(int width, int height, int output)
{
    if (output != outputId || (width == imageDisplayWidth && height == imageDisplayHeight))
    {
        return;
    }
    imageDisplayWidth = width;
    imageDisplayHeight = height;
    UpdateTransforms();
}

void AnnotationsOverlay::SetRotation(int degrees)
{
    int const normalised = ((degrees % 360) + 360) % 360;
    if (normalised == rotation)
    {
        return;
    }
    rotation = normalised;
    UpdateTransforms();
}

void AnnotationsOverlay::SetHorizontalFlipEnabled(bool enabled)
{
    if (enabled != horizontalFlip)
    {
        horizontalFlip = enabled;
        UpdateTransforms();
    }
}

void AnnotationsOverlay::SetVerticalFlipEnabled(bool enabled)
{
    if (enabled != verticalFlip)
    {
        verticalFlip = enabled;
        UpdateTransforms();
    }
}

void AnnotationsOverlay::SetZoomFactor(float zoom)
{
    zoomFactor = zoom;
}

void AnnotationsOverlay::SetPanAndZoomOffset(QPoint const& offset)
{
    panOffset = -offset;
    UpdateTransforms();
}

void AnnotationsOverlay::SetPanAndZoomInterpY(float value)
{
    panZoomInterpY = (value + 1.0f) * -0.5f + 1.0f;
}

void AnnotationsOverlay::SetAnnotationsVisibleHwOverride(bool visible)
{
    if (visible == hwVisible)
    {
        return;
    }
    hwVisible = visible;
    UpdateTransforms();
}

bool AnnotationsOverlay::AnnotationsVisible() const
{
    return Settings::HardwareRenderingInUse() ? hwVisible : isVisible();
}

bool AnnotationsOverlay::Contains(QPoint const& point) const
{
    if (!AnnotationsVisible() || !geometry().contains(point))
    {
        return false;
    }
    return wipeMaskPath.isEmpty() || wipeMaskPath.contains(QPointF(point));
}

void AnnotationsOverlay::SetWipePosition(QPointF const& position)
{
    wipePosition = position;
    UpdateWipeMaskPath();
    Repaint();
}

void AnnotationsOverlay::SetWipeMask(QPolygonF const& polygon)
{
    wipeMask = QPainterPath();
    if (polygon.size() >= 4)
    {
        wipeMask.addPolygon(polygon);
    }
    UpdateWipeMaskPath();
    Repaint();
}

void AnnotationsOverlay::UpdateGeometryGL(int width, int height, int top)
{
    imageSize = QSize(width, height);
    viewportTop = top;
    int const parentHeight = parentWidget() ? parentWidget()->height() : this->height();
    viewportHeightDelta = height + 2 * top - parentHeight;
    viewportCentre = QPointF(this->width() * 0.5, this->height() * 0.5 + top);
    UpdateTransforms();
}

void AnnotationsOverlay::UpdateViewportCenterGL()
{
    viewportCentre = QPointF(width() * 0.5, height() * 0.5 + viewportTop);
    UpdateTransforms();
}

void AnnotationsOverlay::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    imageSize = event->size();
    viewportCentre = QPointF(imageSize.width() * 0.5, imageSize.height() * 0.5);
    UpdateTransforms();
}

void AnnotationsOverlay::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Geometry changes while hidden did not reach the transforms.
    UpdateTransforms();
}

QTransform AnnotationsOverlay::OrientationAround(QPointF const& centre) const
{
    QTransform transform;
    if (rotation == 0 && !horizontalFlip && !verticalFlip)
    {
        return transform;
    }
    transform.translate(centre.x(), centre.y());
    transform.rotate(rotation);
    if (imageDisplayWidth != 0 && (rotation == 90 || rotation == 270))
    {
        double const scale = double(imageDisplayHeight) / double(imageDisplayWidth);
        transform.scale(scale, scale);
    }
    transform.scale(horizontalFlip ? -1.0 : 1.0, verticalFlip ? -1.0 : 1.0);
    transform.translate(-centre.x(), -centre.y());
    return transform;
}

void AnnotationsOverlay::UpdateTransforms()
{
    if (!AnnotationsVisible())
    {
        return;
    }
    bool const hardware = Settings::HardwareRenderingInUse();
    QPointF const centre = viewportCentre;
    zoomedCentre = centre;
    orientationTransform = OrientationAround(centre);
    inverseOrientationTransform = orientationTransform.inverted();
    if (hardware && zoomFactor != 1.0f)
    {
        int const parentHeight = parentWidget() ? parentWidget()->height() : height();
        zoomedCentre.setX(centre.x() * zoomFactor);
        zoomedCentre.setY(zoomFactor * centre.y() -
                          (zoomFactor - 1.0f) * (parentHeight - imageSize.height()) * panZoomInterpY);
        inverseOrientationTransform = OrientationAround(zoomedCentre).inverted();
    }

    double dx = 0.0;
    double dy = viewportTop;
    if (hardware)
    {
        double const a = panOffset.x();
        double const b = viewportTop + panOffset.y();
        double const fx = horizontalFlip ? -1.0 : 1.0;
        double const fy = verticalFlip ? -1.0 : 1.0;
        double const r = imageDisplayHeight != 0 ? double(imageDisplayWidth) / double(imageDisplayHeight) : 0.0;
        switch (rotation)
        {
        case 90:
            dx = std::trunc(fx * b * r);
            dy = std::trunc(verticalFlip ? a * r : -a * r);
            break;
        case 180:
            dx = -fx * a;
            dy = -fy * b;
            break;
        case 270:
            dx = std::trunc(-fx * b * r);
            dy = std::trunc(verticalFlip ? -a * r : a * r);
            break;
        default:
            dx = fx * a;
            dy = fy * b;
            break;
        }
    }
    imageToScreenTransform = QTransform();
    imageToScreenTransform.translate(centre.x() - dx, centre.y() - dy);
    imageToScreenTransform.scale(imageDisplayWidth, imageDisplayWidth);

    RebuildThisFrameImage();
    RebuildHeldFrameImage();
    RebuildGhostedFramesImage();
    RebuildBackgroundImage(true);
    UpdateWipeMaskPath();
}

void AnnotationsOverlay::UpdateWipeMaskPath()
{
    if (!Settings::HardwareRenderingInUse())
    {
        wipeMaskPath = wipeMask;
        return;
    }
    QWidget const* parent = parentWidget();
    double const w = parent ? parent->width() : width();
    double const h = (parent ? parent->height() : height()) + viewportHeightDelta;
    QPointF const p = wipePosition - QPointF(w * 0.5, h * 0.5);
    double const z = zoomFactor != 0.0f ? zoomFactor : 1.0;
    wipeMaskPath = wipeMask.translated((p.x() * (z - 1.0) - panOffset.x()) / z, (p.y() * (z - 1.0) - panOffset.y()) / z);
}

QTransform const& AnnotationsOverlay::OrientationTransform() const
{
    return orientationTransform;
}

QTransform const& AnnotationsOverlay::ImageToScreenTransform() const
{
    return imageToScreenTransform;
}

// ---- Strokes ----

StrokeData* AnnotationsOverlay::LiveStroke()
{
    if (laserStroke)
    {
        return laserStroke.get();
    }
    if (strokeBookmark && strokeIndex >= 0 && strokeIndex < strokeBookmark->strokes.size())
    {
        return &strokeBookmark->strokes[strokeIndex];
    }
    return nullptr;
}

StrokeData const* AnnotationsOverlay::ActiveStroke() const
{
    return const_cast<AnnotationsOverlay*>(this)->LiveStroke();
}

bool AnnotationsOverlay::IsDrawingOnBookmark(FrameBookmark* bookmark) const
{
    return bookmark && strokeBookmark == bookmark && strokeIndex >= 0 && strokeIndex < bookmark->strokes.size();
}

void AnnotationsOverlay::CommitActiveStroke()
{
    FrameBookmark* bookmark = strokeBookmark;
    int const index = strokeIndex;
    strokeBookmark = nullptr;
    strokeIndex = -1;
    recentPoints.clear();
    // The command takes the bookmark's last stroke on undo: it is pushed only
    // while the live stroke is that last stroke.
    if (bookmark && index >= 0 && index == bookmark->strokes.size() - 1)
    {
        bookmark->undoStack.push(new AnnotationStrokeCmd(bookmark));
    }
}

void AnnotationsOverlay::ResetActiveStroke()
{
    laserTimer.stop();
    laserStroke.reset();
    CommitActiveStroke();
}

void AnnotationsOverlay::OnActiveToolChanged(AnnotationToolType tool)
{
    activeTool = tool;
}

Timeline* AnnotationsOverlay::OutputTimeline() const
{
    Timeline* timeline = avManager ? avManager->TimelineWithOutputId(outputId) : nullptr;
    if (!timeline && primaryTimeline && primaryTimeline->OutputId() == outputId)
    {
        // The primary timeline stands in while its decode task is not running.
        timeline = primaryTimeline;
    }
    return timeline;
}

void AnnotationsOverlay::InsertBookmarkAtPlaybackFrame()
{
    Timeline* timeline = OutputTimeline();
    if (timeline && projectManager)
    {
        projectManager->DoInsertFrameBookmarkCmd(timeline, timeline->PlaybackFrame());
    }
}

QPointF AnnotationsOverlay::MappedPoint(QPoint const& position) const
{
    return inverseOrientationTransform.map(QPointF(position));
}

QPointF AnnotationsOverlay::NormalisedPoint(QPointF const& mapped) const
{
    if (imageDisplayWidth == 0)
    {
        return mapped;
    }
    QPointF const centre = Settings::HardwareRenderingInUse() ? zoomedCentre : viewportCentre;
    return (mapped - centre) / double(imageDisplayWidth);
}

void AnnotationsOverlay::BeginStroke(QPoint const& position)
{
    if (StrokeData const* stroke = LiveStroke())
    {
        bool const survives = laserStroke && stroke->width == Settings::annotationToolSize &&
                              stroke->color.rgb() == Settings::annotationToolColor.rgb();
        if (!survives)
        {
            ResetActiveStroke();
        }
    }
    laserTimer.stop();

    if (activeTool == AnnotationToolType::LaserPointer)
    {
        bool const continuing = bool(laserStroke);
        if (!laserStroke)
        {
            laserStroke = std::make_unique<StrokeData>();
            laserStroke->type = 1;
            laserStroke->width = Settings::annotationToolSize;
            laserStroke->color = Settings::annotationToolColor;
        }
        laserStroke->color.setAlpha(int(Settings::annotationToolOpacity * 255.0f));
        recentPoints.clear();
        AppendToStroke(position, continuing);
        Repaint();
        return;
    }

    if (activeLayer == AnnotationLayer::Foreground && !foregroundBookmark)
    {
        // The timeline's BookmarksChanged brings the new bookmark in.
        InsertBookmarkAtPlaybackFrame();
    }
    if (!activeBookmark)
    {
        Repaint();
        return;
    }
    StrokeData stroke;
    stroke.type = StrokeTypeForTool(activeTool, keyboardModifiers().testFlag(Qt::ShiftModifier));
    stroke.width = Settings::annotationToolSize;
    stroke.color = activeTool == AnnotationToolType::Eraser ? QColor(Qt::black) : Settings::annotationToolColor;
    stroke.color.setAlpha(int(255.0f * Settings::annotationToolOpacity));
    activeBookmark->strokes.append(stroke);
    strokeBookmark = activeBookmark;
    strokeIndex = activeBookmark->strokes.size() - 1;
    recentPoints.clear();
    AppendToStroke(position, false);
    Repaint();
}

void AnnotationsOverlay::AppendToStroke(QPoint const& position, bool newSubPath)
{
    StrokeData* stroke = LiveStroke();
    if (!stroke)
    {
        return;
    }
    QPointF const mapped = MappedPoint(position);
    QPointF const normalised = NormalisedPoint(mapped);
    if (IsFreehand(stroke->type))
    {
        if (stroke->points.isEmpty())
        {
            stroke->path.moveTo(normalised);
            stroke->path.lineTo(normalised.x() + CLICK_PATH_OFFSET, normalised.y());
            stroke->points = {mapped, QPointF(mapped.x() + CLICK_POINT_OFFSET, mapped.y())};
            recentPoints.append(mapped);
        }
        else
        {
            QPointF const average = MovingAveragePoint(*stroke, mapped);
            if (average.x() != 0.0 || average.y() != 0.0)
            {
                if (stroke->points.size() < 2)
                {
                    stroke->points.append(average);
                }
                else
                {
                    stroke->points[1] = average;
                }
                QPointF const target = NormalisedPoint(average);
                if (newSubPath)
                {
                    stroke->path.moveTo(target);
                }
                else
                {
                    stroke->path.lineTo(target);
                }
            }
        }
    }
    else if (stroke->points.isEmpty())
    {
        stroke->points = {normalised, QPointF(normalised.x() + CLICK_PATH_OFFSET, normalised.y())};
    }
    else
    {
        QPointF current = normalised;
        QPointF const anchor = stroke->points.at(0);
        if ((stroke->type == 6 || stroke->type == 7) && keyboardModifiers().testFlag(Qt::ShiftModifier))
        {
            QPointF const d = current - anchor;
            if (std::abs(d.y()) > std::abs(d.x()))
            {
                current.setY(anchor.y() + (d.y() > 0 ? std::abs(d.x()) : -std::abs(d.x())));
            }
            else if (std::abs(d.x()) > std::abs(d.y()))
            {
                current.setX(anchor.x() + (d.x() > 0 ? std::abs(d.y()) : -std::abs(d.y())));
            }
        }
        if (stroke->points.size() < 2)
        {
            stroke->points.append(current);
        }
        else
        {
            stroke->points[1] = current;
        }
        RebuildShapePath(*stroke);
    }
    Repaint();
}

void AnnotationsOverlay::RebuildShapePath(StrokeData& stroke) const
{
    QPointF const p0 = stroke.points.value(0);
    QPointF const p1 = stroke.points.value(1);
    switch (stroke.type)
    {
    case 4:
        stroke.path = QPainterPath(p0);
        stroke.path.lineTo(p1);
        break;
    case 5:
    {
        QPointF const shaftStart = Settings::annotationDrawArrowTipToBase ? p1 : p0;
        QPointF const tip = Settings::annotationDrawArrowTipToBase ? p0 : p1;
        float const dx = float(shaftStart.x() - tip.x());
        float const dy = float(shaftStart.y() - tip.y());
        QPointF const wing1 = tip + ARROW_WING_LENGTH * WingDirection(dx, dy, ARROW_WING_DEGREES);
        QPointF const wing2 = tip + ARROW_WING_LENGTH * WingDirection(dx, dy, -ARROW_WING_DEGREES);
        stroke.path = QPainterPath(shaftStart);
        stroke.path.lineTo(tip);
        stroke.path.lineTo(wing1);
        stroke.path.moveTo(tip);
        stroke.path.lineTo(wing2);
        break;
    }
    case 6:
        stroke.path = QPainterPath();
        stroke.path.addEllipse(QRectF(p0, QSizeF(p1.x() - p0.x(), p1.y() - p0.y())));
        break;
    case 7:
        stroke.path = QPainterPath();
        stroke.path.addRect(QRectF(p0, QSizeF(p1.x() - p0.x(), p1.y() - p0.y())));
        break;
    default: // text: the two points only
        break;
    }
}

QPointF AnnotationsOverlay::MovingAveragePoint(StrokeData const& stroke, QPointF const& point)
{
    if (stroke.points.size() >= 2 && SamePoint(point, stroke.points.last()))
    {
        return QPointF(0.0, 0.0);
    }
    if (recentPoints.size() >= SMOOTHING_WINDOW)
    {
        recentPoints.removeLast();
    }
    recentPoints.prepend(point);
    int const count = recentPoints.size();
    float sumX = 0.0f;
    float sumY = 0.0f;
    for (int i = 0; i < count; ++i)
    {
        double const weight = count - i;
        sumX += float(recentPoints.at(i).x() * weight);
        sumY += float(recentPoints.at(i).y() * weight);
    }
    float const divisor = float(count * (count + 1)) / 2.0f;
    QPointF const average(sumX / divisor, sumY / divisor);
    if (stroke.points.size() >= 2)
    {
        float const ddx = float(average.x() - stroke.points.last().x());
        float const ddy = float(average.y() - stroke.points.last().y());
        if (std::sqrt(ddx * ddx + ddy * ddy) < stroke.width * 0.1f)
        {
            recentPoints.removeFirst();
            return QPointF(0.0, 0.0);
        }
    }
    return average;
}

void AnnotationsOverlay::EndStroke()
{
    recentPoints.clear();
    if (laserStroke)
    {
        laserHold = 0.5f;
        laserTimer.start();
        return;
    }
    bool const hadStroke = strokeBookmark != nullptr;
    ResetActiveStroke();
    if (hadStroke && activeBookmark)
    {
        RebuildActiveLayerImage();
    }
    Repaint();
}

void AnnotationsOverlay::UpdateStrokeText(QString const& text)
{
    StrokeData* stroke = LiveStroke();
    if (!stroke)
    {
        return;
    }
    stroke->text = text;
    Repaint();
}

void AnnotationsOverlay::UpdateLaserPointerOpacity()
{
    if (!laserStroke)
    {
        laserTimer.stop();
        return;
    }
    laserHold -= 0.1f;
    if (laserHold > 0.0f)
    {
        return;
    }
    double const alpha = laserStroke->color.alphaF() - 0.1;
    if (alpha <= 0.0)
    {
        ResetActiveStroke();
    }
    else
    {
        laserStroke->color.setAlphaF(float(alpha));
    }
    Repaint();
}

void AnnotationsOverlay::RebuildActiveLayerImage()
{
    if (activeLayer == AnnotationLayer::Background)
    {
        RebuildBackgroundImage(true);
    }
    else
    {
        RebuildThisFrameImage();
    }
}

void AnnotationsOverlay::Undo()
{
    CommitActiveStroke();
    if (!activeBookmark || !activeBookmark->undoStack.canUndo())
    {
        return;
    }
    activeBookmark->undoStack.undo();
    RebuildActiveLayerImage();
}

void AnnotationsOverlay::Redo()
{
    CommitActiveStroke();
    if (!activeBookmark || !activeBookmark->undoStack.canRedo())
    {
        return;
    }
    activeBookmark->undoStack.redo();
    RebuildActiveLayerImage();
}

void AnnotationsOverlay::Clear()
{
    CommitActiveStroke();
    if (!activeBookmark || activeBookmark->strokes.isEmpty())
    {
        return;
    }
    activeBookmark->undoStack.push(new AnnotationClearCmd(activeBookmark));
    RebuildActiveLayerImage();
}

// ---- Clipboard ----

void AnnotationsOverlay::Copy()
{
    if (foregroundBookmark && !foregroundBookmark->strokes.isEmpty())
    {
        clipboard = foregroundBookmark->strokes;
    }
    else
    {
        clipboard.clear();
    }
}

void AnnotationsOverlay::Cut()
{
    CommitActiveStroke();
    if (!foregroundBookmark)
    {
        return;
    }
    clipboard = foregroundBookmark->strokes;
    Timeline* timeline = OutputTimeline();
    if (timeline && projectManager)
    {
        projectManager->DoRemoveFrameBookmarkCmd(timeline, timeline->PlaybackFrame());
    }
    Repaint();
}

void AnnotationsOverlay::Paste()
{
    CommitActiveStroke();
    if (clipboard.isEmpty())
    {
        return;
    }
    if (!foregroundBookmark)
    {
        InsertBookmarkAtPlaybackFrame();
        if (!foregroundBookmark)
        {
            return;
        }
    }
    FrameBookmark* bookmark = foregroundBookmark;
    // One command: undo gives back what was there, and the pushed command
    // marks the project modified.
    bookmark->undoStack.push(new AnnotationPasteCmd(bookmark, clipboard));
    emit BookmarkIsAnnotationChanged(bookmark->timelineFrame, !bookmark->strokes.isEmpty());
    RebuildThisFrameImage();
}

QList<StrokeData> const& AnnotationsOverlay::ClipboardStrokes() const
{
    return clipboard;
}

// ---- Images ----

QImage AnnotationsOverlay::NewImage() const
{
    if (imageSize.width() <= 0 || imageSize.height() <= 0)
    {
        return QImage();
    }
    QImage image(imageSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

bool AnnotationsOverlay::HasStrokesToPaint(FrameBookmark* bookmark) const
{
    // Without a display width every stroke would be a point.
    if (!bookmark || imageDisplayWidth <= 0)
    {
        return false;
    }
    // The live stroke is drawn over a copy of its layer, not into the layer.
    return bookmark->strokes.size() > (IsDrawingOnBookmark(bookmark) ? 1 : 0);
}

QImage AnnotationsOverlay::StrokesImage(FrameBookmark* bookmark, double opacity, QColor const& tint)
{
    // A layer with nothing on it is no viewport-sized image to fill, paint and
    // draw over the picture with every frame shown.
    if (!HasStrokesToPaint(bookmark))
    {
        return QImage();
    }
    QImage image = NewImage();
    PaintAnnotationToImage(image, bookmark, opacity, tint);
    return image;
}

void AnnotationsOverlay::PaintAnnotationToImage(QImage& image, FrameBookmark* bookmark, double opacity,
                                                QColor const& tint)
{
    // Without a display width every stroke would be a point.
    if (!bookmark || image.isNull() || imageDisplayWidth <= 0)
    {
        return;
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setTransform(orientationTransform);
    painter.setOpacity(opacity);
    for (int i = 0; i < bookmark->strokes.size(); ++i)
    {
        // The live stroke is painted over a copy of the image while it grows.
        if (bookmark == strokeBookmark && i == strokeIndex)
        {
            continue;
        }
        PaintStroke(painter, bookmark->strokes.at(i), tint, false);
    }
}

void AnnotationsOverlay::PaintStroke(QPainter& painter, StrokeData const& stroke, QColor const& tint,
                                     bool active) const
{
    if (imageDisplayWidth <= 0)
    {
        return;
    }
    painter.setCompositionMode(stroke.type == 2 ? QPainter::CompositionMode_Clear
                                                : QPainter::CompositionMode_SourceOver);
    QColor color = stroke.color;
    if (tint.isValid())
    {
        float const factor = Settings::ghostedFramesTintFactor;
        color.setRed(int(color.red() + (tint.red() - color.red()) * factor));
        color.setGreen(int(color.green() + (tint.green() - color.green()) * factor));
        color.setBlue(int(color.blue() + (tint.blue() - color.blue()) * factor));
    }
    QPen pen(QBrush(color), imageDisplayWidth * double(stroke.width) / 1000.0, Qt::SolidLine, Qt::RoundCap,
             Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    if (stroke.type == 3)
    {
        double const pointSize = imageDisplayWidth * double(stroke.width) * 10.0 / 1000.0;
        if (stroke.points.isEmpty() || !(pointSize > 0.0))
        {
            return;
        }
        QFont font;
        font.setPointSizeF(pointSize);
        font.setStyleHint(QFont::Helvetica, QFont::PreferDefault);
        painter.setFont(font);
        QPointF const corner = imageToScreenTransform.map(stroke.points.first());
        QString const text = stroke.text.isEmpty() ? QStringLiteral(" ") : stroke.text;
        QRectF bounds;
        painter.drawText(QRectF(corner, QSizeF(4096, 4096)), Qt::AlignLeft, text, &bounds);
        if (active)
        {
            QPen framePen(QBrush(color), 2.0);
            painter.setPen(framePen);
            painter.drawRect(bounds.adjusted(-4.0, -2.0, 4.0, 4.0));
        }
        return;
    }
    painter.drawPath(imageToScreenTransform.map(stroke.path));
}

void AnnotationsOverlay::RebuildThisFrameImage()
{
    if (!AnnotationsVisible())
    {
        return;
    }
    // A layer image exists only while there is something to paint into it:
    // this runs for every frame shown.
    thisFrameImage = StrokesImage(foregroundBookmark, 1.0, QColor());
    Repaint();
}

void AnnotationsOverlay::RebuildHeldFrameImage()
{
    if (!AnnotationsVisible())
    {
        return;
    }
    heldFrameImage = QImage();
    Timeline* timeline = OutputTimeline();
    if (holdFramesEnabled && !foregroundBookmark && timeline)
    {
        // Timeline frames, as ghosting compares them; bookmarks outside their
        // clip's used range (-1) are never held.
        int const playbackFrame = timeline->PlaybackFrame();
        FrameBookmark* held = nullptr;
        for (FrameBookmark* bookmark : timeline->FrameBookmarkList())
        {
            if (bookmark->timelineFrame < 0)
            {
                continue;
            }
            if (bookmark->timelineFrame >= playbackFrame)
            {
                break;
            }
            held = bookmark;
        }
        heldFrameImage = StrokesImage(held, 1.0, QColor());
    }
    Repaint();
}

void AnnotationsOverlay::RebuildBackgroundImage(bool repaint)
{
    if (!AnnotationsVisible())
    {
        return;
    }
    backgroundImage = StrokesImage(backgroundBookmark, 1.0, QColor());
    if (repaint)
    {
        Repaint();
    }
}

void AnnotationsOverlay::RebuildGhostedFramesImage()
{
    if (!AnnotationsVisible())
    {
        return;
    }
    ghostedFramesImage = QImage();
    Timeline* timeline = OutputTimeline();
    if (!ghostingVisible || !timeline)
    {
        return;
    }
    int const playbackFrame = timeline->PlaybackFrame();
    QList<FrameBookmark*> earlier;
    QList<FrameBookmark*> later;
    for (FrameBookmark* bookmark : timeline->FrameBookmarkList())
    {
        if (bookmark->timelineFrame < 0)
        {
            continue;
        }
        if (bookmark->timelineFrame < playbackFrame)
        {
            earlier.prepend(bookmark); // nearest first
        }
        else if (bookmark->timelineFrame > playbackFrame)
        {
            later.append(bookmark);
        }
    }
    if (earlier.isEmpty() && later.isEmpty())
    {
        return;
    }
    int const previousCount = Settings::numGhostedFramesPrev;
    int const nextCount = Settings::numGhostedFramesNext;
    int const farthest = std::max(previousCount, nextCount);
    // The image is made with the first ghost that has strokes: bookmarks with
    // none add nothing to it.
    std::optional<QPainter> painter;
    auto paintGhost = [&](FrameBookmark* bookmark, double opacity, QColor const& tint) {
        QImage const ghost = StrokesImage(bookmark, opacity, tint);
        if (ghost.isNull())
        {
            return;
        }
        if (!painter)
        {
            ghostedFramesImage = NewImage();
            painter.emplace(&ghostedFramesImage);
        }
        painter->drawImage(0, 0, ghost);
    };
    for (int n = farthest; n >= 1; --n)
    {
        double const opacity = n <= 5 ? 0.4 - 0.05 * (n - 1) : 0.15;
        if (earlier.size() >= n)
        {
            FrameBookmark* bookmark = earlier.at(n - 1);
            bool const inReach = Settings::byAnnotationGhosting
                                     ? n <= previousCount
                                     : playbackFrame - bookmark->timelineFrame <= previousCount;
            if (inReach)
            {
                paintGhost(bookmark, opacity, Settings::ghostedFramesPrevTintColor);
            }
        }
        if (later.size() >= n)
        {
            FrameBookmark* bookmark = later.at(n - 1);
            bool const inReach = Settings::byAnnotationGhosting ? n <= nextCount
                                                                 : bookmark->timelineFrame - playbackFrame <= nextCount;
            if (inReach)
            {
                paintGhost(bookmark, opacity, Settings::ghostedFramesNextTintColor);
            }
        }
    }
    if (painter)
    {
        painter->end();
    }
    Repaint();
}

// ---- Painting ----

void AnnotationsOverlay::Repaint()
{
    if (isVisible())
    {
        update();
    }
    else
    {
        emit UpdateRequested();
    }
}

void AnnotationsOverlay::DoUpdate()
{
    Repaint();
}

void AnnotationsOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    DoPaint(painter);
}

void AnnotationsOverlay::PaintGL(QPainter& painter)
{
    DoPaint(painter);
}

void AnnotationsOverlay::DrawLayerImage(QPainter& painter, QImage const& image, FrameBookmark* bookmark)
{
    StrokeData const* live = IsDrawingOnBookmark(bookmark) ? &bookmark->strokes.at(strokeIndex) : nullptr;
    if (!live)
    {
        if (!image.isNull())
        {
            painter.drawImage(0, viewportTop, image);
        }
        return;
    }
    // The live stroke goes into a copy of its layer, so that an eraser clears
    // that layer only.
    QImage copy = image.isNull() ? NewImage() : image.copy();
    if (copy.isNull())
    {
        return;
    }
    {
        QPainter imagePainter(&copy);
        imagePainter.setRenderHint(QPainter::Antialiasing);
        imagePainter.setRenderHint(QPainter::TextAntialiasing);
        imagePainter.setTransform(orientationTransform);
        PaintStroke(imagePainter, *live, QColor(), true);
    }
    painter.drawImage(0, viewportTop, copy);
}

void AnnotationsOverlay::DoPaint(QPainter& painter)
{
    bool const hardware = Settings::HardwareRenderingInUse();
    if (!wipeMaskPath.isEmpty())
    {
        painter.setClipPath(wipeMaskPath, Qt::ReplaceClip);
    }
    else if (hardware)
    {
        painter.setClipRect(geometry(), Qt::ReplaceClip);
    }

    QColor const background = Settings::annotationBackgroundColor;
    if (background.alpha() > 0)
    {
        if (Settings::annotationBackgroundFillsViewport)
        {
            painter.fillRect(rect(), background);
        }
        else
        {
            painter.fillRect(QRectF(viewportCentre.x() - imageDisplayWidth * 0.5,
                                    viewportCentre.y() - imageDisplayHeight * 0.5, imageDisplayWidth,
                                    imageDisplayHeight),
                             background);
        }
    }

    if (backgroundBookmark)
    {
        DrawLayerImage(painter, backgroundImage, backgroundBookmark);
    }
    if (ghostingVisible && !ghostedFramesImage.isNull())
    {
        painter.drawImage(0, viewportTop, ghostedFramesImage);
    }

    if (foregroundBookmark)
    {
        DrawLayerImage(painter, thisFrameImage, foregroundBookmark);
    }
    else if (holdFramesEnabled && !heldFrameImage.isNull())
    {
        painter.drawImage(0, viewportTop, heldFrameImage);
    }

    if (laserStroke)
    {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setTransform(orientationTransform * QTransform::fromTranslate(0, viewportTop));
        PaintStroke(painter, *laserStroke, QColor(), false);
        painter.restore();
    }
    painter.setClipPath(QPainterPath(), Qt::NoClip);
}
