#include "media/export/ExportOutputFiles.h"

#include "media/ExportProperties.h"
#include "model/Timeline.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>

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

// One rename, never a copy: false with errno set (EXDEV across file
// systems). Without `replace` an entry at `to` is left alone (EEXIST).
bool RenameEntry(QString const& from, QString const& to, bool replace)
{
    QByteArray const source = QFile::encodeName(from);
    QByteArray const target = QFile::encodeName(to);
    if (replace)
    {
        return ::rename(source.constData(), target.constData()) == 0;
    }
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
    {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS)
    {
        return false;
    }
    // A file system that cannot refuse to replace in the rename itself.
    if (EntryExists(to))
    {
        errno = EEXIST;
        return false;
    }
    return ::rename(source.constData(), target.constData()) == 0;
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
    // Every match is looked at, so that the lowest numbers are the ones
    // named, whatever order the folder lists them in.
    QList<std::pair<int, QString>> found;
    QDirIterator entries(properties->imageDirPath,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (entries.hasNext())
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
            found.append({number, QDir(properties->imageDirPath).filePath(name)});
        }
    }
    std::sort(found.begin(), found.end());
    QStringList paths;
    for (qsizetype i = 0; i < found.size() && i < limit; ++i)
    {
        paths.append(found.at(i).second);
    }
    return paths;
}

QString ExportOutputFiles::StagedPath(QString const& to, QString const& stagingTag)
{
    return QStringLiteral("%1.%2.part").arg(to, stagingTag);
}

QString ExportOutputFiles::KeptBesidePath(QString const& path, QString const& tag)
{
    return QStringLiteral("%1.%2.kept").arg(path, tag);
}

QString ExportOutputFiles::KeptInFolderPath(QString const& path, QString const& keepDirPath)
{
    return QDir(keepDirPath).filePath(QFileInfo(path).fileName());
}

bool ExportOutputFiles::MoveIntoPlace(QString const& from, QString const& to, bool replace, QString const& stagingTag,
                                      std::function<void(QString const&)> const& beforePlacing)
{
    if (EntryExists(to) && (!replace || QFileInfo(to).isDir()))
    {
        return false;
    }
    if (beforePlacing)
    {
        beforePlacing(from);
    }
    if (RenameEntry(from, to, replace))
    {
        return true;
    }
    if (errno != EXDEV)
    {
        return false;
    }
    // Another file system: a copy that fails half-way (a full drive) must
    // never be mistaken for the output, so it is made under a staged name
    // and renamed into place only once complete.
    QString const staged = StagedPath(to, stagingTag);
    if (EntryExists(staged))
    {
        return false;
    }
    std::error_code error;
    std::filesystem::copy_file(NativePath(from), NativePath(staged), std::filesystem::copy_options::none, error);
    if (error)
    {
        if (error != std::errc::file_exists)
        {
            QFile::remove(staged);
        }
        return false;
    }
    if (beforePlacing)
    {
        beforePlacing(staged);
    }
    if (!RenameEntry(staged, to, replace))
    {
        QFile::remove(staged);
        return false;
    }
    QFile::remove(from);
    return true;
}

QString ExportOutputFiles::SetAside(QString const& path, QString const& keepDirPath, QString const& tag)
{
    if (QDir().mkpath(keepDirPath))
    {
        QString const kept = KeptInFolderPath(path, keepDirPath);
        if (RenameEntry(path, kept, false))
        {
            return kept;
        }
        if (errno != EXDEV)
        {
            return {};
        }
    }
    // Beside it, on its own file system: still a rename, never a copy.
    QString const beside = KeptBesidePath(path, tag);
    return RenameEntry(path, beside, false) ? beside : QString();
}

bool ExportOutputFiles::PutBack(QString const& keptPath, QString const& path)
{
    return RenameEntry(keptPath, path, false);
}
