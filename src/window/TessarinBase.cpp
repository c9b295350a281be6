#include "window/TessarinBase.h"

#include "app/ConsoleWindow.h"
#include "app/FileHelpers.h"
#include "app/KeyBindings.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"
#include "media/AvManager.h"
#include "media/ExportManager.h"
#include "media/export/ExportRecovery.h"
#include "panels/AboutDialog.h"
#include "panels/PreferencesDialog.h"
#include "panels/ProjectPanel.h"
#include "panels/SideBarWidget.h"
#include "viewer/ViewerWidget.h"
#include "window/GlobalTimeControlWidget.h"
#include "window/MonitorPanel.h"
#include "window/PlaybackControlWidget.h"
#include "window/RangeTimeControlWidget.h"
#include "window/StartupPaintHold.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDockWidget>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPalette>
#include <QStyleFactory>
#include <QMenu>
#include <QMenuBar>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLWidget>
#include <QProcess>
#include <QScreen>
#include <QUrl>
#include <QCloseEvent>
#include <QDir>
#include <QIcon>
#include <QTemporaryFile>
#include <QTimer>
#include <QUuid>
#include <QVBoxLayout>

#include <algorithm>

TessarinBase::TessarinBase(QList<QString> const& paths)
    : QMainWindow(nullptr)
    , mProjectManager(new ProjectManager(this))
    , mKeyBindings(new KeyBindings())
    , mStartupPaths(paths)
{
    setWindowIcon(QIcon(QStringLiteral(":icons/application_zeph.png")));
    setFocusPolicy(Qt::StrongFocus);
    setContextMenuPolicy(Qt::NoContextMenu);
    mMenuPressTimer = new QTimer(this);
    installEventFilter(this);
}

TessarinBase::~TessarinBase()
{
    delete mConsoleWindow; // left when the window goes without a shutdown
    // The widgets hold on to the project and the engine: they go first, then the
    // project manager, which ends the engine's threads before the project goes.
    delete takeCentralWidget();
    delete mSideBarDock;
    mSideBarDock = nullptr;
    delete mProjectManager;
    mProjectManager = nullptr;
    delete mKeyBindings;
}

void TessarinBase::Initialize()
{
    SetStyle();
    UpdateFonts();
    CreateActions();
    mKeyBindings->Update();
    CreateMenus();
    CreateWidgets();
    CreateLayout();
    CreateShortcuts();
    CreateConnections();
    mKeyBindings->ReadUserKeyBindings();
    ConnectProjectActions();
    CreateLConnections();
    if (Settings::clientApiPortEnabled)
    {
        mProjectManager->InitializeCmdServer(Settings::clientApiPort);
    }
    SetAlwaysOnTopEnabled(Settings::alwaysOnTopEnabled);
    if (!isFullScreen())
    {
        menuBar()->setVisible(Settings::menuBarVisible);
    }
    SetSideBarVisible(Settings::sideBarVisible);
    mMonitorPanel->SetViewerLayoutByType(ViewerLayoutType(0));
    mViewerWidget->SetViewerOverlayDrawable(ViewerOverlayDrawable(0));
    SyncActions();
    mProjectManager->NewProject(true);
    UpdateWindowTitle();
    Logger::GetInstance()->Output(
        QStringLiteral("%1 v%2\n").arg(Settings::applicationTitle, Settings::applicationVersion));
    // The settings were read before the log had anywhere to go.
    Settings::ReportReadProblems();
    // An export killed on its way (the player was killed, or the machine
    // went down) may have left the user's files set aside: they go back now.
    ExportRecovery::RecoverInterruptedExports(ExportManager::TempRootPath());
    PostInitialize();
    if (!mStartupPaths.isEmpty())
    {
        // The cache fills ahead of the start-up file's first picture only
        // once that picture is on screen: until then the window's set-up
        // needs the cores.
        AvManager* const engine = mProjectManager->AvManagerPtr();
        engine->HoldFillAhead();
        connect(mViewerWidget, &ViewerWidget::FirstPicturePainted, engine, &AvManager::ReleaseFillAhead);
        CreateStartupPaintHold();
    }
    QTimer::singleShot(0, this, &TessarinBase::ShowAndOpenStartupFiles);
}

void TessarinBase::CreateStartupPaintHold()
{
    // The hold starts from the window's first composition, which the OpenGL
    // viewer reports; the software viewer paints with the window itself.
    auto* const viewer = qobject_cast<QOpenGLWidget*>(mViewerWidget->ViewerWidgetPtr());
    if (viewer == nullptr)
    {
        return;
    }
    mStartupPaintHold = new StartupPaintHold(this, this);
    connect(viewer, &QOpenGLWidget::frameSwapped, mStartupPaintHold, &StartupPaintHold::OnFirstComposed,
            Qt::SingleShotConnection);
    StartupPaintHold* const hold = mStartupPaintHold;
    connect(mViewerWidget, &ViewerWidget::PrimaryVideoFrameChanged, hold,
            [hold](std::shared_ptr<VideoFrame> const& frame) {
                if (frame)
                {
                    hold->OnPictureReady();
                }
            });
}

StartupPaintHold* TessarinBase::HoldRepaintsForStartupPicture() const
{
    return mStartupPaintHold;
}

void TessarinBase::ShowAndOpenStartupFiles()
{
    if (mShutDown)
    {
        return;
    }
    // Placed before the show, so that the window (and the viewer's buffers
    // with it) is made once at its final size.
    PlaceOnce();
    bool const opensProject =
        mStartupPaths.size() == 1 && FileHelpers::IsSupportedProjectFilePath(mStartupPaths.first());
    if (opensProject || mStartupPaths.isEmpty())
    {
        // Opening a project may ask the user: the window is there first.
        show();
        PostShow();
        return;
    }
    if (mStartupPaintHold != nullptr)
    {
        // The window's first composition waits for the picture.
        mStartupPaintHold->Begin();
    }
    // The parse of the start-up files starts first, on its own thread, and the
    // show runs while the main thread waits for it (the wait spins the event
    // loop): the window's set-up, its OpenGL context included, overlaps the
    // parse instead of coming before or after it.
    auto const showOnce = [this] {
        if (!mShutDown && !mShownOnce)
        {
            show();
        }
    };
    QTimer::singleShot(0, this, showOnce);
    PostShow();
    // Nothing was parsed (a refused path) or the parse never waited: the
    // window is shown now, not a turn of the event loop later.
    showOnce();
    if (mStartupPaintHold == nullptr)
    {
        return;
    }
    // The parse is over and the file, when it opened, is in the viewer: with
    // no picture to come, the window paints as it is.
    Timeline const* const primary = mViewerWidget->PrimaryTimeline();
    if (primary == nullptr || !primary->HasVideo())
    {
        mStartupPaintHold->Release();
    }
}

