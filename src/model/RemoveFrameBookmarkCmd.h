#pragma once

#include "model/FrameBookmarkCmd.h"

// Removes a frame bookmark.
class RemoveFrameBookmarkCmd : public FrameBookmarkCmd
{
public:
    RemoveFrameBookmarkCmd(Project* project, QUuid const& timelineId, int frame);

    void undo() override;
    void redo() override;
};
