#include "model/RemoveFrameBookmarkCmd.h"

RemoveFrameBookmarkCmd::RemoveFrameBookmarkCmd(Project* project, QUuid const& timelineId, int frame)
    : FrameBookmarkCmd(project, timelineId, frame, QStringLiteral("RemoveFrameBookmark"))
{
}

void RemoveFrameBookmarkCmd::redo()
{
    Take();
}

void RemoveFrameBookmarkCmd::undo()
{
    if (Changed())
    {
        Insert();
    }
}
