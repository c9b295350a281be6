#pragma once

#include <QPoint>
#include <QRect>

#include <functional>

class QScreen;

// Where the endless mouse scrub puts a pointer that reached the outer edge
// of the desktop: just inside the far edge of the outermost screen on the
// other side, so that the drag goes on. Screens side by side count as one
// desktop. Main thread only.
class DesktopEdgeWrap
{
public:
    // The geometry of the screen holding a global point; a null rect when
    // none does.
    using ScreenGeometryLookup = std::function<QRect(QPoint const&)>;

    // Where to look for screens; the application's screens by default.
    void SetScreenGeometryLookup(ScreenGeometryLookup lookup);
    // Moves a pointer at an outer edge of the desktop to the other side:
    // true when it moved (never while the endless scrub is off).
    bool EndlessMouseDragWrapped(QPoint& position) const;
    QPoint LeftmostDesktopEdge(QScreen* screen, int y) const;
    QPoint RightmostDesktopEdge(QScreen* screen, int y) const;
    QPoint LeftmostDesktopEdge(QRect const& screenGeometry, int y) const;
    QPoint RightmostDesktopEdge(QRect const& screenGeometry, int y) const;

private:
    QRect ScreenGeometryAt(QPoint const& position) const;

    ScreenGeometryLookup screenGeometryLookup;
};
