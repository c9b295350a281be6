#include "OverlayFixtures.h"

#include "../media/EngineTestRig.h"

#include "media/AvManager.h"
#include "model/Source.h"
#include "model/VideoStreamInfo.h"
#include "viewer/ViewerOverlay.h"

#include <QtTest>

#include <cmath>
#include <memory>

using namespace OverlayFixtures;

// The viewer overlay: wipe snapping, clamping and its mask, the guides on
// screen, and the media panel across files of different kinds.
class TestViewerOverlay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void WipeSnapsWithinNinePixels();
    void WipeRotationSnapsAndShowsItsGuide();
    void WipeIsClampedAndItsMaskFollowsTheSwitch();
    void WipeSetWithoutSizeKeepsItsPlace();
    void GuidesSitAtTheirInsets();
    void EyeDropperLoupe();
    void MediaTextsFollowTheFileUnderThePlayhead();

private:
    QImage Grab()
    {
        return mHost->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    std::unique_ptr<QWidget> mHost;
    ViewerOverlay* mOverlay = nullptr;
    std::unique_ptr<Timeline> mTimeline;
};

void TestViewerOverlay::initTestCase()
{
    UseSoftwareRendering();
}

void TestViewerOverlay::init()
{
    Settings::wipeSnapEnabled = true;
    Settings::wipeSnapGuidesEnabled = true;
    mHost = std::make_unique<QWidget>();
    mHost->resize(HOST_WIDTH, HOST_HEIGHT);
    QPalette palette = mHost->palette();
    palette.setColor(QPalette::Window, Qt::black);
    mHost->setPalette(palette);
    mHost->setAutoFillBackground(true);
    mOverlay = new ViewerOverlay(nullptr, mHost.get());
    mOverlay->setGeometry(0, 0, HOST_WIDTH, HOST_HEIGHT);
    mHost->show();
    mTimeline = MovieTimeline();
    mOverlay->SetPrimaryTimeline(mTimeline.get());
}

void TestViewerOverlay::cleanup()
{
    mHost.reset();
    mTimeline.reset();
}

void TestViewerOverlay::WipeSnapsWithinNinePixels()
{
    mOverlay->SetWipeEnabled(true);
    QSignalSpy moved(mOverlay, &ViewerOverlay::WipePositionChanged);
    mOverlay->SetWipePosition(QPointF(209, 141), true);
    QCOMPARE(mOverlay->WipePosition(), QPointF(200, 150));
    QCOMPARE(moved.last().at(0).toPointF(), QPointF(200, 150));
    mOverlay->SetWipePosition(QPointF(210, 140), true);
    QCOMPARE(mOverlay->WipePosition(), QPointF(210, 140));
    mOverlay->SetWipePosition(QPointF(191, 159), true);
    QCOMPARE(mOverlay->WipePosition(), QPointF(200, 150));
    // Without the flag, or with snapping off, the point stays.
    mOverlay->SetWipePosition(QPointF(205, 145), false);
    QCOMPARE(mOverlay->WipePosition(), QPointF(205, 145));
    Settings::wipeSnapEnabled = false;
    mOverlay->SetWipePosition(QPointF(205, 145), true);
    QCOMPARE(mOverlay->WipePosition(), QPointF(205, 145));

    // The move region is 10 pixels around the handle.
    QVERIFY(mOverlay->InWipeMoveRegion(QPointF(215, 145)));
    QVERIFY(!mOverlay->InWipeMoveRegion(QPointF(216, 145)));
    // The rotate region is the line itself, on either side of the handle.
    QVERIFY(mOverlay->InWipeRotateRegion(QPointF(205, 20)));
    QVERIFY(mOverlay->InWipeRotateRegion(QPointF(206, 280)));
    QVERIFY(!mOverlay->InWipeRotateRegion(QPointF(240, 100)));
}

