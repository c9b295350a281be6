#pragma once

#include "media/VideoDecoder.h"

// What tests set up in a VideoDecoder beyond what the engine uses.
class VideoDecoderTestAccess
{
public:
    static void SetConversionThreadCount(VideoDecoder& decoder, int threads)
    {
        decoder.SetConversionThreadCount(threads);
    }
};
