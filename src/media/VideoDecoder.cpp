#include "media/VideoDecoder.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "app/TimeHelpers.h"
#include "media/AvHelpers.h"
#include "media/CacheBudget.h"
#include "media/DecoderThreads.h"
#include "media/FfmpegCompat.h"
#include "media/KeyPacketSearch.h"
#include "media/NalUnitReader.h"
#include "media/PacketPictureCheck.h"
#include "media/RegularFrameRate.h"
#include "media/VideoDecodeWorker.h"
#include "media/VideoDecodingData.h"
#include "media/VideoFrame.h"
#include "media/VideoFrameBufferPool.h"
#include "model/Source.h"

#include <QThread>

extern "C" {
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace
{

// How far the first repeated seek goes back before the last one (µs); each
// further repeat doubles it.
long long const SEEK_BACKOFF_START = 1000000;

// True when seeking the input cannot be relied on: raw elementary streams
// (no container, the demuxer makes timestamps up from the frame rate) and
// inputs that cannot seek at all.
bool InputIsRewindOnly(AVFormatContext const* context)
{
    if (!context || !context->iformat)
    {
        return false;
    }
    if (FfmpegCompat::IsRawStreamFormat(context->iformat))
    {
        return true;
    }
    return context->pb && !(context->pb->seekable & AVIO_SEEKABLE_NORMAL);
}

// Packets a forward run reads after a seek before it goes on in the run
// context: a scrub's seeks, each followed by a few pictures, stay on slice
// threads, whose flush waits for nothing.
long long const RUN_CONTEXT_AFTER_PACKETS = 8;

// Frames before those a seek keeps in which every picture is decoded: the
// latest of them covers the start of the kept range. Skipping goes by the
// packets' presentation times, so one frame would do in a stream of even
// rate; the second allows for rounding and uneven spacing.
int const SKIP_LEAD_FRAMES = 2;

} // namespace

VideoDecoder::VideoDecoder(DecodeSettings const& settings, bool forExport, QObject* parent)
    : AvDecoderBase(settings, parent)
    , mForExport(forExport)
{
}

VideoDecoder::VideoDecoder(bool forExport, QObject* parent)
    : VideoDecoder(DecodeSettings::FromSettings(), forExport, parent)
{
}

VideoDecoder::~VideoDecoder()
{
    CloseSource();
}

void VideoDecoder::Initialize()
{
    if (TotalWorkerCount() > 0)
    {
        return;
    }
    auto* worker = new VideoDecodeWorker(0, mForExport, mSettings.hardwareRendering, this);
    connect(this, &VideoDecoder::DecodePacketRequested, worker, &VideoDecodeWorker::Decode, Qt::DirectConnection);
    connect(worker, &VideoDecodeWorker::PacketProcessingCompleted, this, &VideoDecoder::OnPacketProcessingCompleted,
            Qt::DirectConnection);
    connect(worker, &VideoDecodeWorker::DecodingCompleted, this, &VideoDecoder::OnDecodingTaskCompleted,
            Qt::DirectConnection);
    mWorkers.idle.enqueue(worker);
}

bool VideoDecoder::OpenSource(Source* source, int fileIndex, int infoIndex)
{
    mStream.fileIndex = fileIndex;
    if (!AvDecoderBase::OpenSource(source, fileIndex, infoIndex))
    {
        return false;
    }
    if (mStream.info && !mStream.info->StartTimeKnown())
    {
        DecodeTimingInfoForCurrentStream();
    }
    return true;
}

bool VideoDecoder::OpenStreamByInfoIndex(int fileIndex, int infoIndex)
{
    CloseVideoStream();
    Logger* logger = Logger::GetInstance();
    SourceFileInfo* file = mSource ? mSource->FileInfoAtIndex(fileIndex) : nullptr;
    int const count = file ? static_cast<int>(file->videoStreams.size()) : 0;
    if (count == 0)
    {
        logger->Error("Failed to open video stream. Media does not have any video streams.");
        return false;
    }
    // A record that parsing could not fill has no stream to open.
    if (infoIndex >= count || (infoIndex >= 0 && file->videoStreams.at(infoIndex).streamIndex < 0))
    {
        logger->Error("Failed to open video stream. Unknown stream specified.");
        return false;
    }
    int const index = OpenVideoStream(infoIndex < 0 ? -1 : file->videoStreams.at(infoIndex).streamIndex);
    if (index < 0)
    {
        return false;
    }
    for (VideoStreamInfo& info : file->videoStreams)
    {
        if (info.streamIndex == index)
        {
            mStream.info = &info;
            break;
        }
    }
    if (!mStream.info)
    {
        CloseVideoStream();
        logger->Error(QStringLiteral("Failed to open video stream. Video info not found for stream: %1").arg(index));
        return false;
    }
    InitializeVideoDecoder();
    BoundCodecThreads();
    return true;
}

void VideoDecoder::CloseVideoStream()
{
    avcodec_free_context(&mCodec.runContext);
    mCodec.runActive = false;
    mCodec.runRefused = false;
    mStream.info = nullptr;
    mStream.units.reset();
    mWindow.frames.clear();
    AvDecoderBase::CloseVideoStream();
}

void VideoDecoder::InitializeVideoDecoder()
{
    mStream.timeBase = mFormatContext->streams[mStream.info->streamIndex]->time_base;
    mConversion.framePixelFormat = OutputFormat(*mStream.info, mSettings);
    mConversion.outputPixelFormat = OutputAvPixelFormat(mConversion.framePixelFormat);
    mConversion.imageAlignment = IMAGE_ALIGNMENT;
    mMemory.decoderPictureBytes = 0;
    mStream.rewindOnly =
        InputIsRewindOnly(mFormatContext) || mStream.info->timestampsRestart || mStream.info->timestampsMissing;
    AVCodecDescriptor const* descriptor = avcodec_descriptor_get(mVideoCodecContext->codec_id);
    mStream.intraOnly =
        descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY) && mVideoCodecContext->has_b_frames == 0;
    mStream.seekNeedsKey = mVideoCodecContext->codec_id == AV_CODEC_ID_HEVC;
    AVCodecParameters const* parameters = mFormatContext->streams[mStream.info->streamIndex]->codecpar;
    // HEVC marks a picture non-reference for its own temporal sub-layer
    // only: one of a lower layer may still serve a higher one. With a single
    // layer (as its parameter sets say) nothing depends on such a picture.
    mStream.skipsNonReference = mVideoCodecContext->codec_id == AV_CODEC_ID_H264 ||
                                (mStream.seekNeedsKey && NalUnitReader(parameters).SubLayers() == 1);
    mStream.units =
        mVideoCodecContext->codec_id == AV_CODEC_ID_H264 ? std::make_unique<NalUnitReader>(parameters) : nullptr;
    mDecoding.startChecked = true;
    mDecoding.awaitKey = false;
    mDecoding.skipFrom = -1;
    mDecoding.pictureCount = 0;
    mDecoding.packetsSinceSeek = 0;
    mCodec.used = false;
    mSeek.lead = mSettings.leadingFramesKeptOnSeek;
    mWindow.length = mSeek.lead;
    mWindow.longest = 0;
    mWindow.count = 0;
    mWindow.prepared = false;
    mWindow.end = 0;
    mDecoding.lastPacketTime = 0;
    mSeek.time = 0;
    mSeek.fromStart = true;
    mSeek.verified = true;
    mDecoding.atStart = true;
}

