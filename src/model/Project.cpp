#include "model/Project.h"

#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/PrivateIniCopy.h"
#include "app/Settings.h"
#include "app/UserFileGuard.h"
#include "media/AvHelpers.h"
#include "model/Clip.h"
#include "model/FrameBookmark.h"
#include "model/RangeBookmark.h"
#include "model/Source.h"
#include "model/StrokeDataCodec.h"
#include "model/Timeline.h"

#include "model/ClipType.h"
#include "model/StrokeData.h"
#include "model/Track.h"

#include <QMetaType>
#include <QVariant>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QSettings>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

int Project::sParseTimeoutMs = Project::DEFAULT_PARSE_TIMEOUT_MS;

Project::Project(QObject* parent)
    : QObject(parent)
    , mFileWatcher(new QFileSystemWatcher(this))
{
    mTopLevelFolders.append(new FolderItem(FolderItemType::ProjectFolder, Settings::projectFolderName, this));
    mTopLevelFolders.append(new FolderItem(FolderItemType::SourcesFolder, Settings::sourcesFolderName, this));
    mTopLevelFolders.append(new FolderItem(FolderItemType::TimelinesFolder, Settings::timelinesFolderName, this));
    for (FolderItem* folder : std::as_const(mTopLevelFolders))
    {
        folder->SetExpanded(true);
    }
    if (!Settings::projectPath.isEmpty())
    {
        Settings::projectPath.clear();
        UpdateSourceRelativePaths();
        emit ProjectPathChanged(QString());
    }
    if (Settings::sourceRootDirPath != Settings::defaultSourceRootDirPath)
    {
        Settings::sourceRootDirPath = Settings::defaultSourceRootDirPath;
        emit SourceRootDirPathChanged(Settings::sourceRootDirPath);
    }
    double const rate = std::clamp(Settings::defaultImageSequenceFrameRate, Settings::MINIMUM_IMAGE_SEQUENCE_FRAME_RATE,
                                   Settings::MAXIMUM_IMAGE_SEQUENCE_FRAME_RATE);
    if (rate != Settings::imageSequenceFrameRate)
    {
        Settings::imageSequenceFrameRate = rate;
        emit ImageSequenceFrameRateChanged();
    }
    SetTimeControlFrameOffset(Settings::defaultTimeControlFrameOffset);
    connect(mFileWatcher, &QFileSystemWatcher::fileChanged, this, &Project::ReloadWatchedSource);

    mParseTimer.setSingleShot(true);
    connect(&mParseTimer, &QTimer::timeout, this, &Project::OnParseTimeout);
}

Project::~Project()
{
    // Wake any wait still spinning, so it does not outlive the project.
    for (QEventLoop* loop : std::as_const(mParseWaitLoops))
    {
        loop->quit();
    }
    ClearPendingBookmarks();
}

void Project::ReleaseItem(ProjectItem* item)
{
    if (!item)
    {
        return;
    }
    if (mItemReleaser)
    {
        item->setParent(nullptr);
        mItemReleaser(item);
        return;
    }
    delete item;
}

void Project::SetItemReleaser(std::function<void(ProjectItem*)> releaser)
{
    mItemReleaser = std::move(releaser);
}

void Project::SetParseTimeout(int milliseconds)
{
    sParseTimeoutMs = std::max(milliseconds, 1);
}

int Project::ParseTimeout()
{
    return sParseTimeoutMs;
}

// ---- Settings kept in Settings ----

void Project::SetProjectPath(QString const& path)
{
    if (path == Settings::projectPath)
    {
        return;
    }
    Settings::projectPath = path;
    UpdateSourceRelativePaths();
    emit ProjectPathChanged(path);
}

QString Project::ProjectName() const
{
    return Settings::projectPath.isEmpty() ? QStringLiteral("untitled")
                                           : QFileInfo(Settings::projectPath).completeBaseName();
}

void Project::SetSourceRootDirPath(QString const& path, bool relink)
{
    if (path == Settings::sourceRootDirPath)
    {
        return;
    }
    Settings::sourceRootDirPath = path;
    if (!relink)
    {
        emit SourceRootDirPathChanged(path);
        return;
    }
    QList<QUuid> missing;
    for (TimelineItem* item : std::as_const(mSourceTimelines))
    {
        Source const* source = item->SourcePtr();
        if (source && source->ErrorCode() == 1)
        {
            missing.append(item->Id());
        }
    }
    for (QUuid const& id : std::as_const(missing))
    {
        TimelineItem* item = mSourceTimelines.value(id);
        if (!item || !item->SourcePtr())
        {
            continue;
        }
        QString const absolute = FileHelpers::AbsoluteSourcePath(item->SourcePtr()->RelativeMediaPath());
        QList<QString> paths;
        if (FileHelpers::ParseMediaPath(absolute, paths) && !paths.isEmpty())
        {
            ReplaceSource(item, paths);
        }
    }
    UpdateSourceRelativePaths();
    emit SourceRootDirPathChanged(path);
}

void Project::SetImageSequenceFrameRate(double rate)
{
    double const clamped =
        std::clamp(rate, Settings::MINIMUM_IMAGE_SEQUENCE_FRAME_RATE, Settings::MAXIMUM_IMAGE_SEQUENCE_FRAME_RATE);
    if (clamped != Settings::imageSequenceFrameRate)
    {
        Settings::imageSequenceFrameRate = clamped;
        emit ImageSequenceFrameRateChanged();
    }
}

double Project::ImageSequenceFrameRate() const
{
    return Settings::imageSequenceFrameRate;
}

void Project::SetTimeControlFrameOffset(int offset)
{
    offset = std::max(offset, 0);
    if (offset == Settings::timeControlFrameOffset)
    {
        return;
    }
    Settings::timeControlFrameOffset = offset;
    for (TimelineItem* item : std::as_const(mTimelines))
    {
        item->TimelinePtr()->ProcessProjectTimeControlOffsetChange();
    }
    for (TimelineItem* item : std::as_const(mSourceTimelines))
    {
        item->TimelinePtr()->ProcessProjectTimeControlOffsetChange();
    }
}

int Project::TimeControlFrameOffset() const
{
    return Settings::timeControlFrameOffset;
}

void Project::SetNotes(QString const& notes)
{
    mNotes = notes;
}

QString Project::Notes() const
{
    return mNotes;
}

// ---- Folders ----

FolderItem* Project::FolderForFolder(QUuid const& parentId) const
{
    FolderItem* parent = FindFolderById(parentId);
    if (parent && parent->FolderType() == FolderItemType::ProjectFolder)
    {
        return parent;
    }
    return ProjectFolder();
}

FolderItem* Project::FolderForTimeline(QUuid const& parentId) const
{
    FolderItem* parent = FindFolderById(parentId);
    if (parent && parent->FolderType() != FolderItemType::SourcesFolder)
    {
        return parent;
    }
    return TimelineFolder();
}

FolderItem* Project::FolderForSourceTimeline(QUuid const& parentId) const
{
    FolderItem* parent = FindFolderById(parentId);
    if (parent && parent->FolderType() != FolderItemType::TimelinesFolder)
    {
        return parent;
    }
    return SourceTimelineFolder();
}

FolderItem* Project::ParentFolderOf(ProjectItem* item) const
{
    return item ? FindFolderById(item->ParentId()) : nullptr;
}

FolderItem* Project::AddFolder(QString const& name, QUuid const& parentId, bool expand)
{
    auto* folder = new FolderItem(FolderItemType::ProjectFolder, name);
    FolderItem* parent = FolderForFolder(parentId);
    parent->InsertProjectItem(folder, -1);
    if (expand)
    {
        parent->SetExpanded(true);
    }
    emit ProjectUpdated();
    return folder;
}

void Project::InsertFolder(FolderItem* folder, QUuid const& parentId, int index)
{
    if (!folder)
    {
        return;
    }
    FolderForFolder(parentId)->InsertProjectItem(folder, index);
    emit ProjectUpdated();
}

void Project::RemoveFolder(QUuid const& id)
{
    FolderItem* folder = FindFolderById(id);
    if (!folder)
    {
        return;
    }
    if (FolderItem* parent = ParentFolderOf(folder))
    {
        parent->RemoveProjectItem(folder);
    }
    emit ProjectUpdated();
}

FolderItem* Project::FindFolderById(QUuid const& id) const
{
    ProjectItem* item = FindItemById(id);
    return item && item->ItemType() == ProjectItemType::Folder ? static_cast<FolderItem*>(item) : nullptr;
}

FolderItem* Project::ProjectFolder() const
{
    for (FolderItem* folder : mTopLevelFolders)
    {
        if (folder->FolderType() == FolderItemType::ProjectFolder)
        {
            return folder;
        }
    }
    return nullptr;
}

FolderItem* Project::SourceTimelineFolder() const
{
    for (FolderItem* folder : mTopLevelFolders)
    {
        if (folder->FolderType() == FolderItemType::SourcesFolder)
        {
            return folder;
        }
    }
    return nullptr;
}

FolderItem* Project::TimelineFolder() const
{
    for (FolderItem* folder : mTopLevelFolders)
    {
        if (folder->FolderType() == FolderItemType::TimelinesFolder)
        {
            return folder;
        }
    }
    return nullptr;
}

void Project::TopLevelFolderIds(QList<QUuid>& ids) const
{
    ids.clear();
    for (FolderItem const* folder : mTopLevelFolders)
    {
        ids.append(folder->Id());
    }
}

void Project::ChildFolders(FolderItem* folder, QList<FolderItem*>& folders) const
{
    if (!folder)
    {
        return;
    }
    // Pre-order without recursion: a tree may be deeper than the stack.
    QList<FolderItem*> pending {folder};
    while (!pending.isEmpty())
    {
        FolderItem* current = pending.takeLast();
        if (current != folder)
        {
            folders.append(current);
        }
        QList<FolderItem*> children;
        current->ChildFolders(children);
        for (auto it = children.crbegin(); it != children.crend(); ++it)
        {
            pending.append(*it);
        }
    }
}

QList<FolderItem*> Project::TopLevelFolders() const
{
    return mTopLevelFolders;
}

// ---- Edit timelines ----

TimelineItem* Project::AddTimeline(QString const& name, QUuid const& parentId, bool expand, QUuid id, int index)
{
    auto* item = new TimelineItem(nullptr, name);
    item->SetId(id);
    connect(item, &TimelineItem::TimelineUpdated, this, &Project::OnTimelineUpdated);
    FolderItem* parent = FolderForTimeline(parentId);
    parent->InsertProjectItem(item, index);
    if (expand)
    {
        parent->SetExpanded(true);
    }
    mTimelines.insert(item->Id(), item);
    emit ProjectUpdated();
    return item;
}

void Project::InsertTimeline(TimelineItem* item, QUuid const& parentId, int index)
{
    if (!item)
    {
        return;
    }
    connect(item, &TimelineItem::TimelineUpdated, this, &Project::OnTimelineUpdated, Qt::UniqueConnection);
    FolderForTimeline(parentId)->InsertProjectItem(item, index);
    mTimelines.insert(item->Id(), item);
    emit ProjectUpdated();
}

void Project::RemoveTimeline(QUuid const& id)
{
    TimelineItem* item = mTimelines.value(id);
    if (!item)
    {
        return;
    }
    disconnect(item, &TimelineItem::TimelineUpdated, this, &Project::OnTimelineUpdated);
    if (FolderItem* parent = ParentFolderOf(item))
    {
        parent->RemoveProjectItem(item);
    }
    else
    {
        item->setParent(nullptr);
    }
    mTimelines.remove(id);
    emit ProjectUpdated();
}

QMap<QUuid, TimelineItem*> const& Project::Timelines() const
{
    return mTimelines;
}

void Project::OnTimelineUpdated(QUuid const& id)
{
    emit TimelineUpdated(id);
}

// ---- Source timelines ----

void Project::ConnectSourceTimelineItem(TimelineItem* item)
{
    connect(item, &TimelineItem::TimelineUpdated, this, &Project::OnTimelineUpdated, Qt::UniqueConnection);
    connect(item, &TimelineItem::SourceParsed, this, &Project::OnSourceParsed, Qt::UniqueConnection);
}

