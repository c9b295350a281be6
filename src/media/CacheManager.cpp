#include "media/CacheManager.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AudioFrame.h"
#include "media/AvHelpers.h"
#include "media/VideoFrame.h"

#include <QLocale>
#include <QMutexLocker>

#include <algorithm>

namespace
{
long long const BYTES_PER_MEGABYTE = 1000000; // budgets are decimal
int const DEFERRED_RELEASE_BATCH = 5;

QString TimeText(long long time)
{
    return QStringLiteral("%1 (%2)")
        .arg(static_cast<double>(time) / 1e6, 0, 'g', QLocale::FloatingPointShortest)
        .arg(time);
}

QString MegabyteText(long long bytes)
{
    return QString::number(static_cast<double>(bytes) / 1e6, 'g', QLocale::FloatingPointShortest);
}

template <typename Frame>
void ReleaseFront(QList<std::shared_ptr<Frame>>& frames)
{
    frames.remove(0, std::min<qsizetype>(DEFERRED_RELEASE_BATCH, frames.size()));
}

// The share of a side's bytes that lies ahead of time: frames ending at or
// before it have been played.
template <typename Frame, typename EndOf, typename SizeOf>
double ShareAhead(QList<std::shared_ptr<Frame>> const& frames, long long totalSize, long long time, EndOf endOf,
                  SizeOf sizeOf)
{
    if (totalSize <= 0)
    {
        return 1.0;
    }
    long long played = 0;
    for (auto const& frame : frames)
    {
        if (endOf(*frame) > time)
        {
            break;
        }
        played += sizeOf(*frame);
    }
    return 1.0 - static_cast<double>(played) / static_cast<double>(totalSize);
}

// Index in [low, high] of the frame whose [start, end] holds time, or -1.
template <typename Frame, typename StartOf, typename EndOf>
int CoveringIndex(QList<std::shared_ptr<Frame>> const& frames, long long time, int low, int high, StartOf startOf,
                  EndOf endOf)
{
    while (low <= high)
    {
        int const middle = low + (high - low) / 2;
        Frame const& frame = *frames.at(middle);
        if (time < startOf(frame))
        {
            high = middle - 1;
        }
        else if (time > endOf(frame))
        {
            low = middle + 1;
        }
        else
        {
            return middle;
        }
    }
    return -1;
}

enum class Eviction
{
    None,
    Front,
    Back
};

// While a loop span is set, the frames wholly outside it go first: those
// before it from the front, those after it from the back.
Eviction OutsideLoopSpan(long long firstEnd, long long lastStart, long long spanStart, long long spanEnd)
{
    if (spanEnd < spanStart)
    {
        return Eviction::None;
    }
    if (firstEnd < spanStart)
    {
        return Eviction::Front;
    }
    if (lastStart > spanEnd)
    {
        return Eviction::Back;
    }
    return Eviction::None;
}

// Which end of a full side to drop: the front once the playhead has left the
// window or more than the target share lies behind it going forward, the back
// when too much lies ahead going backward.
Eviction ChooseEviction(long long lastStart, long long time, bool forward, double ahead, double target)
{
    if (lastStart < time)
    {
        return Eviction::Front;
    }
    if (!forward)
    {
        return ahead > target ? Eviction::Back : Eviction::None;
    }
    return 1.0 - ahead > 1.0 - target ? Eviction::Front : Eviction::None;
}
} // namespace

CacheManager::CacheManager(QObject* parent)
    : QObject(parent)
{
    SetCacheSize(Settings::cacheSize);
}

CacheManager::~CacheManager()
{
    ClearAudio(true);
    ClearVideo(true);
}

void CacheManager::SetCacheSize(int megabytes)
{
    // 64-bit: 32768 MB in bytes does not fit in 32 bits.
    long long const video = static_cast<long long>(std::max(megabytes, Settings::MINIMUM_TIMELINE_CACHE_SIZE))
                            * BYTES_PER_MEGABYTE;
    mVideoMaximumSize = video;
    // Audio gets 1.2 % of the budget on top of it.
    mAudioMaximumSize = static_cast<long long>(static_cast<double>(video) * 0.012);
}