void TessarinBase::SetStyle()
{
    // The style sheet lives in the static library: make sure it is linked in.
    Q_INIT_RESOURCE(stylesheets);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QColor const dark(45, 45, 48);
    QColor const light(208, 208, 208);
    QColor const blue(42, 130, 218);
    QPalette palette;
    palette.setColor(QPalette::Window, dark);
    palette.setColor(QPalette::Button, dark);
    palette.setColor(QPalette::AlternateBase, dark);
    palette.setColor(QPalette::WindowText, light);
    palette.setColor(QPalette::Text, light);
    palette.setColor(QPalette::ButtonText, light);
    palette.setColor(QPalette::ToolTipBase, light);
    palette.setColor(QPalette::ToolTipText, light);
    palette.setColor(QPalette::Base, QColor(25, 25, 25));
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Link, blue);
    palette.setColor(QPalette::Highlight, blue);
    palette.setColor(QPalette::HighlightedText, Qt::black);
    QApplication::setPalette(palette);

    QFile styleSheet(QStringLiteral(":/stylesheets/fusiondark_macos.qss"));
    if (styleSheet.open(QIODevice::ReadOnly | QIODevice::Text))
    {
        qApp->setStyleSheet(QString::fromUtf8(styleSheet.readAll()));
    }
}

void TessarinBase::UpdateFonts()
{
    QStringList const families = QFontDatabase::families();
    if (families.contains(QStringLiteral("Menlo")))
    {
        Settings::fixedFont = QFont(QStringLiteral("Menlo"));
    }
    if (families.contains(QStringLiteral("Helvetica Neue")))
    {
        Settings::generalFont = QFont(QStringLiteral("Helvetica Neue"));
    }
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
    create(&mTogglePingPongAction, tr("Toggle Ping Pong"), T::TogglePingPong);
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

    // Read by the slots that act on the sender's data.
    mSpeedNormalAction->setData(1.0f);
    mSpeedHalfAction->setData(0.5f);
    mSpeedQuarterAction->setData(0.25f);
    mSpeedToggleLastAction->setData(-1.0f);
    mMultiStepForwardsAction->setData(1);
    mMultiStepBackwardsAction->setData(-1);
    mPlayOnceAction->setData(0);
    mLoopAction->setData(1);
    mPingPongAction->setData(2);
    mOverlayOffAction->setData(0);
    mOverlaySafeAreaAction->setData(1);
    mOverlayGridAction->setData(2);
    mOverlayCenterAction->setData(3);
    mOriginalSizeAction->setData(1.0f);
    mHalfSizeAction->setData(0.5f);
    mQuarterSizeAction->setData(0.25f);
    mDoubleSizeAction->setData(2.0f);
}

void TessarinBase::CreateWidgets()
{
    // A window of its own, kept until shutdown.
    mConsoleWindow = new ConsoleWindow(nullptr);
    CreateMonitor();
    mSideBar = new SideBarWidget(mProjectManager, mKeyBindings, this);
    // The side bar's dock: fixed in place, no title bar.
    mSideBarDock = new QDockWidget(tr("SideBar Dock Title"), this);
    mSideBarDock->setMinimumWidth(260);
    mSideBarDock->setObjectName(QStringLiteral("sidebardock"));
    mSideBarDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    mSideBarDock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    mSideBarDock->setTitleBarWidget(new QWidget(mSideBarDock));
    mSideBarDock->setWidget(mSideBar);
}

void TessarinBase::CreateMonitor()
{
    mMonitorPanel = new MonitorPanel(mProjectManager, mKeyBindings, this);
    mViewerWidget = mMonitorPanel->ViewerWidgetPtr();
    mGlobalTimeControl = mMonitorPanel->GlobalTimeControl();
    mRangeTimeControl = mMonitorPanel->RangeTimeControl();
    mPlaybackControl = mMonitorPanel->PlaybackControl();
}

void TessarinBase::CreateLayout()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(mMonitorPanel);
    setCentralWidget(central);
    addDockWidget(Settings::sideBarLeft ? Qt::LeftDockWidgetArea : Qt::RightDockWidgetArea, mSideBarDock);
}

MonitorPanel* TessarinBase::MonitorPanelPtr() const
{
    return mMonitorPanel;
}

