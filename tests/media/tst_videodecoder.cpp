#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvParser.h"
#include "media/CacheBudget.h"
#include "media/DecoderThreads.h"
#include "media/NalUnitReader.h"
#include "media/PacketPictureCheck.h"
#include "media/TsRestartCheck.h"
#include "media/VideoDecodeWorker.h"
#include "media/VideoDecoder.h"
#include "media/VideoFrame.h"
#include "media/VideoFrameBufferPool.h"
#include "model/Source.h"
#include "model/VideoStreamInfo.h"

#include "support/DecoderThreadCounts.h"
#include "support/FourKMedia.h"
#include "support/LoggedMessages.h"
#include "support/PacketPictureCheckTestAccess.h"
#include "support/TestMedia.h"
#include "support/TimingBounds.h"
#include "support/VideoDecoderTestAccess.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QCryptographicHash>
#include <QHash>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <sched.h>
#include <limits>
#include <memory>

namespace
{

using FramePtr = std::shared_ptr<VideoFrame>;

// The MD5 that `ffmpeg -f framemd5` gives a yuv420p picture: the visible
// rows of Y, then U, then V, with chroma rounded up for odd sizes.
QByteArray PlanesMd5(VideoFrame const& frame, int width, int height)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    int const chromaWidth = (width + 1) / 2;
    int const chromaHeight = (height + 1) / 2;
    int const widths[3] = {width, chromaWidth, chromaWidth};
    int const heights[3] = {height, chromaHeight, chromaHeight};
    for (int plane = 0; plane < 3; ++plane)
    {
        QImage const& image = frame.planes[plane];
        for (int row = 0; row < heights[plane]; ++row)
        {
            hash.addData(QByteArrayView(reinterpret_cast<char const*>(image.constScanLine(row)), widths[plane]));
        }
    }
    return hash.result().toHex();
}

// The frame number drawn into the numbered test media: 16 blocks of 20
// pixels along the top, block i white for bit i.
int ReadNumber(VideoFrame const& frame)
{
    QImage const& image = frame.planes[0];
    int number = 0;
    for (int bit = 0; bit < 16; ++bit)
    {
        QPoint const centre(bit * 20 + 10, 16);
        int const level = frame.pixelFormat == VideoFramePixelFormat::YUV420P
                              ? image.constScanLine(centre.y())[centre.x()]
                              : qRed(image.pixel(centre));
        if (level > 128)
        {
            number |= 1 << bit;
        }
    }
    return number;
}

// Whether each picture of a length-prefixed H.264 or HEVC file (MP4,
// Matroska), in presentation order, is one that no other picture refers to:
// H.264 pictures of nal_ref_idc 0, HEVC sub-layer non-reference pictures (in
// a stream of one sub-layer). Read from the first coded slice of each packet.
QList<bool> NonReferencePictures(QString const& path)
{
    QList<QPair<long long, bool>> pictures;
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.toUtf8().constData(), nullptr, nullptr) < 0)
    {
        return {};
    }
    AVCodecParameters const* parameters = context->streams[0]->codecpar;
    bool const hevc = parameters->codec_id == AV_CODEC_ID_HEVC;
    // The length prefix's size, from the hvcC or avcC record.
    int const lengthIndex = hevc ? 21 : 4;
    int const lengthSize =
        parameters->extradata_size > lengthIndex ? (parameters->extradata[lengthIndex] & 3) + 1 : 4;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(context, packet) >= 0)
    {
        bool nonReference = false;
        for (int at = 0; packet->stream_index == 0 && at + lengthSize < packet->size;)
        {
            int length = 0;
            for (int i = 0; i < lengthSize; ++i)
            {
                length = (length << 8) | packet->data[at + i];
            }
            uint8_t const header = packet->data[at + lengthSize];
            int const type = hevc ? (header >> 1) & 0x3f : header & 0x1f;
            if (hevc ? type < 32 : (type == 1 || type == 5))
            {
                nonReference = hevc ? type <= 14 && type % 2 == 0 : (header >> 5) == 0;
                break;
            }
            at += lengthSize + length;
        }
        if (packet->stream_index == 0)
        {
            pictures.append({packet->pts, nonReference});
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    std::sort(pictures.begin(), pictures.end());
    QList<bool> kinds;
    for (auto const& picture : std::as_const(pictures))
    {
        kinds.append(picture.second);
    }
    return kinds;
}

// A parsed source with an open decoder that records what it emits.
class Decoding
{
public:
    // The parse and the decoder time the video by the route given (see
    // AvParser::SetVideoTimesFromPackets).
    explicit Decoding(QString const& name, bool timesFromPackets = true)
        : source(TestMedia::Path(name), QString(), QUuid())
        , decoder(false)
    {
        AvParser parser;
        parser.SetVideoTimesFromPackets(timesFromPackets);
        parser.Parse(&source, 0);
        decoder.SetTimesFromPackets(timesFromPackets);
        decoder.Initialize();
        QObject::connect(&decoder, &VideoDecoder::VideoFrameDecoded,
                         [this](FramePtr const& frame) { frames.append(frame); });
        opened = decoder.OpenSource(&source, 0, 0);
        info = source.VideoStreamInfoAtIndex(0, 0);
    }

    ~Decoding() { decoder.Shutdown(); }

    // Forward from t until a picture that starts after `until` or the end
    // arrived. Returns the frames of this run.
    QList<FramePtr> Forward(long long t, long long until)
    {
        frames.clear();
        decoder.SetDecodeForward(true);
        decoder.Seek(t);
        for (int guard = 0; guard < 100000; ++guard)
        {
            int const status = decoder.DecodeNext();
            bool const past = std::any_of(frames.cbegin(), frames.cend(), [until](FramePtr const& frame) {
                return frame && frame->packetStartTime > until;
            });
            if (past || status == VideoDecoder::STATUS_END_REACHED)
            {
                break;
            }
        }
        return frames;
    }

    // A forward seek to t: the last picture of the run that starts at or
    // before t, which is the one shown at t; null when none does.
    FramePtr ShownAfterSeek(long long t)
    {
        FramePtr shown;
        for (FramePtr const& frame : Forward(t, t))
        {
            shown = frame && frame->packetStartTime <= t ? frame : shown;
        }
        return shown;
    }

    // Backward from t: at most `count` pictures, or up to the start.
    QList<FramePtr> Backward(long long t, int count, int* lastStatus = nullptr)
    {
        frames.clear();
        decoder.SetDecodeForward(false);
        decoder.Seek(t);
        int status = VideoDecoder::STATUS_DONE;
        for (int guard = 0; guard < 100000; ++guard)
        {
            status = decoder.DecodeNext();
            long long const pictures = std::count_if(frames.cbegin(), frames.cend(), [](FramePtr const& f) { return f != nullptr; });
            if (status == VideoDecoder::STATUS_START_REACHED || pictures >= count)
            {
                break;
            }
        }
        if (lastStatus)
        {
            *lastStatus = status;
        }
        return frames;
    }

    Source source;
    VideoDecoder decoder;
    VideoStreamInfo* info = nullptr;
    QList<FramePtr> frames;
    bool opened = false;
};

// What a file must decode to: ffmpeg's MD5 per frame and, from a first
// forward pass checked against them, each frame's start time.
struct Reference
{
    QStringList md5s;
    QList<long long> starts;

    int IndexOf(long long start) const { return static_cast<int>(starts.indexOf(start)); }
};

// Sets the decoder threads for a scope. The pictures a decoder hands out
// must not depend on them, and the automatic choice follows the machine's
// cores: the exactness checks run at fixed counts instead.
class DecoderThreadSetting
{
public:
    explicit DecoderThreadSetting(int threads)
        : mSaved(Settings::videoDecoderThreadCount)
    {
        Settings::videoDecoderThreadCount = threads;
    }
    ~DecoderThreadSetting() { Settings::videoDecoderThreadCount = mSaved; }
    DecoderThreadSetting(DecoderThreadSetting const&) = delete;
    DecoderThreadSetting& operator=(DecoderThreadSetting const&) = delete;

private:
    int mSaved;
};

// The counts every exactness check runs at: one thread, frame threads on two
// and three, and more threads than this machine or CI may have cores (frame
// threads hold back pictures: up to 16).
int const THREAD_COUNTS[] = {1, 2, 3, 9, 16};

bool IsNumbered(QString const& name)
{
    return name.startsWith(QLatin1String("numbered_")) || name == QLatin1String("nodur.mkv");
}

} // namespace

class TestVideoDecoder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void ForwardDecodesEveryFrame_data();
    void ForwardDecodesEveryFrame();
    void SeeksLandOnTheRightPicture_data();
    void SeeksLandOnTheRightPicture();
    void SeeksDeepIntoAGopLeaveOutUnreferencedPictures_data();
    void SeeksDeepIntoAGopLeaveOutUnreferencedPictures();
    void BackwardDecodesEveryFrame_data();
    void BackwardDecodesEveryFrame();
    void BackwardDecodesEachGopOncePerWindow_data();
    void BackwardDecodesEachGopOncePerWindow();
    void SeekWhilePlayingBackwardKeepsAWindowBeforeItsTarget();
    void ForwardRunsOnFrameThreadsLoseNoPicture();
    void IntraOnlyBackwardWindowsRunOnFrameThreads();
    void TransportStreamSeekStartsAtTheKeyPictureBeforeIt_data();
    void TransportStreamSeekStartsAtTheKeyPictureBeforeIt();
    void RgbPathsCarryTheRightPicture_data();
    void RgbPathsCarryTheRightPicture();
    void ConvertedLinesAreAligned();
    void ConversionInBandsEqualsOneThread();
    void HeldPictureBytesCoverTheDecodersPictures_data();
    void CodecThreadsLeaveTheCacheRoomToPlay_data();
    void CodecThreadsLeaveTheCacheRoomToPlay();
    void AutomaticThreadsFollowTheUsableCores();
    void PicturesTooBigForTheCacheAreSaidOnce();
    void SeeksKeepAShorterLeadWhereTheFullOneLeavesNoFrameThreads();
    void HeldPictureBytesCoverTheDecodersPictures();
    void SizeChangeFollowsThePicture();
    void SourceWithoutVideoDoesNotOpen();
    void ImageFileGivesOnePicture();
    void StreamEndsBeforeACorruptTimestamp_data();
    void StreamEndsBeforeACorruptTimestamp();
    void EndTimeFromPacketsOnlyWhereTheyTell();
    void Vp9AndAv1EndsComeFromTheirPackets_data();
    void Vp9AndAv1EndsComeFromTheirPackets();
    void DecodedTimesSeekToAKeyPacketInMpegTs();
    void FirstPictureThatDecodesStartsTheStream_data();
    void FirstPictureThatDecodesStartsTheStream();
    void SeeksIntoAGradualRefreshAreExact_data();
    void SeeksIntoAGradualRefreshAreExact();
    void PicturesKeepTheirOwnTimesAfterALateOne_data();
    void PicturesKeepTheirOwnTimesAfterALateOne();
    void SeeksBackToTheStartShowItsPictures_data();
    void SeeksBackToTheStartShowItsPictures();
    void RestartsBetweenTheSpotsDecodeAsTheyAreRecorded_data();
    void RestartsBetweenTheSpotsDecodeAsTheyAreRecorded();
    void StreamWithoutTimestampsPlaysByPictureNumber();

private:
    Reference const& ReferenceFor(QString const& name);
    void AddFiles(bool withBudget = false);

    QHash<QString, Reference> mReferences;
};

void TestVideoDecoder::init()
{
    Settings::hardwareRenderingEnabled = true;
    Settings::videoDecoderForceRgbOutput = false;
}

