#include "model/AddFolderCmd.h"

#include "model/FolderItem.h"
#include "model/Project.h"

AddFolderCmd::AddFolderCmd(Project* project, QString const& name, QUuid const& parentId)
    : mProject(project)
    , mParentId(parentId)
    , mName(name)
{
    setText(QStringLiteral("AddFolder"));
}

AddFolderCmd::~AddFolderCmd()
{
    mProject->ReleaseItem(mFolder);
}

void AddFolderCmd::redo()
{
    if (mFolderId.isNull())
    {
        FolderItem* folder = mProject->AddFolder(mName, mParentId, true);
        mFolderId = folder->Id();
        mParentId = folder->ParentId();
        FolderItem* parent = mProject->FindFolderById(mParentId);
        mIndex = parent ? parent->ProjectItemIndex(folder) : -1;
        return;
    }
    if (mFolder)
    {
        mProject->InsertFolder(mFolder, mParentId, mIndex);
        mFolder = nullptr;
    }
}

void AddFolderCmd::undo()
{
    FolderItem* folder = mProject->FindFolderById(mFolderId);
    if (folder)
    {
        mFolder = folder;
        mProject->RemoveFolder(mFolderId);
    }
}

QUuid AddFolderCmd::FolderItemId() const
{
    return mFolderId;
}
