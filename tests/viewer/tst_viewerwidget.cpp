// TESSARIN_TEST: own-home
// The viewer widget's frame slots, driven with synthetic frames, and its
// layout, wipe, pan/zoom and frame-rate rules (software viewer).
#include "ViewerTestRig.h"
#include "../media/EngineTestRig.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/VideoFrame.h"
#include "model/FrameBookmark.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "viewer/AnnotationsOverlay.h"
#include "viewer/ViewerBase.h"
#include "viewer/ViewerOverlay.h"
#include "viewer/ViewerWidget.h"
#include "viewer/ViewportOutput.h"

#include <QSignalSpy>
#include <QtTest>

using FramePtr = std::shared_ptr<VideoFrame>;

class TestViewerWidget : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void FrameCoveringThePlaybackTimeIsShown();
    void LaterCandidateWinsWhenTwoCoverTheTime();
    void NoPictureFrameClearsTheAnnotationBookmark();
    void OutputsWithoutSlotsAreIgnored();
    void SwitchDropsFramesOfThePreviousTimeline();
    void DeletedTimelineIsNeverTouched();
    void WipeIsRefusedInTheGridWhichTurnsItOff();
    void ZoomAndPanAreClamped();
    void FrameRateResetsOnSeeksAndPlayStateChanges();

private:
    FramePtr Frame(Timeline* timeline, int frame, long long start, long long end, bool noPicture = false);

    std::unique_ptr<ProjectManager> mProjectManager;
    std::unique_ptr<ViewerWidget> mViewer;
    std::unique_ptr<Timeline> mTimeline;
    std::unique_ptr<VideoStreamInfo> mStream;
};

void TestViewerWidget::initTestCase()
{
    Settings::hardwareRenderingEnabled = false;
    Settings::LatchHardwareRendering();
    mStream = ViewerTestRig::MakeStream(64, 48);
    mProjectManager = std::make_unique<ProjectManager>();
    mViewer = std::make_unique<ViewerWidget>(mProjectManager.get(), nullptr, nullptr, nullptr);
    mViewer->resize(640, 480);
    mViewer->show();
    QVERIFY(QTest::qWaitForWindowExposed(mViewer.get()));
}

void TestViewerWidget::init()
{
    mTimeline = EngineTestRig::SourceTimeline(QStringLiteral("numbered_24fps.mp4"));
    QVERIFY(mTimeline->ClipCount() > 0);
    mTimeline->SetOutputId(0);
    mViewer->SetPrimaryTimeline(mTimeline.get());
}

void TestViewerWidget::cleanup()
{
    mViewer->SetPrimaryTimeline(nullptr);
    mViewer->SetViewerLayoutByType(ViewerLayoutType::Single);
    mViewer->ResetPanAndZoom(true);
    mTimeline.reset();
}

void TestViewerWidget::cleanupTestCase()
{
    mViewer.reset();
    mProjectManager->Shutdown();
    mProjectManager.reset();
}

FramePtr TestViewerWidget::Frame(Timeline* timeline, int frame, long long start, long long end, bool noPicture)
{
    FramePtr picture = ViewerTestRig::FlatFrame(VideoFramePixelFormat::YUV420P, 64, 48, ViewerTestRig::QUADRANTS[0],
                                                mStream.get());
    picture->timeline = timeline;
    picture->startFrame = frame;
    picture->endFrame = frame;
    picture->adjustedStartTime = start;
    picture->adjustedEndTime = end;
    picture->emptyFrame = noPicture;
    return picture;
}

