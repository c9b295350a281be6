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
// export, or the audio output. The engine front talks to it only through
// queued signals that carry a worker id (-1 for every worker); a worker acts
// on its own id alone. Parse and export tasks run to their end inside
// DoTask; a decode task runs its loop there until it is ended; the audio
// output stays until it is ended.
class AvWorker : public QObject
{
    Q_OBJECT

public:
    explicit AvWorker(int id, QObject* parent = nullptr);

    int Id() const;

public Q_SLOTS:
    void DoTask(int id, AvWorkerTask* task);
    void EndTask(int id);
    void UpdateDecodeTrack(int id);
    void Seek(int id);
    void RefreshCache(int id);

    void SetAudioPlaybackTimeline(Timeline* timeline);
    void UpdateAudioOutputState(bool playing, bool forward, long long duration, float speed);
    void SetAudioPlaybackReady(bool ready);
    void ResetAudioOutputDevice();
    void LogAudioOutputInfo();

    void OnVideoFrameChanged(std::shared_ptr<VideoFrame> current, std::shared_ptr<VideoFrame> previous,
                             std::shared_ptr<VideoFrame> next);

Q_SIGNALS:
    void TaskCompleted(int id);
    void DecodeTrackUpdated(int id);
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
