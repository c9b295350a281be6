#include "model/Timeline.h"

#include "app/Settings.h"
#include "media/AudioFrame.h"
#include "media/AvHelpers.h"
#include "media/CacheManager.h"
#include "media/VideoFrame.h"
#include "model/Clip.h"
#include "model/FrameBookmark.h"
#include "model/RangeBookmark.h"
#include "model/Source.h"
#include "model/Track.h"
#include "model/VideoStreamInfo.h"

#include <QMutexLocker>
#include <QSet>

#include <algorithm>

namespace
{
double const CACHE_BALANCE_TARGET = 0.5; // keep half the cache on each side of the playhead
}

Timeline::Timeline(QObject* parent, bool createTrack)
    : QObject(parent)
{
    if (createTrack)
    {
        mMasterTrack = new Track(this);
        CreateTrackConnections(this, mMasterTrack);
    }
    mCacheManager = new CacheManager(this);
    mBackgroundFrameBookmark = new FrameBookmark();
}

Timeline::Timeline(QString const& mediaPath, QString const& relativeMediaPath, QUuid const& sourceId,
                   QObject* parent)
    : Timeline(parent, false)
{
    mMasterTrack = new Track(mediaPath, relativeMediaPath, sourceId, this);
    CreateTrackConnections(this, mMasterTrack);
}

Timeline::~Timeline()
{
    while (!mRangeBookmarks.isEmpty())
    {
        delete mRangeBookmarks.takeLast();
    }
    delete mBackgroundFrameBookmark;
    // The decode copies go first (members), then the master track with the
    // sources they share (Qt children).
}

void Timeline::CreateTrackConnections(Timeline* timeline, Track* track)
{
    connect(track, &Track::TrackUpdated, timeline, &Timeline::OnTrackUpdated);
    connect(track, &Track::SourceParsed, timeline, &Timeline::OnSourceParsed);
    connect(track, &Track::SourceUpdated, timeline, &Timeline::OnSourceUpdated);
    connect(track, &Track::FrameBookmarksReplaced, timeline, &Timeline::FrameBookmarksReplaced);
}

Timeline* Timeline::DuplicateForExport() const
{
    auto* copy = new Timeline(nullptr, false);
    copy->mMasterTrack = mMasterTrack->Duplicate();
    copy->mMasterTrack->setParent(copy);
    CreateTrackConnections(copy, copy->mMasterTrack);
    copy->SetPlaybackTime(PlaybackTime());
    copy->SetPlaybackRangeByFrame(mPlaybackRangeStartFrame, PlaybackRangeEndFrame());
    copy->RefreshClipStartTimes();
    copy->mAudioOverrideTimelineId = mAudioOverrideTimelineId;
    if (!IsSourceTimeline())
    {
        copy->mAudioOverrideTimeline = mAudioOverrideTimeline;
    }
    copy->UpdateDecodeTracks();
    return copy;
}

bool Timeline::IsSourceTimeline() const
{
    return mMasterTrack && mMasterTrack->IsSourceTrack();
}

Source* Timeline::SourcePtr() const
{
    return IsSourceTimeline() ? mMasterTrack->SourcePtr() : nullptr;
}

Clip* Timeline::SourceClip() const
{
    return IsSourceTimeline() ? mMasterTrack->SourceClip() : nullptr;
}

Track* Timeline::MasterTrack() const
{
    return mMasterTrack;
}

int Timeline::OutputId() const
{
    return mOutputId;
}

void Timeline::SetOutputId(int outputId)
{
    if (outputId == mOutputId)
    {
        return;
    }
    mOutputId = outputId;
    emit TimelineUpdated();
}

bool Timeline::HasErrors() const
{
    return mMasterTrack->HasErrors();
}

bool Timeline::HasAudio() const
{
    return mMasterTrack->HasAudio();
}

bool Timeline::HasVideo() const
{
    return mMasterTrack->HasVideo();
}

QString Timeline::ToString() const
{
    return QString();
}

// ---- Time and frames ----

long long Timeline::Duration() const
{
    return mMasterTrack->Duration();
}

long long Timeline::EndTime() const
{
    return mMasterTrack->EndTime();
}

int Timeline::FrameCount() const
{
    return mMasterTrack->FrameCount();
}

