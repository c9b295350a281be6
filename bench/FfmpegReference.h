#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class Source;

// What the `ffmpeg` and `ffprobe` programs on the PATH make of a source: the
// reference the engine is measured against.
namespace FfmpegReference
{
struct DecodeRate
{
    int frames = 0;
    double seconds = 0.0;
    // Processor time of all its threads (user and system), which a loaded
    // machine changes far less than the time it took.
    double cpuSeconds = 0.0;
    QString command;
    double FramesPerSecond() const { return seconds > 0.0 ? frames / seconds : 0.0; }
    double CpuMillisecondsPerFrame() const { return frames > 0 ? cpuSeconds * 1e3 / frames : 0.0; }
};

// The input part of a command line: the file without automatic rotation, or
// the numbered files of a sequence at its frame rate.
QStringList InputArguments(Source const& source);
// One MD5 per picture in presentation order, as `-f framemd5` prints them for
// the first video stream in the given pixel format; empty when ffmpeg failed.
QStringList FrameMd5(Source const& source, QString const& pixelFormat);
// Decoding and converting the whole stream to the pixel format with the
// given decoder threads (0: automatic) and one converting thread. With
// sliceThreadsOnly the decoder splits each picture among its threads (one
// thread for codecs that cannot), so a frame's rate is one over the time one
// picture takes to decode and convert.
DecodeRate MeasureDecodeRate(Source const& source, QString const& pixelFormat, int threads,
                             bool sliceThreadsOnly = false);
// The positions of the key frames in presentation order (every picture of an
// image sequence); empty when ffprobe failed.
QList<int> KeyFrames(Source const& source, int frameCount);
// The longest distance between two key frames, in frames (1 for images).
int LongestGop(QList<int> const& keyFrames, int frameCount);
}
