// TESSARIN_TEST: xvfb
#include "../media/EngineTestRig.h"
#include "ProjectTimelines.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/FrameBookmark.h"
#include "model/ProjectManager.h"
#include "panels/FlatButton.h"
#include "window/GlobalTimeControlWidget.h"
#include "window/PlaybackControlWidget.h"
#include "window/RangeTimeControlWidget.h"

#include <QPainter>
#include <QSignalSpy>
#include <QUndoStack>
#include <QScopeGuard>
#include <QVBoxLayout>
#include <QtTest>

using namespace EngineTestRig;
using namespace TimeControlColors;

namespace
{
void SendMove(QWidget* widget, QPoint const& pos, Qt::MouseButtons buttons,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(QEvent::MouseMove, QPointF(pos), widget->mapToGlobal(QPointF(pos)), Qt::NoButton, buttons,
                      modifiers);
    QApplication::sendEvent(widget, &event);
}

void Hover(QWidget* widget, QPoint const& pos)
{
    SendMove(widget, pos, Qt::NoButton);
}

void Drag(QWidget* widget, QPoint const& pos, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    SendMove(widget, pos, Qt::LeftButton, modifiers);
}

// A colour drawn over another with its alpha.
QColor Over(QColor const& top, QColor const& below)
{
    double const a = top.alphaF();
    return QColor(qRound(top.red() * a + below.red() * (1 - a)), qRound(top.green() * a + below.green() * (1 - a)),
                  qRound(top.blue() * a + below.blue() * (1 - a)));
}

bool Near(QColor const& actual, QColor const& expected)
{
    return qAbs(actual.red() - expected.red()) <= 3 && qAbs(actual.green() - expected.green()) <= 3 &&
           qAbs(actual.blue() - expected.blue()) <= 3;
}

QString Describe(QColor const& actual, QColor const& expected, QString const& what)
{
    return QStringLiteral("%1: got %2, expected %3").arg(what, actual.name(), expected.name());
}
} // namespace

class TestTimeControls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void PressSeeksTheFrameUnderItAndDragScrubs();
    void StartHandleDragIsOneUndoStep();
    void EndHandleMovesByTheFramesMoved();
    void MovingTheRangeKeepsItsLength();
    void RangeBarHandlesStepWithoutSeeking();
    void StepButtonsMoveOneFrameEachWay();
    void BookmarkOrEditJumpsAndBarPicture();
    void CacheBarFollowsTheFillThenStopsPolling();
    void TimelineSwitchedMidDragGetsNoCommand();
    void ViewerEntryPointsAndBookmarkToggles();
    void InfoTextsStandApartAndShownFrameTimesFollow();

private:
    void Open(Timeline* timeline);
    void Seek(int frame);
    int Shown() const;
    QPoint GlobalAt(int frame, int y = 10) const;

    std::unique_ptr<ProjectManager> mProjectManager;
    AvManager* mAv = nullptr;
    QUndoStack* mUndo = nullptr;
    Timeline* mTimeline = nullptr; // the project's
    Timeline* mOpen = nullptr;
    std::unique_ptr<ViewerProbe> mProbe;
    std::unique_ptr<QWidget> mHost;
    PlaybackControlWidget* mControl = nullptr;
    GlobalTimeControlWidget* mGlobal = nullptr;
    RangeTimeControlWidget* mRange = nullptr;
};

