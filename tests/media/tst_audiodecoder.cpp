#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AudioDecoder.h"
#include "media/AudioFrame.h"
#include "media/AvParser.h"
#include "model/Source.h"

#include "support/TestMedia.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

namespace
{

int const RATE = 48000;
int const CHANNELS = 2;
// One output sample (µs, rounded up): how far apart backward windows may meet.
long long const JOIN_TOLERANCE = 1000000 / RATE + 2;

using Blocks = QList<std::shared_ptr<AudioFrame>>;
using Samples = std::vector<float>; // interleaved stereo

// What ffmpeg makes of the file: 32-bit float, stereo, 48 kHz.
Samples FfmpegSamples(QString const& name)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-i", TestMedia::Path(name), "-f", "f32le", "-ac", "2", "-ar",
                            "48000", "-"});
    ffmpeg.waitForFinished(60000);
    QByteArray const bytes = ffmpeg.readAllStandardOutput();
    Samples samples(static_cast<size_t>(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

long long SampleIndex(long long time)
{
    return std::llround(static_cast<double>(time) * RATE / 1e6);
}

// PCM converts exactly. The AAC decoder fills some bands with noise from a
// generator that runs on through seeks, which moves samples in the fourth
// decimal place; a block one sample off its place would differ by 1e-2.
float Tolerance(QString const& name)
{
    return name.endsWith(QLatin1String(".wav")) ? 1e-6f : 1e-3f;
}

// A parsed source with an open decoder that collects what it emits.
struct Decoded
{
    explicit Decoded(QString const& path)
        : source(path, QString(), QUuid())
    {
        AvParser().Parse(&source, 0);
        opened = decoder.OpenSource(&source, 0, 0);
        decoder.SetVideoStreamIndexForSeek(source.FirstVideoStreamIndex());
        QObject::connect(&decoder, &AudioDecoder::AudioFrameDecoded,
                         [this](std::shared_ptr<AudioFrame> block, AudioStreamInfo*) { emitted.append(block); });
    }

    // Decodes until the decoder answers 2 or 3.
    int Run()
    {
        int status = AudioDecoder::STATUS_DONE;
        while (status == AudioDecoder::STATUS_DONE)
        {
            status = decoder.DecodeNext();
        }
        return status;
    }

    // What was emitted, without the end markers.
    Blocks Real() const
    {
        Blocks real;
        std::copy_if(emitted.cbegin(), emitted.cend(), std::back_inserter(real), [](auto const& block) { return block; });
        return real;
    }

    Source source;
    AudioDecoder decoder;
    bool opened = false;
    Blocks emitted;
};

// Every sample of every block equals ffmpeg's at the block's position.
void CompareWithFfmpeg(Blocks const& blocks, Samples const& reference, float tolerance)
{
    for (auto const& block : blocks)
    {
        QCOMPARE(block->samplesPerChannel * CHANNELS * static_cast<long long>(sizeof(float)), block->data.size());
        QCOMPARE(block->byteSize, block->data.size());
        auto const* data = reinterpret_cast<float const*>(block->data.constData());
        size_t const first = static_cast<size_t>(SampleIndex(block->startTime)) * CHANNELS;
        QVERIFY(first + block->samplesPerChannel * CHANNELS <= reference.size());
        for (long long i = 0; i < block->samplesPerChannel * CHANNELS; ++i)
        {
            QVERIFY2(std::abs(data[i] - reference[first + i]) <= tolerance,
                     qPrintable(QStringLiteral("sample %1 of the block at %2 µs").arg(i / CHANNELS).arg(block->startTime)));
        }
    }
}

// The blocks laid out at the sample positions their start times give.
Samples Render(Blocks const& blocks, long long length)
{
    Samples samples(static_cast<size_t>(length) * CHANNELS, 0.0f);
    for (auto const& block : blocks)
    {
        auto const* data = reinterpret_cast<float const*>(block->data.constData());
        long long const first = SampleIndex(block->startTime);
        for (long long i = 0; i < block->samplesPerChannel && first + i < length; ++i)
        {
            samples[(first + i) * CHANNELS] = data[i * CHANNELS];
            samples[(first + i) * CHANNELS + 1] = data[i * CHANNELS + 1];
        }
    }
    return samples;
}

// The loudest sample of a channel within 100 samples of around.
long long PeakNear(Samples const& samples, int channel, long long around)
{
    long long best = around;
    for (long long i = around - 100; i <= around + 100; ++i)
    {
        if (std::abs(samples[i * CHANNELS + channel]) > std::abs(samples[best * CHANNELS + channel]))
        {
            best = i;
        }
    }
    return best;
}

// A copy of a test file, changed, in a temporary folder.
QString WriteVariant(QTemporaryDir const& dir, QString const& name, QString const& copy,
                     std::function<void(QByteArray&)> const& change)
{
    QFile original(TestMedia::Path(name));
    original.open(QIODevice::ReadOnly);
    QByteArray bytes = original.readAll();
    change(bytes);
    QFile file(dir.filePath(copy));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return file.fileName();
}

// The largest difference of any sample from ffmpeg's, whose first sample
// lies at the time origin, and where it lies.
struct Deviation
{
    float error = 0.0f;
    long long blockStart = -1;
    long long sample = -1;
    bool outside = false; // a block reaches outside ffmpeg's samples

    bool Within(float tolerance) const { return !outside && error <= tolerance; }
};

Deviation Deviate(Blocks const& blocks, Samples const& reference, long long origin)
{
    Deviation worst;
    for (auto const& block : blocks)
    {
        auto const* data = reinterpret_cast<float const*>(block->data.constData());
        long long const first = SampleIndex(block->startTime - origin);
        if (first < 0 || static_cast<size_t>((first + block->samplesPerChannel) * CHANNELS) > reference.size())
        {
            worst.outside = true;
            worst.blockStart = block->startTime;
            return worst;
        }
        for (long long i = 0; i < block->samplesPerChannel * CHANNELS; ++i)
        {
            float const error = std::abs(data[i] - reference[static_cast<size_t>(first * CHANNELS + i)]);
            if (error > worst.error)
            {
                worst = {error, block->startTime, i / CHANNELS, false};
            }
        }
    }
    return worst;
}

QString Describe(Deviation const& deviation)
{
    return deviation.outside ? QStringLiteral("the block at %1 µs lies outside ffmpeg's samples").arg(deviation.blockStart)
                             : QStringLiteral("%1 off at sample %2 of the block at %3 µs")
                                   .arg(deviation.error)
                                   .arg(deviation.sample)
                                   .arg(deviation.blockStart);
}

// What ffmpeg decodes from where a seek to time (µs) lands, untrimmed.
Samples FfmpegSamplesFromSeek(QString const& name, long long time)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-seek_timestamp", "1", "-ss", QString::number(time / 1e6, 'f', 6),
                            "-noaccurate_seek", "-i", TestMedia::Path(name), "-f", "f32le", "-ac", "2", "-ar", "48000",
                            "-"});
    ffmpeg.waitForFinished(60000);
    QByteArray const bytes = ffmpeg.readAllStandardOutput();
    Samples samples(static_cast<size_t>(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

// The sample of samples (within its first half second) at which the block's
// samples are found.
long long AlignedOffset(std::shared_ptr<AudioFrame> const& block, Samples const& samples)
{
    auto const* data = reinterpret_cast<float const*>(block->data.constData());
    long long const count = std::min(block->samplesPerChannel, 480LL);
    long long best = -1;
    float bestError = std::numeric_limits<float>::max();
    for (long long offset = 0; offset < RATE / 2 && static_cast<size_t>((offset + count) * CHANNELS) <= samples.size(); ++offset)
    {
        float error = 0.0f;
        for (long long i = 0; i < count * CHANNELS && error < bestError; ++i)
        {
            error = std::max(error, std::abs(data[i] - samples[static_cast<size_t>(offset * CHANNELS + i)]));
        }
        if (error < bestError)
        {
            bestError = error;
            best = offset;
        }
    }
    return best;
}

} // namespace

class TestAudioDecoder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void ForwardDecodingMatchesFfmpeg_data();
    void ForwardDecodingMatchesFfmpeg();
    void BackwardDecodingMatchesFfmpeg_data();
    void BackwardDecodingMatchesFfmpeg();
    void ClicksLandOnTheirSample_data();
    void ClicksLandOnTheirSample();
    void CompressedSoundMatchesFfmpeg_data();
    void CompressedSoundMatchesFfmpeg();
    void TimingPassFindsTheEnd();
    void ResamplerThatCannotBeSetUpLogsOnce();
};

