#include "media/DecodeManager.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AudioDecoder.h"
#include "media/AudioFrame.h"
#include "media/AvHelpers.h"
#include "media/CacheBudget.h"
#include "media/ImageSequenceDecoder.h"
#include "media/VideoDecoder.h"
#include "media/VideoFrame.h"
#include "model/AudioStreamInfo.h"
#include "model/Clip.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/Track.h"
#include "model/VideoStreamInfo.h"
#include "app/TimeHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace
{
// Decoder results that end a clip: the start reached going backward, the end
// of the file going forward. The three decoders share the numbers.
int const STATUS_BUSY = 1;
int const STATUS_START_REACHED = 2;
int const STATUS_END_REACHED = 3;

long long const AUDIO_BACKWARD_START_MARGIN = 10000; // µs

// Cuts duration's worth of samples off the front of a block of sound (else
// off its back).
void CutAudio(AudioFrame& frame, long long duration, bool front, AudioOutputFormat const& format)
{
    long long const frameSize = AvHelpers::AudioOutputFrameSize(format);
    long long const cut = std::min(AvHelpers::AudioOutputSizeForDuration(duration, format), frame.byteSize);
    if (front)
    {
        frame.data.remove(0, static_cast<qsizetype>(cut));
    }
    else
    {
        frame.data.chop(static_cast<qsizetype>(cut));
    }
    frame.byteSize = frame.data.size();
    frame.samplesPerChannel -= cut / frameSize;
}
} // namespace

DecodeManager::DecodeManager(QObject* parent)
    : DecodeManager(DecodeSettings::FromSettings(), parent)
{
}

DecodeManager::DecodeManager(DecodeSettings const& settings, QObject* parent)
    : QObject(parent)
    , mSettings(settings)
    , mInbox(std::make_shared<DecodeCommandInbox>())
{
}

DecodeManager::~DecodeManager()
{
    Shutdown();
}

void DecodeManager::SetCommandInbox(std::shared_ptr<DecodeCommandInbox> inbox)
{
    if (inbox)
    {
        mInbox = std::move(inbox);
    }
    mSeenGeneration = mInbox->Generation();
}

void DecodeManager::StartDecoding(Timeline* timeline, DecodeType type, bool exportMode)
{
    if (!timeline || type == DecodeType::None)
    {
        Logger::GetInstance()->Error("Start decoding failed: Invalid timeline or decode type.");
        return;
    }
    mTimeline = timeline;
    mDecodeType = type;
    mExportMode = exportMode;
    mSeekTarget = -1;
    UpdateTrack();
    mDecoding = true;
    Decode();
    mCurrentClip = nullptr;
    mLastShownFrame.reset();
    mFrameList.clear();
    DeleteRetiredTracks();
    mTimeline = nullptr;
    mDecodeType = DecodeType::None;
}

void DecodeManager::StopDecoding()
{
    mDecoding = false;
    mClipActive = false;
    StopDecoders();
}

void DecodeManager::StopDecoders()
{
    // Ends a backward refill that is under way, so that nothing it still
    // holds reaches the cache.
    if (mVideoDecoder)
    {
        mVideoDecoder->StopDecoding();
    }
    if (mAudioDecoder)
    {
        mAudioDecoder->StopDecoding();
    }
}

void DecodeManager::Shutdown()
{
    delete mAudioDecoder;
    mAudioDecoder = nullptr;
    if (mVideoDecoder)
    {
        mVideoDecoder->Shutdown();
        delete mVideoDecoder;
        mVideoDecoder = nullptr;
    }
    if (mImageSequenceDecoder)
    {
        mImageSequenceDecoder->Shutdown();
        delete mImageSequenceDecoder;
        mImageSequenceDecoder = nullptr;
    }
}

// ---- Main loop ----

void DecodeManager::Decode()
{
    while (mDecoding)
    {
        // Whatever the last clip's decoder made of its file, every pass
        // reads the inbox.
        TakePostedCommands();
        if (!mDecoding)
        {
            break;
        }
        DeleteRetiredTracks();
        PassState const before = CurrentPassState();
        if (Clip* clip = mCurrentClip)
        {
            bool const hasMedia = clip->Type() != ClipType::Empty;
            if (mDecodeType == DecodeType::Video)
            {
                if (hasMedia && clip->HasVideo())
                {
                    clip->IsImageSequence() ? DecodeImageClip(clip) : DecodeVideoClip(clip);
                }
                else
                {
                    DecodeEmptyVideoClip(clip);
                }
            }
            else if (hasMedia && clip->HasAudio())
            {
                DecodeAudioClip(clip);
            }
            else
            {
                CacheAudioFrame(nullptr, nullptr);
                mClipActive = false;
            }
        }
        mLoopStartFill.SetClipOnlyForFill(false);
        if (!mDecoding)
        {
            break;
        }
        if (mRestartPending)
        {
            Restart();
        }
        else if (mCurrentClip)
        {
            PrepareClipForDecoding(-1);
        }
        if (mCurrentClip && CurrentPassState() == before)
        {
            // The pass changed nothing (a clip whose file fails, its
            // placeholder already cached): the next would only repeat it.
            WaitForCommand(mDecodeType == DecodeType::Video ? SleepVideoMsec() : SleepAudioMsec());
        }
        // Idle until the playhead needs another clip.
        while (mDecoding && !mCurrentClip)
        {
            TakePostedCommands();
            if (!mDecoding || mCurrentClip)
            {
                break;
            }
            if (mTimeline->IsDecodeForward() != DecodesForward())
            {
                PrepareClipForDecoding(-1);
            }
            else if (long long target = -1; Clip* clip = LoopStartFillClip(target))
            {
                // The clock loops a range whose start the cache lacks: its
                // clip is opened again, and its clip loop starts the fill.
                mCurrentClip = clip;
                mSeekTime = mDecodeType == DecodeType::Video
                                ? std::min(TimelineTimeToSourceTime(clip, mTimeline->VideoCacheAdjustedStartTime()),
                                           clip->CutOut())
                                : TimelineTimeToSourceTime(clip, mTimeline->AudioCacheStartTime() - 1) +
                                      AUDIO_BACKWARD_START_MARGIN;
                mLoopStartFill.SetClipOnlyForFill(true);
                break;
            }
            WaitForCommand(mDecodeType == DecodeType::Video ? SleepVideoMsec() : SleepAudioMsec());
            UpdateOutputs();
        }
    }
}

