#pragma once

#include "model/ParseSourceData.h"

#include <QList>
#include <QUndoCommand>

class Project;
class TimelineItem;

// Adds sources and waits for their parse. Undo takes the same items out and
// holds them; redo puts them back, so ids, clips and bookmarks survive.
class AddSourceTimelinesCmd : public QUndoCommand
{
public:
    AddSourceTimelinesCmd(Project* project, QList<ParseSourceData> const& dataList);
    ~AddSourceTimelinesCmd() override;

    void undo() override;
    void redo() override;

    QList<ParseSourceData> DataList() const;

private:
    Project* mProject;
    QList<ParseSourceData> mDataList;
    bool mAdded = false;
    // Items taken out by undo, with their folder and position.
    struct HeldItem
    {
        TimelineItem* item;
        QUuid parentId;
        int index;
    };
    QList<HeldItem> mHeld;
};
