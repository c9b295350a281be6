#pragma once

#include "media/DecodeCommandInbox.h"
#include "media/DecodeSettings.h"
#include "media/DecodeType.h"
#include "media/LoopStartFill.h"
#include "media/SourceOpenFailures.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class AudioDecoder;
class AvDecoderBase;
class Clip;
class ImageSequenceDecoder;
class Timeline;
class Track;
class VideoDecoder;
struct AudioFrame;
struct AudioStreamInfo;
struct VideoFrame;

// The decode loop of one decode task: walks a private copy of a timeline's
// track clip by clip from the playback time in the decoding direction, drives
// the decoder each clip needs, converts what comes out from source time to
// timeline time, trims it to the clip and stores it in the timeline's cache.
// For video it also hands the frames at the playback time to the viewers.
//
// StartDecoding runs on the task's thread until the loop is stopped. The loop
// runs no event loop: commands reach it as data in its inbox (Post), taken at
// one point of each pass, and it sleeps on the inbox between passes.
class DecodeManager : public QObject
{
    Q_OBJECT
    friend class DecodeManagerTestAccess;

public:
    // settings: the copy of the settings its task was started with; the
    // decoders it makes get copies of it.
    explicit DecodeManager(DecodeSettings const& settings, QObject* parent = nullptr);
    // With the settings as they are now: main thread only.
    explicit DecodeManager(QObject* parent = nullptr);
    ~DecodeManager() override;

    // The inbox the engine front posts to when it queued a command for this
    // loop; set before StartDecoding. Without one the loop keeps its own.
    void SetCommandInbox(std::shared_ptr<DecodeCommandInbox> inbox);
    // Any thread: something the loop waits for changed (the playhead moved
    // on a frame); it looks again at once.
    void Wake() { mInbox->Post(); }
    // Any thread: leaves a command for the loop and wakes it.
    void Post(DecodeCommand command) { mInbox->Post(command); }
    void StartDecoding(Timeline* timeline, DecodeType type, bool exportMode);
    // The decode thread (from inside the loop, e.g. a receiver of
    // ProcessAudioOutput): ends the loop. Other threads post Stop.
    void StopDecoding();
    void Shutdown();

    // Takes a fresh copy of the timeline's decode track and starts over from
    // the playback time.
    void UpdateTrack();
    // The cache does not hold the playback time: decode towards it.
    void Seek();
    void Restart();
    void PrepareClipForDecoding(long long time);
    void ClearCache();
    long long NextDecodeTimeFromCache() const;

    static long long SourceTimeToTimelineTime(Clip const* clip, long long time);
    static long long TimelineTimeToSourceTime(Clip const* clip, long long time);
    long long AudioDelayedClipSeekTime() const { return mSeekTime - mAudioDelay; }
    // While the clock runs, the longest a loop waits on its inbox before it
    // looks at the clock and the cache again by itself (a stopped clock posts
    // every change, and the loop sleeps until it does). Commands, finished
    // image loaders and the playhead reaching a new frame of the decoded
    // timeline wake it at once; the playhead moving within a frame (audio is
    // cached and evicted by time, not by frame) goes without a word and is
    // followed at this pace.
    static constexpr int SLEEP_VIDEO_MS = 10;
    static constexpr int SLEEP_AUDIO_MS = 5;
    int SleepVideoMsec() const { return SLEEP_VIDEO_MS; }
    int SleepAudioMsec() const { return SLEEP_AUDIO_MS; }

public Q_SLOTS:
    // Keeps the outputs up to date between decoding steps: shows the frames
    // for the playback time, frees what the cache let go, feeds the audio
    // receiver. Also called by the decoders during long steps.
    void UpdateOutputs();
    void CacheVideoFrame(std::shared_ptr<VideoFrame> frame);
    void CacheAudioFrame(std::shared_ptr<AudioFrame> frame, AudioStreamInfo* streamInfo);

Q_SIGNALS:
    void VideoFrameChanged(std::shared_ptr<VideoFrame> current, std::shared_ptr<VideoFrame> previous,
                           std::shared_ptr<VideoFrame> next);
    void ProcessAudioOutput();
    // A new decode track was taken, as asked by UpdateTrack.
    void DecodeTrackUpdated();
    // The video decoder took a step while the cache does not hold the
    // playback time: what waits for that time's picture sees the decoding
    // move on towards it (a seek deep into a long GOP hands out nothing for
    // a long while).
    void VideoDecodingAdvanced();

private:
    enum class ClipDecoder
    {
        Movie,
        ImageSequence,
        Audio
    };

