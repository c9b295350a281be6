// Export speed: frames per second of a timeline export through the engine
// (decode, hand-over to ffmpeg on its standard input, H.264 encode), as a
// ratio to running the same ffmpeg encode directly on the source file.
// Makes a 1080p clip in a temporary folder (needs ffmpeg on the PATH).
//
//   bench_export [SECONDS]   (default 8 s of 25 fps)

#include "ExportTiming.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/AvParser.h"
#include "model/Source.h"
#include "model/Timeline.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <cstdio>

namespace
{
// No export of the benchmark's clip takes anywhere near this long.
int const EXPORT_TIMEOUT_MS = 600000;
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
    if (!ExportTiming::RunFfmpeg({"-f", "lavfi", "-i", QString("testsrc2=s=1920x1080:r=25:d=%1").arg(seconds), "-c:v", "libx264",
                    "-preset", "veryfast", "-pix_fmt", "yuv420p", "-bf", "3", "-g", "50", source}))
    {
        return 1;
    }
    QString const crf = ExportTiming::Crf();
    QString const preset = ExportTiming::Preset();
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
            double const ours =
                ExportTiming::EngineSeconds(av, &timeline, dir.filePath("export.mp4"), size, EXPORT_TIMEOUT_MS);
            double const reference = ExportTiming::FfmpegSeconds(source, dir.filePath("reference.mp4"), size);
            double const oursFps = ours > 0.0 ? frames / ours : 0.0;
            double const referenceFps = reference > 0.0 ? frames / reference : 0.0;
            std::printf("  %-7s frames to %4dx%-4d  export %6.1f fps   ffmpeg %6.1f fps   ratio %.2f\n",
                        yuv ? "YUV420P" : "RGB24", size.width(), size.height(), oursFps, referenceFps,
                        referenceFps > 0.0 ? oursFps / referenceFps : 0.0);
        }
    }
    return 0;
}
