#include "model/Project.h"

#include "app/FileHelpers.h"
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
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

Project::Project(QObject* parent)
    : QObject(parent)
    , mFileWatcher(new QFileSystemWatcher(this))
    , mParseQueue(*this)
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
}

Project::~Project() = default;

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

bool Project::HasItemReleaser() const
{
    return static_cast<bool>(mItemReleaser);
}

void Project::SetParseTimeout(int milliseconds)
{
    SourceParseQueue::SetTimeout(milliseconds);
}

int Project::ParseTimeout()
{
    return SourceParseQueue::Timeout();
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
    mParseQueue.RelinkMissingSources();
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
    connect(item, &TimelineItem::SourceParsed, &mParseQueue, &SourceParseQueue::OnSourceParsed, Qt::UniqueConnection);
}

void Project::DisconnectSourceTimelineItem(TimelineItem* item)
{
    disconnect(item, &TimelineItem::TimelineUpdated, this, &Project::OnTimelineUpdated);
    disconnect(item, &TimelineItem::SourceParsed, &mParseQueue, &SourceParseQueue::OnSourceParsed);
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
    mParseQueue.Add(ParseListEntry {item, data, false});
}

void Project::AddSourceTimelines(QList<ParseSourceData>& dataList)
{
    for (ParseSourceData& data : dataList)
    {
        AddSourceTimeline(data);
    }
    mParseQueue.ParseAdded();
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
    mParseQueue.Replace(item, paths);
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
    mParseQueue.ReloadSourcesOf(path);
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
    return mParseQueue.InProgress();
}


SourceParseQueue& Project::ParseQueue()
{
    return mParseQueue;
}

HeldTimelineStates& Project::HeldStates()
{
    return mHeldStates;
}

HeldTimelineStates const& Project::HeldStates() const
{
    return mHeldStates;
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
    return ProjectFileWriter::Save(*this);
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
