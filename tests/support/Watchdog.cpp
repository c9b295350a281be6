#include "support/Watchdog.h"

#include <cstdio>
#include <cstdlib>

Watchdog::Watchdog(QString what, std::chrono::seconds limit, std::function<void()> expiry)
    : mWhat(std::move(what)), mExpiry(std::move(expiry)), mThread([this, limit] { Watch(limit); })
{
}

Watchdog::~Watchdog()
{
    Disarm();
}

bool Watchdog::Disarm()
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mDisarmed = true;
    }
    mChanged.notify_all();
    if (mThread.joinable())
    {
        mThread.join();
    }
    std::lock_guard<std::mutex> lock(mMutex);
    return mExpired;
}

void Watchdog::Watch(std::chrono::seconds limit)
{
    std::unique_lock<std::mutex> lock(mMutex);
    if (mChanged.wait_for(lock, limit, [this] { return mDisarmed; }))
    {
        return;
    }
    mExpired = true;
    if (!mExpiry)
    {
        std::fprintf(stderr, "FAIL! %s did not end within %lld s\n", qPrintable(mWhat),
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::_Exit(1);
    }
    do
    {
        lock.unlock();
        mExpiry();
        lock.lock();
    } while (!mChanged.wait_for(lock, std::chrono::milliseconds(100), [this] { return mDisarmed; }));
}
