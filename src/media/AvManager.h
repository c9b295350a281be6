#pragma once

#include "media/AvWorkerRecords.h"
#include "media/AvWorkerTask.h"
#include "media/DecodeBias.h"
#include "media/EngineMemory.h"
#include "media/ExportLoggingMsgType.h"
#include "media/LoopState.h"
#include "media/PlaybackManager.h"
#include "media/SourceParses.h"
#include "model/Timeline.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include <map>
#include <memory>

class Source;
struct AudioFrame;
struct AvWorkerProperties;
struct ExportProperties;
struct VideoFrame;

// The front object of the media engine, owned by the project manager. It
// parses sources, opens timelines in viewer outputs, runs every piece of
// media work as a task on a worker thread of its own, drives the playback
// clock, hands each clock tick to the timelines being decoded (stalling the
// clock while a cache does not hold the time) and re-emits decoded frames
// with the output id of their viewer. Main thread only.
class AvManager : public QObject
{
    Q_OBJECT

public:
    // Picture memory stays this long (ms) after decoding stops before it
    // goes back to the system: the next clip opened, or a refill after
    // closing, writes its pictures into pages the system need not fault in
    // and zero again.
    static constexpr int IDLE_MEMORY_RELEASE_MS = EngineMemory::IDLE_MEMORY_RELEASE_MS;

    explicit AvManager(QObject* parent = nullptr);
    ~AvManager() override;

    // Ends every task, the audio output included, before the player exits.
    void Shutdown();
    // Ends the tasks (all of them, or all but the audio output) and waits
    // until their threads have finished; a running export is cancelled.
    // A task still running after the time-out (a read that never returns) is
    // left to end on its own: it no longer counts, and HasTasksLeftRunning
    // tells the owner of what it works on to hand that to ReleaseWhenUnused.
    void ClearAll(bool all, long long timeoutMs);
    // Returns once the threads of every task already ended (EndDecodingTask)
    // have finished, so that nothing they copy changes under them, or once
    // ENDED_TASKS_TIMEOUT_MS passed: what is left then is left running.
    void WaitForEndedTasks();
    // Some task outlived a wait for its end and may still use its objects.
    bool HasTasksLeftRunning() const { return mWorkers.HasTasksLeftRunning(); }

    // How long a wait for tasks that were told to end may take before they
    // are left running. A decode task ends within milliseconds.
    static constexpr long long ENDED_TASKS_TIMEOUT_MS = 5000;

    // At most QThread::idealThreadCount() parses run at once; the others wait
    // their turn in request order (see SourceParses).
    void ParseSource(Timeline* timeline);
    // How the parses started from now on time video (see
    // AvParser::SetVideoTimesFromPackets); true unless set.
    void SetVideoTimesFromPackets(bool fromPackets) { mParses.SetVideoTimesFromPackets(fromPackets); }
    // Gives up on the parse of the timeline (one that never returns, such as
    // a read from a pipe nobody writes to): it no longer counts as a task, so
    // ClearAll and later parses never wait for it; its thread is released
    // when it does end, or left to the process's exit.
    void AbandonParse(Timeline* timeline) { mParses.Abandon(timeline); }
    // Takes over an object that holds the given timelines (an item taken out
    // of the project) and deletes it once no engine task can still use it:
    // the timelines are closed in every output that shows them, and the
    // object is kept until every task running now has ended.
    void ReleaseWhenUnused(QObject* object, QList<Timeline*> const& timelines);
    void DecodeTimeline(Timeline* timeline, int outputId, bool audio, bool video, bool keepPreviousOutput);
    void EndDecodingTask(int outputId, bool clearOutput, bool refreshCacheSizes);
    void ReloadTimelines();
    void ReloadTimeline(int outputId);
    void RefreshCache();
    void UpdateDecodeTracks(Timeline* timeline);
    void StartTimelineExport(ExportProperties* properties);

