#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/PlatformIntegration.h"
#include "app/ProcessEnd.h"
#include "app/Settings.h"
#include "app/SingleApplication.h"
#include "media/FfmpegLog.h"
#include "viewer/OpenGLViewer.h"
#include "window/TessarinOrvel.h"
#include "window/TessarinX.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QProcess>
#include <QSocketNotifier>
#include <QSurfaceFormat>
#include <QTextStream>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace
{
QString const SINGLE_INSTANCE_KEY = QStringLiteral("ZephUniqueIdentifier");

// Self-pipe between the quit signals and the event loop: a signal handler may
// only write a byte, the loop does the shutdown.
int quitSignalPipe[2] = {-1, -1};

extern "C" void OnQuitSignal(int signalNumber)
{
    char const byte = 1;
    [[maybe_unused]] ssize_t const written = ::write(quitSignalPipe[1], &byte, 1);
    // A second signal of the same kind ends the process at once, should the
    // shutdown hang.
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigaction(signalNumber, &defaultAction, nullptr);
}

// Routes SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C, logout) into the pipe, so
// that those quits can save like closing the window does. Installed first of
// all, before the settings are read: a signal that arrives before the event
// loop runs waits in the pipe rather than ending the process unsaved.
bool CatchQuitSignals()
{
    if (::pipe2(quitSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        return false;
    }
    struct sigaction action = {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int const signalNumber : {SIGTERM, SIGINT, SIGHUP})
    {
        ::sigaction(signalNumber, &action, nullptr);
    }
    return true;
}

// The notifier of the caught quit signals, once an application object exists.
QSocketNotifier* WatchQuitSignals(bool caught, QObject* parent)
{
    if (!caught)
    {
        Logger::GetInstance()->Warning("Failed to watch quit signals: a kill will not save the settings.");
        return nullptr;
    }
    return new QSocketNotifier(quitSignalPipe[0], QSocketNotifier::Read, parent);
}

void DrainQuitSignals()
{
    char bytes[16];
    while (::read(quitSignalPipe[0], bytes, sizeof bytes) > 0)
    {
    }
}

void SetSurfaceFormat()
{
    if (Settings::surfaceBufferCountOverride < 1 || Settings::surfaceBufferCountOverride > 3)
    {
        Settings::surfaceBufferCountOverride = 2;
    }
    // The viewer asks for its own multisampled format; the windows take this.
    QSurfaceFormat::setDefaultFormat(OpenGLViewer::WindowSurfaceFormat());
}

// The start-up path: the first argument after an optional leading "--new"/"-n",
// or all of them joined by blanks when the first names nothing that exists
// (a path with blanks given unquoted).
QList<QString> StartupPaths(QList<QString> arguments, bool& newInstance)
{
    newInstance = false;
    if (arguments.size() < 2)
    {
        return {};
    }
    arguments.removeFirst();
    if (arguments.first() == Settings::APPLICATION_FLAG_NEW_INSTANCE ||
        arguments.first() == Settings::APPLICATION_FLAG_NEW_INSTANCE_SHORT)
    {
        arguments.removeFirst();
        newInstance = true;
    }
    if (arguments.isEmpty())
    {
        return {};
    }
    QString const& first = arguments.first();
    if (!first.isEmpty() && !QFileInfo::exists(first))
    {
        return {arguments.join(QLatin1Char(' '))};
    }
    return {first};
}
// Starts a new player with what a later launch handed over to this one, which
// is quitting ("noargs": a launch without arguments, which wants a window).
void PassOnHandOver(QList<QString> const& arguments)
{
    if (arguments.isEmpty())
    {
        return;
    }
    QList<QString> const passed =
        arguments == QList<QString>{QStringLiteral("noargs")} ? QList<QString>{} : arguments;
    if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), passed))
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to open what another launch handed over: %1")
                                         .arg(arguments.join(QStringLiteral(", "))));
    }
}

// Whether windows of this platform can show OpenGL: the offscreen and
// minimal platforms cannot, and neither can a display without a context.
bool OpenGLAvailable()
{
    QString const platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
    {
        return false;
    }
    QOpenGLContext context;
    return context.create();
}

