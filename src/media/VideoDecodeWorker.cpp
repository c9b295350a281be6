#include "media/VideoDecodeWorker.h"

#include "app/Logger.h"
#include "app/TimeHelpers.h"
#include "media/DecodeCommandInbox.h"
#include "media/FfmpegLog.h"
#include "media/PacketPictureCheck.h"
#include "media/TenBitPictureConversion.h"
#include "media/VideoFrame.h"
#include "model/VideoStreamInfo.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace
{

int const SCALER_FLAGS = SWS_BILINEAR | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND;

// Linear pictures shown without the OpenGL viewer are brightened to a 2.2
// display gamma in software.
std::array<uint8_t, 256> const& GammaTable()
{
    static std::array<uint8_t, 256> const table = [] {
        std::array<uint8_t, 256> values {};
        for (int i = 0; i < 256; ++i)
        {
            values[i] = static_cast<uint8_t>(std::lround(255.0 * std::pow(i / 255.0, 1.0 / 2.2)));
        }
        return values;
    }();
    return table;
}

void ApplyGamma(VideoFrame& frame)
{
    if (frame.pixelFormat == VideoFramePixelFormat::YUV420P || !frame.planeData[0])
    {
        return;
    }
    std::array<uint8_t, 256> const& table = GammaTable();
    uint8_t* bytes = frame.planeData[0].get();
    long long const size = frame.byteSize;
    if (frame.pixelFormat == VideoFramePixelFormat::RGB24)
    {
        for (long long i = 0; i < size; ++i)
        {
            bytes[i] = table[bytes[i]];
        }
        return;
    }
    for (long long i = 0; i + 3 < size; i += 4)
    {
        bytes[i] = table[bytes[i]];
        bytes[i + 1] = table[bytes[i + 1]];
        bytes[i + 2] = table[bytes[i + 2]];
    }
}

// The most failures draining takes before it gives up: one for every
// picture the codec may still hold (one per frame thread, its reordering and
// its references).
int DrainFailureLimit(AVCodecContext const* context)
{
    return std::max(context->thread_count, 1) + std::max(context->has_b_frames, 0) +
           static_cast<int>(VideoDecodeWorker::MAXIMUM_REORDERED_PICTURES);
}

// Bytes of the buffers a decoded picture holds.
long long PictureBufferBytes(AVFrame const* picture)
{
    long long bytes = 0;
    for (AVBufferRef const* buffer : picture->buf)
    {
        bytes += buffer ? static_cast<long long>(buffer->size) : 0;
    }
    return bytes;
}

QString PixelFormatName(AVPixelFormat format)
{
    char const* name = av_get_pix_fmt_name(format);
    return name ? QString::fromUtf8(name) : QString::number(static_cast<int>(format));
}

// The picture's own presentation time where its packet carried one, else
// FFmpeg's best effort from the decoding times. The best effort alone would
// not do: after one picture whose time contradicts the order of the pictures
// around it, FFmpeg times every later picture of the codec by its decoding
// time, flushes or not, which moves them all and makes the picture a seek
// delivers depend on what was decoded before it. A wrong time stays that
// picture's own.
long long PictureTimestamp(AVFrame const* picture)
{
    return picture->pts != AV_NOPTS_VALUE ? picture->pts : picture->best_effort_timestamp;
}

} // namespace

VideoDecodeWorker::VideoDecodeWorker(int id, bool forExport, bool hardwareRendering, QObject* parent)
    : QObject(parent)
    , mId(id)
    , mPacket(av_packet_alloc())
    , mDecodedFrame(av_frame_alloc())
    , mHeldFrame(av_frame_alloc())
    , mOutputFrame(av_frame_alloc())
    , mForExport(forExport)
    , mHardwareRendering(hardwareRendering)
{
}

VideoDecodeWorker::~VideoDecodeWorker()
{
    av_packet_free(&mPacket);
    av_frame_free(&mDecodedFrame);
    av_frame_free(&mHeldFrame);
    av_frame_free(&mOutputFrame);
    sws_freeContext(mScaler);
    av_free(mImageBuffer);
}