void TessarinBase::ConnectMonitorPanel()
{
    MonitorPanel* const panel = mMonitorPanel;
    // Drops on the viewer go through the project panel, which asks before
    // the project is replaced and brings the window to the front.
    ProjectPanel* const projectPanel = ProjectPanelPtr();
    connect(panel, &MonitorPanel::OpenProjectRequested, projectPanel, &ProjectPanel::OpenProjectByPath);
    connect(panel, &MonitorPanel::OpenUrlsRequested, projectPanel, &ProjectPanel::OpenUrlsInViewer);
    connect(panel, &MonitorPanel::OpenTimelinesRequested, mProjectManager,
            &ProjectManager::DoOpenTimelinesInViewerCmd);
    connect(panel, &MonitorPanel::ShowConsoleRequested, this, &TessarinBase::ShowConsoleWindow);
    connect(panel, &MonitorPanel::ToggleFullscreenRequested, this, &TessarinBase::ToggleFullscreen);
    connect(panel, &MonitorPanel::ViewerResizeRequested, this, &TessarinBase::ResizeViewer);
    connect(panel, &MonitorPanel::TimeControlPlaybackFrameChanged, this, &TessarinBase::SetPlaybackFrame);
    connect(panel, &MonitorPanel::ToggleSideBarRequested, this, &TessarinBase::ToggleSideBarVisibility);
    connect(mProjectManager, &ProjectManager::ViewerLayoutChangeRequested, panel, &MonitorPanel::SetViewerLayout);
    connect(mProjectManager, &ProjectManager::AdvancedSnapshotRequested, panel, &MonitorPanel::AdvancedSnapshot);

    auto const on = [this, panel](QAction* action, void (MonitorPanel::*slot)()) {
        connect(action, &QAction::triggered, panel, slot);
    };
    on(mCaptureToClipboardAction, &MonitorPanel::SnapshotToClipboard);
    on(mCaptureToFolderAction, &MonitorPanel::SnapshotToFolder);
    on(mRangeStartToCurrentAction, &MonitorPanel::RangeStartToCurrent);
    on(mRangeEndToCurrentAction, &MonitorPanel::RangeEndToCurrent);
    on(mResetRangeAction, &MonitorPanel::ResetRange);
    on(mSpeedNormalAction, &MonitorPanel::SetPlaybackSpeedBySender);
    on(mSpeedHalfAction, &MonitorPanel::SetPlaybackSpeedBySender);
    on(mSpeedQuarterAction, &MonitorPanel::SetPlaybackSpeedBySender);
    on(mSpeedToggleLastAction, &MonitorPanel::SetPlaybackSpeedBySender);
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
    on(mPlayOnceAction, &MonitorPanel::SetLoopStateBySender);
    on(mLoopAction, &MonitorPanel::SetLoopStateBySender);
    on(mPingPongAction, &MonitorPanel::SetLoopStateBySender);
    on(mTogglePingPongAction, &MonitorPanel::TogglePingPong);
    on(mIncreaseVolumeAction, &MonitorPanel::IncreaseVolume);
    on(mDecreaseVolumeAction, &MonitorPanel::DecreaseVolume);
    on(mMuteAction, &MonitorPanel::ToggleMute);
    on(mOverlayOffAction, &MonitorPanel::SetViewerOverlayDrawableStateBySender);
    on(mOverlaySafeAreaAction, &MonitorPanel::SetViewerOverlayDrawableStateBySender);
    on(mOverlayGridAction, &MonitorPanel::SetViewerOverlayDrawableStateBySender);
    on(mOverlayCenterAction, &MonitorPanel::SetViewerOverlayDrawableStateBySender);
    on(mZoomInAction, &MonitorPanel::ZoomIn);
    on(mZoomOutAction, &MonitorPanel::ZoomOut);
    on(mTogglePanZoomAction, &MonitorPanel::TogglePanAndZoom);
    on(mResetPanZoomAction, &MonitorPanel::ResetPanAndZoom);
    connect(mFlipHorizontalAction, &QAction::triggered, panel, &MonitorPanel::SetHorizontalFlipEnabled);
    connect(mFlipVerticalAction, &QAction::triggered, panel, &MonitorPanel::SetVerticalFlipEnabled);
    on(mRotateCWAction, &MonitorPanel::RotateClockwise);
    on(mRotateCCWAction, &MonitorPanel::RotateCounterClockwise);
    on(mResetFlipRotateAction, &MonitorPanel::ResetFlipAndRotate);
    // The flip entries toggle their own marks: after a reset they must follow
    // the viewer again, or the next flip would only clear a stale mark.
    connect(mResetFlipRotateAction, &QAction::triggered, this, &TessarinBase::UpdateFlipActions);
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
}

