#include "ModelFixtures.h"

#include "app/Settings.h"
#include "media/AudioFrame.h"
#include "media/VideoFrame.h"
#include "model/Timeline.h"

#include <QtTest>

#include <cstring>
#include <memory>

using namespace ModelFixtures;

class TestTimelineCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void PastTheEndCountsAsReady();
    void ReadinessFollowsTheCachedRange();
    void VideoFramesAreStampedAndFound();
    void FillForwardCrossesBlocksAndStopsAtTheEnd();
    void SilentBlocksGiveZeros();
    void FillBackwardWalksSampleFrames();
    void ResetWithoutTimeUsesThePlaybackTime();
    void ClearingAudioDropsTheReadPosition();
    void DecodeBiasSetsTheEvictionDirection();

private:
    // Each sample frame of a block holds its own index in every byte.
    static std::shared_ptr<AudioFrame> NumberedBlock(long long start, long long end);
    static int SampleFrameSize();

    std::unique_ptr<Timeline> mTimeline;
};

int TestTimelineCache::SampleFrameSize()
{
    return Settings::audioOutputChannelCount * AvHelpers::AudioOutputBytesPerSample();
}

std::shared_ptr<AudioFrame> TestTimelineCache::NumberedBlock(long long start, long long end)
{
    auto block = MakeAudioFrame(start, end);
    int const size = SampleFrameSize();
    for (int i = 0; i * size < block->data.size(); ++i)
    {
        std::memset(block->data.data() + static_cast<qsizetype>(i) * size, i % 256, size);
    }
    return block;
}

void TestTimelineCache::init()
{
    mTimeline = std::make_unique<Timeline>(MissingMoviePath(QStringLiteral("cache")), QString(), QUuid(), nullptr);
    FakeParsedMovie(mTimeline->SourcePtr(), 25.0, 100, true); // 0–3999999 µs
}

void TestTimelineCache::PastTheEndCountsAsReady()
{
    mTimeline->SetPlaybackTime(mTimeline->EndTime() + 1);
    QVERIFY(mTimeline->DurationExceeded());
    QVERIFY(mTimeline->AudioCacheReady());
    QVERIFY(mTimeline->VideoCacheReady());
    QVERIFY(mTimeline->AudioCacheReadyAtTime(mTimeline->EndTime() + 1));
    QVERIFY(!mTimeline->AudioCacheReadyAtTime(mTimeline->EndTime()));
}

void TestTimelineCache::ReadinessFollowsTheCachedRange()
{
    mTimeline->SetPlaybackTime(50000);
    QVERIFY(!mTimeline->VideoCacheReady());
    mTimeline->CacheVideoFrame(MakeVideoFrame(40000, 79999, 100));
    mTimeline->CacheAudioFrame(MakeAudioFrame(0, 99999));
    QVERIFY(mTimeline->VideoCacheReady());
    QVERIFY(mTimeline->AudioCacheReady());
    QVERIFY(!mTimeline->VideoCacheReadyAtTime(80000));
    QVERIFY(mTimeline->AudioCacheReadyAtTime(80000));
    QVERIFY(mTimeline->CacheToString().contains(QStringLiteral("Cache Info (OutputID: -1)")));
}

void TestTimelineCache::VideoFramesAreStampedAndFound()
{
    auto frame = MakeVideoFrame(0, 39999, 100);
    mTimeline->CacheVideoFrame(frame);
    QCOMPARE(frame->timeline, mTimeline.get());
    QCOMPARE(mTimeline->FindVideoFrame(100), frame);
    QList<std::shared_ptr<VideoFrame>> found;
    mTimeline->FindVideoFrames(39999, found);
    QCOMPARE(found.size(), 3);
    QCOMPARE(found.first(), frame);
    mTimeline->ExtendVideoCacheEndTime(mTimeline->EndTime());
    QCOMPARE(mTimeline->VideoCacheAdjustedEndTime(), mTimeline->EndTime());
    QCOMPARE(frame->adjustedEndTime.load(), mTimeline->EndTime());
}

void TestTimelineCache::FillForwardCrossesBlocksAndStopsAtTheEnd()
{
    auto first = NumberedBlock(0, 9999); // 10 ms: 480 sample frames
    auto second = NumberedBlock(10000, 19999);
    mTimeline->CacheAudioFrame(first);
    mTimeline->CacheAudioFrame(second);
    QByteArray buffer("stale");
    mTimeline->ResetAudioBuffer(buffer, 5000, AudioOutputFormat::FromSettings());
    QVERIFY(buffer.isEmpty());
    QVERIFY(mTimeline->IsAudioOutputFrameReady());

    int const half = static_cast<int>(first->byteSize / 2);
    mTimeline->FillAudioBufferBySize(buffer, half + 8 * SampleFrameSize(), true, AudioOutputFormat::FromSettings());
    QCOMPARE(buffer.size(), half + 8 * SampleFrameSize());
    QCOMPARE(buffer.left(half), first->data.mid(half));
    QCOMPARE(buffer.mid(half), second->data.left(8 * SampleFrameSize()));

    // Asking for more than is cached stops at the end with fewer bytes.
    QByteArray rest;
    mTimeline->FillAudioBufferBySize(rest, static_cast<int>(second->byteSize) * 2, true,
                                     AudioOutputFormat::FromSettings());
    QCOMPARE(rest, second->data.mid(8 * SampleFrameSize()));
    QVERIFY(!mTimeline->IsAudioOutputFrameReady());
}

