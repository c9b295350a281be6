#include "media/AudioFrame.h"

AudioFrame::AudioFrame(long long size, long long start, long long end, long long samples, bool isSilent)
    : byteSize(size)
    , startTime(start)
    , endTime(end)
    , samplesPerChannel(samples)
    , silent(isSilent)
{
    if (!silent && size > 0)
    {
        data = QByteArray(static_cast<qsizetype>(size), '\0');
    }
}