int CacheManager::CacheSize() const
{
    return static_cast<int>(mVideoMaximumSize / BYTES_PER_MEGABYTE);
}

long long CacheManager::AudioMaximumSize() const
{
    return mAudioMaximumSize;
}

long long CacheManager::VideoMaximumSize() const
{
    return mVideoMaximumSize;
}

long long CacheManager::AudioSize() const
{
    QMutexLocker locker(&mAudioMutex);
    return mAudioSize;
}

long long CacheManager::VideoSize() const
{
    QMutexLocker locker(&mVideoMutex);
    return mVideoSize + mVideoLeadSize;
}

long long CacheManager::VideoSizeBefore(long long time) const
{
    QMutexLocker locker(&mVideoMutex);
    return static_cast<long long>((1.0 - VideoForwardWeightingLocked(time)) * static_cast<double>(mVideoSize));
}

long long CacheManager::VideoSizeAfter(long long time) const
{
    QMutexLocker locker(&mVideoMutex);
    long long bytes = 0;
    for (auto frame = mVideoFrames.crbegin(); frame != mVideoFrames.crend() && (*frame)->adjustedStartTime > time;
         ++frame)
    {
        bytes += (*frame)->byteSize;
    }
    return bytes;
}

int CacheManager::AudioFrameCount() const
{
    QMutexLocker locker(&mAudioMutex);
    return mAudioFrames.size();
}

int CacheManager::VideoFrameCount() const
{
    QMutexLocker locker(&mVideoMutex);
    return mVideoFrames.size();
}

long long CacheManager::AudioStartTime() const
{
    QMutexLocker locker(&mAudioMutex);
    return mAudioStartTime;
}

long long CacheManager::AudioEndTime() const
{
    QMutexLocker locker(&mAudioMutex);
    return mAudioEndTime;
}

long long CacheManager::VideoPacketStartTime() const
{
    QMutexLocker locker(&mVideoMutex);
    return mVideoPacketStartTime;
}

long long CacheManager::VideoPacketEndTime() const
{
    QMutexLocker locker(&mVideoMutex);
    return mVideoPacketEndTime;
}

long long CacheManager::VideoFrameAdjustedStartTime() const
{
    QMutexLocker locker(&mVideoMutex);
    return mVideoAdjustedStartTime;
}

long long CacheManager::VideoFrameAdjustedEndTime() const
{
    QMutexLocker locker(&mVideoMutex);
    return mVideoAdjustedEndTime;
}

bool CacheManager::CanInsertAudioFrame() const
{
    QMutexLocker locker(&mAudioMutex);
    return mAudioSize < mAudioMaximumSize;
}

bool CacheManager::CanInsertVideoFrame() const
{
    QMutexLocker locker(&mVideoMutex);
    // Frames of a cleared cache count until they are let go.
    return mVideoSize + mVideoLeadSize + mDeferredVideoSize + mVideoReservedSize < mVideoMaximumSize;
}

void CacheManager::SetVideoReservedSize(long long bytes)
{
    mVideoReservedSize = std::max(bytes, 0LL);
}

void CacheManager::SetLoopSpan(long long start, long long end)
{
    mLoopSpanStart = start;
    mLoopSpanEnd = end;
}

bool CacheManager::HasLoopSpan() const
{
    return mLoopSpanEnd >= mLoopSpanStart;
}

long long CacheManager::LoopSpanStart() const
{
    return mLoopSpanStart;
}

long long CacheManager::LoopSpanEnd() const
{
    return mLoopSpanEnd;
}

bool CacheManager::AudioReachesLoopEnd() const
{
    if (!HasLoopSpan())
    {
        return false;
    }
    QMutexLocker locker(&mAudioMutex);
    return !mAudioFrames.isEmpty() && mAudioEndTime >= mLoopSpanEnd;
}

bool CacheManager::VideoReachesLoopEnd() const
{
    if (!HasLoopSpan())
    {
        return false;
    }
    QMutexLocker locker(&mVideoMutex);
    return !mVideoFrames.isEmpty() && mVideoAdjustedEndTime >= mLoopSpanEnd;
}

