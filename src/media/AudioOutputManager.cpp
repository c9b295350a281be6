#include "media/AudioOutputManager.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AudioOutput.h"
#include "media/AudioOutputTimeline.h"
#include "media/AudioStretcher.h"
#include "media/AvHelpers.h"
#include "model/Timeline.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace
{
int const TICK_INTERVAL_MS = 10;
long long const SYNC_THRESHOLD = 10000; // µs
int const SYNC_SAMPLE_COUNT = 5;
// A missing or failed device is tried again this often, and at once when the
// system's list of outputs changes.
qint64 const DEVICE_RETRY_INTERVAL_MS = 2000;
// After a reset the stretcher needs a few feeds before its first output.
int const MAX_STRETCH_PASSES = 8;
// Audio prepared after a reset may start this late (µs) before it is cut.
double const LATE_AUDIO_TOLERANCE = 2000.0;
int const MAX_CATCH_UP_ROUNDS = 4;
// The clock's wrap lands this close (µs of timeline time) after the loop's
// start: one late tick at the top speed.
long long const CLOCK_WRAP_TOLERANCE = 1000000;
// Resting, the sink is suspended this long after what it held should have
// been heard (ms): the server's played time lags a little. However much it
// says it still holds, it is suspended within a second.
int const SUSPEND_MARGIN_MS = 20;
long long const MAX_SUSPEND_DELAY_MS = 1000;
// Suspended this long (ms), its stream is closed.
int const STREAM_RELEASE_DELAY_MS = 5000;

int SampleFrameSize(AudioOutputFormat const& format)
{
    return static_cast<int>(AvHelpers::AudioOutputFrameSize(format));
}

// Exact duration of a byte count, in µs: summed over a long play, rounding
// each piece to whole microseconds would drift.
double DurationOf(qsizetype bytes, AudioOutputFormat const& format)
{
    return static_cast<double>(bytes) / SampleFrameSize(format) / format.sampleRate * 1e6;
}

QString Flag(bool value)
{
    return QString::number(value ? 1 : 0);
}
} // namespace

AudioOutputManager::AudioOutputManager(Timeline* timeline, QObject* parent)
    : AudioOutputManager(timeline, AudioOutputFormat::FromSettings(), parent)
{
}

AudioOutputManager::AudioOutputManager(Timeline* timeline, AudioOutputFormat const& format, QObject* parent)
    : QObject(parent)
    , mFormat(format)
    , mOutput(new AudioOutput(format, this))
    , mStretcher(new AudioStretcher(format, this))
{
    // The sink holds only a few ticks of audio: a coarse timer would starve it.
    mTimer.setTimerType(Qt::PreciseTimer);
    mTimer.setInterval(TICK_INTERVAL_MS);
    connect(&mTimer, &QTimer::timeout, this, &AudioOutputManager::WriteToAudioOutput);
    mRestTimer.setSingleShot(true);
    connect(&mRestTimer, &QTimer::timeout, this, &AudioOutputManager::QuietRestingOutput);
    SetTimeline(timeline);
}

long long AudioOutputManager::ProcessedAudioDuration() const
{
    return std::llround(HeardDuration());
}

double AudioOutputManager::HeardDuration() const
{
    double const heard = static_cast<double>(mOutput->ProcessedUSecs()) * mStretcher->PlaybackMultiplier();
    return mForward ? heard : -heard;
}

int AudioOutputManager::LateWriteCount() const
{
    return mLateWrites;
}

int AudioOutputManager::UnderrunsWhilePlayingCount() const
{
    return mUnderrunsWhilePlaying;
}

void AudioOutputManager::CheckWriteInTime()
{
    int const underruns = mOutput->UnderrunErrorCount();
    if (mSinceWrite.isValid())
    {
        // Only after a write that left sound to play (a stream that has not
        // begun playing reports none). One tick of slack: the sink's played
        // time moves in steps.
        if (mQueuedAtWrite > 0 && mSinceWrite.nsecsElapsed() / 1000 > mQueuedAtWrite + mTimer.interval() * 1000LL)
        {
            ++mLateWrites;
        }
        mUnderrunsWhilePlaying += std::max(underruns - mUnderrunsSeen, 0);
    }
    mUnderrunsSeen = underruns;
}

void AudioOutputManager::NoteWrite()
{
    mQueuedAtWrite = mOutput->USecsToPlay();
    mSinceWrite.start();
}

