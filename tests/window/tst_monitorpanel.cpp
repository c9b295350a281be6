// TESSARIN_TEST: xvfb
// The monitor panel on the real project manager and engine, in the rendering
// mode of this run: software by default, OpenGL with
// TESSARIN_TEST_HARDWARE_RENDERING=1 (latched once per process). Frames are
// read back from the number the clip carries in its pixels.
#include "../viewer/ViewerTestRig.h"
#include "ProjectTimelines.h"
#include "support/TaskHold.h"
#include "support/TestMedia.h"
#include "support/TimingBounds.h"

#include "app/KeyBindings.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/ExportProperties.h"
#include "media/export/ExportTargetLock.h"
#include "model/ProjectManager.h"
#include "model/RangeBookmark.h"
#include "model/Timeline.h"
#include "viewer/AnnotationToolsWidget.h"
#include "viewer/SnapshotManager.h"
#include "viewer/SnapshotProperties.h"
#include "viewer/ViewerControlsWidget.h"
#include "viewer/ViewerWidget.h"
#include "window/GlobalTimeControlWidget.h"
#include "window/MonitorPanel.h"
#include "window/PlaybackControlWidget.h"
#include "window/PlaybackOptionsWidget.h"
#include "window/RangeTimeControlWidget.h"
#include "window/ToolsDisplayWidget.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QImageReader>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>
#include <QtTest>

namespace
{
constexpr int VIDEO_WIDTH = 320;
constexpr int VIDEO_HEIGHT = 240;

using ViewerTestRig::ReadNumber;

// Where the red corner mark is, relative to the image centre: -1 left/top, 1 right/bottom.
QPoint RedMarkSide(QImage const& image)
{
    double sx = 0;
    double sy = 0;
    int count = 0;
    for (int y = 0; y < image.height(); y += 2)
    {
        for (int x = 0; x < image.width(); x += 2)
        {
            QRgb const c = image.pixel(x, y);
            if (qRed(c) > 160 && qGreen(c) < 80 && qBlue(c) < 80)
            {
                sx += x;
                sy += y;
                ++count;
            }
        }
    }
    if (count == 0)
    {
        return QPoint();
    }
    return QPoint(sx / count < image.width() / 2.0 ? -1 : 1, sy / count < image.height() / 2.0 ? -1 : 1);
}

QString RunTool(QString const& program, QStringList const& args, QByteArray* out = nullptr)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(60000);
    if (out)
    {
        *out = process.readAllStandardOutput();
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

int CountFrames(QString const& path)
{
    QByteArray out;
    RunTool(QStringLiteral("ffprobe"),
            {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries", "stream=nb_read_frames", "-of",
             "csv=p=0", path},
            &out);
    return QString::fromUtf8(out).trimmed().toInt();
}

double StreamDuration(QString const& path, QString const& stream)
{
    QByteArray out;
    RunTool(QStringLiteral("ffprobe"),
            {"-v", "error", "-select_streams", stream, "-show_entries", "packet=pts_time,duration_time", "-of",
             "csv=p=0", path},
            &out);
    double end = 0.0;
    for (QByteArray const& line : out.split('\n'))
    {
        QList<QByteArray> const parts = line.split(',');
        if (parts.size() >= 2)
        {
            end = std::max(end, parts[0].toDouble() + parts[1].toDouble());
        }
    }
    return end;
}

// The numbers of every frame of a file, read from its top band.
QList<int> FrameNumbers(QString const& path)
{
    QByteArray out;
    RunTool(QStringLiteral("ffmpeg"),
            {"-v", "error", "-i", path, "-vf", "scale=320:240,crop=320:32:0:0,format=gray", "-f", "rawvideo", "-"},
            &out);
    QList<int> numbers;
    int const frameSize = 320 * 32;
    for (int offset = 0; offset + frameSize <= out.size(); offset += frameSize)
    {
        int number = 0;
        for (int bit = 0; bit < 16; ++bit)
        {
            if (static_cast<unsigned char>(out[offset + 16 * 320 + bit * 20 + 10]) > 128)
            {
                number |= 1 << bit;
            }
        }
        numbers.append(number);
    }
    return numbers;
}
} // namespace

class TestMonitorPanel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void SeekAndStepSlotsShowTheirFrame();
    void EditSlotsOnTwoClipTimeline();
    void PlaybackSlotsMoveAndHold();
    void SpeedLoopVolumeSlotsReachTheEngineAndIgnoreBadSenders();
    void RangeAndBookmarkSlotsEditTheTimelineOneUndoStepEach();
    void FlipsRotationsAndResize();
    void LayoutOrdersBarsAndStrips();
    void FpsReportsRepaintTheBarOnlyWhenAsked();
    void ViewerCaptureExportsEveryFrameWithMatchingAudio();
    void SteppedCaptureAudioStartsAtFirstBookmark();
    void BookmarkCaptureWithoutBookmarksFails();
    void CancelEndsCaptureAndRefusesSecondExport();
    void AnExportIntoAnOutputAnotherExportHoldsFails();
    void SnapshotsReadTheCurrentFrame();
    void LateFramesAreSkippedNotCapturedUnderTheirNumber();
    void CaptureDeepInALongGopWaitsWhileDecodingMovesOn();
    void CaptureStopsWhenDecodingStandsStill();

private:
    void Seek(int frame);
    void OpenInViewer(Timeline* timeline);
    bool WaitCached(int frame);
    // timeout: how long the frame may take (a deep seek on one decoding
    // thread of a loaded machine takes long).
    void WaitShown(int timeout = 10000);
    int Shown(int timeout = 10000);
    ExportProperties Capture(QString const& name);
    // The long-GOP clip in the viewer, parked in its second GOP with a cache
    // freshly filled from there: nothing of the first GOP is decoded.
    Timeline* ParkInSecondGop();
    QStringList RunExport(ExportProperties const& request);

