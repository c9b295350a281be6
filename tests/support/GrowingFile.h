#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <thread>

// A sparse file that grows while this process reads it: it starts at a size
// that passes a check of its size, and as soon as any thread of the process
// has it open, it is extended (sparse: no disk space) to its grown size, long
// before a reader could reach its first end.
class GrowingFile
{
public:
    GrowingFile(QString const& path, qint64 initialSize, qint64 grownSize);
    ~GrowingFile();
    GrowingFile(GrowingFile const&) = delete;
    GrowingFile& operator=(GrowingFile const&) = delete;

    bool IsValid() const;
    // Whether it grew before it was stopped.
    bool Stop();

private:
    void Watch();
    bool IsOpen() const;

    QString const mPath;
    qint64 const mGrownSize;
    QByteArray mOpenName; // as the process's open files name it
    bool mValid = false;
    std::atomic<bool> mStop {false};
    std::atomic<bool> mGrew {false};
    std::thread mThread; // last: starts once the fields above exist
};
