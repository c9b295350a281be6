#include "media/PlaybackManager.h"

#include "app/Settings.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

class TestPlaybackManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void LoopJumpsToRangeStart();
    void LoopDuringSteppedPlaybackUsesSteppedStart();
    void PingPongReversesAndKeepsPlaying();
    void LoopOffStopsAtRangeEnd();
    void PlayAtRangeEndRestartsAtRangeStart();
    void SeekBeyondEndWhilePaused();
    void SpeedIsClamped();
    void RangeIsClampedAndNeverInverted();
    void LoopStateRepairAndToggle();
    void PausedUpdatesHoldTimeAndDoNotLeapAfterwards();
    void PlaysBackwardsAtSpeed();

private:
    static void Tick(PlaybackManager& clock, int milliseconds = 2)
    {
        // The clock follows the wall clock: time must pass between ticks.
        QThread::msleep(milliseconds);
        clock.UpdatePlaybackTime();
    }
};

void TestPlaybackManager::init()
{
    Settings::loopState = 1;
    Settings::pausePlaybackOnSeek = false;
}

void TestPlaybackManager::LoopJumpsToRangeStart()
{
    PlaybackManager clock;
    clock.SetEndTime(1000000);
    clock.SetPlaybackRange(100000, 200000);
    clock.SetPlaybackTime(199000, true);
    clock.Play(true, false);
    QSignalSpy times(&clock, &PlaybackManager::PlaybackTimeChanged);
    Tick(clock, 5);
    QCOMPARE(clock.PlaybackTime(), 100000LL);
    QCOMPARE(times.last().at(1).toBool(), true);
    QVERIFY(clock.IsPlaying());
}

void TestPlaybackManager::LoopDuringSteppedPlaybackUsesSteppedStart()
{
    PlaybackManager clock;
    clock.SetEndTime(1000000);
    clock.SetPlaybackRange(100000, 200000);
    clock.StepSteppedPlaybackRangeStartTime(150000);
    clock.SetPlaybackTime(199000, true);
    clock.Play(true, true);
    QVERIFY(clock.IsSteppedPlayback());
    Tick(clock, 5);
    QCOMPARE(clock.PlaybackTime(), 150000LL);
}

void TestPlaybackManager::PingPongReversesAndKeepsPlaying()
{
    Settings::loopState = 2;
    PlaybackManager clock;
    clock.SetEndTime(1000000);
    clock.SetPlaybackRange(0, 200000);
    clock.SetPlaybackTime(199000, true);
    clock.Play(true, false);
    QSignalSpy states(&clock, &PlaybackManager::PlaybackStateChanged);
    Tick(clock, 5);
    QCOMPARE(clock.PlaybackTime(), 200000LL);
    QCOMPARE(states.size(), 1);
    QCOMPARE(states.at(0).at(0).toBool(), true);
    QCOMPARE(states.at(0).at(1).toBool(), false);
    QVERIFY(clock.IsPlaying());
    Tick(clock, 3);
    QVERIFY(clock.PlaybackTime() < 200000LL);
}

void TestPlaybackManager::LoopOffStopsAtRangeEnd()
{
    Settings::loopState = 0;
    PlaybackManager clock;
    clock.SetEndTime(1000000);
    clock.SetPlaybackRange(0, 200000);
    clock.SetPlaybackTime(199000, true);
    clock.Play(true, false);
    QSignalSpy states(&clock, &PlaybackManager::PlaybackStateChanged);
    Tick(clock, 5);
    QCOMPARE(clock.PlaybackTime(), 200000LL);
    QVERIFY(!clock.IsPlaying());
    QCOMPARE(states.size(), 1);
    QCOMPARE(states.at(0).at(0).toBool(), false);
    QCOMPARE(states.at(0).at(1).toBool(), true);
}

void TestPlaybackManager::PlayAtRangeEndRestartsAtRangeStart()
{
    PlaybackManager clock;
    clock.SetEndTime(1000000);
    clock.SetPlaybackRange(100000, 200000);
    clock.SetPlaybackTime(200000, true);
    QSignalSpy times(&clock, &PlaybackManager::PlaybackTimeChanged);
    clock.Play(true, false);
    QCOMPARE(clock.PlaybackTime(), 100000LL);
    QCOMPARE(times.first().at(1).toBool(), true);
    clock.Pause();
    QVERIFY(!clock.IsPlaying());
    clock.SetPlaybackTime(100000, true);
    clock.Play(false, false);
    QCOMPARE(clock.PlaybackTime(), 200000LL);
}

