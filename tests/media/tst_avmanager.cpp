#include "EngineTestRig.h"
#include "BenchMemory.h"
#include "support/DecoderThreadCounts.h"
#include "support/FourKMedia.h"
#include "support/LoggedMessages.h"
#include "support/TaskHold.h"
#include "support/TimingBounds.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/AvWorker.h"
#include "media/AvWorkerProperties.h"
#include "media/ExportManager.h"
#include "media/ExportProperties.h"
#include "media/PictureArena.h"
#include "media/PlaybackManager.h"
#include "media/VideoFrameBufferPool.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <limits>
#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace EngineTestRig;

namespace
{

int ProcessThreadCount()
{
    return static_cast<int>(BenchMemory::StatusKilobytes("Threads:"));
}

long long ResidentKilobytes()
{
#if defined(__GLIBC__)
    malloc_trim(0); // what the allocator merely keeps is not in use
#endif
    return BenchMemory::StatusKilobytes("VmRSS:");
}

bool Settle(AvManager& av, ViewerProbe const& probe)
{
    return QTest::qWaitFor([&] { return probe.Shows(av.PlaybackTime()); }, TimingBounds::CONDITION_WAIT_MS);
}

void Seek(AvManager& av, long long time)
{
    av.SetPlaybackTime(time, false, false, true, true);
}

// Stops a decode loop where it hands a picture over, on its own thread, until
// opened: the loop decodes nothing meanwhile, as a decoder far too slow for
// the clock would. Opens by itself after a safety wait.
class DecodeGate
{
public:
    // The first hand-over from here on stops the loop.
    void Close(AvWorker* worker, QObject* context)
    {
        QObject::connect(worker, &AvWorker::VideoFrameChanged, context, [this] { Pass(); }, Qt::DirectConnection);
    }

    bool WaitUntilStopped()
    {
        std::unique_lock<std::mutex> locker(mMutex);
        return mChanged.wait_for(locker, std::chrono::seconds(20), [this] { return mStopped; });
    }

    void Open()
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        mOpen = true;
        mChanged.notify_all();
    }

private:
    void Pass()
    {
        std::unique_lock<std::mutex> locker(mMutex);
        mStopped = true;
        mChanged.notify_all();
        mChanged.wait_for(locker, std::chrono::seconds(30), [this] { return mOpen; });
    }

    std::mutex mMutex;
    std::condition_variable mChanged;
    bool mStopped = false; // guarded by mMutex
    bool mOpen = false;    // guarded by mMutex
};

int WorkerOfType(AvManager const& av, AvWorkerTaskType type)
{
    for (int id = 0; id < 1000; ++id)
    {
        AvWorkerProperties const* record = av.FindActiveWorker(id);
        if (record && record->task->type == type)
        {
            return id;
        }
    }
    return -1;
}

// Counts the seeks asked of the running task of the type into seeks; false
// when no such task runs.
bool CountSeeks(AvManager& av, AvWorkerTaskType type, QObject* context, int& seeks)
{
    int const task = WorkerOfType(av, type);
    if (task < 0)
    {
        return false;
    }
    QObject::connect(&av, &AvManager::SeekRequested, context, [&seeks, task](int id) { seeks += id == task ? 1 : 0; });
    return true;
}

// Counts the clock's wraps into wraps: each time the playback time goes back.
void CountWraps(AvManager& av, QObject* context, int& wraps)
{
    QObject::connect(&av, &AvManager::PlaybackTimeChanged, context,
                     [&wraps, last = av.PlaybackTime()](long long time) mutable {
                         wraps += time < last ? 1 : 0;
                         last = time;
                     });
}

// The most frames the clock may run on past the newest picture.
int const COUPLE_OF_FRAMES = 2;

// What the window's viewer puts on screen, by its own routing: a delivered
// frame at once, and at every playback time the kept frame covering it.
// Remembers which frames it showed while playing that lie outside [first,
// last], and which it showed since the last Mark().
class Screen : public QObject
{
public:
    Screen(AvManager* av, Timeline const* timeline, int first = 0, int last = std::numeric_limits<int>::max())
        : mAv(av)
        , mTimeline(timeline)
        , mFirst(first)
        , mLast(last)
    {
        connect(av, &AvManager::VideoFrameChanged, this, [this](int, FramePtr current, FramePtr previous, FramePtr next) {
            mKept = {current, next, previous};
            if (current != mShown)
            {
                Show(current);
            }
        });
        connect(av, &AvManager::PlaybackTimeChanged, this, [this](long long time) {
            for (FramePtr const& frame : std::as_const(mKept))
            {
                if (frame && frame != mShown && frame->adjustedStartTime <= time && time <= frame->adjustedEndTime)
                {
                    Show(frame);
                }
            }
        });
    }

    int Frame() const { return mShown ? mShown->startFrame : -1; }
    // The picture on screen is the frame the clock names.
    bool ShowsTheNumber() const { return mShown && Frame() == mTimeline->FrameAtTime(mAv->PlaybackTime()); }
    void Mark() { since.clear(); }

    QList<int> outside; // frames shown while playing outside the range
    QList<int> since;   // frames shown since Mark()

private:
    void Show(FramePtr const& frame)
    {
        mShown = frame;
        int const number = Frame();
        since << number;
        if (mAv->IsPlaying() && frame && !frame->emptyFrame && (number < mFirst || number > mLast))
        {
            outside << number;
        }
    }

    AvManager* mAv;
    Timeline const* mTimeline;
    int mFirst;
    int mLast;
    FramePtr mShown;
    std::array<FramePtr, 3> mKept;
};

// Every time and frame the engine tells from construction on, each with the
// frame the screen shows as it is told (the screen routes first).
class ToldNumbers : public QObject
{
public:
    struct Told
    {
        int told;
        int shown;
    };

    ToldNumbers(AvManager* av, Timeline const* timeline, Screen const& screen)
    {
        connect(av, &AvManager::PlaybackTimeChanged, this, [this, timeline, &screen](long long time) {
            entries.append({timeline->FrameAtTime(time), screen.Frame()});
        });
        connect(av, &AvManager::PlaybackFrameChanged, this,
                [this, &screen](int frame) { entries.append({frame, screen.Frame()}); });
    }

    QList<Told> entries;
};

QString Joined(QList<int> const& frames)
{
    QStringList texts;
    for (int frame : frames)
    {
        texts << QString::number(frame);
    }
    return texts.join(' ');
}

// Pauses as the window does, and takes the deliveries already on their way.
void PauseNow(AvManager& av)
{
    av.Pause(DecodeBias::None);
    QCoreApplication::processEvents();
}

// Every export task's private timeline copy, while the tasks run.
QList<Timeline*> ExportCopies(AvManager const& av)
{
    QList<Timeline*> copies;
    for (int id = 0; id < 1000; ++id)
    {
        AvWorkerProperties const* record = av.FindActiveWorker(id);
        if (record && (record->task->type == AvWorkerTaskType::ExportAudio ||
                       record->task->type == AvWorkerTaskType::ExportVideo))
        {
            copies << record->task->timeline;
        }
    }
    return copies;
}

} // namespace

class TestAvManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void PlaybackShowsTheCoveringFrame_data();
    void PlaybackShowsTheCoveringFrame();
    void SeekShowsTheFrameAndTheClockResumesWhereItStalled();
    void LoopingARangeDecodesNothingBeyondItAndKeepsItsStart();
    void LoopingFromInsideARangeCachesItsStartBeforeTheFirstWrap_data();
    void LoopingFromInsideARangeCachesItsStartBeforeTheFirstWrap();
    void LoopingCachesTheRangeStartsSoundBeforeTheWrap_data();
    void LoopingCachesTheRangeStartsSoundBeforeTheWrap();
    void PicturesFarBehindHoldTheClockAndTheSound();
    void LoopedPlayShowsItsRangeAndStopsOnTheNumber_data();
    void LoopedPlayShowsItsRangeAndStopsOnTheNumber();
    void SeekTellsThePictureOnScreenUntilItsOwnComes_data();
    void SeekTellsThePictureOnScreenUntilItsOwnComes();
    void ParkedInsideALoopedRangeCachesItsStartBeforePlay();
    void EditsOfThePrimaryTimelineReachTheDecodeLoops();
    void PausedDecodingSleepsOnceTheCacheHasFilled();
    void HeldFillAheadWaitsForItsRelease_data();
    void HeldFillAheadWaitsForItsRelease();
    void EditsWhilePlayingInBothDirections();
    void RunningTasksKeepTheSettingsTheyStartedWith();
    void SteppingBackwardIsFrameExact_data();
    void FourKPlaysAtEveryDecoderThreadCount_data();
    void FourKPlaysAtEveryDecoderThreadCount();
    void SteppingBackwardIsFrameExact();
    void EndingDecodingIsPromptInEveryState_data();
    void EndingDecodingIsPromptInEveryState();
    void OpenSwitchCloseCyclesLeaveNothingBehind();
    void DecodeTimelineTakesOnlyValidOutputs();
    void ExportRunsOnItsOwnCopiesAndIsCancelledByClearAll();
    void ParsesAreCappedAndAllFinish();
    void MissingOrEmptyFirstFileIsOneBlackFrame_data();
    void MissingOrEmptyFirstFileIsOneBlackFrame();

