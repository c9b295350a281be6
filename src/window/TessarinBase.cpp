#include "window/TessarinBase.h"

#include "app/ConsoleWindow.h"
#include "app/FileHelpers.h"
#include "app/KeyBindings.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "model/ProjectManager.h"
#include "media/AvManager.h"
#include "panels/PreferencesDialog.h"
#include "viewer/ViewerWidget.h"
#include "window/GlobalTimeControlWidget.h"
#include "window/MonitorPanel.h"
#include "window/PlaybackControlWidget.h"
#include "window/RangeTimeControlWidget.h"
#include "panels/ProjectPanel.h"
#include "panels/SideBarWidget.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QIcon>
#include <QTemporaryFile>
#include <QTimer>
#include <QUuid>
#include <QVBoxLayout>

TessarinBase::TessarinBase(QList<QString> const& paths)
    : QMainWindow(nullptr)
    , mProjectManager(new ProjectManager(this))
    , mKeyBindings(new KeyBindings())
    , mStartupPaths(paths)
{
    setWindowIcon(QIcon(QStringLiteral(":icons/application_zeph.png")));
    setFocusPolicy(Qt::StrongFocus);
    setContextMenuPolicy(Qt::NoContextMenu);
}

TessarinBase::~TessarinBase()
{
    delete mConsoleWindow; // left when the window goes without a shutdown
    delete mKeyBindings;
}

void TessarinBase::Initialize()
{
    CreateActions();
    mKeyBindings->Update();
    CreateWidgets();
    CreateConnections();
    mKeyBindings->ReadUserKeyBindings();
    if (Settings::clientApiPortEnabled)
    {
        mProjectManager->InitializeCmdServer(Settings::clientApiPort);
    }
    mProjectManager->NewProject(true);
    UpdateWindowTitle();
    Logger::GetInstance()->Output(
        QStringLiteral("%1 v%2\n").arg(Settings::applicationTitle, Settings::applicationVersion));
    QTimer::singleShot(0, this, &QWidget::show);
}

void TessarinBase::CreateAction(QAction** target, QString const& text, QString const& statusTip,
                                KeySequenceType type, bool checkable)
{
    auto* action = new QAction(text, this);
    action->setStatusTip(statusTip);
    action->setCheckable(checkable);
    mKeyBindings->SetAction(type, action);
    *target = action;
    // Part of the window, so that its shortcut works without a menu entry.
    addAction(action);
}

