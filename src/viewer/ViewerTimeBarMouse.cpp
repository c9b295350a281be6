#include "viewer/ViewerTimeBarMouse.h"

#include "viewer/OpenGLViewer.h"

#include <QMouseEvent>

void ViewerTimeBarMouse::SetViewer(OpenGLViewer* viewer)
{
    openGLViewer = viewer;
}

bool ViewerTimeBarMouse::MousePressEvent(QMouseEvent* event)
{
    if (!openGLViewer || (event->button() != Qt::LeftButton && event->button() != Qt::RightButton))
    {
        return false;
    }
    if (globalBarPressed || globalBarMenuPending || rangeBarPressed || rangeBarMenuPending)
    {
        return true; // a bar gesture is under way
    }
    QPoint const point = event->position().toPoint();
    bool const right = event->button() == Qt::RightButton;
    if (openGLViewer->GlobalTimeControlContains(point))
    {
        if (right)
        {
            globalBarMenuPending = true;
        }
        else
        {
            globalBarPressed = true;
            openGLViewer->GlobalTimeControlMousePressEvent(event);
            openGLViewer->update();
        }
        return true;
    }
    if (openGLViewer->RangeTimeControlContains(point))
    {
        if (right)
        {
            rangeBarMenuPending = true;
        }
        else
        {
            rangeBarPressed = true;
            openGLViewer->RangeTimeControlMousePressEvent(event);
            openGLViewer->update();
        }
        return true;
    }
    return false;
}

bool ViewerTimeBarMouse::MouseReleaseEvent(QMouseEvent* event)
{
    if (!openGLViewer || (event->button() != Qt::LeftButton && event->button() != Qt::RightButton))
    {
        return false;
    }
    QPoint const point = event->position().toPoint();
    bool const left = event->button() == Qt::LeftButton;
    if (globalBarMenuPending && !left)
    {
        globalBarMenuPending = false;
        if (openGLViewer->GlobalTimeControlContains(point))
        {
            openGLViewer->GlobalTimeControlShowContextMenu(point);
        }
        return true;
    }
    if (rangeBarMenuPending && !left)
    {
        rangeBarMenuPending = false;
        if (openGLViewer->RangeTimeControlContains(point))
        {
            openGLViewer->RangeTimeControlShowContextMenu(point);
        }
        return true;
    }
    if (globalBarPressed)
    {
        if (left)
        {
            globalBarPressed = false;
            openGLViewer->GlobalTimeControlMouseReleaseEvent(event);
            openGLViewer->update();
        }
        return true;
    }
    if (rangeBarPressed)
    {
        if (left)
        {
            rangeBarPressed = false;
            openGLViewer->RangeTimeControlMouseReleaseEvent(event);
            openGLViewer->update();
        }
        return true;
    }
    return globalBarMenuPending || rangeBarMenuPending;
}

bool ViewerTimeBarMouse::MouseMoveEvent(QMouseEvent* event)
{
    if (!openGLViewer)
    {
        return false;
    }
    QPoint const point = event->position().toPoint();
    bool const onGlobal = openGLViewer->GlobalTimeControlContains(point);
    bool const onRange = openGLViewer->RangeTimeControlContains(point);
    openGLViewer->GlobalTimeControlSetUnderMouse(onGlobal);
    openGLViewer->RangeTimeControlSetUnderMouse(onRange);
    bool handled = false;
    if (event->buttons() == Qt::NoButton)
    {
        if (onGlobal)
        {
            openGLViewer->GlobalTimeControlMouseMoveEvent(event);
            handled = true;
        }
        else if (onRange)
        {
            openGLViewer->RangeTimeControlMouseMoveEvent(event);
            handled = true;
        }
    }
    else if (globalBarPressed)
    {
        openGLViewer->GlobalTimeControlMouseMoveEvent(event);
        openGLViewer->update();
        handled = true;
    }
    else if (rangeBarPressed)
    {
        openGLViewer->RangeTimeControlMouseMoveEvent(event);
        openGLViewer->update();
        handled = true;
    }
    else if (globalBarMenuPending || rangeBarMenuPending)
    {
        handled = true;
    }
    return handled;
}
