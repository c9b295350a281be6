#include "media/AudioOutput.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvHelpers.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QList>
#include <QMediaDevices>
#include <QMutex>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <utility>

namespace
{
// PulseAudio grants about three quarters of what is asked (15000 bytes, 39 ms,
// here). Less leaves the sink so little that one late tick, or the stretcher
// warming up after a reset, runs it dry.
int const SINK_BUFFER_SIZE = 20000; // bytes
long long const START_LEAD = 5000; // µs
int const FIRST_BOOSTED_VOLUME = 101;
double const BOOST_FACTOR = 1.5;

// Stopped sinks that may not be freed yet. The sound system's sink asks the
// server to drain its stream whenever the stream runs dry, and the answer
// comes back on the sound system's own thread to the sink that asked. Closing
// the stream leaves such a request standing until the server has confirmed
// the close: a sink freed before then is written to, and crashes the program,
// when a drain the server finished just before the close is answered. The
// server answers in order, so once a stream opened later is ready, every
// close asked for before it is confirmed and its sink may go. Any thread;
// guarded by RetiredSinksMutex(). Never destroyed: what is left at exit stays.
QMutex& RetiredSinksMutex()
{
    static auto* mutex = new QMutex;
    return *mutex;
}

QList<QAudioSink*>& RetiredSinks()
{
    static auto* sinks = new QList<QAudioSink*>;
    return *sinks;
}

// On the sink's thread: stops it and keeps it, on no thread, until it is safe
// to free.
void RetireSink(QAudioSink* sink)
{
    sink->stop();
    sink->moveToThread(nullptr);
    QMutexLocker const locker(&RetiredSinksMutex());
    RetiredSinks().append(sink);
}

QList<QAudioSink*> TakeRetiredSinks()
{
    QMutexLocker const locker(&RetiredSinksMutex());
    return std::exchange(RetiredSinks(), {});
}

void ReturnRetiredSinks(QList<QAudioSink*> const& sinks)
{
    QMutexLocker const locker(&RetiredSinksMutex());
    RetiredSinks().append(sinks);
}

// Frees sinks retired before a stream that is now open was asked for. Later,
// from this thread's event loop: the sink's destructor runs the thread's
// pending events.
void FreeRetiredSinks(QList<QAudioSink*> const& sinks)
{
    for (QAudioSink* sink : sinks)
    {
        sink->moveToThread(QThread::currentThread());
        sink->deleteLater();
    }
}
} // namespace

AudioOutput::AudioOutput(QObject* parent)
    : AudioOutput(AudioOutputFormat::FromSettings(), parent)
{
}

AudioOutput::AudioOutput(AudioOutputFormat const& format, QObject* parent)
    : QObject(parent)
    , mFormat(format)
    , mDevice(QMediaDevices::defaultAudioOutput())
{
    auto* devices = new QMediaDevices(this);
    connect(devices, &QMediaDevices::audioOutputsChanged, this, &AudioOutput::OnAudioOutputDevicesChanged);
}

AudioOutput::~AudioOutput()
{
    Shutdown();
}

void AudioOutput::ReportFailure(QString const& message, bool warning)
{
    // A failed restart reports the same trouble again: only the first is news.
    if (mFailureReported)
    {
        return;
    }
    mFailureReported = true;
    if (warning)
    {
        Logger::GetInstance()->Warning(message);
    }
    else
    {
        Logger::GetInstance()->Error(message);
    }
}

bool AudioOutput::Fail(QString const& message, bool warning)
{
    mFatalDeviceError = true;
    ReportFailure(message, warning);
    return false;
}

