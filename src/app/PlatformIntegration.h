#pragma once

#include <QString>

#include <functional>

// The few calls that differ per desktop platform. On macOS they talk to the
// system (user defaults, Finder); on Linux they are no-ops or use the
// freedesktop interfaces.
class PlatformIntegration
{
public:
    PlatformIntegration() = delete;

    // The bundle identifier the player's user defaults are stored under (macOS).
    static QString const BUNDLE_IDENTIFIER;

    // Writes ApplePersistenceIgnoreState = NO into the player's user defaults
    // (macOS); the outcome is not checked.
    static void WriteApplePersistenceIgnoreState();
    // Stops macOS from adding its dictation and character palette items to our menus.
    static void RemoveAutomaticMenuItems();
    // Asks the platform file manager to reveal (select) the existing file or folder
    // at absolutePath. onFailure runs, possibly later on the main thread, when no
    // file manager took the request.
    static void ShowInFileManager(QString const& absolutePath, std::function<void()> const& onFailure);
};
