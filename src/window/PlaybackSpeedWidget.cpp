#include "window/PlaybackSpeedWidget.h"

#include "app/Settings.h"

#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{
constexpr double DEFAULT_TIMELINE_FPS = 24.0;
}

PlaybackSpeedWidget::PlaybackSpeedWidget(QWidget* parent)
    : QWidget(parent)
    , mSpinBox(new QDoubleSpinBox(this))
    , mTypeButton(new QPushButton(this))
    , mCaptionLabel(new QLabel(this))
    , mValueLabel(new QLabel(this))
{
    setMinimumWidth(200);
    mSpinBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    mSpinBox->setAlignment(Qt::AlignRight);
    mTypeButton->setFlat(true);
    mTypeButton->setFocusPolicy(Qt::NoFocus);
    mTypeButton->setStyleSheet(
        QStringLiteral("QPushButton:hover{color: palette(highlight);} QPushButton:pressed{border: none;}"));

    auto* const layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 6, 20, 20);
    auto* const inputRow = new QHBoxLayout();
    inputRow->addWidget(mTypeButton);
    inputRow->addWidget(mSpinBox);
    auto* const resultRow = new QHBoxLayout();
    resultRow->addWidget(mCaptionLabel);
    resultRow->addWidget(mValueLabel);
    layout->addLayout(inputRow);
    layout->setAlignment(inputRow, Qt::AlignHCenter);
    layout->addLayout(resultRow);
    layout->setAlignment(resultRow, Qt::AlignHCenter);

    connect(mSpinBox, &QDoubleSpinBox::valueChanged, this, &PlaybackSpeedWidget::UpdateFromSpinBox);
    connect(mTypeButton, &QPushButton::clicked, this, &PlaybackSpeedWidget::ToggleType);
    UpdateText();
}

void PlaybackSpeedWidget::SetMultiplier(double multiplier)
{
    mMultiplier = multiplier;
}

double PlaybackSpeedWidget::Multiplier() const
{
    return mMultiplier;
}

void PlaybackSpeedWidget::SetTimelineFps(double fps)
{
    mTimelineFps = fps > 0.0 ? fps : DEFAULT_TIMELINE_FPS;
}

double PlaybackSpeedWidget::TimelineFps() const
{
    return mTimelineFps;
}

bool PlaybackSpeedWidget::IsFrameRateMode() const
{
    return mFrameRateMode;
}

QDoubleSpinBox* PlaybackSpeedWidget::SpinBox() const
{
    return mSpinBox;
}

QPushButton* PlaybackSpeedWidget::TypeButton() const
{
    return mTypeButton;
}

QLabel* PlaybackSpeedWidget::ValueLabel() const
{
    return mValueLabel;
}

void PlaybackSpeedWidget::UpdateFromSpinBox()
{
    mMultiplier = mFrameRateMode ? mSpinBox->value() / mTimelineFps : mSpinBox->value();
    UpdateValues();
    emit ValueChanged(mMultiplier);
}

void PlaybackSpeedWidget::ToggleType()
{
    QSignalBlocker const blocker(mSpinBox);
    mFrameRateMode = !mFrameRateMode;
    UpdateSpinBox();
    UpdateValues();
    UpdateText();
}

void PlaybackSpeedWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    UpdateSpinBox();
    UpdateValues();
    UpdateText();
}

void PlaybackSpeedWidget::UpdateSpinBox()
{
    double const minimum = Settings::playbackSpeedMinimum;
    double const maximum = Settings::playbackSpeedMaximum;
    // Only what the user types is sent on: a range that clamps the old value,
    // or a multiplier rounded to the box's decimals, is no new speed.
    QSignalBlocker const blocker(mSpinBox);
    if (mFrameRateMode)
    {
        mSpinBox->setRange(minimum * mTimelineFps, maximum * mTimelineFps);
        mSpinBox->setSingleStep(1.0);
        mSpinBox->setValue(mTimelineFps * mMultiplier);
    }
    else
    {
        mSpinBox->setRange(minimum, maximum);
        mSpinBox->setSingleStep(0.1);
        mSpinBox->setValue(mMultiplier);
    }
    mSpinBox->setFocus();
    mSpinBox->selectAll();
}

void PlaybackSpeedWidget::UpdateValues()
{
    mResultingFps = mTimelineFps * mMultiplier;
    mValueLabel->setText(mFrameRateMode ? QStringLiteral("%1x").arg(mMultiplier, 0, 'f', 2)
                                        : QString::number(mResultingFps, 'f', 2));
}

void PlaybackSpeedWidget::UpdateText()
{
    mTypeButton->setText(mFrameRateMode ? QStringLiteral("FPS") : QStringLiteral("Multiplier"));
    mCaptionLabel->setText(mFrameRateMode ? QStringLiteral("Resulting multiplier:")
                                          : QStringLiteral("Resulting fps:"));
}
