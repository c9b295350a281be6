#include "AudioTestRig.h"
#include "support/TimingBounds.h"

#include <QAbstractEventDispatcher>
#include <QtTest>

using namespace AudioTestRig;

// A paused output wakes its thread for nothing: once what it played is heard,
// the sink is suspended, and at last no timer runs on the audio-output
// thread, the sink's own included, until play or a scrub asks for it.
class TestAudioOutputRest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void PlayedOutputRestsWhenPaused();
};

namespace
{
// Timers the manager and every object under it (the output, its sink) hold
// on the manager's thread.
int RunningTimers(ManagerThread& rig)
{
    int count = 0;
    rig.Run([&] {
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread());
        QObject* manager = rig.Manager();
        QList<QObject*> objects = manager->findChildren<QObject*>();
        objects.prepend(manager);
        for (QObject* object : objects)
        {
            count += static_cast<int>(dispatcher->registeredTimers(object).size());
        }
    });
    return count;
}
} // namespace

void TestAudioOutputRest::PlayedOutputRestsWhenPaused()
{
    Samples audio(static_cast<size_t>(FrameAt(10.0) * CHANNELS), 0.0f);
    AddTone(audio, 440.0, 0.3, 0, Frames(audio));
    auto timeline = MakeTimeline(audio);
    Timeline* played = timeline.get();
    ManagerThread rig;
    AudioOutputManager* manager = rig.Manager();
    auto const state = [&rig] { return rig.Info(QStringLiteral("Audio Output State")); };
    auto const rests = [&rig] {
        return QTest::qWaitFor([&rig] { return RunningTimers(rig) == 0; }, TimingBounds::CONDITION_WAIT_MS);
    };
    rig.Run([=] {
        manager->SetTimeline(played);
        manager->SetAudioPlaybackReady(true);
        manager->UpdateAudioOutputState(false, true, -1, 1.0f);
    });
    // Never played: nothing runs.
    QVERIFY(rests());
    QCOMPARE(state(), QStringLiteral("Stopped"));

    // Plays a moment, then pauses.
    auto const play = [&] {
        rig.Run([=] { manager->UpdateAudioOutputState(true, true, -1, 1.0f); });
        bool const started = QTest::qWaitFor(
            [&] {
                RunClock(played, 1.0, true, 20);
                return state() == QStringLiteral("Active");
            },
            TimingBounds::CONDITION_WAIT_MS);
        RunClock(played, 1.0, true, 200);
        bool const ticked = RunningTimers(rig) > 0;
        rig.Run([=] { manager->UpdateAudioOutputState(false, true, -1, 1.0f); });
        return started && ticked;
    };
    // Paused, the sink is suspended once it played out, and a play soon
    // after resumes it; a longer pause closes its stream.
    QVERIFY(play());
    QVERIFY(QTest::qWaitFor([&] { return state() == QStringLiteral("Suspended"); }, TimingBounds::CONDITION_WAIT_MS));
    QVERIFY(play());
    QVERIFY2(rests(), qPrintable(QStringLiteral("%1 timers still run, the output is %2")
                                     .arg(RunningTimers(rig))
                                     .arg(state())));
    QCOMPARE(state(), QStringLiteral("Stopped"));
    QVERIFY(play());
    QVERIFY(rests());

    // A scrub plays its frame, then the output rests again.
    played->SetPlaybackFrame(40);
    rig.Run([=] {
        manager->ClearAndResetAudioData();
        manager->UpdateAudioOutputState(true, true, 41666, 1.0f);
    });
    QVERIFY(rests());
    QCOMPARE(state(), QStringLiteral("Stopped"));
}

QTEST_GUILESS_MAIN(TestAudioOutputRest)

#include "tst_audiooutputrest.moc"
