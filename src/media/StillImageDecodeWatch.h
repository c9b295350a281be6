#pragma once

#include <memory>

class VideoFrameBufferPool;
struct AVCodecContext;
struct AVFrame;

// Lends one still-image decoder its picture buffers and watches each decode
// for pixels left unwritten.
//
// The buffers come from a pool of the watch's own, so that the next file's
// picture lands in memory already faulted in, and they are not cleared: a
// decoder that reads a whole picture writes every pixel of it. One that
// stops partway through damaged data (a cut-off EXR or JPEG) says so, by a
// slice of its work that failed, an error it reports or the picture's error
// flags; the picture is then decoded again into a buffer cleared to black
// first, so that what it left unwritten is black, the same on every visit,
// and never another file's rows.
//
// Used on the thread that decodes alone: the decoder must run its work on
// that thread or on slice threads it waits for (no frame threads, see
// Attach).
class StillImageDecodeWatch
{
public:
    StillImageDecodeWatch();
    ~StillImageDecodeWatch();
    StillImageDecodeWatch(StillImageDecodeWatch const&) = delete;
    StillImageDecodeWatch& operator=(StillImageDecodeWatch const&) = delete;

    // Before avcodec_open2: the decoder works on slice threads at most.
    static void PrepareContext(AVCodecContext* context);
    // After avcodec_open2: the context's pictures and slices go through here.
    void Attach(AVCodecContext* context);

    // Around the packets sent and the picture received for one file: with
    // clear, every picture is cleared to black before the decoder writes it.
    void Begin(bool clear);
    // Whether the decode since Begin may have left pixels unwritten; picture,
    // when given, is the one it gave.
    bool End(AVFrame const* picture);

private:
    static int GetBuffer(AVCodecContext* context, AVFrame* frame, int flags);
    static int Execute2(AVCodecContext* context, int (*function)(AVCodecContext*, void*, int, int), void* argument,
                        int* results, int count);

    // The pool the pictures are lent from: kept as long as pictures of it
    // live (the frames that kept a picture as it is hold it through their
    // release).
    std::shared_ptr<VideoFrameBufferPool> mPool;
    // The decoder's own way of running slices, which Execute2 wraps.
    int (*mExecute2)(AVCodecContext*, int (*)(AVCodecContext*, void*, int, int), void*, int*, int) = nullptr;
    // Bytes of the last picture lent, which the pool's idle limit follows.
    long long mPictureBytes = 0;
    bool mClear = false;
    // Set on the slice threads' caller (this thread) while a decode runs.
    bool mSliceFailed = false;
    unsigned int mErrorsAtBegin = 0;
};
