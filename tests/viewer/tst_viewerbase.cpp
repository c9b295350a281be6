#include "ViewerTestRig.h"

#include "app/Settings.h"
#include "panels/UiHelpers.h"
#include "viewer/ViewerBase.h"
#include "viewer/ViewportOutput.h"

#include <QtTest>

namespace
{
// A viewer that draws nothing and counts what the base asks of it.
class CountingViewer : public ViewerBase
{
public:
    CountingViewer()
    {
        for (int i = 0; i < MaxViewportCount(); ++i)
        {
            mOutputs.append(new ViewportOutput());
        }
    }

    void SetVideoFrame(int index, std::shared_ptr<VideoFrame> frame) override { TakeFrame(index, frame); }
    void DoUpdate() override { ++updates; }
    QImage CaptureImage() override { return QImage(); }
    QImage CaptureFullImage() override { return QImage(); }
    double DevicePixelRatio() const override { return 1.0; }
    void SetViewerSize(QSize const&) override {}
    QSize ViewerSize() const override { return QSize(); }
    void SetViewerPosition(QPoint const& position) override { this->position = position; }
    QPoint ViewerPosition() const override { return position; }
    void UpdateViewerLayout() override { ++layouts; }
    void UpdateOrientation() override { ++orientations; }

    int updates = 0;
    int layouts = 0;
    int orientations = 0;
    QPoint position;
};
} // namespace


class TestViewerBase : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void LayoutIsClampedAndTyped_data();
    void LayoutIsClampedAndTyped();
    void ToggleReturnsToTheLastMultiViewLayout();
    void ViewportGeometryLeavesRemainderPixelsUnused();
    void StackedViewportsShareOneRectangle();
    void RotationWrapsAndFlipsReorient();
    void VideoSizeFollowsStreamRotation_data();
    void VideoSizeFollowsStreamRotation();
    void AlphaAndBackgroundChanges();
};

void TestViewerBase::LayoutIsClampedAndTyped_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("stack");
    QTest::addColumn<int>("expectedRows");
    QTest::addColumn<int>("expectedColumns");
    QTest::addColumn<int>("expectedStack");
    QTest::addColumn<ViewerLayoutType>("type");

    QTest::newRow("zero rows resets all") << 0 << 3 << 1 << 1 << 1 << 1 << ViewerLayoutType::Single;
    QTest::newRow("zero stack resets all") << 2 << 2 << 0 << 1 << 1 << 1 << ViewerLayoutType::Single;
    QTest::newRow("5 x 5 capped to grid") << 5 << 5 << 1 << 4 << 4 << 1 << ViewerLayoutType::Grid;
    QTest::newRow("stack 3 capped to A over B") << 1 << 1 << 3 << 1 << 1 << 2 << ViewerLayoutType::AOverB;
    QTest::newRow("stack only on 1 x 1") << 1 << 2 << 2 << 1 << 2 << 1 << ViewerLayoutType::HorizontalSplit;
    QTest::newRow("vertical split") << 2 << 1 << 1 << 2 << 1 << 1 << ViewerLayoutType::VerticalSplit;
    QTest::newRow("1 x 3 counts as grid") << 1 << 3 << 1 << 1 << 3 << 1 << ViewerLayoutType::Grid;
}

void TestViewerBase::LayoutIsClampedAndTyped()
{
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(int, stack);
    QFETCH(int, expectedRows);
    QFETCH(int, expectedColumns);
    QFETCH(int, expectedStack);
    QFETCH(ViewerLayoutType, type);

    CountingViewer viewer;
    Settings::currentViewerLayout = -1;
    viewer.SetViewerLayout(rows, columns, stack);
    QCOMPARE(viewer.RowCount(), expectedRows);
    QCOMPARE(viewer.ColumnCount(), expectedColumns);
    QCOMPARE(viewer.StackHeight(), expectedStack);
    QCOMPARE(viewer.ViewerLayout(), type);
    QCOMPARE(viewer.ViewportCount(), expectedRows * expectedColumns * expectedStack);
    QVERIFY(viewer.ViewportCount() <= ViewerBase::MaxViewportCount());
    QCOMPARE(Settings::currentViewerLayout, static_cast<int>(type));
    QCOMPARE(viewer.layouts, 1);
}

