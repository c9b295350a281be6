#include "media/ImageSequenceDecoder.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "app/ThreadHandOver.h"
#include "app/TimeHelpers.h"
#include "media/DecodeCommandInbox.h"
#include "media/ImageSequenceDecoderWorker.h"
#include "media/VideoDecoder.h"
#include "media/VideoFrame.h"
#include "model/Source.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <thread>
#include <vector>

namespace
{

// Shutdown waits this long (ms) for the workers to come back and end.
int const SHUTDOWN_WAIT_MS = 1000;
// Then each worker still in a file gets this long (ms) to finish it.
int const SHUTDOWN_WORKER_WAIT_MS = 10000;

// Black in the limited range the YUV frames are converted to.
uint8_t const BLACK_LUMA = 16;
uint8_t const NEUTRAL_CHROMA = 128;

} // namespace

ImageSequenceDecoder::ImageSequenceDecoder(bool forExport, QObject* parent)
    : ImageSequenceDecoder(DecodeSettings::FromSettings(), forExport, parent)
{
}

ImageSequenceDecoder::ImageSequenceDecoder(DecodeSettings const& settings, bool forExport, QObject* parent)
    : QObject(parent)
    , mSettings(settings)
    , mForExport(forExport)
    , mWorkerNews(std::make_shared<DecodeCommandInbox>())
    , mFinishedWork(std::make_shared<FinishedWork>())
{
    connect(this, &ImageSequenceDecoder::WorkerTaskFinished, this, [news = mWorkerNews] { news->Post(); },
            Qt::DirectConnection);
}

ImageSequenceDecoder::~ImageSequenceDecoder()
{
    if (TotalWorkerCount() > 0)
    {
        Shutdown();
    }
}

void ImageSequenceDecoder::Initialize(int count)
{
    if (TotalWorkerCount() > 0)
    {
        return;
    }
    int const workerCount = std::max(count < 1 ? mSettings.imageSequenceLoaderThreadCount : count, 1);
    for (int id = 0; id < workerCount; ++id)
    {
        CreateWorker(id);
    }
}

void ImageSequenceDecoder::CreateWorker(int id)
{
    auto* thread = new QThread();
    thread->setProperty("id", id);
    connect(thread, &QThread::finished, this, &ImageSequenceDecoder::FinalThreadCleanup);
    // After the queued clean-up above, so that whoever wakes finds it posted.
    connect(
        thread, &QThread::finished, this,
        [news = mWorkerNews, thread] {
            news->Post();
            // The last of ours the thread runs: FinalThreadCleanup's wait
            // comes after it.
            ThreadHandOver::Release(thread);
        },
        Qt::DirectConnection);
    auto* worker = new ImageSequenceDecoderWorker(id, mSettings);
    connect(this, &ImageSequenceDecoder::DecodeImageRequested, worker, &ImageSequenceDecoderWorker::DecodeImage,
            Qt::QueuedConnection);
    // On the worker's thread; the result itself stays with the worker until
    // this decoder's thread collects it.
    connect(
        worker, &ImageSequenceDecoderWorker::TaskCompleted, worker,
        [finished = mFinishedWork](int workerId) {
            std::lock_guard<std::mutex> const locker(finished->mutex);
            finished->workerIds.append(workerId);
        },
        Qt::DirectConnection);
    connect(worker, &ImageSequenceDecoderWorker::TaskCompleted, this, &ImageSequenceDecoder::WorkerTaskFinished,
            Qt::DirectConnection);
    worker->moveToThread(thread);
    thread->start(QThread::InheritPriority);
    WorkerEntry entry;
    entry.thread = thread;
    entry.worker = worker;
    mIdleWorkers.enqueue(entry);
}

void ImageSequenceDecoder::SetSource(Source* source)
{
    mSource = source;
    mPreparedFile.reset();
    mFrameStep = source ? source->FrameStep() : Source::DefaultFrameStep();
    ++mGeneration;
    mPendingFrames.clear();
    mNextFileIndex = 0;
    mNextFileToEmit = 0;
    mPictureFormat = PictureFormat();
}

void ImageSequenceDecoder::SetDecodeForward(bool forward)
{
    mDecodeForward = forward;
}

bool ImageSequenceDecoder::IsDecodeForward() const
{
    return mDecodeForward;
}

