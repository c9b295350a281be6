#include "model/FolderItem.h"

#include "app/Settings.h"
#include "model/TimelineItem.h"

namespace
{
QString const DEFAULT_FOLDER_ITEM_NAME = QStringLiteral("New Folder");
}

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
    for (ProjectItem const* child : mChildren)
    {
        ids.append(child->Id());
        if (child->ItemType() == ProjectItemType::Folder)
        {
            ids.append(static_cast<FolderItem const*>(child)->DescendentItemIds());
        }
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
    for (ProjectItem* child : mChildren)
    {
        if (child->ItemType() != ProjectItemType::Folder)
        {
            timelines.append(static_cast<TimelineItem*>(child));
        }
    }
    for (ProjectItem* child : mChildren)
    {
        if (child->ItemType() == ProjectItemType::Folder)
        {
            static_cast<FolderItem*>(child)->DescendentTimelines(timelines);
        }
    }
}

ProjectItem* FolderItem::FindChildById(QUuid const& id) const
{
    for (ProjectItem* child : mChildren)
    {
        if (child->Id() == id)
        {
            return child;
        }
        if (child->ItemType() == ProjectItemType::Folder)
        {
            if (ProjectItem* found = static_cast<FolderItem*>(child)->FindChildById(id))
            {
                return found;
            }
        }
    }
    return nullptr;
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