Reference const& TestVideoDecoder::ReferenceFor(QString const& name)
{
    auto found = mReferences.constFind(name);
    if (found != mReferences.constEnd())
    {
        return *found;
    }
    Reference reference;
    reference.md5s = TestMedia::FrameMd5(TestMedia::Path(name), {"-noautorotate"});
    Decoding decoding(name);
    for (FramePtr const& frame : decoding.Forward(0, std::numeric_limits<long long>::max()))
    {
        if (frame)
        {
            reference.starts.append(frame->packetStartTime);
        }
    }
    return *mReferences.insert(name, reference);
}

void TestVideoDecoder::AddFiles(bool withBudget)
{
    if (!withBudget)
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("threads");
    }
    // Files of each kind (B-frames and long GOPs, open GOPs, MPEG-TS, HEVC)
    // at every thread count; the others at one count each, in turn. The
    // sanitizer builds, many times slower, take every file at one count.
    QStringList const everyCount = TimingBounds::SANITIZED
                                       ? QStringList()
                                       : QStringList {"numbered_gop250.mp4", "numbered_opengop.mkv",
                                                      "numbered_gop100.ts", "numbered_hevc10.mp4",
                                                      "numbered_hevc_gop100.mkv"};
    int turn = 0;
    for (char const* name : {"numbered_gop250.mp4", "numbered_opengop.mkv", "numbered_offset.ts", "numbered_mjpeg.mov",
                             "numbered_vfr.mkv", "nodur.mkv", "numbered_odd_333x241.mkv", "h264_gop250.mp4", "rotated90.mp4",
                             "truncated.mkv", "numbered_mpeg2.ts", "numbered_raw.h264", "numbered_badpts.ts",
                             "numbered_restart.ts", "numbered_60fps.mkv", "numbered_5994fps.webm",
                             "numbered_mpeg4_bf2.avi", "numbered_cut.mp4", "numbered_gop100.ts",
                             "numbered_prores_av.mov", "numbered_hevc10.mp4", "numbered_wrap.ts",
                             "numbered_hevc_gop100.mkv"})
    {
        QList<int> counts;
        if (everyCount.contains(QLatin1String(name)))
        {
            counts = {std::begin(THREAD_COUNTS), std::end(THREAD_COUNTS)};
        }
        else
        {
            counts = {THREAD_COUNTS[turn++ % std::size(THREAD_COUNTS)]};
        }
        for (int const threads : counts)
        {
            QByteArray const tag = QStringLiteral("%1, %2 threads").arg(QLatin1String(name)).arg(threads).toLatin1();
            if (withBudget)
            {
                QTest::newRow(tag.constData()) << QString::fromLatin1(name) << threads << 0LL;
            }
            else
            {
                QTest::newRow(tag.constData()) << QString::fromLatin1(name) << threads;
            }
        }
    }
}

void TestVideoDecoder::ForwardDecodesEveryFrame_data()
{
    AddFiles();
}

void TestVideoDecoder::ForwardDecodesEveryFrame()
{
    QFETCH(QString, name);
    QFETCH(int, threads);
    DecoderThreadSetting const decoderThreads(threads);
    QStringList const md5s = TestMedia::FrameMd5(TestMedia::Path(name), {"-noautorotate"});
    QVERIFY(!md5s.isEmpty());

    Decoding decoding(name);
    QVERIFY(decoding.opened);
    QVERIFY(decoding.info->StartTimeKnown());
    decoding.decoder.Seek(0);
    int endStatuses = 0;
    while (decoding.decoder.DecodeNext() != VideoDecoder::STATUS_END_REACHED)
    {
        QVERIFY(decoding.frames.size() <= md5s.size() + 1);
    }
    ++endStatuses;
    QCOMPARE(endStatuses, 1);
    QVERIFY(!decoding.frames.isEmpty());
    QVERIFY2(decoding.frames.constLast() == nullptr, "a null frame follows the last picture");
    decoding.frames.removeLast();
    QCOMPARE(decoding.frames.size(), md5s.size());
    // A raw stream has no duration to go by, and a restarting one's
    // timestamps cover only part of it: the length is what decodes.
    bool const restarts = name == QLatin1String("numbered_restart.ts");
    if (name.endsWith(QLatin1String(".h264")) || restarts)
    {
        QCOMPARE(decoding.info->frameCount, md5s.size());
    }

    long long previous = -1;
    for (int i = 0; i < decoding.frames.size(); ++i)
    {
        VideoFrame const& frame = *decoding.frames.at(i);
        QCOMPARE(frame.pixelFormat, VideoFramePixelFormat::YUV420P);
        QVERIFY2(frame.packetStartTime > previous, qPrintable(QStringLiteral("frame %1 out of order").arg(i)));
        previous = frame.packetStartTime;
        QCOMPARE(QString::fromLatin1(PlanesMd5(frame, decoding.info->width, decoding.info->height)), md5s.at(i));
        if (IsNumbered(name))
        {
            // The joined recordings are numbered from 0 each.
            QCOMPARE(ReadNumber(frame), restarts ? i % 50 : i);
        }
    }
    QCOMPARE(decoding.frames.constFirst()->packetStartTime, 0LL);
}

void TestVideoDecoder::SeeksLandOnTheRightPicture_data()
{
    AddFiles();
}

void TestVideoDecoder::SeeksLandOnTheRightPicture()
{
    QFETCH(QString, name);
    QFETCH(int, threads);
    DecoderThreadSetting const decoderThreads(threads);
    Reference const& reference = ReferenceFor(name);
    int const count = static_cast<int>(reference.starts.size());
    QCOMPARE(count, reference.md5s.size());

    // Random frames, plus the last one and those around GOP boundaries
    // (every 50 frames; 250 in the long-GOP files), where open GOPs keep
    // pictures that a seek to their key frame cannot rebuild.
    QList<int> targets {count - 1, 0, 1, 47, 48, 49, 50, 51, 99, 100, 249, 250, 251};
    QRandomGenerator random(20240521);
    for (int i = 0; i < 24; ++i)
    {
        targets.append(random.bounded(count));
    }
    targets.removeIf([count](int target) { return target >= count; });

    Decoding decoding(name);
    QVERIFY(decoding.opened);
    for (int target : targets)
    {
        long long const start = reference.starts.at(target);
        long long const next = target + 1 < count ? reference.starts.at(target + 1) : start + 1;
        // A time inside the frame as well as its first microsecond.
        for (long long const t : {start, start + (next - start) / 2})
        {
            QString const where = QStringLiteral("frame %1 at %2 µs").arg(target).arg(t);
            QList<FramePtr> const forward = decoding.Forward(t, t);
            int covering = -1;
            int previousIndex = -1;
            for (FramePtr const& frame : forward)
            {
                if (!frame)
                {
                    continue;
                }
                int const index = reference.IndexOf(frame->packetStartTime);
                QVERIFY2(index >= 0, qPrintable(where + QStringLiteral(": unknown start time")));
                QVERIFY2(previousIndex < 0 || index == previousIndex + 1,
                         qPrintable(where + QStringLiteral(": frames not consecutive")));
                previousIndex = index;
                QCOMPARE(QString::fromLatin1(PlanesMd5(*frame, decoding.info->width, decoding.info->height)),
                         reference.md5s.at(index));
                if (frame->packetStartTime <= t)
                {
                    covering = index;
                }
            }
            QVERIFY2(covering == target, qPrintable(where + QStringLiteral(": got %1").arg(covering)));

            int status = 0;
            QList<FramePtr> const backward = decoding.Backward(t, 5, &status);
            int expected = target;
            for (int i = 0; i < backward.size(); ++i)
            {
                if (!backward.at(i))
                {
                    QVERIFY2(i == 1 && target == count - 1, qPrintable(where + QStringLiteral(": stray null frame")));
                    continue;
                }
                int const index = reference.IndexOf(backward.at(i)->packetStartTime);
                QVERIFY2(index == expected, qPrintable(where + QStringLiteral(": backward gave %1, not %2")
                                                                   .arg(index)
                                                                   .arg(expected)));
                QCOMPARE(QString::fromLatin1(PlanesMd5(*backward.at(i), decoding.info->width, decoding.info->height)),
                         reference.md5s.at(index));
                --expected;
            }
            QCOMPARE(status == VideoDecoder::STATUS_START_REACHED, expected < 0);
        }
    }
}

void TestVideoDecoder::SeeksDeepIntoAGopLeaveOutUnreferencedPictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("target");
    struct Seek
    {
        char const* name;
        int key;
        int target;
    };
    // H.264 and 10-bit HEVC with B-pyramids; the second HEVC GOP starts at a
    // CRA picture whose leading pictures are not decoded.
    for (Seek const seek : {Seek {"numbered_gop250.mp4", 0, 120}, Seek {"numbered_gop250.mp4", 0, 233},
                            Seek {"numbered_hevc_gop100.mkv", 0, 93}, Seek {"numbered_hevc_gop100.mkv", 100, 196}})
    {
        // The sanitizer builds, many times slower, take one count.
        for (int const threads : TimingBounds::SANITIZED ? QList<int> {9} : QList<int> {1, 3, 9, 16})
        {
            QByteArray const tag = QStringLiteral("%1 at %2, %3 threads")
                                       .arg(QLatin1String(seek.name))
                                       .arg(seek.target)
                                       .arg(threads)
                                       .toLatin1();
            QTest::newRow(tag.constData()) << QString::fromLatin1(seek.name) << threads << seek.key << seek.target;
        }
    }
}

void TestVideoDecoder::SeeksDeepIntoAGopLeaveOutUnreferencedPictures()
{
    QFETCH(QString, name);
    QFETCH(int, threads);
    QFETCH(int, key);
    QFETCH(int, target);
    DecoderThreadSetting const decoderThreads(threads);
    Reference const& reference = ReferenceFor(name);
    QVERIFY(target < reference.starts.size());

    Decoding decoding(name);
    QVERIFY(decoding.opened);
    long long const t = reference.starts.at(target);
    long long const before = VideoDecoderTestAccess::DecodedPictures(decoding.decoder);
    QList<FramePtr> const forward = decoding.Forward(t, t);
    long long const decoded = VideoDecoderTestAccess::DecodedPictures(decoding.decoder) - before;

    int last = -1;
    bool targetShown = false;
    for (FramePtr const& frame : forward)
    {
        if (!frame)
        {
            continue; // the end of the stream
        }
        int const index = reference.IndexOf(frame->packetStartTime);
        QVERIFY2(last < 0 || index == last + 1, qPrintable(QStringLiteral("picture %1 after %2").arg(index).arg(last)));
        QCOMPARE(QString::fromLatin1(PlanesMd5(*frame, decoding.info->width, decoding.info->height)),
                 reference.md5s.at(index));
        targetShown = targetShown || index == target;
        last = index;
    }
    QVERIFY(targetShown);
    // The codec hands out pictures in presentation order from the key
    // picture on: every one up to the last handed out came out of it, but
    // for those left out. The kept lead before the target and a margin
    // before it are decoded whole, so the pictures left out lie earlier.
    long long const shownSinceKey = last - key + 1;
    long long const leftOut = shownSinceKey - decoded;
    int const wholeBeforeTarget = Settings::numLeadingVideoFramesKeptOnSeek + 8;
    QVERIFY2(leftOut >= (target - key - wholeBeforeTarget) / 4,
             qPrintable(QStringLiteral("%1 of %2 pictures left out").arg(leftOut).arg(shownSinceKey)));
    if (threads == 1)
    {
        // On one thread the first picture comes out before any that nothing
        // refers to is sent, and skipping starts there: every such picture
        // from the key on is left out but those of the kept lead and the
        // few frames before it (two of margin, two that cover its start; the
        // one at the edge may go either way).
        QList<bool> const nonReference = NonReferencePictures(TestMedia::Path(name));
        QCOMPARE(nonReference.size(), reference.starts.size());
        int const skippedBefore = target - 2 - Settings::numLeadingVideoFramesKeptOnSeek - 2;
        long long const skippable =
            std::count(nonReference.cbegin() + key, nonReference.cbegin() + skippedBefore, true);
        QVERIFY2(leftOut >= skippable,
                 qPrintable(QStringLiteral("%1 pictures left out, %2 could be").arg(leftOut).arg(skippable)));
    }
}

