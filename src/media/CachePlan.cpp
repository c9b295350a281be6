#include "media/CachePlan.h"

#include <algorithm>

CachePlan CachePlan::For(Clock const& clock)
{
    bool const rangeSet = clock.rangeStart > 0 || clock.rangeEnd < clock.endTime;
    bool const parkedInRange =
        !clock.playing && rangeSet && clock.rangeStart <= clock.time && clock.time <= clock.rangeEnd;
    bool const loops = (parkedInRange || (clock.playing && clock.forward)) && clock.loopState == LoopState::Loop;
    return CachePlan {loops ? LoopRange {clock.rangeStart, clock.rangeEnd} : LoopRange {}};
}

bool CachePlan::SecondStretchMissing(long long time, long long cacheStart, bool cacheCoversTime) const
{
    return cacheStart > loop.start && loop.Contains(time) && cacheCoversTime;
}

long long CachePlan::SecondStretchStartIn(long long clipStart) const
{
    return std::max(loop.start, clipStart);
}
