#include "ViewerTestRig.h"

#include "viewer/SoftwareViewer.h"
#include "viewer/SoftwareViewportOutput.h"

#include <QtTest>

using namespace ViewerTestRig;

class TestSoftwareViewer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void FitsAndCentresThePicture();
    void NullFrameClearsTheViewport();
    void QuarterTurnedStreamExchangesTheFlips_data();
    void QuarterTurnedStreamExchangesTheFlips();
    void PaddingNeverShowsAndYuvShowsInColour();
    void AOverBMixesWithTheBackground();
    void WipeShowsAOnlyInsideTheMask();
    void FreedStreamRecordIsNeverRead();

private:
    static QColor At(QImage const& image, QPointF point) { return image.pixelColor(point.toPoint()); }
};

void TestSoftwareViewer::FitsAndCentresThePicture()
{
    SoftwareViewer viewer;
    viewer.resize(960, 1000);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QSignalSpy sizes(&viewer, &SoftwareViewer::ViewportImageDisplaySizeChanged);
    auto stream = MakeStream(1920, 1080);
    viewer.SetVideoFrame(0, QuadrantFrame(VideoFramePixelFormat::RGB24, 1920, 1080, 0, stream.get()));
    QCOMPARE(viewer.PrimaryVideoDisplayWidth(), 960);
    QCOMPARE(viewer.PrimaryVideoDisplayHeight(), 540);
    QVERIFY(!sizes.isEmpty());
    QCOMPARE(sizes.last().at(0).toInt(), 960);
    QCOMPARE(sizes.last().at(2).toInt(), 0);

    QImage const image = viewer.CaptureImage();
    QCOMPARE(image.size(), QSize(960, 1000));
    // Drawn at y = 230: black above, the top-left quadrant from there on.
    QCOMPARE(image.pixelColor(240, 228), QColor(Qt::black));
    QVERIFY(Near(image.pixelColor(240, 232), YuvToRgb(QUADRANTS[0], false), 2));
    QVERIFY(Near(image.pixelColor(240, 767), YuvToRgb(QUADRANTS[2], false), 2));
    QCOMPARE(image.pixelColor(240, 771), QColor(Qt::black));

    // A frame in viewport 1 reports its own size and leaves the primary size alone.
    viewer.SetViewerLayout(ViewerLayoutType::HorizontalSplit);
    auto small = MakeStream(100, 100);
    sizes.clear();
    viewer.SetVideoFrame(1, QuadrantFrame(VideoFramePixelFormat::RGB24, 100, 100, 0, small.get()));
    QCOMPARE(sizes.last().at(0).toInt(), 480);
    QCOMPARE(sizes.last().at(2).toInt(), 1);
    QCOMPARE(viewer.PrimaryVideoDisplayWidth(), 480);
    QCOMPARE(viewer.PrimaryVideoDisplayHeight(), 270);

    // Pixel aspect 2 doubles the width before fitting.
    viewer.SetViewerLayout(ViewerLayoutType::Single);
    auto wide = MakeStream(100, 100, 0, 2.0f);
    viewer.SetVideoFrame(0, QuadrantFrame(VideoFramePixelFormat::RGB24, 100, 100, 0, wide.get()));
    QCOMPARE(viewer.PrimaryVideoDisplayWidth(), 960);
    QCOMPARE(viewer.PrimaryVideoDisplayHeight(), 480);
}

