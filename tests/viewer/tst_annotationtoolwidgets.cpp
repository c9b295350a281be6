// TESSARIN_TEST: own-home
// The annotation tool strip, options strip, ghosting options and text pop-up,
// through their interfaces and real clicks.
#include "app/Settings.h"
#include "panels/FlatButton.h"
#include "panels/MonitorSpinBox.h"
#include "panels/PopUpWidget.h"
#include "viewer/AnnotationOptionsWidget.h"
#include "viewer/AnnotationToolsWidget.h"
#include "viewer/GhostingOptionsWidget.h"
#include "viewer/TextToolPopup.h"
#include "window/MonitorComboBox.h"

#include <QColorDialog>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

class TestAnnotationToolWidgets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void EachToolKeepsItsOwnSizeAndOpacity();
    void OpacityNeverWritesZero();
    void ToolButtonsAndStoredToolAgree();
    void SelectorsEmitTheirRowData();
    void CancelledBackgroundColourChangesNothing();
    void CustomColoursStopAtTheDialogsCount();
    void ColourChoiceTurnsTheEyedropperOff();
    void GhostingOptionsWriteTheSettings();
    void TextPopupReportsTextAndClosesOnEscape();

private:
    void ChooseRow(MonitorComboBox* combo, int row);
};

void TestAnnotationToolWidgets::ChooseRow(MonitorComboBox* combo, int row)
{
    if (combo->PopUp())
    {
        QVERIFY(QTest::qWaitFor([&] { return combo->PopUp()->ReadyToReopen(); }, 2000));
    }
    QTest::mouseClick(combo, Qt::LeftButton);
    QVERIFY(combo->PopUp() && combo->PopUp()->isVisible());
    QListWidget* const list = combo->List();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(list->item(row)).center());
}

void TestAnnotationToolWidgets::EachToolKeepsItsOwnSizeAndOpacity()
{
    Settings::pencilSize = 2.0f;
    Settings::eraserSize = 2.0f;
    AnnotationOptionsWidget options(nullptr);
    options.OnActiveToolChanged(AnnotationToolType::Pencil);
    options.SizeSpinBox()->SetValue(5.5);
    options.OpacitySpinBox()->SetValue(40.0);
    QCOMPARE(Settings::pencilSize, 5.5f);
    QCOMPARE(Settings::pencilOpacity, 0.4f);
    options.OnActiveToolChanged(AnnotationToolType::Eraser);
    QCOMPARE(Settings::annotationToolSize, 2.0f);
    QCOMPARE(options.SizeSpinBox()->Value(), 2.0);
    options.SizeSpinBox()->SetValue(8.0);
    options.OnActiveToolChanged(AnnotationToolType::Pencil);
    QCOMPARE(Settings::annotationToolSize, 5.5f);
    QCOMPARE(Settings::annotationToolOpacity, 0.4f);
    QCOMPARE(options.OpacitySpinBox()->Value(), 40.0);
    QCOMPARE(Settings::eraserSize, 8.0f);
    // Steps clamp to the field's range.
    Settings::annotationToolIncrementSize = 10.0f;
    options.IncreaseActiveToolSize();
    QCOMPARE(Settings::annotationToolSize, 10.0f);
    Settings::annotationToolIncrementSize = 1.0f;
}

void TestAnnotationToolWidgets::OpacityNeverWritesZero()
{
    AnnotationOptionsWidget options(nullptr);
    options.OpacitySpinBox()->SetValue(0.0);
    QCOMPARE(Settings::annotationToolOpacity, 0.01f);
    options.SetActiveToolOpacity(0.0f);
    QCOMPARE(Settings::annotationToolOpacity, 0.01f);
}

