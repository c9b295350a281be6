#include "media/AvManager.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AudioFrame.h"
#include "media/AvHelpers.h"
#include "media/AvWorker.h"
#include "media/AvWorkerProperties.h"
#include "media/AvWorkerRecords.h"
#include "media/CacheBudget.h"
#include "media/CachePlan.h"
#include "media/DecodeCommandInbox.h"
#include "media/ExportProperties.h"
#include "media/PictureArena.h"
#include "media/PlaybackManager.h"
#include "media/VideoFrame.h"
#include "model/Clip.h"
#include "model/FrameBookmark.h"
#include "model/Source.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QThread>
#include <QVarLengthArray>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace
{
int const RELOAD_OUTPUT_COUNT = 16;
// Bookmarks-only play holds the clock on a bookmarked frame until its picture
// has been delivered, but never longer than this (microseconds): a picture
// that cannot come must not stop playback.
long long const STEPPED_HOLD_LIMIT = 1000000;
// Above this speed the sound no longer leads the clock: pictures set the pace
// (a free-running fill plays far faster than anyone listens).
float const SOUND_LEADS_MAXIMUM_SPEED = 4.0f;

// Abandoned parses that were still running when their engine went, with the
// objects they write into: never destroyed, as a running thread must not be.
struct LeftRunningTasks
{
    QList<AvWorkerProperties*> records;
    QList<QObject*> objects;
};

LeftRunningTasks& LeftRunning()
{
    static auto* tasks = new LeftRunningTasks;
    return *tasks;
}

QString SecondsAndMicroseconds(long long time)
{
    return QStringLiteral("%1 (%2)")
        .arg(QString::number(static_cast<double>(time) / 1e6, 'g', QLocale::FloatingPointShortest))
        .arg(time);
}
} // namespace

AvManager::AvManager(QObject* parent)
    : QObject(parent)
    , mPlaybackManager(new PlaybackManager(this))
    , mParses(mWorkers, [this](Timeline* timeline) { DoTask(AvWorkerTaskType::ParseSource, timeline); })
    // The audio output stays for the whole session and holds no pictures.
    , mMemory([this] { return TotalWorkerCount() == (AudioOutputWorker() ? 1 : 0); })
{
    connect(&mParses, &SourceParses::RestartFound, this, &AvManager::SourceTimestampRestartFound);
    connect(mPlaybackManager, &PlaybackManager::PlaybackStateChanged, this, &AvManager::OnPlaybackStateChanged);
    connect(mPlaybackManager, &PlaybackManager::PlaybackTimeChanged, this, &AvManager::OnPlaybackTimeChanged);
    connect(mPlaybackManager, &PlaybackManager::PlaybackSpeedChanged, this, &AvManager::OnPlaybackSpeedChanged);
    connect(mPlaybackManager, &PlaybackManager::PlaybackRangeChanged, this, &AvManager::OnPlaybackRangeChanged);
    connect(mPlaybackManager, &PlaybackManager::PlaybackEndTimeChanged, this, &AvManager::OnPlaybackEndTimeChanged);
    connect(mPlaybackManager, &PlaybackManager::LoopStateChanged, this, &AvManager::OnLoopStateChanged);
    // Ticks come far apart when the main thread is slow: bookmarks-only play
    // stops on each bookmarked frame a tick would carry it over, as that frame
    // is all it shows there.
    mPlaybackManager->SetSteppedStopFinder(
        [this](long long from, long long to) { return BookmarkPassedOver(from, to); });
    DoTask(AvWorkerTaskType::AudioOutput, nullptr);
    mAudioOutputWorkerId = mWorkers.active.constLast()->id;
}

AvManager::~AvManager()
{
    // A thread must never be destroyed while it runs.
    if (TotalWorkerCount() > 0)
    {
        ClearAll(true, 1000);
    }
    // A task left running keeps its thread and what it writes into for the
    // rest of the process.
    QList<AvWorkerProperties*> running;
    for (AvWorkerProperties* record : std::as_const(mWorkers.detached))
    {
        if (record->thread->isFinished())
        {
            delete record;
        }
        else
        {
            running.append(record);
        }
    }
    mWorkers.detached = running;
    ReleaseUnusedObjects();
    if (!running.isEmpty())
    {
        Logger::GetInstance()->Error(
            QStringLiteral("%1 engine tasks still run at exit").arg(running.size()));
        LeftRunning().records.append(running);
        LeftRunning().objects.append(mMemory.TakeKept());
        mWorkers.detached.clear();
    }
}

// ---- Tasks and workers ----

