// TESSARIN_TEST: xvfb
// The export dialog's format list as it reaches the screen under the window's
// palette and style sheet: a pop-up that showed as an empty black box once.

#include "panels/ExportDialog.h"
#include "window/TessarinBase.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QScreen>
#include <QtTest>

namespace
{
int Distance(QColor const& a, QColor const& b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}
} // namespace

class TestExportDialogPopup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void FormatListDrawsItsRowsInThePalettesColours()
    {
        TessarinBase::SetStyle();
        QPalette const palette = QApplication::palette();
        ExportDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* combo = dialog.findChild<QComboBox*>("format");
        QVERIFY(combo);
        QTest::mouseClick(combo, Qt::LeftButton, {}, QPoint(combo->width() / 2, combo->height() / 2));
        QAbstractItemView* const view = combo->view();
        QWidget* const popup = view->window();
        QVERIFY(QTest::qWaitFor([&] { return popup->isVisible(); }, 3000));
        QVERIFY(QTest::qWaitForWindowExposed(popup));

        // The rows as the screen shows them, waited for until painted.
        QImage shot;
        QRect const first = view->visualRect(combo->model()->index(0, 0));
        QRect const second = view->visualRect(combo->model()->index(1, 0));
        QVERIFY(!first.isEmpty() && !second.isEmpty());
        QPoint const origin = view->viewport()->mapToGlobal(QPoint(0, 0));
        QRect const rows(origin, QSize(view->viewport()->width(), second.bottom() + 1));
        auto const rowColour = [&](QRect const& row, int x) {
            return shot.pixelColor(x, row.center().y());
        };
        bool const painted = QTest::qWaitFor(
            [&] {
                shot = QGuiApplication::primaryScreen()
                           ->grabWindow(0, rows.x(), rows.y(), rows.width(), rows.height())
                           .toImage();
                return Distance(rowColour(first, 2), palette.color(QPalette::Highlight)) < 30;
            },
            3000);
        QVERIFY2(painted, qPrintable(rowColour(first, 2).name()));
        // The current row in the highlight, the next on the list's own
        // background (never black), with light text drawn on it.
        QColor const background = rowColour(second, 2);
        QVERIFY2(Distance(background, palette.color(QPalette::Base)) < 30 ||
                     Distance(background, palette.color(QPalette::Window)) < 30,
                 qPrintable(background.name()));
        bool text = false;
        for (int x = 0; x < shot.width() && !text; ++x)
        {
            for (int y = second.top(); y <= second.bottom() && !text; ++y)
            {
                text = qGray(shot.pixel(x, y)) > 150;
            }
        }
        QVERIFY(text);
        QTest::keyClick(popup, Qt::Key_Escape);
        QVERIFY(QTest::qWaitFor([&] { return !popup->isVisible(); }, 3000));
    }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestExportDialogPopup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_exportdialogpopup.moc"