    void Decode();
    void DecodeVideoClip(Clip* clip);
    void DecodeImageClip(Clip* clip);
    void DecodeAudioClip(Clip* clip);
    void DecodeEmptyVideoClip(Clip* clip);
    // Opens the clip's file, unless it failed before and has not changed
    // since: a failing file is reported once, not on every pass.
    bool OpenClipSource(AvDecoderBase* decoder, Clip* clip, int streamIndex);
    // What a pass of the main loop may change; equal before and after, the
    // pass made no progress.
    struct PassState
    {
        Clip const* clip;
        long long seekTime;
        long long seekTarget;
        bool forward;
        int cachedFrames;
        long long cacheStart;
        long long cacheEnd;
        bool operator==(PassState const&) const = default;
    };
    PassState CurrentPassState() const;
    void HoldPlaceholderIfNothingCached(Clip* clip, bool ranOut);
    // The loop shared by the three decoders; true when the decoder ran out
    // of the clip by itself.
    bool RunClipLoop(ClipDecoder decoder);
    int DecodeNextOn(ClipDecoder decoder);
    // The inbox holds the fill ahead and the cache holds the picture at the
    // stopped clock's time: the loop waits for a post instead of decoding on.
    bool FillAheadWaits() const;
    // Emits VideoDecodingAdvanced when the playback time waits for pictures.
    void ReportVideoDecodingAdvanced();
    // Tells the video decoder what of the video budget the cache keeps.
    void SetBackwardWindowBudget();
    // Sizes the backward window about to be decoded by what the cache keeps,
    // and lets the cache make room for it.
    void PrepareBackwardWindow();
    // Lets the cache evict until it stops letting frames go (with
    // untilItCanCache, until it has room for the next frame).
    void MakeVideoCacheRoom(bool untilItCanCache);
    // The loop start fill (see LoopStartFill): while the clock loops a range
    // whose start the cache lacks (or is parked inside it), with the cache
    // already at the range end and room in the budget for the whole range,
    // what lies from the range start up to the cache start is decoded and put
    // in front of the cache, the playhead left where it is, so that the first
    // wrap finds it there. Pictures are decoded forward from the range start
    // and placed as each comes, the range start first; sound is decoded
    // backward from the cache start.
    // The clip such a fill of this loop's kind would decode in, when one is
    // wanted now (LoopStartFill::WantedClip, while the clock plays forward
    // with no seek under way), with target the timeline time it would fill
    // down to; null otherwise.
    Clip* LoopStartFillClip(long long& target) const;
    // Turns the running clip loop to such a fill, the one place a fill
    // starts; false when none is wanted, it lies in another clip or there is
    // no room for it.
    bool StartLoopStartFill(ClipDecoder decoder);
    bool StartPictureFill(Clip* clip, long long target);
    bool StartSoundFill(Clip* clip, long long target);
    // No seek came, and the clock still loops forward within the range with
    // the cache (or what the fill brings) holding its time.
    bool LoopStartFillGoesOn() const;
    // Takes the fill under way one decode further, and ends it once it
    // reached the cache (or the file ran out).
    void StepLoopStartFill(ClipDecoder decoder);
    // A picture of the fill: into the lead run in front of the cache.
    void CacheLoopStartFrame(Clip* clip, std::shared_ptr<VideoFrame> frame);
    // Ends the fill under way and puts the decoder back to decoding forward
    // from the cache end (or ends the clip loop when that lies past it).
    void EndLoopStartFill(ClipDecoder decoder);
    // The way the decoder runs now: the fill's own while one is under way,
    // else the clip walk's.
    bool DecodesForward() const;
    void SeekDecoder(ClipDecoder decoder, long long sourceTime);
    void SetDecoderForward(ClipDecoder decoder, bool forward);
    bool IsDecoderForward(ClipDecoder decoder) const;
    void WaitForDecoderWorkers(ClipDecoder decoder);
    void StopDecoders();
    // The source frame (from the clip's cut in) a picture is shown from: the
    // first whose start time it covers.
    static int PictureIndex(Clip const* clip, VideoFrame const& picture);
    // Whether the picture at index starts its frame exactly and that frame
    // is the one a seek under way waits for.
    bool StartsSoughtFrame(Clip const* clip, VideoFrame const& picture, int index) const;
    // Stamps a frame with its place on the timeline and caches it (lead: in
    // the lead run before the cache).
    void PlaceFrame(Clip* clip, std::shared_ptr<VideoFrame> frame, int index, bool lead = false);
    void CacheHeldPicture();
    // A seek in progress is over once the cache holds its target.
    void EndSeekIfCovered(long long start, long long end);
    bool EmitFramesForPlaybackTime();
    // The clock ran on past the pictures (they fell behind the sound): the
    // newest one decoded stands in, the ones it passed are dropped.
    void EmitNewestPictureBehindClock();
    // Takes and applies the commands posted since the last look: the loop's
    // one point of reading them.
    void TakePostedCommands();
    // Sleeps up to ms, or until something is posted after the last look;
    // with no time limit when SleepsUntilPosted.
    void WaitForCommand(int ms);
    // The clock is stopped and nothing is left to release: only a post
    // brings anything new.
    bool SleepsUntilPosted() const;
    void DeleteRetiredTracks();

