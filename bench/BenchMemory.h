#pragma once

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Figures of /proc/self/status (memory in kilobytes, thread count), -1 when unknown.
namespace BenchMemory
{
inline long long StatusKilobytes(QByteArray const& key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
    {
        return -1;
    }
    for (QByteArray const& line : status.readAll().split('\n'))
    {
        if (line.startsWith(key))
        {
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

inline long long ResidentKilobytes()
{
    return StatusKilobytes("VmRSS:");
}

inline long long PeakKilobytes()
{
    return StatusKilobytes("VmHWM:");
}

// Samples the resident memory on a thread of its own every few milliseconds
// and keeps, with the highest sample, what the parts given (thread-safe
// figures in bytes) held at that moment: what the peak was made of.
class PeakSampler
{
public:
    explicit PeakSampler(std::vector<std::function<long long()>> parts, int periodMs = 5)
        : mParts(std::move(parts))
        , mPartsAtPeak(mParts.size(), 0)
        , mThread([this, periodMs] { Run(periodMs); })
    {
    }

    ~PeakSampler() { Stop(); }

    void Stop()
    {
        {
            std::lock_guard<std::mutex> const locker(mMutex);
            mStopping = true;
        }
        mStop.notify_all();
        if (mThread.joinable())
        {
            mThread.join();
        }
    }

    // The highest resident sample (kB) and the parts (bytes) at that sample.
    long long PeakKilobytes() const
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        return mPeak;
    }
    std::vector<long long> PartsAtPeak() const
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        return mPartsAtPeak;
    }

private:
    void Run(int periodMs)
    {
        std::unique_lock<std::mutex> lock(mMutex);
        while (!mStopping)
        {
            lock.unlock();
            long long const resident = ResidentKilobytes();
            std::vector<long long> parts;
            for (auto const& part : mParts)
            {
                parts.push_back(part());
            }
            lock.lock();
            if (resident > mPeak)
            {
                mPeak = resident;
                mPartsAtPeak = std::move(parts);
            }
            mStop.wait_for(lock, std::chrono::milliseconds(periodMs), [this] { return mStopping; });
        }
    }

    std::vector<std::function<long long()>> const mParts; // read by the sampling thread only after construction
    mutable std::mutex mMutex;
    std::condition_variable mStop;
    bool mStopping = false;                // guarded by mMutex
    long long mPeak = -1;                  // guarded by mMutex
    std::vector<long long> mPartsAtPeak;   // guarded by mMutex
    std::thread mThread;                   // started last, joined by Stop
};
}
