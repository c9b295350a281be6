// TESSARIN_TEST: xvfb
#include "app/Settings.h"
#include "model/ProjectManager.h"
#include "window/TessarinX.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QUndoCommand>
#include <QUndoStack>
#include <QtTest>

#include <memory>

class TestTessarinX : public QObject
{
    Q_OBJECT

private:
    static QStringList Entries(QMenu* menu)
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
                entries << (action->menu() ? ">" : "") + action->text();
        }
        while (!entries.isEmpty() && entries.last() == "-")
            entries.removeLast();
        return entries;
    }

    static QMenu* TopMenu(TessarinX& window, QString const& title)
    {
        for (QAction* action : window.menuBar()->actions())
            if (action->menu() && action->text() == title)
                return action->menu();
        return nullptr;
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
        Settings::clientApiPortEnabled = false;
        Settings::consoleShowOnType = 0;
        Settings::hardwareRenderingEnabled = false;
        Settings::LatchHardwareRendering();
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
        QCOMPARE(Entries(TopMenu(window, "File")).mid(0, 13),
                 (QStringList{"Import File(s)...", "Import Folder...", "-", "New Project", "Open Project...",
                              "Import Project...", "-", "Save Project", "Save Project As...", "-",
                              "Export to File...", ">Capture Image", "-"}));
        QMenu* tools = TopMenu(window, "Tools");
        QMetaObject::invokeMethod(tools, "aboutToShow");
        QVERIFY(EntryStartingWith(tools, "Move Side Bar"));
        QCOMPARE(EntryStartingWith(tools, "Move Side Bar")->text(), QString("Move Side Bar Right"));
        EntryStartingWith(tools, "Move Side Bar")->trigger();
        QMetaObject::invokeMethod(tools, "aboutToShow");
        QCOMPARE(EntryStartingWith(tools, "Move Side Bar")->text(), QString("Move Side Bar Left"));

        // In the single layout no layout entry is checked.
        QMenu* video = TopMenu(window, "Video");
        QMetaObject::invokeMethod(video, "aboutToShow");
        QMenu* layout = nullptr;
        for (QAction* action : video->actions())
            if (action->menu() && action->text() == "Layout")
                layout = action->menu();
        QVERIFY(layout);
        for (QAction* action : layout->actions())
            QVERIFY2(!action->isChecked(), qPrintable(action->text()));
        window.Shutdown();
    }
};

QTEST_MAIN(TestTessarinX)
#include "tst_tessarinx.moc"
