#pragma once

#include <QMetaType>

// Where strokes go: the frame bookmark of the shown frame, or the timeline's
// background bookmark shown on every frame.
enum class AnnotationLayer : int
{
    Foreground = 0,
    Background = 1
};

Q_DECLARE_METATYPE(AnnotationLayer)
