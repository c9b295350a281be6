#include "window/TessarinX.h"

#include "app/KeyBindings.h"
#include "app/Settings.h"
#include "model/ProjectManager.h"
#include "panels/ProjectPanel.h"
#include "panels/ProjectSettingsDialog.h"
#include "window/MonitorPanel.h"

#include <QAction>
#include <QDialog>
#include <QDockWidget>
#include <QKeyEvent>
#include <QMenu>
#include <QUndoStack>
#include <QUndoView>
#include <QVBoxLayout>

TessarinX::TessarinX(QList<QString> const& paths)
    : TessarinBase(paths)
{
    Initialize();
}

void TessarinX::CreateActions()
{
    using T = KeySequenceType;
    TessarinBase::CreateActions();
    auto const create = [this](QAction** target, QString const& text, T type, bool checkable = false) {
        CreateAction(target, text, text, type, checkable);
    };
    CreateAction(&mFileAction, tr("Import File(s)..."), tr("Import File(s)"), T::ImportFile, false);
    CreateAction(&mImportFolderAction, tr("Import Folder..."), tr("Import Folder"), T::ImportFolder, false);
    create(&mImportProjectAction, tr("Import Project..."), T::None);
    CreateAction(&mExportToFileAction, tr("Export to File..."), tr("Export to File"), T::ExportToFile, false);
    QUndoStack* const stack = mProjectManager->UndoStackPtr();
    mProjectUndoAction = stack->createUndoAction(this, tr("Undo"));
    mProjectRedoAction = stack->createRedoAction(this, tr("Redo"));
    addAction(mProjectUndoAction);
    addAction(mProjectRedoAction);
    create(&mCommandListAction, tr("Recent Commands List"), T::None);
    CreateAction(&mProjectSettingsAction, tr("Project Settings..."), tr("Project Settings"), T::ShowProjectSettings,
                 false);
    QString const layouts[] = {tr("A/B"), tr("Horizontal"), tr("Vertical"), tr("Grid")};
    T const layoutKeys[] = {T::ToggleViewerAOverB, T::ToggleViewerHorizontal, T::ToggleViewerVertical,
                            T::ToggleViewerGrid};
    for (int i = 0; i < 4; ++i)
    {
        create(&mLayoutActions[i], layouts[i], layoutKeys[i], true);
        mLayoutActions[i]->setData(i + 1);
    }
    CreateAction(&mAnnotationVisibilityActions[0], tr("On"), tr("Annotations On"), T::AnnotationsOn, true);
    CreateAction(&mAnnotationVisibilityActions[1], tr("Off During Playback"), tr("Annotations Off During Playback"),
                 T::AnnotationsOffDuringPlayback, true);
    CreateAction(&mAnnotationVisibilityActions[2], tr("Off"), tr("Annotations Off"), T::AnnotationsOff, true);
    for (int i = 0; i < 3; ++i)
    {
        mAnnotationVisibilityActions[i]->setData(i);
    }
    create(&mToggleWipeAction, tr("Toggle A/B Wipe"), T::ToggleABWipe);
    create(&mResetWipeAction, tr("Reset A/B Wipe"), T::ResetABWipe);
    create(&mWipeSnapAction, tr("Snap on Move/Rotate"), T::ToggleABWipeSnap, true);
    create(&mWipeSnapGuidesAction, tr("Snap Guides"), T::ToggleABWipeSnapGuides, true);
    create(&mSwapABTimelinesAction, tr("Swap A/B Timelines"), T::SwapABTimelines);
    create(&mClearViewerTimelinesAction, tr("Clear All Viewer Timelines"), T::ClearAllViewerTimelines);
    create(&mViewerControlsAction, tr("Viewer Controls"), T::ToggleViewerControls, true);
    create(&mSideBarAction, tr("Side Bar"), T::ToggleSideBar, true);
    create(&mMoveSideBarAction, tr("Move Side Bar"), T::MoveSideBar);
    create(&mAnnotationToolsAction, tr("Annotation Tools"), T::ToggleAnnotationTools, true);
    QString const tools[] = {tr("Activate Pencil"), tr("Activate Laser Pointer"), tr("Activate Eraser"),
                             tr("Activate Text"),   tr("Activate Arrow"),         tr("Activate Ellipse"),
                             tr("Activate Rectangle")};
    T const toolKeys[] = {T::ActivatePencil, T::ActivateLaserPointer, T::ActivateEraser,   T::ActivateText,
                          T::ActivateArrow,  T::ActivateEllipse,      T::ActivateRectangle};
    for (int i = 0; i < 7; ++i)
    {
        create(&mToolActions[i], tools[i], toolKeys[i]);
        mToolActions[i]->setData(i);
    }
    create(&mIncreaseToolSizeAction, tr("Increase Tool Size"), T::IncreaseToolSize);
    create(&mDecreaseToolSizeAction, tr("Decrease Tool Size"), T::DecreaseToolSize);
    create(&mEyedropperAction, tr("Activate Eyedropper"), T::ActivateEyedropper);
    create(&mHoldAnnotationsAction, tr("Hold Annotations"), T::ToggleHoldAnnotations);
    create(&mGhostingAction, tr("Ghosting"), T::ToggleGhosting);
    create(&mUndoAnnotationAction, tr("Undo Annotation"), T::None);
    create(&mRedoAnnotationAction, tr("Redo Annotation"), T::None);
    SetAnnotationShortcutsEnabled(false);
}

