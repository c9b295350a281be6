#pragma once

#include "model/StrokeData.h"

#include <QList>
#include <QUndoStack>

// A bookmarked frame with its annotation strokes and their own undo history.
// Owned by one clip (or by a timeline as its background layer).
struct FrameBookmark
{
    // A fresh bookmark: no strokes, an empty undo stack limited by the
    // annotation undo setting.
    explicit FrameBookmark(int sourceFrame = 0);

    FrameBookmark(FrameBookmark const&) = delete;
    FrameBookmark& operator=(FrameBookmark const&) = delete;

    int frame;              // frame of the source
    int timelineFrame = -1; // frame on the timeline; -1 outside the clip's used range
    QList<StrokeData> strokes;
    QUndoStack undoStack;
};
