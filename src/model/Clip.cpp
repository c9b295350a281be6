#include "model/Clip.h"

#include "app/TimeHelpers.h"
#include "model/FrameBookmark.h"
#include "model/Source.h"

#include <algorithm>

namespace
{
QString const DEFAULT_CLIP_NAME = QStringLiteral("Unnamed Clip");
}

Clip::Clip(QString const& mediaPath, QString const& relativeMediaPath, QUuid const& sourceId, QObject* parent)
    : QObject(parent)
    , mId(QUuid::createUuid())
    , mType(ClipType::MediaSource)
{
    mSource = new Source(mediaPath, relativeMediaPath, sourceId, this);
    ConnectSource();
}

Clip::Clip(Clip* other, QObject* parent)
    : QObject(parent)
    , mId(QUuid::createUuid())
    , mType(ClipType::Empty)
{
    // Copying an Empty clip gives an Empty clip: a Media clip needs a source.
    if (!other || !other->mSource)
    {
        return;
    }
    mType = ClipType::Media;
    mSource = other->mSource;
    mUseSourceInOuts = other->mUseSourceInOuts;
    ConnectSource();
}

Clip::~Clip()
{
    while (!mFrameBookmarks.isEmpty())
    {
        delete mFrameBookmarks.takeLast();
    }
}

void Clip::ConnectSource()
{
    connect(mSource, &Source::Parsed, this, &Clip::OnSourceParsed);
    connect(mSource, &Source::Updated, this, &Clip::OnSourceUpdated);
}

Clip* Clip::Duplicate(QObject* parent, bool keepType)
{
    auto* copy = new Clip(this, parent);
    if (keepType && copy->mSource)
    {
        copy->mType = mType;
    }
    return copy;
}

QUuid Clip::Id() const
{
    return mId;
}

void Clip::SetId(QUuid const& id)
{
    if (!id.isNull())
    {
        mId = id;
    }
}

ClipType Clip::Type() const
{
    return mType;
}

QString Clip::TypeString() const
{
    switch (mType)
    {
    case ClipType::Empty:
        return QStringLiteral("Empty");
    case ClipType::MediaSource:
        return QStringLiteral("Media Source");
    case ClipType::Media:
        return QStringLiteral("Media");
    }
    return QStringLiteral("Unknown");
}

QString Clip::Name() const
{
    return mSource ? mSource->MediaName() : DEFAULT_CLIP_NAME;
}

Source* Clip::SourcePtr() const
{
    return mSource;
}

Clip* Clip::SourceClip() const
{
    return mSource ? qobject_cast<Clip*>(mSource->parent()) : nullptr;
}

void Clip::SetSource(Source* source)
{
    if (mType != ClipType::Media || !source)
    {
        return;
    }
    mSource = source;
    Reset();
}

void Clip::Reset()
{
    mAudioStreamIndex = 0;
    mVideoStreamIndex = 0;
    mStartTime = 0;
    mEndTime = 0;
    mStartFrame = 0;
}

void Clip::SetStartTime(long long time, int frame)
{
    mStartTime = time;
    mStartFrame = frame;
}

void Clip::SetEndTime(long long time)
{
    mEndTime = time;
}

long long Clip::StartTime() const
{
    return mStartTime;
}

long long Clip::EndTime() const
{
    return mEndTime;
}

int Clip::StartFrame() const
{
    return mStartFrame;
}

int Clip::EndFrame() const
{
    return mStartFrame + FrameCount() - 1;
}

void Clip::SetUseSourceInOutsEnabled(bool enabled)
{
    mUseSourceInOuts = enabled;
}

bool Clip::IsUseSourceInOutsEnabled() const
{
    return mUseSourceInOuts;
}

bool Clip::HasErrors() const
{
    return mSource && mSource->HasErrors();
}

int Clip::FileCount() const
{
    return mSource ? mSource->FileCount() : 0;
}

bool Clip::FileExists(int fileIndex) const
{
    return mSource && mSource->FileExists(fileIndex);
}

QString Clip::FilePath(int fileIndex) const
{
    return mSource ? mSource->FilePath(fileIndex) : QString();
}

QString Clip::FileName(int fileIndex) const
{
    return mSource ? mSource->FileName(fileIndex) : QString();
}

bool Clip::IsImageSequence() const
{
    return mSource && mSource->IsImageSequence();
}

bool Clip::HasAudio() const
{
    return mSource && mSource->AudioStreamCount() > 0;
}

bool Clip::HasVideo() const
{
    return mSource && mSource->VideoStreamCount() > 0;
}

VideoStreamInfo* Clip::VideoStreamInfoAtIndex(int fileIndex) const
{
    return mSource ? mSource->VideoStreamInfoAtIndex(fileIndex, mVideoStreamIndex) : nullptr;
}

int Clip::AudioStreamIndex() const
{
    return mAudioStreamIndex;
}

int Clip::VideoStreamIndex() const
{
    return mVideoStreamIndex;
}

bool Clip::AppliesInOuts() const
{
    return mType == ClipType::Media && mUseSourceInOuts && mSource;
}

bool Clip::UsesWholeSource() const
{
    return mSource && (mType == ClipType::MediaSource || !mUseSourceInOuts);
}

long long Clip::CutIn() const
{
    return AppliesInOuts() ? mSource->CutIn() : 0;
}

int Clip::CutInFrame() const
{
    return AppliesInOuts() ? mSource->CutInFrame() : 0;
}

long long Clip::CutOut() const
{
    if (AppliesInOuts())
    {
        return mSource->CutOut();
    }
    return mSource ? mSource->Duration() - 1 : -1;
}

