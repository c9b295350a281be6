#include "app/TimeHelpers.h"

#include <QtTest>

#include <cmath>
#include <limits>

class TestTimeHelpers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void FractionalRateBoundaries();
    void WholeRateStartMidEnd();
    void NegativeTimesTruncateTowardZero();
    void NonPositiveDurationGivesFrameZero();
    void FrameCountFromEndTime();
    void FrameCountAllowsForTheTimeBase();
    void ExactProductsDoNotSpillIntoNextFrame();
    void EveryFrameMapsBackAcrossCommonRates_data();
    void EveryFrameMapsBackAcrossCommonRates();
    void ExtremesDoNotOverflow();
};

namespace
{
double const D23976 = 1e6 * 1001.0 / 24000.0;
}

void TestTimeHelpers::FractionalRateBoundaries()
{
    QCOMPARE(TimeHelpers::TimeToFrame(41708, D23976), 0);
    QCOMPARE(TimeHelpers::TimeToFrame(41709, D23976), 1);
    QCOMPARE(TimeHelpers::TimeToFrame(83416, D23976), 1);
    QCOMPARE(TimeHelpers::TimeToFrame(83417, D23976), 2);
    QCOMPARE(TimeHelpers::TimeToFrame(125124, D23976), 2);
    QCOMPARE(TimeHelpers::TimeToFrame(125125, D23976), 3);
    long long const starts[] = {0, 41709, 83417, 125125, 166834, 208542, 250250};
    for (int n = 0; n < 7; ++n)
    {
        QCOMPARE(TimeHelpers::FrameToFrameStartTime(n, D23976), starts[n]);
    }
}

void TestTimeHelpers::WholeRateStartMidEnd()
{
    QCOMPARE(TimeHelpers::FrameToFrameStartTime(1, 40000.0), 40000LL);
    QCOMPARE(TimeHelpers::FrameToFrameMidTime(1, 40000.0), 60000LL);
    QCOMPARE(TimeHelpers::FrameToFrameEndTime(1, 40000.0), 79999LL);
    QCOMPARE(TimeHelpers::TimeToFrameStartTime(79999, 40000.0), 40000LL);
    QCOMPARE(TimeHelpers::TimeToFrameMidTime(40000, 40000.0), 60000LL);
    QCOMPARE(TimeHelpers::TimeToFrameEndTime(60000, 40000.0), 79999LL);
    QCOMPARE(TimeHelpers::FrameToFrameStartTime(3, -40000.0), -120000LL);
}

void TestTimeHelpers::NegativeTimesTruncateTowardZero()
{
    QCOMPARE(TimeHelpers::TimeToFrame(-1, D23976), 0);
    QCOMPARE(TimeHelpers::TimeToFrame(-41708, D23976), 0);
    QCOMPARE(TimeHelpers::TimeToFrame(-41709, D23976), -1);
}

void TestTimeHelpers::NonPositiveDurationGivesFrameZero()
{
    double const nan = std::numeric_limits<double>::quiet_NaN();
    for (double d : {0.0, -5.0, nan})
    {
        QCOMPARE(TimeHelpers::TimeToFrame(123456, d), 0);
        QCOMPARE(TimeHelpers::TimeToFrameStartTime(123456, d), 0LL);
    }
    QCOMPARE(TimeHelpers::TimeToFrameEndTime(5000, 0.0), -1LL);
    QCOMPARE(TimeHelpers::TimeToFrameMidTime(5000, 0.0), 0LL);
}

void TestTimeHelpers::FrameCountFromEndTime()
{
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(0, 40000.0), 0);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(3999999, 40000.0), 100);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(4000000, 40000.0), 100);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(4000400, 40000.0), 100);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(4001000, 40000.0), 101);
    // An end exactly on a boundary whose quotient falls a hair short of a whole
    // number must not count a phantom frame.
    double const d30 = 1e6 / 30.0;
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(6500000, d30), 195);
}

