#include "model/Source.h"

#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "app/TimeHelpers.h"
#include "media/AvHelpers.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace
{
// The stream lists of a record own their elements alone: frames keep pointers
// to them (VideoStreamInfoAtIndex), and a list shared with a copy would move
// to new memory at its next non-const access, leaving those pointers behind.
template <typename T>
QList<T> Unshared(QList<T> const& list)
{
    return QList<T>(list.cbegin(), list.cend());
}

// Whether a media path (a file, or an image sequence's pattern) names at
// least one file on disk; a path that does not parse names none.
bool AnyFileExists(QString const& mediaPath)
{
    if (QFileInfo::exists(mediaPath))
    {
        return true;
    }
    if (!mediaPath.trimmed().contains(QRegularExpression(QStringLiteral("\\s"))))
    {
        return false;
    }
    QList<QString> paths;
    return FileHelpers::ParseMediaPath(mediaPath, paths) &&
           std::any_of(paths.cbegin(), paths.cend(), [](QString const& path) { return QFileInfo::exists(path); });
}
} // namespace

Source::Source(QString const& mediaPath, QString const& relativeMediaPath, QUuid const& id, QObject* parent)
    : QObject(parent)
    , mId(id.isNull() ? QUuid::createUuid() : id)
    , mMediaPath(mediaPath)
    , mRelativeMediaPath(relativeMediaPath)
    , mImageSequenceFrameRate(Settings::imageSequenceFrameRate)
{
    // The path relative to the current source root wins over the stored
    // absolute one when it leads to the media, so a moved project finds its
    // media again; one that leads nowhere (a project copied to a folder at
    // another depth) leaves the absolute path, which may still hold.
    QString const absolute = FileHelpers::AbsoluteSourcePath(mRelativeMediaPath);
    if (!absolute.isEmpty() && AnyFileExists(absolute))
    {
        mMediaPath = absolute;
    }
    else if (mRelativeMediaPath.isEmpty() || AnyFileExists(mMediaPath))
    {
        mRelativeMediaPath = FileHelpers::RelativeSourcePath(mMediaPath);
    }
    // Otherwise neither path leads to the media: both stay as given, so a
    // save writes them back as they were read.

    QList<QString> paths;
    if (!FileHelpers::ParseMediaPath(mMediaPath, paths) || paths.isEmpty())
    {
        mErrorCode = 1;
        Logger::GetInstance()->Error(QStringLiteral("Failed to create source: Invalid file path"));
        return;
    }

    mIsImageSequence = FileHelpers::IsImageSequence(paths.first());
    if (mIsImageSequence)
    {
        mIsLinearColorSpace = FileHelpers::IsLinearColorSpace(paths.first());
    }

    for (QString const& path : paths)
    {
        SourceFileInfo info;
        info.filePath = path;
        if (!QFileInfo::exists(path))
        {
            info.errorCode = 1;
            ++mMissingFileCount;
        }
        mFiles.append(info);
    }
    if (mMissingFileCount == mFiles.size())
    {
        mErrorCode = 1;
    }
}

double Source::DefaultFrameStep()
{
    return AvHelpers::FrameRateToFrameStep(Settings::imageSequenceFrameRate);
}

QUuid Source::Id() const
{
    return mId;
}

QString Source::MediaPath() const
{
    return QFileInfo(mMediaPath).absoluteFilePath();
}

QString Source::RelativeMediaPath() const
{
    return mRelativeMediaPath;
}

QString Source::MediaName() const
{
    return QFileInfo(mMediaPath).fileName();
}

bool Source::HasMediaPath(QString const& path) const
{
    return QFileInfo(path).absoluteFilePath() == MediaPath();
}

void Source::UpdateRelativeMediaPath()
{
    mRelativeMediaPath = FileHelpers::RelativeSourcePath(mMediaPath);
}

int Source::FileCount() const
{
    return mFiles.size();
}