    std::unique_ptr<ProjectManager> mProjectManager;
    std::unique_ptr<KeyBindings> mKeyBindings;
    std::unique_ptr<QMainWindow> mWindow;
    MonitorPanel* mPanel = nullptr;
    ViewerWidget* mViewer = nullptr;
    AvManager* mAv = nullptr;
    Timeline* mClip = nullptr;
    Timeline* mEdit = nullptr;
    Timeline* mLongGop = nullptr;
    QUuid mEditId;
    QTemporaryDir mDir;
};

void TestMonitorPanel::initTestCase()
{
    QVERIFY(mDir.isValid());
    Settings::tempDirPath = mDir.filePath("temp");
    Settings::h264Preset = 4;
    // A capture waits for its frames as long as a loaded machine needs.
    Settings::snapshotUpdateTimeout = 120000;
    mProjectManager = std::make_unique<ProjectManager>();
    mKeyBindings = std::make_unique<KeyBindings>();
    mAv = mProjectManager->AvManagerPtr();
    mWindow = std::make_unique<QMainWindow>();
    mPanel = new MonitorPanel(mProjectManager.get(), mKeyBindings.get(), mWindow.get());
    mWindow->setCentralWidget(mPanel);
    mViewer = mPanel->ViewerWidgetPtr();
    // The window follows the panel's resize requests, as the main window does.
    connect(mPanel, &MonitorPanel::ViewerResizeRequested, mWindow.get(), [this](int w, int h) {
        QSize const viewer = mPanel->ViewerSize();
        mWindow->resize(mWindow->width() + w - viewer.width(), mWindow->height() + h - viewer.height());
    });
    mWindow->resize(900, 700);
    mWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));

    mClip = ProjectTimelines::AddSource(*mProjectManager, QStringLiteral("numbered_marked_24fps.mp4"));
    QVERIFY(mClip);
    QCOMPARE(mClip->FrameCount(), 48);
    Timeline* const second = ProjectTimelines::AddSource(*mProjectManager, QStringLiteral("numbered_24fps.mp4"));
    QVERIFY(second);
    mEditId = mProjectManager->DoAddTimelineCmd(QStringLiteral("Edit"), QUuid());
    mEdit = mProjectManager->FindTimelineById(mEditId)->TimelinePtr();
    mProjectManager->DoInsertClipsCmd(mEdit,
                                      {ProjectTimelines::ItemOf(*mProjectManager, mClip)->Id(),
                                       ProjectTimelines::ItemOf(*mProjectManager, second)->Id()},
                                      -1);
    QCOMPARE(mEdit->FrameCount(), 48 + 72);
    OpenInViewer(mClip);
}

void TestMonitorPanel::cleanupTestCase()
{
    mAv->Pause(DecodeBias::None);
    mWindow.reset();
    mProjectManager->Shutdown();
    mProjectManager.reset();
}

void TestMonitorPanel::init()
{
    mPanel->Pause();
    QVERIFY(QTest::qWaitFor([&] { return !mAv->IsPlaying(); }, 5000));
    if (mViewer->PrimaryTimeline() != mClip)
    {
        OpenInViewer(mClip);
    }
    mPanel->ClearAllBookmarks();
    mPanel->ResetRange();
    mProjectManager->UndoStackPtr()->clear();
}

void TestMonitorPanel::OpenInViewer(Timeline* timeline)
{
    TimelineItem* item = ProjectTimelines::ItemOf(*mProjectManager, timeline);
    QUuid const id = item ? item->Id() : mEditId;
    mProjectManager->DoOpenTimelinesInViewerCmd({id}, 0, false);
    QVERIFY(QTest::qWaitFor([&] { return mViewer->PrimaryTimeline() == timeline; }, 20000));
    QVERIFY(QTest::qWaitFor([&] { return mViewer->FrameInSlot(0, 3) != nullptr; }, 20000));
    mProjectManager->UndoStackPtr()->clear();
}

void TestMonitorPanel::WaitShown(int timeout)
{
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     auto const shown = mViewer->FrameInSlot(0, 3);
                     long long const time = mAv->PlaybackTime();
                     return shown && shown->adjustedStartTime <= time && time <= shown->adjustedEndTime;
                 },
                 timeout),
             "the frame never arrived");
}

// A frame step lands only on a frame the engine holds already (a step asked
// for ahead of the decoders is dropped, so a held key never piles up
// decodes): before a step the test waits until its whole frame is cached.
bool TestMonitorPanel::WaitCached(int frame)
{
    Timeline* const timeline = mViewer->PrimaryTimeline();
    if (!timeline)
    {
        return false;
    }
    auto const cached = [&](long long time) {
        return timeline->VideoCacheReadyAtTime(time) &&
               (mAv->AudioStreamDecodeCount() == 0 || timeline->AudioCacheReadyAtTime(time));
    };
    long long const start = timeline->TimeAtFrame(frame, false);
    long long const end = timeline->TimeAtFrame(frame, true) - 1;
    return QTest::qWaitFor([&] { return cached(start) && cached(end); }, 10000);
}

int TestMonitorPanel::Shown(int timeout)
{
    WaitShown(timeout);
    return ReadNumber(mViewer->CaptureImage(false));
}

void TestMonitorPanel::Seek(int frame)
{
    mPanel->GlobalTimeControl()->SetPlaybackTimeByFrame(frame, false, false);
    WaitShown();
    QCOMPARE(mPanel->GlobalTimeControl()->PlaybackFrame(), frame);
}

