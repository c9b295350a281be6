// TESSARIN_TEST: xvfb
// The time bars the OpenGL viewer draws inside its frame: the viewer widget
// hands their mouse input on and opens a bar's menu only on a release over it.
#include "ViewerTestRig.h"
#include "../media/EngineTestRig.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/ProjectManager.h"
#include "viewer/OpenGLViewer.h"
#include "viewer/ViewerWidget.h"
#include "window/GlobalTimeControlWidget.h"
#include "window/PlaybackControlWidget.h"
#include "window/RangeTimeControlWidget.h"

#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <QtTest>

class TestViewerWidgetBars : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void MenuOpensOnlyOnAReleaseOverTheBar();

private:
    // Whether a pop-up menu shows within the time; it is closed again.
    bool MenuShown(std::function<void()> const& action);

    std::unique_ptr<ProjectManager> mProjectManager;
    std::unique_ptr<QWidget> mHost;
    std::unique_ptr<Timeline> mTimeline;
    ViewerWidget* mViewer = nullptr;
};

void TestViewerWidgetBars::initTestCase()
{
    mProjectManager = std::make_unique<ProjectManager>();
    mHost = std::make_unique<QWidget>();
    auto* const playback = new PlaybackControlWidget(mProjectManager->AvManagerPtr(), nullptr, mHost.get());
    auto* const global = new GlobalTimeControlWidget(mProjectManager.get(), playback, mHost.get());
    auto* const range = new RangeTimeControlWidget(mProjectManager.get(), playback, mHost.get());
    global->hide();
    range->hide();
    playback->hide();
    mViewer = new ViewerWidget(mProjectManager.get(), global, range, playback, mHost.get());
    mViewer->setGeometry(0, 0, 640, 480);
    mHost->resize(640, 480);
    mHost->show();
    QVERIFY(QTest::qWaitForWindowExposed(mHost.get()));
    mTimeline = EngineTestRig::SourceTimeline(QStringLiteral("numbered_24fps.mp4"));
    mProjectManager->AvManagerPtr()->DecodeTimeline(mTimeline.get(), 0, false, true, false);
    QVERIFY(QTest::qWaitFor([&] { return mViewer->FrameInSlot(0, 3) != nullptr; }, 10000));
}

void TestViewerWidgetBars::cleanupTestCase()
{
    mProjectManager->AvManagerPtr()->ClearAll(false, 5000);
    mHost.reset();
    mProjectManager->Shutdown();
    mProjectManager.reset();
    mTimeline.reset();
}

bool TestViewerWidgetBars::MenuShown(std::function<void()> const& action)
{
    bool shown = false;
    QTimer watch;
    watch.setInterval(10);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (QWidget* const popup = QApplication::activePopupWidget(); qobject_cast<QMenu*>(popup))
        {
            shown = true;
            popup->close();
        }
    });
    watch.start();
    action();
    QTest::qWait(300);
    return shown;
}

void TestViewerWidgetBars::MenuOpensOnlyOnAReleaseOverTheBar()
{
    auto* const viewer = qobject_cast<OpenGLViewer*>(mViewer->ViewerWidgetPtr());
    QVERIFY(viewer);
    int barY = -1;
    for (int y = 0; y < mViewer->height() && barY < 0; ++y)
    {
        if (viewer->GlobalTimeControlContains(QPoint(320, y)))
        {
            barY = y;
        }
    }
    if (barY < 0)
    {
        QSKIP("the OpenGL viewer does not draw the time bars");
    }
    QPoint const onBar(320, barY);
    QPoint offBar(320, barY < mViewer->height() / 2 ? mViewer->height() - 100 : 100);
    QVERIFY(!viewer->GlobalTimeControlContains(offBar));

    QVERIFY(!MenuShown([&] {
        QTest::mousePress(mViewer, Qt::RightButton, Qt::NoModifier, onBar);
        QTest::mouseRelease(mViewer, Qt::RightButton, Qt::NoModifier, offBar);
    }));
    QVERIFY(MenuShown([&] {
        QTest::mousePress(mViewer, Qt::RightButton, Qt::NoModifier, onBar);
        QTest::mouseRelease(mViewer, Qt::RightButton, Qt::NoModifier, onBar);
    }));
    // A right press elsewhere is not the bar's.
    QVERIFY(!MenuShown([&] {
        QTest::mousePress(mViewer, Qt::RightButton, Qt::NoModifier, offBar);
        QTest::mouseRelease(mViewer, Qt::RightButton, Qt::NoModifier, onBar);
    }));
}

int main(int argc, char* argv[])
{
    ViewerTestRig::SetDefaultSurfaceFormat();
    QApplication application(argc, argv);
    Settings::hardwareRenderingEnabled = true;
    Settings::LatchHardwareRendering();
    TestViewerWidgetBars test;
    int const status = QTest::qExec(&test, argc, argv);
    ViewerTestRig::KeepOpenGLDriverLoaded();
    return status;
}

#include "tst_viewerwidgetbars.moc"
