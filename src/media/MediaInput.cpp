#include "media/MediaInput.h"

#include "app/UserFileGuard.h"

#include <QFile>
#include <qplatformdefs.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include <unistd.h>

extern "C" {
#include <libavutil/avstring.h>
#include <libavutil/mem.h>
#include <libavutil/time.h>
}

namespace
{
// The reading context's buffer, as large as FFmpeg's own for a file.
constexpr int IO_BUFFER_SIZE = 32768;
} // namespace

// The containers of the player's media extensions (movies, sound, single
// images), by the names libavformat gives its demuxers. A name with several
// parts ("mov,mp4,m4a,3gp,3g2,mj2") is allowed by any one of them.
char const* const MediaInput::FORMAT_WHITELIST =
    "mov,matroska,mpegts,mpeg,mpegvideo,avi,asf,flv,mxf,ivf,obu,h264,hevc,m4v,"
    "wav,w64,aiff,mp3,flac,ogg,aac,"
    "image2,png_pipe,jpeg_pipe,exr_pipe,dpx_pipe,tiff_pipe,sgi_pipe";

MediaInput::~MediaInput()
{
    Release();
}

void MediaInput::SetStopQuery(std::function<bool()> stopRequested)
{
    mStopRequested = std::move(stopRequested);
}

int MediaInput::Open(AVFormatContext** context, QString const& path)
{
    Release();
    int const opened = OpenReader(path);
    if (opened < 0)
    {
        return opened;
    }
    *context = avformat_alloc_context();
    if (*context)
    {
        (*context)->format_whitelist = av_strdup(FORMAT_WHITELIST);
        (*context)->protocol_whitelist = av_strdup("file");
    }
    if (!*context || !(*context)->format_whitelist || !(*context)->protocol_whitelist)
    {
        avformat_free_context(*context);
        *context = nullptr;
        Release();
        return AVERROR(ENOMEM);
    }
    (*context)->pb = mIo;
    (*context)->opaque = this;
    (*context)->io_open = &MediaInput::NestedOpen;
    (*context)->io_close2 = &MediaInput::NestedClose;
    (*context)->interrupt_callback.callback = &MediaInput::Interrupted;
    (*context)->interrupt_callback.opaque = this;
    mDeadline = av_gettime_relative() + OPEN_DEADLINE_MS * 1000LL;
    // The path still names the input (the demuxers guess from its suffix);
    // it is not opened again but by a demuxer that reads files by name (an
    // image's), and then through the guarded open.
    mPath = path.toUtf8();
    // The format is found as libavformat would, but one off the list is
    // told apart from unreadable data.
    AVInputFormat const* format = nullptr;
    int const probed = av_probe_input_buffer2(mIo, &format, mPath.constData(), *context, 0, 0);
    if (probed >= 0 && format && av_match_list(format->name, FORMAT_WHITELIST, ',') <= 0)
    {
        avformat_free_context(*context);
        *context = nullptr;
        Release();
        return FORMAT_REFUSED;
    }
    // Frees the context and nulls it on failure.
    int const result = probed < 0 ? probed : avformat_open_input(context, mPath.constData(), format, nullptr);
    if (probed < 0)
    {
        avformat_free_context(*context);
        *context = nullptr;
    }
    if (result < 0)
    {
        Release();
    }
    return result;
}

int MediaInput::OpenReader(QString const& path)
{
    QString reason;
    errno = 0;
    mDescriptor = path.isEmpty() ? -1
                                 : UserFileGuard::OpenDescriptor(path, std::numeric_limits<qint64>::max(), reason);
    if (mDescriptor < 0)
    {
        // Why a regular file did not open (its permissions); anything else is
        // refused as no regular file.
        int const error = errno;
        return error != 0 && IsRegularFile(path) ? AVERROR(error) : AVERROR(EINVAL);
    }
    mPosition = 0;
    mDataEnd = -1;
    auto* buffer = static_cast<unsigned char*>(av_malloc(IO_BUFFER_SIZE));
    mIo = buffer ? avio_alloc_context(buffer, IO_BUFFER_SIZE, 0, this, &MediaInput::ReadPacket, nullptr,
                                      &MediaInput::Seek)
                 : nullptr;
    if (!mIo)
    {
        av_free(buffer);
        Release();
        return AVERROR(ENOMEM);
    }
    return 0;
}

