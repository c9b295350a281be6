#pragma once

#include <QMetaType>

// How the viewer divides its area into viewports.
enum class ViewerLayoutType : int
{
    Single = 0,          // 1 x 1
    AOverB = 1,          // 1 x 1, two pictures stacked
    HorizontalSplit = 2, // 1 row, 2 columns
    VerticalSplit = 3,   // 2 rows, 1 column
    Grid = 4             // 2 x 2, or any other rows x columns
};

Q_DECLARE_METATYPE(ViewerLayoutType)
