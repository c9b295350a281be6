#pragma once

#include <QWidget>

class ProjectManager;
class QTabWidget;
class TimelineOverviewPanel;
class TimelinePropertiesPanel;

// The body of the timeline view: the clip list ("Sources", edit timelines only)
// and the properties ("Properties") as tabs at the bottom.
class TimelinePanel : public QWidget
{
    Q_OBJECT

public:
    TimelinePanel(ProjectManager* projectManager, QWidget* parent);

    TimelineOverviewPanel* TimelineOverviewPanelPtr() const;
    TimelinePropertiesPanel* TimelinePropertiesPanelPtr() const;
    QTabWidget* TabWidget() const;

public Q_SLOTS:
    void MoveSelectedUp();
    void MoveSelectedDown();
    void SortAscending();
    void SortDescending();
    void DeleteSelected();
    void OnTimelineNameChanged(QString const& name, bool editTimeline);
    void SetFocusAtIndex(int index);

Q_SIGNALS:
    void TimelineNameChanged(QString const& name);

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    QTabWidget* mTabs;
    TimelineOverviewPanel* mOverview;
    TimelinePropertiesPanel* mProperties;
    bool mSourcesWasCurrent = false;
};
