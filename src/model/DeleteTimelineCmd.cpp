#include "model/DeleteTimelineCmd.h"

#include "model/Project.h"

DeleteTimelineCmd::DeleteTimelineCmd(Project* project, QUuid const& id)
    : DeleteProjectItemCmd(project, id, QStringLiteral("DeleteTimeline"))
{
}

ProjectItem* DeleteTimelineCmd::Find(QUuid const& id) const
{
    return mProject->FindTimelineById(id, false);
}

void DeleteTimelineCmd::Remove(QUuid const& id)
{
    mProject->RemoveTimeline(id);
}

void DeleteTimelineCmd::Insert(ProjectItem* item, QUuid const& parentId, int index)
{
    mProject->InsertTimeline(static_cast<TimelineItem*>(item), parentId, index);
}