void TessarinBase::CreateActions()
{
    using T = KeySequenceType;
    // Most actions' status tip is their text.
    auto const create = [this](QAction** target, QString const& text, T type, bool checkable = false) {
        CreateAction(target, text, text, type, checkable);
    };
    create(&mNewProjectAction, tr("New Project"), T::NewProject);
    CreateAction(&mOpenProjectAction, tr("Open Project..."), tr("Open Project"), T::OpenProject, false);
    create(&mOpenRecentProjectAction, tr("Open Recent Project"), T::OpenRecentProject);
    create(&mSaveProjectAction, tr("Save Project"), T::SaveProject);
    CreateAction(&mSaveProjectAsAction, tr("Save Project As..."), tr("Save Project As"), T::SaveProjectAs, false);
    create(&mImportRecentFileAction, tr("Import Recent File"), T::ImportRecentFile);
    CreateAction(&mCaptureToClipboardAction, tr("To Clipboard"), tr("Capture Image to Clipboard"),
                 T::CaptureToClipboard, false);
    CreateAction(&mCaptureToFolderAction, tr("To Folder..."), tr("Capture Image to Folder"), T::CaptureToFolder,
                 false);
    create(&mOpenNewInstanceAction, tr("Open New Instance"), T::OpenNewInstance);
    create(&mExitAction, tr("Exit"), T::Exit);
    create(&mRangeStartToCurrentAction, tr("Range Start to Current"), T::RangeStartToCurrent);
    create(&mRangeEndToCurrentAction, tr("Range End to Current"), T::RangeEndToCurrent);
    create(&mResetRangeAction, tr("Reset Range"), T::ResetRange);
    create(&mAlwaysOnTopAction, tr("Always on Top"), T::ToggleAlwaysOnTop, true);
    CreateAction(&mPreferencesAction, tr("Preferences..."), tr("Preferences"), T::ShowPreferences, false);
    CreateAction(&mSpeedNormalAction, tr("Normal"), tr("Normal Speed"), T::PlaybackSpeedNormal, false);
    CreateAction(&mSpeedHalfAction, tr("Half"), tr("Half Speed"), T::PlaybackSpeedHalf, false);
    CreateAction(&mSpeedQuarterAction, tr("Quarter"), tr("Quarter Speed"), T::PlaybackSpeedQuarter, false);
    create(&mSpeedToggleLastAction, tr("Toggle Last"), T::TogglePlaybackSpeed);
    CreateAction(&mSpeedIncreaseAction, tr("Increase"), tr("Increase Speed"), T::IncreasePlaybackSpeed, false);
    CreateAction(&mSpeedDecreaseAction, tr("Decrease"), tr("Decrease Speed"), T::DecreasePlaybackSpeed, false);
    create(&mPlayPauseAction, tr("Play/Pause"), T::PlayPause);
    create(&mPlayPauseBookmarksOnlyAction, tr("Play/Pause (Bookmarks Only)"), T::PlayPauseBookmarksOnly);
    create(&mPlayForwardsAction, tr("Play Forwards"), T::PlayForwards);
    create(&mPlayBackwardsAction, tr("Play Backwards"), T::PlayBackwards);
    create(&mPauseAction, tr("Pause"), T::Pause);
    create(&mStepForwardsAction, tr("Step Forwards"), T::StepForwards);
    create(&mStepBackwardsAction, tr("Step Backwards"), T::StepBackwards);
    create(&mMultiStepForwardsAction, tr("Multi-Step Forwards"), T::MultiStepForwards);
    create(&mMultiStepBackwardsAction, tr("Multi-Step Backwards"), T::MultiStepBackwards);
    create(&mSeekStartAction, tr("Go to Start"), T::SeekStart);
    create(&mSeekEndAction, tr("Go to End"), T::SeekEnd);
    create(&mSeekRangeStartAction, tr("Go to Range Start"), T::SeekRangeStart);
    create(&mSeekRangeEndAction, tr("Go to Range End"), T::SeekRangeEnd);
    create(&mSeekPreviousEditAction, tr("Go to Previous Edit"), T::SeekPreviousEdit);
    create(&mSeekNextEditAction, tr("Go to Next Edit"), T::SeekNextEdit);
    create(&mToggleLoopAction, tr("Toggle"), T::ToggleLoop);
    create(&mPlayOnceAction, tr("Play Once"), T::None, true);
    create(&mLoopAction, tr("Loop"), T::None, true);
    create(&mPingPongAction, tr("Ping Pong"), T::None, true);
    create(&mLoopOnStepScrubAction, tr("Loop on Step/Scrub"), T::ToggleLoopOnStepScrub, true);
    create(&mLoopStepScrubToRangeAction, tr("Loop Step/Scrub to Range"), T::ToggleLoopStepScrubToRange, true);
    create(&mLockStepScrubToRangeAction, tr("Lock Step/Scrub to Range"), T::ToggleLockStepScrubToRange, true);
    create(&mAutoplayAction, tr("Autoplay"), T::ToggleAutoplay, true);
    create(&mAudioScrubAction, tr("Audio Scrub"), T::ToggleAudioScrub, true);
    create(&mIncreaseVolumeAction, tr("Increase Volume"), T::IncreaseVolume);
    create(&mDecreaseVolumeAction, tr("Decrease Volume"), T::DecreaseVolume);
    create(&mMuteAction, tr("Mute"), T::ToggleMute);
    create(&mOverlayOffAction, tr("Off"), T::OverlayOff, true);
    create(&mOverlaySafeAreaAction, tr("Safe Area"), T::OverlaySafeArea, true);
    create(&mOverlayGridAction, tr("Grid"), T::OverlayGrid, true);
    create(&mOverlayCenterAction, tr("Center"), T::OverlayCenter, true);
    create(&mOriginalSizeAction, tr("Original Size"), T::ResizeToOriginal);
    create(&mHalfSizeAction, tr("Half Size"), T::ResizeToHalf);
    create(&mQuarterSizeAction, tr("Quarter Size"), T::ResizeToQuarter);
    create(&mDoubleSizeAction, tr("Double Size"), T::ResizeToDouble);
    CreateAction(&mFullscreenAction, tr("Fullscreen"), tr("Toggle Fullscreen"), T::ToggleFullscreen, true);
    create(&mZoomInAction, tr("Zoom In"), T::ZoomIn);
    create(&mZoomOutAction, tr("Zoom Out"), T::ZoomOut);
    create(&mTogglePanZoomAction, tr("Toggle Pan/Zoom"), T::TogglePanZoom);
    create(&mResetPanZoomAction, tr("Reset Pan/Zoom"), T::ResetPanZoom);
    create(&mFlipHorizontalAction, tr("Flip Horizontal"), T::FlipHorizontal, true);
    create(&mFlipVerticalAction, tr("Flip Vertical"), T::FlipVertical, true);
    create(&mRotateCWAction, tr("Rotate CW"), T::RotateCW);
    create(&mRotateCCWAction, tr("Rotate CCW"), T::RotateCCW);
    create(&mResetFlipRotateAction, tr("Reset Flip/Rotate"), T::ResetFlipRotate);
    create(&mToggleBookmarkAction, tr("Toggle Bookmark"), T::ToggleBookmark);
    create(&mToggleRangeBookmarkAction, tr("Toggle Range Bookmark"), T::ToggleRangeBookmark);
    create(&mCutBookmarkAction, tr("Cut Bookmark"), T::CutBookmark);
    create(&mCopyBookmarkAction, tr("Copy Bookmark"), T::CopyBookmark);
    create(&mPasteBookmarkAction, tr("Paste Bookmark"), T::PasteBookmark);
    create(&mRemoveBookmarksAction, tr("Bookmarks"), T::RemoveBookmarks);
    create(&mRemoveBookmarksInRangeAction, tr("Bookmarks in Range"), T::RemoveBookmarksInRange);
    create(&mRemoveRangeBookmarksAction, tr("Range Bookmarks"), T::RemoveRangeBookmarks);
    create(&mClearAllBookmarksAction, tr("Clear All"), T::ClearAllBookmarks);
    create(&mPreviousBookmarkAction, tr("Previous Bookmark"), T::PreviousBookmark);
    create(&mNextBookmarkAction, tr("Next Bookmark"), T::NextBookmark);
    create(&mPreviousRangeBookmarkAction, tr("Previous Range Bookmark"), T::PreviousRangeBookmark);
    create(&mNextRangeBookmarkAction, tr("Next Range Bookmark"), T::NextRangeBookmark);
    create(&mSwapTimeControlsAction, tr("Swap Time Controls"), T::SwapTimeControls);
    create(&mGlobalTimeControlAction, tr("Global Time Control"), T::ToggleGlobalTimeControl, true);
    create(&mRangeTimeControlAction, tr("Range Time Control"), T::ToggleRangeTimeControl, true);
    create(&mPlaybackControlsAction, tr("Playback Controls"), T::TogglePlaybackControls, true);
    create(&mMenuBarAction, tr("Menu Bar"), T::ToggleMenuBar, true);
    create(&mMediaInfoAction, tr("Media Info"), T::ToggleMediaInfo, true);
    create(&mConsoleAction, tr("Console"), T::ToggleConsole);
    create(&mMayaToolsAction, tr("Maya Tools"), T::ShowMayaTools);
    CreateAction(&mDocumentationAction, tr("Documentation..."), tr("Documentation"), T::OpenDocumentation, false);
    CreateAction(&mAboutAction, tr("About..."), tr("About"), T::None, false);
    create(&mDeleteAction, tr("Delete"), T::ApplicationDel);
    create(&mEscapeAction, tr("Escape"), T::ApplicationEsc);
}

