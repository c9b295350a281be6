#include "model/ProjectFileReader.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "model/Clip.h"
#include "model/CommaListReader.h"
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
#include <QMap>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
using Format = ProjectFileFormat;

// A clip keeps its bookmarks sorted by frame, one per frame: a file's list is
// sorted, and of one frame named twice the first is kept.
QList<FrameBookmark*> SortedUniqueBookmarks(QList<FrameBookmark*> bookmarks)
{
    std::stable_sort(bookmarks.begin(), bookmarks.end(),
                     [](FrameBookmark const* a, FrameBookmark const* b) { return a->frame < b->frame; });
    QList<FrameBookmark*> result;
    for (FrameBookmark* bookmark : std::as_const(bookmarks))
    {
        if (!result.isEmpty() && result.last()->frame == bookmark->frame)
        {
            delete bookmark;
            continue;
        }
        result.append(bookmark);
    }
    return result;
}
} // namespace

ProjectFileReader::ProjectFileReader(Project& project)
    : mProject(project)
{
}

bool ProjectFileReader::Read(QJsonDocument const& document, QString const& path, bool open)
{
    QString format;
    int version = -1;
    if (!Format::ReadMeta(document, path, Format::AcceptedFormats(), format, version))
    {
        return false;
    }
    // Only a file that was accepted becomes the project's path, so a save never
    // overwrites a file that could not be read.
    if (open)
    {
        mProject.SetProjectPath(path);
        ReadProjectSettings(document);
        ReadViewer(document);
    }
    mReadIds.clear();
    ReadBookmarks(document);
    // An import adds the file's sources; the open project keeps its own
    // folders, edit timelines and default timeline.
    if (open)
    {
        ReadFolders(document);
    }
    ReadSources(document);
    if (open)
    {
        // The edit timelines take theirs; whatever no owner took goes after that.
        ReadTimelines(document);
    }
    mProject.ParseQueue().ClearPendingBookmarks();
    mReadIds.clear();
    return true;
}

void ProjectFileReader::ReadProjectSettings(QJsonDocument const& document)
{
    QJsonObject const settings = document.object().value(QStringLiteral("_project")).toObject();
    QString const root = settings.value(QStringLiteral("source_root_dir")).toString();
    if (root != Settings::sourceRootDirPath)
    {
        Settings::sourceRootDirPath = root;
        emit mProject.SourceRootDirPathChanged(root);
    }
    double const rate = std::clamp(
        Format::ReadFinite(settings, QStringLiteral("image_seq_frame_rate"), Settings::defaultImageSequenceFrameRate),
        Settings::MINIMUM_IMAGE_SEQUENCE_FRAME_RATE, Settings::MAXIMUM_IMAGE_SEQUENCE_FRAME_RATE);
    if (rate != Settings::imageSequenceFrameRate)
    {
        Settings::imageSequenceFrameRate = rate;
        emit mProject.ImageSequenceFrameRateChanged();
    }
    mProject.SetTimeControlFrameOffset(std::min(Format::ReadFrame(settings, QStringLiteral("time_control_frame_offset"),
                                                                  Settings::defaultTimeControlFrameOffset),
                                                Settings::MAXIMUM_TIME_CONTROL_FRAME_OFFSET));
    mProject.SetNotes(settings.value(QStringLiteral("notes")).toString());
}

void ProjectFileReader::ReadViewer(QJsonDocument const& document)
{
    QJsonObject const viewer = document.object().value(QStringLiteral("viewer")).toObject();
    // A layout the viewer does not know (single up to the 2 by 2 grid) opens
    // as the single view.
    int const layout = Format::ReadFrame(viewer, QStringLiteral("layout"), 0);
    Settings::currentViewerLayout = layout >= 0 && layout <= 4 ? layout : 0;
}

bool ProjectFileReader::IdInUse(QUuid const& id) const
{
    if (mReadIds.contains(id) || mProject.FindItemById(id) || mProject.SourceTimelines().contains(id) ||
        mProject.Timelines().contains(id))
    {
        return true;
    }
    // A source given up while its parse ran may still be answered for under
    // its id: a new source under that id would be finished by that answer.
    return mProject.ParseQueue().WasAbandoned(id);
}