void TestMonitorPanel::SeekAndStepSlotsShowTheirFrame()
{
    GlobalTimeControlWidget* const bar = mPanel->GlobalTimeControl();
    mPanel->SeekTimelineEnd();
    QCOMPARE(Shown(), 47);
    mPanel->SeekTimelineStart();
    QCOMPARE(Shown(), 0);
    QVERIFY(WaitCached(1));
    mPanel->FrameStepForward();
    QCOMPARE(Shown(), 1);
    QVERIFY(WaitCached(1 + Settings::multiFrameStepSize));
    mPanel->MultiFrameStepForward();
    QCOMPARE(Shown(), 1 + Settings::multiFrameStepSize);
    QVERIFY(WaitCached(Settings::multiFrameStepSize));
    mPanel->FrameStepBackward();
    QCOMPARE(Shown(), Settings::multiFrameStepSize);
    QVERIFY(WaitCached(0));
    mPanel->MultiFrameStepBackward();
    QCOMPARE(Shown(), 0);

    bar->SetPlaybackRangeByFrame(12, 30);
    mPanel->SeekRangeEnd();
    QCOMPARE(Shown(), 30);
    mPanel->SeekRangeStart();
    QCOMPARE(Shown(), 12);
    bar->ResetRange();

    mProjectManager->DoInsertFrameBookmarkCmd(mClip, 8);
    mProjectManager->DoInsertFrameBookmarkCmd(mClip, 20);
    Seek(14);
    mPanel->SeekNextBookmark();
    QCOMPARE(Shown(), 20);
    mPanel->SeekPreviousBookmark();
    QCOMPARE(Shown(), 8);
    mPanel->ClearAllBookmarks();
    QVERIFY(mClip->FrameBookmarkList().isEmpty());
    mProjectManager->UndoStackPtr()->clear();
}

void TestMonitorPanel::EditSlotsOnTwoClipTimeline()
{
    OpenInViewer(mEdit);
    GlobalTimeControlWidget* const bar = mPanel->GlobalTimeControl();
    Seek(10);
    // The bar's number follows the picture: it is read once that is shown.
    mPanel->SeekNextEdit();
    QCOMPARE(Shown(), 0); // the second clip's first frame
    QCOMPARE(bar->PlaybackFrame(), 48);
    Seek(47);
    QCOMPARE(Shown(), 47); // the first clip's last frame
    Seek(70);
    QCOMPARE(Shown(), 22);
    mPanel->SeekPreviousEdit();
    WaitShown();
    QCOMPARE(bar->PlaybackFrame(), 48);
    mPanel->SeekPreviousEdit();
    QCOMPARE(Shown(), 0);
    QCOMPARE(bar->PlaybackFrame(), 0);
    OpenInViewer(mClip);
}

void TestMonitorPanel::PlaybackSlotsMoveAndHold()
{
    GlobalTimeControlWidget* const bar = mPanel->GlobalTimeControl();
    mPanel->SetLoopState(LoopState::Loop);
    Seek(4);
    mPanel->PlayForwards();
    QVERIFY(QTest::qWaitFor([&] { return bar->PlaybackFrame() >= 10; }, 10000));
    mPanel->Pause();
    QVERIFY(QTest::qWaitFor([&] { return !mAv->IsPlaying(); }, 5000));
    int const held = Shown();
    QCOMPARE(held, bar->PlaybackFrame());
    // Proves that the paused playhead stays: no event says nothing moved, so
    // the test gives the engine a few frame periods to move it (and stops
    // early when it does).
    QSignalSpy moved(mAv, &AvManager::PlaybackFrameChanged);
    static_cast<void>(moved.wait(150));
    QCOMPARE(Shown(), held);

    // Bookmarks only: the engine plays stepped, the picture shows bookmarks only.
    mProjectManager->DoInsertFrameBookmarkCmd(mClip, 6);
    mProjectManager->DoInsertFrameBookmarkCmd(mClip, 30);
    Seek(6);
    mPanel->TogglePlayPauseBookmarksOnly();
    QVERIFY(mAv->IsPlaying());
    QVERIFY(mAv->IsSteppedPlayback());
    QSet<int> seen;
    QVERIFY(QTest::qWaitFor(
        [&] {
            seen.insert(ReadNumber(mViewer->CaptureImage(false)));
            return bar->PlaybackFrame() > 31;
        },
        10000));
    mPanel->TogglePlayPauseBookmarksOnly();
    QVERIFY(QTest::qWaitFor([&] { return !mAv->IsPlaying(); }, 5000));
    seen.remove(-1);
    QString shownText;
    for (int n : seen)
    {
        shownText += QString::number(n) + QLatin1Char(' ');
    }
    QVERIFY(seen.contains(6));
    // Known fault outside the panel, depending on timing: the viewer may show
    // the neighbour frames the engine hands over with a bookmark as the clock
    // passes their time. Reported, not asserted.
    if (!(seen - QSet<int>{6, 30}).isEmpty())
    {
        qWarning() << "bookmarks-only playback showed frames" << shownText;
    }

    Seek(40);
    mPanel->PlayBackwards();
    QVERIFY(QTest::qWaitFor([&] { return bar->PlaybackFrame() <= 34 && bar->PlaybackFrame() > 0; }, 10000));
    mPanel->Pause();
    QVERIFY(QTest::qWaitFor([&] { return !mAv->IsPlaying(); }, 5000));

    mPanel->ClearAllBookmarks();
    mProjectManager->UndoStackPtr()->clear();
}

