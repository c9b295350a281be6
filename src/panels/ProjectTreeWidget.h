#pragma once

#include "panels/ProjectTreeWidgetItem.h"

#include <QList>
#include <QRect>
#include <QTreeWidget>
#include <QUrl>
#include <QUuid>

class ProjectManager;
class QMimeData;

// The list view of the project browser. It mirrors the project's folders and
// timelines as rows (the project panel fills them) and turns renames, moves,
// drops and double-clicks into requests; it never edits the project itself.
class ProjectTreeWidget : public QTreeWidget
{
    Q_OBJECT

public:
    // What a drag over a point would do: the folder row that takes it (by id, so
    // a refill during the hover cannot leave a freed row behind), the insertion
    // index (-1 = at the end) and where to draw the indicator.
    struct DropDecision
    {
        QUuid targetId;
        int index = -1;
        QRect rect;
        int lineY = 0;
        bool IsValid() const { return !targetId.isNull(); }
    };

    ProjectTreeWidget(ProjectManager* projectManager, QWidget* parent);

    ProjectTreeWidgetItem* CurrentFolder() const;
    ProjectTreeWidgetItem* FindFolderById(QUuid const& id) const;
    ProjectTreeWidgetItem* FindTimelineById(QUuid const& folderId, QUuid const& timelineId) const;
    // Any row with that id, of any type.
    ProjectTreeWidgetItem* FindItemById(QUuid const& id) const;
    QList<ProjectTreeWidgetItem*> SelectedItems() const;
    QList<QUuid> TimelinesInFolder(QUuid const& folderId) const;
    bool CanRenameSelectedItem() const;
    bool InEditingState() const;

    // Whether the drag may enter at all.
    bool CanEnter(QMimeData const* data) const;
    // The drop decision for data at a viewport position from a drag source
    // (origin): a function of these three and the rows alone.
    DropDecision DecideDrop(QMimeData const* data, QPoint const& position, QObject const* origin) const;

public Q_SLOTS:
    void EditCurrentItem();

Q_SIGNALS:
    void ImportFilesByUrlRequested(QList<QUrl> const& urls, QUuid const& folderId, int index, int viewerSlot,
                                   int viewerCount, bool play);
    void ImportFoldersByUrlRequested(QList<QUrl> const& urls, QUuid const& folderId);
    void MoveProjectItemsRequested(QList<QUuid> ids, QUuid const& folderId, int index);
    void OpenInViewerRequested(QUuid const& id, int viewerSlot, bool);
    void DragInProgressStateChanged(bool inProgress);
    void FocusChanged(bool hasFocus);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private Q_SLOTS:
    void OnItemExpandedStateChanged(QTreeWidgetItem* item);
    void OnEditingFinished(QModelIndex const& index);

private:
    struct UrlContent
    {
        bool directories = false;
        bool files = false;
    };
    static UrlContent InspectUrls(QList<QUrl> const& urls);
    // InspectUrls once per drag: a move over the rows asks the disk nothing.
    UrlContent InspectDraggedUrls(QList<QUrl> const& urls) const;
    // The ids of an internal move, or empty when the move is not this tree's own.
    QList<QUuid> InternalMoveIds(QMimeData const* data, QObject const* origin) const;
    ProjectTreeWidgetItem* TopLevelFolderOfType(ProjectTreeWidgetItemFolderType type) const;
    void ResetDrop();

    ProjectManager* mProjectManager;
    bool mDropHighlight = false;
    DropDecision mDrop;
    // The current drag's URLs and what they hold; cleared when a drag enters,
    // leaves or drops.
    mutable QList<QUrl> mDraggedUrls;
    mutable UrlContent mDraggedUrlContent;
};
