#include "viewer/ViewerOverlay.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/AudioStreamInfo.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/VideoStreamInfo.h"

#include <QCursor>
#include <QLocale>
#include <QPainter>
#include <QPen>
#include <QResizeEvent>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace
{
    constexpr double SNAP_DISTANCE = 10.0;
    constexpr double MOVE_REGION = 10.0;
    constexpr double ROTATE_REGION_DEGREES = 2.0;
    constexpr double ROTATE_HANDLE_LENGTH = 50.0;
    constexpr int INFO_TOP = 50;
    constexpr int INFO_ROW_HEIGHT = 18;

    // Angles of lines, compared modulo 180 degrees.
    double LineAngleDifference(double a, double b)
    {
        double difference = std::fmod(std::abs(a - b), 180.0);
        return std::min(difference, 180.0 - difference);
    }
}

ViewerOverlay::ViewerOverlay(AvManager* avManager, QWidget* parent)
    : QWidget(parent)
    , avManager(avManager)
{
    setFocusPolicy(Qt::NoFocus);
    if (avManager)
    {
        connect(avManager, &AvManager::PlaybackFrameChanged, this, &ViewerOverlay::UpdateMediaInfo);
    }
}

void ViewerOverlay::SetPrimaryTimeline(Timeline* timeline)
{
    disconnect(timelineUpdatedConnection);
    primaryTimeline = timeline;
    if (timeline)
    {
        timelineUpdatedConnection =
            connect(timeline, &Timeline::TimelineUpdated, this, &ViewerOverlay::UpdateMediaInfo);
    }
    UpdateMediaInfo();
}

// ---- Guides ----

void ViewerOverlay::SetOverlayDrawable(ViewerOverlayDrawable drawable)
{
    safeAreaVisible = drawable == ViewerOverlayDrawable::SafeArea;
    titleSafeVisible = safeAreaVisible;
    gridVisible = drawable == ViewerOverlayDrawable::Grid;
    centerVisible = drawable == ViewerOverlayDrawable::Center;
    Repaint();
    emit OverlayDrawableChanged(drawable);
}

void ViewerOverlay::SetSafeAreaVisible(bool visible)
{
    safeAreaVisible = visible;
    titleSafeVisible = visible;
    Repaint();
}

void ViewerOverlay::SetGridVisible(bool visible)
{
    gridVisible = visible;
    Repaint();
}

void ViewerOverlay::SetCenterVisible(bool visible)
{
    centerVisible = visible;
    Repaint();
}

bool ViewerOverlay::IsSafeAreaVisible() const
{
    return safeAreaVisible;
}

bool ViewerOverlay::IsGridVisible() const
{
    return gridVisible;
}

bool ViewerOverlay::IsCenterVisible() const
{
    return centerVisible;
}

bool ViewerOverlay::IsMediaInfoVisible() const
{
    return mediaInfoVisible;
}

void ViewerOverlay::SetMediaInfoVisible(bool visible)
{
    if (visible != mediaInfoVisible)
    {
        mediaInfoVisible = visible;
        if (visible)
        {
            UpdateMediaInfo();
        }
    }
    Repaint();
}

void ViewerOverlay::SetImageDisplayResolution(float width, float height, int outputId)
{
    if (outputId != 0)
    {
        return;
    }
    QSize size(0, 0);
    QString text;
    if (width > 0.0f || height > 0.0f)
    {
        size = QSize(int(width), int(height));
        double const ratio = devicePixelRatioF();
        text = QStringLiteral("%1x%2")
                   .arg(static_cast<long long>(std::round(width * ratio)))
                   .arg(static_cast<long long>(std::round(height * ratio)));
    }
    // Reported on every fit of the viewports, also from within a paint: only
    // a change asks for another.
    if (size == imageDisplaySize && text == outputSizeText)
    {
        return;
    }
    imageDisplaySize = size;
    outputSizeText = text;
    Repaint();
}

void ViewerOverlay::SetViewportDropRect(QRect const& rect)
{
    QRect adjusted = rect;
    if (adjusted.left() == 0)
    {
        adjusted.setLeft(1);
    }
    if (adjusted.top() == 0)
    {
        adjusted.setTop(1);
    }
    if (adjusted == viewportDropRect)
    {
        return;
    }
    viewportDropRect = adjusted;
    Repaint();
}

// ---- Eyedropper ----

