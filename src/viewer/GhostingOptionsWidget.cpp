#include "viewer/GhostingOptionsWidget.h"

#include "app/Settings.h"
#include "panels/FlatButton.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace
{
QSpinBox* CountSpinBox(QWidget* parent)
{
    auto* const spinBox = new QSpinBox(parent);
    spinBox->setRange(0, 10);
    spinBox->setFixedWidth(50);
    spinBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    return spinBox;
}

FlatButton* TintButton(QWidget* parent)
{
    auto* const button = new FlatButton(parent);
    button->setFixedSize(50, 20);
    return button;
}
} // namespace

GhostingOptionsWidget::GhostingOptionsWidget(QWidget* parent)
    : QWidget(parent)
    , prevSpinBox(CountSpinBox(this))
    , nextSpinBox(CountSpinBox(this))
    , prevTintButton(TintButton(this))
    , nextTintButton(TintButton(this))
    , byFrameButton(new QRadioButton(tr("By Frame"), this))
    , byAnnotationButton(new QRadioButton(tr("By Annotation"), this))
{
    auto* const grid = new QGridLayout();
    grid->setHorizontalSpacing(16);
    grid->addWidget(new QLabel(QStringLiteral("<strong>Previous</strong>"), this), 0, 0);
    grid->addWidget(prevSpinBox, 1, 0);
    grid->addWidget(prevTintButton, 2, 0);
    grid->addWidget(new QLabel(QStringLiteral("<strong>Next</strong>"), this), 0, 1);
    grid->addWidget(nextSpinBox, 1, 1);
    grid->addWidget(nextTintButton, 2, 1);
    auto* const layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 2, 10, 10);
    layout->addLayout(grid);
    layout->addSpacing(12);
    layout->addWidget(byFrameButton);
    layout->addWidget(byAnnotationButton);

    connect(prevSpinBox, &QSpinBox::valueChanged, this, &GhostingOptionsWidget::UpdateGhostingProperties);
    connect(nextSpinBox, &QSpinBox::valueChanged, this, &GhostingOptionsWidget::UpdateGhostingProperties);
    connect(byFrameButton, &QRadioButton::clicked, this, &GhostingOptionsWidget::UpdateGhostingProperties);
    connect(byAnnotationButton, &QRadioButton::clicked, this, &GhostingOptionsWidget::UpdateGhostingProperties);
    connect(prevTintButton, &FlatButton::clicked, this, &GhostingOptionsWidget::ShowColorSelectDialog);
    connect(nextTintButton, &FlatButton::clicked, this, &GhostingOptionsWidget::ShowColorSelectDialog);
}

QSpinBox* GhostingOptionsWidget::PrevSpinBox() const
{
    return prevSpinBox;
}

QSpinBox* GhostingOptionsWidget::NextSpinBox() const
{
    return nextSpinBox;
}

FlatButton* GhostingOptionsWidget::PrevTintButton() const
{
    return prevTintButton;
}

FlatButton* GhostingOptionsWidget::NextTintButton() const
{
    return nextTintButton;
}

QRadioButton* GhostingOptionsWidget::ByFrameButton() const
{
    return byFrameButton;
}

QRadioButton* GhostingOptionsWidget::ByAnnotationButton() const
{
    return byAnnotationButton;
}

void GhostingOptionsWidget::StoreSettings()
{
    Settings::numGhostedFramesPrev = prevSpinBox->value();
    Settings::numGhostedFramesNext = nextSpinBox->value();
    Settings::ghostedFramesPrevTintColor = prevTintButton->GetColor();
    Settings::ghostedFramesNextTintColor = nextTintButton->GetColor();
    Settings::byAnnotationGhosting = byAnnotationButton->isChecked();
}

void GhostingOptionsWidget::UpdateGhostingProperties()
{
    StoreSettings();
    Q_EMIT GhostingPropertiesChanged();
}

void GhostingOptionsWidget::ShowColorSelectDialog()
{
    auto* const button = qobject_cast<FlatButton*>(sender());
    if (!button)
    {
        return;
    }
    QColor const color =
        QColorDialog::getColor(button->GetColor(), this, tr("Select Tint"), QColorDialog::DontUseNativeDialog);
    if (!color.isValid())
    {
        return;
    }
    button->SetColor(color);
    StoreSettings();
    Q_EMIT GhostingPropertiesChanged();
}

void GhostingOptionsWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    {
        QSignalBlocker const blockPrev(prevSpinBox);
        QSignalBlocker const blockNext(nextSpinBox);
        prevSpinBox->setValue(Settings::numGhostedFramesPrev);
        nextSpinBox->setValue(Settings::numGhostedFramesNext);
    }
    prevTintButton->SetColor(Settings::ghostedFramesPrevTintColor);
    nextTintButton->SetColor(Settings::ghostedFramesNextTintColor);
    byAnnotationButton->setChecked(Settings::byAnnotationGhosting);
    byFrameButton->setChecked(!Settings::byAnnotationGhosting);
    setFocus();
}
