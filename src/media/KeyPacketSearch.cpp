#include "media/KeyPacketSearch.h"

#include <algorithm>
#include <cstring>

namespace
{

// Byte steps start at this many seconds of the input, and this many bytes at
// least; each step doubles the one before.
double const START_SECONDS = 2.0;
long long const MINIMUM_BYTES = 64 * 1024;

} // namespace

KeyPacketSearch::KeyPacketSearch(AVFormatContext* context, int streamIndex)
    : mContext(context)
    , mStreamIndex(streamIndex)
{
}

bool KeyPacketSearch::Needed(AVFormatContext const* context, bool rewindOnly)
{
    if (rewindOnly || !context || !context->iformat || !context->pb || !context->iformat->name ||
        (context->iformat->flags & AVFMT_NO_BYTE_SEEK))
    {
        return false;
    }
    return std::strcmp(context->iformat->name, "mpegts") == 0;
}

long long KeyPacketSearch::FirstStep() const
{
    long long rate = mContext->bit_rate > 0 ? mContext->bit_rate / 8 : 0;
    long long const size = avio_size(mContext->pb);
    if (rate <= 0 && size > 0 && mContext->duration > 0)
    {
        rate = av_rescale(size, AV_TIME_BASE, mContext->duration);
    }
    return std::max(static_cast<long long>(static_cast<double>(rate) * START_SECONDS), MINIMUM_BYTES);
}

bool KeyPacketSearch::SeekToByte(long long pos)
{
    return av_seek_frame(mContext, -1, std::max(pos, 0LL), AVSEEK_FLAG_BYTE) >= 0;
}

bool KeyPacketSearch::SeekBackToKeyPacket(long long ts, long long landing)
{
    AVPacket* packet = av_packet_alloc();
    if (!packet || landing < 0)
    {
        av_packet_free(&packet);
        return false;
    }
    long long step = FirstStep();
    long long found = -1;
    // Each step reads only what the one before did not: a packet that starts
    // where that one began was read whole then.
    long long until = -1;
    while (found < 0)
    {
        long long const from = std::max(landing - step, 0LL);
        if (!SeekToByte(from))
        {
            break;
        }
        // The latest key packet timed at or before ts. A packet decoded after
        // ts (its decoding time) has no key packet at or before ts after it.
        while (av_read_frame(mContext, packet) >= 0)
        {
            bool const ours = packet->stream_index == mStreamIndex && packet->size > 0;
            bool const past = ours && ((packet->dts != AV_NOPTS_VALUE && packet->dts > ts) ||
                                       packet->pos > landing + step || (until >= 0 && packet->pos >= until));
            if (ours && !past && (packet->flags & AV_PKT_FLAG_KEY) && !(packet->flags & AV_PKT_FLAG_CORRUPT) &&
                packet->pts != AV_NOPTS_VALUE && packet->pts <= ts && packet->pos >= 0)
            {
                found = packet->pos;
            }
            av_packet_unref(packet);
            if (past)
            {
                break;
            }
        }
        if (from == 0)
        {
            break;
        }
        until = from;
        step *= 2;
    }
    av_packet_free(&packet);
    return found >= 0 && SeekToByte(found);
}

long long KeyPacketSearch::LastKeyPacketBetween(long long from, long long until)
{
    AVPacket* packet = av_packet_alloc();
    if (!packet || !SeekToByte(from))
    {
        av_packet_free(&packet);
        return -1;
    }
    long long found = -1;
    while (av_read_frame(mContext, packet) >= 0)
    {
        bool const ours = packet->stream_index == mStreamIndex && packet->size > 0 && packet->pos >= 0;
        if (ours && until >= 0 && packet->pos >= until)
        {
            av_packet_unref(packet);
            break;
        }
        if (ours && (packet->flags & AV_PKT_FLAG_KEY) && !(packet->flags & AV_PKT_FLAG_CORRUPT))
        {
            found = packet->pos;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return found;
}
