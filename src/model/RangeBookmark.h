#pragma once

// A start and an end frame on a timeline, held in the timeline's list.
struct RangeBookmark
{
    int startFrame = 0;
    int endFrame = 0;
};
