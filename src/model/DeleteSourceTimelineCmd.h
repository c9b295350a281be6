#pragma once

#include "model/DeleteProjectItemCmd.h"

class TimelineItem;

// Takes a source timeline out of the project; undo puts it back.
class DeleteSourceTimelineCmd : public DeleteProjectItemCmd
{
public:
    DeleteSourceTimelineCmd(Project* project, QUuid const& id);

protected:
    ProjectItem* Find(QUuid const& id) const override;
    void Remove(QUuid const& id) override;
    void Insert(ProjectItem* item, QUuid const& parentId, int index) override;
};
