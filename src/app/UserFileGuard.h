#pragma once

#include <QString>
#include <QtGlobal>

class QDateTime;
class QFile;

// Guards the reads of the files a user names or keeps (settings, key bindings,
// projects): only a regular file of a bounded size is read. A FIFO or a device
// would block the open or the read for good, or never end (/dev/zero); a huge
// file would hold the player for minutes or exhaust its memory.
class UserFileGuard
{
public:
    // Larger than any settings or key-binding file the player writes by far.
    static constexpr qint64 MAXIMUM_USER_FILE_SIZE = 1024 * 1024;
    // A project holds paths, bookmarks and their strokes: a heavily annotated
    // one runs to a few tens of MiB. 256 MiB is far above that and still reads
    // and parses in a few seconds in a bounded amount of memory.
    static constexpr qint64 MAXIMUM_PROJECT_FILE_SIZE = 256LL * 1024 * 1024;

    // Whether the file may be read; false with the reason otherwise. Opens
    // nothing: a missing file is readable (it reads as empty).
    static bool IsReadable(QString const& path, QString& reason,
                           qint64 maximumSize = MAXIMUM_USER_FILE_SIZE);
    // Opens the file at path for reading when it is a regular file, after
    // following links, of at most maximumSize bytes: a descriptor in blocking
    // mode (reads of a regular file never wait on a writer), closed on exec,
    // that the caller closes. -1 with the reason otherwise. The media files a
    // user names are opened here too, with no size bound.
    static int OpenDescriptor(QString const& path, qint64 maximumSize, QString& reason);
    // Opens the file at path into file for reading when it is a regular file,
    // after following links, of at most maximumSize bytes; false with the
    // reason otherwise. Checked before the open and again on what was opened,
    // which never blocks: a FIFO put in place in between is refused too.
    static bool OpenForRead(QFile& file, QString const& path, qint64 maximumSize, QString& reason);
    // Reads the whole file under the same rules, once: to its end, but never
    // more than maximumSize + 1 bytes, so that a file that reads on past the
    // size it reported (/proc/self/pagemap reports 0 and reads for hours) or
    // grows while it is read is refused at the cap. modified, when given,
    // receives the modification time of what was opened.
    static bool ReadAll(QString const& path, qint64 maximumSize, QByteArray& bytes, QString& reason,
                        QDateTime* modified = nullptr);
};