void TestAudioDecoder::init()
{
    Settings::audioOutputChannelCount = CHANNELS;
    Settings::audioOutputSampleRate = RATE;
    Settings::seekAudioByVideoStream = true;
    Settings::decodeExtraStreamInfoOnParse = true;
}

void TestAudioDecoder::ForwardDecodingMatchesFfmpeg_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<long long>("target");
    QTest::newRow("wav") << "tone.wav" << 0LL;
    QTest::newRow("aac") << "tone.m4a" << 0LL;
    QTest::newRow("aac in a movie") << "h264_gop250.mp4" << 0LL;
    QTest::newRow("wav after a seek") << "tone.wav" << 1300000LL;
    QTest::newRow("aac after a seek") << "tone.m4a" << 1300000LL;
    QTest::newRow("aac after a seek near the start") << "tone.m4a" << 50000LL;
    QTest::newRow("aac after a seek through the video stream") << "h264_gop250.mp4" << 7777000LL;
}

void TestAudioDecoder::ForwardDecodingMatchesFfmpeg()
{
    QFETCH(QString, name);
    QFETCH(long long, target);
    Samples const reference = FfmpegSamples(name);
    QVERIFY(!reference.empty());
    Decoded decoded(TestMedia::Path(name));
    QVERIFY(decoded.opened);
    // Somewhere else first: what the decoder held then must not come out.
    decoded.decoder.Seek(2500000);
    decoded.decoder.DecodeNext();
    decoded.emitted.clear();

    decoded.decoder.Seek(target);
    QCOMPARE(decoded.Run(), AudioDecoder::STATUS_END_REACHED);
    QVERIFY(!decoded.emitted.constLast());
    Blocks const blocks = decoded.Real();
    // From well before the target (the block after a seek is dropped), then
    // without a gap to the end of ffmpeg's samples.
    QVERIFY(blocks.constFirst()->startTime == 0 ||
            blocks.constFirst()->startTime <= target - AvDecoderBase::DECODE_BACKWARD_SEEK_OFFSET / 2);
    for (int i = 1; i < blocks.size(); ++i)
    {
        QCOMPARE(blocks.at(i)->startTime, blocks.at(i - 1)->endTime + 1);
    }
    QCOMPARE(SampleIndex(blocks.constLast()->endTime + 1), static_cast<long long>(reference.size()) / CHANNELS);
    CompareWithFfmpeg(blocks, reference, Tolerance(name));
}

