#include "remote/CmdServer.h"

#include "app/Logger.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

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

void CmdServer::Establish()
{
    // The newest connection wins: the previous client is let go.
    if (mClient)
    {
        mClient->disconnectFromHost();
        mClient->deleteLater();
    }
    mClient = mServer->nextPendingConnection();
}
