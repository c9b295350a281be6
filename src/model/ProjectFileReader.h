#pragma once

#include "model/RangeBookmark.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

class Project;
class QJsonArray;
class QJsonDocument;
class QJsonObject;
class Timeline;
class Track;

// Reads a project file's JSON document as the project itself (open) or into
// it (import): settings, folders, sources (parsed before it goes on), edit
// timelines and the annotated frames that wait for them. A file is untrusted:
// ids it repeats and values it garbles are skipped. Main thread.
class ProjectFileReader
{
public:
    explicit ProjectFileReader(Project& project);

    bool Read(QJsonDocument const& document, QString const& path, bool open);
    static void ReadRangeBookmarks(QJsonObject const& object, QList<RangeBookmark>& ranges);
    // Up to limit ranges appended, read one entry at a time; returns how many
    // the text held past them.
    static qsizetype ReadRangeBookmarks(QJsonObject const& object, QList<RangeBookmark>& ranges, qsizetype limit);

private:
    void ReadProjectSettings(QJsonDocument const& document);
    void ReadViewer(QJsonDocument const& document);
    void ReadFolders(QJsonDocument const& document);
    void ReadSources(QJsonDocument const& document);
    void ReadTimelines(QJsonDocument const& document);
    void ReadTracks(QJsonArray const& tracks, Timeline* timeline);
    void ReadClips(QJsonArray const& clips, Track* track);
    void ReadBookmarks(QJsonDocument const& document);
    // The ranges of a source or timeline, with a warning for those dropped.
    static void ReadLimitedRangeBookmarks(QJsonObject const& object, QString const& owner, qsizetype limit,
                                          QList<RangeBookmark>& ranges);
    // An id that a file names again, or that the project already holds.
    bool IdInUse(QUuid const& id) const;
    // The id and parent folder of a saved source or timeline; false, with a
    // warning, when its id is already in use (the item is skipped).
    bool ReadPlace(QJsonObject const& object, QUuid& id, QUuid& parentId) const;

    Project& mProject;
    // Ids the file has named so far.
    QSet<QUuid> mReadIds;
};
