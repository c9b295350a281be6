#include "panels/ProjectTreeWidget.h"

#include "app/FileHelpers.h"
#include "model/ProjectManager.h"
#include "panels/TreeWidgetEditingFinishedDelegate.h"
#include "panels/UiHelpers.h"

#include <QDragEnterEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTreeWidgetItemIterator>
#include <QMimeData>
#include <QPainter>

namespace
{
ProjectTreeWidgetItem* Row(QTreeWidgetItem* item)
{
    return static_cast<ProjectTreeWidgetItem*>(item);
}
} // namespace

ProjectTreeWidget::ProjectTreeWidget(ProjectManager* projectManager, QWidget* parent)
    : QTreeWidget(parent)
    , mProjectManager(projectManager)
{
    setColumnCount(3);
    setHeaderLabels({tr("Name"), QString(), QString()});
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    horizontalScrollBar()->setEnabled(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    ProjectTreeWidgetItem::LoadIcons();

    connect(this, &QTreeWidget::itemExpanded, this, &ProjectTreeWidget::OnItemExpandedStateChanged);
    connect(this, &QTreeWidget::itemCollapsed, this, &ProjectTreeWidget::OnItemExpandedStateChanged);
    auto* delegate = new TreeWidgetEditingFinishedDelegate(this);
    setItemDelegate(delegate);
    connect(delegate, &TreeWidgetEditingFinishedDelegate::editingFinished, this,
            &ProjectTreeWidget::OnEditingFinished);
}

// ---- Queries ----

ProjectTreeWidgetItem* ProjectTreeWidget::CurrentFolder() const
{
    QList<ProjectTreeWidgetItem*> const rows = SelectedItems();
    if (rows.isEmpty())
    {
        return nullptr;
    }
    if (rows.size() == 1)
    {
        return rows.first()->IsFolder() ? rows.first() : Row(rows.first()->parent());
    }
    QTreeWidgetItem* parent = rows.first()->parent();
    for (ProjectTreeWidgetItem* row : rows)
    {
        if (row->parent() != parent)
        {
            return nullptr;
        }
    }
    return Row(parent);
}

ProjectTreeWidgetItem* ProjectTreeWidget::FindFolderById(QUuid const& id) const
{
    return ProjectTreeWidgetItem::FindFolderById(invisibleRootItem(), id);
}

ProjectTreeWidgetItem* ProjectTreeWidget::FindTimelineById(QUuid const& folderId, QUuid const& timelineId) const
{
    ProjectTreeWidgetItem* folder = FindFolderById(folderId);
    if (!folder)
    {
        return nullptr;
    }
    for (int i = 0; i < folder->childCount(); ++i)
    {
        ProjectTreeWidgetItem* row = Row(folder->child(i));
        if (row->ProjectItemId() == timelineId && row->IsTimeline(true))
        {
            return row;
        }
    }
    return nullptr;
}

ProjectTreeWidgetItem* ProjectTreeWidget::FindItemById(QUuid const& id) const
{
    for (QTreeWidgetItemIterator it(const_cast<ProjectTreeWidget*>(this)); *it; ++it)
    {
        if (Row(*it)->ProjectItemId() == id)
        {
            return Row(*it);
        }
    }
    return nullptr;
}

QList<ProjectTreeWidgetItem*> ProjectTreeWidget::SelectedItems() const
{
    QList<ProjectTreeWidgetItem*> rows;
    for (QTreeWidgetItem* item : selectedItems())
    {
        rows.append(Row(item));
    }
    return rows;
}

QList<QUuid> ProjectTreeWidget::TimelinesInFolder(QUuid const& folderId) const
{
    QList<QUuid> ids;
    if (ProjectTreeWidgetItem* folder = FindFolderById(folderId))
    {
        for (int i = 0; i < folder->childCount(); ++i)
        {
            if (Row(folder->child(i))->IsTimeline(true))
            {
                ids.append(Row(folder->child(i))->ProjectItemId());
            }
        }
    }
    return ids;
}

bool ProjectTreeWidget::CanRenameSelectedItem() const
{
    QList<ProjectTreeWidgetItem*> const rows = SelectedItems();
    if (rows.size() != 1)
    {
        return false;
    }
    QUuid const id = rows.first()->ProjectItemId();
    return id != mProjectManager->ProjectFolderId() && id != mProjectManager->TimelineFolderId() &&
           id != mProjectManager->SourceTimelineFolderId();
}

bool ProjectTreeWidget::InEditingState() const
{
    return state() == QAbstractItemView::EditingState;
}

void ProjectTreeWidget::EditCurrentItem()
{
    QList<ProjectTreeWidgetItem*> const rows = SelectedItems();
    if (rows.size() == 1)
    {
        editItem(rows.first(), 0);
    }
}

// ---- Mouse, keys and focus ----

void ProjectTreeWidget::mousePressEvent(QMouseEvent* event)
{
    if (!itemAt(event->position().toPoint()))
    {
        clearSelection();
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void ProjectTreeWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    QList<ProjectTreeWidgetItem*> const rows = SelectedItems();
    if (rows.size() != 1)
    {
        return;
    }
    ProjectTreeWidgetItem* row = rows.first();
    if (row->IsFolder())
    {
        row->setExpanded(!row->isExpanded());
    }
    else if (row->IsTimeline(true))
    {
        Q_EMIT OpenInViewerRequested(row->ProjectItemId(), 0, false);
    }
}

void ProjectTreeWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F2 && CanRenameSelectedItem())
    {
        EditCurrentItem();
    }
    event->accept();
}

