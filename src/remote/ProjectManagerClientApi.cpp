// The client API's command dispatch and its handlers, members of the project
// manager kept beside the command server.

#include "model/ProjectManager.h"

#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/MediaProbe.h"
#include "model/ParseSourceData.h"
#include "model/Project.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"
#include "remote/CmdServer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QPointer>
#include <QRegularExpression>
#include <QStringList>
#include <QTcpSocket>
#include <QThreadPool>
#include <QUndoStack>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace
{
QString const MSG = QStringLiteral("msg");
QString const SUCCESS = QStringLiteral("success");
QString const CMD = QStringLiteral("cmd");

// Request members of another JSON type than asked for read as the default; an
// integer member also when it is not whole or does not fit 32 bits.
int ReadInt(QJsonObject const& request, QString const& key, int fallback)
{
    QJsonValue const value = request.value(key);
    if (!value.isDouble())
    {
        return fallback;
    }
    double const number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max())
    {
        return fallback;
    }
    return int(number);
}

// True when the member is there and a whole number that fits 32 bits.
bool IsIntMember(QJsonObject const& request, QString const& key)
{
    return request.contains(key) && ReadInt(request, key, 0) == ReadInt(request, key, 1);
}

bool ReadBool(QJsonObject const& request, QString const& key, bool fallback)
{
    QJsonValue const value = request.value(key);
    return value.isBool() ? value.toBool() : fallback;
}

QString ReadString(QJsonObject const& request, QString const& key)
{
    return request.value(key).toString();
}

