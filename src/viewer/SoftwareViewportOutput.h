#pragma once

#include "viewer/ViewportOutput.h"

#include <QPixmap>

// A viewport of the software viewer: the frame's picture turned, flipped and
// corrected for pixel aspect once per frame, and that picture fitted to the
// viewport once per frame or layout change.
class SoftwareViewportOutput : public ViewportOutput
{
public:
    QPixmap pixmap;       // null without a frame
    QPixmap scaledPixmap; // pixmap fitted to rect; null when pixmap is
};
