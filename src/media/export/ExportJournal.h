#pragma once

#include "media/export/FileIdentity.h"
#include "media/export/ProcessIdentity.h"

#include <QList>
#include <QString>

// What an export did at its output, written down before each step, so that
// what a killed export left can be undone at the next start: which of the
// user's files it set aside, and which files it put in place, by their
// identity. Where a file set aside is kept and which temporary folder is the
// export's follow from where the journal lies, never from what it says. Lives in the export's temporary folder and
// goes with it; one line per step, appended in one write. It is begun when
// the export's temporary folder is made, so that an export killed before any
// step still tells the next start whose folder and lock it left.
class ExportJournal
{
public:
    // The most a journal may hold: each step takes a line of a few hundred
    // bytes, so this is room for some hundred thousand pictures. A journal
    // is read whole at the next start; a larger one is not an export's and
    // is neither written nor read.
    static constexpr qint64 MAXIMUM_SIZE = 64LL * 1024 * 1024;

    enum class Kind
    {
        SetAside, // a file at `path` (of `identity`) is moved to where the export keeps it
        Move,     // a rendered file is about to be moved to `path`
        Placed    // the file of `identity` is about to be renamed to `path`
    };

    struct Entry
    {
        Kind kind = Kind::Move;
        QString path;
        FileIdentity identity;
    };

    struct Contents
    {
        ProcessIdentity owner;
        QString exportName;
        QString lockPath;
        QList<Entry> entries;
    };

    // The journal of the export `exportName` in its temporary folder.
    static QString PathFor(QString const& tempDirPath, QString const& exportName);
    // Reads a journal; false when it cannot be read or names no owner, with
    // `reason`, when given, saying why.
    static bool Read(QString const& path, Contents& contents, QString* reason = nullptr);

    explicit ExportJournal(QString const& path);
    ~ExportJournal();
    ExportJournal(ExportJournal const&) = delete;
    ExportJournal& operator=(ExportJournal const&) = delete;

    // Opens the journal, naming this process as its owner; false when it
    // cannot be written (then no step may be taken that it should record).
    bool Begin(QString const& exportName, QString const& lockPath);
    bool RecordSetAside(QString const& path, FileIdentity const& identity);
    bool RecordMove(QString const& path);
    bool RecordPlaced(QString const& path, FileIdentity const& identity);

private:
    // Appends one line, when it and `reserve` bytes more fit under the cap.
    bool Append(QList<QByteArray> const& fields, qint64 reserve = 0);

    QString mPath;
    int mFd = -1;
    qint64 mSize = 0; // bytes written so far
};