bool Source::FileExists(int fileIndex) const
{
    if (fileIndex < 0 || fileIndex >= mFiles.size())
    {
        return false;
    }
    return QFileInfo::exists(mFiles.at(fileIndex).filePath);
}

QString Source::FilePath(int fileIndex) const
{
    if (fileIndex < 0 || fileIndex >= mFiles.size())
    {
        return QString();
    }
    return QFileInfo(mFiles.at(fileIndex).filePath).absoluteFilePath();
}

QString Source::FileName(int fileIndex) const
{
    if (fileIndex < 0 || fileIndex >= mFiles.size())
    {
        return QString();
    }
    return QFileInfo(mFiles.at(fileIndex).filePath).fileName();
}

QList<QString> Source::FilePaths() const
{
    QList<QString> paths;
    paths.reserve(mFiles.size());
    for (int i = 0; i < mFiles.size(); ++i)
    {
        paths.append(FilePath(i));
    }
    return paths;
}

bool Source::FileParsed(int fileIndex) const
{
    std::lock_guard<std::recursive_mutex> const locker(mFileRecordMutex);
    if (fileIndex < 0 || fileIndex >= mFiles.size())
    {
        return false;
    }
    return mFiles.at(fileIndex).parsed;
}

bool Source::HasFilePath(QString const& path) const
{
    QFileInfo const wanted(path);
    return std::any_of(mFiles.cbegin(), mFiles.cend(),
                       [&wanted](SourceFileInfo const& file) { return QFileInfo(file.filePath) == wanted; });
}

long long Source::Duration() const
{
    if (mIsImageSequence)
    {
        if (!(mImageSequenceFrameRate > 0.0))
        {
            return 0;
        }
        auto const wholeFrameDuration = static_cast<long long>(1e6 / mImageSequenceFrameRate);
        return static_cast<long long>(mFiles.size()) * wholeFrameDuration;
    }
    return mDuration;
}

double Source::DurationInSeconds() const
{
    return static_cast<double>(Duration()) / 1e6;
}

QString Source::DurationString() const
{
    long long duration = Duration();
    if (duration < 9223372036854770808LL)
    {
        duration += 5000; // round to the nearest hundredth
    }
    long long const seconds = duration / 1000000;
    long long const hundredths = (duration - seconds * 1000000) / 10000;
    QChar const fill(u'0');
    return QStringLiteral("%1:%2:%3.%4")
        .arg(seconds / 3600, 2, 10, fill)
        .arg((seconds / 60) % 60, 2, 10, fill)
        .arg(seconds % 60, 2, 10, fill)
        .arg(hundredths, 2, 10, fill);
}

int Source::DescribingFileIndex() const
{
    std::lock_guard<std::recursive_mutex> const locker(mFileRecordMutex);
    if (mIsImageSequence)
    {
        for (int i = 0; i < mFiles.size(); ++i)
        {
            if (!mFiles.at(i).videoStreams.isEmpty())
            {
                return i;
            }
        }
    }
    return 0;
}

SourceFileInfo const* Source::DescribingFile() const
{
    return mFiles.isEmpty() ? nullptr : &mFiles.at(DescribingFileIndex());
}

bool Source::DescribingFileHasVideo() const
{
    std::lock_guard<std::recursive_mutex> const locker(mFileRecordMutex);
    SourceFileInfo const* file = DescribingFile();
    return file && !file->videoStreams.isEmpty();
}

VideoStreamInfo const* Source::TimingVideoStream() const
{
    std::lock_guard<std::recursive_mutex> const locker(mFileRecordMutex);
    if (mIsImageSequence || !DescribingFileHasVideo())
    {
        return nullptr;
    }
    VideoStreamInfo const& stream = mFiles.first().videoStreams.first();
    // An unparsed record has step 0, which would put every frame at time 0.
    return stream.frameStep > 0.0 && stream.frameRate > 0.0 ? &stream : nullptr;
}