private:
    std::unique_ptr<Timeline> mGop250;
    std::unique_ptr<Timeline> mTone;
    std::unique_ptr<Timeline> mOpenGop;
    // Numbered frames 240-262 (a GOP boundary at 250), a 10-frame stretch of
    // a file without video, numbered frames 45-70 (a GOP boundary at 50).
    std::unique_ptr<Timeline> mEdit;
};

void TestAvManager::initTestCase()
{
    mGop250 = SourceTimeline("numbered_gop250.mp4");
    mTone = SourceTimeline("tone.wav");
    mOpenGop = SourceTimeline("numbered_opengop.mkv");
    QCOMPARE(mGop250->FrameCount(), 300);
    QCOMPARE(mOpenGop->FrameCount(), 150);
    Cut(mGop250.get(), 240, 262);
    Cut(mTone.get(), 0, 9);
    Cut(mOpenGop.get(), 45, 70);
    mEdit = EditTimeline({mGop250.get(), mTone.get(), mOpenGop.get()});
    QCOMPARE(mEdit->FrameCount(), 23 + 10 + 26);
}

void TestAvManager::init()
{
    Settings::cacheSize = 512;
    Settings::pausePlaybackOnSeek = false;
    Settings::loopState = 1;
    mEdit->SetPlaybackTime(0);
    mEdit->SetPlaybackRangeByFrame(0, -1);
}

void TestAvManager::PlaybackShowsTheCoveringFrame_data()
{
    QTest::addColumn<float>("speed");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<int>("loop");
    QTest::addColumn<int>("cutFrame");
    int row = 0;
    for (float speed : {0.25f, 1.0f, 2.0f, 4.0f})
    {
        for (bool forward : {true, false})
        {
            for (int loop : {0, 1, 2})
            {
                // Around the cut into the stretch without video, or out of it.
                int const cut = row++ % 2 == 0 ? 23 : 33;
                QTest::addRow("x%g %s loop %d", speed, forward ? "forward" : "backward", loop)
                    << speed << forward << loop << cut;
            }
        }
    }
}

void TestAvManager::PlaybackShowsTheCoveringFrame()
{
    QFETCH(float, speed);
    QFETCH(bool, forward);
    QFETCH(int, loop);
    QFETCH(int, cutFrame);

    AvManager av;
    ViewerProbe probe(&av, mEdit.get());
    av.DecodeTimeline(mEdit.get(), 0, false, true, false);
    // A range that takes about 0.6 s to play at this speed.
    int const half = std::max(2, static_cast<int>(speed * 7.5f));
    int const first = std::max(cutFrame - half, 0);
    int const last = std::min(cutFrame + half, mEdit->EndFrame());
    mEdit->SetPlaybackRangeByFrame(first, last);
    long long const rangeStart = mEdit->PlaybackRangeStart();
    long long const rangeEnd = mEdit->PlaybackRangeEnd();
    av.SetLoopState(static_cast<LoopState>(loop));
    av.SetPlaybackSpeed(speed);
    Seek(av, forward ? rangeStart : mEdit->TimeAtFrame(last, false));
    QVERIFY(Settle(av, probe));

    bool turned = false;
    bool wrapped = false;
    long long lastTime = av.PlaybackTime();
    connect(&av, &AvManager::PlaybackStateChanged, this, [&](bool playing, bool playForward) {
        turned = turned || (playing && playForward != forward);
    });
    connect(&av, &AvManager::PlaybackTimeChanged, this, [&](long long time) {
        wrapped = wrapped || (forward ? time < lastTime : time > lastTime);
        lastTime = time;
    });
    probe.Reset();
    av.Play(forward, false);
    QVERIFY(av.IsPlaying());
    if (loop == 0)
    {
        QVERIFY(QTest::qWaitFor([&] { return !av.IsPlaying(); }, 30000));
        QCOMPARE(av.PlaybackTime(), forward ? rangeEnd : rangeStart);
    }
    else
    {
        // Past the range end, then on for a few frames.
        QVERIFY(QTest::qWaitFor([&] { return loop == 1 ? wrapped : turned; }, 20000));
        int const shownAtTheEnd = probe.deliveries;
        QVERIFY(QTest::qWaitFor([&] { return probe.deliveries >= shownAtTheEnd + 3; }, 20000));
        av.Pause(DecodeBias::None);
    }
    QVERIFY(Settle(av, probe));
    QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));
    // The picture moved. How many pictures came on the way depends on the
    // machine: a main thread kept waiting ticks the clock on by up to a
    // quarter second at once, and the clock may run a couple of frames past
    // pictures that come late; the range is about 0.6 s of play.
    QVERIFY2(probe.distinct >= 1, "the picture never changed");
}

void TestAvManager::SeekShowsTheFrameAndTheClockResumesWhereItStalled()
{
    AvManager av;
    ViewerProbe probe(&av, mEdit.get());
    QSignalSpy seeks(&av, &AvManager::SeekInProgress);
    av.DecodeTimeline(mEdit.get(), 0, false, true, false);
    QVERIFY(Settle(av, probe));

    // Clip edges, both sides of each GOP boundary and of each cut.
    for (int frame : {0, 9, 10, 22, 23, 27, 32, 33, 37, 38, 58, 12, 1, 57, 30, 5})
    {
        long long const time = mEdit->TimeAtFrame(frame, false);
        Seek(av, time);
        QVERIFY(Settle(av, probe));
        QCOMPARE(av.PlaybackTime(), time);
        int const shown = probe.shown->emptyFrame ? -1 : ReadNumber(*probe.shown);
        QCOMPARE(shown, ExpectedNumber(mEdit.get(), time));
    }
    QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));

    // Frames looked up before the clock stepped back arrive after the step:
    // the one that covers the clock is handed on, and counts as received
    // (a capture of this time takes what the viewer shows).
    std::array<FramePtr, 3> handed;
    QMetaObject::Connection const handing = connect(
        &av, &AvManager::VideoFrameChanged, this,
        [&handed](int, FramePtr current, FramePtr previous, FramePtr next) { handed = {current, previous, next}; });
    auto const stopHanding = qScopeGuard([&handing] { disconnect(handing); });
    auto const showFrame = [&](int frame) {
        Seek(av, mEdit->TimeAtFrame(frame, false));
        return QTest::qWaitFor([&] { return handed[0] && handed[0]->startFrame == frame; },
                               TimingBounds::CONDITION_WAIT_MS)
                   ? handed[0]
                   : nullptr;
    };
    FramePtr const fourteen = showFrame(14);
    FramePtr const fifteen = showFrame(15);
    QVERIFY(fourteen && fifteen);
    Seek(av, mEdit->TimeAtFrame(14, false));
    QVERIFY(QMetaObject::invokeMethod(&av, "OnVideoFrameChanged", Qt::DirectConnection,
                                      Q_ARG(int, av.PrimaryWorkerId(AvWorkerTaskType::DecodeVideo)),
                                      Q_ARG(std::shared_ptr<VideoFrame>, fifteen),
                                      Q_ARG(std::shared_ptr<VideoFrame>, fourteen),
                                      Q_ARG(std::shared_ptr<VideoFrame>, nullptr)));
    QCOMPARE(handed[0], fourteen);
    QCOMPARE(handed[2], fifteen);
    QVERIFY(av.AllVideoFramesReceivedForCurrentTime());

    // A seek while playing, to a time far beyond what was decoded, stalls
    // the clock at the target until the cache holds it; then it goes on from
    // there, without a leap.
    std::unique_ptr<Timeline> whole = SourceTimeline("numbered_gop250.mp4");
    AvManager player;
    ViewerProbe playerProbe(&player, whole.get());
    QSignalSpy playerSeeks(&player, &AvManager::SeekInProgress);
    player.DecodeTimeline(whole.get(), 0, false, true, false);
    player.Play(true, false);
    QList<long long> times;
    QMetaObject::Connection const timing =
        connect(&player, &AvManager::PlaybackTimeChanged, this, [&](long long time) { times << time; });
    long long const target = whole->TimeAtFrame(280, false);
    Seek(player, target);
    QVERIFY(QTest::qWaitFor([&] { return player.PlaybackTime() > target + 200000; }, 30000));
    disconnect(timing); // a pause may go back to the picture on screen
    player.Pause(DecodeBias::None);
    QCOMPARE(playerSeeks.count(), 1);
    QVERIFY(!times.isEmpty());
    QCOMPARE(times.constFirst(), target);
    QVERIFY(times.count(target) >= 2); // it did stall
    for (int i = 1; i < times.size(); ++i)
    {
        QVERIFY(times.at(i) >= times.at(i - 1));
        QVERIFY(times.at(i) - times.at(i - 1) <= PlaybackManager::MAXIMUM_TICK_ELAPSED);
    }
    QVERIFY(Settle(player, playerProbe));
    QVERIFY2(playerProbe.mismatches.isEmpty(), qPrintable(playerProbe.mismatches.join('\n')));
}

