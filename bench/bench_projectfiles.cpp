// Opening and saving large and hostile project files through the project
// manager, with the project browser attached as in the full edition. Each case
// runs in a child process of its own (a case may crash or run away), bounded by
// a time-out; the figures are the seconds of the open (or save) and the peak
// resident memory. Prints the figures; asserts nothing about time.
//
//   bench_projectfiles [--timeout SECONDS] [--no-browser] [CASE...]
//
// --no-browser leaves the project browser out: the project model alone.
// Cases: deep (folders nested 100,000 deep), flat (60,000 folders side by
// side), ranges (one source with 200,000 range bookmarks), sources (4,000
// sources of one small clip), missing (10,000 sources whose files are missing),
// viewer (10,000 missing sources, none naming its viewer slot, so each asks for
// slot 0), save (saving 10,000 sources), legacy (20,000 folders of an
// older-format file).
// Needs ffmpeg on the PATH for the cases that use a real clip, and an X server or
// QT_QPA_PLATFORM=offscreen.

#include "BenchMemory.h"

#include "app/Settings.h"
#include "model/Project.h"
#include "model/ProjectManager.h"
#include "panels/ProjectPanel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>
#include <memory>

namespace
{
QStringList const ALL_CASES = {"deep", "flat", "ranges", "sources", "missing", "viewer", "save", "legacy"};

QString Id()
{
    return QUuid::createUuid().toString();
}

QJsonObject Meta(QString const& format)
{
    return QJsonObject {{"format", format}, {"version", 1}};
}

QJsonObject SourceObject(QString const& path)
{
    return QJsonObject {{"_id", Id()}, {"path", path}, {"index", -1}, {"playback_frame", 0}, {"output_id", -1}};
}

bool WriteJson(QString const& path, QJsonObject const& root)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(root).toJson(QJsonDocument::Compact)) > 0;
}

bool MakeClip(QString const& path)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                            "testsrc2=size=64x36:rate=25:duration=0.2", "-c:v", "libx264", "-pix_fmt", "yuv420p", path});
    return ffmpeg.waitForFinished(-1) && ffmpeg.exitCode() == 0;
}

// Writes the file of a case; its path, or empty on failure.
QString MakeCaseFile(QString const& name, QDir const& dir)
{
    QJsonObject root {{"_meta", Meta("zeph")}};
    QString const file = dir.filePath(name + ".zeph");
    if (name == "deep" || name == "flat")
    {
        int const count = name == "deep" ? 100000 : 60000;
        QJsonArray folders {QJsonArray {true, true, true}};
        QString parent;
        for (int i = 0; i < count; ++i)
        {
            QString const id = Id();
            QJsonObject folder {{"_id", id}, {"name", QString("f%1").arg(i)}};
            if (!parent.isEmpty())
            {
                folder.insert("parent_id", parent);
            }
            folders.append(folder);
            if (name == "deep")
            {
                parent = id;
            }
        }
        root.insert("folders", folders);
    }
    else if (name == "ranges")
    {
        QString const clip = dir.filePath("clip.mp4");
        if (!MakeClip(clip))
        {
            return {};
        }
        QStringList ranges;
        for (int i = 0; i < 200000; ++i)
        {
            // In ascending order, as the player writes them.
            int const start = 2 * i;
            ranges << QString::number(start) << QString::number(start + 1);
        }
        QJsonObject source = SourceObject(clip);
        source.insert("range_bookmarks", ranges.join(','));
        root.insert("sources", QJsonArray {source});
    }
    else if (name == "sources" || name == "missing" || name == "viewer" || name == "save")
    {
        QString clip = dir.filePath("clip.mp4");
        bool const real = name == "sources";
        if (real && !MakeClip(clip))
        {
            return {};
        }
        int const count = name == "sources" ? 4000 : 10000;
        QJsonArray sources;
        for (int i = 0; i < count; ++i)
        {
            QJsonObject source = SourceObject(real ? clip : dir.filePath(QString("missing%1.mp4").arg(i)));
            if (name == "viewer")
            {
                // A file that names no slot: each source reads as one for slot 0.
                source.remove("output_id");
            }
            sources.append(source);
        }
        root.insert("sources", sources);
    }
    else if (name == "legacy")
    {
        root = QJsonObject {{"_meta", Meta("vorna")}};
        QJsonArray folders;
        QStringList parents;
        for (int i = 0; i < 200; ++i)
        {
            parents << Id();
            folders.append(QJsonObject {{"_id", parents.last()}, {"name", QString("p%1").arg(i)}, {"index", i}});
        }
        // Each further folder below an earlier one, chosen at random (the same
        // tree every run), at a position up to 249.
        quint32 seed = 1;
        for (int i = 0; i < 19800; ++i)
        {
            seed = seed * 1664525u + 1013904223u;
            QString const parent = parents.at(int((seed >> 8) % quint32(parents.size())));
            parents << Id();
            folders.append(QJsonObject {{"_id", parents.last()},
                                        {"name", QString("f%1").arg(i)},
                                        {"parent_id", parent},
                                        {"index", int((seed >> 4) % 250)}});
        }
        root.insert("folders", folders);
        QString const legacy = dir.filePath(name + ".vorna");
        return WriteJson(legacy, root) ? legacy : QString();
    }
    return WriteJson(file, root) ? file : QString();
}