void TessarinBase::CreateWidgets()
{
    // A window of its own, kept until shutdown.
    mConsoleWindow = new ConsoleWindow(nullptr);

    mSideBar = new SideBarWidget(mProjectManager, mKeyBindings, this);
    mSideBarDock = new QDockWidget(tr("SideBar Dock Title"), this);
    mSideBarDock->setMinimumWidth(260);
    mSideBarDock->setObjectName(QStringLiteral("sidebardock"));
    mSideBarDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    mSideBarDock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    mSideBarDock->setTitleBarWidget(new QWidget(mSideBarDock));
    mSideBarDock->setWidget(mSideBar);
    addDockWidget(Settings::sideBarLeft ? Qt::LeftDockWidgetArea : Qt::RightDockWidgetArea, mSideBarDock);
    // The player edition keeps the dock hidden: its user reaches the project
    // browser through the project commands alone.
    mSideBarDock->hide();

    CreateMonitor();
}

void TessarinBase::CreateMonitor()
{
    mMonitorPanel = new MonitorPanel(mProjectManager, mKeyBindings, this);
    mViewerWidget = mMonitorPanel->ViewerWidgetPtr();
    mGlobalTimeControl = mMonitorPanel->GlobalTimeControl();
    mRangeTimeControl = mMonitorPanel->RangeTimeControl();
    mPlaybackControl = mMonitorPanel->PlaybackControl();
    setCentralWidget(mMonitorPanel);
}

