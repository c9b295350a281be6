#pragma once

#include <QMetaType>

// The colour around and behind the pictures.
enum class ViewerBackgroundType : int
{
    Black = 0, // also any value other than 1, 2 and 3
    MediumGrey = 1,
    LightGrey = 2,
    White = 3
};

Q_DECLARE_METATYPE(ViewerBackgroundType)
