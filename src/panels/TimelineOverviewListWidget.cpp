#include "panels/TimelineOverviewListWidget.h"

#include "app/FileHelpers.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/DecodeBias.h"
#include "model/Clip.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"
#include "model/Track.h"
#include "panels/UiHelpers.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>

TimelineOverviewListWidget::TimelineOverviewListWidget(ProjectManager* projectManager, QWidget* parent)
    : QListWidget(parent)
    , mProjectManager(projectManager)
{
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    horizontalScrollBar()->setEnabled(false);
    setStyleSheet(QStringLiteral("QListWidget {selection-background-color: transparent;}"));
    connect(mProjectManager->AvManagerPtr(), &AvManager::PrimaryTimelineChanged, this,
            &TimelineOverviewListWidget::SetTimeline);
}

Timeline* TimelineOverviewListWidget::TimelinePtr() const
{
    return mTimeline;
}

int TimelineOverviewListWidget::DropRow() const
{
    return mDropRow;
}

void TimelineOverviewListWidget::SetTimeline(Timeline* timeline, bool force)
{
    if (timeline == mTimeline)
    {
        return;
    }
    if (mTimeline)
    {
        disconnect(mTimeline, &Timeline::TimelineUpdated, this, &TimelineOverviewListWidget::Refresh);
        disconnect(mTimeline, &QObject::destroyed, this, nullptr);
    }
    mTimeline = timeline;
    if (mTimeline)
    {
        connect(mTimeline, &Timeline::TimelineUpdated, this, &TimelineOverviewListWidget::Refresh);
        // A timeline deleted while shown leaves no dangling pointer behind.
        connect(mTimeline, &QObject::destroyed, this, [this] {
            mTimeline = nullptr;
            Refresh();
        });
    }
    if (mTimeline || force)
    {
        Refresh();
    }
}

void TimelineOverviewListWidget::Refresh()
{
    clear();
    if (!mTimeline)
    {
        Q_EMIT ListRefreshed(-1);
        return;
    }
    Track* track = mTimeline->MasterTrack();
    if (!track)
    {
        auto* row = new QListWidgetItem(tr("<track not found>"), this);
        row->setFlags(row->flags() & ~Qt::ItemIsEnabled);
        Q_EMIT ListRefreshed(mTimeline->OutputId());
        return;
    }
    for (int i = 0; i < track->ClipCount(); ++i)
    {
        Clip* clip = track->ClipAtIndex(i);
        if (!clip)
        {
            continue;
        }
        auto* row = new QListWidgetItem(clip->Name(), this);
        row->setData(CLIP_ID_ROLE, clip->Id());
        row->setData(CLIP_INDEX_ROLE, i);
        row->setData(START_TIME_ROLE, qint64(clip->StartTime()));
        row->setData(END_TIME_ROLE, qint64(clip->EndTime()));
        row->setData(HAS_ERRORS_ROLE, clip->HasErrors());
    }
    Q_EMIT ListRefreshed(mTimeline->OutputId());
}

QList<QUuid> TimelineOverviewListWidget::RowIds() const
{
    QList<QUuid> ids;
    for (int i = 0; i < count(); ++i)
    {
        ids.append(item(i)->data(CLIP_ID_ROLE).toUuid());
    }
    return ids;
}

QList<QUuid> TimelineOverviewListWidget::SelectedItemClipIds() const
{
    QList<QUuid> ids;
    for (int i = 0; i < count(); ++i)
    {
        if (item(i)->isSelected())
        {
            ids.append(item(i)->data(CLIP_ID_ROLE).toUuid());
        }
    }
    return ids;
}

void TimelineOverviewListWidget::SetSelectedItems(QList<QUuid> const& ids)
{
    for (int i = 0; i < count(); ++i)
    {
        item(i)->setSelected(ids.contains(item(i)->data(CLIP_ID_ROLE).toUuid()));
    }
}

