#pragma once

#include "media/LoopState.h"

#include <QObject>
#include <QTimer>

#include <functional>

// The playback clock: keeps the primary timeline's time in microseconds,
// advances it from a monotonic clock at the chosen speed and direction, keeps
// it inside the end time and the playback range, and applies the loop state at
// the range ends. Main thread only.
class PlaybackManager : public QObject
{
    Q_OBJECT

public:
    // The largest advance one tick may make. A stalled event loop or a
    // suspended machine must not make playback leap.
    static constexpr long long MAXIMUM_TICK_ELAPSED = 250000;

    explicit PlaybackManager(QObject* parent = nullptr);

    void Play(bool forward, bool stepped);
    void Pause();
    void SetPlaybackTime(long long time, bool seek);

    bool IsPlaying() const;
    bool IsPlayForward() const;
    bool IsSteppedPlayback() const;
    long long PlaybackTime() const;
    long long StartTime() const;
    long long EndTime() const;
    long long RangeStartTime() const;
    long long RangeEndTime() const;
    float PlaybackSpeed() const;
    bool UpdatesPaused() const;

    void StepSteppedPlaybackRangeStartTime(long long time);
    void SetEndTime(long long time);
    void SetPlaybackRange(long long start, long long end);
    void ResetPlaybackRange();
    void SetPlaybackSpeed(float speed);

    LoopState ActiveLoopState() const;
    static LoopState LoopStateFromSettings();
    void SetLoopState(LoopState state);
    void ToggleLoopState();
    static void SetLoopStateInSettings(LoopState state);

    static bool IsAutoPlayEnabled();
    static void SetAutoPlayEnabled(bool enabled);
    static bool IsAudioScrubEnabled();
    static void SetAudioScrubEnabled(bool enabled);

    void PausePlaybackUpdates(bool paused);

    // In stepped playback a tick moving the time from `from` to `to` stops at
    // the time this returns instead (to itself when nothing lies between).
    using SteppedStopFinder = std::function<long long(long long from, long long to)>;
    void SetSteppedStopFinder(SteppedStopFinder finder);

public Q_SLOTS:
    void UpdatePlaybackTime();

Q_SIGNALS:
    void PlaybackStateChanged(bool playing, bool forward);
    void PlaybackTimeChanged(long long time, bool seek);
    void PlaybackSpeedChanged(float speed);
    void PlaybackRangeChanged(long long start, long long end);
    void PlaybackEndTimeChanged(long long time);
    void LoopStateChanged(LoopState state);

private:
    void StopTimer();

    QTimer mTimer;
    long long mPlaybackTime = 0;
    long long mEndTime = 0;
    long long mRangeStart = 0;
    long long mRangeEnd = 0;
    bool mForward = true;
    bool mSteppedPlayback = false;
    long long mSteppedRangeStart = 0;
    float mSpeed = 1.0f;
    long long mLastTickTime = 0;
    bool mUpdatesPaused = false;
    SteppedStopFinder mSteppedStopFinder;
};
