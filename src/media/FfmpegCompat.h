#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// The one place where the player bridges differences between FFmpeg releases.
namespace FfmpegCompat
{
// The display matrix (nine 32-bit values) a stream carries, or null. FFmpeg
// 6.1 moved stream side data into the codec parameters.
int32_t const* StreamDisplayMatrix(AVStream const* stream);
// Tells a decoder that its get_buffer2 may be called from its frame threads
// (FFmpeg before 6.0 asks for that explicitly, and complains otherwise).
void MarkCallbacksThreadSafe(AVCodecContext* context);
// Whether a demuxer reads a raw elementary stream (no container: the
// timestamps are made up from the frame rate). FFmpeg 7 hides the field.
bool IsRawStreamFormat(AVInputFormat const* format);
}
