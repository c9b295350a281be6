// TESSARIN_TEST: xvfb
#include "ViewerTestRig.h"

#include "app/Settings.h"
#include "media/AvParser.h"
#include "media/ImageSequenceDecoder.h"
#include "media/VideoDecoder.h"
#include "model/Source.h"
#include "support/TestMedia.h"
#include "viewer/OpenGLViewer.h"
#include "viewer/SoftwareViewer.h"

#include <QProcess>
#include <QtTest>

using namespace ViewerTestRig;

namespace
{
// The first frames of a file as the engine's decoder delivers them, in the
// rendering mode latched for the run. The source owns the stream records the
// frames point at.
struct Decoded
{
    Decoded(QString const& path, int count)
        : source(std::make_unique<Source>(path, QString(), QUuid::createUuid()))
    {
        AvParser().Parse(source.get(), 0);
        VideoDecoder decoder(false);
        decoder.Initialize();
        QObject::connect(&decoder, &VideoDecoder::VideoFrameDecoded, [this](std::shared_ptr<VideoFrame> const& frame) {
            if (frame)
            {
                frames.append(frame);
            }
        });
        if (decoder.OpenSource(source.get(), 0, 0))
        {
            decoder.SetDecodeForward(true);
            decoder.Seek(0);
            while (frames.size() < count && decoder.DecodeNext() != VideoDecoder::STATUS_END_REACHED)
            {
            }
        }
        decoder.Shutdown();
    }

    std::unique_ptr<Source> source;
    QList<std::shared_ptr<VideoFrame>> frames;
};

// The first picture of an image sequence as the engine's sequence decoder
// delivers it, in the rendering mode latched for the run, from the parsed
// source that owns its stream record.
struct DecodedStill
{
    explicit DecodedStill(QString const& pattern)
        : source(std::make_unique<Source>(pattern, QString(), QUuid::createUuid()))
    {
        AvParser().Parse(source.get(), 0);
        ImageSequenceDecoder decoder(false);
        decoder.Initialize(1);
        decoder.SetSource(source.get());
        QObject::connect(&decoder, &ImageSequenceDecoder::VideoFrameDecoded,
                         [this](std::shared_ptr<VideoFrame> const& decoded) { frame = decoded; });
        decoder.SetDecodeForward(true);
        decoder.Seek(0);
        while (!frame)
        {
            int const status = decoder.DecodeNext();
            if (status != ImageSequenceDecoder::STATUS_REQUESTED)
            {
                if (status == ImageSequenceDecoder::STATUS_END_REACHED && decoder.ActiveWorkerCount() == 0)
                {
                    break;
                }
                decoder.WaitForFinishedWork(1000);
            }
        }
        decoder.Shutdown();
    }

    std::unique_ptr<Source> source;
    std::shared_ptr<VideoFrame> frame;
};

// The four flat patches of linear_patches, clockwise from the top left, as
// linear levels, and as a display shows them: through a 1/2.2 curve.
QList<QColor> const LINEAR_PATCHES = {QColor(0x40, 0x40, 0x40), QColor(0x80, 0x20, 0x10), QColor(0xc0, 0xc0, 0xc0),
                                      QColor(0x10, 0xa0, 0x40)};

QColor DisplayedPatch(QColor const& linear)
{
    auto const curve = [](int level) { return int(std::lround(255.0 * std::pow(level / 255.0, 1.0 / 2.2))); };
    return QColor(curve(linear.red()), curve(linear.green()), curve(linear.blue()));
}

// The colours at the centres of the patches of a picture that fills the image.
QList<QColor> PatchCentres(QImage const& image)
{
    int const w = image.width();
    int const h = image.height();
    return {image.pixelColor(w / 4, h / 4), image.pixelColor(3 * w / 4, h / 4), image.pixelColor(3 * w / 4, 3 * h / 4),
            image.pixelColor(w / 4, 3 * h / 4)};
}

void LatchRendering(bool hardware)
{
    Settings::hardwareRenderingEnabled = hardware;
    Settings::LatchHardwareRendering();
}

// The frame number the numbered pictures carry: 16 blocks of 20 x 32 pixels
// along the top, block i white when bit i is set. pictureSize is the file's,
// and the picture fills the capture.
int ReadFrameNumber(QImage const& capture, QSize pictureSize)
{
    double const scaleX = double(capture.width()) / pictureSize.width();
    double const scaleY = double(capture.height()) / pictureSize.height();
    int number = 0;
    for (int bit = 0; bit < 16; ++bit)
    {
        QPoint const centre(int((20 * bit + 10) * scaleX), int(16 * scaleY));
        if (qGray(capture.pixel(centre)) > 128)
        {
            number |= 1 << bit;
        }
    }
    return number;
}

// The first picture of a file as ffmpeg shows it, turned by its rotation tag.
QImage FfmpegFirstFrame(QString const& path)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-frames:v", "1", "-f", "image2pipe", "-c:v",
                            "png", "-"});
    ffmpeg.waitForFinished(-1);
    QImage image = QImage::fromData(ffmpeg.readAllStandardOutput(), "PNG");
    return image.convertToFormat(QImage::Format_RGB888);
}

