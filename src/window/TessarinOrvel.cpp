#include "window/TessarinOrvel.h"

#include "app/FileHelpers.h"
#include "app/KeySequenceType.h"
#include "panels/ProjectPanel.h"

#include <QAction>
#include <QDockWidget>
#include <QMenu>

TessarinOrvel::TessarinOrvel(QList<QString> const& paths)
    : TessarinBase(paths)
{
    Initialize();
}

void TessarinOrvel::CreateActions()
{
    TessarinBase::CreateActions();
    CreateAction(&mFileAction, tr("Open File..."), tr("Open File"), KeySequenceType::ImportFile, false);
    CreateAction(&mSaveSourceAsAction, tr("Save Source As..."), tr("Save Source As..."), KeySequenceType::SaveSourceAs,
                 false);
    CreateAction(&mReplaceSourceAction, tr("Replace Source..."), tr("Replace Source..."),
                 KeySequenceType::ReplaceSource, false);
    CreateAction(&mShowInFolderAction, tr("Show in Folder"), tr("Show in Folder"), KeySequenceType::ShowInFolder,
                 false);
}

void TessarinOrvel::CreateMenus()
{
    TessarinBase::CreateMenus();
    mFileMenu->insertSeparator(mNewProjectAction);
    QAction* const capture = mCaptureImageMenu->menuAction();
    mFileMenu->insertAction(capture, mSaveSourceAsAction);
    mFileMenu->insertAction(capture, mReplaceSourceAction);
    mFileMenu->insertSeparator(capture);
}

void TessarinOrvel::CreateConnections()
{
    if (mConnectionsMade)
    {
        return;
    }
    mConnectionsMade = true;
    TessarinBase::CreateConnections();
    ProjectPanel* const panel = ProjectPanelPtr();
    // No browser here: opening a file, a recent file or a drop replaces the project.
    panel->SetImportReplacesProject(true);
    connect(mFileAction, &QAction::triggered, panel, &ProjectPanel::ImportFile);
    connect(mSaveSourceAsAction, &QAction::triggered, panel, &ProjectPanel::SaveSourceAs);
    connect(mReplaceSourceAction, &QAction::triggered, panel, &ProjectPanel::ReplaceSourceOrvel);
    connect(mShowInFolderAction, &QAction::triggered, panel, &ProjectPanel::ShowInFolder);
}

void TessarinOrvel::PostInitialize()
{
}

void TessarinOrvel::SetSideBarVisible(bool)
{
    if (mSideBarDock)
    {
        mSideBarDock->hide();
    }
}

