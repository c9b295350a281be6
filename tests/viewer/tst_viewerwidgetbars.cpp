// TESSARIN_TEST: xvfb
// The time bars the OpenGL viewer draws inside its frame: bands where the
// settings put them, the same pixels as the bars painted as widgets, presses
// and drags on them seeking the frame under the cursor, and a bar's menu
// opening only on a release over it.
#include "ViewerTestRig.h"

#include "support/TimingBounds.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "viewer/OpenGLViewer.h"
#include "viewer/ViewerWidget.h"
#include "window/GlobalTimeControlWidget.h"
#include "window/PlaybackControlWidget.h"
#include "window/RangeTimeControlWidget.h"

#include <QApplication>
#include <QMenu>
#include <QUndoStack>
#include <QtTest>

#include <cstdlib>

namespace
{
constexpr int VIEW_WIDTH = 640;
constexpr int VIEW_HEIGHT = 480;
constexpr int GLOBAL_HEIGHT = 40;
constexpr int RANGE_HEIGHT = 46;

using ViewerTestRig::ReadNumber;

void SendMove(QWidget* widget, QPoint const& pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(QEvent::MouseMove, QPointF(pos), widget->mapToGlobal(QPointF(pos)), Qt::NoButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

struct BarLayout
{
    bool globalTop;
    bool rangeTop;
    int globalY; // band tops in a 480-pixel viewer
    int rangeY;
};

// Every placement of the two bars, with the bands they take.
QList<BarLayout> const LAYOUTS = {
    {false, true, VIEW_HEIGHT - GLOBAL_HEIGHT, 0},
    {true, false, 0, VIEW_HEIGHT - RANGE_HEIGHT},
    {true, true, 0, GLOBAL_HEIGHT},
    {false, false, VIEW_HEIGHT - GLOBAL_HEIGHT, VIEW_HEIGHT - GLOBAL_HEIGHT - RANGE_HEIGHT},
};
} // namespace

class TestViewerWidgetBars : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void MenuOpensOnlyOnAReleaseOverTheBar();
    void BarsTakeTheBandsTheSettingsGive();
    void PressAndDragOnThePaintedGlobalBarShowTheFrameUnderThem();
    void PaintedBarsMatchTheWidgetBars();

private:
    // Whether the action pops up a menu; it is closed again.
    bool MenuShown(std::function<void()> const& action);
    void ApplyLayout(BarLayout const& layout);
    // Waits until the playhead is at the frame and the viewer holds the
    // picture covering the playback time.
    bool WaitForFrame(int frame);
    // The bar's pixels as the viewer painted them, compared with the bar's own
    // grab at the centres of flat regions; the colours met go to `colours`.
    void CompareWithWidget(TimeControlBaseWidget* bar, QImage const& frame, int barY, QSet<QRgb>& colours);

    std::unique_ptr<ProjectManager> mProjectManager;
    std::unique_ptr<QWidget> mHost;
    ViewerWidget* mViewer = nullptr;
    OpenGLViewer* mGlViewer = nullptr;
    GlobalTimeControlWidget* mGlobal = nullptr;
    RangeTimeControlWidget* mRange = nullptr;
    AvManager* mAv = nullptr;
};

void TestViewerWidgetBars::initTestCase()
{
    mProjectManager = std::make_unique<ProjectManager>();
    mAv = mProjectManager->AvManagerPtr();
    mHost = std::make_unique<QWidget>();
    auto* const playback = new PlaybackControlWidget(mAv, nullptr, mHost.get());
    mGlobal = new GlobalTimeControlWidget(mProjectManager.get(), playback, mHost.get());
    mRange = new RangeTimeControlWidget(mProjectManager.get(), playback, mHost.get());
    mGlobal->hide();
    mRange->hide();
    playback->hide();
    mViewer = new ViewerWidget(mProjectManager.get(), mGlobal, mRange, playback, mHost.get());
    mViewer->setGeometry(0, 0, VIEW_WIDTH, VIEW_HEIGHT);
    mHost->resize(VIEW_WIDTH, VIEW_HEIGHT);
    mHost->show();
    QVERIFY(QTest::qWaitForWindowExposed(mHost.get()));
    mGlViewer = qobject_cast<OpenGLViewer*>(mViewer->ViewerWidgetPtr());
    QVERIFY(mGlViewer);
    QVERIFY(QTest::qWaitFor([&] { return mGlViewer->IsInitialized(); }, TimingBounds::CONDITION_WAIT_MS));

    QVERIFY(ViewerTestRig::OpenNumberedClip(mProjectManager.get(), mViewer));
    QVERIFY(QTest::qWaitFor([&] { return mGlobal->TimelinePtr() && mGlobal->TimelineEndFrame() == 71; },
                            TimingBounds::CONDITION_WAIT_MS));
}

void TestViewerWidgetBars::cleanupTestCase()
{
    mAv->Pause(DecodeBias::None);
    mHost.reset();
    mProjectManager->Shutdown();
    mProjectManager.reset();
}

void TestViewerWidgetBars::init()
{
    mAv->Pause(DecodeBias::None);
    ApplyLayout(LAYOUTS.first());
    mGlobal->ResetRange();
}

void TestViewerWidgetBars::ApplyLayout(BarLayout const& layout)
{
    Settings::globalTimeControlVisible = true;
    Settings::rangeTimeControlVisible = true;
    Settings::globalTimeControlPositionTop = layout.globalTop;
    Settings::rangeTimeControlPositionTop = layout.rangeTop;
    mGlViewer->UpdateViewerLayout();
}

bool TestViewerWidgetBars::WaitForFrame(int frame)
{
    return QTest::qWaitFor(
        [&] {
            auto const shown = mViewer->FrameInSlot(0, 3);
            long long const time = mAv->PlaybackTime();
            return mGlobal->PlaybackFrame() == frame && shown && shown->adjustedStartTime <= time &&
                   time <= shown->adjustedEndTime;
        },
        TimingBounds::CONDITION_WAIT_MS);
}

bool TestViewerWidgetBars::MenuShown(std::function<void()> const& action)
{
    action();
    // A bar's menu pops up while the release is handled; whatever the release
    // posted is handled here, so a menu that has not shown by then never does.
    QCoreApplication::processEvents();
    auto* const menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu)
    {
        return false;
    }
    menu->close();
    return QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; },
                           TimingBounds::CONDITION_WAIT_MS);
}

