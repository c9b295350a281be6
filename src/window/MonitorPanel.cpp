#include "window/MonitorPanel.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/ExportManager.h"
#include "media/ExportProperties.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "panels/ExportDialog.h"
#include "panels/FlatButton.h"
#include "panels/VolumeWidget.h"
#include "remote/MayaToolsDialog.h"
#include "viewer/AnnotationOptionsWidget.h"
#include "viewer/AnnotationToolType.h"
#include "viewer/AnnotationToolsWidget.h"
#include "viewer/AnnotationsOverlay.h"
#include "viewer/SnapshotManager.h"
#include "viewer/SnapshotProperties.h"
#include "viewer/ViewerControlsWidget.h"
#include "viewer/ViewerBase.h"
#include "viewer/ViewerWidget.h"
#include "window/CaptureInputBlocker.h"
#include "window/GlobalTimeControlWidget.h"
#include "window/PlaybackControlWidget.h"
#include "window/PlaybackOptionsWidget.h"
#include "window/RangeTimeControlWidget.h"
#include "window/ToolsDisplayWidget.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QVBoxLayout>

MonitorPanel::MonitorPanel(ProjectManager* projectManager, KeyBindings* keyBindings, QWidget* parent)
    : QWidget(parent)
    , mProjectManager(projectManager)
    , mAvManager(projectManager->AvManagerPtr())
    , mParentWindow(parent)
{
    mCaptureInputBlocker = new CaptureInputBlocker(this);
    CreateWidgets(keyBindings);
    CreateLayout();
    CreateConnections();
    mViewerWidget->SyncUiToSettings();
    mAnnotationTools->SyncUiToSettings();
}

MonitorPanel::~MonitorPanel()
{
    SetCaptureInputBlocked(false);
    if (mMayaToolsDialog)
    {
        mMayaToolsDialog->DisconnectFromMaya();
        mMayaToolsDialog->setParent(nullptr);
        mMayaToolsDialog->deleteLater();
        mMayaToolsDialog = nullptr;
    }
    delete mCurrentExport;
    mCurrentExport = nullptr;
}

void MonitorPanel::CreateWidgets(KeyBindings* keyBindings)
{
    mPlaybackControl = new PlaybackControlWidget(mAvManager, keyBindings, this);
    mGlobalTimeControl = new GlobalTimeControlWidget(mProjectManager, mPlaybackControl, this);
    mRangeTimeControl = new RangeTimeControlWidget(mProjectManager, mPlaybackControl, this);
    mPlaybackOptions = new PlaybackOptionsWidget(mAvManager, keyBindings, this);
    mToolsDisplay = new ToolsDisplayWidget(keyBindings, this);
    mViewerControls = new ViewerControlsWidget(keyBindings, this);
    mAnnotationTools = new AnnotationToolsWidget(keyBindings, this);
    mAnnotationOptions = new AnnotationOptionsWidget(keyBindings, this);
    mViewerWidget = new ViewerWidget(mProjectManager, mGlobalTimeControl, mRangeTimeControl, mPlaybackControl, this);

    ApplyTimeControlVisible(mGlobalTimeControl, Settings::globalTimeControlVisible);
    ApplyTimeControlVisible(mRangeTimeControl, Settings::rangeTimeControlVisible);
    mPlaybackControl->setVisible(Settings::playbackControlsVisible);
    mPlaybackOptions->setVisible(Settings::playbackControlsVisible);
    mToolsDisplay->setVisible(Settings::playbackControlsVisible);
    Settings::viewerControlsVisible = false;
    mViewerControls->hide();
    HideAnnotationStrips();
}

void MonitorPanel::ApplyTimeControlVisible(TimeControlBaseWidget* widget, bool visible)
{
    if (Settings::HardwareRenderingInUse())
    {
        // The OpenGL viewer paints the bars inside its own surface.
        widget->hide();
        widget->OnVisibilityChangedGL(visible);
    }
    else
    {
        widget->setVisible(visible);
    }
    mViewerWidget->UpdateViewerLayout();
}

void MonitorPanel::HideAnnotationStrips()
{
    Settings::annotationToolsVisible = false;
    mAnnotationTools->hide();
    mAnnotationOptions->hide();
    mViewerWidget->SetAnnotationDrawingEnabled(false);
    emit AnnotationToolbarVisibilityChanged(false);
}

void MonitorPanel::CreateLayout()
{
    mViewerColumn = new QVBoxLayout();
    mViewerColumn->setContentsMargins(0, 0, 0, 0);
    mViewerColumn->setSpacing(0);
    mViewerColumn->addWidget(mRangeTimeControl);
    mViewerColumn->addWidget(mViewerWidget, 1);
    mViewerColumn->addWidget(mGlobalTimeControl);

    mBottomRow = new QHBoxLayout();
    mBottomRow->setContentsMargins(10, 0, 10, 0);
    mBottomRow->setSpacing(0);
    mBottomRow->addWidget(mToolsDisplay);
    mBottomRow->addWidget(mPlaybackControl);
    mBottomRow->addWidget(mPlaybackOptions);

    auto* const topRow = new QHBoxLayout();
    topRow->setContentsMargins(0, 0, 10, 0);
    topRow->setSpacing(0);
    topRow->addWidget(mAnnotationOptions);
    topRow->addWidget(mViewerControls);

    auto* const middleRow = new QHBoxLayout();
    middleRow->setContentsMargins(0, 0, 0, 0);
    middleRow->setSpacing(0);
    middleRow->addWidget(mAnnotationTools);
    middleRow->addLayout(mViewerColumn, 1);

    mMainLayout = new QVBoxLayout(this);
    mMainLayout->setContentsMargins(0, 0, 0, 0);
    mMainLayout->setSpacing(0);
    mMainLayout->addLayout(topRow);
    mMainLayout->addLayout(middleRow, 1);
    mMainLayout->addLayout(mBottomRow);

    UpdateLayout();
}

void MonitorPanel::UpdateLayout()
{
    mViewerColumn->removeWidget(mGlobalTimeControl);
    mViewerColumn->removeWidget(mRangeTimeControl);
    if (!Settings::globalTimeControlPositionTop)
    {
        mViewerColumn->insertWidget(1, mGlobalTimeControl);
    }
    if (!Settings::rangeTimeControlPositionTop)
    {
        mViewerColumn->insertWidget(1, mRangeTimeControl);
    }
    else
    {
        mViewerColumn->insertWidget(0, mRangeTimeControl);
    }
    if (Settings::globalTimeControlPositionTop)
    {
        mViewerColumn->insertWidget(0, mGlobalTimeControl);
    }
    update();
    mViewerWidget->UpdateViewerLayout();
}

