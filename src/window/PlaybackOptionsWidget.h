#pragma once

#include "media/LoopState.h"

#include <QImage>
#include <QWidget>

class AvManager;
class FlatButton;
class KeyBindings;
class MonitorComboBox;
class PlaybackSpeedWidget;
class PopUpWidget;
class QFrame;
class VolumeWidget;

// The options strip under the viewer: loop state, playback speed (with a
// custom-speed pop-up), viewer resize, full screen and volume. Loop and speed
// mirror the engine; choosing a row acts on it.
class PlaybackOptionsWidget : public QWidget
{
    Q_OBJECT

public:
    PlaybackOptionsWidget(AvManager* avManager, KeyBindings* keyBindings, QWidget* parent = nullptr);

    MonitorComboBox* LoopComboBox() const;
    MonitorComboBox* SpeedComboBox() const;
    MonitorComboBox* ResizeComboBox() const;
    FlatButton* FullscreenButton() const;
    FlatButton* VolumeButton() const;
    VolumeWidget* Volume() const;
    // Null until "Custom..." was first chosen.
    PlaybackSpeedWidget* SpeedWidget() const;
    PopUpWidget* SpeedPopUp() const;
    PopUpWidget* VolumePopUp() const;
    bool IsFullscreen() const;

public Q_SLOTS:
    void SetLoopState(LoopState state);
    void ToggleLoopState();
    // Ping-pong on; from ping-pong back to the loop state it was turned on from.
    void TogglePingPong();
    // A speed of 0 or less toggles between 1.0 and the last other speed.
    void SetPlaybackSpeed(float speed);
    void IncreasePlaybackSpeed();
    void DecreasePlaybackSpeed();
    void SetFullscreenState(bool fullscreen);
    void UpdateFullscreenBtnImage();
    void OnLoopStateChanged(int row);
    void OnPlaybackSpeedChanged(int row);
    void UpdatePlaybackSpeedFromCustom();
    void OnViewerResize(int row);
    void UpdateLoopState(LoopState state);
    void UpdatePlaybackSpeed(float speed);
    void ShowVolumeControl();
    void OnMutedStateChanged(bool muted);
    void UpdateToolTips();

Q_SIGNALS:
    void ResizeViewerRequested(float factor);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ApplySpeed(float speed);

    AvManager* mAvManager;
    KeyBindings* mKeyBindings;
    MonitorComboBox* mLoopComboBox;
    MonitorComboBox* mSpeedComboBox;
    MonitorComboBox* mResizeComboBox;
    PlaybackSpeedWidget* mSpeedWidget = nullptr;
    PopUpWidget* mSpeedPopUp = nullptr;
    FlatButton* mFullscreenButton;
    FlatButton* mVolumeButton;
    PopUpWidget* mVolumePopUp = nullptr;
    VolumeWidget* mVolumeWidget;
    QFrame* mResizeSeparator;
    QFrame* mVolumeSeparator;
    QImage mFullscreenImage;
    QImage mExitFullscreenImage;
    QImage mMutedImage;
    QImage mUnmutedImage;
    double mLastSpeed = 1.0; // the last speed other than 1.0
    LoopState mLoopStateBeforePingPong = LoopState::Loop;
    bool mFullscreen = false;
};
