#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

// Tells whether a video packet holds the picture of a whole frame rather than
// one field of it: H.264 may code the two fields of a frame as two pictures,
// each in a packet of its own, which decode to one frame. Reads the packet's
// slice header with the codec's parser; nothing is decoded.
class PacketPictureCheck
{
public:
    explicit PacketPictureCheck(AVCodecParameters const* parameters);
    ~PacketPictureCheck();
    PacketPictureCheck(PacketPictureCheck const&) = delete;
    PacketPictureCheck& operator=(PacketPictureCheck const&) = delete;

    // False when the codec has no parser to tell by.
    bool IsUsable() const;
    // False as well when the packet's picture cannot be read.
    bool HoldsFrame(AVPacket const* packet);

private:
    AVCodecParserContext* mParser = nullptr;
    // The stream's parameters (the parser reads the headers kept apart in
    // MP4 and Matroska from them); only the parser uses it.
    AVCodecContext* mContext = nullptr;
};
