#include "app/Logger.h"
#include "app/FileHelpers.h"
#include "app/Settings.h"
#include "media/AvParser.h"
#include "media/MediaInput.h"
#include "media/TsRestartCheck.h"
#include "media/TsTimestampScan.h"
#include "media/VideoDecoder.h"
#include "media/VideoFrame.h"
#include "media/VideoDecodeWorker.h"
#include "model/Source.h"

#include "support/PathFlipper.h"
#include "support/TestMedia.h"
#include "support/Watchdog.h"

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace
{

// The frames ffprobe decodes from the first video stream.
int DecodedFrameCount(QString const& path)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                              "stream=nb_read_frames", "-of", "csv=p=0", path});
    if (!ffprobe.waitForFinished(60000))
    {
        return -1;
    }
    return QString::fromLatin1(ffprobe.readAllStandardOutput()).section('\n', 0, 0).remove(',').trimmed().toInt();
}

// Bytes this process has read from files so far.
long long BytesRead()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
    {
        return -1;
    }
    for (QByteArray const& line : io.readAll().split('\n'))
    {
        if (line.startsWith("rchar:"))
        {
            return line.mid(6).trimmed().toLongLong();
        }
    }
    return -1;
}

// The PID of a transport stream's first video stream, or -1.
int VideoPid(QString const& path)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.toUtf8().constData(), nullptr, nullptr) < 0)
    {
        return -1;
    }
    int pid = -1;
    if (avformat_find_stream_info(context, nullptr) >= 0)
    {
        int const index = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        pid = index >= 0 ? context->streams[index]->id : -1;
    }
    avformat_close_input(&context);
    return pid;
}

// Whether the demuxer's decoding timestamps of the first video stream ever
// step back, as ffprobe lists them.
bool DemuxedTimestampsStepBack(QString const& path)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=dts", "-of",
                              "csv=p=0", path});
    if (!ffprobe.waitForFinished(60000))
    {
        return true;
    }
    long long previous = LLONG_MIN;
    for (QByteArray const& line : ffprobe.readAllStandardOutput().split('\n'))
    {
        bool ok = false;
        long long const dts = line.trimmed().replace(",", "").toLongLong(&ok);
        if (ok)
        {
            if (dts < previous)
            {
                return true;
            }
            previous = dts;
        }
    }
    return false;
}

// A transport stream of one PID, 0x100, with a PES a picture at each of the
// decoding timestamps given, each of pictureBytes. Each PES start packet is
// filled with stuffing but for its first headBytes bytes, so that its header
// runs on into the next packet.
QByteArray StuffedTs(std::vector<long long> const& timestamps, int headBytes, int pictureBytes = 300)
{
    QByteArray out;
    int counter = 0;
    auto const packet = [&](bool start, QByteArray const& payload) {
        QByteArray bytes(188, '\xff');
        bytes[0] = 0x47;
        bytes[1] = static_cast<char>((start ? 0x40 : 0) | 0x01);
        bytes[2] = 0x00;
        int const stuffing = 184 - static_cast<int>(payload.size());
        bytes[3] = static_cast<char>((stuffing > 0 ? 0x30 : 0x10) | (counter++ & 15));
        if (stuffing > 0)
        {
            bytes[4] = static_cast<char>(stuffing - 1);
            if (stuffing > 1)
            {
                bytes[5] = 0;
            }
        }
        bytes.replace(4 + stuffing, static_cast<int>(payload.size()), payload);
        out.append(bytes);
    };
    auto const timestamp = [](int prefix, long long value) {
        QByteArray bytes(5, '\0');
        bytes[0] = static_cast<char>((prefix << 4) | (((value >> 30) & 7) << 1) | 1);
        bytes[1] = static_cast<char>((value >> 22) & 0xff);
        bytes[2] = static_cast<char>((((value >> 15) & 0x7f) << 1) | 1);
        bytes[3] = static_cast<char>((value >> 7) & 0xff);
        bytes[4] = static_cast<char>(((value & 0x7f) << 1) | 1);
        return bytes;
    };
    for (long long const dts : timestamps)
    {
        QByteArray pes = QByteArray::fromHex("000001e00000"
                                             "80c00a");
        pes += timestamp(3, dts + 3003) + timestamp(1, dts) + QByteArray(pictureBytes, '\x55');
        packet(true, pes.left(headBytes));
        for (int at = headBytes; at < pes.size(); at += 184)
        {
            packet(false, pes.mid(at, 184));
        }
    }
    return out;
}

// A copy of a 188-byte transport stream with every packet grown to size:
// 192 puts four bytes before each packet, 204 sixteen after it.
QString Relayout(QString const& path, int size, QString const& target)
{
    QFile in(path);
    QFile out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
    {
        return QString();
    }
    QByteArray const data = in.readAll();
    QByteArray result;
    for (int offset = 0; offset + 188 <= data.size(); offset += 188)
    {
        if (size == 192)
        {
            result.append(QByteArray(4, '\0'));
        }
        result.append(data.mid(offset, 188));
        if (size == 204)
        {
            result.append(QByteArray(16, '\xff'));
        }
    }
    out.write(result);
    return target;
}

struct Parsed
{
    // Video timed by the route given (see AvParser::SetVideoTimesFromPackets).
    explicit Parsed(QString const& path, bool timesFromPackets = true)
        : source(path, QString(), QUuid())
        , parsedSpy(&source, &Source::Parsed)
        , updatedSpy(&source, &Source::Updated)
    {
        AvParser parser;
        parser.SetVideoTimesFromPackets(timesFromPackets);
        parser.Parse(&source, 0);
    }

    VideoStreamInfo const& Video() { return *source.VideoStreamInfoAtIndex(0, 0); }

    Source source;
    QSignalSpy parsedSpy;
    QSignalSpy updatedSpy;
};

// A copy of an MP4 whose media data is all zeros, its header intact: a
// download cut off before its data, or data lost.
bool WriteZeroedMediaData(QString const& source, QString const& target)
{
    QFile in(source);
    QFile out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
    {
        return false;
    }
    QByteArray movie = in.readAll();
    bool zeroed = false;
    auto const big = [&movie](qsizetype at, int bytes) {
        quint64 value = 0;
        for (int i = 0; i < bytes; ++i)
        {
            value = value << 8 | static_cast<unsigned char>(movie.at(at + i));
        }
        return value;
    };
    for (qsizetype offset = 0; offset + 8 <= movie.size();)
    {
        quint64 size = big(offset, 4);
        qsizetype header = 8;
        if (size == 1)
        {
            size = big(offset + 8, 8);
            header = 16;
        }
        else if (size == 0)
        {
            size = static_cast<quint64>(movie.size() - offset);
        }
        if (size < static_cast<quint64>(header) || offset + static_cast<qsizetype>(size) > movie.size())
        {
            return false;
        }
        if (movie.mid(offset + 4, 4) == "mdat")
        {
            std::fill(movie.begin() + offset + header, movie.begin() + offset + static_cast<qsizetype>(size), '\0');
            zeroed = true;
        }
        offset += static_cast<qsizetype>(size);
    }
    return zeroed && out.write(movie) == movie.size();
}

} // namespace

class TestAvParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void ReadsStreamProperties();
    void RateFollowsThePictureSpacing();
    void FrameCountsMatchDecodedFrames_data();
    void FrameCountsMatchDecodedFrames();
    void EndFromPacketsIsTheDecodedEnd_data();
    void EndFromPacketsIsTheDecodedEnd();
    void TransportStreamEndComesFromItsLastPackets_data();
    void TransportStreamEndComesFromItsLastPackets();
    void LargeStartTimeBecomesTheOffset();
    void MissingContainerDurationComesFromTheStream();
    void TruncatedFileKeepsEveryDecodableFrame();
    void CorruptTimestampDoesNotSetTheLength();
    void RestartingTimestampsAreFound();
    void PacketScanClearsOnlySteadyStreams();
    void PacketScanReadsEveryPacketLayout();
    void PacketScanInPartsAgreesWithOneScan();
    void LongPacketScanReadsSpotsAndFindsEveryRestart();
    void LongTransportStreamOpensReadingLittle();
    void PaddedTailIsReadOnce();
    void StreamWithoutTimestampsIsNumberedReadingLittle();
    void RotationIsAQuarterTurn_data();
    void RotationIsAQuarterTurn();
    void SecondParseUpdatesInPlace();
    void BadFilesGetAnError_data();
    void BadFilesGetAnError();
    void FileRemovedAfterCreationIsMissing();
    void StreamsThatNeverDecodeAreRefused_data();
    void StreamsThatNeverDecodeAreRefused();
    void ListsOfOtherFilesAreRefused();
    void EveryTestFileOfAPlayerTypeOpens();
    void FifoIsRefusedWithoutWaitingForAWriter();
    void PacketScanOfAPathFlippedToAFifoNeverBlocks();
    void AbsurdSampleRateIsRefused();
    void CoverArtIsNotAVideoStream();
    void ImageSequenceFileIsOneFrame();
    void MetadataKeepsEveryEntry();
};

void TestAvParser::init()
{
    Settings::decodeExtraStreamInfoOnParse = true;
    Settings::videoDecoderForceRgbOutput = false;
}

void TestAvParser::ReadsStreamProperties()
{
    Parsed parsed(TestMedia::Path("numbered_gop250.mp4"));
    Source& source = parsed.source;
    QVERIFY(source.IsParsed());
    QVERIFY(!source.HasErrors());
    QCOMPARE(parsed.parsedSpy.count(), 1);
    QCOMPARE(parsed.updatedSpy.count(), 0);
    QCOMPARE(source.VideoStreamCount(), 1);
    QCOMPARE(source.AudioStreamCount(), 0);
    QVERIFY(source.FileParsed(0));
    VideoStreamInfo const& video = parsed.Video();
    QVERIFY(video.parsed);
    QCOMPARE(video.streamIndex, 0);
    QCOMPARE(video.codecName, QStringLiteral("h264"));
    QCOMPARE(video.width, 320);
    QCOMPARE(video.height, 240);
    QCOMPARE(video.alignedWidth, 320);
    QCOMPARE(video.pixelFormatName, QStringLiteral("yuv420p"));
    QVERIFY(video.isYuv);
    QVERIFY(!video.isBt709);
    QCOMPARE(video.componentCount, 3);
    QCOMPARE(video.bitsPerPixel, 12);
    QCOMPARE(video.sampleAspectRatio, 1.0f);
    QCOMPARE(video.displayAspectRatio, 320.0f / 240.0f);
    QCOMPARE(video.frameRate, 25.0);
    QCOMPARE(video.frameStep, 40000.0);
    QCOMPARE(video.startTimeOffset, 0LL);
    QCOMPARE(video.foundEndTime, 12000000LL);
    QCOMPARE(video.endTime, 11999999LL);
    QCOMPARE(video.frameCount, 300);
    QCOMPARE(source.FrameCount(), 300);
    QCOMPARE(source.Duration(), 11999999LL);
    QCOMPARE(source.ParsedContainerDuration(), 11999999LL);

    // 24000/1001: the rate is kept to three decimals, the step exact.
    Parsed ntsc(TestMedia::Path("h264_gop250.mp4"));
    QCOMPARE(ntsc.Video().frameRate, 23.976);
    QVERIFY(qAbs(ntsc.Video().frameStep - 41708.333333) < 1e-5);
    QCOMPARE(ntsc.source.AudioStreamCount(), 1);
    AudioStreamInfo const& audio = *ntsc.source.AudioStreamInfoAtIndex(0, 0);
    QVERIFY(audio.parsed);
    QCOMPARE(audio.codecName, QStringLiteral("aac"));
    QCOMPARE(audio.channelCount, 2);
    QCOMPARE(audio.channelLayout, quint64(AV_CH_LAYOUT_STEREO));
    QCOMPARE(audio.sampleRate, 48000);
    QVERIFY(audio.planar);
    QCOMPARE(audio.startTimeOffset, 0LL);

    // Without an average rate the real base rate counts.
    Parsed variable(TestMedia::Path("numbered_vfr.mkv"));
    QCOMPARE(variable.Video().frameRate, 120.0);
}

void TestAvParser::RateFollowsThePictureSpacing()
{
    // One packet timed 5 s late makes the average 200/13 fps; the pictures
    // are 40 ms apart. A long still skews the average the same way. A
    // corrupt timestamp among the first packets throws the real base rate
    // (225 fps), not the average. A phone's clock that jitters and pauses
    // averages 29.44 fps, and a stream cut with its edit list 30.30 fps,
    // both within a tenth of their base rate of 30 fps, which their
    // pictures keep far more closely.
    struct Case
    {
        char const* name;
        double rate;
        double step;
    };
    for (Case const& expected : {Case {"numbered_late5s.mp4", 25.0, 40000.0},
                                 Case {"numbered_still_bframes.mp4", 24.0, 1e6 / 24.0},
                                 Case {"numbered_badpts.ts", 25.0, 40000.0},
                                 Case {"numbered_phone.mov", 30.0, 1e6 / 30.0},
                                 Case {"numbered_refresh30.mp4", 30.0, 1e6 / 30.0}})
    {
        for (bool const fromPackets : {true, false})
        {
            Parsed parsed(TestMedia::Path(expected.name), fromPackets);
            QVERIFY2(!parsed.source.HasErrors(), expected.name);
            QCOMPARE(parsed.Video().frameRate, expected.rate);
            QCOMPARE(parsed.Video().frameStep, expected.step);
            QCOMPARE(parsed.source.FrameRate(), expected.rate);
        }
    }
}

