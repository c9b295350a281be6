#pragma once

#include <QMutex>

class Timeline;

// The timeline the audio output plays, handed over by the engine front
// without waiting for the audio thread. The front sets it under the mutex,
// which the audio thread holds for as long as it reads the timeline (one tick
// of topping up the sink): once Set has returned, the previous timeline is
// read no more and its owner may delete it. Shared by the front (main thread,
// writes) and the audio-output task (its thread, reads).
class AudioOutputTimeline
{
public:
    void Set(Timeline* timeline);

private:
    friend class AudioOutputManager;

    QMutex mMutex;
    Timeline* mTimeline = nullptr;   // guarded by mMutex
    unsigned long long mSetCount = 0; // guarded by mMutex; raised by every Set
};