void TestVideoDecoder::BackwardDecodesEveryFrame_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("threads");
    QTest::addColumn<long long>("budget");
    AddFiles(true);
    // Windows as long as the budget allows: whole GOPs of these files.
    for (char const* name : {"numbered_gop250.mp4", "numbered_opengop.mkv", "numbered_offset.ts", "numbered_vfr.mkv",
                             "nodur.mkv", "h264_gop250.mp4", "truncated.mkv", "numbered_mpeg2.ts", "numbered_raw.h264",
                             "numbered_badpts.ts", "numbered_restart.ts"})
    {
        QTest::newRow(qPrintable(QStringLiteral("%1, long windows").arg(QString::fromLatin1(name))))
            << QString::fromLatin1(name) << 2 << 4000000000LL;
    }
    // Intra-only: each window a run of its own from its first picture, on
    // frame threads where there are several.
    for (int const threads : DecoderThreadCounts::Each())
    {
        QTest::addRow("numbered_prores_av.mov, intra-only windows, %d threads", threads)
            << QStringLiteral("numbered_prores_av.mov") << threads << 0LL;
    }
}

void TestVideoDecoder::BackwardDecodesEveryFrame()
{
    QFETCH(QString, name);
    QFETCH(int, threads);
    DecoderThreadSetting const decoderThreads(threads);
    QFETCH(long long, budget);
    Reference const& reference = ReferenceFor(name);
    int const count = static_cast<int>(reference.starts.size());

    Decoding decoding(name);
    decoding.decoder.SetBackwardWindowBudget(budget);
    int status = 0;
    QList<FramePtr> frames = decoding.Backward(reference.starts.constLast(), count + 1, &status);
    QCOMPARE(status, VideoDecoder::STATUS_START_REACHED);
    // The end of the stream lies in the first window: its last picture,
    // then the end marker, then the earlier ones.
    QVERIFY(frames.size() >= 2);
    QVERIFY(frames.at(1) == nullptr);
    frames.removeAt(1);
    QCOMPARE(frames.size(), count);
    for (int i = 0; i < count; ++i)
    {
        int const expected = count - 1 - i;
        QCOMPARE(frames.at(i)->packetStartTime, reference.starts.at(expected));
        QCOMPARE(QString::fromLatin1(PlanesMd5(*frames.at(i), decoding.info->width, decoding.info->height)),
                 reference.md5s.at(expected));
    }
}

void TestVideoDecoder::BackwardDecodesEachGopOncePerWindow_data()
{
    QTest::addColumn<int>("windowPictures");
    QTest::addColumn<int>("mostPacketsPerPicture");
    // 300 pictures, key pictures at 0 and 250: a window for the whole of a
    // GOP decodes each packet about once; windows of 100 pictures decode the
    // second GOP's packets up to three times, fewer of them each time.
    QTest::newRow("whole GOPs") << 400 << 1;
    QTest::newRow("a third of a GOP") << 100 << 2;
}

void TestVideoDecoder::BackwardDecodesEachGopOncePerWindow()
{
    QFETCH(int, windowPictures);
    QFETCH(int, mostPacketsPerPicture);
    QString const name = QStringLiteral("numbered_gop250.mp4");
    Reference const& reference = ReferenceFor(name);
    int const count = static_cast<int>(reference.starts.size());

    Decoding decoding(name);
    QVERIFY(decoding.opened);
    int packets = 0;
    QObject::connect(&decoding.decoder, &VideoDecoder::DecodingProgressed, [&packets] { ++packets; });
    // One decoded picture tells the window's length in bytes.
    decoding.Forward(0, 0);
    long long const pictureBytes = decoding.frames.constFirst()->byteSize;
    long long const budget = 2LL * (windowPictures + 1) * pictureBytes + decoding.decoder.HeldPictureBytes();
    decoding.decoder.SetBackwardWindowBudget(budget);

    decoding.frames.clear();
    decoding.decoder.SetDecodeForward(false);
    decoding.decoder.Seek(reference.starts.constLast());
    long long mostHeld = 0;
    for (int guard = 0; guard < 100000; ++guard)
    {
        int const status = decoding.decoder.DecodeNext();
        mostHeld = std::max(mostHeld, decoding.decoder.HeldPictureBytes());
        if (status == VideoDecoder::STATUS_START_REACHED)
        {
            break;
        }
    }
    decoding.frames.removeAll(nullptr);
    QCOMPARE(decoding.frames.size(), count);
    for (int i = 0; i < count; ++i)
    {
        QCOMPARE(decoding.frames.at(i)->packetStartTime, reference.starts.at(count - 1 - i));
    }
    QVERIFY2(packets <= mostPacketsPerPicture * count + count / 2,
             qPrintable(QStringLiteral("%1 packets decoded for %2 pictures").arg(packets).arg(count)));
    // What the decoder holds stays within the budget the cache shares.
    QVERIFY2(mostHeld <= budget, qPrintable(QStringLiteral("%1 bytes held of %2").arg(mostHeld).arg(budget)));
}

void TestVideoDecoder::SeekWhilePlayingBackwardKeepsAWindowBeforeItsTarget()
{
    // On its way to the target a seek decodes the GOP from its key picture:
    // while the timeline plays backward it keeps as many of those pictures
    // as the next backward window would (here the budget leaves room for
    // 60), each the right one; otherwise the usual few.
    QString const name = QStringLiteral("numbered_gop250.mp4");
    Reference const& reference = ReferenceFor(name);
    Decoding decoding(name);
    QVERIFY(decoding.opened);
    decoding.Forward(0, 0);
    long long const pictureBytes = decoding.frames.constFirst()->byteSize;
    int const window = 60;
    long long const budget = 1000 * pictureBytes;
    decoding.decoder.SetBackwardWindowBudget(budget,
                                             budget - decoding.decoder.HeldPictureBytes() - (window + 1) * pictureBytes);
    int const target = 200;
    QList<int> firsts;
    for (bool keep : {false, true})
    {
        decoding.decoder.SetSeekKeepsBackwardWindow(keep);
        QList<FramePtr> frames = decoding.Forward(reference.starts.at(target), reference.starts.at(target));
        frames.removeAll(nullptr);
        QVERIFY(!frames.isEmpty());
        firsts << reference.IndexOf(frames.constFirst()->packetStartTime);
        for (int i = 0; i < frames.size(); ++i)
        {
            QCOMPARE(ReadNumber(*frames.at(i)), firsts.constLast() + i);
        }
        QVERIFY(firsts.constLast() + frames.size() > target);
    }
    // The usual few and the seek's margin before the target.
    QVERIFY(target - firsts.at(0) >= Settings::numLeadingVideoFramesKeptOnSeek);
    QCOMPARE(firsts.at(0) - firsts.at(1), window - Settings::numLeadingVideoFramesKeptOnSeek);
}

void TestVideoDecoder::ForwardRunsOnFrameThreadsLoseNoPicture()
{
    if (QThread::idealThreadCount() < 2)
    {
        QSKIP("An intra-only stream runs on frame threads only with two cores or more");
    }
    // Intra-only: a seek decodes on slice threads, a run past it on frame threads.
    QString const name = QStringLiteral("numbered_prores_av.mov");
    Reference const& reference = ReferenceFor(name);
    int const count = static_cast<int>(reference.starts.size());
    QVERIFY(count >= 90);
    Decoding decoding(name);
    QVERIFY(decoding.opened);
    auto const check = [&](QList<FramePtr> const& run, int first, int last, int step) {
        int expected = first;
        for (FramePtr const& frame : run)
        {
            QString const where = QStringLiteral("run %1 to %2, frame %3").arg(first).arg(last).arg(expected);
            if (!frame)
            {
                QVERIFY2(expected == count, qPrintable(where + QStringLiteral(": the end came early")));
                continue;
            }
            QCOMPARE(reference.IndexOf(frame->packetStartTime), expected);
            QVERIFY2(PlanesMd5(*frame, decoding.info->width, decoding.info->height) == reference.md5s.at(expected).toLatin1(),
                     qPrintable(where));
            expected += step;
        }
        QVERIFY2(step > 0 ? expected > last : expected < last, qPrintable(QStringLiteral("run %1 to %2 stopped at %3")
                                                                           .arg(first).arg(last).arg(expected)));
    };

    decoding.decoder.SetDecodeForward(true);
    decoding.decoder.Seek(0);
    decoding.decoder.DecodeNext();
    long long const heldOnSlices = decoding.decoder.HeldPictureBytes();
    QVERIFY(heldOnSlices > 0);
    check(decoding.Forward(0, reference.starts.at(40)), 0, 40, 1);
    // The budget counts the pictures under way on the run's threads.
    QVERIFY2(decoding.decoder.HeldPictureBytes() > heldOnSlices, "the run did not go on frame threads");
    // A seek back into the run, backwards from inside it, and a run that
    // drains the threads at the end of the stream, then one after that.
    check(decoding.Forward(reference.starts.at(30), reference.starts.at(70)), 30, 70, 1);
    check(decoding.Backward(reference.starts.at(65), 5), 65, 61, -1);
    check(decoding.Forward(reference.starts.at(60), std::numeric_limits<long long>::max()), 60, count - 1, 1);
    check(decoding.Forward(reference.starts.at(10), reference.starts.at(50)), 10, 50, 1);
}

void TestVideoDecoder::IntraOnlyBackwardWindowsRunOnFrameThreads()
{
    if (QThread::idealThreadCount() < 2)
    {
        QSKIP("An intra-only stream runs on frame threads only with two cores or more");
    }
    DecoderThreadSetting const decoderThreads(3);
    QString const name = QStringLiteral("numbered_prores_av.mov");
    Reference const& reference = ReferenceFor(name);
    int const from = 80;
    QVERIFY(reference.starts.size() > from);
    Decoding decoding(name);
    QVERIFY(decoding.opened);
    // What the codec holds on slice threads, and on frame threads.
    decoding.decoder.SetDecodeForward(true);
    decoding.decoder.Seek(0);
    decoding.decoder.DecodeNext();
    long long const onSlices = decoding.decoder.HeldPictureBytes();
    decoding.Forward(0, reference.starts.at(40));
    long long const onFrames = decoding.decoder.HeldPictureBytes();
    QVERIFY(onFrames > onSlices);

    decoding.frames.clear();
    int packets = 0;
    QObject::connect(&decoding.decoder, &VideoDecoder::DecodingProgressed, [&packets] { ++packets; });
    decoding.decoder.SetDecodeForward(false);
    decoding.decoder.Seek(reference.starts.at(from));
    long long const sought = decoding.decoder.HeldPictureBytes();
    // The room a window takes counts the frame threads before its first
    // packet, and the window is decoded on them.
    decoding.decoder.PrepareBackwardWindow();
    QCOMPARE(decoding.decoder.HeldPictureBytes() - sought, onFrames - onSlices);
    QCOMPARE(decoding.decoder.DecodeNext(), VideoDecoder::STATUS_DONE);
    QCOMPARE(decoding.decoder.HeldPictureBytes() - sought, onFrames - onSlices);
    int status = VideoDecoder::STATUS_DONE;
    for (int guard = 0; guard < 1000 && status == VideoDecoder::STATUS_DONE; ++guard)
    {
        status = decoding.decoder.DecodeNext();
    }
    QCOMPARE(status, VideoDecoder::STATUS_START_REACHED);
    QCOMPARE(decoding.frames.size(), from + 1);
    for (int i = 0; i <= from; ++i)
    {
        int const expected = from - i;
        QCOMPARE(decoding.frames.at(i)->packetStartTime, reference.starts.at(expected));
        QCOMPARE(QString::fromLatin1(PlanesMd5(*decoding.frames.at(i), decoding.info->width, decoding.info->height)),
                 reference.md5s.at(expected));
    }
    // Each window from its own first picture: a packet or so beside its
    // pictures, none of the window after it decoded again.
    QVERIFY2(packets <= (from + 1) * 11 / 10,
             qPrintable(QStringLiteral("%1 packets decoded for %2 pictures").arg(packets).arg(from + 1)));
}

