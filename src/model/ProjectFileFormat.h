#pragma once

#include "model/ProjectFileStamp.h"
#include "model/RangeBookmark.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUuid>

// What the project file formats share: the format names, reading a file's
// bytes once and checking its "_meta", and the readers of single values that
// treat every file as untrusted (an absent or malformed value gives the
// default).
class ProjectFileFormat
{
public:
    ProjectFileFormat() = delete;

    static QString const FORMAT_NAME;
    static int const FORMAT_VERSION;
    static QString const LEGACY_VORNA_FORMAT_NAME;
    // The range bookmarks a file may give one timeline: one per frame, and
    // at least this many (a source's ranges are read before its frames are
    // known, and a timeline without media keeps what its file held).
    static constexpr int MINIMUM_RANGE_BOOKMARK_LIMIT = 100000;

    static QStringList AcceptedFormats();
    static QString IdString(QUuid const& id);

    // The file's bytes, read once: only a regular file of a bounded size, to
    // its end but never past the cap. A FIFO would block the open for good, a
    // device, a /proc file or a huge file read on until memory or patience
    // runs out.
    static bool ReadBytes(QString const& path, QByteArray& bytes, QDateTime& modified);
    // True, with the error logged, when nothing is at the path.
    static bool ReportMissing(QString const& path);
    // The "_meta" of a document names one of the accepted formats, and its
    // folders nest no deeper than the project allows.
    static bool ReadMeta(QJsonDocument const& document, QString const& path, QStringList const& accepted,
                         QString& format, int& version);
    // See Project::IsAcceptedProjectFile.
    static bool IsAcceptedFile(QString const& path, QJsonDocument& document, QByteArray& bytes,
                               ProjectFileStamp& stamp);

    static QUuid ReadId(QJsonObject const& object, QString const& key);
    // A 32-bit frame number: absent, fractional or out-of-range values give
    // the default.
    static int ReadFrame(QJsonObject const& object, QString const& key, int fallback);
    static double ReadFinite(QJsonObject const& object, QString const& key, double fallback);
    // A float: a number a float cannot hold gives the default.
    static float ReadFiniteFloat(QJsonObject const& object, QString const& key, float fallback);
    static QList<QPair<int, int>> RangePairs(QList<RangeBookmark> const& ranges);
    // A frame counted from 1 as one counted from 0, without wrapping below
    // the smallest frame.
    static int FromOneBased(int frame);
};
