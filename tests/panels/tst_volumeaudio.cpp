#include "../media/AudioTestRig.h"
#include "../media/EngineTestRig.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "panels/FlatButton.h"
#include "panels/VolumeWidget.h"

#include <QtTest>

// The volume control on the real engine and the test audio server: muting
// silences what the null sink plays, and unmuting, even without a change of
// volume, brings the sound back.
class TestVolumeAudio : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void MuteSilencesAndUnmuteRestoresTheSound();
};

void TestVolumeAudio::MuteSilencesAndUnmuteRestoresTheSound()
{
    Settings::volume = 100;
    Settings::muted = false;
    Settings::loopState = 1;
    std::unique_ptr<Timeline> movie = EngineTestRig::SourceTimeline("numbered_av.mp4");
    QVERIFY(movie->SourcePtr()->AudioStreamCount() > 0);

    AvManager av;
    VolumeWidget volume(false, &av, nullptr);
    av.DecodeTimeline(movie.get(), 0, true, true, false);
    QVERIFY(QTest::qWaitFor([&] { return av.IsAudioPlaybackReady(); }, 20000));

    AudioTestRig::Capture capture;
    QVERIFY2(capture.Start(), "no capture: is the test audio server running?");
    // Each stretch lasts one second of the engine's playback clock, so that a
    // loaded machine stretches the capture and the stretches alike.
    long long const start = av.PlaybackTime();
    auto const playedFor = [&av, start](long long microseconds) {
        return QTest::qWaitFor([&] { return av.PlaybackTime() >= start + microseconds; }, 20000);
    };
    av.Play(true, false);
    QVERIFY(playedFor(1000000));
    QTest::mouseClick(volume.MuteButton(), Qt::LeftButton);
    QVERIFY(Settings::muted);
    QVERIFY(playedFor(2000000));
    volume.SetVolume(Settings::volume); // unmutes, at the same volume
    QVERIFY(!Settings::muted);
    QVERIFY(playedFor(3000000));
    av.Pause(DecodeBias::None);
    AudioTestRig::Samples const captured = capture.Stop();
    av.Shutdown();

    using AudioTestRig::FrameAt;
    std::vector<AudioTestRig::Span> const bursts = AudioTestRig::Bursts(captured, 0, FrameAt(0.3), 0.02f);
    QVERIFY2(bursts.size() == 2, qPrintable(QString::number(bursts.size())));
    QVERIFY(bursts.at(0).Length() > FrameAt(0.5));
    QVERIFY(bursts.at(1).Length() > FrameAt(0.5));
    long long const gap = bursts.at(1).first - bursts.at(0).last;
    QVERIFY2(gap > FrameAt(0.6) && gap < FrameAt(1.4), qPrintable(QString::number(gap)));
}

QTEST_MAIN(TestVolumeAudio)
#include "tst_volumeaudio.moc"
