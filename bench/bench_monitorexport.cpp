// Viewer-capture export against a timeline export of the same frames, both
// run through the monitor panel on the real engine. Needs an X server:
//   xvfb-run -a -s "-screen 0 1920x1080x24" bench_monitorexport MEDIA [OUTDIR]
// Prints frames per second of each and their ratio.
#include "app/KeyBindings.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/ExportProperties.h"
#include "media/VideoFrame.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "viewer/ViewerWidget.h"
#include "window/MonitorPanel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace
{
double RunExport(MonitorPanel* panel, ExportProperties const& request, bool& failed)
{
    failed = false;
    QObject::connect(panel, &MonitorPanel::ExportLogMsgReceived, panel,
                     [&failed](QString const& message, ExportLoggingMsgType, bool error) {
                         failed = failed || error || message == QStringLiteral("\nExport failed!");
                     });
    QElapsedTimer timer;
    timer.start();
    panel->ExportToFile(request);
    bool const ended = QTest::qWaitFor([&] { return panel->CurrentExport() == nullptr; }, 600000);
    failed = failed || !ended;
    double const seconds = timer.nsecsElapsed() / 1e9;
    QObject::disconnect(panel, &MonitorPanel::ExportLogMsgReceived, panel, nullptr);
    return seconds;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    Settings::LatchHardwareRendering();
    if (argc < 2 || !QFileInfo::exists(QString::fromLocal8Bit(argv[1])))
    {
        std::fprintf(stderr, "usage: bench_monitorexport MEDIA [OUTDIR]\n");
        return 2;
    }
    QTemporaryDir temp;
    QString const outDir = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temp.path();
    Settings::tempDirPath = temp.filePath(QStringLiteral("work"));

    ProjectManager projectManager;
    KeyBindings keyBindings;
    QMainWindow window;
    auto* panel = new MonitorPanel(&projectManager, &keyBindings, &window);
    window.setCentralWidget(panel);
    window.resize(1280, 800);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
    {
        std::fprintf(stderr, "the window was never shown\n");
        return 1;
    }
    ViewerWidget* viewer = panel->ViewerWidgetPtr();
    bool pictureShown = false;
    QObject::connect(viewer, &ViewerWidget::PrimaryVideoFrameChanged, viewer,
                     [&pictureShown](std::shared_ptr<VideoFrame> const& frame) {
                         pictureShown = pictureShown || (frame && !frame->emptyFrame);
                     });
    projectManager.NewProject(true);
    projectManager.ImportFilesByPath({QString::fromLocal8Bit(argv[1])}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1,
                                     true);
    if (!QTest::qWaitFor([&] { return viewer->PrimaryTimeline() && viewer->PrimaryTimeline()->ClipCount() > 0; },
                         30000))
    {
        std::fprintf(stderr, "the media did not open\n");
        return 1;
    }
    // The picture's size is known once the viewer shows one.
    if (!QTest::qWaitFor([&] { return pictureShown; }, 30000))
    {
        std::fprintf(stderr, "no picture of the media was shown\n");
        return 1;
    }
    int width = 0;
    int height = 0;
    viewer->VideoWidthHeight(width, height);
    int const frames = viewer->PrimaryTimeline()->FrameCount();

    ExportProperties request;
    request.width = width;
    request.height = height;
    request.frameRate = static_cast<float>(viewer->PrimaryTimeline()->FrameRateAtFrame(0, -1));
    request.ignoreRange = true;
    request.noAudio = true;

    request.outputFilePath = outDir + QStringLiteral("/bench_timeline.mp4");
    request.exportName = QStringLiteral("bench_timeline");
    bool failed = false;
    double const timelineSeconds = RunExport(panel, request, failed);
    bool const timelineFailed = failed;

    request.viewerCapture = true;
    request.outputFilePath = outDir + QStringLiteral("/bench_capture.mp4");
    request.exportName = QStringLiteral("bench_capture");
    double const captureSeconds = RunExport(panel, request, failed);

    std::printf("frames: %d (%dx%d)\n", frames, width, height);
    std::printf("timeline export: %.2f s, %.1f fps%s\n", timelineSeconds, frames / timelineSeconds,
                timelineFailed ? " (FAILED)" : "");
    std::printf("viewer capture export: %.2f s, %.1f fps%s\n", captureSeconds, frames / captureSeconds,
                failed ? " (FAILED)" : "");
    std::printf("capture / timeline speed: %.2f\n", timelineSeconds / captureSeconds);
    projectManager.Shutdown();
    return 0;
}
