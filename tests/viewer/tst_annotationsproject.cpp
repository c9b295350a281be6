// TESSARIN_TEST: own-home
#include "OverlayFixtures.h"

#include "app/Logger.h"
#include "model/Project.h"
#include "model/ParseSourceData.h"
#include "model/ProjectManager.h"
#include "model/StrokeDataCodec.h"
#include "model/TimelineItem.h"

#include "support/TestMedia.h"

#include <QtTest>

#include <QDataStream>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <memory>

using namespace OverlayFixtures;

// Strokes in project files: every type opens, shows and saves back equal;
// hostile path data costs only its own stroke.
class TestAnnotationsProject : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void EveryStrokeTypeOpensShowsAndSavesBackEqual();
    void HostilePathDataCostsOnlyItsStroke();

private:
    // A project of one source timeline with a bookmark on frame 5 holding a
    // stroke of every type, saved; returns the file's JSON.
    QJsonObject SaveSample(ProjectManager& manager, QString const& path);
    static QJsonObject Read(QString const& path);
    static bool Write(QString const& path, QJsonObject const& root);
    static Timeline* OnlySourceTimeline(ProjectManager& manager);

    QTemporaryDir mDir;
};

namespace
{
    QList<StrokeData> EveryType()
    {
        QList<StrokeData> strokes;
        for (int type = 0; type <= 7; ++type)
        {
            StrokeData stroke = SquareStroke(QPointF(-0.3 + 0.08 * type, 0.0), QColor(255, 0, 0), 0.01, 20.0f);
            stroke.type = type;
            if (type == 3)
            {
                stroke.text = QStringLiteral("note %1").arg(type);
                stroke.path = QPainterPath();
            }
            if (type == 1 || type == 2)
            {
                stroke.color = type == 2 ? QColor(Qt::black) : QColor(255, 0, 0, 128);
            }
            strokes.append(stroke);
        }
        return strokes;
    }
}

void TestAnnotationsProject::initTestCase()
{
    UseSoftwareRendering();
    ResetAnnotationSettings();
    QVERIFY(mDir.isValid());
}

QJsonObject TestAnnotationsProject::Read(QString const& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
    {
        return {};
    }
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool TestAnnotationsProject::Write(QString const& path, QJsonObject const& root)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(QJsonDocument(root).toJson()) > 0;
}

Timeline* TestAnnotationsProject::OnlySourceTimeline(ProjectManager& manager)
{
    auto const& sources = manager.ProjectPtr()->SourceTimelines();
    return sources.size() == 1 ? sources.first()->TimelinePtr() : nullptr;
}

QJsonObject TestAnnotationsProject::SaveSample(ProjectManager& manager, QString const& path)
{
    manager.NewProject(true);
    ParseSourceData data;
    data.path = TestMedia::Path(QStringLiteral("h264_cfr25.mp4"));
    manager.DoAddSourceTimelinesCmd({data});
    Timeline* timeline = OnlySourceTimeline(manager);
    if (!timeline)
    {
        return {};
    }
    timeline->InsertFrameBookmark(5);
    timeline->FrameBookmarkAt(5)->strokes = EveryType();
    timeline->BackgroundFrameBookmark()->strokes.append(DotStroke(QPointF(0.2, 0.2), Qt::white));
    manager.SetProjectPath(path);
    if (!manager.SaveProject())
    {
        return {};
    }
    return Read(path);
}

