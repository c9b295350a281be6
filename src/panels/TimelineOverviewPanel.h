#pragma once

#include <QList>
#include <QUrl>
#include <QUuid>
#include <QWidget>

class AvManager;
class ProjectManager;
class TimelineOverviewListWidget;

// Holds the clip list, keeps the highlighted row in step with playback and
// passes the list's signals on.
class TimelineOverviewPanel : public QWidget
{
    Q_OBJECT

public:
    TimelineOverviewPanel(ProjectManager* projectManager, QWidget* parent);

    TimelineOverviewListWidget* ListWidget() const;
    int HighlightedRow() const;

public Q_SLOTS:
    void DeleteSelected();
    void MoveSelectedUp();
    void MoveSelectedDown();
    void SortAscending();
    void SortDescending();
    void ApplicationDelete();
    void RefreshHighlightedSource();
    void UpdateHighlightedSource(int outputId);
    void OnListRefreshed(int outputId);
    void OnInsertFilesAtIndexRequested(QList<QUrl> const& urls, QUuid const& timelineItemId, int row);
    void OnDragInProgressStateChanged(bool inProgress);
    void OnFocusChanged(bool hasFocus);

Q_SIGNALS:
    void InsertFilesAtIndexRequested(QList<QUrl> const& urls, QUuid const& timelineItemId, int insertIndex,
                                     int row);
    void DragInProgressStateChanged(bool inProgress);
    void FocusChanged(bool hasFocus);
    void VisibilityChanged(bool visible);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    ProjectManager* mProjectManager;
    AvManager* mAvManager;
    TimelineOverviewListWidget* mList;
    int mHighlightedRow = -1;
};
