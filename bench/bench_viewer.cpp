// The OpenGL viewer's cost per frame: uploading a decoded frame (SetVideoFrame)
// and painting it (to glFinish), for 1080p and 4K in YUV420P and RGB24, next to
// the engine's decoding time per frame of the same clip. Needs an X server
// with OpenGL and ffmpeg on the PATH:
//   xvfb-run -a -s "-screen 0 1920x1080x24" bench_viewer [frames]
// Makes its media in a temporary folder.

#include "app/Settings.h"
#include "media/AvParser.h"
#include "media/VideoDecoder.h"
#include "media/VideoFrame.h"
#include "model/Source.h"
#include "viewer/OpenGLViewer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QProcess>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <algorithm>
#include <cstdio>

namespace
{

constexpr int KEPT_FRAMES = 6; // frames kept for the viewer; the rest only decoded

bool MakeClip(QString const& path, QString const& size, int frames)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                            QStringLiteral("testsrc2=s=%1:r=25").arg(size), "-frames:v", QString::number(frames),
                            "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "25", path});
    if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0)
    {
        std::fprintf(stderr, "ffmpeg failed: %s\n", ffmpeg.readAllStandardError().constData());
        return false;
    }
    return true;
}

struct Decoded
{
    QList<std::shared_ptr<VideoFrame>> kept;
    int frames = 0;
    double millisecondsPerFrame = 0.0;
};

// Decodes the whole clip forward in the latched rendering mode.
Decoded Decode(QString const& path)
{
    Decoded result;
    Source source(path, QString(), QUuid::createUuid());
    AvParser().Parse(&source, 0);
    VideoDecoder decoder(false);
    decoder.Initialize();
    QObject::connect(&decoder, &VideoDecoder::VideoFrameDecoded, [&result](std::shared_ptr<VideoFrame> const& frame) {
        if (!frame)
        {
            return;
        }
        ++result.frames;
        if (result.kept.size() < KEPT_FRAMES)
        {
            result.kept.append(frame);
        }
    });
    if (!decoder.OpenSource(&source, 0, 0))
    {
        return result;
    }
    decoder.SetDecodeForward(true);
    decoder.Seek(0);
    QElapsedTimer timer;
    timer.start();
    while (decoder.DecodeNext() != VideoDecoder::STATUS_END_REACHED)
    {
    }
    result.millisecondsPerFrame = timer.nsecsElapsed() / 1e6 / std::max(result.frames, 1);
    decoder.Shutdown();
    // The kept frames point at the source's stream records: the viewer copies
    // what it needs at hand-over, so the source may go.
    return result;
}

void Bench(OpenGLViewer& viewer, QString const& label, QString const& path, bool yuv, int iterations)
{
    Settings::hardwareRenderingEnabled = true;
    Settings::videoDecoderForceRgbOutput = !yuv;
    Settings::LatchHardwareRendering();
    Decoded const decoded = Decode(path);
    if (decoded.kept.isEmpty())
    {
        std::printf("  %-6s cannot decode %s\n", qPrintable(label), qPrintable(path));
        return;
    }
    QOpenGLFunctions* gl = viewer.context()->functions();
    auto const finish = [&viewer, gl] {
        viewer.makeCurrent();
        gl->glFinish();
        viewer.doneCurrent();
    };
    int painted = 0;
    QElapsedTimer paintTimer;
    double lastPaintMs = 0.0;
    // paintGL ends with PaintingFinished while its context is current: the
    // paint is timed from the request to glFinish there; putting the frame on
    // the window (composition and swap) comes after and is timed apart.
    QMetaObject::Connection const counting = QObject::connect(&viewer, &OpenGLViewer::PaintingFinished, [&] {
        gl->glFinish();
        lastPaintMs = paintTimer.nsecsElapsed() / 1e6;
        ++painted;
    });
    auto const paint = [&viewer, &painted, &paintTimer] {
        int const before = painted;
        paintTimer.start();
        viewer.update();
        while (painted == before)
        {
            // Sleeps until the paint (or anything else) is delivered.
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    };

    // Warm up: the first upload makes the textures.
    viewer.SetVideoFrame(0, decoded.kept.first());
    paint();
    finish();

    double uploadMs = 0.0;
    double paintMs = 0.0;
    double windowMs = 0.0;
    QElapsedTimer timer;
    for (int i = 0; i < iterations; ++i)
    {
        std::shared_ptr<VideoFrame> const& frame = decoded.kept.at(i % decoded.kept.size());
        timer.start();
        viewer.SetVideoFrame(0, frame);
        finish();
        uploadMs += timer.nsecsElapsed() / 1e6;
        timer.start();
        paint();
        finish();
        double const shownMs = timer.nsecsElapsed() / 1e6;
        paintMs += lastPaintMs;
        windowMs += shownMs - lastPaintMs;
    }
    QObject::disconnect(counting);
    uploadMs /= iterations;
    paintMs /= iterations;
    windowMs /= iterations;
    double const total = uploadMs + paintMs;
    std::printf("  %-6s %-8s decode %7.2f   upload %6.2f   paint %6.2f   upload+paint %6.2f ms/frame"
                " (%.2f x decode)   onto the window %6.2f\n",
                qPrintable(label), VideoFramePixelFormatName(decoded.kept.first()->pixelFormat),
                decoded.millisecondsPerFrame, uploadMs, paintMs, total, total / decoded.millisecondsPerFrame, windowMs);
}

} // namespace

int main(int argc, char* argv[])
{
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setSamples(10);
    format.setStencilBufferSize(8);
    format.setDepthBufferSize(0);
    format.setSwapInterval(0);
    QSurfaceFormat::setDefaultFormat(format);
    QApplication application(argc, argv);
    int const frames = argc > 1 ? std::max(QString::fromLocal8Bit(argv[1]).toInt(), 8) : 48;

    QTemporaryDir dir;
    QString const hd = dir.filePath("testsrc2_1080p.mp4");
    QString const uhd = dir.filePath("testsrc2_2160p.mp4");
    std::printf("Making %d-frame 1080p and 4K clips in %s ...\n", frames, qPrintable(dir.path()));
    if (!MakeClip(hd, "1920x1080", frames) || !MakeClip(uhd, "3840x2160", frames))
    {
        return 1;
    }

    OpenGLViewer viewer(nullptr, nullptr, nullptr, nullptr);
    viewer.resize(1280, 720);
    viewer.show();
    bool const shown = QTest::qWaitFor(
        [&] { return viewer.IsInitialized() && viewer.windowHandle() && viewer.windowHandle()->isExposed(); }, 5000);
    if (!shown && !viewer.IsInitialized())
    {
        std::fprintf(stderr, "The OpenGL viewer did not initialise (no OpenGL 3.3 core context?)\n");
        return 1;
    }
    std::printf("%s", qPrintable(Settings::rendererInfo));
    std::printf("Viewer 1280 x 720, %d frames decoded per clip, upload and paint over %d hand-overs of %d kept "
                "frames (%s decoder threads; 0 = automatic)\n",
                frames, frames, KEPT_FRAMES, qPrintable(QString::number(Settings::videoDecoderThreadCount)));
    Bench(viewer, "1080p", hd, true, frames);
    Bench(viewer, "1080p", hd, false, frames);
    Bench(viewer, "4K", uhd, true, frames);
    Bench(viewer, "4K", uhd, false, frames);
    return 0;
}
