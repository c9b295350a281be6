// TESSARIN_TEST: own-home
#include "BenchMemory.h"
#include "support/FileSizeLimit.h"
#include "support/TestMedia.h"
#include "support/TestFiles.h"
#include "support/GrowingFile.h"
#include "support/LoggedMessages.h"
#include "support/PathFlipper.h"
#include "support/Watchdog.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "app/UserFileGuard.h"
#include "media/AvManager.h"
#include "model/Clip.h"
#include "model/FolderItem.h"
#include "model/FrameBookmark.h"
#include "model/LegacyYarvReader.h"
#include "model/Project.h"
#include "model/ProjectManager.h"
#include "model/ProjectFileFormat.h"
#include "model/ProjectFileReader.h"
#include "model/ProjectFileStamp.h"
#include "model/RangeBookmark.h"
#include "model/Source.h"
#include "model/StrokeDataCodec.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"

#include <QtTest>
#include <QRegularExpression>

#include <csignal>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>

namespace
{
QString Media(char const* name)
{
    return TestMedia::Path(QString::fromLatin1(name));
}

using TestFiles::ReadAll;

void WriteAll(QString const& path, QByteArray const& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray Json(QJsonObject const& root)
{
    return QJsonDocument(root).toJson();
}

QJsonObject Meta(QString const& format = QStringLiteral("zeph"), int version = 1)
{
    return QJsonObject {{"format", format}, {"version", version}};
}

QByteArray PathData(QPainterPath const& path)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << path;
    return bytes;
}

QJsonObject StrokeObject(QString const& points, int type = 0, QString const& color = "#ff102030")
{
    return QJsonObject {{"width", 2.5}, {"color", color}, {"type", type}, {"points", points}, {"path", ""}};
}

// Every stroke type, the text one with its text, one half transparent, with
// points that need all their digits.
QList<StrokeData> EveryStroke()
{
    QList<StrokeData> strokes;
    for (int type = 0; type <= 8; ++type)
    {
        StrokeData stroke;
        stroke.type = type;
        stroke.width = 1.5f + type;
        stroke.color = QColor(10 * type, 200, 30, type == 4 ? 128 : 255);
        stroke.points = {QPointF(0.1 + type, 1.0 / 3.0), QPointF(12.5, 3), QPointF(-7.25e-9, 1e12)};
        stroke.path.moveTo(stroke.points.at(0));
        stroke.path.cubicTo(stroke.points.at(1), stroke.points.at(2), QPointF(4, 5));
        if (type == 3)
        {
            stroke.text = QStringLiteral("fix the hand, frame 12 \u00e9");
        }
        strokes.append(stroke);
    }
    return strokes;
}

QString StrokeText(StrokeData const& stroke)
{
    QStringList points;
    for (QPointF const& point : stroke.points)
    {
        points.append(QString::number(point.x(), 'g', 17) + "," + QString::number(point.y(), 'g', 17));
    }
    return QStringLiteral("%1 %2 %3 %4 [%5] %6 elements")
        .arg(stroke.type)
        .arg(stroke.width)
        .arg(stroke.color.name(QColor::HexArgb), stroke.text, points.join(' '))
        .arg(stroke.path.elementCount());
}

// Path data as the stream writes it, from raw elements, sub-path start and
// fill rule.
QByteArray RawPath(qint32 count, QList<std::tuple<qint32, double, double>> const& elements, qint32 start = 0,
                   qint32 fillRule = 0)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << count;
    for (auto const& [type, x, y] : elements)
    {
        stream << type << x << y;
    }
    stream << start << fillRule;
    return bytes;
}

QJsonObject StrokeWithPath(QString const& base64)
{
    QJsonObject stroke = StrokeObject("1,2;");
    stroke.insert("path", base64);
    return stroke;
}

// The bytes this process has read so far (all its threads).
qint64 BytesReadSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (io.open(QIODevice::ReadOnly))
    {
        for (QByteArray const& line : io.readAll().split('\n'))
        {
            if (line.startsWith("rchar:"))
            {
                return line.mid(6).trimmed().toLongLong();
            }
        }
    }
    return -1;
}

} // namespace

class TestProjectFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void SaveOpenSaveGivesTheSameFile();
    void FolderGroupsStandInAscendingIdOrder();
    void MalformedFilesOpenWhatIsValid_data();
    void MalformedFilesOpenWhatIsValid();
    void RejectedFileIsNeverOverwritten();
    void PathsThatAreNoRegularFileAreRefusedAtOnce();
    void FilesThatReadOnWithoutEndAreRefusedAtTheCap();
    void FileGrowingWhileReadIsRefusedAtTheCap();
    void BookmarkFileFlippedToAFifoNeverBlocks();
    void FailedSaveReturnsFalse();
    void OlderFormatsImportAndSurviveASave();
    void RangeBookmarkTextAndStrokeRules();
    void MutatedFilesNeverCrashTheReader();
    void HostilePathDataIsRefused_data();
    void HostilePathDataIsRefused();
    void MutatedPathDataReadsBackExactlyOrNotAtAll();
    void ClipBookmarksStaySortedAndLayoutKnown();
    void SourceGivenUpWhileParsingKeepsItsId();
    void SaveFailingPartWayKeepsTheOldFile();
    void OlderFilesWithExtremeFramesAndUnquotedLists();
    void MissingMediaKeepsWhatTheFileHeld();
    void SourceTimedOutKeepsWhatTheFileHeld();
    void ImportAddsOnlyTheSources();
    void SaveOverAFileChangedOnDiskNeedsAYes();
    void DeepFolderTreesAreRefusedWhole();
    void ManyRangeBookmarksReadSortedOnce();
    void BookmarkFileListsReadAsQSettingsReadsThem_data();
    void BookmarkFileListsReadAsQSettingsReadsThem();
    void HugeBookmarkFileListReadInBoundedMemory();
    void HugeRangeBookmarkTextReadInBoundedMemory();

private:
    QString SavePath(QString const& name) const;

    std::unique_ptr<QTemporaryDir> mDir;
    std::unique_ptr<ProjectManager> mManager;
};

void TestProjectFile::init()
{

    mDir = std::make_unique<QTemporaryDir>();
    Settings::restorePanZoomOnProjectLoad = true;
    Settings::restoreHoldAnnotationsOnProjectLoad = true;
    mManager = std::make_unique<ProjectManager>();
    mManager->NewProject(false);
}

void TestProjectFile::cleanup()
{
    mManager->Shutdown();
    mManager.reset();
    mDir.reset();
}

QString TestProjectFile::SavePath(QString const& name) const
{
    return mDir->filePath(name);
}