void TessarinBase::CreateMenus()
{
    QMenuBar* const bar = menuBar();
    mMenuBar = bar;
    mFileMenu = bar->addMenu(tr("File"));
    mFileMenu->addAction(mFileAction);
    mFileMenu->addAction(mNewProjectAction);
    mFileMenu->addAction(mOpenProjectAction);
    mFileMenu->addAction(mSaveProjectAction);
    mFileMenu->addAction(mSaveProjectAsAction);
    mFileMenu->addSeparator();
    mCaptureImageMenu = mFileMenu->addMenu(tr("Capture Image"));
    mCaptureImageMenu->addAction(mCaptureToClipboardAction);
    mCaptureImageMenu->addAction(mCaptureToFolderAction);
    mFileMenu->addSeparator();
    mFileMenu->addAction(mOpenNewInstanceAction);
    mFileMenu->addSeparator();
    mRecentFilesMenu = mFileMenu->addMenu(tr("Recent Files"));
    mRecentProjectsMenu = mFileMenu->addMenu(tr("Recent Projects"));
    mFileMenu->addSeparator();
    mFileMenu->addAction(mExitAction);

    mEditMenu = bar->addMenu(tr("Edit"));
    mEditMenu->addAction(mRangeStartToCurrentAction);
    mEditMenu->addAction(mRangeEndToCurrentAction);
    mEditMenu->addAction(mResetRangeAction);
    mEditMenu->addSeparator();
    mEditMenu->addAction(mAlwaysOnTopAction);
    mEditMenu->addSeparator();
    mEditMenu->addAction(mPreferencesAction);

    mPlaybackMenu = bar->addMenu(tr("Playback"));
    mSpeedMenu = mPlaybackMenu->addMenu(tr("Speed"));
    mSpeedMenu->addActions({mSpeedNormalAction, mSpeedHalfAction, mSpeedQuarterAction});
    mSpeedMenu->addSeparator();
    mSpeedMenu->addActions({mSpeedIncreaseAction, mSpeedDecreaseAction});
    mSpeedMenu->addSeparator();
    mSpeedMenu->addAction(mSpeedToggleLastAction);
    mPlaybackMenu->addSeparator();
    mPlaybackMenu->addActions(
        {mPlayPauseAction, mPlayPauseBookmarksOnlyAction, mPlayForwardsAction, mPlayBackwardsAction, mPauseAction});
    mPlaybackMenu->addSeparator();
    mFrameStepMenu = mPlaybackMenu->addMenu(tr("Frame Step"));
    mFrameStepMenu->addActions(
        {mStepForwardsAction, mStepBackwardsAction, mMultiStepForwardsAction, mMultiStepBackwardsAction});
    mPlaybackMenu->addSeparator();
    mPlaybackMenu->addActions({mSeekStartAction, mSeekEndAction, mSeekRangeStartAction, mSeekRangeEndAction,
                               mSeekPreviousEditAction, mSeekNextEditAction});
    mPlaybackMenu->addSeparator();
    mLoopingMenu = mPlaybackMenu->addMenu(tr("Looping"));
    mLoopingMenu->addAction(mToggleLoopAction);
    mLoopingMenu->addSeparator();
    mLoopingMenu->addActions({mPlayOnceAction, mLoopAction, mPingPongAction});
    mPlaybackMenu->addSeparator();
    mStepScrubMenu = mPlaybackMenu->addMenu(tr("Stepping and Scrubbing"));
    mStepScrubMenu->addAction(mLoopOnStepScrubAction);
    mStepScrubMenu->addSeparator();
    mStepScrubMenu->addActions({mLoopStepScrubToRangeAction, mLockStepScrubToRangeAction});
    mPlaybackMenu->addSeparator();
    mPlaybackMenu->addAction(mAutoplayAction);

    mAudioMenu = bar->addMenu(tr("Audio"));
    mAudioMenu->addActions({mIncreaseVolumeAction, mDecreaseVolumeAction, mMuteAction});
    mAudioMenu->addSeparator();
    mAudioMenu->addAction(mAudioScrubAction);

    mVideoMenu = bar->addMenu(tr("Video"));
    mOverlaysMenu = new QMenu(tr("Overlays"), this);
    mOverlaysMenu->addActions({mOverlayOffAction, mOverlaySafeAreaAction, mOverlayGridAction, mOverlayCenterAction});
    mSizeMenu = new QMenu(tr("Size"), this);
    mSizeMenu->addAction(mOriginalSizeAction);
    mSizeMenu->addSeparator();
    mSizeMenu->addActions({mHalfSizeAction, mQuarterSizeAction});
    mSizeMenu->addSeparator();
    mSizeMenu->addAction(mDoubleSizeAction);
    mPanZoomMenu = new QMenu(tr("Pan/Zoom"), this);
    mPanZoomMenu->addActions({mZoomInAction, mZoomOutAction});
    mPanZoomMenu->addSeparator();
    mPanZoomMenu->addActions({mTogglePanZoomAction, mResetPanZoomAction});
    mVideoMenu->addMenu(mOverlaysMenu);
    AddVideoViewEntries();

    mBookmarksMenu = bar->addMenu(tr("Bookmarks"));
    mBookmarksMenu->addActions({mToggleBookmarkAction, mToggleRangeBookmarkAction});
    mBookmarksMenu->addSeparator();
    mBookmarksMenu->addActions({mCutBookmarkAction, mCopyBookmarkAction, mPasteBookmarkAction});
    mBookmarksMenu->addSeparator();
    mRemoveBookmarksMenu = mBookmarksMenu->addMenu(tr("Remove"));
    mRemoveBookmarksMenu->addActions({mRemoveBookmarksAction, mRemoveBookmarksInRangeAction});
    mRemoveBookmarksMenu->addSeparator();
    mRemoveBookmarksMenu->addAction(mRemoveRangeBookmarksAction);
    mRemoveBookmarksMenu->addSeparator();
    mRemoveBookmarksMenu->addAction(mClearAllBookmarksAction);
    mBookmarksMenu->addSeparator();
    mBookmarksMenu->addActions(
        {mPreviousBookmarkAction, mNextBookmarkAction, mPreviousRangeBookmarkAction, mNextRangeBookmarkAction});

    mToolsMenu = bar->addMenu(tr("Tools"));
    AddMenuGroups(mToolsMenu, {{mGlobalTimeControlAction, mRangeTimeControlAction, mSwapTimeControlsAction},
                               {mPlaybackControlsAction, mMenuBarAction},
                               {mMediaInfoAction, mConsoleAction},
                               {mMayaToolsAction}});

    mHelpMenu = bar->addMenu(tr("Help"));
    mHelpMenu->addAction(mDocumentationAction);
    mHelpMenu->addSeparator();
    mHelpMenu->addAction(mAboutAction);

    mMenuPressTimer->setSingleShot(true);
    mMenuPressTimer->setInterval(Settings::menuWaitBetweenMousePresses);
    bar->installEventFilter(this);
}

void TessarinBase::AddVideoViewEntries()
{
    mVideoMenu->addSeparator();
    mVideoMenu->addMenu(mSizeMenu);
    mVideoMenu->addAction(mFullscreenAction);
    mVideoMenu->addSeparator();
    mVideoMenu->addMenu(mPanZoomMenu);
    mVideoMenu->addSeparator();
    mVideoMenu->addActions(
        {mRotateCWAction, mRotateCCWAction, mFlipHorizontalAction, mFlipVerticalAction, mResetFlipRotateAction});
}

void TessarinBase::AddMenuGroups(QMenu* menu, std::initializer_list<QList<QAction*>> groups)
{
    for (QList<QAction*> const& group : groups)
    {
        if (!menu->isEmpty())
        {
            menu->addSeparator();
        }
        menu->addActions(group);
    }
}

void TessarinBase::CreateConnections()
{
    connect(mProjectManager, &ProjectManager::ResizeViewerRequested, this, &TessarinBase::ResizeViewer);
    connect(mProjectManager, &ProjectManager::UndoCleanChanged, this, &TessarinBase::UpdateWindowTitle);
    connect(mProjectManager, &ProjectManager::BlockUserInputChanged, this, &TessarinBase::SetBlockUserInputEnabled);
    connect(mConsoleWindow, &ConsoleWindow::CommandExecuted, this, &TessarinBase::ExecuteConsoleCommand);
    connect(mFileMenu, &QMenu::aboutToShow, this, &TessarinBase::UpdateFileActions);
    connect(mRecentFilesMenu, &QMenu::aboutToShow, this, &TessarinBase::UpdateRecentFilesSubMenu);
    connect(mRecentProjectsMenu, &QMenu::aboutToShow, this, &TessarinBase::UpdateRecentProjectsSubMenu);
    connect(mAudioMenu, &QMenu::aboutToShow, this, &TessarinBase::UpdateAudioActions);
    connect(mVideoMenu, &QMenu::aboutToShow, this, &TessarinBase::UpdateVideoActions);
    connect(mToolsMenu, &QMenu::aboutToShow, this, &TessarinBase::UpdateToolsActions);
    connect(mLoopingMenu, &QMenu::aboutToShow, this, &TessarinBase::UpdateLoopActions);
    connect(mStepScrubMenu, &QMenu::aboutToShow, this, &TessarinBase::UpdateStepScrubActions);
    ConnectWindowActions();
    ConnectEngineActions();
    ConnectMonitorPanel();
    ConnectSideBar();
}