void ViewerOverlay::SetEyeDropperEnabled(bool enabled)
{
    eyeDropperEnabled = enabled;
    if (enabled)
    {
        setMouseTracking(true);
        eyeDropperPosition = mapFromGlobal(QCursor::pos());
        emit EyeDropperColorUpdateRequired(eyeDropperPosition);
    }
    else
    {
        setMouseTracking(wipeEnabled);
    }
    Repaint();
}

void ViewerOverlay::UpdateEyeDropper(QPoint const& position)
{
    eyeDropperPosition = position;
    emit EyeDropperColorUpdateRequired(position);
}

void ViewerOverlay::SetEyeDropperColor(QColor const& color)
{
    eyeDropperColor = color;
}

QColor ViewerOverlay::EyeDropperColor() const
{
    return eyeDropperColor;
}

bool ViewerOverlay::IsEyeDropperEnabled() const
{
    return eyeDropperEnabled;
}

// ---- Wipe ----

void ViewerOverlay::SetWipeEnabled(bool enabled)
{
    wipeEnabled = enabled;
    setMouseTracking(wipeEnabled || eyeDropperEnabled);
    UpdateWipeData();
}

bool ViewerOverlay::IsWipeEnabled() const
{
    return wipeEnabled;
}

void ViewerOverlay::SetWipePosition(QPointF const& position, bool snap)
{
    QPointF point = position;
    snappedToCentreX = false;
    snappedToCentreY = false;
    if (Settings::wipeSnapEnabled && snap)
    {
        double const cx = width() * 0.5;
        if (point.x() > cx - SNAP_DISTANCE && point.x() < cx + SNAP_DISTANCE)
        {
            point.setX(cx);
            snappedToCentreX = true;
        }
        double const cy = viewportTop + viewportHeight * 0.5;
        if (point.y() > cy - SNAP_DISTANCE && point.y() < cy + SNAP_DISTANCE)
        {
            point.setY(cy);
            snappedToCentreY = true;
        }
    }
    point.setX(std::clamp(point.x(), 0.0, double(std::max(width(), 0))));
    point.setY(std::clamp(point.y(), double(viewportTop), double(viewportTop + std::max(viewportHeight, 0))));
    wipePosition = point;
    // Without a size there is no fraction to take: the last one stays.
    if (width() > 0)
    {
        wipePositionNormalised.setX(point.x() / width());
    }
    if (viewportHeight > 0)
    {
        wipePositionNormalised.setY((point.y() - viewportTop) / viewportHeight);
    }
    UpdateWipeData();
    Repaint();
    emit WipePositionChanged(wipePosition);
}

QPointF ViewerOverlay::WipePosition() const
{
    return wipePosition;
}

void ViewerOverlay::SetWipeRotation(double degrees, bool snap)
{
    double angle = std::isfinite(degrees) ? std::fmod(degrees, 360.0) : 0.0;
    if (angle < 0.0)
    {
        angle += 360.0;
    }
    if (angle >= 360.0)
    {
        angle -= 360.0;
    }
    rotationSnappedHorizontal = false;
    rotationSnappedVertical = false;
    if (Settings::wipeSnapEnabled && snap)
    {
        if (angle < 5.0 || angle > 355.0)
        {
            angle = 0.0;
        }
        else if (angle > 85.0 && angle < 95.0)
        {
            angle = 90.0;
        }
        else if (angle > 175.0 && angle < 185.0)
        {
            angle = 180.0;
        }
        else if (angle > 265.0 && angle < 275.0)
        {
            angle = 270.0;
        }
        rotationSnappedHorizontal = angle == 0.0 || angle == 180.0;
        rotationSnappedVertical = angle == 90.0 || angle == 270.0;
    }
    wipeRotation = angle;
    UpdateWipeData();
    Repaint();
}

double ViewerOverlay::WipeRotation() const
{
    return wipeRotation;
}

void ViewerOverlay::SetWipeRotationFromPoint(QPointF const& point, bool snap)
{
    QPointF p = point;
    QPointF const a = wipePosition - p;
    QPointF const b = wipeRotateHandle - p;
    double const cross = a.x() * b.y() - a.y() * b.x();
    if (cross > 0.0)
    {
        // Keep the rotate handle on its side of the line.
        p = 2.0 * wipePosition - p;
    }
    SetWipeRotation(270.0 - QLineF(p, wipePosition).angle(), snap);
}

