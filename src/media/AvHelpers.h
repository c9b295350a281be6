#pragma once

#include "media/AudioOutputFormat.h"

#include <QString>

extern "C" {
#include <libavutil/samplefmt.h>
}

struct AVFormatContext;

// Conversions between frame rates, microseconds and output audio sizes shared by
// the model and the engine, the playback wall clock, and a quick open test.
// Output audio is interleaved 32-bit float in an AudioOutputFormat. The
// forms without a format or a cache size read the settings: main thread only;
// worker threads pass the copy their task was started with.
class AvHelpers
{
public:
    AvHelpers() = delete;

    // Monotonic microseconds: a calendar clock change must not move playback.
    static long long AvGetTime();
    static double FrameRateToFrameStep(double frameRate);

    static int AudioOutputMaxChannelCount();
    static AVSampleFormat AudioOutputSampleFormat();
    static int AudioOutputBytesPerSample();
    // The bytes of one sample frame (a sample of every channel).
    static long long AudioOutputFrameSize(AudioOutputFormat const& format);
    static long long AudioOutputSizeForDuration(long long duration, AudioOutputFormat const& format);
    static long long AudioOutputDurationForSize(long long size, AudioOutputFormat const& format);
    static long long AudioOutputSamplesPerChannel(long long size, AudioOutputFormat const& format);
    static long long AudioOutputSizeForDuration(long long duration);
    static long long AudioOutputDurationForSize(long long size);
    static long long AudioOutputSamplesPerChannel(long long size);

    static bool CanOpenInput(QString const& path);
    // The media libraries' words for one of their error codes.
    static QString ErrorText(int error);

    // The largest picture (in pixels) a decoder may allocate: one that
    // would not fit the frame cache on its own (4 bytes a pixel) is refused
    // before any memory is taken for it, whatever its file claims.
    static long long MaximumPicturePixels(int cacheMegabytes);
    static long long MaximumPicturePixels();
    // avformat_find_stream_info, with every decoder it opens held to
    // MaximumPicturePixels: finding the stream information decodes pictures,
    // and a header claiming a picture too large must not make it allocate
    // one. Returns what avformat_find_stream_info returns.
    static int FindStreamInfo(AVFormatContext* context, int cacheMegabytes);
    static int FindStreamInfo(AVFormatContext* context);
};
