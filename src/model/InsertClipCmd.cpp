#include "model/InsertClipCmd.h"

#include "model/Clip.h"
#include "model/Project.h"
#include "model/Source.h"
#include "model/Timeline.h"

InsertClipCmd::InsertClipCmd(Project* project, QUuid const& timelineId, Clip* clip, int index)
    : mProject(project)
    , mTimelineId(timelineId)
    , mClip(clip)
    , mIndex(index)
{
    setText(QStringLiteral("InsertClip"));
}

InsertClipCmd::~InsertClipCmd()
{
    delete mClip;
}

Timeline* InsertClipCmd::GetTimeline() const
{
    TimelineItem* item = mProject->FindTimelineById(mTimelineId, true);
    return item ? item->TimelinePtr() : nullptr;
}

void InsertClipCmd::redo()
{
    Timeline* timeline = GetTimeline();
    if (!timeline || !mClip)
    {
        return;
    }
    if (mSourceId.isNull())
    {
        if (mClip->SourcePtr())
        {
            mSourceId = mClip->SourcePtr()->Id();
        }
    }
    else if (TimelineItem* source = mProject->FindSourceTimelineById(mSourceId); source && source->SourcePtr())
    {
        mClip->SetSource(source->SourcePtr());
    }
    int const index = timeline->InsertClipAtIndex(mClip, mIndex, true);
    if (index >= 0)
    {
        mIndex = index;
        mClip = nullptr;
    }
}

void InsertClipCmd::undo()
{
    Timeline* timeline = GetTimeline();
    if (!timeline || mClip)
    {
        return;
    }
    mClip = timeline->RemoveClipAtIndex(mIndex, true);
}
