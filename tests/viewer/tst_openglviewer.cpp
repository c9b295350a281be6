// TESSARIN_TEST: xvfb
#include "ViewerTestRig.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "viewer/OpenGLViewer.h"
#include "viewer/OpenGLViewportOutput.h"
#include "viewer/SoftwareViewer.h"

#include <QtTest>

using namespace ViewerTestRig;

namespace
{
// Both viewers side by side, shown, of one size.
struct ViewerPair
{
    explicit ViewerPair(QSize size)
        : gl(nullptr, nullptr, nullptr, nullptr)
    {
        gl.resize(size);
        software.resize(size);
        gl.show();
        software.show();
    }

    bool Exposed() { return QTest::qWaitForWindowExposed(&gl) && QTest::qWaitForWindowExposed(&software); }

    void SetFrame(int index, std::shared_ptr<VideoFrame> const& frame)
    {
        gl.SetVideoFrame(index, frame);
        software.SetVideoFrame(index, frame);
    }

    void SetOrientation(int rotation, bool horizontal, bool vertical)
    {
        for (ViewerBase* viewer : {static_cast<ViewerBase*>(&gl), static_cast<ViewerBase*>(&software)})
        {
            viewer->ResetFlipAndRotate();
            for (int angle = 0; angle < rotation; angle += 90)
            {
                viewer->RotateClockwise();
            }
            viewer->SetHorizontalFlipEnabled(horizontal);
            viewer->SetVerticalFlipEnabled(vertical);
        }
    }

    OpenGLViewer gl;
    SoftwareViewer software;
};
} // namespace

class TestOpenGLViewer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void InitialisesWithTheRequestedContext();
    void MatchesTheSoftwareViewerEverywhere();
    void ConvertsYuvWithTheStreamMatrix_data();
    void ConvertsYuvWithTheStreamMatrix();
    void FitsTheQuadToTheCell();
    void AOverBBlendsAndWipeCutsThroughTheStencil();
    void KeepsAFrameHandedOverBeforeTheFirstShow();
    void NullFrameClearsTheViewport();
    void FreedStreamRecordIsNeverRead();
    void MissingShaderLeavesTheViewerUninitialised();
};

void TestOpenGLViewer::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "runs on an X server with OpenGL");
}

void TestOpenGLViewer::InitialisesWithTheRequestedContext()
{
    Settings::rendererInfo.clear();
    OpenGLViewer viewer(nullptr, nullptr, nullptr, nullptr);
    QSignalSpy layouts(&viewer, &OpenGLViewer::ViewerLayoutChanged);
    viewer.resize(320, 180);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QTRY_VERIFY(viewer.IsInitialized());
    QSurfaceFormat const format = viewer.context()->format();
    QVERIFY(format.majorVersion() > 3 || (format.majorVersion() == 3 && format.minorVersion() >= 3));
    QCOMPARE(format.profile(), QSurfaceFormat::CoreProfile);
    QVERIFY(format.stencilBufferSize() >= 8);
    QVERIFY(Settings::rendererInfo.startsWith(QLatin1String("OpenGL Renderer: ")));
    QVERIFY(!layouts.isEmpty());
    // No bars are given: no band is reserved and the capture is the whole frame.
    QCOMPARE(viewer.TimeControlHeight(), 0);
    QCOMPARE(viewer.ViewerSize(), QSize(320, 180));
    QCOMPARE(viewer.CaptureImage().size(), viewer.CaptureFullImage().size());
    QVERIFY(!viewer.GlobalTimeControlContains(QPoint(10, 170)));
    QVERIFY(viewer.testAttribute(Qt::WA_TransparentForMouseEvents));

    // Annotations follow the zoom in multi-view layouts only.
    viewer.SetPanAndZoom(QPointF(0.1, 0.1), 1.0001f);
    QVERIFY(viewer.CanPaintAnnotations());
    viewer.SetViewerLayout(ViewerLayoutType::Grid);
    QVERIFY(!viewer.CanPaintAnnotations());
    viewer.SetPanAndZoom(QPointF(), 1.0f);
    QVERIFY(viewer.CanPaintAnnotations());
}