    void Play(bool forward, bool stepped);
    void TogglePlayPause(bool stepped);
    void Pause(DecodeBias bias);
    void SetPlaybackTime(long long time, bool playAudio, bool onlyWhenCached, bool ignoreStepped, bool audioForward);
    void PlayCurrentFrameAudio(bool forward);
    void SetPlaybackSpeed(float speed);
    void SetLoopState(LoopState state);
    void ToggleLoopState();
    void SetAutoPlayEnabled(bool enabled);
    void SetAudioScrubEnabled(bool enabled);
    // The volume or mute setting changed: the audio output takes a copy of
    // them and applies it at once.
    void UpdateVolume();
    // The volume, mute or backward sound setting may have changed: the audio
    // output takes a copy of them.
    void UpdateAudioOutputLevels();
    // Re-opens the default audio output device.
    void ResetAudioOutputDevice();
    // Writes the playback state and the caches' contents to the log.
    void LogCacheStats();
    // While the clock stands, the video decode tasks (those running and
    // those started later) decode no further than the picture at its time
    // until ReleaseFillAhead: the window's first picture gets the cores.
    void HoldFillAhead();
    // Lets the fill ahead go on, for good; nothing when it was not held.
    void ReleaseFillAhead();

    // The clock's time, which the decode loops follow.
    long long PlaybackTime() const { return mPlaybackManager->PlaybackTime(); }
    // The time told to the user (PlaybackTimeChanged, PlaybackFrameChanged):
    // the clock's, but after a seek of the user's, until a picture covering
    // the clock's time is shown, the start of the picture on screen. Past
    // the end, without pictures or with the output cleared, the clock's.
    long long DisplayedPlaybackTime() const;
    float PlaybackSpeed() const { return mPlaybackManager->PlaybackSpeed(); }
    bool IsPlaying() const { return mPlaybackManager->IsPlaying(); }
    bool IsPlayForward() const { return mPlaybackManager->IsPlayForward(); }
    bool IsSteppedPlayback() const { return mPlaybackManager->IsSteppedPlayback(); }
    LoopState ActiveLoopState() const { return mPlaybackManager->ActiveLoopState(); }
    bool IsAutoPlayEnabled() const { return mPlaybackManager->IsAutoPlayEnabled(); }
    bool IsAudioScrubEnabled() const { return mPlaybackManager->IsAudioScrubEnabled(); }
    long long PlaybackRangeStart() const;
    long long PlaybackRangeEnd() const;
    Timeline* PrimaryTimeline() const { return mPrimaryTimeline; }
    bool PrimaryTimelineHasClips() const;
    int PrimaryTimelineOutputId() const;
    Source* PrimaryTimelineSourceAtCurrentTime() const;
    Timeline* TimelineWithOutputId(int outputId) const { return mWorkers.VideoTimelineWithOutputId(outputId); }
    bool IsAudioPlaybackReady() const;
    // Every decode loop of the timeline sleeps until something changes (the
    // clock is stopped and its cache has filled as far as it goes).
    bool DecodingIdle(Timeline const* timeline) const;
    bool AllVideoFramesReceivedForCurrentTime() const;
    int ActiveWorkerCount() const { return static_cast<int>(mWorkers.active.size()); }
    int ExpiredWorkerCount() const { return static_cast<int>(mWorkers.expired.size()); }
    int TotalWorkerCount() const { return mWorkers.TotalCount(); }
    int TimelineDecodeCount() const { return static_cast<int>(mWorkers.DecodedTimelines().size()); }
    int AudioStreamDecodeCount() const { return mWorkers.CountOf(AvWorkerTaskType::DecodeAudio); }
    int VideoStreamDecodeCount() const { return mWorkers.CountOf(AvWorkerTaskType::DecodeVideo); }
    bool IsExporting() const { return mAudioExportWorkerId >= 0 || mVideoExportWorkerId >= 0; }
    int PrimaryWorkerId(AvWorkerTaskType type) const { return mWorkers.IdOf(type, mPrimaryTimeline); }
    int ActiveWorkerIndex(int id) const { return mWorkers.ActiveIndex(id); }
    int ExpiredWorkerIndex(int id) const { return mWorkers.ExpiredIndex(id); }
    AvWorkerProperties* FindActiveWorker(int id) const { return mWorkers.FindActive(id); }
    AvWorkerProperties* FindExpiredWorker(int id) const { return mWorkers.FindExpired(id); }

Q_SIGNALS:
    void WorkerShutdownStarted(int id);
    void TaskStarted(int id, AvWorkerTask* task);
    void DecodeTrackUpdated(int id);
    void SeekRequested(int id);
    void RefreshCacheRequested(int id);
    void AudioOutputStateUpdated(bool playing, bool forward, long long duration, float speed);
    void AudioOutputLevelsChanged(AudioOutputLevels levels);
    void AudioPlaybackReadyChanged(bool ready);
    void ResetAudioOutputDeviceRequested();
    void LogAudioOutputInfoRequested();
    void UpdateAudioOverrideRequested(Timeline* timeline);
    void PrimaryTimelineChanged(Timeline* timeline, bool notSwitching);
    void PlaybackStateChanged(bool playing, bool forward);
    void PlaybackSpeedChanged(float speed);
    // The displayed time and its frame (DisplayedPlaybackTime).
    void PlaybackTimeChanged(long long time);
    void PlaybackFrameChanged(int frame);
    void PlaybackRangeChanged(long long start, long long end);
    void PlaybackEndTimeChanged(long long time);
    void SeekInProgress();
    void LoopStateChanged(LoopState state);
    void VideoFrameChanged(int outputId, std::shared_ptr<VideoFrame> current, std::shared_ptr<VideoFrame> previous,
                           std::shared_ptr<VideoFrame> next);
    void TimelineDecodingEnded(int outputId);
    // The video decoding of the output moved on while its cache does not
    // hold the playback time: the picture waited for is on its way.
    void VideoDecodingAdvanced(int outputId);
    void ExportTasksEnded();
    void ExportLogMsgReceived(QString const& message, ExportLoggingMsgType type, bool isError);
    // The whole read behind a parse's spot scan found a stream of the source
    // stepping back: the source must be parsed again.
    void SourceTimestampRestartFound(Source* source);

private Q_SLOTS:
    void OnPlaybackStateChanged(bool playing, bool forward);
    void OnPlaybackTimeChanged(long long time, bool seek);
    void OnPlaybackSpeedChanged(float speed);
    void OnPlaybackRangeChanged(long long start, long long end);
    void OnPlaybackEndTimeChanged(long long time);
    void OnLoopStateChanged(LoopState state);
    void DeleteWorker(int id);
    void FinalThreadCleanup();
    void OnDecodeTrackUpdateCompleted(int id);
    void OnVideoDecodingAdvanced(int workerId);
    void OnVideoFrameChanged(int workerId, std::shared_ptr<VideoFrame> current, std::shared_ptr<VideoFrame> previous,
                             std::shared_ptr<VideoFrame> next);
    void LogExportMsg(QString const& message, ExportLoggingMsgType type, bool isError);
    void UpdatePrimaryDecodeTracks();

private:
    void DoTask(AvWorkerTaskType type, Timeline* timeline, ExportProperties* properties = nullptr);
    void QuitThread(int id);
    void SetPrimaryTimeline(Timeline* timeline);
    void SetDecodeBias(DecodeBias bias);
    // Computes the cache plan from the clock (CachePlan::For) and hands it to
    // each decoded timeline whose plan it changes.
    void UpdateCachePlans();
    // Something a decode loop looks at changed besides the playhead: a loop
    // sleeping while the clock is stopped looks again.
    void WakeDecodeTasks();
    void UpdateTimelineCacheSize(Timeline* timeline);
    bool InitializeSteppedPlayback(long long time);
    // The start of the primary timeline's bookmarked frame nearest to from
    // whose whole span lies between the times from and to, in either
    // direction; to itself when there is none.
    long long BookmarkPassedOver(long long from, long long to) const;
    bool SteppedHoldActive() const;
    // Whether the sound is heard while playing now: forward (or backward when
    // the settings ask for it), not bookmarks-only, at a speed the stretcher
    // plays. Pictures a frame or two behind then do not hold the clock.
    bool SoundLeadsPlayback() const;
    // The newest cached picture of a timeline lies a frame or two before the
    // time, in the range being played: the clock need not wait for it.
    bool PicturesJustBehind(Timeline const* timeline, long long time) const;
    // Tells the displayed time, and its frame when that changed.
    void PublishPlaybackTime();
    // Pausing: the clock goes back to the picture on screen when it was not
    // that picture's time.
    void StopOnShownPicture();
    // Lets in only this object's queued calls (worker completions and thread
    // ends) until done() holds: no user input, no other caller can re-enter.
    // Between deliveries it sleeps until a worker queues the next such call.
    // Gives up after timeoutMs and returns false: done() never held.
    template <typename Done>
    bool WaitForWorkers(Done done, long long timeoutMs);
    // Takes the ended tasks still running (and, with all, the active ones but
    // those kept) out of every count: they end on their own, or never.
    void LeaveRunning(bool all, int keptId);
    AvWorkerProperties* AudioOutputWorker() const;
    // Deletes the taken-over objects whose tasks have all ended.
    void ReleaseUnusedObjects() { mMemory.ReleaseUnused(mWorkers.Ids()); }
    static bool IsDecodeTask(AvWorkerProperties const* record) { return AvWorkerRecords::IsDecodeTask(record); }

