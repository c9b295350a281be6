// TESSARIN_TEST: xvfb
// The side bar in the main window's dock: the project commands of the window
// reach the project panel, each exactly once.

#include "support/TestMedia.h"
#include "../viewer/ViewerTestRig.h"

#include "app/FileHelpers.h"
#include "app/Settings.h"
#include "model/ProjectManager.h"
#include "panels/ProjectPanel.h"
#include "panels/SideBarWidget.h"
#include "window/MonitorPanel.h"
#include "window/TessarinOrvel.h"

#include <QAction>
#include <QDockWidget>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

class TestSideBarDock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The window's OpenGL viewer loads the driver; keep it mapped so that what
    // it still holds at exit is not read as a leak of ours.
    void cleanupTestCase() { ViewerTestRig::KeepOpenGLDriverLoaded(); }
    void ProjectCommandsReachThePanelOnce();
    void MonitorFillsTheWindowAndTheDockTakesItsSide();
};

void TestSideBarDock::MonitorFillsTheWindowAndTheDockTakesItsSide()
{
    Settings::clientApiPortEnabled = false;
    Settings::consoleShowOnType = 0;
    bool const oldLeft = Settings::sideBarLeft;
    auto const restore = qScopeGuard([oldLeft] { Settings::sideBarLeft = oldLeft; });
    for (bool const left : {true, false})
    {
        Settings::sideBarLeft = left;
        // No stored dock state: the last window's would put the dock back.
        Settings::windowState.clear();
        auto window = std::make_unique<TessarinOrvel>(QList<QString>());
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 5000);
        QLayout const* layout = window->centralWidget()->layout();
        QVERIFY(qobject_cast<QVBoxLayout const*>(layout));
        QCOMPARE(layout->contentsMargins(), QMargins());
        QCOMPARE(layout->spacing(), 0);
        QCOMPARE(layout->count(), 1);
        QVERIFY(qobject_cast<MonitorPanel*>(layout->itemAt(0)->widget()));
        auto* dock = window->findChild<QDockWidget*>(QStringLiteral("sidebardock"));
        QVERIFY(dock);
        QCOMPARE(window->dockWidgetArea(dock), left ? Qt::LeftDockWidgetArea : Qt::RightDockWidgetArea);
    }
}

void TestSideBarDock::ProjectCommandsReachThePanelOnce()
{
    Settings::clientApiPortEnabled = false;
    Settings::consoleShowOnType = 0;
    QTemporaryDir dir;
    auto window = std::make_unique<TessarinOrvel>(QList<QString>());
    QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 5000);
    auto* dock = window->findChild<QDockWidget*>(QStringLiteral("sidebardock"));
    QVERIFY(dock);
    auto* sideBar = qobject_cast<SideBarWidget*>(dock->widget());
    QVERIFY(sideBar);
    ProjectPanel* panel = sideBar->ProjectPanelPtr();
    auto* manager = window->findChild<ProjectManager*>();
    QVERIFY(manager);
    auto const action = [&window](QString const& text) -> QAction* {
        for (QAction* a : window->actions())
        {
            if (a->text() == text)
            {
                return a;
            }
        }
        return nullptr;
    };

    // Save As through the panel's path twin, then Save through the window's
    // action: the file is written once more.
    QString const path = dir.filePath(QStringLiteral("dock.zeph"));
    QVERIFY(panel->SaveProjectAsByPath(path));
    QVERIFY(QFile::remove(path));
    QSignalSpy clean(manager, &ProjectManager::UndoCleanChanged);
    action(QStringLiteral("Save Project"))->trigger();
    QVERIFY(QFileInfo::exists(path));
    int const perSave = clean.count();
    QVERIFY(perSave > 0);

    // Open Recent opens the most recent project without a dialog, once: as
    // many announcements as one direct open gives.
    QSignalSpy updates(manager, &ProjectManager::ProjectPathChanged);
    panel->OpenProjectByPath(path);
    int const perOpen = updates.count();
    QVERIFY(perOpen > 0);
    updates.clear();
    QCOMPARE(FileHelpers::MostRecentProjectPath(), path);
    action(QStringLiteral("Open Recent Project"))->trigger();
    QCOMPARE(updates.count(), perOpen);

    // New Project: one new project.
    QSignalSpy projects(manager, &ProjectManager::ProjectUpdated);
    manager->NewProject(true);
    int const perNew = projects.count();
    projects.clear();
    action(QStringLiteral("New Project"))->trigger();
    QCOMPARE(projects.count(), perNew);

    window->Shutdown();
}

QTEST_MAIN(TestSideBarDock)
#include "tst_sidebardock.moc"