// Mean difference per channel between two images of one size.
double MeanDifference(QImage const& a, QImage const& b)
{
    QImage const x = a.convertToFormat(QImage::Format_RGB888);
    QImage const y = b.convertToFormat(QImage::Format_RGB888);
    if (x.size() != y.size())
    {
        return 255.0;
    }
    double sum = 0.0;
    for (int row = 0; row < x.height(); ++row)
    {
        uchar const* p = x.constScanLine(row);
        uchar const* q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 3; ++i)
        {
            sum += std::abs(int(p[i]) - int(q[i]));
        }
    }
    return sum / (x.width() * x.height() * 3.0);
}
} // namespace

class TestViewerDecoded : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanupTestCase();
    void NumberedFramesShowTheirNumber_data();
    void NumberedFramesShowTheirNumber();
    void RotationTagShowsLikeFfmpeg_data();
    void RotationTagShowsLikeFfmpeg();
    void LatchedModeOutlivesASettingChange();
    void FreeingTheSourceUnderAShownFrame();
    void LinearStillLooksTheSameInBothViewers_data();
    void LinearStillLooksTheSameInBothViewers();
};

void TestViewerDecoded::init()
{
    LatchRendering(true);
}

void TestViewerDecoded::cleanupTestCase()
{
    LatchRendering(true);
}

void TestViewerDecoded::NumberedFramesShowTheirNumber_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<bool>("hardware");
    QTest::addColumn<bool>("software");
    QTest::newRow("H.264 as YUV420P, OpenGL") << "numbered_gop250.mp4" << QSize(320, 240) << true << false;
    QTest::newRow("H.264 as RGB24, both") << "numbered_gop250.mp4" << QSize(320, 240) << false << true;
    QTest::newRow("odd 333x241 as YUV420P, OpenGL") << "numbered_odd_333x241.mkv" << QSize(333, 241) << true << false;
    QTest::newRow("odd 333x241 as RGB24, both") << "numbered_odd_333x241.mkv" << QSize(333, 241) << false << true;
    QTest::newRow("RGBA, both") << "numbered_rgba.mov" << QSize(320, 240) << true << true;
}

