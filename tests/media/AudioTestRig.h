#pragma once

// Shared by the audio output tests: generated audio in a timeline's cache, an
// AudioOutputManager on a thread of its own driven like the engine drives it,
// a playback clock, a capture of the null sink's monitor and measurements on
// what was captured. Audio is interleaved stereo 32-bit float at 48 kHz.

#include "model/ModelFixtures.h"
#include "support/ThreadCall.h"

#include "app/Logger.h"
#include "media/AudioFrame.h"
#include "media/AudioOutputManager.h"
#include "model/Timeline.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <unistd.h>

namespace AudioTestRig
{

int const RATE = 48000;
int const CHANNELS = 2;

using Samples = std::vector<float>; // interleaved

inline long long Frames(Samples const& samples)
{
    return static_cast<long long>(samples.size()) / CHANNELS;
}

// Writes a sine into [first, first + count) frames of both channels, or only
// of the given channel.
inline void AddTone(Samples& samples, double frequency, double amplitude, long long first, long long count,
                    int onlyChannel = -1)
{
    for (long long frame = first; frame < first + count && frame < Frames(samples); ++frame)
    {
        auto const value = static_cast<float>(amplitude * std::sin(2.0 * M_PI * frequency * (frame - first) / RATE));
        for (int channel = 0; channel < CHANNELS; ++channel)
        {
            if (onlyChannel < 0 || onlyChannel == channel)
            {
                samples[frame * CHANNELS + channel] = value;
            }
        }
    }
}

inline long long FrameAt(double seconds)
{
    return std::llround(seconds * RATE);
}

inline QByteArray ToBytes(Samples const& samples, long long first, long long count)
{
    return QByteArray(reinterpret_cast<char const*>(samples.data() + first * CHANNELS),
                      static_cast<qsizetype>(count * CHANNELS * sizeof(float)));
}

inline Samples FromBytes(QByteArray const& bytes)
{
    Samples samples(static_cast<size_t>(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

// A parsed-looking 24 fps source timeline whose audio cache holds the samples
// in blocks of 1024 frames from time 0, with a cache large enough for them.
inline std::unique_ptr<Timeline> MakeTimeline(Samples const& samples)
{
    auto timeline = std::make_unique<Timeline>(ModelFixtures::MissingMoviePath(QStringLiteral("audio")), QString(),
                                               QUuid::createUuid(), nullptr);
    double const seconds = static_cast<double>(Frames(samples)) / RATE;
    ModelFixtures::FakeParsedMovie(timeline->SourcePtr(), 24.0, static_cast<int>(std::ceil(seconds * 24.0)), true);
    // The audio budget is 1.2 % of the cache size.
    auto const bytes = static_cast<double>(samples.size() * sizeof(float));
    timeline->SetCacheSize(static_cast<int>(bytes / 0.012 / 1e6) + 256);
    long long const block = 1024;
    for (long long first = 0; first < Frames(samples); first += block)
    {
        long long const count = std::min(block, Frames(samples) - first);
        long long const start = first * 1000000 / RATE;
        long long const end = (first + count) * 1000000 / RATE - 1;
        QByteArray const bytes = ToBytes(samples, first, count);
        auto frame = std::make_shared<AudioFrame>(bytes.size(), start, end, count, false);
        frame->data = bytes;
        timeline->CacheAudioFrame(frame);
    }
    return timeline;
}

// The manager on a thread of its own, as the audio-output task runs it.
class ManagerThread
{
public:
    ManagerThread()
    {
        mContext.moveToThread(&mThread);
        mThread.start();
        // The levels the test set, copied here as the engine front copies
        // them for the audio-output task.
        AudioOutputLevels const levels = AudioOutputLevels::FromSettings();
        Run([this, levels] {
            mManager = new AudioOutputManager(nullptr);
            mManager->SetLevels(levels);
        });
    }

    ~ManagerThread()
    {
        Run([this] { delete mManager; });
        mThread.quit();
        mThread.wait();
    }

    void Run(std::function<void()> const& call)
    {
        mContext.Run(call);
    }

    AudioOutputManager* Manager() const
    {
        return mManager;
    }

    // One line of the manager's diagnostic block (LogInfo), e.g. "Audio
    // Output State".
    QString Info(QString const& name)
    {
        QString text;
        auto connection = QObject::connect(Logger::GetInstance(), &Logger::OutputLogged, &mContext,
                                           [&text](QString const& message) { text += message; });
        Run([this] { mManager->LogInfo(); });
        QObject::disconnect(connection);
        qsizetype const at = text.indexOf(name + QStringLiteral(": "));
        return at < 0 ? QString() : text.mid(at + name.size() + 2).section(QLatin1Char('\n'), 0, 0);
    }

private:
    QThread mThread;
    ThreadCall mContext;
    AudioOutputManager* mManager = nullptr;
};

// One time base for the clock and the capture, in seconds.
inline double WallSeconds()
{
    static QElapsedTimer const timer = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

// Moves a timeline's playback time with the wall clock, as the playback clock
// does, while the event loop turns (the capture must be read meanwhile).
// Calls tick, when given, about every 10 ms. Returns when it started
// (WallSeconds). worstStall, when given, is raised to the longest time (ms)
// this thread was kept from turning the loop: how long the machine starved
// the process meanwhile.
inline double RunClock(Timeline* timeline, double speed, bool forward, int wallMs,
                       std::function<void()> const& tick = {}, double* worstStall = nullptr)
{
    long long const start = timeline->PlaybackTime();
    double const started = WallSeconds();
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 lastTick = 0;
    while (elapsed.elapsed() < wallMs)
    {
        auto const moved = static_cast<long long>(static_cast<double>(elapsed.nsecsElapsed()) / 1000.0 * speed);
        timeline->SetPlaybackTime(std::max(0LL, forward ? start + moved : start - moved));
        if (tick && elapsed.elapsed() - lastTick >= 10)
        {
            lastTick = elapsed.elapsed();
            tick();
        }
        // The clock moves with the wall clock; events are let in meanwhile.
        // The wait is what the machine lengthens: the tick's own work is not.
        qint64 const waitStart = elapsed.nsecsElapsed();
        QTest::qWait(1);
        if (worstStall)
        {
            *worstStall = std::max(*worstStall, static_cast<double>(elapsed.nsecsElapsed() - waitStart) / 1e6 - 1.0);
        }
    }
    return started;
}

// Longer than this (ms) without a turn of the clock's loop, the machine has
// starved the process for most of what the sink holds (about 40 ms): the
// clock the audio follows stood still, and what was heard says nothing about
// the player's timing.
double const STARVED_MS = 30.0;

// The share of a take's time (0..1) a thread of the audio server may spend
// waiting for a processor before the take says nothing about the player: the
// server then cannot keep up with the sink and its monitor, however soon
// each single wait ends.
double const STARVED_WAIT_SHARE = 0.15;

// How long (ns) each thread of a process has waited for a processor while
// it could run, by thread id, from /proc/<pid>/task/<tid>/schedstat.
inline std::map<QString, long long> RunQueueWaits(QString const& pid)
{
    std::map<QString, long long> waits;
    QDir const tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (QString const& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
    {
        QFile stat(tasks.filePath(tid + QStringLiteral("/schedstat")));
        if (stat.open(QIODevice::ReadOnly))
        {
            QList<QByteArray> const fields = stat.readAll().simplified().split(' ');
            if (fields.size() >= 2)
            {
                waits[tid] = fields[1].toLongLong();
            }
        }
    }
    return waits;
}

// The test audio server's process id, from the file it keeps in its runtime
// directory; empty when there is none.
inline QString AudioServerPid()
{
    QFile file(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/pulse/pid"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed()) : QString();
}

// How long the audio server's threads waited for a processor while they could
// run, from the start (the kernel's count, read at the start and on asking).
class ServerWaitProbe
{
public:
    ServerWaitProbe()
        : mServerPid(AudioServerPid())
        , mWaits(mServerPid.isEmpty() ? std::map<QString, long long>() : RunQueueWaits(mServerPid))
    {
        mElapsed.start();
    }

    // The largest share of the time since the start that one thread of the
    // server spent waiting.
    double WaitShare() const
    {
        double const elapsed = static_cast<double>(mElapsed.nsecsElapsed());
        if (elapsed <= 0.0 || mServerPid.isEmpty())
        {
            return 0.0;
        }
        long long worst = 0;
        for (auto const& [tid, wait] : RunQueueWaits(mServerPid))
        {
            auto const found = mWaits.find(tid);
            worst = std::max(worst, wait - (found == mWaits.end() ? 0 : found->second));
        }
        return static_cast<double>(worst) / elapsed;
    }

private:
    QString const mServerPid;
    std::map<QString, long long> const mWaits;
    QElapsedTimer mElapsed;
};

// When each frame of a capture was played (WallSeconds), as a line through
// the earliest-arriving reads near its start and near its end: the monitor
// delivers a few milliseconds late, never early, and the sink's clock may run
// a little off the wall clock.
struct CaptureTimes
{
    double offset = 0.0; // wall time of frame 0
    double drift = 0.0;  // wall seconds gained per second of frames

    double PlayedAt(long long frame) const
    {
        double const seconds = static_cast<double>(frame) / RATE;
        return offset + seconds * (1.0 + drift);
    }
};

// What the null sink plays, read from its monitor source while the event loop
// turns.
class Capture
{
public:
    Capture()
    {
        QObject::connect(&mProcess, &QProcess::readyReadStandardOutput, &mProcess, [this] {
            mData += mProcess.readAllStandardOutput();
            double const seconds = static_cast<double>(mData.size()) / (CHANNELS * sizeof(float)) / RATE;
            mReads.push_back({seconds, WallSeconds() - seconds});
        });
    }

    bool Start()
    {
        mProcess.start(QStringLiteral("parec"),
                       {QStringLiteral("--device=nullsink.monitor"), QStringLiteral("--format=float32le"),
                        QStringLiteral("--rate=48000"), QStringLiteral("--channels=2"), QStringLiteral("--raw"),
                        QStringLiteral("--latency-msec=10")});
        if (!mProcess.waitForStarted(5000))
        {
            return false;
        }
        // Wait for the stream to flow, so nothing played from here is missed.
        return QTest::qWaitFor([this] { return mData.size() >= 4800; }, 5000);
    }

    // What has been captured so far.
    Samples Peek() const
    {
        return FromBytes(mData);
    }

    Samples Stop()
    {
        mProcess.terminate();
        mProcess.waitForFinished(5000);
        mData += mProcess.readAllStandardOutput();
        return FromBytes(mData);
    }

    CaptureTimes Times() const
    {
        CaptureTimes times;
        if (mReads.size() < 2)
        {
            return times;
        }
        // The earliest arrival within the first and within the last fifth.
        double const span = mReads.back().seconds;
        Read first {0.0, 1e300};
        Read last {0.0, 1e300};
        for (Read const& read : mReads)
        {
            if (read.seconds < span * 0.2 && read.offset < first.offset)
            {
                first = read;
            }
            if (read.seconds > span * 0.8 && read.offset < last.offset)
            {
                last = read;
            }
        }
        times.drift = last.seconds > first.seconds ? (last.offset - first.offset) / (last.seconds - first.seconds) : 0.0;
        times.offset = first.offset - first.seconds * times.drift;
        return times;
    }

private:
    struct Read
    {
        double seconds; // captured so far
        double offset;  // arrival wall time minus that
    };

    QProcess mProcess;
    QByteArray mData;
    std::vector<Read> mReads;
};

// How much of this process's sound the audio server holds, in µs: the buffer
// and sink latency that `pactl list sink-inputs` reports for its stream(s)
// (the largest when several); -1 when it could not be read. The event loop
// turns while pactl runs.
inline long long ServerHeldSound()
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")});
    if (!pactl.waitForStarted(5000) ||
        !QTest::qWaitFor([&pactl] { return pactl.state() == QProcess::NotRunning; }, 5000))
    {
        return -1;
    }
    QString const pid = QStringLiteral("application.process.id = \"%1\"").arg(QCoreApplication::applicationPid());
    long long held = -1;
    for (QString const& block : QString::fromUtf8(pactl.readAllStandardOutput()).split(QStringLiteral("Sink Input #")))
    {
        if (!block.contains(pid))
        {
            continue;
        }
        long long latency = 0;
        for (QString const& name : {QStringLiteral("Buffer Latency: "), QStringLiteral("Sink Latency: ")})
        {
            qsizetype const at = block.indexOf(name);
            latency += at < 0 ? 0 : block.mid(at + name.size()).section(QLatin1Char(' '), 0, 0).toLongLong();
        }
        held = std::max(held, latency);
    }
    return held;
}

// One run of sound in a capture: from the first to the last frame louder than
// the threshold.
struct Span
{
    long long first = -1;
    long long last = -1;
    long long Length() const
    {
        return first < 0 ? 0 : last - first + 1;
    }
};

inline Span Loud(Samples const& samples, int channel, long long from = 0, long long to = -1, float threshold = 0.02f)
{
    Span span;
    long long const end = to < 0 ? Frames(samples) : std::min(to, Frames(samples));
    for (long long frame = std::max(0LL, from); frame < end; ++frame)
    {
        if (std::fabs(samples[frame * CHANNELS + channel]) > threshold)
        {
            if (span.first < 0)
            {
                span.first = frame;
            }
            span.last = frame;
        }
    }
    return span;
}

// Runs of sound separated by at least minGap frames of quiet.
inline std::vector<Span> Bursts(Samples const& samples, int channel, long long minGap, float threshold = 0.02f)
{
    std::vector<Span> bursts;
    for (long long frame = 0; frame < Frames(samples); ++frame)
    {
        if (std::fabs(samples[frame * CHANNELS + channel]) <= threshold)
        {
            continue;
        }
        if (bursts.empty() || frame - bursts.back().last > minGap)
        {
            bursts.push_back({frame, frame});
        }
        bursts.back().last = frame;
    }
    return bursts;
}

// Frequency from the median period between rising zero crossings in
// [first, first + count), interpolated between samples; 0 when fewer than two
// are found. The median keeps a single splice (a drift correction skipping a
// few milliseconds on a loaded machine) from reading as a change of pitch.
inline double Frequency(Samples const& samples, int channel, long long first, long long count)
{
    std::vector<double> periods;
    double previousCrossing = -1.0;
    long long const end = std::min(first + count, Frames(samples));
    for (long long frame = std::max(1LL, first); frame < end; ++frame)
    {
        float const before = samples[(frame - 1) * CHANNELS + channel];
        float const after = samples[frame * CHANNELS + channel];
        if (before < 0.0f && after >= 0.0f)
        {
            double const at = static_cast<double>(frame - 1) + before / (before - after);
            if (previousCrossing >= 0.0)
            {
                periods.push_back(at - previousCrossing);
            }
            previousCrossing = at;
        }
    }
    if (periods.empty())
    {
        return 0.0;
    }
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    return RATE / periods[periods.size() / 2];
}

inline double Rms(Samples const& samples, int channel, long long first, long long count)
{
    double sum = 0.0;
    long long const end = std::min(first + count, Frames(samples));
    for (long long frame = first; frame < end; ++frame)
    {
        sum += static_cast<double>(samples[frame * CHANNELS + channel]) * samples[frame * CHANNELS + channel];
    }
    return end > first ? std::sqrt(sum / static_cast<double>(end - first)) : 0.0;
}

inline float Peak(Samples const& samples)
{
    float peak = 0.0f;
    for (float sample : samples)
    {
        peak = std::max(peak, std::fabs(sample));
    }
    return peak;
}

} // namespace AudioTestRig
