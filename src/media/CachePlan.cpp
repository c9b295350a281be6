#include "media/CachePlan.h"

#include <algorithm>
#include <limits>

CachePlan CachePlan::For(Clock const& clock)
{
    bool const rangeSet = clock.rangeStart > 0 || clock.rangeEnd < clock.endTime;
    bool const parkedInRange =
        !clock.playing && rangeSet && clock.rangeStart <= clock.time && clock.time <= clock.rangeEnd;
    bool const loops = (parkedInRange || (clock.playing && clock.forward)) && clock.loopState == LoopState::Loop;
    return loops ? Looping({clock.rangeStart, clock.rangeEnd}) : CachePlan {};
}

CachePlan CachePlan::Looping(LoopRange range)
{
    CachePlan plan;
    if (range.IsSet())
    {
        plan.mStretches = {Stretch {PLAYHEAD, range.end}, Stretch {range.start, PLAYHEAD}};
        plan.mCount = 2;
    }
    return plan;
}

LoopRange CachePlan::Span() const
{
    long long low = std::numeric_limits<long long>::max();
    long long high = -1;
    for (int i = 0; i < mCount; ++i)
    {
        Stretch const stretch = At(i);
        low = stretch.start == PLAYHEAD ? low : std::min(low, stretch.start);
        high = stretch.end == PLAYHEAD ? high : std::max(high, stretch.end);
    }
    return high >= 0 && low <= high ? LoopRange {low, high} : LoopRange {};
}

bool CachePlan::SecondStretchMissing(long long time, long long cacheStart, bool cacheCoversTime) const
{
    return mCount > 1 && cacheStart > At(1).start && Span().Contains(time) && cacheCoversTime;
}

long long CachePlan::SecondStretchStartIn(long long clipStart) const
{
    return std::max(At(1).start, clipStart);
}
