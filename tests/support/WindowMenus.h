#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>

class QAction;
class QMainWindow;
class QMenu;
class QWidget;

// What the tests of the main window read of its menus and actions.
namespace WindowMenus
{
// Settings for a main window under test: no client port, no console popping
// up, the software viewer.
void UseTestWindowSettings();
// What the user sees of a menu: entry texts, "-" for a separator that shows
// (Qt drops separators at either end and runs of them), ">" before a submenu.
QStringList Entries(QMenu* menu);
QMenu* TopMenu(QMainWindow* window, QString const& title);
QMenu* SubMenu(QMenu* menu, QString const& text);
// The window's action with that text (and status tip, when one is given).
QAction* WindowAction(QWidget* window, QString const& text, QString const& tip = QString());
// How many connections the action's triggered signal has, a menu's own included.
int TriggeredConnections(QAction* action);
// Opens the menu as the user does, by a click on its title when it is in the
// menu bar, else by popping it up, and closes it with Escape: the entries
// refresh their states as the menu opens. False when it did not open or close.
bool OpenAndClose(QMainWindow* window, QMenu* menu);

// Opens the menu the same way and clicks the entry; false when the menu did
// not open or did not close after the click.
bool Choose(QMainWindow* window, QMenu* menu, QAction* entry);

// The same for the entry with that text, looked up once the menu shows (a
// menu rebuilt on showing has new entries each time).
bool ChooseText(QMainWindow* window, QMenu* menu, QString const& text);

// Presses the action's key in the active window, or triggers it when it has none.
void Press(QWidget* window, QAction* action);

// Closes every modal dialog that opens while it lives, so that a dialog that
// should have been refused can't hang a test, and keeps their titles.
class ModalDialogGuard
{
public:
    ModalDialogGuard();
    QStringList const& Closed() const { return mClosed; }

private:
    QTimer mTimer;
    QStringList mClosed;
};

// Triggers the four project actions (open, open recent, save, save as) and
// checks that each reaches the project once: a key press does as much as one
// direct call to the project panel, and each action is connected as often as
// an action with one receiver in the same menus. Saves a project at
// projectPath first. Returns what went wrong, or an empty string.
QString CheckProjectActionsRunOnce(QMainWindow* window, QString const& projectPath);
}
