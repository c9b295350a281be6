#pragma once

#include "app/Settings.h"

// The sound the engine decodes into and plays: interleaved 32-bit float
// samples at sampleRate, channelCount to a sample frame. Copied from the
// settings on the main thread (FromSettings) and carried by value into the
// tasks that size or make sound (see DecodeSettings).
struct AudioOutputFormat
{
    int sampleRate = 48000;
    int channelCount = 2;

    // Main thread only: the settings belong to it.
    static AudioOutputFormat FromSettings()
    {
        return {Settings::audioOutputSampleRate, Settings::audioOutputChannelCount};
    }
};