void TestVideoDecoder::TransportStreamSeekStartsAtTheKeyPictureBeforeIt_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("keyFrame");
    QTest::addColumn<int>("target");
    // 4 s GOPs: the target lies 3.2 s past its key picture, so backing off a
    // second at a time from where the demuxer lands misses it twice.
    QTest::newRow("H.264, 4 s GOPs") << "numbered_gop100.ts" << 300 << 380;
    QTest::newRow("H.264, 2 s GOPs") << "numbered_offset.ts" << 100 << 140;
    QTest::newRow("MPEG-2, 1 s GOPs") << "numbered_mpeg2_long.ts" << 700 << 720;
}

void TestVideoDecoder::TransportStreamSeekStartsAtTheKeyPictureBeforeIt()
{
    // In MPEG-TS a time seek lands on any packet, most often not a key one:
    // the seek steps back from there to the latest key picture at or before
    // its target and decodes from it, no more than the pictures between
    // them (and the codec's reordering).
    QFETCH(QString, name);
    QFETCH(int, keyFrame);
    QFETCH(int, target);
    Reference const& reference = ReferenceFor(name);
    // One decoding thread: frame threads would take a packet each before the
    // first picture comes out.
    int const threads = Settings::videoDecoderThreadCount;
    Settings::videoDecoderThreadCount = 1;
    auto const restore = qScopeGuard([threads] { Settings::videoDecoderThreadCount = threads; });
    Decoding decoding(name);
    QVERIFY(decoding.opened);
    int packets = 0;
    QObject::connect(&decoding.decoder, &VideoDecoder::DecodePacketRequested, [&packets] { ++packets; });
    long long const t = reference.starts.at(target);
    QList<FramePtr> frames = decoding.Forward(t, t);
    frames.removeAll(nullptr);
    QVERIFY(!frames.isEmpty());
    int const last = reference.IndexOf(frames.constLast()->packetStartTime);
    QVERIFY2(last >= target, qPrintable(QStringLiteral("the seek ended at frame %1").arg(last)));
    for (FramePtr const& frame : frames)
    {
        int const index = reference.IndexOf(frame->packetStartTime);
        QVERIFY(index >= 0);
        QCOMPARE(QString::fromLatin1(PlanesMd5(*frame, decoding.info->width, decoding.info->height)),
                 reference.md5s.at(index));
    }
    int const most = last - keyFrame + 1 + 4;
    QVERIFY2(packets <= most, qPrintable(QStringLiteral("%1 packets decoded, %2 at most").arg(packets).arg(most)));
}

void TestVideoDecoder::RgbPathsCarryTheRightPicture_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("hardwareRendering");
    QTest::addColumn<int>("format");
    QTest::newRow("yuv as rgb24") << "numbered_gop250.mp4" << false << int(VideoFramePixelFormat::RGB24);
    QTest::newRow("open gop as rgb24") << "numbered_opengop.mkv" << false << int(VideoFramePixelFormat::RGB24);
    QTest::newRow("mjpeg as rgb24") << "numbered_mjpeg.mov" << false << int(VideoFramePixelFormat::RGB24);
    QTest::newRow("rgba") << "numbered_rgba.mov" << true << int(VideoFramePixelFormat::RGBA);
    QTest::newRow("rgba without opengl") << "numbered_rgba.mov" << false << int(VideoFramePixelFormat::RGBA);
}

void TestVideoDecoder::RgbPathsCarryTheRightPicture()
{
    QFETCH(QString, name);
    QFETCH(bool, hardwareRendering);
    QFETCH(int, format);
    Settings::hardwareRenderingEnabled = hardwareRendering;
    Decoding decoding(name);
    QVERIFY(decoding.opened);

    QList<FramePtr> all = decoding.Forward(0, std::numeric_limits<long long>::max());
    QVERIFY(!all.isEmpty() && !all.constLast());
    all.removeLast();
    int const count = static_cast<int>(all.size());
    QCOMPARE(count, TestMedia::FrameMd5(TestMedia::Path(name), {"-noautorotate"}).size());
    for (int i = 0; i < count; ++i)
    {
        QCOMPARE(int(all.at(i)->pixelFormat), format);
        QCOMPARE(ReadNumber(*all.at(i)), i);
    }

    QRandomGenerator random(7);
    for (int round = 0; round < 12; ++round)
    {
        int const target = random.bounded(count);
        long long const t = all.at(target)->packetStartTime;
        QList<FramePtr> const forward = decoding.Forward(t, t);
        auto const covering = std::find_if(forward.crbegin(), forward.crend(), [t](FramePtr const& frame) {
            return frame && frame->packetStartTime <= t;
        });
        QVERIFY(covering != forward.crend());
        QCOMPARE(ReadNumber(**covering), target);

        QList<FramePtr> const backward = decoding.Backward(t, 3);
        int expected = target;
        for (FramePtr const& frame : backward)
        {
            if (frame)
            {
                QCOMPARE(ReadNumber(*frame), expected--);
            }
        }
    }
}

void TestVideoDecoder::ConvertedLinesAreAligned()
{
    // 333 x 241: YUV rows are padded to the 8-aligned width and chroma
    // keeps the last odd row and column; RGB rows to 4-byte multiples.
    QString const name = QStringLiteral("numbered_odd_333x241.mkv");
    {
        Decoding decoding(name);
        QCOMPARE(decoding.info->alignedWidth, 336);
        QList<FramePtr> const frames = decoding.Forward(0, 0);
        QVERIFY(!frames.isEmpty() && frames.constFirst());
        VideoFrame const& frame = *frames.constFirst();
        QCOMPARE(frame.planes[0].bytesPerLine(), 336);
        QCOMPARE(frame.planes[0].height(), 241);
        QCOMPARE(frame.planes[1].bytesPerLine(), 168);
        QCOMPARE(frame.planes[1].height(), 121);
    }
    Settings::hardwareRenderingEnabled = false;
    Decoding decoding(name);
    QList<FramePtr> const frames = decoding.Forward(0, 0);
    QVERIFY(!frames.isEmpty() && frames.constFirst());
    VideoFrame const& frame = *frames.constFirst();
    QCOMPARE(frame.pixelFormat, VideoFramePixelFormat::RGB24);
    QCOMPARE(frame.planes[0].bytesPerLine(), 1000);
    QCOMPARE(frame.planes[0].width(), 333);
    QCOMPARE(ReadNumber(frame), 0);
}

void TestVideoDecoder::ConversionInBandsEqualsOneThread()
{
    // 10-bit 4:2:2 at 317 x 241 into 8-bit 4:2:0 and RGB: the picture split
    // into bands among threads must come out byte for byte as one thread
    // converts it, the last odd row and the odd chroma column included.
    QString const name = QStringLiteral("yuv422p10_317x241.mkv");
    for (bool const hardwareRendering : {true, false})
    {
        Settings::hardwareRenderingEnabled = hardwareRendering;
        auto decodeWith = [&name, hardwareRendering](int threads) {
            Decoding decoding(name);
            VideoDecoderTestAccess::SetConversionThreadCount(decoding.decoder, threads);
            QList<FramePtr> frames = decoding.Forward(0, std::numeric_limits<long long>::max());
            frames.removeAll(nullptr);
            QList<QByteArray> pictures;
            for (FramePtr const& frame : std::as_const(frames))
            {
                QByteArray bytes;
                int const planeCount = frame->pixelFormat == VideoFramePixelFormat::YUV420P ? 3 : 1;
                for (int plane = 0; plane < planeCount; ++plane)
                {
                    QImage const& image = frame->planes[plane];
                    int const rows = plane == 0 ? 241 : 121;
                    int const rowBytes = plane == 0 ? (hardwareRendering ? 317 : 317 * 3) : 159;
                    for (int row = 0; row < std::min(rows, image.height()); ++row)
                    {
                        bytes.append(reinterpret_cast<char const*>(image.constScanLine(row)), rowBytes);
                    }
                }
                pictures.append(bytes);
            }
            return pictures;
        };
        QList<QByteArray> const single = decodeWith(1);
        QCOMPARE(single.size(), 25);
        for (int threads : {2, 3, 4})
        {
            QList<QByteArray> const banded = decodeWith(threads);
            QCOMPARE(banded.size(), single.size());
            for (int i = 0; i < single.size(); ++i)
            {
                QVERIFY2(banded.at(i) == single.at(i), qPrintable(QStringLiteral("%1 threads, frame %2, %3")
                                                                      .arg(threads)
                                                                      .arg(i)
                                                                      .arg(hardwareRendering ? "YUV" : "RGB")));
            }
        }
    }
}

void TestVideoDecoder::HeldPictureBytesCoverTheDecodersPictures_data()
{
    QTest::addColumn<QString>("name");
    // Converted to 8 bits: the decoder's own pictures take twice the bytes
    // of the frames made from them.
    QTest::newRow("HEVC 10-bit, B-frames") << QStringLiteral("numbered_hevc10.mp4");
    QTest::newRow("FFV1 10-bit 4:2:2") << QStringLiteral("yuv422p10_317x241.mkv");
    // Handed out as the decoder made them.
    QTest::newRow("HEVC 8-bit, B-frames") << QStringLiteral("numbered_hevc.mp4");
}

void TestVideoDecoder::HeldPictureBytesCoverTheDecodersPictures()
{
    // What the cache budget is told the decoder holds besides the frames it
    // handed out covers every byte of the pictures its codec keeps
    // (references, reordering), in the codec's own format. One decoding
    // thread: nothing is decoded between the calls.
    QFETCH(QString, name);
    int const threads = Settings::videoDecoderThreadCount;
    Settings::videoDecoderThreadCount = 1;
    auto const restore = qScopeGuard([threads] { Settings::videoDecoderThreadCount = threads; });
    long long const before = VideoFrameBufferPool::DecoderBufferBytes();
    {
        Decoding decoding(name);
        QVERIFY(decoding.opened);
        decoding.decoder.SetDecodeForward(true);
        decoding.decoder.Seek(0);
        int pictures = 0;
        long long mostHeld = 0;
        for (int guard = 0; guard < 1000; ++guard)
        {
            int const status = decoding.decoder.DecodeNext();
            pictures += static_cast<int>(std::count_if(decoding.frames.cbegin(), decoding.frames.cend(),
                                                       [](FramePtr const& frame) { return frame != nullptr; }));
            // Frames handed out count in the cache, not here.
            decoding.frames.clear();
            long long const held = VideoFrameBufferPool::DecoderBufferBytes() - before;
            mostHeld = std::max(mostHeld, held);
            QVERIFY2(held <= decoding.decoder.HeldPictureBytes(),
                     qPrintable(QStringLiteral("after %1 pictures the codec holds %2 bytes, %3 counted")
                                    .arg(pictures)
                                    .arg(held)
                                    .arg(decoding.decoder.HeldPictureBytes())));
            if (status == VideoDecoder::STATUS_END_REACHED)
            {
                break;
            }
        }
        QVERIFY(pictures >= 25);
        // The codec's pictures live in the shared pool's buffers.
        QVERIFY(mostHeld > 0);
    }
    // Every one of them goes back with the decoder.
    QCOMPARE(VideoFrameBufferPool::DecoderBufferBytes(), before);
}

