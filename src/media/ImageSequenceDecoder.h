#pragma once

#include "media/DecodeSettings.h"
#include "media/ImageSequenceDecoderWorker.h"
#include "media/VideoFramePixelFormat.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QQueue>

#include <memory>
#include <mutex>

class DecodeCommandInbox;
class QThread;
class Source;
struct SourceFileInfo;
struct VideoFrame;
struct VideoStreamInfo;

// Decodes an image sequence frame by frame, forwards or backwards, by handing
// each file to one of a pool of workers, each on a thread of its own, and
// emits the pictures strictly in file order although the workers finish in
// any order. Frames are timed by their file index at the sequence rate.
//
// A file that is missing, empty or cannot be decoded never stalls the
// sequence: its worker still reports back, a black picture of the sequence's
// size takes its place, and the source is marked with the error. Files are
// requested at most a bounded number ahead of the next one to emit, so frames
// waiting for their turn cannot pile up.
//
// Use: construct, Initialize(-1), SetSource(), then SetDecodeForward(), Seek()
// and DecodeNext() (which answers STATUS_BUSY while it may not request more;
// the caller waits for a worker, e.g. WaitForFinishedWork, and retries);
// Shutdown() before deletion. Everything but the decoding runs on the
// caller's thread, which takes the workers' results in DecodeNext and
// CollectFinishedWork; it needs no event loop.
class ImageSequenceDecoder : public QObject
{
    Q_OBJECT

public:
    // DecodeNext results.
    static constexpr int STATUS_REQUESTED = 0;     // a file was handed to a worker
    static constexpr int STATUS_BUSY = 1;          // no idle worker, or enough files in flight
    static constexpr int STATUS_START_REACHED = 2; // backward: the first file was requested already
    static constexpr int STATUS_END_REACHED = 3;   // forward: the last file was requested already

    // From this many frames waiting for their turn on, a warning is logged.
    static constexpr int PENDING_FRAMES_WARNING = 21;

    // settings: the copy of the settings its task was started with.
    ImageSequenceDecoder(DecodeSettings const& settings, bool forExport, QObject* parent = nullptr);
    // With the settings as they are now: main thread only.
    explicit ImageSequenceDecoder(bool forExport, QObject* parent = nullptr);
    ~ImageSequenceDecoder() override;

    // Starts count worker threads (the settings' loader thread count when
    // count is below 1).
    void Initialize(int count);
    void SetSource(Source* source);
    void SetDecodeForward(bool forward);
    bool IsDecodeForward() const;
    // t in µs of sequence time; decoding restarts at its file, in the
    // direction of play. Drops waiting frames and results still under way.
    void Seek(long long t);
    int DecodeNext();
    // Takes in the files the workers finished: their pictures are emitted in
    // file order. DecodeNext does it first.
    void CollectFinishedWork();
    // Waits up to timeoutMs for a worker to finish a file, then collects.
    void WaitForFinishedWork(int timeoutMs);
    // Waits up to about a second for the workers to finish and their threads
    // to end.
    void Shutdown();

    int TotalWorkerCount() const;
    int ActiveWorkerCount() const;
    int UsableWorkerCount() const;

Q_SIGNALS:
    void DecodeImageRequested(int workerId, Source* source, int fileIndex, int infoIndex, bool forExport);
    void VideoFrameDecoded(std::shared_ptr<VideoFrame> frame);
    // Emitted on a worker's thread as it finishes a file, right after its
    // result was left for CollectFinishedWork: lets a waiting loop wake up
    // and take it.
    void WorkerTaskFinished();

private Q_SLOTS:
    void FinalThreadCleanup();

private:
    // Ids of workers that finished a file, left by their threads for the
    // decoder's thread. Shared with the workers' connections, so that a
    // worker that outlives a shutdown still has somewhere to report.
    struct FinishedWork
    {
        std::mutex mutex;
        QList<int> workerIds; // guarded by mutex
    };

    void OnDecodeTaskCompleted(int workerId);
    struct WorkerEntry
    {
        QThread* thread = nullptr;
        ImageSequenceDecoderWorker* worker = nullptr;
        int fileIndex = -1;
        // The source and seek the request belongs to.
        Source* source = nullptr;
        unsigned int generation = 0;
    };

    // Size and format black placeholders are made in.
    struct PictureFormat
    {
        VideoFramePixelFormat pixelFormat = VideoFramePixelFormat::RGB24;
        int width = 1;
        int height = 1;
        VideoStreamInfo* streamInfo = nullptr;
    };

    void CreateWorker(int id);
    // The size and format pictures of the sequence have: the last one's, else
    // what parsing found.
    PictureFormat SequencePictureFormat() const;
    // Files requested and not yet emitted in the current seek.
    int OutstandingFileCount() const;
    int MaximumOutstandingFileCount() const;
    // The ordering step; a null frame stands for a file that gave no picture.
    void ProcessVideoFrame(int fileIndex, std::shared_ptr<VideoFrame> frame);
    void EmitVideoFrame(int fileIndex, std::shared_ptr<VideoFrame> frame);
    std::shared_ptr<VideoFrame> MakePlaceholderFrame() const;
    void ShutdownWorkers();
    // While every worker is busy, the next file is opened here; the worker
    // that takes it then only decodes.
    void PrepareNextFile();
    std::unique_ptr<ImageSequenceDecoderWorker::OpenedFile> TakePreparedFile(QString const& path);
    void QuitThread(int workerId);

    Source* mSource = nullptr;
    DecodeSettings const mSettings;
    bool mForExport;
    bool mDecodeForward = true;
    int mNextFileIndex = 0;
    int mNextFileToEmit = 0;
    // Ascending by file index.
    QList<QPair<int, std::shared_ptr<VideoFrame>>> mPendingFrames;
    double mFrameStep = 0.0;
    QMap<int, WorkerEntry> mBusyWorkers;
    QMap<int, WorkerEntry> mQuittingWorkers;
    QQueue<WorkerEntry> mIdleWorkers;
    // Counts seeks and source changes: results of older requests are dropped.
    unsigned int mGeneration = 0;
    // Posted on a worker's thread when it finishes a file and when its thread
    // ends; Shutdown waits on it. Thread-safe on its own.
    std::shared_ptr<DecodeCommandInbox> mWorkerNews;
    std::shared_ptr<FinishedWork> mFinishedWork;
    // Taken from the last picture emitted, so placeholders depend only on
    // the order of emission, not on which worker finished first.
    PictureFormat mPictureFormat;
    // The file PrepareNextFile opened; used on this decoder's thread alone.
    std::unique_ptr<ImageSequenceDecoderWorker::OpenedFile> mPreparedFile;
};