VideoFramePixelFormat VideoDecoder::OutputFormat(VideoStreamInfo const& info, DecodeSettings const& settings)
{
    if (!settings.forceRgbOutput && settings.hardwareRendering && info.isYuv)
    {
        return VideoFramePixelFormat::YUV420P;
    }
    return info.componentCount == 4 ? VideoFramePixelFormat::RGBA : VideoFramePixelFormat::RGB24;
}

AVPixelFormat VideoDecoder::OutputAvPixelFormat(VideoFramePixelFormat format)
{
    switch (format)
    {
    case VideoFramePixelFormat::YUV420P:
        return AV_PIX_FMT_YUV420P;
    case VideoFramePixelFormat::RGBA:
        return AV_PIX_FMT_RGBA;
    default:
        return AV_PIX_FMT_RGB24;
    }
}

void VideoDecoder::PrepareDecodingData(VideoDecodingData& data) const
{
    data.streamInfo = mStream.info;
    data.codecContext = DecodingContext();
    data.timeBase = mStream.timeBase;
    data.imageAlignment = mConversion.imageAlignment;
    data.outputPixelFormat = mConversion.outputPixelFormat;
    data.framePixelFormat = mConversion.framePixelFormat;
    data.isLinearColorSpace = mStream.info && mStream.info->isLinear;
    bool const frameThreads = data.codecContext && (data.codecContext->active_thread_type & FF_THREAD_FRAME);
    data.conversionThreads =
        mConversion.threads > 0 ? mConversion.threads : DecoderThreads::ConversionThreads(frameThreads);
    data.seekTarget = mWindow.end;
    data.keptFrames = KeptFrames();
    data.dropCorruptFrames = !mSeek.verified;
    data.commands = mCommandInbox.get();
    data.skipFrom = mDecoding.skipFrom;
    data.skipBefore = SkipBefore();
    data.lastFrameTime = mDecoding.lastPacketTime;
    data.timeAnchored = mDecoding.timeAnchored;
    data.windowDrain = false;
    data.pictureCount = mDecoding.pictureCount;
    data.timesFromCount = mStream.rewindOnly;
    data.awaitKey = mDecoding.awaitKey;
}

long long VideoDecoder::SkipBefore() const
{
    if (!mStream.skipsNonReference || !mSeek.skipAllowed || mStream.rewindOnly || mDecoding.skipFrom < 0 ||
        !mSeek.verified || !mStream.info)
    {
        return -1;
    }
    int const kept = KeptFrames();
    double const lead = (kept + SKIP_LEAD_FRAMES) * mStream.info->frameStep;
    auto const before = static_cast<long long>(static_cast<double>(mWindow.end) - lead);
    return before > mDecoding.skipFrom ? before : -1;
}

int VideoDecoder::KeptFrames() const
{
    if (!mDecoding.forward)
    {
        return mWindow.length;
    }
    if (mSeek.withoutLead)
    {
        return 0;
    }
    int const leading = mSeek.lead;
    return mSeek.keepsWindow ? std::max(leading, WindowFramesForBudget()) : leading;
}

void VideoDecoder::Seek(long long t)
{
    mSeek.withoutLead = false;
    mWindow.frames.clear();
    mWindow.unfinished = false;
    mSeek.skipAllowed = true;
    if (!mStream.info)
    {
        return;
    }
    long long const wanted = std::max(t, 0LL);
    // Two frames of margin: a picture may be indexed a little before its
    // presentation time. Pictures of an intra-only stream are indexed at
    // their own times: a forward seek lands on the wanted one (a backward
    // window keeps its margin, which makes it a few pictures longer).
    double const margin = ExactSeek() ? 0.0 : 2.0 * mStream.info->frameStep;
    auto const target = std::max(static_cast<long long>(static_cast<double>(wanted) - margin), 0LL);
    mSeek.backoff = 0;
    if (!SeekStream(target))
    {
        return;
    }
    mSeek.time = wanted;
    mWindow.end = mDecoding.forward ? target : wanted;
}

bool VideoDecoder::SeekStream(long long target)
{
    if (!mFormatContext || !mVideoCodecContext || !mStream.info)
    {
        return false;
    }
    if (target > 0 && !mStream.rewindOnly)
    {
        int const streamIndex = mStream.info->streamIndex;
        // Stream timestamps start at the start-time offset (large in MPEG-TS
        // and camera files), not at 0.
        long long const offset = mStream.info->StartOffset();
        long long ts = av_rescale_q(TimeHelpers::SaturatingAdd(target, offset), AV_TIME_BASE_Q, mStream.timeBase);
        if (ts > 0 && !ExactSeek())
        {
            --ts;
        }
        int const result =
            avformat_seek_file(mFormatContext, streamIndex, std::numeric_limits<long long>::min(), ts, ts, 0);
        if (result >= 0 && KeyPacketsFoundByBytes() &&
            !KeyPacketSearch(mFormatContext, streamIndex).SeekBackToKeyPacket(ts, avio_tell(mFormatContext->pb)))
        {
            // No key packet before the target: decoding starts at the start.
            mDecoding.atStart = false;
            target = 0;
        }
        else if (result >= 0)
        {
            mSeek.fromStart = false;
            mDecoding.atStart = false;
            mSeek.position = target;
        }
        else
        {
            // Decoding from the start is slow but always right.
            Logger::GetInstance()->Error("Video Seek Failed", result);
            target = 0;
        }
    }
    if ((target <= 0 || mStream.rewindOnly) && !SeekStreamToStart())
    {
        return false;
    }
    for (VideoDecodeWorker* worker : mWorkers.idle)
    {
        worker->Flush();
    }
    avcodec_flush_buffers(mVideoCodecContext);
    if (mCodec.runActive)
    {
        avcodec_flush_buffers(mCodec.runContext);
        mCodec.runActive = false;
    }
    mDecoding.packetsSinceSeek = 0;
    mWindow.drained = false;
    mWindow.lastDecodeTime = -1;
    mDecoding.skipFrom = -1;
    mSeek.verified = mSeek.fromStart;
    mDecoding.timeAnchored = mSeek.fromStart;
    // An MPEG-TS seek lands on any packet, not only on a key one.
    mDecoding.awaitKey = mStream.seekNeedsKey && !mSeek.fromStart;
    mDecoding.lastPacketTime = -1;
    mDecoding.startChecked = mSeek.fromStart;
    mDecoding.exactFrom = std::numeric_limits<long long>::min();
    if (mStream.rewindOnly)
    {
        // Decoding starts from the first picture: the window is reached by
        // decoding up to it.
        mDecoding.pictureCount = 0;
    }
    return true;
}

