#pragma once

#include "media/FileIdentity.h"
#include "media/ProcessIdentity.h"

#include <QList>
#include <QString>
#include <QStringList>

// What an export did at its output, written down before each step, so that
// what a killed export left can be undone at the next start: which of the
// user's files it set aside and where they may be kept, and which files it
// put in place, by their identity. Lives in the export's temporary folder and
// goes with it; one line per step, appended in one write.
class ExportJournal
{
public:
    enum class Kind
    {
        SetAside, // a file at `path` (of `identity`) is moved to one of `keptPaths`
        Move,     // a rendered file is about to be moved to `path`
        Placed    // the file of `identity` is about to be renamed to `path`
    };

    struct Entry
    {
        Kind kind = Kind::Move;
        QString path;
        FileIdentity identity;
        QStringList keptPaths;
    };

    struct Contents
    {
        ProcessIdentity owner;
        QString exportName;
        QString tempDirPath;
        QString lockPath;
        QList<Entry> entries;
    };

    // The journal of the export `exportName` in its temporary folder.
    static QString PathFor(QString const& tempDirPath, QString const& exportName);
    // Reads a journal; false when it cannot be read or names no owner.
    static bool Read(QString const& path, Contents& contents);

    explicit ExportJournal(QString const& path);
    ~ExportJournal();
    ExportJournal(ExportJournal const&) = delete;
    ExportJournal& operator=(ExportJournal const&) = delete;

    // Opens the journal, naming this process as its owner; false when it
    // cannot be written (then no step may be taken that it should record).
    bool Begin(QString const& exportName, QString const& tempDirPath, QString const& lockPath);
    bool RecordSetAside(QString const& path, FileIdentity const& identity, QStringList const& keptPaths);
    bool RecordMove(QString const& path);
    bool RecordPlaced(QString const& path, FileIdentity const& identity);

private:
    bool Append(QList<QByteArray> const& fields);

    QString mPath;
    int mFd = -1;
};