int RunPlayer(int argc, char* argv[])
{
    bool const quitSignalsCaught = CatchQuitSignals();
    FileHelpers::LoadUserSettings();
    Settings::LatchHardwareRendering();
    if (Settings::ignoreScalingEnvVars)
    {
        qunsetenv("QT_SCREEN_SCALE_FACTORS");
        qunsetenv("QT_HARFBUZZ");
        qunsetenv("QT_ENABLE_HIGHDPI_SCALING");
    }
    if (Settings::waitOnStart)
    {
        Settings::waitOnStart = false;
        QThread::msleep(500);
    }

    // The OpenGL surface format must be the default before any application
    // object exists, so that every context is made with it.
    SetSurfaceFormat();
    SingleApplication app(argc, argv, SINGLE_INSTANCE_KEY);
    FfmpegLog::Install();
    // The log also goes to the terminal the player was started from.
    Logger* const logger = Logger::GetInstance();
    QObject::connect(logger, &Logger::OutputLogged, [](QString const& message) { QTextStream(stdout) << message; });
    QObject::connect(logger, &Logger::InfoLogged, [](QString const& message) { QTextStream(stdout) << message << '\n'; });
    QObject::connect(logger, &Logger::WarningLogged,
                     [](QString const& message) { QTextStream(stdout) << "[WARNING] " << message << '\n'; });
    QObject::connect(logger, &Logger::ErrorLogged,
                     [](QString const& message) { QTextStream(stdout) << "[ERROR] " << message << '\n'; });

    QThread::currentThread()->setPriority(QThread::HighestPriority);
    Settings::InitFonts();
    QApplication::setFont(Settings::fixedFont);
    Settings::timeControlFont = QFont(QStringLiteral("Menlo"));
    PlatformIntegration::WriteApplePersistenceIgnoreState();
    PlatformIntegration::RemoveAutomaticMenuItems();

    bool newInstance = false;
    QList<QString> const startupPaths = StartupPaths(QCoreApplication::arguments(), newInstance);

    // Hand the launch to the running instance before building anything, so that
    // a forwarding process writes no files and opens no port. A launch that
    // cannot be handed over whole runs as an instance of its own instead.
    if (!newInstance && !Settings::openMediaInNewPlayers && app.IsRunning() &&
        app.SendMessage(QCoreApplication::arguments(), false))
    {
        return 0;
    }

    if (Settings::HardwareRenderingInUse() && !OpenGLAvailable())
    {
        // The user's choice stays stored; this run draws in software.
        logger->Warning("OpenGL is not available: the viewer draws in software.");
        bool const wanted = Settings::hardwareRenderingEnabled;
        Settings::hardwareRenderingEnabled = false;
        Settings::LatchHardwareRendering();
        Settings::hardwareRenderingEnabled = wanted;
    }

    QSocketNotifier* const quitNotifier = WatchQuitSignals(quitSignalsCaught, &app);
#ifdef TESSARIN_FULL_EDITION
    TessarinX window(startupPaths);
#else
    TessarinOrvel window(startupPaths);
#endif
    if (!app.IsRunning())
    {
        QObject::connect(&app, &SingleApplication::MessageAvailable, &window,
                         &TessarinBase::ProcessMessageFromOtherInstance);
        app.StartMessageTimer();
        // A player that has begun to quit takes no more hand-overs: a later
        // launch opens a window of its own. What was handed over and not
        // opened yet goes to a new player.
        QObject::connect(&window, &TessarinBase::QuitBegun, &app, [&app](QList<QString> const& unopened) {
            QList<QString> const unread = app.CloseChannel();
            PassOnHandOver(unread.isEmpty() ? unopened : unread);
        });
    }
    if (quitNotifier)
    {
        QObject::connect(quitNotifier, &QSocketNotifier::activated, &window, [quitNotifier, &window] {
            DrainQuitSignals();
            quitNotifier->setEnabled(false);
            window.Shutdown();
            QCoreApplication::quit();
        });
    }
    return app.exec();
}
} // namespace

int main(int argc, char* argv[])
{
    // The window and the application are gone by now: settings written,
    // threads joined. What remains are the libraries' own exit handlers.
    ProcessEnd::Now(RunPlayer(argc, argv));
}
