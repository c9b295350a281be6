#include "AudioTestRig.h"
#include "support/LoggedMessages.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace AudioTestRig;

// An audio server of this test's own dies while the output plays and comes
// back: one message for the outage, and the output plays again by itself.
class TestAudioOutputRecovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void PicksTheServerUpAgain();
};

namespace
{
bool StartServer()
{
    return QProcess::execute(QStringLiteral("sh"), {QStringLiteral(TESSARIN_TEST_SCRIPTS_DIR
                                                                   "/support/start_audio_server.sh")}) == 0;
}

void StopServer()
{
    QProcess::execute(QStringLiteral("pulseaudio"), {QStringLiteral("--kill")});
    // Gone only once its process has ended and removed its files; nothing
    // announces that (the server is no child of ours), so it is polled.
    QElapsedTimer waited;
    waited.start();
    while (QProcess::execute(QStringLiteral("pulseaudio"), {QStringLiteral("--check")}) == 0 && waited.elapsed() < 5000)
    {
        QThread::msleep(50);
    }
}
} // namespace

void TestAudioOutputRecovery::PicksTheServerUpAgain()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
    {
        QSKIP("pulseaudio is not installed");
    }
    QVERIFY(StartServer());
    auto stop = qScopeGuard(StopServer);
    Samples audio(static_cast<size_t>(FrameAt(30.0) * CHANNELS), 0.0f);
    AddTone(audio, 440.0, 0.3, 0, Frames(audio));
    auto timeline = MakeTimeline(audio);

    // The output logs on its own thread.
    LoggedMessages warnings(&Logger::WarningLogged);
    LoggedMessages errors(&Logger::ErrorLogged);
    ManagerThread rig;
    AudioOutputManager* manager = rig.Manager();
    Timeline* played = timeline.get();
    rig.Run([=] {
        manager->SetTimeline(played);
        manager->SetAudioPlaybackReady(true);
        manager->UpdateAudioOutputState(true, true, -1, 1.0f);
    });
    auto const state = [&rig] { return rig.Info(QStringLiteral("Audio Output State")); };
    RunClock(played, 1.0, true, 500);
    QCOMPARE(state(), QStringLiteral("Active"));

    StopServer();
    RunClock(played, 1.0, true, 1000);
    QCOMPARE(state(), QStringLiteral("Stopped"));
    QVERIFY(StartServer());
    // The sound system reconnects within a few seconds; the output tries
    // again every two.
    QElapsedTimer waited;
    waited.start();
    while (state() != QStringLiteral("Active") && waited.elapsed() < 12000)
    {
        RunClock(played, 1.0, true, 100);
    }
    QCOMPARE(state(), QStringLiteral("Active"));
    QCOMPARE(warnings.Messages(), QStringList());
    QCOMPARE(errors.Messages(), QStringList {QStringLiteral("Audio Output Error: FatalError")});
}

int main(int argc, char** argv)
{
    // The server lives in a folder of this test's own, so killing it disturbs
    // no other test; set before the sound system first connects.
    QTemporaryDir home;
    QDir(home.path()).mkdir(QStringLiteral("runtime"));
    QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.filePath(QStringLiteral("runtime")).toLocal8Bit());
    qputenv("TMPDIR", home.path().toLocal8Bit());
    qunsetenv("PULSE_SERVER");
    QCoreApplication application(argc, argv);
    TestAudioOutputRecovery test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_audiooutputrecovery.moc"
