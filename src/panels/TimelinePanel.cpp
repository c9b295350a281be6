#include "panels/TimelinePanel.h"

#include "panels/TimelineOverviewPanel.h"
#include "panels/TimelinePropertiesPanel.h"

#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

TimelinePanel::TimelinePanel(ProjectManager* projectManager, QWidget* parent)
    : QWidget(parent)
{
    setStyleSheet(QStringLiteral("QTabWidget::pane { border: 0 }"));
    mOverview = new TimelineOverviewPanel(projectManager, this);
    mProperties = new TimelinePropertiesPanel(projectManager, this);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setWidget(mProperties);
    mTabs = new QTabWidget(this);
    mTabs->setTabPosition(QTabWidget::South);
    mTabs->addTab(mOverview, tr("Sources"));
    mTabs->addTab(scroll, tr("Properties"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(mTabs);
    connect(mProperties, &TimelinePropertiesPanel::TimelineNameChanged, this, &TimelinePanel::OnTimelineNameChanged);
    connect(mTabs, &QTabWidget::tabBarClicked, this, &TimelinePanel::SetFocusAtIndex);
}

TimelineOverviewPanel* TimelinePanel::TimelineOverviewPanelPtr() const
{
    return mOverview;
}

TimelinePropertiesPanel* TimelinePanel::TimelinePropertiesPanelPtr() const
{
    return mProperties;
}

QTabWidget* TimelinePanel::TabWidget() const
{
    return mTabs;
}

void TimelinePanel::MoveSelectedUp()
{
    mOverview->MoveSelectedUp();
}

void TimelinePanel::MoveSelectedDown()
{
    mOverview->MoveSelectedDown();
}

void TimelinePanel::SortAscending()
{
    mOverview->SortAscending();
}

void TimelinePanel::SortDescending()
{
    mOverview->SortDescending();
}

void TimelinePanel::DeleteSelected()
{
    mOverview->DeleteSelected();
}

void TimelinePanel::OnTimelineNameChanged(QString const& name, bool editTimeline)
{
    bool const sourcesVisible = mTabs->isTabVisible(0);
    if (sourcesVisible && !editTimeline)
    {
        mSourcesWasCurrent = mTabs->currentIndex() == 0;
    }
    mTabs->tabBar()->setVisible(editTimeline);
    mTabs->setTabVisible(0, editTimeline);
    if (!editTimeline)
    {
        mTabs->setCurrentIndex(1);
    }
    if (editTimeline && mSourcesWasCurrent)
    {
        mTabs->setCurrentIndex(0);
        mSourcesWasCurrent = false;
    }
    Q_EMIT TimelineNameChanged(name);
}

void TimelinePanel::SetFocusAtIndex(int index)
{
    if (index >= 0 && mTabs->widget(index))
    {
        mTabs->widget(index)->setFocus(Qt::OtherFocusReason);
    }
}

void TimelinePanel::focusInEvent(QFocusEvent*)
{
    if (mOverview->isVisible())
    {
        mOverview->setFocus(Qt::OtherFocusReason);
    }
}
