#pragma once

#include "media/VideoDecodingData.h"

#include <QObject>

#include <memory>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

class PacketPictureCheck;
struct SwsContext;

// Decodes one packet at a time for a VideoDecoder and converts each picture
// into the decoder's frame format. Lives on the decoder's thread and is driven
// through direct signal connections, so a packet is fully processed when the
// request returns.
class VideoDecodeWorker : public QObject
{
    Q_OBJECT

public:
    // hardwareRendering: whether the viewer draws with OpenGL, as the owning
    // task's copy of the settings says.
    VideoDecodeWorker(int id, bool forExport, bool hardwareRendering, QObject* parent = nullptr);
    ~VideoDecodeWorker() override;

    int Id() const;
    AVPacket* Packet();
    VideoDecodingData* DecodingData();

    // Reads the next packet of the decoding data's stream into Packet(),
    // skipping other streams. At the end of the file the packet is left empty
    // (which drains the decoder) and false is returned.
    bool ReadPacket(AVFormatContext* formatContext);

    // Timing pass, from the current read position, without converting: the
    // time of the first picture (µs, before any start-time offset), and the
    // end of the last one (its start plus one frame step). False when no
    // picture came. containerEnd is the end the container claims (µs, -1
    // when unknown): see LastTimeInProgression for the times not taken.
    // FindEndTime takes pictures without a timestamp of their own only after
    // one with, unless it reads fromStart (the stream's first picture on).
    bool FindStartTimeOffset(long long& offset, AVFormatContext* formatContext);
    bool FindEndTime(long long& endTime, AVFormatContext* formatContext, long long containerEnd,
                     bool fromStart = false);
    // FindStartTimeOffset's answer from the packets' presentation times
    // alone, reading from the start: the first packet's time, when it is a
    // key packet and none of those that may be shown before it (the next
    // MAXIMUM_REORDERED_PICTURES, or the next one with inPacketOrder) is
    // timed at or before it. False, with offset untouched, as
    // FindEndTimeFromPackets says, when frames does not find the first
    // packet to start decoding exactly on its own (an IDR), or when its
    // picture does not decode (a damaged slice header): only its own picture
    // is decoded, and the codec is flushed after it.
    bool FindStartTimeFromPackets(long long& offset, AVFormatContext* formatContext, bool inPacketOrder,
                                  PacketPictureCheck* frames);
    // The most pictures a codec shows before one decoded ahead of them
    // (H.264's largest picture buffer).
    static constexpr std::size_t MAXIMUM_REORDERED_PICTURES = 16;
    // FindEndTime's answer from the packets' presentation times alone,
    // reading from the current position (a key packet) to the end of the
    // file without decoding: the latest time plus one frame step. Only for
    // codecs that show every picture they decode, each at its packet's time.
    // False, with endTime untouched, when the packets cannot tell what
    // decoding would: one without a timestamp, two with the same, one the
    // container marks as discarded or corrupt, no key packet first, a read
    // error, a latest time that may be an outlier (see
    // LastTimeInProgression), a packet that frames does not find to hold a
    // whole frame (null: each does), or, with inPacketOrder (pictures shown
    // in the order they are decoded), times that do not rise from packet to
    // packet.
    bool FindEndTimeFromPackets(long long& endTime, AVFormatContext* formatContext, long long containerEnd,
                                bool inPacketOrder, PacketPictureCheck* frames);

    // The latest of the decoded picture times (µs) that is not an outlier. A
    // time is an outlier when it lies more than OUTLIER_SLACK_SECONDS (or
    // OUTLIER_SLACK_FRAMES frame steps, whichever is longer) both past the
    // container's end and past the time before it: one corrupt timestamp
    // must not set the length of the whole stream. Everything after an
    // outlier is dropped with it. Without a known container end (0 or less)
    // every time is taken. times is sorted in place; it must not be empty.
    static long long LastTimeInProgression(std::vector<long long>& times, long long containerEnd, double frameStep);
    static constexpr double OUTLIER_SLACK_SECONDS = 10.0;
    static constexpr double OUTLIER_SLACK_FRAMES = 100.0;
    // True when time lies more than the slack above past reference.
    static bool IsOutlier(long long time, long long reference, double frameStep);

    // Forgets the picture held back for conversion; called when the decoder
    // is flushed for a seek.
    void Flush();