int Timeline::EndFrame() const
{
    return mMasterTrack->EndFrame();
}

QList<int> Timeline::FramesPerClip() const
{
    return mMasterTrack->FramesPerClip();
}

int Timeline::FrameAtTime(long long time) const
{
    return mMasterTrack->FrameAtTime(time);
}

long long Timeline::TimeAtFrame(int frame, bool frameEnd) const
{
    return mMasterTrack->TimeAtFrame(frame, frameEnd);
}

double Timeline::FrameRateAtFrame(int frame, int streamIndex) const
{
    return streamIndex == 0 ? mMasterTrack->FrameRateAtFrame(frame) : -1.0;
}

double Timeline::FrameStepAtFrame(int frame) const
{
    double const rate = mMasterTrack->FrameRateAtFrame(frame);
    return rate > 0.0 ? AvHelpers::FrameRateToFrameStep(rate) : Source::DefaultFrameStep();
}

long long Timeline::PlaybackTime() const
{
    return mPlaybackTime;
}

void Timeline::SetPlaybackTime(long long time)
{
    long long const endTime = EndTime();
    mDurationExceeded = endTime < time;
    mPlaybackTime = std::min(time, endTime);
}

void Timeline::SetPlaybackFrame(int frame)
{
    int const clamped = std::clamp(frame, 0, std::max(EndFrame(), 0));
    // An empty track has no frame 0; its time is 0.
    SetPlaybackTime(std::max(0LL, TimeAtFrame(clamped, false)));
}

int Timeline::PlaybackFrame() const
{
    return FrameAtTime(mPlaybackTime);
}

bool Timeline::DurationExceeded() const
{
    return mDurationExceeded;
}

int Timeline::CurrentClipIndex() const
{
    return mMasterTrack->ClipIndexAtTime(mPlaybackTime);
}

Source* Timeline::SourceAtPlaybackTime(long long time) const
{
    Clip* clip = mMasterTrack->ClipAtTime(time);
    return clip ? clip->SourcePtr() : nullptr;
}

// ---- Playback range ----

void Timeline::SetPlaybackRangeByFrame(int start, int end)
{
    int const endFrame = EndFrame();
    int const s = std::clamp(start, 0, std::max(endFrame, 0));
    // A range reaching the last frame (or with a negative end) is stored open.
    int const e = (end >= 0 && end < endFrame) ? end : -1;
    if (e >= 0 && s > e)
    {
        return; // an inverted range is refused
    }
    if (s == mPlaybackRangeStartFrame && e == mPlaybackRangeEndFrame)
    {
        return;
    }
    mPlaybackRangeStartFrame = s;
    mPlaybackRangeEndFrame = e;
    UpdatePlaybackRangeTimes();
    if (IsSourceTimeline())
    {
        ApplySourceCuts(s, e);
    }
    emit PlaybackRangeChanged(mPlaybackRangeStart, ClampedRangeEnd());
}

void Timeline::ApplySourceCuts(int start, int end)
{
    Source* source = SourcePtr();
    if (!source)
    {
        return;
    }
    // Each setter clamps against the other cut, so moving the range forward
    // must write the cut out first, and moving it back the cut in first.
    if (start > source->CutInFrame())
    {
        source->SetCutOutFrame(end);
        source->SetCutInFrame(start);
    }
    else
    {
        source->SetCutInFrame(start);
        source->SetCutOutFrame(end);
    }
}

void Timeline::UpdatePlaybackRangeTimes()
{
    mPlaybackRangeStart = std::max(0LL, TimeAtFrame(mPlaybackRangeStartFrame, false));
    mPlaybackRangeEnd = mPlaybackRangeEndFrame < 0 ? -1 : TimeAtFrame(mPlaybackRangeEndFrame, true);
}

long long Timeline::ClampedRangeEnd() const
{
    return mPlaybackRangeEnd < 0 ? EndTime() : mPlaybackRangeEnd;
}

int Timeline::PlaybackRangeStartFrame() const
{
    return mPlaybackRangeStartFrame;
}

int Timeline::PlaybackRangeEndFrame() const
{
    return mPlaybackRangeEndFrame < 0 ? EndFrame() : mPlaybackRangeEndFrame;
}

