#include "panels/ProjectPanel.h"

#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/FolderItem.h"
#include "model/ParseSourceData.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"
#include "panels/DuplicateSourceOptionsDialog.h"
#include "panels/ProjectTreeWidget.h"

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <utility>

namespace
{
// While sources are parsed the rows are rebuilt at most this often.
constexpr int PARSE_REFRESH_INTERVAL_MS = 250;
// Remembered for the life of the process, never saved.
QString& LastProjectDir()
{
    static QString dir;
    return dir;
}

QString& LastProjectFilter()
{
    static QString filter = FileHelpers::DefaultProjectFileFilter();
    return filter;
}

QString& LastImportDir()
{
    static QString dir;
    return dir;
}

QString& LastMediaFilter()
{
    static QString filter = FileHelpers::DefaultMediaFileFilter();
    return filter;
}

QString const MOST_RECENT_PATH_ALIAS = QStringLiteral("%MOST_RECENT%");

ProjectTreeWidgetItemFolderType RowFolderType(FolderItem* folder)
{
    if (folder->IsProjectRootFolder())
    {
        return ProjectTreeWidgetItemFolderType::ProjectRoot;
    }
    if (folder->IsTimelinesRootFolder())
    {
        return ProjectTreeWidgetItemFolderType::TimelinesRoot;
    }
    if (folder->IsSourcesRootFolder())
    {
        return ProjectTreeWidgetItemFolderType::SourcesRoot;
    }
    return ProjectTreeWidgetItemFolderType::UserFolder;
}

// Turns an import, an undo macro or a menu into one scope.
class MacroScope
{
public:
    MacroScope(ProjectManager* manager, QString const& name)
        : mManager(manager)
    {
        mManager->UndoBeginMacro(name);
    }
    ~MacroScope() { mManager->UndoEndMacro(); }

private:
    ProjectManager* mManager;
};
} // namespace

ProjectPanel::ProjectPanel(ProjectManager* projectManager, QWidget* parent)
    : QWidget(parent)
    , mProjectManager(projectManager)
{
    mTree = new ProjectTreeWidget(projectManager, this);
    mTree->header()->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(mTree);

    // An import or its undo reports every source on its own: the rows are
    // rebuilt once for the batch.
    mRefreshTimer = new QTimer(this);
    mRefreshTimer->setSingleShot(true);
    mRefreshTimer->setInterval(0);
    connect(mRefreshTimer, &QTimer::timeout, this, &ProjectPanel::RefreshProject);
    connect(mProjectManager, &ProjectManager::ProjectUpdated, this, &ProjectPanel::ScheduleRefresh);
    connect(mProjectManager, &ProjectManager::BlockUserInputChanged, this, [this](bool blocked) {
        // A rebuild asked for just before a parse (an undo step that reads
        // its sources again) waits for the parse like one asked for during it.
        if (mRefreshTimer->isActive())
        {
            mRefreshTimer->start(blocked ? PARSE_REFRESH_INTERVAL_MS : 0);
        }
    });
    connect(mProjectManager, &ProjectManager::FolderUpdated, this, &ProjectPanel::RefreshFolder);
    connect(mProjectManager, &ProjectManager::TimelineUpdated, this, &ProjectPanel::RefreshTimeline);
    connect(mProjectManager, &ProjectManager::DefaultTimelineChanged, this, &ProjectPanel::SetDefaultTimeline);
    connect(mProjectManager, &ProjectManager::ProjectPathChanged, this, &ProjectPanel::UpdatePanelName);
    connect(mProjectManager, &ProjectManager::ReplaceProjectQuestionWithdrawn, this,
            &ProjectPanel::OnReplaceProjectQuestionWithdrawn);
    connect(mTree, &ProjectTreeWidget::ImportFilesByUrlRequested, this, &ProjectPanel::ImportFilesByUrl);
    connect(mTree, &ProjectTreeWidget::ImportFoldersByUrlRequested, this, &ProjectPanel::ImportFoldersByUrl);
    connect(mTree, &ProjectTreeWidget::OpenInViewerRequested, this,
            [this](QUuid const& id, int slot, bool) { OpenTimelineInViewer(id, slot); });
    connect(mTree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) { OnTreeWidgetItemChanged(item); });
    connect(mTree, &ProjectTreeWidget::DragInProgressStateChanged, this, &ProjectPanel::OnDragInProgressStateChanged);
    connect(mTree, &ProjectTreeWidget::FocusChanged, this, &ProjectPanel::OnFocusChanged);
    connect(mTree, &ProjectTreeWidget::MoveProjectItemsRequested, mProjectManager,
            &ProjectManager::DoMoveProjectItemsCmd);

    auto const make = [this](QString const& text) { return new QAction(text, this); };
    mNewFolderAction = make(tr("New Folder"));
    mNewTimelineAction = make(tr("New Timeline"));
    mImportFilesAction = make(tr("Import File(s)..."));
    mImportFolderAction = make(tr("Import Folder..."));
    mOpenInViewerAAction = make(tr("Open in Viewer A"));
    mOpenInViewerBAction = make(tr("Open in Viewer B"));
    mRemoveFromViewerAction = make(tr("Remove From Viewer"));
    mRenameAction = make(tr("Rename"));
    mRefreshAction = make(tr("Refresh"));
    mReplaceAction = make(tr("Replace..."));
    mDuplicateAction = make(tr("Duplicate"));
    mDuplicateOptionsAction = make(tr("Duplicate Options..."));
    mSetDefaultAction = make(tr("Set Default"));
    mShowInFolderAction = make(tr("Show in Folder"));
    mCopyPathAction = make(tr("Copy Path to Clipboard"));
    mSaveSourceAsAction = make(tr("Save Source As..."));
    mDeleteAction = make(tr("Delete"));
    mOpenInViewerAAction->setData(0);
    mOpenInViewerBAction->setData(1);
    connect(mNewFolderAction, &QAction::triggered, this, &ProjectPanel::NewFolder);
    connect(mNewTimelineAction, &QAction::triggered, this, &ProjectPanel::NewTimeline);
    connect(mImportFilesAction, &QAction::triggered, this, &ProjectPanel::ImportFiles);
    connect(mImportFolderAction, &QAction::triggered, this, &ProjectPanel::ImportFolder);
    connect(mOpenInViewerAAction, &QAction::triggered, this, &ProjectPanel::OpenTimelineInViewerFromSender);
    connect(mOpenInViewerBAction, &QAction::triggered, this, &ProjectPanel::OpenTimelineInViewerFromSender);
    connect(mRemoveFromViewerAction, &QAction::triggered, this, &ProjectPanel::RemoveTimelineFromViewer);
    connect(mRenameAction, &QAction::triggered, mTree, &ProjectTreeWidget::EditCurrentItem);
    connect(mRefreshAction, &QAction::triggered, this, &ProjectPanel::RefreshSource);
    connect(mReplaceAction, &QAction::triggered, this, &ProjectPanel::ReplaceSourceFromSender);
    connect(mDuplicateAction, &QAction::triggered, this, &ProjectPanel::DuplicateSourceFromSender);
    connect(mDuplicateOptionsAction, &QAction::triggered, this, &ProjectPanel::ShowDuplicateSourceOptionsDialog);
    connect(mSetDefaultAction, &QAction::triggered, this, &ProjectPanel::OnSetDefaultTimelineRequested);
    connect(mShowInFolderAction, &QAction::triggered, this, &ProjectPanel::ShowInFolder);
    connect(mCopyPathAction, &QAction::triggered, this, &ProjectPanel::CopyPathToClipboard);
    connect(mSaveSourceAsAction, &QAction::triggered, this, &ProjectPanel::SaveSourceAs);
    connect(mDeleteAction, &QAction::triggered, this, &ProjectPanel::DeleteItems);

    mTree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(mTree, &QWidget::customContextMenuRequested, this, &ProjectPanel::ShowContextMenu);

    mRenameTimer = new QTimer(this);
    mRenameTimer->setSingleShot(true);
    mRenameTimer->setInterval(0);
    connect(mRenameTimer, &QTimer::timeout, mTree, &ProjectTreeWidget::EditCurrentItem);

    // A save over a project file that another player wrote meanwhile asks
    // first; the manager outlives no panel that it could still call.
    QPointer<ProjectPanel> const panel(this);
    mProjectManager->SetOverwriteChangedFileQuestion(
        [panel](QString const& path) { return panel && panel->AskOverwriteChangedProjectFile(path); });
    // So does a client's import over unsaved work.
    mProjectManager->SetReplaceProjectQuestion([panel](std::function<void(bool)> answer) {
        if (panel)
        {
            panel->AskToReplaceProject(std::move(answer));
        }
        else
        {
            answer(false);
        }
    });
}

