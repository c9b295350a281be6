#pragma once

#include <QUndoCommand>
#include <QUuid>

class Project;

// Sets a timeline's playback range; undo and redo swap it. Previous values of
// 0 or more stand for the range before a live drag and are used once.
class SetPlaybackRangeByFrameCmd : public QUndoCommand
{
public:
    SetPlaybackRangeByFrameCmd(Project* project, QUuid const& timelineId, int start, int end, int previousStart,
                               int previousEnd);

    void undo() override;
    void redo() override;

private:
    void SwapPlaybackRange();

    Project* mProject;
    QUuid mTimelineId;
    int mStart;
    int mEnd;
    int mPreviousStart;
    int mPreviousEnd;
};