bool VideoDecoder::KeyPacketsFoundByBytes() const
{
    return KeyPacketSearch::Needed(mFormatContext, mStream.rewindOnly);
}

bool VideoDecoder::FindEndFromTail(VideoDecodeWorker& worker, bool fromPackets, PacketPictureCheck* frames,
                                   long long containerEnd, long long& endTime)
{
    long long const size = avio_size(mFormatContext->pb);
    if (size <= 0)
    {
        return false;
    }
    KeyPacketSearch search(mFormatContext, mStream.info->streamIndex);
    mDecoding.atStart = false;
    // Each step reads only what the one before did not: a packet that starts
    // there was read whole then.
    long long until = -1;
    for (long long step = search.FirstStep();; step *= 2)
    {
        long long const from = std::max(size - step, 0LL);
        long long const key = search.LastKeyPacketBetween(from, until);
        until = from;
        if (key >= 0)
        {
            if (fromPackets && search.SeekToByte(key) &&
                worker.FindEndTimeFromPackets(endTime, mFormatContext, containerEnd, PicturesInPacketOrder(), frames))
            {
                mTiming.endTimedFromPackets = true;
                return true;
            }
            // What the packets cannot tell, the last GOP's pictures do.
            worker.Flush();
            avcodec_flush_buffers(mVideoCodecContext);
            if (search.SeekToByte(key) && worker.FindEndTime(endTime, mFormatContext, containerEnd))
            {
                return true;
            }
        }
        if (from == 0)
        {
            return false;
        }
    }
}

bool VideoDecoder::SeekStreamToStart()
{
    mSeek.fromStart = true;
    mSeek.position = 0;
    if (mDecoding.atStart)
    {
        return true;
    }
    if (mStream.rewindOnly)
    {
        if (!ReopenInput())
        {
            return false;
        }
        mDecoding.atStart = true;
        return true;
    }
    // A stream that began before its clock wrapped starts before 0, where
    // a time seek cannot tell the times before the wrap from those after:
    // its start is the input's first byte. Otherwise time 0 of this stream,
    // never of the demuxer's default stream: in an input opened without
    // stream information (MPEG-TS), the pictures' size is not known yet, and
    // a sound stream whose rate the header tells (AC-3, MP2) is the default
    // one. Its first packet may lie after the first key picture, and a seek
    // to it lands inside the first GOP.
    bool const wrapped = mStream.info->StartTimeKnown() && mStream.info->startTimeOffset < 0 &&
                         NegativeTimesArePictures() && KeyPacketsFoundByBytes();
    int const streamIndex = mStream.info->streamIndex;
    int result = wrapped ? av_seek_frame(mFormatContext, -1, 0, AVSEEK_FLAG_BYTE)
                         : av_seek_frame(mFormatContext, streamIndex, 0, AVSEEK_FLAG_BACKWARD);
    if (result < 0)
    {
        // Streams whose index starts well above 0 have no entry at or
        // before 0; their first timestamp has one.
        AVStream const* stream = mFormatContext->streams[streamIndex];
        long long const first = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        result = av_seek_frame(mFormatContext, streamIndex, first, AVSEEK_FLAG_BACKWARD);
    }
    // A failed seek leaves the input wherever its search stopped, often past
    // the first key picture (an index that starts there, a stream cut before
    // its first sequence header): whatever reads on from there would miss
    // the start. Opened afresh, the input is at its start.
    if (result < 0 && !ReopenInput())
    {
        Logger::GetInstance()->Error("Video Seek Failed", result);
        return false;
    }
    mDecoding.atStart = true;
    return true;
}

bool VideoDecoder::ReopenInput()
{
    int const streamIndex = mStream.info->streamIndex;
    // Opened as OpenSource opens it, so that the stream keeps its index.
    if (!OpenInput(mStream.fileIndex))
    {
        Logger::GetInstance()->Error("Video Seek Failed: the input could not be opened again");
        return false;
    }
    if (mFormatContext->nb_streams == 0)
    {
        avformat_find_stream_info(mFormatContext, nullptr);
    }
    mInput.EndOpening();
    if (static_cast<unsigned int>(streamIndex) >= mFormatContext->nb_streams)
    {
        Logger::GetInstance()->Error("Video Seek Failed: the stream is gone after opening the input again");
        CloseInput();
        return false;
    }
    mStream.timeBase = mFormatContext->streams[streamIndex]->time_base;
    return true;
}

bool VideoDecoder::SeekDeeper()
{
    mSeek.backoff = mSeek.backoff > 0 ? 2 * mSeek.backoff : SEEK_BACKOFF_START;
    if (!SeekStream(std::max(mSeek.position - mSeek.backoff, 0LL)))
    {
        // Nothing better can be had from this input: take what comes.
        mSeek.verified = true;
        return false;
    }
    mSeek.reseeked = true;
    return true;
}

int VideoDecoder::RefreshFrames(AVPacket const* packet)
{
    if (!mStream.units || !mStream.units->IsUsable() || !packet || packet->size <= 0)
    {
        return 0;
    }
    NalUnitReader::AccessUnit const unit = mStream.units->Read(packet->data, packet->size);
    return unit.instantRefresh ? 0 : std::max(unit.recoveryFrames, 0);
}

bool VideoDecoder::PacketTimes(AVPacket const* packet, long long& presentation, long long& decoding) const
{
    long long const pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    long long const dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (pts == AV_NOPTS_VALUE)
    {
        return false;
    }
    long long const offset = mStream.info->StartOffset();
    presentation = av_rescale_q_rnd(pts, mStream.timeBase, AV_TIME_BASE_Q, AV_ROUND_DOWN) - offset;
    decoding = av_rescale_q_rnd(dts, mStream.timeBase, AV_TIME_BASE_Q, AV_ROUND_DOWN) - offset;
    return true;
}

bool VideoDecoder::ReadStreamPacket(AVPacket* packet)
{
    int const streamIndex = mStream.info->streamIndex;
    while (av_read_frame(mFormatContext, packet) >= 0)
    {
        if (packet->stream_index == streamIndex && packet->size > 0)
        {
            return true;
        }
        av_packet_unref(packet);
    }
    return false;
}

