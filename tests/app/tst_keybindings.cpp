#include "app/FileHelpers.h"
#include "app/KeyBindings.h"
#include "app/Logger.h"
#include "support/BoundTable.h"
#include "support/FileSizeLimit.h"
#include "support/PathFlipper.h"
#include "support/Watchdog.h"

#include <QAction>
#include <QFile>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

using T = KeySequenceType;

class TestKeyBindings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mHome;

    QString Path() const { return KeyBindings::GetUserKeyBindingsPath(); }

    void WriteUserFile(QByteArray const& userBindings)
    {
        QDir().mkpath(QFileInfo(Path()).absolutePath());
        QFile file(Path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[user_bindings]\n" + userBindings);
    }

    static QStringList Warnings(QSignalSpy const& spy)
    {
        QStringList warnings;
        for (QList<QVariant> const& arguments : spy)
            warnings.append(arguments.first().toString());
        return warnings;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(mHome.isValid());
        // Never touch the real user's configuration.
        qputenv("HOME", mHome.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", mHome.filePath(".config").toUtf8());
        QCOMPARE(Path(), FileHelpers::GetUserConfigDirPath() + "/tessarin_orvel_bindings.ini");
        QVERIFY(Path().startsWith(mHome.path() + "/"));
    }

    void cleanup() { QFile::remove(Path()); }

    void tableHasEveryCommandOnce()
    {
        KeyBindings bindings;
        QList<KeySequence*> const& rows = bindings.GetKeySequences();
        QCOMPARE(rows.size(), 126);
        QSet<QString> names;
        QSet<QString> labels;
        int active = 0;
        for (int i = 0; i < rows.size(); ++i)
        {
            KeySequence const* row = rows.at(i);
            QCOMPARE(int(row->type), i + 1);
            QVERIFY2(!names.contains(row->name), qPrintable(row->name));
            names.insert(row->name);
            if (!row->fixed)
            {
                QVERIFY2(!labels.contains(row->label), qPrintable(row->label));
                labels.insert(row->label);
            }
            QVERIFY(row->action == nullptr);
            QCOMPARE(row->userSequences, row->defaultSequences);
            QCOMPARE(row->defaultSequences.isEmpty(), !row->active);
            active += row->active ? 1 : 0;
        }
        QCOMPARE(active, 94);
        QCOMPARE(rows.at(0)->defaultSequences, QList<QKeySequence>{QKeySequence(QKeySequence::Open)});
        QCOMPARE(rows.at(40)->name, QString("tooglePingPong"));
        QCOMPARE(rows.at(49)->defaultSequences, (QList<QKeySequence>{QKeySequence("+"), QKeySequence("=")}));
        QCOMPARE(rows.at(71)->defaultSequences,
                 (QList<QKeySequence>{QKeySequence("Ctrl++"), QKeySequence("Ctrl+=")}));
        QCOMPARE(rows.at(41)->defaultSequences, QList<QKeySequence>{QKeySequence("Ctrl+Shift+;")});
        QCOMPARE(rows.at(10)->defaultSequences, QList<QKeySequence>{QKeySequence()}); // replaceSource: (empty)
        QVERIFY(rows.at(124)->fixed && rows.at(125)->fixed);
        QCOMPARE(rows.at(124)->defaultSequences, QList<QKeySequence>{QKeySequence(Qt::Key_Escape)});
        QCOMPARE(rows.at(125)->defaultSequences, QList<QKeySequence>{QKeySequence(Qt::Key_Delete)});
    }

    void defaultsApplyWithoutClashes()
    {
        BoundTable table(false); // shortcuts applied by what is tested
        QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
        table.Bindings().ReadUserKeyBindings(); // no file
        QCOMPARE(Warnings(warnings), QStringList());
        for (KeySequence const* row : table.Bindings().GetKeySequences())
        {
            QList<QKeySequence> expected;
            for (QKeySequence const& sequence : row->defaultSequences)
                if (!sequence.isEmpty())
                    expected.append(sequence);
            QCOMPARE(table.Shortcuts(row->type), expected);
        }
        QCOMPARE(table.Shortcuts(T::ZoomIn).size(), 2);
        QVERIFY(table.Shortcuts(T::Undo).isEmpty());
        QVERIFY(!QFile::exists(Path())); // reading never writes
    }

    void userFileOverridesAndClashesGoToSmallerId()
    {
        WriteUserFile("toggleMute=Space\n"              // clashes with playPause (25)
                      "zoomOut=\n"                      // user removed every shortcut
                      "resetRange=UndefinedKey, Ctrl+Shift+Z\n"
                      "saveProjectAs=Ctrl+Alt+O\n"
                      "openProject=Ctrl+Alt+O\n"
                      "toggleConsole=F11\n"
                      "seekEnd=Escape\n"                // wins over the fixed applicationEsc
                      "flipVertical=Ctrl+Shift+Y, Ctrl+Shift+Y\n" // listed twice
                      "applicationDel=F12\n");          // fixed rows are never read
        BoundTable table(false); // shortcuts applied by what is tested
        QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
        table.Bindings().ReadUserKeyBindings();

        QCOMPARE(table.Shortcuts(T::PlayPause), QList<QKeySequence>{QKeySequence(Qt::Key_Space)});
        QVERIFY(table.Shortcuts(T::ToggleMute).isEmpty());
        QCOMPARE(table.Row(T::ToggleMute)->userSequences, QList<QKeySequence>{QKeySequence()});
        QVERIFY(table.Shortcuts(T::ZoomOut).isEmpty());
        QCOMPARE(table.Shortcuts(T::ResetRange),
                 (QList<QKeySequence>{QKeySequence("Ctrl+P"), QKeySequence("Ctrl+Shift+Z")}));
        QCOMPARE(table.Shortcuts(T::OpenProject), QList<QKeySequence>{QKeySequence("Ctrl+Alt+O")});
        QVERIFY(table.Shortcuts(T::SaveProjectAs).isEmpty());
        QCOMPARE(table.Shortcuts(T::ToggleConsole), QList<QKeySequence>{QKeySequence(Qt::Key_F11)});
        QCOMPARE(table.Shortcuts(T::SeekEnd), QList<QKeySequence>{QKeySequence(Qt::Key_Escape)});
        QVERIFY(table.Shortcuts(T::ApplicationEsc).isEmpty());
        QCOMPARE(table.Row(T::ApplicationEsc)->userSequences, QList<QKeySequence>{QKeySequence(Qt::Key_Escape)});
        QCOMPARE(table.Shortcuts(T::ApplicationDel), QList<QKeySequence>{QKeySequence(Qt::Key_Delete)});
        // Qt never fires an action whose shortcut is listed twice: it is kept once.
        QCOMPARE(table.Shortcuts(T::FlipVertical), QList<QKeySequence>{QKeySequence("Ctrl+Shift+Y")});

        QStringList const logged = Warnings(warnings);
        QVERIFY(logged.contains("Duplicate hotkey detected: Toggle Mute (Space)"));
        QVERIFY(logged.contains("Duplicate hotkey detected: Save Project As (Ctrl+Alt+O)"));
        QVERIFY(logged.contains("Duplicate hotkey detected: Application (Esc)"));
        QVERIFY(logged.contains("Duplicate hotkey detected: Flip Vertical (Ctrl+Shift+Y)"));

        // The losers are saved without the sequence; an empty list as an empty value.
        table.Bindings().WriteUserKeyBindings();
        QSettings written(Path(), QSettings::IniFormat);
        QCOMPARE(written.value("main/version").toInt(), 1);
        QCOMPARE(written.value("user_bindings/toggleMute").toStringList(), QStringList{QString()});
        QCOMPARE(written.value("user_bindings/saveProjectAs").toStringList(), QStringList{QString()});
        QCOMPARE(written.value("user_bindings/flipVertical").toStringList(), QStringList{"Ctrl+Shift+Y"});
        QCOMPARE(written.value("user_bindings/applicationDel").toString(), QString("F12")); // left as it was
        QVERIFY(!written.contains("user_bindings/applicationEsc"));
        QVERIFY(!written.contains("user_bindings/undo")); // inactive rows are not written
    }

    // TMPDIR naming a file leaves no temporary folder for a private copy: the
    // user's bindings are read and saved all the same.
    void userFileIsReadWithoutAUsableTempFolder()
    {
        QByteArray const oldTemp = qgetenv("TMPDIR");
        QByteArray const oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        auto const restore = qScopeGuard([&] {
            for (auto const& [name, value] : {std::pair("TMPDIR", oldTemp), std::pair("XDG_RUNTIME_DIR", oldRuntime)})
                value.isNull() ? qunsetenv(name) : qputenv(name, value);
        });
        QString const notAFolder = mHome.filePath("tmp-is-a-file");
        QFile blocker(notAFolder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("TMPDIR", QFile::encodeName(notAFolder));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(notAFolder));
        WriteUserFile("toggleMute=F9\n");
        {
            BoundTable table(false);
            table.Bindings().ReadUserKeyBindings();
            QCOMPARE(table.Shortcuts(T::ToggleMute), QList<QKeySequence>{QKeySequence(Qt::Key_F9)});
            table.Row(T::ToggleMute)->userSequences = {QKeySequence(Qt::Key_F8)};
            table.Bindings().WriteUserKeyBindings();
        }
        QSettings written(Path(), QSettings::IniFormat);
        QCOMPARE(written.value("user_bindings/toggleMute").toString(), QString("F8"));
    }

    // A write that fails says where it tried and the system's reason: with
    // no file yet, the private copy that does not fit; with one, each folder
    // a private copy was tried in.
    void failedWriteSaysWhereAndWhy()
    {
        QDir().mkpath(QFileInfo(Path()).absolutePath());
        QString const tooLarge = qt_error_string(EFBIG);
        {
            FileSizeLimit limit(64);
            QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
            QVERIFY(!KeyBindings().WriteUserKeyBindings());
            QCOMPARE(Warnings(warnings),
                     QStringList {QStringLiteral("Failed to write key bindings: %1 (the private copy in %2 could not be "
                                                 "written: %3)").arg(Path(), QDir::tempPath(), tooLarge)});
        }
        QVERIFY(!QFileInfo::exists(Path()));

        WriteUserFile("toggleMute=F9\n" + QByteArray(100, '#') + "\n");
        {
            FileSizeLimit limit(64);
            QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
            QVERIFY(!KeyBindings().WriteUserKeyBindings());
            QCOMPARE(warnings.size(), 1);
            QString const warning = Warnings(warnings).first();
            QVERIFY2(warning.startsWith(QStringLiteral("Failed to write key bindings: %1 (no private copy (").arg(Path()))
                         && warning.contains(QStringLiteral("%1: %2").arg(QDir::tempPath(), tooLarge))
                         && warning.contains(QStringLiteral("%1: %2").arg(QFileInfo(Path()).absolutePath(), tooLarge)),
                     qPrintable(warning));
        }
        QCOMPARE(QSettings(Path(), QSettings::IniFormat).value("user_bindings/toggleMute").toString(), QString("F9"));
    }

    void writtenFileReadsBackToTheSameTable()
    {
        {
            KeyBindings bindings;
            bindings.WriteUserKeyBindings();
        }
        QSettings written(Path(), QSettings::IniFormat);
        written.beginGroup("user_bindings");
        QCOMPARE(written.childKeys().size(), 92); // active rows less the two fixed ones

        // Sequences holding the INI list separator or escapes survive the round trip.
        KeyBindings reread;
        reread.ReadUserKeyBindings();
        for (KeySequence const* row : reread.GetKeySequences())
            QCOMPARE(row->userSequences, row->defaultSequences);
    }

    void versionIsRewrittenAndOtherKeysKept()
    {
        WriteUserFile("someOldCommand=Ctrl+J\n");
        QFile file(Path());
        QVERIFY(file.open(QIODevice::Append));
        file.write("[main]\nversion=7\n");
        file.close();
        KeyBindings bindings;
        bindings.WriteUserKeyBindings();
        QSettings written(Path(), QSettings::IniFormat);
        QCOMPARE(written.value("main/version").toInt(), 1);
        QCOMPARE(written.value("user_bindings/someOldCommand").toString(), QString("Ctrl+J"));
    }

    void shortcutQueriesAndPreferencesUpdate()
    {
        BoundTable table(false); // shortcuts applied by what is tested
        KeyBindings& bindings = table.Bindings();
        QCOMPARE(bindings.CreateToolTip(T::PlayPause, "Play"), QString("Play (Space)"));
        QCOMPARE(bindings.CreateToolTip(T::ReplaceSource, "Replace"), QString("Replace"));
        QVERIFY(bindings.GetShortcut(T::Undo).isEmpty());
        QVERIFY(bindings.GetShortcut(T::None).isEmpty());
        bindings.SetAction(T::None, nullptr); // does nothing

        // The preferences dialog hands back edited copies of the rows.
        KeySequence copy = *table.Row(T::ToggleMute);
        copy.userSequences = {QKeySequence("Ctrl+Shift+U")};
        KeySequence unknown;
        unknown.type = T::None;
        unknown.userSequences = {QKeySequence("Ctrl+U")};
        bindings.UpdateUserSequences({&copy, &unknown});
        QCOMPARE(table.Shortcuts(T::ToggleMute), QList<QKeySequence>{QKeySequence("Ctrl+Shift+U")});
        QCOMPARE(bindings.GetShortcut(T::ToggleMute), QKeySequence("Ctrl+Shift+U"));
        QCOMPARE(table.Row(T::ToggleMute)->defaultSequences, QList<QKeySequence>{QKeySequence("Ctrl+M")});
    }

    void hostileFilesAreBoundedOrRefused()
    {
        // Thousands of entries for commands: a few kept, a warning each at most.
        QByteArray const spaces = QByteArray("Space, ").repeated(5000);
        QByteArray distinct;
        for (int i = 0; i < 5000; ++i)
            distinct += "Ctrl+Alt+Shift+" + QByteArray::number(i % 10) + ", ";
        WriteUserFile("toggleMute=" + spaces + "F7\nzoomOut=" + distinct + "F8\n");
        {
            BoundTable table(false);
            QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
            table.Bindings().ReadUserKeyBindings();
            QVERIFY(table.Row(T::ToggleMute)->userSequences.size() <= 16);
            QVERIFY(table.Shortcuts(T::ToggleMute).isEmpty());
            QCOMPARE(table.Shortcuts(T::ZoomOut).size(), 10);
            // One for each command cut short, one for each sequence listed again.
            QCOMPARE(warnings.size(), 2 + 1 + 6);
        }

        // Larger than any file the player writes: not read, and never written
        // over with the built-in shortcuts, even once made good meanwhile.
        QByteArray const huge = "toggleConsole=F11\n" + QByteArray(2 * 1024 * 1024, '#');
        WriteUserFile(huge);
        {
            BoundTable table(false);
            QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
            table.Bindings().ReadUserKeyBindings();
            QCOMPARE(table.Shortcuts(T::ToggleConsole), QList<QKeySequence>{QKeySequence(Qt::Key_F10)});
            QCOMPARE(warnings.size(), 1);
            QVERIFY(Warnings(warnings).first().contains(Path()));
            QVERIFY(!table.Bindings().WriteUserKeyBindings());
            QCOMPARE(QFileInfo(Path()).size(), qint64(QByteArray("[user_bindings]\n").size() + huge.size()));
            QCOMPARE(warnings.size(), 2);
            QVERIFY(Warnings(warnings).last().contains("not saved"));
            WriteUserFile("toggleConsole=F11\n");
            QVERIFY(!table.Bindings().WriteUserKeyBindings());
            QCOMPARE(QSettings(Path(), QSettings::IniFormat).value("user_bindings/toggleConsole").toString(),
                     QString("F11"));
        }

        // A link to a file on a drive that is not there: not read, and still
        // there after the write.
        QFile::remove(Path());
        QVERIFY(QFile::link(mHome.filePath("unmounted/bindings.ini"), Path()));
        {
            KeyBindings bindings;
            QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
            bindings.ReadUserKeyBindings();
            QVERIFY(!bindings.WriteUserKeyBindings());
            QCOMPARE(warnings.size(), 2);
            QVERIFY(Warnings(warnings).first().startsWith("Failed to read the key-binding file: " + Path()));
            QVERIFY(QFileInfo(Path()).isSymLink());
            QVERIFY(!QFileInfo::exists(mHome.filePath("unmounted")));
        }
    }

    void fileFlippedToAFifoNeverBlocks()
    {
        // The key-binding file a link that is flipped between a regular file
        // and a FIFO: every read and write ends, whatever the link names at the
        // moment. A fresh table each round, so that a refusal in one round does
        // not keep the next from trying.
        QTemporaryDir folder;
        PathFlipper flipper(folder.path(), "bindings.ini", "[user_bindings]\ntoggleConsole=F11\n");
        QVERIFY(flipper.IsValid());
        QDir().mkpath(QFileInfo(Path()).absolutePath());
        QFile::remove(Path());
        QVERIFY(QFile::link(flipper.Path(), Path()));
        {
            Watchdog watchdog("reading and writing a key-binding file flipped to a FIFO", std::chrono::seconds(60),
                              [&flipper] { flipper.ReleaseReaders(); });
            flipper.Start();
            for (int round = 0; round < 300; ++round)
            {
                KeyBindings bindings;
                bindings.ReadUserKeyBindings();
                bindings.WriteUserKeyBindings();
            }
            QVERIFY(flipper.Stop() > 0);
            QVERIFY2(!watchdog.Disarm(), "a read or a write blocked on the FIFO");
        }
        QVERIFY(QFileInfo(Path()).isSymLink());
        QFileInfo const fifo(flipper.FifoPath());
        QVERIFY(fifo.exists() && !fifo.isFile());
    }
};

QTEST_MAIN(TestKeyBindings)
#include "tst_keybindings.moc"
