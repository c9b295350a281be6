#pragma once

#include "model/FrameBookmarkCmd.h"

// Inserts a frame bookmark.
class InsertFrameBookmarkCmd : public FrameBookmarkCmd
{
public:
    InsertFrameBookmarkCmd(Project* project, QUuid const& timelineId, int frame);

    void undo() override;
    void redo() override;
};
