#include "model/SetClipOrderCmd.h"

#include "model/Project.h"
#include "model/Timeline.h"

SetClipOrderCmd::SetClipOrderCmd(Project* project, QUuid const& timelineId, QList<QUuid> order)
    : mProject(project)
    , mTimelineId(timelineId)
    , mNewOrder(std::move(order))
{
    setText(QStringLiteral("SetClipOrder"));
    if (Timeline* timeline = GetTimeline())
    {
        mOldOrder = timeline->OrderedClipIds();
    }
}

Timeline* SetClipOrderCmd::GetTimeline() const
{
    TimelineItem* item = mProject->FindTimelineById(mTimelineId, true);
    return item ? item->TimelinePtr() : nullptr;
}

void SetClipOrderCmd::redo()
{
    if (Timeline* timeline = GetTimeline())
    {
        timeline->SetClipOrder(mNewOrder);
    }
}

void SetClipOrderCmd::undo()
{
    if (Timeline* timeline = GetTimeline())
    {
        timeline->SetClipOrder(mOldOrder);
    }
}
