#include "media/ImageSequenceDecoderWorker.h"

#include "app/Logger.h"
#include "app/UserFileGuard.h"
#include "media/AvDecoderBase.h"
#include "media/AvParser.h"
#include "media/VideoDecodeWorker.h"
#include "media/VideoDecoder.h"
#include "media/VideoFrame.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cerrno>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

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

// The next non-empty packet of the stream, null at the end (an empty packet
// would read as the end of the stream to the decoder).
AVPacket* ReadStreamPacket(AVFormatContext* input, int streamIndex)
{
    AVPacket* packet = av_packet_alloc();
    while (packet && av_read_frame(input, packet) >= 0)
    {
        if (packet->stream_index == streamIndex && packet->size > 0)
        {
            return packet;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return nullptr;
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

std::unique_ptr<ImageSequenceDecoderWorker::OpenedFile> ImageSequenceDecoderWorker::OpenFile(QString const& path,
                                                                                           bool whole)
{
    auto file = std::make_unique<OpenedFile>();
    file->path = path;
    if (!file->packet)
    {
        file->errorCode = 3;
        file->openResult = AVERROR(ENOMEM);
        return file;
    }
    if (whole && ReadWholeFile(*file))
    {
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

bool ImageSequenceDecoderWorker::ReadWholeFile(OpenedFile& file)
{
    // The decoder the image demuxer would take for the suffix.
    static AVOutputFormat const* const images = av_guess_format("image2", nullptr, nullptr);
    QByteArray const name = QFile::encodeName(file.path);
    AVCodecID const id =
        images ? av_guess_codec(images, nullptr, name.constData(), nullptr, AVMEDIA_TYPE_VIDEO) : AV_CODEC_ID_NONE;
    AVCodec const* const codec = id != AV_CODEC_ID_NONE ? avcodec_find_decoder(id) : nullptr;
    if (!codec)
    {
        return false;
    }
    // Only a regular file, as for the demuxer: a FIFO would block the read.
    QString reason;
    int const descriptor = UserFileGuard::OpenDescriptor(file.path, MAXIMUM_WHOLE_FILE_SIZE, reason);
    if (descriptor < 0)
    {
        return false;
    }
    struct stat status {};
    bool read = fstat(descriptor, &status) == 0 && status.st_size > 0 && status.st_size <= MAXIMUM_WHOLE_FILE_SIZE &&
                av_new_packet(file.packet, static_cast<int>(status.st_size)) == 0;
    // One read, straight into the packet the decoder takes (a file being
    // written may end short of the size it had: it is read as it is).
    qint64 filled = 0;
    while (read && filled < file.packet->size)
    {
        ssize_t const got = ::pread(descriptor, file.packet->data + filled,
                                    static_cast<size_t>(file.packet->size - filled), static_cast<off_t>(filled));
        if (got < 0 && errno == EINTR)
        {
            continue;
        }
        read = got >= 0;
        if (got <= 0)
        {
            break;
        }
        filled += got;
    }
    ::close(descriptor);
    if (!read || filled <= 0)
    {
        av_packet_unref(file.packet);
        return false;
    }
    av_shrink_packet(file.packet, static_cast<int>(filled));
    file.packet->stream_index = 0;
    // A picture of its own, as the demuxer marks it: some image decoders take
    // a picture without the mark as a difference from the one before.
    file.packet->flags |= AV_PKT_FLAG_KEY;
    file.streamIndex = 0;
    file.codec = codec;
    return true;
}

ImageSequenceDecoderWorker::ImageSequenceDecoderWorker(int id, DecodeSettings const& settings, QObject* parent)
    : QObject(parent)
    , mId(id)
    , mSettings(settings)
    , mCodecParameters(avcodec_parameters_alloc())
    , mPicture(av_frame_alloc())
    , mWholeFileParameters(avcodec_parameters_alloc())
{
}

ImageSequenceDecoderWorker::~ImageSequenceDecoderWorker()
{
    CloseDecoder();
    avcodec_parameters_free(&mCodecParameters);
    avcodec_parameters_free(&mWholeFileParameters);
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
    bool const known = file.parsed && !file.videoStreams.isEmpty();
    if (!opened || opened->path != file.filePath)
    {
        opened = OpenFile(file.filePath, known);
    }
    if (!opened->input && opened->errorCode == 0)
    {
        // Read whole: a picture of it or, when it gives none (damaged, or not
        // what its suffix says), the demuxer's account of it.
        if (DecodeWholeFile(*opened))
        {
            ConvertPicture(file, forExport, AVRational {1, AV_TIME_BASE});
            return;
        }
        opened = OpenFile(file.filePath);
    }
    AVStream const* const stream = opened->errorCode == 0 ? opened->input->streams[opened->streamIndex] : nullptr;
    if (stream && !PrepareDecoder(stream->codecpar, stream->time_base, opened->codec))
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
        if (!AvParser::FillVideoStreamInfo(info, input, streamIndex, mCodecContext, codec, true, name, name, mSettings))
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
    ConvertPicture(file, forExport, input->streams[streamIndex]->time_base);
}

bool ImageSequenceDecoderWorker::DecodeWholeFile(OpenedFile& file)
{
    if (!mWholeFileParameters)
    {
        return false;
    }
    mWholeFileParameters->codec_type = AVMEDIA_TYPE_VIDEO;
    mWholeFileParameters->codec_id = file.codec->id;
    return PrepareDecoder(mWholeFileParameters, AVRational {1, AV_TIME_BASE}, file.codec) && DecodePicture(file);
}

void ImageSequenceDecoderWorker::ConvertPicture(SourceFileInfo& file, bool forExport, AVRational timeBase)
{
    Logger* logger = Logger::GetInstance();
    QString const name = QFileInfo(file.filePath).fileName();
    if (!mConverter)
    {
        mConverter = new VideoDecodeWorker(-1, forExport, mSettings.hardwareRendering);
    }
    VideoDecodingData* data = mConverter->DecodingData();
    data->frames.clear();
    data->streamInfo = &file.videoStreams.first();
    data->timeBase = timeBase;
    data->imageAlignment = VideoDecoder::IMAGE_ALIGNMENT;
    data->framePixelFormat = VideoDecoder::OutputFormat(file.videoStreams.constFirst(), mSettings);
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

bool ImageSequenceDecoderWorker::PrepareDecoder(AVCodecParameters const* parameters, AVRational timeBase,
                                                AVCodec const* codec)
{
    if (mCodecContext && mCodecContext->codec == codec && SameDecoderParameters(mCodecParameters, parameters))
    {
        return true;
    }
    CloseDecoder();
    mCodecContext = avcodec_alloc_context3(codec);
    if (!mCodecContext || avcodec_parameters_to_context(mCodecContext, parameters) < 0 ||
        avcodec_parameters_copy(mCodecParameters, parameters) < 0)
    {
        CloseDecoder();
        return false;
    }
    mCodecContext->pkt_timebase = timeBase;
    AvDecoderBase::PrepareVideoCodecContext(mCodecContext, codec, true, false, mSettings);
    StillImageDecodeWatch::PrepareContext(mCodecContext);
    if (avcodec_open2(mCodecContext, codec, nullptr) < 0)
    {
        CloseDecoder();
        return false;
    }
    mWatch.Attach(mCodecContext);
    return true;
}

void ImageSequenceDecoderWorker::CloseDecoder()
{
    avcodec_free_context(&mCodecContext);
}

bool ImageSequenceDecoderWorker::DecodePicture(OpenedFile& file)
{
    // The picture's packets, kept until it is known whether the decode left
    // pixels unwritten: the first was read with the file (a file read whole
    // is that one packet).
    QList<AVPacket*> packets;
    if (file.packet->size > 0)
    {
        packets << av_packet_clone(file.packet);
    }
    av_packet_unref(file.packet);
    bool damaged = false;
    bool decoded = false;
    while (!packets.contains(nullptr))
    {
        if (!packets.isEmpty() && DecodePackets(packets, false, damaged))
        {
            decoded = true;
            break;
        }
        // A decoder that wants more for its picture is sent the next packet
        // after those before.
        AVPacket* const next = file.input ? ReadStreamPacket(file.input, file.streamIndex) : nullptr;
        if (!next)
        {
            break;
        }
        packets << next;
    }
    if (decoded && damaged)
    {
        // Where the decoder stopped, the rest of the picture must be black,
        // not what the reused buffer held: once more into a cleared one.
        av_frame_unref(mPicture);
        bool again = false;
        decoded = DecodePackets(packets, true, again);
    }
    for (AVPacket* packet : packets)
    {
        av_packet_free(&packet);
    }
    return decoded;
}

bool ImageSequenceDecoderWorker::DecodePackets(QList<AVPacket*> const& packets, bool clear, bool& damaged)
{
    // From a decoder that holds nothing: the same packets give the same picture.
    avcodec_flush_buffers(mCodecContext);
    mWatch.Begin(clear);
    bool decoded = false;
    bool refused = false;
    for (AVPacket* packet : packets)
    {
        int const sent = avcodec_send_packet(mCodecContext, packet);
        if (sent < 0 && sent != AVERROR(EAGAIN))
        {
            refused = true;
            break;
        }
        if (avcodec_receive_frame(mCodecContext, mPicture) == 0)
        {
            decoded = true;
            break;
        }
    }
    if (!decoded)
    {
        // What the decoder may still hold (a drained decoder takes no more
        // packets until it is flushed).
        avcodec_send_packet(mCodecContext, nullptr);
        decoded = avcodec_receive_frame(mCodecContext, mPicture) == 0;
    }
    damaged = mWatch.End(decoded ? mPicture : nullptr) || refused;
    // Ready for the next file.
    avcodec_flush_buffers(mCodecContext);
    return decoded;
}
