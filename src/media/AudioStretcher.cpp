#include "media/AudioStretcher.h"

#include "app/Settings.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cstring>

namespace
{
// 1024 + 8192 + 8192: more than one process() call of the finer engine gives.
size_t const BUFFER_FRAMES = 17408;
// Input is fed in pieces of at most this many frames. Feeding only what
// getSamplesRequired() asks for means a few frames per call while the
// stretcher warms up, hundreds of calls for one tick's audio.
size_t const PROCESS_FRAMES = 1024;
} // namespace

AudioStretcher::AudioStretcher(QObject* parent)
    : AudioStretcher(AudioOutputFormat::FromSettings(), parent)
{
}

AudioStretcher::AudioStretcher(AudioOutputFormat const& format, QObject* parent)
    : QObject(parent)
    , mStretcher(std::make_unique<RubberBand::RubberBandStretcher>(
          static_cast<size_t>(format.sampleRate), static_cast<size_t>(format.channelCount),
          RubberBand::RubberBandStretcher::OptionProcessRealTime | RubberBand::RubberBandStretcher::OptionEngineFiner,
          1.0, 1.0))
{
    mStretcher->setMaxProcessSize(PROCESS_FRAMES);
    size_t const channels = static_cast<size_t>(format.channelCount);
    mInput.resize(channels);
    for (std::vector<float>& channel : mInput)
    {
        channel.reserve(BUFFER_FRAMES);
    }
    mInputPointers.assign(channels, nullptr);
    mOutputBuffers.assign(channels, std::vector<float>(BUFFER_FRAMES, 0.0f));
    for (std::vector<float>& buffer : mOutputBuffers)
    {
        mOutputPointers.push_back(buffer.data());
    }
    mOutput.reserve(BUFFER_FRAMES * channels);
    Reset();
}

AudioStretcher::~AudioStretcher() = default;

void AudioStretcher::Reset()
{
    mStretcher->reset();
    mStartPad = static_cast<long long>(mStretcher->getPreferredStartPad());
    mStartDelay = static_cast<long long>(mStretcher->getStartDelay());
    for (std::vector<float>& channel : mInput)
    {
        channel.assign(static_cast<size_t>(mStartPad), 0.0f);
    }
    mOutput.clear();
    Process();
}

void AudioStretcher::Process()
{
    size_t const count = mInput.front().size();
    size_t offset = 0;
    while (offset < count)
    {
        size_t const chunk = std::min(count - offset, PROCESS_FRAMES);
        for (size_t channel = 0; channel < mInput.size(); ++channel)
        {
            mInputPointers[channel] = mInput[channel].data() + offset;
        }
        mStretcher->process(mInputPointers.data(), chunk, false);
        offset += chunk;
        Retrieve();
    }
    for (std::vector<float>& channel : mInput)
    {
        channel.clear();
    }
}

void AudioStretcher::Retrieve()
{
    // At low speeds one call can make more than the buffers hold: take it in
    // buffer-sized pieces.
    int available = 0;
    while ((available = mStretcher->available()) > 0)
    {
        size_t const frames =
            mStretcher->retrieve(mOutputPointers.data(), std::min(static_cast<size_t>(available), BUFFER_FRAMES));
        if (frames == 0)
        {
            return;
        }
        size_t const dropped = static_cast<size_t>(std::min<long long>(mStartDelay, static_cast<long long>(frames)));
        mStartDelay -= static_cast<long long>(dropped);
        for (size_t frame = dropped; frame < frames; ++frame)
        {
            for (std::vector<float> const& buffer : mOutputBuffers)
            {
                mOutput.push_back(buffer[frame]);
            }
        }
    }
}

void AudioStretcher::FillInputBuffer(QByteArray const& bytes)
{
    size_t const channels = mInput.size();
    size_t const frames = static_cast<size_t>(bytes.size()) / (channels * sizeof(float));
    auto const* samples = reinterpret_cast<unsigned char const*>(bytes.constData());
    for (size_t frame = 0; frame < frames; ++frame)
    {
        for (size_t channel = 0; channel < channels; ++channel)
        {
            // The array's data need not be float-aligned.
            float sample = 0.0f;
            std::memcpy(&sample, samples + (frame * channels + channel) * sizeof(float), sizeof(float));
            mInput[channel].push_back(sample);
        }
    }
}

void AudioStretcher::FillOutputBuffer(QByteArray& bytes)
{
    bytes.append(reinterpret_cast<char const*>(mOutput.data()), static_cast<qsizetype>(mOutput.size() * sizeof(float)));
    mOutput.clear();
}

void AudioStretcher::SetPlaybackMultiplier(float multiplier)
{
    if (multiplier <= 0.0f)
    {
        return; // a speed is never zero or negative; the direction is separate
    }
    mMultiplier = multiplier;
    mStretcher->setTimeRatio(1.0f / multiplier);
}

float AudioStretcher::PlaybackMultiplier() const
{
    return mMultiplier;
}

int AudioStretcher::SamplesRequired() const
{
    return static_cast<int>(mStretcher->getSamplesRequired());
}
