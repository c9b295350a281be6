#include "../media/EngineTestRig.h"
#include "ProjectTimelines.h"

#include "app/Settings.h"
#include "app/TimeHelpers.h"
#include "model/ProjectManager.h"
#include "window/GlobalTimeControlWidget.h"
#include "window/RangeTimeControlWidget.h"

#include <QMenu>
#include <QSignalSpy>
#include <QUndoStack>
#include <QtTest>

using namespace EngineTestRig;

namespace
{
// Without the engine, the bar hears of range changes from the timeline itself.
void Follow(TimeControlBaseWidget& bar, Timeline* timeline)
{
    bar.OnPrimaryTimelineChanged(timeline, true);
    QObject::connect(timeline, &Timeline::PlaybackRangeChanged, &bar, &TimeControlBaseWidget::OnPlaybackRangeChanged);
}

int ItemCount(QMenu const* menu)
{
    int count = 0;
    for (QAction const* action : menu->actions())
    {
        count += action->isSeparator() ? 0 : 1;
    }
    return count;
}
} // namespace

class TestTimeControlMapping : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void MappingIsExactAtEveryWidth();
    void MappingAnswersDegenerateScalesWithoutDividing();
    void FrameNumbersAndSecondsAgainstTheirOracles();
    void TimeCodeRoundsTheRateAndNeverDividesByZero();
    void RangeBoundsFromCurrentAreSingleUndoStepsAndNeverInverted();
    void PlaybackInformationSlotsStoreAndRepaintAsAsked();
    void ContextMenuItemsAndSettingToggles();

private:
    std::unique_ptr<ProjectManager> mProjectManager;
    Timeline* m25 = nullptr; // the project's
    std::unique_ptr<Timeline> m30;
};

void TestTimeControlMapping::initTestCase()
{
    Settings::hardwareRenderingEnabled = false;
    Settings::LatchHardwareRendering();
    mProjectManager = std::make_unique<ProjectManager>();
    m25 = ProjectTimelines::AddSource(*mProjectManager, QStringLiteral("numbered_gop250.mp4"));
    QVERIFY(m25);
    m30 = SourceTimeline("numbered_30fps.mp4");
    QCOMPARE(m25->FrameCount(), 300);
    QCOMPARE(m30->FrameCount(), 240);
}

void TestTimeControlMapping::init()
{
    Settings::timeControlFrameOffset = 1;
    Settings::globalTimeControlDisplayFormat = 0;
    Settings::rangeTimeControlDisplayFormat = 0;
    m25->SetPlaybackRangeByFrame(0, -1);
    m25->SetPlaybackFrame(0);
    mProjectManager->UndoStackPtr()->clear();
}

void TestTimeControlMapping::MappingIsExactAtEveryWidth()
{
    QList<int> widths;
    for (int w = 1; w <= 64; ++w)
    {
        widths << w;
    }
    widths << 99 << 100 << 101 << 333 << 387 << 640 << 999 << 1000 << 1920 << 2999 << 4000;
    QList<int> const counts {1, 2, 3, 7, 10, 24, 99, 100, 101, 250, 387, 1000, 1920, 4000, 9973, 100000};
    for (int const start : {0, 37})
    {
        for (int const w : widths)
        {
            int const left = 106;
            int const right = left + w - 1;
            for (int const n : counts)
            {
                int const end = start + n - 1;
                auto frameAt = [&](int x) { return TimeControlBaseWidget::FrameAtPosition(x, left, right, start, end); };
                auto positionOf = [&](int f) {
                    return TimeControlBaseWidget::PositionAtFrame(f, left, right, start, end);
                };
                QString const where = QStringLiteral("W %1, N %2, start %3").arg(w).arg(n).arg(start);
                QVERIFY2(frameAt(left - 1) == start && frameAt(left - 500) == start, qPrintable(where));
                QVERIFY2(frameAt(right + 1) == end && frameAt(right + 500) == end, qPrintable(where));
                QVERIFY2(positionOf(start) == left, qPrintable(where));
                QVERIFY2(positionOf(end + 1) == right + 1, qPrintable(where));
                int previous = start;
                for (int x = left - 3; x <= right + 3; ++x)
                {
                    int const frame = frameAt(x);
                    QVERIFY2(frame >= previous, qPrintable(where));
                    previous = frame;
                    if (w <= n && x >= left && x <= right)
                    {
                        QVERIFY2(positionOf(frame) == x, qPrintable(where + QStringLiteral(" pixel %1").arg(x)));
                    }
                }
                if (w >= n)
                {
                    int sum = 0;
                    for (int f = start; f <= end; ++f)
                    {
                        int const width = positionOf(f + 1) - positionOf(f);
                        QVERIFY2(width >= 1, qPrintable(where));
                        sum += width;
                        QVERIFY2(frameAt(positionOf(f)) == f, qPrintable(where + QStringLiteral(" frame %1").arg(f)));
                        QVERIFY2(frameAt(positionOf(f + 1) - 1) == f, qPrintable(where));
                    }
                    QCOMPARE(sum, w);
                }
            }
        }
    }
    // A scale 100 pixels wide over frames 0 to 9.
    QCOMPARE(TimeControlBaseWidget::PositionAtFrame(3, 0, 99, 0, 9), 30);
    QCOMPARE(TimeControlBaseWidget::FrameAtPosition(35, 0, 99, 0, 9), 3);
}

