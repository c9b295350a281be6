#include "model/InsertFrameBookmarkCmd.h"

InsertFrameBookmarkCmd::InsertFrameBookmarkCmd(Project* project, QUuid const& timelineId, int frame)
    : FrameBookmarkCmd(project, timelineId, frame, QStringLiteral("InsertFrameBookmark"))
{
}

void InsertFrameBookmarkCmd::redo()
{
    Insert();
}

void InsertFrameBookmarkCmd::undo()
{
    if (Changed())
    {
        Take();
    }
}
