#pragma once

#include "model/ParseSourceData.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUuid>

#include <atomic>
#include <functional>
#include <memory>

class AvManager;
class Clip;
class CmdServer;
class FolderItem;
class Project;
class ProjectItem;
class QUndoCommand;
class QTcpSocket;
class QUndoStack;
class Source;
class Timeline;
class TimelineItem;
struct ExportProperties;
struct SnapshotProperties;

// The one front object through which the user interface and the client API
// reach the project. It owns the media engine, the command server, the undo
// stack and the current project; every edit the user can undo goes through
// it as a command. Main thread only.
class ProjectManager : public QObject
{
    Q_OBJECT

public:
    explicit ProjectManager(QObject* parent = nullptr);
    ~ProjectManager() override;

    // ---- Construction and teardown ----
    void Shutdown();
    AvManager* AvManagerPtr() const;
    QUndoStack* UndoStackPtr() const;
    // The current project; null only before the first NewProject.
    Project* ProjectPtr() const;
    // Starts the client API on the local port.
    void InitializeCmdServer(int port);
    CmdServer* CmdServerPtr() const;

    // ---- Projects ----
    // A request that would replace the project while sources are being parsed
    // (from another instance or a client) is run once the parse has ended.
    void NewProject(bool);
    bool OpenProject(QString const& path);
    bool ImportProject(QString const& path, bool open);
    // A project file that changed on disk since this project read or wrote it
    // (another player saved it) is overwritten only when the question says
    // so; without a question it is never overwritten.
    bool SaveProject();
    // Saves the project to another file, which becomes its path and name only
    // once it has been written: a save that fails leaves both as they were.
    bool SaveProjectAs(QString const& path);
    // Asked with the project path; true overwrites the other version. The
    // window provides it: the model shows no dialogs.
    void SetOverwriteChangedFileQuestion(std::function<bool(QString const&)> question);
    // Asked before a client command replaces the project: the window's
    // Save / Discard / Cancel question, answered later through the function
    // it is given (true lets the project go). The window provides it and
    // holds the question while another one is open; without it, only a
    // project without unsaved changes is replaced.
    using ReplaceProjectQuestion = std::function<void(std::function<void(bool)> answer)>;
    void SetReplaceProjectQuestion(ReplaceProjectQuestion question);
    bool IsUndoClean() const;
    // True when edits of the user are unsaved: those on the undo stack, those
    // a client command took off it, and each timeline's own. What client
    // commands changed themselves does not count (IsUndoClean does).
    bool HasUnsavedUserEdits() const;
    void SetUndoClean();
    // What a client command that changes the project outside the undo stack
    // does: the stack is cleared and the project reports unsaved changes.
    void ClearUndoStackAndSetModified();
    void UndoBeginMacro(QString const& name);
    void UndoEndMacro();

    // ---- Forwarders to the current project ----
    void SetProjectPath(QString const& path);
    void SetSourceRootDirPath(QString const& path, bool relink);
    QString ProjectName() const;
    void SetImageSequenceFrameRate(double rate);
    double ImageSequenceFrameRate() const;
    void SetTimeControlFrameOffset(int offset);
    int TimeControlFrameOffset() const;
    void SetNotes(QString const& notes);
    QString Notes() const;
    void TopLevelFolderIds(QList<QUuid>& ids) const;
    FolderItem* FindFolderById(QUuid const& id) const;
    QUuid DefaultTimelineId() const;
    void SetDefaultTimeline(QUuid const& id);
    bool MediaPathExistsInProject(QString const& path) const;
    QUuid SourceTimelineIdWithMediaPath(QString path) const;
    bool SourceParsingInProgress() const;
    bool IsMoveProjectItemDestinationValid(QList<QUuid> const& ids, QUuid const& destinationId) const;