void DecodeManager::UpdateTrack()
{
    if (!mTimeline)
    {
        return;
    }
    if (mDecodeTrack)
    {
        mRetiredTracks.append(mDecodeTrack);
        mDecodeTrack = nullptr;
    }
    ClearCache();
    // What the loop needs of the timelines comes with their decode copies:
    // the user interface may be editing the timelines themselves.
    Timeline::DecodeState const state = mTimeline->DecodeStateSnapshot();
    mTimelineEndTime = state.endTime;
    mUseSourceAudioDelay = state.useSourceAudioDelay;
    Track* track = nullptr;
    if (mDecodeType == DecodeType::Video)
    {
        mLastShownFrame.reset();
        mLastShownPlaybackFrame = -1;
        track = mTimeline->DuplicateDecodeVideoTrack();
        if (!track || !track->HasVideo())
        {
            emit VideoFrameChanged(nullptr, nullptr, nullptr);
        }
    }
    else
    {
        track = mTimeline->DuplicateDecodeAudioTrack();
        Timeline const* override = state.audioOverride;
        Track* overrideTrack = override ? override->DuplicateDecodeAudioTrack() : nullptr;
        if (overrideTrack && overrideTrack->HasAudio())
        {
            long long const endTime = track ? track->EndTime() : 0;
            Timeline::DecodeState const overrideState = override->DecodeStateSnapshot();
            overrideTrack->UpdateClipTimesForAudioOverride(overrideState.playbackRangeStart,
                                                           overrideState.playbackRangeEnd, endTime);
            delete track;
            track = overrideTrack;
        }
        else
        {
            delete overrideTrack;
        }
    }
    if (track)
    {
        track->setParent(this);
    }
    mDecodeTrack = track;
    Restart();
}

void DecodeManager::DeleteRetiredTracks()
{
    if (mClipActive)
    {
        return;
    }
    qDeleteAll(mRetiredTracks);
    mRetiredTracks.clear();
}

void DecodeManager::Restart()
{
    if (!mTimeline)
    {
        return;
    }
    if (!mDecodeTrack)
    {
        Logger::GetInstance()->Error("Decode manager failed to get track for decoding");
        // Nothing of a replaced track may stay in use.
        mCurrentClip = nullptr;
        mClipActive = false;
        return;
    }
    ++mRestartCount;
    long long const time = mTimeline->PlaybackTime();
    if (!mClipActive)
    {
        mRestartPending = false;
        ClearCache();
        PrepareClipForDecoding(time);
        return;
    }
    StopDecoders();
    if (mDecodeTrack->ClipAtTime(time) == mCurrentClip)
    {
        // The running clip loop reseeks its decoder.
        mSeekTime = TimelineTimeToSourceTime(mCurrentClip, time);
        mSeekPending = true;
    }
    else
    {
        mCurrentClip = nullptr;
        mClipActive = false;
        mRestartPending = true;
    }
}

void DecodeManager::PrepareClipForDecoding(long long time)
{
    // A seek always decodes forward up to its target first.
    mForward = mTimeline->IsDecodeForward();
    mSeekDecodesForward = mSeekTarget >= 0;
    mCurrentClip = nullptr;
    mLoopStartFill.SetClipOnlyForFill(false);
    if (!mDecodeTrack)
    {
        return;
    }
    bool fromCacheEdge = time < 0;
    if (fromCacheEdge)
    {
        // Continuing from the cache's edge only helps a playhead inside the
        // cached range. One outside it (the clock stopped or turned before
        // the cache reached it) or an empty cache starts afresh at the
        // playhead, as a seek does.
        long long const playbackTime = mTimeline->PlaybackTime();
        bool const pastTheEnd = playbackTime > mTimelineEndTime;
        fromCacheEdge = mDecodeType == DecodeType::Video
                            ? mTimeline->VideoCacheFrameCount() > 0 &&
                                  (pastTheEnd || mTimeline->VideoCacheCoversTime(playbackTime))
                            : mTimeline->AudioCacheFrameCount() > 0 &&
                                  (pastTheEnd || mTimeline->AudioCacheCoversTime(playbackTime));
        if (!fromCacheEdge)
        {
            ClearCache();
        }
        time = fromCacheEdge ? NextDecodeTimeFromCache() : playbackTime;
        if (time < 0)
        {
            return;
        }
    }
    if (time > mDecodeTrack->Duration())
    {
        return;
    }
    mCurrentClip = mDecodeTrack->ClipAtTime(time);
    if (mCurrentClip && mCurrentClip->Type() != ClipType::Empty)
    {
        mSeekTime = std::min(TimelineTimeToSourceTime(mCurrentClip, time), mCurrentClip->CutOut());
        // Audio decoded backward ends at its start time, give or take a
        // microsecond of rounding: from the playhead it must start a little
        // later, so that the playhead's own block is among what comes.
        if (!fromCacheEdge && !mForward && !mSeekDecodesForward && mDecodeType == DecodeType::Audio)
        {
            mSeekTime += AUDIO_BACKWARD_START_MARGIN;
        }
    }
}

void DecodeManager::Seek()
{
    if (!mTimeline)
    {
        return;
    }
    long long const time = mTimeline->PlaybackTime();
    if (time == mSeekTarget)
    {
        return;
    }
    if (mDecodeType == DecodeType::Video && mLoopStartFill.Brings(time, mTimeline->VideoCacheAdjustedStartTime()))
    {
        return; // the fill in front under way brings it (the loop wrapped before it was done)
    }
    if (mDecodeType == DecodeType::Video && mSeekTarget >= 0 && time < mSeekTarget)
    {
        // The running decode reaches the new target on its way. (No picture
        // shows how far a seek has come: the viewer keeps the last one until
        // the target's, and never shows one of another frame.)
        std::shared_ptr<VideoFrame> const first = mTimeline->FirstCachedVideoFrame();
        if (first && first->adjustedStartTime <= time)
        {
            return;
        }
    }
    mSeekTarget = time;
    Restart();
}

void DecodeManager::ClearCache()
{
    if (!mTimeline)
    {
        return;
    }
    if (mDecodeType == DecodeType::Video)
    {
        mTimeline->ClearVideoCache(false);
    }
    else if (mDecodeType == DecodeType::Audio)
    {
        mTimeline->ClearAudioCache(false);
    }
}

long long DecodeManager::NextDecodeTimeFromCache() const
{
    bool const forward = DecodesForward();
    switch (mDecodeType)
    {
    case DecodeType::Video:
        return forward ? mTimeline->VideoCachePacketEndTime() + 1 : mTimeline->VideoCachePacketStartTime() - 1;
    case DecodeType::Audio:
        return forward ? mTimeline->AudioCacheEndTime() + 1 : mTimeline->AudioCacheStartTime() - 1;
    case DecodeType::None:
        break;
    }
    return -1;
}

