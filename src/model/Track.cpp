#include "model/Track.h"

#include "model/Clip.h"
#include "model/Source.h"

#include <QFileInfo>
#include <QMutexLocker>

#include <algorithm>

Track::Track(QObject* parent)
    : QObject(parent)
{
}

Track::Track(QString const& mediaPath, QString const& relativeMediaPath, QUuid const& sourceId, QObject* parent)
    : QObject(parent)
    , mIsSourceTrack(true)
{
    auto* clip = new Clip(mediaPath, relativeMediaPath, sourceId, this);
    connect(clip, &Clip::SourceParsed, this, &Track::OnSourceParsed);
    connect(clip, &Clip::SourceUpdated, this, &Track::OnSourceUpdated);
    connect(clip, &Clip::FrameBookmarksReplaced, this, &Track::FrameBookmarksReplaced);
    mClips.append(clip);
}

Track::~Track()
{
    ClearAll();
}

Track* Track::Duplicate() const
{
    QMutexLocker locker(&mClipTimesMutex);
    auto* copy = new Track();
    copy->mIsSourceTrack = mIsSourceTrack;
    for (Clip* clip : mClips)
    {
        copy->InsertClipAtIndex(clip->Duplicate(copy, mIsSourceTrack), -1);
    }
    return copy;
}

int Track::InsertClipAtIndex(Clip* clip, int index)
{
    if (!clip)
    {
        return -1;
    }
    if (index < 0 || index >= mClips.size())
    {
        index = mClips.size();
    }
    clip->setParent(this);
    mClips.insert(index, clip);
    connect(clip, &Clip::FrameBookmarksReplaced, this, &Track::FrameBookmarksReplaced, Qt::UniqueConnection);
    if (!mIsSourceTrack && clip->SourcePtr())
    {
        connect(clip->SourcePtr(), &Source::CutInOutChanged, this, &Track::OnSourceCutInOutChanged,
                Qt::UniqueConnection);
    }
    RefreshClipStartTimes();
    emit TrackUpdated();
    return index;
}

Clip* Track::RemoveClipAtIndex(int index)
{
    if (mIsSourceTrack || index < 0 || index >= mClips.size())
    {
        return nullptr;
    }
    Clip* clip = mClips.takeAt(index);
    clip->setParent(nullptr);
    DisconnectSourceCuts(clip);
    disconnect(clip, &Clip::FrameBookmarksReplaced, this, &Track::FrameBookmarksReplaced);
    RefreshClipStartTimes();
    // The clip's bookmarks now belong to whoever took the clip.
    emit FrameBookmarksReplaced();
    emit TrackUpdated();
    return clip;
}

void Track::DisconnectSourceCuts(Clip* clip)
{
    Source* source = clip->SourcePtr();
    // Another clip of the same source keeps the connection.
    bool const shared = std::any_of(mClips.cbegin(), mClips.cend(),
                                    [source](Clip const* other) { return other->SourcePtr() == source; });
    if (source && !shared)
    {
        disconnect(source, &Source::CutInOutChanged, this, &Track::OnSourceCutInOutChanged);
    }
}

void Track::MoveClip(int from, int to)
{
    if (mIsSourceTrack || from < 0 || from >= mClips.size() || !mClips.at(from) || to < 0 || to >= mClips.size())
    {
        return;
    }
    Clip* clip = mClips.takeAt(from);
    mClips.insert(to, clip);
    RefreshClipStartTimes();
    emit TrackUpdated();
}

void Track::SetClipOrder(QList<QUuid> const& clipIds)
{
    if (mIsSourceTrack)
    {
        return;
    }
    QList<Clip*> remaining = mClips;
    QList<Clip*> ordered;
    for (QUuid const& clipId : clipIds)
    {
        auto const found = std::find_if(remaining.begin(), remaining.end(),
                                        [&clipId](Clip const* clip) { return clip->Id() == clipId; });
        if (found != remaining.end())
        {
            ordered.append(*found);
            remaining.erase(found);
        }
    }
    if (ordered.isEmpty())
    {
        return;
    }
    ordered.append(remaining);
    mClips = ordered;
    RefreshClipStartTimes();
    emit TrackUpdated();
}

QList<QUuid> Track::OrderedClipIds() const
{
    QList<QUuid> ids;
    ids.reserve(mClips.size());
    for (Clip const* clip : mClips)
    {
        ids.append(clip->Id());
    }
    return ids;
}

void Track::ClearAll()
{
    for (Clip* clip : std::as_const(mClips))
    {
        clip->setParent(nullptr);
        delete clip;
    }
    mClips.clear();
}

