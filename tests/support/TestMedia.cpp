#include "support/TestMedia.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace TestMedia
{

QString Dir()
{
    QString const fromEnvironment = QProcessEnvironment::systemEnvironment().value("TESSARIN_TEST_MEDIA_DIR");
    return fromEnvironment.isEmpty() ? QStringLiteral(TESSARIN_TEST_MEDIA_DIR) : fromEnvironment;
}

QString Path(QString const& name)
{
    return QDir(Dir()).filePath(name);
}

QStringList FrameMd5(QString const& path, QStringList const& inputOptions)
{
    QStringList arguments{"-nostdin", "-v", "error"};
    arguments << inputOptions << "-i" << path << "-map" << "0:v:0" << "-fps_mode" << "passthrough"
              << "-enc_time_base" << "-1"
              // Pictures in other formats converted as the player converts them.
              << "-sws_flags" << "bilinear+full_chroma_int+accurate_rnd" << "-pix_fmt" << "yuv420p" << "-f"
              << "framemd5" << "-";
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", arguments);
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0)
    {
        return {};
    }
    QStringList md5s;
    for (QString const& line : QString::fromUtf8(ffmpeg.readAllStandardOutput()).split('\n'))
    {
        if (line.startsWith('#') || line.trimmed().isEmpty())
        {
            continue;
        }
        md5s << line.section(',', -1).trimmed();
    }
    return md5s;
}

} // namespace TestMedia