void TestAvManager::LoopingARangeDecodesNothingBeyondItAndKeepsItsStart()
{
    // A range in the middle of a long GOP, looped with pictures and sound:
    // the caches stop at the range end instead of filling up with what comes
    // after it, and every wrap finds the range start still cached.
    std::unique_ptr<Timeline> source = SourceTimeline("h264_gop250.mp4");
    std::unique_ptr<Timeline> edit = EditTimeline({source.get()});
    edit->SetPlaybackRangeByFrame(101, 150);
    long long const rangeStart = edit->PlaybackRangeStart();
    long long const rangeEnd = edit->PlaybackRangeEnd();
    AvManager av;
    ViewerProbe probe(&av, edit.get());
    QSignalSpy seeks(&av, &AvManager::SeekInProgress);
    av.SetLoopState(LoopState::Loop);
    av.SetPlaybackSpeed(4.0f);
    // The loops start once the clock plays: they would otherwise fill their
    // caches far past the range while paused (the whole file fits).
    TaskHold holdSound(&av, AvWorkerTaskType::DecodeAudio);
    TaskHold holdPictures(&av, AvWorkerTaskType::DecodeVideo);
    av.DecodeTimeline(edit.get(), 0, true, true, false);
    QVERIFY(holdSound.WaitUntilHeld());
    QVERIFY(holdPictures.WaitUntilHeld());
    Seek(av, rangeStart);

    int wraps = 0;
    CountWraps(av, this, wraps);
    av.Play(true, false);
    holdSound.Release();
    holdPictures.Release();
    QVERIFY(QTest::qWaitFor([&] { return wraps >= 1; }, 60000));
    int const seeksAfterTheFirstPass = seeks.count();
    std::shared_ptr<VideoFrame> const start = edit->FindVideoFrame(rangeStart);
    QVERIFY(start);
    QVERIFY(QTest::qWaitFor([&] { return wraps >= 3 && av.PlaybackTime() > rangeStart + 400000; }, 60000));

    // Read while still looping: nothing after the range end was decoded.
    std::shared_ptr<VideoFrame> const last = edit->LastCachedVideoFrame();
    long long const audioEnd = edit->AudioCacheEndTime();
    std::shared_ptr<VideoFrame> const startNow = edit->FindVideoFrame(rangeStart);
    av.Pause(DecodeBias::None);
    QVERIFY(last);
    QCOMPARE(last->endFrame, 150);
    // One sound block may reach past the range end.
    QVERIFY2(audioEnd <= rangeEnd + 50000,
             qPrintable(QStringLiteral("sound cached up to %1 for a range ending at %2").arg(audioEnd).arg(rangeEnd)));
    // The wraps took the range start from the cache: the same picture,
    // never decoded again, and no wrap had to wait for a seek.
    QCOMPARE(startNow.get(), start.get());
    QCOMPARE(seeks.count(), seeksAfterTheFirstPass);
    QVERIFY(Settle(av, probe));
    QVERIFY(EndTasks(av));
}

void TestAvManager::LoopingFromInsideARangeCachesItsStartBeforeTheFirstWrap_data()
{
    QTest::addColumn<bool>("parked");
    // The picture loop starts with the clock, from the playhead; or, parked
    // with the loop still off, it has cached the rest of the file from the
    // playhead and is done with it when the loop is turned on and the clock
    // starts.
    QTest::newRow("from a seek") << false;
    QTest::newRow("parked, loop on at play") << true;
}

void TestAvManager::LoopingFromInsideARangeCachesItsStartBeforeTheFirstWrap()
{
    // Played with the loop on from inside the range, well past the key
    // picture and past what a seek keeps before its target: the range start
    // is decoded into the cache before the first wrap, which then shows it
    // from there without a seek.
    QFETCH(bool, parked);
    std::unique_ptr<Timeline> source = SourceTimeline("h264_gop250.mp4");
    std::unique_ptr<Timeline> edit = EditTimeline({source.get()});
    edit->SetPlaybackRangeByFrame(101, 150);
    long long const rangeStart = edit->PlaybackRangeStart();
    long long const from = edit->TimeAtFrame(130, false);
    AvManager av;
    ViewerProbe probe(&av, edit.get());
    av.SetLoopState(parked ? LoopState::Off : LoopState::Loop);
    av.SetPlaybackSpeed(4.0f);
    // Until the sound is let go its cache holds nothing and the clock waits
    // on it: the playhead stays put however long the pictures take.
    TaskHold holdSound(&av, AvWorkerTaskType::DecodeAudio);
    std::unique_ptr<TaskHold> holdPictures;
    if (!parked)
    {
        holdPictures = std::make_unique<TaskHold>(&av, AvWorkerTaskType::DecodeVideo);
    }
    av.DecodeTimeline(edit.get(), 0, true, true, false);
    QVERIFY(holdSound.WaitUntilHeld());
    QVERIFY(!holdPictures || holdPictures->WaitUntilHeld());
    Seek(av, from);
    if (parked)
    {
        QVERIFY(Settle(av, probe));
        QVERIFY(QTest::qWaitFor([&] {
            std::shared_ptr<VideoFrame> const last = edit->LastCachedVideoFrame();
            return last && last->endFrame == edit->EndFrame();
        }, 20000));
        QVERIFY2(!edit->FindVideoFrame(rangeStart), "the seek alone already cached the range start");
    }

    int pictureSeeks = 0;
    QVERIFY(CountSeeks(av, AvWorkerTaskType::DecodeVideo, this, pictureSeeks));
    int wraps = 0;
    CountWraps(av, this, wraps);

    av.SetLoopState(LoopState::Loop);
    av.Play(true, false);
    if (holdPictures)
    {
        holdPictures->Release();
    }
    QVERIFY(QTest::qWaitFor([&] { return edit->FindVideoFrame(rangeStart) || wraps > 0; }, 20000));
    std::shared_ptr<VideoFrame> const start = edit->FindVideoFrame(rangeStart);
    QVERIFY2(start && wraps == 0, "the range start was not cached before the first wrap");
    QCOMPARE(start->startFrame, 101);
    QCOMPARE(edit->PlaybackTime(), from);
    // Every frame from the range start to the range end is there, within
    // the budget; from a seek nothing after the range end was decoded. The
    // range start is found as soon as it is decoded, the frames after it as
    // they come: the clock stays put meanwhile.
    QVERIFY(QTest::qWaitFor([&] {
        for (int frame = 101; frame <= 150; ++frame)
        {
            if (!edit->FindVideoFrame(edit->TimeAtFrame(frame, false)))
            {
                return false;
            }
        }
        return true;
    }, 20000));
    QCOMPARE(wraps, 0);
    for (int frame = 101; frame <= 150; ++frame)
    {
        std::shared_ptr<VideoFrame> const cached = edit->FindVideoFrame(edit->TimeAtFrame(frame, false));
        QVERIFY2(cached && cached->startFrame == frame, qPrintable(QStringLiteral("frame %1").arg(frame)));
    }
    QCOMPARE(edit->LastCachedVideoFrame()->endFrame, parked ? edit->EndFrame() : 150);
    QVERIFY(edit->VideoCacheSize() <= edit->VideoCacheMaximumSize());

    holdSound.Release();
    QVERIFY(QTest::qWaitFor([&] { return wraps >= 1 && av.PlaybackTime() > rangeStart + 200000; }, 60000));
    std::shared_ptr<VideoFrame> const startNow = edit->FindVideoFrame(rangeStart);
    av.Pause(DecodeBias::None);
    // The first wrap took the range start from the cache: the same picture,
    // and the picture loop never had to seek.
    QCOMPARE(startNow.get(), start.get());
    QCOMPARE(pictureSeeks, 0);
    QVERIFY(Settle(av, probe));
    QVERIFY(EndTasks(av));
}

void TestAvManager::LoopingCachesTheRangeStartsSoundBeforeTheWrap_data()
{
    QTest::addColumn<float>("speed");
    QTest::newRow("1x") << 1.0f;
    QTest::newRow("2x") << 2.0f;
}