void AvManager::DoTask(AvWorkerTaskType type, Timeline* timeline, ExportProperties* properties)
{
    auto* task = new AvWorkerTask;
    task->type = type;
    task->timeline = timeline;
    task->exportProperties = properties;
    task->settings = DecodeSettings::FromSettings();
    if (type == AvWorkerTaskType::AudioOutput)
    {
        task->audioTimeline = mAudioTimeline;
        task->audioLevels = AudioOutputLevels::FromSettings();
    }
    else if (type == AvWorkerTaskType::DecodeVideo || type == AvWorkerTaskType::DecodeAudio)
    {
        task->inbox->SetClockStopped(!mPlaybackManager->IsPlaying());
        task->inbox->SetFillAheadHeld(mFillAheadHeld && type == AvWorkerTaskType::DecodeVideo);
    }
    else if (type == AvWorkerTaskType::ParseSource)
    {
        task->videoTimesFromPackets = mParses.VideoTimesFromPackets();
    }
    int const id = mNextWorkerId++;
    auto* thread = new QThread();
    thread->setProperty("id", id);
    connect(thread, &QThread::finished, this, &AvManager::FinalThreadCleanup);
    auto* worker = new AvWorker(id);
    // Released on its own thread as that ends.
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);

    connect(this, &AvManager::TaskStarted, worker, &AvWorker::DoTask);
    worker->ConnectCommands(this, *task);
    if (type == AvWorkerTaskType::AudioOutput)
    {
        // The timeline itself is handed over through mAudioTimeline; this
        // call only makes the audio thread take it without waiting for its
        // next tick.
        connect(this, &AvManager::PrimaryTimelineChanged, worker, &AvWorker::SetAudioPlaybackTimeline);
        connect(this, &AvManager::AudioOutputStateUpdated, worker, &AvWorker::UpdateAudioOutputState);
        connect(this, &AvManager::AudioOutputLevelsChanged, worker, &AvWorker::SetAudioOutputLevels);
        connect(this, &AvManager::AudioPlaybackReadyChanged, worker, &AvWorker::SetAudioPlaybackReady);
        connect(this, &AvManager::ResetAudioOutputDeviceRequested, worker, &AvWorker::ResetAudioOutputDevice);
        connect(this, &AvManager::LogAudioOutputInfoRequested, worker, &AvWorker::LogAudioOutputInfo);
    }
    connect(worker, &AvWorker::TaskCompleted, this, &AvManager::DeleteWorker);
    connect(worker, &AvWorker::DecodeTrackUpdated, this, &AvManager::OnDecodeTrackUpdateCompleted);
    connect(worker, &AvWorker::VideoFrameChanged, this, &AvManager::OnVideoFrameChanged);
    connect(worker, &AvWorker::VideoDecodingAdvanced, this, &AvManager::OnVideoDecodingAdvanced);
    connect(worker, &AvWorker::ExportLogMsgReceived, this, &AvManager::LogExportMsg);
    // Connected after the queued calls to this object, so that a wait for
    // workers woken here finds them posted.
    std::shared_ptr<DecodeCommandInbox> const news = mWorkerNews;
    connect(worker, &AvWorker::TaskCompleted, worker, [news] { news->Post(); }, Qt::DirectConnection);
    connect(thread, &QThread::finished, thread, [news] { news->Post(); }, Qt::DirectConnection);

    worker->moveToThread(thread);
    thread->start(QThread::InheritPriority);

    auto* record = new AvWorkerProperties(thread, worker);
    record->task = task;
    mWorkers.active.append(record);
    if (type == AvWorkerTaskType::ExportAudio)
    {
        mAudioExportWorkerId = id;
    }
    else if (type == AvWorkerTaskType::ExportVideo)
    {
        mVideoExportWorkerId = id;
    }
    emit TaskStarted(id, task);
}

void AvManager::DeleteWorker(int id)
{
    for (AvWorkerProperties const* detached : std::as_const(mWorkers.detached))
    {
        if (detached->id == id)
        {
            disconnect(this, nullptr, detached->worker, nullptr);
            detached->thread->quit();
            return;
        }
    }
    int const index = mWorkers.ActiveIndex(id);
    if (index >= 0)
    {
        AvWorkerProperties* record = mWorkers.active.takeAt(index);
        AvWorkerTaskType const type = record->task->type;
        if (type == AvWorkerTaskType::ExportAudio || type == AvWorkerTaskType::ExportVideo)
        {
            (type == AvWorkerTaskType::ExportAudio ? mAudioExportWorkerId : mVideoExportWorkerId) = -1;
            if (mAudioExportWorkerId < 0 && mVideoExportWorkerId < 0)
            {
                mCurrentExport = nullptr;
                emit ExportTasksEnded();
            }
        }
        mWorkers.expired.append(record);
    }
    AvWorkerProperties* record = mWorkers.FindExpired(id);
    if (record && !mShuttingDownAllWorkers && record->task->timeline)
    {
        Timeline* timeline = record->task->timeline;
        if (record->task->type == AvWorkerTaskType::DecodeVideo)
        {
            timeline->ClearVideoCache(false);
            mMemory.TakeDeferredFrames(timeline, true);
        }
        else if (record->task->type == AvWorkerTaskType::DecodeAudio)
        {
            timeline->ClearAudioCache(false);
            mMemory.TakeDeferredFrames(timeline, false);
        }
    }
    // A worker that ended before confirming its new decode track confirms
    // nothing any more.
    if (mDecodeTrackUpdateWorkerIds.contains(id))
    {
        OnDecodeTrackUpdateCompleted(id);
    }
    QuitThread(id);
    if (record && record->task->type == AvWorkerTaskType::ParseSource)
    {
        if (record->task->restartCheck && record->task->timeline)
        {
            mParses.StartRestartCheck(record->task->timeline->SourcePtr(), std::move(record->task->restartCheck));
        }
        mParses.StartPending();
    }
}

void AvManager::QuitThread(int id)
{
    AvWorkerProperties* record = mWorkers.FindExpired(id);
    if (!record)
    {
        Logger::GetInstance()->Warning(QStringLiteral("Worker id not found (quit worker thread): %1").arg(id));
        return;
    }
    // Nothing more goes to a worker whose thread is ending.
    disconnect(this, nullptr, record->worker, nullptr);
    record->thread->quit();
}

void AvManager::FinalThreadCleanup()
{
    auto* thread = qobject_cast<QThread*>(sender());
    int const id = thread ? thread->property("id").toInt() : -1;
    int const index = mWorkers.ExpiredIndex(id);
    if (index >= 0)
    {
        delete mWorkers.expired.takeAt(index);
    }
    else
    {
        auto const detached = std::find_if(mWorkers.detached.cbegin(), mWorkers.detached.cend(),
                                           [id](AvWorkerProperties const* record) { return record->id == id; });
        if (detached == mWorkers.detached.cend())
        {
            Logger::GetInstance()->Warning(QStringLiteral("Worker id not found (on thread finished): %1").arg(id));
            return;
        }
        AvWorkerProperties* record = *detached;
        mWorkers.detached.removeOne(record);
        delete record;
    }
    // A parse may have waited for this task to stop reading its source.
    mParses.StartPending();
    // A wait in progress may still read the timelines of what waits here.
    if (!mWaitingForWorkers)
    {
        ReleaseUnusedObjects();
    }
    mMemory.ReleaseWhenIdle();
}

template <typename Done>
bool AvManager::WaitForWorkers(Done done, long long timeoutMs)
{
    mWaitingForWorkers = true;
    mParses.HoldRestartsFound(true);
    QElapsedTimer elapsed;
    elapsed.start();
    // Read before the delivery: a call queued after it raises the count.
    unsigned long long seen = mWorkerNews->Generation();
    QCoreApplication::sendPostedEvents(this);
    bool held = done();
    while (!held)
    {
        long long const left = timeoutMs - elapsed.elapsed();
        if (left <= 0)
        {
            break;
        }
        seen = mWorkerNews->WaitForPost(seen, static_cast<int>(left));
        QCoreApplication::sendPostedEvents(this);
        held = done();
    }
    mWaitingForWorkers = false;
    mParses.HoldRestartsFound(false);
    return held;
}

