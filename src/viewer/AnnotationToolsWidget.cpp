#include "viewer/AnnotationToolsWidget.h"

#include "app/KeyBindings.h"
#include "app/Settings.h"
#include "panels/FlatButton.h"
#include "panels/PopUpWidget.h"
#include "panels/UiHelpers.h"
#include "viewer/GhostingOptionsWidget.h"
#include "window/MonitorComboBox.h"

#include <QColorDialog>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QVBoxLayout>

namespace
{
struct ToolEntry
{
    AnnotationToolType tool;
    char const* icon;
    char const* label;
    KeySequenceType command;
};

// Top to bottom, as the strip shows them.
ToolEntry const TOOL_ENTRIES[] = {
    {AnnotationToolType::Pencil, ":/icons/pencil.png", "Pencil", KeySequenceType::ActivatePencil},
    {AnnotationToolType::Eraser, ":/icons/eraser.png", "Eraser", KeySequenceType::ActivateEraser},
    {AnnotationToolType::LaserPointer, ":/icons/laser_pointer.png", "Laser Pointer",
     KeySequenceType::ActivateLaserPointer},
    {AnnotationToolType::Text, ":/icons/text.png", "Text", KeySequenceType::ActivateText},
    {AnnotationToolType::Arrow, ":/icons/arrow.png", "Arrow", KeySequenceType::ActivateArrow},
    {AnnotationToolType::Ellipse, ":/icons/ellipse.png", "Ellipse", KeySequenceType::ActivateEllipse},
    {AnnotationToolType::Rectangle, ":/icons/rectangle.png", "Rectangle", KeySequenceType::ActivateRectangle},
};
constexpr int TOOL_COUNT = 7;
char const* const GHOSTING_HINT = "\nRight-click for options";

void SelectRowWithData(MonitorComboBox* combo, int value)
{
    for (int row = 0; row < combo->Count(); ++row)
    {
        QVariant const data = combo->Data(row);
        if (data.isValid() && data.toInt() == value)
        {
            combo->SetCurrentRow(row);
            return;
        }
    }
}

MonitorComboBox* IconSelector(QString const& title, QWidget* parent)
{
    auto* const combo = new MonitorComboBox(title, parent);
    combo->setFixedWidth(24);
    combo->SetSelectedTextVisible(false);
    combo->SetPopUpLocation(PopUpLocation::Right);
    return combo;
}
} // namespace

AnnotationToolsWidget::AnnotationToolsWidget(KeyBindings* keyBindings, QWidget* parent)
    : QWidget(parent)
    , keyBindings(keyBindings)
{
    for (int i = 0; i < TOOL_COUNT; ++i)
    {
        toolButtons.append(nullptr);
    }
    auto* const toolColumn = new QVBoxLayout();
    toolColumn->setSpacing(1);
    toolColumn->setContentsMargins(0, 0, 0, 0);
    for (ToolEntry const& entry : TOOL_ENTRIES)
    {
        FlatButton* const button =
            FlatButton::CreateButton(QImage(QString::fromLatin1(entry.icon)), QSize(24, 24), 4, QString());
        button->setParent(this);
        button->setProperty("tool", static_cast<int>(entry.tool));
        toolButtons[static_cast<int>(entry.tool)] = button;
        toolColumn->addWidget(button);
        connect(button, &FlatButton::clicked, this, &AnnotationToolsWidget::SetActiveToolFromSender);
    }
    ghostingButton = FlatButton::CreateButton(QImage(QStringLiteral(":/icons/ghost.png")), QSize(24, 24), 4, QString());
    ghostingButton->setParent(this);
    holdFramesButton =
        FlatButton::CreateButton(QImage(QStringLiteral(":/icons/hold_frame.png")), QSize(24, 24), 4, QString());
    holdFramesButton->setParent(this);

    layerComboBox = IconSelector(tr("Active Layer"), this);
    layerComboBox->AddItem(QIcon(QStringLiteral(":/icons/layer_fg.png")), tr("Foreground"), 0);
    layerComboBox->AddItem(QIcon(QStringLiteral(":/icons/layer_bg.png")), tr("Background"), 1);
    layerComboBox->SetCurrentRow(0);

    backgroundComboBox = IconSelector(tr("BG Fill"), this);
    QIcon const bgIcon(QStringLiteral(":/icons/annotation_bg.png"));
    backgroundComboBox->AddItem(bgIcon, tr("Off"), 0);
    backgroundComboBox->AddItem(bgIcon, tr("25%"), 63);
    backgroundComboBox->AddItem(bgIcon, tr("50%"), 127);
    backgroundComboBox->AddItem(bgIcon, tr("75%"), 191);
    backgroundComboBox->AddItem(bgIcon, tr("100%"), 255);
    backgroundComboBox->AddSeparator();
    backgroundComboBox->AddItem(bgIcon, tr("Color..."), -1);
    backgroundComboBox->SetCurrentRow(0);

    visibilityComboBox = IconSelector(tr("Visibility"), this);
    visibilityComboBox->AddItem(QIcon(QStringLiteral(":/icons/anno_vis_off.png")), tr("Off"), 2);
    visibilityComboBox->AddItem(QIcon(QStringLiteral(":/icons/anno_vis_playback_off.png")), tr("Off During Playback"),
                                1);
    visibilityComboBox->AddItem(QIcon(QStringLiteral(":/icons/anno_vis_on.png")), tr("On"), 0);
    visibilityComboBox->SetCurrentRow(1);

    auto* const layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(0);
    layout->addLayout(toolColumn);
    layout->addSpacing(6);
    layout->addWidget(UiHelpers::CreateHorizontalLine());
    layout->addSpacing(6);
    layout->addWidget(ghostingButton);
    layout->addWidget(holdFramesButton);
    layout->addSpacing(6);
    layout->addWidget(UiHelpers::CreateHorizontalLine());
    layout->addSpacing(6);
    layout->addWidget(layerComboBox);
    layout->addWidget(backgroundComboBox);
    layout->addWidget(visibilityComboBox);
    layout->addStretch();

    connect(ghostingButton, &FlatButton::clicked, this, &AnnotationToolsWidget::ToggleGhostingEnabled);
    connect(ghostingButton, &FlatButton::rightClicked, this, &AnnotationToolsWidget::ShowGhostingOptions);
    connect(holdFramesButton, &FlatButton::clicked, this, &AnnotationToolsWidget::ToggleHoldFramesEnabled);
    connect(layerComboBox, &MonitorComboBox::CurrentRowChanged, this, &AnnotationToolsWidget::OnAnnotationLayerChanged);
    connect(visibilityComboBox, &MonitorComboBox::CurrentRowChanged, this,
            &AnnotationToolsWidget::OnAnnotationVisibilityChanged);
    connect(backgroundComboBox, &MonitorComboBox::CurrentRowChanged, this,
            &AnnotationToolsWidget::OnAnnotationBackgroundOpacityChanged);
    UpdateToolTips();
    UpdateToolButtons();
}