MonitorPanel* TessarinBase::MonitorPanelPtr() const
{
    return mMonitorPanel;
}

void TessarinBase::ConnectMonitorPanel()
{
    MonitorPanel* const panel = mMonitorPanel;
    connect(panel, &MonitorPanel::OpenProjectRequested, mProjectManager,
            [this](QString const& path) { mProjectManager->OpenProject(path); });
    connect(panel, &MonitorPanel::OpenUrlsRequested, mProjectManager,
            [this](QList<QUrl> const& urls, int viewport, int count, bool play) {
                QList<QString> paths;
                for (QUrl const& url : urls)
                {
                    paths.append(url.toLocalFile());
                }
                mProjectManager->ImportFilesByPath(paths, QUuid(), -1, viewport, count, play, QUuid(), -1, -1, true);
            });
    connect(panel, &MonitorPanel::OpenTimelinesRequested, mProjectManager,
            &ProjectManager::DoOpenTimelinesInViewerCmd);
    connect(panel, &MonitorPanel::ShowConsoleRequested, this, &TessarinBase::ShowConsoleWindow);
    connect(panel, &MonitorPanel::ToggleFullscreenRequested, this, [this] {
        setWindowState(windowState() ^ Qt::WindowFullScreen);
        mMonitorPanel->SetFullscreenState(isFullScreen());
    });
    // The window grows or shrinks so that the viewer gets the requested size.
    connect(panel, &MonitorPanel::ViewerResizeRequested, this, [this](int width, int height) {
        if (width <= 0 || height <= 0 || isFullScreen() || isMaximized())
        {
            return;
        }
        QSize const viewer = mMonitorPanel->ViewerSize();
        resize(this->width() + width - viewer.width(), this->height() + height - viewer.height());
    });

    auto const on = [this, panel](QAction* action, void (MonitorPanel::*slot)()) {
        connect(action, &QAction::triggered, panel, slot);
    };
    on(mCaptureToClipboardAction, &MonitorPanel::SnapshotToClipboard);
    on(mCaptureToFolderAction, &MonitorPanel::SnapshotToFolder);
    on(mRangeStartToCurrentAction, &MonitorPanel::RangeStartToCurrent);
    on(mRangeEndToCurrentAction, &MonitorPanel::RangeEndToCurrent);
    on(mResetRangeAction, &MonitorPanel::ResetRange);
    mSpeedNormalAction->setData(1.0f);
    mSpeedHalfAction->setData(0.5f);
    mSpeedQuarterAction->setData(0.25f);
    on(mSpeedNormalAction, &MonitorPanel::SetPlaybackSpeedBySender);
    on(mSpeedHalfAction, &MonitorPanel::SetPlaybackSpeedBySender);
    on(mSpeedQuarterAction, &MonitorPanel::SetPlaybackSpeedBySender);
    on(mSpeedIncreaseAction, &MonitorPanel::IncreasePlaybackSpeed);
    on(mSpeedDecreaseAction, &MonitorPanel::DecreasePlaybackSpeed);
    on(mPlayPauseAction, &MonitorPanel::TogglePlayPause);
    on(mPlayPauseBookmarksOnlyAction, &MonitorPanel::TogglePlayPauseBookmarksOnly);
    on(mPlayForwardsAction, &MonitorPanel::PlayForwards);
    on(mPlayBackwardsAction, &MonitorPanel::PlayBackwards);
    on(mPauseAction, &MonitorPanel::Pause);
    on(mStepForwardsAction, &MonitorPanel::FrameStepForward);
    on(mStepBackwardsAction, &MonitorPanel::FrameStepBackward);
    on(mMultiStepForwardsAction, &MonitorPanel::MultiFrameStepForward);
    on(mMultiStepBackwardsAction, &MonitorPanel::MultiFrameStepBackward);
    on(mSeekStartAction, &MonitorPanel::SeekTimelineStart);
    on(mSeekEndAction, &MonitorPanel::SeekTimelineEnd);
    on(mSeekRangeStartAction, &MonitorPanel::SeekRangeStart);
    on(mSeekRangeEndAction, &MonitorPanel::SeekRangeEnd);
    on(mSeekPreviousEditAction, &MonitorPanel::SeekPreviousEdit);
    on(mSeekNextEditAction, &MonitorPanel::SeekNextEdit);
    on(mToggleLoopAction, &MonitorPanel::ToggleLoopState);
    mPlayOnceAction->setData(0);
    mLoopAction->setData(1);
    mPingPongAction->setData(2);
    on(mPlayOnceAction, &MonitorPanel::SetLoopStateBySender);
    on(mLoopAction, &MonitorPanel::SetLoopStateBySender);
    on(mPingPongAction, &MonitorPanel::SetLoopStateBySender);
    on(mIncreaseVolumeAction, &MonitorPanel::IncreaseVolume);
    on(mDecreaseVolumeAction, &MonitorPanel::DecreaseVolume);
    on(mMuteAction, &MonitorPanel::ToggleMute);
    mOverlayOffAction->setData(0);
    mOverlaySafeAreaAction->setData(1);
    mOverlayGridAction->setData(2);
    mOverlayCenterAction->setData(3);
    on(mOverlayOffAction, &MonitorPanel::SetViewerOverlayDrawableStateBySender);
    on(mOverlaySafeAreaAction, &MonitorPanel::SetViewerOverlayDrawableStateBySender);
    on(mOverlayGridAction, &MonitorPanel::SetViewerOverlayDrawableStateBySender);
    on(mOverlayCenterAction, &MonitorPanel::SetViewerOverlayDrawableStateBySender);
    connect(mOriginalSizeAction, &QAction::triggered, panel, [panel] { panel->ResizeViewer(1.0f); });
    connect(mHalfSizeAction, &QAction::triggered, panel, [panel] { panel->ResizeViewer(0.5f); });
    connect(mQuarterSizeAction, &QAction::triggered, panel, [panel] { panel->ResizeViewer(0.25f); });
    connect(mDoubleSizeAction, &QAction::triggered, panel, [panel] { panel->ResizeViewer(2.0f); });
    on(mFullscreenAction, &MonitorPanel::ToggleFullscreen);
    on(mZoomInAction, &MonitorPanel::ZoomIn);
    on(mZoomOutAction, &MonitorPanel::ZoomOut);
    on(mTogglePanZoomAction, &MonitorPanel::TogglePanAndZoom);
    on(mResetPanZoomAction, &MonitorPanel::ResetPanAndZoom);
    connect(mFlipHorizontalAction, &QAction::toggled, panel, &MonitorPanel::SetHorizontalFlipEnabled);
    connect(mFlipVerticalAction, &QAction::toggled, panel, &MonitorPanel::SetVerticalFlipEnabled);
    on(mRotateCWAction, &MonitorPanel::RotateClockwise);
    on(mRotateCCWAction, &MonitorPanel::RotateCounterClockwise);
    on(mResetFlipRotateAction, &MonitorPanel::ResetFlipAndRotate);
    on(mToggleBookmarkAction, &MonitorPanel::ToggleBookmark);
    on(mToggleRangeBookmarkAction, &MonitorPanel::ToggleRangeBoomark);
    on(mCutBookmarkAction, &MonitorPanel::CutBookmark);
    on(mCopyBookmarkAction, &MonitorPanel::CopyBookmark);
    on(mPasteBookmarkAction, &MonitorPanel::PasteBookmark);
    on(mRemoveBookmarksAction, &MonitorPanel::RemoveBookmarks);
    on(mRemoveBookmarksInRangeAction, &MonitorPanel::RemoveBookmarksInRange);
    on(mRemoveRangeBookmarksAction, &MonitorPanel::RemoveRangeBookmarks);
    on(mClearAllBookmarksAction, &MonitorPanel::ClearAllBookmarks);
    on(mPreviousBookmarkAction, &MonitorPanel::SeekPreviousBookmark);
    on(mNextBookmarkAction, &MonitorPanel::SeekNextBookmark);
    on(mPreviousRangeBookmarkAction, &MonitorPanel::SetRangeToPreviousRangeBookmark);
    on(mNextRangeBookmarkAction, &MonitorPanel::SetRangeToNextRangeBookmark);
    on(mSwapTimeControlsAction, &MonitorPanel::SwapTimeControls);
    on(mGlobalTimeControlAction, &MonitorPanel::ToggleGlobalTimeControlVisible);
    on(mRangeTimeControlAction, &MonitorPanel::ToggleRangeTimeControlVisible);
    on(mPlaybackControlsAction, &MonitorPanel::TogglePlaybackControlsVisible);
    on(mMediaInfoAction, &MonitorPanel::ToggleMediaInfoVisibility);
    on(mMayaToolsAction, &MonitorPanel::ShowMayaToolsDialog);
}