void TestViewerBase::ToggleReturnsToTheLastMultiViewLayout()
{
    CountingViewer viewer;
    // From single, a toggle asking for single shows the horizontal split.
    viewer.ToggleViewerLayout(ViewerLayoutType::Single);
    QCOMPARE(viewer.ViewerLayout(), ViewerLayoutType::HorizontalSplit);

    viewer.SetViewerLayout(ViewerLayoutType::Grid);
    // Asking for the grid while it is shown gives A over B...
    viewer.ToggleViewerLayout(ViewerLayoutType::Grid);
    QCOMPARE(viewer.ViewerLayout(), ViewerLayoutType::AOverB);
    QCOMPARE(Settings::currentViewerLayout, static_cast<int>(ViewerLayoutType::AOverB));
    // ...and asking for A over B then brings the grid back.
    viewer.ToggleViewerLayout(ViewerLayoutType::AOverB);
    QCOMPARE(viewer.ViewerLayout(), ViewerLayoutType::Grid);
    QCOMPARE(viewer.RowCount(), 2);
    QCOMPARE(viewer.ColumnCount(), 2);

    // An odd rows x columns left counts as grid and is remembered as such.
    viewer.SetViewerLayout(3, 1, 1);
    viewer.SetViewerLayout(ViewerLayoutType::Single);
    QCOMPARE(viewer.LastMultiViewLayout(), ViewerLayoutType::Grid);
    // Leaving single or A over B keeps what was remembered.
    viewer.SetViewerLayout(ViewerLayoutType::VerticalSplit);
    viewer.SetViewerLayout(ViewerLayoutType::AOverB);
    viewer.SetViewerLayout(ViewerLayoutType::Single);
    QCOMPARE(viewer.LastMultiViewLayout(), ViewerLayoutType::VerticalSplit);
    // A split requested while another is shown switches to it.
    viewer.SetViewerLayout(ViewerLayoutType::Grid);
    viewer.ToggleViewerLayout(ViewerLayoutType::HorizontalSplit);
    QCOMPARE(viewer.ViewerLayout(), ViewerLayoutType::HorizontalSplit);
    // An unknown type gives single.
    viewer.SetViewerLayout(static_cast<ViewerLayoutType>(9));
    QCOMPARE(viewer.ViewerLayout(), ViewerLayoutType::Single);
}

void TestViewerBase::ViewportGeometryLeavesRemainderPixelsUnused()
{
    CountingViewer viewer;
    viewer.SetViewerLayout(ViewerLayoutType::HorizontalSplit);
    viewer.UpdateViewportGeometry(1001, 400, 10);
    QCOMPARE(viewer.ViewportRectAtIndex(0), QRect(0, 10, 500, 400));
    QCOMPARE(viewer.ViewportRectAtIndex(1), QRect(500, 10, 500, 400));
    QCOMPARE(viewer.ViewportIndexAtPosition(QPoint(499, 200)), 0);
    QCOMPARE(viewer.ViewportIndexAtPosition(QPoint(500, 200)), 1);
    QCOMPARE(viewer.ViewportIndexAtPosition(QPoint(1000, 200)), -1); // the dead pixel
    QCOMPARE(viewer.ViewportIndexAtPosition(QPoint(10, 5)), -1);     // above the first row
    QVERIFY(viewer.ViewportRectAtPosition(QPoint(1000, 200)).isNull());
    QVERIFY(viewer.ViewportRectAtIndex(16).isNull());
    QVERIFY(viewer.ViewportRectAtIndex(-1).isNull());

    // Hit tests take viewer-widget coordinates: the viewer's position is
    // taken off, and rectangles are given back in the same coordinates.
    viewer.position = QPoint(100, 50);
    QCOMPARE(viewer.ViewportIndexAtPosition(QPoint(100 + 600, 50 + 20)), 1);
    QCOMPARE(viewer.ViewportRectAtPosition(QPoint(100 + 600, 50 + 20)), QRect(600, 60, 500, 400));

    viewer.SetViewerLayout(ViewerLayoutType::Grid);
    viewer.UpdateViewportGeometry(801, 601, 0);
    QCOMPARE(viewer.ViewportRectAtIndex(3), QRect(100 + 400, 50 + 300, 400, 300));
    QCOMPARE(viewer.ViewportIndexAtPosition(QPoint(100 + 400, 50 + 0)), 1);
    QCOMPARE(viewer.ViewportIndexAtPosition(QPoint(100 + 0, 50 + 600)), -1);
}

void TestViewerBase::StackedViewportsShareOneRectangle()
{
    CountingViewer viewer;
    viewer.SetViewerLayout(ViewerLayoutType::AOverB);
    viewer.UpdateViewportGeometry(640, 360, 20);
    QCOMPARE(viewer.ViewportRectAtIndex(0), QRect(0, 20, 640, 360));
    QCOMPARE(viewer.ViewportRectAtIndex(1), QRect(0, 20, 640, 360));
    // The first of the stack answers a hit test.
    QCOMPARE(viewer.ViewportIndexAtPosition(QPoint(10, 30)), 0);
}

