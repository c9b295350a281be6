#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

// The one place where the player bridges differences between FFmpeg releases.
namespace FfmpegCompat
{
// The display matrix (nine 32-bit values) a stream carries, or null. FFmpeg
// 6.1 moved stream side data into the codec parameters.
int32_t const* StreamDisplayMatrix(AVStream const* stream);
}