void MonitorPanel::CreateConnections()
{
    ViewerWidget* const viewer = mViewerWidget;
    connect(viewer, &ViewerWidget::ViewerLayoutChanged, mViewerControls, &ViewerControlsWidget::UpdateViewerLayout);
    connect(viewer, &ViewerWidget::ViewerBackgroundChanged, mViewerControls,
            &ViewerControlsWidget::UpdateViewerBackground);
    connect(viewer, &ViewerWidget::ViewerOverlayDrawableChanged, mViewerControls,
            &ViewerControlsWidget::UpdateViewerOverlayDrawable);
    connect(viewer, &ViewerWidget::ViewerWipeStateChanged, mViewerControls, &ViewerControlsWidget::UpdateWipeState);
    connect(viewer, &ViewerWidget::AnnotationVisibilityChanged, mAnnotationTools,
            &AnnotationToolsWidget::UpdateAnnotationVisibility);
    connect(viewer, &ViewerWidget::OpenUrlsInViewerRequested, this, &MonitorPanel::OnOpenUrlsRequested);
    connect(viewer, &ViewerWidget::OpenTimelinesInViewerRequested, this, &MonitorPanel::OnOpenTimelinesRequested);
    connect(viewer, &ViewerWidget::OpenFolderInViewerRequested, this, &MonitorPanel::OnOpenFolderRequested);
    connect(viewer, &ViewerWidget::OpenProjectRequested, this, &MonitorPanel::OpenProjectRequested);
    connect(viewer, &ViewerWidget::SeekPreviousFrameRequested, mGlobalTimeControl,
            &GlobalTimeControlWidget::FrameStepBackward);
    connect(viewer, &ViewerWidget::SeekNextFrameRequested, mGlobalTimeControl,
            &GlobalTimeControlWidget::FrameStepForward);
    connect(viewer, &ViewerWidget::FpsChanged, mGlobalTimeControl, &GlobalTimeControlWidget::SetFps);
    connect(viewer, &ViewerWidget::HwTimeControlOffsetChanged, mGlobalTimeControl,
            &TimeControlBaseWidget::SetHwMouseOffset);
    connect(viewer, &ViewerWidget::HwTimeControlOffsetChanged, mRangeTimeControl,
            &TimeControlBaseWidget::SetHwMouseOffset);
    connect(viewer, &ViewerWidget::HoldAnnotationFramesChanged, mAnnotationTools,
            &AnnotationToolsWidget::UpdateHoldFramesBtn);
    connect(viewer, &ViewerWidget::AnnotationGhostingChanged, mAnnotationTools,
            &AnnotationToolsWidget::UpdateGhostingBtn);
    connect(viewer, &ViewerWidget::AnnotationActiveLayerChanged, mAnnotationTools,
            &AnnotationToolsWidget::UpdateAnnotationLayer);
    connect(viewer, &ViewerWidget::AnnotationToolColorChangeRequested, mAnnotationOptions,
            &AnnotationOptionsWidget::SetColor);
    if (AnnotationsOverlay* const overlay = viewer->AnnotationsOverlayPtr())
    {
        connect(overlay, &AnnotationsOverlay::BookmarkIsAnnotationChanged, mGlobalTimeControl,
                &TimeControlBaseWidget::UpdateBookmarks);
        connect(overlay, &AnnotationsOverlay::BookmarkIsAnnotationChanged, mRangeTimeControl,
                &TimeControlBaseWidget::UpdateBookmarks);
    }

    connect(mViewerControls, &ViewerControlsWidget::BackgroundChangeRequested, viewer,
            &ViewerWidget::SetViewerBackground);
    connect(mViewerControls, &ViewerControlsWidget::LayoutChangeRequested, viewer,
            &ViewerWidget::SetViewerLayoutByType);
    connect(mViewerControls, &ViewerControlsWidget::OpacityChangeRequested, viewer, &ViewerWidget::SetImageAlpha);
    connect(mViewerControls, &ViewerControlsWidget::ViewerOverlayChangeRequested, viewer,
            &ViewerWidget::SetViewerOverlayDrawable);
    connect(mViewerControls, &ViewerControlsWidget::WipeEnabledRequested, viewer, &ViewerWidget::SetWipeEnabled);

    connect(mAnnotationTools, &AnnotationToolsWidget::EnableHoldFramesRequested, viewer,
            &ViewerWidget::SetHoldAnnotationFramesEnabled);
    connect(mAnnotationTools, &AnnotationToolsWidget::EnableGhostingRequested, viewer,
            &ViewerWidget::SetGhostingEnabled);
    connect(mAnnotationTools, &AnnotationToolsWidget::GhostingPropertiesUpdated, viewer,
            &ViewerWidget::UpdateGhostingProperties);
    connect(mAnnotationTools, &AnnotationToolsWidget::AnnotationActiveLayerChangeRequested, viewer,
            &ViewerWidget::SetAnnotationActiveLayer);
    connect(mAnnotationTools, &AnnotationToolsWidget::AnnotationVisibilityChangeRequested, viewer,
            &ViewerWidget::SetAnnotationVisiblity);
    connect(mAnnotationTools, &AnnotationToolsWidget::AnnotationBackgroundColorChangeRequested, viewer,
            &ViewerWidget::SetAnnotationBackgroundColor);
    connect(mAnnotationTools, &AnnotationToolsWidget::AnnotationBackgroundOpacityChangeRequested, viewer,
            &ViewerWidget::SetAnnotationBackgroundOpacity);
    connect(mAnnotationTools, &AnnotationToolsWidget::ActiveToolChanged, viewer,
            &ViewerWidget::OnActiveAnnotationToolChanged);
    connect(mAnnotationTools, &AnnotationToolsWidget::ActiveToolChanged, mAnnotationOptions,
            &AnnotationOptionsWidget::OnActiveToolChanged);
    connect(mAnnotationOptions, &AnnotationOptionsWidget::EnableEyeDropperRequested, viewer,
            &ViewerWidget::SetEyedropperEnabled);
    connect(mAnnotationOptions, &AnnotationOptionsWidget::UndoRequested, viewer, &ViewerWidget::UndoAnnotation);
    connect(mAnnotationOptions, &AnnotationOptionsWidget::RedoRequested, viewer, &ViewerWidget::RedoAnnotation);
    connect(mAnnotationOptions, &AnnotationOptionsWidget::ClearRequested, viewer, &ViewerWidget::ClearAnnotations);

    connect(mGlobalTimeControl, &TimeControlBaseWidget::PlaybackFrameChanged, this,
            &MonitorPanel::OnTimeControlPlaybackFrameChanged);
    connect(mGlobalTimeControl, &TimeControlBaseWidget::TogglePositionRequested, this,
            &MonitorPanel::ToggleTimeControlPosition);
    connect(mRangeTimeControl, &TimeControlBaseWidget::TogglePositionRequested, this,
            &MonitorPanel::ToggleTimeControlPosition);
    connect(mAvManager, &AvManager::PlaybackSpeedChanged, mGlobalTimeControl,
            &GlobalTimeControlWidget::SetPlaybackSpeedMultiplier);
    connect(mAvManager, &AvManager::PlaybackStateChanged, this, &MonitorPanel::UpdateSteppedPlaybackState);

    connect(mPlaybackControl, &PlaybackControlWidget::SeekTimelineStartRequested, mGlobalTimeControl,
            &GlobalTimeControlWidget::SeekTimelineStart);
    connect(mPlaybackControl, &PlaybackControlWidget::SeekTimelineEndRequested, mGlobalTimeControl,
            &GlobalTimeControlWidget::SeekTimelineEnd);
    connect(mPlaybackControl, &PlaybackControlWidget::SeekRangeStartRequested, mGlobalTimeControl,
            &GlobalTimeControlWidget::SeekRangeStart);
    connect(mPlaybackControl, &PlaybackControlWidget::SeekRangeEndRequested, mGlobalTimeControl,
            &GlobalTimeControlWidget::SeekRangeEnd);
    connect(mPlaybackControl, &PlaybackControlWidget::FrameStepForwardRequested, mGlobalTimeControl,
            &GlobalTimeControlWidget::FrameStepForward);
    connect(mPlaybackControl, &PlaybackControlWidget::FrameStepBackwardRequested, mGlobalTimeControl,
            &GlobalTimeControlWidget::FrameStepBackward);
    connect(mPlaybackControl, &PlaybackControlWidget::SeekPreviousBookmarkOrEditRequested, mGlobalTimeControl,
            &GlobalTimeControlWidget::SeekPreviousBookmarkOrEdit);
    connect(mPlaybackControl, &PlaybackControlWidget::SeekNextBookmarkOrEditRequested, mGlobalTimeControl,
            &GlobalTimeControlWidget::SeekNextBookmarkOrEdit);
    connect(mPlaybackControl, &PlaybackControlWidget::RangeStartToCurrentRequested, mGlobalTimeControl,
            &TimeControlBaseWidget::RangeStartToCurrent);
    connect(mPlaybackControl, &PlaybackControlWidget::RangeEndToCurrentRequested, mGlobalTimeControl,
            &TimeControlBaseWidget::RangeEndToCurrent);
    connect(mPlaybackOptions, &PlaybackOptionsWidget::ResizeViewerRequested, this, &MonitorPanel::ResizeViewer);
    connect(mPlaybackOptions->FullscreenButton(), &FlatButton::clicked, this, &MonitorPanel::ToggleFullscreen);
    connect(mToolsDisplay->SideBarButton(), &FlatButton::clicked, this, &MonitorPanel::ToggleSideBar);
    connect(mToolsDisplay->AnnotationToolsButton(), &FlatButton::clicked, this,
            &MonitorPanel::ToggleAnnotationToolbarVisibility);
    connect(mToolsDisplay->ViewerControlsButton(), &FlatButton::clicked, this,
            &MonitorPanel::ToggleViewerControlsVisibility);
    connect(mToolsDisplay->GlobalTimeControlButton(), &FlatButton::clicked, this,
            &MonitorPanel::ToggleGlobalTimeControlVisible);
    connect(mToolsDisplay->RangeTimeControlButton(), &FlatButton::clicked, this,
            &MonitorPanel::ToggleRangeTimeControlVisible);
    connect(mToolsDisplay->MediaInfoButton(), &FlatButton::clicked, this, &MonitorPanel::ToggleMediaInfoVisibility);

    connect(mAvManager, &AvManager::ExportTasksEnded, this, &MonitorPanel::EndExportProcess);
    connect(mAvManager, &AvManager::ExportLogMsgReceived, this, &MonitorPanel::LogExportMsg);
    connect(mProjectManager, &ProjectManager::ExportRequested, this, &MonitorPanel::ExportToFile);
}