void AvManager::LeaveRunning(bool all, int keptId)
{
    QList<AvWorkerProperties*> left = mWorkers.expired;
    mWorkers.expired.clear();
    if (all)
    {
        for (int i = static_cast<int>(mWorkers.active.size()) - 1; i >= 0; --i)
        {
            if (mWorkers.active.at(i)->id != keptId)
            {
                left.append(mWorkers.active.takeAt(i));
            }
        }
    }
    for (AvWorkerProperties* record : std::as_const(left))
    {
        // Whatever it still sends is dropped; its thread's end releases it.
        disconnect(this, nullptr, record->worker, nullptr);
        if (record->id == mAudioExportWorkerId || record->id == mVideoExportWorkerId)
        {
            (record->id == mAudioExportWorkerId ? mAudioExportWorkerId : mVideoExportWorkerId) = -1;
            if (mAudioExportWorkerId < 0 && mVideoExportWorkerId < 0)
            {
                mCurrentExport = nullptr;
                emit ExportTasksEnded();
            }
        }
        mDecodeTrackUpdateWorkerIds.remove(record->id);
        mWorkers.detached.append(record);
    }
    if (!left.isEmpty())
    {
        Logger::GetInstance()->Error(
            QStringLiteral("%1 engine tasks did not end in time and are left running").arg(left.size()));
    }
}

void AvManager::WaitForEndedTasks()
{
    if (!WaitForWorkers([this] { return mWorkers.expired.isEmpty(); }, ENDED_TASKS_TIMEOUT_MS))
    {
        LeaveRunning(false, -1);
    }
    ReleaseUnusedObjects();
}

void AvManager::Shutdown()
{
    ClearAll(true, 1000);
}

void AvManager::ClearAll(bool all, long long timeoutMs)
{
    mPlaybackManager->Pause();
    SetDecodeBias(DecodeBias::None);
    mShuttingDownAllWorkers = all;
    mParses.ClearPending();
    QList<Timeline*> const decoded = mWorkers.DecodedTimelines();
    if (mCurrentExport)
    {
        mCurrentExport->cancelled = true;
    }
    if (all)
    {
        emit WorkerShutdownStarted(-1);
    }
    else
    {
        for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
        {
            if (record->id != mAudioOutputWorkerId)
            {
                emit WorkerShutdownStarted(record->id);
            }
        }
    }
    bool const ended = WaitForWorkers(
        [this, all] {
            int const left = TotalWorkerCount();
            return all ? left == 0 : left == 0 || (left == 1 && AudioOutputWorker());
        },
        timeoutMs);
    if (!ended)
    {
        LeaveRunning(true, all ? -1 : mAudioOutputWorkerId);
    }
    // No output shows the ended timelines any more.
    for (Timeline* timeline : std::as_const(decoded))
    {
        timeline->SetOutputId(-1);
    }
    SetPrimaryTimeline(nullptr);
    mShuttingDownAllWorkers = false;
    ReleaseUnusedObjects();
    if (all)
    {
        mAudioOutputWorkerId = -1;
        mMemory.DropFrames();
    }
}

AvWorkerProperties* AvManager::AudioOutputWorker() const
{
    return mAudioOutputWorkerId >= 0 ? mWorkers.FindActive(mAudioOutputWorkerId) : nullptr;
}

// ---- Parsing ----

void AvManager::ParseSource(Timeline* timeline)
{
    if (!timeline || !timeline->IsSourceTimeline())
    {
        Logger::GetInstance()->Error("Failed to parse source. Invalid source timeline.");
        return;
    }
    mParses.Request(timeline);
}

void AvManager::ReleaseWhenUnused(QObject* object, QList<Timeline*> const& timelines)
{
    if (!object)
    {
        return;
    }
    for (Timeline* timeline : timelines)
    {
        if (timeline && timeline->OutputId() >= 0)
        {
            EndDecodingTask(timeline->OutputId(), true, true);
        }
    }
    // Any task running now may read the timelines, or the sources their
    // clips share (a decode copy of an edit timeline, an export's copy).
    QSet<int> workerIds = mWorkers.Ids();
    workerIds.remove(mAudioOutputWorkerId);
    mMemory.ReleaseWhenUnused(object, std::move(workerIds));
    if (!mWaitingForWorkers)
    {
        ReleaseUnusedObjects();
    }
}

// ---- Decoding ----

void AvManager::DecodeTimeline(Timeline* timeline, int outputId, bool audio, bool video, bool keepPreviousOutput)
{
    if (!timeline)
    {
        Logger::GetInstance()->Error("Failed to decode timeline. Timeline is NULL.");
        return;
    }
    if (outputId < 0 || outputId >= Settings::MAXIMUM_ACTIVE_TIMELINE_VIEWERS)
    {
        return;
    }
    if (mWaitingForWorkers)
    {
        // Called back from a wait for workers: the timelines are being swapped.
        Logger::GetInstance()->Warning(QStringLiteral("Timeline decoding request ignored while tasks end"));
        return;
    }
    mNotSwitchingTimelines = false;
    int const previousOutputId = timeline->OutputId();
    if (previousOutputId >= 0)
    {
        EndDecodingTask(previousOutputId, previousOutputId != outputId && !keepPreviousOutput, false);
    }
    EndDecodingTask(outputId, false, false);
    if (!WaitForWorkers([this] { return mWorkers.expired.isEmpty(); }, ENDED_TASKS_TIMEOUT_MS))
    {
        LeaveRunning(false, -1);
    }
    ReleaseUnusedObjects();
    if (mWorkers.TimelineLeftRunning(timeline))
    {
        // Its old decode task may still write its caches: a second one would
        // write them at the same time.
        mNotSwitchingTimelines = true;
        Logger::GetInstance()->Error(QStringLiteral("Timeline not opened: its last decoding has not ended"));
        return;
    }

    timeline->RefreshClipStartTimes();
    timeline->SetOutputId(outputId);
    emit UpdateAudioOverrideRequested(timeline);
    timeline->UpdateDecodeTracks();
    UpdateTimelineCacheSize(timeline);
    timeline->SetDecodeBias(mDecodeBias);
    timeline->SetCachePlan(CachePlan {});
    if (mPrimaryTimeline && mPrimaryTimeline->OutputId() < outputId)
    {
        timeline->SetPlaybackTime(mPrimaryTimeline->PlaybackTime());
    }
    else
    {
        SetPrimaryTimeline(timeline);
    }
    mNotSwitchingTimelines = true;
    if (audio)
    {
        DoTask(AvWorkerTaskType::DecodeAudio, timeline);
    }
    if (video)
    {
        DoTask(AvWorkerTaskType::DecodeVideo, timeline);
    }
    UpdateCachePlans();
}

