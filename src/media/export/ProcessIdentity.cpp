#include "media/export/ProcessIdentity.h"

#include <QFile>
#include <QList>
#include <QSysInfo>

#include <cerrno>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace
{
// A file of /proc (they never block), up to 256 KiB of it.
QByteArray ReadProcFile(char const* path)
{
    int const fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        return {};
    }
    QByteArray bytes;
    char chunk[4096];
    ssize_t count = 0;
    while (bytes.size() < 256 * 1024 && (count = ::read(fd, chunk, sizeof chunk)) > 0)
    {
        bytes.append(chunk, static_cast<qsizetype>(count));
    }
    ::close(fd);
    return bytes;
}

// Tells one boot from the next; the boot time stands in where the kernel
// gives no boot id.
QByteArray BootId()
{
    QByteArray const id = ReadProcFile("/proc/sys/kernel/random/boot_id").trimmed();
    if (!id.isEmpty())
    {
        return id;
    }
    for (QByteArray const& line : ReadProcFile("/proc/stat").split('\n'))
    {
        if (line.startsWith("btime "))
        {
            return "btime-" + line.mid(6).trimmed();
        }
    }
    return {};
}
} // namespace

ProcessIdentity ProcessIdentity::Current()
{
    ProcessIdentity identity;
    identity.pid = static_cast<qint64>(::getpid());
    StartTicksOf(identity.pid, identity.startTicks);
    identity.bootId = BootId();
    identity.host = QSysInfo::machineHostName().toUtf8();
    return identity;
}

bool ProcessIdentity::StartTicksOf(qint64 pid, quint64& startTicks)
{
    if (pid <= 0)
    {
        return false;
    }
    QByteArray const path = "/proc/" + QByteArray::number(pid) + "/stat";
    QByteArray const stat = ReadProcFile(path.constData());
    // "pid (name) state ppid ...": the name may hold blanks and parentheses,
    // so the fields are counted from the last ')'; the start time is field 22.
    qsizetype const nameEnd = stat.lastIndexOf(')');
    if (nameEnd < 0)
    {
        return false;
    }
    QList<QByteArray> const fields = stat.mid(nameEnd + 1).simplified().split(' ');
    int const startTimeIndex = 22 - 3; // fields after the name begin with field 3
    if (fields.size() <= startTimeIndex)
    {
        return false;
    }
    bool ok = false;
    startTicks = fields.at(startTimeIndex).toULongLong(&ok);
    return ok;
}

bool ProcessIdentity::IsValid() const
{
    return pid > 0 && !bootId.isEmpty() && !host.isEmpty();
}

bool ProcessIdentity::IsOfThisHost() const
{
    return host == QSysInfo::machineHostName().toUtf8();
}

bool ProcessIdentity::IsRunning() const
{
    if (!IsOfThisHost())
    {
        return true;
    }
    if (bootId != BootId())
    {
        return false;
    }
    quint64 startTicksNow = 0;
    if (StartTicksOf(pid, startTicksNow))
    {
        return startTicksNow == startTicks;
    }
    // /proc may hide other users' processes: then only whether the id is
    // in use can be told, and it counts as the same process.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

QByteArray ProcessIdentity::ToText() const
{
    return "pid=" + QByteArray::number(pid) + "\nstart=" + QByteArray::number(startTicks) + "\nboot=" + bootId +
           "\nhost=" + host + "\n";
}

ProcessIdentity ProcessIdentity::FromText(QByteArray const& text)
{
    ProcessIdentity identity;
    for (QByteArray const& line : text.split('\n'))
    {
        qsizetype const equals = line.indexOf('=');
        if (equals <= 0)
        {
            continue;
        }
        QByteArray const key = line.left(equals);
        QByteArray const value = line.mid(equals + 1);
        if (key == "pid")
        {
            identity.pid = value.toLongLong();
        }
        else if (key == "start")
        {
            identity.startTicks = value.toULongLong();
        }
        else if (key == "boot")
        {
            identity.bootId = value;
        }
        else if (key == "host")
        {
            identity.host = value;
        }
    }
    return identity;
}