bool DecodeManager::DecodesForward() const
{
    return mLoopStartFill.Active() ? mLoopStartFill.DecodesForward() : mSeekDecodesForward || mForward;
}

long long DecodeManager::SourceTimeToTimelineTime(Clip const* clip, long long time)
{
    return clip->StartTime() + time - clip->CutIn();
}

long long DecodeManager::TimelineTimeToSourceTime(Clip const* clip, long long time)
{
    return time - clip->StartTime() + clip->CutIn();
}

// ---- Clip loops ----

void DecodeManager::DecodeVideoClip(Clip* clip)
{
    if (!mVideoDecoder)
    {
        mVideoDecoder = new VideoDecoder(mSettings, mExportMode);
        connect(mVideoDecoder, &VideoDecoder::DecodingProgressed, this, &DecodeManager::UpdateOutputs);
        connect(mVideoDecoder, &VideoDecoder::DecodingProgressed, this, &DecodeManager::ReportVideoDecodingAdvanced);
        mVideoDecoder->SetCommandInbox(mInbox);
        connect(mVideoDecoder, &VideoDecoder::VideoFrameDecoded, this, &DecodeManager::CacheVideoFrame);
        mVideoDecoder->Initialize();
    }
    // The codec's threads are chosen by what its pictures cost the cache.
    mVideoDecoder->SetCacheBudget(mTimeline->VideoCacheMaximumSize());
    if (clip->HasErrors() || !clip->FileExists(0) || !OpenClipSource(mVideoDecoder, clip, clip->VideoStreamIndex()))
    {
        DecodeEmptyVideoClip(clip);
        return;
    }
    unsigned int const restarts = mRestartCount;
    bool const ranOut = RunClipLoop(ClipDecoder::Movie);
    mVideoDecoder->CloseSource();
    mTimeline->SetVideoCacheReservedSize(0);
    HoldPlaceholderIfNothingCached(clip, ranOut && restarts == mRestartCount);
}

void DecodeManager::DecodeImageClip(Clip* clip)
{
    if (!mImageSequenceDecoder)
    {
        mImageSequenceDecoder = new ImageSequenceDecoder(mSettings, mExportMode);
        connect(mImageSequenceDecoder, &ImageSequenceDecoder::VideoFrameDecoded, this, &DecodeManager::CacheVideoFrame);
        connect(mImageSequenceDecoder, &ImageSequenceDecoder::WorkerTaskFinished, this,
                [inbox = mInbox] { inbox->Post(); }, Qt::DirectConnection);
        mImageSequenceDecoder->Initialize(-1);
    }
    mImageSequenceDecoder->SetSource(clip->SourcePtr());
    unsigned int const restarts = mRestartCount;
    bool const ranOut = RunClipLoop(ClipDecoder::ImageSequence);
    HoldPlaceholderIfNothingCached(clip, ranOut && restarts == mRestartCount);
}

void DecodeManager::DecodeAudioClip(Clip* clip)
{
    if (!mAudioDecoder)
    {
        mAudioDecoder = new AudioDecoder(mSettings);
        connect(mAudioDecoder, &AudioDecoder::DecodingProgressed, this, &DecodeManager::UpdateOutputs);
        mAudioDecoder->SetCommandInbox(mInbox);
        connect(mAudioDecoder, &AudioDecoder::AudioFrameDecoded, this, &DecodeManager::CacheAudioFrame);
    }
    Source* source = clip->SourcePtr();
    mAudioDelay = source && mUseSourceAudioDelay ? source->AudioDelay() : 0;
    bool const opened = source && source->Duration() >= std::llabs(mAudioDelay) && !clip->HasErrors() &&
                        clip->FileExists(0) && OpenClipSource(mAudioDecoder, clip, clip->AudioStreamIndex());
    if (!opened)
    {
        CacheAudioFrame(nullptr, nullptr);
        mClipActive = false;
        return;
    }
    mAudioDecoder->SetVideoStreamIndexForSeek(source->FirstVideoStreamIndex());
    RunClipLoop(ClipDecoder::Audio);
    mAudioDecoder->CloseSource();
}

bool DecodeManager::OpenClipSource(AvDecoderBase* decoder, Clip* clip, int streamIndex)
{
    return mOpenFailures.Open(decoder, clip->SourcePtr(), streamIndex);
}

DecodeManager::PassState DecodeManager::CurrentPassState() const
{
    bool const video = mDecodeType == DecodeType::Video;
    return {mCurrentClip,
            mSeekTime,
            mSeekTarget,
            DecodesForward(),
            video ? mTimeline->VideoCacheFrameCount() : mTimeline->AudioCacheFrameCount(),
            video ? mTimeline->VideoCachePacketStartTime() : mTimeline->AudioCacheStartTime(),
            video ? mTimeline->VideoCachePacketEndTime() : mTimeline->AudioCacheEndTime()};
}

void DecodeManager::HoldPlaceholderIfNothingCached(Clip* clip, bool ranOut)
{
    // A stretch of a file that gives no picture at all still needs a frame,
    // or the loop would come back to it for ever.
    if (ranOut && !mClipCached && mDecoding && mCurrentClip == clip)
    {
        DecodeEmptyVideoClip(clip);
    }
}

void DecodeManager::DecodeEmptyVideoClip(Clip* clip)
{
    // One black picture stands for the whole clip; the intake stretches it.
    auto frame = std::make_shared<VideoFrame>(nullptr, nullptr, 1, 1, VideoFramePixelFormat::RGB24, clip->CutIn(),
                                              nullptr, mExportMode);
    frame->packetEndTime = clip->CutOut();
    CacheVideoFrame(frame);
    mClipActive = false;
    UpdateOutputs();
}