void ProjectFileReader::ReadFolders(QJsonDocument const& document)
{
    QJsonArray const folders = document.object().value(QStringLiteral("folders")).toArray();
    for (QJsonValue const& value : folders)
    {
        if (value.isArray())
        {
            QJsonArray const flags = value.toArray();
            QList<FolderItem*> const topLevel = mProject.TopLevelFolders();
            for (int i = 0; i < flags.size() && i < topLevel.size(); ++i)
            {
                if (flags.at(i).isBool())
                {
                    topLevel.at(i)->SetExpanded(flags.at(i).toBool());
                }
            }
            continue;
        }
        if (!value.isObject())
        {
            continue;
        }
        QJsonObject const object = value.toObject();
        QUuid const id = Format::ReadId(object, QStringLiteral("_id"));
        if (id.isNull())
        {
            continue;
        }
        if (IdInUse(id))
        {
            Logger::GetInstance()->Warning(QStringLiteral("ID already exists in project... Skipping."));
            continue;
        }
        mReadIds.insert(id);
        FolderItem* folder = mProject.AddFolder(object.value(QStringLiteral("name")).toString(),
                                                Format::ReadId(object, QStringLiteral("parent_id")), false);
        folder->SetId(id);
        folder->SetExpanded(object.value(QStringLiteral("expanded")).toBool(false));
    }
}

bool ProjectFileReader::ReadPlace(QJsonObject const& object, QUuid& id, QUuid& parentId) const
{
    id = Format::ReadId(object, QStringLiteral("_id"));
    if (!id.isNull() && IdInUse(id))
    {
        Logger::GetInstance()->Warning(QStringLiteral("ID already exists in project... Skipping."));
        return false;
    }
    parentId = Format::ReadId(object, QStringLiteral("parent_id"));
    if (object.value(QStringLiteral("parent_is_proj")).toBool(false) && mProject.ProjectFolder())
    {
        parentId = mProject.ProjectFolder()->Id();
    }
    return true;
}

void ProjectFileReader::ReadSources(QJsonDocument const& document)
{
    QJsonArray const sources = document.object().value(QStringLiteral("sources")).toArray();
    QList<ParseSourceData> records;
    for (QJsonValue const& value : sources)
    {
        if (!value.isObject())
        {
            continue;
        }
        QJsonObject const object = value.toObject();
        ParseSourceData data;
        // A repeated id would put two parses under one id: the second is skipped.
        if (!ReadPlace(object, data.id, data.parentId))
        {
            continue;
        }
        data.index = Format::ReadFrame(object, QStringLiteral("index"), -1);
        data.name = object.value(QStringLiteral("name")).toString();
        data.path = object.value(QStringLiteral("path")).toString();
        data.relativePath = object.value(QStringLiteral("relative_path")).toString();
        data.playbackFrame = std::max(Format::ReadFrame(object, QStringLiteral("playback_frame"), 0), 0);
        data.cutInFrame = std::max(Format::ReadFrame(object, QStringLiteral("cut_in_frame"), 0), 0);
        // No cut out stored: to the end, like the -1 a save writes for it.
        data.cutOutFrame = std::max(Format::ReadFrame(object, QStringLiteral("cut_out_frame"), -1), -1);
        double const delay = Format::ReadFinite(object, QStringLiteral("audio_delay"), 0.0);
        data.audioDelay = std::abs(delay) < 9.0e15 ? static_cast<qint64>(delay) : 0;
        data.viewerIndex = Format::ReadFrame(object, QStringLiteral("output_id"), 0);
        data.panX = Format::ReadFinite(object, QStringLiteral("pan_interp_x"), 0.0);
        data.panY = Format::ReadFinite(object, QStringLiteral("pan_interp_y"), 0.0);
        data.zoom = Format::ReadFiniteFloat(object, QStringLiteral("zoom"), 1.0f);
        data.panZoomEnabled =
            Settings::restorePanZoomOnProjectLoad && object.value(QStringLiteral("pan_zoom_enabled")).toBool(false);
        data.holdAnnotations = Settings::restoreHoldAnnotationsOnProjectLoad &&
                               object.value(QStringLiteral("hold_annotations")).toBool(false);
        data.expandParent = false;
        data.addToDefaultTimeline = false;
        QList<RangeBookmark> ranges;
        ReadLimitedRangeBookmarks(object, data.path, Format::MINIMUM_RANGE_BOOKMARK_LIMIT, ranges);
        for (RangeBookmark const& range : std::as_const(ranges))
        {
            data.rangeBookmarks.append({range.startFrame, range.endFrame});
        }
        if (data.path.isEmpty())
        {
            continue;
        }
        mProject.AddSourceTimeline(data);
        mReadIds.insert(data.id);
        records.append(data);
    }
    mProject.ParseQueue().ParseAdded();
    // Each viewer slot shows the last source that names it: only that one is
    // opened, once, however many sources name the slot (a file without slots
    // names slot 0 for every source).
    QMap<int, QUuid> shown;
    for (ParseSourceData const& data : std::as_const(records))
    {
        if (data.viewerIndex >= 0 && mProject.SourceTimelines().contains(data.id))
        {
            shown.insert(data.viewerIndex, data.id);
        }
    }
    for (auto it = shown.cbegin(); it != shown.cend(); ++it)
    {
        emit mProject.OpenInViewerRequested(it.value(), it.key(), false);
    }
}