bool CacheManager::AudioCoversTime(long long time) const
{
    QMutexLocker locker(&mAudioMutex);
    return !mAudioFrames.isEmpty() && mAudioStartTime <= time && time <= mAudioEndTime;
}

bool CacheManager::VideoCoversTime(long long time) const
{
    QMutexLocker locker(&mVideoMutex);
    return (!mVideoFrames.isEmpty() && mVideoAdjustedStartTime <= time && time <= mVideoAdjustedEndTime) ||
           VideoLeadIndexLocked(time) >= 0;
}

// ---- Audio insertion and eviction ----

void CacheManager::InsertAudioFrame(std::shared_ptr<AudioFrame> frame)
{
    QMutexLocker locker(&mAudioMutex);
    InsertAudioFrameLocked(std::move(frame));
}

void CacheManager::InsertAudioFrameLocked(std::shared_ptr<AudioFrame> frame)
{
    if (!frame)
    {
        return;
    }
    if (mAudioFrames.isEmpty())
    {
        AudioPushBack(std::move(frame));
    }
    else if (frame->startTime >= mAudioStartTime)
    {
        // No duplicates and no reordering inside the window.
        if (frame->startTime > mAudioFrames.last()->startTime)
        {
            AudioPushBack(std::move(frame));
        }
    }
    else
    {
        AudioPushFront(std::move(frame));
    }
}

void CacheManager::AudioPushBack(std::shared_ptr<AudioFrame> frame)
{
    if (mAudioFrames.isEmpty())
    {
        mAudioStartTime = frame->startTime;
    }
    else
    {
        mAudioFrames.last()->endTime = frame->startTime - 1;
    }
    mAudioEndTime = frame->endTime;
    mAudioSize += frame->data.size();
    mAudioFrames.append(std::move(frame));
}

void CacheManager::AudioPushFront(std::shared_ptr<AudioFrame> frame)
{
    if (mAudioFrames.isEmpty())
    {
        mAudioEndTime = frame->endTime;
    }
    mAudioStartTime = frame->startTime;
    mAudioSize += frame->data.size();
    mAudioFrames.prepend(std::move(frame));
    if (mAudioOutputIndex >= 0)
    {
        ++mAudioOutputIndex; // keep pointing at the same block
    }
}

void CacheManager::AudioPopFront()
{
    mAudioSize -= mAudioFrames.takeFirst()->data.size();
    if (mAudioOutputIndex >= 0)
    {
        --mAudioOutputIndex; // -1 when the output block itself went
    }
    if (mAudioFrames.isEmpty())
    {
        ResetAudioRange();
        return;
    }
    mAudioStartTime = mAudioFrames.first()->startTime;
}

void CacheManager::AudioPopBack()
{
    mAudioSize -= mAudioFrames.takeLast()->data.size();
    if (mAudioOutputIndex >= mAudioFrames.size())
    {
        mAudioOutputIndex = -1; // the output block itself went
    }
    if (mAudioFrames.isEmpty())
    {
        ResetAudioRange();
        return;
    }
    mAudioEndTime = mAudioFrames.last()->endTime;
}

void CacheManager::ResetAudioRange()
{
    mAudioStartTime = 0;
    mAudioEndTime = 0;
    mAudioSize = 0;
}

double CacheManager::AudioForwardWeighting(long long time) const
{
    QMutexLocker locker(&mAudioMutex);
    return AudioForwardWeightingLocked(time);
}

double CacheManager::AudioForwardWeightingLocked(long long time) const
{
    return ShareAhead(mAudioFrames, mAudioSize, time, [](AudioFrame const& f) { return f.endTime.load(); },
                      [](AudioFrame const& f) { return static_cast<long long>(f.data.size()); });
}