void TestAvParser::FrameCountsMatchDecodedFrames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fromPackets");
    for (char const* name : {"numbered_gop250.mp4", "numbered_opengop.mkv", "numbered_offset.ts", "numbered_mjpeg.mov",
                             "numbered_rgba.mov", "numbered_odd_333x241.mkv", "h264_gop250.mp4", "h264_cfr25.mp4",
                             "rotated90.mp4", "nodur.mkv", "size_change.ts", "numbered_badpts.ts",
                             "numbered_restart.ts", "numbered_intrarefresh.mkv", "numbered_intrarefresh.mp4",
                             "numbered_intrarefresh.ts", "numbered_latepts.mp4", "numbered_latepts.mkv",
                             "numbered_hugeoffset.mkv", "numbered_hevc.mp4", "numbered_hevc_opengop.mkv",
                             "numbered_hevc_cra.mkv"})
    {
        QTest::newRow(name) << QString::fromLatin1(name) << true;
    }
    // Millisecond times above 30 fps, pictures without times, a cut-off MP4,
    // a first IDR that does not decode: from the packets' times and decoded.
    for (char const* name :
         {"numbered_60fps.mkv", "numbered_5994fps.webm", "numbered_mpeg4_bf2.avi", "numbered_cut.mp4",
          "numbered_brokenidr.mkv", "numbered_brokenidr.mp4", "numbered_hevc_brokenidr.mkv",
          "numbered_hevc_brokenidr.mp4"})
    {
        for (bool const fromPackets : {true, false})
        {
            QTest::addRow("%s, %s", name, fromPackets ? "packet times" : "decoded times")
                << QString::fromLatin1(name) << fromPackets;
        }
    }
    // Times off their frames by a fraction of one: millisecond times from a
    // rounded start, recordings joined a little late, and a last packet
    // timed seconds late (the count at the pictures' regular rate).
    // A recording from before its clock wrapped, a cut whose average rate
    // is 1 % off its pictures'. Broadcast sound in MPEG-TS, AV1 that starts
    // before its only sequence header (IVF, also under an MP4 name), a splice
    // an hour on.
    for (char const* name : {"numbered_msround.mkv", "numbered_joined.ts", "numbered_late5s.mp4", "numbered_wrap.ts",
                             "numbered_refresh30.mp4", "numbered_ac3.ts", "numbered_dvb.ts", "numbered_av1_cut.ivf",
                             "numbered_av1_cut_ivf.mp4", "numbered_av1_cut_ivf.mkv", "numbered_leap.ts"})
    {
        for (bool const fromPackets : {true, false})
        {
            QTest::addRow("%s, %s", name, fromPackets ? "packet times" : "decoded times")
                << QString::fromLatin1(name) << fromPackets;
        }
    }
}

void TestAvParser::FrameCountsMatchDecodedFrames()
{
    QFETCH(QString, name);
    QFETCH(bool, fromPackets);
    QString const path = TestMedia::Path(name);
    Parsed parsed(path, fromPackets);
    QVERIFY(!parsed.source.HasErrors());
    int const expected = DecodedFrameCount(path);
    QVERIFY(expected > 0);
    QCOMPARE(parsed.source.FrameCount(), expected);
}

void TestAvParser::EndFromPacketsIsTheDecodedEnd_data()
{
    QTest::addColumn<QString>("name");
    QDir const dir(TestMedia::Dir());
    QStringList const names = dir.entryList(QDir::Files, QDir::Name);
    for (QString const& name : names)
    {
        if (!name.startsWith('.'))
        {
            QTest::newRow(qPrintable(name)) << name;
        }
    }
    QVERIFY(names.contains(QStringLiteral("numbered_gop250.mp4")));
}

void TestAvParser::EndFromPacketsIsTheDecodedEnd()
{
    // Read from the last packets' times or decoded, every stream's end,
    // frame count and length come out the same.
    QFETCH(QString, name);
    QString const path = TestMedia::Path(name);
    Parsed decoded(path, false);
    Parsed read(path, true);
    QCOMPARE(read.source.HasErrors(), decoded.source.HasErrors());
    QCOMPARE(read.source.Duration(), decoded.source.Duration());
    QCOMPARE(read.source.FrameCount(), decoded.source.FrameCount());
    QCOMPARE(read.source.VideoStreamCount(), decoded.source.VideoStreamCount());
    for (int i = 0; i < decoded.source.VideoStreamCount(); ++i)
    {
        VideoStreamInfo const& expected = *decoded.source.VideoStreamInfoAtIndex(0, i);
        VideoStreamInfo const& actual = *read.source.VideoStreamInfoAtIndex(0, i);
        QCOMPARE(actual.startTimeOffset, expected.startTimeOffset);
        QCOMPARE(actual.foundEndTime, expected.foundEndTime);
        QCOMPARE(actual.endTime, expected.endTime);
        QCOMPARE(actual.frameCount, expected.frameCount);
    }
}

void TestAvParser::TransportStreamEndComesFromItsLastPackets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fromPackets");
    for (char const* name : {"numbered_long.ts", "numbered_mpeg2_long.ts"})
    {
        for (bool const fromPackets : {true, false})
        {
            QTest::addRow("%s, %s", name, fromPackets ? "packet times" : "decoded times")
                << QString::fromLatin1(name) << fromPackets;
        }
    }
}

void TestAvParser::TransportStreamEndComesFromItsLastPackets()
{
    // A time seek near the end of an MPEG-TS file lands on any packet there;
    // the end is found from the last key packet instead, stepping back from
    // the end of the file, not by reading the whole file.
    QFETCH(QString, name);
    QFETCH(bool, fromPackets);
    QString const path = TestMedia::Path(name);
    long long const size = QFileInfo(path).size();
    // What opening and probing read, without the timing pass.
    long long before = BytesRead();
    QVERIFY(before >= 0);
    Settings::decodeExtraStreamInfoOnParse = false;
    {
        Parsed const opened(path, fromPackets);
    }
    long long const opening = BytesRead() - before;
    Settings::decodeExtraStreamInfoOnParse = true;
    before = BytesRead();
    Parsed parsed(path, fromPackets);
    long long const timing = BytesRead() - before - opening;
    QVERIFY(!parsed.source.HasErrors());
    QCOMPARE(parsed.source.FrameCount(), DecodedFrameCount(path));
    QVERIFY2(timing < size / 2,
             qPrintable(QStringLiteral("the timing pass read %1 bytes of %2").arg(timing).arg(size)));
}

void TestAvParser::LargeStartTimeBecomesTheOffset()
{
    Parsed parsed(TestMedia::Path("numbered_offset.ts"));
    VideoStreamInfo const& video = parsed.Video();
    QCOMPARE(video.startTimeOffset, 1001400000LL);
    QCOMPARE(video.endTime, 6000000LL - 1);
    QCOMPARE(parsed.source.Duration(), 6000000LL - 1);
    QCOMPARE(video.frameCount, 150);
}

void TestAvParser::MissingContainerDurationComesFromTheStream()
{
    Parsed parsed(TestMedia::Path("nodur.mkv"));
    QCOMPARE(parsed.source.ParsedContainerDuration(), -1LL);
    QCOMPARE(parsed.Video().frameStep, 40000.0);
    QCOMPARE(parsed.Video().foundEndTime, 2000000LL);
    QCOMPARE(parsed.source.Duration(), 1999999LL);
    QCOMPARE(parsed.Video().frameCount, 50);
}

