#include "media/MediaProbe.h"

#include "media/AvHelpers.h"
#include "media/MediaInput.h"

#include <QByteArray>

#include <algorithm>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

namespace
{
QString ErrorText(int error)
{
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

bool MediaProbe::HasDecodableStream(QString const& path, QString* reason)
{
    if (!MediaInput::IsRegularFile(path))
    {
        SetReason(reason, QStringLiteral("not a regular file"));
        return false;
    }
    MediaInput input;
    AVFormatContext* context = nullptr;
    int const opened = input.Open(&context, path);
    if (opened < 0)
    {
        SetReason(reason, ErrorText(opened));
        return false;
    }

    // As the parser does: a header claiming a picture too large for the cache
    // must not make the stream search allocate one.
    unsigned int const streamCount = context->nb_streams;
    std::vector<AVDictionary*> options(std::max(streamCount, 1U), nullptr);
    QByteArray const maxPixels = QByteArray::number(AvHelpers::MaximumPicturePixels());
    for (unsigned int s = 0; s < streamCount; ++s)
    {
        av_dict_set(&options[s], "max_pixels", maxPixels.constData(), 0);
    }
    int const found = avformat_find_stream_info(context, streamCount > 0 ? options.data() : nullptr);
    for (AVDictionary*& dictionary : options)
    {
        av_dict_free(&dictionary);
    }
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
    avformat_close_input(&context);
    return decodable;
}
