#pragma once

#include "media/ExportLoggingMsgType.h"
#include "viewer/SnapshotProperties.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

class GlobalTimeControlWidget;
class QEventLoop;
class Timeline;
class ViewerWidget;
struct ExportProperties;

// Turns what the viewer shows into images: one capture to the clipboard or a
// file, or a series over a frame selection written as numbered files or
// handed frame by frame to an export. A series drives the playhead through
// the global time bar and waits, processing events, until the engine has
// delivered every frame of the new time. Main thread only.
class SnapshotManager : public QObject
{
    Q_OBJECT

public:
    static QString const SNAPSHOT_FILE_TYPE_FILTER;

    SnapshotManager(GlobalTimeControlWidget* timeControl, ViewerWidget* viewerWidget, QObject* parent = nullptr);

    void ToClipboard();
    QString SnapshotDirPath();
    // Writes one capture as dir/name.extension; false when nothing was written.
    bool ToFolder(QString const& dirPath, QString const& name, QString const& extension);
    bool SaveImageToFile(QString const& path);
    // The first frame of the series (0 for the current-frame mode), or -1
    // when it did not run or failed.
    int AdvancedSnapshot(SnapshotProperties const& properties, ExportProperties* exportProperties);
    QString CreateImageOutputPath(int frame, int offset, int index, SnapshotProperties const& properties) const;
    void Reset();
    bool IsSeriesRunning() const;

    static QString SelectedFilter();
    static void SetSelectedFilter(QString const& filter);

public Q_SLOTS:
    void LogExportMsg(QString const& message, ExportLoggingMsgType type, bool isError);
    void CancelSnapshotOperation();

Q_SIGNALS:
    void ExportFrameGenerated(QImage const& image, int frame);
    void ExportLogMsgReceived(QString const& message, ExportLoggingMsgType type, bool isError);

private:
    // Copies a written file over a hold frame's path, replacing what was there.
    bool CopyImageFile(QString const& from, QString const& to);
    // Writes a captured image; a failure is logged.
    bool SaveImage(QImage const& image, QString const& path);
    // Returns once the engine has handed the viewer every frame of the
    // playback time, the timeline has left the viewer, the series was
    // cancelled, or Settings::snapshotUpdateTimeout has passed without the
    // decoding moving on: true when the frames came.
    bool WaitForFrames(QPointer<Timeline> const& timeline);
    // The frames a series captures: every frame from start to end, or the
    // bookmarked ones among them, each once and in order.
    static QList<int> FramesToCapture(Timeline const& timeline, int start, int end, bool bookmarks);
    // Creates the folder a series writes into; a failure is logged and told.
    bool EnsureSnapshotFolder(QString const& dirPath);
    // Gives a held frame of a stepped series the picture captured for the
    // bookmark before it; false when its file could not be written.
    bool WriteHeldFrame(QImage const& image, QString const& capturedPath, int held, QString const& heldPath,
                        bool forExport);

    GlobalTimeControlWidget* timeControl;
    ViewerWidget* viewerWidget;
    bool cancelRequested = false;
    bool seriesRunning = false;
    // The local event loop of WaitForFrames while it runs; a cancel quits it.
    QEventLoop* frameWait = nullptr;
};
