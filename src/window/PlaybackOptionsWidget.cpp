#include "window/PlaybackOptionsWidget.h"

#include "app/KeyBindings.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/Timeline.h"
#include "panels/FlatButton.h"
#include "panels/PopUpWidget.h"
#include "panels/UiHelpers.h"
#include "panels/VolumeWidget.h"
#include "window/MonitorComboBox.h"
#include "window/PlaybackSpeedWidget.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QResizeEvent>

namespace
{
QString const LOOP_OFF_ICON = QStringLiteral(":/icons/loop_off.png");
QString const LOOP_ON_ICON = QStringLiteral(":/icons/loop_on.png");
QString const LOOP_PINGPONG_ICON = QStringLiteral(":/icons/loop_pingpong.png");
QString const SPEED_ICON = QStringLiteral(":/icons/playback_speed.png");
QString const RESIZE_ICON = QStringLiteral(":/icons/resize.png");
QString const FULLSCREEN_ICON = QStringLiteral(":/icons/fullscreen.png");
QString const EXIT_FULLSCREEN_ICON = QStringLiteral(":/icons/exit_fullscreen.png");
QString const MUTED_ICON = QStringLiteral(":/icons/muted.png");
QString const UNMUTED_ICON = QStringLiteral(":/icons/unmuted.png");

QString const LOOPING_TEXT = QStringLiteral("Looping");
QString const SPEED_TEXT = QStringLiteral("Speed");
QString const RESIZE_TEXT = QStringLiteral("Resize Viewer");
QString const FULLSCREEN_TEXT = QStringLiteral("Full screen");
QString const EXIT_FULLSCREEN_TEXT = QStringLiteral("Exit full screen");
QString const VOLUME_TEXT = QStringLiteral("Volume");
QString const CUSTOM_SPEED_TITLE = QStringLiteral("<strong><i>Custom Speed</i></strong>");

constexpr int MINIMUM_WIDTH = 180;
constexpr int COMBO_WIDTH = 20;
constexpr int SOURCE_SPEED_ROW = 2;
constexpr int CUSTOM_SPEED_DATA = -1;
} // namespace

