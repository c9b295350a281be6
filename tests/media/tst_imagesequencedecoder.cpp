#include "app/Logger.h"
#include "app/Settings.h"
#include "app/TimeHelpers.h"
#include "media/AvParser.h"
#include "media/ImageSequenceDecoder.h"
#include "media/VideoFrame.h"
#include "model/Source.h"

#include "support/DecoderThreadCounts.h"
#include "support/LoggedMessages.h"
#include "support/TestMedia.h"
#include "support/TimingBounds.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Peak resident memory of the process so far, in MB.
long long PeakResidentMb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

double const FRAME_STEP = 1e6 / 24.0;

// MD5 of each picture as ffmpeg decodes it to packed RGB: of a numbered
// pattern from startNumber on, or of one file.
QStringList RgbMd5(QString const& path, int startNumber = -1)
{
    QStringList arguments{"-nostdin", "-v", "error"};
    if (startNumber >= 0)
    {
        arguments << "-framerate" << "24" << "-start_number" << QString::number(startNumber);
    }
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", arguments << "-i" << path << "-pix_fmt" << "rgb24" << "-f" << "framemd5" << "-");
    ffmpeg.waitForFinished(60000);
    QStringList md5s;
    for (QString const& line : QString::fromUtf8(ffmpeg.readAllStandardOutput()).split('\n'))
    {
        if (!line.startsWith('#') && !line.trimmed().isEmpty())
        {
            md5s << line.section(',', -1).trimmed();
        }
    }
    return md5s;
}

// The same over each plane's picture rows (without line padding).
QString FrameMd5(VideoFrame const& frame)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    bool const yuv = frame.pixelFormat == VideoFramePixelFormat::YUV420P;
    int const width = frame.streamInfo ? frame.streamInfo->width : frame.planes[0].width();
    for (int plane = 0; plane < (yuv ? 3 : 1); ++plane)
    {
        QImage const& image = frame.planes[plane];
        int const rowBytes = yuv ? (plane == 0 ? width : (width + 1) / 2) : image.bytesPerLine() / image.width() * width;
        for (int row = 0; row < image.height(); ++row)
        {
            hash.addData(QByteArrayView(reinterpret_cast<char const*>(image.constScanLine(row)), rowBytes));
        }
    }
    return QString::fromLatin1(hash.result().toHex());
}

// For each picture row, whether it is black in the frame's format.
QList<bool> BlackRows(VideoFrame const& frame)
{
    bool const yuv = frame.pixelFormat == VideoFramePixelFormat::YUV420P;
    int const bytesPerPixel = yuv ? 1 : (frame.pixelFormat == VideoFramePixelFormat::RGBA ? 4 : 3);
    QImage const& luma = frame.planes[0];
    int const width = frame.streamInfo ? frame.streamInfo->width : luma.width();
    QList<bool> rows;
    for (int row = 0; row < luma.height(); ++row)
    {
        uchar const* line = luma.constScanLine(row);
        bool black = true;
        for (int x = 0; x < width && black; ++x)
        {
            for (int c = 0; c < bytesPerPixel; ++c)
            {
                int const expected = yuv ? 16 : (c == 3 ? 255 : 0);
                black = black && line[x * bytesPerPixel + c] == expected;
            }
        }
        for (int plane = 1; yuv && plane < 3 && black; ++plane)
        {
            uchar const* chroma = frame.planes[plane].constScanLine(row / 2);
            for (int x = 0; x < (width + 1) / 2 && black; ++x)
            {
                black = chroma[x] == 128;
            }
        }
        rows << black;
    }
    return rows;
}

struct Emitted
{
    int index;
    QString md5;
    bool black;
    QSize size;
    QList<bool> blackRows;
};

