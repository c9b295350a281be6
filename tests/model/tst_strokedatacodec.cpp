#include "app/Logger.h"
#include "model/StrokeDataCodec.h"

#include <QtTest>

#include <QDataStream>
#include <QJsonDocument>

#include <limits>

// Stroke objects of project files: every stroke type saves back equal, and
// hostile path data is refused before anything is allocated or read.
class TestStrokeDataCodec : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void EveryStrokeTypeSavesBackEqual();
    void StrokeFieldsDropOnlyTheirStroke();
    void HostilePathDataIsRefused_data();
    void HostilePathDataIsRefused();
    void RefusedPathIsLogged();

private:
    static QByteArray PathBytes(qint32 count, QList<qint32> const& types, qint32 subPathStart = 0,
                                qint32 fillRule = 0, int dropBytes = 0);
};

namespace
{
    QList<StrokeData> EveryType()
    {
        QList<StrokeData> strokes;
        for (int type = 0; type <= 7; ++type)
        {
            StrokeData stroke;
            stroke.type = type;
            stroke.width = 2.5f + type;
            stroke.color = QColor(10 * type, 200, 30, type == 2 ? 255 : 128);
            stroke.points = {QPointF(-0.125, 0.25), QPointF(0.3, -0.1 * type)};
            switch (type)
            {
            case 3:
                stroke.text = QStringLiteral("Fix the hand, frame 12");
                break;
            case 6:
                stroke.path.addEllipse(QRectF(-0.125, 0.25, 0.425, -0.35));
                break;
            case 7:
                stroke.path.addRect(QRectF(-0.125, 0.25, 0.425, -0.35));
                break;
            default:
                stroke.path.moveTo(-0.125, 0.25);
                stroke.path.lineTo(-0.124999, 0.25);
                stroke.path.cubicTo(0.1, 0.1, 0.2, 0.3, 0.3, -0.1 * type);
                stroke.path.moveTo(0.0, 0.0);
                stroke.path.lineTo(0.05, 0.02);
                break;
            }
            strokes.append(stroke);
        }
        return strokes;
    }
}

QByteArray TestStrokeDataCodec::PathBytes(qint32 count, QList<qint32> const& types, qint32 subPathStart,
                                          qint32 fillRule, int dropBytes)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << count;
    for (qint32 type : types)
    {
        stream << type << 0.5 << -0.25;
    }
    stream << subPathStart << fillRule;
    bytes.chop(dropBytes);
    return bytes;
}

void TestStrokeDataCodec::EveryStrokeTypeSavesBackEqual()
{
    for (StrokeData const& stroke : EveryType())
    {
        QJsonObject const written = StrokeDataCodec::WriteStroke(stroke);
        QCOMPARE(written.contains(QStringLiteral("text")), stroke.type == 3);
        // Through the JSON text, as a file holds it.
        QJsonObject const reread = QJsonDocument::fromJson(QJsonDocument(written).toJson()).object();
        StrokeData read;
        QVERIFY2(StrokeDataCodec::ReadStroke(reread, read), qPrintable(QString::number(stroke.type)));
        QCOMPARE(read.type, stroke.type);
        QCOMPARE(read.width, stroke.width);
        QCOMPARE(read.color, stroke.color);
        QCOMPARE(read.text, stroke.text);
        QCOMPARE(read.path, stroke.path);
        QCOMPARE(read.points, stroke.points);
        QCOMPARE(StrokeDataCodec::WriteStroke(read), written);
    }
    // Points as "x,y;" in the shortest form; an empty path stays empty.
    QCOMPARE(StrokeDataCodec::EncodePoints({QPointF(12.5, 3)}), QStringLiteral("12.5,3;"));
    QPainterPath empty;
    QString error;
    QVERIFY(StrokeDataCodec::DecodePath(StrokeDataCodec::EncodePath(QPainterPath()), empty, error));
    QVERIFY(empty.isEmpty());
    QVERIFY(StrokeDataCodec::DecodePath(QString(), empty, error));
}

