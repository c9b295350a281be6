#include "model/RenameProjectItemCmd.h"

#include "model/Project.h"

RenameProjectItemCmd::RenameProjectItemCmd(Project* project, QUuid const& itemId, QString const& name)
    : mProject(project)
    , mItemId(itemId)
    , mName(name)
{
}

void RenameProjectItemCmd::Rename()
{
    QString const old = mProject->ProjectItemName(mItemId);
    mProject->SetProjectItemName(mItemId, mName);
    mName = old;
}

void RenameProjectItemCmd::redo()
{
    Rename();
}

void RenameProjectItemCmd::undo()
{
    Rename();
}