bool DecodeManager::RunClipLoop(ClipDecoder decoder)
{
    bool const audio = decoder == ClipDecoder::Audio;
    bool ranOut = false;
    mClipCached = false;
    mHeldPicture.reset();
    SetDecoderForward(decoder, DecodesForward());
    SeekDecoder(decoder, audio ? AudioDelayedClipSeekTime() : mSeekTime);
    mClipActive = true;
    while (mClipActive)
    {
        TakePostedCommands();
        if (!mClipActive)
        {
            break;
        }
        if (mSeekPending)
        {
            // An image sequence drops what its workers bring back from before
            // a seek: the wanted file waits for one worker, not for all.
            if (decoder != ClipDecoder::ImageSequence)
            {
                WaitForDecoderWorkers(decoder);
            }
            ClearCache();
            mHeldPicture.reset();
            mLoopStartFill.End();
            mLoopStartFill.SetClipOnlyForFill(false);
            mSeekDecodesForward = true; // up to its target
            SetDecoderForward(decoder, DecodesForward());
            SeekDecoder(decoder, audio ? AudioDelayedClipSeekTime() : mSeekTime);
            mSeekPending = false;
            mClipCached = false;
        }
        bool const onlyForFill = mLoopStartFill.ClipOnlyForFill();
        if (mLoopStartFill.Active())
        {
            StepLoopStartFill(decoder);
        }
        else if (!onlyForFill && !audio && FillAheadWaits())
        {
            WaitForCommand(SleepVideoMsec());
        }
        else if (!onlyForFill && (audio ? mTimeline->CanCacheAudioFrame() : mTimeline->CanCacheVideoFrame()))
        {
            int const status = DecodeNextOn(decoder);
            if (status == STATUS_START_REACHED || status == STATUS_END_REACHED)
            {
                // Collect what the workers still hold while the clip is
                // active: a seek arriving meanwhile then reseeks this loop,
                // and no frame of the old position lands after it.
                WaitForDecoderWorkers(decoder);
                if (!mInbox->CommandPending())
                {
                    // Nothing follows the last picture: it covers the rest.
                    CacheHeldPicture();
                    ranOut = mClipActive;
                    mClipActive = false;
                }
            }
            else if (status == STATUS_BUSY)
            {
                // The image loaders are all at work: take what they finish
                // as soon as one does.
                WaitForCommand(SLEEP_VIDEO_MS);
            }
        }
        else if (!StartLoopStartFill(decoder))
        {
            if (onlyForFill)
            {
                mClipActive = false; // no longer wanted, or no room for it
            }
            else
            {
                WaitForCommand(audio ? SleepAudioMsec() : SleepVideoMsec());
            }
        }
        UpdateOutputs();
        audio ? mTimeline->UpdateAudioCache() : mTimeline->UpdateVideoCache();
        // A fill in front of the cache runs its own way: pictures forward up
        // to the cache, sound backward from it.
        bool const forward = mLoopStartFill.Active() ? mLoopStartFill.DecodesForward()
                                                     : mSeekTarget >= 0 || mTimeline->IsDecodeForward();
        if (IsDecoderForward(decoder) != forward)
        {
            break; // the direction changed: the main loop continues from the other edge
        }
    }
    // Left in the middle of a fill in front, if any: the next clip loop
    // starts afresh.
    mLoopStartFill.End();
    mLoopStartFill.SetClipOnlyForFill(false);
    mClipActive = false;
    WaitForDecoderWorkers(decoder);
    mHeldPicture.reset();
    return ranOut;
}

bool DecodeManager::FillAheadWaits() const
{
    // Only ahead of a picture that is there to be shown: a seek, a step or
    // a playing clock still get theirs at once.
    return !mExportMode && mSeekTarget < 0 && mInbox->FillAheadHeld() && mInbox->ClockStopped() &&
           mTimeline->VideoCacheReady();
}

int DecodeManager::DecodeNextOn(ClipDecoder decoder)
{
    switch (decoder)
    {
    case ClipDecoder::Movie:
    {
        bool const seekWhileBackward = mSeekTarget >= 0 && !mTimeline->IsDecodeForward();
        if (seekWhileBackward)
        {
            SetBackwardWindowBudget();
        }
        mVideoDecoder->SetSeekKeepsBackwardWindow(seekWhileBackward);
        if (mVideoDecoder->BackwardWindowStartsNext())
        {
            PrepareBackwardWindow();
        }
        int const status = mVideoDecoder->DecodeNext();
        // What the decoder holds besides the cache counts against it.
        mTimeline->SetVideoCacheReservedSize(mVideoDecoder->HeldPictureBytes());
        if (status == VideoDecoder::STATUS_DONE)
        {
            ReportVideoDecodingAdvanced();
        }
        return status;
    }
    case ClipDecoder::ImageSequence:
        return mImageSequenceDecoder->DecodeNext();
    case ClipDecoder::Audio:
        return mAudioDecoder->DecodeNext();
    }
    return STATUS_END_REACHED;
}

void DecodeManager::ReportVideoDecodingAdvanced()
{
    // Only while something waits: the cache filling ahead of a shown
    // picture wakes nobody.
    if (mDecoding && mTimeline && !mExportMode && !mTimeline->VideoCacheReady())
    {
        emit VideoDecodingAdvanced();
    }
}

void DecodeManager::SetBackwardWindowBudget()
{
    long long const ahead = mTimeline->VideoCacheSizeBeforePlayhead();
    long long const behind = mTimeline->VideoCacheSize() - ahead;
    mVideoDecoder->SetBackwardWindowBudget(mTimeline->VideoCacheMaximumSize(),
                                           CacheBudget::KeptBesideBackwardWindow(ahead, behind));
}

void DecodeManager::PrepareBackwardWindow()
{
    SetBackwardWindowBudget();
    mVideoDecoder->PrepareBackwardWindow();
    mTimeline->SetVideoCacheReservedSize(mVideoDecoder->HeldPictureBytes());
    // Nothing is evicted while the window is decoded: the cache makes its
    // room first.
    MakeVideoCacheRoom(true);
}

void DecodeManager::MakeVideoCacheRoom(bool untilItCanCache)
{
    for (int count = mTimeline->VideoCacheFrameCount(); !untilItCanCache || !mTimeline->CanCacheVideoFrame();)
    {
        mTimeline->UpdateVideoCache();
        int const after = mTimeline->VideoCacheFrameCount();
        if (after == count)
        {
            break;
        }
        count = after;
    }
}

Clip* DecodeManager::LoopStartFillClip(long long& target) const
{
    // Only while playing forward.
    if (mExportMode || !mDecodeTrack || mSeekTarget >= 0 || !mTimeline->IsDecodeForward())
    {
        return nullptr;
    }
    return mLoopStartFill.WantedClip(*mTimeline, *mDecodeTrack, mDecodeType == DecodeType::Video,
                                     mSettings.audioFormat, target);
}

bool DecodeManager::StartLoopStartFill(ClipDecoder decoder)
{
    // Only in the clip the fill needs, while the clip loop follows the
    // clock's forward play.
    long long target = -1;
    Clip* clip = decoder == ClipDecoder::ImageSequence ? nullptr : LoopStartFillClip(target);
    if (!clip || clip != mCurrentClip || !DecodesForward())
    {
        return false;
    }
    return decoder == ClipDecoder::Audio ? StartSoundFill(clip, target) : StartPictureFill(clip, target);
}

