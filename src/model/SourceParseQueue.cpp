#include "model/SourceParseQueue.h"

#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "model/Clip.h"
#include "model/FolderItem.h"
#include "model/FrameBookmark.h"
#include "model/Project.h"
#include "model/RangeBookmark.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <optional>

int SourceParseQueue::sTimeoutMs = SourceParseQueue::DEFAULT_TIMEOUT_MS;

SourceParseQueue::SourceParseQueue(Project& project)
    : mProject(project)
{
    mTimer.setSingleShot(true);
    connect(&mTimer, &QTimer::timeout, this, &SourceParseQueue::OnTimeout);
}

SourceParseQueue::~SourceParseQueue()
{
    // Wake any wait still spinning, so it does not outlive the project.
    for (QEventLoop* loop : std::as_const(mWaitLoops))
    {
        loop->quit();
    }
    ClearPendingBookmarks();
}

void SourceParseQueue::SetTimeout(int milliseconds)
{
    sTimeoutMs = std::max(milliseconds, 1);
}

int SourceParseQueue::Timeout()
{
    return sTimeoutMs;
}

void SourceParseQueue::Add(ParseListEntry const& entry)
{
    mNewParseList.append(entry);
}

bool SourceParseQueue::InProgress() const
{
    return mInProgress;
}

bool SourceParseQueue::WasAbandoned(QUuid const& id) const
{
    return mAbandonedIds.contains(id);
}

void SourceParseQueue::AddPendingBookmarks(QUuid const& timelineItemId, PendingBookmarks const& bookmarks)
{
    mPendingBookmarks.insert(timelineItemId, bookmarks);
}

QList<PendingBookmarks> SourceParseQueue::TakePendingBookmarks(QUuid const& timelineItemId)
{
    QList<PendingBookmarks> taken;
    while (mPendingBookmarks.contains(timelineItemId))
    {
        auto it = mPendingBookmarks.find(timelineItemId);
        taken.append(it.value());
        mPendingBookmarks.erase(it);
    }
    return taken;
}

void SourceParseQueue::ClearPendingBookmarks()
{
    for (PendingBookmarks const& pending : std::as_const(mPendingBookmarks))
    {
        qDeleteAll(pending.bookmarks);
    }
    mPendingBookmarks.clear();
}

void SourceParseQueue::ReloadSourcesOf(QString const& path)
{
    QString const absolute = QFileInfo(path).absoluteFilePath();
    QList<QUuid> ids;
    for (TimelineItem* item : mProject.SourceTimelines())
    {
        Source const* source = item->SourcePtr();
        if (source && source->IsParsed() && QFileInfo(source->FilePath(0)).absoluteFilePath() == absolute)
        {
            ids.append(item->Id());
        }
    }
    for (QUuid const& id : std::as_const(ids))
    {
        TimelineItem* item = mProject.SourceTimelines().value(id);
        if (!item)
        {
            continue;
        }
        Logger::GetInstance()->Info(QStringLiteral("Reloading Source: %1").arg(item->SourcePtr()->MediaPath()));
        Replace(item, {path});
    }
}

void SourceParseQueue::RelinkMissingSources()
{
    QList<QUuid> missing;
    for (TimelineItem* item : mProject.SourceTimelines())
    {
        Source const* source = item->SourcePtr();
        if (source && source->ErrorCode() == 1)
        {
            missing.append(item->Id());
        }
    }
    for (QUuid const& id : std::as_const(missing))
    {
        TimelineItem* item = mProject.SourceTimelines().value(id);
        if (!item || !item->SourcePtr())
        {
            continue;
        }
        QString const absolute = FileHelpers::AbsoluteSourcePath(item->SourcePtr()->RelativeMediaPath());
        QList<QString> paths;
        if (FileHelpers::ParseMediaPath(absolute, paths) && !paths.isEmpty())
        {
            Replace(item, paths);
        }
    }
}

