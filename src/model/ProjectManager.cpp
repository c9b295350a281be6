#include "model/ProjectManager.h"

#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/AddFolderCmd.h"
#include "model/AddSourceTimelinesCmd.h"
#include "model/AddTimelineCmd.h"
#include "model/Clip.h"
#include "model/DeleteClipCmd.h"
#include "model/DeleteFolderCmd.h"
#include "model/DeleteSourceTimelineCmd.h"
#include "model/DeleteTimelineCmd.h"
#include "model/DuplicateSourceTimelineCmd.h"
#include "model/FrameBookmark.h"
#include "model/InsertClipCmd.h"
#include "model/InsertFrameBookmarkCmd.h"
#include "model/MoveProjectItemCmd.h"
#include "model/OpenInViewerCmd.h"
#include "model/Project.h"
#include "model/RangeBookmark.h"
#include "model/RemoveFrameBookmarkCmd.h"
#include "model/RenameProjectItemCmd.h"
#include "model/SetAudioOverrideCmd.h"
#include "model/SetClipOrderCmd.h"
#include "model/SetPlaybackRangeByFrameCmd.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/ToggleRangeBookmarkCmd.h"
#include "model/VideoStreamInfo.h"
#include "remote/CmdServer.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QLocale>
#include <QScreen>
#include <QStringList>
#include <QSurfaceFormat>
#include <QSysInfo>
#include <QTimer>
#include <QUndoStack>

#include <algorithm>

ProjectManager::ProjectManager(QObject* parent)
    : QObject(parent)
    , mAvManager(new AvManager(this))
{
    connect(mAvManager, &AvManager::UpdateAudioOverrideRequested, this, &ProjectManager::UpdateAudioOverride);
    connect(mAvManager, &AvManager::SourceTimestampRestartFound, this,
            &ProjectManager::OnSourceTimestampRestartFound);
    mCmdServer = new CmdServer(this);
    mUndoStack = new QUndoStack(this);
    mUndoStack->setUndoLimit(Settings::projectUndoEnabled ? Settings::projectUndoLimit : 1);
    connect(mUndoStack, &QUndoStack::cleanChanged, this, &ProjectManager::OnUndoCleanChanged);
}

ProjectManager::~ProjectManager()
{
    mProbesStop->store(true);
    // No engine task may still work on the project's timelines; then the
    // commands (which refer to the project) go, then the project.
    if (mAvManager->TotalWorkerCount() > 0)
    {
        mAvManager->ClearAll(true, 1000);
    }
    mUndoStack->clear();
    ReleaseProject(true);
}

// ---- Construction and teardown ----

void ProjectManager::ReleaseProject(bool now)
{
    if (!mProject)
    {
        return;
    }
    if (mAvManager->HasTasksLeftRunning())
    {
        // A task that would not end may still read the project's timelines.
        mProject->setParent(nullptr);
        mAvManager->ReleaseWhenUnused(mProject, {});
    }
    else if (now)
    {
        delete mProject;
    }
    else
    {
        mProject->deleteLater();
    }
    mProject = nullptr;
}

void ProjectManager::Shutdown()
{
    mAvManager->Shutdown();
}

AvManager* ProjectManager::AvManagerPtr() const
{
    return mAvManager;
}

QUndoStack* ProjectManager::UndoStackPtr() const
{
    return mUndoStack;
}

Project* ProjectManager::ProjectPtr() const
{
    return mProject;
}

void ProjectManager::InitializeCmdServer(int port)
{
    mCmdServer->Initialize(port);
    connect(mCmdServer, &CmdServer::ExecuteCmd, this, &ProjectManager::OnExecuteCmd, Qt::UniqueConnection);
}

CmdServer* ProjectManager::CmdServerPtr() const
{
    return mCmdServer;
}

void ProjectManager::Push(QUndoCommand* command)
{
    mUndoStack->push(command);
}

QUuid ProjectManager::TimelineItemId(Timeline* timeline) const
{
    TimelineItem* item = mProject ? mProject->FindTimelineItemByTimeline(timeline) : nullptr;
    return item ? item->Id() : QUuid();
}

bool ProjectManager::ParseWaitInProgress() const
{
    return mStagedProject || (mProject && mProject->SourceParsingInProgress());
}

bool ProjectManager::DeferWhileParsing(std::function<void()> request)
{
    if (!ParseWaitInProgress())
    {
        return false;
    }
    mDeferredRequests.append(std::move(request));
    return true;
}

void ProjectManager::RunDeferredRequests()
{
    while (!mDeferredRequests.isEmpty() && !ParseWaitInProgress())
    {
        std::function<void()> const request = mDeferredRequests.takeFirst();
        request();
    }
}

// ---- Projects ----

void ProjectManager::NewProject(bool)
{
    if (DeferWhileParsing([this] { NewProject(false); }))
    {
        return;
    }
    ReleaseOpenProject();
    AdoptProject(new Project(this));
}

void ProjectManager::ReleaseOpenProject()
{
    if (!mProject)
    {
        return;
    }
    // Returns once every engine task but the audio output has ended, or has
    // been left running after the wait: the old project then stays until
    // those end.
    mAvManager->ClearAll(false, 1000);
    mUndoStack->clear();
    disconnect(mProject, nullptr, this, nullptr);
    disconnect(mProject, nullptr, mAvManager, nullptr);
    ReleaseProject(false);
}