void AudioOutputManager::SetTimeline(Timeline* timeline)
{
    mSinceWrite.invalidate();
    mPendingBuffer.clear();
    mTimeline = timeline;
    // The new timeline's read position is wherever it was left.
    mResetRequested = true;
    if (!mTimeline)
    {
        mTimer.stop();
        mRestTimer.stop();
        mOutput->Reset();
        return;
    }
    WakeTicks();
}

void AudioOutputManager::SetTimelineHandover(std::shared_ptr<AudioOutputTimeline> handover)
{
    mHandover = std::move(handover);
    TakeHandedOverTimeline();
}

void AudioOutputManager::TakeHandedOverTimeline()
{
    if (mHandover)
    {
        QMutexLocker const locker(&mHandover->mMutex);
        TakeHandoverLocked();
    }
}

void AudioOutputManager::TakeHandoverLocked()
{
    if (mHandover && mHandover->mSetCount != mHandoverTaken)
    {
        mHandoverTaken = mHandover->mSetCount;
        SetTimeline(mHandover->mTimeline);
    }
}

void AudioOutputManager::WakeTicks()
{
    if (mTimeline && !mTimer.isActive())
    {
        mRestTimer.stop();
        mTimer.start();
    }
}

void AudioOutputManager::RestTicks()
{
    mTimer.stop();
    if (mOutput->IsStarted())
    {
        // A started sink keeps a timer of its own running, even with nothing
        // to play; the end of what it holds is heard before it is suspended.
        long long const toPlayMs = mOutput->USecsToPlay() / 1000;
        mRestTimer.start(static_cast<int>(std::min(toPlayMs, MAX_SUSPEND_DELAY_MS)) + SUSPEND_MARGIN_MS);
    }
    else if (mOutput->IsSuspended())
    {
        mRestTimer.start(STREAM_RELEASE_DELAY_MS);
    }
}

void AudioOutputManager::QuietRestingOutput()
{
    if (mTimer.isActive())
    {
        return;
    }
    if (mOutput->IsStarted())
    {
        // Suspended, the sink stops its timer, and play resumes it at once.
        mOutput->Suspend();
        mRestTimer.start(STREAM_RELEASE_DELAY_MS);
    }
    else if (mOutput->IsSuspended())
    {
        // Even a suspended stream has the sound system's thread wake for it
        // now and then: a long pause closes it, and play opens a new one.
        mOutput->Reset();
    }
}

void AudioOutputManager::SetAudioPlaybackReady(bool ready)
{
    WakeTicks();
    mPlaybackReady = ready;
    if (!ready)
    {
        mPendingBuffer.clear();
        mResetRequested = true;
    }
}

void AudioOutputManager::SetLevels(AudioOutputLevels const& levels)
{
    mLevels = levels;
    mOutput->SetLevels(levels.volume, levels.muted);
}

void AudioOutputManager::UpdateAudioOutputState(bool playing, bool forward, long long scrubDuration, float speed)
{
    WakeTicks();
    mOutput->UpdateVolume();
    if (!playing)
    {
        mSinceWrite.invalidate();
    }
    mPlaying = playing;
    if (!playing && mOutput->IsIdle() && mOutput->BytesUsed() > 0)
    {
        mOutput->Reset();
    }
    if (forward == mForward && speed == mStretcher->PlaybackMultiplier())
    {
        if (!playing)
        {
            mPendingBuffer.clear();
            mResetRequested = true;
            return;
        }
    }
    else
    {
        mForward = forward;
        mStretcher->SetPlaybackMultiplier(speed);
        mPendingBuffer.clear();
        mResetRequested = true;
        if (!playing)
        {
            return;
        }
    }
    if (mScrubDuration >= 0 && scrubDuration >= 0 && !mPendingBuffer.isEmpty())
    {
        mPendingBuffer.clear();
    }
    if (mScrubDuration >= 0 && scrubDuration < 0)
    {
        // After a scrub the read position sits at the end of the scrubbed
        // frame, not at the playback time play starts from.
        mPendingBuffer.clear();
        mResetRequested = true;
    }
    mScrubDuration = scrubDuration;
    mScrubFilled = false;
}

void AudioOutputManager::ClearAndResetAudioData()
{
    WakeTicks();
    if (TakeClockWrap())
    {
        return; // the loop's wrap: its audio is already on its way
    }
    mPendingBuffer.clear();
    mResetRequested = true;
}

void AudioOutputManager::ResetAudioOutputDevice(QString const& reason)
{
    mOutput->Shutdown();
    Logger::GetInstance()->Info(reason.isEmpty() ? QStringLiteral("Audio output device reset") : reason);
}