// A 64-bit frame number brought back into the range a frame can take.
int ToFrame(long long frame)
{
    return int(std::clamp<long long>(frame, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// "major.minor.patch": three whole numbers, the first at least 1, the others
// not negative. Empty parts are skipped (1..2.3 has three parts).
bool IsValidApiVersion(QString const& version)
{
    QStringList const parts = version.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (parts.size() != 3)
    {
        return false;
    }
    int numbers[3] = {};
    for (int i = 0; i < 3; ++i)
    {
        bool ok = false;
        numbers[i] = parts.at(i).toInt(&ok, 10);
        if (!ok)
        {
            return false;
        }
    }
    return numbers[0] >= 1 && numbers[1] >= 0 && numbers[2] >= 0;
}

// The media path an import request names, as the source reads it: an image
// sequence pattern with frames ("shot.####.png 1001-1100") as it is, a "#"
// run without frames expanded to the sequence's first file.
QString MediaPathOf(QJsonObject const& request)
{
    QString const requested = ReadString(request, QStringLiteral("file_path"));
    if (FileHelpers::IsImageSequencePattern(requested))
    {
        return requested.trimmed();
    }
    return FileHelpers::BuildImageSequencePathFromHashedPath(requested);
}

// The file an import of the media path opens first: the path itself, or the
// first file of a pattern's frames that exists (empty when none does).
QString FirstFileOf(QString const& mediaPath)
{
    if (!FileHelpers::IsImageSequencePattern(mediaPath))
    {
        return mediaPath;
    }
    QList<QString> paths;
    if (!FileHelpers::ParseMediaPath(mediaPath, paths))
    {
        return QString();
    }
    auto const first =
        std::find_if(paths.cbegin(), paths.cend(), [](QString const& path) { return QFileInfo::exists(path); });
    return first != paths.cend() ? *first : QString();
}

// An existing, readable file of a media type the player opens (a movie, an
// image of a sequence or a sound file) whose container opens and holds a
// stream that a decoder exists for. Checked before anything is given up for
// it, on a thread of the pool; false with the reason otherwise. The read
// ends early once stop is set.
bool CanOpenMedia(QString const& mediaPath, QString& reason, std::shared_ptr<std::atomic<bool>> const& stop)
{
    QFileInfo const info(FirstFileOf(mediaPath));
    QString const suffix = info.suffix();
    bool const mediaType = FileHelpers::VIDEO_FILE_EXTENSIONS.contains(suffix, Qt::CaseInsensitive) ||
                           FileHelpers::IMAGE_FILE_EXTENSIONS.contains(suffix, Qt::CaseInsensitive) ||
                           FileHelpers::AUDIO_FILE_EXTENSIONS.contains(suffix, Qt::CaseInsensitive);
    if (info.filePath().isEmpty() || !info.exists())
    {
        reason = QStringLiteral("file not found");
    }
    else if (!info.isFile())
    {
        reason = QStringLiteral("not a regular file");
    }
    else if (!info.isReadable())
    {
        reason = QStringLiteral("not readable");
    }
    else if (!mediaType)
    {
        reason = QStringLiteral("not a media file type");
    }
    else
    {
        return MediaProbe::HasStreamWithDecoder(info.absoluteFilePath(), &reason, [stop] { return stop->load(); });
    }
    return false;
}

// An import that waited for the replace question while its client went.
void LogDroppedImport(QString const& command)
{
    QString const path = ReadString(Project::ToCmdJsonObj(command), QStringLiteral("file_path"));
    Logger::GetInstance()->Warning(
        QStringLiteral("Client import dropped, the client that asked for it has gone: %1").arg(path));
}

// The failure of an import, with the reason in the reply and in the log.
void RefuseImport(QJsonObject& reply, QString const& requestedPath, QString const& reason)
{
    reply.insert(MSG, QStringLiteral("Failed to create source for file (%1): %2").arg(requestedPath, reason));
    Logger::GetInstance()->Warning(QStringLiteral("Client import refused: %1: %2").arg(requestedPath, reason));
}

} // namespace

// The commands a client may run once the handshake is done. A command that
// counts as run is answered with success whatever its handler returns; one
// that changes the player is refused while a question of the player is open.
struct ProjectManager::ClientCmd
{
    QLatin1String name;
    bool (ProjectManager::*run)(QJsonObject const& request, QJsonObject& reply);
    bool countsAsRun;
    bool changesPlayer;
};

ProjectManager::ClientCmd const* ProjectManager::FindClientCmd(QString const& name)
{
    static ClientCmd const commands[] = {
        {QLatin1String("get_config"), &ProjectManager::CmdGetConfig, true, false},
        {QLatin1String("set_playing"), &ProjectManager::CmdSetPlaying, true, true},
        {QLatin1String("is_autoplay"), &ProjectManager::CmdIsAutoplay, true, false},
        {QLatin1String("import_file"), &ProjectManager::CmdImportFile, false, true},
        {QLatin1String("get_frame"), &ProjectManager::CmdGetFrame, true, false},
        {QLatin1String("set_frame"), &ProjectManager::CmdSetFrame, false, true},
        {QLatin1String("get_range"), &ProjectManager::CmdGetRange, true, false},
        {QLatin1String("set_range"), &ProjectManager::CmdSetRange, false, true},
    };
    auto const found = std::find_if(std::begin(commands), std::end(commands),
                                    [&name](ClientCmd const& command) { return name == command.name; });
    return found != std::end(commands) ? found : nullptr;
}

void ProjectManager::OnExecuteCmd(QString const& command)
{
    if (Settings::exportInProgress)
    {
        return; // no reply while an export runs
    }
    QPointer<QTcpSocket> const sender = mCmdServer->CommandSender();
    if (!ProbeImportedMedia(command, sender))
    {
        ExecuteClientCmd(command, sender);
    }
}

bool ProjectManager::ProbeImportedMedia(QString const& command, QPointer<QTcpSocket> const& sender)
{
    // An import refused beside a question needs no probe.
    QJsonObject const request = Project::ToCmdJsonObj(command);
    if (request.value(CMD).toString() != QLatin1String("import_file") || !mCmdServer->IsServerReady() ||
        mReplaceQuestionOpen)
    {
        return false;
    }
    // Reading the file may take as long as the open's deadline: never on the
    // main thread. Meanwhile the server reads nothing more, so that the
    // client's later requests run after this one.
    mCmdServer->SetReadingHeld(true);
    QPointer<ProjectManager> const self(this);
    // The pool's threads are waited for at exit: the probe stops reading
    // once this manager goes.
    QThreadPool::globalInstance()->start([self, command, sender, mediaPath = MediaPathOf(request), stop = mProbesStop] {
        QString reason;
        bool const opens = CanOpenMedia(mediaPath, reason, stop);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, command, sender, mediaPath, opens, reason] {
                if (self)
                {
                    self->RunProbedImport(command, sender, mediaPath, opens, reason);
                }
            },
            Qt::QueuedConnection);
    });
    return true;
}