void ProjectManager::AdoptProject(Project* project)
{
    mProject = project;
    // A project made aside was connected only for its parse.
    disconnect(mProject, nullptr, this, nullptr);
    connect(mProject, &Project::ParseSourceRequested, this, &ProjectManager::OnParseSourceRequested);
    connect(mProject, &Project::ParseSourceActiveStateChanged, this, &ProjectManager::OnParseSourceActiveStateChanged);
    connect(mProject, &Project::ProjectUpdated, this, &ProjectManager::OnProjectUpdated);
    connect(mProject, &Project::FolderUpdated, this, &ProjectManager::OnFolderUpdated);
    connect(mProject, &Project::TimelineUpdated, this, &ProjectManager::OnTimelineUpdated);
    connect(mProject, &Project::ProjectPathChanged, this, &ProjectManager::OnProjectPathChanged);
    connect(mProject, &Project::SourceRootDirPathChanged, this, &ProjectManager::OnSourceRootDirPathChanged);
    connect(mProject, &Project::DefaultTimelineChanged, this, &ProjectManager::OnDefaultTimelineChanged);
    connect(mProject, &Project::PausePlaybackRequested, this, &ProjectManager::PausePlayback);
    connect(mProject, &Project::OpenInViewerRequested, this, &ProjectManager::OpenInViewer);
    connect(mProject, &Project::OpenInViewerReplaceRequested, this, &ProjectManager::OpenInViewerReplace);
    connect(mProject, &Project::ImageSequenceFrameRateChanged, mAvManager, &AvManager::ReloadTimelines);
    connect(mProject, &Project::SourceParseAbandoned, this, &ProjectManager::OnSourceParseAbandoned);
    mProject->SetItemReleaser([this](ProjectItem* item) { ReleaseTakenOutItem(item); });
    emit ProjectUpdated();
    mUndoStack->clear();
    // A new project has nothing unsaved, whatever the old one had.
    mModified = false;
    mUserEditsUnsaved = false;
    emit UndoCleanChanged();
}

bool ProjectManager::OpenProject(QString const& path)
{
    if (DeferWhileParsing([this, path] { OpenProject(path); }))
    {
        return false;
    }
    // A file that cannot be read as a project leaves the open project, and
    // the path its next save goes to, as they were. The file is read once:
    // its stamp is that of the bytes parsed, so a change made after the read
    // is one this project has not seen.
    ProjectFileStamp stamp;
    QJsonDocument document;
    QByteArray bytes;
    if (!Project::IsAcceptedProjectFile(path, document, bytes, stamp))
    {
        return false;
    }
    NewProject(false);
    bool const opened = mProject->ReadAcceptedProjectFile(document, bytes, path, true);
    if (opened)
    {
        mProject->SetFileStamp(stamp);
    }
    mUndoStack->clear();
    emit ProjectUpdated();
    if (opened && !path.endsWith(QStringLiteral(".vorna")) && !path.endsWith(QStringLiteral(".bmk")))
    {
        FileHelpers::AddRecentProject(path);
    }
    return opened;
}

bool ProjectManager::ImportProject(QString const& path, bool open)
{
    if (DeferWhileParsing([this, path, open] { ImportProject(path, open); }))
    {
        return false;
    }
    if (!mProject)
    {
        NewProject(false);
    }
    bool result = false;
    if (path.endsWith(QStringLiteral(".vorna")))
    {
        result = mProject->ImportLegacyVornaProject(path, open);
    }
    else if (path.endsWith(QStringLiteral(".bmk")))
    {
        result = mProject->ImportLegacyYarvProject(path);
    }
    else
    {
        result = mProject->ImportProject(path, open);
    }
    mUndoStack->clear();
    emit ProjectUpdated();
    return result;
}

bool ProjectManager::SaveProject()
{
    if (mProject && mProject->FileChangedOnDisk())
    {
        if (!mOverwriteChangedFileQuestion || !mOverwriteChangedFileQuestion(Settings::projectPath))
        {
            Logger::GetInstance()->Warning(
                QStringLiteral("Project not saved: the file changed on disk since it was opened or saved: %1")
                    .arg(Settings::projectPath));
            return false;
        }
    }
    if (!mProject || !mProject->SaveProject())
    {
        return false;
    }
    mUndoStack->setClean();
    mModified = false;
    mUserEditsUnsaved = false;
    mProject->SetUndoClean();
    emit UndoCleanChanged();
    if (!Settings::projectPath.isEmpty())
    {
        FileHelpers::AddRecentProject(Settings::projectPath);
    }
    return true;
}

bool ProjectManager::SaveProjectAs(QString const& path)
{
    if (!mProject || path.isEmpty())
    {
        return false;
    }
    // The project is written under its new path (its media paths relative to
    // the new folder); the old path comes back when nothing was written.
    QString const previous = Settings::projectPath;
    mProject->SetProjectPath(path);
    if (SaveProject())
    {
        return true;
    }
    mProject->SetProjectPath(previous);
    return false;
}

void ProjectManager::SetOverwriteChangedFileQuestion(std::function<bool(QString const&)> question)
{
    mOverwriteChangedFileQuestion = std::move(question);
}

void ProjectManager::SetReplaceProjectQuestion(ReplaceProjectQuestion question)
{
    mReplaceProjectQuestion = std::move(question);
}

bool ProjectManager::IsUndoClean() const
{
    return mUndoStack->isClean() && !mModified && (!mProject || mProject->IsUndoClean());
}

bool ProjectManager::HasUnsavedUserEdits() const
{
    return !mUndoStack->isClean() || mUserEditsUnsaved || (mProject && !mProject->IsUndoClean());
}

void ProjectManager::SetUndoClean()
{
    mUndoStack->setClean();
    mModified = false;
    mUserEditsUnsaved = false;
    if (mProject)
    {
        mProject->SetUndoClean();
    }
    emit UndoCleanChanged();
}

void ProjectManager::ClearUndoStackAndSetModified()
{
    mUndoStack->clear();
    mModified = true;
    emit UndoCleanChanged();
}

void ProjectManager::UndoBeginMacro(QString const& name)
{
    mUndoStack->beginMacro(name);
}

void ProjectManager::UndoEndMacro()
{
    mUndoStack->endMacro();
}

// ---- Forwarders ----

void ProjectManager::SetProjectPath(QString const& path)
{
    if (mProject)
    {
        mProject->SetProjectPath(path);
    }
}

