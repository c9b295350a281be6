#pragma once

#include <QUndoCommand>
#include <QUuid>

class Project;
class Timeline;
class TimelineItem;

// Adds a new source timeline of the same media right after an existing one,
// copying what the duplicate settings asked for when the command was made (a
// redo after the settings changed rebuilds the same duplicate). It keeps the same
// ids on every redo, so later commands that name it still find it; undo
// holds it and redo puts the same item back.
class DuplicateSourceTimelineCmd : public QUndoCommand
{
public:
    DuplicateSourceTimelineCmd(Project* project, QUuid const& sourceTimelineId);
    ~DuplicateSourceTimelineCmd() override;

    void undo() override;
    void redo() override;

    QUuid DuplicateId() const;

    void DuplicatePlaybackTime(Timeline* existing, Timeline* duplicate);
    void DuplicateRange(Timeline* existing, Timeline* duplicate);
    void DuplicateRangeBookmarks(Timeline* existing, Timeline* duplicate);
    void DuplicateFrameBookmarks(Timeline* existing, Timeline* duplicate);
    void DuplicateAudioDelay(Timeline* existing, Timeline* duplicate);

private:
    // The duplicate settings as they were when the command was made.
    struct Options
    {
        bool playbackTime;
        bool inOut;
        bool audioDelay;
        bool frameBookmarks;
        bool rangeBookmarks;
        bool annotations;
    };

    Project* mProject;
    Options mOptions;
    QUuid mSourceTimelineId;
    QUuid mDuplicateId;
    TimelineItem* mHeld = nullptr;
    QUuid mHeldParentId;
    int mHeldIndex = -1;
};
