#include "media/AudioDecoder.h"

#include <QElapsedTimer>

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AudioFrame.h"
#include "media/AvHelpers.h"
#include "model/Source.h"

#include <algorithm>
#include <cmath>
#include <limits>

extern "C" {
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

namespace
{

long long RoundToMicroseconds(double time)
{
    return std::llround(time);
}

// MP3: how far back a frame's main data may begin (the bit reservoir), and
// the most of a frame that is not main data (header, CRC, side information).
long long const MP3_RESERVOIR_BYTES = 511;
int const MP3_FRAME_OVERHEAD = 38;
int const MP3_FRAME_SAMPLES = 1152;

} // namespace

AudioDecoder::AudioDecoder(QObject* parent)
    : AudioDecoder(DecodeSettings::FromSettings(), parent)
{
}

AudioDecoder::AudioDecoder(DecodeSettings const& settings, QObject* parent)
    : AvDecoderBase(settings, parent)
    , mOutputChannelCount(settings.audioFormat.channelCount)
    , mOutputSampleRate(settings.audioFormat.sampleRate)
    , mOutputSampleFormat(AvHelpers::AudioOutputSampleFormat())
    , mOutputBytesPerSample(AvHelpers::AudioOutputBytesPerSample())
{
}

AudioDecoder::~AudioDecoder()
{
    CloseSource();
}

bool AudioDecoder::OpenSource(Source* source, int fileIndex, int infoIndex)
{
    if (!AvDecoderBase::OpenSource(source, fileIndex, infoIndex))
    {
        return false;
    }
    if (mCurrentStreamInfo && mCurrentStreamInfo->endTime < 0)
    {
        DecodeTimingInfoForCurrentStream(true);
    }
    LearnFrameGrid();
    return true;
}

bool AudioDecoder::OpenStreamByInfoIndex(int fileIndex, int infoIndex)
{
    CloseAudioStream();
    Logger* logger = Logger::GetInstance();
    SourceFileInfo* file = mSource ? mSource->FileInfoAtIndex(fileIndex) : nullptr;
    int const count = file ? static_cast<int>(file->audioStreams.size()) : 0;
    if (count == 0)
    {
        logger->Error("Failed to open audio stream. Media does not have any audio streams.");
        return false;
    }
    // A record that parsing could not fill has no stream to open.
    if (infoIndex >= count || (infoIndex >= 0 && file->audioStreams.at(infoIndex).streamIndex < 0))
    {
        logger->Error("Failed to open audio stream. Unknown stream specified.");
        return false;
    }
    int const index = OpenAudioStream(infoIndex < 0 ? -1 : file->audioStreams.at(infoIndex).streamIndex);
    if (index < 0)
    {
        return false;
    }
    for (AudioStreamInfo& info : file->audioStreams)
    {
        if (info.streamIndex == index)
        {
            mCurrentStreamInfo = &info;
            break;
        }
    }
    if (!mCurrentStreamInfo)
    {
        CloseAudioStream();
        logger->Error(QStringLiteral("Failed to open audio stream. Audio info not found for stream: %1").arg(index));
        return false;
    }
    InitializeAudioDecoder();
    return true;
}

void AudioDecoder::InitializeAudioDecoder()
{
    mFrame = av_frame_alloc();
    mPacket = av_packet_alloc();
    mTimeBaseUs = av_q2d(mFormatContext->streams[mCurrentStreamInfo->streamIndex]->time_base) * 1e6;
    mOutputChannelCount = mSettings.audioFormat.channelCount;
    mOutputSampleRate = mSettings.audioFormat.sampleRate;
    // The resampler is set up from the first decoded frame: only a frame tells
    // the real format, layout and rate (a WAV without a channel mask, a stream
    // that changes mid-way).
    mResamplerFailed = false;
    mDropNextBlock = false;
    mPrerollSamples = 0;
    mReservoirBytesNeeded = 0;
    mPacketInReservoirPreroll = false;
    mReopenDecoder = false;
    mNextBlockKnown = false;
    mGridFrameSamples = 0;
    mGridFrames = 0;
    mAtStreamStart = true;
    mSeekTarget = 0;
}

void AudioDecoder::CloseAudioStream()
{
    mCurrentStreamInfo = nullptr;
    FreeResampler();
    av_frame_free(&mFrame);
    av_packet_free(&mPacket);
    mDecodedFrames.clear();
    mBackwardWindow.clear();
    AvDecoderBase::CloseAudioStream();
}

void AudioDecoder::SetVideoStreamIndexForSeek(int streamIndex)
{
    mVideoStreamIndexForSeek = streamIndex;
}

void AudioDecoder::SetDecodeForward(bool forward)
{
    mDecodeForward = forward;
}

bool AudioDecoder::IsDecodeForward() const
{
    return mDecodeForward;
}

void AudioDecoder::Seek(long long t)
{
    mBackwardWindow.clear();
    mWindowUnfinished = false;
    if (!mFormatContext || !mAudioCodecContext || !mCurrentStreamInfo)
    {
        return;
    }
    long long const target = t - DECODE_BACKWARD_SEEK_OFFSET - PrerollDuration();
    // Stream timestamps start at the start-time offset, not at 0.
    long long const offset = mCurrentStreamInfo->startTimeOffset;
    int const audioIndex = mCurrentStreamInfo->streamIndex;
    AVStream* audioStream = mFormatContext->streams[audioIndex];
    bool const fromStart = target <= 0;
    long long constexpr earliest = std::numeric_limits<long long>::min();
    int result = 0;
    if (fromStart)
    {
        // The very first packet, which may lie before the stream's start time
        // (encoder priming, skipped by the decoder): a decoder that starts
        // there matches one that never seeked. The first index entry names
        // it where the container has an index (an MP4 asked for the earliest
        // time may land on its second packet, or without the count of
        // priming samples to skip). An index built from the packets read so
        // far may not begin at the start.
        AVIndexEntry const* entry = avformat_index_get_entry(audioStream, 0);
        long long const first =
            entry && audioStream->start_time != AV_NOPTS_VALUE && entry->timestamp <= audioStream->start_time
                ? entry->timestamp
                : earliest;
        result = avformat_seek_file(mFormatContext, audioIndex, earliest, first, first, 0);
        if (result < 0)
        {
            long long const start = audioStream->start_time != AV_NOPTS_VALUE ? audioStream->start_time : 0;
            result = avformat_seek_file(mFormatContext, audioIndex, earliest, start, start, 0);
        }
    }
    else
    {
        int streamIndex = audioIndex;
        bool const byVideo = mSettings.seekAudioByVideoStream && mVideoStreamIndexForSeek >= 0 &&
                             mVideoStreamIndexForSeek < static_cast<int>(mFormatContext->nb_streams);
        if (byVideo)
        {
            streamIndex = mVideoStreamIndexForSeek;
        }
        long long ts = av_rescale_q(target + offset, AV_TIME_BASE_Q, mFormatContext->streams[streamIndex]->time_base);
        if (byVideo && ts > 0)
        {
            --ts;
        }
        result = avformat_seek_file(mFormatContext, streamIndex, earliest, ts, ts, 0);
    }
    if (result < 0)
    {
        Logger::GetInstance()->Error("Audio Seek Failed", result);
        return;
    }
    avcodec_flush_buffers(mAudioCodecContext);
    // From the start, a fresh decoder skips the encoder's priming samples
    // (Opus forgets them at a flush) and decodes as one that never seeked.
    // It is opened when the first packet comes: opened now, it would skip
    // them after a seek elsewhere that follows before anything is decoded.
    mReopenDecoder = fromStart;
    // Samples held by the resampler belong to the old position.
    FreeResampler();
    mDecodedFrames.clear();
    mNextBlockKnown = false;
    mDropNextBlock = false;
    mPrerollSamples = fromStart ? 0 : std::max<long long>(audioStream->codecpar->seek_preroll, 1);
    bool const reservoir = !fromStart && audioStream->codecpar->codec_id == AV_CODEC_ID_MP3;
    mReservoirBytesNeeded = reservoir ? MP3_RESERVOIR_BYTES : 0;
    mReservoirBytesBefore = 0;
    mReservoirBytesLast = 0;
    mPacketInReservoirPreroll = reservoir;
    mGridFrames = fromStart ? 0 : -1;
    mAtStreamStart = fromStart;
    mSeekTarget = t;
}

long long AudioDecoder::PrerollDuration() const
{
    AVCodecParameters const* parameters = mFormatContext->streams[mCurrentStreamInfo->streamIndex]->codecpar;
    int const rate = parameters->sample_rate;
    if (!IsPlayableSampleRate(rate))
    {
        return 0;
    }
    if (parameters->codec_id == AV_CODEC_ID_MP3)
    {
        // The frames whose main data the reservoir may hold, one more for the
        // overlap, at the stream's average size.
        int const frameSamples = parameters->frame_size > 0 ? parameters->frame_size : MP3_FRAME_SAMPLES;
        long long const frameBytes = parameters->bit_rate / 8 * frameSamples / rate;
        long long const mainData = std::max<long long>(frameBytes - MP3_FRAME_OVERHEAD, 32);
        long long const frames = 1 + (MP3_RESERVOIR_BYTES + mainData - 1) / mainData;
        return frames * frameSamples * 1000000 / rate;
    }
    return static_cast<long long>(parameters->seek_preroll) * 1000000 / rate;
}

bool AudioDecoder::ReopenDecoder()
{
    AVStream const* stream = mFormatContext->streams[mCurrentStreamInfo->streamIndex];
    AVCodecContext* context = avcodec_alloc_context3(mAudioCodec);
    if (!context)
    {
        return false;
    }
    context->pkt_timebase = stream->time_base;
    if (avcodec_parameters_to_context(context, stream->codecpar) < 0 || avcodec_open2(context, mAudioCodec, nullptr) < 0)
    {
        avcodec_free_context(&context);
        return false;
    }
    avcodec_free_context(&mAudioCodecContext);
    mAudioCodecContext = context;
    return true;
}

void AudioDecoder::LearnFrameGrid()
{
    if (!mFormatContext || !mAudioCodecContext || !mCurrentStreamInfo || mGridFrameSamples > 0 ||
        mTimeBaseUs * mAudioCodecContext->sample_rate <= 1e6)
    {
        return; // nothing open, known already, or every sample has its own timestamp
    }
    Seek(0);
    for (int packet = 0; packet < 8 && mGridFrameSamples == 0; ++packet)
    {
        if (ReadAndDecodePacket() == STATUS_END_REACHED)
        {
            break;
        }
    }
    mDecodedFrames.clear();
    Seek(0);
}

int AudioDecoder::DecodeNext()
{
    int const status = mDecodeForward ? DecodeNextForward() : DecodeNextBackward();
    mLastErrorCode = status;
    return status;
}

void AudioDecoder::StopDecoding()
{
    mBackwardWindow.clear();
    mWindowUnfinished = false;
}

int AudioDecoder::ReadAndDecodePacket()
{
    if (!mFormatContext || !mAudioCodecContext || !mCurrentStreamInfo)
    {
        return STATUS_END_REACHED;
    }
    int status = STATUS_DONE;
    mAtStreamStart = false;
    if (mReopenDecoder)
    {
        mReopenDecoder = false;
        ReopenDecoder(); // flushed already, should it fail
    }
    av_packet_unref(mPacket);
    while (true)
    {
        if (av_read_frame(mFormatContext, mPacket) < 0)
        {
            // The empty packet drains the decoder.
            av_packet_unref(mPacket);
            status = STATUS_END_REACHED;
            break;
        }
        // An empty packet of the stream would read as the end to the decoder.
        if (mPacket->stream_index == mCurrentStreamInfo->streamIndex && mPacket->size > 0)
        {
            break;
        }
        av_packet_unref(mPacket);
    }
    Decode();
    av_packet_unref(mPacket);
    return status;
}

void AudioDecoder::Decode()
{
    bool const draining = mPacket->size == 0;
    if (mReservoirBytesNeeded > 0 && !draining)
    {
        // An MP3 frame is exact once the one before it is: once the packets
        // read before that one hold what the reservoir may refer to.
        mPacketInReservoirPreroll = mReservoirBytesBefore < mReservoirBytesNeeded;
        mReservoirBytesBefore += mReservoirBytesLast;
        mReservoirBytesLast = std::max(mPacket->size - MP3_FRAME_OVERHEAD, 0);
        if (!mPacketInReservoirPreroll)
        {
            mReservoirBytesNeeded = 0;
        }
    }
    int result = avcodec_send_packet(mAudioCodecContext, draining ? nullptr : mPacket);
    // A packet the decoder refuses is skipped; a decoder that drained already
    // answers end of file to the next drain request and on receive.
    if (result < 0 && result != AVERROR_EOF)
    {
        return;
    }
    while (true)
    {
        result = avcodec_receive_frame(mAudioCodecContext, mFrame);
        if (result == AVERROR_EOF)
        {
            FlushResampler();
            return;
        }
        if (result < 0)
        {
            return;
        }
        ProcessFrame();
        av_frame_unref(mFrame);
    }
}

bool AudioDecoder::PrepareResampler()
{
    if (mResamplerFailed)
    {
        return false;
    }
    auto const format = static_cast<AVSampleFormat>(mFrame->format);
    if (mResampler && format == mResamplerFormat && mFrame->sample_rate == mResamplerRate &&
        av_channel_layout_compare(&mFrame->ch_layout, &mResamplerLayout) == 0)
    {
        return true;
    }
    FreeResampler();
    AVChannelLayout outputLayout;
    av_channel_layout_default(&outputLayout, mOutputChannelCount);
    int result = swr_alloc_set_opts2(&mResampler, &outputLayout, mOutputSampleFormat, mOutputSampleRate,
                                     &mFrame->ch_layout, format, mFrame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&outputLayout);
    if (result >= 0)
    {
        result = swr_init(mResampler);
    }
    if (result < 0)
    {
        FreeResampler();
        mResamplerFailed = true;
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to set up audio conversion for stream %1 of %2; it plays as silence")
                .arg(mCurrentStreamInfo->streamIndex)
                .arg(mSource ? mSource->MediaName() : QString()),
            result);
        return false;
    }
    av_channel_layout_copy(&mResamplerLayout, &mFrame->ch_layout);
    mResamplerFormat = format;
    mResamplerRate = mFrame->sample_rate;
    return true;
}

