#include "viewer/AnnotationStrokeCmd.h"

#include "model/FrameBookmark.h"

AnnotationStrokeCmd::AnnotationStrokeCmd(FrameBookmark* bookmark)
    : bookmark(bookmark)
{
}

AnnotationStrokeCmd::~AnnotationStrokeCmd() = default;

void AnnotationStrokeCmd::undo()
{
    // An empty list has nothing of this command's to give back; redo then
    // has nothing to restore either.
    if (!bookmark || bookmark->strokes.isEmpty())
    {
        return;
    }
    stroke = bookmark->strokes.takeLast();
    undone = true;
}

void AnnotationStrokeCmd::redo()
{
    if (!bookmark || !undone)
    {
        return;
    }
    bookmark->strokes.append(stroke);
    stroke = StrokeData();
    undone = false;
}