int VideoDecodeWorker::Id() const
{
    return mId;
}

AVPacket* VideoDecodeWorker::Packet()
{
    return mPacket;
}

VideoDecodingData* VideoDecodeWorker::DecodingData()
{
    return &mDecodingData;
}

bool VideoDecodeWorker::ReadPacket(AVFormatContext* formatContext)
{
    av_packet_unref(mPacket);
    int const streamIndex = mDecodingData.streamInfo ? mDecodingData.streamInfo->streamIndex : -1;
    while (formatContext && av_read_frame(formatContext, mPacket) >= 0)
    {
        // An empty packet would read as the end of the stream to the decoder.
        if (mPacket->stream_index == streamIndex && mPacket->size > 0 &&
            (!mDecodingData.awaitKey || (mPacket->flags & AV_PKT_FLAG_KEY)))
        {
            mDecodingData.awaitKey = false;
            return true;
        }
        av_packet_unref(mPacket);
    }
    mPacket->stream_index = -1;
    return false;
}

void VideoDecodeWorker::Decode(int id)
{
    if (id != mId)
    {
        return;
    }
    DecodeInternal(false);
    av_packet_unref(mPacket);
    emit PacketProcessingCompleted(mId);
    emit DecodingCompleted(mId);
}

bool VideoDecodeWorker::FindStartTimeOffset(long long& offset, AVFormatContext* formatContext)
{
    do
    {
        ReadPacket(formatContext);
        DecodeInternal(true);
        av_packet_unref(mPacket);
        if (mDecodingData.receivedFrame)
        {
            offset = mDecodingData.firstFrameTime;
            return true;
        }
    } while (!mEndOfStream);
    return false;
}

bool VideoDecodeWorker::FindEndTime(long long& endTime, AVFormatContext* formatContext, long long containerEnd,
                                    bool fromStart)
{
    std::vector<long long> times;
    // A picture without a timestamp is timed one frame step after the one
    // before; before the first one with a time of its own since a seek, that
    // is a time from elsewhere in the stream, which says nothing here. From
    // the start of the stream the first picture is at 0.
    double const step = mDecodingData.streamInfo ? mDecodingData.streamInfo->frameStep : 0.0;
    mTimeKnown = mDecodingData.timesFromCount || fromStart;
    if (fromStart)
    {
        mDecodingData.lastFrameTime = static_cast<long long>(-step);
    }
    do
    {
        ReadPacket(formatContext);
        DecodeInternal(true);
        av_packet_unref(mPacket);
        if (mDecodingData.receivedFrame && mTimeKnown)
        {
            times.push_back(mDecodingData.lastFrameTime);
        }
    } while (!mEndOfStream);
    if (times.empty())
    {
        return false;
    }
    double const frameStep = mDecodingData.streamInfo ? mDecodingData.streamInfo->frameStep : 0.0;
    long long const lastTime = LastTimeInProgression(times, containerEnd, frameStep);
    endTime = static_cast<long long>(static_cast<double>(lastTime) + frameStep);
    return true;
}