PlaybackOptionsWidget::PlaybackOptionsWidget(AvManager* avManager, KeyBindings* keyBindings, QWidget* parent)
    : QWidget(parent)
    , mAvManager(avManager)
    , mKeyBindings(keyBindings)
    , mLoopComboBox(new MonitorComboBox(LOOPING_TEXT, this))
    , mSpeedComboBox(new MonitorComboBox(SPEED_TEXT, this))
    , mResizeComboBox(new MonitorComboBox(RESIZE_TEXT, this))
    , mFullscreenImage(FULLSCREEN_ICON)
    , mExitFullscreenImage(EXIT_FULLSCREEN_ICON)
    , mMutedImage(MUTED_ICON)
    , mUnmutedImage(UNMUTED_ICON)
{
    setMinimumWidth(MINIMUM_WIDTH);

    mLoopComboBox->AddItem(MonitorComboBox::CreateIcon(LOOP_OFF_ICON, true, false), QStringLiteral("Play Once"),
                           static_cast<int>(LoopState::Off));
    mLoopComboBox->AddItem(MonitorComboBox::CreateIcon(LOOP_ON_ICON, true, false), QStringLiteral("Loop"),
                           static_cast<int>(LoopState::Loop));
    mLoopComboBox->AddItem(MonitorComboBox::CreateIcon(LOOP_PINGPONG_ICON, true, false), QStringLiteral("Ping-Pong"),
                           static_cast<int>(LoopState::PingPong));
    UpdateLoopState(mAvManager ? mAvManager->ActiveLoopState() : LoopState::Off);

    mSpeedComboBox->AddItem(QStringLiteral("0.25x"), 0.25f);
    mSpeedComboBox->AddItem(QStringLiteral("0.5x"), 0.5f);
    mSpeedComboBox->AddItem(QStringLiteral("Source"), 1.0f);
    mSpeedComboBox->AddItem(QStringLiteral("1.5x"), 1.5f);
    mSpeedComboBox->AddItem(QStringLiteral("2.0x"), 2.0f);
    mSpeedComboBox->AddItem(QStringLiteral("Custom..."), CUSTOM_SPEED_DATA);
    mSpeedComboBox->SetCurrentRow(SOURCE_SPEED_ROW);
    mSpeedComboBox->SetSelectedIconOverride(QImage(SPEED_ICON), SOURCE_SPEED_ROW);

    mResizeComboBox->AddItem(QStringLiteral("25%"), 0.25);
    mResizeComboBox->AddItem(QStringLiteral("50%"), 0.5);
    mResizeComboBox->AddItem(QStringLiteral("Source"), 1.0);
    mResizeComboBox->AddItem(QStringLiteral("150%"), 1.5);
    mResizeComboBox->AddItem(QStringLiteral("200%"), 2.0);
    mResizeComboBox->SetCurrentRow(0);
    mResizeComboBox->SetSelectedIconOverride(QImage(RESIZE_ICON), -1);
    mResizeComboBox->SetHighlightCurrentEnabled(false);

    for (MonitorComboBox* const combo : {mLoopComboBox, mSpeedComboBox, mResizeComboBox})
    {
        combo->SetSelectedTextVisible(false);
        combo->setFixedWidth(COMBO_WIDTH);
    }

    mFullscreenButton = FlatButton::CreateButton(mFullscreenImage, QSize(24, 24), 4, QString());
    mVolumeButton =
        FlatButton::CreateButton(Settings::muted ? mMutedImage : mUnmutedImage, QSize(24, 24), 3, VOLUME_TEXT);
    mResizeSeparator = UiHelpers::CreateVerticalLine();
    mVolumeSeparator = UiHelpers::CreateVerticalLine();

    bool const volumeInPopUp = Settings::hideVolumeControlCurrentSession;
    mVolumeWidget = new VolumeWidget(volumeInPopUp, mAvManager, mKeyBindings, this);

    auto* const layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 5, 0, 5);
    layout->setSpacing(4);
    layout->addStretch();
    layout->addWidget(mLoopComboBox);
    layout->addWidget(mSpeedComboBox);
    layout->addSpacing(2);
    layout->addWidget(mResizeSeparator);
    layout->addWidget(mResizeComboBox);
    layout->addWidget(mFullscreenButton);
    layout->addWidget(mVolumeSeparator);
    layout->addWidget(mVolumeButton);
    if (volumeInPopUp)
    {
        mVolumeWidget->hide();
    }
    else
    {
        layout->addWidget(mVolumeWidget);
        mVolumeButton->hide();
    }

    connect(mLoopComboBox, &MonitorComboBox::CurrentRowChanged, this, &PlaybackOptionsWidget::OnLoopStateChanged);
    connect(mSpeedComboBox, &MonitorComboBox::CurrentRowChanged, this,
            &PlaybackOptionsWidget::OnPlaybackSpeedChanged);
    connect(mResizeComboBox, &MonitorComboBox::CurrentRowChanged, this, &PlaybackOptionsWidget::OnViewerResize);
    if (mAvManager)
    {
        connect(mAvManager, &AvManager::LoopStateChanged, this, &PlaybackOptionsWidget::UpdateLoopState);
        connect(mAvManager, &AvManager::PlaybackSpeedChanged, this, &PlaybackOptionsWidget::UpdatePlaybackSpeed);
        UpdatePlaybackSpeed(mAvManager->PlaybackSpeed());
    }
    connect(mVolumeButton, &FlatButton::pressed, this, &PlaybackOptionsWidget::ShowVolumeControl);
    connect(mVolumeWidget, &VolumeWidget::MutedStateChanged, this, &PlaybackOptionsWidget::OnMutedStateChanged);

    UpdateToolTips();
}

MonitorComboBox* PlaybackOptionsWidget::LoopComboBox() const { return mLoopComboBox; }
MonitorComboBox* PlaybackOptionsWidget::SpeedComboBox() const { return mSpeedComboBox; }
MonitorComboBox* PlaybackOptionsWidget::ResizeComboBox() const { return mResizeComboBox; }
FlatButton* PlaybackOptionsWidget::FullscreenButton() const { return mFullscreenButton; }
FlatButton* PlaybackOptionsWidget::VolumeButton() const { return mVolumeButton; }
VolumeWidget* PlaybackOptionsWidget::Volume() const { return mVolumeWidget; }
PlaybackSpeedWidget* PlaybackOptionsWidget::SpeedWidget() const { return mSpeedWidget; }
PopUpWidget* PlaybackOptionsWidget::SpeedPopUp() const { return mSpeedPopUp; }
PopUpWidget* PlaybackOptionsWidget::VolumePopUp() const { return mVolumePopUp; }
bool PlaybackOptionsWidget::IsFullscreen() const { return mFullscreen; }

