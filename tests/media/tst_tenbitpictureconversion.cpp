#include "media/TenBitPictureConversion.h"

#include <QtTest>

#include <random>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace
{
// The flags the decoder's workers convert pictures with.
int const SCALER_FLAGS = SWS_BILINEAR | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND;

struct Frame
{
    AVFrame* frame = av_frame_alloc();
    Frame(AVPixelFormat format, int width, int height)
    {
        frame->format = format;
        frame->width = width;
        frame->height = height;
        // Padding filled, so that a write past a row's end shows.
        if (av_frame_get_buffer(frame, 0) >= 0)
        {
            for (int plane = 0; plane < 3 && frame->buf[plane]; ++plane)
            {
                std::fill_n(frame->buf[plane]->data, frame->buf[plane]->size, uint8_t {0xEE});
            }
        }
    }
    ~Frame() { av_frame_free(&frame); }
    Frame(Frame const&) = delete;
    Frame& operator=(Frame const&) = delete;
};

// Random 10-bit samples, with the extremes in the first columns.
void FillTenBit(AVFrame* frame, unsigned int seed)
{
    std::mt19937 random(seed);
    for (int plane = 0; plane < 3; ++plane)
    {
        int const width = plane == 0 ? frame->width : (frame->width + 1) / 2;
        int const height = plane == 0 ? frame->height : (frame->height + 1) / 2;
        for (int y = 0; y < height; ++y)
        {
            auto* row = reinterpret_cast<uint16_t*>(frame->data[plane] + y * frame->linesize[plane]);
            for (int x = 0; x < width; ++x)
            {
                row[x] = static_cast<uint16_t>(x == 0 ? 1023 : x == 1 ? 0 : random() & 1023);
            }
        }
    }
}

// The samples of each plane (padding: false), or what lies past each row
// (padding: true).
QByteArray Planes(AVFrame const* frame, bool padding = false)
{
    QByteArray bytes;
    for (int plane = 0; plane < 3; ++plane)
    {
        int const width = plane == 0 ? frame->width : (frame->width + 1) / 2;
        int const height = plane == 0 ? frame->height : (frame->height + 1) / 2;
        for (int y = 0; y < height; ++y)
        {
            char const* row = reinterpret_cast<char const*>(frame->data[plane] + y * frame->linesize[plane]);
            bytes.append(padding ? row + width : row, padding ? frame->linesize[plane] - width : width);
        }
    }
    return bytes;
}
} // namespace

class TestTenBitPictureConversion : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void MatchesTheScaler_data();
    void MatchesTheScaler();
    void LeavesOtherFormatsToTheScaler();
};

void TestTenBitPictureConversion::MatchesTheScaler_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("threads");
    QTest::newRow("4K, one thread") << 3840 << 2160 << 1;
    QTest::newRow("4K, three threads") << 3840 << 2160 << 3;
    QTest::newRow("odd 333x241, two threads") << 333 << 241 << 2;
    QTest::newRow("odd 17x9") << 17 << 9 << 1;
    QTest::newRow("1x1") << 1 << 1 << 1;
}

void TestTenBitPictureConversion::MatchesTheScaler()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, threads);
    Frame source(AV_PIX_FMT_YUV420P10LE, width, height);
    Frame scaled(AV_PIX_FMT_YUV420P, width, height);
    Frame own(AV_PIX_FMT_YUV420P, width, height);
    QVERIFY(source.frame->buf[0] && scaled.frame->buf[0] && own.frame->buf[0]);
    FillTenBit(source.frame, static_cast<unsigned int>(width * 7 + height));

    SwsContext* scaler = sws_alloc_context();
    QVERIFY(scaler);
    av_opt_set_int(scaler, "srcw", width, 0);
    av_opt_set_int(scaler, "srch", height, 0);
    av_opt_set_int(scaler, "src_format", AV_PIX_FMT_YUV420P10LE, 0);
    av_opt_set_int(scaler, "dstw", width, 0);
    av_opt_set_int(scaler, "dsth", height, 0);
    av_opt_set_int(scaler, "dst_format", AV_PIX_FMT_YUV420P, 0);
    av_opt_set_int(scaler, "sws_flags", SCALER_FLAGS, 0);
    av_opt_set_int(scaler, "threads", threads, 0);
    QVERIFY(sws_init_context(scaler, nullptr, nullptr) >= 0);
    int const result = sws_scale_frame(scaler, scaled.frame, source.frame);
    sws_freeContext(scaler);
    QVERIFY(result >= 0);

    QVERIFY(TenBitPictureConversion::Handles(source.frame, AV_PIX_FMT_YUV420P, SCALER_FLAGS));
    TenBitPictureConversion::Convert(source.frame, own.frame->data, own.frame->linesize);
    QVERIFY(Planes(own.frame) == Planes(scaled.frame));
    QByteArray const padding = Planes(own.frame, true);
    QCOMPARE(padding.count('\xEE'), padding.size());
}

void TestTenBitPictureConversion::LeavesOtherFormatsToTheScaler()
{
    Frame eightBit(AV_PIX_FMT_YUV420P, 64, 32);
    Frame fourTwoTwo(AV_PIX_FMT_YUV422P10LE, 64, 32);
    Frame tenBit(AV_PIX_FMT_YUV420P10LE, 64, 32);
    QVERIFY(!TenBitPictureConversion::Handles(eightBit.frame, AV_PIX_FMT_YUV420P, SCALER_FLAGS));
    QVERIFY(!TenBitPictureConversion::Handles(fourTwoTwo.frame, AV_PIX_FMT_YUV420P, SCALER_FLAGS));
    QVERIFY(!TenBitPictureConversion::Handles(tenBit.frame, AV_PIX_FMT_RGB24, SCALER_FLAGS));
    QVERIFY(!TenBitPictureConversion::Handles(nullptr, AV_PIX_FMT_YUV420P, SCALER_FLAGS));
}

QTEST_GUILESS_MAIN(TestTenBitPictureConversion)
#include "tst_tenbitpictureconversion.moc"
