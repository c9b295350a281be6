#include "model/RemoveFrameBookmarkCmd.h"

#include "app/Settings.h"
#include "model/FrameBookmark.h"
#include "model/Project.h"
#include "model/Timeline.h"

RemoveFrameBookmarkCmd::RemoveFrameBookmarkCmd(Project* project, QUuid const& timelineId, int frame)
    : mProject(project)
    , mTimelineId(timelineId)
    , mFrame(frame)
{
    setText(QStringLiteral("RemoveFrameBookmark"));
}

RemoveFrameBookmarkCmd::~RemoveFrameBookmarkCmd()
{
    delete mBookmark;
}

Timeline* RemoveFrameBookmarkCmd::GetTimeline() const
{
    TimelineItem* item = mProject->FindTimelineById(mTimelineId, true);
    return item ? item->TimelinePtr() : nullptr;
}

void RemoveFrameBookmarkCmd::Insert()
{
    Timeline* timeline = GetTimeline();
    mChanged = false;
    if (!timeline)
    {
        return;
    }
    FrameBookmark* bookmark = mBookmark ? mBookmark : new FrameBookmark();
    mBookmark = nullptr;
    if (timeline->InsertFrameBookmark(mFrame, bookmark) < 0)
    {
        delete bookmark;
        return;
    }
    mChanged = true;
}

void RemoveFrameBookmarkCmd::Take()
{
    Timeline* timeline = GetTimeline();
    mChanged = false;
    if (!timeline)
    {
        return;
    }
    FrameBookmark* bookmark = timeline->RemoveFrameBookmark(mFrame);
    if (!bookmark)
    {
        return;
    }
    bookmark->undoStack.clear();
    bookmark->undoStack.setUndoLimit(Settings::annotationUndoLimit);
    delete mBookmark;
    mBookmark = bookmark;
    mChanged = true;
}

void RemoveFrameBookmarkCmd::redo()
{
    Take();
}

void RemoveFrameBookmarkCmd::undo()
{
    if (mChanged)
    {
        Insert();
    }
}
