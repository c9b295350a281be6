#include "media/CacheWindow.h"

#include "app/Logger.h"
#include "media/AudioFrame.h"
#include "media/AvHelpers.h"
#include "media/CacheBudget.h"
#include "media/VideoFrame.h"

#include <QMutexLocker>

#include <algorithm>

namespace
{
int const DEFERRED_RELEASE_BATCH = 5;

// How a kind of frame is timed and sized in the window. Key times are the
// frame's own stamps (they order insertion); start and end are where it
// covers (lookups, eviction). Each frame ends where the next starts.
template <typename Frame>
struct FrameTimes;

// What sets one kind's window apart beyond its times.
struct KindRules
{
    bool deferredCount;    // a cleared window's frames count until let go
    bool trimFront;        // a frame put in front ends where the window starts
    char const* notFound;  // reported when stamps leave a hole; null: not
};

template <>
struct FrameTimes<AudioFrame>
{
    // A block's own times are where it covers.
    static constexpr auto KEY_START = &AudioFrame::startTime;
    static constexpr auto KEY_END = &AudioFrame::endTime;
    static constexpr auto START = KEY_START;
    static constexpr auto END = KEY_END;
    // A cleared window's blocks do not hold back new ones, and a block put
    // in front keeps its own end.
    static constexpr KindRules RULES {false, false, nullptr};

    // A silent block holds no samples.
    static long long Bytes(AudioFrame const& f) { return static_cast<long long>(f.data.size()); }
    // Blocks never stand in for one another.
    static bool Overtakes(AudioFrame const& /*earlier*/, AudioFrame const& /*later*/) { return false; }
    // Silence fills a gap in the sound, sized for duration.
    static std::shared_ptr<AudioFrame> Filler(long long start, long long end, long long duration,
                                              AudioOutputFormat const& format)
    {
        long long const size = AvHelpers::AudioOutputSizeForDuration(duration, format);
        return std::make_shared<AudioFrame>(size, start, end, AvHelpers::AudioOutputSamplesPerChannel(size, format),
                                            true);
    }
};

template <>
struct FrameTimes<VideoFrame>
{
    static constexpr auto KEY_START = &VideoFrame::packetStartTime;
    static constexpr auto KEY_END = &VideoFrame::packetEndTime;
    static constexpr auto START = &VideoFrame::adjustedStartTime;
    static constexpr auto END = &VideoFrame::adjustedEndTime;
    static constexpr KindRules RULES {true, true, "Video frame not found in cache!!!"};

    static long long Bytes(VideoFrame const& f) { return f.byteSize; }
    // A later picture placed on the same timeline frame covers that frame's
    // start (pictures are placed on the first frame whose start they cover):
    // it stands in for the earlier one.
    static bool Overtakes(VideoFrame const& earlier, VideoFrame const& later)
    {
        return !earlier.emptyFrame && !later.emptyFrame && earlier.adjustedStartTime >= later.adjustedStartTime;
    }
    // Gaps between pictures are not filled with made-up ones.
    static std::shared_ptr<VideoFrame> Filler(long long /*start*/, long long /*end*/, long long /*duration*/,
                                              AudioOutputFormat const& /*format*/)
    {
        return nullptr;
    }
};

// A frame's times, read through its kind's FrameTimes.
// clang-format off
template <typename Frame> long long KeyStart(Frame const& f) { return f.*FrameTimes<Frame>::KEY_START; }
template <typename Frame> long long KeyEnd(Frame const& f) { return f.*FrameTimes<Frame>::KEY_END; }
template <typename Frame> long long Start(Frame const& f) { return f.*FrameTimes<Frame>::START; }
template <typename Frame> long long End(Frame const& f) { return f.*FrameTimes<Frame>::END; }
// clang-format on

// Ends a frame just before another starts (key and covering times).
template <typename Frame>
void EndBefore(Frame& f, long long keyStart, long long start)
{
    f.*FrameTimes<Frame>::KEY_END = keyStart - 1;
    f.*FrameTimes<Frame>::END = start - 1;
}

enum class Eviction
{
    None,
    Front,
    Back
};

// The frames wholly outside the plan's stretches go first: those before them
// from the front, those after them from the back.
Eviction OutsidePlan(long long firstEnd, long long lastStart, CachePlan const& plan)
{
    LoopRange const range = plan.Span();
    if (!range.IsSet())
    {
        return Eviction::None;
    }
    if (firstEnd < range.start)
    {
        return Eviction::Front;
    }
    if (lastStart > range.end)
    {
        return Eviction::Back;
    }
    return Eviction::None;
}

// Which end of a full window to drop: the front once the playhead has left
// it or more than the target share lies behind it going forward, the back
// when too much lies ahead going backward.
Eviction ChooseEviction(long long lastStart, long long time, bool forward, double ahead, double target)
{
    if (lastStart < time)
    {
        return Eviction::Front;
    }
    if (!forward)
    {
        return ahead > target ? Eviction::Back : Eviction::None;
    }
    return 1.0 - ahead > 1.0 - target ? Eviction::Front : Eviction::None;
}
} // namespace

