#pragma once

#include <QString>
#include <QUndoCommand>
#include <QUuid>

class Project;
class TimelineItem;

// Adds an empty edit timeline; undo takes the same item out, redo puts it back.
class AddTimelineCmd : public QUndoCommand
{
public:
    AddTimelineCmd(Project* project, QString const& name, QUuid const& parentId);
    ~AddTimelineCmd() override;

    void undo() override;
    void redo() override;

    QUuid TimelineItemId() const;

private:
    Project* mProject;
    TimelineItem* mItem = nullptr;
    QUuid mTimelineItemId;
    QUuid mParentId;
    int mIndex = -1;
    QString mName;
};
