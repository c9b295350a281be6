#include "media/PlaybackManager.h"

#include "app/Settings.h"
#include "media/AvHelpers.h"

#include <algorithm>

PlaybackManager::PlaybackManager(QObject* parent)
    : QObject(parent)
{
    SetPlaybackTime(0, true);
    mTimer.setTimerType(Qt::PreciseTimer);
    mTimer.setInterval(1);
    connect(&mTimer, &QTimer::timeout, this, &PlaybackManager::UpdatePlaybackTime);
}

void PlaybackManager::UpdatePlaybackTime()
{
    long long const now = AvHelpers::AvGetTime();
    long long const elapsed = std::clamp(now - mLastTickTime, 0LL, MAXIMUM_TICK_ELAPSED);
    mLastTickTime = now;

    long long time = mPlaybackTime;
    if (!mUpdatesPaused)
    {
        auto const step = static_cast<long long>(mSpeed * static_cast<float>(elapsed));
        time += mForward ? step : -step;
        if (mSteppedPlayback && mSteppedStopFinder)
        {
            time = mSteppedStopFinder(mPlaybackTime, time);
        }
    }
    SetPlaybackTime(time, false);
}

void PlaybackManager::SetPlaybackTime(long long time, bool seek)
{
    mPlaybackTime = time;

    if (seek && Settings::pausePlaybackOnSeek)
    {
        mSteppedPlayback = false;
        if (mTimer.isActive())
        {
            mTimer.stop();
            Q_EMIT PlaybackStateChanged(false, mForward);
        }
    }

    bool const playing = IsPlaying();
    long long const low = playing ? RangeStartTime() : 0;
    long long const high = playing ? mRangeEnd : mEndTime;
    LoopState const loopState = ActiveLoopState();

    if (time >= low && time <= high)
    {
        Q_EMIT PlaybackTimeChanged(time, seek);
        return;
    }

    long long const nearer = time < low ? low : high;
    switch (loopState)
    {
    case LoopState::PingPong:
        mPlaybackTime = nearer;
        mForward = !mForward;
        Q_EMIT PlaybackStateChanged(playing, mForward);
        seek = true;
        break;
    case LoopState::Loop:
        mPlaybackTime = mForward ? low : high;
        seek = true;
        break;
    case LoopState::Off:
        mPlaybackTime = nearer;
        if (playing)
        {
            mSteppedPlayback = false;
            mTimer.stop();
            Q_EMIT PlaybackStateChanged(false, mForward);
        }
        break;
    }
    Q_EMIT PlaybackTimeChanged(mPlaybackTime, seek);
}

void PlaybackManager::Play(bool forward, bool stepped)
{
    mSteppedPlayback = stepped && forward;

    if (forward != mForward)
    {
        mForward = forward;
        if (IsPlaying())
        {
            Q_EMIT PlaybackStateChanged(true, mForward);
            return;
        }
    }
    else if (IsPlaying())
    {
        return;
    }

    if (mForward && mPlaybackTime >= mRangeEnd)
    {
        SetPlaybackTime(RangeStartTime(), true);
    }
    else if (!mForward && mPlaybackTime <= RangeStartTime())
    {
        SetPlaybackTime(mRangeEnd, true);
    }

    mLastTickTime = AvHelpers::AvGetTime();
    mTimer.start();
    Q_EMIT PlaybackStateChanged(IsPlaying(), mForward);
}

void PlaybackManager::Pause()
{
    mSteppedPlayback = false;
    StopTimer();
}

void PlaybackManager::StopTimer()
{
    if (mTimer.isActive())
    {
        mTimer.stop();
        Q_EMIT PlaybackStateChanged(false, mForward);
    }
}

