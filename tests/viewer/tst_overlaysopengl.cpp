// TESSARIN_TEST: xvfb
#include "OverlayFixtures.h"
#include "ViewerTestRig.h"

#include "viewer/OpenGLViewer.h"
#include "viewer/ViewerOverlay.h"

#include <QtTest>

#include <functional>
#include <memory>

using namespace OverlayFixtures;

namespace
{
// The OpenGL viewer with both overlays as hidden children of one shown
// widget, as the viewer widget holds them in hardware rendering.
struct GlScene
{
    explicit GlScene(Timeline* timeline)
    {
        host.resize(HOST_WIDTH, HOST_HEIGHT);
        annotations = new AnnotationsOverlay(nullptr, 0, &host);
        viewerOverlay = new ViewerOverlay(nullptr, &host);
        viewer = new OpenGLViewer(viewerOverlay, annotations, nullptr, nullptr, &host);
        viewer->setGeometry(0, 0, HOST_WIDTH, HOST_HEIGHT);
        annotations->setGeometry(0, 0, HOST_WIDTH, HOST_HEIGHT);
        viewerOverlay->setGeometry(0, 0, HOST_WIDTH, HOST_HEIGHT);
        annotations->hide();
        viewerOverlay->hide();
        host.show();
        annotations->SetAnnotationsVisibleHwOverride(true);
        viewer->SetAnnotationsOverlayVisible(true);
        annotations->SetImageDisplayWidth(IMAGE_WIDTH, IMAGE_HEIGHT, 0);
        viewerOverlay->SetImageDisplayResolution(IMAGE_WIDTH, IMAGE_HEIGHT, 0);
        viewerOverlay->SetPrimaryTimeline(timeline);
        annotations->SetPrimaryTimeline(timeline);
        annotations->SetBackgroundFrameBookmark(timeline->BackgroundFrameBookmark());
        annotations->UpdateForegroundBookmark();
    }

    QImage Grab()
    {
        viewer->update();
        return viewer->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    }

    QWidget host;
    AnnotationsOverlay* annotations = nullptr;
    ViewerOverlay* viewerOverlay = nullptr;
    OpenGLViewer* viewer = nullptr;
};

// One picture of the same state from each renderer: the rendering mode is
// latched for each capture, as each run of the program latches it once.
struct Captures
{
    QImage gl;
    QImage software;
};
} // namespace

// Both overlays painted inside the OpenGL viewer agree with the software
// rendering of the same strokes and guides.
class TestOverlaysOpenGL : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void StrokesLandAsInSoftware_data();
    void StrokesLandAsInSoftware();
    void GhostsHoldEraserAndFillAsInSoftware();
    void GuidesAsInSoftware();

private:
    // Runs the set-up on a scene of each kind and captures both.
    Captures Capture(std::function<void(AnnotationsOverlay*, ViewerOverlay*)> const& setUp);
    static void Compare(Captures const& captures, QList<QPoint> const& points);

    std::unique_ptr<Timeline> mTimeline;
};

void TestOverlaysOpenGL::init()
{
    ResetAnnotationSettings();
    mTimeline = MovieTimeline();
    mTimeline->SetPlaybackFrame(10);
}

void TestOverlaysOpenGL::cleanup()
{
    mTimeline.reset();
}

Captures TestOverlaysOpenGL::Capture(std::function<void(AnnotationsOverlay*, ViewerOverlay*)> const& setUp)
{
    Captures captures;
    Settings::hardwareRenderingEnabled = true;
    Settings::LatchHardwareRendering();
    {
        GlScene gl(mTimeline.get());
        if (!QTest::qWaitForWindowExposed(&gl.host))
        {
            return captures;
        }
        setUp(gl.annotations, gl.viewerOverlay);
        captures.gl = gl.Grab();
    }
    Settings::hardwareRenderingEnabled = false;
    Settings::LatchHardwareRendering();
    {
        Scene software(mTimeline.get());
        auto* viewerOverlay = new ViewerOverlay(nullptr, &software.host);
        viewerOverlay->setGeometry(0, 0, HOST_WIDTH, HOST_HEIGHT);
        viewerOverlay->show();
        viewerOverlay->SetImageDisplayResolution(IMAGE_WIDTH, IMAGE_HEIGHT, 0);
        viewerOverlay->SetPrimaryTimeline(mTimeline.get());
        setUp(software.overlay, viewerOverlay);
        captures.software = software.Grab();
    }
    return captures;
}

