#include "AudioTestRig.h"
#include "support/LoggedMessages.h"

#include "app/Logger.h"

#include <QtTest>

using namespace AudioTestRig;

// With no audio server at all the output plays nothing, logs one warning and
// keeps its thread free, however long playback goes on.
class TestAudioOutputNoDevice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void PlaysSilentlyAndWarnsOnce();
};

void TestAudioOutputNoDevice::PlaysSilentlyAndWarnsOnce()
{
    Samples audio(static_cast<size_t>(FrameAt(4.0) * CHANNELS), 0.0f);
    AddTone(audio, 440.0, 0.3, 0, Frames(audio));
    auto timeline = MakeTimeline(audio);

    // Logged on the manager's thread.
    LoggedMessages warnings(&Logger::WarningLogged);
    LoggedMessages errors(&Logger::ErrorLogged);
    ManagerThread rig;
    AudioOutputManager* manager = rig.Manager();
    Timeline* played = timeline.get();
    rig.Run([=] {
        manager->SetTimeline(played);
        manager->SetAudioPlaybackReady(true);
        manager->UpdateAudioOutputState(true, true, -1, 2.0f);
    });
    // Past the first retry of the device.
    QElapsedTimer slowest;
    qint64 slowestCall = 0;
    RunClock(played, 2.0, true, 2600, [&rig, &slowest, &slowestCall] {
        slowest.start();
        rig.Run([] {});
        slowestCall = std::max(slowestCall, slowest.elapsed());
    });
    QTRY_COMPARE(warnings.Count(), 1);
    QCOMPARE(warnings.Messages().first(), QStringLiteral("Audio output device not found"));
    QCOMPARE(errors.Count(), 0);
    // The thread kept answering while it retried.
    QVERIFY2(slowestCall < 500, qPrintable(QString::number(slowestCall)));
    QCOMPARE(rig.Info(QStringLiteral("Audio Output State")), QStringLiteral("Stopped"));
    QCOMPARE(rig.Info(QStringLiteral("Timer Started")), QStringLiteral("1"));
}

int main(int argc, char** argv)
{
    // No server answers here: the one of the test run, if any, is hidden.
    qputenv("PULSE_SERVER", "unix:/nonexistent/tessarin-no-audio-server");
    QCoreApplication application(argc, argv);
    TestAudioOutputNoDevice test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_audiooutputnodevice.moc"