bool VideoDecodeWorker::ReadPacketTimes(std::vector<long long>& times, AVFormatContext* formatContext,
                                        std::size_t count, bool inPacketOrder, PacketPictureCheck* frames,
                                        bool* startsDecoding, AVPacket* first)
{
    VideoStreamInfo const* info = mDecodingData.streamInfo;
    if (!formatContext || !info || mDecodingData.timesFromCount)
    {
        return false;
    }
    times.clear();
    if (frames)
    {
        frames->StartOver();
    }
    if (startsDecoding)
    {
        *startsDecoding = !frames;
    }
    // A packet still held from an earlier read would be lost under the next.
    av_packet_unref(mPacket);
    bool readable = true;
    int result = 0;
    while (times.size() < count && (result = av_read_frame(formatContext, mPacket)) >= 0)
    {
        AVPacket const* packet = mPacket;
        if (packet->stream_index == info->streamIndex && packet->size > 0)
        {
            // The first picture after the seek must decode on its own, and
            // each must carry its own time: decoding would guess the others.
            // Shown in decoding order, a time that falls back would make the
            // decoder time pictures by their decoding times instead.
            long long const time = packet->pts != AV_NOPTS_VALUE ? StreamTime(packet->pts) : 0;
            bool usable = packet->pts != AV_NOPTS_VALUE &&
                          !(packet->flags & (AV_PKT_FLAG_DISCARD | AV_PKT_FLAG_CORRUPT)) &&
                          (!times.empty() || (packet->flags & AV_PKT_FLAG_KEY)) &&
                          (!frames || frames->Accept(packet, time));
            if (usable && times.empty() && frames && startsDecoding)
            {
                *startsDecoding = frames->StartsDecoding(packet);
            }
            if (usable && times.empty() && first && av_packet_ref(first, packet) < 0)
            {
                usable = false;
            }
            readable = usable && (!inPacketOrder || times.empty() || time > times.back());
            if (readable)
            {
                times.push_back(time);
            }
        }
        av_packet_unref(mPacket);
        if (!readable)
        {
            return false;
        }
    }
    // A read that failed short of the end may have left pictures unread.
    // Times out of the order the pictures are shown in belong to other
    // pictures than their own.
    return !times.empty() && (times.size() == count || result == AVERROR_EOF) &&
           (!frames || frames->TimesFollowPictureOrder());
}

bool VideoDecodeWorker::FindStartTimeFromPackets(long long& offset, AVFormatContext* formatContext,
                                                 bool inPacketOrder, PacketPictureCheck* frames)
{
    // No picture decoded after another can be shown before it from further
    // on than the codec's deepest reordering.
    std::vector<long long> times;
    bool startsDecoding = false;
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> first(av_packet_alloc(), [](AVPacket* packet) {
        av_packet_free(&packet);
    });
    if (!first || !ReadPacketTimes(times, formatContext, inPacketOrder ? 1 : MAXIMUM_REORDERED_PICTURES + 1,
                                   inPacketOrder, frames, &startsDecoding, first.get()))
    {
        return false;
    }
    // A key packet that only starts a gradual refresh (a recovery point)
    // shows nothing until the refresh completes: decoding tells when.
    if (!startsDecoding)
    {
        return false;
    }
    // The key picture first shown unless one read after it comes earlier or
    // at the same time.
    if (std::any_of(times.cbegin() + 1, times.cend(), [&times](long long time) { return time <= times.front(); }))
    {
        return false;
    }
    // A damaged picture never comes out of the decoder, and the stream
    // starts with the first one that does: only decoding tells which.
    if (!DecodesAlone(first.get(), times.front()))
    {
        return false;
    }
    offset = times.front();
    return true;
}

bool VideoDecodeWorker::DecodesAlone(AVPacket const* packet, long long time)
{
    AVCodecContext* context = mDecodingData.codecContext;
    if (!context || !packet || packet->size <= 0)
    {
        return false;
    }
    bool decoded = false;
    {
        // A picture that fails here is looked for by decoding afterwards.
        FfmpegLog::Quiet const quiet(context, true);
        avcodec_flush_buffers(context);
        avcodec_send_packet(context, packet);
        avcodec_send_packet(context, nullptr);
        // Each failure uses up a picture the codec may hold: draining ends.
        for (int failures = 0; failures <= DrainFailureLimit(context);)
        {
            int const result = avcodec_receive_frame(context, mDecodedFrame);
            if (result == 0)
            {
                long long const timestamp = PictureTimestamp(mDecodedFrame);
                decoded = decoded || (timestamp != AV_NOPTS_VALUE && StreamTime(timestamp) == time);
                av_frame_unref(mDecodedFrame);
                continue;
            }
            if (result == AVERROR_EOF || result == AVERROR(EAGAIN))
            {
                break;
            }
            ++failures;
        }
        avcodec_flush_buffers(context);
    }
    return decoded;
}

