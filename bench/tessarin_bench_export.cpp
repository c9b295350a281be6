#include "BenchExport.h"

#include "BenchMemory.h"
#include "BenchSession.h"
#include "ExportTiming.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/Timeline.h"

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
    if (!ExportTiming::RunFfmpeg({"-f", "lavfi", "-i", QString("testsrc2=s=%1x%2:r=%3:d=%4").arg(WIDTH).arg(HEIGHT).arg(FRAME_RATE).arg(seconds),
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
    double const ours = ExportTiming::EngineSeconds(session.Av(), timeline, dir.filePath("export.mp4"),
                                                    QSize(WIDTH, HEIGHT), EXPORT_TIMEOUT_MS);
    long long const peak = BenchMemory::PeakKilobytes();
    if (ours <= 0.0)
    {
        return 1;
    }
    double const reference =
        ExportTiming::FfmpegSeconds(source, dir.filePath("reference.mp4"), QSize(WIDTH, HEIGHT));
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
