#include "OverlayFixtures.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QtTest>

#include <memory>

using namespace OverlayFixtures;

namespace
{
// A paint device that draws nothing and counts the images drawn on it.
class ImageCounter : public QPaintDevice
{
public:
    int Images() const { return mEngine.images; }
    QPaintEngine* paintEngine() const override { return &mEngine; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric)
        {
        case PdmWidth: return HOST_WIDTH;
        case PdmHeight: return HOST_HEIGHT;
        case PdmDepth: return 32;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return int(devicePixelRatioFScale());
        case PdmWidthMM: return HOST_WIDTH * 254 / 960;
        case PdmHeightMM: return HOST_HEIGHT * 254 / 960;
        default: return 96; // the resolutions
        }
    }

private:
    struct Engine : QPaintEngine
    {
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(QPaintEngineState const&) override {}
        void drawPath(QPainterPath const&) override {}
        void drawPolygon(QPointF const*, int, PolygonDrawMode) override {}
        void drawPixmap(QRectF const&, QPixmap const&, QRectF const&) override {}
        void drawImage(QRectF const&, QImage const&, QRectF const&, Qt::ImageConversionFlags) override { ++images; }
        Type type() const override { return User; }
        int images = 0;
    };
    mutable Engine mEngine;
};
} // namespace

// What the annotation overlay shows, read back from the screen in software
// rendering: placement under rotation and flips, ghosts, held frames, the
// eraser, the background fill and zero sizes.
class TestAnnotationsPaint : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void StrokeLandsAtCentrePlusPointTimesWidth_data();
    void StrokeLandsAtCentrePlusPointTimesWidth();
    void DrawnStrokeLandsUnderTheCursorWhenTurned();
    void GhostsFadeWithDistanceAndTakeTheirTint();
    void HeldFramesAndFramesOutsideTheClip();
    void EraserClearsOnlyItsLayer();
    void BackgroundFill();
    void ReplacedBackgroundIsRepainted();
    void ZeroDisplayWidthPaintsNothing();
    void OnlyLayersWithStrokesDrawAnImage();

private:
    std::unique_ptr<Timeline> mTimeline;
    std::unique_ptr<Scene> mScene;
};

void TestAnnotationsPaint::initTestCase()
{
    UseSoftwareRendering();
}

void TestAnnotationsPaint::init()
{
    ResetAnnotationSettings();
    mTimeline = MovieTimeline();
    mTimeline->SetPlaybackFrame(10);
    mScene = std::make_unique<Scene>(mTimeline.get());
}

void TestAnnotationsPaint::cleanup()
{
    mScene.reset();
    mTimeline.reset();
}

void TestAnnotationsPaint::StrokeLandsAtCentrePlusPointTimesWidth_data()
{
    QTest::addColumn<int>("rotation");
    QTest::addColumn<bool>("flipH");
    QTest::addColumn<bool>("flipV");
    QTest::addColumn<QPointF>("expected"); // screen position of (0.2, 0.1)
    // Centre (200, 150), width 400: (0.2, 0.1) is (80, 40) from the centre.
    QTest::newRow("upright") << 0 << false << false << QPointF(280, 190);
    // A quarter turn scales by height / width = 0.5625: (-40, 80) x 0.5625.
    QTest::newRow("rotated 90") << 90 << false << false << QPointF(177.5, 195);
    QTest::newRow("rotated 270") << 270 << false << false << QPointF(222.5, 105);
    QTest::newRow("rotated 180") << 180 << false << false << QPointF(120, 110);
    QTest::newRow("flipped horizontally") << 0 << true << false << QPointF(120, 190);
    QTest::newRow("flipped vertically") << 0 << false << true << QPointF(280, 110);
    QTest::newRow("both flips") << 0 << true << true << QPointF(120, 110);
}

