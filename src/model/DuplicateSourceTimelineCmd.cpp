#include "model/DuplicateSourceTimelineCmd.h"

#include "app/Settings.h"
#include "model/Clip.h"
#include "model/FrameBookmark.h"
#include "model/Project.h"
#include "model/RangeBookmark.h"
#include "model/Source.h"
#include "model/Timeline.h"

DuplicateSourceTimelineCmd::DuplicateSourceTimelineCmd(Project* project, QUuid const& sourceTimelineId)
    : mProject(project)
    , mOptions {Settings::dupSrcPlaybackTime, Settings::dupSrcInOut, Settings::dupSrcAudioDelay,
                Settings::dupSrcFrameBookmarks, Settings::dupSrcRangeBookmarks, Settings::dupSrcAnnotations}
    , mSourceTimelineId(sourceTimelineId)
{
    setText(QStringLiteral("DuplicateSource"));
}

DuplicateSourceTimelineCmd::~DuplicateSourceTimelineCmd()
{
    mProject->ReleaseItem(mHeld);
}

QUuid DuplicateSourceTimelineCmd::DuplicateId() const
{
    return mDuplicateId;
}

void DuplicateSourceTimelineCmd::redo()
{
    if (mHeld)
    {
        TimelineItem* item = mHeld;
        mHeld = nullptr;
        mProject->InsertSourceTimeline(item, mHeldParentId, mHeldIndex);
        return;
    }
    QUuid const recordedId = mDuplicateId;
    mDuplicateId = QUuid();
    TimelineItem* existing = mProject->FindSourceTimelineById(mSourceTimelineId);
    if (!existing || !existing->SourcePtr() || !existing->TimelinePtr())
    {
        return;
    }
    ParseSourceData data;
    data.id = recordedId;
    data.path = existing->SourcePtr()->MediaPath();
    data.parentId = existing->ParentId();
    FolderItem* folder = mProject->FindFolderById(data.parentId);
    data.index = folder ? folder->ProjectItemIndex(existing) + 1 : -1;
    data.addToDefaultTimeline = false;
    QList<ParseSourceData> list {data};
    mProject->AddSourceTimelines(list);

    TimelineItem* duplicate = mProject->FindSourceTimelineById(list.first().id);
    if (!duplicate || !duplicate->TimelinePtr())
    {
        return;
    }
    mDuplicateId = duplicate->Id();
    Timeline* from = existing->TimelinePtr();
    Timeline* to = duplicate->TimelinePtr();
    if (mOptions.playbackTime)
    {
        DuplicatePlaybackTime(from, to);
    }
    if (mOptions.inOut)
    {
        DuplicateRange(from, to);
    }
    if (mOptions.rangeBookmarks)
    {
        DuplicateRangeBookmarks(from, to);
    }
    DuplicateFrameBookmarks(from, to);
    if (mOptions.audioDelay)
    {
        DuplicateAudioDelay(from, to);
    }
}

void DuplicateSourceTimelineCmd::undo()
{
    TimelineItem* item = mDuplicateId.isNull() ? nullptr : mProject->FindSourceTimelineById(mDuplicateId);
    if (!item || mHeld)
    {
        return;
    }
    mHeldParentId = item->ParentId();
    FolderItem* folder = mProject->FindFolderById(mHeldParentId);
    mHeldIndex = folder ? folder->ProjectItemIndex(item) : -1;
    mProject->RemoveSourceTimeline(mDuplicateId);
    mHeld = item;
}

void DuplicateSourceTimelineCmd::DuplicatePlaybackTime(Timeline* existing, Timeline* duplicate)
{
    duplicate->SetPlaybackTime(existing->PlaybackTime());
}

void DuplicateSourceTimelineCmd::DuplicateRange(Timeline* existing, Timeline* duplicate)
{
    duplicate->SetPlaybackRangeByFrame(existing->PlaybackRangeStartFrame(), existing->PlaybackRangeEndFrame());
}

void DuplicateSourceTimelineCmd::DuplicateRangeBookmarks(Timeline* existing, Timeline* duplicate)
{
    for (RangeBookmark const* range : existing->RangeBookmarkList())
    {
        duplicate->InsertRangeBookmark(range->startFrame, range->endFrame);
    }
}

void DuplicateSourceTimelineCmd::DuplicateFrameBookmarks(Timeline* existing, Timeline* duplicate)
{
    bool const all = mOptions.frameBookmarks;
    bool const strokes = mOptions.annotations;
    if (all || strokes)
    {
        for (FrameBookmark const* bookmark : existing->FrameBookmarkList())
        {
            if (!all && bookmark->strokes.isEmpty())
            {
                continue;
            }
            auto* copy = new FrameBookmark();
            if (strokes)
            {
                copy->strokes = bookmark->strokes;
            }
            int const frame = bookmark->timelineFrame >= 0 ? bookmark->timelineFrame : bookmark->frame;
            if (duplicate->InsertFrameBookmark(frame, copy) < 0)
            {
                delete copy;
            }
        }
    }
    if (strokes)
    {
        FrameBookmark const* background = existing->BackgroundFrameBookmark();
        auto* copy = new FrameBookmark(background ? background->frame : 0);
        if (background)
        {
            copy->strokes = background->strokes;
        }
        duplicate->SetBackgroundFrameBookmark(copy);
    }
}

void DuplicateSourceTimelineCmd::DuplicateAudioDelay(Timeline* existing, Timeline* duplicate)
{
    duplicate->SetAudioDelay(existing->AudioDelay());
}