int Timeline::PlaybackRangeEndFrameUnresolved() const
{
    return mPlaybackRangeEndFrame;
}

long long Timeline::PlaybackRangeStart() const
{
    return mPlaybackRangeStart;
}

long long Timeline::PlaybackRangeEnd() const
{
    return ClampedRangeEnd();
}

int Timeline::TimeControlFrameOffset() const
{
    return Settings::timeControlFrameOffset;
}

void Timeline::ProcessProjectTimeControlOffsetChange()
{
    emit TimeControlFrameOffsetChanged(Settings::timeControlFrameOffset);
}

bool Timeline::GlobalWidthHeight(int& width, int& height) const
{
    Clip* clip = mMasterTrack->ClipAtIndex(0);
    VideoStreamInfo const* stream =
        (clip && clip->HasVideo()) ? clip->VideoStreamInfoAtIndex(clip->SourcePtr()->DescribingFileIndex()) : nullptr;
    if (!stream)
    {
        width = -1;
        height = -1;
        return false;
    }
    width = stream->width;
    height = stream->height;
    return true;
}

// ---- Clips ----

int Timeline::InsertClipAtIndex(Clip* clip, int index, bool emitEdited)
{
    if (IsSourceTimeline() || !clip)
    {
        return -1;
    }
    clip->SetUseSourceInOutsEnabled(mUseSourceInOuts);
    int const result = mMasterTrack->InsertClipAtIndex(clip, index);
    if (emitEdited)
    {
        emit MasterTrackEdited();
    }
    return result;
}

Clip* Timeline::RemoveClipAtIndex(int index, bool emitEdited)
{
    if (IsSourceTimeline())
    {
        return nullptr;
    }
    Clip* clip = mMasterTrack->RemoveClipAtIndex(index);
    if (clip && emitEdited)
    {
        emit MasterTrackEdited();
    }
    return clip;
}

void Timeline::MoveClip(int from, int to)
{
    if (IsSourceTimeline())
    {
        return;
    }
    mMasterTrack->MoveClip(from, to);
    emit MasterTrackEdited();
}

void Timeline::SetClipOrder(QList<QUuid> const& clipIds)
{
    if (IsSourceTimeline())
    {
        return;
    }
    mMasterTrack->SetClipOrder(clipIds);
    emit MasterTrackEdited();
}

void Timeline::RefreshClipStartTimes()
{
    mMasterTrack->RefreshClipStartTimes();
}

QList<QUuid> Timeline::OrderedClipIds() const
{
    return mMasterTrack->OrderedClipIds();
}

int Timeline::ClipCount() const
{
    return mMasterTrack->ClipCount();
}

Clip* Timeline::ClipAtIndex(int index) const
{
    return mMasterTrack->ClipAtIndex(index);
}

Clip* Timeline::ClipAtTime(long long time) const
{
    return mMasterTrack->ClipAtTime(time);
}

long long Timeline::ClipStartTimeAtIndex(int index) const
{
    return mMasterTrack->ClipStartTimeAtIndex(index);
}

bool Timeline::ContainsClipWithSource(QUuid const& sourceId) const
{
    return mMasterTrack->ContainsClipWithSource(sourceId);
}

int Timeline::ClipIndexWithSource(QUuid const& sourceId) const
{
    return mMasterTrack->ClipIndexWithSource(sourceId);
}

QList<int> Timeline::ClipIndiciesWithSource(QUuid const& sourceId) const
{
    return mMasterTrack->ClipIndiciesWithSource(sourceId);
}

bool Timeline::ContainsClipWithMediaPath(QString const& path) const
{
    return mMasterTrack->ContainsClipWithMediaPath(path);
}

// ---- Use-source switches, audio delay and override ----

void Timeline::SetUseSourceInOutsEnabled(bool enabled)
{
    if (IsSourceTimeline() || enabled == mUseSourceInOuts)
    {
        return;
    }
    mUseSourceInOuts = enabled;
    mMasterTrack->SetUseSourceInOutsEnabled(enabled);
    mMasterTrack->RefreshClipStartTimes();
    OnTrackUpdated();
    emit UseSourcePropertiesInTimelineChanged();
    emit MasterTrackEdited();
}

