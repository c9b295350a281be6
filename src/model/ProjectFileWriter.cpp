#include "model/ProjectFileWriter.h"

#include "app/FileHelpers.h"
#include "app/FileWrite.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "model/Clip.h"
#include "model/ClipType.h"
#include "model/FrameBookmark.h"
#include "model/Project.h"
#include "model/ProjectFileFormat.h"
#include "model/RangeBookmark.h"
#include "model/Source.h"
#include "model/StrokeData.h"
#include "model/StrokeDataCodec.h"
#include "model/Timeline.h"
#include "model/Track.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPair>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>

namespace
{
using Format = ProjectFileFormat;

// Where a saved item stands: no parent_id in its own kind's folder (`home`),
// "parent_is_proj" in the project folder, and its index in the parent.
void WritePlace(QJsonObject& object, QUuid const& parentId, FolderItem const* home, FolderItem const* projectFolder,
                int index)
{
    bool const inHome = home && parentId == home->Id();
    bool const inProject = projectFolder && parentId == projectFolder->Id();
    if (!inHome && !inProject)
    {
        object.insert(QStringLiteral("parent_id"), Format::IdString(parentId));
    }
    if (inProject)
    {
        object.insert(QStringLiteral("parent_is_proj"), true);
    }
    object.insert(QStringLiteral("index"), index);
}

// The viewer state a source and an edited timeline both keep.
void WriteViewState(QJsonObject& object, Timeline* timeline)
{
    object.insert(QStringLiteral("output_id"), timeline->OutputId());
    object.insert(QStringLiteral("pan_interp_x"), timeline->PanInterpolation().x());
    object.insert(QStringLiteral("pan_interp_y"), timeline->PanInterpolation().y());
    object.insert(QStringLiteral("zoom"), static_cast<double>(timeline->ZoomFactor()));
    object.insert(QStringLiteral("pan_zoom_enabled"), timeline->IsPanAndZoomEnabled());
    object.insert(QStringLiteral("hold_annotations"), timeline->HoldAnnotationFramesEnabled());
}

QString RangeBookmarksText(QList<RangeBookmark*> const& ranges)
{
    QStringList parts;
    for (RangeBookmark const* range : ranges)
    {
        parts.append(QStringLiteral("%1,%2").arg(range->startFrame).arg(range->endFrame));
    }
    return parts.join(QLatin1Char(','));
}

// The positions of the items of the folders a save asks about, each folder's
// children counted once (asking the folder item by item walks its children
// for every item).
class FolderPositions
{
public:
    // The position among the folder's children; -1 when not a child.
    int Position(FolderItem const* folder, ProjectItem const* item)
    {
        return Counted(folder).value(item, {-1, -1}).first;
    }

    // The position counted without edit timelines, as a source is saved.
    int SavePosition(FolderItem const* folder, ProjectItem const* item)
    {
        return Counted(folder).value(item, {-1, -1}).second;
    }

private:
    QHash<ProjectItem const*, QPair<int, int>> const& Counted(FolderItem const* folder)
    {
        auto it = mFolders.find(folder);
        if (it == mFolders.end())
        {
            it = mFolders.insert(folder, {});
            if (folder)
            {
                QList<ProjectItem*> const children = folder->ChildItems();
                int editTimelines = 0;
                for (int i = 0; i < children.size(); ++i)
                {
                    if (!it->contains(children.at(i)))
                    {
                        it->insert(children.at(i), {i, i - editTimelines});
                    }
                    if (children.at(i)->ItemType() == ProjectItemType::Timeline)
                    {
                        ++editTimelines;
                    }
                }
            }
        }
        return *it;
    }

    QHash<FolderItem const*, QHash<ProjectItem const*, QPair<int, int>>> mFolders;
};

} // namespace

ProjectFileWriter::ProjectFileWriter(Project const& project)
    : mProject(project)
{
}

