// The viewer controls strip: requests out, the viewer's state in, without
// echoes from code.
#include "panels/FlatButton.h"
#include "panels/PopUpWidget.h"
#include "viewer/ViewerControlsWidget.h"
#include "window/MonitorComboBox.h"

#include <QListWidget>
#include <QSignalSpy>
#include <QtTest>

class TestViewerControlsWidget : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void TransparencyRowsRequestTheTopImageAlpha();
    void LayoutRowsAndBackgroundRowsRequestTheirType();
    void LayoutDecidesOverlayAndWipeAvailability();
    void WipeClicksToggleTheRequest();
    void SelectionFromCodeEmitsNothing();

private:
    void ChooseRow(MonitorComboBox* combo, int row);

    std::unique_ptr<ViewerControlsWidget> mStrip;
};

void TestViewerControlsWidget::init()
{
    mStrip = std::make_unique<ViewerControlsWidget>(nullptr);
    mStrip->resize(300, 30);
    mStrip->show();
    QVERIFY(QTest::qWaitForWindowExposed(mStrip.get()));
}

void TestViewerControlsWidget::cleanup()
{
    mStrip.reset();
}

void TestViewerControlsWidget::ChooseRow(MonitorComboBox* combo, int row)
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

void TestViewerControlsWidget::TransparencyRowsRequestTheTopImageAlpha()
{
    QSignalSpy opacity(mStrip.get(), &ViewerControlsWidget::OpacityChangeRequested);
    ChooseRow(mStrip->TransparencyComboBox(), 2);
    QCOMPARE(opacity.size(), 1);
    QCOMPARE(opacity.at(0).at(0).toInt(), 0);
    QCOMPARE(opacity.at(0).at(1).toFloat(), 0.5f);
    ChooseRow(mStrip->TransparencyComboBox(), 4);
    QCOMPARE(opacity.at(1).at(1).toFloat(), 0.0f);
    ChooseRow(mStrip->TransparencyComboBox(), 0);
    QCOMPARE(opacity.at(2).at(1).toFloat(), 1.0f);
}

void TestViewerControlsWidget::LayoutRowsAndBackgroundRowsRequestTheirType()
{
    QSignalSpy layout(mStrip.get(), &ViewerControlsWidget::LayoutChangeRequested);
    QSignalSpy background(mStrip.get(), &ViewerControlsWidget::BackgroundChangeRequested);
    QSignalSpy overlay(mStrip.get(), &ViewerControlsWidget::ViewerOverlayChangeRequested);
    ChooseRow(mStrip->LayoutComboBox(), 3);
    QCOMPARE(layout.constLast().at(0).value<ViewerLayoutType>(), ViewerLayoutType::Grid);
    ChooseRow(mStrip->LayoutComboBox(), 0);
    QCOMPARE(layout.constLast().at(0).value<ViewerLayoutType>(), ViewerLayoutType::AOverB);
    ChooseRow(mStrip->BackgroundComboBox(), 2);
    QCOMPARE(background.constLast().at(0).value<ViewerBackgroundType>(), ViewerBackgroundType::LightGrey);
    ChooseRow(mStrip->OverlayComboBox(), 3);
    QCOMPARE(overlay.constLast().at(0).value<ViewerOverlayDrawable>(), ViewerOverlayDrawable::Center);
}

void TestViewerControlsWidget::LayoutDecidesOverlayAndWipeAvailability()
{
    mStrip->UpdateViewerLayout(ViewerLayoutType::HorizontalSplit);
    QCOMPARE(mStrip->LayoutComboBox()->CurrentRow(), 1);
    QVERIFY(!mStrip->OverlayComboBox()->isEnabled());
    QVERIFY(!mStrip->WipeButton()->isEnabled());
    mStrip->UpdateViewerLayout(ViewerLayoutType::AOverB);
    QCOMPARE(mStrip->LayoutComboBox()->CurrentRow(), 0);
    QVERIFY(mStrip->OverlayComboBox()->isEnabled());
    QVERIFY(mStrip->WipeButton()->isEnabled());
    // Single has no row: the selection stays, the wipe goes.
    mStrip->UpdateViewerLayout(ViewerLayoutType::Single);
    QCOMPARE(mStrip->LayoutComboBox()->CurrentRow(), 0);
    QVERIFY(!mStrip->OverlayComboBox()->isEnabled());
    QVERIFY(!mStrip->WipeButton()->isEnabled());
}

void TestViewerControlsWidget::WipeClicksToggleTheRequest()
{
    mStrip->UpdateViewerLayout(ViewerLayoutType::AOverB);
    QSignalSpy wipe(mStrip.get(), &ViewerControlsWidget::WipeEnabledRequested);
    QTest::mouseClick(mStrip->WipeButton(), Qt::LeftButton);
    QTest::mouseClick(mStrip->WipeButton(), Qt::LeftButton);
    QCOMPARE(wipe.size(), 2);
    QCOMPARE(wipe.at(0).at(0).toBool(), true);
    QCOMPARE(wipe.at(1).at(0).toBool(), false);
    mStrip->UpdateWipeState(true);
    QVERIFY(mStrip->WipeButton()->IsChecked());
}

void TestViewerControlsWidget::SelectionFromCodeEmitsNothing()
{
    QSignalSpy layout(mStrip.get(), &ViewerControlsWidget::LayoutChangeRequested);
    QSignalSpy background(mStrip.get(), &ViewerControlsWidget::BackgroundChangeRequested);
    QSignalSpy overlay(mStrip.get(), &ViewerControlsWidget::ViewerOverlayChangeRequested);
    QSignalSpy wipe(mStrip.get(), &ViewerControlsWidget::WipeEnabledRequested);
    mStrip->UpdateViewerLayout(ViewerLayoutType::VerticalSplit);
    mStrip->UpdateViewerBackground(ViewerBackgroundType::White);
    mStrip->UpdateViewerOverlayDrawable(ViewerOverlayDrawable::Grid);
    mStrip->UpdateWipeState(true);
    QCOMPARE(mStrip->LayoutComboBox()->CurrentRow(), 2);
    QCOMPARE(mStrip->BackgroundComboBox()->CurrentRow(), 3);
    QCOMPARE(mStrip->OverlayComboBox()->CurrentRow(), 2);
    // An unknown value changes nothing.
    mStrip->UpdateViewerBackground(static_cast<ViewerBackgroundType>(9));
    QCOMPARE(mStrip->BackgroundComboBox()->CurrentRow(), 3);
    QCOMPARE(layout.size() + background.size() + overlay.size() + wipe.size(), 0);
}

QTEST_MAIN(TestViewerControlsWidget)
#include "tst_viewercontrolswidget.moc"
