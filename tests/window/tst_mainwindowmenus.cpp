// TESSARIN_TEST: xvfb
#include "app/FileHelpers.h"
#include "app/KeyBindings.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/ProjectManager.h"
#include "viewer/ViewerWidget.h"
#include "window/MonitorPanel.h"
#include "window/TessarinOrvel.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
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
    bool ConfirmProjectClose() override { return !refuse; }
};

// What the user sees of a menu: entry texts, "-" for a separator that shows
// (Qt drops separators at either end and runs of them), ">" before a submenu.
QStringList Entries(QMenu* menu)
{
    QStringList entries;
    for (QAction* action : menu->actions())
    {
        if (action->isSeparator())
        {
            if (!entries.isEmpty() && entries.last() != "-")
                entries << "-";
        }
        else
        {
            entries << (action->menu() ? ">" : "") + action->text();
        }
    }
    while (!entries.isEmpty() && entries.last() == "-")
        entries.removeLast();
    return entries;
}

QMenu* SubMenu(QMenu* menu, QString const& text)
{
    for (QAction* action : menu->actions())
        if (action->menu() && action->text() == text)
            return action->menu();
    return nullptr;
}
} // namespace

class TestMainWindowMenus : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RefusingWindow> mWindow;

    QMenu* TopMenu(QString const& title) const
    {
        for (QAction* action : mWindow->menuBar()->actions())
            if (action->menu() && action->text() == title)
                return action->menu();
        return nullptr;
    }

    QAction* WindowAction(QString const& text, QString const& tip = QString()) const
    {
        for (QAction* action : mWindow->actions())
            if (action->text() == text && (tip.isEmpty() || action->statusTip() == tip))
                return action;
        return nullptr;
    }

    static void Show(QMenu* menu) { QMetaObject::invokeMethod(menu, "aboutToShow"); }

    ViewerWidget* Viewer() const { return mWindow->findChild<ViewerWidget*>(); }
    AvManager* Engine() const { return mWindow->findChild<ProjectManager*>()->AvManagerPtr(); }

private Q_SLOTS:
    void initTestCase()
    {
        Settings::clientApiPortEnabled = false;
        Settings::consoleShowOnType = 0;
        Settings::hardwareRenderingEnabled = false;
        Settings::LatchHardwareRendering();
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

    void loopAndSpeedChecksFollowTheEngine()
    {
        QMenu* looping = SubMenu(TopMenu("Playback"), "Looping");
        Engine()->SetLoopState(LoopState(2));
        Show(looping);
        QVERIFY(WindowAction("Ping Pong")->isChecked());
        QVERIFY(!WindowAction("Loop")->isChecked());
        QVERIFY(!WindowAction("Play Once")->isChecked());
        // Pressing an entry sets the engine's state; the marks follow on the next showing.
        WindowAction("Play Once")->trigger();
        QTRY_COMPARE(int(Engine()->ActiveLoopState()), 0);
        Show(looping);
        QVERIFY(WindowAction("Play Once")->isChecked());
        QVERIFY(!WindowAction("Ping Pong")->isChecked());

        WindowAction("Half", "Half Speed")->trigger();
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 0.5f);
        WindowAction("Toggle Last")->trigger();
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 1.0f);
        WindowAction("Toggle Last")->trigger();
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 0.5f);
        WindowAction("Normal", "Normal Speed")->trigger();
        QTRY_COMPARE(Engine()->PlaybackSpeed(), 1.0f);

        Settings::loopOnStepScrub = true;
        WindowAction("Loop on Step/Scrub")->trigger(); // checked -> unchecked
        QVERIFY(!Settings::loopOnStepScrub);
        Show(SubMenu(TopMenu("Playback"), "Stepping and Scrubbing"));
        QVERIFY(!WindowAction("Loop on Step/Scrub")->isChecked());
    }

    void overlayActionsOnlyInOnePictureLayouts()
    {
        QMenu* video = TopMenu("Video");
        QAction* grid = WindowAction("Grid");
        grid->trigger();
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
        grid->trigger();
        WindowAction("Off")->trigger();
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
        WindowAction("Loop")->trigger();
        QTRY_COMPARE(int(Engine()->ActiveLoopState()), 1);
    }
};

QTEST_MAIN(TestMainWindowMenus)
#include "tst_mainwindowmenus.moc"
