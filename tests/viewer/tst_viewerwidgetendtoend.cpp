// TESSARIN_TEST: xvfb
// The viewer widget on the real engine, in the rendering mode of this run:
// software by default, OpenGL with TESSARIN_TEST_HARDWARE_RENDERING=1 (the
// mode is latched once per process). Frames are checked by the number the
// numbered clip carries in its pixels, read from what the widget captures.
#include "support/TestFiles.h"
#include "support/TimingBounds.h"
#include "ViewerTestRig.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/ExportProperties.h"
#include "media/VideoFrame.h"
#include "model/FrameBookmark.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "viewer/OpenGLViewer.h"
#include "viewer/SnapshotManager.h"
#include "viewer/SoftwareViewer.h"
#include "viewer/ViewerBase.h"
#include "viewer/ViewerWidget.h"
#include "window/GlobalTimeControlWidget.h"
#include "window/PlaybackControlWidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cmath>

namespace
{
using ViewerTestRig::NUMBERED_HEIGHT;
using ViewerTestRig::NUMBERED_WIDTH;
using ViewerTestRig::NumberBitPoint;
using ViewerTestRig::NumberedClipPoint;
using ViewerTestRig::ReadNumber;

// Bit i of the number on screen: 1 white, 0 black, -1 out of view.
int BitAt(QImage const& image, int bit, float zoom, QPoint offset)
{
    QPoint const p = NumberBitPoint(bit, image.size(), zoom, offset);
    if (!image.rect().contains(p))
    {
        return -1;
    }
    return qGray(image.pixel(p)) > 128 ? 1 : 0;
}
} // namespace

class TestViewerWidgetEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void PausedSeeksShowThePlayheadFrame();
    void PanAndZoomMoveThePictureByTheSameRule();
    void PlayingReportsTheClipFrameRate();
    void BookmarksOnlyPlayShowsOnlyBookmarkedPictures();
    void BookmarksOnlyPlayPaintsEveryBookmarkWhenPaintsAreSlow();
    void SeriesOverARangeNumbersFilesByFrame();
    void SteppedBookmarkSeriesCopiesEachHeldFrame();
    void RerunLeavesNoStaleFile();
    void UnwritableFolderFailsWithALoggedError();
    void EmptyCapturesAreSkippedAndTheSeriesGoesOn();
    void CancelRestoresThePlayhead();
    void ExportSteppedSeriesEmitsOncePerHeldFrame();
    void SeriesFailsWhenTheTimelineGoesMidway();

private:
    void Seek(int frame);
    void AddBookmark(int frame);
    void ClearBookmarks();
    SnapshotProperties Properties(QString const& dir, int mode) const;

    std::unique_ptr<ProjectManager> mProjectManager;
    std::unique_ptr<QWidget> mHost;
    ViewerWidget* mViewer = nullptr;
    GlobalTimeControlWidget* mTimeControl = nullptr;
    PlaybackControlWidget* mPlaybackControl = nullptr;
    SnapshotManager* mSnapshots = nullptr;
    AvManager* mAv = nullptr;
    QTemporaryDir mDir;
};

void TestViewerWidgetEndToEnd::initTestCase()
{
    QVERIFY(mDir.isValid());
    mProjectManager = std::make_unique<ProjectManager>();
    mAv = mProjectManager->AvManagerPtr();
    mHost = std::make_unique<QWidget>();
    mPlaybackControl = new PlaybackControlWidget(mAv, nullptr, mHost.get());
    mTimeControl = new GlobalTimeControlWidget(mProjectManager.get(), mPlaybackControl, mHost.get());
    // No bars inside the viewer: the picture fills the widget in both modes.
    mViewer = new ViewerWidget(mProjectManager.get(), nullptr, nullptr, mPlaybackControl, mHost.get());
    mViewer->setGeometry(0, 0, 640, 480);
    mTimeControl->setGeometry(0, 480, 640, 40);
    mPlaybackControl->setGeometry(0, 520, 640, 40);
    mSnapshots = new SnapshotManager(mTimeControl, mViewer, mHost.get());
    mHost->resize(640, 560);
    mHost->show();
    QVERIFY(QTest::qWaitForWindowExposed(mHost.get()));

    QVERIFY(ViewerTestRig::OpenNumberedClip(mProjectManager.get(), mViewer));
}

void TestViewerWidgetEndToEnd::cleanupTestCase()
{
    mAv->Pause(DecodeBias::None);
    mHost.reset();
    mProjectManager->Shutdown();
    mProjectManager.reset();
}