void Timeline::SetUseSourceAudioDelayEnabled(bool enabled)
{
    if (IsSourceTimeline() || enabled == mUseSourceAudioDelay)
    {
        return;
    }
    mUseSourceAudioDelay = enabled;
    emit UseSourcePropertiesInTimelineChanged();
    emit MasterTrackEdited();
}

bool Timeline::IsUseSourceInOutsEnabled() const
{
    return mUseSourceInOuts;
}

bool Timeline::IsUseSourceAudioDelayEnabled() const
{
    return mUseSourceAudioDelay;
}

long long Timeline::AudioDelay() const
{
    Source* source = SourcePtr();
    return source ? source->AudioDelay() : 0;
}

void Timeline::SetAudioDelay(long long delay)
{
    Source* source = SourcePtr();
    if (!source || source->AudioDelay() == delay)
    {
        return;
    }
    source->SetAudioDelay(delay);
    emit MasterTrackEdited();
}

void Timeline::SetAudioOverrideTimelineId(QUuid const& timelineId)
{
    if (IsSourceTimeline() || timelineId == mAudioOverrideTimelineId)
    {
        return;
    }
    mAudioOverrideTimelineId = timelineId;
    emit MasterTrackEdited();
    emit AudioOverrideTimelineChanged();
}

QUuid Timeline::AudioOverrideTimelineId() const
{
    return mAudioOverrideTimelineId;
}

void Timeline::SetAudioOverrideTimeline(Timeline* timeline)
{
    if (IsSourceTimeline())
    {
        return;
    }
    mAudioOverrideTimeline = timeline;
}

Timeline* Timeline::AudioOverrideTimeline() const
{
    return mAudioOverrideTimeline;
}

// ---- Decoding ----

void Timeline::UpdateDecodeTracks()
{
    QSet<Timeline const*> visited;
    for (Timeline* timeline = this; timeline && !visited.contains(timeline);
         timeline = timeline->mAudioOverrideTimeline)
    {
        visited.insert(timeline);
        timeline->ReplaceDecodeTracks();
    }
}

void Timeline::ReplaceDecodeTracks()
{
    std::unique_ptr<Track> audio(mMasterTrack->Duplicate());
    std::unique_ptr<Track> video(mMasterTrack->Duplicate());
    DecodeState const state {EndTime(), mAudioOverrideTimeline, PlaybackRangeStart(), PlaybackRangeEnd(),
                             mUseSourceAudioDelay};
    QMutexLocker locker(&mDecodeTrackMutex);
    // Safe to release the old copies here: decode loops only copy them
    // under this lock.
    mDecodeAudioTrack = std::move(audio);
    mDecodeVideoTrack = std::move(video);
    mDecodeState = state;
}

Timeline::DecodeState Timeline::DecodeStateSnapshot() const
{
    QMutexLocker locker(&mDecodeTrackMutex);
    return mDecodeState;
}

Track* Timeline::DuplicateDecodeAudioTrack() const
{
    QMutexLocker locker(&mDecodeTrackMutex);
    return mDecodeAudioTrack ? mDecodeAudioTrack->Duplicate() : nullptr;
}

Track* Timeline::DuplicateDecodeVideoTrack() const
{
    QMutexLocker locker(&mDecodeTrackMutex);
    return mDecodeVideoTrack ? mDecodeVideoTrack->Duplicate() : nullptr;
}

void Timeline::SetDecodeBias(DecodeBias bias)
{
    mDecodeBias = bias;
}

bool Timeline::IsDecodeForward() const
{
    return static_cast<int>(mDecodeBias.load()) < static_cast<int>(DecodeBias::StepBackward);
}

// ---- Frame bookmarks ----

FrameBookmark* Timeline::FrameBookmarkAt(int frame) const
{
    return mMasterTrack->FrameBookmarkAt(frame);
}

QList<FrameBookmark*> Timeline::FrameBookmarkList() const
{
    return mMasterTrack->FrameBookmarkList();
}

int Timeline::InsertFrameBookmark(int frame, FrameBookmark* bookmark)
{
    int const index = mMasterTrack->InsertFrameBookmark(frame, bookmark);
    if (index >= 0)
    {
        emit BookmarksChanged();
    }
    return index;
}

