#pragma once

#include <QString>

#include <functional>
#include <vector>

// Reads the decoding timestamps of chosen PIDs straight from the PES headers
// in an MPEG-TS file's packets, in large reads, without demuxing it. The
// answer only clears a stream: one whose timestamps never go back at all,
// nor leap more than ten seconds forward from one PES to the next, is steady;
// anything else (a step back of any size, a PES without a timestamp,
// lost sync, a layout it cannot tell) is left for the demuxer to judge.
class TsTimestampScan
{
public:
    enum class Verdict
    {
        // Every PES carried a timestamp, none went back and none leapt ahead.
        Steady,
        // Some timestamp went back or leapt ahead (a restart or a splice, or
        // a single corrupt one).
        MayGoBack,
        // The scan could not tell.
        Unknown
    };

    // One verdict per PID, in the order given, of the file at path (opened by
    // the guarded open: all Unknown for anything but a regular file). All
    // Unknown when the file is not plain TS packets of one size from its
    // first sync byte on. A stop asked between two reads (stopRequested
    // answering true) leaves every stream unknown.
    //
    // With parts 0, a short file is read whole; a long one is read in spots
    // spread over its length (the last one at its end), each long enough to
    // hold a timestamp of every stream, and then between any two spots whose
    // timestamps advance at an odd pace against the file's usual one, in
    // halves down to stretches read whole. A stream is steady when every
    // timestamp read follows the one before; a restart that starts and ends
    // between two spots, with the timestamps after it taking up the pace
    // before it, is not seen (a whole read behind the parse looks for it:
    // TsRestartCheck). Where the spots would read too much of the file, or
    // they once missed a step back in it (RememberSpotsMissed), it is read
    // whole after all.
    //
    // With parts above 0 the whole file is read, in that many parts side by
    // side, each on a thread of its own that asks stopRequested; the verdicts
    // do not depend on how many. A whole read with parts 0 takes as many as
    // the file's length and the machine's cores make worth it.
    static std::vector<Verdict> Scan(QString const& path, std::vector<int> const& pids,
                                     std::function<bool()> const& stopRequested = {}, int parts = 0);
    // The same, of a file already open: every read is at an offset of its
    // own (pread) on that descriptor, which stays open; the path that named
    // the file is never opened again. spotted, when given, tells whether the
    // verdicts come from spots alone (a step back between them unseen).
    static std::vector<Verdict> Scan(int descriptor, std::vector<int> const& pids,
                                     std::function<bool()> const& stopRequested = {}, int parts = 0,
                                     bool* spotted = nullptr);

    // The file open on descriptor was read whole after its spots cleared it,
    // and some timestamp went back after all: from now on, until the file
    // changes, every scan of it reads it whole. Any thread.
    static void RememberSpotsMissed(int descriptor);

    // Where the data of the transport stream open on descriptor ends: the
    // end of its last packet that is not padding (PID 0x1FFF), which the
    // packets after it, to the end of the file, all are. The file's size
    // when it has no such tail, or is no transport stream; -1 for anything
    // but a regular file. A long tail of padding holds nothing of any
    // stream: read once, back from the end, and remembered until the file
    // changes, so that no later read of the file goes into it. A search
    // stopped between two reads (stopRequested answering true) answers the
    // file's size and is not remembered. Any thread.
    static long long DataEnd(int descriptor, std::function<bool()> const& stopRequested = {});

    // Whether the first headers PES of one of the given PIDs, in the start
    // of the file open on descriptor (256 KiB), all carry no timestamp: the
    // stream has none to time its pictures, nor to tell its length by.
    static bool StartsUntimed(int descriptor, std::vector<int> const& pids, int headers = 8);

    // The size of the file's packets (188, 192 or 204) and the offset of the
    // first one's sync byte, from the start of the file; false when no one
    // size fits.
    static bool FindPacketLayout(unsigned char const* data, long long size, int& packetSize, long long& firstSync);
};
