#include "model/DeleteSourceTimelineCmd.h"

#include "model/Project.h"

DeleteSourceTimelineCmd::DeleteSourceTimelineCmd(Project* project, QUuid const& id)
    : DeleteProjectItemCmd(project, id, QStringLiteral("DeleteSource"))
{
}

ProjectItem* DeleteSourceTimelineCmd::Find(QUuid const& id) const
{
    TimelineItem* item = mProject->FindSourceTimelineById(id);
    return item && item->SourcePtr() ? item : nullptr;
}

void DeleteSourceTimelineCmd::Remove(QUuid const& id)
{
    mProject->RemoveSourceTimeline(id);
}

void DeleteSourceTimelineCmd::Insert(ProjectItem* item, QUuid const& parentId, int index)
{
    mProject->InsertSourceTimeline(static_cast<TimelineItem*>(item), parentId, index);
}
