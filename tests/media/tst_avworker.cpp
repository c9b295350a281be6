#include "EngineTestRig.h"
#include "support/LoggedMessages.h"
#include "support/ThreadCall.h"

#include "app/Logger.h"
#include "media/AvWorker.h"
#include "media/AvWorkerTask.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

using namespace EngineTestRig;

namespace
{

// Stands in for the engine front: broadcasts to its workers by id.
class Front : public QObject
{
    Q_OBJECT

Q_SIGNALS:
    void TaskStarted(int id, AvWorkerTask* task);
    void WorkerShutdownStarted(int id);
    void DecodeTrackUpdated(int id);
    void SeekRequested(int id);
    void RefreshCacheRequested(int id);
};

// A worker on a thread of its own, wired to the front as the engine wires it.
// Its completions are recorded in order.
class WorkerThread
{
public:
    WorkerThread(Front* front, int id, AvWorkerTask const& task)
        : worker(new AvWorker(id))
    {
        QObject::connect(front, &Front::TaskStarted, worker, &AvWorker::DoTask);
        worker->ConnectCommands(front, task);
        QObject::connect(worker, &AvWorker::TaskCompleted, &receiver, [this](int id) { events << QStringLiteral("completed %1").arg(id); });
        QObject::connect(worker, &AvWorker::VideoFrameChanged, &receiver, [this](int id, FramePtr current) {
            events << QStringLiteral("%1 %2").arg(current ? "frame" : "null").arg(id);
        });
        worker->moveToThread(&thread);
        calls.moveToThread(&thread);
        thread.start();
    }

    ~WorkerThread()
    {
        // Released on its thread, before this one goes on: the end of a
        // QThread orders nothing the thread sanitizer can see.
        calls.Run([this] { delete worker; });
        thread.quit();
        thread.wait();
    }

    bool Completed() const { return !events.isEmpty() && events.constLast().startsWith("completed"); }

    QThread thread;
    ThreadCall calls;
    QObject receiver;
    AvWorker* worker;
    QStringList events;
};

} // namespace

class TestAvWorker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void EndTaskForAllEndsEveryWorker();
    void SeekActsOnlyWhenTheCacheMissesTheTime();
    void ParseTaskParsesAndAnswersOnlyItsOwnId();
};

void TestAvWorker::EndTaskForAllEndsEveryWorker()
{
    std::unique_ptr<Timeline> timeline = SourceTimeline("numbered_mjpeg.mov");
    timeline->UpdateDecodeTracks();
    Front front;
    AvWorkerTask outputTask {AvWorkerTaskType::AudioOutput, nullptr, nullptr};
    AvWorkerTask videoTask {AvWorkerTaskType::DecodeVideo, timeline.get(), nullptr};
    WorkerThread output(&front, 0, outputTask);
    WorkerThread video(&front, 1, videoTask);
    emit front.TaskStarted(0, &outputTask);
    emit front.TaskStarted(1, &videoTask);
    QVERIFY(QTest::qWaitFor([&] { return video.events.contains("frame 1"); }, 10000));
    QVERIFY(output.events.isEmpty());

    emit front.WorkerShutdownStarted(-1);
    QVERIFY(QTest::qWaitFor([&] { return output.Completed() && video.Completed(); }, 10000));
    QCOMPARE(output.events, QStringList {"completed 0"});
    // The ended decode task clears its output before it reports.
    QCOMPARE(video.events.mid(video.events.size() - 2), (QStringList {"null 1", "completed 1"}));
    QVERIFY(QTest::qWaitFor([&] { return timeline->VideoCacheFrameCount() == 0; }, 1000));
}

void TestAvWorker::SeekActsOnlyWhenTheCacheMissesTheTime()
{
    std::unique_ptr<Timeline> timeline = SourceTimeline("numbered_gop250.mp4");
    timeline->UpdateDecodeTracks();
    Front front;
    AvWorkerTask task {AvWorkerTaskType::DecodeVideo, timeline.get(), nullptr};
    // Paused, as the engine starts a loop while its clock stands: the loop
    // sleeps until a post once a pass changes nothing.
    task.inbox->SetClockStopped(true);
    WorkerThread video(&front, 7, task);
    emit front.TaskStarted(7, &task);
    // The whole file fits in the cache.
    QVERIFY(QTest::qWaitFor([&] { return timeline->VideoCacheFrameCount() == 300; }, 20000));
    QCOMPARE(timeline->VideoCachePacketStartTime(), 0LL);
    timeline->SetPlaybackFrame(150);

    emit front.SeekRequested(7);
    // Whatever the seek does is done once the loop, having taken it, sleeps
    // until the next post.
    QVERIFY(QTest::qWaitFor([&] { return task.inbox->IdleWaiting(); }, 20000));
    QCOMPARE(timeline->VideoCacheFrameCount(), 300);
    QCOMPARE(timeline->VideoCachePacketStartTime(), 0LL);

    // A refresh empties the cache, which then no longer holds the time: the
    // loop starts again from the playhead.
    emit front.RefreshCacheRequested(7);
    QVERIFY(QTest::qWaitFor([&] {
        return timeline->VideoCacheReady() && timeline->VideoCachePacketStartTime() > 0;
    }, 20000));
    emit front.WorkerShutdownStarted(7);
    QVERIFY(QTest::qWaitFor([&] { return video.Completed(); }, 10000));
}

void TestAvWorker::ParseTaskParsesAndAnswersOnlyItsOwnId()
{
    Timeline timeline(TestMedia::Path("h264_cfr25.mp4"), QString(), QUuid::createUuid());
    Front front;
    AvWorkerTask task {AvWorkerTaskType::ParseSource, &timeline, nullptr};
    WorkerThread parser(&front, 3, task);
    emit front.TaskStarted(4, &task);
    // A parse runs inside DoTask: once a call queued after the start has run
    // on the worker's thread, a parse taken for another id would be done.
    parser.calls.Run([] {});
    QVERIFY(!timeline.SourcePtr()->IsParsed());
    QCoreApplication::processEvents();
    QVERIFY(parser.events.isEmpty());
    emit front.TaskStarted(3, &task);
    QVERIFY(QTest::qWaitFor([&] { return parser.Completed(); }, 10000));
    QVERIFY(timeline.SourcePtr()->IsParsed());
    QCOMPARE(timeline.SourcePtr()->FrameCount(), 100);

    // A timeline without a source still completes, with an error.
    Timeline edit(nullptr, true);
    // Logged on the worker's thread.
    LoggedMessages errors(&Logger::ErrorLogged);
    AvWorkerTask editTask {AvWorkerTaskType::ParseSource, &edit, nullptr};
    WorkerThread failing(&front, 5, editTask);
    emit front.TaskStarted(5, &editTask);
    QVERIFY(QTest::qWaitFor([&] { return failing.Completed(); }, 10000));
    QCOMPARE(errors.Messages(), QStringList {QStringLiteral("Parse source failed. Source timeline is invalid.")});
}

QTEST_MAIN(TestAvWorker)
#include "tst_avworker.moc"
