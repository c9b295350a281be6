#include "media/VideoFrame.h"

#include "model/VideoStreamInfo.h"

#include <cstring>
#include <limits>

namespace
{

// Copies rows bytes wide from a plane with its own stride into a tight or
// strided destination; in one piece when both strides match the row.
void CopyRows(uint8_t* destination, int destinationStride, uint8_t const* source, int sourceStride, int rowBytes,
              int rows)
{
    if (sourceStride == rowBytes && destinationStride == rowBytes)
    {
        std::memcpy(destination, source, static_cast<size_t>(rowBytes) * rows);
        return;
    }
    for (int row = 0; row < rows; ++row)
    {
        std::memcpy(destination + static_cast<size_t>(row) * destinationStride,
                    source + static_cast<size_t>(row) * sourceStride, rowBytes);
    }
}

// Chroma of 4:2:0 covers odd sizes with one more row and column.
int HalfRoundedUp(int size)
{
    return (size + 1) / 2;
}

bool HasPlaneData(uint8_t const* const* planes, int const* lineSizes, VideoFramePixelFormat format)
{
    if (!planes || !lineSizes)
    {
        return false;
    }
    int const planeCount = format == VideoFramePixelFormat::YUV420P ? 3 : 1;
    for (int i = 0; i < planeCount; ++i)
    {
        if (!planes[i] || lineSizes[i] <= 0)
        {
            return false;
        }
    }
    return true;
}

} // namespace

VideoFrame::VideoFrame(uint8_t const* const* sourcePlanes, int const* lineSizes, int width, int height,
                       VideoFramePixelFormat format, long long packetStart, VideoStreamInfo* stream, bool packed)
    : pixelFormat(format)
    , packetStartTime(packetStart)
    , packetEndTime(packetStart)
    , streamInfo(stream)
{
    if (!HasPlaneData(sourcePlanes, lineSizes, format) || width <= 0 || height <= 0)
    {
        MakeEmpty();
        return;
    }
    this->width = width;
    this->height = height;
    if (packed)
    {
        CopyPacked(sourcePlanes, lineSizes, width, height);
    }
    else
    {
        CopyPlanes(sourcePlanes, lineSizes, height);
    }
    if (stream)
    {
        packetEndTime = packetStart + static_cast<long long>(stream->frameStep);
    }
}

VideoFrame::VideoFrame(VideoFramePlanes adopted, int width, int height, VideoFramePixelFormat format,
                       long long packetStart, VideoStreamInfo* stream)
    : pixelFormat(format)
    , packetStartTime(packetStart)
    , packetEndTime(packetStart)
    , streamInfo(stream)
{
    uint8_t const* const data[3] = {adopted.data[0], adopted.data[1], adopted.data[2]};
    // A buffer holds the planes from its first byte on.
    bool const held = adopted.buffer ? adopted.buffer.get() == adopted.data[0] : adopted.picture != nullptr;
    if (!HasPlaneData(data, adopted.lineSizes, format) || width <= 0 || height <= 0 || !held)
    {
        MakeEmpty();
        return;
    }
    bool const readOnly = !adopted.buffer;
    decodedPicture = std::move(adopted.picture);
    int const planeCount = format == VideoFramePixelFormat::YUV420P ? 3 : 1;
    for (int i = 0; i < planeCount; ++i)
    {
        // The first plane owns the buffer; the others lie inside it.
        planeData[i] = i == 0 && !readOnly ? std::move(adopted.buffer) : VideoFrameBufferPool::Borrow(adopted.data[i]);
    }
    int lineSizes[3] = {adopted.lineSizes[0], adopted.lineSizes[1], adopted.lineSizes[2]};
    WrapPlanes(height, readOnly, lineSizes);
    byteSize = adopted.byteSize;
    if (stream)
    {
        packetEndTime = packetStart + static_cast<long long>(stream->frameStep);
    }
}