void TessarinBase::CreateConnections()
{
    connect(mProjectManager, &ProjectManager::UndoCleanChanged, this, &TessarinBase::UpdateWindowTitle);
    connect(mProjectManager, &ProjectManager::BlockUserInputChanged, this, &TessarinBase::SetBlockUserInputEnabled);
    connect(mConsoleWindow, &ConsoleWindow::CommandExecuted, this, &TessarinBase::ExecuteConsoleCommand);
    connect(mExitAction, &QAction::triggered, this, &QWidget::close);
    connect(mConsoleAction, &QAction::triggered, this, &TessarinBase::ShowConsoleWindow);
    connect(mPreferencesAction, &QAction::triggered, this, &TessarinBase::ShowPreferencesDialog);
    ProjectPanel* panel = mSideBar->ProjectPanelPtr();
    mOpenRecentProjectAction->setData(ProjectPanel::MostRecentPathAlias());
    connect(mNewProjectAction, &QAction::triggered, panel, &ProjectPanel::NewProject);
    connect(mOpenProjectAction, &QAction::triggered, panel, &ProjectPanel::OpenProject);
    connect(mOpenRecentProjectAction, &QAction::triggered, panel, &ProjectPanel::OpenProject);
    connect(mSaveProjectAction, &QAction::triggered, panel, &ProjectPanel::SaveProject);
    connect(mSaveProjectAsAction, &QAction::triggered, panel, &ProjectPanel::SaveProjectAs);
    connect(mDeleteAction, &QAction::triggered, mSideBar, &SideBarWidget::ApplicationDelete);
    connect(mSideBar, &SideBarWidget::SideBarVisibilityChangeRequested, mSideBarDock, &QWidget::setVisible);
    connect(mSideBar, &SideBarWidget::MoveSideBarRequested, this, [this](bool left) {
        Settings::sideBarLeft = left;
        addDockWidget(left ? Qt::LeftDockWidgetArea : Qt::RightDockWidgetArea, mSideBarDock);
    });
    ConnectMonitorPanel();
}

