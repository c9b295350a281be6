#pragma once

#include "media/AvManager.h"
#include "media/AvWorker.h"
#include "media/AvWorkerProperties.h"
#include "media/AvWorkerTask.h"

#include <QObject>

#include <chrono>
#include <condition_variable>
#include <mutex>

// Holds the first engine task of one type on its thread before it starts, as
// a read that does not return would hold it. Lets it go on Release, when the
// hold goes, or after a safety wait of 8 s, so that a wait without a bound
// fails slowly rather than hanging the run.
class TaskHold
{
public:
    TaskHold(AvManager* engine, AvWorkerTaskType type)
    {
        // Runs before the worker's own delivery of the task: what is posted
        // to the worker here reaches its thread ahead of the task.
        QObject::connect(engine, &AvManager::TaskStarted, &mReceiver, [this, engine, type](int id, AvWorkerTask* task) {
            AvWorkerProperties const* record = engine->FindActiveWorker(id);
            if (task->type == type && record)
            {
                QMetaObject::invokeMethod(record->worker, [this] { Hold(); });
            }
        }, Qt::DirectConnection);
    }

    ~TaskHold() { Release(); }

    bool WaitUntilHeld()
    {
        std::unique_lock<std::mutex> locker(mMutex);
        return mChanged.wait_for(locker, std::chrono::seconds(30), [this] { return mHeld > 0; });
    }

    void Release()
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        mReleased = true;
        mChanged.notify_all();
    }

    bool Released() const
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        return mReleased;
    }

private:
    // Only the first task that comes is held.
    void Hold()
    {
        std::unique_lock<std::mutex> locker(mMutex);
        if (mHeld++ > 0)
        {
            return;
        }
        mChanged.notify_all();
        mChanged.wait_for(locker, std::chrono::seconds(8), [this] { return mReleased; });
        mReleased = true; // the safety wait is over: nothing more is held
    }

    QObject mReceiver;
    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    int mHeld = 0;          // guarded by mMutex
    bool mReleased = false; // guarded by mMutex
};
