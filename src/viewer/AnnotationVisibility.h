#pragma once

#include <QMetaType>

// When annotations are shown over the picture.
enum class AnnotationVisibility : int
{
    On = 0,
    OffDuringPlayback = 1, // shown only while playback is stopped
    Off = 2
};

Q_DECLARE_METATYPE(AnnotationVisibility)