bool ProjectPanel::IsAsking() const
{
    return mOpenQuestions > 0;
}

void ProjectPanel::EndQuestion()
{
    if (--mOpenQuestions == 0)
    {
        Q_EMIT QuestionAnswered();
        // Queued: whatever the answer let go on (a close, a replacement) goes
        // first.
        QMetaObject::invokeMethod(this, &ProjectPanel::AskHeldReplaceQuestions, Qt::QueuedConnection);
    }
}

void ProjectPanel::AskToReplaceProject(std::function<void(bool)> answer)
{
    mHeldReplaceQuestions.append(std::move(answer));
    QMetaObject::invokeMethod(this, &ProjectPanel::AskHeldReplaceQuestions, Qt::QueuedConnection);
}

void ProjectPanel::AskHeldReplaceQuestions()
{
    while (!IsAsking() && !mHeldReplaceQuestions.isEmpty())
    {
        std::function<void(bool)> const answer = mHeldReplaceQuestions.takeFirst();
        mAskingForClient = true;
        bool const replace = ConfirmProjectClose();
        mAskingForClient = false;
        answer(replace);
    }
}

void ProjectPanel::OnReplaceProjectQuestionWithdrawn()
{
    QList<std::function<void(bool)>> const held = std::exchange(mHeldReplaceQuestions, {});
    for (std::function<void(bool)> const& answer : held)
    {
        answer(false);
    }
    if (mAskingForClient && mProjectCloseBox)
    {
        mProjectCloseBox->button(QMessageBox::Cancel)->click();
    }
}

ProjectTreeWidget* ProjectPanel::TreeWidget() const
{
    return mTree;
}

bool ProjectPanel::CanRename() const
{
    return mTree->hasFocus() || mTree->InEditingState();
}

QString ProjectPanel::MostRecentPathAlias()
{
    return MOST_RECENT_PATH_ALIAS;
}

void ProjectPanel::SetDialogsEnabled(bool enabled)
{
    mDialogsEnabled = enabled;
}

void ProjectPanel::SetImportReplacesProject(bool replaces)
{
    mImportReplacesProject = replaces;
}

void ProjectPanel::focusInEvent(QFocusEvent*)
{
    mTree->setFocus(Qt::OtherFocusReason);
}

void ProjectPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    RefreshProject();
}

void ProjectPanel::OnDragInProgressStateChanged(bool inProgress)
{
    Q_EMIT DragInProgressStateChanged(inProgress);
}