template <typename Frame>
long long CacheWindow<Frame>::HeldLocked(bool withDeferred) const
{
    long long const deferred = withDeferred && FrameTimes<Frame>::RULES.deferredCount ? mDeferredSize : 0;
    return mSize + mLeadSize + deferred + mReservedSize;
}

template <typename Frame>
bool CacheWindow<Frame>::CanInsert() const
{
    QMutexLocker locker(&mMutex);
    return CacheBudget::Fits(HeldLocked(true), mMaximumSize);
}

template <typename Frame>
long long CacheWindow<Frame>::SizeBefore(long long time) const
{
    QMutexLocker locker(&mMutex);
    return static_cast<long long>((1.0 - ForwardWeightingLocked(time)) * static_cast<double>(mSize));
}

template <typename Frame>
long long CacheWindow<Frame>::SizeAfter(long long time) const
{
    QMutexLocker locker(&mMutex);
    long long bytes = 0;
    for (auto frame = mFrames.crbegin(); frame != mFrames.crend() && Start(**frame) > time; ++frame)
    {
        bytes += FrameTimes<Frame>::Bytes(**frame);
    }
    return bytes;
}

template <typename Frame>
bool CacheWindow<Frame>::CoversTime(long long time) const
{
    QMutexLocker locker(&mMutex);
    return (!mFrames.isEmpty() && mStart <= time && time <= mEnd) || LeadIndexLocked(time) >= 0;
}

template <typename Frame>
bool CacheWindow<Frame>::ReachesEnd(CachePlan const& plan) const
{
    if (!plan.FirstStretchEnds())
    {
        return false;
    }
    QMutexLocker locker(&mMutex);
    return !mFrames.isEmpty() && mEnd >= plan.FirstStretchEnd();
}

// ---- Insertion and eviction ----

template <typename Frame>
void CacheWindow<Frame>::Insert(FramePtr frame)
{
    if (!frame)
    {
        return;
    }
    QMutexLocker locker(&mMutex);
    InsertLocked(std::move(frame));
}

template <typename Frame>
void CacheWindow<Frame>::InsertLocked(FramePtr frame)
{
    if (!frame)
    {
        return;
    }
    if (mFrames.isEmpty())
    {
        PushBack(std::move(frame));
    }
    else if (KeyStart(*frame) >= mKeyStart)
    {
        // No duplicates and no reordering inside the window.
        if (KeyStart(*frame) > KeyStart(*mFrames.last()))
        {
            PushBack(std::move(frame));
        }
    }
    else
    {
        PushFront(std::move(frame));
    }
}

template <typename Frame>
void CacheWindow<Frame>::PushBack(FramePtr frame)
{
    using Times = FrameTimes<Frame>;
    while (!mFrames.isEmpty() && Times::Overtakes(*mFrames.last(), *frame))
    {
        Pop(false);
    }
    if (mFrames.isEmpty())
    {
        mKeyStart = KeyStart(*frame);
        mStart = Start(*frame);
    }
    else
    {
        // The previous frame ends where this one starts: no gap, no overlap.
        EndBefore(*mFrames.last(), KeyStart(*frame), Start(*frame));
    }
    mKeyEnd = KeyEnd(*frame);
    mEnd = End(*frame);
    mSize += Times::Bytes(*frame);
    mFrames.append(std::move(frame));
}