void TestViewerDecoded::NumberedFramesShowTheirNumber()
{
    QFETCH(QString, file);
    QFETCH(QSize, pictureSize);
    QFETCH(bool, hardware);
    QFETCH(bool, software);
    LatchRendering(hardware);
    Decoded decoded(TestMedia::Path(file), 12);
    QCOMPARE(decoded.frames.size(), 12);
    VideoFramePixelFormat const expected = file.endsWith(QLatin1String(".mov"))
                                               ? VideoFramePixelFormat::RGBA
                                               : (hardware ? VideoFramePixelFormat::YUV420P : VideoFramePixelFormat::RGB24);
    QCOMPARE(decoded.frames.first()->pixelFormat, expected);

    QSize const viewerSize = pictureSize * 2;
    OpenGLViewer gl(nullptr, nullptr, nullptr, nullptr);
    gl.resize(viewerSize);
    gl.show();
    QVERIFY(QTest::qWaitForWindowExposed(&gl));
    SoftwareViewer sw;
    sw.resize(viewerSize);
    if (software)
    {
        sw.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sw));
    }
    for (int i = 0; i < decoded.frames.size(); ++i)
    {
        gl.SetVideoFrame(0, decoded.frames.at(i));
        QCOMPARE(ReadFrameNumber(gl.grabFramebuffer(), pictureSize), i);
        if (software)
        {
            sw.SetVideoFrame(0, decoded.frames.at(i));
            QCOMPARE(ReadFrameNumber(sw.CaptureImage(), pictureSize), i);
        }
    }
}

void TestViewerDecoded::RotationTagShowsLikeFfmpeg_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("hardware");
    for (QString const file : {"rotated90.mp4", "rotated270.mp4", "rotated180.mp4"})
    {
        QTest::addRow("%s YUV420P", qPrintable(file)) << file << true;
        QTest::addRow("%s RGB24", qPrintable(file)) << file << false;
    }
}

// Both viewers turn the picture as ffmpeg's autorotation does, and no other
// way round: the wrong turn and a mirror differ by far more.
void TestViewerDecoded::RotationTagShowsLikeFfmpeg()
{
    QFETCH(QString, file);
    QFETCH(bool, hardware);
    QString const path = TestMedia::Path(file);
    QImage const reference = FfmpegFirstFrame(path);
    QVERIFY2(!reference.isNull(), "ffmpeg extracts the first frame");
    LatchRendering(hardware);
    Decoded decoded(path, 1);
    QCOMPARE(decoded.frames.size(), 1);

    QSize const viewerSize = reference.size() * 2;
    OpenGLViewer gl(nullptr, nullptr, nullptr, nullptr);
    SoftwareViewer sw;
    QList<QPair<char const*, ViewerBase*>> viewers = {{"OpenGL", &gl}};
    if (!hardware)
    {
        viewers.append({"software", &sw});
    }
    for (auto const& [name, viewer] : viewers)
    {
        QWidget* widget = dynamic_cast<QWidget*>(viewer);
        widget->resize(viewerSize);
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget));
        viewer->SetVideoFrame(0, decoded.frames.first());
        QImage const shown =
            viewer->CaptureImage().scaled(reference.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        double const difference = MeanDifference(shown, reference);
        double const mirrored = MeanDifference(shown.mirrored(true, false), reference);
        double const upsideDown = MeanDifference(shown.mirrored(true, true), reference);
        QVERIFY2(difference < 6.0 && mirrored > 3 * difference && upsideDown > 3 * difference,
                 qPrintable(QStringLiteral("%1: mean difference %2 (mirrored %3, turned over %4)")
                                .arg(name)
                                .arg(difference)
                                .arg(mirrored)
                                .arg(upsideDown)));
    }
}

// The preferences change only the stored value: the run keeps the mode it
// started with, and so does every decoder opened afterwards.
void TestViewerDecoded::LatchedModeOutlivesASettingChange()
{
    QString const path = TestMedia::Path("numbered_gop250.mp4");
    LatchRendering(true);
    Settings::hardwareRenderingEnabled = false;
    QVERIFY(Settings::HardwareRenderingInUse());
    Decoded yuv(path, 1);
    QCOMPARE(yuv.frames.size(), 1);
    QCOMPARE(yuv.frames.first()->pixelFormat, VideoFramePixelFormat::YUV420P);

    LatchRendering(false);
    Settings::hardwareRenderingEnabled = true;
    QVERIFY(!Settings::HardwareRenderingInUse());
    Decoded rgb(path, 1);
    QCOMPARE(rgb.frames.size(), 1);
    QCOMPARE(rgb.frames.first()->pixelFormat, VideoFramePixelFormat::RGB24);
}

