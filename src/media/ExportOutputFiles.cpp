#include "media/ExportOutputFiles.h"

#include "media/ExportProperties.h"
#include "model/Timeline.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <system_error>

namespace
{
std::filesystem::path NativePath(QString const& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// The text with every '%' doubled, so that an ffmpeg pattern reads it literally.
QString EscapePattern(QString const& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return escaped;
}

QString NumberedName(ExportProperties const* properties, int number)
{
    return QStringLiteral("%1.%2.%3")
        .arg(properties->imageBaseName,
             QStringLiteral("%1").arg(number, properties->imagePadding, 10, QLatin1Char('0')),
             properties->imageExtension);
}

bool EntryExists(QString const& path)
{
    QFileInfo const info(path);
    return info.exists() || info.isSymLink();
}
} // namespace

QString ExportOutputFiles::ImageFilePath(ExportProperties const* properties, int number)
{
    return QStringLiteral("%1/%2").arg(properties->imageDirPath, NumberedName(properties, number));
}

QString ExportOutputFiles::RenderedImagePath(ExportProperties const* properties, int number)
{
    return QStringLiteral("%1/%2").arg(properties->tempDirPath, NumberedName(properties, number));
}

QString ExportOutputFiles::RenderedImagePattern(ExportProperties const* properties)
{
    return QStringLiteral("%1/%2.%3%4d.%5")
        .arg(EscapePattern(properties->tempDirPath), EscapePattern(properties->imageBaseName), QStringLiteral("%"),
             QString::number(properties->imagePadding), properties->imageExtension);
}

QString ExportOutputFiles::RenderedOutputPath(ExportProperties const* properties)
{
    return QStringLiteral("%1/%2_output.%3")
        .arg(properties->tempDirPath, properties->exportName, QFileInfo(properties->outputFilePath).suffix());
}

bool ExportOutputFiles::ImageNumberRange(ExportProperties const* properties, int& first, int& last)
{
    Timeline const* const timeline = properties->timeline;
    if (!timeline)
    {
        return false;
    }
    int start = 0;
    int end = 0;
    if (properties->ignoreRange)
    {
        start = std::max(0, properties->startFrame);
        end = timeline->EndFrame();
    }
    else
    {
        start = timeline->PlaybackRangeStartFrame();
        end = timeline->PlaybackRangeEndFrame();
        if (end < 0)
        {
            end = timeline->EndFrame();
        }
    }
    if (end < start)
    {
        return false;
    }
    long long const base = properties->imageNumberingType == 2 ? 0 : start;
    first = static_cast<int>(std::clamp<long long>(start - base + properties->imageNumberOffset, INT_MIN, INT_MAX));
    last = static_cast<int>(std::clamp<long long>(end - base + properties->imageNumberOffset, INT_MIN, INT_MAX));
    return true;
}

QStringList ExportOutputFiles::ExistingImageFiles(ExportProperties const* properties, int limit)
{
    int first = 0;
    int last = 0;
    if (!ImageNumberRange(properties, first, last) || !QFileInfo(properties->imageDirPath).isDir())
    {
        return {};
    }
    QString const prefix = properties->imageBaseName + QLatin1Char('.');
    QString const suffix = QLatin1Char('.') + properties->imageExtension;
    QStringList found;
    QDirIterator entries(properties->imageDirPath,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (entries.hasNext() && found.size() < limit)
    {
        QString const name = entries.nextFileInfo().fileName();
        if (name.size() <= prefix.size() + suffix.size() || !name.startsWith(prefix) || !name.endsWith(suffix))
        {
            continue;
        }
        bool ok = false;
        int const number = name.mid(prefix.size(), name.size() - prefix.size() - suffix.size()).toInt(&ok, 10);
        if (ok && number >= first && number <= last && NumberedName(properties, number) == name)
        {
            found.append(QDir(properties->imageDirPath).filePath(name));
        }
    }
    found.sort();
    return found;
}

bool ExportOutputFiles::MoveIntoPlace(QString const& from, QString const& to, bool replace, QString const& stagingTag)
{
    if (!EntryExists(to))
    {
        // Refuses a file that appeared meanwhile; copies across devices.
        return QFile::rename(from, to);
    }
    if (!replace || QFileInfo(to).isDir())
    {
        return false;
    }
    std::error_code error;
    std::filesystem::rename(NativePath(from), NativePath(to), error);
    if (!error)
    {
        return true;
    }
    QString const staged = QStringLiteral("%1.%2.part").arg(to, stagingTag);
    if (EntryExists(staged) || !QFile::copy(from, staged))
    {
        return false;
    }
    std::filesystem::rename(NativePath(staged), NativePath(to), error);
    if (error)
    {
        QFile::remove(staged);
        return false;
    }
    QFile::remove(from);
    return true;
}