void TestAudioDecoder::BackwardDecodingMatchesFfmpeg_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<long long>("from");
    QTest::newRow("wav") << "tone.wav" << 1700000LL;
    QTest::newRow("aac") << "tone.m4a" << 1700000LL;
    QTest::newRow("aac through the video stream") << "h264_gop250.mp4" << 1400000LL;
    QTest::newRow("resampled") << "clicks_44k.wav" << 1200000LL;
}

void TestAudioDecoder::BackwardDecodingMatchesFfmpeg()
{
    QFETCH(QString, name);
    QFETCH(long long, from);
    Samples const reference = FfmpegSamples(name);
    Decoded decoded(TestMedia::Path(name));
    QVERIFY(decoded.opened);
    decoded.decoder.SetDecodeForward(false);
    decoded.decoder.Seek(from);
    QCOMPARE(decoded.Run(), AudioDecoder::STATUS_START_REACHED);
    QVERIFY(!decoded.emitted.constLast());

    // Latest first from the block that ends at the start time, each ending
    // where the one before it starts, down to 0.
    Blocks const blocks = decoded.Real();
    QVERIFY(std::abs(blocks.constFirst()->endTime - from) <= JOIN_TOLERANCE);
    QCOMPARE(blocks.constLast()->startTime, 0);
    for (int i = 1; i < blocks.size(); ++i)
    {
        long long const gap = blocks.at(i - 1)->startTime - (blocks.at(i)->endTime + 1);
        QVERIFY2(std::abs(gap) <= JOIN_TOLERANCE, qPrintable(QStringLiteral("%1 µs at %2").arg(gap).arg(blocks.at(i)->endTime)));
    }
    if (name != QLatin1String("clicks_44k.wav"))
    {
        CompareWithFfmpeg(blocks, reference, Tolerance(name));
        return;
    }
    // Each window restarts the resampler at another phase: the clicks must
    // still land on their sample.
    Samples const rendered = Render(blocks, static_cast<long long>(reference.size()) / CHANNELS);
    QVERIFY(std::abs(PeakNear(rendered, 0, 24000) - 24000) <= 1);
    QVERIFY(std::abs(PeakNear(rendered, 1, 48000) - 48000) <= 1);
}

