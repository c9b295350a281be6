#pragma once

#include <QString>
#include <QUndoCommand>
#include <QUuid>

class Project;

// Renames a node; undo and redo swap the stored name with the current one.
class RenameProjectItemCmd : public QUndoCommand
{
public:
    RenameProjectItemCmd(Project* project, QUuid const& itemId, QString const& name);

    void undo() override;
    void redo() override;

private:
    void Rename();

    Project* mProject;
    QUuid mItemId;
    QString mName;
};
