#include "app/Settings.h"
#include "panels/PopUpWidget.h"
#include "window/MonitorComboBox.h"

#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

namespace
{
QImage Disc(QColor const& color)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRect(4, 4, 24, 24);
    return image;
}

QString SaveIcon(QTemporaryDir const& dir, QString const& name, QColor const& color)
{
    QString const path = dir.filePath(name);
    Disc(color).save(path);
    return path;
}

// The colour at the centre of the combo's 16 x 16 icon rectangle.
QColor IconCentre(QWidget& widget)
{
    return widget.grab().toImage().pixelColor(12, 12);
}

// The offscreen platform shifts windows by its frame margins (2 px).
bool Near(QPoint const& actual, QPoint const& expected)
{
    return qAbs(actual.x() - expected.x()) <= 2 && qAbs(actual.y() - expected.y()) <= 2;
}

QString Describe(QPoint const& point)
{
    return QStringLiteral("at %1, %2").arg(point.x()).arg(point.y());
}

void ClickRow(MonitorComboBox& combo, int row)
{
    QListWidget* const list = combo.List();
    QRect const rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}
} // namespace

class TestMonitorComboBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void RowsCarryTheirValuesAndCodeNeverEmits();
    void ClickedRowsEmitAndMomentaryRowsKeepTheShownRow();
    void PopUpIsNotReopenedByTheClickThatClosedIt();
    void PopUpPlacementAndMainWindowClamp();
    void OverrideIconIsPlainAtItsRowAndGreyElsewhere();
    void HighlightAboveRowZeroAndHiddenText();
    void RowsAddedAfterTheListWasBuiltAreStillReleased();

private:
    QTemporaryDir mDir;
};

void TestMonitorComboBox::init()
{
    Settings::menuWaitBetweenMousePresses = 100;
    Settings::menuWaitBetweenMousePressesEnabled = true;
}

void TestMonitorComboBox::RowsCarryTheirValuesAndCodeNeverEmits()
{
    MonitorComboBox combo(QStringLiteral("Speed"));
    QCOMPARE(combo.size(), QSize(100, 24));
    QCOMPARE(combo.toolTip(), QStringLiteral("Speed"));
    combo.AddItem(QStringLiteral("a"), 1.5f);
    combo.AddSeparator();
    combo.AddItem(QIcon(), QStringLiteral("b"), QStringLiteral("x"), true);
    QCOMPARE(combo.Count(), 3);
    QCOMPARE(combo.Data(0).toFloat(), 1.5f);
    QVERIFY(!combo.Data(1).isValid());
    QCOMPARE(combo.Data(2).toString(), QStringLiteral("x"));
    QVERIFY(!combo.Data(-1).isValid());
    QVERIFY(!combo.Data(3).isValid());

    QSignalSpy changed(&combo, &MonitorComboBox::CurrentRowChanged);
    combo.SetCurrentRow(2);
    combo.SetCurrentRow(7); // outside: paints nothing, no crash
    combo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&combo));
    combo.repaint();
    QCOMPARE(changed.count(), 0);
    QCOMPARE(combo.CurrentRow(), 7);
}

void TestMonitorComboBox::ClickedRowsEmitAndMomentaryRowsKeepTheShownRow()
{
    MonitorComboBox combo(QStringLiteral("Layout"));
    combo.AddItem(QStringLiteral("zero"), 0);
    combo.AddItem(QStringLiteral("one"), 1);
    combo.AddSeparator();
    combo.AddItem(QStringLiteral("reset"), 3, true);
    combo.SetCurrentRow(1);
    combo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&combo));
    QSignalSpy changed(&combo, &MonitorComboBox::CurrentRowChanged);

    // Only the left button opens it.
    QTest::mouseClick(&combo, Qt::RightButton);
    QVERIFY(!combo.PopUp());
    QTest::mouseClick(&combo, Qt::LeftButton);
    QVERIFY(combo.PopUp() && combo.PopUp()->isVisible());
    QListWidget* const list = combo.List();
    QCOMPARE(list->count(), 4);
    QCOMPARE(list->currentRow(), 1);
    QCOMPARE(list->item(0)->sizeHint().height(), 26);
    QCOMPARE(list->item(2)->sizeHint().height(), 4);
    QCOMPARE(list->item(2)->flags(), Qt::NoItemFlags);
    QCOMPARE(list->height(), 26 * 3 + 5 + 5);

    ClickRow(combo, 3);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.constLast().at(0).toInt(), 3);
    QCOMPARE(combo.CurrentRow(), 1);
    QCOMPARE(list->currentRow(), 1);
    QVERIFY(!combo.PopUp()->isVisible());

    QVERIFY(QTest::qWaitFor([&] { return combo.PopUp()->ReadyToReopen(); }, 1000));
    QTest::mouseClick(&combo, Qt::LeftButton);
    QVERIFY(combo.PopUp()->isVisible());
    ClickRow(combo, 0);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(combo.CurrentRow(), 0);

    // A separator cannot be chosen.
    QVERIFY(QTest::qWaitFor([&] { return combo.PopUp()->ReadyToReopen(); }, 1000));
    QTest::mouseClick(&combo, Qt::LeftButton);
    ClickRow(combo, 2);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(combo.CurrentRow(), 0);
}