void TestAvManager::LoopingCachesTheRangeStartsSoundBeforeTheWrap()
{
    // Played with the loop on from inside the range (every picture a key
    // picture: a seek there decodes nothing before it): the sound of the
    // range start is in the cache before the clock comes to the range end,
    // so the sound goes on through the wrap. The pictures are held back first, so
    // that the clock waits at the playhead however long that takes.
    QFETCH(float, speed);
    std::unique_ptr<Timeline> source = SourceTimeline("numbered_prores_av.mov");
    std::unique_ptr<Timeline> edit = EditTimeline({source.get()});
    edit->SetPlaybackRangeByFrame(20, 90);
    long long const rangeStart = edit->PlaybackRangeStart();
    long long const from = edit->TimeAtFrame(70, false);
    AvManager av;
    av.SetLoopState(LoopState::Loop);
    av.SetPlaybackSpeed(speed);
    TaskHold holdPictures(&av, AvWorkerTaskType::DecodeVideo);
    av.DecodeTimeline(edit.get(), 0, true, true, false);
    QVERIFY(holdPictures.WaitUntilHeld());
    Seek(av, from);
    QVERIFY(QTest::qWaitFor([&] { return edit->AudioCacheCoversTime(from); }, 20000));
    int wraps = 0;
    bool startCoveredAtWrap = false;
    QObject::connect(&av, &AvManager::PlaybackTimeChanged, this,
                     [&, last = av.PlaybackTime()](long long time) mutable {
                         if (time < last && ++wraps == 1)
                         {
                             startCoveredAtWrap = edit->AudioCacheCoversTime(rangeStart);
                         }
                         last = time;
                     });

    av.Play(true, false);
    // All of the range's sound, start to end, in one piece. The fill of the
    // range start and the forward fill towards the range end take turns, in
    // whichever order the machine lets them finish: both are waited for.
    QVERIFY2(QTest::qWaitFor([&] {
                 return edit->AudioCacheCoversTime(rangeStart) &&
                        edit->AudioCacheEndTime() >= edit->PlaybackRangeEnd();
             }, 20000),
             qPrintable(QStringLiteral("the range's sound was not cached while the clock waited inside the range "
                                       "(cached %1 to %2 µs, range %3 to %4 µs)")
                            .arg(edit->AudioCacheStartTime())
                            .arg(edit->AudioCacheEndTime())
                            .arg(rangeStart)
                            .arg(edit->PlaybackRangeEnd())));
    QCOMPARE(wraps, 0);
    QCOMPARE(edit->PlaybackTime(), from);
    QVERIFY(edit->AudioCacheStartTime() <= rangeStart);
    QVERIFY(edit->AudioCacheSize() <= edit->AudioCacheMaximumSize());

    holdPictures.Release();
    QVERIFY(QTest::qWaitFor([&] { return wraps >= 1; }, 60000));
    av.Pause(DecodeBias::None);
    QVERIFY(startCoveredAtWrap);
    QVERIFY(EndTasks(av));
}

void TestAvManager::PicturesFarBehindHoldTheClockAndTheSound()
{
    // The picture loop stops dead after its first picture while the sound is
    // cached well ahead: the clock runs at most a couple of frames past the
    // newest picture, then waits for the pictures and stops the sound with
    // it. Once the pictures come the clock goes on, and a pause stops on
    // the picture on screen.
    std::unique_ptr<Timeline> source = SourceTimeline("numbered_av.mp4");
    std::unique_ptr<Timeline> edit = EditTimeline({source.get()});
    AvManager av;
    ViewerProbe probe(&av, edit.get());
    Screen screen(&av, edit.get());
    av.SetLoopState(LoopState::Off);
    TaskHold holdPictures(&av, AvWorkerTaskType::DecodeVideo);
    av.DecodeTimeline(edit.get(), 0, true, true, false);
    QVERIFY(holdPictures.WaitUntilHeld());
    QVERIFY(QTest::qWaitFor([&] { return edit->AudioCacheCoversTime(edit->TimeAtFrame(60, false)); }, 20000));
    int const pictureTask = WorkerOfType(av, AvWorkerTaskType::DecodeVideo);
    QVERIFY(pictureTask >= 0);
    DecodeGate gate;
    QObject context;
    gate.Close(av.FindActiveWorker(pictureTask)->worker, &context);
    holdPictures.Release();
    QVERIFY(gate.WaitUntilStopped());
    int const cachedEnd = edit->FrameAtTime(edit->VideoCacheAdjustedEndTime());
    // A late tick of the clock may leap further before it stands.
    int const limit = cachedEnd + COUPLE_OF_FRAMES + 1 +
                      edit->FrameAtTime(PlaybackManager::MAXIMUM_TICK_ELAPSED);

    av.Play(true, false);
    bool const held = QTest::qWaitFor(
        [&] { return edit->FrameAtTime(av.PlaybackTime()) > limit || !av.IsAudioPlaybackReady(); }, 20000);
    int const heldAt = edit->FrameAtTime(av.PlaybackTime());
    bool const soundStopped = !av.IsAudioPlaybackReady();
    gate.Open();
    QVERIFY(held);
    QVERIFY2(heldAt <= limit, qPrintable(QStringLiteral("the clock ran on to frame %1, pictures cached to %2")
                                             .arg(heldAt)
                                             .arg(cachedEnd)));
    QVERIFY2(soundStopped, "the sound played on while the clock waited");

    // The pictures come again: the clock and the sound go on.
    QVERIFY(QTest::qWaitFor([&] { return edit->FrameAtTime(av.PlaybackTime()) > limit + 10; }, 20000));
    QVERIFY(av.IsAudioPlaybackReady());
    PauseNow(av);
    QVERIFY2(screen.ShowsTheNumber(), qPrintable(QStringLiteral("paused at frame %1 showing %2")
                                                     .arg(edit->FrameAtTime(av.PlaybackTime()))
                                                     .arg(screen.Frame())));
    QVERIFY(Settle(av, probe));
    QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));
    QVERIFY(EndTasks(av));
}

void TestAvManager::LoopedPlayShowsItsRangeAndStopsOnTheNumber_data()
{
    QTest::addColumn<float>("speed");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("from");
    // The 250-frame GOP's second key picture is frame 250.
    QTest::newRow("1x") << 1.0f << 101 << 150 << 130;
    QTest::newRow("2x, start before a key picture") << 2.0f << 201 << 260 << 240;
    QTest::newRow("4x") << 4.0f << 101 << 150 << 130;
    QTest::newRow("4x, start before a key picture") << 4.0f << 201 << 260 << 240;
}

void TestAvManager::LoopedPlayShowsItsRangeAndStopsOnTheNumber()
{
    // Play at once from inside a looped range, with the picture loop held at
    // its first picture until the clock either wraps or waits: no picture
    // outside the range ever reaches the screen, and after a pause, a step
    // or a seek the picture on screen is the frame the number names.
    QFETCH(float, speed);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, from);
    std::unique_ptr<Timeline> source = SourceTimeline("h264_gop250.mp4");
    std::unique_ptr<Timeline> edit = EditTimeline({source.get()});
    edit->SetPlaybackRangeByFrame(first, last);
    AvManager av;
    Screen screen(&av, edit.get(), first, last);
    av.SetLoopState(LoopState::Loop);
    av.SetPlaybackSpeed(speed);
    av.DecodeTimeline(edit.get(), 0, true, true, false);
    int const pictureTask = WorkerOfType(av, AvWorkerTaskType::DecodeVideo);
    QVERIFY(pictureTask >= 0);
    auto const number = [&] { return edit->FrameAtTime(av.PlaybackTime()); };
    auto const agrees = [&](char const* what) {
        return QStringLiteral("%1: frame %2, picture %3 (shown since: %4)")
            .arg(QLatin1String(what))
            .arg(number())
            .arg(screen.Frame())
            .arg(Joined(screen.since));
    };
    int wraps = 0;
    CountWraps(av, this, wraps);

    Seek(av, edit->TimeAtFrame(from, false));
    DecodeGate gate;
    QObject context;
    gate.Close(av.FindActiveWorker(pictureTask)->worker, &context);
    auto const openGate = qScopeGuard([&gate] { gate.Open(); }); // a failed check leaves no loop stopped
    av.Play(true, false);
    QVERIFY(gate.WaitUntilStopped());
    QVERIFY(QTest::qWaitFor([&] { return (wraps > 0 && number() > first + 5) || !av.IsAudioPlaybackReady(); },
                            20000));
    gate.Open();
    int const deliveries = static_cast<int>(screen.since.size());
    QVERIFY(QTest::qWaitFor([&] { return screen.since.size() > deliveries; }, 20000));
    PauseNow(av);
    QVERIFY2(screen.ShowsTheNumber(), qPrintable(agrees("paused as the pictures came again")));

    // Twice round the loop, then a pause.
    av.Play(true, false);
    int const lapsBefore = wraps;
    QVERIFY(QTest::qWaitFor([&] { return wraps >= lapsBefore + 2; }, 60000));
    PauseNow(av);
    QVERIFY2(screen.ShowsTheNumber(), qPrintable(agrees("paused")));

    // A step as the step key makes it: paused on the picture shown, one on.
    av.Play(true, false);
    QVERIFY(QTest::qWaitFor([&] { return wraps >= lapsBefore + 3; }, 60000));
    av.Pause(DecodeBias::StepForward);
    int const stepped = std::min(number() + 1, last);
    screen.Mark();
    av.SetPlaybackTime(edit->TimeAtFrame(stepped, false), false, false, true, true);
    QVERIFY(QTest::qWaitFor([&] { return screen.ShowsTheNumber(); }, 20000));
    QCOMPARE(number(), stepped);
    for (int shown : std::as_const(screen.since))
    {
        QVERIFY2(shown == stepped || shown == stepped - 1, qPrintable(agrees("stepped")));
    }

    // A seek into the range while playing, as the command port makes it.
    av.Play(true, false);
    QVERIFY(QTest::qWaitFor([&] { return wraps >= lapsBefore + 4; }, 60000));
    int const target = (first + last) / 2;
    av.SetPlaybackTime(edit->TimeAtFrame(target, false), false, false, false, true);
    PauseNow(av);
    QVERIFY(QTest::qWaitFor([&] { return screen.ShowsTheNumber(); }, 20000));
    QVERIFY2(number() == target, qPrintable(agrees("sought")));

    QVERIFY2(screen.outside.isEmpty(), qPrintable("pictures outside the range shown: " + Joined(screen.outside)));
    QVERIFY(EndTasks(av));
}