AnnotationToolType AnnotationToolsWidget::ActiveTool() const
{
    return activeTool;
}

FlatButton* AnnotationToolsWidget::ToolButton(AnnotationToolType tool) const
{
    int const index = static_cast<int>(tool);
    return index >= 0 && index < toolButtons.size() ? toolButtons.at(index) : nullptr;
}

FlatButton* AnnotationToolsWidget::HoldFramesButton() const
{
    return holdFramesButton;
}

FlatButton* AnnotationToolsWidget::GhostingButton() const
{
    return ghostingButton;
}

MonitorComboBox* AnnotationToolsWidget::LayerComboBox() const
{
    return layerComboBox;
}

MonitorComboBox* AnnotationToolsWidget::VisibilityComboBox() const
{
    return visibilityComboBox;
}

MonitorComboBox* AnnotationToolsWidget::BackgroundComboBox() const
{
    return backgroundComboBox;
}

PopUpWidget* AnnotationToolsWidget::GhostingPopUp() const
{
    return ghostingPopUp;
}

GhostingOptionsWidget* AnnotationToolsWidget::GhostingOptions() const
{
    return ghostingOptions;
}

void AnnotationToolsWidget::SetColorQuery(std::function<QColor(QColor const&)> query)
{
    colorQuery = std::move(query);
}

void AnnotationToolsWidget::UpdateToolButtons()
{
    for (int i = 0; i < toolButtons.size(); ++i)
    {
        toolButtons.at(i)->SetChecked(i == static_cast<int>(activeTool));
    }
}

void AnnotationToolsWidget::SetActiveTool(AnnotationToolType tool)
{
    int const index = static_cast<int>(tool);
    if (index < 0 || index >= TOOL_COUNT)
    {
        return;
    }
    activeTool = tool;
    Settings::activeAnnotationTool = index;
    UpdateToolButtons();
    Q_EMIT ActiveToolChanged(tool);
}

void AnnotationToolsWidget::SetActiveToolFromSender()
{
    QObject* const button = sender();
    if (button)
    {
        SetActiveTool(static_cast<AnnotationToolType>(button->property("tool").toInt()));
    }
}

void AnnotationToolsWidget::SyncUiToSettings()
{
    if (Settings::activeAnnotationTool < 0 || Settings::activeAnnotationTool >= TOOL_COUNT)
    {
        Settings::activeAnnotationTool = 0;
    }
    activeTool = static_cast<AnnotationToolType>(Settings::activeAnnotationTool);
    UpdateToolButtons();
    Q_EMIT ActiveToolChanged(activeTool);
}

