#include "model/DeleteClipCmd.h"

#include "model/Clip.h"
#include "model/Project.h"
#include "model/Source.h"
#include "model/Timeline.h"

DeleteClipCmd::DeleteClipCmd(Project* project, QUuid const& timelineId, int index)
    : mProject(project)
    , mTimelineId(timelineId)
    , mIndex(index)
{
}

DeleteClipCmd::~DeleteClipCmd()
{
    delete mClip;
}

Timeline* DeleteClipCmd::GetTimeline() const
{
    TimelineItem* item = mProject->FindTimelineById(mTimelineId, false);
    return item ? item->TimelinePtr() : nullptr;
}

void DeleteClipCmd::redo()
{
    Timeline* timeline = GetTimeline();
    if (!timeline || mClip)
    {
        return;
    }
    mClip = timeline->RemoveClipAtIndex(mIndex, true);
    if (mClip && mClip->SourcePtr())
    {
        mSourceId = mClip->SourcePtr()->Id();
    }
}

void DeleteClipCmd::undo()
{
    Timeline* timeline = GetTimeline();
    if (!timeline || !mClip)
    {
        return;
    }
    if (TimelineItem* source = mProject->FindSourceTimelineById(mSourceId); source && source->SourcePtr())
    {
        mClip->SetSource(source->SourcePtr());
    }
    timeline->InsertClipAtIndex(mClip, mIndex, true);
    mClip = nullptr;
}