void TestAvManager::SeekTellsThePictureOnScreenUntilItsOwnComes_data()
{
    QTest::addColumn<bool>("playing");
    QTest::newRow("paused") << false;
    QTest::newRow("looped play at 2x, sought as the command port does") << true;
}

void TestAvManager::SeekTellsThePictureOnScreenUntilItsOwnComes()
{
    // A seek deep into a long GOP that the cache does not hold: until the
    // sought picture is on screen, every time and frame the engine tells
    // names the picture on screen; with it, the sought frame. The decoding
    // goes for the sought frame at once.
    QFETCH(bool, playing);
    Settings::cacheSize = Settings::MINIMUM_TIMELINE_CACHE_SIZE; // well short of a GOP at this size
    std::unique_ptr<Timeline> source = SourceTimeline("numbered_gop240_av_1440.mp4"); // key pictures 0, 240
    std::unique_ptr<Timeline> edit = EditTimeline({source.get()});
    if (playing)
    {
        edit->SetPlaybackRangeByFrame(101, 287);
    }
    AvManager av;
    Screen screen(&av, edit.get());
    av.SetLoopState(LoopState::Loop);
    av.SetPlaybackSpeed(2.0f);
    av.DecodeTimeline(edit.get(), 0, true, true, false);
    int const from = playing ? 110 : 260;
    int const target = playing ? 235 : 200;
    Seek(av, edit->TimeAtFrame(from, false));
    QVERIFY(QTest::qWaitFor([&] { return screen.Frame() == from; }, 30000));
    if (playing)
    {
        av.Play(true, false);
        QVERIFY(QTest::qWaitFor([&] { return screen.Frame() >= from + 10; }, 30000));
    }
    long long const time = edit->TimeAtFrame(target, false);
    QVERIFY2(!edit->VideoCacheReadyAtTime(time), "the sought frame is cached already");

    ToldNumbers told(&av, edit.get(), screen);
    screen.Mark();
    av.SetPlaybackTime(time, false, false, false, true);
    QCOMPARE(edit->PlaybackTime(), time); // the decode loops have the target at once
    // Playing, the clock may have moved on by the time the picture comes.
    auto const reached = [&](int shown) { return playing ? shown >= target : shown == target; };
    QVERIFY2(QTest::qWaitFor([&] { return std::any_of(screen.since.cbegin(), screen.since.cend(), reached); }, 60000),
             "the sought picture never came");
    QVERIFY(!told.entries.isEmpty());
    bool toldWithItsPicture = false;
    for (ToldNumbers::Told const& entry : std::as_const(told.entries))
    {
        if (reached(entry.shown))
        {
            toldWithItsPicture = entry.told == entry.shown;
            break;
        }
        QVERIFY2(entry.told == entry.shown, qPrintable(QStringLiteral("told frame %1 while showing %2 (sought %3)")
                                                             .arg(entry.told)
                                                             .arg(entry.shown)
                                                             .arg(target)));
    }
    QVERIFY2(toldWithItsPicture, "the sought frame was not told as its picture came");
    if (!playing)
    {
        QCOMPARE(edit->FrameAtTime(av.DisplayedPlaybackTime()), target);
        QVERIFY(screen.ShowsTheNumber());
    }
    QVERIFY(EndTasks(av));
}

void TestAvManager::ParkedInsideALoopedRangeCachesItsStartBeforePlay()
{
    // Parked inside a range with the loop on, well past the key picture and
    // past what a seek keeps before its target: the picture loop gets the
    // loop ready before play, the range start included, and stops at the
    // range end. Play then wraps onto the cached range start.
    std::unique_ptr<Timeline> source = SourceTimeline("h264_gop250.mp4");
    std::unique_ptr<Timeline> edit = EditTimeline({source.get()});
    edit->SetPlaybackRangeByFrame(101, 150);
    long long const rangeStart = edit->PlaybackRangeStart();
    long long const from = edit->TimeAtFrame(130, false);
    AvManager av;
    ViewerProbe probe(&av, edit.get());
    av.SetLoopState(LoopState::Loop);
    av.SetPlaybackSpeed(4.0f);
    av.DecodeTimeline(edit.get(), 0, true, true, false);
    Seek(av, from);
    QVERIFY(Settle(av, probe));

    QVERIFY2(QTest::qWaitFor([&] { return edit->FindVideoFrame(rangeStart) != nullptr; }, 20000),
             "parked, the range start was never cached");
    QVERIFY(!av.IsPlaying());
    QCOMPARE(edit->PlaybackTime(), from);
    QVERIFY(QTest::qWaitFor([&] {
        std::shared_ptr<VideoFrame> const first = edit->FirstCachedVideoFrame();
        return first && first->startFrame == 101;
    }, 20000));
    for (int frame = 101; frame <= 150; ++frame)
    {
        std::shared_ptr<VideoFrame> const cached = edit->FindVideoFrame(edit->TimeAtFrame(frame, false));
        QVERIFY2(cached && cached->startFrame == frame, qPrintable(QStringLiteral("frame %1").arg(frame)));
    }
    // Nothing after the range end was wanted while parked there.
    QCOMPARE(edit->LastCachedVideoFrame()->endFrame, 150);
    QVERIFY(edit->VideoCacheSize() <= edit->VideoCacheMaximumSize());
    std::shared_ptr<VideoFrame> const start = edit->FindVideoFrame(rangeStart);

    int pictureSeeks = 0;
    QVERIFY(CountSeeks(av, AvWorkerTaskType::DecodeVideo, this, pictureSeeks));
    int wraps = 0;
    CountWraps(av, this, wraps);
    av.Play(true, false);
    QVERIFY(QTest::qWaitFor([&] { return wraps >= 1 && av.PlaybackTime() > rangeStart + 200000; }, 60000));
    std::shared_ptr<VideoFrame> const startNow = edit->FindVideoFrame(rangeStart);
    av.Pause(DecodeBias::None);
    // The first wrap took the range start from the cache, and the picture
    // loop never had to seek.
    QCOMPARE(startNow.get(), start.get());
    QCOMPARE(pictureSeeks, 0);
    QVERIFY(Settle(av, probe));

    // Parked outside the range the loop asks nothing: the cache fills on
    // past the range end as usual.
    Seek(av, edit->TimeAtFrame(200, false));
    QVERIFY(Settle(av, probe));
    QVERIFY(QTest::qWaitFor([&] {
        std::shared_ptr<VideoFrame> const last = edit->LastCachedVideoFrame();
        return last && last->endFrame == edit->EndFrame();
    }, 20000));
    QVERIFY(EndTasks(av));
}

void TestAvManager::EditsOfThePrimaryTimelineReachTheDecodeLoops()
{
    std::unique_ptr<Timeline> edit = EditTimeline({mGop250.get(), mTone.get(), mOpenGop.get()});
    AvManager av;
    ViewerProbe probe(&av, edit.get());
    av.DecodeTimeline(edit.get(), 0, true, true, false);
    QVERIFY(Settle(av, probe));
    // Two edits in a row: the second waits for the decode loops to take the
    // first, then follows.
    std::unique_ptr<Clip> removed(edit->RemoveClipAtIndex(1, true));
    edit->MoveClip(1, 0);
    QCOMPARE(edit->FrameCount(), 26 + 23);
    QCOMPARE(av.PlaybackRangeEnd(), edit->EndTime());
    // What was cached for the old order may show until the loops have
    // taken the new one.
    QVERIFY(QTest::qWaitFor([&] {
        return probe.Shows(av.PlaybackTime()) && ReadNumber(*probe.shown) == ExpectedNumber(edit.get(), 0);
    }, 10000));
    probe.Reset();
    for (int frame : {0, 25, 26, 35, 48, 24, 27})
    {
        long long const time = edit->TimeAtFrame(frame, false);
        Seek(av, time);
        QVERIFY(Settle(av, probe));
        QCOMPARE(ReadNumber(*probe.shown), ExpectedNumber(edit.get(), time));
    }
    QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));
    QVERIFY(EndTasks(av));
}

