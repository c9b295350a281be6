#include "media/TsTimestampScan.h"

#include "app/UserFileGuard.h"

#include <QThread>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <tuple>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr unsigned char SYNC_BYTE = 0x47;
constexpr int TS_PACKET_SIZE = 188;
// Timestamps count on 33 bits and wrap.
constexpr long long WRAP = 1LL << 33;
// Past this much forward progress a stream could have wrapped all the way
// round, which the demuxer's own unwrapping would see differently.
constexpr long long LONGEST_PROGRESS = 1LL << 32;
// A step forward this long between two PES of one stream (10 s of 90 kHz
// ticks) is no pause a recording makes but a splice, or one corrupt
// timestamp: the demuxer tells which, as it does for a step back.
constexpr long long LEAP_TICKS = 10LL * 90000;
// The PES bytes that hold the stream id, the flags, the header length and
// both timestamps.
constexpr int PES_BYTES_NEEDED = 19;
// The start of the file that must show the packet layout.
constexpr long long PROBE_BYTES = 1LL << 20;
// Reads small enough to stay in the processor's cache while their packets
// are looked at.
constexpr long long READ_BYTES = 256LL << 10;
// A long file held in memory is scanned in parts side by side, each this
// long at least, as many as the cores allow up to MAX_PARTS: more would only
// wait on memory.
constexpr long long PART_BYTES = 32LL << 20;
constexpr int MAX_PARTS = 4;
// A file up to this long is read whole: a few reads, cheaper than seeking
// about in it.
constexpr long long WHOLE_READ_BYTES = 16LL << 20;
// A longer file is read in spots: one every SPOT_SPACING bytes at most (a
// longer file spreads MAX_SPOTS over its length), each at least SPOT_BYTES
// long and read SPOT_BYTES at a time, the last one reaching to the end.
constexpr long long SPOT_SPACING = 1LL << 20;
constexpr int MAX_SPOTS = 1024;
constexpr long long SPOT_BYTES = 32LL << 10;
constexpr long long SPOT_MORE_BYTES = 8LL << 10;
constexpr int SPOT_THREADS = 4;
// Between two spots whose timestamps advance at a pace off the file's usual
// one (a quarter slower, or half again as fast: a restart in between took
// time back, or a leap forward came after one), something may hide: the
// stretch is narrowed down by further spots, and read whole once it is this
// short.
constexpr double SLOW_PACE = 0.75;
constexpr double FAST_PACE = 1.5;
constexpr long long WHOLE_STRETCH_BYTES = 1LL << 20;
// The padding packets' PID.
constexpr int NULL_PID = 0x1fff;
// The start of a file that shows its packet layout to the search for the
// end of its data (64 packets of the longest size fit), which also reads
// that much back from the end first, and at most TAIL_READ_BYTES a read.
constexpr long long LAYOUT_BYTES = 64LL << 10;
constexpr long long TAIL_READ_BYTES = 1LL << 20;
// The start of a file in which the first PES of a stream without
// timestamps are looked for.
constexpr long long UNTIMED_PROBE_BYTES = 256LL << 10;
// Files whose data end is remembered; past this many the memory starts over.
constexpr size_t MOST_DATA_ENDS = 256;

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
    // The first and the latest decoding timestamp, and how far the latest
    // is past the first.
    long long first = 0;
    long long latest = 0;
    long long progress = 0;
    // Where the PES of the first and of the latest timestamp start in the
    // file.
    long long firstAt = 0;
    long long latestAt = 0;
    // Where the PES being gathered starts.
    long long startAt = 0;

    void Start(long long at)
    {
        filled = 0;
        collecting = true;
        startAt = at;
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
            if (step > LEAP_TICKS)
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
        if (!seenTimestamp)
        {
            first = dts;
            firstAt = startAt;
        }
        seenTimestamp = true;
        latest = dts;
        latestAt = startAt;
    }

    // Goes on with the next stretch of the file, scanned on its own from the
    // first PES that starts in it, as if it had been read after this one.
    // Adjoining, it starts where this one ends, and a leap between the two
    // counts as within one stretch.
    void Follow(PidState const& next, bool adjoining)
    {
        if (verdict != Verdict::Steady)
        {
            return;
        }
        if (next.seenTimestamp)
        {
            if (seenTimestamp)
            {
                long long const step = WrappedDifference(next.first, latest);
                if (step < 0 || (adjoining && step > LEAP_TICKS))
                {
                    verdict = Verdict::MayGoBack;
                    return;
                }
                progress += step;
            }
            else
            {
                first = next.first;
                firstAt = next.firstAt;
            }
            // The progress only grows: a stretch that took it past the
            // limit did so before anything else it met.
            progress += next.progress;
            if (progress > LONGEST_PROGRESS)
            {
                verdict = Verdict::Unknown;
                return;
            }
            seenTimestamp = true;
            latest = next.latest;
            latestAt = next.latestAt;
        }
        verdict = next.verdict;
    }
};