void TestViewerWidgetEndToEnd::init()
{
    mAv->Pause(DecodeBias::None);
    mViewer->ResetPanAndZoom(true);
    ClearBookmarks();
    mTimeControl->ResetRange();
}

void TestViewerWidgetEndToEnd::Seek(int frame)
{
    mTimeControl->SetPlaybackTimeByFrame(frame, false, false);
    // Wait for the engine, not for the picture: the capture must be right
    // the moment the frame covering the playback time is handed over.
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     auto const shown = mViewer->FrameInSlot(0, 3);
                     long long const time = mAv->PlaybackTime();
                     return shown && shown->adjustedStartTime <= time && time <= shown->adjustedEndTime;
                 },
                 TimingBounds::CONDITION_WAIT_MS),
             qPrintable(QStringLiteral("frame %1 never arrived").arg(frame)));
    QCOMPARE(mTimeControl->PlaybackFrame(), frame);
}

void TestViewerWidgetEndToEnd::AddBookmark(int frame)
{
    mProjectManager->DoInsertFrameBookmarkCmd(mViewer->PrimaryTimeline(), frame);
    QVERIFY(mViewer->PrimaryTimeline()->FrameBookmarkAt(frame));
}

void TestViewerWidgetEndToEnd::ClearBookmarks()
{
    Timeline* const timeline = mViewer->PrimaryTimeline();
    for (FrameBookmark* bookmark : timeline->FrameBookmarkList())
    {
        mProjectManager->DoRemoveFrameBookmarkCmd(timeline, bookmark->timelineFrame);
    }
    QVERIFY(timeline->FrameBookmarkList().isEmpty());
}

SnapshotProperties TestViewerWidgetEndToEnd::Properties(QString const& dir, int mode) const
{
    SnapshotProperties properties;
    properties.dirPath = mDir.filePath(dir);
    properties.name = QStringLiteral("shot");
    properties.extension = QStringLiteral("png");
    properties.mode = mode;
    properties.numbering = 1;
    properties.numberWidth = 4;
    return properties;
}

void TestViewerWidgetEndToEnd::PausedSeeksShowThePlayheadFrame()
{
    QList<int> frames = {0, 1, 2, 3, 10, 23, 24, 25, 47, 71, 70, 48, 30, 12, 5, 0};
    QRandomGenerator random(20);
    for (int i = 0; i < 20; ++i)
    {
        frames.append(random.bounded(72));
    }
    for (int const frame : std::as_const(frames))
    {
        Seek(frame);
        QImage const capture = mViewer->CaptureImage(false);
        QCOMPARE(ReadNumber(capture), frame);
    }
}

void TestViewerWidgetEndToEnd::PanAndZoomMoveThePictureByTheSameRule()
{
    Seek(5); // blocks 0 and 2 white, 1 and 3 black
    QSize const view = mViewer->ViewerSize();
    for (float const zoom : {2.0f, 1.5f, 3.0f})
    {
        // Pan (1, 1): the zoomed picture's top-left corner at the view's.
        mViewer->SetPanAndZoom(QPointF(1.0, 1.0), zoom, true, true);
        QCOMPARE(mViewer->PanZoomPositionOffset(), QPoint(0, 0));
        QImage const capture = mViewer->CaptureImage(false);
        QCOMPARE(capture.size(), view);
        QList<int> const bits = {BitAt(capture, 0, zoom, QPoint()), BitAt(capture, 1, zoom, QPoint()),
                                 BitAt(capture, 2, zoom, QPoint()), BitAt(capture, 3, zoom, QPoint())};
        QCOMPARE(bits, QList<int>({1, 0, 1, 0}));
        // Pan (-1, -1) at zoom 2: the bottom-right quarter fills the view.
        mViewer->SetPanAndZoom(QPointF(-1.0, -1.0), 2.0f, true, true);
        QPoint const offset = mViewer->PanZoomPositionOffset();
        QCOMPARE(offset, QPoint(-view.width(), -view.height()));
        QImage const corner = mViewer->CaptureImage(false);
        QPoint const last = NumberedClipPoint(QPointF(NUMBERED_WIDTH - 4, NUMBERED_HEIGHT - 4), view, 2.0f, offset);
        QVERIFY(corner.rect().contains(last));
        // Top-left blocks are out of view; the bottom right shows the picture,
        // not the background.
        QVERIFY(NumberBitPoint(0, view, 2.0f, offset).x() < 0);
        QVERIFY(corner.pixelColor(last) != QColor(Qt::black) || corner.pixelColor(last / 2) != QColor(Qt::black));
    }
    mViewer->ResetPanAndZoom(true);
    QCOMPARE(ReadNumber(mViewer->CaptureImage(false)), 5);
}