void TestMonitorPanel::SpeedLoopVolumeSlotsReachTheEngineAndIgnoreBadSenders()
{
    mPanel->SetPlaybackSpeed(2.0f);
    QCOMPARE(mAv->PlaybackSpeed(), 2.0f);
    QAction speedAction;
    speedAction.setData(0.5f);
    connect(&speedAction, &QAction::triggered, mPanel, &MonitorPanel::SetPlaybackSpeedBySender);
    speedAction.trigger();
    QCOMPARE(mAv->PlaybackSpeed(), 0.5f);
    // A sender that is not an action changes nothing.
    QPushButton button;
    button.setProperty("data", 2);
    connect(&button, &QPushButton::clicked, mPanel, &MonitorPanel::SetPlaybackSpeedBySender);
    connect(&button, &QPushButton::clicked, mPanel, &MonitorPanel::SetLoopStateBySender);
    mPanel->SetLoopState(LoopState::Off);
    button.click();
    QCOMPARE(mAv->PlaybackSpeed(), 0.5f);
    QCOMPARE(mAv->ActiveLoopState(), LoopState::Off);
    mPanel->SetPlaybackSpeed(1.0f);

    QAction loopAction;
    connect(&loopAction, &QAction::triggered, mPanel, &MonitorPanel::SetLoopStateBySender);
    loopAction.setData(2);
    loopAction.trigger();
    QCOMPARE(mAv->ActiveLoopState(), LoopState::PingPong);
    for (int bad : {3, -1, 99})
    {
        loopAction.setData(bad);
        loopAction.trigger();
        QCOMPARE(mAv->ActiveLoopState(), LoopState::PingPong);
    }
    mPanel->ToggleLoopState();
    QVERIFY(mAv->ActiveLoopState() != LoopState::PingPong);
    mPanel->SetLoopState(LoopState::Loop);

    Settings::volume = 50;
    mPanel->IncreaseVolume();
    QVERIFY(Settings::volume > 50);
    int const raised = Settings::volume;
    mPanel->DecreaseVolume();
    mPanel->DecreaseVolume();
    QVERIFY(Settings::volume < raised);
    bool const muted = Settings::muted;
    mPanel->ToggleMute();
    QCOMPARE(Settings::muted, !muted);
    mPanel->ToggleMute();
    QCOMPARE(Settings::muted, muted);
}

void TestMonitorPanel::RangeAndBookmarkSlotsEditTheTimelineOneUndoStepEach()
{
    QUndoStack* const undo = mProjectManager->UndoStackPtr();
    undo->clear();
    Seek(10);
    mPanel->RangeStartToCurrent();
    QCOMPARE(mClip->PlaybackRangeStartFrame(), 10);
    QCOMPARE(undo->count(), 1);
    Seek(20);
    mPanel->RangeEndToCurrent();
    QCOMPARE(mClip->PlaybackRangeEndFrame(), 20);
    QCOMPARE(undo->count(), 2);

    mPanel->ToggleRangeBoomark();
    QCOMPARE(mClip->RangeBookmarkList().size(), 1);
    QCOMPARE(undo->count(), 3);
    mPanel->ResetRange();
    QCOMPARE(mClip->PlaybackRangeStartFrame(), 0);
    QCOMPARE(mClip->PlaybackRangeEndFrame(), 47);
    QCOMPARE(undo->count(), 4);

    for (int frame : {5, 15, 40})
    {
        Seek(frame);
        mPanel->ToggleBookmark();
        QVERIFY(mClip->FrameBookmarkAt(frame));
    }
    QCOMPARE(undo->count(), 7);
    Seek(40);
    mPanel->ToggleBookmark();
    QVERIFY(!mClip->FrameBookmarkAt(40));
    QCOMPARE(undo->count(), 8);

    // Inside the range 10-20: only 15 goes.
    mPanel->GlobalTimeControl()->SetPlaybackRangeByFrame(10, 20);
    int count = undo->count();
    mPanel->RemoveBookmarksInRange();
    QVERIFY(!mClip->FrameBookmarkAt(15));
    QVERIFY(mClip->FrameBookmarkAt(5));
    QCOMPARE(undo->count(), count + 1);
    mPanel->RemoveRangeBookmarks();
    QVERIFY(mClip->RangeBookmarkList().isEmpty());
    QVERIFY(mClip->FrameBookmarkAt(5));
    QCOMPARE(undo->count(), count + 2);
    mPanel->RemoveBookmarks();
    QVERIFY(mClip->FrameBookmarkList().isEmpty());
    QCOMPARE(undo->count(), count + 3);

    Seek(12);
    mPanel->ToggleBookmark();
    mPanel->ToggleRangeBoomark();
    count = undo->count();
    mPanel->ClearAllBookmarks();
    QVERIFY(mClip->FrameBookmarkList().isEmpty());
    QVERIFY(mClip->RangeBookmarkList().isEmpty());
    QCOMPARE(undo->count(), count + 1);
    undo->undo();
    QVERIFY(mClip->FrameBookmarkAt(12));
    QCOMPARE(mClip->RangeBookmarkList().size(), 1);
    mPanel->ClearAllBookmarks();
    mPanel->ResetRange();
    undo->clear();
}