int MediaInput::NestedOpen(AVFormatContext* context, AVIOContext** io, char const* url, int flags,
                           AVDictionary** /*options*/)
{
    auto const* input = static_cast<MediaInput const*>(context->opaque);
    // A list's entries, a pattern's other files and anything written are
    // refused: they would be opened by a name the user never chose.
    if (!input || !url || (flags & AVIO_FLAG_WRITE) || input->mPath != url)
    {
        av_log(context, AV_LOG_ERROR, "Refused to open another input than the file itself\n");
        return AVERROR(EPERM);
    }
    auto* nested = new MediaInput;
    nested->mStopRequested = input->mStopRequested;
    nested->mDeadline = input->mDeadline.load();
    nested->mPath = input->mPath;
    int const result = nested->OpenReader(QString::fromUtf8(input->mPath));
    if (result < 0)
    {
        delete nested;
        return result;
    }
    *io = nested->mIo;
    return 0;
}

int MediaInput::NestedClose(AVFormatContext* context, AVIOContext* io)
{
    // Only opens of NestedOpen reach here: the input's own reading context is
    // freed by Close.
    auto* input = static_cast<MediaInput*>(context->opaque);
    if (!io || (input && io == input->mIo))
    {
        return 0;
    }
    delete static_cast<MediaInput*>(io->opaque);
    return 0;
}

void MediaInput::EndOpening()
{
    mDeadline = 0;
}

void MediaInput::Close(AVFormatContext** context)
{
    avformat_close_input(context);
    Release();
}

int MediaInput::Descriptor() const
{
    return mDescriptor;
}

void MediaInput::SetDataEnd(long long end)
{
    mDataEnd = end;
}

bool MediaInput::IsRegularFile(QString const& path)
{
    QT_STATBUF info;
    return !path.isEmpty() && QT_STAT(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

void MediaInput::Release()
{
    if (mIo)
    {
        av_freep(&mIo->buffer);
        avio_context_free(&mIo);
    }
    if (mDescriptor >= 0)
    {
        QT_CLOSE(mDescriptor);
        mDescriptor = -1;
    }
}

int MediaInput::Interrupted(void* opaque)
{
    auto const* input = static_cast<MediaInput const*>(opaque);
    long long const deadline = input->mDeadline;
    if (deadline > 0 && av_gettime_relative() > deadline)
    {
        return 1;
    }
    return input->mStopRequested && input->mStopRequested() ? 1 : 0;
}

int MediaInput::ReadPacket(void* opaque, uint8_t* buffer, int size)
{
    auto* input = static_cast<MediaInput*>(opaque);
    // As FFmpeg's own file reading does: every read asks the interrupt first.
    if (Interrupted(opaque))
    {
        return AVERROR_EXIT;
    }
    if (input->mDataEnd >= 0)
    {
        size = static_cast<int>(std::clamp<long long>(input->mDataEnd - input->mPosition, 0, size));
        if (size == 0)
        {
            return AVERROR_EOF;
        }
    }
    ssize_t read = 0;
    do
    {
        read = ::pread(input->mDescriptor, buffer, static_cast<size_t>(size), input->mPosition);
    } while (read < 0 && errno == EINTR);
    if (read < 0)
    {
        return AVERROR(errno);
    }
    if (read == 0)
    {
        return AVERROR_EOF;
    }
    input->mPosition += read;
    return static_cast<int>(read);
}

int64_t MediaInput::Seek(void* opaque, int64_t offset, int whence)
{
    auto* input = static_cast<MediaInput*>(opaque);
    QT_STATBUF info;
    bool const known = QT_FSTAT(input->mDescriptor, &info) == 0;
    if (known && input->mDataEnd >= 0)
    {
        info.st_size = std::min<long long>(info.st_size, input->mDataEnd);
    }
    if (whence & AVSEEK_SIZE)
    {
        return known ? static_cast<int64_t>(info.st_size) : AVERROR(errno);
    }
    long long position = 0;
    switch (whence & ~AVSEEK_FORCE)
    {
    case SEEK_SET:
        position = offset;
        break;
    case SEEK_CUR:
        position = input->mPosition + offset;
        break;
    case SEEK_END:
        if (!known)
        {
            return AVERROR(errno);
        }
        position = info.st_size + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (position < 0)
    {
        return AVERROR(EINVAL);
    }
    input->mPosition = position;
    return position;
}