void VideoDecoder::SeekBeforeRefresh(long long presentation, long long decoding, int frames)
{
    // A refresh that begins where decoding begins need not be done by its
    // count, nor by twice it: what it has not reached yet keeps what the
    // pictures before it held, an encoder may leave parts of them to the
    // next refresh, and what they show differs with the codec's threads. A
    // refresh that begins after decoding began, over pictures the codec
    // already has, is done by twice its count (an encoder that refreshes a
    // picture in fewer frames than it has columns of blocks understates
    // it). Decoding therefore starts at the latest key packet whose next key
    // packet's refresh is done by the time decoding reaches the packet it
    // was to start at (or at one that gives exact pictures at once, or at
    // the start), and hands out nothing before that refresh is done.
    double const step = mStream.info->frameStep;
    AVPacket* packet = av_packet_alloc();
    // The refresh after the key packet looked at: at first the one decoding
    // was to start at.
    long long nextDecoding = decoding;
    int nextFrames = frames;
    long long bound = presentation - 1;
    bool positioned = false;
    while (packet && bound > 0 && SeekStream(bound) && !mSeek.fromStart)
    {
        long long start = 0;
        long long startDecoding = 0;
        if (!ReadStreamPacket(packet) || !PacketTimes(packet, start, startDecoding) || startDecoding >= nextDecoding)
        {
            break; // no earlier key packet
        }
        int const startFrames = RefreshFrames(packet);
        av_packet_unref(packet);
        double const exact = startFrames == 0 ? static_cast<double>(startDecoding)
                                              : static_cast<double>(nextDecoding) + 2.0 * nextFrames * step;
        if (exact <= static_cast<double>(decoding) + step / 2.0)
        {
            positioned = SeekStream(bound);
            mDecoding.exactFrom = positioned && startFrames > 0 ? static_cast<long long>(exact - step / 2.0)
                                                                : mDecoding.exactFrom;
            break;
        }
        nextDecoding = startDecoding;
        nextFrames = startFrames;
        bound = std::min(start, bound) - 1;
    }
    av_packet_free(&packet);
    if (!positioned && !mSeek.fromStart)
    {
        SeekStream(0);
    }
    mDecoding.startChecked = true;
}

bool VideoDecoder::ExactSeek() const
{
    return mStream.intraOnly && mDecoding.forward;
}

void VideoDecoder::SetDecodeForward(bool forward)
{
    mDecoding.forward = forward;
    mSeek.withoutLead = false;
}

void VideoDecoder::SeekWithoutLead(long long t)
{
    SetDecodeForward(true);
    Seek(t);
    mSeek.withoutLead = true;
}

bool VideoDecoder::IsDecodeForward() const
{
    return mDecoding.forward;
}

int VideoDecoder::DecodeNext()
{
    int const status = mDecoding.forward ? DecodeNextForward() : DecodeNextBackward();
    mLastErrorCode = status;
    return status;
}

void VideoDecoder::StopDecoding()
{
    mWindow.frames.clear();
    mWindow.unfinished = false;
}

int VideoDecoder::DecodeNextForward()
{
    if (mWorkers.idle.isEmpty() || mWorkers.packetInFlight)
    {
        return STATUS_BUSY;
    }
    if (!mFormatContext || !mStream.info)
    {
        return STATUS_END_REACHED;
    }
    VideoDecodeWorker* worker = mWorkers.idle.dequeue();
    VideoDecodingData* data = worker->DecodingData();
    ChooseDecodingContext();
    PrepareDecodingData(*data);
    bool const fromStart = mDecoding.atStart;
    mDecoding.atStart = false;
    int status = worker->ReadPacket(mFormatContext) ? STATUS_DONE : STATUS_END_REACHED;
    if (status == STATUS_DONE && !mDecoding.startChecked)
    {
        mDecoding.startChecked = true;
        long long presentation = 0;
        long long decoding = 0;
        int const frames = RefreshFrames(worker->Packet());
        if (frames > 0 && PacketTimes(worker->Packet(), presentation, decoding))
        {
            // Not a start that gives exact pictures: the packet is read again
            // from the start chosen.
            av_packet_unref(worker->Packet());
            mWorkers.idle.prepend(worker);
            SeekBeforeRefresh(presentation, decoding, frames);
            return STATUS_DONE;
        }
    }
    if (status == STATUS_DONE && mDecoding.packetsSinceSeek == 0 && mCodec.used && mStream.seekNeedsKey)
    {
        // A key picture at or before the stream's first picture that decodes.
        AVPacket const* packet = worker->Packet();
        bool const first =
            fromStart || (packet->pts != AV_NOPTS_VALUE && (packet->flags & AV_PKT_FLAG_KEY) &&
                          av_rescale_q_rnd(packet->pts, mStream.timeBase, AV_TIME_BASE_Q, AV_ROUND_DOWN) <=
                              mStream.info->startTimeOffset);
        if (first && RenewCodecContext())
        {
            data->codecContext = DecodingContext();
        }
    }
    mCodec.used = true;
    mDecoding.packetsSinceSeek += status == STATUS_DONE ? 1 : 0;
    mDecoding.awaitKey = data->awaitKey;
    if (status == STATUS_DONE && PacketPastWindow(worker->Packet()))
    {
        // Drains the window's last pictures out of the frame threads: the
        // packets after it would be decoded for nothing.
        av_packet_unref(worker->Packet());
        worker->Packet()->stream_index = -1;
        data->windowDrain = true;
        mWindow.drained = true;
    }
    mWorkers.busy.insert(worker->Id(), worker);
    mWorkers.packetInFlight = true;
    mSeek.reseeked = false;
    emit DecodePacketRequested(worker->Id());
    // A repeated seek starts over: the end of the file was not the end of
    // the decoding.
    return mSeek.reseeked ? STATUS_DONE : status;
}

void VideoDecoder::OnPacketProcessingCompleted(int id)
{
    VideoDecodeWorker* worker = mWorkers.busy.value(id);
    if (worker)
    {
        mDecoding.lastPacketTime = worker->DecodingData()->lastFrameTime;
        mDecoding.timeAnchored = worker->DecodingData()->timeAnchored;
        mDecoding.pictureCount = worker->DecodingData()->pictureCount;
    }
    else
    {
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to find video decoder worker on packet processing completed: %1").arg(id));
    }
    mWorkers.packetInFlight = false;
}

