#include "model/InsertFrameBookmarkCmd.h"

#include "app/Settings.h"
#include "model/FrameBookmark.h"
#include "model/Project.h"
#include "model/Timeline.h"

InsertFrameBookmarkCmd::InsertFrameBookmarkCmd(Project* project, QUuid const& timelineId, int frame)
    : mProject(project)
    , mTimelineId(timelineId)
    , mFrame(frame)
{
    setText(QStringLiteral("InsertFrameBookmark"));
}

InsertFrameBookmarkCmd::~InsertFrameBookmarkCmd()
{
    delete mBookmark;
}

Timeline* InsertFrameBookmarkCmd::GetTimeline() const
{
    TimelineItem* item = mProject->FindTimelineById(mTimelineId, true);
    return item ? item->TimelinePtr() : nullptr;
}

void InsertFrameBookmarkCmd::Insert()
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

void InsertFrameBookmarkCmd::Take()
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

void InsertFrameBookmarkCmd::redo()
{
    Insert();
}

void InsertFrameBookmarkCmd::undo()
{
    if (mChanged)
    {
        Take();
    }
}
