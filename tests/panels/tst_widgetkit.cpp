#include "app/Settings.h"
#include "media/AvManager.h"
#include "panels/FlatButton.h"
#include "panels/MonitorSpinBox.h"
#include "panels/PopUpWidget.h"
#include "panels/SmoothSlider.h"
#include "panels/VolumeSlider.h"
#include "panels/VolumeWidget.h"

#include <QElapsedTimer>
#include <QLayout>
#include <QSignalSpy>
#include <QtTest>

namespace
{
QImage Square()
{
    QImage image(20, 20, QImage::Format_ARGB32);
    image.fill(QColor(200, 30, 30));
    return image;
}

void Wheel(QWidget* widget, int delta)
{
    QPointF const pos(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(pos, widget->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}
} // namespace

class TestWidgetKit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void VolumeArithmetic_data();
    void VolumeArithmetic();
    void GaugeSnapsAndClampsAndMutingShowsZero();
    void MuteAndUnmuteAlwaysReachTheEngine();
    void ButtonEmitsClickOnlyForAReleaseInside();
    void ButtonAppearanceFollowsHoverTintAndSwatch();
    void PopUpCannotReopenInsideItsGuard();
    void SliderJumpsToPressWithExactEdgesAndKeepsLastValueInRange();
    void SpinBoxSliderWorksInHundredths();

private:
    AvManager* mAv = nullptr;
};

void TestWidgetKit::init()
{
    Settings::volume = 100;
    Settings::muted = false;
    Settings::hardwareRenderingEnabled = false;
    Settings::LatchHardwareRendering();
    Settings::menuWaitBetweenMousePresses = 100;
    Settings::menuWaitBetweenMousePressesEnabled = true;
    if (!mAv)
    {
        mAv = new AvManager(this);
    }
}

void TestWidgetKit::VolumeArithmetic_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("argument");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("expected");
    QTest::newRow("increase default from 100") << "increase" << -1 << 100 << 105;
    QTest::newRow("increase default from 103") << "increase" << -1 << 103 << 105;
    QTest::newRow("increase 10 from 145") << "increase" << 10 << 145 << 150;
    QTest::newRow("increase at the top") << "increase" << 5 << 150 << 150;
    QTest::newRow("decrease default from 100") << "decrease" << -1 << 100 << 95;
    QTest::newRow("decrease default from 103") << "decrease" << -1 << 103 << 100;
    QTest::newRow("decrease at 0") << "decrease" << 0 << 0 << 0;
    QTest::newRow("wheel up from 95") << "wheel" << 120 << 95 << 100;
    QTest::newRow("wheel up from 100") << "wheel" << 120 << 100 << 110;
    QTest::newRow("wheel down from 100") << "wheel" << -120 << 100 << 90;
    QTest::newRow("wheel down from 97") << "wheel" << -120 << 97 << 90;
    QTest::newRow("wheel up at the top") << "wheel" << 120 << 150 << 150;
    QTest::newRow("wheel without vertical delta") << "wheel" << 0 << 97 << 97;
    QTest::newRow("set above the top") << "set" << 400 << 20 << 150;
    QTest::newRow("set below 0") << "set" << -5 << 20 << 0;
}

void TestWidgetKit::VolumeArithmetic()
{
    QFETCH(QString, operation);
    QFETCH(int, argument);
    QFETCH(int, from);
    QFETCH(int, expected);
    Settings::volume = from;
    VolumeWidget widget(false, mAv, nullptr);
    if (operation == "increase")
    {
        widget.IncreaseVolume(argument);
    }
    else if (operation == "decrease")
    {
        widget.DecreaseVolume(argument);
    }
    else if (operation == "wheel")
    {
        Wheel(&widget, argument);
    }
    else
    {
        widget.SetVolume(argument);
    }
    QCOMPARE(Settings::volume, expected);
    QCOMPARE(widget.Slider()->Volume(), expected);
}

