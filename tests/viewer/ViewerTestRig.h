#pragma once

#include "support/TestMedia.h"
#include "support/TimingBounds.h"

#include "app/Settings.h"
#include "media/VideoFrame.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "model/VideoStreamInfo.h"
#include "viewer/OpenGLViewer.h"
#include "viewer/ViewerWidget.h"

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QSurfaceFormat>
#include <QTest>
#include <QUuid>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

// Synthetic frames for the viewer tests: four flat quadrants of known colours,
// with a magenta sentinel in every padding column, in any pixel format.
namespace ViewerTestRig
{

struct Yuv
{
    int y;
    int u;
    int v;
};

// Limited-range YUV to RGB with the textbook matrices: the colour a viewer
// must show for a flat patch.
inline QColor YuvToRgb(Yuv c, bool rec709)
{
    double const y = (c.y - 16) * 255.0 / 219.0;
    double const u = (c.u - 128) * 255.0 / 224.0;
    double const v = (c.v - 128) * 255.0 / 224.0;
    double const r = rec709 ? y + 1.5748 * v : y + 1.402 * v;
    double const g = rec709 ? y - 0.1873 * u - 0.4681 * v : y - 0.344136 * u - 0.714136 * v;
    double const b = rec709 ? y + 1.8556 * u : y + 1.772 * u;
    auto const byte = [](double value) { return std::clamp(static_cast<int>(std::lround(value)), 0, 255); };
    return QColor(byte(r), byte(g), byte(b));
}

// Top-left red, top-right green, bottom-left blue, bottom-right yellow.
inline constexpr Yuv QUADRANTS[4] = {{81, 90, 240}, {145, 54, 34}, {41, 240, 110}, {210, 16, 146}};
inline constexpr Yuv MAGENTA = {106, 202, 222};

inline bool LooksLikeSentinel(QColor const& c)
{
    return c.red() > 190 && c.green() < 80 && c.blue() > 190;
}

inline bool Near(QColor const& a, QColor const& b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

inline QString Describe(QColor const& c)
{
    return QStringLiteral("(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

inline std::unique_ptr<VideoStreamInfo> MakeStream(int width, int height, int rotation = 0, float pixelAspect = 1.0f,
                                                   bool rec709 = false)
{
    auto stream = std::make_unique<VideoStreamInfo>();
    stream->width = width;
    stream->height = height;
    stream->rotation = rotation;
    stream->sampleAspectRatio = pixelAspect;
    stream->displayAspectRatio = width * pixelAspect / height;
    stream->isYuv = true;
    stream->isBt709 = rec709;
    stream->frameStep = 40000.0;
    stream->parsed = true;
    return stream;
}

// The split between the quadrants: half the size, rounded down to an even
// number so that 4:2:0 chroma never straddles it.
inline int Split(int size)
{
    return size / 2 / 2 * 2;
}

// Quadrant 0..3 (TL, TR, BL, BR) of a picture position.
inline int QuadrantAt(int x, int y, int width, int height)
{
    return (x >= Split(width) ? 1 : 0) + (y >= Split(height) ? 2 : 0);
}

// The centre of a quadrant in normalised picture coordinates.
inline QPointF QuadrantCentre(int quadrant, int width, int height)
{
    int const sx = Split(width);
    int const sy = Split(height);
    double const x = quadrant % 2 == 0 ? sx / 2.0 : (sx + width) / 2.0;
    double const y = quadrant < 2 ? sy / 2.0 : (sy + height) / 2.0;
    return QPointF(x / width, y / height);
}

// A frame of width x height with padPixels sentinel columns after each line.
// RGB formats carry the colours the YUV quadrants convert to in BT.601.
inline std::shared_ptr<VideoFrame> QuadrantFrame(VideoFramePixelFormat format, int width, int height, int padPixels,
                                                 VideoStreamInfo* stream, Yuv const* quadrants = QUADRANTS)
{
    if (format == VideoFramePixelFormat::YUV420P)
    {
        int const chromaWidth = (width + 1) / 2;
        int const chromaHeight = (height + 1) / 2;
        int const lineSizes[3] = {width + padPixels, chromaWidth + (padPixels + 1) / 2,
                                  chromaWidth + (padPixels + 1) / 2};
        std::vector<uint8_t> y(static_cast<size_t>(lineSizes[0]) * height, MAGENTA.y);
        std::vector<uint8_t> u(static_cast<size_t>(lineSizes[1]) * chromaHeight, MAGENTA.u);
        std::vector<uint8_t> v(static_cast<size_t>(lineSizes[2]) * chromaHeight, MAGENTA.v);
        for (int row = 0; row < height; ++row)
        {
            for (int column = 0; column < width; ++column)
            {
                y[static_cast<size_t>(row) * lineSizes[0] + column] =
                    quadrants[QuadrantAt(column, row, width, height)].y;
            }
        }
        for (int row = 0; row < chromaHeight; ++row)
        {
            for (int column = 0; column < chromaWidth; ++column)
            {
                Yuv const& c = quadrants[QuadrantAt(column * 2, row * 2, width, height)];
                u[static_cast<size_t>(row) * lineSizes[1] + column] = c.u;
                v[static_cast<size_t>(row) * lineSizes[2] + column] = c.v;
            }
        }
        uint8_t const* planes[3] = {y.data(), u.data(), v.data()};
        return std::make_shared<VideoFrame>(planes, lineSizes, width, height, format, 0, stream, false);
    }
    int const bytesPerPixel = format == VideoFramePixelFormat::RGBA ? 4 : 3;
    int const lineSizes[3] = {(width + padPixels) * bytesPerPixel, 0, 0};
    std::vector<uint8_t> bytes(static_cast<size_t>(lineSizes[0]) * height);
    for (int row = 0; row < height; ++row)
    {
        for (int column = 0; column < width + padPixels; ++column)
        {
            QColor const c = column < width ? YuvToRgb(quadrants[QuadrantAt(column, row, width, height)], false)
                                            : QColor(255, 0, 255);
            uint8_t* pixel = bytes.data() + static_cast<size_t>(row) * lineSizes[0] + column * bytesPerPixel;
            pixel[0] = c.red();
            pixel[1] = c.green();
            pixel[2] = c.blue();
            if (bytesPerPixel == 4)
            {
                pixel[3] = 255;
            }
        }
    }
    uint8_t const* planes[3] = {bytes.data(), nullptr, nullptr};
    return std::make_shared<VideoFrame>(planes, lineSizes, width, height, format, 0, stream, false);
}

// One flat colour, given as YUV (converted for RGB formats).
inline std::shared_ptr<VideoFrame> FlatFrame(VideoFramePixelFormat format, int width, int height, Yuv colour,
                                             VideoStreamInfo* stream)
{
    Yuv const quadrants[4] = {colour, colour, colour, colour};
    return QuadrantFrame(format, width, height, 0, stream, quadrants);
}

// Where a point of the picture (normalised) lands in a single viewport of
// viewerSize: flipped as the stream stores it, turned clockwise by the
// relative rotation and fitted to the viewport by its display aspect.
inline QPointF ScreenPosition(QPointF point, QSize viewerSize, double displayAspect, int viewerRotation,
                              int streamRotation, bool horizontalFlip, bool verticalFlip)
{
    int const stream = ((streamRotation % 360) + 360) % 360;
    if (stream == 90 || stream == 270)
    {
        std::swap(horizontalFlip, verticalFlip);
    }
    double x = horizontalFlip ? 1.0 - point.x() : point.x();
    double y = verticalFlip ? 1.0 - point.y() : point.y();
    int const relative = ((viewerRotation - stream) % 360 + 360) % 360;
    for (int turn = 0; turn < relative / 90; ++turn)
    {
        double const turnedX = 1.0 - y;
        y = x;
        x = turnedX;
    }
    double const aspect = relative == 90 || relative == 270 ? 1.0 / displayAspect : displayAspect;
    double const w = viewerSize.width();
    double const h = viewerSize.height();
    double rectX = 0.0;
    double rectY = 0.0;
    double rectW = w;
    double rectH = h;
    if (w / h > aspect)
    {
        rectW = aspect * h;
        rectX = (w - rectW) / 2.0;
    }
    else
    {
        rectH = w / aspect;
        rectY = (h - rectH) / 2.0;
    }
    return QPointF(rectX + x * rectW, rectY + y * rectH);
}

// The application's default format (the viewer asks for its own samples),
// without waiting for the screen's refresh.
inline void SetDefaultSurfaceFormat()
{
    Settings::vSyncEnabled = false;
    QSurfaceFormat::setDefaultFormat(OpenGLViewer::WindowSurfaceFormat());
}

// Keeps the OpenGL driver's libraries mapped until the process ends. The
// driver frees its memory with its display, which outlives the test; once the
// libraries are unloaded at exit, what they still hold reads as leaked.
inline void KeepOpenGLDriverLoaded()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
    {
        return;
    }
    QStringList loaded;
    for (QByteArray const& line : maps.readAll().split('\n'))
    {
        int const slash = line.indexOf('/');
        QString const path = slash >= 0 ? QString::fromLocal8Bit(line.mid(slash)) : QString();
        bool const driver = path.contains(QLatin1String("/dri/")) || path.contains(QLatin1String("libgallium")) ||
                            path.contains(QLatin1String("libGLX_mesa")) || path.contains(QLatin1String("libLLVM"));
        if (driver && !loaded.contains(path))
        {
            loaded << path;
            dlopen(path.toLocal8Bit().constData(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        }
    }
}

// ---- The numbered clip on screen ----

// The numbered clip's picture size; it carries its frame number as 16 blocks
// of 20 pixels along its top edge, block i white for bit i.
inline constexpr int NUMBERED_WIDTH = 320;
inline constexpr int NUMBERED_HEIGHT = 240;

// The numbered clip's picture fitted into size and centred.
inline QRectF FittedRect(QSize size)
{
    double const aspect = double(NUMBERED_WIDTH) / NUMBERED_HEIGHT;
    double w = size.width();
    double h = size.height();
    if (w / h > aspect)
    {
        w = h * aspect;
    }
    else
    {
        h = w / aspect;
    }
    return QRectF((size.width() - w) / 2.0, (size.height() - h) / 2.0, w, h);
}

// A point of the numbered clip (in its pixels) on screen, the picture being
// fitted to the view, then zoomed about the pan position offset.
inline QPoint NumberedClipPoint(QPointF videoPoint, QSize view, float zoom = 1.0f, QPoint offset = QPoint())
{
    QRectF const fit = FittedRect(view);
    QPointF const p(fit.x() + videoPoint.x() * fit.width() / NUMBERED_WIDTH,
                    fit.y() + videoPoint.y() * fit.height() / NUMBERED_HEIGHT);
    return QPoint(int(std::floor(offset.x() + p.x() * zoom)), int(std::floor(offset.y() + p.y() * zoom)));
}

// Where bit i of the number lies on screen.
inline QPoint NumberBitPoint(int bit, QSize view, float zoom = 1.0f, QPoint offset = QPoint())
{
    return NumberedClipPoint(QPointF(bit * 20 + 10, 16), view, zoom, offset);
}

// The number an unzoomed capture of the numbered clip shows; -1 when a block
// is out of view.
inline int ReadNumber(QImage const& image)
{
    if (image.isNull())
    {
        return -1;
    }
    int number = 0;
    for (int bit = 0; bit < 16; ++bit)
    {
        QPoint const p = NumberBitPoint(bit, image.size());
        if (!image.rect().contains(p))
        {
            return -1;
        }
        if (qGray(image.pixel(p)) > 128)
        {
            number |= 1 << bit;
        }
    }
    return number;
}

// A new project holding the numbered clip (72 frames), its first frame in the
// viewer; false, with the reason logged, when that does not come about.
inline bool OpenNumberedClip(ProjectManager* projectManager, ViewerWidget* viewer)
{
    projectManager->NewProject(true);
    QString const path = TestMedia::Path(QStringLiteral("numbered_24fps.mp4"));
    if (!QFile::exists(path))
    {
        qWarning() << "no test clip" << path;
        return false;
    }
    projectManager->ImportFilesByPath({path}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1, true);
    if (!QTest::qWaitFor([&] { return viewer->PrimaryTimeline() && viewer->PrimaryTimeline()->ClipCount() > 0; },
                         TimingBounds::CONDITION_WAIT_MS))
    {
        qWarning() << "the clip never reached the viewer";
        return false;
    }
    if (int const frames = viewer->PrimaryTimeline()->FrameCount(); frames != 72)
    {
        qWarning() << "the clip has" << frames << "frames, not 72";
        return false;
    }
    if (!QTest::qWaitFor([&] { return viewer->FrameInSlot(0, 3) != nullptr; }, TimingBounds::CONDITION_WAIT_MS))
    {
        qWarning() << "the viewer never showed a frame of the clip";
        return false;
    }
    return true;
}

// ---- Running a test ----

// Whether this run is the OpenGL one: TESSARIN_TEST_HARDWARE_RENDERING=1.
inline bool HardwareRenderingRequested()
{
    return qEnvironmentVariableIntValue("TESSARIN_TEST_HARDWARE_RENDERING") == 1;
}

// Runs the test object in the rendering mode given, latched as the player
// latches it at start-up; in the OpenGL mode with the player's context format
// and the driver kept to the end.
template <typename Test>
int ExecInRenderingMode(int argc, char** argv, bool hardware)
{
    if (hardware)
    {
        SetDefaultSurfaceFormat();
    }
    // These tests play no sound: with no audio server to reach, the sound
    // system's client threads never start, and cannot abort as the process
    // ends (they did, once in many runs, inside the sound library's teardown).
    qputenv("PULSE_SERVER", "unix:/nonexistent/tessarin-no-audio-server");
    QApplication application(argc, argv);
    Settings::hardwareRenderingEnabled = hardware;
    Settings::LatchHardwareRendering();
    qInfo() << "rendering mode:" << (hardware ? "OpenGL" : "software");
    Test test;
    int const status = QTest::qExec(&test, argc, argv);
    if (hardware)
    {
        KeepOpenGLDriverLoaded();
    }
    return status;
}

} // namespace ViewerTestRig
