#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

// A flag that stops a running export (its failure or its cancel): any
// thread sets it and the export threads read it. Setting it also wakes the
// export threads that wait for something else: a waiting thread registers a
// wake, which the setting thread calls, so that the wait ends on its own
// condition instead of looking at the flag now and then.
//
// Copying copies the value only; the wakes stay with the flag they were
// added to.
class ExportStopFlag
{
public:
    ExportStopFlag(bool value = false);
    ExportStopFlag(ExportStopFlag const& other);
    ExportStopFlag& operator=(ExportStopFlag const& other);
    ExportStopFlag& operator=(bool value);

    operator bool() const;
    bool load() const;
    // Setting the flag calls every wake on the caller's thread.
    void store(bool value);

    // Calls wake each time the flag is set until the wake is removed, and at
    // once when it is set already; a wake may be called more than once and
    // must not add or remove wakes. Returns the id to remove it by.
    int AddWake(std::function<void()> wake);
    void RemoveWake(int id);

private:
    std::atomic<bool> mValue;
    std::mutex mMutex; // guards the wakes; held while they are called
    std::vector<std::pair<int, std::function<void()>>> mWakes; // guarded by mMutex
    int mNextId = 0;                                            // guarded by mMutex
};
