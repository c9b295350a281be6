#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <functional>

class ProjectManager;
class QMessageBox;
class ProjectTreeWidget;
class QAction;
class QTimer;
class QTreeWidgetItem;
class FolderItem;
class TimelineItem;
class ProjectTreeWidgetItem;

// The project browser: owns the project tree, keeps its rows in step with the
// project, offers the tree's context menu and the user-level project commands.
// It only chooses paths, collects ids and forwards: every change of the project
// goes through the project manager. Every command that shows a file chooser has
// a twin that takes the path. GUI thread only.
class ProjectPanel : public QWidget
{
    Q_OBJECT

public:
    ProjectPanel(ProjectManager* projectManager, QWidget* parent);

    ProjectTreeWidget* TreeWidget() const;
    bool CanRename() const;
    static QString MostRecentPathAlias();
    // The context menu the tree's selection would show, without running it.
    QList<QAction*> ContextMenuActions();
    // True while a question about the project (unsaved changes, a project
    // file changed on disk) is open; QuestionAnswered follows its end.
    bool IsAsking() const;

public Q_SLOTS:
    // Project
    void NewProject();
    void OpenProject();
    void OpenProjectByPath(QString const& path);
    void ImportProject();
    // Both return whether the project was written; Save As of an untitled
    // project asks for a path first.
    bool SaveProject();
    bool SaveProjectAs();
    // The twin of Save As: a name without the project extension gets it; when
    // that names an existing file, the user is asked whether to replace it.
    bool SaveProjectAsByPath(QString const& path);
    // Asked before anything replaces or closes the project: true when it may
    // go. Whether the user is asked follows Settings::confirmOnClose; "Save"
    // goes on only when the project was written, "Cancel" changes nothing
    // (a window that left full screen to ask goes back to it). Refused
    // while another question is open: one question at a time.
    bool ConfirmProjectClose();

    // Tree content
    void NewFolder();
    void NewTimeline();
    void DeleteItems();
    void ApplicationDelete();
    // Rebuilds the rows now. Project updates only schedule a rebuild (one for a
    // whole batch of them, once control returns to the event loop).
    void RefreshProject();
    void FlushPendingRefresh();
    void RefreshFolder(QUuid const& id);
    void RefreshTimeline(QUuid const& id);
    void SetDefaultTimeline(QUuid const& id);
    void UpdatePanelName();
    void OnSetDefaultTimelineRequested();
    void OnTreeWidgetItemChanged(QTreeWidgetItem* item);

    // Import
    void ImportFile();
    void ImportFiles();
    void ImportFolder();
    void ImportFilesByPath(QList<QString> const& paths, QUuid const& folderId, int index, int viewerSlot,
                           int viewerCount, bool play, QUuid timelineId, int insertIndex, int insertIndex2);
    void ImportFilesByUrl(QList<QUrl> const& urls, QUuid const& folderId, int index, int viewerSlot, int viewerCount,
                          bool play);
    void ImportFilesByUrlToTimeline(QList<QUrl> const& urls, QUuid const& timelineId, int insertIndex,
                                    int insertIndex2);
    void ImportFolderByPath(QString const& path, QUuid parentId);
    void ImportFoldersByUrl(QList<QUrl> const& urls, QUuid const& parentId);

    // Viewer slots
    void OpenUrlsInViewer(QList<QUrl> const& urls, int viewerSlot, int viewerCount, bool play);
    void OpenTimelineInViewer(QUuid const& id, int viewerSlot);
    void OpenTimelinesInViewer(QList<QUuid> const& ids, int viewerSlot);
    void OpenFolderInViewer(QUuid const& folderId, int viewerSlot);
    void OpenTimelineInViewerFromSender();
    void RemoveTimelineFromViewer();
    void SwapABViewerTimelines();
    void ClearAllViewerTimelines();

    // Sources
    void RefreshSource();
    void ReplaceSource(QUuid const& id);
    void ReplaceSourceByPaths(QUuid const& id, QList<QString> const& paths);
    void ReplaceSourceFromSender();
    void ReplaceSourceOrvel();
    void DuplicateSource(QUuid const& id);
    void DuplicateSourceFromSender();
    void ShowDuplicateSourceOptionsDialog();
    void ShowInFolder();
    void CopyPathToClipboard();
    void SaveSourceAs();
    // Copies the source file of a source timeline to target; false when nothing
    // was written. The source itself is never lost.
    bool SaveSourceAsByPath(QUuid const& sourceTimelineId, QString const& target);

