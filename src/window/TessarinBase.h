#pragma once

#include "app/KeySequenceType.h"

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QSize>
#include <QString>

#include <initializer_list>

class AboutDialog;
class ConsoleWindow;
class QDockWidget;
class QTimer;
class GlobalTimeControlWidget;
class KeyBindings;
class MonitorPanel;
class PlaybackControlWidget;
class PreferencesDialog;
class ProjectManager;
class QAction;
class ProjectPanel;
class QMenu;
class SideBarWidget;
class StartupPaintHold;
class QMenuBar;
class RangeTimeControlWidget;
class ViewerWidget;

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
    // What holds the window's repaints until the start-up file's first
    // picture is at hand; null when nothing was to open at start-up or the
    // viewer draws in software.
    StartupPaintHold* HoldRepaintsForStartupPicture() const;

public Q_SLOTS:
    void ProcessMessageFromOtherInstance(QList<QString> arguments);
    void ExecuteConsoleCommand(QString const& command);
    void ShowConsoleWindow();
    // The dialogs are made on first use and kept; each is refused while the
    // window is full screen.
    void ShowPreferencesDialog();
    void OnPreferencesAccepted();
    void ShowAboutDialog();
    void ShowMayaToolsDialog();
    void SetBlockUserInputEnabled(bool block);
    void UpdateWindowTitle();
    void SetAlwaysOnTopEnabled(bool on);
    // Ignored in full screen.
    void SetMenuBarVisible(bool visible);
    void SetLoopOnStepEnabled(bool enabled);
    void SetLoopStepToRangeEnabled(bool enabled);
    void SetLockStepToRangeEnabled(bool enabled);
    // Makes the viewer show width by height device pixels.
    void ResizeViewer(int width, int height);
    void ResizeViewerFromSender();
    void SetFullscreenEnabled(bool on);
    void ToggleFullscreen();
    void ApplicationEscape();
    void ApplicationDelete();
    void ForceRepaint();
    void ToggleSideBarVisibility();
    void SetSideBarLeft(bool left);
    void ToggleSideBarPosition();
    void SetTimelineName(QString const& name);
    void SetPlaybackFrame(int frame, int offset);
    void OpenDocumentation();
    void OpenNewInstance();
    void UpdateRecentFilesSubMenu();
    void UpdateRecentProjectsSubMenu();
    virtual void SetSideBarVisible(bool visible) = 0;
    virtual void UpdateFileActions();
    void UpdateEditActions();
    void UpdatePlaybackActions();
    void UpdateLoopActions();
    void UpdateStepScrubActions();
    void UpdateAudioActions();
    virtual void UpdateVideoActions();
    void UpdateFlipActions();
    virtual void UpdateToolsActions();
    void SyncActions();

Q_SIGNALS:
    // The player has begun to quit (Shutdown runs): from now on nothing a
    // later launch hands over opens here. Carries the hand-over that was held
    // and not opened yet, empty when there is none.
    void QuitBegun(QList<QString> const& unopenedHandOver);

public:
    // The Fusion style with the dark palette and the application style sheet.
    static void SetStyle();
    // Takes the preferred fixed and general font families when installed.
    static void UpdateFonts();
    // The size in window units that shows width by height device pixels.
    static QSize ViewerTargetSize(int width, int height, qreal devicePixelRatio);
    // The target itself when it fits in room, else the largest size of the
    // same shape that does.
    static QSize FitViewerSize(QSize const& target, QSize const& room);
    // Stores the console's and the window's state, writes the key-binding and
    // settings files and ends the engine. Runs once; later calls do nothing.
    void Shutdown();