void Project::DisconnectSourceTimelineItem(TimelineItem* item)
{
    disconnect(item, &TimelineItem::TimelineUpdated, this, &Project::OnTimelineUpdated);
    disconnect(item, &TimelineItem::SourceParsed, this, &Project::OnSourceParsed);
}

void Project::AddSourceTimeline(ParseSourceData& data)
{
    if (data.path.isEmpty())
    {
        return;
    }
    auto* timeline = new Timeline(data.path, data.relativePath, data.id);
    if (timeline->SourcePtr())
    {
        data.id = timeline->SourcePtr()->Id();
    }
    auto* item = new TimelineItem(timeline, data.name);
    item->SetId(data.id);
    ConnectSourceTimelineItem(item);
    FolderItem* folder = FindFolderById(data.parentId);
    if (!folder || folder->FolderType() == FolderItemType::TimelinesFolder)
    {
        folder = SourceTimelineFolder();
        data.index = -1;
    }
    folder->InsertProjectItem(item, data.index);
    if (data.expandParent)
    {
        folder->SetExpanded(true);
    }
    mNewParseList.append(ParseListEntry {item, data, false});
}

void Project::AddSourceTimelines(QList<ParseSourceData>& dataList)
{
    for (ParseSourceData& data : dataList)
    {
        AddSourceTimeline(data);
    }
    AddParseListToQueue();
    WaitForParseQueue();
}

void Project::WaitForParseQueue()
{
    // A call made while another waits (a reload during a parse) adds its batch
    // to the same queue and waits with it.
    if (mParseWaitDepth++ == 0)
    {
        mSourceParsingInProgress = true;
        emit ParseSourceActiveStateChanged(true);
    }
    if (!ParseQueueEmpty())
    {
        // A nested loop, because adding sources returns only once they are
        // parsed (importing a file, opening a project: their callers go on
        // with the parsed sources) while the parse results arrive as queued
        // calls on this thread. It spins no time slice: CheckParseQueueDrained
        // quits it the moment the last batch is finished, and the parse timer
        // fails a batch that makes no progress, so it always ends. The user
        // interface takes no input meanwhile (ParseSourceActiveStateChanged).
        QPointer<Project> self(this);
        QEventLoop loop;
        mParseWaitLoops.append(&loop);
        loop.exec();
        if (!self)
        {
            return;
        }
        mParseWaitLoops.removeOne(&loop);
    }
    if (--mParseWaitDepth == 0)
    {
        mSourceParsingInProgress = false;
        emit ParseSourceActiveStateChanged(false);
    }
}

bool Project::ParseQueueEmpty() const
{
    return mActiveParseList.isEmpty() && mParseWaitQueue.isEmpty();
}

void Project::CheckParseQueueDrained()
{
    if (!ParseQueueEmpty())
    {
        return;
    }
    mParseTimer.stop();
    for (QEventLoop* loop : std::as_const(mParseWaitLoops))
    {
        loop->quit();
    }
}

void Project::AddParseListToQueue()
{
    if (mNewParseList.isEmpty())
    {
        return;
    }
    mParseWaitQueue.append(mNewParseList);
    mNewParseList.clear();
    ProcessWaitForParseQueue();
}

void Project::ProcessWaitForParseQueue()
{
    if (mParseWaitQueue.isEmpty() || !mActiveParseList.isEmpty())
    {
        CheckParseQueueDrained();
        return;
    }
    mActiveParseList = mParseWaitQueue.takeFirst();
    mParseTimer.start(sParseTimeoutMs);
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
            emit ParseSourceRequested(item);
        }
    }
}

void Project::OnSourceParsed(QUuid const& id)
{
    if (mActiveParseList.isEmpty())
    {
        Logger::GetInstance()->Error(QStringLiteral("Sourced parsed when active parsing list is empty."));
        ProcessWaitForParseQueue();
        return;
    }
    auto entry = std::find_if(mActiveParseList.begin(), mActiveParseList.end(),
                              [&id](ParseListEntry const& e) { return e.item->Id() == id && !e.parsed; });
    if (entry == mActiveParseList.end())
    {
        ProcessWaitForParseQueue();
        return;
    }
    entry->parsed = true;
    // Progress: the time-out counts from the last finished parse.
    mParseTimer.start(sParseTimeoutMs);
    UpdateActiveParsingList();
    ProcessWaitForParseQueue();
}

void Project::OnParseTimeout()
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
    UpdateActiveParsingList();
    ProcessWaitForParseQueue();
}

void Project::DiscardFailedItem(TimelineItem* item, bool parseMayBeRunning)
{
    DisconnectSourceTimelineItem(item);
    if (FolderItem* parent = ParentFolderOf(item))
    {
        // Only this very item leaves; a replaced item beside it under the same
        // id stays.
        parent->RemoveProjectItem(item);
    }
    if (mSourceTimelines.value(item->Id()) == item)
    {
        RemoveSourceTimelineItemFromMap(item->Id());
    }
    if (parseMayBeRunning)
    {
        mAbandonedIds.insert(item->Id());
        emit SourceParseAbandoned(item);
    }
    if (parseMayBeRunning && !mItemReleaser)
    {
        item->setParent(this);
        mAbandonedItems.append(item);
    }
    else
    {
        ReleaseItem(item);
    }
    emit ProjectUpdated();
}

void Project::UpdateActiveParsingList()
{
    bool handled = false;
    while (!mActiveParseList.isEmpty())
    {
        if (!mActiveParseList.first().parsed)
        {
            break;
        }
        ParseListEntry const entry = mActiveParseList.takeFirst();
        TimelineItem* item = entry.item;
        ParseSourceData const& data = entry.data;

        TimelineItem* oldItem = nullptr;
        if (!data.replaceSourceId.isNull())
        {
            oldItem = mSourceTimelines.value(data.replaceSourceId);
            if (oldItem)
            {
                RemoveSourceTimeline(data.replaceSourceId);
            }
        }
        InsertSourceTimelineItemInMap(item);
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
            continue;
        }
        if (data.playbackFrame >= 0)
        {
            RestoreStoredState(item, data);
            HoldFileStateIfMediaMissing(item, data.playbackFrame, data.cutInFrame, data.cutOutFrame);
        }
        else
        {
            mHeldStates.remove(item->Id());
        }
        while (mPendingBookmarks.contains(item->Id()))
        {
            auto it = mPendingBookmarks.find(item->Id());
            PendingBookmarks pending = it.value();
            mPendingBookmarks.erase(it);
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
            ReleaseItem(oldItem);
        }
        handled = true;
    }
    if (handled)
    {
        emit ProjectUpdated();
    }
    CheckParseQueueDrained();
}

void Project::RestoreStoredState(TimelineItem* item, ParseSourceData const& data)
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

bool Project::HasMedia(Source const* source)
{
    return source && !source->HasErrors() && source->FrameCount() > 0;
}

bool Project::ItemHasMedia(TimelineItem const* item)
{
    Timeline const* timeline = item ? item->TimelinePtr() : nullptr;
    if (!timeline)
    {
        return false;
    }
    if (item->IsSourceTimeline())
    {
        return HasMedia(item->SourcePtr());
    }
    Track const* track = timeline->MasterTrack();
    for (int i = 0; track && i < track->ClipCount(); ++i)
    {
        Clip const* clip = track->ClipAtIndex(i);
        if (clip && clip->Type() == ClipType::Media && !HasMedia(clip->SourcePtr()))
        {
            return false;
        }
    }
    return true;
}

void Project::LiveFrameState(TimelineItem const* item, int& playbackFrame, int& start, int& end)
{
    Timeline const* timeline = item->TimelinePtr();
    playbackFrame = timeline->PlaybackFrame();
    Source const* source = item->IsSourceTimeline() ? item->SourcePtr() : nullptr;
    if (source)
    {
        start = source->CutInFrame();
        end = source->CutOutFrame() >= source->FrameCount() - 1 ? -1 : source->CutOutFrame();
    }
    else
    {
        start = timeline->PlaybackRangeStartFrame();
        end = timeline->PlaybackRangeEndFrame();
    }
}

void Project::SavedFrameState(TimelineItem const* item, int& playbackFrame, int& start, int& end) const
{
    LiveFrameState(item, playbackFrame, start, end);
    if (HeldTimelineState const* held = HeldStateInEffect(item))
    {
        playbackFrame = held->playbackFrame;
        start = held->rangeStartFrame;
        end = held->rangeEndFrame;
    }
}

void Project::HoldFileStateIfMediaMissing(TimelineItem* item, int playbackFrame, int start, int end)
{
    if (!item || !item->TimelinePtr() || ItemHasMedia(item))
    {
        mHeldStates.remove(item ? item->Id() : QUuid());
        return;
    }
    HeldTimelineState held;
    held.playbackFrame = playbackFrame;
    held.rangeStartFrame = start;
    held.rangeEndFrame = end;
    LiveFrameState(item, held.appliedPlaybackFrame, held.appliedRangeStartFrame, held.appliedRangeEndFrame);
    mHeldStates.insert(item->Id(), held);
}

HeldTimelineState const* Project::HeldStateInEffect(TimelineItem const* item) const
{
    auto const found = item ? mHeldStates.constFind(item->Id()) : mHeldStates.constEnd();
    if (found == mHeldStates.constEnd() || !item->TimelinePtr() || ItemHasMedia(item))
    {
        return nullptr;
    }
    int playbackFrame = 0;
    int start = 0;
    int end = -1;
    LiveFrameState(item, playbackFrame, start, end);
    bool const untouched = playbackFrame == found->appliedPlaybackFrame &&
                           start == found->appliedRangeStartFrame && end == found->appliedRangeEndFrame;
    return untouched ? &found.value() : nullptr;
}

void Project::ReapplyHeldState(TimelineItem* item, HeldTimelineState const& held)
{
    Timeline* timeline = item->TimelinePtr();
    timeline->SetPlaybackRangeByFrame(held.rangeStartFrame, held.rangeEndFrame);
    timeline->SetPlaybackFrame(held.playbackFrame);
    HoldFileStateIfMediaMissing(item, held.playbackFrame, held.rangeStartFrame, held.rangeEndFrame);
}

TimelineItem* Project::MakeUnopenedStandIn(ParseListEntry const& entry)
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
    ConnectSourceTimelineItem(standIn);
    FolderItem* folder = ParentFolderOf(entry.item);
    int const index = folder ? folder->ProjectItemIndex(entry.item) : -1;
    if (!folder)
    {
        folder = SourceTimelineFolder();
    }
    folder->InsertProjectItem(standIn, index);
    return standIn;
}

