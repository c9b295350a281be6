#pragma once

#include <QObject>

// The front object of the media engine, owned by the project manager. Worker
// tasks, the playback clock and the frame caches hang under it.
class AvManager : public QObject
{
    Q_OBJECT

public:
    explicit AvManager(QObject* parent = nullptr);

    // Ends every task before the player exits.
    void Shutdown();
    // Re-opens the default audio output device.
    void ResetAudioOutputDevice();
    // Writes the playback state and the caches' contents to the log.
    void LogCacheStats();

Q_SIGNALS:
    void ResetAudioOutputDeviceRequested();
    void LogAudioOutputInfoRequested();
};