FrameBookmark* Timeline::RemoveFrameBookmark(int frame)
{
    FrameBookmark* bookmark = mMasterTrack->RemoveFrameBookmark(frame);
    if (bookmark)
    {
        emit BookmarksChanged();
    }
    return bookmark;
}

FrameBookmark* Timeline::BackgroundFrameBookmark() const
{
    return mBackgroundFrameBookmark;
}

void Timeline::SetBackgroundFrameBookmark(FrameBookmark* bookmark)
{
    if (bookmark == mBackgroundFrameBookmark)
    {
        return;
    }
    FrameBookmark* previous = mBackgroundFrameBookmark;
    mBackgroundFrameBookmark = bookmark ? bookmark : new FrameBookmark();
    emit FrameBookmarksReplaced();
    delete previous;
}

FrameBookmark* Timeline::TakeBackgroundFrameBookmark()
{
    FrameBookmark* bookmark = mBackgroundFrameBookmark;
    mBackgroundFrameBookmark = new FrameBookmark();
    emit FrameBookmarksReplaced();
    return bookmark;
}

bool Timeline::IsUndoClean() const
{
    return mBackgroundFrameBookmark->undoStack.isClean() && mMasterTrack->IsUndoClean();
}

void Timeline::SetUndoClean()
{
    mBackgroundFrameBookmark->undoStack.setClean();
    mMasterTrack->SetUndoClean();
}

// ---- Range bookmarks ----

bool Timeline::RangeBookmarkExists(int start, int end) const
{
    return std::any_of(mRangeBookmarks.cbegin(), mRangeBookmarks.cend(), [start, end](RangeBookmark const* range) {
        return range->startFrame == start && range->endFrame == end;
    });
}

int Timeline::InsertRangeBookmark(int start, int end)
{
    int index = mRangeBookmarks.size();
    for (int i = 0; i < mRangeBookmarks.size(); ++i)
    {
        RangeBookmark const* range = mRangeBookmarks.at(i);
        if (range->startFrame == start && range->endFrame == end)
        {
            return -1;
        }
        if (range->startFrame > start || (range->startFrame == start && range->endFrame > end))
        {
            index = i;
            break;
        }
    }
    mRangeBookmarks.insert(index, new RangeBookmark {start, end});
    emit BookmarksChanged();
    return index;
}

int Timeline::InsertRangeBookmarks(QList<QPair<int, int>> const& ranges)
{
    QList<QPair<int, int>> added = ranges;
    std::sort(added.begin(), added.end());
    added.erase(std::unique(added.begin(), added.end()), added.end());
    // One merge of two sorted lists instead of a walk of the list per range.
    QList<RangeBookmark*> merged;
    merged.reserve(mRangeBookmarks.size() + added.size());
    int inserted = 0;
    auto existing = mRangeBookmarks.cbegin();
    for (QPair<int, int> const& range : std::as_const(added))
    {
        while (existing != mRangeBookmarks.cend() && qMakePair((*existing)->startFrame, (*existing)->endFrame) < range)
        {
            merged.append(*existing++);
        }
        if (existing != mRangeBookmarks.cend() && (*existing)->startFrame == range.first &&
            (*existing)->endFrame == range.second)
        {
            continue;
        }
        merged.append(new RangeBookmark {range.first, range.second});
        ++inserted;
    }
    while (existing != mRangeBookmarks.cend())
    {
        merged.append(*existing++);
    }
    if (inserted > 0)
    {
        mRangeBookmarks = merged;
        emit BookmarksChanged();
    }
    return inserted;
}

bool Timeline::RemoveRangeBookmark(int start, int end)
{
    for (int i = 0; i < mRangeBookmarks.size(); ++i)
    {
        RangeBookmark const* range = mRangeBookmarks.at(i);
        if (range->startFrame == start && range->endFrame == end)
        {
            delete mRangeBookmarks.takeAt(i);
            emit BookmarksChanged();
            return true;
        }
    }
    return false;
}

bool Timeline::ToggleRangeBookmark(int start, int end)
{
    if (RangeBookmarkExists(start, end))
    {
        return RemoveRangeBookmark(start, end);
    }
    return InsertRangeBookmark(start, end) >= 0;
}

