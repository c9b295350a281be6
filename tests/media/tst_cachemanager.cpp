#include "model/ModelFixtures.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AudioFrame.h"
#include "media/CacheManager.h"
#include "media/VideoFrame.h"

#include <QtTest>

#include <atomic>
#include <thread>

using namespace ModelFixtures;

namespace
{
long long const FRAME_DURATION = 40000; // 25 fps

std::shared_ptr<VideoFrame> FrameAt(int index, long long byteSize)
{
    return MakeVideoFrame(index * FRAME_DURATION, (index + 1) * FRAME_DURATION - 1, byteSize);
}

// Fills the video budget with count equal frames from frame 0 on; returns
// their size.
long long FillVideo(CacheManager& cache, int count)
{
    long long const size = cache.VideoMaximumSize() / count;
    for (int i = 0; i < count; ++i)
    {
        cache.InsertVideoFrame(FrameAt(i, size));
    }
    return size;
}

// The cached frames from first to last, walked through the public lookups;
// fails the test when a frame does not start right after the previous one.
QList<std::shared_ptr<VideoFrame>> WalkVideo(CacheManager const& cache)
{
    QList<std::shared_ptr<VideoFrame>> frames;
    std::shared_ptr<VideoFrame> frame = cache.FirstCachedVideoFrame();
    while (frame)
    {
        frames.append(frame);
        if (frame == cache.LastCachedVideoFrame())
        {
            break;
        }
        std::shared_ptr<VideoFrame> next = cache.FindVideoFrame(frame->adjustedEndTime + 1);
        if (!next || next->adjustedStartTime != frame->adjustedEndTime + 1)
        {
            return {};
        }
        frame = next;
    }
    return frames;
}
} // namespace

class TestCacheManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void BudgetsAreDecimalAnd64Bit();
    void VideoStaysOrderedAndContiguous();
    void PicturesOnOneFrameKeepTheLatest();
    void LookupAlwaysGivesThreeEntries();
    void LookupOutsideOrBetweenFramesFindsNothing();
    void ForwardPlayEvictsFromTheFrontPastHalfway();
    void BackwardPlayEvictsFromTheBack();
    void PlayheadBeyondTheWindowEvictsTheFront();
    void PlaybackNeverExceedsTheBudgetByMoreThanOneFrame();
    void LoopRangeFramesAreEvictedLast();
    void LoopRangeEndBoundsTheDecodeAhead();
    void LeadPicturesAreFoundBeforeThoseBetweenAndJoinTheWindow();
    void LeadPicturesThatNeverReachTheWindowGoOrJoinIt();
    void PoppingTheLastFrameResetsTheCache();
    void AudioInsertionEvictionAndOutputIndex();
    void AudioGapsAreFilledWithSilence();
    void ClearingReleasesInBatches();
    void ClearedFramesCountUntilReleased();
    void DecoderHeldPicturesCountAgainstTheBudget();
    void WriterAndReaderThreadsShareTheCache();
};

void TestCacheManager::BudgetsAreDecimalAnd64Bit()
{
    CacheManager cache;
    QCOMPARE(cache.CacheSize(), std::max(Settings::cacheSize, Settings::MINIMUM_TIMELINE_CACHE_SIZE));
    cache.SetCacheSize(100);
    QCOMPARE(cache.VideoMaximumSize(), 256000000LL);
    QCOMPARE(cache.AudioMaximumSize(), 3072000LL);
    QCOMPARE(cache.CacheSize(), 256);
    cache.SetCacheSize(Settings::MAXIMUM_CACHE_SIZE);
    QCOMPARE(cache.VideoMaximumSize(), 32768000000LL);
    QCOMPARE(cache.AudioMaximumSize(), 393216000LL);
    QCOMPARE(cache.CacheSize(), 32768);
}

