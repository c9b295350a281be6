#include "BenchSound.h"

#include "BenchPicture.h"
#include "BenchSession.h"
#include "FfmpegReference.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/LoopState.h"
#include "media/VideoFrame.h"
#include "model/Source.h"
#include "model/Timeline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace
{

int const SETTLE_TIMEOUT_MS = 60000;
int const RATE = 48000;
int const CHANNELS = 2;
// A sample frame is silent when every channel stays below this: a tone never
// does for long (a 440 Hz sine crosses zero in well under a millisecond).
float const SILENCE_LEVEL = 1e-4f;
// Silence shorter than this is not heard as a gap.
double const GAP_MINIMUM_MS = 5.0;

// What the null sink plays, from its monitor source.
class MonitorRecording
{
public:
    bool Start()
    {
        QObject::connect(&mProcess, &QProcess::readyReadStandardOutput, &mProcess,
                         [this] { mData += mProcess.readAllStandardOutput(); });
        mProcess.start("parec", {"--device=nullsink.monitor", "--format=float32le", "--rate=48000",
                                 "--channels=2", "--raw", "--latency-msec=10"});
        return mProcess.waitForStarted(5000) &&
               BenchSession::WaitFor([this] { return mData.size() >= 4800; }, 5000);
    }

    qsizetype Frames() const { return mData.size() / (CHANNELS * static_cast<qsizetype>(sizeof(float))); }

    std::vector<float> Stop()
    {
        mProcess.terminate();
        mProcess.waitForFinished(5000);
        mData += mProcess.readAllStandardOutput();
        std::vector<float> samples(static_cast<size_t>(Frames()) * CHANNELS);
        std::memcpy(samples.data(), mData.constData(), samples.size() * sizeof(float));
        return samples;
    }

private:
    QProcess mProcess;
    QByteArray mData;
};

struct Gaps
{
    int count = 0;
    double longestMs = 0.0;
    double soundMs = 0.0; // from the first sound to the last
    QList<double> atMs;   // where the first few start, from the first sound
};

// Runs of silence between the first sound heard and the last, from frame
// `from` of the recording on.
Gaps FindGaps(std::vector<float> const& samples, qsizetype from)
{
    auto const frames = static_cast<qsizetype>(samples.size()) / CHANNELS;
    auto const silent = [&samples](qsizetype frame) {
        for (int channel = 0; channel < CHANNELS; ++channel)
        {
            if (std::fabs(samples[static_cast<size_t>(frame * CHANNELS + channel)]) >= SILENCE_LEVEL)
            {
                return false;
            }
        }
        return true;
    };
    qsizetype first = from;
    while (first < frames && silent(first))
    {
        ++first;
    }
    qsizetype last = frames - 1;
    while (last > first && silent(last))
    {
        --last;
    }
    Gaps gaps;
    gaps.soundMs = static_cast<double>(last - first) * 1000.0 / RATE;
    qsizetype run = 0;
    for (qsizetype frame = first; frame <= last; ++frame)
    {
        if (silent(frame))
        {
            ++run;
            continue;
        }
        double const ms = static_cast<double>(run) * 1000.0 / RATE;
        if (ms >= GAP_MINIMUM_MS)
        {
            ++gaps.count;
            gaps.longestMs = std::max(gaps.longestMs, ms);
            if (gaps.atMs.size() < 8)
            {
                gaps.atMs << static_cast<double>(frame - run - first) * 1000.0 / RATE;
            }
        }
        run = 0;
    }
    return gaps;
}

} // namespace