void TestWidgetKit::GaugeSnapsAndClampsAndMutingShowsZero()
{
    VolumeSlider slider(false);
    slider.SetMaximum(150);
    QCOMPARE(slider.width(), 80);
    // 150 / 80 per pixel: 53 px -> 99.375, 54 -> 101.25 (both snap), 55 -> 103.
    QCOMPARE(slider.VolumeAtPosition(53), 100);
    QCOMPARE(slider.VolumeAtPosition(54), 100);
    QCOMPARE(slider.VolumeAtPosition(55), 103);

    QSignalSpy changed(&slider, &VolumeSlider::VolumeChanged);
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(53, 10));
    QCOMPARE(changed.count(), 0); // 100 already
    QTest::mouseMove(&slider, QPoint(79, 10));
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(79, 10));
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(79, 10));
    QCOMPARE(slider.Volume(), 148);
    QCOMPARE(changed.count(), 1);
    slider.SetVolume(1000);
    QCOMPARE(slider.Volume(), 150);
    slider.SetMaximum(120);
    QCOMPARE(slider.Volume(), 120);
    QCOMPARE(changed.constLast().at(0).toInt(), 120);

    // Muting shows 0; dragging while muted unmutes, to the dragged value.
    Settings::volume = 80;
    VolumeWidget widget(false, mAv, nullptr);
    widget.show();
    widget.ToggleMute();
    QVERIFY(Settings::muted);
    QCOMPARE(widget.Slider()->Volume(), 0);
    QTest::mousePress(widget.Slider(), Qt::LeftButton, Qt::NoModifier, QPoint(40, 10));
    QVERIFY(!Settings::muted);
    QCOMPARE(Settings::volume, 75);
    QCOMPARE(widget.Slider()->Volume(), 75);
}

void TestWidgetKit::MuteAndUnmuteAlwaysReachTheEngine()
{
    VolumeWidget widget(false, mAv, nullptr);
    QSignalSpy engine(mAv, &AvManager::AudioOutputStateUpdated);
    QSignalSpy muted(&widget, &VolumeWidget::MutedStateChanged);

    QTest::mouseClick(widget.MuteButton(), Qt::LeftButton);
    QVERIFY(Settings::muted);
    QCOMPARE(engine.count(), 1);
    QCOMPARE(muted.constLast().at(0).toBool(), true);

    // Unmuted by asking for the volume it already has: the engine must hear it.
    widget.SetVolume(Settings::volume);
    QVERIFY(!Settings::muted);
    QCOMPARE(engine.count(), 2);
    QCOMPARE(muted.constLast().at(0).toBool(), false);
    QCOMPARE(widget.Slider()->Volume(), 100);

    // The same volume again, not muted: nothing to tell.
    widget.SetVolume(Settings::volume);
    QCOMPARE(engine.count(), 2);

    // A state change without apply still reaches the engine; a repeat does not.
    widget.SetMuted(true, false);
    QCOMPARE(engine.count(), 3);
    widget.SetMuted(true, false);
    QCOMPARE(engine.count(), 3);
    widget.SetMuted(false, true);
    QCOMPARE(engine.count(), 4);
    QCOMPARE(widget.MuteButton()->toolTip(), QStringLiteral("Mute"));
}

void TestWidgetKit::ButtonEmitsClickOnlyForAReleaseInside()
{
    QWidget host;
    host.resize(200, 100);
    FlatButton* const button = FlatButton::CreateButton(Square(), QSize(30, 30), 2, QStringLiteral("tip"));
    button->setParent(&host);
    button->move(10, 10);
    host.show();
    QCOMPARE(button->size(), QSize(30, 30));
    QCOMPARE(button->toolTip(), QStringLiteral("tip"));

    QSignalSpy clicked(button, &FlatButton::clicked);
    QSignalSpy released(button, &FlatButton::released);
    QSignalSpy rightClicked(button, &FlatButton::rightClicked);
    QSignalSpy rightReleased(button, &FlatButton::rightReleased);

    QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, QPoint(60, 5));
    QCOMPARE(released.count(), 1);
    QCOMPARE(clicked.count(), 0);
    QTest::mousePress(button, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseRelease(button, Qt::RightButton, Qt::NoModifier, QPoint(5, -3));
    QCOMPARE(rightReleased.count(), 1);
    QCOMPARE(rightClicked.count(), 0);

    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(29, 29));
    QTest::mouseClick(button, Qt::RightButton, Qt::NoModifier, QPoint(0, 0));
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(rightClicked.count(), 1);
}