// Whether nine in ten of the file's pages or more are in memory, so that
// reading it in parts side by side costs few seeks on a disk. The mapping is
// never read. The system answers only for a file one owns or may write to.
bool HeldInMemory(int descriptor, long long size)
{
    long long const page = sysconf(_SC_PAGESIZE);
    if (size <= 0 || page <= 0)
    {
        return false;
    }
    void* mapped = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, descriptor, 0);
    if (mapped == MAP_FAILED)
    {
        return false;
    }
    std::vector<unsigned char> pages(static_cast<size_t>((size + page - 1) / page));
    bool const held = mincore(mapped, static_cast<size_t>(size), pages.data()) == 0 &&
                      std::count_if(pages.cbegin(), pages.cend(), [](unsigned char flags) { return flags & 1; }) >=
                          static_cast<long long>(pages.size()) * 9 / 10;
    munmap(mapped, static_cast<size_t>(size));
    return held;
}

// Reads up to size bytes at offset; what was read, 0 at the end, -1 on an
// error.
long long ReadAt(int descriptor, unsigned char* data, long long size, long long offset)
{
    ssize_t read = 0;
    do
    {
        read = ::pread(descriptor, data, static_cast<size_t>(size), offset);
    } while (read < 0 && errno == EINTR);
    return read;
}

struct PartResult
{
    std::vector<PidState> states;
    // The packets went out of step, or the scan was stopped.
    bool lostSync = false;
    // The PES that start from the part's beginning up to here were read.
    long long covered = 0;
    // The bytes read.
    long long read = 0;
};

// Where a part is read, and how.
struct PartBounds
{
    // A packet's first byte.
    long long begin = 0;
    // The PES that start from begin up to end are read, and past end only
    // the headers begun before it: the next part reads from the first PES
    // that starts in it.
    long long end = 0;
    // With untilTimestamps, the part goes on past end up to limit until each
    // stream still steady has a timestamp.
    bool untilTimestamps = false;
    long long limit = 0;
    // The first read, and each one after it.
    long long readBytes = READ_BYTES;
    long long moreBytes = READ_BYTES;
};

PartResult ScanPart(int descriptor, long long size, std::vector<int> const& pids, int packetSize,
                    PartBounds const& bounds, std::function<bool()> const& stopRequested)
{
    PartResult result;
    result.states.resize(pids.size());
    for (size_t i = 0; i < pids.size(); ++i)
    {
        result.states[i].pid = pids[i];
    }
    std::vector<PidState>& states = result.states;
    auto const any = [&states](bool collecting) {
        return std::any_of(states.cbegin(), states.cend(), [collecting](PidState const& state) {
            return state.verdict == Verdict::Steady && (!collecting || state.collecting);
        });
    };
    auto const timed = [&states] {
        return std::all_of(states.cbegin(), states.cend(), [](PidState const& state) {
            return state.verdict != Verdict::Steady || state.seenTimestamp;
        });
    };
    // Once past, the part takes no PES start any more.
    bool past = false;
    auto const pastAt = [&](long long at) {
        if (!past && at >= bounds.end && (!bounds.untilTimestamps || at >= bounds.limit || timed()))
        {
            past = true;
            result.covered = at;
        }
        return past;
    };
    long long const readBytes = std::max<long long>(bounds.readBytes, 2 * packetSize);
    std::vector<unsigned char> buffer(static_cast<size_t>(readBytes));
    // The file offset of the buffer's first byte, the bytes in it, and the
    // next packet's place in it.
    long long offset = bounds.begin;
    long long filled = 0;
    long long position = 0;
    result.covered = size;
    for (;;)
    {
        bool const atEnd = offset + filled >= size;
        while (position + packetSize <= filled ||
               (position + TS_PACKET_SIZE <= filled && atEnd && position + packetSize > filled))
        {
            if (pastAt(offset + position) && !any(true))
            {
                return result;
            }
            unsigned char const* packet = buffer.data() + position;
            long long const packetAt = offset + position;
            position += packetSize;
            if (packet[0] != SYNC_BYTE)
            {
                result.lostSync = true;
                return result;
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
                // A PES that starts past the end is the next part's.
                if (past)
                {
                    state->collecting = false;
                    continue;
                }
                state->Start(packetAt);
            }
            state->Add(packet + payload, TS_PACKET_SIZE - payload);
        }
        if (!any(false) || atEnd || (pastAt(offset + position) && !any(true)))
        {
            return result;
        }
        if (stopRequested && stopRequested())
        {
            result.lostSync = true;
            return result;
        }
        // Keep the part of a packet the last read cut off.
        long long const kept = filled - position;
        std::memmove(buffer.data(), buffer.data() + position, static_cast<size_t>(kept));
        long long const wanted = std::max<long long>(result.read == 0 ? readBytes : bounds.moreBytes, packetSize);
        long long const read =
            ReadAt(descriptor, buffer.data() + kept, std::min(wanted, readBytes - kept), offset + filled);
        if (read <= 0)
        {
            // A file that shrank while it was read has no steady answer.
            result.lostSync = true;
            return result;
        }
        result.read += read;
        offset += position;
        filled = kept + read;
        position = 0;
    }
}

