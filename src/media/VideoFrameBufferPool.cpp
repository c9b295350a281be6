#include "media/VideoFrameBufferPool.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
}

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>

namespace
{

uint8_t* AllocateBytes(size_t size)
{
    // Padding: vectorised conversion may touch a few bytes past the last row.
    return static_cast<uint8_t*>(av_malloc(size + AV_INPUT_BUFFER_PADDING_SIZE));
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
    av_free(data);
}

VideoFrameBufferPool::VideoFrameBufferPool(long long idleLimit)
    : mIdleLimit(idleLimit)
{
}

VideoFrameBufferPool::~VideoFrameBufferPool()
{
    for (Idle const& idle : mIdle)
    {
        av_free(idle.data);
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
    av_free(data); // outside the lock: unmapping a picture takes a while
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
        av_free(idle.data);
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
        av_free(idle.data);
    }
    ReleaseHeapMemory();
}

void VideoFrameBufferPool::ReleaseHeapMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
