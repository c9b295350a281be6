#include "BenchPicture.h"

#include "media/VideoFrame.h"
#include "model/VideoStreamInfo.h"

#include <QCryptographicHash>

namespace
{

void AddRows(QCryptographicHash& hash, QImage const& plane, int rowBytes, int rows)
{
    for (int row = 0; row < rows; ++row)
    {
        hash.addData(QByteArrayView(plane.constScanLine(row), rowBytes));
    }
}

} // namespace

namespace BenchPicture
{

int Height(VideoFrame const& frame)
{
    return frame.planes[0].height();
}

int Width(VideoFrame const& frame)
{
    QImage const& luma = frame.planes[0];
    int const widest = static_cast<int>(luma.bytesPerLine() / VideoFramePixelFormatBytesPerPixel(frame.pixelFormat));
    VideoStreamInfo const* stream = frame.streamInfo;
    if (stream && stream->width > 0 && stream->width <= widest && stream->height == luma.height())
    {
        return stream->width;
    }
    return widest;
}

QString Md5(VideoFrame const& frame)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    int const width = Width(frame);
    int const height = Height(frame);
    if (frame.pixelFormat == VideoFramePixelFormat::YUV420P)
    {
        AddRows(hash, frame.planes[0], width, height);
        AddRows(hash, frame.planes[1], (width + 1) / 2, (height + 1) / 2);
        AddRows(hash, frame.planes[2], (width + 1) / 2, (height + 1) / 2);
    }
    else
    {
        AddRows(hash, frame.planes[0], width * VideoFramePixelFormatBytesPerPixel(frame.pixelFormat), height);
    }
    return QString::fromLatin1(hash.result().toHex());
}

QString FormatName(VideoFramePixelFormat format)
{
    switch (format)
    {
    case VideoFramePixelFormat::RGB24:
        return QStringLiteral("rgb24");
    case VideoFramePixelFormat::RGBA:
        return QStringLiteral("rgba");
    case VideoFramePixelFormat::YUV420P:
        return QStringLiteral("yuv420p");
    }
    return QString();
}

} // namespace BenchPicture
