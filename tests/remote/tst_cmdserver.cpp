#include "app/Logger.h"
#include "remote/CmdServer.h"

#include <QNetworkInterface>
#include <QPointer>
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

    // The server's side of `client`'s connection, once the server has taken it
    // as the client it serves.
    static QTcpSocket* ServerSideOf(CmdServer const& server, QTcpSocket const& client)
    {
        auto const served = [&]() -> QTcpSocket* {
            QTcpSocket* const socket = server.CommandSender();
            return socket && socket->peerPort() == client.localPort() ? socket : nullptr;
        };
        QTest::qWaitFor([&] { return served() != nullptr; }, 3000);
        return served();
    }

    // Bytes of `client` that have come in on the server's side and wait there
    // unread (the server may hold the connection without serving it yet).
    static qint64 WaitingAtServer(CmdServer const& server, QTcpSocket const& client)
    {
        for (QTcpSocket* const socket : server.findChildren<QTcpSocket*>())
        {
            if (socket->state() == QAbstractSocket::ConnectedState && socket->peerPort() == client.localPort())
                return socket->bytesAvailable();
        }
        return 0;
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
        QVERIFY(ServerSideOf(server, first)); // the server has taken it
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
        QTcpSocket client;
        qint64 const laterBytes = Framed("second").size() + Framed("third").size();
        connect(&server, &CmdServer::ExecuteCmd, this, [&](QString const& message) {
            deepest = std::max(deepest, ++depth);
            executed << message;
            if (message == "slow")
            {
                // More messages come while this one runs events.
                client.write(Framed("second") + Framed("third"));
                client.flush();
                QVERIFY(QTest::qWaitFor([&] { return WaitingAtServer(server, client) >= laterBytes; }, 5000));
            }
            server.Write("done " + message);
            --depth;
        });
        client.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(client.waitForConnected(3000));
        client.write(Framed("slow"));
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
                // Runs events until the new client is taken and its bytes have come in.
                qint64 const size = Framed("from second").size();
                QVERIFY(QTest::qWaitFor([&] { return WaitingAtServer(server, second) >= size; }, 5000));
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
            QTcpSocket* const served = ServerSideOf(server, gone);
            QVERIFY(served);
            // The server frames what it reads before this spy sees the delivery.
            QSignalSpy delivered(served, &QTcpSocket::readyRead);
            gone.write(partial);
            gone.flush();
            QVERIFY(delivered.wait(3000));
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

    // A header announcing too much, or more than ten digits can say in 32
    // bits, is refused; what follows is read as a new header.
    void refusedHeaderLeavesTheConnectionServing()
    {
        int const port = FreePort();
        CmdServer server;
        QVERIFY(server.Initialize(port));
        connect(&server, &CmdServer::ExecuteCmd, this, [&](QString const& message) { server.Write("done " + message); });
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(client.waitForConnected(3000));
        QByteArray const refused = R"({ "success": "false", "msg": "Invalid Header" })";
        for (QByteArray const& header : {QByteArray("9999999999"), QByteArray("0999999999"), QByteArray("0016777217")})
        {
            client.write(header);
            client.flush();
            QCOMPARE(Replies(client, 1), QList<QByteArray>{refused});
            client.write(Framed("after " + header));
            client.flush();
            QCOMPARE(Replies(client, 1), QList<QByteArray>{"done after " + header});
        }
    }

    // A header is read as a number: a sign or blanks before the digits give
    // the length of the digits; a length below 1 announces nothing; a sign
    // after a digit or a second sign makes no number.
    void headerWithASignOrALeadingBlankIsItsNumber()
    {
        int const port = FreePort();
        CmdServer server;
        QVERIFY(server.Initialize(port));
        connect(&server, &CmdServer::ExecuteCmd, this, [&](QString const& message) { server.Write("done " + message); });
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(client.waitForConnected(3000));
        for (QByteArray const& header : {QByteArray("+000000004"), QByteArray(" 000000004"), QByteArray("        +4")})
        {
            client.write(header + "cut!");
            client.flush();
            QCOMPARE(Replies(client, 1), QList<QByteArray>{"done cut!"});
        }
        client.write("-000000004" + Framed("next"));
        client.flush();
        QCOMPARE(Replies(client, 1), QList<QByteArray>{"done next"});
        QByteArray const refused = R"({ "success": "false", "msg": "Invalid Header" })";
        for (QByteArray const& header : {QByteArray("00000+0004"), QByteArray("+-00000004")})
        {
            client.write(header);
            client.flush();
            QCOMPARE(Replies(client, 1), QList<QByteArray>{refused});
            client.write(Framed("after"));
            client.flush();
            QCOMPARE(Replies(client, 1), QList<QByteArray>{"done after"});
        }
    }

    // A client that sends requests but never reads its replies: the server
    // stops reading once a megabyte of replies waits to be sent, and goes on
    // as the client reads them.
    void unreadRepliesStopTheReading()
    {
        int const port = FreePort();
        CmdServer server;
        QVERIFY(server.Initialize(port));
        QByteArray const reply(64 * 1024, 'r');
        int executed = 0;
        qint64 mostUnsent = 0;
        QPointer<QTcpSocket> served;
        connect(&server, &CmdServer::ExecuteCmd, this, [&](QString const&) {
            ++executed;
            served = server.CommandSender();
            server.Write(QString::fromLatin1(reply));
            mostUnsent = std::max(mostUnsent, served->bytesToWrite());
        });
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(client.waitForConnected(3000));
        int const requests = 300;
        QByteArray all;
        for (int i = 0; i < requests; ++i)
            all += Framed("get");
        client.write(all);
        // Until every request ran, or the server holds unread requests while
        // its replies wait.
        QVERIFY(QTest::qWaitFor(
            [&] {
                return executed == requests ||
                       (served && served->bytesAvailable() > 0 && served->bytesToWrite() > CmdServer::MAXIMUM_UNSENT_BYTES);
            },
            20000));
        QVERIFY2(mostUnsent <= CmdServer::MAXIMUM_UNSENT_BYTES + reply.size() + CmdServer::HEADER_SIZE,
                 qPrintable(QString::number(mostUnsent)));
        QList<QByteArray> const replies = Replies(client, requests, 30000);
        QCOMPARE(replies.size(), requests);
        QCOMPARE(executed, requests);
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
