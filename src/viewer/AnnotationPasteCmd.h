#pragma once

#include "model/StrokeData.h"

#include <QList>
#include <QUndoCommand>

struct FrameBookmark;

// Replaces a bookmark's strokes by pasted ones; undo gives back the strokes
// that were there.
class AnnotationPasteCmd : public QUndoCommand
{
public:
    AnnotationPasteCmd(FrameBookmark* bookmark, QList<StrokeData> const& pasted);
    ~AnnotationPasteCmd() override;

    void undo() override;
    void redo() override;

private:
    FrameBookmark* bookmark;
    QList<StrokeData> pasted;
    QList<StrokeData> previous;
};