void ProjectManager::SetSourceRootDirPath(QString const& path, bool relink)
{
    if (mProject)
    {
        mProject->SetSourceRootDirPath(path, relink);
    }
}

QString ProjectManager::ProjectName() const
{
    return mProject ? mProject->ProjectName() : QString();
}

void ProjectManager::SetImageSequenceFrameRate(double rate)
{
    if (mProject)
    {
        mProject->SetImageSequenceFrameRate(rate);
    }
}

double ProjectManager::ImageSequenceFrameRate() const
{
    return Settings::imageSequenceFrameRate;
}

void ProjectManager::SetTimeControlFrameOffset(int offset)
{
    if (mProject)
    {
        mProject->SetTimeControlFrameOffset(offset);
    }
}

int ProjectManager::TimeControlFrameOffset() const
{
    return Settings::timeControlFrameOffset;
}

void ProjectManager::SetNotes(QString const& notes)
{
    if (mProject)
    {
        mProject->SetNotes(notes);
    }
}

QString ProjectManager::Notes() const
{
    return mProject ? mProject->Notes() : QString();
}

void ProjectManager::TopLevelFolderIds(QList<QUuid>& ids) const
{
    ids.clear();
    if (mProject)
    {
        mProject->TopLevelFolderIds(ids);
    }
}

FolderItem* ProjectManager::FindFolderById(QUuid const& id) const
{
    return mProject ? mProject->FindFolderById(id) : nullptr;
}

QUuid ProjectManager::DefaultTimelineId() const
{
    return mProject ? mProject->DefaultTimelineId() : QUuid();
}

void ProjectManager::SetDefaultTimeline(QUuid const& id)
{
    if (mProject)
    {
        mProject->SetDefaultTimeline(id);
    }
}

bool ProjectManager::MediaPathExistsInProject(QString const& path) const
{
    return mProject && mProject->MediaPathExistsInProject(path);
}

QUuid ProjectManager::SourceTimelineIdWithMediaPath(QString path) const
{
    return mProject ? mProject->SourceTimelineIdWithMediaPath(path) : QUuid();
}

bool ProjectManager::SourceParsingInProgress() const
{
    return ParseWaitInProgress();
}

bool ProjectManager::IsMoveProjectItemDestinationValid(QList<QUuid> const& ids, QUuid const& destinationId) const
{
    return mProject && mProject->MoveDestinationIsValid(ids, destinationId);
}

// ---- Queries ----

QUuid ProjectManager::ProjectFolderId() const
{
    FolderItem* folder = mProject ? mProject->ProjectFolder() : nullptr;
    return folder ? folder->Id() : QUuid();
}

QUuid ProjectManager::TimelineFolderId() const
{
    FolderItem* folder = mProject ? mProject->TimelineFolder() : nullptr;
    return folder ? folder->Id() : QUuid();
}

QUuid ProjectManager::SourceTimelineFolderId() const
{
    FolderItem* folder = mProject ? mProject->SourceTimelineFolder() : nullptr;
    return folder ? folder->Id() : QUuid();
}

TimelineItem* ProjectManager::FindTimelineById(QUuid const& id) const
{
    return mProject ? mProject->FindTimelineById(id, true) : nullptr;
}

TimelineItem* ProjectManager::PrimaryTimelineItem() const
{
    return mProject ? mProject->FindTimelineItemByTimeline(mAvManager->PrimaryTimeline()) : nullptr;
}

bool ProjectManager::PrimaryTimelineWidthHeight(int& width, int& height)
{
    Timeline* timeline = mAvManager->PrimaryTimeline();
    if (!timeline)
    {
        width = -1;
        height = -1;
        return false;
    }
    return timeline->GlobalWidthHeight(width, height);
}

int ProjectManager::PrimaryTimelineFrameCount() const
{
    Timeline* timeline = mAvManager->PrimaryTimeline();
    return timeline ? timeline->FrameCount() : 0;
}

int ProjectManager::DefaultTimelineClipCount() const
{
    TimelineItem* item = mProject ? mProject->FindTimelineById(mProject->DefaultTimelineId(), false) : nullptr;
    return item && item->TimelinePtr() ? item->TimelinePtr()->ClipCount() : -1;
}

QString ProjectManager::SourcePath(QUuid const& id) const
{
    TimelineItem* item = mProject ? mProject->FindSourceTimelineById(id) : nullptr;
    return item && item->SourcePtr() ? item->SourcePtr()->FilePath(0) : QString();
}

bool ProjectManager::IsImageSequence(QUuid const& id) const
{
    TimelineItem* item = mProject ? mProject->FindSourceTimelineById(id) : nullptr;
    return item && item->SourcePtr() && item->SourcePtr()->IsImageSequence();
}

void ProjectManager::ShowInFolder(QUuid const& id) const
{
    QString const path = SourcePath(id);
    if (!path.isEmpty())
    {
        FileHelpers::ShowInFolder(path);
    }
}

void ProjectManager::CopySourcePathToClipboard(QUuid const& id) const
{
    QString const path = SourcePath(id);
    if (!path.isEmpty() && QFileInfo::exists(path))
    {
        QGuiApplication::clipboard()->setText(QFileInfo(path).absoluteFilePath());
    }
}

// ---- Sources ----

