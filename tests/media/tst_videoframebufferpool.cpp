#include "media/VideoFrame.h"
#include "media/VideoFrameBufferPool.h"
#include "BenchMemory.h"

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <latch>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

#include <thread>
#include <vector>

class TestVideoFrameBufferPool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ReleasedBuffersAreReusedUpToTheIdleLimit();
    void BuffersOutliveTheirPool();
    void ThreadsShareThePool();
    void AdoptedPlanesKeepTheirLayout();
    void FreedPicturesLeaveNothingResident();
    void PicturesFromManyThreadsNeverOverlap();
    void WarmBuffersAreMadeAheadWhileTakenAndEndWithTrim();
    void SharedPoolServesThreadsLeftRunningAtExit();
};

void TestVideoFrameBufferPool::ReleasedBuffersAreReusedUpToTheIdleLimit()
{
    auto pool = std::make_shared<VideoFrameBufferPool>(3000);
    uint8_t* first = nullptr;
    {
        VideoFrameBuffer buffer = pool->Acquire(1000);
        QVERIFY(buffer);
        first = buffer.get();
        QCOMPARE(pool->IdleCount(), 0);
    }
    QCOMPARE(pool->IdleBytes(), 1000LL);
    {
        // A buffer that fits closely is taken again; one far too big is not.
        VideoFrameBuffer again = pool->Acquire(900);
        QCOMPARE(again.get(), first);
        VideoFrameBuffer small = pool->Acquire(100);
        QVERIFY(small.get() != first);
        QCOMPARE(pool->IdleCount(), 0);
    }
    QCOMPARE(pool->IdleBytes(), 1100LL);
    {
        // Beyond the limit a released buffer is freed, not kept.
        std::vector<VideoFrameBuffer> held;
        for (int i = 0; i < 4; ++i)
        {
            held.push_back(pool->Acquire(1000));
        }
    }
    QVERIFY(pool->IdleBytes() <= 3000);
    pool->SetIdleLimit(500);
    QVERIFY(pool->IdleBytes() <= 500);
    pool->Trim();
    QCOMPARE(pool->IdleBytes(), 0LL);
    QCOMPARE(pool->IdleCount(), 0);
}

void TestVideoFrameBufferPool::BuffersOutliveTheirPool()
{
    auto pool = std::make_shared<VideoFrameBufferPool>();
    VideoFrameBuffer buffer = pool->Acquire(4096);
    buffer[4095] = 7;
    pool.reset();
    QCOMPARE(buffer[4095], uint8_t(7));
    buffer.reset(); // freed, with nothing to go back to (sanitizers check)
}

void TestVideoFrameBufferPool::ThreadsShareThePool()
{
    auto pool = std::make_shared<VideoFrameBufferPool>(64 * 1024);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back([pool, t] {
            for (int i = 0; i < 500; ++i)
            {
                VideoFrameBuffer buffer = pool->Acquire(static_cast<size_t>(1024 * (1 + (i + t) % 4)));
                buffer[0] = static_cast<uint8_t>(i);
            }
        });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    QVERIFY(pool->IdleBytes() <= 64 * 1024);
}

void TestVideoFrameBufferPool::AdoptedPlanesKeepTheirLayout()
{
    // A 4 x 3 YUV picture written into one pool buffer, planes end to end.
    auto pool = std::make_shared<VideoFrameBufferPool>();
    int const lineSizes[3] = {8, 4, 4};
    VideoFramePlanes planes;
    planes.buffer = pool->Acquire(8 * 3 + 2 * 4 * 2);
    uint8_t* base = planes.buffer.get();
    planes.data[0] = base;
    planes.data[1] = base + 24;
    planes.data[2] = base + 32;
    for (int i = 0; i < 3; ++i)
    {
        planes.lineSizes[i] = lineSizes[i];
    }
    planes.byteSize = 40;
    base[8 + 3] = 200;  // luma row 1, column 3
    base[32 + 4] = 90;  // V row 1, column 0
    auto frame = std::make_shared<VideoFrame>(std::move(planes), 4, 3, VideoFramePixelFormat::YUV420P, 1000, nullptr);
    QVERIFY(!frame->emptyFrame);
    QCOMPARE(frame->planeData[0].get(), base);
    QCOMPARE(frame->planes[0].bytesPerLine(), 8);
    QCOMPARE(frame->planes[0].height(), 3);
    QCOMPARE(frame->planes[1].height(), 2);
    QCOMPARE(frame->planes[0].constScanLine(1)[3], uint8_t(200));
    QCOMPARE(frame->planes[2].constScanLine(1)[0], uint8_t(90));
    QCOMPARE(frame->byteSize, 40LL);
    QCOMPARE(frame->packetStartTime, 1000LL);
    frame.reset();
    QCOMPARE(pool->IdleCount(), 1); // the one buffer went back, once

    // A decoder's picture kept as it is: read-only images, alive as long as
    // the frame holds it.
    auto bytes = std::make_shared<std::vector<uint8_t>>(12 * 2, 0);
    (*bytes)[12 + 5] = 33;
    VideoFramePlanes kept;
    kept.picture = bytes;
    kept.data[0] = bytes->data();
    kept.lineSizes[0] = 12;
    kept.byteSize = 24;
    auto picture = std::make_shared<VideoFrame>(std::move(kept), 4, 2, VideoFramePixelFormat::RGB24, 0, nullptr);
    std::weak_ptr<std::vector<uint8_t>> const watch = bytes;
    bytes.reset();
    QVERIFY(!watch.expired());
    QCOMPARE(picture->planes[0].constScanLine(1)[5], uint8_t(33));
    QImage copy = picture->planes[0];
    copy.bits()[0] = 1; // writing detaches: the picture itself never changes
    QCOMPARE(picture->planeData[0][0], uint8_t(0));
    picture.reset();
    QVERIFY(watch.expired());

    // Nothing to adopt: the black 1 x 1 picture.
    VideoFrame const empty(VideoFramePlanes {}, 4, 2, VideoFramePixelFormat::RGB24, 0, nullptr);
    QVERIFY(empty.emptyFrame);
    QCOMPARE(empty.planes[0].size(), QSize(1, 1));
}