void SourceParseQueue::Wait()
{
    // A call made while another waits (a reload during a parse) adds its batch
    // to the same queue and waits with it.
    if (mWaitDepth++ == 0)
    {
        mInProgress = true;
        emit mProject.ParseSourceActiveStateChanged(true);
    }
    if (!Empty())
    {
        // A nested loop, because adding sources returns only once they are
        // parsed (importing a file, opening a project: their callers go on
        // with the parsed sources) while the parse results arrive as queued
        // calls on this thread. It spins no time slice: CheckParseQueueDrained
        // quits it the moment the last batch is finished, and the parse timer
        // fails a batch that makes no progress, so it always ends. The user
        // interface takes no input meanwhile (ParseSourceActiveStateChanged).
        QPointer<SourceParseQueue> self(this);
        QEventLoop loop;
        mWaitLoops.append(&loop);
        loop.exec();
        if (!self)
        {
            return;
        }
        mWaitLoops.removeOne(&loop);
    }
    if (--mWaitDepth == 0)
    {
        mInProgress = false;
        emit mProject.ParseSourceActiveStateChanged(false);
    }
}

bool SourceParseQueue::Empty() const
{
    return mActiveParseList.isEmpty() && mParseWaitQueue.isEmpty();
}

void SourceParseQueue::CheckDrained()
{
    if (!Empty())
    {
        return;
    }
    mTimer.stop();
    for (QEventLoop* loop : std::as_const(mWaitLoops))
    {
        loop->quit();
    }
}

void SourceParseQueue::ParseAdded()
{
    if (!mNewParseList.isEmpty())
    {
        mParseWaitQueue.append(mNewParseList);
        mNewParseList.clear();
        StartNextBatch();
    }
    Wait();
}

void SourceParseQueue::StartNextBatch()
{
    if (mParseWaitQueue.isEmpty() || !mActiveParseList.isEmpty())
    {
        CheckDrained();
        return;
    }
    mActiveParseList = mParseWaitQueue.takeFirst();
    mTimer.start(sTimeoutMs);
    // An engine may answer at once, finishing entries while this loop runs:
    // ask only for entries that are still waiting.
    QList<QPointer<TimelineItem>> items;
    for (ParseListEntry const& entry : std::as_const(mActiveParseList))
    {
        items.append(entry.item);
    }
    for (QPointer<TimelineItem> const& item : std::as_const(items))
    {
        bool const waiting = item && std::any_of(mActiveParseList.cbegin(), mActiveParseList.cend(),
                                                 [&item](ParseListEntry const& entry) {
                                                     return entry.item == item && !entry.parsed;
                                                 });
        if (waiting)
        {
            emit mProject.ParseSourceRequested(item);
        }
    }
}

void SourceParseQueue::OnSourceParsed(QUuid const& id)
{
    if (mActiveParseList.isEmpty())
    {
        Logger::GetInstance()->Error(QStringLiteral("Sourced parsed when active parsing list is empty."));
        StartNextBatch();
        return;
    }
    auto entry = std::find_if(mActiveParseList.begin(), mActiveParseList.end(),
                              [&id](ParseListEntry const& e) { return e.item->Id() == id && !e.parsed; });
    if (entry == mActiveParseList.end())
    {
        StartNextBatch();
        return;
    }
    entry->parsed = true;
    // Progress: the time-out counts from the last finished parse.
    mTimer.start(sTimeoutMs);
    FinishParsedEntries();
    StartNextBatch();
}

void SourceParseQueue::OnTimeout()
{
    if (mActiveParseList.isEmpty())
    {
        return;
    }
    // Every source of the batch still unparsed fails; the parsed ones behind
    // them are then finished in order.
    for (int i = static_cast<int>(mActiveParseList.size()) - 1; i >= 0; --i)
    {
        if (mActiveParseList.at(i).parsed)
        {
            continue;
        }
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to parse source in time: %1").arg(mActiveParseList.at(i).data.path));
        if (mActiveParseList.at(i).data.playbackFrame >= 0 && mActiveParseList.at(i).data.replaceSourceId.isNull())
        {
            // A source read from a file stays, unopened, with everything the
            // file said of it (cuts, ranges, bookmarks, the clips that use
            // it), so that a save writes it back.
            ParseListEntry& entry = mActiveParseList[i];
            TimelineItem* standIn = MakeUnopenedStandIn(entry);
            DiscardFailedItem(entry.item, true);
            entry.item = standIn;
            entry.parsed = true;
            continue;
        }
        ParseListEntry const entry = mActiveParseList.takeAt(i);
        // A replacement that fails leaves the old source where it is: it is
        // taken out only when its successor is finished.
        DiscardFailedItem(entry.item, true);
    }
    FinishParsedEntries();
    StartNextBatch();
}