void TessarinBase::ConnectWindowActions()
{
    connect(mOpenNewInstanceAction, &QAction::triggered, this, &TessarinBase::OpenNewInstance);
    connect(mExitAction, &QAction::triggered, this, &QWidget::close);
    connect(mAlwaysOnTopAction, &QAction::triggered, this, &TessarinBase::SetAlwaysOnTopEnabled);
    connect(mPreferencesAction, &QAction::triggered, this, &TessarinBase::ShowPreferencesDialog);
    connect(mAboutAction, &QAction::triggered, this, &TessarinBase::ShowAboutDialog);
    connect(mMayaToolsAction, &QAction::triggered, this, &TessarinBase::ShowMayaToolsDialog);
    connect(mLoopOnStepScrubAction, &QAction::triggered, this, &TessarinBase::SetLoopOnStepEnabled);
    connect(mLoopStepScrubToRangeAction, &QAction::triggered, this, &TessarinBase::SetLoopStepToRangeEnabled);
    connect(mLockStepScrubToRangeAction, &QAction::triggered, this, &TessarinBase::SetLockStepToRangeEnabled);
    for (QAction* const action : {mOriginalSizeAction, mHalfSizeAction, mQuarterSizeAction, mDoubleSizeAction})
    {
        connect(action, &QAction::triggered, this, &TessarinBase::ResizeViewerFromSender);
    }
    connect(mFullscreenAction, &QAction::triggered, this, &TessarinBase::SetFullscreenEnabled);
    connect(mMenuBarAction, &QAction::triggered, this, &TessarinBase::SetMenuBarVisible);
    connect(mConsoleAction, &QAction::triggered, this, &TessarinBase::ShowConsoleWindow);
    connect(mDocumentationAction, &QAction::triggered, this, &TessarinBase::OpenDocumentation);
    connect(mEscapeAction, &QAction::triggered, this, &TessarinBase::ApplicationEscape);
}

void TessarinBase::ConnectEngineActions()
{
    AvManager* const avManager = mProjectManager->AvManagerPtr();
    connect(mAutoplayAction, &QAction::triggered, avManager, &AvManager::SetAutoPlayEnabled);
    connect(mAudioScrubAction, &QAction::triggered, avManager, &AvManager::SetAudioScrubEnabled);
}

void TessarinBase::ConnectProjectActions()
{
    ProjectPanel* const panel = mSideBar->ProjectPanelPtr();
    connect(mOpenProjectAction, &QAction::triggered, panel, &ProjectPanel::OpenProject);
    connect(mOpenRecentProjectAction, &QAction::triggered, panel, &ProjectPanel::OpenProject);
    connect(mSaveProjectAction, &QAction::triggered, panel, &ProjectPanel::SaveProject);
    connect(mSaveProjectAsAction, &QAction::triggered, panel, &ProjectPanel::SaveProjectAs);
}

void TessarinBase::ConnectSideBar()
{
    ProjectPanel* const panel = mSideBar->ProjectPanelPtr();
    mOpenRecentProjectAction->setData(ProjectPanel::MostRecentPathAlias());
    mImportRecentFileAction->setData(ProjectPanel::MostRecentPathAlias());
    connect(mNewProjectAction, &QAction::triggered, panel, &ProjectPanel::NewProject);
    connect(mImportRecentFileAction, &QAction::triggered, panel, &ProjectPanel::ImportFiles);
    connect(mDeleteAction, &QAction::triggered, this, &TessarinBase::ApplicationDelete);
    connect(mSideBar, &SideBarWidget::SideBarVisibilityChangeRequested, this, &TessarinBase::SetSideBarVisible);
    connect(mSideBar, &SideBarWidget::MoveSideBarRequested, this, &TessarinBase::SetSideBarLeft);
    connect(mSideBar, &SideBarWidget::TimelineNameChanged, this, &TessarinBase::SetTimelineName);
    connect(mSideBar, &SideBarWidget::PanZoomChangeRequested, mMonitorPanel, &MonitorPanel::SetPanAndZoom);
    connect(mMonitorPanel, &MonitorPanel::OpenFolderRequested, panel, &ProjectPanel::OpenFolderInViewer);
    connect(panel, &ProjectPanel::LeaveFullscreenRequested, this, [this] { SetFullscreenEnabled(false); });
    connect(panel, &ProjectPanel::ReturnToFullscreenRequested, this, [this] { SetFullscreenEnabled(true); });
    // Queued: whatever the answer or the export's end let go on comes first.
    connect(panel, &ProjectPanel::QuestionAnswered, this, &TessarinBase::OpenHeldHandOver, Qt::QueuedConnection);
    connect(mMonitorPanel, &MonitorPanel::ExportEnded, this, &TessarinBase::OpenHeldHandOver, Qt::QueuedConnection);
}

ProjectPanel* TessarinBase::ProjectPanelPtr() const
{
    return mSideBar->ProjectPanelPtr();
}

bool TessarinBase::ConfirmProjectClose()
{
    return mSideBar->ProjectPanelPtr()->ConfirmProjectClose();
}

void TessarinBase::showEvent(QShowEvent*)
{
    // A window shown by other means than the start-up (a test, a hand-over)
    // is placed now.
    PlaceOnce();
    mShownOnce = true;
    setFocus(Qt::ActiveWindowFocusReason);
}

void TessarinBase::PlaceOnce()
{
    if (mPlaced)
    {
        return;
    }
    mPlaced = true;
    if (!restoreGeometry(Settings::windowGeometry))
    {
        PlaceFirstWindow();
    }
    restoreState(Settings::windowState);
}

void TessarinBase::PlaceFirstWindow()
{
    // Without stored geometry the layout's own minimum would leave the viewer
    // a strip: two thirds of the screen's free area, centred, show a picture.
    QScreen const* screen = this->screen();
    if (screen == nullptr)
    {
        return;
    }
    QRect const available = screen->availableGeometry();
    QSize const size = (available.size() * 2 / 3).expandedTo(minimumSizeHint());
    QRect area(QPoint(0, 0), size);
    area.moveCenter(available.center());
    setGeometry(area);
}

void TessarinBase::closeEvent(QCloseEvent* event)
{
    if (!mShutDown && !ConfirmProjectClose())
    {
        // Refused: nothing is written and everything stays open.
        event->ignore();
        return;
    }
    Shutdown();
    event->accept();
}

