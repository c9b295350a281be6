#include "model/Project.h"

#include "app/FileHelpers.h"
#include "app/FileWrite.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvHelpers.h"
#include "model/Clip.h"
#include "model/FrameBookmark.h"
#include "model/LegacyVornaReader.h"
#include "model/LegacyYarvReader.h"
#include "model/ProjectFileFormat.h"
#include "model/ProjectFileReader.h"
#include "model/ProjectFileWriter.h"
#include "model/RangeBookmark.h"
#include "model/Source.h"
#include "model/Timeline.h"

#include "model/ClipType.h"
#include "model/Track.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
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

bool Project::SaveProject()
{
    if (Settings::projectPath.isEmpty())
    {
        return false;
    }
    QFileInfo const info(Settings::projectPath);
    QString const dirPath = info.absolutePath();
    errno = 0;
    if (!QDir(dirPath).exists() && !QDir().mkpath(dirPath))
    {
        // The errno of the folder that could not be made: QDir keeps none.
        int const errorNumber = errno;
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to create project directory: %1 (%2)")
                .arg(dirPath, errorNumber != 0 ? qt_error_string(errorNumber) : QStringLiteral("no reason given")));
        return false;
    }
    // Relative paths are written against the folder that now holds the file.
    UpdateSourceRelativePaths();
    QSaveFile file(info.absoluteFilePath());
    if (!file.open(QIODevice::WriteOnly))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to open project file for write: %1 (%2)")
                                         .arg(Settings::projectPath, FileWrite::Reason(file)));
        return false;
    }
    QJsonObject root;
    WriteProject(root);
    QByteArray const bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    // The old file is replaced only by a complete new one.
    QString reason;
    bool const complete = FileWrite::WriteAll(file, bytes, reason);
    if (!complete || !file.commit())
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to write project file: %1 (%2)")
                                         .arg(Settings::projectPath, complete ? FileWrite::Reason(file) : reason));
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
    ProjectFileWriter(*this).Write(root);
    return true;
}

bool Project::IsAcceptedProjectFile(QString const& path, QJsonDocument& document, QByteArray& bytes,
                                    ProjectFileStamp& stamp)
{
    return ProjectFileFormat::IsAcceptedFile(path, document, bytes, stamp);
}

bool Project::ReadAcceptedProjectFile(QJsonDocument const& document, QByteArray const& bytes, QString const& path,
                                      bool open)
{
    if (path.endsWith(QStringLiteral(".vorna")))
    {
        return LegacyVornaReader(*this).Read(document, path, open);
    }
    if (path.endsWith(QStringLiteral(".bmk")))
    {
        return LegacyYarvReader(*this).ReadBytes(bytes);
    }
    return ReadProject(document, path, open);
}

bool Project::ImportProject(QString const& path, bool open)
{
    return ImportCheckedFile(path, open);
}

bool Project::ReadProject(QJsonDocument const& document, QString const& path, bool open)
{
    return ProjectFileReader(*this).Read(document, path, open);
}

// ---- Older formats ----

bool Project::ImportLegacyVornaProject(QString const& path, bool open)
{
    return ImportCheckedFile(path, open);
}

bool Project::ImportLegacyYarvProject(QString const& path)
{
    return ImportCheckedFile(path, false);
}

bool Project::ImportCheckedFile(QString const& path, bool open)
{
    // Read once: the stamp is that of the bytes read.
    ProjectFileStamp stamp;
    QJsonDocument document;
    QByteArray bytes;
    if (!IsAcceptedProjectFile(path, document, bytes, stamp))
    {
        return false;
    }
    bool const read = ReadAcceptedProjectFile(document, bytes, path, open);
    if (read && open)
    {
        SetFileStamp(stamp);
    }
    return read;
}