void ProjectManager::ImportFilesByPath(QList<QString> const& paths, QUuid const& parentId, int index, int viewerIndex,
                                       int viewerCount, bool play, QUuid targetTimelineId, int second,
                                       int targetClipIndex, bool groupImageSequences)
{
    if (DeferWhileParsing([=, this] {
            ImportFilesByPath(paths, parentId, index, viewerIndex, viewerCount, play, targetTimelineId, second,
                              targetClipIndex, groupImageSequences);
        }))
    {
        return;
    }
    QList<QString> const kept = FileHelpers::ImportablePaths(paths, groupImageSequences, targetClipIndex >= 0);
    if (kept.isEmpty())
    {
        return;
    }
    // Every import replaces the open project with one holding the first path.
    NewProject(false);
    ParseSourceData data;
    data.path = kept.first();
    data.parentId = parentId;
    data.index = index;
    data.viewerIndex = viewerIndex == 0 ? 0 : -1;
    data.targetTimelineId = targetTimelineId;
    data.targetClipIndex = targetClipIndex;
    data.addToDefaultTimeline = targetTimelineId.isNull();
    data.addToRecentFiles = true;
    DoAddSourceTimelinesCmd({data});
    // The import made a new project that holds only what was opened: nothing
    // the user would lose, so it starts out saved (undo still takes it back).
    mUndoStack->setClean();
    if (play && Settings::autoPlayEnabled)
    {
        mAvManager->Play(true, false);
    }
}

void ProjectManager::DoAddSourceTimelinesCmd(QList<ParseSourceData> const& dataList)
{
    if (!mProject)
    {
        return;
    }
    Project* project = mProject;
    mUndoStack->beginMacro(QStringLiteral("AddSources"));
    TimelineItem* defaultItem = project->FindTimelineById(project->DefaultTimelineId(), false);
    auto* command = new AddSourceTimelinesCmd(project, dataList);
    Push(command);
    PlaceAddedSources(command->DataList(), defaultItem);
    mUndoStack->endMacro();
}

void ProjectManager::PlaceAddedSources(QList<ParseSourceData> const& dataList, TimelineItem* defaultItem)
{
    Project* const project = mProject;
    Timeline* const defaultTimeline = defaultItem ? defaultItem->TimelinePtr() : nullptr;
    for (ParseSourceData const& data : dataList)
    {
        TimelineItem* source = project->FindSourceTimelineById(data.id);
        if (!source || !source->SourceClip() || !source->SourcePtr())
        {
            continue;
        }
        Source* media = source->SourcePtr();
        TimelineItem* target = project->FindTimelineById(data.targetTimelineId, false);
        if (target && target->TimelinePtr())
        {
            Push(new InsertClipCmd(project, target->Id(), source->SourceClip()->Duplicate(nullptr, false),
                                   data.targetClipIndex));
        }
        if (defaultTimeline && data.addToDefaultTimeline &&
            (media->VideoStreamCount() > 0 || Settings::addAudioOnlySourcesToDefaultTimeline))
        {
            Push(new InsertClipCmd(project, defaultItem->Id(), source->SourceClip()->Duplicate(nullptr, false), -1));
        }
        if (Settings::resizeToFit)
        {
            bool const wanted = data.viewerIndex == 0 ||
                                (defaultTimeline && data.addToDefaultTimeline && defaultTimeline->ClipCount() == 1);
            // Only a parsed video record has a size: audio-only and failed
            // sources have none to read.
            VideoStreamInfo const* video = media->VideoStreamCount() > 0
                                               ? media->VideoStreamInfoAtIndex(media->DescribingFileIndex(), 0)
                                               : nullptr;
            if (wanted && video && video->parsed)
            {
                emit ResizeViewerRequested(video->width, video->height);
            }
        }
        if (data.viewerIndex >= 0)
        {
            DoOpenTimelineInViewerCmd(data.id, data.viewerIndex);
        }
    }
}

namespace
{
// Why a source that did not parse was refused, in the words of a reply.
QString ParseFailureReason(TimelineItem const* item)
{
    Source const* const source = item ? item->SourcePtr() : nullptr;
    if (!source)
    {
        return QStringLiteral("no source could be made of it");
    }
    switch (source->ErrorCode())
    {
    case 1:
        return QStringLiteral("file not found");
    case 2:
        // A parse that did not end in time leaves its file unread.
        return source->FileInfoCopy(0).parsed ? QStringLiteral("no picture or sound could be decoded")
                                              : QStringLiteral("its parse did not end in time");
    case 3:
        return QStringLiteral("the file could not be opened");
    case 4:
        return QStringLiteral("no stream information was found");
    default:
        return QStringLiteral("it could not be parsed");
    }
}
} // namespace

bool ProjectManager::ReplaceProjectWithParsedSource(ParseSourceData const& data, QString& reason)
{
    // A new project resets the settings the open project keeps in Settings
    // as it is made, so that the source parses as in a new project; they
    // are put back when the open project stays.
    QString const projectPath = Settings::projectPath;
    QString const sourceRootDirPath = Settings::sourceRootDirPath;
    double const imageSequenceFrameRate = Settings::imageSequenceFrameRate;
    int const timeControlFrameOffset = Settings::timeControlFrameOffset;

    auto* const staged = new Project(this);
    connect(staged, &Project::ParseSourceRequested, this, &ProjectManager::OnParseSourceRequested);
    connect(staged, &Project::ParseSourceActiveStateChanged, this, &ProjectManager::OnParseSourceActiveStateChanged);
    connect(staged, &Project::SourceParseAbandoned, this, &ProjectManager::OnSourceParseAbandoned);
    staged->SetItemReleaser([this](ProjectItem* item) { ReleaseTakenOutItem(item); });
    // Requests that would replace the open project wait until this one has
    // replaced it or been let go.
    mStagedProject = staged;
    QPointer<Project> const alive(staged);
    QList<ParseSourceData> dataList {data};
    staged->AddSourceTimelines(dataList);
    TimelineItem* const item = alive ? staged->FindSourceTimelineById(data.id) : nullptr;
    bool const parsed = item && !item->HasErrors() && item->SourcePtr();
    if (!parsed)
    {
        reason = ParseFailureReason(item);
        if (alive)
        {
            disconnect(staged, nullptr, this, nullptr);
            // A parse left running may still read it.
            staged->setParent(nullptr);
            mAvManager->ReleaseWhenUnused(staged, {});
        }
        if (mProject)
        {
            mProject->SetProjectPath(projectPath);
            mProject->SetSourceRootDirPath(sourceRootDirPath, false);
            mProject->SetImageSequenceFrameRate(imageSequenceFrameRate);
            mProject->SetTimeControlFrameOffset(timeControlFrameOffset);
        }
    }
    else
    {
        ReleaseOpenProject();
        AdoptProject(staged);
        TimelineItem* const defaultItem = staged->FindTimelineById(staged->DefaultTimelineId(), false);
        PlaceAddedSources(dataList, defaultItem);
        // Nothing of a project made for a client is undone.
        mUndoStack->clear();
    }
    mStagedProject = nullptr;
    if (!mDeferredRequests.isEmpty())
    {
        QTimer::singleShot(0, this, &ProjectManager::RunDeferredRequests);
    }
    return parsed;
}

