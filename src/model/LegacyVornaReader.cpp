#include "model/LegacyVornaReader.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "model/Clip.h"
#include "model/FolderItem.h"
#include "model/FrameBookmark.h"
#include "model/Project.h"
#include "model/ProjectFileFormat.h"
#include "model/StrokeData.h"
#include "model/StrokeDataCodec.h"
#include "model/Timeline.h"
#include "model/Track.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
using Format = ProjectFileFormat;

int const LEGACY_MAXIMUM_INDEX = 250;

int VornaStrokeTypeToCurrent(int type)
{
    static int const table[] = {0, 2, 3, 4, 6, 5, 8, 7};
    return type >= 0 && type <= 7 ? table[type] : 9;
}

QPointF VornaStrokeGetArrowHeadPoint(QPointF const& p0, QPointF const& p1, float angle)
{
    // In single precision throughout; the points lie in float range.
    float const dx = static_cast<float>(p0.x()) - static_cast<float>(p1.x());
    float const dy = static_cast<float>(p0.y()) - static_cast<float>(p1.y());
    float const c = std::cos(angle);
    float const s = std::sin(angle);
    float rx = dx * c - dy * s;
    float ry = dx * s + dy * c;
    float const length = std::hypotf(rx, ry);
    if (!(std::fabs(length - 1.0f) <= 1e-5f || std::fabs(length) <= 1e-5f))
    {
        rx /= length;
        ry /= length;
    }
    return p1 + QPointF(0.022 * rx, 0.022 * ry);
}

bool ReadLegacyStroke(QJsonObject const& object, StrokeData& stroke)
{
    double const storedWidth = object.value(QStringLiteral("width")).toDouble(0.0) * 1000.0;
    if (!std::isfinite(storedWidth) || storedWidth < 0.0 || storedWidth > double(std::numeric_limits<float>::max()))
    {
        return false;
    }
    float width = static_cast<float>(storedWidth);
    stroke.color = QColor::fromString(object.value(QStringLiteral("color")).toString());
    if (!stroke.color.isValid())
    {
        return false;
    }
    int const legacyType = Format::ReadFrame(object, QStringLiteral("type"), -1);
    if (legacyType < 0 || legacyType > 7)
    {
        return false;
    }
    stroke.type = VornaStrokeTypeToCurrent(legacyType);
    if (legacyType == 2)
    {
        width /= 2.6f;
        stroke.text = object.value(QStringLiteral("text")).toString();
        if (stroke.text.isEmpty())
        {
            return false;
        }
    }
    stroke.width = width;
    QList<QPointF> points;
    if (!StrokeDataCodec::DecodePoints(object.value(QStringLiteral("points")).toString(), points))
    {
        return false;
    }
    // The older format's points are single precision: a number no float
    // holds fails like any unreadable point.
    double const largest = std::numeric_limits<float>::max();
    for (QPointF const& point : std::as_const(points))
    {
        if (std::fabs(point.x()) > largest || std::fabs(point.y()) > largest)
        {
            return false;
        }
    }
    // Pencil and eraser strokes keep their points as well as the path built
    // from them: a stroke saved without points could not be read back.
    stroke.points = points;
    if (stroke.type == 0 || stroke.type == 2)
    {
        stroke.path.moveTo(points.first());
        for (int i = 1; i < points.size(); ++i)
        {
            stroke.path.lineTo(points.at(i));
        }
    }
    else if (points.size() >= 2)
    {
        QPointF const p0 = points.at(0);
        QPointF const p1 = points.at(1);
        if (stroke.type == 7)
        {
            stroke.path.addRect(QRectF(p0, QSizeF(p1.x() - p0.x(), p1.y() - p0.y())));
        }
        else if (stroke.type == 6)
        {
            stroke.path.addEllipse(QRectF(p0, QSizeF(p1.x() - p0.x(), p1.y() - p0.y())));
        }
        else if (stroke.type == 5)
        {
            float const angle = 36.0f * static_cast<float>(M_PI) / 180.0f;
            stroke.path.moveTo(p0);
            stroke.path.lineTo(p1);
            stroke.path.lineTo(VornaStrokeGetArrowHeadPoint(p0, p1, angle));
            stroke.path.moveTo(p1);
            stroke.path.lineTo(VornaStrokeGetArrowHeadPoint(p0, p1, -angle));
        }
    }
    return true;
}

