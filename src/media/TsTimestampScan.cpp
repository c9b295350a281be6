#include "media/TsTimestampScan.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cstring>

namespace
{

constexpr unsigned char SYNC_BYTE = 0x47;
constexpr int TS_PACKET_SIZE = 188;
// Timestamps count on 33 bits and wrap.
constexpr long long WRAP = 1LL << 33;
// Past this much forward progress a stream could have wrapped all the way
// round, which the demuxer's own unwrapping would see differently.
constexpr long long LONGEST_PROGRESS = 1LL << 32;
// The PES bytes that hold the stream id, the flags, the header length and
// both timestamps.
constexpr int PES_BYTES_NEEDED = 19;

using Verdict = TsTimestampScan::Verdict;

// The difference a - b of two 33-bit timestamps, taken the short way round.
long long WrappedDifference(long long a, long long b)
{
    long long difference = (a - b) % WRAP;
    if (difference < 0)
    {
        difference += WRAP;
    }
    return difference >= WRAP / 2 ? difference - WRAP : difference;
}

long long ReadTimestamp(unsigned char const* r)
{
    return (static_cast<long long>((r[0] >> 1) & 0x07) << 30) |
           (static_cast<long long>(((r[1] << 8) | r[2]) >> 1) << 15) | (((r[3] << 8) | r[4]) >> 1);
}

// One PID's PES headers as they arrive packet by packet.
struct PidState
{
    int pid = -1;
    Verdict verdict = Verdict::Steady;
    // The PES header being gathered; collecting is false between PES
    // packets and once this one's timestamps were read.
    std::array<unsigned char, PES_BYTES_NEEDED> header {};
    int filled = 0;
    bool collecting = false;
    bool seenTimestamp = false;
    long long latest = 0;
    long long progress = 0;

    void Start()
    {
        filled = 0;
        collecting = true;
    }

    void Add(unsigned char const* payload, int size)
    {
        if (!collecting || verdict != Verdict::Steady)
        {
            return;
        }
        int const count = std::min(size, PES_BYTES_NEEDED - filled);
        std::memcpy(header.data() + filled, payload, static_cast<size_t>(count));
        filled += count;
        Read();
    }

    // Reads the header as far as it has arrived.
    void Read()
    {
        if (filled >= 6)
        {
            // Not a PES start: the demuxer skips what follows.
            if (header[0] != 0 || header[1] != 0 || header[2] != 1)
            {
                collecting = false;
                return;
            }
            int const code = header[3] | 0x100;
            // Padding, and the stream types that carry no PES header.
            if (code == 0x1be || code == 0x1bc || code == 0x1bf || code == 0x1f0 || code == 0x1f1 ||
                code == 0x1ff || code == 0x1f2 || code == 0x1f8)
            {
                collecting = false;
                verdict = code == 0x1be ? verdict : Verdict::Unknown;
                return;
            }
        }
        if (filled < 9)
        {
            return;
        }
        unsigned int const flags = header[7] & 0xc0;
        int const headerLength = header[8];
        int const needed = flags == 0xc0 ? 10 : 5;
        // A picture without its own timestamp is timed by the demuxer's
        // guess; a header too short for its timestamps is read from stale
        // bytes. Neither can be told from here.
        if ((flags != 0x80 && flags != 0xc0) || headerLength < needed)
        {
            collecting = false;
            verdict = Verdict::Unknown;
            return;
        }
        if (filled < 9 + needed)
        {
            return;
        }
        collecting = false;
        long long const pts = ReadTimestamp(header.data() + 9);
        long long const dts = flags == 0xc0 ? ReadTimestamp(header.data() + 14) : pts;
        if (WrappedDifference(pts, dts) < 0)
        {
            verdict = Verdict::MayGoBack;
            return;
        }
        if (seenTimestamp)
        {
            long long const step = WrappedDifference(dts, latest);
            if (step < 0)
            {
                verdict = Verdict::MayGoBack;
                return;
            }
            progress += step;
            if (progress > LONGEST_PROGRESS)
            {
                verdict = Verdict::Unknown;
                return;
            }
        }
        seenTimestamp = true;
        latest = dts;
    }
};

} // namespace