void TestSoftwareViewer::NullFrameClearsTheViewport()
{
    SoftwareViewer viewer;
    viewer.resize(320, 240);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    auto stream = MakeStream(64, 48);
    viewer.SetVideoFrame(0, QuadrantFrame(VideoFramePixelFormat::RGB24, 64, 48, 0, stream.get()));
    QVERIFY(viewer.PrimaryVideoDisplayWidth() > 0);
    QSignalSpy sizes(&viewer, &SoftwareViewer::ViewportImageDisplaySizeChanged);

    // A frame without a picture clears the viewport like a null one.
    uint8_t const* noPlanes[3] = {nullptr, nullptr, nullptr};
    int const noLines[3] = {0, 0, 0};
    viewer.SetVideoFrame(0, std::make_shared<VideoFrame>(noPlanes, noLines, 64, 48, VideoFramePixelFormat::RGB24, 0,
                                                         stream.get(), false));
    auto* output = static_cast<SoftwareViewportOutput*>(viewer.ViewportOutputByIndex(0));
    QVERIFY(!output->frame);
    QVERIFY(output->pixmap.isNull() && output->scaledPixmap.isNull());
    QCOMPARE(viewer.PrimaryVideoDisplayWidth(), 0);
    QCOMPARE(viewer.PrimaryVideoDisplayHeight(), 0);
    QCOMPARE(sizes.size(), 1);
    QCOMPARE(sizes.first().at(0).toInt(), 0);
    QCOMPARE(output->imageSize, QSize(-1, -1));
    QCOMPARE(viewer.CaptureImage().pixelColor(160, 120), QColor(Qt::black));

    viewer.SetVideoFrame(-1, nullptr); // no output: nothing happens
    viewer.SetVideoFrame(16, nullptr);
}

void TestSoftwareViewer::QuarterTurnedStreamExchangesTheFlips_data()
{
    QTest::addColumn<int>("streamRotation");
    QTest::addColumn<int>("viewerRotation");
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<bool>("vertical");
    for (int stream : {0, 90, 180, 270, -90, -180})
    {
        for (int turns = 0; turns < 4; ++turns)
        {
            for (int flips = 0; flips < 4; ++flips)
            {
                QTest::addRow("stream %d viewer %d flips %d", stream, turns * 90, flips)
                    << stream << turns * 90 << bool(flips & 1) << bool(flips & 2);
            }
        }
    }
}

// Every quadrant lands where turning and flipping the picture puts it; on a
// stream with a quarter turn of its own the flips exchange roles (270 and -90
// alike).
void TestSoftwareViewer::QuarterTurnedStreamExchangesTheFlips()
{
    QFETCH(int, streamRotation);
    QFETCH(int, viewerRotation);
    QFETCH(bool, horizontal);
    QFETCH(bool, vertical);
    SoftwareViewer viewer;
    QSize const size(240, 240);
    viewer.resize(size);
    auto stream = MakeStream(64, 48, streamRotation);
    viewer.SetVideoFrame(0, QuadrantFrame(VideoFramePixelFormat::RGB24, 64, 48, 0, stream.get()));
    for (int angle = 0; angle < viewerRotation; angle += 90)
    {
        viewer.RotateClockwise();
    }
    viewer.SetHorizontalFlipEnabled(horizontal);
    viewer.SetVerticalFlipEnabled(vertical);
    QImage const image = viewer.CaptureImage();
    for (int quadrant = 0; quadrant < 4; ++quadrant)
    {
        QPointF const point = ScreenPosition(QuadrantCentre(quadrant, 64, 48), size, 64.0 / 48.0, viewerRotation,
                                             streamRotation, horizontal, vertical);
        QColor const seen = At(image, point);
        QVERIFY2(Near(seen, YuvToRgb(QUADRANTS[quadrant], false), 4),
                 qPrintable(QStringLiteral("quadrant %1 at (%2, %3) shows %4")
                                .arg(quadrant)
                                .arg(point.x())
                                .arg(point.y())
                                .arg(Describe(seen))));
    }
}

void TestSoftwareViewer::PaddingNeverShowsAndYuvShowsInColour()
{
    SoftwareViewer viewer;
    viewer.resize(200, 200);
    for (QSize const pictureSize : {QSize(64, 48), QSize(63, 45)})
    {
        for (VideoFramePixelFormat format :
             {VideoFramePixelFormat::RGB24, VideoFramePixelFormat::RGBA, VideoFramePixelFormat::YUV420P})
        {
            auto stream = MakeStream(pictureSize.width(), pictureSize.height());
            viewer.SetVideoFrame(0, QuadrantFrame(format, pictureSize.width(), pictureSize.height(), 7, stream.get()));
            QImage const image = viewer.CaptureImage();
            for (int y = 0; y < image.height(); ++y)
            {
                for (int x = 0; x < image.width(); ++x)
                {
                    QVERIFY2(!LooksLikeSentinel(image.pixelColor(x, y)),
                             qPrintable(QStringLiteral("padding shows at (%1, %2), format %3")
                                            .arg(x)
                                            .arg(y)
                                            .arg(static_cast<int>(format))));
                }
            }
            // Top-left quadrant: red, not the grey of its Y plane.
            QColor const seen = image.pixelColor(40, 60);
            QVERIFY2(Near(seen, YuvToRgb(QUADRANTS[0], false), 4), qPrintable(Describe(seen)));
        }
    }
}