// Drives a decoder as the decode loop does: requests while it may, takes the
// completions while it may not, until it answers 2 or 3 and every worker is
// back. Counts how many files were ever requested ahead of those emitted.
struct Player
{
    Player(Source* source, int workers)
        : decoder(false)
    {
        decoder.Initialize(workers);
        decoder.SetSource(source);
        QObject::connect(&decoder, &ImageSequenceDecoder::VideoFrameDecoded, [this](std::shared_ptr<VideoFrame> frame) {
            ++emitted;
            int const index = TimeHelpers::TimeToFrame(frame->packetStartTime, FRAME_STEP);
            mistimed |= frame->packetStartTime != TimeHelpers::FrameToFrameStartTime(index, FRAME_STEP) ||
                        frame->packetEndTime != TimeHelpers::FrameToFrameEndTime(index, FRAME_STEP);
            QImage const& image = frame->planes[0];
            bool const black = std::all_of(image.constBits(), image.constBits() + image.sizeInBytes(),
                                           [](uchar byte) { return byte == 0; });
            frames.append({index, FrameMd5(*frame), black, image.size(), BlackRows(*frame)});
        });
    }

    int Play(bool forward, long long from)
    {
        frames.clear();
        decoder.SetDecodeForward(forward);
        decoder.Seek(from);
        while (true)
        {
            int const status = decoder.DecodeNext();
            if (status == ImageSequenceDecoder::STATUS_REQUESTED)
            {
                maxOutstanding = std::max(maxOutstanding, ++requested - emitted);
                continue;
            }
            if (status != ImageSequenceDecoder::STATUS_BUSY && decoder.ActiveWorkerCount() == 0)
            {
                return status;
            }
            decoder.WaitForFinishedWork(30000);
        }
    }

    QList<int> Indices() const
    {
        QList<int> indices;
        std::transform(frames.cbegin(), frames.cend(), std::back_inserter(indices), [](auto const& f) { return f.index; });
        return indices;
    }

    QStringList Md5s() const
    {
        QStringList md5s;
        std::transform(frames.cbegin(), frames.cend(), std::back_inserter(md5s), [](auto const& f) { return f.md5; });
        return md5s;
    }

    ImageSequenceDecoder decoder;
    QList<Emitted> frames;
    int requested = 0;
    int emitted = 0;
    int maxOutstanding = 0;
    bool mistimed = false;
};

QList<int> Range(int first, int last)
{
    QList<int> indices;
    int const step = first <= last ? 1 : -1;
    for (int i = first; i != last + step; i += step)
    {
        indices.append(i);
    }
    return indices;
}

void AddWorkerCounts()
{
    QTest::addColumn<int>("workers");
    for (int workers : {1, 2, 4, 8})
    {
        QTest::addRow("%d workers", workers) << workers;
    }
}

// At most twice the workers (20 at most, the workers at least) ahead.
int OutstandingLimit(int workers)
{
    return std::max(workers, std::min(2 * workers, 20));
}

QString const PNG_SEQUENCE = QStringLiteral("/img.####.png 1-30");

} // namespace

class TestImageSequenceDecoder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void PlaysInFileOrderBothWays_data() { AddWorkerCounts(); }
    void PlaysInFileOrderBothWays();
    void BrokenFilesNeverStallTheSequence_data() { AddWorkerCounts(); }
    void BrokenFilesNeverStallTheSequence();
    void BrokenFileFirstTakesTheSequenceSize();
    void CutOffStillIsBlackWhereItEnds_data();
    void CutOffStillIsBlackWhereItEnds();
    void WarmBufferOfAWholeFileNeverShowsInACutOffOne_data();
    void WarmBufferOfAWholeFileNeverShowsInACutOffOne();
    void FifoAmongTheFilesIsABrokenFile();
    void JpegOutputIsTheSameForEveryWorkerCount();
    void SeekStartsAtTheTargetAndDropsFilesUnderWay();
    void ShutdownWaitsForBusyWorkers();
    void OversizedPicturesAreRefusedBeforeAllocating();
};

void TestImageSequenceDecoder::init()
{
    Settings::imageSequenceFrameRate = 24.0;
    Settings::imageSequenceThreadCount = 4;
    Settings::imageSequenceDecoderThreadCount = 1;
    Settings::hardwareRenderingEnabled = true;
}

