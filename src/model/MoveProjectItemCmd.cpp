#include "model/MoveProjectItemCmd.h"

#include "model/Project.h"

MoveProjectItemCmd::MoveProjectItemCmd(Project* project, QUuid const& itemId, QUuid const& folderId, int index)
    : mProject(project)
    , mItemId(itemId)
    , mFolderId(folderId)
    , mIndex(index)
{
}

void MoveProjectItemCmd::DoMove(bool exactIndex)
{
    ProjectItem* item = mProject->FindItemById(mItemId);
    FolderItem* parent = item ? mProject->FindFolderById(item->ParentId()) : nullptr;
    if (!item || !parent)
    {
        return;
    }
    QUuid const fromId = parent->Id();
    int const fromIndex = parent->ProjectItemIndex(item);
    mProject->MoveProjectItem(item, mFolderId, mIndex, exactIndex, true);
    mFolderId = fromId;
    mIndex = fromIndex;
}

void MoveProjectItemCmd::redo()
{
    DoMove(mMovedOnce);
    mMovedOnce = true;
}

void MoveProjectItemCmd::undo()
{
    DoMove(true);
}