// Each stream's parts, in file order (adjoining: each from where the one
// before ended), as one scan would have met them: the verdicts, and the
// streams' states so far. Nothing after packets out of step is reached.
std::vector<Verdict> Merge(std::vector<PartResult const*> const& parts, size_t count, bool adjoining,
                           std::vector<PidState>* mergedStates = nullptr)
{
    bool lostSync = false;
    std::vector<PidState> merged(count);
    for (PartResult const* part : parts)
    {
        for (size_t i = 0; i < merged.size(); ++i)
        {
            merged[i].Follow(part->states[i], adjoining);
        }
        if (part->lostSync)
        {
            lostSync = true;
            break;
        }
    }
    std::vector<Verdict> verdicts(count, Verdict::Unknown);
    for (size_t i = 0; i < merged.size(); ++i)
    {
        Verdict const verdict = merged[i].verdict;
        bool const steady = verdict == Verdict::Steady && merged[i].seenTimestamp && !lostSync;
        verdicts[i] = steady ? Verdict::Steady : (verdict == Verdict::MayGoBack ? verdict : Verdict::Unknown);
    }
    if (mergedStates)
    {
        *mergedStates = std::move(merged);
    }
    return verdicts;
}

struct Layout
{
    int descriptor = -1;
    long long size = 0;
    int packetSize = TS_PACKET_SIZE;
    long long firstSync = 0;
};

// Every packet, in parts side by side.
std::vector<Verdict> ScanWhole(Layout const& layout, std::vector<int> const& pids,
                               std::function<bool()> const& stopRequested, int parts)
{
    // Parts start on packet boundaries.
    long long const packets = (layout.size - layout.firstSync) / layout.packetSize;
    if (parts <= 0)
    {
        parts = layout.size >= 2 * PART_BYTES && HeldInMemory(layout.descriptor, layout.size)
                    ? static_cast<int>(std::min<long long>(std::clamp(QThread::idealThreadCount(), 1, MAX_PARTS),
                                                           layout.size / PART_BYTES))
                    : 1;
    }
    parts = static_cast<int>(std::clamp<long long>(parts, 1, std::max(packets, 1LL)));
    std::vector<PartResult> results(static_cast<size_t>(parts));
    auto const scanPart = [&](int k) {
        PartBounds bounds;
        bounds.begin = layout.firstSync + packets * k / parts * layout.packetSize;
        bounds.end = k + 1 < parts ? layout.firstSync + packets * (k + 1) / parts * layout.packetSize : layout.size;
        bounds.limit = bounds.end;
        results[static_cast<size_t>(k)] =
            ScanPart(layout.descriptor, layout.size, pids, layout.packetSize, bounds, stopRequested);
    };
    // The calling thread scans the first part; a thread each scans the rest.
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(parts - 1));
    for (int k = 1; k < parts; ++k)
    {
        threads.emplace_back(scanPart, k);
    }
    scanPart(0);
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    std::vector<PartResult const*> ordered;
    for (PartResult const& part : results)
    {
        ordered.push_back(&part);
    }
    return Merge(ordered, pids.size(), true);
}

