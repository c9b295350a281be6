#pragma once

#include "viewer/ViewerOverlayDrawable.h"

#include <QColor>
#include <QLineF>
#include <QMetaObject>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QPolygonF>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

class AvManager;
class QPainter;
class Timeline;

// The information layer over the viewer: framing guides, the A/B wipe handle
// with its snapping and the wipe polygon it hands on, the eyedropper's loupe,
// the outline of a viewport a drop would replace, and a panel describing the
// source under the playhead. Paints itself as a widget in software rendering;
// the OpenGL viewer calls PaintGL in hardware rendering. Main thread only.
class ViewerOverlay : public QWidget
{
    Q_OBJECT

public:
    ViewerOverlay(AvManager* avManager, QWidget* parent = nullptr);

    void SetPrimaryTimeline(Timeline* timeline);

    void SetOverlayDrawable(ViewerOverlayDrawable drawable);
    void SetSafeAreaVisible(bool visible);
    void SetGridVisible(bool visible);
    void SetCenterVisible(bool visible);
    bool IsSafeAreaVisible() const;
    bool IsGridVisible() const;
    bool IsCenterVisible() const;
    bool IsMediaInfoVisible() const;
    void SetMediaInfoVisible(bool visible);

    void SetImageDisplayResolution(float width, float height, int outputId);
    void SetViewportDropRect(QRect const& rect);

    void SetEyeDropperEnabled(bool enabled);
    void UpdateEyeDropper(QPoint const& position);
    void SetEyeDropperColor(QColor const& color);
    QColor EyeDropperColor() const;
    bool IsEyeDropperEnabled() const;

    void SetWipeEnabled(bool enabled);
    bool IsWipeEnabled() const;
    void SetWipePosition(QPointF const& position, bool snap);
    QPointF WipePosition() const;
    void SetWipeRotation(double degrees, bool snap);
    double WipeRotation() const;
    void SetWipeRotationFromPoint(QPointF const& point, bool snap);
    void ResetWipePositionAndRotation();
    bool InWipeMoveRegion(QPointF const& point) const;
    bool InWipeRotateRegion(QPointF const& point) const;
    void SetMoveHighlightsEnabled(bool enabled);
    void SetRotateHighlightsEnabled(bool enabled);
    QPolygonF WipePolygon() const;

    void SetZoomFactor(float zoom);
    void SetPanAndZoomPositionOffset(QPoint const& panOffset, QPoint const& positionOffset);
    void SetPanAndZoomInterpY(float value);
    void UpdateGeometryGL(int width, int height, int viewportHeight, int top);
    void PaintGL(QPainter& painter);

    // The panel's texts, in row order: name, source, frames, duration,
    // resolution, output size, video codec, audio codec.
    QStringList MediaInfoTexts() const;

Q_SIGNALS:
    void OverlayDrawableChanged(ViewerOverlayDrawable drawable);
    void WipeMaskChanged(QPolygonF const& polygon);
    void WipePositionChanged(QPointF const& position);
    void EyeDropperColorUpdateRequired(QPoint const& position);
    void UpdateRequested();

public Q_SLOTS:
    void DoUpdate();
    void UpdateMediaInfo();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Repaint();
    void UpdateWipeData();
    void ClearMediaTexts();
    bool PrimaryTimelineHasClips() const;
    void DoPaint(QPainter& painter);
    void PaintEyeDropper(QPainter& painter);
    void PaintGuides(QPainter& painter);
    void PaintWipeControl(QPainter& painter);
    void PaintMediaInfo(QPainter& painter);

    AvManager* avManager = nullptr;
    QPointer<Timeline> primaryTimeline;
    QMetaObject::Connection timelineUpdatedConnection;

    QRect mediaInfoRect;
    QSize imageDisplaySize {0, 0};
    bool eyeDropperEnabled = false;
    QPoint eyeDropperPosition;
    QColor eyeDropperColor;

    bool wipeEnabled = false;
    QPointF wipePosition;
    // Survives resizes; only a size above zero changes it.
    QPointF wipePositionNormalised {0.5, 0.5};
    double wipeRotation = 0.0;
    QLineF wipeLine;
    QPointF wipeRotateHandle;
    QPolygonF wipePolygon;
    bool moveHighlightsEnabled = false;
    bool rotateHighlightsEnabled = false;
    bool snappedToCentreX = false;
    bool snappedToCentreY = false;
    bool rotationSnappedVertical = false;
    bool rotationSnappedHorizontal = false;

    float zoomFactor = 1.0f;
    int viewportTop = 0;
    float panZoomInterpY = 0.0f;
    int viewportHeight = 0;
    int viewportHeightDelta = 0;
    QPoint panOffset;
    QPoint positionOffset;
    QRect viewportDropRect;

    bool safeAreaVisible = false;
    bool titleSafeVisible = false;
    bool gridVisible = false;
    bool centerVisible = false;
    bool mediaInfoVisible = false;

    QString mediaName;
    QString mediaPath;
    QString framesText;
    QString durationText;
    QString resolutionText;
    QString outputSizeText;
    QString videoCodecText;
    QString audioCodecText;
};