void CacheManager::UpdateAudio(long long time, bool forward, double target)
{
    QMutexLocker locker(&mAudioMutex);
    if (mAudioSize < mAudioMaximumSize || mAudioFrames.isEmpty())
    {
        return;
    }
    Eviction eviction = OutsideLoopSpan(mAudioFrames.first()->endTime, mAudioFrames.last()->startTime,
                                        mLoopSpanStart, mLoopSpanEnd);
    if (eviction == Eviction::None)
    {
        eviction = ChooseEviction(mAudioFrames.last()->startTime, time, forward, AudioForwardWeightingLocked(time),
                                  target);
    }
    switch (eviction)
    {
    case Eviction::Front:
        AudioPopFront();
        break;
    case Eviction::Back:
        AudioPopBack();
        break;
    case Eviction::None:
        break;
    }
}

// ---- Video insertion and eviction ----

void CacheManager::InsertVideoFrame(std::shared_ptr<VideoFrame> frame)
{
    if (!frame)
    {
        return;
    }
    QMutexLocker locker(&mVideoMutex);
    if (mVideoFrames.isEmpty())
    {
        VideoPushBack(std::move(frame));
    }
    else if (frame->packetStartTime >= mVideoPacketStartTime)
    {
        // No duplicates and no reordering inside the window.
        if (frame->packetStartTime > mVideoFrames.last()->packetStartTime)
        {
            VideoPushBack(std::move(frame));
        }
    }
    else
    {
        VideoPushFront(std::move(frame));
    }
}

void CacheManager::InsertVideoLeadFrame(std::shared_ptr<VideoFrame> frame)
{
    if (!frame)
    {
        return;
    }
    QMutexLocker locker(&mVideoMutex);
    if (mVideoFrames.isEmpty())
    {
        VideoPushBack(std::move(frame));
        return;
    }
    if (frame->adjustedStartTime >= mVideoAdjustedStartTime)
    {
        return; // the window has it
    }
    // A later picture placed on the frame the last one starts at replaces
    // it (see VideoPushBack); the one before ends where this one starts.
    while (!mVideoLeadFrames.isEmpty() && mVideoLeadFrames.last()->adjustedStartTime >= frame->adjustedStartTime)
    {
        mVideoLeadSize -= mVideoLeadFrames.takeLast()->byteSize;
    }
    if (!mVideoLeadFrames.isEmpty())
    {
        VideoFrame& last = *mVideoLeadFrames.last();
        last.packetEndTime = frame->packetStartTime - 1;
        last.adjustedEndTime = frame->adjustedStartTime - 1;
    }
    mVideoLeadSize += frame->byteSize;
    bool const reaches = frame->adjustedEndTime + 1 >= mVideoAdjustedStartTime;
    mVideoLeadFrames.append(std::move(frame));
    if (reaches)
    {
        JoinVideoLeadLocked();
    }
}

void CacheManager::JoinVideoLead()
{
    QMutexLocker locker(&mVideoMutex);
    JoinVideoLeadLocked();
}

void CacheManager::JoinVideoLeadLocked()
{
    if (mVideoLeadFrames.isEmpty())
    {
        return;
    }
    if (!mVideoFrames.isEmpty())
    {
        VideoFrame& last = *mVideoLeadFrames.last();
        last.packetEndTime = mVideoPacketStartTime - 1;
        last.adjustedEndTime = mVideoAdjustedStartTime - 1;
    }
    else
    {
        mVideoPacketEndTime = mVideoLeadFrames.last()->packetEndTime;
        mVideoAdjustedEndTime = mVideoLeadFrames.last()->adjustedEndTime;
    }
    mVideoPacketStartTime = mVideoLeadFrames.first()->packetStartTime;
    mVideoAdjustedStartTime = mVideoLeadFrames.first()->adjustedStartTime;
    mVideoSize += mVideoLeadSize;
    mVideoLeadFrames.append(mVideoFrames);
    mVideoFrames.swap(mVideoLeadFrames);
    mVideoLeadFrames.clear();
    mVideoLeadSize = 0;
}

bool CacheManager::DropVideoLead()
{
    QMutexLocker locker(&mVideoMutex);
    if (mVideoLeadFrames.isEmpty())
    {
        return false;
    }
    // Let go on the main thread, as a cleared window is.
    mDeferredVideoFrames.append(mVideoLeadFrames);
    mDeferredVideoSize += mVideoLeadSize;
    mVideoLeadFrames.clear();
    mVideoLeadSize = 0;
    return true;
}

