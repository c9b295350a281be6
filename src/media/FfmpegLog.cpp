#include "media/FfmpegLog.h"

#include <atomic>
#include <cstdarg>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace
{
// How many Quiets are held, by any thread; read by the callback on whatever
// thread a library logs from. Atomic, no other guard needed.
std::atomic<int> quietHolders {0};

bool IsDecoder(void* context)
{
    AVClass const* const avClass = context ? *static_cast<AVClass**>(context) : nullptr;
    if (!avClass)
    {
        return false;
    }
    // A codec context tells whether it decodes or encodes only when asked.
    AVClassCategory const category = avClass->get_category ? avClass->get_category(context) : avClass->category;
    return category == AV_CLASS_CATEGORY_DECODER;
}

void Callback(void* context, int level, char const* format, va_list arguments)
{
    if (level > AV_LOG_WARNING)
    {
        return;
    }
    if (level > AV_LOG_FATAL && quietHolders.load(std::memory_order_relaxed) > 0 && IsDecoder(context))
    {
        return;
    }
    av_log_default_callback(context, level, format, arguments);
}
} // namespace

void FfmpegLog::Install()
{
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(&Callback); });
}

FfmpegLog::Quiet::Quiet(bool quiet)
    : mQuiet(quiet)
{
    if (mQuiet)
    {
        quietHolders.fetch_add(1, std::memory_order_relaxed);
    }
}

FfmpegLog::Quiet::~Quiet()
{
    if (mQuiet)
    {
        quietHolders.fetch_sub(1, std::memory_order_relaxed);
    }
}
