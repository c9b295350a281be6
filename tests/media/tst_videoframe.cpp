#include "media/VideoFrame.h"
#include "model/VideoStreamInfo.h"

#include <QtTest>

#include <limits>
#include <vector>

namespace
{
// A plane whose every byte tells its row and column apart from the padding.
std::vector<uint8_t> Plane(int lineSize, int rows, int rowBytes, uint8_t base)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(lineSize) * rows, 0xEE); // 0xEE marks padding
    for (int row = 0; row < rows; ++row)
    {
        for (int column = 0; column < rowBytes; ++column)
        {
            bytes[static_cast<size_t>(row) * lineSize + column] = static_cast<uint8_t>(base + row + column);
        }
    }
    return bytes;
}
} // namespace

class TestVideoFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void NoPlaneDataGivesAnEmptyBlackFrame();
    void RgbKeepsPaddingColumnsInTheImage();
    void OddYuvKeepsLastChromaRowAndColumn();
    void PackedRgbDropsPadding();
    void PackedOddYuvRoundsChromaUp();
};

void TestVideoFrame::NoPlaneDataGivesAnEmptyBlackFrame()
{
    VideoStreamInfo stream;
    stream.frameStep = 40000.0;
    VideoFrame frame(nullptr, nullptr, 320, 240, VideoFramePixelFormat::RGB24, 1000, &stream, false);
    QVERIFY(frame.emptyFrame);
    QCOMPARE(frame.packetEndTime.load(), std::numeric_limits<long long>::max());
    QCOMPARE(frame.planes[0].size(), QSize(1, 1));
    QCOMPARE(frame.planes[0].pixelColor(0, 0), QColor(Qt::black));
    QCOMPARE(frame.adjustedStartTime, -1LL);
    QCOMPARE(frame.startFrame, -1);
}

void TestVideoFrame::RgbKeepsPaddingColumnsInTheImage()
{
    VideoStreamInfo stream;
    stream.frameStep = 41708.333;
    int const width = 5;
    int const height = 3;
    int const lineSize = 20; // 15 bytes of pixels, 5 of padding
    std::vector<uint8_t> const rgb = Plane(lineSize, height, width * 3, 1);
    uint8_t const* planes[3] = {rgb.data(), nullptr, nullptr};
    int const lineSizes[3] = {lineSize, 0, 0};
    VideoFrame frame(planes, lineSizes, width, height, VideoFramePixelFormat::RGB24, 500000, &stream, false);
    QVERIFY(!frame.emptyFrame);
    QCOMPARE(frame.packetEndTime.load(), 500000LL + 41708);
    QCOMPARE(frame.byteSize, 60LL);
    QCOMPARE(frame.planes[0].width(), lineSize / 3);
    QCOMPARE(frame.planes[0].height(), height);
    QCOMPARE(frame.planes[0].format(), QImage::Format_RGB888);
    QCOMPARE(frame.planes[0].constScanLine(2)[14], rgb[2 * lineSize + 14]);
    QVERIFY(frame.planes[1].isNull());

    uint8_t const* rgbaPlanes[3] = {rgb.data(), nullptr, nullptr};
    VideoFrame rgba(rgbaPlanes, lineSizes, width, height, VideoFramePixelFormat::RGBA, 0, nullptr, false);
    QCOMPARE(rgba.planes[0].width(), 5);
    QCOMPARE(rgba.planes[0].format(), QImage::Format_RGBA8888);
}

