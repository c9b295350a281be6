#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

class AvManager;
class CmdServer;
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

Q_SIGNALS:
    void UndoCleanChanged();
    void ResizeViewerRequested(int width, int height);
    void BlockUserInputChanged(bool block);

private:
    AvManager* mAvManager = nullptr;
    CmdServer* mCmdServer = nullptr;
    QUndoStack* mUndoStack = nullptr;
};
