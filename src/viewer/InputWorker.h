#pragma once

#include <QObject>
#include <QPoint>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

// Samples the cursor on the sampling thread while a stroke is drawn: one
// global position every Settings::annotationInputWorkerSleepDuration
// milliseconds. Positions are global: mapping them through a widget belongs to
// the main thread.
class InputWorker : public QObject
{
    Q_OBJECT

public:
    // The cursor query runs on the sampling thread; QCursor::pos by default.
    explicit InputWorker(std::function<QPoint()> cursorQuery = {});

    // Any thread: ends the loop of Run at its next wake-up, which comes at once.
    void RequestStop();
    bool IsStopRequested() const;

public Q_SLOTS:
    // Sampling thread: loops until RequestStop.
    void Run();
    void Shutdown();

Q_SIGNALS:
    void MousePositionChanged(QPoint const& globalPosition);

private:
    std::function<QPoint()> mCursorQuery; // set at construction, read on the sampling thread only
    // Written by any thread, read by the sampling thread; mMutex pairs with
    // mWake so that a stop between the check and the wait is not missed.
    std::atomic<bool> mStopRequested {false};
    std::mutex mMutex;
    std::condition_variable mWake;
};
