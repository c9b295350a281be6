#include "media/export/ExportFrameHandoff.h"

#include "media/VideoFrame.h"

#include <algorithm>
#include <chrono>

ExportFrameHandoff::ExportFrameHandoff(int depth)
    : mDepth(std::max(depth, 1))
{
}

bool ExportFrameHandoff::Push(std::shared_ptr<VideoFrame> frame)
{
    std::unique_lock<std::mutex> lock(mMutex);
    mChanged.wait(lock, [this] { return mClosed || mFrames.size() < mDepth; });
    if (mClosed)
    {
        return false;
    }
    mFrames.append(std::move(frame));
    mChanged.notify_all();
    return true;
}

void ExportFrameHandoff::End()
{
    std::lock_guard<std::mutex> const lock(mMutex);
    mEnded = true;
    mChanged.notify_all();
}

ExportFrameHandoff::Result ExportFrameHandoff::Take(std::shared_ptr<VideoFrame>& frame, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mMutex);
    mChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [this] { return !mFrames.isEmpty() || mEnded || mClosed; });
    if (!mFrames.isEmpty())
    {
        frame = mFrames.takeFirst();
        mChanged.notify_all();
        return Result::Frame;
    }
    if (mClosed)
    {
        return Result::Closed;
    }
    return mEnded ? Result::Ended : Result::Timeout;
}

void ExportFrameHandoff::DropEndingBefore(long long time)
{
    QList<std::shared_ptr<VideoFrame>> released;
    {
        std::lock_guard<std::mutex> const lock(mMutex);
        while (!mFrames.isEmpty() && mFrames.first() && mFrames.first()->adjustedEndTime < time)
        {
            released.append(mFrames.takeFirst());
        }
        if (!released.isEmpty())
        {
            mChanged.notify_all();
        }
    }
}

void ExportFrameHandoff::Close()
{
    QList<std::shared_ptr<VideoFrame>> released;
    {
        std::lock_guard<std::mutex> const lock(mMutex);
        mClosed = true;
        released.swap(mFrames);
        mChanged.notify_all();
    }
    // The pictures go back to their pool outside the lock.
}

int ExportFrameHandoff::Count() const
{
    std::lock_guard<std::mutex> const lock(mMutex);
    return static_cast<int>(mFrames.size());
}

int ExportFrameHandoff::Depth() const
{
    return mDepth;
}
