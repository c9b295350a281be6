#include "media/ImageSequenceDecoderWorker.h"

#include "app/Logger.h"
#include "media/AvParser.h"
#include "media/VideoDecoder.h"
#include "media/VideoFrame.h"
#include "model/Source.h"

#include <QFileInfo>
#include <QMutexLocker>
#include <QUuid>

#include <algorithm>

ImageSequenceDecoderWorker::ImageSequenceDecoderWorker(int id, QObject* parent)
    : QObject(parent)
    , mId(id)
{
}

ImageSequenceDecoderWorker::~ImageSequenceDecoderWorker()
{
    if (mVideoDecoder)
    {
        mVideoDecoder->Shutdown();
        delete mVideoDecoder;
    }
}

int ImageSequenceDecoderWorker::Id() const
{
    return mId;
}

int ImageSequenceDecoderWorker::FileIndex() const
{
    return mFileIndex;
}

void ImageSequenceDecoderWorker::SetFileInfo(SourceFileInfo const& file)
{
    QMutexLocker locker(&mMutex);
    mFileInfo = file;
}

SourceFileInfo ImageSequenceDecoderWorker::FileInfo() const
{
    QMutexLocker locker(&mMutex);
    return mFileInfo;
}

std::shared_ptr<VideoFrame> ImageSequenceDecoderWorker::DecodedVideoFrame() const
{
    QMutexLocker locker(&mMutex);
    return mDecodedFrame;
}

void ImageSequenceDecoderWorker::ClearVideoFrame()
{
    QMutexLocker locker(&mMutex);
    mDecodedFrame.reset();
}

void ImageSequenceDecoderWorker::OnVideoFrameDecoded(std::shared_ptr<VideoFrame> frame)
{
    // The end marker that follows the picture must not replace it.
    if (!frame)
    {
        return;
    }
    QMutexLocker locker(&mMutex);
    mDecodedFrame = std::move(frame);
}

void ImageSequenceDecoderWorker::DecodeImage(int workerId, Source* source, int fileIndex, int infoIndex,
                                             bool forExport)
{
    if (!mVideoDecoder)
    {
        mVideoDecoder = new VideoDecoder(forExport);
        mVideoDecoder->Initialize();
        // The sequence's files decode side by side already.
        mVideoDecoder->SetConversionThreadCount(1);
        connect(mVideoDecoder, &VideoDecoder::VideoFrameDecoded, this, &ImageSequenceDecoderWorker::OnVideoFrameDecoded,
                Qt::DirectConnection);
    }
    if (workerId != mId)
    {
        return;
    }
    mFileIndex = fileIndex;
    ClearVideoFrame();
    SourceFileInfo file = FileInfo();
    if (source)
    {
        DecodeFile(file, infoIndex);
    }
    else
    {
        Logger::GetInstance()->Error("Failed to open image sequence file: Invalid source");
        file.errorCode = 2;
    }
    SetFileInfo(file);
    emit TaskCompleted(mId);
}

void ImageSequenceDecoderWorker::DecodeFile(SourceFileInfo& file, int infoIndex)
{
    // A private one-file source: parsing and opening write its records, never
    // the shared ones other threads read.
    Source image(file.filePath, QString(), QUuid(), nullptr);
    SourceFileInfo* record = image.FileInfoAtIndex(0);
    if (!record)
    {
        file.errorCode = 2;
        return;
    }
    if (file.parsed)
    {
        *record = file;
        image.SetParsed(true);
        // One picture starts at 0: no timing pass needed to find that.
        for (VideoStreamInfo& video : record->videoStreams)
        {
            video.startTimeOffset = std::max(video.startTimeOffset, 0LL);
        }
    }
    else
    {
        AvParser().ParseSequenceImage(&image, 0);
    }

    // A file the parser found undecodable is not opened; one parsed before is
    // tried again (it may have been rendered anew).
    bool const opened = record->parsed && (file.parsed || record->errorCode == 0) &&
                        mVideoDecoder->OpenSource(&image, 0, infoIndex);
    if (opened)
    {
        mVideoDecoder->SetDecodeForward(true);
        mVideoDecoder->Seek(0);
        int status = VideoDecoder::STATUS_DONE;
        while (status == VideoDecoder::STATUS_DONE && !DecodedVideoFrame())
        {
            status = mVideoDecoder->DecodeNext();
        }
        mVideoDecoder->CloseSource();
    }

    QString const path = file.filePath;
    file = *record;
    file.filePath = path;
    QString const name = QFileInfo(path).fileName();
    std::shared_ptr<VideoFrame> const frame = DecodedVideoFrame();
    if (frame)
    {
        // Points into the private source, which ends here.
        frame->streamInfo = nullptr;
        file.errorCode = 0;
    }
    else if (!opened)
    {
        Logger::GetInstance()->Error(QStringLiteral("Failed to open image sequence file: %1").arg(name));
    }
    else
    {
        Logger::GetInstance()->Error(QStringLiteral("Image sequence file gave no picture: %1").arg(name));
    }
    if (!frame && file.errorCode == 0)
    {
        file.errorCode = 2;
    }
}
