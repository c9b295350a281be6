#pragma once

#include "media/VideoDecoder.h"
#include "media/VideoFrame.h"

#include <memory>

// What tests set up in a VideoDecoder beyond what the engine uses.
class VideoDecoderTestAccess
{
public:
    static void SeekSingleBackwardWindow(VideoDecoder& decoder, long long t, int frames)
    {
        decoder.SeekSingleBackwardWindow(t, frames);
    }
    // Bytes of the backward window's pictures not handed out yet.
    static long long WindowBytes(VideoDecoder const& decoder)
    {
        long long bytes = 0;
        for (std::shared_ptr<VideoFrame> const& frame : decoder.mWindow.frames)
        {
            bytes += frame ? frame->byteSize : 0;
        }
        return bytes;
    }
    static void SetConversionThreadCount(VideoDecoder& decoder, int threads)
    {
        decoder.SetConversionThreadCount(threads);
    }
};
