#pragma once

#include <QString>
#include <QTreeWidgetItem>
#include <QUuid>

enum class ProjectTreeWidgetItemType
{
    Folder = 0,
    Timeline = 1, // an edit timeline
    SourceTimeline = 2,
};

enum class ProjectTreeWidgetItemFolderType
{
    None = 0,
    ProjectRoot = 1,
    TimelinesRoot = 2,
    SourcesRoot = 3,
    UserFolder = 4,
};

// One row of the project tree. Everything it knows lives in item data roles:
// column 0 holds the text, icon, project item id, type, folder type and the
// last name the model gave; column 1 the viewer slot letter; column 2 the
// default-timeline mark.
class ProjectTreeWidgetItem : public QTreeWidgetItem
{
public:
    static constexpr int ID_ROLE = Qt::UserRole;
    static constexpr int TYPE_ROLE = Qt::UserRole + 1;
    static constexpr int FOLDER_TYPE_ROLE = Qt::UserRole + 2;
    static constexpr int NAME_ROLE = Qt::UserRole + 3;

    ProjectTreeWidgetItem(QUuid const& id, ProjectTreeWidgetItemType type, ProjectTreeWidgetItemFolderType folderType);
    ~ProjectTreeWidgetItem() override;

    // Loads the three shared icons once.
    static void LoadIcons();

    QUuid ProjectItemId() const;
    ProjectTreeWidgetItemType ProjectItemType() const;
    ProjectTreeWidgetItemFolderType ProjectItemFolderType() const;
    void SetProjectItemType(ProjectTreeWidgetItemType type, ProjectTreeWidgetItemFolderType folderType);
    void SetText(QString const& text);
    QString Text() const;
    void SetName(QString const& name);
    QString Name() const;
    void SetViewportIndex(int index);
    void SetDefaultEnabled(bool enabled);
    bool IsFolder() const;
    bool IsTimeline(bool includeSourceTimelines) const;
    bool IsSourceTimeline() const;
    ProjectTreeWidgetItem* ParentFolder() const;
    // Depth-first search of the folder rows below parent (a row, or a tree's
    // invisible root item).
    static ProjectTreeWidgetItem* FindFolderById(QTreeWidgetItem const* parent, QUuid const& id);
};