void ImageSequenceDecoder::Seek(long long t)
{
    ++mGeneration;
    // A file opened ahead may have been written again since (a refresh
    // follows a new render): it is opened afresh when asked for.
    mPreparedFile.reset();
    long long next = 0;
    if (t >= 0 && mSource)
    {
        // The wanted file is asked for first and emitted first: a file's time
        // is its index, so no earlier file can cover the target.
        long long const frame = TimeHelpers::TimeToFrame(t, mFrameStep);
        next = mDecodeForward ? std::max(frame, 0LL) : std::min(frame, mSource->FileCount() - 1LL);
    }
    mPendingFrames.clear();
    mNextFileIndex = static_cast<int>(next);
    mNextFileToEmit = mNextFileIndex;
}

void ImageSequenceDecoder::CollectFinishedWork()
{
    QList<int> finished;
    {
        std::lock_guard<std::mutex> const locker(mFinishedWork->mutex);
        finished.swap(mFinishedWork->workerIds);
    }
    for (int const workerId : std::as_const(finished))
    {
        OnDecodeTaskCompleted(workerId);
    }
}

void ImageSequenceDecoder::WaitForFinishedWork(int timeoutMs)
{
    // Read before looking: a report that comes later raises it.
    unsigned long long const seen = mWorkerNews->Generation();
    bool waiting = false;
    {
        std::lock_guard<std::mutex> const locker(mFinishedWork->mutex);
        waiting = !mFinishedWork->workerIds.isEmpty();
    }
    if (!waiting && !mBusyWorkers.isEmpty())
    {
        mWorkerNews->WaitForPost(seen, timeoutMs);
    }
    CollectFinishedWork();
}

int ImageSequenceDecoder::DecodeNext()
{
    CollectFinishedWork();
    if (mNextFileIndex < 0)
    {
        return STATUS_START_REACHED;
    }
    if (!mSource || mNextFileIndex >= mSource->FileCount())
    {
        return STATUS_END_REACHED;
    }
    if (mIdleWorkers.isEmpty() || OutstandingFileCount() >= MaximumOutstandingFileCount())
    {
        PrepareNextFile();
        return STATUS_BUSY;
    }
    WorkerEntry entry = mIdleWorkers.dequeue();
    entry.fileIndex = mNextFileIndex;
    entry.source = mSource;
    entry.generation = mGeneration;
    // The worker gets its own copy of what is known of the file.
    SourceFileInfo file = mSource->FileInfoCopy(mNextFileIndex);
    file.filePath = mSource->FilePath(mNextFileIndex);
    entry.worker->SetFileInfo(file);
    entry.worker->SetOpenedFile(TakePreparedFile(file.filePath));
    int const id = entry.worker->Id();
    mBusyWorkers.insert(id, entry);
    emit DecodeImageRequested(id, mSource, mNextFileIndex, 0, mForExport);
    mNextFileIndex += mDecodeForward ? 1 : -1;
    return STATUS_REQUESTED;
}

void ImageSequenceDecoder::PrepareNextFile()
{
    QString const path = mSource->FilePath(mNextFileIndex);
    if (!mPreparedFile || mPreparedFile->path != path)
    {
        mPreparedFile = ImageSequenceDecoderWorker::OpenFile(path, mSource->FileParsed(mNextFileIndex));
    }
}

std::unique_ptr<ImageSequenceDecoderWorker::OpenedFile> ImageSequenceDecoder::TakePreparedFile(QString const& path)
{
    if (!mPreparedFile || mPreparedFile->path != path)
    {
        return nullptr;
    }
    return std::move(mPreparedFile);
}

int ImageSequenceDecoder::OutstandingFileCount() const
{
    return mDecodeForward ? mNextFileIndex - mNextFileToEmit : mNextFileToEmit - mNextFileIndex;
}

int ImageSequenceDecoder::MaximumOutstandingFileCount() const
{
    // Enough to keep every worker busy and to ride out a slow file, and few
    // enough that the frames waiting for it stay under the warning.
    int const workers = UsableWorkerCount();
    return std::max(workers, std::min(2 * workers, PENDING_FRAMES_WARNING - 1));
}

void ImageSequenceDecoder::OnDecodeTaskCompleted(int workerId)
{
    auto const found = mBusyWorkers.find(workerId);
    if (found == mBusyWorkers.end())
    {
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to find image sequence decoder worker on task completed: %1").arg(workerId));
        return;
    }
    WorkerEntry entry = *found;
    mBusyWorkers.erase(found);
    std::shared_ptr<VideoFrame> frame = entry.worker->DecodedVideoFrame();
    SourceFileInfo const file = entry.worker->FileInfo();
    entry.worker->ClearVideoFrame();
    mIdleWorkers.enqueue(entry);

    if (!mSource || entry.source != mSource)
    {
        return;
    }
    mSource->MergeDecodedFileInfo(entry.fileIndex, file);
    if (entry.generation != mGeneration)
    {
        // Asked for before the last seek: its turn has gone.
        return;
    }
    if (frame)
    {
        frame->streamInfo = mSource->VideoStreamInfoAtIndex(entry.fileIndex, 0);
    }
    ProcessVideoFrame(entry.fileIndex, std::move(frame));
}

