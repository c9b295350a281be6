#include "viewer/SoftwareViewer.h"

#include "media/VideoFrame.h"
#include "viewer/SoftwareViewportOutput.h"

#include <QPainter>
#include <QTransform>

#include <utility>

SoftwareViewer::SoftwareViewer(QWidget* parent)
    : QWidget(parent)
{
    CreateViewports();
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

SoftwareViewer::~SoftwareViewer() = default;

void SoftwareViewer::CreateViewports()
{
    for (int i = 0; i < MaxViewportCount(); ++i)
    {
        mOutputs.append(new SoftwareViewportOutput());
    }
}

SoftwareViewportOutput* SoftwareViewer::Output(int index) const
{
    return static_cast<SoftwareViewportOutput*>(ViewportOutputByIndex(index));
}

void SoftwareViewer::SetVideoFrame(int index, std::shared_ptr<VideoFrame> frame)
{
    // Frames never change once decoded: the one already prepared is kept.
    SoftwareViewportOutput const* shown = Output(index);
    if (shown && frame && shown->frame == frame && !shown->pixmap.isNull())
    {
        update();
        return;
    }
    if (!TakeFrame(index, frame))
    {
        return;
    }
    UpdatePixmap(index);
    update();
}

void SoftwareViewer::DoUpdate()
{
    update();
}

QImage SoftwareViewer::CaptureImage()
{
    QImage image(size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    render(&image);
    return image;
}

QImage SoftwareViewer::CaptureFullImage()
{
    return CaptureImage();
}

double SoftwareViewer::DevicePixelRatio() const
{
    return devicePixelRatioF();
}

void SoftwareViewer::SetViewerSize(QSize const& size)
{
    setFixedSize(size);
}

QSize SoftwareViewer::ViewerSize() const
{
    return size();
}

void SoftwareViewer::SetViewerPosition(QPoint const& position)
{
    move(position);
}

QPoint SoftwareViewer::ViewerPosition() const
{
    return pos();
}

void SoftwareViewer::UpdateViewerLayout()
{
    UpdateViewports();
    emit ViewerLayoutChanged();
    update();
}

void SoftwareViewer::UpdateOrientation()
{
    // Every output, not only the shown ones: a viewport that a later layout
    // shows must not keep a picture turned the old way.
    for (int i = 0; i < mOutputs.size(); ++i)
    {
        UpdatePixmap(i);
    }
    update();
}

void SoftwareViewer::SetWipeMask(QPolygonF const& mask)
{
    mWipePath.clear();
    if (mask.size() >= 4)
    {
        mWipePath.addPolygon(mask);
    }
    update();
}

void SoftwareViewer::UpdatePixmap(int index)
{
    SoftwareViewportOutput* output = Output(index);
    if (!output)
    {
        return;
    }
    if (!output->frame)
    {
        output->pixmap = QPixmap();
        UpdateScaledPixmap(index, output);
        return;
    }
    FramePicture const& picture = output->picture;
    // A copy of the picture alone: padding columns never show, and a YUV
    // frame is shown in colour rather than as its grey Y plane.
    QImage image = picture.ToImage();

    // The flips act on the picture as the stream stores it; on a stream
    // that is turned by a quarter the two exchange roles on screen.
    bool horizontal = mHorizontalFlip;
    bool vertical = mVerticalFlip;
    if (picture.rotation == 90 || picture.rotation == 270)
    {
        std::swap(horizontal, vertical);
    }
    if (horizontal || vertical)
    {
        image = image.mirrored(horizontal, vertical);
    }

    int const relativeRotation = RelativeRotation(mRotation, picture.rotation);
    float const pixelAspect = picture.pixelAspectRatio;
    if (pixelAspect != 1.0f || relativeRotation != 0)
    {
        QTransform transform;
        if (pixelAspect != 1.0f)
        {
            transform = QTransform::fromScale(pixelAspect, 1.0);
        }
        transform = transform * QTransform().rotate(relativeRotation);
        image = image.transformed(transform, Qt::FastTransformation);
    }
    output->pixmap = QPixmap::fromImage(std::move(image));
    UpdateScaledPixmap(index, output);
}

void SoftwareViewer::UpdateScaledPixmap(int index, SoftwareViewportOutput* output)
{
    if (!output->pixmap.isNull())
    {
        output->scaledPixmap =
            output->pixmap.scaled(output->rect.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    else if (!output->scaledPixmap.isNull())
    {
        output->scaledPixmap = QPixmap();
    }
    // Only viewport 0 holds the primary picture; the others report their own
    // size without touching it.
    QSize const shown = output->scaledPixmap.isNull() ? QSize(0, 0) : output->scaledPixmap.size();
    if (index == 0)
    {
        mPrimaryVideoDisplayWidth = shown.width();
        mPrimaryVideoDisplayHeight = shown.height();
    }
    emit ViewportImageDisplaySizeChanged(shown.width(), shown.height(), index);
}

void SoftwareViewer::UpdateViewports()
{
    UpdateViewportGeometry(width(), height(), 0);
    for (int i = 0; i < mOutputs.size(); ++i)
    {
        UpdateScaledPixmap(i, Output(i));
    }
}

void SoftwareViewer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    UpdateViewports();
}

void SoftwareViewer::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), mBackgroundColor);
    painter.setRenderHint(QPainter::Antialiasing);
    int const count = std::min<int>(ViewportCount(), mOutputs.size());
    bool pictureDrawn = false;
    for (int i = count - 1; i >= 0; --i)
    {
        SoftwareViewportOutput const* output = Output(i);
        if (mStackHeight >= 2 && i == 0)
        {
            painter.setOpacity(output->alpha);
            if (!mWipePath.isEmpty())
            {
                painter.setClipPath(mWipePath, Qt::ReplaceClip);
            }
            painter.fillRect(output->rect, mBackgroundColor);
        }
        if (!output->scaledPixmap.isNull())
        {
            QRect const& area = output->rect;
            int const x = area.left() + (area.width() - output->scaledPixmap.width()) / 2;
            int const y = area.top() + (area.height() - output->scaledPixmap.height()) / 2;
            painter.drawPixmap(x, y, output->scaledPixmap);
            pictureDrawn = true;
        }
    }
    if (pictureDrawn)
    {
        emit PicturePainted();
    }
    emit PaintingFinished();
}
