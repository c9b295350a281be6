#pragma once

#include "media/AudioOutputFormat.h"
#include "media/CachePlan.h"
#include "media/DecodeBias.h"
#include "media/LoopRange.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QUuid>

#include <atomic>
#include <memory>

class CacheManager;
class Clip;
class Source;
class Track;
struct AudioFrame;
struct FrameBookmark;
struct RangeBookmark;
struct VideoFrame;

// What a viewer plays: a master track with a playback time and range, range
// bookmarks, a background annotation layer, pan and zoom, an audio override,
// the output that shows it, the decoding direction, two decode copies of its
// track and a frame cache. A source timeline wraps one source, and its range
// is the source's cut. Decode threads read the playback time, direction,
// duration-exceeded flag and cache through the operations marked below.
class Timeline : public QObject
{
    Q_OBJECT

public:
    Timeline(QObject* parent, bool createTrack);
    Timeline(QString const& mediaPath, QString const& relativeMediaPath, QUuid const& sourceId,
             QObject* parent = nullptr);
    ~Timeline() override;

    static void CreateTrackConnections(Timeline* timeline, Track* track);
    // A detached copy for an export thread; the caller owns it, and it must
    // not outlive this timeline (its clips share the sources).
    Timeline* DuplicateForExport() const;

    bool IsSourceTimeline() const;
    Source* SourcePtr() const;
    Clip* SourceClip() const;
    Track* MasterTrack() const;
    int OutputId() const;
    void SetOutputId(int outputId);
    bool HasErrors() const;
    bool HasAudio() const;
    bool HasVideo() const;
    QString ToString() const;

    long long Duration() const;
    long long EndTime() const;
    int FrameCount() const;
    int EndFrame() const;
    QList<int> FramesPerClip() const;
    int FrameAtTime(long long time) const;
    long long TimeAtFrame(int frame, bool frameEnd) const;
    double FrameRateAtFrame(int frame, int streamIndex) const;
    double FrameStepAtFrame(int frame) const;

    long long PlaybackTime() const; // any thread
    void SetPlaybackTime(long long time);
    void SetPlaybackFrame(int frame);
    int PlaybackFrame() const;
    bool DurationExceeded() const; // any thread
    int CurrentClipIndex() const;
    Source* SourceAtPlaybackTime(long long time) const;

    void SetPlaybackRangeByFrame(int start, int end);
    int PlaybackRangeStartFrame() const;
    int PlaybackRangeEndFrame() const;
    int PlaybackRangeEndFrameUnresolved() const;
    long long PlaybackRangeStart() const;
    long long PlaybackRangeEnd() const;

    int TimeControlFrameOffset() const;
    void ProcessProjectTimeControlOffsetChange();
    bool GlobalWidthHeight(int& width, int& height) const;

    int InsertClipAtIndex(Clip* clip, int index, bool emitEdited);
    Clip* RemoveClipAtIndex(int index, bool emitEdited);
    void MoveClip(int from, int to);
    void SetClipOrder(QList<QUuid> const& clipIds);
    void RefreshClipStartTimes();
    QList<QUuid> OrderedClipIds() const;
    int ClipCount() const;
    Clip* ClipAtIndex(int index) const;
    Clip* ClipAtTime(long long time) const;
    long long ClipStartTimeAtIndex(int index) const;
    bool ContainsClipWithSource(QUuid const& sourceId) const;
    int ClipIndexWithSource(QUuid const& sourceId) const;
    QList<int> ClipIndiciesWithSource(QUuid const& sourceId) const;
    bool ContainsClipWithMediaPath(QString const& path) const;

    void SetUseSourceInOutsEnabled(bool enabled);
    void SetUseSourceAudioDelayEnabled(bool enabled);
    bool IsUseSourceInOutsEnabled() const;
    bool IsUseSourceAudioDelayEnabled() const;

    long long AudioDelay() const;
    void SetAudioDelay(long long delay);
    void SetAudioOverrideTimelineId(QUuid const& timelineId);
    QUuid AudioOverrideTimelineId() const;
    void SetAudioOverrideTimeline(Timeline* timeline);
    Timeline* AudioOverrideTimeline() const;

    // What a decode loop reads of the timeline besides its track, taken
    // together with the decode copies.
    struct DecodeState
    {
        long long endTime = 0;
        Timeline* audioOverride = nullptr;
        long long playbackRangeStart = 0;
        long long playbackRangeEnd = 0;
        bool useSourceAudioDelay = true;
    };