void ViewerOverlay::ResetWipePositionAndRotation()
{
    SetWipePosition(QPointF(width() * 0.5, viewportTop + viewportHeight * 0.5), false);
    SetWipeRotation(0.0, false);
}

bool ViewerOverlay::InWipeMoveRegion(QPointF const& point) const
{
    return wipeEnabled && QLineF(point, wipePosition).length() <= MOVE_REGION;
}

bool ViewerOverlay::InWipeRotateRegion(QPointF const& point) const
{
    return wipeEnabled &&
           LineAngleDifference(QLineF(point, wipePosition).angle(), wipeLine.angle()) <= ROTATE_REGION_DEGREES;
}

void ViewerOverlay::SetMoveHighlightsEnabled(bool enabled)
{
    moveHighlightsEnabled = enabled;
    snappedToCentreX = false;
    snappedToCentreY = false;
    Repaint();
}

void ViewerOverlay::SetRotateHighlightsEnabled(bool enabled)
{
    rotateHighlightsEnabled = enabled;
    rotationSnappedHorizontal = false;
    rotationSnappedVertical = false;
    Repaint();
}

QPolygonF ViewerOverlay::WipePolygon() const
{
    return wipePolygon;
}

void ViewerOverlay::UpdateWipeData()
{
    double x = wipePosition.x() - panOffset.x();
    double y = wipePosition.y() - panOffset.y();
    if (Settings::HardwareRenderingInUse() && zoomFactor != 0.0f)
    {
        x /= zoomFactor;
        y = ((zoomFactor - 1.0f) * viewportHeightDelta * panZoomInterpY + y) / zoomFactor;
    }
    QTransform transform;
    transform.translate(x, y);
    transform.rotate(wipeRotation);
    int const s = std::max(width(), height());
    double const d = std::trunc(std::sqrt(2.0 * double(s) * double(s)));
    wipePolygon = transform.map(QPolygonF(QRectF(-d, -d, d, 2.0 * d)));
    emit WipeMaskChanged(wipeEnabled ? wipePolygon : QPolygonF());

    QTransform line;
    line.translate(wipePosition.x(), wipePosition.y());
    line.rotate(wipeRotation);
    wipeLine = line.map(QLineF(0.0, -10000.0, 0.0, 10000.0));
    wipeRotateHandle = line.map(QPointF(ROTATE_HANDLE_LENGTH, 0.0));
}

// ---- Geometry ----

void ViewerOverlay::SetZoomFactor(float zoom)
{
    zoomFactor = zoom;
}

void ViewerOverlay::SetPanAndZoomPositionOffset(QPoint const& pan, QPoint const& position)
{
    panOffset = pan;
    positionOffset = position;
    UpdateWipeData();
}

void ViewerOverlay::SetPanAndZoomInterpY(float value)
{
    panZoomInterpY = (value + 1.0f) * -0.5f + 1.0f;
}

void ViewerOverlay::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    mediaInfoRect = rect();
    viewportHeight = height();
    wipePosition = QPointF(width() * wipePositionNormalised.x(), height() * wipePositionNormalised.y());
    UpdateWipeData();
    emit WipePositionChanged(wipePosition);
}

void ViewerOverlay::UpdateGeometryGL(int width, int height, int viewportHeight, int top)
{
    int const margin = int((height - viewportHeight) * 0.5);
    mediaInfoRect = QRect(QPoint(0, margin), QPoint(width - 1, viewportHeight + margin - 1));
    viewportTop = top;
    this->viewportHeight = viewportHeight;
    viewportHeightDelta = height - viewportHeight;
    wipePosition = QPointF(width * wipePositionNormalised.x(), viewportHeight * wipePositionNormalised.y() + top);
    UpdateWipeData();
    emit WipePositionChanged(wipePosition);
}

// ---- Media information ----

void ViewerOverlay::ClearMediaTexts()
{
    mediaName.clear();
    mediaPath.clear();
    framesText.clear();
    durationText.clear();
    resolutionText.clear();
    videoCodecText.clear();
    audioCodecText.clear();
}