void TestVideoFrameBufferPool::FreedPicturesLeaveNothingResident()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer keeps pictures on the heap it watches");
#elif defined(__SANITIZE_THREAD__)
    QSKIP("the thread sanitizer keeps shadow memory of what was written, so resident memory says nothing here");
#else
    // Pictures freed in any order (as a cache lets them go) give their
    // memory back at once: none of it stays resident in the heap.
    auto const residentKilobytes = [] { return BenchMemory::StatusKilobytes("VmRSS:"); };
    if (residentKilobytes() < 0)
    {
        QSKIP("no /proc/self/status");
    }
    auto pool = std::make_shared<VideoFrameBufferPool>(0);
    size_t const pictureSize = 3 * 1024 * 1024;
    // One picture freed first: the heap would take the next ones itself.
    pool->Acquire(pictureSize)[0] = 1;
    long long const before = residentKilobytes();
    std::vector<VideoFrameBuffer> pictures;
    for (int i = 0; i < 32; ++i)
    {
        pictures.push_back(pool->Acquire(pictureSize));
        QVERIFY(pictures.back());
        std::memset(pictures.back().get(), i, pictureSize);
    }
    QVERIFY(residentKilobytes() > before + 32 * 3 * 1024 * 3 / 4);
    // Every other one, then the rest but the last: freed holes between
    // pictures still in use.
    for (size_t i = 0; i < pictures.size(); i += 2)
    {
        pictures[i].reset();
    }
    for (size_t i = 1; i + 1 < pictures.size(); i += 2)
    {
        pictures[i].reset();
    }
    long long const after = residentKilobytes();
    QVERIFY2(after < before + 4 * 3 * 1024,
             qPrintable(QStringLiteral("%1 kB resident before, %2 kB after").arg(before).arg(after)));
#endif
}