void TestSoftwareViewer::AOverBMixesWithTheBackground()
{
    SoftwareViewer viewer;
    viewer.resize(100, 100);
    viewer.SetViewerLayout(ViewerLayoutType::AOverB);
    viewer.SetBackgroundByType(ViewerBackgroundType::MediumGrey);
    auto stream = MakeStream(100, 100);
    Yuv const white = {235, 128, 128};
    Yuv const black = {16, 128, 128};
    viewer.SetVideoFrame(0, FlatFrame(VideoFramePixelFormat::RGB24, 100, 100, white, stream.get()));
    viewer.SetVideoFrame(1, FlatFrame(VideoFramePixelFormat::RGB24, 100, 100, black, stream.get()));
    QCOMPARE(viewer.CaptureImage().pixelColor(50, 50), QColor(Qt::white));

    // B, then the background at A's opacity, then A at it:
    // 0.5 x 255 + 0.25 x 118 + 0.25 x 0.
    viewer.SetImageAlpha(0, 0.5f);
    QColor const mixed = viewer.CaptureImage().pixelColor(50, 50);
    QVERIFY2(Near(mixed, QColor(157, 157, 157), 2), qPrintable(Describe(mixed)));
}

void TestSoftwareViewer::WipeShowsAOnlyInsideTheMask()
{
    SoftwareViewer viewer;
    viewer.resize(100, 100);
    viewer.SetViewerLayout(ViewerLayoutType::AOverB);
    auto stream = MakeStream(100, 100);
    viewer.SetVideoFrame(0, FlatFrame(VideoFramePixelFormat::RGB24, 100, 100, {235, 128, 128}, stream.get()));
    viewer.SetVideoFrame(1, FlatFrame(VideoFramePixelFormat::RGB24, 100, 100, QUADRANTS[0], stream.get()));
    QPolygonF const leftHalf({QPointF(0, 0), QPointF(50, 0), QPointF(50, 100), QPointF(0, 100)});
    viewer.SetWipeMask(leftHalf);
    QImage image = viewer.CaptureImage();
    QCOMPARE(image.pixelColor(20, 50), QColor(Qt::white));
    QVERIFY(Near(image.pixelColor(80, 50), YuvToRgb(QUADRANTS[0], false), 2));

    // Three points are no mask: A covers the whole viewport again.
    viewer.SetWipeMask(QPolygonF({QPointF(0, 0), QPointF(50, 0), QPointF(50, 100)}));
    image = viewer.CaptureImage();
    QCOMPARE(image.pixelColor(80, 50), QColor(Qt::white));
}

void TestSoftwareViewer::FreedStreamRecordIsNeverRead()
{
    SoftwareViewer viewer;
    viewer.resize(200, 200);
    auto* stream = new VideoStreamInfo(*MakeStream(64, 48, 90, 2.0f));
    viewer.SetVideoFrame(0, QuadrantFrame(VideoFramePixelFormat::RGB24, 64, 48, 5, stream));
    QImage const before = viewer.CaptureImage();
    // A source refresh frees the record while the frame is still shown.
    delete stream;
    viewer.RotateClockwise();
    viewer.RotateCounterClockwise();
    viewer.SetHorizontalFlipEnabled(true);
    viewer.SetHorizontalFlipEnabled(false);
    viewer.UpdateViewerLayout();
    int width = 0;
    int height = 0;
    viewer.VideoWidthHeight(0, width, height);
    QCOMPARE(QSize(width, height), QSize(48, 64));
    QCOMPARE(viewer.CaptureImage(), before);
}

QTEST_MAIN(TestSoftwareViewer)
#include "tst_softwareviewer.moc"
