#pragma once

#include "app/KeySequenceType.h"

#include <QList>
#include <QMainWindow>
#include <QString>

class ConsoleWindow;
class GlobalTimeControlWidget;
class KeyBindings;
class MonitorPanel;
class PlaybackControlWidget;
class PreferencesDialog;
class ProjectManager;
class QAction;
class RangeTimeControlWidget;
class ViewerWidget;
class QDockWidget;
class SideBarWidget;

// The main window common to both editions of the player. It owns the project
// manager and the key bindings, makes one action per command, keeps the console
// window, opens what a later launch hands over and shuts the player down in order.
// An edition's constructor runs this one's, then Initialize().
class TessarinBase : public QMainWindow
{
    Q_OBJECT

public:
    ~TessarinBase() override;

    MonitorPanel* MonitorPanelPtr() const;

public Q_SLOTS:
    void ProcessMessageFromOtherInstance(QList<QString> arguments);
    void ExecuteConsoleCommand(QString const& command);
    void ShowConsoleWindow();
    // Made on first use and kept; refused while the window is full screen.
    void ShowPreferencesDialog();
    void SetBlockUserInputEnabled(bool block);
    void UpdateWindowTitle();
    // Stores the console's and the window's state, writes the key-binding and
    // settings files and ends the engine. Runs once; later calls do nothing.
    void Shutdown();

protected:
    explicit TessarinBase(QList<QString> const& paths);

    void Initialize();
    virtual void CreateActions();
    void CreateAction(QAction** target, QString const& text, QString const& statusTip, KeySequenceType type,
                      bool checkable);
    void CreateWidgets();
    // The monitor panel as central widget: the viewer with its bars and strips.
    void CreateMonitor();
    virtual void CreateConnections();
    // The window's playback, view, bookmark and capture actions to the panel.
    void ConnectMonitorPanel();
    void PostShow();

    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

    ProjectManager* mProjectManager = nullptr;
    KeyBindings* mKeyBindings = nullptr;
    MonitorPanel* mMonitorPanel = nullptr;
    ViewerWidget* mViewerWidget = nullptr;
    GlobalTimeControlWidget* mGlobalTimeControl = nullptr;
    RangeTimeControlWidget* mRangeTimeControl = nullptr;
    PlaybackControlWidget* mPlaybackControl = nullptr;
    // The project browser and timeline panel, in the window's dock.
    SideBarWidget* mSideBar = nullptr;
    QDockWidget* mSideBarDock = nullptr;

    // The edition's file action (Open File in the player edition).
    QAction* mFileAction = nullptr;

