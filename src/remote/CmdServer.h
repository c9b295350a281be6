#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class QTcpServer;
class QTcpSocket;

// The transport of the client API: a TCP server on the loopback interface only
// (never on all interfaces) that serves one client at a time, the newest.
//
// Both directions carry a header of exactly ten ASCII digits, the payload length
// zero-padded on the left, followed by the payload. Requests are UTF-8 JSON;
// replies are the reply text with its length in UTF-16 code units as the header,
// both encoded as Latin-1 (a code unit beyond U+00FF is sent as "?"), so the
// header always equals the number of payload bytes sent.
//
// Main thread only. Each complete message is emitted through ExecuteCmd and its
// reply written before the next one is read; a message that arrives while a
// command runs (one that processes events while it waits) is read after it.
//
// Nothing a client does makes the player hold without limit: the socket reads
// at most 1 MiB ahead of the framing, reading stops while more than
// MAXIMUM_UNSENT_BYTES of replies wait to be sent (a client that never reads
// its replies waits in TCP), and a caller that cannot run a command yet may
// hold reading until it can (SetReadingHeld).
class CmdServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int HEADER_SIZE = 10;
    // A header announcing more is refused like a malformed one.
    static constexpr qint64 MAXIMUM_PAYLOAD_SIZE = 16 * 1024 * 1024;
    // Replies waiting to be sent beyond which no further request is read.
    static constexpr qint64 MAXIMUM_UNSENT_BYTES = 1024 * 1024;

    explicit CmdServer(QObject* parent = nullptr);

    // Starts listening on 127.0.0.1 at the port; false, with a warning, when it
    // cannot (the rest of the player works on without the client API).
    bool Initialize(int port);

    // True once a client has completed the handshake; stays true for every
    // later client of this process.
    bool IsServerReady() const;
    void SetServerReady(bool ready);

    // The port listened on, 0 when not listening.
    int Port() const;

    // The client a reply written now goes to: the sender of the running
    // command, else the current client. Kept by a command that is answered
    // later, for WriteTo.
    QPointer<QTcpSocket> CommandSender() const;
    // Sends one framed reply to that client; dropped when it has gone.
    void WriteTo(QTcpSocket* socket, QString const& text) const;

    // While held, no further request is read (its bytes wait in TCP); the
    // reading goes on where it stopped once released.
    void SetReadingHeld(bool held);
    bool IsReadingHeld() const;

public Q_SLOTS:
    // Sends one framed reply: to the client whose command is running, else to
    // the current client. Dropped when that client has gone.
    void Write(QString const& text) const;
    // The reply to a malformed header: { "success": "false", "msg": "..." }.
    void WriteError(QString const& message) const;

Q_SIGNALS:
    // One complete incoming payload, decoded from UTF-8.
    void ExecuteCmd(QString const& message);

private Q_SLOTS:
    void Establish();
    void End();
    void Read();
    void OnBytesWritten();

private:
    bool ReadingPaused(QTcpSocket const* socket) const;
    void ResumeReading();

    void ResetFraming();
    void ReleaseClient();

    QTcpServer* mServer = nullptr;
    QPointer<QTcpSocket> mClient;
    bool mClientConnected = false;
    bool mServerReady = false;

    // Framing state of the current client; reset for every new connection.
    QByteArray mHeader;             // header digits received so far
    qint64 mExpectedSize = -1;      // announced payload length; -1 while a header is awaited
    QByteArray mBuffer;             // payload bytes received so far
    bool mReadingHeld = false;      // SetReadingHeld; kept across clients

    // Set while ExecuteCmd runs: Read does not start another command, and the
    // reply goes to the socket that sent the command.
    bool mExecuting = false;
    QPointer<QTcpSocket> mCommandSocket;
};
