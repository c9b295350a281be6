#include "media/AudioOutputTimeline.h"

void AudioOutputTimeline::Set(Timeline* timeline)
{
    QMutexLocker const locker(&mMutex);
    mTimeline = timeline;
    ++mSetCount;
}