void TestTimeControls::initTestCase()
{
    Settings::hardwareRenderingEnabled = false;
    Settings::LatchHardwareRendering();
    Settings::loopState = 1;
    Settings::pausePlaybackOnSeek = false;
    mProjectManager = std::make_unique<ProjectManager>();
    mAv = mProjectManager->AvManagerPtr();
    mUndo = mProjectManager->UndoStackPtr();
    mTimeline = ProjectTimelines::AddSource(*mProjectManager, QStringLiteral("numbered_gop250.mp4"));
    QVERIFY(mTimeline);

    mHost = std::make_unique<QWidget>();
    mControl = new PlaybackControlWidget(mAv, nullptr, mHost.get());
    mGlobal = new GlobalTimeControlWidget(mProjectManager.get(), mControl, mHost.get());
    mRange = new RangeTimeControlWidget(mProjectManager.get(), mControl, mHost.get());
    auto* const layout = new QVBoxLayout(mHost.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(mRange);
    layout->addWidget(mGlobal);
    layout->addWidget(mControl);
    connect(mControl, &PlaybackControlWidget::FrameStepForwardRequested, mGlobal,
            &GlobalTimeControlWidget::FrameStepForward);
    connect(mControl, &PlaybackControlWidget::FrameStepBackwardRequested, mGlobal,
            &GlobalTimeControlWidget::FrameStepBackward);
    mHost->setFixedWidth(1000);
    mHost->move(200, 200);
    mHost->show();
    QCursor::setPos(0, 0);
    QVERIFY(QTest::qWaitForWindowExposed(mHost.get()));
    QCOMPARE(mGlobal->width(), 1000);
    Open(mTimeline);
}

void TestTimeControls::cleanupTestCase()
{
    mHost.reset();
    mProbe.reset();
    mProjectManager->Shutdown();
}

void TestTimeControls::init()
{
    Settings::loopOnStepScrub = true;
    Settings::loopStepScrubToRange = true;
    Settings::lockStepScrubToRange = true;
    if (mGlobal->TimelinePtr() != mTimeline || mOpen != mTimeline)
    {
        Open(mTimeline);
    }
    mTimeline->SetPlaybackRangeByFrame(0, -1);
    Seek(0);
    mUndo->clear();
}

void TestTimeControls::Open(Timeline* timeline)
{
    mProbe = std::make_unique<ViewerProbe>(mAv, timeline);
    mAv->DecodeTimeline(timeline, 0, false, true, false);
    mOpen = timeline;
    QCOMPARE(mGlobal->TimelinePtr(), timeline);
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()); }, 20000));
}

void TestTimeControls::Seek(int frame)
{
    mAv->SetPlaybackTime(mOpen->TimeAtFrame(frame, false), false, false, true, true);
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()); }, 20000));
    QCOMPARE(mGlobal->PlaybackFrame(), frame);
}

int TestTimeControls::Shown() const
{
    return mProbe->shown ? ReadNumber(*mProbe->shown) : -3;
}

QPoint TestTimeControls::GlobalAt(int frame, int y) const
{
    return QPoint(mGlobal->PositionAtFrame(frame), y);
}

void TestTimeControls::PressSeeksTheFrameUnderItAndDragScrubs()
{
    QCOMPARE(mGlobal->TimelineRect().left(), 106);
    QCOMPARE(mGlobal->TimelineRect().right(), 1000 - 108);
    Hover(mGlobal, GlobalAt(100));
    QTest::mousePress(mGlobal, Qt::LeftButton, Qt::NoModifier, GlobalAt(100));
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()) && Shown() == 100; }, 20000));
    QCOMPARE(mGlobal->PlaybackFrame(), 100);
    Drag(mGlobal, GlobalAt(150) + QPoint(1, 0));
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()) && Shown() == 150; }, 20000));
    QTest::mouseRelease(mGlobal, Qt::LeftButton, Qt::NoModifier, GlobalAt(150));
    QCOMPARE(mUndo->count(), 0);

    // A press anywhere on the playhead's pixels keeps its frame.
    for (QPoint const pos : {GlobalAt(150), GlobalAt(151) - QPoint(1, 0)})
    {
        // A press seeks at once (the engine takes the time before the press
        // returns): a wrong frame would show here already.
        QTest::mouseClick(mGlobal, Qt::LeftButton, Qt::NoModifier, pos);
        QCOMPARE(mOpen->FrameAtTime(mAv->PlaybackTime()), 150);
    }
    // The last pixel is the last frame, one past the scale too.
    QTest::mouseClick(mGlobal, Qt::LeftButton, Qt::NoModifier, QPoint(mGlobal->TimelineRect().right() + 5, 10));
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()) && Shown() == 299; }, 20000));
    QVERIFY2(mProbe->mismatches.isEmpty(), qPrintable(mProbe->mismatches.join('\n')));
}

