#include "media/PacketPictureCheck.h"

#include "support/PacketPictureCheckTestAccess.h"

#include <QtTest>

#include <memory>

namespace
{

// A packet over bytes, padded as the libraries expect.
class Bytes
{
public:
    explicit Bytes(QByteArray const& data)
        : mData(data)
        , mPacket(av_packet_alloc(), [](AVPacket* packet) { av_packet_free(&packet); })
    {
        mData.append(QByteArray(AV_INPUT_BUFFER_PADDING_SIZE, '\0'));
        mPacket->data = reinterpret_cast<uint8_t*>(mData.data());
        mPacket->size = static_cast<int>(data.size());
    }

    AVPacket const* Packet() const { return mPacket.get(); }

private:
    QByteArray mData;
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> mPacket;
};

// Codec parameters of a VP9 or AV1 stream, with extradata when given.
class Parameters
{
public:
    Parameters(AVCodecID codec, QByteArray const& extradata = {})
        : mParameters(avcodec_parameters_alloc(), [](AVCodecParameters* p) { avcodec_parameters_free(&p); })
    {
        mParameters->codec_type = AVMEDIA_TYPE_VIDEO;
        mParameters->codec_id = codec;
        if (!extradata.isEmpty())
        {
            auto const size = static_cast<std::size_t>(extradata.size());
            mParameters->extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
            memcpy(mParameters->extradata, extradata.constData(), size);
            mParameters->extradata_size = static_cast<int>(extradata.size());
        }
    }

    AVCodecParameters const* Get() const { return mParameters.get(); }

private:
    std::unique_ptr<AVCodecParameters, void (*)(AVCodecParameters*)> mParameters;
};

// VP9 frames of profile 0 (the first bytes of their uncompressed headers):
// frame marker 2, profile bits, show_existing_frame, frame_type, show_frame,
// error_resilient_mode; a key frame's sync code follows.
QByteArray const VP9_KEY = QByteArray::fromHex("8249834200000000");
QByteArray const VP9_HIDDEN_KEY = QByteArray::fromHex("8049834200000000");
QByteArray const VP9_SHOWN = QByteArray::fromHex("8600000000");
QByteArray const VP9_HIDDEN = QByteArray::fromHex("8400000000");
QByteArray const VP9_SHOW_EXISTING = QByteArray::fromHex("88");

// A superframe: the frames, then an index of one-byte sizes between two
// marker bytes.
QByteArray Superframe(QList<QByteArray> const& frames)
{
    QByteArray packet;
    auto const marker = static_cast<char>(0xc0 | (frames.size() - 1));
    QByteArray index(1, marker);
    for (QByteArray const& frame : frames)
    {
        packet.append(frame);
        index.append(static_cast<char>(frame.size()));
    }
    index.append(marker);
    return packet + index;
}

// AV1 OBUs with their size fields: a sequence header (profile 0, no reduced
// still picture header), a temporal delimiter, frames (OBU_FRAME: header,
// then tile data) whose header starts show_existing_frame 0, frame_type,
// show_frame; a frame header that shows an existing frame, one of a hidden
// frame whose tiles come in a tile group.
QByteArray const AV1_SEQUENCE = QByteArray::fromHex("0a03000000");
QByteArray const AV1_DELIMITER = QByteArray::fromHex("1200");
QByteArray const AV1_KEY = QByteArray::fromHex("32021000");
QByteArray const AV1_SHOWN = QByteArray::fromHex("32023000");
QByteArray const AV1_HIDDEN = QByteArray::fromHex("32022000");
QByteArray const AV1_SHOW_EXISTING = QByteArray::fromHex("1a0180");
QByteArray const AV1_HIDDEN_HEADER = QByteArray::fromHex("1a0120");
QByteArray const AV1_TILE_GROUP = QByteArray::fromHex("220100");
// MP4's and Matroska's configuration record: version 1, then the sequence
// header.
QByteArray const AV1_CONFIGURATION = QByteArray::fromHex("81000c00") + AV1_SEQUENCE;

} // namespace

class TestPacketPictureCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void Vp9PacketsHoldOneShownFrame_data();
    void Vp9PacketsHoldOneShownFrame();
    void Av1TemporalUnitsHoldOneShownFrame_data();
    void Av1TemporalUnitsHoldOneShownFrame();
    void Av1NeedsASequenceHeaderFirst();
    void PacketOrderTimesTheShownFrames();
};