void AvManager::EndDecodingTask(int outputId, bool clearOutput, bool refreshCacheSizes)
{
    Timeline* ended = nullptr;
    for (int i = static_cast<int>(mWorkers.active.size()) - 1; i >= 0; --i)
    {
        AvWorkerProperties* record = mWorkers.active.at(i);
        if (!IsDecodeTask(record) || record->task->timeline->OutputId() != outputId)
        {
            continue;
        }
        ended = record->task->timeline;
        mWorkers.expired.append(mWorkers.active.takeAt(i));
        if (clearOutput && record->task->type == AvWorkerTaskType::DecodeVideo)
        {
            emit VideoFrameChanged(outputId, nullptr, nullptr, nullptr);
        }
        emit WorkerShutdownStarted(record->id);
    }
    if (ended)
    {
        emit TimelineDecodingEnded(outputId);
        ended->SetOutputId(-1);
        if (ended == mPrimaryTimeline)
        {
            SetPrimaryTimeline(nullptr);
        }
    }
    if (refreshCacheSizes)
    {
        UpdateTimelineCacheSize(nullptr);
    }
}

void AvManager::ReloadTimelines()
{
    Pause(DecodeBias::None);
    for (int outputId = 0; outputId < RELOAD_OUTPUT_COUNT; ++outputId)
    {
        ReloadTimeline(outputId);
    }
}

void AvManager::ReloadTimeline(int outputId)
{
    Pause(DecodeBias::None);
    Timeline* timeline = nullptr;
    bool audio = false;
    bool video = false;
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (!IsDecodeTask(record) || record->task->timeline->OutputId() != outputId)
        {
            continue;
        }
        timeline = record->task->timeline;
        (record->task->type == AvWorkerTaskType::DecodeAudio ? audio : video) = true;
    }
    if (timeline)
    {
        DecodeTimeline(timeline, outputId, audio, video, false);
    }
}

void AvManager::RefreshCache()
{
    UpdateTimelineCacheSize(nullptr);
}

void AvManager::UpdateDecodeTracks(Timeline* timeline)
{
    if (!timeline)
    {
        return;
    }
    emit UpdateAudioOverrideRequested(timeline);
    timeline->UpdateDecodeTracks();
}

void AvManager::UpdateTimelineCacheSize(Timeline* timeline)
{
    QList<Timeline*> const timelines = mWorkers.DecodedTimelines();
    int const count = static_cast<int>(timelines.size()) + (timeline && !timelines.contains(timeline) ? 1 : 0);
    if (count < 1)
    {
        return;
    }
    int const size = CacheBudget::TimelineMegabytes(Settings::cacheSize, count);
    int const sizeBefore = timelines.isEmpty() ? size : timelines.constFirst()->CacheSize();
    // Freed pictures keep their memory for the next ones within what the
    // caches being decoded may hold together (decimal megabytes).
    PictureArena::Instance().SetRetainLimit(static_cast<size_t>(count) *
                                            static_cast<size_t>(CacheBudget::VideoBytes(size)));
    if (timeline)
    {
        timeline->SetCacheSize(size);
    }
    for (Timeline* decoded : std::as_const(timelines))
    {
        decoded->SetCacheSize(size);
    }
    WakeDecodeTasks();
    if (size < sizeBefore)
    {
        for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
        {
            if (IsDecodeTask(record))
            {
                emit RefreshCacheRequested(record->id);
            }
        }
    }
}

void AvManager::UpdatePrimaryDecodeTracks()
{
    if (!mPrimaryTimeline)
    {
        return;
    }
    if (!mDecodeTrackUpdateWorkerIds.isEmpty())
    {
        mPrimaryDecodeTrackUpdatePending = true;
        return;
    }
    emit UpdateAudioOverrideRequested(mPrimaryTimeline);
    mPrimaryTimeline->UpdateDecodeTracks();
    mPrimaryDecodeTrackUpdatePending = false;
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (IsDecodeTask(record) && record->task->timeline == mPrimaryTimeline)
        {
            mDecodeTrackUpdateWorkerIds.insert(record->id);
            emit DecodeTrackUpdated(record->id);
        }
    }
}

void AvManager::OnDecodeTrackUpdateCompleted(int id)
{
    mDecodeTrackUpdateWorkerIds.remove(id);
    if (mDecodeTrackUpdateWorkerIds.isEmpty() && mPrimaryDecodeTrackUpdatePending)
    {
        UpdatePrimaryDecodeTracks();
    }
}

void AvManager::SetPrimaryTimeline(Timeline* timeline)
{
    if (timeline && timeline == mPrimaryTimeline)
    {
        return;
    }
    mLastPlaybackFrame = -1;
    mSteppedHoldFrame = -1;
    mPictureAwaited = false;
    if (mPrimaryTimeline)
    {
        disconnect(mPrimaryTimeline, &Timeline::EndTimeChanged, mPlaybackManager, &PlaybackManager::SetEndTime);
        disconnect(mPrimaryTimeline, &Timeline::PlaybackRangeChanged, mPlaybackManager,
                   &PlaybackManager::SetPlaybackRange);
        disconnect(mPrimaryTimeline, &Timeline::MasterTrackEdited, this, &AvManager::UpdatePrimaryDecodeTracks);
    }
    if (!timeline)
    {
        // The decoded timeline with the lowest output takes over.
        for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
        {
            Timeline* candidate = IsDecodeTask(record) ? record->task->timeline : nullptr;
            if (candidate && candidate->OutputId() >= 0 && (!timeline || candidate->OutputId() < timeline->OutputId()))
            {
                timeline = candidate;
            }
        }
    }
    Timeline* const previous = mPrimaryTimeline;
    mPrimaryTimeline = timeline;
    mDecodeTrackUpdateWorkerIds.clear();
    mPrimaryDecodeTrackUpdatePending = false;
    if (!timeline)
    {
        if (previous)
        {
            mAudioTimeline->Set(nullptr);
            emit PrimaryTimelineChanged(nullptr, mNotSwitchingTimelines);
        }
        mPlaybackManager->SetPlaybackTime(0, true);
        mPlaybackManager->SetEndTime(0);
        mPlaybackManager->ResetPlaybackRange();
        return;
    }
    connect(timeline, &Timeline::EndTimeChanged, mPlaybackManager, &PlaybackManager::SetEndTime);
    connect(timeline, &Timeline::PlaybackRangeChanged, mPlaybackManager, &PlaybackManager::SetPlaybackRange);
    connect(timeline, &Timeline::MasterTrackEdited, this, &AvManager::UpdatePrimaryDecodeTracks);
    if (timeline->PlaybackFrame() >= timeline->EndFrame())
    {
        timeline->SetPlaybackFrame(timeline->EndFrame());
    }
    mAudioTimeline->Set(timeline);
    emit PrimaryTimelineChanged(timeline, false);
    mPlaybackManager->SetEndTime(timeline->Duration() - 1);
    mPlaybackManager->SetPlaybackRange(timeline->PlaybackRangeStart(), timeline->PlaybackRangeEnd());
    mPlaybackManager->SetPlaybackTime(timeline->PlaybackTime(), true);
}