bool ProjectFileWriter::Save(Project& project)
{
    if (Settings::projectPath.isEmpty())
    {
        return false;
    }
    QFileInfo const info(Settings::projectPath);
    QString const dirPath = info.absolutePath();
    errno = 0;
    if (!QDir(dirPath).exists() && !QDir().mkpath(dirPath))
    {
        // The errno of the folder that could not be made: QDir keeps none.
        int const errorNumber = errno;
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to create project directory: %1 (%2)")
                .arg(dirPath, errorNumber != 0 ? qt_error_string(errorNumber) : QStringLiteral("no reason given")));
        return false;
    }
    // Relative paths are written against the folder that now holds the file.
    project.UpdateSourceRelativePaths();
    QSaveFile file(info.absoluteFilePath());
    if (!file.open(QIODevice::WriteOnly))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to open project file for write: %1 (%2)")
                                         .arg(Settings::projectPath, FileWrite::Reason(file)));
        return false;
    }
    QJsonObject root;
    ProjectFileWriter(project).Write(root);
    QByteArray const bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    // The old file is replaced only by a complete new one.
    QString reason;
    bool const complete = FileWrite::WriteAll(file, bytes, reason);
    if (!complete || !file.commit())
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to write project file: %1 (%2)")
                                         .arg(Settings::projectPath, complete ? FileWrite::Reason(file) : reason));
        file.cancelWriting();
        return false;
    }
    // The stamp of what was written, not of what the path holds a moment
    // later: a change made in between is someone else's.
    QString const written = info.absoluteFilePath();
    project.SetFileStamp(ProjectFileStamp::OfBytes(written, bytes, QFileInfo(written).lastModified()));
    for (TimelineItem* item : project.SourceTimelines())
    {
        if (item->TimelinePtr() && item->SourcePtr() && !HeldTimelineStates::HasMedia(item->SourcePtr()))
        {
            Logger::GetInstance()->Warning(
                QStringLiteral("Saved without its media, as it was read: %1").arg(item->SourcePtr()->MediaPath()));
        }
    }
    return true;
}

void ProjectFileWriter::Write(QJsonObject& root) const
{
    WriteMeta(root);
    WriteProjectSettings(root);
    WriteViewer(root);
    WriteFolders(root);
    QJsonArray bookmarks;
    WriteSources(root, bookmarks);
    WriteTimelines(root, bookmarks);
    root.insert(QStringLiteral("z_bookmarks"), bookmarks);
}

void ProjectFileWriter::WriteMeta(QJsonObject& root) const
{
    root.insert(QStringLiteral("_meta"), QJsonObject {{QStringLiteral("format"), Format::FORMAT_NAME},
                                                      {QStringLiteral("version"), Format::FORMAT_VERSION}});
}

void ProjectFileWriter::WriteProjectSettings(QJsonObject& root) const
{
    root.insert(QStringLiteral("_project"),
                QJsonObject {{QStringLiteral("source_root_dir"), FileHelpers::SourceRootDirPath()},
                             {QStringLiteral("image_seq_frame_rate"), Settings::imageSequenceFrameRate},
                             {QStringLiteral("time_control_frame_offset"), Settings::timeControlFrameOffset},
                             {QStringLiteral("notes"), mProject.Notes()}});
}

void ProjectFileWriter::WriteViewer(QJsonObject& root) const
{
    root.insert(QStringLiteral("viewer"), QJsonObject {{QStringLiteral("layout"), Settings::currentViewerLayout}});
}

void ProjectFileWriter::WriteFolders(QJsonObject& root) const
{
    FolderItem* projectFolder = mProject.ProjectFolder();
    if (!projectFolder)
    {
        return;
    }
    QJsonArray folders;
    QJsonArray expanded;
    for (FolderItem const* folder :
         {mProject.ProjectFolder(), mProject.SourceTimelineFolder(), mProject.TimelineFolder()})
    {
        expanded.append(folder && folder->IsExpanded());
    }
    folders.append(expanded);
    WriteFolders(folders, projectFolder, projectFolder->Id());
    root.insert(QStringLiteral("folders"), folders);
}

void ProjectFileWriter::WriteFolders(QJsonArray& folders, FolderItem* folder, QUuid const& rootId) const
{
    WriteFolder(folders, folder, rootId);
    QList<FolderItem*> below;
    mProject.ChildFolders(folder, below);
    for (FolderItem* child : std::as_const(below))
    {
        WriteFolder(folders, child, rootId);
    }
}

void ProjectFileWriter::WriteFolder(QJsonArray& folders, FolderItem* folder, QUuid const& rootId) const
{
    if (folder->Id() == rootId)
    {
        return;
    }
    QJsonObject object;
    object.insert(QStringLiteral("_id"), Format::IdString(folder->Id()));
    if (folder->ParentId() != rootId)
    {
        object.insert(QStringLiteral("parent_id"), Format::IdString(folder->ParentId()));
    }
    object.insert(QStringLiteral("name"), folder->Name());
    if (folder->IsExpanded())
    {
        object.insert(QStringLiteral("expanded"), true);
    }
    folders.append(object);
}

