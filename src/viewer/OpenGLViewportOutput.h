#pragma once

#include "viewer/ViewportOutput.h"

#include <QSize>
#include <qopengl.h>

// A viewport of the OpenGL viewer: one texture per plane of its frame (the
// packed RGB or RGBA picture, or Y, U and V) and the stream properties the
// geometry and the shader use, noted when the frame arrived.
class OpenGLViewportOutput : public ViewportOutput
{
public:
    GLuint textures[3] = {0, 0, 0};
    QSize textureSizes[3];                   // size each texture was made with
    int textureFormats[3] = {-1, -1, -1};    // the VideoFramePixelFormat each was made for
    int rotation = 0;                        // the stream's own, 0, 90, 180 or 270
    float pixelAspectRatio = 1.0f;
    bool yuv = false;
    bool rec709 = false;
    bool linear = false;
};