void TestWidgetKit::ButtonAppearanceFollowsHoverTintAndSwatch()
{
    auto centre = [](FlatButton& button) { return button.grab().toImage().pixelColor(15, 15); };
    FlatButton button;
    button.SetImage(Square(), 0);
    // Shown under the cursor, a button starts highlighted.
    QCursor::setPos(button.mapToGlobal(QPoint(10, 10)));
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QCOMPARE(centre(button), FlatButton::ButtonDownColor());
    button.hide();
    QCursor::setPos(button.mapToGlobal(QPoint(300, 300)));
    button.show();
    QCOMPARE(centre(button), QColor(200, 30, 30));

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), button.mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(&button, &enter);
    QCOMPARE(centre(button), FlatButton::ButtonDownColor());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    QCOMPARE(centre(button), QColor(200, 30, 30));

    // Hover highlighting off, or a disabled button: no change on enter.
    button.SetMouseOverEnabled(false);
    QApplication::sendEvent(&button, &enter);
    QCOMPARE(centre(button), QColor(200, 30, 30));
    button.SetMouseOverEnabled(true);
    button.setEnabled(false);
    QApplication::sendEvent(&button, &enter);
    QCOMPARE(centre(button), QColor(200, 30, 30));
    button.setEnabled(true);

    button.SetChecked(true);
    QCOMPARE(centre(button), FlatButton::ButtonDownColor());
    button.SetChecked(false);
    button.SetColor(QColor(1, 2, 3), QColor(0, 0, 255));
    QCOMPARE(centre(button), QColor(0, 0, 255));

    // Without image the button is a swatch; an invalid colour restores the
    // background it was made with.
    FlatButton swatch;
    QColor const background = swatch.GetColor();
    swatch.show();
    swatch.SetColor(QColor(10, 200, 10));
    QCOMPARE(centre(swatch), QColor(10, 200, 10));
    swatch.SetColor(QColor());
    QCOMPARE(swatch.GetColor(), background);
    QCOMPARE(centre(swatch), background);
}

void TestWidgetKit::PopUpCannotReopenInsideItsGuard()
{
    PopUpWidget popUp;
    QSignalSpy finished(&popUp, &PopUpWidget::Finished);
    QVERIFY(popUp.ReadyToReopen());
    popUp.show();
    QVERIFY(!popUp.ReadyToReopen());
    QVERIFY(QTest::qWaitFor([&] { return popUp.ReadyToReopen(); }, 1000));
    QElapsedTimer sinceClose;
    sinceClose.start();
    popUp.close();
    QCOMPARE(finished.count(), 1);
    QVERIFY(!popUp.ReadyToReopen());
    QVERIFY(QTest::qWaitFor([&] { return popUp.ReadyToReopen(); }, 1000));
    QVERIFY2(sinceClose.elapsed() >= 50, qPrintable(QString::number(sinceClose.elapsed()))); // 100 ms guard

    // The guard holds after a close even when the press throttle is off.
    Settings::menuWaitBetweenMousePressesEnabled = false;
    popUp.show();
    popUp.close();
    QVERIFY(!popUp.ReadyToReopen());

    // Widgets are laid out in order.
    auto* const first = new QWidget();
    first->setFixedSize(50, 10);
    auto* const second = new QWidget();
    second->setFixedSize(30, 20);
    popUp.AddWidget(first);
    popUp.AddWidget(second);
    popUp.UpdateLayout();
    QCOMPARE(first->parentWidget(), &popUp);
    QCOMPARE(popUp.size(), QSize(50, 30 + popUp.layout()->spacing()));
}

