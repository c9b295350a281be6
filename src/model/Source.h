#pragma once

#include "model/SourceFileInfo.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <atomic>
#include <mutex>

// One media input: a movie or audio file, or an image sequence of numbered
// files. Created by the clip that owns it; the parser fills its file and stream
// records. Cuts and audio delay are read by decode threads while the user
// interface edits them, so those are atomic. An image sequence's decode
// threads fill in the records of files the parse did not read
// (MergeDecodedFileInfo) while others read them, so those records are guarded.
class Source : public QObject
{
    Q_OBJECT

public:
    Source(QString const& mediaPath, QString const& relativeMediaPath, QUuid const& id, QObject* parent = nullptr);

    // The frame step used whenever a source has no parsed video frame step.
    static double DefaultFrameStep();

    QUuid Id() const;
    QString MediaPath() const;
    QString RelativeMediaPath() const;
    QString MediaName() const;
    bool HasMediaPath(QString const& path) const;
    void UpdateRelativeMediaPath();

    int FileCount() const;
    bool FileExists(int fileIndex) const;
    QString FilePath(int fileIndex) const;
    QString FileName(int fileIndex) const;
    QList<QString> FilePaths() const;
    bool FileParsed(int fileIndex) const;
    bool HasFilePath(QString const& path) const;

    long long Duration() const;
    double DurationInSeconds() const;
    QString DurationString() const;
    int FrameCount() const;
    double FrameStep() const;
    double FrameRate() const;
    double ImageSequenceFrameRate() const;

    long long CutIn() const;
    long long CutOut() const;
    int CutInFrame() const;
    int CutOutFrame() const;
    bool IsFullRange() const;
    void SetCutInFrame(int frame);
    void SetCutOutFrame(int frame);

    void SetAudioDelay(long long delay);
    long long AudioDelay() const;

    // The file whose records describe the whole source: file 0, or for an
    // image sequence the first file whose picture stream was read (a missing
    // or unreadable first file leaves that to the next); 0 while none was.
    int DescribingFileIndex() const;
    // The describing file's streams.
    int VideoStreamCount() const;
    int AudioStreamCount() const;
    int FirstVideoStreamIndex() const;
    // Null for an index that does not exist. The pointer stays valid until the
    // file list or its stream lists change (parsing, Reset).
    AudioStreamInfo* AudioStreamInfoAtIndex(int fileIndex, int streamIndex);
    VideoStreamInfo* VideoStreamInfoAtIndex(int fileIndex, int streamIndex);

    bool IsParsed() const;
    bool IsImageSequence() const;
    bool IsLinearColorSpace() const;

    bool HasErrors() const;
    int ErrorCode() const;
    int MissingFileCount() const;
    QString ErrorString() const;
    void Reset();
    QString ToString() const;

    // A copy of a file's record as it stands; an empty record for an index
    // that does not exist.
    SourceFileInfo FileInfoCopy(int fileIndex) const;
    // What decoding a file found out about it: a record the parse left unread
    // takes its streams (once; they never change after), and the file's error
    // is updated. The source then carries its first failing file's error;
    // Updated is emitted when that changed. Any thread.
    void MergeDecodedFileInfo(int fileIndex, SourceFileInfo const& file);

    // Written by the parser on its own thread while nothing decodes the source
    // and the main thread waits.
    SourceFileInfo* FileInfoAtIndex(int fileIndex);
    void SetDuration(long long duration);
    long long ParsedContainerDuration() const;
    void SetParsedContainerDuration(long long duration);
    void SetParsed(bool parsed);
    void SetErrorCode(int errorCode);

Q_SIGNALS:
    void Parsed();
    void Updated();
    void CutInOutChanged();

private:
    // The first file's first video record when it carries a usable frame step
    // (a movie, not an image sequence); null otherwise.
    VideoStreamInfo const* TimingVideoStream() const;
    SourceFileInfo const* DescribingFile() const; // with mFileRecordMutex held; null without files
    bool DescribingFileHasVideo() const;

    long long mDuration = 0;
    QUuid mId;
    QString mMediaPath;
    QString mRelativeMediaPath;
    long long mParsedContainerDuration = 0;
    std::atomic<long long> mCutIn {0};
    std::atomic<long long> mCutOut {-1};
    std::atomic<int> mCutInFrame {0};
    std::atomic<int> mCutOutFrame {-1};
    bool mIsImageSequence = false;
    double mImageSequenceFrameRate;
    bool mIsLinearColorSpace = false;
    std::atomic<long long> mAudioDelay {0};
    QList<SourceFileInfo> mFiles;
    bool mParsed = false;
    std::atomic<int> mErrorCode {0};
    // Guards the file records' parsed flag, error code and stream lists while
    // the source is decoded (see MergeDecodedFileInfo). Recursive: the
    // readers of the first file's record call one another.
    mutable std::recursive_mutex mFileRecordMutex;
    int mMissingFileCount = 0;
};