void ProjectFileReader::ReadTimelines(QJsonDocument const& document)
{
    QJsonArray const timelines = document.object().value(QStringLiteral("timelines")).toArray();
    // As for the sources: each viewer slot opens only the last timeline that names it.
    QMap<int, QUuid> shown;
    for (QJsonValue const& value : timelines)
    {
        if (!value.isObject())
        {
            continue;
        }
        QJsonObject const object = value.toObject();
        QUuid id;
        QUuid parentId;
        if (!ReadPlace(object, id, parentId))
        {
            continue;
        }
        TimelineItem* item = mProject.AddTimeline(object.value(QStringLiteral("name")).toString(), parentId, false, id,
                                                  Format::ReadFrame(object, QStringLiteral("index"), -1));
        mReadIds.insert(item->Id());
        Timeline* timeline = item->TimelinePtr();
        ReadTracks(object.value(QStringLiteral("tracks")).toArray(), timeline);
        timeline->SetAudioOverrideTimelineId(Format::ReadId(object, QStringLiteral("audio_override")));
        int const output = Format::ReadFrame(object, QStringLiteral("output_id"), 0);
        if (output >= 0)
        {
            shown.insert(output, item->Id());
        }
        if (object.value(QStringLiteral("is_default")).toBool(false))
        {
            mProject.SetDefaultTimeline(item->Id());
        }
        timeline->SetUseSourceInOutsEnabled(object.value(QStringLiteral("use_source_in_outs")).toBool(true));
        timeline->SetUseSourceAudioDelayEnabled(object.value(QStringLiteral("use_source_audio_delay")).toBool(true));
        int const playbackFrame = std::max(Format::ReadFrame(object, QStringLiteral("playback_frame"), 0), 0);
        int const rangeStart = std::max(Format::ReadFrame(object, QStringLiteral("range_start_frame"), 0), 0);
        int const rangeEnd = std::max(Format::ReadFrame(object, QStringLiteral("range_end_frame"), -1), -1);
        timeline->SetPlaybackFrame(playbackFrame);
        timeline->SetPlaybackRangeByFrame(rangeStart, rangeEnd);
        mProject.HeldStates().HoldIfMediaMissing(item, playbackFrame, rangeStart, rangeEnd);
        timeline->SetPanAndZoom(QPointF(Format::ReadFinite(object, QStringLiteral("pan_interp_x"), 0.0),
                                        Format::ReadFinite(object, QStringLiteral("pan_interp_y"), 0.0)),
                                Format::ReadFiniteFloat(object, QStringLiteral("zoom"), 1.0f),
                                Settings::restorePanZoomOnProjectLoad &&
                                    object.value(QStringLiteral("pan_zoom_enabled")).toBool(false));
        timeline->SetHoldAnnotationFramesEnabled(Settings::restoreHoldAnnotationsOnProjectLoad &&
                                                 object.value(QStringLiteral("hold_annotations")).toBool(false));
        QList<RangeBookmark> ranges;
        qsizetype const limit = std::max<qsizetype>(timeline->FrameCount(), Format::MINIMUM_RANGE_BOOKMARK_LIMIT);
        ReadLimitedRangeBookmarks(object, item->Name(), limit, ranges);
        timeline->InsertRangeBookmarks(Format::RangePairs(ranges));
        for (PendingBookmarks pending : mProject.ParseQueue().TakePendingBookmarks(item->Id()))
        {
            if (pending.clipIndex < 0)
            {
                if (!pending.bookmarks.isEmpty())
                {
                    timeline->SetBackgroundFrameBookmark(pending.bookmarks.takeFirst());
                }
            }
            else if (Clip* clip = timeline->ClipAtIndex(pending.clipIndex))
            {
                clip->SetFrameBookmarks(pending.bookmarks);
                pending.bookmarks.clear();
            }
            qDeleteAll(pending.bookmarks);
        }
    }
    for (auto it = shown.cbegin(); it != shown.cend(); ++it)
    {
        emit mProject.OpenInViewerRequested(it.value(), it.key(), false);
    }
}

