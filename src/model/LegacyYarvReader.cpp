#include "model/LegacyYarvReader.h"

#include "app/PrivateIniCopy.h"
#include "app/UserFileGuard.h"
#include "model/ParseSourceData.h"
#include "model/Project.h"
#include "model/ProjectFileFormat.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"

#include <QFileInfo>
#include <QMetaType>
#include <QPair>
#include <QSettings>
#include <QVariant>

#include <algorithm>

LegacyYarvReader::LegacyYarvReader(Project& project)
    : mProject(project)
{
}

bool LegacyYarvReader::Import(QString const& path)
{
    // QSettings parses the bytes that were read, never the path again.
    PrivateIniCopy copy;
    QString reason;
    if (!QFileInfo::exists(path) || !copy.Read(path, UserFileGuard::MAXIMUM_PROJECT_FILE_SIZE, reason))
    {
        return false;
    }
    return Read(copy.Settings());
}

bool LegacyYarvReader::Read(QSettings& file)
{
    file.beginGroup(QStringLiteral("main"));
    ParseSourceData data;
    data.path = file.value(QStringLiteral("mediaPath")).toString();
    // Written by hand without quotes, the frames read as a list of strings.
    QVariant const framesValue = file.value(QStringLiteral("frames"));
    QList<int> const frames = StringToFrames(framesValue.typeId() == QMetaType::QStringList
                                                 ? framesValue.toStringList().join(QLatin1Char(','))
                                                 : framesValue.toString());
    QList<int> const ranges = StringListToRanges(file.value(QStringLiteral("ranges")).toStringList());
    data.playbackFrame = ProjectFileFormat::FromOneBased(file.value(QStringLiteral("current"), 0).toInt());
    data.cutInFrame = std::max(ProjectFileFormat::FromOneBased(file.value(QStringLiteral("start"), 0).toInt()), 0);
    data.cutOutFrame = std::max(ProjectFileFormat::FromOneBased(file.value(QStringLiteral("end"), 0).toInt()), -1);
    file.endGroup();
    data.expandParent = false;
    data.addToRecentFiles = false;
    mProject.AddSourceTimeline(data);
    mProject.AddParseListToQueue();
    mProject.WaitForParseQueue();
    TimelineItem* item = data.id.isNull() ? nullptr : mProject.SourceTimelines().value(data.id);
    if (item && item->TimelinePtr())
    {
        for (int frame : frames)
        {
            item->TimelinePtr()->InsertFrameBookmark(ProjectFileFormat::FromOneBased(frame));
        }
        QList<QPair<int, int>> pairs;
        for (int i = 0; i + 1 < ranges.size(); i += 2)
        {
            // As in the other older format, a range needs both ends on a frame.
            if (ranges.at(i) > 0 && ranges.at(i + 1) > 0)
            {
                pairs.append({ranges.at(i) - 1, ranges.at(i + 1) - 1});
            }
        }
        item->TimelinePtr()->InsertRangeBookmarks(pairs);
        emit mProject.OpenInViewerRequested(data.id, 0, false);
    }
    return true;
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
