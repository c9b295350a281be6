#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

struct AudioFrame;
struct VideoFrame;

// One timeline's window of decoded video frames and audio blocks around the
// playhead, ordered by start time and contiguous, within a byte budget.
// Decode threads insert and evict while the main thread and the audio output
// read, so each side is guarded by its own mutex; frames themselves are
// shared, never copied.
class CacheManager : public QObject
{
    Q_OBJECT

public:
    explicit CacheManager(QObject* parent = nullptr);
    ~CacheManager() override;

    void SetCacheSize(int megabytes);
    int CacheSize() const;
    long long AudioMaximumSize() const;
    long long VideoMaximumSize() const;
    long long AudioSize() const;
    long long VideoSize() const;
    // Bytes of the video frames that end at or before time.
    long long VideoSizeBefore(long long time) const;
    // Bytes of the video frames that start after time.
    long long VideoSizeAfter(long long time) const;
    int AudioFrameCount() const;
    int VideoFrameCount() const;
    long long AudioStartTime() const;
    long long AudioEndTime() const;
    long long VideoPacketStartTime() const;
    long long VideoPacketEndTime() const;
    long long VideoFrameAdjustedStartTime() const;
    long long VideoFrameAdjustedEndTime() const;
    bool CanInsertAudioFrame() const;
    bool CanInsertVideoFrame() const;
    // Picture bytes the decoder holds outside the cache (pictures it keeps
    // for reference, a backward window not yet handed over): they count
    // against the video budget. Any thread.
    void SetVideoReservedSize(long long bytes);
    // Whether a cached block or frame covers the time, judged in one look.
    bool AudioCoversTime(long long time) const;
    bool VideoCoversTime(long long time) const;

    void InsertAudioFrame(std::shared_ptr<AudioFrame> frame);
    void InsertVideoFrame(std::shared_ptr<VideoFrame> frame);
    // A picture of a lead run: decoded forward from a time before the
    // window's start, ahead of the pictures between it and the window. Each
    // is found (FindVideoFrame, VideoCoversTime) as soon as it is inserted,
    // though the pictures after it are not there yet; the run becomes the
    // front of the window once its last picture ends where the window
    // starts. Pictures in the order of their start times, each stamped with
    // its own end. Into an empty window it goes as usual.
    void InsertVideoLeadFrame(std::shared_ptr<VideoFrame> frame);
    // Makes the lead run the front of the window now, its last picture
    // covering up to the window's start (no picture comes between them).
    void JoinVideoLead();
    // Lets a lead run that never reached the window go; true when there was
    // one.
    bool DropVideoLead();
    bool HasVideoLead() const;

    // The span [start, end] (µs, timeline time) a looping clock keeps
    // returning to: frames outside it go first when the budget is used up,
    // and nothing after its end is wanted. end < start: none. Any thread.
    void SetLoopSpan(long long start, long long end);
    bool HasLoopSpan() const;
    long long LoopSpanStart() const;
    long long LoopSpanEnd() const;
    // Whether the cached frames or blocks already reach the loop span's end:
    // decoding further ahead would only fill the budget with what is never
    // shown. False without a loop span.
    bool AudioReachesLoopEnd() const;
    bool VideoReachesLoopEnd() const;

    // Removes at most one frame when the budget is used up: one outside the
    // loop span when there is one, else keeping the window balanced around
    // time in the direction of play.
    void UpdateAudio(long long time, bool forward, double target);
    void UpdateVideo(long long time, bool forward, double target);
    double AudioForwardWeighting(long long time) const;
    double VideoForwardWeighting(long long time) const;

