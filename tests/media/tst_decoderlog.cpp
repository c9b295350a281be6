#include "EngineTestRig.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvHelpers.h"
#include "media/AvManager.h"
#include "media/FfmpegLog.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QtTest>

#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

using namespace EngineTestRig;

// What the decoders report while a healthy stream is opened and sought in,
// and which of the media libraries' own messages reach standard error.
class TestDecoderLog : public QObject
{
    Q_OBJECT

private:
    // Standard error goes to a file from its construction until Text().
    class StandardErrorCapture
    {
    public:
        StandardErrorCapture()
        {
            if (mCapture.open())
            {
                std::fflush(stderr);
                mSaved = ::dup(STDERR_FILENO);
                ::dup2(mCapture.handle(), STDERR_FILENO);
            }
        }
        ~StandardErrorCapture()
        {
            Text();
        }
        QByteArray Text()
        {
            if (mSaved < 0)
            {
                return mText;
            }
            std::fflush(stderr);
            ::dup2(mSaved, STDERR_FILENO);
            ::close(mSaved);
            mSaved = -1;
            mCapture.seek(0);
            mText = mCapture.readAll();
            return mText;
        }

    private:
        QTemporaryFile mCapture;
        int mSaved = -1;
        QByteArray mText = "no capture file";
    };

    // Runs `log` with standard error going to a file; returns what it wrote.
    template <typename Log>
    static QByteArray StandardErrorOf(Log log)
    {
        StandardErrorCapture capture;
        log();
        return capture.Text();
    }

private Q_SLOTS:
    // A transport stream cut in the middle of a group of pictures decodes
    // right from its start and after seeks, and its packets that come before
    // the first key picture are no cause for a warning, neither in the log
    // nor from the media libraries on standard error.
    void packetsBeforeTheFirstKeyPictureWarnNobody()
    {
        FfmpegLog::Install();
        StandardErrorCapture libraries;
        Settings::loopState = 0;
        Settings::pausePlaybackOnSeek = true;
        QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
        QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
        std::unique_ptr<Timeline> const timeline = SourceTimeline("numbered_offset.ts");
        QVERIFY(timeline->SourcePtr()->IsParsed());
        AvManager av;
        ViewerProbe probe(&av, timeline.get());
        av.DecodeTimeline(timeline.get(), 0, false, true, false);
        for (int const frame : {0, 40, 3, 75})
        {
            long long const time = timeline->TimeAtFrame(frame, false);
            av.SetPlaybackTime(time, false, false, true, true);
            QVERIFY2(QTest::qWaitFor([&] { return probe.Shows(av.PlaybackTime()); }, 60000),
                     qPrintable(QString::number(frame)));
        }
        QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join("; ")));
        QStringList said;
        for (QList<QVariant> const& line : std::as_const(warnings))
            said.append(line.first().toString());
        for (QList<QVariant> const& line : std::as_const(errors))
            said.append(line.first().toString());
        QVERIFY2(said.isEmpty(), qPrintable(said.join("; ")));
        QVERIFY(EndTasks(av));
        QByteArray const written = libraries.Text();
        QVERIFY2(!written.contains(" @ 0x"), written.left(2000).constData());
    }

    // Finding the stream information of a transport stream cut in the
    // middle of a group of pictures decodes packets that refer to parameters
    // it never got: nothing the user need hear of.
    void findingStreamInformationAfterACutIsQuiet()
    {
        FfmpegLog::Install();
        QFile whole(TestMedia::Path("numbered_offset.ts"));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QByteArray const bytes = whole.readAll();
        QTemporaryFile cut(QDir::tempPath() + "/cut-XXXXXX.ts");
        QVERIFY(cut.open());
        cut.write(bytes.mid(bytes.size() / 2 / 188 * 188));
        cut.close();
        AVFormatContext* context = nullptr;
        QCOMPARE(avformat_open_input(&context, QFile::encodeName(cut.fileName()).constData(), nullptr, nullptr), 0);
        int found = -1;
        QByteArray const written = StandardErrorOf([&] { found = AvHelpers::FindStreamInfo(context); });
        avformat_close_input(&context);
        QVERIFY(found >= 0);
        QVERIFY2(!written.contains(" @ 0x"), written.left(2000).constData());
    }

    // The libraries' notes below warnings are dropped; warnings and errors
    // are written, but a decoder's are not while that decoder is kept quiet
    // (nor those of its frame threads, which work on copies of its context).
    // Another decoder that warms up meanwhile keeps its own quiet.
    void onlyWarningsAndAboveReachStandardError()
    {
        FfmpegLog::Install();
        AVCodec const* const h264 = avcodec_find_decoder(AV_CODEC_ID_H264);
        AVCodecContext* decoder = avcodec_alloc_context3(h264);
        AVCodecContext* other = avcodec_alloc_context3(h264);
        AVCodecContext* threadCopy = avcodec_alloc_context3(h264);
        QVERIFY(decoder && other && threadCopy);
        QByteArray const written = StandardErrorOf([&] {
            av_log(nullptr, AV_LOG_INFO, "an info note\n");
            av_log(nullptr, AV_LOG_VERBOSE, "a verbose note\n");
            av_log(nullptr, AV_LOG_WARNING, "a warning\n");
            av_log(decoder, AV_LOG_ERROR, "a decoder error\n");
            FfmpegLog::Quiet const quiet(decoder, true);
            FfmpegLog::Quiet const notQuiet(other, false);
            threadCopy->opaque = decoder->opaque; // as a frame thread's copy takes it
            av_log(decoder, AV_LOG_ERROR, "an expected decoder error\n");
            av_log(threadCopy, AV_LOG_ERROR, "an expected error of a frame thread\n");
            av_log(other, AV_LOG_ERROR, "another decoder's error\n");
            av_log(nullptr, AV_LOG_ERROR, "a demuxer error\n");
            {
                FfmpegLog::Quiet const alsoQuiet(other, true);
                av_log(other, AV_LOG_ERROR, "an expected error of the other decoder\n");
            }
            av_log(other, AV_LOG_ERROR, "the other decoder's error once it has warmed up\n");
        });
        avcodec_free_context(&decoder);
        avcodec_free_context(&other);
        avcodec_free_context(&threadCopy);
        QVERIFY2(!written.contains("note"), written.constData());
        QVERIFY2(written.contains("a warning"), written.constData());
        QVERIFY2(written.contains("a decoder error"), written.constData());
        QVERIFY2(!written.contains("expected"), written.constData());
        QVERIFY2(written.contains("another decoder's error"), written.constData());
        QVERIFY2(written.contains("a demuxer error"), written.constData());
        QVERIFY2(written.contains("once it has warmed up"), written.constData());
    }
};

int main(int argc, char* argv[])
{
    qputenv("PULSE_SERVER", "unix:/nonexistent/tessarin-no-audio-server");
    QApplication app(argc, argv);
    TestDecoderLog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_decoderlog.moc"