void TestPlaybackManager::SeekBeyondEndWhilePaused()
{
    PlaybackManager clock;
    clock.SetEndTime(500000);
    clock.ResetPlaybackRange();
    clock.SetPlaybackTime(600000, true);
    QCOMPARE(clock.PlaybackTime(), 0LL);

    clock.Play(false, false);
    clock.Pause();
    clock.SetPlaybackTime(600000, true);
    QCOMPARE(clock.PlaybackTime(), 500000LL);

    Settings::loopState = 0;
    clock.SetPlaybackTime(-10, true);
    QCOMPARE(clock.PlaybackTime(), 0LL);
    clock.SetPlaybackTime(600000, true);
    QCOMPARE(clock.PlaybackTime(), 500000LL);
}

void TestPlaybackManager::SpeedIsClamped()
{
    PlaybackManager clock;
    QSignalSpy speeds(&clock, &PlaybackManager::PlaybackSpeedChanged);
    clock.SetPlaybackSpeed(10.0f);
    QCOMPARE(clock.PlaybackSpeed(), 4.0f);
    clock.SetPlaybackSpeed(0.01f);
    QCOMPARE(clock.PlaybackSpeed(), 0.1f);
    clock.SetPlaybackSpeed(0.1f);
    QCOMPARE(speeds.size(), 3);
}

void TestPlaybackManager::RangeIsClampedAndNeverInverted()
{
    PlaybackManager clock;
    clock.SetEndTime(50);
    clock.SetPlaybackRange(-5, 100);
    QCOMPARE(clock.RangeStartTime(), 0LL);
    QCOMPARE(clock.RangeEndTime(), 50LL);
    clock.SetPlaybackRange(80, 10);
    QCOMPARE(clock.RangeStartTime(), 50LL);
    QCOMPARE(clock.RangeEndTime(), 50LL);
    clock.SetPlaybackRange(30, 10);
    QCOMPARE(clock.RangeStartTime(), 30LL);
    QCOMPARE(clock.RangeEndTime(), 30LL);
    QSignalSpy ranges(&clock, &PlaybackManager::PlaybackRangeChanged);
    clock.SetPlaybackRange(30, 10);
    QCOMPARE(ranges.size(), 0);
    clock.SetEndTime(-20);
    QCOMPARE(clock.EndTime(), 0LL);
}

void TestPlaybackManager::LoopStateRepairAndToggle()
{
    PlaybackManager clock;
    Settings::loopState = 7;
    QCOMPARE(clock.ActiveLoopState(), LoopState::Off);
    QCOMPARE(Settings::loopState, 0);
    Settings::loopState = 7;
    clock.ToggleLoopState();
    QCOMPARE(Settings::loopState, 1);
    clock.ToggleLoopState();
    QCOMPARE(Settings::loopState, 2);
    clock.ToggleLoopState();
    QCOMPARE(Settings::loopState, 0);
    clock.SetLoopState(static_cast<LoopState>(5));
    QCOMPARE(Settings::loopState, 0);
}

void TestPlaybackManager::PausedUpdatesHoldTimeAndDoNotLeapAfterwards()
{
    PlaybackManager clock;
    clock.SetEndTime(10000000);
    clock.ResetPlaybackRange();
    clock.SetPlaybackTime(1000000, true);
    clock.Play(true, false);
    clock.PausePlaybackUpdates(true);
    Tick(clock, 30);
    Tick(clock, 30);
    QCOMPARE(clock.PlaybackTime(), 1000000LL);
    clock.PausePlaybackUpdates(false);
    Tick(clock, 2);
    long long const advance = clock.PlaybackTime() - 1000000;
    QVERIFY(advance > 0);
    QVERIFY2(advance < 25000, qPrintable(QString::number(advance)));
}

void TestPlaybackManager::PlaysBackwardsAtSpeed()
{
    PlaybackManager clock;
    clock.SetEndTime(10000000);
    clock.ResetPlaybackRange();
    clock.SetPlaybackTime(5000000, true);
    clock.SetPlaybackSpeed(2.0f);
    clock.Play(false, false);
    // Measured against the wall clock: a fixed time by design.
    QTest::qWait(100);
    clock.Pause();
    long long const moved = 5000000 - clock.PlaybackTime();
    // About 200 ms of media in 100 ms of wall time; generous bounds for a busy machine.
    QVERIFY2(moved > 100000 && moved < 2 * PlaybackManager::MAXIMUM_TICK_ELAPSED + 400000, qPrintable(QString::number(moved)));
}

QTEST_GUILESS_MAIN(TestPlaybackManager)
#include "tst_playbackmanager.moc"