void TestImageSequenceDecoder::PlaysInFileOrderBothWays()
{
    QFETCH(int, workers);
    QStringList const expected = RgbMd5(TestMedia::Path("seq_png") + "/img.%04d.png", 1);
    QCOMPARE(expected.size(), 30);
    Source source(TestMedia::Path("seq_png") + PNG_SEQUENCE, QString(), QUuid());
    Player player(&source, workers);

    QCOMPARE(player.Play(true, 0), ImageSequenceDecoder::STATUS_END_REACHED);
    QCOMPARE(player.Indices(), Range(0, 29));
    QCOMPARE(player.Md5s(), expected);
    QCOMPARE(player.Play(false, source.Duration() - 1), ImageSequenceDecoder::STATUS_START_REACHED);
    QCOMPARE(player.Indices(), Range(29, 0));
    QCOMPARE(player.Md5s(), QStringList(expected.crbegin(), expected.crend()));
    QVERIFY(!player.mistimed);
    QVERIFY(player.maxOutstanding <= OutstandingLimit(workers));

    // Each file's records came back into the source.
    for (int i = 0; i < source.FileCount(); ++i)
    {
        QVERIFY(source.FileParsed(i));
        QCOMPARE(source.VideoStreamInfoAtIndex(i, 0)->width, 160);
    }
    QVERIFY(!source.HasErrors());
}

void TestImageSequenceDecoder::BrokenFilesNeverStallTheSequence()
{
    QFETCH(int, workers);
    // shot.1005 is missing, shot.1012 empty, shot.1018 cut off after its header.
    QString const dir = TestMedia::Path("seq_broken");
    QList<int> const broken{4, 11, 17};
    static QStringList const expected = [&dir] {
        QStringList md5s;
        for (int i = 0; i < 24; ++i)
        {
            md5s << RgbMd5(QStringLiteral("%1/shot.%2.png").arg(dir).arg(1001 + i)).value(0);
        }
        return md5s;
    }();
    Source source(dir + "/shot.####.png 1001-1024", QString(), QUuid());
    LoggedMessages warnings(&Logger::WarningLogged);
    Player player(&source, workers);

    for (bool forward : {true, false})
    {
        // Workers log on their own threads, two at once at times.
        LoggedMessages errors(&Logger::ErrorLogged);
        QCOMPARE(player.Play(forward, forward ? 0 : source.Duration() - 1),
                 forward ? ImageSequenceDecoder::STATUS_END_REACHED : ImageSequenceDecoder::STATUS_START_REACHED);
        QCOMPARE(player.Indices(), forward ? Range(0, 23) : Range(23, 0));
        for (Emitted const& frame : player.frames)
        {
            // A broken file becomes a black picture of the sequence's size.
            QCOMPARE(frame.black, broken.contains(frame.index));
            QCOMPARE(frame.size, QSize(160, 120));
            if (!frame.black)
            {
                QCOMPARE(frame.md5, expected.at(frame.index));
            }
        }
        QStringList const messages = errors.Messages();
        for (int index : broken)
        {
            QString const name = QStringLiteral("shot.%1.png").arg(1001 + index);
            QVERIFY2(!messages.filter(name).isEmpty(), qPrintable(name));
        }
    }
    QVERIFY(!player.mistimed);
    QVERIFY(player.maxOutstanding <= OutstandingLimit(workers));
    QVERIFY(!warnings.Messages().contains(QLatin1String("Image temp cache overrun")));
    // The source carries the error of its first broken file, the missing one.
    QCOMPARE(source.ErrorCode(), 1);
    for (int i = 0; i < source.FileCount(); ++i)
    {
        QCOMPARE(source.FileInfoAtIndex(i)->errorCode != 0, broken.contains(i));
    }
}

void TestImageSequenceDecoder::BrokenFileFirstTakesTheSequenceSize()
{
    // The first picture delivered, either way, is the missing shot.1005:
    // its black stand-in has the size the sequence was parsed with.
    QString const dir = TestMedia::Path("seq_broken");
    Source source(dir + "/shot.####.png 1001-1024", QString(), QUuid());
    AvParser().Parse(&source, 0);
    QVERIFY(source.IsParsed());
    for (bool const forward : {true, false})
    {
        Player player(&source, 4);
        player.Play(forward, TimeHelpers::FrameToFrameStartTime(4, FRAME_STEP));
        QVERIFY(!player.frames.isEmpty());
        Emitted const& first = player.frames.constFirst();
        QCOMPARE(first.index, 4);
        QVERIFY(first.black);
        QCOMPARE(first.size, QSize(160, 120));
    }
}

