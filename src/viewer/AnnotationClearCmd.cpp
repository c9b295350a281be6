#include "viewer/AnnotationClearCmd.h"

#include "model/FrameBookmark.h"

AnnotationClearCmd::AnnotationClearCmd(FrameBookmark* bookmark)
    : bookmark(bookmark)
{
}

AnnotationClearCmd::~AnnotationClearCmd() = default;

void AnnotationClearCmd::undo()
{
    if (!bookmark)
    {
        return;
    }
    bookmark->strokes = strokes;
    strokes.clear();
}

void AnnotationClearCmd::redo()
{
    if (!bookmark)
    {
        return;
    }
    strokes = bookmark->strokes;
    bookmark->strokes.clear();
}
