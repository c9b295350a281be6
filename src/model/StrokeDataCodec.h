#pragma once

#include "model/StrokeData.h"

#include <QJsonObject>
#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QString>

// The text forms of a stroke in project files: one JSON object per stroke,
// its painter path as Base64 of a QDataStream (default version and byte order)
// and its points as "x,y;" pairs. Files are untrusted: the readers check
// everything before they allocate or build anything.
class StrokeDataCodec
{
public:
    // Longest path a file may hold; a freehand stroke has a few thousand.
    static constexpr int MAXIMUM_PATH_ELEMENTS = 1000000;

    static QString EncodePath(QPainterPath const& path);
    // An empty text gives an empty path. False, with the reason in error,
    // for anything but a well-formed path: strict Base64, a byte size that
    // matches the stored element count (4 bytes when empty, else 12 plus 20
    // per element) within the bound, element types 0 to 3 starting with a
    // move, each curve followed by exactly its two data elements, finite
    // coordinates, a valid sub-path start and fill rule.
    static bool DecodePath(QString const& text, QPainterPath& path, QString& error);

    static QString EncodePoints(QList<QPointF> const& points);
    // False when the text holds no point or a part that is not two finite
    // numbers.
    static bool DecodePoints(QString const& text, QList<QPointF>& points);

    // One stroke object: "width", "color", "type", "text" (text strokes only),
    // "path" and "points".
    static QJsonObject WriteStroke(StrokeData const& stroke);
    // False when the stroke must be dropped: a negative width, an invalid
    // colour, a type outside 0 to 8, a text stroke without text, a rejected
    // path (logged as a warning) or no valid point list.
    static bool ReadStroke(QJsonObject const& object, StrokeData& stroke);
};
