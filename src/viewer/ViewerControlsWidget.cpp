#include "viewer/ViewerControlsWidget.h"

#include "app/KeyBindings.h"
#include "panels/FlatButton.h"
#include "panels/UiHelpers.h"
#include "window/MonitorComboBox.h"

#include <QHBoxLayout>
#include <QFrame>
#include <QImage>

namespace
{
QString const WIPE_TOOL_TIP = QStringLiteral("A/B Wipe");
QString const WIPE_ICON = QStringLiteral(":/icons/viewer_wipe.png");
QString const TRANSPARENCY_ICON = QStringLiteral(":/icons/viewer_transparency.png");

// Selects the first row whose data equals the value; no row changes without one.
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
} // namespace

ViewerControlsWidget::ViewerControlsWidget(KeyBindings* keyBindings, QWidget* parent)
    : QWidget(parent)
    , keyBindings(keyBindings)
{
    CreateWidgets();
    CreateLayout();
    CreateConnections();
}

void ViewerControlsWidget::CreateWidgets()
{
    layoutComboBox = new MonitorComboBox(tr("Viewer Layout"), this);
    layoutComboBox->AddItem(MonitorComboBox::CreateIcon(QStringLiteral(":/icons/viewer_a_over_b.png"), true, false),
                            tr("A/B"), static_cast<int>(ViewerLayoutType::AOverB));
    layoutComboBox->AddItem(MonitorComboBox::CreateIcon(QStringLiteral(":/icons/viewer_horizontal.png"), true, false),
                            tr("H-Split"), static_cast<int>(ViewerLayoutType::HorizontalSplit));
    layoutComboBox->AddItem(MonitorComboBox::CreateIcon(QStringLiteral(":/icons/viewer_vertical.png"), true, false),
                            tr("V-Split"), static_cast<int>(ViewerLayoutType::VerticalSplit));
    layoutComboBox->AddItem(MonitorComboBox::CreateIcon(QStringLiteral(":/icons/viewer_grid.png"), true, false),
                            tr("Grid"), static_cast<int>(ViewerLayoutType::Grid));
    layoutComboBox->setFixedWidth(70);
    layoutComboBox->SetPopUpLocation(PopUpLocation::Below);

    backgroundComboBox = new MonitorComboBox(tr("Background"), this);
    backgroundComboBox->AddItem(
        MonitorComboBox::CreateIcon(QStringLiteral(":/icons/background_black.png"), false, false), tr("Black"),
        static_cast<int>(ViewerBackgroundType::Black));
    backgroundComboBox->AddItem(
        MonitorComboBox::CreateIcon(QStringLiteral(":/icons/background_medium_grey.png"), false, false),
        tr("Medium Grey"), static_cast<int>(ViewerBackgroundType::MediumGrey));
    backgroundComboBox->AddItem(
        MonitorComboBox::CreateIcon(QStringLiteral(":/icons/background_light_grey.png"), false, false),
        tr("Light Grey"), static_cast<int>(ViewerBackgroundType::LightGrey));
    backgroundComboBox->AddItem(
        MonitorComboBox::CreateIcon(QStringLiteral(":/icons/background_white.png"), false, false), tr("White"),
        static_cast<int>(ViewerBackgroundType::White));
    backgroundComboBox->SetSelectedTextVisible(false);
    backgroundComboBox->setFixedWidth(24);
    backgroundComboBox->SetPopUpLocation(PopUpLocation::Below);

    transparencyComboBox = new MonitorComboBox(tr("Transparency"), this);
    transparencyComboBox->AddItem(tr("Off"), 1.0f);
    transparencyComboBox->AddItem(tr("25%"), 0.75f);
    transparencyComboBox->AddItem(tr("50%"), 0.5f);
    transparencyComboBox->AddItem(tr("75%"), 0.25f);
    transparencyComboBox->AddItem(tr("100%"), 0.0f);
    transparencyComboBox->SetSelectedIconOverride(QImage(TRANSPARENCY_ICON), -1);
    transparencyComboBox->SetSelectedTextVisible(false);
    transparencyComboBox->setFixedWidth(24);
    transparencyComboBox->SetPopUpLocation(PopUpLocation::Below);

    overlayComboBox = new MonitorComboBox(tr("Overlay"), this);
    overlayComboBox->AddItem(MonitorComboBox::CreateIcon(QStringLiteral(":/icons/overlay_none.png"), true, true),
                             tr("Off"), static_cast<int>(ViewerOverlayDrawable::Off));
    overlayComboBox->AddItem(MonitorComboBox::CreateIcon(QStringLiteral(":/icons/overlay_safe_area.png"), true, true),
                             tr("Safe Area"), static_cast<int>(ViewerOverlayDrawable::SafeArea));
    overlayComboBox->AddItem(MonitorComboBox::CreateIcon(QStringLiteral(":/icons/overlay_grid.png"), true, true),
                             tr("Grid"), static_cast<int>(ViewerOverlayDrawable::Grid));
    overlayComboBox->AddItem(MonitorComboBox::CreateIcon(QStringLiteral(":/icons/overlay_center.png"), true, true),
                             tr("Center"), static_cast<int>(ViewerOverlayDrawable::Center));
    overlayComboBox->SetSelectedTextVisible(false);
    overlayComboBox->setFixedWidth(24);
    overlayComboBox->SetPopUpLocation(PopUpLocation::Below);
    overlayComboBox->SetHighlightSelectedIconIndexGtZero(true);
    overlayComboBox->SetCurrentRow(0);

    wipeButton = FlatButton::CreateButton(QImage(WIPE_ICON), QSize(24, 24), 4, QString());
    wipeButton->setParent(this);
    UpdateToolTips();
}