void Project::TakeOverReplacedSource(TimelineItem* oldItem, TimelineItem* item)
{
    QUuid const oldSourceId = oldItem->SourcePtr()->Id();
    for (TimelineItem* user : FindTimelinesContainingSource(oldSourceId))
    {
        Timeline* timeline = user->TimelinePtr();
        HeldTimelineState const* heldNow = HeldStateInEffect(user);
        std::optional<HeldTimelineState> const held =
            heldNow ? std::optional<HeldTimelineState>(*heldNow) : std::nullopt;
        long long const time = timeline->PlaybackTime();
        int const rangeStart = timeline->PlaybackRangeStartFrame();
        int const rangeEnd = timeline->PlaybackRangeEndFrameUnresolved();
        int const output = timeline->OutputId();
        if (output >= 0)
        {
            emit OpenInViewerReplaceRequested(QUuid(), output);
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
            ReapplyHeldState(user, *held);
        }
        if (output >= 0)
        {
            emit OpenInViewerReplaceRequested(user->Id(), output);
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
        emit OpenInViewerReplaceRequested(item->Id(), oldTimeline->OutputId());
    }
    for (TimelineItem* user : FindTimelinesWithAudioOverride(oldSourceId))
    {
        if (user->TimelinePtr()->OutputId() >= 0)
        {
            emit OpenInViewerReplaceRequested(user->Id(), user->TimelinePtr()->OutputId());
        }
    }
}

void Project::PutBackReplacedItem(TimelineItem* oldItem, TimelineItem* failedItem)
{
    FolderItem* folder = ParentFolderOf(failedItem);
    int const index = folder ? folder->ProjectItemIndex(failedItem) : -1;
    if (!folder)
    {
        folder = FindFolderById(oldItem->ParentId());
    }
    if (!folder)
    {
        folder = SourceTimelineFolder();
    }
    ConnectSourceTimelineItem(oldItem);
    folder->InsertProjectItem(oldItem, index);
    InsertSourceTimelineItemInMap(oldItem);
}

void Project::InsertSourceTimeline(TimelineItem* item, QUuid const& parentId, int index)
{
    if (!item || !item->IsSourceTimeline())
    {
        return;
    }
    ConnectSourceTimelineItem(item);
    FolderForSourceTimeline(parentId)->InsertProjectItem(item, index);
    InsertSourceTimelineItemInMap(item);
    // Its file may have changed while it was out of the project: it is read
    // again, and the item, its source and its clips are replaced by ones under
    // the same ids (the undo commands find them by id).
    QPointer<Project> self(this);
    RefreshSource(item);
    if (self)
    {
        emit ProjectUpdated();
    }
}

void Project::RemoveSourceTimeline(QUuid const& id)
{
    TimelineItem* item = mSourceTimelines.value(id);
    if (!item)
    {
        return;
    }
    DisconnectSourceTimelineItem(item);
    if (FolderItem* parent = ParentFolderOf(item))
    {
        parent->RemoveProjectItem(item);
    }
    else
    {
        item->setParent(nullptr);
    }
    RemoveSourceTimelineItemFromMap(id);
    emit ProjectUpdated();
}

void Project::InsertSourceTimelineItemInMap(TimelineItem* item)
{
    if (!item)
    {
        return;
    }
    Source const* source = item->SourcePtr();
    if (source && !source->IsImageSequence())
    {
        QString const path = source->FilePath(0);
        if (!path.isEmpty() && QFileInfo::exists(path) && !mFileWatcher->files().contains(path))
        {
            mFileWatcher->addPath(path);
        }
    }
    mSourceTimelines.insert(item->Id(), item);
}

void Project::RemoveSourceTimelineItemFromMap(QUuid const& id)
{
    TimelineItem* item = mSourceTimelines.value(id);
    if (item && item->SourcePtr())
    {
        QString const path = item->SourcePtr()->FilePath(0);
        bool const shared = std::any_of(mSourceTimelines.cbegin(), mSourceTimelines.cend(), [&](TimelineItem* other) {
            return other != item && other->SourcePtr() && other->SourcePtr()->HasFilePath(path);
        });
        if (!shared && mFileWatcher->files().contains(path))
        {
            mFileWatcher->removePath(path);
        }
    }
    mSourceTimelines.remove(id);
}

TimelineItem* Project::FindSourceTimelineById(QUuid const& id) const
{
    return mSourceTimelines.value(id);
}

QMap<QUuid, TimelineItem*> const& Project::SourceTimelines() const
{
    return mSourceTimelines;
}

void Project::RefreshSource(TimelineItem* item)
{
    if (item && item->SourcePtr())
    {
        ReplaceSource(item, item->SourcePtr()->FilePaths());
    }
}

void Project::ReplaceSource(TimelineItem* item, QList<QString> const& paths)
{
    if (!item)
    {
        return;
    }
    if (mReplacingSource)
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
    emit PausePlaybackRequested();

    ParseSourceData data;
    data.id = source->Id();
    data.parentId = item->ParentId();
    FolderItem* folder = ParentFolderOf(item);
    data.index = folder ? folder->ProjectItemIndex(item) : -1;
    data.path = built.first();
    data.name = item->Name() != source->MediaName() ? item->Name() : QString();
    data.playbackFrame = std::max(timeline->PlaybackFrame(), 0);
    data.cutInFrame = source->IsFullRange() ? 0 : source->CutInFrame();
    data.cutOutFrame = source->IsFullRange() ? -1 : source->CutOutFrame();
    if (HeldTimelineState const* held = HeldStateInEffect(item))
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
    for (TimelineItem* user : FindTimelinesContainingSource(source->Id()))
    {
        collect(user);
    }
    for (TimelineItem* user : FindTimelinesWithAudioOverride(source->Id()))
    {
        collect(user);
    }
    for (auto const& output : std::as_const(outputs))
    {
        emit OpenInViewerReplaceRequested(QUuid(), output.second);
    }

    // The old source stays whole until its successor is finished, so that a
    // replacement that fails can put it back as it was.
    QPointer<Project> self(this);
    mReplacingSource = true;
    QList<ParseSourceData> list {data};
    AddSourceTimelines(list);
    if (!self)
    {
        return;
    }
    mReplacingSource = false;

    for (auto const& output : std::as_const(outputs))
    {
        if (FindTimelineById(output.first, true))
        {
            emit OpenInViewerReplaceRequested(output.first, output.second);
        }
    }
    while (!mPendingReplacements.isEmpty())
    {
        auto const pending = mPendingReplacements.takeFirst();
        if (TimelineItem* next = mSourceTimelines.value(pending.first))
        {
            ReplaceSource(next, pending.second);
        }
    }
}

void Project::ReloadWatchedSource(QString const& path)
{
    if (mFileWatcher->files().contains(path))
    {
        mFileWatcher->removePath(path);
    }
    QFileInfo const info(path);
    if (info.exists() && (info.size() == 0 || !AvHelpers::CanOpenInput(path)))
    {
        mFileWatcher->addPath(path);
        return;
    }
    QString const absolute = info.absoluteFilePath();
    QList<QUuid> ids;
    for (TimelineItem* item : std::as_const(mSourceTimelines))
    {
        Source const* source = item->SourcePtr();
        if (source && source->IsParsed() && QFileInfo(source->FilePath(0)).absoluteFilePath() == absolute)
        {
            ids.append(item->Id());
        }
    }
    for (QUuid const& id : std::as_const(ids))
    {
        TimelineItem* item = mSourceTimelines.value(id);
        if (!item)
        {
            continue;
        }
        Logger::GetInstance()->Info(QStringLiteral("Reloading Source: %1").arg(item->SourcePtr()->MediaPath()));
        ReplaceSource(item, {path});
    }
}

void Project::UpdateSourceRelativePaths()
{
    for (TimelineItem* item : std::as_const(mSourceTimelines))
    {
        Source* source = item->SourcePtr();
        if (source && source->ErrorCode() != 1)
        {
            source->UpdateRelativeMediaPath();
        }
    }
}

bool Project::SourceParsingInProgress() const
{
    return mSourceParsingInProgress;
}

void Project::AddPendingBookmarks(QUuid const& timelineItemId, PendingBookmarks const& bookmarks)
{
    mPendingBookmarks.insert(timelineItemId, bookmarks);
}

void Project::ClearPendingBookmarks()
{
    for (PendingBookmarks const& pending : std::as_const(mPendingBookmarks))
    {
        qDeleteAll(pending.bookmarks);
    }
    mPendingBookmarks.clear();
}

QFileSystemWatcher const* Project::FileWatcher() const
{
    return mFileWatcher;
}

// ---- Queries ----

ProjectItem* Project::FindItemById(QUuid const& id) const
{
    if (id.isNull())
    {
        return nullptr;
    }
    for (FolderItem* folder : mTopLevelFolders)
    {
        if (folder->Id() == id)
        {
            return folder;
        }
        if (ProjectItem* found = folder->FindChildById(id))
        {
            return found;
        }
    }
    return nullptr;
}

TimelineItem* Project::FindTimelineById(QUuid const& id, bool includeSources) const
{
    TimelineItem* item = mTimelines.value(id);
    if (!item && includeSources)
    {
        item = mSourceTimelines.value(id);
    }
    return item;
}

TimelineItem* Project::FindTimelineItemByTimeline(Timeline* timeline) const
{
    if (!timeline)
    {
        return nullptr;
    }
    for (TimelineItem* item : mTimelines)
    {
        if (item->TimelinePtr() == timeline)
        {
            return item;
        }
    }
    for (TimelineItem* item : mSourceTimelines)
    {
        if (item->TimelinePtr() == timeline)
        {
            return item;
        }
    }
    return nullptr;
}

TimelineItem* Project::FindTimelineByOutputId(int outputId) const
{
    for (TimelineItem* item : mTimelines)
    {
        if (item->TimelinePtr() && item->TimelinePtr()->OutputId() == outputId)
        {
            return item;
        }
    }
    for (TimelineItem* item : mSourceTimelines)
    {
        if (item->TimelinePtr() && item->TimelinePtr()->OutputId() == outputId)
        {
            return item;
        }
    }
    return nullptr;
}

QList<TimelineItem*> Project::FindTimelinesContainingSource(QUuid const& sourceId) const
{
    QList<TimelineItem*> items;
    for (TimelineItem* item : mTimelines)
    {
        if (item->TimelinePtr() && item->TimelinePtr()->ContainsClipWithSource(sourceId))
        {
            items.append(item);
        }
    }
    return items;
}

QList<TimelineItem*> Project::FindTimelinesWithAudioOverride(QUuid const& id) const
{
    QList<TimelineItem*> items;
    for (TimelineItem* item : mTimelines)
    {
        if (item->TimelinePtr() && item->TimelinePtr()->AudioOverrideTimelineId() == id)
        {
            items.append(item);
        }
    }
    return items;
}

bool Project::ContainsClipWithSource(QUuid const& sourceId) const
{
    return std::any_of(mTimelines.cbegin(), mTimelines.cend(),
                       [this, &sourceId](TimelineItem* item) { return TimelineHasSource(item->Id(), sourceId); });
}

bool Project::TimelineHasSource(QUuid const& timelineId, QUuid const& sourceId) const
{
    TimelineItem* item = mTimelines.value(timelineId);
    return item && item->TimelinePtr() && item->TimelinePtr()->ContainsClipWithSource(sourceId);
}

bool Project::FolderHasSource(QUuid const& folderId, QUuid const& sourceId) const
{
    FolderItem* folder = FindFolderById(folderId);
    if (!folder)
    {
        return false;
    }
    QList<TimelineItem*> children;
    folder->ChildTimelines(children);
    return std::any_of(children.cbegin(), children.cend(), [&sourceId](TimelineItem* item) {
        return item->TimelinePtr() && item->TimelinePtr()->ContainsClipWithSource(sourceId);
    });
}

bool Project::MediaPathExistsInProject(QString const& path) const
{
    return !SourceTimelineIdWithMediaPath(path).isNull();
}

QUuid Project::SourceTimelineIdWithMediaPath(QString path) const
{
    for (TimelineItem* item : mSourceTimelines)
    {
        if (item->SourcePtr() && item->SourcePtr()->HasMediaPath(path))
        {
            return item->Id();
        }
    }
    return QUuid();
}

QList<QUuid> Project::ProjectTreeDepthFirstHierarchy() const
{
    QList<QUuid> ids;
    for (FolderItem const* folder : mTopLevelFolders)
    {
        ids.append(folder->Id());
        ids.append(folder->DescendentItemIds());
    }
    return ids;
}

QList<QUuid> Project::SortProjectItemsForMove(QList<QUuid> const& ids) const
{
    QSet<QUuid> const wanted(ids.cbegin(), ids.cend());
    QList<QUuid> sorted;
    for (QUuid const& id : ProjectTreeDepthFirstHierarchy())
    {
        if (wanted.contains(id) && !sorted.contains(id))
        {
            sorted.append(id);
        }
    }
    return sorted;
}

bool Project::IsDescendentOfFolder(QUuid const& id, FolderItem* folder) const
{
    return folder && !id.isNull() && folder->FindChildById(id) != nullptr;
}

bool Project::MoveDestinationIsValid(QList<QUuid> const& ids, QUuid const& destinationId) const
{
    if (ids.isEmpty())
    {
        return false;
    }
    for (QUuid const& id : ids)
    {
        FolderItem* folder = FindFolderById(id);
        if (folder && (id == destinationId || IsDescendentOfFolder(destinationId, folder)))
        {
            return false;
        }
    }
    return true;
}

void Project::MoveProjectItem(ProjectItem* item, QUuid const& destinationId, int index, bool keepIndex, bool expand)
{
    if (!item)
    {
        return;
    }
    // A folder never moves into itself or below itself: that would cut its
    // subtree off the project. Views that show it moved (a drop) are told to
    // show the tree as it stays.
    if (item->ItemType() == ProjectItemType::Folder &&
        (item->Id() == destinationId || IsDescendentOfFolder(destinationId, static_cast<FolderItem*>(item))))
    {
        emit ProjectUpdated();
        return;
    }
    FolderItem* from = FindFolderById(item->ParentId());
    FolderItem* to = FindFolderById(destinationId);
    if (from && to)
    {
        if (!keepIndex && from == to && from->ProjectItemIndex(item) < index)
        {
            --index;
        }
        from->RemoveProjectItem(item);
        to->InsertProjectItem(item, index);
        if (expand)
        {
            to->SetExpanded(true);
        }
    }
    emit ProjectUpdated();
}

void Project::SetProjectItemName(QUuid const& id, QString const& name)
{
    ProjectItem* item = FindItemById(id);
    if (!item)
    {
        return;
    }
    item->SetName(name);
    if (item->ItemType() == ProjectItemType::Folder)
    {
        emit FolderUpdated(id);
    }
    else
    {
        emit TimelineUpdated(id);
    }
}

QString Project::ProjectItemName(QUuid const& id) const
{
    ProjectItem const* item = FindItemById(id);
    return item ? item->Name() : QString();
}

void Project::SetDefaultTimeline(QUuid const& id)
{
    if (id == mDefaultTimelineId || mSourceTimelines.contains(id))
    {
        return;
    }
    mDefaultTimelineId = id;
    emit DefaultTimelineChanged(id);
}

QUuid Project::DefaultTimelineId() const
{
    return mDefaultTimelineId;
}

bool Project::IsUndoClean() const
{
    auto clean = [](TimelineItem const* item) { return !item->TimelinePtr() || item->TimelinePtr()->IsUndoClean(); };
    return std::all_of(mTimelines.cbegin(), mTimelines.cend(), clean) &&
           std::all_of(mSourceTimelines.cbegin(), mSourceTimelines.cend(), clean);
}

void Project::SetUndoClean()
{
    for (TimelineItem* item : std::as_const(mTimelines))
    {
        item->TimelinePtr()->SetUndoClean();
    }
    for (TimelineItem* item : std::as_const(mSourceTimelines))
    {
        item->TimelinePtr()->SetUndoClean();
    }
}

// ---- Project files ----

namespace
{
QString const PROJECT_FORMAT_NAME = QStringLiteral("zeph");
QStringList const ACCEPTED_PROJECT_FORMATS = {PROJECT_FORMAT_NAME};
int const PROJECT_FORMAT_VERSION = 1;
QString const LEGACY_VORNA_FORMAT_NAME = QStringLiteral("vorna");
int const LEGACY_MAXIMUM_INDEX = 250;

QString IdString(QUuid const& id)
{
    return id.toString();
}

// Where a saved item stands: no parent_id in its own kind's folder (`home`),
// "parent_is_proj" in the project folder, and its index in the parent.
void WritePlace(QJsonObject& object, QUuid const& parentId, FolderItem const* home, FolderItem const* projectFolder,
                int index)
{
    bool const inHome = home && parentId == home->Id();
    bool const inProject = projectFolder && parentId == projectFolder->Id();
    if (!inHome && !inProject)
    {
        object.insert(QStringLiteral("parent_id"), IdString(parentId));
    }
    if (inProject)
    {
        object.insert(QStringLiteral("parent_is_proj"), true);
    }
    object.insert(QStringLiteral("index"), index);
}

// The viewer state a source and an edited timeline both keep.
void WriteViewState(QJsonObject& object, Timeline* timeline)
{
    object.insert(QStringLiteral("output_id"), timeline->OutputId());
    object.insert(QStringLiteral("pan_interp_x"), timeline->PanInterpolation().x());
    object.insert(QStringLiteral("pan_interp_y"), timeline->PanInterpolation().y());
    object.insert(QStringLiteral("zoom"), static_cast<double>(timeline->ZoomFactor()));
    object.insert(QStringLiteral("pan_zoom_enabled"), timeline->IsPanAndZoomEnabled());
    object.insert(QStringLiteral("hold_annotations"), timeline->HoldAnnotationFramesEnabled());
}

QString RangeBookmarksText(QList<RangeBookmark*> const& ranges)
{
    QStringList parts;
    for (RangeBookmark const* range : ranges)
    {
        parts.append(QStringLiteral("%1,%2").arg(range->startFrame).arg(range->endFrame));
    }
    return parts.join(QLatin1Char(','));
}

// The file's bytes, read once: only a regular file of a bounded size, to its
// end but never past the cap. A FIFO would block the open for good, a device,
// a /proc file or a huge file read on until memory or patience runs out.
bool ReadProjectBytes(QString const& path, QByteArray& bytes, QDateTime& modified)
{
    QString reason;
    if (!UserFileGuard::ReadAll(path, UserFileGuard::MAXIMUM_PROJECT_FILE_SIZE, bytes, reason, &modified))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to open project file: %1 (%2)").arg(path, reason));
        return false;
    }
    return true;
}

bool ReportMissing(QString const& path)
{
    if (QFileInfo::exists(path))
    {
        return false;
    }
    Logger::GetInstance()->Error(QStringLiteral("Failed to open project. File does not exist: %1").arg(path));
    return true;
}

bool ReadWholeFile(QString const& path, QJsonDocument& document)
{
    if (ReportMissing(path))
    {
        return false;
    }
    QByteArray bytes;
    QDateTime modified;
    if (!ReadProjectBytes(path, bytes, modified))
    {
        return false;
    }
    document = QJsonDocument::fromJson(bytes);
    return true;
}

// Whether no folder of the file lies more than the deepest level below the
// project folder, following the parent ids (a file's folders may name their
// parents in any order, or in a ring). Without recursion, each folder once.
bool FolderDepthWithinLimit(QJsonDocument const& document)
{
    QHash<QUuid, QUuid> parents;
    for (QJsonValue const& value : document.object().value(QStringLiteral("folders")).toArray())
    {
        QJsonObject const object = value.toObject();
        QUuid const id = QUuid::fromString(object.value(QStringLiteral("_id")).toString());
        if (!id.isNull() && !parents.contains(id))
        {
            parents.insert(id, QUuid::fromString(object.value(QStringLiteral("parent_id")).toString()));
        }
    }
    QHash<QUuid, int> depths;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it)
    {
        QList<QUuid> chain;
        QSet<QUuid> onChain;
        QUuid current = it.key();
        while (parents.contains(current) && !depths.contains(current) && !onChain.contains(current))
        {
            chain.append(current);
            onChain.insert(current);
            current = parents.value(current);
        }
        int depth = depths.value(current, 0);
        for (auto link = chain.crbegin(); link != chain.crend(); ++link)
        {
            if (++depth > Project::MAXIMUM_FOLDER_DEPTH)
            {
                return false;
            }
            depths.insert(*link, depth);
        }
    }
    return true;
}