// ---- Clock ----

long long AvManager::BookmarkPassedOver(long long from, long long to) const
{
    if (!mPrimaryTimeline || to == from)
    {
        return to;
    }
    bool const forward = to > from;
    long long stop = to;
    for (FrameBookmark const* bookmark : mPrimaryTimeline->FrameBookmarkList())
    {
        long long const start = mPrimaryTimeline->TimeAtFrame(bookmark->timelineFrame, false);
        long long const end = mPrimaryTimeline->TimeAtFrame(bookmark->timelineFrame, true);
        // Passed over: the frame's whole span lies between the two times.
        bool const passed = forward ? (from < start && end < to) : (to < start && end < from);
        if (passed && (forward ? start < stop : start > stop))
        {
            stop = start;
        }
    }
    return stop;
}

bool AvManager::SoundLeadsPlayback() const
{
    return mPlaybackManager->IsPlaying() && !IsSteppedPlayback() &&
           (mPlaybackManager->IsPlayForward() || Settings::audioOnBackwardsPlayback) &&
           mPlaybackManager->PlaybackSpeed() <= SOUND_LEADS_MAXIMUM_SPEED;
}

bool AvManager::SteppedHoldActive() const
{
    return mSteppedHoldFrame >= 0 && IsSteppedPlayback() &&
           AvHelpers::AvGetTime() - mSteppedHoldSince < STEPPED_HOLD_LIMIT;
}

void AvManager::OnPlaybackTimeChanged(long long time, bool seek)
{
    if (!mPlaybackManager->IsPlaying())
    {
        UpdateCachePlans(); // parked inside the range or not
    }
    bool notReady = false;
    // While the sound plays on, pictures a frame or two behind it are not
    // waited for: the decode loop shows its newest and catches up. Further
    // behind, after a seek or a loop's wrap, the clock waits for the
    // pictures of its time (and the sound with it), so that the picture is
    // never far from the number.
    if (!seek)
    {
        mSoughtByUser = false; // the clock moved on by itself
    }
    bool const soundLeads = !seek && !mSeekUnderway && SoundLeadsPlayback();
    bool audioReady = true;
    bool hasAudio = false;
    bool videoBehind = false;
    QVarLengthArray<int, 4> moved; // picture loops whose timeline reached a new frame
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        // Only the decoded timelines follow the clock: an export moves its
        // private copies itself.
        if (IsDecodeTask(record))
        {
            Timeline* timeline = record->task->timeline;
            int const before = timeline->PlaybackFrame();
            timeline->SetPlaybackTime(time);
            bool const audio = record->task->type == AvWorkerTaskType::DecodeAudio;
            bool const ready = audio ? timeline->AudioCacheReady() : timeline->VideoCacheReady();
            if (audio && timeline == mPrimaryTimeline)
            {
                hasAudio = true;
                audioReady = ready;
            }
            if (!ready && !audio && soundLeads && PicturesJustBehind(timeline, time))
            {
                videoBehind = true; // the pictures come after: not a reason to wait
            }
            else if (!ready)
            {
                notReady = true;
                if (seek)
                {
                    emit SeekRequested(record->id);
                }
            }
            if (timeline->PlaybackFrame() != before || !mPlaybackManager->IsPlaying())
            {
                // A new frame wants showing and frees cache room behind it:
                // the decode loop looks at once rather than at its next round.
                // With the clock stopped the loop sleeps until told, so every
                // move is told. A picture loop is told once it has the clock.
                if (audio)
                {
                    record->task->inbox->Post();
                }
                else
                {
                    moved.append(record->id);
                }
            }
        }
        else if (seek && record->task->type == AvWorkerTaskType::AudioOutput)
        {
            emit SeekRequested(record->id);
        }
    }
    if (videoBehind && (!hasAudio || !audioReady))
    {
        notReady = true; // without sound to keep, the clock waits for pictures
    }
    // The time and whether the clock runs on ahead of the pictures reach
    // each picture loop together, before it is woken.
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (IsDecodeTask(record) && record->task->type == AvWorkerTaskType::DecodeVideo)
        {
            bool const ahead = videoBehind && !notReady;
            if (record->task->inbox->SetClock({time, ahead}) || moved.contains(record->id))
            {
                record->task->inbox->Post();
            }
        }
    }
    if (mPrimaryTimeline)
    {
        for (AvWorkerProperties* record : std::as_const(mWorkers.active))
        {
            // The viewer moves on to a kept frame that covers the time.
            for (AvWorkerProperties::Span const& kept : record->kept)
            {
                record->shown = kept.Covers(time) ? kept : record->shown;
            }
        }
        // Bookmarks-only play holds the clock on its pictures itself.
        mPictureAwaited = mPictureAwaited && !IsSteppedPlayback() && DisplayedPlaybackTime() != time;
        PublishPlaybackTime();
    }
    if (notReady && seek)
    {
        emit SeekInProgress();
    }
    mSeekUnderway = notReady && (seek || mSeekUnderway);
    // The clock stalls until every decode cache holds the time, and on a
    // bookmark in bookmarks-only play until its picture is delivered.
    mPlaybackManager->PausePlaybackUpdates(notReady || SteppedHoldActive());
    AvWorkerProperties* audioOutput = AudioOutputWorker();
    if (audioOutput && audioOutput->audioPlaybackReady == notReady)
    {
        audioOutput->audioPlaybackReady = !notReady;
        emit AudioPlaybackReadyChanged(!notReady);
    }
}