void OfferBookmarks(Timeline* timeline, QList<FrameBookmark*> const& bookmarks)
{
    for (FrameBookmark* bookmark : bookmarks)
    {
        if (!timeline || timeline->InsertFrameBookmark(bookmark->frame, bookmark) < 0)
        {
            delete bookmark;
        }
    }
}
} // namespace

LegacyVornaReader::LegacyVornaReader(Project& project)
    : mProject(project)
{
}

bool LegacyVornaReader::Read(QJsonDocument const& document, QString const& path, bool open)
{
    QString format;
    int version = -1;
    if (!Format::ReadMeta(document, path, {Format::LEGACY_VORNA_FORMAT_NAME}, format, version))
    {
        return false;
    }
    if (open)
    {
        ReadProjectSettings(document);
        ReadViewer(document);
    }
    QList<QJsonObject> objects;
    ReadFolders(document, objects);
    ReadSources(document, objects, open);
    ReadTimelines(document, objects, open);
    UpdateParents(objects);
    return true;
}

void LegacyVornaReader::ReadProjectSettings(QJsonDocument const& document)
{
    QJsonObject const settings = document.object().value(QStringLiteral("project")).toObject();
    QString root = settings.value(QStringLiteral("source_root_dir")).toString();
    if (root == QStringLiteral("[PROJECT_DIR]"))
    {
        root.clear();
    }
    if (root != Settings::sourceRootDirPath)
    {
        Settings::sourceRootDirPath = root;
        emit mProject.SourceRootDirPathChanged(root);
    }
    double const rate = std::clamp(
        Format::ReadFinite(settings, QStringLiteral("sequence_frame_rate"), Settings::defaultImageSequenceFrameRate),
        Settings::MINIMUM_IMAGE_SEQUENCE_FRAME_RATE, Settings::MAXIMUM_IMAGE_SEQUENCE_FRAME_RATE);
    if (rate != Settings::imageSequenceFrameRate)
    {
        Settings::imageSequenceFrameRate = rate;
        emit mProject.ImageSequenceFrameRateChanged();
    }
    mProject.SetNotes(settings.value(QStringLiteral("notes")).toString());
    mProject.SetTimeControlFrameOffset(1);
}

void LegacyVornaReader::ReadViewer(QJsonDocument const& document)
{
    int const layout =
        Format::ReadFrame(document.object().value(QStringLiteral("viewer")).toObject(), QStringLiteral("layout"), 0);
    Settings::currentViewerLayout = layout == 1 ? 2 : layout == 2 ? 3 : 1;
}

void LegacyVornaReader::ReadFolders(QJsonDocument const& document, QList<QJsonObject>& objects)
{
    for (QJsonValue const& value : document.object().value(QStringLiteral("folders")).toArray())
    {
        if (!value.isObject())
        {
            continue;
        }
        QJsonObject const object = value.toObject();
        QUuid const id = Format::ReadId(object, QStringLiteral("_id"));
        if (!id.isNull() && mProject.FindItemById(id))
        {
            Logger::GetInstance()->Warning(QStringLiteral("Folder ID already exists in project... Skipping."));
            continue;
        }
        FolderItem* folder = mProject.AddFolder(object.value(QStringLiteral("name")).toString(), QUuid(), false);
        folder->SetId(id);
        folder->SetExpanded(object.value(QStringLiteral("expanded")).toBool(false));
        objects.append(object);
    }
}

void LegacyVornaReader::ReadFrameBookmarks(QJsonObject const& object, QList<FrameBookmark*>& bookmarks)
{
    for (QJsonValue const& value : object.value(QStringLiteral("bookmarks")).toArray())
    {
        QJsonObject const data = value.toObject();
        int const frame = Format::ReadFrame(data, QStringLiteral("frame"), 0);
        if (frame < 1)
        {
            continue;
        }
        auto* bookmark = new FrameBookmark(frame - 1);
        for (QJsonValue const& strokeValue : data.value(QStringLiteral("strokes")).toArray())
        {
            StrokeData stroke;
            if (ReadLegacyStroke(strokeValue.toObject(), stroke))
            {
                bookmark->strokes.append(stroke);
            }
        }
        bookmarks.append(bookmark);
    }
}

