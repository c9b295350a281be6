#include "model/FrameBookmarkCmd.h"

#include "app/Settings.h"
#include "model/FrameBookmark.h"
#include "model/Project.h"
#include "model/Timeline.h"

FrameBookmarkCmd::FrameBookmarkCmd(Project* project, QUuid const& timelineId, int frame, QString const& text)
    : mProject(project)
    , mTimelineId(timelineId)
    , mFrame(frame)
{
    setText(text);
}

FrameBookmarkCmd::~FrameBookmarkCmd()
{
    delete mBookmark;
}

Timeline* FrameBookmarkCmd::GetTimeline() const
{
    TimelineItem* item = mProject->FindTimelineById(mTimelineId, true);
    return item ? item->TimelinePtr() : nullptr;
}

bool FrameBookmarkCmd::Changed() const
{
    return mChanged;
}

void FrameBookmarkCmd::Insert()
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

void FrameBookmarkCmd::Take()
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
