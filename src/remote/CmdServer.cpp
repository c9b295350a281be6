#include "remote/CmdServer.h"

#include "app/Logger.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

namespace
{
constexpr qint64 READ_BUFFER_SIZE = 1024 * 1024;

// A byte a header's number may hold: a digit, a sign, or a blank before them.
bool IsHeaderByte(char c)
{
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == ' ' || (c >= '\t' && c <= '\r');
}
} // namespace

CmdServer::CmdServer(QObject* parent)
    : QObject(parent)
{
}

bool CmdServer::Initialize(int port)
{
    if (!mServer)
    {
        mServer = new QTcpServer(this);
        connect(mServer, &QTcpServer::newConnection, this, &CmdServer::Establish);
    }
    if (mServer->isListening())
    {
        return true;
    }
    if (port < 0 || port > 65535)
    {
        Logger::GetInstance()->Warning(QStringLiteral("Invalid client API port: %1").arg(port));
        return false;
    }
    if (!mServer->listen(QHostAddress::LocalHost, quint16(port)))
    {
        Logger::GetInstance()->Warning(
            QStringLiteral("Failed to listen on client API port %1: %2").arg(port).arg(mServer->errorString()));
        return false;
    }
    return true;
}

bool CmdServer::IsServerReady() const
{
    return mServerReady;
}

void CmdServer::SetServerReady(bool ready)
{
    mServerReady = ready;
}

int CmdServer::Port() const
{
    return mServer && mServer->isListening() ? int(mServer->serverPort()) : 0;
}

void CmdServer::ResetFraming()
{
    mHeader.clear();
    mExpectedSize = -1;
    mBuffer.clear();
    mBuffer.squeeze();
}

void CmdServer::SetReadingHeld(bool held)
{
    mReadingHeld = held;
    if (!held)
    {
        ResumeReading();
    }
}

bool CmdServer::IsReadingHeld() const
{
    return mReadingHeld;
}

bool CmdServer::ReadingPaused(QTcpSocket const* socket) const
{
    return mReadingHeld || socket->bytesToWrite() > MAXIMUM_UNSENT_BYTES;
}

void CmdServer::ResumeReading()
{
    // Bytes already taken from the system bring no new readyRead.
    if (mClientConnected && mClient && mClient->bytesAvailable() > 0)
    {
        QMetaObject::invokeMethod(this, &CmdServer::Read, Qt::QueuedConnection);
    }
}

void CmdServer::OnBytesWritten()
{
    QTcpSocket* const socket = qobject_cast<QTcpSocket*>(sender());
    if (socket && socket == mClient && !mExecuting && !ReadingPaused(socket))
    {
        ResumeReading();
    }
}

void CmdServer::ReleaseClient()
{
    if (!mClient)
    {
        return;
    }
    // Its signals go first: a late disconnected or readyRead of a socket being
    // let go must never act on the client that replaces it.
    QObject::disconnect(mClient, nullptr, this, nullptr);
    mClient->disconnectFromHost();
    // The socket whose command is running is still inside its own readyRead:
    // it is released once that command has returned.
    if (mClient != mCommandSocket)
    {
        mClient->deleteLater();
    }
    mClient = nullptr;
    mClientConnected = false;
}

void CmdServer::Establish()
{
    // The newest connection wins; several waiting at once leave only the last.
    while (mServer->hasPendingConnections())
    {
        QTcpSocket* const socket = mServer->nextPendingConnection();
        if (!socket)
        {
            break;
        }
        ReleaseClient();
        ResetFraming();
        mClient = socket;
        // Bytes are taken from the system as they are framed: a client that
        // sends faster than commands run waits in TCP, not in our memory.
        socket->setReadBufferSize(READ_BUFFER_SIZE);
        if (socket->state() == QAbstractSocket::ConnectedState)
        {
            connect(socket, &QTcpSocket::disconnected, this, &CmdServer::End);
            connect(socket, &QTcpSocket::readyRead, this, &CmdServer::Read);
            connect(socket, &QTcpSocket::bytesWritten, this, &CmdServer::OnBytesWritten);
            mClientConnected = true;
        }
    }
    // Bytes may have come with the connection before its readyRead was connected.
    if (mClientConnected && mClient->bytesAvailable() > 0)
    {
        QMetaObject::invokeMethod(this, &CmdServer::Read, Qt::QueuedConnection);
    }
}