void TestTimeControls::StartHandleDragIsOneUndoStep()
{
    mGlobal->SetPlaybackRangeByFrame(50, 200);
    mUndo->clear();
    int const xs = mGlobal->PositionAtFrame(50);
    QPoint const grab(xs - 4, 30);
    Hover(mGlobal, grab);
    QTest::mousePress(mGlobal, Qt::LeftButton, Qt::NoModifier, grab);
    QVERIFY(mGlobal->IsDragging());
    QVERIFY(QTest::qWaitFor([&] { return mGlobal->PlaybackFrame() == 50; }, 20000));
    int const target = mGlobal->FrameAtPosition(xs + 30);
    QVERIFY(target > 55);
    Drag(mGlobal, grab + QPoint(30, 0));
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), target);
    QCOMPARE(mUndo->count(), 0);
    QTest::mouseRelease(mGlobal, Qt::LeftButton, Qt::NoModifier, grab + QPoint(30, 0));
    QCOMPARE(mUndo->count(), 1);
    QVERIFY(QTest::qWaitFor([&] { return mGlobal->PlaybackFrame() == target; }, 20000));

    mUndo->undo();
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), 50);
    QCOMPARE(mOpen->PlaybackRangeEndFrame(), 200);
    QCOMPARE(mGlobal->RangeStartFrame(), 50);
    mUndo->redo();
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), target);
    QCOMPARE(mOpen->PlaybackRangeEndFrame(), 200);

    // Past the end it is pinned at the end.
    QPoint const again(mGlobal->PositionAtFrame(target) - 4, 30);
    Hover(mGlobal, again);
    QTest::mousePress(mGlobal, Qt::LeftButton, Qt::NoModifier, again);
    Drag(mGlobal, QPoint(mGlobal->PositionAtFrame(260), 30));
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), 200);
    // Back where it began: no step.
    Drag(mGlobal, again);
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), target);
    QTest::mouseRelease(mGlobal, Qt::LeftButton, Qt::NoModifier, again);
    QCOMPARE(mUndo->count(), 1);
    QVERIFY(!mGlobal->IsDragging());

    // A release that never reached the bar: the next move without the button
    // ends the drag with its one step.
    Hover(mGlobal, again);
    QTest::mousePress(mGlobal, Qt::LeftButton, Qt::NoModifier, again);
    Drag(mGlobal, again + QPoint(30, 0));
    int const lost = mOpen->PlaybackRangeStartFrame();
    QVERIFY(lost > target);
    Hover(mGlobal, again + QPoint(90, 0));
    QVERIFY(!mGlobal->IsDragging());
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), lost);
    QCOMPARE(mUndo->count(), 2);
    QTest::mouseRelease(mGlobal, Qt::LeftButton, Qt::NoModifier, again + QPoint(90, 0));
    QCOMPARE(mUndo->count(), 2);
}

void TestTimeControls::EndHandleMovesByTheFramesMoved()
{
    mGlobal->SetPlaybackRangeByFrame(50, 200);
    mUndo->clear();
    int const xe = mGlobal->PositionAtFrame(201);
    QPoint const grab(xe + 3, 30);
    Hover(mGlobal, grab);
    QTest::mousePress(mGlobal, Qt::LeftButton, Qt::NoModifier, grab);
    QVERIFY(QTest::qWaitFor([&] { return mGlobal->PlaybackFrame() == 200; }, 20000));
    // No jump on the first move.
    Drag(mGlobal, grab + QPoint(1, 0));
    QCOMPARE(mOpen->PlaybackRangeEndFrame(), 200);
    int const moved = mGlobal->PositionAtFrame(220) - mGlobal->PositionAtFrame(200);
    Drag(mGlobal, grab + QPoint(moved, 0));
    QCOMPARE(mOpen->PlaybackRangeEndFrame(), 220);
    Drag(mGlobal, QPoint(10, 30)); // before the start: pinned at it
    QCOMPARE(mOpen->PlaybackRangeEndFrame(), 50);
    Drag(mGlobal, grab + QPoint(moved, 0));
    QTest::mouseRelease(mGlobal, Qt::LeftButton, Qt::NoModifier, grab + QPoint(moved, 0));
    QCOMPARE(mUndo->count(), 1);
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), 50);
    QCOMPARE(mOpen->PlaybackRangeEndFrame(), 220);
}

