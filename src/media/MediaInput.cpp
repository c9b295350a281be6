#include "media/MediaInput.h"

#include <QFile>
#include <qplatformdefs.h>

extern "C" {
#include <libavutil/time.h>
}

void MediaInput::SetStopQuery(std::function<bool()> stopRequested)
{
    mStopRequested = std::move(stopRequested);
}

int MediaInput::Open(AVFormatContext** context, QString const& path)
{
    if (!IsRegularFile(path))
    {
        return AVERROR(EINVAL);
    }
    *context = avformat_alloc_context();
    if (!*context)
    {
        return AVERROR(ENOMEM);
    }
    (*context)->interrupt_callback.callback = &MediaInput::Interrupted;
    (*context)->interrupt_callback.opaque = this;
    mDeadline = av_gettime_relative() + OPEN_DEADLINE_MS * 1000LL;
    QByteArray const utf8 = path.toUtf8();
    // Frees the context and nulls it on failure.
    return avformat_open_input(context, utf8.constData(), nullptr, nullptr);
}

void MediaInput::EndOpening()
{
    mDeadline = 0;
}

bool MediaInput::IsRegularFile(QString const& path)
{
    QT_STATBUF info;
    return !path.isEmpty() && QT_STAT(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
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
