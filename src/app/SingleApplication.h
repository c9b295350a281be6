#pragma once

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QSharedMemory>
#include <QString>

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

    // The byte format, shared by every process of the player.
    static QString PerUserKey(QString const& key);
    static QByteArray EncodeMessage(QList<QString> const& arguments);
    static QList<QString> DecodeMessage(QByteArray const& text);
    static bool AppendRecord(uchar* segment, int size, QByteArray const& text);
    static QByteArray TakeLastRecord(uchar* segment, int size);

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
};
