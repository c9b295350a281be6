#include "model/ToggleRangeBookmarkCmd.h"

#include "model/Project.h"
#include "model/Timeline.h"

ToggleRangeBookmarkCmd::ToggleRangeBookmarkCmd(Project* project, QUuid const& timelineId, int start, int end)
    : mProject(project)
    , mTimelineId(timelineId)
    , mStart(start)
    , mEnd(end)
{
    setText(QStringLiteral("ToggleRangeBookmark"));
}

void ToggleRangeBookmarkCmd::ToggleRangeBookmark()
{
    TimelineItem* item = mProject->FindTimelineById(mTimelineId, true);
    if (!item || !item->TimelinePtr())
    {
        return;
    }
    Timeline* timeline = item->TimelinePtr();
    if (timeline->RangeBookmarkExists(mStart, mEnd))
    {
        timeline->RemoveRangeBookmark(mStart, mEnd);
    }
    else
    {
        timeline->InsertRangeBookmark(mStart, mEnd);
    }
}

void ToggleRangeBookmarkCmd::redo()
{
    ToggleRangeBookmark();
}

void ToggleRangeBookmarkCmd::undo()
{
    ToggleRangeBookmark();
}
