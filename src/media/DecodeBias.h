#pragma once

// Decoding direction hint that the engine sets on each timeline. Values below
// StepBackward mean forward.
enum class DecodeBias : int
{
    None = 0,
    StepForward = 1,
    PlayForward = 2,
    StepBackward = 3,
    PlayBackward = 4
};
