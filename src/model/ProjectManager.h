#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

class AvManager;
class CmdServer;
class QJsonObject;
class QUndoStack;

// The one front object through which the user interface and the client API reach
// the project. It owns the media engine, the command server and the undo stack.
class ProjectManager : public QObject
{
    Q_OBJECT

public:
    explicit ProjectManager(QObject* parent = nullptr);

    AvManager* AvManagerPtr() const;
    QUndoStack* UndoStackPtr() const;

    // Starts the client API on the local port.
    void InitializeCmdServer(int port);
    CmdServer* CmdServerPtr() const;
    void Shutdown();

    void NewProject(bool);
    bool OpenProject(QString const& path);
    bool IsUndoClean() const;
    bool MediaPathExistsInProject(QString const& path) const;

    // Imports media paths as sources. A path ending in "@" was already checked by
    // the caller and skips the media-type test.
    void ImportFilesByPath(QList<QString> const& paths, QUuid const& parentId, int index, int viewerIndex,
                           int viewerCount, bool play, QUuid targetTimelineId, int, int targetClipIndex,
                           bool groupImageSequences);

    // Writes the application's details to the log.
    void OutputAppDetails() const;

public Q_SLOTS:
    // Runs one client command and writes exactly one reply through the command
    // server (none while an export runs).
    void OnExecuteCmd(QString const& message);

Q_SIGNALS:
    // A client is about to move the playback position.
    void ClientApiFrameChangeRequested();
    void UndoCleanChanged();
    void ResizeViewerRequested(int width, int height);
    void BlockUserInputChanged(bool block);

private:
    // Client command handlers: read the request, insert the result members into
    // the reply and return whether the command succeeded.
    bool CmdEcho(QJsonObject const& request, QJsonObject& reply);
    bool CmdInitialize(QJsonObject const& request, QJsonObject& reply);
    bool CmdGetConfig(QJsonObject const& request, QJsonObject& reply);
    bool CmdSetPlaying(QJsonObject const& request, QJsonObject& reply);
    bool CmdIsAutoplay(QJsonObject const& request, QJsonObject& reply);
    bool CmdImportFile(QJsonObject const& request, QJsonObject& reply);
    bool CmdGetFrame(QJsonObject const& request, QJsonObject& reply);
    bool CmdSetFrame(QJsonObject const& request, QJsonObject& reply);
    bool CmdGetRange(QJsonObject const& request, QJsonObject& reply);
    bool CmdSetRange(QJsonObject const& request, QJsonObject& reply);

    AvManager* mAvManager = nullptr;
    CmdServer* mCmdServer = nullptr;
    QUndoStack* mUndoStack = nullptr;
    // Changes not held by the undo stack (a client command empties it).
    bool mModified = false;
};
