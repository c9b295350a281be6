#include "media/VideoFrameBufferPool.h"

#include "app/ThreadHandOver.h"
#include "media/PictureArena.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
}

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#if (defined(__unix__) || defined(__APPLE__)) && !defined(__SANITIZE_ADDRESS__)
#define TESSARIN_MAPPED_PICTURES 1
#endif

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace
{

// Padding: vectorised conversion may touch a few bytes past the last row.
size_t PaddedSize(size_t size)
{
    return size + AV_INPUT_BUFFER_PADDING_SIZE;
}

// Whether a buffer of this size is kept off the heap, in mapped memory of
// its own: the heap would keep freed pictures' pages (its threshold for
// mapping follows the largest block freed), so memory let go would stay
// resident, split among the threads' arenas. Such buffers are fresh pages
// when made, which warming pays for ahead. (The address sanitizer build keeps
// them all on the heap it watches.)
bool Mapped(size_t size)
{
#if defined(TESSARIN_MAPPED_PICTURES)
    return PaddedSize(size) >= 1024 * 1024;
#else
    (void)size;
    return false;
#endif
}

// resident, when given, tells whether every page of it is backed already.
uint8_t* AllocateBytes(size_t size, bool* resident = nullptr)
{
    if (Mapped(size))
    {
        return PictureArena::Instance().Allocate(PaddedSize(size), resident);
    }
    if (resident)
    {
        *resident = false;
    }
    return static_cast<uint8_t*>(av_malloc(PaddedSize(size)));
}

// Frees what AllocateBytes(size) gave.
void FreeBytes(uint8_t* data, size_t size)
{
    if (Mapped(size))
    {
        PictureArena::Instance().Free(data, PaddedSize(size));
        return;
    }
    av_free(data);
}

// Room decoders may write past a plane's last row (edge emulation, SIMD).
size_t const DECODER_SLACK = 16 + 64 + 63;

// Bytes of the decoders' picture buffers not yet given back (any thread).
std::atomic<long long> lentBytes {0};

// What a decoder's picture buffer returns to.
struct LentBuffer
{
    VideoFrameBuffer buffer;
    long long size = 0;
};

void ReturnDecoderBuffer(void* opaque, uint8_t*)
{
    // FFmpeg's reference count orders the thread that took the buffer for
    // the decoder before the one that lets it go.
    ThreadHandOver::Acquire(opaque);
    auto* lent = static_cast<LentBuffer*>(opaque);
    lentBytes.fetch_sub(lent->size, std::memory_order_relaxed);
    delete lent; // the buffer goes back to its pool
}

} // namespace

void VideoFrameBufferRelease::operator()(uint8_t* data) const
{
    if (!data || !owned)
    {
        return;
    }
    if (std::shared_ptr<VideoFrameBufferPool> const lender = pool.lock())
    {
        lender->Return(data, size);
        return;
    }
    FreeBytes(data, size);
}

VideoFrameBufferPool::VideoFrameBufferPool(long long idleLimit)
    : mIdleLimit(idleLimit)
{
}

VideoFrameBufferPool::~VideoFrameBufferPool()
{
    std::vector<std::thread> warmers;
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        mStopping = true;
        warmers.swap(mWarmers);
    }
    mWarmChanged.notify_all();
    for (std::thread& warmer : warmers)
    {
        warmer.join();
    }
    for (Idle const& idle : mIdle)
    {
        FreeBytes(idle.data, idle.size);
    }
}

std::shared_ptr<VideoFrameBufferPool> const& VideoFrameBufferPool::Shared()
{
    // Never destroyed: a decoding thread the process leaves running at exit
    // (a task that did not end within its bounded wait) may still take
    // buffers while static objects are being destroyed.
    static auto const* const pool = new std::shared_ptr<VideoFrameBufferPool>(std::make_shared<VideoFrameBufferPool>());
    return *pool;
}