void TestAvParser::TruncatedFileKeepsEveryDecodableFrame()
{
    // The header still claims 4 s; the pass near the end finds nothing
    // there and must not shrink the file to a frame. 60 pictures decode, the
    // last at 2.4 s; the one at 2.36 s was lost with its packet, so the
    // picture before covers that frame.
    Parsed parsed(TestMedia::Path("truncated.mkv"));
    QVERIFY(!parsed.source.HasErrors());
    QCOMPARE(DecodedFrameCount(TestMedia::Path("truncated.mkv")), 60);
    QCOMPARE(parsed.source.ParsedContainerDuration(), 3999999LL);
    QCOMPARE(parsed.Video().foundEndTime, 2440000LL);
    QCOMPARE(parsed.source.Duration(), 2439999LL);
    QCOMPARE(parsed.Video().frameCount, 61);
}

void TestAvParser::CorruptTimestampDoesNotSetTheLength()
{
    // One picture's timestamp lies about 3 h ahead of the 3 s stream: the
    // length stays that of the pictures around it. The parse reads only the
    // last GOP of an MPEG-TS file, after that picture; read from the start
    // (as a cut-off file is), it says why it takes the time as corrupt.
    QString const path = TestMedia::Path("numbered_badpts.ts");
    QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
    Parsed parsed(path);
    QVERIFY(!parsed.source.HasErrors());
    int const expected = DecodedFrameCount(path);
    QCOMPARE(expected, 75);
    QVERIFY2(std::abs(parsed.source.FrameCount() - expected) <= 1,
             qPrintable(QStringLiteral("%1 frames").arg(parsed.source.FrameCount())));
    QVERIFY(parsed.source.Duration() < 3100000LL);
    bool const warned = std::any_of(warnings.cbegin(), warnings.cend(), [](QList<QVariant> const& arguments) {
        return arguments.at(0).toString().contains(QLatin1String("taken as corrupt"));
    });
    QVERIFY(!warned);

    std::vector<long long> times {2800000, 2840000, 10800000000LL, 2880000};
    warnings.clear();
    QCOMPARE(VideoDecodeWorker::LastTimeInProgression(times, parsed.source.ParsedContainerDuration(), 40000.0),
             2880000LL);
    QVERIFY(std::any_of(warnings.cbegin(), warnings.cend(), [](QList<QVariant> const& arguments) {
        return arguments.at(0).toString().contains(QLatin1String("taken as corrupt"));
    }));
}

void TestAvParser::RestartingTimestampsAreFound()
{
    // Two 2 s recordings joined byte for byte: 100 pictures, though the
    // timestamps (and the container's duration) cover 50. The parse says so.
    QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
    Parsed restart(TestMedia::Path("numbered_restart.ts"));
    QVERIFY(!restart.source.HasErrors());
    QVERIFY(restart.Video().timestampsRestart);
    QCOMPARE(restart.Video().frameCount, 100);
    QCOMPARE(restart.source.Duration(), 4000000LL - 1);
    // Other streams are still timed from the first picture's own time.
    QCOMPARE(restart.Video().startTimeOffset, 1480000LL);
    QVERIFY(std::any_of(warnings.cbegin(), warnings.cend(), [](QList<QVariant> const& arguments) {
        return arguments.at(0).toString().contains(QLatin1String("timestamps restart"));
    }));

    // The same recordings, the second timed an hour after the first: a
    // splice whose leap forward the bytes do not hold, numbered by picture
    // rather than a timeline of 90,000 frames.
    Parsed leap(TestMedia::Path("numbered_leap.ts"));
    QVERIFY(leap.Video().timestampsRestart);
    QCOMPARE(leap.Video().frameCount, 100);
    QCOMPARE(leap.source.Duration(), 4000000LL - 1);

    // One timestamp far ahead and the return after it is no restart; nor
    // are steady timestamps from 1000 s, or a stream of another size.
    for (char const* name : {"numbered_badpts.ts", "numbered_offset.ts", "numbered_mpeg2.ts", "size_change.ts"})
    {
        Parsed steady(TestMedia::Path(QString::fromLatin1(name)));
        QVERIFY2(!steady.Video().timestampsRestart, name);
    }
}

void TestAvParser::PacketScanClearsOnlySteadyStreams()
{
    // A stream the packet scan calls steady is one whose demuxed timestamps
    // never step back, on every transport stream of the test media; and the
    // parse's answer is then no restart.
    QStringList const names = QDir(TestMedia::Dir()).entryList({QStringLiteral("*.ts")}, QDir::Files, QDir::Name);
    QVERIFY(names.size() >= 8);
    int steadyCount = 0;
    for (QString const& name : names)
    {
        QString const path = TestMedia::Path(name);
        int const pid = VideoPid(path);
        if (pid < 0)
        {
            continue;
        }
        // A long file's spots clear what only a whole read can: it is read
        // whole here.
        int const parts = QFileInfo(path).size() > (16LL << 20) ? 1 : 0;
        std::vector<TsTimestampScan::Verdict> const verdicts = TsTimestampScan::Scan(path, {pid}, {}, parts);
        QCOMPARE(verdicts.size(), size_t(1));
        Parsed parsed(path);
        if (verdicts[0] == TsTimestampScan::Verdict::Steady)
        {
            ++steadyCount;
            QVERIFY2(!DemuxedTimestampsStepBack(path), qPrintable(name));
            QVERIFY2(!parsed.Video().timestampsRestart, qPrintable(name));
        }
        if (parsed.Video().timestampsRestart)
        {
            QVERIFY2(verdicts[0] == TsTimestampScan::Verdict::MayGoBack, qPrintable(name));
        }
    }
    QVERIFY(steadyCount >= 5);

    // The restart and the single corrupt timestamp are both left to the
    // demuxer, which tells them apart; a steady one is cleared.
    auto verdictOf = [](char const* name) {
        QString const path = TestMedia::Path(QString::fromLatin1(name));
        return TsTimestampScan::Scan(path, {VideoPid(path)}).at(0);
    };
    QCOMPARE(verdictOf("numbered_restart.ts"), TsTimestampScan::Verdict::MayGoBack);
    QCOMPARE(verdictOf("numbered_badpts.ts"), TsTimestampScan::Verdict::MayGoBack);
    QCOMPARE(verdictOf("numbered_leap.ts"), TsTimestampScan::Verdict::MayGoBack);
    QCOMPARE(verdictOf("numbered_offset.ts"), TsTimestampScan::Verdict::Steady);
    QCOMPARE(verdictOf("numbered_mpeg2_long.ts"), TsTimestampScan::Verdict::Steady);
    // A stop asked during the scan clears nothing.
    QString const offset = TestMedia::Path("numbered_offset.ts");
    QCOMPARE(TsTimestampScan::Scan(offset, {VideoPid(offset)}, [] { return true; }).at(0),
             TsTimestampScan::Verdict::Unknown);
    // A PID the file does not carry is not cleared.
    QCOMPARE(TsTimestampScan::Scan(TestMedia::Path("numbered_offset.ts"), {0x1ff0}).at(0),
             TsTimestampScan::Verdict::Unknown);
}

