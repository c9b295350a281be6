#include "model/DeleteTimelineCmd.h"

#include "model/Project.h"

DeleteTimelineCmd::DeleteTimelineCmd(Project* project, QUuid const& id)
    : mProject(project)
    , mItemId(id)
{
    setText(QStringLiteral("DeleteTimeline"));
}

DeleteTimelineCmd::~DeleteTimelineCmd()
{
    mProject->ReleaseItem(mItem);
}

void DeleteTimelineCmd::redo()
{
    TimelineItem* item = mProject->FindTimelineById(mItemId, false);
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
    mProject->RemoveTimeline(mItemId);
}

void DeleteTimelineCmd::undo()
{
    if (!mItem)
    {
        return;
    }
    TimelineItem* item = mItem;
    mItem = nullptr;
    mProject->InsertTimeline(item, mParentId, mIndex);
}
