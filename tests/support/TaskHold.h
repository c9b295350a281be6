#pragma once

#include "media/AvManager.h"
#include "media/AvWorker.h"
#include "media/AvWorkerProperties.h"
#include "media/AvWorkerTask.h"

#include <QObject>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

// Holds the first engine task of one type on its thread before it starts, as
// a read that does not return would hold it. Lets it go on Release, when the
// hold goes, or after a safety wait of 8 s, so that a wait without a bound
// fails slowly rather than hanging the run.
class TaskHold
{
public:
    TaskHold(AvManager* engine, AvWorkerTaskType type)
        : mState(std::make_shared<State>())
    {
        // Runs before the worker's own delivery of the task: what is posted
        // to the worker here reaches its thread ahead of the task. The posted
        // call shares the state, so a hold that goes first (a test that ends)
        // leaves the held thread nothing freed to touch.
        //
        // The posted call carries no data of its own, and the state goes to
        // the held thread under a mutex of ours once the call is posted: the
        // held thread waits for it there. (The ThreadSanitizer build sees Qt
        // hand a signal's arguments to the receiving thread, but not a posted
        // call, which the thread may run before the posting call returns.)
        QObject::connect(engine, &AvManager::TaskStarted, &mReceiver, [state = mState, engine, type](int id, AvWorkerTask* task) {
            AvWorkerProperties const* record = engine->FindActiveWorker(id);
            if (task->type == type && record)
            {
                QMetaObject::invokeMethod(record->worker, [] {
                    std::shared_ptr<State> held;
                    {
                        std::unique_lock<std::mutex> locker(PendingMutex());
                        auto const posted = [] { return Pending().count(QThread::currentThread()) > 0; };
                        if (PendingPosted().wait_for(locker, std::chrono::seconds(8), posted))
                        {
                            auto const found = Pending().find(QThread::currentThread());
                            held = std::move(found->second);
                            Pending().erase(found);
                        }
                    }
                    if (held)
                    {
                        held->Hold();
                    }
                });
                std::lock_guard<std::mutex> const locker(PendingMutex());
                Pending()[record->thread] = state;
                PendingPosted().notify_all();
            }
        }, Qt::DirectConnection);
    }

    ~TaskHold() { Release(); }

    bool WaitUntilHeld()
    {
        std::unique_lock<std::mutex> locker(mState->mutex);
        return mState->changed.wait_for(locker, std::chrono::seconds(30), [this] { return mState->held > 0; });
    }

    void Release()
    {
        std::lock_guard<std::mutex> const locker(mState->mutex);
        mState->released = true;
        mState->changed.notify_all();
    }

    bool Released() const
    {
        std::lock_guard<std::mutex> const locker(mState->mutex);
        return mState->released;
    }

private:
    struct State
    {
        // Only the first task that comes is held.
        void Hold()
        {
            std::unique_lock<std::mutex> locker(mutex);
            if (held++ > 0)
            {
                return;
            }
            changed.notify_all();
            changed.wait_for(locker, std::chrono::seconds(8), [this] { return released; });
            released = true; // the safety wait is over: nothing more is held
        }

        std::mutex mutex;
        std::condition_variable changed;
        int held = 0;          // guarded by mutex
        bool released = false; // guarded by mutex
    };

    // The states posted to held threads, by thread, until each takes its own.
    static std::mutex& PendingMutex()
    {
        static std::mutex mutex;
        return mutex;
    }
    static std::map<QThread*, std::shared_ptr<State>>& Pending() // guarded by PendingMutex()
    {
        static std::map<QThread*, std::shared_ptr<State>> pending;
        return pending;
    }
    static std::condition_variable& PendingPosted()
    {
        static std::condition_variable posted;
        return posted;
    }

    std::shared_ptr<State> const mState;
    QObject mReceiver;
};
