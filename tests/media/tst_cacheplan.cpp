#include "media/CachePlan.h"

#include <QtTest>

namespace
{
long long const END = 10000000;  // the timeline's last time, µs
long long const START = 2000000; // a range set from here
long long const STOP = 4000000;  // to here

CachePlan::Clock Clock(long long time, bool playing, bool forward, LoopState state, long long start = START,
                       long long end = STOP)
{
    return {time, playing, forward, state, start, end, END};
}
} // namespace

Q_DECLARE_METATYPE(CachePlan::Clock)

class TestCachePlan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Which clocks keep the caches to a loop range, and which do not.
    void LoopRangeFollowsTheClock_data()
    {
        QTest::addColumn<CachePlan::Clock>("clock");
        QTest::addColumn<bool>("loops");
        QTest::newRow("playing forward, loop on") << Clock(3000000, true, true, LoopState::Loop) << true;
        QTest::newRow("playing forward, no range set")
            << Clock(3000000, true, true, LoopState::Loop, 0, END) << true;
        QTest::newRow("playing backward, loop on") << Clock(3000000, true, false, LoopState::Loop) << false;
        QTest::newRow("playing forward, ping-pong") << Clock(3000000, true, true, LoopState::PingPong) << false;
        QTest::newRow("playing forward, loop off") << Clock(3000000, true, true, LoopState::Off) << false;
        QTest::newRow("parked inside the range, loop on") << Clock(START, false, true, LoopState::Loop) << true;
        QTest::newRow("parked on the range end, loop on") << Clock(STOP, false, false, LoopState::Loop) << true;
        QTest::newRow("parked before the range, loop on") << Clock(START - 1, false, true, LoopState::Loop) << false;
        QTest::newRow("parked, no range set") << Clock(3000000, false, true, LoopState::Loop, 0, END) << false;
        QTest::newRow("parked inside the range, loop off") << Clock(3000000, false, true, LoopState::Off) << false;
    }
    void LoopRangeFollowsTheClock()
    {
        QFETCH(CachePlan::Clock, clock);
        QFETCH(bool, loops);
        CachePlan const plan = CachePlan::For(clock);
        QCOMPARE(plan.Span().IsSet(), loops);
        QCOMPARE(plan.FirstStretchEnds(), loops);
        if (loops)
        {
            QCOMPARE(plan.Span().start, clock.rangeStart);
            QCOMPARE(plan.Span().end, clock.rangeEnd);
        }
        QCOMPARE(plan == CachePlan::For(clock), true);
    }

    // A loop wants two stretches in order: from the playhead to the range
    // end, then from the range start back up to the playhead.
    void LoopWantsItsStretchesInOrder()
    {
        CachePlan const plan = CachePlan::For(Clock(3000000, true, true, LoopState::Loop));
        QCOMPARE(plan.Count(), 2);
        QCOMPARE(plan.At(0).start, CachePlan::PLAYHEAD);
        QCOMPARE(plan.At(0).end, STOP);
        QCOMPARE(plan.At(1).start, START);
        QCOMPARE(plan.At(1).end, CachePlan::PLAYHEAD);
        QCOMPARE(plan.FirstStretchEnd(), STOP);
        QVERIFY(plan == CachePlan::Looping({START, STOP}));
        QCOMPARE(CachePlan::Looping({0, -1}).Count(), 0); // no range
        QCOMPARE(CachePlan::For(Clock(3000000, true, false, LoopState::Loop)).Count(), 0);
    }

    // The plan is one value while the clock plays through the range: no new
    // plan, and no wake of the decode tasks, at every tick.
    void PlanStableWhilePlaying()
    {
        CachePlan const first = CachePlan::For(Clock(START, true, true, LoopState::Loop));
        for (long long time = START; time <= STOP; time += 40000)
        {
            QVERIFY(CachePlan::For(Clock(time, true, true, LoopState::Loop)) == first);
        }
        QVERIFY(CachePlan::For(Clock(START, true, false, LoopState::Loop)) != first);
    }

    // The second stretch (from the range start) is missing only from a cache
    // that starts after the range start and holds a playhead inside the range.
    void SecondStretchMissing()
    {
        CachePlan const plan = CachePlan::For(Clock(3000000, true, true, LoopState::Loop));
        QVERIFY(plan.SecondStretchMissing(3000000, 2500000, true));
        QVERIFY(!plan.SecondStretchMissing(3000000, START, true));    // the cache starts with the range
        QVERIFY(!plan.SecondStretchMissing(3000000, 2500000, false)); // the playhead is outside the cache
        QVERIFY(!plan.SecondStretchMissing(STOP + 1, 2500000, true));  // the playhead left the range
        QVERIFY(!CachePlan {}.SecondStretchMissing(3000000, 2500000, true)); // no loop
        // It starts at the range start, or at the start of a clip that
        // starts later.
        QCOMPARE(plan.SecondStretchStartIn(0), START);
        QCOMPARE(plan.SecondStretchStartIn(2200000), 2200000LL);
    }
};

QTEST_GUILESS_MAIN(TestCachePlan)
#include "tst_cacheplan.moc"
