#pragma once

// What a project file said about a timeline whose media could not be opened
// when it was read, beside what the timeline made of it (a timeline without
// frames clamps its playback frame and range). While the media is missing
// and the timeline still shows what it made of the file, a save writes the
// file's values back, so nothing is lost until the media is there again.
// For a source timeline the range is the source's cut in and cut out.
struct HeldTimelineState
{
    int playbackFrame = 0;
    int rangeStartFrame = 0;
    int rangeEndFrame = -1; // -1: to the end

    int appliedPlaybackFrame = 0;
    int appliedRangeStartFrame = 0;
    int appliedRangeEndFrame = -1;
};