void ProjectManager::RunProbedImport(QString const& command, QPointer<QTcpSocket> const& sender,
                                     QString const& mediaPath, bool opens, QString const& reason)
{
    mProbedMediaPath = mediaPath;
    mProbedMediaOpens = opens;
    mProbedMediaReason = reason;
    mCmdServer->SetReadingHeld(false);
    if (Settings::exportInProgress)
    {
        return; // as any command that comes during an export
    }
    if (!sender || sender->state() != QAbstractSocket::ConnectedState)
    {
        // Nobody waits for it: the project stays as it is.
        Logger::GetInstance()->Warning(
            QStringLiteral("The client that asked to import %1 has gone: its import was dropped").arg(mediaPath));
        return;
    }
    ExecuteClientCmd(command, sender);
}

bool ProjectManager::ProbedMediaOpens(QString const& mediaPath) const
{
    return mProbedMediaOpens && mProbedMediaPath == mediaPath;
}

void ProjectManager::ExecuteClientCmd(QString const& command, QPointer<QTcpSocket> const& sender)
{
    // A client command may replace the project: never inside a parse wait. It
    // runs once the parse has ended, answered to the client that sent it.
    // Until then the server reads nothing more, so that one request at most
    // waits here and the others wait in TCP.
    QPointer<CmdServer> const server = mCmdServer;
    if (DeferWhileParsing([this, command, sender, server] {
            if (server)
            {
                RunHeldClientCmd(command, sender);
            }
        }))
    {
        mCmdServer->SetReadingHeld(true);
        return;
    }
    DispatchClientCmd(command, sender);
}

void ProjectManager::RunHeldClientCmd(QString const& command, QPointer<QTcpSocket> const& sender)
{
    if (!Settings::exportInProgress)
    {
        DispatchClientCmd(command, sender);
    }
    mCmdServer->SetReadingHeld(false);
}

void ProjectManager::DispatchClientCmd(QString const& command, QPointer<QTcpSocket> const& sender)
{
    if (mReplaceQuestionOpen)
    {
        // The player keeps answering while the user thinks: what only reads
        // runs, what would change the player fails at once. A further import
        // never raises a second question.
        mCmdServer->WriteTo(sender, RunClientCmdBesideQuestion(command));
        return;
    }
    if (ReplacesProject(command))
    {
        mReplaceQuestionOpen = true;
        AskToReplaceProject(command, sender);
        return;
    }
    mCmdServer->WriteTo(sender, RunClientCmd(command));
}

QString ProjectManager::RunClientCmdBesideQuestion(QString const& command)
{
    QJsonObject const request = Project::ToCmdJsonObj(command);
    QString const name = request.value(CMD).toString();
    ClientCmd const* const handler = mCmdServer->IsServerReady() ? FindClientCmd(name) : nullptr;
    if (!handler || !handler->changesPlayer)
    {
        return RunClientCmd(command);
    }
    QJsonObject refused;
    refused.insert(MSG, QStringLiteral("A question is open in the player"));
    return FinishClientReply(refused, name, false);
}

bool ProjectManager::ReplacesProject(QString const& command) const
{
    // A project without unsaved edits of the user is replaced at once, in
    // the order of the client's commands: what client commands changed
    // themselves is theirs to replace. A file that cannot be opened replaces
    // nothing: its import fails at once and the project stays as it is,
    // without a question.
    if (!HasUnsavedUserEdits() || !mCmdServer->IsServerReady())
    {
        return false;
    }
    QJsonObject const request = Project::ToCmdJsonObj(command);
    return request.value(CMD).toString() == QLatin1String("import_file") && ProbedMediaOpens(MediaPathOf(request));
}