void TestViewerDecoded::FreeingTheSourceUnderAShownFrame()
{
    LatchRendering(true);
    Decoded decoded(TestMedia::Path("rotated90.mp4"), 1);
    QCOMPARE(decoded.frames.size(), 1);
    OpenGLViewer gl(nullptr, nullptr, nullptr, nullptr);
    gl.resize(180, 320);
    gl.show();
    QVERIFY(QTest::qWaitForWindowExposed(&gl));
    SoftwareViewer sw;
    sw.resize(180, 320);
    gl.SetVideoFrame(0, decoded.frames.first());
    sw.SetVideoFrame(0, decoded.frames.first());
    QImage const before = gl.grabFramebuffer();
    // A refresh or replace of the source frees its stream records.
    decoded.source.reset();
    gl.RotateClockwise();
    gl.RotateCounterClockwise();
    sw.SetVerticalFlipEnabled(true);
    sw.UpdateViewerLayout();
    int width = 0;
    int height = 0;
    gl.VideoWidthHeight(0, width, height);
    QCOMPARE(QSize(width, height), QSize(180, 320));
    QCOMPARE(gl.grabFramebuffer(), before);
    sw.CaptureImage();
}

void TestViewerDecoded::LinearStillLooksTheSameInBothViewers_data()
{
    QTest::addColumn<QString>("pattern");
    // EXR holds linear light though its decoder tags no transfer; this DPX
    // is tagged linear, though its extension says nothing.
    QTest::addRow("EXR") << "linear_patches/patches.####.exr 1-1";
    QTest::addRow("DPX") << "linear_patches/patches.####.dpx 1-1";
}

// Each viewer in its own rendering mode shows a linear picture through the
// same 1/2.2 curve.
void TestViewerDecoded::LinearStillLooksTheSameInBothViewers()
{
    QFETCH(QString, pattern);
    QList<QColor> shown[2];
    for (bool const hardware : {true, false})
    {
        LatchRendering(hardware);
        DecodedStill decoded(TestMedia::Path(pattern));
        QVERIFY(decoded.frame);
        QCOMPARE(decoded.frame->planes[0].size(), QSize(320, 240));
        OpenGLViewer gl(nullptr, nullptr, nullptr, nullptr);
        SoftwareViewer sw;
        QWidget* widget = hardware ? static_cast<QWidget*>(&gl) : static_cast<QWidget*>(&sw);
        widget->resize(640, 480);
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget));
        QImage capture;
        if (hardware)
        {
            gl.SetVideoFrame(0, decoded.frame);
            capture = gl.grabFramebuffer();
        }
        else
        {
            sw.SetVideoFrame(0, decoded.frame);
            capture = sw.CaptureImage();
        }
        shown[hardware ? 0 : 1] = PatchCentres(capture);
    }
    for (int patch = 0; patch < LINEAR_PATCHES.size(); ++patch)
    {
        QColor const expected = DisplayedPatch(LINEAR_PATCHES.at(patch));
        for (int viewer = 0; viewer < 2; ++viewer)
        {
            QColor const got = shown[viewer].at(patch);
            QVERIFY2(Near(got, expected, 3), qPrintable(QStringLiteral("patch %1 in the %2 viewer: %3, expected %4")
                                                            .arg(patch)
                                                            .arg(viewer == 0 ? "OpenGL" : "software")
                                                            .arg(Describe(got), Describe(expected))));
        }
        QVERIFY(Near(shown[0].at(patch), shown[1].at(patch), 2));
    }
}

int main(int argc, char* argv[])
{
    ViewerTestRig::SetDefaultSurfaceFormat();
    QApplication application(argc, argv);
    TestViewerDecoded test;
    int const status = QTest::qExec(&test, argc, argv);
    ViewerTestRig::KeepOpenGLDriverLoaded();
    return status;
}

#include "tst_viewerdecoded.moc"
