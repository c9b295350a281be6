#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// What tells one file from another that later took its name: the device and
// inode of the entry (a link itself, not what it points to), its size and its
// modification time. A rename keeps all four; a file written anew, or copied
// over, changes at least the inode.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0; // nanoseconds since the epoch

    // The identity of the entry at path; invalid when there is none.
    static FileIdentity Of(QString const& path);

    bool IsValid() const;
    // Four numbers separated by blanks, and back; invalid for anything else.
    QByteArray ToText() const;
    static FileIdentity FromText(QByteArray const& text);

    friend bool operator==(FileIdentity const& a, FileIdentity const& b)
    {
        return a.device == b.device && a.inode == b.inode && a.size == b.size && a.modifiedNs == b.modifiedNs;
    }
    friend bool operator!=(FileIdentity const& a, FileIdentity const& b)
    {
        return !(a == b);
    }
};