bool TsTimestampScan::FindPacketLayout(unsigned char const* data, long long size, int& packetSize,
                                       long long& firstSync)
{
    // The demuxer starts at the first sync byte it meets.
    auto const* sync = static_cast<unsigned char const*>(std::memchr(data, SYNC_BYTE, static_cast<size_t>(size)));
    if (!sync)
    {
        return false;
    }
    long long const start = sync - data;
    int found = 0;
    for (int const candidate : {188, 192, 204})
    {
        long long const packets = (size - start) / candidate;
        // Enough packets to tell the sizes apart, all in step.
        if (packets < 4)
        {
            continue;
        }
        bool inStep = true;
        for (long long k = 0; k < std::min(packets, 64LL) && inStep; ++k)
        {
            inStep = data[start + k * candidate] == SYNC_BYTE;
        }
        if (inStep)
        {
            packetSize = candidate;
            ++found;
        }
    }
    firstSync = start;
    return found == 1;
}

std::vector<TsTimestampScan::Verdict> TsTimestampScan::Scan(QString const& path, std::vector<int> const& pids,
                                                            std::function<bool()> const& stopRequested)
{
    std::vector<Verdict> verdicts(pids.size(), Verdict::Unknown);
    std::vector<PidState> states(pids.size());
    for (size_t i = 0; i < pids.size(); ++i)
    {
        states[i].pid = pids[i];
    }
    QFile file(path);
    if (pids.empty() || !file.open(QIODevice::ReadOnly))
    {
        return verdicts;
    }

    constexpr long long CHUNK = 4LL << 20;
    std::vector<unsigned char> buffer(static_cast<size_t>(CHUNK));
    long long filled = file.read(reinterpret_cast<char*>(buffer.data()), CHUNK);
    int packetSize = 0;
    long long position = 0;
    if (filled <= 0 || (stopRequested && stopRequested()) ||
        !FindPacketLayout(buffer.data(), filled, packetSize, position))
    {
        return verdicts;
    }

    // True when the packets went out of step, or the scan was stopped.
    bool const lostSync = [&] {
        for (;;)
        {
            while (position + packetSize <= filled ||
                   (position + TS_PACKET_SIZE <= filled && file.atEnd() && position + packetSize > filled))
            {
                unsigned char const* packet = buffer.data() + position;
                position += packetSize;
                if (packet[0] != SYNC_BYTE)
                {
                    return true;
                }
                int const pid = ((packet[1] & 0x1f) << 8) | packet[2];
                PidState* state = nullptr;
                for (PidState& candidate : states)
                {
                    state = candidate.pid == pid ? &candidate : state;
                }
                if (!state || state->verdict != Verdict::Steady)
                {
                    continue;
                }
                int const control = (packet[3] >> 4) & 3;
                // Reserved, or no payload: the demuxer passes it by.
                if (control == 0 || !(control & 1))
                {
                    continue;
                }
                int const payload = 4 + ((control & 2) ? packet[4] + 1 : 0);
                if (payload >= TS_PACKET_SIZE)
                {
                    continue;
                }
                if (packet[1] & 0x40)
                {
                    state->Start();
                }
                state->Add(packet + payload, TS_PACKET_SIZE - payload);
            }
            bool const undecided = std::any_of(states.cbegin(), states.cend(),
                                               [](PidState const& state) { return state.verdict == Verdict::Steady; });
            if (!undecided || file.atEnd())
            {
                return false;
            }
            if (stopRequested && stopRequested())
            {
                return true;
            }
            // Keep the part of a packet the last read cut off.
            long long const kept = filled - position;
            std::memmove(buffer.data(), buffer.data() + position, static_cast<size_t>(kept));
            long long const read = file.read(reinterpret_cast<char*>(buffer.data() + kept), CHUNK - kept);
            if (read < 0)
            {
                return true;
            }
            filled = kept + read;
            position = 0;
            if (read == 0)
            {
                return false;
            }
        }
    }();

    for (size_t i = 0; i < states.size(); ++i)
    {
        Verdict const verdict = states[i].verdict;
        bool const steady = verdict == Verdict::Steady && states[i].seenTimestamp && !lostSync;
        verdicts[i] = steady ? Verdict::Steady : (verdict == Verdict::MayGoBack ? verdict : Verdict::Unknown);
    }
    return verdicts;
}