void ProjectTreeWidget::focusInEvent(QFocusEvent* event)
{
    QTreeWidget::focusInEvent(event);
    Q_EMIT FocusChanged(true);
}

void ProjectTreeWidget::focusOutEvent(QFocusEvent* event)
{
    QTreeWidget::focusOutEvent(event);
    Q_EMIT FocusChanged(false);
}

void ProjectTreeWidget::resizeEvent(QResizeEvent* event)
{
    QTreeWidget::resizeEvent(event);
    setColumnWidth(0, std::max(0, width() - 59));
    setColumnWidth(1, 20);
    setColumnWidth(2, 20);
}

void ProjectTreeWidget::paintEvent(QPaintEvent* event)
{
    QTreeWidget::paintEvent(event);
    if (!mDropHighlight || !mDrop.rect.isValid())
    {
        return;
    }
    QPainter painter(viewport());
    if (mDrop.index >= 0)
    {
        painter.drawLine(mDrop.rect.left(), mDrop.lineY, viewport()->width(), mDrop.lineY);
    }
    else
    {
        painter.drawRect(mDrop.rect);
    }
}

void ProjectTreeWidget::OnItemExpandedStateChanged(QTreeWidgetItem* item)
{
    mProjectManager->SetFolderExpanded(Row(item)->ProjectItemId(), item->isExpanded());
}

void ProjectTreeWidget::OnEditingFinished(QModelIndex const& index)
{
    QTreeWidgetItem* row = itemFromIndex(index);
    setCurrentItem(nullptr);
    if (row)
    {
        setCurrentItem(row);
    }
}

// ---- Dragging out ----

void ProjectTreeWidget::startDrag(Qt::DropActions)
{
    QList<ProjectTreeWidgetItem*> const rows = SelectedItems();
    if (rows.isEmpty())
    {
        return;
    }
    bool folders = false;
    bool timelines = false;
    bool root = false;
    QList<QUuid> ids;
    for (ProjectTreeWidgetItem* row : rows)
    {
        if (row->IsFolder())
        {
            folders = true;
            root = root || !row->ParentFolder();
        }
        else if (row->IsTimeline(true))
        {
            timelines = true;
        }
        ids.append(row->ProjectItemId());
    }
    QByteArray const payload = UiHelpers::WriteIdList(ids);
    auto* data = new QMimeData();
    if (!root)
    {
        data->setData(UiHelpers::PROJECT_VIEW_INTERNAL_MIME_TYPE, payload);
    }
    if (folders)
    {
        if (rows.size() == 1)
        {
            data->setData(UiHelpers::PROJECT_VIEW_FOLDER_MIME_TYPE, payload);
        }
    }
    else if (timelines)
    {
        data->setData(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE, payload);
    }
    UiHelpers::ExecMoveDrag(this, data, [this](bool inProgress) { Q_EMIT DragInProgressStateChanged(inProgress); });
}