void TestCacheManager::VideoStaysOrderedAndContiguous()
{
    CacheManager cache;
    cache.InsertVideoFrame(nullptr);
    QCOMPARE(cache.VideoFrameCount(), 0);
    cache.InsertVideoFrame(FrameAt(5, 10));
    cache.InsertVideoFrame(FrameAt(6, 10));
    cache.InsertVideoFrame(MakeVideoFrame(6 * FRAME_DURATION, 7 * FRAME_DURATION, 10)); // same start: dropped
    cache.InsertVideoFrame(FrameAt(5, 10)); // inside the window: dropped
    QCOMPARE(cache.VideoFrameCount(), 2);
    QCOMPARE(cache.VideoSize(), 20LL);

    // Earlier than the first: trimmed to end just before it.
    auto early = MakeVideoFrame(2 * FRAME_DURATION, 9 * FRAME_DURATION, 10);
    cache.InsertVideoFrame(early);
    QCOMPARE(early->packetEndTime.load(), 5 * FRAME_DURATION - 1);
    QCOMPARE(early->adjustedEndTime.load(), 5 * FRAME_DURATION - 1);
    QCOMPARE(cache.VideoPacketStartTime(), 2 * FRAME_DURATION);

    // After a gap: the previous last frame is held up to the new one.
    cache.InsertVideoFrame(FrameAt(9, 10));
    QCOMPARE(cache.VideoFrameCount(), 4);
    QCOMPARE(cache.VideoFrameAdjustedEndTime(), 10 * FRAME_DURATION - 1);
    QCOMPARE(WalkVideo(cache).size(), 4);
}

void TestCacheManager::PicturesOnOneFrameKeepTheLatest()
{
    // Two pictures placed on the same timeline frame (a variable-rate pair):
    // the later one covers the frame's start, whichever arrives first.
    auto picture = [](long long packetStart, int frame) {
        auto made = MakeVideoFrame(packetStart, packetStart + FRAME_DURATION - 1, 10);
        made->adjustedStartTime = frame * FRAME_DURATION;
        made->adjustedEndTime = (frame + 1) * FRAME_DURATION - 1;
        return made;
    };
    for (bool const forward : {true, false})
    {
        CacheManager cache;
        auto const before = picture(3 * FRAME_DURATION, 3);
        auto const first = picture(3 * FRAME_DURATION + 100, 4);
        auto const second = picture(3 * FRAME_DURATION + 5000, 4);
        auto const after = picture(5 * FRAME_DURATION, 5);
        QList<std::shared_ptr<VideoFrame>> const order =
            forward ? QList<std::shared_ptr<VideoFrame>> {before, first, second, after}
                    : QList<std::shared_ptr<VideoFrame>> {after, second, first, before};
        for (std::shared_ptr<VideoFrame> const& frame : order)
        {
            cache.InsertVideoFrame(frame);
        }
        QCOMPARE(cache.VideoFrameCount(), 3);
        QCOMPARE(cache.VideoSize(), 30LL);
        QCOMPARE(cache.FindVideoFrame(4 * FRAME_DURATION), second);
        QCOMPARE(cache.FindVideoFrame(3 * FRAME_DURATION), before);
        QCOMPARE(cache.FindVideoFrame(5 * FRAME_DURATION), after);
        QCOMPARE(WalkVideo(cache).size(), 3);
    }
}

void TestCacheManager::LookupAlwaysGivesThreeEntries()
{
    CacheManager cache;
    QList<std::shared_ptr<VideoFrame>> found;
    cache.FindVideoFrames(0, found);
    QCOMPARE(found, QList<std::shared_ptr<VideoFrame>>(3));

    QList<std::shared_ptr<VideoFrame>> frames;
    for (int i = 0; i < 5; ++i)
    {
        frames.append(FrameAt(i, 10));
        cache.InsertVideoFrame(frames.last());
    }
    found.clear();
    cache.FindVideoFrames(0, found);
    QCOMPARE(found, QList<std::shared_ptr<VideoFrame>>({frames[0], nullptr, frames[1]}));
    found.clear();
    cache.FindVideoFrames(5 * FRAME_DURATION - 1, found);
    QCOMPARE(found, QList<std::shared_ptr<VideoFrame>>({frames[4], frames[3], nullptr}));
    found.clear();
    cache.FindVideoFrames(2 * FRAME_DURATION + 7, found);
    QCOMPARE(found, QList<std::shared_ptr<VideoFrame>>({frames[2], frames[1], frames[3]}));
    found.clear();
    cache.FindVideoFrames(5 * FRAME_DURATION, found);
    QCOMPARE(found, QList<std::shared_ptr<VideoFrame>>(3));
    // Every time inside the window finds the frame that covers it.
    for (long long t = 0; t < 5 * FRAME_DURATION; t += 997)
    {
        std::shared_ptr<VideoFrame> frame = cache.FindVideoFrame(t);
        QVERIFY(frame);
        QVERIFY(frame->adjustedStartTime <= t && t <= frame->adjustedEndTime);
    }
}