void SourceParseQueue::DiscardFailedItem(TimelineItem* item, bool parseMayBeRunning)
{
    mProject.DisconnectSourceTimelineItem(item);
    if (FolderItem* parent = mProject.ParentFolderOf(item))
    {
        // Only this very item leaves; a replaced item beside it under the same
        // id stays.
        parent->RemoveProjectItem(item);
    }
    if (mProject.SourceTimelines().value(item->Id()) == item)
    {
        mProject.RemoveSourceTimelineItemFromMap(item->Id());
    }
    if (parseMayBeRunning)
    {
        mAbandonedIds.insert(item->Id());
        emit mProject.SourceParseAbandoned(item);
    }
    if (parseMayBeRunning && !mProject.HasItemReleaser())
    {
        item->setParent(&mProject);
        mAbandonedItems.append(item);
    }
    else
    {
        mProject.ReleaseItem(item);
    }
    emit mProject.ProjectUpdated();
}

void SourceParseQueue::FinishParsedEntries()
{
    bool handled = false;
    while (!mActiveParseList.isEmpty())
    {
        if (!mActiveParseList.first().parsed)
        {
            break;
        }
        handled = FinishParsed(mActiveParseList.takeFirst()) || handled;
    }
    if (handled)
    {
        emit mProject.ProjectUpdated();
    }
    CheckDrained();
}

bool SourceParseQueue::FinishParsed(ParseListEntry const& entry)
{
    TimelineItem* item = entry.item;
    ParseSourceData const& data = entry.data;

    TimelineItem* oldItem = nullptr;
    if (!data.replaceSourceId.isNull())
    {
        oldItem = mProject.SourceTimelines().value(data.replaceSourceId);
        if (oldItem)
        {
            mProject.RemoveSourceTimeline(data.replaceSourceId);
        }
    }
    mProject.InsertSourceTimelineItemInMap(item);
    Clip* clip = item->SourceClip();
    Source* source = item->SourcePtr();
    if (!clip || !source)
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to create source object from file: %1").arg(data.path));
        if (oldItem)
        {
            PutBackReplacedItem(oldItem, item);
        }
        DiscardFailedItem(item, false);
        return false;
    }
    if (data.playbackFrame >= 0)
    {
        RestoreStoredState(item, data);
        mProject.HeldStates().HoldIfMediaMissing(item, data.playbackFrame, data.cutInFrame, data.cutOutFrame);
    }
    else
    {
        mProject.HeldStates().Forget(item->Id());
    }
    for (PendingBookmarks pending : TakePendingBookmarks(item->Id()))
    {
        if (pending.clipIndex < 0)
        {
            if (!pending.bookmarks.isEmpty())
            {
                item->TimelinePtr()->SetBackgroundFrameBookmark(pending.bookmarks.takeFirst());
            }
            qDeleteAll(pending.bookmarks);
        }
        else
        {
            clip->SetFrameBookmarks(pending.bookmarks);
        }
    }
    if (data.addToRecentFiles && !source->HasErrors())
    {
        FileHelpers::AddRecentFile(data.path);
    }
    if (oldItem && oldItem->TimelinePtr() && oldItem->SourcePtr())
    {
        TakeOverReplacedSource(oldItem, item);
        mProject.ReleaseItem(oldItem);
    }
    return true;
}

void SourceParseQueue::RestoreStoredState(TimelineItem* item, ParseSourceData const& data)
{
    Timeline* timeline = item->TimelinePtr();
    Source* source = item->SourcePtr();
    timeline->SetPlaybackFrame(data.playbackFrame);
    timeline->SetPlaybackRangeByFrame(data.cutInFrame, data.cutOutFrame);
    source->SetCutInFrame(data.cutInFrame);
    source->SetCutOutFrame(data.cutOutFrame);
    source->SetAudioDelay(data.audioDelay);
    timeline->SetPanAndZoom(QPointF(data.panX, data.panY), data.zoom, data.panZoomEnabled);
    timeline->SetHoldAnnotationFramesEnabled(data.holdAnnotations);
    timeline->InsertRangeBookmarks(data.rangeBookmarks);
}