// ---- Dropping in ----

ProjectTreeWidget::UrlContent ProjectTreeWidget::InspectUrls(QList<QUrl> const& urls)
{
    UrlContent content;
    for (QUrl const& url : urls)
    {
        QFileInfo const info(url.toLocalFile());
        if (info.isFile())
        {
            content.files = true;
        }
        else if (info.isDir())
        {
            content.directories = true;
        }
    }
    return content;
}

ProjectTreeWidget::UrlContent ProjectTreeWidget::InspectDraggedUrls(QList<QUrl> const& urls) const
{
    if (urls.isEmpty() || urls != mDraggedUrls)
    {
        mDraggedUrls = urls;
        mDraggedUrlContent = InspectUrls(urls);
    }
    return mDraggedUrlContent;
}

QList<QUuid> ProjectTreeWidget::InternalMoveIds(QMimeData const* data, QObject const* origin) const
{
    // Only this tree's own drag moves rows: a payload from another instance or
    // widget would be judged against flags that describe a different drag.
    if (origin != this || !data->hasFormat(UiHelpers::PROJECT_VIEW_INTERNAL_MIME_TYPE))
    {
        return {};
    }
    QList<QUuid> const ids = UiHelpers::ReadIdList(data->data(UiHelpers::PROJECT_VIEW_INTERNAL_MIME_TYPE));
    for (QUuid const& id : ids)
    {
        if (!FindItemById(id))
        {
            return {};
        }
    }
    return ids;
}

ProjectTreeWidgetItem* ProjectTreeWidget::TopLevelFolderOfType(ProjectTreeWidgetItemFolderType type) const
{
    for (int i = 0; i < topLevelItemCount(); ++i)
    {
        if (Row(topLevelItem(i))->ProjectItemFolderType() == type)
        {
            return Row(topLevelItem(i));
        }
    }
    return nullptr;
}

bool ProjectTreeWidget::CanEnter(QMimeData const* data) const
{
    bool const urls = data->hasUrls();
    if (!urls)
    {
        return data->hasFormat(UiHelpers::PROJECT_VIEW_INTERNAL_MIME_TYPE);
    }
    UrlContent const content = InspectUrls(data->urls());
    if (content.files)
    {
        return !content.directories && !FileHelpers::ValidFileDropUrls(data->urls(), false, false).isEmpty();
    }
    return true;
}

ProjectTreeWidget::DropDecision ProjectTreeWidget::DecideDrop(QMimeData const* data, QPoint const& position,
                                                              QObject const* origin) const
{
    DropDecision none;
    bool const urls = data->hasUrls();
    QList<QUuid> ids;
    if (!urls)
    {
        ids = InternalMoveIds(data, origin);
        if (ids.isEmpty())
        {
            return none;
        }
    }
    UrlContent const content = urls ? InspectDraggedUrls(data->urls()) : UrlContent();

    DropDecision decision;
    ProjectTreeWidgetItem* target = nullptr;
    QTreeWidgetItem* row = itemAt(position);
    if (row)
    {
        QRect const rect = visualItemRect(row);
        decision.rect = rect;
        QRect inner = rect.adjusted(0, 3, 0, 0);
        if (!(row->isExpanded() && row->childCount() > 0))
        {
            inner.adjust(0, 0, 0, -3);
        }
        ProjectTreeWidgetItem* projectRow = Row(row);
        if (projectRow->IsFolder() && (inner.contains(position) || !projectRow->ParentFolder()))
        {
            target = projectRow;
            decision.index = -1;
        }
        else
        {
            target = projectRow->ParentFolder();
            if (!target)
            {
                return none;
            }
            decision.index = target->indexOfChild(row);
            decision.lineY = rect.top();
            if (itemAt(QPoint(position.x(), position.y() + rect.height() / 2)) != row)
            {
                if (decision.index >= 0)
                {
                    ++decision.index;
                }
                decision.lineY = rect.bottom() + 1;
            }
        }
        ProjectTreeWidgetItemFolderType const type = target->ProjectItemFolderType();
        using F = ProjectTreeWidgetItemFolderType;
        if (!urls)
        {
            // What is dragged is read from the rows the payload names, never
            // from flags of some other drag.
            bool folders = false;
            bool timelines = false;
            bool sources = false;
            for (QUuid const& id : ids)
            {
                ProjectTreeWidgetItem* dragged = FindItemById(id);
                folders = folders || dragged->IsFolder();
                sources = sources || dragged->IsSourceTimeline();
                timelines = timelines || dragged->IsTimeline(false);
            }
            if ((folders && (type == F::TimelinesRoot || type == F::SourcesRoot)) ||
                (timelines && type == F::SourcesRoot) || (sources && type == F::TimelinesRoot) ||
                !mProjectManager->IsMoveProjectItemDestinationValid(ids, target->ProjectItemId()))
            {
                return none;
            }
        }
        else if (type == F::TimelinesRoot || (type == F::SourcesRoot && content.directories))
        {
            return none;
        }
    }
    else if (urls)
    {
        if (content.files)
        {
            target = TopLevelFolderOfType(ProjectTreeWidgetItemFolderType::SourcesRoot);
        }
        else if (content.directories)
        {
            target = TopLevelFolderOfType(ProjectTreeWidgetItemFolderType::ProjectRoot);
        }
        if (!target)
        {
            return none;
        }
        decision.index = -1;
        decision.rect = visualItemRect(target);
    }
    if (!target)
    {
        return none;
    }
    decision.targetId = target->ProjectItemId();
    return decision;
}

