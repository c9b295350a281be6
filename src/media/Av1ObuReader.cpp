#include "media/Av1ObuReader.h"

#include "media/HeaderBits.h"

namespace
{

constexpr int OBU_SEQUENCE_HEADER = 1;
constexpr int OBU_TEMPORAL_DELIMITER = 2;
constexpr int OBU_FRAME_HEADER = 3;
constexpr int OBU_TILE_GROUP = 4;
constexpr int OBU_METADATA = 5;
constexpr int OBU_FRAME = 6;
constexpr int OBU_REDUNDANT_FRAME_HEADER = 7;
constexpr int OBU_TILE_LIST = 8;
constexpr int OBU_PADDING = 15;

constexpr unsigned KEY_FRAME = 0;
constexpr unsigned HIGHEST_PROFILE = 2;

// The AV1CodecConfigurationRecord's first byte (marker bit and version 1);
// its configuration OBUs start after the record's four bytes.
constexpr uint8_t CONFIGURATION_RECORD_START = 0x81;
constexpr int CONFIGURATION_RECORD_SIZE = 4;

// An unsigned LEB128 number of at most 8 bytes at data[pos]; advances pos.
// False when it runs past size or does not fit.
bool ReadLeb128(uint8_t const* data, int size, int& pos, long long& value)
{
    value = 0;
    for (int i = 0; i < 8; ++i)
    {
        if (pos >= size)
        {
            return false;
        }
        uint8_t const byte = data[pos++];
        value |= static_cast<long long>(byte & 0x7f) << (7 * i);
        if (!(byte & 0x80))
        {
            return true;
        }
    }
    return false;
}

} // namespace

Av1ObuReader::Av1ObuReader(AVCodecParameters const* parameters)
{
    if (!parameters || parameters->codec_id != AV_CODEC_ID_AV1)
    {
        return;
    }
    mAv1 = true;
    uint8_t const* extradata = parameters->extradata;
    int const size = parameters->extradata_size;
    if (!extradata || size <= 0)
    {
        return;
    }
    // MP4 and Matroska keep a configuration record; other inputs may hand
    // the OBUs over as they are. A sequence header that cannot be read here,
    // or comes with OBUs that cannot, is looked for in band.
    bool const record = extradata[0] == CONFIGURATION_RECORD_START;
    int const skipped = record ? CONFIGURATION_RECORD_SIZE : 0;
    if (size > skipped && !Walk(extradata + skipped, size - skipped, nullptr))
    {
        mSequenceHeaderSeen = false;
        mReducedStillPicture = false;
    }
}

bool Av1ObuReader::IsAv1() const
{
    return mAv1;
}

Av1ObuReader::TemporalUnit Av1ObuReader::Read(uint8_t const* data, int size)
{
    TemporalUnit unit;
    if (mAv1 && data && size > 0)
    {
        unit.readable = Walk(data, size, &unit);
    }
    return unit;
}

bool Av1ObuReader::Walk(uint8_t const* data, int size, TemporalUnit* unit)
{
    // A frame header whose tile groups have not come yet, and whether tile
    // groups may come now (after a frame's own header or tile groups).
    bool awaitingTiles = false;
    bool tilesAllowed = false;
    int pos = 0;
    while (pos < size)
    {
        uint8_t const header = data[pos++];
        int const type = (header >> 3) & 0x0f;
        bool const extension = (header & 0x04) != 0;
        bool const hasSize = (header & 0x02) != 0;
        if (header & 0x80)
        {
            return false; // obu_forbidden_bit
        }
        if (extension)
        {
            if (pos >= size)
            {
                return false;
            }
            // temporal_id (3 bits), spatial_id (2 bits): a layer of a
            // scalable stream, which operating points may leave out.
            uint8_t const ids = data[pos++];
            if ((ids >> 3) != 0)
            {
                return false;
            }
        }
        long long payloadSize = size - pos;
        if (hasSize && !ReadLeb128(data, size, pos, payloadSize))
        {
            return false;
        }
        if (payloadSize > size - pos)
        {
            return false;
        }
        uint8_t const* payload = data + pos;
        int const length = static_cast<int>(payloadSize);
        pos += length;
        switch (type)
        {
        case OBU_SEQUENCE_HEADER:
            if (!ReadSequenceHeader(payload, length))
            {
                return false;
            }
            break;
        case OBU_FRAME_HEADER:
        case OBU_FRAME:
        {
            if (!unit)
            {
                break;
            }
            if (awaitingTiles || !mSequenceHeaderSeen)
            {
                return false;
            }
            bool tilesFollow = false;
            if (!ReadFrameHeader(payload, length, type == OBU_FRAME, *unit, tilesFollow))
            {
                return false;
            }
            awaitingTiles = tilesFollow;
            tilesAllowed = tilesFollow || type == OBU_FRAME;
            break;
        }
        case OBU_TILE_GROUP:
            if (unit && !tilesAllowed)
            {
                return false;
            }
            awaitingTiles = false;
            break;
        case OBU_TILE_LIST:
            // Large-scale tile decoding: not pictures of their own.
            return false;
        case OBU_TEMPORAL_DELIMITER:
        case OBU_METADATA:
        case OBU_REDUNDANT_FRAME_HEADER:
        case OBU_PADDING:
        default:
            // Reserved types are ignored by decoders.
            break;
        }
    }
    return !awaitingTiles;
}

bool Av1ObuReader::ReadSequenceHeader(uint8_t const* payload, int size)
{
    HeaderBits bits(payload, size);
    unsigned const profile = bits.Bits(3);
    bits.Bits(1); // still_picture
    bool const reduced = bits.Bits(1) == 1;
    if (bits.Failed() || profile > HIGHEST_PROFILE)
    {
        return false;
    }
    mSequenceHeaderSeen = true;
    mReducedStillPicture = reduced;
    return true;
}

bool Av1ObuReader::ReadFrameHeader(uint8_t const* payload, int size, bool inFrameObu, TemporalUnit& unit,
                                   bool& tilesFollow)
{
    bool const first = unit.frames == 0;
    if (mReducedStillPicture)
    {
        // Every frame a shown key frame; its header may be empty.
        ++unit.frames;
        ++unit.shownFrames;
        unit.startsWithKeyFrame = unit.startsWithKeyFrame || first;
        tilesFollow = !inFrameObu;
        return true;
    }
    HeaderBits bits(payload, size);
    if (bits.Bits(1) == 1)
    {
        // show_existing_frame: no tiles of its own, never inside a frame OBU.
        if (bits.Failed() || inFrameObu)
        {
            return false;
        }
        ++unit.frames;
        ++unit.shownFrames;
        ++unit.shownAgain;
        tilesFollow = false;
        return true;
    }
    unsigned const frameType = bits.Bits(2);
    bool const shown = bits.Bits(1) == 1;
    if (bits.Failed())
    {
        return false;
    }
    ++unit.frames;
    unit.shownFrames += shown ? 1 : 0;
    unit.startsWithKeyFrame = unit.startsWithKeyFrame || (first && frameType == KEY_FRAME && shown);
    tilesFollow = !inFrameObu;
    return true;
}