TimelineItem* SourceParseQueue::MakeUnopenedStandIn(ParseListEntry const& entry)
{
    ParseSourceData const& data = entry.data;
    auto* timeline = new Timeline(data.path, data.relativePath, entry.item->Id());
    auto* standIn = new TimelineItem(timeline, data.name);
    standIn->SetId(entry.item->Id());
    if (Source* source = standIn->SourcePtr())
    {
        source->SetErrorCode(2);
        source->SetParsed(true);
    }
    mProject.ConnectSourceTimelineItem(standIn);
    FolderItem* folder = mProject.ParentFolderOf(entry.item);
    int const index = folder ? folder->ProjectItemIndex(entry.item) : -1;
    if (!folder)
    {
        folder = mProject.SourceTimelineFolder();
    }
    folder->InsertProjectItem(standIn, index);
    return standIn;
}

void SourceParseQueue::TakeOverReplacedSource(TimelineItem* oldItem, TimelineItem* item)
{
    QUuid const oldSourceId = oldItem->SourcePtr()->Id();
    for (TimelineItem* user : mProject.FindTimelinesContainingSource(oldSourceId))
    {
        Timeline* timeline = user->TimelinePtr();
        HeldTimelineState const* heldNow = mProject.HeldStates().InEffect(user);
        std::optional<HeldTimelineState> const held =
            heldNow ? std::optional<HeldTimelineState>(*heldNow) : std::nullopt;
        long long const time = timeline->PlaybackTime();
        int const rangeStart = timeline->PlaybackRangeStartFrame();
        int const rangeEnd = timeline->PlaybackRangeEndFrameUnresolved();
        int const output = timeline->OutputId();
        if (output >= 0)
        {
            emit mProject.OpenInViewerReplaceRequested(QUuid(), output);
        }
        for (int index : timeline->ClipIndiciesWithSource(oldSourceId))
        {
            Clip* duplicate = item->SourceClip()->Duplicate(nullptr, false);
            Clip* oldClip = timeline->RemoveClipAtIndex(index, false);
            if (oldClip)
            {
                duplicate->SetId(oldClip->Id());
                QList<FrameBookmark*> bookmarks;
                oldClip->RemoveAllFrameBookmarks(bookmarks);
                if (!bookmarks.isEmpty())
                {
                    duplicate->SetFrameBookmarks(bookmarks);
                }
                delete oldClip;
            }
            timeline->InsertClipAtIndex(duplicate, index, false);
        }
        timeline->SetPlaybackTime(time);
        timeline->SetPlaybackRangeByFrame(rangeStart, rangeEnd);
        if (held)
        {
            // The file's values come back as far as the media now allows.
            mProject.HeldStates().Reapply(user, *held);
        }
        if (output >= 0)
        {
            emit mProject.OpenInViewerReplaceRequested(user->Id(), output);
        }
    }

    Timeline* oldTimeline = oldItem->TimelinePtr();
    Timeline* timeline = item->TimelinePtr();
    item->SourceClip()->SetId(oldItem->SourceClip()->Id());
    timeline->SetBackgroundFrameBookmark(oldTimeline->TakeBackgroundFrameBookmark());
    QList<FrameBookmark*> bookmarks;
    oldItem->SourceClip()->RemoveAllFrameBookmarks(bookmarks);
    if (!bookmarks.isEmpty())
    {
        item->SourceClip()->SetFrameBookmarks(bookmarks);
    }
    QList<QPair<int, int>> ranges;
    for (RangeBookmark const* range : oldTimeline->RangeBookmarkList())
    {
        ranges.append({range->startFrame, range->endFrame});
    }
    timeline->InsertRangeBookmarks(ranges);
    if (oldTimeline->OutputId() >= 0)
    {
        emit mProject.OpenInViewerReplaceRequested(item->Id(), oldTimeline->OutputId());
    }
    for (TimelineItem* user : mProject.FindTimelinesWithAudioOverride(oldSourceId))
    {
        if (user->TimelinePtr()->OutputId() >= 0)
        {
            emit mProject.OpenInViewerReplaceRequested(user->Id(), user->TimelinePtr()->OutputId());
        }
    }
}

