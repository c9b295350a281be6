#pragma once

#include "media/AvDecoderBase.h"

#include <QList>

#include <memory>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

struct AudioFrame;
struct AudioStreamInfo;
struct SwrContext;

// Turns one audio stream of a movie or audio file into AudioFrames of
// interleaved 32-bit float samples at the output rate and channel count,
// forwards packet by packet or backwards block by block, from any seek
// position.
//
// Block times are those of the samples a block holds: the resampler's own
// delay is taken off, so concatenated blocks and their times agree to the
// output sample. After the first block of a run, blocks are timed from the
// samples already delivered: containers that keep whole milliseconds
// (Matroska) would otherwise move every block by a fraction of one. The first
// block after a seek in such a container is put on the stream's frame grid,
// learnt from its first frames.
//
// After a seek into the middle of a stream, what the decoder cannot yet get
// right is dropped: the first frame (a decoder without its preceding packet,
// AAC's overlapping windows, and a freshly reset resampler), the codec's seek
// pre-roll (Opus: 80 ms), and for MP3 every frame whose bit reservoir or
// overlap reaches into packets not read. Seeks land that much earlier, so the
// first block kept still starts before the target. A seek to the start opens
// the decoder afresh: it then skips the encoder's priming samples as one that
// never seeked does.
//
// Use: construct, OpenSource(), SetVideoStreamIndexForSeek(), then Seek(),
// SetDecodeForward() and DecodeNext() in any order. Blocks arrive through
// AudioFrameDecoded before DecodeNext returns; a null block means that no more
// follow in that direction. Everything runs on the caller's thread.
class AudioDecoder : public AvDecoderBase
{
    Q_OBJECT

public:
    // DecodeNext results.
    static constexpr int STATUS_DONE = 0;
    static constexpr int STATUS_START_REACHED = 2; // backward: the stream's first block was emitted
    static constexpr int STATUS_END_REACHED = 3;   // the end of the file was reached

    // settings: the copy of the settings its task was started with.
    explicit AudioDecoder(DecodeSettings const& settings, QObject* parent = nullptr);
    // With the settings as they are now: main thread only.
    explicit AudioDecoder(QObject* parent = nullptr);
    ~AudioDecoder() override;

    // Opens the stream of audio record infoIndex (-1: the best stream) of the
    // file; runs the timing pass first when the record has no end time yet.
    bool OpenSource(Source* source, int fileIndex, int infoIndex) override;
    bool OpenStreamByInfoIndex(int fileIndex, int infoIndex) override;
    void CloseAudioStream() override;

    // Container index of the video stream seeks go through; -1 seeks on the
    // audio stream.
    void SetVideoStreamIndexForSeek(int streamIndex);
    void SetDecodeForward(bool forward);
    bool IsDecodeForward() const;
    // t in µs of source time. Lands at least DECODE_BACKWARD_SEEK_OFFSET and
    // the codec's pre-roll early.
    void Seek(long long t);
    // Backwards, a window interrupted by a waiting command (see
    // SetCommandInbox) goes on at the next call unless a seek comes first.
    int DecodeNext();
    // Drops the backward window under way.
    void StopDecoding();

    // Fills the open stream's record: startTime (with findStart) and endTime,
    // both in stream time, before the start-time offset is taken off.
    void DecodeTimingInfoForCurrentStream(bool findStart);
    // The timing pass for every audio stream of the source's first file that
    // has not had it.
    static void DecodeExtraStreamInfo(Source* source);

