#pragma once

#include "media/AvDecoderBase.h"
#include "media/VideoFramePixelFormat.h"

#include <QList>
#include <QMap>
#include <QQueue>
#include <QSet>
#include <QString>

#include <limits>
#include <memory>

class NalUnitReader;
class PacketPictureCheck;
class VideoDecodeWorker;
struct VideoDecodingData;
struct VideoFrame;
struct VideoStreamInfo;

// Turns the video stream of one movie or image file into VideoFrames,
// forwards one packet at a time or backwards one frame at a time, from any
// seek position. Every picture it emits is exactly the one the stream holds
// at that time: a seek that lands after the wanted picture (open GOPs,
// key frames indexed by decode time) is repeated further back.
//
// Use: construct, Initialize(), OpenSource(), then any sequence of Seek(),
// SetDecodeForward() and DecodeNext(); Shutdown() before deletion. Frames
// arrive through VideoFrameDecoded before DecodeNext returns; a null frame
// means that no more follow in that direction. Everything runs on the
// caller's thread.
class VideoDecoder : public AvDecoderBase
{
    Q_OBJECT

public:
    // DecodeNext results.
    static constexpr int STATUS_DONE = 0;         // forward: a packet was decoded; backward: a frame was emitted
    static constexpr int STATUS_BUSY = 1;         // no worker was ready; nothing done
    static constexpr int STATUS_START_REACHED = 2; // backward: the first frame was emitted
    static constexpr int STATUS_END_REACHED = 3;   // forward: the end of the file was reached

    // Line alignment of converted pictures: rows of 4-byte multiples, what an
    // OpenGL upload expects by default, valid for every width.
    static constexpr int IMAGE_ALIGNMENT = 4;

    // settings: the copy of the settings its task was started with.
    VideoDecoder(DecodeSettings const& settings, bool forExport, QObject* parent = nullptr);
    // With the settings as they are now: main thread only.
    explicit VideoDecoder(bool forExport, QObject* parent = nullptr);
    ~VideoDecoder() override;

    void Initialize();
    // Opens the stream of video record infoIndex (-1: the best stream) of the
    // file; runs the timing pass first when the record has no start-time
    // offset yet.
    bool OpenSource(Source* source, int fileIndex, int infoIndex) override;
    bool OpenStreamByInfoIndex(int fileIndex, int infoIndex) override;
    void CloseVideoStream() override;

    // t in µs of source time. The direction must be set before seeking.
    void Seek(long long t);
    void SetDecodeForward(bool forward);
    bool IsDecodeForward() const;
    // Backwards, a window interrupted by a waiting command (see
    // SetCommandInbox) goes on at the next call unless a seek comes first.
    int DecodeNext();
    // Drops the backward window under way.
    void StopDecoding();
    void Shutdown();

    // The video budget (bytes) the cache and the backward window share, and
    // the bytes of it the cache keeps. A backward window keeps up to two thirds of
    // the pictures the budget holds besides the codec's own, so that a long
    // GOP is decoded by few windows and the cache ahead of the playhead
    // covers the decoding of the next, and no more than the cache leaves
    // free. Windows of short GOPs keep less (twice the longest seen, from
    // the third window on). Read as each window starts.
    void SetBackwardWindowBudget(long long bytes, long long kept = 0);
    // The next DecodeNext starts a backward window.
    bool BackwardWindowStartsNext() const;
    // Sets the length of that window now, by the budget (HeldPictureBytes
    // then counts it); DecodeNext does it otherwise.
    void PrepareBackwardWindow();
    // A seek made while the timeline plays backward keeps, of the pictures it
    // decodes on its way to the target, as many as a backward window would
    // (by the budget) rather than the usual few: backward play goes on from
    // them instead of decoding them again.
    void SetSeekKeepsBackwardWindow(bool keep);
    // Turns forward and seeks to t (µs of source time), handing out nothing
    // of the pictures before t but the one that covers it: the first picture
    // wanted comes as soon as it is decoded. The next seek or
    // SetDecodeForward ends it.
    void SeekWithoutLead(long long t);