void AvManager::PublishPlaybackTime()
{
    long long const time = DisplayedPlaybackTime();
    emit PlaybackTimeChanged(time);
    int const frame = mPrimaryTimeline->FrameAtTime(time);
    if (frame != mLastPlaybackFrame)
    {
        mLastPlaybackFrame = frame;
        // The decode loop reads the time when it looks: a bookmarked frame
        // keeps the clock until its picture is out, or the next tick
        // could move on before the loop has seen it.
        bool const hold = IsSteppedPlayback() && mPrimaryTimeline->FrameBookmarkAt(frame);
        mSteppedHoldFrame = hold ? frame : -1;
        mSteppedHoldSince = hold ? AvHelpers::AvGetTime() : 0;
        emit PlaybackFrameChanged(frame);
    }
}

long long AvManager::DisplayedPlaybackTime() const
{
    long long const time = PlaybackTime();
    if (!mPictureAwaited)
    {
        return time;
    }
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (IsDecodeTask(record) && record->task->type == AvWorkerTaskType::DecodeVideo &&
            record->task->timeline == mPrimaryTimeline)
        {
            AvWorkerProperties::Span const shown = record->shown;
            return shown.start >= 0 && !shown.Covers(time) ? shown.start : time;
        }
    }
    return time;
}

bool AvManager::PicturesJustBehind(Timeline const* timeline, long long time) const
{
    // The newest picture lies before the time in the direction of play, in
    // the range being played, and at most a couple of frames from it.
    if (timeline->VideoCacheFrameCount() <= 0)
    {
        return false;
    }
    bool const forward = IsPlayForward();
    long long const newest = forward ? timeline->VideoCacheAdjustedEndTime() : timeline->VideoCacheAdjustedStartTime();
    if (forward ? newest >= time : newest <= time)
    {
        return false;
    }
    int const newestFrame = timeline->FrameAtTime(newest);
    if (newestFrame < timeline->FrameAtTime(mPlaybackManager->RangeStartTime()) ||
        newestFrame > timeline->FrameAtTime(mPlaybackManager->RangeEndTime()))
    {
        return false;
    }
    return std::abs(timeline->FrameAtTime(time) - newestFrame) <= DecodeCommandInbox::PICTURE_LAG_FRAMES;
}

void AvManager::HoldFillAhead()
{
    mFillAheadHeld = true;
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (record->task->type == AvWorkerTaskType::DecodeVideo)
        {
            record->task->inbox->SetFillAheadHeld(true);
        }
    }
}

void AvManager::ReleaseFillAhead()
{
    if (!mFillAheadHeld)
    {
        return;
    }
    mFillAheadHeld = false;
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (IsDecodeTask(record))
        {
            record->task->inbox->SetFillAheadHeld(false);
        }
    }
}

void AvManager::OnPlaybackStateChanged(bool playing, bool forward)
{
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (IsDecodeTask(record))
        {
            if (!playing)
            {
                record->task->inbox->SetClock({PlaybackTime(), false});
            }
            record->task->inbox->SetClockStopped(!playing);
        }
    }
    SetDecodeBias(playing ? (forward ? DecodeBias::PlayForward : DecodeBias::PlayBackward) : DecodeBias::None);
    UpdateCachePlans();
    emit PlaybackStateChanged(playing, forward);
    emit AudioOutputStateUpdated(playing, forward, -1, mPlaybackManager->PlaybackSpeed());
}

void AvManager::OnPlaybackSpeedChanged(float speed)
{
    emit PlaybackSpeedChanged(speed);
    emit AudioOutputStateUpdated(IsPlaying(), IsPlayForward(), -1, speed);
}

void AvManager::OnPlaybackRangeChanged(long long start, long long end)
{
    UpdateCachePlans();
    emit PlaybackRangeChanged(start, end);
}

void AvManager::OnPlaybackEndTimeChanged(long long time)
{
    emit PlaybackEndTimeChanged(time);
}

void AvManager::OnLoopStateChanged(LoopState state)
{
    UpdateCachePlans();
    emit LoopStateChanged(state);
}

void AvManager::OnVideoFrameChanged(int workerId, std::shared_ptr<VideoFrame> current,
                                    std::shared_ptr<VideoFrame> previous, std::shared_ptr<VideoFrame> next)
{
    AvWorkerProperties* record = mWorkers.FindActive(workerId);
    if (!record || !record->task->timeline)
    {
        return; // an ended worker's frames are stale
    }
    // Looked up before the clock last moved, the frames may lead with one
    // that no longer covers the playback time while a neighbour does: that
    // neighbour is shown at once, as the viewer would at the clock's next
    // tick, and a capture of this time finds it. (Stepped playback shows
    // only what it was handed.)
    long long const time = PlaybackTime();
    auto const covers = [time](std::shared_ptr<VideoFrame> const& frame) {
        return frame && frame->adjustedStartTime <= time && time <= frame->adjustedEndTime;
    };
    if (current && !IsPlaying() && !mSeekUnderway && !covers(current) && !covers(previous) && !covers(next) &&
        !current->emptyFrame)
    {
        // Sent while the clock still ran ahead of the pictures, it arrives
        // after the stop: stopped, the picture shown is the one of its time.
        return;
    }
    if (current && !IsSteppedPlayback() && !covers(current))
    {
        // A moved-from neighbour is left empty.
        if (covers(next))
        {
            previous = std::exchange(current, std::move(next));
        }
        else if (covers(previous))
        {
            next = std::exchange(current, std::move(previous));
        }
    }
    record->frameStartTime = current ? current->adjustedStartTime : -1;
    record->frameEndTime = current ? current->adjustedEndTime.load() : -1;
    auto const span = [](std::shared_ptr<VideoFrame> const& frame) {
        return frame ? AvWorkerProperties::Span {frame->adjustedStartTime, frame->adjustedEndTime.load()}
                     : AvWorkerProperties::Span {};
    };
    Timeline* timeline = record->task->timeline;
    if (timeline == mPrimaryTimeline && mSteppedHoldFrame >= 0)
    {
        // The clock waits on the held frame: a picture covering its time is
        // that frame's (none comes past the end).
        long long const held = timeline->PlaybackTime();
        if (!current || (current->adjustedStartTime <= held && held <= current->adjustedEndTime))
        {
            mSteppedHoldFrame = -1;
        }
    }
    if (current && IsSteppedPlayback() && timeline == mPrimaryTimeline)
    {
        if (!timeline->FrameBookmarkAt(current->startFrame))
        {
            return;
        }
        // The viewer moves on to a neighbour once the playback time reaches
        // it: only a bookmarked neighbour may be shown, so the bookmarked
        // frame is held until the next one is delivered.
        auto const unmarked = [timeline](std::shared_ptr<VideoFrame> const& frame) {
            return frame && !timeline->FrameBookmarkAt(frame->startFrame);
        };
        if (unmarked(previous))
        {
            previous.reset();
        }
        if (unmarked(next))
        {
            next.reset();
        }
    }
    record->kept[0] = span(current);
    record->kept[1] = span(next);
    record->kept[2] = span(previous);
    record->shown = record->kept[0];
    if (current && current->adjustedStartTime <= time && time <= current->adjustedEndTime)
    {
        mSoughtByUser = false; // the sought picture is out
    }
    emit VideoFrameChanged(timeline->OutputId(), std::move(current), std::move(previous), std::move(next));
    if (mPictureAwaited && timeline == mPrimaryTimeline)
    {
        // The time told follows the picture now on screen: the sought one
        // (or none at all: past the end) lets it go on to the clock's.
        mPictureAwaited = DisplayedPlaybackTime() != time;
        PublishPlaybackTime();
    }
}