    // The stream rates decoded at all: below or above them a stream is
    // refused as damaged (resampled, a 1 Hz stream grows 48,000 times).
    static constexpr int MINIMUM_SAMPLE_RATE = 1000;
    static constexpr int MAXIMUM_SAMPLE_RATE = 768000;
    static bool IsPlayableSampleRate(int rate);
    // The longest a timing pass decodes (ms).
    static constexpr long long TIMING_PASS_LIMIT_MS = 10000;

Q_SIGNALS:
    // A long step goes on (a backward window being decoded): the owner may
    // bring its outputs up to date.
    void DecodingProgressed();
    void AudioFrameDecoded(std::shared_ptr<AudioFrame> frame, AudioStreamInfo* streamInfo);

private:
    void InitializeAudioDecoder();
    // Reads the next packet of the stream (the empty end packet at the end of
    // the file) and decodes it into mDecodedFrames. Returns the status.
    int ReadAndDecodePacket();
    void Decode();
    void ProcessFrame();
    // Takes the samples still held by the resampler at the end of the stream.
    void FlushResampler();
    // Where a frame whose timestamp says stamped (µs, stream time less the
    // offset) starts: after the run's earlier blocks when the stamp agrees
    // with them to the container's precision, else on the frame grid.
    double BlockStart(double stamped, bool timed, int samples, int inputRate) const;
    // Whether the frame of samples input samples just decoded is still
    // within the pre-roll of the last seek; counts it off.
    bool InPreroll(int samples);
    // How much earlier than its target a seek lands for the pre-roll (µs).
    long long PrerollDuration() const;
    // Opens the decoder afresh (a seek to the start). False when it fails.
    bool ReopenDecoder();
    // In a container with coarse timestamps, learns from the stream's first
    // two frames where its frames lie.
    void LearnFrameGrid();
    // Gives the block its times and length and keeps it (unless it is the
    // one dropped after a seek).
    void AppendBlock(std::shared_ptr<AudioFrame> block, double start, long long samples);
    // Sizes the block to its first samples and times it from start (µs).
    void SetBlockLength(AudioFrame& block, double start, long long samples) const;
    // Sets the resampler up for the decoded frame's format, layout and rate
    // unless it already is. False when it cannot be (the stream then gives
    // silence).
    bool PrepareResampler();
    void FreeResampler();
    int DecodeNextForward();
    int DecodeNextBackward();
    // Decodes from the seek position up to the seek target into the backward
    // window. Returns the status.
    int FillBackwardWindow();

    AudioStreamInfo* mCurrentStreamInfo = nullptr;
    double mTimeBaseUs = 0.0;
    int mOutputChannelCount;
    int mOutputSampleRate;
    AVSampleFormat mOutputSampleFormat;
    int mOutputBytesPerSample;
    AVFrame* mFrame = nullptr;
    SwrContext* mResampler = nullptr;
    AVPacket* mPacket = nullptr;
    bool mDecodeForward = true;
    // The backward window up to mSeekTarget is still being decoded.
    bool mWindowUnfinished = false;
    long long mSeekTarget = 0;
    int mVideoStreamIndexForSeek = -1;
    QList<std::shared_ptr<AudioFrame>> mDecodedFrames;
    QList<std::shared_ptr<AudioFrame>> mBackwardWindow;

    // What the resampler was set up for.
    AVChannelLayout mResamplerLayout {};
    AVSampleFormat mResamplerFormat = AV_SAMPLE_FMT_NONE;
    int mResamplerRate = 0;
    // The resampler could not be set up for this stream: logged once.
    bool mResamplerFailed = false;
    // The next decoded block follows a seek into the stream and is dropped.
    bool mDropNextBlock = false;
    // Pre-roll of the last seek still to drop: input samples (at least the
    // first frame), and for MP3 the reservoir bytes that must have been read
    // before the frame before a kept one.
    long long mPrerollSamples = 0;
    long long mReservoirBytesNeeded = 0;
    // MP3 after a seek: main-data bytes read before the previous packet, and
    // in it.
    long long mReservoirBytesBefore = 0;
    long long mReservoirBytesLast = 0;
    // The frames of the packet under decoding lie in the MP3 pre-roll.
    bool mPacketInReservoirPreroll = false;
    // The decoder is opened afresh before the next packet (after a seek to
    // the start).
    bool mReopenDecoder = false;
    // Where the next block starts (µs, exact), once a block of this run came
    // out; mNextBlockKnown false after a seek.
    double mNextBlockStart = 0.0;
    bool mNextBlockKnown = false;
    // The stream's frame grid in a container with coarse timestamps: where
    // its second frame starts (µs, stream time less the offset), the input
    // samples per frame and their rate. mGridFrameSamples 0: unknown. While
    // decoding from the start, mGridFrames counts the frames seen.
    double mGridStart = 0.0;
    int mGridFrameSamples = 0;
    int mGridRate = 0;
    int mGridFrames = -1;
    double mGridFirstEnd = 0.0;
    // Nothing was read since the input was opened or seeked to its start.
    bool mAtStreamStart = false;
    // The backward window was decoded from the stream's first packet.
    bool mWindowFromStart = false;
};
