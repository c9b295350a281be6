#include "media/DecoderThreads.h"

#include <algorithm>

#if defined(__linux__)
#include <sched.h>
#endif

#include <QThread>

namespace DecoderThreads
{

int UsableCores()
{
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0)
    {
        return std::max(CPU_COUNT(&set), 1);
    }
#endif
    return std::max(QThread::idealThreadCount(), 1);
}

int Requested(int setting)
{
    if (setting > 0)
    {
        return setting;
    }
    int const cores = UsableCores();
    return cores > 1 ? std::min(cores + 1, MAXIMUM_AUTOMATIC) : 1;
}

int ConversionThreads(bool framesInParallel)
{
    int const cores = UsableCores();
    return std::clamp(framesInParallel ? cores / 2 : cores, 1, MAXIMUM_CONVERSION_THREADS);
}

long long PlayRoom(int windowFrames, long long pictureBytes)
{
    return (std::max(windowFrames, 0) + 1LL + PICTURES_SHOWN_BESIDE_WINDOW) * std::max(pictureBytes, 0LL);
}

int FrameThreadsWithin(int wanted, long long budget, long long room, long long decoderPictureBytes,
                       long long fixedPictures)
{
    if (decoderPictureBytes <= 0)
    {
        return std::max(wanted, 1);
    }
    long long const pictures = (budget - room) / decoderPictureBytes - std::max(fixedPictures, 0LL);
    return static_cast<int>(std::clamp<long long>(pictures / 2, 0, std::max(wanted, 1)));
}

int SeekLead(int leading, long long budget, long long pictureBytes, long long decoderPictureBytes,
             long long fixedPictures)
{
    for (int lead = leading; lead >= leading / 2 && lead > 0; --lead)
    {
        if (FrameThreadsWithin(2, budget, PlayRoom(lead, pictureBytes), decoderPictureBytes, fixedPictures) >= 2)
        {
            return lead;
        }
    }
    return leading;
}

} // namespace DecoderThreads
