#pragma once

#include "window/TessarinBase.h"

class ProjectSettingsDialog;
class QDialog;

// The full edition of the main window: project import and export, project undo
// and redo with a command list, viewer layouts, annotations, the A/B wipe and
// the side bar.
class TessarinX : public TessarinBase
{
    Q_OBJECT

public:
    explicit TessarinX(QList<QString> const& paths);

public Q_SLOTS:
    // While the annotation tools show, the undo and redo keys undo strokes;
    // otherwise they undo project commands.
    void SetAnnotationShortcutsEnabled(bool on);
    void SetSideBarVisible(bool visible) override;
    void ToggleABWipeSnap();
    void ToggleABWipeSnapGuides();
    void ShowExportToFileDialog();
    void ShowProjectSettingsDialog();
    void ShowUndoDialog();
    void UpdateFileActions() override;
    void UpdateVideoActions() override;
    void UpdateToolsActions() override;

protected:
    void CreateActions() override;
    void CreateMenus() override;
    void CreateConnections() override;
    void CreateLConnections() override;
    void PostInitialize() override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    QAction* mImportFolderAction = nullptr;
    QAction* mImportProjectAction = nullptr;
    QAction* mExportToFileAction = nullptr;
    QAction* mProjectUndoAction = nullptr;
    QAction* mProjectRedoAction = nullptr;
    QAction* mCommandListAction = nullptr;
    QAction* mProjectSettingsAction = nullptr;
    QAction* mLayoutActions[4] = {};
    QAction* mAnnotationVisibilityActions[3] = {};
    QAction* mToggleWipeAction = nullptr;
    QAction* mResetWipeAction = nullptr;
    QAction* mWipeSnapAction = nullptr;
    QAction* mWipeSnapGuidesAction = nullptr;
    QAction* mSwapABTimelinesAction = nullptr;
    QAction* mClearViewerTimelinesAction = nullptr;
    QAction* mViewerControlsAction = nullptr;
    QAction* mSideBarAction = nullptr;
    QAction* mMoveSideBarAction = nullptr;
    QAction* mAnnotationToolsAction = nullptr;
    QAction* mToolActions[7] = {};
    QAction* mIncreaseToolSizeAction = nullptr;
    QAction* mDecreaseToolSizeAction = nullptr;
    QAction* mEyedropperAction = nullptr;
    QAction* mHoldAnnotationsAction = nullptr;
    QAction* mGhostingAction = nullptr;
    QAction* mUndoAnnotationAction = nullptr;
    QAction* mRedoAnnotationAction = nullptr;
    ProjectSettingsDialog* mProjectSettingsDialog = nullptr;
    QDialog* mUndoDialog = nullptr;
};