void LegacyVornaReader::ReadRangeBookmarks(QJsonObject const& object, QList<RangeBookmark>& ranges)
{
    for (QJsonValue const& value : object.value(QStringLiteral("bookmarks_range")).toArray())
    {
        QJsonObject const data = value.toObject();
        int const start = Format::ReadFrame(data, QStringLiteral("frame_start"), 0);
        int const end = Format::ReadFrame(data, QStringLiteral("frame_end"), 0);
        if (start > 0 && end > 0)
        {
            ranges.append(RangeBookmark {start - 1, end - 1});
        }
    }
}

void LegacyVornaReader::ReadSources(QJsonDocument const& document, QList<QJsonObject>& objects, bool open)
{
    QList<ParseSourceData> records;
    QSet<QUuid> seen;
    for (QJsonValue const& value : document.object().value(QStringLiteral("sources")).toArray())
    {
        if (!value.isObject())
        {
            continue;
        }
        QJsonObject const object = value.toObject();
        QUuid const id = Format::ReadId(object, QStringLiteral("_id"));
        if (!id.isNull() && (seen.contains(id) || mProject.FindItemById(id) || mProject.SourceTimelines().contains(id)))
        {
            Logger::GetInstance()->Warning(QStringLiteral("Source ID already exists in project... Skipping."));
            continue;
        }
        ParseSourceData data;
        data.id = id;
        data.path = object.value(QStringLiteral("path")).toString();
        data.relativePath = object.value(QStringLiteral("relative_path")).toString();
        data.name = object.value(QStringLiteral("name")).toString();
        data.playbackFrame = Format::FromOneBased(Format::ReadFrame(object, QStringLiteral("frame"), 0));
        data.cutInFrame =
            std::max(Format::FromOneBased(Format::ReadFrame(object, QStringLiteral("range_start"), 0)), 0);
        data.cutOutFrame =
            std::max(Format::FromOneBased(Format::ReadFrame(object, QStringLiteral("range_end"), 0)), -1);
        data.viewerIndex = Format::ReadFrame(object, QStringLiteral("viewer_index"), -1);
        data.panX = Format::ReadFinite(object, QStringLiteral("pan_interp_x"), 0.0);
        data.panY = Format::ReadFinite(object, QStringLiteral("pan_interp_y"), 0.0);
        data.zoom = Format::ReadFiniteFloat(object, QStringLiteral("zoom"), 1.0f);
        data.panZoomEnabled =
            Settings::restorePanZoomOnProjectLoad && object.value(QStringLiteral("pan_zoom_enabled")).toBool(false);
        data.expandParent = false;
        data.holdAnnotations = false;
        data.addToDefaultTimeline = false;
        if (data.path.isEmpty())
        {
            continue;
        }
        QList<RangeBookmark> ranges;
        ReadRangeBookmarks(object, ranges);
        for (RangeBookmark const& range : std::as_const(ranges))
        {
            data.rangeBookmarks.append({range.startFrame, range.endFrame});
        }
        ReadFrameBookmarks(object, data.frameBookmarks);
        mProject.AddSourceTimeline(data);
        seen.insert(data.id);
        records.append(data);
        QJsonObject placed = object;
        placed.insert(QStringLiteral("_id"), Format::IdString(data.id));
        objects.append(placed);
    }
    mProject.ParseQueue().ParseAdded();
    for (ParseSourceData const& data : std::as_const(records))
    {
        TimelineItem* item = mProject.SourceTimelines().value(data.id);
        OfferBookmarks(item ? item->TimelinePtr() : nullptr, data.frameBookmarks);
        if (item && open && data.viewerIndex >= 0)
        {
            emit mProject.OpenInViewerRequested(data.id, data.viewerIndex, false);
        }
    }
}