void TestTimeHelpers::FrameCountAllowsForTheTimeBase()
{
    // 101 pictures at 60 fps in milliseconds: the last one, at 1666.67 ms,
    // is stored as 1667 ms; the stream then ends at 1683666 µs, 330 µs (2 %
    // of a frame) past the end of frame 100.
    double const d60 = 1e6 / 60.0;
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(1683665, d60), 102);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(1683665, d60, 1000.0), 101);
    // 103 at 59.94 fps and 102 at 120 fps, rounded up as far.
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(1718682, 1e6 * 1001 / 60000.0, 1000.0), 103);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(850332, 1e6 / 120.0, 1000.0), 102);
    // A whole frame more is a frame, however coarse the ticks: the tolerance
    // stops at half a frame.
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(1700000, d60, 1000.0), 102);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(4000000 + 30000, 40000.0, 1e6), 101);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(4000000 + 10000, 40000.0, 1e6), 100);
    // Exact times keep the 1.5 % rule.
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(4001000, 40000.0, 0.0), 101);
}

void TestTimeHelpers::ExactProductsDoNotSpillIntoNextFrame()
{
    double const d30 = 1e6 / 30.0;
    QCOMPARE(TimeHelpers::FrameToFrameStartTime(195, d30), 6500000LL);
    QCOMPARE(TimeHelpers::TimeToFrame(6500000, d30), 195);
    QCOMPARE(TimeHelpers::TimeToFrame(6499999, d30), 194);
    QCOMPARE(TimeHelpers::FrameToFrameEndTime(194, d30), 6499999LL);
}

void TestTimeHelpers::EveryFrameMapsBackAcrossCommonRates_data()
{
    QTest::addColumn<double>("frameDuration");
    QTest::newRow("23.976") << D23976;
    QTest::newRow("23.976 literal") << 1e6 / 23.976;
    QTest::newRow("24") << 1e6 / 24.0;
    QTest::newRow("25") << 1e6 / 25.0;
    QTest::newRow("29.97") << 1e6 * 1001.0 / 30000.0;
    QTest::newRow("30") << 1e6 / 30.0;
    QTest::newRow("50") << 1e6 / 50.0;
    QTest::newRow("59.94") << 1e6 * 1001.0 / 60000.0;
    QTest::newRow("60") << 1e6 / 60.0;
    QTest::newRow("120") << 1e6 / 120.0;
}

void TestTimeHelpers::EveryFrameMapsBackAcrossCommonRates()
{
    QFETCH(double, frameDuration);
    long long previousEnd = -1;
    for (int n = 0; n <= 500000; ++n)
    {
        long long const start = TimeHelpers::FrameToFrameStartTime(n, frameDuration);
        long long const mid = TimeHelpers::FrameToFrameMidTime(n, frameDuration);
        long long const end = TimeHelpers::FrameToFrameEndTime(n, frameDuration);
        if (start != previousEnd + 1 || TimeHelpers::TimeToFrame(start, frameDuration) != n
            || TimeHelpers::TimeToFrame(mid, frameDuration) != n || TimeHelpers::TimeToFrame(end, frameDuration) != n)
        {
            QFAIL(qPrintable(QString("frame %1: start %2 mid %3 end %4 previous end %5")
                                 .arg(n).arg(start).arg(mid).arg(end).arg(previousEnd)));
        }
        // The boundary follows the exact frame time: never more than a whole
        // microsecond past n × d.
        if (std::abs(static_cast<double>(start) - n * frameDuration) >= 1.0)
        {
            QFAIL(qPrintable(QString("frame %1 starts at %2").arg(n).arg(start)));
        }
        previousEnd = end;
    }
}

void TestTimeHelpers::ExtremesDoNotOverflow()
{
    int const maxFrame = std::numeric_limits<int>::max();
    QVERIFY(TimeHelpers::FrameToFrameEndTime(maxFrame, 40000.0) > 0);
    QVERIFY(TimeHelpers::FrameToFrameMidTime(maxFrame, 40000.0) > 0);
    QCOMPARE(TimeHelpers::TimeToFrame(std::numeric_limits<long long>::max(), 1.0), maxFrame);
    QCOMPARE(TimeHelpers::TimeToFrame(std::numeric_limits<long long>::min(), 1.0), std::numeric_limits<int>::min());
}

QTEST_APPLESS_MAIN(TestTimeHelpers)
#include "tst_timehelpers.moc"