void ProjectManager::AskToReplaceProject(QString const& command, QPointer<QTcpSocket> const& sender)
{
    if (!mReplaceProjectQuestion)
    {
        // Nobody to ask: unsaved work is never discarded.
        AnswerReplacingClientCmd(command, sender, !HasUnsavedUserEdits());
        return;
    }
    if (!sender || sender->state() != QAbstractSocket::ConnectedState)
    {
        mReplaceQuestionOpen = false;
        LogDroppedImport(command);
        return;
    }
    // A client that goes while the question is open takes its import with
    // it: the question is withdrawn, so that no answer seems to act.
    mReplacingImportDropped = false;
    mReplacingClientGone = connect(sender, &QAbstractSocket::disconnected, this,
                                   [this, command] { DropReplacingClientCmd(command); });
    // The answer comes once the user has given it, after this returns.
    QPointer<ProjectManager> const self(this);
    mReplaceProjectQuestion([self, command, sender](bool replace) {
        if (self)
        {
            self->AnswerReplacingClientCmd(command, sender, replace);
        }
    });
}

void ProjectManager::AnswerReplacingClientCmd(QString const& command, QPointer<QTcpSocket> const& sender,
                                              bool replace)
{
    if (replace && DeferWhileParsing([this, command, sender] { AnswerReplacingClientCmd(command, sender, true); }))
    {
        return; // the question counts as open until the import runs
    }
    mReplaceQuestionOpen = false;
    QObject::disconnect(mReplacingClientGone);
    // An import whose client has gone is dropped: nobody waits for it, and
    // the project stays as it is.
    bool const clientGone = !sender || sender->state() != QAbstractSocket::ConnectedState;
    if (clientGone && !mReplacingImportDropped)
    {
        LogDroppedImport(command);
    }
    if (Settings::exportInProgress || clientGone)
    {
        return;
    }
    if (!replace)
    {
        QJsonObject refused;
        refused.insert(MSG, QStringLiteral("Project has unsaved changes"));
        mCmdServer->WriteTo(sender, FinishClientReply(refused, QStringLiteral("import_file"), false));
        return;
    }
    // The import may process events while it replaces the project and waits
    // for the parse: no further request is read until it has been answered.
    bool const wasHeld = mCmdServer->IsReadingHeld();
    mCmdServer->SetReadingHeld(true);
    QString const reply = RunClientCmd(command);
    mCmdServer->WriteTo(sender, reply);
    mCmdServer->SetReadingHeld(wasHeld);
}

void ProjectManager::DropReplacingClientCmd(QString const& command)
{
    QObject::disconnect(mReplacingClientGone);
    mReplacingImportDropped = true;
    LogDroppedImport(command);
    emit ReplaceProjectQuestionWithdrawn();
}

QString ProjectManager::RunClientCmd(QString const& command)
{
    QJsonObject const request = Project::ToCmdJsonObj(command);
    QJsonObject reply;
    reply.insert(MSG, QString());
    QString const name = request.value(CMD).toString();
    mClientCmdChangedProject = false;

    bool success = false;
    if (request.isEmpty())
    {
        reply.insert(MSG, QStringLiteral("Invalid JSON formatting"));
    }
    else if (name == QLatin1String("echo"))
    {
        success = CmdEcho(request, reply);
    }
    else if (!mCmdServer->IsServerReady() && name != QLatin1String("initialize"))
    {
        reply.insert(MSG, QStringLiteral("Server not initialized. Run the \"initialize\" command first."));
    }
    else if (name == QLatin1String("initialize"))
    {
        if (mCmdServer->IsServerReady())
        {
            reply.insert(MSG, QStringLiteral("Server is already initialized."));
        }
        else
        {
            success = CmdInitialize(request, reply);
        }
    }
    else if (ClientCmd const* handler = FindClientCmd(name))
    {
        bool const ran = (this->*handler->run)(request, reply);
        success = ran || handler->countsAsRun;
    }
    else
    {
        reply.insert(MSG, QStringLiteral("Invalid command (%1)").arg(name));
    }
    return FinishClientReply(reply, name, success);
}

