#include "panels/ProjectTreeWidgetItem.h"

#include <QIcon>

static void InitSideBarIcons()
{
    Q_INIT_RESOURCE(sidebar_icons);
}

namespace
{
QIcon& FolderIcon()
{
    static QIcon icon;
    return icon;
}

QIcon& SourceIcon()
{
    static QIcon icon;
    return icon;
}

QIcon& TimelineIcon()
{
    static QIcon icon;
    return icon;
}

void LoadIcon(QIcon& icon, QString const& normal, QString const& selected)
{
    icon.addFile(normal, QSize(), QIcon::Normal, QIcon::Off);
    icon.addFile(selected, QSize(), QIcon::Selected, QIcon::Off);
}
} // namespace

ProjectTreeWidgetItem::ProjectTreeWidgetItem(QUuid const& id, ProjectTreeWidgetItemType type,
                                             ProjectTreeWidgetItemFolderType folderType)
{
    setData(0, ID_ROLE, id);
    setData(0, FOLDER_TYPE_ROLE, 0);
    SetProjectItemType(type, folderType);
}

ProjectTreeWidgetItem::~ProjectTreeWidgetItem() = default;

void ProjectTreeWidgetItem::LoadIcons()
{
    if (!FolderIcon().isNull())
    {
        return;
    }
    InitSideBarIcons();
    LoadIcon(FolderIcon(), ":/icons/project_folder.png", ":/icons/project_folder_selected.png");
    LoadIcon(SourceIcon(), ":/icons/project_source.png", ":/icons/project_source_selected.png");
    LoadIcon(TimelineIcon(), ":/icons/project_timeline.png", ":/icons/project_timeline_selected.png");
}

QUuid ProjectTreeWidgetItem::ProjectItemId() const
{
    return data(0, ID_ROLE).toUuid();
}

ProjectTreeWidgetItemType ProjectTreeWidgetItem::ProjectItemType() const
{
    return ProjectTreeWidgetItemType(data(0, TYPE_ROLE).toInt());
}

ProjectTreeWidgetItemFolderType ProjectTreeWidgetItem::ProjectItemFolderType() const
{
    return ProjectTreeWidgetItemFolderType(data(0, FOLDER_TYPE_ROLE).toInt());
}

void ProjectTreeWidgetItem::SetProjectItemType(ProjectTreeWidgetItemType type,
                                               ProjectTreeWidgetItemFolderType folderType)
{
    setData(0, TYPE_ROLE, int(type));
    bool const folder = type == ProjectTreeWidgetItemType::Folder;
    setData(0, FOLDER_TYPE_ROLE, folder ? int(folderType) : 0);
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled | Qt::ItemIsEnabled;
    bool const root = folder && (folderType == ProjectTreeWidgetItemFolderType::ProjectRoot ||
                                 folderType == ProjectTreeWidgetItemFolderType::TimelinesRoot ||
                                 folderType == ProjectTreeWidgetItemFolderType::SourcesRoot);
    if (!root)
    {
        flags |= Qt::ItemIsEditable;
    }
    setFlags(flags);
    switch (type)
    {
    case ProjectTreeWidgetItemType::Folder:
        setIcon(0, FolderIcon());
        break;
    case ProjectTreeWidgetItemType::Timeline:
        setIcon(0, TimelineIcon());
        break;
    case ProjectTreeWidgetItemType::SourceTimeline:
        setIcon(0, SourceIcon());
        break;
    default:
        setIcon(0, QIcon());
        break;
    }
}

void ProjectTreeWidgetItem::SetText(QString const& text)
{
    if (Text() != text)
    {
        setText(0, text);
    }
}

QString ProjectTreeWidgetItem::Text() const
{
    return text(0);
}

void ProjectTreeWidgetItem::SetName(QString const& name)
{
    SetText(name);
    setData(0, NAME_ROLE, name);
}

QString ProjectTreeWidgetItem::Name() const
{
    return data(0, NAME_ROLE).toString();
}

void ProjectTreeWidgetItem::SetViewportIndex(int index)
{
    setText(1, index < 0 ? QString() : QString(QChar('A' + index)));
}

void ProjectTreeWidgetItem::SetDefaultEnabled(bool enabled)
{
    setText(2, enabled ? QStringLiteral("*") : QString());
}

bool ProjectTreeWidgetItem::IsFolder() const
{
    return ProjectItemType() == ProjectTreeWidgetItemType::Folder;
}

bool ProjectTreeWidgetItem::IsTimeline(bool includeSourceTimelines) const
{
    ProjectTreeWidgetItemType const type = ProjectItemType();
    return type == ProjectTreeWidgetItemType::Timeline ||
           (includeSourceTimelines && type == ProjectTreeWidgetItemType::SourceTimeline);
}

bool ProjectTreeWidgetItem::IsSourceTimeline() const
{
    return ProjectItemType() == ProjectTreeWidgetItemType::SourceTimeline;
}

ProjectTreeWidgetItem* ProjectTreeWidgetItem::ParentFolder() const
{
    auto* row = static_cast<ProjectTreeWidgetItem*>(parent());
    return row && row->IsFolder() ? row : nullptr;
}

ProjectTreeWidgetItem* ProjectTreeWidgetItem::FindFolderById(QTreeWidgetItem const* parent, QUuid const& id)
{
    for (int i = 0; i < parent->childCount(); ++i)
    {
        auto* row = static_cast<ProjectTreeWidgetItem*>(parent->child(i));
        if (!row->IsFolder())
        {
            continue;
        }
        if (row->ProjectItemId() == id)
        {
            return row;
        }
        if (ProjectTreeWidgetItem* found = FindFolderById(row, id))
        {
            return found;
        }
    }
    return nullptr;
}