void TestVideoDecoder::CodecThreadsLeaveTheCacheRoomToPlay_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("threads");
    for (char const* name : FourKMedia())
    {
        for (int threads : DecoderThreadCounts::Each())
        {
            QTest::addRow("%s, %d threads", name, threads) << QString::fromLatin1(name) << threads;
        }
    }
}

void TestVideoDecoder::CodecThreadsLeaveTheCacheRoomToPlay()
{
    // 3840x2160 pictures at the default cache: whatever the threads asked
    // for, the codec's own pictures and the backward window leave the cache
    // room for pictures to show, counted in full unless the log said once
    // that they cannot be. The pictures, backward over every GOP seam, are
    // ffmpeg's.
    QFETCH(QString, name);
    QFETCH(int, threads);
    int const setting = Settings::videoDecoderThreadCount;
    Settings::videoDecoderThreadCount = threads;
    auto const restore = qScopeGuard([setting] { Settings::videoDecoderThreadCount = setting; });
    Reference const& reference = ReferenceFor(name);
    int const count = static_cast<int>(reference.starts.size());
    long long const budget = CacheBudget::VideoBytes(512);

    LoggedMessages warnings(&Logger::WarningLogged);
    long long const before = VideoFrameBufferPool::DecoderBufferBytes();
    Source source(TestMedia::Path(name), QString(), QUuid());
    AvParser().Parse(&source, 0);
    VideoDecoder decoder(false);
    decoder.Initialize();
    auto const shutdown = qScopeGuard([&decoder] { decoder.Shutdown(); });
    QList<FramePtr> frames;
    QObject::connect(&decoder, &VideoDecoder::VideoFrameDecoded, [&frames](FramePtr const& frame) { frames << frame; });
    decoder.SetCacheBudget(budget);
    QVERIFY(decoder.OpenSource(&source, 0, 0));
    QVERIFY(decoder.CodecThreadCount() >= 1 && decoder.CodecThreadCount() <= threads);
    int const tooBig = warnings.Count();
    QVERIFY(tooBig <= 1);

    decoder.SetBackwardWindowBudget(budget);
    decoder.SetDecodeForward(false);
    decoder.Seek(reference.starts.constLast());
    // The pictures are checked as they come and let go, as the cache would.
    QList<long long> starts;
    QStringList md5s;
    long long frameBytes = 0;
    long long mostHeld = 0;
    QString uncounted;
    for (int guard = 0; guard < 10000; ++guard)
    {
        int const status = decoder.DecodeNext();
        for (FramePtr const& frame : std::as_const(frames))
        {
            if (frame)
            {
                starts << frame->packetStartTime;
                md5s << QString::fromLatin1(PlanesMd5(*frame, 3840, 2160));
                frameBytes = std::max(frameBytes, frame->byteSize);
            }
        }
        frames.clear();
        // What the cache is told the decoder holds covers its picture
        // buffers, and leaves the cache room.
        long long const held = VideoFrameBufferPool::DecoderBufferBytes() - before;
        if (held > decoder.HeldPictureBytes() && uncounted.isEmpty())
        {
            uncounted = QStringLiteral("%1 MB held, %2 MB counted").arg(held / 1000000).arg(decoder.HeldPictureBytes() / 1000000);
        }
        mostHeld = std::max(mostHeld, decoder.HeldPictureBytes());
        if (status == VideoDecoder::STATUS_START_REACHED)
        {
            break;
        }
    }
    QCOMPARE(starts.size(), count);
    for (int i = 0; i < count; ++i)
    {
        int const expected = count - 1 - i;
        QCOMPARE(starts.at(i), reference.starts.at(expected));
        QCOMPARE(md5s.at(i), reference.md5s.at(expected));
    }
    // Pictures to show fit beside what it holds; the count falls short only
    // where the log said the pictures are too big.
    long long const room = CacheBudget::PICTURES_SHOWN_BESIDE_WINDOW * frameBytes;
    QVERIFY2(mostHeld + room <= budget, qPrintable(QStringLiteral("%1 threads: %2 MB held of a %3 MB budget")
                                                       .arg(decoder.CodecThreadCount())
                                                       .arg(mostHeld / 1000000)
                                                       .arg(budget / 1000000)));
    QVERIFY2(tooBig == 1 || uncounted.isEmpty(), qPrintable(uncounted));
}

void TestVideoDecoder::AutomaticThreadsFollowTheUsableCores()
{
    // FFmpeg's own choice (the setting 0) counts the cores this process may
    // run on, not the machine's: pinned to one core, two, and all it may use.
    int const setting = Settings::videoDecoderThreadCount;
    Settings::videoDecoderThreadCount = 0;
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    QCOMPARE(sched_getaffinity(0, sizeof(allowed), &allowed), 0);
    auto const restore = qScopeGuard([setting, allowed] {
        Settings::videoDecoderThreadCount = setting;
        sched_setaffinity(0, sizeof(allowed), &allowed);
    });
    int const usable = CPU_COUNT(&allowed);
    for (int cores : {1, 2, usable})
    {
        if (cores > usable)
        {
            continue;
        }
        cpu_set_t pinned;
        CPU_ZERO(&pinned);
        for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < cores; ++cpu)
        {
            if (CPU_ISSET(cpu, &allowed))
            {
                CPU_SET(cpu, &pinned);
                ++taken;
            }
        }
        QCOMPARE(sched_setaffinity(0, sizeof(pinned), &pinned), 0);
        Decoding decoding(QStringLiteral("numbered_gop250.mp4"));
        QVERIFY(decoding.opened);
        int const expected = cores > 1 ? std::min(cores + 1, DecoderThreads::MAXIMUM_AUTOMATIC) : 1;
        QCOMPARE(DecoderThreads::UsableCores(), cores);
        QCOMPARE(decoding.decoder.CodecThreadCount(), expected);
    }
}

void TestVideoDecoder::PicturesTooBigForTheCacheAreSaidOnce()
{
    // 3840x2160 10-bit pictures made RGB for the software viewer in the
    // smallest cache: not even a shortest backward window fits beside the
    // codec. The log says so once for the file, however often it is opened;
    // the cache still keeps room to show pictures, and they come.
    Settings::hardwareRenderingEnabled = false;
    long long const budget = CacheBudget::VideoBytes(Settings::MINIMUM_TIMELINE_CACHE_SIZE);
    LoggedMessages warnings(&Logger::WarningLogged);
    Source source(TestMedia::Path(QStringLiteral("numbered_4k_hevc10.mp4")), QString(), QUuid());
    AvParser().Parse(&source, 0);
    VideoDecoder decoder(false);
    decoder.Initialize();
    auto const shutdown = qScopeGuard([&decoder] { decoder.Shutdown(); });
    QList<FramePtr> frames;
    QObject::connect(&decoder, &VideoDecoder::VideoFrameDecoded, [&frames](FramePtr const& frame) { frames << frame; });
    decoder.SetCacheBudget(budget);
    for (int open = 0; open < 3; ++open)
    {
        QVERIFY(decoder.OpenSource(&source, 0, 0));
    }
    QCOMPARE(warnings.Count(), 1);
    QVERIFY(warnings.Messages().constFirst().contains(QLatin1String("too big")));
    decoder.SetDecodeForward(true);
    decoder.Seek(0);
    for (int guard = 0; guard < 1000 && frames.size() < 3; ++guard)
    {
        decoder.DecodeNext();
    }
    QVERIFY(frames.size() >= 3 && frames.constFirst());
    QVERIFY(decoder.HeldPictureBytes() + CacheBudget::PICTURES_SHOWN_BESIDE_WINDOW * frames.constFirst()->byteSize <=
            budget);
}

void TestVideoDecoder::SeeksKeepAShorterLeadWhereTheFullOneLeavesNoFrameThreads()
{
    // 3840x2160 10-bit pictures at the default cache: a full lead before a
    // seek's target beside the codec's pictures would leave it no frame
    // threads. The seek keeps fewer, no fewer than half, the codec decodes
    // on frame threads, and the lead, the codec's pictures and a few to show
    // fit the budget. The pictures are ffmpeg's.
    DecoderThreadSetting const decoderThreads(3);
    QString const name = QStringLiteral("numbered_4k_hevc10.mp4");
    Reference const& reference = ReferenceFor(name);
    long long const budget = CacheBudget::VideoBytes(512);
    Source source(TestMedia::Path(name), QString(), QUuid());
    AvParser().Parse(&source, 0);
    VideoDecoder decoder(false);
    decoder.Initialize();
    auto const shutdown = qScopeGuard([&decoder] { decoder.Shutdown(); });
    QList<FramePtr> frames;
    QObject::connect(&decoder, &VideoDecoder::VideoFrameDecoded, [&frames](FramePtr const& frame) { frames << frame; });
    decoder.SetCacheBudget(budget);
    QVERIFY(decoder.OpenSource(&source, 0, 0));
    QVERIFY(VideoDecoderTestAccess::DecodesOnFrameThreads(decoder));

    int const target = 49;
    decoder.SetDecodeForward(true);
    decoder.Seek(reference.starts.at(target));
    long long mostHeld = 0;
    for (int guard = 0; guard < 1000 && (frames.isEmpty() || !frames.constLast() ||
                                         frames.constLast()->packetStartTime < reference.starts.at(target));
         ++guard)
    {
        decoder.DecodeNext();
        mostHeld = std::max(mostHeld, decoder.HeldPictureBytes());
    }
    QVERIFY(!frames.isEmpty() && frames.constFirst());
    int const first = reference.IndexOf(frames.constFirst()->packetStartTime);
    for (int i = 0; i < frames.size(); ++i)
    {
        QVERIFY(frames.at(i));
        QCOMPARE(frames.at(i)->packetStartTime, reference.starts.at(first + i));
        QCOMPARE(QString::fromLatin1(PlanesMd5(*frames.at(i), 3840, 2160)), reference.md5s.at(first + i));
    }
    int const leading = Settings::numLeadingVideoFramesKeptOnSeek;
    QVERIFY2(target - first >= leading / 2 && target - first < leading,
             qPrintable(QStringLiteral("%1 pictures kept before the target").arg(target - first)));
    // Decoding starts two frames before the target: what lies before that
    // is the lead.
    long long const frameBytes = frames.constFirst()->byteSize;
    long long const kept = (target - 2 - first + CacheBudget::PICTURES_SHOWN_BESIDE_WINDOW) * frameBytes;
    QVERIFY2(mostHeld + kept <= budget, qPrintable(QStringLiteral("%1 MB held beside %2 MB of a %3 MB budget")
                                                       .arg(mostHeld / 1000000)
                                                       .arg(kept / 1000000)
                                                       .arg(budget / 1000000)));
}

