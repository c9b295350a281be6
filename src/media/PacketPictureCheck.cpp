#include "media/PacketPictureCheck.h"

#include "media/Vp9FrameReader.h"

#include <algorithm>

namespace
{

bool ShowsInPacketOrder(AVCodecID codec)
{
    return codec == AV_CODEC_ID_VP9 || codec == AV_CODEC_ID_AV1;
}

} // namespace

PacketPictureCheck::PacketPictureCheck(AVCodecParameters const* parameters)
    : mUnits(parameters)
    , mCodec(parameters ? parameters->codec_id : AV_CODEC_ID_NONE)
    , mObus(parameters)
{
    // VP9 and AV1 headers are read here, without the codec's parser.
    if (!parameters || ShowsInPacketOrder(mCodec))
    {
        return;
    }
    mParser = av_parser_init(parameters->codec_id);
    mContext = avcodec_alloc_context3(nullptr);
    if (!mParser || !mContext || avcodec_parameters_to_context(mContext, parameters) < 0)
    {
        av_parser_close(mParser);
        mParser = nullptr;
        return;
    }
    // Every packet is a whole access unit already: no frame boundaries are
    // searched for, nothing is held back for the next call.
    mParser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
}

PacketPictureCheck::~PacketPictureCheck()
{
    av_parser_close(mParser);
    avcodec_free_context(&mContext);
}

bool PacketPictureCheck::IsUsable() const
{
    return mParser != nullptr || ShowsInPacketOrder(mCodec);
}

bool PacketPictureCheck::ReadFrames(AVPacket const* packet, bool& shown, bool& starts)
{
    shown = false;
    starts = false;
    if (mCodec == AV_CODEC_ID_VP9)
    {
        Vp9FrameReader::Packet const frames = Vp9FrameReader::Read(packet->data, packet->size);
        shown = frames.shownFrames == 1;
        starts = frames.startsWithKeyFrame;
        return frames.readable;
    }
    Av1ObuReader::TemporalUnit const unit = mObus.Read(packet->data, packet->size);
    shown = unit.shownFrames == 1;
    starts = unit.startsWithKeyFrame;
    return unit.readable;
}

bool PacketPictureCheck::HoldsFrame(AVPacket const* packet)
{
    if (!IsUsable() || !packet || packet->size <= 0)
    {
        return false;
    }
    if (ShowsInPacketOrder(mCodec))
    {
        // One frame shown, at the packet's time; the others only decoded.
        bool shown = false;
        bool starts = false;
        return ReadFrames(packet, shown, starts) && shown;
    }
    NalUnitReader::AccessUnit const unit =
        mUnits.IsHevc() ? mUnits.Read(packet->data, packet->size) : NalUnitReader::AccessUnit();
    return ParsePicture(packet, unit);
}

bool PacketPictureCheck::ParsePicture(AVPacket const* packet, NalUnitReader::AccessUnit const& unit)
{
    uint8_t* output = nullptr;
    int outputSize = 0;
    av_parser_parse2(mParser, mContext, &output, &outputSize, packet->data, packet->size, packet->pts, packet->dts,
                     packet->pos);
    if (outputSize <= 0)
    {
        return false;
    }
    if (!mUnits.IsHevc())
    {
        return mParser->picture_structure == AV_PICTURE_STRUCTURE_FRAME;
    }
    // HEVC pictures are frames unless SEI says otherwise; a picture may be
    // left unshown where the parameter sets allow it.
    return unit.readable && !unit.unsureOutput;
}

bool PacketPictureCheck::StartsDecoding(AVPacket const* packet)
{
    if (packet && packet->size > 0 && ShowsInPacketOrder(mCodec))
    {
        bool shown = false;
        bool starts = false;
        return ReadFrames(packet, shown, starts) && starts;
    }
    if (!packet || !mUnits.IsUsable())
    {
        return false;
    }
    NalUnitReader::AccessUnit const unit = mUnits.Read(packet->data, packet->size);
    return unit.readable && (mUnits.IsHevc() ? unit.randomAccess : unit.instantRefresh);
}

void PacketPictureCheck::StartOver()
{
    mRuns.clear();
}

bool PacketPictureCheck::Accept(AVPacket const* packet, long long time)
{
    if (!IsUsable() || !packet || packet->size <= 0)
    {
        return false;
    }
    if (ShowsInPacketOrder(mCodec))
    {
        bool shown = false;
        bool starts = false;
        // A frame shown again (show_existing_frame) may have been decoded
        // before the first packet read: from a key frame on, none was.
        if (!ReadFrames(packet, shown, starts) || !shown || (mRuns.empty() && !starts))
        {
            return false;
        }
        if (mRuns.empty())
        {
            mRuns.emplace_back();
        }
        // Shown in packet order: the packet's place is its picture's.
        int const order = static_cast<int>(mRuns.back().size());
        mRuns.back().emplace_back(order, time);
        return true;
    }
    NalUnitReader::AccessUnit const unit = mUnits.Read(packet->data, packet->size);
    if (!ParsePicture(packet, unit))
    {
        return false;
    }
    // An IDR (or HEVC IDR/BLA) starts the count again.
    if (mRuns.empty() || unit.instantRefresh)
    {
        mRuns.emplace_back();
    }
    mRuns.back().emplace_back(mParser->output_picture_number, time);
    return true;
}

bool PacketPictureCheck::TimesFollowPictureOrder() const
{
    for (std::vector<std::pair<int, long long>> run : mRuns)
    {
        std::sort(run.begin(), run.end());
        for (std::size_t i = 1; i < run.size(); ++i)
        {
            // Two pictures of one count, or a later one timed no later.
            if (run[i].first == run[i - 1].first || run[i].second <= run[i - 1].second)
            {
                return false;
            }
        }
    }
    return true;
}