void VideoFrame::MakeEmpty()
{
    emptyFrame = true;
    packetEndTime = std::numeric_limits<long long>::max();
    planes[0] = QImage(1, 1, QImage::Format_RGB888);
    planes[0].fill(Qt::black);
}

void VideoFrame::WrapPlanes(int height, bool readOnly, int const* lineSizes)
{
    if (pixelFormat != VideoFramePixelFormat::YUV420P)
    {
        // The image spans the whole line so padding columns belong to it.
        int const bytesPerPixel = VideoFramePixelFormatBytesPerPixel(pixelFormat);
        QImage::Format const imageFormat =
            pixelFormat == VideoFramePixelFormat::RGBA ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
        planes[0] = readOnly ? QImage(static_cast<uchar const*>(planeData[0].get()), lineSizes[0] / bytesPerPixel,
                                      height, lineSizes[0], imageFormat)
                             : QImage(planeData[0].get(), lineSizes[0] / bytesPerPixel, height, lineSizes[0],
                                      imageFormat);
        return;
    }
    int const chromaHeight = HalfRoundedUp(height);
    int const heights[3] = {height, chromaHeight, chromaHeight};
    for (int i = 0; i < 3; ++i)
    {
        planes[i] = readOnly ? QImage(static_cast<uchar const*>(planeData[i].get()), lineSizes[i], heights[i],
                                      lineSizes[i], QImage::Format_Grayscale8)
                             : QImage(planeData[i].get(), lineSizes[i], heights[i], lineSizes[i],
                                      QImage::Format_Grayscale8);
    }
}

void VideoFrame::CopyPlanes(uint8_t const* const* sourcePlanes, int const* lineSizes, int height)
{
    if (pixelFormat != VideoFramePixelFormat::YUV420P)
    {
        size_t const size = static_cast<size_t>(lineSizes[0]) * height;
        planeData[0] = VideoFrameBufferPool::Allocate(size);
        std::memcpy(planeData[0].get(), sourcePlanes[0], size);
        WrapPlanes(height, false, lineSizes);
        byteSize = static_cast<long long>(size);
        return;
    }
    int const chromaHeight = HalfRoundedUp(height);
    int const heights[3] = {height, chromaHeight, chromaHeight};
    for (int i = 0; i < 3; ++i)
    {
        size_t const size = static_cast<size_t>(lineSizes[i]) * heights[i];
        planeData[i] = VideoFrameBufferPool::Allocate(size);
        std::memcpy(planeData[i].get(), sourcePlanes[i], size);
        byteSize += static_cast<long long>(size);
    }
    WrapPlanes(height, false, lineSizes);
}

void VideoFrame::CopyPacked(uint8_t const* const* sourcePlanes, int const* lineSizes, int width, int height)
{
    if (pixelFormat != VideoFramePixelFormat::YUV420P)
    {
        int const rowBytes = width * VideoFramePixelFormatBytesPerPixel(pixelFormat);
        byteSize = static_cast<long long>(rowBytes) * height;
        packedData = std::make_unique<uint8_t[]>(static_cast<size_t>(byteSize));
        CopyRows(packedData.get(), rowBytes, sourcePlanes[0], lineSizes[0], rowBytes, height);
        return;
    }
    int const chromaWidth = HalfRoundedUp(width);
    int const chromaHeight = HalfRoundedUp(height);
    long long const lumaSize = static_cast<long long>(width) * height;
    long long const chromaSize = static_cast<long long>(chromaWidth) * chromaHeight;
    byteSize = lumaSize + 2 * chromaSize;
    packedData = std::make_unique<uint8_t[]>(static_cast<size_t>(byteSize));
    uint8_t* destination = packedData.get();
    CopyRows(destination, width, sourcePlanes[0], lineSizes[0], width, height);
    CopyRows(destination + lumaSize, chromaWidth, sourcePlanes[1], lineSizes[1], chromaWidth, chromaHeight);
    CopyRows(destination + lumaSize + chromaSize, chromaWidth, sourcePlanes[2], lineSizes[2], chromaWidth,
             chromaHeight);
}