void TestOverlaysOpenGL::Compare(Captures const& captures, QList<QPoint> const& points)
{
    QVERIFY(!captures.gl.isNull());
    QCOMPARE(captures.gl.size(), captures.software.size());
    for (QPoint const& point : points)
    {
        QColor const gl = captures.gl.pixelColor(point);
        QColor const software = captures.software.pixelColor(point);
        QVERIFY2(Near(gl, software, 8), qPrintable(QStringLiteral("%1,%2: OpenGL %3, software %4")
                                                       .arg(point.x())
                                                       .arg(point.y())
                                                       .arg(gl.name(), software.name())));
    }
}

void TestOverlaysOpenGL::StrokesLandAsInSoftware_data()
{
    QTest::addColumn<int>("rotation");
    QTest::addColumn<bool>("flipH");
    QTest::addColumn<bool>("flipV");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("upright") << 0 << false << false << QPoint(280, 190);
    QTest::newRow("rotated 90") << 90 << false << false << QPoint(177, 195);
    QTest::newRow("flipped horizontally") << 0 << true << false << QPoint(120, 190);
    QTest::newRow("flipped vertically") << 0 << false << true << QPoint(280, 110);
}

void TestOverlaysOpenGL::StrokesLandAsInSoftware()
{
    QFETCH(int, rotation);
    QFETCH(bool, flipH);
    QFETCH(bool, flipV);
    QFETCH(QPoint, expected);
    mTimeline->InsertFrameBookmark(10);
    mTimeline->FrameBookmarkAt(10)->strokes.append(SquareStroke(QPointF(0.2, 0.1), QColor(255, 0, 0)));
    Captures const captures = Capture([&](AnnotationsOverlay* overlay, ViewerOverlay*) {
        overlay->UpdateForegroundBookmark();
        overlay->SetRotation(rotation);
        overlay->SetHorizontalFlipEnabled(flipH);
        overlay->SetVerticalFlipEnabled(flipV);
    });
    QVERIFY(!captures.gl.isNull());
    QVERIFY2(IsRed(captures.gl.pixelColor(expected)), qPrintable(captures.gl.pixelColor(expected).name()));
    Compare(captures, {expected, QPoint(200, 150), QPoint(280, 190), QPoint(120, 110), QPoint(30, 30)});
}