void AnnotationToolsWidget::SetHoldFramesEnabled(bool enabled)
{
    holdFramesButton->SetChecked(enabled);
    Q_EMIT EnableHoldFramesRequested(enabled);
}

void AnnotationToolsWidget::SetGhostingEnabled(bool enabled)
{
    ghostingButton->SetChecked(enabled);
    Q_EMIT EnableGhostingRequested(enabled);
}

void AnnotationToolsWidget::ToggleHoldFramesEnabled()
{
    SetHoldFramesEnabled(!holdFramesButton->IsChecked());
}

void AnnotationToolsWidget::ToggleGhostingEnabled()
{
    SetGhostingEnabled(!ghostingButton->IsChecked());
}

void AnnotationToolsWidget::UpdateHoldFramesBtn(bool enabled)
{
    holdFramesButton->SetChecked(enabled);
}

void AnnotationToolsWidget::UpdateGhostingBtn(bool enabled)
{
    ghostingButton->SetChecked(enabled);
}

void AnnotationToolsWidget::UpdateAnnotationLayer(AnnotationLayer layer)
{
    SelectRowWithData(layerComboBox, static_cast<int>(layer));
}

void AnnotationToolsWidget::UpdateAnnotationVisibility(AnnotationVisibility visibility)
{
    SelectRowWithData(visibilityComboBox, static_cast<int>(visibility));
}

void AnnotationToolsWidget::OnAnnotationLayerChanged(int row)
{
    Q_EMIT AnnotationActiveLayerChangeRequested(static_cast<AnnotationLayer>(layerComboBox->Data(row).toInt()));
}

void AnnotationToolsWidget::OnAnnotationVisibilityChanged(int row)
{
    Q_EMIT AnnotationVisibilityChangeRequested(
        static_cast<AnnotationVisibility>(visibilityComboBox->Data(row).toInt()));
}

void AnnotationToolsWidget::OnAnnotationBackgroundOpacityChanged(int row)
{
    QVariant const data = backgroundComboBox->Data(row);
    if (!data.isValid())
    {
        return;
    }
    int const value = data.toInt();
    if (value == -1)
    {
        QColor const color = colorQuery ? colorQuery(Settings::annotationBackgroundColor)
                                        : QColorDialog::getColor(Settings::annotationBackgroundColor, this,
                                                                 tr("Select Color"),
                                                                 QColorDialog::DontUseNativeDialog);
        if (color.isValid())
        {
            Q_EMIT AnnotationBackgroundColorChangeRequested(color);
        }
        return;
    }
    Q_EMIT AnnotationBackgroundOpacityChangeRequested(value);
}

void AnnotationToolsWidget::ShowGhostingOptions()
{
    if (!ghostingPopUp)
    {
        ghostingOptions = new GhostingOptionsWidget();
        connect(ghostingOptions, &GhostingOptionsWidget::GhostingPropertiesChanged, this,
                &AnnotationToolsWidget::OnGhostingPropertiesUpdated);
        ghostingPopUp = new PopUpWidget(this);
        auto* const title = new QLabel(QStringLiteral("<strong><i>Ghosting</i></strong>"));
        title->setAlignment(Qt::AlignCenter);
        ghostingPopUp->AddWidget(title);
        ghostingPopUp->AddWidget(ghostingOptions);
        ghostingPopUp->UpdateLayout();
    }
    if (!ghostingPopUp->ReadyToReopen())
    {
        return;
    }
    ghostingPopUp->move(mapToGlobal(QPoint(ghostingButton->x() + ghostingButton->width() + 4, ghostingButton->y())));
    ghostingPopUp->show();
}

void AnnotationToolsWidget::OnGhostingPropertiesUpdated()
{
    if (ghostingPopUp && ghostingPopUp->isHidden())
    {
        ghostingPopUp->show();
    }
    Q_EMIT GhostingPropertiesUpdated();
}

void AnnotationToolsWidget::UpdateToolTips()
{
    auto const tip = [this](KeySequenceType command, QString const& label) {
        return keyBindings ? keyBindings->CreateToolTip(command, label) : label;
    };
    for (ToolEntry const& entry : TOOL_ENTRIES)
    {
        toolButtons.at(static_cast<int>(entry.tool))->setToolTip(tip(entry.command, tr(entry.label)));
    }
    ghostingButton->setToolTip(tip(KeySequenceType::ToggleGhosting, tr("Ghosting")) + tr(GHOSTING_HINT));
    holdFramesButton->setToolTip(tip(KeySequenceType::ToggleHoldAnnotations, tr("Hold Frames")));
}

void AnnotationToolsWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    UpdateToolButtons();
}
