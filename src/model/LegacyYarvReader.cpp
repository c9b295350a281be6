#include "model/LegacyYarvReader.h"

#include "app/Logger.h"
#include "app/PrivateIniCopy.h"
#include "model/BookmarkFileLists.h"
#include "model/CommaListReader.h"
#include "model/ParseSourceData.h"
#include "model/Project.h"
#include "model/ProjectFileFormat.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"

#include <QMetaType>
#include <QPair>
#include <QSettings>
#include <QVariant>

#include <algorithm>

LegacyYarvReader::LegacyYarvReader(Project& project)
    : mProject(project)
{
}

namespace
{
// A part of a list as QSettings gives it once unquoted, as a number.
int ReadNumber(QByteArrayView part, bool& ok)
{
    if (!part.contains('"'))
    {
        return part.trimmed().toInt(&ok, 10);
    }
    QByteArray unquoted = part.toByteArray();
    unquoted.replace('"', QByteArray());
    return QByteArrayView(unquoted).trimmed().toInt(&ok, 10);
}

// The end of the element of a "ranges" list that starts at position: the
// next comma outside quotes.
qsizetype RangeElementEnd(QByteArrayView text, qsizetype position)
{
    bool quoted = false;
    for (; position < text.size(); ++position)
    {
        char const c = text.at(position);
        if (c == '"')
        {
            quoted = !quoted;
        }
        else if (c == ',' && !quoted)
        {
            break;
        }
    }
    return position;
}

// The first two parts of one element of a "ranges" list, when both convert.
bool ReadRange(QByteArrayView element, int& start, int& end)
{
    QByteArray unquoted;
    if (element.contains('"'))
    {
        unquoted = element.toByteArray();
        unquoted.replace('"', QByteArray());
        element = unquoted;
    }
    CommaListReader<QByteArrayView> parts(element);
    QByteArrayView first;
    QByteArrayView second;
    if (!parts.Next(first) || !parts.Next(second))
    {
        return false;
    }
    bool okStart = false;
    bool okEnd = false;
    start = first.trimmed().toInt(&okStart, 10);
    end = second.trimmed().toInt(&okEnd, 10);
    return okStart && okEnd;
}

// The list as a raw INI value, for a key that QSettings had to read.
QByteArray RawRanges(QStringList const& elements)
{
    QByteArray raw;
    for (QString const& element : elements)
    {
        raw += '"' + element.toUtf8().replace('"', QByteArray()) + "\",";
    }
    return raw;
}
} // namespace

bool LegacyYarvReader::ReadBytes(QByteArray const& bytes)
{
    // QSettings parses the bytes that were read, never the path again, and
    // not the lists, which are read here one entry at a time.
    BookmarkFileLists const lists(bytes);
    PrivateIniCopy copy;
    QString reason;
    return copy.Take(lists.OtherLines(), reason) && Read(copy.Settings(), lists);
}

bool LegacyYarvReader::Read(QSettings& file, BookmarkFileLists const& lists)
{
    file.beginGroup(QStringLiteral("main"));
    ParseSourceData data;
    data.path = file.value(QStringLiteral("mediaPath")).toString();
    QByteArray frames;
    if (!lists.HasFrames())
    {
        // Written by hand without quotes, the frames read as a list of strings.
        QVariant const framesValue = file.value(QStringLiteral("frames"));
        frames = (framesValue.typeId() == QMetaType::QStringList
                      ? framesValue.toStringList().join(QLatin1Char(','))
                      : framesValue.toString())
                     .toUtf8();
    }
    QByteArray const ranges =
        lists.HasRanges() ? QByteArray() : RawRanges(file.value(QStringLiteral("ranges")).toStringList());
    data.playbackFrame = ProjectFileFormat::FromOneBased(file.value(QStringLiteral("current"), 0).toInt());
    data.cutInFrame = std::max(ProjectFileFormat::FromOneBased(file.value(QStringLiteral("start"), 0).toInt()), 0);
    data.cutOutFrame = std::max(ProjectFileFormat::FromOneBased(file.value(QStringLiteral("end"), 0).toInt()), -1);
    file.endGroup();
    data.expandParent = false;
    data.addToRecentFiles = false;
    mProject.AddSourceTimeline(data);
    mProject.ParseQueue().ParseAdded();
    TimelineItem* item = data.id.isNull() ? nullptr : mProject.SourceTimelines().value(data.id);
    if (item && item->TimelinePtr())
    {
        Timeline* timeline = item->TimelinePtr();
        InsertFrames(timeline, lists.HasFrames() ? lists.Frames() : QByteArrayView(frames), data.path);
        InsertRanges(timeline, lists.HasRanges() ? lists.Ranges() : QByteArrayView(ranges), data.path);
        emit mProject.OpenInViewerRequested(data.id, 0, false);
    }
    return true;
}