void TestViewerBase::RotationWrapsAndFlipsReorient()
{
    CountingViewer viewer;
    viewer.RotateCounterClockwise();
    QCOMPARE(viewer.ViewportRotation(), 270);
    viewer.RotateClockwise();
    QCOMPARE(viewer.ViewportRotation(), 0);
    for (int expected : {90, 180, 270, 0})
    {
        viewer.RotateClockwise();
        QCOMPARE(viewer.ViewportRotation(), expected);
    }
    viewer.SetHorizontalFlipEnabled(true);
    viewer.SetHorizontalFlipEnabled(true); // unchanged still reorients
    viewer.SetVerticalFlipEnabled(true);
    QVERIFY(viewer.HorizontalFlipEnabled() && viewer.VerticalFlipEnabled());
    viewer.RotateClockwise();
    viewer.ResetFlipAndRotate();
    QCOMPARE(viewer.ViewportRotation(), 0);
    QVERIFY(!viewer.HorizontalFlipEnabled() && !viewer.VerticalFlipEnabled());
    QCOMPARE(viewer.orientations, 6 + 3 + 2);
}

void TestViewerBase::VideoSizeFollowsStreamRotation_data()
{
    QTest::addColumn<int>("rotation");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("0") << 0 << QSize(1920, 1080);
    QTest::newRow("90") << 90 << QSize(1080, 1920);
    QTest::newRow("180") << 180 << QSize(1920, 1080);
    QTest::newRow("270") << 270 << QSize(1080, 1920);
    QTest::newRow("raw -90") << -90 << QSize(1080, 1920);
    QTest::newRow("raw -180") << -180 << QSize(1920, 1080);
    QTest::newRow("raw 450") << 450 << QSize(1080, 1920);
}

void TestViewerBase::VideoSizeFollowsStreamRotation()
{
    QFETCH(int, rotation);
    QFETCH(QSize, expected);
    CountingViewer viewer;
    auto stream = ViewerTestRig::MakeStream(1920, 1080, rotation);
    viewer.SetVideoFrame(0, ViewerTestRig::QuadrantFrame(VideoFramePixelFormat::RGB24, 1920, 1080, 0, stream.get()));
    int width = 0;
    int height = 0;
    viewer.VideoWidthHeight(0, width, height);
    QCOMPARE(QSize(width, height), expected);
    // The record is copied at hand-over: freeing it changes nothing.
    stream.reset();
    viewer.VideoWidthHeight(0, width, height);
    QCOMPARE(QSize(width, height), expected);

    // An empty output, one outside the list and a cleared one report the default size.
    for (int index : {1, 16, -1})
    {
        viewer.VideoWidthHeight(index, width, height);
        QCOMPARE(QSize(width, height), QSize(UiHelpers::DEFAULT_VIEWER_WIDTH, UiHelpers::DEFAULT_VIEWER_HEIGHT));
    }
    viewer.SetVideoFrame(0, nullptr);
    viewer.VideoWidthHeight(0, width, height);
    QCOMPARE(QSize(width, height), QSize(960, 540));
}

void TestViewerBase::AlphaAndBackgroundChanges()
{
    CountingViewer viewer;
    viewer.SetImageAlpha(-1, 0.5f);
    viewer.SetImageAlpha(16, 0.5f);
    viewer.SetImageAlpha(0, 1.0f); // unchanged
    QCOMPARE(viewer.updates, 0);
    viewer.SetImageAlpha(1, 0.5f);
    QCOMPARE(viewer.updates, 1);
    QCOMPARE(viewer.ViewportOutputByIndex(1)->alpha, 0.5f);
    QVERIFY(!viewer.ViewportOutputByIndex(16));

    struct Case
    {
        int type;
        QColor colour;
    };
    for (Case const& c : {Case {0, Qt::black}, Case {1, QColor(118, 118, 118)}, Case {2, QColor(180, 180, 180)},
                          Case {3, Qt::white}, Case {7, Qt::black}, Case {-1, Qt::black}})
    {
        viewer.SetBackgroundByType(static_cast<ViewerBackgroundType>(c.type));
        QCOMPARE(viewer.BackgroundColor(), c.colour);
        QCOMPARE(static_cast<int>(viewer.BackgroundType()), c.type);
    }
    QCOMPARE(viewer.updates, 1 + 6);
    viewer.SetWipeEnabled(true);
    QVERIFY(viewer.WipeEnabled());
    QCOMPARE(viewer.updates, 8);
}

QTEST_GUILESS_MAIN(TestViewerBase)
#include "tst_viewerbase.moc"