void AudioOutputManager::ResetAudioData()
{
    if (!mTimeline)
    {
        return;
    }
    long long time = mTimeline->PlaybackTime();
    mResetClock.invalidate();
    if (mScrubDuration < 0)
    {
        // What the sink still holds is heard first: the new audio starts where
        // the playback time will be by then.
        mQueuedAtReset = static_cast<double>(mOutput->USecsToPlay());
        mResetClock.start();
        double const queued = mQueuedAtReset * mStretcher->PlaybackMultiplier();
        time = std::max(0LL, time + std::llround(mForward ? queued : -queued));
    }
    mTimeline->ResetAudioBuffer(mPendingBuffer, time, mFormat);
    mSinceWrite.invalidate();
    mReadTime = static_cast<double>(time);
    mReadWrapped = false;
    mStretcher->Reset();
    ResetSyncThresholdVariables(true);
    mResetRequested = false;
}

void AudioOutputManager::ResetSyncThresholdVariables(bool resetSyncBase)
{
    mDriftSum = 0;
    mDriftSamples = 0;
    mLastSyncTime = -1;
    if (resetSyncBase && mTimeline)
    {
        // The sink's played time does not restart with the audio: count from
        // what it has played so far.
        mSyncBase = mTimeline->PlaybackTime() - std::llround(HeardDuration());
    }
}

void AudioOutputManager::LogInfo()
{
    QString text = QStringLiteral("AudioOutputManager\n------------------\n");
    text += QStringLiteral("Audio Device: %1\n").arg(mOutput->AudioDeviceName());
    text += QStringLiteral("Audio Device Changed Count: %1\n").arg(mOutput->AudioDeviceChangedCount());
    text += QStringLiteral("Audio Output Playback Ready: %1\n").arg(Flag(mPlaybackReady));
    text += QStringLiteral("Audio Output Playing: %1\n").arg(Flag(mPlaying));
    text += QStringLiteral("Audio Output State: %1\n").arg(mOutput->StateStr());
    text += QStringLiteral("Audio Output Underruns: %1\n").arg(mOutput->UnderrunErrorCount());
    text += QStringLiteral("Device Buffer Size: %1\n").arg(mOutput->BufferSize());
    text += QStringLiteral("Device Buffer Bytes Free: %1\n").arg(mOutput->BytesFree());
    text += QStringLiteral("Device Buffer Bytes Used: %1\n").arg(mOutput->BytesUsed());
    text += QStringLiteral("Cache Buffer Size: %1\n").arg(mPendingBuffer.size());
    text += QStringLiteral("Play Forward: %1\n").arg(Flag(mForward));
    text += QStringLiteral("Playback Multiplier: %1\n")
                .arg(QString::number(mStretcher->PlaybackMultiplier(), 'g', QLocale::FloatingPointShortest));
    text += QStringLiteral("Timer Started: %1\n").arg(Flag(mTimer.isActive()));
    Logger::GetInstance()->Output(text);
}

bool AudioOutputManager::ReadsAudio() const
{
    return mScrubDuration >= 0 || mForward || mLevels.soundBackward;
}

bool AudioOutputManager::PrepareOutput()
{
    if (mOutput->AudioOutputDeviceUpdateRequired())
    {
        mOutput->Shutdown();
        Logger::GetInstance()->Info(QStringLiteral("Audio output devices changed"));
    }
    if (mOutput->FatalDeviceErrorEncountered())
    {
        if (!mDeviceRetryTimer.isValid())
        {
            mDeviceRetryTimer.start();
        }
        if (!mDeviceRetryTimer.hasExpired(DEVICE_RETRY_INTERVAL_MS))
        {
            return false;
        }
        mOutput->Shutdown();
    }
    mDeviceRetryTimer.invalidate();
    if (mOutput->IsSuspended())
    {
        // Resumed first, so that the sync base counts from the resumed sink.
        mOutput->Resume();
        ResetAudioData();
    }
    else if (mOutput->IsStopped())
    {
        if (mOutput->Start())
        {
            ResetAudioData();
        }
    }
    else if (ReadsAudio() && (mResetRequested || !mTimeline->IsAudioOutputFrameReady()))
    {
        ResetAudioData();
    }
    return mOutput->IsStarted();
}

