// Memory of the command port under three hostile clients, one per run:
//   bench_cmdserver nested   one 16 MiB request of nested arrays
//   bench_cmdserver unread   2,000,000 small requests from a client that never reads
//   bench_cmdserver parse    60 requests of 8 MiB sent while a parse runs
// Each prints the resident and peak memory before and after (kB, from
// /proc/self/status). Loopback only.

#include "BenchMemory.h"

#include "media/AvManager.h"
#include "model/Project.h"
#include "model/ProjectManager.h"
#include "remote/CmdServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace
{
QByteArray Framed(QByteArray const& payload)
{
    return QByteArray::number(payload.size()).rightJustified(CmdServer::HEADER_SIZE, '0') + payload;
}

int FreePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : -1;
}

void Report(char const* stage)
{
    std::printf("%-8s resident %8lld kB  peak %8lld kB\n", stage, BenchMemory::ResidentKilobytes(),
                BenchMemory::PeakKilobytes());
    std::fflush(stdout);
}

// Feeds `count` frames made by `make` to the socket, never holding more than
// a few megabytes of them in the client itself; runs events until all are
// written or nothing moved for `idleMs`. Returns the frames written.
long long Feed(QTcpSocket& client, long long count, std::function<QByteArray(long long)> const& make, int idleMs)
{
    long long next = 0;
    QElapsedTimer idle;
    idle.start();
    qint64 lastPending = -1;
    while (next < count || client.bytesToWrite() > 0)
    {
        while (next < count && client.bytesToWrite() < 4 * 1024 * 1024)
        {
            client.write(make(next++));
        }
        client.flush();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        client.waitForBytesWritten(10);
        qint64 const pending = client.bytesToWrite() + (count - next);
        if (pending != lastPending)
        {
            lastPending = pending;
            idle.restart();
        }
        else if (idle.elapsed() > idleMs)
        {
            break;
        }
    }
    return next - (client.bytesToWrite() > 0 ? 1 : 0);
}

int Nested()
{
    // {"cmd":"echo","x":[[[[[[[[]]]]]]],[[[[[[[[]]]]]]],...]} up to 16 MiB.
    QByteArray const item = QByteArray(8, '[') + QByteArray(8, ']');
    QByteArray request = R"({"cmd":"echo","x":[)";
    while (request.size() + item.size() + 3 < CmdServer::MAXIMUM_PAYLOAD_SIZE)
    {
        request += item + ',';
    }
    request.chop(1);
    request += "]}";
    QString const text = QString::fromUtf8(request);
    Report("before");
    QJsonObject const parsed = Project::ToCmdJsonObj(text);
    Report("after");
    std::printf("request %lld bytes, parsed: %s\n", static_cast<long long>(request.size()),
                parsed.isEmpty() ? "refused" : "yes");
    return 0;
}

int Unread()
{
    int const port = FreePort();
    CmdServer server;
    server.Initialize(port);
    // A reply of the size of a get_config answer.
    QString const reply = QString(260, QLatin1Char('c'));
    long long executed = 0;
    qint64 mostUnsent = 0;
    QObject::connect(&server, &CmdServer::ExecuteCmd, &server, [&](QString const&) {
        ++executed;
        server.Write(reply);
        if (QTcpSocket* const socket = server.CommandSender())
        {
            mostUnsent = std::max(mostUnsent, socket->bytesToWrite());
        }
    });
    QTcpSocket client;
    client.setReadBufferSize(1); // takes (almost) nothing from the system: never reads
    client.connectToHost(QHostAddress::LocalHost, quint16(port));
    client.waitForConnected(3000);
    Report("before");
    QByteArray const request = Framed(R"({"cmd":"get_config"})");
    long long const sent = Feed(client, 2000000, [&](long long) { return request; }, 3000);
    Report("after");
    std::printf("requests written %lld, run %lld, most replies waiting to be sent %lld bytes\n", sent, executed,
                static_cast<long long>(mostUnsent));
    return 0;
}

int Parse()
{
    QTemporaryDir dir;
    QString const fifo = dir.filePath("slow.mp4");
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    ProjectManager manager;
    manager.NewProject(false);
    int const port = FreePort();
    manager.InitializeCmdServer(port);
    QTcpSocket client;
    client.setReadBufferSize(1);
    client.connectToHost(QHostAddress::LocalHost, quint16(port));
    client.waitForConnected(3000);
    Project::SetParseTimeout(15000);
    long long sent = 0;
    QObject::connect(&manager, &ProjectManager::BlockUserInputChanged, &manager, [&](bool blocked) {
        if (!blocked || sent > 0)
        {
            return;
        }
        Report("before");
        QByteArray const text(8 * 1024 * 1024 - 40, 'e');
        QByteArray const request = Framed(R"({"cmd":"echo","text":")" + text + R"("})");
        sent = Feed(client, 60, [&](long long) { return request; }, 3000);
        Report("during");
    });
    manager.ImportFilesByPath({fifo}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1, false);
    Report("after");
    std::printf("requests of 8 MiB written during the parse: %lld\n", sent);
    // Let the parser blocked on the FIFO go.
    int const fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0)
    {
        ::close(fd);
    }
    manager.AvManagerPtr()->Shutdown();
    return 0;
}
} // namespace

int main(int argc, char* argv[])
{
    qputenv("PULSE_SERVER", "unix:/nonexistent/tessarin-no-audio-server");
    QCoreApplication app(argc, argv);
    QByteArray const which = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (which == "nested")
    {
        return Nested();
    }
    if (which == "unread")
    {
        return Unread();
    }
    if (which == "parse")
    {
        return Parse();
    }
    std::fprintf(stderr, "usage: bench_cmdserver nested|unread|parse\n");
    return 2;
}