    // Bytes of the pictures held outside the cache: the backward window's,
    // and an estimate of those the codec keeps (references, reordering,
    // pictures under way on frame threads).
    long long HeldPictureBytes() const;
    // The frame cache's picture budget (bytes; 0 for none), set before a
    // stream is opened: the codec's threads are chosen so that its pictures
    // leave the cache room for a backward window and pictures to show.
    void SetCacheBudget(long long bytes);
    // Threads the open codec decodes with.
    int CodecThreadCount() const;

    int TotalWorkerCount() const;
    int UsableWorkerCount() const;
    int ActiveWorkerCount() const;

    // The format a stream's pictures are delivered in: YUV 4:2:0 for YUV
    // streams shown through OpenGL, else packed RGB (with alpha when the
    // stream has it).
    static VideoFramePixelFormat OutputFormat(VideoStreamInfo const& info, DecodeSettings const& settings);
    static AVPixelFormat OutputAvPixelFormat(VideoFramePixelFormat format);

    // The timing pass reads a video stream's first and last picture times
    // from its packets' times where they tell what decoding would (false: it
    // always decodes them). Set before the stream is opened; true unless set.
    void SetTimesFromPackets(bool fromPackets);
    // Fills the open stream's record: startTimeOffset, foundEndTime, endTime
    // and frameCount.
    void DecodeTimingInfoForCurrentStream();
    // The last timing pass took the stream's end from its packets' times
    // alone; false when it decoded the last pictures (or found no end).
    bool EndTimedFromPackets() const { return mTiming.endTimedFromPackets; }
    // The timing pass for every video stream of the source's first file,
    // timed by the route given (see SetTimesFromPackets).
    static void DecodeExtraStreamInfo(Source* source, bool timesFromPackets = true);

Q_SIGNALS:
    void DecodePacketRequested(int workerId);
    // A long step goes on (a backward window being decoded): the owner may
    // bring its outputs up to date.
    void DecodingProgressed();
    void VideoFrameDecoded(std::shared_ptr<VideoFrame> frame);

private Q_SLOTS:
    void OnPacketProcessingCompleted(int id);
    void OnDecodingTaskCompleted(int id);

private:
    // Tests reach what only they use through it (tests/support).
    friend class VideoDecoderTestAccess;

    // Threads converting each picture (1: on the decoding thread alone).
    // Unset, the cores the decoder leaves, up to four.
    void SetConversionThreadCount(int threads);