// Queries

bool MonitorPanel::IsGlobalTimeControlVisible() const
{
    return Settings::globalTimeControlVisible;
}

bool MonitorPanel::IsRangeTimeControlVisible() const
{
    return Settings::rangeTimeControlVisible;
}

bool MonitorPanel::IsPlaybackControlsVisible() const
{
    return Settings::playbackControlsVisible;
}

bool MonitorPanel::IsViewerControlsVisible() const
{
    return Settings::viewerControlsVisible;
}

bool MonitorPanel::IsAnnotationDrawingEnabled() const
{
    return mViewerWidget->IsAnnotationDrawingEnabled();
}

bool MonitorPanel::IsMediaInfoVisible() const
{
    return mViewerWidget->IsMediaInfoVisible();
}

ViewerLayoutType MonitorPanel::ViewerLayout() const
{
    return mViewerWidget->ViewerLayout();
}

QSize MonitorPanel::ViewerSize() const
{
    return mViewerWidget->ViewerSize();
}

void MonitorPanel::VideoWidthHeight(int& width, int& height) const
{
    mViewerWidget->VideoWidthHeight(width, height);
}

int MonitorPanel::ViewerOverlayDrawableState() const
{
    if (mViewerWidget->IsSafeAreaVisible())
    {
        return 1;
    }
    if (mViewerWidget->IsGridVisible())
    {
        return 2;
    }
    if (mViewerWidget->IsCenterVisible())
    {
        return 3;
    }
    return 0;
}

void MonitorPanel::SetCtrlKeyPressed(bool pressed)
{
    mViewerWidget->SetCtrlKeyPressed(pressed);
}

void MonitorPanel::UpdateKeyBindings()
{
    mPlaybackControl->UpdateToolTips();
    mPlaybackOptions->UpdateToolTips();
    mToolsDisplay->UpdateToolTips();
    mViewerControls->UpdateToolTips();
    mAnnotationTools->UpdateToolTips();
    mAnnotationOptions->UpdateToolTips();
}

ViewerWidget* MonitorPanel::ViewerWidgetPtr() const
{
    return mViewerWidget;
}

GlobalTimeControlWidget* MonitorPanel::GlobalTimeControl() const
{
    return mGlobalTimeControl;
}

RangeTimeControlWidget* MonitorPanel::RangeTimeControl() const
{
    return mRangeTimeControl;
}

