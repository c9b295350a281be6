// Forward decoding speed of VideoDecoder in each pixel path, as a ratio to
// `ffmpeg -f null` doing the same conversion with the same threads, and the
// cost per frame of backward decoding at several depths of a 250-frame GOP.
// Makes 1080p media in a temporary folder (needs ffmpeg on the PATH).

#include "app/Settings.h"
#include "media/AvParser.h"
#include "media/VideoDecoder.h"
#include "media/VideoFrame.h"
#include "model/Source.h"
#include "model/VideoStreamInfo.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>

namespace
{

bool RunFfmpeg(QStringList const& arguments, QString* log = nullptr)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList {"-nostdin", "-hide_banner", "-y"} + arguments);
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

// Frames per second of `ffmpeg -f null` decoding and converting the file.
double FfmpegFramesPerSecond(QString const& path, QString const& outputFormat, int frameCount)
{
    QString const filter = QStringLiteral("scale=flags=bilinear+full_chroma_int+accurate_rnd,format=%1").arg(outputFormat);
    QString log;
    // The same threads: the decoder's Settings::videoDecoderThreadCount (0 =
    // automatic) and one converting thread, as the decode worker has.
    if (!RunFfmpeg({"-benchmark", "-threads", QString::number(Settings::videoDecoderThreadCount), "-filter_threads",
                    "1", "-i", path, "-vf", filter, "-f", "null", "-"},
                   &log))
    {
        return 0.0;
    }
    QRegularExpressionMatch const match = QRegularExpression("rtime=([0-9.]+)s").match(log);
    double const seconds = match.hasMatch() ? match.captured(1).toDouble() : 0.0;
    return seconds > 0.0 ? frameCount / seconds : 0.0;
}

struct Opened
{
    explicit Opened(QString const& path)
        : source(path, QString(), QUuid())
        , decoder(false)
    {
        AvParser().Parse(&source, 0);
        decoder.Initialize();
        QObject::connect(&decoder, &VideoDecoder::VideoFrameDecoded, [this](std::shared_ptr<VideoFrame> const& frame) {
            if (frame)
            {
                ++frames;
                format = frame->pixelFormat;
            }
        });
        ok = decoder.OpenSource(&source, 0, 0);
    }
    ~Opened() { decoder.Shutdown(); }

    Source source;
    VideoDecoder decoder;
    int frames = 0;
    VideoFramePixelFormat format = VideoFramePixelFormat::RGB24;
    bool ok = false;
};

void BenchForward(QString const& path, bool hardwareRendering, QString const& ffmpegFormat)
{
    Settings::hardwareRenderingEnabled = hardwareRendering;
    Opened opened(path);
    if (!opened.ok)
    {
        std::printf("  cannot open %s\n", qPrintable(path));
        return;
    }
    opened.decoder.SetDecodeForward(true);
    opened.decoder.Seek(0);
    QElapsedTimer timer;
    timer.start();
    while (opened.decoder.DecodeNext() != VideoDecoder::STATUS_END_REACHED)
    {
    }
    double const ours = opened.frames / (timer.nsecsElapsed() / 1e9);
    double const reference = FfmpegFramesPerSecond(path, ffmpegFormat, opened.frames);
    std::printf("  %-8s %-22s %4d frames  %7.1f fps   ffmpeg %7.1f fps   ratio %.2f\n",
                VideoFramePixelFormatName(opened.format), qPrintable(QFileInfo(path).fileName()), opened.frames, ours, reference,
                reference > 0.0 ? ours / reference : 0.0);
}

void BenchBackward(QString const& path, bool hardwareRendering, int frameCount)
{
    Settings::hardwareRenderingEnabled = hardwareRendering;
    Opened opened(path);
    double const frameStep = opened.source.FrameStep();
    std::printf("  %s, %s:\n", qPrintable(QFileInfo(path).fileName()), hardwareRendering ? "YUV420P" : "RGB24");
    for (int position : {24, 60, 125, 190, 249})
    {
        opened.frames = 0;
        opened.decoder.SetDecodeForward(false);
        QElapsedTimer timer;
        timer.start();
        opened.decoder.Seek(static_cast<long long>(position * frameStep));
        int status = 0;
        while (opened.frames < frameCount && status != VideoDecoder::STATUS_START_REACHED)
        {
            status = opened.decoder.DecodeNext();
        }
        double const milliseconds = timer.nsecsElapsed() / 1e6;
        double const perFrame = milliseconds / std::max(opened.frames, 1);
        std::printf("    from frame %3d: %3d frames back  %6.1f ms/frame  (%5.1f fps)\n", position, opened.frames,
                    perFrame, 1000.0 / perFrame);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    QString const h264 = dir.filePath("h264_1080p_gop250.mp4");
    QString const prores = dir.filePath("prores4444_1080p.mov");
    std::printf("Making 1080p media in %s ...\n", qPrintable(dir.path()));
    if (!RunFfmpeg({"-v", "error", "-f", "lavfi", "-i", "testsrc2=s=1920x1080:r=25:d=12", "-c:v", "libx264", "-preset",
                    "veryfast", "-pix_fmt", "yuv420p", "-bf", "3", "-g", "250", "-keyint_min", "250", "-sc_threshold",
                    "0", h264}) ||
        !RunFfmpeg({"-v", "error", "-f", "lavfi", "-i", "testsrc2=s=1920x1080:r=25:d=2,format=yuva444p10le", "-c:v",
                    "prores_ks", "-profile:v", "4444", prores}))
    {
        return 1;
    }

    std::printf("\nForward decoding (decoder threads %d, 0 = automatic; one converting thread)\n",
                Settings::videoDecoderThreadCount);
    BenchForward(h264, true, "yuv420p");
    BenchForward(h264, false, "rgb24");
    BenchForward(prores, false, "rgba");
    BenchForward(prores, true, "yuv420p");

    std::printf("\nBackward decoding, 36 frames from each position of the first 250-frame GOP\n");
    BenchBackward(h264, true, 36);
    BenchBackward(h264, false, 36);
    return 0;
}