bool CacheManager::HasVideoLead() const
{
    QMutexLocker locker(&mVideoMutex);
    return !mVideoLeadFrames.isEmpty();
}

int CacheManager::VideoLeadIndexLocked(long long time) const
{
    for (int i = 0; i < mVideoLeadFrames.size(); ++i)
    {
        VideoFrame const& frame = *mVideoLeadFrames.at(i);
        if (frame.adjustedStartTime <= time && time <= frame.adjustedEndTime)
        {
            return i;
        }
    }
    return -1;
}

void CacheManager::VideoPushBack(std::shared_ptr<VideoFrame> frame)
{
    // A later picture placed on the same timeline frame covers that frame's
    // start (pictures are placed on the first frame whose start they cover):
    // it replaces the earlier one.
    while (!mVideoFrames.isEmpty() && !frame->emptyFrame && !mVideoFrames.last()->emptyFrame &&
           mVideoFrames.last()->adjustedStartTime >= frame->adjustedStartTime)
    {
        VideoPopBack();
    }
    if (mVideoFrames.isEmpty())
    {
        mVideoPacketStartTime = frame->packetStartTime;
        mVideoAdjustedStartTime = frame->adjustedStartTime;
    }
    else
    {
        // The previous frame ends where this one starts: no gap, no overlap.
        VideoFrame& last = *mVideoFrames.last();
        last.packetEndTime = frame->packetStartTime - 1;
        last.adjustedEndTime = frame->adjustedStartTime - 1;
    }
    mVideoPacketEndTime = frame->packetEndTime;
    mVideoAdjustedEndTime = frame->adjustedEndTime;
    mVideoSize += frame->byteSize;
    mVideoFrames.append(std::move(frame));
}

void CacheManager::VideoPushFront(std::shared_ptr<VideoFrame> frame)
{
    // An earlier picture placed on the frame the first one starts at is
    // covered by it there (see VideoPushBack).
    if (!frame->emptyFrame && !mVideoFrames.first()->emptyFrame &&
        frame->adjustedStartTime >= mVideoAdjustedStartTime)
    {
        return;
    }
    frame->packetEndTime = mVideoPacketStartTime - 1;
    frame->adjustedEndTime = mVideoAdjustedStartTime - 1;
    mVideoPacketStartTime = frame->packetStartTime;
    mVideoAdjustedStartTime = frame->adjustedStartTime;
    mVideoSize += frame->byteSize;
    mVideoFrames.prepend(std::move(frame));
}

void CacheManager::VideoPopFront()
{
    mVideoSize -= mVideoFrames.takeFirst()->byteSize;
    if (mVideoFrames.isEmpty())
    {
        ResetVideoRange();
        return;
    }
    VideoFrame const& first = *mVideoFrames.first();
    mVideoPacketStartTime = first.packetStartTime;
    mVideoAdjustedStartTime = first.adjustedStartTime;
}

void CacheManager::VideoPopBack()
{
    mVideoSize -= mVideoFrames.takeLast()->byteSize;
    if (mVideoFrames.isEmpty())
    {
        ResetVideoRange();
        return;
    }
    VideoFrame const& last = *mVideoFrames.last();
    mVideoPacketEndTime = last.packetEndTime;
    mVideoAdjustedEndTime = last.adjustedEndTime;
}

void CacheManager::ResetVideoRange()
{
    mVideoPacketStartTime = 0;
    mVideoPacketEndTime = 0;
    mVideoAdjustedStartTime = 0;
    mVideoAdjustedEndTime = 0;
    mVideoSize = 0;
}

double CacheManager::VideoForwardWeighting(long long time) const
{
    QMutexLocker locker(&mVideoMutex);
    return VideoForwardWeightingLocked(time);
}

double CacheManager::VideoForwardWeightingLocked(long long time) const
{
    return ShareAhead(mVideoFrames, mVideoSize, time, [](VideoFrame const& f) { return f.packetEndTime.load(); },
                      [](VideoFrame const& f) { return static_cast<long long>(f.byteSize); });
}

