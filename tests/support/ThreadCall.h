#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// Runs calls on the thread this object lives in (move it there), asked from
// another thread. The calls and what they did pass between the threads under
// a mutex of our own, which the thread sanitizer sees: through Qt's queued or
// blocking calls alone they would read to it as races.
class ThreadCall : public QObject
{
    Q_OBJECT

public:
    ThreadCall();

    // Queues the call and returns at once.
    void Post(std::function<void()> call);
    // Runs the call there and returns once it ran.
    void Run(std::function<void()> call);

Q_SIGNALS:
    // Wakes the thread: the calls themselves wait in the queue.
    void Queued();

private:
    unsigned long long Queue(std::function<void()> call);
    void RunQueued();

    std::mutex mMutex;
    std::condition_variable mRan;
    std::deque<std::function<void()>> mQueued; // guarded by mMutex
    unsigned long long mQueuedCount = 0;        // guarded by mMutex
    unsigned long long mRanCount = 0;           // guarded by mMutex
};