void TessarinBase::PostShow()
{
    if (mPostShowDone)
    {
        return;
    }
    mPostShowDone = true;
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
    if (arguments.isEmpty() || arguments == QList<QString>{QStringLiteral("noargs")})
    {
        return; // a later launch without arguments only brings the window forward
    }
    mHeldHandOver = arguments;
    mHandOverHeld = true;
    OpenHeldHandOver();
}

void TessarinBase::OpenHeldHandOver()
{
    if (!mHandOverHeld || mShutDown)
    {
        return;
    }
    if (Settings::exportInProgress)
    {
        // Opening would end the export: the file waits for it.
        Logger::GetInstance()->Info(
            QStringLiteral("A file handed over by another launch opens once the running export has ended: %1")
                .arg(mHeldHandOver.join(QStringLiteral(", "))));
        return;
    }
    if (ProjectPanelPtr()->IsAsking())
    {
        return; // opened once the open question has been answered
    }
    mHandOverHeld = false;
    OpenPaths(std::exchange(mHeldHandOver, {}));
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
            ProjectPanelPtr()->OpenProjectByPath(path);
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
        // Each refusal is an error, so that the console shows it by default;
        // nothing is imported for it and the window keeps its title.
        if (!FileHelpers::IsSupportedMediaFilePath(path))
        {
            Logger::GetInstance()->Error(
                QStringLiteral("Not opened, neither a movie nor a project file the window opens: %1").arg(path));
            continue;
        }
        QString const mediaPath = FileHelpers::BuildImageSequencePathFromHashedPath(path);
        QFileInfo const file(mediaPath);
        if (!file.exists())
        {
            Logger::GetInstance()->Error(QStringLiteral("File not found: %1").arg(path));
            continue;
        }
        if (!file.isFile() || !file.isReadable())
        {
            Logger::GetInstance()->Error(QStringLiteral("Not opened, not a readable file: %1").arg(path));
            continue;
        }
        if (single && mProjectManager->MediaPathExistsInProject(mediaPath))
        {
            continue;
        }
        // The trailing "@" tells the project manager that the path was checked.
        importPaths.append(mediaPath + QLatin1Char('@'));
    }
    // The import replaces the project: ask first, and only when there is
    // something to open.
    if (importPaths.isEmpty() || !ProjectPanelPtr()->ConfirmProjectClose())
    {
        return;
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
        connect(mPreferencesDialog, &QDialog::accepted, this, &TessarinBase::OnPreferencesAccepted);
        connect(mPreferencesDialog, &PreferencesDialog::CacheSizeChanged, mProjectManager,
                &ProjectManager::RefreshCache);
    }
    mPreferencesDialog->show();
    mPreferencesDialog->raise();
    mPreferencesDialog->activateWindow();
}

void TessarinBase::OnPreferencesAccepted()
{
    // The key bindings may have changed: the tool tips name the keys.
    mMonitorPanel->UpdateKeyBindings();
    mSideBar->UpdateUserPreferences();
    // The sound on backward play is the audio output's copy of the setting.
    mProjectManager->AvManagerPtr()->UpdateAudioOutputLevels();
}

void TessarinBase::ShowAboutDialog()
{
    if (isFullScreen())
    {
        return;
    }
    if (!mAboutDialog)
    {
        mAboutDialog = new AboutDialog(this);
    }
    mAboutDialog->open();
}

void TessarinBase::ShowMayaToolsDialog()
{
    if (!isFullScreen())
    {
        mMonitorPanel->ShowMayaToolsDialog();
    }
}

void TessarinBase::SetBlockUserInputEnabled(bool block)
{
    setEnabled(!block);
}

void TessarinBase::UpdateWindowTitle()
{
    // The title names only what opened: a source that could not be read (a
    // missing or broken file) leaves the application's title.
    TimelineItem const* const primary = mProjectManager->PrimaryTimelineItem();
    bool const unreadSource =
        primary && primary->ItemType() == ProjectItemType::SourceTimeline && primary->HasErrors();
    QString const name = unreadSource ? QString() : mTimelineName;
    setWindowTitle((name.isEmpty() ? Settings::applicationTitle : name) +
                   (mProjectManager->IsUndoClean() ? QString() : QStringLiteral("*")));
}

void TessarinBase::Shutdown()
{
    if (mShutDown)
    {
        return;
    }
    mShutDown = true;
    mHandOverHeld = false;
    Q_EMIT QuitBegun(std::exchange(mHeldHandOver, {}));
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
    if (isFullScreen())
    {
        // The next start opens the window as it was before full screen, with
        // the bars full screen hid (the side bar's state was kept on entering).
        Settings::windowGeometry = mGeometryBeforeFullscreen;
        Settings::windowState = mDockStateBeforeFullscreen;
        Settings::menuBarVisible = mMenuBarWasVisible;
        Settings::sideBarVisible = mSideBarSettingBeforeFullscreen;
    }
    else
    {
        Settings::windowGeometry = saveGeometry();
        Settings::windowState = saveState();
        mSideBar->SaveState();
    }
    FileHelpers::SaveUserSettings();
    mProjectManager->Shutdown();
}

void TessarinBase::SetAlwaysOnTopEnabled(bool on)
{
    if (isVisible())
    {
        // Changing the flag hides the window: bring it back where it was.
        Settings::windowGeometry = saveGeometry();
        Settings::windowState = saveState();
        setWindowFlag(Qt::WindowStaysOnTopHint, on);
        restoreGeometry(Settings::windowGeometry);
        restoreState(Settings::windowState);
        show();
    }
    else
    {
        setWindowFlag(Qt::WindowStaysOnTopHint, on);
    }
    Settings::alwaysOnTopEnabled = on;
}

void TessarinBase::SetMenuBarVisible(bool visible)
{
    if (isFullScreen())
    {
        return;
    }
    Settings::menuBarVisible = visible;
    menuBar()->setVisible(visible);
}

void TessarinBase::SetLoopOnStepEnabled(bool enabled)
{
    Settings::loopOnStepScrub = enabled;
}

void TessarinBase::SetLoopStepToRangeEnabled(bool enabled)
{
    Settings::loopStepScrubToRange = enabled;
}

