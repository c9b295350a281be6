#include "panels/TimelineOverviewPanel.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "panels/TimelineOverviewListWidget.h"

#include <QVBoxLayout>

TimelineOverviewPanel::TimelineOverviewPanel(ProjectManager* projectManager, QWidget* parent)
    : QWidget(parent)
    , mProjectManager(projectManager)
    , mAvManager(projectManager->AvManagerPtr())
{
    mList = new TimelineOverviewListWidget(projectManager, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(mList);
    connect(mAvManager, &AvManager::VideoFrameChanged, this,
            [this](int outputId) { UpdateHighlightedSource(outputId); });
    connect(mList, &TimelineOverviewListWidget::ListRefreshed, this, &TimelineOverviewPanel::OnListRefreshed);
    connect(mList, &TimelineOverviewListWidget::InsertFilesAtIndexRequested, this,
            &TimelineOverviewPanel::OnInsertFilesAtIndexRequested);
    connect(mList, &TimelineOverviewListWidget::DragInProgressStateChanged, this,
            &TimelineOverviewPanel::OnDragInProgressStateChanged);
    connect(mList, &TimelineOverviewListWidget::FocusChanged, this, &TimelineOverviewPanel::OnFocusChanged);
}

TimelineOverviewListWidget* TimelineOverviewPanel::ListWidget() const
{
    return mList;
}

int TimelineOverviewPanel::HighlightedRow() const
{
    return mHighlightedRow;
}

void TimelineOverviewPanel::DeleteSelected()
{
    mList->DeleteSelected();
}

void TimelineOverviewPanel::MoveSelectedUp()
{
    mList->MoveSelectedUp();
}

void TimelineOverviewPanel::MoveSelectedDown()
{
    mList->MoveSelectedDown();
}

void TimelineOverviewPanel::SortAscending()
{
    mList->SortClips(true);
}

void TimelineOverviewPanel::SortDescending()
{
    mList->SortClips(false);
}

void TimelineOverviewPanel::ApplicationDelete()
{
    if (hasFocus() || mList->hasFocus())
    {
        mList->DeleteSelected();
    }
}

void TimelineOverviewPanel::UpdateHighlightedSource(int outputId)
{
    Timeline* primary = mAvManager->PrimaryTimeline();
    int row = -1;
    if (primary)
    {
        if (primary->OutputId() != outputId)
        {
            return;
        }
        row = primary->CurrentClipIndex();
    }
    if (row == mHighlightedRow)
    {
        return;
    }
    mHighlightedRow = row;
    RefreshHighlightedSource();
}

void TimelineOverviewPanel::OnListRefreshed(int outputId)
{
    mHighlightedRow = -2;
    UpdateHighlightedSource(outputId);
}

void TimelineOverviewPanel::RefreshHighlightedSource()
{
    QPalette const palette = mList->palette();
    for (int i = 0; i < mList->count(); ++i)
    {
        QListWidgetItem* row = mList->item(i);
        if (i == mHighlightedRow && Settings::highlightCurrentSourceInTimelinePanel)
        {
            row->setData(Qt::ForegroundRole, QBrush(Qt::white));
            row->setData(Qt::BackgroundRole, QBrush(palette.color(QPalette::Current, QPalette::AlternateBase)));
        }
        else
        {
            bool const errors = row->data(TimelineOverviewListWidget::HAS_ERRORS_ROLE).toBool();
            row->setData(Qt::ForegroundRole,
                         QBrush(errors ? QColor(Qt::red) : palette.color(QPalette::Current, QPalette::Text)));
            row->setData(Qt::BackgroundRole, QBrush(palette.color(QPalette::Current, QPalette::Base)));
        }
    }
}

void TimelineOverviewPanel::OnInsertFilesAtIndexRequested(QList<QUrl> const& urls, QUuid const& timelineItemId,
                                                          int row)
{
    Q_EMIT InsertFilesAtIndexRequested(urls, timelineItemId, 0, row);
}

void TimelineOverviewPanel::OnDragInProgressStateChanged(bool inProgress)
{
    Q_EMIT DragInProgressStateChanged(inProgress);
}

void TimelineOverviewPanel::OnFocusChanged(bool hasFocus)
{
    Q_EMIT FocusChanged(hasFocus);
}

void TimelineOverviewPanel::focusInEvent(QFocusEvent*)
{
    mList->setFocus(Qt::OtherFocusReason);
}

void TimelineOverviewPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Q_EMIT VisibilityChanged(true);
}
