#include "model/FolderItem.h"

#include "app/Settings.h"
#include "model/TimelineItem.h"

namespace
{
QString const DEFAULT_FOLDER_ITEM_NAME = QStringLiteral("New Folder");

bool IsFolder(ProjectItem const* item)
{
    return item->ItemType() == ProjectItemType::Folder;
}

// Visits the node and every node below it in pre-order, with a stack of its
// own instead of recursion.
template <typename Visit>
void VisitSubtree(ProjectItem* top, Visit&& visit)
{
    QList<ProjectItem*> pending {top};
    while (!pending.isEmpty())
    {
        ProjectItem* item = pending.takeLast();
        visit(item);
        if (IsFolder(item))
        {
            QList<ProjectItem*> const children = static_cast<FolderItem*>(item)->ChildItems();
            for (auto it = children.crbegin(); it != children.crend(); ++it)
            {
                pending.append(*it);
            }
        }
    }
}
} // namespace

FolderItem::FolderItem(FolderItemType type, QString const& name, QObject* parent)
    : ProjectItem(parent)
    , mType(type)
{
    SetName(name.isEmpty() ? DEFAULT_FOLDER_ITEM_NAME : name);
}

ProjectItemType FolderItem::ItemType() const
{
    return ProjectItemType::Folder;
}

FolderItemType FolderItem::FolderType() const
{
    return mType;
}

void FolderItem::SetExpanded(bool expanded)
{
    mExpanded = expanded;
}

bool FolderItem::IsExpanded() const
{
    return mExpanded;
}

int FolderItem::ChildCount() const
{
    return static_cast<int>(mChildren.size());
}

QList<ProjectItem*> FolderItem::ChildItems() const
{
    return mChildren;
}

bool FolderItem::IsRootFolder() const
{
    return !HasParent();
}

bool FolderItem::IsProjectRootFolder() const
{
    return IsRootFolder() && Name() == Settings::projectFolderName;
}

bool FolderItem::IsTimelinesRootFolder() const
{
    return IsRootFolder() && Name() == Settings::timelinesFolderName;
}

bool FolderItem::IsSourcesRootFolder() const
{
    return IsRootFolder() && Name() == Settings::sourcesFolderName;
}

QList<QUuid> FolderItem::DescendentItemIds() const
{
    QList<QUuid> ids;
    for (ProjectItem* child : mChildren)
    {
        VisitSubtree(child, [&ids](ProjectItem* item) { ids.append(item->Id()); });
    }
    return ids;
}

void FolderItem::ChildFolders(QList<FolderItem*>& folders) const
{
    folders.clear();
    for (ProjectItem* child : mChildren)
    {
        if (child->ItemType() == ProjectItemType::Folder)
        {
            folders.append(static_cast<FolderItem*>(child));
        }
    }
}

void FolderItem::ChildTimelines(QList<TimelineItem*>& timelines) const
{
    timelines.clear();
    for (ProjectItem* child : mChildren)
    {
        if (child->ItemType() != ProjectItemType::Folder)
        {
            timelines.append(static_cast<TimelineItem*>(child));
        }
    }
}

void FolderItem::DescendentTimelines(QList<TimelineItem*>& timelines) const
{
    // A folder's own timelines, then each subfolder's whole share in turn.
    QList<FolderItem const*> pending {this};
    while (!pending.isEmpty())
    {
        FolderItem const* folder = pending.takeLast();
        QList<FolderItem*> folders;
        for (ProjectItem* child : folder->mChildren)
        {
            if (IsFolder(child))
            {
                folders.append(static_cast<FolderItem*>(child));
            }
            else
            {
                timelines.append(static_cast<TimelineItem*>(child));
            }
        }
        for (auto it = folders.crbegin(); it != folders.crend(); ++it)
        {
            pending.append(*it);
        }
    }
}

bool FolderItem::HoldsDescendant(ProjectItem const* item) const
{
    for (QObject const* holder = item->parent(); holder; holder = holder->parent())
    {
        if (holder == this)
        {
            return true;
        }
        auto const* folder = qobject_cast<ProjectItem const*>(holder);
        if (!folder || !IsFolder(folder))
        {
            return false;
        }
    }
    return false;
}

ProjectItem* FolderItem::FirstDescendantWithId(QUuid const& id) const
{
    ProjectItem* found = nullptr;
    for (ProjectItem* child : mChildren)
    {
        VisitSubtree(child, [&found, &id](ProjectItem* item) {
            if (!found && item->Id() == id)
            {
                found = item;
            }
        });
        if (found)
        {
            break;
        }
    }
    return found;
}

ProjectItem* FolderItem::FindChildById(QUuid const& id) const
{
    ProjectItem* found = nullptr;
    int matches = 0;
    for (ProjectItem* candidate : mIndex->values(id))
    {
        if (HoldsDescendant(candidate))
        {
            found = candidate;
            ++matches;
        }
    }
    // Two nodes under one id (a source being replaced sits beside its
    // successor): the first in pre-order answers, as a walk would find it.
    return matches > 1 ? FirstDescendantWithId(id) : found;
}

void FolderItem::ChildIdChanged(ProjectItem* child, QUuid const& oldId)
{
    mIndex->remove(oldId, child);
    mIndex->insert(child->Id(), child);
}

void FolderItem::InsertProjectItem(ProjectItem* item, int index)
{
    if (!item)
    {
        return;
    }
    item->SetParentId(Id());
    if (index < 0 || index > mChildren.size())
    {
        index = static_cast<int>(mChildren.size());
    }
    mChildren.insert(index, item);
    item->setParent(this);
    // The item and everything below it join this tree's index.
    std::shared_ptr<ItemIndex> const tree = mIndex;
    VisitSubtree(item, [&tree](ProjectItem* node) {
        tree->remove(node->Id(), node);
        tree->insert(node->Id(), node);
        if (IsFolder(node))
        {
            static_cast<FolderItem*>(node)->mIndex = tree;
        }
    });
}

void FolderItem::RemoveProjectItem(ProjectItem* item)
{
    if (!item)
    {
        return;
    }
    int const index = ProjectItemIndex(item);
    if (index >= 0)
    {
        RemoveProjectItemAtIndex(index);
    }
    else
    {
        item->setParent(nullptr);
    }
}

void FolderItem::RemoveProjectItemAtIndex(int index)
{
    if (index < 0 || index >= mChildren.size())
    {
        return;
    }
    ProjectItem* item = mChildren.takeAt(index);
    item->setParent(nullptr);
    // The item's subtree leaves this tree's index; a folder taken out keeps
    // an index of its own subtree.
    auto const detached = std::make_shared<ItemIndex>();
    std::shared_ptr<ItemIndex> const tree = mIndex;
    VisitSubtree(item, [&](ProjectItem* node) {
        tree->remove(node->Id(), node);
        if (node != item)
        {
            detached->insert(node->Id(), node);
        }
        if (IsFolder(node))
        {
            static_cast<FolderItem*>(node)->mIndex = detached;
        }
    });
}

int FolderItem::ProjectItemIndex(ProjectItem* item) const
{
    return item ? static_cast<int>(mChildren.indexOf(item)) : -1;
}

int FolderItem::SourceTimelineSaveIndex(ProjectItem* item) const
{
    int const index = ProjectItemIndex(item);
    if (index < 0)
    {
        return -1;
    }
    int editTimelines = 0;
    for (int i = 0; i < index; ++i)
    {
        if (mChildren.at(i)->ItemType() == ProjectItemType::Timeline)
        {
            ++editTimelines;
        }
    }
    return index - editTimelines;
}