bool ReadMetaOf(QJsonDocument const& document, QString const& path, QStringList const& accepted, QString& format,
                int& version)
{
    QJsonObject const meta = document.object().value(QStringLiteral("_meta")).toObject();
    if (meta.isEmpty())
    {
        Logger::GetInstance()->Error(QStringLiteral("Project metadata not found: %1").arg(path));
        return false;
    }
    format = meta.value(QStringLiteral("format")).toString();
    version = meta.value(QStringLiteral("version")).toInt(-1);
    if (!accepted.contains(format) || version <= 0)
    {
        Logger::GetInstance()->Error(QStringLiteral("Unknown file format: %1").arg(path));
        return false;
    }
    // Refused whole, before anything is read: a tree that deep serves no one,
    // and keeping only part of it would lose the rest at the next save.
    if (!FolderDepthWithinLimit(document))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to open project. Folders are nested more than %1 deep: %2")
                                         .arg(Project::MAXIMUM_FOLDER_DEPTH)
                                         .arg(path));
        return false;
    }
    return true;
}

QUuid ReadId(QJsonObject const& object, QString const& key)
{
    return QUuid::fromString(object.value(key).toString());
}

// A 32-bit frame number: absent, fractional or out-of-range values give the default.
int ReadFrame(QJsonObject const& object, QString const& key, int fallback)
{
    QJsonValue const value = object.value(key);
    if (!value.isDouble())
    {
        return fallback;
    }
    double const number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max())
    {
        return fallback;
    }
    return static_cast<int>(number);
}

double ReadFinite(QJsonObject const& object, QString const& key, double fallback)
{
    double const value = object.value(key).toDouble(fallback);
    return std::isfinite(value) ? value : fallback;
}

// A float: a number a float cannot hold gives the default.
float ReadFiniteFloat(QJsonObject const& object, QString const& key, float fallback)
{
    double const value = ReadFinite(object, key, fallback);
    return std::fabs(value) <= double(std::numeric_limits<float>::max()) ? static_cast<float>(value) : fallback;
}

// The positions of the items of the folders a save asks about, each folder's
// children counted once (asking the folder item by item walks its children
// for every item).
class FolderPositions
{
public:
    // The position among the folder's children; -1 when not a child.
    int Position(FolderItem const* folder, ProjectItem const* item)
    {
        return Counted(folder).value(item, {-1, -1}).first;
    }

    // The position counted without edit timelines, as a source is saved.
    int SavePosition(FolderItem const* folder, ProjectItem const* item)
    {
        return Counted(folder).value(item, {-1, -1}).second;
    }

private:
    QHash<ProjectItem const*, QPair<int, int>> const& Counted(FolderItem const* folder)
    {
        auto it = mFolders.find(folder);
        if (it == mFolders.end())
        {
            it = mFolders.insert(folder, {});
            if (folder)
            {
                QList<ProjectItem*> const children = folder->ChildItems();
                int editTimelines = 0;
                for (int i = 0; i < children.size(); ++i)
                {
                    if (!it->contains(children.at(i)))
                    {
                        it->insert(children.at(i), {i, i - editTimelines});
                    }
                    if (children.at(i)->ItemType() == ProjectItemType::Timeline)
                    {
                        ++editTimelines;
                    }
                }
            }
        }
        return *it;
    }

    QHash<FolderItem const*, QHash<ProjectItem const*, QPair<int, int>>> mFolders;
};

QList<QPair<int, int>> RangePairs(QList<RangeBookmark> const& ranges)
{
    QList<QPair<int, int>> pairs;
    pairs.reserve(ranges.size());
    for (RangeBookmark const& range : ranges)
    {
        pairs.append({range.startFrame, range.endFrame});
    }
    return pairs;
}

// A frame counted from 1 as one counted from 0, without wrapping below the
// smallest frame.
int FromOneBased(int frame)
{
    return frame == std::numeric_limits<int>::min() ? frame : frame - 1;
}

// A clip keeps its bookmarks sorted by frame, one per frame: a file's list is
// sorted, and of one frame named twice the first is kept.
QList<FrameBookmark*> SortedUniqueBookmarks(QList<FrameBookmark*> bookmarks)
{
    std::stable_sort(bookmarks.begin(), bookmarks.end(),
                     [](FrameBookmark const* a, FrameBookmark const* b) { return a->frame < b->frame; });
    QList<FrameBookmark*> result;
    for (FrameBookmark* bookmark : std::as_const(bookmarks))
    {
        if (!result.isEmpty() && result.last()->frame == bookmark->frame)
        {
            delete bookmark;
            continue;
        }
        result.append(bookmark);
    }
    return result;
}
} // namespace

bool Project::SaveProject()
{
    if (Settings::projectPath.isEmpty())
    {
        return false;
    }
    QFileInfo const info(Settings::projectPath);
    QString const dirPath = info.absolutePath();
    if (!QDir(dirPath).exists() && !QDir().mkpath(dirPath))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to create project directory: %1").arg(dirPath));
        return false;
    }
    // Relative paths are written against the folder that now holds the file.
    UpdateSourceRelativePaths();
    QSaveFile file(info.absoluteFilePath());
    if (!file.open(QIODevice::WriteOnly))
    {
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to open project file for write: %1").arg(Settings::projectPath));
        return false;
    }
    QJsonObject root;
    WriteProject(root);
    QByteArray const bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    // The old file is replaced only by a complete new one.
    if (file.write(bytes) != bytes.size() || !file.commit())
    {
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to write project file: %1 (%2)").arg(Settings::projectPath, file.errorString()));
        file.cancelWriting();
        return false;
    }
    // The stamp of what was written, not of what the path holds a moment
    // later: a change made in between is someone else's.
    QString const written = info.absoluteFilePath();
    mFileStamp = ProjectFileStamp::OfBytes(written, bytes, QFileInfo(written).lastModified());
    for (TimelineItem* item : std::as_const(mSourceTimelines))
    {
        if (item->TimelinePtr() && item->SourcePtr() && !HasMedia(item->SourcePtr()))
        {
            Logger::GetInstance()->Warning(
                QStringLiteral("Saved without its media, as it was read: %1").arg(item->SourcePtr()->MediaPath()));
        }
    }
    return true;
}