void TestPacketPictureCheck::Vp9PacketsHoldOneShownFrame_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<bool>("holdsFrame");
    QTest::addColumn<bool>("startsDecoding");
    QTest::newRow("key frame") << VP9_KEY << true << true;
    QTest::newRow("inter frame") << VP9_SHOWN << true << false;
    QTest::newRow("alternate reference, then the shown frame") << Superframe({VP9_HIDDEN, VP9_SHOWN}) << true << false;
    QTest::newRow("hidden key frame, then a shown frame") << Superframe({VP9_HIDDEN_KEY, VP9_SHOWN}) << true << true;
    QTest::newRow("a frame shown again") << VP9_SHOW_EXISTING << true << false;
    QTest::newRow("hidden frame alone") << VP9_HIDDEN << false << false;
    QTest::newRow("superframe of hidden frames") << Superframe({VP9_HIDDEN, VP9_HIDDEN}) << false << false;
    QTest::newRow("two shown frames") << Superframe({VP9_SHOWN, VP9_SHOW_EXISTING}) << false << false;
    // Malformed: no frame marker, a key frame without its sync code, an
    // index whose sizes run past the frames, one that leaves bytes over.
    QTest::newRow("no frame marker") << QByteArray::fromHex("0600000000") << false << false;
    QTest::newRow("key frame without sync code") << QByteArray::fromHex("8200000000") << false << false;
    QByteArray tooLong = Superframe({VP9_HIDDEN, VP9_SHOWN});
    tooLong[tooLong.size() - 2] = static_cast<char>(VP9_SHOWN.size() + 1);
    QTest::newRow("index past its frames") << tooLong << false << false;
    QByteArray leftOver = Superframe({VP9_HIDDEN, VP9_SHOWN});
    leftOver[leftOver.size() - 2] = static_cast<char>(VP9_SHOWN.size() - 1);
    QTest::newRow("bytes outside every frame") << leftOver << false << false;
}

void TestPacketPictureCheck::Vp9PacketsHoldOneShownFrame()
{
    QFETCH(QByteArray, packet);
    QFETCH(bool, holdsFrame);
    QFETCH(bool, startsDecoding);
    Parameters const parameters(AV_CODEC_ID_VP9);
    PacketPictureCheck check(parameters.Get());
    QVERIFY(check.IsUsable());
    Bytes const bytes(packet);
    QCOMPARE(PacketPictureCheckTestAccess::HoldsFrame(check, bytes.Packet()), holdsFrame);
    QCOMPARE(check.StartsDecoding(bytes.Packet()), startsDecoding);
}

void TestPacketPictureCheck::Av1TemporalUnitsHoldOneShownFrame_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<bool>("holdsFrame");
    QTest::addColumn<bool>("startsDecoding");
    QTest::newRow("sequence header and key frame") << AV1_SEQUENCE + AV1_KEY << true << true;
    QTest::newRow("delimiter and inter frame") << AV1_DELIMITER + AV1_SHOWN << true << false;
    QTest::newRow("hidden frames, then the shown one")
        << AV1_DELIMITER + AV1_HIDDEN + AV1_HIDDEN + AV1_SHOWN << true << false;
    QTest::newRow("hidden frame in header and tile group, then the shown one")
        << AV1_HIDDEN_HEADER + AV1_TILE_GROUP + AV1_TILE_GROUP + AV1_SHOWN << true << false;
    QTest::newRow("a frame shown again") << AV1_DELIMITER + AV1_SHOW_EXISTING << true << false;
    QTest::newRow("hidden key frame, then a shown frame") << QByteArray::fromHex("32020000") + AV1_SHOWN << true
                                                           << false;
    QTest::newRow("hidden frame alone") << AV1_HIDDEN << false << false;
    QTest::newRow("two shown frames") << AV1_SHOWN + AV1_SHOW_EXISTING << false << false;
    // Malformed: a size past the unit's end, the forbidden bit, a frame
    // header whose tiles never come, tiles without a frame header, a frame
    // shown again inside a frame OBU.
    QTest::newRow("size past the end") << AV1_DELIMITER + QByteArray::fromHex("32053000") << false << false;
    QTest::newRow("forbidden bit") << QByteArray::fromHex("b2023000") << false << false;
    QTest::newRow("frame header without tiles") << AV1_HIDDEN_HEADER + AV1_SHOWN << false << false;
    QTest::newRow("tiles without a frame header") << AV1_TILE_GROUP + AV1_SHOWN << false << false;
    QTest::newRow("frame OBU showing an existing frame") << QByteArray::fromHex("32028000") << false << false;
    // A layer of a scalable stream (spatial_id 1): a decoder may leave it
    // out or show it apart.
    QTest::newRow("spatial layer") << QByteArray::fromHex("3602083000") << false << false;
    // The last OBU may leave its size out and fill the unit.
    QTest::newRow("last OBU without a size") << AV1_DELIMITER + QByteArray::fromHex("303000") << true << false;
}

