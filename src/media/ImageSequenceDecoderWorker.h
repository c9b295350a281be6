#pragma once

#include "media/DecodeSettings.h"
#include "media/MediaInput.h"
#include "media/StillImageDecodeWatch.h"

#include "model/SourceFileInfo.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <memory>

class Source;
class VideoDecodeWorker;
struct AVCodec;
struct AVCodecContext;
struct AVCodecParameters;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVRational;
struct VideoFrame;

// Decodes whole image files of a sequence for an ImageSequenceDecoder, on a
// thread of its own. Every image format FFmpeg reads is supported; the
// decoder and the scaler are kept from file to file while the files share
// their codec, and each file is decoded once: a file not parsed before gets
// its record from the picture it gave.
//
// The worker never touches the shared Source's records: the decoder hands it
// a copy of the file's record before each request (SetFileInfo), the worker
// fills it in, and hands it back with the picture; the decoder applies it on
// its own thread. Every request ends with TaskCompleted, whatever became of
// the file.
class ImageSequenceDecoderWorker : public QObject
{
    Q_OBJECT

public:
    // settings: its decoder's copy, copied again for this worker.
    ImageSequenceDecoderWorker(int id, DecodeSettings const& settings, QObject* parent = nullptr);
    ~ImageSequenceDecoderWorker() override;

    // A file of the sequence opened for decoding, with the first packet of
    // its picture stream read. errorCode is what the file's record takes
    // when it failed (1 missing, 3 not opened, 4 no picture stream to
    // decode), 0 when it opened.
    struct OpenedFile
    {
        OpenedFile();
        ~OpenedFile();
        OpenedFile(OpenedFile const&) = delete;
        OpenedFile& operator=(OpenedFile const&) = delete;

        QString path;
        // The interrupt of input: its reads end once the open's deadline passed.
        MediaInput opening;
        // Null when the file was read whole into packet: no demuxer is
        // needed for a file whose records are known, its decoder is told by
        // its suffix as the image demuxer tells it.
        AVFormatContext* input = nullptr;
        int streamIndex = -1;
        AVCodec const* codec = nullptr;
        AVPacket* packet;    // the stream's first packet, empty when it has none
        int errorCode = 0;
        int openResult = 0;  // what opening the input returned
    };

    // Opens a file of the sequence. Any thread: the decoder's thread opens
    // the next file while the workers decode, so that they only decode (as
    // ffmpeg's own reading thread does for its decoding threads).
    // With whole, a file whose records are known already: read in one go
    // (when its suffix names a decoder), else opened by its demuxer.
    static std::unique_ptr<OpenedFile> OpenFile(QString const& path, bool whole = false);
    // The largest image file read whole.
    static constexpr qint64 MAXIMUM_WHOLE_FILE_SIZE = 1024LL * 1024 * 1024;

    int Id() const;
    // The file of the last request for this worker.
    int FileIndex() const;

    // Called on the decoder's thread while the worker is idle, before the
    // request: the file's path and, when it was parsed, its records.
    void SetFileInfo(SourceFileInfo const& file);
    // Likewise, the file already opened (see OpenFile); without it, or when
    // it is another file, the worker opens the file itself.
    void SetOpenedFile(std::unique_ptr<OpenedFile> file);
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

Q_SIGNALS:
    void TaskCompleted(int id);

private:
    // Leaves the picture and the file's record for the decoder.
    void DecodeFile(SourceFileInfo& file, bool forExport);
    // Decodes the stream's picture into mPicture; false when none came.
    bool DecodePicture(OpenedFile& file);
    // Sends the packets to the flushed decoder and takes the picture into
    // mPicture; false when none came. damaged: whether the decode may have
    // left pixels unwritten. With clear, the picture is cleared to black first.
    bool DecodePackets(QList<AVPacket*> const& packets, bool clear, bool& damaged);
    // A file read whole: its picture into mPicture; false when none came.
    bool DecodeWholeFile(OpenedFile& file);
    // Converts mPicture into the frame the decoder takes, for the file's record.
    void ConvertPicture(SourceFileInfo& file, bool forExport, AVRational timeBase);
    // Reads the file whole into file.packet; false when it cannot be (the
    // demuxer then opens it).
    static bool ReadWholeFile(OpenedFile& file);
    // A decoder for the stream: the last file's when it suits, else a new one.
    bool PrepareDecoder(AVCodecParameters const* parameters, AVRational timeBase, AVCodec const* codec);
    void CloseDecoder();

    int mId;
    DecodeSettings const mSettings;
    int mFileIndex = -1;
    // Used on the worker's thread alone.
    AVCodecContext* mCodecContext = nullptr;
    AVCodecParameters* mCodecParameters; // what mCodecContext was opened for
    AVFrame* mPicture;
    VideoDecodeWorker* mConverter = nullptr;
    // Lends the decoder its pictures, kept warm from file to file.
    StillImageDecodeWatch mWatch;
    // What a file read whole is decoded as.
    AVCodecParameters* mWholeFileParameters;
    std::shared_ptr<VideoFrame> mDecodedFrame;
    // Guards what crosses threads: the file record in both directions, the
    // file opened by the decoder's thread and the picture.
    mutable QMutex mMutex;
    SourceFileInfo mFileInfo;
    std::unique_ptr<OpenedFile> mOpenedFile;
};
