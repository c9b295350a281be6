#include "viewer/AnnotationPasteCmd.h"

#include "model/FrameBookmark.h"

AnnotationPasteCmd::AnnotationPasteCmd(FrameBookmark* bookmark, QList<StrokeData> const& pasted)
    : bookmark(bookmark)
    , pasted(pasted)
{
}

AnnotationPasteCmd::~AnnotationPasteCmd() = default;

void AnnotationPasteCmd::undo()
{
    if (!bookmark)
    {
        return;
    }
    bookmark->strokes = previous;
    previous.clear();
}

void AnnotationPasteCmd::redo()
{
    if (!bookmark)
    {
        return;
    }
    previous = bookmark->strokes;
    bookmark->strokes = pasted;
}