int RunSoundBench(BenchSession& session, Timeline* timeline, int first, int last, float speed, int seconds)
{
    last = std::min(last, timeline->EndFrame());
    first = std::max(first, 0);
    if (first >= last)
    {
        std::fprintf(stderr, "tessarin_bench: the range %d-%d does not fit the %d frames\n", first, last,
                     timeline->FrameCount());
        return 1;
    }
    if (timeline->SourcePtr()->AudioStreamCount() < 1)
    {
        std::fprintf(stderr, "tessarin_bench: the file has no sound\n");
        return 1;
    }
    AvManager& av = session.Av();
    timeline->SetPlaybackRangeByFrame(first, last);
    session.Show(timeline, timeline->TimeAtFrame(first, false), true);
    if (!session.WaitShown(SETTLE_TIMEOUT_MS))
    {
        std::fprintf(stderr, "tessarin_bench: frame %d was not shown\n", first);
        return 1;
    }
    MonitorRecording recording;
    if (!recording.Start())
    {
        std::fprintf(stderr, "tessarin_bench: no recording of the null sink (start "
                             "tests/support/start_audio_server.sh first)\n");
        return 1;
    }
    qsizetype const playFrom = recording.Frames();

    int handed = 0;
    int wraps = 0;
    long long previousTime = av.PlaybackTime();
    QObject guard;
    // Every new picture the engine delivers is shown (one that fell behind
    // the clock too: the newest stands in for those it passed).
    QObject::connect(&av, &AvManager::VideoFrameChanged, &guard,
                     [&handed, shown = std::shared_ptr<VideoFrame>()](int outputId, std::shared_ptr<VideoFrame> current,
                                                                     std::shared_ptr<VideoFrame>,
                                                                     std::shared_ptr<VideoFrame>) mutable {
                         if (outputId == 0 && current && current != shown)
                         {
                             shown = current;
                             ++handed;
                         }
                     });
    QObject::connect(&av, &AvManager::PlaybackTimeChanged, &guard, [&](long long time) {
        wraps += time < previousTime ? 1 : 0;
        previousTime = time;
    });
    float const clamped = std::clamp(speed, Settings::playbackSpeedMinimum, Settings::playbackSpeedMaximum);
    av.SetLoopState(LoopState::Loop);
    av.SetPlaybackSpeed(clamped);
    QElapsedTimer played;
    played.start();
    av.Play(true, false);
    BenchSession::WaitFor([] { return false; }, seconds * 1000);
    double const playedSeconds = static_cast<double>(played.nsecsElapsed()) / 1e9;
    av.Pause(DecodeBias::None);
    // What the sink still held plays out before the recording ends.
    BenchSession::WaitFor([] { return false; }, 300);
    Gaps const gaps = FindGaps(recording.Stop(), playFrom);
    std::shared_ptr<VideoFrame> const sample = session.Viewer().Shown();
    session.Close();

    Source const& source = *timeline->SourcePtr();
    QString const format = sample ? BenchPicture::FormatName(sample->pixelFormat) : QStringLiteral("yuv420p");
    FfmpegReference::DecodeRate const ffmpeg =
        FfmpegReference::MeasureDecodeRate(source, format, Settings::videoDecoderThreadCount);
    double const frameRate = timeline->FrameRateAtFrame(0, 0);
    std::printf("%s: %d frames at %.3f fps, range %d-%d looped at %.2fx for %.1f s, %d wraps\n",
                qPrintable(source.MediaName()), timeline->FrameCount(), frameRate, first, last, clamped,
                playedSeconds, wraps);
    std::printf("  ffmpeg decode     %8.1f fps  (%d frames in %.3f s; %s)\n", ffmpeg.FramesPerSecond(), ffmpeg.frames,
                ffmpeg.seconds, qPrintable(ffmpeg.command));
    std::printf("  pictures shown    %8.1f fps  (the clock wants %.1f)\n", handed / playedSeconds, frameRate * clamped);
    QStringList at;
    for (double ms : gaps.atMs)
    {
        at << QString::number(ms, 'f', 0);
    }
    std::printf("  sound gaps        %d, longest %.1f ms  (over %.0f ms of sound; aim: none)%s\n", gaps.count,
                gaps.longestMs, gaps.soundMs, at.isEmpty() ? "" : qPrintable(", first at ms " + at.join(' ')));
    std::fflush(stdout);
    return 0;
}
