#pragma once

#include <QList>

#include <condition_variable>
#include <memory>
#include <mutex>

struct VideoFrame;

// The pictures the video decode thread of an export hands to the export
// thread, in order. (A standard mutex and condition: Qt's wait condition
// releases and retakes its mutex inside Qt, where the thread sanitizer cannot
// follow it.)
//
// It holds a few pictures at most: a decode thread ahead of the encoder waits
// in Push until the export thread takes a picture, lets go of pictures it has
// passed, or closes the hand-off, so an export holds no more than the cache
// and these few pictures however long its range is.
//
// The decode thread pushes and, once it has finished, ends the hand-off; the
// export thread takes. The hand-off is closed when the export stops taking
// (its stop, cancel or failure): by the export thread, or by the thread
// that cancels or fails the export, which releases a waiting push and a
// waiting take alike.
class ExportFrameHandoff
{
public:
    static constexpr int DEFAULT_DEPTH = 4;
    enum class Result
    {
        Frame,
        Timeout,
        Ended,
        Closed
    };

    // Pictures held at most (at least 1).
    explicit ExportFrameHandoff(int depth = DEFAULT_DEPTH);

    // Decode thread: hands a picture over, waiting while the hand-off is
    // full. False when the export thread has closed it (the picture is
    // dropped).
    bool Push(std::shared_ptr<VideoFrame> frame);
    // Decode thread: nothing more comes.
    void End();

    // Export thread: the oldest picture, waiting up to timeoutMs for one.
    // Closed at once when the hand-off is closed (also while waiting); Ended
    // once the decode thread has ended and every picture is taken.
    Result Take(std::shared_ptr<VideoFrame>& frame, int timeoutMs);
    // Export thread: lets go of the pictures at the head that end before
    // time (timeline µs), which the export has passed.
    void DropEndingBefore(long long time);
    // Any thread: the export takes nothing more; the pictures held are let
    // go.
    void Close();

    // Pictures held now. Any thread.
    int Count() const;
    int Depth() const;

private:
    int const mDepth;
    mutable std::mutex mMutex;
    std::condition_variable mChanged; // a picture came or went, the end, the close (push and take wait on it)
    QList<std::shared_ptr<VideoFrame>> mFrames; // guarded by mMutex
    bool mEnded = false;                        // guarded by mMutex: the decode thread has finished
    bool mClosed = false;                       // guarded by mMutex: the export thread takes no more
};