void CacheManager::UpdateVideo(long long time, bool forward, double target)
{
    QMutexLocker locker(&mVideoMutex);
    if (mVideoSize + mVideoLeadSize + mVideoReservedSize < mVideoMaximumSize || mVideoFrames.isEmpty())
    {
        return;
    }
    Eviction eviction = OutsideLoopSpan(mVideoFrames.first()->adjustedEndTime, mVideoFrames.last()->adjustedStartTime,
                                        mLoopSpanStart, mLoopSpanEnd);
    if (eviction == Eviction::None)
    {
        eviction = ChooseEviction(mVideoFrames.last()->adjustedStartTime, time, forward,
                                  VideoForwardWeightingLocked(time), target);
    }
    switch (eviction)
    {
    case Eviction::Front:
        VideoPopFront();
        break;
    case Eviction::Back:
        VideoPopBack();
        break;
    case Eviction::None:
        break;
    }
}

// ---- Lookup ----

int CacheManager::VideoFrameIndexBinarySearch(long long time, int low, int high) const
{
    return CoveringIndex(mVideoFrames, time, low, high, [](VideoFrame const& f) { return f.adjustedStartTime; },
                         [](VideoFrame const& f) { return f.adjustedEndTime.load(); });
}

int CacheManager::AudioFrameIndexBinarySearch(long long time, int low, int high) const
{
    return CoveringIndex(mAudioFrames, time, low, high, [](AudioFrame const& f) { return f.startTime; },
                         [](AudioFrame const& f) { return f.endTime.load(); });
}

std::shared_ptr<VideoFrame> CacheManager::FindVideoFrame(long long time) const
{
    QMutexLocker locker(&mVideoMutex);
    if (int const lead = VideoLeadIndexLocked(time); lead >= 0)
    {
        return mVideoLeadFrames.at(lead);
    }
    if (mVideoFrames.isEmpty() || time < mVideoAdjustedStartTime || time > mVideoAdjustedEndTime)
    {
        return nullptr;
    }
    int const index = VideoFrameIndexBinarySearch(time, 0, mVideoFrames.size() - 1);
    if (index < 0)
    {
        Logger::GetInstance()->Error(QStringLiteral("Video frame not found in cache!!!"));
        return nullptr;
    }
    return mVideoFrames.at(index);
}

void CacheManager::FindVideoFrames(long long time, QList<std::shared_ptr<VideoFrame>>& frames) const
{
    QMutexLocker locker(&mVideoMutex);
    if (int const lead = VideoLeadIndexLocked(time); lead >= 0)
    {
        frames.append(mVideoLeadFrames.at(lead));
        frames.append(lead > 0 ? mVideoLeadFrames.at(lead - 1) : nullptr);
        frames.append(lead + 1 < mVideoLeadFrames.size() ? mVideoLeadFrames.at(lead + 1) : nullptr);
        return;
    }
    int index = -1;
    if (!mVideoFrames.isEmpty() && mVideoAdjustedStartTime <= time && time <= mVideoAdjustedEndTime)
    {
        index = VideoFrameIndexBinarySearch(time, 0, mVideoFrames.size() - 1);
        if (index < 0)
        {
            Logger::GetInstance()->Error(QStringLiteral("Video frame not found in cache!!!"));
        }
    }
    if (index < 0)
    {
        frames.append(QList<std::shared_ptr<VideoFrame>>(3));
        return;
    }
    frames.append(mVideoFrames.at(index));
    frames.append(index > 0 ? mVideoFrames.at(index - 1) : nullptr);
    frames.append(index + 1 < mVideoFrames.size() ? mVideoFrames.at(index + 1) : nullptr);
}

std::shared_ptr<VideoFrame> CacheManager::FirstCachedVideoFrame() const
{
    QMutexLocker locker(&mVideoMutex);
    return mVideoFrames.isEmpty() ? nullptr : mVideoFrames.first();
}

std::shared_ptr<VideoFrame> CacheManager::LastCachedVideoFrame() const
{
    QMutexLocker locker(&mVideoMutex);
    return mVideoFrames.isEmpty() ? nullptr : mVideoFrames.last();
}

