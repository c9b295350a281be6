#pragma once

#include <QString>

#include <atomic>
#include <functional>

extern "C" {
#include <libavformat/avformat.h>
}

// Opens media files for the demuxers. Only regular files are opened: a FIFO
// or a device blocks the open, or every read, for as long as nothing writes
// to it. Every input opened here carries an interrupt: reads and the demuxer's
// loops end once the owner asks to stop, or once the open's deadline passed
// while the input was still being opened and probed.
class MediaInput
{
public:
    // The longest an open and its probe of the streams may read.
    static constexpr int OPEN_DEADLINE_MS = 15000;

    // Asked by the interrupt from the reading thread; true ends the read.
    void SetStopQuery(std::function<bool()> stopRequested);
    // Opens path into *context (allocated here) with the interrupt; the
    // deadline runs from now until EndOpening. FFmpeg's result, or
    // AVERROR(EINVAL) for anything but a regular file.
    int Open(AVFormatContext** context, QString const& path);
    // The input is opened and probed: from now on only a stop interrupts it.
    void EndOpening();

    // True for a regular file, or a link to one.
    static bool IsRegularFile(QString const& path);

private:
    static int Interrupted(void* opaque);

    // Set by the owner's thread before the open; read by the interrupt on the
    // thread that reads the input (the same one).
    std::function<bool()> mStopRequested;
    // Steady-clock µs, 0 for none. Written by the reading thread only.
    std::atomic<long long> mDeadline {0};
};