void Project::SetFileStamp(ProjectFileStamp const& stamp)
{
    mFileStamp = stamp;
}

ProjectFileStamp Project::FileStamp() const
{
    return mFileStamp;
}

bool Project::FileChangedOnDisk() const
{
    // Only the file this project read or wrote: a save to another path (Save
    // As) has its own overwrite question.
    if (mFileStamp.IsNull() || Settings::projectPath.isEmpty() ||
        QFileInfo(Settings::projectPath).absoluteFilePath() != mFileStamp.Path())
    {
        return false;
    }
    return mFileStamp.ChangedOnDisk();
}

bool Project::WriteProject(QJsonObject& root) const
{
    WriteMeta(root);
    WriteProjectSettings(root);
    WriteViewer(root);
    WriteFolders(root);
    QJsonArray bookmarks;
    WriteSources(root, bookmarks);
    WriteTimelines(root, bookmarks);
    root.insert(QStringLiteral("z_bookmarks"), bookmarks);
    return true;
}

void Project::WriteMeta(QJsonObject& root) const
{
    root.insert(QStringLiteral("_meta"), QJsonObject {{QStringLiteral("format"), PROJECT_FORMAT_NAME},
                                                      {QStringLiteral("version"), PROJECT_FORMAT_VERSION}});
}

void Project::WriteProjectSettings(QJsonObject& root) const
{
    root.insert(QStringLiteral("_project"),
                QJsonObject {{QStringLiteral("source_root_dir"), FileHelpers::SourceRootDirPath()},
                             {QStringLiteral("image_seq_frame_rate"), Settings::imageSequenceFrameRate},
                             {QStringLiteral("time_control_frame_offset"), Settings::timeControlFrameOffset},
                             {QStringLiteral("notes"), mNotes}});
}

void Project::WriteViewer(QJsonObject& root) const
{
    root.insert(QStringLiteral("viewer"), QJsonObject {{QStringLiteral("layout"), Settings::currentViewerLayout}});
}

void Project::WriteFolders(QJsonObject& root) const
{
    FolderItem* projectFolder = ProjectFolder();
    if (!projectFolder)
    {
        return;
    }
    QJsonArray folders;
    QJsonArray expanded;
    for (FolderItem const* folder : {ProjectFolder(), SourceTimelineFolder(), TimelineFolder()})
    {
        expanded.append(folder && folder->IsExpanded());
    }
    folders.append(expanded);
    WriteFolders(folders, projectFolder, projectFolder->Id());
    root.insert(QStringLiteral("folders"), folders);
}

void Project::WriteFolders(QJsonArray& folders, FolderItem* folder, QUuid const& rootId) const
{
    WriteFolder(folders, folder, rootId);
    QList<FolderItem*> below;
    ChildFolders(folder, below);
    for (FolderItem* child : std::as_const(below))
    {
        WriteFolder(folders, child, rootId);
    }
}

void Project::WriteFolder(QJsonArray& folders, FolderItem* folder, QUuid const& rootId) const
{
    if (folder->Id() == rootId)
    {
        return;
    }
    QJsonObject object;
    object.insert(QStringLiteral("_id"), IdString(folder->Id()));
    if (folder->ParentId() != rootId)
    {
        object.insert(QStringLiteral("parent_id"), IdString(folder->ParentId()));
    }
    object.insert(QStringLiteral("name"), folder->Name());
    if (folder->IsExpanded())
    {
        object.insert(QStringLiteral("expanded"), true);
    }
    folders.append(object);
}

QList<TimelineItem*> Project::ItemsInSaveOrder(QMap<QUuid, TimelineItem*> const& items) const
{
    // Groups follow their folders' order in the tree: the top-level folders get
    // new ids in every session, so an order by id would change from one save
    // of the same project to the next. Groups of folders outside the tree
    // follow in id order. Inside a group the items follow their position in
    // the folder; items without one keep the map's order. One sort over ranks
    // taken in one pass each over the tree and the folders.
    QHash<QUuid, int> groupRanks;
    for (QUuid const& id : ProjectTreeDepthFirstHierarchy())
    {
        groupRanks.insert(id, static_cast<int>(groupRanks.size()));
    }
    QMap<QUuid, int> outsideGroups;
    FolderPositions positions;
    struct Entry
    {
        int group;
        int position;
        TimelineItem* item;
    };
    QList<Entry> entries;
    entries.reserve(items.size());
    for (TimelineItem* item : items)
    {
        FolderItem const* parent = FindFolderById(item->ParentId());
        int const position = parent ? positions.Position(parent, item) : -1;
        auto const rank = groupRanks.constFind(item->ParentId());
        if (rank == groupRanks.cend())
        {
            outsideGroups.insert(item->ParentId(), 0);
        }
        entries.append({rank == groupRanks.cend() ? -1 : *rank, position, item});
    }
    int nextRank = static_cast<int>(groupRanks.size());
    for (auto it = outsideGroups.begin(); it != outsideGroups.end(); ++it)
    {
        it.value() = nextRank++;
    }
    for (Entry& entry : entries)
    {
        if (entry.group < 0)
        {
            entry.group = outsideGroups.value(entry.item->ParentId());
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](Entry const& a, Entry const& b) {
        return a.group != b.group ? a.group < b.group : a.position < b.position;
    });
    QList<TimelineItem*> ordered;
    ordered.reserve(entries.size());
    for (Entry const& entry : std::as_const(entries))
    {
        ordered.append(entry.item);
    }
    return ordered;
}

void Project::WriteSources(QJsonObject& root, QJsonArray& bookmarks) const
{
    QJsonArray sources;
    FolderItem const* sourcesFolder = SourceTimelineFolder();
    FolderItem const* projectFolder = ProjectFolder();
    FolderPositions positions;
    for (TimelineItem* item : ItemsInSaveOrder(mSourceTimelines))
    {
        Timeline* timeline = item->TimelinePtr();
        Source* source = item->SourcePtr();
        if (!timeline || !source)
        {
            continue;
        }
        QJsonObject object;
        object.insert(QStringLiteral("_id"), IdString(source->Id()));
        FolderItem* parent = FindFolderById(item->ParentId());
        WritePlace(object, item->ParentId(), sourcesFolder, projectFolder,
                   parent ? positions.SavePosition(parent, item) : -1);
        object.insert(QStringLiteral("name"), item->Name());
        object.insert(QStringLiteral("path"), source->MediaPath());
        object.insert(QStringLiteral("relative_path"), source->RelativeMediaPath());
        int playbackFrame = 0;
        int cutIn = 0;
        int cutOut = -1;
        SavedFrameState(item, playbackFrame, cutIn, cutOut);
        object.insert(QStringLiteral("playback_frame"), playbackFrame);
        object.insert(QStringLiteral("cut_in_frame"), cutIn);
        object.insert(QStringLiteral("cut_out_frame"), cutOut);
        object.insert(QStringLiteral("audio_delay"), timeline->AudioDelay());
        WriteViewState(object, timeline);
        WriteRangeBookmarks(object, timeline->RangeBookmarkList());
        sources.append(object);
        QString const parentId = IdString(source->Id());
        WriteTimelineBackgroundBookmark(timeline, bookmarks, parentId);
        WriteBookmarksArray(item->SourceClip(), bookmarks, parentId, 0);
    }
    root.insert(QStringLiteral("sources"), sources);
}

void Project::WriteTimelines(QJsonObject& root, QJsonArray& bookmarks) const
{
    QJsonArray timelines;
    FolderItem const* timelinesFolder = TimelineFolder();
    FolderItem const* projectFolder = ProjectFolder();
    FolderPositions positions;
    for (TimelineItem* item : ItemsInSaveOrder(mTimelines))
    {
        Timeline* timeline = item->TimelinePtr();
        if (!timeline)
        {
            continue;
        }
        QJsonObject object;
        object.insert(QStringLiteral("_id"), IdString(item->Id()));
        FolderItem* parent = FindFolderById(item->ParentId());
        WritePlace(object, item->ParentId(), timelinesFolder, projectFolder,
                   parent ? positions.Position(parent, item) : -1);
        if (item->Id() == mDefaultTimelineId)
        {
            object.insert(QStringLiteral("is_default"), true);
        }
        object.insert(QStringLiteral("name"), item->Name());
        int playbackFrame = 0;
        int rangeStart = 0;
        int rangeEnd = -1;
        SavedFrameState(item, playbackFrame, rangeStart, rangeEnd);
        object.insert(QStringLiteral("playback_frame"), playbackFrame);
        object.insert(QStringLiteral("range_start_frame"), rangeStart);
        object.insert(QStringLiteral("range_end_frame"), rangeEnd);
        object.insert(QStringLiteral("audio_override"), IdString(timeline->AudioOverrideTimelineId()));
        WriteViewState(object, timeline);
        object.insert(QStringLiteral("use_source_in_outs"), timeline->IsUseSourceInOutsEnabled());
        object.insert(QStringLiteral("use_source_audio_delay"), timeline->IsUseSourceAudioDelayEnabled());
        QString const parentId = IdString(item->Id());
        WriteTimelineBackgroundBookmark(timeline, bookmarks, parentId);
        QJsonArray tracks;
        WriteTrack(tracks, timeline->MasterTrack(), bookmarks, parentId);
        object.insert(QStringLiteral("tracks"), tracks);
        WriteRangeBookmarks(object, timeline->RangeBookmarkList());
        timelines.append(object);
    }
    root.insert(QStringLiteral("timelines"), timelines);
}

void Project::WriteTrack(QJsonArray& tracks, Track* track, QJsonArray& bookmarks, QString const& parentId) const
{
    QJsonArray clips;
    if (track)
    {
        for (int i = 0; i < track->ClipCount(); ++i)
        {
            WriteClip(clips, track->ClipAtIndex(i), bookmarks, parentId, i);
        }
    }
    tracks.append(QJsonObject {{QStringLiteral("clips"), clips}});
}

void Project::WriteClip(QJsonArray& clips, Clip* clip, QJsonArray& bookmarks, QString const& parentId,
                        int index) const
{
    QJsonObject object;
    if (clip && clip->Type() == ClipType::Media && clip->SourcePtr())
    {
        object.insert(QStringLiteral("source_id"), IdString(clip->SourcePtr()->Id()));
    }
    clips.append(object);
    WriteBookmarksArray(clip, bookmarks, parentId, index);
}

void Project::WriteRangeBookmarks(QJsonObject& object, QList<RangeBookmark*> const& ranges) const
{
    if (!ranges.isEmpty())
    {
        object.insert(QStringLiteral("range_bookmarks"), RangeBookmarksText(ranges));
    }
}

void Project::WriteTimelineBackgroundBookmark(Timeline* timeline, QJsonArray& bookmarks,
                                              QString const& parentId) const
{
    FrameBookmark* background = timeline ? timeline->BackgroundFrameBookmark() : nullptr;
    if (!background || background->strokes.isEmpty())
    {
        return;
    }
    QJsonObject frame;
    WriteBookmarkObject(frame, background);
    bookmarks.append(QJsonObject {{QStringLiteral("parent"), parentId},
                                  {QStringLiteral("clip_index"), -1},
                                  {QStringLiteral("frame_data"), QJsonArray {frame}}});
}

void Project::WriteBookmarksArray(Clip* clip, QJsonArray& bookmarks, QString const& parentId, int clipIndex) const
{
    if (!clip || clip->FrameBookmarkList().isEmpty())
    {
        return;
    }
    QJsonArray frames;
    for (FrameBookmark* bookmark : clip->FrameBookmarkList())
    {
        QJsonObject frame;
        WriteBookmarkObject(frame, bookmark);
        frames.append(frame);
    }
    bookmarks.append(QJsonObject {{QStringLiteral("parent"), parentId},
                                  {QStringLiteral("clip_index"), clipIndex},
                                  {QStringLiteral("frame_data"), frames}});
}

