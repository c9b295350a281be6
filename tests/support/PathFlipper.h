#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <thread>

// A path that a thread of its own flips, as fast as it can, between a regular
// file and a FIFO until stopped: each flip renames a fresh hard link of one of
// the two over the path, so that the path always names one of them and the
// FIFO stays reachable under a name of its own.
class PathFlipper
{
public:
    // Makes folder/regular (holding content), folder/fifo and the flipped
    // folder/name, which starts as the regular file.
    PathFlipper(QString const& folder, QString const& name, QByteArray const& content);
    ~PathFlipper();
    PathFlipper(PathFlipper const&) = delete;
    PathFlipper& operator=(PathFlipper const&) = delete;

    bool IsValid() const;
    QString Path() const;
    QString FifoPath() const;
    void Start();
    // Stops flipping; the number of flips made.
    long long Stop();
    // After Stop: makes the path name the regular file again.
    bool SettleOnRegular() const;
    // Opens the FIFO for writing and closes it at once, which ends any open
    // of it for reading that blocks. Whether there was such a reader.
    bool ReleaseReaders() const;

private:
    void Flip();

    QString const mFolder;
    QString const mName;
    bool mValid = false;
    std::atomic<bool> mStop {false};
    std::atomic<long long> mFlips {0};
    std::thread mThread;
};
