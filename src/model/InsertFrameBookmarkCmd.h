#pragma once

#include <QUndoCommand>
#include <QUuid>

class Project;
class Timeline;
struct FrameBookmark;

// Inserts a frame bookmark. A bookmark taken out is held, strokes and all,
// and goes back as the same object with an empty annotation history. A step
// that did nothing (a bookmark already there, or none to remove) is undone
// as nothing.
class InsertFrameBookmarkCmd : public QUndoCommand
{
public:
    InsertFrameBookmarkCmd(Project* project, QUuid const& timelineId, int frame);
    ~InsertFrameBookmarkCmd() override;

    void undo() override;
    void redo() override;

    Timeline* GetTimeline() const;

private:
    void Insert();
    void Take();

    Project* mProject;
    QUuid mTimelineId;
    int mFrame;
    FrameBookmark* mBookmark = nullptr;
    bool mChanged = false;
};
