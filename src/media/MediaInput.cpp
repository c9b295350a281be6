#include "media/MediaInput.h"

#include "app/UserFileGuard.h"

#include <QFile>
#include <qplatformdefs.h>

#include <cerrno>
#include <limits>

#include <unistd.h>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/time.h>
}

namespace
{
// The reading context's buffer, as large as FFmpeg's own for a file.
constexpr int IO_BUFFER_SIZE = 32768;
} // namespace

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
    auto* buffer = static_cast<unsigned char*>(av_malloc(IO_BUFFER_SIZE));
    mIo = buffer ? avio_alloc_context(buffer, IO_BUFFER_SIZE, 0, this, &MediaInput::ReadPacket, nullptr,
                                      &MediaInput::Seek)
                 : nullptr;
    *context = mIo ? avformat_alloc_context() : nullptr;
    if (!*context)
    {
        if (!mIo)
        {
            av_free(buffer);
        }
        Release();
        return AVERROR(ENOMEM);
    }
    (*context)->pb = mIo;
    (*context)->interrupt_callback.callback = &MediaInput::Interrupted;
    (*context)->interrupt_callback.opaque = this;
    mDeadline = av_gettime_relative() + OPEN_DEADLINE_MS * 1000LL;
    // The path still names the input (the demuxers guess from its suffix);
    // it is not opened again.
    QByteArray const utf8 = path.toUtf8();
    // Frees the context and nulls it on failure.
    int const result = avformat_open_input(context, utf8.constData(), nullptr, nullptr);
    if (result < 0)
    {
        Release();
    }
    return result;
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