void TestTimeControls::MovingTheRangeKeepsItsLength()
{
    mGlobal->SetPlaybackRangeByFrame(50, 200);
    mUndo->clear();
    QPoint const inside = GlobalAt(100, 30) + QPoint(1, 0);
    Hover(mGlobal, inside);
    QTest::mousePress(mGlobal, Qt::LeftButton, Qt::NoModifier, inside);
    Drag(mGlobal, GlobalAt(120, 30) + QPoint(1, 0));
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), 70);
    QCOMPARE(mOpen->PlaybackRangeEndFrame(), 220);
    // Pushed against the end: the length stays 151.
    Drag(mGlobal, QPoint(mGlobal->TimelineRect().right() + 100, 30));
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), 149);
    QCOMPARE(mOpen->PlaybackRangeEndFrame(), 299);
    QTest::mouseRelease(mGlobal, Qt::LeftButton, Qt::NoModifier, QPoint(mGlobal->TimelineRect().right() + 100, 30));
    QCOMPARE(mUndo->count(), 1);

    QPoint const again = GlobalAt(200, 30) + QPoint(1, 0);
    Hover(mGlobal, again);
    QTest::mousePress(mGlobal, Qt::LeftButton, Qt::NoModifier, again);
    Drag(mGlobal, QPoint(0, 30));
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), 0);
    QCOMPARE(mOpen->PlaybackRangeEndFrame(), 150);
    QTest::mouseRelease(mGlobal, Qt::LeftButton, Qt::NoModifier, QPoint(0, 30));
    QCOMPARE(mUndo->count(), 2);
    mUndo->undo();
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), 149);
    QCOMPARE(mOpen->PlaybackRangeEndFrame(), 299);
}

void TestTimeControls::RangeBarHandlesStepWithoutSeeking()
{
    mRange->SetPlaybackRangeByFrame(100, 200);
    Seek(150);
    mUndo->clear();
    QCOMPARE(mRange->width(), 1000);
    auto dragStart = [&](QList<int> const& xs, Qt::KeyboardModifiers modifiers) {
        QPoint const grab(20, 30);
        Hover(mRange, grab);
        QTest::mousePress(mRange, Qt::LeftButton, Qt::NoModifier, grab);
        for (int x : xs)
        {
            Drag(mRange, QPoint(x, 30), modifiers);
        }
        QTest::mouseRelease(mRange, Qt::LeftButton, Qt::NoModifier, QPoint(xs.constLast(), 30));
    };
    dragStart({59}, Qt::ShiftModifier);
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), 101);
    dragStart({60}, Qt::ShiftModifier);
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), 103);
    dragStart({45, 70, 95, 120}, Qt::ShiftModifier);
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), 108);
    dragStart({27}, Qt::ControlModifier);
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), 115);
    dragStart({24}, Qt::NoModifier); // under one step of 5 px
    QCOMPARE(mOpen->PlaybackRangeStartFrame(), 115);
    QCOMPARE(mUndo->count(), 4);
    // A handle press never seeks; the playhead stays inside the range.
    QCOMPARE(mOpen->FrameAtTime(mAv->PlaybackTime()), 150);

    // The end pulled in below the playhead takes the playhead with it.
    int const w = mRange->width();
    QPoint const endGrab(w - 20, 30);
    Hover(mRange, endGrab);
    QTest::mousePress(mRange, Qt::LeftButton, Qt::NoModifier, endGrab);
    Drag(mRange, endGrab - QPoint(60, 0), Qt::ControlModifier);
    QTest::mouseRelease(mRange, Qt::LeftButton, Qt::NoModifier, endGrab - QPoint(60, 0));
    QCOMPARE(mOpen->PlaybackRangeEndFrame(), 140);
    QVERIFY(QTest::qWaitFor([&] { return mGlobal->PlaybackFrame() == 140; }, 20000));
    QCOMPARE(mUndo->count(), 5);

    // A press off the handles scrubs over the range.
    int const x = mRange->PositionAtFrame(120);
    QTest::mouseClick(mRange, Qt::LeftButton, Qt::NoModifier, QPoint(x, 40));
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()) && Shown() == 120; }, 20000));
}

void TestTimeControls::StepButtonsMoveOneFrameEachWay()
{
    Seek(100);
    QVERIFY(QTest::qWaitFor([&] { return mOpen->VideoCacheReadyAtTime(mOpen->TimeAtFrame(101, false)); }, 20000));
    QTest::mouseClick(mControl->NextFrameButton(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()) && Shown() == 101; }, 20000));
    QVERIFY(QTest::qWaitFor([&] { return mOpen->VideoCacheReadyAtTime(mOpen->TimeAtFrame(100, false)); }, 20000));
    QTest::mouseClick(mControl->PreviousFrameButton(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()) && Shown() == 100; }, 20000));

    // Back from frame 0 with looping: the last frame (not cached: not exact).
    Seek(0);
    mGlobal->FrameStepBackward();
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()) && Shown() == 299; }, 20000));
    mGlobal->FrameStepForward();
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()) && Shown() == 0; }, 20000));

    // Looping over the whole timeline without the range: 1000 µs before the end.
    Settings::loopStepScrubToRange = false;
    Settings::lockStepScrubToRange = false;
    mGlobal->FrameStepBackward();
    // (The engine's end time is the last microsecond of the timeline.)
    QVERIFY(QTest::qWaitFor(
        [&] { return qAbs(mAv->PlaybackTime() - (mOpen->Duration() - 1000)) <= 1; }, 20000));
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()) && Shown() == 299; }, 20000));
    QVERIFY2(mProbe->mismatches.isEmpty(), qPrintable(mProbe->mismatches.join('\n')));
}