void TestCacheManager::LookupOutsideOrBetweenFramesFindsNothing()
{
    CacheManager cache;
    auto single = FrameAt(3, 10);
    cache.InsertVideoFrame(single);
    QVERIFY(!cache.FindVideoFrame(3 * FRAME_DURATION - 1));
    QVERIFY(!cache.FindVideoFrame(4 * FRAME_DURATION));
    QCOMPARE(cache.FindVideoFrame(3 * FRAME_DURATION), single);

    // A frame whose stamps leave a hole (a decoder fault) must not hang the
    // search or hand out a frame that does not cover the time.
    auto holed = FrameAt(4, 10);
    cache.InsertVideoFrame(holed);
    single->adjustedEndTime = 3 * FRAME_DURATION + 10;
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    QVERIFY(!cache.FindVideoFrame(3 * FRAME_DURATION + 20));
    QList<std::shared_ptr<VideoFrame>> found;
    cache.FindVideoFrames(3 * FRAME_DURATION + 20, found);
    QCOMPARE(found, QList<std::shared_ptr<VideoFrame>>(3));
    QCOMPARE(errors.count(), 2);
    QCOMPARE(errors.first().first().toString(), QStringLiteral("Video frame not found in cache!!!"));
}

void TestCacheManager::ForwardPlayEvictsFromTheFrontPastHalfway()
{
    CacheManager cache;
    cache.SetCacheSize(256);
    FillVideo(cache, 8);
    QVERIFY(!cache.CanInsertVideoFrame());
    cache.UpdateVideo(4 * FRAME_DURATION + 20000, true, 0.5); // exactly half behind
    QCOMPARE(cache.VideoFrameCount(), 8);
    QCOMPARE(cache.VideoForwardWeighting(4 * FRAME_DURATION + 20000), 0.5);
    cache.UpdateVideo(5 * FRAME_DURATION + 20000, true, 0.5); // more than half behind
    QCOMPARE(cache.VideoFrameCount(), 7);
    QCOMPARE(cache.VideoFrameAdjustedStartTime(), FRAME_DURATION);
    QVERIFY(cache.CanInsertVideoFrame());
    cache.UpdateVideo(5 * FRAME_DURATION + 20000, true, 0.5); // under budget again
    QCOMPARE(cache.VideoFrameCount(), 7);
}

void TestCacheManager::BackwardPlayEvictsFromTheBack()
{
    CacheManager cache;
    cache.SetCacheSize(256);
    FillVideo(cache, 8);
    cache.UpdateVideo(4 * FRAME_DURATION + 20000, false, 0.5); // half ahead: keep
    QCOMPARE(cache.VideoFrameCount(), 8);
    cache.UpdateVideo(2 * FRAME_DURATION + 20000, false, 0.5); // most lies ahead
    QCOMPARE(cache.VideoFrameCount(), 7);
    QCOMPARE(cache.VideoFrameAdjustedEndTime(), 7 * FRAME_DURATION - 1);
    QCOMPARE(cache.VideoPacketEndTime(), 7 * FRAME_DURATION - 1);
    QCOMPARE(cache.VideoFrameAdjustedStartTime(), 0LL);
}

void TestCacheManager::PlayheadBeyondTheWindowEvictsTheFront()
{
    for (bool forward : {true, false})
    {
        CacheManager cache;
        cache.SetCacheSize(256);
        FillVideo(cache, 4);
        cache.UpdateVideo(3 * FRAME_DURATION + 1, forward, 0.5);
        QCOMPARE(cache.VideoFrameCount(), 3);
        QCOMPARE(cache.VideoFrameAdjustedStartTime(), FRAME_DURATION);
    }
}