bool AudioOutput::Start()
{
    if (!mSink)
    {
        QAudioFormat format;
        format.setSampleFormat(QAudioFormat::Float);
        format.setSampleRate(mFormat.sampleRate);
        format.setChannelCount(mFormat.channelCount);
        format.setChannelConfig(QAudioFormat::ChannelConfigStereo);
        mDevice = QMediaDevices::defaultAudioOutput();
        if (mDevice.isNull())
        {
            return Fail(QStringLiteral("Audio output device not found"), true);
        }
        if (!mDevice.isFormatSupported(format))
        {
            return Fail(QStringLiteral("Unsupported audio output format for device: %1").arg(mDevice.description()),
                        false);
        }
        // Without a parent: the sink, and the sound system's part of it,
        // which may take the sink's parent as its own, outlive this object
        // until they are safe to free (see RetireSink).
        mSink = new QAudioSink(mDevice, format);
        mSink->setBufferSize(SINK_BUFFER_SIZE);
        connect(mSink, &QAudioSink::stateChanged, this, &AudioOutput::OnStateChanged);
        mSilence = QByteArray(mSink->bufferSize(), '\0');
        UpdateVolume();
    }
    mProcessedBase = 0;
    // Taken before the new stream is asked for: only their closes are surely
    // confirmed once it is open.
    QList<QAudioSink*> const retired = TakeRetiredSinks();
    // Without a server start() fails at once and emits nothing: check here.
    mDeviceStream = mSink->start();
    mStreamClosed = !mDeviceStream;
    if (!mDeviceStream)
    {
        ReturnRetiredSinks(retired);
        return Fail(QStringLiteral("Failed to initialize audio output device: %1").arg(mDevice.description()), false);
    }
    FreeRetiredSinks(retired);
    mFailureReported = false;
    mWrittenBytes = 0;
    WriteLead();
    return true;
}

void AudioOutput::WriteLead()
{
    // The server skips the first moments of a new stream, and of a resumed
    // one, which it starts at once however little it holds: let that be
    // silence rather than the start of the audio.
    auto const lead = static_cast<qsizetype>(AvHelpers::AudioOutputSizeForDuration(START_LEAD, mFormat));
    Written(mDeviceStream->write(QByteArray(lead, '\0')));
}

void AudioOutput::Shutdown()
{
    if (mSink)
    {
        disconnect(mSink, nullptr, this, nullptr);
        RetireSink(mSink);
    }
    mSink = nullptr;
    mStreamClosed = true;
    mDeviceStream = nullptr;
    mUnderrunCount = 0;
    mFatalDeviceError = false;
    mDevicesChanged = false;
}

void AudioOutput::SetLevels(int volume, bool muted)
{
    mVolume = volume;
    mMuted = muted;
    UpdateVolume();
}

void AudioOutput::UpdateVolume()
{
    if (!mSink)
    {
        return;
    }
    if (mMuted)
    {
        mSink->setVolume(0.0);
        return;
    }
    mSink->setVolume(QAudio::convertVolume(mVolume / 100.0, QAudio::LogarithmicVolumeScale,
                                           QAudio::LinearVolumeScale));
}

long long AudioOutput::Written(long long bytes)
{
    mWrittenBytes += std::max(0LL, bytes);
    return bytes;
}

long long AudioOutput::Write(QByteArray const& data)
{
    if (!mDeviceStream || IsStopped())
    {
        return 0;
    }
    // The stream takes whatever it is given, however much the server already
    // holds: only what the sink has room for is written, in whole sample
    // frames, so that what is queued stays a few ticks' worth.
    auto const frameSize = static_cast<qsizetype>(AvHelpers::AudioOutputFrameSize(mFormat));
    qsizetype const size = std::min<qsizetype>(data.size(), BytesFree()) / frameSize * frameSize;
    if (size < 1)
    {
        return 0;
    }
    if (mVolume < FIRST_BOOSTED_VOLUME || mMuted)
    {
        return Written(mDeviceStream->write(data.constData(), size));
    }
    // Above 100 % the sink is at full volume and the rest is a software gain.
    float const gain = static_cast<float>(mVolume / 100.0 * BOOST_FACTOR);
    QByteArray boosted(size, Qt::Uninitialized);
    qsizetype const samples = size / static_cast<qsizetype>(sizeof(float));
    for (qsizetype i = 0; i < samples; ++i)
    {
        float sample = 0.0f;
        std::memcpy(&sample, data.constData() + i * sizeof(float), sizeof(float));
        sample *= gain;
        std::memcpy(boosted.data() + i * sizeof(float), &sample, sizeof(float));
    }
    return Written(mDeviceStream->write(boosted));
}

void AudioOutput::Suspend()
{
    if (IsStarted())
    {
        mSink->suspend();
    }
}

void AudioOutput::Resume()
{
    if (IsSuspended())
    {
        mProcessedBase = mSink->processedUSecs();
        mSink->resume();
        WriteLead();
    }
}

void AudioOutput::Reset()
{
    if (mSink && !IsStopped())
    {
        mSink->reset();
        mStreamClosed = true;
    }
}

