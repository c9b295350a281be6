#include "model/SetPlaybackRangeByFrameCmd.h"

#include "model/Project.h"
#include "model/Timeline.h"

SetPlaybackRangeByFrameCmd::SetPlaybackRangeByFrameCmd(Project* project, QUuid const& timelineId, int start, int end,
                                                       int previousStart, int previousEnd)
    : mProject(project)
    , mTimelineId(timelineId)
    , mStart(start)
    , mEnd(end)
    , mPreviousStart(previousStart)
    , mPreviousEnd(previousEnd)
{
    setText(QStringLiteral("SetPlaybackRange"));
}

void SetPlaybackRangeByFrameCmd::SwapPlaybackRange()
{
    TimelineItem* item = mProject->FindTimelineById(mTimelineId, true);
    if (!item || !item->TimelinePtr())
    {
        return;
    }
    Timeline* timeline = item->TimelinePtr();
    int rememberedStart = timeline->PlaybackRangeStartFrame();
    int rememberedEnd = timeline->PlaybackRangeEndFrame();
    if (mPreviousStart >= 0 && mPreviousEnd >= 0)
    {
        rememberedStart = mPreviousStart;
        rememberedEnd = mPreviousEnd;
        mPreviousStart = -1;
        mPreviousEnd = -1;
    }
    timeline->SetPlaybackRangeByFrame(mStart, mEnd);
    mStart = rememberedStart;
    mEnd = rememberedEnd;
}

void SetPlaybackRangeByFrameCmd::redo()
{
    SwapPlaybackRange();
}

void SetPlaybackRangeByFrameCmd::undo()
{
    SwapPlaybackRange();
}