void TestViewerWidgetEndToEnd::PlayingReportsTheClipFrameRate()
{
    mAv->SetLoopState(LoopState::Loop);
    Seek(0);
    int const frameCount = mViewer->PrimaryTimeline()->FrameCount();
    // Each report with what the clock did over the same window: whether it
    // kept pace with the wall clock and moved through every frame in turn.
    // It does not when the machine starves the player: the clock stalls
    // while the decoder is behind, and leaps frames after a late tick.
    struct Report
    {
        float fps;
        double clockShare; // clock time advanced over wall time
        bool everyFrame;
    };
    QList<Report> reports;
    QElapsedTimer wall;
    long long advanced = 0;
    long long lastTime = mAv->PlaybackTime();
    int lastFrame = mTimeControl->PlaybackFrame();
    bool everyFrame = true;
    {
        // Receives the signals while playing, and disconnects them however
        // the wait ends.
        QObject receiver;
        connect(mAv, &AvManager::PlaybackTimeChanged, &receiver, [&](long long time) {
            // The loop's jump back to the start adds nothing.
            advanced += std::max(time - lastTime, 0LL);
            lastTime = time;
        });
        connect(mAv, &AvManager::PlaybackFrameChanged, &receiver, [&](int frame) {
            everyFrame &= frame == (lastFrame + 1) % frameCount;
            lastFrame = frame;
        });
        connect(mViewer, &ViewerWidget::FpsChanged, &receiver, [&](float fps, bool reset) {
            if (!reset)
            {
                reports.append({fps, advanced / 1000.0 / std::max<qint64>(wall.elapsed(), 1), everyFrame});
                advanced = 0;
                everyFrame = true;
                wall.restart();
            }
        });
        wall.start();
        mAv->Play(true, false);
        bool const reported = QTest::qWaitFor([&] { return reports.size() >= 3; }, TimingBounds::CONDITION_WAIT_MS);
        mAv->Pause(DecodeBias::None);
        QVERIFY(reported);
    }
    // Never above the clip's rate; at the clip's rate in at least one
    // window where the clock kept pace and passed every frame. Where it
    // never did, the machine could not keep pace with the clip and the
    // rate reached says nothing of the player.
    float best = 0.0f;
    for (Report const& report : std::as_const(reports))
    {
        qInfo("frame rate %.2f; clock %.3f of the wall clock, %s", report.fps, report.clockShare,
              report.everyFrame ? "every frame" : "frames leapt");
        QVERIFY(report.fps > 0.0f && report.fps <= 24.0f + 1e-3f);
        if (report.clockShare >= 0.97 && report.everyFrame)
        {
            best = std::max(best, report.fps);
        }
    }
    if (best == 0.0f)
    {
        qInfo() << "the clock never kept pace for a whole window: the rate reached is not checked";
        return;
    }
    QVERIFY2(std::abs(best - 24.0f) <= 1.0f, qPrintable(QString::number(best)));
}

void TestViewerWidgetEndToEnd::BookmarksOnlyPlayShowsOnlyBookmarkedPictures()
{
    QList<int> const bookmarks = {10, 20, 30, 60};
    for (int const frame : bookmarks)
    {
        AddBookmark(frame);
    }
    // Ping-pong: the clock turns at the end and plays the bookmarks
    // backwards too.
    mAv->SetLoopState(LoopState::PingPong);
    Seek(0);
    bool turned = false;
    QMetaObject::Connection const connection = connect(
        mAv, &AvManager::PlaybackStateChanged, this, [&turned](bool playing, bool forward) { turned |= playing && !forward; });
    // Reads from the first bookmarked picture until the clock, on its way
    // back, is past the first two bookmarks it meets: every picture as it is
    // handed over, and what the viewer shows between hand-overs (a starved
    // event loop may take several hand-overs between two of those reads).
    QList<int> reads;
    auto const read = [&] {
        int const shown = ReadNumber(mViewer->CaptureImage(false));
        if (!reads.isEmpty() || bookmarks.contains(shown))
        {
            reads.append(shown);
        }
    };
    QMetaObject::Connection const handed = connect(mViewer, &ViewerWidget::PrimaryVideoFrameChanged, this, read);
    mAv->Play(true, true);
    bool const stepped = mAv->IsSteppedPlayback();
    bool const done = stepped && QTest::qWaitFor(
        [&] {
            read();
            return turned && mTimeControl->PlaybackFrame() < 25;
        },
        TimingBounds::CONDITION_WAIT_MS);
    disconnect(connection);
    disconnect(handed);
    mAv->Pause(DecodeBias::None);
    mAv->SetLoopState(LoopState::Loop);
    qInfo() << reads.size() << "reads:" << QSet<int>(reads.cbegin(), reads.cend());
    QVERIFY(stepped);
    QVERIFY2(done, "the clock never played the bookmarks back");
    for (int const shown : std::as_const(reads))
    {
        QVERIFY2(bookmarks.contains(shown), qPrintable(QStringLiteral("picture %1 was shown").arg(shown)));
    }
    QVERIFY(reads.contains(30) && reads.contains(60));
}

