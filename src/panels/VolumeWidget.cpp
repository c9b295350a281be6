#include "panels/VolumeWidget.h"

#include "app/KeyBindings.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "panels/FlatButton.h"
#include "panels/VolumeSlider.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace
{
constexpr int MAXIMUM_VOLUME = 150;
constexpr int DEFAULT_VOLUME_STEP = 5;
constexpr int WHEEL_VOLUME_STEP = 10;
} // namespace

VolumeWidget::VolumeWidget(bool large, AvManager* avManager, KeyBindings* keyBindings, QWidget* parent)
    : QWidget(parent)
    , mAvManager(avManager)
    , mKeyBindings(keyBindings)
    , mMutedImage(QStringLiteral(":/icons/muted.png"))
    , mUnmutedImage(QStringLiteral(":/icons/unmuted.png"))
{
    setFixedSize(large ? QSize(160, 44) : QSize(110, 22));

    mSlider = new VolumeSlider(large, this);
    mSlider->SetMaximum(MAXIMUM_VOLUME);
    mSlider->SetVolume(Settings::volume);

    mMuteButton = FlatButton::CreateButton(mUnmutedImage, QSize(14, 14), 0, QString());
    mMuteButton->setParent(this);
    mMuteButton->SetMouseOverEnabled(false);

    auto* const buttonBox = new QVBoxLayout();
    buttonBox->setContentsMargins(0, 0, 0, 0);
    buttonBox->setSpacing(0);
    buttonBox->addSpacing(mSlider->height() - mMuteButton->height());
    buttonBox->addWidget(mMuteButton);

    auto* const layout = new QHBoxLayout(this);
    if (large)
    {
        layout->setContentsMargins(6, 6, 6, 6);
    }
    else
    {
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }
    layout->addLayout(buttonBox);
    layout->addWidget(mSlider);

    connect(mSlider, &VolumeSlider::VolumeChanged, this, &VolumeWidget::SetVolume);
    connect(mMuteButton, &FlatButton::clicked, this, &VolumeWidget::ToggleMute);

    ShowMutedState(Settings::muted);
    UpdateEngineVolume();
    emit MutedStateChanged(Settings::muted);
}

VolumeSlider* VolumeWidget::Slider() const
{
    return mSlider;
}

FlatButton* VolumeWidget::MuteButton() const
{
    return mMuteButton;
}

void VolumeWidget::ShowMutedState(bool muted)
{
    mMuteButton->SetImage(muted ? mMutedImage : mUnmutedImage, 0);
    mSlider->SetMuted(muted);
    UpdateToolTip();
}

void VolumeWidget::UpdateEngineVolume()
{
    if (mAvManager)
    {
        mAvManager->UpdateVolume();
    }
}

void VolumeWidget::UpdateToolTip()
{
    QString const text = Settings::muted ? QStringLiteral("Unmute") : QStringLiteral("Mute");
    mMuteButton->setToolTip(mKeyBindings ? mKeyBindings->CreateToolTip(KeySequenceType::ToggleMute, text) : text);
}

void VolumeWidget::SetVolume(int volume)
{
    // Any volume change unmutes; the engine hears of the unmute even when the
    // volume itself stays, or the strip would say unmuted with the sound off.
    bool const wasMuted = Settings::muted;
    Settings::muted = false;
    ShowMutedState(false);
    emit MutedStateChanged(false);

    int const clamped = std::clamp(volume, 0, MAXIMUM_VOLUME);
    if (clamped == Settings::volume)
    {
        if (wasMuted)
        {
            UpdateEngineVolume();
        }
        return;
    }
    Settings::volume = clamped;
    if (mSlider->Volume() != clamped)
    {
        mSlider->SetVolume(clamped);
    }
    UpdateEngineVolume();
}

void VolumeWidget::IncreaseVolume(int step)
{
    int const s = step >= 1 ? step : DEFAULT_VOLUME_STEP;
    int const volume = Settings::volume;
    SetVolume(volume + s - (volume % s));
}

void VolumeWidget::DecreaseVolume(int step)
{
    int const s = step >= 1 ? step : DEFAULT_VOLUME_STEP;
    int const volume = Settings::volume;
    int const remainder = volume % s;
    SetVolume(remainder > 0 ? volume - remainder : volume - s);
}

void VolumeWidget::SetMuted(bool muted, bool apply)
{
    bool const changed = muted != Settings::muted;
    Settings::muted = muted;
    ShowMutedState(muted);
    // A change of the muted state always reaches the engine.
    if (apply || changed)
    {
        UpdateEngineVolume();
    }
    emit MutedStateChanged(muted);
}

void VolumeWidget::ToggleMute()
{
    Settings::muted = !Settings::muted;
    ShowMutedState(Settings::muted);
    UpdateEngineVolume();
    emit MutedStateChanged(Settings::muted);
}

void VolumeWidget::wheelEvent(QWheelEvent* event)
{
    int const delta = event->angleDelta().y();
    int const volume = Settings::volume;
    if (delta > 0)
    {
        SetVolume(volume / WHEEL_VOLUME_STEP * WHEEL_VOLUME_STEP + WHEEL_VOLUME_STEP);
    }
    else if (delta < 0)
    {
        int const remainder = volume % WHEEL_VOLUME_STEP;
        SetVolume(remainder > 0 ? volume - remainder : volume - WHEEL_VOLUME_STEP);
    }
    event->accept();
}
