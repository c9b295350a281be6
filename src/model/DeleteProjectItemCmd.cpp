#include "model/DeleteProjectItemCmd.h"

#include "model/FolderItem.h"
#include "model/Project.h"

DeleteProjectItemCmd::DeleteProjectItemCmd(Project* project, QUuid const& id, QString const& text)
    : mProject(project)
    , mItemId(id)
{
    setText(text);
}

DeleteProjectItemCmd::~DeleteProjectItemCmd()
{
    mProject->ReleaseItem(mItem);
}

void DeleteProjectItemCmd::redo()
{
    ProjectItem* item = Find(mItemId);
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
    Remove(mItemId);
}

void DeleteProjectItemCmd::undo()
{
    if (!mItem)
    {
        return;
    }
    ProjectItem* item = mItem;
    mItem = nullptr;
    Insert(item, mParentId, mIndex);
}
