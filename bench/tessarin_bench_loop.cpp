#include "BenchLoop.h"

#include "BenchPicture.h"
#include "BenchSession.h"

#include "media/AvManager.h"
#include "media/LoopState.h"
#include "media/VideoFrame.h"
#include "model/Source.h"
#include "model/Timeline.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace
{

int const SETTLE_TIMEOUT_MS = 60000;
// The cache is looked at this often for pictures it did not hold before:
// far less than a picture stays in it.
int const CACHE_LOOK_MS = 5;

// Every picture that has been in the timeline's video cache, walked from its
// first frame to its last.
class CachedPictureCounter
{
public:
    explicit CachedPictureCounter(Timeline const* timeline)
        : mTimeline(timeline)
    {
    }

    // Looks at the cache once; returns how many pictures were new.
    int Look()
    {
        int added = 0;
        std::shared_ptr<VideoFrame> frame = mTimeline->FirstCachedVideoFrame();
        std::shared_ptr<VideoFrame> const last = mTimeline->LastCachedVideoFrame();
        while (frame)
        {
            if (!mSeen.contains(frame.get()))
            {
                mSeen.insert(frame.get());
                mKept.append(frame); // so that no later picture reuses the address
                ++added;
            }
            if (frame == last)
            {
                break;
            }
            std::shared_ptr<VideoFrame> next = mTimeline->FindVideoFrame(frame->adjustedEndTime + 1);
            if (!next || next == frame)
            {
                break;
            }
            frame = next;
        }
        return added;
    }

    void ReleaseKept() { mKept.clear(); }

private:
    Timeline const* mTimeline;
    QSet<VideoFrame const*> mSeen;
    QList<std::shared_ptr<VideoFrame>> mKept;
};

} // namespace

