// TESSARIN_TEST: xvfb
// The viewer widget's mouse, wheel and drop handling with real events on an
// X server (software viewer).
#include "ViewerTestRig.h"
#include "../media/EngineTestRig.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/VideoFrame.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "panels/UiHelpers.h"
#include "viewer/AnnotationsOverlay.h"
#include "viewer/InputThreadManager.h"
#include "viewer/ViewerWidget.h"
#include "window/PlaybackControlWidget.h"

#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using FramePtr = std::shared_ptr<VideoFrame>;

class TestViewerWidgetInput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void ScrubStepsAtTheInterval();
    void ScrubIntervalFollowsTheModifiers();
    void PressesNeedATimelineWithClipsWheelDoesNot();
    void CtrlShiftMiddleDragZooms();
    void CtrlMiddleDragPans();
    void ReleaseAfterTheTimelineWentEndsTheStroke();
    void ReleaseAfterTheTimelineWentLiftsTheScrubPause();
    void DroppedTimelinesFoldersAndFiles();
    void DroppedProjectOnlyOpensTheProject();
    void DesktopEdgesWrapAcrossThreeScreens();

private:
    void Move(QPoint position, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void Press(Qt::MouseButton button, QPoint position, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void Release(Qt::MouseButton button, QPoint position, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void Drop(QMimeData* data, QPoint position, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

    std::unique_ptr<ProjectManager> mProjectManager;
    std::unique_ptr<QWidget> mHost;
    ViewerWidget* mViewer = nullptr;
    PlaybackControlWidget* mPlaybackControl = nullptr;
    std::unique_ptr<Timeline> mTimeline;
    std::unique_ptr<VideoStreamInfo> mStream;
    QTemporaryDir mDir;
};

void TestViewerWidgetInput::initTestCase()
{
    Settings::hardwareRenderingEnabled = false;
    Settings::LatchHardwareRendering();
    Settings::endlessMouseScrub = true;
    Settings::pausePlaybackOnScrub = false;
    mStream = ViewerTestRig::MakeStream(64, 48);
    mProjectManager = std::make_unique<ProjectManager>();
    mHost = std::make_unique<QWidget>();
    mPlaybackControl = new PlaybackControlWidget(mProjectManager->AvManagerPtr(), nullptr, mHost.get());
    mViewer = new ViewerWidget(mProjectManager.get(), nullptr, nullptr, mPlaybackControl, mHost.get());
    mViewer->setGeometry(0, 0, 640, 480);
    mPlaybackControl->setGeometry(0, 480, 640, 40);
    mHost->resize(640, 520);
    mHost->move(200, 200);
    mHost->show();
    QVERIFY(QTest::qWaitForWindowExposed(mHost.get()));
}

void TestViewerWidgetInput::init()
{
    mTimeline = EngineTestRig::SourceTimeline(QStringLiteral("numbered_24fps.mp4"));
    mTimeline->SetOutputId(0);
    mViewer->SetPrimaryTimeline(mTimeline.get());
    mViewer->ResetPanAndZoom(true);
    mViewer->SetAnnotationDrawingEnabled(false);
}

void TestViewerWidgetInput::cleanup()
{
    mProjectManager->AvManagerPtr()->ClearAll(false, 5000);
    mViewer->SetPrimaryTimeline(nullptr);
    mTimeline.reset();
}

void TestViewerWidgetInput::cleanupTestCase()
{
    mHost.reset();
    mProjectManager->Shutdown();
    mProjectManager.reset();
}

void TestViewerWidgetInput::Move(QPoint position, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    QMouseEvent event(QEvent::MouseMove, position, mViewer->mapToGlobal(position), Qt::NoButton, buttons, modifiers);
    QApplication::sendEvent(mViewer, &event);
}

void TestViewerWidgetInput::Press(Qt::MouseButton button, QPoint position, Qt::KeyboardModifiers modifiers)
{
    QTest::mousePress(mViewer, button, modifiers, position);
}

void TestViewerWidgetInput::Release(Qt::MouseButton button, QPoint position, Qt::KeyboardModifiers modifiers)
{
    QTest::mouseRelease(mViewer, button, modifiers, position);
}

void TestViewerWidgetInput::Drop(QMimeData* data, QPoint position, Qt::KeyboardModifiers modifiers)
{
    QDragEnterEvent enter(position, Qt::CopyAction, data, Qt::NoButton, modifiers);
    QApplication::sendEvent(mViewer, &enter);
    QDropEvent drop(position, Qt::CopyAction, data, Qt::NoButton, modifiers);
    QApplication::sendEvent(mViewer, &drop);
}

void TestViewerWidgetInput::ScrubStepsAtTheInterval()
{
    QSignalSpy next(mViewer, &ViewerWidget::SeekNextFrameRequested);
    QSignalSpy previous(mViewer, &ViewerWidget::SeekPreviousFrameRequested);
    Press(Qt::LeftButton, QPoint(100, 200));
    Move(QPoint(119, 200), Qt::LeftButton);
    QCOMPARE(next.size(), 0);
    Move(QPoint(120, 200), Qt::LeftButton);
    QCOMPARE(next.size(), 1);
    // 45 pixels in one move: one step, anchored at the new position.
    Move(QPoint(165, 200), Qt::LeftButton);
    QCOMPARE(next.size(), 2);
    Move(QPoint(184, 200), Qt::LeftButton);
    QCOMPARE(next.size(), 2);
    Move(QPoint(146, 200), Qt::LeftButton);
    QCOMPARE(previous.size(), 0);
    Move(QPoint(145, 200), Qt::LeftButton);
    QCOMPARE(previous.size(), 1);
    Release(Qt::LeftButton, QPoint(145, 200));
    // Without the button nothing scrubs.
    Move(QPoint(300, 200), Qt::NoButton);
    QCOMPARE(next.size(), 2);
    QCOMPARE(previous.size(), 1);
}

void TestViewerWidgetInput::ScrubIntervalFollowsTheModifiers()
{
    QSignalSpy next(mViewer, &ViewerWidget::SeekNextFrameRequested);
    Press(Qt::LeftButton, QPoint(100, 200), Qt::AltModifier);
    Move(QPoint(104, 200), Qt::LeftButton, Qt::AltModifier);
    QCOMPARE(next.size(), 0);
    Move(QPoint(105, 200), Qt::LeftButton, Qt::AltModifier);
    QCOMPARE(next.size(), 1);
    // Shift: 50 pixels; both: the plain 20.
    Move(QPoint(154, 200), Qt::LeftButton, Qt::ShiftModifier);
    QCOMPARE(next.size(), 1);
    Move(QPoint(155, 200), Qt::LeftButton, Qt::ShiftModifier);
    QCOMPARE(next.size(), 2);
    Move(QPoint(175, 200), Qt::LeftButton, Qt::ShiftModifier | Qt::AltModifier);
    QCOMPARE(next.size(), 3);
    Release(Qt::LeftButton, QPoint(175, 200));
}

void TestViewerWidgetInput::PressesNeedATimelineWithClipsWheelDoesNot()
{
    mViewer->SetPrimaryTimeline(nullptr);
    QSignalSpy next(mViewer, &ViewerWidget::SeekNextFrameRequested);
    Press(Qt::LeftButton, QPoint(100, 200));
    Move(QPoint(160, 200), Qt::LeftButton);
    Release(Qt::LeftButton, QPoint(160, 200));
    QCOMPARE(next.size(), 0);
    Press(Qt::MiddleButton, QPoint(100, 200), Qt::ControlModifier | Qt::ShiftModifier);
    Move(QPoint(350, 200), Qt::MiddleButton, Qt::ControlModifier | Qt::ShiftModifier);
    Release(Qt::MiddleButton, QPoint(350, 200));
    QCOMPARE(mViewer->ZoomFactor(), 1.0f);

    QWheelEvent wheel(QPointF(100, 100), mViewer->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(mViewer, &wheel);
    QVERIFY(mViewer->PanAndZoomEnabled());
    QCOMPARE(mViewer->ZoomFactor(), 1.1f);
    QWheelEvent plain(QPointF(100, 100), mViewer->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(mViewer, &plain);
    QCOMPARE(mViewer->ZoomFactor(), 1.1f);
    QWheelEvent out(QPointF(100, 100), mViewer->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, -120),
                    Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(mViewer, &out);
    QVERIFY(std::abs(mViewer->ZoomFactor() - 1.0f) < 1e-5f);
}

void TestViewerWidgetInput::CtrlShiftMiddleDragZooms()
{
    Press(Qt::MiddleButton, QPoint(100, 200), Qt::ControlModifier | Qt::ShiftModifier);
    Move(QPoint(225, 200), Qt::MiddleButton, Qt::ControlModifier | Qt::ShiftModifier);
    Move(QPoint(350, 200), Qt::MiddleButton, Qt::ControlModifier | Qt::ShiftModifier);
    Release(Qt::MiddleButton, QPoint(350, 200));
    QVERIFY(mViewer->PanAndZoomEnabled());
    QVERIFY(std::abs(mViewer->ZoomFactor() - 1.5f) < 1e-5f);
    // Other modifiers do nothing.
    Press(Qt::MiddleButton, QPoint(100, 200), Qt::ShiftModifier);
    Move(QPoint(350, 200), Qt::MiddleButton, Qt::ShiftModifier);
    Release(Qt::MiddleButton, QPoint(350, 200));
    QVERIFY(std::abs(mViewer->ZoomFactor() - 1.5f) < 1e-5f);
}

void TestViewerWidgetInput::CtrlMiddleDragPans()
{
    // No pan drag at zoom 1.
    Press(Qt::MiddleButton, QPoint(300, 200), Qt::ControlModifier);
    Move(QPoint(400, 200), Qt::MiddleButton, Qt::ControlModifier);
    Release(Qt::MiddleButton, QPoint(400, 200));
    QCOMPARE(mViewer->PanInterpolation(), QPointF(0.0, 0.0));

    mViewer->SetPanAndZoom(QPointF(0.0, 0.0), 2.0f, true, true);
    // The overhang is 320 x 240 on each side: 160 pixels right is half of it.
    Press(Qt::MiddleButton, QPoint(300, 200), Qt::ControlModifier);
    Move(QPoint(460, 200), Qt::MiddleButton, Qt::ControlModifier);
    Move(QPoint(460, 80), Qt::MiddleButton, Qt::ControlModifier);
    Release(Qt::MiddleButton, QPoint(460, 80));
    QCOMPARE(mViewer->PanInterpolation(), QPointF(0.5, -0.5));
    // A later zoom does not apply the finished drag again.
    mViewer->ZoomIn();
    QCOMPARE(mViewer->PanInterpolation(), QPointF(0.5, -0.5));
}

void TestViewerWidgetInput::ReleaseAfterTheTimelineWentEndsTheStroke()
{
    // Strokes go into a bookmark of the timeline the engine shows.
    AvManager* const av = mProjectManager->AvManagerPtr();
    QVERIFY(mTimeline->InsertFrameBookmark(0) >= 0);
    av->DecodeTimeline(mTimeline.get(), 0, false, true, false);
    QVERIFY(QTest::qWaitFor([&] { return mViewer->FrameInSlot(0, 3) != nullptr; }, 10000));
    QVERIFY(mViewer->AnnotationsOverlayPtr()->ForegroundBookmark());
    mViewer->SetAnnotationDrawingEnabled(true);
    QPoint const centre(320, 240);
    Press(Qt::LeftButton, centre);
    InputThreadManager* const sampling = mViewer->InputThreadManagerPtr();
    QVERIFY(sampling);
    QVERIFY(sampling->IsThreadRunning());
    QVERIFY(mViewer->AnnotationsOverlayPtr()->ActiveStroke());

    // The timeline closes while the button is held.
    mViewer->SetPrimaryTimeline(nullptr);
    Release(Qt::LeftButton, centre);
    QVERIFY(!sampling->IsThreadRunning());
    QTRY_COMPARE(sampling->LiveThreadCount(), 0);
    QVERIFY(!mViewer->AnnotationsOverlayPtr()->ActiveStroke());
}

void TestViewerWidgetInput::ReleaseAfterTheTimelineWentLiftsTheScrubPause()
{
    AvManager* const av = mProjectManager->AvManagerPtr();
    av->DecodeTimeline(mTimeline.get(), 0, false, true, false);
    QVERIFY(QTest::qWaitFor([&] { return av->AllVideoFramesReceivedForCurrentTime(); }, 10000));
    av->SetLoopState(LoopState::Loop);
    av->Play(true, false);
    QVERIFY(QTest::qWaitFor([&] { return av->IsPlaying(); }, 5000));

    Press(Qt::LeftButton, QPoint(100, 200));
    QVERIFY(mPlaybackControl->IsLeftMousePauseEnabled());
    QVERIFY(!av->IsPlaying());
    mViewer->SetPrimaryTimeline(nullptr);
    Release(Qt::LeftButton, QPoint(100, 200));
    QVERIFY(!mPlaybackControl->IsLeftMousePauseEnabled());
    QTRY_VERIFY(av->IsPlaying()); // resumed as it ran
    av->Pause(DecodeBias::None);
}

void TestViewerWidgetInput::DroppedTimelinesFoldersAndFiles()
{
    QSignalSpy timelines(mViewer, &ViewerWidget::OpenTimelinesInViewerRequested);
    QSignalSpy folders(mViewer, &ViewerWidget::OpenFolderInViewerRequested);
    QSignalSpy urls(mViewer, &ViewerWidget::OpenUrlsInViewerRequested);
    QList<QUuid> const ids = {QUuid::createUuid(), QUuid::createUuid(), QUuid::createUuid()};

    auto* const data = new QMimeData();
    data->setData(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE, UiHelpers::WriteIdList(ids));
    Drop(data, QPoint(320, 240));
    QCOMPARE(timelines.size(), 1);
    QCOMPARE(timelines.at(0).at(0).value<QList<QUuid>>(), QList<QUuid>{ids.first()});
    QCOMPARE(timelines.at(0).at(1).toInt(), 0);
    QCOMPARE(timelines.at(0).at(2).toBool(), false);
    Drop(data, QPoint(320, 240), Qt::ControlModifier);
    QCOMPARE(timelines.size(), 2);
    QCOMPARE(timelines.at(1).at(0).value<QList<QUuid>>(), ids);
    delete data;

    // A corrupt payload opens nothing.
    QMimeData corrupt;
    corrupt.setData(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE, QByteArray("\x00\x00\x00\x09garbage", 11));
    Drop(&corrupt, QPoint(320, 240));
    QCOMPARE(timelines.size(), 2);

    QMimeData folder;
    folder.setData(UiHelpers::PROJECT_VIEW_FOLDER_MIME_TYPE, UiHelpers::WriteIdList({ids.at(1), ids.at(2)}));
    Drop(&folder, QPoint(10, 10));
    QCOMPARE(folders.size(), 1);
    QCOMPARE(folders.at(0).at(0).toUuid(), ids.at(1));
    Drop(&folder, QPoint(10, 10), Qt::ControlModifier);
    QCOMPARE(folders.size(), 1);

    QString const media = TestMedia::Path(QStringLiteral("numbered_24fps.mp4"));
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(media), QUrl::fromLocalFile(mDir.filePath(QStringLiteral("missing.mp4")))});
    Drop(&files, QPoint(320, 240));
    QCOMPARE(urls.size(), 1);
    QCOMPARE(urls.at(0).at(0).value<QList<QUrl>>(), QList<QUrl>{QUrl::fromLocalFile(media)});
    QCOMPARE(urls.at(0).at(1).toInt(), 0);
    QCOMPARE(urls.at(0).at(2).toInt(), 1);
    QCOMPARE(urls.at(0).at(3).toBool(), true);
    QCOMPARE(timelines.size(), 2);
}

void TestViewerWidgetInput::DroppedProjectOnlyOpensTheProject()
{
    QString const project = mDir.filePath(QStringLiteral("review.zeph"));
    QFile file(project);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{}");
    file.close();
    QSignalSpy projects(mViewer, &ViewerWidget::OpenProjectRequested);
    QSignalSpy urls(mViewer, &ViewerWidget::OpenUrlsInViewerRequested);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(project)});
    Drop(&data, QPoint(320, 240));
    QCOMPARE(projects.size(), 1);
    QCOMPARE(projects.at(0).at(0).toString(), project);
    QCOMPARE(urls.size(), 0);
}

void TestViewerWidgetInput::DesktopEdgesWrapAcrossThreeScreens()
{
    QList<QRect> const screens = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080), QRect(3840, 0, 1920, 1080)};
    mViewer->SetScreenGeometryLookup([screens](QPoint const& point) {
        for (QRect const& screen : screens)
        {
            if (screen.contains(point))
            {
                return screen;
            }
        }
        return QRect();
    });
    QPoint point(0, 500);
    QVERIFY(mViewer->EndlessMouseDragWrapped(point));
    QCOMPARE(point, QPoint(5757, 500));
    point = QPoint(5759, 500);
    QVERIFY(mViewer->EndlessMouseDragWrapped(point));
    QCOMPARE(point, QPoint(3, 500));
    point = QPoint(1919, 500); // between two screens: no edge
    QVERIFY(!mViewer->EndlessMouseDragWrapped(point));
    QCOMPARE(point, QPoint(1919, 500));
    point = QPoint(-50, 500); // on no screen
    QVERIFY(!mViewer->EndlessMouseDragWrapped(point));
    Settings::endlessMouseScrub = false;
    point = QPoint(0, 500);
    QVERIFY(!mViewer->EndlessMouseDragWrapped(point));
    Settings::endlessMouseScrub = true;
    mViewer->SetScreenGeometryLookup({});
}

QTEST_MAIN(TestViewerWidgetInput)
#include "tst_viewerwidgetinput.moc"