void AudioDecoder::FreeResampler()
{
    swr_free(&mResampler);
    av_channel_layout_uninit(&mResamplerLayout);
    mResamplerFormat = AV_SAMPLE_FMT_NONE;
    mResamplerRate = 0;
}

void AudioDecoder::ProcessFrame()
{
    int const samples = mFrame->nb_samples;
    int const inputRate = mFrame->sample_rate > 0 ? mFrame->sample_rate : mAudioCodecContext->sample_rate;
    if (samples <= 0 || !IsPlayableSampleRate(inputRate))
    {
        return;
    }
    bool const resample = PrepareResampler();
    // The frame's own timestamp already accounts for samples the decoder
    // skipped (encoder priming); without one the block follows the last.
    long long const timestamp = mFrame->best_effort_timestamp;
    bool const timed = timestamp != AV_NOPTS_VALUE;
    double const frameTime =
        timed ? static_cast<double>(timestamp) * mTimeBaseUs - static_cast<double>(mCurrentStreamInfo->startTimeOffset)
              : 0.0;
    // The first sample that comes out now went in that much earlier.
    double const delay = resample ? static_cast<double>(swr_get_delay(mResampler, 1000000)) : 0.0;
    double const start = BlockStart(frameTime - delay, timed, samples, inputRate);
    if (mGridFrames == 0)
    {
        mGridFirstEnd = start + delay + static_cast<double>(samples) * 1e6 / inputRate;
        mGridFrames = 1;
    }
    else if (mGridFrames == 1)
    {
        mGridStart = mGridFirstEnd;
        mGridFrameSamples = samples;
        mGridRate = inputRate;
        mGridFrames = -1;
    }
    mDropNextBlock = InPreroll(samples);
    long long const capacity = resample ? swr_get_out_samples(mResampler, samples)
                                        : av_rescale_rnd(samples, mOutputSampleRate, inputRate, AV_ROUND_UP);
    if (capacity <= 0)
    {
        return;
    }
    long long const size = static_cast<long long>(av_samples_get_buffer_size(
        nullptr, mOutputChannelCount, static_cast<int>(capacity), mOutputSampleFormat, 1));
    auto block = std::make_shared<AudioFrame>(size, 0, 0, capacity, false);
    long long converted = av_rescale_rnd(samples, mOutputSampleRate, inputRate, AV_ROUND_NEAR_INF);
    if (resample)
    {
        auto* output = reinterpret_cast<uint8_t*>(block->data.data());
        int const result = swr_convert(mResampler, &output, static_cast<int>(capacity),
                                       const_cast<uint8_t const**>(mFrame->extended_data), samples);
        // A failed conversion leaves silence of the block's length.
        if (result >= 0)
        {
            converted = result;
        }
    }
    if (converted <= 0)
    {
        // Everything went into the resampler's history; it comes out with
        // the next frame.
        return;
    }
    AppendBlock(std::move(block), start, std::min(converted, capacity));
}