    // Renews the decode copies of this timeline and along its chain of audio
    // overrides, with their decode states. Main thread.
    void UpdateDecodeTracks();
    // The state as of the last UpdateDecodeTracks. Any thread.
    DecodeState DecodeStateSnapshot() const;
    // A new copy of the current decode copy for a decode loop, which owns it;
    // null when there is none. Any thread.
    Track* DuplicateDecodeAudioTrack() const;
    Track* DuplicateDecodeVideoTrack() const;
    void SetDecodeBias(DecodeBias bias);
    bool IsDecodeForward() const;     // any thread

    FrameBookmark* FrameBookmarkAt(int frame) const;
    QList<FrameBookmark*> FrameBookmarkList() const;
    int InsertFrameBookmark(int frame, FrameBookmark* bookmark = nullptr);
    FrameBookmark* RemoveFrameBookmark(int frame);
    FrameBookmark* BackgroundFrameBookmark() const;
    void SetBackgroundFrameBookmark(FrameBookmark* bookmark);
    FrameBookmark* TakeBackgroundFrameBookmark();
    bool IsUndoClean() const;
    void SetUndoClean();

    bool RangeBookmarkExists(int start, int end) const;
    int InsertRangeBookmark(int start, int end);
    // Inserts many at once, as InsertRangeBookmark would one by one (equal
    // ones once), with one BookmarksChanged when any was new. Returns how many
    // were inserted.
    int InsertRangeBookmarks(QList<QPair<int, int>> const& ranges);
    bool RemoveRangeBookmark(int start, int end);
    bool ToggleRangeBookmark(int start, int end);
    QList<RangeBookmark*> const& RangeBookmarkList() const;

    void SetPanAndZoom(QPointF pan, float zoom, bool enabled);
    bool IsPanAndZoomEnabled() const;
    QPointF PanInterpolation() const;
    float ZoomFactor() const;
    void SetHoldAnnotationFramesEnabled(bool enabled);
    bool HoldAnnotationFramesEnabled() const;

    // Frame cache; called from decode threads, the audio output and the main
    // thread.
    bool AudioCacheReady() const;
    bool VideoCacheReady() const;
    bool AudioCacheReadyAtTime(long long time) const;
    bool VideoCacheReadyAtTime(long long time) const;
    // Without the end of the clip list, which decode threads must not read.
    bool AudioCacheCoversTime(long long time) const;
    bool VideoCacheCoversTime(long long time) const;
    bool IsAudioOutputFrameReady() const;
    void UpdateAudioCache();
    void UpdateVideoCache();
    void CacheAudioFrame(std::shared_ptr<AudioFrame> frame);
    void CacheVideoFrame(std::shared_ptr<VideoFrame> frame);
    // A picture decoded forward towards the cache's start from before it,
    // found at once though those between it and the cache are still to
    // come (CacheManager::InsertVideoLeadFrame). Decode thread.
    void CacheLeadVideoFrame(std::shared_ptr<VideoFrame> frame);
    // Such pictures become the cache's front now, or go. Decode thread.
    void JoinVideoCacheLead();
    bool DropVideoCacheLead();
    void SetCacheSize(int megabytes);
    int CacheSize() const;
    void ClearAudioCache(bool immediate);
    void ClearVideoCache(bool immediate);
    // Silence in format (the decoding task's copy) fills up to time.
    void ExtendAudioCacheStartTime(long long time, long long endIfEmpty, AudioOutputFormat const& format);
    void ExtendAudioCacheEndTime(long long startIfEmpty, long long time, AudioOutputFormat const& format);
    void ExtendVideoCacheEndTime(long long time);
    int AudioCacheFrameCount() const;
    long long AudioCacheStartTime() const;
    long long AudioCacheEndTime() const;
    long long AudioCacheSize() const;
    long long AudioCacheMaximumSize() const;
    int VideoCacheFrameCount() const;
    long long VideoCachePacketStartTime() const;
    long long VideoCachePacketEndTime() const;
    long long VideoCacheAdjustedStartTime() const;
    long long VideoCacheAdjustedEndTime() const;
    long long VideoCacheSize() const;
    // Bytes of the cached frames that end before the playback time: those
    // still to be shown when playing backward.
    long long VideoCacheSizeBeforePlayhead() const;
    long long VideoCacheMaximumSize() const;
    // Room for another frame, and, while the clock loops a range, the cache
    // not yet reaching its end.
    bool CanCacheAudioFrame() const;
    bool CanCacheVideoFrame() const;
    // What the caches are to hold (CachePlan), computed by the engine front.
    // Written by the main thread.
    void SetCachePlan(CachePlan plan);
    // That plan, as one value (any thread).
    CachePlan CurrentCachePlan() const;
    // Its loop range: the range the clock loops over while it plays; none
    // when it does not loop.
    LoopRange CacheLoopRange() const { return CurrentCachePlan().Span(); }
    // The cached frames reach the end of that range.
    bool AudioCacheReachesLoopEnd() const;
    bool VideoCacheReachesLoopEnd() const;
    // Bytes of the cached video frames that start after time.
    long long VideoCacheSizeAfter(long long time) const;
    // Picture bytes the decoder holds outside the cache, counted against it.
    void SetVideoCacheReservedSize(long long bytes);
    void DoDeferredAudioCacheCleanup();
    void DoDeferredVideoCacheCleanup();
    bool HasDeferredAudioCache() const;
    bool HasDeferredVideoCache() const;
    void AppendDeferredAudioCacheAndClear(QList<std::shared_ptr<AudioFrame>>& frames);
    void AppendDeferredVideoCacheAndClear(QList<std::shared_ptr<VideoFrame>>& frames);
    std::shared_ptr<VideoFrame> FindVideoFrame(long long time) const;
    void FindVideoFrames(long long time, QList<std::shared_ptr<VideoFrame>>& frames) const;
    std::shared_ptr<VideoFrame> FirstCachedVideoFrame() const;
    std::shared_ptr<VideoFrame> LastCachedVideoFrame() const;
    QString CacheToString() const;