void TestTimeControlMapping::MappingAnswersDegenerateScalesWithoutDividing()
{
    // One frame fills the scale; no frames and empty scales answer at once.
    QCOMPARE(TimeControlBaseWidget::FrameAtPosition(50, 10, 90, 5, 5), 5);
    QCOMPARE(TimeControlBaseWidget::PositionAtFrame(6, 10, 90, 5, 5), 91);
    QCOMPARE(TimeControlBaseWidget::FrameAtPosition(50, 10, 90, 5, 4), 0);
    QCOMPARE(TimeControlBaseWidget::PositionAtFrame(5, 10, 90, 5, 4), 0);
    QCOMPARE(TimeControlBaseWidget::FrameAtPosition(50, 10, 9, 0, 99), 0);
    QCOMPARE(TimeControlBaseWidget::FrameAtPosition(50, 10, -200, 7, 99), 7);
    QCOMPARE(TimeControlBaseWidget::PositionAtFrame(50, 10, 9, 0, 99), 10);
    QCOMPARE(TimeControlBaseWidget::FrameAtPosition(INT_MAX, 0, 3999, 0, 99999), 99999);
    QCOMPARE(TimeControlBaseWidget::FrameAtPosition(INT_MIN, 0, 3999, 0, 99999), 0);

    // A bar without timeline, and one too narrow for its scale.
    GlobalTimeControlWidget bar(mProjectManager.get(), nullptr);
    QCOMPARE(bar.PositionAtFrame(5), 0);
    QCOMPARE(bar.FrameWidth(5), 0);
    QCOMPARE(bar.FrameAtPosition(300), 0);
    bar.resize(150, 40);
    bar.show();
    bar.OnPrimaryTimelineChanged(m25, true);
    QVERIFY(bar.TimelineRect().width() <= 0);
    QCOMPARE(bar.FrameAtPosition(120), 0);
    bar.grab(); // paints without dividing
    bar.OnPrimaryTimelineChanged(nullptr, true);
}

