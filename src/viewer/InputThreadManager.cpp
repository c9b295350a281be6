#include "viewer/InputThreadManager.h"

#include "viewer/InputWorker.h"

#include <QThread>
#include <QWidget>

InputThreadManager::InputThreadManager(QObject* parent)
    : QObject(parent)
{
}

InputThreadManager::~InputThreadManager()
{
    DestroyInputThread();
    for (QPointer<QThread> const& thread : std::as_const(mThreads))
    {
        if (thread)
        {
            thread->quit();
            thread->wait();
            // Its worker went with the thread's end; the thread's own queued
            // deletion is dropped with it.
            delete thread.data();
        }
    }
}

void InputThreadManager::SetCursorQuery(std::function<QPoint()> query)
{
    mCursorQuery = std::move(query);
}

void InputThreadManager::CreateInputThread(QWidget* widget)
{
    if (mThreadRunning)
    {
        return;
    }
    mWidget = widget;
    mThread = new QThread();
    mWorker = new InputWorker(mCursorQuery);
    connect(this, &InputThreadManager::RunInputWorker, mWorker, &InputWorker::Run);
    connect(mWorker, &InputWorker::MousePositionChanged, this, &InputThreadManager::OnMousePositionChanged);
    // Released only once the thread's loop has ended: the worker in the
    // thread as it finishes, the thread on the main thread.
    connect(mThread, &QThread::finished, mWorker, &QObject::deleteLater);
    connect(mThread, &QThread::finished, mThread, &QObject::deleteLater);
    mWorker->moveToThread(mThread);
    mThreads.removeAll(QPointer<QThread>());
    mThreads.append(mThread);
    mThread->start(QThread::InheritPriority);
    mThreadRunning = true;
    Q_EMIT RunInputWorker();
}

void InputThreadManager::DestroyInputThread()
{
    if (mThread)
    {
        Q_EMIT ShutdownInputWorker();
        // The stop flag is read by the running loop; quit ends the thread's
        // event loop once Run has returned.
        mWorker->RequestStop();
        disconnect(this, &InputThreadManager::RunInputWorker, mWorker, nullptr);
        disconnect(mWorker, &InputWorker::MousePositionChanged, this, nullptr);
        mThread->quit();
        mThread = nullptr;
        mWorker = nullptr;
    }
    mThreadRunning = false;
}

bool InputThreadManager::IsThreadRunning() const
{
    return mThreadRunning;
}

int InputThreadManager::LiveThreadCount() const
{
    int count = 0;
    for (QPointer<QThread> const& thread : mThreads)
    {
        count += thread ? 1 : 0;
    }
    return count;
}

void InputThreadManager::OnMousePositionChanged(QPoint const& globalPosition)
{
    if (!mThreadRunning || !mWidget)
    {
        return; // a sample queued before the stop
    }
    Q_EMIT MousePositionChanged(mWidget->mapFromGlobal(globalPosition));
}
