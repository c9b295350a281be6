#pragma once

#include "model/SourceFileInfo.h"

#include <QMutex>
#include <QObject>

#include <memory>

class Source;
class VideoDecoder;
struct VideoFrame;

// Decodes whole image files of a sequence for an ImageSequenceDecoder, on a
// thread of its own, with a VideoDecoder of its own (so every image format
// FFmpeg reads is supported and the scaler is kept from file to file).
//
// The worker never touches the shared Source's records: the decoder hands it
// a copy of the file's record before each request (SetFileInfo), the worker
// parses and opens the file through a private one-file Source, and hands the
// record back with the picture; the decoder applies it on its own thread.
// Every request ends with TaskCompleted, whatever became of the file.
class ImageSequenceDecoderWorker : public QObject
{
    Q_OBJECT

public:
    explicit ImageSequenceDecoderWorker(int id, QObject* parent = nullptr);
    ~ImageSequenceDecoderWorker() override;

    int Id() const;
    // The file of the last request for this worker.
    int FileIndex() const;

    // Called on the decoder's thread while the worker is idle, before the
    // request: the file's path and, when it was parsed, its records.
    void SetFileInfo(SourceFileInfo const& file);
    // After TaskCompleted: the file's record as the task left it. Its
    // errorCode is 0 when a picture came, else why none did (2 when the file
    // opened but gave no picture); its streams are the parser's when it
    // parsed the file.
    SourceFileInfo FileInfo() const;
    // After TaskCompleted: the picture, null when the file gave none. Its
    // stream record is not set (the worker's records are private).
    std::shared_ptr<VideoFrame> DecodedVideoFrame() const;
    void ClearVideoFrame();

public Q_SLOTS:
    void DecodeImage(int workerId, Source* source, int fileIndex, int infoIndex, bool forExport);
    void OnVideoFrameDecoded(std::shared_ptr<VideoFrame> frame);

Q_SIGNALS:
    void TaskCompleted(int id);

private:
    // Leaves the picture and the file's record for the decoder.
    void DecodeFile(SourceFileInfo& file, int infoIndex);

    int mId;
    int mFileIndex = -1;
    VideoDecoder* mVideoDecoder = nullptr;
    std::shared_ptr<VideoFrame> mDecodedFrame;
    // Guards what crosses threads: the file record in both directions and
    // the picture.
    mutable QMutex mMutex;
    SourceFileInfo mFileInfo;
};