QString ProjectManager::FinishClientReply(QJsonObject reply, QString const& name, bool success)
{
    if (success)
    {
        reply.insert(SUCCESS, true);
    }
    else
    {
        reply.insert(CMD, name.isEmpty() ? QStringLiteral("???") : name);
        if (reply.value(MSG).toString().isEmpty())
        {
            reply.insert(MSG, QStringLiteral("Undefined Error"));
        }
        reply.insert(SUCCESS, false);
    }
    QString const text = QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact));

    // Edits made before a client command can no longer be undone. The project
    // counts as changed when the command changed it, or when the edits that
    // go held unsaved work (an emptied stack reads as clean); that work stays
    // the user's. (No command leaves edits of its own on the stack.)
    bool const changed = success && std::exchange(mClientCmdChangedProject, false);
    bool const userEdits = !mUndoStack->isClean();
    if (userEdits)
    {
        mUserEditsUnsaved = true;
    }
    if (changed || userEdits)
    {
        ClearUndoStackAndSetModified();
    }
    else
    {
        mUndoStack->clear();
    }
    return text;
}

bool ProjectManager::CmdEcho(QJsonObject const& request, QJsonObject& reply)
{
    reply.insert(QStringLiteral("result"), ReadString(request, QStringLiteral("text")));
    return true;
}

bool ProjectManager::CmdInitialize(QJsonObject const& request, QJsonObject& reply)
{
    QString const version = ReadString(request, QStringLiteral("api_version"));
    if (!IsValidApiVersion(version))
    {
        reply.insert(MSG, QStringLiteral("Invalid API Version (%1)").arg(version));
        return false;
    }
    mCmdServer->SetServerReady(true);
    return true;
}

bool ProjectManager::CmdGetConfig(QJsonObject const&, QJsonObject& reply)
{
    reply.insert(QStringLiteral("app_dir"), QCoreApplication::applicationDirPath());
    reply.insert(QStringLiteral("app_name"), QCoreApplication::applicationName());
    reply.insert(QStringLiteral("user_dir"), FileHelpers::GetUserDirPath());
    reply.insert(QStringLiteral("temp_dir"), FileHelpers::GetUserTempDirPath());
    return true;
}

bool ProjectManager::CmdSetPlaying(QJsonObject const& request, QJsonObject&)
{
    if (ReadBool(request, QStringLiteral("playing"), false))
    {
        mAvManager->Play(ReadBool(request, QStringLiteral("play_forwards"), true), false);
    }
    else
    {
        mAvManager->Pause(DecodeBias::None);
    }
    return true;
}

bool ProjectManager::CmdIsAutoplay(QJsonObject const&, QJsonObject& reply)
{
    reply.insert(QStringLiteral("autoplay"), Settings::autoPlayEnabled);
    return true;
}

bool ProjectManager::CmdImportFile(QJsonObject const& request, QJsonObject& reply)
{
    QString const requestedPath = ReadString(request, QStringLiteral("file_path"));
    QString const mediaPath = MediaPathOf(request);
    // Probed off the main thread before the command ran; each probe serves
    // one import.
    bool const opens = ProbedMediaOpens(mediaPath);
    QString reason = mProbedMediaPath == mediaPath ? mProbedMediaReason : QStringLiteral("the file was not checked");
    mProbedMediaPath.clear();
    mProbedMediaOpens = false;
    mProbedMediaReason.clear();
    if (!opens)
    {
        // Checked before anything is discarded: the project stays.
        RefuseImport(reply, requestedPath, reason);
        return false;
    }

    ParseSourceData data;
    data.id = QUuid::createUuid();
    data.parentId = QUuid::fromString(ReadString(request, QStringLiteral("parent_id")));
    data.path = mediaPath;
    data.name = ReadString(request, QStringLiteral("name"));
    data.playbackFrame = 0;
    data.cutInFrame = ReadInt(request, QStringLiteral("range_start"), -1);
    data.cutOutFrame = ReadInt(request, QStringLiteral("range_end"), -1);
    data.viewerIndex = 0;
    // Returns once the source is parsed, or has failed (a parse that makes no
    // progress fails after the project's parse time-out). A file that opens
    // may still not decode: the project is replaced only once it has parsed.
    if (!ReplaceProjectWithParsedSource(data, reason))
    {
        RefuseImport(reply, requestedPath, reason);
        return false;
    }
    reply.insert(QStringLiteral("source"), mProject->TimelineToJson(data.id));
    mClientCmdChangedProject = true;
    return true;
}