bool VideoDecodeWorker::FindEndTimeFromPackets(long long& endTime, AVFormatContext* formatContext,
                                               long long containerEnd, bool inPacketOrder,
                                               PacketPictureCheck* frames)
{
    std::vector<long long> times;
    if (!ReadPacketTimes(times, formatContext, std::numeric_limits<std::size_t>::max(), inPacketOrder, frames))
    {
        return false;
    }
    std::sort(times.begin(), times.end());
    // Two pictures at one time: the decoder would time one by guesswork.
    if (std::adjacent_find(times.cbegin(), times.cend()) != times.cend())
    {
        return false;
    }
    double const frameStep = mDecodingData.streamInfo->frameStep;
    long long const lastTime = times.back();
    if (containerEnd > 0 && IsOutlier(lastTime, containerEnd, frameStep))
    {
        return false;
    }
    endTime = static_cast<long long>(static_cast<double>(lastTime) + frameStep);
    return true;
}

long long VideoDecodeWorker::LastTimeInProgression(std::vector<long long>& times, long long containerEnd,
                                                   double frameStep)
{
    std::sort(times.begin(), times.end());
    if (containerEnd <= 0)
    {
        return times.back();
    }
    for (std::size_t i = 1; i < times.size(); ++i)
    {
        if (IsOutlier(times[i], containerEnd, frameStep) && IsOutlier(times[i], times[i - 1], frameStep))
        {
            Logger::GetInstance()->Warning(
                QStringLiteral("Video timestamp %1 µs lies far beyond the stream's %2 µs and the pictures before it: "
                               "taken as corrupt, the stream ends at %3 µs")
                    .arg(times[i])
                    .arg(containerEnd)
                    .arg(times[i - 1]));
            return times[i - 1];
        }
    }
    return times.back();
}

void VideoDecodeWorker::Flush()
{
    av_frame_unref(mHeldFrame);
    mHoldingFrame = false;
    mSkipLimit = -1;
    mSkipEnded = false;
    mPictureDecoded = false;
}

void VideoDecodeWorker::ChooseSkipping(AVCodecContext* context)
{
    VideoDecodingData const& data = mDecodingData;
    bool skip = !mSkipEnded && data.skipBefore >= 0 && !data.timesFromCount && mPacket->pts != AV_NOPTS_VALUE &&
                !(mPacket->flags & AV_PKT_FLAG_KEY);
    if (skip)
    {
        long long const time = StreamTime(mPacket->pts);
        skip = time >= data.skipFrom && time < data.skipBefore;
    }
    context->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
    if (skip)
    {
        mSkipLimit = std::max(mSkipLimit, data.skipBefore);
    }
}

bool VideoDecodeWorker::EndSkipping()
{
    if (mSkipEnded)
    {
        return true;
    }
    mSkipEnded = true;
    // Every picture timed from mSkipLimit on was decoded, so the latest one
    // before the kept range is the one that covers its start, as long as it
    // lies there (else a skipped one may lie between it and the range).
    return mSkipLimit < 0 || (mHoldingFrame && mHeldFrameTime >= mSkipLimit);
}