void TestVideoFrameBufferPool::PicturesFromManyThreadsNeverOverlap()
{
    // Pictures of mixed sizes made and freed in any order on several threads
    // (as decoders and the cache do), none kept idle: each keeps what was
    // written into it while it lives, and once all are gone their address
    // space is given back.
    auto const mappedKilobytes = [] { return BenchMemory::StatusKilobytes("VmSize:"); };
    auto pool = std::make_shared<VideoFrameBufferPool>(0);
    std::vector<std::thread> threads;
    // The heap's own arenas for threads that run at once, made once, are
    // counted before.
    std::latch allAllocated(4);
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back([&allAllocated] {
            std::vector<std::vector<char>> blocks(200, std::vector<char>(4096));
            allAllocated.arrive_and_wait();
        });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    threads.clear();
    long long const before = mappedKilobytes();
    std::atomic<int> damaged {0};
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back([pool, t, &damaged] {
            std::vector<std::pair<VideoFrameBuffer, size_t>> held;
            for (int i = 0; i < 120; ++i)
            {
                size_t const size = (1 + (i * 7 + t) % 5) * 1024 * 1024 + static_cast<size_t>(i % 3) * 4096 + 100;
                VideoFrameBuffer buffer = pool->Acquire(size);
                if (!buffer)
                {
                    ++damaged;
                    return;
                }
                auto const mark = static_cast<uint8_t>(t * 64 + i % 64);
                std::memset(buffer.get(), mark, size);
                held.emplace_back(std::move(buffer), size);
                // Let go of an older one now and then, from the middle too.
                if (held.size() > 6)
                {
                    size_t const victim = static_cast<size_t>(i) % held.size();
                    auto const& [old, oldSize] = held[victim];
                    uint8_t const expected = old[0];
                    if (old[oldSize / 2] != expected || old[oldSize - 1] != expected)
                    {
                        ++damaged;
                    }
                    held.erase(held.begin() + static_cast<std::ptrdiff_t>(victim));
                }
            }
            for (auto const& [buffer, size] : held)
            {
                if (buffer[size - 1] != buffer[0])
                {
                    ++damaged;
                }
            }
        });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    QCOMPARE(damaged.load(), 0);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (The sanitizers' own heaps keep what they were given.)
    long long const after = mappedKilobytes();
    if (before > 0)
    {
        // Pictures of well over a gigabyte came and went.
        QVERIFY2(after < before + 64 * 1024,
                 qPrintable(QStringLiteral("%1 kB mapped before, %2 kB after").arg(before).arg(after)));
    }
#else
    Q_UNUSED(before);
#endif
}

void TestVideoFrameBufferPool::WarmBuffersAreMadeAheadWhileTakenAndEndWithTrim()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer keeps pictures on the heap it watches, where nothing is warmed");
#else
    size_t const pictureSize = 6 * 1024 * 1024;
    auto pool = std::make_shared<VideoFrameBufferPool>();
    auto resident = [](uint8_t const* data, size_t size) {
        long const page = sysconf(_SC_PAGESIZE);
        auto const start = reinterpret_cast<uintptr_t>(data) / page * page;
        size_t const length = reinterpret_cast<uintptr_t>(data) + size - start;
        std::vector<unsigned char> pages((length + page - 1) / page);
        if (mincore(reinterpret_cast<void*>(start), length, pages.data()) != 0)
        {
            return false;
        }
        return std::all_of(pages.cbegin(), pages.cend(), [](unsigned char flags) { return (flags & 1) != 0; });
    };

    // A request nobody warms for leaves the pool as it was.
    std::vector<VideoFrameBuffer> taken;
    taken.push_back(pool->Acquire(pictureSize, false));
    QCOMPARE(pool->WarmCount(), 0);

    // The first request that finds nothing idle starts the warming; a few
    // buffers are made, and no more.
    taken.push_back(pool->Acquire(pictureSize, true));
    QVERIFY(QTest::qWaitFor([&] { return pool->WarmCount() == VideoFrameBufferPool::WARM_AHEAD; }, 10000));
    QVERIFY(pool->IdleBytes() <= VideoFrameBufferPool::WARM_AHEAD * static_cast<long long>(pictureSize) * 2);

    // A decoder takes one: it is already backed, and the next is made.
    taken.push_back(pool->Acquire(pictureSize, true));
    QVERIFY(taken.back());
    QVERIFY(resident(taken.back().get(), pictureSize));
    QVERIFY(QTest::qWaitFor([&] { return pool->WarmCount() == VideoFrameBufferPool::WARM_AHEAD; }, 10000));

    // Trim frees them all and ends the warming; taking a buffer again (one
    // returned, not warm) starts nothing.
    pool->Trim();
    QCOMPARE(pool->IdleBytes(), 0LL);
    QCOMPARE(pool->WarmCount(), 0);
    taken.clear(); // back to the pool as plain idle buffers
    QVERIFY(pool->Acquire(pictureSize, true));
    QCOMPARE(pool->WarmCount(), 0);
    pool.reset(); // ends its warming threads
#endif
}

void TestVideoFrameBufferPool::SharedPoolServesThreadsLeftRunningAtExit()
{
    // A decoding thread left running when the process ends (a task that did
    // not end within its bounded wait) still takes buffers from the shared
    // pool while static objects are destroyed: this program again, in the
    // mode below, must end cleanly (the sanitizer build reports a pool used
    // after it was freed).
    for (int run = 0; run < 5; ++run)
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--exit-while-taking-buffers")});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QVERIFY2(child.exitCode() == 0, child.readAllStandardError().constData());
    }
}

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--exit-while-taking-buffers") == 0)
    {
        static std::atomic<bool> taking {false};
        std::thread([] {
            for (;;)
            {
                VideoFrameBuffer const buffer = VideoFrameBufferPool::Shared()->Acquire(64 * 1024);
                taking = true;
            }
        }).detach();
        while (!taking)
        {
            std::this_thread::yield();
        }
        return 0;
    }
    QCoreApplication application(argc, argv);
    TestVideoFrameBufferPool test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_videoframebufferpool.moc"