void TestAnnotationsPaint::StrokeLandsAtCentrePlusPointTimesWidth()
{
    QFETCH(int, rotation);
    QFETCH(bool, flipH);
    QFETCH(bool, flipV);
    QFETCH(QPointF, expected);
    mTimeline->InsertFrameBookmark(10);
    FrameBookmark* bookmark = mTimeline->FrameBookmarkAt(10);
    bookmark->strokes.append(SquareStroke(QPointF(0.2, 0.1), QColor(255, 0, 0)));
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->UpdateForegroundBookmark();
    overlay->SetRotation(rotation);
    overlay->SetHorizontalFlipEnabled(flipH);
    overlay->SetVerticalFlipEnabled(flipV);

    QImage const image = mScene->Grab();
    QPoint const at = expected.toPoint();
    QVERIFY2(IsRed(image.pixelColor(at)), qPrintable(QStringLiteral("%1,%2: %3").arg(at.x()).arg(at.y()).arg(
                                              image.pixelColor(at).name())));
    // Nothing where the unturned stroke would be, unless that is the same place.
    QPoint const upright(280, 190);
    if ((upright - at).manhattanLength() > 20)
    {
        QVERIFY(IsBlack(image.pixelColor(upright)));
    }
    QVERIFY(IsBlack(image.pixelColor(200, 150)));
}

void TestAnnotationsPaint::DrawnStrokeLandsUnderTheCursorWhenTurned()
{
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->SetRotation(90);
    overlay->SetHorizontalFlipEnabled(true);
    mTimeline->InsertFrameBookmark(10);
    overlay->UpdateForegroundBookmark();
    Settings::annotationToolSize = 20.0f;
    overlay->OnActiveToolChanged(AnnotationToolType::Rectangle);
    overlay->BeginStroke(QPoint(150, 120));
    overlay->AppendToStroke(QPoint(260, 180), false);
    // While it is drawn, and once it is finished.
    for (int pass = 0; pass < 2; ++pass)
    {
        QImage const image = mScene->Grab();
        QVERIFY(IsRed(image.pixelColor(150, 150)));
        QVERIFY(IsRed(image.pixelColor(260, 150)));
        QVERIFY(IsRed(image.pixelColor(200, 120)));
        QVERIFY(IsRed(image.pixelColor(200, 180)));
        QVERIFY(IsBlack(image.pixelColor(200, 150)));
        overlay->EndStroke();
    }
}

void TestAnnotationsPaint::GhostsFadeWithDistanceAndTakeTheirTint()
{
    // White dots on frames 0 to 9 (earlier) and 11 to 13 (later), each at a
    // place of its own; nothing on frame 10.
    Settings::numGhostedFramesPrev = 7;
    Settings::numGhostedFramesNext = 5;
    auto placeOf = [](int frame) { return QPointF(-0.42 + 0.06 * frame, frame % 2 ? -0.12 : 0.12); };
    for (int frame : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13})
    {
        mTimeline->InsertFrameBookmark(frame);
        mTimeline->FrameBookmarkAt(frame)->strokes.append(DotStroke(placeOf(frame), Qt::white));
    }
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->UpdateForegroundBookmark();
    QVERIFY(!overlay->ForegroundBookmark());
    QImage image = mScene->Grab();
    QVERIFY(IsBlack(image.pixelColor(Scene::Screen(placeOf(9)))));

    overlay->SetGhostingVisible(true);
    image = mScene->Grab();
    // White tinted half way to red (255, 127, 127) at the ghost's opacity.
    double const opacities[] = {0.40, 0.35, 0.30, 0.25, 0.20, 0.15, 0.15};
    for (int n = 1; n <= 7; ++n)
    {
        double const opacity = opacities[n - 1];
        QColor const expected(int(255 * opacity), int(127 * opacity), int(127 * opacity));
        QColor const seen = image.pixelColor(Scene::Screen(placeOf(10 - n)));
        QVERIFY2(Near(seen, expected, 4), qPrintable(QStringLiteral("n %1: %2 for %3").arg(n).arg(seen.name(),
                                                                                              expected.name())));
    }
    // Eight and more frames away: beyond the reach of 7.
    QVERIFY(IsBlack(image.pixelColor(Scene::Screen(placeOf(2)))));
    // Later frames: tinted towards green.
    for (int n = 1; n <= 3; ++n)
    {
        double const opacity = 0.4 - 0.05 * (n - 1);
        QColor const expected(int(127 * opacity), int(255 * opacity), int(127 * opacity));
        QVERIFY(Near(image.pixelColor(Scene::Screen(placeOf(10 + n))), expected, 4));
    }

    // By distance: with a reach of 2, frame 7 (3 away) is not ghosted once
    // frame 9 is gone; by annotation the second bookmark counts, whatever
    // its distance.
    Settings::numGhostedFramesPrev = 2;
    delete mTimeline->RemoveFrameBookmark(9);
    overlay->UpdateGhostingProperties();
    image = mScene->Grab();
    QVERIFY(!IsBlack(image.pixelColor(Scene::Screen(placeOf(8)))));
    QVERIFY(IsBlack(image.pixelColor(Scene::Screen(placeOf(7)))));
    Settings::byAnnotationGhosting = true;
    overlay->UpdateGhostingProperties();
    image = mScene->Grab();
    QVERIFY(!IsBlack(image.pixelColor(Scene::Screen(placeOf(7)))));
    QVERIFY(IsBlack(image.pixelColor(Scene::Screen(placeOf(6)))));

    overlay->SetGhostingVisible(false);
    image = mScene->Grab();
    QVERIFY(IsBlack(image.pixelColor(Scene::Screen(placeOf(8)))));
}