template <typename Frame>
void CacheWindow<Frame>::PushFront(FramePtr frame)
{
    using Times = FrameTimes<Frame>;
    if (mFrames.isEmpty())
    {
        mKeyEnd = KeyEnd(*frame);
        mEnd = End(*frame);
    }
    else
    {
        // An earlier picture placed on the frame the first one starts at is
        // covered by it there (see PushBack).
        if (Times::Overtakes(*frame, *mFrames.first()))
        {
            return;
        }
        if constexpr (Times::RULES.trimFront)
        {
            EndBefore(*frame, mKeyStart, mStart);
        }
    }
    mKeyStart = KeyStart(*frame);
    mStart = Start(*frame);
    mSize += Times::Bytes(*frame);
    mFrames.prepend(std::move(frame));
    if (mOutputIndex >= 0)
    {
        ++mOutputIndex; // keep pointing at the same frame
    }
}

template <typename Frame>
void CacheWindow<Frame>::Pop(bool front)
{
    mSize -= FrameTimes<Frame>::Bytes(front ? *mFrames.takeFirst() : *mFrames.takeLast());
    if (front && mOutputIndex >= 0)
    {
        --mOutputIndex; // -1 when the output frame itself went
    }
    else if (!front && mOutputIndex >= mFrames.size())
    {
        mOutputIndex = -1; // the output frame itself went
    }
    if (mFrames.isEmpty())
    {
        ResetRange();
    }
    else if (front)
    {
        mKeyStart = KeyStart(*mFrames.first());
        mStart = Start(*mFrames.first());
    }
    else
    {
        mKeyEnd = KeyEnd(*mFrames.last());
        mEnd = End(*mFrames.last());
    }
}

template <typename Frame>
void CacheWindow<Frame>::ResetRange()
{
    mKeyStart = 0;
    mKeyEnd = 0;
    mStart = 0;
    mEnd = 0;
    mSize = 0;
}

template <typename Frame>
void CacheWindow<Frame>::InsertLead(FramePtr frame)
{
    using Times = FrameTimes<Frame>;
    if (!frame)
    {
        return;
    }
    QMutexLocker locker(&mMutex);
    if (mFrames.isEmpty())
    {
        PushBack(std::move(frame));
        return;
    }
    if (Start(*frame) >= mStart)
    {
        return; // the window has it
    }
    // A later frame placed on the one the last starts at replaces it (see
    // PushBack); the one before ends where this one starts.
    while (!mLead.isEmpty() && Start(*mLead.last()) >= Start(*frame))
    {
        mLeadSize -= Times::Bytes(*mLead.takeLast());
    }
    if (!mLead.isEmpty())
    {
        EndBefore(*mLead.last(), KeyStart(*frame), Start(*frame));
    }
    mLeadSize += Times::Bytes(*frame);
    bool const reaches = End(*frame) + 1 >= mStart;
    mLead.append(std::move(frame));
    if (reaches)
    {
        JoinLeadLocked();
    }
}

template <typename Frame>
void CacheWindow<Frame>::JoinLead()
{
    QMutexLocker locker(&mMutex);
    JoinLeadLocked();
}

template <typename Frame>
void CacheWindow<Frame>::JoinLeadLocked()
{
    if (mLead.isEmpty())
    {
        return;
    }
    if (!mFrames.isEmpty())
    {
        EndBefore(*mLead.last(), mKeyStart, mStart);
    }
    else
    {
        mKeyEnd = KeyEnd(*mLead.last());
        mEnd = End(*mLead.last());
    }
    mKeyStart = KeyStart(*mLead.first());
    mStart = Start(*mLead.first());
    mSize += mLeadSize;
    mLead.append(mFrames);
    mFrames.swap(mLead);
    mLead.clear();
    mLeadSize = 0;
}

template <typename Frame>
bool CacheWindow<Frame>::DropLead()
{
    QMutexLocker locker(&mMutex);
    if (mLead.isEmpty())
    {
        return false;
    }
    // Let go as a cleared window is.
    mDeferred.append(mLead);
    mDeferredSize += mLeadSize;
    mLead.clear();
    mLeadSize = 0;
    return true;
}

template <typename Frame>
bool CacheWindow<Frame>::HasLead() const
{
    QMutexLocker locker(&mMutex);
    return !mLead.isEmpty();
}

template <typename Frame>
int CacheWindow<Frame>::LeadIndexLocked(long long time) const
{
    for (int i = 0; i < mLead.size(); ++i)
    {
        Frame const& frame = *mLead.at(i);
        if (Start(frame) <= time && time <= End(frame))
        {
            return i;
        }
    }
    return -1;
}

template <typename Frame>
double CacheWindow<Frame>::ForwardWeighting(long long time) const
{
    QMutexLocker locker(&mMutex);
    return ForwardWeightingLocked(time);
}

