// TESSARIN_TEST: xvfb
#include "app/FileHelpers.h"
#include "app/KeyBindings.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/ProjectManager.h"
#include "panels/FlatButton.h"
#include "panels/KeySequenceLineEdit.h"
#include "panels/PreferencesDialog.h"
#include "panels/ProjectPanel.h"
#include "app/Logger.h"
#include "remote/CmdServer.h"
#include "support/LoggedMessages.h"
#include "support/ModalAnswer.h"
#include "support/TestFiles.h"
#include "support/TestMedia.h"
#include "support/WindowMenus.h"
#include "media/ExportProperties.h"
#include "model/Source.h"
#include "viewer/ViewerBase.h"
#include "viewer/SnapshotProperties.h"
#include "viewer/ViewerOverlay.h"
#include "viewer/ViewerWidget.h"
#include "window/MonitorPanel.h"
#include "window/PlaybackControlWidget.h"
#include "window/TessarinOrvel.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStyle>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QTemporaryDir>
#include <QUndoCommand>
#include <QUndoStack>
#include <QtTest>

#include <memory>

namespace
{
// A window whose project panel may refuse to close the project.
class RefusingWindow : public TessarinOrvel
{
public:
    using TessarinOrvel::TessarinOrvel;
    bool refuse = false;

protected:
    bool ConfirmProjectClose() override { return !refuse && TessarinOrvel::ConfirmProjectClose(); }
};

// The windows other than the main one that show.
QList<QWidget*> OtherVisibleWindows(QWidget* mainWindow)
{
    QList<QWidget*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget != mainWindow && widget->isVisible() && widget->isWindow())
            windows << widget;
    return windows;
}
} // namespace

using WindowMenus::Entries;
using WindowMenus::SubMenu;