void TestImageSequenceDecoder::CutOffStillIsBlackWhereItEnds_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addRow("EXR") << "seq_exr_cut/img.####.exr 1-8";
    QTest::addRow("JPEG") << "seq_jpg_cut/img.###.jpg 1-8";
}

void TestImageSequenceDecoder::CutOffStillIsBlackWhereItEnds()
{
    // File 7 ends halfway through its picture, as one still being written
    // does. Its decoder fills the rows it can read; the rest must be black,
    // whatever picture its buffer held before, the same on every visit.
    QFETCH(QString, pattern);
    Source source(TestMedia::Path(pattern), QString(), QUuid());
    Player player(&source, 2);
    QList<Emitted> visits;
    for (auto const& [forward, from] : {std::pair {true, 0}, {false, 7}, {true, 5}, {false, 6}, {true, 3}, {false, 7}})
    {
        player.Play(forward, TimeHelpers::FrameToFrameStartTime(from, FRAME_STEP));
        for (Emitted const& frame : std::as_const(player.frames))
        {
            if (frame.index == 6)
            {
                visits << frame;
            }
        }
    }
    QCOMPARE(visits.size(), 6);
    for (Emitted const& visit : std::as_const(visits))
    {
        QCOMPARE(visit.md5, visits.constFirst().md5);
        QCOMPARE(visit.blackRows.size(), 120);
        // The top quarter is the file's own picture, the bottom quarter black.
        QVERIFY(!visit.blackRows.mid(0, 30).contains(true));
        QVERIFY(!visit.blackRows.mid(90).contains(false));
    }
}

void TestImageSequenceDecoder::WarmBufferOfAWholeFileNeverShowsInACutOffOne_data()
{
    // Each file's picture split among the decoder's slice threads, or not.
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("decoderThreads");
    for (int threads : DecoderThreadCounts::Each())
    {
        QTest::addRow("EXR, %d decoder threads", threads) << "seq_exr_cut/img.####.exr 1-8" << threads;
        QTest::addRow("JPEG, %d decoder threads", threads) << "seq_jpg_cut/img.###.jpg 1-8" << threads;
    }
}

void TestImageSequenceDecoder::WarmBufferOfAWholeFileNeverShowsInACutOffOne()
{
    // One worker decodes file 6, then the cut-off file 7 into the buffer file
    // 6's picture left warm, then file 8. The first play reads each file
    // through its demuxer into fresh buffers; the next ones read the known
    // files whole into reused buffers: the same pictures, and file 7's rows
    // past its end black rather than file 6's.
    QFETCH(QString, pattern);
    QFETCH(int, decoderThreads);
    Settings::imageSequenceDecoderThreadCount = decoderThreads;
    Source source(TestMedia::Path(pattern), QString(), QUuid());
    Player player(&source, 1);
    QList<QList<Emitted>> plays;
    for (int play = 0; play < 3; ++play)
    {
        player.Play(true, TimeHelpers::FrameToFrameStartTime(5, FRAME_STEP));
        QCOMPARE(player.Indices(), Range(5, 7));
        plays << player.frames;
    }
    for (QList<Emitted> const& frames : std::as_const(plays))
    {
        for (int i = 0; i < 3; ++i)
        {
            QCOMPARE(frames.at(i).md5, plays.constFirst().at(i).md5);
        }
        Emitted const& cut = frames.at(1);
        QCOMPARE(cut.blackRows.size(), 120);
        QVERIFY(!cut.blackRows.mid(0, 30).contains(true));
        QVERIFY(!cut.blackRows.mid(90).contains(false));
        QVERIFY(!frames.at(0).blackRows.contains(true) && !frames.at(2).blackRows.contains(true));
    }
}