void ViewerControlsWidget::CreateLayout()
{
    auto* const layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addStretch();
    layout->addWidget(layoutComboBox);
    layout->addSpacing(4);
    layout->addWidget(UiHelpers::CreateVerticalLine());
    layout->addSpacing(4);
    layout->addWidget(backgroundComboBox);
    layout->addWidget(transparencyComboBox);
    layout->addWidget(overlayComboBox);
    layout->addWidget(wipeButton);
}

void ViewerControlsWidget::CreateConnections()
{
    connect(layoutComboBox, &MonitorComboBox::CurrentRowChanged, this, &ViewerControlsWidget::OnCurrentLayoutChanged);
    connect(backgroundComboBox, &MonitorComboBox::CurrentRowChanged, this, &ViewerControlsWidget::OnBackgroundChanged);
    connect(transparencyComboBox, &MonitorComboBox::CurrentRowChanged, this,
            &ViewerControlsWidget::OnCurrentTransparencyChanged);
    connect(overlayComboBox, &MonitorComboBox::CurrentRowChanged, this, &ViewerControlsWidget::OnViewerOverlayChanged);
    connect(wipeButton, &FlatButton::clicked, this, &ViewerControlsWidget::OnWipeClicked);
}

MonitorComboBox* ViewerControlsWidget::LayoutComboBox() const
{
    return layoutComboBox;
}

MonitorComboBox* ViewerControlsWidget::BackgroundComboBox() const
{
    return backgroundComboBox;
}

MonitorComboBox* ViewerControlsWidget::TransparencyComboBox() const
{
    return transparencyComboBox;
}

MonitorComboBox* ViewerControlsWidget::OverlayComboBox() const
{
    return overlayComboBox;
}

FlatButton* ViewerControlsWidget::WipeButton() const
{
    return wipeButton;
}

void ViewerControlsWidget::OnCurrentLayoutChanged(int row)
{
    Q_EMIT LayoutChangeRequested(static_cast<ViewerLayoutType>(layoutComboBox->Data(row).toInt()));
}

void ViewerControlsWidget::OnBackgroundChanged(int row)
{
    Q_EMIT BackgroundChangeRequested(static_cast<ViewerBackgroundType>(backgroundComboBox->Data(row).toInt()));
}

void ViewerControlsWidget::OnCurrentTransparencyChanged(int row)
{
    Q_EMIT OpacityChangeRequested(0, transparencyComboBox->Data(row).toFloat());
}

void ViewerControlsWidget::OnViewerOverlayChanged(int row)
{
    Q_EMIT ViewerOverlayChangeRequested(static_cast<ViewerOverlayDrawable>(overlayComboBox->Data(row).toInt()));
}

void ViewerControlsWidget::OnWipeClicked()
{
    bool const enabled = !wipeButton->IsChecked();
    wipeButton->SetChecked(enabled);
    Q_EMIT WipeEnabledRequested(enabled);
}

void ViewerControlsWidget::UpdateViewerLayout(ViewerLayoutType type)
{
    if (type != ViewerLayoutType::Single)
    {
        SelectRowWithData(layoutComboBox, static_cast<int>(type));
    }
    bool const aOverB = type == ViewerLayoutType::AOverB;
    overlayComboBox->setEnabled(aOverB);
    wipeButton->setEnabled(aOverB);
}

void ViewerControlsWidget::UpdateViewerBackground(ViewerBackgroundType type)
{
    SelectRowWithData(backgroundComboBox, static_cast<int>(type));
}

void ViewerControlsWidget::UpdateViewerOverlayDrawable(ViewerOverlayDrawable drawable)
{
    SelectRowWithData(overlayComboBox, static_cast<int>(drawable));
}

void ViewerControlsWidget::UpdateWipeState(bool enabled)
{
    wipeButton->SetChecked(enabled);
}

void ViewerControlsWidget::UpdateToolTips()
{
    wipeButton->setToolTip(keyBindings ? keyBindings->CreateToolTip(KeySequenceType::ToggleABWipe, WIPE_TOOL_TIP)
                                       : WIPE_TOOL_TIP);
}