double AudioDecoder::BlockStart(double stamped, bool timed, int samples, int inputRate) const
{
    // Timestamps are as precise as the stream's time base.
    double const precision = mTimeBaseUs + 2e6 / mOutputSampleRate;
    if (mNextBlockKnown && (!timed || std::abs(stamped - mNextBlockStart) <= precision))
    {
        return mNextBlockStart;
    }
    if (!timed)
    {
        return 0.0;
    }
    // The first block after a seek, or one after a jump in the stream: a
    // container that rounds (or truncates) to its ticks puts it less than a
    // tick away from its place on the grid, unambiguous for frames longer
    // than two ticks.
    double const frame = static_cast<double>(samples) * 1e6 / inputRate;
    if (mGridFrameSamples > 0 && samples == mGridFrameSamples && inputRate == mGridRate &&
        mTimeBaseUs * inputRate > 1e6 && frame > 2 * mTimeBaseUs)
    {
        double const delay = mResampler ? static_cast<double>(swr_get_delay(mResampler, 1000000)) : 0.0;
        double const onGrid = mGridStart + std::round((stamped + delay - mGridStart) / frame) * frame - delay;
        if (std::abs(onGrid - stamped) < mTimeBaseUs)
        {
            return onGrid;
        }
    }
    return stamped;
}