void TestAvManager::PausedDecodingSleepsOnceTheCacheHasFilled()
{
    // Paused, the decode loops fill the cache as far as it goes and then
    // sleep until something changes; whatever changes wakes them.
    AvManager av;
    ViewerProbe probe(&av, mEdit.get());
    av.DecodeTimeline(mEdit.get(), 0, true, true, false);
    Timeline* edit = mEdit.get();
    auto const asleep = [&av, edit] { return av.DecodingIdle(edit); };
    long long const lastTime = edit->TimeAtFrame(edit->EndFrame(), false);
    auto const filled = [edit, lastTime] {
        return edit->VideoCacheCoversTime(lastTime) && edit->AudioCacheCoversTime(lastTime);
    };
    // The audio output's ticks, as its diagnostic block reports them.
    auto const audioTicksRest = [&av] {
        LoggedMessages logged(&Logger::OutputLogged);
        av.LogCacheStats();
        auto const reported = [&logged] { return logged.Messages().join(QString()).contains("Timer Started: "); };
        return QTest::qWaitFor(reported, 20000) && logged.Messages().join(QString()).contains("Timer Started: 0");
    };
    Seek(av, edit->TimeAtFrame(5, false));
    QVERIFY(Settle(av, probe));
    QVERIFY(QTest::qWaitFor(asleep, 20000));
    QVERIFY(!av.IsPlaying()); // the clock's own timer stops with it
    QVERIFY(filled()); // asleep only once all of it is cached
    QVERIFY(QTest::qWaitFor(audioTicksRest, 20000));

    // A seek wakes them: the frame is shown, and they sleep again with the
    // cache filled from there.
    for (int frame : {45, 2})
    {
        Seek(av, edit->TimeAtFrame(frame, false));
        QVERIFY(Settle(av, probe));
        QVERIFY(QTest::qWaitFor(asleep, 20000));
        QVERIFY(filled());
        QVERIFY(edit->VideoCacheCoversTime(av.PlaybackTime()));
    }

    // While the clock runs they follow it by themselves.
    probe.Reset();
    av.Play(true, false);
    QVERIFY(QTest::qWaitFor([&] { return probe.deliveries >= 3; }, 20000));
    QVERIFY(av.IsPlaying() ? !asleep() : true);
    av.Pause(DecodeBias::None);
    QVERIFY(Settle(av, probe));
    QVERIFY(QTest::qWaitFor(asleep, 20000));
    QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));
}

void TestAvManager::HeldFillAheadWaitsForItsRelease_data()
{
    QTest::addColumn<int>("threads");
    for (int threads : DecoderThreadCounts::Each())
    {
        QTest::addRow("%d threads", threads) << threads;
    }
}

void TestAvManager::HeldFillAheadWaitsForItsRelease()
{
    // Held, a paused loop decodes the picture at the clock's time (after a
    // seek too) and sleeps there; released, it fills the cache as usual.
    QFETCH(int, threads);
    int const setting = Settings::videoDecoderThreadCount;
    Settings::videoDecoderThreadCount = threads;
    auto const restore = qScopeGuard([setting] { Settings::videoDecoderThreadCount = setting; });
    std::unique_ptr<Timeline> const timeline = SourceTimeline("numbered_opengop.mkv");
    Timeline* const source = timeline.get();
    QCOMPARE(source->FrameCount(), 150);
    long long const lastTime = source->TimeAtFrame(source->EndFrame(), false);
    AvManager av;
    ViewerProbe probe(&av, source);
    av.HoldFillAhead();
    av.DecodeTimeline(source, 0, false, true, false);
    auto const asleep = [&av, source] { return av.DecodingIdle(source); };
    for (int frame : {0, 60})
    {
        Seek(av, source->TimeAtFrame(frame, false));
        QVERIFY(Settle(av, probe));
        QVERIFY(QTest::qWaitFor(asleep, 20000));
        QVERIFY(!source->VideoCacheCoversTime(lastTime));
        QVERIFY2(source->VideoCacheFrameCount() < source->FrameCount() / 2,
                 qPrintable(QString::number(source->VideoCacheFrameCount())));
    }
    av.ReleaseFillAhead();
    QVERIFY(QTest::qWaitFor([&] { return source->VideoCacheCoversTime(lastTime) && asleep(); }, 20000));
    QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));
}

void TestAvManager::EditsWhilePlayingInBothDirections()
{
    // The interface edits the clips, the range and the audio override of the
    // timeline while its decode loops run forwards and backwards: they work on
    // snapshots of their own, so nothing they read changes or goes away under
    // them (the sanitizer builds watch), and once the edits stop the right
    // picture shows.
    std::unique_ptr<Timeline> edit = EditTimeline({mGop250.get(), mTone.get(), mOpenGop.get()});
    AvManager av;
    ViewerProbe probe(&av, edit.get());
    av.DecodeTimeline(edit.get(), 0, true, true, false);
    QVERIFY(Settle(av, probe));
    // Between the edits the loops get to work: until they hand over another
    // picture, or the clock stopped at a range end.
    auto const letLoopsWork = [&] {
        int const before = probe.deliveries;
        return QTest::qWaitFor([&] { return probe.deliveries > before || !av.IsPlaying(); }, 20000);
    };
    for (int round = 0; round < 12; ++round)
    {
        bool const forward = round % 2 == 0;
        av.Play(forward, false);
        QVERIFY(letLoopsWork());
        std::unique_ptr<Clip> removed(edit->RemoveClipAtIndex(round % edit->ClipCount(), true));
        QVERIFY(letLoopsWork());
        edit->InsertClipAtIndex(removed.release(), round % (edit->ClipCount() + 1), true);
        edit->SetPlaybackRangeByFrame(round % 5, edit->EndFrame() - round % 7);
        edit->SetAudioOverrideTimeline(round % 3 == 0 ? mTone.get() : nullptr);
        edit->SetUseSourceAudioDelayEnabled(round % 4 < 2);
        edit->MoveClip(0, edit->ClipCount() - 1);
        QVERIFY(letLoopsWork());
    }
    av.Pause(DecodeBias::None);
    edit->SetAudioOverrideTimeline(nullptr);
    edit->SetPlaybackRangeByFrame(0, -1);
    for (int frame : {0, edit->EndFrame(), 30, 12})
    {
        long long const time = edit->TimeAtFrame(frame, false);
        Seek(av, time);
        // The loops may still be taking the last edits: what they cached for
        // the old order may show until then, the right picture after.
        int const expected = ExpectedNumber(edit.get(), time);
        QVERIFY2(QTest::qWaitFor([&] {
            return probe.Shows(av.PlaybackTime()) &&
                   (expected < 0 ? probe.shown->emptyFrame : ReadNumber(*probe.shown) == expected);
        }, 20000), qPrintable(QStringLiteral("frame %1 never showed picture %2").arg(frame).arg(expected)));
    }
    QVERIFY(EndTasks(av));
}

void TestAvManager::RunningTasksKeepTheSettingsTheyStartedWith()
{
    // A decode task reads the settings as they were when it started: the
    // second video clip, opened after the setting changed, still comes in
    // the format the task began with. A task started later takes the change.
    auto const restore = qScopeGuard([rgb = Settings::videoDecoderForceRgbOutput,
                                      hardware = Settings::hardwareRenderingEnabled] {
        Settings::videoDecoderForceRgbOutput = rgb;
        Settings::hardwareRenderingEnabled = hardware;
    });
    Settings::videoDecoderForceRgbOutput = false;
    Settings::hardwareRenderingEnabled = true;
    QVERIFY(Settings::HardwareRenderingInUse());
    long long const secondClip = mEdit->TimeAtFrame(23 + 10 + 5, false);
    QCOMPARE(ExpectedNumber(mEdit.get(), secondClip), 50);
    {
        AvManager av;
        ViewerProbe probe(&av, mEdit.get());
        // Only the picture at the clock is decoded: nothing of the second
        // clip before the setting changes.
        av.HoldFillAhead();
        av.DecodeTimeline(mEdit.get(), 0, false, true, false);
        QVERIFY(Settle(av, probe));
        QCOMPARE(probe.shown->pixelFormat, VideoFramePixelFormat::YUV420P);
        Settings::videoDecoderForceRgbOutput = true;
        Seek(av, secondClip);
        QVERIFY(Settle(av, probe));
        QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));
        QCOMPARE(probe.shown->pixelFormat, VideoFramePixelFormat::YUV420P);
    }
    AvManager av;
    ViewerProbe probe(&av, mEdit.get());
    av.HoldFillAhead();
    av.DecodeTimeline(mEdit.get(), 0, false, true, false);
    Seek(av, secondClip);
    QVERIFY(Settle(av, probe));
    QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));
    QCOMPARE(probe.shown->pixelFormat, VideoFramePixelFormat::RGB24);
}

void TestAvManager::SteppingBackwardIsFrameExact_data()
{
    QTest::addColumn<QString>("media");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::newRow("250-frame GOPs") << "numbered_gop250.mp4" << 262 << 236;
    QTest::newRow("open GOPs") << "numbered_opengop.mkv" << 106 << 44;
    QTest::newRow("across cuts") << QString() << 58 << 0;
    QTest::newRow("image sequence") << "seq_png/img.####.png 1-30" << 29 << 0;
}

