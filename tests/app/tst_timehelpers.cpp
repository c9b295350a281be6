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
    void PictureStartsTheFrameItIsNear();
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
    // The last picture started a quarter of a frame or less into frame 99:
    // frame 99 is its own, and the last.
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(4001000, 40000.0), 100);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(4009999, 40000.0), 100);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(4010000, 40000.0), 101);
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
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(1683665, d60), 101);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(1683665, d60, 1000.0), 101);
    // 103 at 59.94 fps and 102 at 120 fps, rounded up as far.
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(1718682, 1e6 * 1001 / 60000.0, 1000.0), 103);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(850332, 1e6 / 120.0, 1000.0), 102);
    // A whole frame more is a frame, however coarse the ticks: the tolerance
    // stops at half a frame.
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(1700000, d60, 1000.0), 102);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(4000000 + 30000, 40000.0, 1e6), 101);
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(4000000 + 10000, 40000.0, 1e6), 100);
    // Exact times allow the same quarter of a frame.
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(4001000, 40000.0, 0.0), 100);
    // 240 pictures at 29.97 fps in 90 kHz ticks, joined from four recordings
    // each 33 ticks late: the last starts 1.1 ms into frame 239.
    double const d2997 = 1e6 * 1001 / 30000.0;
    QCOMPARE(TimeHelpers::EndTimeToFrameCount(8008000 + 1100 - 1, d2997, 1e6 / 90000.0), 240);
}

void TestTimeHelpers::PictureStartsTheFrameItIsNear()
{
    // Up to a quarter of a frame either side of a frame's start, a picture
    // starts that frame; further into a frame it is shown from the next
    // (the picture before covers the frame it starts in).
    QCOMPARE(TimeHelpers::PictureStartTolerance(40000.0), 10000LL);
    QCOMPARE(TimeHelpers::PictureStartToFrame(80000, 40000.0), 2);
    QCOMPARE(TimeHelpers::PictureStartToFrame(90000, 40000.0), 2);
    QCOMPARE(TimeHelpers::PictureStartToFrame(90001, 40000.0), 3);
    QCOMPARE(TimeHelpers::PictureStartToFrame(70000, 40000.0), 2);
    QCOMPARE(TimeHelpers::PictureStartToFrame(69999, 40000.0), 2);
    QCOMPARE(TimeHelpers::PictureStartToFrame(0, 40000.0), 0);
    // 24 fps in milliseconds from 833 ms (20/24 s rounded down): picture 2
    // at 917 ms lies 0.67 ms after frame 2's start, whatever the time base.
    double const d24 = 1e6 / 24.0;
    for (double const tick : {0.0, 1.0, 1000.0})
    {
        QCOMPARE(TimeHelpers::PictureStartToFrame(917000 - 833000, d24, tick), 2);
    }
    // A coarse time base widens the tolerance to half a tick, but never to
    // half a frame.
    QCOMPARE(TimeHelpers::PictureStartTolerance(40000.0, 30000.0), 15000LL);
    QCOMPARE(TimeHelpers::PictureStartTolerance(40000.0, 1e6), 19999LL);
    QCOMPARE(TimeHelpers::PictureStartToFrame(95000, 40000.0, 30000.0), 2);
    QCOMPARE(TimeHelpers::PictureStartToFrame(100000, 40000.0, 1e6), 3);
    QVERIFY(TimeHelpers::PictureStartTolerance(0.0) >= 1);
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
