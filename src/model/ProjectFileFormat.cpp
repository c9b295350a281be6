#include "model/ProjectFileFormat.h"

#include "app/Logger.h"
#include "app/PrivateIniCopy.h"
#include "model/BookmarkFileLists.h"
#include "app/UserFileGuard.h"
#include "model/Project.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QSet>
#include <QSettings>

#include <cmath>
#include <limits>

QString const ProjectFileFormat::FORMAT_NAME = QStringLiteral("zeph");
int const ProjectFileFormat::FORMAT_VERSION = 1;
QString const ProjectFileFormat::LEGACY_VORNA_FORMAT_NAME = QStringLiteral("vorna");

namespace
{
// Whether no folder of the file lies more than the deepest level below the
// project folder, following the parent ids (a file's folders may name their
// parents in any order, or in a ring). Without recursion, each folder once.
bool FolderDepthWithinLimit(QJsonDocument const& document)
{
    QHash<QUuid, QUuid> parents;
    for (QJsonValue const& value : document.object().value(QStringLiteral("folders")).toArray())
    {
        QJsonObject const object = value.toObject();
        QUuid const id = QUuid::fromString(object.value(QStringLiteral("_id")).toString());
        if (!id.isNull() && !parents.contains(id))
        {
            parents.insert(id, QUuid::fromString(object.value(QStringLiteral("parent_id")).toString()));
        }
    }
    QHash<QUuid, int> depths;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it)
    {
        QList<QUuid> chain;
        QSet<QUuid> onChain;
        QUuid current = it.key();
        while (parents.contains(current) && !depths.contains(current) && !onChain.contains(current))
        {
            chain.append(current);
            onChain.insert(current);
            current = parents.value(current);
        }
        int depth = depths.value(current, 0);
        for (auto link = chain.crbegin(); link != chain.crend(); ++link)
        {
            if (++depth > Project::MAXIMUM_FOLDER_DEPTH)
            {
                return false;
            }
            depths.insert(*link, depth);
        }
    }
    return true;
}
} // namespace

QStringList ProjectFileFormat::AcceptedFormats()
{
    return {FORMAT_NAME};
}

QString ProjectFileFormat::IdString(QUuid const& id)
{
    return id.toString();
}

bool ProjectFileFormat::ReadBytes(QString const& path, QByteArray& bytes, QDateTime& modified)
{
    QString reason;
    if (!UserFileGuard::ReadAll(path, UserFileGuard::MAXIMUM_PROJECT_FILE_SIZE, bytes, reason, &modified))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to open project file: %1 (%2)").arg(path, reason));
        return false;
    }
    return true;
}

bool ProjectFileFormat::ReportMissing(QString const& path)
{
    if (QFileInfo::exists(path))
    {
        return false;
    }
    Logger::GetInstance()->Error(QStringLiteral("Failed to open project. File does not exist: %1").arg(path));
    return true;
}

bool ProjectFileFormat::ReadMeta(QJsonDocument const& document, QString const& path, QStringList const& accepted,
                                 QString& format, int& version)
{
    QJsonObject const meta = document.object().value(QStringLiteral("_meta")).toObject();
    if (meta.isEmpty())
    {
        Logger::GetInstance()->Error(QStringLiteral("Project metadata not found: %1").arg(path));
        return false;
    }
    format = meta.value(QStringLiteral("format")).toString();
    version = meta.value(QStringLiteral("version")).toInt(-1);
    if (!accepted.contains(format) || version <= 0)
    {
        Logger::GetInstance()->Error(QStringLiteral("Unknown file format: %1").arg(path));
        return false;
    }
    // Refused whole, before anything is read: a tree that deep serves no one,
    // and keeping only part of it would lose the rest at the next save.
    if (!FolderDepthWithinLimit(document))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to open project. Folders are nested more than %1 deep: %2")
                                         .arg(Project::MAXIMUM_FOLDER_DEPTH)
                                         .arg(path));
        return false;
    }
    return true;
}

QUuid ProjectFileFormat::ReadId(QJsonObject const& object, QString const& key)
{
    return QUuid::fromString(object.value(key).toString());
}

int ProjectFileFormat::ReadFrame(QJsonObject const& object, QString const& key, int fallback)
{
    QJsonValue const value = object.value(key);
    if (!value.isDouble())
    {
        return fallback;
    }
    double const number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max())
    {
        return fallback;
    }
    return static_cast<int>(number);
}

double ProjectFileFormat::ReadFinite(QJsonObject const& object, QString const& key, double fallback)
{
    double const value = object.value(key).toDouble(fallback);
    return std::isfinite(value) ? value : fallback;
}

float ProjectFileFormat::ReadFiniteFloat(QJsonObject const& object, QString const& key, float fallback)
{
    double const value = ReadFinite(object, key, fallback);
    return std::fabs(value) <= double(std::numeric_limits<float>::max()) ? static_cast<float>(value) : fallback;
}

QList<QPair<int, int>> ProjectFileFormat::RangePairs(QList<RangeBookmark> const& ranges)
{
    QList<QPair<int, int>> pairs;
    pairs.reserve(ranges.size());
    for (RangeBookmark const& range : ranges)
    {
        pairs.append({range.startFrame, range.endFrame});
    }
    return pairs;
}

int ProjectFileFormat::FromOneBased(int frame)
{
    return frame == std::numeric_limits<int>::min() ? frame : frame - 1;
}

// A clip keeps its bookmarks sorted by frame, one per frame: a file's list is

bool ProjectFileFormat::IsAcceptedFile(QString const& path, QJsonDocument& document, QByteArray& bytes,
                                       ProjectFileStamp& stamp)
{
    document = QJsonDocument();
    bytes.clear();
    stamp = ProjectFileStamp();
    bool const bookmarkFile = path.endsWith(QStringLiteral(".bmk"));
    if (bookmarkFile ? !QFileInfo::exists(path) && !QFileInfo(path).isSymLink() : ReportMissing(path))
    {
        return false;
    }
    QDateTime modified;
    if (!ReadBytes(path, bytes, modified))
    {
        return false;
    }
    stamp = ProjectFileStamp::OfBytes(path, bytes, modified);
    if (bookmarkFile)
    {
        // A bookmark file names its media; without one it holds nothing to
        // open, and must not replace the open project with an empty one. Its
        // lists need not be parsed for that.
        PrivateIniCopy copy;
        QString reason;
        if (!copy.Take(BookmarkFileLists(bytes).OtherLines(), reason) ||
            copy.Settings().status() != QSettings::NoError ||
            copy.Settings().value(QStringLiteral("main/mediaPath")).toString().trimmed().isEmpty())
        {
            Logger::GetInstance()->Error(QStringLiteral("Unknown file format: %1").arg(path));
            return false;
        }
        return true;
    }
    document = QJsonDocument::fromJson(bytes);
    // The document holds it all now; a large file need not stay twice in memory.
    bytes = QByteArray();
    QString format;
    int version = -1;
    QStringList const accepted =
        path.endsWith(QStringLiteral(".vorna")) ? QStringList {LEGACY_VORNA_FORMAT_NAME} : AcceptedFormats();
    return ReadMeta(document, path, accepted, format, version);
}