void TestWidgetKit::SliderJumpsToPressWithExactEdgesAndKeepsLastValueInRange()
{
    QWidget host;
    auto* const slider = new SmoothSlider(Qt::Horizontal, &host);
    slider->setRange(0, 1000);
    slider->setFixedSize(400, 24);
    slider->setValue(500);
    host.show();
    QSignalSpy changed(slider, &SmoothSlider::SliderPositionChanged);

    // Edge margin trunc(400 * 0.005) = 2: x 1 is the minimum, 399 the maximum.
    QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(1, 12));
    QCOMPARE(slider->value(), 0);
    QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(399, 12));
    QCOMPARE(slider->value(), 1000);
    QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(100, 12));
    QCOMPARE(slider->value(), 250);
    QCOMPARE(changed.count(), 3);

    // A drag past the right end keeps the last value inside the range.
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, QPoint(300, 12));
    QCOMPARE(slider->value(), 750);
    QMouseEvent move(QEvent::MouseMove, QPointF(398, 12), slider->mapToGlobal(QPointF(398, 12)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &move);
    QCOMPARE(slider->value(), 995);
    QMouseEvent past(QEvent::MouseMove, QPointF(460, 12), slider->mapToGlobal(QPointF(460, 12)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &past);
    QCOMPARE(slider->value(), 995);
    QMouseEvent before(QEvent::MouseMove, QPointF(-30, 12), slider->mapToGlobal(QPointF(-30, 12)), Qt::NoButton,
                       Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &before);
    QCOMPARE(slider->value(), 995);
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(300, 12));

    // Arrow keys do not step it; Escape hides it.
    QTest::keyClick(slider, Qt::Key_Right);
    QCOMPARE(slider->value(), 995);
    QTest::keyClick(slider, Qt::Key_Escape);
    QVERIFY(slider->isHidden());
}

void TestWidgetKit::SpinBoxSliderWorksInHundredths()
{
    MonitorSpinBox spinBox(QStringLiteral("Opacity"));
    spinBox.SetMinimum(0.0);
    spinBox.SetMaximum(1.0);
    spinBox.SetSingleStep(0.01);
    spinBox.SetValue(0.29);
    spinBox.show();
    QSignalSpy changed(&spinBox, &MonitorSpinBox::valueChanged);
    QVERIFY(!spinBox.Slider());

    QTest::mouseClick(spinBox.DropDownButton(), Qt::LeftButton);
    SmoothSlider* const slider = spinBox.Slider();
    QVERIFY(slider);
    QVERIFY(spinBox.PopUp()->isVisible());
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 100);
    QCOMPARE(slider->singleStep(), 1);
    QCOMPARE(slider->value(), 29);
    QCOMPARE(changed.count(), 0); // opening sets the slider silently

    slider->setValue(37);
    QCOMPARE(spinBox.Value(), 0.37);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.constLast().at(0).toDouble(), 0.37);

    spinBox.SetValue(0.5);
    QCOMPARE(changed.count(), 2);

    // Clicking the button again right after closing does not reopen it.
    spinBox.PopUp()->close();
    QTest::mouseClick(spinBox.DropDownButton(), Qt::LeftButton);
    QVERIFY(!spinBox.PopUp()->isVisible());
    QVERIFY(QTest::qWaitFor([&] { return spinBox.PopUp()->ReadyToReopen(); }, 1000));
    QTest::mouseClick(spinBox.DropDownButton(), Qt::LeftButton);
    QVERIFY(spinBox.PopUp()->isVisible());
    QCOMPARE(slider->value(), 50);
}

QTEST_MAIN(TestWidgetKit)
#include "tst_widgetkit.moc"