void VideoDecodeWorker::DecodeInternal(bool probeOnly)
{
    VideoDecodingData& data = mDecodingData;
    data.frames.clear();
    data.receivedFrame = false;
    data.skipUnsafe = false;
    data.untimedPicture = false;
    mEndOfStream = false;
    AVCodecContext* context = data.codecContext;
    if (!context)
    {
        mEndOfStream = true;
        return;
    }
    Logger* logger = Logger::GetInstance();
    bool const draining = mPacket->size == 0;
    bool sent = false;
    int drainFailures = 0;
    while (true)
    {
        if (!sent)
        {
            if (!draining && !probeOnly)
            {
                ChooseSkipping(context);
            }
            // A probe reads only times, from wherever its packets start;
            // playing, only the packets before the first picture may fail.
            // (With threads, a packet's failure may come with a later send.)
            bool const expectedToFail = probeOnly || !mPictureDecoded;
            int result = 0;
            {
                FfmpegLog::Quiet const quiet(context, expectedToFail);
                result = avcodec_send_packet(context, draining ? nullptr : mPacket);
            }
            if (result == AVERROR(EAGAIN))
            {
                // Every picture is taken after each packet, so the decoder
                // should always have room; take what it holds and retry.
                logger->Error("EAGAIN (on send --> Should not see this error)");
            }
            else
            {
                sent = true;
                if (result == AVERROR_INVALIDDATA)
                {
                    if (!expectedToFail)
                    {
                        logger->Warning("Invalid data decoding video packet... skipping");
                    }
                }
                else if (result < 0 && result != AVERROR_EOF)
                {
                    logger->Error(QStringLiteral("send_packet error: %1").arg(result));
                }
            }
        }

        int const result = avcodec_receive_frame(context, mDecodedFrame);
        if (result == 0)
        {
            mPictureDecoded = true;
            data.decoderPictureBytes = PictureBufferBytes(mDecodedFrame);
            HandleFrame(probeOnly);
            av_frame_unref(mDecodedFrame);
            continue;
        }
        if (result != AVERROR_EOF && result != AVERROR(EAGAIN))
        {
            logger->Error("receive_packet error", result);
            // Frame threads report a picture that failed before the pictures
            // queued behind it: draining goes on to take those. Each failure
            // uses up one picture, so a decoder that only fails stops in the
            // end.
            if (draining && ++drainFailures <= DrainFailureLimit(context))
            {
                continue;
            }
        }
        // A decoder that fails while draining gives nothing more either.
        if (result == AVERROR_EOF || (draining && result != AVERROR(EAGAIN)))
        {
            mEndOfStream = true;
            data.skipUnsafe = data.skipUnsafe || (!probeOnly && !EndSkipping());
            if (!probeOnly && !data.skipUnsafe)
            {
                // The last picture covers everything up to the end.
                ConvertHeldFrame();
                if (!data.windowDrain)
                {
                    data.frames.append(nullptr);
                }
            }
        }
        break;
    }
}

void VideoDecodeWorker::HandleFrame(bool probeOnly)
{
    VideoDecodingData& data = mDecodingData;
    bool const corrupt = (mDecodedFrame->flags & AV_FRAME_FLAG_CORRUPT) != 0;
    if (corrupt && data.dropCorruptFrames && !data.receivedFrame)
    {
        return;
    }
    bool const untimed = PictureTimestamp(mDecodedFrame) == AV_NOPTS_VALUE && !data.timesFromCount;
    if (!probeOnly && untimed && !data.timeAnchored)
    {
        // Shown at a time nothing tells (a key picture handed out before the
        // pictures it follows, in a stream without presentation times).
        data.untimedPicture = true;
        return;
    }
    data.timeAnchored = data.timeAnchored || !untimed;
    long long const stamped = FrameTime();
    long long time = stamped;
    if (!probeOnly && !ReplaceOutlierTime(time))
    {
        return;
    }
    data.lastFrameTime = time;
    ++data.pictureCount;
    mTimeKnown = mTimeKnown || PictureTimestamp(mDecodedFrame) != AV_NOPTS_VALUE;
    if (!data.receivedFrame)
    {
        data.receivedFrame = true;
        data.firstFrameTime = time;
    }
    if (probeOnly || data.skipUnsafe)
    {
        return;
    }
    if (mSkipLimit >= 0 && !mSkipEnded &&
        (mDecodedFrame->pts == AV_NOPTS_VALUE || time != stamped))
    {
        // Timed by guesswork that counts on the pictures before it.
        data.skipUnsafe = true;
        return;
    }
    double const frameStep = data.streamInfo ? data.streamInfo->frameStep : 0.0;
    if (data.seekTarget >= 0 && frameStep > 0.0 &&
        static_cast<double>(data.seekTarget) - data.keptFrames * frameStep >
            static_cast<double>(time))
    {
        av_frame_unref(mHeldFrame);
        av_frame_move_ref(mHeldFrame, mDecodedFrame);
        mHeldFrameTime = time;
        mHoldingFrame = true;
        return;
    }
    if (!EndSkipping())
    {
        data.skipUnsafe = true;
        return;
    }
    if (data.commands && data.commands->DiscardPending())
    {
        // The loop drops whatever comes before it takes the command.
        return;
    }
    ConvertHeldFrame();
    ProcessFrame(mDecodedFrame, time);
}