void TestViewerWidget::FrameCoveringThePlaybackTimeIsShown()
{
    Timeline* const t = mTimeline.get();
    FramePtr const previous = Frame(t, 0, 0, 39999);
    FramePtr const current = Frame(t, 1, 40000, 79999);
    FramePtr const next = Frame(t, 2, 80000, 119999);
    QSignalSpy shown(mViewer.get(), &ViewerWidget::PrimaryVideoFrameChanged);
    mViewer->UpdateVideoFrameCache(0, current, previous, next);
    QCOMPARE(mViewer->FrameInSlot(0, 0), current);
    QCOMPARE(mViewer->FrameInSlot(0, 1), next);
    QCOMPARE(mViewer->FrameInSlot(0, 2), previous);
    QCOMPARE(mViewer->FrameInSlot(0, 3), current);
    QCOMPARE(mViewer->ViewerPtr()->ViewportOutputByIndex(0)->frame, current);
    QCOMPARE(shown.size(), 1);

    // The first and the last microsecond of each frame.
    struct Step
    {
        long long time;
        FramePtr expected;
    };
    for (Step const& step : {Step{80000, next}, Step{119999, next}, Step{79999, current}, Step{40000, current},
                             Step{39999, previous}, Step{0, previous}, Step{120000, previous}})
    {
        mViewer->UpdateViewportFrames(step.time);
        QVERIFY2(mViewer->FrameInSlot(0, 3) == step.expected, qPrintable(QString::number(step.time)));
        QCOMPARE(mViewer->ViewerPtr()->ViewportOutputByIndex(0)->frame, step.expected);
    }
    // The same delivery again does not hand the shown frame over twice.
    shown.clear();
    mViewer->UpdateVideoFrameCache(0, previous, nullptr, current);
    QCOMPARE(shown.size(), 0);
}

void TestViewerWidget::LaterCandidateWinsWhenTwoCoverTheTime()
{
    Timeline* const t = mTimeline.get();
    FramePtr const current = Frame(t, 1, 40000, 80000);
    FramePtr const next = Frame(t, 2, 80000, 120000);
    FramePtr const previous = Frame(t, 0, 0, 80000);
    mViewer->UpdateVideoFrameCache(0, Frame(t, 5, 200000, 240000), nullptr, nullptr);
    mViewer->UpdateVideoFrameCache(0, current, previous, next);
    mViewer->UpdateViewportFrames(80000);
    // Examined in the order to show, next, previous: the last that covers stays.
    QCOMPARE(mViewer->FrameInSlot(0, 3), previous);
}

void TestViewerWidget::NoPictureFrameClearsTheAnnotationBookmark()
{
    Timeline* const t = mTimeline.get();
    QVERIFY(t->InsertFrameBookmark(3) >= 0);
    FrameBookmark* const bookmark = t->FrameBookmarkAt(3);
    QVERIFY(bookmark);
    AnnotationsOverlay* const overlay = mViewer->AnnotationsOverlayPtr();

    mViewer->UpdateVideoFrameCache(0, Frame(t, 3, 120000, 159999), nullptr, nullptr);
    QCOMPARE(overlay->ForegroundBookmark(), bookmark);
    mViewer->UpdateVideoFrameCache(0, Frame(t, 3, 120000, 159999, true), nullptr, nullptr);
    QCOMPARE(overlay->ForegroundBookmark(), nullptr);
    // Without a picture the playback frame drives the annotations.
    mViewer->UpdateNoVideoFrameBookmarks(3);
    QCOMPARE(overlay->ForegroundBookmark(), bookmark);
    mViewer->ClearBookmarks(0);
    QCOMPARE(overlay->ForegroundBookmark(), nullptr);
    // With a picture shown the playback frame does not override it.
    mViewer->UpdateVideoFrameCache(0, Frame(t, 4, 160000, 199999), nullptr, nullptr);
    mViewer->UpdateNoVideoFrameBookmarks(3);
    QCOMPARE(overlay->ForegroundBookmark(), nullptr);
    delete t->RemoveFrameBookmark(3);
}

void TestViewerWidget::OutputsWithoutSlotsAreIgnored()
{
    Timeline* const t = mTimeline.get();
    FramePtr const kept = Frame(t, 1, 40000, 79999);
    mViewer->UpdateVideoFrameCache(0, kept, nullptr, nullptr);
    for (int const outputId : {-1, 1, 15, 99})
    {
        FramePtr const other = Frame(t, 2, 80000, 119999);
        mViewer->UpdateVideoFrameCache(outputId, other, other, other);
        mViewer->UpdateVideoFrameCache(outputId, nullptr, nullptr, nullptr);
        QCOMPARE(mViewer->FrameInSlot(0, 3), kept);
        QCOMPARE(mViewer->FrameInSlot(outputId, 0), nullptr);
    }
    QCOMPARE(mViewer->ViewerPtr()->ViewportOutputByIndex(0)->frame, kept);
    // Null frames of its own output clear it (decoding ended).
    mViewer->UpdateVideoFrameCache(0, nullptr, nullptr, nullptr);
    QCOMPARE(mViewer->ViewerPtr()->ViewportOutputByIndex(0)->frame, nullptr);
}