void TessarinBase::SetLockStepToRangeEnabled(bool enabled)
{
    Settings::lockStepScrubToRange = enabled;
}

QSize TessarinBase::ViewerTargetSize(int width, int height, qreal devicePixelRatio)
{
    if (devicePixelRatio <= 0.0)
    {
        devicePixelRatio = 1.0;
    }
    return QSize(int(width / devicePixelRatio), int(height / devicePixelRatio));
}

QSize TessarinBase::FitViewerSize(QSize const& target, QSize const& room)
{
    if (target.width() <= room.width() && target.height() <= room.height())
    {
        return target;
    }
    if (target.isEmpty() || room.isEmpty())
    {
        return target.boundedTo(room.expandedTo(QSize(1, 1)));
    }
    double const scale = std::min(double(room.width()) / target.width(), double(room.height()) / target.height());
    return QSize(std::max(1, int(target.width() * scale)), std::max(1, int(target.height() * scale)));
}

void TessarinBase::ResizeViewer(int width, int height)
{
    QSize target = ViewerTargetSize(width, height, devicePixelRatioF());
    QSize const current = mMonitorPanel->ViewerSize();
    QRect const frame = frameGeometry();
    QRect geometry = this->geometry();
    QScreen const* screen = this->screen();
    QSize const around = frame.size() - current; // frame, bars and strips
    QRect const available = screen != nullptr ? screen->availableGeometry() : QRect();
    QSize const smallest = minimumSizeHint().expandedTo(minimumSize()) + (frame.size() - size());
    if (screen == nullptr || smallest.width() > available.width() || smallest.height() > available.height())
    {
        // A screen smaller than the window at its smallest: nothing to fit to.
        geometry.setSize(geometry.size() + (target - current));
        setGeometry(geometry);
        return;
    }
    // The window never grows past the screen's free area: a picture larger
    // than that room is shown as large as fits, with its shape kept.
    target = FitViewerSize(target, available.size() - around);
    QRect newFrame(frame.topLeft(), frame.size() + (target - current));
    // The top-left corner stays unless the window would run off the area.
    newFrame.moveRight(std::min(newFrame.right(), available.right()));
    newFrame.moveBottom(std::min(newFrame.bottom(), available.bottom()));
    newFrame.moveLeft(std::max(newFrame.left(), available.left()));
    newFrame.moveTop(std::max(newFrame.top(), available.top()));
    geometry.moveTopLeft(geometry.topLeft() + (newFrame.topLeft() - frame.topLeft()));
    geometry.setSize(geometry.size() + (target - current));
    setGeometry(geometry);
}

void TessarinBase::ResizeViewerFromSender()
{
    auto* const action = qobject_cast<QAction*>(sender());
    if (!action)
    {
        return;
    }
    float const factor = action->data().toFloat();
    int width = 0;
    int height = 0;
    mMonitorPanel->VideoWidthHeight(width, height);
    ResizeViewer(int(width * factor), int(height * factor));
}

void TessarinBase::SetFullscreenEnabled(bool on)
{
    if (on && !isFullScreen())
    {
        mWindowStatesBeforeFullscreen = windowState() & ~Qt::WindowFullScreen;
        mGeometryBeforeFullscreen = Settings::windowGeometry = saveGeometry();
        mDockStateBeforeFullscreen = Settings::windowState = saveState();
        mSideBarSettingBeforeFullscreen = Settings::sideBarVisible;
        mSideBar->SaveState();
        // No file chooser may open over the full-screen picture.
        ProjectPanelPtr()->SetDialogsEnabled(false);
        mMenuBarWasVisible = menuBar()->isVisible();
        if (mMenuBarWasVisible)
        {
            menuBar()->hide();
            Settings::menuBarVisible = false;
        }
        mSideBarWasVisible = mSideBarDock && mSideBarDock->isVisible();
        if (mSideBarWasVisible)
        {
            SetSideBarVisible(false);
        }
        mViewerControlsWereVisible = mMonitorPanel->IsViewerControlsVisible();
        if (mViewerControlsWereVisible)
        {
            mMonitorPanel->SetViewerControlsVisible(false);
        }
        showFullScreen();
    }
    else if (!on && isFullScreen())
    {
        restoreState(Settings::windowState);
        // Back to the state from before: a maximised window stays maximised.
        if (mWindowStatesBeforeFullscreen.testFlag(Qt::WindowMaximized))
        {
            showMaximized();
        }
        else
        {
            showNormal();
        }
        mSideBar->RestoreState();
        ProjectPanelPtr()->SetDialogsEnabled(true);
        // What full screen hid comes back, and only that: bars the user had
        // hidden stay hidden.
        Settings::menuBarVisible = mMenuBarWasVisible;
        menuBar()->setVisible(mMenuBarWasVisible);
        SetSideBarVisible(mSideBarWasVisible);
        mMonitorPanel->SetViewerControlsVisible(mViewerControlsWereVisible);
    }
    QTimer::singleShot(1000, this, &TessarinBase::ForceRepaint);
    mFullscreenAction->setChecked(on);
}

void TessarinBase::ToggleFullscreen()
{
    SetFullscreenEnabled(!isFullScreen());
}

void TessarinBase::ApplicationEscape()
{
    if (isFullScreen())
    {
        SetFullscreenEnabled(false);
    }
}

void TessarinBase::ApplicationDelete()
{
    mSideBar->ApplicationDelete();
}

void TessarinBase::ForceRepaint()
{
    update();
}

void TessarinBase::ToggleSideBarVisibility()
{
    SetSideBarVisible(mSideBarDock->isHidden());
}

void TessarinBase::SetSideBarLeft(bool left)
{
    Settings::sideBarLeft = left;
    addDockWidget(left ? Qt::LeftDockWidgetArea : Qt::RightDockWidgetArea, mSideBarDock);
}

void TessarinBase::ToggleSideBarPosition()
{
    SetSideBarLeft(!Settings::sideBarLeft);
}

void TessarinBase::SetTimelineName(QString const& name)
{
    mTimelineName = name;
    UpdateWindowTitle();
}

void TessarinBase::SetPlaybackFrame(int frame, int offset)
{
    mPlaybackFrame = frame + offset;
    if (Settings::displayFrameNumberInTitleBar)
    {
        UpdateWindowTitle();
    }
}