void TestAvParser::PacketScanReadsEveryPacketLayout()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString const steadySource = TestMedia::Path("numbered_offset.ts");
    QString const restartSource = TestMedia::Path("numbered_restart.ts");
    int const pid = VideoPid(steadySource);
    QCOMPARE(VideoPid(restartSource), pid);
    for (int const size : {192, 204})
    {
        QString const steady = Relayout(steadySource, size, dir.filePath(QStringLiteral("steady_%1.ts").arg(size)));
        QString const restart =
            Relayout(restartSource, size, dir.filePath(QStringLiteral("restart_%1.ts").arg(size)));
        QCOMPARE(TsTimestampScan::Scan(steady, {pid}).at(0), TsTimestampScan::Verdict::Steady);
        QCOMPARE(TsTimestampScan::Scan(restart, {pid}).at(0), TsTimestampScan::Verdict::MayGoBack);
        Parsed parsed(restart);
        QVERIFY(parsed.Video().timestampsRestart);
        QCOMPARE(parsed.Video().frameCount, 100);
    }

    // Bytes lost midway put the packets out of step: the scan cannot tell,
    // and the demuxer still finds the restart.
    QFile in(restartSource);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QByteArray data = in.readAll();
    data.remove(data.size() / 3, 100);
    QString const broken = dir.filePath(QStringLiteral("broken.ts"));
    QFile out(broken);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(data);
    out.close();
    QCOMPARE(TsTimestampScan::Scan(broken, {pid}).at(0), TsTimestampScan::Verdict::Unknown);
    QVERIFY(Parsed(broken).Video().timestampsRestart);

    // Steady data cut inside a packet is steady; a file that is no transport
    // stream has no layout.
    QFile cut(steadySource);
    QVERIFY(cut.open(QIODevice::ReadOnly));
    QByteArray const cutData = cut.readAll().chopped(100);
    QString const cutPath = dir.filePath(QStringLiteral("cut.ts"));
    QFile cutOut(cutPath);
    QVERIFY(cutOut.open(QIODevice::WriteOnly));
    cutOut.write(cutData);
    cutOut.close();
    QCOMPARE(TsTimestampScan::Scan(cutPath, {pid}).at(0), TsTimestampScan::Verdict::Steady);
    QCOMPARE(TsTimestampScan::Scan(TestMedia::Path("numbered_gop250.mp4"), {pid}).at(0),
             TsTimestampScan::Verdict::Unknown);
}

void TestAvParser::PacketScanInPartsAgreesWithOneScan()
{
    // Split anywhere, a scan in parts gives what one scan gives.
    QStringList const names = QDir(TestMedia::Dir()).entryList({QStringLiteral("*.ts")}, QDir::Files, QDir::Name);
    for (QString const& name : names)
    {
        QString const path = TestMedia::Path(name);
        int const pid = VideoPid(path);
        TsTimestampScan::Verdict const whole = TsTimestampScan::Scan(path, {pid}, {}, 1).at(0);
        for (int const parts : {2, 3, 7, 64})
        {
            QVERIFY2(TsTimestampScan::Scan(path, {pid}, {}, parts).at(0) == whole,
                     qPrintable(QStringLiteral("%1 in %2 parts").arg(name).arg(parts)));
        }
    }

    // PES headers that run on into the next packet, and a single one whose
    // timestamp goes back: wherever the parts split, every header is read.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    std::vector<long long> steady;
    for (int i = 0; i < 30; ++i)
    {
        steady.push_back(90000 + 3003LL * i);
    }
    std::vector<long long> oneBack = steady;
    oneBack[20] = 90000;
    struct Case
    {
        char const* name;
        QByteArray data;
        TsTimestampScan::Verdict verdict;
    };
    for (Case const& test : {Case {"steady.ts", StuffedTs(steady, 12), TsTimestampScan::Verdict::Steady},
                             Case {"oneback.ts", StuffedTs(oneBack, 12), TsTimestampScan::Verdict::MayGoBack}})
    {
        QString const path = dir.filePath(QString::fromLatin1(test.name));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(test.data);
        file.close();
        int const packets = static_cast<int>(test.data.size() / 188);
        for (int parts = 1; parts <= packets; ++parts)
        {
            QVERIFY2(TsTimestampScan::Scan(path, {0x100}, {}, parts).at(0) == test.verdict,
                     qPrintable(QStringLiteral("%1 in %2 parts").arg(QString::fromLatin1(test.name)).arg(parts)));
        }
    }
}

void TestAvParser::LongPacketScanReadsSpotsAndFindsEveryRestart()
{
    // A long stream of 5000 pictures of 4 kB (about 22 MB, 8 s a megabyte)
    // is read in spots; every restart is still found, wherever it lies, as
    // the whole read finds it: one that goes back a few seconds too.
    int const count = 5000;
    auto const steadyFrom = [](int restart) {
        return [restart](int i) { return 90000 + 3003LL * (i - (i >= restart ? restart : 0)); };
    };
    struct Case
    {
        char const* name;
        std::function<long long(int)> timestamp;
        TsTimestampScan::Verdict verdict;
    };
    std::vector<Case> const cases {
        {"steady", steadyFrom(INT_MAX), TsTimestampScan::Verdict::Steady},
        {"restart early", steadyFrom(300), TsTimestampScan::Verdict::MayGoBack},
        {"restart midway", steadyFrom(2600), TsTimestampScan::Verdict::MayGoBack},
        {"restart in the last packets", steadyFrom(count - 3), TsTimestampScan::Verdict::MayGoBack},
        {"restart before the last spot", steadyFrom(count - 40), TsTimestampScan::Verdict::MayGoBack},
        {"two restarts", [](int i) { return 90000 + 3003LL * (i < 1300 ? i : i < 3700 ? i - 1300 : i - 3700); },
         TsTimestampScan::Verdict::MayGoBack},
        {"three seconds back midway", [](int i) { return 90000 + 3003LL * i - (i >= 2600 ? 3 * 90000 : 0); },
         TsTimestampScan::Verdict::MayGoBack},
        // A short stretch that restarts, between two clocks far apart: the
        // timestamps around it leap ahead, which the spots narrow down to it.
        {"short restart before a leap",
         [](int i) {
             return i < 1500 ? 90000 + 3003LL * i
                    : i < 1530 ? 90000 + 3003LL * (i - 1500)
                               : 90000 + 3003LL * i + 3600LL * 90000;
         },
         TsTimestampScan::Verdict::MayGoBack},
    };
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto const write = [&dir](QString const& name, QByteArray const& data) {
        QString const path = dir.filePath(name);
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() ? path : QString();
    };
    for (Case const& test : cases)
    {
        std::vector<long long> timestamps;
        for (int i = 0; i < count; ++i)
        {
            timestamps.push_back(test.timestamp(i));
        }
        QByteArray const data = StuffedTs(timestamps, 12, 4000);
        QString const path = write(QStringLiteral("long.ts"), data);
        QVERIFY(!path.isEmpty());
        long long const before = BytesRead();
        TsTimestampScan::Verdict const verdict = TsTimestampScan::Scan(path, {0x100}).at(0);
        long long const read = BytesRead() - before;
        QVERIFY2(verdict == test.verdict, test.name);
        QVERIFY2(TsTimestampScan::Scan(path, {0x100}, {}, 1).at(0) == test.verdict, test.name);
        if (test.verdict == TsTimestampScan::Verdict::Steady)
        {
            QVERIFY2(read < data.size() / 8, qPrintable(QStringLiteral("read %1 of %2").arg(read).arg(data.size())));
        }
        if (std::strcmp(test.name, "steady") == 0)
        {
            // Packets out of step anywhere in the last part are seen, and a
            // stop clears nothing.
            QByteArray broken = data;
            broken.remove(data.size() * 6 / 10, 100);
            QString const brokenPath = write(QStringLiteral("broken.ts"), broken);
            QCOMPARE(TsTimestampScan::Scan(brokenPath, {0x100}).at(0), TsTimestampScan::Verdict::Unknown);
            QCOMPARE(TsTimestampScan::Scan(path, {0x100}, [] { return true; }).at(0),
                     TsTimestampScan::Verdict::Unknown);
        }
    }
}