int RunLoopBench(BenchSession& session, Timeline* timeline, int first, int last, int from, int loops,
                 double parkSeconds, bool printFrames)
{
    last = std::min(last, timeline->EndFrame());
    from = from < 0 ? first : from;
    if (first < 0 || first >= last)
    {
        std::fprintf(stderr, "tessarin_bench: the range %d-%d does not fit the %d frames\n", first, last,
                     timeline->FrameCount());
        return 1;
    }
    if (from < first || from >= last)
    {
        std::fprintf(stderr, "tessarin_bench: frame %d to play from lies outside the range %d-%d\n", from, first,
                     last - 1);
        return 1;
    }
    AvManager& av = session.Av();
    timeline->SetPlaybackRangeByFrame(first, last);
    // Parked there, the cache already filled from it, as a reviewer parks
    // and presses play.
    session.Show(timeline, timeline->TimeAtFrame(from, false));
    if (!session.WaitShown(SETTLE_TIMEOUT_MS))
    {
        std::fprintf(stderr, "tessarin_bench: frame %d was not shown\n", from);
        return 1;
    }

    if (parkSeconds > 0.0)
    {
        // Parked with the loop on, as a reviewer who parks, then plays.
        av.SetLoopState(LoopState::Loop);
        BenchSession::WaitFor([&] { return false; }, static_cast<int>(parkSeconds * 1000.0));
    }

    CachedPictureCounter counter(timeline);
    QList<int> decoded {counter.Look()}; // what the paused seek decoded
    QList<double> holds;
    QElapsedTimer clock;
    clock.start();
    double lastFrameAt = -1.0;
    bool wrapped = false;
    // The longest any picture stayed between the first wrap and the second:
    // a wrap that shows the range start early but then waits on the next
    // pictures only moves the hold.
    double handedAt = -1.0;
    double firstLoopHold = 0.0;
    QObject guard;
    QObject::connect(&session.Viewer(), &BenchViewer::FrameHanded, &guard,
                     [&](std::shared_ptr<VideoFrame> const& picture, long long, int frame) {
                         if (printFrames && picture)
                         {
                             std::printf("frame %d md5 %s\n", frame, qPrintable(BenchPicture::Md5(*picture)));
                         }
                         double const now = static_cast<double>(clock.nsecsElapsed()) / 1e6;
                         if (holds.size() == 1 && !(frame == first && wrapped) && handedAt >= 0.0)
                         {
                             firstLoopHold = std::max(firstLoopHold, now - handedAt);
                         }
                         handedAt = now;
                         if (frame == last)
                         {
                             lastFrameAt = now;
                         }
                         else if (frame == first && lastFrameAt >= 0.0 && !wrapped)
                         {
                             wrapped = true;
                             holds << now - lastFrameAt;
                         }
                         if (frame != first)
                         {
                             wrapped = false;
                         }
                     });
    long long previousTime = av.PlaybackTime();
    int wraps = 0;
    QObject::connect(&av, &AvManager::PlaybackTimeChanged, &guard, [&](long long time) {
        if (time < previousTime)
        {
            ++wraps;
            decoded << 0;
        }
        previousTime = time;
    });
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &guard, [&] { decoded.last() += counter.Look(); });
    look.start(CACHE_LOOK_MS);

    av.SetLoopState(LoopState::Loop);
    av.SetPlaybackSpeed(1.0f);
    bool const startCached = timeline->FindVideoFrame(timeline->TimeAtFrame(first, false)) != nullptr;
    av.Play(true, false);
    double const rangeMs = static_cast<double>(timeline->TimeAtFrame(last, true) -
                                               timeline->TimeAtFrame(first, false)) / 1000.0;
    bool const done = BenchSession::WaitFor([&] { return wraps >= loops && holds.size() >= loops; },
                                            static_cast<int>(rangeMs * (loops + 2) * 4) + SETTLE_TIMEOUT_MS);
    av.Pause(DecodeBias::None);
    look.stop();
    counter.ReleaseKept();
    session.Close();
    if (!done)
    {
        std::fprintf(stderr, "tessarin_bench: %d of %d wraps within the time\n", wraps, loops);
        return 1;
    }

    double const frameMs = rangeMs / (last - first + 1);
    double const firstHold = holds.constFirst();
    double const laterHold = holds.size() > 1 ? *std::max_element(holds.cbegin() + 1, holds.cend()) : 0.0;
    // decoded: [paused seek, first pass, after wrap 1, ...]; the last entry is
    // the pass under way when the count was reached.
    int const firstPass = decoded.value(0) + decoded.value(1);
    int laterMost = 0;
    int laterSum = 0;
    int laterCount = 0;
    for (int i = 2; i < std::min<int>(decoded.size(), loops + 1); ++i)
    {
        laterMost = std::max(laterMost, decoded.at(i));
        laterSum += decoded.at(i);
        ++laterCount;
    }
    std::printf("%s: loop %d-%d (%d frames) from %d parked %.1f s, %d wraps at 1x, cache %d MB\n",
                qPrintable(timeline->SourcePtr()->MediaName()), first, last, last - first + 1, from, parkSeconds,
                loops, timeline->CacheSize());
    std::printf("  hold at the wrap  first %8.1f ms (%.1f frame durations), longest later %8.1f ms (%.1f)\n",
                firstHold, firstHold / frameMs, laterHold, laterHold / frameMs);
    std::printf("  after the first wrap, longest picture %8.1f ms (%.1f frame durations); range start %s at play\n",
                firstLoopHold, firstLoopHold / frameMs, startCached ? "cached" : "not cached");
    // Seen in the cache every few milliseconds: a picture decoded and let go
    // in between is missed, so these are lower bounds.
    std::printf("  pictures decoded  first pass %d, per later loop: most %d, mean %.1f (seen in the cache)\n",
                firstPass, laterMost, laterCount > 0 ? static_cast<double>(laterSum) / laterCount : 0.0);
    std::fflush(stdout);
    return 0;
}