    // Audio output: the bytes of the cached audio from the read position,
    // forwards or backwards. Used by one filling thread at a time, which
    // passes the output format its task was started with.
    void ResetAudioBuffer(QByteArray& buffer, long long time, AudioOutputFormat const& format);
    void FillAudioBufferBySize(QByteArray& buffer, int size, bool forward, AudioOutputFormat const& format);
    void FillAudioBufferByDuration(QByteArray& buffer, long long duration, bool forward,
                                   AudioOutputFormat const& format);

Q_SIGNALS:
    void TimelineUpdated();
    void MasterTrackEdited();
    void SourceParsed();
    void SourceUpdated();
    void EndTimeChanged(long long endTime);
    void PlaybackRangeChanged(long long start, long long end);
    void TimeControlFrameOffsetChanged(int offset);
    void AudioOverrideTimelineChanged();
    void PanZoomChanged(QPointF pan, float zoom, bool enabled);
    void UseSourcePropertiesInTimelineChanged();
    void BookmarksChanged();
    // A frame bookmark was replaced or handed away (the background bookmark,
    // a clip's list, a clip leaving the timeline). Emitted synchronously once
    // the new bookmarks are in place and before the old ones are deleted.
    void FrameBookmarksReplaced();

public Q_SLOTS:
    void OnTrackUpdated();
    void OnSourceParsed();
    void OnSourceUpdated();

private:
    void ReplaceDecodeTracks();
    void ApplySourceCuts(int start, int end);
    long long ClampedRangeEnd() const;
    void UpdatePlaybackRangeTimes();

    Track* mMasterTrack = nullptr;
    std::unique_ptr<Track> mDecodeAudioTrack;
    std::unique_ptr<Track> mDecodeVideoTrack;
    mutable QMutex mDecodeTrackMutex;
    // Written on the main thread with the decode copies, read by decode
    // threads; guarded by mDecodeTrackMutex.
    DecodeState mDecodeState;
    CacheManager* mCacheManager = nullptr;
    std::atomic<long long> mPlaybackTime {0};
    long long mPlaybackRangeStart = 0;
    long long mPlaybackRangeEnd = -1;
    int mPlaybackRangeStartFrame = 0;
    int mPlaybackRangeEndFrame = -1;
    std::atomic<bool> mDurationExceeded {false};
    bool mUseSourceInOuts = true;
    bool mUseSourceAudioDelay = true;
    int mOutputId = -1;
    std::atomic<DecodeBias> mDecodeBias {DecodeBias::None};
    int mAudioOutputOffset = 0;
    QList<RangeBookmark*> mRangeBookmarks;
    bool mPanZoomEnabled = false;
    float mZoomFactor = 1.0f;
    QPointF mPan;
    bool mHoldAnnotationFramesEnabled = false;
    FrameBookmark* mBackgroundFrameBookmark = nullptr;
    Timeline* mAudioOverrideTimeline = nullptr;
    QUuid mAudioOverrideTimelineId;
};
