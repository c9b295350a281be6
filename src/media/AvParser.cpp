#include "media/AvParser.h"

#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AudioDecoder.h"
#include "media/AvHelpers.h"
#include "media/FfmpegCompat.h"
#include "media/FfmpegLog.h"
#include "media/TsTimestampScan.h"
#include "media/VideoDecoder.h"
#include "model/Source.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace
{

QString NameOrEmpty(char const* name)
{
    return name ? QString::fromUtf8(name) : QString();
}

} // namespace

AvParser::AvParser(QObject* parent)
    : AvParser(DecodeSettings::FromSettings(), parent)
{
}

AvParser::AvParser(DecodeSettings const& settings, QObject* parent)
    : AvDecoderBase(settings, parent)
{
}

AvParser::~AvParser()
{
    DropTimestampScan();
}

std::unique_ptr<TsRestartCheck> AvParser::TakeRestartCheck()
{
    return std::move(mRestartCheck);
}

bool AvParser::OpenStreamByInfoIndex(int fileIndex, int infoIndex)
{
    return false;
}

void AvParser::Parse(Source* source, int fileIndex)
{
    if (!source)
    {
        return;
    }
    mSource = source;
    ParseFile(fileIndex);
    FinishParse();
}

void AvParser::ParseMedia(Source* source)
{
    if (!source)
    {
        return;
    }
    if (!source->IsImageSequence())
    {
        Parse(source, 0);
        return;
    }
    mSource = source;
    // Missing files are known from the start; an unreadable one is tried and
    // keeps its error, like any other file of the sequence.
    bool described = false;
    bool anyExists = false;
    for (int i = 0; i < source->FileCount() && !described; ++i)
    {
        if (!source->FileExists(i))
        {
            continue;
        }
        anyExists = true;
        ParseFile(i);
        CloseInput();
        VideoStreamInfo const* video = source->VideoStreamInfoAtIndex(i, 0);
        described = video && video->parsed;
    }
    if (!anyExists)
    {
        // Nothing to read: the first file's error is the source's.
        ParseFile(0);
    }
    FinishParse();
}

void AvParser::SetVideoTimesFromPackets(bool fromPackets)
{
    mVideoTimesFromPackets = fromPackets;
}

void AvParser::ParseFile(int fileIndex)
{
    ParseSource(fileIndex);

    SourceFileInfo const* file = mSource->FileInfoAtIndex(fileIndex);
    if (file && file->parsed)
    {
        if (mSettings.decodeExtraStreamInfoOnParse)
        {
            // The passes read damaged data as readily as good: whether
            // anything decoded is told below, not by every failed packet.
            FfmpegLog::ThreadQuiet const quiet;
            AudioDecoder::DecodeExtraStreamInfo(mSource);
            VideoDecoder::DecodeExtraStreamInfo(mSource, mVideoTimesFromPackets);
            ApplyStreamTiming(fileIndex);
        }
        if (!HasAudioOrDecodedPicture(fileIndex))
        {
            SetFileError(fileIndex, 2);
            Logger::GetInstance()->Error(
                QStringLiteral("No decodable audio or video stream in \"%1\"").arg(mSource->FileName(fileIndex)));
        }
    }
}

void AvParser::FinishParse()
{
    Source* const source = mSource;
    DropTimestampScan();
    bool const wasParsed = source->IsParsed();
    source->SetParsed(true);
    if (wasParsed)
    {
        emit source->Updated();
    }
    else
    {
        emit source->Parsed();
    }
    CloseSource();
}

