#include "viewer/AnnotationOptionsWidget.h"

#include "app/KeyBindings.h"
#include "app/Settings.h"
#include "panels/FlatButton.h"
#include "panels/MonitorSpinBox.h"
#include "panels/UiHelpers.h"

#include <QColorDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QSignalBlocker>

#include <algorithm>

namespace
{
// Each tool's own size and opacity, in tool order.
struct ToolSettings
{
    float* size;
    float* opacity;
};

ToolSettings SettingsOf(int tool)
{
    switch (tool)
    {
    case 1:
        return {&Settings::laserPointerSize, &Settings::laserPointerOpacity};
    case 2:
        return {&Settings::eraserSize, &Settings::eraserOpacity};
    case 3:
        return {&Settings::textSize, &Settings::textOpacity};
    case 4:
        return {&Settings::arrowSize, &Settings::arrowOpacity};
    case 5:
        return {&Settings::ellipseSize, &Settings::ellipseOpacity};
    case 6:
        return {&Settings::rectangleSize, &Settings::rectangleOpacity};
    default:
        return {&Settings::pencilSize, &Settings::pencilOpacity};
    }
}

constexpr int CUSTOM_COLOR_COUNT = 8;

int CustomColorRange()
{
    return std::min<int>(static_cast<int>(Settings::annotationColorPresets.size()),
                         QColorDialog::customCount());
}
} // namespace

AnnotationOptionsWidget::AnnotationOptionsWidget(KeyBindings* keyBindings, QWidget* parent)
    : QWidget(parent)
    , keyBindings(keyBindings)
{
    LoadCustomColors();

    sizeSpinBox = new MonitorSpinBox(tr("Size"), this);
    sizeSpinBox->SetMinimum(0.1);
    sizeSpinBox->SetMaximum(10.0);
    sizeSpinBox->SetSingleStep(0.1);
    opacitySpinBox = new MonitorSpinBox(tr("Opacity"), this);
    opacitySpinBox->SetMinimum(1.0);
    opacitySpinBox->SetMaximum(100.0);
    opacitySpinBox->SetSingleStep(1.0);
    opacitySpinBox->SetDecimals(0);
    opacitySpinBox->SetSuffix(QStringLiteral("%"));

    colorButton = new FlatButton(this);
    colorButton->setFixedSize(24, 24);
    colorButton->setToolTip(tr("Color Select"));
    colorButton->SetColor(Settings::annotationToolColor);
    auto* const customGrid = new QGridLayout();
    customGrid->setContentsMargins(0, 0, 0, 0);
    customGrid->setSpacing(2);
    for (int i = 0; i < CUSTOM_COLOR_COUNT; ++i)
    {
        auto* const button = new FlatButton(this);
        button->setFixedSize(10, 10);
        customColorButtons.append(button);
        customGrid->addWidget(button, i % 2, i / 2);
        connect(button, &FlatButton::clicked, this, &AnnotationOptionsWidget::SetColorFromBtn);
    }
    eyeDropperButton =
        FlatButton::CreateButton(QImage(QStringLiteral(":/icons/eyedropper.png")), QSize(24, 24), 4, QString());
    eyeDropperButton->setParent(this);
    QImage const undoImage(QStringLiteral(":/icons/undo.png"));
    undoButton = FlatButton::CreateButton(undoImage, QSize(24, 24), 4, QString());
    undoButton->setParent(this);
    redoButton = FlatButton::CreateButton(undoImage.mirrored(true, false), QSize(24, 24), 4, QString());
    redoButton->setParent(this);
    clearButton =
        FlatButton::CreateButton(QImage(QStringLiteral(":/icons/clear.png")), QSize(24, 24), 4, tr("Clear Active Layer"));
    clearButton->setParent(this);

    auto* const layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 2, 0, 2);
    layout->setSpacing(0);
    layout->addSpacing(30);
    layout->addWidget(sizeSpinBox);
    layout->addSpacing(10);
    layout->addWidget(opacitySpinBox);
    layout->addSpacing(4);
    layout->addWidget(UiHelpers::CreateVerticalLine());
    layout->addSpacing(4);
    layout->addWidget(colorButton);
    layout->addLayout(customGrid);
    layout->addWidget(eyeDropperButton);
    layout->addSpacing(4);
    layout->addWidget(UiHelpers::CreateVerticalLine());
    layout->addSpacing(4);
    layout->addWidget(undoButton);
    layout->addWidget(redoButton);
    layout->addSpacing(4);
    layout->addWidget(UiHelpers::CreateVerticalLine());
    layout->addSpacing(4);
    layout->addWidget(clearButton);
    layout->addStretch();

    connect(sizeSpinBox, &MonitorSpinBox::valueChanged, this,
            [this](double value) { SetActiveToolSize(static_cast<float>(value)); });
    connect(opacitySpinBox, &MonitorSpinBox::valueChanged, this,
            [this](double value) { SetActiveToolOpacity(static_cast<float>(value)); });
    connect(colorButton, &FlatButton::clicked, this, &AnnotationOptionsWidget::ShowColorSelectDialog);
    connect(eyeDropperButton, &FlatButton::clicked, this, &AnnotationOptionsWidget::ToggleEyeDropperEnabled);
    connect(undoButton, &FlatButton::clicked, this, &AnnotationOptionsWidget::Undo);
    connect(redoButton, &FlatButton::clicked, this, &AnnotationOptionsWidget::Redo);
    connect(clearButton, &FlatButton::clicked, this, &AnnotationOptionsWidget::Clear);

    UpdateCustomColorButtons();
    UpdateToolTips();
    ShowToolValues();
}

MonitorSpinBox* AnnotationOptionsWidget::SizeSpinBox() const
{
    return sizeSpinBox;
}