    QAction* mNewProjectAction = nullptr;
    QAction* mOpenProjectAction = nullptr;
    QAction* mOpenRecentProjectAction = nullptr;
    QAction* mSaveProjectAction = nullptr;
    QAction* mSaveProjectAsAction = nullptr;
    QAction* mImportRecentFileAction = nullptr;
    QAction* mCaptureToClipboardAction = nullptr;
    QAction* mCaptureToFolderAction = nullptr;
    QAction* mOpenNewInstanceAction = nullptr;
    QAction* mExitAction = nullptr;
    QAction* mRangeStartToCurrentAction = nullptr;
    QAction* mRangeEndToCurrentAction = nullptr;
    QAction* mResetRangeAction = nullptr;
    QAction* mAlwaysOnTopAction = nullptr;
    QAction* mPreferencesAction = nullptr;
    QAction* mSpeedNormalAction = nullptr;
    QAction* mSpeedHalfAction = nullptr;
    QAction* mSpeedQuarterAction = nullptr;
    QAction* mSpeedToggleLastAction = nullptr;
    QAction* mSpeedIncreaseAction = nullptr;
    QAction* mSpeedDecreaseAction = nullptr;
    QAction* mPlayPauseAction = nullptr;
    QAction* mPlayPauseBookmarksOnlyAction = nullptr;
    QAction* mPlayForwardsAction = nullptr;
    QAction* mPlayBackwardsAction = nullptr;
    QAction* mPauseAction = nullptr;
    QAction* mStepForwardsAction = nullptr;
    QAction* mStepBackwardsAction = nullptr;
    QAction* mMultiStepForwardsAction = nullptr;
    QAction* mMultiStepBackwardsAction = nullptr;
    QAction* mSeekStartAction = nullptr;
    QAction* mSeekEndAction = nullptr;
    QAction* mSeekRangeStartAction = nullptr;
    QAction* mSeekRangeEndAction = nullptr;
    QAction* mSeekPreviousEditAction = nullptr;
    QAction* mSeekNextEditAction = nullptr;
    QAction* mToggleLoopAction = nullptr;
    QAction* mPlayOnceAction = nullptr;
    QAction* mLoopAction = nullptr;
    QAction* mPingPongAction = nullptr;
    QAction* mLoopOnStepScrubAction = nullptr;
    QAction* mLoopStepScrubToRangeAction = nullptr;
    QAction* mLockStepScrubToRangeAction = nullptr;
    QAction* mAutoplayAction = nullptr;
    QAction* mAudioScrubAction = nullptr;
    QAction* mIncreaseVolumeAction = nullptr;
    QAction* mDecreaseVolumeAction = nullptr;
    QAction* mMuteAction = nullptr;
    QAction* mOverlayOffAction = nullptr;
    QAction* mOverlaySafeAreaAction = nullptr;
    QAction* mOverlayGridAction = nullptr;
    QAction* mOverlayCenterAction = nullptr;
    QAction* mOriginalSizeAction = nullptr;
    QAction* mHalfSizeAction = nullptr;
    QAction* mQuarterSizeAction = nullptr;
    QAction* mDoubleSizeAction = nullptr;
    QAction* mFullscreenAction = nullptr;
    QAction* mZoomInAction = nullptr;
    QAction* mZoomOutAction = nullptr;
    QAction* mTogglePanZoomAction = nullptr;
    QAction* mResetPanZoomAction = nullptr;
    QAction* mFlipHorizontalAction = nullptr;
    QAction* mFlipVerticalAction = nullptr;
    QAction* mRotateCWAction = nullptr;
    QAction* mRotateCCWAction = nullptr;
    QAction* mResetFlipRotateAction = nullptr;
    QAction* mToggleBookmarkAction = nullptr;
    QAction* mToggleRangeBookmarkAction = nullptr;
    QAction* mCutBookmarkAction = nullptr;
    QAction* mCopyBookmarkAction = nullptr;
    QAction* mPasteBookmarkAction = nullptr;
    QAction* mRemoveBookmarksAction = nullptr;
    QAction* mRemoveBookmarksInRangeAction = nullptr;
    QAction* mRemoveRangeBookmarksAction = nullptr;
    QAction* mClearAllBookmarksAction = nullptr;
    QAction* mPreviousBookmarkAction = nullptr;
    QAction* mNextBookmarkAction = nullptr;
    QAction* mPreviousRangeBookmarkAction = nullptr;
    QAction* mNextRangeBookmarkAction = nullptr;
    QAction* mSwapTimeControlsAction = nullptr;
    QAction* mGlobalTimeControlAction = nullptr;
    QAction* mRangeTimeControlAction = nullptr;
    QAction* mPlaybackControlsAction = nullptr;
    QAction* mMenuBarAction = nullptr;
    QAction* mMediaInfoAction = nullptr;
    QAction* mConsoleAction = nullptr;
    QAction* mMayaToolsAction = nullptr;
    QAction* mDocumentationAction = nullptr;
    QAction* mAboutAction = nullptr;
    QAction* mDeleteAction = nullptr;
    QAction* mEscapeAction = nullptr;

private:
    // Opens a project file, or imports media (directly or listed in a ".txt" file)
    // the way start-up and a later launch's message both do.
    void OpenPaths(QList<QString> paths);

    ConsoleWindow* mConsoleWindow = nullptr;
    PreferencesDialog* mPreferencesDialog = nullptr;
    QList<QString> mStartupPaths;
    bool mShownOnce = false;
    bool mShutDown = false;
};
