#pragma once

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QSharedMemory>
#include <QString>

class QTimer;

// The player's application object. A shared-memory segment, named per user,
// tells a starting process whether the player already runs, and carries a later
// launch's arguments (or a file the system asks us to open) to the instance that
// owns it, which polls it every 200 ms.
//
// The segment holds records back to back: one byte with the length L of the
// record's UTF-8 text, the L bytes, and a 0 byte after the last record. A text
// is the arguments joined by "-_???_-", or "noargs" when there are none.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    static constexpr int SEGMENT_SIZE = 4096;
    static constexpr int MAXIMUM_MESSAGE_SIZE = 255; // what one length byte can hold

    SingleApplication(int& argc, char** argv, QString const& key);
    ~SingleApplication() override;

    // True when another instance owns the segment (or it could not be reached).
    bool IsRunning() const;
    // Appends one record holding the arguments after entry 0 (the program path).
    // Only a process that found another instance running writes, unless forced.
    // False, with a warning, when the message cannot be handed over whole.
    bool SendMessage(QList<QString> arguments, bool force);
    void StartMessageTimer();
    // Called once the player has begun to quit: marks the segment closed (a
    // later launch then runs as an instance of its own, it no longer hands
    // over), stops the polling and lets the segment go. Returns the arguments
    // of a message handed over that was not read yet ("noargs" for a launch
    // without arguments), for the caller to pass on; empty when there was none.
    QList<QString> CloseChannel();

    // The byte format, shared by every process of the player.
    static QString PerUserKey(QString const& key);
    static QByteArray EncodeMessage(QList<QString> const& arguments);
    static QList<QString> DecodeMessage(QByteArray const& text);
    // False when the text does not fit, or the segment is closed.
    static bool AppendRecord(uchar* segment, int size, QByteArray const& text);
    // Empties the segment and returns its last record; a closed segment
    // stays closed and gives nothing.
    static QByteArray TakeLastRecord(uchar* segment, int size);
    // The closed mark: one record holding the byte 0xFF, which no UTF-8 text
    // of a message can be.
    static void MarkClosed(uchar* segment, int size);
    static bool IsClosed(uchar const* segment, int size);

public Q_SLOTS:
    void CheckForMessage();

Q_SIGNALS:
    void MessageAvailable(QList<QString> const& arguments);

protected:
    bool event(QEvent* event) override;

private:
    bool CreateSharedMemory();

    bool mIsRunning = false;
    QSharedMemory mSharedMemory;
    QTimer* mMessageTimer = nullptr;
};
