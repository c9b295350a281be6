#include "media/ExportManager.h"

#include "app/Settings.h"
#include "media/AvHelpers.h"
#include "media/DecodeManager.h"
#include "media/ExportProperties.h"
#include "media/VideoFrame.h"
#include "model/Timeline.h"

#include <algorithm>

namespace
{
long long const AUDIO_CHUNK_DURATION = 500000; // µs
long long const TIME_ADVANCE = 1000000;        // µs of playback per second of audio taken
} // namespace

ExportManager::ExportManager(QObject* parent)
    : QObject(parent)
{
}

ExportManager::~ExportManager()
{
    delete mDecodeManager;
}

void ExportManager::Initialize(DecodeType type, Timeline* timeline, ExportProperties* properties)
{
    mEncodingType = type;
    mTimeline = timeline;
    mProperties = properties;
    timeline->SetCacheSize(Settings::MINIMUM_TIMELINE_CACHE_SIZE);
    if (properties->ignoreRange)
    {
        timeline->SetPlaybackRangeByFrame(0, timeline->EndFrame());
    }
    mRangeDuration = timeline->PlaybackRangeEnd() - timeline->PlaybackRangeStart();
    mRangeStartFrame = timeline->PlaybackRangeStartFrame();
    mRangeEndFrame = timeline->PlaybackRangeEndFrame();
    mCurrentFrame = mRangeStartFrame;
    timeline->SetPlaybackFrame(mCurrentFrame);
}

void ExportManager::ExportAudio(Timeline* timeline, ExportProperties* properties)
{
    Initialize(DecodeType::Audio, timeline, properties);
    mAudioTotalBytes = AvHelpers::AudioOutputSizeForDuration(mRangeDuration);
    mAudioRemainingBytes = mAudioTotalBytes;
    mAudioChunkSize = AvHelpers::AudioOutputSizeForDuration(AUDIO_CHUNK_DURATION);
    mBytesSinceTimeAdvance = 0;
    mAudioPositionSet = false;
    mDecodeManager = new DecodeManager();
    connect(mDecodeManager, &DecodeManager::ProcessAudioOutput, this, &ExportManager::WriteAudioData);
    RunDecoding();
    timeline->ClearAudioCache(true);
}

void ExportManager::ExportVideo(Timeline* timeline, ExportProperties* properties)
{
    Initialize(DecodeType::Video, timeline, properties);
    mDecodeManager = new DecodeManager();
    connect(mDecodeManager, &DecodeManager::VideoFrameChanged, this, &ExportManager::WriteVideoFrame);
    RunDecoding();
    timeline->ClearVideoCache(true);
}

void ExportManager::RunDecoding()
{
    if (!IsStopped())
    {
        mDecodeManager->StartDecoding(mTimeline, mEncodingType, true);
    }
    delete mDecodeManager;
    mDecodeManager = nullptr;
    EndWithoutEncoder();
}

bool ExportManager::IsStopped() const
{
    return mProperties->failed || mProperties->cancelled;
}

void ExportManager::WriteAudioData()
{
    if (IsStopped())
    {
        mDecodeManager->StopDecoding();
        return;
    }
    if (!mAudioPositionSet)
    {
        if (!mTimeline->AudioCacheReady())
        {
            return;
        }
        mTimeline->ResetAudioBuffer(mAudioBuffer, -1);
        mAudioPositionSet = true;
    }
    long long const wanted = std::min(mAudioRemainingBytes, mAudioChunkSize);
    mTimeline->FillAudioBufferBySize(mAudioBuffer, static_cast<int>(wanted), true);
    if (mAudioBuffer.isEmpty() && mTimeline->AudioCacheEndTime() >= mTimeline->EndTime())
    {
        mAudioBuffer.fill('\0', static_cast<qsizetype>(wanted));
    }
    long long const taken = mAudioBuffer.size();
    mAudioBuffer.clear();
    mAudioRemainingBytes -= taken;
    mBytesSinceTimeAdvance += taken;
    mProperties->audioProgress = mAudioTotalBytes > 0
                                     ? static_cast<float>(mAudioTotalBytes - mAudioRemainingBytes) /
                                           static_cast<float>(mAudioTotalBytes) * 100.0f
                                     : 100.0f;
    // Move the decode window on as the samples are taken.
    while (mBytesSinceTimeAdvance >= 2 * mAudioChunkSize && mAudioChunkSize > 0)
    {
        mBytesSinceTimeAdvance -= 2 * mAudioChunkSize;
        mTimeline->SetPlaybackTime(mTimeline->PlaybackTime() + TIME_ADVANCE);
    }
    if (mAudioRemainingBytes <= 0)
    {
        mDecodeManager->StopDecoding();
    }
}

void ExportManager::WriteVideoFrame(std::shared_ptr<VideoFrame> frame)
{
    if (!frame)
    {
        if (IsStopped())
        {
            mDecodeManager->StopDecoding();
        }
        return;
    }
    // The decode loop runs one frame ahead of what is taken.
    if (mCurrentFrame < mRangeEndFrame)
    {
        mTimeline->SetPlaybackFrame(mCurrentFrame + 1);
    }
    int const span = mRangeEndFrame - mRangeStartFrame;
    mProperties->videoProgress =
        span > 0 ? static_cast<float>(mCurrentFrame - mRangeStartFrame) / static_cast<float>(span) * 100.0f : 100.0f;
    if (mCurrentFrame < mRangeEndFrame && !IsStopped())
    {
        ++mCurrentFrame;
        return;
    }
    mDecodeManager->StopDecoding();
}

void ExportManager::EndWithoutEncoder()
{
    // The side that ends last reports for the request: until then the other
    // side must not see it failed and stop.
    (mEncodingType == DecodeType::Audio ? mProperties->audioExporting : mProperties->videoExporting) = false;
    bool const otherRunning =
        mEncodingType == DecodeType::Audio ? mProperties->videoExporting : mProperties->audioExporting;
    bool notFailed = false;
    if (otherRunning || mProperties->cancelled || !mProperties->failed.compare_exchange_strong(notFailed, true))
    {
        return;
    }
    LogGeneralMsg(QStringLiteral("Export encoding is not available: %1 was not written").arg(mProperties->outputFilePath),
                  true);
}

void ExportManager::LogGeneralMsg(QString const& message, bool isError)
{
    emit ExportLogMsgReceived(message, ExportLoggingMsgType::General, isError);
}
