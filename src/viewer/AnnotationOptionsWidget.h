#pragma once

#include "viewer/AnnotationToolType.h"

#include <QColor>
#include <QList>
#include <QWidget>

#include <functional>

class FlatButton;
class KeyBindings;
class MonitorSpinBox;

// The horizontal annotation options strip: size and opacity of the active
// tool (each tool keeps its own in the settings), the shared colour with the
// colour dialog's eight custom colours, the eyedropper, undo, redo and clear.
class AnnotationOptionsWidget : public QWidget
{
    Q_OBJECT

public:
    explicit AnnotationOptionsWidget(KeyBindings* keyBindings, QWidget* parent = nullptr);

    MonitorSpinBox* SizeSpinBox() const;
    MonitorSpinBox* OpacitySpinBox() const;
    FlatButton* ColorButton() const;
    QList<FlatButton*> CustomColorButtons() const;
    FlatButton* EyeDropperButton() const;
    FlatButton* UndoButton() const;
    FlatButton* RedoButton() const;
    FlatButton* ClearButton() const;
    // The colour chooser; QColorDialog::getColor by default.
    void SetColorQuery(std::function<QColor(QColor const&)> query);

    static void LoadCustomColors();
    static void SaveCustomColors();

public Q_SLOTS:
    void SetActiveToolSize(float size);
    void SetActiveToolOpacity(float opacity);
    void OnActiveToolChanged(AnnotationToolType tool);
    void IncreaseActiveToolSize();
    void DecreaseActiveToolSize();
    void ShowColorSelectDialog();
    void SetColorFromBtn();
    void SetColor(QColor const& color);
    void SetEyeDropperEnabled(bool enabled);
    void ToggleEyeDropperEnabled();
    void Undo();
    void Redo();
    void Clear();
    void UpdateCustomColorButtons();
    void UpdateToolTips();

Q_SIGNALS:
    void UndoRequested();
    void RedoRequested();
    void ClearRequested();
    void EnableEyeDropperRequested(bool enabled);

private:
    void ShowToolValues();

    KeyBindings* keyBindings;
    int activeTool = 0;
    MonitorSpinBox* sizeSpinBox = nullptr;
    MonitorSpinBox* opacitySpinBox = nullptr;
    FlatButton* colorButton = nullptr;
    QList<FlatButton*> customColorButtons;
    FlatButton* eyeDropperButton = nullptr;
    FlatButton* undoButton = nullptr;
    FlatButton* redoButton = nullptr;
    FlatButton* clearButton = nullptr;
    std::function<QColor(QColor const&)> colorQuery;
};