bool AudioDecoder::InPreroll(int samples)
{
    bool const preroll = mPrerollSamples > 0 || mPacketInReservoirPreroll;
    mPrerollSamples = std::max(mPrerollSamples - samples, 0LL);
    return preroll;
}

void AudioDecoder::FlushResampler()
{
    if (!mResampler || !mNextBlockKnown)
    {
        return;
    }
    long long const capacity = swr_get_out_samples(mResampler, 0);
    if (capacity <= 0)
    {
        return;
    }
    long long const size = static_cast<long long>(av_samples_get_buffer_size(
        nullptr, mOutputChannelCount, static_cast<int>(capacity), mOutputSampleFormat, 1));
    auto block = std::make_shared<AudioFrame>(size, 0, 0, capacity, false);
    auto* output = reinterpret_cast<uint8_t*>(block->data.data());
    int const converted = swr_convert(mResampler, &output, static_cast<int>(capacity), nullptr, 0);
    if (converted > 0)
    {
        mDropNextBlock = false;
        AppendBlock(std::move(block), mNextBlockStart, converted);
    }
}

void AudioDecoder::SetBlockLength(AudioFrame& block, double start, long long samples) const
{
    // Times from the sample count in floating point: consecutive blocks meet
    // without a microsecond lost at each boundary.
    double const end = start + static_cast<double>(samples) * 1e6 / mOutputSampleRate;
    long long const bytes = samples * mOutputChannelCount * mOutputBytesPerSample;
    block.data.resize(static_cast<qsizetype>(bytes));
    block.byteSize = bytes;
    block.samplesPerChannel = samples;
    block.startTime = RoundToMicroseconds(start);
    block.endTime = RoundToMicroseconds(end) - 1;
}

