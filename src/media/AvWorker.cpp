#include "media/AvWorker.h"

#include "app/Logger.h"
#include "media/AudioOutputManager.h"
#include "media/AvParser.h"
#include "media/DecodeManager.h"
#include "media/ExportManager.h"
#include "media/ExportProperties.h"
#include "media/VideoFrame.h"
#include "model/Source.h"
#include "model/Timeline.h"

AvWorker::AvWorker(int id, QObject* parent)
    : QObject(parent)
    , mId(id)
{
}

int AvWorker::Id() const
{
    return mId;
}

bool AvWorker::IsOwnActiveTask(int id) const
{
    return id == mId && mTaskActive && mTask;
}

void AvWorker::DoTask(int id, AvWorkerTask* task)
{
    if (id != mId || mTaskActive || !task)
    {
        return;
    }
    mTask = task;
    mTaskActive = true;
    if (task->type == AvWorkerTaskType::AudioOutput)
    {
        // The audio output lives until the task is ended.
        InitializeAudioOutput();
        return;
    }
    if (task->timeline)
    {
        switch (task->type)
        {
        case AvWorkerTaskType::ParseSource:
            ParseSource();
            break;
        case AvWorkerTaskType::DecodeAudio:
        case AvWorkerTaskType::DecodeVideo:
            DecodeTimeline();
            break;
        case AvWorkerTaskType::ExportAudio:
        case AvWorkerTaskType::ExportVideo:
            ExportTimeline();
            break;
        case AvWorkerTaskType::AudioOutput:
            break;
        }
    }
    mTaskActive = false;
    ClearCache(false);
    emit TaskCompleted(mId);
}

void AvWorker::ParseSource()
{
    Source* source = mTask->timeline->SourcePtr();
    if (!source)
    {
        Logger::GetInstance()->Error("Parse source failed. Source timeline is invalid.");
        return;
    }
    AvParser parser(mTask->settings);
    parser.SetVideoTimesFromPackets(mTask->videoTimesFromPackets);
    parser.ParseMedia(source);
    mTask->restartCheck = parser.TakeRestartCheck();
}

void AvWorker::DecodeTimeline()
{
    mDecodeManager = new DecodeManager(mTask->settings, this);
    mDecodeManager->SetCommandInbox(mTask->inbox);
    connect(mDecodeManager, &DecodeManager::DecodeTrackUpdated, this, [this] { emit DecodeTrackUpdated(mId); });
    if (mTask->type == AvWorkerTaskType::DecodeVideo)
    {
        connect(mDecodeManager, &DecodeManager::VideoFrameChanged, this, &AvWorker::OnVideoFrameChanged);
        connect(mDecodeManager, &DecodeManager::VideoDecodingAdvanced, this,
                [this] { emit VideoDecodingAdvanced(mId); });
        mDecodeManager->StartDecoding(mTask->timeline, DecodeType::Video, false);
        emit VideoFrameChanged(mId, nullptr, nullptr, nullptr);
    }
    else
    {
        mDecodeManager->StartDecoding(mTask->timeline, DecodeType::Audio, false);
    }
    // The loop has unwound: nothing up the stack uses the manager any more.
    // Its shutdown may still let queued calls in, which must not reach it.
    DecodeManager* finished = mDecodeManager;
    mDecodeManager = nullptr;
    delete finished;
}

void AvWorker::ExportTimeline()
{
    ExportProperties* properties = mTask->exportProperties;
    if (!properties)
    {
        return;
    }
    mExportManager = new ExportManager(mTask->settings, this);
    connect(mExportManager, &ExportManager::ExportLogMsgReceived, this, &AvWorker::ExportLogMsgReceived);
    Timeline* timeline = mTask->timeline;
    if (mTask->type == AvWorkerTaskType::ExportAudio)
    {
        if (properties->startFrame >= 0)
        {
            timeline->SetPlaybackRangeByFrame(properties->startFrame, timeline->PlaybackRangeEndFrame());
        }
        mExportManager->ExportAudio(timeline, properties);
        properties->audioExporting = false;
    }
    else
    {
        mExportManager->ExportVideo(timeline, properties);
        properties->videoExporting = false;
    }
    ExportManager* finished = mExportManager;
    mExportManager = nullptr;
    delete finished;
}

void AvWorker::OnVideoFrameChanged(std::shared_ptr<VideoFrame> current, std::shared_ptr<VideoFrame> previous,
                                   std::shared_ptr<VideoFrame> next)
{
    emit VideoFrameChanged(mId, std::move(current), std::move(previous), std::move(next));
}

void AvWorker::EndTask(int id)
{
    if ((id != -1 && id != mId) || !mTaskActive)
    {
        return;
    }
    mTaskActive = false;
    if (mTask && mTask->type == AvWorkerTaskType::AudioOutput)
    {
        ShutdownAudioOutput();
        emit TaskCompleted(mId);
    }
}

void AvWorker::Seek(int id)
{
    if (IsOwnActiveTask(id) && mAudioOutputManager)
    {
        mAudioOutputManager->ClearAndResetAudioData();
    }
}

void AvWorker::ClearCache(bool immediate)
{
    if (!mTask || !mTask->timeline)
    {
        return;
    }
    if (mTask->type == AvWorkerTaskType::DecodeVideo)
    {
        mTask->timeline->ClearVideoCache(immediate);
    }
    else if (mTask->type == AvWorkerTaskType::DecodeAudio)
    {
        mTask->timeline->ClearAudioCache(immediate);
    }
}

void AvWorker::InitializeAudioOutput()
{
    if (!mAudioOutputManager)
    {
        mAudioOutputManager = new AudioOutputManager(mTask->timeline, mTask->settings.audioFormat, this);
        mAudioOutputManager->SetLevels(mTask->audioLevels);
        if (mTask->audioTimeline)
        {
            mAudioOutputManager->SetTimelineHandover(mTask->audioTimeline);
        }
    }
}

void AvWorker::ShutdownAudioOutput()
{
    // Released at once, so that nothing of it reads a timeline after the
    // task has completed.
    delete mAudioOutputManager;
    mAudioOutputManager = nullptr;
}

void AvWorker::SetAudioPlaybackTimeline(Timeline* timeline)
{
    if (!mAudioOutputManager)
    {
        return;
    }
    if (mTask->audioTimeline)
    {
        mAudioOutputManager->TakeHandedOverTimeline();
    }
    else
    {
        mAudioOutputManager->SetTimeline(timeline);
    }
}

void AvWorker::UpdateAudioOutputState(bool playing, bool forward, long long duration, float speed)
{
    if (mAudioOutputManager)
    {
        mAudioOutputManager->UpdateAudioOutputState(playing, forward, duration, speed);
    }
}

void AvWorker::SetAudioOutputLevels(AudioOutputLevels levels)
{
    if (mAudioOutputManager)
    {
        mAudioOutputManager->SetLevels(levels);
    }
}

void AvWorker::SetAudioPlaybackReady(bool ready)
{
    if (mAudioOutputManager)
    {
        mAudioOutputManager->SetAudioPlaybackReady(ready);
    }
}

void AvWorker::ResetAudioOutputDevice()
{
    if (mAudioOutputManager)
    {
        mAudioOutputManager->ResetAudioOutputDevice(QString());
    }
}

void AvWorker::LogAudioOutputInfo()
{
    if (mAudioOutputManager)
    {
        mAudioOutputManager->LogInfo();
    }
}
