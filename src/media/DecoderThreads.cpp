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

} // namespace DecoderThreads