void TestViewerWidgetBars::MenuOpensOnlyOnAReleaseOverTheBar()
{
    auto* const viewer = qobject_cast<OpenGLViewer*>(mViewer->ViewerWidgetPtr());
    QVERIFY(viewer);
    int barY = -1;
    for (int y = 0; y < mViewer->height() && barY < 0; ++y)
    {
        if (viewer->GlobalTimeControlContains(QPoint(320, y)))
        {
            barY = y;
        }
    }
    QVERIFY2(barY >= 0, "the OpenGL viewer draws no global bar");
    QPoint const onBar(320, barY);
    QPoint offBar(320, barY < mViewer->height() / 2 ? mViewer->height() - 100 : 100);
    QVERIFY(!viewer->GlobalTimeControlContains(offBar));

    QVERIFY(!MenuShown([&] {
        QTest::mousePress(mViewer, Qt::RightButton, Qt::NoModifier, onBar);
        QTest::mouseRelease(mViewer, Qt::RightButton, Qt::NoModifier, offBar);
    }));
    QVERIFY(MenuShown([&] {
        QTest::mousePress(mViewer, Qt::RightButton, Qt::NoModifier, onBar);
        QTest::mouseRelease(mViewer, Qt::RightButton, Qt::NoModifier, onBar);
    }));
    // A right press elsewhere is not the bar's.
    QVERIFY(!MenuShown([&] {
        QTest::mousePress(mViewer, Qt::RightButton, Qt::NoModifier, offBar);
        QTest::mouseRelease(mViewer, Qt::RightButton, Qt::NoModifier, onBar);
    }));
}

