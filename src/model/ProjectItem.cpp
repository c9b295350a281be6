#include "model/ProjectItem.h"

#include "model/FolderItem.h"

ProjectItem::ProjectItem(QObject* parent)
    : QObject(parent)
    , mId(QUuid::createUuid())
{
}

QUuid ProjectItem::Id() const
{
    return mId;
}

QUuid ProjectItem::ParentId() const
{
    return mParentId;
}

QString ProjectItem::Name() const
{
    return mName;
}

void ProjectItem::SetId(QUuid const& id)
{
    if (id.isNull() || id == mId)
    {
        return;
    }
    QUuid const oldId = mId;
    mId = id;
    // The folder that holds the node keeps its tree's index by id.
    auto* holder = qobject_cast<ProjectItem*>(parent());
    if (holder && holder->ItemType() == ProjectItemType::Folder)
    {
        static_cast<FolderItem*>(holder)->ChildIdChanged(this, oldId);
    }
}

void ProjectItem::SetParentId(QUuid const& id)
{
    mParentId = id;
}

bool ProjectItem::HasParent() const
{
    return !mParentId.isNull();
}

void ProjectItem::SetName(QString const& name)
{
    if (name.isEmpty() || name == mName)
    {
        return;
    }
    mName = name;
    emit NameChanged(mName);
}
