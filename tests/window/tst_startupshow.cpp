// TESSARIN_TEST: xvfb
// The window at start-up with a file to open, in the OpenGL rendering mode:
// the window is composed with the file's first picture early instead of
// several times without it, and a start-up file with no picture to show
// (sound only, unreadable, refused) holds none of the window's repaints.
#include "../viewer/ViewerTestRig.h"
#include "support/TestMedia.h"

#include "app/Settings.h"
#include "viewer/ViewerWidget.h"
#include "window/MonitorPanel.h"
#include "window/StartupPaintHold.h"
#include "window/TessarinOrvel.h"

#include <QFile>
#include <QOpenGLWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestStartupShow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mHome;

    static QString Media(QString const& name) { return TestMedia::Dir() + QLatin1Char('/') + name; }

    static ViewerWidget* Viewer(TessarinOrvel const& window) { return window.MonitorPanelPtr()->ViewerWidgetPtr(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(mHome.isValid());
        qputenv("HOME", mHome.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", mHome.filePath(".config").toUtf8());
        Settings::clientApiPortEnabled = false;
        Settings::consoleShowOnType = 0;
    }

    void theWindowIsComposedWithTheFirstPictureEarly()
    {
        auto window = std::make_unique<TessarinOrvel>(QList<QString>{Media("h264_cfr25.mp4")});
        auto* viewer = qobject_cast<QOpenGLWidget*>(Viewer(*window)->ViewerWidgetPtr());
        if (viewer == nullptr)
        {
            QSKIP("the software viewer paints with the window");
        }
        StartupPaintHold* const hold = window->HoldRepaintsForStartupPicture();
        QVERIFY(hold != nullptr);
        // However slow the machine, the picture and not the limit ends the hold.
        hold->SetLimit(600000);
        // Each composition of the window swaps the viewer's frame once.
        int composed = 0;
        int composedWithPicture = -1;
        connect(viewer, &QOpenGLWidget::frameSwapped, this, [&composed] { ++composed; });
        // The viewer tells of the picture from the swap that showed it, before
        // the count above has taken that swap.
        connect(Viewer(*window), &ViewerWidget::FirstPicturePainted, this,
                [&composed, &composedWithPicture] { composedWithPicture = composed + 1; });
        QTRY_VERIFY_WITH_TIMEOUT(composedWithPicture > 0, 60000);
        QVERIFY2(composedWithPicture <= 2,
                 qPrintable(QStringLiteral("composed %1 times up to the first picture").arg(composedWithPicture)));
        QVERIFY(hold->IsReleased());
        QVERIFY(window->updatesEnabled());
        window->Shutdown();
    }

    void aStartupFileWithoutPictureHoldsNoRepaints_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("sound only") << Media("tone.m4a");
        QTest::newRow("not a movie") << Media("fake.mov");
        QString const refused = mHome.filePath("notes.xyz");
        QFile file(refused);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not media");
        QTest::newRow("refused") << refused;
    }

    void aStartupFileWithoutPictureHoldsNoRepaints()
    {
        QFETCH(QString, path);
        auto window = std::make_unique<TessarinOrvel>(QList<QString>{path});
        StartupPaintHold* const hold = window->HoldRepaintsForStartupPicture();
        if (hold == nullptr)
        {
            QSKIP("the software viewer paints with the window");
        }
        // A hold not let go would outlast the wait below.
        hold->SetLimit(600000);
        QTRY_VERIFY_WITH_TIMEOUT(hold->IsReleased(), 60000);
        QVERIFY(window->isVisible());
        QVERIFY(window->updatesEnabled());
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->Shutdown();
    }
};

int main(int argc, char* argv[])
{
    return ViewerTestRig::ExecInRenderingMode<TestStartupShow>(argc, argv, true);
}
#include "tst_startupshow.moc"
