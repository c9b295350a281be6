// Export speed: frames per second of a timeline export through the engine
// (decode, hand-over to ffmpeg on its standard input, H.264 encode), as a
// ratio to running the same ffmpeg encode directly on the source file.
// Makes a 1080p clip in a temporary folder (needs ffmpeg on the PATH).
//
//   bench_export [SECONDS]   (default 8 s of 25 fps)

#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/AvParser.h"
#include "media/ExportManager.h"
#include "media/ExportProperties.h"
#include "model/Source.h"
#include "model/Timeline.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <cstdio>

namespace
{

// No export of the benchmark's clip takes anywhere near this long.
int const EXPORT_TIMEOUT_MS = 600000;

bool RunFfmpeg(QStringList const& arguments)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList {"-nostdin", "-hide_banner", "-v", "error", "-y"} + arguments);
    if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0)
    {
        std::fprintf(stderr, "ffmpeg failed: %s\n", ffmpeg.readAllStandardError().constData());
        return false;
    }
    return true;
}

// The encode an export of the same size, quality and preset runs, straight
// from the source file.
double FfmpegSeconds(QString const& source, QString const& output, int width, int height, QString const& crf,
                     QString const& preset)
{
    QString const filter =
        QString("scale=w=%1:h=%2:force_original_aspect_ratio=1,pad=%1:%2:(ow-iw)*0.5:(oh-ih)*0.5,setsar=1")
            .arg(width)
            .arg(height);
    QElapsedTimer timer;
    timer.start();
    if (!RunFfmpeg({"-i", source, "-c:v", "libx264", "-pix_fmt", "yuv420p", "-crf", crf, "-preset:v", preset,
                    "-profile:v", "high", "-vf", filter, "-an", output}))
    {
        return 0.0;
    }
    return timer.nsecsElapsed() / 1e9;
}

// Seconds of a whole export through the engine, or 0 on failure.
double ExportSeconds(AvManager& av, Timeline* timeline, QString const& output, int width, int height)
{
    ExportProperties request;
    request.timeline = timeline;
    request.outputFilePath = output;
    request.width = width;
    request.height = height;
    request.h264Quality = Settings::h264Quality;
    request.h264Preset = Settings::h264Preset;
    QElapsedTimer timer;
    timer.start();
    QString const error = ExportManager::PreExportInitialization(&request);
    if (!error.isEmpty())
    {
        std::fprintf(stderr, "export refused: %s\n", qPrintable(error));
        return 0.0;
    }
    QSignalSpy ended(&av, &AvManager::ExportTasksEnded);
    QMetaObject::Connection const logging = QObject::connect(
        &av, &AvManager::ExportLogMsgReceived, [](QString const& message, ExportLoggingMsgType, bool isError) {
            if (isError)
            {
                std::fprintf(stderr, "export error: %s\n", qPrintable(message));
            }
        });
    av.StartTimelineExport(&request);
    bool const finished = !ended.isEmpty() || ended.wait(EXPORT_TIMEOUT_MS);
    double const seconds = timer.nsecsElapsed() / 1e9;
    QObject::disconnect(logging);
    if (!finished)
    {
        std::fprintf(stderr, "export did not end within %d s\n", EXPORT_TIMEOUT_MS / 1000);
        av.ClearAll(false, 10000); // cancels the export and waits for its threads
        return 0.0;
    }
    ExportManager::PostExportCleanup(&request);
    return request.failed || request.cancelled ? 0.0 : seconds;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    int const seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 8;
    QTemporaryDir dir;
    Settings::tempDirPath = dir.filePath("temp");
    QString const source = dir.filePath("h264_1080p.mp4");
    std::printf("Making %d s of 1080p H.264 in %s ...\n", seconds, qPrintable(dir.path()));
    if (!RunFfmpeg({"-f", "lavfi", "-i", QString("testsrc2=s=1920x1080:r=25:d=%1").arg(seconds), "-c:v", "libx264",
                    "-preset", "veryfast", "-pix_fmt", "yuv420p", "-bf", "3", "-g", "50", source}))
    {
        return 1;
    }
    QString const crf = QString::number(QList<int> {18, 20, 23, 26}.value(Settings::h264Quality, 20));
    QString const preset = QStringList {"veryslow", "slow", "medium", "fast", "veryfast", "ultrafast"}.value(
        Settings::h264Preset, "medium");
    std::printf("Export of %d frames, crf %s, preset %s, %d threads\n", seconds * 25, qPrintable(crf),
                qPrintable(preset), QThread::idealThreadCount());

    for (bool yuv : {true, false})
    {
        Settings::hardwareRenderingEnabled = yuv;
        Settings::LatchHardwareRendering();
        Timeline timeline(source, QString(), QUuid::createUuid());
        AvParser().Parse(timeline.SourcePtr(), 0);
        timeline.OnTrackUpdated();
        int const frames = timeline.FrameCount();
        AvManager av;
        for (QSize const size : {QSize(1920, 1080), QSize(960, 540)})
        {
            double const ours = ExportSeconds(av, &timeline, dir.filePath("export.mp4"), size.width(), size.height());
            double const reference =
                FfmpegSeconds(source, dir.filePath("reference.mp4"), size.width(), size.height(), crf, preset);
            double const oursFps = ours > 0.0 ? frames / ours : 0.0;
            double const referenceFps = reference > 0.0 ? frames / reference : 0.0;
            std::printf("  %-7s frames to %4dx%-4d  export %6.1f fps   ffmpeg %6.1f fps   ratio %.2f\n",
                        yuv ? "YUV420P" : "RGB24", size.width(), size.height(), oursFps, referenceFps,
                        referenceFps > 0.0 ? oursFps / referenceFps : 0.0);
        }
    }
    return 0;
}
