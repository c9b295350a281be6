#pragma once

class AvWorker;
class QThread;
struct AvWorkerTask;

// The engine front's record of one worker: its thread, the worker, the task
// it runs (owned) and what the front tracks about it.
struct AvWorkerProperties
{
    AvWorkerProperties(QThread* workerThread, AvWorker* avWorker);
    // Only once the thread has finished (the worker went with it): waits for
    // the thread's last steps, then releases the thread and the task.
    ~AvWorkerProperties();

    AvWorkerProperties(AvWorkerProperties const&) = delete;
    AvWorkerProperties& operator=(AvWorkerProperties const&) = delete;

    int id; // the worker's, kept here: the worker goes before the record
    QThread* thread;
    AvWorker* worker; // released by its thread's finished signal
    AvWorkerTask* task = nullptr;
    bool audioPlaybackReady = false; // the audio-output worker's only
    // Adjusted start and end of the last video frame this worker delivered.
    long long frameStartTime = -1;
    long long frameEndTime = -1;
    // The picture the viewer shows of this worker's frames, by the viewer's
    // own rule: a delivered frame at once, then at each playback time the
    // delivered frame or neighbour covering it. Start and end, -1 for none.
    struct Span
    {
        long long start = -1;
        long long end = -1;
        bool Covers(long long time) const { return start >= 0 && start <= time && time <= end; }
    };
    Span shown;
    Span kept[3]; // the delivered frame, its next and its previous neighbour
};
