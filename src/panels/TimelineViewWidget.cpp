#include "panels/TimelineViewWidget.h"

#include "app/Settings.h"
#include "panels/TimelineOverviewPanel.h"
#include "panels/TimelinePanel.h"
#include "panels/TimelinePropertiesPanel.h"

#include <QCursor>
#include <QFocusEvent>
#include <QVBoxLayout>

TimelineViewWidget::TimelineViewWidget(ProjectManager* projectManager, KeyBindings* keyBindings, QWidget* parent)
    : SideBarViewWidget(keyBindings, parent)
{
    SetViewName(QStringLiteral("TIMELINE"));
    mPanel = new TimelinePanel(projectManager, this);
    AppendTitleBarButton(QStringLiteral(":/icons/move_up.png"), tr("Move Up"));
    AppendTitleBarButton(QStringLiteral(":/icons/move_down.png"), tr("Move Down"));
    AppendTitleBarButton(QStringLiteral(":/icons/sort_ascending.png"), tr("Sort Ascending"));
    AppendTitleBarButton(QStringLiteral(":/icons/sort_descending.png"), tr("Sort Descending"));
    AppendTitleBarButton(QStringLiteral(":/icons/delete.png"), tr("Delete"));
    GetMainLayout()->addWidget(mPanel);
    connect(mPanel, &TimelinePanel::TimelineNameChanged, this, &TimelineViewWidget::SetViewName);
    TimelineOverviewPanel* overview = mPanel->TimelineOverviewPanelPtr();
    connect(overview, &TimelineOverviewPanel::DragInProgressStateChanged, this,
            &TimelineViewWidget::SetTitleBarButtonsAlwaysVisible);
    connect(overview, &TimelineOverviewPanel::FocusChanged, this,
            &TimelineViewWidget::SetTitleBarButtonsAlwaysVisible);
    connect(overview, &TimelineOverviewPanel::VisibilityChanged, this, [this] { UpdateVisibility(); });
    connect(mPanel->TimelinePropertiesPanelPtr(), &TimelinePropertiesPanel::VisibilityChanged, this,
            [this] { UpdateVisibility(); });
    SetExpanded(Settings::sideBarTimelineExpanded);
}

TimelinePanel* TimelineViewWidget::TimelinePanelPtr() const
{
    return mPanel;
}

TimelinePropertiesPanel* TimelineViewWidget::TimelinePropertiesPanelPtr() const
{
    return mPanel->TimelinePropertiesPanelPtr();
}

TimelineOverviewPanel* TimelineViewWidget::TimelineOverviewPanelPtr() const
{
    return mPanel->TimelineOverviewPanelPtr();
}

void TimelineViewWidget::UpdateVisibility()
{
    if (mPanel)
    {
        if (!mPanel->TimelinePropertiesPanelPtr()->isVisible())
        {
            SetTitleBarButtonsEnabled(true);
            SetTitleBarButtonsVisible(rect().contains(mapFromGlobal(QCursor::pos())));
        }
        else
        {
            SetTitleBarButtonsEnabled(false);
        }
    }
    SideBarViewWidget::UpdateVisibility();
    Settings::sideBarTimelineExpanded = IsExpanded();
    if (mPanel)
    {
        mPanel->setVisible(IsExpanded());
    }
}

void TimelineViewWidget::focusInEvent(QFocusEvent* event)
{
    if (mPanel->TimelineOverviewPanelPtr()->isVisible())
    {
        HandleTitleBarFocusPress(event->reason());
    }
    mPanel->setFocus(Qt::OtherFocusReason);
}

void TimelineViewWidget::RunTitleBarButtonAction(int index)
{
    switch (index)
    {
    case 0:
        mPanel->MoveSelectedUp();
        break;
    case 1:
        mPanel->MoveSelectedDown();
        break;
    case 2:
        mPanel->SortAscending();
        break;
    case 3:
        mPanel->SortDescending();
        break;
    case 4:
        mPanel->DeleteSelected();
        break;
    default:
        break;
    }
}
