// TESSARIN_TEST: xvfb
#include "app/KeyBindings.h"
#include "app/Settings.h"
#include "model/ProjectManager.h"
#include "panels/ProjectPanel.h"
#include "panels/ProjectTreeWidget.h"
#include "panels/ProjectTreeWidgetItem.h"
#include "support/ModalAnswer.h"
#include "support/TestMedia.h"
#include "support/WindowMenus.h"
#include "viewer/ViewerWidget.h"
#include "window/MonitorPanel.h"
#include "window/TessarinX.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QTemporaryDir>
#include <QUndoCommand>
#include <QSignalSpy>
#include <QUndoStack>
#include <QtTest>

#include <memory>

class TestTessarinX : public QObject
{
    Q_OBJECT

private:
    static QStringList Entries(QMenu* menu) { return WindowMenus::Entries(menu); }
    static QMenu* TopMenu(TessarinX& window, QString const& title) { return WindowMenus::TopMenu(&window, title); }

    static void ShowAndActivate(TessarinX& window)
    {
        QTRY_VERIFY(window.isVisible());
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }

    static QAction* EntryStartingWith(QMenu* menu, QString const& prefix)
    {
        for (QAction* action : menu->actions())
            if (action->text().startsWith(prefix))
                return action;
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        WindowMenus::UseTestWindowSettings();
    }

    void firstWindowShowsTheViewerUsefullyAndStoredGeometryWins()
    {
        // A first start: nothing stored.
        Settings::windowGeometry.clear();
        Settings::windowState.clear();
        QRect stored;
        {
            TessarinX window({});
            ShowAndActivate(window);
            QRect const available = window.screen()->availableGeometry();
            QSize const expected = available.size() * 2 / 3;
            QCOMPARE(window.size(), expected);
            QVERIFY2((window.frameGeometry().center() - available.center()).manhattanLength() <= 40,
                     qPrintable(QStringLiteral("%1,%2").arg(window.frameGeometry().x()).arg(window.frameGeometry().y())));
            window.setGeometry(QRect(70, 90, 900, 640));
            QTRY_COMPARE(window.geometry(), QRect(70, 90, 900, 640));
            stored = window.geometry();
            window.Shutdown();
        }
        QVERIFY(!Settings::windowGeometry.isEmpty());
        // The next start keeps what the last one left.
        TessarinX window({});
        ShowAndActivate(window);
        QCOMPARE(window.geometry(), stored);
        window.Shutdown();
    }

    void undoEntriesFollowTheProjectStack()
    {
        Settings::projectUndoEnabled = true;
        TessarinX window({});
        QMenu* edit = TopMenu(window, "Edit");
        QStringList const entries = Entries(edit);
        QCOMPARE(entries.mid(3), (QStringList{"Range Start to Current", "Range End to Current", "Reset Range", "-",
                                              "Always on Top", "-", "Project Settings...", "Preferences..."}));
        QAction* undo = edit->actions().at(0);
        QVERIFY(!undo->isEnabled()); // nothing to undo yet
        window.findChild<ProjectManager*>()->UndoStackPtr()->push(new QUndoCommand("Rename Clip"));
        QVERIFY(undo->isEnabled());
        QVERIFY(undo->text().contains("Rename Clip"));
        window.findChild<ProjectManager*>()->UndoStackPtr()->undo();
        QVERIFY(!undo->isEnabled());

        // While the annotation tools show, the project undo has no key.
        window.SetAnnotationShortcutsEnabled(true);
        QVERIFY(undo->shortcut().isEmpty());
        window.SetAnnotationShortcutsEnabled(false);
    }

    void noUndoEntriesWithoutProjectUndo()
    {
        Settings::projectUndoEnabled = false;
        TessarinX window({});
        QStringList const entries = Entries(TopMenu(window, "Edit"));
        QCOMPARE(entries.first(), QString("Range Start to Current"));
        QVERIFY(!entries.contains("Undo"));
        for (QAction* action : window.actions())
            if (action->text().startsWith("Undo"))
                QVERIFY2(action->shortcut().isEmpty(), qPrintable(action->text()));
        Settings::projectUndoEnabled = true;
    }

