#include "support/PathFlipper.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
QByteArray Name(QString const& folder, char const* name)
{
    return QFile::encodeName(QDir(folder).filePath(QString::fromLatin1(name)));
}
} // namespace

PathFlipper::PathFlipper(QString const& folder, QString const& name, QByteArray const& content)
    : mFolder(folder), mName(name)
{
    QFile regular(QString::fromLocal8Bit(Name(mFolder, "regular")));
    mValid = regular.open(QIODevice::WriteOnly | QIODevice::Truncate) && regular.write(content) == content.size();
    regular.close();
    mValid = mValid && ::mkfifo(Name(mFolder, "fifo").constData(), 0600) == 0 &&
             ::link(Name(mFolder, "regular").constData(), QFile::encodeName(Path()).constData()) == 0;
}

PathFlipper::~PathFlipper()
{
    Stop();
}

bool PathFlipper::IsValid() const
{
    return mValid;
}

QString PathFlipper::Path() const
{
    return QDir(mFolder).filePath(mName);
}

QString PathFlipper::FifoPath() const
{
    return QDir(mFolder).filePath(QStringLiteral("fifo"));
}

void PathFlipper::Start()
{
    mStop = false;
    mThread = std::thread([this] { Flip(); });
}

long long PathFlipper::Stop()
{
    mStop = true;
    if (mThread.joinable())
    {
        mThread.join();
    }
    return mFlips;
}

bool PathFlipper::SettleOnRegular() const
{
    QByteArray const next = Name(mFolder, "next");
    ::unlink(next.constData());
    return ::link(Name(mFolder, "regular").constData(), next.constData()) == 0 &&
           ::rename(next.constData(), QFile::encodeName(Path()).constData()) == 0;
}

bool PathFlipper::ReleaseReaders() const
{
    int const fd = ::open(Name(mFolder, "fifo").constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        return false;
    }
    ::close(fd);
    return true;
}

void PathFlipper::Flip()
{
    QByteArray const flipped = QFile::encodeName(Path());
    QByteArray const next = Name(mFolder, "next");
    QByteArray const sources[] = {Name(mFolder, "fifo"), Name(mFolder, "regular")};
    for (long long n = 0; !mStop; ++n)
    {
        ::unlink(next.constData());
        if (::link(sources[n % 2].constData(), next.constData()) == 0 &&
            ::rename(next.constData(), flipped.constData()) == 0)
        {
            ++mFlips;
        }
    }
}