void PlaybackOptionsWidget::SetLoopState(LoopState state)
{
    if (mAvManager)
    {
        mAvManager->SetLoopState(state);
    }
}

void PlaybackOptionsWidget::ToggleLoopState()
{
    if (mAvManager)
    {
        mAvManager->ToggleLoopState();
    }
}

void PlaybackOptionsWidget::TogglePingPong()
{
    if (!mAvManager)
    {
        return;
    }
    bool const pingPong = mAvManager->ActiveLoopState() == LoopState::PingPong;
    mAvManager->SetLoopState(pingPong ? mLoopStateBeforePingPong : LoopState::PingPong);
}

void PlaybackOptionsWidget::ApplySpeed(float speed)
{
    if (speed != 1.0f)
    {
        mLastSpeed = speed;
    }
    if (mAvManager)
    {
        mAvManager->SetPlaybackSpeed(speed);
    }
}

void PlaybackOptionsWidget::SetPlaybackSpeed(float speed)
{
    if (speed > 0.0f)
    {
        ApplySpeed(speed);
        return;
    }
    float const current = mAvManager ? mAvManager->PlaybackSpeed() : 1.0f;
    if (current != 1.0f)
    {
        ApplySpeed(1.0f);
    }
    else
    {
        ApplySpeed(static_cast<float>(mLastSpeed));
    }
}

void PlaybackOptionsWidget::IncreasePlaybackSpeed()
{
    float const current = mAvManager ? mAvManager->PlaybackSpeed() : 1.0f;
    SetPlaybackSpeed(current + Settings::playbackSpeedIncrementSize);
}

void PlaybackOptionsWidget::DecreasePlaybackSpeed()
{
    float const current = mAvManager ? mAvManager->PlaybackSpeed() : 1.0f;
    SetPlaybackSpeed(current - Settings::playbackSpeedIncrementSize);
}

void PlaybackOptionsWidget::SetFullscreenState(bool fullscreen)
{
    mFullscreen = fullscreen;
    UpdateFullscreenBtnImage();
}

void PlaybackOptionsWidget::UpdateFullscreenBtnImage()
{
    mFullscreenButton->SetImage(mFullscreen ? mExitFullscreenImage : mFullscreenImage, 4);
    UpdateToolTips();
}

void PlaybackOptionsWidget::OnLoopStateChanged(int row)
{
    QVariant const data = mLoopComboBox->Data(row);
    if (data.isValid())
    {
        SetLoopState(static_cast<LoopState>(data.toInt()));
    }
}

void PlaybackOptionsWidget::OnPlaybackSpeedChanged(int row)
{
    QVariant const data = mSpeedComboBox->Data(row);
    if (!data.isValid())
    {
        return;
    }
    if (data.toFloat() > 0.0f)
    {
        SetPlaybackSpeed(data.toFloat());
        return;
    }
    if (!mSpeedPopUp)
    {
        mSpeedPopUp = new PopUpWidget(this);
        auto* const title = new QLabel(CUSTOM_SPEED_TITLE);
        title->setAlignment(Qt::AlignCenter);
        mSpeedWidget = new PlaybackSpeedWidget();
        mSpeedPopUp->AddWidget(title);
        mSpeedPopUp->AddWidget(mSpeedWidget);
        mSpeedPopUp->UpdateLayout();
        connect(mSpeedPopUp, &PopUpWidget::Finished, this, &PlaybackOptionsWidget::UpdatePlaybackSpeedFromCustom);
        connect(mSpeedWidget, &PlaybackSpeedWidget::ValueChanged, this,
                [this](double multiplier) { SetPlaybackSpeed(static_cast<float>(multiplier)); });
    }
    Timeline const* const timeline = mAvManager ? mAvManager->PrimaryTimeline() : nullptr;
    if (!timeline || !mSpeedPopUp->ReadyToReopen())
    {
        return;
    }
    mSpeedWidget->SetMultiplier(mAvManager->PlaybackSpeed());
    mSpeedWidget->SetTimelineFps(timeline->FrameRateAtFrame(0, 0));
    QSize const size = mSpeedPopUp->sizeHint().expandedTo(mSpeedPopUp->size());
    QPoint const comboPos = mSpeedComboBox->pos();
    QPoint const topLeft(comboPos.x() - size.width() / 2, comboPos.y() - 9 - size.height());
    mSpeedPopUp->move(mapToGlobal(topLeft));
    mSpeedPopUp->show();
}

