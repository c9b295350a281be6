#include "model/ProjectItem.h"

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
    if (!id.isNull())
    {
        mId = id;
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
