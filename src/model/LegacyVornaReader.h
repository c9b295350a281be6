#pragma once

#include "model/RangeBookmark.h"

#include <QList>
#include <QString>

class FrameBookmark;
class Project;
class QJsonDocument;
class QJsonObject;

// Reads a project file of the older JSON format (frames counted from 1, its
// own stroke kinds, items placed by index after all are read) as the project
// itself (open) or into it; the project path stays as it is. Main thread.
class LegacyVornaReader
{
public:
    explicit LegacyVornaReader(Project& project);

    bool Read(QJsonDocument const& document, QString const& path, bool open);

private:
    void ReadProjectSettings(QJsonDocument const& document);
    void ReadViewer(QJsonDocument const& document);
    void ReadFolders(QJsonDocument const& document, QList<QJsonObject>& objects);
    void ReadSources(QJsonDocument const& document, QList<QJsonObject>& objects, bool open);
    void ReadTimelines(QJsonDocument const& document, QList<QJsonObject>& objects, bool open);
    void UpdateParents(QList<QJsonObject>& objects);
    static void ReadFrameBookmarks(QJsonObject const& object, QList<FrameBookmark*>& bookmarks);
    static void ReadRangeBookmarks(QJsonObject const& object, QList<RangeBookmark>& ranges);

    Project& mProject;
};