PlaybackControlWidget* MonitorPanel::PlaybackControl() const
{
    return mPlaybackControl;
}

PlaybackOptionsWidget* MonitorPanel::PlaybackOptions() const
{
    return mPlaybackOptions;
}

ToolsDisplayWidget* MonitorPanel::ToolsDisplay() const
{
    return mToolsDisplay;
}

ViewerControlsWidget* MonitorPanel::ViewerControls() const
{
    return mViewerControls;
}

AnnotationToolsWidget* MonitorPanel::AnnotationTools() const
{
    return mAnnotationTools;
}

AnnotationOptionsWidget* MonitorPanel::AnnotationOptions() const
{
    return mAnnotationOptions;
}

QVBoxLayout* MonitorPanel::ViewerColumn() const
{
    return mViewerColumn;
}

ExportDialog* MonitorPanel::ExportDialogPtr() const
{
    return mExportDialog;
}

ExportProperties const* MonitorPanel::CurrentExport() const
{
    return mCurrentExport;
}

bool MonitorPanel::IsCaptureInputBlocked() const
{
    return mCaptureInputBlocker->IsCaptureInputBlocked();
}

// Playback

void MonitorPanel::TogglePlayPause()
{
    mPlaybackControl->TogglePlayPause();
}

void MonitorPanel::TogglePlayPauseBookmarksOnly()
{
    mPlaybackControl->TogglePlayPauseBookmarksOnly();
}

void MonitorPanel::PlayForwards()
{
    mPlaybackControl->PlayForwards();
}

void MonitorPanel::PlayBackwards()
{
    mPlaybackControl->PlayBackwards();
}

void MonitorPanel::Pause()
{
    mPlaybackControl->Pause();
}

void MonitorPanel::RangeStartToCurrent()
{
    mGlobalTimeControl->RangeStartToCurrent();
}

void MonitorPanel::RangeEndToCurrent()
{
    mGlobalTimeControl->RangeEndToCurrent();
}

void MonitorPanel::ResetRange()
{
    mGlobalTimeControl->ResetRange();
}

void MonitorPanel::SeekTimelineStart()
{
    mGlobalTimeControl->SeekTimelineStart();
}

void MonitorPanel::SeekTimelineEnd()
{
    mGlobalTimeControl->SeekTimelineEnd();
}

void MonitorPanel::SeekRangeStart()
{
    mGlobalTimeControl->SeekRangeStart();
}

void MonitorPanel::SeekRangeEnd()
{
    mGlobalTimeControl->SeekRangeEnd();
}

void MonitorPanel::FrameStepBackward()
{
    mGlobalTimeControl->FrameStepBackward();
}

void MonitorPanel::FrameStepForward()
{
    mGlobalTimeControl->FrameStepForward();
}

void MonitorPanel::MultiFrameStepBackward()
{
    mGlobalTimeControl->MultiFrameStepBackward();
}

void MonitorPanel::MultiFrameStepForward()
{
    mGlobalTimeControl->MultiFrameStepForward();
}

void MonitorPanel::SeekPreviousEdit()
{
    mGlobalTimeControl->SeekPreviousEdit();
}

void MonitorPanel::SeekNextEdit()
{
    mGlobalTimeControl->SeekNextEdit();
}

void MonitorPanel::SeekPreviousBookmark()
{
    mGlobalTimeControl->SeekPreviousBookmark();
}

void MonitorPanel::SeekNextBookmark()
{
    mGlobalTimeControl->SeekNextBookmark();
}

void MonitorPanel::SetPlaybackSpeed(float speed)
{
    mPlaybackOptions->SetPlaybackSpeed(speed);
}

void MonitorPanel::IncreasePlaybackSpeed()
{
    mPlaybackOptions->IncreasePlaybackSpeed();
}

void MonitorPanel::DecreasePlaybackSpeed()
{
    mPlaybackOptions->DecreasePlaybackSpeed();
}

int MonitorPanel::ActionData(bool& ok) const
{
    ok = false;
    auto* const action = qobject_cast<QAction*>(sender());
    if (!action)
    {
        return 0;
    }
    return action->data().toInt(&ok);
}

void MonitorPanel::SetPlaybackSpeedBySender()
{
    auto* const action = qobject_cast<QAction*>(sender());
    if (!action)
    {
        return;
    }
    bool ok = false;
    float const speed = action->data().toFloat(&ok);
    if (ok)
    {
        mPlaybackOptions->SetPlaybackSpeed(speed);
    }
}

void MonitorPanel::UpdateSteppedPlaybackState()
{
    mGlobalTimeControl->SetSteppedPlaybackEnabled(mAvManager->IsSteppedPlayback());
}

void MonitorPanel::SetLoopState(LoopState state)
{
    mPlaybackOptions->SetLoopState(state);
}

void MonitorPanel::ToggleLoopState()
{
    mPlaybackOptions->ToggleLoopState();
}

void MonitorPanel::TogglePingPong()
{
    mPlaybackOptions->TogglePingPong();
}

void MonitorPanel::SetLoopStateBySender()
{
    bool ok = false;
    int const value = ActionData(ok);
    if (ok && value >= 0 && value <= 2)
    {
        mPlaybackOptions->SetLoopState(static_cast<LoopState>(value));
    }
}

void MonitorPanel::IncreaseVolume()
{
    mPlaybackOptions->Volume()->IncreaseVolume(-1);
}

void MonitorPanel::DecreaseVolume()
{
    mPlaybackOptions->Volume()->DecreaseVolume(-1);
}

void MonitorPanel::ToggleMute()
{
    mPlaybackOptions->Volume()->ToggleMute();
}

// View

void MonitorPanel::ResizeViewer(float factor)
{
    int width = 0;
    int height = 0;
    mViewerWidget->VideoWidthHeight(width, height);
    emit ViewerResizeRequested(static_cast<int>(static_cast<float>(width) * factor),
                               static_cast<int>(static_cast<float>(height) * factor));
}

void MonitorPanel::SetViewerLayout(int rows, int columns, int stackHeight)
{
    mViewerWidget->SetViewerLayout(rows, columns, stackHeight);
}

void MonitorPanel::SetViewerLayoutByType(ViewerLayoutType type)
{
    mViewerWidget->SetViewerLayoutByType(type);
}

void MonitorPanel::ToggleViewerLayoutBySender()
{
    bool ok = false;
    int const value = ActionData(ok);
    if (ok && value >= 0 && value <= 4)
    {
        mViewerWidget->ToggleViewerLayout(static_cast<ViewerLayoutType>(value));
    }
}

