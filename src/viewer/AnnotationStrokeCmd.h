#pragma once

#include "model/StrokeData.h"

#include <QUndoCommand>

struct FrameBookmark;

// The last stroke of a bookmark, drawn already when the command is pushed:
// the first redo changes nothing, undo takes the stroke out and redo puts it
// back.
class AnnotationStrokeCmd : public QUndoCommand
{
public:
    explicit AnnotationStrokeCmd(FrameBookmark* bookmark);
    ~AnnotationStrokeCmd() override;

    void undo() override;
    void redo() override;

private:
    FrameBookmark* bookmark;
    StrokeData stroke;
    bool undone = false;
};
