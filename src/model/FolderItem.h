#pragma once

#include "model/ProjectItem.h"

#include <QList>

class TimelineItem;

enum class FolderItemType : qint32
{
    ProjectFolder = 0,   // the top-level project folder and every user folder
    SourcesFolder = 1,   // the top-level sources folder
    TimelinesFolder = 2, // the top-level timelines folder
};

// A folder of the project tree: an ordered list of child nodes, each also a Qt
// child of the folder, so deleting a folder deletes its subtree.
class FolderItem : public ProjectItem
{
public:
    FolderItem(FolderItemType type, QString const& name, QObject* parent = nullptr);

    ProjectItemType ItemType() const override;

    FolderItemType FolderType() const;
    void SetExpanded(bool expanded);
    bool IsExpanded() const;
    int ChildCount() const;
    QList<ProjectItem*> ChildItems() const;

    bool IsRootFolder() const;
    // The top-level roles are recognised by name and the absence of a parent.
    bool IsProjectRootFolder() const;
    bool IsTimelinesRootFolder() const;
    bool IsSourcesRootFolder() const;

    // The ids of the whole subtree in pre-order, the folder's own excluded.
    QList<QUuid> DescendentItemIds() const;
    void ChildFolders(QList<FolderItem*>& folders) const;
    void ChildTimelines(QList<TimelineItem*>& timelines) const;
    // Appends to the list without clearing it.
    void DescendentTimelines(QList<TimelineItem*>& timelines) const;
    ProjectItem* FindChildById(QUuid const& id) const;

    // A negative index, or one beyond the end, appends.
    void InsertProjectItem(ProjectItem* item, int index);
    void RemoveProjectItem(ProjectItem* item);
    // The removed node keeps its parent id, so an undo record can put it back.
    void RemoveProjectItemAtIndex(int index);
    int ProjectItemIndex(ProjectItem* item) const;
    // The position counted without edit timelines, as a project file stores it.
    int SourceTimelineSaveIndex(ProjectItem* item) const;

private:
    FolderItemType mType;
    bool mExpanded = false;
    QList<ProjectItem*> mChildren;
};
