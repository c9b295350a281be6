#include "model/HeldTimelineStates.h"

#include "model/Clip.h"
#include "model/ClipType.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"
#include "model/Track.h"

bool HeldTimelineStates::HasMedia(Source const* source)
{
    return source && !source->HasErrors() && source->FrameCount() > 0;
}

bool HeldTimelineStates::ItemHasMedia(TimelineItem const* item)
{
    Timeline const* timeline = item ? item->TimelinePtr() : nullptr;
    if (!timeline)
    {
        return false;
    }
    if (item->IsSourceTimeline())
    {
        return HasMedia(item->SourcePtr());
    }
    Track const* track = timeline->MasterTrack();
    for (int i = 0; track && i < track->ClipCount(); ++i)
    {
        Clip const* clip = track->ClipAtIndex(i);
        if (clip && clip->Type() == ClipType::Media && !HasMedia(clip->SourcePtr()))
        {
            return false;
        }
    }
    return true;
}

void HeldTimelineStates::LiveFrameState(TimelineItem const* item, int& playbackFrame, int& start, int& end)
{
    Timeline const* timeline = item->TimelinePtr();
    playbackFrame = timeline->PlaybackFrame();
    Source const* source = item->IsSourceTimeline() ? item->SourcePtr() : nullptr;
    if (source)
    {
        start = source->CutInFrame();
        end = source->CutOutFrame() >= source->FrameCount() - 1 ? -1 : source->CutOutFrame();
    }
    else
    {
        start = timeline->PlaybackRangeStartFrame();
        end = timeline->PlaybackRangeEndFrame();
    }
}

void HeldTimelineStates::SavedFrameState(TimelineItem const* item, int& playbackFrame, int& start, int& end) const
{
    LiveFrameState(item, playbackFrame, start, end);
    if (HeldTimelineState const* held = InEffect(item))
    {
        playbackFrame = held->playbackFrame;
        start = held->rangeStartFrame;
        end = held->rangeEndFrame;
    }
}

void HeldTimelineStates::HoldIfMediaMissing(TimelineItem* item, int playbackFrame, int start, int end)
{
    if (!item || !item->TimelinePtr() || ItemHasMedia(item))
    {
        mStates.remove(item ? item->Id() : QUuid());
        return;
    }
    HeldTimelineState held;
    held.playbackFrame = playbackFrame;
    held.rangeStartFrame = start;
    held.rangeEndFrame = end;
    LiveFrameState(item, held.appliedPlaybackFrame, held.appliedRangeStartFrame, held.appliedRangeEndFrame);
    mStates.insert(item->Id(), held);
}

HeldTimelineState const* HeldTimelineStates::InEffect(TimelineItem const* item) const
{
    auto const found = item ? mStates.constFind(item->Id()) : mStates.constEnd();
    if (found == mStates.constEnd() || !item->TimelinePtr() || ItemHasMedia(item))
    {
        return nullptr;
    }
    int playbackFrame = 0;
    int start = 0;
    int end = -1;
    LiveFrameState(item, playbackFrame, start, end);
    bool const untouched = playbackFrame == found->appliedPlaybackFrame &&
                           start == found->appliedRangeStartFrame && end == found->appliedRangeEndFrame;
    return untouched ? &found.value() : nullptr;
}

void HeldTimelineStates::Reapply(TimelineItem* item, HeldTimelineState const& held)
{
    Timeline* timeline = item->TimelinePtr();
    timeline->SetPlaybackRangeByFrame(held.rangeStartFrame, held.rangeEndFrame);
    timeline->SetPlaybackFrame(held.playbackFrame);
    HoldIfMediaMissing(item, held.playbackFrame, held.rangeStartFrame, held.rangeEndFrame);
}

void HeldTimelineStates::Forget(QUuid const& id)
{
    mStates.remove(id);
}