void TestMonitorComboBox::PopUpIsNotReopenedByTheClickThatClosedIt()
{
    MonitorComboBox combo {QString()};
    combo.AddItem(QStringLiteral("zero"), 0);
    combo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&combo));
    QTest::mouseClick(&combo, Qt::LeftButton);
    PopUpWidget* const popUp = combo.PopUp();
    QVERIFY(popUp->isVisible());
    // Without a tool tip there is no heading: the list alone.
    QCOMPARE(popUp->findChildren<QLabel*>().size(), 0);

    // A press right after opening is swallowed by the pop-up.
    QTest::mousePress(popUp, Qt::LeftButton, Qt::NoModifier, QPoint(-5, -5));
    QVERIFY(popUp->isVisible());

    // Closed by a press on the combo: that press does not reopen it.
    popUp->close();
    QTest::mouseClick(&combo, Qt::LeftButton);
    QVERIFY(!popUp->isVisible());
    QVERIFY(QTest::qWaitFor([&] { return popUp->ReadyToReopen(); }, 1000));
    QTest::mouseClick(&combo, Qt::LeftButton);
    QVERIFY(popUp->isVisible());
    popUp->close();
}

void TestMonitorComboBox::PopUpPlacementAndMainWindowClamp()
{
    // No main window: opens without clamping.
    {
        MonitorComboBox combo(QStringLiteral("Where"));
        combo.AddItem(QStringLiteral("zero"), 0);
        combo.SetPopUpLocation(PopUpLocation::Left);
        combo.move(500, 300);
        combo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&combo));
        QTest::mouseClick(&combo, Qt::LeftButton);
        PopUpWidget* const popUp = combo.PopUp();
        QPoint const g = combo.mapToGlobal(QPoint(0, 0));
        QVERIFY2(Near(popUp->pos(), QPoint(g.x() - popUp->width(), g.y())), qPrintable(Describe(popUp->pos())));
        popUp->close();
        QVERIFY(QTest::qWaitFor([&] { return popUp->ReadyToReopen(); }, 1000));
        combo.SetPopUpLocation(PopUpLocation::Right);
        QTest::mouseClick(&combo, Qt::LeftButton);
        QVERIFY2(Near(popUp->pos(), QPoint(g.x() + 100 + 4, g.y())), qPrintable(Describe(popUp->pos())));
        popUp->close();
        QVERIFY(QTest::qWaitFor([&] { return popUp->ReadyToReopen(); }, 1000));
        combo.SetPopUpLocation(PopUpLocation::Below);
        QTest::mouseClick(&combo, Qt::LeftButton);
        QVERIFY2(Near(popUp->pos(), QPoint(static_cast<int>(g.x() + 50 - popUp->width() / 2.0), g.y() + 24 + 4)), qPrintable(Describe(popUp->pos())));
        popUp->close();
    }

    // Above, near the main window's right edge: shifted to end 4 px inside it.
    QMainWindow window;
    window.setGeometry(100, 100, 400, 300);
    auto* const central = new QWidget();
    window.setCentralWidget(central);
    auto* const combo = new MonitorComboBox(QStringLiteral("A long heading for a wide list"), central);
    combo->AddItem(QStringLiteral("zero"), 0);
    combo->move(380, 250);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(combo, Qt::LeftButton);
    PopUpWidget* const popUp = combo->PopUp();
    QPoint const g = combo->mapToGlobal(QPoint(0, 0));
    int const windowRight = window.mapToGlobal(QPoint(window.width() - 1, 0)).x();
    QVERIFY(Near(popUp->pos(), QPoint(windowRight - 4 - popUp->width() + 1, g.y() - popUp->height() - 10)));
    popUp->close();
}