void ViewerOverlay::UpdateMediaInfo()
{
    if (!mediaInfoVisible)
    {
        return;
    }
    Source* source = avManager ? avManager->PrimaryTimelineSourceAtCurrentTime() : nullptr;
    if (!source)
    {
        if (!mediaName.isEmpty())
        {
            ClearMediaTexts();
        }
        Repaint();
        return;
    }
    if (source->MediaName() == mediaName && source->MediaPath() == mediaPath)
    {
        return;
    }
    // Nothing of the previous file may remain: a file without video or
    // audio leaves those rows empty.
    ClearMediaTexts();
    mediaName = source->MediaName();
    mediaPath = source->MediaPath();
    // The shortest figure that reads back as the same number of seconds.
    durationText = QStringLiteral("%1 (%2 seconds)")
                       .arg(source->DurationString(),
                            QString::number(source->DurationInSeconds(), 'g', QLocale::FloatingPointShortest));
    if (source->VideoStreamCount() > 0)
    {
        if (VideoStreamInfo const* video = source->VideoStreamInfoAtIndex(source->DescribingFileIndex(), 0))
        {
            framesText = QStringLiteral("%1 (@ %2 fps)").arg(video->frameCount).arg(video->frameRate);
            resolutionText = QStringLiteral("%1x%2").arg(video->width).arg(video->height);
            if (video->sampleAspectRatio != 1.0f)
            {
                resolutionText += QStringLiteral(" (PAR: %1)").arg(video->sampleAspectRatio);
            }
            videoCodecText = video->codecName;
        }
    }
    if (source->AudioStreamCount() > 0)
    {
        if (AudioStreamInfo const* audio = source->AudioStreamInfoAtIndex(0, 0))
        {
            audioCodecText = audio->codecName;
        }
    }
    Repaint();
}

QStringList ViewerOverlay::MediaInfoTexts() const
{
    return {mediaName,
            mediaPath,
            framesText,
            durationText,
            resolutionText,
            PrimaryTimelineHasClips() ? outputSizeText : QString(),
            videoCodecText,
            audioCodecText};
}

// ---- Painting ----

void ViewerOverlay::Repaint()
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

void ViewerOverlay::DoUpdate()
{
    Repaint();
}

bool ViewerOverlay::PrimaryTimelineHasClips() const
{
    return primaryTimeline && primaryTimeline->ClipCount() > 0;
}

void ViewerOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DoPaint(painter);
}

void ViewerOverlay::PaintGL(QPainter& painter)
{
    DoPaint(painter);
}

void ViewerOverlay::DoPaint(QPainter& painter)
{
    painter.save();
    painter.setBrush(Qt::NoBrush);
    QPen pen = painter.pen();
    pen.setColor(Qt::white);
    painter.setPen(pen);
    PaintEyeDropper(painter);
    if (PrimaryTimelineHasClips())
    {
        PaintGuides(painter);
    }

    pen.setColor(QColor(200, 200, 200, 200));
    painter.setPen(pen);
    PaintWipeControl(painter);
    if (viewportDropRect.isValid())
    {
        QTransform const transform = painter.transform();
        painter.resetTransform();
        painter.drawRect(viewportDropRect.adjusted(0, 0, -1, -1));
        painter.setTransform(transform);
    }

    pen.setColor(Qt::white);
    painter.setPen(pen);
    PaintMediaInfo(painter);
    painter.restore();
}

void ViewerOverlay::PaintEyeDropper(QPainter& painter)
{
    if (!eyeDropperEnabled || eyeDropperPosition.isNull() || !rect().contains(eyeDropperPosition))
    {
        return;
    }
    QTransform const transform = painter.transform();
    painter.resetTransform();
    int const x = eyeDropperPosition.x();
    int const y = eyeDropperPosition.y();
    auto band = [&](int left, int top, int right, int bottom) {
        painter.fillRect(QRect(QPoint(left, top), QPoint(right, bottom)), eyeDropperColor);
    };
    band(x - 40, y - 40, x + 39, y - 21);
    band(x - 40, y - 40, x - 21, y + 39);
    band(x - 40, y + 20, x + 39, y + 39);
    band(x + 20, y - 40, x + 39, y + 39);
    QPen const current = painter.pen();
    painter.drawRect(QRect(QPoint(x - 19, y - 19), QPoint(x + 18, y + 18)));
    QPen black = current;
    black.setColor(Qt::black);
    painter.setPen(black);
    painter.drawRect(QRect(QPoint(x - 20, y - 20), QPoint(x + 19, y + 19)));
    painter.drawRect(QRect(QPoint(x - 39, y - 39), QPoint(x + 38, y + 38)));
    QPen white = current;
    white.setColor(Qt::white);
    painter.setPen(white);
    painter.drawRect(QRect(QPoint(x - 40, y - 40), QPoint(x + 39, y + 39)));
    painter.setPen(current);
    painter.setTransform(transform);
}

