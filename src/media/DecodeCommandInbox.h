#pragma once

#include <condition_variable>
#include <mutex>

// Where the engine front tells a decode loop that a command (a seek, a new
// track, the end of the task) waits for it. Every post raises the
// generation; the loop compares it with the last one it acted on at one point
// of each pass, and sleeps on the inbox's condition rather than for a fixed
// time, so that a post wakes it at once. Posted from the main thread, read by
// the decode thread; everything is guarded by the inbox's mutex.
class DecodeCommandInbox
{
public:
    void Post();
    unsigned long long Generation() const;
    // Waits until the generation differs from seen or timeoutMs passed;
    // returns the generation then.
    unsigned long long WaitForPost(unsigned long long seen, int timeoutMs) const;

private:
    mutable std::mutex mMutex;
    mutable std::condition_variable mPosted;
    unsigned long long mGeneration = 0; // guarded by mMutex
};
