#pragma once

#include <QString>
#include <QUndoCommand>
#include <QUuid>

class Project;
class ProjectItem;

// Takes a node out of the project and holds it; undo puts the same node back
// where it was. A node still held when the command goes is deleted with it.
// The commands for each kind of node say how one is found, taken out and put
// back.
class DeleteProjectItemCmd : public QUndoCommand
{
public:
    ~DeleteProjectItemCmd() override;

    void undo() override;
    void redo() override;

protected:
    DeleteProjectItemCmd(Project* project, QUuid const& id, QString const& text);

    // The node to take out; null when there is none of this kind to take.
    virtual ProjectItem* Find(QUuid const& id) const = 0;
    virtual void Remove(QUuid const& id) = 0;
    // Puts back a node that Find returned.
    virtual void Insert(ProjectItem* item, QUuid const& parentId, int index) = 0;

    Project* mProject;

private:
    ProjectItem* mItem = nullptr;
    QUuid mItemId;
    QUuid mParentId;
    int mIndex = -1;
};
