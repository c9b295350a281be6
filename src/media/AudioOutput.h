#pragma once

#include "media/AudioOutputFormat.h"

#include <QAudio>
#include <QAudioDevice>
#include <QByteArray>
#include <QObject>
#include <QString>

class QAudioSink;
class QIODevice;

// One audio sink on the default output device, written in push mode with
// interleaved 32-bit float samples. Volumes above 100 % are applied in software
// on a copy of what is written. A failure to start is logged once until the
// output starts again, so a missing device does not flood the log while the
// owner retries.
class AudioOutput : public QObject
{
    Q_OBJECT

public:
    // format: its task's copy.
    explicit AudioOutput(AudioOutputFormat const& format, QObject* parent = nullptr);
    // In the format as the settings say now: main thread only.
    explicit AudioOutput(QObject* parent = nullptr);
    // The sink is stopped and kept until it is safe to free (see Shutdown).
    ~AudioOutput() override;

    bool Start();
    // Stops the sink and lets it go; the next Start makes a new one. The
    // sound system may still answer an old sink's requests for a moment after
    // its stream closed, so the sink is freed only once a stream opened after
    // it is ready. Call on this object's thread.
    void Shutdown();
    // The volume (percent) and mute the sink and the software gain follow.
    void SetLevels(int volume, bool muted);
    void UpdateVolume();
    long long Write(QByteArray const& data);
    void Suspend();
    void Resume();
    void Reset();

    bool IsStarted() const;
    bool IsSuspended() const;
    bool IsStopped() const;
    bool IsIdle() const;
    bool IsActive() const;
    QAudio::State State() const;
    QString StateStr() const;
    QString ErrorStr() const;
    QString AudioDeviceName() const;
    int AudioDeviceChangedCount() const;
    int UnderrunErrorCount() const;
    bool FatalDeviceErrorEncountered() const;
    bool AudioOutputDeviceUpdateRequired() const;
    int BytesFree() const;
    int BytesUsed() const;
    int BufferSize() const;
    long long ProcessedUSecs() const;
    // What is written and not yet played: the stream's buffer and the
    // sink's own latency, as the server reports the played time.
    long long USecsToPlay() const;
    QByteArray const& SilenceByteArray() const;

Q_SIGNALS:
    void NotifyBytesFree(int bytes);
    void StateChanged(QAudio::State state);

public Q_SLOTS:
    void OnAudioOutputDevicesChanged();
    void OnStateChanged(QAudio::State state);
    void OnNotify();

private:
    void ReportFailure(QString const& message, bool warning);
    // Marks the device unusable and reports why; returns false for Start.
    bool Fail(QString const& message, bool warning);
    // Counts what a write took; returns it.
    long long Written(long long bytes);
    // Writes the silence a started or resumed stream begins with.
    void WriteLead();

    AudioOutputFormat const mFormat;
    // As the owner last set them (SetLevels).
    int mVolume = 100;
    bool mMuted = false;
    QAudioSink* mSink = nullptr;
    QIODevice* mDeviceStream = nullptr;
    QAudioDevice mDevice;
    QByteArray mSilence;
    bool mDevicesChanged = false;
    int mDevicesChangedCount = 0;
    long long mProcessedBase = 0;
    // Bytes written since the stream started.
    long long mWrittenBytes = 0;
    int mUnderrunCount = 0;
    bool mFatalDeviceError = false;
    // A failure was logged and the output has not started since.
    bool mFailureReported = false;
    // The sink's stream is closed: not started yet, or stopped or reset since.
    // The sink's own state cannot say so: a drain that the server finishes as
    // the stream closes is reported afterwards, from the sound system's thread,
    // as Idle, and the sink then asks its closed stream for free space and
    // aborts. Every call that reaches the stream checks this first.
    bool mStreamClosed = true;
};