void VideoDecoder::OnDecodingTaskCompleted(int id)
{
    VideoDecodeWorker* worker = mWorkers.busy.take(id);
    if (!worker)
    {
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to find video decoder worker on frame processing completed: %1").arg(id));
        return;
    }
    mWorkers.idle.enqueue(worker);
    VideoDecodingData* data = worker->DecodingData();
    QList<std::shared_ptr<VideoFrame>> frames;
    frames.swap(data->frames);
    if (data->decoderPictureBytes > 0)
    {
        mMemory.decoderPictureBytes = data->decoderPictureBytes;
    }

    if (!mSeek.verified)
    {
        bool const reachedEnd = !frames.isEmpty() && !frames.constLast();
        if (data->receivedFrame ? data->firstFrameTime > mSeek.time : reachedEnd)
        {
            // The seek landed after the wanted picture, or read past the
            // data: what came out would show the wrong picture.
            if (SeekDeeper())
            {
                return;
            }
        }
        mSeek.verified = mSeek.verified || data->receivedFrame;
    }
    if (data->untimedPicture && !mSeek.fromStart && SeekDeeper())
    {
        // Decoding from further back times the picture after those before.
        return;
    }
    if (data->skipUnsafe)
    {
        // What the skipped pictures would have shown cannot be told: the
        // same seek again, decoding every picture.
        mSeek.skipAllowed = false;
        if (SeekStream(mSeek.position))
        {
            mSeek.reseeked = true;
        }
        return;
    }
    if (mDecoding.skipFrom < 0 && mSeek.verified && data->receivedFrame)
    {
        mDecoding.skipFrom = data->firstFrameTime;
    }

    for (std::shared_ptr<VideoFrame>& frame : frames)
    {
        if (frame)
        {
            mMemory.pictureBytes = frame->byteSize;
            if (frame->packetStartTime < mDecoding.exactFrom)
            {
                continue;
            }
        }
        if (mDecoding.forward)
        {
            emit VideoFrameDecoded(frame);
        }
        // The end marker belongs to the window only when no picture after the
        // window came before it.
        else if (frame ? frame->packetStartTime <= mWindow.end : mDecoding.lastPacketTime <= mWindow.end)
        {
            mWindow.frames.append(std::move(frame));
            // Pictures of a variable-rate stream may crowd the window's span:
            // the earliest go, and the next window ends before those kept.
            if (mWindow.frames.size() > mWindow.length + 1 && mWindow.frames.constFirst())
            {
                mWindow.frames.removeFirst();
            }
        }
    }
}

bool VideoDecoder::PacketPastWindow(AVPacket const* packet)
{
    long long const previous = mWindow.lastDecodeTime;
    mWindow.lastDecodeTime = -1;
    if (mDecoding.forward || mStream.rewindOnly || packet->dts == AV_NOPTS_VALUE || !mStream.info)
    {
        return false;
    }
    long long const offset = mStream.info->StartOffset();
    long long const decodeTime =
        av_rescale_q_rnd(packet->dts, mStream.timeBase, AV_TIME_BASE_Q, AV_ROUND_DOWN) - offset;
    mWindow.lastDecodeTime = decodeTime;
    // Only once a sound picture came since the seek (until then a seek that
    // landed too late must show itself through the pictures decoded), and
    // only where the decoding times run on evenly: a corrupt one says nothing.
    double const step = mStream.info->frameStep;
    if (!mSeek.verified || mDecoding.skipFrom < 0 || previous < 0 || decodeTime <= previous ||
        static_cast<double>(decodeTime - previous) > 2.0 * step)
    {
        return false;
    }
    // A picture is never shown before it is decoded: one frame step of slack
    // for timestamps rounded apart. An intra-only picture is shown at its
    // own packet's time, rounded as the packet's: none.
    double const slack = mStream.intraOnly ? 0.0 : step;
    return static_cast<double>(decodeTime) > static_cast<double>(mWindow.end) + slack;
}

int VideoDecoder::DecodeNextBackward()
{
    if (mWindow.frames.isEmpty() || mWindow.unfinished)
    {
        if (!mWindow.unfinished && mWindow.drained)
        {
            // The drained window was dropped (StopDecoding) before any seek:
            // the codec takes nothing more until one, so it starts over.
            Seek(mWindow.end);
        }
        if (!mWindow.unfinished && !mWindow.prepared)
        {
            StartWindow();
        }
        mWindow.prepared = false;
        mWindow.unfinished = true;
        while (mDecoding.lastPacketTime <= mWindow.end && !mWindow.drained)
        {
            int const status = DecodeNextForward();
            if (status != STATUS_DONE)
            {
                break;
            }
            emit DecodingProgressed();
            if (CommandPending())
            {
                return STATUS_DONE; // the owner takes the command first
            }
        }
        mWindow.unfinished = false;
        FinishWindow();
    }
    // Nothing at or before the window's end, even from the start of the
    // file: there is nothing earlier.
    if (mWindow.frames.isEmpty() || (mWindow.frames.size() == 1 && !mWindow.frames.constFirst()))
    {
        mWindow.frames.clear();
        return STATUS_START_REACHED;
    }

    std::shared_ptr<VideoFrame> frame = mWindow.frames.takeLast();
    bool const endInWindow = !frame;
    if (endInWindow)
    {
        // The end of the stream lies inside the window: its last picture,
        // then the end marker.
        frame = mWindow.frames.takeLast();
    }
    // Read before the frame goes out: the decode loop restamps it in
    // timeline time.
    long long const start = frame->packetStartTime;
    emit VideoFrameDecoded(frame);
    if (endInWindow)
    {
        emit VideoFrameDecoded(nullptr);
    }
    if (start <= 0)
    {
        return STATUS_START_REACHED;
    }
    if (mWindow.frames.isEmpty())
    {
        // The next window ends just before the earliest frame emitted.
        Seek(mStream.intraOnly ? IntraOnlyWindowSeekTime(start)
                               : start - AvDecoderBase::DECODE_BACKWARD_SEEK_OFFSET);
        mWindow.end = start - 1;
        mSeek.time = mWindow.end;
    }
    return STATUS_DONE;
}