void AudioOutputManager::WriteToAudioOutput()
{
    // A handed-over timeline is read only under the hand-over's lock; one
    // handed over since the last tick is taken first.
    QMutexLocker const locker(mHandover ? &mHandover->mMutex : nullptr);
    TakeHandoverLocked();
    if (!mTimeline)
    {
        return;
    }
    bool const scrubWaits = mScrubDuration >= 0 && !mPlaybackReady;
    if ((!mPlaying || scrubWaits) && mPendingBuffer.isEmpty())
    {
        // Paused with nothing left to write: the sink plays out what it
        // holds, and the ticks rest until play or a scrub wakes them.
        RestTicks();
        return;
    }
    if (!mPlaying || !mPlaybackReady)
    {
        WritePendingBuffer();
        return;
    }
    if (!PrepareOutput())
    {
        if (mScrubDuration >= 0)
        {
            mTimer.stop(); // no sink to scrub on; the next scrub tries again
        }
        return;
    }
    int const frameSize = SampleFrameSize(mFormat);
    int const bytesFree = mOutput->BytesFree() / frameSize * frameSize;
    if (mScrubDuration < 0)
    {
        if (bytesFree < 1)
        {
            return;
        }
        if (ReadsAudio())
        {
            SyncAudioOutput();
            FillPendingBuffer(bytesFree);
            // Each round prepares less than the one before, so it soon ends.
            for (int round = 0; round < MAX_CATCH_UP_ROUNDS && DropLateAudio(); ++round)
            {
                FillPendingBuffer(bytesFree);
            }
            mResetClock.invalidate();
        }
        else
        {
            // Nothing is read meanwhile: start afresh once audio is wanted.
            mResetRequested = true;
        }
    }
    else
    {
        if (!mScrubFilled)
        {
            qsizetype const before = mPendingBuffer.size();
            mTimeline->FillAudioBufferByDuration(mPendingBuffer, mScrubDuration, mForward, mFormat);
            AdvanceReadTime(mPendingBuffer.size() - before);
            mScrubFilled = true;
            mScrubPadding = 0;
        }
        else if (mPendingBuffer.size() < bytesFree)
        {
            // Silence pushes the frame's audio through the sink's start-up
            // buffering and keeps the sink going until it is heard.
            mScrubPadding += bytesFree - mPendingBuffer.size();
            mPendingBuffer.append(bytesFree - mPendingBuffer.size(), '\0');
        }
        if (bytesFree < 1)
        {
            return;
        }
    }
    CheckWriteInTime();
    WritePendingBuffer();
    NoteWrite();
    if (mScrubDuration >= 0 && ScrubPlayedOut())
    {
        // Only silence is left to play: the ticks rest until the next scrub.
        RestTicks();
    }
}

bool AudioOutputManager::ScrubPlayedOut() const
{
    if (!mScrubFilled || mPendingBuffer.size() > mScrubPadding)
    {
        return false;
    }
    double const silenceInSink = DurationOf(mScrubPadding - mPendingBuffer.size(), mFormat);
    return static_cast<double>(mOutput->USecsToPlay()) <= silenceInSink;
}

void AudioOutputManager::SyncAudioOutput()
{
    long long const time = mTimeline->PlaybackTime();
    if (time == mLastSyncTime || (mReadWrapped && time < mClockAtReadWrap))
    {
        // (The clock wrapped, and its word of it is still on the way.)
        return;
    }
    double const drift = static_cast<double>(mSyncBase - time) + HeardDuration();
    mLastSyncTime = time;
    if (std::abs(drift) <= SYNC_THRESHOLD)
    {
        ResetSyncThresholdVariables(false);
        return;
    }
    mDriftSum += std::llround(drift);
    ++mDriftSamples;
    if (mDriftSamples < SYNC_SAMPLE_COUNT)
    {
        return;
    }
    if (std::llabs(mDriftSum / mDriftSamples) > SYNC_THRESHOLD)
    {
        // The audio fell behind (the sink ran dry) or ran ahead: skip or
        // repeat what is still to be read by the drift. What the sink, the
        // pending buffer and the stretcher hold plays on, so the stretcher
        // need not restart, which would itself make the audio late again.
        mReadTime -= drift;
        QByteArray discarded;
        mTimeline->ResetAudioBuffer(discarded, std::max(0LL, std::llround(mReadTime)), mFormat);
        mSyncBase -= std::llround(drift);
    }
    ResetSyncThresholdVariables(false);
}

bool AudioOutputManager::DropLateAudio()
{
    if (!mResetClock.isValid())
    {
        return false;
    }
    // Preparing the first audio after a reset (the stretcher's warm-up) may
    // outlast what the sink still had to play: then the sink ran dry, and the
    // start of the prepared audio belongs to a time already gone.
    double const late = static_cast<double>(mResetClock.nsecsElapsed()) / 1000.0 - mQueuedAtReset;
    if (late < LATE_AUDIO_TOLERANCE)
    {
        mResetClock.invalidate();
        return false;
    }
    int const frameSize = SampleFrameSize(mFormat);
    auto const lateBytes = static_cast<qsizetype>(late / 1e6 * mFormat.sampleRate) * frameSize;
    mPendingBuffer.remove(0, std::min(lateBytes, mPendingBuffer.size()));
    // The sink is empty: what it plays next is heard now, and the time taken
    // to prepare more is late again.
    ResetSyncThresholdVariables(true);
    mQueuedAtReset = 0.0;
    mResetClock.start();
    return true;
}

