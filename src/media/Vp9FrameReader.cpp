#include "media/Vp9FrameReader.h"

#include "media/HeaderBits.h"

#include <array>

namespace
{

constexpr unsigned FRAME_MARKER = 2;
constexpr unsigned KEY_FRAME = 0;
constexpr std::array<unsigned, 3> SYNC_CODE {0x49, 0x83, 0x42};

// The marker byte of a superframe index: 0b110 in its top bits, then the
// bytes of each frame size less one (2 bits) and the frames less one (3).
bool IsIndexMarker(uint8_t byte)
{
    return (byte & 0xe0) == 0xc0;
}

} // namespace

Vp9FrameReader::Packet Vp9FrameReader::Read(uint8_t const* data, int size)
{
    Packet packet;
    if (!data || size <= 0)
    {
        return packet;
    }
    uint8_t const marker = data[size - 1];
    int const frameCount = (marker & 0x07) + 1;
    int const sizeBytes = ((marker >> 3) & 0x03) + 1;
    int const indexSize = 2 + sizeBytes * frameCount;
    // The index repeats its marker byte at its start; without that, the
    // packet is one frame whose last byte happens to look like a marker.
    bool const superframe = IsIndexMarker(marker) && size >= indexSize && data[size - indexSize] == marker;
    if (!superframe)
    {
        packet.readable = ReadFrame(data, size, packet);
        return packet;
    }
    uint8_t const* sizes = data + size - indexSize + 1;
    int offset = 0;
    for (int frame = 0; frame < frameCount; ++frame)
    {
        int frameSize = 0;
        for (int byte = 0; byte < sizeBytes; ++byte)
        {
            frameSize |= sizes[frame * sizeBytes + byte] << (8 * byte);
        }
        // Frames must fill the packet up to the index, each at least a byte.
        if (frameSize <= 0 || frameSize > size - indexSize - offset || !ReadFrame(data + offset, frameSize, packet))
        {
            return packet;
        }
        offset += frameSize;
    }
    packet.readable = offset == size - indexSize;
    return packet;
}

bool Vp9FrameReader::ReadFrame(uint8_t const* data, int size, Packet& packet)
{
    HeaderBits bits(data, size);
    if (bits.Bits(2) != FRAME_MARKER)
    {
        return false;
    }
    unsigned const profileLow = bits.Bits(1);
    unsigned const profile = (bits.Bits(1) << 1) | profileLow;
    if (profile == 3 && bits.Bits(1) != 0)
    {
        return false;
    }
    bool const first = packet.frames == 0;
    ++packet.frames;
    if (bits.Bits(1) == 1)
    {
        // show_existing_frame: shows the reference in the slot that follows.
        bits.Bits(3);
        packet.shownFrames += bits.Failed() ? 0 : 1;
        return !bits.Failed();
    }
    bool const key = bits.Bits(1) == KEY_FRAME;
    bool const shown = bits.Bits(1) == 1;
    bool const errorResilient = bits.Bits(1) == 1;
    bool intraOnly = false;
    if (!key)
    {
        intraOnly = !shown && bits.Bits(1) == 1;
        if (!errorResilient)
        {
            bits.Bits(2); // reset_frame_context
        }
    }
    if (key || intraOnly)
    {
        for (unsigned const code : SYNC_CODE)
        {
            if (bits.Bits(8) != code)
            {
                return false;
            }
        }
    }
    if (bits.Failed())
    {
        return false;
    }
    packet.shownFrames += shown ? 1 : 0;
    packet.startsWithKeyFrame = packet.startsWithKeyFrame || (first && key);
    return true;
}