// A stretch between two spots not read whole, each stream's pace across
// it in ticks a byte (none where a spot on either side holds no timestamp
// of it: odd).
struct Stretch
{
    long long begin = 0;
    long long end = 0;
    bool odd = false;
    std::vector<std::optional<double>> paces;
};

// Spots spread over the file, and more between two of them wherever the
// timestamps advance at an odd pace, down to whole stretches read.
class SpotScan
{
public:
    SpotScan(Layout const& layout, std::vector<int> const& pids, std::function<bool()> const& stopRequested)
        : mLayout(layout), mPids(pids), mStopRequested(stopRequested),
          mPackets((layout.size - layout.firstSync) / layout.packetSize)
    {
    }

    // Nothing when the spots would read too much of the file: it is then
    // read whole.
    std::optional<std::vector<Verdict>> Run()
    {
        ReadFirstSpots();
        long long const budget = std::max(4 * mRead, 4 * WHOLE_STRETCH_BYTES);
        for (;;)
        {
            std::vector<Verdict> const verdicts = MergeSpots();
            bool const settled = std::none_of(verdicts.cbegin(), verdicts.cend(),
                                              [](Verdict verdict) { return verdict == Verdict::Steady; });
            if (settled || (mStopRequested && mStopRequested()))
            {
                return settled ? verdicts : std::vector<Verdict>(mPids.size(), Verdict::Unknown);
            }
            std::vector<Stretch> stretches = StretchesBetweenSpots(verdicts);
            MarkOddPaces(stretches);
            bool narrowed = false;
            for (Stretch const& stretch : stretches)
            {
                if (!stretch.odd)
                {
                    continue;
                }
                if (mRead > budget)
                {
                    return std::nullopt;
                }
                narrowed = true;
                NarrowStretch(stretch);
            }
            if (!narrowed)
            {
                return verdicts;
            }
        }
    }

private:
    // The packet boundary at or before a byte.
    long long Boundary(long long at) const
    {
        long long const index = std::clamp<long long>((at - mLayout.firstSync) / mLayout.packetSize, 0, mPackets);
        return mLayout.firstSync + index * mLayout.packetSize;
    }

    // A spot from begin, up to limit at most; a whole one reads every packet
    // up to limit.
    PartResult ScanSpot(long long begin, long long limit, bool whole) const
    {
        PartBounds bounds;
        bounds.begin = begin;
        bounds.limit = limit;
        bounds.end = whole ? limit : std::min(begin + SPOT_BYTES, limit);
        bounds.untilTimestamps = !whole;
        bounds.readBytes = whole && limit - begin > SPOT_BYTES ? READ_BYTES : SPOT_BYTES;
        // Past its first read, a spot mostly lacks the end of one header.
        bounds.moreBytes = whole ? bounds.readBytes : SPOT_MORE_BYTES;
        return ScanPart(mLayout.descriptor, mLayout.size, mPids, mLayout.packetSize, bounds, mStopRequested);
    }

    void ReadSpot(long long begin, long long limit, bool whole)
    {
        PartResult result = ScanSpot(begin, limit, whole);
        mRead += result.read;
        mSpots[begin] = std::move(result);
    }

    // The first spots, spread evenly, the last reading the end of the file.
    // They are read by a few threads side by side: from a disk or a share,
    // reads at places far apart take more waiting than work.
    void ReadFirstSpots()
    {
        int const count = static_cast<int>(std::clamp<long long>(mLayout.size / SPOT_SPACING, 2, MAX_SPOTS));
        std::vector<long long> begins;
        for (int k = 0; k + 1 < count; ++k)
        {
            begins.push_back(mLayout.firstSync + mPackets * k / (count - 1) * mLayout.packetSize);
        }
        begins.push_back(std::max(begins.back() + mLayout.packetSize, Boundary(mLayout.size - SPOT_BYTES)));
        std::vector<PartResult> first(begins.size());
        auto const readFirst = [&](size_t thread, size_t threads) {
            for (size_t k = thread; k < begins.size(); k += threads)
            {
                bool const last = k + 1 == begins.size();
                first[k] = ScanSpot(begins[k], last ? mLayout.size : begins[k + 1], last);
            }
        };
        size_t const threads = std::min<size_t>(SPOT_THREADS, begins.size());
        std::vector<std::thread> readers;
        for (size_t thread = 1; thread < threads; ++thread)
        {
            readers.emplace_back(readFirst, thread, threads);
        }
        readFirst(0, threads);
        for (std::thread& reader : readers)
        {
            reader.join();
        }
        for (size_t k = 0; k < begins.size(); ++k)
        {
            mRead += first[k].read;
            mSpots[begins[k]] = std::move(first[k]);
        }
    }