    void fileToolsAndSideBarEntries()
    {
        Settings::sideBarLeft = true;
        TessarinX window({});
        ShowAndActivate(window);
        QCOMPARE(Entries(TopMenu(window, "File")).mid(0, 13),
                 (QStringList{"Import File(s)...", "Import Folder...", "-", "New Project", "Open Project...",
                              "Import Project...", "-", "Save Project", "Save Project As...", "-",
                              "Export to File...", ">Capture Image", "-"}));
        QMenu* tools = TopMenu(window, "Tools");
        QVERIFY(WindowMenus::OpenAndClose(&window, tools));
        QVERIFY(EntryStartingWith(tools, "Move Side Bar"));
        QCOMPARE(EntryStartingWith(tools, "Move Side Bar")->text(), QString("Move Side Bar Right"));
        QVERIFY(WindowMenus::Choose(&window, tools, EntryStartingWith(tools, "Move Side Bar")));
        QVERIFY(WindowMenus::OpenAndClose(&window, tools));
        QCOMPARE(EntryStartingWith(tools, "Move Side Bar")->text(), QString("Move Side Bar Left"));

        // In the single layout no layout entry is checked.
        QMenu* video = TopMenu(window, "Video");
        QVERIFY(WindowMenus::OpenAndClose(&window, video));
        QMenu* layout = nullptr;
        for (QAction* action : video->actions())
            if (action->menu() && action->text() == "Layout")
                layout = action->menu();
        QVERIFY(layout);
        for (QAction* action : layout->actions())
            QVERIFY2(!action->isChecked(), qPrintable(action->text()));
        window.Shutdown();
    }

    void menusHoldTheirEntriesInOrder()
    {
        Settings::sideBarLeft = true;
        TessarinX window({});
        ShowAndActivate(window);
        QCOMPARE(Entries(TopMenu(window, "File")),
                 (QStringList{"Import File(s)...", "Import Folder...", "-", "New Project", "Open Project...",
                              "Import Project...", "-", "Save Project", "Save Project As...", "-",
                              "Export to File...", ">Capture Image", "-", "Open New Instance", "-", ">Recent Files",
                              ">Recent Projects", "-", "Exit"}));
        QMenu* video = TopMenu(window, "Video");
        QCOMPARE(Entries(video), (QStringList{">Layout", "-", ">Annotations", ">Overlays", ">A/B Wipe", "-", ">Size",
                                              "Fullscreen", "-", ">Pan/Zoom", "-", "Rotate CW", "Rotate CCW",
                                              "Flip Horizontal", "Flip Vertical", "Reset Flip/Rotate"}));
        QCOMPARE(Entries(WindowMenus::SubMenu(video, "Layout")),
                 (QStringList{"A/B", "Horizontal", "Vertical", "Grid"}));
        QCOMPARE(Entries(WindowMenus::SubMenu(video, "Annotations")),
                 (QStringList{"On", "Off During Playback", "Off"}));
        QCOMPARE(Entries(WindowMenus::SubMenu(video, "A/B Wipe")),
                 (QStringList{"Toggle A/B Wipe", "Reset A/B Wipe", "-", "Snap on Move/Rotate", "Snap Guides"}));
        QVERIFY(WindowMenus::OpenAndClose(&window, TopMenu(window, "Tools")));
        QCOMPARE(Entries(TopMenu(window, "Tools")),
                 (QStringList{"Swap A/B Timelines", "Clear All Viewer Timelines", "-", "Global Time Control",
                              "Range Time Control", "Swap Time Controls", "-", "Playback Controls", "Viewer Controls",
                              "Menu Bar", "-", "Side Bar", "Move Side Bar Right", "-", "Annotation Tools", "-",
                              "Media Info", "Console", "-", "Maya Tools"}));
        // The tool keys and the command list stand in no menu but are the window's.
        for (char const* text : {"Activate Pencil", "Activate Rectangle", "Increase Tool Size", "Activate Eyedropper",
                                 "Hold Annotations", "Ghosting", "Undo Annotation", "Recent Commands List"})
            QVERIFY2(WindowMenus::WindowAction(&window, text), text);
        window.Shutdown();
    }

