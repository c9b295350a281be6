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
};

QTEST_GUILESS_MAIN(TestCmdServer)
#include "tst_cmdserver.moc"
