#pragma once

#include <QUndoCommand>
#include <QUuid>

class Project;

// Sets the timeline whose audio a timeline plays; undo and redo swap it.
class SetAudioOverrideCmd : public QUndoCommand
{
public:
    SetAudioOverrideCmd(Project* project, QUuid const& timelineId, QUuid const& overrideId);

    void undo() override;
    void redo() override;

private:
    void SwapAudioOverride();

    Project* mProject;
    QUuid mTimelineId;
    QUuid mOverrideId;
};