bool DecodeManager::StartPictureFill(Clip* clip, long long target)
{
    if (!mVideoDecoder->IsDecodeForward())
    {
        return false;
    }
    long long const cacheStart = mTimeline->VideoCacheAdjustedStartTime();
    // A fill this cache cannot have is not planned again for it.
    mLoopStartFill.MarkTried(target, cacheStart);
    long long const windowEnd = TimelineTimeToSourceTime(clip, mTimeline->VideoCachePacketStartTime() - 1);
    long long const windowStart = TimelineTimeToSourceTime(clip, target);
    Source const* source = clip->SourcePtr();
    double const step = source ? source->FrameStep() : Source::DefaultFrameStep();
    if (windowEnd < windowStart || step <= 0.0)
    {
        return false;
    }
    auto const frames = static_cast<long long>(std::ceil(static_cast<double>(windowEnd - windowStart + 1) / step));
    // Beside the codec's own pictures going forward.
    if (!LoopStartFill::PicturesFit(*mTimeline, frames, mVideoDecoder->HeldPictureBytes()))
    {
        return false;
    }
    // Started: tried again after a turn or a seek cut it short.
    mLoopStartFill.ForgetTried();
    WaitForDecoderWorkers(ClipDecoder::Movie);
    mLoopStartFill.Begin(false, target);
    mHeldPicture.reset();
    // Forward from the range start: its picture, the one the wrap shows
    // first, is usable as soon as it is decoded, and the others follow it
    // faster than they are played.
    mVideoDecoder->SeekWithoutLead(windowStart);
    mSoughtTime = -1;
    mTimeline->SetVideoCacheReservedSize(mVideoDecoder->HeldPictureBytes());
    // Room for the pictures to come: the frames after the range go.
    MakeVideoCacheRoom(false);
    return true;
}

bool DecodeManager::StartSoundFill(Clip* clip, long long target)
{
    long long const cacheStart = mTimeline->AudioCacheStartTime();
    mLoopStartFill.MarkTried(target, cacheStart);
    mLoopStartFill.Begin(true, target);
    SetDecoderForward(ClipDecoder::Audio, mLoopStartFill.DecodesForward());
    mSeekTime = TimelineTimeToSourceTime(clip, cacheStart - 1) + AUDIO_BACKWARD_START_MARGIN;
    SeekDecoder(ClipDecoder::Audio, AudioDelayedClipSeekTime());
    return true;
}

bool DecodeManager::LoopStartFillGoesOn() const
{
    return mSeekTarget < 0 && mLoopStartFill.GoesOn(*mTimeline, mDecodeType == DecodeType::Video);
}

void DecodeManager::StepLoopStartFill(ClipDecoder decoder)
{
    if (!LoopStartFillGoesOn())
    {
        EndLoopStartFill(decoder);
        return;
    }
    bool const audio = decoder == ClipDecoder::Audio;
    int const status = audio ? DecodeNextOn(decoder) : mVideoDecoder->DecodeNext();
    if (!audio)
    {
        mTimeline->SetVideoCacheReservedSize(mVideoDecoder->HeldPictureBytes());
        if (status == STATUS_END_REACHED)
        {
            WaitForDecoderWorkers(decoder);
        }
    }
    if (status == STATUS_END_REACHED || (audio && status == STATUS_START_REACHED))
    {
        mLoopStartFill.MarkReached();
    }
    long long const cacheStart = audio ? mTimeline->AudioCacheStartTime() : mTimeline->VideoCacheAdjustedStartTime();
    if (mLoopStartFill.Reached() || cacheStart <= mLoopStartFill.Target())
    {
        // Done as far as it goes: not tried again from where it got to.
        mLoopStartFill.MarkTried(mLoopStartFill.Target(), cacheStart);
        EndLoopStartFill(decoder);
    }
}

void DecodeManager::EndLoopStartFill(ClipDecoder decoder)
{
    bool const audio = decoder == ClipDecoder::Audio;
    Clip* clip = mCurrentClip;
    mLoopStartFill.End();
    if (!audio)
    {
        mHeldPicture.reset();
        WaitForDecoderWorkers(ClipDecoder::Movie);
        // Pictures brought that never reached the cache go: the cache is
        // contiguous again.
        mTimeline->DropVideoCacheLead();
        mVideoDecoder->StopDecoding();
    }
    // Back to the clock's forward play, from the cache's end.
    SetDecoderForward(decoder, true);
    bool const cached = audio ? mTimeline->AudioCacheFrameCount() > 0 : mTimeline->VideoCacheFrameCount() > 0;
    long long const next = !cached ? mTimeline->PlaybackTime()
                           : audio ? mTimeline->AudioCacheEndTime() + 1
                                   : mTimeline->VideoCachePacketEndTime() + 1;
    if (!clip || mLoopStartFill.ClipOnlyForFill() || next > clip->EndTime())
    {
        // What follows the cache lies past this clip: the main loop goes on
        // from the cache's edge.
        mClipActive = false;
    }
    else if (audio)
    {
        mSeekTime = std::min(TimelineTimeToSourceTime(clip, next), clip->CutOut());
        SeekDecoder(ClipDecoder::Audio, AudioDelayedClipSeekTime());
    }
    else
    {
        SeekDecoder(ClipDecoder::Movie, std::min(TimelineTimeToSourceTime(clip, next), clip->CutOut()));
    }
    if (audio)
    {
        return;
    }
    mTimeline->SetVideoCacheReservedSize(mVideoDecoder->HeldPictureBytes());
    if (!mTimeline->VideoCacheReady())
    {
        // A wrap waited for the fill, which did not bring its time after all.
        Seek();
    }
}

