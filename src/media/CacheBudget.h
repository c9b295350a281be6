#pragma once

#include "app/Settings.h"

#include <algorithm>

// The cache budget rule, in one place: how the cache setting is shared among
// the timelines decoded, between a timeline's pictures and sound, and between
// the cache and a backward window being decoded. Pure functions: any thread.
namespace CacheBudget
{
inline constexpr long long BYTES_PER_MEGABYTE = 1000000; // budgets are decimal

// Megabytes each of count timelines decoded at once gets: an equal share of
// the setting, never below the smallest a timeline can work with.
inline int TimelineMegabytes(int totalMegabytes, int count)
{
    return std::max(totalMegabytes / std::max(count, 1), Settings::MINIMUM_TIMELINE_CACHE_SIZE);
}

// A timeline's picture budget in bytes (64-bit: 32768 MB does not fit in 32
// bits).
inline long long VideoBytes(int megabytes)
{
    return static_cast<long long>(std::max(megabytes, Settings::MINIMUM_TIMELINE_CACHE_SIZE)) * BYTES_PER_MEGABYTE;
}

// Its sound gets 1.2 % of that on top of it.
inline long long AudioBytes(long long videoBytes)
{
    return static_cast<long long>(static_cast<double>(videoBytes) * 0.012);
}

// What the cache keeps of a side's budget while a backward window is decoded:
// the pictures still to be shown (ahead), and as many behind the playhead
// (the cache keeps the two balanced). The window may take the rest.
inline long long KeptBesideBackwardWindow(long long ahead, long long behind)
{
    return ahead + std::min(ahead, behind);
}

// Whether what would be held fits within a budget of maximum bytes.
inline bool Fits(long long held, long long maximum)
{
    return held < maximum;
}
} // namespace CacheBudget
