#include "viewer/SnapshotManager.h"

#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/ExportProperties.h"
#include "model/FrameBookmark.h"
#include "model/Timeline.h"
#include "viewer/ViewerWidget.h"
#include "window/GlobalTimeControlWidget.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <limits>

QString const SnapshotManager::SNAPSHOT_FILE_TYPE_FILTER = QStringLiteral("JPG (*.jpg);;PNG (*.png)");

namespace
{
QString& RememberedFilter()
{
    static QString filter;
    return filter;
}
} // namespace

SnapshotManager::SnapshotManager(GlobalTimeControlWidget* timeControl, ViewerWidget* viewerWidget, QObject* parent)
    : QObject(parent)
    , timeControl(timeControl)
    , viewerWidget(viewerWidget)
{
}

void SnapshotManager::ToClipboard()
{
    QGuiApplication::clipboard()->setImage(viewerWidget->CaptureImage(false));
}

QString SnapshotManager::SnapshotDirPath()
{
    if (!Settings::lastImgCaptureDirPath.isEmpty() && QDir(Settings::lastImgCaptureDirPath).exists())
    {
        return Settings::lastImgCaptureDirPath;
    }
    Settings::lastImgCaptureDirPath = FileHelpers::GetUserDirPath();
    return Settings::lastImgCaptureDirPath;
}

bool SnapshotManager::ToFolder(QString const& dirPath, QString const& name, QString const& extension)
{
    if (!QDir(dirPath).exists() && !FileHelpers::CreateDirectoryAt(dirPath))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to create snapshot directory: %1").arg(dirPath));
        return false;
    }
    QString const path = QStringLiteral("%1/%2.%3").arg(dirPath, name,
                                                        extension.isEmpty() ? Settings::snapshotFileType : extension);
    if (!SaveImageToFile(path))
    {
        return false;
    }
    Settings::lastImgCaptureDirPath = dirPath;
    return true;
}

bool SnapshotManager::SaveImageToFile(QString const& path)
{
    QImage const image = viewerWidget->CaptureImage(false);
    if (image.isNull())
    {
        return false;
    }
    return SaveImage(image, path);
}

bool SnapshotManager::SaveImage(QImage const& image, QString const& path)
{
    if (!image.save(path))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to save snapshot: %1").arg(path));
        return false;
    }
    return true;
}

QString SnapshotManager::CreateImageOutputPath(int frame, int offset, int index,
                                               SnapshotProperties const& properties) const
{
    int const number = properties.numbering == 1 ? frame + offset : index;
    QString const digits = QString::number(number).rightJustified(properties.numberWidth, QLatin1Char('0'));
    QString const extension = properties.extension.isEmpty() ? Settings::snapshotFileType : properties.extension;
    return QStringLiteral("%1/%2.%3.%4").arg(properties.dirPath, properties.name, digits, extension);
}

bool SnapshotManager::CopyImageFile(QString const& from, QString const& to)
{
    // QFile::copy never overwrites: a rerun would keep the old picture.
    if (QFile::exists(to) && !QFile::remove(to))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to save snapshot: %1").arg(to));
        return false;
    }
    if (!QFile::copy(from, to))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to save snapshot: %1").arg(to));
        return false;
    }
    return true;
}

QList<int> SnapshotManager::FramesToCapture(Timeline const& timeline, int start, int end, bool bookmarks)
{
    QList<int> frames;
    if (!bookmarks)
    {
        for (int frame = start; frame <= end; ++frame)
        {
            frames.append(frame);
        }
        return frames;
    }
    // Timeline frames: a bookmark's source frame differs from it on edit
    // timelines; bookmarks outside the used range have none.
    QList<int> bookmarkFrames;
    for (FrameBookmark const* bookmark : timeline.FrameBookmarkList())
    {
        if (bookmark && bookmark->timelineFrame >= 0)
        {
            bookmarkFrames.append(bookmark->timelineFrame);
        }
    }
    std::sort(bookmarkFrames.begin(), bookmarkFrames.end());
    for (int const frame : std::as_const(bookmarkFrames))
    {
        if (frame > end)
        {
            break;
        }
        if (frame >= start && (frames.isEmpty() || frames.constLast() != frame))
        {
            frames.append(frame);
        }
    }
    return frames;
}