void AvParser::ParseSource(int fileIndex)
{
    mRestartCheck.reset();
    SourceFileInfo* file = mSource ? mSource->FileInfoAtIndex(fileIndex) : nullptr;
    if (file)
    {
        // A file parsed again is read afresh, not appended to.
        file->parsed = false;
        file->errorCode = 0;
        file->metadata.clear();
        file->audioStreams.clear();
        file->videoStreams.clear();
    }
    if (!OpenInput(fileIndex))
    {
        if (file)
        {
            SetFileError(fileIndex, OpenErrorCode());
        }
        return;
    }

    StartTimestampScan(fileIndex);
    if (!mScannedPids.empty() && TsTimestampScan::StartsUntimed(mInput.Descriptor(), mScannedPids))
    {
        // Looking for the last timestamp, the demuxer would read the end of
        // the file over and over, in ever longer reads.
        mFormatContext->skip_estimate_duration_from_pts = 1;
    }
    int const result = AvHelpers::FindStreamInfo(mFormatContext, mSettings.cacheSize);
    mInput.EndOpening();
    if (result < 0)
    {
        DropTimestampScan();
        CloseInput();
        SetFileError(fileIndex, 4);
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to find stream information for \"%1\"").arg(mSource->FileName(fileIndex)), result);
        return;
    }

    if (!mSource->IsImageSequence())
    {
        long long const duration = mFormatContext->duration;
        long long const value = duration >= 1 ? duration - 1 : -1;
        mSource->SetDuration(value);
        mSource->SetParsedContainerDuration(value);
    }
    ParseMetadata(mFormatContext->metadata, file->metadata);

    for (unsigned int s = 0; s < mFormatContext->nb_streams; ++s)
    {
        AVStream const* stream = mFormatContext->streams[s];
        // Cover art is a picture attached to the file, not a video stream: a
        // one-frame "video" would cut the source to a single frame.
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
        {
            continue;
        }
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
        {
            file->videoStreams.append(VideoStreamInfo());
            ParseVideoProperties(fileIndex, static_cast<int>(s));
        }
        else if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
        {
            file->audioStreams.append(AudioStreamInfo());
            ParseAudioProperties(fileIndex, static_cast<int>(s));
        }
    }

    FindTimestampRestarts(fileIndex);
    file->parsed = true;
    mSource->SetErrorCode(0);
}

void AvParser::StartTimestampScan(int fileIndex)
{
    DropTimestampScan();
    if (mSource->IsImageSequence() || std::strcmp(mFormatContext->iformat->name, "mpegts") != 0)
    {
        return;
    }
    // The program tables read on opening give the video PIDs; a stream found
    // only later is demuxed.
    for (unsigned int s = 0; s < mFormatContext->nb_streams; ++s)
    {
        AVStream const* stream = mFormatContext->streams[s];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
        {
            mScannedPids.push_back(stream->id);
        }
    }
    if (mScannedPids.empty())
    {
        return;
    }
    // The scan reads the file the demuxer has open, through a descriptor of
    // its own: the path may name another file by now, or a FIFO.
    int const descriptor = ::fcntl(mInput.Descriptor(), F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0)
    {
        mScannedPids.clear();
        return;
    }
    // The input's own interrupt stops the scan as it stops a read.
    AVIOInterruptCB const interrupt = mFormatContext->interrupt_callback;
    std::atomic<bool> const* stop = &mTimestampScanStop;
    mTimestampScanStop = false;
    mTimestampScanSpotted = std::make_shared<bool>(false);
    mTimestampScan = std::async(std::launch::async, [descriptor, pids = mScannedPids, interrupt, stop,
                                                     spotted = mTimestampScanSpotted] {
        std::vector<TsTimestampScan::Verdict> verdicts = TsTimestampScan::Scan(
            descriptor, pids,
            [interrupt, stop] {
                return stop->load() || (interrupt.callback && interrupt.callback(interrupt.opaque) != 0);
            },
            0, spotted.get());
        ::close(descriptor);
        return verdicts;
    });
}

void AvParser::DropTimestampScan()
{
    if (mTimestampScan.valid())
    {
        mTimestampScanStop = true;
        mTimestampScan.wait();
        mTimestampScan = {};
    }
    mScannedPids.clear();
}