void ImageSequenceDecoder::ProcessVideoFrame(int fileIndex, std::shared_ptr<VideoFrame> frame)
{
    if (mPendingFrames.size() >= PENDING_FRAMES_WARNING)
    {
        Logger::GetInstance()->Warning("Image temp cache overrun");
    }
    if (fileIndex != mNextFileToEmit)
    {
        auto const after = std::upper_bound(mPendingFrames.begin(), mPendingFrames.end(), fileIndex,
                                            [](int index, auto const& entry) { return index < entry.first; });
        mPendingFrames.insert(after, {fileIndex, std::move(frame)});
        return;
    }
    // A receiver may seek while it takes a frame: the new position then rules.
    unsigned int const generation = mGeneration;
    EmitVideoFrame(fileIndex, std::move(frame));
    int const step = mDecodeForward ? 1 : -1;
    while (generation == mGeneration)
    {
        mNextFileToEmit += step;
        if (mPendingFrames.isEmpty())
        {
            break;
        }
        auto& next = mDecodeForward ? mPendingFrames.first() : mPendingFrames.last();
        if (next.first != mNextFileToEmit)
        {
            break;
        }
        std::shared_ptr<VideoFrame> waiting = std::move(next.second);
        if (mDecodeForward)
        {
            mPendingFrames.removeFirst();
        }
        else
        {
            mPendingFrames.removeLast();
        }
        EmitVideoFrame(mNextFileToEmit, std::move(waiting));
    }
}

void ImageSequenceDecoder::EmitVideoFrame(int fileIndex, std::shared_ptr<VideoFrame> frame)
{
    if (!frame)
    {
        frame = MakePlaceholderFrame();
    }
    else if (frame->streamInfo)
    {
        mPictureFormat.pixelFormat = frame->pixelFormat;
        mPictureFormat.width = std::max(frame->streamInfo->width, 1);
        mPictureFormat.height = std::max(frame->streamInfo->height, 1);
        mPictureFormat.streamInfo = frame->streamInfo;
    }
    frame->packetStartTime = TimeHelpers::FrameToFrameStartTime(fileIndex, mFrameStep);
    frame->packetEndTime = TimeHelpers::FrameToFrameEndTime(fileIndex, mFrameStep);
    emit VideoFrameDecoded(std::move(frame));
}

ImageSequenceDecoder::PictureFormat ImageSequenceDecoder::SequencePictureFormat() const
{
    if (mPictureFormat.streamInfo || !mSource)
    {
        return mPictureFormat;
    }
    // No picture came yet this way: the sequence's size is what its parsed
    // files say, in the format the decoder would deliver them.
    PictureFormat format = mPictureFormat;
    for (int i = 0; i < mSource->FileCount(); ++i)
    {
        VideoStreamInfo* info = mSource->VideoStreamInfoAtIndex(i, 0);
        if (!info || !info->parsed || info->width <= 0 || info->height <= 0)
        {
            continue;
        }
        format.width = info->width;
        format.height = info->height;
        format.streamInfo = info;
        format.pixelFormat = VideoDecoder::OutputFormat(*info, mSettings);
        break;
    }
    return format;
}

