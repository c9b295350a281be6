#pragma once

#include <QList>
#include <QString>

class Project;
class QSettings;

// Reads the older bookmark file (an INI file naming one media file, its
// bookmarked frames and ranges counted from 1) into the project as one
// source. Main thread.
class LegacyYarvReader
{
public:
    explicit LegacyYarvReader(Project& project);

    // Reads the file at the path once; QSettings parses the bytes read.
    bool Import(QString const& path);
    // The file as QSettings parsed it, group "main".
    bool Read(QSettings& file);

    static QList<int> StringToFrames(QString const& text);
    static QList<int> StringListToRanges(QList<QString> const& list);

private:
    Project& mProject;
};