void MonitorPanel::SetViewerOverlayDrawable(ViewerOverlayDrawable drawable)
{
    mViewerWidget->SetViewerOverlayDrawable(drawable);
}

void MonitorPanel::SetViewerOverlayDrawableStateBySender()
{
    bool ok = false;
    int const value = ActionData(ok);
    if (ok && value >= 0 && value <= 3)
    {
        mViewerWidget->SetViewerOverlayDrawable(static_cast<ViewerOverlayDrawable>(value));
    }
}

void MonitorPanel::SetAnnotationVisibility(AnnotationVisibility visibility)
{
    mViewerWidget->SetAnnotationVisiblity(visibility);
}

void MonitorPanel::SetAnnotationVisibilityBySender()
{
    bool ok = false;
    int const value = ActionData(ok);
    if (ok && value >= 0 && value <= 2)
    {
        mViewerWidget->SetAnnotationVisiblity(static_cast<AnnotationVisibility>(value));
    }
}

void MonitorPanel::SetAnnotationToolBySender()
{
    bool ok = false;
    int const value = ActionData(ok);
    if (ok && value >= 0 && value <= 6)
    {
        mAnnotationTools->SetActiveTool(static_cast<AnnotationToolType>(value));
    }
}

void MonitorPanel::ActivateEyedropper()
{
    if (mViewerWidget->IsAnnotationDrawingEnabled())
    {
        mViewerWidget->SetEyedropperEnabled(true);
    }
}

void MonitorPanel::IncreaseAnnotationToolSize()
{
    mAnnotationOptions->IncreaseActiveToolSize();
}

void MonitorPanel::DecreaseAnnotationToolSize()
{
    mAnnotationOptions->DecreaseActiveToolSize();
}

void MonitorPanel::ToggleHoldAnnotationFrames()
{
    mViewerWidget->SetHoldAnnotationFramesEnabled(!mViewerWidget->IsHoldAnnotationFramesEnabled());
}

void MonitorPanel::ToggleGhosting()
{
    mViewerWidget->SetGhostingEnabled(!mViewerWidget->IsGhostingEnabled());
}

void MonitorPanel::UndoAnnotation()
{
    mViewerWidget->UndoAnnotation();
}

void MonitorPanel::RedoAnnotation()
{
    mViewerWidget->RedoAnnotation();
}

void MonitorPanel::SetHorizontalFlipEnabled(bool enabled)
{
    mViewerWidget->SetHorizontalFlipEnabled(enabled);
}

void MonitorPanel::SetVerticalFlipEnabled(bool enabled)
{
    mViewerWidget->SetVerticalFlipEnabled(enabled);
}

bool MonitorPanel::IsHorizontalFlipEnabled() const
{
    return mViewerWidget->ViewerPtr()->HorizontalFlipEnabled();
}

bool MonitorPanel::IsVerticalFlipEnabled() const
{
    return mViewerWidget->ViewerPtr()->VerticalFlipEnabled();
}

void MonitorPanel::RotateClockwise()
{
    mViewerWidget->RotateClockwise();
}

void MonitorPanel::RotateCounterClockwise()
{
    mViewerWidget->RotateCounterClockwise();
}

void MonitorPanel::ResetFlipAndRotate()
{
    mViewerWidget->ResetFlipAndRotate();
}

void MonitorPanel::ToggleABWipe()
{
    mViewerWidget->SetWipeEnabled(!mViewerWidget->IsWipeEnabled());
}

void MonitorPanel::ResetABWipe()
{
    mViewerWidget->ResetWipePositionAndRotation();
}

void MonitorPanel::SetPanAndZoom(QPointF pan, float zoom, bool enabled)
{
    mViewerWidget->SetPanAndZoom(pan, zoom, enabled, true);
}

void MonitorPanel::ZoomIn()
{
    mViewerWidget->ZoomIn();
}

void MonitorPanel::ZoomOut()
{
    mViewerWidget->ZoomOut();
}

void MonitorPanel::TogglePanAndZoom()
{
    mViewerWidget->SetPanAndZoom(mViewerWidget->PanInterpolation(), mViewerWidget->ZoomFactor(),
                                 !mViewerWidget->PanAndZoomEnabled(), true);
}

void MonitorPanel::ResetPanAndZoom()
{
    mViewerWidget->ResetPanAndZoom(true);
}

// Bookmarks

void MonitorPanel::ToggleBookmark()
{
    mGlobalTimeControl->ToggleFrameBookmark();
}

void MonitorPanel::ToggleRangeBoomark()
{
    mGlobalTimeControl->ToggleRangeBookmark();
}

void MonitorPanel::CutBookmark()
{
    mViewerWidget->CutAnnotations();
}

void MonitorPanel::CopyBookmark()
{
    mViewerWidget->CopyAnnotations();
}

void MonitorPanel::PasteBookmark()
{
    mViewerWidget->PasteAnnotations();
}

void MonitorPanel::RemoveBookmarks()
{
    mGlobalTimeControl->RemoveBookmarks(true, false, false, QStringLiteral("RemoveBookmarks"));
}

void MonitorPanel::RemoveBookmarksInRange()
{
    mGlobalTimeControl->RemoveBookmarks(true, false, true, QStringLiteral("RemoveBookmarksInRange"));
}

void MonitorPanel::RemoveRangeBookmarks()
{
    mGlobalTimeControl->RemoveBookmarks(false, true, false, QStringLiteral("RemoveRangeBookmarks"));
}

void MonitorPanel::ClearAllBookmarks()
{
    mGlobalTimeControl->RemoveBookmarks(true, true, false, QStringLiteral("Clear All Bookmarks"));
}

void MonitorPanel::SetRangeToPreviousRangeBookmark()
{
    mGlobalTimeControl->SetRangeToPreviousRangeBookmark();
}

void MonitorPanel::SetRangeToNextRangeBookmark()
{
    mGlobalTimeControl->SetRangeToNextRangeBookmark();
}

// Strips

void MonitorPanel::SetGlobalTimeControlVisible(bool visible, bool force)
{
    if (!force && !mAvManager->PrimaryTimelineHasClips())
    {
        return;
    }
    Settings::globalTimeControlVisible = visible;
    ApplyTimeControlVisible(mGlobalTimeControl, visible);
}

void MonitorPanel::SetRangeTimeControlVisible(bool visible, bool force)
{
    if (!force && !mAvManager->PrimaryTimelineHasClips())
    {
        return;
    }
    Settings::rangeTimeControlVisible = visible;
    ApplyTimeControlVisible(mRangeTimeControl, visible);
}