void VideoDecoder::DecodeTimingInfoForCurrentStream()
{
    if (!mSource || mSource->IsImageSequence() || !mStream.info || !mFormatContext)
    {
        return;
    }
    VideoStreamInfo* info = mStream.info;
    VideoDecodeWorker worker(-1, mForExport, mSettings.hardwareRendering);
    Logger* logger = Logger::GetInstance();

    if (!info->StartTimeKnown())
    {
        ChooseRegularFrameRate();
    }
    Seek(0);
    PrepareDecodingData(*worker.DecodingData());
    worker.DecodingData()->lastFrameTime = 0;
    mDecoding.atStart = false;
    // Packet times tell where the container gives them and, for H.264,
    // where the parser can tell frame pictures from field pictures (for
    // VP9 and AV1, where each packet shows one frame).
    std::unique_ptr<PacketPictureCheck> const frames = TimesFromPacketsAllowed() ? MakePictureCheck() : nullptr;
    bool const fromPackets = TimesFromPacketsAllowed() && (!frames || frames->IsUsable());
    if (!info->StartTimeKnown())
    {
        // Restarting timestamps still hold the first picture's real time,
        // which the audio streams are timed against.
        worker.DecodingData()->timesFromCount = mStream.rewindOnly && !info->timestampsRestart;
        long long offset = 0;
        bool found = false;
        if (fromPackets)
        {
            found = worker.FindStartTimeFromPackets(offset, mFormatContext, PicturesInPacketOrder(), frames.get());
            // Decoding starts where the input opened, as without the packets.
            if (!found && ReopenInput())
            {
                mDecoding.atStart = true;
                Seek(0);
                mDecoding.atStart = false;
            }
        }
        if (!found)
        {
            found = worker.FindStartTimeOffset(offset, mFormatContext);
        }
        if (!found)
        {
            logger->Warning(QStringLiteral("Failed to set startTimeOffset for video stream (%1): %2")
                                .arg(info->streamIndex)
                                .arg(mSource->MediaName()));
        }
        else if (offset < 0 && !NegativeTimesArePictures())
        {
            logger->Warning(QStringLiteral("Video stream (%1) start time is less than 0. Skipping negative frames: %2 (%3)")
                                .arg(info->streamIndex)
                                .arg(mSource->MediaName())
                                .arg(offset));
            offset = 0;
        }
        info->startTimeOffset = found ? offset : 0;
    }

    worker.DecodingData()->timesFromCount = mStream.rewindOnly;
    mTiming.endTimedFromPackets = false;
    long long foundEndTime = -1;
    long long const containerEnd = mSource->ParsedContainerDuration();
    bool found = false;
    bool const fromTail = KeyPacketsFoundByBytes();
    if (fromTail)
    {
        // A time seek near the end lands on any packet there, most often one
        // that decodes to nothing, and the length claimed is a guess: the
        // last key packets are looked for by bytes instead.
        found = FindEndFromTail(worker, fromPackets, frames.get(), containerEnd, foundEndTime);
    }
    else
    {
        Seek(mSource->Duration());
        mDecoding.atStart = false;
        worker.DecodingData()->pictureCount = mDecoding.pictureCount;
        if (fromPackets)
        {
            // Demuxing the last GOP takes a fraction of the time decoding it does.
            found = worker.FindEndTimeFromPackets(foundEndTime, mFormatContext, containerEnd, PicturesInPacketOrder(),
                                                  frames.get());
            mTiming.endTimedFromPackets = found;
            if (!found)
            {
                Seek(mSource->Duration());
                mDecoding.atStart = false;
            }
        }
        if (!found)
        {
            worker.DecodingData()->awaitKey = mDecoding.awaitKey;
            found = worker.FindEndTime(foundEndTime, mFormatContext, containerEnd, mSeek.fromStart);
        }
    }
    if (!found && (fromTail || !mSeek.fromStart))
    {
        // The seek near the end read past the data (a cut-off file claims
        // its whole length), no picture after it had a time of its own, or no
        // key packet ends the stream: every picture that decodes counts.
        Seek(0);
        worker.DecodingData()->pictureCount = mDecoding.pictureCount;
        worker.DecodingData()->awaitKey = mDecoding.awaitKey;
        found = worker.FindEndTime(foundEndTime, mFormatContext, containerEnd, true);
    }
    info->foundEndTime = found ? foundEndTime : -1;
    // The stream ends with its last microsecond. What decodes counts, not
    // what the container claims: its duration may be missing, estimated
    // short (MPEG-TS), or end before the last picture's own duration.
    info->endTime = found ? foundEndTime - 1 : -1;
    // The last picture's time is rounded to the time base: a millisecond at
    // 60 fps is 6 % of a frame.
    double const tick = 1e6 * av_q2d(mStream.timeBase);
    info->frameCount = info->frameStep > 0.0 && info->endTime >= 0
                           ? TimeHelpers::EndTimeToFrameCount(info->endTime, info->frameStep, tick)
                           : 0;
    Seek(0);
    // What the pass used goes back to the system when the engine trims on
    // the main thread, once no task is left (AvManager): parse threads
    // trimming side by side crashed the sanitizers' allocators.
}

void VideoDecoder::ChooseRegularFrameRate()
{
    VideoStreamInfo* info = mStream.info;
    if (mStream.rewindOnly || !info || !mFormatContext)
    {
        return;
    }
    RegularFrameRate rates(mFormatContext, info->streamIndex, mStream.timeBase);
    if (!rates.RatesDiffer())
    {
        return;
    }
    Seek(0);
    mDecoding.atStart = false;
    if (!rates.BaseRateFits())
    {
        return;
    }
    double const rate = av_q2d(rates.Base());
    Logger::GetInstance()->Warning(
        QStringLiteral("Video stream (%1) averages %2 fps, its pictures are %3 µs apart: %4 fps taken: %5")
            .arg(info->streamIndex)
            .arg(av_q2d(rates.Average()))
            .arg(rates.Spacing())
            .arg(rate)
            .arg(mSource->MediaName()));
    // As the parse sets them: the step from the exact rate.
    info->frameStep = AvHelpers::FrameRateToFrameStep(rate);
    info->frameRate = std::trunc(rate * 1000.0 + 0.5) / 1000.0;
}

bool VideoDecoder::NegativeTimesArePictures() const
{
    // A clock narrower than 64 bits (MPEG-TS and MPEG-PS: 33) wraps, and
    // FFmpeg unwraps a stream that starts in the last minute before the wrap
    // by giving the pictures before it negative times. Other containers
    // write negative times on purpose, for pictures decoded but not shown.
    return mFormatContext && mStream.info && mStream.info->streamIndex >= 0 &&
           mStream.info->streamIndex < static_cast<int>(mFormatContext->nb_streams) &&
           mFormatContext->streams[mStream.info->streamIndex]->pts_wrap_bits < 64;
}

std::unique_ptr<PacketPictureCheck> VideoDecoder::MakePictureCheck() const
{
    // H.264 may code a frame as two field pictures, one per packet, HEVC may
    // leave pictures unshown, a VP9 or AV1 packet may hold frames that are not
    // shown; the pictures of intra-only codecs are whole frames, each shown.
    if (mStream.intraOnly || !mFormatContext || !mStream.info)
    {
        return nullptr;
    }
    return std::make_unique<PacketPictureCheck>(mFormatContext->streams[mStream.info->streamIndex]->codecpar);
}

void VideoDecoder::SetTimesFromPackets(bool fromPackets)
{
    mTiming.fromPacketsAllowed = fromPackets;
}

bool VideoDecoder::TimesFromPacketsAllowed() const
{
    if (!mTiming.fromPacketsAllowed || mStream.rewindOnly || !mStream.info || !mVideoCodecContext)
    {
        return false;
    }
    // Every H.264 and HEVC picture is shown, each at its packet's time (frame
    // pictures that the parameter sets and SEI do not leave unshown), and
    // every VP9 superframe and AV1 temporal unit shows one frame at its
    // packet's time (those whose headers say so): the pass checks packet by
    // packet.
    AVCodecID const codec = mVideoCodecContext->codec_id;
    return mStream.intraOnly || codec == AV_CODEC_ID_H264 || codec == AV_CODEC_ID_HEVC || codec == AV_CODEC_ID_VP9 ||
           codec == AV_CODEC_ID_AV1;
}

bool VideoDecoder::PicturesInPacketOrder() const
{
    AVCodecID const codec = mVideoCodecContext ? mVideoCodecContext->codec_id : AV_CODEC_ID_NONE;
    return mStream.intraOnly || codec == AV_CODEC_ID_VP9 || codec == AV_CODEC_ID_AV1;
}