void Project::WriteBookmarkObject(QJsonObject& object, FrameBookmark* bookmark) const
{
    object.insert(QStringLiteral("frame"), bookmark->frame);
    QJsonArray strokes;
    for (StrokeData const& stroke : bookmark->strokes)
    {
        strokes.append(StrokeDataCodec::WriteStroke(stroke));
    }
    object.insert(QStringLiteral("strokes"), strokes);
}

bool Project::IsAcceptedProjectFile(QString const& path, QJsonDocument& document, QByteArray& bytes,
                                    ProjectFileStamp& stamp)
{
    document = QJsonDocument();
    bytes.clear();
    stamp = ProjectFileStamp();
    bool const bookmarkFile = path.endsWith(QStringLiteral(".bmk"));
    if (bookmarkFile ? !QFileInfo::exists(path) && !QFileInfo(path).isSymLink() : ReportMissing(path))
    {
        return false;
    }
    QDateTime modified;
    if (!ReadProjectBytes(path, bytes, modified))
    {
        return false;
    }
    stamp = ProjectFileStamp::OfBytes(path, bytes, modified);
    if (bookmarkFile)
    {
        // A bookmark file names its media; without one it holds nothing to
        // open, and must not replace the open project with an empty one.
        PrivateIniCopy copy;
        QString reason;
        if (!copy.Take(bytes, reason) || copy.Settings().status() != QSettings::NoError ||
            copy.Settings().value(QStringLiteral("main/mediaPath")).toString().trimmed().isEmpty())
        {
            Logger::GetInstance()->Error(QStringLiteral("Unknown file format: %1").arg(path));
            return false;
        }
        return true;
    }
    document = QJsonDocument::fromJson(bytes);
    // The document holds it all now; a large file need not stay twice in memory.
    bytes = QByteArray();
    QString format;
    int version = -1;
    QStringList const accepted =
        path.endsWith(QStringLiteral(".vorna")) ? QStringList {LEGACY_VORNA_FORMAT_NAME} : ACCEPTED_PROJECT_FORMATS;
    return ReadMetaOf(document, path, accepted, format, version);
}

bool Project::ReadAcceptedProjectFile(QJsonDocument const& document, QByteArray const& bytes, QString const& path,
                                      bool open)
{
    if (path.endsWith(QStringLiteral(".vorna")))
    {
        return ReadLegacyVornaProject(document, path, open);
    }
    if (path.endsWith(QStringLiteral(".bmk")))
    {
        PrivateIniCopy copy;
        QString reason;
        return copy.Take(bytes, reason) && ReadLegacyYarvProject(copy.Settings());
    }
    return ReadProject(document, path, open);
}

bool Project::ImportProject(QString const& path, bool open)
{
    QJsonDocument document;
    if (!ReadWholeFile(path, document))
    {
        return false;
    }
    return ReadProject(document, path, open);
}

bool Project::ReadMeta(QJsonDocument const& document, QString const& path, QString& format, int& version)
{
    return ReadMetaOf(document, path, ACCEPTED_PROJECT_FORMATS, format, version);
}

bool Project::ReadProject(QJsonDocument const& document, QString const& path, bool open)
{
    QString format;
    int version = -1;
    if (!ReadMeta(document, path, format, version))
    {
        return false;
    }
    // Only a file that was accepted becomes the project's path, so a save never
    // overwrites a file that could not be read.
    if (open)
    {
        SetProjectPath(path);
        ReadProjectSettings(document);
        ReadViewer(document);
    }
    mReadIds.clear();
    ReadBookmarks(document);
    // An import adds the file's sources; the open project keeps its own
    // folders, edit timelines and default timeline.
    if (open)
    {
        ReadFolders(document);
    }
    ReadSources(document);
    if (open)
    {
        // The edit timelines take theirs; whatever no owner took goes after that.
        ReadTimelines(document);
    }
    ClearPendingBookmarks();
    mReadIds.clear();
    return true;
}

void Project::ReadProjectSettings(QJsonDocument const& document)
{
    QJsonObject const settings = document.object().value(QStringLiteral("_project")).toObject();
    QString const root = settings.value(QStringLiteral("source_root_dir")).toString();
    if (root != Settings::sourceRootDirPath)
    {
        Settings::sourceRootDirPath = root;
        emit SourceRootDirPathChanged(root);
    }
    double const rate =
        std::clamp(ReadFinite(settings, QStringLiteral("image_seq_frame_rate"), Settings::defaultImageSequenceFrameRate),
                   Settings::MINIMUM_IMAGE_SEQUENCE_FRAME_RATE, Settings::MAXIMUM_IMAGE_SEQUENCE_FRAME_RATE);
    if (rate != Settings::imageSequenceFrameRate)
    {
        Settings::imageSequenceFrameRate = rate;
        emit ImageSequenceFrameRateChanged();
    }
    SetTimeControlFrameOffset(std::min(
        ReadFrame(settings, QStringLiteral("time_control_frame_offset"), Settings::defaultTimeControlFrameOffset),
        Settings::MAXIMUM_TIME_CONTROL_FRAME_OFFSET));
    mNotes = settings.value(QStringLiteral("notes")).toString();
}

void Project::ReadViewer(QJsonDocument const& document)
{
    QJsonObject const viewer = document.object().value(QStringLiteral("viewer")).toObject();
    // A layout the viewer does not know (single up to the 2 by 2 grid) opens
    // as the single view.
    int const layout = ReadFrame(viewer, QStringLiteral("layout"), 0);
    Settings::currentViewerLayout = layout >= 0 && layout <= 4 ? layout : 0;
}

bool Project::IdInUse(QUuid const& id) const
{
    if (mReadIds.contains(id) || FindItemById(id) || mSourceTimelines.contains(id) || mTimelines.contains(id))
    {
        return true;
    }
    // A source given up while its parse ran may still be answered for under
    // its id: a new source under that id would be finished by that answer.
    return mAbandonedIds.contains(id);
}

void Project::ReadFolders(QJsonDocument const& document)
{
    QJsonArray const folders = document.object().value(QStringLiteral("folders")).toArray();
    for (QJsonValue const& value : folders)
    {
        if (value.isArray())
        {
            QJsonArray const flags = value.toArray();
            for (int i = 0; i < flags.size() && i < mTopLevelFolders.size(); ++i)
            {
                if (flags.at(i).isBool())
                {
                    mTopLevelFolders.at(i)->SetExpanded(flags.at(i).toBool());
                }
            }
            continue;
        }
        if (!value.isObject())
        {
            continue;
        }
        QJsonObject const object = value.toObject();
        QUuid const id = ReadId(object, QStringLiteral("_id"));
        if (id.isNull())
        {
            continue;
        }
        if (IdInUse(id))
        {
            Logger::GetInstance()->Warning(QStringLiteral("ID already exists in project... Skipping."));
            continue;
        }
        mReadIds.insert(id);
        FolderItem* folder = AddFolder(object.value(QStringLiteral("name")).toString(),
                                       ReadId(object, QStringLiteral("parent_id")), false);
        folder->SetId(id);
        folder->SetExpanded(object.value(QStringLiteral("expanded")).toBool(false));
    }
}

bool Project::ReadPlace(QJsonObject const& object, QUuid& id, QUuid& parentId) const
{
    id = ReadId(object, QStringLiteral("_id"));
    if (!id.isNull() && IdInUse(id))
    {
        Logger::GetInstance()->Warning(QStringLiteral("ID already exists in project... Skipping."));
        return false;
    }
    parentId = ReadId(object, QStringLiteral("parent_id"));
    if (object.value(QStringLiteral("parent_is_proj")).toBool(false) && ProjectFolder())
    {
        parentId = ProjectFolder()->Id();
    }
    return true;
}

void Project::ReadSources(QJsonDocument const& document)
{
    QJsonArray const sources = document.object().value(QStringLiteral("sources")).toArray();
    QList<ParseSourceData> records;
    for (QJsonValue const& value : sources)
    {
        if (!value.isObject())
        {
            continue;
        }
        QJsonObject const object = value.toObject();
        ParseSourceData data;
        // A repeated id would put two parses under one id: the second is skipped.
        if (!ReadPlace(object, data.id, data.parentId))
        {
            continue;
        }
        data.index = ReadFrame(object, QStringLiteral("index"), -1);
        data.name = object.value(QStringLiteral("name")).toString();
        data.path = object.value(QStringLiteral("path")).toString();
        data.relativePath = object.value(QStringLiteral("relative_path")).toString();
        data.playbackFrame = std::max(ReadFrame(object, QStringLiteral("playback_frame"), 0), 0);
        data.cutInFrame = std::max(ReadFrame(object, QStringLiteral("cut_in_frame"), 0), 0);
        // No cut out stored: to the end, like the -1 a save writes for it.
        data.cutOutFrame = std::max(ReadFrame(object, QStringLiteral("cut_out_frame"), -1), -1);
        double const delay = ReadFinite(object, QStringLiteral("audio_delay"), 0.0);
        data.audioDelay = std::abs(delay) < 9.0e15 ? static_cast<qint64>(delay) : 0;
        data.viewerIndex = ReadFrame(object, QStringLiteral("output_id"), 0);
        data.panX = ReadFinite(object, QStringLiteral("pan_interp_x"), 0.0);
        data.panY = ReadFinite(object, QStringLiteral("pan_interp_y"), 0.0);
        data.zoom = ReadFiniteFloat(object, QStringLiteral("zoom"), 1.0f);
        data.panZoomEnabled =
            Settings::restorePanZoomOnProjectLoad && object.value(QStringLiteral("pan_zoom_enabled")).toBool(false);
        data.holdAnnotations = Settings::restoreHoldAnnotationsOnProjectLoad &&
                               object.value(QStringLiteral("hold_annotations")).toBool(false);
        data.expandParent = false;
        data.addToDefaultTimeline = false;
        QList<RangeBookmark> ranges;
        ReadRangeBookmarks(object, ranges);
        for (RangeBookmark const& range : std::as_const(ranges))
        {
            data.rangeBookmarks.append({range.startFrame, range.endFrame});
        }
        if (data.path.isEmpty())
        {
            continue;
        }
        AddSourceTimeline(data);
        mReadIds.insert(data.id);
        records.append(data);
    }
    AddParseListToQueue();
    WaitForParseQueue();
    // Each viewer slot shows the last source that names it: only that one is
    // opened, once, however many sources name the slot (a file without slots
    // names slot 0 for every source).
    QMap<int, QUuid> shown;
    for (ParseSourceData const& data : std::as_const(records))
    {
        if (data.viewerIndex >= 0 && mSourceTimelines.contains(data.id))
        {
            shown.insert(data.viewerIndex, data.id);
        }
    }
    for (auto it = shown.cbegin(); it != shown.cend(); ++it)
    {
        emit OpenInViewerRequested(it.value(), it.key(), false);
    }
}