void TestImageSequenceDecoder::FifoAmongTheFilesIsABrokenFile()
{
    // A FIFO in place of a picture would block the worker that opens it for
    // as long as nothing writes to it: it is a broken file like any other.
    QTemporaryDir dir;
    for (int number = 1001; number <= 1004; ++number)
    {
        QString const name = QStringLiteral("shot.%1.png").arg(number);
        QVERIFY(QFile::copy(TestMedia::Path("seq_broken/" + name), dir.filePath(name)));
    }
    QByteArray const fifo = QFile::encodeName(dir.filePath("shot.1003.png"));
    QVERIFY(QFile::remove(QString::fromLocal8Bit(fifo)));
    QVERIFY(mkfifo(fifo.constData(), 0600) == 0);
    // Ends an open that blocks after a while, so that the test fails rather
    // than hangs. Four small files take well under a second; the bound is for
    // a starved process.
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool unblocked = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> locker(lock);
        if (!finished.wait_for(locker, std::chrono::milliseconds(TimingBounds::CONDITION_WAIT_MS),
                                [&] { return done; }))
        {
            unblocked = true;
            close(open(fifo.constData(), O_RDWR));
        }
    });
    Source source(dir.filePath("shot.####.png") + " 1001-1004", QString(), QUuid());
    Player player(&source, 2);
    int const status = player.Play(true, 0);
    {
        std::lock_guard<std::mutex> const locker(lock);
        done = true;
        finished.notify_all();
    }
    watchdog.join();
    QVERIFY(!unblocked);
    QCOMPARE(status, ImageSequenceDecoder::STATUS_END_REACHED);
    QCOMPARE(player.Indices(), Range(0, 3));
    QVERIFY(player.frames.at(2).black);
    QVERIFY(!player.frames.at(1).black && !player.frames.at(3).black);
    QVERIFY(source.FileInfoAtIndex(2)->errorCode != 0);
}

void TestImageSequenceDecoder::JpegOutputIsTheSameForEveryWorkerCount()
{
    // YUV pictures for the OpenGL viewer; from inside the sequence, so that
    // both directions start with a seek.
    QStringList references[2];
    for (int workers : {1, 2, 4, 8})
    {
        Source source(TestMedia::Path("seq_jpg") + "/img.###.jpg 1-12", QString(), QUuid());
        Player player(&source, workers);
        for (bool forward : {true, false})
        {
            player.Play(forward, TimeHelpers::FrameToFrameStartTime(forward ? 2 : 8, FRAME_STEP));
            QCOMPARE(player.Indices(), forward ? Range(2, 11) : Range(8, 0));
            QStringList& reference = references[forward ? 0 : 1];
            if (reference.isEmpty())
            {
                reference = player.Md5s();
            }
            QCOMPARE(player.Md5s(), reference);
        }
    }
    // Files 2 to 8 came both ways.
    QCOMPARE(references[0].mid(0, 7), QStringList(references[1].crbegin() + 2, references[1].crend()));
}

void TestImageSequenceDecoder::SeekStartsAtTheTargetAndDropsFilesUnderWay()
{
    Source source(TestMedia::Path("seq_png") + PNG_SEQUENCE, QString(), QUuid());
    Player player(&source, 8);
    player.Play(true, 1000000);
    QCOMPARE(player.Indices(), Range(24, 29));
    // Inside a file's time: that file.
    player.Play(false, 1000000 + 20000);
    QCOMPARE(player.Indices(), Range(24, 0));
    player.Play(false, source.Duration() + 1000000);
    QCOMPARE(player.Indices(), Range(29, 0));

    // Files from 0 on are still being decoded when playback jumps to 20: at
    // least the one asked for last, as a result is taken in only by the next
    // call. (One more call may find every worker done already.)
    player.decoder.SetDecodeForward(true);
    player.decoder.Seek(0);
    for (int i = 0; i < 4; ++i)
    {
        QCOMPARE(player.decoder.DecodeNext(), ImageSequenceDecoder::STATUS_REQUESTED);
    }
    QCOMPARE_GT(player.decoder.ActiveWorkerCount(), 0);
    player.Play(true, TimeHelpers::FrameToFrameStartTime(20, FRAME_STEP));
    QCOMPARE(player.Indices(), Range(20, 29));

    // File 8 was opened ahead while all were busy; the jump finds every
    // worker idle: each file shown is its own.
    player.decoder.Seek(0);
    while (player.decoder.DecodeNext() == ImageSequenceDecoder::STATUS_REQUESTED)
    {
    }
    QVERIFY(QTest::qWaitFor(
        [&player] {
            player.decoder.CollectFinishedWork();
            return player.decoder.ActiveWorkerCount() == 0;
        },
        TimingBounds::CONDITION_WAIT_MS));
    player.Play(true, TimeHelpers::FrameToFrameStartTime(20, FRAME_STEP));
    QCOMPARE(player.Indices(), Range(20, 29));
    QCOMPARE(player.Md5s(), RgbMd5(TestMedia::Path("seq_png") + "/img.%04d.png", 1).mid(20));
}