void ProjectPanel::OnFocusChanged(bool hasFocus)
{
    if (!mContextMenuOpen)
    {
        Q_EMIT FocusChanged(hasFocus);
    }
}

// ---- Context menu ----

void ProjectPanel::BuildContextMenu(QList<QAction*>& actions)
{
    auto const separator = [this, &actions] {
        auto* action = new QAction(this);
        action->setSeparator(true);
        actions.append(action);
    };
    QList<ProjectTreeWidgetItem*> const rows = mTree->SelectedItems();
    if (rows.isEmpty())
    {
        return;
    }
    if (rows.size() > 1)
    {
        mNewFolderAction->setText(tr("Move to New Folder"));
        actions << mNewFolderAction;
        separator();
        actions << mDeleteAction;
        return;
    }
    ProjectTreeWidgetItem* row = rows.first();
    QUuid const id = row->ProjectItemId();
    if (row->IsFolder())
    {
        FolderItem* folder = mProjectManager->FindFolderById(id);
        if (!folder)
        {
            return;
        }
        bool const timelinesRoot = folder->IsTimelinesRootFolder();
        bool const sourcesRoot = folder->IsSourcesRootFolder();
        if (!timelinesRoot)
        {
            actions << mImportFilesAction;
        }
        if (!sourcesRoot && !timelinesRoot)
        {
            actions << mImportFolderAction;
            separator();
            mNewFolderAction->setText(tr("New Folder"));
            actions << mNewFolderAction;
        }
        if (!sourcesRoot)
        {
            actions << mNewTimelineAction;
        }
        if (!folder->IsRootFolder())
        {
            separator();
            actions << mRenameAction;
        }
        separator();
        actions << mDeleteAction;
        return;
    }
    TimelineItem* timeline = mProjectManager->FindTimelineById(id);
    if (!timeline)
    {
        return;
    }
    int const slot = timeline->ViewportIndex();
    if (slot >= 0)
    {
        mRemoveFromViewerAction->setData(slot);
        actions << mRemoveFromViewerAction;
    }
    if (slot != 0)
    {
        actions << mOpenInViewerAAction;
    }
    if (slot != 1)
    {
        actions << mOpenInViewerBAction;
    }
    separator();
    actions << mRenameAction;
    mNewFolderAction->setText(tr("Move to New Folder"));
    if (timeline->IsSourceTimeline())
    {
        mReplaceAction->setData(id);
        mDuplicateAction->setData(id);
        mDuplicateOptionsAction->setData(id);
        // The source commands act on this row's source.
        mShowInFolderAction->setData(id);
        mCopyPathAction->setData(id);
        mSaveSourceAsAction->setData(id);
        separator();
        actions << mRefreshAction << mReplaceAction;
        separator();
        actions << mDuplicateAction << mDuplicateOptionsAction;
        separator();
        actions << mNewFolderAction;
        separator();
        actions << mShowInFolderAction << mCopyPathAction;
        separator();
        actions << mSaveSourceAsAction;
    }
    else
    {
        separator();
        bool const isDefault = id == mProjectManager->DefaultTimelineId();
        mSetDefaultAction->setText(isDefault ? tr("Clear Default") : tr("Set Default"));
        mSetDefaultAction->setData(isDefault ? QUuid() : id);
        actions << mSetDefaultAction;
        separator();
        actions << mNewFolderAction;
    }
    separator();
    actions << mDeleteAction;
}

QList<QAction*> ProjectPanel::ContextMenuActions()
{
    QList<QAction*> actions;
    BuildContextMenu(actions);
    return actions;
}

void ProjectPanel::ShowContextMenu(QPoint const& position)
{
    FlushPendingRefresh();
    QList<QAction*> actions;
    BuildContextMenu(actions);
    if (actions.isEmpty())
    {
        return;
    }
    QMenu menu(this);
    menu.addActions(actions);
    mContextMenuOpen = true;
    menu.exec(mTree->viewport()->mapToGlobal(position));
    mContextMenuOpen = false;
    for (QAction* action : actions)
    {
        if (action->isSeparator())
        {
            action->deleteLater();
        }
    }
}

// ---- Tree refresh ----

void ProjectPanel::ScheduleRefresh()
{
    // Each source of a project being opened reports itself when it is
    // parsed: a rebuild per source would make the open quadratic.
    if (!mProjectManager->SourceParsingInProgress())
    {
        mRefreshTimer->start(0);
    }
    else if (!mRefreshTimer->isActive())
    {
        mRefreshTimer->start(PARSE_REFRESH_INTERVAL_MS);
    }
}

void ProjectPanel::FlushPendingRefresh()
{
    if (mRefreshTimer->isActive())
    {
        RefreshProject();
    }
}

void ProjectPanel::RefreshProject()
{
    mRefreshTimer->stop();
    QSignalBlocker const blocker(mTree);
    mTree->clear();
    QList<QUuid> ids;
    mProjectManager->TopLevelFolderIds(ids);
    for (QUuid const& id : ids)
    {
        if (FolderItem* folder = mProjectManager->FindFolderById(id))
        {
            AddFolderRow(folder, nullptr);
        }
    }
    Q_EMIT ProjectNameChanged(mProjectManager->ProjectName());
}

void ProjectPanel::AddFolderRow(FolderItem* folder, ProjectTreeWidgetItem* parentRow)
{
    auto* row = new ProjectTreeWidgetItem(folder->Id(), ProjectTreeWidgetItemType::Folder, RowFolderType(folder));
    row->SetName(folder->Name());
    if (parentRow)
    {
        parentRow->addChild(row);
    }
    else
    {
        mTree->addTopLevelItem(row);
    }
    {
        QSignalBlocker const blocker(mTree);
        row->setExpanded(folder->IsExpanded());
    }
    for (ProjectItem* child : folder->ChildItems())
    {
        if (child->ItemType() != ProjectItemType::Folder)
        {
            AddTimelineRow(static_cast<TimelineItem*>(child), row);
        }
        else
        {
            AddFolderRow(static_cast<FolderItem*>(child), row);
        }
    }
}