void TestCacheManager::PlaybackNeverExceedsTheBudgetByMoreThanOneFrame()
{
    CacheManager cache;
    cache.SetCacheSize(256);
    long long const size = cache.VideoMaximumSize() / 10 + 12345; // budget is not a whole number of frames
    int next = 0;
    int played = 0;
    for (long long t = 0; t < 200 * FRAME_DURATION; t += 13000)
    {
        // The decoder inserts while the budget allows and evicts as it goes.
        while (cache.CanInsertVideoFrame())
        {
            cache.InsertVideoFrame(FrameAt(next++, size));
        }
        cache.UpdateVideo(t, true, 0.5);
        QVERIFY(cache.VideoSize() <= cache.VideoMaximumSize() + size);
        QVERIFY(cache.FindVideoFrame(t)); // playback never overtakes the window
        ++played;
    }
    QVERIFY(played > 0);
    QList<std::shared_ptr<VideoFrame>> const frames = WalkVideo(cache);
    QCOMPARE(frames.size(), cache.VideoFrameCount());
    QVERIFY(frames.size() >= 10);
}

void TestCacheManager::LoopRangeFramesAreEvictedLast()
{
    // Ten frames, the loop span on frames 3 to 6, a budget that stays used up
    // (what the decoder holds), the playhead on the span start: the frames
    // outside the span go, from either end, whatever the direction; the
    // span's own stay, as the balance around the playhead keeps them.
    long long const spanStart = 3 * FRAME_DURATION;
    long long const spanEnd = 7 * FRAME_DURATION - 1;
    for (bool forward : {true, false})
    {
        CacheManager cache;
        cache.SetCacheSize(256);
        FillVideo(cache, 10);
        cache.SetVideoReservedSize(cache.VideoMaximumSize());
        cache.SetPlan(CachePlan::Looping({spanStart, spanEnd}));
        QVERIFY(cache.Plan().Span().IsSet());
        for (int i = 0; i < 20; ++i)
        {
            cache.UpdateVideo(forward ? spanStart : 6 * FRAME_DURATION, forward, 0.5);
        }
        QList<std::shared_ptr<VideoFrame>> const left = WalkVideo(cache);
        QCOMPARE(left.size(), 4);
        QCOMPARE(left.constFirst()->adjustedStartTime, spanStart);
        QCOMPARE(left.constLast()->adjustedEndTime.load(), spanEnd);

        // Audio the same way: eight one-second blocks, the span on 2 s to 5 s.
        for (int i = 0; i < 8; ++i)
        {
            cache.InsertAudioFrame(MakeAudioFrame(i * 1000000LL, i * 1000000LL + 999999));
        }
        QVERIFY(!cache.CanInsertAudioFrame());
        cache.SetPlan(CachePlan::Looping({2000000, 5999999}));
        cache.UpdateAudio(2000000, forward, 0.5);
        QCOMPARE(cache.AudioStartTime(), 1000000LL);
        cache.InsertAudioFrame(MakeAudioFrame(8000000, 8999999));
        cache.UpdateAudio(2000000, forward, 0.5);
        QCOMPARE(cache.AudioStartTime(), 2000000LL);
        QCOMPARE(cache.AudioEndTime(), 8999999LL);
    }

    // Without a span, the same budget keeps the balance: the playhead on
    // frame 3 going forward keeps everything.
    CacheManager plain;
    plain.SetCacheSize(256);
    FillVideo(plain, 10);
    plain.SetVideoReservedSize(plain.VideoMaximumSize());
    plain.SetPlan(CachePlan::Looping({0, -1}));
    QVERIFY(!plain.Plan().Span().IsSet());
    for (int i = 0; i < 20; ++i)
    {
        plain.UpdateVideo(spanStart, true, 0.5);
    }
    QCOMPARE(plain.VideoFrameCount(), 10);
}