    // Every field below belongs to the main thread and is guarded by it alone,
    // except where a group says otherwise.

    // Tasks: the worker records by state (owned), their ids, and the waits
    // for their ends.
    AvWorkerRecords mWorkers;
    int mNextWorkerId = 0;
    int mAudioOutputWorkerId = -1;
    bool mShuttingDownAllWorkers = false;
    bool mWaitingForWorkers = false;
    // Raised by the worker threads right after they queue a call that moves
    // a task towards its end (its completion, its thread's end); the main
    // thread sleeps on it in WaitForWorkers. Shared, so that a worker left
    // running past this object's end still has it; guards itself.
    std::shared_ptr<DecodeCommandInbox> mWorkerNews = std::make_shared<DecodeCommandInbox>();

    // The primary timeline and the decode tracks its tasks follow.
    Timeline* mPrimaryTimeline = nullptr;
    bool mNotSwitchingTimelines = true;
    bool mPrimaryDecodeTrackUpdatePending = false;
    // Decode workers whose new decode track has not been confirmed yet.
    QSet<int> mDecodeTrackUpdateWorkerIds;
    // The timeline the audio output plays; once set there, the audio output
    // reads the previous primary timeline no more (see AudioOutputTimeline).
    // Shared with the audio thread, which it guards itself.
    std::shared_ptr<AudioOutputTimeline> mAudioTimeline = std::make_shared<AudioOutputTimeline>();
    // Main thread; handed to each video decode task's inbox (see HoldFillAhead).
    bool mFillAheadHeld = false;

