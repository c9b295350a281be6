#include "media/Vp9FrameReader.h"

#include "support/TestMedia.h"

#include <QtTest>

extern "C" {
#include <libavformat/avformat.h>
}

class TestVp9FrameReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void EncodedAlternateReferencesAreReadAsHidden();
    void WideIndexAndProfileThree();
};

void TestVp9FrameReader::EncodedAlternateReferencesAreReadAsHidden()
{
    // The two-pass test file carries alternate reference frames in
    // superframes: each packet is read whole, shows one frame, and the key
    // packets start with a key frame.
    AVFormatContext* context = nullptr;
    QByteArray const path = TestMedia::Path(QStringLiteral("numbered_vp9_altref.webm")).toUtf8();
    QVERIFY(avformat_open_input(&context, path.constData(), nullptr, nullptr) >= 0);
    QVERIFY(avformat_find_stream_info(context, nullptr) >= 0);
    int const stream = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    QVERIFY(stream >= 0);
    AVPacket* packet = av_packet_alloc();
    int packets = 0;
    int superframes = 0;
    int unreadable = 0;
    int notOneShown = 0;
    int keysWithoutKeyFrame = 0;
    while (av_read_frame(context, packet) >= 0)
    {
        if (packet->stream_index == stream)
        {
            Vp9FrameReader::Packet const read = Vp9FrameReader::Read(packet->data, packet->size);
            ++packets;
            superframes += read.frames > 1 ? 1 : 0;
            unreadable += read.readable ? 0 : 1;
            notOneShown += read.shownFrames == 1 ? 0 : 1;
            keysWithoutKeyFrame += (packet->flags & AV_PKT_FLAG_KEY) && !read.startsWithKeyFrame ? 1 : 0;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    QCOMPARE(packets, 100);
    QVERIFY2(superframes >= 2, qPrintable(QString::number(superframes)));
    QCOMPARE(unreadable, 0);
    QCOMPARE(notOneShown, 0);
    QCOMPARE(keysWithoutKeyFrame, 0);
}

void TestVp9FrameReader::WideIndexAndProfileThree()
{
    // Two bytes per frame size (little-endian), a hidden frame of 300 bytes
    // and a shown one; profile 3 frames carry a reserved bit before
    // show_existing_frame.
    QByteArray hidden = QByteArray::fromHex("84");
    hidden.append(QByteArray(299, '\0'));
    QByteArray const shown = QByteArray::fromHex("8600");
    QByteArray const index = QByteArray::fromHex("c9" "2c01" "0200" "c9");
    QByteArray const packet = hidden + shown + index;
    Vp9FrameReader::Packet read =
        Vp9FrameReader::Read(reinterpret_cast<uint8_t const*>(packet.constData()), static_cast<int>(packet.size()));
    QVERIFY(read.readable);
    QCOMPARE(read.frames, 2);
    QCOMPARE(read.shownFrames, 1);
    QVERIFY(!read.startsWithKeyFrame);
    // Profile 3 key frame: marker, profile bits 1 1, reserved 0, then
    // show_existing_frame 0, key, shown, not error resilient, sync code.
    QByteArray const key = QByteArray::fromHex("b1" "24c1a100");
    read = Vp9FrameReader::Read(reinterpret_cast<uint8_t const*>(key.constData()), static_cast<int>(key.size()));
    QVERIFY(read.readable);
    QCOMPARE(read.shownFrames, 1);
    QVERIFY(read.startsWithKeyFrame);
    // The reserved bit set: no frame this reader knows.
    QByteArray const reserved = QByteArray::fromHex("b9" "24c1a100");
    read = Vp9FrameReader::Read(reinterpret_cast<uint8_t const*>(reserved.constData()),
                                static_cast<int>(reserved.size()));
    QVERIFY(!read.readable);
}

QTEST_GUILESS_MAIN(TestVp9FrameReader)
#include "tst_vp9framereader.moc"