void TestViewerWidgetBars::BarsTakeTheBandsTheSettingsGive()
{
    for (BarLayout const& layout : LAYOUTS)
    {
        ApplyLayout(layout);
        QString const what = QStringLiteral("global %1, range %2")
                                 .arg(layout.globalTop ? "top" : "bottom", layout.rangeTop ? "top" : "bottom");
        for (int y = 0; y < VIEW_HEIGHT; ++y)
        {
            bool const inGlobal = y >= layout.globalY && y < layout.globalY + GLOBAL_HEIGHT;
            bool const inRange = y >= layout.rangeY && y < layout.rangeY + RANGE_HEIGHT;
            QVERIFY2(mGlViewer->GlobalTimeControlContains(QPoint(VIEW_WIDTH - 1, y)) == inGlobal,
                     qPrintable(QStringLiteral("%1: global band at y %2").arg(what).arg(y)));
            QVERIFY2(mGlViewer->RangeTimeControlContains(QPoint(0, y)) == inRange,
                     qPrintable(QStringLiteral("%1: range band at y %2").arg(what).arg(y)));
        }
        // The pictures keep what the bands leave, and a capture is that area.
        int const top = (layout.globalTop ? GLOBAL_HEIGHT : 0) + (layout.rangeTop ? RANGE_HEIGHT : 0);
        QCOMPARE(mGlViewer->TimeControlOffset(), top);
        QCOMPARE(mGlViewer->ViewerSize(), QSize(VIEW_WIDTH, VIEW_HEIGHT - GLOBAL_HEIGHT - RANGE_HEIGHT));
        QCOMPARE(mViewer->CaptureImage(false).size(), mGlViewer->ViewerSize());
        QCOMPARE(mGlViewer->RangeTimeControlTransform().dy(), double(layout.rangeY));
        // The range bar's end zones follow it in the viewer.
        int const zoneY = layout.rangeY + 30;
        QVERIFY2(mGlViewer->InRangeTimeControlRangeEditZone(QPoint(10, zoneY)), qPrintable(what));
        QVERIFY2(mGlViewer->InRangeTimeControlRangeEditZone(QPoint(VIEW_WIDTH - 10, zoneY)), qPrintable(what));
        QVERIFY(!mGlViewer->InRangeTimeControlRangeEditZone(QPoint(VIEW_WIDTH / 2, zoneY)));
        QVERIFY(!mGlViewer->InRangeTimeControlRangeEditZone(QPoint(10, layout.rangeY + 5)));
    }

    // A hidden bar takes no band and gets no input.
    Settings::rangeTimeControlVisible = false;
    mGlViewer->UpdateViewerLayout();
    QCOMPARE(mGlViewer->TimeControlHeight(), GLOBAL_HEIGHT);
    QCOMPARE(mGlViewer->ViewerSize(), QSize(VIEW_WIDTH, VIEW_HEIGHT - GLOBAL_HEIGHT));
    for (int y = 0; y < VIEW_HEIGHT; ++y)
    {
        QVERIFY(!mGlViewer->RangeTimeControlContains(QPoint(10, y)));
        QVERIFY(!mGlViewer->InRangeTimeControlRangeEditZone(QPoint(10, y)));
    }
    Settings::globalTimeControlVisible = false;
    mGlViewer->UpdateViewerLayout();
    QCOMPARE(mGlViewer->TimeControlHeight(), 0);
    QCOMPARE(mViewer->CaptureImage(false).size(), QSize(VIEW_WIDTH, VIEW_HEIGHT));
}

void TestViewerWidgetBars::PressAndDragOnThePaintedGlobalBarShowTheFrameUnderThem()
{
    QUndoStack* const undo = mProjectManager->UndoStackPtr();
    int const undoCount = undo->count();
    // At the bottom the bar's y offset matters; at the top it is 0.
    for (BarLayout const& layout : {LAYOUTS[0], LAYOUTS[1]})
    {
        ApplyLayout(layout);
        int const y = layout.globalY + GLOBAL_HEIGHT / 2;
        auto atFrame = [&](int frame) {
            return QPoint(mGlobal->PositionAtFrame(frame) + mGlobal->FrameWidth(frame) / 2, y);
        };
        for (int const frame : {40, 7, 71, 0, 23})
        {
            SendMove(mViewer, atFrame(frame), Qt::NoButton);
            QTest::mousePress(mViewer, Qt::LeftButton, Qt::NoModifier, atFrame(frame));
            QVERIFY2(WaitForFrame(frame), qPrintable(QStringLiteral("frame %1 never shown").arg(frame)));
            QCOMPARE(ReadNumber(mViewer->CaptureImage(false)), frame);
            QTest::mouseRelease(mViewer, Qt::LeftButton, Qt::NoModifier, atFrame(frame));
        }
        // A drag with the button held scrubs, also off the bar's band.
        QTest::mousePress(mViewer, Qt::LeftButton, Qt::NoModifier, atFrame(10));
        QVERIFY(WaitForFrame(10));
        SendMove(mViewer, atFrame(30), Qt::LeftButton);
        QVERIFY(WaitForFrame(30));
        QCOMPARE(ReadNumber(mViewer->CaptureImage(false)), 30);
        SendMove(mViewer, QPoint(atFrame(55).x(), VIEW_HEIGHT / 2), Qt::LeftButton);
        QVERIFY(WaitForFrame(55));
        QCOMPARE(ReadNumber(mViewer->CaptureImage(false)), 55);
        QTest::mouseRelease(mViewer, Qt::LeftButton, Qt::NoModifier, QPoint(atFrame(55).x(), VIEW_HEIGHT / 2));
        // After the release a move over the picture scrubs nothing: a seek
        // would set the playback time while the move is handled.
        long long const time = mAv->PlaybackTime();
        SendMove(mViewer, QPoint(atFrame(5).x(), VIEW_HEIGHT / 2), Qt::NoButton);
        QCoreApplication::processEvents();
        QCOMPARE(mAv->PlaybackTime(), time);
        QCOMPARE(mGlobal->PlaybackFrame(), 55);
    }
    QCOMPARE(undo->count(), undoCount);
}

