#include "EngineTestRig.h"
#include "support/TimingBounds.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

using namespace EngineTestRig;

// The engine on a machine without any audio server: a movie with sound must
// still play its pictures in time, and the missing device is reported once.
class TestAvManagerNoAudio : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void VideoPlaysWithoutAnAudioServer();
};

void TestAvManagerNoAudio::VideoPlaysWithoutAnAudioServer()
{
    QStringList warnings;
    connect(Logger::GetInstance(), &Logger::WarningLogged, this, [&](QString const& line) { warnings << line; });
    Settings::loopState = 1;

    std::unique_ptr<Timeline> movie = SourceTimeline("numbered_av.mp4");
    QVERIFY(movie->SourcePtr()->IsParsed());
    QVERIFY(movie->SourcePtr()->AudioStreamCount() > 0);

    AvManager av;
    ViewerProbe probe(&av, movie.get());
    av.DecodeTimeline(movie.get(), 0, false, true, false);
    av.SetPlaybackTime(0, false, false, true, true);
    QVERIFY(QTest::qWaitFor([&] { return probe.Shows(av.PlaybackTime()); }, 20000));

    probe.Reset();
    av.Play(true, false);
    // The clock does not wait on sound: it runs past the movie's first
    // second, through twenty pictures (however long a loaded machine takes).
    bool const ran = QTest::qWaitFor([&] { return av.PlaybackTime() > 1000000 && probe.distinct >= 20; },
                                     TimingBounds::CONDITION_WAIT_MS);
    av.Pause(DecodeBias::None);
    QVERIFY2(ran, qPrintable(QStringLiteral("clock %1 µs, %2 pictures").arg(av.PlaybackTime()).arg(probe.distinct)));
    QVERIFY(QTest::qWaitFor([&] { return probe.Shows(av.PlaybackTime()); }, 20000));
    QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));
    QCOMPARE(warnings.count(QStringLiteral("Audio output device not found")), 1);

    QVERIFY(EndTasks(av));
}

int main(int argc, char* argv[])
{
    // No audio server answers at this address.
    qputenv("PULSE_SERVER", "unix:/nonexistent/tessarin-no-audio-server");
    QApplication app(argc, argv);
    TestAvManagerNoAudio test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_avmanagernoaudio.moc"
