#pragma once

#include "viewer/AnnotationLayer.h"
#include "viewer/AnnotationToolType.h"
#include "viewer/AnnotationVisibility.h"

#include <QColor>
#include <QList>
#include <QWidget>

#include <functional>

class FlatButton;
class GhostingOptionsWidget;
class KeyBindings;
class MonitorComboBox;
class PopUpWidget;

// The vertical annotation tool strip: the seven tools, ghosting and hold
// frames, the active layer, the background fill and the visibility. It
// writes the active tool into the settings and emits requests; the monitor
// routes them to the viewer widget.
class AnnotationToolsWidget : public QWidget
{
    Q_OBJECT

public:
    explicit AnnotationToolsWidget(KeyBindings* keyBindings, QWidget* parent = nullptr);

    AnnotationToolType ActiveTool() const;
    FlatButton* ToolButton(AnnotationToolType tool) const;
    FlatButton* HoldFramesButton() const;
    FlatButton* GhostingButton() const;
    MonitorComboBox* LayerComboBox() const;
    MonitorComboBox* VisibilityComboBox() const;
    MonitorComboBox* BackgroundComboBox() const;
    PopUpWidget* GhostingPopUp() const;
    GhostingOptionsWidget* GhostingOptions() const;
    // The colour chooser of "Color..."; QColorDialog::getColor by default.
    void SetColorQuery(std::function<QColor(QColor const&)> query);

public Q_SLOTS:
    void SetActiveTool(AnnotationToolType tool);
    void SetActiveToolFromSender();
    void SyncUiToSettings();
    void SetHoldFramesEnabled(bool enabled);
    void SetGhostingEnabled(bool enabled);
    void ToggleHoldFramesEnabled();
    void ToggleGhostingEnabled();
    void UpdateHoldFramesBtn(bool enabled);
    void UpdateGhostingBtn(bool enabled);
    void UpdateAnnotationLayer(AnnotationLayer layer);
    void UpdateAnnotationVisibility(AnnotationVisibility visibility);
    void OnAnnotationLayerChanged(int row);
    void OnAnnotationVisibilityChanged(int row);
    void OnAnnotationBackgroundOpacityChanged(int row);
    void ShowGhostingOptions();
    void OnGhostingPropertiesUpdated();
    void UpdateToolTips();

Q_SIGNALS:
    void ActiveToolChanged(AnnotationToolType tool);
    void EnableHoldFramesRequested(bool enabled);
    void EnableGhostingRequested(bool enabled);
    void GhostingPropertiesUpdated();
    void AnnotationActiveLayerChangeRequested(AnnotationLayer layer);
    void AnnotationVisibilityChangeRequested(AnnotationVisibility visibility);
    void AnnotationBackgroundColorChangeRequested(QColor const& color);
    void AnnotationBackgroundOpacityChangeRequested(int opacity);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void UpdateToolButtons();

    KeyBindings* keyBindings;
    AnnotationToolType activeTool = AnnotationToolType::Pencil;
    QList<FlatButton*> toolButtons; // in tool order
    FlatButton* holdFramesButton = nullptr;
    FlatButton* ghostingButton = nullptr;
    MonitorComboBox* layerComboBox = nullptr;
    MonitorComboBox* visibilityComboBox = nullptr;
    MonitorComboBox* backgroundComboBox = nullptr;
    PopUpWidget* ghostingPopUp = nullptr;
    GhostingOptionsWidget* ghostingOptions = nullptr;
    std::function<QColor(QColor const&)> colorQuery;
};