void TestVideoFrame::OddYuvKeepsLastChromaRowAndColumn()
{
    int const width = 317;
    int const height = 239;
    int const lineSizes[3] = {320, 160, 176}; // each chroma plane with its own stride
    std::vector<uint8_t> const y = Plane(lineSizes[0], height, width, 0);
    std::vector<uint8_t> const u = Plane(lineSizes[1], 120, 159, 50);
    std::vector<uint8_t> const v = Plane(lineSizes[2], 120, 159, 90);
    uint8_t const* planes[3] = {y.data(), u.data(), v.data()};
    VideoFrame frame(planes, lineSizes, width, height, VideoFramePixelFormat::YUV420P, 0, nullptr, false);

    QCOMPARE(frame.planes[0].size(), QSize(320, 239));
    QCOMPARE(frame.planes[1].size(), QSize(160, 120));
    QCOMPARE(frame.planes[2].size(), QSize(176, 120));
    QCOMPARE(frame.planes[1].format(), QImage::Format_Grayscale8);
    QCOMPARE(frame.byteSize, 320LL * 239 + 160LL * 120 + 176LL * 120);
    // The last chroma row and column of an odd picture survive.
    QCOMPARE(frame.planes[1].constScanLine(119)[158], u[119 * 160 + 158]);
    QCOMPARE(frame.planes[2].constScanLine(119)[158], v[119 * 176 + 158]);
}

void TestVideoFrame::PackedRgbDropsPadding()
{
    int const width = 4;
    int const height = 3;
    int const lineSize = 16;
    std::vector<uint8_t> const rgb = Plane(lineSize, height, width * 3, 7);
    uint8_t const* planes[3] = {rgb.data(), nullptr, nullptr};
    int const lineSizes[3] = {lineSize, 0, 0};
    VideoFrame frame(planes, lineSizes, width, height, VideoFramePixelFormat::RGB24, 0, nullptr, true);
    QCOMPARE(frame.byteSize, 36LL);
    QVERIFY(frame.planes[0].isNull());
    for (int row = 0; row < height; ++row)
    {
        QCOMPARE(QByteArray(reinterpret_cast<char const*>(frame.packedData.get()) + row * 12, 12),
                 QByteArray(reinterpret_cast<char const*>(rgb.data()) + row * lineSize, 12));
    }

    // Tight rows are taken in one piece.
    std::vector<uint8_t> const tight = Plane(12, height, 12, 3);
    uint8_t const* tightPlanes[3] = {tight.data(), nullptr, nullptr};
    int const tightLineSizes[3] = {12, 0, 0};
    VideoFrame tightFrame(tightPlanes, tightLineSizes, width, height, VideoFramePixelFormat::RGB24, 0, nullptr, true);
    QCOMPARE(QByteArray(reinterpret_cast<char const*>(tightFrame.packedData.get()), 36),
             QByteArray(reinterpret_cast<char const*>(tight.data()), 36));
}

void TestVideoFrame::PackedOddYuvRoundsChromaUp()
{
    int const width = 5;
    int const height = 3;
    int const lineSizes[3] = {8, 4, 6};
    std::vector<uint8_t> const y = Plane(8, 3, 5, 0);
    std::vector<uint8_t> const u = Plane(4, 2, 3, 100);
    std::vector<uint8_t> const v = Plane(6, 2, 3, 200);
    uint8_t const* planes[3] = {y.data(), u.data(), v.data()};
    VideoFrame frame(planes, lineSizes, width, height, VideoFramePixelFormat::YUV420P, 0, nullptr, true);

    QCOMPARE(frame.byteSize, 15LL + 2 * 6);
    QByteArray const packed(reinterpret_cast<char const*>(frame.packedData.get()), 27);
    QByteArray expected;
    for (int row = 0; row < 3; ++row)
    {
        expected.append(reinterpret_cast<char const*>(y.data()) + row * 8, 5);
    }
    for (int row = 0; row < 2; ++row)
    {
        expected.append(reinterpret_cast<char const*>(u.data()) + row * 4, 3);
    }
    for (int row = 0; row < 2; ++row)
    {
        expected.append(reinterpret_cast<char const*>(v.data()) + row * 6, 3);
    }
    QCOMPARE(packed, expected);
}

QTEST_GUILESS_MAIN(TestVideoFrame)
#include "tst_videoframe.moc"