void MonitorPanel::ToggleGlobalTimeControlVisible()
{
    SetGlobalTimeControlVisible(!Settings::globalTimeControlVisible, false);
}

void MonitorPanel::ToggleRangeTimeControlVisible()
{
    SetRangeTimeControlVisible(!Settings::rangeTimeControlVisible, false);
}

void MonitorPanel::SwapTimeControls()
{
    if (Settings::globalTimeControlVisible)
    {
        SetGlobalTimeControlVisible(false, false);
        SetRangeTimeControlVisible(true, false);
    }
    else if (Settings::rangeTimeControlVisible)
    {
        SetGlobalTimeControlVisible(true, false);
        SetRangeTimeControlVisible(false, false);
    }
    else
    {
        SetRangeTimeControlVisible(true, false);
    }
}

void MonitorPanel::SetPlaybackControlsVisible(bool visible)
{
    Settings::playbackControlsVisible = visible;
    mPlaybackControl->setVisible(visible);
    mPlaybackOptions->setVisible(visible);
    mToolsDisplay->setVisible(visible);
}

void MonitorPanel::TogglePlaybackControlsVisible()
{
    SetPlaybackControlsVisible(!Settings::playbackControlsVisible);
}

void MonitorPanel::SetViewerControlsVisible(bool /*visible*/)
{
    // The monitor keeps the viewer-controls strip hidden.
    Settings::viewerControlsVisible = false;
    mViewerControls->hide();
}

void MonitorPanel::ToggleViewerControlsVisibility()
{
    SetViewerControlsVisible(false);
}

void MonitorPanel::SetAnnotationToolbarVisible(bool /*visible*/)
{
    // The monitor keeps the annotation strips hidden and drawing off.
    HideAnnotationStrips();
}

void MonitorPanel::ToggleAnnotationToolbarVisibility()
{
    HideAnnotationStrips();
}

void MonitorPanel::SetMediaInfoVisible(bool visible)
{
    mViewerWidget->SetMediaInfoVisible(visible);
}

void MonitorPanel::ToggleMediaInfoVisibility()
{
    mViewerWidget->SetMediaInfoVisible(!IsMediaInfoVisible());
}

void MonitorPanel::ToggleSideBar()
{
    emit ToggleSideBarRequested();
}

void MonitorPanel::ShowConsole()
{
    emit ShowConsoleRequested();
}

void MonitorPanel::ToggleFullscreen()
{
    emit ToggleFullscreenRequested();
}

void MonitorPanel::SetFullscreenState(bool fullscreen)
{
    mPlaybackOptions->SetFullscreenState(fullscreen);
}

void MonitorPanel::ToggleTimeControlPosition(TimeControlBaseWidget* widget)
{
    if (widget == mGlobalTimeControl)
    {
        Settings::globalTimeControlPositionTop = !Settings::globalTimeControlPositionTop;
    }
    else if (widget == mRangeTimeControl)
    {
        Settings::rangeTimeControlPositionTop = !Settings::rangeTimeControlPositionTop;
    }
    else
    {
        return;
    }
    UpdateLayout();
}

void MonitorPanel::OnOpenUrlsRequested(QList<QUrl> const& urls, int viewportIndex, int viewportCount, bool play)
{
    emit OpenUrlsRequested(urls, viewportIndex, viewportCount, play);
}

void MonitorPanel::OnOpenTimelinesRequested(QList<QUuid> const& ids, int viewportIndex, bool keepPrevious)
{
    emit OpenTimelinesRequested(ids, viewportIndex, keepPrevious);
}

void MonitorPanel::OnOpenFolderRequested(QUuid const& id, int viewportIndex, bool keepPrevious)
{
    emit OpenFolderRequested(id, viewportIndex, keepPrevious);
}

void MonitorPanel::OnOpenProjectRequested(QString const& path)
{
    emit OpenProjectRequested(path);
}

void MonitorPanel::OnTimeControlPlaybackFrameChanged(int frame, int offset)
{
    emit TimeControlPlaybackFrameChanged(frame, offset);
}

// Export

void MonitorPanel::ShowExportDialog()
{
    int width = -1;
    int height = -1;
    bool const hasTimeline = mProjectManager->PrimaryTimelineWidthHeight(width, height);
    if (!mExportDialog)
    {
        mExportDialog = new ExportDialog(this);
        if (hasTimeline)
        {
            mExportDialog->SetWidthHeight(width, height);
        }
        connect(this, &MonitorPanel::ExportLogMsgReceived, mExportDialog, &ExportDialog::AppendToOutput);
        connect(mExportDialog, &ExportDialog::ExportRequested, this, &MonitorPanel::ExportToFile);
        connect(mExportDialog, &ExportDialog::CancelRequested, this, &MonitorPanel::CancelExport);
    }
    if (!hasTimeline)
    {
        width = -1;
        height = -1;
    }
    mExportDialog->SetTimelineWidthHeight(width, height);
    mExportDialog->exec();
}

void MonitorPanel::ExportToFile(ExportProperties const& properties)
{
    Timeline* const timeline = mViewerWidget->PrimaryTimeline();
    if (!timeline)
    {
        return;
    }
    if (Settings::exportInProgress || mCurrentExport)
    {
        // The engine still works on the current record: a second one would
        // replace it, and the first export's end would delete the second.
        Logger::GetInstance()->Error(QStringLiteral("An export is already running; the new export was refused"));
        return;
    }
    mPlaybackControl->Pause();
    mCurrentExport = new ExportProperties(properties);
    mCurrentExport->timeline = timeline;
    if (mCurrentExport->imageNumberingType == 1)
    {
        mCurrentExport->imageNumberOffset = 1;
    }
    else if (mCurrentExport->imageNumberingType == 2)
    {
        mCurrentExport->imageNumberOffset = timeline->TimeControlFrameOffset();
    }
    else
    {
        mCurrentExport->imageNumberOffset = 0;
    }

    QString const error = ExportManager::PreExportInitialization(mCurrentExport);
    if (!error.isEmpty())
    {
        mCurrentExport->failed = true;
        Settings::exportErrorMsg.append(error + QStringLiteral("\n"));
        emit ExportLogMsgReceived(error, ExportLoggingMsgType::General, true);
        EndExportProcess();
        return;
    }
    if (mExportDialog)
    {
        bool const noAudio = mCurrentExport->noAudio;
        bool const noVideo = mCurrentExport->noVideo;
        if (!noAudio && !noVideo)
        {
            mExportDialog->SetProgressBarWeights(0.1f, 0.86f, 0.4f, 0.2f);
        }
        else if (noAudio && !noVideo)
        {
            mExportDialog->SetProgressBarWeights(0.0f, 0.98f, 0.02f, 0.0f);
        }
        else if (!noAudio && noVideo)
        {
            mExportDialog->SetProgressBarWeights(1.0f, 0.0f, 0.0f, 0.0f);
        }
        else
        {
            mExportDialog->SetProgressBarWeights(0.0f, 0.0f, 0.0f, 0.0f);
        }
    }
    if (mCurrentExport->viewerCapture)
    {
        SnapshotExport();
    }
    else
    {
        TimelineExport();
    }
}