int Clip::CutOutFrame() const
{
    if (AppliesInOuts())
    {
        return mSource->CutOutFrame();
    }
    return mSource ? mSource->FrameCount() - 1 : -1;
}

int Clip::FrameCount() const
{
    if (UsesWholeSource())
    {
        return mSource->FrameCount();
    }
    if (!AppliesInOuts() || mSource->FrameCount() < 1)
    {
        return 0;
    }
    // A cut in left beyond the end of a re-rendered, shorter file must not
    // give a negative length.
    return std::max(0, mSource->CutOutFrame() - mSource->CutInFrame() + 1);
}

long long Clip::Duration() const
{
    if (UsesWholeSource())
    {
        return mSource->Duration();
    }
    return mType == ClipType::Media ? mEndTime - mStartTime + 1 : 0;
}

double Clip::FrameStep() const
{
    return mSource ? mSource->FrameStep() : Source::DefaultFrameStep();
}

long long Clip::TimelineTimeAtFrameStart(int frame) const
{
    return mStartTime + TimeHelpers::FrameToFrameStartTime(frame, FrameStep());
}

long long Clip::TimelineTimeAtFrameMid(int frame) const
{
    return mStartTime + TimeHelpers::FrameToFrameMidTime(frame, FrameStep());
}

long long Clip::TimelineTimeAtFrameEnd(int frame) const
{
    return mStartTime + TimeHelpers::FrameToFrameEndTime(frame, FrameStep());
}

int Clip::FrameAtTimelineTime(long long time) const
{
    return mStartFrame + TimeHelpers::TimeToFrame(time - mStartTime, FrameStep());
}

int Clip::FrameAtClipTime(long long time) const
{
    return TimeHelpers::TimeToFrame(time, FrameStep());
}

int Clip::TimelineFrameToSourceFrame(int frame) const
{
    return frame - mStartFrame + CutInFrame();
}

int Clip::SourceFrameToTimelineFrame(int frame) const
{
    return mStartFrame + frame - CutInFrame();
}

FrameBookmark* Clip::FrameBookmarkAt(int frame) const
{
    int const sourceFrame = TimelineFrameToSourceFrame(frame);
    for (FrameBookmark* bookmark : mFrameBookmarks)
    {
        if (bookmark->frame == sourceFrame)
        {
            return bookmark;
        }
    }
    return nullptr;
}

int Clip::InsertFrameBookmark(int frame, FrameBookmark* bookmark)
{
    int const sourceFrame = TimelineFrameToSourceFrame(frame);
    int index = mFrameBookmarks.size();
    for (int i = 0; i < mFrameBookmarks.size(); ++i)
    {
        int const existing = mFrameBookmarks.at(i)->frame;
        if (existing == sourceFrame)
        {
            return -1; // a given bookmark stays with the caller
        }
        if (existing > sourceFrame)
        {
            index = i;
            break;
        }
    }
    if (bookmark)
    {
        bookmark->frame = sourceFrame;
        bookmark->timelineFrame = -1;
    }
    else
    {
        bookmark = new FrameBookmark(sourceFrame);
    }
    mFrameBookmarks.insert(index, bookmark);
    UpdateFrameBookmarks();
    return index;
}

FrameBookmark* Clip::RemoveFrameBookmark(int frame)
{
    int const sourceFrame = TimelineFrameToSourceFrame(frame);
    for (int i = 0; i < mFrameBookmarks.size(); ++i)
    {
        if (mFrameBookmarks.at(i)->frame == sourceFrame)
        {
            FrameBookmark* bookmark = mFrameBookmarks.takeAt(i);
            UpdateFrameBookmarks();
            // The caller may delete it: readers let go first.
            emit FrameBookmarksReplaced();
            return bookmark;
        }
    }
    return nullptr;
}

void Clip::SetFrameBookmarks(QList<FrameBookmark*> const& bookmarks)
{
    QList<FrameBookmark*> const previous = mFrameBookmarks;
    mFrameBookmarks = bookmarks;
    UpdateFrameBookmarks();
    // Readers let go of the old bookmarks before they are deleted.
    emit FrameBookmarksReplaced();
    // A bookmark handed back in the new list must survive the swap.
    for (FrameBookmark* bookmark : previous)
    {
        if (!bookmarks.contains(bookmark))
        {
            delete bookmark;
        }
    }
}

void Clip::RemoveAllFrameBookmarks(QList<FrameBookmark*>& bookmarks)
{
    bookmarks = mFrameBookmarks;
    mFrameBookmarks.clear();
    emit FrameBookmarksReplaced();
}

void Clip::UpdateFrameBookmarks()
{
    int const first = CutInFrame();
    int const last = AppliesInOuts() ? mSource->CutOutFrame() : (mSource ? mSource->FrameCount() - 1 : -1);
    for (FrameBookmark* bookmark : mFrameBookmarks)
    {
        bool const inside = first <= bookmark->frame && bookmark->frame <= last;
        bookmark->timelineFrame = inside ? mStartFrame + bookmark->frame - first : -1;
    }
}

QList<FrameBookmark*> Clip::FrameBookmarkList() const
{
    return mFrameBookmarks;
}

bool Clip::IsUndoClean() const
{
    return std::all_of(mFrameBookmarks.cbegin(), mFrameBookmarks.cend(),
                       [](FrameBookmark const* bookmark) { return bookmark->undoStack.isClean(); });
}

void Clip::SetUndoClean()
{
    for (FrameBookmark* bookmark : mFrameBookmarks)
    {
        bookmark->undoStack.setClean();
    }
}

QString Clip::ToString() const
{
    return QString();
}

void Clip::OnSourceParsed()
{
    emit SourceParsed();
}

void Clip::OnSourceUpdated()
{
    emit SourceUpdated();
}
