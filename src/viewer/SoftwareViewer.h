#pragma once

#include "viewer/ViewerBase.h"

#include <QPainterPath>
#include <QPolygonF>
#include <QWidget>

class SoftwareViewportOutput;

// The viewer used without hardware rendering: paints each viewport's picture
// with QPainter. Flips, rotation and pixel aspect are applied once per frame,
// scaling once per frame or layout change; a paint only places the pixmaps.
// Pan and zoom are the viewer widget's: it moves and enlarges this widget.
class SoftwareViewer : public QWidget, public ViewerBase
{
    Q_OBJECT

public:
    explicit SoftwareViewer(QWidget* parent = nullptr);
    ~SoftwareViewer() override;

    void SetVideoFrame(int index, std::shared_ptr<VideoFrame> frame) override;
    void DoUpdate() override;
    QImage CaptureImage() override;
    QImage CaptureFullImage() override;
    double DevicePixelRatio() const override;
    void SetViewerSize(QSize const& size) override;
    QSize ViewerSize() const override;
    void SetViewerPosition(QPoint const& position) override;
    QPoint ViewerPosition() const override;
    void UpdateViewerLayout() override;
    void UpdateOrientation() override;

public Q_SLOTS:
    void SetWipeMask(QPolygonF const& mask);

Q_SIGNALS:
    void ViewerLayoutChanged();
    void ViewportImageDisplaySizeChanged(int width, int height, int index);
    void PaintingFinished();
    // A paint that drew a picture of at least one output.
    void PicturePainted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateViewports();
    SoftwareViewportOutput* Output(int index) const;
    void UpdatePixmap(int index);
    void UpdateScaledPixmap(int index, SoftwareViewportOutput* output);
    void UpdateViewports();

    QPainterPath mWipePath; // empty without a wipe
};
