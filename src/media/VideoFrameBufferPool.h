#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class VideoFrameBufferPool;
struct AVCodecContext;
struct AVFrame;

// How the bytes of one VideoFrame plane go away: back to the pool that lent
// them while it lives, freed, or (not owned) left to whoever else holds them
// (a plane inside another plane's buffer, a decoder's picture kept as is).
struct VideoFrameBufferRelease
{
    std::weak_ptr<VideoFrameBufferPool> pool;
    size_t size = 0;
    bool owned = true;
    void operator()(uint8_t* data) const;
};

using VideoFrameBuffer = std::unique_ptr<uint8_t[], VideoFrameBufferRelease>;

// Picture buffers reused from frame to frame. A frame's buffer comes back here
// when its last holder lets it go, so decoding writes into memory that is
// already mapped instead of faulting in fresh pages for every picture. Idle
// buffers are kept up to a limit; the rest is freed at once.
//
// While a cache fills, every picture needs fresh memory, and faulting it in
// (the system zeroes each page) costs a decoder about as much as decoding a
// simple picture. So once a request that asks for it finds no idle buffer,
// warming threads make buffers of that size ahead, already faulted in, a few
// at a time, for as long as decoders keep taking them. Trim ends the warming
// until the next such request. Any thread.
class VideoFrameBufferPool : public std::enable_shared_from_this<VideoFrameBufferPool>
{
public:
    // Idle bytes kept by default: a few 1080p pictures of each format.
    static constexpr long long DEFAULT_IDLE_LIMIT = 64LL * 1024 * 1024;
    // Warm buffers kept ready (or being made) at most, and threads making them.
    static constexpr int WARM_AHEAD = 4;
    static constexpr int WARMING_THREADS = 2;

    explicit VideoFrameBufferPool(long long idleLimit = DEFAULT_IDLE_LIMIT);
    ~VideoFrameBufferPool();
    VideoFrameBufferPool(VideoFrameBufferPool const&) = delete;
    VideoFrameBufferPool& operator=(VideoFrameBufferPool const&) = delete;

    // The pool every decoder of the process shares.
    static std::shared_ptr<VideoFrameBufferPool> const& Shared();

    // A buffer of at least size bytes (64-byte aligned, with room for
    // vectorised writes past its end); null when memory ran out. With
    // warmAhead, finding no idle buffer starts warming buffers of this size.
    VideoFrameBuffer Acquire(size_t size, bool warmAhead = false);
    // Whether pictures of this decoder are worth warming buffers for: all but
    // those of a frame-threaded decoder of a codec with inter pictures, which
    // keeps every core busy (warming would only take its time). Images
    // decoded side by side and intra-only codecs leave cores idle.
    static bool WarmsAheadFor(AVCodecContext const* context);
    // A buffer of the heap that no pool takes back.
    static VideoFrameBuffer Allocate(size_t size);
    // Bytes that belong to someone else: the frame only points at them.
    static VideoFrameBuffer Borrow(uint8_t* data);

    long long IdleBytes() const;
    int IdleCount() const;
    void SetIdleLimit(long long bytes);
    // Frees every idle buffer, ends warming, and hands freed heap memory back
    // to the system.
    void Trim();
    // Idle buffers made ahead and not yet taken.
    int WarmCount() const;
    // Hands memory freed by the heap back to the system (where the C library can).
    static void ReleaseHeapMemory();

    // A decoder's get_buffer2: its pictures live in buffers of the shared
    // pool (one per picture), so a picture kept as a frame goes back here when
    // the cache lets it go instead of growing the decoder's own pool.
    static int GetDecoderBuffer(AVCodecContext* context, AVFrame* frame, int flags);
    // The same from this pool: for a decoder that keeps buffers of its own
    // warm from picture to picture. warmAhead as for Acquire.
    int LendDecoderBuffer(AVCodecContext* context, AVFrame* frame, int flags, bool warmAhead);
    // The same for still images, each picture cleared to opaque black first:
    // an image decoder that stops partway through a damaged file (a cut-off
    // EXR or JPEG) fills only the rows it could read, and a reused buffer
    // would show another picture's rows in the rest.
    static int GetClearedDecoderBuffer(AVCodecContext* context, AVFrame* frame, int flags);
    // Fills a picture with opaque black in its own format.
    static void ClearPicture(AVFrame* frame);
    // Bytes of the buffers GetDecoderBuffer lent to decoders of the process
    // that are still held: by the decoders, or by frames that kept a
    // decoder's picture as it is.
    static long long DecoderBufferBytes();

private:
    friend struct VideoFrameBufferRelease;
    void Return(uint8_t* data, size_t size);
    // Asks for warm buffers of this size (called with mMutex held).
    void WantWarm(size_t size);
    bool WarmWanted() const; // with mMutex held
    void WarmLoop();

    struct Idle
    {
        size_t size;
        uint8_t* data;
        bool warm; // made ahead and never used
    };
    mutable std::mutex mMutex;
    std::vector<Idle> mIdle;   // guarded by mMutex
    long long mIdleBytes = 0;  // guarded by mMutex
    long long mIdleLimit;      // guarded by mMutex

    // Warming. The threads start at the first request that finds nothing
    // idle and end with the pool; each waits on mWarmChanged.
    std::condition_variable mWarmChanged;
    std::vector<std::thread> mWarmers; // guarded by mMutex (started once)
    size_t mWarmSize = 0;              // guarded by mMutex: the size to make; 0 while none is wanted
    int mWarmIdle = 0;                 // guarded by mMutex: warm buffers in mIdle
    int mWarmInFlight = 0;             // guarded by mMutex: buffers being made now
    unsigned int mWarmGeneration = 0;  // guarded by mMutex: moved on by Trim
    bool mStopping = false;            // guarded by mMutex
};