void TestAudioDecoder::ClicksLandOnTheirSample_data()
{
    // The output sample of each click and whether it is heard left and right.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QList<long long>>("positions");
    QTest::addColumn<QList<int>>("left");
    QTest::addColumn<QList<int>>("right");
    QTest::newRow("44.1 kHz stereo") << "clicks_44k.wav" << QList<long long>{24000, 48000} << QList<int>{1, 0}
                                     << QList<int>{0, 1};
    QTest::newRow("mono") << "clicks_mono.wav" << QList<long long>{12000, 36000} << QList<int>{1, 1}
                          << QList<int>{1, 1};
    QTest::newRow("5.1") << "clicks_51.wav" << QList<long long>{9600, 19200, 28800, 38400, 48000}
                         << QList<int>{1, 0, 1, 1, 0} << QList<int>{0, 1, 1, 0, 1};
}

void TestAudioDecoder::ClicksLandOnTheirSample()
{
    QFETCH(QString, name);
    QFETCH(QList<long long>, positions);
    QFETCH(QList<int>, left);
    QFETCH(QList<int>, right);
    Decoded decoded(TestMedia::Path(name));
    QVERIFY(decoded.opened);
    QCOMPARE(decoded.Run(), AudioDecoder::STATUS_END_REACHED);
    Blocks const blocks = decoded.Real();
    Samples const rendered = Render(blocks, SampleIndex(blocks.constLast()->endTime) + 1);
    for (int i = 0; i < positions.size(); ++i)
    {
        for (int channel = 0; channel < CHANNELS; ++channel)
        {
            long long const peak = PeakNear(rendered, channel, positions.at(i));
            float const level = std::abs(rendered[peak * CHANNELS + channel]);
            QString const what = QStringLiteral("click %1, channel %2: %3 at %4").arg(i).arg(channel).arg(level).arg(peak);
            if ((channel == 0 ? left : right).at(i))
            {
                QVERIFY2(level > 0.2f && std::abs(peak - positions.at(i)) <= 1, qPrintable(what));
            }
            else
            {
                QVERIFY2(level < 1e-4f, qPrintable(what));
            }
        }
    }
}

void TestAudioDecoder::CompressedSoundMatchesFfmpeg_data()
{
    QTest::addColumn<QString>("name");
    for (char const* name : {"chirp_mp3.mp3", "chirp_mp3.mkv", "chirp_mp3.mp4", "chirp_opus.opus", "chirp_opus.mkv",
                             "chirp_opus.mp4", "chirp_aac.mkv", "chirp_aac.mp4", "chirp_vorbis.mkv"})
    {
        QTest::newRow(name) << QString::fromLatin1(name);
    }
}