void ProjectManager::ReplaceSource(QUuid const& id, QList<QString> const& paths)
{
    TimelineItem* item = mProject ? mProject->FindSourceTimelineById(id) : nullptr;
    if (item)
    {
        mProject->ReplaceSource(item, paths);
    }
}

void ProjectManager::RefreshSource(QUuid const& id)
{
    TimelineItem* item = mProject ? mProject->FindSourceTimelineById(id) : nullptr;
    if (item)
    {
        mProject->RefreshSource(item);
    }
}

void ProjectManager::DuplicateSource(QUuid const& id)
{
    DoDuplicateSourceCmd(id);
}

void ProjectManager::DoDuplicateSourceCmd(QUuid const& id)
{
    if (mProject && mProject->FindSourceTimelineById(id))
    {
        Push(new DuplicateSourceTimelineCmd(mProject, id));
    }
}

void ProjectManager::SetFolderExpanded(QUuid const& id, bool expanded)
{
    FolderItem* folder = FindFolderById(id);
    if (folder && folder->IsExpanded() != expanded)
    {
        folder->SetExpanded(expanded);
    }
}

// ---- Viewer ----

void ProjectManager::DoOpenTimelinesInViewerCmd(QList<QUuid> const& ids, int startSlot, bool keepPreviousOutput)
{
    if (!mProject || startSlot >= Settings::MAXIMUM_ACTIVE_TIMELINE_VIEWERS)
    {
        return;
    }
    QList<QPair<QUuid, int>> opens;
    int slot = std::max(startSlot, 0);
    for (QUuid const& id : ids)
    {
        if (slot >= Settings::MAXIMUM_ACTIVE_TIMELINE_VIEWERS)
        {
            break;
        }
        TimelineItem* item = mProject->FindTimelineById(id, true);
        if (!item || (item->TimelinePtr() && item->TimelinePtr()->OutputId() != slot))
        {
            opens.append({id, slot});
        }
        ++slot;
    }
    // A timeline already where it is asked for leaves no empty step behind.
    if (opens.isEmpty())
    {
        return;
    }
    mUndoStack->beginMacro(QStringLiteral("OpenInViewer"));
    for (auto const& open : std::as_const(opens))
    {
        Push(new OpenInViewerCmd(mProject, mAvManager, open.first, open.second, keepPreviousOutput));
    }
    mUndoStack->endMacro();
}

void ProjectManager::DoOpenTimelineInViewerCmd(QUuid const& id, int slot)
{
    DoOpenTimelinesInViewerCmd({id}, slot, false);
}

void ProjectManager::OpenInViewer(QUuid const& id, int slot)
{
    DoOpenTimelineInViewerCmd(id, slot);
}

void ProjectManager::EndOutputDecoding(int slot)
{
    mAvManager->EndDecodingTask(slot, true, true);
    // The ended workers may still copy the timeline's clips; nothing of the
    // project changes under them until their threads are done.
    mAvManager->WaitForEndedTasks();
}

void ProjectManager::ReleaseTakenOutItem(ProjectItem* item)
{
    // A folder brings the timelines of its whole subtree.
    mAvManager->ReleaseWhenUnused(item, item->findChildren<Timeline*>());
}

void ProjectManager::OnSourceParseAbandoned(TimelineItem* item)
{
    if (item)
    {
        mAvManager->AbandonParse(item->TimelinePtr());
    }
}

void ProjectManager::OpenInViewerReplace(QUuid const& id, int slot)
{
    mAvManager->Pause(DecodeBias::None);
    TimelineItem* item = mProject ? mProject->FindTimelineById(id, true) : nullptr;
    if (!item)
    {
        EndOutputDecoding(slot);
        return;
    }
    if (item->TimelinePtr())
    {
        mAvManager->DecodeTimeline(item->TimelinePtr(), slot, true, true, false);
    }
}

void ProjectManager::SwapABViewerTimelines()
{
    QUuid const a = TimelineItemId(mAvManager->TimelineWithOutputId(0));
    QUuid const b = TimelineItemId(mAvManager->TimelineWithOutputId(1));
    if (a.isNull() && b.isNull())
    {
        return;
    }
    DoOpenTimelinesInViewerCmd({b, a}, 0, !a.isNull() && !b.isNull());
}

void ProjectManager::ClearAllViewerTimelines()
{
    bool shown = false;
    for (int slot = 0; slot < Settings::MAXIMUM_ACTIVE_TIMELINE_VIEWERS; ++slot)
    {
        shown = shown || mAvManager->TimelineWithOutputId(slot) != nullptr;
    }
    if (shown)
    {
        DoOpenTimelinesInViewerCmd(QList<QUuid>(Settings::MAXIMUM_ACTIVE_TIMELINE_VIEWERS, QUuid()), 0, false);
    }
}

// ---- Folders and tree ----

QUuid ProjectManager::DoAddFolderCmd(QString const& name, QUuid const& parentId, QList<QUuid> ids)
{
    if (!mProject)
    {
        return QUuid();
    }
    mUndoStack->beginMacro(QStringLiteral("AddFolder"));
    auto* command = new AddFolderCmd(mProject, name, parentId);
    Push(command);
    if (!ids.isEmpty())
    {
        DoMoveProjectItemsCmd(ids, command->FolderItemId(), -1);
    }
    mUndoStack->endMacro();
    return command->FolderItemId();
}

