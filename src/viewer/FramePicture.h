#pragma once

#include "media/VideoFramePixelFormat.h"

#include <QImage>
#include <QSize>

#include <memory>

struct VideoFrame;

// What a viewer reads of a decoded frame, taken once when the frame is handed
// over. The stream's properties are copied here: the frame's stream record may
// be freed (a source refreshed or replaced) while the frame is still on screen,
// so nothing reads it after the hand-over. The plane pointers stay valid for as
// long as the frame itself is held.
struct FramePicture
{
    // A frame that carries a picture: not null and not an empty placeholder.
    static bool HasPicture(std::shared_ptr<VideoFrame> const& frame);
    static FramePicture FromFrame(VideoFrame const& frame);
    // Any angle as a quarter turn in 0..270: -90 becomes 270, 450 becomes 90.
    static int NormalizedRotation(int degrees);

    // The picture part of a plane (padding columns left out) as an image over
    // the frame's own bytes: copy it before the frame is let go.
    QImage PlaneImage(int plane) const;
    // The picture as RGB (RGB24 and YUV420P) or RGBA, converted from YUV with
    // the same matrices as the OpenGL viewer's shader.
    QImage ToImage() const;

    bool valid = false;
    VideoFramePixelFormat pixelFormat = VideoFramePixelFormat::RGB24;
    int planeCount = 0;
    uchar const* planeBits[3] = {nullptr, nullptr, nullptr};
    int bytesPerLine[3] = {0, 0, 0};
    QSize planeSizes[3];    // the picture part of each plane in pixels
    int lineWidth = 0;      // pixels in one decoded line of plane 0, padding included

    // Copied from the stream's record; picture-derived defaults without one.
    bool hasStreamProperties = false;
    int codedWidth = 0;
    int codedHeight = 0;
    int rotation = 0;                // 0, 90, 180 or 270
    float pixelAspectRatio = 1.0f;   // > 0
    float displayAspectRatio = 1.0f; // > 0, finite
    bool yuv = false;                // the planes hold Y, U and V
    bool rec709 = false;
    bool linear = false;
};
