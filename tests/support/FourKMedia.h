#pragma once

#include "TimingBounds.h"

#include <QList>

// The 4K clips a case runs on: 8-bit H.264, 8-bit HEVC and 10-bit HEVC. A
// sanitizer build leaves the 10-bit one out: its pictures go through our own
// conversion, which the instrumentation slows so much that a loaded machine
// starves it past the engine's own waits. The sanitizers still check that
// conversion on the smaller 10-bit clips.
inline QList<char const*> FourKMedia()
{
    if (TimingBounds::SANITIZED)
    {
        return {"numbered_4k.mp4", "numbered_4k_hevc.mp4"};
    }
    return {"numbered_4k.mp4", "numbered_4k_hevc.mp4", "numbered_4k_hevc10.mp4"};
}