void AudioOutputManager::ReadAudio(QByteArray& buffer, int bytes)
{
    LoopRange const range = mTimeline->CacheLoopRange();
    long long const spanStart = range.start;
    long long const spanEnd = range.end;
    double const loopEnd = static_cast<double>(spanEnd + 1);
    if (mForward && mScrubDuration < 0 && !mReadWrapped && spanEnd > spanStart &&
        mReadTime >= static_cast<double>(spanStart) && mReadTime < loopEnd)
    {
        int const frameSize = SampleFrameSize(mFormat);
        auto const untilEnd = static_cast<int>(
            std::ceil((loopEnd - mReadTime) / 1e6 * mFormat.sampleRate) * frameSize);
        if (untilEnd < bytes)
        {
            ReadAudioStraight(buffer, untilEnd);
            // The clock wraps to the start when it passes the end; the audio
            // heard after the end's is the start's.
            QByteArray discarded;
            mTimeline->ResetAudioBuffer(discarded, spanStart, mFormat);
            mReadTime = static_cast<double>(spanStart);
            mReadWrapped = true;
            mClockAtReadWrap = mTimeline->PlaybackTime();
            mLoopLength = spanEnd + 1 - spanStart;
            bytes -= untilEnd;
        }
    }
    ReadAudioStraight(buffer, bytes);
}

bool AudioOutputManager::TakeClockWrap()
{
    if (!mReadWrapped || !mTimeline)
    {
        return false;
    }
    long long const time = mTimeline->PlaybackTime();
    long long const spanStart = mTimeline->CacheLoopRange().start;
    if (time >= mClockAtReadWrap)
    {
        return false; // a seek before the clock came round
    }
    mReadWrapped = false;
    if (time < spanStart || time > spanStart + CLOCK_WRAP_TOLERANCE)
    {
        return false; // sought elsewhere
    }
    mSyncBase -= mLoopLength;
    ResetSyncThresholdVariables(false);
    return true;
}

void AudioOutputManager::ReadAudioStraight(QByteArray& buffer, int bytes)
{
    qsizetype const before = buffer.size();
    mTimeline->FillAudioBufferBySize(buffer, bytes, mForward, mFormat);
    AdvanceReadTime(buffer.size() - before);
}

void AudioOutputManager::AdvanceReadTime(qsizetype bytes)
{
    double const duration = DurationOf(bytes, mFormat);
    mReadTime += mForward ? duration : -duration;
}

void AudioOutputManager::FillPendingBuffer(int bytesFree)
{
    // Only what the sink takes is prepared, so nothing piles up at any speed.
    if (mPendingBuffer.size() >= bytesFree)
    {
        return;
    }
    float const multiplier = mStretcher->PlaybackMultiplier();
    if (multiplier == 1.0f)
    {
        ReadAudio(mPendingBuffer, bytesFree - static_cast<int>(mPendingBuffer.size()));
        return;
    }
    // The stretcher takes whole sample frames, about speed times what it
    // gives; after a reset it needs more before its first output.
    int const frameSize = SampleFrameSize(mFormat);
    QByteArray input;
    for (int pass = 0; pass < MAX_STRETCH_PASSES && mPendingBuffer.size() < bytesFree; ++pass)
    {
        auto const missing = static_cast<double>((bytesFree - mPendingBuffer.size()) / frameSize);
        long long const frames =
            std::max({std::llround(missing * multiplier), static_cast<long long>(mStretcher->SamplesRequired()), 1LL});
        ReadAudio(input, static_cast<int>(frames * frameSize));
        if (input.isEmpty())
        {
            return;
        }
        mStretcher->FillInputBuffer(input);
        mStretcher->Process();
        input.clear();
        mStretcher->FillOutputBuffer(mPendingBuffer);
    }
}

void AudioOutputManager::WritePendingBuffer()
{
    if (mPendingBuffer.isEmpty())
    {
        mOutput->Write(mOutput->SilenceByteArray());
        return;
    }
    long long const written = mOutput->Write(mPendingBuffer);
    if (written > 0)
    {
        mPendingBuffer.remove(0, static_cast<qsizetype>(written));
    }
}