    void InitializeVideoDecoder();
    void PrepareDecodingData(VideoDecodingData& data) const;
    // Where a seek may stop decoding non-reference pictures (µs), -1 nowhere.
    long long SkipBefore() const;
    // Pictures kept before the end of what is decoded: the seek target's
    // leading pictures forwards, the window backwards.
    int KeptFrames() const;
    int DecodeNextForward();
    // Backwards: the packet lies past the window (its decoding time is after
    // the window's end, so every picture after it is too) and what the codec
    // holds can be drained instead of decoding further packets.
    bool PacketPastWindow(AVPacket const* packet);
    int DecodeNextBackward();
    // Positions the demuxer at or before target (µs of source time; 0 or
    // less: the start of the file) and flushes the decoder.
    bool SeekStream(long long target);
    bool SeekStreamToStart();
    // The demuxer's time seek lands on any packet rather than on a key
    // packet, and the container claims no exact length (MPEG-TS): key
    // packets are found by stepping back by bytes (KeyPacketSearch).
    bool KeyPacketsFoundByBytes() const;
    // The timing pass's end from the last key packet of the input, found by
    // stepping back from its end in growing byte steps: from the times of
    // the packets from there on (fromPackets, with frames checking each) or
    // else by decoding them. A key packet from which neither tells sends the
    // search further back. False when nothing ends the stream short of the
    // start of the input.
    bool FindEndFromTail(VideoDecodeWorker& worker, bool fromPackets, PacketPictureCheck* frames,
                         long long containerEnd, long long& endTime);
    // Whether a seek lands on the wanted picture itself, with no margin.
    bool ExactSeek() const;
    // Opens the input afresh: the only sound rewind for inputs that cannot
    // seek (a byte seek leaves the demuxer's made-up timestamps behind).
    bool ReopenInput();
    // The last seek landed after the picture it was for: go further back.
    // False when the input cannot seek there.
    bool SeekDeeper();
    // The frames a gradual refresh that starts at the packet takes before
    // decoding from it gives exact pictures (H.264: a recovery point that is
    // no IDR); 0 when decoding from it is exact at once, or nothing tells.
    int RefreshFrames(AVPacket const* packet);
    // The packet's presentation and decoding times (µs of stream time; the
    // one for the other where a packet lacks one). False without either.
    bool PacketTimes(AVPacket const* packet, long long& presentation, long long& decoding) const;
    // Reads the next packet of the open stream; false at the end.
    bool ReadStreamPacket(AVPacket* packet);
    // Decoding was to start at a gradual refresh of frames frames
    // (presentation and decoding times given): its pictures may be inexact
    // long after its recovery point says, and they are what the refresh
    // fixes. The input is positioned at the latest key packet from which
    // decoding has gone through a whole refresh of its own by the time it
    // reaches the given one, or else at the start; the pictures before that
    // refresh is done are not handed out (DecodingState::exactFrom).
    void SeekBeforeRefresh(long long presentation, long long decoding, int frames);
    void ShutdownWorkers();
    // The timing pass may take the stream's first and last picture times
    // from its packets' times rather than decode them: the codec shows every
    // picture it decodes.
    bool TimesFromPacketsAllowed() const;
    // The codec shows its pictures in the order of their packets (no
    // reordering): intra-only codecs, VP9, AV1.
    bool PicturesInPacketOrder() const;
    // A negative time is a picture of the stream, one from before the
    // container's clock wrapped, not one that the container leaves unshown
    // (edit lists, codec delay).
    bool NegativeTimesArePictures() const;
    // What tells whether a packet holds a whole frame; null when every
    // packet of the stream does.
    std::unique_ptr<PacketPictureCheck> MakePictureCheck() const;
    // Where the stream's average rate and its real base rate differ, takes
    // the one that the spacing of its first pictures keeps to: one picture
    // timed seconds late skews the average, a corrupt timestamp among the
    // first pictures the base rate (RegularFrameRate). Leaves the demuxer
    // anywhere.
    void ChooseRegularFrameRate();

    // Replaces the stream's codec context by a newly opened one, as the
    // stream was opened with. False, keeping the old one, when that fails.
    bool RenewCodecContext();
    // Pictures the codec keeps besides those handed out (references,
    // reordering, frame threads), and the one the worker holds.
    long long CodecHeldPictures() const;
    // Those of them that do not depend on the threads.
    static long long FixedHeldPictures(AVCodecContext const* context);
    // The most frame threads, up to wanted, whose pictures fit the cache
    // budget beside what playing needs; 0 when none fits.
    int FrameThreadsForBudget(AVCodecContext const* context, int wanted) const;
    // DecoderPictureBytes, or before the codec tells its format, the size of
    // the stream's.
    long long BudgetedPictureBytes() const;
    // Reopens the codec with fewer frame threads where its pictures would
    // crowd the cache out, and says once when they do even with one.
    void BoundCodecThreads();
    // Bytes of one of the codec's pictures, in its own format: the last
    // one's, or the size its format takes before any came.
    long long DecoderPictureBytes() const;
    // The context the next packet goes to: the run context once a forward
    // run or an intra-only backward window has begun, else the stream's own.
    AVCodecContext* DecodingContext() const;
    // Hands the forward run to the run context (opening it the first time)
    // once it has gone on long enough since the last seek; an intra-only
    // backward window at once.
    void ChooseDecodingContext();
    // Opens the run context; null where the codec has no frame threads.
    AVCodecContext* OpenRunContext() const;
    // Bytes of one picture: the last one's, or the output format's size
    // before any came.
    long long PictureBytesEstimate() const;
    // The longest backward window the budget allows.
    int WindowFramesForBudget() const;
    // Where the backward window of an intra-only stream before the picture
    // at start is sought: each picture decodes on its own and a seek lands
    // on the one asked for, so the window starts at its own first picture.
    // It is twice as long as the one handed out before it, up to the length
    // the budget allows: after a seek the first pictures come soon, and
    // then the frame threads decode long runs.
    long long IntraOnlyWindowSeekTime(long long start) const;
    // Before and after a backward window is decoded: sets its length.
    void StartWindow();
    void FinishWindow();

