#pragma once

#include "viewer/FramePicture.h"

#include <QRect>
#include <QSize>

#include <memory>

struct VideoFrame;

// One viewport of a viewer and the frame it shows. Owned by the viewer's list
// of outputs; the viewers extend it with their own drawing state.
class ViewportOutput
{
public:
    ViewportOutput() = default;
    virtual ~ViewportOutput();

    ViewportOutput(ViewportOutput const&) = delete;
    ViewportOutput& operator=(ViewportOutput const&) = delete;

    std::shared_ptr<VideoFrame> frame; // null when the viewport is empty
    float alpha = 1.0f;                // opacity of the picture over what lies below it
    QSize imageSize {-1, -1};          // size of the shown picture, -1 x -1 when unknown
    QRect rect;                        // in the viewer's own coordinates; null before the first layout
    FramePicture picture;              // what was read of frame when it was handed over
};
