#include "media/NalUnitReader.h"

#include <algorithm>
#include <vector>

namespace
{

// Exp-Golomb and fixed-width reads over a NAL unit's payload with the
// emulation-prevention bytes taken out.
class BitReader
{
public:
    BitReader(uint8_t const* data, int size)
    {
        mBytes.reserve(static_cast<std::size_t>(size));
        int zeros = 0;
        for (int i = 0; i < size; ++i)
        {
            if (zeros >= 2 && data[i] == 3)
            {
                zeros = 0;
                continue;
            }
            zeros = data[i] == 0 ? zeros + 1 : 0;
            mBytes.push_back(data[i]);
        }
    }

    bool Failed() const { return mFailed; }
    std::size_t BytesLeft() const { return mBytes.size() - std::min(mBytes.size(), mBit / 8); }

    unsigned Bit()
    {
        if (mBit / 8 >= mBytes.size())
        {
            mFailed = true;
            return 0;
        }
        unsigned const bit = (mBytes[mBit / 8] >> (7 - mBit % 8)) & 1U;
        ++mBit;
        return bit;
    }

    unsigned Bits(int count)
    {
        unsigned value = 0;
        for (int i = 0; i < count; ++i)
        {
            value = (value << 1) | Bit();
        }
        return value;
    }

    unsigned Golomb()
    {
        int zeros = 0;
        while (Bit() == 0 && !mFailed)
        {
            if (++zeros > 31)
            {
                mFailed = true;
                return 0;
            }
        }
        return ((1U << zeros) - 1) + Bits(zeros);
    }

private:
    std::vector<uint8_t> mBytes;
    std::size_t mBit = 0;
    bool mFailed = false;
};

// Walks an SEI unit's messages (each: its type and size as runs of 0xff plus
// a byte, then the payload) up to the first of type wanted: true with bits at
// its payload.
bool FindSeiMessage(BitReader& bits, unsigned wanted)
{
    while (bits.BytesLeft() > 1 && !bits.Failed())
    {
        unsigned payloadType = 0;
        unsigned byte = 0;
        while ((byte = bits.Bits(8)) == 0xff && !bits.Failed())
        {
            payloadType += 255;
        }
        payloadType += byte;
        unsigned payloadSize = 0;
        while ((byte = bits.Bits(8)) == 0xff && !bits.Failed())
        {
            payloadSize += 255;
        }
        payloadSize += byte;
        if (bits.Failed())
        {
            return false;
        }
        if (payloadType == wanted)
        {
            return true;
        }
        for (unsigned i = 0; i < payloadSize && !bits.Failed(); ++i)
        {
            bits.Bits(8);
        }
    }
    return false;
}

int const H264_IDR = 5;
int const H264_SEI = 6;
int const H264_SEI_RECOVERY_POINT = 6;
int const HEVC_BLA_FIRST = 16;
int const HEVC_IDR_LAST = 20;
int const HEVC_RANDOM_ACCESS_LAST = 23;
int const HEVC_SPS = 33;
int const HEVC_PPS = 34;
int const HEVC_SEI_PREFIX = 39;
int const HEVC_SEI_PICTURE_TIMING = 1;

} // namespace

NalUnitReader::NalUnitReader(AVCodecParameters const* parameters)
{
    if (!parameters || (parameters->codec_id != AV_CODEC_ID_H264 && parameters->codec_id != AV_CODEC_ID_HEVC))
    {
        return;
    }
    mCodec = parameters->codec_id;
    uint8_t const* extra = parameters->extradata;
    int const size = parameters->extradata_size;
    if (extra && size >= 7 && extra[0] == 1)
    {
        // avcC / hvcC: a configuration record, then length-prefixed units.
        if (mCodec == AV_CODEC_ID_H264)
        {
            mLengthSize = (extra[4] & 3) + 1;
        }
        else if (size >= 23)
        {
            mLengthSize = (extra[21] & 3) + 1;
            ReadExtradata(extra, size);
        }
        else
        {
            mCodec = AV_CODEC_ID_NONE;
        }
    }
    else if (extra && size > 0)
    {
        // Parameter sets in start codes.
        Read(extra, size);
    }
}

bool NalUnitReader::IsUsable() const
{
    return mCodec != AV_CODEC_ID_NONE;
}

bool NalUnitReader::IsHevc() const
{
    return mCodec == AV_CODEC_ID_HEVC;
}