void Project::ReadTimelines(QJsonDocument const& document)
{
    QJsonArray const timelines = document.object().value(QStringLiteral("timelines")).toArray();
    // As for the sources: each viewer slot opens only the last timeline that names it.
    QMap<int, QUuid> shown;
    for (QJsonValue const& value : timelines)
    {
        if (!value.isObject())
        {
            continue;
        }
        QJsonObject const object = value.toObject();
        QUuid id;
        QUuid parentId;
        if (!ReadPlace(object, id, parentId))
        {
            continue;
        }
        TimelineItem* item = AddTimeline(object.value(QStringLiteral("name")).toString(), parentId, false, id,
                                         ReadFrame(object, QStringLiteral("index"), -1));
        mReadIds.insert(item->Id());
        Timeline* timeline = item->TimelinePtr();
        ReadTracks(object.value(QStringLiteral("tracks")).toArray(), timeline);
        timeline->SetAudioOverrideTimelineId(ReadId(object, QStringLiteral("audio_override")));
        int const output = ReadFrame(object, QStringLiteral("output_id"), 0);
        if (output >= 0)
        {
            shown.insert(output, item->Id());
        }
        if (object.value(QStringLiteral("is_default")).toBool(false))
        {
            SetDefaultTimeline(item->Id());
        }
        timeline->SetUseSourceInOutsEnabled(object.value(QStringLiteral("use_source_in_outs")).toBool(true));
        timeline->SetUseSourceAudioDelayEnabled(object.value(QStringLiteral("use_source_audio_delay")).toBool(true));
        int const playbackFrame = std::max(ReadFrame(object, QStringLiteral("playback_frame"), 0), 0);
        int const rangeStart = std::max(ReadFrame(object, QStringLiteral("range_start_frame"), 0), 0);
        int const rangeEnd = std::max(ReadFrame(object, QStringLiteral("range_end_frame"), -1), -1);
        timeline->SetPlaybackFrame(playbackFrame);
        timeline->SetPlaybackRangeByFrame(rangeStart, rangeEnd);
        HoldFileStateIfMediaMissing(item, playbackFrame, rangeStart, rangeEnd);
        timeline->SetPanAndZoom(QPointF(ReadFinite(object, QStringLiteral("pan_interp_x"), 0.0),
                                        ReadFinite(object, QStringLiteral("pan_interp_y"), 0.0)),
                                ReadFiniteFloat(object, QStringLiteral("zoom"), 1.0f),
                                Settings::restorePanZoomOnProjectLoad &&
                                    object.value(QStringLiteral("pan_zoom_enabled")).toBool(false));
        timeline->SetHoldAnnotationFramesEnabled(Settings::restoreHoldAnnotationsOnProjectLoad &&
                                                 object.value(QStringLiteral("hold_annotations")).toBool(false));
        QList<RangeBookmark> ranges;
        ReadRangeBookmarks(object, ranges);
        timeline->InsertRangeBookmarks(RangePairs(ranges));
        while (mPendingBookmarks.contains(item->Id()))
        {
            auto it = mPendingBookmarks.find(item->Id());
            PendingBookmarks pending = it.value();
            mPendingBookmarks.erase(it);
            if (pending.clipIndex < 0)
            {
                if (!pending.bookmarks.isEmpty())
                {
                    timeline->SetBackgroundFrameBookmark(pending.bookmarks.takeFirst());
                }
            }
            else if (Clip* clip = timeline->ClipAtIndex(pending.clipIndex))
            {
                clip->SetFrameBookmarks(pending.bookmarks);
                pending.bookmarks.clear();
            }
            qDeleteAll(pending.bookmarks);
        }
    }
    for (auto it = shown.cbegin(); it != shown.cend(); ++it)
    {
        emit OpenInViewerRequested(it.value(), it.key(), false);
    }
}

void Project::ReadTracks(QJsonArray const& tracks, Timeline* timeline)
{
    if (!tracks.isEmpty() && tracks.first().isObject())
    {
        ReadClips(tracks.first().toObject().value(QStringLiteral("clips")).toArray(), timeline->MasterTrack());
    }
}

void Project::ReadClips(QJsonArray const& clips, Track* track)
{
    for (QJsonValue const& value : clips)
    {
        if (!value.isObject())
        {
            continue;
        }
        TimelineItem* source = mSourceTimelines.value(ReadId(value.toObject(), QStringLiteral("source_id")));
        if (source && source->SourceClip())
        {
            track->InsertClipAtIndex(source->SourceClip()->Duplicate(nullptr, false), -1);
        }
    }
}

void Project::ReadRangeBookmarks(QJsonObject const& object, QList<RangeBookmark>& ranges)
{
    QStringList const parts =
        object.value(QStringLiteral("range_bookmarks")).toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (int i = 0; i + 1 < parts.size(); i += 2)
    {
        bool okStart = false;
        bool okEnd = false;
        int const start = parts.at(i).toInt(&okStart, 10);
        int const end = parts.at(i + 1).toInt(&okEnd, 10);
        if (okStart && okEnd)
        {
            ranges.append(RangeBookmark {start, end});
        }
    }
}

bool Project::ReadStroke(QJsonObject const& object, StrokeData& stroke)
{
    return StrokeDataCodec::ReadStroke(object, stroke);
}

void Project::ReadBookmarks(QJsonDocument const& document)
{
    ClearPendingBookmarks();
    QJsonArray const groups = document.object().value(QStringLiteral("z_bookmarks")).toArray();
    for (QJsonValue const& value : groups)
    {
        QJsonObject const group = value.toObject();
        QUuid const parent = ReadId(group, QStringLiteral("parent"));
        if (parent.isNull())
        {
            continue;
        }
        PendingBookmarks pending;
        pending.clipIndex = ReadFrame(group, QStringLiteral("clip_index"), 0);
        for (QJsonValue const& frameValue : group.value(QStringLiteral("frame_data")).toArray())
        {
            QJsonObject const frame = frameValue.toObject();
            int const number = ReadFrame(frame, QStringLiteral("frame"), -1);
            if (number < 0)
            {
                continue;
            }
            auto* bookmark = new FrameBookmark(number);
            for (QJsonValue const& strokeValue : frame.value(QStringLiteral("strokes")).toArray())
            {
                StrokeData stroke;
                if (ReadStroke(strokeValue.toObject(), stroke))
                {
                    bookmark->strokes.append(stroke);
                }
            }
            pending.bookmarks.append(bookmark);
            if (pending.clipIndex < 0)
            {
                break;
            }
        }
        pending.bookmarks = SortedUniqueBookmarks(pending.bookmarks);
        mPendingBookmarks.insert(parent, pending);
    }
}

// ---- Older formats ----

namespace
{
int VornaStrokeTypeToCurrent(int type)
{
    static int const table[] = {0, 2, 3, 4, 6, 5, 8, 7};
    return type >= 0 && type <= 7 ? table[type] : 9;
}

QPointF VornaStrokeGetArrowHeadPoint(QPointF const& p0, QPointF const& p1, float angle)
{
    // In single precision throughout; the points lie in float range.
    float const dx = static_cast<float>(p0.x()) - static_cast<float>(p1.x());
    float const dy = static_cast<float>(p0.y()) - static_cast<float>(p1.y());
    float const c = std::cos(angle);
    float const s = std::sin(angle);
    float rx = dx * c - dy * s;
    float ry = dx * s + dy * c;
    float const length = std::hypotf(rx, ry);
    if (!(std::fabs(length - 1.0f) <= 1e-5f || std::fabs(length) <= 1e-5f))
    {
        rx /= length;
        ry /= length;
    }
    return p1 + QPointF(0.022 * rx, 0.022 * ry);
}

bool ReadLegacyStroke(QJsonObject const& object, StrokeData& stroke)
{
    double const storedWidth = object.value(QStringLiteral("width")).toDouble(0.0) * 1000.0;
    if (!std::isfinite(storedWidth) || storedWidth < 0.0 || storedWidth > double(std::numeric_limits<float>::max()))
    {
        return false;
    }
    float width = static_cast<float>(storedWidth);
    stroke.color = QColor::fromString(object.value(QStringLiteral("color")).toString());
    if (!stroke.color.isValid())
    {
        return false;
    }
    int const legacyType = ReadFrame(object, QStringLiteral("type"), -1);
    if (legacyType < 0 || legacyType > 7)
    {
        return false;
    }
    stroke.type = VornaStrokeTypeToCurrent(legacyType);
    if (legacyType == 2)
    {
        width /= 2.6f;
        stroke.text = object.value(QStringLiteral("text")).toString();
        if (stroke.text.isEmpty())
        {
            return false;
        }
    }
    stroke.width = width;
    QList<QPointF> points;
    if (!StrokeDataCodec::DecodePoints(object.value(QStringLiteral("points")).toString(), points))
    {
        return false;
    }
    // The older format's points are single precision: a number no float
    // holds fails like any unreadable point.
    double const largest = std::numeric_limits<float>::max();
    for (QPointF const& point : std::as_const(points))
    {
        if (std::fabs(point.x()) > largest || std::fabs(point.y()) > largest)
        {
            return false;
        }
    }
    // Pencil and eraser strokes keep their points as well as the path built
    // from them: a stroke saved without points could not be read back.
    stroke.points = points;
    if (stroke.type == 0 || stroke.type == 2)
    {
        stroke.path.moveTo(points.first());
        for (int i = 1; i < points.size(); ++i)
        {
            stroke.path.lineTo(points.at(i));
        }
    }
    else if (points.size() >= 2)
    {
        QPointF const p0 = points.at(0);
        QPointF const p1 = points.at(1);
        if (stroke.type == 7)
        {
            stroke.path.addRect(QRectF(p0, QSizeF(p1.x() - p0.x(), p1.y() - p0.y())));
        }
        else if (stroke.type == 6)
        {
            stroke.path.addEllipse(QRectF(p0, QSizeF(p1.x() - p0.x(), p1.y() - p0.y())));
        }
        else if (stroke.type == 5)
        {
            float const angle = 36.0f * static_cast<float>(M_PI) / 180.0f;
            stroke.path.moveTo(p0);
            stroke.path.lineTo(p1);
            stroke.path.lineTo(VornaStrokeGetArrowHeadPoint(p0, p1, angle));
            stroke.path.moveTo(p1);
            stroke.path.lineTo(VornaStrokeGetArrowHeadPoint(p0, p1, -angle));
        }
    }
    return true;
}

void OfferBookmarks(Timeline* timeline, QList<FrameBookmark*> const& bookmarks)
{
    for (FrameBookmark* bookmark : bookmarks)
    {
        if (!timeline || timeline->InsertFrameBookmark(bookmark->frame, bookmark) < 0)
        {
            delete bookmark;
        }
    }
}
} // namespace

bool Project::ReadLegacyVornaMeta(QJsonDocument const& document, QString const& path, QString& format, int& version)
{
    return ReadMetaOf(document, path, {LEGACY_VORNA_FORMAT_NAME}, format, version);
}

bool Project::ImportLegacyVornaProject(QString const& path, bool open)
{
    QJsonDocument document;
    if (!ReadWholeFile(path, document))
    {
        return false;
    }
    return ReadLegacyVornaProject(document, path, open);
}

bool Project::ReadLegacyVornaProject(QJsonDocument const& document, QString const& path, bool open)
{
    QString format;
    int version = -1;
    if (!ReadLegacyVornaMeta(document, path, format, version))
    {
        return false;
    }
    if (open)
    {
        ReadLegacyVornaProjectSettings(document);
        ReadLegacyVornaViewer(document);
    }
    QList<QJsonObject> objects;
    ReadLegacyVornaFolders(document, objects);
    ReadLegacyVornaSources(document, objects, open);
    ReadLegacyVornaTimelines(document, objects, open);
    ReadLegacyVornaUpdateParents(objects);
    return true;
}

void Project::ReadLegacyVornaProjectSettings(QJsonDocument const& document)
{
    QJsonObject const settings = document.object().value(QStringLiteral("project")).toObject();
    QString root = settings.value(QStringLiteral("source_root_dir")).toString();
    if (root == QStringLiteral("[PROJECT_DIR]"))
    {
        root.clear();
    }
    if (root != Settings::sourceRootDirPath)
    {
        Settings::sourceRootDirPath = root;
        emit SourceRootDirPathChanged(root);
    }
    double const rate =
        std::clamp(ReadFinite(settings, QStringLiteral("sequence_frame_rate"), Settings::defaultImageSequenceFrameRate),
                   Settings::MINIMUM_IMAGE_SEQUENCE_FRAME_RATE, Settings::MAXIMUM_IMAGE_SEQUENCE_FRAME_RATE);
    if (rate != Settings::imageSequenceFrameRate)
    {
        Settings::imageSequenceFrameRate = rate;
        emit ImageSequenceFrameRateChanged();
    }
    mNotes = settings.value(QStringLiteral("notes")).toString();
    SetTimeControlFrameOffset(1);
}

void Project::ReadLegacyVornaViewer(QJsonDocument const& document)
{
    int const layout = ReadFrame(document.object().value(QStringLiteral("viewer")).toObject(),
                                 QStringLiteral("layout"), 0);
    Settings::currentViewerLayout = layout == 1 ? 2 : layout == 2 ? 3 : 1;
}

void Project::ReadLegacyVornaFolders(QJsonDocument const& document, QList<QJsonObject>& objects)
{
    for (QJsonValue const& value : document.object().value(QStringLiteral("folders")).toArray())
    {
        if (!value.isObject())
        {
            continue;
        }
        QJsonObject const object = value.toObject();
        QUuid const id = ReadId(object, QStringLiteral("_id"));
        if (!id.isNull() && FindItemById(id))
        {
            Logger::GetInstance()->Warning(QStringLiteral("Folder ID already exists in project... Skipping."));
            continue;
        }
        FolderItem* folder = AddFolder(object.value(QStringLiteral("name")).toString(), QUuid(), false);
        folder->SetId(id);
        folder->SetExpanded(object.value(QStringLiteral("expanded")).toBool(false));
        objects.append(object);
    }
}

