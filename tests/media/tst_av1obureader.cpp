#include "media/Av1ObuReader.h"

#include "support/TestMedia.h"

#include <QtTest>

extern "C" {
#include <libavformat/avformat.h>
}

class TestAv1ObuReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void EncodedHiddenFramesAreReadAsSuch_data();
    void EncodedHiddenFramesAreReadAsSuch();
};

void TestAv1ObuReader::EncodedHiddenFramesAreReadAsSuch_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("MP4") << QStringLiteral("numbered_av1_hidden.mp4");
    QTest::newRow("Matroska") << QStringLiteral("numbered_av1_hidden.mkv");
}

void TestAv1ObuReader::EncodedHiddenFramesAreReadAsSuch()
{
    // The test files carry temporal units with frames not shown, and units
    // that show a frame decoded earlier: each unit is read whole (its
    // sequence header from the configuration record), shows one frame, and
    // the key packets start with a shown key frame.
    QFETCH(QString, name);
    AVFormatContext* context = nullptr;
    QByteArray const path = TestMedia::Path(name).toUtf8();
    QVERIFY(avformat_open_input(&context, path.constData(), nullptr, nullptr) >= 0);
    QVERIFY(avformat_find_stream_info(context, nullptr) >= 0);
    int const stream = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    QVERIFY(stream >= 0);
    Av1ObuReader reader(context->streams[stream]->codecpar);
    QVERIFY(reader.IsAv1());
    AVPacket* packet = av_packet_alloc();
    int units = 0;
    int withHidden = 0;
    int shownAgain = 0;
    int unreadable = 0;
    int notOneShown = 0;
    int keysWithoutKeyFrame = 0;
    while (av_read_frame(context, packet) >= 0)
    {
        if (packet->stream_index == stream)
        {
            Av1ObuReader::TemporalUnit const unit = reader.Read(packet->data, packet->size);
            ++units;
            withHidden += unit.frames > unit.shownFrames ? 1 : 0;
            shownAgain += unit.shownAgain;
            unreadable += unit.readable ? 0 : 1;
            notOneShown += unit.shownFrames == 1 ? 0 : 1;
            keysWithoutKeyFrame += (packet->flags & AV_PKT_FLAG_KEY) && !unit.startsWithKeyFrame ? 1 : 0;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    QCOMPARE(units, 100);
    QVERIFY2(withHidden >= 2, qPrintable(QString::number(withHidden)));
    QVERIFY2(shownAgain >= 2, qPrintable(QString::number(shownAgain)));
    QCOMPARE(unreadable, 0);
    QCOMPARE(notOneShown, 0);
    QCOMPARE(keysWithoutKeyFrame, 0);
}

QTEST_GUILESS_MAIN(TestAv1ObuReader)
#include "tst_av1obureader.moc"