void TestAvParser::LongTransportStreamOpensReadingLittle()
{
    // Ten minutes of H.264 in MPEG-TS (the 30 s one twenty times over, its
    // timestamps running on): the parse reads a small part of it. The same
    // with a recording of 30 s after it, or one before and one after, still
    // finds the restarts and counts every picture.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString const piece = TestMedia::Path("numbered_long.ts");
    QString const looped = dir.filePath(QStringLiteral("looped.ts"));
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-y", "-stream_loop", "19", "-i", piece, "-c", "copy", looped});
    QVERIFY(ffmpeg.waitForFinished(120000) && ffmpeg.exitCode() == 0);
    long long const size = QFileInfo(looped).size();
    QVERIFY(size > 16LL << 20);

    long long const before = BytesRead();
    Parsed steady(looped);
    long long const read = BytesRead() - before;
    QVERIFY(!steady.source.HasErrors());
    QVERIFY(!steady.Video().timestampsRestart);
    QCOMPARE(steady.Video().frameCount, 20 * 750);
    QVERIFY2(read < size / 4, qPrintable(QStringLiteral("read %1 of %2").arg(read).arg(size)));

    auto const joined = [&dir](QString const& name, QStringList const& parts) {
        QString const path = dir.filePath(name);
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly))
        {
            return QString();
        }
        for (QString const& part : parts)
        {
            QFile in(part);
            if (!in.open(QIODevice::ReadOnly))
            {
                return QString();
            }
            out.write(in.readAll());
        }
        return path;
    };
    struct Case
    {
        QString name;
        QStringList parts;
    };
    for (Case const& test : {Case {QStringLiteral("restart_at_end.ts"), {looped, piece}},
                             Case {QStringLiteral("two_restarts.ts"), {piece, looped, piece}}})
    {
        QString const path = joined(test.name, test.parts);
        Parsed restart(path);
        QVERIFY2(!restart.source.HasErrors(), qPrintable(test.name));
        QVERIFY2(restart.Video().timestampsRestart, qPrintable(test.name));
        QCOMPARE(restart.Video().frameCount, DecodedFrameCount(path));
    }
}

void TestAvParser::PaddedTailIsReadOnce()
{
    // 30 s of H.264 followed by 48 MiB of null packets, as a recorder that
    // pads to a fixed size leaves it: the parse, and the whole read it may
    // owe, read the padding once at most. Played to its end, the last
    // pictures come without the padding read again.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString const path = dir.filePath(QStringLiteral("padded.ts"));
    {
        QFile in(TestMedia::Path("numbered_long.ts"));
        QFile out(path);
        QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
        QVERIFY(out.write(in.readAll()) > 0);
        QByteArray padding(188, '\xff');
        padding[0] = 0x47;
        padding[1] = 0x1f;
        padding[2] = static_cast<char>(0xff);
        padding[3] = 0x10;
        QByteArray const block = padding.repeated(1 << 14);
        for (int i = 0; i < 16; ++i)
        {
            QCOMPARE(out.write(block), block.size());
        }
    }
    long long const size = QFileInfo(path).size();

    long long before = BytesRead();
    Source source(path, QString(), QUuid());
    {
        AvParser parser;
        parser.Parse(&source, 0);
        std::unique_ptr<TsRestartCheck> const check = parser.TakeRestartCheck();
        QVERIFY(!check || !check->Run());
    }
    long long read = BytesRead() - before;
    QVERIFY(!source.HasErrors());
    QCOMPARE(source.FrameCount(), 750);
    QCOMPARE(source.Duration(), 30000000LL - 1);
    QVERIFY2(read < size * 3 / 2, qPrintable(QStringLiteral("read %1 of %2").arg(read).arg(size)));

    before = BytesRead();
    VideoDecoder decoder(false);
    decoder.Initialize();
    QVERIFY(decoder.OpenSource(&source, 0, 0));
    int pictures = 0;
    bool ended = false;
    QObject::connect(&decoder, &VideoDecoder::VideoFrameDecoded, [&](std::shared_ptr<VideoFrame> const& frame) {
        pictures += frame ? 1 : 0;
        ended = ended || !frame;
    });
    decoder.Seek(29000000);
    while (decoder.DecodeNext() != VideoDecoder::STATUS_END_REACHED)
    {
    }
    decoder.Shutdown();
    read = BytesRead() - before;
    QVERIFY(ended && pictures >= 25);
    QVERIFY2(read < size / 4, qPrintable(QStringLiteral("read %1 of %2").arg(read).arg(size)));
}

void TestAvParser::StreamWithoutTimestampsIsNumberedReadingLittle()
{
    // No PES header carries a timestamp: the pictures are numbered and the
    // sound, which nothing places, is left out, saying why; the file is read
    // a few times at most, not searched through for its timestamps.
    QString const path = TestMedia::Path("numbered_untimed.ts");
    long long const size = QFileInfo(path).size();
    QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
    long long const before = BytesRead();
    Parsed parsed(path);
    long long const read = BytesRead() - before;
    QVERIFY(!parsed.source.HasErrors());
    QVERIFY(parsed.Video().timestampsMissing);
    QCOMPARE(parsed.source.FrameCount(), DecodedFrameCount(path));
    QCOMPARE(parsed.source.Duration(), 30000000LL - 1);
    QCOMPARE(parsed.source.AudioStreamCount(), 0);
    for (char const* told : {"Video stream (0) carries no timestamps", "Audio stream (1) carries no timestamps"})
    {
        QVERIFY2(std::any_of(warnings.cbegin(), warnings.cend(),
                             [told](QList<QVariant> const& arguments) {
                                 return arguments.at(0).toString().startsWith(QLatin1String(told));
                             }),
                 told);
    }
    QVERIFY2(read < 4 * size, qPrintable(QStringLiteral("read %1 of %2").arg(read).arg(size)));
}

void TestAvParser::RotationIsAQuarterTurn_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("rotation");
    QTest::newRow("none") << "h264_cfr25.mp4" << 0;
    QTest::newRow("90") << "rotated90.mp4" << 90;
    QTest::newRow("-180") << "rotated180.mp4" << 180;
    QTest::newRow("-90") << "rotated270.mp4" << 270;
}

