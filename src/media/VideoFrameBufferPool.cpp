#include "media/VideoFrameBufferPool.h"

#include "app/ThreadHandOver.h"

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
#include <sys/mman.h>
#include <unistd.h>
#define TESSARIN_MAPPED_PICTURES 1
#endif

#include <algorithm>
#include <iterator>
#include <map>

namespace
{

#if defined(TESSARIN_MAPPED_PICTURES)
// Pictures from this size on are kept off the heap, in mapped memory of their
// own: the heap would keep freed pictures' pages (its threshold for mapping
// follows the largest block freed), so memory let go would stay resident,
// split among the threads' arenas. (The address sanitizer build keeps them on
// the heap it watches.)
size_t const MAPPED_MINIMUM = 1024 * 1024;
#endif

#if defined(TESSARIN_MAPPED_PICTURES)
// Address space for pictures, reserved in large pieces and carved into
// page-aligned blocks. A freed block's pages go back to the system at once
// (MADV_DONTNEED) and its addresses to the piece; a piece is unmapped when
// its last block goes. Mapping every picture on its own would take the
// process's address-space lock for writing on each map and unmap, which
// holds up the page faults of the threads writing other pictures (and
// neighbouring mappings merge, so a new picture locks the one being written
// next to it). Any thread.
class PictureArena
{
public:
    static PictureArena& Instance()
    {
        // Never destroyed: pictures may be freed by other statics' destructors.
        static PictureArena* const arena = new PictureArena();
        return *arena;
    }