    std::vector<Verdict> MergeSpots() const
    {
        std::vector<PartResult const*> ordered;
        for (auto const& [begin, spot] : mSpots)
        {
            ordered.push_back(&spot);
        }
        return Merge(ordered, mPids.size(), false);
    }

    // The stretches between two spots not read whole, with the pace of each
    // stream still steady across them.
    std::vector<Stretch> StretchesBetweenSpots(std::vector<Verdict> const& verdicts) const
    {
        std::vector<Stretch> stretches;
        for (auto at = mSpots.cbegin(); std::next(at) != mSpots.cend(); ++at)
        {
            auto const next = std::next(at);
            if (at->second.covered >= next->first)
            {
                continue;
            }
            Stretch stretch {at->second.covered, next->first, false,
                             std::vector<std::optional<double>>(mPids.size())};
            for (size_t i = 0; i < mPids.size(); ++i)
            {
                PidState const& before = at->second.states[i];
                PidState const& after = next->second.states[i];
                if (verdicts[i] != Verdict::Steady)
                {
                    continue;
                }
                if (!before.seenTimestamp || !after.seenTimestamp || after.firstAt <= before.latestAt)
                {
                    stretch.odd = true;
                    continue;
                }
                stretch.paces[i] = static_cast<double>(WrappedDifference(after.first, before.latest)) /
                                   static_cast<double>(after.firstAt - before.latestAt);
            }
            stretches.push_back(std::move(stretch));
        }
        return stretches;
    }

    // A stretch is odd too where a stream's pace across it is far from that
    // stream's usual pace (the median over the stretches).
    void MarkOddPaces(std::vector<Stretch>& stretches) const
    {
        for (size_t i = 0; i < mPids.size(); ++i)
        {
            std::vector<double> paces;
            for (Stretch const& stretch : stretches)
            {
                if (stretch.paces[i])
                {
                    paces.push_back(*stretch.paces[i]);
                }
            }
            if (paces.empty())
            {
                continue;
            }
            std::nth_element(paces.begin(), paces.begin() + paces.size() / 2, paces.end());
            double const usual = paces[paces.size() / 2];
            for (Stretch& stretch : stretches)
            {
                std::optional<double> const pace = stretch.paces[i];
                stretch.odd = stretch.odd || (pace && (*pace > FAST_PACE * usual || *pace < SLOW_PACE * usual));
            }
        }
    }

    // A short stretch is read whole; a longer one gets a spot at its middle.
    void NarrowStretch(Stretch const& stretch)
    {
        if (stretch.end - stretch.begin <= WHOLE_STRETCH_BYTES)
        {
            ReadSpot(stretch.begin, stretch.end, true);
        }
        else
        {
            ReadSpot(Boundary(stretch.begin + (stretch.end - stretch.begin) / 2), stretch.end, false);
        }
    }

    Layout const& mLayout;
    std::vector<int> const& mPids;
    std::function<bool()> const& mStopRequested;
    long long const mPackets;
    std::map<long long, PartResult> mSpots; // the spots read so far, by where they begin
    long long mRead = 0;                    // bytes read by them
};

std::optional<std::vector<Verdict>> ScanSpots(Layout const& layout, std::vector<int> const& pids,
                                              std::function<bool()> const& stopRequested)
{
    return SpotScan(layout, pids, stopRequested).Run();
}

// A file as it stands: device, inode, size and time of the last change.
using FileIdentity = std::tuple<dev_t, ino_t, off_t, time_t, long>;