    // Converts a decoded picture into the decoding data's frame format (or
    // keeps it as it is when it has that layout already) and appends it to
    // the data's frames, timed at time. Nothing is appended when it fails.
    void ProcessFrame(AVFrame* picture, long long time);

public Q_SLOTS:
    void Decode(int id);

Q_SIGNALS:
    void PacketProcessingCompleted(int id);
    void DecodingCompleted(int id);

private:
    // The times (µs) of the stream's next count packets (fewer at the end of
    // the file), in packet order; false when a packet is not usable (see
    // FindEndTimeFromPackets) or none came.
    // startsDecoding (when given) tells whether the first packet's picture
    // decodes exactly on its own (always so without frames).
    // first (when given) is set to a reference to the first packet.
    bool ReadPacketTimes(std::vector<long long>& times, AVFormatContext* formatContext, std::size_t count,
                         bool inPacketOrder, PacketPictureCheck* frames, bool* startsDecoding = nullptr,
                         AVPacket* first = nullptr);
    // Decodes packet alone, from a flushed codec, and flushes the codec
    // again: true when a picture timed at time (µs) comes out.
    bool DecodesAlone(AVPacket const* packet, long long time);
    // Sends the packet (an empty one drains the decoder) and takes every
    // picture the decoder has ready. Sets mEndOfStream when it is drained.
    void DecodeInternal(bool probeOnly);
    void HandleFrame(bool probeOnly);
    long long FrameTime() const;
    // A stream timestamp in µs of the stream's own time (after its start
    // offset).
    long long StreamTime(long long timestamp) const;
    // Sets whether the decoder skips the packet's picture when nothing
    // depends on it (see VideoDecodingData::skipBefore).
    void ChooseSkipping(AVCodecContext* context);
    // Called as the kept range begins: true when the pictures skipped before
    // it cannot have changed what it shows. Ends the skipping until the next
    // flush.
    bool EndSkipping();
    // A picture timed far beyond the stream's end (see IsOutlier) carries a
    // corrupt timestamp: it is retimed one frame step after the picture
    // before it, or dropped (false) when there is none since the last seek.
    bool ReplaceOutlierTime(long long& time) const;
    void ConvertHeldFrame();
    // The decoder's own picture as a frame, when it already has the output
    // format and line sizes; null otherwise.
    std::shared_ptr<VideoFrame> KeepPicture(AVFrame* picture, long long time, int const* lineSizes) const;
    bool EnsureScaler(int width, int height, AVPixelFormat inputFormat, AVPixelFormat outputFormat, int threads);
    bool Convert(AVFrame* picture, uint8_t* const* planes, int const* lineSizes, uint8_t* buffer, int size);
    bool EnsureImageBuffer(int size);

    int mId;
    AVPacket* mPacket;
    AVFrame* mDecodedFrame;
    // The latest picture that lay too far before the seek target to be
    // converted. It is converted after all when the next picture starts past
    // that limit, since it then covers the start of the wanted range (a long
    // still in a variable-rate stream).
    AVFrame* mHeldFrame;
    long long mHeldFrameTime = 0;
    bool mHoldingFrame = false;
    // The latest skipBefore any packet was sent with in skipping mode since
    // the last flush (-1: none), and whether the kept range has begun since.
    long long mSkipLimit = -1;
    bool mSkipEnded = false;
    // Whether the decoder gave a picture since the last flush (decoding
    // thread only, like the rest of the decoding state). Before its
    // first key picture, packets are expected to fail (they refer to pictures
    // or parameters it never saw): until then nobody is warned.
    bool mPictureDecoded = false;
    SwsContext* mScaler = nullptr;
    // What mScaler was made for.
    int mScalerWidth = 0;
    int mScalerHeight = 0;
    AVPixelFormat mScalerInput = AV_PIX_FMT_NONE;
    AVPixelFormat mScalerOutput = AV_PIX_FMT_NONE;
    int mScalerThreads = 0;
    AVFrame* mOutputFrame; // describes the buffer a conversion writes into
    uint8_t* mImageBuffer = nullptr;
    int mImageBufferSize = 0;
    VideoDecodingData mDecodingData;
    bool mEndOfStream = false;
    // A picture timed by a timestamp of its own (or by its number) came since
    // FindEndTime began: the times of untimed ones after it follow from it.
    bool mTimeKnown = true;
    bool mForExport;
    bool mHardwareRendering;
    // The source format of the last conversion that failed: logged once, not
    // for every picture.
    AVPixelFormat mUnsupportedFormat = AV_PIX_FMT_NONE;
};
