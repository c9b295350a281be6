#include "media/PictureArena.h"

#include <QtTest>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace
{

size_t const BLOCK = 3 * 1024 * 1024;

size_t PageSize()
{
    return static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// How many of the block's pages are backed by memory.
size_t ResidentPages(uint8_t const* data, size_t size)
{
    std::vector<unsigned char> pages((size + PageSize() - 1) / PageSize());
    if (mincore(const_cast<uint8_t*>(data), size, pages.data()) != 0)
    {
        return 0;
    }
    return static_cast<size_t>(std::count_if(pages.cbegin(), pages.cend(), [](unsigned char f) { return f & 1; }));
}

long MinorFaults()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

} // namespace

class TestPictureArena : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void FreedBlocksAreHandedOutAgainWithTheirPages();
    void MemoryBeyondTheLimitGoesBack();
    void ThreadsSharingKeptBlocksNeverOverlap();
};

void TestPictureArena::FreedBlocksAreHandedOutAgainWithTheirPages()
{
    PictureArena arena;
    arena.SetRetainLimit(4 * BLOCK);
    std::vector<uint8_t*> blocks;
    for (int i = 0; i < 3; ++i)
    {
        blocks.push_back(arena.Allocate(BLOCK));
        QVERIFY(blocks.back());
        std::memset(blocks.back(), 10 + i, BLOCK);
    }
    size_t const reserved = arena.ReservedBytes();
    QCOMPARE(arena.UsedBytes(), 3 * BLOCK);
    for (uint8_t* block : blocks)
    {
        arena.Free(block, BLOCK);
    }
    QCOMPARE(arena.UsedBytes(), size_t(0));
    QCOMPARE(arena.RetainedBytes(), 3 * BLOCK);

    // The next pictures land on the freed blocks, whose pages were never
    // given back: what was written is still there, and writing them again
    // faults nothing in. No address space is added.
    std::set<uint8_t*> const freed(blocks.cbegin(), blocks.cend());
    for (int i = 0; i < 3; ++i)
    {
        uint8_t* const again = arena.Allocate(BLOCK);
        QVERIFY(freed.count(again) == 1);
        QCOMPARE(ResidentPages(again, BLOCK), BLOCK / PageSize());
        QVERIFY(again[0] >= 10 && again[0] <= 12 && again[BLOCK - 1] == again[0]);
        long const faults = MinorFaults();
        std::memset(again, 99, BLOCK);
        QVERIFY2(MinorFaults() - faults < static_cast<long>(BLOCK / PageSize() / 8),
                 qPrintable(QStringLiteral("%1 page faults writing a kept block").arg(MinorFaults() - faults)));
    }
    QCOMPARE(arena.ReservedBytes(), reserved);
    QCOMPARE(arena.RetainedBytes(), size_t(0));
    for (uint8_t* block : blocks)
    {
        arena.Free(block, BLOCK);
    }
    // Given back on demand (the engine does once nothing decodes): the
    // address space goes with the last block.
    QCOMPARE(arena.RetainedBytes(), 3 * BLOCK);
    arena.ReleaseRetained();
    QCOMPARE(arena.RetainedBytes(), size_t(0));
    QCOMPARE(arena.ReservedBytes(), size_t(0));
}

