#pragma once

#include <QList>
#include <QUndoCommand>
#include <QUuid>

class Project;
class Timeline;

// Reorders the clips of an edit timeline by their ids.
class SetClipOrderCmd : public QUndoCommand
{
public:
    SetClipOrderCmd(Project* project, QUuid const& timelineId, QList<QUuid> order);

    void undo() override;
    void redo() override;

    Timeline* GetTimeline() const;

private:
    Project* mProject;
    QUuid mTimelineId;
    QList<QUuid> mNewOrder;
    QList<QUuid> mOldOrder;
};
