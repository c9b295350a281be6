#pragma once

#include <condition_variable>
#include <mutex>

// What the engine front asks of a decode loop. Several may wait at once; the
// loop takes them together and applies them in the order below.
enum class DecodeCommand : unsigned
{
    // Take a fresh copy of the timeline's decode track.
    UpdateTrack = 1u << 0,
    // Empty the cache, then seek to the playhead.
    RefreshCache = 1u << 1,
    // The playhead jumped: decode towards it unless the cache holds it.
    Seek = 1u << 2,
    // End the loop.
    Stop = 1u << 3,
};

// Where the engine front leaves commands for a decode loop, and wakes it.
// Every post raises the generation; the loop takes the waiting commands at
// one point of each pass, and sleeps on the inbox's condition rather than
// for a fixed time, so that a post wakes it at once. A post without a
// command only wakes the loop (the playhead reached a new frame, an image
// loader finished). Posted from any thread, taken by the decode thread;
// everything is guarded by the inbox's mutex.
class DecodeCommandInbox
{
public:
    struct Taken
    {
        unsigned long long generation = 0;
        unsigned commands = 0; // DecodeCommand bits
    };

    void Post();
    void Post(DecodeCommand command);
    // The decode thread: the waiting commands, now no longer waiting, and the
    // generation they bring the loop up to.
    Taken Take();
    unsigned long long Generation() const;
    // Some command waits: a long decoder step may end early to let the loop
    // take it.
    bool CommandPending() const;
    // A command waits that drops whatever the decoder holds (a stop or a new
    // track): pictures decoded meanwhile need not be converted.
    bool DiscardPending() const;
    bool StopPending() const;
    // Waits until the generation differs from seen or timeoutMs passed;
    // returns the generation then.
    unsigned long long WaitForPost(unsigned long long seen, int timeoutMs) const;
    // Waits, with no time limit, until the generation differs from seen.
    unsigned long long WaitForPost(unsigned long long seen) const;
    // Someone waits in WaitForPost without a time limit and nothing was
    // posted since it began.
    bool IdleWaiting() const;

    // The engine front stops and starts the clock the loop follows. While it
    // is stopped the front posts on every change the loop looks at (the
    // playhead, the direction, the cache's size and loop span), so that the
    // loop may sleep until a post; while it runs the playhead moves on by
    // itself. A change posts. Running until told otherwise (a loop that no
    // clock drives, such as an export's).
    void SetClockStopped(bool stopped);
    bool ClockStopped() const;
    // The clock's time as the front last published it, and whether the
    // clock then ran on ahead of the pictures (the sound leads and the
    // pictures are at most a couple of frames behind): only then may the
    // loop show its newest picture for a time it does not cover, and only
    // one not after that time. One value, so that the loop never pairs a
    // new time with an old verdict. Not ahead until told otherwise.
    // The most frames the clock may run on past the newest picture; further
    // behind, the clock waits for the pictures.
    static constexpr int PICTURE_LAG_FRAMES = 2;
    struct Clock
    {
        long long time = -1;
        bool aheadOfPictures = false;
    };
    // Returns whether the verdict on the pictures changed.
    bool SetClock(Clock clock);
    Clock CurrentClock() const;

    // While held, a video loop whose cache holds the picture at the stopped
    // clock's time decodes no further ahead: the window's first picture is
    // put on screen without the fill competing for the cores. Not held until
    // told otherwise; a release posts.
    void SetFillAheadHeld(bool held);
    bool FillAheadHeld() const;

    static bool Has(unsigned commands, DecodeCommand command);

private:
    mutable std::mutex mMutex;
    mutable std::condition_variable mPosted;
    unsigned long long mGeneration = 0; // guarded by mMutex
    unsigned mCommands = 0;             // guarded by mMutex
    bool mClockStopped = false;         // guarded by mMutex
    bool mFillAheadHeld = false;        // guarded by mMutex
    Clock mClock;                       // guarded by mMutex
    mutable int mIdleWaiters = 0;       // guarded by mMutex
    // The generation the last untimed wait waits to see change.
    mutable unsigned long long mIdleSeen = 0; // guarded by mMutex
};
