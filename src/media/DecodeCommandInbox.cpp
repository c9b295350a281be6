#include "media/DecodeCommandInbox.h"

#include <chrono>

void DecodeCommandInbox::Post()
{
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        ++mGeneration;
    }
    mPosted.notify_all();
}

unsigned long long DecodeCommandInbox::Generation() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return mGeneration;
}

unsigned long long DecodeCommandInbox::WaitForPost(unsigned long long seen, int timeoutMs) const
{
    std::unique_lock<std::mutex> locker(mMutex);
    mPosted.wait_for(locker, std::chrono::milliseconds(timeoutMs), [this, seen] { return mGeneration != seen; });
    return mGeneration;
}
