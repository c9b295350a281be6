#include "media/AvDecoderBase.h"

#include "media/DecodeCommandInbox.h"

#include "media/AvHelpers.h"
#include "media/DecoderThreads.h"
#include "media/FfmpegCompat.h"
#include "media/TsTimestampScan.h"
#include "media/VideoFrameBufferPool.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "model/Source.h"

#include <cstring>

namespace
{

// The texts each kind of stream reports its failures with.
struct StreamMessages
{
    char const* decoderNotFound;
    char const* streamNotFound;
    char const* findFailed;
    char const* allocFailed;
    char const* contextFailed;
    char const* explicitDecoderNotFound;
    char const* openFailed;
};

StreamMessages const AUDIO_MESSAGES = {
    "Failed to find audio stream (Decoder not found)",
    "Failed to find audio stream (Stream not found)",
    "Failed to find audio stream index: %1",
    "Failed to alloc audio codec context.",
    "Failed to create audio codec context.",
    "Audio decoder not found.",
    "Failed to open audio codec.",
};

StreamMessages const VIDEO_MESSAGES = {
    "Failed to find video stream (Decoder not found): %1",
    "Failed to find video stream (Stream not found)",
    "Failed to find video stream index: %1",
    "Failed ot alloc video codec context.",
    "Failed to create video codec context.",
    "Video decoder not found.",
    "Failed to open video codec.",
};

} // namespace

AvDecoderBase::AvDecoderBase(DecodeSettings const& settings, QObject* parent)
    : QObject(parent)
    , mSettings(settings)
{
    mInput.SetStopQuery([this] { return mCommandInbox && mCommandInbox->StopPending(); });
}

AvDecoderBase::~AvDecoderBase()
{
    // Derived classes have gone already: only the base's own closing runs.
    AvDecoderBase::CloseAudioStream();
    AvDecoderBase::CloseVideoStream();
    CloseInput();
}

bool AvDecoderBase::OpenSource(Source* source, int fileIndex, int infoIndex)
{
    CloseAudioStream();
    CloseVideoStream();
    CloseInput();
    mSource = source;
    if (!mSource)
    {
        return true;
    }
    if (!OpenInput(fileIndex))
    {
        return false;
    }
    if (mFormatContext->nb_streams == 0)
    {
        // Containers without a header (MPEG-TS, raw streams) list their
        // streams only once packets were read.
        avformat_find_stream_info(mFormatContext, nullptr);
    }
    mInput.EndOpening();
    if (OpenStreamByInfoIndex(fileIndex, infoIndex))
    {
        return true;
    }
    CloseInput();
    return false;
}

void AvDecoderBase::CloseAudioStream()
{
    avcodec_free_context(&mAudioCodecContext);
    mAudioCodec = nullptr;
}

void AvDecoderBase::CloseVideoStream()
{
    avcodec_free_context(&mVideoCodecContext);
    mVideoCodec = nullptr;
    mHwDecoderActive = false;
}

bool AvDecoderBase::InitializeHwVideoDecoder()
{
    return false;
}

void AvDecoderBase::CloseSource()
{
    CloseAudioStream();
    CloseVideoStream();
    CloseInput();
    mSource = nullptr;
}

bool AvDecoderBase::OpenInput(int fileIndex)
{
    CloseInput();
    mOpenErrorCode = 0;
    if (!mSource || fileIndex < 0 || fileIndex >= mSource->FileCount())
    {
        Logger::GetInstance()->Error("Failed to open input. A source is not set");
        return false;
    }
    QString const path = mSource->FilePath(fileIndex);
    if (!mSource->FileExists(fileIndex))
    {
        mOpenErrorCode = 1;
        Logger::GetInstance()->Error(QStringLiteral("File not found: %1").arg(path));
        return false;
    }
    int const result = mInput.Open(&mFormatContext, path);
    if (result < 0)
    {
        mOpenErrorCode = 3;
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to open input for parsing: %1 (%2)").arg(path, AvHelpers::ErrorText(result)));
        return false;
    }
    if (mFormatContext->iformat && std::strcmp(mFormatContext->iformat->name, "mpegts") == 0)
    {
        // A long tail of padding would be read to its end by every search
        // for the last pictures, and by the demuxer before it hands out the
        // last one: the input ends where the data does.
        AVIOInterruptCB const interrupt = mFormatContext->interrupt_callback;
        long long const end = TsTimestampScan::DataEnd(mInput.Descriptor(), [interrupt] {
            return interrupt.callback && interrupt.callback(interrupt.opaque) != 0;
        });
        if (end >= 0 && end < avio_size(mFormatContext->pb))
        {
            mInput.SetDataEnd(end);
        }
    }
    return true;
}

void AvDecoderBase::CloseInput()
{
    mInput.Close(&mFormatContext);
}

int AvDecoderBase::OpenAudioStream(int streamIndex)
{
    return OpenStream(AVMEDIA_TYPE_AUDIO, streamIndex);
}