std::shared_ptr<AudioFrame> CacheManager::FindAudioFrame(long long time, bool makeOutputFrame)
{
    QMutexLocker locker(&mAudioMutex);
    int index = -1;
    if (!mAudioFrames.isEmpty() && mAudioStartTime <= time && time <= mAudioEndTime)
    {
        index = AudioFrameIndexBinarySearch(time, 0, mAudioFrames.size() - 1);
    }
    if (makeOutputFrame)
    {
        mAudioOutputIndex = index;
    }
    return index >= 0 ? mAudioFrames.at(index) : nullptr;
}

std::shared_ptr<AudioFrame> CacheManager::AudioOutputFrameLocked() const
{
    if (mAudioOutputIndex < 0 || mAudioOutputIndex >= mAudioFrames.size())
    {
        return nullptr;
    }
    return mAudioFrames.at(mAudioOutputIndex);
}

std::shared_ptr<AudioFrame> CacheManager::AudioOutputFrame() const
{
    QMutexLocker locker(&mAudioMutex);
    return AudioOutputFrameLocked();
}

std::shared_ptr<AudioFrame> CacheManager::NextAudioOutputFrame(bool forward)
{
    QMutexLocker locker(&mAudioMutex);
    if (mAudioOutputIndex < 0)
    {
        return nullptr; // nothing is being played
    }
    mAudioOutputIndex += forward ? 1 : -1;
    return AudioOutputFrameLocked();
}

bool CacheManager::IsAudioOutputFrameReady() const
{
    QMutexLocker locker(&mAudioMutex);
    return AudioOutputFrameLocked() != nullptr;
}

// ---- Gap filling ----

void CacheManager::ExtendAudioStartTime(long long time, long long endIfEmpty)
{
    QMutexLocker locker(&mAudioMutex);
    long long const end = mAudioFrames.isEmpty() ? endIfEmpty : mAudioFrames.first()->startTime - 1;
    if (end <= time)
    {
        return;
    }
    long long const size = AvHelpers::AudioOutputSizeForDuration(end - time);
    InsertAudioFrameLocked(
        std::make_shared<AudioFrame>(size, time, end, AvHelpers::AudioOutputSamplesPerChannel(size), true));
}

void CacheManager::ExtendAudioEndTime(long long startIfEmpty, long long time)
{
    QMutexLocker locker(&mAudioMutex);
    long long const start = mAudioFrames.isEmpty() ? startIfEmpty : mAudioFrames.last()->endTime + 1;
    if (time < start)
    {
        return;
    }
    long long const size = AvHelpers::AudioOutputSizeForDuration(time - start + 1);
    InsertAudioFrameLocked(
        std::make_shared<AudioFrame>(size, start, time, AvHelpers::AudioOutputSamplesPerChannel(size), true));
}

void CacheManager::ExtendVideoEndTime(long long time)
{
    QMutexLocker locker(&mVideoMutex);
    if (mVideoFrames.isEmpty())
    {
        return;
    }
    // Hold the last picture to the end of the timeline.
    VideoFrame& last = *mVideoFrames.last();
    if (last.packetEndTime < time)
    {
        last.packetEndTime = time;
        mVideoPacketEndTime = time;
    }
    if (last.adjustedEndTime < time)
    {
        last.adjustedEndTime = time;
        mVideoAdjustedEndTime = time;
    }
}

// ---- Clearing ----

void CacheManager::ClearAudio(bool immediate)
{
    QMutexLocker locker(&mAudioMutex);
    if (immediate)
    {
        mDeferredAudioFrames.clear();
    }
    else
    {
        mDeferredAudioFrames.append(mAudioFrames);
    }
    mAudioFrames.clear();
    ResetAudioRange();
    // The output position pointed into the blocks just dropped.
    mAudioOutputIndex = -1;
}