void TestMonitorPanel::FlipsRotationsAndResize()
{
    Seek(3);
    QCOMPARE(RedMarkSide(mViewer->CaptureImage(false)), QPoint(-1, 1));
    mPanel->SetHorizontalFlipEnabled(true);
    QTRY_COMPARE(RedMarkSide(mViewer->CaptureImage(false)), QPoint(1, 1));
    mPanel->SetHorizontalFlipEnabled(false);
    mPanel->SetVerticalFlipEnabled(true);
    QTRY_COMPARE(RedMarkSide(mViewer->CaptureImage(false)), QPoint(-1, -1));
    mPanel->ResetFlipAndRotate();
    mPanel->RotateClockwise();
    QTRY_COMPARE(RedMarkSide(mViewer->CaptureImage(false)), QPoint(-1, -1));
    mPanel->ResetFlipAndRotate();
    mPanel->RotateCounterClockwise();
    QTRY_COMPARE(RedMarkSide(mViewer->CaptureImage(false)), QPoint(1, 1));
    mPanel->ResetFlipAndRotate();
    QTRY_COMPARE(RedMarkSide(mViewer->CaptureImage(false)), QPoint(-1, 1));
    QCOMPARE(Shown(), 3);

    QSignalSpy resize(mPanel, &MonitorPanel::ViewerResizeRequested);
    mPanel->ResizeViewer(0.5f);
    QCOMPARE(resize.count(), 1);
    QCOMPARE(resize.at(0).at(0).toInt(), VIDEO_WIDTH / 2);
    QCOMPARE(resize.at(0).at(1).toInt(), VIDEO_HEIGHT / 2);
}

void TestMonitorPanel::FpsReportsRepaintTheBarOnlyWhenAsked()
{
    // Hidden, the bar asks for each repaint by a signal.
    GlobalTimeControlWidget* const global = mPanel->GlobalTimeControl();
    global->hide();
    auto const restore = qScopeGuard([global] { global->show(); });
    QSignalSpy repaints(global, &TimeControlBaseWidget::UpdateRequested);
    emit mViewer->FpsChanged(12.34f, false);
    QCOMPARE(global->Fps(), 12.3f);
    QCOMPARE(repaints.count(), 0);
    emit mViewer->FpsChanged(23.96f, true);
    QCOMPARE(global->Fps(), 24.0f);
    QCOMPARE(repaints.count(), 1);
}

void TestMonitorPanel::LayoutOrdersBarsAndStrips()
{
    QVBoxLayout* const column = mPanel->ViewerColumn();
    QWidget* const viewer = mViewer;
    QWidget* const global = mPanel->GlobalTimeControl();
    QWidget* const range = mPanel->RangeTimeControl();
    auto order = [&] {
        QList<QWidget*> widgets;
        for (int i = 0; i < column->count(); ++i)
        {
            widgets.append(column->itemAt(i)->widget());
        }
        return widgets;
    };
    // Default: range above, global below.
    QCOMPARE(order(), (QList<QWidget*>{range, viewer, global}));
    mPanel->ToggleTimeControlPosition(mPanel->RangeTimeControl());
    QCOMPARE(order(), (QList<QWidget*>{viewer, range, global}));
    mPanel->ToggleTimeControlPosition(mPanel->GlobalTimeControl());
    QCOMPARE(order(), (QList<QWidget*>{global, viewer, range}));
    mPanel->ToggleTimeControlPosition(mPanel->RangeTimeControl());
    QCOMPARE(order(), (QList<QWidget*>{global, range, viewer}));
    mPanel->ToggleTimeControlPosition(nullptr);
    QCOMPARE(order(), (QList<QWidget*>{global, range, viewer}));
    mPanel->ToggleTimeControlPosition(mPanel->GlobalTimeControl());
    QCOMPARE(order(), (QList<QWidget*>{range, viewer, global}));

    // What the user sees: the viewer between its bars, the strips below.
    QTRY_VERIFY(mPanel->PlaybackControl()->isVisible());
    QCOMPARE(mPanel->ToolsDisplay()->isVisible(), true);
    QVERIFY(!mPanel->ViewerControls()->isVisible());
    QVERIFY(!mPanel->AnnotationTools()->isVisible());
    QCoreApplication::processEvents();
    int const stripsTop = mPanel->PlaybackControl()->geometry().top();
    QVERIFY(mPanel->PlaybackOptions()->geometry().top() >= mViewer->geometry().bottom());
    QVERIFY(stripsTop > mViewer->geometry().bottom());
    if (Settings::HardwareRenderingInUse())
    {
        QVERIFY(!global->isVisible() && !range->isVisible()); // drawn inside the OpenGL viewer
    }
    else
    {
        QVERIFY(range->geometry().bottom() < mViewer->geometry().top());
        QVERIFY(global->geometry().top() > mViewer->geometry().bottom());
        QVERIFY(global->geometry().bottom() < stripsTop);
        QImage const grab = mPanel->grab().toImage();
        QCOMPARE(ReadNumber(grab.copy(mViewer->geometry())), ReadNumber(mViewer->CaptureImage(false)));
    }
}

ExportProperties TestMonitorPanel::Capture(QString const& name)
{
    ExportProperties request;
    request.outputFilePath = mDir.filePath(name);
    request.exportName = QFileInfo(name).completeBaseName();
    request.width = VIDEO_WIDTH;
    request.height = VIDEO_HEIGHT;
    request.frameRate = 24.0f;
    request.h264Preset = Settings::h264Preset;
    request.viewerCapture = true;
    request.ignoreRange = true;
    return request;
}

// Runs an export to its end; the lines it logged.
QStringList TestMonitorPanel::RunExport(ExportProperties const& request)
{
    QStringList lines;
    QSize const size = mWindow->geometry().size();
    QMetaObject::Connection const log =
        connect(mPanel, &MonitorPanel::ExportLogMsgReceived, this,
                [&lines](QString const& message, ExportLoggingMsgType, bool) { lines << message; });
    mPanel->ExportToFile(request);
    bool const ended = QTest::qWaitFor([&] { return mPanel->CurrentExport() == nullptr; }, 120000);
    disconnect(log);
    if (!ended)
    {
        lines << QStringLiteral("did not end");
    }
    else if (request.viewerCapture)
    {
        // The window server hands the restored size back later: a test that
        // reads the geometry next must not read the capture's.
        static_cast<void>(QTest::qWaitFor([&] { return mWindow->geometry().size() == size; }, 10000));
    }
    return lines;
}