void AvParser::FindTimestampRestarts(int fileIndex)
{
    mRestartCheck.reset();
    SourceFileInfo* file = mSource->FileInfoAtIndex(fileIndex);
    if (mSource->IsImageSequence() || !(mFormatContext->iformat->flags & AVFMT_TS_DISCONT))
    {
        return;
    }
    unsigned int const streamCount = mFormatContext->nb_streams;
    std::vector<bool> wanted(streamCount, false);
    std::vector<bool> restarts(streamCount, false);
    // The decoding timestamps of each stream's last two packets, in its
    // time base.
    std::vector<std::array<long long, 2>> last(streamCount, {AV_NOPTS_VALUE, AV_NOPTS_VALUE});
    // Where a stream's timestamps last leapt forward to, until its next packet.
    std::vector<long long> leapt(streamCount, AV_NOPTS_VALUE);
    // Packets of each stream without a timestamp before its first one with.
    std::vector<int> untimedPackets(streamCount, 0);
    std::vector<bool> timed(streamCount, false);
    int remaining = 0;
    for (VideoStreamInfo const& video : file->videoStreams)
    {
        if (video.streamIndex >= 0 && static_cast<unsigned int>(video.streamIndex) < streamCount)
        {
            wanted[video.streamIndex] = true;
            ++remaining;
        }
    }
    if (remaining == 0)
    {
        DropTimestampScan();
        return;
    }
    // Steady streams are cleared by the scan of the transport stream's own
    // packet headers; only the rest are demuxed.
    if (mTimestampScan.valid())
    {
        remaining = TakeTimestampScanVerdicts(wanted, remaining);
        if (remaining == 0)
        {
            return;
        }
    }
    // The other streams' packets are not even read out.
    for (unsigned int s = 0; s < streamCount; ++s)
    {
        mFormatContext->streams[s]->discard = wanted[s] ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    AVPacket* packet = av_packet_alloc();
    while (packet && remaining > 0 && av_read_frame(mFormatContext, packet) >= 0)
    {
        int const index = packet->stream_index;
        long long const timestamp = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        bool const open = index >= 0 && static_cast<unsigned int>(index) < streamCount && wanted[index] &&
                          !restarts[index] && (timed[index] || untimedPackets[index] < UNTIMED_PACKETS);
        if (open && timestamp == AV_NOPTS_VALUE && !timed[index] && ++untimedPackets[index] == UNTIMED_PACKETS)
        {
            // Its first packets carry no timestamp: neither do the rest, or
            // too few to time its pictures by.
            --remaining;
        }
        if (open && timestamp != AV_NOPTS_VALUE)
        {
            timed[index] = true;
            // Decoding timestamps never go back within one recording. Jitter
            // of up to a tenth of a second is no restart, and neither is the
            // return after one corrupt timestamp far ahead: a restart goes
            // back before both packets before it.
            long long const slack =
                av_rescale_q(AV_TIME_BASE / 10, AV_TIME_BASE_Q, mFormatContext->streams[index]->time_base);
            std::array<long long, 2>& previous = last[index];
            long long const reference = previous[1] == AV_NOPTS_VALUE ? previous[0] : std::min(previous[0], previous[1]);
            // A leap forward further than a recording pauses, from which the
            // timestamps go on (a splice into a later recording), is a
            // restart too; one corrupt timestamp far ahead is followed by a
            // return.
            long long const leap =
                av_rescale_q(TIMESTAMP_LEAP, AV_TIME_BASE_Q, mFormatContext->streams[index]->time_base);
            bool const leapKept = leapt[index] != AV_NOPTS_VALUE && timestamp >= leapt[index] - slack;
            if ((reference != AV_NOPTS_VALUE && timestamp < reference - slack) || leapKept)
            {
                restarts[index] = true;
                --remaining;
            }
            leapt[index] = previous[0] != AV_NOPTS_VALUE && timestamp > previous[0] + leap ? timestamp : AV_NOPTS_VALUE;
            previous = {timestamp, previous[0]};
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    MarkUntimedVideoStreams(fileIndex, wanted, restarts, timed, untimedPackets);
    bool const untimedPictures = std::any_of(file->videoStreams.cbegin(), file->videoStreams.cend(),
                                             [](VideoStreamInfo const& video) { return video.timestampsMissing; });
    if (!untimedPictures)
    {
        return;
    }
    DropUntimedAudioStreams(fileIndex);
}

int AvParser::TakeTimestampScanVerdicts(std::vector<bool>& wanted, int remaining)
{
    unsigned int const streamCount = mFormatContext->nb_streams;
    std::vector<TsTimestampScan::Verdict> const verdicts = mTimestampScan.get();
    bool const spotted = mTimestampScanSpotted && *mTimestampScanSpotted;
    std::vector<int> spottedPids;
    for (unsigned int s = 0; s < streamCount; ++s)
    {
        int const pid = mFormatContext->streams[s]->id;
        auto const scanned = std::find(mScannedPids.cbegin(), mScannedPids.cend(), pid);
        if (!wanted[s] || scanned == mScannedPids.cend())
        {
            continue;
        }
        // A PID shared with another stream is not one stream's alone.
        bool const shared = std::count_if(mFormatContext->streams, mFormatContext->streams + streamCount,
                                          [pid](AVStream const* other) { return other->id == pid; }) > 1;
        if (!shared &&
            verdicts[static_cast<size_t>(scanned - mScannedPids.cbegin())] == TsTimestampScan::Verdict::Steady)
        {
            wanted[s] = false;
            --remaining;
            spottedPids.push_back(pid);
        }
    }
    mScannedPids.clear();
    // A step back between the spots is left to a whole read behind the
    // parse, on the file the demuxer has open.
    int const descriptor = spotted && !spottedPids.empty() ? ::fcntl(mInput.Descriptor(), F_DUPFD_CLOEXEC, 0) : -1;
    if (descriptor >= 0)
    {
        mRestartCheck = std::make_unique<TsRestartCheck>(descriptor, std::move(spottedPids));
    }
    return remaining;
}

void AvParser::MarkUntimedVideoStreams(int fileIndex, std::vector<bool> const& wanted,
                                       std::vector<bool> const& restarts, std::vector<bool> const& timed,
                                       std::vector<int> const& untimedPackets)
{
    SourceFileInfo* file = mSource->FileInfoAtIndex(fileIndex);
    unsigned int const streamCount = mFormatContext->nb_streams;
    for (VideoStreamInfo& video : file->videoStreams)
    {
        bool const known = video.streamIndex >= 0 && static_cast<unsigned int>(video.streamIndex) < streamCount;
        if (known && wanted[video.streamIndex] && !timed[video.streamIndex] && untimedPackets[video.streamIndex] > 0)
        {
            video.timestampsMissing = true;
            Logger::GetInstance()->Warning(
                QStringLiteral("Video stream (%1) carries no timestamps: it is decoded from its start and its "
                               "pictures are timed by their number: %2")
                    .arg(video.streamIndex)
                    .arg(mSource->FileName(fileIndex)));
        }
        else if (known && restarts[video.streamIndex])
        {
            video.timestampsRestart = true;
            Logger::GetInstance()->Warning(
                QStringLiteral("Video stream (%1) timestamps restart midway: it is decoded from its start and its "
                               "pictures are timed by their number: %2")
                    .arg(video.streamIndex)
                    .arg(mSource->FileName(fileIndex)));
        }
    }
}

void AvParser::DropUntimedAudioStreams(int fileIndex)
{
    SourceFileInfo* file = mSource->FileInfoAtIndex(fileIndex);
    unsigned int const streamCount = mFormatContext->nb_streams;
    // Sound is placed and sought by its timestamps alone: sound without
    // any is left out, rather than searched for them through the whole
    // file again and again.
    for (qsizetype a = file->audioStreams.size() - 1; a >= 0; --a)
    {
        int const index = file->audioStreams.at(a).streamIndex;
        if (index >= 0 && static_cast<unsigned int>(index) < streamCount &&
            TsTimestampScan::StartsUntimed(mInput.Descriptor(), {mFormatContext->streams[index]->id}, 1))
        {
            Logger::GetInstance()->Warning(
                QStringLiteral("Audio stream (%1) carries no timestamps: it is left out: %2")
                    .arg(index)
                    .arg(mSource->FileName(fileIndex)));
            file->audioStreams.removeAt(a);
        }
    }
}

void AvParser::ParseAudioProperties(int fileIndex, int streamIndex)
{
    AudioStreamInfo& info = mSource->FileInfoAtIndex(fileIndex)->audioStreams.last();
    int const index = OpenAudioStream(streamIndex);
    if (index < 0)
    {
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to open audio stream at index %1 for parsing.").arg(streamIndex));
        return;
    }
    AVCodecContext const* context = mAudioCodecContext;
    if (!AudioDecoder::IsPlayableSampleRate(context->sample_rate))
    {
        // Resampled to the output rate, a stream claiming a handful of
        // samples a second would last hours and take gigabytes.
        Logger::GetInstance()->Error(QStringLiteral("Unsupported audio sample rate %1 Hz in stream %2 of \"%3\"")
                                         .arg(context->sample_rate)
                                         .arg(index)
                                         .arg(mSource->FileName(fileIndex)));
        CloseAudioStream();
        return;
    }
    info.streamIndex = index;
    info.codecName = mAudioCodec ? NameOrEmpty(mAudioCodec->name) : QString();
    info.channelCount = context->ch_layout.nb_channels;
    // Only a native layout is a bit mask; other orders hold a channel map.
    info.channelLayout = context->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? context->ch_layout.u.mask : 0;
    if (info.channelLayout == 0)
    {
        AVChannelLayout layout;
        av_channel_layout_default(&layout, info.channelCount);
        info.channelLayout = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
        av_channel_layout_uninit(&layout);
    }
    info.planar = av_sample_fmt_is_planar(context->sample_fmt) != 0;
    info.bytesPerSample = av_get_bytes_per_sample(context->sample_fmt);
    info.sampleRate = context->sample_rate;
    info.sampleFormat = context->sample_fmt;
    info.initialPadding = context->initial_padding;
    info.extradataSize = context->extradata_size;
    info.parsed = true;
    ParseMetadata(mFormatContext->streams[index]->metadata, info.metadata);
    CloseAudioStream();
}

void AvParser::ParseVideoProperties(int fileIndex, int streamIndex)
{
    VideoStreamInfo& info = mSource->FileInfoAtIndex(fileIndex)->videoStreams.last();
    int const index = OpenVideoStream(streamIndex);
    if (index < 0)
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to open video stream at index %1 for parsing: %2")
                                         .arg(streamIndex)
                                         .arg(mSource->MediaName()));
        return;
    }
    FillVideoStreamInfo(info, mFormatContext, index, mVideoCodecContext, mVideoCodec, mSource->IsImageSequence(),
                        mSource->FileName(fileIndex), mSource->MediaName(), mSettings);
    CloseVideoStream();
}

bool AvParser::FillVideoStreamInfo(VideoStreamInfo& info, AVFormatContext* formatContext, int index,
                                   AVCodecContext const* context, AVCodec const* codec, bool imageSequence,
                                   QString const& fileName, QString const& mediaName,
                                   DecodeSettings const& settings)
{
    Logger* logger = Logger::GetInstance();
    AVStream* stream = formatContext->streams[index];
    info.streamIndex = index;
    info.codecName = codec ? NameOrEmpty(codec->name) : QString();
    info.width = context->width;
    info.height = context->height;
    info.rotation = GetVideoRotation(stream);
    info.pixelFormatName = NameOrEmpty(av_get_pix_fmt_name(context->pix_fmt));
    AVPixFmtDescriptor const* descriptor = av_pix_fmt_desc_get(context->pix_fmt);
    if (info.pixelFormatName.isEmpty() || !descriptor)
    {
        if (context->width <= 0 || context->height <= 0)
        {
            // No picture decoded: refused as too large, or unreadable.
            logger->Error(QStringLiteral("Failed to read a picture (size unknown or over the %1 MB cache): %2")
                              .arg(settings.cacheSize)
                              .arg(fileName));
            logger->Error(QStringLiteral("Unsupported video codec: %1").arg(info.codecName));
        }
        else
        {
            // The container tells the size, but its decoder found no picture
            // to learn the format from: the data is damaged or missing.
            logger->Error(QStringLiteral("No picture could be decoded from video stream (%1, %2): %3")
                              .arg(index)
                              .arg(info.codecName, fileName));
        }
        return false;
    }

    info.isYuv = descriptor->nb_components >= 2 && !(descriptor->flags & AV_PIX_FMT_FLAG_RGB);
    info.componentCount = descriptor->nb_components;
    info.bitsPerPixel = av_get_bits_per_pixel(descriptor);
    info.colorPrimaries = NameOrEmpty(av_color_primaries_name(context->color_primaries));
    info.colorTransfer = NameOrEmpty(av_color_transfer_name(context->color_trc));
    info.colorSpace = NameOrEmpty(av_color_space_name(context->colorspace));
    info.colorRange = NameOrEmpty(av_color_range_name(context->color_range));
    if (info.isYuv)
    {
        info.isBt709 = info.width >= 1280 || info.colorSpace == QLatin1String("bt709");
    }
    else
    {
        // The one flag every viewer and export goes by. Some decoders tag no
        // transfer for formats that hold linear light by definition (EXR):
        // their extensions stand for the tag.
        info.isLinear = info.colorTransfer == QLatin1String("linear") || FileHelpers::IsLinearColorSpace(fileName);
    }

    AVRational const aspect = av_guess_sample_aspect_ratio(formatContext, stream, nullptr);
    info.sampleAspectRatio =
        aspect.num > 0 && aspect.den > 0 ? static_cast<float>(aspect.num) / static_cast<float>(aspect.den) : 1.0f;
    info.displayAspectRatio =
        info.height > 0 ? static_cast<float>(info.width) * info.sampleAspectRatio / static_cast<float>(info.height)
                        : 0.0f;

    info.alignedWidth = info.width;
    if (imageSequence)
    {
        info.startTimeOffset = 0;
        info.endTime = -1;
    }
    else if (info.isYuv && !settings.forceRgbOutput && info.width % 8 != 0)
    {
        info.alignedWidth = (info.width + 7) / 8 * 8;
    }
    ParseMetadata(stream->metadata, info.metadata);

    if (imageSequence)
    {
        info.frameCount = 1;
        info.frameStep = -1.0;
        info.frameRate = -1.0;
    }
    else
    {
        AVRational const rate = stream->avg_frame_rate.num != 0 ? stream->avg_frame_rate : stream->r_frame_rate;
        double frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
        // Frame times and counts divide by the step: it must be a real,
        // positive duration even when the file gives no rate.
        if (!(frameRate > 0.0) || !std::isfinite(frameRate))
        {
            frameRate = settings.imageSequenceFrameRate;
            logger->Warning(QStringLiteral("Video stream (%1) has no usable frame rate, %2 fps assumed: %3")
                                .arg(index)
                                .arg(frameRate)
                                .arg(mediaName));
        }
        info.frameStep = AvHelpers::FrameRateToFrameStep(frameRate);
        info.frameRate = std::trunc(frameRate * 1000.0 + 0.5) / 1000.0;
    }
    if (stream->time_base.num > 0 && stream->time_base.den > 0)
    {
        info.timestampStep = 1e6 * av_q2d(stream->time_base);
    }
    info.codecDelay = context->delay;
    info.parsed = true;
    return true;
}

void AvParser::ParseMetadata(AVDictionary* dictionary, QMap<QString, QString>& metadata)
{
    AVDictionaryEntry const* entry = nullptr;
    while ((entry = av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)))
    {
        metadata.insert(QString::fromUtf8(entry->key),
                        entry->value ? QString::fromUtf8(entry->value) : QStringLiteral(""));
    }
}

