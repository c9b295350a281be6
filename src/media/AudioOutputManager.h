#pragma once

#include "media/AudioOutputFormat.h"
#include "media/AudioOutputLevels.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class AudioOutput;
class AudioOutputTimeline;
class AudioStretcher;
class Timeline;

// Plays a timeline's cached audio in step with its playback time. Every 10 ms
// it tops the sink up from the timeline's audio cache, straight at speed 1 and
// time-stretched otherwise, and now and then compares what the sink has played
// with the playback time, repositioning the audio when they drift apart.
// Paused, once nothing is left to write, the ticks rest until play, a scrub
// or a reset wakes them, and once the sink has played out what it held it is
// suspended too, which stops the sink's own timer; the next play resumes it.
// A long pause closes the sink's stream, and play opens a new one.
// Lives on the audio-output task's thread; the engine drives it through its
// slots (queued calls).
class AudioOutputManager : public QObject
{
    Q_OBJECT

public:
    // format: the copy its task was started with.
    AudioOutputManager(Timeline* timeline, AudioOutputFormat const& format, QObject* parent = nullptr);
    // In the format as the settings say now: main thread only.
    explicit AudioOutputManager(Timeline* timeline, QObject* parent = nullptr);

    long long ProcessedAudioDuration() const;
    // The engine front hands the timeline over through handover rather than
    // through SetTimeline; the one set there is taken at once.
    void SetTimelineHandover(std::shared_ptr<AudioOutputTimeline> handover);
    // Since construction, while playing: writes that came after the sink had
    // played all it held, and underruns the sink reported. Either means the
    // sound had a gap: this thread or the audio server was kept from feeding
    // it in time.
    int LateWriteCount() const;
    int UnderrunsWhilePlayingCount() const;

public Q_SLOTS:
    void SetTimeline(Timeline* timeline);
    // Plays whatever timeline was handed over last.
    void TakeHandedOverTimeline();
    void SetAudioPlaybackReady(bool ready);
    void UpdateAudioOutputState(bool playing, bool forward, long long scrubDuration, float speed);
    // The volume, mute and backward sound, copied from the settings on the
    // main thread.
    void SetLevels(AudioOutputLevels const& levels);
    void ClearAndResetAudioData();
    void ResetAudioOutputDevice(QString const& reason);
    void ResetAudioData();
    void ResetSyncThresholdVariables(bool resetSyncBase);
    void LogInfo();

private Q_SLOTS:
    void WriteToAudioOutput();
    // The ticks still rest: the sink, played out, is suspended, and after a
    // longer rest its stream is closed.
    void QuietRestingOutput();

private:
    // Starts the ticks again after they rested (paused, or a scrub played
    // out), when there is a timeline to play.
    void WakeTicks();
    // Stops the ticks; the sink is quieted once what it holds is heard.
    void RestTicks();
    // The scrubbed frame's audio is all written and played: the sink holds
    // only the silence after it.
    bool ScrubPlayedOut() const;
    // Takes a timeline handed over since the last look; the hand-over's
    // mutex is held.
    void TakeHandoverLocked();
    // Backwards, audio plays only when the settings ask for it (scrubs always).
    bool ReadsAudio() const;
    bool PrepareOutput();
    void SyncAudioOutput();
    void FillPendingBuffer(int bytesFree);
    // After a reset: cuts what is already late from the pending audio; true
    // when it did.
    bool DropLateAudio();
    // Appends audio from the timeline's read position and moves the position;
    // playing a loop forward, at the loop's end the reading goes on from its
    // start, before the clock wraps, so that the sink never runs dry there.
    void ReadAudio(QByteArray& buffer, int bytes);
    void ReadAudioStraight(QByteArray& buffer, int bytes);
    // The clock wrapped after the reading had: the drift check counts on from
    // the loop's start. False when there was no such wrap to take.
    bool TakeClockWrap();
    void AdvanceReadTime(qsizetype bytes);
    void WritePendingBuffer();
    // Before and after a write while playing: counts it late when the sink
    // ran dry since the last one, and the underruns reported meanwhile.
    void CheckWriteInTime();
    void NoteWrite();
    // The sink's played time in timeline time: scaled by the speed and signed
    // by the direction.
    double HeardDuration() const;

    Timeline* mTimeline = nullptr;
    // Set once before use; guards itself. What it held when last taken:
    std::shared_ptr<AudioOutputTimeline> mHandover;
    unsigned long long mHandoverTaken = 0;
    QTimer mTimer {this};
    // Single-shot, while the ticks rest: until the sink has played what it
    // held, then until its stream is closed.
    QTimer mRestTimer {this};
    AudioOutputFormat const mFormat; // fixed at construction
    AudioOutput* mOutput = nullptr;
    QByteArray mPendingBuffer;
    long long mScrubDuration = -1;
    bool mScrubFilled = false;
    // Bytes of silence appended after the scrubbed frame's audio.
    qsizetype mScrubPadding = 0;
    bool mPlaying = false;
    bool mForward = true;
    AudioOutputLevels mLevels;
    bool mPlaybackReady = false;
    AudioStretcher* mStretcher = nullptr;
    long long mSyncBase = 0;
    long long mLastSyncTime = -1;
    long long mDriftSum = 0;
    int mDriftSamples = 0;
    bool mResetRequested = false;
    // Timeline time of the next audio to be read from the cache, µs.
    double mReadTime = 0.0;
    // The reading wrapped to the loop's start, and the clock has not yet:
    // the clock's time then, and the length of the loop (µs).
    bool mReadWrapped = false;
    long long mClockAtReadWrap = 0;
    long long mLoopLength = 0;
    // Since the last reset in continuous play, until its first audio is
    // prepared; and how long the sink still had to play then, µs.
    QElapsedTimer mResetClock;
    double mQueuedAtReset = 0.0;
    // Runs while the device is unusable, to try it again now and then.
    QElapsedTimer mDeviceRetryTimer;
    // Since the last write of the play under way (invalid between plays and
    // after a reset), and what the sink had to play after it, µs.
    QElapsedTimer mSinceWrite;
    long long mQueuedAtWrite = 0;
    int mLateWrites = 0;
    // The sink's underrun count when last looked at, and the underruns
    // reported while playing.
    int mUnderrunsSeen = 0;
    int mUnderrunsWhilePlaying = 0;
};
