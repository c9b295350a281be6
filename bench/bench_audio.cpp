// CPU time the audio-output thread spends per second of audio at each playback
// speed: at 1x the audio is copied from the timeline's cache, otherwise it is
// also time-stretched. Each tick takes what a 10 ms tick of a sink draining in
// real time takes: 10 ms of output, speed times that of input. Times are the
// thread's own CPU time (CLOCK_THREAD_CPUTIME_ID); a busy machine still
// raises them, as its cores share caches.

#include "app/Settings.h"
#include "media/AudioFrame.h"
#include "media/AudioStretcher.h"
#include "media/AvHelpers.h"
#include "model/Timeline.h"

#include <QCoreApplication>
#include <QUuid>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

namespace
{
int const RATE = 48000;
int const CHANNELS = 2;
int const FRAME_BYTES = CHANNELS * 4;
double const SECONDS_OF_OUTPUT = 20.0;
int const TICK_FRAMES = RATE / 100;

double ThreadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A timeline whose audio cache holds the given length of two tones (440 Hz
// left, 660 Hz right) in blocks of 1024 frames, as a decoder would leave it.
std::unique_ptr<Timeline> MakeTimeline(double seconds)
{
    auto timeline = std::make_unique<Timeline>(QStringLiteral("/nonexistent/bench.wav"), QString(),
                                               QUuid::createUuid(), nullptr);
    long long const total = std::llround(seconds * RATE);
    timeline->SetCacheSize(static_cast<int>(static_cast<double>(total) * FRAME_BYTES / 0.012 / 1e6) + 256);
    for (long long first = 0; first < total; first += 1024)
    {
        long long const count = std::min(1024LL, total - first);
        auto frame = std::make_shared<AudioFrame>(count * FRAME_BYTES, first * 1000000 / RATE,
                                                  (first + count) * 1000000 / RATE - 1, count, false);
        auto* samples = reinterpret_cast<float*>(frame->data.data());
        for (long long i = 0; i < count; ++i)
        {
            samples[i * 2] = static_cast<float>(0.3 * std::sin(2.0 * M_PI * 440.0 * (first + i) / RATE));
            samples[i * 2 + 1] = static_cast<float>(0.3 * std::sin(2.0 * M_PI * 660.0 * (first + i) / RATE));
        }
        timeline->CacheAudioFrame(frame);
    }
    return timeline;
}

// CPU seconds per second of output at one speed.
double Measure(float speed)
{
    auto timeline = MakeTimeline(SECONDS_OF_OUTPUT * speed + 1.0);
    AudioStretcher stretcher;
    stretcher.SetPlaybackMultiplier(speed);
    QByteArray discarded;
    AudioOutputFormat const format = AudioOutputFormat::FromSettings();
    timeline->ResetAudioBuffer(discarded, 0, format);
    stretcher.Reset();

    QByteArray input;
    long long outputBytes = 0;
    int const ticks = static_cast<int>(SECONDS_OF_OUTPUT * 100.0);
    double const start = ThreadCpuSeconds();
    for (int tick = 0; tick < ticks; ++tick)
    {
        auto const frames = static_cast<int>(std::lround(TICK_FRAMES * speed));
        timeline->FillAudioBufferBySize(input, frames * FRAME_BYTES, true, format);
        if (speed != 1.0f)
        {
            stretcher.FillInputBuffer(input);
            stretcher.Process();
            input.clear();
            stretcher.FillOutputBuffer(input);
        }
        outputBytes += input.size();
        input.clear();
    }
    double const cpu = ThreadCpuSeconds() - start;
    double const outputSeconds = static_cast<double>(outputBytes) / FRAME_BYTES / RATE;
    return cpu / outputSeconds;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Settings::audioOutputSampleRate = RATE;
    Settings::audioOutputChannelCount = CHANNELS;
    std::printf("Audio output thread CPU per second of played audio (%.0f s each, 10 ms ticks)\n", SECONDS_OF_OUTPUT);
    for (float speed : {1.0f, 0.5f, 2.0f, 4.0f})
    {
        double const perSecond = Measure(speed);
        std::printf("  %4.2gx: %7.2f ms CPU per second of audio (%5.1f %% of one core)\n", speed, perSecond * 1000.0,
                    perSecond * 100.0);
    }
    return 0;
}