void TestAudioDecoder::CompressedSoundMatchesFfmpeg()
{
    QFETCH(QString, name);
    Samples const reference = FfmpegSamples(name);
    QVERIFY(!reference.empty());
    long long const length = static_cast<long long>(reference.size()) / CHANNELS;
    bool const opus = name.contains(QLatin1String("opus"));
    // A fresh decoder gives ffmpeg's samples to float rounding, and so does
    // one that seeked, once its pre-roll is dropped: MP3 exactly, AAC but for
    // its noise generator (see Tolerance). Opus converges instead, halving
    // its error every frame: after its 80 ms pre-roll less than a third of
    // the signal is left, and ffmpeg's own decode from the same packet is
    // the exact oracle.
    float const exact = name.contains(QLatin1String("aac")) ? 1e-2f : 1e-5f;
    float const converged = opus ? 0.15f : exact;

    // Forward from the start: every sample of ffmpeg's, in place. ffmpeg's
    // first sample is the stream's first, and so is the source's: at 0,
    // wherever the stream's clock puts it (an MP3's after its priming, 23 ms
    // at 48 kHz; a Vorbis stream's after its first packet).
    long long const origin = 0;
    {
        Decoded decoded(TestMedia::Path(name));
        QVERIFY(decoded.opened);
        decoded.decoder.Seek(0);
        QCOMPARE(decoded.Run(), AudioDecoder::STATUS_END_REACHED);
        Blocks const blocks = decoded.Real();
        AudioStreamInfo const& info = *decoded.source.AudioStreamInfoAtIndex(0, 0);
        QCOMPARE(blocks.constFirst()->startTime, origin);
        QCOMPARE(blocks.constFirst()->startTime + info.startTimeOffset, info.startTime);
        for (int i = 1; i < blocks.size(); ++i)
        {
            QCOMPARE(blocks.at(i)->startTime, blocks.at(i - 1)->endTime + 1);
        }
        QCOMPARE(SampleIndex(blocks.constLast()->endTime + 1 - origin), length);
        Deviation const deviation = Deviate(blocks, reference, origin);
        QVERIFY2(deviation.Within(exact), qPrintable(Describe(deviation)));
    }
    // Forward after seeks: from before the target, without a gap, to ffmpeg's
    // last sample.
    for (long long const target : {1300000LL, 2050000LL})
    {
        Decoded decoded(TestMedia::Path(name));
        decoded.decoder.Seek(2500000);
        decoded.decoder.DecodeNext();
        decoded.emitted.clear();
        decoded.decoder.Seek(target);
        QCOMPARE(decoded.Run(), AudioDecoder::STATUS_END_REACHED);
        Blocks const blocks = decoded.Real();
        QVERIFY(blocks.constFirst()->startTime <= target);
        for (int i = 1; i < blocks.size(); ++i)
        {
            QCOMPARE(blocks.at(i)->startTime, blocks.at(i - 1)->endTime + 1);
        }
        QCOMPARE(SampleIndex(blocks.constLast()->endTime + 1 - origin), length);
        Deviation const deviation = Deviate(blocks, reference, origin);
        QVERIFY2(deviation.Within(converged), qPrintable(QStringLiteral("seek to %1: %2").arg(target).arg(Describe(deviation))));
        if (opus)
        {
            // Where the decoder started: the seek margin and the pre-roll early.
            Samples const fromThere =
                FfmpegSamplesFromSeek(name, target - AvDecoderBase::DECODE_BACKWARD_SEEK_OFFSET - 80000);
            long long const offset = AlignedOffset(blocks.constFirst(), fromThere);
            Deviation const same = Deviate(blocks, fromThere, blocks.constFirst()->startTime - offset * 1000000 / RATE);
            QVERIFY2(same.Within(1e-5f), qPrintable(QStringLiteral("seek to %1: %2").arg(target).arg(Describe(same))));
        }
    }
    // Backward from 1.7 s to the start: windows that meet, and no priming
    // samples at the end.
    {
        Decoded decoded(TestMedia::Path(name));
        decoded.decoder.SetDecodeForward(false);
        decoded.decoder.Seek(1700000);
        QCOMPARE(decoded.Run(), AudioDecoder::STATUS_START_REACHED);
        Blocks const blocks = decoded.Real();
        QVERIFY(std::abs(blocks.constFirst()->endTime - 1700000) <= JOIN_TOLERANCE);
        QCOMPARE(blocks.constLast()->startTime, origin);
        for (int i = 1; i < blocks.size(); ++i)
        {
            long long const gap = blocks.at(i - 1)->startTime - (blocks.at(i)->endTime + 1);
            QVERIFY2(std::abs(gap) <= JOIN_TOLERANCE, qPrintable(QStringLiteral("%1 µs at %2").arg(gap).arg(blocks.at(i)->endTime)));
        }
        Deviation const deviation = Deviate(blocks, reference, origin);
        QVERIFY2(deviation.Within(converged), qPrintable(QStringLiteral("backward: %1").arg(Describe(deviation))));
        // The last window is decoded from the start, by a fresh decoder.
        Blocks first;
        std::copy_if(blocks.cbegin(), blocks.cend(), std::back_inserter(first),
                     [origin](auto const& block) { return block->endTime < origin + 80000; });
        Deviation const start = Deviate(first, reference, origin);
        QVERIFY2(start.Within(exact), qPrintable(QStringLiteral("backward: %1").arg(Describe(start))));
    }
}

