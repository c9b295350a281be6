#pragma once

#include <QColor>
#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QString>

// One annotation stroke, held by value in its frame bookmark.
struct StrokeData
{
    QList<QPointF> points; // sampled points, in drawing order
    QPainterPath path;
    float width = 1.0f;
    QColor color = QColor(Qt::white);
    // 0 pencil, 1 laser pointer, 2 eraser, 3 text, 4 straight line,
    // 5 arrow, 6 ellipse, 7 rectangle
    int type = 0;
    QString text;
};
