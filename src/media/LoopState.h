#pragma once

// What the playback clock does at a range end.
enum class LoopState : int
{
    Off = 0,     // stop at the bound
    Loop = 1,    // jump to the other bound
    PingPong = 2 // stay at the bound and reverse the direction
};