void TestCacheManager::LoopRangeEndBoundsTheDecodeAhead()
{
    CacheManager cache;
    cache.SetCacheSize(256);
    QVERIFY(!cache.VideoReachesLoopEnd());
    cache.SetPlan(CachePlan::Looping({2 * FRAME_DURATION, 5 * FRAME_DURATION - 1}));
    QVERIFY(!cache.VideoReachesLoopEnd()); // nothing cached yet
    QVERIFY(!cache.AudioReachesLoopEnd());
    for (int i = 0; i < 4; ++i)
    {
        cache.InsertVideoFrame(FrameAt(i, 10));
        QVERIFY(!cache.VideoReachesLoopEnd());
    }
    cache.InsertVideoFrame(FrameAt(4, 10)); // the span's last frame
    QVERIFY(cache.VideoReachesLoopEnd());
    // What lies after the span (what a full cache lets go first) is told
    // apart by the frames' starts.
    QCOMPARE(cache.Plan().Span().start, 2 * FRAME_DURATION);
    QCOMPARE(cache.Plan().Span().end, 5 * FRAME_DURATION - 1);
    QCOMPARE(cache.VideoSizeAfter(cache.Plan().Span().end), 0LL);
    cache.InsertVideoFrame(FrameAt(5, 7));
    cache.InsertVideoFrame(FrameAt(6, 3));
    QCOMPARE(cache.VideoSizeAfter(cache.Plan().Span().end), 10LL);
    QCOMPARE(cache.VideoSizeAfter(5 * FRAME_DURATION), 3LL);
    QCOMPARE(cache.VideoSizeAfter(-1), cache.VideoSize());
    cache.InsertAudioFrame(MakeAudioFrame(0, 4 * FRAME_DURATION));
    QVERIFY(!cache.AudioReachesLoopEnd());
    cache.InsertAudioFrame(MakeAudioFrame(4 * FRAME_DURATION + 1, 6 * FRAME_DURATION));
    QVERIFY(cache.AudioReachesLoopEnd());
    cache.SetPlan(CachePlan::Looping({0, -1}));
    QVERIFY(!cache.VideoReachesLoopEnd());
    QVERIFY(!cache.AudioReachesLoopEnd());
}

void TestCacheManager::LeadPicturesAreFoundBeforeThoseBetweenAndJoinTheWindow()
{
    // Pictures decoded forward towards the window from before its start
    // (a loop's start, filled while its end plays): each is found as soon as
    // it is in; the times between it and the window stay uncovered, so that
    // the clock waits there rather than showing a picture on the wrong
    // frame; the run becomes the window's front once it reaches it.
    CacheManager cache;
    for (int i = 30; i < 50; ++i)
    {
        cache.InsertVideoFrame(FrameAt(i, 100));
    }
    std::shared_ptr<VideoFrame> const windowStart = cache.FirstCachedVideoFrame();
    std::shared_ptr<VideoFrame> const first = FrameAt(10, 100);
    cache.InsertVideoLeadFrame(first);
    QCOMPARE(cache.FindVideoFrame(10 * FRAME_DURATION), first);
    QCOMPARE(cache.FindVideoFrame(11 * FRAME_DURATION - 1), first);
    QVERIFY(cache.VideoCoversTime(10 * FRAME_DURATION));
    QVERIFY(!cache.VideoCoversTime(11 * FRAME_DURATION));
    QVERIFY(!cache.FindVideoFrame(29 * FRAME_DURATION));
    QVERIFY(!cache.VideoCoversTime(9 * FRAME_DURATION));
    QList<std::shared_ptr<VideoFrame>> around;
    cache.FindVideoFrames(10 * FRAME_DURATION, around);
    QCOMPARE(around, (QList<std::shared_ptr<VideoFrame>> {first, nullptr, nullptr}));
    // The window itself is as it was; the lead counts against the budget.
    QCOMPARE(cache.FirstCachedVideoFrame(), windowStart);
    QCOMPARE(cache.VideoFrameCount(), 20);
    QCOMPARE(cache.VideoFrameAdjustedStartTime(), 30 * FRAME_DURATION);
    QCOMPARE(cache.VideoSize(), 21 * 100LL);

    // A later picture on the same frame takes its place.
    std::shared_ptr<VideoFrame> const second = FrameAt(11, 100);
    cache.InsertVideoLeadFrame(second);
    std::shared_ptr<VideoFrame> const replacement = FrameAt(11, 100);
    cache.InsertVideoLeadFrame(replacement);
    QCOMPARE(cache.FindVideoFrame(11 * FRAME_DURATION), replacement);
    QCOMPARE(cache.VideoSize(), 22 * 100LL);
    for (int i = 12; i < 29; ++i)
    {
        cache.InsertVideoLeadFrame(FrameAt(i, 100));
    }
    QVERIFY(cache.HasVideoLead());
    QVERIFY(!cache.VideoCoversTime(29 * FRAME_DURATION));
    QCOMPARE(cache.VideoFrameCount(), 20);

    // The last picture before the window joins the two.
    cache.InsertVideoLeadFrame(FrameAt(29, 100));
    QVERIFY(!cache.HasVideoLead());
    QCOMPARE(cache.FirstCachedVideoFrame(), first);
    QCOMPARE(cache.VideoFrameCount(), 40);
    QCOMPARE(cache.VideoFrameAdjustedStartTime(), 10 * FRAME_DURATION);
    QCOMPARE(cache.VideoSize(), 40 * 100LL);
    QCOMPARE(WalkVideo(cache).size(), 40);
}