protected:
    explicit TessarinBase(QList<QString> const& paths);

    void Initialize();
    virtual void CreateActions();
    void CreateAction(QAction** target, QString const& text, QString const& statusTip, KeySequenceType type,
                      bool checkable);
    // The monitor panel, the side bar in its dock and the console window.
    void CreateWidgets();
    // The monitor panel: the viewer with its bars and strips.
    void CreateMonitor();
    // The monitor panel fills the central widget; the side bar's dock goes
    // to the side the settings say.
    void CreateLayout();
    // Shortcuts beyond the actions' own; none in either edition.
    virtual void CreateShortcuts() {}
    virtual void CreateMenus();
    // Adds the groups of entries to the menu with a separator between groups.
    static void AddMenuGroups(QMenu* menu, std::initializer_list<QList<QAction*>> groups);
    // The Video menu from the separator before "Size" on, in both editions.
    void AddVideoViewEntries();
    // The actions' connections, one function per receiver, so that each can
    // be pointed at the panel that takes those commands over.
    void ConnectWindowActions();
    void ConnectEngineActions();
    void ConnectSideBar();
    ProjectPanel* ProjectPanelPtr() const;
    virtual void CreateConnections();
    virtual void CreateLConnections() {}
    virtual void PostInitialize() = 0;
    // The project actions (open, open recent, save, save as) are connected here
    // and nowhere else, so that one trigger opens one dialog.
    virtual void ConnectProjectActions();
    // Asked before the window closes; a refusal keeps everything open and
    // unsaved. The project panel asks the user when the settings say so.
    virtual bool ConfirmProjectClose();
    // The window's playback, view, bookmark and capture actions to the panel.
    void ConnectMonitorPanel();
    // Places the window, then opens the start-up files and shows the window
    // while they are parsed, so that the window is made ready for its first
    // paint during the parse.
    void ShowAndOpenStartupFiles();
    // Runs once: checks the configuration folder and opens the start-up files.
    void PostShow();
    void CreateStartupPaintHold();
    // Restores the stored geometry and layout, or places the first window,
    // once and before the window is first shown.
    void PlaceOnce();
    // The first window's place when no geometry was stored.
    void PlaceFirstWindow();

    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

    ProjectManager* mProjectManager = nullptr;
    KeyBindings* mKeyBindings = nullptr;
    MonitorPanel* mMonitorPanel = nullptr;
    ViewerWidget* mViewerWidget = nullptr;
    GlobalTimeControlWidget* mGlobalTimeControl = nullptr;
    RangeTimeControlWidget* mRangeTimeControl = nullptr;
    PlaybackControlWidget* mPlaybackControl = nullptr;

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
    QAction* mTogglePingPongAction = nullptr;
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

    QMenu* mFileMenu = nullptr;
    QMenu* mEditMenu = nullptr;
    QMenu* mPlaybackMenu = nullptr;
    QMenu* mAudioMenu = nullptr;
    QMenu* mVideoMenu = nullptr;
    QMenu* mBookmarksMenu = nullptr;
    QMenu* mToolsMenu = nullptr;
    QMenu* mHelpMenu = nullptr;
    QMenu* mCaptureImageMenu = nullptr;
    QMenu* mRecentFilesMenu = nullptr;
    QMenu* mRecentProjectsMenu = nullptr;
    QMenu* mSpeedMenu = nullptr;
    QMenu* mFrameStepMenu = nullptr;
    QMenu* mLoopingMenu = nullptr;
    QMenu* mStepScrubMenu = nullptr;
    QMenu* mOverlaysMenu = nullptr;
    QMenu* mSizeMenu = nullptr;
    QMenu* mPanZoomMenu = nullptr;
    QMenu* mRemoveBookmarksMenu = nullptr;

    QMenuBar* mMenuBar = nullptr;
    QTimer* mMenuPressTimer = nullptr;
    SideBarWidget* mSideBar = nullptr;
    QDockWidget* mSideBarDock = nullptr;
    bool mConnectionsMade = false;
    bool mMenuBarWasVisible = true;
    bool mSideBarWasVisible = true;
    bool mViewerControlsWereVisible = true;
    // What the window was before full screen, stored in its stead when the
    // program ends in full screen.
    Qt::WindowStates mWindowStatesBeforeFullscreen;
    QByteArray mGeometryBeforeFullscreen;
    QByteArray mDockStateBeforeFullscreen;
    bool mSideBarSettingBeforeFullscreen = true;
    QString mTimelineName;
    int mPlaybackFrame = 0;

protected:
    // Opens a project file, or imports media (directly or listed in a ".txt" file)
    // the way start-up and a later launch's message both do.
    void OpenPaths(QList<QString> paths);

private:
    // Opens what a later launch handed over once nothing stands in its way:
    // no question about the project is open and no export runs.
    void OpenHeldHandOver();

    ConsoleWindow* mConsoleWindow = nullptr;
    PreferencesDialog* mPreferencesDialog = nullptr;
    AboutDialog* mAboutDialog = nullptr;
    QList<QString> mStartupPaths;
    // The latest hand-over of a later launch not opened yet (see
    // OpenHeldHandOver); a newer one replaces it, as it would the project.
    QList<QString> mHeldHandOver;
    bool mHandOverHeld = false;
    StartupPaintHold* mStartupPaintHold = nullptr;
    bool mShownOnce = false;
    bool mPlaced = false;
    bool mPostShowDone = false;
    bool mShutDown = false;
};
