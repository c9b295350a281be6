#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QUuid>

class Clip;
class FolderItem;
class FrameBookmark;
class Project;
class QJsonArray;
class QJsonObject;
class Timeline;
class TimelineItem;
class Track;
struct RangeBookmark;

// Writes a project as the JSON document of a project file: its settings, the
// folders, the sources and edit timelines in tree order, and the annotated
// frames of each. Reads the project only; main thread.
class ProjectFileWriter
{
public:
    // Writes the whole project to Settings::projectPath, atomically: the old
    // file stays whole unless the new one was written completely. Relative
    // paths are written against the folder that holds the file.
    static bool Save(Project& project);

    explicit ProjectFileWriter(Project const& project);

    void Write(QJsonObject& root) const;

private:
    void WriteMeta(QJsonObject& root) const;
    void WriteProjectSettings(QJsonObject& root) const;
    void WriteViewer(QJsonObject& root) const;
    void WriteFolders(QJsonObject& root) const;
    void WriteFolders(QJsonArray& folders, FolderItem* folder, QUuid const& rootId) const;
    void WriteFolder(QJsonArray& folders, FolderItem* folder, QUuid const& rootId) const;
    void WriteSources(QJsonObject& root, QJsonArray& bookmarks) const;
    void WriteTimelines(QJsonObject& root, QJsonArray& bookmarks) const;
    void WriteTrack(QJsonArray& tracks, Track* track, QJsonArray& bookmarks, QString const& parentId) const;
    void WriteClip(QJsonArray& clips, Clip* clip, QJsonArray& bookmarks, QString const& parentId, int index) const;
    void WriteRangeBookmarks(QJsonObject& object, QList<RangeBookmark*> const& ranges) const;
    void WriteTimelineBackgroundBookmark(Timeline* timeline, QJsonArray& bookmarks, QString const& parentId) const;
    void WriteBookmarksArray(Clip* clip, QJsonArray& bookmarks, QString const& parentId, int clipIndex) const;
    void WriteBookmarkObject(QJsonObject& object, FrameBookmark* bookmark) const;
    // The items of one map grouped by parent folder: the top-level folders'
    // groups first, then the others' in ascending id order; the items of a
    // group in their folder's order.
    QList<TimelineItem*> ItemsInSaveOrder(QMap<QUuid, TimelineItem*> const& items) const;

    Project const& mProject;
};
