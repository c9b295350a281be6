#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

class AvManager;
class Timeline;

// The two sides of an export benchmark: the export through the engine and
// ffmpeg running the same encode straight from the file.
namespace ExportTiming
{
// Runs ffmpeg quietly with the arguments (ffmpeg on the PATH); says why on
// the error output when it fails.
bool RunFfmpeg(QStringList const& arguments);
// The player's H.264 quality and preset as ffmpeg's -crf and -preset.
QString Crf();
QString Preset();
// Seconds of ffmpeg encoding the file as an export of that size does, or 0
// on failure.
double FfmpegSeconds(QString const& source, QString const& output, QSize size);
// Seconds of an export of the timeline through the engine at that size, or 0
// on failure (then any export still running is cancelled).
double EngineSeconds(AvManager& av, Timeline* timeline, QString const& output, QSize size, int timeoutMs);
} // namespace ExportTiming