MonitorSpinBox* AnnotationOptionsWidget::OpacitySpinBox() const
{
    return opacitySpinBox;
}

FlatButton* AnnotationOptionsWidget::ColorButton() const
{
    return colorButton;
}

QList<FlatButton*> AnnotationOptionsWidget::CustomColorButtons() const
{
    return customColorButtons;
}

FlatButton* AnnotationOptionsWidget::EyeDropperButton() const
{
    return eyeDropperButton;
}

FlatButton* AnnotationOptionsWidget::UndoButton() const
{
    return undoButton;
}

FlatButton* AnnotationOptionsWidget::RedoButton() const
{
    return redoButton;
}

FlatButton* AnnotationOptionsWidget::ClearButton() const
{
    return clearButton;
}

void AnnotationOptionsWidget::SetColorQuery(std::function<QColor(QColor const&)> query)
{
    colorQuery = std::move(query);
}

void AnnotationOptionsWidget::ShowToolValues()
{
    QSignalBlocker const blockSize(sizeSpinBox);
    QSignalBlocker const blockOpacity(opacitySpinBox);
    sizeSpinBox->SetValue(Settings::annotationToolSize);
    opacitySpinBox->SetValue(Settings::annotationToolOpacity * 100.0);
}

void AnnotationOptionsWidget::SetActiveToolSize(float size)
{
    Settings::annotationToolSize = size;
    ToolSettings const tool = SettingsOf(activeTool);
    *tool.size = size;
    *tool.opacity = Settings::annotationToolOpacity;
}

void AnnotationOptionsWidget::SetActiveToolOpacity(float opacity)
{
    float const fraction = std::clamp(opacity, 1.0f, 100.0f) / 100.0f;
    Settings::annotationToolOpacity = fraction;
    ToolSettings const tool = SettingsOf(activeTool);
    *tool.size = Settings::annotationToolSize;
    *tool.opacity = fraction;
}

void AnnotationOptionsWidget::OnActiveToolChanged(AnnotationToolType tool)
{
    activeTool = static_cast<int>(tool);
    if (activeTool >= 0 && activeTool <= 6)
    {
        ToolSettings const settings = SettingsOf(activeTool);
        Settings::annotationToolSize = *settings.size;
        Settings::annotationToolOpacity = *settings.opacity;
    }
    ShowToolValues();
}

void AnnotationOptionsWidget::IncreaseActiveToolSize()
{
    sizeSpinBox->SetValue(Settings::annotationToolSize + Settings::annotationToolIncrementSize);
}

void AnnotationOptionsWidget::DecreaseActiveToolSize()
{
    sizeSpinBox->SetValue(Settings::annotationToolSize - Settings::annotationToolIncrementSize);
}

void AnnotationOptionsWidget::ShowColorSelectDialog()
{
    QColor const color = colorQuery ? colorQuery(Settings::annotationToolColor)
                                    : QColorDialog::getColor(Settings::annotationToolColor, this, tr("Select Color"),
                                                             QColorDialog::DontUseNativeDialog);
    if (color.isValid())
    {
        SetColor(color);
    }
    UpdateCustomColorButtons();
}

void AnnotationOptionsWidget::SetColorFromBtn()
{
    auto* const button = qobject_cast<FlatButton*>(sender());
    if (button)
    {
        SetColor(button->GetColor());
    }
}

void AnnotationOptionsWidget::SetColor(QColor const& color)
{
    Settings::annotationToolColor = color;
    colorButton->SetColor(color);
    eyeDropperButton->SetChecked(false);
    Q_EMIT EnableEyeDropperRequested(false);
}

void AnnotationOptionsWidget::SetEyeDropperEnabled(bool enabled)
{
    eyeDropperButton->SetChecked(enabled);
    Q_EMIT EnableEyeDropperRequested(enabled);
}

void AnnotationOptionsWidget::ToggleEyeDropperEnabled()
{
    SetEyeDropperEnabled(!eyeDropperButton->IsChecked());
}

void AnnotationOptionsWidget::Undo()
{
    Q_EMIT UndoRequested();
}

void AnnotationOptionsWidget::Redo()
{
    Q_EMIT RedoRequested();
}

void AnnotationOptionsWidget::Clear()
{
    Q_EMIT ClearRequested();
}

void AnnotationOptionsWidget::UpdateCustomColorButtons()
{
    for (int i = 0; i < customColorButtons.size() && i < QColorDialog::customCount(); ++i)
    {
        customColorButtons.at(i)->SetColor(QColorDialog::customColor(i));
    }
    SaveCustomColors();
}

void AnnotationOptionsWidget::LoadCustomColors()
{
    int const count = CustomColorRange();
    for (int i = 0; i < count; ++i)
    {
        QColor const color = QColor::fromString(Settings::annotationColorPresets.at(i));
        if (color.isValid())
        {
            QColorDialog::setCustomColor(i, color);
        }
    }
}

void AnnotationOptionsWidget::SaveCustomColors()
{
    int const count = CustomColorRange();
    for (int i = 0; i < count; ++i)
    {
        Settings::annotationColorPresets[i] = QColorDialog::customColor(i).name();
    }
}

void AnnotationOptionsWidget::UpdateToolTips()
{
    auto const tip = [this](KeySequenceType command, QString const& label) {
        return keyBindings ? keyBindings->CreateToolTip(command, label) : label;
    };
    eyeDropperButton->setToolTip(tip(KeySequenceType::ActivateEyedropper, tr("Eyedropper")));
    undoButton->setToolTip(tip(KeySequenceType::Undo, tr("Undo")));
    redoButton->setToolTip(tip(KeySequenceType::Redo, tr("Redo")));
}
