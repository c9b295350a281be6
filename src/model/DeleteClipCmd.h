#pragma once

#include <QUndoCommand>
#include <QUuid>

class Clip;
class Project;
class Timeline;

// Takes a clip out of an edit timeline and holds it until undo puts the same
// clip back, pointed at the current source of its source timeline.
class DeleteClipCmd : public QUndoCommand
{
public:
    DeleteClipCmd(Project* project, QUuid const& timelineId, int index);
    ~DeleteClipCmd() override;

    void undo() override;
    void redo() override;

    Timeline* GetTimeline() const;

private:
    Project* mProject;
    QUuid mTimelineId;
    Clip* mClip = nullptr;
    int mIndex;
    QUuid mSourceId;
};
