#pragma once

#include "model/DeleteProjectItemCmd.h"

class TimelineItem;

// Takes an edited timeline out of the project; undo puts it back.
class DeleteTimelineCmd : public DeleteProjectItemCmd
{
public:
    DeleteTimelineCmd(Project* project, QUuid const& id);

protected:
    ProjectItem* Find(QUuid const& id) const override;
    void Remove(QUuid const& id) override;
    void Insert(ProjectItem* item, QUuid const& parentId, int index) override;
};