void TestViewerOverlay::WipeRotationSnapsAndShowsItsGuide()
{
    mOverlay->SetWipeEnabled(true);
    mOverlay->ResetWipePositionAndRotation();
    mOverlay->SetWipePosition(QPointF(120, 150), false);
    mOverlay->SetRotateHighlightsEnabled(true);
    mOverlay->SetWipeRotation(356.0, true);
    QCOMPARE(mOverlay->WipeRotation(), 0.0);
    // The cyan guide over the grey wipe line.
    QColor const guide = Grab().pixelColor(120, 280);
    QVERIFY2(guide.red() < 80 && guide.green() > 200 && guide.blue() > 200, qPrintable(guide.name()));

    mOverlay->SetWipeRotation(95.0, true);
    QCOMPARE(mOverlay->WipeRotation(), 95.0);
    QImage const image = Grab();
    QVERIFY(IsBlack(image.pixelColor(120, 280)));
    mOverlay->SetWipeRotation(-90.0, true);
    QCOMPARE(mOverlay->WipeRotation(), 270.0);
    mOverlay->SetWipeRotation(725.0, false);
    QCOMPARE(mOverlay->WipeRotation(), 5.0);
    mOverlay->SetWipeRotation(184.0, true);
    QCOMPARE(mOverlay->WipeRotation(), 180.0);

    // Turning by a point on the line below the handle keeps the handle's
    // side: the angle does not flip by 180.
    mOverlay->SetWipeRotation(0.0, false);
    mOverlay->SetWipeRotationFromPoint(QPointF(120, 250), false);
    QCOMPARE(mOverlay->WipeRotation(), 0.0);
    mOverlay->SetWipeRotationFromPoint(QPointF(220, 150), false);
    QCOMPARE(mOverlay->WipeRotation(), 90.0);
}

void TestViewerOverlay::WipeIsClampedAndItsMaskFollowsTheSwitch()
{
    QSignalSpy masks(mOverlay, &ViewerOverlay::WipeMaskChanged);
    mOverlay->SetWipeEnabled(true);
    QVERIFY(masks.last().at(0).value<QPolygonF>().size() >= 4);
    mOverlay->SetWipePosition(QPointF(-50, 500), false);
    QCOMPARE(mOverlay->WipePosition(), QPointF(0, 300));
    mOverlay->SetWipePosition(QPointF(1000, -3), false);
    QCOMPARE(mOverlay->WipePosition(), QPointF(400, 0));

    // The mask is the half plane left of the line.
    mOverlay->SetWipePosition(QPointF(200, 150), false);
    QPolygonF const polygon = masks.last().at(0).value<QPolygonF>();
    QVERIFY(polygon.containsPoint(QPointF(100, 150), Qt::OddEvenFill));
    QVERIFY(!polygon.containsPoint(QPointF(300, 150), Qt::OddEvenFill));

    // Switched off, the mask is empty: drawing is allowed everywhere.
    mOverlay->SetWipeEnabled(false);
    QVERIFY(masks.last().at(0).value<QPolygonF>().isEmpty());
    AnnotationsOverlay annotations(nullptr, 0, mHost.get());
    annotations.setGeometry(0, 0, HOST_WIDTH, HOST_HEIGHT);
    annotations.show();
    annotations.SetWipeMask(polygon);
    QVERIFY(!annotations.Contains(QPoint(300, 150)));
    QVERIFY(annotations.Contains(QPoint(100, 150)));
    annotations.SetWipeMask(masks.last().at(0).value<QPolygonF>());
    QVERIFY(annotations.Contains(QPoint(300, 150)));
}

