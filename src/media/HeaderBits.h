#pragma once

#include <cstdint>

// Reads the fixed-width fields of a codec header, most significant bit
// first, from the first bit of its first byte on. A read past the end gives
// zeros and marks the read failed.
class HeaderBits
{
public:
    HeaderBits(uint8_t const* data, int size)
        : mData(data)
        , mSize(size)
    {
    }

    bool Failed() const { return mFailed; }

    unsigned Bits(int count)
    {
        unsigned value = 0;
        for (int i = 0; i < count; ++i)
        {
            if (mBit / 8 >= mSize)
            {
                mFailed = true;
                return 0;
            }
            value = (value << 1) | ((mData[mBit / 8] >> (7 - mBit % 8)) & 1U);
            ++mBit;
        }
        return value;
    }

private:
    uint8_t const* mData;
    int mSize;
    int mBit = 0;
    bool mFailed = false;
};