void ProjectFileReader::ReadTracks(QJsonArray const& tracks, Timeline* timeline)
{
    if (!tracks.isEmpty() && tracks.first().isObject())
    {
        ReadClips(tracks.first().toObject().value(QStringLiteral("clips")).toArray(), timeline->MasterTrack());
    }
}

void ProjectFileReader::ReadClips(QJsonArray const& clips, Track* track)
{
    for (QJsonValue const& value : clips)
    {
        if (!value.isObject())
        {
            continue;
        }
        TimelineItem* source =
            mProject.SourceTimelines().value(Format::ReadId(value.toObject(), QStringLiteral("source_id")));
        if (source && source->SourceClip())
        {
            track->InsertClipAtIndex(source->SourceClip()->Duplicate(nullptr, false), -1);
        }
    }
}

void ProjectFileReader::ReadRangeBookmarks(QJsonObject const& object, QList<RangeBookmark>& ranges)
{
    ReadRangeBookmarks(object, ranges, std::numeric_limits<qsizetype>::max());
}

qsizetype ProjectFileReader::ReadRangeBookmarks(QJsonObject const& object, QList<RangeBookmark>& ranges,
                                                qsizetype limit)
{
    QString const text = object.value(QStringLiteral("range_bookmarks")).toString();
    CommaListReader<QStringView> reader(text);
    QStringView startPart;
    QStringView endPart;
    qsizetype taken = 0;
    while (reader.Next(startPart) && reader.Next(endPart))
    {
        bool okStart = false;
        bool okEnd = false;
        int const start = startPart.toInt(&okStart, 10);
        int const end = endPart.toInt(&okEnd, 10);
        if (okStart && okEnd)
        {
            if (taken == limit)
            {
                return 1 + reader.CountRest() / 2;
            }
            ranges.append(RangeBookmark {start, end});
            ++taken;
        }
    }
    return 0;
}

void ProjectFileReader::ReadLimitedRangeBookmarks(QJsonObject const& object, QString const& owner, qsizetype limit,
                                                  QList<RangeBookmark>& ranges)
{
    qsizetype const dropped = ReadRangeBookmarks(object, ranges, limit);
    if (dropped > 0)
    {
        Logger::GetInstance()->Warning(
            QStringLiteral("%1: %2 range bookmarks past the first %3 were dropped").arg(owner).arg(dropped).arg(limit));
    }
}

void ProjectFileReader::ReadBookmarks(QJsonDocument const& document)
{
    mProject.ParseQueue().ClearPendingBookmarks();
    QJsonArray const groups = document.object().value(QStringLiteral("z_bookmarks")).toArray();
    for (QJsonValue const& value : groups)
    {
        QJsonObject const group = value.toObject();
        QUuid const parent = Format::ReadId(group, QStringLiteral("parent"));
        if (parent.isNull())
        {
            continue;
        }
        PendingBookmarks pending;
        pending.clipIndex = Format::ReadFrame(group, QStringLiteral("clip_index"), 0);
        for (QJsonValue const& frameValue : group.value(QStringLiteral("frame_data")).toArray())
        {
            QJsonObject const frame = frameValue.toObject();
            int const number = Format::ReadFrame(frame, QStringLiteral("frame"), -1);
            if (number < 0)
            {
                continue;
            }
            auto* bookmark = new FrameBookmark(number);
            for (QJsonValue const& strokeValue : frame.value(QStringLiteral("strokes")).toArray())
            {
                StrokeData stroke;
                if (StrokeDataCodec::ReadStroke(strokeValue.toObject(), stroke))
                {
                    bookmark->strokes.append(stroke);
                }
            }
            pending.bookmarks.append(bookmark);
            if (pending.clipIndex < 0)
            {
                break;
            }
        }
        pending.bookmarks = SortedUniqueBookmarks(pending.bookmarks);
        mProject.ParseQueue().AddPendingBookmarks(parent, pending);
    }
}