    void SetDialogsEnabled(bool enabled);
    // The player edition has no browser: its file commands replace the
    // project with the file they open. The browser's imports add to it.
    void SetImportReplacesProject(bool replaces);
    void ShowContextMenu(QPoint const& position);

Q_SIGNALS:
    void ProjectNameChanged(QString const& name);
    void DragInProgressStateChanged(bool inProgress);
    void FocusChanged(bool hasFocus);
    // The project close question needs a dialog while dialogs are refused
    // (full screen): the window is asked to leave full screen first.
    void LeaveFullscreenRequested();
    // The project was kept after full screen was left to ask about it.
    void ReturnToFullscreenRequested();
    void QuestionAnswered();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;

private Q_SLOTS:
    // Rebuilds the rows soon: at once when idle, at most every
    // PARSE_REFRESH_INTERVAL_MS while sources are being parsed.
    void ScheduleRefresh();
    void OnDragInProgressStateChanged(bool inProgress);
    void OnFocusChanged(bool hasFocus);

private:
    void BuildContextMenu(QList<QAction*>& actions);
    void AddFolderRow(FolderItem* folder, ProjectTreeWidgetItem* parentRow);
    void AddTimelineRow(TimelineItem* timeline, ProjectTreeWidgetItem* parentRow);
    void FillTimelineRow(ProjectTreeWidgetItem* row, TimelineItem* timeline);
    void ImportDirectoryContent(QString const& path, QUuid const& folderId);
    QUuid SenderId() const;
    QUuid CurrentFolderId() const;
    // The source timeline a source command acts on: the sending action's row,
    // else the viewer's primary timeline when it is a source timeline.
    QUuid SourceTarget() const;
    QString GetOpenProjectFilePath(QString const& title);
    // The path a project is saved to, with the extension; an existing file is
    // asked about.
    QString GetSaveProjectFilePath(QString const& title);
    static QString WithProjectExtension(QString const& path);
    // Whether to replace the existing file the project would be saved to.
    bool ConfirmReplaceProjectFile(QString const& path);
    // Whether to save over a project file that changed on disk meanwhile.
    bool AskOverwriteChangedProjectFile(QString const& path);
    // The question a client's project replacement waits for: asked once no
    // other question is open, after the caller has returned.
    void AskToReplaceProject(std::function<void(bool)> answer);
    void AskHeldReplaceQuestions();
    // The client whose import asked has gone: its question, held or open,
    // is answered no (an open one closes as if cancelled).
    void OnReplaceProjectQuestionWithdrawn();
    void EndQuestion();
    QList<QString> GetImportFilePaths(QString const& title, bool single);
    QString GetImportFolderPath(QString const& title);
    QString GetSaveSourceAsPath(QString const& title, QString const& sourcePath);

    ProjectManager* mProjectManager;
    ProjectTreeWidget* mTree;
    QAction* mNewFolderAction;
    QAction* mNewTimelineAction;
    QAction* mImportFilesAction;
    QAction* mImportFolderAction;
    QAction* mOpenInViewerAAction;
    QAction* mOpenInViewerBAction;
    QAction* mRemoveFromViewerAction;
    QAction* mRenameAction;
    QAction* mRefreshAction;
    QAction* mReplaceAction;
    QAction* mDuplicateAction;
    QAction* mDuplicateOptionsAction;
    QAction* mSetDefaultAction;
    QAction* mShowInFolderAction;
    QAction* mCopyPathAction;
    QAction* mSaveSourceAsAction;
    QAction* mDeleteAction;
    QUuid mDefaultTimelineId;
    bool mDialogsEnabled = true;
    bool mImportReplacesProject = false;
    bool mContextMenuOpen = false;
    int mOpenQuestions = 0;
    QList<std::function<void(bool)>> mHeldReplaceQuestions;
    // True while a client's replace question is being asked; the unsaved
    // changes box while it is open.
    bool mAskingForClient = false;
    QPointer<QMessageBox> mProjectCloseBox;
    QTimer* mRenameTimer;
    QTimer* mRefreshTimer;
};
