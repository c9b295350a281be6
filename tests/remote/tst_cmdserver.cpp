#include "app/Logger.h"
#include "remote/CmdServer.h"

#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

class TestCmdServer : public QObject
{
    Q_OBJECT

private:
    // A port nothing listens on right now.
    static int FreePort()
    {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : -1;
    }

    static QByteArray Framed(QByteArray const& payload)
    {
        return QByteArray::number(payload.size()).rightJustified(CmdServer::HEADER_SIZE, '0') + payload;
    }

    // Reads framed replies until `count` have come or the time is up.
    static QList<QByteArray> Replies(QTcpSocket& socket, int count, int timeoutMs = 5000)
    {
        QByteArray received;
        QList<QByteArray> replies;
        [[maybe_unused]] bool const complete = QTest::qWaitFor(
            [&] {
                received += socket.readAll();
                while (received.size() >= CmdServer::HEADER_SIZE)
                {
                    qint64 const size = received.left(CmdServer::HEADER_SIZE).toLongLong();
                    if (received.size() < CmdServer::HEADER_SIZE + size)
                        break;
                    replies << received.mid(CmdServer::HEADER_SIZE, size);
                    received.remove(0, CmdServer::HEADER_SIZE + size);
                }
                return replies.size() >= count;
            },
            timeoutMs);
        return replies;
    }

    static bool Connects(QHostAddress const& address, int port)
    {
        QTcpSocket socket;
        socket.connectToHost(address, quint16(port));
        return socket.waitForConnected(3000);
    }

private Q_SLOTS:
    void listensOnLoopbackOnly()
    {
        int const port = FreePort();
        QVERIFY(port > 0);
        CmdServer server;
        QVERIFY(server.Initialize(port));
        QVERIFY(server.Initialize(port)); // a second start keeps listening
        QVERIFY(Connects(QHostAddress::LocalHost, port));

        int nonLoopback = 0;
        for (QHostAddress const& address : QNetworkInterface::allAddresses())
        {
            if (address.isLoopback() || address.isLinkLocal())
                continue;
            ++nonLoopback;
            QVERIFY2(!Connects(address, port), qPrintable(address.toString()));
        }
        if (nonLoopback == 0)
            qInfo("This machine has no address beyond loopback to try.");
    }

    void busyOrInvalidPortIsReported()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
        CmdServer server;
        QVERIFY(!server.Initialize(holder.serverPort()));
        QVERIFY(!server.Initialize(70000));
        QCOMPARE(warnings.size(), 2);
        QCOMPARE(warnings.at(1).first().toString(), QString("Invalid client API port: 70000"));
    }

    void newestClientIsKept()
    {
        int const port = FreePort();
        CmdServer server;
        QVERIFY(server.Initialize(port));
        QTcpSocket first;
        first.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(first.waitForConnected(3000));
        QTest::qWait(50); // let the server take it
        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(second.waitForConnected(3000));
        QTRY_COMPARE_WITH_TIMEOUT(first.state(), QAbstractSocket::UnconnectedState, 3000);
        QCOMPARE(second.state(), QAbstractSocket::ConnectedState);
    }

    // A command that processes events while it runs (as an import waiting for
    // its parse does) lets further bytes arrive: they are read after it
    // returns, each message runs once, in order, never nested.
    void commandsNeverNest()
    {
        int const port = FreePort();
        CmdServer server;
        QVERIFY(server.Initialize(port));
        QStringList executed;
        int depth = 0;
        int deepest = 0;
        connect(&server, &CmdServer::ExecuteCmd, this, [&](QString const& message) {
            deepest = std::max(deepest, ++depth);
            executed << message;
            if (message == "slow")
                QTest::qWait(300);
            server.Write("done " + message);
            --depth;
        });
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(client.waitForConnected(3000));
        client.write(Framed("slow"));
        QVERIFY(QTest::qWaitFor([&] { return !executed.isEmpty(); }, 3000));
        client.write(Framed("second") + Framed("third"));
        client.flush();
        QList<QByteArray> const replies = Replies(client, 3);
        QCOMPARE(replies, (QList<QByteArray>{"done slow", "done second", "done third"}));
        QCOMPARE(executed, (QStringList{"slow", "second", "third"}));
        QCOMPARE(deepest, 1);
    }

    // A client that takes over while a command runs never gets that
    // command's reply, and its own message is run and answered to it.
    void replyGoesToTheSender()
    {
        int const port = FreePort();
        CmdServer server;
        QVERIFY(server.Initialize(port));
        QTcpSocket second;
        connect(&server, &CmdServer::ExecuteCmd, this, [&](QString const& message) {
            if (message == "first")
            {
                second.connectToHost(QHostAddress::LocalHost, quint16(port));
                second.waitForConnected(3000);
                second.write(Framed("from second"));
                second.flush();
                QTest::qWait(300); // the new client is taken, its bytes arrive
            }
            server.Write("reply to " + message);
        });
        QTcpSocket first;
        first.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(first.waitForConnected(3000));
        first.write(Framed("first"));
        QCOMPARE(Replies(second, 1), (QList<QByteArray>{"reply to from second"}));
        QVERIFY(!second.waitForReadyRead(200));
        QVERIFY(Replies(first, 1, 300).isEmpty());
    }

    // A half message of a client that left is not continued by the next one.
    void framingStartsAfreshForEachClient()
    {
        int const port = FreePort();
        CmdServer server;
        QVERIFY(server.Initialize(port));
        QStringList executed;
        connect(&server, &CmdServer::ExecuteCmd, this, [&](QString const& message) { executed << message; });
        for (QByteArray const& partial : {QByteArray("00000"), QByteArray("0000000050{\"cmd\"")})
        {
            QTcpSocket gone;
            gone.connectToHost(QHostAddress::LocalHost, quint16(port));
            QVERIFY(gone.waitForConnected(3000));
            gone.write(partial);
            gone.flush();
            QTest::qWait(100);
            gone.disconnectFromHost();
            QTcpSocket next;
            next.connectToHost(QHostAddress::LocalHost, quint16(port));
            QVERIFY(next.waitForConnected(3000));
            next.write(Framed("whole"));
            next.flush();
            QVERIFY(QTest::qWaitFor([&] { return !executed.isEmpty(); }, 3000));
            QCOMPARE(executed, QStringList{"whole"});
            executed.clear();
        }
    }

    // Nothing is written without a client; the handshake flag outlives clients.
    void handshakeOutlivesTheClient()
    {
        CmdServer server;
        server.Write("nobody"); // no client: dropped without harm
        QVERIFY(!server.IsServerReady());
        server.SetServerReady(true);
        QVERIFY(server.IsServerReady());
    }
};

QTEST_GUILESS_MAIN(TestCmdServer)
#include "tst_cmdserver.moc"