bool PlaybackManager::IsPlaying() const { return mTimer.isActive(); }
bool PlaybackManager::IsPlayForward() const { return mForward; }
bool PlaybackManager::IsSteppedPlayback() const { return mSteppedPlayback; }
long long PlaybackManager::PlaybackTime() const { return mPlaybackTime; }
long long PlaybackManager::StartTime() const { return 0; }
long long PlaybackManager::EndTime() const { return mEndTime; }
long long PlaybackManager::RangeStartTime() const { return mSteppedPlayback ? mSteppedRangeStart : mRangeStart; }
long long PlaybackManager::RangeEndTime() const { return mRangeEnd; }
float PlaybackManager::PlaybackSpeed() const { return mSpeed; }
bool PlaybackManager::UpdatesPaused() const { return mUpdatesPaused; }

void PlaybackManager::StepSteppedPlaybackRangeStartTime(long long time)
{
    mSteppedRangeStart = time;
}

void PlaybackManager::SetEndTime(long long time)
{
    if (time == mEndTime)
    {
        return;
    }
    mEndTime = std::max(time, 0LL);
    Q_EMIT PlaybackEndTimeChanged(mEndTime);
    if (mPlaybackTime > mEndTime)
    {
        SetPlaybackTime(mEndTime, true);
    }
}

void PlaybackManager::SetPlaybackRange(long long start, long long end)
{
    // Clamp the start into the media first, then the end between the start and
    // the end time, so the stored range is never inverted.
    long long const clampedStart = std::clamp(start, 0LL, mEndTime);
    long long const clampedEnd = std::clamp(end, clampedStart, mEndTime);
    if (clampedStart == mRangeStart && clampedEnd == mRangeEnd)
    {
        return;
    }
    mRangeStart = clampedStart;
    mRangeEnd = clampedEnd;
    Q_EMIT PlaybackRangeChanged(mRangeStart, mRangeEnd);
}

void PlaybackManager::ResetPlaybackRange()
{
    if (mRangeStart == 0 && mRangeEnd == mEndTime)
    {
        return;
    }
    mRangeStart = 0;
    mRangeEnd = std::max(mEndTime, 0LL);
    Q_EMIT PlaybackRangeChanged(mRangeStart, mRangeEnd);
}

void PlaybackManager::SetPlaybackSpeed(float speed)
{
    mSpeed = std::clamp(speed, Settings::playbackSpeedMinimum, Settings::playbackSpeedMaximum);
    Q_EMIT PlaybackSpeedChanged(mSpeed);
}

LoopState PlaybackManager::ActiveLoopState() const
{
    return LoopStateFromSettings();
}

LoopState PlaybackManager::LoopStateFromSettings()
{
    if (Settings::loopState < 0 || Settings::loopState > 2)
    {
        Settings::loopState = 0;
    }
    return static_cast<LoopState>(Settings::loopState);
}

void PlaybackManager::SetLoopState(LoopState state)
{
    int const value = static_cast<int>(state);
    Settings::loopState = (value < 0 || value > 2) ? 0 : value;
    Q_EMIT LoopStateChanged(static_cast<LoopState>(Settings::loopState));
}

void PlaybackManager::ToggleLoopState()
{
    int const next = Settings::loopState == 0 ? 1 : Settings::loopState == 1 ? 2 : Settings::loopState == 2 ? 0 : 1;
    Settings::loopState = next;
    Q_EMIT LoopStateChanged(static_cast<LoopState>(next));
}

void PlaybackManager::SetLoopStateInSettings(LoopState state)
{
    Settings::loopState = static_cast<int>(state);
}

bool PlaybackManager::IsAutoPlayEnabled() { return Settings::autoPlayEnabled; }
void PlaybackManager::SetAutoPlayEnabled(bool enabled) { Settings::autoPlayEnabled = enabled; }
bool PlaybackManager::IsAudioScrubEnabled() { return Settings::audioScrubEnabled; }
void PlaybackManager::SetAudioScrubEnabled(bool enabled) { Settings::audioScrubEnabled = enabled; }

void PlaybackManager::PausePlaybackUpdates(bool paused)
{
    mUpdatesPaused = paused;
}

void PlaybackManager::SetSteppedStopFinder(SteppedStopFinder finder)
{
    mSteppedStopFinder = std::move(finder);
}