void CacheManager::ClearVideo(bool immediate)
{
    // Frames are let go outside the lock: the last reference frees a picture.
    QList<std::shared_ptr<VideoFrame>> released;
    QMutexLocker locker(&mVideoMutex);
    if (immediate)
    {
        released.swap(mDeferredVideoFrames);
        mDeferredVideoSize = 0;
        released.append(mVideoFrames);
        released.append(mVideoLeadFrames);
    }
    else
    {
        mDeferredVideoFrames.append(mVideoFrames);
        mDeferredVideoFrames.append(mVideoLeadFrames);
        mDeferredVideoSize += mVideoSize + mVideoLeadSize;
    }
    mVideoFrames.clear();
    mVideoLeadFrames.clear();
    mVideoLeadSize = 0;
    ResetVideoRange();
    locker.unlock();
}

void CacheManager::DoDeferredAudioCacheCleanup()
{
    QMutexLocker locker(&mAudioMutex);
    ReleaseFront(mDeferredAudioFrames);
}

void CacheManager::DoDeferredVideoCacheCleanup()
{
    QList<std::shared_ptr<VideoFrame>> released;
    QMutexLocker locker(&mVideoMutex);
    // A few at a time, unless they hold the budget the new frames need.
    qsizetype const count = mVideoSize + mVideoLeadSize + mDeferredVideoSize + mVideoReservedSize >= mVideoMaximumSize
                                ? mDeferredVideoFrames.size()
                                : std::min<qsizetype>(DEFERRED_RELEASE_BATCH, mDeferredVideoFrames.size());
    released = mDeferredVideoFrames.first(count);
    mDeferredVideoFrames.remove(0, count);
    for (std::shared_ptr<VideoFrame> const& frame : released)
    {
        mDeferredVideoSize -= frame->byteSize;
    }
    mDeferredVideoSize = mDeferredVideoFrames.isEmpty() ? 0 : std::max(mDeferredVideoSize, 0LL);
    locker.unlock();
}

bool CacheManager::HasDeferredAudioCache() const
{
    QMutexLocker locker(&mAudioMutex);
    return !mDeferredAudioFrames.isEmpty();
}

bool CacheManager::HasDeferredVideoCache() const
{
    QMutexLocker locker(&mVideoMutex);
    return !mDeferredVideoFrames.isEmpty();
}

void CacheManager::AppendDeferredAudioCacheAndClear(QList<std::shared_ptr<AudioFrame>>& frames)
{
    QMutexLocker locker(&mAudioMutex);
    frames.append(mDeferredAudioFrames);
    mDeferredAudioFrames.clear();
}

void CacheManager::AppendDeferredVideoCacheAndClear(QList<std::shared_ptr<VideoFrame>>& frames)
{
    QMutexLocker locker(&mVideoMutex);
    frames.append(mDeferredVideoFrames);
    mDeferredVideoFrames.clear();
    mDeferredVideoSize = 0;
}

QString CacheManager::ToString(QString const& label) const
{
    QString const rule = QString(20, u'-') + u'\n';
    QString text = rule + QStringLiteral("Cache Info (%1)\n").arg(label);
    {
        QMutexLocker locker(&mAudioMutex);
        text += QStringLiteral("\tAudio Frame Count: %1\n").arg(mAudioFrames.size());
        text += QStringLiteral("\tAudio Start Time: %1\n").arg(TimeText(mAudioStartTime));
        text += QStringLiteral("\tAudio End Time: %1\n").arg(TimeText(mAudioEndTime));
        text += QStringLiteral("\tAudio Size: %1 MB\n").arg(MegabyteText(mAudioSize));
    }
    text += QStringLiteral("\tAudio Maximum Size: %1 MB\n\n").arg(MegabyteText(mAudioMaximumSize));
    {
        QMutexLocker locker(&mVideoMutex);
        text += QStringLiteral("\tVideo Frame Count: %1\n").arg(mVideoFrames.size());
        text += QStringLiteral("\tVideo Start Time: %1\n").arg(TimeText(mVideoPacketStartTime));
        text += QStringLiteral("\tVideo End Time: %1\n").arg(TimeText(mVideoPacketEndTime));
        text += QStringLiteral("\tVideo Size: %1 MB\n").arg(MegabyteText(mVideoSize));
    }
    text += QStringLiteral("\tVideo Maximum Size: %1 MB\n").arg(MegabyteText(mVideoMaximumSize));
    return text + rule;
}