void TestViewerWidgetEndToEnd::BookmarksOnlyPlayPaintsEveryBookmarkWhenPaintsAreSlow()
{
    // Single frames far apart, neighbours, and the range's last frame.
    QList<int> const bookmarks = {10, 30, 31, 55, 70};
    for (int const frame : bookmarks)
    {
        AddBookmark(frame);
    }
    mTimeControl->SetPlaybackRangeByFrame(0, 70);
    mAv->SetLoopState(LoopState::Off);
    Seek(0);

    // Every paint takes 150 ms, as a large picture does on a software
    // renderer, and every tick of the clock repaints, as the time bars drawn
    // in the viewer do: the ticks come that far apart, each several frames on.
    QList<int> painted; // the bookmarked frames the viewer painted, in order
    auto const slowPaint = [&] {
        QThread::msleep(150);
        auto const frame = mViewer->FrameInSlot(0, 3);
        if (frame && bookmarks.contains(frame->startFrame) &&
            (painted.isEmpty() || painted.constLast() != frame->startFrame))
        {
            painted << frame->startFrame;
        }
    };
    auto* viewer = dynamic_cast<QWidget*>(mViewer->ViewerPtr());
    QMetaObject::Connection const paints =
        qobject_cast<OpenGLViewer*>(viewer)
            ? connect(qobject_cast<OpenGLViewer*>(viewer), &OpenGLViewer::PaintingFinished, this, slowPaint)
            : connect(qobject_cast<SoftwareViewer*>(viewer), &SoftwareViewer::PaintingFinished, this, slowPaint);
    QMetaObject::Connection const ticks =
        connect(mAv, &AvManager::PlaybackTimeChanged, viewer, [viewer] { viewer->update(); });
    mAv->Play(true, true);
    QVERIFY(mAv->IsSteppedPlayback());
    bool const ended = QTest::qWaitFor(
        [&] { return !mAv->IsPlaying() && !painted.isEmpty() && painted.constLast() == bookmarks.constLast(); },
        TimingBounds::CONDITION_WAIT_MS);
    disconnect(paints);
    disconnect(ticks);
    mAv->SetLoopState(LoopState::Loop);
    QCOMPARE(painted, bookmarks);
    QVERIFY(ended);
}

void TestViewerWidgetEndToEnd::SeriesOverARangeNumbersFilesByFrame()
{
    mTimeControl->SetPlaybackRangeByFrame(0, 9);
    Seek(30);
    SnapshotProperties properties = Properties(QStringLiteral("range"), 2);
    ExportProperties exportProperties;
    exportProperties.imageNumberOffset = 1000;
    QCOMPARE(mSnapshots->AdvancedSnapshot(properties, &exportProperties), 0);
    QSize const captureSize = mViewer->CaptureImage(false).size();
    QStringList const files = QDir(properties.dirPath).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files.size(), 10);
    for (int frame = 0; frame <= 9; ++frame)
    {
        QString const name = QStringLiteral("shot.%1.png").arg(frame + 1000, 4, 10, QLatin1Char('0'));
        QVERIFY2(files.contains(name), qPrintable(name));
        QImage const image(QDir(properties.dirPath).filePath(name));
        QCOMPARE(image.size(), captureSize);
        QCOMPARE(ReadNumber(image), frame);
    }
    QCOMPARE(exportProperties.videoProgress.load(), 100.0f);
    QTRY_COMPARE_WITH_TIMEOUT(mTimeControl->PlaybackFrame(), 30, TimingBounds::CONDITION_WAIT_MS);
}