void TessarinBase::OpenDocumentation()
{
    QDesktopServices::openUrl(QUrl(Settings::documentationUrl));
}

void TessarinBase::OpenNewInstance()
{
    if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), {Settings::APPLICATION_FLAG_NEW_INSTANCE}))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to launch new instance."));
    }
}

void TessarinBase::UpdateRecentFilesSubMenu()
{
    mRecentFilesMenu->clear();
    int const count = std::min<int>(Settings::recentFiles.size(), Settings::numRecentFiles);
    for (int i = 0; i < count; ++i)
    {
        QString const path = Settings::recentFiles.at(i);
        QAction* const entry = mRecentFilesMenu->addAction(path);
        // The panel imports the entry's path (its data), as the player's file
        // command does: replacing the project in the player, adding to it in
        // the browser.
        entry->setData(path);
        connect(entry, &QAction::triggered, ProjectPanelPtr(), &ProjectPanel::ImportFiles);
    }
    mRecentFilesMenu->addSeparator();
    connect(mRecentFilesMenu->addAction(tr("Clear All")), &QAction::triggered, this, [] { FileHelpers::ClearRecentFiles(); });
}

void TessarinBase::UpdateRecentProjectsSubMenu()
{
    mRecentProjectsMenu->clear();
    int const count = std::min<int>(Settings::recentProjects.size(), Settings::numRecentProjects);
    for (int i = 0; i < count; ++i)
    {
        QString const path = Settings::recentProjects.at(i);
        QAction* const entry = mRecentProjectsMenu->addAction(path);
        entry->setData(path);
        connect(entry, &QAction::triggered, ProjectPanelPtr(), &ProjectPanel::OpenProject);
    }
    mRecentProjectsMenu->addSeparator();
    connect(mRecentProjectsMenu->addAction(tr("Clear All")), &QAction::triggered, this,
            [] { FileHelpers::ClearRecentProjects(); });
}

void TessarinBase::UpdateFileActions()
{
    mOpenProjectAction->setEnabled(true);
    mSaveProjectAction->setEnabled(true);
    mSaveProjectAsAction->setEnabled(true);
}

void TessarinBase::UpdateEditActions()
{
    mAlwaysOnTopAction->setChecked(Settings::alwaysOnTopEnabled);
}

void TessarinBase::UpdatePlaybackActions()
{
    mAutoplayAction->setChecked(mProjectManager->AvManagerPtr()->IsAutoPlayEnabled());
}

void TessarinBase::UpdateLoopActions()
{
    int const state = int(mProjectManager->AvManagerPtr()->ActiveLoopState());
    mPlayOnceAction->setChecked(state == 0);
    mLoopAction->setChecked(state == 1);
    mPingPongAction->setChecked(state == 2);
}

void TessarinBase::UpdateStepScrubActions()
{
    mLoopOnStepScrubAction->setChecked(Settings::loopOnStepScrub);
    mLoopStepScrubToRangeAction->setChecked(Settings::loopStepScrubToRange);
    mLockStepScrubToRangeAction->setChecked(Settings::lockStepScrubToRange);
}

void TessarinBase::UpdateAudioActions()
{
    mAudioScrubAction->setChecked(mProjectManager->AvManagerPtr()->IsAudioScrubEnabled());
    mAudioScrubAction->setEnabled(true);
}

void TessarinBase::UpdateVideoActions()
{
    int const overlay = mMonitorPanel->ViewerOverlayDrawableState();
    // Overlays only draw over one picture (single layout or A over B).
    bool const overlaysAllowed = int(mMonitorPanel->ViewerLayout()) < 2;
    QAction* const overlays[] = {mOverlayOffAction, mOverlaySafeAreaAction, mOverlayGridAction, mOverlayCenterAction};
    for (int i = 0; i < 4; ++i)
    {
        // While disabled the marks stay as they were.
        if (overlaysAllowed)
        {
            overlays[i]->setChecked(i == overlay);
        }
        overlays[i]->setEnabled(overlaysAllowed);
    }
    mFullscreenAction->setChecked(isFullScreen());
    UpdateFlipActions();
}

void TessarinBase::UpdateFlipActions()
{
    mFlipHorizontalAction->setChecked(mMonitorPanel->IsHorizontalFlipEnabled());
    mFlipVerticalAction->setChecked(mMonitorPanel->IsVerticalFlipEnabled());
}

void TessarinBase::UpdateToolsActions()
{
    mGlobalTimeControlAction->setChecked(mMonitorPanel->IsGlobalTimeControlVisible());
    mRangeTimeControlAction->setChecked(mMonitorPanel->IsRangeTimeControlVisible());
    mPlaybackControlsAction->setChecked(mMonitorPanel->IsPlaybackControlsVisible());
    mMediaInfoAction->setChecked(mMonitorPanel->IsMediaInfoVisible());
    mMenuBarAction->setChecked(Settings::menuBarVisible);
    mMayaToolsAction->setEnabled(true);
}

void TessarinBase::SyncActions()
{
    UpdateFileActions();
    UpdateEditActions();
    UpdatePlaybackActions();
    UpdateLoopActions();
    UpdateStepScrubActions();
    UpdateAudioActions();
    UpdateVideoActions();
    UpdateToolsActions();
}

bool TessarinBase::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this && event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_F2)
    {
        // F2 renames in the project tree while it has focus: claim the key
        // before a shortcut bound to it takes it away from the tree.
        ProjectPanel const* panel = mSideBar != nullptr ? mSideBar->ProjectPanelPtr() : nullptr;
        if (panel != nullptr && panel->CanRename())
        {
            event->accept();
            return true;
        }
    }
    if (watched != nullptr && watched == mMenuBar && Settings::menuWaitBetweenMousePressesEnabled)
    {
        // A quick second press on the menu bar would close the menu the first
        // one opened: swallow presses that come too soon.
        if (event->type() == QEvent::MouseButtonDblClick)
        {
            event->accept();
            return true;
        }
        if (event->type() == QEvent::MouseButtonPress)
        {
            if (mMenuPressTimer->isActive())
            {
                event->accept();
                return true;
            }
            mMenuPressTimer->start();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TessarinBase::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange)
    {
        mFullscreenAction->setChecked(isFullScreen());
        mMonitorPanel->SetFullscreenState(isFullScreen());
    }
}
