#pragma once

#include <QUndoCommand>
#include <QUuid>

class Project;

// Moves a node to a folder. The first redo takes the index as a drop position;
// every later step moves to the exact position recorded by the step before, so
// redo after undo always lands where the first redo did.
class MoveProjectItemCmd : public QUndoCommand
{
public:
    MoveProjectItemCmd(Project* project, QUuid const& itemId, QUuid const& folderId, int index);

    void undo() override;
    void redo() override;

private:
    void DoMove(bool exactIndex);

    Project* mProject;
    QUuid mItemId;
    QUuid mFolderId;
    int mIndex;
    bool mMovedOnce = false;
};
