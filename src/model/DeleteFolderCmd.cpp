#include "model/DeleteFolderCmd.h"

#include "model/Project.h"

DeleteFolderCmd::DeleteFolderCmd(Project* project, QUuid const& id)
    : DeleteProjectItemCmd(project, id, QStringLiteral("DeleteFolder"))
{
}

ProjectItem* DeleteFolderCmd::Find(QUuid const& id) const
{
    return mProject->FindFolderById(id);
}

void DeleteFolderCmd::Remove(QUuid const& id)
{
    mProject->RemoveFolder(id);
}

void DeleteFolderCmd::Insert(ProjectItem* item, QUuid const& parentId, int index)
{
    mProject->InsertFolder(static_cast<FolderItem*>(item), parentId, index);
}