void TimelineOverviewListWidget::ApplyOrder(QList<QUuid> const& ids, QList<QUuid> const& reselect)
{
    mProjectManager->DoSetClipOrderCmd(mTimeline, ids);
    SetSelectedItems(reselect);
}

void TimelineOverviewListWidget::MoveSelectedUp()
{
    if (!mTimeline || count() == 0 || selectedItems().isEmpty() || item(0)->isSelected())
    {
        return;
    }
    QList<QUuid> ids = RowIds();
    for (int i = 1; i < count(); ++i)
    {
        if (item(i)->isSelected())
        {
            ids.swapItemsAt(i, i - 1);
        }
    }
    ApplyOrder(ids, SelectedItemClipIds());
}

void TimelineOverviewListWidget::MoveSelectedDown()
{
    if (!mTimeline || count() == 0 || selectedItems().isEmpty() || item(count() - 1)->isSelected())
    {
        return;
    }
    QList<QUuid> ids = RowIds();
    for (int i = count() - 2; i >= 0; --i)
    {
        if (item(i)->isSelected())
        {
            ids.swapItemsAt(i, i + 1);
        }
    }
    ApplyOrder(ids, SelectedItemClipIds());
}

void TimelineOverviewListWidget::SortClips(bool ascending)
{
    if (!mTimeline || count() == 0)
    {
        return;
    }
    {
        QSignalBlocker const blocker(this);
        sortItems(ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    }
    mProjectManager->DoSetClipOrderCmd(mTimeline, RowIds());
}

void TimelineOverviewListWidget::DeleteSelected()
{
    QList<int> rows;
    for (QModelIndex const& index : selectedIndexes())
    {
        rows.append(index.row());
    }
    if (!mTimeline || rows.isEmpty())
    {
        return;
    }
    mProjectManager->DoDeleteClipsCmd(mTimeline, rows);
}

void TimelineOverviewListWidget::mousePressEvent(QMouseEvent* event)
{
    if (!itemAt(event->position().toPoint()))
    {
        setCurrentItem(nullptr);
        clearSelection();
        event->accept();
        return;
    }
    QListWidget::mousePressEvent(event);
}

void TimelineOverviewListWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    QList<QListWidgetItem*> const rows = selectedItems();
    if (rows.size() != 1)
    {
        return;
    }
    long long const start = rows.first()->data(START_TIME_ROLE).toLongLong();
    AvManager* av = mProjectManager->AvManagerPtr();
    if (Settings::pausePlaybackOnSeek)
    {
        av->Pause(DecodeBias::None);
    }
    av->SetPlaybackTime(start, false, false, false, true);
}

void TimelineOverviewListWidget::startDrag(Qt::DropActions)
{
    if (selectedItems().isEmpty())
    {
        return;
    }
    auto* data = new QMimeData();
    data->setData(UiHelpers::TIMELINE_VIEW_INTERNAL_MIME_TYPE, QByteArray());
    UiHelpers::ExecMoveDrag(this, data, [this](bool inProgress) { Q_EMIT DragInProgressStateChanged(inProgress); });
}

bool TimelineOverviewListWidget::CanDrop(QMimeData const* data) const
{
    return data->hasFormat(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE) ||
           data->hasFormat(UiHelpers::TIMELINE_VIEW_INTERNAL_MIME_TYPE) || data->hasUrls();
}

bool TimelineOverviewListWidget::AcceptsOnEnter(QMimeData const* data) const
{
    if (!CanDrop(data))
    {
        return false;
    }
    if (data->hasUrls())
    {
        return !FileHelpers::ValidFileDropUrls(data->urls(), true, false).isEmpty();
    }
    if (!data->hasFormat(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE))
    {
        return true;
    }
    QList<QUuid> const ids = UiHelpers::ReadIdList(data->data(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE));
    if (ids.isEmpty())
    {
        return false;
    }
    for (QUuid const& id : ids)
    {
        TimelineItem* found = mProjectManager->FindTimelineById(id);
        if (found && !found->IsSourceTimeline())
        {
            return false;
        }
    }
    return true;
}