void DecodeManager::CacheLoopStartFrame(Clip* clip, std::shared_ptr<VideoFrame> frame)
{
    long long const cacheStart = mTimeline->VideoCacheAdjustedStartTime();
    if (mLoopStartFill.Reached())
    {
        return;
    }
    if (!frame || frame->emptyFrame)
    {
        mLoopStartFill.MarkReached(); // the file ends before the cache: nothing comes between
        return;
    }
    int const targetIndex = mDecodeTrack->FrameAtTime(mLoopStartFill.Target()) - clip->StartFrame();
    int const index = PictureIndex(clip, *frame);
    if (index < targetIndex)
    {
        // Covers the range start unless a picture starts there.
        mLoopStartFill.Hold(std::move(frame), targetIndex);
        return;
    }
    if (index >= clip->FrameCount() || clip->StartFrame() + index >= mDecodeTrack->FrameAtTime(cacheStart))
    {
        mLoopStartFill.MarkReached();
        if (mLoopStartFill.HasHeld())
        {
            int const heldIndex = mLoopStartFill.HeldIndex();
            PlaceFrame(clip, mLoopStartFill.TakeHeld(), heldIndex, true);
        }
        // Nothing comes between the pictures brought and the cache.
        mTimeline->JoinVideoCacheLead();
        return;
    }
    if (mLoopStartFill.HasHeld() && index > targetIndex)
    {
        int const heldIndex = mLoopStartFill.HeldIndex();
        PlaceFrame(clip, mLoopStartFill.TakeHeld(), heldIndex, true);
    }
    mLoopStartFill.DropHeld();
    PlaceFrame(clip, std::move(frame), index, true);
}

void DecodeManager::SeekDecoder(ClipDecoder decoder, long long sourceTime)
{
    switch (decoder)
    {
    case ClipDecoder::Movie:
        mVideoDecoder->Seek(sourceTime);
        mTimeline->SetVideoCacheReservedSize(mVideoDecoder->HeldPictureBytes());
        mSoughtTime = mVideoDecoder->IsDecodeForward() ? std::max(sourceTime, 0LL) : -1;
        break;
    case ClipDecoder::ImageSequence:
        mImageSequenceDecoder->Seek(sourceTime);
        mSoughtTime = -1;
        break;
    case ClipDecoder::Audio:
        mAudioDecoder->Seek(sourceTime);
        break;
    }
}

void DecodeManager::SetDecoderForward(ClipDecoder decoder, bool forward)
{
    switch (decoder)
    {
    case ClipDecoder::Movie:
        mVideoDecoder->SetDecodeForward(forward);
        break;
    case ClipDecoder::ImageSequence:
        mImageSequenceDecoder->SetDecodeForward(forward);
        break;
    case ClipDecoder::Audio:
        mAudioDecoder->SetDecodeForward(forward);
        break;
    }
}

bool DecodeManager::IsDecoderForward(ClipDecoder decoder) const
{
    switch (decoder)
    {
    case ClipDecoder::Movie:
        return mVideoDecoder->IsDecodeForward();
    case ClipDecoder::ImageSequence:
        return mImageSequenceDecoder->IsDecodeForward();
    case ClipDecoder::Audio:
        return mAudioDecoder->IsDecodeForward();
    }
    return true;
}

void DecodeManager::WaitForDecoderWorkers(ClipDecoder decoder)
{
    auto const activeWorkers = [this, decoder] {
        switch (decoder)
        {
        case ClipDecoder::Movie:
            return mVideoDecoder->ActiveWorkerCount();
        case ClipDecoder::ImageSequence:
            return mImageSequenceDecoder->ActiveWorkerCount();
        case ClipDecoder::Audio:
            break;
        }
        return 0;
    };
    // A stop need not wait: the decoders' own shutdown collects their workers.
    // Other commands wait for the loop's next pass: the workers finish first.
    unsigned long long seen = mInbox->Generation();
    while (mDecoding && !mInbox->StopPending())
    {
        if (decoder == ClipDecoder::ImageSequence)
        {
            mImageSequenceDecoder->CollectFinishedWork();
        }
        if (activeWorkers() == 0)
        {
            break;
        }
        seen = mInbox->WaitForPost(seen, SLEEP_VIDEO_MS);
    }
}

// ---- Frame intake ----

void DecodeManager::CacheVideoFrame(std::shared_ptr<VideoFrame> frame)
{
    // Frames a decoder still delivers after a restart or reseek was asked
    // for belong to the old position.
    Clip* clip = mCurrentClip;
    if (!mTimeline || !clip || !mDecodeTrack || mSeekPending || mRestartPending)
    {
        mHeldPicture.reset();
        mLoopStartFill.DropHeld();
        return;
    }
    if (mLoopStartFill.Active())
    {
        CacheLoopStartFrame(clip, std::move(frame));
        return;
    }
    if (!frame)
    {
        CacheHeldPicture();
        // The file ran out: its last picture is held to the clip's end.
        if (mTimeline->VideoCacheFrameCount() > 0)
        {
            mTimeline->ExtendVideoCacheEndTime(clip->EndTime());
            mClipCached = true;
            EndSeekIfCovered(mTimeline->VideoCacheAdjustedStartTime(), mTimeline->VideoCacheAdjustedEndTime());
        }
        return;
    }
    if (frame->emptyFrame)
    {
        CacheHeldPicture();
        PlaceFrame(clip, std::move(frame), 0);
        return;
    }
    int index = PictureIndex(clip, *frame);
    int const frameCount = clip->FrameCount();
    if (DecodesForward())
    {
        if (index >= frameCount)
        {
            CacheHeldPicture();
            mClipActive = false;
            return;
        }
        // A picture from before the cut in covers the clip's first frame
        // unless a later one starts there.
        index = std::max(index, 0);
        if (mSoughtTime >= 0 && frame->packetStartTime > mSoughtTime)
        {
            // The decoder hands out a picture at or before the time it was
            // sought to unless none there decodes (a damaged first picture):
            // the first that does covers the frames before it, which are
            // given up rather than sought again and again.
            index = std::min(index, std::max(clip->FrameAtClipTime(mSoughtTime) - clip->CutInFrame(), 0));
        }
        mSoughtTime = -1;
        if (clip->IsImageSequence())
        {
            // One picture per frame: no later one can take its place, so it
            // is shown without waiting for the next.
            CacheHeldPicture();
            PlaceFrame(clip, std::move(frame), index);
            return;
        }
        if (StartsSoughtFrame(clip, *frame, index) && mHeldPicture && index == mHeldPictureIndex + 1)
        {
            // It follows the picture of the frame before, in order, and only a
            // picture starting later within the same frame could take its
            // place, none of which starts less than a frame after it: the seek
            // ends on it now, not once the next picture is decoded. (A picture
            // out of order, stamped late or early, still waits for the next.)
            CacheHeldPicture();
            PlaceFrame(clip, std::move(frame), index);
            return;
        }
        if (!mHeldPicture)
        {
            mPictureIndexBeforeHeld = std::numeric_limits<int>::min();
        }
        else if (index < mHeldPictureIndex)
        {
            // Pictures come in the order they are shown, so one of these two
            // carries a wrong timestamp, and only that one is given up (the
            // picture before it covers its frame): this one when it lies even
            // before the picture placed before the held one (timed early),
            // else the held one (timed late).
            if (index <= mPictureIndexBeforeHeld)
            {
                return;
            }
            mHeldPicture.reset();
        }
        else if (index != mHeldPictureIndex)
        {
            mPictureIndexBeforeHeld = mHeldPictureIndex;
            CacheHeldPicture();
        }
        mHeldPicture = std::move(frame);
        mHeldPictureIndex = index;
        return;
    }
    if (index >= frameCount)
    {
        return;
    }
    // Going backward there is nothing more of this clip before its cut in;
    // the picture that starts before it still covers its first frame unless
    // a later one starts there (the cache keeps the later one).
    bool const beforeCutIn = index < 0;
    PlaceFrame(clip, std::move(frame), std::max(index, 0));
    if (beforeCutIn && !mLoopStartFill.Active())
    {
        mClipActive = false;
    }
}