void TestCacheManager::LeadPicturesThatNeverReachTheWindowGoOrJoinIt()
{
    CacheManager cache;
    for (int i = 30; i < 40; ++i)
    {
        cache.InsertVideoFrame(FrameAt(i, 100));
    }
    // Cut short: the run goes, let go on the main thread as cleared frames
    // are, and the window is as before.
    std::weak_ptr<VideoFrame> watched;
    {
        std::shared_ptr<VideoFrame> const lead = FrameAt(10, 100);
        watched = lead;
        cache.InsertVideoLeadFrame(lead);
    }
    QVERIFY(cache.DropVideoLead());
    QVERIFY(!cache.DropVideoLead());
    QVERIFY(!cache.FindVideoFrame(10 * FRAME_DURATION));
    QVERIFY(!cache.VideoCoversTime(10 * FRAME_DURATION));
    QCOMPARE(cache.VideoSize(), 10 * 100LL);
    QVERIFY(!watched.expired());
    cache.DoDeferredVideoCacheCleanup();
    QVERIFY(watched.expired());

    // No picture comes between the run and the window (the file has none
    // there): its last one covers up to the window.
    for (int i = 20; i < 25; ++i)
    {
        cache.InsertVideoLeadFrame(FrameAt(i, 100));
    }
    cache.JoinVideoLead();
    QCOMPARE(cache.VideoFrameCount(), 15);
    QCOMPARE(cache.FindVideoFrame(29 * FRAME_DURATION)->adjustedStartTime, 24 * FRAME_DURATION);
    QCOMPARE(WalkVideo(cache).size(), 15);

    // A cleared cache takes the run with it; into an empty cache a lead
    // picture goes as any other.
    cache.InsertVideoLeadFrame(FrameAt(5, 100));
    QVERIFY(cache.HasVideoLead());
    cache.ClearVideo(true);
    QVERIFY(!cache.HasVideoLead());
    QVERIFY(!cache.FindVideoFrame(5 * FRAME_DURATION));
    QCOMPARE(cache.VideoSize(), 0LL);
    cache.InsertVideoLeadFrame(FrameAt(10, 100));
    QCOMPARE(cache.VideoFrameCount(), 1);
    QVERIFY(!cache.HasVideoLead());
}

void TestCacheManager::PoppingTheLastFrameResetsTheCache()
{
    CacheManager cache;
    cache.SetCacheSize(256);
    cache.InsertVideoFrame(FrameAt(7, cache.VideoMaximumSize()));
    cache.UpdateVideo(7 * FRAME_DURATION + 1, true, 0.5);
    QCOMPARE(cache.VideoFrameCount(), 0);
    QCOMPARE(cache.VideoSize(), 0LL);
    QCOMPARE(cache.VideoPacketStartTime(), 0LL);
    QCOMPARE(cache.VideoFrameAdjustedEndTime(), 0LL);
    QVERIFY(!cache.FirstCachedVideoFrame());
}

