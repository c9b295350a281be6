#include "model/AddTimelineCmd.h"

#include "model/Project.h"

AddTimelineCmd::AddTimelineCmd(Project* project, QString const& name, QUuid const& parentId)
    : mProject(project)
    , mParentId(parentId)
    , mName(name)
{
    setText(QStringLiteral("AddTimeline"));
}

AddTimelineCmd::~AddTimelineCmd()
{
    mProject->ReleaseItem(mItem);
}

void AddTimelineCmd::redo()
{
    if (mTimelineItemId.isNull())
    {
        TimelineItem* item = mProject->AddTimeline(mName, mParentId, true, QUuid(), -1);
        mTimelineItemId = item->Id();
        mParentId = item->ParentId();
        FolderItem* parent = mProject->FindFolderById(mParentId);
        mIndex = parent ? parent->ProjectItemIndex(item) : -1;
        return;
    }
    if (mItem)
    {
        mProject->InsertTimeline(mItem, mParentId, mIndex);
        mItem = nullptr;
    }
}

void AddTimelineCmd::undo()
{
    TimelineItem* item = mProject->FindTimelineById(mTimelineItemId, false);
    if (item)
    {
        mItem = item;
        mProject->RemoveTimeline(mTimelineItemId);
    }
}

QUuid AddTimelineCmd::TimelineItemId() const
{
    return mTimelineItemId;
}