FileIdentity IdentityOf(struct stat const& status)
{
    return {status.st_dev, status.st_ino, status.st_size, status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
}

// The files whose spots missed a step back. Made once and never freed: a
// check still reading as the process ends may add to it.
struct SpotsMissed
{
    std::mutex mutex;
    std::set<FileIdentity> files;
};

SpotsMissed& SpotsMissedFiles()
{
    static auto* files = new SpotsMissed;
    return *files;
}

// The data ends found, per file as it stands. Made once and never freed,
// like SpotsMissed.
struct DataEnds
{
    std::mutex mutex;
    std::map<FileIdentity, long long> ends;
};

DataEnds& KnownDataEnds()
{
    static auto* ends = new DataEnds;
    return *ends;
}

// Whether the packet (or the start of one cut off by the file's end) at data
// is padding.
bool IsPadding(unsigned char const* data, long long bytes)
{
    return bytes >= 3 && data[0] == SYNC_BYTE && (((data[1] & 0x1f) << 8) | data[2]) == NULL_PID;
}

// The end of the last packet that is not padding, looking back from the
// file's end over the packets of the layout; the file's size when the last
// one is not; -1 when stopped or the file shrank.
long long FindDataEnd(int descriptor, long long size, int packetSize, long long firstSync,
                      std::function<bool()> const& stopRequested)
{
    long long const packets = (size - firstSync) / packetSize;
    long long const whole = firstSync + packets * packetSize;
    std::vector<unsigned char> buffer(static_cast<size_t>(TAIL_READ_BYTES / packetSize * packetSize));
    // A packet cut off by the end of the file.
    if (whole < size)
    {
        long long const bytes = std::min<long long>(size - whole, packetSize);
        if (ReadAt(descriptor, buffer.data(), bytes, whole) != bytes || !IsPadding(buffer.data(), bytes))
        {
            return size;
        }
    }
    // Most files end on data: the first read is short, and each one after
    // it twice as long as the one before.
    long long perRead = LAYOUT_BYTES / packetSize;
    for (long long last = packets; last > 0;)
    {
        long long const first = std::max(last - perRead, 0LL);
        perRead = std::min(2 * perRead, static_cast<long long>(buffer.size()) / packetSize);
        long long const bytes = (last - first) * packetSize;
        long long const from = firstSync + first * packetSize;
        if ((stopRequested && stopRequested()) || ReadAt(descriptor, buffer.data(), bytes, from) != bytes)
        {
            return -1;
        }
        for (long long k = last - first - 1; k >= 0; --k)
        {
            if (!IsPadding(buffer.data() + k * packetSize, packetSize))
            {
                long long const end = from + (k + 1) * packetSize;
                return end == whole ? size : end;
            }
        }
        last = first;
    }
    // Nothing but padding: the demuxer finds no stream in it either way.
    return firstSync;
}

} // namespace

