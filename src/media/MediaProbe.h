#pragma once

#include <QString>

// Tells, before anything is given up for it, whether a media file can be
// opened at all: a regular file whose container the demuxers read and which
// holds an audio or video stream that a decoder exists for. Runs on the
// calling thread, bounded by the input's open deadline.
class MediaProbe
{
public:
    MediaProbe() = delete;

    // True when the file opens, its streams are found and one of them can be
    // decoded; otherwise false, with the reason in *reason when given.
    static bool HasDecodableStream(QString const& path, QString* reason = nullptr);
};