void ProjectManager::DoMoveProjectItemsCmd(QList<QUuid> ids, QUuid const& destinationId, int index)
{
    if (!mProject || !mProject->MoveDestinationIsValid(ids, destinationId))
    {
        return;
    }
    QList<QUuid> const sorted = mProject->SortProjectItemsForMove(ids);
    mUndoStack->beginMacro(QStringLiteral("MoveProjectItems"));
    for (QUuid const& id : sorted)
    {
        DoMoveProjectItemCmd(id, destinationId, index);
    }
    mUndoStack->endMacro();
}

void ProjectManager::DoMoveProjectItemCmd(QUuid const& id, QUuid const& destinationId, int index)
{
    if (!mProject || id == destinationId)
    {
        return;
    }
    Push(new MoveProjectItemCmd(mProject, id, destinationId, index));
}

void ProjectManager::DoRenameProjectItemCmd(QUuid const& id, QString const& name)
{
    ProjectItem* item = mProject ? mProject->FindItemById(id) : nullptr;
    if (!item || name == item->Name())
    {
        return;
    }
    if (!name.isEmpty())
    {
        Push(new RenameProjectItemCmd(mProject, id, name));
        return;
    }
    if (item->ItemType() == ProjectItemType::SourceTimeline)
    {
        Source const* source = static_cast<TimelineItem*>(item)->SourcePtr();
        if (source && source->MediaName() != item->Name())
        {
            Push(new RenameProjectItemCmd(mProject, id, source->MediaName()));
        }
    }
}

void ProjectManager::DoDeleteFolderCmd(QUuid const& id)
{
    // Through the selection delete, so that the timelines and sources below
    // the folder leave the project's maps as well.
    if (FindFolderById(id))
    {
        DoDeleteProjectObjectsCmd({id}, {}, {});
    }
}

QUuid ProjectManager::DoAddTimelineCmd(QString const& name, QUuid const& parentId)
{
    if (!mProject)
    {
        return QUuid();
    }
    auto* command = new AddTimelineCmd(mProject, name, parentId);
    Push(command);
    return command->TimelineItemId();
}

// ---- Deleting timelines and sources ----

void ProjectManager::DoDeleteTimelineCmd(QUuid const& id)
{
    TimelineItem* item = mProject ? mProject->FindTimelineById(id, false) : nullptr;
    if (!item || !item->TimelinePtr())
    {
        return;
    }
    mUndoStack->beginMacro(QStringLiteral("DeleteTimeline"));
    if (item->TimelinePtr()->OutputId() >= 0)
    {
        DoOpenTimelineInViewerCmd(QUuid(), item->TimelinePtr()->OutputId());
    }
    ClearTimelineAudioOverridesUsingId(id);
    Push(new DeleteTimelineCmd(mProject, id));
    mUndoStack->endMacro();
}

void ProjectManager::ClearTimelineAudioOverridesUsingId(QUuid const& id)
{
    if (!mProject)
    {
        return;
    }
    for (TimelineItem* item : mProject->FindTimelinesWithAudioOverride(id))
    {
        DoSetAudioOverrideCmd(item->TimelinePtr(), QUuid());
    }
}

void ProjectManager::DoDeleteSourceTimelineCmd(QUuid const& id)
{
    TimelineItem* item = mProject ? mProject->FindSourceTimelineById(id) : nullptr;
    if (!item || !item->TimelinePtr())
    {
        return;
    }
    mUndoStack->beginMacro(QStringLiteral("DeleteSources"));
    if (item->TimelinePtr()->OutputId() >= 0)
    {
        DoOpenTimelineInViewerCmd(QUuid(), item->TimelinePtr()->OutputId());
    }
    ClearTimelineAudioOverridesUsingId(id);
    for (TimelineItem* user : mProject->FindTimelinesContainingSource(id))
    {
        QList<int> indices = user->TimelinePtr()->ClipIndiciesWithSource(id);
        std::sort(indices.begin(), indices.end());
        for (int i = static_cast<int>(indices.size()) - 1; i >= 0; --i)
        {
            Push(new DeleteClipCmd(mProject, user->Id(), indices.at(i)));
        }
    }
    Push(new DeleteSourceTimelineCmd(mProject, id));
    mUndoStack->endMacro();
}

void ProjectManager::DoDeleteProjectObjectsCmd(QSet<QUuid> folders, QSet<QUuid> timelines, QSet<QUuid> sources)
{
    if (!mProject || (folders.isEmpty() && timelines.isEmpty() && sources.isEmpty()))
    {
        return;
    }
    QList<QUuid> topLevel;
    mProject->TopLevelFolderIds(topLevel);
    for (QUuid const& id : QSet<QUuid>(folders))
    {
        if (!topLevel.contains(id))
        {
            continue;
        }
        QList<FolderItem*> children;
        mProject->FindFolderById(id)->ChildFolders(children);
        for (FolderItem* child : std::as_const(children))
        {
            folders.insert(child->Id());
        }
    }
    QSet<QUuid> nested;
    for (QUuid const& id : std::as_const(folders))
    {
        FolderItem* folder = mProject->FindFolderById(id);
        if (!folder || topLevel.contains(id))
        {
            continue;
        }
        for (QUuid const& other : std::as_const(folders))
        {
            if (other != id && mProject->IsDescendentOfFolder(other, folder))
            {
                nested.insert(other);
            }
        }
    }
    folders.subtract(nested);
    for (QUuid const& id : std::as_const(folders))
    {
        FolderItem* folder = mProject->FindFolderById(id);
        if (!folder)
        {
            continue;
        }
        QList<TimelineItem*> items;
        folder->DescendentTimelines(items);
        for (TimelineItem* item : std::as_const(items))
        {
            (item->IsSourceTimeline() ? sources : timelines).insert(item->Id());
        }
    }
    mUndoStack->beginMacro(QStringLiteral("DeleteProjectItems"));
    for (QSet<QUuid> const* set : {&sources, &timelines})
    {
        for (QUuid const& id : *set)
        {
            TimelineItem* item = mProject->FindTimelineById(id, true);
            if (item && item->TimelinePtr() && item->TimelinePtr()->OutputId() >= 0)
            {
                DoOpenTimelineInViewerCmd(QUuid(), item->TimelinePtr()->OutputId());
            }
        }
    }
    for (QUuid const& id : std::as_const(sources))
    {
        DoDeleteSourceTimelineCmd(id);
    }
    for (QUuid const& id : std::as_const(timelines))
    {
        DoDeleteTimelineCmd(id);
    }
    for (QUuid const& id : std::as_const(folders))
    {
        if (!topLevel.contains(id) && mProject->FindFolderById(id))
        {
            Push(new DeleteFolderCmd(mProject, id));
        }
    }
    mUndoStack->endMacro();
}

