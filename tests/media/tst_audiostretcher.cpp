#include "AudioTestRig.h"

#include "media/AudioStretcher.h"

#include <QtTest>

using namespace AudioTestRig;

class TestAudioStretcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void KeepsPitchChannelsAndWholeFrames_data();
    void KeepsPitchChannelsAndWholeFrames();
    void OutputStartsWithTheFirstInputSample_data();
    void OutputStartsWithTheFirstInputSample();
};

namespace
{
void AddSpeeds()
{
    QTest::addColumn<float>("speed");
    QTest::newRow("0.5x") << 0.5f;
    QTest::newRow("1.5x") << 1.5f;
    QTest::newRow("2x") << 2.0f;
}
} // namespace

void TestAudioStretcher::KeepsPitchChannelsAndWholeFrames_data()
{
    AddSpeeds();
}

void TestAudioStretcher::KeepsPitchChannelsAndWholeFrames()
{
    QFETCH(float, speed);
    // Left and right differ in pitch and level, so a swap anywhere shows.
    Samples input(static_cast<size_t>(FrameAt(3.0) * CHANNELS), 0.0f);
    AddTone(input, 440.0, 0.5, 0, Frames(input), 0);
    AddTone(input, 1000.0, 0.25, 0, Frames(input), 1);

    AudioStretcher stretcher;
    stretcher.SetPlaybackMultiplier(speed);
    QCOMPARE(stretcher.PlaybackMultiplier(), speed);
    stretcher.Reset();

    // Odd piece sizes; some pieces carry a stray half frame, which must be
    // ignored rather than shift every later sample by one channel.
    long long const pieces[] = {1001, 333, 4097, 17, 2500, 480};
    QByteArray output;
    long long fed = 0;
    long long fedAtOneSecond = -1;
    long long outputAtOneSecond = -1;
    for (int piece = 0; fed < Frames(input); ++piece)
    {
        long long const count = std::min(pieces[piece % 6], Frames(input) - fed);
        QByteArray bytes = ToBytes(input, fed, count);
        if (piece % 3 == 0)
        {
            float const stray = 1.0f;
            bytes.append(reinterpret_cast<char const*>(&stray), sizeof(stray));
        }
        stretcher.FillInputBuffer(bytes);
        stretcher.Process();
        stretcher.FillOutputBuffer(output);
        fed += count;
        if (outputAtOneSecond < 0 && fed >= FrameAt(1.0))
        {
            fedAtOneSecond = fed;
            outputAtOneSecond = output.size() / static_cast<qsizetype>(CHANNELS * sizeof(float));
        }
    }
    QCOMPARE(output.size() % static_cast<qsizetype>(CHANNELS * sizeof(float)), 0);
    Samples const result = FromBytes(output);

    // Output grows at 1 / speed of the input once the stretcher runs.
    double const slope = static_cast<double>(Frames(result) - outputAtOneSecond) / static_cast<double>(fed - fedAtOneSecond);
    QVERIFY2(std::fabs(slope * speed - 1.0) < 0.02, qPrintable(QString::number(slope)));

    QVERIFY(Peak(result) < 0.8f);
    for (double at : {0.25, 0.5, 0.75})
    {
        long long const first = static_cast<long long>(at * static_cast<double>(Frames(result)));
        long long const count = FrameAt(0.2);
        double const left = Frequency(result, 0, first, count);
        double const right = Frequency(result, 1, first, count);
        QVERIFY2(std::fabs(left - 440.0) < 2.0, qPrintable(QString::number(left)));
        QVERIFY2(std::fabs(right - 1000.0) < 3.0, qPrintable(QString::number(right)));
        double const levels = Rms(result, 0, first, count) / Rms(result, 1, first, count);
        QVERIFY2(levels > 1.6 && levels < 2.5, qPrintable(QString::number(levels)));
    }
}

void TestAudioStretcher::OutputStartsWithTheFirstInputSample_data()
{
    AddSpeeds();
}

void TestAudioStretcher::OutputStartsWithTheFirstInputSample()
{
    QFETCH(float, speed);
    // 0.3 s of silence, 0.5 s of tone, 0.7 s of silence.
    Samples input(static_cast<size_t>(FrameAt(1.5) * CHANNELS), 0.0f);
    AddTone(input, 440.0, 0.5, FrameAt(0.3), FrameAt(0.5));

    AudioStretcher stretcher;
    stretcher.SetPlaybackMultiplier(speed);
    stretcher.Reset();
    QByteArray output;
    for (long long fed = 0; fed < Frames(input); fed += 480)
    {
        stretcher.FillInputBuffer(ToBytes(input, fed, std::min(480LL, Frames(input) - fed)));
        stretcher.Process();
        stretcher.FillOutputBuffer(output);
    }
    Samples const result = FromBytes(output);
    Span const tone = Loud(result, 0, 0, -1, 0.25f);
    // The warm-up is dropped: the tone comes where time-stretching puts it.
    double const onset = static_cast<double>(tone.first) / RATE;
    double const length = static_cast<double>(tone.Length()) / RATE;
    QVERIFY2(std::fabs(onset - 0.3 / speed) < 0.006, qPrintable(QString::number(onset)));
    QVERIFY2(std::fabs(length - 0.5 / speed) < 0.02, qPrintable(QString::number(length)));

    // A reset starts over: the same input gives the same output again.
    stretcher.Reset();
    QByteArray again;
    for (long long fed = 0; fed < Frames(input); fed += 480)
    {
        stretcher.FillInputBuffer(ToBytes(input, fed, std::min(480LL, Frames(input) - fed)));
        stretcher.Process();
        stretcher.FillOutputBuffer(again);
    }
    QCOMPARE(Loud(FromBytes(again), 0, 0, -1, 0.25f).first, tone.first);
}

QTEST_GUILESS_MAIN(TestAudioStretcher)
#include "tst_audiostretcher.moc"