void MonitorPanel::TimelineExport()
{
    emit ExportLogMsgReceived(QStringLiteral("Starting timeline export..."), ExportLoggingMsgType::General, false);
    BeginExportProcess();
    mAvManager->StartTimelineExport(mCurrentExport);
}

void MonitorPanel::SnapshotExport()
{
    emit ExportLogMsgReceived(QStringLiteral("Starting viewer export..."), ExportLoggingMsgType::General, false);
    SnapshotProperties snapshot;
    snapshot.numbering = 1;
    snapshot.numberWidth = 4;
    snapshot.stepped = false;
    snapshot.forExport = false;

    ExportProperties* const current = mCurrentExport;
    if (current->framesMode == 1 || current->framesMode == 2)
    {
        if (current->framesMode == 1)
        {
            current->noAudio = true;
        }
        if (current->timeline->FrameBookmarkList().isEmpty())
        {
            current->failed = true;
            LogExportMsg(QStringLiteral("No bookmarks found for export"), ExportLoggingMsgType::General, true);
            EndExportProcess();
            return;
        }
        snapshot.mode = current->ignoreRange ? 3 : 4;
        snapshot.stepped = current->framesMode == 2;
    }
    else
    {
        snapshot.mode = current->ignoreRange ? 1 : 2;
    }
    snapshot.numbering = current->imageNumberingType == 2 ? 1 : 0;
    snapshot.numberWidth = 6;

    if (current->imageNumberingType == 2 && current->framesMode == 1)
    {
        // Bookmark frames numbered by their frame: written as files, not encoded.
        snapshot.dirPath = current->imageDirPath;
        snapshot.name = current->imageBaseName;
        snapshot.numberWidth = current->imagePadding;
        snapshot.extension = current->imageExtension;
        BeginExportProcess();
        if (SnapshotManagerPtr()->AdvancedSnapshot(snapshot, current) < 0)
        {
            current->failed = true;
        }
        EndExportProcess();
        return;
    }

    snapshot.forExport = true;
    BeginExportProcess();
    int const firstFrame = EncodeSnapshotsToVideo(snapshot);
    if (mCurrentExport == current && !current->failed && !current->cancelled && !current->noAudio)
    {
        current->noVideo = true;
        current->videoFromSnapshots = true;
        if (snapshot.stepped)
        {
            // The sound starts where the captured pictures start.
            current->startFrame = firstFrame;
        }
        mAvManager->StartTimelineExport(current);
    }
    else
    {
        EndExportProcess();
    }
}

int MonitorPanel::EncodeSnapshotsToVideo(SnapshotProperties& snapshot)
{
    ExportProperties* const current = mCurrentExport;
    ExportManager exportManager;
    connect(&exportManager, &ExportManager::ExportLogMsgReceived, this, &MonitorPanel::LogExportMsg);

    AnnotationVisibility const savedVisibility = mViewerWidget->GetAnnotationVisibility();
    mViewerWidget->SetAnnotationVisiblity(current->excludeAnnotations ? AnnotationVisibility(2)
                                                                       : AnnotationVisibility(0));
    bool backgroundChanged = false;
    if (!current->excludeAnnotations && current->annotationBgColor.size() >= 4)
    {
        QList<int> const& bg = current->annotationBgColor;
        QColor const color = (bg[0] < 256 && bg[1] < 256 && bg[2] < 256) ? QColor(bg[0], bg[1], bg[2]) : QColor();
        mViewerWidget->SetAnnotationBackgroundColor(color);
        mViewerWidget->SetAnnotationBackgroundOpacity(bg[3]);
        backgroundChanged = true;
    }

    SnapshotManager* const snapshots = SnapshotManagerPtr();
    exportManager.BeginExportSnapshots(current);
    mExportImage = true;
    QMetaObject::Connection const frames =
        connect(snapshots, &SnapshotManager::ExportFrameGenerated, &exportManager, &ExportManager::WriteSnapshotFrame);
    QMetaObject::Connection const logs =
        connect(snapshots, &SnapshotManager::ExportLogMsgReceived, this, &MonitorPanel::LogExportMsg);
    snapshots->Reset();

    SetCaptureInputBlocked(true);
    int const result = snapshots->AdvancedSnapshot(snapshot, current);
    SetCaptureInputBlocked(false);
    if (result < 0)
    {
        current->failed = true;
    }

    exportManager.EndExportSnapshots();
    mExportImage = false;
    disconnect(frames);
    disconnect(logs);
    mViewerWidget->SetAnnotationVisiblity(savedVisibility);
    if (backgroundChanged)
    {
        mViewerWidget->SetAnnotationBackgroundColor(Settings::annotationBackgroundColor);
        mViewerWidget->SetAnnotationBackgroundOpacity(Settings::annotationBackgroundColor.alpha());
    }
    return result;
}

void MonitorPanel::CancelExport()
{
    if (!mCurrentExport)
    {
        return;
    }
    mCurrentExport->cancelled = true;
    SnapshotManagerPtr()->CancelSnapshotOperation();
}

void MonitorPanel::LogExportMsg(QString const& message, ExportLoggingMsgType type, bool isError)
{
    if (isError)
    {
        Settings::exportErrorMsg.append(message + QStringLiteral("\n"));
    }
    emit ExportLogMsgReceived(message, type, isError);
}

void MonitorPanel::BeginExportProcess()
{
    Settings::exportInProgress = true;
    Settings::exportErrorMsg.clear();
    if (mExportDialog)
    {
        mExportDialog->SetExporting(true, mCurrentExport);
    }
    if (mParentWindow)
    {
        mSavedWindowGeometry = mParentWindow->geometry();
        mSavedViewerSize = mViewerWidget->ViewerSize();
        mSavedGlobalVisible = Settings::globalTimeControlVisible;
        mSavedRangeVisible = Settings::rangeTimeControlVisible;
        mSavedPlaybackControlsVisible = Settings::playbackControlsVisible;
        mSavedViewerControlsVisible = Settings::viewerControlsVisible;
        mSavedAnnotationDrawing = mViewerWidget->IsAnnotationDrawingEnabled();
        mStateSaved = true;
    }
    if (mCurrentExport && mCurrentExport->viewerCapture)
    {
        SetGlobalTimeControlVisible(false, false);
        SetRangeTimeControlVisible(false, false);
        SetPlaybackControlsVisible(false);
        SetViewerControlsVisible(false);
        HideAnnotationStrips();
        SettleLayout();
        repaint();
        emit ViewerResizeRequested(mCurrentExport->width, mCurrentExport->height);
    }
}