int DecodeManager::PictureIndex(Clip const* clip, VideoFrame const& picture)
{
    // Timestamps carry noise (a millisecond time base, a step where two
    // recordings were joined): a picture that starts a little off a frame's
    // start starts that frame; one that starts well inside a frame is shown
    // from the next.
    Source const* source = clip->SourcePtr();
    double const step = source ? source->FrameStep() : Source::DefaultFrameStep();
    double const tick = picture.streamInfo ? picture.streamInfo->timestampStep : 0.0;
    return TimeHelpers::PictureStartToFrame(picture.packetStartTime, step, tick) - clip->CutInFrame();
}

bool DecodeManager::StartsSoughtFrame(Clip const* clip, VideoFrame const& picture, int index) const
{
    if (mSeekTarget < 0 || index < 0 || index >= clip->FrameCount())
    {
        return false;
    }
    int const frame = clip->StartFrame() + index;
    if (mSeekTarget < mDecodeTrack->TimeAtFrame(frame, false) || mSeekTarget > mDecodeTrack->TimeAtFrame(frame, true))
    {
        return false;
    }
    Source const* source = clip->SourcePtr();
    double const step = source ? source->FrameStep() : Source::DefaultFrameStep();
    // Times are whole microseconds: a start computed from the frame's
    // number and one read from the stream may differ by one.
    long long const start = TimeHelpers::FrameToFrameStartTime(index + clip->CutInFrame(), step);
    return std::llabs(picture.packetStartTime - start) <= 1;
}

void DecodeManager::CacheHeldPicture()
{
    if (!mHeldPicture)
    {
        return;
    }
    Clip* clip = mCurrentClip;
    std::shared_ptr<VideoFrame> frame = std::move(mHeldPicture);
    mHeldPicture.reset();
    if (clip && mTimeline && mDecodeTrack)
    {
        PlaceFrame(clip, std::move(frame), mHeldPictureIndex);
    }
}

void DecodeManager::PlaceFrame(Clip* clip, std::shared_ptr<VideoFrame> frame, int index, bool lead)
{
    int const frameCount = clip->FrameCount();
    int const startFrame = clip->StartFrame() + index;
    int const endFrame = frame->emptyFrame ? clip->EndFrame() : startFrame;
    frame->startFrame = startFrame;
    frame->endFrame = endFrame;
    frame->adjustedStartTime = mDecodeTrack->TimeAtFrame(startFrame, false);
    frame->adjustedEndTime = mDecodeTrack->TimeAtFrame(endFrame, true);

    long long const clipStart = clip->StartTime();
    long long const packetStart = SourceTimeToTimelineTime(clip, frame->packetStartTime);
    frame->packetStartTime = index == 0 ? clipStart : std::max(packetStart, clipStart);
    if (index == frameCount - 1)
    {
        frame->packetEndTime = frame->adjustedEndTime.load();
    }
    else if (frame->packetEndTime != std::numeric_limits<long long>::max())
    {
        frame->packetEndTime = std::max(SourceTimeToTimelineTime(clip, frame->packetEndTime), clipStart);
    }
    long long const adjustedStart = frame->adjustedStartTime;
    long long const adjustedEnd = frame->adjustedEndTime;
    lead ? mTimeline->CacheLeadVideoFrame(std::move(frame)) : mTimeline->CacheVideoFrame(std::move(frame));
    mClipCached = true;
    EndSeekIfCovered(adjustedStart, adjustedEnd);
}

void DecodeManager::CacheAudioFrame(std::shared_ptr<AudioFrame> frame, AudioStreamInfo* streamInfo)
{
    Clip* clip = mCurrentClip;
    if (!mTimeline || !clip || mSeekPending || mRestartPending)
    {
        return;
    }
    long long const clipStart = clip->StartTime();
    long long const clipEnd = clip->EndTime();
    bool const forward = DecodesForward();
    if (!frame)
    {
        // No more blocks this way: silence fills the rest of the clip.
        if (forward)
        {
            mTimeline->ExtendAudioCacheEndTime(clipStart, clipEnd, mSettings.audioFormat);
        }
        else
        {
            mTimeline->ExtendAudioCacheStartTime(clipStart, clipEnd, mSettings.audioFormat);
        }
        EndSeekIfCovered(mTimeline->AudioCacheStartTime(), mTimeline->AudioCacheEndTime());
        return;
    }
    // The stream's first and last blocks, by the times the timing pass found.
    long long const offset = streamInfo ? streamInfo->startTimeOffset : 0;
    bool const first = streamInfo && frame->startTime + offset <= streamInfo->startTime;
    bool const last = streamInfo && streamInfo->endTime >= 0 && frame->endTime + offset >= streamInfo->endTime;

    long long start = SourceTimeToTimelineTime(clip, frame->startTime + mAudioDelay);
    long long end = SourceTimeToTimelineTime(clip, frame->endTime + mAudioDelay);
    if (mSeekTarget >= start && (mSeekTarget <= end || last))
    {
        EndSeekIfCovered(start, std::max(end, mSeekTarget));
    }

    if (end < clipStart)
    {
        if (!forward)
        {
            mClipActive = false;
        }
        return;
    }
    if (start < clipStart)
    {
        CutAudio(*frame, clipStart - start, true, mSettings.audioFormat);
        start = clipStart;
    }
    if (start > clipEnd)
    {
        if (forward)
        {
            mClipActive = false;
        }
        return;
    }
    if (end > clipEnd)
    {
        CutAudio(*frame, end - clipEnd, false, mSettings.audioFormat);
        end = clipEnd;
    }
    frame->startTime = start;
    frame->endTime = end;

    if (forward && first && start > clipStart)
    {
        mTimeline->ExtendAudioCacheEndTime(clipStart, start - 1, mSettings.audioFormat);
    }
    if (!forward && last && end < clipEnd)
    {
        mTimeline->ExtendAudioCacheStartTime(end + 1, clipEnd, mSettings.audioFormat);
    }
    mTimeline->CacheAudioFrame(std::move(frame));
    if (last && end < clipEnd)
    {
        mTimeline->ExtendAudioCacheEndTime(clipStart, clipEnd, mSettings.audioFormat);
    }
    if (!forward && first && start > clipStart)
    {
        mTimeline->ExtendAudioCacheStartTime(clipStart, start - 1, mSettings.audioFormat);
    }
}