void TestAnnotationToolWidgets::ToolButtonsAndStoredToolAgree()
{
    AnnotationToolsWidget tools(nullptr);
    tools.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tools));
    QSignalSpy active(&tools, &AnnotationToolsWidget::ActiveToolChanged);
    QTest::mouseClick(tools.ToolButton(AnnotationToolType::Ellipse), Qt::LeftButton);
    QCOMPARE(active.constLast().at(0).value<AnnotationToolType>(), AnnotationToolType::Ellipse);
    QCOMPARE(Settings::activeAnnotationTool, 5);
    for (int tool = 0; tool < 7; ++tool)
    {
        QCOMPARE(tools.ToolButton(static_cast<AnnotationToolType>(tool))->IsChecked(), tool == 5);
    }
    Settings::activeAnnotationTool = 9;
    tools.SyncUiToSettings();
    QCOMPARE(Settings::activeAnnotationTool, 0);
    QCOMPARE(tools.ActiveTool(), AnnotationToolType::Pencil);
    QVERIFY(tools.ToolButton(AnnotationToolType::Pencil)->IsChecked());
    QCOMPARE(active.constLast().at(0).value<AnnotationToolType>(), AnnotationToolType::Pencil);

    QSignalSpy hold(&tools, &AnnotationToolsWidget::EnableHoldFramesRequested);
    QTest::mouseClick(tools.HoldFramesButton(), Qt::LeftButton);
    QTest::mouseClick(tools.HoldFramesButton(), Qt::LeftButton);
    QCOMPARE(hold.size(), 2);
    QCOMPARE(hold.at(0).at(0).toBool(), true);
    QCOMPARE(hold.at(1).at(0).toBool(), false);
    tools.UpdateGhostingBtn(true);
    QVERIFY(tools.GhostingButton()->IsChecked());
}

void TestAnnotationToolWidgets::SelectorsEmitTheirRowData()
{
    AnnotationToolsWidget tools(nullptr);
    tools.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tools));
    QCOMPARE(tools.VisibilityComboBox()->CurrentRow(), 1);
    QSignalSpy visibility(&tools, &AnnotationToolsWidget::AnnotationVisibilityChangeRequested);
    QSignalSpy layer(&tools, &AnnotationToolsWidget::AnnotationActiveLayerChangeRequested);
    QSignalSpy opacity(&tools, &AnnotationToolsWidget::AnnotationBackgroundOpacityChangeRequested);
    ChooseRow(tools.VisibilityComboBox(), 0);
    QCOMPARE(visibility.constLast().at(0).value<AnnotationVisibility>(), AnnotationVisibility::Off);
    ChooseRow(tools.LayerComboBox(), 1);
    QCOMPARE(layer.constLast().at(0).value<AnnotationLayer>(), AnnotationLayer::Background);
    ChooseRow(tools.BackgroundComboBox(), 2);
    QCOMPARE(opacity.constLast().at(0).toInt(), 127);
    tools.UpdateAnnotationVisibility(AnnotationVisibility::On);
    QCOMPARE(tools.VisibilityComboBox()->CurrentRow(), 2);
    tools.UpdateAnnotationLayer(static_cast<AnnotationLayer>(5));
    QCOMPARE(tools.LayerComboBox()->CurrentRow(), 1);
}

void TestAnnotationToolWidgets::CancelledBackgroundColourChangesNothing()
{
    AnnotationToolsWidget tools(nullptr);
    QSignalSpy color(&tools, &AnnotationToolsWidget::AnnotationBackgroundColorChangeRequested);
    QSignalSpy opacity(&tools, &AnnotationToolsWidget::AnnotationBackgroundOpacityChangeRequested);
    int asked = 0;
    tools.SetColorQuery([&](QColor const&) {
        ++asked;
        return QColor();
    });
    int const colorRow = tools.BackgroundComboBox()->Count() - 1;
    tools.OnAnnotationBackgroundOpacityChanged(colorRow);
    QCOMPARE(asked, 1);
    QCOMPARE(color.size() + opacity.size(), 0);
    tools.SetColorQuery([](QColor const&) { return QColor(10, 20, 30); });
    tools.OnAnnotationBackgroundOpacityChanged(colorRow);
    QCOMPARE(color.constLast().at(0).value<QColor>(), QColor(10, 20, 30));
    QCOMPARE(opacity.size(), 0);
}

void TestAnnotationToolWidgets::CustomColoursStopAtTheDialogsCount()
{
    int const count = QColorDialog::customCount();
    Settings::annotationColorPresets.clear();
    for (int i = 0; i < count + 3; ++i)
    {
        Settings::annotationColorPresets.append(QColor(i, 0, 0).name());
    }
    AnnotationOptionsWidget::LoadCustomColors();
    QCOMPARE(QColorDialog::customColor(2), QColor(2, 0, 0));
    QColorDialog::setCustomColor(1, QColor(0, 0, 255));
    AnnotationOptionsWidget::SaveCustomColors();
    QCOMPARE(Settings::annotationColorPresets.size(), count + 3);
    QCOMPARE(Settings::annotationColorPresets.at(1), QStringLiteral("#0000ff"));
    QCOMPARE(Settings::annotationColorPresets.at(count + 1), QColor(count + 1, 0, 0).name());
    // Fewer presets than custom colours: only those are touched.
    Settings::annotationColorPresets = {QStringLiteral("#00ff00")};
    AnnotationOptionsWidget::SaveCustomColors();
    QCOMPARE(Settings::annotationColorPresets.size(), 1);
}

