#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Names one run of a process, so that a file it leaves can later be told
// to belong to a process that still runs or to one that is gone. A process
// id alone is not enough: ids are reused, so the process's start time
// (clock ticks since boot, from /proc/PID/stat) and the boot it ran in are
// part of it, and the host, since a folder may be shared.
struct ProcessIdentity
{
    qint64 pid = 0;
    quint64 startTicks = 0;
    QByteArray bootId;
    QByteArray host;

    static ProcessIdentity Current();
    // The start time of a running process; false when there is none with that id.
    static bool StartTicksOf(qint64 pid, quint64& startTicks);

    bool IsValid() const;
    // True unless the process is known to be gone: a process of this host
    // and boot with that id and start time still runs. A process of another
    // host cannot be checked and counts as running.
    bool IsRunning() const;
    bool IsOfThisHost() const;

    // "key=value" lines, and back (unknown lines are skipped).
    QByteArray ToText() const;
    static ProcessIdentity FromText(QByteArray const& text);

    friend bool operator==(ProcessIdentity const& a, ProcessIdentity const& b)
    {
        return a.pid == b.pid && a.startTicks == b.startTicks && a.bootId == b.bootId && a.host == b.host;
    }
};
