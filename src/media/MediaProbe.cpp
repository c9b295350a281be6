#include "media/MediaProbe.h"

#include "media/AvHelpers.h"
#include "media/MediaInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

namespace
{
QString ErrorText(int error)
{    if (error == MediaInput::FORMAT_REFUSED)
    {
        return QStringLiteral("not a media format the player reads");
    }
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof(text));
    return QString::fromUtf8(text);
}

void SetReason(QString* reason, QString const& text)
{
    if (reason)
    {
        *reason = text;
    }
}
} // namespace

bool MediaProbe::HasStreamWithDecoder(QString const& path, QString* reason, std::function<bool()> stopRequested)
{
    if (!MediaInput::IsRegularFile(path))
    {
        SetReason(reason, QStringLiteral("not a regular file"));
        return false;
    }
    MediaInput input;
    input.SetStopQuery(std::move(stopRequested));
    AVFormatContext* context = nullptr;
    int const opened = input.Open(&context, path);
    if (opened < 0)
    {
        SetReason(reason, ErrorText(opened));
        return false;
    }

    int const found = AvHelpers::FindStreamInfo(context);
    input.EndOpening();

    bool decodable = false;
    if (found < 0)
    {
        SetReason(reason, ErrorText(found));
    }
    else
    {
        for (unsigned int s = 0; s < context->nb_streams && !decodable; ++s)
        {
            AVStream const* const stream = context->streams[s];
            AVMediaType const type = stream->codecpar->codec_type;
            decodable = !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
                        (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) &&
                        avcodec_find_decoder(stream->codecpar->codec_id) != nullptr;
        }
        if (!decodable)
        {
            SetReason(reason, QStringLiteral("no decodable audio or video stream"));
        }
    }
    input.Close(&context);
    return decodable;
}