void Track::SetUseSourceInOutsEnabled(bool enabled)
{
    if (mIsSourceTrack)
    {
        return;
    }
    for (Clip* clip : std::as_const(mClips))
    {
        clip->SetUseSourceInOutsEnabled(enabled);
    }
}

void Track::RefreshClipStartTimes()
{
    QMutexLocker locker(&mClipTimesMutex);
    long long time = 0;
    int frame = 0;
    for (Clip* clip : std::as_const(mClips))
    {
        clip->SetStartTime(time, frame);
        // Each clip steps at its own source's rate, so clips of different
        // rates join without a gap in time.
        time = clip->TimelineTimeAtFrameStart(clip->FrameCount());
        clip->SetEndTime(time - 1);
        frame = clip->EndFrame() + 1;
        clip->UpdateFrameBookmarks();
    }
}

void Track::UpdateClipTimesForAudioOverride(long long rangeStart, long long rangeEnd, long long endTime)
{
    if (rangeEnd <= rangeStart || rangeStart < 0 || mClips.isEmpty())
    {
        return;
    }
    QMutexLocker locker(&mClipTimesMutex);
    // The layout below is fixed; a later cut change must not undo it.
    for (Clip* clip : std::as_const(mClips))
    {
        if (clip->SourcePtr())
        {
            disconnect(clip->SourcePtr(), &Source::CutInOutChanged, this, &Track::OnSourceCutInOutChanged);
        }
    }
    long long const length = rangeEnd - rangeStart;
    long long time = -rangeStart;
    for (int i = 0; i < mClips.size(); ++i)
    {
        Clip* clip = mClips.at(i);
        clip->SetStartTime(time, i);
        long long const end = clip->EndTime() > rangeEnd ? length : clip->EndTime() - rangeStart;
        clip->SetEndTime(end);
        time = end + 1;
        if (end == length)
        {
            auto* silence = new Clip(nullptr, this);
            silence->SetStartTime(time, i + 1);
            silence->SetEndTime(endTime);
            mClips.insert(i + 1, silence);
            break;
        }
    }
}

bool Track::IsSourceTrack() const
{
    return mIsSourceTrack;
}

Clip* Track::SourceClip() const
{
    if (mClips.isEmpty() || mClips.first()->Type() != ClipType::MediaSource)
    {
        return nullptr;
    }
    return mClips.first();
}

Source* Track::SourcePtr() const
{
    Clip* clip = SourceClip();
    return clip ? clip->SourcePtr() : nullptr;
}

int Track::ClipCount() const
{
    return mClips.size();
}

Clip* Track::ClipAtIndex(int index) const
{
    return (index >= 0 && index < mClips.size()) ? mClips.at(index) : nullptr;
}

long long Track::ClipStartTimeAtIndex(int index) const
{
    Clip* clip = ClipAtIndex(index);
    return clip ? clip->StartTime() : -1;
}

int Track::ClipIndex(Clip* clip) const
{
    return mClips.indexOf(clip);
}

Clip* Track::ClipAtTime(long long time) const
{
    return ClipAtIndex(ClipIndexAtTime(time));
}

int Track::ClipIndexAtTime(long long time) const
{
    for (int i = 0; i < mClips.size(); ++i)
    {
        if (mClips.at(i)->StartTime() <= time && time <= mClips.at(i)->EndTime())
        {
            return i;
        }
    }
    return -1;
}

Clip* Track::ClipAtFrame(int frame) const
{
    return ClipAtIndex(ClipIndexAtFrame(frame));
}

int Track::ClipIndexAtFrame(int frame) const
{
    for (int i = 0; i < mClips.size(); ++i)
    {
        if (mClips.at(i)->StartFrame() <= frame && frame <= mClips.at(i)->EndFrame())
        {
            return i;
        }
    }
    return -1;
}

Clip* Track::FindClipById(QUuid const& clipId) const
{
    auto const found = std::find_if(mClips.cbegin(), mClips.cend(),
                                    [&clipId](Clip const* clip) { return clip->Id() == clipId; });
    return found != mClips.cend() ? *found : nullptr;
}

int Track::ClipIndexWithSource(QUuid const& sourceId) const
{
    QList<int> const indices = ClipIndiciesWithSource(sourceId);
    return indices.isEmpty() ? -1 : indices.first();
}

bool Track::ContainsClipWithSource(QUuid const& sourceId) const
{
    return ClipIndexWithSource(sourceId) >= 0;
}

QList<int> Track::ClipIndiciesWithSource(QUuid const& sourceId) const
{
    QList<int> indices;
    for (int i = 0; i < mClips.size(); ++i)
    {
        Source const* source = mClips.at(i)->SourcePtr();
        if (source && source->Id() == sourceId)
        {
            indices.append(i);
        }
    }
    return indices;
}