QList<TimelineItem*> ProjectFileWriter::ItemsInSaveOrder(QMap<QUuid, TimelineItem*> const& items) const
{
    // Grouped by parent folder. The groups of the top-level folders come
    // first, in their order: their ids are made anew in every session and
    // never written, and an order by them would change from one save of the
    // same project to the next. The groups of the other folders follow in
    // ascending id order. Inside a group the items follow their position in
    // the folder; items without one keep the map's order.
    QList<QUuid> topLevel;
    mProject.TopLevelFolderIds(topLevel);
    FolderPositions positions;
    struct Entry
    {
        int topLevelRank; // the other folders' groups: past every top-level one
        QUuid parent;
        int position;
        TimelineItem* item;
    };
    QList<Entry> entries;
    entries.reserve(items.size());
    for (TimelineItem* item : items)
    {
        QUuid const parentId = item->ParentId();
        FolderItem const* parent = mProject.FindFolderById(parentId);
        qsizetype const rank = topLevel.indexOf(parentId);
        entries.append({rank < 0 ? static_cast<int>(topLevel.size()) : static_cast<int>(rank), parentId,
                        parent ? positions.Position(parent, item) : -1, item});
    }
    std::stable_sort(entries.begin(), entries.end(), [](Entry const& a, Entry const& b) {
        if (a.topLevelRank != b.topLevelRank)
        {
            return a.topLevelRank < b.topLevelRank;
        }
        return a.parent != b.parent ? a.parent < b.parent : a.position < b.position;
    });
    QList<TimelineItem*> ordered;
    ordered.reserve(entries.size());
    for (Entry const& entry : std::as_const(entries))
    {
        ordered.append(entry.item);
    }
    return ordered;
}

void ProjectFileWriter::WriteSources(QJsonObject& root, QJsonArray& bookmarks) const
{
    QJsonArray sources;
    FolderItem const* sourcesFolder = mProject.SourceTimelineFolder();
    FolderItem const* projectFolder = mProject.ProjectFolder();
    FolderPositions positions;
    for (TimelineItem* item : ItemsInSaveOrder(mProject.SourceTimelines()))
    {
        Timeline* timeline = item->TimelinePtr();
        Source* source = item->SourcePtr();
        if (!timeline || !source)
        {
            continue;
        }
        QJsonObject object;
        object.insert(QStringLiteral("_id"), Format::IdString(source->Id()));
        FolderItem* parent = mProject.FindFolderById(item->ParentId());
        WritePlace(object, item->ParentId(), sourcesFolder, projectFolder,
                   parent ? positions.SavePosition(parent, item) : -1);
        object.insert(QStringLiteral("name"), item->Name());
        object.insert(QStringLiteral("path"), source->MediaPath());
        object.insert(QStringLiteral("relative_path"), source->RelativeMediaPath());
        int playbackFrame = 0;
        int cutIn = 0;
        int cutOut = -1;
        mProject.HeldStates().SavedFrameState(item, playbackFrame, cutIn, cutOut);
        object.insert(QStringLiteral("playback_frame"), playbackFrame);
        object.insert(QStringLiteral("cut_in_frame"), cutIn);
        object.insert(QStringLiteral("cut_out_frame"), cutOut);
        object.insert(QStringLiteral("audio_delay"), timeline->AudioDelay());
        WriteViewState(object, timeline);
        WriteRangeBookmarks(object, timeline->RangeBookmarkList());
        sources.append(object);
        QString const parentId = Format::IdString(source->Id());
        WriteTimelineBackgroundBookmark(timeline, bookmarks, parentId);
        WriteBookmarksArray(item->SourceClip(), bookmarks, parentId, 0);
    }
    root.insert(QStringLiteral("sources"), sources);
}

