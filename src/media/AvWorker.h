#pragma once

#include "media/AvWorkerTask.h"
#include "media/ExportLoggingMsgType.h"

#include <QObject>
#include <QString>

#include <memory>

class AudioOutputManager;
class DecodeManager;
class ExportManager;
class Timeline;
struct VideoFrame;

// Runs one engine task on a thread of its own: a parse, a decode loop, an
// export, or the audio output. The engine front talks to it through signals
// that carry a worker id (-1 for every worker); a worker acts on its own id
// alone. Parse and export tasks run to their end inside DoTask; a decode task
// runs its loop there until it is ended; the audio output stays until it is
// ended.
class AvWorker : public QObject
{
    Q_OBJECT

public:
    explicit AvWorker(int id, QObject* parent = nullptr);

    int Id() const;

    // Wires the front's commands to this worker, which is to run task. A
    // decode loop runs no event loop: its commands go straight into the
    // task's inbox, posted on the front's thread. The audio output takes
    // them as queued calls. Front has the signals WorkerShutdownStarted,
    // DecodeTrackUpdated, SeekRequested and RefreshCacheRequested, each with
    // the id of the worker meant (-1: every worker).
    template<typename Front>
    void ConnectCommands(Front* front, AvWorkerTask const& task);

public Q_SLOTS:
    void DoTask(int id, AvWorkerTask* task);
    // The audio output's commands.
    void EndTask(int id);
    void Seek(int id);

    void SetAudioPlaybackTimeline(Timeline* timeline);
    void UpdateAudioOutputState(bool playing, bool forward, long long duration, float speed);
    void SetAudioOutputLevels(AudioOutputLevels levels);
    void SetAudioPlaybackReady(bool ready);
    void ResetAudioOutputDevice();
    void LogAudioOutputInfo();

    void OnVideoFrameChanged(std::shared_ptr<VideoFrame> current, std::shared_ptr<VideoFrame> previous,
                             std::shared_ptr<VideoFrame> next);

Q_SIGNALS:
    void TaskCompleted(int id);
    void DecodeTrackUpdated(int id);
    void VideoDecodingAdvanced(int id);
    void VideoFrameChanged(int id, std::shared_ptr<VideoFrame> current, std::shared_ptr<VideoFrame> previous,
                           std::shared_ptr<VideoFrame> next);
    void ExportLogMsgReceived(QString const& message, ExportLoggingMsgType type, bool isError);

private:
    bool IsOwnActiveTask(int id) const;
    void ParseSource();
    void DecodeTimeline();
    void ExportTimeline();
    void ClearCache(bool immediate);
    void InitializeAudioOutput();
    void ShutdownAudioOutput();

    int mId;
    bool mTaskActive = false;
    AvWorkerTask* mTask = nullptr;
    DecodeManager* mDecodeManager = nullptr;
    AudioOutputManager* mAudioOutputManager = nullptr;
    ExportManager* mExportManager = nullptr;
};

template<typename Front>
void AvWorker::ConnectCommands(Front* front, AvWorkerTask const& task)
{
    if (task.type != AvWorkerTaskType::DecodeVideo && task.type != AvWorkerTaskType::DecodeAudio)
    {
        QObject::connect(front, &Front::WorkerShutdownStarted, this, &AvWorker::EndTask);
        QObject::connect(front, &Front::SeekRequested, this, &AvWorker::Seek);
        return;
    }
    auto const poster = [inbox = task.inbox, id = mId](DecodeCommand command) {
        return [inbox, id, command](int target) {
            if (target == -1 || target == id)
            {
                inbox->Post(command);
            }
        };
    };
    QObject::connect(front, &Front::WorkerShutdownStarted, this, poster(DecodeCommand::Stop), Qt::DirectConnection);
    QObject::connect(front, &Front::DecodeTrackUpdated, this, poster(DecodeCommand::UpdateTrack),
                     Qt::DirectConnection);
    QObject::connect(front, &Front::SeekRequested, this, poster(DecodeCommand::Seek), Qt::DirectConnection);
    QObject::connect(front, &Front::RefreshCacheRequested, this, poster(DecodeCommand::RefreshCache),
                     Qt::DirectConnection);
}