long long TsTimestampScan::DataEnd(int descriptor, std::function<bool()> const& stopRequested)
{
    struct stat status = {};
    if (descriptor < 0 || ::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
    {
        return -1;
    }
    FileIdentity const identity = IdentityOf(status);
    DataEnds& known = KnownDataEnds();
    {
        std::lock_guard<std::mutex> const lock(known.mutex);
        auto const found = known.ends.find(identity);
        if (found != known.ends.cend())
        {
            return found->second;
        }
    }
    long long const size = status.st_size;
    std::vector<unsigned char> probe(static_cast<size_t>(std::min(size, LAYOUT_BYTES)));
    long long const probed = ReadAt(descriptor, probe.data(), static_cast<long long>(probe.size()), 0);
    int packetSize = 0;
    long long firstSync = 0;
    long long const end = probed > 0 && FindPacketLayout(probe.data(), probed, packetSize, firstSync)
                              ? FindDataEnd(descriptor, size, packetSize, firstSync, stopRequested)
                              : size;
    // Stopped, or the file shrank as it was read: nothing to remember.
    if (end < 0)
    {
        return size;
    }
    std::lock_guard<std::mutex> const lock(known.mutex);
    if (known.ends.size() >= MOST_DATA_ENDS)
    {
        known.ends.clear();
    }
    known.ends[identity] = end;
    return end;
}

bool TsTimestampScan::StartsUntimed(int descriptor, std::vector<int> const& pids, int headers)
{
    struct stat status = {};
    if (pids.empty() || descriptor < 0 || ::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
    {
        return false;
    }
    std::vector<unsigned char> data(static_cast<size_t>(std::min<long long>(status.st_size, UNTIMED_PROBE_BYTES)));
    long long const read = ReadAt(descriptor, data.data(), static_cast<long long>(data.size()), 0);
    int packetSize = 0;
    long long at = 0;
    if (read <= 0 || !FindPacketLayout(data.data(), read, packetSize, at))
    {
        return false;
    }
    std::vector<int> untimed(pids.size(), 0);
    for (; at + TS_PACKET_SIZE <= read; at += packetSize)
    {
        unsigned char const* packet = data.data() + at;
        if (packet[0] != SYNC_BYTE)
        {
            return false;
        }
        int const pid = ((packet[1] & 0x1f) << 8) | packet[2];
        auto const found = std::find(pids.cbegin(), pids.cend(), pid);
        int const control = (packet[3] >> 4) & 3;
        if (found == pids.cend() || !(packet[1] & 0x40) || !(control & 1))
        {
            continue;
        }
        int const payload = 4 + ((control & 2) ? packet[4] + 1 : 0);
        unsigned char const* pes = packet + payload;
        if (payload + 9 > TS_PACKET_SIZE || pes[0] != 0 || pes[1] != 0 || pes[2] != 1 || pes[3] < 0xbd)
        {
            continue;
        }
        int& count = untimed[static_cast<size_t>(found - pids.cbegin())];
        // One that carries a timestamp times its stream.
        count = (pes[7] & 0x80) || count < 0 ? -1 : count + 1;
        // PES headers each whole in their first packet.
        if (count >= headers)
        {
            return true;
        }
    }
    return false;
}

void TsTimestampScan::RememberSpotsMissed(int descriptor)
{
    struct stat status = {};
    if (descriptor < 0 || ::fstat(descriptor, &status) != 0)
    {
        return;
    }
    SpotsMissed& missed = SpotsMissedFiles();
    std::lock_guard<std::mutex> const lock(missed.mutex);
    missed.files.insert(IdentityOf(status));
}

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
                                                            std::function<bool()> const& stopRequested, int parts)
{
    QString reason;
    int const descriptor = UserFileGuard::OpenDescriptor(path, std::numeric_limits<qint64>::max(), reason);
    if (descriptor < 0)
    {
        return std::vector<Verdict>(pids.size(), Verdict::Unknown);
    }
    std::vector<Verdict> verdicts = Scan(descriptor, pids, stopRequested, parts);
    ::close(descriptor);
    return verdicts;
}

std::vector<TsTimestampScan::Verdict> TsTimestampScan::Scan(int descriptor, std::vector<int> const& pids,
                                                            std::function<bool()> const& stopRequested, int parts,
                                                            bool* spotted)
{
    if (spotted)
    {
        *spotted = false;
    }
    std::vector<Verdict> verdicts(pids.size(), Verdict::Unknown);
    struct stat status = {};
    if (pids.empty() || descriptor < 0 || ::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
    {
        return verdicts;
    }
    // Nothing after the data's end holds a timestamp.
    long long const size = std::clamp<long long>(DataEnd(descriptor), 0, status.st_size);
    std::vector<unsigned char> probe(static_cast<size_t>(std::min(size, PROBE_BYTES)));
    long long const probed = ReadAt(descriptor, probe.data(), static_cast<long long>(probe.size()), 0);
    int packetSize = 0;
    long long firstSync = 0;
    if (probed <= 0 || (stopRequested && stopRequested()) ||
        !FindPacketLayout(probe.data(), probed, packetSize, firstSync))
    {
        return verdicts;
    }
    probe = {};

    Layout const layout {descriptor, size, packetSize, firstSync};
    bool missedBefore = false;
    {
        SpotsMissed& missed = SpotsMissedFiles();
        std::lock_guard<std::mutex> const lock(missed.mutex);
        missedBefore = missed.files.count(IdentityOf(status)) > 0;
    }
    if (parts <= 0 && size > WHOLE_READ_BYTES && !missedBefore)
    {
        std::optional<std::vector<Verdict>> fromSpots = ScanSpots(layout, pids, stopRequested);
        if (fromSpots)
        {
            if (spotted)
            {
                *spotted = true;
            }
            return *fromSpots;
        }
    }
    return ScanWhole(layout, pids, stopRequested, parts);
}
