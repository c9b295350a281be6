#pragma once

#include "media/Av1ObuReader.h"
#include "media/NalUnitReader.h"

#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

// Tells whether the packets of an H.264, HEVC, VP9 or AV1 stream show their
// pictures as their times say, without decoding them: whether a packet holds
// the picture of a whole frame that is shown (H.264 may code the two fields
// of a frame as two pictures, each in a packet of its own; HEVC may leave
// pictures unshown or code fields through SEI; a VP9 superframe or an AV1
// temporal unit may carry frames that are not shown, or show one decoded
// earlier), whether the first one decodes exactly on its own, and whether
// the times follow the order the codec shows the pictures in. Reads the
// slice headers with the codec's parser and the NAL units with a
// NalUnitReader; VP9 frame headers with a Vp9FrameReader and AV1 OBUs with
// an Av1ObuReader.
class PacketPictureCheck
{
public:
    explicit PacketPictureCheck(AVCodecParameters const* parameters);
    ~PacketPictureCheck();
    PacketPictureCheck(PacketPictureCheck const&) = delete;
    PacketPictureCheck& operator=(PacketPictureCheck const&) = delete;

    // False when the codec has nothing to tell by.
    bool IsUsable() const;
    // The packet's picture starts decoding exactly on its own: an IDR
    // (H.264), a random-access picture (HEVC; the pictures after a CRA that
    // are shown before it are left out, which the times show), a key frame
    // (VP9), a shown key frame (AV1).
    bool StartsDecoding(AVPacket const* packet);

    // Starts a new read of packets (after a seek).
    void StartOver();
    // HoldsFrame, keeping the packet's time (any unit) against the order
    // the codec shows its picture in.
    bool Accept(AVPacket const* packet, long long time);
    // The times accepted since StartOver rise in the order the pictures are
    // shown: a time written in decoding order or moved out of its place
    // would time another picture than its own. VP9 and AV1 show their
    // pictures in the order of their packets, and the first packet accepted
    // must start decoding (a frame shown again may come from before it).
    bool TimesFollowPictureOrder() const;

private:
    // Tests reach what only they use through it (tests/support).
    friend class PacketPictureCheckTestAccess;

    // The packet holds the picture of a whole frame that is shown, as Accept
    // checks it; false when the codec has nothing to tell by or the packet's
    // picture cannot be read.
    bool HoldsFrame(AVPacket const* packet);
    // VP9 and AV1: the packet's frames read, false where they cannot be;
    // shown: exactly one of them is shown; starts: StartsDecoding.
    bool ReadFrames(AVPacket const* packet, bool& shown, bool& starts);
    // Parses the packet's slice header: whether it holds a frame picture
    // that is shown (unit: its NAL units, read for HEVC).
    bool ParsePicture(AVPacket const* packet, NalUnitReader::AccessUnit const& unit);

    AVCodecParserContext* mParser = nullptr;
    // The stream's parameters (the parser reads the headers kept apart in
    // MP4 and Matroska from them); only the parser uses it.
    AVCodecContext* mContext = nullptr;
    NalUnitReader mUnits;
    AVCodecID mCodec = AV_CODEC_ID_NONE;
    Av1ObuReader mObus;
    // (picture order count, time) of the pictures accepted, in runs that
    // each start at a picture that resets the count.
    std::vector<std::vector<std::pair<int, long long>>> mRuns;
};
