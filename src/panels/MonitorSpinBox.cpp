#include "panels/MonitorSpinBox.h"

#include "panels/FlatButton.h"
#include "panels/PopUpWidget.h"
#include "panels/SmoothSlider.h"

#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>

#include <cmath>

namespace
{
// Rounded, so that 0.29 gives 29 and not 28.999...
int Hundredths(double value)
{
    return static_cast<int>(std::lround(value * 100.0));
}
} // namespace

MonitorSpinBox::MonitorSpinBox(QString const& text, QWidget* parent)
    : QWidget(parent)
    , mContainer(new QWidget(this))
    , mLabel(new QLabel(this))
    , mSpinBox(new QDoubleSpinBox(mContainer))
    , mDropDownButton(FlatButton::CreateButton(QImage(QStringLiteral(":/icons/dropdown.png")), QSize(14, 20), 2,
                                               QString()))
{
    SetText(text);
    mSpinBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    mDropDownButton->setParent(mContainer);

    QPalette palette = mContainer->palette();
    palette.setBrush(QPalette::Window, mSpinBox->palette().brush(QPalette::Base));
    mContainer->setPalette(palette);
    mContainer->setAutoFillBackground(true);

    auto* const containerLayout = new QHBoxLayout(mContainer);
    containerLayout->setContentsMargins(0, 0, 0, 0);
    containerLayout->setSpacing(0);
    containerLayout->addWidget(mSpinBox);
    containerLayout->addWidget(mDropDownButton);

    auto* const layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(mLabel);
    layout->addSpacing(4);
    layout->addWidget(mContainer);

    connect(mSpinBox, &QDoubleSpinBox::valueChanged, this, &MonitorSpinBox::UpdateValueFromSpinBox);
    connect(mDropDownButton, &FlatButton::clicked, this, &MonitorSpinBox::ShowSlider);
}

void MonitorSpinBox::SetText(QString const& text)
{
    mLabel->setText(QStringLiteral("%1:").arg(text));
}

void MonitorSpinBox::SetValue(double value)
{
    mSpinBox->setValue(value);
}

void MonitorSpinBox::SetMinimum(double minimum)
{
    mSpinBox->setMinimum(minimum);
}

void MonitorSpinBox::SetMaximum(double maximum)
{
    mSpinBox->setMaximum(maximum);
}

void MonitorSpinBox::SetSingleStep(double step)
{
    mSpinBox->setSingleStep(step);
}

void MonitorSpinBox::SetDecimals(int decimals)
{
    mSpinBox->setDecimals(decimals);
}

void MonitorSpinBox::SetSuffix(QString const& suffix)
{
    mSpinBox->setSuffix(suffix);
}

double MonitorSpinBox::Value() const
{
    return mSpinBox->value();
}

SmoothSlider* MonitorSpinBox::Slider() const
{
    return mSlider;
}

PopUpWidget* MonitorSpinBox::PopUp() const
{
    return mPopUp;
}

FlatButton* MonitorSpinBox::DropDownButton() const
{
    return mDropDownButton;
}

void MonitorSpinBox::UpdateValueFromSpinBox()
{
    emit valueChanged(mSpinBox->value());
}

void MonitorSpinBox::UpdateValueFromSlider()
{
    if (mSlider)
    {
        mSpinBox->setValue(static_cast<double>(mSlider->value()) * 0.01);
    }
}

void MonitorSpinBox::ShowSlider()
{
    if (!mPopUp)
    {
        mPopUp = new PopUpWidget(this);
        mSlider = new SmoothSlider(Qt::Horizontal);
        mSlider->setFixedSize(100, 24);
        connect(mSlider, &QSlider::valueChanged, this, &MonitorSpinBox::UpdateValueFromSlider);
        mPopUp->AddWidget(mSlider);
        mPopUp->UpdateLayout();
        mPopUp->setContentsMargins(4, 0, 4, 0);
    }
    else if (!mPopUp->ReadyToReopen())
    {
        return;
    }
    {
        QSignalBlocker const blocker(mSlider);
        mSlider->setMinimum(Hundredths(mSpinBox->minimum()));
        mSlider->setMaximum(Hundredths(mSpinBox->maximum()));
        mSlider->setSingleStep(Hundredths(mSpinBox->singleStep()));
        mSlider->setValue(Hundredths(mSpinBox->value()));
    }
    QPoint const global = mapToGlobal(mContainer->mapTo(this, mDropDownButton->pos()));
    double const maximum = mSpinBox->maximum();
    double const fraction = maximum != 0.0 ? 1.0 - mSpinBox->value() / maximum : 1.0;
    int const left = static_cast<int>(global.x() + width() * fraction - mPopUp->width() / 2.0);
    int const top = global.y() + height() + 2;
    mPopUp->move(left, top);
    mPopUp->show();
    setFocus(Qt::PopupFocusReason);
}
