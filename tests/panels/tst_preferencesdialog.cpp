// TESSARIN_TEST: xvfb
#include "PreferencesFixture.h"

#include "app/Logger.h"
#include "media/AvParser.h"
#include "media/VideoDecoder.h"
#include "media/VideoFrame.h"
#include "model/Source.h"
#include "panels/KeySequenceLineEdit.h"
#include "support/TestMedia.h"
#include "../viewer/ViewerTestRig.h"
#include "window/TessarinOrvel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTextStream>

#include <unistd.h>

using namespace PreferencesFixture;

namespace
{
char const* const PRINT_STORED_FLAG = "--print-stored";

// The second process: reads the user files as the player's start-up does and
// prints what it got.
int PrintStored(int argc, char** argv)
{
    FileHelpers::LoadUserSettings();
    Settings::LatchHardwareRendering();
    QApplication app(argc, argv);
    KeyBindings bindings;
    bindings.ReadUserKeyBindings();
    QTextStream out(stdout);
    for (QString const& line : StoredSettingsDump() + KeyBindingsDump(bindings))
        out << line << '\n';
    out << "hardwareRenderingInUse=" << (Settings::HardwareRenderingInUse() ? "true" : "false") << '\n';
    return 0;
}

// What a new process of the player reads from the user files.
QStringList ReadByNewProcess()
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(PRINT_STORED_FLAG)});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
    {
        qWarning() << "second process failed:" << process.readAllStandardError();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

class TestPreferencesDialog : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mHome;
    std::unique_ptr<BoundTable> mTable;
    std::unique_ptr<PreferencesDialog> mDialog;

    template <typename T>
    T* Get(char const* name) { return Find<T>(mDialog.get(), name); }

    bool Open()
    {
        mDialog->show();
        return QTest::qWaitForWindowExposed(mDialog.get());
    }

    void ClickOk() { QTest::mouseClick(Get<QPushButton>("okButton"), Qt::LeftButton); }

    // The dialog's own page for the control, so that it can take key input
    // the way the user gives it.
    void ShowPage(char const* pageName)
    {
        auto* stack = Get<QStackedWidget>("preferencesStackedWdg");
        stack->setCurrentWidget(Get<QWidget>(pageName));
    }

    // Changes every control of every page, the hidden ones included.
    void EditEveryControl(int cacheSize = 4096)
    {
        ShowPage("generalPage");
        TypeInto(Get<QLineEdit>("tempDirLE"), mHome.filePath("tmp-elsewhere"));
        TypeInto(Get<QSpinBox>("cacheSizeSB"), QString::number(cacheSize));
        TypeInto(Get<QSpinBox>("numRecentFilesSB"), "7");
        TypeInto(Get<QSpinBox>("numRecentProjectsSB"), "3");
        PressSpace(Settings::confirmOnClose == 2 ? Get<QAbstractButton>("confirmCloseAlwaysRB")
                                                 : Get<QAbstractButton>("confirmCloseDisabledRB"));
        for (char const* name : {"openMediaInNewPlayersCB", "resizeToFitCB", "pausePlaybackOnSeekCB",
                                 "pausePlaybackOnScrubCB", "endlessMouseScrubCB", "panZoomMouseControlsCB",
                                 "hideAnnotationToolbarOnLaunchCB", "highlightCurrentSourceCB",
                                 "playbackControlsSeekRangeStartEndCB", "audioOnBackwardsPlaybackCB",
                                 "hideVolumeControlCB"})
            PressSpace(Get<QAbstractButton>(name));

        ShowPage("projectPage");
        TypeInto(Get<QLineEdit>("sourceRootDirLE"), mHome.filePath("sources"));
        TypeInto(Get<QDoubleSpinBox>("imageSeqFrameRateSpinBox"),
                 QStringLiteral("29") + QLocale().decimalPoint() + QStringLiteral("97"));
        TypeInto(Get<QSpinBox>("timeControlFrameOffsetSB"), "1001");
        for (char const* name : {"addDefaultTimelineCB", "activateDefaultTimelineCB", "restorePanZoomOnProjectLoadCB",
                                 "restoreHoldAnnotationsOnProjectLoadCB"})
            PressSpace(Get<QAbstractButton>(name));

        ShowPage("annotationPage");
        PressSpace(Get<QAbstractButton>("showAnnotationTextBoxCB"));
        TypeInto(Get<QSpinBox>("annotationTextEditWidthSB"), "45");
        TypeInto(Get<QSpinBox>("annotationTextEditHeightSB"), "25");
        PressSpace(Get<QAbstractButton>("annotationDrawArrowTipToBaseCB"));

        ShowPage("exportPage");
        TypeInto(Get<QLineEdit>("ffmpegPathLE"), "/opt/ffmpeg/bin/ffmpeg");
        TypeInto(Get<QLineEdit>("exportOutputDirLE"), mHome.filePath("exports"));
        auto* format = Get<QComboBox>("exportContainerCmb");
        format->setFocus();
        QTest::keyClick(format, Qt::Key_Down);
        TypeInto(Get<QSpinBox>("exportDimensionsWidthSB"), "1280");
        TypeInto(Get<QSpinBox>("exportDimensionsHeightSB"), "720");
        PressSpace(Settings::exportViewer ? Get<QAbstractButton>("exportTimelineSourcesRB")
                                          : Get<QAbstractButton>("exportViewerCaptureRB"));
        for (char const* name : {"exportIgnoreRangeCB", "exportExcludeAudioCB", "exportFrameNumberingCB",
                                 "exportExcludeAnnotationsCB", "exportForceOverwriteCB"})
            PressSpace(Get<QAbstractButton>(name));

        ShowPage("networkPage");
        TypeInto(Get<QSpinBox>("portSB"), "18000");
        PressSpace(Settings::clientApiPortEnabled ? Get<QAbstractButton>("clientApiDisabledRB")
                                                  : Get<QAbstractButton>("clientApiEnabledRB"));
        TypeInto(Get<QSpinBox>("mayaCmdPortSB"), "30001");
        TypeInto(Get<QSpinBox>("mayaSyncTimeoutSB"), "2500");

        ShowPage("advancedPage");
        TypeInto(Get<QSpinBox>("scrubSpeedNormalSB"), "33");
        TypeInto(Get<QSpinBox>("scrubSpeedAltSB"), "3");
        TypeInto(Get<QSpinBox>("scrubSpeedShiftSB"), "77");
        TypeInto(Get<QSpinBox>("imageSeqThreadCountSB"), "12");
        PressSpace(Settings::audioOnScrubType == 2 ? Get<QAbstractButton>("audioOnScrubViewerRB")
                                                   : Get<QAbstractButton>("audioOnScrubTimeControlRB"));
        PressSpace(Get<QAbstractButton>("projectUndoCB"));
        PressSpace(Get<QAbstractButton>("softwareRendererCB"));
    }

    // Opens the codec sub-dialog for the current format and changes its values.
    void EditCodecSettings(QString* title)
    {
        WhenModalShown([title](QWidget* modal) {
            *title = modal->windowTitle();
            if (auto* padding = modal->findChild<QSpinBox*>("imagePaddingSB"))
            {
                TypeInto(padding, "6");
                PressSpace(modal->findChild<QAbstractButton*>("matchFrameRB"));
            }
            if (auto* preset = modal->findChild<QComboBox*>("codecPresetCmb"))
            {
                QTest::keyClick(preset, Qt::Key_End);
                QTest::keyClick(modal->findChild<QComboBox*>("codecQualityCmb"), Qt::Key_Home);
            }
            modal->close();
        });
        QTest::mouseClick(Get<QPushButton>("exportCodecSettingsBtn"), Qt::LeftButton);
    }

private Q_SLOTS:
    // The window's OpenGL viewer loads the driver; keep it mapped so that what
    // it still holds at exit is not read as a leak of ours.
    void cleanupTestCase() { ViewerTestRig::KeepOpenGLDriverLoaded(); }
    void initTestCase()
    {
        QVERIFY(mHome.isValid());
        qputenv("HOME", mHome.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", mHome.filePath(".config").toUtf8());
        Settings::clientApiPortEnabled = false;
        Settings::LatchHardwareRendering();
    }

    void init()
    {
        mTable = std::make_unique<BoundTable>();
        mDialog = std::make_unique<PreferencesDialog>(mHome.path(), &mTable->Bindings());
    }

    void cleanup()
    {
        mDialog.reset();
        mTable.reset();
    }

    void ListOffersFourPages()
    {
        QVERIFY(Open());
        QCOMPARE(mDialog->windowTitle(), QStringLiteral("Preferences"));
        auto* list = Get<QListWidget>("menuListWdg");
        auto* stack = Get<QStackedWidget>("preferencesStackedWdg");
        QStringList rows;
        for (int row = 0; row < list->count(); ++row)
            rows.append(list->item(row)->text());
        QCOMPARE(rows, (QStringList{"General", "Keyboard", "Network", "Advanced"}));
        QCOMPARE(stack->count(), 7);

        QList<QWidget*> const pages = {Get<QWidget>("generalPage"), Get<QWidget>("keyboardPage"),
                                       Get<QWidget>("networkPage"), Get<QWidget>("advancedPage")};
        for (int row : {2, 1, 3, 0})
        {
            QRect const rect = list->visualItemRect(list->item(row));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
            QCOMPARE(stack->currentWidget(), pages.at(row));
        }
        QCOMPARE(stack->indexOf(pages.at(2)), 5);
        QCOMPARE(stack->indexOf(pages.at(3)), 6);
        // The advanced page, opened by its row, says what needs a restart.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(3)).center());
        QCOMPARE(Get<QGroupBox>("advancedOptionsGroupBox")->title(), QStringLiteral("Options (requires restart)"));

        for (char const* hidden : {"confirmCloseGroupBox", "openMediaInNewPlayersCB", "hideAnnotationToolbarOnLaunchCB",
                                   "highlightCurrentSourceCB", "projectUndoCB", "imageSeqThreadCountGroupBox"})
            QVERIFY2(Get<QWidget>(hidden)->isHidden(), hidden);
        QVERIFY(!Get<QPushButton>("okButton")->isDefault() && !Get<QPushButton>("okButton")->autoDefault());
        QVERIFY(!Get<QPushButton>("cancelButton")->autoDefault());
    }

    void EveryControlIsSavedAndReadBackByANewProcess()
    {
        QVERIFY(Open());
        QStringList const before = AllSettingsDump();
        bool const boolsBefore[] = {Settings::openMediaInNewPlayers, Settings::resizeToFit,
                                    Settings::hideAnnotationToolbarOnLaunch, Settings::addDefaultTimeline,
                                    Settings::showAnnotationTextBox, Settings::exportForceOverwrite,
                                    Settings::projectUndoEnabled, Settings::hardwareRenderingEnabled,
                                    Settings::hideVolumeControl};
        QSignalSpy cacheChanged(mDialog.get(), &PreferencesDialog::CacheSizeChanged);
        EditEveryControl();
        // The encoding values of the codec sub-dialog, for both kinds of format.
        auto* format = Get<QComboBox>("exportContainerCmb");
        QTest::keyClick(format, Qt::Key_Home); // "mp4"
        QString title;
        EditCodecSettings(&title);
        QTest::keyClick(format, Qt::Key_Down);
        QTest::keyClick(format, Qt::Key_Down); // "png"
        EditCodecSettings(&title);
        QCOMPARE(title, QStringLiteral("Image Sequence Settings"));
        QTest::keyClick(format, Qt::Key_Up); // "mov"
        ClickOk();
        QVERIFY(mDialog->isHidden());
        QCOMPARE(cacheChanged.count(), 1);

        // Every variable changed, each to the entered value.
        QStringList const after = AllSettingsDump();
        for (int i = 0; i < before.size(); ++i)
            QVERIFY2(before.at(i) != after.at(i), qPrintable(after.at(i)));
        QCOMPARE(Settings::tempDirPath, mHome.filePath("tmp-elsewhere"));
        QCOMPARE(Settings::cacheSize, 4096);
        QCOMPARE(Settings::numRecentFiles, 7);
        QCOMPARE(Settings::numRecentProjects, 3);
        QCOMPARE(Settings::openMediaInNewPlayers, !boolsBefore[0]);
        QCOMPARE(Settings::resizeToFit, !boolsBefore[1]);
        QCOMPARE(Settings::hideAnnotationToolbarOnLaunch, !boolsBefore[2]);
        QCOMPARE(Settings::addDefaultTimeline, !boolsBefore[3]);
        QCOMPARE(Settings::showAnnotationTextBox, !boolsBefore[4]);
        QCOMPARE(Settings::exportForceOverwrite, !boolsBefore[5]);
        QCOMPARE(Settings::projectUndoEnabled, !boolsBefore[6]);
        QCOMPARE(Settings::hardwareRenderingEnabled, !boolsBefore[7]);
        QCOMPARE(Settings::hideVolumeControl, !boolsBefore[8]);
        QCOMPARE(Settings::defaultSourceRootDirPath, mHome.filePath("sources"));
        QCOMPARE(Settings::defaultImageSequenceFrameRate, 29.97);
        QCOMPARE(Settings::defaultTimeControlFrameOffset, 1001);
        QCOMPARE(Settings::annotationTextBoxWidthScaler, 0.45f);
        QCOMPARE(Settings::annotationTextBoxHeightScaler, 0.25f);
        QCOMPARE(Settings::ffmpegExePath, QStringLiteral("/opt/ffmpeg/bin/ffmpeg"));
        QCOMPARE(Settings::exportDirPath, mHome.filePath("exports"));
        QCOMPARE(Settings::exportFileFormat, QStringLiteral("mov"));
        QCOMPARE(Settings::exportGlobalWidth, 1280);
        QCOMPARE(Settings::exportGlobalHeight, 720);
        QCOMPARE(Settings::clientApiPort, 18000);
        QCOMPARE(Settings::mayaCommandPort, quint16(30001));
        QCOMPARE(Settings::mayaOffsetPort, quint16(30007));
        QCOMPARE(Settings::mayaSyncTimeout, 2500);
        QCOMPARE(Settings::scrubFrameInterval, 33);
        QCOMPARE(Settings::scrubFrameIntervalAlt, 3);
        QCOMPARE(Settings::scrubFrameIntervalShift, 77);
        QCOMPARE(Settings::imageSequenceThreadCount, 12);
        QCOMPARE(Settings::h264Quality, 0);
        QCOMPARE(Settings::h264Preset, 5);
        QCOMPARE(Settings::exportImagePadding, 6);
        QCOMPARE(Settings::exportImageNumberingType, 2);

        // The stored ones are in the file, and a new process reads them back.
        QSettings file(SettingsPath(), QSettings::IniFormat);
        QCOMPARE(file.value("preferences/cacheSize").toInt(), 4096);
        QCOMPARE(file.value("preferences/mayaCommandPort").toInt(), 30001);
        QStringList const read = ReadByNewProcess();
        QStringList const expected = StoredSettingsDump() + KeyBindingsDump(mTable->Bindings());
        QCOMPARE(read.mid(0, expected.size()), expected);

        // The next opening shows what is stored.
        QVERIFY(Open());
        QCOMPARE(Get<QSpinBox>("cacheSizeSB")->value(), 4096);
        QCOMPARE(Get<QSpinBox>("annotationTextEditWidthSB")->value(), 45);
        QCOMPARE(Get<QComboBox>("exportContainerCmb")->currentText(), QStringLiteral("mov"));
    }

    void OutOfRangeValuesShowAndSaveClamped()
    {
        Settings::cacheSize = 256;
        Settings::exportGlobalWidth = 120;
        Settings::annotationTextBoxWidthScaler = 0.3f;
        QSignalSpy cacheChanged(mDialog.get(), &PreferencesDialog::CacheSizeChanged);
        QVERIFY(Open());
        QCOMPARE(Get<QSpinBox>("cacheSizeSB")->value(), 512);
        QCOMPARE(Get<QSpinBox>("exportDimensionsWidthSB")->value(), 240);
        QCOMPARE(Get<QSpinBox>("annotationTextEditWidthSB")->value(), 30);
        ClickOk();
        QCOMPARE(Settings::cacheSize, 512);
        QCOMPARE(Settings::exportGlobalWidth, 240);
        QCOMPARE(Settings::annotationTextBoxWidthScaler, 0.3f);
        QCOMPARE(cacheChanged.count(), 1); // 256 became 512

        // Once per real change.
        QVERIFY(Open());
        TypeInto(Get<QSpinBox>("cacheSizeSB"), "1024");
        ClickOk();
        QCOMPARE(cacheChanged.count(), 2);
        QVERIFY(Open());
        ClickOk();
        QCOMPARE(cacheChanged.count(), 2);
        QCOMPARE(QSettings(SettingsPath(), QSettings::IniFormat).value("preferences/cacheSize").toInt(), 1024);
    }

    void CancelChangesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel button") << "button";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("close button") << "close";
    }

    void CancelChangesNothing()
    {
        QFETCH(QString, how);
        // Both files exist and hold what is in force.
        QVERIFY(Open());
        ClickOk();
        QByteArray const settingsFile = ReadFile(SettingsPath());
        QByteArray const bindingsFile = ReadFile(BindingsPath());
        QStringList const settings = AllSettingsDump();
        QStringList const bindings = KeyBindingsDump(mTable->Bindings());
        QList<QKeySequence> const muteShortcuts = mTable->Action(KeySequenceType::ToggleMute)->shortcuts();

        QVERIFY(Open());
        EditEveryControl(8192);
        ShowPage("exportPage");
        Get<QComboBox>("exportContainerCmb")->setCurrentText("mp4");
        QString title;
        EditCodecSettings(&title);
        QCOMPARE(title, QStringLiteral("Codec Settings (h264)"));
        Get<QComboBox>("exportContainerCmb")->setCurrentText("png");
        EditCodecSettings(&title);
        QCOMPARE(title, QStringLiteral("Image Sequence Settings"));
        ShowPage("keyboardPage");
        auto* commands = Get<QListWidget>("keyboardCommandListWdg");
        commands->setCurrentItem(commands->findItems("Toggle Mute", Qt::MatchExactly).value(0));
        QTest::keyClick(Get<KeySequenceLineEdit>("pressShortcutKeysLE"), Qt::Key_Q, Qt::ControlModifier);
        QTest::mouseClick(Get<QPushButton>("assignShortcutBtn"), Qt::LeftButton);
        QCOMPARE(Get<QComboBox>("assignedShortcutCmb")->count(), 2);

        if (how == "button")
            QTest::mouseClick(Get<QPushButton>("cancelButton"), Qt::LeftButton);
        else if (how == "escape")
            QTest::keyClick(Get<QListWidget>("keyboardCommandListWdg"), Qt::Key_Escape);
        else
            QVERIFY(mDialog->close());
        QVERIFY(mDialog->isHidden());

        QCOMPARE(AllSettingsDump(), settings);
        QCOMPARE(KeyBindingsDump(mTable->Bindings()), bindings);
        QCOMPARE(mTable->Action(KeySequenceType::ToggleMute)->shortcuts(), muteShortcuts);
        QCOMPARE(ReadFile(SettingsPath()), settingsFile);
        QCOMPARE(ReadFile(BindingsPath()), bindingsFile);

        // The next opening shows the stored values and the bindings in force,
        // and its OK does not apply the cancelled edits.
        QVERIFY(Open());
        QCOMPARE(Get<QSpinBox>("cacheSizeSB")->value(), Settings::cacheSize);
        QCOMPARE(Get<QLineEdit>("tempDirLE")->text(), Settings::tempDirPath);
        QCOMPARE(Get<QAbstractButton>("softwareRendererCB")->isChecked(), !Settings::hardwareRenderingEnabled);
        commands->setCurrentItem(commands->findItems("Toggle Mute", Qt::MatchExactly).value(0));
        QCOMPARE(Get<QComboBox>("assignedShortcutCmb")->count(), 1);
        ClickOk();
        QCOMPARE(AllSettingsDump(), settings);
        QCOMPARE(KeyBindingsDump(mTable->Bindings()), bindings);
    }

    void MinimisingKeepsUnsavedEdits()
    {
        QVERIFY(Open());
        int const stored = Settings::cacheSize;
        TypeInto(Get<QSpinBox>("cacheSizeSB"), QString::number(stored + 1000));
        ShowPage("keyboardPage");
        auto* commands = Get<QListWidget>("keyboardCommandListWdg");
        commands->setCurrentItem(commands->findItems("Toggle Mute", Qt::MatchExactly).value(0));
        QTest::keyClick(Get<KeySequenceLineEdit>("pressShortcutKeysLE"), Qt::Key_Q, Qt::ControlModifier);
        QTest::mouseClick(Get<QPushButton>("assignShortcutBtn"), Qt::LeftButton);

        mDialog->showMinimized();
        QTRY_VERIFY(mDialog->isMinimized());
        mDialog->showNormal();
        QTRY_VERIFY(!mDialog->isMinimized());
        QCoreApplication::processEvents();

        QCOMPARE(Get<QSpinBox>("cacheSizeSB")->value(), stored + 1000);
        commands->setCurrentItem(commands->findItems("Toggle Mute", Qt::MatchExactly).value(0));
        QStringList shortcuts;
        auto* combo = Get<QComboBox>("assignedShortcutCmb");
        for (int i = 0; i < combo->count(); ++i)
            shortcuts.append(combo->itemText(i));
        QVERIFY(shortcuts.contains("Ctrl+Q"));
        ClickOk();
        QCOMPARE(Settings::cacheSize, stored + 1000);
        QVERIFY(mTable->Action(KeySequenceType::ToggleMute)->shortcuts().contains(QKeySequence("Ctrl+Q")));
    }

    void FailedWriteIsReportedAndChangesNothing()
    {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QVERIFY(Open());
        ClickOk();
        QString const configDir = FileHelpers::GetUserConfigDirPath();
        QByteArray const settingsFile = ReadFile(SettingsPath());
        QByteArray const bindingsFile = ReadFile(BindingsPath());
        QStringList const files = QDir(configDir).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files.size(), 2);
        QStringList const settings = AllSettingsDump();
        QStringList const bindings = KeyBindingsDump(mTable->Bindings());

        auto const writable = qScopeGuard([configDir] {
            QFile::setPermissions(configDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        QVERIFY(QFile::setPermissions(configDir, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(Open());
        TypeInto(Get<QSpinBox>("cacheSizeSB"), QString::number(Settings::cacheSize + 512));
        ShowPage("keyboardPage");
        QTest::keyClick(Get<KeySequenceLineEdit>("pressShortcutKeysLE"), Qt::Key_Q, Qt::ControlModifier);
        QTest::mouseClick(Get<QPushButton>("assignShortcutBtn"), Qt::LeftButton);
        QSignalSpy cacheChanged(mDialog.get(), &PreferencesDialog::CacheSizeChanged);
        QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
        ClickOk();

        auto* report = mDialog->findChild<QMessageBox*>("saveFailedMessageBox");
        QVERIFY(report);
        QTRY_VERIFY(report->isVisible());
        QVERIFY(report->text().contains(SettingsPath()));
        QVERIFY(report->text().contains(BindingsPath()));
        QVERIFY(!errors.isEmpty());
        QVERIFY(mDialog->isVisible()); // not closed as if saved
        QCOMPARE(cacheChanged.count(), 0);
        QCOMPARE(AllSettingsDump(), settings);
        QCOMPARE(KeyBindingsDump(mTable->Bindings()), bindings);
        QVERIFY(QFile::setPermissions(configDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(ReadFile(SettingsPath()), settingsFile);
        QCOMPARE(ReadFile(BindingsPath()), bindingsFile);
        QCOMPARE(QDir(configDir).entryList(QDir::Files | QDir::Hidden), files);

        // Once the folder is writable again, OK saves the edits still shown.
        QTest::mouseClick(report->button(QMessageBox::Ok), Qt::LeftButton);
        ClickOk();
        QVERIFY(mDialog->isHidden());
        QCOMPARE(cacheChanged.count(), 1);
        QCOMPARE(QSettings(SettingsPath(), QSettings::IniFormat).value("preferences/cacheSize").toInt(),
                 Settings::cacheSize);
        QCOMPARE(QDir(configDir).entryList(QDir::Files | QDir::Hidden), files);
    }

    void WritersReportTheirStatus()
    {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QString const configDir = FileHelpers::GetUserConfigDirPath();
        QVERIFY(FileHelpers::SaveUserSettings());
        QVERIFY(mTable->Bindings().WriteUserKeyBindings());
        auto const writable = qScopeGuard([configDir] {
            QFile::setPermissions(configDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        QVERIFY(QFile::setPermissions(configDir, QFile::ReadOwner | QFile::ExeOwner));
        bool const settingsSaved = FileHelpers::SaveUserSettings();
        bool const bindingsSaved = mTable->Bindings().WriteUserKeyBindings();
        QVERIFY(QFile::setPermissions(configDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(!settingsSaved);
        QVERIFY(!bindingsSaved);
        // A folder that cannot be made: its parent is a plain file.
        QFile plain(mHome.filePath("plain-file"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QVERIFY(!Settings::WriteUserConfig(mHome.filePath("plain-file/config/settings.ini")));
    }

    void SoftwareRendererAppliesAtTheNextStart()
    {
        Settings::hardwareRenderingEnabled = true;
        QVERIFY(Settings::HardwareRenderingInUse()); // latched at the start of this run
        QVERIFY(Open());
        QVERIFY(!Get<QAbstractButton>("softwareRendererCB")->isChecked());
        ShowPage("advancedPage");
        QTest::mouseClick(Get<QAbstractButton>("softwareRendererCB"), Qt::LeftButton, {},
                          QPoint(8, Get<QWidget>("softwareRendererCB")->height() / 2));
        QVERIFY(Get<QAbstractButton>("softwareRendererCB")->isChecked());
        ClickOk();

        QCOMPARE(Settings::hardwareRenderingEnabled, false);
        QCOMPARE(QSettings(SettingsPath(), QSettings::IniFormat).value("preferences/hardwareRenderingEnabled").toBool(),
                 false);
        // This run keeps its mode: a decoder opened now still gives the
        // frames the running viewer draws.
        QVERIFY(Settings::HardwareRenderingInUse());
        Source source(TestMedia::Path("h264_cfr25.mp4"), QString(), QUuid());
        AvParser().Parse(&source, 0);
        VideoDecoder decoder(false);
        decoder.Initialize();
        std::shared_ptr<VideoFrame> first;
        QObject::connect(&decoder, &VideoDecoder::VideoFrameDecoded, [&first](std::shared_ptr<VideoFrame> const& frame) {
            if (!first && frame)
                first = frame;
        });
        QVERIFY(decoder.OpenSource(&source, 0, 0));
        decoder.SetDecodeForward(true);
        decoder.Seek(0);
        for (int guard = 0; guard < 1000 && !first; ++guard)
            if (decoder.DecodeNext() == VideoDecoder::STATUS_END_REACHED)
                break;
        decoder.Shutdown();
        QVERIFY(first);
        QCOMPARE(first->pixelFormat, VideoFramePixelFormat::YUV420P);

        // A new process starts in software.
        QVERIFY(ReadByNewProcess().contains("hardwareRenderingInUse=false"));

        // And back.
        QVERIFY(Open());
        QVERIFY(Get<QAbstractButton>("softwareRendererCB")->isChecked());
        PressSpace(Get<QAbstractButton>("softwareRendererCB"));
        ClickOk();
        QVERIFY(Settings::hardwareRenderingEnabled);
        QVERIFY(ReadByNewProcess().contains("hardwareRenderingInUse=true"));
    }

    void EncodingOptionsFollowTheFormat()
    {
        Settings::exportFileFormat = "mp4";
        Settings::exportImagePadding = 4;
        Settings::exportImageNumberingType = 0;
        Settings::h264Preset = 3;
        Settings::h264Quality = 1;
        QVERIFY(Open());
        ShowPage("exportPage");
        auto* format = Get<QComboBox>("exportContainerCmb");
        auto* codec = Get<QComboBox>("exportVideoCodecCmb");
        auto* settingsButton = Get<QPushButton>("exportCodecSettingsBtn");
        QStringList items;
        for (int i = 0; i < format->count(); ++i)
            items.append(format->itemText(i));
        QCOMPARE(items, Settings::EXPORT_FILE_FORMATS);
        QCOMPARE(codec->count(), 1);
        QCOMPARE(codec->itemText(0), QStringLiteral("h264"));
        QVERIFY(codec->isVisible() && settingsButton->isVisible());

        format->setFocus();
        QTest::keyClick(format, Qt::Key_End); // "wav"
        QCOMPARE(format->currentText(), QStringLiteral("wav"));
        QVERIFY(codec->isHidden() && settingsButton->isHidden());
        QTest::keyClick(format, Qt::Key_Up); // "jpg"
        QTest::keyClick(format, Qt::Key_Up); // "png"
        QCOMPARE(format->currentText(), QStringLiteral("png"));
        QVERIFY(codec->isHidden() && settingsButton->isVisible());

        QString title;
        EditCodecSettings(&title);
        QCOMPARE(title, QStringLiteral("Image Sequence Settings"));
        QCOMPARE(Settings::exportImagePadding, 4); // only OK applies them
        QCOMPARE(Settings::exportImageNumberingType, 0);
        QTest::keyClick(format, Qt::Key_Home); // "mp4"
        EditCodecSettings(&title);
        QCOMPARE(title, QStringLiteral("Codec Settings (h264)"));
        QCOMPARE(Settings::h264Preset, 3);
        // The sub-dialog shows the working values again.
        QTest::keyClick(format, Qt::Key_Down);
        QTest::keyClick(format, Qt::Key_Down);
        QTest::keyClick(format, Qt::Key_Down); // "jpg"
        int padding = 0;
        WhenModalShown([&padding](QWidget* modal) {
            padding = modal->findChild<QSpinBox*>("imagePaddingSB")->value();
            modal->close();
        });
        QTest::mouseClick(settingsButton, Qt::LeftButton);
        QCOMPARE(padding, 6);

        ClickOk();
        QCOMPARE(Settings::exportFileFormat, QStringLiteral("jpg"));
        QCOMPARE(Settings::exportImagePadding, 6);
        QCOMPARE(Settings::exportImageNumberingType, 2);
        QCOMPARE(Settings::h264Preset, 5);
        QCOMPARE(Settings::h264Quality, 0);
    }

    void WindowOpensOneDialogAndNotInFullScreen()
    {
        mDialog.reset();
        mTable.reset();
        {
            TessarinOrvel window({});
            QTRY_VERIFY(window.isVisible());
            QAction* preferences = nullptr;
            for (QAction* action : window.actions())
                if (action->text() == QStringLiteral("Preferences..."))
                    preferences = action;
            QVERIFY(preferences);
            QCOMPARE(preferences->shortcut(), QKeySequence(QStringLiteral("Ctrl+,")));

            window.showFullScreen();
            QTRY_VERIFY(window.isFullScreen());
            preferences->trigger();
            QVERIFY(!window.findChild<PreferencesDialog*>());
            window.showNormal();
            QTRY_VERIFY(!window.isFullScreen());

            preferences->trigger();
            auto* dialog = window.findChild<PreferencesDialog*>();
            QVERIFY(dialog);
            QTRY_VERIFY(dialog->isVisible());
            preferences->trigger();
            QCOMPARE(window.findChildren<PreferencesDialog*>().size(), 1);

            // Its keyboard page edits the window's own bindings.
            auto* edit = dialog->findChild<KeySequenceLineEdit*>("pressShortcutKeysLE");
            auto* commands = dialog->findChild<QListWidget*>("keyboardCommandListWdg");
            commands->setCurrentItem(commands->findItems("Toggle Console", Qt::MatchExactly).value(0));
            QTest::keyClick(edit, Qt::Key_F12);
            QTest::mouseClick(dialog->findChild<QPushButton*>("assignShortcutBtn"), Qt::LeftButton);
            auto* cache = dialog->findChild<QSpinBox*>("cacheSizeSB");
            TypeInto(cache, QString::number(Settings::cacheSize == 2048 ? 4096 : 2048));
            QTest::mouseClick(dialog->findChild<QPushButton*>("okButton"), Qt::LeftButton);
            QVERIFY(dialog->isHidden());
            QAction* console = nullptr;
            for (QAction* action : window.actions())
                if (action->text() == QStringLiteral("Console"))
                    console = action;
            QVERIFY(console && console->shortcuts().contains(QKeySequence(Qt::Key_F12)));
            window.close();
        }
    }
};

int main(int argc, char* argv[])
{
    if (argc > 1 && qstrcmp(argv[1], PRINT_STORED_FLAG) == 0)
        return PrintStored(argc, argv);
    QApplication app(argc, argv);
    TestPreferencesDialog test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_preferencesdialog.moc"
