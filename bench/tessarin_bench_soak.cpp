#include "BenchSoak.h"

#include "BenchMemory.h"
#include "BenchPicture.h"
#include "BenchSession.h"
#include "FfmpegReference.h"

#include "app/Settings.h"
#include "media/VideoFrame.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/VideoStreamInfo.h"

#include <QElapsedTimer>

#include <cstdio>

namespace
{

int const SETTLE_TIMEOUT_MS = 30000;
int const PROGRESS_INTERVAL_MS = 30000;
int const MAXIMUM_FAILURES_PRINTED = 50;
int const HISTORY_LENGTH = 4;
float const SPEEDS[] = {0.25f, 0.5f, 1.0f, 2.0f, 4.0f};

double Megabytes(long long kilobytes)
{
    return kilobytes / 1024.0;
}

} // namespace

BenchSoak::BenchSoak(BenchSession& session, QList<Timeline*> const& timelines, unsigned int seed)
    : mSession(session)
    , mTimelines(timelines)
    , mRandom(seed)
{
}

int BenchSoak::Run(int seconds)
{
    QElapsedTimer clock;
    clock.start();
    mCurrent = mTimelines.first();
    mSession.Show(mCurrent, 0);
    if (!mSession.WaitShown(SETTLE_TIMEOUT_MS) || !Check(QStringLiteral("open")))
    {
        Fail(QStringLiteral("the first frame was not shown"));
    }
    long long nextProgress = PROGRESS_INTERVAL_MS;
    long long residentAfterOneMinute = -1;
    while (clock.elapsed() < seconds * 1000LL)
    {
        Action const action = NextAction();
        ++mSteps;
        if (!Perform(action))
        {
            // A stuck output is opened again so the soak goes on.
            mSession.Show(mCurrent, mCurrent->PlaybackTime());
            mSession.WaitShown(SETTLE_TIMEOUT_MS);
        }
        if (clock.elapsed() >= nextProgress)
        {
            nextProgress += PROGRESS_INTERVAL_MS;
            long long const resident = BenchMemory::ResidentKilobytes();
            if (residentAfterOneMinute < 0 && clock.elapsed() >= 60000)
            {
                residentAfterOneMinute = resident;
            }
            std::printf("soak %4lld s: %d steps, %d failures, resident %.0f MB, peak %.0f MB\n",
                        clock.elapsed() / 1000, mSteps, mFailures, Megabytes(resident),
                        Megabytes(BenchMemory::PeakKilobytes()));
            std::fflush(stdout);
        }
    }
    mSession.Av().Pause(DecodeBias::None);
    std::printf("soak done: %.0f s, %d files, %d steps, %d failures, peak memory %.0f MB (cacheSize %d MB)",
                clock.elapsed() / 1000.0, static_cast<int>(mTimelines.size()), mSteps, mFailures,
                Megabytes(BenchMemory::PeakKilobytes()), Settings::cacheSize);
    if (residentAfterOneMinute >= 0)
    {
        std::printf(", resident after 1 min %.0f MB, at the end %.0f MB", Megabytes(residentAfterOneMinute),
                    Megabytes(BenchMemory::ResidentKilobytes()));
    }
    std::printf("\n");
    return mFailures;
}

BenchSoak::Action BenchSoak::NextAction()
{
    int const roll = RandomInt(0, 99);
    if (roll < 5 && mTimelines.size() > 1)
    {
        return Action::Switch;
    }
    if (roll < 35)
    {
        return Action::Seek;
    }
    if (roll < 65)
    {
        return Action::Step;
    }
    return Action::Play;
}

bool BenchSoak::Perform(Action action)
{
    switch (action)
    {
    case Action::Switch:
    {
        Timeline* next = mCurrent;
        while (next == mCurrent)
        {
            next = mTimelines.at(RandomInt(0, static_cast<int>(mTimelines.size()) - 1));
        }
        mCurrent = next;
        int const frame = RandomInt(0, mCurrent->EndFrame());
        mSession.Show(mCurrent, mCurrent->TimeAtFrame(frame, false));
        mSession.WaitShown(SETTLE_TIMEOUT_MS);
        return Check(QStringLiteral("switch to frame %1").arg(frame));
    }
    case Action::Seek:
    {
        int const frame = RandomInt(0, mCurrent->EndFrame());
        mSession.Seek(mCurrent->TimeAtFrame(frame, false), SETTLE_TIMEOUT_MS);
        return Check(QStringLiteral("seek to frame %1").arg(frame));
    }
    case Action::Step:
    {
        int const size = RandomInt(0, 9) == 0 ? Settings::multiFrameStepSize : 1;
        int const frames = RandomInt(0, 1) == 0 ? -size : size;
        mSession.Step(frames, SETTLE_TIMEOUT_MS);
        return Check(QStringLiteral("step by %1").arg(frames));
    }
    case Action::Play:
        return Check(Play());
    }
    return true;
}