void TestPacketPictureCheck::Av1TemporalUnitsHoldOneShownFrame()
{
    QFETCH(QByteArray, packet);
    QFETCH(bool, holdsFrame);
    QFETCH(bool, startsDecoding);
    // The sequence header comes from the configuration record.
    Parameters const parameters(AV_CODEC_ID_AV1, AV1_CONFIGURATION);
    PacketPictureCheck check(parameters.Get());
    QVERIFY(check.IsUsable());
    Bytes const bytes(packet);
    QCOMPARE(PacketPictureCheckTestAccess::HoldsFrame(check, bytes.Packet()), holdsFrame);
    QCOMPARE(check.StartsDecoding(bytes.Packet()), startsDecoding);
}

void TestPacketPictureCheck::Av1NeedsASequenceHeaderFirst()
{
    // Without a configuration record the frame headers cannot be read until a
    // sequence header came in band.
    Parameters const parameters(AV_CODEC_ID_AV1);
    PacketPictureCheck check(parameters.Get());
    QVERIFY(check.IsUsable());
    Bytes const shown(AV1_DELIMITER + AV1_SHOWN);
    QVERIFY(!PacketPictureCheckTestAccess::HoldsFrame(check, shown.Packet()));
    // Nor from a configuration record whose OBUs cannot all be read.
    Parameters const broken(AV_CODEC_ID_AV1, AV1_CONFIGURATION + QByteArray::fromHex("3205"));
    QVERIFY(!PacketPictureCheckTestAccess::HoldsFrame(PacketPictureCheck(broken.Get()), shown.Packet()));
    Parameters const configured(AV_CODEC_ID_AV1, AV1_CONFIGURATION);
    QVERIFY(PacketPictureCheckTestAccess::HoldsFrame(PacketPictureCheck(configured.Get()), shown.Packet()));
    Bytes const key(AV1_DELIMITER + AV1_SEQUENCE + AV1_KEY);
    QVERIFY(PacketPictureCheckTestAccess::HoldsFrame(check, key.Packet()));
    QVERIFY(PacketPictureCheckTestAccess::HoldsFrame(check, shown.Packet()));
    // A reduced still picture header leaves the frame headers out: every
    // frame is a shown key frame.
    Bytes const still(QByteArray::fromHex("0a0308000032020000"));
    QVERIFY(PacketPictureCheckTestAccess::HoldsFrame(check, still.Packet()));
    QVERIFY(check.StartsDecoding(still.Packet()));
}

void TestPacketPictureCheck::PacketOrderTimesTheShownFrames()
{
    // VP9 and AV1 show their frames in packet order: the times must rise
    // from packet to packet, from a packet that starts decoding.
    struct Stream
    {
        AVCodecID codec;
        QByteArray extradata;
        QByteArray key;
        QByteArray withHidden;
        QByteArray shownAgain;
    };
    for (Stream const& stream :
         {Stream {AV_CODEC_ID_VP9, {}, VP9_KEY, Superframe({VP9_HIDDEN, VP9_SHOWN}), VP9_SHOW_EXISTING},
          Stream {AV_CODEC_ID_AV1, AV1_CONFIGURATION, AV1_SEQUENCE + AV1_KEY, AV1_HIDDEN + AV1_SHOWN,
                  AV1_SHOW_EXISTING}})
    {
        QByteArray const name = avcodec_get_name(stream.codec);
        Parameters const parameters(stream.codec, stream.extradata);
        PacketPictureCheck check(parameters.Get());
        Bytes const key(stream.key);
        Bytes const withHidden(stream.withHidden);
        Bytes const shownAgain(stream.shownAgain);
        check.StartOver();
        QVERIFY2(check.Accept(key.Packet(), 0), name);
        QVERIFY2(check.Accept(withHidden.Packet(), 40), name);
        QVERIFY2(check.Accept(shownAgain.Packet(), 80), name);
        QVERIFY2(check.TimesFollowPictureOrder(), name);
        // A time that falls back belongs to another picture than its own.
        QVERIFY2(check.Accept(withHidden.Packet(), 60), name);
        QVERIFY2(!check.TimesFollowPictureOrder(), name);
        // A frame shown again may come from before the first packet read.
        check.StartOver();
        QVERIFY2(!check.Accept(shownAgain.Packet(), 0), name);
        QVERIFY2(!check.Accept(withHidden.Packet(), 0), name);
        QVERIFY2(check.Accept(key.Packet(), 40), name);
        QVERIFY2(check.TimesFollowPictureOrder(), name);
    }
}

QTEST_GUILESS_MAIN(TestPacketPictureCheck)
#include "tst_packetpicturecheck.moc"