// ---- Clips ----

void ProjectManager::DoInsertClipCmd(Timeline* timeline, Clip* clip, int index)
{
    if (!timeline || timeline->IsSourceTimeline() || !clip)
    {
        return;
    }
    QUuid const id = TimelineItemId(timeline);
    if (id.isNull())
    {
        return;
    }
    Push(new InsertClipCmd(mProject, id, clip->Duplicate(nullptr, false), index));
}

void ProjectManager::DoInsertClipsCmd(Timeline* timeline, QList<QUuid> const& sourceTimelineIds, int index)
{
    if (!mProject || !timeline || timeline->IsSourceTimeline())
    {
        return;
    }
    QList<Clip*> clips;
    for (QUuid const& id : sourceTimelineIds)
    {
        TimelineItem* item = mProject->FindSourceTimelineById(id);
        if (item && item->SourceClip())
        {
            clips.append(item->SourceClip());
        }
    }
    if (clips.isEmpty())
    {
        return;
    }
    if (index >= 0)
    {
        std::reverse(clips.begin(), clips.end());
    }
    mUndoStack->beginMacro(QStringLiteral("InsertClips"));
    for (Clip* clip : std::as_const(clips))
    {
        DoInsertClipCmd(timeline, clip, index);
    }
    mUndoStack->endMacro();
}

void ProjectManager::DoDeleteClipCmd(Timeline* timeline, int index)
{
    QUuid const id = TimelineItemId(timeline);
    if (!id.isNull())
    {
        Push(new DeleteClipCmd(mProject, id, index));
    }
}

void ProjectManager::DoDeleteClipsCmd(Timeline* timeline, QList<int>& indices)
{
    if (!timeline || indices.isEmpty())
    {
        return;
    }
    std::sort(indices.begin(), indices.end(), std::greater<int>());
    mUndoStack->beginMacro(QStringLiteral("DeleteClips"));
    int previous = -1;
    for (int i = 0; i < indices.size(); ++i)
    {
        // A repeated index would delete the clip that moved into its place.
        if (i > 0 && indices.at(i) == previous)
        {
            continue;
        }
        previous = indices.at(i);
        DoDeleteClipCmd(timeline, previous);
    }
    mUndoStack->endMacro();
}

void ProjectManager::DoSetClipOrderCmd(Timeline* timeline, QList<QUuid> const& clipIds)
{
    QUuid const id = TimelineItemId(timeline);
    // A sort of a sorted list or a block dropped where it was changes nothing:
    // it is no step to undo and leaves the project unmodified.
    if (!id.isNull() && timeline->OrderedClipIds() != clipIds)
    {
        Push(new SetClipOrderCmd(mProject, id, clipIds));
    }
}

void ProjectManager::DoSetAudioOverrideCmd(Timeline* timeline, QUuid const& overrideId)
{
    QUuid const id = TimelineItemId(timeline);
    if (!id.isNull())
    {
        Push(new SetAudioOverrideCmd(mProject, id, overrideId));
    }
}

// ---- Playback range and bookmarks ----

void ProjectManager::DoSetPlaybackRangeCmd(Timeline* timeline, int start, int end, int previousStart, int previousEnd)
{
    QUuid const id = TimelineItemId(timeline);
    if (id.isNull())
    {
        return;
    }
    Push(new SetPlaybackRangeByFrameCmd(mProject, id, start, end, previousStart, previousEnd));
}

void ProjectManager::DoInsertFrameBookmarkCmd(Timeline* timeline, int frame)
{
    QUuid const id = TimelineItemId(timeline);
    if (!id.isNull())
    {
        Push(new InsertFrameBookmarkCmd(mProject, id, frame));
    }
}

void ProjectManager::DoRemoveFrameBookmarkCmd(Timeline* timeline, int frame)
{
    QUuid const id = TimelineItemId(timeline);
    if (!id.isNull())
    {
        Push(new RemoveFrameBookmarkCmd(mProject, id, frame));
    }
}

void ProjectManager::ToggleFrameBookmark(Timeline* timeline, int frame)
{
    if (!timeline)
    {
        return;
    }
    if (timeline->FrameBookmarkAt(frame))
    {
        DoRemoveFrameBookmarkCmd(timeline, frame);
    }
    else
    {
        DoInsertFrameBookmarkCmd(timeline, frame);
    }
}

void ProjectManager::DoToggleRangeBookmarkCmd(Timeline* timeline, int start, int end)
{
    QUuid const id = TimelineItemId(timeline);
    if (!id.isNull())
    {
        Push(new ToggleRangeBookmarkCmd(mProject, id, start, end));
    }
}

