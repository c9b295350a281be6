#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

#include <functional>

class QFrame;
class QMainWindow;
class QMimeData;
class QWidget;

// Static helpers shared by the widgets of the viewer, the window and the panels.
namespace UiHelpers
{
    inline const QString PROJECT_VIEW_INTERNAL_MIME_TYPE = QStringLiteral("pellwick/project-view-internal");
    inline const QString PROJECT_VIEW_FOLDER_MIME_TYPE = QStringLiteral("pellwick/project-view-folder");
    inline const QString PROJECT_VIEW_TIMELINES_MIME_TYPE = QStringLiteral("pellwick/project-view-timelines");
    inline const QString TIMELINE_VIEW_INTERNAL_MIME_TYPE = QStringLiteral("pellwick/timeline-view-internal");
    inline const QString SIDE_BAR_VIEW_MIME_TYPE = QStringLiteral("tessarin/sidebarview");

    // The video size the viewer assumes while no output shows a picture.
    inline constexpr int DEFAULT_VIEWER_WIDTH = 960;
    inline constexpr int DEFAULT_VIEWER_HEIGHT = 540;

    // The first top-level widget that is a main window, or null.
    QMainWindow* MainWindow();

    // New parentless separator lines, owned by the caller.
    QFrame* CreateHorizontalLine();
    QFrame* CreateVerticalLine();

    // Runs a move drag of data (owned by the drag from here on) out of source,
    // telling inProgress before and after. A source that kept the focus takes
    // it afresh, so that what follows its focus sees the drag end.
    void ExecMoveDrag(QWidget* source, QMimeData* data, std::function<void(bool)> const& inProgress);

    // Id-list payloads of internal drags: a big-endian QDataStream holding one
    // QList<QUuid> (32-bit count, 0xFFFFFFFE followed by a 64-bit count for the
    // extended form, then 16 bytes per id). Writer and reader agree on one
    // explicit stream version.
    QByteArray WriteIdList(QList<QUuid> const& ids);
    // Checks the count against the bytes left before reading anything: a bad
    // count, a negative extended count, a truncated list or trailing garbage
    // give an empty list.
    QList<QUuid> ReadIdList(QByteArray const& payload);
}
