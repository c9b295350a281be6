#pragma once

#include <QString>
#include <QUndoCommand>
#include <QUuid>

class FolderItem;
class Project;

// Adds a user folder; undo takes the same folder object out and redo puts it
// back where it was.
class AddFolderCmd : public QUndoCommand
{
public:
    AddFolderCmd(Project* project, QString const& name, QUuid const& parentId);
    ~AddFolderCmd() override;

    void undo() override;
    void redo() override;

    QUuid FolderItemId() const;

private:
    Project* mProject;
    FolderItem* mFolder = nullptr;
    QUuid mFolderId;
    QUuid mParentId;
    int mIndex = -1;
    QString mName;
};