void TestViewerWidgetEndToEnd::SteppedBookmarkSeriesCopiesEachHeldFrame()
{
    mTimeControl->SetPlaybackRangeByFrame(0, 20);
    AddBookmark(10);
    AddBookmark(14);
    SnapshotProperties properties = Properties(QStringLiteral("stepped"), 4);
    properties.stepped = true;
    QCOMPARE(mSnapshots->AdvancedSnapshot(properties, nullptr), 10);
    QDir const dir(properties.dirPath);
    QCOMPARE(dir.entryList(QDir::Files).size(), 11);
    auto const bytes = [&](int frame) {
        return TestFiles::ReadAll(dir.filePath(QStringLiteral("shot.%1.png").arg(frame, 4, 10, QLatin1Char('0'))));
    };
    QCOMPARE(ReadNumber(QImage(dir.filePath(QStringLiteral("shot.0010.png")))), 10);
    QCOMPARE(ReadNumber(QImage(dir.filePath(QStringLiteral("shot.0014.png")))), 14);
    for (int frame = 11; frame <= 13; ++frame)
    {
        QCOMPARE(bytes(frame), bytes(10));
    }
    for (int frame = 15; frame <= 20; ++frame)
    {
        QCOMPARE(bytes(frame), bytes(14));
    }
    QVERIFY(!bytes(10).isEmpty());
}

void TestViewerWidgetEndToEnd::RerunLeavesNoStaleFile()
{
    mTimeControl->SetPlaybackRangeByFrame(0, 20);
    SnapshotProperties properties = Properties(QStringLiteral("rerun"), 4);
    properties.stepped = true;
    AddBookmark(10);
    AddBookmark(14);
    QCOMPARE(mSnapshots->AdvancedSnapshot(properties, nullptr), 10);
    ClearBookmarks();
    AddBookmark(10);
    AddBookmark(12);
    QCOMPARE(mSnapshots->AdvancedSnapshot(properties, nullptr), 10);
    QDir const dir(properties.dirPath);
    for (int frame = 10; frame <= 20; ++frame)
    {
        QImage const image(dir.filePath(QStringLiteral("shot.%1.png").arg(frame, 4, 10, QLatin1Char('0'))));
        QCOMPARE(ReadNumber(image), frame < 12 ? 10 : 12);
    }
}