int AvDecoderBase::OpenVideoStream(int streamIndex)
{
    return OpenStream(AVMEDIA_TYPE_VIDEO, streamIndex);
}

int AvDecoderBase::OpenStream(AVMediaType type, int streamIndex)
{
    bool const isVideo = type == AVMEDIA_TYPE_VIDEO;
    StreamMessages const& messages = isVideo ? VIDEO_MESSAGES : AUDIO_MESSAGES;
    AVCodecContext*& context = isVideo ? mVideoCodecContext : mAudioCodecContext;
    AVCodec const*& codec = isVideo ? mVideoCodec : mAudioCodec;
    Logger* logger = Logger::GetInstance();
    if (!mFormatContext)
    {
        logger->Error("Failed to open input. A source is not set");
        return -1;
    }

    int index = streamIndex;
    if (streamIndex < 0)
    {
        index = av_find_best_stream(mFormatContext, type, -1, -1, &codec, 0);
        if (index == AVERROR_DECODER_NOT_FOUND)
        {
            logger->Error(isVideo ? QString::fromUtf8(messages.decoderNotFound).arg(mSource->MediaName())
                                  : QString::fromUtf8(messages.decoderNotFound));
            return -1;
        }
        if (index == AVERROR_STREAM_NOT_FOUND)
        {
            logger->Error(messages.streamNotFound);
            return -1;
        }
        if (index < 0)
        {
            logger->Error(QString::fromUtf8(messages.findFailed).arg(index));
            return -1;
        }
    }
    else if (static_cast<unsigned int>(streamIndex) >= mFormatContext->nb_streams)
    {
        // A stored stream index may come from another version of the file.
        logger->Error(QString::fromUtf8(messages.findFailed).arg(streamIndex));
        return -1;
    }

    avcodec_free_context(&context);
    context = avcodec_alloc_context3(nullptr);
    if (!context)
    {
        logger->Error(messages.allocFailed);
        return -1;
    }
    AVStream const* stream = mFormatContext->streams[index];
    int result = avcodec_parameters_to_context(context, stream->codecpar);
    if (result < 0)
    {
        logger->Error(messages.contextFailed, result);
        avcodec_free_context(&context);
        return -1;
    }
    // Decoders that guess missing timestamps need the packets' time base.
    context->pkt_timebase = stream->time_base;

    if (streamIndex >= 0)
    {
        codec = avcodec_find_decoder(stream->codecpar->codec_id);
        if (!codec)
        {
            logger->Error(messages.explicitDecoderNotFound);
            avcodec_free_context(&context);
            return -1;
        }
    }

    if (isVideo)
    {
        mHwDecoderActive = InitializeHwVideoDecoder();
        PrepareVideoCodecContext(context, codec, mSource && mSource->IsImageSequence(), mHwDecoderActive, mSettings);
    }

    result = avcodec_open2(context, codec, nullptr);
    if (result < 0)
    {
        logger->Error(messages.openFailed, result);
        avcodec_free_context(&context);
        codec = nullptr;
        return -1;
    }
    return index;
}

void AvDecoderBase::PrepareVideoCodecContext(AVCodecContext* context, AVCodec const* codec, bool imageSequence,
                                             bool hardware, DecodeSettings const& settings)
{
    context->max_pixels = AvHelpers::MaximumPicturePixels(settings.cacheSize);
    // A movie's codec gets FFmpeg's own choice (0) as a count, from the
    // cores this process may run on: what its pictures cost can then be
    // bounded.
    context->thread_count = imageSequence ? settings.imageSequenceDecoderThreadCount
                                          : DecoderThreads::Requested(settings.videoDecoderThreadCount);
    // Pictures come from the shared frame-buffer pool (unless a hardware
    // decoder makes its own); a still image's cleared, so that what a damaged
    // file leaves undecoded is black, the same on every visit.
    if (!hardware)
    {
        context->get_buffer2 =
            imageSequence ? VideoFrameBufferPool::GetClearedDecoderBuffer : VideoFrameBufferPool::GetDecoderBuffer;
        FfmpegCompat::MarkCallbacksThreadSafe(context);
    }
    // An intra-only codec splits each picture among its threads: frame
    // threads would first have to queue a packet per thread, which a seek
    // waits for.
    AVCodecDescriptor const* descriptor = codec ? avcodec_descriptor_get(codec->id) : nullptr;
    if (!imageSequence && descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY) &&
        (codec->capabilities & AV_CODEC_CAP_SLICE_THREADS))
    {
        context->thread_type = FF_THREAD_SLICE;
    }
}

int AvDecoderBase::LastErrorCode() const
{
    return mLastErrorCode;
}

int AvDecoderBase::OpenErrorCode() const
{
    return mOpenErrorCode;
}

void AvDecoderBase::SetCommandInbox(std::shared_ptr<DecodeCommandInbox> inbox)
{
    mCommandInbox = std::move(inbox);
}

bool AvDecoderBase::CommandPending() const
{
    return mCommandInbox && mCommandInbox->CommandPending();
}