bool ProjectManager::CmdGetFrame(QJsonObject const&, QJsonObject& reply)
{
    Timeline const* const timeline = mAvManager->PrimaryTimeline();
    // The frame of the picture on screen: after a seek, the sought frame
    // once its picture is there.
    int const frame = timeline ? ToFrame(qint64(timeline->FrameAtTime(mAvManager->DisplayedPlaybackTime())) +
                                         timeline->TimeControlFrameOffset())
                               : -1;
    reply.insert(QStringLiteral("frame"), frame);
    return true;
}

bool ProjectManager::CmdSetFrame(QJsonObject const& request, QJsonObject& reply)
{
    // A frame that is missing or not a whole 32-bit number moves nothing.
    if (!IsIntMember(request, QStringLiteral("frame")))
    {
        reply.insert(MSG, QStringLiteral("Invalid argument (frame)"));
        return false;
    }
    Timeline* const timeline = mAvManager->PrimaryTimeline();
    if (!timeline)
    {
        reply.insert(QStringLiteral("frame"), -1);
        return true;
    }
    Q_EMIT ClientApiFrameChangeRequested();
    long long const offset = timeline->TimeControlFrameOffset();
    long long target = qint64(ReadInt(request, QStringLiteral("frame"), 0)) - offset;
    if (ReadBool(request, QStringLiteral("from_range_start"), false))
    {
        target += timeline->PlaybackRangeStartFrame();
    }
    // Far outside the timeline lands on its first or last frame.
    target = std::clamp<long long>(target, 0, std::max(timeline->EndFrame(), 0));
    bool const audio = ReadBool(request, QStringLiteral("audio"), false);
    mAvManager->SetPlaybackTime(timeline->TimeAtFrame(int(target), false), audio, false, false, true);
    mClientCmdChangedProject = true;
    reply.insert(QStringLiteral("frame"), ToFrame(timeline->FrameAtTime(mAvManager->PlaybackTime()) + offset));
    return true;
}

bool ProjectManager::CmdGetRange(QJsonObject const&, QJsonObject& reply)
{
    Timeline const* const timeline = mAvManager->PrimaryTimeline();
    int start = -1;
    int end = -1;
    if (timeline)
    {
        long long const offset = timeline->TimeControlFrameOffset();
        start = ToFrame(timeline->PlaybackRangeStartFrame() + offset);
        end = ToFrame(timeline->PlaybackRangeEndFrame() + offset);
    }
    reply.insert(QStringLiteral("start_frame"), start);
    reply.insert(QStringLiteral("end_frame"), end);
    return true;
}

bool ProjectManager::CmdSetRange(QJsonObject const& request, QJsonObject& reply)
{
    // A member left out (or not a whole 32-bit number) takes its default, an
    // open end; a start given after the end given sets nothing.
    QString const startKey = QStringLiteral("start_frame");
    QString const endKey = QStringLiteral("end_frame");
    if (IsIntMember(request, startKey) && IsIntMember(request, endKey) &&
        ReadInt(request, startKey, -1) > ReadInt(request, endKey, -1))
    {
        reply.insert(MSG, QStringLiteral("Invalid argument (start_frame after end_frame)"));
        return false;
    }
    Timeline* const timeline = mAvManager->PrimaryTimeline();
    if (!timeline)
    {
        reply.insert(QStringLiteral("start_frame"), -1);
        reply.insert(QStringLiteral("end_frame"), -1);
        return true;
    }
    long long const offset = timeline->TimeControlFrameOffset();
    timeline->SetPlaybackRangeByFrame(ToFrame(ReadInt(request, QStringLiteral("start_frame"), -1) - offset),
                                      ToFrame(ReadInt(request, QStringLiteral("end_frame"), -1) - offset));
    mClientCmdChangedProject = true;
    return CmdGetRange(request, reply);
}