void TestAvParser::RotationIsAQuarterTurn()
{
    QFETCH(QString, name);
    QFETCH(int, rotation);
    Parsed parsed(TestMedia::Path(name));
    QCOMPARE(parsed.Video().rotation, rotation);
}

void TestAvParser::SecondParseUpdatesInPlace()
{
    Parsed parsed(TestMedia::Path("h264_gop250.mp4"));
    AvParser().Parse(&parsed.source, 0);
    QCOMPARE(parsed.parsedSpy.count(), 1);
    QCOMPARE(parsed.updatedSpy.count(), 1);
    QCOMPARE(parsed.source.VideoStreamCount(), 1);
    QCOMPARE(parsed.source.AudioStreamCount(), 1);
    QCOMPARE(parsed.source.FrameCount(), 288);
}

void TestAvParser::BadFilesGetAnError_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("ending"); // the libraries' words for their error, not its number
    QTest::newRow("zero bytes") << "empty.mp4" << 3 << "Failed to open input for parsing: "
                                << "empty.mp4 (Invalid data found when processing input)";
    QTest::newRow("text") << "fake.mov" << 3 << "Failed to open input for parsing: "
                          << "fake.mov (Invalid data found when processing input)";
    QTest::newRow("subtitles only") << "subtitles_only.mkv" << 2 << "No decodable audio or video stream in "
                                    << "";
}

void TestAvParser::BadFilesGetAnError()
{
    QFETCH(QString, name);
    QFETCH(int, errorCode);
    QFETCH(QString, message);
    QFETCH(QString, ending);
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    Parsed parsed(TestMedia::Path(name));
    Source& source = parsed.source;
    QVERIFY(source.IsParsed());
    QCOMPARE(parsed.parsedSpy.count(), 1);
    QCOMPARE(source.ErrorCode(), errorCode);
    QCOMPARE(source.FileInfoAtIndex(0)->errorCode, errorCode);
    QCOMPARE(source.VideoStreamCount(), 0);
    QCOMPARE(source.AudioStreamCount(), 0);
    QCOMPARE(source.FrameCount(), 0);
    bool logged = false;
    QStringList said;
    for (QList<QVariant> const& error : errors)
    {
        QString const text = error.first().toString();
        logged = logged || (text.startsWith(message) && text.endsWith(ending));
        said.append(text);
    }
    QVERIFY2(logged, qPrintable(message + ": " + said.join('\n')));
}

void TestAvParser::StreamsThatNeverDecodeAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("picture and sound") << "h264_gop250.mp4";
    QTest::newRow("sound alone") << "tone.m4a";
}

void TestAvParser::StreamsThatNeverDecodeAreRefused()
{
    // Headers that describe streams whose data is gone: nothing plays.
    QFETCH(QString, name);
    QTemporaryDir dir;
    QString const path = dir.filePath("zeroed.mp4");
    QVERIFY(WriteZeroedMediaData(TestMedia::Path(name), path));
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    Parsed parsed(path);
    QCOMPARE(parsed.source.ErrorCode(), 2);
    QCOMPARE(parsed.source.FileInfoAtIndex(0)->errorCode, 2);
    QStringList said;
    for (QList<QVariant> const& error : errors)
    {
        said.append(error.first().toString());
    }
    QVERIFY2(said.contains(QStringLiteral("No decodable audio or video stream in \"zeroed.mp4\"")),
             qPrintable(said.join('\n')));
    // The picture's failure is told as such, not as a codec the player lacks.
    QVERIFY2(said.filter(QStringLiteral("Unsupported video codec")).isEmpty(), qPrintable(said.join('\n')));
}

void TestAvParser::ListsOfOtherFilesAreRefused()
{
    // A movie's name over a list of other files: what the list names is
    // never opened, however readable.
    QTemporaryDir dir;
    QVERIFY(QFile::copy(TestMedia::Path("h264_cfr25.mp4"), dir.filePath("clip.mp4")));
    QVERIFY(QFile::copy(TestMedia::Path("numbered_gop100.ts"), dir.filePath("clip.ts")));
    QList<QPair<QString, QByteArray>> const lists = {
        {QStringLiteral("concat.mp4"), "ffconcat version 1.0\nfile 'clip.mp4'\n"},
        {QStringLiteral("playlist.mp4"), "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4,\nclip.ts\n#EXT-X-ENDLIST\n"}};
    for (auto const& [name, text] : lists)
    {
        QFile list(dir.filePath(name));
        QVERIFY(list.open(QIODevice::WriteOnly) && list.write(text) == text.size());
        list.close();
        Parsed parsed(list.fileName());
        QVERIFY2(parsed.source.ErrorCode() != 0, qPrintable(name));
        QCOMPARE(parsed.source.FrameCount(), 0);
    }
}