bool NalUnitReader::OutputFlagPresent() const
{
    return mOutputFlagPresent;
}

int NalUnitReader::SubLayers() const
{
    return mSubLayers;
}

void NalUnitReader::ReadExtradata(uint8_t const* data, int size)
{
    // hvcC: 22 bytes of header, then arrays of units by type.
    int at = 22;
    int const arrays = data[at++];
    for (int a = 0; a < arrays && at + 3 <= size; ++a)
    {
        int const count = data[at + 1] << 8 | data[at + 2];
        at += 3;
        for (int i = 0; i < count && at + 2 <= size; ++i)
        {
            int const length = data[at] << 8 | data[at + 1];
            at += 2;
            if (at + length > size)
            {
                return;
            }
            AccessUnit ignored;
            ReadUnit(data + at, length, ignored);
            at += length;
        }
    }
}

NalUnitReader::AccessUnit NalUnitReader::Read(uint8_t const* data, int size)
{
    AccessUnit unit;
    if (!IsUsable() || !data || size <= 0)
    {
        return unit;
    }
    if (mLengthSize > 0)
    {
        int at = 0;
        while (at + mLengthSize <= size)
        {
            unsigned length = 0;
            for (int i = 0; i < mLengthSize; ++i)
            {
                length = (length << 8) | data[at + i];
            }
            at += mLengthSize;
            if (length > static_cast<unsigned>(size - at))
            {
                return unit;
            }
            ReadUnit(data + at, static_cast<int>(length), unit);
            at += static_cast<int>(length);
        }
        unit.readable = at == size;
        return unit;
    }
    // Start codes: 00 00 01, units end where the next start code begins
    // (its leading zero bytes belong to no unit).
    int start = -1;
    for (int i = 0; i + 2 < size; ++i)
    {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
        {
            if (start >= 0)
            {
                int end = i;
                while (end > start && data[end - 1] == 0)
                {
                    --end;
                }
                ReadUnit(data + start, end - start, unit);
            }
            start = i + 3;
            i += 2;
        }
    }
    if (start < 0)
    {
        return unit;
    }
    ReadUnit(data + start, size - start, unit);
    unit.readable = true;
    return unit;
}

void NalUnitReader::ReadUnit(uint8_t const* unit, int size, AccessUnit& info)
{
    if (size < 2)
    {
        return;
    }
    if (mCodec == AV_CODEC_ID_H264)
    {
        int const type = unit[0] & 0x1f;
        if (type == H264_IDR)
        {
            info.instantRefresh = true;
        }
        else if (type == H264_SEI)
        {
            BitReader bits(unit + 1, size - 1);
            if (FindSeiMessage(bits, H264_SEI_RECOVERY_POINT))
            {
                unsigned const frames = bits.Golomb(); // recovery_frame_cnt
                if (!bits.Failed())
                {
                    info.recoveryFrames = static_cast<int>(std::min(frames, 1U << 16));
                }
            }
        }
        return;
    }
    int const type = (unit[0] >> 1) & 0x3f;
    if (type >= HEVC_BLA_FIRST && type <= HEVC_RANDOM_ACCESS_LAST)
    {
        info.randomAccess = true;
        info.instantRefresh = info.instantRefresh || type <= HEVC_IDR_LAST;
    }
    else if (type == HEVC_SPS && size > 2)
    {
        // sps_video_parameter_set_id (4 bits), sps_max_sub_layers_minus1 (3).
        mSubLayers = std::max(mSubLayers, ((unit[2] >> 1) & 7) + 1);
    }
    else if (type == HEVC_PPS)
    {
        BitReader bits(unit + 2, size - 2);
        bits.Golomb(); // pps_pic_parameter_set_id
        bits.Golomb(); // pps_seq_parameter_set_id
        bits.Bit();    // dependent_slice_segments_enabled_flag
        bool const outputFlagPresent = bits.Bit() != 0;
        // A set that cannot be read may allow it as well.
        mOutputFlagPresent = mOutputFlagPresent || outputFlagPresent || bits.Failed();
    }
    else if (type == HEVC_SEI_PREFIX)
    {
        BitReader bits(unit + 2, size - 2);
        info.unsureOutput = info.unsureOutput || FindSeiMessage(bits, HEVC_SEI_PICTURE_TIMING);
    }
    info.unsureOutput = info.unsureOutput || mOutputFlagPresent;
}