void VideoDecoder::DecodeExtraStreamInfo(Source* source, bool timesFromPackets)
{
    if (!source || source->IsImageSequence() || source->VideoStreamCount() < 1)
    {
        return;
    }
    VideoDecoder decoder(false);
    decoder.SetTimesFromPackets(timesFromPackets);
    decoder.Initialize();
    for (int i = 0; i < source->VideoStreamCount(); ++i)
    {
        VideoStreamInfo const* info = source->VideoStreamInfoAtIndex(0, i);
        // Opening runs the timing pass for a stream that has not had it.
        if (info && info->parsed && !info->StartTimeKnown())
        {
            decoder.OpenSource(source, 0, i);
            decoder.CloseSource();
        }
    }
    decoder.Shutdown();
}

void VideoDecoder::Shutdown()
{
    ShutdownWorkers();
}

void VideoDecoder::ShutdownWorkers()
{
    while (!mWorkers.idle.isEmpty())
    {
        delete mWorkers.idle.dequeue();
    }
    CloseSource();
    if (!mWorkers.busy.isEmpty())
    {
        Logger::GetInstance()->Error("Failed to complete VideoDecoder shutdown");
    }
}

void VideoDecoder::SetConversionThreadCount(int threads)
{
    mConversion.threads = std::max(threads, 1);
}

long long VideoDecoder::HeldPictureBytes() const
{
    long long bytes = 0;
    for (std::shared_ptr<VideoFrame> const& frame : mWindow.frames)
    {
        bytes += frame ? frame->byteSize : 0;
    }
    // Backwards, a whole window is decoded before its first picture is
    // handed over: room for it is kept all along.
    if (!mDecoding.forward)
    {
        bytes = std::max(bytes, (mWindow.length + 1LL) * mMemory.pictureBytes);
    }
    bytes += CodecHeldPictures() * DecoderPictureBytes();
    if (mMemory.cacheMaximum <= 0)
    {
        return bytes;
    }
    // Pictures too big for the cache even on one thread are said once when
    // opened.
    return CacheBudget::DecoderHeldWithin(bytes, mMemory.cacheMaximum, PictureBytesEstimate());
}

void VideoDecoder::SetCacheBudget(long long bytes)
{
    mMemory.cacheMaximum = std::max(bytes, 0LL);
}

int VideoDecoder::CodecThreadCount() const
{
    AVCodecContext const* context = DecodingContext();
    return context ? context->thread_count : 0;
}

AVCodecContext* VideoDecoder::DecodingContext() const
{
    return mCodec.runActive ? mCodec.runContext : mVideoCodecContext;
}

void VideoDecoder::ChooseDecodingContext()
{
    if (mCodec.runActive || mCodec.runRefused)
    {
        return;
    }
    // A backward window of an intra-only stream is a forward run of its
    // length from its first picture: on frame threads from the start.
    bool const window = !mDecoding.forward && mStream.intraOnly;
    if (!window && (!mDecoding.forward || !mSeek.verified || mDecoding.packetsSinceSeek < RUN_CONTEXT_AFTER_PACKETS))
    {
        return;
    }
    if (!mCodec.runContext)
    {
        mCodec.runContext = OpenRunContext();
        mCodec.runRefused = !mCodec.runContext;
        if (mCodec.runRefused)
        {
            return;
        }
    }
    mCodec.runActive = true;
}

AVCodecContext* VideoDecoder::OpenRunContext() const
{
    AVCodecContext const* own = mVideoCodecContext;
    if (mForExport || !mStream.intraOnly || mHwDecoderActive || !own || !mVideoCodec || !mFormatContext ||
        !mStream.info || own->active_thread_type != FF_THREAD_SLICE || own->thread_count < 2 ||
        !(mVideoCodec->capabilities & AV_CODEC_CAP_FRAME_THREADS))
    {
        return nullptr;
    }
    AVCodecContext* context = avcodec_alloc_context3(nullptr);
    AVStream const* stream = mFormatContext->streams[mStream.info->streamIndex];
    if (!context || avcodec_parameters_to_context(context, stream->codecpar) < 0)
    {
        avcodec_free_context(&context);
        return nullptr;
    }
    context->pkt_timebase = stream->time_base;
    PrepareVideoCodecContext(context, mVideoCodec, false, false, mSettings);
    // Frame threads hold pictures of their own: as many as the budget allows.
    context->thread_count = FrameThreadsForBudget(own, own->thread_count);
    context->thread_type = FF_THREAD_FRAME;
    if (context->thread_count < 2)
    {
        avcodec_free_context(&context);
        return nullptr;
    }
    if (avcodec_open2(context, mVideoCodec, nullptr) < 0 || !(context->active_thread_type & FF_THREAD_FRAME))
    {
        avcodec_free_context(&context);
        return nullptr;
    }
    return context;
}

bool VideoDecoder::RenewCodecContext()
{
    AVStream const* stream = mFormatContext->streams[mStream.info->streamIndex];
    AVCodecContext* context = avcodec_alloc_context3(nullptr);
    if (!context || !mVideoCodec || avcodec_parameters_to_context(context, stream->codecpar) < 0)
    {
        avcodec_free_context(&context);
        return false;
    }
    context->pkt_timebase = stream->time_base;
    PrepareVideoCodecContext(context, mVideoCodec, mSource && mSource->IsImageSequence(), mHwDecoderActive,
                             mSettings);
    if (mCodec.sliceThreadsOnly)
    {
        context->thread_type = FF_THREAD_SLICE;
    }
    else if (mCodec.threadLimit > 0)
    {
        context->thread_count = std::min(context->thread_count, mCodec.threadLimit);
    }
    if (avcodec_open2(context, mVideoCodec, nullptr) < 0)
    {
        avcodec_free_context(&context);
        return false;
    }
    avcodec_free_context(&mVideoCodecContext);
    mVideoCodecContext = context;
    mCodec.used = false;
    return true;
}

long long VideoDecoder::CodecHeldPictures() const
{
    AVCodecContext const* context = DecodingContext();
    if (!context)
    {
        return 0;
    }
    // Each frame thread (or the one decoding thread) holds the picture it
    // decodes and one it has done and not yet handed out; the codec keeps
    // its references and the pictures it reorders; the worker holds the
    // last one handed out while it converts it, or holds it back during a
    // seek.
    long long const threads = (context->active_thread_type & FF_THREAD_FRAME) ? context->thread_count : 1;
    return 2 * threads + FixedHeldPictures(context);
}

long long VideoDecoder::FixedHeldPictures(AVCodecContext const* context)
{
    return std::max(context->has_b_frames, 0) + std::max(context->refs, 1) + 1;
}

int VideoDecoder::FrameThreadsForBudget(AVCodecContext const* context, int wanted) const
{
    if (mMemory.cacheMaximum <= 0 || !context)
    {
        return wanted;
    }
    // The room a backward window of the shortest length needs, in the
    // frames' format, and the codec's pictures in its own.
    long long const room = CacheBudget::PlayRoom(mSeek.lead, PictureBytesEstimate());
    return CacheBudget::FrameThreadsWithin(wanted, mMemory.cacheMaximum, room, BudgetedPictureBytes(),
                                           FixedHeldPictures(context));
}

