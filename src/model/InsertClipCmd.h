#pragma once

#include <QUndoCommand>
#include <QUuid>

class Clip;
class Project;
class Timeline;

// Inserts a clip that the command owns while it is out of the timeline.
class InsertClipCmd : public QUndoCommand
{
public:
    InsertClipCmd(Project* project, QUuid const& timelineId, Clip* clip, int index);
    ~InsertClipCmd() override;

    void undo() override;
    void redo() override;

    Timeline* GetTimeline() const;

private:
    Project* mProject;
    QUuid mTimelineId;
    Clip* mClip;
    int mIndex;
    QUuid mSourceId;
};
