// TESSARIN_TEST: xvfb
// The window at start-up with a file to open, in the OpenGL rendering mode:
// the file's parse is under way when the window is shown, the viewer is made
// at one size only, the window's first composition already has the file's
// first picture, and a start-up file with no picture to show (sound only,
// unreadable, refused) holds none of the window's repaints.
#include "../viewer/ViewerTestRig.h"
#include "support/TestMedia.h"

#include "app/Settings.h"
#include "model/ProjectManager.h"
#include "viewer/ViewerWidget.h"
#include "window/MonitorPanel.h"
#include "window/StartupPaintHold.h"
#include "window/TessarinOrvel.h"

#include <QEvent>
#include <QFile>
#include <QOpenGLWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <QResizeEvent>

#include <functional>
#include <memory>

// Calls back on each event of one type that reaches a watched object.
class EventWatch : public QObject
{
public:
    EventWatch(QObject* watched, QEvent::Type type, std::function<void(QEvent*)> seen)
        : mType(type)
        , mSeen(std::move(seen))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == mType)
        {
            mSeen(event);
        }
        return false;
    }

private:
    QEvent::Type mType;
    std::function<void(QEvent*)> mSeen;
};

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
        // Whether the start-up file was being parsed when the window was shown.
        int shows = 0;
        bool parsingAtFirstShow = false;
        auto* const projectManager = window->findChild<ProjectManager*>();
        QVERIFY(projectManager != nullptr);
        EventWatch const showWatch(window.get(), QEvent::Show, [&](QEvent*) {
            if (shows++ == 0)
            {
                parsingAtFirstShow = projectManager->SourceParsingInProgress();
            }
        });
        // The sizes the viewer is given (each makes its buffers anew) up to the
        // first picture.
        QList<QSize> viewerSizes;
        bool pictureShown = false;
        EventWatch const resizeWatch(viewer, QEvent::Resize, [&](QEvent* event) {
            QSize const size = static_cast<QResizeEvent*>(event)->size();
            if (!pictureShown && !size.isEmpty())
            {
                viewerSizes.append(size);
            }
        });
        connect(Viewer(*window), &ViewerWidget::FirstPicturePainted, this, [&pictureShown] { pictureShown = true; });
        // Each composition of the window swaps the viewer's frame once.
        int composed = 0;
        int composedWithPicture = -1;
        connect(viewer, &QOpenGLWidget::frameSwapped, this, [&composed] { ++composed; });
        // The viewer tells of the picture from the swap that showed it, before
        // the count above has taken that swap.
        connect(Viewer(*window), &ViewerWidget::FirstPicturePainted, this,
                [&composed, &composedWithPicture] { composedWithPicture = composed + 1; });
        QTRY_VERIFY_WITH_TIMEOUT(composedWithPicture > 0, 60000);
        QCOMPARE(shows, 1);
        QVERIFY(parsingAtFirstShow);
        QVERIFY2(viewerSizes.size() == 1,
                 qPrintable(QStringLiteral("the viewer was given %1 sizes").arg(viewerSizes.size())));
        QCOMPARE(viewerSizes.first(), viewer->size());
        // The first composition of the window is the one with the picture.
        QCOMPARE(composedWithPicture, 1);
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
