#pragma once

#include "app/Settings.h"

#include <algorithm>
#include <limits>

// The cache budget rule, in one place: how the cache setting is shared among
// the timelines decoded, between a timeline's pictures and sound, between the
// cache and the decoder's own pictures, and between the cache and a backward
// window being decoded. Pure functions: any thread.
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

// Pictures the cache must hold besides a backward window of the shortest
// length, so that there is something to show while the next is decoded.
inline constexpr int PICTURES_SHOWN_BESIDE_WINDOW = 4;

// Bytes the cache must keep free of the codec's pictures for play: a
// backward window of windowFrames pictures and its end, and the pictures
// shown beside it.
inline long long PlayRoom(int windowFrames, long long pictureBytes)
{
    return (std::max(windowFrames, 0) + 1LL + PICTURES_SHOWN_BESIDE_WINDOW) * std::max(pictureBytes, 0LL);
}

// The most frame threads, up to wanted, whose pictures fit within the budget
// beside room bytes: each thread holds 2 pictures of decoderPictureBytes, and
// the codec fixedPictures more (references, reordering, the one converted).
// 0 when not even one thread fits.
inline int FrameThreadsWithin(int wanted, long long budget, long long room, long long decoderPictureBytes,
                              long long fixedPictures)
{
    if (decoderPictureBytes <= 0)
    {
        return std::max(wanted, 1);
    }
    long long const pictures = (budget - room) / decoderPictureBytes - std::max(fixedPictures, 0LL);
    return static_cast<int>(std::clamp<long long>(pictures / 2, 0, std::max(wanted, 1)));
}

// The pictures a seek keeps before its target, which are also the shortest
// backward window: leading, unless play room for that many leaves no room
// for two frame threads within the budget (see FrameThreadsWithin); then the
// most, down to half of leading, beside which two fit: the seek then decodes
// on frame threads, and converts fewer pictures before its target. leading
// where not even half leaves room for two.
inline int SeekLead(int leading, long long budget, long long pictureBytes, long long decoderPictureBytes,
                    long long fixedPictures)
{
    for (int lead = leading; lead >= leading / 2 && lead > 0; --lead)
    {
        if (FrameThreadsWithin(2, budget, PlayRoom(lead, pictureBytes), decoderPictureBytes, fixedPictures) >= 2)
        {
            return lead;
        }
    }
    return leading;
}

// What of the decoder's held bytes counts against a cache of cacheMaximum
// bytes: pictures too big for the cache even on one thread leave it room for
// a few of pictureBytes to show all the same.
inline long long DecoderHeldWithin(long long held, long long cacheMaximum, long long pictureBytes)
{
    long long const room = PICTURES_SHOWN_BESIDE_WINDOW * pictureBytes;
    return std::min(held, std::max(cacheMaximum - room, 0LL));
}

// The pictures of pictureBytes a backward window may have of a budget of
// budget bytes, with kept bytes of it kept by the cache and held by the
// codec and the window's end. Two thirds for the window being decoded, a
// third for the cache to show from while the next one is decoded (a GOP's
// decoding takes a fraction of that to show at 1x). The longer the windows,
// the fewer times the start of a long GOP is decoded again. But the first
// window beside pictures already cached (firstBesideCached: play from a
// paused frame) is decoded while only those few are shown: it keeps to half,
// so its first picture comes sooner. Never fewer than shortest.
inline int BackwardWindowPictures(long long budget, long long kept, long long held, long long pictureBytes,
                                  bool firstBesideCached, int shortest)
{
    long long const share = (budget - held) / pictureBytes * (firstBesideCached ? 3 : 4) / 6;
    long long const free = (budget - kept - held) / pictureBytes;
    return static_cast<int>(std::clamp<long long>(std::min(share, free), shortest, std::numeric_limits<int>::max() / 2));
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
