#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

// Finds the key packets of one stream of an input whose time seek lands on
// any packet rather than on a key packet, and which claims no exact length
// (MPEG-TS): by stepping back from a byte position in growing byte steps and
// reading the packets from there. Works on the caller's thread, on the
// demuxer it is given, which it positions; it holds no state of its own
// between calls.
class KeyPacketSearch
{
public:
    KeyPacketSearch(AVFormatContext* context, int streamIndex);

    // Whether the input's key packets are found by bytes rather than by a
    // time seek (rewindOnly: the input is never sought).
    static bool Needed(AVFormatContext const* context, bool rewindOnly);

    // The first byte step of a search: a few seconds of the input, or a
    // minimum number of bytes.
    long long FirstStep() const;
    // Positions the demuxer at byte position pos; false when it cannot.
    bool SeekToByte(long long pos);
    // After a time seek to ts (stream ticks) that landed at byte position
    // landing: steps back from there until a key packet of the stream timed
    // at or before ts is found, and positions the demuxer on the latest such
    // one. False, leaving the position undefined, when none is found short of
    // the start of the input.
    bool SeekBackToKeyPacket(long long ts, long long landing);
    // The byte position of the last key packet of the stream that starts at
    // or after byte from and before byte until (-1: the end of the input);
    // -1 when none.
    long long LastKeyPacketBetween(long long from, long long until);

private:
    AVFormatContext* mContext;
    int mStreamIndex;
};