QList<RangeBookmark*> const& Timeline::RangeBookmarkList() const
{
    return mRangeBookmarks;
}

// ---- Pan, zoom and hold ----

void Timeline::SetPanAndZoom(QPointF pan, float zoom, bool enabled)
{
    mPan = QPointF(std::clamp(pan.x(), -1.0, 1.0), std::clamp(pan.y(), -1.0, 1.0));
    if (zoom <= Settings::ZOOM_FACTOR_MINIMUM)
    {
        zoom = Settings::ZOOM_FACTOR_MINIMUM;
    }
    else if (zoom > Settings::ZOOM_FACTOR_MAXIMUM)
    {
        zoom = Settings::ZOOM_FACTOR_MAXIMUM;
    }
    mZoomFactor = zoom;
    mPanZoomEnabled = enabled;
    emit PanZoomChanged(mPan, mZoomFactor, mPanZoomEnabled);
}

bool Timeline::IsPanAndZoomEnabled() const
{
    return mPanZoomEnabled;
}

QPointF Timeline::PanInterpolation() const
{
    return mPan;
}

float Timeline::ZoomFactor() const
{
    return mZoomFactor;
}

void Timeline::SetHoldAnnotationFramesEnabled(bool enabled)
{
    mHoldAnnotationFramesEnabled = enabled;
}

bool Timeline::HoldAnnotationFramesEnabled() const
{
    return mHoldAnnotationFramesEnabled;
}

// ---- Frame cache ----

bool Timeline::AudioCacheReady() const
{
    return mDurationExceeded || mCacheManager->AudioCoversTime(mPlaybackTime);
}

bool Timeline::VideoCacheReady() const
{
    return mDurationExceeded || mCacheManager->VideoCoversTime(mPlaybackTime);
}

bool Timeline::AudioCacheReadyAtTime(long long time) const
{
    return time > EndTime() || mCacheManager->AudioCoversTime(time);
}

bool Timeline::VideoCacheReadyAtTime(long long time) const
{
    return time > EndTime() || mCacheManager->VideoCoversTime(time);
}

bool Timeline::AudioCacheCoversTime(long long time) const
{
    return mCacheManager->AudioCoversTime(time);
}

bool Timeline::VideoCacheCoversTime(long long time) const
{
    return mCacheManager->VideoCoversTime(time);
}

bool Timeline::IsAudioOutputFrameReady() const
{
    return mCacheManager->IsAudioOutputFrameReady();
}

void Timeline::UpdateAudioCache()
{
    mCacheManager->UpdateAudio(mPlaybackTime, IsDecodeForward(), CACHE_BALANCE_TARGET);
}

void Timeline::UpdateVideoCache()
{
    mCacheManager->UpdateVideo(mPlaybackTime, IsDecodeForward(), CACHE_BALANCE_TARGET);
}

void Timeline::CacheAudioFrame(std::shared_ptr<AudioFrame> frame)
{
    mCacheManager->InsertAudioFrame(std::move(frame));
}

void Timeline::CacheVideoFrame(std::shared_ptr<VideoFrame> frame)
{
    if (frame)
    {
        frame->timeline = this;
    }
    mCacheManager->InsertVideoFrame(std::move(frame));
}

void Timeline::CacheLeadVideoFrame(std::shared_ptr<VideoFrame> frame)
{
    if (frame)
    {
        frame->timeline = this;
    }
    mCacheManager->InsertVideoLeadFrame(std::move(frame));
}

void Timeline::JoinVideoCacheLead()
{
    mCacheManager->JoinVideoLead();
}

bool Timeline::DropVideoCacheLead()
{
    return mCacheManager->DropVideoLead();
}

void Timeline::SetCacheSize(int megabytes)
{
    mCacheManager->SetCacheSize(megabytes);
}

int Timeline::CacheSize() const
{
    return mCacheManager->CacheSize();
}

void Timeline::ClearAudioCache(bool immediate)
{
    mCacheManager->ClearAudio(immediate);
}

void Timeline::ClearVideoCache(bool immediate)
{
    mCacheManager->ClearVideo(immediate);
}

