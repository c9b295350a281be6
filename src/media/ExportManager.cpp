#include "media/ExportManager.h"

#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "app/ThreadHandOver.h"
#include "media/AvHelpers.h"
#include "media/DecodeManager.h"
#include "media/export/ExportJournal.h"
#include "media/export/ExportOutputFiles.h"
#include "media/ExportProperties.h"
#include "media/ExportPreparation.h"
#include "media/export/ExportFrameHandoff.h"
#include "media/export/ExportRecovery.h"
#include "media/export/ExportTargetLock.h"
#include "media/ExportWorker.h"
#include "media/export/FileIdentity.h"
#include "media/VideoFrame.h"
#include "model/Timeline.h"
#include "model/VideoStreamInfo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLoggingCategory>
#include <QMutex>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <charconv>

// What ffmpeg writes; shown with QT_LOGGING_RULES="tessarin.export.process.debug=true".
Q_LOGGING_CATEGORY(lcExportProcess, "tessarin.export.process", QtInfoMsg)

namespace
{
long long const AUDIO_CHUNK_DURATION = 500000; // µs of audio per write
long long const TIME_ADVANCE = 1000000;        // µs of playback per second of audio written
// Process starts and writes, and a running ffmpeg that writes nothing, give
// up after this long.
int const PROCESS_TIMEOUT_MS = 30000;
// Waits are cut into slices this long, so that a cancel is seen promptly.
int const WAIT_SLICE_MS = 50;
int const VIDEO_THREAD_WAIT_MS = 500;
int const ERROR_TAIL_CHARACTERS = 4000;
int const ERROR_TAIL_LINES = 3;

// Shortest text that reads back as the same float ("25", "23.976", "0.5").
QString ShortestFloat(float value)
{
    char text[64];
    std::to_chars_result const result = std::to_chars(text, text + sizeof(text), value);
    return QString::fromLatin1(text, static_cast<qsizetype>(result.ptr - text));
}

// An argument as a shell would need it, for the logged command line only:
// the process itself gets the arguments as a list.
QString QuotedForLog(QString const& argument)
{
    static QRegularExpression const plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
    if (plain.match(argument).hasMatch())
    {
        return argument;
    }
    QString quoted = argument;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QStringLiteral("'%1'").arg(quoted);
}

long long RawPictureSize(VideoFramePixelFormat format, int width, int height)
{
    switch (format)
    {
    case VideoFramePixelFormat::RGB24:
        return 3LL * width * height;
    case VideoFramePixelFormat::RGBA:
        return 4LL * width * height;
    case VideoFramePixelFormat::YUV420P:
        return static_cast<long long>(width) * height + 2LL * ((width + 1) / 2) * ((height + 1) / 2);
    }
    return 0;
}

// Guards the hand-over between the audio and the video side of an export:
// which one completes last and makes the final file.
QMutex streamEndMutex;

} // namespace

ExportManager::ExportManager(QObject* parent)
    : ExportManager(DecodeSettings::FromSettings(), parent)
{
}

ExportManager::ExportManager(DecodeSettings const& settings, QObject* parent)
    : QObject(parent)
    , mSettings(settings)
    , mProcess(new QProcess(this))
{
    mProcess->setProcessChannelMode(QProcess::SeparateChannels);
    connect(mProcess, &QProcess::readyReadStandardOutput, this, &ExportManager::ProcessExportOutput);
    connect(mProcess, &QProcess::readyReadStandardError, this, &ExportManager::ProcessExportError);
}

ExportManager::~ExportManager()
{
    if (mVideoThread)
    {
        StopExportWorker();
    }
    // No ffmpeg outlives the export that started it.
    KillProcess();
    delete mDecodeManager;
}

// ---- Preparation and clean-up ----

QString ExportManager::PreExportInitialization(ExportProperties* properties)
{
    return ExportPreparation::PreExportInitialization(properties);
}

QString ExportManager::PostExportCleanup(ExportProperties* properties, QString* summary)
{
    return ExportPreparation::PostExportCleanup(properties, summary);
}

QString ExportManager::TempRootPath()
{
    QString const path = FileHelpers::GetUserTempDirPath();
    return path.isEmpty() ? QDir::tempPath() : path;
}

// ---- Small helpers ----

QString ExportManager::FfmpegExecutablePath()
{
    return FfmpegExecutablePath(Settings::ffmpegExePath);
}

