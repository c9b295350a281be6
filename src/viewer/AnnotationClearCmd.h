#pragma once

#include "model/StrokeData.h"

#include <QList>
#include <QUndoCommand>

struct FrameBookmark;

// Takes every stroke of a bookmark away; undo gives them back.
class AnnotationClearCmd : public QUndoCommand
{
public:
    explicit AnnotationClearCmd(FrameBookmark* bookmark);
    ~AnnotationClearCmd() override;

    void undo() override;
    void redo() override;

private:
    FrameBookmark* bookmark;
    QList<StrokeData> strokes;
};
