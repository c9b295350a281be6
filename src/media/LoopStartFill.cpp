#include "media/LoopStartFill.h"

#include "media/AvHelpers.h"
#include "media/CacheBudget.h"
#include "media/CachePlan.h"
#include "media/VideoFrame.h"
#include "model/Clip.h"
#include "model/Timeline.h"
#include "model/Track.h"

#include <algorithm>

Clip* LoopStartFill::WantedClip(Timeline const& timeline, Track const& track, bool video,
                                AudioOutputFormat const& format, long long& target) const
{
    // Only with the cache at the loop range's end.
    if (!(video ? timeline.VideoCacheReachesLoopEnd() && !timeline.HasDeferredVideoCache()
                : timeline.AudioCacheReachesLoopEnd()))
    {
        return nullptr;
    }
    // Wanted when the plan's second stretch is missing from the cache.
    CachePlan const plan = timeline.CurrentCachePlan();
    long long const time = timeline.PlaybackTime();
    long long const cacheStart = video ? timeline.VideoCacheAdjustedStartTime() : timeline.AudioCacheStartTime();
    bool const covers = video ? timeline.VideoCacheCoversTime(time) : timeline.AudioCacheCoversTime(time);
    if (!plan.SecondStretchMissing(time, cacheStart, covers))
    {
        return nullptr;
    }
    // Only the clip the cache starts in: its pictures from a movie file, or
    // its sound.
    Clip* clip = track.ClipAtTime(video ? cacheStart : cacheStart - 1);
    if (!clip || clip->Type() == ClipType::Empty ||
        !(video ? clip->HasVideo() && !clip->IsImageSequence() : clip->HasAudio()))
    {
        return nullptr;
    }
    target = plan.SecondStretchStartIn(clip->StartTime());
    // The range's sound fits beside what the cache holds.
    long long const soundSize = AvHelpers::AudioOutputSizeForDuration(cacheStart - target, format);
    bool const fits = video || CacheBudget::LoopStartSoundFits(timeline.AudioCacheSize(), soundSize,
                                                               timeline.AudioCacheMaximumSize());
    // A fill tried from here is not planned again, and the file is looked
    // at last: this runs at every wake of an idle loop.
    if (cacheStart <= target || !fits || WasTried(target, cacheStart) || clip->HasErrors() || !clip->FileExists(0))
    {
        return nullptr;
    }
    return clip;
}

bool LoopStartFill::PicturesFit(Timeline const& timeline, long long frames, long long codecBytes)
{
    // The whole range fits beside the codec's own pictures, with the frames
    // after the range let go first.
    std::shared_ptr<VideoFrame> const first = timeline.FirstCachedVideoFrame();
    std::shared_ptr<VideoFrame> const last = timeline.LastCachedVideoFrame();
    if (!first)
    {
        return false;
    }
    long long const pictureBytes = std::max(first->byteSize, last ? last->byteSize : 0LL);
    long long const kept = timeline.VideoCacheSize() - timeline.VideoCacheSizeAfter(timeline.CurrentCachePlan().FirstStretchEnd());
    return CacheBudget::LoopStartPicturesFit(frames, pictureBytes, kept, codecBytes, timeline.VideoCacheMaximumSize());
}

bool LoopStartFill::GoesOn(Timeline const& timeline, bool video) const
{
    // Not once the clock stopped looping, turned, or left both the cache and
    // what the fill brings (a seek follows).
    long long const time = timeline.PlaybackTime();
    bool const held = video ? Brings(time, timeline.VideoCacheAdjustedStartTime()) || timeline.VideoCacheCoversTime(time)
                            : timeline.AudioCacheCoversTime(time);
    return timeline.IsDecodeForward() && timeline.CacheLoopRange().Contains(time) && held;
}