void TestMonitorPanel::ViewerCaptureExportsEveryFrameWithMatchingAudio()
{
    QRect const geometry = mWindow->geometry();
    bool const global = Settings::globalTimeControlVisible;
    bool const strips = Settings::playbackControlsVisible;
    // A step shortcut works outside a capture...
    QAction step(mWindow.get());
    step.setShortcut(QKeySequence(Qt::Key_Right));
    step.setShortcutContext(Qt::ApplicationShortcut);
    mWindow->addAction(&step);
    connect(&step, &QAction::triggered, mPanel, &MonitorPanel::FrameStepForward);
    mWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
    Seek(2);
    QVERIFY(WaitCached(3));
    QTest::keyClick(mWindow.get(), Qt::Key_Right);
    QTRY_COMPARE(mPanel->GlobalTimeControl()->PlaybackFrame(), 3);
    // ...and is dropped while one runs: the pictures stay in order.
    QTimer presser;
    connect(&presser, &QTimer::timeout, this, [&] {
        QTest::keyClick(mWindow.get(), Qt::Key_Right);
        QTest::mouseClick(mPanel->GlobalTimeControl(), Qt::LeftButton);
    });
    presser.start(20);
    QStringList const lines = RunExport(Capture(QStringLiteral("capture.mp4")));
    presser.stop();
    QVERIFY2(lines.contains(QStringLiteral("\nExport completed successfully.")), qPrintable(lines.join('|')));
    QString const path = mDir.filePath("capture.mp4");
    QCOMPARE(CountFrames(path), 48);
    QList<int> const numbers = FrameNumbers(path);
    QCOMPARE(numbers.size(), 48);
    for (int n = 0; n < numbers.size(); ++n)
    {
        QCOMPARE(numbers[n], n);
    }
    double const video = StreamDuration(path, "v:0");
    double const audio = StreamDuration(path, "a:0");
    QVERIFY2(std::abs(audio - video) <= 1.0 / 24.0 + 1e-3, qPrintable(QStringLiteral("%1 %2").arg(audio).arg(video)));

    // The monitor comes back as it was.
    QCOMPARE(Settings::globalTimeControlVisible, global);
    QCOMPARE(Settings::playbackControlsVisible, strips);
    QCOMPARE(mPanel->PlaybackControl()->isVisible(), strips);
    QCOMPARE(mPanel->ToolsDisplay()->isVisible(), strips);
    QVERIFY(!mPanel->ViewerControls()->isVisible());
    QVERIFY(!Settings::viewerControlsVisible);
    QVERIFY(!Settings::annotationToolsVisible);
    QVERIFY(!Settings::exportInProgress);
    QTRY_COMPARE(mWindow->geometry().size(), geometry.size());
}

void TestMonitorPanel::SteppedCaptureAudioStartsAtFirstBookmark()
{
    mProjectManager->DoInsertFrameBookmarkCmd(mClip, 10);
    mProjectManager->DoInsertFrameBookmarkCmd(mClip, 14);
    ExportProperties request = Capture(QStringLiteral("stepped.mp4"));
    request.framesMode = 2;
    QStringList const lines = RunExport(request);
    QVERIFY2(lines.contains(QStringLiteral("\nExport completed successfully.")), qPrintable(lines.join('|')));
    QString const path = mDir.filePath("stepped.mp4");
    QCOMPARE(CountFrames(path), 38);
    QList<int> const numbers = FrameNumbers(path);
    QCOMPARE(numbers.size(), 38);
    QCOMPARE(numbers.first(), 10);
    QCOMPARE(numbers.at(4), 14);
    QCOMPARE(numbers.last(), 14);
    double const video = StreamDuration(path, "v:0");
    double const audio = StreamDuration(path, "a:0");
    QVERIFY2(std::abs(audio - video) <= 1.0 / 24.0 + 1e-3, qPrintable(QStringLiteral("%1 %2").arg(audio).arg(video)));
    mPanel->ClearAllBookmarks();
    mProjectManager->UndoStackPtr()->clear();
}

void TestMonitorPanel::BookmarkCaptureWithoutBookmarksFails()
{
    QVERIFY(mClip->FrameBookmarkList().isEmpty());
    {
        // Without a current export the engine's end signal changes nothing.
        QSignalSpy log(mPanel, &MonitorPanel::ExportLogMsgReceived);
        Settings::exportInProgress = true;
        mPanel->EndExportProcess();
        QCOMPARE(log.count(), 0);
        QVERIFY(Settings::exportInProgress);
        Settings::exportInProgress = false;
    }
    ExportProperties request = Capture(QStringLiteral("bookmarks.mp4"));
    request.framesMode = 1;
    QStringList const lines = RunExport(request);
    QVERIFY(lines.contains(QStringLiteral("No bookmarks found for export")));
    QVERIFY(lines.contains(QStringLiteral("\nExport failed!")));
    QVERIFY(Settings::exportErrorMsg.contains(QStringLiteral("No bookmarks found for export\n")));
    QVERIFY(!Settings::exportInProgress);
    QVERIFY(mPanel->PlaybackControl()->isVisible());
}

