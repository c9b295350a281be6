#pragma once

#include <QString>
#include <QtGlobal>

// Guards the reads and writes of the user's own INI files (settings, key
// bindings): only a regular file of a bounded size is read (a FIFO or a device
// would block the read for good, a huge file would hold start-up for minutes),
// and a write never has to read such a thing first.
class UserFileGuard
{
public:
    // Larger than any settings or key-binding file the player writes by far.
    static constexpr qint64 MAXIMUM_USER_FILE_SIZE = 1024 * 1024;

    // Whether the file may be read; false with the reason otherwise. Opens
    // nothing: a missing file is readable (it reads as empty).
    static bool IsReadable(QString const& path, QString& reason);
    // Before a write through QSettings, which reads the file it updates:
    // removes what stands at the path when it may not be read. False when it
    // could not be removed.
    static bool PrepareForWrite(QString const& path);
};
