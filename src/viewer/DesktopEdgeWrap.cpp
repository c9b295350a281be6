#include "viewer/DesktopEdgeWrap.h"

#include "app/Settings.h"

#include <QGuiApplication>
#include <QScreen>

void DesktopEdgeWrap::SetScreenGeometryLookup(ScreenGeometryLookup lookup)
{
    screenGeometryLookup = std::move(lookup);
}

QRect DesktopEdgeWrap::ScreenGeometryAt(QPoint const& position) const
{
    if (screenGeometryLookup)
    {
        return screenGeometryLookup(position);
    }
    QScreen* const screen = QGuiApplication::screenAt(position);
    return screen ? screen->geometry() : QRect();
}

bool DesktopEdgeWrap::EndlessMouseDragWrapped(QPoint& position) const
{
    if (!Settings::endlessMouseScrub)
    {
        return false;
    }
    QRect const screen = ScreenGeometryAt(position);
    if (screen.isNull())
    {
        return false;
    }
    bool const screenRight = !ScreenGeometryAt(position + QPoint(2, 0)).isNull();
    bool const screenLeft = !ScreenGeometryAt(position - QPoint(2, 0)).isNull();
    if (screenRight && !screenLeft)
    {
        position = RightmostDesktopEdge(screen, position.y());
        return true;
    }
    if (!screenRight)
    {
        position = LeftmostDesktopEdge(screen, position.y());
        return true;
    }
    return false;
}

QPoint DesktopEdgeWrap::LeftmostDesktopEdge(QRect const& screenGeometry, int y) const
{
    QRect screen = screenGeometry;
    // Bounded by the number of screens a desktop can hold side by side.
    for (int guard = 0; guard < 64; ++guard)
    {
        QRect const next = ScreenGeometryAt(QPoint(screen.left() - 2, y));
        if (next.isNull() || next == screen)
        {
            break;
        }
        screen = next;
    }
    return QPoint(screen.left() + 3, y);
}

QPoint DesktopEdgeWrap::RightmostDesktopEdge(QRect const& screenGeometry, int y) const
{
    QRect screen = screenGeometry;
    for (int guard = 0; guard < 64; ++guard)
    {
        QRect const next = ScreenGeometryAt(QPoint(screen.right() + 3, y));
        if (next.isNull() || next == screen)
        {
            break;
        }
        screen = next;
    }
    return QPoint(screen.right() - 2, y);
}

QPoint DesktopEdgeWrap::LeftmostDesktopEdge(QScreen* screen, int y) const
{
    return screen ? LeftmostDesktopEdge(screen->geometry(), y) : QPoint(0, y);
}

QPoint DesktopEdgeWrap::RightmostDesktopEdge(QScreen* screen, int y) const
{
    return screen ? RightmostDesktopEdge(screen->geometry(), y) : QPoint(0, y);
}
