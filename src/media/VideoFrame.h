#pragma once

#include "media/VideoFramePixelFormat.h"

#include <QImage>

#include <atomic>
#include <cstdint>
#include <memory>

class Timeline;
struct VideoStreamInfo;

// One decoded picture, shared by reference count between decoders, caches,
// export and viewers; created only with std::make_shared. The pixels are copied
// in at construction and never change. The two end times are atomic: the frame
// cache trims or holds the last frame while viewers may be reading it.
struct VideoFrame
{
    // sourcePlanes and lineSizes hold up to three entries (one per plane). Without
    // plane data the frame is an empty, black 1 x 1 picture. A packed frame
    // (for export) keeps its rows without padding in one buffer and no images.
    VideoFrame(uint8_t const* const* sourcePlanes, int const* lineSizes, int width, int height,
               VideoFramePixelFormat pixelFormat, long long packetStartTime, VideoStreamInfo* streamInfo,
               bool packed);

    VideoFrame(VideoFrame const&) = delete;
    VideoFrame& operator=(VideoFrame const&) = delete;

    std::unique_ptr<uint8_t[]> planeData[3];
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

private:
    void CopyPlanes(uint8_t const* const* sourcePlanes, int const* lineSizes, int height);
    void CopyPacked(uint8_t const* const* sourcePlanes, int const* lineSizes, int width, int height);
};