QString ExportManager::FfmpegExecutablePath(QString const& configured)
{
    if (!configured.isEmpty())
    {
        return configured;
    }
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

QString ExportManager::ConcatListLine(QString const& path)
{
    // Inside single quotes nothing is special but the quote itself, which
    // is closed, escaped and opened again.
    QString escaped = path;
    escaped.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QStringLiteral("file '%1'\n").arg(escaped);
}

int ExportManager::EvenSize(int size)
{
    return std::max(2, size - size % 2);
}

QString ExportManager::ImageFilePath(ExportProperties const* properties, int number)
{
    return ExportOutputFiles::ImageFilePath(properties, number);
}

int ExportManager::EncoderWidth() const
{
    return mEncoderWidth;
}

int ExportManager::EncoderHeight() const
{
    return mEncoderHeight;
}

QString ExportManager::H264Crf() const
{
    static int const crf[] = {18, 20, 23, 26};
    int const quality = mProperties ? mProperties->h264Quality : -1;
    return QString::number(quality >= 0 && quality < 4 ? crf[quality] : 20);
}

QString ExportManager::H264Preset() const
{
    static char const* const presets[] = {"veryslow", "slow", "medium", "fast", "veryfast", "ultrafast"};
    int const preset = mProperties ? mProperties->h264Preset : -1;
    return QString::fromLatin1(preset >= 0 && preset < 6 ? presets[preset] : "medium");
}

QString ExportManager::H264Profile()
{
    return QStringLiteral("high");
}

bool ExportManager::RestartVideoEncodingRequired(int width, int height, bool linear,
                                                 VideoFramePixelFormat format) const
{
    return !mEncoderRunning || width != mEncoderWidth || height != mEncoderHeight || linear != mEncoderLinear ||
           format != mEncoderPixelFormat;
}

bool ExportManager::IsStopped() const
{
    return !mProperties || mProperties->failed || mProperties->cancelled;
}

void ExportManager::MarkFailed(QString const& message)
{
    if (!message.isEmpty())
    {
        LogGeneralMsg(message, true);
    }
    if (mProperties)
    {
        mProperties->failed = true;
    }
}

bool ExportManager::IsNonEmptyFile(QString const& path)
{
    QFileInfo const info(path);
    return info.isFile() && info.size() > 0;
}

bool ExportManager::MarkStreamComplete()
{
    QMutexLocker lock(&streamEndMutex);
    if (mEncodingType == DecodeType::Audio)
    {
        mProperties->audioExporting = false;
        return !mProperties->videoExporting;
    }
    mProperties->videoExporting = false;
    return !mProperties->audioExporting;
}

void ExportManager::AddStageProgress()
{
    // The stage is the encoding of the export's streams: each complete
    // stream counts its share.
    float const share = mProperties->noAudio || mProperties->noVideo ? 100.0f : 50.0f;
    mProperties->stageProgress.fetch_add(share);
}

// ---- Logging ----

void ExportManager::LogGeneralMsg(QString const& message, bool isError)
{
    emit ExportLogMsgReceived(message, ExportLoggingMsgType::General, isError);
}

void ExportManager::LogAudioMsg(QString const& message, bool isError)
{
    emit ExportLogMsgReceived(message, ExportLoggingMsgType::Audio, isError);
}

void ExportManager::LogVideoMsg(QString const& message, bool isError)
{
    emit ExportLogMsgReceived(message, ExportLoggingMsgType::Video, isError);
}

void ExportManager::LogFfmpegCmd(QList<QString> const& args, bool general, bool video, bool audio)
{
    QStringList parts {QuotedForLog(FfmpegExecutablePath(mSettings.ffmpegExePath))};
    for (QString const& argument : args)
    {
        parts << QuotedForLog(argument);
    }
    QString const text = parts.join(QLatin1Char(' '));
    if (general)
    {
        LogGeneralMsg(text, false);
    }
    if (video)
    {
        LogVideoMsg(text, false);
    }
    if (audio)
    {
        LogAudioMsg(text, false);
    }
}

QString ExportManager::TakeProcessText(QByteArray const& data)
{
    if (data.isEmpty())
    {
        return {};
    }
    mProcessActivity.restart();
    QString text = QString::fromUtf8(data);
    qCDebug(lcExportProcess).noquote() << text;
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void ExportManager::ForwardProcessText(QString const& text)
{
    emit ExportLogMsgReceived(text.trimmed(),
                              mEncodingType == DecodeType::Audio ? ExportLoggingMsgType::Audio
                                                                  : ExportLoggingMsgType::Video,
                              false);
}

void ExportManager::ProcessExportOutput()
{
    QString const text = TakeProcessText(mProcess->readAllStandardOutput());
    if (!text.isEmpty())
    {
        ForwardProcessText(text);
    }
}

void ExportManager::ProcessExportError()
{
    QString const text = TakeProcessText(mProcess->readAllStandardError());
    if (text.isEmpty())
    {
        return;
    }
    mProcessErrorTail.append(text);
    if (mProcessErrorTail.size() > ERROR_TAIL_CHARACTERS)
    {
        mProcessErrorTail = mProcessErrorTail.right(ERROR_TAIL_CHARACTERS);
    }
    ForwardProcessText(text);
}

// ---- Processes ----

bool ExportManager::StartProcess(QList<QString> const& args)
{
    KillProcess();
    mProcessErrorTail.clear();
    QString const program = FfmpegExecutablePath(mSettings.ffmpegExePath);
    if (program.isEmpty())
    {
        LogGeneralMsg(QStringLiteral("The ffmpeg path is not set (Preferences->Export)"), true);
        return false;
    }
    mProcess->start(program, args, QIODevice::ReadWrite);
    if (!mProcess->waitForStarted(PROCESS_TIMEOUT_MS))
    {
        LogGeneralMsg(QStringLiteral("Failed to start %1: %2").arg(program, mProcess->errorString()), true);
        return false;
    }
    mProcessActivity.start();
    return true;
}

void ExportManager::KillProcess()
{
    if (mProcess->state() != QProcess::NotRunning)
    {
        mProcess->kill();
        mProcess->waitForFinished(PROCESS_TIMEOUT_MS);
    }
}

void ExportManager::LogProcessExit()
{
    QStringList lines;
    for (QString const& line : mProcessErrorTail.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
    {
        if (!line.trimmed().isEmpty())
        {
            lines << line.trimmed();
        }
    }
    QString const tail = lines.mid(std::max(0, static_cast<int>(lines.size()) - ERROR_TAIL_LINES)).join(QStringLiteral(" | "));
    QString const status = mProcess->exitStatus() == QProcess::CrashExit
                               ? QStringLiteral("ffmpeg crashed")
                               : QStringLiteral("ffmpeg exited with status %1").arg(mProcess->exitCode());
    LogGeneralMsg(tail.isEmpty() ? status : QStringLiteral("%1: %2").arg(status, tail), true);
}

bool ExportManager::WriteToProcess(char const* data, qint64 size, QString const& timeoutMessage)
{
    if (mProcess->state() != QProcess::Running || mProcess->write(data, size) != size)
    {
        mProcess->waitForFinished(WAIT_SLICE_MS);
        LogProcessExit();
        MarkFailed(QString());
        return false;
    }
    QElapsedTimer stalled;
    stalled.start();
    qint64 pending = mProcess->bytesToWrite();
    while (pending > 0)
    {
        if (IsStopped())
        {
            return false;
        }
        if (mProcess->state() != QProcess::Running)
        {
            LogProcessExit();
            MarkFailed(QString());
            return false;
        }
        mProcess->waitForBytesWritten(WAIT_SLICE_MS);
        qint64 const left = mProcess->bytesToWrite();
        if (left < pending)
        {
            pending = left;
            stalled.restart();
        }
        else if (stalled.elapsed() > PROCESS_TIMEOUT_MS)
        {
            MarkFailed(timeoutMessage);
            KillProcess();
            return false;
        }
    }
    return true;
}

bool ExportManager::WaitForProcessEnd()
{
    while (mProcess->state() != QProcess::NotRunning)
    {
        if (IsStopped())
        {
            KillProcess();
            return false;
        }
        if (mProcess->waitForFinished(WAIT_SLICE_MS))
        {
            break;
        }
        if (mProcessActivity.elapsed() > PROCESS_TIMEOUT_MS)
        {
            LogGeneralMsg(QStringLiteral("ffmpeg did not finish in time and was ended"), true);
            KillProcess();
            return false;
        }
    }
    ProcessExportOutput();
    ProcessExportError();
    if (mProcess->exitStatus() != QProcess::NormalExit || mProcess->exitCode() != 0)
    {
        LogProcessExit();
        return false;
    }
    return true;
}

bool ExportManager::StartEncoder(QList<QString> const& args, DecodeType type)
{
    bool const video = type == DecodeType::Video;
    LogFfmpegCmd(args, false, video, !video);
    if (!StartProcess(args))
    {
        MarkFailed(video ? QStringLiteral("Failed to open video file for write")
                         : QStringLiteral("Failed to open audio file for write"));
        return false;
    }
    mEncoderRunning = true;
    return true;
}

bool ExportManager::EndEncoder(DecodeType type)
{
    if (!mEncoderRunning)
    {
        return false;
    }
    mEncoderRunning = false;
    mProcess->closeWriteChannel();
    if (IsStopped())
    {
        KillProcess();
        return false;
    }
    if (!WaitForProcessEnd())
    {
        if (!mProperties->cancelled)
        {
            if (type == DecodeType::Video)
            {
                LogVideoMsg(QStringLiteral("Failed to close video write channel"), true);
                MarkFailed(QStringLiteral("Failed to close video write channel"));
            }
            else
            {
                MarkFailed(QStringLiteral("Failed to close audio write channel"));
            }
        }
        return false;
    }
    return true;
}

bool ExportManager::ExecuteCmdAndWait(QList<QString> const& args)
{
    mProcessStarted = StartProcess(args);
    if (!mProcessStarted)
    {
        LogGeneralMsg(QStringLiteral("Timeout starting export process cmd"), true);
        return false;
    }
    return WaitForProcessEnd() && !IsStopped();
}

bool ExportManager::RunFinalStep(QList<QString> const& args, QString const& output, QString const& failure,
                                 QString const& emptyOutput, QString const& startFailure)
{
    if (!ExecuteCmdAndWait(args))
    {
        if (!mProperties->cancelled)
        {
            if (!mProcessStarted && !startFailure.isEmpty())
            {
                LogGeneralMsg(startFailure, true);
            }
            MarkFailed(failure);
        }
        return false;
    }
    if (!IsNonEmptyFile(output))
    {
        MarkFailed(emptyOutput);
        return false;
    }
    mProperties->finalProgress = 100.0f;
    return true;
}

// ---- Stream set-up ----

void ExportManager::Initialize(DecodeType type, Timeline* timeline, ExportProperties* properties)
{
    mEncodingType = type;
    mTimeline = timeline;
    mProperties = properties;
    timeline->SetCacheSize(Settings::MINIMUM_TIMELINE_CACHE_SIZE);
    if (properties->ignoreRange)
    {
        // A request that starts later (the audio of a stepped capture) keeps
        // its start: the sound must begin with the first captured picture.
        timeline->SetPlaybackRangeByFrame(std::max(0, properties->startFrame), timeline->EndFrame());
    }
    // Ranges are inclusive: the end time is the range's last microsecond.
    mRangeDuration = timeline->PlaybackRangeEnd() - timeline->PlaybackRangeStart() + 1;
    mRangeStartFrame = timeline->PlaybackRangeStartFrame();
    mRangeEndFrame = timeline->PlaybackRangeEndFrame();
    if (mRangeEndFrame < 0)
    {
        mRangeEndFrame = timeline->EndFrame();
    }
    mCurrentFrame = mRangeStartFrame;
    timeline->SetPlaybackFrame(mCurrentFrame);
    if (type == DecodeType::Video)
    {
        properties->intermediateFiles.clear();
        mScaleSize = QStringLiteral("%1:%2").arg(properties->width).arg(properties->height);
    }
}

// ---- Audio ----

void ExportManager::ExportAudio(Timeline* timeline, ExportProperties* properties)
{
    Initialize(DecodeType::Audio, timeline, properties);
    // Counted in whole samples, without rounding in floating point: a 2.002 s
    // range holds exactly 96096 samples at 48 kHz.
    AudioOutputFormat const& format = mSettings.audioFormat;
    mAudioTotalBytes = mRangeDuration * format.sampleRate / 1000000 * AvHelpers::AudioOutputFrameSize(format);
    mAudioRemainingBytes = mAudioTotalBytes;
    mAudioChunkSize = AvHelpers::AudioOutputSizeForDuration(AUDIO_CHUNK_DURATION, format);
    mBytesSinceTimeAdvance = 0;
    mAudioPositionSet = false;
    mEncoderRunning = false;
    if (properties->finalAudioPath.isEmpty())
    {
        MarkFailed(QStringLiteral("Failed to open audio file for write"));
    }
    if (!IsStopped())
    {
        mDecodeManager = new DecodeManager(mSettings, this);
        connect(mDecodeManager, &DecodeManager::ProcessAudioOutput, this, &ExportManager::WriteAudioData);
        mDecodeManager->StartDecoding(timeline, DecodeType::Audio, true);
        timeline->ClearAudioCache(true);
        // The loop has unwound: its decoders can go now.
        DecodeManager* finished = mDecodeManager;
        mDecodeManager = nullptr;
        delete finished;
    }
    EndAudioEncoding();
    if (!IsStopped())
    {
        AddStageProgress();
    }
    bool const last = MarkStreamComplete();
    if (properties->videoFromSnapshots)
    {
        MergeAudioVideo();
    }
    else if (properties->noVideo)
    {
        CreateWav();
    }
    else if (last)
    {
        MergeAudioVideo();
    }
}

void ExportManager::WriteAudioData()
{
    if (!mDecodeManager)
    {
        return;
    }
    if (IsStopped())
    {
        mDecodeManager->StopDecoding();
        return;
    }
    if (!mEncoderRunning)
    {
        mAudioPositionSet = false;
        if (!StartAudioEncoding() || IsStopped())
        {
            mDecodeManager->StopDecoding();
            return;
        }
        mAudioStalled.start();
    }
    if (mAudioStalled.elapsed() > PROCESS_TIMEOUT_MS)
    {
        // The decoding gave nothing for too long: no export waits for ever.
        MarkFailed(QStringLiteral("Timeout waiting for audio at %1 us").arg(mTimeline->PlaybackTime()));
        mDecodeManager->StopDecoding();
        return;
    }
    if (!mAudioPositionSet)
    {
        if (!mTimeline->AudioCacheReady())
        {
            return;
        }
        mTimeline->ResetAudioBuffer(mAudioBuffer, -1, mSettings.audioFormat);
        mAudioPositionSet = true;
    }
    long long const wanted = std::min(mAudioRemainingBytes, mAudioChunkSize);
    mTimeline->FillAudioBufferBySize(mAudioBuffer, static_cast<int>(wanted), true, mSettings.audioFormat);
    if (mAudioBuffer.isEmpty() && wanted > 0 && mTimeline->AudioCacheEndTime() >= mTimeline->EndTime())
    {
        mAudioBuffer.fill('\0', static_cast<qsizetype>(wanted));
    }
    if (!mAudioBuffer.isEmpty())
    {
        qsizetype const written = mAudioBuffer.size();
        bool const ok =
            WriteToProcess(mAudioBuffer.constData(), written, QStringLiteral("Timeout writing audio stream"));
        mAudioBuffer.clear();
        if (!ok)
        {
            mDecodeManager->StopDecoding();
            return;
        }
        mAudioStalled.restart();
        mAudioRemainingBytes -= written;
        mBytesSinceTimeAdvance += written;
        mProperties->audioProgress = mAudioTotalBytes > 0
                                         ? static_cast<float>(mAudioTotalBytes - mAudioRemainingBytes) /
                                               static_cast<float>(mAudioTotalBytes) * 100.0f
                                         : 100.0f;
        // Move the decode window on as the samples are taken.
        while (mAudioChunkSize > 0 && mBytesSinceTimeAdvance >= 2 * mAudioChunkSize)
        {
            mBytesSinceTimeAdvance -= 2 * mAudioChunkSize;
            mTimeline->SetPlaybackTime(mTimeline->PlaybackTime() + TIME_ADVANCE);
        }
    }
    if (mAudioRemainingBytes > 0 && !IsStopped())
    {
        return;
    }
    mDecodeManager->StopDecoding();
}

bool ExportManager::StartAudioEncoding()
{
    // The engine's output format: 32-bit float, 48000 Hz, stereo.
    QList<QString> const args = {QStringLiteral("-y"),       QStringLiteral("-f"),      QStringLiteral("f32le"),
                                 QStringLiteral("-ar"),      QStringLiteral("48000"),   QStringLiteral("-ac"),
                                 QStringLiteral("2"),        QStringLiteral("-channel_layout"),
                                 QStringLiteral("stereo"),   QStringLiteral("-i"),      QStringLiteral("-"),
                                 QStringLiteral("-c:a"),     QStringLiteral("aac"),     QStringLiteral("-b:a"),
                                 QStringLiteral("192k"),     mProperties->finalAudioPath};
    return StartEncoder(args, DecodeType::Audio);
}

void ExportManager::EndAudioEncoding()
{
    if (EndEncoder(DecodeType::Audio) && !IsNonEmptyFile(mProperties->finalAudioPath))
    {
        MarkFailed(QStringLiteral("ffmpeg wrote no audio: %1").arg(mProperties->finalAudioPath));
    }
}

void ExportManager::CreateWav()
{
    if (IsStopped())
    {
        return;
    }
    // The encoder pads its last block: the output keeps exactly the samples
    // taken from the timeline.
    long long const samples = mAudioTotalBytes / AvHelpers::AudioOutputFrameSize(mSettings.audioFormat);
    QList<QString> args = {QStringLiteral("-y"), QStringLiteral("-i"), mProperties->finalAudioPath};
    if (samples > 0)
    {
        args << QStringLiteral("-af") << QStringLiteral("atrim=end_sample=%1").arg(samples);
    }
    QString const rendered = ExportOutputFiles::RenderedOutputPath(mProperties);
    args << rendered;
    LogFfmpegCmd(args, false, false, true);
    QString const failure = QStringLiteral("Failed to create .wav file");
    if (RunFinalStep(args, rendered, failure, failure))
    {
        MoveToOutput(rendered, QStringLiteral("Failed to create .wav file"));
    }
}

// ---- Video ----

void ExportManager::ExportVideo(Timeline* timeline, ExportProperties* properties)
{
    Initialize(DecodeType::Video, timeline, properties);
    mSegmentCounter = -1;
    mEncoderRunning = false;
    if (!properties->imageSequence && properties->finalVideoPath.isEmpty())
    {
        MarkFailed(QStringLiteral("Failed to open video file for write"));
    }
    if (!IsStopped())
    {
        auto handoff = std::make_shared<ExportFrameHandoff>();
        mFrameHandoff = handoff;
        mVideoWorker = new ExportWorker(timeline, mSettings);
        mVideoThread = new QThread();
        connect(this, &ExportManager::VideoDecodingReadyWait, mVideoWorker, &ExportWorker::StartVideoDecoding);
        // Direct: the decode loop owns the worker's thread and takes its
        // commands from its inbox, which any thread may post to.
        connect(this, &ExportManager::VideoExportEnded, mVideoWorker, &ExportWorker::EndDecoding,
                Qt::DirectConnection);
        // Runs on the decode thread: the frame goes straight into the hand-over,
        // where the decode loop waits while the encoder is behind.
        connect(
            mVideoWorker->DecodeManagerPtr(), &DecodeManager::VideoFrameChanged, mVideoWorker,
            [handoff](std::shared_ptr<VideoFrame> current, std::shared_ptr<VideoFrame>, std::shared_ptr<VideoFrame>) {
                handoff->Push(std::move(current));
            },
            Qt::DirectConnection);
        // The last thing the decode thread does. Waiting for a QThread orders
        // nothing the thread sanitizer can see, so the end is handed over
        // explicitly to the thread that then deletes the worker.
        QThread* const thread = mVideoThread;
        connect(
            mVideoThread, &QThread::finished, mVideoThread,
            [handoff, thread] {
                handoff->End();
                ThreadHandOver::Release(thread);
            },
            Qt::DirectConnection);
        mVideoWorker->moveToThread(mVideoThread);
        mVideoThread->start(QThread::InheritPriority);

        // A failure or a cancel, from whichever thread, closes the hand-off,
        // which ends a wait for a picture at once.
        int const failedWake = properties->failed.AddWake([handoff] { handoff->Close(); });
        int const cancelledWake = properties->cancelled.AddWake([handoff] { handoff->Close(); });

        mVideoExportRunning = true;
        emit VideoDecodingReadyWait();
        QElapsedTimer idle;
        idle.start();
        while (mVideoExportRunning)
        {
            long long const time = mTimeline->TimeAtFrame(mCurrentFrame, false);
            // Pictures handed over for frames already written from the cache
            // make room for the decode loop.
            handoff->DropEndingBefore(time);
            // A picture the decode loop already cached for the frame is
            // taken at once, without waiting for the loop to show it.
            std::shared_ptr<VideoFrame> frame = mTimeline->FindVideoFrame(time);
            if (frame && !IsStopped())
            {
                int const before = mCurrentFrame;
                WriteVideoFrame(std::move(frame));
                if (mCurrentFrame != before || !mVideoExportRunning)
                {
                    idle.restart();
                    continue;
                }
            }
            int const untilIdleTimeout = static_cast<int>(std::max<qint64>(0, PROCESS_TIMEOUT_MS - idle.elapsed()));
            ExportFrameHandoff::Result const result = handoff->Take(frame, untilIdleTimeout);
            if (result == ExportFrameHandoff::Result::Frame)
            {
                WriteVideoFrame(std::move(frame));
                idle.restart();
            }
            else if (result == ExportFrameHandoff::Result::Ended)
            {
                if (!IsStopped())
                {
                    MarkFailed(QStringLiteral("Video decoding ended at frame %1 of %2")
                                   .arg(mCurrentFrame)
                                   .arg(mRangeEndFrame));
                }
                StopExportWorker();
            }
            else if (result == ExportFrameHandoff::Result::Closed || IsStopped())
            {
                StopExportWorker();
            }
            else if (idle.elapsed() >= PROCESS_TIMEOUT_MS)
            {
                MarkFailed(QStringLiteral("Timeout waiting for video frame %1").arg(mCurrentFrame));
                StopExportWorker();
            }
        }
        properties->failed.RemoveWake(failedWake);
        properties->cancelled.RemoveWake(cancelledWake);
        mFrameHandoff.reset();
    }
    EndVideoEncoding();
    if (!properties->imageSequence && !IsStopped())
    {
        CreateFinalVideoFile();
    }
    if (!IsStopped())
    {
        AddStageProgress();
    }
    bool const last = MarkStreamComplete();
    if (properties->imageSequence)
    {
        if (!IsStopped())
        {
            MoveImagesToOutput();
        }
    }
    else if (properties->noAudio)
    {
        MoveVideoFileToFinalOutput();
    }
    else if (last)
    {
        MergeAudioVideo();
    }
}

void ExportManager::WriteVideoFrame(std::shared_ptr<VideoFrame> frame)
{
    if (!mVideoExportRunning)
    {
        return;
    }
    if (!frame || IsStopped())
    {
        if (IsStopped())
        {
            StopExportWorker();
        }
        return;
    }
    // Only the picture that covers the frame being written is taken; one
    // the decode loop showed for another time is passed over.
    long long const time = mTimeline->TimeAtFrame(mCurrentFrame, false);
    if (frame->adjustedStartTime > time || frame->adjustedEndTime < time)
    {
        return;
    }
    // The decode loop runs one frame ahead of the encoder.
    if (mCurrentFrame < mRangeEndFrame)
    {
        mTimeline->SetPlaybackFrame(mCurrentFrame + 1);
        if (mVideoWorker)
        {
            mVideoWorker->DecodeManagerPtr()->Wake();
        }
    }

    int width = 1;
    int height = 1;
    bool linear = false;
    float aspect = 1.0f;
    VideoFramePixelFormat format = VideoFramePixelFormat::RGB24;
    if (!frame->emptyFrame)
    {
        width = frame->width;
        height = frame->height;
        format = frame->pixelFormat;
        if (frame->streamInfo)
        {
            linear = frame->streamInfo->isLinear;
            aspect = frame->streamInfo->sampleAspectRatio > 0.0f ? frame->streamInfo->sampleAspectRatio : 1.0f;
        }
    }
    if (mEncoderRunning && RestartVideoEncodingRequired(width, height, linear, format))
    {
        EndVideoEncoding();
    }
    if (!mEncoderRunning && !IsStopped())
    {
        mEncoderWidth = width;
        mEncoderHeight = height;
        mEncoderLinear = linear;
        mEncoderPixelFormat = format;
        switch (format)
        {
        case VideoFramePixelFormat::YUV420P:
            mEncoderPixelFormatName = QStringLiteral("yuv420p");
            mEncoderBytesPerPixel = 1;
            break;
        case VideoFramePixelFormat::RGBA:
            mEncoderPixelFormatName = QStringLiteral("rgba");
            mEncoderBytesPerPixel = 4;
            break;
        case VideoFramePixelFormat::RGB24:
            mEncoderPixelFormatName = QStringLiteral("rgb24");
            mEncoderBytesPerPixel = 3;
            break;
        }
        mFirstNumber = mCurrentFrame - (mProperties->imageNumberingType == 2 ? 0 : mRangeStartFrame) +
                       mProperties->imageNumberOffset;
        StartVideoEncoding(linear, aspect);
    }
    if (!IsStopped())
    {
        bool written = false;
        if (frame->emptyFrame)
        {
            written = WriteBlackFrame();
        }
        else if (!frame->packedData || frame->byteSize != RawPictureSize(format, width, height))
        {
            MarkFailed(QStringLiteral("Video frame %1 holds no picture of %2x%3").arg(mCurrentFrame).arg(width).arg(height));
        }
        else
        {
            written = WriteToProcess(reinterpret_cast<char const*>(frame->packedData.get()), frame->byteSize,
                                     QStringLiteral("Timeout writing video stream"));
        }
        if (written && mProperties->imageSequence)
        {
            RecordRenderedImage();
        }
        int const span = mRangeEndFrame - mRangeStartFrame;
        mProperties->videoProgress = span > 0 ? static_cast<float>(mCurrentFrame - mRangeStartFrame) /
                                                    static_cast<float>(span) * 100.0f
                                              : 100.0f;
    }
    if (mCurrentFrame < mRangeEndFrame && !IsStopped())
    {
        ++mCurrentFrame;
        return;
    }
    StopExportWorker();
}

bool ExportManager::WriteBlackFrame()
{
    QByteArray black(static_cast<qsizetype>(RawPictureSize(mEncoderPixelFormat, mEncoderWidth, mEncoderHeight)),
                     '\0');
    if (mEncoderPixelFormat == VideoFramePixelFormat::YUV420P)
    {
        // Black in video range: luma 16, chroma at its middle.
        qsizetype const luma = static_cast<qsizetype>(mEncoderWidth) * mEncoderHeight;
        std::fill(black.begin(), black.begin() + luma, char(16));
        std::fill(black.begin() + luma, black.end(), char(128));
    }
    else if (mEncoderPixelFormat == VideoFramePixelFormat::RGBA)
    {
        for (qsizetype i = 3; i < black.size(); i += 4)
        {
            black[i] = char(255);
        }
    }
    return WriteToProcess(black.constData(), black.size(), QStringLiteral("Timeout writing video stream"));
}

void ExportManager::StopExportWorker()
{
    if (!mVideoThread)
    {
        mVideoExportRunning = false;
        return;
    }
    if (mFrameHandoff)
    {
        // A decode thread waiting to hand a picture over goes on to its stop.
        mFrameHandoff->Close();
    }
    emit VideoExportEnded();
    // A thread is never destroyed while it runs: after the usual grace the
    // wait goes on, with a warning.
    if (!mVideoThread->wait(VIDEO_THREAD_WAIT_MS))
    {
        Logger::GetInstance()->Warning("Waiting for the video export decoding to end");
        mVideoThread->wait();
    }
    ThreadHandOver::Acquire(mVideoThread);
    delete mVideoWorker;
    mVideoWorker = nullptr;
    delete mVideoThread;
    mVideoThread = nullptr;
    mVideoExportRunning = false;
}

bool ExportManager::StartVideoEncoding(bool linear, float sampleAspectRatio)
{
    float const frameRate = mProperties->frameRate > 0.0f ? mProperties->frameRate : 12.0f;
    QList<QString> args = {QStringLiteral("-y"),
                           QStringLiteral("-f"),
                           QStringLiteral("rawvideo"),
                           QStringLiteral("-pix_fmt"),
                           mEncoderPixelFormatName,
                           QStringLiteral("-s"),
                           QStringLiteral("%1x%2").arg(mEncoderWidth).arg(mEncoderHeight),
                           QStringLiteral("-framerate"),
                           ShortestFloat(frameRate),
                           QStringLiteral("-i"),
                           QStringLiteral("-")};
    if (mProperties->imageSequence)
    {
        // Rendered in the temporary folder; moved to the output folder once
        // every picture is there.
        QString const pattern = ExportOutputFiles::RenderedImagePattern(mProperties);
        args << QStringLiteral("-start_number") << QString::number(mFirstNumber);
        if (mProperties->imageExtension == QLatin1String("jpg"))
        {
            args << QStringLiteral("-qscale:v") << QStringLiteral("2");
        }
        args << QStringLiteral("-vf") << QStringLiteral("scale=%1").arg(mScaleSize) << pattern;
        mImagesWritten = 0;
        mRunFiles.clear();
    }
    else
    {
        ++mSegmentCounter;
        QString const segment = QStringLiteral("%1/%2_%3.m4v")
                                    .arg(mProperties->tempDirPath, mProperties->exportName,
                                         QString::number(mSegmentCounter));
        mProperties->intermediateFiles.append(segment);
        int const width = EvenSize(mProperties->width);
        int const height = EvenSize(mProperties->height);
        QString filter = QStringLiteral("scale=w=%1:h=%2:force_original_aspect_ratio=1,pad=%1:%2:(ow-iw)*0.5:(oh-ih)*0.5")
                             .arg(width)
                             .arg(height);
        filter += QStringLiteral(",setsar=%1").arg(ShortestFloat(sampleAspectRatio));
        if (linear)
        {
            filter += QStringLiteral(
                ",lutrgb=r=gammaval(0.45454545):g=gammaval(0.45454545):b=gammaval(0.45454545)");
        }
        args << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-pix_fmt")
             << QStringLiteral("yuv420p") << QStringLiteral("-crf") << H264Crf() << QStringLiteral("-preset:v")
             << H264Preset() << QStringLiteral("-profile:v") << H264Profile() << QStringLiteral("-vf") << filter
             << QStringLiteral("-an") << segment;
    }
    return StartEncoder(args, DecodeType::Video);
}

void ExportManager::EndVideoEncoding()
{
    if (!EndEncoder(DecodeType::Video))
    {
        return;
    }
    QList<QString> const written =
        mProperties->imageSequence ? mRunFiles : QList<QString> {mProperties->intermediateFiles.value(mSegmentCounter)};
    for (QString const& path : written)
    {
        if (!IsNonEmptyFile(path))
        {
            MarkFailed(QStringLiteral("ffmpeg wrote no video: %1").arg(path));
            return;
        }
    }
}

void ExportManager::CreateFinalVideoFile()
{
    if (IsStopped())
    {
        return;
    }
    QList<QString> files;
    for (qsizetype i = mProperties->intermediateFiles.size() - 1; i >= 0; --i)
    {
        QString const& path = mProperties->intermediateFiles.at(i);
        if (QFileInfo::exists(path))
        {
            files.prepend(path);
        }
        else
        {
            LogGeneralMsg(QStringLiteral("[WARNING] Intermediate file not found... skipping"), false);
        }
    }
    if (files.size() == 1)
    {
        QFile::remove(mProperties->finalVideoPath);
        if (!QFile::rename(files.first(), mProperties->finalVideoPath))
        {
            LogGeneralMsg(QStringLiteral("Failed to rename final video file"), true);
            MarkFailed(QStringLiteral("Failed to create final video file"));
        }
    }
    else if (files.size() > 1)
    {
        mProperties->intermediateFiles = files;
        ConcatenateIntermediateVideoFiles();
    }
    else
    {
        LogGeneralMsg(QStringLiteral("No intermediate video files found"), true);
        MarkFailed(QStringLiteral("Failed to create final video file"));
    }
}

void ExportManager::ConcatenateIntermediateVideoFiles()
{
    if (IsStopped())
    {
        return;
    }
    mProperties->concatListPath = QStringLiteral("%1/%2.txt").arg(mProperties->tempDirPath, mProperties->exportName);
    QFile list(mProperties->concatListPath);
    bool written = list.open(QIODevice::WriteOnly | QIODevice::Truncate);
    for (QString const& path : std::as_const(mProperties->intermediateFiles))
    {
        written = written && list.write(ConcatListLine(path).toUtf8()) >= 0;
    }
    list.close();
    mProperties->finalProgress = 20.0f;
    if (!written || !QFileInfo::exists(mProperties->concatListPath))
    {
        MarkFailed(QStringLiteral("Failed to concatenate intermediate video files"));
        return;
    }
    QList<QString> const args = {QStringLiteral("-y"),   QStringLiteral("-f"),    QStringLiteral("concat"),
                                 QStringLiteral("-safe"), QStringLiteral("0"),     QStringLiteral("-i"),
                                 mProperties->concatListPath, QStringLiteral("-c"), QStringLiteral("copy"),
                                 mProperties->finalVideoPath};
    LogFfmpegCmd(args, false, true, false);
    QString const failure = QStringLiteral("Failed to concatenate intermediate video files");
    RunFinalStep(args, mProperties->finalVideoPath, failure, failure);
}

void ExportManager::MergeAudioVideo()
{
    if (IsStopped())
    {
        return;
    }
    QString missing;
    if (!QFileInfo::exists(mProperties->finalAudioPath))
    {
        missing = QStringLiteral("Audio file for merge not found");
    }
    else if (!QFileInfo::exists(mProperties->finalVideoPath))
    {
        missing = QStringLiteral("Video file for merge not found");
    }
    if (!missing.isEmpty())
    {
        LogGeneralMsg(missing, true);
        MarkFailed(QStringLiteral("Failed to merge audio and video streams"));
        return;
    }
    QList<QString> const args = {QStringLiteral("-y"),
                                 QStringLiteral("-i"),
                                 mProperties->finalVideoPath,
                                 QStringLiteral("-i"),
                                 mProperties->finalAudioPath,
                                 QStringLiteral("-c"),
                                 QStringLiteral("copy"),
                                 ExportOutputFiles::RenderedOutputPath(mProperties)};
    LogFfmpegCmd(args, true, false, false);
    QString const rendered = args.constLast();
    if (RunFinalStep(args, rendered, QStringLiteral("Failed to merge audio and video streams"),
                     QStringLiteral("Failed to create final output (audio/video merge)"),
                     QStringLiteral("Failed to start merge audio/video process")))
    {
        MoveToOutput(rendered, QStringLiteral("Failed to create final output (audio/video merge)"));
    }
}

void ExportManager::MoveVideoFileToFinalOutput()
{
    if (IsStopped())
    {
        return;
    }
    if (MoveToOutput(mProperties->finalVideoPath, QStringLiteral("Failed to move video file to final output")))
    {
        mProperties->finalProgress = 100.0f;
    }
}

bool ExportManager::MoveToOutput(QString const& rendered, QString const& failure)
{
    // A movie or sound file replaces what was there only now that it is
    // complete, in one step.
    QString const& output = mProperties->outputFilePath;
    FileIdentity placed;
    if (!ExportOutputFiles::MoveIntoPlace(rendered, output, true, mProperties->exportName,
                                          [&placed](QString const& source) { placed = FileIdentity::Of(source); }))
    {
        LogGeneralMsg(QStringLiteral("Failed to move %1 to %2").arg(rendered, output), true);
        MarkFailed(failure);
        return false;
    }
    mProperties->outputFiles.append({output, placed});
    return true;
}

void ExportManager::MoveImagesToOutput()
{
    // Unless the user asked to replace them, a picture that appeared at the
    // output meanwhile stops the move: it is not ours to write over. One
    // that is replaced is first set aside, so that a failure or a cancel
    // can put it back.
    // Each step is written to the journal before it is taken, so that the
    // next start can undo what a killed export left half done.
    QString const keepDirPath = QStringLiteral("%1/%2_replaced").arg(mProperties->tempDirPath, mProperties->exportName);
    QString const& tag = mProperties->exportName;
    if (!mProperties->journal)
    {
        MarkFailed(QStringLiteral("Failed to write export journal: %1")
                       .arg(ExportJournal::PathFor(mProperties->tempDirPath, mProperties->exportName)));
        return;
    }
    ExportJournal& journal = *mProperties->journal;
    for (int const number : std::as_const(mRenderedNumbers))
    {
        QString const rendered = ExportOutputFiles::RenderedImagePath(mProperties, number);
        QString const output = ExportOutputFiles::ImageFilePath(mProperties, number);
        QFileInfo const existing(output);
        if (mProperties->overwriteExisting && (existing.isFile() || existing.isSymLink()))
        {
            FileIdentity const identity = FileIdentity::Of(output);
            if (!journal.RecordSetAside(output, identity))
            {
                MarkFailed(QStringLiteral("Failed to set aside existing file: %1").arg(output));
                return;
            }
            QString const kept = ExportOutputFiles::SetAside(output, keepDirPath, tag);
            if (kept.isEmpty())
            {
                MarkFailed(QStringLiteral("Failed to set aside existing file: %1").arg(output));
                return;
            }
            mProperties->replacedFiles.append({output, kept, identity});
        }
        FileIdentity placed;
        bool const journalled = journal.RecordMove(output);
        if (!journalled || !ExportOutputFiles::MoveIntoPlace(rendered, output, false, tag,
                                                             [&](QString const& source) {
                                                                 placed = FileIdentity::Of(source);
                                                                 journal.RecordPlaced(output, placed);
                                                             }))
        {
            MarkFailed(QStringLiteral("Failed to move image file to output: %1").arg(output));
            return;
        }
        mProperties->outputFiles.append({output, placed});
    }
    mProperties->finalProgress = 100.0f;
}

// ---- Viewer captures ----

void ExportManager::BeginExportSnapshots(ExportProperties* properties)
{
    mEncodingType = DecodeType::Video;
    mProperties = properties;
    mScaleSize = QStringLiteral("%1:%2").arg(properties->width).arg(properties->height);
    mEncoderRunning = false;
    mSegmentCounter = -1;
    properties->intermediateFiles.clear();
}

void ExportManager::WriteSnapshotFrame(QImage const& image, int frame)
{
    if (IsStopped())
    {
        return;
    }
    if (!mEncoderRunning)
    {
        // The first picture fixes the encoder; an encoder that ended has
        // marked the request failed, so this is the first picture.
        if (image.isNull())
        {
            return;
        }
        mRangeStartFrame = frame;
        mEncoderWidth = image.width();
        mEncoderHeight = image.height();
        mEncoderPixelFormat = VideoFramePixelFormat::RGB24;
        mEncoderBytesPerPixel = 3;
        mEncoderPixelFormatName = QStringLiteral("rgb24");
        mEncoderLinear = false;
        mFirstNumber = (mProperties->imageNumberingType == 2 ? frame : 0) + mProperties->imageNumberOffset;
        if (!StartVideoEncoding(false, 1.0f) || IsStopped())
        {
            return;
        }
    }
    // A picture of another size is fitted into the first one's, centred on
    // black: the encoder reads exactly that many bytes per picture.
    QImage picture;
    if (image.size() == QSize(mEncoderWidth, mEncoderHeight))
    {
        picture = image.convertToFormat(QImage::Format_RGB888);
    }
    else
    {
        picture = QImage(mEncoderWidth, mEncoderHeight, QImage::Format_RGB888);
        picture.fill(Qt::black);
        if (!image.isNull())
        {
            QImage const scaled =
                image.scaled(mEncoderWidth, mEncoderHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            QPainter painter(&picture);
            painter.drawImage((mEncoderWidth - scaled.width()) / 2, (mEncoderHeight - scaled.height()) / 2, scaled);
        }
    }
    qsizetype const rowBytes = static_cast<qsizetype>(mEncoderWidth) * 3;
    mSnapshotRow.resize(rowBytes * mEncoderHeight);
    for (int row = 0; row < mEncoderHeight; ++row)
    {
        std::copy_n(reinterpret_cast<char const*>(picture.constScanLine(row)), rowBytes,
                    mSnapshotRow.data() + row * rowBytes);
    }
    if (!WriteToProcess(mSnapshotRow.constData(), mSnapshotRow.size(), QStringLiteral("Timeout writing video stream")))
    {
        return;
    }
    if (mProperties->imageSequence)
    {
        RecordRenderedImage();
    }
}

void ExportManager::RecordRenderedImage()
{
    int const number = mFirstNumber + mImagesWritten++;
    mRunFiles.append(ExportOutputFiles::RenderedImagePath(mProperties, number));
    mRenderedNumbers.append(number);
}

void ExportManager::EndExportSnapshots()
{
    if (!mProperties)
    {
        return;
    }
    if (!mEncoderRunning && mSegmentCounter < 0 && mImagesWritten == 0 && !IsStopped())
    {
        MarkFailed(QStringLiteral("No frames were captured for export"));
    }
    EndVideoEncoding();
    if (!mProperties->imageSequence)
    {
        CreateFinalVideoFile();
    }
    if (!IsStopped())
    {
        AddStageProgress();
        if (mProperties->imageSequence)
        {
            MoveImagesToOutput();
        }
        else if (mProperties->noAudio)
        {
            MoveVideoFileToFinalOutput();
        }
    }
    if (IsStopped())
    {
        mProperties->failed = true;
    }
}
