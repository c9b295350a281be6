#pragma once

#include "app/Settings.h"

#include <algorithm>
#include <limits>

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

// Whether a fill of the pictures in front of the cache fits a picture budget
// of maximum bytes: frames pictures of pictureBytes each (and one more, the
// one held over the range start), beside what the cache keeps (kept: what it
// holds up to the loop range's end; the frames after it are let go first) and
// the codec's own pictures (codecBytes).
inline bool LoopStartPicturesFit(long long frames, long long pictureBytes, long long kept, long long codecBytes,
                                 long long maximum)
{
    if (pictureBytes <= 0 || frames > std::numeric_limits<int>::max() / 2)
    {
        return false;
    }
    return Fits(kept + (frames + 1) * pictureBytes + codecBytes, maximum);
}

// Whether a fill of fillBytes of sound in front of the cache fits beside the
// cached bytes within a sound budget of maximum bytes (it is small: the budget
// holds many seconds).
inline bool LoopStartSoundFits(long long cached, long long fillBytes, long long maximum)
{
    return Fits(cached + fillBytes, maximum);
}
} // namespace CacheBudget
