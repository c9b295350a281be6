#include "media/FfmpegLog.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace
{
// The decoders kept quiet: one entry per Quiet held, by any thread. Read by
// the callback on whatever thread a library logs from; guarded by
// quietMutex.
std::mutex quietMutex;
std::vector<void const*> quietKeys;
// How many ThreadQuiets this thread holds; only this thread uses it.
thread_local int threadQuietHolders = 0;
// Errors reported on this thread, quiet or not; only this thread uses it.
thread_local unsigned int threadErrorCount = 0;

// The codec context a message comes from; null when it comes from anything else.
AVCodecContext const* CodecContext(void* context)
{
    AVClass const* const avClass = context ? *static_cast<AVClass**>(context) : nullptr;
    if (!avClass || !avClass->class_name || std::strcmp(avClass->class_name, "AVCodecContext") != 0)
    {
        return nullptr;
    }
    return static_cast<AVCodecContext const*>(context);
}

// The codec context a message comes from, when it comes from one that
// decodes; null otherwise.
AVCodecContext const* DecoderContext(void* context)
{
    AVCodecContext const* const codecContext = CodecContext(context);
    if (!codecContext)
    {
        return nullptr;
    }
    // A codec context tells whether it decodes or encodes only when asked.
    AVClass const* const avClass = codecContext->av_class;
    AVClassCategory const category = avClass->get_category ? avClass->get_category(context) : avClass->category;
    return category == AV_CLASS_CATEGORY_DECODER ? codecContext : nullptr;
}

// A demuxer's parser reports on a codec context of its stream that has no
// codec open. What it says (a picture that refers to parameters it has not
// seen yet, as every stream read from other than its very start does, and
// every seek) is a note about the data it splits, not a failure: the
// decoder reports what it cannot decode.
bool IsParserNote(void* context)
{
    AVCodecContext const* const codecContext = CodecContext(context);
    return codecContext && !codecContext->codec;
}

// What names a decoder in the list: the `opaque` its frame threads' copies
// share with it, or the context itself.
void const* KeyOf(AVCodecContext const* context)
{
    return context->opaque ? context->opaque : context;
}

bool IsQuiet(void* context)
{
    AVCodecContext const* const decoder = DecoderContext(context);
    if (!decoder)
    {
        return false;
    }
    std::lock_guard<std::mutex> const locker(quietMutex);
    return std::find(quietKeys.begin(), quietKeys.end(), KeyOf(decoder)) != quietKeys.end();
}

void Callback(void* context, int level, char const* format, va_list arguments)
{
    if (level <= AV_LOG_ERROR)
    {
        ++threadErrorCount;
    }
    if (level > AV_LOG_WARNING)
    {
        return;
    }
    // A thread held quiet also drops the warnings of anything else it runs
    // (a demuxer's guesses about streams it could not read): the caller
    // reports what failed.
    bool const threadQuiet = threadQuietHolders > 0 && (CodecContext(context) || level > AV_LOG_ERROR);
    if (level > AV_LOG_FATAL && (threadQuiet || IsParserNote(context) || IsQuiet(context)))
    {
        return;
    }
    av_log_default_callback(context, level, format, arguments);
}

void const* QuietKey(AVCodecContext* context, bool quiet)
{
    if (!quiet || !context)
    {
        return nullptr;
    }
    if (!context->opaque)
    {
        context->opaque = context;
    }
    void const* const key = KeyOf(context);
    std::lock_guard<std::mutex> const locker(quietMutex);
    quietKeys.push_back(key);
    return key;
}
} // namespace

void FfmpegLog::Install()
{
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(&Callback); });
}

unsigned int FfmpegLog::ThreadErrorCount()
{
    return threadErrorCount;
}

FfmpegLog::ThreadQuiet::ThreadQuiet()
{
    ++threadQuietHolders;
}

FfmpegLog::ThreadQuiet::~ThreadQuiet()
{
    --threadQuietHolders;
}

FfmpegLog::Quiet::Quiet(AVCodecContext* context, bool quiet)
    : mKey(QuietKey(context, quiet))
{
}

FfmpegLog::Quiet::~Quiet()
{
    if (mKey)
    {
        std::lock_guard<std::mutex> const locker(quietMutex);
        auto const found = std::find(quietKeys.begin(), quietKeys.end(), mKey);
        if (found != quietKeys.end())
        {
            quietKeys.erase(found);
        }
    }
}