VideoFrameBuffer VideoFrameBufferPool::Acquire(size_t size, bool warmAhead)
{
    uint8_t* data = nullptr;
    size_t capacity = size;
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        // The smallest idle buffer that fits, unless it would waste more
        // than a quarter of itself; of those alike, the one given back
        // last, whose memory the processor's caches may still hold.
        auto best = mIdle.end();
        for (auto it = mIdle.begin(); it != mIdle.end(); ++it)
        {
            if (it->size >= size && it->size - size <= it->size / 4 && (best == mIdle.end() || it->size <= best->size))
            {
                best = it;
            }
        }
        if (best != mIdle.end())
        {
            data = best->data;
            capacity = best->size;
            mIdleBytes -= static_cast<long long>(best->size);
            if (best->warm)
            {
                --mWarmIdle; // taken: the warming threads make the next one
                mWarmChanged.notify_one();
            }
            *best = mIdle.back();
            mIdle.pop_back();
        }
        else if (warmAhead)
        {
            WantWarm(size);
        }
    }
    if (!data)
    {
        data = AllocateBytes(size);
    }
    if (!data)
    {
        return VideoFrameBuffer(nullptr, VideoFrameBufferRelease {});
    }
    VideoFrameBufferRelease release;
    release.pool = weak_from_this();
    release.size = capacity;
    return VideoFrameBuffer(data, std::move(release));
}

VideoFrameBuffer VideoFrameBufferPool::Allocate(size_t size)
{
    VideoFrameBufferRelease release;
    release.size = size;
    return VideoFrameBuffer(AllocateBytes(size), std::move(release));
}

VideoFrameBuffer VideoFrameBufferPool::Borrow(uint8_t* data)
{
    VideoFrameBufferRelease release;
    release.owned = false;
    return VideoFrameBuffer(data, std::move(release));
}

void VideoFrameBufferPool::Return(uint8_t* data, size_t size)
{
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        if (mIdleBytes + static_cast<long long>(size) <= mIdleLimit)
        {
            mIdle.push_back({size, data, false});
            mIdleBytes += static_cast<long long>(size);
            return;
        }
    }
    FreeBytes(data, size); // outside the lock: unmapping a picture takes a while
}

long long VideoFrameBufferPool::IdleBytes() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return mIdleBytes;
}

int VideoFrameBufferPool::IdleCount() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return static_cast<int>(mIdle.size());
}

void VideoFrameBufferPool::SetIdleLimit(long long bytes)
{
    std::vector<Idle> freed;
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        mIdleLimit = std::max(bytes, 0LL);
        while (mIdleBytes > mIdleLimit && !mIdle.empty())
        {
            mIdleBytes -= static_cast<long long>(mIdle.back().size);
            mWarmIdle -= mIdle.back().warm ? 1 : 0;
            freed.push_back(mIdle.back());
            mIdle.pop_back();
        }
    }
    for (Idle const& idle : freed)
    {
        FreeBytes(idle.data, idle.size);
    }
}

void VideoFrameBufferPool::Trim()
{
    std::vector<Idle> freed;
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        freed.swap(mIdle);
        mIdleBytes = 0;
        // Buffers being made now are dropped when they are done.
        mWarmSize = 0;
        mWarmIdle = 0;
        ++mWarmGeneration;
    }
    for (Idle const& idle : freed)
    {
        FreeBytes(idle.data, idle.size);
    }
    ReleaseHeapMemory();
}

bool VideoFrameBufferPool::WarmsAheadFor(AVCodecContext const* context)
{
    if (!context || !(context->active_thread_type & FF_THREAD_FRAME))
    {
        return true;
    }
    return context->codec_descriptor && (context->codec_descriptor->props & AV_CODEC_PROP_INTRA_ONLY);
}

int VideoFrameBufferPool::WarmCount() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return mWarmIdle;
}