    // The task's copy of the settings, fixed at construction.
    DecodeSettings const mSettings;
    // The command path. Never null; replaced only before StartDecoding.
    // Posted to from any thread (the inbox guards itself), waited on by the
    // decode thread.
    std::shared_ptr<DecodeCommandInbox> mInbox;
    // Every field below belongs to the decode thread; no lock guards them.
    // The posts taken so far, and what the last WaitForCommand found with
    // the generation then.
    unsigned long long mSeenGeneration = 0;
    PassState mLastWaitState {};
    unsigned long long mLastWaitGeneration = ~0ULL;

    // The task: the timeline decoded, its kind and the timeline's decode
    // state taken with the track.
    Timeline* mTimeline = nullptr;
    bool mDecoding = false;
    bool mExportMode = false;
    long long mTimelineEndTime = 0;
    bool mUseSourceAudioDelay = true;

    // The track and its clip being decoded.
    Track* mDecodeTrack = nullptr;
    // Replaced copies stay alive until no clip loop can still use one of
    // their clips.
    QList<Track*> mRetiredTracks;
    Clip* mCurrentClip = nullptr;
    bool mClipActive = false;
    // Something of the current clip reached the cache.
    bool mClipCached = false;
    long long mAudioDelay = 0;
    // Files that failed to open.
    SourceOpenFailures mOpenFailures;

    // The decoders, the kind running, and the clock's play direction as the
    // clip walk last took it. A seek (or a reseek of the running clip loop)
    // decodes forward up to its target meanwhile, and a loop start fill runs
    // its own way: DecodesForward says which way the decoder runs.
    DecodeType mDecodeType = DecodeType::None;
    bool mForward = true;
    bool mSeekDecodesForward = false;
    AudioDecoder* mAudioDecoder = nullptr;
    VideoDecoder* mVideoDecoder = nullptr;
    ImageSequenceDecoder* mImageSequenceDecoder = nullptr;

    // Seeks and restarts of the decoder.
    long long mSeekTime = -1;   // source time of the current clip the decoder starts at
    long long mSeekTarget = -1; // playback time of the seek in progress
    bool mRestartPending = false;
    unsigned int mRestartCount = 0;
    bool mSeekPending = false;
    // Going forward, the source time the movie decoder was last sought to,
    // until the first picture since then came; -1 otherwise.
    long long mSoughtTime = -1;

    // The fill of the loop range's start in front of the cache (see
    // LoopStartFillClip), with its held picture.
    LoopStartFill mLoopStartFill;

    // Pictures placed in the cache and handed to the viewer.
    // Going forward, the latest picture waits for the next one: when that
    // one starts on the same timeline frame, it covers that frame instead.
    std::shared_ptr<VideoFrame> mHeldPicture;
    int mHeldPictureIndex = 0;
    // Going forward, the frame of the picture placed just before the held
    // one; the lowest int when none was placed since the held run began
    // (after a seek, a restart or the end of a clip).
    int mPictureIndexBeforeHeld = 0;
    std::shared_ptr<VideoFrame> mLastShownFrame;
    int mLastShownPlaybackFrame = -1;
    QList<std::shared_ptr<VideoFrame>> mFrameList;
};