void Project::ReadLegacyVornaFrameBookmarks(QJsonObject const& object, QList<FrameBookmark*>& bookmarks)
{
    for (QJsonValue const& value : object.value(QStringLiteral("bookmarks")).toArray())
    {
        QJsonObject const data = value.toObject();
        int const frame = ReadFrame(data, QStringLiteral("frame"), 0);
        if (frame < 1)
        {
            continue;
        }
        auto* bookmark = new FrameBookmark(frame - 1);
        for (QJsonValue const& strokeValue : data.value(QStringLiteral("strokes")).toArray())
        {
            StrokeData stroke;
            if (ReadLegacyStroke(strokeValue.toObject(), stroke))
            {
                bookmark->strokes.append(stroke);
            }
        }
        bookmarks.append(bookmark);
    }
}

void Project::ReadLegacyVornaRangeBookmarks(QJsonObject const& object, QList<RangeBookmark>& ranges)
{
    for (QJsonValue const& value : object.value(QStringLiteral("bookmarks_range")).toArray())
    {
        QJsonObject const data = value.toObject();
        int const start = ReadFrame(data, QStringLiteral("frame_start"), 0);
        int const end = ReadFrame(data, QStringLiteral("frame_end"), 0);
        if (start > 0 && end > 0)
        {
            ranges.append(RangeBookmark {start - 1, end - 1});
        }
    }
}

void Project::ReadLegacyVornaSources(QJsonDocument const& document, QList<QJsonObject>& objects, bool open)
{
    QList<ParseSourceData> records;
    QSet<QUuid> seen;
    for (QJsonValue const& value : document.object().value(QStringLiteral("sources")).toArray())
    {
        if (!value.isObject())
        {
            continue;
        }
        QJsonObject const object = value.toObject();
        QUuid const id = ReadId(object, QStringLiteral("_id"));
        if (!id.isNull() && (seen.contains(id) || FindItemById(id) || mSourceTimelines.contains(id)))
        {
            Logger::GetInstance()->Warning(QStringLiteral("Source ID already exists in project... Skipping."));
            continue;
        }
        ParseSourceData data;
        data.id = id;
        data.path = object.value(QStringLiteral("path")).toString();
        data.relativePath = object.value(QStringLiteral("relative_path")).toString();
        data.name = object.value(QStringLiteral("name")).toString();
        data.playbackFrame = FromOneBased(ReadFrame(object, QStringLiteral("frame"), 0));
        data.cutInFrame = std::max(FromOneBased(ReadFrame(object, QStringLiteral("range_start"), 0)), 0);
        data.cutOutFrame = std::max(FromOneBased(ReadFrame(object, QStringLiteral("range_end"), 0)), -1);
        data.viewerIndex = ReadFrame(object, QStringLiteral("viewer_index"), -1);
        data.panX = ReadFinite(object, QStringLiteral("pan_interp_x"), 0.0);
        data.panY = ReadFinite(object, QStringLiteral("pan_interp_y"), 0.0);
        data.zoom = ReadFiniteFloat(object, QStringLiteral("zoom"), 1.0f);
        data.panZoomEnabled =
            Settings::restorePanZoomOnProjectLoad && object.value(QStringLiteral("pan_zoom_enabled")).toBool(false);
        data.expandParent = false;
        data.holdAnnotations = false;
        data.addToDefaultTimeline = false;
        if (data.path.isEmpty())
        {
            continue;
        }
        QList<RangeBookmark> ranges;
        ReadLegacyVornaRangeBookmarks(object, ranges);
        for (RangeBookmark const& range : std::as_const(ranges))
        {
            data.rangeBookmarks.append({range.startFrame, range.endFrame});
        }
        ReadLegacyVornaFrameBookmarks(object, data.frameBookmarks);
        AddSourceTimeline(data);
        seen.insert(data.id);
        records.append(data);
        QJsonObject placed = object;
        placed.insert(QStringLiteral("_id"), IdString(data.id));
        objects.append(placed);
    }
    AddParseListToQueue();
    WaitForParseQueue();
    for (ParseSourceData const& data : std::as_const(records))
    {
        TimelineItem* item = mSourceTimelines.value(data.id);
        OfferBookmarks(item ? item->TimelinePtr() : nullptr, data.frameBookmarks);
        if (item && open && data.viewerIndex >= 0)
        {
            emit OpenInViewerRequested(data.id, data.viewerIndex, false);
        }
    }
}

void Project::ReadLegacyVornaTimelines(QJsonDocument const& document, QList<QJsonObject>& objects, bool open)
{
    for (QJsonValue const& value : document.object().value(QStringLiteral("timelines")).toArray())
    {
        if (!value.isObject())
        {
            continue;
        }
        QJsonObject object = value.toObject();
        TimelineItem* item = AddTimeline(object.value(QStringLiteral("name")).toString(), QUuid(), false, QUuid(), -1);
        Timeline* timeline = item->TimelinePtr();
        for (QJsonValue const& element : object.value(QStringLiteral("elements")).toArray())
        {
            TimelineItem* source = mSourceTimelines.value(ReadId(element.toObject(), QStringLiteral("source_id")));
            if (source && source->TimelinePtr() && source->SourceClip())
            {
                timeline->MasterTrack()->InsertClipAtIndex(
                    source->SourceClip()->Duplicate(timeline->MasterTrack(), false), -1);
            }
        }
        timeline->SetPlaybackFrame(std::max(FromOneBased(ReadFrame(object, QStringLiteral("frame"), 0)), 0));
        int const rangeEnd = ReadFrame(object, QStringLiteral("range_end"), 0);
        if (rangeEnd > 0)
        {
            timeline->SetPlaybackRangeByFrame(std::max(FromOneBased(ReadFrame(object, QStringLiteral("range_start"), 0)), 0),
                                              rangeEnd - 1);
        }
        timeline->SetPanAndZoom(QPointF(ReadFinite(object, QStringLiteral("pan_interp_x"), 0.0),
                                        ReadFinite(object, QStringLiteral("pan_interp_y"), 0.0)),
                                ReadFiniteFloat(object, QStringLiteral("zoom"), 1.0f),
                                Settings::restorePanZoomOnProjectLoad &&
                                    object.value(QStringLiteral("pan_zoom_enabled")).toBool(false));
        timeline->SetUseSourceInOutsEnabled(object.value(QStringLiteral("use_source_in_outs")).toBool(true));
        if (object.value(QStringLiteral("default")).toBool(false))
        {
            SetDefaultTimeline(item->Id());
        }
        QList<FrameBookmark*> bookmarks;
        ReadLegacyVornaFrameBookmarks(object, bookmarks);
        OfferBookmarks(timeline, bookmarks);
        QList<RangeBookmark> ranges;
        ReadLegacyVornaRangeBookmarks(object, ranges);
        timeline->InsertRangeBookmarks(RangePairs(ranges));
        int const viewer = ReadFrame(object, QStringLiteral("viewer_index"), -1);
        if (open && viewer >= 0)
        {
            emit OpenInViewerRequested(item->Id(), viewer, false);
        }
        object.insert(QStringLiteral("_id"), IdString(item->Id()));
        objects.append(object);
    }
}

void Project::ReadLegacyVornaUpdateParents(QList<QJsonObject>& objects)
{
    // Position by position from 0 up, and at each position the objects from
    // the last to the first; sorted into those turns in one pass.
    QList<QList<QJsonObject>> turns(LEGACY_MAXIMUM_INDEX);
    for (auto it = objects.crbegin(); it != objects.crend(); ++it)
    {
        int const index = ReadFrame(*it, QStringLiteral("index"), -1);
        if (index >= 0 && index < LEGACY_MAXIMUM_INDEX)
        {
            turns[index].append(*it);
        }
    }
    objects.removeIf([](QJsonObject const& object) {
        int const index = ReadFrame(object, QStringLiteral("index"), -1);
        return index >= 0 && index < LEGACY_MAXIMUM_INDEX;
    });
    for (int n = 0; n < LEGACY_MAXIMUM_INDEX; ++n)
    {
        for (QJsonObject const& object : std::as_const(turns.at(n)))
        {
            ProjectItem* item = FindItemById(ReadId(object, QStringLiteral("_id")));
            if (!item)
            {
                continue;
            }
            FolderItem* folder = FindFolderById(ReadId(object, QStringLiteral("parent_id")));
            if (!folder)
            {
                folder = item->ItemType() == ProjectItemType::Folder     ? ProjectFolder()
                         : item->ItemType() == ProjectItemType::Timeline ? TimelineFolder()
                                                                         : SourceTimelineFolder();
            }
            // A folder stored below itself stays where it is (no parent cycles).
            if (folder)
            {
                MoveProjectItem(item, folder->Id(), n, false, false);
            }
        }
    }
}

bool Project::ImportLegacyYarvProject(QString const& path)
{
    // QSettings parses the bytes that were read, never the path again.
    PrivateIniCopy copy;
    QString reason;
    if (!QFileInfo::exists(path) || !copy.Read(path, UserFileGuard::MAXIMUM_PROJECT_FILE_SIZE, reason))
    {
        return false;
    }
    return ReadLegacyYarvProject(copy.Settings());
}

bool Project::ReadLegacyYarvProject(QSettings& file)
{
    file.beginGroup(QStringLiteral("main"));
    ParseSourceData data;
    data.path = file.value(QStringLiteral("mediaPath")).toString();
    // Written by hand without quotes, the frames read as a list of strings.
    QVariant const framesValue = file.value(QStringLiteral("frames"));
    QList<int> const frames =
        YarvStringToFrames(framesValue.typeId() == QMetaType::QStringList
                               ? framesValue.toStringList().join(QLatin1Char(','))
                               : framesValue.toString());
    QList<int> const ranges = YarvStringListToRanges(file.value(QStringLiteral("ranges")).toStringList());
    data.playbackFrame = FromOneBased(file.value(QStringLiteral("current"), 0).toInt());
    data.cutInFrame = std::max(FromOneBased(file.value(QStringLiteral("start"), 0).toInt()), 0);
    data.cutOutFrame = std::max(FromOneBased(file.value(QStringLiteral("end"), 0).toInt()), -1);
    file.endGroup();
    data.expandParent = false;
    data.addToRecentFiles = false;
    AddSourceTimeline(data);
    AddParseListToQueue();
    WaitForParseQueue();
    TimelineItem* item = data.id.isNull() ? nullptr : mSourceTimelines.value(data.id);
    if (item && item->TimelinePtr())
    {
        for (int frame : frames)
        {
            item->TimelinePtr()->InsertFrameBookmark(FromOneBased(frame));
        }
        QList<QPair<int, int>> pairs;
        for (int i = 0; i + 1 < ranges.size(); i += 2)
        {
            // As in the other older format, a range needs both ends on a frame.
            if (ranges.at(i) > 0 && ranges.at(i + 1) > 0)
            {
                pairs.append({ranges.at(i) - 1, ranges.at(i + 1) - 1});
            }
        }
        item->TimelinePtr()->InsertRangeBookmarks(pairs);
        emit OpenInViewerRequested(data.id, 0, false);
    }
    return true;
}

QList<int> Project::YarvStringToFrames(QString const& text)
{
    QList<int> frames;
    for (QString const& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
    {
        bool ok = false;
        int const frame = part.trimmed().toInt(&ok, 10);
        if (ok)
        {
            frames.append(frame);
        }
    }
    return frames;
}

QList<int> Project::YarvStringListToRanges(QList<QString> const& list)
{
    QList<int> ranges;
    for (QString const& element : list)
    {
        QStringList const parts = element.split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (parts.size() < 2)
        {
            continue;
        }
        bool okStart = false;
        bool okEnd = false;
        int const start = parts.at(0).trimmed().toInt(&okStart, 10);
        int const end = parts.at(1).trimmed().toInt(&okEnd, 10);
        if (okStart && okEnd)
        {
            ranges.append(start);
            ranges.append(end);
        }
    }
    return ranges;
}