    uint8_t* Allocate(size_t size)
    {
        size = PageRounded(size);
        {
            std::lock_guard<std::mutex> const locker(mMutex);
            for (Piece& piece : mPieces)
            {
                // First fit: pictures of a stream share their size, so the
                // gaps fit the next ones.
                for (auto it = piece.free.begin(); it != piece.free.end(); ++it)
                {
                    if (it->second < size)
                    {
                        continue;
                    }
                    size_t const offset = it->first;
                    size_t const rest = it->second - size;
                    piece.free.erase(it);
                    if (rest > 0)
                    {
                        piece.free.emplace(offset + size, rest);
                    }
                    piece.used += size;
                    return piece.base + offset;
                }
            }
        }
        // A new piece, mapped outside the lock; its pages are only backed
        // once written.
        size_t const pieceSize = std::max(PIECE_SIZE, size);
        void* const mapped =
            mmap(nullptr, pieceSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (mapped == MAP_FAILED)
        {
            return nullptr;
        }
        Piece piece;
        piece.base = static_cast<uint8_t*>(mapped);
        piece.size = pieceSize;
        piece.used = size;
        if (pieceSize > size)
        {
            piece.free.emplace(size, pieceSize - size);
        }
        std::lock_guard<std::mutex> const locker(mMutex);
        mPieces.push_back(std::move(piece));
        return static_cast<uint8_t*>(mapped);
    }

    void Free(uint8_t* data, size_t size)
    {
        size = PageRounded(size);
        // Dropped before the addresses can be handed out again; taking the
        // lock for reading only, it holds up no other thread's faults.
        madvise(data, size, MADV_DONTNEED);
        uint8_t* unmapBase = nullptr;
        size_t unmapSize = 0;
        {
            std::lock_guard<std::mutex> const locker(mMutex);
            auto const piece = std::find_if(mPieces.begin(), mPieces.end(), [data](Piece const& candidate) {
                return data >= candidate.base && data < candidate.base + candidate.size;
            });
            if (piece == mPieces.end())
            {
                return;
            }
            piece->used -= size;
            if (piece->used == 0)
            {
                unmapBase = piece->base;
                unmapSize = piece->size;
                *piece = std::move(mPieces.back());
                mPieces.pop_back();
            }
            else
            {
                // Joined with the free ranges on either side.
                size_t offset = static_cast<size_t>(data - piece->base);
                size_t length = size;
                auto next = piece->free.lower_bound(offset);
                if (next != piece->free.end() && next->first == offset + length)
                {
                    length += next->second;
                    next = piece->free.erase(next);
                }
                if (next != piece->free.begin())
                {
                    auto const previous = std::prev(next);
                    if (previous->first + previous->second == offset)
                    {
                        offset = previous->first;
                        length += previous->second;
                        piece->free.erase(previous);
                    }
                }
                piece->free.emplace(offset, length);
            }
        }
        if (unmapBase)
        {
            munmap(unmapBase, unmapSize);
        }
    }

private:
    // Address space reserved at a time (nothing of it is resident unwritten).
    static constexpr size_t PIECE_SIZE = 256 * 1024 * 1024;

    struct Piece
    {
        uint8_t* base = nullptr;
        size_t size = 0;
        size_t used = 0;
        std::map<size_t, size_t> free; // offset -> length, ranges apart
    };

    static size_t PageRounded(size_t size)
    {
        static size_t const page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        return (size + page - 1) / page * page;
    }

    std::mutex mMutex;
    std::vector<Piece> mPieces; // guarded by mMutex
};
#endif

uint8_t* AllocateBytes(size_t size)
{
    // Padding: vectorised conversion may touch a few bytes past the last row.
    size_t const total = size + AV_INPUT_BUFFER_PADDING_SIZE;
#if defined(TESSARIN_MAPPED_PICTURES)
    if (total >= MAPPED_MINIMUM)
    {
        return PictureArena::Instance().Allocate(total);
    }
#endif
    return static_cast<uint8_t*>(av_malloc(total));
}

// Frees what AllocateBytes(size) gave.
void FreeBytes(uint8_t* data, size_t size)
{
#if defined(TESSARIN_MAPPED_PICTURES)
    size_t const total = size + AV_INPUT_BUFFER_PADDING_SIZE;
    if (total >= MAPPED_MINIMUM)
    {
        PictureArena::Instance().Free(data, total);
        return;
    }
#endif
    av_free(data);
}

// Room decoders may write past a plane's last row (edge emulation, SIMD).
size_t const DECODER_SLACK = 16 + 64 + 63;

// What a decoder's picture buffer returns to.
struct LentBuffer
{
    VideoFrameBuffer buffer;
};

void ReturnDecoderBuffer(void* opaque, uint8_t*)
{
    // FFmpeg's reference count orders the thread that took the buffer for
    // the decoder before the one that lets it go.
    ThreadHandOver::Acquire(opaque);
    delete static_cast<LentBuffer*>(opaque); // the buffer goes back to its pool
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
    for (Idle const& idle : mIdle)
    {
        FreeBytes(idle.data, idle.size);
    }
}

std::shared_ptr<VideoFrameBufferPool> const& VideoFrameBufferPool::Shared()
{
    static std::shared_ptr<VideoFrameBufferPool> const pool = std::make_shared<VideoFrameBufferPool>();
    return pool;
}

VideoFrameBuffer VideoFrameBufferPool::Acquire(size_t size)
{
    uint8_t* data = nullptr;
    size_t capacity = size;
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        // The smallest idle buffer that fits, unless it would waste more
        // than a quarter of itself.
        auto best = mIdle.end();
        for (auto it = mIdle.begin(); it != mIdle.end(); ++it)
        {
            if (it->size >= size && it->size - size <= it->size / 4 && (best == mIdle.end() || it->size < best->size))
            {
                best = it;
            }
        }
        if (best != mIdle.end())
        {
            data = best->data;
            capacity = best->size;
            mIdleBytes -= static_cast<long long>(best->size);
            *best = mIdle.back();
            mIdle.pop_back();
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
            mIdle.push_back({size, data});
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
    }
    for (Idle const& idle : freed)
    {
        FreeBytes(idle.data, idle.size);
    }
    ReleaseHeapMemory();
}

void VideoFrameBufferPool::ReleaseHeapMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

int VideoFrameBufferPool::GetDecoderBuffer(AVCodecContext* context, AVFrame* frame, int flags)
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
    auto* lent = new LentBuffer {Shared()->Acquire(static_cast<size_t>(size) + DECODER_SLACK)};
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
    ThreadHandOver::Release(lent);
    av_image_fill_pointers(frame->data, format, height, base, lineSizes);
    for (int i = 0; i < 4; ++i)
    {
        frame->linesize[i] = lineSizes[i];
    }
    frame->extended_data = frame->data;
    return 0;
}