void TestTimeControls::BookmarkOrEditJumpsAndBarPicture()
{
    // Two clips of 50 frames: an edit at 50; bookmarks at 20 and 70.
    Timeline* const first = ProjectTimelines::AddSource(*mProjectManager, QStringLiteral("numbered_opengop.mkv"), 0, 49);
    Timeline* const second = ProjectTimelines::AddSource(*mProjectManager, QStringLiteral("numbered_offset.ts"), 0, 49);
    QVERIFY(first && second);
    Timeline* const edit = ProjectTimelines::AddEdit(*mProjectManager, {first, second});
    // The engine must let go of the timelines before they go, whatever happens.
    auto const reopen = qScopeGuard([&] { mAv->DecodeTimeline(mTimeline, 0, false, true, false); });
    QCOMPARE(edit->FrameCount(), 100);
    QVERIFY(edit->InsertFrameBookmark(20) >= 0);
    QVERIFY(edit->InsertFrameBookmark(70) >= 0);
    edit->FrameBookmarkAt(70)->strokes.append(StrokeData());
    Open(edit);
    mGlobal->UpdateBookmarks();
    QCOMPARE(mGlobal->FrameBookmarks().size(), 2);

    struct Jump
    {
        int from;
        bool next;
        int to;
    };
    QList<Jump> const jumps {{10, true, 20}, {20, true, 50}, {50, true, 70}, {70, true, 0},
                             {70, false, 50}, {50, false, 20}, {10, false, 0}, {0, false, 70}};
    for (Jump const& jump : jumps)
    {
        Seek(jump.from);
        if (jump.next)
        {
            mGlobal->SeekNextBookmarkOrEdit();
        }
        else
        {
            mGlobal->SeekPreviousBookmarkOrEdit();
        }
        QVERIFY2(QTest::qWaitFor([&] { return mGlobal->PlaybackFrame() == jump.to; }, 20000),
                 qPrintable(QStringLiteral("from %1 %2: at %3, expected %4")
                                .arg(jump.from)
                                .arg(jump.next ? "next" : "previous")
                                .arg(mGlobal->PlaybackFrame())
                                .arg(jump.to)));
    }

    // The picture of a 600 x 40 bar.
    QWidget host;
    auto* const bar = new GlobalTimeControlWidget(mProjectManager.get(), nullptr, &host);
    bar->setFixedWidth(600);
    host.resize(600, 40);
    host.move(300, 600);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QCOMPARE(bar->TimelinePtr(), edit);
    Settings::globalTimeControlCacheVisible = true;
    Settings::globalTimeControlFrameBookmarksVisible = true;
    bar->SetPlaybackRangeByFrame(10, 30);
    Seek(60);
    bool const cacheReady = QTest::qWaitFor(
        [&] {
            bar->UpdateCache();
            return bar->CacheStartFrame() >= 0 && bar->CacheStartFrame() < 30 && bar->CacheEndFrame() > 40;
        },
        20000);
    QVERIFY2(cacheReady, qPrintable(QStringLiteral("cache %1 to %2 (%3 to %4 us)")
                                        .arg(bar->CacheStartFrame())
                                        .arg(bar->CacheEndFrame())
                                        .arg(edit->VideoCacheAdjustedStartTime())
                                        .arg(edit->VideoCacheAdjustedEndTime())));
    int cached = -1;
    for (int f = bar->CacheEndFrame() - 1; f > bar->CacheStartFrame(); --f)
    {
        if (f != 60 && f != 61 && f != 70 && f != 71 && f != 45 && f != 50 && bar->FrameWidth(f) >= 3 && f > 32)
        {
            cached = f;
            break;
        }
    }
    QVERIFY(cached > 0);
    QImage const picture = bar->grab().toImage();
    QImage painted(bar->size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    {
        QPainter painter(&painted);
        bar->PaintGL(painter);
    }
    QColor const black(0, 0, 0);
    int const markerY = 25;
    auto stripe = [&](int frame) { return frame < 50 ? DarkGrey : Grey74; };
    auto inside = [&](int frame) { return QPoint(bar->PositionAtFrame(frame) + 1, 28); };
    struct Probe
    {
        QString what;
        QPoint at;
        QColor expected;
    };
    QList<Probe> const probes {
        {"clip 0 stripe", inside(5), DarkGrey},
        {"clip 1 stripe", QPoint(bar->TimelineRect().right() - 1, 28), Grey74},
        {"range slider", inside(20), SliderGrey},
        {"playhead marker", QPoint(bar->PositionAtFrame(60), markerY), Over(PlayheadWhite, black)},
        {"playhead cell", QPoint(bar->PositionAtFrame(60) + 2, 28), Over(CellWhite, Grey74)},
        {"cached span", QPoint(bar->PositionAtFrame(cached) + 1, 31), Over(CacheBlue, stripe(cached))},
        {"uncached scale", QPoint(bar->PositionAtFrame(cached) + 1, 28), stripe(cached)},
        {"bookmark on the slider", QPoint(bar->PositionAtFrame(20), markerY + 1), Over(BookmarkGrey, SliderGrey)},
        {"annotated bookmark", QPoint(bar->PositionAtFrame(70), markerY + 1), Over(AnnotationGreen, black)},
        {"background", QPoint(300, 2), black},
    };
    for (Probe const& probe : probes)
    {
        QColor const grabbed = picture.pixelColor(probe.at);
        QVERIFY2(Near(grabbed, probe.expected), qPrintable(Describe(grabbed, probe.expected, probe.what)));
        QColor const gl = painted.pixelColor(probe.at);
        QVERIFY2(Near(gl, probe.expected), qPrintable(Describe(gl, probe.expected, probe.what + " (PaintGL)")));
    }
    // Hidden, the cache span goes; the scale shows through.
    Settings::globalTimeControlCacheVisible = false;
    QVERIFY(Near(bar->grab().toImage().pixelColor(QPoint(bar->PositionAtFrame(cached) + 1, 31)), stripe(cached)));
    delete bar;
}

void TestTimeControls::CacheBarFollowsTheFillThenStopsPolling()
{
    // The bar polls the cache while it can change and stops once the fill
    // is over with the clock stopped, showing the whole filled span; what
    // makes the engine decode again starts the poll again.
    Settings::globalTimeControlCacheVisible = true;
    auto const restore = qScopeGuard([] { Settings::globalTimeControlCacheVisible = false; });
    auto const settled = [&] {
        return !mGlobal->CachePollActive() &&
               mGlobal->CacheStartFrame() == mOpen->FrameAtTime(mOpen->VideoCacheAdjustedStartTime()) &&
               mGlobal->CacheEndFrame() == mOpen->FrameAtTime(mOpen->VideoCacheAdjustedEndTime());
    };
    auto const state = [&] {
        return QStringLiteral("polling %1, bar %2 to %3, cache %4 to %5 of %6, decoding asleep %7")
            .arg(mGlobal->CachePollActive())
            .arg(mGlobal->CacheStartFrame())
            .arg(mGlobal->CacheEndFrame())
            .arg(mOpen->FrameAtTime(mOpen->VideoCacheAdjustedStartTime()))
            .arg(mOpen->FrameAtTime(mOpen->VideoCacheAdjustedEndTime()))
            .arg(mOpen->EndFrame())
            .arg(mAv->DecodingIdle(mOpen));
    };
    for (int frame : {150, 20})
    {
        mAv->SetPlaybackTime(mOpen->TimeAtFrame(frame, false), false, false, true, true);
        QVERIFY(mGlobal->CachePollActive());
        QVERIFY2(QTest::qWaitFor(settled, 30000), qPrintable(state()));
        QVERIFY(mOpen->VideoCacheCoversTime(mOpen->TimeAtFrame(frame, false)));
        QVERIFY(mGlobal->CacheEndFrame() >= frame);
        QVERIFY(mAv->DecodingIdle(mOpen));
    }
    // Playing, it keeps polling; paused again, it stops once settled.
    mProbe->Reset();
    mAv->Play(true, false);
    QVERIFY(mGlobal->CachePollActive());
    QVERIFY(QTest::qWaitFor([&] { return mProbe->deliveries >= 3; }, 20000));
    QVERIFY(!mAv->IsPlaying() || mGlobal->CachePollActive());
    mAv->Pause(DecodeBias::None);
    QVERIFY(QTest::qWaitFor([&] { return !mGlobal->CachePollActive(); }, 30000));
    // Hidden, it does not poll; shown again, it takes a fresh look.
    mGlobal->hide();
    QVERIFY(!mGlobal->CachePollActive());
    mAv->SetPlaybackTime(mOpen->TimeAtFrame(30, false), false, false, true, true);
    QVERIFY(!mGlobal->CachePollActive());
    mGlobal->show();
    QVERIFY(mGlobal->CachePollActive());
    QVERIFY2(QTest::qWaitFor(settled, 30000), qPrintable(state()));
}

void TestTimeControls::TimelineSwitchedMidDragGetsNoCommand()
{
    mGlobal->SetPlaybackRangeByFrame(50, 200);
    mUndo->clear();
    Timeline* const other = ProjectTimelines::AddSource(*mProjectManager, QStringLiteral("numbered_mjpeg.mov"));
    QVERIFY(other);
    auto const reopen = qScopeGuard([&] { mAv->DecodeTimeline(mTimeline, 0, false, true, false); });
    int const otherEnd = other->PlaybackRangeEndFrame();

    int const xs = mGlobal->PositionAtFrame(50);
    QPoint const grab(xs - 4, 30);
    Hover(mGlobal, grab);
    QTest::mousePress(mGlobal, Qt::LeftButton, Qt::NoModifier, grab);
    Drag(mGlobal, grab + QPoint(30, 0));
    int const dragged = mTimeline->PlaybackRangeStartFrame();
    QVERIFY(dragged > 50);

    Open(other);
    Drag(mGlobal, grab + QPoint(60, 0));
    Drag(mGlobal, grab + QPoint(90, 0));
    QCOMPARE(other->PlaybackRangeStartFrame(), 0);
    QCOMPARE(other->PlaybackRangeEndFrame(), otherEnd);
    QCOMPARE(mTimeline->PlaybackRangeStartFrame(), dragged);
    QTest::mouseRelease(mGlobal, Qt::LeftButton, Qt::NoModifier, grab + QPoint(90, 0));
    QVERIFY(!mGlobal->IsDragging());
    // The drag's one step belongs to the timeline it began on.
    QCOMPARE(mUndo->count(), 1);
    mUndo->undo();
    QCOMPARE(mTimeline->PlaybackRangeStartFrame(), 50);
    QCOMPARE(other->PlaybackRangeStartFrame(), 0);
    // Moves without a button after the release drag nothing.
    Hover(mGlobal, grab + QPoint(120, 0));
    QCOMPARE(other->PlaybackRangeStartFrame(), 0);
    QCOMPARE(mUndo->count(), 1);
}

void TestTimeControls::ViewerEntryPointsAndBookmarkToggles()
{
    // The OpenGL viewer sizes the bar, paints it and forwards its mouse
    // events with the bar's offset inside the viewer.
    GlobalTimeControlWidget bar(mProjectManager.get(), mControl);
    QCOMPARE(bar.TimelinePtr(), mTimeline);
    QSignalSpy repaints(&bar, &TimeControlBaseWidget::UpdateRequested);
    bar.UpdateGeometryGL(1000, QPoint(0, 500));
    QCOMPARE(bar.TimelineRect().right(), 1000 - 108);
    bar.SetUnderMouseFromViewer(true);
    QCOMPARE(repaints.count(), 1); // hidden: the viewer is asked to repaint
    bar.SetViewerMousePosOffsetY(500);
    QPoint const at(bar.PositionAtFrame(40) + 1, 510);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), QPointF(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    bar.ViewerMousePressEvent(&press);
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()) && Shown() == 40; }, 20000));
    QPoint const to(bar.PositionAtFrame(50) + 1, 510);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), QPointF(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    bar.ViewerMouseMoveEvent(&move);
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()) && Shown() == 50; }, 20000));
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), QPointF(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    bar.ViewerMouseReleaseEvent(&release);
    QVERIFY(!bar.IsDragging());
    QImage painted(1000, 40, QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    {
        QPainter painter(&painted);
        bar.PaintGL(painter);
    }
    QVERIFY(Near(painted.pixelColor(bar.PositionAtFrame(50), 25), Over(PlayheadWhite, QColor(0, 0, 0))));

    // Bookmark toggles are undoable steps of the project.
    mUndo->clear();
    QCOMPARE(bar.PlaybackFrame(), 50);
    QVERIFY(!mTimeline->FrameBookmarkAt(50));
    bar.ToggleFrameBookmark();
    QCOMPARE(mUndo->count(), 1);
    QVERIFY(mTimeline->FrameBookmarkAt(50));
    QCOMPARE(bar.FrameBookmarks().size(), 1);
    QCOMPARE(bar.FrameBookmarks().constFirst().frame, 50);
    mUndo->undo();
    QVERIFY(!mTimeline->FrameBookmarkAt(50));
    QCOMPARE(bar.FrameBookmarks().size(), 0);
    bar.SetPlaybackRangeByFrame(20, 60);
    bar.ToggleRangeBookmark();
    QCOMPARE(mTimeline->RangeBookmarkList().size(), 1);
    bar.ToggleRangeBookmark();
    QCOMPARE(mTimeline->RangeBookmarkList().size(), 0);
}

void TestTimeControls::InfoTextsStandApartAndShownFrameTimesFollow()
{
    // A click seeks; the bar keeps the times of the picture shown for it.
    QTest::mouseClick(mGlobal, Qt::LeftButton, Qt::NoModifier, GlobalAt(40));
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()) && Shown() == 40; }, 20000));
    QTRY_COMPARE(mGlobal->DisplayedFrameStartTime(), mProbe->shown->adjustedStartTime);
    QCOMPARE(mGlobal->DisplayedFrameEndTime(), mProbe->shown->adjustedEndTime.load());
    QVERIFY(mGlobal->DisplayedFrameStartTime() <= mAv->PlaybackTime());
    QVERIFY(mAv->PlaybackTime() < mGlobal->DisplayedFrameEndTime());

    // Rate, measured rate and unit; rate and speed; rate and "Stepped": each
    // text in a box of its own, a figure's width apart (a mere blank reads as
    // "24.000.0"), and all ink inside the boxes.
    mGlobal->SetFps(24.0f, true);
    QFont font = Settings::timeControlFont;
    font.setPointSize(8);
    int const blank = QFontMetrics(font).horizontalAdvance(QLatin1Char('0'));
    for (int const state : {0, 1, 2})
    {
        mGlobal->SetPlaybackSpeedMultiplier(state == 1 ? 0.5f : 1.0f);
        mGlobal->SetSteppedPlaybackEnabled(state == 2);
        QImage const image = mGlobal->grab().toImage();
        QList<QRect> const boxes = mGlobal->PlaybackInfoRects();
        QCOMPARE(boxes.size(), state == 0 ? 3 : 2);
        for (int i = 1; i < boxes.size(); ++i)
        {
            QVERIFY2(boxes.at(i).left() >= boxes.at(i - 1).right() + 1 + blank,
                     qPrintable(QStringLiteral("state %1: text %2 starts at %3, the one before ends at %4")
                                    .arg(state)
                                    .arg(i)
                                    .arg(boxes.at(i).left())
                                    .arg(boxes.at(i - 1).right())));
            QVERIFY(boxes.at(i).right() < mGlobal->width());
        }
        QColor const background = image.pixelColor(mGlobal->width() - 3, 38);
        QList<int> inkPerBox(boxes.size(), 0);
        for (int x = boxes.first().left() - blank; x < mGlobal->width(); ++x)
        {
            for (int y = boxes.first().top(); y <= std::min(boxes.first().bottom(), image.height() - 1); ++y)
            {
                if (image.pixelColor(x, y) == background)
                {
                    continue;
                }
                int box = -1;
                for (int i = 0; i < boxes.size(); ++i)
                {
                    if (boxes.at(i).adjusted(-1, 0, 1, 0).contains(x, y))
                    {
                        box = i;
                    }
                }
                QVERIFY2(box >= 0, qPrintable(QStringLiteral("state %1: ink at %2, %3 outside every text's box")
                                                   .arg(state)
                                                   .arg(x)
                                                   .arg(y)));
                ++inkPerBox[box];
            }
        }
        for (int i = 0; i < boxes.size(); ++i)
        {
            QVERIFY2(inkPerBox.at(i) > 0, qPrintable(QString::number(i)));
        }
    }
    mGlobal->SetSteppedPlaybackEnabled(false);
    mGlobal->SetPlaybackSpeedMultiplier(1.0f);
}

QTEST_MAIN(TestTimeControls)
#include "tst_timecontrols.moc"