void TestAnnotationsPaint::HeldFramesAndFramesOutsideTheClip()
{
    mTimeline->InsertFrameBookmark(3);
    mTimeline->FrameBookmarkAt(3)->strokes.append(DotStroke(QPointF(0.1, 0.0), Qt::red));
    mTimeline->InsertFrameBookmark(12);
    mTimeline->FrameBookmarkAt(12)->strokes.append(DotStroke(QPointF(-0.1, 0.0), Qt::red));
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->UpdateForegroundBookmark();
    QPoint const held = Scene::Screen(QPointF(0.1, 0.0));
    QPoint const later = Scene::Screen(QPointF(-0.1, 0.0));
    QVERIFY(IsBlack(mScene->Grab().pixelColor(held)));
    overlay->SetHoldFramesEnabled(true);
    QVERIFY(mTimeline->HoldAnnotationFramesEnabled());
    QImage image = mScene->Grab();
    QVERIFY(IsRed(image.pixelColor(held)));
    QVERIFY(IsBlack(image.pixelColor(later)));
    overlay->SetHoldFramesEnabled(false);
    QVERIFY(IsBlack(mScene->Grab().pixelColor(held)));

    // An edit clip cut to source frames 20..99: a bookmark on source frame 5
    // lies outside it (timeline frame -1) and is neither held nor ghosted,
    // though its source frame lies before the playback frame.
    mTimeline->SetPlaybackRangeByFrame(20, 99);
    auto edit = std::make_unique<Timeline>(nullptr, true);
    edit->InsertClipAtIndex(new Clip(mTimeline->SourceClip(), nullptr), -1, false);
    edit->RefreshClipStartTimes();
    edit->OnTrackUpdated();
    edit->SetOutputId(0);
    Clip* clip = edit->ClipAtIndex(0);
    QCOMPARE(clip->InsertFrameBookmark(-15), 0);
    QCOMPARE(clip->FrameBookmarkList().first()->frame, 5);
    QCOMPARE(clip->FrameBookmarkList().first()->timelineFrame, -1);
    clip->FrameBookmarkList().first()->strokes.append(DotStroke(QPointF(0.1, 0.0), Qt::red));
    edit->SetPlaybackFrame(30);
    overlay->SetPrimaryTimeline(edit.get());
    overlay->SetBackgroundFrameBookmark(edit->BackgroundFrameBookmark());
    overlay->UpdateForegroundBookmark();
    overlay->SetHoldFramesEnabled(true);
    overlay->SetGhostingVisible(true);
    QVERIFY(IsBlack(mScene->Grab().pixelColor(held)));
    overlay->SetPrimaryTimeline(nullptr);
    overlay->SetFrameBookmark(nullptr);
    overlay->SetBackgroundFrameBookmark(nullptr);
}

