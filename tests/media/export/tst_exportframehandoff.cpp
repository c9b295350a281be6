#include "media/ExportProperties.h"
#include "media/VideoFrame.h"
#include "media/export/ExportFrameHandoff.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace
{
long long const FRAME_DURATION = 40000; // µs

// An empty picture standing for frame `number` of the timeline.
std::shared_ptr<VideoFrame> Picture(int number)
{
    auto picture = std::make_shared<VideoFrame>(nullptr, nullptr, 1, 1, VideoFramePixelFormat::RGB24,
                                                number * FRAME_DURATION, nullptr, true);
    picture->adjustedStartTime = number * FRAME_DURATION;
    picture->adjustedEndTime = (number + 1) * FRAME_DURATION - 1;
    picture->startFrame = number;
    picture->endFrame = number;
    return picture;
}

// A decode thread pushing pictures 0, 1, ... until `count` are pushed or a
// push is refused. `attempted` counts the pushes begun, `accepted` those
// that returned true; `done` is set last.
class Pusher
{
public:
    Pusher(ExportFrameHandoff& handoff, int count)
        : mHandoff(handoff)
        , mThread([this, &handoff, count] {
            for (int number = 0; number < count; ++number)
            {
                std::shared_ptr<VideoFrame> picture = Picture(number);
                pushed.push_back(picture);
                attempted.store(number + 1);
                if (!handoff.Push(std::move(picture)))
                {
                    break;
                }
                accepted.store(number + 1);
            }
            done.store(true);
        })
    {
    }

    // A test that failed half-way does not leave the pusher waiting.
    ~Pusher()
    {
        mHandoff.Close();
        mThread.join();
    }

    std::atomic<int> attempted {0};
    std::atomic<int> accepted {0};
    std::atomic<bool> done {false};
    std::vector<std::weak_ptr<VideoFrame>> pushed; // read once done

private:
    ExportFrameHandoff& mHandoff;
    std::thread mThread;
};

// Long enough for any machine load: only a fault runs into it.
int const WAIT_MS = 60000;
} // namespace

class TestExportFrameHandoff : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ASlowTakerNeverFindsMoreThanTheDepthHeld();
    void PassedPicturesMakeRoomForThePusher();
    void ClosingReleasesAWaitingPushAndEveryPicture();
    void ACancelEndsAWaitingTakeAtOnce();
    void AStopSetBeforeTheWakeOrOnACopy();
};

void TestExportFrameHandoff::ASlowTakerNeverFindsMoreThanTheDepthHeld()
{
    int const count = 60;
    ExportFrameHandoff handoff(4);
    Pusher pusher(handoff, count);
    for (int number = 0; number < count; ++number)
    {
        // The taker lags: it comes back only once the pusher is in a push it
        // cannot complete yet, or has pushed everything.
        QVERIFY(QTest::qWaitFor(
            [&] { return pusher.done.load() || pusher.attempted.load() > std::min(count, number + handoff.Depth()); },
            WAIT_MS));
        QVERIFY2(handoff.Count() <= handoff.Depth(), qPrintable(QStringLiteral("%1 pictures held").arg(handoff.Count())));
        QVERIFY(pusher.accepted.load() - number <= handoff.Depth());
        std::shared_ptr<VideoFrame> picture;
        QCOMPARE(handoff.Take(picture, WAIT_MS), ExportFrameHandoff::Result::Frame);
        QCOMPARE(picture->startFrame, number);
    }
    QVERIFY(QTest::qWaitFor([&] { return pusher.done.load(); }, WAIT_MS));
    QCOMPARE(pusher.accepted.load(), count);
    handoff.End();
    std::shared_ptr<VideoFrame> none;
    QCOMPARE(handoff.Take(none, 0), ExportFrameHandoff::Result::Ended);
}

void TestExportFrameHandoff::PassedPicturesMakeRoomForThePusher()
{
    ExportFrameHandoff handoff(4);
    Pusher pusher(handoff, 6);
    QVERIFY(QTest::qWaitFor([&] { return pusher.attempted.load() > 4; }, WAIT_MS));
    QCOMPARE(handoff.Count(), 4);
    // The export wrote frames 0 to 2 from the cache and now wants frame 3.
    handoff.DropEndingBefore(3 * FRAME_DURATION);
    QVERIFY(QTest::qWaitFor([&] { return pusher.done.load(); }, WAIT_MS));
    QCOMPARE(pusher.accepted.load(), 6);
    QCOMPARE(handoff.Count(), 3);
    std::shared_ptr<VideoFrame> picture;
    QCOMPARE(handoff.Take(picture, WAIT_MS), ExportFrameHandoff::Result::Frame);
    QCOMPARE(picture->startFrame, 3);
    picture.reset();
    for (int number = 0; number < 4; ++number)
    {
        QVERIFY2(pusher.pushed.at(number).expired(), qPrintable(QString::number(number)));
    }
}