void ProjectTreeWidget::ResetDrop()
{
    mDrop = DropDecision();
    mDraggedUrls.clear();
    mDraggedUrlContent = UrlContent();
}

void ProjectTreeWidget::dragEnterEvent(QDragEnterEvent* event)
{
    ResetDrop();
    if (!CanEnter(event->mimeData()))
    {
        event->ignore();
        return;
    }
    mDropHighlight = true;
    event->acceptProposedAction();
}

void ProjectTreeWidget::dragMoveEvent(QDragMoveEvent* event)
{
    mDrop = DecideDrop(event->mimeData(), event->position().toPoint(), event->source());
    if (mDrop.IsValid())
    {
        event->acceptProposedAction();
    }
    else
    {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
    viewport()->update();
}

void ProjectTreeWidget::dragLeaveEvent(QDragLeaveEvent* event)
{
    ResetDrop();
    mDropHighlight = false;
    viewport()->update();
    event->accept();
}

void ProjectTreeWidget::dropEvent(QDropEvent* event)
{
    mDropHighlight = false;
    DropDecision const drop = mDrop;
    ResetDrop();
    QMimeData const* data = event->mimeData();
    // The rows may have been rebuilt since the last move: the target must still
    // be a folder row of this tree.
    bool const targetExists =
        drop.IsValid() && FindFolderById(drop.targetId) && mProjectManager->FindFolderById(drop.targetId);
    bool accepted = false;
    if (targetExists && data->hasUrls())
    {
        UrlContent const content = InspectUrls(data->urls());
        QList<QUrl> const valid =
            content.files ? FileHelpers::ValidFileDropUrls(data->urls(), false, false) : QList<QUrl>();
        if (content.files && !content.directories && !valid.isEmpty())
        {
            Q_EMIT ImportFilesByUrlRequested(valid, drop.targetId, drop.index, -2, -1, false);
            accepted = true;
        }
        else if (content.directories && !content.files)
        {
            Q_EMIT ImportFoldersByUrlRequested(data->urls(), drop.targetId);
            accepted = true;
        }
    }
    else if (targetExists)
    {
        QList<QUuid> const ids = InternalMoveIds(data, event->source());
        if (!ids.isEmpty() && mProjectManager->IsMoveProjectItemDestinationValid(ids, drop.targetId))
        {
            Q_EMIT MoveProjectItemsRequested(ids, drop.targetId, drop.index);
            accepted = true;
        }
    }
    viewport()->update();
    setFocus(Qt::OtherFocusReason);
    if (accepted)
    {
        event->acceptProposedAction();
    }
    else
    {
        event->ignore();
    }
}