void DecodeManager::EndSeekIfCovered(long long start, long long end)
{
    if (mSeekTarget < 0 || mSeekTarget < start || mSeekTarget > end)
    {
        return;
    }
    mSeekTarget = -1;
    mSeekDecodesForward = false;
    mForward = mTimeline->IsDecodeForward();
    if (!mForward)
    {
        // Backward decoding starts again from the edge of the cache.
        mClipActive = false;
    }
}

// ---- Events ----

void DecodeManager::UpdateOutputs()
{
    if (!mDecoding || !mTimeline)
    {
        return;
    }
    if (mDecodeType == DecodeType::Video)
    {
        mTimeline->DoDeferredVideoCacheCleanup();
        if (mTimeline->DurationExceeded())
        {
            if (mLastShownFrame)
            {
                // Past the end: the viewers clear once, not on every pass.
                mLastShownFrame.reset();
                mLastShownPlaybackFrame = -1;
                emit VideoFrameChanged(nullptr, nullptr, nullptr);
            }
        }
        else if (mTimeline->VideoCacheReady())
        {
            EmitFramesForPlaybackTime();
        }
        else
        {
            EmitNewestPictureBehindClock();
        }
    }
    else
    {
        mTimeline->DoDeferredAudioCacheCleanup();
        emit ProcessAudioOutput();
    }
}

bool DecodeManager::EmitFramesForPlaybackTime()
{
    long long const time = mTimeline->PlaybackTime();
    int const playbackFrame = mDecodeTrack ? mDecodeTrack->FrameAtTime(time) : -1;
    if (mLastShownFrame && mLastShownFrame->adjustedStartTime <= time && time <= mLastShownFrame->adjustedEndTime &&
        playbackFrame == mLastShownPlaybackFrame)
    {
        return false;
    }
    mTimeline->FindVideoFrames(time, mFrameList);
    if (mFrameList.size() < 3)
    {
        mFrameList.clear();
        return false;
    }
    mLastShownFrame = mFrameList.at(0);
    mLastShownPlaybackFrame = playbackFrame;
    bool const shown = mLastShownFrame != nullptr;
    if (shown)
    {
        emit VideoFrameChanged(mFrameList.at(0), mFrameList.at(1), mFrameList.at(2));
    }
    mFrameList.clear();
    return shown;
}

void DecodeManager::EmitNewestPictureBehindClock()
{
    DecodeCommandInbox::Clock const clock = mInbox->CurrentClock();
    if (mSeekTarget >= 0 || !clock.aheadOfPictures || !mDecodeTrack)
    {
        return; // a seek waits for its own picture; a waiting clock its own frame
    }
    bool const forward = mTimeline->IsDecodeForward();
    std::shared_ptr<VideoFrame> newest =
        forward ? mTimeline->LastCachedVideoFrame() : mTimeline->FirstCachedVideoFrame();
    if (!newest || newest == mLastShownFrame ||
        !(forward ? newest->adjustedEndTime < clock.time : newest->adjustedStartTime > clock.time))
    {
        return;
    }
    // Only a picture of the range being played, a frame or two from the
    // clock: a decode that starts at a key picture before the range brings
    // pictures the range never shows.
    int const clockFrame = mDecodeTrack->FrameAtTime(clock.time);
    LoopRange const loop = mTimeline->CacheLoopRange();
    if ((loop.IsSet() && !loop.Contains(newest->adjustedStartTime)) ||
        std::abs(clockFrame - newest->startFrame) > DecodeCommandInbox::PICTURE_LAG_FRAMES)
    {
        return;
    }
    mLastShownFrame = newest;
    mLastShownPlaybackFrame = clockFrame;
    emit VideoFrameChanged(std::move(newest), nullptr, nullptr);
}

void DecodeManager::TakePostedCommands()
{
    DecodeCommandInbox::Taken const taken = mInbox->Take();
    mSeenGeneration = taken.generation;
    unsigned const commands = taken.commands;
    if (commands == 0 || !mTimeline)
    {
        return;
    }
    if (DecodeCommandInbox::Has(commands, DecodeCommand::Stop))
    {
        StopDecoding();
        return;
    }
    if (DecodeCommandInbox::Has(commands, DecodeCommand::UpdateTrack))
    {
        UpdateTrack();
        emit DecodeTrackUpdated();
    }
    bool const video = mDecodeType == DecodeType::Video;
    bool const refresh = DecodeCommandInbox::Has(commands, DecodeCommand::RefreshCache);
    if (refresh)
    {
        video ? mTimeline->ClearVideoCache(false) : mTimeline->ClearAudioCache(false);
    }
    if (refresh || DecodeCommandInbox::Has(commands, DecodeCommand::Seek))
    {
        // The playhead may have come back into the cache since the post.
        if (!(video ? mTimeline->VideoCacheReady() : mTimeline->AudioCacheReady()))
        {
            Seek();
        }
    }
}

void DecodeManager::WaitForCommand(int ms)
{
    // A whole pass since the last wait (the outputs and the cache's eviction
    // included) that changed nothing, with nothing posted meanwhile: only a
    // post can bring anything new.
    PassState const state = CurrentPassState();
    bool const unchanged = mLastWaitGeneration == mSeenGeneration && mLastWaitState == state;
    mLastWaitState = state;
    mLastWaitGeneration = mSeenGeneration;
    if (unchanged && SleepsUntilPosted())
    {
        mInbox->WaitForPost(mSeenGeneration);
        return;
    }
    mInbox->WaitForPost(mSeenGeneration, ms);
}

bool DecodeManager::SleepsUntilPosted() const
{
    // With the clock stopped nothing the loop looks at changes without a
    // post, but for the frames a cleared cache still lets go a few at a
    // time on each pass.
    if (mExportMode || !mTimeline || !mInbox->ClockStopped())
    {
        return false;
    }
    return mDecodeType == DecodeType::Video ? !mTimeline->HasDeferredVideoCache()
                                            : !mTimeline->HasDeferredAudioCache();
}