void TestExportFrameHandoff::ClosingReleasesAWaitingPushAndEveryPicture()
{
    // A cancel or a failure closes the hand-off while the decode thread
    // waits in a push: the push gives up and nothing handed over is kept.
    ExportFrameHandoff handoff(4);
    auto pusher = std::make_unique<Pusher>(handoff, 1000);
    QVERIFY(QTest::qWaitFor([&] { return pusher->attempted.load() > handoff.Depth(); }, WAIT_MS));
    handoff.Close();
    QVERIFY(QTest::qWaitFor([&] { return pusher->done.load(); }, WAIT_MS));
    QCOMPARE(pusher->accepted.load(), handoff.Depth());
    QCOMPARE(pusher->attempted.load(), handoff.Depth() + 1);
    QCOMPARE(handoff.Count(), 0);
    std::vector<std::weak_ptr<VideoFrame>> const pushed = pusher->pushed;
    pusher.reset();
    for (std::weak_ptr<VideoFrame> const& picture : pushed)
    {
        QVERIFY(picture.expired());
    }
    QVERIFY(!handoff.Push(Picture(0)));
}

void TestExportFrameHandoff::ACancelEndsAWaitingTakeAtOnce()
{
    // The export thread waits for a picture the decode thread has not
    // shown yet; the user cancels. The wait ends on the cancel itself, long
    // before its own time-out.
    ExportProperties request;
    auto handoff = std::make_shared<ExportFrameHandoff>(4);
    int const wake = request.cancelled.AddWake([handoff] { handoff->Close(); });
    std::atomic<bool> taking {false};
    std::atomic<bool> done {false};
    ExportFrameHandoff::Result result = ExportFrameHandoff::Result::Frame;
    std::thread taker([&] {
        std::shared_ptr<VideoFrame> picture;
        taking.store(true);
        result = handoff->Take(picture, WAIT_MS);
        done.store(true);
    });
    QVERIFY(QTest::qWaitFor([&] { return taking.load(); }, WAIT_MS));
    request.cancelled = true;
    // Twice as long as the take's own time-out: only a take that saw the
    // cancel is done within the first half.
    bool const ended = QTest::qWaitFor([&] { return done.load(); }, WAIT_MS / 2);
    handoff->End(); // releases a take that missed the cancel
    taker.join();
    request.cancelled.RemoveWake(wake);
    QVERIFY(ended);
    QCOMPARE(result, ExportFrameHandoff::Result::Closed);
    // Nothing is handed over once the export stopped taking.
    QVERIFY(!handoff->Push(Picture(0)));
}

void TestExportFrameHandoff::AStopSetBeforeTheWakeOrOnACopy()
{
    ExportProperties request;
    ExportProperties const copy = request;
    // A failure already set closes the hand-off as the wake is added.
    request.failed = true;
    QVERIFY(!copy.failed);
    auto handoff = std::make_shared<ExportFrameHandoff>(4);
    int const wake = request.failed.AddWake([handoff] { handoff->Close(); });
    std::shared_ptr<VideoFrame> picture;
    QCOMPARE(handoff->Take(picture, WAIT_MS), ExportFrameHandoff::Result::Closed);
    request.failed.RemoveWake(wake);

    // The wakes stay with their flag: setting a copy, or the flag after its
    // wake is removed, calls none.
    int calls = 0;
    ExportProperties original;
    int const counted = original.cancelled.AddWake([&calls] { ++calls; });
    ExportProperties copied = original;
    copied.cancelled = true;
    QCOMPARE(calls, 0);
    original.cancelled = copied.cancelled;
    QCOMPARE(calls, 1);
    original.cancelled.RemoveWake(counted);
    original.cancelled = true;
    QCOMPARE(calls, 1);
}

QTEST_GUILESS_MAIN(TestExportFrameHandoff)
#include "tst_exportframehandoff.moc"
