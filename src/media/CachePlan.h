#pragma once

#include "media/LoopRange.h"
#include "media/LoopState.h"

// What the decode caches of a timeline are to hold, decided in one place: the
// engine front computes it on the main thread from the clock (For) and hands
// it to each decode task with its timeline as one value
// (Timeline::SetCachePlan), so that no reader sees half of one plan with half
// of another.
//
// The stretches wanted come in order. While the clock loops a range: from the
// playhead to the range end, then from the range start up to the playhead.
// Otherwise: from the playhead on, in the direction of play. The decode loop
// fills the first from the cache's edge and stops at the range end; the cache
// window lets go first what lies outside the range (CacheWindow::Update); the
// second, when the cache lacks it, is what the loop start fill brings in front
// of the cache (DecodeManager::LoopStartFillClip).
struct CachePlan
{
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

    // The range the clock keeps returning to; none when the caches need not
    // keep to one.
    LoopRange loop;

    // Only a forward loop keeps to its range: ping-pong turns at the bound
    // with the cache still about it, and backward play keeps its own windows.
    // Parked inside a set range with the loop on, the caches get ready for
    // the loop before play starts: a reviewer parks on a frame of the range,
    // then plays it.
    static CachePlan For(Clock const& clock);

    // Whether the second stretch is missing from a cache that starts at
    // cacheStart: the range starts before the cache, and a playhead at time
    // is inside both the range and the cache (one outside either is about to
    // seek anyway).
    bool SecondStretchMissing(long long time, long long cacheStart, bool cacheCoversTime) const;
    // Where the second stretch starts within a clip starting at clipStart.
    long long SecondStretchStartIn(long long clipStart) const;

    bool operator==(CachePlan const&) const = default;
};