void TestAudioDecoder::TimingPassFindsTheEnd()
{
    // The last AAC frame is padded: the stream ends where ffmpeg's samples do,
    // and the duration follows.
    Source tone(TestMedia::Path("tone.m4a"), QString(), QUuid());
    AvParser().Parse(&tone, 0);
    long long const length = static_cast<long long>(FfmpegSamples("tone.m4a").size()) / CHANNELS;
    QCOMPARE(tone.AudioStreamInfoAtIndex(0, 0)->startTime, 0);
    QCOMPARE(tone.AudioStreamInfoAtIndex(0, 0)->endTime, length * 1000000 / RATE - 1);
    QCOMPARE(tone.Duration(), std::min(length * 1000000 / RATE - 1, tone.ParsedContainerDuration()));

    // A WAV whose header claims 3 s while 1 s of samples follows ends after 1 s.
    QTemporaryDir dir;
    Source cut(WriteVariant(dir, "tone.wav", "cut.wav", [](QByteArray& bytes) { bytes.chop(2 * RATE * 2 * 2); }),
               QString(), QUuid());
    AvParser().Parse(&cut, 0);
    QCOMPARE(cut.AudioStreamInfoAtIndex(0, 0)->endTime, 999999);
    QCOMPARE(cut.Duration(), 999999);

    // Not one frame decodes: the container's duration stands.
    QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
    Source noise(WriteVariant(dir, "tone.m4a", "noise.m4a",
                              [](QByteArray& bytes) {
                                  // The media data box: a 32-bit big-endian size, "mdat", the frames.
                                  qsizetype const mdat = bytes.indexOf("mdat");
                                  auto const* size = reinterpret_cast<uchar const*>(bytes.constData() + mdat - 4);
                                  qsizetype const end = mdat - 4 + ((size[0] << 24) | (size[1] << 16) | (size[2] << 8) | size[3]);
                                  std::fill(bytes.begin() + mdat + 4, bytes.begin() + end, char(0xff));
                              }),
                 QString(), QUuid());
    AvParser().Parse(&noise, 0);
    QVERIFY(noise.ParsedContainerDuration() > 2900000);
    QCOMPARE(noise.AudioStreamInfoAtIndex(0, 0)->endTime, noise.ParsedContainerDuration());
    QCOMPARE(noise.Duration(), noise.ParsedContainerDuration());
    QCOMPARE(warnings.constLast().constFirst().toString(),
             QStringLiteral("Failed to set end time for audio stream (0): noise.m4a"));

    // A stream opened without the parser's pass gets it on opening.
    Settings::decodeExtraStreamInfoOnParse = false;
    Decoded unparsed(TestMedia::Path("tone.wav"));
    QCOMPARE(unparsed.source.AudioStreamInfoAtIndex(0, 0)->endTime, 2999999);
}

void TestAudioDecoder::ResamplerThatCannotBeSetUpLogsOnce()
{
    // More output channels than the resampler takes: silence, still timed and
    // sized for the output, and one error.
    Settings::audioOutputChannelCount = 65;
    Decoded decoded(TestMedia::Path("tone.wav"));
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    decoded.decoder.Seek(0);
    QCOMPARE(decoded.Run(), AudioDecoder::STATUS_END_REACHED);
    QCOMPARE(errors.size(), 1);
    long long samples = 0;
    for (auto const& block : decoded.Real())
    {
        QCOMPARE(block->byteSize, block->samplesPerChannel * 65 * 4);
        QVERIFY(std::all_of(block->data.cbegin(), block->data.cend(), [](char byte) { return byte == 0; }));
        samples += block->samplesPerChannel;
    }
    QCOMPARE(samples, 3 * RATE);
    QCOMPARE(decoded.Real().constLast()->endTime, 2999999);
}

QTEST_GUILESS_MAIN(TestAudioDecoder)
#include "tst_audiodecoder.moc"
