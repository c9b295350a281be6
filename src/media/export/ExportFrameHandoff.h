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
// The decode thread pushes and, once it has finished, ends the hand-off; the
// export thread takes, and closes the hand-off when it stops taking.
class ExportFrameHandoff
{
public:
    enum class Result
    {
        Frame,
        Timeout,
        Ended
    };

    // Decode thread: hands a picture over. False when the export thread has
    // closed the hand-off (the picture is dropped).
    bool Push(std::shared_ptr<VideoFrame> frame);
    // Decode thread: nothing more comes.
    void End();

    // Export thread: the oldest picture, waiting up to timeoutMs for one.
    // Ended once the decode thread has ended and every picture is taken.
    Result Take(std::shared_ptr<VideoFrame>& frame, int timeoutMs);
    // Export thread: takes nothing more; the pictures held are let go.
    void Close();

    // Pictures held now. Any thread.
    int Count() const;

private:
    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    QList<std::shared_ptr<VideoFrame>> mFrames; // guarded by mMutex
    bool mEnded = false;                        // guarded by mMutex: the decode thread has finished
    bool mClosed = false;                       // guarded by mMutex: the export thread takes no more
};