void TestTimeControlMapping::FrameNumbersAndSecondsAgainstTheirOracles()
{
    GlobalTimeControlWidget bar(mProjectManager.get(), nullptr);
    Follow(bar, m30.get());
    m30->SetPlaybackRangeByFrame(10, 100);
    QCOMPARE(bar.RangeStartFrame(), 10);
    QCOMPARE(bar.RangeEndFrame(), 100);

    bar.SetDisplayFormat(TimeControlDisplayFormat::GlobalFrames);
    QCOMPARE(bar.FrameToDisplayFormat(7, false), QStringLiteral("7"));
    QCOMPARE(bar.FrameToDisplayFormat(7, true), QStringLiteral("8"));
    QCOMPARE(Settings::globalTimeControlDisplayFormat, 0);
    bar.SetDisplayFormat(TimeControlDisplayFormat::RangeFrames);
    QCOMPARE(Settings::globalTimeControlDisplayFormat, 1);
    QCOMPARE(bar.FrameToDisplayFormat(10, false), QStringLiteral("0"));
    QCOMPARE(bar.FrameToDisplayFormat(10, true), QStringLiteral("1"));
    QCOMPARE(bar.FrameToDisplayFormat(25, false), QStringLiteral("15"));

    bar.SetDisplayFormat(TimeControlDisplayFormat::Seconds);
    double const frameDuration = 1000000.0 / 30.0;
    for (int frame : {0, 1, 29, 30, 195, 239})
    {
        double const seconds = TimeHelpers::FrameToFrameStartTime(frame, frameDuration) / 1000000.0;
        QCOMPARE(bar.FrameToDisplayFormat(frame, true), QString::number(seconds, 'f', 2));
    }
    QCOMPARE(bar.FrameToDisplayFormat(195, false), QStringLiteral("6.50"));
    // Past the end: the duration.
    QCOMPARE(bar.FrameToDisplayFormat(500, false), QString::number(m30->Duration() / 1000000.0, 'f', 2));
    m30->SetPlaybackRangeByFrame(0, -1);

    // A stored format out of range is reset to 0.
    Settings::rangeTimeControlDisplayFormat = 9;
    RangeTimeControlWidget range(mProjectManager.get(), nullptr);
    QCOMPARE(Settings::rangeTimeControlDisplayFormat, 0);
    QCOMPARE(range.DisplayFormat(), TimeControlDisplayFormat::GlobalFrames);
}

void TestTimeControlMapping::TimeCodeRoundsTheRateAndNeverDividesByZero()
{
    GlobalTimeControlWidget bar(mProjectManager.get(), nullptr);
    bar.SetDisplayFormat(TimeControlDisplayFormat::TimeCode);
    // Without timeline: 24 fps.
    QCOMPARE(bar.FrameToDisplayFormat(48, true), QStringLiteral("00:02:00"));

    bar.OnPrimaryTimelineChanged(m25, true);
    QCOMPARE(bar.FrameToDisplayFormat(0, true), QStringLiteral("00:00:00"));
    QCOMPARE(bar.FrameToDisplayFormat(1500, true), QStringLiteral("01:00:00"));
    QCOMPARE(bar.FrameToDisplayFormat(25 * 3600, true), QStringLiteral("01:00:00:00"));
    QCOMPARE(bar.FrameToDisplayFormat(25 * 3661 + 3, false), QStringLiteral("01:01:01:03"));

    std::unique_ptr<Timeline> ntsc = SourceTimeline("h264_gop250.mp4");
    bar.OnPrimaryTimelineChanged(ntsc.get(), true);
    QVERIFY(qAbs(ntsc->FrameRateAtFrame(0, 0) - 23.976) < 0.001);
    QCOMPARE(bar.FrameToDisplayFormat(24, true), QStringLiteral("00:01:00"));
    QCOMPARE(bar.FrameToDisplayFormat(23, true), QStringLiteral("00:00:23"));

    // A slideshow rate rounds to 0, and an empty timeline has none: 24.
    std::unique_ptr<Timeline> slideshow = SourceTimeline("slideshow_02fps.mp4");
    QVERIFY(slideshow->FrameRateAtFrame(0, 0) < 0.5);
    bar.OnPrimaryTimelineChanged(slideshow.get(), true);
    QCOMPARE(bar.FrameToDisplayFormat(2, true), QStringLiteral("00:00:02"));
    QCOMPARE(bar.FrameToDisplayFormat(49, true), QStringLiteral("00:02:01"));
    bar.resize(600, 40);
    bar.grab();

    Timeline empty(nullptr, true);
    bar.OnPrimaryTimelineChanged(&empty, true);
    QCOMPARE(bar.FrameToDisplayFormat(30, true), QStringLiteral("00:01:06"));
    bar.SetDisplayFormat(TimeControlDisplayFormat::Seconds);
    QCOMPARE(bar.FrameToDisplayFormat(30, true), QStringLiteral("0.00"));
    bar.grab();
    bar.OnPrimaryTimelineChanged(nullptr, true);
}

