#pragma once

#include <QUndoCommand>
#include <QUuid>

class TimelineItem;
class Project;

// Takes a node out of the project and holds it; undo puts the same node back
// where it was. A node still held when the command goes is deleted with it.
class DeleteSourceTimelineCmd : public QUndoCommand
{
public:
    DeleteSourceTimelineCmd(Project* project, QUuid const& id);
    ~DeleteSourceTimelineCmd() override;

    void undo() override;
    void redo() override;

private:
    Project* mProject;
    TimelineItem* mItem = nullptr;
    QUuid mItemId;
    QUuid mParentId;
    int mIndex = -1;
};
