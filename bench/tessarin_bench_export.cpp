#include "BenchExport.h"

#include "BenchMemory.h"
#include "BenchSession.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/ExportManager.h"
#include "media/ExportProperties.h"
#include "model/Timeline.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>

namespace
{

int const WIDTH = 1920;
int const HEIGHT = 1080;
int const FRAME_RATE = 25;
// Beside the export's cache, what the encoder's hand-over, the decoder and
// the libraries may take, at most.
long long const ROOM_BEYOND_CACHE_MB = 300;
// No export of the clip takes anywhere near this long.
int const EXPORT_TIMEOUT_MS = 3600000;

bool RunFfmpeg(QStringList const& arguments)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList {"-nostdin", "-hide_banner", "-v", "error", "-y"} + arguments);
    if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0)
    {
        std::fprintf(stderr, "tessarin_bench: ffmpeg failed: %s\n", ffmpeg.readAllStandardError().constData());
        return false;
    }
    return true;
}

// Seconds of ffmpeg running the encode the export runs, straight from the
// file, or 0 on failure.
double FfmpegSeconds(QString const& source, QString const& output)
{
    QString const filter =
        QString("scale=w=%1:h=%2:force_original_aspect_ratio=1,pad=%1:%2:(ow-iw)*0.5:(oh-ih)*0.5,setsar=1")
            .arg(WIDTH)
            .arg(HEIGHT);
    QList<int> const crfs {18, 20, 23, 26};
    QStringList const presets {"veryslow", "slow", "medium", "fast", "veryfast", "ultrafast"};
    QElapsedTimer timer;
    timer.start();
    if (!RunFfmpeg({"-i", source, "-c:v", "libx264", "-pix_fmt", "yuv420p", "-crf",
                    QString::number(crfs.value(Settings::h264Quality, 20)), "-preset:v",
                    presets.value(Settings::h264Preset, "medium"), "-profile:v", "high", "-vf", filter, "-an",
                    output}))
    {
        return 0.0;
    }
    return timer.nsecsElapsed() / 1e9;
}

// Seconds of the export through the engine, or 0 on failure.
double ExportSeconds(AvManager& av, Timeline* timeline, QString const& output)
{
    ExportProperties request;
    request.timeline = timeline;
    request.outputFilePath = output;
    request.width = WIDTH;
    request.height = HEIGHT;
    request.h264Quality = Settings::h264Quality;
    request.h264Preset = Settings::h264Preset;
    QElapsedTimer timer;
    timer.start();
    QString const error = ExportManager::PreExportInitialization(&request);
    if (!error.isEmpty())
    {
        std::fprintf(stderr, "tessarin_bench: export refused: %s\n", qPrintable(error));
        return 0.0;
    }
    bool ended = false;
    QMetaObject::Connection const ending =
        QObject::connect(&av, &AvManager::ExportTasksEnded, [&ended] { ended = true; });
    QMetaObject::Connection const logging = QObject::connect(
        &av, &AvManager::ExportLogMsgReceived, [](QString const& message, ExportLoggingMsgType, bool isError) {
            if (isError)
            {
                std::fprintf(stderr, "tessarin_bench: export error: %s\n", qPrintable(message));
            }
        });
    av.StartTimelineExport(&request);
    bool const finished = BenchSession::WaitFor([&ended] { return ended; }, EXPORT_TIMEOUT_MS);
    double const seconds = timer.nsecsElapsed() / 1e9;
    QObject::disconnect(ending);
    QObject::disconnect(logging);
    if (!finished)
    {
        std::fprintf(stderr, "tessarin_bench: the export did not end within %d s\n", EXPORT_TIMEOUT_MS / 1000);
        return 0.0;
    }
    ExportManager::PostExportCleanup(&request);
    return request.failed || request.cancelled ? 0.0 : seconds;
}

} // namespace

int RunExportBench(BenchSession& session, int seconds)
{
    QTemporaryDir dir;
    if (!dir.isValid())
    {
        std::fprintf(stderr, "tessarin_bench: no temporary folder\n");
        return 1;
    }
    Settings::tempDirPath = dir.filePath("temp");
    QString const source = dir.filePath("h264_1080p.mp4");
    int const frames = seconds * FRAME_RATE;
    std::printf("export: making %d s of %dx%d H.264 (%d frames) in %s\n", seconds, WIDTH, HEIGHT, frames,
                qPrintable(dir.path()));
    std::fflush(stdout);
    if (!RunFfmpeg({"-f", "lavfi", "-i", QString("testsrc2=s=%1x%2:r=%3:d=%4").arg(WIDTH).arg(HEIGHT).arg(FRAME_RATE).arg(seconds),
                    "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-bf", "3", "-g", "50",
                    source}))
    {
        return 1;
    }
    QString error;
    Timeline* timeline = session.AddSource(source, &error);
    if (!timeline)
    {
        std::fprintf(stderr, "tessarin_bench: %s\n", qPrintable(error));
        return 1;
    }
    long long const residentBefore = BenchMemory::ResidentKilobytes();
    double const ours = ExportSeconds(session.Av(), timeline, dir.filePath("export.mp4"));
    long long const peak = BenchMemory::PeakKilobytes();
    if (ours <= 0.0)
    {
        return 1;
    }
    double const reference = FfmpegSeconds(source, dir.filePath("reference.mp4"));
    if (reference <= 0.0)
    {
        return 1;
    }
    long long const budgetMb = Settings::MINIMUM_TIMELINE_CACHE_SIZE + ROOM_BEYOND_CACHE_MB;
    std::printf("  export            %8.1f s  %6.1f fps   ffmpeg %8.1f s  %6.1f fps   time ratio to ffmpeg %.2f\n",
                ours, frames / ours, reference, frames / reference, ours / reference);
    std::printf("  peak memory       %8lld MB (VmHWM; %lld MB resident before the export)   against cache %d MB + "
                "%lld MB = %lld MB: ratio %.2f  (aim <= 1)\n",
                peak / 1024, residentBefore / 1024, Settings::MINIMUM_TIMELINE_CACHE_SIZE, ROOM_BEYOND_CACHE_MB,
                budgetMb, static_cast<double>(peak) / 1024.0 / static_cast<double>(budgetMb));
    std::fflush(stdout);
    return 0;
}