void TestViewerOverlay::WipeSetWithoutSizeKeepsItsPlace()
{
    ViewerOverlay unsized(nullptr);
    unsized.resize(0, 0);
    unsized.SetWipeEnabled(true);
    unsized.SetWipePosition(QPointF(30, 40), false);
    unsized.resize(400, 300);
    unsized.show();
    QPointF const position = unsized.WipePosition();
    QVERIFY(std::isfinite(position.x()) && std::isfinite(position.y()));
    QCOMPARE(position, QPointF(200, 150));
    for (QPointF const& corner : unsized.WipePolygon())
    {
        QVERIFY(std::isfinite(corner.x()) && std::isfinite(corner.y()));
    }
    // A fraction set with a size survives the next resize.
    unsized.SetWipePosition(QPointF(100, 75), false);
    unsized.resize(800, 600);
    QCOMPARE(unsized.WipePosition(), QPointF(200, 150));
}

void TestViewerOverlay::GuidesSitAtTheirInsets()
{
    mOverlay->SetImageDisplayResolution(IMAGE_WIDTH, IMAGE_HEIGHT, 0);
    QSignalSpy drawable(mOverlay, &ViewerOverlay::OverlayDrawableChanged);
    mOverlay->SetOverlayDrawable(ViewerOverlayDrawable::SafeArea);
    QCOMPARE(drawable.count(), 1);
    QVERIFY(mOverlay->IsSafeAreaVisible() && !mOverlay->IsGridVisible());
    QImage image = Grab();
    auto whiteNear = [&image](int x, int y, bool vertical) {
        for (int d = -1; d <= 1; ++d)
        {
            QColor const c = vertical ? image.pixelColor(x + d, y) : image.pixelColor(x, y + d);
            if (c.red() > 200 && c.green() > 200 && c.blue() > 200)
            {
                return true;
            }
        }
        return false;
    };
    // 3.5 % and 5 % in from the picture's edges, on every side.
    QVERIFY(whiteNear(14, 150, true));
    QVERIFY(whiteNear(20, 150, true));
    QVERIFY(whiteNear(386, 150, true));
    QVERIFY(whiteNear(380, 150, true));
    QVERIFY(whiteNear(200, 45, false));
    QVERIFY(whiteNear(200, 49, false));
    QVERIFY(IsBlack(image.pixelColor(17, 150)));
    QVERIFY(IsBlack(image.pixelColor(200, 150)));

    mOverlay->SetOverlayDrawable(ViewerOverlayDrawable::Center);
    image = Grab();
    QVERIFY(!IsBlack(image.pixelColor(200, 150)));
    QVERIFY(IsBlack(image.pixelColor(14, 150)));

    // No clips, or no picture size: no guides.
    mOverlay->SetOverlayDrawable(ViewerOverlayDrawable::Grid);
    image = Grab();
    QVERIFY(whiteNear(int(400 * 0.333), 100, true));
    mOverlay->SetImageDisplayResolution(0, 0, 0);
    image = Grab();
    QVERIFY(!whiteNear(int(400 * 0.333), 100, true));
    mOverlay->SetImageDisplayResolution(IMAGE_WIDTH, IMAGE_HEIGHT, 0);
    Timeline empty(nullptr, true);
    mOverlay->SetPrimaryTimeline(&empty);
    image = Grab();
    QVERIFY(!whiteNear(int(400 * 0.333), 100, true));
    mOverlay->SetPrimaryTimeline(nullptr);
}

void TestViewerOverlay::EyeDropperLoupe()
{
    QSignalSpy requests(mOverlay, &ViewerOverlay::EyeDropperColorUpdateRequired);
    mOverlay->SetEyeDropperEnabled(true);
    QVERIFY(mOverlay->hasMouseTracking());
    QCOMPARE(requests.count(), 1);
    mOverlay->UpdateEyeDropper(QPoint(200, 150));
    QCOMPARE(requests.last().at(0).toPoint(), QPoint(200, 150));
    mOverlay->SetEyeDropperColor(QColor(0, 200, 0));
    QImage const image = Grab();
    // The ring in the picked colour around a 40-pixel hole.
    QCOMPARE(image.pixelColor(200, 120), QColor(0, 200, 0));
    QCOMPARE(image.pixelColor(230, 150), QColor(0, 200, 0));
    QVERIFY(IsBlack(image.pixelColor(200, 150)));
    mOverlay->SetEyeDropperEnabled(false);
    QVERIFY(!mOverlay->hasMouseTracking());
    QVERIFY(IsBlack(Grab().pixelColor(200, 120)));
}

