#pragma once

#include "media/DecodeSettings.h"
#include "media/DecodeType.h"
#include "media/ExportLoggingMsgType.h"
#include "media/VideoFramePixelFormat.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class DecodeManager;
class ExportFrameHandoff;
class ExportWorker;
class QImage;
class QProcess;
class QThread;
class Timeline;
struct ExportProperties;
struct VideoFrame;

// Turns a timeline, or a series of captured viewer pictures, into a file by
// feeding raw samples or raw pixels to an external ffmpeg process, then
// running ffmpeg again to join segments, merge audio and video or convert.
//
// An export runs its audio and its video side on two export task threads,
// each with an ExportManager of its own over a private timeline copy; the
// video side decodes on a further thread (ExportWorker) one frame ahead of
// the encoder. Both sides share the request record, whose flags and progress
// values are atomics. Every ffmpeg run must start, exit normally with status
// 0 and leave a non-empty file, or the request is marked failed; the side
// that completes last joins the two streams. Every file is made in the
// export's temporary folder and moved to the output only once complete. A set failed or cancelled flag
// stops each side at its next step and kills the running ffmpeg.
class ExportManager : public QObject
{
    Q_OBJECT

public:
    // settings: the copy of the settings its task was started with.
    explicit ExportManager(DecodeSettings const& settings, QObject* parent = nullptr);
    // With the settings as they are now: main thread only.
    explicit ExportManager(QObject* parent = nullptr);
    ~ExportManager() override;

    // The preparation of a request before its export starts and the
    // clean-up after it ended (see ExportPreparation).
    static QString PreExportInitialization(ExportProperties* properties);
    static QString PostExportCleanup(ExportProperties* properties, QString* summary = nullptr);

    // Run on an export task's thread; return when that stream is done.
    void ExportAudio(Timeline* timeline, ExportProperties* properties);
    void ExportVideo(Timeline* timeline, ExportProperties* properties);

    // Viewer captures: the caller's thread feeds the pictures one by one.
    void BeginExportSnapshots(ExportProperties* properties);
    void EndExportSnapshots();

    void StopExportWorker();
    bool RestartVideoEncodingRequired(int width, int height, bool linear, VideoFramePixelFormat format) const;

    QString H264Crf() const;
    QString H264Preset() const;
    static QString H264Profile();

    void LogGeneralMsg(QString const& message, bool isError);
    void LogAudioMsg(QString const& message, bool isError);
    void LogVideoMsg(QString const& message, bool isError);
    void LogFfmpegCmd(QList<QString> const& args, bool general, bool video, bool audio);

    // Runs ffmpeg with the arguments until it ends. True only when it
    // started, exited normally with status 0 and was not cancelled.
    bool ExecuteCmdAndWait(QList<QString> const& args);
    // The last ffmpeg run of an export, writing output: true when it did.
    // Otherwise the export is marked failed with failure (or emptyOutput
    // when ffmpeg ended well but wrote nothing, after startFailure when it
    // did not start), unless it was cancelled.
    bool RunFinalStep(QList<QString> const& args, QString const& output, QString const& failure,
                      QString const& emptyOutput, QString const& startFailure = QString());

    // The folder the exports make their temporary folders in.
    static QString TempRootPath();
    // The configured ffmpeg, or the one found on the PATH when that is
    // empty (empty when there is none). Without an argument, as the settings
    // say: main thread only.
    static QString FfmpegExecutablePath(QString const& configured);
    static QString FfmpegExecutablePath();
    // One line of a concat demuxer list naming the file.
    static QString ConcatListLine(QString const& path);
    // The size libx264 takes for yuv420p: even, at least 2.
    static int EvenSize(int size);
    // The name of numbered picture `number` of an image-sequence request.
    static QString ImageFilePath(ExportProperties const* properties, int number);

    // The picture sizes and format the running encoder was started with.
    int EncoderWidth() const;
    int EncoderHeight() const;

public Q_SLOTS:
    void WriteSnapshotFrame(QImage const& image, int frame);

Q_SIGNALS:
    void ExportLogMsgReceived(QString const& message, ExportLoggingMsgType type, bool isError);
    void VideoDecodingReadyWait();
    // The video side is done with its decode loop: the worker stops it.
    void VideoExportEnded();

private Q_SLOTS:
    void ProcessExportOutput();
    void ProcessExportError();
    // Output of the running ffmpeg: marks the process as active and gives the
    // text with carriage returns as line ends (empty when nothing came).
    QString TakeProcessText(QByteArray const& data);
    void ForwardProcessText(QString const& text);
    void WriteAudioData();
    void WriteVideoFrame(std::shared_ptr<VideoFrame> frame);

private:
    void Initialize(DecodeType type, Timeline* timeline, ExportProperties* properties);
    bool IsStopped() const;
    void MarkFailed(QString const& message);

