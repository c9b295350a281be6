#pragma once

#include <QString>

#include <functional>

// Tells, before anything is given up for it, whether a media file can be
// opened at all: a regular file whose container the demuxers read and which
// holds an audio or video stream that a decoder exists for. Runs on the
// calling thread, bounded by the input's open deadline.
class MediaProbe
{
public:
    MediaProbe() = delete;

    // True when the file opens, its streams are found and a decoder exists
    // for one of them (nothing is decoded: the parse tells whether it
    // decodes); otherwise false, with the reason in *reason when given.
    // The reads end early once stopRequested (asked from this thread) says
    // so.
    static bool HasStreamWithDecoder(QString const& path, QString* reason = nullptr,
                                     std::function<bool()> stopRequested = {});
};
