#include "panels/ProjectViewWidget.h"

#include "app/Settings.h"
#include "panels/ProjectPanel.h"

#include <QFocusEvent>
#include <QVBoxLayout>

ProjectViewWidget::ProjectViewWidget(ProjectManager* projectManager, KeyBindings* keyBindings, QWidget* parent)
    : SideBarViewWidget(keyBindings, parent)
{
    SetViewName(tr("PROJECT VIEW"));
    mPanel = new ProjectPanel(projectManager, this);
    AppendTitleBarButton(QStringLiteral(":/icons/new_folder.png"), tr("New Folder"));
    AppendTitleBarButton(QStringLiteral(":/icons/new_timeline.png"), tr("New Timeline"));
    AppendTitleBarButton(QStringLiteral(":/icons/import_file.png"), tr("Import File(s)"));
    AppendTitleBarButton(QStringLiteral(":/icons/delete.png"), tr("Delete"));
    GetMainLayout()->addWidget(mPanel);
    connect(mPanel, &ProjectPanel::ProjectNameChanged, this, &ProjectViewWidget::SetViewName);
    connect(mPanel, &ProjectPanel::DragInProgressStateChanged, this,
            &ProjectViewWidget::SetTitleBarButtonsAlwaysVisible);
    connect(mPanel, &ProjectPanel::FocusChanged, this, &ProjectViewWidget::SetTitleBarButtonsAlwaysVisible);
    SetExpanded(Settings::sideBarProjectExpanded);
}

ProjectPanel* ProjectViewWidget::ProjectPanelPtr() const
{
    return mPanel;
}

void ProjectViewWidget::UpdateVisibility()
{
    SideBarViewWidget::UpdateVisibility();
    Settings::sideBarProjectExpanded = IsExpanded();
    if (mPanel)
    {
        mPanel->setVisible(IsExpanded());
    }
}

void ProjectViewWidget::focusInEvent(QFocusEvent* event)
{
    HandleTitleBarFocusPress(event->reason());
    mPanel->setFocus(Qt::OtherFocusReason);
}

void ProjectViewWidget::RunTitleBarButtonAction(int index)
{
    switch (index)
    {
    case 0:
        mPanel->NewFolder();
        break;
    case 1:
        mPanel->NewTimeline();
        break;
    case 2:
        mPanel->ImportFile();
        break;
    case 3:
        mPanel->DeleteItems();
        break;
    default:
        break;
    }
}