void TestMonitorComboBox::OverrideIconIsPlainAtItsRowAndGreyElsewhere()
{
    MonitorComboBox combo(QStringLiteral("Speed"));
    for (int row = 0; row < 4; ++row)
    {
        combo.AddItem(QStringLiteral("row %1").arg(row), row);
    }
    combo.SetSelectedIconOverride(Disc(QColor(0, 160, 0)), 2);
    combo.SetCurrentRow(2);
    combo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&combo));
    QCOMPARE(IconCentre(combo), QColor(0, 160, 0));
    combo.SetCurrentRow(0);
    QCOMPARE(IconCentre(combo), MonitorComboBox::HighlightColor());
    combo.SetCurrentRow(3);
    QCOMPARE(IconCentre(combo), MonitorComboBox::HighlightColor());

    // Override for every row: always plain; a null image clears it.
    combo.SetSelectedIconOverride(Disc(QColor(0, 0, 200)), -1);
    QCOMPARE(IconCentre(combo), QColor(0, 0, 200));
    combo.SetSelectedIconOverride(QImage(), 5);
    QColor const empty = IconCentre(combo);
    QVERIFY(empty != QColor(0, 0, 200) && empty != MonitorComboBox::HighlightColor());
}

void TestMonitorComboBox::HighlightAboveRowZeroAndHiddenText()
{
    QString const red = SaveIcon(mDir, QStringLiteral("red.png"), QColor(220, 0, 0));
    MonitorComboBox combo(QStringLiteral("Layer"));
    combo.AddItem(MonitorComboBox::CreateIcon(red, true, true), QStringLiteral("first"), 0);
    combo.AddItem(MonitorComboBox::CreateIcon(red, true, true), QStringLiteral("second"), 1);
    combo.SetHighlightSelectedIconIndexGtZero(true);
    combo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&combo));
    QCOMPARE(IconCentre(combo), QColor(220, 0, 0));
    combo.SetCurrentRow(1);
    QCOMPARE(IconCentre(combo), MonitorComboBox::HighlightColor());

    // The text beside the icon, only while visible.
    auto textPixels = [&] {
        QImage const image = combo.grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
        {
            for (int x = 28; x < image.width(); ++x)
            {
                count += image.pixelColor(x, y) != image.pixelColor(99, 0) ? 1 : 0;
            }
        }
        return count;
    };
    QVERIFY(textPixels() > 0);
    combo.SetSelectedTextVisible(false);
    QCOMPARE(textPixels(), 0);

    // A fill-black icon shows black when hovered in the list.
    QIcon const icon = MonitorComboBox::CreateIcon(red, true, false);
    QCOMPARE(icon.pixmap(32, 32, QIcon::Active).toImage().pixelColor(16, 16), QColor(Qt::black));
    QCOMPARE(icon.pixmap(32, 32, QIcon::Normal).toImage().pixelColor(16, 16), QColor(220, 0, 0));
}

void TestMonitorComboBox::RowsAddedAfterTheListWasBuiltAreStillReleased()
{
    // Under the sanitizer a leak here fails the run.
    auto* const combo = new MonitorComboBox(QStringLiteral("Rows"));
    combo->AddItem(QStringLiteral("zero"), 0);
    combo->show();
    QTest::mouseClick(combo, Qt::LeftButton);
    combo->AddItem(QStringLiteral("late"), 1);
    QCOMPARE(combo->Count(), 2);
    QCOMPARE(combo->List()->count(), 1);
    QCOMPARE(combo->Data(1).toInt(), 1);
    combo->PopUp()->close();
    delete combo;

    auto* const unopened = new MonitorComboBox(QStringLiteral("Rows"));
    unopened->AddItem(QStringLiteral("zero"), 0);
    delete unopened;
}

QTEST_MAIN(TestMonitorComboBox)
#include "tst_monitorcombobox.moc"
