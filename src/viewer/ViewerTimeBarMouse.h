#pragma once

class OpenGLViewer;
class QMouseEvent;

// The mouse on the time bars the OpenGL viewer draws over the picture: a
// left press drags the bar as on the bar widget itself, a right press and
// release on it opens its menu, and a bar gesture under way keeps every
// button to itself until it ends. Nothing is taken without that viewer
// (software rendering). Main thread only.
class ViewerTimeBarMouse
{
public:
    void SetViewer(OpenGLViewer* viewer);

    // Each returns true when the bars took the event.
    bool MousePressEvent(QMouseEvent* event);
    bool MouseReleaseEvent(QMouseEvent* event);
    bool MouseMoveEvent(QMouseEvent* event);

private:
    OpenGLViewer* openGLViewer = nullptr; // not owned; null under software rendering
    bool globalBarPressed = false;
    bool globalBarMenuPending = false;
    bool rangeBarPressed = false;
    bool rangeBarMenuPending = false;
};
