#pragma once

#include "media/LoopRange.h"
#include "media/LoopState.h"

#include <array>

// What the decode caches of a timeline are to hold, decided in one place: the
// engine front computes it on the main thread from the clock (For) and hands
// it to each decode task with its timeline as one value
// (Timeline::SetCachePlan), so that no reader sees half of one plan with half
// of another.
//
// The stretches wanted come in order. While the clock loops a range: from the
// playhead to the range end, then from the range start up to the playhead.
// Otherwise the plan holds none: the caches follow the playhead in the
// direction of play (CacheWindow's own rule). The decode loop fills the first
// stretch from the cache's edge and stops at its end (CacheWindow::
// ReachesEnd); the cache window lets go first what lies outside every stretch
// (CacheWindow::Update); the second, when the cache lacks it, is what the loop
// start fill brings in front of the cache (LoopStartFill::WantedClip).
//
// A stretch's playhead end is the PLAYHEAD marker, not a time: the plan stays
// the same value while the clock plays.
class CachePlan
{
public:
    // What the plan is computed from.
    struct Clock
    {
        long long time = 0;
        bool playing = false;
        bool forward = true;
        LoopState loopState = LoopState::Off;
        long long rangeStart = 0;
        long long rangeEnd = 0;
        // The last time of the timeline: a range from 0 to it is no range set.
        long long endTime = 0;
    };

    // A stretch [start, end] of timeline time; either end may be PLAYHEAD.
    struct Stretch
    {
        long long start = 0;
        long long end = 0;
        bool operator==(Stretch const&) const = default;
    };
    // Marks the end of a stretch that lies at the playhead.
    static constexpr long long PLAYHEAD = -2;

    // Only a forward loop keeps to its range: ping-pong turns at the bound
    // with the cache still about it, and backward play keeps its own windows.
    // Parked inside a set range with the loop on, the caches get ready for
    // the loop before play starts: a reviewer parks on a frame of the range,
    // then plays it.
    static CachePlan For(Clock const& clock);
    // The plan of a clock looping range (none when the range is not set).
    static CachePlan Looping(LoopRange range);

    int Count() const { return mCount; }
    Stretch At(int index) const { return mStretches[static_cast<std::size_t>(index)]; }
    // The times the stretches cover together (not set when there are none);
    // what lies outside it goes first.
    LoopRange Span() const;
    // Whether the first stretch ends at a time, where the decode loop stops,
    // and that time.
    bool FirstStretchEnds() const { return mCount > 0 && mStretches[0].end != PLAYHEAD; }
    long long FirstStretchEnd() const { return mStretches[0].end; }

    // Whether the second stretch is missing from a cache that starts at
    // cacheStart: it starts before the cache, and a playhead at time is
    // inside both the span and the cache (one outside either is about to
    // seek anyway).
    bool SecondStretchMissing(long long time, long long cacheStart, bool cacheCoversTime) const;
    // Where the second stretch starts within a clip starting at clipStart.
    long long SecondStretchStartIn(long long clipStart) const;

    bool operator==(CachePlan const&) const = default;

private:
    std::array<Stretch, 2> mStretches {};
    int mCount = 0;
};