    // Every field below belongs to the one thread that drives the decoder: a
    // DecodeManager's decode thread (playback's, or an export's), or the parse
    // thread for DecodeExtraStreamInfo's timing pass. Only that thread reads
    // or writes them, so no lock guards them: the VideoDecodeWorkers run on
    // it through direct connections, and the codec's frame threads and the
    // scaler's conversion threads work only on what a worker hands them
    // within its call. Other threads reach the decoder through the command
    // inbox alone (AvDecoderBase), which locks itself.

    bool mForExport;

    // The open stream and what it allows; set as it opens
    // (InitializeVideoDecoder), fixed until it closes.
    struct StreamState
    {
        // The stream's record in the source.
        VideoStreamInfo* info = nullptr;
        // Renewed when the input is opened again (ReopenInput).
        AVRational timeBase {0, 1};
        int fileIndex = 0;
        // The input cannot seek, its packets carry no timestamps of their own
        // (raw elementary streams), or its timestamps restart midway: every
        // seek decodes from the start, and a picture's time is its number in
        // decoding order.
        bool rewindOnly = false;
        // Every picture is a key picture shown in decoding order: a seek
        // lands exactly on the wanted one.
        bool intraOnly = false;
        // The codec leaves out non-reference pictures on request without
        // changing any other: a seek need not decode those far before its
        // target. H.264, and HEVC of one temporal sub-layer.
        bool skipsNonReference = false;
        // The codec hands out pictures whose references are missing as if
        // they were sound (HEVC): a seek into the middle of the stream feeds
        // it nothing before a key packet (DecodingState::awaitKey).
        bool seekNeedsKey = false;
        // H.264: tells the key packets that start a gradual refresh; null
        // for other codecs.
        std::unique_ptr<NalUnitReader> units;
    };
    StreamState mStream;

    // The format the workers convert each picture into.
    struct ConversionState
    {
        AVPixelFormat outputPixelFormat = AV_PIX_FMT_NONE;
        VideoFramePixelFormat framePixelFormat = VideoFramePixelFormat::RGB24;
        int imageAlignment = 0;
        // 0: chosen for the open decoder.
        int threads = 0;
    };
    ConversionState mConversion;

    // The workers: one at a time decodes a packet (busy, by id) and hands its
    // pictures back before the request returns.
    struct WorkerState
    {
        QMap<int, VideoDecodeWorker*> busy;
        QQueue<VideoDecodeWorker*> idle;
        bool packetInFlight = false;
    };
    WorkerState mWorkers;

    // The codec contexts besides the stream's own. An intra-only codec
    // decodes a seek's picture on slice threads, every core on the one
    // picture asked for. A forward run past it goes to a second context on
    // frame threads, which decodes pictures side by side and leaves no core
    // waiting on another's slices; each packet is a whole picture, so the
    // hand-over between them loses or repeats none. The run context takes
    // the packets from the hand-over to the next seek, which flushes it.
    // Backwards, each window is such a run from its first picture: the run
    // context takes it from the window's start (StartWindow) on.
    struct CodecState
    {
        AVCodecContext* runContext = nullptr;
        bool runActive = false;
        // Opening it failed, or the codec cannot run frame threads: not
        // tried again for this stream.
        bool runRefused = false;
        // A flush leaves an HEVC codec counting pictures on from what it
        // decoded before: where the key picture that starts the count again
        // does not decode, the pictures after it would come out unlike those
        // of a codec that starts with the stream. Decoding that starts with
        // the stream's first picture therefore gets a newly opened codec
        // once the old one was used.
        bool used = false;
        // Most threads the codec is opened with (BoundCodecThreads); 0 for
        // the setting's count.
        int threadLimit = 0;
        // Not even two frame threads fit: the threads split each picture
        // instead, which holds no picture more.
        bool sliceThreadsOnly = false;
    };
    CodecState mCodec;

