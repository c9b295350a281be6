#include "support/TestMedia.h"

#include "app/ConsoleOutput.h"
#include "app/ConsoleWindow.h"
#include "app/FileHelpers.h"
#include "app/KeyBindings.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/export/ExportJournal.h"
#include "media/export/ExportTargetLock.h"
#include "media/export/FileIdentity.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"
#include "panels/PreferencesDialog.h"
#include "window/MonitorPanel.h"
#include "viewer/ViewerWidget.h"
#include "window/TessarinOrvel.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <memory>

class TestTessarinOrvel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mHome;
    std::unique_ptr<TessarinOrvel> mWindow;

    ConsoleWindow* Console() const
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* console = qobject_cast<ConsoleWindow*>(widget))
                return console;
        return nullptr;
    }

    QString ConsoleText() const { return Console()->findChild<ConsoleOutput*>()->toPlainText(); }

    void RunCommand(QString const& command)
    {
        auto* line = Console()->findChild<QLineEdit*>();
        line->clear();
        QTest::keyClicks(line, command);
        QCOMPARE(line->text(), command);
        QTest::keyClick(line, Qt::Key_Return);
    }

    QAction* ActionWithText(QString const& text) const
    {
        for (QAction* action : mWindow->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

    static QString Media(QString const& name) { return TestMedia::Dir() + QLatin1Char('/') + name; }

    // What an export killed in its move leaves: the user's frame set aside in
    // the export's temporary folder, with the journal of a process that is gone.
    void LeaveInterruptedExport(QString const& framePath)
    {
        QString const name = QStringLiteral("1700000000000");
        QString const exportDir = FileHelpers::GetUserTempDirPath() + "/" + name;
        QString const keptPath = exportDir + "/" + name + "_replaced/" + QFileInfo(framePath).fileName();
        QVERIFY(QDir().mkpath(QFileInfo(keptPath).absolutePath()));
        QVERIFY(QDir().mkpath(QFileInfo(framePath).absolutePath()));
        QFile frame(keptPath);
        QVERIFY(frame.open(QIODevice::WriteOnly));
        frame.write("the user's frame");
        frame.close();
        QString const journalPath = ExportJournal::PathFor(exportDir, name);
        {
            ExportJournal journal(journalPath);
            QVERIFY(journal.Begin(name, ExportTargetLock::LockPath(QFileInfo(framePath).absolutePath(), "out.png")));
            QVERIFY(journal.RecordSetAside(framePath, FileIdentity::Of(keptPath)));
        }
        // Its owner: a process that has ended.
        QProcess shell;
        shell.start("sh", {"-c", "echo $$"});
        QVERIFY(shell.waitForFinished(60000));
        QFile file(journalPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = file.readAll().split('\n');
        file.close();
        QList<QByteArray> owner = lines[0].split('\t');
        QCOMPARE(owner[0], QByteArray("owner"));
        owner[1] = shell.readAllStandardOutput().trimmed();
        lines[0] = owner.join('\t');
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(lines.join('\n'));
        file.close();
        // And its lock, left beside the output.
        ProcessIdentity gone = ProcessIdentity::Current();
        gone.pid = owner[1].toLongLong();
        QFile lock(ExportTargetLock::LockPath(QFileInfo(framePath).absolutePath(), "out.png"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(gone.ToText() + "journal=" + QUrl::toPercentEncoding(journalPath) + "\n");
    }

    QString InterruptedFramePath() const { return mHome.filePath("shots/out.0007.png"); }

    std::unique_ptr<QSignalSpy> mFirstPictures;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(mHome.isValid());
        // Never touch the real user's files.
        qputenv("HOME", mHome.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", mHome.filePath(".config").toUtf8());
        Settings::clientApiPortEnabled = false;
        Settings::consoleShowOnType = 0; // no pop-ups while testing
        // The offscreen platform has no OpenGL: the window's viewer draws in software.
        Settings::hardwareRenderingEnabled = false;
        Settings::LatchHardwareRendering();

        // A user binding and a clash, read at start-up.
        QString const bindingsPath = KeyBindings::GetUserKeyBindingsPath();
        QVERIFY(QDir().mkpath(QFileInfo(bindingsPath).absolutePath()));
        QSettings bindings(bindingsPath, QSettings::IniFormat);
        bindings.setValue("user_bindings/toggleConsole", "F11");
        bindings.setValue("user_bindings/toggleMute", "Space");
        bindings.sync();

        LeaveInterruptedExport(InterruptedFramePath());

        mWindow = std::make_unique<TessarinOrvel>(QList<QString>{Media("h264_cfr25.mp4")});
        mFirstPictures = std::make_unique<QSignalSpy>(mWindow->MonitorPanelPtr()->ViewerWidgetPtr(),
                                                      &ViewerWidget::FirstPicturePainted);
        QTRY_VERIFY_WITH_TIMEOUT(mWindow->isVisible(), 5000); // shown once the event loop runs
        QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));
        QVERIFY(Console() != nullptr);
    }

    void cleanupTestCase()
    {
        mWindow->Shutdown();
        QVERIFY(Console() == nullptr);
        // Both files are written at shutdown.
        QSettings bindings(KeyBindings::GetUserKeyBindingsPath(), QSettings::IniFormat);
        QCOMPARE(bindings.value("main/version").toInt(), 1);
        QCOMPARE(bindings.value("user_bindings/toggleConsole").toString(), QString("F11"));
        QCOMPARE(bindings.value("user_bindings/toggleMute").toString(), QString());
        QSettings settings(FileHelpers::GetUserConfigFilePath(), QSettings::IniFormat);
        QCOMPARE(settings.childGroups(), (QStringList{"main", "menu", "preferences", "timeControl"}));
        mWindow.reset();
    }

    void startupPathIsImportedAfterShow()
    {
        // The start-up media path is handed to the project manager once shown.
        QTRY_COMPARE_WITH_TIMEOUT(FileHelpers::MostRecentFilePath(), Media("h264_cfr25.mp4"), 5000);
        QVERIFY(QFileInfo(FileHelpers::GetUserConfigDirPath()).isDir());
        // The title is the open timeline's name.
        QTRY_COMPARE(mWindow->windowTitle(), QString("h264_cfr25.mp4"));
    }

    void theCacheFillsOnceTheFirstPictureIsPainted()
    {
        QTRY_COMPARE_WITH_TIMEOUT(mFirstPictures->count(), 1, 20000);
        auto* manager = mWindow->findChild<ProjectManager*>();
        QTRY_VERIFY(manager->PrimaryTimelineItem() != nullptr);
        Timeline* timeline = manager->PrimaryTimelineItem()->TimelinePtr();
        long long const lastTime = timeline->TimeAtFrame(timeline->EndFrame(), false);
        QVERIFY(QTest::qWaitFor([timeline, lastTime] { return timeline->VideoCacheCoversTime(lastTime); }, 20000));
        QCOMPARE(mFirstPictures->count(), 1);
    }

    void anInterruptedExportIsUndoneAtStart()
    {
        QFile frame(InterruptedFramePath());
        QVERIFY(frame.open(QIODevice::ReadOnly));
        QCOMPARE(frame.readAll(), QByteArray("the user's frame"));
        QCOMPARE(QDir(FileHelpers::GetUserTempDirPath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
        QVERIFY2(ConsoleText().contains(QStringLiteral("Interrupted export found: 1 of 1 set-aside files put back in %1")
                                            .arg(QFileInfo(InterruptedFramePath()).absolutePath())),
                 qPrintable(ConsoleText()));
        QVERIFY2(ConsoleText().contains(QStringLiteral("Interrupted export: put back %1, a file it had set aside")
                                            .arg(InterruptedFramePath())),
                 qPrintable(ConsoleText()));
        QVERIFY(!QFileInfo::exists(
            ExportTargetLock::LockPath(QFileInfo(InterruptedFramePath()).absolutePath(), "out.png")));
    }

    void viewerSizesAreInDevicePixels()
    {
        // The test runs at a device-pixel ratio of 2 (see main()).
        QCOMPARE(mWindow->devicePixelRatioF(), 2.0);
        MonitorPanel* panel = mWindow->MonitorPanelPtr();
        QPoint const topLeft = mWindow->geometry().topLeft();
        mWindow->ResizeViewer(1920, 1080);
        QTRY_COMPARE(panel->ViewerSize(), QSize(960, 540));
        QCOMPARE(mWindow->geometry().topLeft(), topLeft);
        mWindow->ResizeViewer(1601, 1001); // odd pixels round down
        QTRY_COMPARE(panel->ViewerSize(), QSize(800, 500));
    }

    void everyOfferedCommandHasItsShortcut()
    {
        // One action per player command, and four without a binding.
        QCOMPARE(mWindow->actions().size(), 96);
        QList<QKeySequence> inForce;
        for (QAction* action : mWindow->actions())
            inForce.append(action->shortcuts());
        KeyBindings defaults;
        for (KeySequence const* row : defaults.GetKeySequences())
        {
            bool const unbound = row->type == KeySequenceType::ToggleMute ||
                                 row->type == KeySequenceType::ToggleConsole ||
                                 row->type == KeySequenceType::IncreaseToolSize ||
                                 row->type == KeySequenceType::DecreaseToolSize;
            for (QKeySequence const& sequence : row->defaultSequences)
                QVERIFY2(sequence.isEmpty() || unbound || inForce.contains(sequence), qPrintable(row->name));
        }
        QAction* const console = ActionWithText("Console");
        QCOMPARE(console->shortcuts(), QList<QKeySequence>{QKeySequence(Qt::Key_F11)});
        QCOMPARE(ActionWithText("Play/Pause")->shortcuts(), QList<QKeySequence>{QKeySequence(Qt::Key_Space)});
        QVERIFY(ActionWithText("Mute")->shortcut().isEmpty()); // lost Space to Play/Pause
        QCOMPARE(ActionWithText("Open File...")->shortcut(), QKeySequence(QKeySequence::Open));
        QCOMPARE(ActionWithText("Zoom In")->shortcuts().size(), 2);
        QVERIFY(ActionWithText("Fullscreen")->isCheckable());
        QVERIFY(ActionWithText("About...")->shortcut().isEmpty());

        // The user's key brings the console up.
        Console()->hide();
        mWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
        QTest::keyClick(mWindow.get(), Qt::Key_F11);
        QTRY_VERIFY_WITH_TIMEOUT(Console()->isVisible(), 3000);
        // The default no longer applies.
        Console()->hide();
        mWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
        // A shortcut runs while its key is delivered: had F10 kept its action,
        // the console would show by now.
        QTest::keyClick(mWindow.get(), Qt::Key_F10);
        QVERIFY(Console()->isHidden());
    }

    void consoleCommands()
    {
        Logger::GetInstance()->Error("something failed");
        QVERIFY(ConsoleText().endsWith("[ERROR] something failed\n"));
        QString const before = ConsoleText();
        for (QString const ignored : {"Clear", " clear", "clear ", "", "about us"})
            RunCommand(ignored);
        QCOMPARE(ConsoleText(), before);

        RunCommand("clear");
        QCOMPARE(ConsoleText(), QString());

        Logger::GetInstance()->Output("before about\n");
        RunCommand("about");
        QString const about = ConsoleText();
        QVERIFY2(about.startsWith("Tessarin ORVEL v1.0.6\n\n"), qPrintable(about));
        QVERIFY(!about.contains("before about"));
        for (QString const line : {"Monitors: ", "Cache Size: 512\n", "VSync: ", "GTC: 1 (0)\n", "RTC: 1 (1)\n",
                                   "Port: 17176 (0)\n", "Maya CommandPort: 20240\n"})
            QVERIFY2(about.contains(line), qPrintable(line));

        RunCommand("cache");
        QVERIFY(ConsoleText().startsWith(about));
        QVERIFY(ConsoleText().contains("Playback Time: "));

        auto* engine = mWindow->findChild<AvManager*>();
        QSignalSpy reset(engine, &AvManager::ResetAudioOutputDeviceRequested);
        RunCommand("reset audio");
        QCOMPARE(reset.size(), 1);
    }

    void acceptedCacheSizeReachesTheOpenTimeline()
    {
        auto* manager = mWindow->findChild<ProjectManager*>();
        QTRY_VERIFY(manager->PrimaryTimelineItem() != nullptr);
        Timeline* timeline = manager->PrimaryTimelineItem()->TimelinePtr();
        QTRY_COMPARE(timeline->CacheSize(), Settings::cacheSize);
        int const wanted = Settings::cacheSize == 1024 ? 2048 : 1024;

        mWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
        QTest::keyClick(mWindow.get(), Qt::Key_Comma, Qt::ControlModifier); // "Preferences..."
        auto* dialog = mWindow->findChild<PreferencesDialog*>();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        auto* cacheSize = dialog->findChild<QSpinBox*>("cacheSizeSB");
        QTest::keyClick(cacheSize, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(cacheSize, QString::number(wanted));
        QTest::mouseClick(dialog->findChild<QPushButton*>("okButton"), Qt::LeftButton);
        QTRY_VERIFY(dialog->isHidden());
        QCOMPARE(Settings::cacheSize, wanted);
        QCOMPARE(timeline->CacheSize(), wanted);
    }

    void messagesFromOtherInstances()
    {
        QString const other = Media("vfr.mkv");
        mWindow->showMinimized();
        mWindow->ProcessMessageFromOtherInstance({"noargs"});
        QVERIFY(!mWindow->isMinimized()); // brought back to the front, nothing opened
        QCOMPARE(FileHelpers::MostRecentFilePath(), Media("h264_cfr25.mp4"));

        mWindow->ProcessMessageFromOtherInstance({"", other, "/not/media.txt2"});
        QCOMPARE(FileHelpers::MostRecentFilePath(), other);
        // What is neither media nor a project is said, not silently dropped.
        QVERIFY(ConsoleText().contains(
            "[ERROR] Not opened, neither a movie nor a project file the window opens: /not/media.txt2"));

        // A ".txt" argument lists the paths to import.
        QString const list = mHome.filePath("list.txt");
        QFile file(list);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(("  " + Media("h264_cfr25.mp4") + "\n\n" + Media("vfr.mkv") + "\n").toUtf8());
        file.close();
        mWindow->ProcessMessageFromOtherInstance({list});
        QCOMPARE(FileHelpers::MostRecentFilePath(), Media("h264_cfr25.mp4"));
    }

    // What the window does not open is said as an error (shown by the
    // console's default choice) with its reason, and the title keeps naming
    // what is open. The console comes up without taking the keyboard.
    void refusedPathsAreShownAndKeepTheTitle()
    {
        Console()->hide();
        mWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
        QString const title = mWindow->windowTitle();
        for (QString const& path : {Media("numbered_mpeg2.ts"), Media("tone.wav"), Media("seq_png/img.0001.png")})
        {
            mWindow->ProcessMessageFromOtherInstance({path});
            QVERIFY2(ConsoleText().contains(
                         "[ERROR] Not opened, neither a movie nor a project file the window opens: " + path),
                     qPrintable(path));
        }
        QString const missing = mHome.filePath("missing_clip.mp4");
        mWindow->ProcessMessageFromOtherInstance({missing});
        QVERIFY(ConsoleText().contains("[ERROR] File not found: " + missing));
        QCOMPARE(mWindow->windowTitle(), title);

        // A line that pops the console up leaves the main window active.
        Console()->findChild<QComboBox*>()->setCurrentIndex(1); // errors only
        Console()->show();
        mWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
        Logger::GetInstance()->Error("one more refusal");
        QCoreApplication::processEvents();
        QCOMPARE(QApplication::activeWindow(), mWindow.get());

        // A file that opens as nothing the player reads leaves no name.
        QFile garbage(mHome.filePath("garbage.mp4"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(64 * 1024, '\x5a'));
        garbage.close();
        int const confirm = Settings::confirmOnClose;
        Settings::confirmOnClose = 2; // replaced without a question
        mWindow->ProcessMessageFromOtherInstance({garbage.fileName()});
        Settings::confirmOnClose = confirm;
        QTRY_VERIFY(ConsoleText().contains(garbage.fileName()));
        QVERIFY2(!mWindow->windowTitle().contains("garbage"), qPrintable(mWindow->windowTitle()));
    }
};

int main(int argc, char* argv[])
{
    // Sizes asked for in device pixels must come out right on a high-density screen.
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestTessarinOrvel test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_tessarinorvel.moc"