void TestAnnotationsPaint::EraserClearsOnlyItsLayer()
{
    // White on the background layer, a red block on the foreground, and a
    // ghost of the frame before.
    mTimeline->BackgroundFrameBookmark()->strokes.append(DotStroke(QPointF(0.0, 0.0), Qt::white, 200.0f));
    mTimeline->InsertFrameBookmark(10);
    mTimeline->FrameBookmarkAt(10)->strokes.append(DotStroke(QPointF(0.0, 0.0), Qt::red, 100.0f));
    mTimeline->InsertFrameBookmark(9);
    mTimeline->FrameBookmarkAt(9)->strokes.append(DotStroke(QPointF(0.1, 0.0), Qt::white, 100.0f));
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->SetBackgroundFrameBookmark(mTimeline->BackgroundFrameBookmark());
    overlay->UpdateForegroundBookmark();
    overlay->SetGhostingVisible(true);
    QVERIFY(IsRed(mScene->Grab().pixelColor(200, 150)));

    overlay->OnActiveToolChanged(AnnotationToolType::Eraser);
    Settings::annotationToolSize = 60.0f;
    overlay->BeginStroke(QPoint(160, 150));
    overlay->AppendToStroke(QPoint(200, 150), false);
    overlay->AppendToStroke(QPoint(300, 150), false);
    for (int pass = 0; pass < 2; ++pass) // while erasing, and after
    {
        QImage const image = mScene->Grab();
        QVERIFY2(Near(image.pixelColor(200, 150), Qt::white, 8), qPrintable(image.pixelColor(200, 150).name()));
        // The ghost under the eraser's path stays.
        QVERIFY(!IsBlack(image.pixelColor(250, 150)));
        overlay->EndStroke();
    }
    QCOMPARE(mTimeline->FrameBookmarkAt(10)->strokes.last().type, 2);
    QCOMPARE(mTimeline->BackgroundFrameBookmark()->strokes.size(), 1);
}

void TestAnnotationsPaint::BackgroundFill()
{
    QPoint const inside(200, 150);
    QPoint const above(200, 20); // the 225-high picture starts at 37.5
    QVERIFY(IsBlack(mScene->Grab().pixelColor(inside)));
    mScene->overlay->SetBackgroundColor(QColor(0, 0, 255));
    QVERIFY(IsBlack(mScene->Grab().pixelColor(inside)));
    QCOMPARE(Settings::annotationBackgroundColor.alpha(), 0);

    mScene->overlay->SetBackgroundOpacity(255);
    QImage image = mScene->Grab();
    QCOMPARE(image.pixelColor(inside), QColor(0, 0, 255));
    QVERIFY(IsBlack(image.pixelColor(above)));
    Settings::annotationBackgroundFillsViewport = true;
    mScene->overlay->DoUpdate();
    QCOMPARE(mScene->Grab().pixelColor(above), QColor(0, 0, 255));
}

void TestAnnotationsPaint::ReplacedBackgroundIsRepainted()
{
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->SetActiveLayer(AnnotationLayer::Background);
    overlay->BeginStroke(QPoint(100, 100));
    overlay->AppendToStroke(QPoint(120, 100), false);
    auto* replacement = new FrameBookmark();
    replacement->strokes.append(DotStroke(QPointF(0.1, 0.1), Qt::red));
    mTimeline->SetBackgroundFrameBookmark(replacement);
    QVERIFY(IsRed(mScene->Grab().pixelColor(Scene::Screen(QPointF(0.1, 0.1)))));
    overlay->EndStroke();

    auto* fresh = new FrameBookmark(10);
    fresh->strokes.append(DotStroke(QPointF(-0.1, -0.1), Qt::red));
    mTimeline->SourceClip()->SetFrameBookmarks({fresh});
    QVERIFY(IsRed(mScene->Grab().pixelColor(Scene::Screen(QPointF(-0.1, -0.1)))));
}