void TestViewerOverlay::MediaTextsFollowTheFileUnderThePlayhead()
{
    // One edit timeline: a video with sound, an audio-only file and a
    // silent video with wide pixels, so that the file under the playhead
    // changes straight from one to the next. The engine goes first.
    auto video = EngineTestRig::SourceTimeline(QStringLiteral("h264_gop250.mp4"));
    auto audio = EngineTestRig::SourceTimeline(QStringLiteral("tone.wav"));
    auto wide = EngineTestRig::SourceTimeline(QStringLiteral("par2.mp4"));
    auto edit = EngineTestRig::EditTimeline({video.get(), audio.get(), wide.get()});
    AvManager av;
    ViewerOverlay overlay(&av);
    overlay.SetMediaInfoVisible(true);
    QStringList texts = overlay.MediaInfoTexts();
    QCOMPARE(texts.size(), 8);
    QVERIFY(texts.join(QString()).isEmpty());

    overlay.SetPrimaryTimeline(edit.get());
    overlay.SetImageDisplayResolution(400.4f, 300.5f, 0);
    av.DecodeTimeline(edit.get(), 0, false, true, false);
    QTRY_COMPARE(av.PrimaryTimeline(), edit.get());
    auto showClip = [&](int index, Timeline* source) {
        av.SetPlaybackTime(edit->ClipStartTimeAtIndex(index) + 1000, false, false, false, true);
        bool const shown =
            QTest::qWaitFor([&] { return av.PrimaryTimelineSourceAtCurrentTime() == source->SourcePtr(); });
        overlay.UpdateMediaInfo();
        return shown;
    };

    QVERIFY(showClip(0, video.get()));
    texts = overlay.MediaInfoTexts();
    QCOMPARE(texts.at(0), QStringLiteral("h264_gop250.mp4"));
    QCOMPARE(texts.at(1), video->SourcePtr()->MediaPath());
    VideoStreamInfo const* stream = video->SourcePtr()->VideoStreamInfoAtIndex(0, 0);
    QVERIFY(stream && stream->frameCount > 280);
    QCOMPARE(texts.at(2), QStringLiteral("%1 (@ 23.976 fps)").arg(stream->frameCount));
    QVERIFY(texts.at(3).endsWith(QStringLiteral(" seconds)")));
    QCOMPARE(texts.at(4), QStringLiteral("320x240"));
    QCOMPARE(texts.at(5), QStringLiteral("400x301"));
    QCOMPARE(texts.at(6), QStringLiteral("h264"));
    QCOMPARE(texts.at(7), QStringLiteral("aac"));

    // An audio-only file leaves nothing of the video behind.
    QVERIFY(showClip(1, audio.get()));
    texts = overlay.MediaInfoTexts();
    QCOMPARE(texts.at(0), QStringLiteral("tone.wav"));
    QVERIFY(texts.at(2).isEmpty());
    QVERIFY(texts.at(4).isEmpty());
    QVERIFY(texts.at(6).isEmpty());
    QCOMPARE(texts.at(7), QStringLiteral("pcm_s16le"));

    // A silent video with wide pixels: the PAR suffix, no audio codec.
    QVERIFY(showClip(2, wide.get()));
    texts = overlay.MediaInfoTexts();
    QCOMPARE(texts.at(0), QStringLiteral("par2.mp4"));
    QCOMPARE(texts.at(4), QStringLiteral("160x120 (PAR: 2)"));
    QCOMPARE(texts.at(6), QStringLiteral("h264"));
    QVERIFY(texts.at(7).isEmpty());
    av.ClearAll(true, 1000);
}

QTEST_MAIN(TestViewerOverlay)
#include "tst_vieweroverlay.moc"
