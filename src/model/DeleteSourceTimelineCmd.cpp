#include "model/DeleteSourceTimelineCmd.h"

#include "model/Project.h"

DeleteSourceTimelineCmd::DeleteSourceTimelineCmd(Project* project, QUuid const& id)
    : mProject(project)
    , mItemId(id)
{
    setText(QStringLiteral("DeleteSource"));
}

DeleteSourceTimelineCmd::~DeleteSourceTimelineCmd()
{
    mProject->ReleaseItem(mItem);
}

void DeleteSourceTimelineCmd::redo()
{
    TimelineItem* item = mProject->FindSourceTimelineById(mItemId);
    if (!item || mItem || !item->SourcePtr())
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
    mProject->RemoveSourceTimeline(mItemId);
}

void DeleteSourceTimelineCmd::undo()
{
    if (!mItem)
    {
        return;
    }
    TimelineItem* item = mItem;
    mItem = nullptr;
    mProject->InsertSourceTimeline(item, mParentId, mIndex);
}
