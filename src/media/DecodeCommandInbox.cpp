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

void DecodeCommandInbox::Post(DecodeCommand command)
{
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        mCommands |= static_cast<unsigned>(command);
        ++mGeneration;
    }
    mPosted.notify_all();
}

DecodeCommandInbox::Taken DecodeCommandInbox::Take()
{
    std::lock_guard<std::mutex> const locker(mMutex);
    Taken const taken {mGeneration, mCommands};
    mCommands = 0;
    return taken;
}

unsigned long long DecodeCommandInbox::Generation() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return mGeneration;
}

bool DecodeCommandInbox::CommandPending() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return mCommands != 0;
}

bool DecodeCommandInbox::DiscardPending() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return Has(mCommands, DecodeCommand::Stop) || Has(mCommands, DecodeCommand::UpdateTrack);
}

bool DecodeCommandInbox::StopPending() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return Has(mCommands, DecodeCommand::Stop);
}

unsigned long long DecodeCommandInbox::WaitForPost(unsigned long long seen, int timeoutMs) const
{
    std::unique_lock<std::mutex> locker(mMutex);
    mPosted.wait_for(locker, std::chrono::milliseconds(timeoutMs), [this, seen] { return mGeneration != seen; });
    return mGeneration;
}

unsigned long long DecodeCommandInbox::WaitForPost(unsigned long long seen) const
{
    std::unique_lock<std::mutex> locker(mMutex);
    ++mIdleWaiters;
    mIdleSeen = seen;
    mPosted.wait(locker, [this, seen] { return mGeneration != seen; });
    --mIdleWaiters;
    return mGeneration;
}

bool DecodeCommandInbox::IdleWaiting() const
{
    // A waiter already posted to counts as awake, though it may not have
    // run yet.
    std::lock_guard<std::mutex> const locker(mMutex);
    return mIdleWaiters > 0 && mGeneration == mIdleSeen;
}

void DecodeCommandInbox::SetClockStopped(bool stopped)
{
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        if (mClockStopped == stopped)
        {
            return;
        }
        mClockStopped = stopped;
        ++mGeneration;
    }
    mPosted.notify_all();
}

bool DecodeCommandInbox::ClockStopped() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return mClockStopped;
}

void DecodeCommandInbox::SetFillAheadHeld(bool held)
{
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        if (mFillAheadHeld == held)
        {
            return;
        }
        mFillAheadHeld = held;
        ++mGeneration;
    }
    mPosted.notify_all();
}

bool DecodeCommandInbox::FillAheadHeld() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return mFillAheadHeld;
}

bool DecodeCommandInbox::SetClock(Clock clock)
{
    std::lock_guard<std::mutex> const locker(mMutex);
    bool const changed = mClock.aheadOfPictures != clock.aheadOfPictures;
    mClock = clock;
    return changed;
}

DecodeCommandInbox::Clock DecodeCommandInbox::CurrentClock() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return mClock;
}

bool DecodeCommandInbox::Has(unsigned commands, DecodeCommand command)
{
    return (commands & static_cast<unsigned>(command)) != 0;
}