void TestCacheManager::AudioInsertionEvictionAndOutputIndex()
{
    CacheManager cache;
    cache.SetCacheSize(256); // 3,072,000 audio bytes: 8 blocks of one second
    for (int i = 2; i < 6; ++i)
    {
        cache.InsertAudioFrame(MakeAudioFrame(i * 1000000LL, i * 1000000LL + 999999));
    }
    cache.InsertAudioFrame(MakeAudioFrame(3000000, 3999999)); // inside: dropped
    QCOMPARE(cache.AudioFrameCount(), 4);
    auto output = cache.FindAudioFrame(3500000, true);
    QCOMPARE(output->startTime, 3000000LL);

    // A block before the window keeps the output index on the same block.
    cache.InsertAudioFrame(MakeAudioFrame(0, 1999999));
    QCOMPARE(cache.AudioOutputFrame(), output);
    QCOMPARE(cache.AudioStartTime(), 0LL);
    QVERIFY(!cache.FindAudioFrame(6000000, false));
    QCOMPARE(cache.AudioOutputFrame(), output);

    for (int i = 6; i < 9; ++i)
    {
        cache.InsertAudioFrame(MakeAudioFrame(i * 1000000LL, i * 1000000LL + 999999));
    }
    QVERIFY(!cache.CanInsertAudioFrame());
    cache.UpdateAudio(6500000, true, 0.5);
    QCOMPARE(cache.AudioStartTime(), 2000000LL);
    QCOMPARE(cache.AudioOutputFrame(), output);
    QCOMPARE(cache.NextAudioOutputFrame(false)->startTime, 2000000LL);
    cache.UpdateAudio(7500000, true, 0.5); // back under budget: nothing goes
    QCOMPARE(cache.AudioFrameCount(), 7);
    cache.InsertAudioFrame(MakeAudioFrame(9000000, 9999999));
    cache.UpdateAudio(7500000, true, 0.5);
    QCOMPARE(cache.AudioStartTime(), 3000000LL);
    QVERIFY(!cache.IsAudioOutputFrameReady()); // its block was evicted
    QVERIFY(!cache.NextAudioOutputFrame(true));
}

void TestCacheManager::AudioGapsAreFilledWithSilence()
{
    CacheManager cache;
    cache.InsertAudioFrame(MakeAudioFrame(1000000, 1999999));
    cache.ExtendAudioStartTime(0, -1, AudioOutputFormat::FromSettings());
    cache.ExtendAudioEndTime(-1, 2499999, AudioOutputFormat::FromSettings());
    QCOMPARE(cache.AudioFrameCount(), 3);
    QCOMPARE(cache.AudioStartTime(), 0LL);
    QCOMPARE(cache.AudioEndTime(), 2499999LL);
    QCOMPARE(cache.AudioSize(), AvHelpers::AudioOutputSizeForDuration(1000000));
    auto silence = cache.FindAudioFrame(2200000, false);
    QVERIFY(silence->silent);
    QCOMPARE(silence->byteSize, AvHelpers::AudioOutputSizeForDuration(500000));

    CacheManager empty;
    empty.ExtendAudioStartTime(100, 50, AudioOutputFormat::FromSettings()); // nothing to fill
    QCOMPARE(empty.AudioFrameCount(), 0);
    empty.ExtendAudioEndTime(0, 999, AudioOutputFormat::FromSettings());
    QCOMPARE(empty.AudioEndTime(), 999LL);
}

void TestCacheManager::ClearingReleasesInBatches()
{
    CacheManager cache;
    for (int i = 0; i < 12; ++i)
    {
        cache.InsertVideoFrame(FrameAt(i, 10));
        cache.InsertAudioFrame(MakeAudioFrame(i * 10000LL, i * 10000LL + 9999));
    }
    cache.FindAudioFrame(0, true);
    cache.ClearVideo(false);
    cache.ClearAudio(false);
    QCOMPARE(cache.VideoFrameCount(), 0);
    QCOMPARE(cache.VideoSize(), 0LL);
    QVERIFY(!cache.IsAudioOutputFrameReady());
    cache.DoDeferredVideoCacheCleanup();
    QList<std::shared_ptr<VideoFrame>> video;
    cache.AppendDeferredVideoCacheAndClear(video);
    QCOMPARE(video.size(), 7);
    QVERIFY(!cache.HasDeferredVideoCache());
    QVERIFY(cache.HasDeferredAudioCache());
    cache.ClearAudio(true);
    QVERIFY(!cache.HasDeferredAudioCache());
    QVERIFY(cache.ToString(QStringLiteral("x")).contains(QStringLiteral("\tVideo Frame Count: 0\n")));
}

