#include "panels/SideBarWidget.h"

#include "app/KeyBindings.h"
#include "app/KeySequenceType.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/ProjectManager.h"
#include "panels/ProjectPanel.h"
#include "panels/ProjectViewWidget.h"
#include "panels/TimelineOverviewPanel.h"
#include "panels/TimelinePropertiesPanel.h"
#include "panels/TimelineViewWidget.h"
#include "panels/UiHelpers.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QSplitter>
#include <QVBoxLayout>

SideBarWidget::SideBarWidget(ProjectManager* projectManager, KeyBindings* keyBindings, QWidget* parent)
    : QWidget(parent)
    , mKeyBindings(keyBindings)
{
    setAutoFillBackground(true);
    setAcceptDrops(true);
    setContextMenuPolicy(Qt::CustomContextMenu);
    mSplitter = new QSplitter(Qt::Vertical, this);
    mSplitter->setChildrenCollapsible(false);
    mSplitter->setStyleSheet(QStringLiteral(
        "QSplitter::handle:vertical   {height: 1px; image: none;}QSplitter::handle:horizontal {width:  1px; image: none;}"));
    mProjectView = new ProjectViewWidget(projectManager, keyBindings, mSplitter);
    mTimelineView = new TimelineViewWidget(projectManager, keyBindings, mSplitter);
    mSplitter->addWidget(mProjectView);
    mSplitter->addWidget(mTimelineView);
    mStretch = new QWidget(this);
    mStretch->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(mSplitter);
    layout->addWidget(mStretch);
    UpdateStretch();

    ProjectPanel* panel = mProjectView->ProjectPanelPtr();
    TimelinePropertiesPanel* properties = mTimelineView->TimelinePropertiesPanelPtr();
    connect(projectManager->AvManagerPtr(), &AvManager::PrimaryTimelineChanged, this,
            &SideBarWidget::OnPrimaryTimelineChanged);
    connect(mProjectView, &SideBarViewWidget::ExpandedStateChanged, this, &SideBarWidget::OnExpandedStateChanged);
    connect(mTimelineView, &SideBarViewWidget::ExpandedStateChanged, this, &SideBarWidget::OnExpandedStateChanged);
    connect(mTimelineView->TimelineOverviewPanelPtr(), &TimelineOverviewPanel::InsertFilesAtIndexRequested, panel,
            &ProjectPanel::ImportFilesByUrlToTimeline);
    connect(properties, &TimelinePropertiesPanel::TimelineNameChanged, this,
            [this](QString const& name, bool) { OnTimelineNameChanged(name); });
    connect(properties, &TimelinePropertiesPanel::PanZoomChangeRequested, this,
            &SideBarWidget::OnPanZoomChangeRequested);
    connect(properties, &TimelinePropertiesPanel::ReplaceSourceRequested, panel, &ProjectPanel::ReplaceSource);
    connect(this, &QWidget::customContextMenuRequested, this, &SideBarWidget::ShowContextMenu);
    // Saved when it changes, so a later show restores the latest arrangement.
    connect(mSplitter, &QSplitter::splitterMoved, this, [this] { SaveState(); });
}

ProjectPanel* SideBarWidget::ProjectPanelPtr() const
{
    return mProjectView->ProjectPanelPtr();
}

ProjectViewWidget* SideBarWidget::ProjectViewPtr() const
{
    return mProjectView;
}

TimelineViewWidget* SideBarWidget::TimelineViewPtr() const
{
    return mTimelineView;
}

QSplitter* SideBarWidget::Splitter() const
{
    return mSplitter;
}

QWidget* SideBarWidget::StretchWidget() const
{
    return mStretch;
}

void SideBarWidget::UpdateUserPreferences()
{
    mTimelineView->TimelineOverviewPanelPtr()->RefreshHighlightedSource();
}

void SideBarWidget::ApplicationDelete()
{
    mProjectView->ProjectPanelPtr()->ApplicationDelete();
    mTimelineView->TimelineOverviewPanelPtr()->ApplicationDelete();
}

// ---- State ----