void LegacyVornaReader::ReadTimelines(QJsonDocument const& document, QList<QJsonObject>& objects, bool open)
{
    for (QJsonValue const& value : document.object().value(QStringLiteral("timelines")).toArray())
    {
        if (!value.isObject())
        {
            continue;
        }
        QJsonObject object = value.toObject();
        TimelineItem* item =
            mProject.AddTimeline(object.value(QStringLiteral("name")).toString(), QUuid(), false, QUuid(), -1);
        Timeline* timeline = item->TimelinePtr();
        for (QJsonValue const& element : object.value(QStringLiteral("elements")).toArray())
        {
            TimelineItem* source =
                mProject.SourceTimelines().value(Format::ReadId(element.toObject(), QStringLiteral("source_id")));
            if (source && source->TimelinePtr() && source->SourceClip())
            {
                timeline->MasterTrack()->InsertClipAtIndex(
                    source->SourceClip()->Duplicate(timeline->MasterTrack(), false), -1);
            }
        }
        timeline->SetPlaybackFrame(
            std::max(Format::FromOneBased(Format::ReadFrame(object, QStringLiteral("frame"), 0)), 0));
        int const rangeEnd = Format::ReadFrame(object, QStringLiteral("range_end"), 0);
        if (rangeEnd > 0)
        {
            timeline->SetPlaybackRangeByFrame(
                std::max(Format::FromOneBased(Format::ReadFrame(object, QStringLiteral("range_start"), 0)), 0),
                rangeEnd - 1);
        }
        timeline->SetPanAndZoom(QPointF(Format::ReadFinite(object, QStringLiteral("pan_interp_x"), 0.0),
                                        Format::ReadFinite(object, QStringLiteral("pan_interp_y"), 0.0)),
                                Format::ReadFiniteFloat(object, QStringLiteral("zoom"), 1.0f),
                                Settings::restorePanZoomOnProjectLoad &&
                                    object.value(QStringLiteral("pan_zoom_enabled")).toBool(false));
        timeline->SetUseSourceInOutsEnabled(object.value(QStringLiteral("use_source_in_outs")).toBool(true));
        if (object.value(QStringLiteral("default")).toBool(false))
        {
            mProject.SetDefaultTimeline(item->Id());
        }
        QList<FrameBookmark*> bookmarks;
        ReadFrameBookmarks(object, bookmarks);
        OfferBookmarks(timeline, bookmarks);
        QList<RangeBookmark> ranges;
        ReadRangeBookmarks(object, ranges);
        timeline->InsertRangeBookmarks(Format::RangePairs(ranges));
        int const viewer = Format::ReadFrame(object, QStringLiteral("viewer_index"), -1);
        if (open && viewer >= 0)
        {
            emit mProject.OpenInViewerRequested(item->Id(), viewer, false);
        }
        object.insert(QStringLiteral("_id"), Format::IdString(item->Id()));
        objects.append(object);
    }
}

void LegacyVornaReader::UpdateParents(QList<QJsonObject>& objects)
{
    // Position by position from 0 up, and at each position the objects from
    // the last to the first; sorted into those turns in one pass.
    QList<QList<QJsonObject>> turns(LEGACY_MAXIMUM_INDEX);
    for (auto it = objects.crbegin(); it != objects.crend(); ++it)
    {
        int const index = Format::ReadFrame(*it, QStringLiteral("index"), -1);
        if (index >= 0 && index < LEGACY_MAXIMUM_INDEX)
        {
            turns[index].append(*it);
        }
    }
    objects.removeIf([](QJsonObject const& object) {
        int const index = Format::ReadFrame(object, QStringLiteral("index"), -1);
        return index >= 0 && index < LEGACY_MAXIMUM_INDEX;
    });
    for (int n = 0; n < LEGACY_MAXIMUM_INDEX; ++n)
    {
        for (QJsonObject const& object : std::as_const(turns.at(n)))
        {
            ProjectItem* item = mProject.FindItemById(Format::ReadId(object, QStringLiteral("_id")));
            if (!item)
            {
                continue;
            }
            FolderItem* folder = mProject.FindFolderById(Format::ReadId(object, QStringLiteral("parent_id")));
            if (!folder)
            {
                folder = item->ItemType() == ProjectItemType::Folder     ? mProject.ProjectFolder()
                         : item->ItemType() == ProjectItemType::Timeline ? mProject.TimelineFolder()
                                                                         : mProject.SourceTimelineFolder();
            }
            // A folder stored below itself stays where it is (no parent cycles).
            if (folder)
            {
                mProject.MoveProjectItem(item, folder->Id(), n, false, false);
            }
        }
    }
}
