// Image-sequence decoding speed against the number of worker threads, for
// 1080p PNG and JPEG sequences: frames per second over the whole sequence the
// first time (every file is parsed too) and when played again, next to
// `ffmpeg -threads 1` decoding and converting the same files on one thread.
// Makes the sequences in a temporary folder (needs ffmpeg on the PATH).

#include "app/Settings.h"
#include "media/ImageSequenceDecoder.h"
#include "media/VideoFrame.h"
#include "model/Source.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace
{

int const FRAME_COUNT = 72;

bool RunFfmpeg(QStringList const& arguments, QString* log = nullptr)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList{"-nostdin", "-hide_banner", "-y"} + arguments);
    if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0)
    {
        std::fprintf(stderr, "ffmpeg failed: %s\n", ffmpeg.readAllStandardError().constData());
        return false;
    }
    if (log)
    {
        *log = QString::fromUtf8(ffmpeg.readAllStandardError());
    }
    return true;
}

bool MakeSequence(QString const& pattern, QStringList const& options)
{
    return RunFfmpeg(QStringList{"-v", "error", "-f", "lavfi", "-i",
                                 QStringLiteral("testsrc2=size=1920x1080:rate=24:duration=%1").arg(FRAME_COUNT / 24.0),
                                 "-start_number", "1"} +
                     options + QStringList{pattern});
}

// Frames per second of ffmpeg decoding the sequence on one thread into the
// pixel format the player converts it to.
double FfmpegFramesPerSecond(QString const& pattern, char const* pixelFormat)
{
    QString log;
    if (!RunFfmpeg({"-benchmark", "-threads", "1", "-framerate", "24", "-start_number", "1", "-i", pattern, "-pix_fmt",
                    pixelFormat, "-f", "null", "-"},
                   &log))
    {
        return 0.0;
    }
    QRegularExpressionMatch const match = QRegularExpression("rtime=([0-9.]+)s").match(log);
    double const seconds = match.hasMatch() ? match.captured(1).toDouble() : 0.0;
    return seconds > 0.0 ? FRAME_COUNT / seconds : 0.0;
}

// Plays the sequence from its start as the decode loop does; returns frames
// per second.
double Play(ImageSequenceDecoder& decoder, int& frames)
{
    frames = 0;
    QElapsedTimer timer;
    timer.start();
    decoder.SetDecodeForward(true);
    decoder.Seek(0);
    while (true)
    {
        int const status = decoder.DecodeNext();
        if (status == ImageSequenceDecoder::STATUS_REQUESTED)
        {
            continue;
        }
        if (status != ImageSequenceDecoder::STATUS_BUSY && decoder.ActiveWorkerCount() == 0)
        {
            break;
        }
        decoder.WaitForFinishedWork(30000);
    }
    return frames * 1e3 / static_cast<double>(std::max<qint64>(timer.elapsed(), 1));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    struct Kind
    {
        char const* name;
        QString path;
        QStringList options;
        // What the player converts to (JPEG is YUV, shown by the OpenGL viewer).
        char const* pixelFormat;
    };
    Kind const kinds[] = {
        {"PNG", dir.filePath("png.####.png 1-%1").arg(FRAME_COUNT), {}, "rgb24"},
        {"JPEG", dir.filePath("jpg.####.jpg 1-%1").arg(FRAME_COUNT), {"-q:v", "2"}, "yuv420p"},
    };
    Settings::hardwareRenderingEnabled = true;
    std::printf("1080p image sequences of %d frames, %d cores\n", FRAME_COUNT, QThread::idealThreadCount());
    std::printf("%-5s %8s %12s %12s %14s\n", "kind", "workers", "first fps", "replay fps", "ffmpeg 1 thr");
    for (Kind const& kind : kinds)
    {
        QString const pattern = kind.path.section(' ', 0, 0).replace("####", "%04d");
        if (!MakeSequence(pattern, kind.options))
        {
            return 1;
        }
        double const reference = FfmpegFramesPerSecond(pattern, kind.pixelFormat);
        for (int workers : {1, 2, 4, 8})
        {
            Source source(kind.path, QString(), QUuid());
            ImageSequenceDecoder decoder(false);
            int frames = 0;
            QObject::connect(&decoder, &ImageSequenceDecoder::VideoFrameDecoded,
                             [&frames](std::shared_ptr<VideoFrame> const&) { ++frames; });
            decoder.Initialize(workers);
            decoder.SetSource(&source);
            double const first = Play(decoder, frames);
            int const firstFrames = frames;
            double const replay = Play(decoder, frames);
            decoder.Shutdown();
            if (firstFrames != FRAME_COUNT || frames != FRAME_COUNT)
            {
                std::fprintf(stderr, "%s: %d and %d frames of %d\n", kind.name, firstFrames, frames, FRAME_COUNT);
                return 1;
            }
            std::printf("%-5s %8d %12.1f %12.1f %14.1f\n", kind.name, workers, first, replay, reference);
            std::fflush(stdout);
        }
    }
    return 0;
}
