#include "media/AvManager.h"

#include "app/Logger.h"

AvManager::AvManager(QObject* parent)
    : QObject(parent)
{
}

void AvManager::Shutdown()
{
    // No task runs yet that would have to end.
}

void AvManager::ResetAudioOutputDevice()
{
    Q_EMIT ResetAudioOutputDeviceRequested();
}

void AvManager::LogCacheStats()
{
    // Without a clock or decode workers the playback stands at its start and no
    // cache holds frames.
    Logger::GetInstance()->Output(QStringLiteral("\nPlayback Time: 0 (0)\nUpdates Paused: 0\nAudio Playback Ready: 0\n"));
    Q_EMIT LogAudioOutputInfoRequested();
}