void TestCacheManager::ClearedFramesCountUntilReleased()
{
    // A cleared cache's frames still take memory: the new window may not
    // fill on top of them, and when they are what holds the budget they go
    // all at once rather than a few per pass.
    CacheManager cache;
    cache.SetCacheSize(64);
    long long const size = FillVideo(cache, 4);
    QVERIFY(!cache.CanInsertVideoFrame());
    std::weak_ptr<VideoFrame> const watched = cache.FirstCachedVideoFrame();
    cache.ClearVideo(false);
    QCOMPARE(cache.VideoSize(), 0LL);
    QVERIFY(!cache.CanInsertVideoFrame());
    QVERIFY(!watched.expired());
    cache.DoDeferredVideoCacheCleanup();
    QVERIFY(!cache.HasDeferredVideoCache());
    QVERIFY(watched.expired());
    QVERIFY(cache.CanInsertVideoFrame());

    // Cleared at once: nothing is kept back.
    cache.InsertVideoFrame(FrameAt(0, size));
    cache.ClearVideo(true);
    QVERIFY(!cache.HasDeferredVideoCache());
    QVERIFY(cache.CanInsertVideoFrame());
}

void TestCacheManager::DecoderHeldPicturesCountAgainstTheBudget()
{
    // Pictures a decoder holds outside the cache (a backward window) take
    // memory too: the cache fills less and gives up frames to make room.
    CacheManager cache;
    cache.SetCacheSize(64);
    long long const size = cache.VideoMaximumSize() / 8;
    for (int i = 0; i < 6; ++i)
    {
        cache.InsertVideoFrame(FrameAt(i, size));
    }
    QVERIFY(cache.CanInsertVideoFrame());
    cache.SetVideoReservedSize(2 * size);
    QVERIFY(!cache.CanInsertVideoFrame());
    // Played past the middle: the front goes until the cache and the held
    // pictures fit the budget together.
    for (int i = 0; i < 4; ++i)
    {
        cache.UpdateVideo(5 * FRAME_DURATION, true, 0.5);
    }
    QCOMPARE(cache.VideoFrameCount(), 5);
    QVERIFY(cache.CanInsertVideoFrame());
    cache.SetVideoReservedSize(0);
    cache.InsertVideoFrame(FrameAt(6, size));
    cache.InsertVideoFrame(FrameAt(7, size));
    QCOMPARE(cache.VideoFrameCount(), 7);
}

void TestCacheManager::WriterAndReaderThreadsShareTheCache()
{
    // A decode thread fills, evicts and clears while this thread reads. Run
    // under the sanitizers; the checks below catch torn or reordered state.
    CacheManager cache;
    cache.SetCacheSize(256);
    long long const size = cache.VideoMaximumSize() / 24;
    std::atomic<long long> playhead {0};
    std::atomic<bool> done {false};

    std::thread writer([&] {
        int next = 0;
        for (int round = 0; round < 4000; ++round)
        {
            if (round % 1000 == 999)
            {
                cache.ClearVideo(false); // a seek
                cache.ClearAudio(false);
                next = static_cast<int>(playhead / FRAME_DURATION);
            }
            if (cache.CanInsertVideoFrame())
            {
                cache.InsertVideoFrame(FrameAt(next, size));
                cache.InsertAudioFrame(MakeAudioFrame(next * FRAME_DURATION, (next + 1) * FRAME_DURATION - 1));
                ++next;
            }
            playhead += FRAME_DURATION / 3;
            cache.UpdateVideo(playhead, true, 0.5);
            cache.UpdateAudio(playhead, true, 0.5);
            cache.DoDeferredVideoCacheCleanup();
            cache.DoDeferredAudioCacheCleanup();
        }
        done = true;
    });

    int lookups = 0;
    QList<std::shared_ptr<AudioFrame>> audioReleased;
    while (!done || lookups == 0)
    {
        long long const t = playhead;
        QList<std::shared_ptr<VideoFrame>> frames;
        cache.FindVideoFrames(t, frames);
        QCOMPARE(frames.size(), 3);
        if (frames.first())
        {
            QVERIFY(frames.first()->adjustedStartTime <= t && t <= frames.first()->adjustedEndTime);
        }
        QVERIFY(cache.VideoSize() <= cache.VideoMaximumSize() + size);
        if (cache.FindAudioFrame(t, true))
        {
            cache.NextAudioOutputFrame(true);
            cache.AudioOutputFrame();
        }
        cache.AppendDeferredAudioCacheAndClear(audioReleased);
        audioReleased.clear();
        ++lookups;
    }
    writer.join();
    QVERIFY(lookups > 0);
}

QTEST_GUILESS_MAIN(TestCacheManager)
#include "tst_cachemanager.moc"
