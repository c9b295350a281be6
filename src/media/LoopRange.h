#pragma once

// The range [start, end] (µs, timeline time) a looping clock keeps returning
// to. end < start: none. Handed over as one value, so a reader never sees the
// start of one range with the end of another.
struct LoopRange
{
    long long start = 0;
    long long end = -1;

    bool IsSet() const { return end >= start; }
    bool Contains(long long time) const { return IsSet() && start <= time && time <= end; }
    bool operator==(LoopRange const&) const = default;
};