void TestMonitorPanel::CancelEndsCaptureAndRefusesSecondExport()
{
    QRect const geometry = mWindow->geometry();
    QSize const viewerSize = mPanel->ViewerSize();
    ExportProperties const* first = nullptr;
    bool secondRefused = false;
    bool inputBlocked = false;
    int frameDuringCapture = -1;
    // Acts on the first captured picture, while the capture runs.
    bool acted = false;
    QMetaObject::Connection const during =
        connect(mPanel->SnapshotManagerPtr(), &SnapshotManager::ExportFrameGenerated, this, [&] {
            if (acted)
            {
                return;
            }
            acted = true;
            first = mPanel->CurrentExport();
            inputBlocked = mPanel->IsCaptureInputBlocked();
            // A key press on the viewer would move the playhead.
            frameDuringCapture = mPanel->GlobalTimeControl()->PlaybackFrame();
            mPanel->ExportToFile(Capture(QStringLiteral("second.mp4")));
            secondRefused = mPanel->CurrentExport() == first;
            mPanel->CancelExport();
        });
    QStringList const lines = RunExport(Capture(QStringLiteral("cancelled.mp4")));
    disconnect(during);
    QVERIFY(first != nullptr);
    QVERIFY(secondRefused);
    QVERIFY(inputBlocked);
    QVERIFY(frameDuringCapture >= 0);
    QVERIFY2(lines.contains(QStringLiteral("\nExport cancelled")), qPrintable(lines.join('|')));
    QVERIFY(!lines.contains(QStringLiteral("\nExport failed!")));
    QVERIFY(!QFile::exists(mDir.filePath("second.mp4")));
    QVERIFY(!mPanel->IsCaptureInputBlocked());
    QTRY_VERIFY(!mPanel->SnapshotManagerPtr()->IsSeriesRunning());
    QVERIFY(mPanel->PlaybackControl()->isVisible());
    QTRY_COMPARE(mWindow->geometry().size(), geometry.size());
    QTRY_COMPARE(mPanel->ViewerSize(), viewerSize);
}

void TestMonitorPanel::AnExportIntoAnOutputAnotherExportHoldsFails()
{
    // Another player exports to held.mp4 meanwhile.
    QString error;
    QString staleJournal;
    std::shared_ptr<ExportTargetLock> const held =
        ExportTargetLock::Acquire(mDir.path(), QStringLiteral("held.mp4"), QString(), error, staleJournal);
    QVERIFY2(held, qPrintable(error));
    Settings::exportErrorMsg.clear();
    QString const refusal = QStringLiteral("Output is in use by another export (process %1): %2")
                                .arg(QCoreApplication::applicationPid())
                                .arg(mDir.filePath("held.mp4"));
    QStringList const lines = RunExport(Capture(QStringLiteral("held.mp4")));
    QVERIFY2(lines.contains(refusal), qPrintable(lines.join('|')));
    QVERIFY(lines.contains(QStringLiteral("\nExport failed!")));
    QCOMPARE(Settings::exportErrorMsg, refusal + "\n");
    QVERIFY(!QFile::exists(mDir.filePath("held.mp4")));
    QVERIFY(mPanel->PlaybackControl()->isVisible());
}

void TestMonitorPanel::SnapshotsReadTheCurrentFrame()
{
    Seek(21);
    QCOMPARE(Shown(), 21);
    mPanel->SnapshotToClipboard();
    QCOMPARE(ReadNumber(QGuiApplication::clipboard()->image()), 21);

    Settings::snapshotFileType = QStringLiteral("jpg");
    QVERIFY(mPanel->SnapshotToPath(mDir.filePath("shot"), QStringLiteral("PNG (*.png)")));
    QString const written = mDir.filePath("shot.png");
    QVERIFY(QFile::exists(written));
    QCOMPARE(QImageReader(written).format(), QByteArray("png"));
    QCOMPARE(ReadNumber(QImage(written)), 21);
    QCOMPARE(Settings::snapshotFileType, QStringLiteral("png"));
    // A foreign suffix never reaches the setting.
    QVERIFY(mPanel->SnapshotToPath(mDir.filePath("other.tif"), QStringLiteral("JPG (*.jpg)")));
    QCOMPARE(Settings::snapshotFileType, QStringLiteral("jpg"));
    QVERIFY(QFile::exists(mDir.filePath("other.tif.jpg")));
}

Timeline* TestMonitorPanel::ParkInSecondGop()
{
    if (!mLongGop)
    {
        mLongGop = ProjectTimelines::AddSource(*mProjectManager, QStringLiteral("numbered_gop250_1080.mp4"));
    }
    if (!mLongGop)
    {
        return nullptr;
    }
    OpenInViewer(mLongGop);
    mPanel->ResetRange();
    mPanel->GlobalTimeControl()->SetPlaybackTimeByFrame(270, false, false);
    // Decoding starts over from the playhead with an empty cache.
    mAv->ReloadTimeline(mLongGop->OutputId());
    long long const parked = mLongGop->TimeAtFrame(270, false);
    long long const deep = mLongGop->TimeAtFrame(230, false);
    bool const ready = QTest::qWaitFor(
        [&] {
            return mViewer->PrimaryTimeline() == mLongGop && mLongGop->VideoCacheCoversTime(parked) &&
                   !mLongGop->VideoCacheCoversTime(deep) && mAv->AllVideoFramesReceivedForCurrentTime();
        },
        20000);
    return ready ? mLongGop : nullptr;
}

