#include "app/PlatformIntegration.h"

#include <QtGlobal>

#if defined(Q_OS_MACOS)
#include <QProcess>
#include <QStringList>
#elif defined(Q_OS_LINUX)
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QStringList>
#include <QUrl>
#endif

QString const PlatformIntegration::BUNDLE_IDENTIFIER = QStringLiteral("org.tessarin.orvel");

#if defined(Q_OS_MACOS)

namespace
{
void WriteTrueDefault(QString const& key)
{
    QProcess::execute("defaults", {"write", PlatformIntegration::BUNDLE_IDENTIFIER, key, "-bool", "true"});
}
} // namespace

void PlatformIntegration::WriteApplePersistenceIgnoreState()
{
    QProcess::execute("defaults", {"write", BUNDLE_IDENTIFIER, "ApplePersistenceIgnoreState", "NO"});
}

void PlatformIntegration::RemoveAutomaticMenuItems()
{
    WriteTrueDefault("NSDisabledDictationMenuItem");
    WriteTrueDefault("NSDisabledCharacterPaletteMenuItem");
}

void PlatformIntegration::ShowInFileManager(QString const& absolutePath, std::function<void()> const& onFailure)
{
    // The path reaches the script as an argument, never as script text, so no
    // file name can change what the script does.
    QStringList const arguments = {
        "-e", "on run argv",
        "-e", "set target to POSIX file (item 1 of argv)",
        "-e", "tell application \"Finder\"",
        "-e", "activate",
        "-e", "select target",
        "-e", "end tell",
        "-e", "end run",
        absolutePath};
    if (QProcess::execute("/usr/bin/osascript", arguments) != 0)
        onFailure();
}

#else

void PlatformIntegration::WriteApplePersistenceIgnoreState()
{
}

void PlatformIntegration::RemoveAutomaticMenuItems()
{
}

#if defined(Q_OS_LINUX)

void PlatformIntegration::ShowInFileManager(QString const& absolutePath, std::function<void()> const& onFailure)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
    {
        onFailure();
        return;
    }

    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{QUrl::fromLocalFile(absolutePath).toString(QUrl::FullyEncoded)} << QString();

    // Asynchronous: starting a file manager may take seconds, and the user
    // interface must not wait for it.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [onFailure](QDBusPendingCallWatcher* finished)
                     {
                         if (finished->isError())
                             onFailure();
                         finished->deleteLater();
                     });
}

#else

void PlatformIntegration::ShowInFileManager(QString const& absolutePath, std::function<void()> const& onFailure)
{
    onFailure();
}

#endif
#endif