void TestViewerWidgetBars::CompareWithWidget(TimeControlBaseWidget* bar, QImage const& frame, int barY,
                                             QSet<QRgb>& colours)
{
    QImage const widget = bar->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(widget.size(), QSize(VIEW_WIDTH, bar->height()));
    int compared = 0;
    for (int y = 2; y < widget.height() - 2; ++y)
    {
        for (int x = 2; x < widget.width() - 2; ++x)
        {
            QRgb const centre = widget.pixel(x, y);
            bool flat = true;
            for (int dy = -2; dy <= 2 && flat; ++dy)
            {
                for (int dx = -2; dx <= 2 && flat; ++dx)
                {
                    flat = widget.pixel(x + dx, y + dy) == centre;
                }
            }
            if (!flat)
            {
                continue;
            }
            QRgb const painted = frame.pixel(x, barY + y);
            bool const near = std::abs(qRed(painted) - qRed(centre)) <= 8 &&
                              std::abs(qGreen(painted) - qGreen(centre)) <= 8 &&
                              std::abs(qBlue(painted) - qBlue(centre)) <= 8;
            QVERIFY2(near, qPrintable(QStringLiteral("%1 at (%2, %3): painted %4, widget %5")
                                          .arg(bar->metaObject()->className())
                                          .arg(x)
                                          .arg(y)
                                          .arg(painted, 8, 16)
                                          .arg(centre, 8, 16)));
            colours.insert(centre);
            ++compared;
        }
    }
    QVERIFY2(compared > 500, qPrintable(QStringLiteral("only %1 flat pixels").arg(compared)));
}

void TestViewerWidgetBars::PaintedBarsMatchTheWidgetBars()
{
    // Clip segments, slider, range ticks and the playhead cell all show.
    mGlobal->SetPlaybackRangeByFrame(10, 50);
    QVERIFY(QTest::qWaitFor([&] { return mGlobal->RangeStartFrame() == 10 && mRange->RangeEndFrame() == 50; },
                            TimingBounds::CONDITION_WAIT_MS));
    mGlobal->SetPlaybackTimeByFrame(30, false, false);
    QVERIFY(WaitForFrame(30));
    for (BarLayout const& layout : {LAYOUTS[0], LAYOUTS[1]})
    {
        ApplyLayout(layout);
        // Off the bars: no hover time in either picture.
        SendMove(mViewer, QPoint(VIEW_WIDTH / 2, VIEW_HEIGHT / 2), Qt::NoButton);
        QImage const frame = mGlViewer->CaptureFullImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(frame.size(), QSize(VIEW_WIDTH, VIEW_HEIGHT));
        QSet<QRgb> colours;
        CompareWithWidget(mGlobal, frame, layout.globalY, colours);
        CompareWithWidget(mRange, frame, layout.rangeY, colours);
        // Background, scale and slider at least: not one flat colour.
        QVERIFY2(colours.size() >= 3, qPrintable(QStringLiteral("%1 colours").arg(colours.size())));
        QVERIFY(colours.contains(qRgb(0, 0, 0)));
        QVERIFY(colours.contains(TimeControlColors::SliderGrey.rgb()));
    }
}

int main(int argc, char* argv[])
{
    return ViewerTestRig::ExecInRenderingMode<TestViewerWidgetBars>(argc, argv, true);
}

#include "tst_viewerwidgetbars.moc"