void ProjectPanel::AddTimelineRow(TimelineItem* timeline, ProjectTreeWidgetItem* parentRow)
{
    if (!parentRow)
    {
        return;
    }
    auto* row = new ProjectTreeWidgetItem(timeline->Id(),
                                          timeline->IsSourceTimeline() ? ProjectTreeWidgetItemType::SourceTimeline
                                                                       : ProjectTreeWidgetItemType::Timeline,
                                          ProjectTreeWidgetItemFolderType::None);
    FillTimelineRow(row, timeline);
    parentRow->addChild(row);
}

void ProjectPanel::FillTimelineRow(ProjectTreeWidgetItem* row, TimelineItem* timeline)
{
    QSignalBlocker const blocker(mTree);
    row->SetName(timeline->Name());
    row->SetViewportIndex(timeline->ViewportIndex());
    bool const isDefault = timeline->Id() == mProjectManager->DefaultTimelineId();
    if (isDefault)
    {
        mDefaultTimelineId = timeline->Id();
    }
    row->SetDefaultEnabled(isDefault);
    if (timeline->HasErrors())
    {
        row->setForeground(0, QBrush(Qt::red));
        row->setToolTip(0, tr("ERROR: %1").arg(timeline->ErrorString()));
    }
    else
    {
        row->setForeground(0, QBrush(Qt::white));
        row->setToolTip(0, timeline->ToolTip());
    }
}

void ProjectPanel::RefreshFolder(QUuid const& id)
{
    FolderItem* folder = mProjectManager->FindFolderById(id);
    ProjectTreeWidgetItem* row = mTree->FindFolderById(id);
    if (!folder || !row || mRefreshTimer->isActive())
    {
        return;
    }
    QSignalBlocker const blocker(mTree);
    row->SetName(folder->Name());
    row->setExpanded(folder->IsExpanded());
}

void ProjectPanel::RefreshTimeline(QUuid const& id)
{
    TimelineItem* timeline = mProjectManager->FindTimelineById(id);
    if (!timeline || mRefreshTimer->isActive())
    {
        return;
    }
    if (ProjectTreeWidgetItem* row = mTree->FindTimelineById(timeline->ParentId(), id))
    {
        FillTimelineRow(row, timeline);
    }
}

void ProjectPanel::SetDefaultTimeline(QUuid const& id)
{
    QUuid const previous = mDefaultTimelineId;
    mDefaultTimelineId = QUuid();
    if (!previous.isNull())
    {
        RefreshTimeline(previous);
    }
    RefreshTimeline(id);
}

void ProjectPanel::UpdatePanelName()
{
    Q_EMIT ProjectNameChanged(mProjectManager->ProjectName());
}

void ProjectPanel::OnSetDefaultTimelineRequested()
{
    auto* action = qobject_cast<QAction*>(sender());
    if (action)
    {
        mProjectManager->SetDefaultTimeline(action->data().toUuid());
    }
}

// ---- Renaming and creating ----

void ProjectPanel::OnTreeWidgetItemChanged(QTreeWidgetItem* item)
{
    auto* row = static_cast<ProjectTreeWidgetItem*>(item);
    if (!row)
    {
        return;
    }
    QString const trimmed = row->Text().trimmed();
    if (trimmed.isEmpty() && !row->IsSourceTimeline())
    {
        QSignalBlocker const blocker(mTree);
        row->SetText(row->Name());
        return;
    }
    if (trimmed != row->Name())
    {
        mProjectManager->DoRenameProjectItemCmd(row->ProjectItemId(), trimmed);
    }
}

QUuid ProjectPanel::CurrentFolderId() const
{
    ProjectTreeWidgetItem* folder = mTree->CurrentFolder();
    return folder ? folder->ProjectItemId() : QUuid();
}

void ProjectPanel::NewFolder()
{
    QUuid const parent = CurrentFolderId();
    QList<QUuid> items;
    QList<ProjectTreeWidgetItem*> const rows = mTree->SelectedItems();
    if (!(rows.size() == 1 && rows.first()->ProjectItemId() == parent))
    {
        for (ProjectTreeWidgetItem* row : rows)
        {
            items.append(row->ProjectItemId());
        }
    }
    QUuid const id = mProjectManager->DoAddFolderCmd(QString(), parent, items);
    FlushPendingRefresh();
    if (ProjectTreeWidgetItem* row = mTree->FindFolderById(id))
    {
        mTree->clearSelection();
        mTree->setCurrentItem(row);
        row->setSelected(true);
        mRenameTimer->start();
    }
}

void ProjectPanel::NewTimeline()
{
    QUuid const parent = CurrentFolderId();
    QUuid const id = mProjectManager->DoAddTimelineCmd(QString(), parent);
    FlushPendingRefresh();
    TimelineItem* timeline = mProjectManager->FindTimelineById(id);
    if (!timeline)
    {
        return;
    }
    if (ProjectTreeWidgetItem* row = mTree->FindTimelineById(timeline->ParentId(), id))
    {
        mTree->clearSelection();
        mTree->setCurrentItem(row);
        row->setSelected(true);
        mRenameTimer->start();
    }
}