void ProjectFileWriter::WriteTimelines(QJsonObject& root, QJsonArray& bookmarks) const
{
    QJsonArray timelines;
    FolderItem const* timelinesFolder = mProject.TimelineFolder();
    FolderItem const* projectFolder = mProject.ProjectFolder();
    FolderPositions positions;
    for (TimelineItem* item : ItemsInSaveOrder(mProject.Timelines()))
    {
        Timeline* timeline = item->TimelinePtr();
        if (!timeline)
        {
            continue;
        }
        QJsonObject object;
        object.insert(QStringLiteral("_id"), Format::IdString(item->Id()));
        FolderItem* parent = mProject.FindFolderById(item->ParentId());
        WritePlace(object, item->ParentId(), timelinesFolder, projectFolder,
                   parent ? positions.Position(parent, item) : -1);
        if (item->Id() == mProject.DefaultTimelineId())
        {
            object.insert(QStringLiteral("is_default"), true);
        }
        object.insert(QStringLiteral("name"), item->Name());
        int playbackFrame = 0;
        int rangeStart = 0;
        int rangeEnd = -1;
        mProject.HeldStates().SavedFrameState(item, playbackFrame, rangeStart, rangeEnd);
        object.insert(QStringLiteral("playback_frame"), playbackFrame);
        object.insert(QStringLiteral("range_start_frame"), rangeStart);
        object.insert(QStringLiteral("range_end_frame"), rangeEnd);
        object.insert(QStringLiteral("audio_override"), Format::IdString(timeline->AudioOverrideTimelineId()));
        WriteViewState(object, timeline);
        object.insert(QStringLiteral("use_source_in_outs"), timeline->IsUseSourceInOutsEnabled());
        object.insert(QStringLiteral("use_source_audio_delay"), timeline->IsUseSourceAudioDelayEnabled());
        QString const parentId = Format::IdString(item->Id());
        WriteTimelineBackgroundBookmark(timeline, bookmarks, parentId);
        QJsonArray tracks;
        WriteTrack(tracks, timeline->MasterTrack(), bookmarks, parentId);
        object.insert(QStringLiteral("tracks"), tracks);
        WriteRangeBookmarks(object, timeline->RangeBookmarkList());
        timelines.append(object);
    }
    root.insert(QStringLiteral("timelines"), timelines);
}

void ProjectFileWriter::WriteTrack(QJsonArray& tracks, Track* track, QJsonArray& bookmarks,
                                   QString const& parentId) const
{
    QJsonArray clips;
    if (track)
    {
        for (int i = 0; i < track->ClipCount(); ++i)
        {
            WriteClip(clips, track->ClipAtIndex(i), bookmarks, parentId, i);
        }
    }
    tracks.append(QJsonObject {{QStringLiteral("clips"), clips}});
}

void ProjectFileWriter::WriteClip(QJsonArray& clips, Clip* clip, QJsonArray& bookmarks, QString const& parentId,
                                  int index) const
{
    QJsonObject object;
    if (clip && clip->Type() == ClipType::Media && clip->SourcePtr())
    {
        object.insert(QStringLiteral("source_id"), Format::IdString(clip->SourcePtr()->Id()));
    }
    clips.append(object);
    WriteBookmarksArray(clip, bookmarks, parentId, index);
}

void ProjectFileWriter::WriteRangeBookmarks(QJsonObject& object, QList<RangeBookmark*> const& ranges) const
{
    if (!ranges.isEmpty())
    {
        object.insert(QStringLiteral("range_bookmarks"), RangeBookmarksText(ranges));
    }
}

void ProjectFileWriter::WriteTimelineBackgroundBookmark(Timeline* timeline, QJsonArray& bookmarks,
                                                        QString const& parentId) const
{
    FrameBookmark* background = timeline ? timeline->BackgroundFrameBookmark() : nullptr;
    if (!background || background->strokes.isEmpty())
    {
        return;
    }
    QJsonObject frame;
    WriteBookmarkObject(frame, background);
    bookmarks.append(QJsonObject {{QStringLiteral("parent"), parentId},
                                  {QStringLiteral("clip_index"), -1},
                                  {QStringLiteral("frame_data"), QJsonArray {frame}}});
}

void ProjectFileWriter::WriteBookmarksArray(Clip* clip, QJsonArray& bookmarks, QString const& parentId,
                                            int clipIndex) const
{
    if (!clip || clip->FrameBookmarkList().isEmpty())
    {
        return;
    }
    QJsonArray frames;
    for (FrameBookmark* bookmark : clip->FrameBookmarkList())
    {
        QJsonObject frame;
        WriteBookmarkObject(frame, bookmark);
        frames.append(frame);
    }
    bookmarks.append(QJsonObject {{QStringLiteral("parent"), parentId},
                                  {QStringLiteral("clip_index"), clipIndex},
                                  {QStringLiteral("frame_data"), frames}});
}

void ProjectFileWriter::WriteBookmarkObject(QJsonObject& object, FrameBookmark* bookmark) const
{
    object.insert(QStringLiteral("frame"), bookmark->frame);
    QJsonArray strokes;
    for (StrokeData const& stroke : bookmark->strokes)
    {
        strokes.append(StrokeDataCodec::WriteStroke(stroke));
    }
    object.insert(QStringLiteral("strokes"), strokes);
}
