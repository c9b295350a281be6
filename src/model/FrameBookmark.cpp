#include "model/FrameBookmark.h"

#include "app/Settings.h"

FrameBookmark::FrameBookmark(int sourceFrame)
    : frame(sourceFrame)
{
    undoStack.setUndoLimit(Settings::annotationUndoLimit);
}