    // The clock hand-off: the playback clock, what it waits on and the time
    // told to the viewers.
    PlaybackManager* mPlaybackManager;
    DecodeBias mDecodeBias = DecodeBias::None;
    int mLastPlaybackFrame = -1;
    // Bookmarks-only play: the bookmarked frame the clock waits on until its
    // picture is delivered (-1 for none) and since when (AvGetTime).
    int mSteppedHoldFrame = -1;
    long long mSteppedHoldSince = 0;
    // A seek found a decode cache without its time, and no tick since found
    // every cache ready: the clock waits for the pictures of the new time.
    bool mSeekUnderway = false;
    // The clock stands on a time the user sought, not a loop's wrap, and its
    // picture has not been delivered yet.
    bool mSoughtByUser = false;
    // The user sought the clock's time and the picture on screen does not
    // cover it yet: the time told stays on that picture. A newer seek takes
    // over; a picture covering the clock's time, a null delivery (past the
    // end), no picture at all or a new primary timeline ends it.
    bool mPictureAwaited = false;

    // Parses: those waiting their turn, their timing route, and the whole
    // reads behind them.
    SourceParses mParses;

    // Exports: the one running and its two tasks.
    ExportProperties* mCurrentExport = nullptr;
    int mAudioExportWorkerId = -1;
    int mVideoExportWorkerId = -1;

    // Memory: frames and objects released once no task can use them, and
    // picture memory given back after decoding stops.
    EngineMemory mMemory;
};