    // ---- Queries ----
    QUuid ProjectFolderId() const;
    QUuid TimelineFolderId() const;
    QUuid SourceTimelineFolderId() const;
    TimelineItem* FindTimelineById(QUuid const& id) const;
    TimelineItem* PrimaryTimelineItem() const;
    bool PrimaryTimelineWidthHeight(int& width, int& height);
    int PrimaryTimelineFrameCount() const;
    int DefaultTimelineClipCount() const;
    QString SourcePath(QUuid const& id) const;
    bool IsImageSequence(QUuid const& id) const;
    void ShowInFolder(QUuid const& id) const;
    void CopySourcePathToClipboard(QUuid const& id) const;

    // ---- Sources ----
    // Imports media paths as sources. A path ending in "@" was already checked
    // by the caller and skips the media-type test.
    void ImportFilesByPath(QList<QString> const& paths, QUuid const& parentId, int index, int viewerIndex,
                           int viewerCount, bool play, QUuid targetTimelineId, int, int targetClipIndex,
                           bool groupImageSequences);
    void DoAddSourceTimelinesCmd(QList<ParseSourceData> const& dataList);
    void ReplaceSource(QUuid const& id, QList<QString> const& paths);
    void RefreshSource(QUuid const& id);
    void DuplicateSource(QUuid const& id);
    void DoDuplicateSourceCmd(QUuid const& id);
    void SetFolderExpanded(QUuid const& id, bool expanded);

    // ---- Viewer ----
    void DoOpenTimelinesInViewerCmd(QList<QUuid> const& ids, int startSlot, bool keepPreviousOutput);
    void DoOpenTimelineInViewerCmd(QUuid const& id, int slot);
    void SwapABViewerTimelines();
    void ClearAllViewerTimelines();

    // ---- Folders and tree ----
    QUuid DoAddFolderCmd(QString const& name, QUuid const& parentId, QList<QUuid> ids);
    void DoMoveProjectItemsCmd(QList<QUuid> ids, QUuid const& destinationId, int index);
    void DoMoveProjectItemCmd(QUuid const& id, QUuid const& destinationId, int index);
    void DoRenameProjectItemCmd(QUuid const& id, QString const& name);
    void DoDeleteFolderCmd(QUuid const& id);
    QUuid DoAddTimelineCmd(QString const& name, QUuid const& parentId);

    // ---- Deleting timelines and sources ----
    void DoDeleteTimelineCmd(QUuid const& id);
    void ClearTimelineAudioOverridesUsingId(QUuid const& id);
    void DoDeleteSourceTimelineCmd(QUuid const& id);
    void DoDeleteProjectObjectsCmd(QSet<QUuid> folders, QSet<QUuid> timelines, QSet<QUuid> sources);

    // ---- Clips ----
    void DoInsertClipCmd(Timeline* timeline, Clip* clip, int index);
    void DoInsertClipsCmd(Timeline* timeline, QList<QUuid> const& sourceTimelineIds, int index);
    void DoDeleteClipCmd(Timeline* timeline, int index);
    // Sorts the caller's list in place, highest first.
    void DoDeleteClipsCmd(Timeline* timeline, QList<int>& indices);
    void DoSetClipOrderCmd(Timeline* timeline, QList<QUuid> const& clipIds);
    void DoSetAudioOverrideCmd(Timeline* timeline, QUuid const& overrideId);

    // ---- Playback range and bookmarks ----
    // A previous value of -1 takes the timeline's current one.
    void DoSetPlaybackRangeCmd(Timeline* timeline, int start, int end, int previousStart, int previousEnd);
    void DoInsertFrameBookmarkCmd(Timeline* timeline, int frame);
    void DoRemoveFrameBookmarkCmd(Timeline* timeline, int frame);
    void ToggleFrameBookmark(Timeline* timeline, int frame);
    void DoToggleRangeBookmarkCmd(Timeline* timeline, int start, int end);
    void RemoveBookmarks(Timeline* timeline, bool frames, bool ranges, bool withinRange, QString name);

