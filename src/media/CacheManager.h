#pragma once

#include "media/CachePlan.h"
#include "media/CacheWindow.h"
#include "media/LoopRange.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <memory>

struct AudioFrame;
struct VideoFrame;

// One timeline's window of decoded video frames and audio blocks around the
// playhead, ordered by start time and contiguous, within a byte budget.
// Each side is one CacheWindow over its kind of frame (which guards itself);
// this class sets their budgets and hands them the loop range. Most calls
// pass straight through to a side.
class CacheManager : public QObject
{
    Q_OBJECT

public:
    explicit CacheManager(QObject* parent = nullptr);
    ~CacheManager() override;

    void SetCacheSize(int megabytes);
    int CacheSize() const;
    long long AudioMaximumSize() const { return mAudio.MaximumSize(); }
    long long VideoMaximumSize() const { return mVideo.MaximumSize(); }
    long long AudioSize() const { return mAudio.Snapshot().Bytes(); }
    long long VideoSize() const { return mVideo.Snapshot().Bytes(); }
    // Bytes of the video frames that end at or before time.
    long long VideoSizeBefore(long long time) const { return mVideo.SizeBefore(time); }
    // Bytes of the video frames that start after time.
    long long VideoSizeAfter(long long time) const { return mVideo.SizeAfter(time); }
    int AudioFrameCount() const { return mAudio.Snapshot().count; }
    int VideoFrameCount() const { return mVideo.Snapshot().count; }
    long long AudioStartTime() const { return mAudio.Snapshot().start; }
    long long AudioEndTime() const { return mAudio.Snapshot().end; }
    long long VideoPacketStartTime() const { return mVideo.Snapshot().keyStart; }
    long long VideoPacketEndTime() const { return mVideo.Snapshot().keyEnd; }
    long long VideoFrameAdjustedStartTime() const { return mVideo.Snapshot().start; }
    long long VideoFrameAdjustedEndTime() const { return mVideo.Snapshot().end; }
    bool CanInsertAudioFrame() const { return mAudio.CanInsert(); }
    bool CanInsertVideoFrame() const { return mVideo.CanInsert(); }
    // Picture bytes the decoder holds outside the cache (pictures it keeps
    // for reference, a backward window not yet handed over): they count
    // against the video budget. Any thread.
    void SetVideoReservedSize(long long bytes) { mVideo.SetReservedSize(bytes); }
    // Whether a cached block or frame covers the time, judged in one look.
    bool AudioCoversTime(long long time) const { return mAudio.CoversTime(time); }
    bool VideoCoversTime(long long time) const { return mVideo.CoversTime(time); }

    void InsertAudioFrame(std::shared_ptr<AudioFrame> frame) { mAudio.Insert(std::move(frame)); }
    void InsertVideoFrame(std::shared_ptr<VideoFrame> frame) { mVideo.Insert(std::move(frame)); }
    // A picture of a lead run: decoded forward from a time before the
    // window's start, ahead of the pictures between it and the window. Each
    // is found (FindVideoFrame, VideoCoversTime) as soon as it is inserted,
    // though the pictures after it are not there yet; the run becomes the
    // front of the window once its last picture ends where the window
    // starts. Pictures in the order of their start times, each stamped with
    // its own end. Into an empty window it goes as usual.
    void InsertVideoLeadFrame(std::shared_ptr<VideoFrame> frame) { mVideo.InsertLead(std::move(frame)); }
    // Makes the lead run the front of the window now, its last picture
    // covering up to the window's start (no picture comes between them).
    void JoinVideoLead() { mVideo.JoinLead(); }
    // Lets a lead run that never reached the window go; true when there was
    // one.
    bool DropVideoLead() { return mVideo.DropLead(); }
    bool HasVideoLead() const { return mVideo.HasLead(); }