void TestViewerWidgetEndToEnd::UnwritableFolderFailsWithALoggedError()
{
    // A folder below a plain file can be neither made nor written, even by root.
    QFile blocker(mDir.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    SnapshotProperties properties = Properties(QStringLiteral("blocker/sub"), 1);
    QSignalSpy exportLog(mSnapshots, &SnapshotManager::ExportLogMsgReceived);
    Seek(5);
    QCOMPARE(mSnapshots->AdvancedSnapshot(properties, nullptr), -1);
    QVERIFY(!errors.isEmpty());
    QVERIFY(errors.constLast().at(0).toString().contains(properties.dirPath));
    QVERIFY(!exportLog.isEmpty());
    QCOMPARE(exportLog.constLast().at(2).toBool(), true);
    QCOMPARE(mTimeControl->PlaybackFrame(), 5);

    // The current-frame mode says so too.
    properties.mode = 0;
    QCOMPARE(mSnapshots->AdvancedSnapshot(properties, nullptr), -1);
    QVERIFY(!QFile::exists(properties.dirPath + QStringLiteral("/shot.png")));
}

void TestViewerWidgetEndToEnd::EmptyCapturesAreSkippedAndTheSeriesGoesOn()
{
    // The viewer has no area (nothing to capture) while frames 2 and 3 show.
    mTimeControl->SetPlaybackRangeByFrame(0, 5);
    Seek(0);
    QSize const minimum = mViewer->minimumSize();
    mViewer->setMinimumSize(0, 0);
    QMetaObject::Connection const shrink = connect(mAv, &AvManager::PlaybackFrameChanged, this, [&](int frame) {
        mViewer->resize(frame == 2 || frame == 3 ? QSize(0, 0) : QSize(640, 480));
    });
    QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    SnapshotProperties properties = Properties(QStringLiteral("empty"), 2);
    int const first = mSnapshots->AdvancedSnapshot(properties, nullptr);
    disconnect(shrink);
    mViewer->setMinimumSize(minimum);
    mViewer->resize(640, 480);
    QCOMPARE(first, 0);
    QCOMPARE(QDir(properties.dirPath).entryList(QDir::Files, QDir::Name),
             (QStringList{"shot.0000.png", "shot.0001.png", "shot.0004.png", "shot.0005.png"}));
    QCOMPARE(ReadNumber(QImage(QDir(properties.dirPath).filePath("shot.0004.png"))), 4);
    QStringList said;
    for (QList<QVariant> const& warning : std::as_const(warnings))
    {
        said << warning.at(0).toString();
    }
    QCOMPARE(said.filter("Nothing to capture at frame").size(), 2);
    QVERIFY(said.first().startsWith("Nothing to capture at frame 2"));
    QVERIFY(errors.isEmpty());
}

void TestViewerWidgetEndToEnd::CancelRestoresThePlayhead()
{
    Seek(40);
    mTimeControl->SetPlaybackRangeByFrame(0, 20);
    SnapshotProperties properties = Properties(QStringLiteral("cancel"), 2);
    properties.forExport = true;
    QList<int> frames;
    QMetaObject::Connection const connection =
        connect(mSnapshots, &SnapshotManager::ExportFrameGenerated, this, [&](QImage const&, int frame) {
            frames.append(frame);
            if (frames.size() == 3)
            {
                mSnapshots->CancelSnapshotOperation();
                // A second series is refused while this one runs.
                QCOMPARE(mSnapshots->AdvancedSnapshot(properties, nullptr), -1);
            }
        });
    mSnapshots->AdvancedSnapshot(properties, nullptr);
    disconnect(connection);
    QCOMPARE(frames, QList<int>({0, 1, 2}));
    QVERIFY(!mSnapshots->IsSeriesRunning());
    QTRY_COMPARE_WITH_TIMEOUT(mTimeControl->PlaybackFrame(), 40, TimingBounds::CONDITION_WAIT_MS);
}

void TestViewerWidgetEndToEnd::ExportSteppedSeriesEmitsOncePerHeldFrame()
{
    AddBookmark(10);
    AddBookmark(14);
    AddBookmark(30); // after the end: ignored
    SnapshotProperties properties = Properties(QStringLiteral("export"), 4);
    mTimeControl->SetPlaybackRangeByFrame(0, 20);
    properties.stepped = true;
    properties.forExport = true;
    QList<int> frames;
    QList<int> numbers;
    QMetaObject::Connection const connection =
        connect(mSnapshots, &SnapshotManager::ExportFrameGenerated, this, [&](QImage const& image, int frame) {
            frames.append(frame);
            numbers.append(ReadNumber(image));
        });
    ExportProperties exportProperties;
    QCOMPARE(mSnapshots->AdvancedSnapshot(properties, &exportProperties), 10);
    disconnect(connection);
    QCOMPARE(frames, QList<int>({10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
    QCOMPARE(numbers, QList<int>({10, 10, 10, 10, 14, 14, 14, 14, 14, 14, 14}));
    QCOMPARE(exportProperties.videoProgress.load(), 100.0f);
}

void TestViewerWidgetEndToEnd::SeriesFailsWhenTheTimelineGoesMidway()
{
    Timeline* const timeline = mViewer->PrimaryTimeline();
    mTimeControl->SetPlaybackRangeByFrame(0, 20);
    SnapshotProperties properties = Properties(QStringLiteral("gone"), 2);
    properties.forExport = true;
    QList<int> frames;
    QSignalSpy log(mSnapshots, &SnapshotManager::ExportLogMsgReceived);
    QMetaObject::Connection const connection =
        connect(mSnapshots, &SnapshotManager::ExportFrameGenerated, this, [&](QImage const&, int frame) {
            frames.append(frame);
            if (frames.size() == 2)
            {
                mViewer->SetPrimaryTimeline(nullptr); // the viewer was emptied
            }
        });
    QCOMPARE(mSnapshots->AdvancedSnapshot(properties, nullptr), -1);
    disconnect(connection);
    QCOMPARE(frames, QList<int>({0, 1}));
    QVERIFY(!log.isEmpty());
    QCOMPARE(log.constLast().at(2).toBool(), true);
    QVERIFY(!mSnapshots->IsSeriesRunning());
    mViewer->SetPrimaryTimeline(timeline);
    Seek(3);
    QCOMPARE(ReadNumber(mViewer->CaptureImage(false)), 3);
}

int main(int argc, char* argv[])
{
    return ViewerTestRig::ExecInRenderingMode<TestViewerWidgetEndToEnd>(argc, argv,
                                                                        ViewerTestRig::HardwareRenderingRequested());
}

#include "tst_viewerwidgetendtoend.moc"