void Timeline::ExtendAudioCacheStartTime(long long time, long long endIfEmpty, AudioOutputFormat const& format)
{
    mCacheManager->ExtendAudioStartTime(time, endIfEmpty, format);
}

void Timeline::ExtendAudioCacheEndTime(long long startIfEmpty, long long time, AudioOutputFormat const& format)
{
    mCacheManager->ExtendAudioEndTime(startIfEmpty, time, format);
}

void Timeline::ExtendVideoCacheEndTime(long long time)
{
    mCacheManager->ExtendVideoEndTime(time);
}

int Timeline::AudioCacheFrameCount() const
{
    return mCacheManager->AudioFrameCount();
}

long long Timeline::AudioCacheStartTime() const
{
    return mCacheManager->AudioStartTime();
}

long long Timeline::AudioCacheEndTime() const
{
    return mCacheManager->AudioEndTime();
}

long long Timeline::AudioCacheSize() const
{
    return mCacheManager->AudioSize();
}

long long Timeline::AudioCacheMaximumSize() const
{
    return mCacheManager->AudioMaximumSize();
}

int Timeline::VideoCacheFrameCount() const
{
    return mCacheManager->VideoFrameCount();
}

long long Timeline::VideoCachePacketStartTime() const
{
    return mCacheManager->VideoPacketStartTime();
}

long long Timeline::VideoCachePacketEndTime() const
{
    return mCacheManager->VideoPacketEndTime();
}

long long Timeline::VideoCacheAdjustedStartTime() const
{
    return mCacheManager->VideoFrameAdjustedStartTime();
}

long long Timeline::VideoCacheAdjustedEndTime() const
{
    return mCacheManager->VideoFrameAdjustedEndTime();
}

long long Timeline::VideoCacheSize() const
{
    return mCacheManager->VideoSize();
}

long long Timeline::VideoCacheSizeBeforePlayhead() const
{
    return mCacheManager->VideoSizeBefore(mPlaybackTime);
}

long long Timeline::VideoCacheMaximumSize() const
{
    return mCacheManager->VideoMaximumSize();
}

bool Timeline::CanCacheAudioFrame() const
{
    return mCacheManager->CanInsertAudioFrame() && !mCacheManager->AudioReachesLoopEnd();
}

bool Timeline::CanCacheVideoFrame() const
{
    return mCacheManager->CanInsertVideoFrame() && !mCacheManager->VideoReachesLoopEnd();
}

void Timeline::SetCachePlan(CachePlan plan)
{
    mCacheManager->SetPlan(plan);
}

CachePlan Timeline::CurrentCachePlan() const
{
    return mCacheManager->Plan();
}

bool Timeline::AudioCacheReachesLoopEnd() const
{
    return mCacheManager->AudioReachesLoopEnd();
}

bool Timeline::VideoCacheReachesLoopEnd() const
{
    return mCacheManager->VideoReachesLoopEnd();
}

long long Timeline::VideoCacheSizeAfter(long long time) const
{
    return mCacheManager->VideoSizeAfter(time);
}

void Timeline::SetVideoCacheReservedSize(long long bytes)
{
    mCacheManager->SetVideoReservedSize(bytes);
}

void Timeline::DoDeferredAudioCacheCleanup()
{
    mCacheManager->DoDeferredAudioCacheCleanup();
}

void Timeline::DoDeferredVideoCacheCleanup()
{
    mCacheManager->DoDeferredVideoCacheCleanup();
}

bool Timeline::HasDeferredAudioCache() const
{
    return mCacheManager->HasDeferredAudioCache();
}

bool Timeline::HasDeferredVideoCache() const
{
    return mCacheManager->HasDeferredVideoCache();
}

void Timeline::AppendDeferredAudioCacheAndClear(QList<std::shared_ptr<AudioFrame>>& frames)
{
    mCacheManager->AppendDeferredAudioCacheAndClear(frames);
}

void Timeline::AppendDeferredVideoCacheAndClear(QList<std::shared_ptr<VideoFrame>>& frames)
{
    mCacheManager->AppendDeferredVideoCacheAndClear(frames);
}

std::shared_ptr<VideoFrame> Timeline::FindVideoFrame(long long time) const
{
    return mCacheManager->FindVideoFrame(time);
}

