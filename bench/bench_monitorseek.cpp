// Seeks to frames nothing has cached yet, through the monitor panel on the
// real engine, as a reviewer makes them on the time bar: how long until the
// engine hands the frame to the viewer, and until the viewer has painted it.
// Each target is sought once right after parking elsewhere (little cached)
// and once after the cache has filled from the parked frame (a full cache
// to let go). Needs an X server:
//   xvfb-run -a -s "-screen 0 1920x1080x24" bench_monitorseek MEDIA [TARGETS]
// TARGETS (default 8) frames spread over the second half of the media.
#include "app/KeyBindings.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/VideoFrame.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "viewer/OpenGLViewer.h"
#include "viewer/SoftwareViewer.h"
#include "viewer/ViewerWidget.h"
#include "window/GlobalTimeControlWidget.h"
#include "window/MonitorPanel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace
{
int const SEEK_TIMEOUT_MS = 30000;
int const PAINT_TIMEOUT_MS = 5000;
// A cache that has not grown for this long has stopped filling.
int const SETTLE_STILL_MS = 500;

double Median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values.at(values.size() / 2);
}

struct Seek
{
    double engineMs = -1.0; // the engine handed the frame to the viewer
    double paintedMs = -1.0; // the viewer finished painting it
};

class SeekProbe
{
public:
    SeekProbe(MonitorPanel* panel, AvManager* av, Timeline* timeline)
        : mPanel(panel)
        , mViewer(panel->ViewerWidgetPtr())
        , mTimeline(timeline)
    {
        QObject::connect(av, &AvManager::VideoFrameChanged, mViewer,
                         [this](int output, std::shared_ptr<VideoFrame> current, auto, auto) {
                             if (output == 0 && mSeek.engineMs < 0.0 && Covers(current))
                             {
                                 mSeek.engineMs = mTimer.nsecsElapsed() / 1e6;
                             }
                         });
        auto const painted = [this] {
            if (mSeek.engineMs >= 0.0 && mSeek.paintedMs < 0.0 && Covers(mViewer->FrameInSlot(0, 3)))
            {
                mSeek.paintedMs = mTimer.nsecsElapsed() / 1e6;
            }
        };
        if (auto* software = mViewer->findChild<SoftwareViewer*>())
        {
            QObject::connect(software, &SoftwareViewer::PaintingFinished, mViewer, painted);
        }
        if (auto* openGL = mViewer->findChild<OpenGLViewer*>())
        {
            QObject::connect(openGL, &OpenGLViewer::PaintingFinished, mViewer, painted);
        }
    }

    // Seeks and waits until the viewer holds the frame; false when it never came.
    bool Go(int frame)
    {
        mTarget = mTimeline->TimeAtFrame(frame, false);
        mSeek = {};
        mTimer.start();
        mPanel->GlobalTimeControl()->SetPlaybackTimeByFrame(frame, false, false);
        return QTest::qWaitFor([this] { return Covers(mViewer->FrameInSlot(0, 3)); }, SEEK_TIMEOUT_MS);
    }

    Seek Measure(int frame)
    {
        if (!Go(frame))
        {
            return {};
        }
        QTest::qWaitFor([this] { return mSeek.paintedMs >= 0.0; }, PAINT_TIMEOUT_MS);
        return mSeek;
    }

    void WaitCacheSettled() const
    {
        int count = -1;
        QElapsedTimer still;
        still.start();
        QTest::qWaitFor(
            [&] {
                int const now = mTimeline->VideoCacheFrameCount();
                if (now != count)
                {
                    count = now;
                    still.restart();
                }
                return mTimeline->VideoCacheSize() >= mTimeline->VideoCacheMaximumSize() ||
                       still.elapsed() >= SETTLE_STILL_MS;
            },
            SEEK_TIMEOUT_MS);
    }