void AudioDecoder::AppendBlock(std::shared_ptr<AudioFrame> block, double start, long long samples)
{
    SetBlockLength(*block, start, samples);
    mNextBlockStart = start + static_cast<double>(samples) * 1e6 / mOutputSampleRate;
    mNextBlockKnown = true;
    if (mDropNextBlock)
    {
        mDropNextBlock = false;
        return;
    }
    mDecodedFrames.append(std::move(block));
}

int AudioDecoder::DecodeNextForward()
{
    int const status = ReadAndDecodePacket();
    // Taken out first: a receiver may seek, which empties the list.
    QList<std::shared_ptr<AudioFrame>> blocks;
    blocks.swap(mDecodedFrames);
    for (std::shared_ptr<AudioFrame>& block : blocks)
    {
        emit AudioFrameDecoded(std::move(block), mCurrentStreamInfo);
    }
    if (status == STATUS_END_REACHED)
    {
        emit AudioFrameDecoded(nullptr, mCurrentStreamInfo);
    }
    return status;
}

int AudioDecoder::FillBackwardWindow()
{
    if (!mWindowUnfinished)
    {
        mWindowFromStart = mAtStreamStart;
        mWindowUnfinished = true;
    }
    while (true)
    {
        int const step = ReadAndDecodePacket();
        bool filled = false;
        for (std::shared_ptr<AudioFrame>& block : mDecodedFrames)
        {
            // The window ends at the seek target. Blocks decoded again after
            // a seek need not fall on the grid of the pass before (a demuxer
            // may land between packets, the resampler restarts at another
            // phase): what reaches past the target was emitted already.
            long long const kept =
                std::llround(static_cast<double>(mSeekTarget + 1 - block->startTime) * mOutputSampleRate / 1e6);
            if (kept <= 0)
            {
                filled = true;
                break;
            }
            if (kept < block->samplesPerChannel)
            {
                SetBlockLength(*block, static_cast<double>(block->startTime), kept);
            }
            filled = block->endTime >= mSeekTarget;
            mBackwardWindow.append(std::move(block));
            if (filled)
            {
                break;
            }
        }
        mDecodedFrames.clear();
        if (step == STATUS_END_REACHED)
        {
            mWindowUnfinished = false;
            return mBackwardWindow.isEmpty() ? STATUS_END_REACHED : STATUS_DONE;
        }
        if (filled && mBackwardWindow.isEmpty() && !mWindowFromStart)
        {
            // The seek landed after the target: take the window from the start.
            long long const target = mSeekTarget;
            Seek(0);
            mSeekTarget = target;
            mWindowFromStart = true;
            mWindowUnfinished = true;
        }
        else if (filled)
        {
            mWindowUnfinished = false;
            return STATUS_DONE;
        }
        emit DecodingProgressed();
        if (CommandPending())
        {
            return STATUS_DONE; // the owner takes the command first
        }
    }
}

