#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Bounds a call that may hang for good: once the time is up, the expiry runs
// on the watchdog's own thread, and again every tenth of a second until the
// watchdog is disarmed or destroyed. Without an expiry of its own, it reports
// what hung and ends the process, so that a hang fails the test instead of
// holding the run until CTest's time-out.
class Watchdog
{
public:
    Watchdog(QString what, std::chrono::seconds limit, std::function<void()> expiry = {});
    ~Watchdog();
    Watchdog(Watchdog const&) = delete;
    Watchdog& operator=(Watchdog const&) = delete;

    // Stops the watch; whether the time had run out.
    bool Disarm();

private:
    void Watch(std::chrono::seconds limit);

    QString const mWhat;
    std::function<void()> const mExpiry;
    std::mutex mMutex;
    std::condition_variable mChanged;
    bool mDisarmed = false; // guarded by mMutex
    bool mExpired = false;  // guarded by mMutex
    std::thread mThread;    // last: starts once the fields above exist
};
