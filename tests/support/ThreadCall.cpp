#include "ThreadCall.h"

ThreadCall::ThreadCall()
{
    connect(this, &ThreadCall::Queued, this, &ThreadCall::RunQueued, Qt::QueuedConnection);
}

void ThreadCall::Post(std::function<void()> call)
{
    Queue(std::move(call));
}

void ThreadCall::Run(std::function<void()> call)
{
    unsigned long long const ticket = Queue(std::move(call));
    std::unique_lock<std::mutex> lock(mMutex);
    mRan.wait(lock, [this, ticket] { return mRanCount >= ticket; });
}

unsigned long long ThreadCall::Queue(std::function<void()> call)
{
    unsigned long long ticket = 0;
    {
        std::lock_guard<std::mutex> const lock(mMutex);
        mQueued.push_back(std::move(call));
        ticket = ++mQueuedCount;
    }
    emit Queued();
    return ticket;
}

void ThreadCall::RunQueued()
{
    std::unique_lock<std::mutex> lock(mMutex);
    while (!mQueued.empty())
    {
        std::function<void()> const call = std::move(mQueued.front());
        mQueued.pop_front();
        lock.unlock();
        call();
        lock.lock();
        ++mRanCount;
        mRan.notify_all();
    }
}
