#include "media/FfmpegCompat.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace FfmpegCompat
{

int32_t const* StreamDisplayMatrix(AVStream const* stream)
{
    if (!stream)
    {
        return nullptr;
    }
    size_t constexpr matrixSize = 9 * sizeof(int32_t);
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 31, 100)
    AVPacketSideData const* sideData = av_packet_side_data_get(
        stream->codecpar->coded_side_data, stream->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    if (!sideData || !sideData->data || sideData->size < matrixSize)
    {
        return nullptr;
    }
    return reinterpret_cast<int32_t const*>(sideData->data);
#else
    size_t size = 0;
    uint8_t const* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!data || size < matrixSize)
    {
        return nullptr;
    }
    return reinterpret_cast<int32_t const*>(data);
#endif
}

} // namespace FfmpegCompat

void FfmpegCompat::MarkCallbacksThreadSafe(AVCodecContext* context)
{
#if defined(FF_API_THREAD_SAFE_CALLBACKS) && FF_API_THREAD_SAFE_CALLBACKS
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    context->thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#else
    (void)context;
#endif
}

bool FfmpegCompat::IsRawStreamFormat(AVInputFormat const* format)
{
#if LIBAVFORMAT_VERSION_MAJOR < 61
    return format && format->raw_codec_id != AV_CODEC_ID_NONE;
#else
    return false;
#endif
}
