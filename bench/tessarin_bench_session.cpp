#include "BenchSession.h"

#include "model/Source.h"
#include "model/Timeline.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QUuid>

#include <algorithm>

namespace
{

int const PARSE_TIMEOUT_MS = 120000;
int const CLOSE_TIMEOUT_MS = 60000;
int const RELEASE_WAIT_MS = 200;

} // namespace

BenchSession::BenchSession(QObject* parent)
    : QObject(parent)
    , mViewer(&mAv)
{
    mAv.SetVideoTimesFromPackets(videoTimesFromPackets);
}

BenchSession::~BenchSession()
{
    // No worker may outlive the timelines it decodes.
    mAv.Shutdown();
    qDeleteAll(mTimelines);
}

Timeline* BenchSession::AddSource(QString const& path, QString* error)
{
    auto* timeline = new Timeline(QDir::current().absoluteFilePath(path), QString(), QUuid::createUuid());
    mTimelines.append(timeline);
    Source* source = timeline->SourcePtr();
    if (!source || source->ErrorCode() != 0)
    {
        *error = QStringLiteral("cannot open %1").arg(path);
        return nullptr;
    }
    bool parsed = false;
    connect(timeline, &Timeline::SourceParsed, this, [&parsed] { parsed = true; });
    mAv.ParseSource(timeline);
    bool const finished = WaitFor([&parsed] { return parsed; }, PARSE_TIMEOUT_MS);
    timeline->disconnect(this);
    if (!finished)
    {
        *error = QStringLiteral("parsing %1 did not finish").arg(path);
        return nullptr;
    }
    timeline->OnTrackUpdated();
    if (!timeline->HasVideo() || timeline->FrameCount() < 1)
    {
        *error = QStringLiteral("%1 has no video to show").arg(path);
        return nullptr;
    }
    return timeline;
}

AvManager& BenchSession::Av()
{
    return mAv;
}

BenchViewer& BenchSession::Viewer()
{
    return mViewer;
}

void BenchSession::Show(Timeline* timeline, long long time, bool withSound)
{
    mAv.Pause(DecodeBias::None);
    timeline->SetPlaybackTime(time);
    mAv.DecodeTimeline(timeline, 0, withSound, true, false);
}

void BenchSession::Close()
{
    mAv.Pause(DecodeBias::None);
    mAv.EndDecodingTask(0, true, false);
    WaitFor([this] { return mAv.ExpiredWorkerCount() == 0; }, CLOSE_TIMEOUT_MS);
    // The frames of an ended task are released in batches on timer runs.
    WaitFor([] { return false; }, RELEASE_WAIT_MS);
}

bool BenchSession::Seek(long long time, int timeoutMs)
{
    mAv.Pause(DecodeBias::None);
    mAv.SetPlaybackTime(time, false, false, true, true);
    return WaitShown(timeoutMs);
}

bool BenchSession::Step(int frames, int timeoutMs)
{
    Timeline const* timeline = mAv.PrimaryTimeline();
    if (!timeline)
    {
        return false;
    }
    int const frame = std::clamp(timeline->PlaybackFrame() + frames, 0, timeline->EndFrame());
    bool const backward = frames < 0;
    mAv.Pause(backward ? DecodeBias::StepBackward : DecodeBias::StepForward);
    // A single step back lands just before the end of the frame, every other
    // step at its start.
    long long const time =
        frames == -1 ? timeline->TimeAtFrame(frame, true) - 100 : timeline->TimeAtFrame(frame, false);
    mAv.SetPlaybackTime(time, false, false, true, !backward);
    return WaitShown(timeoutMs);
}

void BenchSession::Play(bool forward, float speed)
{
    mAv.SetLoopState(LoopState::Off);
    mAv.SetPlaybackSpeed(speed);
    mAv.Play(forward, false);
}

bool BenchSession::WaitStopped(int timeoutMs)
{
    if (!WaitFor([this] { return !mAv.IsPlaying(); }, timeoutMs))
    {
        mAv.Pause(DecodeBias::None);
        return false;
    }
    return true;
}

bool BenchSession::PlayToEnd(bool forward, float speed, int timeoutMs)
{
    Play(forward, speed);
    return WaitStopped(timeoutMs);
}

bool BenchSession::WaitShown(int timeoutMs)
{
    return WaitFor([this] { return mViewer.Shows(mAv.PlaybackTime()); }, timeoutMs);
}

bool BenchSession::WaitFor(std::function<bool()> const& done, int timeoutMs)
{
    QDeadlineTimer const deadline(std::max(timeoutMs, 0));
    // Wakes the loop when nothing else arrives, so the deadline is kept.
    QTimer wake;
    wake.start(5);
    while (!done())
    {
        if (deadline.hasExpired())
        {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