void TimelineOverviewListWidget::dragEnterEvent(QDragEnterEvent* event)
{
    if (!AcceptsOnEnter(event->mimeData()))
    {
        event->ignore();
        return;
    }
    mDragOver = true;
    event->acceptProposedAction();
}

void TimelineOverviewListWidget::dragMoveEvent(QDragMoveEvent* event)
{
    if (!CanDrop(event->mimeData()))
    {
        event->setDropAction(Qt::IgnoreAction);
        return;
    }
    QPoint const position = event->position().toPoint();
    QListWidgetItem* reference = itemAt(position);
    if (!reference && count() > 0)
    {
        reference = item(count() - 1);
    }
    if (reference)
    {
        QRect const rect = rectForIndex(indexFromItem(reference));
        QListWidgetItem* probe = itemAt(QPoint(position.x(), position.y() + rect.height() / 2));
        if (probe)
        {
            mDropRow = row(probe);
            mDropLineY = visualItemRect(probe).top();
        }
        else
        {
            mDropRow = -1;
            mDropLineY = visualItemRect(reference).bottom() + 1;
        }
    }
    event->acceptProposedAction();
    event->setDropAction(Qt::MoveAction);
    viewport()->update();
}

void TimelineOverviewListWidget::dragLeaveEvent(QDragLeaveEvent* event)
{
    mDragOver = false;
    viewport()->update();
    event->accept();
}

void TimelineOverviewListWidget::dropEvent(QDropEvent* event)
{
    mDragOver = false;
    QMimeData const* data = event->mimeData();
    if (data->hasFormat(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE))
    {
        // The same test as on entering: an edit timeline among the ids refuses
        // the whole drop.
        QList<QUuid> const ids = UiHelpers::ReadIdList(data->data(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE));
        if (mTimeline && !ids.isEmpty() && AcceptsOnEnter(data))
        {
            mProjectManager->DoInsertClipsCmd(mTimeline, ids, mDropRow);
        }
    }
    else if (data->hasFormat(UiHelpers::TIMELINE_VIEW_INTERNAL_MIME_TYPE))
    {
        // Only this list's own drag reorders its selection.
        if (mTimeline && event->source() == this)
        {
            int const dropRow = mDropRow < 0 ? count() : mDropRow;
            QList<QUuid> const selected = SelectedItemClipIds();
            QList<QUuid> order;
            for (int i = 0; i < count(); ++i)
            {
                if (i == dropRow)
                {
                    order.append(selected);
                }
                if (!item(i)->isSelected())
                {
                    order.append(item(i)->data(CLIP_ID_ROLE).toUuid());
                }
            }
            if (dropRow >= count())
            {
                order.append(selected);
            }
            if (!selected.isEmpty())
            {
                ApplyOrder(order, selected);
            }
        }
    }
    else if (data->hasUrls())
    {
        auto* owner = mTimeline ? qobject_cast<TimelineItem*>(mTimeline->parent()) : nullptr;
        if (owner)
        {
            QList<QUrl> const valid = FileHelpers::ValidFileDropUrls(data->urls(), true, false);
            if (!valid.isEmpty())
            {
                Q_EMIT InsertFilesAtIndexRequested(valid, owner->Id(), mDropRow);
            }
        }
    }
    mDropRow = -1;
    setFocus(Qt::OtherFocusReason);
    event->accept();
    viewport()->update();
}

void TimelineOverviewListWidget::focusInEvent(QFocusEvent* event)
{
    QListWidget::focusInEvent(event);
    Q_EMIT FocusChanged(true);
}

void TimelineOverviewListWidget::focusOutEvent(QFocusEvent* event)
{
    QListWidget::focusOutEvent(event);
    Q_EMIT FocusChanged(false);
}

void TimelineOverviewListWidget::paintEvent(QPaintEvent* event)
{
    QListWidget::paintEvent(event);
    if (mDragOver && count() > 0)
    {
        QPainter painter(viewport());
        painter.drawLine(0, mDropLineY, width(), mDropLineY);
    }
}
