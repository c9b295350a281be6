#pragma once

#include "model/ProjectItem.h"

#include <QList>
#include <QMultiHash>

#include <memory>

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

    // Keeps the tree's index right when a node of this folder changes its id
    // (ProjectItem::SetId calls it).
    void ChildIdChanged(ProjectItem* child, QUuid const& oldId);

private:
    using ItemIndex = QMultiHash<QUuid, ProjectItem*>;

    // Whether the node lies below this folder, found through the parent links.
    bool HoldsDescendant(ProjectItem const* item) const;
    // Pre-order walk of the subtree below this folder, without recursing
    // (a tree may be deeper than the stack).
    ProjectItem* FirstDescendantWithId(QUuid const& id) const;

    FolderItemType mType;
    bool mExpanded = false;
    QList<ProjectItem*> mChildren;
    // Every node below the top folder of the tree this folder is in, by id,
    // shared by all folders of that tree: finding a node by id costs no walk
    // of the tree. A folder taken out of a tree starts an index of its own.
    std::shared_ptr<ItemIndex> mIndex = std::make_shared<ItemIndex>();
};