void TestTimeControlMapping::RangeBoundsFromCurrentAreSingleUndoStepsAndNeverInverted()
{
    QUndoStack* const undo = mProjectManager->UndoStackPtr();
    GlobalTimeControlWidget bar(mProjectManager.get(), nullptr);
    Follow(bar, m25);
    bar.SetPlaybackRangeByFrame(100, 200);
    QCOMPARE(undo->count(), 1);
    QCOMPARE(m25->PlaybackRangeStartFrame(), 100);
    QCOMPARE(m25->PlaybackRangeEndFrame(), 200);

    // The playhead past the end: the start is pinned at the end.
    bar.OnPlaybackFrameChanged(250);
    bar.RangeStartToCurrent();
    QCOMPARE(undo->count(), 2);
    QCOMPARE(m25->PlaybackRangeStartFrame(), 200);
    QCOMPARE(m25->PlaybackRangeEndFrame(), 200);
    undo->undo();
    QCOMPARE(m25->PlaybackRangeStartFrame(), 100);

    bar.OnPlaybackFrameChanged(20);
    bar.RangeEndToCurrent();
    QCOMPARE(m25->PlaybackRangeStartFrame(), 100);
    QCOMPARE(m25->PlaybackRangeEndFrame(), 100);
    QCOMPARE(undo->count(), 2);

    // An inverted request changes nothing and leaves no step.
    bar.SetPlaybackRangeByFrame(150, 120);
    QCOMPARE(undo->count(), 2);
    // Unchanged: no step; bounds past the ends are limited.
    bar.SetPlaybackRangeByFrame(100, 100);
    QCOMPARE(undo->count(), 2);
    bar.SetPlaybackRangeByFrame(-40, 5000);
    QCOMPARE(m25->PlaybackRangeStartFrame(), 0);
    QCOMPARE(m25->PlaybackRangeEndFrame(), 299);
    bar.ResetRange();
    QCOMPARE(undo->count(), 3);
    undo->undo();
    undo->undo();
    QCOMPARE(m25->PlaybackRangeStartFrame(), 100);
    QCOMPARE(m25->PlaybackRangeEndFrame(), 200);
    undo->redo();
    QCOMPARE(bar.RangeStartFrame(), 100);
    QCOMPARE(bar.RangeEndFrame(), 100);

    // Range bookmarks: next and previous wrap around; none means nothing.
    bar.SetRangeToNextRangeBookmark();
    QCOMPARE(undo->count(), 3);
    m25->InsertRangeBookmark(10, 20);
    m25->InsertRangeBookmark(150, 160);
    bar.SetRangeToNextRangeBookmark();
    QCOMPARE(bar.RangeStartFrame(), 150);
    bar.SetRangeToNextRangeBookmark();
    QCOMPARE(bar.RangeStartFrame(), 10);
    bar.SetRangeToPreviousRangeBookmark();
    QCOMPARE(bar.RangeStartFrame(), 150);
    QCOMPARE(bar.RangeEndFrame(), 160);
    // Bookmarks that share a start follow each other by their end.
    m25->InsertRangeBookmark(150, 155);
    bar.SetRangeToPreviousRangeBookmark();
    QCOMPARE(bar.RangeEndFrame(), 155);
    bar.SetRangeToPreviousRangeBookmark();
    QCOMPARE(bar.RangeEndFrame(), 20);
    bar.SetRangeToNextRangeBookmark();
    bar.SetRangeToNextRangeBookmark();
    QCOMPARE(bar.RangeStartFrame(), 150);
    QCOMPARE(bar.RangeEndFrame(), 160);
    m25->RemoveRangeBookmark(150, 155);
    m25->RemoveRangeBookmark(10, 20);
    m25->RemoveRangeBookmark(150, 160);
    bar.OnPrimaryTimelineChanged(nullptr, true);
}

void TestTimeControlMapping::PlaybackInformationSlotsStoreAndRepaintAsAsked()
{
    GlobalTimeControlWidget bar(mProjectManager.get(), nullptr);
    QSignalSpy repaints(&bar, &TimeControlBaseWidget::UpdateRequested);
    bar.SetFps(23.96f, true);
    QCOMPARE(bar.Fps(), 24.0f);
    QCOMPARE(repaints.count(), 1);
    bar.SetFps(12.34f, false);
    QCOMPARE(bar.Fps(), 12.3f);
    QCOMPARE(repaints.count(), 1);
    bar.SetPlaybackSpeedMultiplier(0.5f);
    bar.SetPlaybackSpeedMultiplier(0.5f);
    QCOMPARE(repaints.count(), 2);
    bar.SetSteppedPlaybackEnabled(true);
    bar.SetSteppedPlaybackEnabled(true);
    QCOMPARE(repaints.count(), 3);
    QVERIFY(bar.IsSteppedPlaybackEnabled());

    QSignalSpy toggles(&bar, &TimeControlBaseWidget::TogglePositionRequested);
    bar.TogglePosition();
    QCOMPARE(toggles.count(), 1);
    QCOMPARE(toggles.constFirst().at(0).value<TimeControlBaseWidget*>(), &bar);
}

