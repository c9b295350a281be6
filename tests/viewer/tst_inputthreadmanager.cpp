// TESSARIN_TEST: xvfb
// The cursor sampling thread: positions from the real cursor arrive mapped
// into the widget; threads come and go without aborts, leaks or races.
#include "app/Settings.h"
#include "viewer/InputThreadManager.h"
#include "viewer/InputWorker.h"

#include <QCursor>
#include <QSignalSpy>
#include <QThread>
#include <QWidget>
#include <QtTest>

#include <atomic>

class TestInputThreadManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void PositionsArriveMappedAndUnclipped();
    void SecondCreateMakesNoSecondThread();
    void DestroyWithoutThreadOnlyClearsTheFlag();
    void ManyCreateDestroyCycles();
    void DeletingTheManagerWhileSamplingJoinsTheThread();

private:
    std::unique_ptr<QWidget> mWidget;
};

void TestInputThreadManager::initTestCase()
{
    Settings::annotationInputWorkerSleepDuration = 1;
    mWidget = std::make_unique<QWidget>();
    mWidget->setGeometry(300, 200, 400, 300);
    mWidget->show();
    QVERIFY(QTest::qWaitForWindowExposed(mWidget.get()));
}

void TestInputThreadManager::PositionsArriveMappedAndUnclipped()
{
    InputThreadManager manager;
    QSignalSpy positions(&manager, &InputThreadManager::MousePositionChanged);
    manager.CreateInputThread(mWidget.get());
    for (QPoint const local : {QPoint(10, 20), QPoint(399, 299), QPoint(-40, -30), QPoint(450, 350)})
    {
        QPoint const global = mWidget->mapToGlobal(local);
        QCursor::setPos(global);
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return !positions.isEmpty() && positions.constLast().at(0).toPoint() == local;
                     },
                     5000),
                 qPrintable(QStringLiteral("(%1, %2)").arg(local.x()).arg(local.y())));
    }
    manager.DestroyInputThread();
    // Samples queued before the stop are not handed on. Once the thread has
    // ended, every sample it sent is posted: handling the posted events
    // delivers them all.
    int const count = positions.size();
    QTRY_COMPARE(manager.LiveThreadCount(), 0);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(positions.size(), count);
}

void TestInputThreadManager::SecondCreateMakesNoSecondThread()
{
    InputThreadManager manager;
    manager.CreateInputThread(mWidget.get());
    manager.CreateInputThread(mWidget.get());
    QVERIFY(manager.IsThreadRunning());
    QCOMPARE(manager.LiveThreadCount(), 1);
    manager.DestroyInputThread();
    QVERIFY(!manager.IsThreadRunning());
    QTRY_COMPARE(manager.LiveThreadCount(), 0);
}

void TestInputThreadManager::DestroyWithoutThreadOnlyClearsTheFlag()
{
    InputThreadManager manager;
    manager.DestroyInputThread();
    QVERIFY(!manager.IsThreadRunning());
    QCOMPARE(manager.LiveThreadCount(), 0);
}

void TestInputThreadManager::ManyCreateDestroyCycles()
{
    InputThreadManager manager;
    // A slow cursor query keeps some threads running past their stop request.
    std::atomic<int> samples {0};
    manager.SetCursorQuery([&samples] {
        ++samples;
        return QPoint(5, 5);
    });
    QSignalSpy positions(&manager, &InputThreadManager::MousePositionChanged);
    for (int cycle = 0; cycle < 200; ++cycle)
    {
        manager.CreateInputThread(mWidget.get());
        if (cycle % 20 == 0)
        {
            QVERIFY(QTest::qWaitFor([&] { return !positions.isEmpty(); }, 5000));
            positions.clear();
        }
        manager.DestroyInputThread();
        if (cycle % 7 == 0)
        {
            QCoreApplication::processEvents();
        }
    }
    QVERIFY(QTest::qWaitFor([&] { return manager.LiveThreadCount() == 0; }, 10000));
    QVERIFY(samples.load() > 0);
}

void TestInputThreadManager::DeletingTheManagerWhileSamplingJoinsTheThread()
{
    QPointer<QThread> thread;
    {
        auto* const parent = new QObject();
        auto* const manager = new InputThreadManager(parent);
        manager->CreateInputThread(mWidget.get());
        QSignalSpy positions(manager, &InputThreadManager::MousePositionChanged);
        QVERIFY(positions.wait(5000));
        manager->DestroyInputThread();
        manager->CreateInputThread(mWidget.get());
        delete parent; // one thread finishing, one sampling
    }
    QCoreApplication::processEvents();
}

QTEST_MAIN(TestInputThreadManager)
#include "tst_inputthreadmanager.moc"
