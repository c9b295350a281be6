#include "model/AddSourceTimelinesCmd.h"

#include "model/Project.h"

AddSourceTimelinesCmd::AddSourceTimelinesCmd(Project* project, QList<ParseSourceData> const& dataList)
    : mProject(project)
    , mDataList(dataList)
{
    setText(QStringLiteral("AddSource(s)"));
}

AddSourceTimelinesCmd::~AddSourceTimelinesCmd()
{
    for (HeldItem const& held : std::as_const(mHeld))
    {
        mProject->ReleaseItem(held.item);
    }
}

void AddSourceTimelinesCmd::redo()
{
    if (!mAdded)
    {
        mAdded = true;
        mProject->AddSourceTimelines(mDataList);
        return;
    }
    // Put back in the order taken out reversed, so positions hold.
    while (!mHeld.isEmpty())
    {
        HeldItem const held = mHeld.takeLast();
        mProject->InsertSourceTimeline(held.item, held.parentId, held.index);
    }
}

void AddSourceTimelinesCmd::undo()
{
    for (ParseSourceData const& data : std::as_const(mDataList))
    {
        TimelineItem* item = mProject->FindSourceTimelineById(data.id);
        if (!item)
        {
            continue;
        }
        FolderItem* parent = mProject->FindFolderById(item->ParentId());
        int const index = parent ? parent->ProjectItemIndex(item) : -1;
        mProject->RemoveSourceTimeline(data.id);
        mHeld.append({item, parent ? parent->Id() : QUuid(), index});
    }
}

QList<ParseSourceData> AddSourceTimelinesCmd::DataList() const
{
    return mDataList;
}