class TestMainWindowMenus : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RefusingWindow> mWindow;

    QMenu* TopMenu(QString const& title) const { return WindowMenus::TopMenu(mWindow.get(), title); }

    QAction* WindowAction(QString const& text, QString const& tip = QString()) const
    {
        return WindowMenus::WindowAction(mWindow.get(), text, tip);
    }

    void Activate()
    {
        mWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
    }

    void Show(QMenu* menu) { QVERIFY(WindowMenus::OpenAndClose(mWindow.get(), menu)); }
    void Choose(QMenu* menu, QString const& text)
    {
        QVERIFY2(WindowMenus::Choose(mWindow.get(), menu, WindowAction(text)), qPrintable(text));
    }
    void Press(QString const& text, QString const& tip = QString())
    {
        WindowMenus::Press(mWindow.get(), WindowAction(text, tip));
    }

    ViewerWidget* Viewer() const { return mWindow->findChild<ViewerWidget*>(); }
    ProjectManager* Manager() const { return mWindow->findChild<ProjectManager*>(); }
    bool Unsaved() const { return mWindow->windowTitle().endsWith('*'); }

    // Drops files on the middle of the viewer, as a file manager does.
    void DropOnViewer(QStringList const& paths)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (QString const& path : paths)
            urls << QUrl::fromLocalFile(path);
        data.setUrls(urls);
        QPoint const middle = Viewer()->rect().center();
        QDragEnterEvent enter(middle, Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(Viewer(), &enter);
        QDropEvent drop(middle, Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(Viewer(), &drop);
    }

    // Opens a clip as the player's recent-file key does and sets a bookmark on
    // it, which leaves the project with unsaved work.
    void OpenClipWithBookmark(QString const& clip)
    {
        Settings::recentFiles = {clip};
        Activate();
        Press("Import Recent File");
        QTRY_VERIFY_WITH_TIMEOUT(Manager()->MediaPathExistsInProject(clip), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!Manager()->SourceParsingInProgress(), 10000);
        QVERIFY(!Unsaved());
        Press("Toggle Bookmark");
        QTRY_VERIFY(Unsaved());
    }
    AvManager* Engine() const { return mWindow->findChild<ProjectManager*>()->AvManagerPtr(); }

private Q_SLOTS:
    void initTestCase()
    {
        WindowMenus::UseTestWindowSettings();
        mWindow = std::make_unique<RefusingWindow>(QList<QString>{});
        QTRY_VERIFY_WITH_TIMEOUT(mWindow->isVisible(), 5000);
        QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));
    }

    void cleanupTestCase()
    {
        mWindow->refuse = false;
        mWindow->close();
        QVERIFY(QFile::exists(FileHelpers::GetUserConfigFilePath()));
        QVERIFY(QFile::exists(KeyBindings::GetUserKeyBindingsPath()));
        mWindow.reset();
    }

    void menusHoldTheirEntriesInOrder()
    {
        QStringList titles;
        for (QAction* action : mWindow->menuBar()->actions())
            titles << action->text();
        QCOMPARE(titles, (QStringList{"File", "Edit", "Playback", "Audio", "Video", "Bookmarks", "Tools", "Help"}));

        QCOMPARE(Entries(TopMenu("File")),
                 (QStringList{"Open File...", "-", "New Project", "Open Project...", "Save Project",
                              "Save Project As...", "-", "Save Source As...", "Replace Source...", "-",
                              ">Capture Image", "-", "Open New Instance", "-", ">Recent Files", ">Recent Projects",
                              "-", "Exit"}));
        QCOMPARE(Entries(SubMenu(TopMenu("File"), "Capture Image")), (QStringList{"To Clipboard", "To Folder..."}));
        QCOMPARE(Entries(TopMenu("Edit")), (QStringList{"Range Start to Current", "Range End to Current", "Reset Range",
                                                        "-", "Always on Top", "-", "Preferences..."}));
        QMenu* playback = TopMenu("Playback");
        QCOMPARE(Entries(playback),
                 (QStringList{">Speed", "-", "Play/Pause", "Play/Pause (Bookmarks Only)", "Play Forwards",
                              "Play Backwards", "Pause", "-", ">Frame Step", "-", "Go to Start", "Go to End",
                              "Go to Range Start", "Go to Range End", "Go to Previous Edit", "Go to Next Edit", "-",
                              ">Looping", "-", ">Stepping and Scrubbing", "-", "Autoplay"}));
        QCOMPARE(Entries(SubMenu(playback, "Speed")),
                 (QStringList{"Normal", "Half", "Quarter", "-", "Increase", "Decrease", "-", "Toggle Last"}));
        QCOMPARE(Entries(SubMenu(playback, "Frame Step")),
                 (QStringList{"Step Forwards", "Step Backwards", "Multi-Step Forwards", "Multi-Step Backwards"}));
        QCOMPARE(Entries(SubMenu(playback, "Looping")), (QStringList{"Toggle", "-", "Play Once", "Loop", "Ping Pong"}));
        QCOMPARE(Entries(SubMenu(playback, "Stepping and Scrubbing")),
                 (QStringList{"Loop on Step/Scrub", "-", "Loop Step/Scrub to Range", "Lock Step/Scrub to Range"}));
        QCOMPARE(Entries(TopMenu("Audio")),
                 (QStringList{"Increase Volume", "Decrease Volume", "Mute", "-", "Audio Scrub"}));
        QMenu* video = TopMenu("Video");
        QCOMPARE(Entries(video), (QStringList{">Overlays", "-", ">Size", "Fullscreen", "-", ">Pan/Zoom", "-",
                                              "Rotate CW", "Rotate CCW", "Flip Horizontal", "Flip Vertical",
                                              "Reset Flip/Rotate"}));
        QCOMPARE(Entries(SubMenu(video, "Overlays")), (QStringList{"Off", "Safe Area", "Grid", "Center"}));
        QCOMPARE(Entries(SubMenu(video, "Size")),
                 (QStringList{"Original Size", "-", "Half Size", "Quarter Size", "-", "Double Size"}));
        QCOMPARE(Entries(SubMenu(video, "Pan/Zoom")),
                 (QStringList{"Zoom In", "Zoom Out", "-", "Toggle Pan/Zoom", "Reset Pan/Zoom"}));
        QMenu* bookmarks = TopMenu("Bookmarks");
        QCOMPARE(Entries(bookmarks),
                 (QStringList{"Toggle Bookmark", "Toggle Range Bookmark", "-", "Cut Bookmark", "Copy Bookmark",
                              "Paste Bookmark", "-", ">Remove", "-", "Previous Bookmark", "Next Bookmark",
                              "Previous Range Bookmark", "Next Range Bookmark"}));
        QCOMPARE(Entries(SubMenu(bookmarks, "Remove")),
                 (QStringList{"Bookmarks", "Bookmarks in Range", "-", "Range Bookmarks", "-", "Clear All"}));
        QCOMPARE(Entries(TopMenu("Tools")),
                 (QStringList{"Global Time Control", "Range Time Control", "Swap Time Controls", "-",
                              "Playback Controls", "Menu Bar", "-", "Media Info", "Console", "-", "Maya Tools"}));
        QCOMPARE(Entries(TopMenu("Help")), (QStringList{"Documentation...", "-", "About..."}));

        // The entries without a menu are still the window's, so their keys work.
        QVERIFY(WindowAction("Open Recent Project"));
        QVERIFY(WindowAction("Import Recent File"));
        QVERIFY(WindowAction("Show in Folder"));
        QCOMPARE(WindowAction("Open Recent Project")->data().toString(), QString("%MOST_RECENT%"));
    }

    void darkStyleIsApplied()
    {
        QPalette const palette = QApplication::palette();
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        {
            QCOMPARE(palette.color(group, QPalette::Window), QColor(45, 45, 48));
            QCOMPARE(palette.color(group, QPalette::Text), QColor(208, 208, 208));
            QCOMPARE(palette.color(group, QPalette::Base), QColor(25, 25, 25));
            QCOMPARE(palette.color(group, QPalette::Highlight), QColor(42, 130, 218));
            QCOMPARE(palette.color(group, QPalette::HighlightedText), QColor(Qt::black));
        }
        QFile sheet(":/stylesheets/fusiondark_macos.qss");
        QVERIFY(sheet.open(QIODevice::ReadOnly | QIODevice::Text));
        QCOMPARE(qApp->styleSheet(), QString::fromUtf8(sheet.readAll()));
        // The empty end of the menu bar shows the dark window colour.
        QImage const bar = mWindow->menuBar()->grab().toImage();
        QVERIFY(qGray(bar.pixel(bar.width() - 4, bar.height() / 2)) < 70);
    }

    void loopAndSpeedChecksFollowTheEngine()
    {
        QMenu* looping = SubMenu(TopMenu("Playback"), "Looping");
        Engine()->SetLoopState(LoopState(2));
        Show(looping);
        QVERIFY(WindowAction("Ping Pong")->isChecked());
        QVERIFY(!WindowAction("Loop")->isChecked());
        QVERIFY(!WindowAction("Play Once")->isChecked());
        // Pressing an entry sets the engine's state; the marks follow on the next showing.
        Choose(looping, "Play Once");
        QTRY_COMPARE(int(Engine()->ActiveLoopState()), 0);
        Show(looping);
        QVERIFY(WindowAction("Play Once")->isChecked());
        QVERIFY(!WindowAction("Ping Pong")->isChecked());

        Press("Half", "Half Speed");
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 0.5f);
        Press("Toggle Last");
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 1.0f);
        Press("Toggle Last");
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 0.5f);
        Press("Normal", "Normal Speed");
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 1.0f);
        // 1.5, then Half: the toggle goes to 1.0, and back to the last other speed.
        Press("Increase", "Increase Speed");
        Press("Increase", "Increase Speed");
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 1.5f);
        Press("Half", "Half Speed");
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 0.5f);
        Press("Toggle Last");
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 1.0f);
        Press("Toggle Last");
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 0.5f);
        Press("Normal", "Normal Speed");
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 1.0f);

        Settings::loopOnStepScrub = true;
        Press("Loop on Step/Scrub"); // checked -> unchecked
        QVERIFY(!Settings::loopOnStepScrub);
        Show(SubMenu(TopMenu("Playback"), "Stepping and Scrubbing"));
        QVERIFY(!WindowAction("Loop on Step/Scrub")->isChecked());
    }

    void pingPongKeyTurnsPingPongOnAndBack()
    {
        Activate();
        auto const press = [this] { QTest::keyClick(mWindow.get(), Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier); };
        // From each state to ping-pong and back to that same state.
        for (LoopState const before : {LoopState::Off, LoopState::Loop})
        {
            Engine()->SetLoopState(before);
            press();
            QTRY_COMPARE(Engine()->ActiveLoopState(), LoopState::PingPong);
            press();
            QTRY_COMPARE(Engine()->ActiveLoopState(), before);
        }
        // Ping-pong chosen in the menu: the key goes back to the state before it.
        Engine()->SetLoopState(LoopState::Off);
        Choose(SubMenu(TopMenu("Playback"), "Looping"), "Ping Pong");
        QTRY_COMPARE(Engine()->ActiveLoopState(), LoopState::PingPong);
        press();
        QTRY_COMPARE(Engine()->ActiveLoopState(), LoopState::Off);
    }

    void overlayActionsOnlyInOnePictureLayouts()
    {
        QMenu* video = TopMenu("Video");
        QMenu* overlays = SubMenu(video, "Overlays");
        QAction* grid = WindowAction("Grid");
        Choose(overlays, "Grid");
        Show(video);
        QVERIFY(grid->isChecked());
        QVERIFY(grid->isEnabled());
        for (int layout : {2, 3, 4})
        {
            Viewer()->SetViewerLayoutByType(ViewerLayoutType(layout));
            Show(video);
            QVERIFY2(!grid->isEnabled(), qPrintable(QString::number(layout)));
            QVERIFY(grid->isChecked()); // the mark stays
            QVERIFY(!WindowAction("Off")->isEnabled());
        }
        Viewer()->SetViewerLayoutByType(ViewerLayoutType(0));
        Show(video);
        QVERIFY(grid->isEnabled());
        Choose(overlays, "Grid");
        Choose(overlays, "Off");
        Show(video);
        QVERIFY(WindowAction("Off")->isChecked());
        QVERIFY(!grid->isChecked());
    }

    void titleMarksAnEditedProject()
    {
        QCOMPARE(mWindow->windowTitle(), QString("Tessarin ORVEL"));
        QUndoStack* stack = mWindow->findChild<ProjectManager*>()->UndoStackPtr();
        stack->push(new QUndoCommand("edit"));
        QTRY_COMPARE(mWindow->windowTitle(), QString("Tessarin ORVEL*"));
        stack->undo();
        QTRY_COMPARE(mWindow->windowTitle(), QString("Tessarin ORVEL"));
        mWindow->SetTimelineName("Shot 010");
        QCOMPARE(mWindow->windowTitle(), QString("Shot 010"));
        mWindow->SetTimelineName(QString());
        QCOMPARE(mWindow->windowTitle(), QString("Tessarin ORVEL"));
    }

    void resizeViewerInDevicePixels()
    {
        QCOMPARE(TessarinBase::ViewerTargetSize(1920, 1080, 2.0), QSize(960, 540));
        QCOMPARE(TessarinBase::ViewerTargetSize(1921, 1081, 2.0), QSize(960, 540)); // truncated
        QCOMPARE(TessarinBase::ViewerTargetSize(640, 360, 1.0), QSize(640, 360));

        QPoint const topLeft = mWindow->geometry().topLeft();
        mWindow->ResizeViewer(1000, 500);
        QTRY_COMPARE(Viewer()->ViewerSize(), QSize(1000, 500) / mWindow->devicePixelRatioF());
        QCOMPARE(mWindow->geometry().topLeft(), topLeft);
        mWindow->ResizeViewer(960, 540);
        QTRY_COMPARE(Viewer()->ViewerSize(), QSize(960, 540) / mWindow->devicePixelRatioF());
    }

    void fullScreenKeepsHiddenBarsHidden()
    {
        auto* panel = mWindow->findChild<MonitorPanel*>();
        bool const controlsBefore = panel->IsViewerControlsVisible();
        mWindow->SetMenuBarVisible(false);
        QVERIFY(!mWindow->menuBar()->isVisible());

        mWindow->SetFullscreenEnabled(true);
        QTRY_VERIFY(mWindow->isFullScreen());
        QVERIFY(!panel->IsViewerControlsVisible());
        QVERIFY(!mWindow->menuBar()->isVisible());
        QVERIFY(WindowAction("Fullscreen", "Toggle Fullscreen")->isChecked());
        // The menu bar can't be brought back while in full screen.
        mWindow->SetMenuBarVisible(true);
        QVERIFY(!mWindow->menuBar()->isVisible());

        // Escape leaves full screen, through its shortcut.
        mWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
        QTest::keyClick(mWindow.get(), Qt::Key_Escape);
        QTRY_VERIFY(!mWindow->isFullScreen());
        QVERIFY(!mWindow->menuBar()->isVisible());
        QVERIFY(!Settings::menuBarVisible);
        QCOMPARE(panel->IsViewerControlsVisible(), controlsBefore);
        QVERIFY(!WindowAction("Fullscreen", "Toggle Fullscreen")->isChecked());

        // Leaving when not in full screen changes nothing but the mark.
        mWindow->SetFullscreenEnabled(false);
        QVERIFY(!mWindow->isFullScreen());
        mWindow->SetMenuBarVisible(true);
        QVERIFY(mWindow->menuBar()->isVisible());
        QVERIFY(Settings::menuBarVisible);
    }

    void dialogsRefusedInFullScreenKeepState()
    {
        auto* panel = mWindow->findChild<MonitorPanel*>();
        mWindow->SetMenuBarVisible(true);
        bool const controlsBefore = panel->IsViewerControlsVisible();
        QCOMPARE(OtherVisibleWindows(mWindow.get()), QList<QWidget*>());
        Activate();
        QTest::keySequence(mWindow.get(), WindowAction("Fullscreen")->shortcut());
        QTRY_VERIFY(mWindow->isFullScreen());
        QVERIFY(!mWindow->menuBar()->isVisible());

        WindowMenus::ModalDialogGuard guard;
        for (QString const text : {"Preferences...", "About...", "Console", "Maya Tools", "Open File...",
                                   "Open Project...", "Save Project As...", "Save Source As...", "Replace Source..."})
        {
            QAction* action = WindowAction(text);
            QVERIFY2(action, qPrintable(text));
            WindowMenus::Press(mWindow.get(), action);
            QVERIFY2(OtherVisibleWindows(mWindow.get()).isEmpty(), qPrintable(text));
            QVERIFY(mWindow->isFullScreen());
            QVERIFY(!mWindow->menuBar()->isVisible());
            QVERIFY(!panel->IsViewerControlsVisible());
        }
        QCOMPARE(guard.Closed(), QStringList());

        // Leaving brings back what full screen hid.
        Activate();
        QTest::keyClick(mWindow.get(), Qt::Key_Escape);
        QTRY_VERIFY(!mWindow->isFullScreen());
        QVERIFY(mWindow->menuBar()->isVisible());
        QVERIFY(Settings::menuBarVisible);
        QCOMPARE(panel->IsViewerControlsVisible(), controlsBefore);
        QVERIFY(!WindowAction("Fullscreen")->isChecked());
        QCOMPARE(OtherVisibleWindows(mWindow.get()), QList<QWidget*>());
    }

    void acceptedPreferencesRefreshTheToolTips()
    {
        FlatButton* play = mWindow->findChild<MonitorPanel*>()->PlaybackControl()->PlayForwardsButton();
        QVERIFY2(play->toolTip().endsWith("(L)"), qPrintable(play->toolTip()));
        Activate();
        QTest::keySequence(mWindow.get(), WindowAction("Preferences...")->shortcut());
        auto* dialog = mWindow->findChild<PreferencesDialog*>();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(dialog));

        auto* pages = dialog->findChild<QListWidget*>("menuListWdg");
        QListWidgetItem* keyboard = pages->findItems("Keyboard", Qt::MatchExactly).value(0);
        QVERIFY(keyboard);
        QTest::mouseClick(pages->viewport(), Qt::LeftButton, {}, pages->visualItemRect(keyboard).center());
        auto* commands = dialog->findChild<QListWidget*>("keyboardCommandListWdg");
        QTRY_VERIFY(commands->isVisible());
        QListWidgetItem* command = commands->findItems("Play Forwards/Pause", Qt::MatchExactly).value(0);
        QVERIFY(command);
        commands->scrollToItem(command);
        QTest::mouseClick(commands->viewport(), Qt::LeftButton, {}, commands->visualItemRect(command).center());
        QCOMPARE(commands->currentItem(), command);
        // L gives way to F12.
        QCOMPARE(dialog->findChild<QComboBox*>("assignedShortcutCmb")->currentText(), QString("L"));
        QTest::mouseClick(dialog->findChild<QPushButton*>("removeShortcutBtn"), Qt::LeftButton);
        QTest::keyClick(dialog->findChild<KeySequenceLineEdit*>("pressShortcutKeysLE"), Qt::Key_F12);
        QTest::mouseClick(dialog->findChild<QPushButton*>("assignShortcutBtn"), Qt::LeftButton);
        QTest::mouseClick(dialog->findChild<QPushButton*>("okButton"), Qt::LeftButton);
        QTRY_VERIFY(dialog->isHidden());

        QCOMPARE(WindowAction("Play Forwards")->shortcuts(), QList<QKeySequence>{QKeySequence(Qt::Key_F12)});
        QCOMPARE(play->toolTip(), QString("Play Forwards (F12)"));
    }

    void projectActionsRunOncePerTrigger()
    {
        QTemporaryDir dir;
        QString const error = WindowMenus::CheckProjectActionsRunOnce(mWindow.get(), dir.filePath("review.zeph"));
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void flipMarksFollowTheViewer()
    {
        ViewerBase* viewer = Viewer()->ViewerPtr();
        Activate();
        Press("Flip Horizontal");
        QVERIFY(viewer->HorizontalFlipEnabled());
        Press("Flip Vertical");
        QVERIFY(viewer->VerticalFlipEnabled());
        Press("Reset Flip/Rotate");
        QVERIFY(!viewer->HorizontalFlipEnabled() && !viewer->VerticalFlipEnabled());
        QVERIFY(!WindowAction("Flip Horizontal")->isChecked());
        QVERIFY(!WindowAction("Flip Vertical")->isChecked());
        // The next flip after a reset flips again.
        Press("Flip Horizontal");
        QVERIFY(viewer->HorizontalFlipEnabled());
        Show(TopMenu("Video"));
        QVERIFY(WindowAction("Flip Horizontal")->isChecked());
        QVERIFY(!WindowAction("Flip Vertical")->isChecked());
        Press("Reset Flip/Rotate");
    }

    void mediaInfoDurationReadsBack()
    {
        // A duration of seven significant figures.
        auto* manager = mWindow->findChild<ProjectManager*>();
        manager->ImportFilesByPath({TestMedia::Path("numbered_badpts.ts") + '@'}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1,
                                   true);
        QTRY_VERIFY_WITH_TIMEOUT(Engine()->PrimaryTimelineSourceAtCurrentTime(), 10000);
        double const seconds = Engine()->PrimaryTimelineSourceAtCurrentTime()->DurationInSeconds();
        QVERIFY2(QString::number(seconds, 'g', 6).toDouble() != seconds, qPrintable(QString::number(seconds, 'g', 17)));
        Activate();
        if (!Viewer()->ViewerOverlayPtr()->IsMediaInfoVisible())
        {
            Press("Media Info");
        }
        QVERIFY(Viewer()->ViewerOverlayPtr()->IsMediaInfoVisible());
        QString duration;
        QTRY_VERIFY((duration = Viewer()->ViewerOverlayPtr()->MediaInfoTexts().value(3)).endsWith(" seconds)"));
        QString const number = duration.section('(', -1).section(' ', 0, 0);
        QCOMPARE(number.toDouble(), seconds);
        QCOMPARE(number, QString::number(seconds, 'g', QLocale::FloatingPointShortest));
        Press("Media Info");
    }

    void originalSizeFitsTheScreen()
    {
        // A picture as large as the screen: at its own size the window with
        // its bars would not fit, so it gets as large as fits, shape kept.
        QTemporaryDir dir;
        QImage picture(1920, 1080, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(dir.filePath("plate.0001.png")));
        QVERIFY(picture.save(dir.filePath("plate.0002.png")));
        auto* manager = mWindow->findChild<ProjectManager*>();
        manager->ImportFilesByPath({dir.filePath("plate.0001.png") + '@'}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1, true);
        auto* panel = mWindow->findChild<MonitorPanel*>();
        auto const videoSize = [panel] {
            int width = 0;
            int height = 0;
            panel->VideoWidthHeight(width, height);
            return QSize(width, height);
        };
        QTRY_COMPARE_WITH_TIMEOUT(videoSize(), QSize(1920, 1080), 10000);
        mWindow->showNormal();
        mWindow->resize(800, 600);
        Activate();
        Press("Original Size");
        QRect const available = mWindow->screen()->availableGeometry();
        QTRY_VERIFY2(available.contains(mWindow->frameGeometry()),
                     qPrintable(QStringLiteral("%1,%2 %3x%4")
                                    .arg(mWindow->frameGeometry().x())
                                    .arg(mWindow->frameGeometry().y())
                                    .arg(mWindow->frameGeometry().width())
                                    .arg(mWindow->frameGeometry().height())));
        QSize const viewer = panel->ViewerSize();
        QVERIFY2(viewer.width() > available.width() / 2, qPrintable(QString::number(viewer.width())));
        QVERIFY2(qAbs(viewer.width() * 1080 - viewer.height() * 1920) <= 1920, // within a pixel
                 qPrintable(QStringLiteral("%1x%2").arg(viewer.width()).arg(viewer.height())));
        mWindow->resize(800, 600);
    }

    void requestsOfTheProjectManagerReachTheMonitor()
    {
        auto* manager = mWindow->findChild<ProjectManager*>();
        auto* panel = mWindow->findChild<MonitorPanel*>();
        manager->ImportFilesByPath({TestMedia::Path("numbered_24fps.mp4")}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1,
                                   true);
        QTRY_VERIFY_WITH_TIMEOUT(Viewer()->PrimaryTimeline() && Engine()->AllVideoFramesReceivedForCurrentTime(), 10000);
        QTemporaryDir dir;
        SnapshotProperties snapshot;
        snapshot.dirPath = dir.path();
        snapshot.name = QStringLiteral("still");
        snapshot.extension = QStringLiteral("png");
        emit manager->AdvancedSnapshotRequested(snapshot);
        QCOMPARE(QDir(dir.path()).entryList({"still*.png"}).size(), 1);
        // An export without an output is refused by the monitor, with its reason.
        QSignalSpy lines(panel, &MonitorPanel::ExportLogMsgReceived);
        emit manager->ExportRequested(ExportProperties());
        QVERIFY(!lines.isEmpty());
        QVERIFY(lines.first().at(2).toBool()); // an error line
        QVERIFY(!Settings::exportInProgress);
    }

    void recentFileOpensByItsKey()
    {
        // "Import Recent File" has no menu entry: only its key reaches it.
        QString const clip = TestMedia::Path("h264_cfr25.mp4");
        Settings::recentFiles = {clip};
        auto* manager = mWindow->findChild<ProjectManager*>();
        QVERIFY(!manager->MediaPathExistsInProject(clip));
        Activate();
        QTest::keySequence(mWindow.get(), WindowAction("Import Recent File")->shortcut());
        QTRY_VERIFY_WITH_TIMEOUT(manager->MediaPathExistsInProject(clip), 10000);

        // The player holds what it opened last, and nothing of it is unsaved:
        // each opening replaces the project, from the key or the submenu.
        QString const other = TestMedia::Path("vfr.mkv");
        Settings::recentFiles = {other, clip};
        QTest::keySequence(mWindow.get(), WindowAction("Import Recent File")->shortcut());
        QTRY_VERIFY_WITH_TIMEOUT(manager->MediaPathExistsInProject(other), 10000);
        QVERIFY(!manager->MediaPathExistsInProject(clip));
        QVERIFY(WindowMenus::ChooseText(mWindow.get(), SubMenu(TopMenu("File"), "Recent Files"), clip));
        QTRY_VERIFY_WITH_TIMEOUT(manager->MediaPathExistsInProject(clip), 10000);
        QVERIFY(!manager->MediaPathExistsInProject(other));
        QTRY_VERIFY_WITH_TIMEOUT(!manager->SourceParsingInProgress(), 10000);
        QVERIFY(!Unsaved());
    }

    void unsavedWorkIsAskedForBeforeItGoes()
    {
        QTemporaryDir dir;
        QString const clip = TestMedia::Path("h264_cfr25.mp4");
        QString const other = TestMedia::Path("vfr.mkv");
        OpenClipWithBookmark(clip);
        auto* panel = mWindow->findChild<ProjectPanel*>();
        {
            // Every way of replacing or closing the project asks; Cancel keeps it.
            ModalAnswer cancel(QMessageBox::Cancel);
            Press("New Project");
            QCOMPARE(cancel.Asked(), 1);
            Settings::recentFiles = {other};
            Press("Import Recent File");
            QCOMPARE(cancel.Asked(), 2);
            mWindow->ProcessMessageFromOtherInstance({other});
            QCOMPARE(cancel.Asked(), 3);
            DropOnViewer({other});
            QCOMPARE(cancel.Asked(), 4);
            Settings::recentProjects = {dir.filePath("elsewhere.zeph")};
            Press("Open Recent Project");
            QCOMPARE(cancel.Asked(), 5);
            Activate();
            Press("Exit");
            QCOMPARE(cancel.Asked(), 6);
            QVERIFY(mWindow->isVisible());
            QVERIFY(Manager()->MediaPathExistsInProject(clip));
            QVERIFY(!Manager()->MediaPathExistsInProject(other));
            QVERIFY(Unsaved());

            // A save that fails keeps the mark, and quitting still asks.
            QFile blocker(dir.filePath("not_a_folder"));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.close();
            QVERIFY(!panel->SaveProjectAsByPath(blocker.fileName() + "/review"));
            QVERIFY(Unsaved());
            Activate();
            Press("Exit");
            QCOMPARE(cancel.Asked(), 7);
            QVERIFY(mWindow->isVisible());

            // Full screen refuses dialogs: it is left so that the question can show.
            Activate();
            Press("Fullscreen");
            QTRY_VERIFY(mWindow->isFullScreen());
            Press("New Project");
            QCOMPARE(cancel.Asked(), 8);
            // Cancel keeps the project, and the window goes back to full screen.
            QTRY_VERIFY(mWindow->isFullScreen());
            QVERIFY(Manager()->MediaPathExistsInProject(clip));
            Press("Fullscreen");
            QTRY_VERIFY(!mWindow->isFullScreen());
        }
        {
            // Save writes the project, then the new one replaces it.
            QVERIFY(panel->SaveProjectAsByPath(dir.filePath("review")));
            QVERIFY(!Unsaved());
            // A Save As that writes nothing keeps the path and the name, so
            // that the next save goes to the file that was written.
            QVERIFY(!panel->SaveProjectAsByPath(dir.filePath("not_a_folder") + "/other"));
            QCOMPARE(FileHelpers::ProjectPath(), dir.filePath("review.zeph"));
            QCOMPARE(Manager()->ProjectName(), QString("review"));
            Activate();
            Press("Go to End");
            Press("Toggle Bookmark");
            QTRY_VERIFY(Unsaved());
            QByteArray const before = TestFiles::ReadAll(dir.filePath("review.zeph"));
            ModalAnswer save(QMessageBox::Save);
            Press("New Project");
            QCOMPARE(save.Asked(), 1);
            QVERIFY(!Manager()->MediaPathExistsInProject(clip));
            QVERIFY(TestFiles::ReadAll(dir.filePath("review.zeph")) != before);
            QVERIFY(!Unsaved());
        }
    }

    // A client's import over unsaved work asks the window's question, and the
    // reply waits for the answer; only commands that change the project mark it.
    void clientCommandsKeepUnsavedWork()
    {
        QString const clip = TestMedia::Path("h264_cfr25.mp4");
        QString const other = TestMedia::Path("vfr.mkv");
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        quint16 const port = probe.serverPort();
        probe.close();
        Manager()->InitializeCmdServer(port);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(client.waitForConnected(3000));
        QByteArray received;
        auto write = [&client](QJsonObject const& request) {
            QByteArray const payload = QJsonDocument(request).toJson(QJsonDocument::Compact);
            client.write(QByteArray::number(payload.size()).rightJustified(10, '0') + payload);
            client.flush();
        };
        auto send = [&](QJsonObject const& request) {
            write(request);
            received.clear();
            QTest::qWaitFor(
                [&] {
                    received += client.readAll();
                    return received.size() >= 10 && received.size() >= 10 + received.left(10).toLongLong();
                },
                20000);
            return QJsonDocument::fromJson(received.mid(10)).object();
        };
        // Commands that change nothing leave the project saved.
        QVERIFY(!Unsaved());
        QVERIFY(!send({{"cmd", "get_frame"}}).value("success").toBool()); // before the handshake: refused
        QVERIFY(send({{"cmd", "initialize"}, {"api_version", "1.0.0"}}).value("success").toBool());
        QVERIFY(send({{"cmd", "get_frame"}}).value("success").toBool());
        QVERIFY(!send({{"cmd", "xyz"}}).value("success").toBool());
        QVERIFY(!Unsaved());

        // Unsaved work is kept through the replies that empty the undo stack;
        // a file that cannot be opened is refused before anything is asked or lost.
        OpenClipWithBookmark(clip);
        auto cancel = std::make_unique<ModalAnswer>(QMessageBox::Cancel);
        QVERIFY(send({{"cmd", "echo"}, {"text", "b"}}).value("success").toBool());
        QVERIFY(Unsaved());
        QCOMPARE(send({{"cmd", "import_file"}, {"file_path", "/no/such/clip.mp4"}}).value("msg").toString(),
                 QString("Failed to create source for file (/no/such/clip.mp4): file not found"));
        QCOMPARE(cancel->Asked(), 0);
        // Cancel: refused, the project stays.
        QCOMPARE(send({{"cmd", "import_file"}, {"file_path", other}}),
                 (QJsonObject{{"cmd", "import_file"}, {"msg", "Project has unsaved changes"}, {"success", false}}));
        QCOMPARE(cancel->Asked(), 1);
        cancel.reset();
        QVERIFY(Manager()->MediaPathExistsInProject(clip));
        QVERIFY(!Manager()->MediaPathExistsInProject(other));
        QVERIFY(Unsaved());
        {
            // Discard: the file replaces the project; the import counts as a change.
            ModalAnswer discard(QMessageBox::Discard);
            QVERIFY(send({{"cmd", "import_file"}, {"file_path", other}}).value("success").toBool());
            QCOMPARE(discard.Asked(), 1);
            QVERIFY(Manager()->MediaPathExistsInProject(other));
            QVERIFY(!Manager()->MediaPathExistsInProject(clip));
            QVERIFY(Unsaved());
            // A new project starts clean, whatever a client did to the old one.
            QVERIFY(send({{"cmd", "set_frame"}, {"frame", 3}}).value("success").toBool());
            OpenClipWithBookmark(clip);
            QCOMPARE(discard.Asked(), 2);
        }

        // While the window asks, a client's import waits for the answer and is
        // asked about next.
        bool heldWhileAsked = false;
        int boxes = 0;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || box->property("answered").toBool())
                return;
            box->setProperty("answered", true);
            if (boxes++ == 0)
            {
                QSignalSpy taken(Manager()->CmdServerPtr(), &CmdServer::ExecuteCmd);
                received.clear();
                write({{"cmd", "import_file"}, {"file_path", other}});
                heldWhileAsked = taken.wait(5000);
                QCoreApplication::processEvents();
                received += client.readAll();
                heldWhileAsked = heldWhileAsked && received.isEmpty() && Manager()->MediaPathExistsInProject(clip);
            }
            QTest::mouseClick(box->button(QMessageBox::Cancel), Qt::LeftButton);
        });
        answer.start(5);
        Press("New Project");
        QVERIFY(QTest::qWaitFor([&] { received += client.readAll(); return received.size() > 10; }, 20000));
        QVERIFY(heldWhileAsked);
        QCOMPARE(boxes, 2);
        QVERIFY(received.endsWith(R"("msg":"Project has unsaved changes","success":false})"));
        QVERIFY(Manager()->MediaPathExistsInProject(clip));
        Manager()->SetUndoClean();
    }

    // A later launch's hand-over waits for an open question and for a
    // running export, instead of acting under them.
    void handOversWaitForQuestionsAndExports()
    {
        QString const clip = TestMedia::Path("h264_cfr25.mp4");
        QString const other = TestMedia::Path("vfr.mkv");
        OpenClipWithBookmark(clip);
        int stage = 0; // 1: handing over during the quit question, 2: handed over, 3: quit cancelled
        int stacked = 0;
        int later = 0;
        bool keptWhileAsked = false;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            bool const quitQuestion = box->property("quit").toBool();
            if (stage == 0)
            {
                box->setProperty("quit", true);
                stage = 1;
                QTimer::singleShot(0, mWindow.get(), [&] {
                    mWindow->ProcessMessageFromOtherInstance({other});
                    keptWhileAsked = Manager()->MediaPathExistsInProject(clip);
                    stage = 2;
                });
            }
            else if (!quitQuestion)
            {
                (stage < 3 ? stacked : later) += 1;
                QTest::mouseClick(box->button(QMessageBox::Discard), Qt::LeftButton);
            }
            else if (stage == 2)
            {
                stage = 3;
                QTest::mouseClick(box->button(QMessageBox::Cancel), Qt::LeftButton);
            }
        });
        answer.start(5);
        Activate();
        Press("Exit");
        QTRY_VERIFY_WITH_TIMEOUT(Manager()->MediaPathExistsInProject(other), 10000);
        answer.stop();
        QVERIFY(mWindow->isVisible());
        QCOMPARE(stacked, 0);
        QVERIFY(keptWhileAsked);
        QCOMPARE(later, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!Manager()->SourceParsingInProgress(), 10000);

        // During an export the file waits, with a word in the log.
        LoggedMessages infos(&Logger::InfoLogged);
        Settings::exportInProgress = true;
        mWindow->ProcessMessageFromOtherInstance({clip});
        QVERIFY(!Manager()->MediaPathExistsInProject(clip));
        QVERIFY(infos.Messages().join("\n").contains("once the running export has ended"));
        Settings::exportInProgress = false;
        emit mWindow->MonitorPanelPtr()->ExportEnded();
        QTRY_VERIFY_WITH_TIMEOUT(Manager()->MediaPathExistsInProject(clip), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!Manager()->SourceParsingInProgress(), 10000);
    }

    void dropsOnTheViewerBringTheWindowForward()
    {
        Settings::activateWindowOnFileDrop = true;
        QWidget other;
        other.resize(200, 200);
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QString const clip = TestMedia::Path("h264_cfr25.mp4");
        DropOnViewer({clip});
        QTRY_VERIFY(mWindow->isActiveWindow());
        QTRY_VERIFY_WITH_TIMEOUT(Manager()->MediaPathExistsInProject(clip), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!Manager()->SourceParsingInProgress(), 10000);
        QVERIFY(!Unsaved()); // a clip just opened: nothing to ask about later
    }

    void refusedCloseWritesNothing()
    {
        QFile::remove(FileHelpers::GetUserConfigFilePath());
        QFile::remove(KeyBindings::GetUserKeyBindingsPath());
        mWindow->refuse = true;
        QVERIFY(!mWindow->close());
        QVERIFY(mWindow->isVisible());
        QVERIFY(!QFile::exists(FileHelpers::GetUserConfigFilePath()));
        QVERIFY(!QFile::exists(KeyBindings::GetUserKeyBindingsPath()));
        // The window still works.
        Choose(SubMenu(TopMenu("Playback"), "Looping"), "Loop");
        QTRY_COMPARE(int(Engine()->ActiveLoopState()), 1);
    }
};

QTEST_MAIN(TestMainWindowMenus)
#include "tst_mainwindowmenus.moc"