bool SnapshotManager::EnsureSnapshotFolder(QString const& dirPath)
{
    if (QDir(dirPath).exists() || FileHelpers::CreateDirectoryAt(dirPath))
    {
        return true;
    }
    QString const message = QStringLiteral("Failed to create snapshot directory: %1").arg(dirPath);
    Logger::GetInstance()->Error(message);
    Q_EMIT ExportLogMsgReceived(message, ExportLoggingMsgType::General, true);
    return false;
}

bool SnapshotManager::WriteHeldFrame(QImage const& image, QString const& capturedPath, int held,
                                     QString const& heldPath, bool forExport)
{
    if (image.isNull())
    {
        return true; // nothing was captured for the frame it holds
    }
    if (forExport)
    {
        Q_EMIT ExportFrameGenerated(image, held);
        return true;
    }
    return CopyImageFile(capturedPath, heldPath);
}

int SnapshotManager::AdvancedSnapshot(SnapshotProperties const& properties, ExportProperties* exportProperties)
{
    if (seriesRunning)
    {
        return -1; // one series at a time: this one waits in its event processing
    }
    cancelRequested = false;
    if (properties.mode == 0)
    {
        return ToFolder(properties.dirPath, properties.name, properties.extension) ? 0 : -1;
    }
    QPointer<Timeline> const timeline = viewerWidget->PrimaryTimeline();
    if (!timeline)
    {
        return -1;
    }
    bool const rangeSpan = properties.mode == 2 || properties.mode == 4;
    int const start = rangeSpan ? timeControl->RangeStartFrame() : timeControl->StartFrame();
    int const end = rangeSpan ? timeControl->RangeEndFrame() : timeControl->EndFrame();
    bool const bookmarks = properties.mode == 3 || properties.mode == 4;
    bool const stepped = bookmarks && properties.stepped;

    QList<int> const frames = FramesToCapture(*timeline, start, end, bookmarks);
    if (frames.isEmpty())
    {
        Q_EMIT ExportLogMsgReceived(QStringLiteral("Export frame count is zero"), ExportLoggingMsgType::General, true);
        return -1;
    }
    if (!properties.forExport && !EnsureSnapshotFolder(properties.dirPath))
    {
        return -1;
    }

    seriesRunning = true;
    AvManager* const avManager = viewerWidget->AvManagerPtr();
    avManager->Pause(DecodeBias::None);
    int const total = stepped ? end - frames.first() + 1 : static_cast<int>(frames.size());
    int const playbackFrame = timeControl->PlaybackFrame();
    int const offset = exportProperties ? exportProperties->imageNumberOffset : 0;
    int count = 0;
    bool failed = false;
    bool timelineLost = false;
    auto const updateProgress = [&] {
        if (exportProperties && total > 0)
        {
            exportProperties->videoProgress = static_cast<float>(count) / static_cast<float>(total) * 100.0f;
        }
    };
    auto const fail = [&](QString const& message) {
        Q_EMIT ExportLogMsgReceived(message, ExportLoggingMsgType::General, true);
        failed = true;
    };

    for (int i = 0; i < frames.size() && !failed; ++i)
    {
        if (cancelRequested)
        {
            cancelRequested = false;
            break;
        }
        int const frame = frames.at(i);
        timeControl->SetPlaybackTimeByFrame(frame, false, false);
        bool const arrived = WaitForFrames(timeline);
        if (!timeline || viewerWidget->PrimaryTimeline() != timeline)
        {
            timelineLost = true;
            fail(QStringLiteral("Snapshot stopped: the timeline was closed"));
            break;
        }
        if (cancelRequested)
        {
            cancelRequested = false; // while waiting for the frame
            break;
        }
        // Delivered frames wait in the queue until handed on.
        QCoreApplication::processEvents();
        // Frames still late: the viewer shows the pictures of the frame it
        // left, which a capture would carry under this frame's number.
        bool const late = !arrived && !avManager->AllVideoFramesReceivedForCurrentTime();
        if (late && properties.forExport)
        {
            // A gap would shift every later picture against the sound.
            fail(QStringLiteral("Snapshot stopped: frame %1 was not decoded in time").arg(frame));
            break;
        }

        QImage image;
        QString path;
        if (properties.forExport)
        {
            image = viewerWidget->CaptureImage(false);
            if (!image.isNull())
            {
                Q_EMIT ExportFrameGenerated(image, frame);
            }
        }
        else
        {
            // A viewer with nothing to show gives an empty capture: that
            // frame is skipped, said so, and the series goes on. Only a
            // write that fails stops it.
            path = CreateImageOutputPath(frame, offset, count, properties);
            if (late)
            {
                QString const message = QStringLiteral("Frame %1 was not decoded in time: skipped %2").arg(frame).arg(path);
                Logger::GetInstance()->Warning(message);
                Q_EMIT ExportLogMsgReceived(message, ExportLoggingMsgType::General, false);
            }
            else if ((image = viewerWidget->CaptureImage(false)).isNull())
            {
                QString const message = QStringLiteral("Nothing to capture at frame %1: skipped %2").arg(frame).arg(path);
                Logger::GetInstance()->Warning(message);
                Q_EMIT ExportLogMsgReceived(message, ExportLoggingMsgType::General, false);
            }
            else if (!SaveImage(image, path))
            {
                fail(QStringLiteral("Failed to save snapshot: %1").arg(path));
                break;
            }
        }
        ++count;
        updateProgress();

        if (stepped)
        {
            // The capture stands for every frame up to the next bookmark.
            int const holdEnd = i + 1 < frames.size() ? frames.at(i + 1) - 1 : end;
            for (int held = frame + 1; held <= holdEnd; ++held)
            {
                QString const heldPath =
                    properties.forExport ? QString() : CreateImageOutputPath(held, offset, count, properties);
                if (!WriteHeldFrame(image, path, held, heldPath, properties.forExport))
                {
                    fail(QStringLiteral("Failed to save snapshot: %1").arg(heldPath));
                    break;
                }
                ++count;
                updateProgress();
                QCoreApplication::processEvents();
            }
        }
    }

    if (!timelineLost && timeline && viewerWidget->PrimaryTimeline() == timeline)
    {
        timeControl->SetPlaybackTimeByFrame(playbackFrame, false, false);
    }
    seriesRunning = false;
    return failed ? -1 : frames.first();
}