void SourceParseQueue::PutBackReplacedItem(TimelineItem* oldItem, TimelineItem* failedItem)
{
    FolderItem* folder = mProject.ParentFolderOf(failedItem);
    int const index = folder ? folder->ProjectItemIndex(failedItem) : -1;
    if (!folder)
    {
        folder = mProject.FindFolderById(oldItem->ParentId());
    }
    if (!folder)
    {
        folder = mProject.SourceTimelineFolder();
    }
    mProject.ConnectSourceTimelineItem(oldItem);
    folder->InsertProjectItem(oldItem, index);
    mProject.InsertSourceTimelineItemInMap(oldItem);
}

void SourceParseQueue::Replace(TimelineItem* item, QList<QString> const& paths)
{
    if (!item)
    {
        return;
    }
    if (mReplacing)
    {
        mPendingReplacements.append({item->Id(), paths});
        return;
    }
    QList<QString> const built = FileHelpers::BuildImageSequencePaths(paths);
    Timeline* timeline = item->TimelinePtr();
    Source* source = item->SourcePtr();
    if (built.isEmpty() || !timeline || !source)
    {
        return;
    }
    emit mProject.PausePlaybackRequested();

    ParseSourceData data;
    data.id = source->Id();
    data.parentId = item->ParentId();
    FolderItem* folder = mProject.ParentFolderOf(item);
    data.index = folder ? folder->ProjectItemIndex(item) : -1;
    data.path = built.first();
    data.name = item->Name() != source->MediaName() ? item->Name() : QString();
    data.playbackFrame = std::max(timeline->PlaybackFrame(), 0);
    data.cutInFrame = source->IsFullRange() ? 0 : source->CutInFrame();
    data.cutOutFrame = source->IsFullRange() ? -1 : source->CutOutFrame();
    if (HeldTimelineState const* held = mProject.HeldStates().InEffect(item))
    {
        // Read without its media: what the file said is what the media gets.
        data.playbackFrame = held->playbackFrame;
        data.cutInFrame = held->rangeStartFrame;
        data.cutOutFrame = held->rangeEndFrame;
    }
    data.audioDelay = source->AudioDelay();
    data.panX = timeline->PanInterpolation().x();
    data.panY = timeline->PanInterpolation().y();
    data.zoom = timeline->ZoomFactor();
    data.panZoomEnabled = timeline->IsPanAndZoomEnabled();
    data.holdAnnotations = timeline->HoldAnnotationFramesEnabled();
    data.addToDefaultTimeline = false;
    data.replaceSourceId = item->Id();

    // No decoder may read the old source while it is replaced: every output
    // that shows it (directly, in an edit timeline or as an audio override)
    // is emptied first and reopened afterwards.
    QList<QPair<QUuid, int>> outputs;
    auto collect = [&outputs](TimelineItem* user) {
        int const output = user->TimelinePtr() ? user->TimelinePtr()->OutputId() : -1;
        if (output >= 0 && !outputs.contains(qMakePair(user->Id(), output)))
        {
            outputs.append({user->Id(), output});
        }
    };
    collect(item);
    for (TimelineItem* user : mProject.FindTimelinesContainingSource(source->Id()))
    {
        collect(user);
    }
    for (TimelineItem* user : mProject.FindTimelinesWithAudioOverride(source->Id()))
    {
        collect(user);
    }
    for (auto const& output : std::as_const(outputs))
    {
        emit mProject.OpenInViewerReplaceRequested(QUuid(), output.second);
    }

    // The old source stays whole until its successor is finished, so that a
    // replacement that fails can put it back as it was.
    QPointer<SourceParseQueue> self(this);
    mReplacing = true;
    QList<ParseSourceData> list {data};
    mProject.AddSourceTimelines(list);
    if (!self)
    {
        return;
    }
    mReplacing = false;

    for (auto const& output : std::as_const(outputs))
    {
        if (mProject.FindTimelineById(output.first, true))
        {
            emit mProject.OpenInViewerReplaceRequested(output.first, output.second);
        }
    }
    while (!mPendingReplacements.isEmpty())
    {
        auto const pending = mPendingReplacements.takeFirst();
        if (TimelineItem* next = mProject.SourceTimelines().value(pending.first))
        {
            Replace(next, pending.second);
        }
    }
}