void TestAvParser::EveryTestFileOfAPlayerTypeOpens()
{
    // Only the player's containers are read: each of its kinds of file
    // still opens, but the two made not to.
    QStringList const unreadable = {QStringLiteral("empty.mp4"), QStringLiteral("fake.mov")};
    int opened = 0;
    QDirIterator files(TestMedia::Dir(), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
    {
        QString const path = files.next();
        QString const suffix = QFileInfo(path).suffix().toLower();
        bool const playerType = FileHelpers::VIDEO_FILE_EXTENSIONS.contains(suffix) ||
                                FileHelpers::IMAGE_FILE_EXTENSIONS.contains(suffix) ||
                                FileHelpers::AUDIO_FILE_EXTENSIONS.contains(suffix) ||
                                QStringList {"ts", "m4a", "mp3", "h264"}.contains(suffix);
        if (!playerType || unreadable.contains(QFileInfo(path).fileName()) || QFileInfo(path).size() == 0)
        {
            continue;
        }
        MediaInput input;
        AVFormatContext* context = nullptr;
        int const result = input.Open(&context, path);
        QVERIFY2(result >= 0, qPrintable(path));
        input.Close(&context);
        ++opened;
    }
    QVERIFY(opened > 50);
}

void TestAvParser::FileRemovedAfterCreationIsMissing()
{
    QTemporaryDir dir;
    QString const path = dir.filePath("gone.mp4");
    QVERIFY(QFile::copy(TestMedia::Path("h264_cfr25.mp4"), path));
    Source source(path, QString(), QUuid());
    QCOMPARE(source.ErrorCode(), 0);
    QVERIFY(QFile::remove(path));
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    AvParser().Parse(&source, 0);
    QCOMPARE(source.ErrorCode(), 1);
    QCOMPARE(source.FileInfoAtIndex(0)->errorCode, 1);
    QVERIFY(!errors.isEmpty());
    QCOMPARE(errors.first().first().toString(), QStringLiteral("File not found: %1").arg(path));

    // Back in place, the file parses again and its record loses the error.
    QVERIFY(QFile::copy(TestMedia::Path("h264_cfr25.mp4"), path));
    AvParser().Parse(&source, 0);
    QCOMPARE(source.FileInfoAtIndex(0)->errorCode, 0);
    QCOMPARE(source.FrameCount(), 100);
}

void TestAvParser::FifoIsRefusedWithoutWaitingForAWriter()
{
    // Opening a FIFO blocks until something writes to it: a parse of one
    // must fail at once rather than wait for ever.
    QTemporaryDir dir;
    QByteArray const path = QFile::encodeName(dir.filePath("stuck.mp4"));
    QVERIFY(mkfifo(path.constData(), 0600) == 0);
    Source source(QString::fromLocal8Bit(path), QString(), QUuid());
    std::atomic<bool> done {false};
    std::thread parse([&] {
        AvParser().Parse(&source, 0);
        done = true;
    });
    bool const returned = QTest::qWaitFor([&] { return done.load(); }, 10000);
    if (!returned)
    {
        // A writer that comes and goes ends the blocked open, and its reads
        // meet the end of the file: the test fails instead of hanging.
        close(open(path.constData(), O_RDWR));
        parse.join();
    }
    else
    {
        parse.join();
    }
    QVERIFY(returned);
    QCOMPARE(source.FileInfoAtIndex(0)->errorCode, 3);
    QCOMPARE(source.FrameCount(), 0);
}

void TestAvParser::PacketScanOfAPathFlippedToAFifoNeverBlocks()
{
    // A transport stream whose path turns into a FIFO after the demuxer
    // opened it: the packet scan reads the file that is open, and every
    // parse ends.
    QFile media(TestMedia::Path("numbered_offset.ts"));
    QVERIFY(media.open(QIODevice::ReadOnly));
    QTemporaryDir folder;
    PathFlipper flipper(folder.path(), "flipped.ts", media.readAll());
    QVERIFY(flipper.IsValid());
    Settings::decodeExtraStreamInfoOnParse = false;
    constexpr int ROUNDS = 60;
    {
        Watchdog watchdog("parsing a transport stream flipped to a FIFO", std::chrono::seconds(60),
                          [&flipper] { flipper.ReleaseReaders(); });
        flipper.Start();
        for (int round = 0; round < ROUNDS; ++round)
        {
            Source source(flipper.Path(), QString(), QUuid());
            AvParser().Parse(&source, 0);
            if (source.FileParsed(0) && !source.HasErrors())
            {
                QVERIFY(!source.VideoStreamInfoAtIndex(0, 0)->timestampsRestart);
            }
        }
        QVERIFY(flipper.Stop() > 0);
        QVERIFY2(!watchdog.Disarm(), "the parse or its packet scan blocked on the FIFO");
    }
    // The file still parses through the same door. (While the path flips,
    // how often it names the file at each check depends on the load.)
    QVERIFY(flipper.SettleOnRegular());
    Source source(flipper.Path(), QString(), QUuid());
    AvParser().Parse(&source, 0);
    Settings::decodeExtraStreamInfoOnParse = true;
    QVERIFY(source.FileParsed(0) && !source.HasErrors());
    QVERIFY(!source.VideoStreamInfoAtIndex(0, 0)->timestampsRestart);
}

void TestAvParser::AbsurdSampleRateIsRefused()
{
    // 192 KB of 16-bit samples that claim 1 Hz: 27 hours resampled to the
    // output rate. The stream is refused with a clear error, not decoded.
    QTemporaryDir dir;
    QString const path = dir.filePath("slow.wav");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    quint32 const dataSize = 192 * 1024;
    QByteArray header;
    QDataStream out(&header, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataSize);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(1) << quint32(2) << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << dataSize;
    QVERIFY(file.write(header) == 44);
    QVERIFY(file.write(QByteArray(static_cast<int>(dataSize), '\x10')) == dataSize);
    file.close();

    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    Parsed parsed(path);
    QCOMPARE(parsed.source.AudioStreamCount(), 1);
    QVERIFY(!parsed.source.AudioStreamInfoAtIndex(0, 0)->parsed);
    QStringList messages;
    for (QList<QVariant> const& error : errors)
    {
        messages << error.first().toString();
    }
    QVERIFY2(messages.contains(QStringLiteral("Unsupported audio sample rate 1 Hz in stream 0 of \"slow.wav\"")),
             qPrintable(messages.join('\n')));
}

void TestAvParser::CoverArtIsNotAVideoStream()
{
    Parsed parsed(TestMedia::Path("cover.mp3"));
    QVERIFY(!parsed.source.HasErrors());
    QCOMPARE(parsed.source.VideoStreamCount(), 0);
    QCOMPARE(parsed.source.AudioStreamCount(), 1);
    QVERIFY(parsed.source.Duration() > 1900000);
}

void TestAvParser::ImageSequenceFileIsOneFrame()
{
    Source source(QDir(TestMedia::Path("seq_missing")).filePath("shot.####.png 1001-1024"), QString(), QUuid());
    QVERIFY(source.IsImageSequence());
    AvParser().Parse(&source, 0);
    QVERIFY(!source.HasErrors());
    QVERIFY(source.FileParsed(0));
    QVERIFY(!source.FileParsed(1));
    VideoStreamInfo const& video = *source.VideoStreamInfoAtIndex(0, 0);
    QVERIFY(video.parsed);
    QCOMPARE(video.frameCount, 1);
    QCOMPARE(video.frameStep, -1.0);
    QCOMPARE(video.frameRate, -1.0);
    QCOMPARE(video.startTimeOffset, 0LL);
    QCOMPARE(video.endTime, -1LL);
    QCOMPARE(source.FrameCount(), 24);

    // A broken file of a parsed sequence keeps its error to itself.
    QTemporaryDir dir;
    for (int frame : {1, 2})
    {
        QVERIFY(QFile::copy(TestMedia::Path("seq_missing/shot.1001.png"),
                            dir.filePath(QStringLiteral("cut.%1.png").arg(frame, 4, 10, QChar(u'0')))));
    }
    QFile broken(dir.filePath("cut.0003.png"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.close();
    Source sequence(dir.filePath("cut.####.png 1-3"), QString(), QUuid());
    AvParser().Parse(&sequence, 0);
    AvParser().Parse(&sequence, 2);
    QCOMPARE(sequence.FileInfoAtIndex(2)->errorCode, 3);
    QCOMPARE(sequence.ErrorCode(), 0);
}

void TestAvParser::MetadataKeepsEveryEntry()
{
    AVDictionary* dictionary = nullptr;
    av_dict_set(&dictionary, "title", "Shot 12 – take 3", 0);
    av_dict_set(&dictionary, "comment", "", 0);
    QMap<QString, QString> metadata {{"title", "old"}, {"kept", "yes"}};
    AvParser::ParseMetadata(dictionary, metadata);
    av_dict_free(&dictionary);
    QCOMPARE(metadata.value("title"), QStringLiteral("Shot 12 – take 3"));
    QVERIFY(metadata.contains("comment"));
    QCOMPARE(metadata.value("comment"), QString());
    QCOMPARE(metadata.value("kept"), QStringLiteral("yes"));

    Parsed parsed(TestMedia::Path("numbered_gop250.mp4"));
    QVERIFY(parsed.source.FileInfoAtIndex(0)->metadata.value("encoder").startsWith("Lavf"));
}

QTEST_GUILESS_MAIN(TestAvParser)
#include "tst_avparser.moc"