void TestVideoDecoder::SizeChangeFollowsThePicture()
{
    for (bool const hardwareRendering : {true, false})
    {
        Settings::hardwareRenderingEnabled = hardwareRendering;
        Decoding decoding(QStringLiteral("size_change.ts"));
        QVERIFY(decoding.opened);
        QList<FramePtr> frames = decoding.Forward(0, std::numeric_limits<long long>::max());
        QVERIFY(!frames.isEmpty() && !frames.constLast());
        frames.removeLast();
        QCOMPARE(frames.size(), 50);
        QCOMPARE(frames.constFirst()->planes[0].height(), 240);
        QCOMPARE(frames.constLast()->planes[0].height(), 360);
        int const bytesPerPixel = hardwareRendering ? 1 : 3;
        QVERIFY(frames.constLast()->planes[0].bytesPerLine() >= 480 * bytesPerPixel);
    }
}

void TestVideoDecoder::SourceWithoutVideoDoesNotOpen()
{
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    Decoding decoding(QStringLiteral("tone.wav"));
    QVERIFY(!decoding.opened);
    QVERIFY(!errors.isEmpty());
    QCOMPARE(errors.last().first().toString(),
             QStringLiteral("Failed to open video stream. Media does not have any video streams."));
    QCOMPARE(decoding.decoder.DecodeNext(), VideoDecoder::STATUS_END_REACHED);
}

void TestVideoDecoder::ImageFileGivesOnePicture()
{
    // How image sequences use the decoder: one file, opened, rewound and
    // decoded to its single picture.
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    Source source(QDir(TestMedia::Path("seq_missing")).filePath("shot.####.png 1001-1024"), QString(), QUuid());
    AvParser().Parse(&source, 4);
    VideoDecoder decoder(false);
    decoder.Initialize();
    QList<FramePtr> frames;
    connect(&decoder, &VideoDecoder::VideoFrameDecoded, this, [&frames](FramePtr const& frame) { frames.append(frame); });
    for (int round = 0; round < 2; ++round)
    {
        frames.clear();
        QVERIFY(decoder.OpenSource(&source, 4, 0));
        decoder.SetDecodeForward(true);
        decoder.Seek(0);
        while (decoder.DecodeNext() != VideoDecoder::STATUS_END_REACHED)
        {
        }
        decoder.CloseSource();
        QCOMPARE(frames.size(), 2);
        QVERIFY(frames.at(0) && !frames.at(1));
        QCOMPARE(frames.at(0)->packetStartTime, 0LL);
        QCOMPARE(frames.at(0)->planes[0].height(), 240);
    }
    decoder.Shutdown();
    QCOMPARE(errors.count(), 0);
}

void TestVideoDecoder::StreamEndsBeforeACorruptTimestamp_data()
{
    // Picture times in µs (in decode order), the container's end, the
    // frame step, and the last time that counts.
    QTest::addColumn<QList<long long>>("times");
    QTest::addColumn<long long>("containerEnd");
    QTest::addColumn<double>("frameStep");
    QTest::addColumn<long long>("last");
    long long const hours = 3LL * 3600 * 1000000;
    QTest::newRow("corrupt, mid-stream") << QList<long long> {2800000, 2840000, hours, 2880000, 2920000}
                                         << 2964443LL << 40000.0 << 2920000LL;
    QTest::newRow("corrupt, last") << QList<long long> {2880000, 2920000, 2960000 + hours} << 2964443LL << 40000.0
                                   << 2920000LL;
    QTest::newRow("two corrupt") << QList<long long> {0, 40000, hours, 2 * hours} << 2964443LL << 40000.0 << 40000LL;
    // A container that estimates its length short (MPEG-TS) by less than
    // the slack: the decoded end is taken.
    QTest::newRow("container short") << QList<long long> {0, 4000000, 8000000} << 1480000LL << 40000.0 << 8000000LL;
    // A long hold inside the container's length is no outlier.
    QTest::newRow("hold within the container") << QList<long long> {0, 40000, 60000000} << 60039999LL << 40000.0
                                               << 60000000LL;
    // A slideshow: pictures 5 s apart are the stream's own progression.
    QTest::newRow("slideshow") << QList<long long> {0, 5000000, 10000000, 30000000} << 14999999LL << 5000000.0
                               << 30000000LL;
    QTest::newRow("no container end") << QList<long long> {0, 40000, hours} << -1LL << 40000.0 << hours;
    QTest::newRow("container end unset") << QList<long long> {0, 40000, hours} << 0LL << 40000.0 << hours;
    QTest::newRow("one picture") << QList<long long> {hours} << 2964443LL << 40000.0 << hours;
}

void TestVideoDecoder::StreamEndsBeforeACorruptTimestamp()
{
    QFETCH(QList<long long>, times);
    QFETCH(long long, containerEnd);
    QFETCH(double, frameStep);
    QFETCH(long long, last);
    std::vector<long long> values(times.cbegin(), times.cend());
    QCOMPARE(VideoDecodeWorker::LastTimeInProgression(values, containerEnd, frameStep), last);
}

