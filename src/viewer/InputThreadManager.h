#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>

#include <functional>

class InputWorker;
class QThread;
class QWidget;

// Owns the cursor sampling thread of a stroke. The worker reports global
// positions; they are mapped into the widget here, on the main thread, and
// re-emitted. A stopped thread and its worker are released once the thread
// has finished, never while it runs. Main thread only.
class InputThreadManager : public QObject
{
    Q_OBJECT

public:
    explicit InputThreadManager(QObject* parent = nullptr);
    // Stops and joins every thread still running.
    ~InputThreadManager() override;

    // The cursor query handed to each new worker (QCursor::pos when empty).
    void SetCursorQuery(std::function<QPoint()> query);

    // Starts sampling for the widget; nothing when a thread is running.
    void CreateInputThread(QWidget* widget);
    // Stops sampling; the thread and worker go when the thread has finished.
    void DestroyInputThread();
    bool IsThreadRunning() const;
    // Threads made and not yet released (running or finishing).
    int LiveThreadCount() const;

public Q_SLOTS:
    void OnMousePositionChanged(QPoint const& globalPosition);

Q_SIGNALS:
    void RunInputWorker();
    void ShutdownInputWorker();
    // A cursor position in the widget's coordinates (may lie outside it).
    void MousePositionChanged(QPoint const& position);

private:
    QThread* mThread = nullptr;
    InputWorker* mWorker = nullptr;
    bool mThreadRunning = false;
    QPointer<QWidget> mWidget;
    std::function<QPoint()> mCursorQuery;
    // Every thread made and not yet deleted, the current one included.
    QList<QPointer<QThread>> mThreads;
};
