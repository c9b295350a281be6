#pragma once

#include "media/AudioOutputFormat.h"
#include "media/CachePlan.h"

#include <QList>
#include <QMutex>

#include <atomic>
#include <memory>

// One side of a timeline's cache: the decoded frames of one kind (video
// pictures or audio blocks) around the playhead, ordered by start time and
// contiguous (each frame ends where the next starts), within a byte budget.
// Frame is VideoFrame or AudioFrame; how a kind is timed and sized is told by
// its FrameTimes (CacheWindow.cpp).
//
// Decode threads insert and evict while the main thread and the audio output
// read: every member function takes the window's own mutex, which guards all
// fields but the atomic budget figures (any thread). Frames are shared, never
// copied; the ones let go are released outside the lock.
template <typename Frame>
class CacheWindow
{
public:
    using FramePtr = std::shared_ptr<Frame>;
    using FrameList = QList<FramePtr>;

    CacheWindow() = default;
    CacheWindow(CacheWindow const&) = delete;
    CacheWindow& operator=(CacheWindow const&) = delete;

    // The budget: maximum bytes, and bytes held for the window outside it
    // (a decoder's reference pictures). Any thread.
    void SetMaximumSize(long long bytes) { mMaximumSize = bytes; }
    long long MaximumSize() const { return mMaximumSize; }
    void SetReservedSize(long long bytes) { mReservedSize = bytes > 0 ? bytes : 0; }
    // Whether one more frame fits: the budget rule, in one place.
    bool CanInsert() const;

    // The window's figures, read in one look. Times by the frames' own
    // stamps (key: a picture's packet times) and by where they cover (a
    // picture's timeline times), 0 when empty; for sound both are the same.
    struct Figures
    {
        int count;
        long long keyStart;
        long long keyEnd;
        long long start;
        long long end;
        long long size;     // of the window
        long long leadSize; // of its lead run

        long long Bytes() const { return size + leadSize; }
    };
    Figures Snapshot() const;
    // Bytes of the frames that end at or before time, of those that start
    // after it.
    long long SizeBefore(long long time) const;
    long long SizeAfter(long long time) const;
    bool CoversTime(long long time) const;
    // Whether the window reaches the end of the plan's first stretch (never
    // when it has none).
    bool ReachesEnd(CachePlan const& plan) const;
    double ForwardWeighting(long long time) const;

    void Insert(FramePtr frame);
    void InsertLead(FramePtr frame);
    void JoinLead();
    bool DropLead();
    bool HasLead() const;

    // Removes at most one frame when the budget is used up: one outside the
    // plan's stretches when there is one, else keeping the window balanced
    // around time in the direction of play.
    void Update(long long time, bool forward, double target, CachePlan const& plan);

    FramePtr Find(long long time) const;
    // The covering frame, the one before and the one after, each null where
    // there is none.
    void FindWithNeighbours(long long time, FrameList& frames) const;
    FramePtr First() const;
    FramePtr Last() const;
    // A frame found becomes the output frame; NextOutput steps from it.
    FramePtr FindOutput(long long time, bool makeOutputFrame);
    FramePtr Output() const;
    FramePtr NextOutput(bool forward);

    // A filler frame (silence) from time up to the window's start, or from
    // its end up to time; a kind without fillers is left as it is. Silence
    // is made in format, the caller's copy.
    void ExtendStart(long long time, long long endIfEmpty, AudioOutputFormat const& format);
    void ExtendEnd(long long startIfEmpty, long long time, AudioOutputFormat const& format);
    // Holds the last frame to time.
    void HoldLastUntil(long long time);

    // Let go at once, or deferred: the frames are released later, a few at a
    // time (ReleaseDeferred), or taken by the caller (TakeDeferred).
    void Clear(bool immediate);
    void ReleaseDeferred();
    bool HasDeferred() const;
    void TakeDeferred(FrameList& frames);

private:
    // All of these: the caller holds mMutex.
    void InsertLocked(FramePtr frame);
    void PushBack(FramePtr frame);
    void PushFront(FramePtr frame);
    // Drops the first frame (front) or the last.
    void Pop(bool front);
    void ResetRange();
    void JoinLeadLocked();
    int LeadIndexLocked(long long time) const;
    int IndexLocked(long long time) const;
    double ForwardWeightingLocked(long long time) const;
    long long HeldLocked(bool withDeferred) const;
    FramePtr OutputLocked() const;

    mutable QMutex mMutex;
    FrameList mFrames;
    FrameList mDeferred;
    // The lead run (InsertLead): found as soon as inserted, joined to the
    // front once it reaches the window; never evicted.
    FrameList mLead;
    long long mKeyStart = 0;
    long long mKeyEnd = 0;
    long long mStart = 0;
    long long mEnd = 0;
    long long mSize = 0;
    long long mLeadSize = 0;
    long long mDeferredSize = 0;
    int mOutputIndex = -1;
    std::atomic<long long> mMaximumSize {0};
    std::atomic<long long> mReservedSize {0};
};
