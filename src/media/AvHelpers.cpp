#include "media/AvHelpers.h"

#include "media/FfmpegLog.h"
#include "media/MediaInput.h"

#include "app/Settings.h"

#include <QAudioDevice>
#include <QByteArray>

#include <algorithm>
#include <vector>
#include <QMediaDevices>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

namespace
{
int const OUTPUT_BYTES_PER_SAMPLE = av_get_bytes_per_sample(AV_SAMPLE_FMT_FLT);
} // namespace

long long AvHelpers::AvGetTime()
{
    return av_gettime_relative();
}

double AvHelpers::FrameRateToFrameStep(double frameRate)
{
    return 1.0 / frameRate * 1e6;
}

int AvHelpers::AudioOutputMaxChannelCount()
{
    return QMediaDevices::defaultAudioOutput().maximumChannelCount();
}

AVSampleFormat AvHelpers::AudioOutputSampleFormat()
{
    return AV_SAMPLE_FMT_FLT;
}

int AvHelpers::AudioOutputBytesPerSample()
{
    return OUTPUT_BYTES_PER_SAMPLE;
}

long long AvHelpers::AudioOutputFrameSize(AudioOutputFormat const& format)
{
    return static_cast<long long>(OUTPUT_BYTES_PER_SAMPLE) * format.channelCount;
}

long long AvHelpers::AudioOutputSizeForDuration(long long duration, AudioOutputFormat const& format)
{
    auto const samples = static_cast<long long>(format.sampleRate * (duration / 1e6));
    return samples * AudioOutputFrameSize(format);
}

long long AvHelpers::AudioOutputDurationForSize(long long size, AudioOutputFormat const& format)
{
    // 64-bit sample count: an hour of audio already passes 2^31 bytes.
    long long const samples = size / AudioOutputFrameSize(format);
    return static_cast<long long>(static_cast<double>(samples) / format.sampleRate * 1e6);
}

long long AvHelpers::AudioOutputSamplesPerChannel(long long size, AudioOutputFormat const& format)
{
    return size / AudioOutputFrameSize(format);
}

long long AvHelpers::AudioOutputSizeForDuration(long long duration)
{
    return AudioOutputSizeForDuration(duration, AudioOutputFormat::FromSettings());
}

long long AvHelpers::AudioOutputDurationForSize(long long size)
{
    return AudioOutputDurationForSize(size, AudioOutputFormat::FromSettings());
}

long long AvHelpers::AudioOutputSamplesPerChannel(long long size)
{
    return AudioOutputSamplesPerChannel(size, AudioOutputFormat::FromSettings());
}

bool AvHelpers::CanOpenInput(QString const& path)
{
    AVFormatContext* context = nullptr;
    MediaInput input;
    int const result = input.Open(&context, path);
    if (result < 0)
    {
        return false;
    }
    input.Close(&context);
    return true;
}

QString AvHelpers::ErrorText(int error)
{
    // An unknown code gets a text that names its number.
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof(text));
    return QString::fromUtf8(text);
}

int AvHelpers::FindStreamInfo(AVFormatContext* context)
{
    return FindStreamInfo(context, Settings::cacheSize);
}

int AvHelpers::FindStreamInfo(AVFormatContext* context, int cacheMegabytes)
{
    unsigned int const streamCount = context->nb_streams;
    std::vector<AVDictionary*> options(std::max(streamCount, 1U), nullptr);
    QByteArray const maxPixels = QByteArray::number(MaximumPicturePixels(cacheMegabytes));
    for (unsigned int s = 0; s < streamCount; ++s)
    {
        av_dict_set(&options[s], "max_pixels", maxPixels.constData(), 0);
    }
    int result = 0;
    {
        // Its decoders start wherever the file does: what they cannot
        // decode before a key picture is no news (the parse reports a failure).
        FfmpegLog::ThreadQuiet const quiet;
        result = avformat_find_stream_info(context, streamCount > 0 ? options.data() : nullptr);
    }
    for (AVDictionary*& dictionary : options)
    {
        av_dict_free(&dictionary);
    }
    return result;
}

long long AvHelpers::MaximumPicturePixels()
{
    return MaximumPicturePixels(Settings::cacheSize);
}

long long AvHelpers::MaximumPicturePixels(int cacheMegabytes)
{
    long long const cacheBytes = std::max(cacheMegabytes, 1) * 1024LL * 1024LL;
    return std::max(cacheBytes / 4, 1LL);
}
