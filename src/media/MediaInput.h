#pragma once

#include <QString>

#include <atomic>
#include <functional>

extern "C" {
#include <libavformat/avformat.h>
}

// Opens media files for the demuxers. Only regular files are opened, through
// the guarded open: a FIFO or a device blocks the open, or every read, for as
// long as nothing writes to it, and a path checked first may name a FIFO by
// the time it is opened. The demuxer reads the descriptor that was opened and
// checked, never the path again. Every input opened here carries an
// interrupt: reads and the demuxer's loops end once the owner asks to stop,
// or once the open's deadline passed while the input was still being opened
// and probed.
//
// Only the containers the player reads are probed for, through the file
// protocol alone: a list format (a concat list, a playlist) that names other
// paths or URLs is refused, as is any open a demuxer makes of its own but of
// the input's own file (an image demuxer reopening it), which goes through
// the guarded open again.
class MediaInput
{
public:
    // The longest an open and its probe of the streams may read.
    static constexpr int OPEN_DEADLINE_MS = 15000;

    MediaInput() = default;
    ~MediaInput();
    MediaInput(MediaInput const&) = delete;
    MediaInput& operator=(MediaInput const&) = delete;

    // Asked by the interrupt from the reading thread; true ends the read.
    void SetStopQuery(std::function<bool()> stopRequested);
    // Opens path into *context (allocated here) with the interrupt; the
    // deadline runs from now until EndOpening. FFmpeg's result,
    // AVERROR(EINVAL) for anything but a regular file, or FORMAT_REFUSED. What was opened
    // before must have been closed (Close).
    int Open(AVFormatContext** context, QString const& path);
    // The input is opened and probed: from now on only a stop interrupts it.
    void EndOpening();
    // Closes *context (opened by Open, or null) and the file under it.
    void Close(AVFormatContext** context);
    // The descriptor of the file that is open, -1 when none is. It stays
    // the input's: a reader of its own takes a duplicate, and reads it at
    // offsets of its own (pread), never through the shared file offset.
    int Descriptor() const;
    // Ends the input for the demuxer at byte end (before the file's end):
    // reads stop there and the input's size is told as end. For a transport
    // stream's padded tail, which holds nothing of any stream (see
    // TsTimestampScan::DataEnd). Negative: the file's own end. The reading
    // thread's, once the input is open.
    void SetDataEnd(long long end);

    // True for a regular file, or a link to one.
    static bool IsRegularFile(QString const& path);
    // The demuxers an input may be read by, as libavformat lists them.
    static char const* const FORMAT_WHITELIST;
    // Open's result for a file whose format is none of those.
    static constexpr int FORMAT_REFUSED = AVERROR_DEMUXER_NOT_FOUND;

private:
    static int Interrupted(void* opaque);
    static int ReadPacket(void* opaque, uint8_t* buffer, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);
    // A demuxer's own opens: only the input's own file, read-only.
    static int NestedOpen(AVFormatContext* context, AVIOContext** io, char const* url, int flags,
                          AVDictionary** options);
    static int NestedClose(AVFormatContext* context, AVIOContext* io);
    // Opens path through the guarded open and makes the reading context
    // over it; 0 or an FFmpeg error.
    int OpenReader(QString const& path);
    // Frees the reading context and closes the descriptor.
    void Release();

    // Set by the owner's thread before the open; read by the interrupt on the
    // thread that reads the input (the same one).
    std::function<bool()> mStopRequested;
    // Steady-clock µs, 0 for none. Written by the reading thread only.
    std::atomic<long long> mDeadline {0};
    // The file and the demuxer's reading context over it, and the offset of
    // the next read: the reading thread's only.
    int mDescriptor = -1;
    AVIOContext* mIo = nullptr;
    long long mPosition = 0;
    // Where the input ends for the demuxer; -1 at the file's end. The
    // reading thread's only.
    long long mDataEnd = -1;
    // The path opened, as given to the demuxer: the reading thread's only.
    QByteArray mPath;
};
