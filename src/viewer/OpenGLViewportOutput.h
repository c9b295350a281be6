#pragma once

#include "viewer/ViewportOutput.h"

#include <QSize>
#include <qopengl.h>

// A viewport of the OpenGL viewer: one texture per plane of its frame (the
// packed RGB or RGBA picture, or Y, U and V) and what its quad was last
// fitted by, so that a frame of the same geometry leaves the quad as it is.
class OpenGLViewportOutput : public ViewportOutput
{
public:
    GLuint textures[3] = {0, 0, 0};
    QSize textureSizes[3];                   // size each texture was made with
    int textureFormats[3] = {-1, -1, -1};    // the VideoFramePixelFormat each was made for
    int rotation = 0;                        // the stream's own, 0, 90, 180 or 270; 0 without a frame
    float displayAspectRatio = 0.0f;         // the picture's; 0 without a frame
};