bool VideoDecodeWorker::ReplaceOutlierTime(long long& time) const
{
    VideoDecodingData const& data = mDecodingData;
    VideoStreamInfo const* info = data.streamInfo;
    if (!info || info->endTime <= 0 || !IsOutlier(time, info->endTime, info->frameStep))
    {
        return true;
    }
    if (data.lastFrameTime < 0)
    {
        Logger::GetInstance()->Warning(
            QStringLiteral("Video picture at %1 µs lies far beyond the stream's end and follows a seek: dropped")
                .arg(time));
        return false;
    }
    // The stream's own progression puts it one frame after the one before.
    long long const replacement = static_cast<long long>(static_cast<double>(data.lastFrameTime) + info->frameStep);
    Logger::GetInstance()->Warning(QStringLiteral("Video picture at %1 µs lies far beyond the stream's end: shown at %2 µs")
                                       .arg(time)
                                       .arg(replacement));
    time = replacement;
    return true;
}

bool VideoDecodeWorker::IsOutlier(long long time, long long reference, double frameStep)
{
    double const slack = std::max(OUTLIER_SLACK_SECONDS * 1e6, OUTLIER_SLACK_FRAMES * frameStep);
    return static_cast<double>(time) > static_cast<double>(reference) + slack;
}

void VideoDecodeWorker::ConvertHeldFrame()
{
    if (mHoldingFrame)
    {
        ProcessFrame(mHeldFrame, mHeldFrameTime);
        Flush();
    }
}

long long VideoDecodeWorker::FrameTime() const
{
    VideoDecodingData const& data = mDecodingData;
    if (data.timesFromCount)
    {
        double const step = data.streamInfo ? data.streamInfo->frameStep : 0.0;
        return step > 0.0 ? TimeHelpers::FrameToFrameStartTime(static_cast<int>(data.pictureCount), step) : 0;
    }
    long long const timestamp = PictureTimestamp(mDecodedFrame);
    if (timestamp == AV_NOPTS_VALUE)
    {
        double const frameStep = data.streamInfo ? data.streamInfo->frameStep : 0.0;
        return static_cast<long long>(static_cast<double>(data.lastFrameTime) + frameStep);
    }
    return StreamTime(timestamp);
}

long long VideoDecodeWorker::StreamTime(long long timestamp) const
{
    VideoDecodingData const& data = mDecodingData;
    // Integer rescaling: a 1/24000 time base in floating point puts some
    // frames a microsecond early.
    long long const time = av_rescale_q_rnd(timestamp, data.timeBase, AV_TIME_BASE_Q, AV_ROUND_DOWN);
    long long const offset = data.streamInfo ? data.streamInfo->StartOffset() : 0;
    return time - offset;
}

bool VideoDecodeWorker::EnsureImageBuffer(int size)
{
    if (size <= mImageBufferSize)
    {
        return true;
    }
    av_free(mImageBuffer);
    // Padding: vectorised conversion may touch a few bytes past the last row.
    mImageBuffer = static_cast<uint8_t*>(av_malloc(static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE));
    mImageBufferSize = mImageBuffer ? size : 0;
    return mImageBuffer != nullptr;
}