void TestOverlaysOpenGL::GhostsHoldEraserAndFillAsInSoftware()
{
    auto placeOf = [](int frame) { return QPointF(-0.42 + 0.06 * frame, frame % 2 ? -0.12 : 0.12); };
    for (int frame : {3, 4, 5, 6, 7, 8, 9, 11, 12})
    {
        mTimeline->InsertFrameBookmark(frame);
        mTimeline->FrameBookmarkAt(frame)->strokes.append(DotStroke(placeOf(frame), Qt::white));
    }
    Settings::numGhostedFramesPrev = 7;
    QList<QPoint> ghosts;
    for (int frame : {3, 4, 5, 6, 7, 8, 9, 11, 12})
    {
        ghosts.append(Scene::Screen(placeOf(frame)));
    }
    Captures captures = Capture([](AnnotationsOverlay* overlay, ViewerOverlay*) {
        overlay->UpdateForegroundBookmark();
        overlay->SetGhostingVisible(true);
    });
    Compare(captures, ghosts);
    // The nearest earlier ghost at 0.4 of white tinted half way to red.
    QVERIFY(Near(captures.gl.pixelColor(Scene::Screen(placeOf(9))), QColor(102, 50, 50), 8));

    // Held frame on, frame 10 without a bookmark.
    captures = Capture([](AnnotationsOverlay* overlay, ViewerOverlay*) {
        overlay->UpdateForegroundBookmark();
        overlay->SetHoldFramesEnabled(true);
    });
    QVERIFY(Near(captures.gl.pixelColor(Scene::Screen(placeOf(9))), Qt::white, 8));
    Compare(captures, ghosts);

    // A fill at alpha 0 fills nothing; opaque it fills the picture only.
    captures = Capture([](AnnotationsOverlay* overlay, ViewerOverlay*) {
        Settings::annotationBackgroundColor = QColor(0, 0, 255, 0);
        overlay->DoUpdate();
    });
    QVERIFY(IsBlack(captures.gl.pixelColor(200, 150)));
    Compare(captures, {QPoint(200, 150), QPoint(200, 20)});
    captures = Capture([](AnnotationsOverlay* overlay, ViewerOverlay*) {
        Settings::annotationBackgroundColor = QColor(0, 0, 255, 255);
        overlay->DoUpdate();
    });
    QCOMPARE(captures.gl.pixelColor(200, 150), QColor(0, 0, 255));
    Compare(captures, {QPoint(200, 150), QPoint(200, 20)});
    Settings::annotationBackgroundColor = QColor(255, 255, 255, 0);

    // The eraser on the foreground spares the background layer.
    mTimeline->BackgroundFrameBookmark()->strokes.append(DotStroke(QPointF(0.0, 0.0), Qt::white, 200.0f));
    mTimeline->InsertFrameBookmark(10);
    mTimeline->FrameBookmarkAt(10)->strokes.append(DotStroke(QPointF(0.0, 0.0), Qt::red, 100.0f));
    captures = Capture([](AnnotationsOverlay* overlay, ViewerOverlay*) {
        overlay->UpdateForegroundBookmark();
        overlay->OnActiveToolChanged(AnnotationToolType::Eraser);
        Settings::annotationToolSize = 60.0f;
        overlay->BeginStroke(QPoint(160, 150));
        overlay->AppendToStroke(QPoint(200, 150), false);
        overlay->AppendToStroke(QPoint(240, 150), false);
        overlay->EndStroke();
    });
    QVERIFY(Near(captures.gl.pixelColor(200, 150), Qt::white, 8));
    Compare(captures, {QPoint(200, 150), QPoint(185, 150), QPoint(60, 60)});
}

void TestOverlaysOpenGL::GuidesAsInSoftware()
{
    Captures const captures = Capture([](AnnotationsOverlay*, ViewerOverlay* overlay) {
        overlay->SetOverlayDrawable(ViewerOverlayDrawable::SafeArea);
    });
    QVERIFY(!captures.gl.isNull());
    // The 3.5 % and 5 % frames, found in both along the middle row.
    auto whiteColumns = [](QImage const& image) {
        QList<int> columns;
        for (int x = 0; x < image.width(); ++x)
        {
            QColor const c = image.pixelColor(x, 150);
            if (c.red() > 150 && c.green() > 150 && c.blue() > 150)
            {
                columns.append(x);
            }
        }
        return columns;
    };
    QList<int> const gl = whiteColumns(captures.gl);
    QList<int> const software = whiteColumns(captures.software);
    QVERIFY2(!gl.isEmpty(), "no guide in the OpenGL viewer");
    QCOMPARE(gl.size(), software.size());
    for (int i = 0; i < gl.size(); ++i)
    {
        QVERIFY(std::abs(gl.at(i) - software.at(i)) <= 1);
    }
    QVERIFY(std::abs(gl.first() - 14) <= 1);
    QVERIFY(std::abs(gl.last() - 386) <= 1);
}

int main(int argc, char* argv[])
{
    // The player's context format, set before the application object exists.
    ViewerTestRig::SetDefaultSurfaceFormat();
    QApplication application(argc, argv);
    TestOverlaysOpenGL test;
    int const status = QTest::qExec(&test, argc, argv);
    ViewerTestRig::KeepOpenGLDriverLoaded();
    return status;
}

#include "tst_overlaysopengl.moc"