void TestProjectFile::SaveOpenSaveGivesTheSameFile()
{
    ProjectManager& pm = *mManager;
    QUuid const shots = pm.DoAddFolderCmd(QStringLiteral("Shots"), QUuid(), {});
    QUuid const nested = pm.DoAddFolderCmd(QStringLiteral("Approved"), shots, {});
    pm.SetFolderExpanded(nested, true);
    QList<ParseSourceData> records;
    for (char const* name : {"h264_cfr25.mp4", "tone.wav", "numbered_av.mp4"})
    {
        ParseSourceData data;
        data.path = Media(name);
        records.append(data);
    }
    records[2].parentId = nested;
    pm.DoAddSourceTimelinesCmd(records);
    Project* project = pm.ProjectPtr();
    QList<TimelineItem*> sources;
    for (ProjectItem* child : project->SourceTimelineFolder()->ChildItems())
    {
        sources.append(static_cast<TimelineItem*>(child));
    }
    QCOMPARE(sources.size(), 2);
    TimelineItem* movie = sources.at(0);
    movie->SourcePtr()->SetCutInFrame(5);
    movie->SourcePtr()->SetCutOutFrame(80);
    movie->TimelinePtr()->SetAudioDelay(-41667);
    movie->TimelinePtr()->InsertRangeBookmark(10, 20);
    movie->TimelinePtr()->InsertRangeBookmark(35, 40);
    movie->TimelinePtr()->InsertFrameBookmark(12);
    movie->TimelinePtr()->FrameBookmarkAt(12)->strokes = EveryStroke();
    movie->TimelinePtr()->InsertFrameBookmark(30); // no strokes
    movie->TimelinePtr()->BackgroundFrameBookmark()->strokes = EveryStroke().mid(2, 3);
    movie->TimelinePtr()->SetPanAndZoom(QPointF(0.125, -0.5), 2.0f, true);
    movie->TimelinePtr()->SetPlaybackFrame(33);

    QUuid const edit = pm.DoAddTimelineCmd(QStringLiteral("Cut v2"), shots);
    Timeline* timeline = pm.FindTimelineById(edit)->TimelinePtr();
    QUuid const third = project->FindFolderById(nested)->ChildItems().first()->Id();
    pm.DoInsertClipsCmd(timeline, {movie->Id(), third, movie->Id()}, -1);
    pm.DoInsertFrameBookmarkCmd(timeline, 100);
    timeline->FrameBookmarkAt(100)->strokes = EveryStroke().mid(0, 4);
    pm.DoSetPlaybackRangeCmd(timeline, 4, 150, -1, -1);
    pm.DoToggleRangeBookmarkCmd(timeline, 7, 9);
    pm.DoSetAudioOverrideCmd(timeline, sources.at(1)->Id());
    pm.SetDefaultTimeline(edit);
    pm.DoAddTimelineCmd(QStringLiteral("Empty"), QUuid());

    QString const first = SavePath(QStringLiteral("review/day1.zeph"));
    pm.SetProjectPath(first);
    pm.DoAddFolderCmd(QStringLiteral("Dirty"), QUuid(), {});
    QVERIFY(!pm.IsUndoClean());
    QVERIFY(pm.SaveProject());
    QVERIFY(pm.IsUndoClean());
    QByteArray const saved = ReadAll(first);
    // The old project goes once the next one is open: keep ids, not pointers.
    QUuid const movieId = movie->Id();
    QUuid const toneId = sources.at(1)->Id();
    QVERIFY(!saved.isEmpty());

    QVERIFY(pm.OpenProject(first));
    QVERIFY(pm.ProjectPtr() != project);
    project = pm.ProjectPtr();
    QCOMPARE(Settings::projectPath, first);
    QVERIFY(project->FindFolderById(nested));
    QCOMPARE(project->FindFolderById(nested)->ParentId(), shots);
    TimelineItem* reopened = pm.FindTimelineById(edit);
    QVERIFY(reopened);
    QCOMPARE(reopened->ParentId(), shots);
    QCOMPARE(reopened->TimelinePtr()->ClipCount(), 3);
    QCOMPARE(project->DefaultTimelineId(), edit);
    TimelineItem* movieAgain = project->FindSourceTimelineById(movieId);
    QVERIFY(movieAgain);
    QCOMPARE(movieAgain->SourcePtr()->CutInFrame(), 5);
    QCOMPARE(movieAgain->SourcePtr()->CutOutFrame(), 80);
    QCOMPARE(movieAgain->SourcePtr()->AudioDelay(), -41667LL);
    FrameBookmark const* bookmark = movieAgain->TimelinePtr()->FrameBookmarkAt(12);
    QVERIFY(bookmark);
    QList<StrokeData> const expected = EveryStroke();
    QCOMPARE(bookmark->strokes.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
    {
        QCOMPARE(StrokeText(bookmark->strokes.at(i)), StrokeText(expected.at(i)));
        QCOMPARE(bookmark->strokes.at(i).path, expected.at(i).path);
    }
    QCOMPARE(movieAgain->TimelinePtr()->BackgroundFrameBookmark()->strokes.size(), 3);
    QCOMPARE(reopened->TimelinePtr()->FrameBookmarkAt(100)->strokes.size(), 4);
    QCOMPARE(reopened->TimelinePtr()->AudioOverrideTimelineId(), toneId);

    // Saved again where it was read from.
    QString const second = first;
    QVERIFY(pm.SaveProject());
    QCOMPARE(ReadAll(second), saved);
}

void TestProjectFile::FolderGroupsStandInAscendingIdOrder()
{
    // Two folders whose order in the tree is the reverse of their ids':
    // the timelines stand grouped by folder, the groups in id order.
    ProjectManager& pm = *mManager;
    QUuid const a = pm.DoAddFolderCmd(QStringLiteral("A"), QUuid(), {});
    QUuid const b = pm.DoAddFolderCmd(QStringLiteral("B"), QUuid(), {});
    QUuid const low = std::min(a, b);
    QUuid const high = std::max(a, b);
    pm.DoMoveProjectItemCmd(high, pm.ProjectPtr()->FindFolderById(high)->ParentId(), 0);
    QList<QUuid> const tree = pm.ProjectPtr()->ProjectTreeDepthFirstHierarchy();
    QVERIFY(tree.indexOf(high) < tree.indexOf(low));
    pm.DoAddTimelineCmd(QStringLiteral("High 1"), high);
    pm.DoAddTimelineCmd(QStringLiteral("Low 1"), low);
    pm.DoAddTimelineCmd(QStringLiteral("High 2"), high);
    QJsonObject root;
    QVERIFY(pm.ProjectPtr()->WriteProject(root));
    QStringList written;
    for (QJsonValue const& timeline : root.value(QStringLiteral("timelines")).toArray())
    {
        QString const name = timeline.toObject().value(QStringLiteral("name")).toString();
        if (name.startsWith(QStringLiteral("High")) || name.startsWith(QStringLiteral("Low")))
        {
            written.append(name);
        }
    }
    QCOMPARE(written, (QStringList {"Low 1", "High 1", "High 2"}));
}

void TestProjectFile::MalformedFilesOpenWhatIsValid_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("sources");
    QTest::addColumn<QString>("message");

    QJsonObject good {{"_id", QUuid::createUuid().toString()}, {"path", Media("h264_cfr25.mp4")}};
    QTest::newRow("not json") << QByteArray("{\"_meta\": {") << false << 0 << "Project metadata not found";
    QTest::newRow("array at the top") << QByteArray("[1, 2]") << false << 0 << "Project metadata not found";
    QTest::newRow("no meta") << Json({{"sources", QJsonArray {good}}}) << false << 0 << "Project metadata not found";
    QTest::newRow("unknown format") << Json({{"_meta", Meta("vorna")}}) << false << 0 << "Unknown file format";
    QTest::newRow("version 0") << Json({{"_meta", Meta("zeph", 0)}}) << false << 0 << "Unknown file format";
    QTest::newRow("version 2") << Json({{"_meta", Meta("zeph", 2)}, {"sources", QJsonArray {good}}}) << true << 1
                               << "";

    QJsonObject wrongTypes = good;
    wrongTypes.insert("playback_frame", "twelve");
    wrongTypes.insert("cut_in_frame", QJsonArray {1});
    wrongTypes.insert("zoom", "big");
    wrongTypes.insert("range_bookmarks", 17);
    QTest::newRow("wrong types and elements")
        << Json({{"_meta", Meta()}, {"sources", QJsonArray {7, "x", wrongTypes}}, {"folders", "nope"}}) << true << 1
        << "";

    QJsonObject huge {{"_id", QUuid::createUuid().toString()}, {"path", Media("tone.wav")},
                      {"playback_frame", 1e300}, {"cut_in_frame", -50}, {"cut_out_frame", 4294967296.0},
                      {"audio_delay", 1e30}, {"index", -9}};
    QTest::newRow("negative and huge frames") << Json({{"_meta", Meta()}, {"sources", QJsonArray {huge}}}) << true << 1
                                              << "";
    QJsonObject badId = good;
    badId.insert("_id", "not-an-id");
    QTest::newRow("invalid id makes a new one") << Json({{"_meta", Meta()}, {"sources", QJsonArray {badId}}}) << true
                                                << 1 << "";
    QJsonObject twin = good;
    twin.insert("path", Media("tone.wav"));
    QTest::newRow("repeated id")
        << Json({{"_meta", Meta()}, {"sources", QJsonArray {good, twin}}}) << true << 1 << "ID already exists";

    // 2^30 path elements announced by a dozen bytes; a NaN point; bad colour.
    QByteArray hostile;
    {
        QDataStream stream(&hostile, QIODevice::WriteOnly);
        stream << qint32(1 << 30) << qint32(0) << qint32(0);
    }
    QJsonObject frame {{"frame", 3},
                       {"strokes", QJsonArray {QJsonObject {{"width", 1}, {"color", "#ffffffff"}, {"type", 0},
                                                            {"points", "1,2;"},
                                                            {"path", QString::fromLatin1(hostile.toBase64())}},
                                               StrokeObject("nan,2;"), StrokeObject("1,2;", 0, "blue-ish"),
                                               StrokeObject("1,2;3,4;")}}};
    QJsonObject group {{"parent", good.value("_id")}, {"clip_index", 0}, {"frame_data", QJsonArray {frame, 5}}};
    QJsonObject badGroup {{"parent", "garbage"}, {"clip_index", 0}, {"frame_data", QJsonArray {frame}}};
    QTest::newRow("hostile strokes")
        << Json({{"_meta", Meta()}, {"sources", QJsonArray {good}}, {"z_bookmarks", QJsonArray {group, badGroup, 3}}})
        << true << 1 << "";
}

void TestProjectFile::MalformedFilesOpenWhatIsValid()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, accepted);
    QFETCH(int, sources);
    QFETCH(QString, message);
    QString const path = SavePath(QStringLiteral("broken.zeph"));
    WriteAll(path, bytes);
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
    QCOMPARE(mManager->OpenProject(path), accepted);
    QCOMPARE(mManager->ProjectPtr()->SourceTimelines().size(), sources);
    if (!message.isEmpty())
    {
        QStringList logged;
        for (auto const& args : errors)
        {
            logged.append(args.at(0).toString());
        }
        for (auto const& args : warnings)
        {
            logged.append(args.at(0).toString());
        }
        QVERIFY2(logged.join('\n').contains(message), qPrintable(logged.join('\n')));
    }
    if (QByteArray(QTest::currentDataTag()) == "hostile strokes")
    {
        TimelineItem* item = mManager->ProjectPtr()->SourceTimelines().first();
        FrameBookmark const* bookmark = item->SourceClip()->FrameBookmarkList().value(0);
        QVERIFY(bookmark);
        // Only the last stroke is sound.
        QCOMPARE(bookmark->strokes.size(), 1);
        QCOMPARE(bookmark->strokes.first().points.size(), 2);
    }
}

void TestProjectFile::RejectedFileIsNeverOverwritten()
{
    QString const good = SavePath(QStringLiteral("good.zeph"));
    mManager->SetProjectPath(good);
    QUuid const folder = mManager->DoAddFolderCmd(QStringLiteral("Keep me"), QUuid(), {});
    QVERIFY(mManager->SaveProject());
    Project const* project = mManager->ProjectPtr();

    QString const bad = SavePath(QStringLiteral("bad.zeph"));
    QByteArray const junk("{\"_meta\": {\"format\": \"other\", \"version\": 1}}");
    WriteAll(bad, junk);
    QVERIFY(!mManager->OpenProject(bad));
    QVERIFY(!mManager->OpenProject(SavePath(QStringLiteral("missing.zeph"))));
    QCOMPARE(mManager->ProjectPtr(), project);
    QCOMPARE(Settings::projectPath, good);
    QVERIFY(mManager->FindFolderById(folder));
    mManager->DoRenameProjectItemCmd(folder, QStringLiteral("Kept"));
    QVERIFY(mManager->SaveProject());
    QCOMPARE(ReadAll(bad), junk);
    QVERIFY(ReadAll(good).contains("Kept"));

    // Read as an import, a rejected file does not move the path either.
    QVERIFY(!mManager->ImportProject(bad, false));
    QCOMPARE(Settings::projectPath, good);

    // A bookmark file that names no media is refused before anything goes.
    for (QByteArray const& bytes : {QByteArray(), QByteArray("\x89PNG\r\n\x1a\n\0\0binary"),
                                    QByteArray("[main]\nframes=1,2\n"), QByteArray("[other]\nmediaPath=/a.mov\n")})
    {
        QString const bmk = SavePath(QStringLiteral(".bmk"));
        WriteAll(bmk, bytes);
        QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
        QVERIFY(!mManager->OpenProject(bmk));
        QCOMPARE(mManager->ProjectPtr(), project);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Unknown file format: %1").arg(bmk));
    }
    QVERIFY(mManager->FindFolderById(folder));
}