void SideBarWidget::SaveState()
{
    if (mRestoring)
    {
        return;
    }
    Settings::sideBarViewState = mSplitter->saveState();
    Settings::sideBarOrder.clear();
    for (int i = 0; i < mSplitter->count(); ++i)
    {
        QWidget* widget = mSplitter->widget(i);
        if (widget == mProjectView)
        {
            Settings::sideBarOrder.append(QStringLiteral("0"));
        }
        else if (widget == mTimelineView)
        {
            Settings::sideBarOrder.append(QStringLiteral("1"));
        }
    }
}

void SideBarWidget::RestoreState()
{
    mRestoring = true;
    QStringList const order = Settings::sideBarOrder;
    for (int i = 0; i < order.size(); ++i)
    {
        if (order.at(i) == QLatin1String("0"))
        {
            mSplitter->insertWidget(i, mProjectView);
        }
        else if (order.at(i) == QLatin1String("1"))
        {
            mSplitter->insertWidget(i, mTimelineView);
        }
    }
    if (!Settings::sideBarViewState.isEmpty())
    {
        mSplitter->restoreState(Settings::sideBarViewState);
    }
    mRestoring = false;
}

void SideBarWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    RestoreState();
    UpdateStretch();
}

void SideBarWidget::UpdateStretch()
{
    mStretch->setVisible(!mProjectView->IsExpanded() && !mTimelineView->IsExpanded());
}

void SideBarWidget::OnExpandedStateChanged()
{
    auto* sender = qobject_cast<SideBarViewWidget*>(QObject::sender());
    if (!sender)
    {
        return;
    }
    if (!mProjectView->IsExpanded() && !mTimelineView->IsExpanded())
    {
        SideBarViewWidget* other =
            sender == mProjectView ? static_cast<SideBarViewWidget*>(mTimelineView) : mProjectView;
        other->SetExpanded(true);
    }
    UpdateStretch();
}

void SideBarWidget::OnPrimaryTimelineChanged(Timeline*, bool emptied)
{
    mTimelineView->setVisible(!emptied);
}

void SideBarWidget::OnTimelineNameChanged(QString const& name)
{
    Q_EMIT TimelineNameChanged(name);
}

void SideBarWidget::OnPanZoomChangeRequested(QPointF pan, float zoom, bool enabled)
{
    Q_EMIT PanZoomChangeRequested(pan, zoom, enabled);
}

void SideBarWidget::OnHideSideBarRequested()
{
    Q_EMIT SideBarVisibilityChangeRequested(false);
}

void SideBarWidget::OnMoveSideBarRequested()
{
    Q_EMIT MoveSideBarRequested(!Settings::sideBarLeft);
}

// ---- Title bars ----

int SideBarWidget::TitleBarIndexAt(QPoint const& position) const
{
    QPoint const inSplitter = mSplitter->mapFrom(this, position);
    if (mProjectView->isVisible() && mProjectView->TitleBarGeometry().contains(inSplitter))
    {
        return mSplitter->indexOf(mProjectView);
    }
    if (mTimelineView->isVisible() && mTimelineView->TitleBarGeometry().contains(inSplitter))
    {
        return mSplitter->indexOf(mTimelineView);
    }
    return -1;
}

void SideBarWidget::mousePressEvent(QMouseEvent* event)
{
    mPressedIndex = -1;
    if (event->button() == Qt::LeftButton)
    {
        mPressPosition = event->position().toPoint();
        mPressedIndex = TitleBarIndexAt(mPressPosition);
    }
    QWidget::mousePressEvent(event);
}

void SideBarWidget::mouseReleaseEvent(QMouseEvent*)
{
}

void SideBarWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
    {
        return;
    }
    // The second press of a double-click arrives as this event alone.
    QPoint const position = event->position().toPoint();
    mPressPosition = position;
    mPressedIndex = TitleBarIndexAt(position);
    if (mPressedIndex < 0)
    {
        return;
    }
    if (auto* view = qobject_cast<SideBarViewWidget*>(mSplitter->widget(mPressedIndex)))
    {
        view->SetExpanded(!view->IsExpanded());
    }
}

void SideBarWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (mPressedIndex < 0 || !(event->buttons() & Qt::LeftButton))
    {
        return;
    }
    if ((event->position().toPoint() - mPressPosition).manhattanLength() < QApplication::startDragDistance())
    {
        return;
    }
    auto* data = new QMimeData();
    data->setData(UiHelpers::SIDE_BAR_VIEW_MIME_TYPE, QByteArray(1, char(qint8(mPressedIndex))));
    mPressedIndex = -1;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->exec(Qt::MoveAction);
}

// ---- View drops ----

int SideBarWidget::DraggedIndex(QMimeData const* data)
{
    if (!data || !data->hasFormat(UiHelpers::SIDE_BAR_VIEW_MIME_TYPE))
    {
        return -1;
    }
    QByteArray const payload = data->data(UiHelpers::SIDE_BAR_VIEW_MIME_TYPE);
    return payload.size() == 1 ? int(qint8(payload.at(0))) : -1;
}

int SideBarWidget::DropIndexAt(QMimeData const* data, QPoint const& position) const
{
    int const dragged = DraggedIndex(data);
    if (dragged < 0 || dragged >= mSplitter->count())
    {
        return -1;
    }
    QPoint const inSplitter = mSplitter->mapFrom(this, position);
    if (mProjectView->geometry().contains(inSplitter))
    {
        return mSplitter->indexOf(mProjectView);
    }
    if (mTimelineView->isVisible() && mTimelineView->geometry().contains(inSplitter))
    {
        return mSplitter->indexOf(mTimelineView);
    }
    return -1;
}

void SideBarWidget::HideOverlays()
{
    mProjectView->SetOverlayVisible(false);
    mTimelineView->SetOverlayVisible(false);
}

void SideBarWidget::UpdateDropZone(QMimeData const* data, QPoint const& position)
{
    HideOverlays();
    mDropIndex = DropIndexAt(data, position);
    if (mDropIndex >= 0 && mDropIndex != DraggedIndex(data))
    {
        if (auto* view = qobject_cast<SideBarViewWidget*>(mSplitter->widget(mDropIndex)))
        {
            view->SetOverlayVisible(true);
        }
    }
}

void SideBarWidget::dragEnterEvent(QDragEnterEvent* event)
{
    if (!event->mimeData()->hasFormat(UiHelpers::SIDE_BAR_VIEW_MIME_TYPE))
    {
        event->ignore();
        return;
    }
    UpdateDropZone(event->mimeData(), event->position().toPoint());
    event->acceptProposedAction();
}

void SideBarWidget::dragMoveEvent(QDragMoveEvent* event)
{
    UpdateDropZone(event->mimeData(), event->position().toPoint());
    event->acceptProposedAction();
}

void SideBarWidget::dragLeaveEvent(QDragLeaveEvent* event)
{
    HideOverlays();
    mDropIndex = -1;
    event->accept();
}

void SideBarWidget::dropEvent(QDropEvent* event)
{
    int const dragged = DraggedIndex(event->mimeData());
    if (mDropIndex >= 0 && dragged >= 0 && dragged < mSplitter->count() && dragged != mDropIndex)
    {
        mSplitter->insertWidget(mDropIndex, mSplitter->widget(dragged));
        SaveState();
    }
    HideOverlays();
    mDropIndex = -1;
    event->acceptProposedAction();
}

void SideBarWidget::ShowContextMenu(QPoint const& position)
{
    if (TitleBarIndexAt(position) < 0)
    {
        return;
    }
    QMenu menu(this);
    QAction* move = menu.addAction(tr("Move Side Bar %1").arg(Settings::sideBarLeft ? tr("Right") : tr("Left")));
    if (mKeyBindings)
    {
        move->setShortcut(mKeyBindings->GetShortcut(KeySequenceType::MoveSideBar));
    }
    connect(move, &QAction::triggered, this, &SideBarWidget::OnMoveSideBarRequested);
    menu.addSeparator();
    QAction* hide = menu.addAction(tr("Hide Side Bar"));
    if (mKeyBindings)
    {
        hide->setShortcut(mKeyBindings->GetShortcut(KeySequenceType::ToggleSideBar));
    }
    connect(hide, &QAction::triggered, this, &SideBarWidget::OnHideSideBarRequested);
    menu.exec(mapToGlobal(position));
}