void TestTimelineCache::SilentBlocksGiveZeros()
{
    mTimeline->CacheAudioFrame(MakeAudioFrame(0, 9999, true));
    QCOMPARE(mTimeline->AudioCacheSize(), 0LL); // silence costs no budget
    QByteArray buffer;
    mTimeline->ResetAudioBuffer(buffer, 0, AudioOutputFormat::FromSettings());
    mTimeline->FillAudioBufferByDuration(buffer, 20000, true, AudioOutputFormat::FromSettings());
    QCOMPARE(buffer, QByteArray(AvHelpers::AudioOutputSizeForDuration(10000), '\0'));
}

void TestTimelineCache::FillBackwardWalksSampleFrames()
{
    auto first = NumberedBlock(0, 9999);
    auto second = NumberedBlock(10000, 19999);
    mTimeline->CacheAudioFrame(first);
    mTimeline->CacheAudioFrame(second);
    int const size = SampleFrameSize();
    QByteArray buffer;
    // Two sample frames into the second block (2 / 48000 s is 41.7 µs).
    mTimeline->ResetAudioBuffer(buffer, 10000 + 42, AudioOutputFormat::FromSettings());
    mTimeline->FillAudioBufferBySize(buffer, 3 * size, false, AudioOutputFormat::FromSettings());
    QCOMPARE(buffer, QByteArray(size, 2) + QByteArray(size, 1) + QByteArray(size, 0));

    // Then on from the end of the previous block.
    QByteArray more;
    mTimeline->FillAudioBufferBySize(more, size, false, AudioOutputFormat::FromSettings());
    QCOMPARE(more, first->data.right(size));

    // And at the very start it stops.
    QByteArray toStart;
    mTimeline->FillAudioBufferBySize(toStart, static_cast<int>(first->byteSize) * 4, false,
                                     AudioOutputFormat::FromSettings());
    QCOMPARE(toStart.size(), static_cast<int>(first->byteSize) - size);
    QCOMPARE(toStart.right(size), QByteArray(size, 0));
}

void TestTimelineCache::ResetWithoutTimeUsesThePlaybackTime()
{
    mTimeline->CacheAudioFrame(NumberedBlock(0, 9999));
    mTimeline->CacheAudioFrame(NumberedBlock(10000, 19999));
    mTimeline->SetPlaybackTime(15000);
    QByteArray buffer;
    mTimeline->ResetAudioBuffer(buffer, -1, AudioOutputFormat::FromSettings());
    mTimeline->FillAudioBufferBySize(buffer, SampleFrameSize(), true, AudioOutputFormat::FromSettings());
    // 5 ms into the second block: sample frame 240.
    QCOMPARE(buffer, QByteArray(SampleFrameSize(), static_cast<char>(240)));
}

void TestTimelineCache::ClearingAudioDropsTheReadPosition()
{
    mTimeline->CacheAudioFrame(NumberedBlock(0, 9999));
    QByteArray buffer;
    mTimeline->ResetAudioBuffer(buffer, 0, AudioOutputFormat::FromSettings());
    QVERIFY(mTimeline->IsAudioOutputFrameReady());
    mTimeline->ClearAudioCache(false);
    QVERIFY(!mTimeline->IsAudioOutputFrameReady());
    QVERIFY(mTimeline->HasDeferredAudioCache());
    // New audio arriving after a seek is not played from the stale position.
    mTimeline->CacheAudioFrame(NumberedBlock(500000, 509999));
    mTimeline->FillAudioBufferBySize(buffer, 64, true, AudioOutputFormat::FromSettings());
    QVERIFY(buffer.isEmpty());
    QList<std::shared_ptr<AudioFrame>> released;
    mTimeline->AppendDeferredAudioCacheAndClear(released);
    QCOMPARE(released.size(), 1);
    QVERIFY(!mTimeline->HasDeferredAudioCache());
}

void TestTimelineCache::DecodeBiasSetsTheEvictionDirection()
{
    mTimeline->SetCacheSize(256);
    long long const frameSize = mTimeline->VideoCacheMaximumSize() / 8;
    for (int i = 0; i < 8; ++i)
    {
        mTimeline->CacheVideoFrame(MakeVideoFrame(i * 40000LL, i * 40000LL + 39999, frameSize));
    }
    mTimeline->SetPlaybackTime(100000); // frame 2: three quarters lie ahead
    mTimeline->SetDecodeBias(DecodeBias::PlayForward);
    QVERIFY(mTimeline->IsDecodeForward());
    mTimeline->UpdateVideoCache();
    QCOMPARE(mTimeline->VideoCacheFrameCount(), 8);
    mTimeline->SetDecodeBias(DecodeBias::StepBackward);
    QVERIFY(!mTimeline->IsDecodeForward());
    mTimeline->UpdateVideoCache();
    QCOMPARE(mTimeline->VideoCacheFrameCount(), 7);
    QCOMPARE(mTimeline->VideoCacheAdjustedEndTime(), 279999LL);
}

QTEST_GUILESS_MAIN(TestTimelineCache)
#include "tst_timelinecache.moc"
