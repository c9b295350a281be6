#pragma once

// How a time bar prints frame numbers.
enum class TimeControlDisplayFormat : int
{
    GlobalFrames = 0, // frame numbers with the timeline's time-control offset
    RangeFrames = 1,  // frame numbers relative to the playback range start
    Seconds = 2,
    TimeCode = 3,
};