    void everyBoundCommandHasItsDefaultShortcut()
    {
        TessarinX window({});
        QList<QKeySequence> inForce;
        for (QAction* action : window.actions())
            inForce.append(action->shortcuts());
        KeyBindings defaults;
        for (KeySequence const* row : defaults.GetKeySequences())
        {
            // Rows the full edition offers no action for: the player's own file
            // commands.
            bool const unbound = row->type == KeySequenceType::SaveSourceAs ||
                                 row->type == KeySequenceType::ReplaceSource ||
                                 row->type == KeySequenceType::ShowInFolder;
            for (QKeySequence const& sequence : row->defaultSequences)
                QVERIFY2(sequence.isEmpty() || unbound || inForce.contains(sequence), qPrintable(row->name));
        }
        QCOMPARE(WindowMenus::WindowAction(&window, "Import File(s)...")->shortcut(), QKeySequence(QKeySequence::Open));
        window.Shutdown();
    }

    void projectActionsRunOncePerTrigger()
    {
        TessarinX window({});
        ShowAndActivate(window);
        QTemporaryDir dir;
        QString const error = WindowMenus::CheckProjectActionsRunOnce(&window, dir.filePath("review.zeph"));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        window.Shutdown();
    }

    void f2RenamesInTheProjectTree()
    {
        Settings::sideBarVisible = true;
        TessarinX window({});
        ShowAndActivate(window);
        auto* manager = window.findChild<ProjectManager*>();
        QUuid const folder = manager->DoAddFolderCmd(QStringLiteral("Plates"), manager->ProjectFolderId(), {});
        ProjectPanel* panel = window.findChild<ProjectPanel*>();
        panel->RefreshProject();
        panel->FlushPendingRefresh();
        ProjectTreeWidget* tree = panel->TreeWidget();
        tree->expandAll();
        ProjectTreeWidgetItem* row = tree->FindItemById(folder);
        QVERIFY(row);
        QTRY_VERIFY(tree->isVisible());
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualItemRect(row).center());
        QTRY_VERIFY(tree->hasFocus());
        QVERIFY(row->isSelected());

        QAction* const globalBarAction = WindowMenus::WindowAction(&window, "Global Time Control");
        QSignalSpy triggers(globalBarAction, &QAction::triggered);
        QTest::keyClick(tree, Qt::Key_F2);
        QTRY_VERIFY(tree->InEditingState());
        QCOMPARE(triggers.count(), 0);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTRY_VERIFY(!tree->InEditingState());