void TessarinX::CreateMenus()
{
    TessarinBase::CreateMenus();
    // File: the imports and project entries first, then export and capture.
    mFileMenu->insertAction(mNewProjectAction, mImportFolderAction);
    mFileMenu->insertSeparator(mNewProjectAction);
    mFileMenu->insertAction(mSaveProjectAction, mImportProjectAction);
    mFileMenu->insertSeparator(mSaveProjectAction);
    QAction* const capture = mCaptureImageMenu->menuAction();
    mFileMenu->insertAction(capture, mExportToFileAction);

    if (Settings::projectUndoEnabled)
    {
        mEditMenu->insertAction(mRangeStartToCurrentAction, mProjectUndoAction);
        mEditMenu->insertAction(mRangeStartToCurrentAction, mProjectRedoAction);
        mEditMenu->insertSeparator(mRangeStartToCurrentAction);
    }
    mEditMenu->insertAction(mPreferencesAction, mProjectSettingsAction);

    // Video: layouts, annotations, overlays and the wipe ahead of the base entries.
    mVideoMenu->clear();
    QMenu* const layout = mVideoMenu->addMenu(tr("Layout"));
    for (QAction* action : mLayoutActions)
    {
        layout->addAction(action);
    }
    layout->addSeparator();
    mVideoMenu->addSeparator();
    QMenu* const annotations = mVideoMenu->addMenu(tr("Annotations"));
    for (QAction* action : mAnnotationVisibilityActions)
    {
        annotations->addAction(action);
    }
    mVideoMenu->addMenu(mOverlaysMenu);
    QMenu* const wipe = mVideoMenu->addMenu(tr("A/B Wipe"));
    AddMenuGroups(wipe, {{mToggleWipeAction, mResetWipeAction}, {mWipeSnapAction, mWipeSnapGuidesAction}});
    AddVideoViewEntries();

    mToolsMenu->clear();
    AddMenuGroups(mToolsMenu, {{mSwapABTimelinesAction, mClearViewerTimelinesAction},
                               {mGlobalTimeControlAction, mRangeTimeControlAction, mSwapTimeControlsAction},
                               {mPlaybackControlsAction, mViewerControlsAction, mMenuBarAction},
                               {mSideBarAction, mMoveSideBarAction},
                               {mAnnotationToolsAction},
                               {mMediaInfoAction, mConsoleAction},
                               {mMayaToolsAction}});
}