void ProjectPanel::DeleteItems()
{
    QList<ProjectTreeWidgetItem*> const rows = mTree->SelectedItems();
    if (rows.isEmpty())
    {
        return;
    }
    QSet<QUuid> folders;
    QSet<QUuid> timelines;
    QSet<QUuid> sources;
    QSet<QUuid> const roots {mProjectManager->ProjectFolderId(), mProjectManager->TimelineFolderId(),
                             mProjectManager->SourceTimelineFolderId()};
    for (ProjectTreeWidgetItem* row : rows)
    {
        QUuid const id = row->ProjectItemId();
        if (row->IsFolder())
        {
            if (!roots.contains(id))
            {
                folders.insert(id);
            }
        }
        else if (row->IsSourceTimeline())
        {
            sources.insert(id);
        }
        else
        {
            timelines.insert(id);
        }
    }
    if (folders.isEmpty() && timelines.isEmpty() && sources.isEmpty())
    {
        return;
    }
    mProjectManager->DoDeleteProjectObjectsCmd(folders, timelines, sources);
}

void ProjectPanel::ApplicationDelete()
{
    if (hasFocus() || mTree->hasFocus())
    {
        DeleteItems();
    }
}

// ---- Choosing paths ----

QString ProjectPanel::GetOpenProjectFilePath(QString const& title)
{
    QString path;
    if (auto* action = qobject_cast<QAction*>(sender()))
    {
        path = action->data().toString();
        if (path == MOST_RECENT_PATH_ALIAS)
        {
            path = FileHelpers::MostRecentProjectPath();
        }
    }
    if (!path.isEmpty())
    {
        return path;
    }
    if (!mDialogsEnabled)
    {
        return QString();
    }
    QString const dir = LastProjectDir().isEmpty() ? FileHelpers::MostRecentProjectDirPath() : LastProjectDir();
    QString const chosen =
        QFileDialog::getOpenFileName(window(), title, dir, FileHelpers::ProjectFileFilters(), &LastProjectFilter());
    if (chosen.isEmpty())
    {
        return QString();
    }
    QFileInfo const info(chosen);
    LastProjectDir() = info.absolutePath();
    return info.absoluteFilePath();
}

QString ProjectPanel::GetSaveProjectFilePath(QString const& title)
{
    if (!mDialogsEnabled)
    {
        return QString();
    }
    QString const dir = LastProjectDir().isEmpty() ? FileHelpers::MostRecentProjectDirPath() : LastProjectDir();
    QFileDialog dialog(window(), title, dir, FileHelpers::SaveProjectFileFilters());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(FileHelpers::SaveProjectFileExtension());
    // The dialog's own check sees the name as typed: "cut.v2" has a suffix of
    // its own, gets no default one, and the file written is "cut.v2.zeph".
    // The name that is written is asked about here instead.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    while (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    {
        QString const chosen = dialog.selectedFiles().constFirst();
        if (chosen.isEmpty())
        {
            return QString();
        }
        QString const target = WithProjectExtension(QFileInfo(chosen).absoluteFilePath());
        // "No" leaves the dialog open, as its own question does.
        if (QFileInfo::exists(target) && !ConfirmReplaceProjectFile(target))
        {
            continue;
        }
        LastProjectDir() = QFileInfo(target).absolutePath();
        return target;
    }
    return QString();
}

QString ProjectPanel::WithProjectExtension(QString const& path)
{
    // A file without the extension would not open as a project again.
    QString const suffix = QLatin1Char('.') + FileHelpers::SaveProjectFileExtension();
    return path.endsWith(suffix, Qt::CaseInsensitive) ? path : path + suffix;
}

