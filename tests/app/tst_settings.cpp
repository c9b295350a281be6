#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "support/PathFlipper.h"
#include "support/Watchdog.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <QtTest>

#include <cmath>
#include <functional>
#include <limits>

class TestSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mHome;

    QString WriteIni(QString const& name, QByteArray const& text)
    {
        QString const path = mHome.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
            return QString();
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(mHome.isValid());
        // Never touch the real user's Documents or configuration.
        qputenv("HOME", mHome.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", mHome.filePath(".config").toUtf8());
        qunsetenv("ZEPH_CONFIG_OVERRIDE_PATH");
        QVERIFY(FileHelpers::GetUserConfigFilePath().startsWith(mHome.path() + "/"));
    }

    // Runs first, while every variable still holds its compiled-in value.
    void missingFileKeepsDefaults()
    {
        QCOMPARE(FileHelpers::GetUserConfigFilePath(),
                 FileHelpers::GetRootDir() + "/tessarin_orvel/config/tessarin_orvel.ini");
        QVERIFY(!QFile::exists(FileHelpers::GetUserConfigFilePath()));

        FileHelpers::LoadUserSettings();
        Settings::ReadUserConfig(QString(), QString());
        QCOMPARE(Settings::cacheSize, 512);
        QCOMPARE(Settings::clientApiPort, 17176);
        QCOMPARE(Settings::mayaCommandPort, quint16(20240));
        QCOMPARE(Settings::mayaOffsetPort, quint16(20246));
        QCOMPARE(Settings::scrubFrameIntervalAlt, 5);
        QVERIFY(Settings::annotationColorPresets.isEmpty());

        FileHelpers::SaveUserSettings();
        QSettings written(FileHelpers::GetUserConfigFilePath(), QSettings::IniFormat);
        QCOMPARE(written.childGroups(), (QStringList{"main", "menu", "preferences", "timeControl"}));
        QCOMPARE(written.value("main/version").toInt(), 1);
        QCOMPARE(written.value("preferences/clientApiPort").toInt(), 17176);
    }

    void writtenValuesReadBack()
    {
        QString const path = mHome.filePath("roundtrip/config/settings.ini"); // folders missing
        QByteArray const geometry("\x01\x00\xffgeometry", 11);
        QStringList const recent = {"/shots/a, b.mov", "/shots/\"quoted\".mp4", QString::fromUtf8("/shots/ü ñ.mkv")};

        Settings::windowGeometry = geometry;
        Settings::recentFiles = recent;
        Settings::recentProjects = {"/p/only.zeph"};
        Settings::lastImgCaptureDirPath = "/captures";
        Settings::tempDirPath = "/scratch/temp";
        Settings::waitOnStart = true;
        Settings::loopOnStepScrub = false;
        Settings::volume = 37;
        Settings::cacheSize = 2048;
        Settings::clientApiPort = 9000;
        Settings::mayaCommandPort = 30000;
        Settings::mayaSyncMultiplier = 2.5f;
        Settings::mayaSyncOffset = -12;
        Settings::rangeTimeControlDisplayFormat = 2;
        Settings::WriteUserConfig(path);
        QVERIFY(QFile::exists(path));

        Settings::windowGeometry.clear();
        Settings::recentFiles.clear();
        Settings::recentProjects.clear();
        Settings::lastImgCaptureDirPath.clear();
        Settings::tempDirPath.clear();
        Settings::waitOnStart = false;
        Settings::loopOnStepScrub = true;
        Settings::volume = 100;
        Settings::cacheSize = 512;
        Settings::clientApiPort = 17176;
        Settings::mayaCommandPort = 20240;
        Settings::mayaSyncMultiplier = 1.0f;
        Settings::mayaSyncOffset = 0;
        Settings::rangeTimeControlDisplayFormat = 0;
        Settings::annotationColorPresets.clear();
        Settings::ReadUserConfig(path, QString());

        QCOMPARE(Settings::windowGeometry, geometry);
        QCOMPARE(Settings::recentFiles, recent);
        QCOMPARE(Settings::recentProjects, QStringList{"/p/only.zeph"});
        QCOMPARE(Settings::lastImgCaptureDirPath, QString("/captures"));
        QCOMPARE(Settings::tempDirPath, QString("/scratch/temp"));
        QCOMPARE(Settings::waitOnStart, true);
        QCOMPARE(Settings::loopOnStepScrub, false);
        QCOMPARE(Settings::volume, 37);
        QCOMPARE(Settings::cacheSize, 2048);
        QCOMPARE(Settings::clientApiPort, 9000);
        QCOMPARE(Settings::mayaCommandPort, quint16(30000));
        QCOMPARE(Settings::mayaOffsetPort, quint16(30006));
        QCOMPARE(Settings::mayaSyncMultiplier, 2.5f);
        QCOMPARE(Settings::mayaSyncOffset, -12);
        QCOMPARE(Settings::rangeTimeControlDisplayFormat, 2);

        QCOMPARE(Settings::annotationColorPresets.size(), 16);
        QCOMPARE(Settings::annotationColorPresets.mid(0, 8),
                 (QStringList{"#ff0000", "#00ffff", "#ffff00", "#ff00ff", "#00ff00", "#0000ff", "#ffffff", "#000000"}));
        QCOMPARE(Settings::annotationColorPresets.mid(8), QStringList(8, "#ffffff"));
    }

    void storedValuesAreBroughtIntoRange_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");

        QTest::newRow("cacheSize low") << "cacheSize" << "100" << "512";
        QTest::newRow("cacheSize high") << "cacheSize" << "100000" << "32768";
        QTest::newRow("cacheSize garbage") << "cacheSize" << "lots" << "512";
        QTest::newRow("cacheSize max") << "cacheSize" << "32768" << "32768";
        QTest::newRow("scrubFrameInterval 0") << "scrubFrameInterval" << "0" << "20";
        QTest::newRow("scrubFrameInterval 201") << "scrubFrameInterval" << "201" << "20";
        QTest::newRow("scrubFrameInterval 1") << "scrubFrameInterval" << "1" << "1";
        QTest::newRow("scrubFrameInterval 200") << "scrubFrameInterval" << "200" << "200";
        QTest::newRow("scrubFrameIntervalShift 500") << "scrubFrameIntervalShift" << "500" << "50";
        QTest::newRow("scrubFrameIntervalShift -1") << "scrubFrameIntervalShift" << "-1" << "50";
        QTest::newRow("scrubFrameIntervalAlt 0 gives 20") << "scrubFrameIntervalAlt" << "0" << "20";
        QTest::newRow("scrubFrameIntervalAlt junk") << "scrubFrameIntervalAlt" << "x" << "20";
        QTest::newRow("audioOnScrubType -1") << "audioOnScrubType" << "-1" << "0";
        QTest::newRow("audioOnScrubType 3") << "audioOnScrubType" << "3" << "0";
        QTest::newRow("audioOnScrubType 2") << "audioOnScrubType" << "2" << "2";
        QTest::newRow("clientApiPort 0") << "clientApiPort" << "0" << "17176";
        QTest::newRow("clientApiPort 1") << "clientApiPort" << "1" << "1";
        QTest::newRow("clientApiPort 65535") << "clientApiPort" << "65535" << "65535";
        QTest::newRow("clientApiPort 65536") << "clientApiPort" << "65536" << "17176";
        QTest::newRow("clientApiPort negative") << "clientApiPort" << "-80" << "17176";
        QTest::newRow("clientApiPort junk") << "clientApiPort" << "http" << "17176";
        QTest::newRow("mayaCommandPort wraps") << "mayaCommandPort" << "70000" << "4464";
        QTest::newRow("mayaCommandPort junk") << "mayaCommandPort" << "port" << "0";
        QTest::newRow("mayaSyncMultiplier nan") << "mayaSyncMultiplier" << "nan" << "1";
        QTest::newRow("mayaSyncMultiplier inf") << "mayaSyncMultiplier" << "inf" << "1";
        QTest::newRow("mayaSyncMultiplier -inf") << "mayaSyncMultiplier" << "-inf" << "1";
        QTest::newRow("mayaSyncMultiplier 0.25") << "mayaSyncMultiplier" << "0.25" << "0.25";
        QTest::newRow("hideVolumeControl copied") << "hideVolumeControlCurrentSession" << "true" << "true";
    }

    void storedValuesAreBroughtIntoRange()
    {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(QString, expected);

        QHash<QString, std::function<QString()>> const current = {
            {"cacheSize", [] { return QString::number(Settings::cacheSize); }},
            {"scrubFrameInterval", [] { return QString::number(Settings::scrubFrameInterval); }},
            {"scrubFrameIntervalShift", [] { return QString::number(Settings::scrubFrameIntervalShift); }},
            {"scrubFrameIntervalAlt", [] { return QString::number(Settings::scrubFrameIntervalAlt); }},
            {"audioOnScrubType", [] { return QString::number(Settings::audioOnScrubType); }},
            {"clientApiPort", [] { return QString::number(Settings::clientApiPort); }},
            {"mayaCommandPort", [] { return QString::number(Settings::mayaCommandPort); }},
            {"mayaSyncMultiplier", [] { return QString::number(Settings::mayaSyncMultiplier); }},
            {"hideVolumeControlCurrentSession",
             [] { return Settings::hideVolumeControlCurrentSession ? QString("true") : QString("false"); }},
        };
        QString const storedKey = key == "hideVolumeControlCurrentSession" ? QString("hideVolumeControl") : key;
        // One file per row: QSettings caches files by path, time stamp and size.
        QString const path = WriteIni(QString("%1.ini").arg(QTest::currentDataTag()), QString("[preferences]\n%1=%2\n").arg(storedKey, stored).toUtf8());
        QVERIFY(!path.isEmpty());

        Settings::ReadUserConfig(path, QString());
        QCOMPARE(current.value(key)(), expected);
    }

    void mayaOffsetPortWrapsIn16Bits()
    {
        QString const path = WriteIni("maya.ini", "[preferences]\nmayaCommandPort=65533\n");
        Settings::ReadUserConfig(path, QString());
        QCOMPARE(Settings::mayaCommandPort, quint16(65533));
        QCOMPARE(Settings::mayaOffsetPort, quint16(3));
    }

    void compiledInValuesAreValidated()
    {
        float const nan = std::numeric_limits<float>::quiet_NaN();
        float const inf = std::numeric_limits<float>::infinity();
        struct Case
        {
            char const* name;
            std::function<void()> set;
            std::function<QVariant()> get;
            QVariant expected;
        };
        QList<Case> const cases = {
            {"confirmOnClose -1", [] { Settings::confirmOnClose = -1; }, [] { return Settings::confirmOnClose; }, 1},
            {"confirmOnClose 7", [] { Settings::confirmOnClose = 7; }, [] { return Settings::confirmOnClose; }, 1},
            {"confirmOnClose 2", [] { Settings::confirmOnClose = 2; }, [] { return Settings::confirmOnClose; }, 2},
            {"frame rate low", [] { Settings::defaultImageSequenceFrameRate = 0.5; },
             [] { return Settings::defaultImageSequenceFrameRate; }, 1.0},
            {"frame rate high", [] { Settings::defaultImageSequenceFrameRate = 500.0; },
             [] { return Settings::defaultImageSequenceFrameRate; }, 120.0},
            {"frame rate nan", [] { Settings::defaultImageSequenceFrameRate = std::nan(""); },
             [] { return Settings::defaultImageSequenceFrameRate; }, 24.0},
            {"frame offset low", [] { Settings::defaultTimeControlFrameOffset = -1; },
             [] { return Settings::defaultTimeControlFrameOffset; }, 0},
            {"frame offset high", [] { Settings::defaultTimeControlFrameOffset = 1000000; },
             [] { return Settings::defaultTimeControlFrameOffset; }, 999999},
            {"scrub pixels 0", [] { Settings::viewerScrubPixelsPerFrame = 0; },
             [] { return Settings::viewerScrubPixelsPerFrame; }, 10},
            {"scrub pixels 50", [] { Settings::viewerScrubPixelsPerFrame = 50; },
             [] { return Settings::viewerScrubPixelsPerFrame; }, 50},
            {"ctrl multiplier low", [] { Settings::viewerScrubCtrlMultiplier = 0.05f; },
             [] { return Settings::viewerScrubCtrlMultiplier; }, 2.0f},
            {"ctrl multiplier nan", [nan] { Settings::viewerScrubCtrlMultiplier = nan; },
             [] { return Settings::viewerScrubCtrlMultiplier; }, 2.0f},
            {"shift multiplier high", [] { Settings::viewerScrubShiftMultiplier = 11.0f; },
             [] { return Settings::viewerScrubShiftMultiplier; }, 0.5f},
            {"shift multiplier inf", [inf] { Settings::viewerScrubShiftMultiplier = inf; },
             [] { return Settings::viewerScrubShiftMultiplier; }, 0.5f},
            {"text box width low", [] { Settings::annotationTextBoxWidthScaler = 0.01f; },
             [] { return Settings::annotationTextBoxWidthScaler; }, 0.1f},
            {"text box width inf", [inf] { Settings::annotationTextBoxWidthScaler = inf; },
             [] { return Settings::annotationTextBoxWidthScaler; }, 0.3f},
            {"text box height high", [] { Settings::annotationTextBoxHeightScaler = 2.0f; },
             [] { return Settings::annotationTextBoxHeightScaler; }, 1.0f},
            {"tool increment nan", [nan] { Settings::annotationToolIncrementSize = nan; },
             [] { return Settings::annotationToolIncrementSize; }, 1.0f},
            {"snapshotFormat 2", [] { Settings::snapshotFormat = 2; }, [] { return Settings::snapshotFormat; }, 0},
            {"export width low", [] { Settings::exportGlobalWidth = 100; },
             [] { return Settings::exportGlobalWidth; }, 120},
            {"export height high", [] { Settings::exportGlobalHeight = 5000; },
             [] { return Settings::exportGlobalHeight; }, 4096},
            {"export format upper case", [] { Settings::exportFileFormat = "MOV"; },
             [] { return Settings::exportFileFormat; }, QString("mp4")},
            {"export format wav", [] { Settings::exportFileFormat = "wav"; },
             [] { return Settings::exportFileFormat; }, QString("wav")},
            {"h264Preset 9", [] { Settings::h264Preset = 9; Settings::h264Quality = 2; },
             [] { return QString("%1/%2").arg(Settings::h264Preset).arg(Settings::h264Quality); }, QString("3/2")},
            {"h264Quality -1", [] { Settings::h264Quality = -1; }, [] { return Settings::h264Quality; }, 1},
            {"padding 0", [] { Settings::exportImagePadding = 0; }, [] { return Settings::exportImagePadding; }, 4},
            {"padding 7", [] { Settings::exportImagePadding = 7; }, [] { return Settings::exportImagePadding; }, 4},
            {"numbering 3", [] { Settings::exportImageNumberingType = 3; },
             [] { return Settings::exportImageNumberingType; }, 0},
            {"undo limits", [] { Settings::annotationUndoLimit = -5; Settings::projectUndoLimit = 7; },
             [] { return QString("%1/%2").arg(Settings::annotationUndoLimit).arg(Settings::projectUndoLimit); },
             QString("0/7")},
        };
        for (Case const& c : cases)
        {
            c.set();
            Settings::ValidateUserSettings();
            QVERIFY2(c.get() == c.expected,
                     qPrintable(QString("%1: got %2").arg(c.name, c.get().toString())));
        }
    }

    void recentListsAreTrimmedOnLoad()
    {
        QStringList const files = {"/a.mov", "/b.mov", "/c.mov"};
        QSettings settings(FileHelpers::GetUserConfigFilePath(), QSettings::IniFormat);
        settings.setValue("menu/recentFiles", files);
        settings.setValue("menu/recentProjects", files);
        settings.setValue("preferences/numRecentFiles", -3);
        settings.setValue("preferences/numRecentProjects", 2);
        settings.sync();

        FileHelpers::LoadUserSettings();
        QCOMPARE(Settings::numRecentFiles, 0);
        QVERIFY(Settings::recentFiles.isEmpty());
        QCOMPARE(Settings::numRecentProjects, 2);
        QCOMPARE(Settings::recentProjects, files.mid(0, 2));

        settings.setValue("preferences/numRecentFiles", 25);
        settings.sync();
        FileHelpers::LoadUserSettings();
        QCOMPARE(Settings::numRecentFiles, 10);
    }

    void unreadableFilesAreReportedOnceTheLogIsConnected()
    {
        // Larger than any settings file the player writes: not read at all.
        QString const path = WriteIni("huge.ini", "[preferences]\ncacheSize=1024\n" + QByteArray(2 * 1024 * 1024, ';'));
        Settings::cacheSize = 512;
        QSignalSpy early(Logger::GetInstance(), &Logger::WarningLogged);
        Settings::ReadUserConfig(path, QString());
        QCOMPARE(Settings::cacheSize, 512);
        // Read before the log has an output: the warning waits for it.
        QCOMPARE(early.size(), 0);
        Settings::ReportReadProblems();
        QCOMPARE(early.size(), 1);
        QVERIFY(early.first().first().toString().startsWith("Failed to read the user settings file: " + path));
        Settings::ReportReadProblems();
        QCOMPARE(early.size(), 1);

        // A FIFO in its place is not read either (that would block).
        QString const fifo = mHome.filePath("fifo.ini");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        Settings::ReadUserConfig(fifo, QString());
        Settings::ReportReadProblems();
        QCOMPARE(early.size(), 2);
    }

    void refusedFilesAreNeverWrittenOver()
    {
        // What the player refused to read is the user's: writing the session's
        // defaults over it would lose it. Each is kept, the write said so once.
        QByteArray const hugeText = "[preferences]\ncacheSize=1024\nlongValue=" + QByteArray(1600 * 1024, 'x') + "\n";
        QString const huge = WriteIni("kept-huge.ini", hugeText);
        QString const fifo = mHome.filePath("kept-fifo.ini");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QString const dangling = mHome.filePath("kept-link.ini");
        QVERIFY(QFile::link(mHome.filePath("unmounted/tessarin_orvel.ini"), dangling));

        for (QString const& path : {huge, fifo, dangling})
        {
            Settings::ReadUserConfig(path, QString());
            Settings::ReportReadProblems();
            QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
            QVERIFY2(!Settings::WriteUserConfig(path), qPrintable(path));
            QVERIFY(!Settings::WriteUserConfig(path));
            QCOMPARE(warnings.size(), 1);
            QVERIFY(warnings.first().first().toString().contains("not saved"));
            QVERIFY(warnings.first().first().toString().endsWith(path));
        }
        QCOMPARE(QFileInfo(huge).size(), hugeText.size());
        QVERIFY(QFileInfo(fifo).isFile() == false && QFileInfo(fifo).exists());
        QVERIFY(QFileInfo(dangling).isSymLink() && !QFileInfo::exists(dangling));
        QVERIFY(!QFileInfo::exists(mHome.filePath("unmounted")));

        // Made good during the run, a refused file still holds what the user
        // put there: it is left alone until the next start reads it.
        QFile::remove(huge);
        QString const mended = WriteIni("kept-huge.ini", "[preferences]\ncacheSize=2048\n");
        QVERIFY(!Settings::WriteUserConfig(mended));
        QCOMPARE(QSettings(mended, QSettings::IniFormat).value("preferences/cacheSize").toInt(), 2048);
    }

    void failedWriteIsReported()
    {
        // A file where the settings folder should be: the folder cannot be made.
        QString const blocker = WriteIni("blocker", "not a folder");
        QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
        Settings::WriteUserConfig(blocker + "/config/settings.ini");
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().first().toString().contains(blocker));

        errors.clear();
        Settings::WriteUserConfig(QString());
        QCOMPARE(errors.size(), 0);
    }

    // A temporary folder where no copy can be made (TMPDIR naming a file),
    // with and without a usable runtime folder: the user's file is still read
    // and saved, and no private copy is left behind.
    void fileIsReadAndSavedWithoutAUsableTempFolder()
    {
        QByteArray const oldTemp = qgetenv("TMPDIR");
        QByteArray const oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        auto const restore = qScopeGuard([&] {
            for (auto const& [name, value] : {std::pair("TMPDIR", oldTemp), std::pair("XDG_RUNTIME_DIR", oldRuntime)})
                value.isNull() ? qunsetenv(name) : qputenv(name, value);
        });
        QString const notAFolder = WriteIni("tmp-is-a-file", "x");
        QString const runtime = mHome.filePath("runtime");
        QVERIFY(QDir().mkpath(runtime));
        qputenv("TMPDIR", QFile::encodeName(notAFolder));
        for (QString const& runtimeFolder : {runtime, notAFolder})
        {
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeFolder));
            QString const path = WriteIni(QStringLiteral("no-temp-%1.ini").arg(runtimeFolder == runtime),
                                          "[preferences]\nclientApiPort=9123\ncacheSize=4096\n");
            Settings::clientApiPort = 17176;
            Settings::cacheSize = 512;
            Settings::ReadUserConfig(path, QString());
            QCOMPARE(Settings::clientApiPort, 9123);
            QCOMPARE(Settings::cacheSize, 4096);

            Settings::cacheSize = 2048;
            QVERIFY(Settings::WriteUserConfig(path));
            QSettings written(path, QSettings::IniFormat);
            QCOMPARE(written.value("preferences/cacheSize").toInt(), 2048);
            QCOMPARE(written.value("preferences/clientApiPort").toInt(), 9123);
        }
        QCOMPARE(QDir(runtime).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(QDir(mHome.path()).entryList({".ini-copy-*"}, QDir::AllEntries | QDir::Hidden), QStringList());
        Settings::clientApiPort = 17176;
        Settings::cacheSize = 512;
    }

    // Last: the reads below leave the flipped file's values in the variables.
    void pathFlippedToAFifoNeverBlocks()
    {
        // Whatever the path names at the moment it is read or written, the
        // read and the write end: a FIFO with no writer is never opened
        // blocking. Each round goes through a link of its own, so that a file
        // refused in one round does not keep the next from being tried.
        QTemporaryDir folder;
        PathFlipper flipper(folder.path(), "settings.ini", "[preferences]\ncacheSize=1024\n");
        QVERIFY(flipper.IsValid());
        constexpr int ROUNDS = 300;
        QStringList links;
        for (int round = 0; round < ROUNDS; ++round)
        {
            links.append(folder.filePath(QStringLiteral("link%1.ini").arg(round)));
            QVERIFY(QFile::link(flipper.Path(), links.last()));
        }
        {
            Watchdog watchdog("reading and writing a settings file flipped to a FIFO", std::chrono::seconds(60),
                              [&flipper] { flipper.ReleaseReaders(); });
            flipper.Start();
            for (QString const& link : std::as_const(links))
            {
                Settings::ReadUserConfig(link, QString());
                Settings::WriteUserConfig(link);
            }
            QVERIFY(flipper.Stop() > 0);
            QVERIFY2(!watchdog.Disarm(), "a read or a write blocked on the FIFO");
        }
        Settings::ReportReadProblems();
        QFileInfo const fifo(flipper.FifoPath());
        QVERIFY(fifo.exists() && !fifo.isFile());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