// The share of the window's bytes that lies ahead of time: frames ending at
// or before it have been played.
template <typename Frame>
double CacheWindow<Frame>::ForwardWeightingLocked(long long time) const
{
    if (mSize <= 0)
    {
        return 1.0;
    }
    long long played = 0;
    for (auto const& frame : mFrames)
    {
        if (KeyEnd(*frame) > time)
        {
            break;
        }
        played += FrameTimes<Frame>::Bytes(*frame);
    }
    return 1.0 - static_cast<double>(played) / static_cast<double>(mSize);
}

template <typename Frame>
void CacheWindow<Frame>::Update(long long time, bool forward, double target, CachePlan const& plan)
{
    QMutexLocker locker(&mMutex);
    if (CacheBudget::Fits(HeldLocked(false), mMaximumSize) || mFrames.isEmpty())
    {
        return;
    }
    long long const lastStart = Start(*mFrames.last());
    Eviction eviction = OutsidePlan(End(*mFrames.first()), lastStart, plan);
    if (eviction == Eviction::None)
    {
        eviction = ChooseEviction(lastStart, time, forward, ForwardWeightingLocked(time), target);
    }
    switch (eviction)
    {
    case Eviction::Front:
        Pop(true);
        break;
    case Eviction::Back:
        Pop(false);
        break;
    case Eviction::None:
        break;
    }
}

// ---- Lookup ----

// Index of the frame whose [start, end] holds time, or -1.
template <typename Frame>
int CacheWindow<Frame>::IndexLocked(long long time) const
{
    if (mFrames.isEmpty() || time < mStart || time > mEnd)
    {
        return -1;
    }
    int low = 0;
    int high = mFrames.size() - 1;
    while (low <= high)
    {
        int const middle = low + (high - low) / 2;
        Frame const& frame = *mFrames.at(middle);
        if (time < Start(frame))
        {
            high = middle - 1;
        }
        else if (time > End(frame))
        {
            low = middle + 1;
        }
        else
        {
            return middle;
        }
    }
    // Stamps that leave a hole (a decoder fault).
    if constexpr (FrameTimes<Frame>::RULES.notFound != nullptr)
    {
        Logger::GetInstance()->Error(QString::fromLatin1(FrameTimes<Frame>::RULES.notFound));
    }
    return -1;
}

template <typename Frame>
typename CacheWindow<Frame>::FramePtr CacheWindow<Frame>::Find(long long time) const
{
    QMutexLocker locker(&mMutex);
    if (int const lead = LeadIndexLocked(time); lead >= 0)
    {
        return mLead.at(lead);
    }
    int const index = IndexLocked(time);
    return index >= 0 ? mFrames.at(index) : nullptr;
}

template <typename Frame>
void CacheWindow<Frame>::FindWithNeighbours(long long time, FrameList& frames) const
{
    QMutexLocker locker(&mMutex);
    FrameList const* list = &mLead;
    int index = LeadIndexLocked(time);
    if (index < 0)
    {
        list = &mFrames;
        index = IndexLocked(time);
    }
    if (index < 0)
    {
        frames.append(FrameList(3));
        return;
    }
    frames.append(list->at(index));
    frames.append(index > 0 ? list->at(index - 1) : nullptr);
    frames.append(index + 1 < list->size() ? list->at(index + 1) : nullptr);
}

template <typename Frame>
typename CacheWindow<Frame>::FramePtr CacheWindow<Frame>::First() const
{
    QMutexLocker locker(&mMutex);
    return mFrames.isEmpty() ? nullptr : mFrames.first();
}

template <typename Frame>
typename CacheWindow<Frame>::FramePtr CacheWindow<Frame>::Last() const
{
    QMutexLocker locker(&mMutex);
    return mFrames.isEmpty() ? nullptr : mFrames.last();
}

template <typename Frame>
typename CacheWindow<Frame>::FramePtr CacheWindow<Frame>::FindOutput(long long time, bool makeOutputFrame)
{
    QMutexLocker locker(&mMutex);
    int const index = IndexLocked(time);
    if (makeOutputFrame)
    {
        mOutputIndex = index;
    }
    return index >= 0 ? mFrames.at(index) : nullptr;
}

template <typename Frame>
typename CacheWindow<Frame>::FramePtr CacheWindow<Frame>::OutputLocked() const
{
    if (mOutputIndex < 0 || mOutputIndex >= mFrames.size())
    {
        return nullptr;
    }
    return mFrames.at(mOutputIndex);
}