    // What the caches are to hold (CachePlan). Written by the main thread
    // (the engine front), read by the decode threads and the audio output,
    // as one value.
    void SetPlan(CachePlan plan);
    CachePlan Plan() const;
    // Whether the cached frames or blocks already reach the loop range's
    // end: decoding further ahead would only fill the budget with what is
    // never shown. False without a loop range.
    bool AudioReachesLoopEnd() const { return mAudio.ReachesEnd(Plan()); }
    bool VideoReachesLoopEnd() const { return mVideo.ReachesEnd(Plan()); }

    // Removes at most one frame when the budget is used up: one outside the
    // loop range when there is one, else keeping the window balanced around
    // time in the direction of play.
    void UpdateAudio(long long time, bool forward, double target)
    {
        mAudio.Update(time, forward, target, Plan());
    }
    void UpdateVideo(long long time, bool forward, double target)
    {
        mVideo.Update(time, forward, target, Plan());
    }
    double AudioForwardWeighting(long long time) const { return mAudio.ForwardWeighting(time); }
    double VideoForwardWeighting(long long time) const { return mVideo.ForwardWeighting(time); }

    std::shared_ptr<VideoFrame> FindVideoFrame(long long time) const { return mVideo.Find(time); }
    // Always appends three entries: the covering frame, the one before and the
    // one after, each null where there is none.
    void FindVideoFrames(long long time, QList<std::shared_ptr<VideoFrame>>& frames) const
    {
        mVideo.FindWithNeighbours(time, frames);
    }
    std::shared_ptr<VideoFrame> FirstCachedVideoFrame() const { return mVideo.First(); }
    std::shared_ptr<VideoFrame> LastCachedVideoFrame() const { return mVideo.Last(); }
    std::shared_ptr<AudioFrame> FindAudioFrame(long long time, bool makeOutputFrame)
    {
        return mAudio.FindOutput(time, makeOutputFrame);
    }
    std::shared_ptr<AudioFrame> AudioOutputFrame() const { return mAudio.Output(); }
    std::shared_ptr<AudioFrame> NextAudioOutputFrame(bool forward) { return mAudio.NextOutput(forward); }
    bool IsAudioOutputFrameReady() const { return mAudio.Output() != nullptr; }

    void ExtendAudioStartTime(long long time, long long endIfEmpty, AudioOutputFormat const& format)
    {
        mAudio.ExtendStart(time, endIfEmpty, format);
    }
    void ExtendAudioEndTime(long long startIfEmpty, long long time, AudioOutputFormat const& format)
    {
        mAudio.ExtendEnd(startIfEmpty, time, format);
    }
    // Holds the last picture to the end of the timeline.
    void ExtendVideoEndTime(long long time) { mVideo.HoldLastUntil(time); }

    void ClearAudio(bool immediate) { mAudio.Clear(immediate); }
    void ClearVideo(bool immediate) { mVideo.Clear(immediate); }
    void DoDeferredAudioCacheCleanup() { mAudio.ReleaseDeferred(); }
    void DoDeferredVideoCacheCleanup() { mVideo.ReleaseDeferred(); }
    bool HasDeferredAudioCache() const { return mAudio.HasDeferred(); }
    bool HasDeferredVideoCache() const { return mVideo.HasDeferred(); }
    void AppendDeferredAudioCacheAndClear(QList<std::shared_ptr<AudioFrame>>& frames) { mAudio.TakeDeferred(frames); }
    void AppendDeferredVideoCacheAndClear(QList<std::shared_ptr<VideoFrame>>& frames) { mVideo.TakeDeferred(frames); }

    QString ToString(QString const& label) const;

private:
    // Each side guards itself (CacheWindow).
    CacheWindow<AudioFrame> mAudio;
    CacheWindow<VideoFrame> mVideo;
    // Written by the main thread, read by the decode threads and the audio
    // output, under mPlanMutex.
    mutable QMutex mPlanMutex;
    CachePlan mPlan;
};