int Source::FrameCount() const
{
    std::lock_guard<std::recursive_mutex> const locker(mFileRecordMutex);
    if (mFiles.isEmpty())
    {
        return 0;
    }
    if (DescribingFileHasVideo())
    {
        return mIsImageSequence ? mFiles.size() : mFiles.first().videoStreams.first().frameCount;
    }
    if (!mIsImageSequence && !mFiles.first().audioStreams.isEmpty())
    {
        // Audio alone is counted in frames of the image-sequence rate.
        return static_cast<int>(static_cast<double>(mDuration) / DefaultFrameStep());
    }
    return 0;
}

double Source::FrameStep() const
{
    VideoStreamInfo const* stream = TimingVideoStream();
    return stream ? stream->frameStep : DefaultFrameStep();
}

double Source::FrameRate() const
{
    VideoStreamInfo const* stream = TimingVideoStream();
    return stream ? stream->frameRate : Settings::imageSequenceFrameRate;
}

double Source::ImageSequenceFrameRate() const
{
    return mImageSequenceFrameRate;
}

long long Source::CutIn() const
{
    return mCutIn;
}

long long Source::CutOut() const
{
    long long const cutOut = mCutOut;
    if (cutOut >= 0)
    {
        return cutOut;
    }
    return TimeHelpers::FrameToFrameEndTime(FrameCount() - 1, FrameStep());
}

int Source::CutInFrame() const
{
    return mCutInFrame;
}

int Source::CutOutFrame() const
{
    return mCutOut < 0 ? FrameCount() - 1 : mCutOutFrame.load();
}

bool Source::IsFullRange() const
{
    return mCutInFrame == 0 && CutOutFrame() == FrameCount() - 1;
}

void Source::SetCutInFrame(int frame)
{
    int value = std::max(frame, 0);
    int const cutOutFrame = mCutOutFrame;
    if (cutOutFrame >= 0 && cutOutFrame < value)
    {
        value = cutOutFrame;
    }
    // A stored cut in may come from a longer render of the same file.
    int const frameCount = FrameCount();
    if (frameCount > 0)
    {
        value = std::min(value, frameCount - 1);
    }
    if (value == mCutInFrame)
    {
        return;
    }
    mCutInFrame = value;
    mCutIn = TimeHelpers::FrameToFrameStartTime(value, FrameStep());
    emit CutInOutChanged();
}

void Source::SetCutOutFrame(int frame)
{
    int const value = (frame < 0 || frame >= FrameCount() - 1) ? -1 : std::max(frame, mCutInFrame.load());
    if (value == mCutOutFrame)
    {
        return;
    }
    mCutOutFrame = value;
    mCutOut = value >= 0 ? TimeHelpers::FrameToFrameEndTime(value, FrameStep()) : -1;
    emit CutInOutChanged();
}

void Source::SetAudioDelay(long long delay)
{
    mAudioDelay = delay;
}

long long Source::AudioDelay() const
{
    return mAudioDelay;
}

int Source::VideoStreamCount() const
{
    std::lock_guard<std::recursive_mutex> const locker(mFileRecordMutex);
    SourceFileInfo const* file = DescribingFile();
    return file ? file->videoStreams.size() : 0;
}

int Source::AudioStreamCount() const
{
    std::lock_guard<std::recursive_mutex> const locker(mFileRecordMutex);
    return (mIsImageSequence || mFiles.isEmpty()) ? 0 : mFiles.first().audioStreams.size();
}

int Source::FirstVideoStreamIndex() const
{
    std::lock_guard<std::recursive_mutex> const locker(mFileRecordMutex);
    return DescribingFileHasVideo() ? DescribingFile()->videoStreams.first().streamIndex : -1;
}

AudioStreamInfo* Source::AudioStreamInfoAtIndex(int fileIndex, int streamIndex)
{
    std::lock_guard<std::recursive_mutex> const locker(mFileRecordMutex);
    SourceFileInfo* file = FileInfoAtIndex(fileIndex);
    if (!file || streamIndex < 0 || streamIndex >= file->audioStreams.size())
    {
        return nullptr;
    }
    return &file->audioStreams[streamIndex];
}