bool VideoDecodeWorker::EnsureScaler(int width, int height, AVPixelFormat inputFormat, AVPixelFormat outputFormat,
                                     int threads)
{
    if (mScaler && mScalerWidth == width && mScalerHeight == height && mScalerInput == inputFormat &&
        mScalerOutput == outputFormat && mScalerThreads == threads)
    {
        return true;
    }
    sws_freeContext(mScaler);
    mScaler = sws_alloc_context();
    mScalerWidth = width;
    mScalerHeight = height;
    mScalerInput = inputFormat;
    mScalerOutput = outputFormat;
    mScalerThreads = threads;
    if (!mScaler)
    {
        return false;
    }
    // Slice threads split the picture into bands of rows; each band is
    // converted exactly as a single thread would.
    bool const set = av_opt_set_int(mScaler, "srcw", width, 0) >= 0 && av_opt_set_int(mScaler, "srch", height, 0) >= 0 &&
                     av_opt_set_int(mScaler, "src_format", inputFormat, 0) >= 0 &&
                     av_opt_set_int(mScaler, "dstw", width, 0) >= 0 && av_opt_set_int(mScaler, "dsth", height, 0) >= 0 &&
                     av_opt_set_int(mScaler, "dst_format", outputFormat, 0) >= 0 &&
                     av_opt_set_int(mScaler, "sws_flags", SCALER_FLAGS, 0) >= 0 &&
                     av_opt_set_int(mScaler, "threads", std::max(threads, 1), 0) >= 0;
    if (!set || sws_init_context(mScaler, nullptr, nullptr) < 0)
    {
        sws_freeContext(mScaler);
        mScaler = nullptr;
        return false;
    }
    return true;
}

bool VideoDecodeWorker::Convert(AVFrame* picture, uint8_t* const* planes, int const* lineSizes, uint8_t* buffer,
                                int size)
{
    if (TenBitPictureConversion::Handles(picture, mScalerOutput, SCALER_FLAGS) && picture->width == mScalerWidth &&
        picture->height == mScalerHeight)
    {
        TenBitPictureConversion::Convert(picture, planes, lineSizes);
        return true;
    }
    if (mScalerThreads <= 1)
    {
        return sws_scale(mScaler, picture->data, picture->linesize, 0, picture->height, planes, lineSizes) > 0;
    }
    // The threaded path takes frames; the destination only describes our
    // buffer, which it must not free.
    AVFrame* output = mOutputFrame;
    output->format = mScalerOutput;
    output->width = picture->width;
    output->height = picture->height;
    for (int i = 0; i < 4; ++i)
    {
        output->data[i] = planes[i];
        output->linesize[i] = lineSizes[i];
    }
    output->buf[0] = av_buffer_create(buffer, static_cast<size_t>(size), [](void*, uint8_t*) {}, nullptr, 0);
    bool const converted = output->buf[0] && sws_scale_frame(mScaler, output, picture) >= 0;
    av_frame_unref(output);
    return converted;
}

std::shared_ptr<VideoFrame> VideoDecodeWorker::KeepPicture(AVFrame* picture, long long time, int const* lineSizes) const
{
    VideoDecodingData const& data = mDecodingData;
    if (picture->format != data.outputPixelFormat || !picture->buf[0])
    {
        return nullptr;
    }
    int const planeCount = data.framePixelFormat == VideoFramePixelFormat::YUV420P ? 3 : 1;
    for (int i = 0; i < planeCount; ++i)
    {
        if (!picture->data[i] || picture->linesize[i] != lineSizes[i])
        {
            return nullptr;
        }
    }
    AVFrame* kept = av_frame_clone(picture);
    if (!kept)
    {
        return nullptr;
    }
    VideoFramePlanes adopted;
    for (int i = 0; i < planeCount; ++i)
    {
        adopted.data[i] = kept->data[i];
        adopted.lineSizes[i] = kept->linesize[i];
    }
    for (AVBufferRef const* buffer : kept->buf)
    {
        adopted.byteSize += buffer ? static_cast<long long>(buffer->size) : 0;
    }
    adopted.picture = std::shared_ptr<void const>(kept, [](void const* held) {
        auto* frame = static_cast<AVFrame*>(const_cast<void*>(held));
        av_frame_free(&frame);
    });
    return std::make_shared<VideoFrame>(std::move(adopted), picture->width, picture->height, data.framePixelFormat,
                                        time, data.streamInfo);
}