void TessarinX::CreateConnections()
{
    if (mConnectionsMade)
    {
        return;
    }
    mConnectionsMade = true;
    TessarinBase::CreateConnections();
    ProjectPanel* const panel = ProjectPanelPtr();
    MonitorPanel* const monitor = mMonitorPanel;
    connect(mFileAction, &QAction::triggered, panel, &ProjectPanel::ImportFiles);
    connect(mImportFolderAction, &QAction::triggered, panel, &ProjectPanel::ImportFolder);
    connect(mCommandListAction, &QAction::triggered, this, &TessarinX::ShowUndoDialog);
    connect(mProjectSettingsAction, &QAction::triggered, this, &TessarinX::ShowProjectSettingsDialog);
    for (QAction* action : mLayoutActions)
    {
        connect(action, &QAction::triggered, monitor, &MonitorPanel::ToggleViewerLayoutBySender);
    }
    for (QAction* action : mAnnotationVisibilityActions)
    {
        connect(action, &QAction::triggered, monitor, &MonitorPanel::SetAnnotationVisibilityBySender);
    }
    connect(mToggleWipeAction, &QAction::triggered, monitor, &MonitorPanel::ToggleABWipe);
    connect(mResetWipeAction, &QAction::triggered, monitor, &MonitorPanel::ResetABWipe);
    connect(mWipeSnapAction, &QAction::triggered, this, &TessarinX::ToggleABWipeSnap);
    connect(mWipeSnapGuidesAction, &QAction::triggered, this, &TessarinX::ToggleABWipeSnapGuides);
    connect(mSwapABTimelinesAction, &QAction::triggered, panel, &ProjectPanel::SwapABViewerTimelines);
    connect(mClearViewerTimelinesAction, &QAction::triggered, panel, &ProjectPanel::ClearAllViewerTimelines);
    connect(mViewerControlsAction, &QAction::triggered, monitor, &MonitorPanel::ToggleViewerControlsVisibility);
    connect(mSideBarAction, &QAction::triggered, this, &TessarinX::SetSideBarVisible);
    connect(mMoveSideBarAction, &QAction::triggered, this, &TessarinX::ToggleSideBarPosition);
    connect(mAnnotationToolsAction, &QAction::triggered, monitor, &MonitorPanel::SetAnnotationToolbarVisible);
    for (QAction* action : mToolActions)
    {
        connect(action, &QAction::triggered, monitor, &MonitorPanel::SetAnnotationToolBySender);
    }
    connect(mIncreaseToolSizeAction, &QAction::triggered, monitor, &MonitorPanel::IncreaseAnnotationToolSize);
    connect(mDecreaseToolSizeAction, &QAction::triggered, monitor, &MonitorPanel::DecreaseAnnotationToolSize);
    connect(mEyedropperAction, &QAction::triggered, monitor, &MonitorPanel::ActivateEyedropper);
    connect(mHoldAnnotationsAction, &QAction::triggered, monitor, &MonitorPanel::ToggleHoldAnnotationFrames);
    connect(mGhostingAction, &QAction::triggered, monitor, &MonitorPanel::ToggleGhosting);
    connect(mUndoAnnotationAction, &QAction::triggered, monitor, &MonitorPanel::UndoAnnotation);
    connect(mRedoAnnotationAction, &QAction::triggered, monitor, &MonitorPanel::RedoAnnotation);
    connect(monitor, &MonitorPanel::AnnotationToolbarVisibilityChanged, this, &TessarinX::SetAnnotationShortcutsEnabled);
}

void TessarinX::CreateLConnections()
{
    connect(mImportProjectAction, &QAction::triggered, ProjectPanelPtr(), &ProjectPanel::ImportProject);
    connect(mExportToFileAction, &QAction::triggered, this, &TessarinX::ShowExportToFileDialog);
}

void TessarinX::PostInitialize()
{
}

