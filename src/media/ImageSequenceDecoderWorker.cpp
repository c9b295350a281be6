#include "media/ImageSequenceDecoderWorker.h"

#include "app/Logger.h"
#include "media/AvDecoderBase.h"
#include "media/AvParser.h"
#include "media/VideoDecodeWorker.h"
#include "media/VideoDecoder.h"
#include "media/VideoFrame.h"

#include <QFileInfo>
#include <QMutexLocker>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <memory>

namespace
{

// Whether a decoder opened for one file's stream decodes another's: image
// decoders read everything else from each picture's own header.
bool SameDecoderParameters(AVCodecParameters const* a, AVCodecParameters const* b)
{
    return a->codec_id == b->codec_id && a->codec_tag == b->codec_tag && a->format == b->format &&
           a->width == b->width && a->height == b->height && a->bits_per_coded_sample == b->bits_per_coded_sample &&
           a->extradata_size == 0 && b->extradata_size == 0;
}

} // namespace

ImageSequenceDecoderWorker::OpenedFile::OpenedFile()
    : packet(av_packet_alloc())
{
}

ImageSequenceDecoderWorker::OpenedFile::~OpenedFile()
{
    av_packet_free(&packet);
    opening.Close(&input);
}

std::unique_ptr<ImageSequenceDecoderWorker::OpenedFile> ImageSequenceDecoderWorker::OpenFile(QString const& path)
{
    auto file = std::make_unique<OpenedFile>();
    file->path = path;
    if (!file->packet)
    {
        file->errorCode = 3;
        file->openResult = AVERROR(ENOMEM);
        return file;
    }
    if (!QFileInfo::exists(path))
    {
        file->errorCode = 1;
        return file;
    }
    // Only a regular file: a FIFO among the frames would block the read.
    file->openResult = file->opening.Open(&file->input, path);
    if (file->openResult < 0)
    {
        file->errorCode = 3;
        return file;
    }
    file->streamIndex = av_find_best_stream(file->input, AVMEDIA_TYPE_VIDEO, -1, -1, &file->codec, 0);
    if (file->streamIndex < 0 || !file->codec)
    {
        file->errorCode = 4;
        return file;
    }
    while (av_read_frame(file->input, file->packet) >= 0)
    {
        // An empty packet would read as the end of the stream to the decoder.
        if (file->packet->stream_index == file->streamIndex && file->packet->size > 0)
        {
            break;
        }
        av_packet_unref(file->packet);
    }
    file->opening.EndOpening();
    return file;
}

ImageSequenceDecoderWorker::ImageSequenceDecoderWorker(int id, QObject* parent)
    : QObject(parent)
    , mId(id)
    , mCodecParameters(avcodec_parameters_alloc())
    , mPacket(av_packet_alloc())
    , mPicture(av_frame_alloc())
{
}

ImageSequenceDecoderWorker::~ImageSequenceDecoderWorker()
{
    CloseDecoder();
    avcodec_parameters_free(&mCodecParameters);
    av_packet_free(&mPacket);
    av_frame_free(&mPicture);
    delete mConverter;
}

int ImageSequenceDecoderWorker::Id() const
{
    return mId;
}

int ImageSequenceDecoderWorker::FileIndex() const
{
    return mFileIndex;
}

void ImageSequenceDecoderWorker::SetFileInfo(SourceFileInfo const& file)
{
    QMutexLocker locker(&mMutex);
    mFileInfo = file;
}

void ImageSequenceDecoderWorker::SetOpenedFile(std::unique_ptr<OpenedFile> file)
{
    QMutexLocker locker(&mMutex);
    mOpenedFile = std::move(file);
}

SourceFileInfo ImageSequenceDecoderWorker::FileInfo() const
{
    QMutexLocker locker(&mMutex);
    return mFileInfo;
}

std::shared_ptr<VideoFrame> ImageSequenceDecoderWorker::DecodedVideoFrame() const
{
    QMutexLocker locker(&mMutex);
    return mDecodedFrame;
}

void ImageSequenceDecoderWorker::ClearVideoFrame()
{
    QMutexLocker locker(&mMutex);
    mDecodedFrame.reset();
}

void ImageSequenceDecoderWorker::DecodeImage(int workerId, Source* source, int fileIndex, int infoIndex,
                                             bool forExport)
{
    if (workerId != mId)
    {
        return;
    }
    mFileIndex = fileIndex;
    ClearVideoFrame();
    SourceFileInfo file = FileInfo();
    if (source)
    {
        DecodeFile(file, forExport);
    }
    else
    {
        Logger::GetInstance()->Error("Failed to open image sequence file: Invalid source");
        file.errorCode = 2;
    }
    SetFileInfo(file);
    emit TaskCompleted(mId);
}

