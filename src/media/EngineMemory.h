#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>

class Timeline;
struct AudioFrame;
struct VideoFrame;

// The engine front's memory: the frames a cleared cache let go, released a
// batch at a time so that no single call frees them all; the objects taken
// over (AvManager::ReleaseWhenUnused), each deleted once every task that ran
// when it came has ended; and the pictures' memory, given back to the system
// a while after nothing decodes any more. Owned by the AvManager; main thread
// only.
class EngineMemory : public QObject
{
    Q_OBJECT

public:
    // See AvManager::IDLE_MEMORY_RELEASE_MS.
    static constexpr int IDLE_MEMORY_RELEASE_MS = 3000;

    // tasksIdle: no task runs but the audio output.
    explicit EngineMemory(std::function<bool()> tasksIdle, QObject* parent = nullptr);

    // Takes the frames the timeline's cleared cache (pictures, else sound)
    // still defers, to be released a batch at a time.
    void TakeDeferredFrames(Timeline* timeline, bool video);
    // Drops the frames still to be released at once.
    void DropFrames();

    // Keeps the object until none of the tasks workerIds runs any more.
    void ReleaseWhenUnused(QObject* object, QSet<int> workerIds);
    // Deletes the objects whose tasks are all out of running.
    void ReleaseUnused(QSet<int> const& running);
    // Hands over every object still kept: a task left running may use it.
    QList<QObject*> TakeKept();

    // Starts the wait after which the pictures' memory goes back, when
    // nothing decodes and no frame waits to be released.
    void ReleaseWhenIdle();

private Q_SLOTS:
    void ReleaseFrameBatch();
    void ReleaseIfStillIdle();

private:
    bool Idle() const;

    std::function<bool()> mTasksIdle;
    // Objects taken over, each with the ids of the tasks that ran when it
    // came.
    struct PendingRelease
    {
        QObject* object;
        QSet<int> workerIds;
    };
    QList<PendingRelease> mPendingReleases;
    QList<std::shared_ptr<AudioFrame>> mAudioFramesToRelease;
    QList<std::shared_ptr<VideoFrame>> mVideoFramesToRelease;
    QTimer mFrameBatchTimer;
    // Started when nothing decodes any more; picture memory goes back when
    // it times out with nothing decoding still.
    QTimer mIdleTimer;
};
