#pragma once

#include "viewer/ViewerBackgroundType.h"
#include "viewer/ViewerLayoutType.h"
#include "viewer/ViewerOverlayDrawable.h"

#include <QWidget>

class FlatButton;
class KeyBindings;
class MonitorComboBox;

// The monitor's strip for the viewer layout, background, transparency of the
// top image, overlay guide and A/B wipe. Choices go out as requests; the
// viewer's change signals come back to the update slots, which set the strip
// without emitting.
class ViewerControlsWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ViewerControlsWidget(KeyBindings* keyBindings, QWidget* parent = nullptr);

    MonitorComboBox* LayoutComboBox() const;
    MonitorComboBox* BackgroundComboBox() const;
    MonitorComboBox* TransparencyComboBox() const;
    MonitorComboBox* OverlayComboBox() const;
    FlatButton* WipeButton() const;

public Q_SLOTS:
    void OnCurrentLayoutChanged(int row);
    void OnBackgroundChanged(int row);
    void OnCurrentTransparencyChanged(int row);
    void OnViewerOverlayChanged(int row);
    void OnWipeClicked();
    void UpdateViewerLayout(ViewerLayoutType type);
    void UpdateViewerBackground(ViewerBackgroundType type);
    void UpdateViewerOverlayDrawable(ViewerOverlayDrawable drawable);
    void UpdateWipeState(bool enabled);
    void UpdateToolTips();

Q_SIGNALS:
    void LayoutChangeRequested(ViewerLayoutType type);
    void BackgroundChangeRequested(ViewerBackgroundType type);
    void OpacityChangeRequested(int index, float alpha);
    void ViewerOverlayChangeRequested(ViewerOverlayDrawable drawable);
    void WipeEnabledRequested(bool enabled);

private:
    void CreateWidgets();
    void CreateLayout();
    void CreateConnections();

    KeyBindings* keyBindings;
    MonitorComboBox* layoutComboBox = nullptr;
    MonitorComboBox* backgroundComboBox = nullptr;
    MonitorComboBox* transparencyComboBox = nullptr;
    MonitorComboBox* overlayComboBox = nullptr;
    FlatButton* wipeButton = nullptr;
};