template <typename Frame>
typename CacheWindow<Frame>::FramePtr CacheWindow<Frame>::Output() const
{
    QMutexLocker locker(&mMutex);
    return OutputLocked();
}

template <typename Frame>
typename CacheWindow<Frame>::FramePtr CacheWindow<Frame>::NextOutput(bool forward)
{
    QMutexLocker locker(&mMutex);
    if (mOutputIndex < 0)
    {
        return nullptr; // nothing is being played
    }
    mOutputIndex += forward ? 1 : -1;
    return OutputLocked();
}

// ---- Gap filling ----

template <typename Frame>
void CacheWindow<Frame>::ExtendStart(long long time, long long endIfEmpty, AudioOutputFormat const& format)
{
    QMutexLocker locker(&mMutex);
    long long const end = mFrames.isEmpty() ? endIfEmpty : Start(*mFrames.first()) - 1;
    if (end <= time)
    {
        return;
    }
    InsertLocked(FrameTimes<Frame>::Filler(time, end, end - time, format));
}

template <typename Frame>
void CacheWindow<Frame>::ExtendEnd(long long startIfEmpty, long long time, AudioOutputFormat const& format)
{
    QMutexLocker locker(&mMutex);
    long long const start = mFrames.isEmpty() ? startIfEmpty : End(*mFrames.last()) + 1;
    if (time < start)
    {
        return;
    }
    InsertLocked(FrameTimes<Frame>::Filler(start, time, time - start + 1, format));
}

template <typename Frame>
void CacheWindow<Frame>::HoldLastUntil(long long time)
{
    using Times = FrameTimes<Frame>;
    QMutexLocker locker(&mMutex);
    if (mFrames.isEmpty())
    {
        return;
    }
    Frame& last = *mFrames.last();
    if (KeyEnd(last) < time)
    {
        last.*Times::KEY_END = time;
        mKeyEnd = time;
    }
    if (End(last) < time)
    {
        last.*Times::END = time;
        mEnd = time;
    }
}

// ---- Clearing ----

template <typename Frame>
void CacheWindow<Frame>::Clear(bool immediate)
{
    // Frames are let go outside the lock: the last reference frees them.
    FrameList released;
    QMutexLocker locker(&mMutex);
    if (immediate)
    {
        released.swap(mDeferred);
        mDeferredSize = 0;
        released.append(mFrames);
        released.append(mLead);
    }
    else
    {
        mDeferred.append(mFrames);
        mDeferred.append(mLead);
        mDeferredSize += mSize + mLeadSize;
    }
    mFrames.clear();
    mLead.clear();
    mLeadSize = 0;
    ResetRange();
    // The output position pointed into the frames just dropped.
    mOutputIndex = -1;
    locker.unlock();
}

template <typename Frame>
void CacheWindow<Frame>::ReleaseDeferred()
{
    FrameList released;
    QMutexLocker locker(&mMutex);
    // A few at a time, unless they hold the budget the new frames need.
    bool const all = FrameTimes<Frame>::RULES.deferredCount && !CacheBudget::Fits(HeldLocked(true), mMaximumSize);
    qsizetype const count = all ? mDeferred.size() : std::min<qsizetype>(DEFERRED_RELEASE_BATCH, mDeferred.size());
    released = mDeferred.first(count);
    mDeferred.remove(0, count);
    for (FramePtr const& frame : released)
    {
        mDeferredSize -= FrameTimes<Frame>::Bytes(*frame);
    }
    mDeferredSize = mDeferred.isEmpty() ? 0 : std::max(mDeferredSize, 0LL);
    locker.unlock();
}

template <typename Frame>
bool CacheWindow<Frame>::HasDeferred() const
{
    QMutexLocker locker(&mMutex);
    return !mDeferred.isEmpty();
}

template <typename Frame>
void CacheWindow<Frame>::TakeDeferred(FrameList& frames)
{
    QMutexLocker locker(&mMutex);
    frames.append(mDeferred);
    mDeferred.clear();
    mDeferredSize = 0;
}

template <typename Frame>
typename CacheWindow<Frame>::Figures CacheWindow<Frame>::Snapshot() const
{
    QMutexLocker locker(&mMutex);
    return Figures {static_cast<int>(mFrames.size()), mKeyStart, mKeyEnd, mStart, mEnd, mSize, mLeadSize};
}

template class CacheWindow<AudioFrame>;
template class CacheWindow<VideoFrame>;
