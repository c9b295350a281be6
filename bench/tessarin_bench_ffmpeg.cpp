#include "FfmpegReference.h"

#include "model/Source.h"

#include <QProcess>
#include <QRegularExpression>

#include <algorithm>

namespace
{

// The conversion the decoder's scaler makes.
QString const SCALER_FLAGS = QStringLiteral("bilinear+full_chroma_int+accurate_rnd");
int const TIMEOUT_MS = 600000;

bool Run(QString const& program, QStringList const& arguments, QByteArray* output, QByteArray* log)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted() || !process.waitForFinished(TIMEOUT_MS) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
    {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
    {
        *output = process.readAllStandardOutput();
    }
    if (log)
    {
        *log = process.readAllStandardError();
    }
    return true;
}

} // namespace

namespace FfmpegReference
{

QStringList InputArguments(Source const& source)
{
    if (!source.IsImageSequence())
    {
        return {"-noautorotate", "-i", source.MediaPath()};
    }
    // "name.####.ext FIRST-LAST" becomes name.%04d.ext from FIRST.
    static QRegularExpression const pattern(QStringLiteral("^(.*?)(#+)(\\.\\S+)\\s+(\\d+)"));
    QRegularExpressionMatch const match = pattern.match(source.MediaPath().trimmed());
    if (!match.hasMatch())
    {
        return {"-framerate", QString::number(source.ImageSequenceFrameRate(), 'g', 12), "-i", source.FilePath(0)};
    }
    QString const numbered = QString(match.captured(1)).replace('%', QStringLiteral("%%")) + "%0" +
                             QString::number(match.captured(2).size()) + "d" + match.captured(3);
    return {"-framerate", QString::number(source.ImageSequenceFrameRate(), 'g', 12), "-start_number",
            match.captured(4), "-i", numbered};
}

QStringList FrameMd5(Source const& source, QString const& pixelFormat)
{
    QStringList const arguments = QStringList {"-nostdin", "-v", "error"} + InputArguments(source) +
                                  QStringList {"-map", "0:v:0", "-fps_mode", "passthrough", "-enc_time_base", "-1",
                                               "-sws_flags", SCALER_FLAGS, "-pix_fmt", pixelFormat, "-f",
                                               "framemd5", "-"};
    QByteArray output;
    if (!Run("ffmpeg", arguments, &output, nullptr))
    {
        return {};
    }
    QStringList md5s;
    for (QByteArray const& line : output.split('\n'))
    {
        if (!line.startsWith('#') && !line.trimmed().isEmpty())
        {
            md5s << QString::fromLatin1(line.mid(line.lastIndexOf(',') + 1).trimmed());
        }
    }
    return md5s;
}

DecodeRate MeasureDecodeRate(Source const& source, QString const& pixelFormat, int threads, bool sliceThreadsOnly)
{
    QStringList const threadArguments = sliceThreadsOnly ? QStringList {"-thread_type", "slice"} : QStringList {};
    QStringList const arguments = QStringList {"-nostdin", "-hide_banner", "-benchmark", "-threads",
                                               QString::number(threads)} +
                                  threadArguments + InputArguments(source) +
                                  QStringList {"-map", "0:v:0", "-filter_threads", "1", "-sws_flags", SCALER_FLAGS,
                                               "-pix_fmt", pixelFormat, "-f", "null", "-"};
    DecodeRate rate;
    rate.command = "ffmpeg " + arguments.join(' ');
    QByteArray log;
    if (!Run("ffmpeg", arguments, nullptr, &log))
    {
        return rate;
    }
    QString const text = QString::fromUtf8(log);
    static QRegularExpression const frames(QStringLiteral("frame=\\s*(\\d+)"));
    for (QRegularExpressionMatch const& match : frames.globalMatch(text))
    {
        rate.frames = match.captured(1).toInt();
    }
    static QRegularExpression const time(QStringLiteral("rtime=([0-9.]+)s"));
    rate.seconds = time.match(text).captured(1).toDouble();
    static QRegularExpression const cpu(QStringLiteral("utime=([0-9.]+)s stime=([0-9.]+)s"));
    QRegularExpressionMatch const used = cpu.match(text);
    rate.cpuSeconds = used.captured(1).toDouble() + used.captured(2).toDouble();
    return rate;
}

QList<int> KeyFrames(Source const& source, int frameCount)
{
    QList<int> keyFrames;
    if (source.IsImageSequence())
    {
        for (int i = 0; i < frameCount; ++i)
        {
            keyFrames << i;
        }
        return keyFrames;
    }
    // Packets come in decoding order; a key frame of a closed GOP is the
    // first picture of its GOP in either order.
    QByteArray output;
    if (!Run("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=flags", "-of", "csv=p=0",
                         source.MediaPath()},
             &output, nullptr))
    {
        return keyFrames;
    }
    int index = 0;
    for (QByteArray const& line : output.split('\n'))
    {
        if (line.trimmed().isEmpty())
        {
            continue;
        }
        if (line.startsWith('K'))
        {
            keyFrames << index;
        }
        ++index;
    }
    return keyFrames;
}

int LongestGop(QList<int> const& keyFrames, int frameCount)
{
    int longest = 0;
    for (qsizetype i = 0; i < keyFrames.size(); ++i)
    {
        int const next = i + 1 < keyFrames.size() ? keyFrames.at(i + 1) : frameCount;
        longest = std::max(longest, next - keyFrames.at(i));
    }
    return longest;
}

} // namespace FfmpegReference