    std::shared_ptr<VideoFrame> FindVideoFrame(long long time) const;
    // Always appends three entries: the covering frame, the one before and the
    // one after, each null where there is none.
    void FindVideoFrames(long long time, QList<std::shared_ptr<VideoFrame>>& frames) const;
    std::shared_ptr<VideoFrame> FirstCachedVideoFrame() const;
    std::shared_ptr<VideoFrame> LastCachedVideoFrame() const;
    std::shared_ptr<AudioFrame> FindAudioFrame(long long time, bool makeOutputFrame);
    std::shared_ptr<AudioFrame> AudioOutputFrame() const;
    std::shared_ptr<AudioFrame> NextAudioOutputFrame(bool forward);
    bool IsAudioOutputFrameReady() const;

    void ExtendAudioStartTime(long long time, long long endIfEmpty);
    void ExtendAudioEndTime(long long startIfEmpty, long long time);
    void ExtendVideoEndTime(long long time);

    void ClearAudio(bool immediate);
    void ClearVideo(bool immediate);
    void DoDeferredAudioCacheCleanup();
    void DoDeferredVideoCacheCleanup();
    bool HasDeferredAudioCache() const;
    bool HasDeferredVideoCache() const;
    void AppendDeferredAudioCacheAndClear(QList<std::shared_ptr<AudioFrame>>& frames);
    void AppendDeferredVideoCacheAndClear(QList<std::shared_ptr<VideoFrame>>& frames);

    QString ToString(QString const& label) const;

private:
    // The callers hold the matching mutex.
    void InsertAudioFrameLocked(std::shared_ptr<AudioFrame> frame);
    void AudioPushBack(std::shared_ptr<AudioFrame> frame);
    void AudioPushFront(std::shared_ptr<AudioFrame> frame);
    void AudioPopFront();
    void AudioPopBack();
    void ResetAudioRange();
    void VideoPushBack(std::shared_ptr<VideoFrame> frame);
    void VideoPushFront(std::shared_ptr<VideoFrame> frame);
    void VideoPopFront();
    void VideoPopBack();
    void ResetVideoRange();
    // The callers hold mVideoMutex.
    void JoinVideoLeadLocked();
    int VideoLeadIndexLocked(long long time) const;
    double AudioForwardWeightingLocked(long long time) const;
    double VideoForwardWeightingLocked(long long time) const;
    int AudioFrameIndexBinarySearch(long long time, int low, int high) const;
    int VideoFrameIndexBinarySearch(long long time, int low, int high) const;
    std::shared_ptr<AudioFrame> AudioOutputFrameLocked() const;

    QList<std::shared_ptr<AudioFrame>> mAudioFrames;
    QList<std::shared_ptr<VideoFrame>> mVideoFrames;
    QList<std::shared_ptr<AudioFrame>> mDeferredAudioFrames;
    QList<std::shared_ptr<VideoFrame>> mDeferredVideoFrames;
    long long mAudioStartTime = 0;
    long long mAudioEndTime = 0;
    long long mAudioSize = 0;
    std::atomic<long long> mAudioMaximumSize {0};
    long long mVideoPacketStartTime = 0;
    long long mVideoPacketEndTime = 0;
    long long mVideoAdjustedStartTime = 0;
    long long mVideoAdjustedEndTime = 0;
    long long mVideoSize = 0;
    long long mDeferredVideoSize = 0; // bytes of mDeferredVideoFrames
    // The lead run (InsertVideoLeadFrame) and its bytes, which count against
    // the budget; never evicted. Written by the decode thread, read by any,
    // under mVideoMutex.
    QList<std::shared_ptr<VideoFrame>> mVideoLeadFrames;
    long long mVideoLeadSize = 0;
    std::atomic<long long> mVideoMaximumSize {0};
    std::atomic<long long> mVideoReservedSize {0};
    // Written by the main thread (the clock's loop), read by the decode
    // threads; each atomic on its own, a span read between two writes only
    // shifts one eviction or one decode step.
    std::atomic<long long> mLoopSpanStart {0};
    std::atomic<long long> mLoopSpanEnd {-1};
    int mAudioOutputIndex = -1;
    mutable QMutex mAudioMutex;
    mutable QMutex mVideoMutex;
};