void TestPictureArena::MemoryBeyondTheLimitGoesBack()
{
    PictureArena arena;
    arena.SetRetainLimit(2 * BLOCK);
    auto withinLimit = [&arena] {
        return arena.UsedBytes() + arena.RetainedBytes() <= std::max(arena.UsedBytes(), 2 * BLOCK);
    };
    std::vector<uint8_t*> blocks;
    for (int i = 0; i < 5; ++i)
    {
        blocks.push_back(arena.Allocate(BLOCK));
        std::memset(blocks.back(), 1, BLOCK);
    }
    // Freed while five are in use: the first three give their pages back,
    // the last two fit within the limit and keep them.
    for (int i = 0; i < 5; ++i)
    {
        arena.Free(blocks[i], BLOCK);
        QVERIFY(withinLimit());
    }
    QCOMPARE(arena.RetainedBytes(), 2 * BLOCK);
    for (int i = 0; i < 3; ++i)
    {
        QCOMPARE(ResidentPages(blocks[i], BLOCK), size_t(0));
    }
    QCOMPARE(ResidentPages(blocks[3], BLOCK), BLOCK / PageSize());

    // Blocks in use beyond the limit push the kept ones out.
    std::vector<uint8_t*> again;
    for (int i = 0; i < 3; ++i)
    {
        again.push_back(arena.Allocate(BLOCK));
        std::memset(again.back(), 2, BLOCK);
        QVERIFY(withinLimit());
    }
    QCOMPARE(arena.RetainedBytes(), size_t(0));
    arena.Free(again[0], BLOCK);
    QCOMPARE(arena.RetainedBytes(), size_t(0)); // three were in use, over the limit
    arena.Free(again[1], BLOCK);
    QCOMPARE(arena.RetainedBytes(), BLOCK);

    // A block of another size is carved from a kept one that holds it.
    uint8_t* const small = arena.Allocate(BLOCK / 3);
    QCOMPARE(arena.RetainedBytes(), BLOCK - (BLOCK / 3 + PageSize() - 1) / PageSize() * PageSize());
    arena.Free(small, BLOCK / 3);

    // A lower limit gives back what no longer fits, at once.
    arena.SetRetainLimit(BLOCK);
    QVERIFY(arena.RetainedBytes() == 0);
    arena.Free(again[2], BLOCK);
    QCOMPARE(arena.RetainedBytes(), BLOCK);
    arena.SetRetainLimit(0);
    QCOMPARE(arena.RetainedBytes(), size_t(0));
    QCOMPARE(arena.ReservedBytes(), size_t(0));
}

void TestPictureArena::ThreadsSharingKeptBlocksNeverOverlap()
{
    // Blocks of mixed sizes made and freed in any order on several threads,
    // with some kept and handed out again: each keeps what was written into
    // it while it lives, and the bound holds throughout.
    PictureArena arena;
    size_t const limit = 24 * 1024 * 1024;
    arena.SetRetainLimit(limit);
    std::atomic<int> damaged {0};
    std::atomic<int> overLimit {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back([&, t] {
            std::vector<std::pair<uint8_t*, size_t>> held;
            for (int i = 0; i < 150; ++i)
            {
                size_t const size = (1 + (i * 7 + t) % 4) * 1024 * 1024 + static_cast<size_t>(i % 3) * 4096 + 100;
                uint8_t* const block = arena.Allocate(size);
                if (!block)
                {
                    ++damaged;
                    return;
                }
                auto const mark = static_cast<uint8_t>(t * 64 + i % 64);
                std::memset(block, mark, size);
                held.emplace_back(block, size);
                if (held.size() > 3)
                {
                    size_t const victim = static_cast<size_t>(i) % held.size();
                    auto const [old, oldSize] = held[victim];
                    if (old[oldSize / 2] != old[0] || old[oldSize - 1] != old[0])
                    {
                        ++damaged;
                    }
                    arena.Free(old, oldSize);
                    held.erase(held.begin() + static_cast<std::ptrdiff_t>(victim));
                }
                if (arena.RetainedBytes() > limit)
                {
                    ++overLimit;
                }
            }
            for (auto const& [block, size] : held)
            {
                if (block[size - 1] != block[0])
                {
                    ++damaged;
                }
                arena.Free(block, size);
            }
        });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    QCOMPARE(damaged.load(), 0);
    QCOMPARE(overLimit.load(), 0);
    QCOMPARE(arena.UsedBytes(), size_t(0));
    QVERIFY(arena.RetainedBytes() <= limit);
    arena.ReleaseRetained();
    QCOMPARE(arena.ReservedBytes(), size_t(0));
}

QTEST_GUILESS_MAIN(TestPictureArena)
#include "tst_picturearena.moc"
