#include "media/PacketPictureCheck.h"

PacketPictureCheck::PacketPictureCheck(AVCodecParameters const* parameters)
{
    if (!parameters)
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
    return mParser != nullptr;
}

bool PacketPictureCheck::HoldsFrame(AVPacket const* packet)
{
    if (!mParser || !packet || packet->size <= 0)
    {
        return false;
    }
    uint8_t* output = nullptr;
    int outputSize = 0;
    av_parser_parse2(mParser, mContext, &output, &outputSize, packet->data, packet->size, packet->pts, packet->dts,
                     packet->pos);
    return outputSize > 0 && mParser->picture_structure == AV_PICTURE_STRUCTURE_FRAME;
}
