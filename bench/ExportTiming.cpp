#include "ExportTiming.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/ExportManager.h"
#include "media/ExportProperties.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QProcess>
#include <QTimer>

#include <cstdio>

namespace ExportTiming
{

bool RunFfmpeg(QStringList const& arguments)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList {"-nostdin", "-hide_banner", "-v", "error", "-y"} + arguments);
    if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0)
    {
        std::fprintf(stderr, "ffmpeg failed: %s\n", ffmpeg.readAllStandardError().constData());
        return false;
    }
    return true;
}

QString Crf()
{
    return QString::number(QList<int> {18, 20, 23, 26}.value(Settings::h264Quality, 20));
}

QString Preset()
{
    return QStringList {"veryslow", "slow", "medium", "fast", "veryfast", "ultrafast"}.value(Settings::h264Preset,
                                                                                           "medium");
}

double FfmpegSeconds(QString const& source, QString const& output, QSize size)
{
    QString const filter =
        QString("scale=w=%1:h=%2:force_original_aspect_ratio=1,pad=%1:%2:(ow-iw)*0.5:(oh-ih)*0.5,setsar=1")
            .arg(size.width())
            .arg(size.height());
    QElapsedTimer timer;
    timer.start();
    if (!RunFfmpeg({"-i", source, "-c:v", "libx264", "-pix_fmt", "yuv420p", "-crf", Crf(), "-preset:v", Preset(),
                    "-profile:v", "high", "-vf", filter, "-an", output}))
    {
        return 0.0;
    }
    return timer.nsecsElapsed() / 1e9;
}

double EngineSeconds(AvManager& av, Timeline* timeline, QString const& output, QSize size, int timeoutMs)
{
    ExportProperties request;
    request.timeline = timeline;
    request.outputFilePath = output;
    request.width = size.width();
    request.height = size.height();
    request.h264Quality = Settings::h264Quality;
    request.h264Preset = Settings::h264Preset;
    QElapsedTimer timer;
    timer.start();
    QString const error = ExportManager::PreExportInitialization(&request);
    if (!error.isEmpty())
    {
        std::fprintf(stderr, "export refused: %s\n", qPrintable(error));
        return 0.0;
    }
    // The wait sleeps in the event loop until the export ends or the time is
    // up: processEvents with a time limit never sleeps, and a spinning wait
    // would take a core from the encoder it times.
    bool ended = false;
    QEventLoop wait;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &wait, &QEventLoop::quit);
    QMetaObject::Connection const ending = QObject::connect(&av, &AvManager::ExportTasksEnded, [&ended, &wait] {
        ended = true;
        wait.quit();
    });
    QMetaObject::Connection const logging = QObject::connect(
        &av, &AvManager::ExportLogMsgReceived, [](QString const& message, ExportLoggingMsgType, bool isError) {
            if (isError)
            {
                std::fprintf(stderr, "export error: %s\n", qPrintable(message));
            }
        });
    av.StartTimelineExport(&request);
    if (!ended)
    {
        limit.start(timeoutMs);
        wait.exec();
    }
    double const seconds = timer.nsecsElapsed() / 1e9;
    QObject::disconnect(ending);
    QObject::disconnect(logging);
    if (!ended)
    {
        std::fprintf(stderr, "export did not end within %d s\n", timeoutMs / 1000);
        av.ClearAll(false, 10000); // cancels the export and waits for its threads
        return 0.0;
    }
    ExportManager::PostExportCleanup(&request);
    return request.failed || request.cancelled ? 0.0 : seconds;
}

} // namespace ExportTiming
