#pragma once

#include <QObject>

class QTcpServer;
class QTcpSocket;

// The transport of the client API: a TCP server on the loopback interface only
// (never on all interfaces) that serves one client at a time, the newest.
class CmdServer : public QObject
{
    Q_OBJECT

public:
    explicit CmdServer(QObject* parent = nullptr);

    // Starts listening on 127.0.0.1 at the port; false, with a warning, when it
    // cannot (the rest of the player works on without the client API).
    bool Initialize(int port);

private Q_SLOTS:
    void Establish();

private:
    QTcpServer* mServer = nullptr;
    QTcpSocket* mClient = nullptr;
};
