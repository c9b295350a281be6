#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/PlatformIntegration.h"
#include "app/Settings.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// Stands in for the desktop's file manager on a private session bus.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList mUris;
    QString mStartupId;

public Q_SLOTS:
    void ShowItems(QStringList const& uris, QString const& startupId)
    {
        mUris = uris;
        mStartupId = startupId;
    }
};

class TestFileHelpers : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mHome;
    QTemporaryDir mFiles;
    QProcess mBus;

    QString Touch(QString const& relativePath, QByteArray const& content = QByteArray())
    {
        QString const path = mFiles.filePath(relativePath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(content);
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(mHome.isValid() && mFiles.isValid());
        // The recent-list functions rewrite the settings file: keep it in a scratch home.
        qputenv("HOME", mHome.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", mHome.filePath(".config").toUtf8());
        QVERIFY(FileHelpers::GetUserConfigFilePath().startsWith(mHome.path() + "/"));
    }

    void cleanupTestCase()
    {
        mBus.kill();
        mBus.waitForFinished();
    }

    void userPaths()
    {
        QString const userDir = FileHelpers::GetRootDir() + "/tessarin_orvel";
        QCOMPARE(FileHelpers::GetUserDirPath(), userDir);
        QCOMPARE(FileHelpers::GetUserConfigDirPath(), userDir + "/config");
        QCOMPARE(FileHelpers::GetUserTempDirPath(), userDir + "/temp");
        QCOMPARE(FileHelpers::GetLogFilePath(), userDir + "/temp/TessarinORVEL.log");
        QCOMPARE(FileHelpers::GetExportDirPath(), userDir);

        FileHelpers::SetUserTempDirPath("/scratch");
        QCOMPARE(FileHelpers::GetLogFilePath(), QString("/scratch/TessarinORVEL.log"));
        FileHelpers::SetUserTempDirPath(QString());
    }

    void parseMediaPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("error");

        QString const naming = "Failed to parse source path. Invalid file naming: %1";
        QTest::newRow("plain") << "/a/b.mov" << true << QStringList{"/a/b.mov"} << "";
        QTest::newRow("trimmed") << "  /a/b.mov \n" << true << QStringList{"/a/b.mov"} << "";
        QTest::newRow("blank in folder") << "/a/my file.mov" << true << QStringList{"/a/my file.mov"} << "";
        QTest::newRow("no dot") << "/a/b" << false << QStringList() << naming.arg("/a/b");
        QTest::newRow("empty") << "" << false << QStringList() << naming.arg("");
        QTest::newRow("one dot") << "." << false << QStringList() << naming.arg(".");
        QTest::newRow("two dots") << ".." << false << QStringList() << naming.arg("..");
        QTest::newRow("three dots") << "..." << false << QStringList() << naming.arg("...");
        QTest::newRow("dots and blanks") << ". . ." << false << QStringList() << "Failed to parse source path (2): . . .";
        QTest::newRow("range") << "/a/b.####.exr 8-11" << true
                               << QStringList{"/a/b.0008.exr", "/a/b.0009.exr", "/a/b.0010.exr", "/a/b.0011.exr"} << "";
        QTest::newRow("padding never cuts") << "/a/b.#.exr 9-11" << true
                                            << QStringList{"/a/b.9.exr", "/a/b.10.exr", "/a/b.11.exr"} << "";
        QTest::newRow("single frame") << "/a/b.####.exr 5" << true << QStringList{"/a/b.0005.exr"} << "";
        QTest::newRow("extra numbers ignored") << "/a/b.##.exr 1-2-9" << true << QStringList{"/a/b.01.exr", "/a/b.02.exr"}
                                               << "";
        QTest::newRow("reversed range") << "/a/b.####.exr 5-1" << true << QStringList() << "";
        QTest::newRow("percent in folder") << "/a/%1%2/b.#.exr 1" << true << QStringList{"/a/%1%2/b.1.exr"} << "";
        QTest::newRow("bad range") << "/a/b.####.exr x-3" << false << QStringList()
                                   << "Failed to parse source path (6): /a/b.####.exr x-3";
        QTest::newRow("dash only") << "/a/b.####.exr -" << false << QStringList()
                                   << "Failed to parse source path (6): /a/b.####.exr -";
        QTest::newRow("pattern without frames") << "/a.b/my file" << false << QStringList()
                                                << "Failed to parse source path (6): /a.b/my file";
        QTest::newRow("dot too early") << "a.b c" << false << QStringList() << "Failed to parse source path (1): a.b c";
        QTest::newRow("nothing after dot") << "/a/b. x." << false << QStringList()
                                           << "Failed to parse source path (2): /a/b. x.";
        QTest::newRow("list") << "/a/b.###.exr (1-2 7)" << true
                              << QStringList{"/a/b.001.exr", "/a/b.002.exr", "/a/b.007.exr"} << "";
        QTest::newRow("list keeps order and duplicates") << "/a/b.#.exr (3 1-2 3)" << true
                                                         << QStringList{"/a/b.3.exr", "/a/b.1.exr", "/a/b.2.exr", "/a/b.3.exr"}
                                                         << "";
        QTest::newRow("parenthesis in folder") << "/a(x)/b.#.exr (1)" << false << QStringList()
                                               << "Failed to parse source path (3): /a(x)/b.#.exr (1)";
        QTest::newRow("list item three numbers") << "/a/b.#.exr (1-2-3)" << false << QStringList()
                                                 << "Failed to parse source path (4): /a/b.#.exr (1-2-3)";
        QTest::newRow("list item comma") << "/a/b.#.exr (1,2)" << false << QStringList()
                                         << "Failed to parse source path (5): /a/b.#.exr (1,2)";
        QTest::newRow("huge range") << "/a/b.#.exr 0-2147483647" << false << QStringList()
                                    << "Failed to parse source path. Too many frames (2147483648, at most 1000000): "
                                       "/a/b.#.exr 0-2147483647";
        QTest::newRow("six digits") << "/a/b.######.exr 7" << true << QStringList{"/a/b.000007.exr"} << "";
        QTest::newRow("padding too wide") << "/a/b.#######.exr 1-2" << false << QStringList()
                                          << "Failed to parse source path. Frame padding wider than 6: /a/b.#######.exr 1-2";
        QTest::newRow("far more frames than files") << "/a/b.#.exr 1-20001" << false << QStringList()
                                                    << "Failed to parse source path. Too many frames (20001) for the 0 "
                                                       "files found: /a/b.#.exr 1-20001";
        QTest::newRow("huge list") << "/a/b.#.exr (1-600000 1-600000)" << false << QStringList()
                                   << "Failed to parse source path. Too many frames (1200000, at most 1000000): "
                                      "/a/b.#.exr (1-600000 1-600000)";
    }

    void parseMediaPath()
    {
        QFETCH(QString, path);
        QFETCH(bool, ok);
        QFETCH(QStringList, expected);
        QFETCH(QString, error);

        QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
        QList<QString> paths = {"kept"};
        QCOMPARE(FileHelpers::ParseMediaPath(path, paths), ok);
        QCOMPARE(paths, QStringList{"kept"} + expected); // appended, never cleared
        QCOMPARE(errors.size(), error.isEmpty() ? 0 : 1);
        if (!error.isEmpty())
            QCOMPARE(errors.first().first().toString(), error);
    }

    void firstFrameOfHashedPath()
    {
        QString const first = Touch("seq/shot.0001.exr");
        Touch("seq/shot.0002.exr");
        Touch("seq/shot.0000.png");
        QString const dir = QFileInfo(first).absolutePath();

        QCOMPARE(FileHelpers::BuildImageSequencePathFromHashedPath(dir + "/shot.####.exr"), first);
        QCOMPARE(FileHelpers::BuildImageSequencePathFromHashedPath(first), first);
        QCOMPARE(FileHelpers::BuildImageSequencePathFromHashedPath(dir + "/other.####.exr"), dir + "/other.####.exr");
        QCOMPARE(FileHelpers::BuildImageSequencePathFromHashedPath("/missing/dir/shot.####.exr"),
                 QString("/missing/dir/shot.####.exr"));
        QCOMPARE(FileHelpers::BuildImageSequencePathFromHashedPath("..."), QString("..."));
    }

    void fileTypesAndFilters()
    {
        QVERIFY(FileHelpers::IsSupportedMediaFilePath("/a/B.MOV"));
        QVERIFY(!FileHelpers::IsSupportedMediaFilePath("/a/b.wav"));
        QVERIFY(!FileHelpers::IsSupportedMediaFilePath("/a/b.png"));
        QVERIFY(!FileHelpers::IsSupportedMediaFilePath("/a/mov"));
        QVERIFY(FileHelpers::IsImageSequence("/a/b.####.EXR"));
        QVERIFY(!FileHelpers::IsImageSequence(""));
        QVERIFY(FileHelpers::IsLinearColorSpace("b.exr") && !FileHelpers::IsLinearColorSpace("b.dpx"));
        QVERIFY(FileHelpers::IsSupportedProjectFilePath("p.bmk") && FileHelpers::IsSupportedProjectExtension("ZEPH"));

        QCOMPARE(FileHelpers::ProjectFileFilters(), QString("Project Files (*.zeph *.bmk);;All Files (*.*)"));
        QCOMPARE(FileHelpers::DefaultSaveProjectFileFilter(), QString("Project Files (*.zeph)"));
        QCOMPARE(FileHelpers::AudioFileFilterExtensions(), QString("*.aif *.aiff *.wav"));
        QString const media = FileHelpers::MediaFileFilterExtensions();
        QVERIFY(media.startsWith("*.avi *.dpx *.exr *.f4v"));
        QCOMPARE(media.split(' ').size(), 23);
    }

    void recentFiles()
    {
        Settings::numRecentFiles = 5;
        FileHelpers::ClearRecentFiles();
        for (char const* name : {"1.mov", "2.mov", "3.mov", "4.mov", "5.mov"})
            FileHelpers::AddRecentFile(QString("/r/") + name);
        FileHelpers::AddRecentFile("/r/3.mov");
        QCOMPARE(Settings::recentFiles, (QStringList{"/r/3.mov", "/r/5.mov", "/r/4.mov", "/r/2.mov", "/r/1.mov"}));

        FileHelpers::AddRecentFile("/r/6.mov");
        QCOMPARE(Settings::recentFiles, (QStringList{"/r/6.mov", "/r/3.mov", "/r/5.mov", "/r/4.mov", "/r/2.mov"}));
        FileHelpers::AddRecentFile(QString());
        QCOMPARE(Settings::recentFiles.size(), 5);

        // Every change is written straight away.
        QSettings stored(FileHelpers::GetUserConfigFilePath(), QSettings::IniFormat);
        QCOMPARE(stored.value("menu/recentFiles").toStringList(), Settings::recentFiles);

        // A missing most recent file falls back to the root folder; an image sequence to its folder.
        QCOMPARE(FileHelpers::MostRecentFileDirPath(), FileHelpers::GetRootDir());
        QString const frame = Touch("recent/shot.0001.exr");
        FileHelpers::AddRecentFile(QFileInfo(frame).absolutePath() + "/shot.####.exr 1-3");
        QCOMPARE(FileHelpers::MostRecentFileDirPath(), QFileInfo(frame).absolutePath());

        FileHelpers::ClearRecentProjects();
        QCOMPARE(FileHelpers::MostRecentProjectPath(), QString());
        QCOMPARE(FileHelpers::MostRecentProjectDirPath(), FileHelpers::GetRootDir());
    }

    void droppedUrls()
    {
        QString const mov = Touch("drop/a.mov");
        QString const mp4 = Touch("drop/C.mp4");
        QString const project = Touch("drop/p.zeph");
        Touch("drop/b.txt");
        QUrl const folder = QUrl::fromLocalFile(QFileInfo(mov).absolutePath());

        QVERIFY(FileHelpers::ValidFileDropUrls({folder}, false, true).isEmpty());
        QCOMPARE(FileHelpers::ValidFileDropUrls({folder}, true, true),
                 (QList<QUrl>{QUrl::fromLocalFile(mov), QUrl::fromLocalFile(mp4)}));

        QList<QUrl> const dropped = {QUrl::fromLocalFile(mov), QUrl::fromLocalFile(project), QUrl::fromLocalFile(mp4),
                                     QUrl::fromLocalFile(mFiles.filePath("missing.mov")), folder};
        QCOMPARE(FileHelpers::ValidFileDropUrls(dropped, true, true), QList<QUrl>{QUrl::fromLocalFile(project)});
        QCOMPARE(FileHelpers::ValidFileDropUrls(dropped, true, false),
                 (QList<QUrl>{QUrl::fromLocalFile(mov), QUrl::fromLocalFile(mp4)}));

        QCOMPARE(FileHelpers::UrlsToLocalFiles({QUrl("https://host/x.mov"), QUrl::fromLocalFile(mov)}),
                 QList<QString>{mov});
    }

    void sourcePaths()
    {
        Settings::projectPath.clear();
        Settings::sourceRootDirPath.clear();
        QCOMPARE(FileHelpers::RelativeSourcePath("/a/b.mov"), QString());
        QVERIFY(FileHelpers::IsSourceRootDirPathValid());

        QString const root = QDir(mFiles.path()).absolutePath();
        Settings::sourceRootDirPath = root;
        QCOMPARE(FileHelpers::RelativeSourcePath(root + "/sub/b.mov"), QString("sub/b.mov"));
        QCOMPARE(FileHelpers::AbsoluteSourcePath("sub/b.mov"), root + "/sub/b.mov");
        QCOMPARE(FileHelpers::AbsoluteSourcePath(root + "/sub/b.mov"), QString());

        // A missing source root falls back to the project's folder.
        Settings::sourceRootDirPath = root + "/missing";
        QVERIFY(!FileHelpers::IsSourceRootDirPathValid());
        Settings::projectPath = root + "/projects/p.zeph";
        QCOMPARE(FileHelpers::ResolvedSourceRootDirPath(), root + "/projects");
        QCOMPARE(FileHelpers::AbsoluteSourcePath("../clip.mov"), root + "/clip.mov");
        Settings::projectPath.clear();
        Settings::sourceRootDirPath.clear();
    }

    void pathsFromTextFile()
    {
        QString const list = Touch("list.txt", "  /a/b.mov \n\n\t\n/c/d.####.exr 1-3\r\n");
        QCOMPARE(FileHelpers::FilePathsFromTextFile(list), (QList<QString>{"/a/b.mov", "/c/d.####.exr 1-3"}));
        QVERIFY(FileHelpers::FilePathsFromTextFile(mFiles.filePath("missing.txt")).isEmpty());
        // A FIFO without a writer would block the read for good: refused at once.
        QString const fifo = mFiles.filePath("fifo.txt");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(FileHelpers::FilePathsFromTextFile(fifo).isEmpty());
    }

    void showInFileManager()
    {
        // A private session bus that can start no service, so no real file manager opens.
        QString const config = Touch("bus.conf", "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
                                                 "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                                 "<allow eavesdrop=\"true\"/>"
                                                 "<allow own=\"*\"/></policy></busconfig>");
        mBus.start("dbus-daemon", {"--nofork", "--print-address", "--config-file=" + config});
        if (!mBus.waitForStarted() || !mBus.waitForReadyRead(5000))
            QSKIP("dbus-daemon is not available");
        qputenv("DBUS_SESSION_BUS_ADDRESS", mBus.readLine().trimmed());
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.isConnected());

        QString const file = Touch("show/it's a \"clip\" #1.mov");
        bool failed = false;
        PlatformIntegration::ShowInFileManager(file, [&failed] { failed = true; });
        QTRY_VERIFY(failed);

        FakeFileManager fileManager;
        QVERIFY(bus.registerObject("/org/freedesktop/FileManager1", &fileManager, QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService("org.freedesktop.FileManager1"));
        failed = false;
        PlatformIntegration::ShowInFileManager(file, [&failed] { failed = true; });
        QTRY_COMPARE(fileManager.mUris, QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)});
        QVERIFY(fileManager.mUris.first().startsWith("file:///"));
        QCOMPARE(QUrl(fileManager.mUris.first()).toLocalFile(), file);
        QCOMPARE(fileManager.mStartupId, QString(""));
        QVERIFY(!failed);
        bus.unregisterService("org.freedesktop.FileManager1");
    }
};

QTEST_MAIN(TestFileHelpers)
#include "tst_filehelpers.moc"