void TestProjectFile::PathsThatAreNoRegularFileAreRefusedAtOnce()
{
    QString const good = SavePath(QStringLiteral("good.zeph"));
    mManager->SetProjectPath(good);
    QUuid const folder = mManager->DoAddFolderCmd(QStringLiteral("Keep me"), QUuid(), {});
    QVERIFY(mManager->SaveProject());
    Project const* project = mManager->ProjectPtr();

    // A FIFO blocks its open until something writes to it; /dev/zero never
    // ends; a sparse file past the cap would be read and hashed whole.
    QStringList fifos;
    for (char const* name : {"fifo.zeph", "fifo.vorna", "fifo.bmk"})
    {
        fifos.append(SavePath(QString::fromLatin1(name)));
        QVERIFY(::mkfifo(QFile::encodeName(fifos.last()).constData(), 0600) == 0);
    }
    QString const toFifo = SavePath(QStringLiteral("to-fifo.zeph"));
    QVERIFY(QFile::link(fifos.first(), toFifo));
    QString const zero = SavePath(QStringLiteral("zero.zeph"));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
    QString const huge = SavePath(QStringLiteral(".zeph"));
    QString const hugeBmk = SavePath(QStringLiteral("huge.bmk"));
    for (QString const& path : {huge, hugeBmk})
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("[main]\nmediaPath=/a.mov\n") > 0);
        QVERIFY(file.resize(UserFileGuard::MAXIMUM_PROJECT_FILE_SIZE + 1));
    }

    struct Case
    {
        QString path;
        QString reason;
    };
    QList<Case> cases;
    for (QString const& path : fifos + QStringList {toFifo, zero})
        cases.append({path, QStringLiteral("not a regular file")});
    for (QString const& path : {huge, hugeBmk})
        cases.append({path, QStringLiteral("bytes, more than %1").arg(UserFileGuard::MAXIMUM_PROJECT_FILE_SIZE)});
    for (Case const& c : cases)
    {
        QVERIFY2(ProjectFileStamp::Of(c.path).IsNull(), qPrintable(c.path));
        for (bool const import : {false, true})
        {
            QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
            QVERIFY(import ? !mManager->ImportProject(c.path, false) : !mManager->OpenProject(c.path));
            QCOMPARE(errors.count(), 1);
            QString const error = errors.first().first().toString();
            QVERIFY2(error.startsWith(QStringLiteral("Failed to open project file: %1 (").arg(c.path)) &&
                         error.contains(c.reason),
                     qPrintable(error));
            QCOMPARE(mManager->ProjectPtr(), project);
            QCOMPARE(Settings::projectPath, good);
            QVERIFY(mManager->FindFolderById(folder));
        }
    }
    QVERIFY(!Settings::recentProjects.contains(huge));
    QVERIFY(mManager->SaveProject());
}

void TestProjectFile::FilesThatReadOnWithoutEndAreRefusedAtTheCap()
{
    QString const good = SavePath(QStringLiteral("good.zeph"));
    mManager->SetProjectPath(good);
    QVERIFY(mManager->SaveProject());
    Project const* project = mManager->ProjectPtr();
    qint64 const cap = UserFileGuard::MAXIMUM_PROJECT_FILE_SIZE;
    // The cap and one byte, and what the rest of the process may read meanwhile.
    qint64 const mostRead = cap + 1 + 16 * 1024 * 1024;
    QString const refusal = QStringLiteral("Failed to open project file: %1 (more than %2 bytes)");

    // A /proc file reports the size 0 and reads on: /proc/self/pagemap for
    // hundreds of GiB.
    for (char const* name : {"pagemap.zeph", "pagemap.bmk"})
    {
        QString const path = SavePath(QString::fromLatin1(name));
        QVERIFY(QFile::link(QStringLiteral("/proc/self/pagemap"), path));
        Watchdog watchdog(QStringLiteral("Opening %1").arg(path), std::chrono::seconds(120));
        for (bool const import : {false, true})
        {
            QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
            qint64 const before = BytesReadSoFar();
            QVERIFY(import ? !mManager->ImportProject(path, false) : !mManager->OpenProject(path));
            qint64 const read = BytesReadSoFar() - before;
            QVERIFY2(read <= mostRead, qPrintable(QStringLiteral("%1 bytes read").arg(read)));
            QCOMPARE(errors.count(), 1);
            QCOMPARE(errors.first().first().toString(), refusal.arg(path).arg(cap));
            QCOMPARE(mManager->ProjectPtr(), project);
        }
        QVERIFY(ProjectFileStamp::Of(path).IsNull());
    }
    QCOMPARE(Settings::projectPath, good);
}

void TestProjectFile::FileGrowingWhileReadIsRefusedAtTheCap()
{
    QString const good = SavePath(QStringLiteral("good.zeph"));
    mManager->SetProjectPath(good);
    QVERIFY(mManager->SaveProject());
    Project const* project = mManager->ProjectPtr();
    qint64 const cap = UserFileGuard::MAXIMUM_PROJECT_FILE_SIZE;
    qint64 const mostRead = cap + 1 + 16 * 1024 * 1024;
    QString const refusal = QStringLiteral("Failed to open project file: %1 (more than %2 bytes)");

    // A file that passes the size check at the open and then grows while it
    // is read (sparse, so it costs no disk). Should the growth come only
    // after the read reached the first end (a starved thread), the take is
    // made again.
    bool grewInTime = false;
    for (int take = 0; take < 5 && !grewInTime; ++take)
    {
        QString const path = SavePath(QStringLiteral("growing%1.zeph").arg(take));
        GrowingFile growing(path, cap - 64 * 1024 * 1024, 4 * cap);
        QVERIFY(growing.IsValid());
        Watchdog watchdog(QStringLiteral("Opening %1").arg(path), std::chrono::seconds(120));
        QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
        qint64 const before = BytesReadSoFar();
        bool const opened = mManager->OpenProject(path);
        qint64 const read = BytesReadSoFar() - before;
        bool const grew = growing.Stop();
        QVERIFY(!opened);
        QCOMPARE(errors.count(), 1);
        // Grown past the cap before the open looked at its size (a slow
        // open): refused for its size at the open, and the take is made again.
        QString const message = errors.first().first().toString();
        QRegularExpression const refusedAtOpen(
            QStringLiteral("^Failed to open project file: %1 \\(\\d+ bytes, more than %2\\)$")
                .arg(QRegularExpression::escape(path))
                .arg(cap));
        grewInTime = grew && !refusedAtOpen.match(message).hasMatch();
        if (grewInTime)
        {
            QVERIFY2(read <= mostRead, qPrintable(QStringLiteral("%1 bytes read").arg(read)));
            QCOMPARE(errors.first().first().toString(), refusal.arg(path).arg(cap));
        }
        QFile::remove(path);
    }
    if (!grewInTime)
    {
        QSKIP("The file never grew before the read reached its first end");
    }
    QCOMPARE(mManager->ProjectPtr(), project);
    QCOMPARE(Settings::projectPath, good);
}

void TestProjectFile::BookmarkFileFlippedToAFifoNeverBlocks()
{
    // An older bookmark file that is flipped between a regular file and a
    // FIFO while it is opened: every open ends, whatever the path names at
    // the moment. Its media is missing, so each open ends quickly.
    QTemporaryDir folder;
    QByteArray const content = "[main]\nmediaPath=" + QFile::encodeName(folder.filePath(QStringLiteral("gone.mov"))) +
                               "\nframes=1,2\n";
    PathFlipper flipper(folder.path(), QStringLiteral("shot.bmk"), content);
    QVERIFY(flipper.IsValid());
    // Each round through a link of its own: a path read before would be
    // answered from what was read then.
    QStringList links;
    for (int round = 0; round < 300; ++round)
    {
        links.append(folder.filePath(QStringLiteral("link%1.bmk").arg(round)));
        QVERIFY(QFile::link(flipper.Path(), links.last()));
    }
    {
        Watchdog watchdog("opening a bookmark file flipped to a FIFO", std::chrono::seconds(60),
                          [&flipper] { flipper.ReleaseReaders(); });
        flipper.Start();
        for (QString const& link : std::as_const(links))
        {
            mManager->OpenProject(link);
        }
        QVERIFY(flipper.Stop() > 0);
        QVERIFY2(!watchdog.Disarm(), "an open blocked on the FIFO");
    }
    QFileInfo const fifo(flipper.FifoPath());
    QVERIFY(fifo.exists() && !fifo.isFile());
}