void TestStrokeDataCodec::StrokeFieldsDropOnlyTheirStroke()
{
    QJsonObject const good = StrokeDataCodec::WriteStroke(EveryType().at(7));
    StrokeData stroke;
    QVERIFY(StrokeDataCodec::ReadStroke(good, stroke));
    auto dropped = [&good](char const* key, QJsonValue const& value) {
        QJsonObject changed = good;
        if (value.isUndefined())
        {
            changed.remove(QLatin1String(key));
        }
        else
        {
            changed.insert(QLatin1String(key), value);
        }
        StrokeData stroke;
        return !StrokeDataCodec::ReadStroke(changed, stroke);
    };
    QVERIFY(dropped("width", -1.0));
    QVERIFY(dropped("color", QJsonValue::Undefined));
    QVERIFY(dropped("color", QStringLiteral("not a colour")));
    QVERIFY(dropped("type", 9));
    QVERIFY(dropped("type", QJsonValue::Undefined));
    QVERIFY(dropped("points", QString()));
    QVERIFY(dropped("points", QStringLiteral("1,2,3;")));
    QVERIFY(dropped("points", QStringLiteral("1,x;")));
    QVERIFY(dropped("points", QStringLiteral("nan,1;")));
    QVERIFY(!dropped("path", QString()));
    QVERIFY(!dropped("path", QJsonValue::Undefined));
    QVERIFY(!dropped("text", QStringLiteral("ignored on a rectangle")));
    QJsonObject text = StrokeDataCodec::WriteStroke(EveryType().at(3));
    text.insert(QStringLiteral("text"), QString());
    QVERIFY(!StrokeDataCodec::ReadStroke(text, stroke));
}

void TestStrokeDataCodec::HostilePathDataIsRefused_data()
{
    QTest::addColumn<QString>("text");
    auto base64 = [](QByteArray const& bytes) { return QString::fromLatin1(bytes.toBase64()); };
    // A count of two billion with a few bytes behind it: Qt's own reader
    // would reserve for all of them.
    QTest::newRow("huge count") << base64(PathBytes(std::numeric_limits<qint32>::max(), {0, 1}));
    QTest::newRow("negative count") << base64(PathBytes(-3, {0, 1, 1}));
    QTest::newRow("count above the bound") << base64(PathBytes(StrokeDataCodec::MAXIMUM_PATH_ELEMENTS + 1, {0}));
    QTest::newRow("count larger than the data") << base64(PathBytes(3, {0, 1}));
    QTest::newRow("count smaller than the data") << base64(PathBytes(1, {0, 1}));
    QTest::newRow("type out of range") << base64(PathBytes(2, {0, 7}));
    QTest::newRow("negative type") << base64(PathBytes(2, {0, -1}));
    QTest::newRow("starts without a move") << base64(PathBytes(2, {1, 1}));
    QTest::newRow("curve without data") << base64(PathBytes(2, {0, 2}));
    QTest::newRow("curve with one data element") << base64(PathBytes(4, {0, 2, 3, 1}));
    QTest::newRow("stray curve data") << base64(PathBytes(3, {0, 1, 3}));
    QTest::newRow("truncated") << base64(PathBytes(2, {0, 1}, 0, 0, 3));
    QTest::newRow("trailing bytes") << base64(PathBytes(2, {0, 1}) + "xx");
    QTest::newRow("bad fill rule") << base64(PathBytes(2, {0, 1}, 0, 5));
    QTest::newRow("bad sub-path start") << base64(PathBytes(2, {0, 1}, 9, 0));
    QTest::newRow("empty with trailing bytes") << base64(QByteArray::fromHex("00000000ff"));
    QTest::newRow("invalid Base64") << QStringLiteral("AAAA*AAA");
    QTest::newRow("unpadded Base64") << base64(PathBytes(2, {0, 1})).remove(QLatin1Char('='));
    QTest::newRow("too short to hold a count") << QStringLiteral("AAA=");
    QByteArray nan = PathBytes(2, {0, 1});
    QDataStream patch(&nan, QIODevice::ReadWrite);
    patch.device()->seek(4 + 20 + 4);
    patch << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("coordinate not finite") << base64(nan);
    QTest::newRow("text beyond the bound") << QString(30000000, QLatin1Char('A'));
}

void TestStrokeDataCodec::HostilePathDataIsRefused()
{
    QFETCH(QString, text);
    QPainterPath path;
    path.moveTo(1, 1);
    QString error;
    QVERIFY(!StrokeDataCodec::DecodePath(text, path, error));
    QVERIFY(!error.isEmpty());
    QVERIFY(path.isEmpty());
}

void TestStrokeDataCodec::RefusedPathIsLogged()
{
    // The other strokes of a frame still read; the refused one is reported.
    QList<QString> warnings;
    connect(Logger::GetInstance(), &Logger::WarningLogged, this,
            [&warnings](QString const& message) { warnings.append(message); });
    QJsonObject hostile = StrokeDataCodec::WriteStroke(EveryType().at(0));
    hostile.insert(QStringLiteral("path"), QString::fromLatin1(PathBytes(0x7fffffff, {0}).toBase64()));
    StrokeData stroke;
    QVERIFY(!StrokeDataCodec::ReadStroke(hostile, stroke));
    QVERIFY(StrokeDataCodec::ReadStroke(StrokeDataCodec::WriteStroke(EveryType().at(1)), stroke));
    QCOMPARE(warnings.size(), 1);
    QVERIFY(warnings.first().contains(QStringLiteral("Annotation stroke skipped")));
}

QTEST_MAIN(TestStrokeDataCodec)
#include "tst_strokedatacodec.moc"