void TestAvManager::SteppingBackwardIsFrameExact()
{
    QFETCH(QString, media);
    QFETCH(int, from);
    QFETCH(int, to);
    std::unique_ptr<Timeline> source = media.isEmpty() ? nullptr : SourceTimeline(media);
    Timeline* stepped = source ? source.get() : mEdit.get();

    AvManager av;
    ViewerProbe probe(&av, stepped);
    av.DecodeTimeline(stepped, 0, false, true, false);
    Seek(av, stepped->TimeAtFrame(from, false));
    QVERIFY(Settle(av, probe));
    for (int frame = from - 1; frame >= to; --frame)
    {
        av.Pause(DecodeBias::StepBackward);
        long long const time = stepped->TimeAtFrame(frame, false);
        Seek(av, time);
        QVERIFY2(Settle(av, probe), qPrintable(QStringLiteral("frame %1").arg(frame)));
        // The probe checks each picture; a stretch without video shows one black frame.
        QCOMPARE(probe.shown->emptyFrame ? frame : probe.shown->startFrame, frame);
    }
    QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));
}

void TestAvManager::FourKPlaysAtEveryDecoderThreadCount_data()
{
    QTest::addColumn<QString>("media");
    QTest::addColumn<int>("threads");
    for (char const* media : FourKMedia())
    {
        for (int threads : DecoderThreadCounts::Each())
        {
            QTest::addRow("%s %d threads", media, threads) << QString::fromLatin1(media) << threads;
        }
    }
}

// 3840x2160 pictures with 1-s GOPs at the default cache: whatever the
// decoder's threads hold, the first picture comes, forward and backward play
// run to the ends, and stepping back through the GOP seams shows each frame.
void TestAvManager::FourKPlaysAtEveryDecoderThreadCount()
{
    QFETCH(QString, media);
    QFETCH(int, threads);
    int const setting = Settings::videoDecoderThreadCount;
    Settings::videoDecoderThreadCount = threads;
    auto const restore = qScopeGuard([setting] { Settings::videoDecoderThreadCount = setting; });
    std::unique_ptr<Timeline> const source = SourceTimeline(media);
    QCOMPARE(source->FrameCount(), 75);
    int const last = source->EndFrame();

    AvManager av;
    ViewerProbe probe(&av, source.get());
    av.DecodeTimeline(source.get(), 0, false, true, false);
    av.SetLoopState(LoopState::Off);
    QVERIFY2(Settle(av, probe), "no first picture");

    av.Play(true, false);
    QVERIFY2(QTest::qWaitFor([&] { return !av.IsPlaying(); }, 60000), "forward play stopped short");
    QCOMPARE(source->FrameAtTime(av.PlaybackTime()), last);
    QVERIFY(Settle(av, probe));
    QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));

    av.Play(false, false);
    QVERIFY2(QTest::qWaitFor([&] { return !av.IsPlaying(); }, 60000),
             qPrintable(QStringLiteral("backward play stopped at frame %1").arg(source->FrameAtTime(av.PlaybackTime()))));
    QCOMPARE(av.PlaybackTime(), 0LL);
    QVERIFY(Settle(av, probe));

    // Back from the last GOP over both seams (frames 50 and 25).
    Seek(av, source->TimeAtFrame(last, false));
    QVERIFY(Settle(av, probe));
    probe.Reset();
    for (int frame = last - 1; frame >= 20; --frame)
    {
        av.Pause(DecodeBias::StepBackward);
        Seek(av, source->TimeAtFrame(frame, false));
        QVERIFY2(Settle(av, probe), qPrintable(QStringLiteral("frame %1").arg(frame)));
        QCOMPARE(probe.shown->startFrame, frame);
    }
    QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));
}

void TestAvManager::EndingDecodingIsPromptInEveryState_data()
{
    QTest::addColumn<QString>("media");
    QTest::addColumn<QString>("state");
    QTest::newRow("idle with a full cache") << "numbered_gop250.mp4" << "idle";
    QTest::newRow("playing forward") << "numbered_gop250.mp4" << "forward";
    QTest::newRow("refilling backward in a long GOP") << "numbered_gop250.mp4" << "backward";
    QTest::newRow("seek in progress") << "numbered_gop250.mp4" << "seek";
    QTest::newRow("image sequence playing") << "seq_png/img.####.png 1-30" << "forward";
    QTest::newRow("audio and video playing backward") << "h264_gop250.mp4" << "backward";
}

void TestAvManager::EndingDecodingIsPromptInEveryState()
{
    QFETCH(QString, media);
    QFETCH(QString, state);
    std::unique_ptr<Timeline> timeline = SourceTimeline(media);
    QVERIFY(timeline->FrameCount() > 0);
    Settings::cacheSize = 64; // small enough for the cache to fill
    AvManager av;
    ViewerProbe probe(&av, timeline.get());
    av.DecodeTimeline(timeline.get(), 0, true, true, false);
    QVERIFY(Settle(av, probe));
    if (state == "idle")
    {
        QVERIFY(QTest::qWaitFor([&] {
            return !timeline->CanCacheVideoFrame() || timeline->VideoCacheFrameCount() == timeline->FrameCount();
        }, 20000));
    }
    else if (state == "forward")
    {
        av.Play(true, false);
        int const shown = probe.deliveries;
        QVERIFY(QTest::qWaitFor([&] { return probe.deliveries >= shown + 3; }, 20000));
    }
    else if (state == "backward")
    {
        long long const from = timeline->TimeAtFrame(245, false);
        Seek(av, from);
        QVERIFY(Settle(av, probe));
        av.Play(false, false);
        // The clock enters a frame the cache lacks: the loop refills backward.
        QVERIFY(QTest::qWaitFor([&] { return av.PlaybackTime() < from; }, 20000));
    }
    else
    {
        Seek(av, timeline->TimeAtFrame(240, false));
    }
    QElapsedTimer ending;
    ending.start();
    av.EndDecodingTask(0, true, true);
    QCOMPARE(av.ActiveWorkerCount(), 1);
    // A generous bound that only a loop deaf to the stop would pass.
    QVERIFY(QTest::qWaitFor([&] { return av.ExpiredWorkerCount() == 0; }, 3000));
    QVERIFY(ending.elapsed() < 3000);
    QCOMPARE(av.PrimaryTimeline(), nullptr);
    QCOMPARE(timeline->OutputId(), -1);
}

void TestAvManager::OpenSwitchCloseCyclesLeaveNothingBehind()
{
    std::unique_ptr<Timeline> first = SourceTimeline("h264_gop250.mp4");
    std::unique_ptr<Timeline> second = SourceTimeline("numbered_mjpeg.mov");
    AvManager av;
    int cleared = 0;
    int delivered = 0;
    connect(&av, &AvManager::VideoFrameChanged, this, [&](int, FramePtr current, FramePtr, FramePtr) {
        current ? ++delivered : ++cleared;
    });
    auto const cycle = [&] {
        int const before = delivered;
        av.DecodeTimeline(first.get(), 0, true, true, false);
        if (!QTest::qWaitFor([&] { return delivered > before; }, 20000))
        {
            return false;
        }
        // Freed pictures may keep their memory within the cache budget.
        if (PictureArena::Instance().RetainLimit() != static_cast<size_t>(first->CacheSize()) * 1000000)
        {
            return false;
        }
        // Switching ends the first timeline's workers without clearing the output.
        int const switched = delivered;
        av.DecodeTimeline(second.get(), 0, true, true, false);
        if (!QTest::qWaitFor([&] { return delivered > switched; }, 20000) || av.PrimaryTimeline() != second.get() ||
            first->OutputId() != -1)
        {
            return false;
        }
        av.EndDecodingTask(0, true, true);
        return QTest::qWaitFor([&] { return av.TotalWorkerCount() == 1; }, 20000);
    };
    auto const cachesReleased = [&] {
        for (Timeline* timeline : {first.get(), second.get()})
        {
            if (timeline->VideoCacheFrameCount() > 0 || timeline->AudioCacheFrameCount() > 0 ||
                timeline->HasDeferredVideoCache() || timeline->HasDeferredAudioCache())
            {
                return false;
            }
        }
        return true;
    };
    // Nothing decodes any more: once the idle delay is over, idle picture
    // buffers and kept picture memory went back to the system.
    int const released = AvManager::IDLE_MEMORY_RELEASE_MS + 5000;
    auto const memoryReleased = [] {
        return VideoFrameBufferPool::Shared()->IdleBytes() == 0 && PictureArena::Instance().RetainedBytes() == 0;
    };
    QVERIFY(cycle());
    QVERIFY(QTest::qWaitFor(cachesReleased, 5000));
    QVERIFY(QTest::qWaitFor(memoryReleased, released));
    int const threads = ProcessThreadCount();
    long long const memory = ResidentKilobytes();
    cleared = 0;
    for (int i = 0; i < 100; ++i)
    {
        QVERIFY2(cycle(), qPrintable(QStringLiteral("cycle %1").arg(i)));
    }
    QCOMPARE(cleared, 100); // one clearing per close, none per switch
    QCOMPARE(av.ActiveWorkerCount(), 1);
    QCOMPARE(av.ExpiredWorkerCount(), 0);
    QVERIFY(QTest::qWaitFor(cachesReleased, 5000));
    QVERIFY(QTest::qWaitFor([&] { return ProcessThreadCount() <= threads; }, 5000));
    QVERIFY(QTest::qWaitFor(memoryReleased, released));
#if !defined(__SANITIZE_ADDRESS__)
    // Freed frames go back in batches and idle buffers are trimmed once
    // nothing decodes; on a loaded machine that can take a moment.
    bool const returned = QTest::qWaitFor([&] { return ResidentKilobytes() < memory + 40000; }, released);
    QVERIFY2(returned,
             qPrintable(QStringLiteral("%1 kB before, %2 kB after").arg(memory).arg(ResidentKilobytes())));
#else
    Q_UNUSED(memory);
#endif

    // ClearAll without all keeps exactly the audio output.
    av.DecodeTimeline(first.get(), 0, true, true, false);
    av.ParseSource(second.get());
    av.ClearAll(false, 1000);
    QCOMPARE(av.ActiveWorkerCount(), 1);
    QCOMPARE(av.ExpiredWorkerCount(), 0);
    QCOMPARE(av.PrimaryTimeline(), nullptr);
    QVERIFY(EndTasks(av));
    QCOMPARE(av.TotalWorkerCount(), 0);
}

