#include "media/EngineMemory.h"

#include "media/AudioFrame.h"
#include "media/PictureArena.h"
#include "media/VideoFrame.h"
#include "media/VideoFrameBufferPool.h"
#include "model/Timeline.h"

#include <utility>

namespace
{
int const FRAME_BATCH_INTERVAL_MS = 10;
int const FRAME_BATCH = 100;
} // namespace

EngineMemory::EngineMemory(std::function<bool()> tasksIdle, QObject* parent)
    : QObject(parent)
    , mTasksIdle(std::move(tasksIdle))
{
    mFrameBatchTimer.setSingleShot(true);
    mFrameBatchTimer.setInterval(FRAME_BATCH_INTERVAL_MS);
    connect(&mFrameBatchTimer, &QTimer::timeout, this, &EngineMemory::ReleaseFrameBatch);
    mIdleTimer.setSingleShot(true);
    mIdleTimer.setInterval(IDLE_MEMORY_RELEASE_MS);
    connect(&mIdleTimer, &QTimer::timeout, this, &EngineMemory::ReleaseIfStillIdle);
}

void EngineMemory::TakeDeferredFrames(Timeline* timeline, bool video)
{
    if (video ? !timeline->HasDeferredVideoCache() : !timeline->HasDeferredAudioCache())
    {
        return;
    }
    if (video)
    {
        timeline->AppendDeferredVideoCacheAndClear(mVideoFramesToRelease);
    }
    else
    {
        timeline->AppendDeferredAudioCacheAndClear(mAudioFramesToRelease);
    }
    ReleaseFrameBatch();
}

void EngineMemory::DropFrames()
{
    mFrameBatchTimer.stop();
    mVideoFramesToRelease.clear();
    mAudioFramesToRelease.clear();
}

void EngineMemory::ReleaseWhenUnused(QObject* object, QSet<int> workerIds)
{
    mPendingReleases.append({object, std::move(workerIds)});
}

void EngineMemory::ReleaseUnused(QSet<int> const& running)
{
    QList<QObject*> released;
    for (int i = static_cast<int>(mPendingReleases.size()) - 1; i >= 0; --i)
    {
        if (!mPendingReleases.at(i).workerIds.intersects(running))
        {
            released.append(mPendingReleases.takeAt(i).object);
        }
    }
    qDeleteAll(released);
}

QList<QObject*> EngineMemory::TakeKept()
{
    QList<QObject*> kept;
    for (PendingRelease const& pending : std::as_const(mPendingReleases))
    {
        kept.append(pending.object);
    }
    mPendingReleases.clear();
    return kept;
}

bool EngineMemory::Idle() const
{
    return mTasksIdle() && mVideoFramesToRelease.isEmpty() && mAudioFramesToRelease.isEmpty();
}

void EngineMemory::ReleaseWhenIdle()
{
    // Once nothing decodes and no frame waits to be released, the pictures'
    // memory goes back to the system rather than staying resident, after a
    // while in which nothing started again.
    if (Idle())
    {
        mIdleTimer.start();
    }
}

void EngineMemory::ReleaseIfStillIdle()
{
    if (Idle())
    {
        VideoFrameBufferPool::Shared()->Trim();
        PictureArena::Instance().ReleaseRetained();
    }
}

void EngineMemory::ReleaseFrameBatch()
{
    int budget = FRAME_BATCH;
    while (budget > 0 && !mVideoFramesToRelease.isEmpty())
    {
        mVideoFramesToRelease.removeFirst();
        --budget;
    }
    while (budget > 0 && !mAudioFramesToRelease.isEmpty())
    {
        mAudioFramesToRelease.removeFirst();
        --budget;
    }
    if (!mVideoFramesToRelease.isEmpty() || !mAudioFramesToRelease.isEmpty())
    {
        mFrameBatchTimer.start();
        return;
    }
    ReleaseWhenIdle();
}
