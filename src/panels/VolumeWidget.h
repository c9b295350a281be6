#pragma once

#include <QImage>
#include <QWidget>

class AvManager;
class FlatButton;
class KeyBindings;
class VolumeSlider;

// Mute button and volume gauge over the global volume and muted settings;
// every change is handed to the audio engine.
class VolumeWidget : public QWidget
{
    Q_OBJECT

public:
    VolumeWidget(bool large, AvManager* avManager, KeyBindings* keyBindings, QWidget* parent = nullptr);

    VolumeSlider* Slider() const;
    FlatButton* MuteButton() const;

Q_SIGNALS:
    void MutedStateChanged(bool muted);

public Q_SLOTS:
    void SetVolume(int volume);
    void IncreaseVolume(int step);
    void DecreaseVolume(int step);
    void SetMuted(bool muted, bool apply);
    void ToggleMute();
    void UpdateToolTip();

protected:
    void wheelEvent(QWheelEvent* event) override;

private:
    void ShowMutedState(bool muted);
    void UpdateEngineVolume();

    AvManager* mAvManager;
    KeyBindings* mKeyBindings;
    VolumeSlider* mSlider;
    FlatButton* mMuteButton;
    QImage mMutedImage;
    QImage mUnmutedImage;
};
