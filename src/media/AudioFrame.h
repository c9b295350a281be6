#pragma once

#include <QByteArray>

#include <atomic>

// A block of decoded interleaved 32-bit float samples, or a silent block that
// holds no data but stands for byteSize bytes of silence. Shared by reference
// count; the end time is atomic because the cache trims it on a later insert
// while the audio output may be reading the block.
struct AudioFrame
{
    AudioFrame(long long size, long long start, long long end, long long samples, bool isSilent);

    AudioFrame(AudioFrame const&) = delete;
    AudioFrame& operator=(AudioFrame const&) = delete;

    QByteArray data;
    long long byteSize;
    long long startTime;
    std::atomic<long long> endTime;
    long long samplesPerChannel;
    bool silent;
};