void TessarinX::SetAnnotationShortcutsEnabled(bool on)
{
    if (on)
    {
        mProjectUndoAction->setShortcuts({});
        mProjectRedoAction->setShortcuts({});
        mKeyBindings->SetAction(KeySequenceType::Undo, mUndoAnnotationAction);
        mKeyBindings->SetAction(KeySequenceType::Redo, mRedoAnnotationAction);
    }
    else
    {
        mUndoAnnotationAction->setShortcuts({});
        mRedoAnnotationAction->setShortcuts({});
        bool const project = Settings::projectUndoEnabled;
        mKeyBindings->SetAction(KeySequenceType::Undo, project ? mProjectUndoAction : nullptr);
        mKeyBindings->SetAction(KeySequenceType::Redo, project ? mProjectRedoAction : nullptr);
    }
    mKeyBindings->Update();
}

void TessarinX::SetSideBarVisible(bool visible)
{
    Settings::sideBarVisible = visible;
    if (mSideBarAction)
    {
        mSideBarAction->setChecked(visible);
    }
    if (mSideBarDock)
    {
        mSideBarDock->setVisible(visible);
    }
}

void TessarinX::ToggleABWipeSnap()
{
    Settings::wipeSnapEnabled = !Settings::wipeSnapEnabled;
}

void TessarinX::ToggleABWipeSnapGuides()
{
    Settings::wipeSnapGuidesEnabled = !Settings::wipeSnapGuidesEnabled;
}

void TessarinX::ShowExportToFileDialog()
{
    if (!isFullScreen())
    {
        mMonitorPanel->ShowExportDialog();
    }
}

void TessarinX::ShowProjectSettingsDialog()
{
    if (isFullScreen())
    {
        return;
    }
    if (!mProjectSettingsDialog)
    {
        mProjectSettingsDialog = new ProjectSettingsDialog(mProjectManager, this);
    }
    mProjectSettingsDialog->show();
}

void TessarinX::ShowUndoDialog()
{
    if (isFullScreen())
    {
        return;
    }
    if (!mUndoDialog)
    {
        mUndoDialog = new QDialog(this);
        mUndoDialog->setWindowTitle(tr("Command List"));
        mUndoDialog->setMinimumSize(200, 200);
        auto* const layout = new QVBoxLayout(mUndoDialog);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new QUndoView(mProjectManager->UndoStackPtr(), mUndoDialog));
    }
    mUndoDialog->show();
}

void TessarinX::UpdateFileActions()
{
    TessarinBase::UpdateFileActions();
    mImportProjectAction->setEnabled(true);
    mExportToFileAction->setEnabled(true);
}

void TessarinX::UpdateVideoActions()
{
    TessarinBase::UpdateVideoActions();
    int const layout = int(mMonitorPanel->ViewerLayout());
    for (int i = 0; i < 4; ++i)
    {
        mLayoutActions[i]->setChecked(layout == i + 1);
    }
    for (int i = 0; i < 3; ++i)
    {
        mAnnotationVisibilityActions[i]->setChecked(Settings::annotationVisibility == i);
    }
    mWipeSnapAction->setChecked(Settings::wipeSnapEnabled);
    mWipeSnapGuidesAction->setChecked(Settings::wipeSnapGuidesEnabled);
}

void TessarinX::UpdateToolsActions()
{
    TessarinBase::UpdateToolsActions();
    mViewerControlsAction->setChecked(mMonitorPanel->IsViewerControlsVisible());
    mSideBarAction->setChecked(Settings::sideBarVisible);
    mMoveSideBarAction->setText(tr("Move Side Bar %1").arg(Settings::sideBarLeft ? tr("Right") : tr("Left")));
    mAnnotationToolsAction->setChecked(mMonitorPanel->IsAnnotationDrawingEnabled());
}

void TessarinX::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Control)
    {
        mMonitorPanel->SetCtrlKeyPressed(true);
    }
    TessarinBase::keyPressEvent(event);
}

void TessarinX::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Control)
    {
        mMonitorPanel->SetCtrlKeyPressed(false);
    }
    TessarinBase::keyReleaseEvent(event);
}
