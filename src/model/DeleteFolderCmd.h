#pragma once

#include <QUndoCommand>
#include <QUuid>

class FolderItem;
class Project;

// Takes a node out of the project and holds it; undo puts the same node back
// where it was. A node still held when the command goes is deleted with it.
class DeleteFolderCmd : public QUndoCommand
{
public:
    DeleteFolderCmd(Project* project, QUuid const& id);
    ~DeleteFolderCmd() override;

    void undo() override;
    void redo() override;

private:
    Project* mProject;
    FolderItem* mItem = nullptr;
    QUuid mItemId;
    QUuid mParentId;
    int mIndex = -1;
};