void TestAvManager::DecodeTimelineTakesOnlyValidOutputs()
{
    AvManager av;
    av.DecodeTimeline(mGop250.get(), 1, true, true, false);
    av.DecodeTimeline(mGop250.get(), -1, true, true, false);
    // The decoding still under way logs on its own thread.
    LoggedMessages errors(&Logger::ErrorLogged);
    av.DecodeTimeline(nullptr, 0, true, true, false);
    QCOMPARE(errors.Messages(), QStringList {QStringLiteral("Failed to decode timeline. Timeline is NULL.")});
    QCOMPARE(av.ActiveWorkerCount(), 1);
    QCOMPARE(av.PrimaryTimeline(), nullptr);
    QCOMPARE(mGop250->OutputId(), -1);

    // A parse rewrites the source's records: it waits while the source is
    // decoded, and runs once that decoding has ended.
    std::unique_ptr<Timeline> shown = SourceTimeline("h264_cfr25.mp4");
    int const frames = shown->SourcePtr()->FrameCount();
    QSignalSpy updated(shown.get(), &Timeline::SourceUpdated);
    av.DecodeTimeline(shown.get(), 0, true, true, false);
    av.ParseSource(shown.get());
    QCOMPARE(av.ActiveWorkerCount(), 3); // the audio output and the two decode tasks
    av.EndDecodingTask(0, true, false);
    QCOMPARE(updated.count(), 0);
    QVERIFY(updated.wait(10000));
    QCOMPARE(shown->SourcePtr()->FrameCount(), frames);
    QVERIFY(QTest::qWaitFor([&] { return av.TotalWorkerCount() == 1; }, 10000));
}

void TestAvManager::ExportRunsOnItsOwnCopiesAndIsCancelledByClearAll()
{
    QTemporaryDir folder;
    AvManager av;
    ViewerProbe probe(&av, mEdit.get());
    av.DecodeTimeline(mEdit.get(), 0, true, true, false);
    QVERIFY(Settle(av, probe));

    Settings::tempDirPath = folder.filePath("temp");
    ExportProperties request;
    request.timeline = mEdit.get();
    request.outputFilePath = folder.filePath("out.mp4");
    request.width = 320;
    request.height = 240;
    QCOMPARE(ExportManager::PreExportInitialization(&request), QString());
    QSignalSpy ended(&av, &AvManager::ExportTasksEnded);
    av.StartTimelineExport(&request);
    QVERIFY(av.IsExporting());
    QList<Timeline*> const copies = ExportCopies(av);
    QCOMPARE(copies.size(), 2);
    // The clock moves what is shown, never an export's copies.
    long long const end = mEdit->TimeAtFrame(mEdit->EndFrame(), false);
    Seek(av, end);
    for (Timeline* copy : copies)
    {
        QVERIFY(copy != mEdit.get());
        QVERIFY(copy->PlaybackTime() < end);
    }
    QVERIFY(QTest::qWaitFor([&] { return ended.count() == 1; }, 60000));
    QVERIFY(!av.IsExporting());
    QCOMPARE(request.audioProgress.load(), 100.0f);
    QCOMPARE(request.videoProgress.load(), 100.0f);
    QVERIFY(!request.audioExporting && !request.videoExporting);
    QVERIFY(!request.failed);
    QCOMPARE(ExportManager::PostExportCleanup(&request), QString());
    QVERIFY(QFileInfo(request.outputFilePath).size() > 0);
    QVERIFY(!QFileInfo::exists(request.tempDirPath));
    QVERIFY(Settle(av, probe));

    // A new project while an export runs: cancelled and waited for.
    ExportProperties second;
    second.timeline = mEdit.get();
    av.StartTimelineExport(&second);
    av.ClearAll(false, 1000);
    QVERIFY(second.cancelled);
    QCOMPARE(ended.count(), 2);
    QCOMPARE(av.TotalWorkerCount(), 1);

    // Nothing to export: no task, and the export ends at once.
    ExportProperties nothing;
    nothing.timeline = mEdit.get();
    nothing.noAudio = true;
    nothing.noVideo = true;
    av.StartTimelineExport(&nothing);
    QCOMPARE(ended.count(), 3);
    QCOMPARE(av.TotalWorkerCount(), 1);
}

void TestAvManager::ParsesAreCappedAndAllFinish()
{
    int const limit = std::max(QThread::idealThreadCount(), 1);
    std::vector<std::unique_ptr<Timeline>> timelines;
    for (int i = 0; i < limit + 3; ++i)
    {
        timelines.push_back(std::make_unique<Timeline>(
            TestMedia::Path(i % 2 == 0 ? "h264_cfr25.mp4" : "tone.m4a"), QString(), QUuid::createUuid()));
    }
    AvManager av;
    int most = 0;
    auto const parsing = [&] {
        most = std::max(most, av.ActiveWorkerCount() - 1);
        return av.TotalWorkerCount() - 1;
    };
    for (auto const& timeline : timelines)
    {
        av.ParseSource(timeline.get());
        parsing();
    }
    QVERIFY(QTest::qWaitFor([&] { return parsing() == 0; }, 60000));
    QVERIFY(most <= limit);
    QVERIFY(most >= std::min(limit, 2));
    for (auto const& timeline : timelines)
    {
        QVERIFY(timeline->SourcePtr()->IsParsed());
        QVERIFY(!timeline->SourcePtr()->HasErrors());
    }
    LoggedMessages errors(&Logger::ErrorLogged);
    av.ParseSource(mEdit.get());
    QCOMPARE(errors.Messages(), QStringList {QStringLiteral("Failed to parse source. Invalid source timeline.")});
    QCOMPARE(av.TotalWorkerCount(), 1);
}

void TestAvManager::MissingOrEmptyFirstFileIsOneBlackFrame_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("error");
    QTest::addRow("missing") << "seq_first_missing" << 1;
    QTest::addRow("empty") << "seq_first_empty" << 3;
}

void TestAvManager::MissingOrEmptyFirstFileIsOneBlackFrame()
{
    // The first file of shot.1001-1006 is like any other: its frame is
    // black, and the source carries its error once it was shown.
    QFETCH(QString, folder);
    QFETCH(int, error);
    Timeline timeline(TestMedia::Path(folder) + "/shot.####.png 1001-1006", QString(), QUuid::createUuid());
    Source* const source = timeline.SourcePtr();
    AvManager av;
    av.ParseSource(&timeline);
    QVERIFY(QTest::qWaitFor([&] { return av.TotalWorkerCount() == 1; }, 20000));
    timeline.OnTrackUpdated();
    QVERIFY(source->IsParsed());
    QCOMPARE(source->VideoStreamCount(), 1);
    QCOMPARE(source->FrameCount(), 6);
    QCOMPARE(timeline.FrameCount(), 6);
    int width = 0;
    int height = 0;
    QVERIFY(timeline.GlobalWidthHeight(width, height));
    QCOMPARE(QSize(width, height), QSize(160, 120));

    ViewerProbe probe(&av, &timeline);
    av.DecodeTimeline(&timeline, 0, false, true, false);
    auto const black = [](FramePtr const& frame) {
        QImage const& image = frame->planes[0];
        uchar const level = frame->pixelFormat == VideoFramePixelFormat::YUV420P ? 16 : 0;
        return std::all_of(image.constBits(), image.constBits() + image.sizeInBytes(),
                           [level](uchar byte) { return byte == level; });
    };
    for (int frame : {0, 1, 5, 0})
    {
        Seek(av, timeline.TimeAtFrame(frame, false));
        QVERIFY(Settle(av, probe));
        QVERIFY(!probe.shown->emptyFrame);
        QCOMPARE(probe.shown->planes[0].size(), QSize(160, 120));
        QCOMPARE(black(probe.shown), frame == 0);
    }
    QVERIFY2(probe.mismatches.isEmpty(), qPrintable(probe.mismatches.join('\n')));
    QCOMPARE(source->ErrorCode(), error);
    QCOMPARE(source->FileInfoAtIndex(0)->errorCode, error);
}

QTEST_MAIN(TestAvManager)
#include "tst_avmanager.moc"