    // Writes the application's details to the log.
    void OutputAppDetails() const;

public Q_SLOTS:
    void OnExecuteCmd(QString const& command);
    void OpenInViewer(QUuid const& id, int slot);
    void OpenInViewerReplace(QUuid const& id, int slot);
    void OnParseSourceRequested(TimelineItem* item);
    // A source's timestamps step back where its parse did not look: it is
    // read again, in place, keeping its state, and timed anew.
    void OnSourceTimestampRestartFound(Source* source);
    void OnParseSourceActiveStateChanged(bool active);
    void UpdateAudioOverride(Timeline* timeline);
    void PausePlayback();
    void RefreshCache();
    void OnUndoCleanChanged();
    void OnProjectUpdated();
    void OnFolderUpdated(QUuid const& id);
    void OnTimelineUpdated(QUuid const& id);
    void OnDefaultTimelineChanged(QUuid const& id);
    void OnProjectPathChanged(QString const& path);
    void OnSourceRootDirPathChanged(QString const& path);
    void OnSourceParseAbandoned(TimelineItem* item);

Q_SIGNALS:
    void ProjectUpdated();
    void FolderUpdated(QUuid const& id);
    void TimelineUpdated(QUuid const& id);
    void ProjectPathChanged(QString const& path);
    void SourceRootDirPathChanged(QString const& path);
    void DefaultTimelineChanged(QUuid const& id);
    void UndoCleanChanged();
    void ResizeViewerRequested(int width, int height);
    void ViewerLayoutChangeRequested(int layout, int rows, int columns);
    void ClientApiFrameChangeRequested();
    // The client whose import waits for the replace question has gone: the
    // question is void, and the import was dropped.
    void ReplaceProjectQuestionWithdrawn();
    void BlockUserInputChanged(bool block);
    // An export or a snapshot series asked for outside the monitor (the main
    // window hands them to it); nothing in the project changes.
    void ExportRequested(ExportProperties const& properties);
    void AdvancedSnapshotRequested(SnapshotProperties const& properties);

private:
    void Push(QUndoCommand* command);
    // Deletes the project (now, or once control returns to the event loop),
    // or, while an engine task left running may still read it, hands it to
    // the engine to delete once that task has ended.
    void ReleaseProject(bool now);
    // Ends the engine's work on the open project and lets it go.
    void ReleaseOpenProject();
    // Makes the project the open one: connects it, announces it, and starts
    // with nothing to undo and nothing unsaved.
    void AdoptProject(Project* project);
    // A new project holding the one source, made and parsed beside the open
    // project, which stays as it is until the parse has succeeded: only then
    // does the new project replace it, with the source placed as an import
    // places it. False, with the reason, when the source did not parse.
    bool ReplaceProjectWithParsedSource(ParseSourceData const& data, QString& reason);
    // After the parse of added sources: clips on the target and default
    // timelines, the viewer's size, the viewer slot.
    void PlaceAddedSources(QList<ParseSourceData> const& dataList, TimelineItem* defaultItem);
    // True while a parse runs that requests replacing the project must wait
    // for (the open project's, or that of a new project being made).
    bool ParseWaitInProgress() const;
    QUuid TimelineItemId(Timeline* timeline) const;
    // True (and the call queued) when sources are being parsed: the request
    // runs once the parse has ended, never inside the wait.
    bool DeferWhileParsing(std::function<void()> request);
    void RunDeferredRequests();
    // Ends decoding in an output and waits until no worker of it runs.
    void EndOutputDecoding(int slot);
    // An item taken out of the project for good goes to the engine, which
    // closes its timelines and deletes it once no task can use it.
    void ReleaseTakenOutItem(ProjectItem* item);