void TessarinBase::showEvent(QShowEvent*)
{
    if (!mShownOnce)
    {
        restoreGeometry(Settings::windowGeometry);
        restoreState(Settings::windowState);
        QTimer::singleShot(0, this, &TessarinBase::PostShow);
        mShownOnce = true;
    }
    setFocus(Qt::ActiveWindowFocusReason);
}

void TessarinBase::closeEvent(QCloseEvent* event)
{
    Shutdown();
    event->accept();
}

void TessarinBase::PostShow()
{
    QString const configDirPath = FileHelpers::GetUserConfigDirPath();
    bool const configDirReady =
        !configDirPath.isEmpty() && (QDir(configDirPath).exists() || FileHelpers::CreateDirectoryAt(configDirPath));
    QString const absoluteConfigDirPath = QDir(configDirPath).absolutePath();
    // Settings and key bindings are written there at shutdown: say so now when
    // they could not be.
    QTemporaryFile probe(absoluteConfigDirPath + QStringLiteral("/tempFile"));
    if (!configDirReady || !probe.open())
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to write to config directory: %1").arg(absoluteConfigDirPath));
    }
    OpenPaths(std::exchange(mStartupPaths, {}));
}

void TessarinBase::ProcessMessageFromOtherInstance(QList<QString> arguments)
{
    arguments.removeAll(QString());
    if (isHidden())
    {
        show();
    }
    else if (isMinimized())
    {
        showNormal();
    }
    raise();
    activateWindow();
    OpenPaths(arguments);
}

