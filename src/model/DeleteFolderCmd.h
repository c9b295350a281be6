#pragma once

#include "model/DeleteProjectItemCmd.h"

class FolderItem;

// Takes a folder out of the project; undo puts it back.
class DeleteFolderCmd : public DeleteProjectItemCmd
{
public:
    DeleteFolderCmd(Project* project, QUuid const& id);

protected:
    ProjectItem* Find(QUuid const& id) const override;
    void Remove(QUuid const& id) override;
    void Insert(ProjectItem* item, QUuid const& parentId, int index) override;
};