void AvManager::OnVideoDecodingAdvanced(int workerId)
{
    AvWorkerProperties const* record = mWorkers.FindActive(workerId);
    if (record && record->task->timeline)
    {
        emit VideoDecodingAdvanced(record->task->timeline->OutputId());
    }
}

void AvManager::LogExportMsg(QString const& message, ExportLoggingMsgType type, bool isError)
{
    emit ExportLogMsgReceived(message, type, isError);
}

// ---- Transport ----

void AvManager::SetDecodeBias(DecodeBias bias)
{
    if (bias == mDecodeBias)
    {
        return;
    }
    mDecodeBias = bias;
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (IsDecodeTask(record))
        {
            record->task->timeline->SetDecodeBias(bias);
        }
    }
    WakeDecodeTasks();
}

bool AvManager::DecodingIdle(Timeline const* timeline) const
{
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (IsDecodeTask(record) && record->task->timeline == timeline && !record->task->inbox->IdleWaiting())
        {
            return false;
        }
    }
    return true;
}

void AvManager::WakeDecodeTasks()
{
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (IsDecodeTask(record))
        {
            record->task->inbox->Post();
        }
    }
}

void AvManager::UpdateCachePlans()
{
    CachePlan const plan = CachePlan::For({mPlaybackManager->PlaybackTime(), mPlaybackManager->IsPlaying(),
                                           mPlaybackManager->IsPlayForward(), mPlaybackManager->ActiveLoopState(),
                                           mPlaybackManager->RangeStartTime(), mPlaybackManager->RangeEndTime(),
                                           mPlaybackManager->EndTime()});
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (!IsDecodeTask(record))
        {
            continue;
        }
        Timeline* timeline = record->task->timeline;
        if (timeline->CurrentCachePlan() != plan)
        {
            timeline->SetCachePlan(plan);
            // An idle loop looks again: the plan may want a fill in front.
            record->task->inbox->Post();
        }
    }
    WakeDecodeTasks();
}

void AvManager::Pause(DecodeBias bias)
{
    bool const wasPlaying = IsPlaying();
    mPlaybackManager->Pause();
    if (wasPlaying)
    {
        StopOnShownPicture();
    }
    SetDecodeBias(bias);
}

void AvManager::StopOnShownPicture()
{
    // A clock that ran on ahead of the pictures, or waited for those of a
    // wrap, stops on the picture on screen: what a step or a capture goes on
    // from is what the user saw when stopping. A time the user sought stays:
    // its picture is on the way.
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (!IsDecodeTask(record) || record->task->type != AvWorkerTaskType::DecodeVideo ||
            record->task->timeline != mPrimaryTimeline)
        {
            continue;
        }
        long long const time = PlaybackTime();
        AvWorkerProperties::Span const shown = record->shown;
        if (mSoughtByUser || shown.start < 0 || shown.Covers(time) || shown.start > mPrimaryTimeline->EndTime())
        {
            return;
        }
        mPlaybackManager->SetPlaybackTime(shown.start, true);
        return;
    }
}

void AvManager::Play(bool forward, bool stepped)
{
    if (!PrimaryTimelineHasClips())
    {
        return;
    }
    bool const steppedHolds = forward && stepped && InitializeSteppedPlayback(-1);
    mPlaybackManager->Play(forward, steppedHolds);
    SetDecodeBias(forward ? DecodeBias::PlayForward : DecodeBias::PlayBackward);
}

void AvManager::TogglePlayPause(bool stepped)
{
    if (IsPlaying())
    {
        Pause(DecodeBias::None);
        return;
    }
    Play(mPlaybackManager->IsPlayForward(), stepped);
}

bool AvManager::InitializeSteppedPlayback(long long time)
{
    if (!mPrimaryTimeline)
    {
        return false;
    }
    int const rangeStart = mPrimaryTimeline->PlaybackRangeStartFrame();
    int rangeEnd = mPrimaryTimeline->PlaybackRangeEndFrame();
    if (rangeEnd < 0)
    {
        rangeEnd = mPrimaryTimeline->EndFrame();
    }
    QList<int> frames;
    for (FrameBookmark const* bookmark : mPrimaryTimeline->FrameBookmarkList())
    {
        int const frame = bookmark->timelineFrame;
        if (frame >= rangeStart && frame <= rangeEnd)
        {
            frames.append(frame);
        }
    }
    if (frames.isEmpty())
    {
        return false;
    }
    std::sort(frames.begin(), frames.end());
    int const reference = time < 0 ? mPrimaryTimeline->PlaybackFrame() : mPrimaryTimeline->FrameAtTime(time);
    int target = frames.constFirst();
    for (int frame : std::as_const(frames))
    {
        if (frame <= reference)
        {
            target = frame;
        }
    }
    mPlaybackManager->SetPlaybackTime(mPrimaryTimeline->TimeAtFrame(target, false), true);
    mPlaybackManager->StepSteppedPlaybackRangeStartTime(mPrimaryTimeline->TimeAtFrame(frames.constFirst(), false));
    return true;
}