// The quadrant-centre pixels of both viewers agree, and each quadrant lands
// where turning and flipping the picture puts it, for every format, size,
// stream rotation, pixel aspect, viewer rotation and flip; the padding
// sentinel never shows.
void TestOpenGLViewer::MatchesTheSoftwareViewerEverywhere()
{
    QSize const viewerSize(240, 240);
    ViewerPair viewers(viewerSize);
    QVERIFY(viewers.Exposed());
    QTRY_VERIFY(viewers.gl.IsInitialized());

    QStringList failures;
    int checked = 0;
    struct Picture
    {
        QSize size;
        int padding;
    };
    for (Picture const picture : {Picture {QSize(64, 48), 12}, Picture {QSize(63, 45), 5}})
    {
        for (VideoFramePixelFormat format :
             {VideoFramePixelFormat::RGB24, VideoFramePixelFormat::RGBA, VideoFramePixelFormat::YUV420P})
        {
            for (int streamRotation : {0, 90, 180, 270, -90, -180})
            {
                for (float pixelAspect : {1.0f, 2.0f})
                {
                    int const w = picture.size.width();
                    int const h = picture.size.height();
                    auto stream = MakeStream(w, h, streamRotation, pixelAspect);
                    viewers.SetFrame(0, QuadrantFrame(format, w, h, picture.padding, stream.get()));
                    for (int state = 0; state < 16; ++state)
                    {
                        int const rotation = (state / 4) * 90;
                        bool const horizontal = state & 1;
                        bool const vertical = state & 2;
                        viewers.SetOrientation(rotation, horizontal, vertical);
                        QImage const gl = viewers.gl.grabFramebuffer();
                        QImage const software = viewers.software.CaptureImage();
                        QString const label = QStringLiteral("%1 %2x%3 stream %4 aspect %5 viewer %6 h%7 v%8")
                                                  .arg(VideoFramePixelFormatName(format))
                                                  .arg(w)
                                                  .arg(h)
                                                  .arg(streamRotation)
                                                  .arg(pixelAspect)
                                                  .arg(rotation)
                                                  .arg(horizontal)
                                                  .arg(vertical);
                        for (int quadrant = 0; quadrant < 4; ++quadrant)
                        {
                            QPoint const point = ScreenPosition(QuadrantCentre(quadrant, w, h), viewerSize,
                                                                double(w) * pixelAspect / h, rotation,
                                                                streamRotation, horizontal, vertical)
                                                     .toPoint();
                            QColor const fromGl = gl.pixelColor(point);
                            QColor const fromSoftware = software.pixelColor(point);
                            QColor const expected = YuvToRgb(QUADRANTS[quadrant], false);
                            ++checked;
                            if (!Near(fromGl, fromSoftware, 8) || !Near(fromGl, expected, 8))
                            {
                                failures << QStringLiteral("%1: quadrant %2 at (%3, %4): OpenGL %5, software %6, "
                                                           "expected %7")
                                                .arg(label)
                                                .arg(quadrant)
                                                .arg(point.x())
                                                .arg(point.y())
                                                .arg(Describe(fromGl), Describe(fromSoftware), Describe(expected));
                            }
                        }
                        for (int y = 0; y < gl.height(); y += 2)
                        {
                            for (int x = 0; x < gl.width(); ++x)
                            {
                                if (LooksLikeSentinel(gl.pixelColor(x, y)))
                                {
                                    failures << QStringLiteral("%1: padding shows at (%2, %3)").arg(label).arg(x).arg(y);
                                    y = gl.height();
                                    break;
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("%1 of %2 checks failed, first:\n%3")
                                               .arg(failures.size())
                                               .arg(checked)
                                               .arg(failures.mid(0, 8).join('\n'))));
    QCOMPARE(checked, 2 * 3 * 6 * 2 * 16 * 4);
}

void TestOpenGLViewer::ConvertsYuvWithTheStreamMatrix_data()
{
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("u");
    QTest::addColumn<int>("v");
    QTest::addColumn<bool>("rec709");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("white Y 235") << 235 << 128 << 128 << false << QColor(255, 255, 255);
    QTest::newRow("black Y 16") << 16 << 128 << 128 << false << QColor(0, 0, 0);
    QTest::newRow("BT.601 red") << 81 << 90 << 240 << false << QColor(255, 0, 0);
    QTest::newRow("BT.709 red") << 63 << 102 << 240 << true << QColor(255, 0, 0);
    QTest::newRow("BT.709 white") << 235 << 128 << 128 << true << QColor(255, 255, 255);
    // BT.709 red read as BT.601 is not red: the matrix matters.
    QTest::newRow("BT.709 red as BT.601") << 63 << 102 << 240 << false << YuvToRgb({63, 102, 240}, false);
}

void TestOpenGLViewer::ConvertsYuvWithTheStreamMatrix()
{
    QFETCH(int, y);
    QFETCH(int, u);
    QFETCH(int, v);
    QFETCH(bool, rec709);
    QFETCH(QColor, expected);
    OpenGLViewer viewer(nullptr, nullptr, nullptr, nullptr);
    viewer.resize(64, 64);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    auto stream = MakeStream(32, 32, 0, 1.0f, rec709);
    viewer.SetVideoFrame(0, FlatFrame(VideoFramePixelFormat::YUV420P, 32, 32, {y, u, v}, stream.get()));
    QColor const seen = viewer.grabFramebuffer().pixelColor(32, 32);
    QVERIFY2(Near(seen, expected, 3), qPrintable(Describe(seen) + " expected " + Describe(expected)));
}

void TestOpenGLViewer::FitsTheQuadToTheCell()
{
    OpenGLViewer viewer(nullptr, nullptr, nullptr, nullptr);
    viewer.resize(400, 400);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QSignalSpy sizes(&viewer, &OpenGLViewer::ViewportImageDisplaySizeChanged);
    auto stream = MakeStream(192, 108);
    viewer.SetVideoFrame(0, FlatFrame(VideoFramePixelFormat::RGB24, 192, 108, {235, 128, 128}, stream.get()));
    QImage image = viewer.grabFramebuffer();
    QCOMPARE(viewer.PrimaryVideoDisplayWidth(), 400);
    QCOMPARE(viewer.PrimaryVideoDisplayHeight(), 225);
    QVERIFY(!sizes.isEmpty());
    QCOMPARE(sizes.last().at(0).toFloat(), 400.0f);
    QCOMPARE(sizes.last().at(1).toFloat(), 225.0f);
    // Centred vertically: 87.5 pixels of background above and below.
    QCOMPARE(image.pixelColor(200, 80), QColor(Qt::black));
    QCOMPARE(image.pixelColor(200, 95), QColor(Qt::white));
    QCOMPARE(image.pixelColor(200, 320), QColor(Qt::black));

    // Turned a quarter: 225 wide, centred horizontally.
    viewer.RotateClockwise();
    image = viewer.grabFramebuffer();
    QCOMPARE(viewer.PrimaryVideoDisplayWidth(), 225);
    QCOMPARE(viewer.PrimaryVideoDisplayHeight(), 400);
    QCOMPARE(image.pixelColor(80, 200), QColor(Qt::black));
    QCOMPARE(image.pixelColor(95, 200), QColor(Qt::white));

    // A display aspect of 0 or less falls back to the coded size and pixel
    // aspect; without a stream record the picture's own size counts.
    viewer.ResetFlipAndRotate();
    for (float const badAspect : {0.0f, -1.0f, std::nanf("")})
    {
        auto square = MakeStream(100, 100, 0, 2.0f);
        square->displayAspectRatio = badAspect;
        viewer.SetVideoFrame(0, FlatFrame(VideoFramePixelFormat::RGB24, 100, 100, {235, 128, 128}, square.get()));
        viewer.grabFramebuffer();
        QCOMPARE(viewer.PrimaryVideoDisplayWidth(), 400);
        QCOMPARE(viewer.PrimaryVideoDisplayHeight(), 200);
    }
    viewer.SetVideoFrame(0, FlatFrame(VideoFramePixelFormat::RGB24, 100, 50, {235, 128, 128}, nullptr));
    viewer.grabFramebuffer();
    QCOMPARE(viewer.PrimaryVideoDisplayHeight(), 200);
    auto square = MakeStream(100, 100, 0, 2.0f);

    // Two columns of an odd width: each cell is 199 wide and both pictures fit in theirs.
    viewer.resize(399, 400);
    viewer.SetViewerLayout(ViewerLayoutType::HorizontalSplit);
    viewer.SetVideoFrame(1, FlatFrame(VideoFramePixelFormat::RGB24, 100, 100, QUADRANTS[2], square.get()));
    image = viewer.grabFramebuffer();
    QCOMPARE(viewer.ViewportRectAtIndex(1), QRect(199, 0, 199, 400));
    QCOMPARE(image.pixelColor(100, 200), QColor(Qt::white));
    QVERIFY(Near(image.pixelColor(300, 200), YuvToRgb(QUADRANTS[2], false), 3));
    QCOMPARE(image.pixelColor(300, 120), QColor(Qt::black));
}

void TestOpenGLViewer::AOverBBlendsAndWipeCutsThroughTheStencil()
{
    ViewerPair viewers(QSize(100, 100));
    QVERIFY(viewers.Exposed());
    auto stream = MakeStream(100, 100);
    viewers.gl.SetViewerLayout(ViewerLayoutType::AOverB);
    viewers.software.SetViewerLayout(ViewerLayoutType::AOverB);
    viewers.gl.SetBackgroundByType(ViewerBackgroundType::MediumGrey);
    viewers.software.SetBackgroundByType(ViewerBackgroundType::MediumGrey);
    Yuv const white = {235, 128, 128};
    Yuv const black = {16, 128, 128};
    viewers.SetFrame(0, FlatFrame(VideoFramePixelFormat::YUV420P, 100, 100, white, stream.get()));
    viewers.SetFrame(1, FlatFrame(VideoFramePixelFormat::RGB24, 100, 100, black, stream.get()));
    QVERIFY(Near(viewers.gl.grabFramebuffer().pixelColor(50, 50), Qt::white, 2));

    // B, then A at its opacity over it: half of each.
    viewers.gl.SetImageAlpha(0, 0.5f);
    QColor seen = viewers.gl.grabFramebuffer().pixelColor(50, 50);
    QVERIFY2(Near(seen, QColor(128, 128, 128), 2), qPrintable(Describe(seen)));

    // A wipe over the left half: A inside only, over the background at A's
    // opacity; B alone outside. The software viewer mixes the same way.
    QPolygonF const leftHalf({QPointF(0, 0), QPointF(50, 0), QPointF(50, 100), QPointF(0, 100)});
    viewers.gl.SetWipeMask(leftHalf);
    viewers.software.SetWipeMask(leftHalf);
    viewers.software.SetImageAlpha(0, 0.5f);
    QImage const gl = viewers.gl.grabFramebuffer();
    QImage const software = viewers.software.CaptureImage();
    QVERIFY2(Near(gl.pixelColor(25, 50), QColor(157, 157, 157), 2), qPrintable(Describe(gl.pixelColor(25, 50))));
    QCOMPARE(gl.pixelColor(75, 50), QColor(Qt::black));
    QVERIFY(Near(gl.pixelColor(25, 50), software.pixelColor(25, 50), 3));
    QVERIFY(Near(gl.pixelColor(75, 50), software.pixelColor(75, 50), 3));

    viewers.gl.SetImageAlpha(0, 1.0f);
    QImage const opaque = viewers.gl.grabFramebuffer();
    QVERIFY(Near(opaque.pixelColor(25, 50), Qt::white, 2));
    QCOMPARE(opaque.pixelColor(75, 50), QColor(Qt::black));

    // Fewer than four points: no wipe, A everywhere.
    viewers.gl.SetWipeMask(QPolygonF({QPointF(0, 0), QPointF(50, 0), QPointF(50, 100)}));
    QVERIFY(Near(viewers.gl.grabFramebuffer().pixelColor(75, 50), Qt::white, 2));

    // Without the stack the mask does not matter either.
    viewers.gl.SetWipeMask(leftHalf);
    viewers.gl.SetViewerLayout(ViewerLayoutType::Single);
    QVERIFY(Near(viewers.gl.grabFramebuffer().pixelColor(75, 50), Qt::white, 2));
}

void TestOpenGLViewer::KeepsAFrameHandedOverBeforeTheFirstShow()
{
    OpenGLViewer viewer(nullptr, nullptr, nullptr, nullptr);
    viewer.resize(128, 96);
    auto stream = MakeStream(64, 48);
    viewer.SetVideoFrame(0, QuadrantFrame(VideoFramePixelFormat::YUV420P, 64, 48, 4, stream.get()));
    QVERIFY(!viewer.IsInitialized());
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QImage const image = viewer.grabFramebuffer();
    QVERIFY(viewer.IsInitialized());
    QVERIFY2(Near(image.pixelColor(32, 24), YuvToRgb(QUADRANTS[0], false), 8), qPrintable(Describe(image.pixelColor(32, 24))));
    QVERIFY(Near(image.pixelColor(96, 72), YuvToRgb(QUADRANTS[3], false), 8));
    QCOMPARE(viewer.ViewportOutputByIndex(0)->imageSize, QSize(64, 48));
}

void TestOpenGLViewer::NullFrameClearsTheViewport()
{
    OpenGLViewer viewer(nullptr, nullptr, nullptr, nullptr);
    viewer.resize(128, 96);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    auto stream = MakeStream(64, 48, 90);
    viewer.SetVideoFrame(0, QuadrantFrame(VideoFramePixelFormat::RGB24, 64, 48, 0, stream.get()));
    auto* output = static_cast<OpenGLViewportOutput*>(viewer.ViewportOutputByIndex(0));
    QCOMPARE(output->imageSize, QSize(64, 48));
    QCOMPARE(output->rotation, 90);

    uint8_t const* noPlanes[3] = {nullptr, nullptr, nullptr};
    int const noLines[3] = {0, 0, 0};
    viewer.SetVideoFrame(0, std::make_shared<VideoFrame>(noPlanes, noLines, 64, 48, VideoFramePixelFormat::RGB24, 0,
                                                         stream.get(), false));
    QVERIFY(!output->frame);
    QCOMPARE(output->imageSize, QSize(-1, -1));
    QCOMPARE(output->rotation, 0);
    QCOMPARE(viewer.grabFramebuffer().pixelColor(64, 48), QColor(Qt::black));
    viewer.SetVideoFrame(16, nullptr);
}

void TestOpenGLViewer::FreedStreamRecordIsNeverRead()
{
    ViewerPair viewers(QSize(160, 160));
    QVERIFY(viewers.Exposed());
    auto* stream = new VideoStreamInfo(*MakeStream(64, 48, 270, 2.0f, true));
    viewers.SetFrame(0, QuadrantFrame(VideoFramePixelFormat::YUV420P, 64, 48, 8, stream));
    QImage const before = viewers.gl.grabFramebuffer();
    // A source refresh frees the record while its frame is still shown.
    delete stream;
    viewers.SetOrientation(90, true, false);
    viewers.SetOrientation(0, false, false);
    viewers.gl.UpdateViewerLayout();
    QCOMPARE(viewers.gl.grabFramebuffer(), before);
    int width = 0;
    int height = 0;
    viewers.gl.VideoWidthHeight(0, width, height);
    QCOMPARE(QSize(width, height), QSize(48, 64));
    viewers.software.CaptureImage();
}

void TestOpenGLViewer::MissingShaderLeavesTheViewerUninitialised()
{
    QStringList errors;
    QMetaObject::Connection const connection = connect(Logger::GetInstance(), &Logger::ErrorLogged, this,
                                                       [&errors](QString const& message) { errors << message; });
    {
        OpenGLViewer viewer(nullptr, nullptr, nullptr, nullptr);
        Q_CLEANUP_RESOURCE(shaders);
        auto stream = MakeStream(64, 48);
        viewer.SetVideoFrame(0, QuadrantFrame(VideoFramePixelFormat::YUV420P, 64, 48, 0, stream.get()));
        viewer.resize(128, 96);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        viewer.grabFramebuffer();
        QVERIFY(!viewer.IsInitialized());
        viewer.SetVideoFrame(0, QuadrantFrame(VideoFramePixelFormat::RGB24, 64, 48, 0, stream.get()));
        viewer.SetViewerLayout(ViewerLayoutType::Grid);
        viewer.RotateClockwise();
        viewer.grabFramebuffer();
        QVERIFY(!viewer.IsInitialized());
    }
    Q_INIT_RESOURCE(shaders);
    disconnect(connection);
    QVERIFY2(errors.contains(QStringLiteral("Failed to load vertex shader")), qPrintable(errors.join('\n')));
    QVERIFY(errors.contains(QStringLiteral("Failed to load fragment shader")));
    QVERIFY2(errors.size() > 2, "the compiler's or linker's log is reported as well");

    OpenGLViewer viewer(nullptr, nullptr, nullptr, nullptr);
    viewer.resize(64, 64);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QTRY_VERIFY(viewer.IsInitialized());
}

int main(int argc, char* argv[])
{
    // Contexts are made with the default format: it must be set before the
    // application object exists, as the player does.
    ViewerTestRig::SetDefaultSurfaceFormat();
    QApplication application(argc, argv);
    TestOpenGLViewer test;
    int const status = QTest::qExec(&test, argc, argv);
    ViewerTestRig::KeepOpenGLDriverLoaded();
    return status;
}

#include "tst_openglviewer.moc"
