#include "media/StillImageDecodeWatch.h"

#include "media/FfmpegLog.h"
#include "media/VideoFrameBufferPool.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <vector>

namespace
{

// The watch of the decode running on this thread, set by Begin and End.
thread_local StillImageDecodeWatch* currentWatch = nullptr;

// Idle pictures each watch keeps, of the size of the last one: the one the
// decoder gave back after its picture was converted, for the next file.
long long const IDLE_PICTURES = 1;

} // namespace

StillImageDecodeWatch::StillImageDecodeWatch()
    : mPool(std::make_shared<VideoFrameBufferPool>(0))
{
    // Errors are counted by the process's log callback.
    FfmpegLog::Install();
}

StillImageDecodeWatch::~StillImageDecodeWatch()
{
    if (currentWatch == this)
    {
        currentWatch = nullptr;
    }
}

void StillImageDecodeWatch::PrepareContext(AVCodecContext* context)
{
    // One picture per file: frame threads would gain nothing, and their
    // work would run where the watch cannot see it.
    context->thread_type = FF_THREAD_SLICE;
}

void StillImageDecodeWatch::Attach(AVCodecContext* context)
{
    mExecute2 = context->execute2;
    context->execute2 = &StillImageDecodeWatch::Execute2;
    context->get_buffer2 = &StillImageDecodeWatch::GetBuffer;
}

void StillImageDecodeWatch::Begin(bool clear)
{
    currentWatch = this;
    mClear = clear;
    mSliceFailed = false;
    mErrorsAtBegin = FfmpegLog::ThreadErrorCount();
}

bool StillImageDecodeWatch::End(AVFrame const* picture)
{
    currentWatch = nullptr;
    bool const flagged = picture && (picture->decode_error_flags != 0 || (picture->flags & AV_FRAME_FLAG_CORRUPT));
    return mSliceFailed || flagged || FfmpegLog::ThreadErrorCount() != mErrorsAtBegin;
}

int StillImageDecodeWatch::GetBuffer(AVCodecContext* context, AVFrame* frame, int flags)
{
    StillImageDecodeWatch* const watch = currentWatch;
    if (!watch)
    {
        // Not during a watched decode (none is made otherwise): cleared.
        return VideoFrameBufferPool::GetClearedDecoderBuffer(context, frame, flags);
    }
    int const result = watch->mPool->LendDecoderBuffer(context, frame, flags, false);
    long long const bytes = result >= 0 && frame->buf[0] ? static_cast<long long>(frame->buf[0]->size) : 0;
    if (bytes > 0 && bytes != watch->mPictureBytes)
    {
        watch->mPictureBytes = bytes;
        watch->mPool->SetIdleLimit(IDLE_PICTURES * bytes);
    }
    if (result >= 0 && watch->mClear)
    {
        VideoFrameBufferPool::ClearPicture(frame);
    }
    return result;
}

int StillImageDecodeWatch::Execute2(AVCodecContext* context, int (*function)(AVCodecContext*, void*, int, int),
                                    void* argument, int* results, int count)
{
    StillImageDecodeWatch* const watch = currentWatch;
    if (!watch || !watch->mExecute2)
    {
        return avcodec_default_execute2(context, function, argument, results, count);
    }
    // The decoder may not ask for the slices' results: they are taken here.
    std::vector<int> own;
    if (!results && count > 0)
    {
        own.assign(static_cast<size_t>(count), 0);
    }
    int* const taken = results ? results : own.data();
    int const result = watch->mExecute2(context, function, argument, taken, count);
    if (result < 0 || std::any_of(taken, taken + std::max(count, 0), [](int slice) { return slice < 0; }))
    {
        watch->mSliceFailed = true;
    }
    return result;
}