    // Client commands: RunClientCmd dispatches one message and returns the
    // reply text; each handler reads its request, inserts its result members
    // into the reply and returns whether the command succeeded.
    QString RunClientCmd(QString const& command);
    // The failure step, the serialised reply and what every reply does to
    // the undo stack.
    QString FinishClientReply(QJsonObject reply, QString const& name, bool success);
    // An import's media is probed on a thread of the pool first: true when
    // the command waits for that (reading held), to run once the answer is
    // in (RunProbedImport).
    bool ProbeImportedMedia(QString const& command, QPointer<QTcpSocket> const& sender);
    void RunProbedImport(QString const& command, QPointer<QTcpSocket> const& sender, QString const& mediaPath,
                         bool opens, QString const& reason);
    // Whether the probe found the media path openable.
    bool ProbedMediaOpens(QString const& mediaPath) const;
    // Runs a client command as it came (held while sources are parsed).
    void ExecuteClientCmd(QString const& command, QPointer<QTcpSocket> const& sender);
    // A command held (reading stopped) while sources are parsed or a question
    // is open runs now and is answered to the client that sent it.
    void RunHeldClientCmd(QString const& command, QPointer<QTcpSocket> const& sender);
    // Runs a command now, answered to its sender, or opens the replace
    // question for an import over unsaved work.
    void DispatchClientCmd(QString const& command, QPointer<QTcpSocket> const& sender);
    // While the replace question is open: read-only commands run, the ones
    // that change the player fail at once.
    QString RunClientCmdBesideQuestion(QString const& command);
    // Whether the command is an import that would replace the project: it
    // waits for the replace question first.
    bool ReplacesProject(QString const& command) const;
    void AskToReplaceProject(QString const& command, QPointer<QTcpSocket> const& sender);
    void AnswerReplacingClientCmd(QString const& command, QPointer<QTcpSocket> const& sender, bool replace);
    // The asking client has gone while its import waits for the question.
    void DropReplacingClientCmd(QString const& command);
    struct ClientCmd;
    static ClientCmd const* FindClientCmd(QString const& name);
    bool CmdEcho(QJsonObject const& request, QJsonObject& reply);
    bool CmdInitialize(QJsonObject const& request, QJsonObject& reply);
    bool CmdGetConfig(QJsonObject const& request, QJsonObject& reply);
    bool CmdSetPlaying(QJsonObject const& request, QJsonObject& reply);
    bool CmdIsAutoplay(QJsonObject const& request, QJsonObject& reply);
    bool CmdImportFile(QJsonObject const& request, QJsonObject& reply);
    bool CmdGetFrame(QJsonObject const& request, QJsonObject& reply);
    bool CmdSetFrame(QJsonObject const& request, QJsonObject& reply);
    bool CmdGetRange(QJsonObject const& request, QJsonObject& reply);
    bool CmdSetRange(QJsonObject const& request, QJsonObject& reply);

    AvManager* mAvManager = nullptr;
    Project* mProject = nullptr;
    CmdServer* mCmdServer = nullptr;
    QUndoStack* mUndoStack = nullptr;
    bool mModified = false;
    // Set when a client command took unsaved edits of the user off the undo
    // stack; cleared with mModified by a save or a new project.
    bool mUserEditsUnsaved = false;
    // The new project of a client's import while its source parses beside
    // the open one (ReplaceProjectWithParsedSource); owned by the manager.
    Project* mStagedProject = nullptr;
    QList<std::function<void()>> mDeferredRequests;
    std::function<bool(QString const&)> mOverwriteChangedFileQuestion;
    ReplaceProjectQuestion mReplaceProjectQuestion;
    // Set by a client command handler that changed the project; read when
    // its reply is finished (main thread, like everything here).
    bool mClientCmdChangedProject = false;
    // Set from the moment a client's import asks to replace the project until
    // the answer has been acted on (main thread only).
    bool mReplaceQuestionOpen = false;
    // The media path of the import whose probe came in last, until that
    // import has run, whether it opens and why not (main thread only).
    QString mProbedMediaPath;
    bool mProbedMediaOpens = false;
    QString mProbedMediaReason;
    // Set by the main thread when this manager goes; read by the import
    // probes still running on the thread pool, which end their reads then
    // (the pool is waited for at exit). Shared with them, as they may
    // outlive the manager.
    std::shared_ptr<std::atomic<bool>> mProbesStop = std::make_shared<std::atomic<bool>>(false);
    // The asking client's disconnect, watched while its import waits for the
    // replace question (main thread only).
    QMetaObject::Connection mReplacingClientGone;
    // Set once the asking client's going has been logged and the question
    // withdrawn (main thread only).
    bool mReplacingImportDropped = false;
};