long long VideoDecoder::BudgetedPictureBytes() const
{
    long long const bytes = DecoderPictureBytes();
    if (bytes > 0 || !mFormatContext || !mStream.info)
    {
        return bytes;
    }
    // Before its first picture a codec may not tell its format yet: the
    // stream's.
    AVCodecParameters const* parameters = mFormatContext->streams[mStream.info->streamIndex]->codecpar;
    return std::max(av_image_get_buffer_size(static_cast<AVPixelFormat>(parameters->format), parameters->width,
                                             parameters->height, 1),
                    0);
}

void VideoDecoder::BoundCodecThreads()
{
    mCodec.threadLimit = 0;
    mCodec.sliceThreadsOnly = false;
    AVCodecContext const* context = mVideoCodecContext;
    if (!context || mHwDecoderActive || mMemory.cacheMaximum <= 0 || (mSource && mSource->IsImageSequence()))
    {
        return;
    }
    bool const frameThreads = context->active_thread_type & FF_THREAD_FRAME;
    int const opened = frameThreads ? context->thread_count : 1;
    if (frameThreads && opened >= 2)
    {
        mSeek.lead = CacheBudget::SeekLead(mSeek.lead, mMemory.cacheMaximum, PictureBytesEstimate(),
                                           BudgetedPictureBytes(), FixedHeldPictures(context));
        mWindow.length = mSeek.lead;
    }
    int const fitting = FrameThreadsForBudget(context, opened);
    QString const path = mSource ? mSource->FilePath(0) : QString();
    if (fitting < 1 && !mMemory.tooBigWarned.contains(path))
    {
        mMemory.tooBigWarned.insert(path);
        Logger::GetInstance()->Warning(
            QStringLiteral("Pictures of %1x%2 are too big for a video cache of %3 MB: decoding %4 takes more memory")
                .arg(context->width)
                .arg(context->height)
                .arg(mMemory.cacheMaximum / 1000000)
                .arg(mSource ? mSource->MediaName() : QString()));
    }
    if (!frameThreads || fitting >= opened)
    {
        return;
    }
    // Fewer frame threads; where not even two fit, threads that split each
    // picture, where the codec has them.
    mCodec.threadLimit = std::max(fitting, 1);
    mCodec.sliceThreadsOnly = fitting < 2 && mVideoCodec && (mVideoCodec->capabilities & AV_CODEC_CAP_SLICE_THREADS);
    RenewCodecContext();
}

long long VideoDecoder::DecoderPictureBytes() const
{
    if (mMemory.decoderPictureBytes > 0)
    {
        return mMemory.decoderPictureBytes;
    }
    AVCodecContext const* context = DecodingContext();
    if (!context || context->pix_fmt == AV_PIX_FMT_NONE || context->width <= 0 || context->height <= 0)
    {
        return mMemory.pictureBytes;
    }
    int const bytes = av_image_get_buffer_size(context->pix_fmt, context->width, context->height, 1);
    return bytes > 0 ? bytes : mMemory.pictureBytes;
}

long long VideoDecoder::PictureBytesEstimate() const
{
    if (mMemory.pictureBytes > 0)
    {
        return mMemory.pictureBytes;
    }
    AVCodecContext const* context = mVideoCodecContext;
    if (!context || mConversion.outputPixelFormat == AV_PIX_FMT_NONE || context->width <= 0 || context->height <= 0)
    {
        return 0;
    }
    return std::max(
        av_image_get_buffer_size(mConversion.outputPixelFormat, context->width, context->height, IMAGE_ALIGNMENT), 0);
}

void VideoDecoder::SetBackwardWindowBudget(long long bytes, long long kept)
{
    mMemory.budget = std::max(bytes, 0LL);
    mMemory.cacheKept = std::clamp(kept, 0LL, mMemory.budget);
}

bool VideoDecoder::BackwardWindowStartsNext() const
{
    return !mDecoding.forward && mWindow.frames.isEmpty() && !mWindow.unfinished;
}

void VideoDecoder::PrepareBackwardWindow()
{
    if (BackwardWindowStartsNext())
    {
        StartWindow();
        mWindow.prepared = true;
    }
}

void VideoDecoder::SetSeekKeepsBackwardWindow(bool keep)
{
    mSeek.keepsWindow = keep;
}

int VideoDecoder::WindowFramesForBudget() const
{
    int const shortest = mSeek.lead;
    long long const pictureBytes = PictureBytesEstimate();
    if (mStream.intraOnly || mMemory.budget <= 0 || pictureBytes <= 0)
    {
        return shortest;
    }
    // The codec's pictures, in its own format, and the window's end.
    long long const held = CodecHeldPictures() * DecoderPictureBytes() + pictureBytes;
    bool const firstBesideCached = mWindow.count == 0 && mMemory.cacheKept > 0;
    return CacheBudget::BackwardWindowPictures(mMemory.budget, mMemory.cacheKept, held, pictureBytes,
                                               firstBesideCached, shortest);
}

long long VideoDecoder::IntraOnlyWindowSeekTime(long long start) const
{
    double const step = mStream.info ? mStream.info->frameStep : 0.0;
    if (step <= 0.0)
    {
        return start - AvDecoderBase::DECODE_BACKWARD_SEEK_OFFSET;
    }
    auto const handedOut = static_cast<long long>(static_cast<double>(mWindow.end - start) / step) + 1;
    long long const frames = std::clamp<long long>(2 * handedOut, 2, WindowFramesForBudget());
    // Seek keeps two frames of margin before the time asked for.
    return start - 1 - static_cast<long long>(static_cast<double>(frames - 2) * step);
}

void VideoDecoder::StartWindow()
{
    // The window's codec, whose pictures count in its room from now on.
    ChooseDecodingContext();
    int const longest = WindowFramesForBudget();
    // Twice the longest window so far: key pictures cut the windows of short
    // GOPs, whose room the cache then keeps. Not after the first window only:
    // a file often ends on part of a GOP.
    mWindow.length = mWindow.count >= 2 ? static_cast<int>(std::clamp<qsizetype>(2 * mWindow.longest, 1, longest))
                                      : longest;
    mWindow.length = std::max(mWindow.length, mSeek.lead);
}

void VideoDecoder::FinishWindow()
{
    qsizetype pictures = 0;
    for (std::shared_ptr<VideoFrame> const& frame : std::as_const(mWindow.frames))
    {
        pictures += frame ? 1 : 0;
    }
    mWindow.longest = std::max(mWindow.longest, pictures);
    ++mWindow.count;
}

int VideoDecoder::TotalWorkerCount() const
{
    return UsableWorkerCount();
}

int VideoDecoder::UsableWorkerCount() const
{
    return static_cast<int>(mWorkers.busy.size() + mWorkers.idle.size());
}

int VideoDecoder::ActiveWorkerCount() const
{
    return static_cast<int>(mWorkers.busy.size());
}
