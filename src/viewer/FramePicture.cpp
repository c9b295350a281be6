#include "viewer/FramePicture.h"

#include "media/VideoFrame.h"
#include "model/VideoStreamInfo.h"

#include <algorithm>
#include <cmath>

namespace
{

bool UsableRatio(float value)
{
    return std::isfinite(value) && value > 0.0f;
}

uchar ClampToByte(float value)
{
    return static_cast<uchar>(std::clamp(static_cast<int>(std::lround(value)), 0, 255));
}

} // namespace

bool FramePicture::HasPicture(std::shared_ptr<VideoFrame> const& frame)
{
    return frame && !frame->emptyFrame && !frame->planes[0].isNull();
}

int FramePicture::NormalizedRotation(int degrees)
{
    int const quarters = static_cast<int>(std::lround(degrees / 90.0));
    return ((quarters % 4) + 4) % 4 * 90;
}

FramePicture FramePicture::FromFrame(VideoFrame const& frame)
{
    FramePicture picture;
    picture.pixelFormat = frame.pixelFormat;
    picture.planeCount = frame.pixelFormat == VideoFramePixelFormat::YUV420P ? 3 : 1;
    for (int i = 0; i < picture.planeCount; ++i)
    {
        QImage const& plane = frame.planes[i];
        if (plane.isNull())
        {
            return FramePicture();
        }
        picture.planeBits[i] = plane.constBits();
        picture.bytesPerLine[i] = static_cast<int>(plane.bytesPerLine());
        picture.planeSizes[i] =
            QSize(picture.bytesPerLine[i] / VideoFramePixelFormatBytesPerPixel(frame.pixelFormat), plane.height());
    }
    picture.lineWidth = picture.planeSizes[0].width();

    // A decoded line may be wider than the picture; the stream knows the
    // picture's own width. A record that does not match the plane (a stream
    // that changed its size midway) is not trusted for the size.
    VideoStreamInfo const* stream = frame.streamInfo;
    int pictureWidth = picture.lineWidth;
    int const pictureHeight = picture.planeSizes[0].height();
    bool const streamMatches = stream && stream->width > 0 && stream->width <= picture.lineWidth &&
                               stream->height == pictureHeight;
    if (streamMatches)
    {
        pictureWidth = stream->width;
    }
    picture.planeSizes[0].setWidth(pictureWidth);
    if (picture.planeCount == 3)
    {
        for (int i = 1; i < 3; ++i)
        {
            picture.planeSizes[i].setWidth(std::min(picture.planeSizes[i].width(), (pictureWidth + 1) / 2));
        }
    }

    picture.yuv = frame.pixelFormat == VideoFramePixelFormat::YUV420P;
    if (stream)
    {
        picture.hasStreamProperties = true;
        picture.codedWidth = stream->width;
        picture.codedHeight = stream->height;
        picture.rotation = NormalizedRotation(stream->rotation);
        picture.pixelAspectRatio = UsableRatio(stream->sampleAspectRatio) ? stream->sampleAspectRatio : 1.0f;
        picture.rec709 = stream->isBt709;
        picture.linear = stream->isLinear;
    }
    else
    {
        picture.codedWidth = pictureWidth;
        picture.codedHeight = pictureHeight;
    }

    float aspect = streamMatches ? stream->displayAspectRatio : 0.0f;
    if (!UsableRatio(aspect))
    {
        bool const codedUsable = streamMatches && picture.codedWidth > 0 && picture.codedHeight > 0;
        float const width = static_cast<float>(codedUsable ? picture.codedWidth : pictureWidth);
        float const height = static_cast<float>(codedUsable ? picture.codedHeight : pictureHeight);
        aspect = height > 0.0f ? width * picture.pixelAspectRatio / height : 0.0f;
    }
    picture.displayAspectRatio = UsableRatio(aspect) ? aspect : 1.0f;
    picture.valid = pictureWidth > 0 && pictureHeight > 0;
    return picture;
}

QImage FramePicture::PlaneImage(int plane) const
{
    if (!valid || plane < 0 || plane >= planeCount)
    {
        return QImage();
    }
    QImage::Format format = QImage::Format_Grayscale8;
    if (pixelFormat == VideoFramePixelFormat::RGB24)
    {
        format = QImage::Format_RGB888;
    }
    else if (pixelFormat == VideoFramePixelFormat::RGBA)
    {
        format = QImage::Format_RGBA8888;
    }
    return QImage(planeBits[plane], planeSizes[plane].width(), planeSizes[plane].height(), bytesPerLine[plane],
                  format);
}

QImage FramePicture::ToImage() const
{
    if (!valid)
    {
        return QImage();
    }
    if (!yuv)
    {
        return PlaneImage(0).copy();
    }
    // Limited-range YUV to RGB, BT.709 or BT.601.
    float const s = 255.0f / (240.0f - 16.0f);
    float const rv = (rec709 ? 1.5748f : 1.403f) * s;
    float const gu = (rec709 ? -0.1873f : -0.344f) * s;
    float const gv = (rec709 ? -0.4681f : -0.714f) * s;
    float const bu = (rec709 ? 1.8556f : 1.770f) * s;
    int const width = planeSizes[0].width();
    int const height = planeSizes[0].height();
    int const chromaWidth = planeSizes[1].width();
    int const chromaHeight = planeSizes[1].height();
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
    {
        uchar const* luma = planeBits[0] + static_cast<qsizetype>(y) * bytesPerLine[0];
        int const chromaRow = std::min(y / 2, chromaHeight - 1);
        uchar const* u = planeBits[1] + static_cast<qsizetype>(chromaRow) * bytesPerLine[1];
        uchar const* v = planeBits[2] + static_cast<qsizetype>(chromaRow) * bytesPerLine[2];
        uchar* out = image.scanLine(y);
        for (int x = 0; x < width; ++x)
        {
            int const chromaColumn = std::min(x / 2, chromaWidth - 1);
            float const yy = (luma[x] - 16.0f) * 255.0f / (235.0f - 16.0f);
            float const uu = u[chromaColumn] - 127.5f;
            float const vv = v[chromaColumn] - 127.5f;
            out[3 * x] = ClampToByte(yy + rv * vv);
            out[3 * x + 1] = ClampToByte(yy + gu * uu + gv * vv);
            out[3 * x + 2] = ClampToByte(yy + bu * uu);
        }
    }
    return image;
}