void TestTimeControlMapping::ContextMenuItemsAndSettingToggles()
{
    GlobalTimeControlWidget global(mProjectManager.get(), nullptr);
    RangeTimeControlWidget range(mProjectManager.get(), nullptr);
    global.resize(600, 40);
    global.show();
    Follow(global, m25);
    Follow(range, m25);

    QMenu* const menu = global.ContextMenu(QPoint(300, 20));
    QVERIFY(menu);
    QCOMPARE(ItemCount(menu), 11);
    QCOMPARE(ItemCount(range.ContextMenu(QPoint(300, 20))), 10);
    QList<QAction*> actions;
    for (QAction* action : menu->actions())
    {
        if (!action->isSeparator())
        {
            actions << action;
        }
    }
    int const frame = global.FrameAtPosition(300);
    QCOMPARE(actions.at(0)->text(), QStringLiteral("Range Start to %1").arg(frame + 1));
    QCOMPARE(actions.at(7)->text(), QStringLiteral("Move to Top"));
    global.OnPlaybackFrameChanged(frame);
    global.ContextMenu(QPoint(300, 20));
    QCOMPARE(actions.at(0)->text(), QStringLiteral("Range Start to Current"));
    QCOMPARE(actions.at(1)->text(), QStringLiteral("Range End to Current"));

    Settings::globalTimeControlCacheVisible = false;
    QCOMPARE(actions.at(10)->text(), QStringLiteral("Show Cache"));
    actions.at(10)->trigger();
    QVERIFY(Settings::globalTimeControlCacheVisible);
    bool const frameBookmarks = Settings::globalTimeControlFrameBookmarksVisible;
    actions.at(8)->trigger();
    QCOMPARE(Settings::globalTimeControlFrameBookmarksVisible, !frameBookmarks);
    actions.at(5)->trigger(); // "Time Code"
    QCOMPARE(global.DisplayFormat(), TimeControlDisplayFormat::TimeCode);
    QCOMPARE(Settings::globalTimeControlDisplayFormat, 3);
    global.ContextMenu(QPoint(300, 20));
    QVERIFY(actions.at(5)->isChecked() && !actions.at(3)->isChecked());
    Settings::globalTimeControlCacheVisible = false;
    Settings::globalTimeControlFrameBookmarksVisible = frameBookmarks;

    // A menu entry past the range end pins the end at the start.
    global.SetDisplayFormat(TimeControlDisplayFormat::GlobalFrames);
    m25->SetPlaybackRangeByFrame(200, 250);
    global.OnPlaybackFrameChanged(0);
    global.ContextMenu(QPoint(global.PositionAtFrame(100), 20));
    QCOMPARE(actions.at(1)->data().toInt(), 100);
    actions.at(1)->trigger();
    QCOMPARE(m25->PlaybackRangeStartFrame(), 200);
    QCOMPARE(m25->PlaybackRangeEndFrame(), 200);

    // Not while a mouse button is held.
    QTest::mousePress(&global, Qt::LeftButton, Qt::NoModifier, QPoint(20, 5));
    QVERIFY(!global.ContextMenu(QPoint(300, 20)));
    global.ShowContextMenu(QPoint(300, 20));
    QVERIFY(!menu->isVisible());
    QTest::mouseRelease(&global, Qt::LeftButton, Qt::NoModifier, QPoint(20, 5));
    global.OnPrimaryTimelineChanged(nullptr, true);
    range.OnPrimaryTimelineChanged(nullptr, true);
}

QTEST_MAIN(TestTimeControlMapping)
#include "tst_timecontrolmapping.moc"