void TestImageSequenceDecoder::ShutdownWaitsForBusyWorkers()
{
    Source source(TestMedia::Path("seq_png") + PNG_SEQUENCE, QString(), QUuid());
    ImageSequenceDecoder decoder(false);
    decoder.Initialize(-1);
    QCOMPARE(decoder.TotalWorkerCount(), Settings::imageSequenceThreadCount);
    decoder.SetSource(&source);
    decoder.Seek(0);
    // At least the file asked for last is under way.
    for (int i = 0; i < 2; ++i)
    {
        QCOMPARE(decoder.DecodeNext(), ImageSequenceDecoder::STATUS_REQUESTED);
    }
    QCOMPARE_GT(decoder.ActiveWorkerCount(), 0);
    LoggedMessages errors(&Logger::ErrorLogged);
    decoder.Shutdown();
    QCOMPARE(decoder.TotalWorkerCount(), 0);
    QCOMPARE(errors.Count(), 0);
}

void TestImageSequenceDecoder::OversizedPicturesAreRefusedBeforeAllocating()
{
    // Files 2, 3 and 5 (indices 1, 2, 4) claim 16000x16000: over 700 MB a
    // picture, more than the whole cache.
    Settings::cacheSize = 512;
    QList<int> const oversized{1, 2, 4};
    long long const peakBefore = PeakResidentMb();
    // Workers log from their own threads: gather on the main thread (a
    // signal spy is appended to by whichever thread emits).
    QStringList messages;
    QObject gatherer;
    connect(Logger::GetInstance(), &Logger::ErrorLogged, &gatherer,
            [&messages](QString const& message) { messages.append(message); }, Qt::QueuedConnection);
    {
        Source source(TestMedia::Path("seq_huge") + "/img.####.png 1-6", QString(), QUuid());
        Player player(&source, 4);
        for (bool forward : {true, false, true})
        {
            player.Play(forward, forward ? 0 : source.Duration() - 1);
            QCOMPARE(player.Indices(), forward ? Range(0, 5) : Range(5, 0));
            for (Emitted const& frame : player.frames)
            {
                // Refused: the black stand-in of the sequence's own size.
                QCOMPARE(frame.black, oversized.contains(frame.index));
                QCOMPARE(frame.size, QSize(160, 120));
            }
        }
        // Step backwards file by file, leaving requests under way.
        for (int i = 5; i >= 0; --i)
        {
            player.decoder.SetDecodeForward(false);
            player.decoder.Seek(TimeHelpers::FrameToFrameStartTime(i, FRAME_STEP));
            while (player.decoder.DecodeNext() == ImageSequenceDecoder::STATUS_REQUESTED)
            {
            }
        }
        player.decoder.Shutdown();
        QCOMPARE(player.decoder.TotalWorkerCount(), 0);
        QCoreApplication::processEvents();
        for (int index : oversized)
        {
            QCOMPARE(source.FileInfoAtIndex(index)->errorCode != 0, true);
        }
    }
    QCoreApplication::processEvents();
    QVERIFY2(!messages.filter("img.0002.png").isEmpty(), qPrintable(messages.join('\n')));
    QVERIFY(messages.filter("Failed to complete ImageSequenceDecoder shutdown").isEmpty());
    // A single claimed picture would have taken over 700 MB.
    QVERIFY2(PeakResidentMb() - peakBefore < 400,
             qPrintable(QStringLiteral("peak grew by %1 MB").arg(PeakResidentMb() - peakBefore)));
}

QTEST_GUILESS_MAIN(TestImageSequenceDecoder)
#include "tst_imagesequencedecoder.moc"