void Timeline::FindVideoFrames(long long time, QList<std::shared_ptr<VideoFrame>>& frames) const
{
    mCacheManager->FindVideoFrames(time, frames);
}

std::shared_ptr<VideoFrame> Timeline::FirstCachedVideoFrame() const
{
    return mCacheManager->FirstCachedVideoFrame();
}

std::shared_ptr<VideoFrame> Timeline::LastCachedVideoFrame() const
{
    return mCacheManager->LastCachedVideoFrame();
}

QString Timeline::CacheToString() const
{
    return mCacheManager->ToString(QStringLiteral("OutputID: %1").arg(mOutputId));
}

// ---- Audio buffer ----

void Timeline::ResetAudioBuffer(QByteArray& buffer, long long time, AudioOutputFormat const& format)
{
    buffer.clear();
    long long const at = time < 0 ? mPlaybackTime.load() : time;
    std::shared_ptr<AudioFrame> frame = mCacheManager->FindAudioFrame(at, true);
    if (frame)
    {
        mAudioOutputOffset = static_cast<int>(AvHelpers::AudioOutputSizeForDuration(at - frame->startTime, format));
    }
}

void Timeline::FillAudioBufferBySize(QByteArray& buffer, int size, bool forward, AudioOutputFormat const& format)
{
    auto const sampleFrameSize = static_cast<int>(AvHelpers::AudioOutputFrameSize(format));
    std::shared_ptr<AudioFrame> frame = mCacheManager->AudioOutputFrame();
    if (size < 1 || !frame || sampleFrameSize < 1)
    {
        return;
    }
    int& offset = mAudioOutputOffset;
    while (frame && size > 0)
    {
        int const frameSize = static_cast<int>(frame->byteSize);
        if (forward)
        {
            // An offset past a block's data (a block stretched over a gap)
            // has nothing left to give.
            int const count = std::clamp(frameSize - offset, 0, size);
            if (frame->silent || frame->data.size() < offset + count)
            {
                buffer.append(count, '\0');
            }
            else
            {
                buffer.append(frame->data.constData() + offset, count);
            }
            offset += count;
            size -= count;
            if (offset >= frameSize)
            {
                offset = 0;
                frame = mCacheManager->NextAudioOutputFrame(true);
            }
            continue;
        }
        offset = std::min(offset, frameSize - sampleFrameSize);
        if (offset >= 0)
        {
            if (frame->silent || frame->data.size() < offset + sampleFrameSize)
            {
                buffer.append(sampleFrameSize, '\0');
            }
            else
            {
                buffer.append(frame->data.constData() + offset, sampleFrameSize);
            }
            size -= sampleFrameSize;
        }
        offset -= sampleFrameSize;
        if (offset < 0)
        {
            frame = mCacheManager->NextAudioOutputFrame(false);
            if (frame)
            {
                offset = static_cast<int>(frame->byteSize) - sampleFrameSize;
            }
        }
    }
}

void Timeline::FillAudioBufferByDuration(QByteArray& buffer, long long duration, bool forward,
                                         AudioOutputFormat const& format)
{
    if (duration <= 0 || !mCacheManager->IsAudioOutputFrameReady())
    {
        return;
    }
    FillAudioBufferBySize(buffer, static_cast<int>(AvHelpers::AudioOutputSizeForDuration(duration, format)), forward,
                          format);
}

// ---- Track relays ----

void Timeline::OnTrackUpdated()
{
    long long const endTime = EndTime();
    int const endFrame = EndFrame();
    if (mPlaybackTime >= endTime)
    {
        mPlaybackTime = endTime;
    }
    if (mPlaybackRangeEndFrame >= 0 && mPlaybackRangeEndFrame > endFrame)
    {
        SetPlaybackRangeByFrame(0, endFrame);
    }
    // Clips changed, so the same range frames may lie at other times now.
    UpdatePlaybackRangeTimes();
    emit EndTimeChanged(endTime);
    emit PlaybackRangeChanged(mPlaybackRangeStart, ClampedRangeEnd());
    emit TimelineUpdated();
}

void Timeline::OnSourceParsed()
{
    emit SourceParsed();
}

void Timeline::OnSourceUpdated()
{
    emit SourceUpdated();
}