void CmdServer::End()
{
    QTcpSocket* const socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket || socket != mClient)
    {
        return;
    }
    QObject::disconnect(socket, nullptr, this, nullptr);
    mClientConnected = false;
}

void CmdServer::Read()
{
    if (mExecuting)
    {
        return; // read once the running command has returned
    }
    QPointer<QTcpSocket> const socket = mClient;
    while (socket && socket == mClient && socket->bytesAvailable() > 0)
    {
        if (ReadingPaused(socket))
        {
            break; // resumed when released, or as the replies drain
        }

        if (mExpectedSize < 0)
        {
            QByteArray const bytes = socket->read(HEADER_SIZE - mHeader.size());
            mHeader.append(bytes);
            if (!std::all_of(mHeader.cbegin(), mHeader.cend(), IsHeaderByte))
            {
                ResetFraming();
                WriteError(QStringLiteral("Invalid Header"));
                socket->readAll();
                return;
            }
            if (mHeader.size() < HEADER_SIZE)
            {
                break; // the rest of the header comes with a later delivery
            }
            // A base-10 number of 32 bits, as QByteArray reads one: blanks
            // before it and a sign are taken.
            bool isNumber = false;
            qint64 const size = mHeader.toInt(&isNumber, 10);
            mHeader.clear();
            if (!isNumber || size > MAXIMUM_PAYLOAD_SIZE)
            {
                // Refused like a malformed header: what has arrived goes, and
                // what follows is read as a new header. (Skipping the length
                // it announced would leave the connection deaf for good.)
                ResetFraming();
                WriteError(QStringLiteral("Invalid Header"));
                socket->readAll();
                return;
            }
            if (size > 0)
            {
                mExpectedSize = size;
            }
            continue; // a length below 1 announces nothing: the next header follows
        }

        mBuffer.append(socket->read(mExpectedSize - mBuffer.size()));
        if (mBuffer.size() < mExpectedSize)
        {
            break;
        }
        QString const message = QString::fromUtf8(mBuffer);
        // Reset before the command runs: whatever it lets happen, the message is
        // never executed twice and the next bytes start a new header.
        ResetFraming();
        mExecuting = true;
        mCommandSocket = socket;
        Q_EMIT ExecuteCmd(message);
        mCommandSocket = nullptr;
        mExecuting = false;
        if (socket && socket != mClient)
        {
            socket->deleteLater(); // replaced while its command ran
            break;
        }
        if (!mClientConnected)
        {
            break;
        }
    }
    // A client that connected while the command ran may have sent its bytes.
    if (mClient && mClient != socket && mClientConnected && mClient->bytesAvailable() > 0)
    {
        QMetaObject::invokeMethod(this, &CmdServer::Read, Qt::QueuedConnection);
    }
}

QPointer<QTcpSocket> CmdServer::CommandSender() const
{
    if (mExecuting)
    {
        return mCommandSocket;
    }
    return mClientConnected ? mClient : QPointer<QTcpSocket>();
}

void CmdServer::Write(QString const& text) const
{
    WriteTo(CommandSender(), text);
}

void CmdServer::WriteTo(QTcpSocket* socket, QString const& text) const
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
    {
        return;
    }
    QString const header = QStringLiteral("%1").arg(text.size(), HEADER_SIZE, 10, QLatin1Char('0'));
    socket->write((header + text).toLatin1());
    socket->flush();
}

void CmdServer::WriteError(QString const& message) const
{
    // The message as a JSON string, quotes and escapes included.
    QByteArray const array = QJsonDocument(QJsonArray{message}).toJson(QJsonDocument::Compact);
    QString const quoted = QString::fromUtf8(array.mid(1, array.size() - 2));
    Write(QStringLiteral("{ \"success\": \"false\", \"msg\": %1 }").arg(quoted));
}