int AvParser::GetVideoRotation(AVStream* stream)
{
    int32_t const* matrix = FfmpegCompat::StreamDisplayMatrix(stream);
    if (!matrix)
    {
        return 0;
    }
    double const angle = av_display_rotation_get(matrix);
    if (!std::isfinite(angle))
    {
        return 0;
    }
    // Files carry -90 and -180 as well; the viewer turns by quarter turns.
    int const degrees = static_cast<int>(std::lround(angle / 90.0)) * 90 % 360;
    return degrees < 0 ? degrees + 360 : degrees;
}

void AvParser::SetFileError(int fileIndex, int errorCode)
{
    SourceFileInfo* file = mSource->FileInfoAtIndex(fileIndex);
    if (file)
    {
        file->errorCode = errorCode;
    }
    if (!mSource->IsImageSequence() || !mSource->IsParsed())
    {
        mSource->SetErrorCode(errorCode);
    }
}

void AvParser::ApplyStreamTiming(int fileIndex)
{
    SourceFileInfo* file = mSource->FileInfoAtIndex(fileIndex);
    if (mSource->VideoStreamCount() >= 1 && !file->videoStreams.isEmpty())
    {
        // The first video stream's decoded end is the source's end.
        VideoStreamInfo const& video = file->videoStreams.constFirst();
        if (video.endTime > 0)
        {
            mSource->SetDuration(video.endTime);
        }
        if (video.StartTimeKnown())
        {
            for (AudioStreamInfo& audio : file->audioStreams)
            {
                audio.startTimeOffset = video.startTimeOffset;
            }
        }
    }
    else if (mSource->AudioStreamCount() >= 1 && !file->audioStreams.isEmpty())
    {
        // Sound alone starts with its first sample, wherever the stream's
        // clock puts it (after an MP3's priming samples, a Vorbis stream's
        // first packet, which decodes to nothing): the first stream's clock
        // times them all.
        AudioStreamInfo const& first = file->audioStreams.constFirst();
        long long const offset = first.endTime > 0 ? first.startTime : 0;
        for (AudioStreamInfo& audio : file->audioStreams)
        {
            audio.startTimeOffset = offset;
        }
        // An end of 0 is unknown; an unknown container duration is replaced.
        long long const duration = mSource->Duration();
        long long const endTime = first.endTime - offset;
        if (first.endTime > 0 && (duration < 0 || duration > endTime))
        {
            mSource->SetDuration(endTime);
        }
    }
}

bool AvParser::HasAudioOrDecodedPicture(int fileIndex)
{
    SourceFileInfo const* file = mSource->FileInfoAtIndex(fileIndex);
    // Without the timing pass a parsed stream is taken at its word; with it,
    // a stream counts once a sound sample or a picture decoded: a header
    // over zeroed or missing media data describes streams that never play.
    bool const timed = mSettings.decodeExtraStreamInfoOnParse && !mSource->IsImageSequence();
    for (AudioStreamInfo const& audio : file->audioStreams)
    {
        if (audio.parsed && (!timed || audio.decoded))
        {
            return true;
        }
    }
    for (VideoStreamInfo const& video : file->videoStreams)
    {
        if (video.parsed && (!timed || video.foundEndTime >= 0))
        {
            return true;
        }
    }
    return false;
}