VideoStreamInfo* Source::VideoStreamInfoAtIndex(int fileIndex, int streamIndex)
{
    std::lock_guard<std::recursive_mutex> const locker(mFileRecordMutex);
    SourceFileInfo* file = FileInfoAtIndex(fileIndex);
    if (!file || streamIndex < 0 || streamIndex >= file->videoStreams.size())
    {
        return nullptr;
    }
    return &file->videoStreams[streamIndex];
}

bool Source::IsParsed() const
{
    return mParsed;
}

bool Source::IsImageSequence() const
{
    return mIsImageSequence;
}

bool Source::IsLinearColorSpace() const
{
    return mIsLinearColorSpace;
}

bool Source::HasErrors() const
{
    return mErrorCode != 0;
}

int Source::ErrorCode() const
{
    return mErrorCode;
}

int Source::MissingFileCount() const
{
    return mMissingFileCount;
}

QString Source::ErrorString() const
{
    switch (mErrorCode)
    {
    case 1:
        return tr("File not found");
    case 2:
        return tr("Media parsing failed");
    case 3:
        return tr("Failed to open input");
    case 4:
        return tr("Failed to find stream info");
    default:
        return QString();
    }
}

void Source::Reset()
{
    mFiles.clear();
    mRelativeMediaPath.clear();
    mDuration = 0;
    mParsedContainerDuration = 0;
    mIsImageSequence = false;
    mParsed = false;
    mErrorCode = 0;
    mMissingFileCount = 0;
}

QString Source::ToString() const
{
    return QString();
}

SourceFileInfo Source::FileInfoCopy(int fileIndex) const
{
    std::lock_guard<std::recursive_mutex> const locker(mFileRecordMutex);
    if (fileIndex < 0 || fileIndex >= mFiles.size())
    {
        return SourceFileInfo();
    }
    SourceFileInfo const& record = mFiles.at(fileIndex);
    SourceFileInfo copy = record;
    copy.audioStreams = Unshared(record.audioStreams);
    copy.videoStreams = Unshared(record.videoStreams);
    return copy;
}

void Source::MergeDecodedFileInfo(int fileIndex, SourceFileInfo const& file)
{
    std::unique_lock<std::recursive_mutex> locker(mFileRecordMutex);
    if (fileIndex < 0 || fileIndex >= mFiles.size())
    {
        return;
    }
    SourceFileInfo& record = mFiles[fileIndex];
    if (!record.parsed && file.parsed)
    {
        record.parsed = true;
        record.metadata = file.metadata;
        record.audioStreams = Unshared(file.audioStreams);
        record.videoStreams = Unshared(file.videoStreams);
    }
    int const previousError = record.errorCode;
    record.errorCode = file.errorCode;
    bool const mayChange = (file.errorCode != 0 && mErrorCode == 0) || (file.errorCode == 0 && previousError != 0);
    if (!mayChange)
    {
        return;
    }
    int error = 0;
    for (int i = 0; i < mFiles.size() && error == 0; ++i)
    {
        error = mFiles.at(i).errorCode;
    }
    if (error == mErrorCode.exchange(error))
    {
        return;
    }
    locker.unlock();
    emit Updated();
}

SourceFileInfo* Source::FileInfoAtIndex(int fileIndex)
{
    if (fileIndex < 0 || fileIndex >= mFiles.size())
    {
        return nullptr;
    }
    return &mFiles[fileIndex];
}

void Source::SetDuration(long long duration)
{
    mDuration = duration;
}

long long Source::ParsedContainerDuration() const
{
    return mParsedContainerDuration;
}

void Source::SetParsedContainerDuration(long long duration)
{
    mParsedContainerDuration = duration;
}

void Source::SetParsed(bool parsed)
{
    mParsed = parsed;
}

void Source::SetErrorCode(int errorCode)
{
    mErrorCode = errorCode;
}
