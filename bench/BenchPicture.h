#pragma once

#include "media/VideoFramePixelFormat.h"

#include <QString>

struct VideoFrame;

// What a viewer shows of a decoded picture, in the form `ffmpeg -f framemd5`
// prints it: the visible pixels only, plane after plane, each row cropped to
// the picture width (4:2:0 chroma at half size rounded up).
namespace BenchPicture
{
// The visible width: the stream's, unless the picture no longer has the
// stream's size (a size change midway), then the widest its rows allow.
int Width(VideoFrame const& frame);
int Height(VideoFrame const& frame);
QString Md5(VideoFrame const& frame);
// The ffmpeg pixel format name of the layout ("yuv420p", "rgb24", "rgba").
QString FormatName(VideoFramePixelFormat format);
}
