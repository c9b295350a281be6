#include "support/GrowingFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <unistd.h>

GrowingFile::GrowingFile(QString const& path, qint64 initialSize, qint64 grownSize)
    : mPath(QFileInfo(path).absoluteFilePath()), mGrownSize(grownSize)
{
    QFile file(mPath);
    mValid = file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.resize(initialSize);
    file.close();
    mOpenName = QFile::encodeName(QFileInfo(mPath).canonicalFilePath());
    if (mValid)
    {
        mThread = std::thread([this] { Watch(); });
    }
}

GrowingFile::~GrowingFile()
{
    Stop();
}

bool GrowingFile::IsValid() const
{
    return mValid;
}

bool GrowingFile::Stop()
{
    mStop = true;
    if (mThread.joinable())
    {
        mThread.join();
    }
    return mGrew;
}

void GrowingFile::Watch()
{
    // Only the process's own open files tell when a read begins; it begins
    // at the caller's time, so this thread keeps looking without a pause.
    while (!mStop)
    {
        if (IsOpen())
        {
            mGrew = ::truncate(QFile::encodeName(mPath).constData(), mGrownSize) == 0;
            return;
        }
        std::this_thread::yield();
    }
}

bool GrowingFile::IsOpen() const
{
    DIR* const folder = ::opendir("/proc/self/fd");
    if (!folder)
    {
        return false;
    }
    bool open = false;
    while (dirent const* entry = ::readdir(folder))
    {
        QByteArray const link = QByteArray("/proc/self/fd/") + entry->d_name;
        char buffer[4096];
        ssize_t const length = ::readlink(link.constData(), buffer, sizeof buffer);
        if (length > 0 && QByteArray(buffer, int(length)) == mOpenName)
        {
            open = true;
            break;
        }
    }
    ::closedir(folder);
    return open;
}
