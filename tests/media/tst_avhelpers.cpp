#include "media/AvHelpers.h"
#include "media/MediaProbe.h"

#include "support/PathFlipper.h"
#include "support/TestMedia.h"
#include "support/Watchdog.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestAvHelpers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void AudioSizesAtDefaultOutput();
    void FrameSteps();
    void ClockIsMonotonic();
    void OpenTest();
    void OpenOfAPathFlippedToAFifoNeverBlocks();
};

void TestAvHelpers::AudioSizesAtDefaultOutput()
{
    QCOMPARE(AvHelpers::AudioOutputBytesPerSample(), 4);
    QCOMPARE(AvHelpers::AudioOutputSampleFormat(), AV_SAMPLE_FMT_FLT);
    QCOMPARE(AvHelpers::AudioOutputSizeForDuration(1000000), 384000LL);
    QCOMPARE(AvHelpers::AudioOutputDurationForSize(384000), 1000000LL);
    QCOMPARE(AvHelpers::AudioOutputSamplesPerChannel(384000), 48000LL);
    // Ten hours of audio: sizes and sample counts stay exact past 32 bits.
    long long const tenHours = 36000LL * 1000000LL;
    QCOMPARE(AvHelpers::AudioOutputSizeForDuration(tenHours), 36000LL * 384000LL);
    QCOMPARE(AvHelpers::AudioOutputDurationForSize(36000LL * 384000LL), tenHours);
}

void TestAvHelpers::FrameSteps()
{
    QCOMPARE(AvHelpers::FrameRateToFrameStep(25.0), 40000.0);
    QVERIFY(qAbs(AvHelpers::FrameRateToFrameStep(30000.0 / 1001.0) - 33366.6666667) < 1e-6);
}

void TestAvHelpers::ClockIsMonotonic()
{
    long long previous = AvHelpers::AvGetTime();
    for (int i = 0; i < 1000; ++i)
    {
        long long const now = AvHelpers::AvGetTime();
        QVERIFY(now >= previous);
        previous = now;
    }
}

void TestAvHelpers::OpenTest()
{
    QVERIFY(AvHelpers::CanOpenInput(TestMedia::Path("h264_cfr25.mp4")));
    QVERIFY(AvHelpers::CanOpenInput(TestMedia::Path("tone.wav")));
    QVERIFY(!AvHelpers::CanOpenInput(TestMedia::Path("empty.mp4")));
    QVERIFY(!AvHelpers::CanOpenInput(TestMedia::Path("does-not-exist.mp4")));
}

void TestAvHelpers::OpenOfAPathFlippedToAFifoNeverBlocks()
{
    // Whatever the path names when it is checked and when it is opened, the
    // probe and the open end: what is read is the regular file that was
    // opened, or nothing.
    QFile media(TestMedia::Path("h264_cfr25.mp4"));
    QVERIFY(media.open(QIODevice::ReadOnly));
    QTemporaryDir folder;
    PathFlipper flipper(folder.path(), "flipped.mp4", media.readAll());
    QVERIFY(flipper.IsValid());
    constexpr int ROUNDS = 200;
    {
        Watchdog watchdog("probing and opening a media path flipped to a FIFO", std::chrono::seconds(60),
                          [&flipper] { flipper.ReleaseReaders(); });
        flipper.Start();
        for (int round = 0; round < ROUNDS; ++round)
        {
            MediaProbe::HasStreamWithDecoder(flipper.Path());
            AvHelpers::CanOpenInput(flipper.Path());
        }
        QVERIFY(flipper.Stop() > 0);
        QVERIFY2(!watchdog.Disarm(), "an open blocked on the FIFO");
    }
    // The regular file still opens through the same door. (While the path
    // flips, how often it names the file at each check depends on the load.)
    QVERIFY(flipper.SettleOnRegular());
    QVERIFY(MediaProbe::HasStreamWithDecoder(flipper.Path()));
    QVERIFY(AvHelpers::CanOpenInput(flipper.Path()));
}

QTEST_GUILESS_MAIN(TestAvHelpers)
#include "tst_avhelpers.moc"
