#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
}

// Reads the NAL units of H.264 and HEVC packets, in the length-prefixed form
// of MP4 and Matroska (as the stream's extradata says) or in start codes:
// what kind of picture an access unit starts decoding with, and the few
// parameter-set and SEI fields that tell whether every decoded picture is
// shown as a frame. Nothing is decoded.
class NalUnitReader
{
public:
    // What one access unit holds.
    struct AccessUnit
    {
        // An IDR picture (H.264), or an IDR or BLA picture (HEVC): decoding
        // from it gives every picture exactly.
        bool instantRefresh = false;
        // An HEVC random-access picture of any kind (IDR, BLA or CRA).
        bool randomAccess = false;
        // HEVC: picture timing SEI (which may code the picture as a field),
        // or a picture parameter set that lets a picture be left unshown.
        bool unsureOutput = false;
        // H.264: the frames after this one from which decoding that starts
        // here gives exact pictures, as its recovery point SEI says (a
        // gradual refresh spreads the intra coding over them); -1 without
        // one.
        int recoveryFrames = -1;
        // The packet's NAL units could be walked to its end.
        bool readable = false;
    };

    explicit NalUnitReader(AVCodecParameters const* parameters);

    // H.264 or HEVC.
    bool IsUsable() const;
    bool IsHevc() const;
    AccessUnit Read(uint8_t const* data, int size);
    // HEVC: a parameter set read so far (extradata included) lets pictures
    // be left unshown (output_flag_present_flag).
    bool OutputFlagPresent() const;
    // HEVC: the most temporal sub-layers a sequence parameter set read so
    // far (extradata included) allows; 0 before any was read. With one, a
    // sub-layer non-reference picture serves no other picture at all.
    int SubLayers() const;

private:
    void ReadUnit(uint8_t const* unit, int size, AccessUnit& unitInfo);
    void ReadExtradata(uint8_t const* data, int size);

    AVCodecID mCodec = AV_CODEC_ID_NONE;
    // Bytes of each NAL unit's length prefix; 0 for start codes.
    int mLengthSize = 0;
    bool mOutputFlagPresent = false;
    int mSubLayers = 0;
};