void VideoFrameBufferPool::WantWarm(size_t size)
{
    if (!Mapped(size) || mStopping)
    {
        return;
    }
    // Buffers made for another size still count: warm memory stays within a
    // few pictures however the sizes asked for change.
    mWarmSize = size;
    while (static_cast<int>(mWarmers.size()) < WARMING_THREADS)
    {
        mWarmers.emplace_back([this] { WarmLoop(); });
    }
    mWarmChanged.notify_all();
}

bool VideoFrameBufferPool::WarmWanted() const
{
    long long const making = static_cast<long long>(mWarmInFlight + 1) * static_cast<long long>(mWarmSize);
    return mWarmSize > 0 && mWarmIdle + mWarmInFlight < WARM_AHEAD && mIdleBytes + making <= mIdleLimit;
}

void VideoFrameBufferPool::WarmLoop()
{
    static size_t const page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    std::unique_lock<std::mutex> lock(mMutex);
    while (true)
    {
        mWarmChanged.wait(lock, [this] { return mStopping || WarmWanted(); });
        if (mStopping)
        {
            return;
        }
        size_t const size = mWarmSize;
        unsigned int const generation = mWarmGeneration;
        ++mWarmInFlight;
        lock.unlock();
        bool resident = false;
        uint8_t* const data = AllocateBytes(size, &resident);
        if (data && !resident)
        {
            // One write a page has the system back every page of it now.
            volatile uint8_t* const bytes = data;
            for (size_t offset = 0; offset < PaddedSize(size); offset += page)
            {
                bytes[offset] = 0;
            }
        }
        lock.lock();
        --mWarmInFlight;
        if (data && !mStopping && generation == mWarmGeneration && size == mWarmSize &&
            mIdleBytes + static_cast<long long>(size) <= mIdleLimit)
        {
            mIdle.push_back({size, data, true});
            mIdleBytes += static_cast<long long>(size);
            ++mWarmIdle;
            continue;
        }
        if (!data)
        {
            mWarmSize = 0; // out of memory: no more warming until asked again
            continue;
        }
        lock.unlock();
        FreeBytes(data, size);
        lock.lock();
    }
}

void VideoFrameBufferPool::ReleaseHeapMemory()
{
    // Not under the sanitizers, whose allocators it crashed when two threads
    // trimmed at once; and one call at a time in any case.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    static std::mutex trimming;
    std::lock_guard<std::mutex> const locker(trimming);
    malloc_trim(0);
#endif
}

int VideoFrameBufferPool::GetDecoderBuffer(AVCodecContext* context, AVFrame* frame, int flags)
{
    return Shared()->LendDecoderBuffer(context, frame, flags, WarmsAheadFor(context));
}