    // Parks where the target is not cached; false when no such place is found.
    bool Park(int frame, bool settle)
    {
        long long const time = mTimeline->TimeAtFrame(frame, false);
        int const after = frame + Settings::numLeadingVideoFramesKeptOnSeek + 2;
        for (int parked : {0, after})
        {
            if (parked == after && (after > mTimeline->EndFrame() || !Go(mTimeline->EndFrame())))
            {
                return false;
            }
            if (!Go(parked))
            {
                return false;
            }
            if (settle)
            {
                WaitCacheSettled();
            }
            if (!mTimeline->VideoCacheCoversTime(time))
            {
                return true;
            }
        }
        return false;
    }

private:
    bool Covers(std::shared_ptr<VideoFrame> const& frame) const
    {
        return frame && frame->adjustedStartTime <= mTarget && mTarget <= frame->adjustedEndTime;
    }

    MonitorPanel* mPanel;
    ViewerWidget* mViewer;
    Timeline* mTimeline;
    QElapsedTimer mTimer;
    long long mTarget = -1;
    Seek mSeek;
};
} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    Settings::LatchHardwareRendering();
    if (argc < 2 || !QFileInfo::exists(QString::fromLocal8Bit(argv[1])))
    {
        std::fprintf(stderr, "usage: bench_monitorseek MEDIA [TARGETS]\n");
        return 2;
    }
    int const targetCount = argc > 2 ? std::max(1, QString::fromLocal8Bit(argv[2]).toInt()) : 8;
    QTemporaryDir temp;
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
    projectManager.NewProject(true);
    projectManager.ImportFilesByPath({QString::fromLocal8Bit(argv[1])}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1,
                                     true);
    if (!QTest::qWaitFor([&] { return viewer->PrimaryTimeline() && viewer->PrimaryTimeline()->ClipCount() > 0; },
                         30000) ||
        !QTest::qWaitFor([&] { return viewer->FrameInSlot(0, 3) != nullptr; }, 30000))
    {
        std::fprintf(stderr, "the media did not open\n");
        return 1;
    }
    Timeline* timeline = viewer->PrimaryTimeline();
    SeekProbe probe(panel, projectManager.AvManagerPtr(), timeline);
    int const end = timeline->EndFrame();
    QList<double> engine[2];
    QList<double> painted[2];
    for (int i = 0; i < targetCount; ++i)
    {
        int const frame = end / 2 + (end - end / 2) * (i + 1) / targetCount;
        // Counted only when both seeks to the target were measured.
        Seek seeks[2];
        bool measured = true;
        for (int settled = 0; settled < 2 && measured; ++settled)
        {
            measured = probe.Park(frame, settled == 1);
            if (measured)
            {
                seeks[settled] = probe.Measure(frame);
                measured = seeks[settled].engineMs >= 0.0 && seeks[settled].paintedMs >= 0.0;
                if (!measured)
                {
                    std::fprintf(stderr, "frame %d was not painted after a seek\n", frame);
                }
            }
        }
        for (int settled = 0; settled < 2 && measured; ++settled)
        {
            engine[settled] << seeks[settled].engineMs;
            painted[settled] << seeks[settled].paintedMs;
        }
    }
    std::printf("%s: %d frames, %s viewer\n", qPrintable(QFileInfo(QString::fromLocal8Bit(argv[1])).fileName()),
                timeline->FrameCount(), Settings::HardwareRenderingInUse() ? "OpenGL" : "software");
    char const* const labels[2] = {"little cached", "full cache"};
    for (int settled = 0; settled < 2; ++settled)
    {
        std::printf("  seek, %-13s  %d uncached targets: engine hand-over median %.1f ms, painted median %.1f ms, "
                    "on screen after the engine median %.1f ms\n",
                    labels[settled], static_cast<int>(engine[settled].size()), Median(engine[settled]),
                    Median(painted[settled]), Median(painted[settled]) - Median(engine[settled]));
    }
    projectManager.Shutdown();
    return 0;
}