void TestAnnotationsProject::EveryStrokeTypeOpensShowsAndSavesBackEqual()
{
    ProjectManager manager;
    QString const first = mDir.filePath(QStringLiteral("strokes.zeph"));
    QJsonObject const saved = SaveSample(manager, first);
    QVERIFY(saved.contains(QStringLiteral("z_bookmarks")));

    QVERIFY(manager.OpenProject(first));
    Timeline* timeline = OnlySourceTimeline(manager);
    QVERIFY(timeline);
    FrameBookmark* bookmark = timeline->FrameBookmarkAt(5);
    QVERIFY(bookmark);
    QList<StrokeData> const expected = EveryType();
    QCOMPARE(bookmark->strokes.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
    {
        QCOMPARE(bookmark->strokes.at(i).type, expected.at(i).type);
        QCOMPARE(bookmark->strokes.at(i).path, expected.at(i).path);
        QCOMPARE(bookmark->strokes.at(i).color, expected.at(i).color);
        QCOMPARE(bookmark->strokes.at(i).text, expected.at(i).text);
    }
    QCOMPARE(timeline->BackgroundFrameBookmark()->strokes.size(), 1);

    // Shown on frame 5: the rectangle, and the background dot.
    timeline->SetOutputId(0);
    timeline->SetPlaybackFrame(5);
    Scene scene(timeline);
    QImage const image = scene.Grab();
    QVERIFY(IsRed(image.pixelColor(Scene::Screen(QPointF(-0.3 + 0.08 * 7 - 0.01, 0.0)))));
    QCOMPARE(image.pixelColor(Scene::Screen(QPointF(0.2, 0.2))), QColor(Qt::white));

    QString const second = mDir.filePath(QStringLiteral("again.zeph"));
    manager.SetProjectPath(second);
    QVERIFY(manager.SaveProject());
    QCOMPARE(Read(second).value(QStringLiteral("z_bookmarks")), saved.value(QStringLiteral("z_bookmarks")));
}

void TestAnnotationsProject::HostilePathDataCostsOnlyItsStroke()
{
    ProjectManager manager;
    QString const path = mDir.filePath(QStringLiteral("hostile.zeph"));
    QJsonObject root = SaveSample(manager, path);
    QJsonArray groups = root.value(QStringLiteral("z_bookmarks")).toArray();
    QVERIFY(!groups.isEmpty());

    QByteArray huge;
    {
        QDataStream stream(&huge, QIODevice::WriteOnly);
        stream << qint32(0x7fffffff) << qint32(0) << 0.0 << 0.0;
    }
    QByteArray badType;
    {
        QDataStream stream(&badType, QIODevice::WriteOnly);
        stream << qint32(2) << qint32(0) << 0.0 << 0.0 << qint32(9) << 1.0 << 1.0 << qint32(0) << qint32(0);
    }
    QString const truncated = StrokeDataCodec::EncodePath(EveryType().at(7).path).left(20);
    QStringList const hostile {QString::fromLatin1(huge.toBase64()), QString::fromLatin1(badType.toBase64()),
                               truncated + QStringLiteral("===="), QStringLiteral("!!not base64!!")};
    int replaced = 0;
    for (int g = 0; g < groups.size(); ++g)
    {
        QJsonObject group = groups.at(g).toObject();
        if (group.value(QStringLiteral("clip_index")).toInt() < 0)
        {
            continue;
        }
        QJsonArray frames = group.value(QStringLiteral("frame_data")).toArray();
        QJsonObject frame = frames.at(0).toObject();
        QJsonArray strokes = frame.value(QStringLiteral("strokes")).toArray();
        for (int i = 0; i < hostile.size(); ++i)
        {
            QJsonObject stroke = strokes.at(i + 4).toObject(); // arrow, ellipse, rectangle... types 4 to 7
            stroke.insert(QStringLiteral("path"), hostile.at(i));
            strokes.replace(i + 4, stroke);
            ++replaced;
        }
        frame.insert(QStringLiteral("strokes"), strokes);
        frames.replace(0, frame);
        group.insert(QStringLiteral("frame_data"), frames);
        groups.replace(g, group);
    }
    QCOMPARE(replaced, 4);
    root.insert(QStringLiteral("z_bookmarks"), groups);
    QVERIFY(Write(path, root));

    QStringList warnings;
    connect(Logger::GetInstance(), &Logger::WarningLogged, this,
            [&warnings](QString const& message) { warnings.append(message); });
    QVERIFY(manager.OpenProject(path));
    Timeline* timeline = OnlySourceTimeline(manager);
    QVERIFY(timeline);
    FrameBookmark* bookmark = timeline->FrameBookmarkAt(5);
    QVERIFY(bookmark);
    QCOMPARE(bookmark->strokes.size(), 4);
    for (int i = 0; i < 4; ++i)
    {
        QCOMPARE(bookmark->strokes.at(i).type, i);
    }
    QCOMPARE(warnings.filter(QStringLiteral("Annotation stroke skipped")).size(), 4);
    timeline->SetOutputId(0);
    timeline->SetPlaybackFrame(5);
    Scene scene(timeline);
    QVERIFY(IsRed(scene.Grab().pixelColor(Scene::Screen(QPointF(-0.3 - 0.01, 0.0)))));
}

QTEST_MAIN(TestAnnotationsProject)
#include "tst_annotationsproject.moc"