void VideoDecodeWorker::ProcessFrame(AVFrame* picture, long long time)
{
    VideoDecodingData& data = mDecodingData;
    Logger* logger = Logger::GetInstance();
    // Sized from the picture itself: a stream may change its size midway.
    int const width = picture->width;
    int const height = picture->height;
    auto const inputFormat = static_cast<AVPixelFormat>(picture->format);
    bool const yuvOutput = data.framePixelFormat == VideoFramePixelFormat::YUV420P;
    int const alignedWidth = yuvOutput ? FFALIGN(width, 8) : width;

    bool const gamma = data.isLinearColorSpace && !mHardwareRendering && !mForExport &&
                       !yuvOutput;
    uint8_t* planes[4] = {};
    int lineSizes[4] = {};
    int const size = av_image_fill_arrays(planes, lineSizes, nullptr, data.outputPixelFormat, alignedWidth, height,
                                          data.imageAlignment);
    if (size < 0)
    {
        logger->Error("Failed to prepare image surface for decoding", size);
        return;
    }
    if (!mForExport && !gamma)
    {
        // A picture the decoder made in the wanted layout is shown as it is.
        if (std::shared_ptr<VideoFrame> kept = KeepPicture(picture, time, lineSizes))
        {
            data.frames.append(std::move(kept));
            return;
        }
    }
    if (!EnsureScaler(width, height, inputFormat, data.outputPixelFormat, mForExport ? 1 : data.conversionThreads))
    {
        if (inputFormat != mUnsupportedFormat)
        {
            mUnsupportedFormat = inputFormat;
            logger->Error(QStringLiteral("Unsupported picture conversion: %1 (%2x%3) to %4")
                              .arg(PixelFormatName(inputFormat))
                              .arg(width)
                              .arg(height)
                              .arg(PixelFormatName(data.outputPixelFormat)));
        }
        return;
    }
    // Cached frames are converted straight into a buffer of their own;
    // export frames are packed from the scratch buffer.
    VideoFrameBuffer buffer = mForExport ? VideoFrameBuffer(nullptr, VideoFrameBufferRelease {})
                                         : VideoFrameBufferPool::Shared()->Acquire(
                                               static_cast<size_t>(size),
                                               VideoFrameBufferPool::WarmsAheadFor(data.codecContext));
    if (mForExport ? !EnsureImageBuffer(size) : !buffer)
    {
        logger->Error("Failed to prepare image surface for decoding", AVERROR(ENOMEM));
        return;
    }
    uint8_t* const target = mForExport ? mImageBuffer : buffer.get();
    av_image_fill_arrays(planes, lineSizes, target, data.outputPixelFormat, alignedWidth, height, data.imageAlignment);
    if (!Convert(picture, planes, lineSizes, target, size))
    {
        logger->Error(QStringLiteral("Failed to convert picture: %1 (%2x%3) to %4")
                          .arg(PixelFormatName(inputFormat))
                          .arg(width)
                          .arg(height)
                          .arg(PixelFormatName(data.outputPixelFormat)));
        return;
    }

    std::shared_ptr<VideoFrame> frame;
    if (mForExport)
    {
        frame = std::make_shared<VideoFrame>(planes, lineSizes, width, height, data.framePixelFormat, time,
                                             data.streamInfo, true);
    }
    else
    {
        VideoFramePlanes adopted;
        adopted.buffer = std::move(buffer);
        for (int i = 0; i < 3; ++i)
        {
            adopted.data[i] = planes[i];
            adopted.lineSizes[i] = lineSizes[i];
        }
        adopted.byteSize = size;
        frame = std::make_shared<VideoFrame>(std::move(adopted), width, height, data.framePixelFormat, time,
                                             data.streamInfo);
    }
    if (gamma)
    {
        ApplyGamma(*frame);
    }
    data.frames.append(std::move(frame));
}
