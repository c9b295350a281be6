// Time to import a folder tree of 2,000 small clips (20 folders of 100) through
// the project browser as one undo step, with the tree rebuilds that the
// project's updates cause, next to the time to rebuild the finished tree once,
// to undo and to redo the import. Prints the figures; asserts nothing about time.
// Usage: bench_folderimport [file count]

#include "app/Settings.h"
#include "model/FolderItem.h"
#include "model/ProjectManager.h"
#include "panels/ProjectPanel.h"
#include "panels/ProjectTreeWidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidgetItemIterator>
#include <QUndoStack>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int const files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    int const perFolder = 100;
    Settings::autoPlayEnabled = false;
    Settings::resizeToFit = false;

    QTemporaryDir dir;
    QString const sample = dir.filePath("sample.mp4");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=64x36:rate=25:duration=0.2",
                            "-c:v", "libx264", "-pix_fmt", "yuv420p", sample});
    if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0)
    {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    QString const root = dir.filePath("shots");
    for (int i = 0; i < files; ++i)
    {
        QString const folder = QStringLiteral("%1/seq%2").arg(root).arg(i / perFolder, 3, 10, QChar('0'));
        QDir().mkpath(folder);
        if (!QFile::copy(sample, QStringLiteral("%1/clip%2.mp4").arg(folder).arg(i, 5, 10, QChar('0'))))
        {
            std::fprintf(stderr, "copy failed\n");
            return 1;
        }
    }

    ProjectManager manager;
    manager.NewProject(false);
    ProjectPanel panel(&manager, nullptr);
    panel.resize(300, 800);
    panel.show();

    QElapsedTimer timer;
    timer.start();
    panel.ImportFolderByPath(root, QUuid());
    qint64 const importMs = timer.elapsed();
    int rows = 0;
    for (QTreeWidgetItemIterator it(panel.TreeWidget()); *it; ++it)
    {
        ++rows;
    }
    timer.restart();
    panel.RefreshProject();
    double const rebuildMs = timer.nsecsElapsed() / 1e6;
    timer.restart();
    manager.UndoStackPtr()->undo();
    qint64 const undoMs = timer.elapsed();
    timer.restart();
    manager.UndoStackPtr()->redo();
    qint64 const redoMs = timer.elapsed();

    std::printf("folder import: %d files in %d folders, %d tree rows\n", files, (files + perFolder - 1) / perFolder,
                rows);
    std::printf("  import with rebuilds  %8lld ms  (%.3f ms per file)\n", static_cast<long long>(importMs),
                double(importMs) / files);
    std::printf("  one tree rebuild      %8.2f ms  (import / rebuild = %.1f)\n", rebuildMs,
                rebuildMs > 0 ? double(importMs) / rebuildMs : 0.0);
    std::printf("  undo                  %8lld ms\n", static_cast<long long>(undoMs));
    std::printf("  redo                  %8lld ms\n", static_cast<long long>(redoMs));
    manager.Shutdown();
    return 0;
}
