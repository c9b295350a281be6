#include "model/ProjectManager.h"

#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "remote/CmdServer.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QStringList>
#include <QSurfaceFormat>
#include <QSysInfo>
#include <QUndoStack>

#include <algorithm>

ProjectManager::ProjectManager(QObject* parent)
    : QObject(parent)
    , mAvManager(new AvManager(this))
    , mCmdServer(new CmdServer(this))
    , mUndoStack(new QUndoStack(this))
{
    mUndoStack->setUndoLimit(Settings::projectUndoEnabled ? Settings::projectUndoLimit : 1);
    connect(mUndoStack, &QUndoStack::cleanChanged, this, &ProjectManager::UndoCleanChanged);
}

AvManager* ProjectManager::AvManagerPtr() const
{
    return mAvManager;
}

QUndoStack* ProjectManager::UndoStackPtr() const
{
    return mUndoStack;
}

void ProjectManager::InitializeCmdServer(int port)
{
    mCmdServer->Initialize(port);
    connect(mCmdServer, &CmdServer::ExecuteCmd, this, &ProjectManager::OnExecuteCmd, Qt::UniqueConnection);
}

CmdServer* ProjectManager::CmdServerPtr() const
{
    return mCmdServer;
}

void ProjectManager::Shutdown()
{
    mAvManager->Shutdown();
}

void ProjectManager::NewProject(bool)
{
    mUndoStack->clear();
}

bool ProjectManager::OpenProject(QString const& path)
{
    NewProject(false);
    Logger::GetInstance()->Error(QStringLiteral("Failed to open project: %1").arg(path));
    return false;
}

bool ProjectManager::IsUndoClean() const
{
    return !mModified && mUndoStack->isClean();
}

bool ProjectManager::MediaPathExistsInProject(QString const&) const
{
    return false; // a new project holds no sources
}

void ProjectManager::ImportFilesByPath(QList<QString> const& paths, QUuid const&, int, int, int, bool, QUuid, int,
                                       int targetClipIndex, bool groupImageSequences)
{
    QList<QString> kept;
    for (QString const& path : paths)
    {
        if (path.endsWith(QLatin1Char('@')))
        {
            kept.append(path.chopped(1));
        }
        else if (FileHelpers::IsSupportedMediaFilePath(path))
        {
            kept.append(path);
        }
    }
    if (groupImageSequences)
    {
        kept = FileHelpers::BuildImageSequencePaths(kept);
        kept.sort(Qt::CaseInsensitive);
        if (targetClipIndex >= 0)
        {
            std::reverse(kept.begin(), kept.end());
        }
    }
    if (kept.isEmpty())
    {
        return;
    }
    // Every import replaces the open project with one holding the first path.
    NewProject(false);
    QString const& path = kept.first();
    if (QFileInfo::exists(path))
    {
        FileHelpers::AddRecentFile(path);
    }
    else
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to create source object from file: %1").arg(path));
    }
}

void ProjectManager::OutputAppDetails() const
{
    QStringList monitors;
    for (QScreen const* screen : QGuiApplication::screens())
    {
        monitors.append(QStringLiteral("%1x%2 (%3)")
                            .arg(screen->size().width())
                            .arg(screen->size().height())
                            .arg(QString::number(screen->devicePixelRatio(), 'g', QLocale::FloatingPointShortest)));
    }
    QSurfaceFormat const format = QSurfaceFormat::defaultFormat();
    Logger* const logger = Logger::GetInstance();
    logger->Output(QStringLiteral("%1 v%2\n\n").arg(Settings::applicationTitle, Settings::applicationVersion));
    logger->Output(QStringLiteral("%1 %2\n").arg(QSysInfo::productType(), QSysInfo::productVersion()));
    logger->Output(Settings::rendererInfo);
    logger->Output(QStringLiteral("Monitors: %1\n").arg(monitors.join(QStringLiteral(" : "))));
    logger->Output(QStringLiteral("Cache Size: %1\n").arg(Settings::cacheSize));
    logger->Output(QStringLiteral("VSync: %1 (%2)\n").arg(format.swapInterval()).arg(int(format.swapBehavior())));
    logger->Output(QStringLiteral("GTC: %1 (%2)\n")
                       .arg(int(Settings::globalTimeControlVisible))
                       .arg(int(Settings::globalTimeControlPositionTop)));
    logger->Output(QStringLiteral("RTC: %1 (%2)\n")
                       .arg(int(Settings::rangeTimeControlVisible))
                       .arg(int(Settings::rangeTimeControlPositionTop)));
    logger->Output(QStringLiteral("Port: %1 (%2)\n").arg(Settings::clientApiPort).arg(int(Settings::clientApiPortEnabled)));
    logger->Output(QStringLiteral("Maya CommandPort: %1\n").arg(Settings::mayaCommandPort));
}
