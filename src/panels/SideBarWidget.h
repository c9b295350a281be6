#pragma once

#include <QPoint>
#include <QPointF>
#include <QWidget>

class KeyBindings;
class ProjectManager;
class ProjectPanel;
class ProjectViewWidget;
class QMimeData;
class QSplitter;
class SideBarViewWidget;
class Timeline;
class TimelineViewWidget;

// The dock content of the main window: the project view and the timeline view
// stacked in a vertical splitter. The user collapses a view by double-clicking
// its title bar and reorders the views by dragging a title bar onto the other
// view. The order and the splitter sizes are stored in the settings whenever
// they change and restored on every show.
class SideBarWidget : public QWidget
{
    Q_OBJECT

public:
    SideBarWidget(ProjectManager* projectManager, KeyBindings* keyBindings, QWidget* parent);

    void SaveState();
    void RestoreState();
    void UpdateUserPreferences();
    void ApplicationDelete();
    ProjectPanel* ProjectPanelPtr() const;
    ProjectViewWidget* ProjectViewPtr() const;
    TimelineViewWidget* TimelineViewPtr() const;
    QSplitter* Splitter() const;
    QWidget* StretchWidget() const;
    // The splitter index a view drop with this data at a side-bar position
    // would take, or -1.
    int DropIndexAt(QMimeData const* data, QPoint const& position) const;

public Q_SLOTS:
    void OnHideSideBarRequested();
    void OnMoveSideBarRequested();
    void OnExpandedStateChanged();
    void OnPrimaryTimelineChanged(Timeline* timeline, bool emptied);
    void OnTimelineNameChanged(QString const& name);
    void OnPanZoomChangeRequested(QPointF pan, float zoom, bool enabled);
    void ShowContextMenu(QPoint const& position);

Q_SIGNALS:
    void SideBarVisibilityChangeRequested(bool visible);
    void MoveSideBarRequested(bool left);
    void TimelineNameChanged(QString const& name);
    void PanZoomChangeRequested(QPointF pan, float zoom, bool enabled);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    static int DraggedIndex(QMimeData const* data);
    void UpdateStretch();
    void HideOverlays();
    void UpdateDropZone(QMimeData const* data, QPoint const& position);
    int TitleBarIndexAt(QPoint const& position) const;

    QSplitter* mSplitter;
    ProjectViewWidget* mProjectView;
    TimelineViewWidget* mTimelineView;
    QWidget* mStretch;
    KeyBindings* mKeyBindings;
    int mPressedIndex = -1;
    QPoint mPressPosition;
    int mDropIndex = -1;
    bool mRestoring = false;
};
