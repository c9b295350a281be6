#include "media/TenBitPictureConversion.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace
{

// The picture the match with the scaler is checked on: every 10-bit value at
// every column and row phase of the dither, in every plane, and an odd size.
int const CHECK_WIDTH = 2 * 1024 + 3;
int const CHECK_HEIGHT = 9;

int ChromaSize(int size)
{
    return (size + 1) / 2;
}

} // namespace

bool TenBitPictureConversion::Handles(AVFrame const* picture, AVPixelFormat output, int scalerFlags)
{
    return picture && picture->format == AV_PIX_FMT_YUV420P10LE && output == AV_PIX_FMT_YUV420P &&
           picture->width > 0 && picture->height > 0 && MatchesScaler(scalerFlags);
}

void TenBitPictureConversion::Convert(AVFrame const* picture, uint8_t* const* planes, int const* lineSizes)
{
    for (int plane = 0; plane < 3; ++plane)
    {
        int const width = plane == 0 ? picture->width : ChromaSize(picture->width);
        int const height = plane == 0 ? picture->height : ChromaSize(picture->height);
        ConvertPlane(reinterpret_cast<uint16_t const*>(picture->data[plane]), picture->linesize[plane], planes[plane],
                     lineSizes[plane], width, height);
    }
}

void TenBitPictureConversion::ConvertPlane(uint16_t const* source, int sourceStride, uint8_t* target,
                                           int targetStride, int width, int height)
{
    for (int y = 0; y < height; ++y)
    {
        auto const* row = reinterpret_cast<uint16_t const*>(reinterpret_cast<uint8_t const*>(source) +
                                                            static_cast<std::ptrdiff_t>(y) * sourceStride);
        uint8_t* out = target + static_cast<std::ptrdiff_t>(y) * targetStride;
        uint16_t const even = (y & 1) ? 3 : 1;
        uint16_t const odd = (y & 1) ? 0 : 2;
        int x = 0;
#if defined(__SSE2__)
        // Sixteen samples at a time: the sum saturates (a sample above 10
        // bits, which no decoder makes, ends at 255 either way), and the
        // pack to bytes saturates at 255.
        __m128i const dither = _mm_set_epi16(static_cast<short>(odd), static_cast<short>(even),
                                             static_cast<short>(odd), static_cast<short>(even),
                                             static_cast<short>(odd), static_cast<short>(even),
                                             static_cast<short>(odd), static_cast<short>(even));
        for (; x + 16 <= width; x += 16)
        {
            __m128i const low = _mm_loadu_si128(reinterpret_cast<__m128i const*>(row + x));
            __m128i const high = _mm_loadu_si128(reinterpret_cast<__m128i const*>(row + x + 8));
            __m128i const packed = _mm_packus_epi16(_mm_srli_epi16(_mm_adds_epu16(low, dither), 2),
                                                    _mm_srli_epi16(_mm_adds_epu16(high, dither), 2));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), packed);
        }
#endif
        for (; x < width; ++x)
        {
            unsigned const sum = row[x] + ((x & 1) ? odd : even);
            out[x] = static_cast<uint8_t>(std::min(sum >> 2, 255U));
        }
    }
}

bool TenBitPictureConversion::MatchesScaler(int scalerFlags)
{
    // Checked once per set of flags (the engine uses one), by whichever
    // thread asks first: the results are shared by every thread and guarded
    // by the mutex.
    static std::mutex mutex;
    static std::vector<std::pair<int, bool>> checked;
    std::lock_guard<std::mutex> const locker(mutex);
    for (auto const& [flags, matches] : checked)
    {
        if (flags == scalerFlags)
        {
            return matches;
        }
    }
    bool matches = false;
    AVFrame* source = av_frame_alloc();
    AVFrame* scaled = av_frame_alloc();
    AVFrame* own = av_frame_alloc();
    SwsContext* scaler = sws_getContext(CHECK_WIDTH, CHECK_HEIGHT, AV_PIX_FMT_YUV420P10LE, CHECK_WIDTH, CHECK_HEIGHT,
                                        AV_PIX_FMT_YUV420P, scalerFlags, nullptr, nullptr, nullptr);
    bool ready = source && scaled && own && scaler;
    if (ready)
    {
        source->format = AV_PIX_FMT_YUV420P10LE;
        scaled->format = own->format = AV_PIX_FMT_YUV420P;
        source->width = scaled->width = own->width = CHECK_WIDTH;
        source->height = scaled->height = own->height = CHECK_HEIGHT;
        ready = av_frame_get_buffer(source, 0) >= 0 && av_frame_get_buffer(scaled, 0) >= 0 &&
                av_frame_get_buffer(own, 0) >= 0;
    }
    if (ready)
    {
        // Luma runs through every value at both column phases; chroma (half as
        // wide) through every value once, and shifted by a column on each row.
        for (int plane = 0; plane < 3; ++plane)
        {
            int const width = plane == 0 ? CHECK_WIDTH : ChromaSize(CHECK_WIDTH);
            int const height = plane == 0 ? CHECK_HEIGHT : ChromaSize(CHECK_HEIGHT);
            for (int y = 0; y < height; ++y)
            {
                auto* row = reinterpret_cast<uint16_t*>(source->data[plane] + y * source->linesize[plane]);
                for (int x = 0; x < width; ++x)
                {
                    row[x] = static_cast<uint16_t>((plane == 0 ? x / 2 : x + y) & 1023);
                }
            }
        }
        ready = sws_scale(scaler, source->data, source->linesize, 0, CHECK_HEIGHT, scaled->data, scaled->linesize) > 0;
    }
    if (ready)
    {
        Convert(source, own->data, own->linesize);
        matches = true;
        for (int plane = 0; plane < 3 && matches; ++plane)
        {
            int const width = plane == 0 ? CHECK_WIDTH : ChromaSize(CHECK_WIDTH);
            int const height = plane == 0 ? CHECK_HEIGHT : ChromaSize(CHECK_HEIGHT);
            for (int y = 0; y < height && matches; ++y)
            {
                matches = std::equal(own->data[plane] + y * own->linesize[plane],
                                     own->data[plane] + y * own->linesize[plane] + width,
                                     scaled->data[plane] + y * scaled->linesize[plane]);
            }
        }
    }
    sws_freeContext(scaler);
    av_frame_free(&source);
    av_frame_free(&scaled);
    av_frame_free(&own);
    checked.emplace_back(scalerFlags, matches);
    return matches;
}
