#pragma once

#include <QMetaType>

// The guide the viewer overlay draws over the picture.
enum class ViewerOverlayDrawable : int
{
    Off = 0,
    SafeArea = 1,
    Grid = 2,
    Center = 3
};

Q_DECLARE_METATYPE(ViewerOverlayDrawable)