void ImageSequenceDecoderWorker::DecodeFile(SourceFileInfo& file, bool forExport)
{
    Logger* logger = Logger::GetInstance();
    QString const name = QFileInfo(file.filePath).fileName();
    std::unique_ptr<OpenedFile> opened;
    {
        QMutexLocker locker(&mMutex);
        opened.swap(mOpenedFile);
    }
    if (!opened || opened->path != file.filePath)
    {
        opened = OpenFile(file.filePath);
    }
    if (opened->errorCode == 0 && !PrepareDecoder(opened->input->streams[opened->streamIndex], opened->codec))
    {
        opened->errorCode = 4;
    }
    if (opened->errorCode != 0)
    {
        file.errorCode = opened->errorCode;
        QString const message = QStringLiteral("Failed to open image sequence file: %1").arg(name);
        opened->errorCode == 3 ? logger->Error(message, opened->openResult) : logger->Error(message);
        return;
    }
    AVFormatContext* const input = opened->input;
    int const streamIndex = opened->streamIndex;
    AVCodec const* const codec = opened->codec;
    if (!DecodePicture(*opened))
    {
        file.errorCode = 2;
        logger->Error(QStringLiteral("Image sequence file gave no picture: %1").arg(name));
        return;
    }
    if (!file.parsed || file.videoStreams.isEmpty())
    {
        // The decoder has just read the picture's size and format: the
        // file's record needs nothing more.
        VideoStreamInfo info;
        if (!AvParser::FillVideoStreamInfo(info, input, streamIndex, mCodecContext, codec, true, name, name))
        {
            file.errorCode = 2;
            av_frame_unref(mPicture);
            return;
        }
        file.metadata.clear();
        AvParser::ParseMetadata(input->metadata, file.metadata);
        file.audioStreams.clear();
        file.videoStreams = {info};
        file.parsed = true;
    }

    if (!mConverter)
    {
        mConverter = new VideoDecodeWorker(-1, forExport);
    }
    VideoDecodingData* data = mConverter->DecodingData();
    data->frames.clear();
    data->streamInfo = &file.videoStreams.first();
    data->timeBase = input->streams[streamIndex]->time_base;
    data->imageAlignment = VideoDecoder::IMAGE_ALIGNMENT;
    data->framePixelFormat = VideoDecoder::OutputFormat(file.videoStreams.constFirst());
    data->outputPixelFormat = VideoDecoder::OutputAvPixelFormat(data->framePixelFormat);
    data->isLinearColorSpace = file.videoStreams.constFirst().isLinear;
    // The sequence's files decode side by side already.
    data->conversionThreads = 1;
    data->seekTarget = -1;
    mConverter->ProcessFrame(mPicture, 0);
    av_frame_unref(mPicture);
    std::shared_ptr<VideoFrame> const frame = data->frames.isEmpty() ? nullptr : data->frames.constFirst();
    data->frames.clear();
    data->streamInfo = nullptr;
    if (!frame)
    {
        file.errorCode = 2;
        logger->Error(QStringLiteral("Image sequence file gave no picture: %1").arg(name));
        return;
    }
    // Points into the worker's copy of the record, which ends here.
    frame->streamInfo = nullptr;
    file.errorCode = 0;
    QMutexLocker locker(&mMutex);
    mDecodedFrame = frame;
}

bool ImageSequenceDecoderWorker::PrepareDecoder(AVStream const* stream, AVCodec const* codec)
{
    if (mCodecContext && mCodecContext->codec == codec && SameDecoderParameters(mCodecParameters, stream->codecpar))
    {
        return true;
    }
    CloseDecoder();
    mCodecContext = avcodec_alloc_context3(codec);
    if (!mCodecContext || avcodec_parameters_to_context(mCodecContext, stream->codecpar) < 0 ||
        avcodec_parameters_copy(mCodecParameters, stream->codecpar) < 0)
    {
        CloseDecoder();
        return false;
    }
    mCodecContext->pkt_timebase = stream->time_base;
    AvDecoderBase::PrepareVideoCodecContext(mCodecContext, codec, true, false);
    if (avcodec_open2(mCodecContext, codec, nullptr) < 0)
    {
        CloseDecoder();
        return false;
    }
    return true;
}

void ImageSequenceDecoderWorker::CloseDecoder()
{
    avcodec_free_context(&mCodecContext);
}

bool ImageSequenceDecoderWorker::DecodePicture(OpenedFile& file)
{
    bool draining = false;
    bool decoded = false;
    // The first packet was read with the file.
    av_packet_move_ref(mPacket, file.packet);
    bool read = mPacket->size > 0;
    while (!decoded)
    {
        if (!draining)
        {
            if (!read && av_read_frame(file.input, mPacket) < 0)
            {
                draining = true;
                avcodec_send_packet(mCodecContext, nullptr);
            }
            else
            {
                read = false;
                bool const ours = mPacket->stream_index == file.streamIndex && mPacket->size > 0;
                int const sent = ours ? avcodec_send_packet(mCodecContext, mPacket) : 0;
                av_packet_unref(mPacket);
                if (sent < 0 && sent != AVERROR(EAGAIN))
                {
                    // A picture that cannot be read: take what the decoder
                    // may still hold, then give up.
                    draining = true;
                    avcodec_send_packet(mCodecContext, nullptr);
                }
            }
        }
        int const received = avcodec_receive_frame(mCodecContext, mPicture);
        if (received == 0)
        {
            decoded = true;
        }
        else if (received != AVERROR(EAGAIN) || draining)
        {
            break;
        }
    }
    // Ready for the next file (a drained decoder takes no more packets).
    avcodec_flush_buffers(mCodecContext);
    return decoded;
}
