#pragma once

#include <QObject>
#include <QString>
#include <QUuid>

enum class ProjectItemType
{
    Folder = 0,
    Timeline = 1, // an edit timeline
    SourceTimeline = 2,
};

// A node of the project tree: identity, the folder that holds it and a display
// name. Main thread only.
class ProjectItem : public QObject
{
    Q_OBJECT

public:
    explicit ProjectItem(QObject* parent = nullptr);

    virtual ProjectItemType ItemType() const = 0;

    QUuid Id() const;
    QUuid ParentId() const;
    QString Name() const;
    // A null id leaves the current one.
    void SetId(QUuid const& id);
    // Only the folder that takes the node in sets this.
    void SetParentId(QUuid const& id);
    bool HasParent() const;
    // An empty or unchanged name is ignored.
    void SetName(QString const& name);

Q_SIGNALS:
    void NameChanged(QString const& name);

private:
    QUuid mId;
    QUuid mParentId;
    QString mName;
};