void TestVideoDecoder::EndTimeFromPacketsOnlyWhereTheyTell()
{
    // Reads the packets of a file's first video stream from its start, or
    // from its first non-key packet with skipFirst, or from the key packet at
    // or before seekTo (µs); with checkFrames each must hold a frame picture.
    // The first and last times go to start and end.
    struct Times
    {
        long long start = -1;
        long long end = -1;
        bool startFound = false;
        bool endFound = false;
    };
    auto const fromPackets = [](QString const& name, bool inPacketOrder, bool skipFirst = false,
                                bool checkFrames = false, long long seekTo = 0) {
        Times times;
        AVFormatContext* context = nullptr;
        if (avformat_open_input(&context, TestMedia::Path(name).toUtf8().constData(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(context, nullptr) < 0)
        {
            avformat_close_input(&context);
            return times;
        }
        VideoStreamInfo info;
        info.streamIndex = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        AVStream const* stream = context->streams[info.streamIndex];
        info.frameStep = 1e6 / av_q2d(stream->avg_frame_rate);
        info.startTimeOffset = 0;
        VideoDecodeWorker worker(-1, false, Settings::HardwareRenderingInUse());
        worker.DecodingData()->streamInfo = &info;
        worker.DecodingData()->timeBase = stream->time_base;
        // The first picture is decoded to see that it comes out.
        AVCodec const* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> codecContext(
            avcodec_alloc_context3(codec), [](AVCodecContext* opened) { avcodec_free_context(&opened); });
        if (codecContext && avcodec_parameters_to_context(codecContext.get(), stream->codecpar) >= 0)
        {
            codecContext->pkt_timebase = stream->time_base;
            if (avcodec_open2(codecContext.get(), codec, nullptr) >= 0)
            {
                worker.DecodingData()->codecContext = codecContext.get();
            }
        }
        if (seekTo > 0)
        {
            long long const ts = av_rescale_q(seekTo, AV_TIME_BASE_Q, stream->time_base);
            avformat_seek_file(context, info.streamIndex, std::numeric_limits<long long>::min(), ts, ts, 0);
        }
        if (skipFirst)
        {
            worker.ReadPacket(context);
        }
        PacketPictureCheck frames(stream->codecpar);
        PacketPictureCheck* check = checkFrames ? &frames : nullptr;
        times.startFound = worker.FindStartTimeFromPackets(times.start, context, inPacketOrder, check);
        if (seekTo > 0 || skipFirst ||
            avformat_seek_file(context, info.streamIndex, std::numeric_limits<long long>::min(), 0, 0, 0) < 0)
        {
            avformat_close_input(&context);
            return times;
        }
        times.endFound = worker.FindEndTimeFromPackets(times.end, context, -1, inPacketOrder, check);
        avformat_close_input(&context);
        return times;
    };
    Times times = fromPackets("numbered_gop250.mp4", false);
    QVERIFY(times.startFound && times.endFound);
    QCOMPARE(times.start, 0LL);
    QCOMPARE(times.end, 12000000LL);
    times = fromPackets("numbered_mjpeg.mov", true);
    QVERIFY(times.startFound && times.endFound);
    QCOMPARE(times.end, 2000000LL);
    // Frame pictures, in MP4's length-prefixed form and in MPEG-TS's start
    // codes (timed from the stream's first picture at 1001.4 s).
    times = fromPackets("numbered_gop250.mp4", false, false, true);
    QVERIFY(times.startFound && times.endFound);
    QCOMPARE(times.end, 12000000LL);
    times = fromPackets("numbered_offset.ts", false, false, true);
    QVERIFY(times.startFound);
    QCOMPARE(times.start, 1001400000LL);

    // B-frames are decoded out of presentation order.
    times = fromPackets("numbered_gop250.mp4", true);
    QVERIFY(!times.endFound);
    QCOMPARE(times.end, -1LL);
    // The first picture would need the one before it.
    QVERIFY(!fromPackets("numbered_gop250.mp4", false, true).startFound);
    // The leading pictures of an open GOP come after its key picture and are
    // shown before it.
    times = fromPackets("numbered_opengop.mkv", false, false, false, 2000000);
    QVERIFY(!times.startFound);
    QCOMPARE(times.start, -1LL);
    // A raw stream's pictures carry no times of their own.
    QVERIFY(!fromPackets("numbered_raw.h264", false).startFound);
    // A stream that starts on a recovery point shows nothing until the
    // refresh completes: its first packet's time is not its start, in
    // length-prefixed units (Matroska, MP4) and in start codes (MPEG-TS).
    for (char const* name : {"numbered_intrarefresh.mkv", "numbered_intrarefresh.mp4", "numbered_intrarefresh.ts"})
    {
        QVERIFY2(!fromPackets(name, false, false, true).startFound, name);
    }
    times = fromPackets("numbered_intrarefresh_src.ts", false, false, true);
    QVERIFY(times.startFound && times.endFound);
    QCOMPARE(times.end - times.start, 8000000LL);
    // The last packet timed later than its picture, and times written in
    // decoding order: the times do not follow the order the pictures are
    // shown in.
    QVERIFY(!fromPackets("numbered_latepts.mp4", false, false, true).endFound);
    QVERIFY(!fromPackets("numbered_latepts.mkv", false, false, true).endFound);
    QVERIFY(!fromPackets("numbered_dtspts.mkv", false, false, true).endFound);
    QVERIFY(fromPackets("numbered_bframes_src.mp4", false, false, true).endFound);
    // HEVC: B-frames, open GOPs, and a stream that starts at a CRA.
    for (char const* name : {"numbered_hevc.mp4", "numbered_hevc_opengop.mkv", "numbered_hevc_cra.mkv"})
    {
        times = fromPackets(name, false, false, true);
        QVERIFY2(times.startFound && times.endFound, name);
    }
    QCOMPARE(fromPackets("numbered_hevc.mp4", false, false, true).end, 4000000LL);
    // A first IDR whose slice header is damaged: its packet's time is not
    // the start, as nothing comes out of the decoder for it.
    for (char const* name : {"numbered_brokenidr.mkv", "numbered_brokenidr.mp4", "numbered_hevc_brokenidr.mkv",
                             "numbered_hevc_brokenidr.mp4"})
    {
        QVERIFY2(!fromPackets(name, false, false, true).startFound, name);
    }

    // A packet whose picture cannot be read holds no frame that counts.
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    parameters->codec_type = AVMEDIA_TYPE_VIDEO;
    parameters->codec_id = AV_CODEC_ID_H264;
    PacketPictureCheck check(parameters);
    QVERIFY(check.IsUsable());
    QByteArray bytes(64, '\x55');
    bytes.append(QByteArray(AV_INPUT_BUFFER_PADDING_SIZE, '\0'));
    AVPacket* packet = av_packet_alloc();
    packet->data = reinterpret_cast<uint8_t*>(bytes.data());
    packet->size = 64;
    QVERIFY(!PacketPictureCheckTestAccess::HoldsFrame(check, packet));
    av_packet_free(&packet);
    // HEVC: a picture timing SEI may code the picture as a field, and a
    // picture parameter set with output_flag_present_flag lets pictures go
    // unshown; neither holds a frame the times can tell.
    parameters->codec_id = AV_CODEC_ID_HEVC;
    {
        PacketPictureCheck hevc(parameters);
        QVERIFY(hevc.IsUsable());
        // Start codes: an SEI prefix unit holding a picture timing message
        // (type 1, 1 byte), then a CRA slice.
        QByteArray const sei = QByteArray::fromHex("000000014e0101010080");
        QByteArray const cra = QByteArray::fromHex("000000012a01af0000");
        NalUnitReader reader(parameters);
        NalUnitReader::AccessUnit unit = reader.Read(reinterpret_cast<uint8_t const*>(sei.constData()), sei.size());
        QVERIFY(unit.readable && unit.unsureOutput && !unit.randomAccess);
        unit = reader.Read(reinterpret_cast<uint8_t const*>(cra.constData()), cra.size());
        QVERIFY(unit.readable && !unit.unsureOutput && unit.randomAccess && !unit.instantRefresh);
        // PPS id 0, SPS id 0, dependent slices off, output flag present.
        QByteArray const pps = QByteArray::fromHex("0000000144 01 d0 80");
        unit = reader.Read(reinterpret_cast<uint8_t const*>(pps.constData()), pps.size());
        QVERIFY(reader.OutputFlagPresent());
        unit = reader.Read(reinterpret_cast<uint8_t const*>(cra.constData()), cra.size());
        QVERIFY(unit.unsureOutput);
    }
    // H.264: a recovery-point SEI, then a non-IDR slice; an IDR slice.
    parameters->codec_id = AV_CODEC_ID_H264;
    {
        NalUnitReader reader(parameters);
        QByteArray const recovery = QByteArray::fromHex("0000000106060120800000000141");
        NalUnitReader::AccessUnit unit =
            reader.Read(reinterpret_cast<uint8_t const*>(recovery.constData()), recovery.size());
        QVERIFY(unit.readable && !unit.instantRefresh);
        QByteArray const idr = QByteArray::fromHex("0000000165888400");
        unit = reader.Read(reinterpret_cast<uint8_t const*>(idr.constData()), idr.size());
        QVERIFY(unit.readable && unit.instantRefresh);
    }
    // FFV1 has no parser to tell by.
    parameters->codec_id = AV_CODEC_ID_FFV1;
    QVERIFY(!PacketPictureCheck(parameters).IsUsable());
    avcodec_parameters_free(&parameters);
}

void TestVideoDecoder::Vp9AndAv1EndsComeFromTheirPackets_data()
{
    QTest::addColumn<QString>("name");
    for (char const* name :
         {"numbered_vp9_altref.webm", "numbered_5994fps.webm", "numbered_av1_hidden.mp4", "numbered_av1_hidden.mkv"})
    {
        QTest::newRow(name) << QString::fromLatin1(name);
    }
}

void TestVideoDecoder::Vp9AndAv1EndsComeFromTheirPackets()
{
    // A VP9 superframe or an AV1 temporal unit shows one frame at its
    // packet's time, whatever frames it carries unshown: the timing pass
    // takes the end from the last packets' times instead of decoding the
    // last GOP, and that is the end decoding finds, every picture counted.
    QFETCH(QString, name);
    QStringList const md5s = TestMedia::FrameMd5(TestMedia::Path(name), {"-noautorotate"});
    QVERIFY(!md5s.isEmpty());
    // The parse ran the pass on a decoder of its own: it runs again here.
    Decoding decoded(name, false);
    QVERIFY(decoded.opened);
    decoded.decoder.DecodeTimingInfoForCurrentStream();
    QVERIFY(!decoded.decoder.EndTimedFromPackets());
    Decoding read(name);
    QVERIFY(read.opened);
    read.decoder.DecodeTimingInfoForCurrentStream();
    QVERIFY(read.decoder.EndTimedFromPackets());
    QCOMPARE(read.info->startTimeOffset, decoded.info->startTimeOffset);
    QCOMPARE(read.info->endTime, decoded.info->endTime);
    QCOMPARE(decoded.info->frameCount, md5s.size());
    QCOMPARE(read.info->frameCount, md5s.size());
    // The last pictures are there, each in its place.
    double const step = read.info->frameStep;
    int const last = static_cast<int>(md5s.size()) - 1;
    for (int target : {last, last - 1, last - 2, last / 2})
    {
        auto const t = static_cast<long long>(target * step + step / 2);
        QList<FramePtr> const frames = read.Forward(t, t);
        FramePtr covering;
        for (FramePtr const& frame : frames)
        {
            if (frame && frame->packetStartTime <= t)
            {
                covering = frame;
            }
        }
        QVERIFY2(covering, qPrintable(QStringLiteral("no picture for frame %1").arg(target)));
        QCOMPARE(QString::fromLatin1(PlanesMd5(*covering, read.info->width, read.info->height)), md5s.at(target));
    }
}

void TestVideoDecoder::DecodedTimesSeekToAKeyPacketInMpegTs()
{
    // An HEVC recording that begins at a CRA: an MPEG-TS seek may land on any
    // packet, and the decoder makes pictures from missing references out of
    // those before the next key packet. Timed by decoding, the end pass and
    // the seeks near the end must still give ffmpeg's pictures.
    QString const name = QStringLiteral("numbered_hevc_cra.ts");
    QStringList const md5s = TestMedia::FrameMd5(TestMedia::Path(name), {"-noautorotate"});
    QCOMPARE(md5s.size(), 75);
    Decoding decoding(name, false);
    QVERIFY(decoding.opened);
    QCOMPARE(decoding.info->frameCount, md5s.size());
    double const step = decoding.info->frameStep;
    for (int target : {74, 73, 72, 60, 37, 1})
    {
        auto const t = static_cast<long long>(target * step + step / 2);
        QList<FramePtr> const frames = decoding.Forward(t, t);
        FramePtr covering;
        for (FramePtr const& frame : frames)
        {
            if (frame && frame->packetStartTime <= t)
            {
                covering = frame;
            }
        }
        QVERIFY2(covering, qPrintable(QStringLiteral("no picture for frame %1").arg(target)));
        QCOMPARE(QString::fromLatin1(PlanesMd5(*covering, decoding.info->width, decoding.info->height)),
                 md5s.at(target));
        QCOMPARE(ReadNumber(*covering), target + 25);
    }
}

void TestVideoDecoder::SeeksIntoAGradualRefreshAreExact_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fromPackets");
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("stride");
    QTest::addColumn<int>("tail");
    QTest::addColumn<int>("firstExact");
    struct File
    {
        char const* name;
        QList<int> threads;
        // The last tail frames are all targets, every stride-th before them.
        int stride;
        int tail;
        // Before it the pictures come from the refresh the file starts
        // with, over references it never had: what they show is the
        // decoder's guess, not the stream's. From the end of the first
        // refresh that begins after the start (twice its count) on, every
        // picture is exact.
        int firstExact = 0;
    };
    QList<int> const every {std::begin(THREAD_COUNTS), std::end(THREAD_COUNTS)};
    // Cut 2.5 s into keyint 40 at 25 fps and keyint 48 at 30 fps: every
    // other refresh leaves its pictures inexact until the next is done.
    // ffmpeg shows the cut files from frame 18 of their first refresh on;
    // the next begins 40 (48) frames in and is done 36 frames later. Each
    // recipe runs at one, two and nine threads over its three files.
    QList<File> const files {{"numbered_refresh40.mkv", {9}, 7, 30},
                             {"numbered_refresh40.mp4", {2}, 7, 30},
                             {"numbered_refresh40.ts", {1, 3}, 7, 30},
                             {"numbered_refresh10.mkv", every, 7, 30},
                             {"numbered_refresh40cut.mkv", {1, 9}, 9, 5, 40 + 36 - 18},
                             {"numbered_refresh40cut.mp4", {9}, 9, 5, 40 + 36 - 18},
                             {"numbered_refresh40cut.ts", {2}, 9, 5, 40 + 36 - 18},
                             {"numbered_refresh48cut.mkv", {2}, 9, 5, 48 + 36 - 18},
                             {"numbered_refresh48cut.mp4", {1}, 9, 5, 48 + 36 - 18},
                             {"numbered_refresh48cut.ts", {1, 9}, 9, 5, 48 + 36 - 18}};
    for (File const& file : files)
    {
        // The sanitizer builds take each file at its first count alone.
        for (int const threads : TimingBounds::SANITIZED ? file.threads.mid(0, 1) : file.threads)
        {
            for (bool const fromPackets : {true, false})
            {
                QTest::addRow("%s, %s, %d threads", file.name, fromPackets ? "packet times" : "decoded times", threads)
                    << QString::fromLatin1(file.name) << fromPackets << threads
                    << (TimingBounds::SANITIZED ? 2 * file.stride : file.stride) << file.tail << file.firstExact;
            }
        }
    }
}

void TestVideoDecoder::SeeksIntoAGradualRefreshAreExact()
{
    // H.264 with recovery points and no IDR: decoded from the recovery point
    // before them, the last pictures of the files (and those after a refresh
    // of fewer frames than the picture's columns, and every other refresh
    // of the cut files) differ from ffmpeg's, and differently with the
    // decoder's threads. Each target is a seek of its own here: the pictures
    // a refresh leaves inexact may reach past twice its count, where a later
    // target's seek still hands them out.
    QFETCH(QString, name);
    QFETCH(bool, fromPackets);
    QFETCH(int, threads);
    QFETCH(int, stride);
    QFETCH(int, tail);
    QFETCH(int, firstExact);
    QStringList const md5s = TestMedia::FrameMd5(TestMedia::Path(name), {"-noautorotate"});
    QVERIFY(!md5s.isEmpty());
    DecoderThreadSetting const decoderThreads(threads);
    Decoding decoding(name, fromPackets);
    QVERIFY(decoding.opened);
    int const width = decoding.info->width;
    int const height = decoding.info->height;
    QList<long long> starts;
    for (FramePtr const& frame : decoding.Forward(0, std::numeric_limits<long long>::max()))
    {
        if (frame)
        {
            QVERIFY(starts.size() < md5s.size());
            if (starts.size() >= firstExact)
            {
                QCOMPARE(QString::fromLatin1(PlanesMd5(*frame, width, height)), md5s.at(starts.size()));
            }
            starts.append(frame->packetStartTime);
        }
    }
    int const count = static_cast<int>(starts.size());
    QCOMPARE(count, md5s.size());

    // The last frames one by one, every stride-th before them; forwards to
    // the target and backwards from it.
    QList<int> targets;
    for (int target = count - 1; target >= firstExact; target -= target >= count - tail ? 1 : stride)
    {
        targets.append(target);
    }
    for (int target : targets)
    {
        long long const t = starts.at(target);
        QString const where = QStringLiteral("frame %1").arg(target);
        bool reached = false;
        for (FramePtr const& frame : decoding.Forward(t, t))
        {
            int const index = frame ? static_cast<int>(starts.indexOf(frame->packetStartTime)) : -1;
            QVERIFY2(!frame || index >= 0, qPrintable(where + QStringLiteral(": unknown start time")));
            if (frame && index >= firstExact)
            {
                QVERIFY2(PlanesMd5(*frame, width, height) == md5s.at(index).toLatin1(),
                         qPrintable(where + QStringLiteral(": seek shows another picture at %1").arg(index)));
                reached = reached || index == target;
            }
        }
        QVERIFY2(reached, qPrintable(where + QStringLiteral(": not reached")));
        int expected = target;
        for (FramePtr const& frame : decoding.Backward(t, 3))
        {
            if (frame)
            {
                QCOMPARE(frame->packetStartTime, starts.at(expected));
                QVERIFY2(expected < firstExact || PlanesMd5(*frame, width, height) == md5s.at(expected).toLatin1(),
                         qPrintable(where + QStringLiteral(": backward shows another picture at %1").arg(expected)));
                --expected;
            }
        }
        QVERIFY2(expected < target, qPrintable(where + QStringLiteral(": nothing backward")));
    }
}

void TestVideoDecoder::FirstPictureThatDecodesStartsTheStream_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fromPackets");
    for (char const* name : {"numbered_brokenidr.mkv", "numbered_brokenidr.mp4", "numbered_hevc_brokenidr.mkv",
                             "numbered_hevc_brokenidr.mp4"})
    {
        for (bool const fromPackets : {true, false})
        {
            QTest::addRow("%s, %s", name, fromPackets ? "packet times" : "decoded times")
                << QString::fromLatin1(name) << fromPackets;
        }
    }
}

