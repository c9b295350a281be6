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
    // Pictures the codec handed out since the stream opened (in presentation
    // order after each seek); those it was told to leave out do not count.
    static long long DecodedPictures(VideoDecoder const& decoder) { return decoder.mDecoding.pictureCount; }
    // The time of the latest picture the codec handed out.
    static long long LastPictureTime(VideoDecoder const& decoder) { return decoder.mDecoding.lastPacketTime; }
    // Whether the codec the next packet goes to decodes several pictures at
    // once.
    static bool DecodesOnFrameThreads(VideoDecoder const& decoder)
    {
        AVCodecContext const* context = decoder.DecodingContext();
        return context && (context->active_thread_type & FF_THREAD_FRAME);
    }
};
