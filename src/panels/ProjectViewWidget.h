#pragma once

#include "panels/SideBarViewWidget.h"

class ProjectManager;
class ProjectPanel;

// The side-bar view that hosts the project panel under a title bar with the
// New Folder, New Timeline, Import File(s) and Delete buttons.
class ProjectViewWidget : public SideBarViewWidget
{
    Q_OBJECT

public:
    ProjectViewWidget(ProjectManager* projectManager, KeyBindings* keyBindings, QWidget* parent);

    ProjectPanel* ProjectPanelPtr() const;
    void UpdateVisibility() override;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void RunTitleBarButtonAction(int index) override;

private:
    ProjectPanel* mPanel = nullptr;
};