void AvManager::SetPlaybackTime(long long time, bool playAudio, bool onlyWhenCached, bool ignoreStepped,
                                bool audioForward)
{
    if (onlyWhenCached)
    {
        for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
        {
            if (!IsDecodeTask(record))
            {
                continue;
            }
            Timeline const* timeline = record->task->timeline;
            bool const cached = record->task->type == AvWorkerTaskType::DecodeAudio
                                    ? timeline->AudioCacheReadyAtTime(time)
                                    : timeline->VideoCacheReadyAtTime(time);
            if (!cached)
            {
                return;
            }
        }
    }
    if (ignoreStepped || !IsPlaying() || !IsSteppedPlayback() || !InitializeSteppedPlayback(time))
    {
        mSoughtByUser = true;
        mPictureAwaited = true;
        mPlaybackManager->SetPlaybackTime(time, true);
    }
    if (playAudio)
    {
        PlayCurrentFrameAudio(audioForward);
    }
}

void AvManager::PlayCurrentFrameAudio(bool forward)
{
    if (!mPrimaryTimeline || !IsAudioScrubEnabled() || IsPlaying())
    {
        return;
    }
    auto const duration = static_cast<long long>(mPrimaryTimeline->FrameStepAtFrame(mPrimaryTimeline->PlaybackFrame()));
    if (duration > 0)
    {
        emit AudioOutputStateUpdated(true, forward, duration, PlaybackSpeed());
    }
}

void AvManager::SetPlaybackSpeed(float speed)
{
    mPlaybackManager->SetPlaybackSpeed(speed);
}

void AvManager::SetLoopState(LoopState state)
{
    mPlaybackManager->SetLoopState(state);
}

void AvManager::ToggleLoopState()
{
    mPlaybackManager->ToggleLoopState();
}

void AvManager::SetAutoPlayEnabled(bool enabled)
{
    mPlaybackManager->SetAutoPlayEnabled(enabled);
}

void AvManager::SetAudioScrubEnabled(bool enabled)
{
    mPlaybackManager->SetAudioScrubEnabled(enabled);
}

void AvManager::UpdateAudioOutputLevels()
{
    emit AudioOutputLevelsChanged(AudioOutputLevels::FromSettings());
}

void AvManager::UpdateVolume()
{
    UpdateAudioOutputLevels();
    emit AudioOutputStateUpdated(IsPlaying(), IsPlayForward(), -1, PlaybackSpeed());
}

void AvManager::ResetAudioOutputDevice()
{
    emit ResetAudioOutputDeviceRequested();
}

void AvManager::LogCacheStats()
{
    AvWorkerProperties const* audioOutput = AudioOutputWorker();
    QString text = QStringLiteral("\nPlayback Time: %1\nUpdates Paused: %2\nAudio Playback Ready: %3\n")
                       .arg(SecondsAndMicroseconds(PlaybackTime()))
                       .arg(mPlaybackManager->UpdatesPaused() ? 1 : 0)
                       .arg(audioOutput && audioOutput->audioPlaybackReady ? 1 : 0);
    for (AvWorkerProperties const* record : std::as_const(mWorkers.active))
    {
        if (IsDecodeTask(record) && record->task->type == AvWorkerTaskType::DecodeVideo)
        {
            text += record->task->timeline->CacheToString() + QLatin1Char('\n');
        }
    }
    Logger::GetInstance()->Output(text);
    emit LogAudioOutputInfoRequested();
}

// ---- Export ----

void AvManager::StartTimelineExport(ExportProperties* properties)
{
    if (!properties || !properties->timeline)
    {
        return;
    }
    bool const endedAlready = properties->failed || properties->cancelled;
    if (endedAlready)
    {
        emit ExportTasksEnded();
    }
    mCurrentExport = properties;
    // Both flags are up before either task starts: the side that completes
    // last makes the final file.
    bool const audio = !properties->noAudio;
    bool const video = !properties->noVideo && !properties->viewerCapture;
    properties->audioExporting = audio;
    properties->videoExporting = video;
    if (audio)
    {
        Timeline* copy = properties->timeline->DuplicateForExport();
        if (properties->startFrame >= 0)
        {
            copy->SetPlaybackRangeByFrame(properties->startFrame, copy->PlaybackRangeEndFrame());
        }
        DoTask(AvWorkerTaskType::ExportAudio, copy, properties);
    }
    if (video)
    {
        DoTask(AvWorkerTaskType::ExportVideo, properties->timeline->DuplicateForExport(), properties);
    }
    if (!IsExporting())
    {
        // Nothing to run: the request ends here.
        mCurrentExport = nullptr;
        if (!endedAlready)
        {
            emit ExportTasksEnded();
        }
    }
}

// ---- Queries ----

long long AvManager::PlaybackRangeStart() const
{
    return mPrimaryTimeline ? mPrimaryTimeline->PlaybackRangeStart() : 0;
}

long long AvManager::PlaybackRangeEnd() const
{
    return mPrimaryTimeline ? mPrimaryTimeline->PlaybackRangeEnd() : 0;
}

bool AvManager::PrimaryTimelineHasClips() const
{
    return mPrimaryTimeline && mPrimaryTimeline->ClipCount() > 0;
}

int AvManager::PrimaryTimelineOutputId() const
{
    return mPrimaryTimeline ? mPrimaryTimeline->OutputId() : -1;
}

Source* AvManager::PrimaryTimelineSourceAtCurrentTime() const
{
    return mPrimaryTimeline ? mPrimaryTimeline->SourceAtPlaybackTime(PlaybackTime()) : nullptr;
}

bool AvManager::IsAudioPlaybackReady() const
{
    AvWorkerProperties const* audioOutput = AudioOutputWorker();
    return audioOutput && audioOutput->audioPlaybackReady;
}

bool AvManager::AllVideoFramesReceivedForCurrentTime() const
{
    long long const time = PlaybackTime();
    for (AvWorkerProperties const* record : mWorkers.active)
    {
        if (!IsDecodeTask(record) || record->task->type != AvWorkerTaskType::DecodeVideo)
        {
            continue;
        }
        if (time > record->task->timeline->EndTime())
        {
            if (record->frameStartTime >= 0)
            {
                return false;
            }
        }
        else if (time < record->frameStartTime || time > record->frameEndTime)
        {
            return false;
        }
    }
    return true;
}