void TessarinBase::OpenPaths(QList<QString> paths)
{
    bool const single = paths.size() == 1;
    bool groupImageSequences = true;
    if (single)
    {
        QString const path = paths.first();
        if (FileHelpers::IsSupportedProjectFilePath(path))
        {
            mProjectManager->OpenProject(path);
            return;
        }
        if (path.endsWith(QStringLiteral(".txt")))
        {
            paths = FileHelpers::FilePathsFromTextFile(path);
            groupImageSequences = false;
        }
        else if (path == QStringLiteral("noargs")) // a later launch without arguments
        {
            return;
        }
    }
    QList<QString> importPaths;
    for (QString const& path : std::as_const(paths))
    {
        if (!FileHelpers::IsSupportedMediaFilePath(path))
        {
            continue;
        }
        QString const mediaPath = FileHelpers::BuildImageSequencePathFromHashedPath(path);
        if (single && mProjectManager->MediaPathExistsInProject(mediaPath))
        {
            continue;
        }
        // The trailing "@" tells the project manager that the path was checked.
        importPaths.append(mediaPath + QLatin1Char('@'));
    }
    mProjectManager->ImportFilesByPath(importPaths, QUuid(), -1, 0, 1, true, QUuid(), -1, -1, groupImageSequences);
}

void TessarinBase::ExecuteConsoleCommand(QString const& command)
{
    if (!mConsoleWindow)
    {
        return;
    }
    if (command == QStringLiteral("clear"))
    {
        mConsoleWindow->ClearOutput();
    }
    else if (command == QStringLiteral("about"))
    {
        mConsoleWindow->ClearOutput();
        mProjectManager->OutputAppDetails();
    }
    else if (command == QStringLiteral("cache"))
    {
        mProjectManager->AvManagerPtr()->LogCacheStats();
    }
    else if (command == QStringLiteral("reset audio"))
    {
        mProjectManager->AvManagerPtr()->ResetAudioOutputDevice();
    }
}

void TessarinBase::ShowConsoleWindow()
{
    if (isFullScreen() || !mConsoleWindow)
    {
        return;
    }
    if (mConsoleWindow->isHidden())
    {
        mConsoleWindow->show();
    }
    else
    {
        mConsoleWindow->raise();
        mConsoleWindow->activateWindow();
    }
}

void TessarinBase::ShowPreferencesDialog()
{
    if (isFullScreen())
    {
        return;
    }
    if (!mPreferencesDialog)
    {
        mPreferencesDialog = new PreferencesDialog(FileHelpers::MostRecentProjectDirPath(), mKeyBindings, this);
        connect(mPreferencesDialog, &PreferencesDialog::CacheSizeChanged, mProjectManager->AvManagerPtr(),
                &AvManager::RefreshCache);
    }
    mPreferencesDialog->show();
    mPreferencesDialog->raise();
    mPreferencesDialog->activateWindow();
}

void TessarinBase::SetBlockUserInputEnabled(bool block)
{
    setEnabled(!block);
}

void TessarinBase::UpdateWindowTitle()
{
    setWindowTitle(Settings::applicationTitle + (mProjectManager->IsUndoClean() ? QString() : QStringLiteral("*")));
}

void TessarinBase::Shutdown()
{
    if (mShutDown)
    {
        return;
    }
    mShutDown = true;
    if (mConsoleWindow)
    {
        if (mConsoleWindow->isVisible())
        {
            Settings::consoleWindowGeometry = mConsoleWindow->saveGeometry();
        }
        mConsoleWindow->close();
        delete mConsoleWindow;
        mConsoleWindow = nullptr;
    }
    mKeyBindings->WriteUserKeyBindings();
    Settings::windowGeometry = saveGeometry();
    Settings::windowState = saveState();
    if (mSideBar)
    {
        mSideBar->SaveState();
    }
    FileHelpers::SaveUserSettings();
    mProjectManager->Shutdown();
}