void ProjectManager::RemoveBookmarks(Timeline* timeline, bool frames, bool ranges, bool withinRange, QString name)
{
    if (!timeline)
    {
        return;
    }
    QList<int> frameList;
    if (frames)
    {
        int const start = withinRange ? timeline->PlaybackRangeStartFrame() : 0;
        int const end = withinRange ? timeline->PlaybackRangeEndFrame() : timeline->EndFrame();
        for (FrameBookmark const* bookmark : timeline->FrameBookmarkList())
        {
            if (bookmark->timelineFrame >= start && bookmark->timelineFrame <= end)
            {
                frameList.append(bookmark->timelineFrame);
            }
        }
    }
    QList<QPair<int, int>> rangeList;
    if (ranges)
    {
        for (RangeBookmark const* range : timeline->RangeBookmarkList())
        {
            rangeList.append({range->startFrame, range->endFrame});
        }
    }
    if (frameList.isEmpty() && rangeList.isEmpty())
    {
        return;
    }
    mUndoStack->beginMacro(name);
    for (int frame : std::as_const(frameList))
    {
        DoRemoveFrameBookmarkCmd(timeline, frame);
    }
    for (auto const& range : std::as_const(rangeList))
    {
        DoToggleRangeBookmarkCmd(timeline, range.first, range.second);
    }
    mUndoStack->endMacro();
}

// ---- Engine hand-offs and relays ----

void ProjectManager::OnParseSourceRequested(TimelineItem* item)
{
    if (item && item->TimelinePtr())
    {
        mAvManager->ParseSource(item->TimelinePtr());
    }
}

void ProjectManager::OnSourceTimestampRestartFound(Source* source)
{
    if (!mProject || !source)
    {
        return;
    }
    // Not from inside a wait for a parse: what waits holds the project's items.
    QPointer<Source> const guarded(source);
    if (DeferWhileParsing([this, guarded] { OnSourceTimestampRestartFound(guarded.data()); }))
    {
        return;
    }
    QMap<QUuid, TimelineItem*> const& items = mProject->SourceTimelines();
    for (TimelineItem* item : items)
    {
        if (item && item->SourcePtr() == source)
        {
            Logger::GetInstance()->Info(
                QStringLiteral("Re-timing source, its video timestamps step back midway: %1").arg(source->MediaPath()));
            mProject->RefreshSource(item);
            return;
        }
    }
}

void ProjectManager::OnParseSourceActiveStateChanged(bool active)
{
    emit BlockUserInputChanged(active);
    if (!active && !mDeferredRequests.isEmpty())
    {
        // Outside the wait's own call stack.
        QTimer::singleShot(0, this, &ProjectManager::RunDeferredRequests);
    }
}

void ProjectManager::UpdateAudioOverride(Timeline* timeline)
{
    if (!timeline)
    {
        return;
    }
    TimelineItem* item =
        mProject ? mProject->FindTimelineById(timeline->AudioOverrideTimelineId(), true) : nullptr;
    timeline->SetAudioOverrideTimeline(item ? item->TimelinePtr() : nullptr);
}

void ProjectManager::PausePlayback()
{
    if (mAvManager->IsPlaying())
    {
        mAvManager->Pause(DecodeBias::None);
    }
}

void ProjectManager::RefreshCache()
{
    mAvManager->RefreshCache();
}

void ProjectManager::OnUndoCleanChanged()
{
    emit UndoCleanChanged();
}

void ProjectManager::OnProjectUpdated()
{
    emit ProjectUpdated();
}

void ProjectManager::OnFolderUpdated(QUuid const& id)
{
    emit FolderUpdated(id);
}

void ProjectManager::OnTimelineUpdated(QUuid const& id)
{
    emit TimelineUpdated(id);
}

void ProjectManager::OnDefaultTimelineChanged(QUuid const& id)
{
    emit DefaultTimelineChanged(id);
}

void ProjectManager::OnProjectPathChanged(QString const& path)
{
    emit ProjectPathChanged(path);
}

void ProjectManager::OnSourceRootDirPathChanged(QString const& path)
{
    emit SourceRootDirPathChanged(path);
}

// ---- Client API ----

void ProjectManager::OutputAppDetails() const
{
    QStringList monitors;
    for (QScreen const* screen : QGuiApplication::screens())
    {
        monitors.append(QStringLiteral("%1x%2 (%3)")
                            .arg(screen->size().width())
                            .arg(screen->size().height())
                            .arg(QString::number(screen->devicePixelRatio(), 'g', QLocale::FloatingPointShortest)));
    }
    QSurfaceFormat const format = QSurfaceFormat::defaultFormat();
    Logger* const logger = Logger::GetInstance();
    logger->Output(QStringLiteral("%1 v%2\n\n").arg(Settings::applicationTitle, Settings::applicationVersion));
    logger->Output(QStringLiteral("%1 %2\n").arg(QSysInfo::productType(), QSysInfo::productVersion()));
    logger->Output(Settings::rendererInfo);
    logger->Output(QStringLiteral("Monitors: %1\n").arg(monitors.join(QStringLiteral(" : "))));
    logger->Output(QStringLiteral("Cache Size: %1\n").arg(Settings::cacheSize));
    logger->Output(QStringLiteral("VSync: %1 (%2)\n").arg(format.swapInterval()).arg(int(format.swapBehavior())));
    logger->Output(QStringLiteral("GTC: %1 (%2)\n")
                       .arg(int(Settings::globalTimeControlVisible))
                       .arg(int(Settings::globalTimeControlPositionTop)));
    logger->Output(QStringLiteral("RTC: %1 (%2)\n")
                       .arg(int(Settings::rangeTimeControlVisible))
                       .arg(int(Settings::rangeTimeControlPositionTop)));
    logger->Output(QStringLiteral("Port: %1 (%2)\n").arg(Settings::clientApiPort).arg(int(Settings::clientApiPortEnabled)));
    logger->Output(QStringLiteral("Maya CommandPort: %1\n").arg(Settings::mayaCommandPort));
}
