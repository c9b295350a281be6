#pragma once

#include <QString>
#include <QUndoCommand>
#include <QUuid>

class Project;
class Timeline;
struct FrameBookmark;

// The two halves of putting a frame bookmark in and taking it out, for the
// commands that insert and remove one. A bookmark taken out is held, strokes
// and all, and goes back as the same object with an empty annotation history.
// A step that did nothing (a bookmark already there, or none to remove) is
// undone as nothing.
class FrameBookmarkCmd : public QUndoCommand
{
public:
    ~FrameBookmarkCmd() override;

    Timeline* GetTimeline() const;

protected:
    FrameBookmarkCmd(Project* project, QUuid const& timelineId, int frame, QString const& text);

    void Insert();
    void Take();
    // True when the last Insert or Take changed the timeline.
    bool Changed() const;

private:
    Project* mProject;
    QUuid mTimelineId;
    int mFrame;
    FrameBookmark* mBookmark = nullptr;
    bool mChanged = false;
};
