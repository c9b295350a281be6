#pragma once

#include <QMetaType>

// The drawing tool chosen in the tool strip; also the order of the per-tool
// settings. Any other value draws freehand pencil strokes.
enum class AnnotationToolType : int
{
    Pencil = 0, // freehand, or a straight line when Shift is held at the press
    LaserPointer = 1,
    Eraser = 2,
    Text = 3,
    Arrow = 4,
    Ellipse = 5,
    Rectangle = 6
};

Q_DECLARE_METATYPE(AnnotationToolType)