void TestAnnotationToolWidgets::ColourChoiceTurnsTheEyedropperOff()
{
    AnnotationOptionsWidget options(nullptr);
    QSignalSpy eyedropper(&options, &AnnotationOptionsWidget::EnableEyeDropperRequested);
    options.SetEyeDropperEnabled(true);
    QVERIFY(options.EyeDropperButton()->IsChecked());
    options.SetColorQuery([](QColor const&) { return QColor(200, 100, 50); });
    options.ShowColorSelectDialog();
    QCOMPARE(Settings::annotationToolColor, QColor(200, 100, 50));
    QCOMPARE(options.ColorButton()->GetColor(), QColor(200, 100, 50));
    QVERIFY(!options.EyeDropperButton()->IsChecked());
    QCOMPARE(eyedropper.constLast().at(0).toBool(), false);
    // A cancelled dialog keeps the colour.
    options.SetColorQuery([](QColor const&) { return QColor(); });
    options.ShowColorSelectDialog();
    QCOMPARE(Settings::annotationToolColor, QColor(200, 100, 50));

    QSignalSpy undo(&options, &AnnotationOptionsWidget::UndoRequested);
    QSignalSpy redo(&options, &AnnotationOptionsWidget::RedoRequested);
    QSignalSpy clear(&options, &AnnotationOptionsWidget::ClearRequested);
    options.show();
    QVERIFY(QTest::qWaitForWindowExposed(&options));
    QTest::mouseClick(options.UndoButton(), Qt::LeftButton);
    QTest::mouseClick(options.RedoButton(), Qt::LeftButton);
    QTest::mouseClick(options.ClearButton(), Qt::LeftButton);
    QCOMPARE(undo.size() + redo.size() + clear.size(), 3);
}

void TestAnnotationToolWidgets::GhostingOptionsWriteTheSettings()
{
    Settings::numGhostedFramesPrev = 3;
    Settings::byAnnotationGhosting = true;
    AnnotationToolsWidget tools(nullptr);
    tools.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tools));
    tools.ShowGhostingOptions();
    GhostingOptionsWidget* const options = tools.GhostingOptions();
    QVERIFY(options && tools.GhostingPopUp()->isVisible());
    QCOMPARE(options->PrevSpinBox()->value(), 3);
    QVERIFY(options->ByAnnotationButton()->isChecked());
    QSignalSpy updated(&tools, &AnnotationToolsWidget::GhostingPropertiesUpdated);
    options->NextSpinBox()->setValue(7);
    QCOMPARE(Settings::numGhostedFramesNext, 7);
    QTest::mouseClick(options->ByFrameButton(), Qt::LeftButton);
    QVERIFY(!Settings::byAnnotationGhosting);
    QCOMPARE(updated.size(), 2);
    tools.GhostingPopUp()->close();
}

void TestAnnotationToolWidgets::TextPopupReportsTextAndClosesOnEscape()
{
    TextToolPopup popup;
    QSignalSpy text(&popup, &TextToolPopup::TextChanged);
    QSignalSpy closed(&popup, &TextToolPopup::PopupClosed);
    popup.setGeometry(100, 100, 200, 50);
    popup.show();
    QVERIFY(QTest::qWaitForWindowExposed(&popup));
    QTest::keyClicks(popup.Editor(), QStringLiteral("ok"));
    QCOMPARE(text.constLast().at(0).toString(), QStringLiteral("ok"));
    QTest::keyClick(&popup, Qt::Key_Escape);
    QCOMPARE(closed.size(), 1);
    QVERIFY(!popup.isVisible());
    // Shown again it starts empty and reports from there.
    popup.show();
    QVERIFY(popup.Editor()->toPlainText().isEmpty());
    text.clear();
    QTest::keyClicks(popup.Editor(), QStringLiteral("a"));
    QCOMPARE(text.size(), 1);
    popup.close();
}

QTEST_MAIN(TestAnnotationToolWidgets)
#include "tst_annotationtoolwidgets.moc"
