#include "viewer/InputWorker.h"

#include "app/Settings.h"

#include <QCursor>

#include <algorithm>
#include <chrono>

InputWorker::InputWorker(std::function<QPoint()> cursorQuery)
    : QObject(nullptr)
    , mCursorQuery(cursorQuery ? std::move(cursorQuery) : [] { return QCursor::pos(); })
{
}

void InputWorker::RequestStop()
{
    {
        std::lock_guard<std::mutex> const lock(mMutex);
        mStopRequested.store(true);
    }
    mWake.notify_all();
}

bool InputWorker::IsStopRequested() const
{
    return mStopRequested.load();
}

void InputWorker::Run()
{
    auto const interval = std::chrono::milliseconds(std::max(0, Settings::annotationInputWorkerSleepDuration));
    std::unique_lock<std::mutex> lock(mMutex);
    while (!mStopRequested.load())
    {
        lock.unlock();
        Q_EMIT MousePositionChanged(mCursorQuery());
        lock.lock();
        mWake.wait_for(lock, interval, [this] { return mStopRequested.load(); });
    }
}

void InputWorker::Shutdown()
{
    RequestStop();
}
