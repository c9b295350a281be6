#pragma once

// What a clip places on its track. Scoped: "Empty" and "Media" are too generic
// for the global namespace.
enum class ClipType : int
{
    Empty = 0,       // no source; only fills time on an audio-override decode track
    MediaSource = 1, // the clip of a source timeline, owning its source
    Media = 2        // a copy of a clip in an edit timeline, sharing its source
};
