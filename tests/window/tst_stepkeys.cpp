// TESSARIN_TEST: xvfb
// The frame step keys on the whole window, pressed as a user presses them,
// with the frame read back from the number the clip carries in its pixels; in
// the rendering mode of this run: software by default, OpenGL with
// TESSARIN_TEST_HARDWARE_RENDERING=1.
#include "../viewer/ViewerTestRig.h"
#include "support/TaskHold.h"
#include "support/TestMedia.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "viewer/OpenGLViewer.h"
#include "viewer/ViewerWidget.h"
#include "window/GlobalTimeControlWidget.h"
#include "window/MonitorPanel.h"
#include "window/TessarinOrvel.h"

#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

class TestStepKeys : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mHome;
    std::unique_ptr<TessarinOrvel> mWindow;

    static QString Media(QString const& name) { return TestMedia::Dir() + QLatin1Char('/') + name; }

    AvManager* Engine() const { return mWindow->findChild<AvManager*>(); }
    GlobalTimeControlWidget* Bar() const { return mWindow->MonitorPanelPtr()->GlobalTimeControl(); }

    int Shown() const
    {
        return ViewerTestRig::ReadNumber(mWindow->MonitorPanelPtr()->ViewerWidgetPtr()->CaptureImage(false));
    }

    // Waits until the viewer shows the frame; a starved machine gets a minute.
    bool WaitShown(int frame) const { return QTest::qWaitFor([&] { return Shown() == frame; }, 60000); }

    // Opens a file as a second instance would hand it over, and waits until
    // its first frame shows.
    bool Open(QString const& name, int lastFrame)
    {
        mWindow->ProcessMessageFromOtherInstance({QString(), Media(name)});
        return QTest::qWaitFor([&] { return Bar()->EndFrame() == lastFrame; }, 60000) && WaitShown(0);
    }

    void Press(Qt::Key key) { QTest::keyClick(mWindow.get(), key); }

    // count presses of the key, one every interval milliseconds, as a held
    // key or a quick finger sends them.
    bool PressBurst(Qt::Key key, int count, int interval)
    {
        int sent = 0;
        QTimer timer;
        timer.setInterval(interval);
        connect(&timer, &QTimer::timeout, this, [&] {
            if (sent < count)
            {
                Press(key);
                ++sent;
            }
        });
        timer.start();
        return QTest::qWaitFor([&] { return sent == count; }, 60000);
    }

    QString Describe(int expected) const
    {
        return QStringLiteral("shows %1 (the clock on %2), wanted %3")
            .arg(Shown())
            .arg(Bar()->PlaybackFrame())
            .arg(expected);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(mHome.isValid());
        qputenv("HOME", mHome.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", mHome.filePath(".config").toUtf8());
        Settings::clientApiPortEnabled = false;
        Settings::consoleShowOnType = 0;
        mWindow = std::make_unique<TessarinOrvel>(QList<QString>{});
        QTRY_VERIFY_WITH_TIMEOUT(mWindow->isVisible(), 5000);
        QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));
        mWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
    }

    void cleanupTestCase()
    {
        mWindow->Shutdown();
        mWindow.reset();
    }

    void init()
    {
        Settings::loopOnStepScrub = false;
        Settings::lockStepScrubToRange = false;
        Settings::pausePlaybackOnSeek = false;
    }

    void theWindowSurfaceTakesNoSamples()
    {
        // Only the viewer renders multisampled; the window's own surface,
        // which composes the widgets' pictures, takes no samples.
        auto* viewer = mWindow->findChild<OpenGLViewer*>();
        if (viewer == nullptr)
        {
            QSKIP("the software viewer draws without OpenGL");
        }
        QWindow const* window = mWindow->windowHandle();
        QVERIFY(window != nullptr);
        QCOMPARE(window->surfaceType(), QSurface::OpenGLSurface);
        QVERIFY2(window->requestedFormat().samples() <= 0, qPrintable(QString::number(window->requestedFormat().samples())));
        QVERIFY2(window->format().samples() <= 0, qPrintable(QString::number(window->format().samples())));
        // The viewer draws a picture into its multisampled framebuffer.
        QVERIFY(Open(QStringLiteral("numbered_av.mp4"), 99));
        QVERIFY(viewer->IsInitialized());
        viewer->makeCurrent();
        QOpenGLFunctions* functions = viewer->context()->functions();
        functions->glBindFramebuffer(GL_FRAMEBUFFER, viewer->defaultFramebufferObject());
        GLint samples = 0;
        GLint stencilBits = 0;
        functions->glGetIntegerv(GL_SAMPLES, &samples);
        functions->glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT,
                                                         GL_FRAMEBUFFER_ATTACHMENT_STENCIL_SIZE, &stencilBits);
        viewer->doneCurrent();
        QVERIFY2(samples > 1, qPrintable(QString::number(samples)));
        QCOMPARE(stencilBits, 8);
        QCOMPARE(viewer->context()->format().profile(), QSurfaceFormat::CoreProfile);
    }

    void FirstStepAfterEndShowsThePreviousFrame_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("last");
        QTest::newRow("ProRes with sound") << QStringLiteral("numbered_prores_av.mov") << 99;
        QTest::newRow("H.264 with sound") << QStringLiteral("numbered_av.mp4") << 99;
    }

    void FirstStepAfterEndShowsThePreviousFrame()
    {
        // On a fresh open only the last frame is cached after End: the first
        // Left must still step, to the frame before it, and so on.
        QFETCH(QString, name);
        QFETCH(int, last);
        QVERIFY(Open(name, last));
        Press(Qt::Key_End);
        QVERIFY2(WaitShown(last), qPrintable(Describe(last)));
        Press(Qt::Key_Left);
        QVERIFY2(WaitShown(last - 1), qPrintable(Describe(last - 1)));
        Press(Qt::Key_Left);
        QVERIFY2(WaitShown(last - 2), qPrintable(Describe(last - 2)));
        Press(Qt::Key_Right);
        QVERIFY2(WaitShown(last - 1), qPrintable(Describe(last - 1)));
        Press(Qt::Key_Home);
        QVERIFY2(WaitShown(0), qPrintable(Describe(0)));
    }

    void EveryPressOfABurstAcrossAKeyPictureCounts()
    {
        // 250-frame GOPs: from frame 270, 30 steps back cross the key picture
        // at 250, where the decoder must go back to the one at 0.
        QVERIFY(Open(QStringLiteral("numbered_gop250.mp4"), 299));
        Bar()->SetPlaybackTimeByFrame(270, false, false);
        QVERIFY2(WaitShown(270), qPrintable(Describe(270)));
        QVERIFY(PressBurst(Qt::Key_Left, 30, 30));
        QVERIFY2(WaitShown(240), qPrintable(Describe(240)));
        QVERIFY(PressBurst(Qt::Key_Right, 30, 30));
        QVERIFY2(WaitShown(270), qPrintable(Describe(270)));

        // The same while the decoder cannot deliver at all: no press waits
        // for a picture before the next one counts.
        QVERIFY(Open(QStringLiteral("numbered_av.mp4"), 99));
        TaskHold hold(Engine(), AvWorkerTaskType::DecodeVideo);
        mWindow->ProcessMessageFromOtherInstance({QString(), Media(QStringLiteral("numbered_gop250.mp4"))});
        QVERIFY(QTest::qWaitFor([&] { return Bar()->EndFrame() == 299; }, 60000));
        QVERIFY(hold.WaitUntilHeld());
        Bar()->SetPlaybackTimeByFrame(270, false, false);
        QVERIFY(PressBurst(Qt::Key_Left, 30, 30));
        QCOMPARE(Bar()->PlaybackFrame(), 240);
        hold.Release();
        QVERIFY2(WaitShown(240), qPrintable(Describe(240)));
    }
};

int main(int argc, char* argv[])
{
    return ViewerTestRig::ExecInRenderingMode<TestStepKeys>(argc, argv, ViewerTestRig::HardwareRenderingRequested());
}
#include "tst_stepkeys.moc"