std::shared_ptr<VideoFrame> ImageSequenceDecoder::MakePlaceholderFrame() const
{
    PictureFormat const picture = SequencePictureFormat();
    int const width = picture.width;
    int const height = picture.height;
    VideoFramePixelFormat const format = picture.pixelFormat;
    std::vector<uint8_t> planes[3];
    int lineSizes[3] = {};
    if (format == VideoFramePixelFormat::YUV420P)
    {
        int const chromaWidth = (width + 1) / 2;
        int const chromaHeight = (height + 1) / 2;
        planes[0].assign(static_cast<size_t>(width) * height, BLACK_LUMA);
        planes[1].assign(static_cast<size_t>(chromaWidth) * chromaHeight, NEUTRAL_CHROMA);
        planes[2].assign(static_cast<size_t>(chromaWidth) * chromaHeight, NEUTRAL_CHROMA);
        lineSizes[0] = width;
        lineSizes[1] = chromaWidth;
        lineSizes[2] = chromaWidth;
    }
    else
    {
        int const bytesPerPixel = format == VideoFramePixelFormat::RGBA ? 4 : 3;
        planes[0].assign(static_cast<size_t>(width) * height * bytesPerPixel, 0);
        if (format == VideoFramePixelFormat::RGBA)
        {
            for (size_t alpha = 3; alpha < planes[0].size(); alpha += 4)
            {
                planes[0][alpha] = 255;
            }
        }
        lineSizes[0] = width * bytesPerPixel;
    }
    uint8_t const* data[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
    return std::make_shared<VideoFrame>(data, lineSizes, width, height, format, 0, picture.streamInfo, mForExport);
}

void ImageSequenceDecoder::Shutdown()
{
    mPendingFrames.clear();
    mPreparedFile.reset();
    ShutdownWorkers();
}

void ImageSequenceDecoder::ShutdownWorkers()
{
    QDeadlineTimer const deadline(SHUTDOWN_WAIT_MS);
    while (true)
    {
        // Read before taking the reports in: a report that comes later
        // raises it and ends the wait below at once.
        unsigned long long const seen = mWorkerNews->Generation();
        // Files finished and thread ends so far: busy workers become idle,
        // quitting ones are freed.
        CollectFinishedWork();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        while (!mIdleWorkers.isEmpty())
        {
            WorkerEntry const entry = mIdleWorkers.dequeue();
            int const id = entry.worker->Id();
            mQuittingWorkers.insert(id, entry);
            QuitThread(id);
        }
        if (TotalWorkerCount() == 0)
        {
            return;
        }
        if (deadline.hasExpired())
        {
            break;
        }
        mWorkerNews->WaitForPost(seen, static_cast<int>(deadline.remainingTime()));
    }
    // Workers still in a file (or whose end was not seen here): each thread
    // ends once its file is done; wait for it a bounded while and free it.
    QList<WorkerEntry> remaining = mBusyWorkers.values() + mQuittingWorkers.values();
    mBusyWorkers.clear();
    mQuittingWorkers.clear();
    bool complete = true;
    for (WorkerEntry const& entry : remaining)
    {
        entry.thread->quit();
        bool const ended = entry.thread->wait(QDeadlineTimer(SHUTDOWN_WORKER_WAIT_MS));
        disconnect(entry.thread, nullptr, this, nullptr);
        if (!ended)
        {
            // Still stuck in its file (a hung file system): reported below,
            // and freed by a thread of its own once the file is done, as the
            // worker still uses what it holds.
            complete = false;
            disconnect(entry.worker, nullptr, this, nullptr);
            std::thread([thread = entry.thread, worker = entry.worker] {
                thread->wait();
                delete worker;
                delete thread;
            }).detach();
            continue;
        }
        delete entry.worker;
        delete entry.thread;
    }
    // Files finished and thread ends of the workers just freed.
    {
        std::lock_guard<std::mutex> const locker(mFinishedWork->mutex);
        mFinishedWork->workerIds.clear();
    }
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    if (!complete)
    {
        Logger::GetInstance()->Error("Failed to complete ImageSequenceDecoder shutdown");
    }
}

void ImageSequenceDecoder::QuitThread(int workerId)
{
    auto const found = mQuittingWorkers.constFind(workerId);
    if (found == mQuittingWorkers.constEnd())
    {
        Logger::GetInstance()->Warning(QStringLiteral("Worker id not found (quit worker thread): %1").arg(workerId));
        return;
    }
    found->thread->quit();
}

void ImageSequenceDecoder::FinalThreadCleanup()
{
    auto* thread = qobject_cast<QThread*>(sender());
    int const id = thread ? thread->property("id").toInt() : -1;
    auto const found = mQuittingWorkers.find(id);
    if (found == mQuittingWorkers.end() || found->thread != thread)
    {
        Logger::GetInstance()->Warning(
            QStringLiteral("Image sequence decoder worker id not found (on thread finished): %1").arg(id));
        return;
    }
    WorkerEntry const entry = *found;
    mQuittingWorkers.erase(found);
    // finished is emitted just before the thread ends.
    entry.thread->wait();
    ThreadHandOver::Acquire(entry.thread);
    delete entry.worker;
    delete entry.thread;
}

int ImageSequenceDecoder::TotalWorkerCount() const
{
    return static_cast<int>(mBusyWorkers.size() + mIdleWorkers.size() + mQuittingWorkers.size());
}

int ImageSequenceDecoder::ActiveWorkerCount() const
{
    return static_cast<int>(mBusyWorkers.size());
}

int ImageSequenceDecoder::UsableWorkerCount() const
{
    return static_cast<int>(mBusyWorkers.size() + mIdleWorkers.size());
}