bool Track::ContainsClipWithMediaPath(QString const& path) const
{
    QFileInfo const wanted(path);
    return std::any_of(mClips.cbegin(), mClips.cend(), [&wanted](Clip const* clip) {
        if (!clip->SourcePtr())
        {
            return false;
        }
        QFileInfo const media(clip->SourcePtr()->MediaPath());
        return media.exists() && media == wanted;
    });
}

bool Track::HasErrors() const
{
    return std::any_of(mClips.cbegin(), mClips.cend(), [](Clip const* clip) { return clip->HasErrors(); });
}

bool Track::HasAudio() const
{
    return std::any_of(mClips.cbegin(), mClips.cend(), [](Clip const* clip) { return clip->HasAudio(); });
}

bool Track::HasVideo() const
{
    return std::any_of(mClips.cbegin(), mClips.cend(), [](Clip const* clip) { return clip->HasVideo(); });
}

long long Track::Duration() const
{
    return mClips.isEmpty() ? 0 : mClips.last()->EndTime() + 1;
}

long long Track::EndTime() const
{
    return mClips.isEmpty() ? 0 : mClips.last()->EndTime();
}

int Track::FrameCount() const
{
    return mClips.isEmpty() ? 0 : mClips.last()->StartFrame() + mClips.last()->FrameCount();
}

int Track::EndFrame() const
{
    return mClips.isEmpty() ? 0 : mClips.last()->EndFrame();
}

QList<int> Track::FramesPerClip() const
{
    QList<int> frames;
    frames.reserve(mClips.size());
    for (Clip const* clip : mClips)
    {
        frames.append(clip->FrameCount());
    }
    return frames;
}

long long Track::TimeAtFrame(int frame, bool frameEnd) const
{
    // A frame beyond the last clip is measured from the last clip's start.
    for (auto it = mClips.crbegin(); it != mClips.crend(); ++it)
    {
        Clip const* clip = *it;
        if (clip->StartFrame() <= frame)
        {
            int const clipFrame = frame - clip->StartFrame();
            return frameEnd ? clip->TimelineTimeAtFrameEnd(clipFrame) : clip->TimelineTimeAtFrameStart(clipFrame);
        }
    }
    return -1;
}

int Track::FrameAtTime(long long time) const
{
    for (auto it = mClips.crbegin(); it != mClips.crend(); ++it)
    {
        if ((*it)->StartTime() <= time)
        {
            return (*it)->FrameAtTimelineTime(time);
        }
    }
    return -1;
}

double Track::FrameRateAtFrame(int frame) const
{
    for (auto it = mClips.crbegin(); it != mClips.crend(); ++it)
    {
        if ((*it)->StartFrame() <= frame)
        {
            Source const* source = (*it)->SourcePtr();
            return source ? source->FrameRate() : -1.0;
        }
    }
    return -1.0;
}

FrameBookmark* Track::FrameBookmarkAt(int frame) const
{
    Clip* clip = ClipAtFrame(frame);
    return clip ? clip->FrameBookmarkAt(frame) : nullptr;
}

int Track::InsertFrameBookmark(int frame, FrameBookmark* bookmark)
{
    Clip* clip = ClipAtFrame(frame);
    return clip ? clip->InsertFrameBookmark(frame, bookmark) : -1;
}

FrameBookmark* Track::RemoveFrameBookmark(int frame)
{
    Clip* clip = ClipAtFrame(frame);
    return clip ? clip->RemoveFrameBookmark(frame) : nullptr;
}

QList<FrameBookmark*> Track::FrameBookmarkList() const
{
    QList<FrameBookmark*> bookmarks;
    for (Clip const* clip : mClips)
    {
        bookmarks.append(clip->FrameBookmarkList());
    }
    return bookmarks;
}

bool Track::IsUndoClean() const
{
    return std::all_of(mClips.cbegin(), mClips.cend(), [](Clip const* clip) { return clip->IsUndoClean(); });
}

void Track::SetUndoClean()
{
    for (Clip* clip : std::as_const(mClips))
    {
        clip->SetUndoClean();
    }
}

QString Track::ToString() const
{
    return QString();
}

void Track::OnSourceParsed()
{
    RefreshClipStartTimes();
    emit SourceParsed();
}

void Track::OnSourceUpdated()
{
    RefreshClipStartTimes();
    emit SourceUpdated();
}

void Track::OnSourceCutInOutChanged()
{
    RefreshClipStartTimes();
    emit TrackUpdated();
}
