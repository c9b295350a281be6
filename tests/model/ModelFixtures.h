#pragma once

// Shared by the model and cache tests: sources that look parsed without
// running the parser, and small frame makers.

#include "app/TimeHelpers.h"
#include "media/AudioFrame.h"
#include "media/AvHelpers.h"
#include "media/VideoFrame.h"
#include "model/Source.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <memory>

namespace ModelFixtures
{

double const RATE_23976 = 24000.0 / 1001.0;
double const RATE_2997 = 30000.0 / 1001.0;

// A media path that never exists, so no test depends on the disk.
inline QString MissingMoviePath(QString const& name)
{
    return QStringLiteral("/nonexistent-tessarin-media/%1.mov").arg(name);
}

// Fills the first file of a source as the parser would for a movie of the
// given rate and length, then reports it parsed.
inline void FakeParsedMovie(Source* source, double rate, int frameCount, bool withAudio = false)
{
    SourceFileInfo* file = source->FileInfoAtIndex(0);
    VideoStreamInfo video;
    video.parsed = true;
    video.streamIndex = 0;
    video.width = 320;
    video.height = 240;
    video.frameStep = AvHelpers::FrameRateToFrameStep(rate);
    video.frameRate = std::trunc(rate * 1000.0 + 0.5) / 1000.0;
    video.frameCount = frameCount;
    file->videoStreams = {video};
    if (withAudio)
    {
        AudioStreamInfo audio;
        audio.parsed = true;
        audio.streamIndex = 1;
        file->audioStreams = {audio};
    }
    file->parsed = true;
    source->SetDuration(TimeHelpers::FrameToFrameStartTime(frameCount, video.frameStep) - 1);
    source->SetParsed(true);
    emit source->Parsed();
}

// A tiny RGB24 frame standing for one of the given size in the byte budget.
inline std::shared_ptr<VideoFrame> MakeVideoFrame(long long start, long long end, long long byteSize)
{
    static uint8_t const pixels[2 * 2 * 3] = {};
    uint8_t const* planes[3] = {pixels, nullptr, nullptr};
    int const lineSizes[3] = {2 * 3, 0, 0};
    auto frame = std::make_shared<VideoFrame>(planes, lineSizes, 2, 2, VideoFramePixelFormat::RGB24, start, nullptr,
                                              false);
    frame->packetEndTime = end;
    frame->adjustedStartTime = start;
    frame->adjustedEndTime = end;
    frame->byteSize = byteSize;
    return frame;
}

inline std::shared_ptr<AudioFrame> MakeAudioFrame(long long start, long long end, bool silent = false)
{
    long long const size = AvHelpers::AudioOutputSizeForDuration(end - start + 1);
    return std::make_shared<AudioFrame>(size, start, end, AvHelpers::AudioOutputSamplesPerChannel(size), silent);
}

} // namespace ModelFixtures