void TestViewerWidget::SwitchDropsFramesOfThePreviousTimeline()
{
    Timeline* const first = mTimeline.get();
    std::unique_ptr<Timeline> second = EngineTestRig::SourceTimeline(QStringLiteral("numbered_24fps.mp4"));
    second->SetOutputId(0);
    FramePtr const old = Frame(first, 1, 40000, 79999);
    FramePtr const oldNext = Frame(first, 2, 80000, 119999);
    mViewer->UpdateVideoFrameCache(0, old, nullptr, oldNext);
    QCOMPARE(mViewer->FrameInSlot(0, 3), old);

    first->SetOutputId(-1);
    mViewer->SetPrimaryTimeline(second.get());
    for (int slot = 0; slot < 4; ++slot)
    {
        QCOMPARE(mViewer->FrameInSlot(0, slot), nullptr);
    }
    QCOMPARE(mViewer->ViewerPtr()->ViewportOutputByIndex(0)->frame, nullptr);
    // Queued before the switch: dropped, and none shown at any time.
    mViewer->UpdateVideoFrameCache(0, oldNext, old, nullptr);
    mViewer->UpdateViewportFrames(40000);
    mViewer->UpdateViewportFrames(80000);
    QCOMPARE(mViewer->FrameInSlot(0, 3), nullptr);
    QCOMPARE(mViewer->ViewerPtr()->ViewportOutputByIndex(0)->frame, nullptr);
    // The new timeline's frames are shown.
    FramePtr const fresh = Frame(second.get(), 1, 40000, 79999);
    mViewer->UpdateVideoFrameCache(0, fresh, nullptr, nullptr);
    QCOMPARE(mViewer->FrameInSlot(0, 3), fresh);
    mViewer->SetPrimaryTimeline(nullptr);
}

void TestViewerWidget::DeletedTimelineIsNeverTouched()
{
    auto* const doomed = new Timeline(nullptr, true);
    doomed->SetOutputId(0);
    mViewer->SetPrimaryTimeline(doomed);
    FramePtr const frame = Frame(doomed, 0, 0, 39999);
    FramePtr const next = Frame(doomed, 1, 40000, 79999);
    mViewer->UpdateVideoFrameCache(0, frame, nullptr, next);
    QCOMPARE(mViewer->FrameInSlot(0, 3), frame);
    delete doomed;
    QCOMPARE(mViewer->PrimaryTimeline(), nullptr);
    QCOMPARE(mViewer->FrameInSlot(0, 1), nullptr);
    QCOMPARE(mViewer->ViewerPtr()->ViewportOutputByIndex(0)->frame, nullptr);
    // Frames still queued name the deleted timeline: compared, never read.
    mViewer->UpdateVideoFrameCache(0, next, frame, nullptr);
    mViewer->UpdateViewportFrames(40000);
    mViewer->UpdateNoVideoFrameBookmarks(1);
    QCOMPARE(mViewer->FrameInSlot(0, 3), nullptr);
    mViewer->ZoomIn();
    mViewer->ResetPanAndZoom(true);
}

