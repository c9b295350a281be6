#pragma once

#include <cstdint>

// Reads what a VP9 packet holds without decoding it: the frames of a
// superframe (split by the index at its end), and from the start of each
// frame's uncompressed header whether the frame is shown (show_frame, or
// show_existing_frame, which shows a frame decoded earlier) and whether it is
// a key frame. An encoder's alternate reference frames travel unshown in a
// superframe before the frame shown at the packet's time.
class Vp9FrameReader
{
public:
    struct Packet
    {
        // Frames in the packet, and of them those shown.
        int frames = 0;
        int shownFrames = 0;
        // The first frame is a key frame: it refreshes every reference, so
        // decoding from this packet gives every picture exactly.
        bool startsWithKeyFrame = false;
        // The superframe index and every frame's header could be read.
        bool readable = false;
    };

    static Packet Read(uint8_t const* data, int size);

private:
    // Reads one frame's header into packet; false when it is not a VP9
    // frame header.
    static bool ReadFrame(uint8_t const* data, int size, Packet& packet);
};