    // The direction, and where reading and decoding stand since the input
    // was last positioned (SeekStream resets most of it).
    struct DecodingState
    {
        bool forward = true;
        // Nothing was read since the input was opened or rewound, so a seek
        // to the start need not touch the demuxer (single images cannot
        // seek).
        bool atStart = true;
        long long lastPacketTime = 0;
        long long pictureCount = 0;
        // A picture with a timestamp of its own came since the last seek (or
        // the seek went to the start): see VideoDecodingData::timeAnchored.
        bool timeAnchored = true;
        long long packetsSinceSeek = 0;
        // Time of the first picture since the last seek of the input (-1
        // until it came): skipping starts there, so that a timestamp that
        // jumps back is never skipped.
        long long skipFrom = -1;
        // StreamState::seekNeedsKey: holds until a key packet was read.
        bool awaitKey = false;
        // The packet decoding starts at since the input was last positioned
        // was checked for a gradual refresh.
        bool startChecked = true;
        // Pictures timed before this (µs) since the input was last
        // positioned come from a refresh not yet done: they are not handed
        // out.
        long long exactFrom = std::numeric_limits<long long>::min();
    };
    DecodingState mDecoding;

    // The seek under way. time is the time whose picture it must deliver;
    // verified turns true once a sound picture at or before it (or any
    // picture after a seek to the start) came out.
    struct SeekState
    {
        long long time = 0;
        long long position = 0;
        long long backoff = 0;
        bool fromStart = true;
        bool verified = true;
        bool reseeked = false;
        // Cleared for the rest of a seek that found skipping unsafe.
        bool skipAllowed = true;
        // The forward seek keeps no leading pictures (SeekWithoutLead).
        bool withoutLead = false;
        // SetSeekKeepsBackwardWindow.
        bool keepsWindow = false;
        // Pictures a forward seek keeps before its target, and the shortest
        // backward window: the setting's, or fewer where that many leave the
        // codec no frame threads (BoundCodecThreads).
        int lead = 24;
    };
    SeekState mSeek;

    // The backward window: the pictures up to end in presentation order,
    // handed out latest first.
    struct WindowState
    {
        long long end = 0;
        QList<std::shared_ptr<VideoFrame>> frames;
        // The window up to end is still being decoded.
        bool unfinished = false;
        // The codec was drained at the end of the window: nothing more is
        // sent to it before the next seek.
        bool drained = false;
        // Decoding time (µs) of the last packet read since the last seek, -1
        // before the first or after one without.
        long long lastDecodeTime = -1;
        // Pictures a window keeps at most; changed between windows only.
        int length = 0;
        // Pictures of the longest window since the stream was opened.
        qsizetype longest = 0;
        int count = 0;
        // PrepareBackwardWindow set the length of the next window.
        bool prepared = false;
    };
    WindowState mWindow;

    // What HeldPictureBytes and the window's length are reckoned from.
    struct MemoryState
    {
        // SetBackwardWindowBudget: the video budget, and the bytes of it the
        // cache keeps.
        long long budget = 0;
        long long cacheKept = 0;
        // SetCacheBudget: the whole picture budget of the cache.
        long long cacheMaximum = 0;
        // The files whose pictures were found too big for the cache (each
        // said once).
        QSet<QString> tooBigWarned;
        // Bytes of the last frame made, and of the codec's last picture
        // (which may be larger: 10-bit pictures become 8-bit frames).
        long long pictureBytes = 0;
        long long decoderPictureBytes = 0;
    };
    MemoryState mMemory;

    // How the timing pass runs and what the last one did.
    struct TimingState
    {
        // See SetTimesFromPackets.
        bool fromPacketsAllowed = true;
        // See EndTimedFromPackets.
        bool endTimedFromPackets = false;
    };
    TimingState mTiming;
};