bool SnapshotManager::WaitForFrames(QPointer<Timeline> const& timeline)
{
    AvManager* const avManager = viewerWidget->AvManagerPtr();
    auto const over = [&] {
        return !timeline || viewerWidget->PrimaryTimeline() != timeline ||
               avManager->AllVideoFramesReceivedForCurrentTime();
    };
    if (over() || cancelRequested)
    {
        return over();
    }
    // The frames arrive as queued events, and the series runs inside an event
    // handler (a menu action or the export's start) that leaves the rest of
    // the window working meanwhile: so the wait is a local event loop, quit by
    // whatever can end it (a frame handed to the viewer, decoding ended, the
    // timeline switched or deleted, a cancel) or by the time-out when the
    // decoding stops moving on. A frame deep in a long GOP is decoded from
    // its key picture on: every step of the way restarts the time-out.
    QEventLoop loop;
    auto const quitWhenOver = [&] {
        if (over())
        {
            loop.quit();
        }
    };
    QTimer stalled;
    stalled.setSingleShot(true);
    connect(&stalled, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(avManager, &AvManager::VideoFrameChanged, &loop, quitWhenOver);
    connect(avManager, &AvManager::TimelineDecodingEnded, &loop, quitWhenOver);
    connect(avManager, &AvManager::PrimaryTimelineChanged, &loop, quitWhenOver);
    connect(avManager, &AvManager::VideoDecodingAdvanced, &loop, [&stalled] { stalled.start(); });
    connect(timeline.data(), &QObject::destroyed, &loop, &QEventLoop::quit);
    auto const timeout = std::clamp<qint64>(Settings::snapshotUpdateTimeout, 0, std::numeric_limits<int>::max());
    stalled.start(static_cast<int>(timeout));
    frameWait = &loop;
    loop.exec();
    frameWait = nullptr;
    return over();
}

void SnapshotManager::LogExportMsg(QString const& message, ExportLoggingMsgType type, bool isError)
{
    Q_EMIT ExportLogMsgReceived(message, type, isError);
}

void SnapshotManager::Reset()
{
    cancelRequested = false;
}

void SnapshotManager::CancelSnapshotOperation()
{
    cancelRequested = true;
    if (frameWait)
    {
        frameWait->quit();
    }
}

bool SnapshotManager::IsSeriesRunning() const
{
    return seriesRunning;
}

QString SnapshotManager::SelectedFilter()
{
    QString& filter = RememberedFilter();
    if (filter.isEmpty())
    {
        filter = Settings::snapshotFormat == 1 ? QStringLiteral("JPG (*.jpg)") : QStringLiteral("PNG (*.png)");
    }
    return filter;
}

void SnapshotManager::SetSelectedFilter(QString const& filter)
{
    RememberedFilter() = filter;
}