void MonitorPanel::SettleLayout()
{
    // Innermost first: a layout that settles tells the one around it that
    // its size hints changed, so that one settles next (the window's sets
    // the window's minimum size); a widget resized on the way is laid out
    // at once.
    for (QWidget* widget = this; widget; widget = widget->parentWidget())
    {
        if (widget->layout())
        {
            widget->layout()->activate();
        }
        if (widget->isWindow())
        {
            break;
        }
    }
}

void MonitorPanel::EndExportProcess()
{
    if (!mCurrentExport)
    {
        return;
    }
    Settings::exportInProgress = false;
    QString summary;
    QString const error = ExportManager::PostExportCleanup(mCurrentExport, &summary);
    if (!summary.isEmpty())
    {
        LogExportMsg(summary, ExportLoggingMsgType::General, false);
    }
    if (!error.isEmpty())
    {
        LogExportMsg(error, ExportLoggingMsgType::General, true);
    }
    QString closing = QStringLiteral("\nExport completed successfully.");
    if (mCurrentExport->cancelled)
    {
        closing = QStringLiteral("\nExport cancelled");
    }
    else if (mCurrentExport->failed)
    {
        closing = QStringLiteral("\nExport failed!");
    }
    emit ExportLogMsgReceived(closing, ExportLoggingMsgType::General, false);

    if (mExportDialog && mExportDialog->IsExporting())
    {
        mExportDialog->SetExporting(false, nullptr);
    }
    if (mStateSaved)
    {
        mStateSaved = false;
        if (mCurrentExport->viewerCapture)
        {
            SetGlobalTimeControlVisible(mSavedGlobalVisible, false);
            SetRangeTimeControlVisible(mSavedRangeVisible, false);
            SetPlaybackControlsVisible(mSavedPlaybackControlsVisible);
            SetViewerControlsVisible(false);
            HideAnnotationStrips();
            emit ViewerResizeRequested(mSavedViewerSize.width(), mSavedViewerSize.height());
        }
        if (mParentWindow)
        {
            mParentWindow->setGeometry(mSavedWindowGeometry);
        }
    }
    delete mCurrentExport;
    mCurrentExport = nullptr;
    emit ExportEnded();
}

void MonitorPanel::SetCaptureInputBlocked(bool blocked)
{
    mCaptureInputBlocker->SetExportDialog(mExportDialog);
    mCaptureInputBlocker->SetCaptureInputBlocked(blocked);
}

// Snapshots

SnapshotManager* MonitorPanel::SnapshotManagerPtr()
{
    if (!mSnapshotManager)
    {
        mSnapshotManager = new SnapshotManager(mGlobalTimeControl, mViewerWidget, this);
    }
    return mSnapshotManager;
}

void MonitorPanel::SnapshotToClipboard()
{
    SnapshotManagerPtr()->ToClipboard();
}

void MonitorPanel::SnapshotToFolder()
{
    QString const defaultFile = QStringLiteral("%1/snapshot_%2")
                                    .arg(SnapshotManagerPtr()->SnapshotDirPath())
                                    .arg(QDateTime::currentMSecsSinceEpoch());
    QString selectedFilter = SnapshotManager::SelectedFilter();
    QString const path = QFileDialog::getSaveFileName(window(), QStringLiteral("Snapshot"), defaultFile,
                                                      SnapshotManager::SNAPSHOT_FILE_TYPE_FILTER, &selectedFilter);
    if (!path.isEmpty())
    {
        SnapshotToPath(path, selectedFilter);
    }
}

bool MonitorPanel::SnapshotToPath(QString const& path, QString const& selectedFilter)
{
    if (path.isEmpty())
    {
        return false;
    }
    QFileInfo const info(path);
    QString const suffix = info.suffix().toLower();
    QString type;
    QString name;
    if (suffix == QLatin1String("png") || suffix == QLatin1String("jpg"))
    {
        type = suffix;
        name = info.completeBaseName();
    }
    else
    {
        // A dialog that adds no suffix: the chosen filter says the type.
        type = selectedFilter.contains(QLatin1String("*.jpg"), Qt::CaseInsensitive) ? QStringLiteral("jpg")
                                                                                      : QStringLiteral("png");
        name = info.fileName();
    }
    if (!selectedFilter.isEmpty())
    {
        SnapshotManager::SetSelectedFilter(selectedFilter);
    }
    Settings::snapshotFileType = type;
    return SnapshotManagerPtr()->ToFolder(info.absolutePath(), name, QString());
}

int MonitorPanel::AdvancedSnapshot(SnapshotProperties const& properties)
{
    return SnapshotManagerPtr()->AdvancedSnapshot(properties, nullptr);
}

void MonitorPanel::UpdateSnapshotExportImage()
{
    if (mExportImage)
    {
        emit SnapshotExportImageChanged(mViewerWidget->CaptureImage(false));
    }
}

void MonitorPanel::SetSnapshotProgress(float fraction)
{
    if (mCurrentExport)
    {
        mCurrentExport->videoProgress = fraction * 100.0f;
    }
}

void MonitorPanel::ShowMayaToolsDialog()
{
    if (!mMayaToolsDialog)
    {
        mMayaToolsDialog = new MayaToolsDialog(this);
        mMayaToolsDialog->SetPlaybackFrame(mGlobalTimeControl->PlaybackFrame(),
                                           mGlobalTimeControl->DisplayedFrameOffset());
        connect(mProjectManager, &ProjectManager::ClientApiFrameChangeRequested, mMayaToolsDialog,
                &MayaToolsDialog::PauseSyncTemporarily);
        connect(mGlobalTimeControl, &TimeControlBaseWidget::PlaybackFrameChanged, mMayaToolsDialog,
                &MayaToolsDialog::SetPlaybackFrame);
    }
    if (mMayaToolsDialog->isVisible())
    {
        mMayaToolsDialog->raise();
        mMayaToolsDialog->activateWindow();
    }
    else
    {
        mMayaToolsDialog->restoreGeometry(Settings::mayaToolsGeometry);
        mMayaToolsDialog->show();
    }
}