void PlaybackOptionsWidget::UpdatePlaybackSpeedFromCustom()
{
    if (!mSpeedWidget)
    {
        return;
    }
    double const multiplier = mSpeedWidget->Multiplier();
    for (int row = 0; row < mSpeedComboBox->Count(); ++row)
    {
        if (mSpeedComboBox->Data(row).toFloat() == static_cast<float>(multiplier))
        {
            mSpeedComboBox->SetCurrentRow(row);
            return;
        }
    }
    if (multiplier > 0.0)
    {
        SetPlaybackSpeed(static_cast<float>(multiplier));
    }
}

void PlaybackOptionsWidget::OnViewerResize(int row)
{
    QVariant const data = mResizeComboBox->Data(row);
    if (data.isValid())
    {
        emit ResizeViewerRequested(data.toFloat());
    }
    mResizeComboBox->update();
}

void PlaybackOptionsWidget::UpdateLoopState(LoopState state)
{
    // However ping-pong is turned on, its toggle goes back to the state before it.
    if (state != LoopState::PingPong)
    {
        mLoopStateBeforePingPong = state;
    }
    for (int row = 0; row < mLoopComboBox->Count(); ++row)
    {
        if (mLoopComboBox->Data(row).toInt() == static_cast<int>(state))
        {
            mLoopComboBox->SetCurrentRow(row);
            return;
        }
    }
}

void PlaybackOptionsWidget::UpdatePlaybackSpeed(float speed)
{
    int const count = mSpeedComboBox->Count();
    for (int row = 0; row < count; ++row)
    {
        if (mSpeedComboBox->Data(row).toFloat() == speed)
        {
            mSpeedComboBox->SetCurrentRow(row);
            return;
        }
    }
    mSpeedComboBox->SetCurrentRow(count - 1);
}

void PlaybackOptionsWidget::ShowVolumeControl()
{
    if (!mVolumePopUp)
    {
        mVolumePopUp = new PopUpWidget(this);
        mVolumePopUp->setFixedSize(mVolumeWidget->size());
        mVolumePopUp->AddWidget(mVolumeWidget);
        mVolumeWidget->move(0, 0);
        mVolumeWidget->show();
    }
    if (!mVolumePopUp->ReadyToReopen())
    {
        return;
    }
    QPoint const corner = mapToGlobal(QPoint(width() - 1, 0));
    mVolumePopUp->move(corner.x() - mVolumePopUp->width() + 7, corner.y() - mVolumePopUp->height() - 9);
    mVolumePopUp->show();
}

void PlaybackOptionsWidget::OnMutedStateChanged(bool muted)
{
    mVolumeButton->SetImage(muted ? mMutedImage : mUnmutedImage, 4);
}

void PlaybackOptionsWidget::UpdateToolTips()
{
    auto tip = [this](KeySequenceType type, QString const& text) {
        return mKeyBindings ? mKeyBindings->CreateToolTip(type, text) : text;
    };
    mLoopComboBox->setToolTip(tip(KeySequenceType::ToggleLoop, LOOPING_TEXT));
    mFullscreenButton->setToolTip(
        tip(KeySequenceType::ToggleFullscreen, mFullscreen ? EXIT_FULLSCREEN_TEXT : FULLSCREEN_TEXT));
}

void PlaybackOptionsWidget::resizeEvent(QResizeEvent* event)
{
    if (Settings::hideVolumeControlCurrentSession)
    {
        return;
    }
    int const w = event->size().width();
    mFullscreenButton->setVisible(w >= MINIMUM_WIDTH + mResizeComboBox->width() + 40);
    bool const resizeVisible = w >= MINIMUM_WIDTH + 40;
    mResizeComboBox->setVisible(resizeVisible);
    mResizeSeparator->setVisible(resizeVisible);
}