void TestViewerWidget::WipeIsRefusedInTheGridWhichTurnsItOff()
{
    QSignalSpy wipe(mViewer.get(), &ViewerWidget::ViewerWipeStateChanged);
    QSignalSpy layout(mViewer.get(), &ViewerWidget::ViewerLayoutChanged);
    mViewer->SetViewerLayoutByType(ViewerLayoutType::Grid);
    QCOMPARE(layout.constLast().at(0).value<ViewerLayoutType>(), ViewerLayoutType::Grid);
    wipe.clear();
    mViewer->SetWipeEnabled(true);
    QCOMPARE(wipe.size(), 0);
    QVERIFY(!mViewer->IsWipeEnabled());

    mViewer->SetViewerLayoutByType(ViewerLayoutType::Single);
    mViewer->SetViewerOverlayDrawable(ViewerOverlayDrawable::Grid);
    QVERIFY(mViewer->IsGridVisible());
    mViewer->SetWipeEnabled(true);
    QCOMPARE(wipe.constLast().at(0).toBool(), true);
    QVERIFY(mViewer->IsWipeEnabled() && mViewer->ViewerPtr()->WipeEnabled());

    QSignalSpy drawable(mViewer.get(), &ViewerWidget::ViewerOverlayDrawableChanged);
    mViewer->SetViewerLayoutByType(ViewerLayoutType::HorizontalSplit);
    QCOMPARE(wipe.constLast().at(0).toBool(), false);
    QVERIFY(!mViewer->IsWipeEnabled() && !mViewer->ViewerPtr()->WipeEnabled());
    QVERIFY(!mViewer->IsGridVisible());
    QVERIFY(!drawable.isEmpty());
    QCOMPARE(drawable.constLast().at(0).value<ViewerOverlayDrawable>(), ViewerOverlayDrawable::Off);

    // A over B keeps the wipe.
    mViewer->SetViewerLayoutByType(ViewerLayoutType::AOverB);
    mViewer->SetWipeEnabled(true);
    QVERIFY(mViewer->IsWipeEnabled());
    mViewer->SetWipeEnabled(false);
}

void TestViewerWidget::ZoomAndPanAreClamped()
{
    mViewer->SetPanAndZoom(QPointF(0.0, 0.0), 0.5f, true, true);
    QCOMPARE(mViewer->ZoomFactor(), 1.0f);
    mViewer->SetPanAndZoom(QPointF(0.0, 0.0), 6.0f, true, true);
    QCOMPARE(mViewer->ZoomFactor(), 4.0f);
    mViewer->SetPanAndZoom(QPointF(1.5, -3.0), 2.0f, true, true);
    QCOMPARE(mViewer->PanInterpolation(), QPointF(1.0, -1.0));
    // The state follows the primary timeline.
    QCOMPARE(mTimeline->PanInterpolation(), QPointF(1.0, -1.0));
    QCOMPARE(mTimeline->ZoomFactor(), 2.0f);
    QVERIFY(mTimeline->IsPanAndZoomEnabled());
    // The software viewer is enlarged and moved: pan (1, -1) puts the zoomed
    // picture's left edge at the view's and its bottom at the view's.
    QCOMPARE(mViewer->ViewerPtr()->ViewerSize(), QSize(1280, 960));
    QCOMPARE(mViewer->PanZoomPositionOffset(), QPoint(0, -480));

    mViewer->SetPanAndZoom(QPointF(0.5, 0.5), 3.0f, false, true);
    mViewer->ZoomIn();
    QVERIFY(mViewer->PanAndZoomEnabled());
    QCOMPARE(mViewer->ZoomFactor(), 1.1f);
    QCOMPARE(mViewer->PanInterpolation(), QPointF(0.0, 0.0));
    mViewer->ZoomIn();
    QCOMPARE(mViewer->ZoomFactor(), 1.2f);
    mViewer->ResetPanAndZoom(false);
    mViewer->ZoomOut(); // from off: 0.9, clamped to 1.0
    QCOMPARE(mViewer->ZoomFactor(), 1.0f);
    mViewer->ResetPanAndZoom(true);
    QCOMPARE(mViewer->ViewerPtr()->ViewerSize(), mViewer->size());
    QCOMPARE(mViewer->PanZoomPositionOffset(), QPoint(0, 0));
}

void TestViewerWidget::FrameRateResetsOnSeeksAndPlayStateChanges()
{
    AvManager* const av = mProjectManager->AvManagerPtr();
    QSignalSpy fps(mViewer.get(), &ViewerWidget::FpsChanged);
    Q_EMIT av->SeekInProgress();
    QCOMPARE(fps.size(), 1);
    QCOMPARE(fps.at(0).at(0).toFloat(), 0.0f);
    QCOMPARE(fps.at(0).at(1).toBool(), true);
    Q_EMIT av->PlaybackStateChanged(true, true);
    Q_EMIT av->PlaybackStateChanged(false, true);
    QCOMPARE(fps.size(), 3);
    for (QList<QVariant> const& report : std::as_const(fps))
    {
        QCOMPARE(report.at(0).toFloat(), 0.0f);
        QCOMPARE(report.at(1).toBool(), true);
    }
}

QTEST_MAIN(TestViewerWidget)
#include "tst_viewerwidget.moc"