int RunCase(QString const& name, bool withPanel)
{
    QTemporaryDir dir;
    QString const file = MakeCaseFile(name, QDir(dir.path()));
    if (file.isEmpty())
    {
        std::printf("%-8s could not be made (is ffmpeg on the PATH?)\n", qPrintable(name));
        return 2;
    }
    Settings::autoPlayEnabled = false;
    Settings::resizeToFit = false;
    Project::SetParseTimeout(600000);
    ProjectManager manager;
    manager.NewProject(false);
    std::unique_ptr<ProjectPanel> panel;
    if (withPanel)
    {
        panel = std::make_unique<ProjectPanel>(&manager, nullptr);
        panel->resize(300, 800);
        panel->show();
    }
    QCoreApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    bool const opened = manager.OpenProject(file);
    // The browser's rebuild, which the open's updates start.
    QCoreApplication::processEvents();
    if (panel)
    {
        panel->FlushPendingRefresh();
    }
    double seconds = timer.nsecsElapsed() / 1e9;
    QString what = opened ? "opened" : "refused";
    if (name == "save")
    {
        QString const saved = dir.filePath("saved.zeph");
        Settings::projectPath = saved;
        timer.restart();
        bool const written = manager.SaveProject();
        seconds = timer.nsecsElapsed() / 1e9;
        what = written ? "saved" : "save failed";
    }
    std::printf("%-8s %10.3f s  %-12s peak %lld MB\n", qPrintable(name), seconds, qPrintable(what),
                BenchMemory::PeakKilobytes() / 1024);
    std::fflush(stdout);
    panel.reset();
    manager.Shutdown();
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    int timeoutSeconds = 120;
    bool withPanel = true;
    for (bool more = true; more;)
    {
        more = false;
        if (arguments.size() >= 2 && arguments.first() == "--timeout")
        {
            timeoutSeconds = std::max(1, arguments.at(1).toInt());
            arguments = arguments.mid(2);
            more = true;
        }
        if (!arguments.isEmpty() && arguments.first() == "--no-browser")
        {
            withPanel = false;
            arguments.removeFirst();
            more = true;
        }
    }
    if (arguments.size() == 2 && arguments.first() == "--run")
    {
        return RunCase(arguments.at(1), withPanel);
    }
    QStringList const cases = arguments.isEmpty() ? ALL_CASES : arguments;
    std::printf("case        seconds  result       memory (time-out %d s)\n", timeoutSeconds);
    for (QString const& name : cases)
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer timer;
        timer.start();
        QStringList childArguments {"--run", name};
        if (!withPanel)
        {
            childArguments.prepend("--no-browser");
        }
        child.start(QCoreApplication::applicationFilePath(), childArguments);
        bool const finished = child.waitForFinished(timeoutSeconds * 1000);
        QByteArray const out = child.readAllStandardOutput();
        QByteArray line;
        for (QByteArray const& candidate : out.split('\n'))
        {
            if (candidate.startsWith(name.toUtf8() + ' '))
            {
                line = candidate;
            }
        }
        if (!finished)
        {
            child.kill();
            child.waitForFinished();
            std::printf("%-8s %10s    no end within %d s\n", qPrintable(name), ">", timeoutSeconds);
        }
        else if (child.exitStatus() == QProcess::CrashExit || (line.isEmpty() && child.exitCode() != 0))
        {
            std::printf("%-8s %10.3f s  crashed (%s)\n", qPrintable(name), timer.nsecsElapsed() / 1e9,
                        child.exitStatus() == QProcess::CrashExit ? "signal" : "exit code");
        }
        else
        {
            std::printf("%s\n", line.constData());
        }
        std::fflush(stdout);
    }
    return 0;
}
