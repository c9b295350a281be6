#pragma once

#include "media/VideoFrameBufferPool.h"
#include "media/VideoFramePixelFormat.h"

#include <QImage>

#include <atomic>
#include <cstdint>
#include <memory>

class Timeline;
struct VideoStreamInfo;

// Planes handed to a VideoFrame without a copy: either one buffer that holds
// them all (written by the converter), or a decoder's picture kept as it came
// (picture keeps it alive; the bytes are read-only).
struct VideoFramePlanes
{
    VideoFrameBuffer buffer {nullptr, VideoFrameBufferRelease {}};
    std::shared_ptr<void const> picture;
    uint8_t* data[3] = {};
    int lineSizes[3] = {};
    long long byteSize = 0; // what the planes hold in memory
};

// One decoded picture, shared by reference count between decoders, caches,
// export and viewers; created only with std::make_shared. The pixels are copied
// in at construction and never change. The two end times are atomic: the frame
// cache trims or holds the last frame while viewers may be reading it.
//
// planeData[i].get() is plane i's first byte and planes[i].bytesPerLine() its
// line size, however the frame was made.
struct VideoFrame
{
    // sourcePlanes and lineSizes hold up to three entries (one per plane). Without
    // plane data the frame is an empty, black 1 x 1 picture. A packed frame
    // (for export) keeps its rows without padding in one buffer and no images.
    VideoFrame(uint8_t const* const* sourcePlanes, int const* lineSizes, int width, int height,
               VideoFramePixelFormat pixelFormat, long long packetStartTime, VideoStreamInfo* streamInfo,
               bool packed);
    // Adopts planes written elsewhere (never packed). Without data it is the
    // empty, black 1 x 1 picture.
    VideoFrame(VideoFramePlanes adopted, int width, int height, VideoFramePixelFormat pixelFormat,
               long long packetStartTime, VideoStreamInfo* streamInfo);

    VideoFrame(VideoFrame const&) = delete;
    VideoFrame& operator=(VideoFrame const&) = delete;

    VideoFrameBuffer planeData[3]; // plane bytes; null for packed frames
    QImage planes[3]; // over planeData; null for packed frames
    VideoFramePixelFormat pixelFormat;
    int width = 1;  // of the picture held; 1 x 1 for an empty frame
    int height = 1;
    long long packetStartTime;
    std::atomic<long long> packetEndTime;
    long long adjustedStartTime = -1; // timeline time, stamped by the decode loop
    std::atomic<long long> adjustedEndTime {-1};
    int startFrame = -1;
    int endFrame = -1;
    Timeline* timeline = nullptr; // the timeline the frame was cached for
    VideoStreamInfo* streamInfo;
    bool emptyFrame = false;
    std::unique_ptr<uint8_t[]> packedData;
    long long byteSize = 0;

    // The decoder's picture the planes lie in, when it was kept without a
    // copy (its bytes may still serve the decoder as a reference: read only).
    std::shared_ptr<void const> decodedPicture;

private:
    void MakeEmpty();
    void WrapPlanes(int height, bool readOnly, int const* lineSizes);
    void CopyPlanes(uint8_t const* const* sourcePlanes, int const* lineSizes, int height);
    void CopyPacked(uint8_t const* const* sourcePlanes, int const* lineSizes, int width, int height);
};
