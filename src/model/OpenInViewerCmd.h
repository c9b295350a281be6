#pragma once

#include <QUndoCommand>
#include <QUuid>

class AvManager;
class Project;

// Shows a timeline in a viewer output (a null id empties the output); undo
// shows what was there before and puts the timeline back where it was shown.
class OpenInViewerCmd : public QUndoCommand
{
public:
    OpenInViewerCmd(Project* project, AvManager* avManager, QUuid const& timelineId, int outputId,
                    bool keepPreviousOutput);

    void undo() override;
    void redo() override;

private:
    void Open(QUuid const& timelineId, int outputId);

    Project* mProject;
    AvManager* mAvManager;
    QUuid mTimelineId;
    QUuid mPreviousTimelineId;
    int mOutputId;
    int mPreviousOutputId = -1;
    bool mKeepPreviousOutput;
    bool mRecorded = false;
};
