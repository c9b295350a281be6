#pragma once

#include <QList>
#include <QListWidget>
#include <QUrl>
#include <QUuid>

class ProjectManager;
class QMimeData;
class Timeline;

// The clips of the viewer's active timeline, one row per clip of its master
// track. Rows are never edited in place: every change goes through an undoable
// project-manager command and the list is rebuilt from the timeline.
class TimelineOverviewListWidget : public QListWidget
{
    Q_OBJECT

public:
    static constexpr int CLIP_ID_ROLE = Qt::UserRole;
    static constexpr int CLIP_INDEX_ROLE = Qt::UserRole + 1;
    static constexpr int START_TIME_ROLE = Qt::UserRole + 2;
    static constexpr int END_TIME_ROLE = Qt::UserRole + 3;
    static constexpr int HAS_ERRORS_ROLE = Qt::UserRole + 4;

    TimelineOverviewListWidget(ProjectManager* projectManager, QWidget* parent);

    Timeline* TimelinePtr() const;
    QList<QUuid> SelectedItemClipIds() const;
    void SetSelectedItems(QList<QUuid> const& ids);
    bool CanDrop(QMimeData const* data) const;
    // Whether a drag carrying data would be accepted on entering.
    bool AcceptsOnEnter(QMimeData const* data) const;
    int DropRow() const;

public Q_SLOTS:
    void SetTimeline(Timeline* timeline, bool force);
    void Refresh();
    void MoveSelectedUp();
    void MoveSelectedDown();
    void SortClips(bool ascending);
    void DeleteSelected();

Q_SIGNALS:
    void ListRefreshed(int outputId);
    void InsertFilesAtIndexRequested(QList<QUrl> const& urls, QUuid const& timelineItemId, int row);
    void DragInProgressStateChanged(bool inProgress);
    void FocusChanged(bool hasFocus);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QList<QUuid> RowIds() const;
    void ApplyOrder(QList<QUuid> const& ids, QList<QUuid> const& reselect);

    ProjectManager* mProjectManager;
    Timeline* mTimeline = nullptr;
    bool mDragOver = false;
    int mDropLineY = 0;
    int mDropRow = -1;
};