void TestProjectFile::FailedSaveReturnsFalse()
{
    QVERIFY(!mManager->SaveProject()); // no path yet
    QString const blocker = SavePath(QStringLiteral("plain-file"));
    WriteAll(blocker, "x");
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    mManager->SetProjectPath(blocker + QStringLiteral("/sub/project.zeph"));
    mManager->DoAddFolderCmd(QStringLiteral("edit"), QUuid(), {});
    QVERIFY(!mManager->SaveProject());
    QVERIFY(!mManager->IsUndoClean());
    QCOMPARE(errors.count(), 1);
    QVERIFY(errors.at(0).at(0).toString().startsWith(QStringLiteral("Failed to create project directory: ")));

    // A path that is a folder cannot be replaced; the folder stays as it was.
    QString const folder = SavePath(QStringLiteral("taken.zeph"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/inside")));
    mManager->SetProjectPath(folder);
    QVERIFY(!mManager->SaveProject());
    QVERIFY(QFileInfo(folder + QStringLiteral("/inside")).isDir());
}

void TestProjectFile::OlderFormatsImportAndSurviveASave()
{
    QUuid const folderA = QUuid::createUuid();
    QUuid const folderB = QUuid::createUuid();
    QUuid const sourceId = QUuid::createUuid();
    QJsonObject source {
        {"_id", sourceId.toString()},
        {"path", Media("h264_cfr25.mp4")},
        {"frame", 11},
        {"range_start", 3},
        {"range_end", 60},
        {"viewer_index", 0},
        {"parent_id", folderB.toString()},
        {"index", 0},
        {"bookmarks_range", QJsonArray {QJsonObject {{"frame_start", 5}, {"frame_end", 9}},
                                        QJsonObject {{"frame_start", 0}, {"frame_end", 9}}}},
        {"bookmarks",
         QJsonArray {QJsonObject {{"frame", 0}},
                     QJsonObject {{"frame", 21},
                                  {"strokes", QJsonArray {StrokeObject("0.1,0.2;0.3,0.4;0.5,0.6;", 0),
                                                          StrokeObject("0.1,0.2;0.3,0.4;", 7),
                                                          StrokeObject("0.1,0.2;0.3,0.4;", 5),
                                                          StrokeObject("0.1,0.2;", 6),
                                                          StrokeObject("0.1,0.2;", 8),
                                                          StrokeObject("0.1,0.2;", 1)}}}}}};
    QJsonObject text = StrokeObject("0.2,0.2;", 2);
    text.insert("width", 0.0026);
    text.insert("text", "note");
    QJsonObject timeline {{"name", "Legacy cut"},
                          {"elements", QJsonArray {QJsonObject {{"source_id", sourceId.toString()}}, 3}},
                          {"frame", 2},
                          {"range_end", 0},
                          {"default", true},
                          {"parent_id", folderA.toString()},
                          {"index", 0},
                          {"bookmarks", QJsonArray {QJsonObject {{"frame", 4}, {"strokes", QJsonArray {text}}}}}};
    // B is stored below A and A below B: the cycle must not cut either off.
    QJsonObject legacy {
        {"_meta", Meta("vorna", 3)},
        {"project", QJsonObject {{"source_root_dir", "[PROJECT_DIR]"}, {"sequence_frame_rate", 500}}},
        {"viewer", QJsonObject {{"layout", 2}}},
        {"folders", QJsonArray {QJsonObject {{"_id", folderA.toString()}, {"name", "A"},
                                             {"parent_id", folderB.toString()}, {"index", 0}},
                                QJsonObject {{"_id", folderB.toString()}, {"name", "B"},
                                             {"parent_id", folderA.toString()}, {"index", 0}}}},
        {"sources", QJsonArray {source}},
        {"timelines", QJsonArray {timeline}}};
    QString const vorna = SavePath(QStringLiteral("old.vorna"));
    WriteAll(vorna, Json(legacy));
    Settings::recentProjects.clear();
    QVERIFY(mManager->OpenProject(vorna));
    QVERIFY(Settings::recentProjects.isEmpty());
    QCOMPARE(Settings::currentViewerLayout, 3);
    QCOMPARE(Settings::imageSequenceFrameRate, 120.0);
    Project* project = mManager->ProjectPtr();
    QList<QUuid> const tree = project->ProjectTreeDepthFirstHierarchy();
    QVERIFY(tree.contains(folderA));
    QVERIFY(tree.contains(folderB));
    TimelineItem* item = project->FindSourceTimelineById(sourceId);
    QVERIFY(item);
    QCOMPARE(item->ParentId(), folderB);
    QCOMPARE(item->SourcePtr()->CutInFrame(), 2);
    QCOMPARE(item->SourcePtr()->CutOutFrame(), 59);
    QCOMPARE(item->TimelinePtr()->RangeBookmarkList().size(), 1);
    QCOMPARE(item->TimelinePtr()->OutputId(), 0);
    FrameBookmark* bookmark = item->SourceClip()->FrameBookmarkList().value(0);
    QVERIFY(bookmark);
    QCOMPARE(bookmark->frame, 20);
    QCOMPARE(bookmark->strokes.size(), 5);
    QCOMPARE(bookmark->strokes.at(0).type, 0);
    QCOMPARE(bookmark->strokes.at(0).points.size(), 3);
    QCOMPARE(bookmark->strokes.at(0).path.elementCount(), 3);
    QCOMPARE(bookmark->strokes.at(1).type, 7);
    QCOMPARE(bookmark->strokes.at(2).type, 5);
    QCOMPARE(bookmark->strokes.at(2).path.elementCount(), 5);
    QCOMPARE(bookmark->strokes.at(3).type, 8);
    QCOMPARE(bookmark->strokes.at(4).type, 2);
    QCOMPARE(bookmark->strokes.at(4).points.size(), 1);
    TimelineItem* edit = project->FindTimelineById(project->DefaultTimelineId(), false);
    QVERIFY(edit);
    QCOMPARE(edit->ParentId(), folderA);
    QCOMPARE(edit->TimelinePtr()->ClipCount(), 1);
    FrameBookmark* note = edit->TimelinePtr()->FrameBookmarkAt(3);
    QVERIFY(note);
    QCOMPARE(note->strokes.first().width, 1.0f);
    QCOMPARE(note->strokes.first().text, QStringLiteral("note"));

    // What came from the older file survives a save and a reopen.
    QString const saved = SavePath(QStringLiteral("converted.zeph"));
    mManager->SetProjectPath(saved);
    QVERIFY(mManager->SaveProject());
    QVERIFY(mManager->OpenProject(saved));
    item = mManager->ProjectPtr()->FindSourceTimelineById(sourceId);
    QVERIFY(item);
    QCOMPARE(item->SourceClip()->FrameBookmarkList().value(0)->strokes.size(), 5);
    QCOMPARE(item->SourceClip()->FrameBookmarkList().value(0)->strokes.at(0).points.size(), 3);
    QVERIFY(mManager->ProjectPtr()->FindFolderById(folderA));

    // The older player's bookmark file.
    QString const bmk = SavePath(QStringLiteral("clip.bmk"));
    {
        QSettings file(bmk, QSettings::IniFormat);
        file.beginGroup("main");
        file.setValue("mediaPath", Media("numbered_av.mp4"));
        file.setValue("frames", "1,5,5,x");
        file.setValue("ranges", QStringList {"10,20", "7"});
        file.setValue("current", 3);
        file.setValue("start", 1);
        file.setValue("end", 50);
        file.endGroup();
    }
    QVERIFY(mManager->OpenProject(bmk));
    QVERIFY(Settings::recentProjects.contains(saved));
    QVERIFY(!Settings::recentProjects.contains(bmk));
    QCOMPARE(mManager->ProjectPtr()->SourceTimelines().size(), 1);
    Timeline* yarv = mManager->ProjectPtr()->SourceTimelines().first()->TimelinePtr();
    QCOMPARE(yarv->FrameBookmarkList().size(), 2);
    QVERIFY(yarv->FrameBookmarkAt(0) && yarv->FrameBookmarkAt(4));
    QCOMPARE(yarv->RangeBookmarkList().size(), 1);
    QCOMPARE(yarv->RangeBookmarkList().first()->startFrame, 9);
    QCOMPARE(yarv->OutputId(), 0);
    QString const fromBmk = SavePath(QStringLiteral("from-bmk.zeph"));
    mManager->SetProjectPath(fromBmk);
    QVERIFY(mManager->SaveProject());
    QVERIFY(mManager->OpenProject(fromBmk));
    QCOMPARE(mManager->ProjectPtr()->SourceTimelines().first()->TimelinePtr()->FrameBookmarkList().size(), 2);
}

void TestProjectFile::RangeBookmarkTextAndStrokeRules()
{
    QList<RangeBookmark> ranges;
    ProjectFileReader::ReadRangeBookmarks(QJsonObject {{"range_bookmarks", "10,20,35"}}, ranges);
    ProjectFileReader::ReadRangeBookmarks(QJsonObject {{"range_bookmarks", "10,a,35,40"}}, ranges);
    ProjectFileReader::ReadRangeBookmarks(QJsonObject {{"range_bookmarks", "1,99999999999,2,3"}}, ranges);
    QCOMPARE(ranges.size(), 3);
    QCOMPARE(QPair(ranges.at(0).startFrame, ranges.at(0).endFrame), QPair(10, 20));
    QCOMPARE(QPair(ranges.at(1).startFrame, ranges.at(1).endFrame), QPair(35, 40));
    QCOMPARE(QPair(ranges.at(2).startFrame, ranges.at(2).endFrame), QPair(2, 3));

    StrokeData stroke;
    QVERIFY(StrokeDataCodec::ReadStroke(StrokeObject("12.5,3;"), stroke));
    QCOMPARE(stroke.points, QList<QPointF>({QPointF(12.5, 3)}));
    QCOMPARE(stroke.color.alpha(), 255);
    StrokeData half;
    QVERIFY(StrokeDataCodec::ReadStroke(StrokeObject("1,1;", 4, "#80ff0000"), half));
    QCOMPARE(half.color.alpha(), 128);
    for (QJsonObject const& bad :
         {StrokeObject(""), StrokeObject("1,2,3;"), StrokeObject("1,2;", 9), StrokeObject("1,2;", 3),
          QJsonObject {{"width", 1}, {"type", 0}, {"points", "1,2;"}}, QJsonObject {{"width", -1}, {"color", "#fff"},
                                                                                    {"type", 0}, {"points", "1,2;"}},
          QJsonObject {{"width", 1}, {"color", "#fff"}, {"type", 0}, {"points", "1,2;"}, {"path", "@@@"}}})
    {
        StrokeData dropped;
        QVERIFY2(!StrokeDataCodec::ReadStroke(bad, dropped), QJsonDocument(bad).toJson(QJsonDocument::Compact).constData());
    }
    // A path with its real elements reads back.
    QPainterPath path;
    path.moveTo(1, 2);
    path.lineTo(3, 4);
    QJsonObject withPath = StrokeObject("1,2;");
    withPath.insert("path", QString::fromLatin1(PathData(path).toBase64()));
    StrokeData read;
    QVERIFY(StrokeDataCodec::ReadStroke(withPath, read));
    QCOMPARE(read.path, path);

    QCOMPARE(LegacyYarvReader::StringToFrames("1, 5,x,,7"), QList<int>({1, 5, 7}));
    QCOMPARE(LegacyYarvReader::StringListToRanges({"10,20", "7", "a,3", "4,5,6"}), QList<int>({10, 20, 4, 5}));
}

void TestProjectFile::MutatedFilesNeverCrashTheReader()
{
    // A small project whose sources need no decoding (missing files), so that
    // each read is quick, then many damaged copies of its file.
    ProjectManager& pm = *mManager;
    QList<ParseSourceData> records;
    for (int i = 0; i < 2; ++i)
    {
        ParseSourceData data;
        data.path = QStringLiteral("/nonexistent-tessarin-media/shot%1.mov").arg(i);
        records.append(data);
    }
    pm.DoAddSourceTimelinesCmd(records);
    QUuid const folder = pm.DoAddFolderCmd(QStringLiteral("F"), QUuid(), {});
    QUuid const edit = pm.DoAddTimelineCmd(QStringLiteral("T"), folder);
    Timeline* timeline = pm.FindTimelineById(edit)->TimelinePtr();
    timeline->SetPlaybackRangeByFrame(0, 10);
    timeline->InsertRangeBookmark(1, 2);
    timeline->BackgroundFrameBookmark()->strokes = EveryStroke();
    Project::SetParseTimeout(2000);
    QString const path = SavePath(QStringLiteral("seed.zeph"));
    pm.SetProjectPath(path);
    QVERIFY(pm.SaveProject());
    QByteArray const seed = ReadAll(path);

    std::mt19937 random(20261207);
    int const rounds = qEnvironmentVariableIntValue("TESSARIN_FUZZ_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("TESSARIN_FUZZ_ROUNDS")
                           : 300;
    int accepted = 0;
    QString const mutated = SavePath(QStringLiteral("mutated.zeph"));
    for (int round = 0; round < rounds; ++round)
    {
        QByteArray bytes = seed;
        int const edits = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < edits; ++i)
        {
            int const at = static_cast<int>(random() % bytes.size());
            switch (random() % 4)
            {
            case 0:
                bytes[at] = static_cast<char>(random());
                break;
            case 1:
                bytes.remove(at, 1 + static_cast<int>(random() % 16));
                break;
            case 2:
                bytes.insert(at, "0123456789-.e,;{}[]\"AZ+/="[random() % 25]);
                break;
            default:
                bytes.insert(at, bytes.mid(static_cast<int>(random() % bytes.size()), 40));
                break;
            }
        }
        WriteAll(mutated, bytes);
        Project project;
        connect(&project, &Project::ParseSourceRequested, &project, [](TimelineItem* item) {
            item->SourcePtr()->SetParsed(true);
            emit item->SourcePtr()->Parsed();
        });
        accepted += project.ImportProject(mutated, true) ? 1 : 0;
        QString saved;
        QJsonObject root;
        project.WriteProject(root);
    }
    qInfo() << rounds << "mutated files," << accepted << "accepted";
    QVERIFY(accepted > 0);
}

void TestProjectFile::HostilePathDataIsRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("kept");
    double const nan = std::numeric_limits<double>::quiet_NaN();
    double const inf = std::numeric_limits<double>::infinity();
    auto row = [](char const* name, QByteArray const& bytes, bool kept) {
        QTest::newRow(name) << QString::fromLatin1(bytes.toBase64()) << kept;
    };
    QPainterPath curve;
    curve.moveTo(0, 0);
    curve.cubicTo(1, 1, 2, 2, 3, 3);
    curve.addRect(5, 5, 2, 2);
    row("curve and rectangle", PathData(curve), true);
    row("empty path", PathData(QPainterPath()), true);
    QString const valid = QString::fromLatin1(RawPath(1, {{0, 1.0, 1.0}}).toBase64());
    QVERIFY(valid.endsWith('='));
    QTest::newRow("Base64 without its padding") << valid.left(valid.indexOf('=')) << false;
    QTest::newRow("Base64 with a stray character") << valid.left(8) + "*" + valid.mid(9) << false;
    row("count far beyond the data", RawPath(1 << 30, {{0, 0.0, 0.0}}), false);
    row("negative count", RawPath(-1, {}), false);
    row("bytes left over", RawPath(1, {{0, 1.0, 1.0}}) + "xx", false);
    row("bytes missing", RawPath(1, {{0, 1.0, 1.0}}).chopped(1), false);
    row("empty count with a trailer", RawPath(0, {}), false);
    row("element type 4", RawPath(2, {{0, 1.0, 1.0}, {4, 2.0, 2.0}}), false);
    row("negative element type", RawPath(2, {{0, 1.0, 1.0}, {-1, 2.0, 2.0}}), false);
    row("first element not a move", RawPath(1, {{1, 1.0, 1.0}}), false);
    row("curve without its data", RawPath(3, {{0, 0.0, 0.0}, {2, 1.0, 1.0}, {1, 2.0, 2.0}}), false);
    row("curve cut short", RawPath(3, {{0, 0.0, 0.0}, {2, 1.0, 1.0}, {3, 2.0, 2.0}}), false);
    row("data without a curve", RawPath(2, {{0, 0.0, 0.0}, {3, 1.0, 1.0}}), false);
    row("nan coordinate", RawPath(2, {{0, 0.0, 0.0}, {1, nan, 1.0}}), false);
    row("infinite coordinate", RawPath(2, {{0, 0.0, 0.0}, {1, 1.0, -inf}}), false);
    row("sub-path start beyond the elements", RawPath(1, {{0, 0.0, 0.0}}, 1), false);
    row("unknown fill rule", RawPath(1, {{0, 0.0, 0.0}}, 0, 7), false);
}

void TestProjectFile::HostilePathDataIsRefused()
{
    QFETCH(QString, path);
    QFETCH(bool, kept);
    StrokeData stroke;
    QCOMPARE(StrokeDataCodec::ReadStroke(StrokeWithPath(path), stroke), kept);
    if (kept)
    {
        // What is kept saves back to the same text.
        QCOMPARE(QString::fromLatin1(PathData(stroke.path).toBase64()), path);
    }
}

void TestProjectFile::MutatedPathDataReadsBackExactlyOrNotAtAll()
{
    QPainterPath seed;
    seed.moveTo(0.5, 0.25);
    seed.lineTo(1, 2);
    seed.cubicTo(3, 4, 5, 6, 7, 8);
    seed.addEllipse(QRectF(0.1, 0.2, 0.3, 0.4));
    QByteArray const bytes = PathData(seed);
    std::mt19937 random(7);
    int kept = 0;
    for (int round = 0; round < 4000; ++round)
    {
        QByteArray mutated = bytes;
        int const edits = 1 + static_cast<int>(random() % 3);
        for (int i = 0; i < edits; ++i)
        {
            int const at = static_cast<int>(random() % mutated.size());
            switch (random() % 4)
            {
            case 0:
                mutated[at] = static_cast<char>(random());
                break;
            case 1:
                mutated.truncate(at);
                break;
            case 2:
                if (mutated.size() > 3)
                {
                    mutated[3] = static_cast<char>(random() % 32); // another element count
                }
                break;
            default:
                mutated.insert(at, mutated.mid(at, 20));
                break;
            }
            if (mutated.isEmpty())
            {
                mutated = bytes;
            }
        }
        StrokeData stroke;
        QString const text = QString::fromLatin1(mutated.toBase64());
        if (!StrokeDataCodec::ReadStroke(StrokeWithPath(text), stroke))
        {
            continue;
        }
        ++kept;
        // A lone move is an empty path to the library, and saves as one.
        QVERIFY(QString::fromLatin1(PathData(stroke.path).toBase64()) == text || stroke.path.isEmpty());
        for (int i = 0; i < stroke.path.elementCount(); ++i)
        {
            QVERIFY(std::isfinite(stroke.path.elementAt(i).x) && std::isfinite(stroke.path.elementAt(i).y));
        }
    }
    QVERIFY(kept > 0);
}

void TestProjectFile::ClipBookmarksStaySortedAndLayoutKnown()
{
    QUuid const id = QUuid::createUuid();
    QJsonArray frames;
    for (int frame : {9, 4, 9, 2})
    {
        frames.append(QJsonObject {{"frame", frame}, {"strokes", QJsonArray {StrokeObject(QString("%1,1;").arg(frame))}}});
    }
    QString const path = SavePath(QStringLiteral("order.zeph"));
    WriteAll(path, Json({{"_meta", Meta()},
                         {"viewer", QJsonObject {{"layout", 99}}},
                         {"sources", QJsonArray {QJsonObject {{"_id", id.toString()}, {"path", Media("h264_cfr25.mp4")}}}},
                         {"z_bookmarks", QJsonArray {QJsonObject {{"parent", id.toString()}, {"clip_index", 0},
                                                                  {"frame_data", frames}}}}}));
    Settings::currentViewerLayout = 3;
    QVERIFY(mManager->OpenProject(path));
    QCOMPARE(Settings::currentViewerLayout, 0);
    TimelineItem* item = mManager->ProjectPtr()->FindSourceTimelineById(id);
    QVERIFY(item);
    QList<int> read;
    for (FrameBookmark const* bookmark : item->SourceClip()->FrameBookmarkList())
    {
        read.append(bookmark->frame);
    }
    QCOMPARE(read, QList<int>({2, 4, 9}));
    // Of the frame named twice, the first in the file is kept.
    QCOMPARE(item->TimelinePtr()->FrameBookmarkAt(9)->strokes.first().points.first(), QPointF(9, 1));
}

void TestProjectFile::SourceGivenUpWhileParsingKeepsItsId()
{
    // A source whose parse never answers is given up, but its parser may
    // still answer under its id later.
    Project project;
    Project::SetParseTimeout(30);
    QList<ParseSourceData> records(1);
    records[0].path = QStringLiteral("/nonexistent-tessarin-media/slow.mov");
    records[0].id = QUuid::createUuid();
    project.AddSourceTimelines(records);
    Project::SetParseTimeout(Project::DEFAULT_PARSE_TIMEOUT_MS);
    QVERIFY(!project.FindSourceTimelineById(records.at(0).id));

    connect(&project, &Project::ParseSourceRequested, &project, [](TimelineItem* item) {
        item->SourcePtr()->SetParsed(true);
        emit item->SourcePtr()->Parsed();
    });
    QUuid const other = QUuid::createUuid();
    QJsonDocument const document(QJsonObject {
        {"_meta", Meta()},
        {"sources", QJsonArray {QJsonObject {{"_id", records.at(0).id.toString()}, {"path", "/nonexistent-tessarin-media/again.mov"}},
                                QJsonObject {{"_id", other.toString()}, {"path", "/nonexistent-tessarin-media/other.mov"}}}}});
    QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
    QVERIFY(project.ReadProject(document, SavePath(QStringLiteral("x.zeph")), false));
    QVERIFY(!project.FindSourceTimelineById(records.at(0).id));
    QVERIFY(project.FindSourceTimelineById(other));
    QCOMPARE(warnings.count(), 1);
    QCOMPARE(warnings.at(0).at(0).toString(), QStringLiteral("ID already exists in project... Skipping."));
}

void TestProjectFile::SaveFailingPartWayKeepsTheOldFile()
{
    QTemporaryDir dir;
    QString const path = dir.filePath(QStringLiteral("p.zeph"));
    mManager->SetProjectPath(path);
    mManager->SetNotes(QStringLiteral("small"));
    QVERIFY(mManager->SaveProject());
    QByteArray const old = ReadAll(path);
    QVERIFY(old.size() < 2000);
    mManager->SetNotes(QString(300000, QLatin1Char('n')));
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    {
        FileSizeLimit limit(4096);
        QVERIFY(!mManager->SaveProject());
    }
    QCOMPARE(errors.count(), 1);
    // The system's reason, which Qt does not keep for a write cut short.
    QCOMPARE(errors.at(0).at(0).toString(),
             QStringLiteral("Failed to write project file: %1 (%2)").arg(path, qt_error_string(EFBIG)));
    QCOMPARE(ReadAll(path), old);
    // No temporary file is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("p.zeph")}));
    QVERIFY(mManager->SaveProject());
    QVERIFY(ReadAll(path).size() > 300000);

    // A folder that takes no new file or folder, whoever runs the test: the
    // reason too.
    QString const closed = QStringLiteral("/proc/self");
    for (auto const& [project, prefix] :
         {std::pair(closed + "/p.zeph", QStringLiteral("Failed to open project file for write: %1/p.zeph (").arg(closed)),
          std::pair(closed + "/new/p.zeph", QStringLiteral("Failed to create project directory: %1/new (").arg(closed))})
    {
        mManager->SetProjectPath(project);
        errors.clear();
        QVERIFY(!mManager->SaveProject());
        QCOMPARE(errors.count(), 1);
        QString const message = errors.at(0).at(0).toString();
        QVERIFY2(message.startsWith(prefix) && message.endsWith(QLatin1Char(')')) && message.size() > prefix.size() + 1
                     && !message.contains(QStringLiteral("Unknown error")),
                 qPrintable(message));
    }
}

void TestProjectFile::OlderFilesWithExtremeFramesAndUnquotedLists()
{
    int const lowest = std::numeric_limits<int>::min();
    QUuid const id = QUuid::createUuid();
    QJsonObject const legacy {
        {"_meta", Meta("vorna", 1)},
        {"sources", QJsonArray {QJsonObject {{"_id", id.toString()}, {"path", Media("h264_cfr25.mp4")},
                                             {"frame", lowest}, {"range_start", lowest}, {"range_end", lowest},
                                             {"bookmarks", QJsonArray {QJsonObject {{"frame", 1}, {"strokes", QJsonArray {
                                                 StrokeObject("1e300,0;-1e300,0;", 5), StrokeObject("3e38,0;-3e38,0;", 5)}}}}}}}},
        {"timelines", QJsonArray {QJsonObject {{"name", "T"}, {"frame", lowest}, {"range_start", lowest},
                                               {"range_end", 5}, {"elements", QJsonArray {QJsonObject {{"source_id", id.toString()}}}}}}}};
    QString const vorna = SavePath(QStringLiteral("extreme.vorna"));
    WriteAll(vorna, Json(legacy));
    QVERIFY(mManager->OpenProject(vorna));
    TimelineItem* item = mManager->ProjectPtr()->FindSourceTimelineById(id);
    QVERIFY(item);
    QCOMPARE(item->SourcePtr()->CutInFrame(), 0); // no stored state
    // Arrows: points no float holds fail; an arrow as long as floats go reads.
    QCOMPARE(item->TimelinePtr()->FrameBookmarkAt(0)->strokes.size(), 1);
    QCOMPARE(mManager->ProjectPtr()->Timelines().size(), 1);

    // A bookmark file written by hand: the frames unquoted, extreme numbers.
    QString const bmk = SavePath(QStringLiteral("hand.bmk"));
    WriteAll(bmk, QStringLiteral("[main]\nmediaPath=%1\nframes=-2147483648,2,3\nranges=\"-2147483648,4\", \"5,6\"\n"
                                 "current=-2147483648\nstart=-2147483648\nend=-2147483648\n")
                      .arg(Media("h264_cfr25.mp4"))
                      .toUtf8());
    mManager->NewProject(false);
    QVERIFY(mManager->ImportProject(bmk, true));
    QCOMPARE(mManager->ProjectPtr()->SourceTimelines().size(), 1);
    TimelineItem* marked = mManager->ProjectPtr()->SourceTimelines().first();
    QList<int> frames;
    for (FrameBookmark const* bookmark : marked->SourceClip()->FrameBookmarkList())
    {
        frames.append(bookmark->frame);
    }
    QCOMPARE(frames, QList<int>({1, 2}));
    QCOMPARE(marked->TimelinePtr()->RangeBookmarkList().size(), 1);
    QCOMPARE(marked->TimelinePtr()->RangeBookmarkList().first()->startFrame, 4);
}
void TestProjectFile::MissingMediaKeepsWhatTheFileHeld()
{
    // Media offline when the project opens (an unmounted drive): a save
    // writes back what the file held, and the media finds it all when it is
    // there again.
    QString const offline = SavePath(QStringLiteral("drive/late.mp4"));
    QUuid const late = QUuid::createUuid();
    QUuid const here = QUuid::createUuid();
    QUuid const cut = QUuid::createUuid();
    QJsonObject const root {
        {"_meta", Meta()},
        {"sources",
         QJsonArray {QJsonObject {{"_id", late.toString()}, {"path", offline}, {"playback_frame", 33},
                                  {"cut_in_frame", 5}, {"cut_out_frame", 80}, {"output_id", -1},
                                  {"range_bookmarks", "10,20"}},
                     // Written without a cut out: to the end.
                     QJsonObject {{"_id", here.toString()}, {"path", Media("h264_cfr25.mp4")},
                                  {"playback_frame", 0}, {"cut_in_frame", 3}, {"output_id", -1}}}},
        {"timelines",
         QJsonArray {QJsonObject {{"_id", cut.toString()}, {"name", "Cut"}, {"playback_frame", 7},
                                  {"range_start_frame", 4}, {"range_end_frame", 150}, {"output_id", -1},
                                  {"tracks", QJsonArray {QJsonObject {{"clips", QJsonArray {
                                      QJsonObject {{"source_id", late.toString()}},
                                      QJsonObject {{"source_id", here.toString()}}}}}}}}}},
        {"z_bookmarks", QJsonArray {QJsonObject {{"parent", late.toString()}, {"clip_index", 0},
                                                 {"frame_data", QJsonArray {QJsonObject {
                                                     {"frame", 12}, {"strokes", QJsonArray {StrokeObject("1,2;")}}}}}}}}};
    QString const path = SavePath(QStringLiteral("show.zeph"));
    WriteAll(path, Json(root));

    QVERIFY(mManager->OpenProject(path));
    QCOMPARE(mManager->ProjectPtr()->FindSourceTimelineById(here)->SourcePtr()->CutOutFrame(), 99);
    QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
    QVERIFY(mManager->SaveProject());
    QJsonObject const saved = QJsonDocument::fromJson(ReadAll(path)).object();
    QJsonObject lateObject;
    for (QJsonValue const& value : saved.value("sources").toArray())
    {
        if (value.toObject().value("_id").toString() == late.toString())
        {
            lateObject = value.toObject();
        }
    }
    QCOMPARE(lateObject.value("path").toString(), offline);
    QCOMPARE(lateObject.value("cut_in_frame").toInt(), 5);
    QCOMPARE(lateObject.value("cut_out_frame").toInt(), 80);
    QCOMPARE(lateObject.value("playback_frame").toInt(), 33);
    QCOMPARE(lateObject.value("range_bookmarks").toString(), QStringLiteral("10,20"));
    QJsonObject const cutObject = saved.value("timelines").toArray().first().toObject();
    QCOMPARE(cutObject.value("range_start_frame").toInt(), 4);
    QCOMPARE(cutObject.value("range_end_frame").toInt(), 150);
    QCOMPARE(cutObject.value("playback_frame").toInt(), 7);
    QCOMPARE(saved.value("z_bookmarks").toArray().size(), 1);
    QCOMPARE(warnings.count(), 1);
    QCOMPARE(warnings.at(0).at(0).toString(), QStringLiteral("Saved without its media, as it was read: %1").arg(offline));

    // The drive is back: refreshed in this session, or opened again.
    QVERIFY(QDir().mkpath(QFileInfo(offline).absolutePath()));
    QVERIFY(QFile::copy(Media("h264_cfr25.mp4"), offline));
    for (bool const reopen : {false, true})
    {
        if (reopen)
        {
            QVERIFY(mManager->OpenProject(path));
        }
        else
        {
            mManager->RefreshSource(late);
        }
        Project* project = mManager->ProjectPtr();
        TimelineItem* back = project->FindSourceTimelineById(late);
        QVERIFY(back && !back->SourcePtr()->HasErrors());
        QCOMPARE(back->SourcePtr()->CutInFrame(), 5);
        QCOMPARE(back->SourcePtr()->CutOutFrame(), 80);
        QCOMPARE(back->TimelinePtr()->PlaybackFrame(), 33);
        QVERIFY(back->TimelinePtr()->FrameBookmarkAt(12));
        Timeline* edit = project->FindTimelineById(cut, false)->TimelinePtr();
        QCOMPARE(edit->PlaybackRangeStartFrame(), 4);
        QCOMPARE(edit->PlaybackRangeEndFrame(), 150);
        QCOMPARE(edit->PlaybackFrame(), 7);
    }
}

void TestProjectFile::SourceTimedOutKeepsWhatTheFileHeld()
{
    // No engine answers: the parse of the file's source is given up, but the
    // source stays with its cuts, bookmarks and the clip that uses it.
    Project project;
    QUuid const slow = QUuid::createUuid();
    QUuid const cut = QUuid::createUuid();
    QString const media = QStringLiteral("/nonexistent-tessarin-media/slow.mov");
    QJsonDocument const document(QJsonObject {
        {"_meta", Meta()},
        {"sources", QJsonArray {QJsonObject {{"_id", slow.toString()}, {"name", "Slow one"}, {"path", media},
                                             {"playback_frame", 33}, {"cut_in_frame", 5}, {"cut_out_frame", 80},
                                             {"output_id", -1}}}},
        {"timelines", QJsonArray {QJsonObject {
                          {"_id", cut.toString()}, {"range_start_frame", 4}, {"range_end_frame", 150},
                          {"output_id", -1},
                          {"tracks", QJsonArray {QJsonObject {
                                         {"clips", QJsonArray {QJsonObject {{"source_id", slow.toString()}}}}}}}}}},
        {"z_bookmarks",
         QJsonArray {QJsonObject {{"parent", slow.toString()}, {"clip_index", 0},
                                  {"frame_data", QJsonArray {QJsonObject {{"frame", 12}, {"strokes", QJsonArray {}}}}}},
                     QJsonObject {{"parent", cut.toString()}, {"clip_index", 0},
                                  {"frame_data", QJsonArray {QJsonObject {{"frame", 2}, {"strokes", QJsonArray {}}}}}}}}});
    Project::SetParseTimeout(30);
    QVERIFY(project.ReadProject(document, SavePath(QStringLiteral("slow.zeph")), true));
    Project::SetParseTimeout(Project::DEFAULT_PARSE_TIMEOUT_MS);

    TimelineItem* item = project.FindSourceTimelineById(slow);
    QVERIFY(item);
    QCOMPARE(item->Name(), QStringLiteral("Slow one"));
    QCOMPARE(item->SourcePtr()->ErrorString(), QStringLiteral("Media parsing failed"));
    QCOMPARE(item->SourceClip()->FrameBookmarkList().size(), 1);
    Timeline* edit = project.FindTimelineById(cut, false)->TimelinePtr();
    QCOMPARE(edit->ClipCount(), 1);
    QCOMPARE(edit->ClipAtIndex(0)->FrameBookmarkList().size(), 1);

    QJsonObject root;
    project.WriteProject(root);
    QJsonObject const source = root.value("sources").toArray().first().toObject();
    QCOMPARE(source.value("_id").toString(), slow.toString());
    QCOMPARE(source.value("path").toString(), media);
    QCOMPARE(source.value("cut_in_frame").toInt(), 5);
    QCOMPARE(source.value("cut_out_frame").toInt(), 80);
    QCOMPARE(source.value("playback_frame").toInt(), 33);
    QJsonObject const timeline = root.value("timelines").toArray().first().toObject();
    QCOMPARE(timeline.value("range_end_frame").toInt(), 150);
    QCOMPARE(timeline.value("tracks").toArray().first().toObject().value("clips").toArray().first().toObject()
                 .value("source_id").toString(),
             slow.toString());
    QCOMPARE(root.value("z_bookmarks").toArray().size(), 2);
}

void TestProjectFile::ImportAddsOnlyTheSources()
{
    ProjectManager& pm = *mManager;
    QUuid const mine = pm.DoAddTimelineCmd(QStringLiteral("Mine"), QUuid());
    pm.SetDefaultTimeline(mine);
    Project* project = pm.ProjectPtr();
    QList<bool> expanded;
    for (FolderItem const* folder : project->TopLevelFolders())
    {
        expanded << folder->IsExpanded();
    }

    QUuid const folder = QUuid::createUuid();
    QUuid const theirs = QUuid::createUuid();
    QUuid const source = QUuid::createUuid();
    QString const path = SavePath(QStringLiteral("other.zeph"));
    WriteAll(path, Json(QJsonObject {
                       {"_meta", Meta()},
                       {"folders", QJsonArray {QJsonArray {false, false, false},
                                               QJsonObject {{"_id", folder.toString()}, {"name", "Theirs"}}}},
                       {"sources", QJsonArray {QJsonObject {{"_id", source.toString()}, {"parent_id", folder.toString()},
                                                            {"path", Media("h264_cfr25.mp4")}, {"output_id", -1}}}},
                       {"timelines", QJsonArray {QJsonObject {
                                         {"_id", theirs.toString()}, {"name", "Theirs"}, {"is_default", true},
                                         {"output_id", -1},
                                         {"tracks", QJsonArray {QJsonObject {{"clips", QJsonArray {QJsonObject {
                                                                                {"source_id", source.toString()}}}}}}}}}}}));
    QVERIFY(pm.ImportProject(path, false));
    QCOMPARE(pm.ProjectPtr(), project);
    QVERIFY(project->FindSourceTimelineById(source));
    QCOMPARE(project->FindSourceTimelineById(source)->ParentId(), project->SourceTimelineFolder()->Id());
    QCOMPARE(project->DefaultTimelineId(), mine);
    QVERIFY(!project->FindTimelineById(theirs, true));
    QVERIFY(!project->FindFolderById(folder));
    QList<bool> after;
    for (FolderItem const* top : project->TopLevelFolders())
    {
        after << top->IsExpanded();
    }
    QCOMPARE(after, expanded);
}

void TestProjectFile::SaveOverAFileChangedOnDiskNeedsAYes()
{
    ProjectManager& pm = *mManager;
    QString const path = SavePath(QStringLiteral("shared.zeph"));
    pm.SetProjectPath(path);
    pm.DoAddFolderCmd(QStringLiteral("First"), QUuid(), {});
    QVERIFY(pm.SaveProject());

    // Another player saves the same file.
    QByteArray const theirs = ReadAll(path).replace("First", "Other");
    WriteAll(path, theirs);
    pm.DoAddFolderCmd(QStringLiteral("Mine"), QUuid(), {});
    QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
    QVERIFY(!pm.SaveProject()); // nobody to ask: never overwritten
    QCOMPARE(ReadAll(path), theirs);
    QVERIFY(!pm.IsUndoClean());
    QCOMPARE(warnings.count(), 1);

    QStringList asked;
    bool overwrite = false;
    pm.SetOverwriteChangedFileQuestion([&asked, &overwrite](QString const& file) {
        asked << file;
        return overwrite;
    });
    QVERIFY(!pm.SaveProject());
    QCOMPARE(asked, QStringList {path});
    QCOMPARE(ReadAll(path), theirs);
    overwrite = true;
    QVERIFY(pm.SaveProject());
    QVERIFY(ReadAll(path).contains("Mine"));
    QVERIFY(pm.IsUndoClean());

    // Its own save is no change; nor is a touch that leaves the bytes.
    asked.clear();
    QFile touched(path);
    QVERIFY(touched.open(QIODevice::ReadWrite));
    QVERIFY(touched.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    touched.close();
    QVERIFY(pm.SaveProject());
    QVERIFY(asked.isEmpty());

    // Changed after it was opened.
    QVERIFY(pm.OpenProject(path));
    WriteAll(path, theirs);
    overwrite = false;
    QVERIFY(!pm.SaveProject());
    QCOMPARE(asked, QStringList {path});
    QCOMPARE(ReadAll(path), theirs);

    // Saved as another file: the file chooser asked about that one.
    pm.SetProjectPath(SavePath(QStringLiteral("elsewhere.zeph")));
    QVERIFY(pm.SaveProject());
    QCOMPARE(asked.size(), 1);
}


namespace
{
// Folders nested `depth` deep below the project folder, in the current format
// or (with the parent named after the child) the older one.
QJsonArray FolderChain(int depth, bool legacy, QList<QUuid>& ids)
{
    QJsonArray folders;
    if (!legacy)
    {
        folders.append(QJsonArray {true, true, true});
    }
    for (int i = 0; i < depth; ++i)
    {
        ids.append(QUuid::createUuid());
        QJsonObject folder {{"_id", ids.last().toString()}, {"name", QString("level %1").arg(i + 1)}, {"index", 0}};
        if (i > 0)
        {
            folder.insert("parent_id", ids.at(i - 1).toString());
        }
        folders.append(folder);
    }
    return folders;
}
} // namespace

void TestProjectFile::DeepFolderTreesAreRefusedWhole()
{
    int const deepest = Project::MAXIMUM_FOLDER_DEPTH;
    QUuid const kept = mManager->DoAddFolderCmd(QStringLiteral("Keep me"), QUuid(), {});
    Project const* project = mManager->ProjectPtr();
    for (bool const legacy : {false, true})
    {
        QList<QUuid> ids;
        QString const tooDeep = SavePath(legacy ? "deep.vorna" : "deep.zeph");
        WriteAll(tooDeep, Json({{"_meta", Meta(legacy ? "vorna" : "zeph")},
                                {"folders", FolderChain(deepest + 1, legacy, ids)}}));
        LoggedMessages errors(&Logger::ErrorLogged);
        QVERIFY(!mManager->OpenProject(tooDeep));
        QVERIFY(!mManager->ImportProject(tooDeep, false));
        QCOMPARE(mManager->ProjectPtr(), project);
        QVERIFY(mManager->FindFolderById(kept));
        QVERIFY(!mManager->FindFolderById(ids.first()));
        QCOMPARE(errors.Count(), 2);
        QVERIFY(errors.Messages().first().contains(QString::number(deepest)));
    }

    // As deep as allowed: the whole chain opens and survives a save.
    QList<QUuid> ids;
    QString const path = SavePath("deepest.zeph");
    WriteAll(path, Json({{"_meta", Meta()}, {"folders", FolderChain(deepest, false, ids)}}));
    QVERIFY(mManager->OpenProject(path));
    FolderItem* bottom = mManager->FindFolderById(ids.last());
    QVERIFY(bottom);
    QCOMPARE(mManager->ProjectPtr()->FindFolderById(ids.at(deepest - 2))->ChildItems(), QList<ProjectItem*>{bottom});
    QVERIFY(mManager->ProjectPtr()->IsDescendentOfFolder(ids.last(), mManager->FindFolderById(ids.first())));
    QVERIFY(mManager->SaveProject());
    QVERIFY(mManager->OpenProject(path));
    QCOMPARE(mManager->FindFolderById(ids.last())->ParentId(), ids.at(deepest - 2));

    // The older format read by its path: refused as deep, or read whole into
    // the project without taking its path.
    Project* project2 = mManager->ProjectPtr();
    LoggedMessages errors(&Logger::ErrorLogged);
    QVERIFY(!project2->ImportLegacyVornaProject(SavePath("deep.vorna"), false));
    QVERIFY(!project2->ImportLegacyVornaProject(SavePath("none.vorna"), false));
    QCOMPARE(errors.Messages().last(),
             QString("Failed to open project. File does not exist: %1").arg(SavePath("none.vorna")));
    QList<QUuid> legacyIds;
    QString const legacy = SavePath("deepest.vorna");
    WriteAll(legacy, Json({{"_meta", Meta("vorna")}, {"folders", FolderChain(deepest, true, legacyIds)}}));
    QVERIFY(project2->ImportLegacyVornaProject(legacy, false));
    QCOMPARE(Settings::projectPath, path);
    QCOMPARE(project2->FindFolderById(legacyIds.last())->ParentId(), legacyIds.at(deepest - 2));
}

void TestProjectFile::ManyRangeBookmarksReadSortedOnce()
{
    // Written out of order with repeats, as only a hand-made file holds them.
    QStringList numbers;
    QList<QPair<int, int>> expected;
    for (int i = 4000; i >= 0; --i)
    {
        numbers << QString::number(i % 2000) << QString::number(i % 3);
        expected.append({i % 2000, i % 3});
    }
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    QUuid const id = QUuid::createUuid();
    QString const path = SavePath("ranges.zeph");
    WriteAll(path, Json({{"_meta", Meta()},
                         {"sources", QJsonArray {QJsonObject {{"_id", id.toString()},
                                                              {"path", Media("h264_cfr25.mp4")},
                                                              {"playback_frame", 0},
                                                              {"range_bookmarks", numbers.join(',')}}}}}));
    QVERIFY(mManager->OpenProject(path));
    TimelineItem* item = mManager->ProjectPtr()->FindSourceTimelineById(id);
    QVERIFY(item);
    QList<QPair<int, int>> read;
    for (RangeBookmark const* range : item->TimelinePtr()->RangeBookmarkList())
    {
        read.append({range->startFrame, range->endFrame});
    }
    QCOMPARE(read, expected);
}

namespace
{
// What the resident memory grew by at its peak while the call ran, in kB.
long long PeakGrowthKilobytes(std::function<void()> const& call)
{
    BenchMemory::PeakSampler sampler({});
    long long const before = BenchMemory::ResidentKilobytes();
    call();
    sampler.Stop();
    return sampler.PeakKilobytes() - before;
}

// Lists far longer than the clip, up to the size cap: the clip takes one
// bookmark per frame, the rest is dropped with a warning, and the reader
// never holds a string per entry (gigabytes for these files).
constexpr long long MAXIMUM_LIST_GROWTH_KILOBYTES = 300 * 1024;
} // namespace

void TestProjectFile::BookmarkFileListsReadAsQSettingsReadsThem_data()
{
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<QByteArray>("ranges");
    QTest::newRow("as written") << QByteArray("\"1,5,5,x\"") << QByteArray("\"10,20\", 7");
    QTest::newRow("unquoted") << QByteArray(" 1 , 2 ,, 3 ,") << QByteArray("10,20");
    QTest::newRow("quoted parts") << QByteArray("\"1\", \" 2 \",4\"0\"") << QByteArray("\" 4 , 6 \",\"9,8,7\"");
    QTest::newRow("escaped") << QByteArray("1\\,2,3") << QByteArray("\"4,5\"\\, \"6,7\"");
    QTest::newRow("comment") << QByteArray("1,2 ; 3") << QByteArray("\"4,5\" ; \"6,7\"");
    QTest::newRow("typed") << QByteArray("@Invalid()") << QByteArray("@Invalid()");
    QTest::newRow("out of the clip") << QByteArray("0,-4,2147483647,99999") << QByteArray("\"0,5\",\"-1,2\"");
}

void TestProjectFile::BookmarkFileListsReadAsQSettingsReadsThem()
{
    // The lists are read past QSettings: what is read is what QSettings and
    // the list rules give for the same file.
    QFETCH(QByteArray, frames);
    QFETCH(QByteArray, ranges);
    QString const bmk = SavePath(QStringLiteral("lists.bmk"));
    WriteAll(bmk, "[main]\nmediaPath=" + Media("h264_cfr25.mp4").toUtf8() + "\nframes=" + frames +
                      "\nranges=" + ranges + "\n");
    QList<int> expectedFrames;
    QList<QPair<int, int>> expectedRanges;
    {
        QSettings file(bmk, QSettings::IniFormat);
        QVariant const value = file.value("main/frames");
        for (int frame : LegacyYarvReader::StringToFrames(value.typeId() == QMetaType::QStringList
                                                         ? value.toStringList().join(',')
                                                         : value.toString()))
        {
            expectedFrames.append(frame - 1);
        }
        QList<int> const ends = LegacyYarvReader::StringListToRanges(file.value("main/ranges").toStringList());
        for (int i = 0; i + 1 < ends.size(); i += 2)
        {
            if (ends.at(i) > 0 && ends.at(i + 1) > 0)
                expectedRanges.append({ends.at(i) - 1, ends.at(i + 1) - 1});
        }
    }
    QVERIFY(mManager->ImportProject(bmk, true));
    QCOMPARE(mManager->ProjectPtr()->SourceTimelines().size(), 1);
    Timeline* timeline = mManager->ProjectPtr()->SourceTimelines().first()->TimelinePtr();
    expectedFrames.removeIf([timeline](int frame) { return frame < 0 || frame >= timeline->FrameCount(); });
    std::sort(expectedFrames.begin(), expectedFrames.end());
    expectedFrames.erase(std::unique(expectedFrames.begin(), expectedFrames.end()), expectedFrames.end());
    std::sort(expectedRanges.begin(), expectedRanges.end());
    QList<int> readFrames;
    for (FrameBookmark const* bookmark : timeline->FrameBookmarkList())
    {
        readFrames.append(bookmark->frame);
    }
    QList<QPair<int, int>> readRanges;
    for (RangeBookmark const* range : timeline->RangeBookmarkList())
    {
        readRanges.append({range->startFrame, range->endFrame});
    }
    QCOMPARE(readFrames, expectedFrames);
    QCOMPARE(readRanges, expectedRanges);
}

void TestProjectFile::HugeBookmarkFileListReadInBoundedMemory()
{
    QString const bmk = SavePath(QStringLiteral("huge-list.bmk"));
    qsizetype entries = 0;
    {
        QByteArray round;
        for (int frame = 1; frame <= 100000; ++frame)
        {
            round += QByteArray::number(frame) + ',';
        }
        QFile file(bmk);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray const head = "[main]\nmediaPath=" + Media("h264_cfr25.mp4").toUtf8() + "\nranges=\"10,20\", 7\n";
        QVERIFY(file.write(head + "frames=") > 0);
        while (file.size() < 40 * 1024 * 1024)
        {
            QVERIFY(file.write(round) == round.size());
            entries += 100000;
        }
        QVERIFY(file.write("\ncurrent=3\n") > 0);
    }
    LoggedMessages warnings(&Logger::WarningLogged);
    bool imported = false;
    long long const growth = PeakGrowthKilobytes([&] { imported = mManager->ImportProject(bmk, true); });
    QVERIFY(imported);
    QVERIFY2(growth < MAXIMUM_LIST_GROWTH_KILOBYTES, qPrintable(QStringLiteral("grew by %1 kB").arg(growth)));
    QCOMPARE(mManager->ProjectPtr()->SourceTimelines().size(), 1);
    Timeline* timeline = mManager->ProjectPtr()->SourceTimelines().first()->TimelinePtr();
    int const frames = timeline->FrameCount();
    QVERIFY(frames > 0 && frames < 100000);
    QCOMPARE(timeline->FrameBookmarkList().size(), frames);
    QVERIFY(timeline->FrameBookmarkAt(0) && timeline->FrameBookmarkAt(frames - 1));
    // The lines around the list read as before.
    QCOMPARE(timeline->RangeBookmarkList().size(), 1);
    QCOMPARE(timeline->PlaybackFrame(), 2);
    QCOMPARE(warnings.Count(), 1);
    QVERIFY2(warnings.Messages().first().contains(QString::number(entries - frames)),
             qPrintable(warnings.Messages().first()));
}

void TestProjectFile::HugeRangeBookmarkTextReadInBoundedMemory()
{
    QString const zeph = SavePath(QStringLiteral("huge-ranges.zeph"));
    QUuid const id = QUuid::createUuid();
    qsizetype entries = 0;
    {
        QByteArray ranges;
        ranges.reserve(29 * 1024 * 1024);
        // Short entries, as many as fit: 100 ranges over and over.
        for (int i = 0; ranges.size() < 28 * 1024 * 1024; ++i, ++entries)
        {
            ranges += QByteArray::number(i % 10) + ',' + QByteArray::number(i / 10 % 10) + ',';
        }
        QByteArray json = Json({{"_meta", Meta()},
                                {"sources", QJsonArray {QJsonObject {{"_id", id.toString()},
                                                                     {"path", Media("h264_cfr25.mp4")},
                                                                     {"playback_frame", 0},
                                                                     {"range_bookmarks", "@ranges@"}}}}});
        WriteAll(zeph, json.replace("@ranges@", ranges));
    }
    LoggedMessages warnings(&Logger::WarningLogged);
    bool opened = false;
    long long const growth = PeakGrowthKilobytes([&] { opened = mManager->OpenProject(zeph); });
    QVERIFY(opened);
    QVERIFY2(growth < MAXIMUM_LIST_GROWTH_KILOBYTES, qPrintable(QStringLiteral("grew by %1 kB").arg(growth)));
    TimelineItem* item = mManager->ProjectPtr()->FindSourceTimelineById(id);
    QVERIFY(item);
    QCOMPARE(item->TimelinePtr()->RangeBookmarkList().size(), 100);
    QCOMPARE(warnings.Count(), 1);
    qsizetype const dropped = entries - ProjectFileFormat::MINIMUM_RANGE_BOOKMARK_LIMIT;
    QVERIFY2(warnings.Messages().first().contains(QString::number(dropped)), qPrintable(warnings.Messages().first()));
}

QTEST_MAIN(TestProjectFile)
#include "tst_projectfile.moc"
