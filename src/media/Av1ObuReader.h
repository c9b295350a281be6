#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
}

// Reads the OBUs of AV1 packets (temporal units in the low-overhead form of
// MP4, Matroska and WebM) without decoding them: how many frames each holds
// and how many of them are shown (show_frame, or show_existing_frame, which
// shows a frame decoded in an earlier unit), and whether it starts with a
// shown key frame. Keeps the one field of the sequence header (from the
// stream's extradata or in band) that frame headers depend on this early.
class Av1ObuReader
{
public:
    // What one temporal unit holds.
    struct TemporalUnit
    {
        // Frame headers (OBU_FRAME, OBU_FRAME_HEADER; redundant copies
        // aside), and of them those that show a frame.
        int frames = 0;
        int shownFrames = 0;
        // Of the shown ones, those decoded in an earlier unit.
        int shownAgain = 0;
        // The first frame is a key frame that is shown: it refreshes every
        // reference, so decoding from this unit gives every picture exactly.
        bool startsWithKeyFrame = false;
        // Every OBU could be walked to the unit's end, a sequence header
        // came before the first frame header, and nothing belongs to a layer
        // of a scalable stream (which a decoder may leave out or show apart).
        bool readable = false;
    };

    explicit Av1ObuReader(AVCodecParameters const* parameters);

    bool IsAv1() const;
    TemporalUnit Read(uint8_t const* data, int size);

private:
    // Walks the OBUs of data (a temporal unit, or the extradata's
    // configuration OBUs with unit null); false where they cannot be read.
    bool Walk(uint8_t const* data, int size, TemporalUnit* unit);
    bool ReadSequenceHeader(uint8_t const* payload, int size);
    // A frame header's first bits, counted into unit; tilesFollow tells
    // whether tile groups of its own come after it.
    bool ReadFrameHeader(uint8_t const* payload, int size, bool inFrameObu, TemporalUnit& unit, bool& tilesFollow);

    bool mAv1 = false;
    bool mSequenceHeaderSeen = false;
    // reduced_still_picture_header: frame headers are left out, every frame
    // is a shown key frame.
    bool mReducedStillPicture = false;
};