bool AudioOutput::IsStarted() const
{
    return IsActive() || IsIdle();
}

bool AudioOutput::IsSuspended() const
{
    return State() == QAudio::SuspendedState;
}

bool AudioOutput::IsStopped() const
{
    return State() == QAudio::StoppedState;
}

bool AudioOutput::IsIdle() const
{
    return State() == QAudio::IdleState;
}

bool AudioOutput::IsActive() const
{
    return State() == QAudio::ActiveState;
}

QAudio::State AudioOutput::State() const
{
    return mSink && !mStreamClosed ? mSink->state() : QAudio::StoppedState;
}

QString AudioOutput::StateStr() const
{
    switch (State())
    {
    case QAudio::ActiveState:
        return QStringLiteral("Active");
    case QAudio::SuspendedState:
        return QStringLiteral("Suspended");
    case QAudio::StoppedState:
        return QStringLiteral("Stopped");
    case QAudio::IdleState:
        return QStringLiteral("Idle");
    }
    return QStringLiteral("Unknown");
}

QString AudioOutput::ErrorStr() const
{
    switch (mSink ? mSink->error() : QAudio::NoError)
    {
    case QAudio::NoError:
        return QStringLiteral("NoError");
    case QAudio::OpenError:
        return QStringLiteral("OpenError");
    case QAudio::IOError:
        return QStringLiteral("IOError");
    case QAudio::UnderrunError:
        return QStringLiteral("UnderrunError");
    case QAudio::FatalError:
        return QStringLiteral("FatalError");
    }
    return QStringLiteral("Unknown");
}

QString AudioOutput::AudioDeviceName() const
{
    return mDevice.isNull() ? QString() : mDevice.description();
}

int AudioOutput::AudioDeviceChangedCount() const
{
    return mDevicesChangedCount;
}

int AudioOutput::UnderrunErrorCount() const
{
    return mUnderrunCount;
}

bool AudioOutput::FatalDeviceErrorEncountered() const
{
    return mFatalDeviceError;
}

bool AudioOutput::AudioOutputDeviceUpdateRequired() const
{
    return mDevicesChanged;
}

int AudioOutput::BytesFree() const
{
    return IsStarted() ? static_cast<int>(mSink->bytesFree()) : 0;
}

int AudioOutput::BytesUsed() const
{
    return mSink ? BufferSize() - BytesFree() : 0;
}

int AudioOutput::BufferSize() const
{
    return mSink ? static_cast<int>(mSink->bufferSize()) : 0;
}

long long AudioOutput::ProcessedUSecs() const
{
    return mSink ? mSink->processedUSecs() - mProcessedBase : 0;
}

long long AudioOutput::USecsToPlay() const
{
    if (!mSink || IsStopped())
    {
        return 0;
    }
    // The free space the stream reports lags the server's requests, and
    // leaves the sink's latency out: the played time does neither.
    return std::max(0LL, AvHelpers::AudioOutputDurationForSize(mWrittenBytes, mFormat) - mSink->processedUSecs());
}

QByteArray const& AudioOutput::SilenceByteArray() const
{
    return mSilence;
}

void AudioOutput::OnAudioOutputDevicesChanged()
{
    mDevicesChanged = true;
    ++mDevicesChangedCount;
}

void AudioOutput::OnStateChanged(QAudio::State state)
{
    if (state == QAudio::StoppedState)
    {
        // However it stopped (a reset, a lost server), the stream is gone; a
        // start reports Stopped before it opens the new one.
        mStreamClosed = true;
    }
    else if (mStreamClosed)
    {
        // Late news of the stream closed since.
        return;
    }
    QAudio::Error const error = mSink ? mSink->error() : QAudio::NoError;
    if (error == QAudio::UnderrunError)
    {
        ++mUnderrunCount;
    }
    else if (error != QAudio::NoError)
    {
        ReportFailure(QStringLiteral("Audio Output Error: %1").arg(ErrorStr()), false);
    }
    if (state == QAudio::IdleState && IsIdle() && BytesFree() == 0)
    {
        Reset();
    }
    Q_EMIT StateChanged(state);
}

void AudioOutput::OnNotify()
{
    int const bytes = BytesFree();
    if (bytes >= 1)
    {
        Q_EMIT NotifyBytesFree(bytes);
    }
}
