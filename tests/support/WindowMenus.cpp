#include "WindowMenus.h"

#include "app/Settings.h"
#include "model/ProjectManager.h"
#include "panels/ProjectPanel.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

namespace
{
// QObject::receivers() is for subclasses; this one lends it to the tests.
struct ReceiverCount : QObject
{
    static int Of(QObject const* sender, char const* signal) { return (sender->*(&ReceiverCount::receivers))(signal); }
};
} // namespace

namespace WindowMenus
{
void UseTestWindowSettings()
{
    Settings::clientApiPortEnabled = false;
    Settings::consoleShowOnType = 0;
    Settings::hardwareRenderingEnabled = false;
    Settings::LatchHardwareRendering();
    // Menus are opened by clicks in quick succession.
    Settings::menuWaitBetweenMousePressesEnabled = false;
}

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

QMenu* TopMenu(QMainWindow* window, QString const& title)
{
    for (QAction* action : window->menuBar()->actions())
        if (action->menu() && action->text() == title)
            return action->menu();
    return nullptr;
}

QMenu* SubMenu(QMenu* menu, QString const& text)
{
    for (QAction* action : menu->actions())
        if (action->menu() && action->text() == text)
            return action->menu();
    return nullptr;
}

QAction* WindowAction(QWidget* window, QString const& text, QString const& tip)
{
    for (QAction* action : window->actions())
        if (action->text() == text && (tip.isEmpty() || action->statusTip() == tip))
            return action;
    return nullptr;
}

int TriggeredConnections(QAction* action)
{
    return ReceiverCount::Of(action, SIGNAL(triggered(bool)));
}

namespace
{
bool Open(QMainWindow* window, QMenu* menu)
{
    QMenuBar* const bar = window->menuBar();
    if (bar->isVisible() && bar->actions().contains(menu->menuAction()))
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    else
        menu->popup(window->mapToGlobal(QPoint(20, 20)));
    return QTest::qWaitFor([menu] { return menu->isVisible(); });
}
} // namespace

bool OpenAndClose(QMainWindow* window, QMenu* menu)
{
    if (!Open(window, menu))
        return false;
    QTest::keyClick(menu, Qt::Key_Escape);
    return QTest::qWaitFor([menu] { return menu->isHidden(); });
}

bool Choose(QMainWindow* window, QMenu* menu, QAction* entry)
{
    if (!Open(window, menu) || !menu->actions().contains(entry))
        return false;
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(entry).center());
    return QTest::qWaitFor([menu] { return menu->isHidden(); });
}

bool ChooseText(QMainWindow* window, QMenu* menu, QString const& text)
{
    // Found once the menu shows: menus rebuilt on showing make new entries.
    if (!Open(window, menu))
        return false;
    for (QAction* entry : menu->actions())
    {
        if (entry->text() == text)
        {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(entry).center());
            return QTest::qWaitFor([menu] { return menu->isHidden(); });
        }
    }
    QTest::keyClick(menu, Qt::Key_Escape);
    return false;
}

void Press(QWidget* window, QAction* action)
{
    window->activateWindow();
    QTest::qWaitForWindowActive(window);
    if (action->shortcut().isEmpty())
        action->trigger();
    else
        QTest::keySequence(window, action->shortcut());
}

ModalDialogGuard::ModalDialogGuard()
{
    // A modal dialog runs an event loop of its own, in which this fires.
    mTimer.setInterval(0);
    QObject::connect(&mTimer, &QTimer::timeout, [this] {
        if (QWidget* modal = QApplication::activeModalWidget())
        {
            mClosed << modal->windowTitle();
            modal->close();
        }
    });
    mTimer.start();
}

QString CheckProjectActionsRunOnce(QMainWindow* window, QString const& projectPath)
{
    auto* manager = window->findChild<ProjectManager*>();
    auto* panel = window->findChild<ProjectPanel*>();
    if (!manager || !panel)
        return "no project manager or project panel";
    if (!panel->SaveProjectAsByPath(projectPath))
        return "could not save " + projectPath;

    // Each connection beyond the first would run the panel's slot again.
    QAction* const inFileMenu = WindowAction(window, "New Project");
    QAction* const inNoMenu = WindowAction(window, "Import Recent File");
    struct
    {
        char const* text;
        QAction* reference;
    } const actions[] = {{"Open Project...", inFileMenu},
                         {"Open Recent Project", inNoMenu},
                         {"Save Project", inFileMenu},
                         {"Save Project As...", inFileMenu}};
    for (auto const& [text, reference] : actions)
    {
        QAction* const action = WindowAction(window, text);
        if (!action)
            return QString("no action \"%1\"").arg(text);
        if (TriggeredConnections(action) != TriggeredConnections(reference))
            return QString("\"%1\" has %2 connections, \"%3\" %4")
                .arg(text)
                .arg(TriggeredConnections(action))
                .arg(reference->text())
                .arg(TriggeredConnections(reference));
    }

    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        return "the window did not become active";
    QSignalSpy updated(manager, &ProjectManager::ProjectUpdated);
    panel->OpenProjectByPath(projectPath);
    qsizetype const perOpen = updated.size();
    if (perOpen == 0)
        return "opening the project reported nothing";

    updated.clear();
    // "Open Recent Project" has no menu entry: only its key reaches it.
    QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier | Qt::MetaModifier | Qt::ShiftModifier);
    if (updated.size() != perOpen)
        return QString("Open Recent Project: %1 updates, one opening makes %2").arg(updated.size()).arg(perOpen);

    // "Open Project..." asks for a path unless its data names one.
    QAction* const open = WindowAction(window, "Open Project...");
    open->setData(projectPath);
    updated.clear();
    QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    open->setData(QVariant());
    if (updated.size() != perOpen)
        return QString("Open Project: %1 updates, one opening makes %2").arg(updated.size()).arg(perOpen);

    QSignalSpy saved(manager, &ProjectManager::UndoCleanChanged);
    panel->SaveProject();
    qsizetype const perSave = saved.size();
    if (perSave == 0)
        return "saving the project reported nothing";
    saved.clear();
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
    if (saved.size() != perSave)
        return QString("Save Project: %1 saves, one save makes %2").arg(saved.size()).arg(perSave);
    return QString();
}
} // namespace WindowMenus
