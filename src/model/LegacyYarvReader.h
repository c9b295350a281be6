#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

class BookmarkFileLists;
class Project;
class QSettings;
class Timeline;

// Reads the older bookmark file (an INI file naming one media file, its
// bookmarked frames and ranges counted from 1) into the project as one
// source. Main thread.
class LegacyYarvReader
{
public:
    explicit LegacyYarvReader(Project& project);

    // The bytes of a file, read once; QSettings parses a private copy made
    // in the temporary folder.
    bool ReadBytes(QByteArray const& bytes);

    static QList<int> StringToFrames(QString const& text);
    static QList<int> StringListToRanges(QList<QString> const& list);

private:
    // The file as QSettings parsed it, group "main", with the lists taken out.
    bool Read(QSettings& file, BookmarkFileLists const& lists);
    // One bookmark per entry, up to as many as the clip has frames; a warning
    // says how many entries past them were dropped.
    static void InsertFrames(Timeline* timeline, QByteArrayView text, QString const& mediaPath);
    static void InsertRanges(Timeline* timeline, QByteArrayView text, QString const& mediaPath);

    Project& mProject;
};