QString BenchSoak::Play()
{
    AvManager& av = mSession.Av();
    bool forward = RandomInt(0, 1) == 0;
    int const loop = RandomInt(0, 2);
    float const speed = SPEEDS[RandomInt(0, 4)];
    int const playMs = RandomInt(200, 1500);
    QString what = QStringLiteral("play %1 at x%2, loop %3, for %4 ms")
                       .arg(forward ? "forward" : "backward")
                       .arg(speed)
                       .arg(loop)
                       .arg(playMs);
    av.SetLoopState(static_cast<LoopState>(loop));
    av.SetPlaybackSpeed(speed);
    av.Play(forward, false);
    BenchSession::WaitFor([] { return false; }, playMs);
    int const change = RandomInt(0, 9);
    if (change < 2)
    {
        forward = !forward;
        av.Play(forward, false);
        what += QStringLiteral(", then %1").arg(forward ? "forward" : "backward");
    }
    else if (change < 4)
    {
        float const newSpeed = SPEEDS[RandomInt(0, 4)];
        av.SetPlaybackSpeed(newSpeed);
        what += QStringLiteral(", then at x%1").arg(newSpeed);
    }
    else if (change < 5)
    {
        av.ToggleLoopState();
        what += QStringLiteral(", then loop %1").arg(static_cast<int>(av.ActiveLoopState()));
    }
    if (change < 5)
    {
        int const moreMs = RandomInt(200, 1000);
        BenchSession::WaitFor([] { return false; }, moreMs);
        what += QStringLiteral(" for %1 ms").arg(moreMs);
    }
    av.Pause(DecodeBias::None);
    mSession.WaitShown(SETTLE_TIMEOUT_MS);
    return what + QStringLiteral(", pause");
}

bool BenchSoak::Check(QString const& what)
{
    AvManager& av = mSession.Av();
    long long const time = av.PlaybackTime();
    int const frame = mCurrent->FrameAtTime(time);
    mHistory.append(QStringLiteral("%1: %2, at frame %3").arg(mCurrent->SourcePtr()->MediaName(), what).arg(frame));
    if (mHistory.size() > HISTORY_LENGTH)
    {
        mHistory.removeFirst();
    }
    std::shared_ptr<VideoFrame> const shown = mSession.Viewer().Shown();
    if (!mSession.Viewer().Shows(time))
    {
        Fail(QStringLiteral("%1 (%2): frame %3 at %4 us not shown within %5 s")
                 .arg(what, mCurrent->SourcePtr()->MediaName())
                 .arg(frame)
                 .arg(time)
                 .arg(SETTLE_TIMEOUT_MS / 1000));
        return false;
    }
    QStringList const& reference = Reference(mCurrent);
    if (reference.isEmpty())
    {
        return true;
    }
    QString const md5 = BenchPicture::Md5(*shown);
    if (shown->startFrame != frame || md5 != reference.at(frame))
    {
        Fail(QStringLiteral("%1 (%2): frame %3 shows frame %4, md5 %5, expected %6")
                 .arg(what, mCurrent->SourcePtr()->MediaName())
                 .arg(frame)
                 .arg(shown->startFrame)
                 .arg(md5, reference.at(frame)));
        return false;
    }
    return true;
}

QStringList const& BenchSoak::Reference(Timeline* timeline)
{
    auto found = mReferences.find(timeline);
    if (found != mReferences.end())
    {
        return *found;
    }
    // Exact only without a pixel conversion, and frame by frame only at a
    // constant rate (one picture per timeline frame).
    QStringList md5s;
    std::shared_ptr<VideoFrame> const shown = mSession.Viewer().Shown();
    VideoStreamInfo const* stream = shown ? shown->streamInfo : nullptr;
    QString const format = shown ? BenchPicture::FormatName(shown->pixelFormat) : QString();
    if (stream && stream->pixelFormatName == format)
    {
        md5s = FfmpegReference::FrameMd5(*timeline->SourcePtr(), format);
        if (md5s.size() != timeline->FrameCount())
        {
            md5s.clear();
        }
    }
    std::printf("soak: %s, %s\n", qPrintable(timeline->SourcePtr()->MediaName()),
                md5s.isEmpty() ? "shown frames checked by time" : "shown frames checked by time and picture");
    return *mReferences.insert(timeline, md5s);
}

int BenchSoak::RandomInt(int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(mRandom);
}

void BenchSoak::Fail(QString const& message)
{
    if (++mFailures <= MAXIMUM_FAILURES_PRINTED)
    {
        std::printf("FAIL step %d: %s\n  the last steps:\n    %s\n", mSteps, qPrintable(message),
                    qPrintable(mHistory.join("\n    ")));
        std::fflush(stdout);
    }
}
