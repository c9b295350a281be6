#pragma once

#include <QWidget>

class QDoubleSpinBox;
class QLabel;
class QPushButton;

// The content of the custom-speed pop-up: a speed entered as a multiplier or
// as frames per second of the timeline.
class PlaybackSpeedWidget : public QWidget
{
    Q_OBJECT

public:
    explicit PlaybackSpeedWidget(QWidget* parent = nullptr);

    void SetMultiplier(double multiplier);
    double Multiplier() const;
    // A rate of 0 or less is taken as 24.
    void SetTimelineFps(double fps);
    double TimelineFps() const;
    bool IsFrameRateMode() const;

    QDoubleSpinBox* SpinBox() const;
    QPushButton* TypeButton() const;
    QLabel* ValueLabel() const;

Q_SIGNALS:
    void ValueChanged(double multiplier);

public Q_SLOTS:
    void UpdateFromSpinBox();
    void ToggleType();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void UpdateSpinBox();
    void UpdateValues();
    void UpdateText();

    QDoubleSpinBox* mSpinBox;
    QPushButton* mTypeButton;
    QLabel* mCaptionLabel;
    QLabel* mValueLabel;
    double mMultiplier = 1.0;
    double mTimelineFps = 24.0;
    double mResultingFps = 24.0;
    bool mFrameRateMode = false;
};