void ViewerOverlay::PaintGuides(QPainter& painter)
{
    if (imageDisplaySize.width() <= 0 || imageDisplaySize.height() <= 0)
    {
        return;
    }
    double const w = imageDisplaySize.width();
    double const h = imageDisplaySize.height();
    QPointF const centre = QPointF(width() * 0.5, height() * 0.5) + QPointF(positionOffset);
    auto centred = [&centre](double rw, double rh) {
        return QRectF(centre.x() - rw * 0.5, centre.y() - rh * 0.5, rw, rh);
    };
    if (safeAreaVisible)
    {
        painter.drawRect(centred(w * 0.93, h * 0.93));
    }
    if (titleSafeVisible)
    {
        painter.drawRect(centred(w * 0.9, h * 0.9));
    }
    if (gridVisible)
    {
        QRectF const frame = centred(w, h);
        painter.drawRect(frame);
        for (double fraction : {0.333, 0.666})
        {
            double const x = frame.left() + w * fraction;
            double const y = frame.top() + h * fraction;
            painter.drawLine(QPointF(x, frame.top()), QPointF(x, frame.bottom()));
            painter.drawLine(QPointF(frame.left(), y), QPointF(frame.right(), y));
        }
    }
    if (centerVisible)
    {
        double const d = std::max(w, h) * 0.01;
        painter.drawLine(QPointF(centre.x() - d, centre.y()), QPointF(centre.x() + d, centre.y()));
        painter.drawLine(QPointF(centre.x(), centre.y() - d), QPointF(centre.x(), centre.y() + d));
    }
}

void ViewerOverlay::PaintWipeControl(QPainter& painter)
{
    if (!wipeEnabled)
    {
        return;
    }
    QTransform const transform = painter.transform();
    painter.resetTransform();
    painter.drawEllipse(wipePosition, 10.0, 10.0);
    painter.drawLine(wipeLine);
    painter.drawLine(QLineF(wipePosition, wipeRotateHandle));
    if (Settings::wipeSnapEnabled && Settings::wipeSnapGuidesEnabled)
    {
        QPen const current = painter.pen();
        QPen guide = current;
        guide.setColor(Qt::cyan);
        painter.setPen(guide);
        QLineF const vertical(wipePosition.x(), viewportTop, wipePosition.x(), viewportTop + viewportHeight);
        QLineF const horizontal(0.0, wipePosition.y(), width(), wipePosition.y());
        if (moveHighlightsEnabled)
        {
            if (snappedToCentreX)
            {
                painter.drawLine(vertical);
            }
            if (snappedToCentreY)
            {
                painter.drawLine(horizontal);
            }
        }
        if (rotateHighlightsEnabled)
        {
            if (rotationSnappedHorizontal)
            {
                painter.drawLine(vertical);
            }
            if (rotationSnappedVertical)
            {
                painter.drawLine(horizontal);
            }
        }
        painter.setPen(current);
    }
    painter.setTransform(transform);
}

void ViewerOverlay::PaintMediaInfo(QPainter& painter)
{
    if (!mediaInfoVisible)
    {
        return;
    }
    QColor shade(Qt::black);
    shade.setAlpha(127);
    painter.fillRect(mediaInfoRect, shade);
    static char const* const labels[] = {"Name:",       "Source:",      "Frames:",      "Duration:",
                                         "Resolution:", "Output Size:", "Video Codec:", "Audio Codec:"};
    QStringList const values = MediaInfoTexts();
    for (int row = 0; row < 8; ++row)
    {
        int const y = mediaInfoRect.top() + INFO_TOP + row * INFO_ROW_HEIGHT;
        painter.drawText(QRect(QPoint(50, y), QPoint(149, y + INFO_ROW_HEIGHT - 1)), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromLatin1(labels[row]));
        painter.drawText(QRect(QPoint(200, y), QPoint(199 + width(), y + INFO_ROW_HEIGHT - 1)),
                         Qt::AlignLeft | Qt::AlignVCenter, values.at(row));
    }
}