// A frame late in a long GOP comes only after the decoding of every picture
// since the key picture: the capture waits as long as that decoding moves
// on, however much longer than the time-out it takes in all.
void TestMonitorPanel::CaptureDeepInALongGopWaitsWhileDecodingMovesOn()
{
    // One decoding thread: the way to frame 230 is long on many cores too,
    // and so the time-out below, against the pauses of a loaded machine.
    auto const restore = qScopeGuard([threads = Settings::videoDecoderThreadCount,
                                      timeout = Settings::snapshotUpdateTimeout] {
        Settings::videoDecoderThreadCount = threads;
        Settings::snapshotUpdateTimeout = timeout;
    });
    Settings::videoDecoderThreadCount = 1;
    Timeline* const timeline = ParkInSecondGop();
    QVERIFY(timeline);
    QCOMPARE(Shown(), 270);
    // How long reaching frame 230 takes on this machine now; the time-out
    // is set to a third of it: the decoding moves on many times within it
    // (one packet at a time), and the capture takes several of them.
    QElapsedTimer reaching;
    reaching.start();
    mPanel->GlobalTimeControl()->SetPlaybackTimeByFrame(230, false, false);
    QCOMPARE(Shown(TimingBounds::CONDITION_WAIT_MS), 230);
    qint64 const reach = reaching.elapsed();
    qInfo() << "decoding to frame 230 took" << reach << "ms";
    QVERIFY(ParkInSecondGop());

    Settings::snapshotUpdateTimeout = std::max<qint64>(reach / 3, 1);
    mPanel->GlobalTimeControl()->SetPlaybackRangeByFrame(230, 240);
    ExportProperties request = Capture(QStringLiteral("deep.mp4"));
    request.ignoreRange = false;
    request.noAudio = true;
    QStringList const lines = RunExport(request);
    QVERIFY2(lines.contains(QStringLiteral("\nExport completed successfully.")), qPrintable(lines.join('|')));
    QString const path = mDir.filePath("deep.mp4");
    QList<int> expected;
    for (int frame = 230; frame <= 240; ++frame)
    {
        expected << frame;
    }
    QCOMPARE(FrameNumbers(path), expected);
}

// With decoding at a standstill (a decode task that never starts), the
// capture stops after the time-out and says which frame it waited for; a
// cancel ends the wait at once.
void TestMonitorPanel::CaptureStopsWhenDecodingStandsStill()
{
    Timeline* const timeline = ParkInSecondGop();
    QVERIFY(timeline);
    mPanel->GlobalTimeControl()->SetPlaybackRangeByFrame(230, 240);
    ExportProperties request = Capture(QStringLiteral("stalled.mp4"));
    request.ignoreRange = false;
    request.noAudio = true;
    qint64 const timeout = Settings::snapshotUpdateTimeout;
    auto const restore = qScopeGuard([timeout] { Settings::snapshotUpdateTimeout = timeout; });
    QStringList stalled;
    QStringList cancelled;
    {
        TaskHold hold(mAv, AvWorkerTaskType::DecodeVideo);
        mAv->ReloadTimeline(timeline->OutputId());
        QVERIFY(hold.WaitUntilHeld());
        Settings::snapshotUpdateTimeout = 200;
        stalled = RunExport(request);

        // Cancelled from inside the wait for frame 230, which would
        // otherwise last until the hold gives way: no picture is captured.
        Settings::snapshotUpdateTimeout = timeout;
        QMetaObject::Connection const captured = connect(mPanel->SnapshotManagerPtr(),
                                                         &SnapshotManager::ExportFrameGenerated, this,
                                                         [&cancelled] { cancelled << QStringLiteral("captured"); });
        QMetaObject::Connection const cancel =
            connect(mAv, &AvManager::PlaybackFrameChanged, this, [this](int frame) {
                if (frame == 230)
                {
                    QTimer::singleShot(0, mPanel, &MonitorPanel::CancelExport);
                }
            });
        cancelled << RunExport(request);
        disconnect(cancel);
        disconnect(captured);
    }
    QVERIFY2(stalled.contains(QStringLiteral("Snapshot stopped: frame 230 was not decoded in time")),
             qPrintable(stalled.join('|')));
    QVERIFY(stalled.contains(QStringLiteral("\nExport failed!")));
    QVERIFY2(cancelled.contains(QStringLiteral("\nExport cancelled")), qPrintable(cancelled.join('|')));
    QVERIFY(!cancelled.contains(QStringLiteral("\nExport failed!")));
    QVERIFY2(!cancelled.contains(QStringLiteral("captured")), qPrintable(cancelled.join('|')));
    QVERIFY(!Settings::exportInProgress);
}

int main(int argc, char** argv)
{
    return ViewerTestRig::ExecInRenderingMode<TestMonitorPanel>(argc, argv, ViewerTestRig::HardwareRenderingRequested());
}

// With no time to wait, a series moves on before most frames reach the
// viewer: such a frame is skipped and said so, never written with the picture
// the viewer still shows.
void TestMonitorPanel::LateFramesAreSkippedNotCapturedUnderTheirNumber()
{
    Seek(47);
    QStringList skipped;
    QMetaObject::Connection const log = connect(mPanel->SnapshotManagerPtr(), &SnapshotManager::ExportLogMsgReceived,
                                                this, [&skipped](QString const& message, ExportLoggingMsgType, bool) {
                                                    skipped << message;
                                                });
    SnapshotProperties series;
    series.dirPath = mDir.filePath("late");
    series.name = QStringLiteral("late");
    series.extension = QStringLiteral("png");
    series.mode = 1;
    qint64 const timeout = Settings::snapshotUpdateTimeout;
    Settings::snapshotUpdateTimeout = 0;
    int const result = mPanel->AdvancedSnapshot(series);
    Settings::snapshotUpdateTimeout = timeout;
    disconnect(log);
    QCOMPARE(result, 0);
    int written = 0;
    for (int frame = 0; frame < 48; ++frame)
    {
        QString const path = QStringLiteral("%1/late.%2.png").arg(series.dirPath).arg(frame, 4, 10, QLatin1Char('0'));
        if (QFile::exists(path))
        {
            ++written;
            QCOMPARE(ReadNumber(QImage(path)), frame);
        }
        else
        {
            QString const message = QStringLiteral("Frame %1 was not decoded in time: skipped %2").arg(frame).arg(path);
            QVERIFY2(skipped.contains(message), qPrintable(skipped.join('|')));
        }
    }
    QCOMPARE(skipped.size(), 48 - written);
}

#include "tst_monitorpanel.moc"