void TestAnnotationsPaint::ZeroDisplayWidthPaintsNothing()
{
    mTimeline->InsertFrameBookmark(10);
    mTimeline->FrameBookmarkAt(10)->strokes.append(DotStroke(QPointF(0.0, 0.0), Qt::red));
    mTimeline->FrameBookmarkAt(10)->strokes.append(StrokeData {{QPointF(0, 0)}, {}, 5.0f, Qt::red, 3, "note"});
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->UpdateForegroundBookmark();
    QVERIFY(IsRed(mScene->Grab().pixelColor(200, 150)));
    overlay->SetImageDisplayWidth(0, 0, 0);
    QImage const image = mScene->Grab();
    for (int y = 0; y < image.height(); y += 7)
    {
        for (int x = 0; x < image.width(); x += 7)
        {
            QVERIFY(IsBlack(image.pixelColor(x, y)));
        }
    }
    // Drawing without a width neither divides by it nor shows anything.
    overlay->BeginStroke(QPoint(100, 100));
    overlay->AppendToStroke(QPoint(150, 100), false);
    overlay->EndStroke();
    QVERIFY(IsBlack(mScene->Grab().pixelColor(100, 100)));
}

QTEST_MAIN(TestAnnotationsPaint)
#include "tst_annotationspaint.moc"

void TestAnnotationsPaint::OnlyLayersWithStrokesDrawAnImage()
{
    AnnotationsOverlay* overlay = mScene->overlay;
    auto imagesDrawn = [overlay] {
        ImageCounter counter;
        QPainter painter(&counter);
        overlay->PaintGL(painter);
        painter.end();
        return counter.Images();
    };
    // Every layer is there, bookmarked but empty: the background, this
    // frame's, a held frame's and the ghosts'.
    Settings::numGhostedFramesPrev = 3;
    Settings::numGhostedFramesNext = 3;
    for (int frame : {8, 10, 12})
    {
        mTimeline->InsertFrameBookmark(frame);
    }
    overlay->UpdateForegroundBookmark();
    overlay->SetGhostingVisible(true);
    QVERIFY(overlay->ForegroundBookmark() != nullptr);
    QVERIFY(overlay->BackgroundBookmark() != nullptr);
    QCOMPARE(imagesDrawn(), 0);
    mTimeline->SetPlaybackFrame(11);
    overlay->UpdateForegroundBookmark();
    overlay->SetHoldFramesEnabled(true);
    QVERIFY(overlay->ForegroundBookmark() == nullptr);
    QCOMPARE(imagesDrawn(), 0);
    QVERIFY(IsBlack(mScene->Grab().pixelColor(200, 150)));

    // Each layer with strokes draws its image, and shows them as before.
    mTimeline->BackgroundFrameBookmark()->strokes.append(DotStroke(QPointF(-0.2, 0.0), Qt::red));
    mTimeline->FrameBookmarkAt(10)->strokes.append(DotStroke(QPointF(0.2, 0.0), Qt::red));
    overlay->SetBackgroundFrameBookmark(mTimeline->BackgroundFrameBookmark());
    overlay->UpdateForegroundBookmark(); // held frame 10 and the ghosts again
    QCOMPARE(imagesDrawn(), 3); // background, ghosts, held frame
    QImage const image = mScene->Grab();
    QVERIFY(IsRed(image.pixelColor(Scene::Screen(QPointF(-0.2, 0.0)))));
    QVERIFY(IsRed(image.pixelColor(Scene::Screen(QPointF(0.2, 0.0)))));
    mTimeline->SetPlaybackFrame(10);
    overlay->UpdateForegroundBookmark();
    overlay->SetGhostingVisible(false);
    QCOMPARE(imagesDrawn(), 2); // background, this frame
}