int VideoFrameBufferPool::LendDecoderBuffer(AVCodecContext* context, AVFrame* frame, int flags, bool warmAhead)
{
    auto const format = static_cast<AVPixelFormat>(frame->format);
    AVPixFmtDescriptor const* descriptor = av_pix_fmt_desc_get(format);
    bool const plain = descriptor && (descriptor->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL |
                                                           AV_PIX_FMT_FLAG_BITSTREAM)) == 0;
    if (!plain || !(context->codec->capabilities & AV_CODEC_CAP_DR1) || frame->width <= 0 || frame->height <= 0)
    {
        return avcodec_default_get_buffer2(context, frame, flags);
    }
    // The layout the default allocator makes: dimensions padded as the codec
    // needs, every line size a multiple of its alignment.
    int width = frame->width;
    int height = frame->height;
    int strideAlign[AV_NUM_DATA_POINTERS] = {};
    avcodec_align_dimensions2(context, &width, &height, strideAlign);
    int lineSizes[4] = {};
    bool unaligned = true;
    while (unaligned)
    {
        if (av_image_fill_linesizes(lineSizes, format, width) < 0)
        {
            return avcodec_default_get_buffer2(context, frame, flags);
        }
        width += width & ~(width - 1); // the next try is aligned to the next power of two
        unaligned = false;
        for (int i = 0; i < 4; ++i)
        {
            unaligned = unaligned || (strideAlign[i] > 0 && lineSizes[i] % strideAlign[i] != 0);
        }
    }
    uint8_t* planes[4] = {};
    int const size = av_image_fill_pointers(planes, format, height, nullptr, lineSizes);
    if (size <= 0)
    {
        return avcodec_default_get_buffer2(context, frame, flags);
    }
    auto* lent = new LentBuffer {Acquire(static_cast<size_t>(size) + DECODER_SLACK, warmAhead),
                                 static_cast<long long>(size) + static_cast<long long>(DECODER_SLACK)};
    if (!lent->buffer)
    {
        delete lent;
        return AVERROR(ENOMEM);
    }
    uint8_t* const base = lent->buffer.get();
    frame->buf[0] = av_buffer_create(base, size + static_cast<int>(DECODER_SLACK), ReturnDecoderBuffer, lent, 0);
    if (!frame->buf[0])
    {
        delete lent;
        return AVERROR(ENOMEM);
    }
    lentBytes.fetch_add(lent->size, std::memory_order_relaxed);
    ThreadHandOver::Release(lent);
    av_image_fill_pointers(frame->data, format, height, base, lineSizes);
    for (int i = 0; i < 4; ++i)
    {
        frame->linesize[i] = lineSizes[i];
    }
    frame->extended_data = frame->data;
    return 0;
}

long long VideoFrameBufferPool::DecoderBufferBytes()
{
    return lentBytes.load(std::memory_order_relaxed);
}

int VideoFrameBufferPool::GetClearedDecoderBuffer(AVCodecContext* context, AVFrame* frame, int flags)
{
    int const result = GetDecoderBuffer(context, frame, flags);
    if (result >= 0)
    {
        ClearPicture(frame);
    }
    return result;
}

void VideoFrameBufferPool::ClearPicture(AVFrame* frame)
{
    auto const format = static_cast<AVPixelFormat>(frame->format);
    AVPixFmtDescriptor const* descriptor = av_pix_fmt_desc_get(format);
    if (!descriptor || frame->width <= 0 || frame->height <= 0)
    {
        return;
    }
    ptrdiff_t lineSizes[4] = {};
    for (int i = 0; i < 4; ++i)
    {
        lineSizes[i] = frame->linesize[i];
    }
    // The J formats are full range whatever the frame says yet.
    bool const fullRange = frame->color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
                           format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
                           format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
    if (av_image_fill_black(frame->data, lineSizes, format, fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG,
                            frame->width, frame->height) >= 0)
    {
        return;
    }
    // Formats it leaves out (floating point, over 16 bits a component,
    // palettes): black is all zero bytes there, then opaque alpha.
    size_t planeSizes[4] = {};
    if (av_image_fill_plane_sizes(planeSizes, format, frame->height, lineSizes) < 0)
    {
        return;
    }
    for (int i = 0; i < 4; ++i)
    {
        if (frame->data[i] && lineSizes[i] > 0)
        {
            std::memset(frame->data[i], 0, planeSizes[i]);
        }
    }
    AVComponentDescriptor const& alpha = descriptor->comp[3];
    int const floatPlanes = AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_PLANAR;
    bool const floatAlpha = (descriptor->flags & floatPlanes) == floatPlanes && alpha.depth == 32 && alpha.step == 4 &&
                            !(descriptor->flags & AV_PIX_FMT_FLAG_BE);
    if (floatAlpha && frame->data[alpha.plane])
    {
        float const opaque = 1.0f;
        for (int row = 0; row < frame->height; ++row)
        {
            uint8_t* line = frame->data[alpha.plane] + static_cast<ptrdiff_t>(row) * lineSizes[alpha.plane];
            for (int x = 0; x < frame->width; ++x)
            {
                std::memcpy(line + static_cast<ptrdiff_t>(x) * 4, &opaque, sizeof opaque);
            }
        }
    }
}