bool ProjectPanel::ConfirmReplaceProjectFile(QString const& path)
{
    if (!mDialogsEnabled)
    {
        Logger::GetInstance()->Warning(QStringLiteral("Project not saved: the file already exists: %1").arg(path));
        return false; // never a dialog over the full-screen picture
    }
    // The file dialog's own wording.
    return QMessageBox::warning(window(), tr("Save Project"),
                                tr("%1 already exists.\nDo you want to replace it?").arg(QFileInfo(path).fileName()),
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

QList<QString> ProjectPanel::GetImportFilePaths(QString const& title, bool single)
{
    if (auto* action = qobject_cast<QAction*>(sender()))
    {
        QString path = action->data().toString();
        if (path == MOST_RECENT_PATH_ALIAS)
        {
            path = FileHelpers::MostRecentFilePath();
        }
        if (!path.isEmpty())
        {
            return {path + QLatin1Char('@')};
        }
    }
    if (!mDialogsEnabled)
    {
        return {};
    }
    QString const dir = LastImportDir().isEmpty() ? FileHelpers::MostRecentFileDirPath() : LastImportDir();
    if (single)
    {
        QString const chosen = QFileDialog::getOpenFileName(window(), title, dir, FileHelpers::MediaFileFilters(),
                                                            &LastMediaFilter());
        return chosen.isEmpty() ? QList<QString>() : QList<QString> {chosen};
    }
    return QFileDialog::getOpenFileNames(window(), title, dir, FileHelpers::MediaFileFilters(), &LastMediaFilter());
}

QString ProjectPanel::GetImportFolderPath(QString const& title)
{
    if (!mDialogsEnabled)
    {
        return QString();
    }
    QString const dir = LastImportDir().isEmpty() ? FileHelpers::MostRecentFileDirPath() : LastImportDir();
    return QFileDialog::getExistingDirectory(window(), title, dir, QFileDialog::ShowDirsOnly);
}

QString ProjectPanel::GetSaveSourceAsPath(QString const& title, QString const& sourcePath)
{
    QFileInfo const info(sourcePath);
    if (!mDialogsEnabled || !info.exists())
    {
        return QString();
    }
    QString const current = tr("Current Media (*.%1)").arg(info.suffix());
    QString selected = current;
    return QFileDialog::getSaveFileName(window(), title, info.absoluteFilePath(),
                                        tr("All Files (*.*)") + QStringLiteral(";;") + current, &selected);
}

// ---- Project commands ----

void ProjectPanel::NewProject()
{
    if (ConfirmProjectClose())
    {
        mProjectManager->NewProject(true);
    }
}

void ProjectPanel::OpenProject()
{
    OpenProjectByPath(GetOpenProjectFilePath(tr("Open Project")));
}

void ProjectPanel::OpenProjectByPath(QString const& path)
{
    if (!path.isEmpty() && ConfirmProjectClose())
    {
        mProjectManager->OpenProject(path);
    }
}

void ProjectPanel::ImportProject()
{
    QString const path = GetOpenProjectFilePath(tr("Import Project"));
    if (!path.isEmpty())
    {
        mProjectManager->ImportProject(path, false);
    }
}

bool ProjectPanel::SaveProject()
{
    if (!FileHelpers::ProjectPath().isEmpty())
    {
        return mProjectManager->SaveProject();
    }
    return SaveProjectAs();
}

bool ProjectPanel::SaveProjectAs()
{
    return SaveProjectAsByPath(GetSaveProjectFilePath(tr("Save Project")));
}

bool ProjectPanel::SaveProjectAsByPath(QString const& path)
{
    if (path.isEmpty())
    {
        return false;
    }
    // The extension may turn the name into another project's, which nobody
    // was asked about yet: a name chosen in the dialog has it already.
    QString const target = WithProjectExtension(path);
    if (target != path && QFileInfo::exists(target) && !ConfirmReplaceProjectFile(target))
    {
        return false;
    }
    return mProjectManager->SaveProjectAs(target);
}

bool ProjectPanel::AskOverwriteChangedProjectFile(QString const& path)
{
    if (!mDialogsEnabled)
    {
        return false; // never a dialog over the full-screen picture: not saved
    }
    ++mOpenQuestions;
    QMessageBox box(QMessageBox::Warning, Settings::applicationTitle,
                    tr("The project file has changed on disk since it was opened or saved, perhaps by another "
                       "player:\n%1\n\nOverwrite it with this project, or cancel and keep the other version?")
                        .arg(QDir::toNativeSeparators(path)),
                    QMessageBox::Cancel, window());
    QPushButton* overwrite = box.addButton(tr("Overwrite"), QMessageBox::DestructiveRole);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    bool const overwriteChosen = box.clickedButton() == overwrite;
    EndQuestion();
    return overwriteChosen;
}

bool ProjectPanel::ConfirmProjectClose()
{
    int const confirm = Settings::confirmOnClose; // 0 always, 1 with unsaved changes, 2 never
    if (confirm == 2 || (confirm != 0 && mProjectManager->IsUndoClean() && !IsAsking()))
    {
        return true;
    }
    if (IsAsking())
    {
        // The open question is about this project; a second one would act on
        // it while the first still asks.
        return false;
    }
    bool leftFullscreen = false;
    if (!mDialogsEnabled)
    {
        Q_EMIT LeaveFullscreenRequested();
        if (!mDialogsEnabled)
        {
            // Nothing may ask now: the project stays as it is.
            return false;
        }
        leftFullscreen = true;
    }
    ++mOpenQuestions;
    QMessageBox box(QMessageBox::Warning, Settings::applicationTitle, tr("The project has unsaved changes."),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, window());
    box.setInformativeText(tr("Do you want to save them before the project is closed?"));
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    bool closeAllowed = false;
    mProjectCloseBox = &box;
    int const button = box.exec();
    mProjectCloseBox = nullptr;
    switch (button)
    {
    case QMessageBox::Save:
        // A failed or cancelled save keeps the project open.
        closeAllowed = SaveProject();
        break;
    case QMessageBox::Discard:
        closeAllowed = true;
        break;
    default:
        break;
    }
    if (!closeAllowed && leftFullscreen)
    {
        Q_EMIT ReturnToFullscreenRequested();
    }
    EndQuestion();
    return closeAllowed;
}

// ---- Importing media ----

void ProjectPanel::ImportFile()
{
    ImportFilesByPath(GetImportFilePaths(tr("Import File"), true), CurrentFolderId(), -1, -1, 0, false, QUuid(), -1,
                      -1);
}

void ProjectPanel::ImportFiles()
{
    QList<QString> const paths = GetImportFilePaths(tr("Import File(s)"), false);
    bool play = true;
    if (TimelineItem* primary = mProjectManager->PrimaryTimelineItem())
    {
        bool const emptyDefault =
            primary->Id() == mDefaultTimelineId && mProjectManager->DefaultTimelineClipCount() == 0;
        play = primary->IsSourceTimeline() || emptyDefault;
    }
    ImportFilesByPath(paths, CurrentFolderId(), -1, -1, 0, play, QUuid(), -1, -1);
}

void ProjectPanel::ImportFilesByPath(QList<QString> const& paths, QUuid const& folderId, int index, int viewerSlot,
                                     int viewerCount, bool play, QUuid timelineId, int second, int insertIndex)
{
    if (paths.isEmpty())
    {
        return;
    }
    LastImportDir() = QFileInfo(paths.last()).absolutePath();
    if (viewerSlot < 0 && viewerSlot != -2)
    {
        TimelineItem* primary = mProjectManager->PrimaryTimelineItem();
        if (!primary || primary->IsSourceTimeline())
        {
            viewerSlot = 0;
            viewerCount = 1;
        }
    }
    if (mImportReplacesProject)
    {
        // The manager's import replaces the project with the first file: ask
        // first, and only when something would be opened. The old project's
        // folders go with it.
        if (FileHelpers::ImportablePaths(paths, true, insertIndex >= 0).isEmpty() || !ConfirmProjectClose())
        {
            return;
        }
        mProjectManager->ImportFilesByPath(paths, QUuid(), index, viewerSlot, viewerCount, play, timelineId, second,
                                           insertIndex, true);
        return;
    }
    Q_UNUSED(viewerCount);
    Q_UNUSED(second);
    // The browser adds to the open project: the manager's own import path
    // replaces the project with the first file, as the player edition's file
    // commands do. Here every kept path becomes a source in the folder, in one
    // undo step.
    QList<QString> const kept = FileHelpers::ImportablePaths(paths, true, insertIndex >= 0);
    if (kept.isEmpty())
    {
        return;
    }
    QList<ParseSourceData> records;
    for (int i = 0; i < kept.size(); ++i)
    {
        ParseSourceData data;
        data.path = kept.at(i);
        data.parentId = folderId.isNull() ? mProjectManager->SourceTimelineFolderId() : folderId;
        data.index = index < 0 ? -1 : index + i;
        data.viewerIndex = (i == 0 && viewerSlot == 0) ? 0 : -1;
        data.targetTimelineId = timelineId;
        data.targetClipIndex = insertIndex;
        data.addToDefaultTimeline = timelineId.isNull();
        data.addToRecentFiles = true;
        records.append(data);
    }
    mProjectManager->DoAddSourceTimelinesCmd(records);
    if (play && Settings::autoPlayEnabled)
    {
        mProjectManager->AvManagerPtr()->Play(true, false);
    }
}

void ProjectPanel::ImportFilesByUrl(QList<QUrl> const& urls, QUuid const& folderId, int index, int viewerSlot,
                                    int viewerCount, bool play)
{
    if (Settings::activateWindowOnFileDrop && window())
    {
        window()->activateWindow();
    }
    ImportFilesByPath(FileHelpers::UrlsToLocalFiles(urls), folderId, index, viewerSlot, viewerCount, play, QUuid(),
                      -1, -1);
}

void ProjectPanel::ImportFilesByUrlToTimeline(QList<QUrl> const& urls, QUuid const& timelineId, int insertIndex,
                                              int insertIndex2)
{
    ImportFilesByPath(FileHelpers::UrlsToLocalFiles(urls), QUuid(), -1, -1, 0, false, timelineId, insertIndex,
                      insertIndex2);
}

void ProjectPanel::OpenUrlsInViewer(QList<QUrl> const& urls, int viewerSlot, int viewerCount, bool play)
{
    ImportFilesByUrl(urls, QUuid(), -1, viewerSlot, viewerCount, play);
}

void ProjectPanel::ImportFolder()
{
    ImportFolderByPath(GetImportFolderPath(tr("Import Folder")), QUuid());
}

void ProjectPanel::ImportFolderByPath(QString const& path, QUuid parentId)
{
    if (path.isEmpty())
    {
        return;
    }
    if (parentId.isNull())
    {
        parentId = mProjectManager->ProjectFolderId();
    }
    MacroScope const macro(mProjectManager, QStringLiteral("ImportFolders"));
    QUuid const folderId = mProjectManager->DoAddFolderCmd(QDir(path).dirName(), parentId, {});
    if (!folderId.isNull())
    {
        ImportDirectoryContent(path, folderId);
    }
}

void ProjectPanel::ImportDirectoryContent(QString const& path, QUuid const& folderId)
{
    QDirIterator dirs(path, QDir::Dirs | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    while (dirs.hasNext())
    {
        QString const sub = dirs.next();
        QUuid const subId = mProjectManager->DoAddFolderCmd(QDir(sub).dirName(), folderId, {});
        if (!subId.isNull())
        {
            ImportDirectoryContent(sub, subId);
        }
    }
    QList<QString> files;
    QDirIterator entries(path, QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    while (entries.hasNext())
    {
        files.append(entries.next());
    }
    if (!files.isEmpty())
    {
        ImportFilesByPath(files, folderId, -1, -1, -1, false, QUuid(), -1, -1);
    }
}

void ProjectPanel::ImportFoldersByUrl(QList<QUrl> const& urls, QUuid const& parentId)
{
    if (Settings::activateWindowOnFileDrop && window())
    {
        window()->activateWindow();
    }
    if (urls.isEmpty())
    {
        return;
    }
    MacroScope const macro(mProjectManager, QStringLiteral("ImportFolders"));
    for (QUrl const& url : urls)
    {
        ImportFolderByPath(url.toLocalFile(), parentId);
    }
}

// ---- Viewer slots ----

void ProjectPanel::OpenTimelineInViewer(QUuid const& id, int viewerSlot)
{
    mProjectManager->DoOpenTimelinesInViewerCmd({id}, viewerSlot, false);
}

void ProjectPanel::OpenTimelinesInViewer(QList<QUuid> const& ids, int viewerSlot)
{
    mProjectManager->DoOpenTimelinesInViewerCmd(ids, viewerSlot, false);
}

void ProjectPanel::OpenFolderInViewer(QUuid const& folderId, int viewerSlot)
{
    QList<QUuid> const ids = mTree->TimelinesInFolder(folderId);
    if (!ids.isEmpty())
    {
        OpenTimelineInViewer(ids.first(), viewerSlot);
    }
}

QUuid ProjectPanel::SenderId() const
{
    auto* action = qobject_cast<QAction*>(sender());
    return action ? action->data().toUuid() : QUuid();
}

void ProjectPanel::OpenTimelineInViewerFromSender()
{
    auto* action = qobject_cast<QAction*>(sender());
    QList<ProjectTreeWidgetItem*> const rows = mTree->SelectedItems();
    if (action && !rows.isEmpty())
    {
        OpenTimelineInViewer(rows.first()->ProjectItemId(), action->data().toInt());
    }
}

void ProjectPanel::RemoveTimelineFromViewer()
{
    if (auto* action = qobject_cast<QAction*>(sender()))
    {
        OpenTimelineInViewer(QUuid(), action->data().toInt());
    }
}

void ProjectPanel::SwapABViewerTimelines()
{
    mProjectManager->SwapABViewerTimelines();
}

void ProjectPanel::ClearAllViewerTimelines()
{
    mProjectManager->ClearAllViewerTimelines();
}

// ---- Sources ----

QUuid ProjectPanel::SourceTarget() const
{
    QUuid const id = SenderId();
    if (!id.isNull())
    {
        return id;
    }
    TimelineItem* primary = mProjectManager->PrimaryTimelineItem();
    return primary && primary->IsSourceTimeline() ? primary->Id() : QUuid();
}

void ProjectPanel::RefreshSource()
{
    if (!qobject_cast<QAction*>(sender()))
    {
        return;
    }
    QList<ProjectTreeWidgetItem*> const rows = mTree->SelectedItems();
    if (rows.size() == 1 && rows.first()->IsSourceTimeline())
    {
        mProjectManager->RefreshSource(rows.first()->ProjectItemId());
    }
}

void ProjectPanel::ReplaceSourceFromSender()
{
    auto* action = qobject_cast<QAction*>(sender());
    if (!action)
    {
        return;
    }
    QUuid const id = action->data().toUuid();
    // The path chooser reads a triggering action's data as a path.
    action->setData(QVariant());
    ReplaceSource(id);
}

void ProjectPanel::ReplaceSource(QUuid const& id)
{
    if (id.isNull())
    {
        return;
    }
    ReplaceSourceByPaths(id, GetImportFilePaths(tr("Replace Source"), false));
}

void ProjectPanel::ReplaceSourceByPaths(QUuid const& id, QList<QString> const& paths)
{
    if (!id.isNull() && !paths.isEmpty())
    {
        mProjectManager->ReplaceSource(id, paths);
    }
}

void ProjectPanel::ReplaceSourceOrvel()
{
    TimelineItem* primary = mProjectManager->PrimaryTimelineItem();
    if (primary && primary->IsSourceTimeline())
    {
        ReplaceSource(primary->Id());
    }
}

void ProjectPanel::DuplicateSource(QUuid const& id)
{
    if (!id.isNull())
    {
        mProjectManager->DuplicateSource(id);
    }
}

void ProjectPanel::DuplicateSourceFromSender()
{
    DuplicateSource(SenderId());
}

void ProjectPanel::ShowDuplicateSourceOptionsDialog()
{
    QUuid const id = SenderId();
    if (id.isNull())
    {
        return;
    }
    DuplicateSourceOptionsDialog dialog(id, this);
    connect(&dialog, &DuplicateSourceOptionsDialog::DuplicateSourceRequested, this, &ProjectPanel::DuplicateSource);
    dialog.exec();
}

void ProjectPanel::ShowInFolder()
{
    QUuid const id = SourceTarget();
    if (!id.isNull())
    {
        mProjectManager->ShowInFolder(id);
    }
}

void ProjectPanel::CopyPathToClipboard()
{
    QList<ProjectTreeWidgetItem*> const rows = mTree->SelectedItems();
    if (rows.size() == 1)
    {
        mProjectManager->CopySourcePathToClipboard(rows.first()->ProjectItemId());
    }
}

void ProjectPanel::SaveSourceAs()
{
    QUuid const id = SourceTarget();
    if (id.isNull())
    {
        return;
    }
    QString const source = mProjectManager->SourcePath(id);
    if (source.isEmpty() || mProjectManager->IsImageSequence(id))
    {
        return;
    }
    SaveSourceAsByPath(id, GetSaveSourceAsPath(tr("Save Source As"), source));
}

bool ProjectPanel::SaveSourceAsByPath(QUuid const& sourceTimelineId, QString const& target)
{
    TimelineItem* item = mProjectManager->FindTimelineById(sourceTimelineId);
    if (target.isEmpty() || !item || !item->IsSourceTimeline())
    {
        return false;
    }
    QString const source = mProjectManager->SourcePath(sourceTimelineId);
    if (source.isEmpty() || mProjectManager->IsImageSequence(sourceTimelineId))
    {
        return false;
    }
    QFileInfo const sourceInfo(source);
    QFileInfo const targetInfo(target);
    // Saving a file onto itself would first remove it: nothing to do.
    if (targetInfo.exists() && sourceInfo.exists() &&
        sourceInfo.canonicalFilePath() == targetInfo.canonicalFilePath())
    {
        return false;
    }
    // Copy beside the target, then rename over it: a failed copy leaves the
    // target as it was.
    QString const temporary = QStringLiteral("%1/.%2.%3.part")
                                  .arg(targetInfo.absolutePath(), targetInfo.fileName(),
                                       QUuid::createUuid().toString(QUuid::WithoutBraces));
    if (!QFile::copy(source, temporary))
    {
        QFile::remove(temporary);
        Logger::GetInstance()->Error(tr("Failed to copy source file to %1").arg(target));
        return false;
    }
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(targetInfo.absoluteFilePath()).constData()) != 0)
    {
        QFile::remove(temporary);
        Logger::GetInstance()->Error(tr("Failed to overwrite file: %1").arg(target));
        return false;
    }
    return true;
}
