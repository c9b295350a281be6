#include "model/StrokeDataCodec.h"

#include "app/Logger.h"

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QLocale>
#include <QStringList>

#include <cmath>
#include <limits>

namespace
{
    // Bytes of a stored path: the element count, then per element its type
    // and two doubles, then the sub-path start and the fill rule.
    constexpr qint64 EMPTY_PATH_BYTES = 4;
    constexpr qint64 PATH_HEADER_BYTES = 12;
    constexpr qint64 PATH_ELEMENT_BYTES = 20;

    constexpr int MOVE_TO = 0;
    constexpr int CURVE_TO = 2;
    constexpr int CURVE_DATA = 3;
}

QString StrokeDataCodec::EncodePath(QPainterPath const& path)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << path;
    return QString::fromLatin1(bytes.toBase64());
}

bool StrokeDataCodec::DecodePath(QString const& text, QPainterPath& path, QString& error)
{
    path = QPainterPath();
    if (text.isEmpty())
    {
        return true;
    }
    // Base64 carries 3 bytes in 4 characters: bound the text before decoding.
    qint64 const maximumBytes = PATH_HEADER_BYTES + PATH_ELEMENT_BYTES * qint64(MAXIMUM_PATH_ELEMENTS);
    if (qint64(text.size()) > (maximumBytes + 2) / 3 * 4)
    {
        error = QStringLiteral("path data too long");
        return false;
    }
    QByteArray::FromBase64Result const decoded =
        QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || text.size() % 4 != 0)
    {
        error = QStringLiteral("invalid Base64");
        return false;
    }
    QByteArray const& bytes = decoded.decoded;
    QDataStream stream(bytes);
    qint32 count = 0;
    stream >> count;
    if (stream.status() != QDataStream::Ok)
    {
        error = QStringLiteral("truncated path data");
        return false;
    }
    if (count == 0)
    {
        if (bytes.size() != EMPTY_PATH_BYTES)
        {
            error = QStringLiteral("path data size does not match its element count");
            return false;
        }
        return true;
    }
    if (count < 0 || count > MAXIMUM_PATH_ELEMENTS)
    {
        error = QStringLiteral("path element count %1 out of range").arg(count);
        return false;
    }
    if (qint64(bytes.size()) != PATH_HEADER_BYTES + PATH_ELEMENT_BYTES * qint64(count))
    {
        error = QStringLiteral("path data size does not match its element count");
        return false;
    }
    // The size matches, so every read below has its bytes.
    int pendingCurveData = 0;
    for (qint32 i = 0; i < count; ++i)
    {
        qint32 type = 0;
        double x = 0.0;
        double y = 0.0;
        stream >> type >> x >> y;
        if (type < MOVE_TO || type > CURVE_DATA)
        {
            error = QStringLiteral("path element type %1 out of range").arg(type);
            return false;
        }
        if (!std::isfinite(x) || !std::isfinite(y))
        {
            error = QStringLiteral("path coordinate not finite");
            return false;
        }
        if (i == 0 && type != MOVE_TO)
        {
            error = QStringLiteral("path does not start with a move");
            return false;
        }
        if ((pendingCurveData > 0) != (type == CURVE_DATA))
        {
            error = QStringLiteral("curve without its two data elements");
            return false;
        }
        if (type == CURVE_TO)
        {
            pendingCurveData = 2;
        }
        else if (type == CURVE_DATA)
        {
            --pendingCurveData;
        }
    }
    qint32 subPathStart = 0;
    qint32 fillRule = 0;
    stream >> subPathStart >> fillRule;
    if (pendingCurveData > 0)
    {
        error = QStringLiteral("curve without its two data elements");
        return false;
    }
    if (subPathStart < 0 || subPathStart >= count || (fillRule != Qt::OddEvenFill && fillRule != Qt::WindingFill))
    {
        error = QStringLiteral("invalid path trailer");
        return false;
    }
    // Everything is checked: let the library read the same bytes, so that the
    // path saves back byte for byte.
    QPainterPath result;
    QDataStream again(bytes);
    again >> result;
    if (again.status() != QDataStream::Ok || result.elementCount() != count)
    {
        error = QStringLiteral("unreadable path data");
        return false;
    }
    path = result;
    return true;
}

QString StrokeDataCodec::EncodePoints(QList<QPointF> const& points)
{
    // Each number in the fewest digits that read back to the same double.
    auto const number = [](double value) { return QString::number(value, 'g', QLocale::FloatingPointShortest); };
    QString text;
    for (QPointF const& point : points)
    {
        text += number(point.x()) + QLatin1Char(',') + number(point.y()) + QLatin1Char(';');
    }
    return text;
}

bool StrokeDataCodec::DecodePoints(QString const& text, QList<QPointF>& points)
{
    points.clear();
    QStringList const parts = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
    {
        return false;
    }
    for (QString const& part : parts)
    {
        QStringList const values = part.split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (values.size() != 2)
        {
            points.clear();
            return false;
        }
        bool xOk = false;
        bool yOk = false;
        // Read in the precision they were written in, so that a file saves
        // back unchanged.
        double const x = values.at(0).toDouble(&xOk);
        double const y = values.at(1).toDouble(&yOk);
        if (!xOk || !yOk || !std::isfinite(x) || !std::isfinite(y))
        {
            points.clear();
            return false;
        }
        points.append(QPointF(x, y));
    }
    return true;
}

QJsonObject StrokeDataCodec::WriteStroke(StrokeData const& stroke)
{
    QJsonObject object;
    object.insert(QStringLiteral("width"), double(stroke.width));
    object.insert(QStringLiteral("color"), stroke.color.name(QColor::HexArgb));
    object.insert(QStringLiteral("type"), stroke.type);
    if (stroke.type == 3)
    {
        object.insert(QStringLiteral("text"), stroke.text);
    }
    object.insert(QStringLiteral("path"), EncodePath(stroke.path));
    object.insert(QStringLiteral("points"), EncodePoints(stroke.points));
    return object;
}

bool StrokeDataCodec::ReadStroke(QJsonObject const& object, StrokeData& stroke)
{
    stroke = StrokeData();
    stroke.points.clear();
    double const width = object.value(QStringLiteral("width")).toDouble(0.0);
    if (!std::isfinite(width) || width < 0.0 || width > double(std::numeric_limits<float>::max()))
    {
        return false;
    }
    stroke.width = float(width);
    stroke.color = QColor::fromString(object.value(QStringLiteral("color")).toString());
    if (!stroke.color.isValid())
    {
        return false;
    }
    stroke.type = object.value(QStringLiteral("type")).toInt(-1);
    if (stroke.type < 0 || stroke.type > 8)
    {
        return false;
    }
    if (stroke.type == 3)
    {
        stroke.text = object.value(QStringLiteral("text")).toString();
        if (stroke.text.isEmpty())
        {
            return false;
        }
    }
    // Checked in full before anything is built from it: a rejected path
    // costs its stroke only.
    QString error;
    if (!DecodePath(object.value(QStringLiteral("path")).toString(), stroke.path, error))
    {
        Logger::GetInstance()->Warning(QStringLiteral("Annotation stroke skipped: %1").arg(error));
        return false;
    }
    return DecodePoints(object.value(QStringLiteral("points")).toString(), stroke.points);
}