        // Away from the tree F2 keeps its own command.
        window.activateWindow();
        window.setFocus();
        QTRY_VERIFY(!tree->hasFocus());
        QTest::keyClick(&window, Qt::Key_F2);
        QCOMPARE(triggers.count(), 1);
        window.Shutdown();
    }

    void dialogsRefusedInFullScreenKeepState()
    {
        Settings::sideBarVisible = true;
        TessarinX window({});
        ShowAndActivate(window);
        auto* dock = window.findChild<QDockWidget*>("sidebardock");
        QTRY_VERIFY(dock->isVisible());
        QVERIFY(window.menuBar()->isVisible());

        QTest::keySequence(&window, WindowMenus::WindowAction(&window, "Fullscreen")->shortcut());
        QTRY_VERIFY(window.isFullScreen());
        QVERIFY(dock->isHidden());
        QVERIFY(!window.menuBar()->isVisible());

        WindowMenus::ModalDialogGuard guard;
        for (QString const text : {"Export to File...", "Project Settings...", "Recent Commands List",
                                   "Import Project...", "Import Folder...", "Import File(s)...", "Preferences..."})
        {
            QAction* action = WindowMenus::WindowAction(&window, text);
            QVERIFY2(action, qPrintable(text));
            WindowMenus::Press(&window, action);
            for (QWidget* widget : QApplication::topLevelWidgets())
                QVERIFY2(widget == &window || widget->isHidden(), qPrintable(text + ": " + widget->windowTitle()));
            QVERIFY(window.isFullScreen());
            QVERIFY(dock->isHidden());
        }
        QCOMPARE(guard.Closed(), QStringList());

        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_Escape);
        QTRY_VERIFY(!window.isFullScreen());
        QTRY_VERIFY(dock->isVisible());
        QVERIFY(Settings::sideBarVisible);
        QVERIFY(window.menuBar()->isVisible());
        QVERIFY(WindowMenus::OpenAndClose(&window, TopMenu(window, "Tools")));
        QVERIFY(WindowMenus::WindowAction(&window, "Side Bar")->isChecked());
        window.Shutdown();
    }

    void fullScreenGivesBackTheWindowItTook()
    {
        Settings::sideBarVisible = true;
        Settings::menuBarVisible = true;
        TessarinX window({});
        ShowAndActivate(window);
        QAction* const fullscreen = WindowMenus::WindowAction(&window, "Fullscreen");
        window.showMaximized();
        QTRY_VERIFY(window.isMaximized());
        WindowMenus::Press(&window, fullscreen);
        QTRY_VERIFY(window.isFullScreen());
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_Escape);
        QTRY_VERIFY(!window.isFullScreen());
        QVERIFY(window.isMaximized());
        window.Shutdown();
    }

    void quittingInFullScreenStoresTheWindowOfBefore()
    {
        Settings::sideBarVisible = true;
        Settings::menuBarVisible = true;
        TessarinX window({});
        ShowAndActivate(window);
        WindowMenus::Press(&window, WindowMenus::WindowAction(&window, "Fullscreen"));
        QTRY_VERIFY(window.isFullScreen());
        QVERIFY(!Settings::menuBarVisible);
        QVERIFY(!Settings::sideBarVisible);
        QVERIFY(window.close());
        QVERIFY(Settings::menuBarVisible);
        QVERIFY(Settings::sideBarVisible);
        QWidget next;
        QVERIFY(next.restoreGeometry(Settings::windowGeometry));
        QVERIFY(!next.windowState().testFlag(Qt::WindowFullScreen));
    }

    void viewerDropsAddToTheBrowsersProject()
    {
        TessarinX window({});
        ShowAndActivate(window);
        auto* manager = window.findChild<ProjectManager*>();
        auto* viewer = window.findChild<ViewerWidget*>();
        QString const first = TestMedia::Path("h264_cfr25.mp4");
        QString const second = TestMedia::Path("vfr.mkv");
        ModalAnswer cancel(QMessageBox::Cancel);
        for (QString const& path : {first, second})
        {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(path)});
            QPoint const middle = viewer->rect().center();
            QDragEnterEvent enter(middle, Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(viewer, &enter);
            QDropEvent drop(middle, Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(viewer, &drop);
            QTRY_VERIFY_WITH_TIMEOUT(manager->MediaPathExistsInProject(path), 10000);
        }
        // The browser's project grows: nothing is replaced, so nothing is asked.
        QVERIFY(manager->MediaPathExistsInProject(first));
        QCOMPARE(cancel.Asked(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!manager->SourceParsingInProgress(), 10000);
        window.Shutdown();
    }
};

QTEST_MAIN(TestTessarinX)
#include "tst_tessarinx.moc"
