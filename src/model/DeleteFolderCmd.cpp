#include "model/DeleteFolderCmd.h"

#include "model/Project.h"

DeleteFolderCmd::DeleteFolderCmd(Project* project, QUuid const& id)
    : mProject(project)
    , mItemId(id)
{
    setText(QStringLiteral("DeleteFolder"));
}

DeleteFolderCmd::~DeleteFolderCmd()
{
    mProject->ReleaseItem(mItem);
}

void DeleteFolderCmd::redo()
{
    FolderItem* item = mProject->FindFolderById(mItemId);
    if (!item || mItem)
    {
        return;
    }
    if (mParentId.isNull())
    {
        mParentId = item->ParentId();
        FolderItem* parent = mProject->FindFolderById(mParentId);
        mIndex = parent ? parent->ProjectItemIndex(item) : -1;
    }
    mItem = item;
    mProject->RemoveFolder(mItemId);
}

void DeleteFolderCmd::undo()
{
    if (!mItem)
    {
        return;
    }
    FolderItem* item = mItem;
    mItem = nullptr;
    mProject->InsertFolder(item, mParentId, mIndex);
}