int AudioDecoder::DecodeNextBackward()
{
    int status = STATUS_DONE;
    if (mBackwardWindow.isEmpty() || mWindowUnfinished)
    {
        status = FillBackwardWindow();
        if (mWindowUnfinished)
        {
            return status; // goes on at the next call
        }
    }
    if (mBackwardWindow.isEmpty())
    {
        if (mWindowFromStart && status == STATUS_DONE)
        {
            // Nothing of the stream lies before the target.
            emit AudioFrameDecoded(nullptr, mCurrentStreamInfo);
            return STATUS_START_REACHED;
        }
        return status;
    }
    std::shared_ptr<AudioFrame> block = mBackwardWindow.takeLast();
    long long const start = block->startTime;
    emit AudioFrameDecoded(std::move(block), mCurrentStreamInfo);
    if (mBackwardWindow.isEmpty())
    {
        if (mWindowFromStart)
        {
            // The earliest block of a window decoded from the stream's first
            // packet is the stream's first block.
            emit AudioFrameDecoded(nullptr, mCurrentStreamInfo);
            return STATUS_START_REACHED;
        }
        Seek(start - 1);
    }
    return status;
}

void AudioDecoder::DecodeTimingInfoForCurrentStream(bool findStart)
{
    if (!mSource || !mCurrentStreamInfo || !mFormatContext || !mAudioCodecContext)
    {
        return;
    }
    AudioStreamInfo* info = mCurrentStreamInfo;
    long long const offset = info->startTimeOffset;
    // However the file is made, the pass ends in bounded time: what it has
    // not found by then the container's word stands for.
    QElapsedTimer elapsed;
    elapsed.start();
    auto const inTime = [&elapsed] { return elapsed.elapsed() < TIMING_PASS_LIMIT_MS; };
    if (findStart)
    {
        Seek(0);
        bool found = false;
        int status = STATUS_DONE;
        while (!found && status != STATUS_END_REACHED && inTime())
        {
            status = ReadAndDecodePacket();
            for (std::shared_ptr<AudioFrame> const& block : mDecodedFrames)
            {
                if (block->endTime > 0)
                {
                    info->decoded = true;
                    info->startTime = block->startTime + offset;
                    found = true;
                    break;
                }
            }
            mDecodedFrames.clear();
        }
    }

    long long const duration = mSource->Duration();
    long long endTime = -1;
    auto const decodeToEnd = [this, offset, &endTime, &inTime] {
        int status = STATUS_DONE;
        while (status != STATUS_END_REACHED && inTime())
        {
            status = ReadAndDecodePacket();
            if (!mDecodedFrames.isEmpty())
            {
                endTime = mDecodedFrames.constLast()->endTime + offset;
            }
            mDecodedFrames.clear();
        }
    };
    int const seekStream = mVideoStreamIndexForSeek;
    mVideoStreamIndexForSeek = mSource->FirstVideoStreamIndex();
    Seek(duration);
    mVideoStreamIndexForSeek = seekStream;
    decodeToEnd();
    if (endTime < 0 && duration - DECODE_BACKWARD_SEEK_OFFSET > 0)
    {
        // The seek near the end read past the data (a cut-off file claims its
        // whole length): every block that decodes counts.
        Seek(0);
        decodeToEnd();
    }
    info->decoded = info->decoded || endTime >= 0;
    if (endTime < 0)
    {
        Logger::GetInstance()->Warning(QStringLiteral("Failed to set end time for audio stream (%1): %2")
                                           .arg(info->streamIndex)
                                           .arg(mSource->FileName(0)));
        // The container's word is better than nothing: 0 would make an audio
        // file without a decodable end last no time at all.
        endTime = std::max(duration, 0LL);
    }
    info->endTime = endTime;
    Seek(0);
}

bool AudioDecoder::IsPlayableSampleRate(int rate)
{
    return rate >= MINIMUM_SAMPLE_RATE && rate <= MAXIMUM_SAMPLE_RATE;
}

void AudioDecoder::DecodeExtraStreamInfo(Source* source)
{
    if (!source || source->AudioStreamCount() < 1)
    {
        return;
    }
    AudioDecoder decoder;
    for (int i = 0; i < source->AudioStreamCount(); ++i)
    {
        AudioStreamInfo const* info = source->AudioStreamInfoAtIndex(0, i);
        // Opening runs the timing pass for a stream that has not had it.
        if (info && info->parsed && info->endTime < 0)
        {
            decoder.OpenSource(source, 0, i);
            decoder.CloseSource();
        }
    }
}