void TestVideoDecoder::FirstPictureThatDecodesStartsTheStream()
{
    // The first IDR's slice header is damaged: ffmpeg decodes every picture
    // but that one. The stream starts with the next and has a frame for each
    // picture that decodes, whichever way its times were found.
    QFETCH(QString, name);
    QFETCH(bool, fromPackets);
    QStringList const md5s = TestMedia::FrameMd5(TestMedia::Path(name), {"-noautorotate"});
    QCOMPARE(md5s.size(), 99);
    Decoding decoding(name, fromPackets);
    QVERIFY(decoding.opened);
    QCOMPARE(decoding.info->frameCount, md5s.size());
    QCOMPARE(decoding.source.FrameCount(), md5s.size());

    QList<FramePtr> frames = decoding.Forward(0, std::numeric_limits<long long>::max());
    QVERIFY(!frames.isEmpty());
    QVERIFY2(frames.constLast() == nullptr, "a null frame follows the last picture");
    frames.removeLast();
    QCOMPARE(frames.size(), md5s.size());
    QCOMPARE(frames.constFirst()->packetStartTime, 0LL);
    for (int i = 0; i < frames.size(); ++i)
    {
        QCOMPARE(QString::fromLatin1(PlanesMd5(*frames.at(i), decoding.info->width, decoding.info->height)),
                 md5s.at(i));
    }
}

void TestVideoDecoder::PicturesKeepTheirOwnTimesAfterALateOne_data()
{
    QTest::addColumn<bool>("fromPackets");
    QTest::addColumn<int>("threads");
    for (int const threads : DecoderThreadCounts::Each())
    {
        QTest::addRow("packet times, %d threads", threads) << true << threads;
        QTest::addRow("decoded times, %d threads", threads) << false << threads;
    }
}

void TestVideoDecoder::PicturesKeepTheirOwnTimesAfterALateOne()
{
    // Picture 101 is timed 1 s (25 frames) late. Every other picture keeps
    // its own time, from the start and after seeks made once the decoder has
    // passed the late one, before it and after it.
    QFETCH(bool, fromPackets);
    QFETCH(int, threads);
    int const oldThreads = Settings::videoDecoderThreadCount;
    Settings::videoDecoderThreadCount = threads;
    auto const restore = qScopeGuard([oldThreads] { Settings::videoDecoderThreadCount = oldThreads; });
    Decoding decoding(QStringLiteral("numbered_late101.mp4"), fromPackets);
    QVERIFY(decoding.opened);
    QCOMPARE(decoding.info->frameStep, 40000.0);
    int pictures = 0;
    auto const check = [&pictures](QList<FramePtr> const& frames, QString const& where) {
        pictures = 0;
        for (FramePtr const& frame : frames)
        {
            if (!frame)
            {
                continue;
            }
            ++pictures;
            int const number = ReadNumber(*frame);
            long long const expected = (number == 101 ? 126 : number) * 40000LL;
            QVERIFY2(frame->packetStartTime == expected,
                     qPrintable(QStringLiteral("%1: picture %2 at %3 µs").arg(where).arg(number).arg(frame->packetStartTime)));
        }
    };
    check(decoding.Forward(0, std::numeric_limits<long long>::max()), QStringLiteral("from the start"));
    QCOMPARE(pictures, 200);
    for (int const target : {150, 20, 90, 110, 126, 60})
    {
        long long const t = target * 40000LL;
        check(decoding.Forward(t, t + 200000), QStringLiteral("seek to %1").arg(target));
        QVERIFY(pictures > 0);
    }
}

void TestVideoDecoder::SeeksBackToTheStartShowItsPictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fromPackets");
    QTest::addColumn<int>("threads");
    // MPEG-TS with sound whose rate its headers tell (AC-3, MP2), the
    // demuxer's default stream before the pictures' size is known; AV1 that
    // starts before its only sequence header, where a seek to the start
    // fails; a splice an hour on, numbered by picture.
    for (char const* name : {"numbered_ac3.ts", "numbered_mp2.ts", "numbered_dvb.ts", "numbered_av1_cut.ivf",
                             "numbered_av1_cut_ivf.mp4", "numbered_leap.ts"})
    {
        for (bool const fromPackets : {true, false})
        {
            for (int const threads : DecoderThreadCounts::Each())
            {
                QTest::addRow("%s, %s, %d threads", name, fromPackets ? "packet times" : "decoded times", threads)
                    << QString::fromLatin1(name) << fromPackets << threads;
            }
        }
    }
}

void TestVideoDecoder::SeeksBackToTheStartShowItsPictures()
{
    QFETCH(QString, name);
    QFETCH(bool, fromPackets);
    QFETCH(int, threads);
    QStringList const md5s = TestMedia::FrameMd5(TestMedia::Path(name), {"-noautorotate"});
    int const count = static_cast<int>(md5s.size());
    QVERIFY(count >= 30);
    int const savedThreads = Settings::videoDecoderThreadCount;
    auto const restore = qScopeGuard([savedThreads] { Settings::videoDecoderThreadCount = savedThreads; });
    Settings::videoDecoderThreadCount = threads;
    Decoding decoding(name, fromPackets);
    QVERIFY(decoding.opened);
    QCOMPARE(decoding.info->frameCount, count);
    double const step = decoding.info->frameStep;
    // Into the middle, back into the first GOP (12 pictures in the MPEG-TS
    // files), to the end and back again.
    for (int target : {count * 2 / 5, 0, 1, 11, count - 1, 12, 11, 0})
    {
        auto const t = static_cast<long long>(target * step + step / 2);
        FramePtr covering;
        for (FramePtr const& frame : decoding.Forward(t, t))
        {
            if (frame && frame->packetStartTime <= t)
            {
                covering = frame;
            }
        }
        QVERIFY2(covering, qPrintable(QStringLiteral("no picture for frame %1").arg(target)));
        QVERIFY2(QString::fromLatin1(PlanesMd5(*covering, decoding.info->width, decoding.info->height)) ==
                     md5s.at(target),
                 qPrintable(QStringLiteral("frame %1 shows another picture").arg(target)));
    }
}

void TestVideoDecoder::RestartsBetweenTheSpotsDecodeAsTheyAreRecorded_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fromPackets");
    for (char const* name : {"numbered_stepback_long.ts", "numbered_splice_long.ts", "numbered_stretch_long.ts"})
    {
        for (bool const fromPackets : {true, false})
        {
            QTest::addRow("%s %s", name, fromPackets ? "packet times" : "decoded times")
                << QString::fromLatin1(name) << fromPackets;
        }
    }
}

void TestVideoDecoder::RestartsBetweenTheSpotsDecodeAsTheyAreRecorded()
{
    // Above 16 MiB the parse reads spots of a transport stream, which pass
    // over these restarts, and owes the file a whole read; once that read
    // found the restart, a parse reads the file whole and the stream is
    // numbered by picture: every picture once, in recording order.
    QFETCH(QString, name);
    QFETCH(bool, fromPackets);
    {
        Source spotted(TestMedia::Path(name), QString(), QUuid());
        AvParser parser;
        parser.SetVideoTimesFromPackets(fromPackets);
        parser.Parse(&spotted, 0);
        std::unique_ptr<TsRestartCheck> const check = parser.TakeRestartCheck();
        // Owed until a whole read of the file found the restart.
        QVERIFY(check || spotted.VideoStreamInfoAtIndex(0, 0)->timestampsRestart);
        QVERIFY(!check || check->Run());
    }
    QStringList const md5s = TestMedia::FrameMd5(TestMedia::Path(name));
    QVERIFY(md5s.size() >= 1000);
    Decoding decoding(name, fromPackets);
    QVERIFY(decoding.opened);
    QVERIFY(decoding.info->timestampsRestart);
    QCOMPARE(decoding.info->frameCount, md5s.size());
    QList<FramePtr> frames = decoding.Forward(0, std::numeric_limits<long long>::max());
    QVERIFY(!frames.isEmpty() && frames.constLast() == nullptr);
    frames.removeLast();
    QCOMPARE(frames.size(), md5s.size());
    for (int i = 0; i < frames.size(); ++i)
    {
        QCOMPARE(ReadNumber(*frames.at(i)), i);
        QCOMPARE(QString::fromLatin1(PlanesMd5(*frames.at(i), decoding.info->width, decoding.info->height)),
                 md5s.at(i));
    }
    // Seeks into and after the restart land on their picture.
    for (int const target : {360, 505, 990, 349, 0})
    {
        FramePtr const shown = decoding.ShownAfterSeek(static_cast<long long>(target * decoding.info->frameStep));
        QVERIFY2(shown, qPrintable(QStringLiteral("frame %1").arg(target)));
        QCOMPARE(ReadNumber(*shown), target);
    }
}

void TestVideoDecoder::StreamWithoutTimestampsPlaysByPictureNumber()
{
    // No PES header of this transport stream carries a timestamp: every
    // picture plays, timed by its number, forwards, after seeks and
    // backwards.
    QString const name = QStringLiteral("numbered_untimed.ts");
    QStringList const md5s = TestMedia::FrameMd5(TestMedia::Path(name));
    QCOMPARE(md5s.size(), 750);
    Decoding decoding(name);
    QVERIFY(decoding.opened);
    QVERIFY(decoding.info->timestampsMissing);
    QCOMPARE(decoding.info->frameCount, md5s.size());
    QList<FramePtr> frames = decoding.Forward(0, std::numeric_limits<long long>::max());
    QVERIFY(!frames.isEmpty() && frames.constLast() == nullptr);
    frames.removeLast();
    QCOMPARE(frames.size(), md5s.size());
    double const step = decoding.info->frameStep;
    for (int i = 0; i < frames.size(); ++i)
    {
        QCOMPARE(ReadNumber(*frames.at(i)), i);
        QCOMPARE(frames.at(i)->packetStartTime, static_cast<long long>(i * step));
        QCOMPARE(QString::fromLatin1(PlanesMd5(*frames.at(i), decoding.info->width, decoding.info->height)),
                 md5s.at(i));
    }
    for (int const target : {505, 120, 749, 0})
    {
        FramePtr const shown = decoding.ShownAfterSeek(static_cast<long long>(target * step));
        QVERIFY2(shown, qPrintable(QStringLiteral("frame %1").arg(target)));
        QCOMPARE(ReadNumber(*shown), target);
    }
    QList<FramePtr> const backward = decoding.Backward(static_cast<long long>(400 * step), 40);
    QVERIFY(backward.size() >= 40);
    for (int i = 0; i < 40; ++i)
    {
        QCOMPARE(ReadNumber(*backward.at(i)), 400 - i);
    }
}

QTEST_MAIN(TestVideoDecoder)
#include "tst_videodecoder.moc"
