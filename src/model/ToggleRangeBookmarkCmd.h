#pragma once

#include <QUndoCommand>
#include <QUuid>

class Project;

// Adds a range bookmark, or removes it when it exists; undo toggles back.
class ToggleRangeBookmarkCmd : public QUndoCommand
{
public:
    ToggleRangeBookmarkCmd(Project* project, QUuid const& timelineId, int start, int end);

    void undo() override;
    void redo() override;

private:
    void ToggleRangeBookmark();

    Project* mProject;
    QUuid mTimelineId;
    int mStart;
    int mEnd;
};