void LegacyYarvReader::InsertFrames(Timeline* timeline, QByteArrayView text, QString const& mediaPath)
{
    // The clip takes one bookmark per frame at most: the entries past as many
    // as it has frames are not read.
    int const limit = timeline->FrameCount();
    CommaListReader<QByteArrayView> reader(text);
    QByteArrayView part;
    int read = 0;
    while (read < limit && reader.Next(part))
    {
        bool ok = false;
        int const frame = ReadNumber(part, ok);
        if (ok)
        {
            ++read;
            timeline->InsertFrameBookmark(ProjectFileFormat::FromOneBased(frame));
        }
    }
    qsizetype const dropped = reader.CountRest();
    if (dropped > 0)
    {
        Logger::GetInstance()->Warning(
            QStringLiteral("Bookmark file of %1: %2 bookmarked frames past the clip's %3 frames were dropped")
                .arg(mediaPath)
                .arg(dropped)
                .arg(limit));
    }
}

void LegacyYarvReader::InsertRanges(Timeline* timeline, QByteArrayView text, QString const& mediaPath)
{
    qsizetype const limit =
        std::max<qsizetype>(timeline->FrameCount(), ProjectFileFormat::MINIMUM_RANGE_BOOKMARK_LIMIT);
    QList<QPair<int, int>> pairs;
    qsizetype position = 0;
    qsizetype dropped = 0;
    while (position < text.size())
    {
        qsizetype const end = RangeElementEnd(text, position);
        QByteArrayView const element = text.sliced(position, end - position);
        position = end + 1;
        int start = 0;
        int last = 0;
        // As in the other older format, a range needs both ends on a frame.
        if (!element.trimmed().isEmpty() && ReadRange(element, start, last) && start > 0 && last > 0)
        {
            if (pairs.size() == limit)
            {
                ++dropped;
                continue;
            }
            pairs.append({start - 1, last - 1});
        }
    }
    timeline->InsertRangeBookmarks(pairs);
    if (dropped > 0)
    {
        Logger::GetInstance()->Warning(
            QStringLiteral("Bookmark file of %1: %2 ranges past the first %3 were dropped")
                .arg(mediaPath)
                .arg(dropped)
                .arg(limit));
    }
}

QList<int> LegacyYarvReader::StringToFrames(QString const& text)
{
    QList<int> frames;
    for (QString const& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
    {
        bool ok = false;
        int const frame = part.trimmed().toInt(&ok, 10);
        if (ok)
        {
            frames.append(frame);
        }
    }
    return frames;
}

QList<int> LegacyYarvReader::StringListToRanges(QList<QString> const& list)
{
    QList<int> ranges;
    for (QString const& element : list)
    {
        QStringList const parts = element.split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (parts.size() < 2)
        {
            continue;
        }
        bool okStart = false;
        bool okEnd = false;
        int const start = parts.at(0).trimmed().toInt(&okStart, 10);
        int const end = parts.at(1).trimmed().toInt(&okEnd, 10);
        if (okStart && okEnd)
        {
            ranges.append(start);
            ranges.append(end);
        }
    }
    return ranges;
}