    bool StartProcess(QList<QString> const& args);
    // Writes all bytes, giving up after 30 s without progress, on a stop or
    // when the process ends. timeoutMessage is logged on a time-out.
    bool WriteToProcess(char const* data, qint64 size, QString const& timeoutMessage);
    // Waits until the process ends (killing it on a stop or after 30 s
    // without any output) and checks its exit.
    bool WaitForProcessEnd();
    void KillProcess();
    void LogProcessExit();
    static bool IsNonEmptyFile(QString const& path);
    // The encoder of one stream, reading raw samples or pictures on its
    // standard input. EndEncoder closes that input and waits for the encoder
    // to finish: true when it ended well (a failure is marked).
    bool StartEncoder(QList<QString> const& args, DecodeType type);
    bool EndEncoder(DecodeType type);

    bool StartAudioEncoding();
    void EndAudioEncoding();
    void CreateWav();

    bool StartVideoEncoding(bool linear, float sampleAspectRatio);
    void EndVideoEncoding();
    void FinishVideoExport();
    void CreateFinalVideoFile();
    void ConcatenateIntermediateVideoFiles();
    void MergeAudioVideo();
    void MoveVideoFileToFinalOutput();
    // A complete file rendered in the temporary folder goes to the output;
    // failing marks the export failed with failure.
    bool MoveToOutput(QString const& rendered, QString const& failure);
    // Every picture of the image sequence goes to the output folder.
    void MoveImagesToOutput();
    void RecordRenderedImage();
    bool WriteBlackFrame();

    // Marks this side's stream complete; true when the other side's is too
    // (or there is none), so that this side makes the final file.
    bool MarkStreamComplete();
    void AddStageProgress();

    DecodeSettings const mSettings; // the task's copy, fixed at construction
    DecodeManager* mDecodeManager = nullptr; // audio decode loop, owned; export thread
    DecodeType mEncodingType = DecodeType::None;
    QProcess* mProcess = nullptr; // child
    QThread* mVideoThread = nullptr;
    ExportWorker* mVideoWorker = nullptr;
    bool mVideoExportRunning = false;
    // Export thread; shared with the video decode thread, which pushes into
    // it (guarded by its own lock).
    std::shared_ptr<ExportFrameHandoff> mFrameHandoff;
    Timeline* mTimeline = nullptr;
    ExportProperties* mProperties = nullptr; // not owned
    long long mRangeDuration = 0;
    int mRangeStartFrame = 0;
    int mRangeEndFrame = 0;
    int mCurrentFrame = 0;
    QString mScaleSize;
    int mEncoderWidth = -1;
    int mEncoderHeight = -1;
    VideoFramePixelFormat mEncoderPixelFormat = VideoFramePixelFormat::RGB24;
    int mEncoderBytesPerPixel = 3;
    QString mEncoderPixelFormatName;
    bool mEncoderLinear = false;
    int mSegmentCounter = -1;
    bool mEncoderRunning = false;
    int mFirstNumber = 0;
    int mImagesWritten = 0; // by the running image-sequence encoder
    QByteArray mAudioBuffer;
    long long mAudioChunkSize = 0;
    long long mAudioTotalBytes = 0;
    long long mAudioRemainingBytes = 0;
    long long mBytesSinceTimeAdvance = 0;
    bool mAudioPositionSet = false;
    QElapsedTimer mAudioStalled; // since audio was last written
    QElapsedTimer mProcessActivity; // restarted by every output of the process
    QString mProcessErrorTail;      // the last lines ffmpeg wrote on standard error
    QList<QString> mRunFiles;       // pictures the running image encoder wrote
    QList<int> mRenderedNumbers;    // numbers of every picture rendered, in order
    bool mProcessStarted = false;   // the last ExecuteCmdAndWait started ffmpeg
    QByteArray mSnapshotRow;
};
