#pragma once

#include "panels/SideBarViewWidget.h"

class ProjectManager;
class TimelineOverviewPanel;
class TimelinePanel;
class TimelinePropertiesPanel;

// The side-bar view "TIMELINE": the timeline panel under a title bar with the
// Move Up, Move Down, Sort Ascending, Sort Descending and Delete buttons.
class TimelineViewWidget : public SideBarViewWidget
{
    Q_OBJECT

public:
    TimelineViewWidget(ProjectManager* projectManager, KeyBindings* keyBindings, QWidget* parent);

    TimelinePanel* TimelinePanelPtr() const;
    TimelinePropertiesPanel* TimelinePropertiesPanelPtr() const;
    TimelineOverviewPanel* TimelineOverviewPanelPtr() const;
    void UpdateVisibility() override;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void RunTitleBarButtonAction(int index) override;

private:
    TimelinePanel* mPanel = nullptr;
};
