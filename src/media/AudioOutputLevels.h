#pragma once

#include "app/Settings.h"

// What the sound is played at, as the settings say: the volume in percent
// (above 100 a software gain), mute, and whether backward play is heard.
// The settings belong to the main thread: it copies them here and hands the
// copy to the audio-output task, at its start and through its commands.
struct AudioOutputLevels
{
    int volume = 100;
    bool muted = false;
    bool soundBackward = false;

    // Main thread only.
    static AudioOutputLevels FromSettings()
    {
        return {Settings::volume, Settings::muted, Settings::audioOnBackwardsPlayback};
    }
};
