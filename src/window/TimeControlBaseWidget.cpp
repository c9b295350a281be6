#include "window/TimeControlBaseWidget.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/VideoFrame.h"
#include "model/FrameBookmark.h"
#include "model/ProjectManager.h"
#include "model/RangeBookmark.h"
#include "model/Timeline.h"
#include "window/PlaybackControlWidget.h"

#include <QAction>
#include <QActionGroup>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace
{
constexpr int CACHE_POLL_MS = 200;
constexpr int DEFAULT_TIME_CODE_FPS = 24;

// floor(a / b) and ceil(a / b) for b > 0.
long long FloorDiv(long long a, long long b)
{
    long long q = a / b;
    if ((a % b != 0) && (a < 0))
    {
        --q;
    }
    return q;
}

long long CeilDiv(long long a, long long b)
{
    long long q = a / b;
    if ((a % b != 0) && (a > 0))
    {
        ++q;
    }
    return q;
}

QString TwoDigits(long long value)
{
    return value < 1 ? QStringLiteral("00") : QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

enum ContextMenuItem
{
    RangeStartItem = 0,
    RangeEndItem,
    ResetRangeItem,
    GlobalFramesItem,
    RangeFramesItem,
    TimeCodeItem,
    SecondsItem,
    PositionItem,
    FrameBookmarksItem,
    RangeBookmarksItem,
    CacheItem,
};
} // namespace

TimeControlBaseWidget::TimeControlBaseWidget(ProjectManager* projectManager, PlaybackControlWidget* playbackControl,
                                             QWidget* parent)
    : QWidget(parent)
    , mProjectManager(projectManager)
    , mAvManager(projectManager ? projectManager->AvManagerPtr() : nullptr)
    , mPlaybackControl(playbackControl)
{
    setFixedHeight(40);
    setMouseTracking(true);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &TimeControlBaseWidget::ShowContextMenu);
    mCacheTimer.setInterval(CACHE_POLL_MS);
    connect(&mCacheTimer, &QTimer::timeout, this, &TimeControlBaseWidget::PollCache);
    if (mAvManager)
    {
        // Whatever makes the engine decode again.
        for (auto const signal : {&AvManager::PlaybackFrameChanged, &AvManager::SeekRequested,
                                  &AvManager::RefreshCacheRequested, &AvManager::DecodeTrackUpdated,
                                  &AvManager::TimelineDecodingEnded})
        {
            connect(mAvManager, signal, this, &TimeControlBaseWidget::ResumeCachePoll);
        }
        connect(mAvManager, &AvManager::PlaybackStateChanged, this, &TimeControlBaseWidget::ResumeCachePoll);
        connect(mAvManager, &AvManager::PlaybackRangeChanged, this, &TimeControlBaseWidget::ResumeCachePoll);
        connect(mAvManager, &AvManager::LoopStateChanged, this, &TimeControlBaseWidget::ResumeCachePoll);
        connect(mAvManager, &AvManager::PrimaryTimelineChanged, this, &TimeControlBaseWidget::ResumeCachePoll);
        connect(mAvManager, &AvManager::VideoFrameChanged, this, &TimeControlBaseWidget::ResumeCachePoll);
        connect(mAvManager, &AvManager::PlaybackFrameChanged, this, &TimeControlBaseWidget::OnPlaybackFrameChanged);
        connect(mAvManager, &AvManager::PlaybackEndTimeChanged, this,
                &TimeControlBaseWidget::OnPlaybackEndTimeChanged);
        connect(mAvManager, &AvManager::PlaybackRangeChanged, this, &TimeControlBaseWidget::OnPlaybackRangeChanged);
        connect(mAvManager, &AvManager::PrimaryTimelineChanged, this,
                &TimeControlBaseWidget::OnPrimaryTimelineChanged);
        connect(mAvManager, &AvManager::VideoFrameChanged, this,
                [this](int outputId, std::shared_ptr<VideoFrame> current, std::shared_ptr<VideoFrame>,
                       std::shared_ptr<VideoFrame>) { OnVideoFrameChanged(outputId, std::move(current)); });
    }
}

TimeControlBaseWidget::~TimeControlBaseWidget()
{
    DisconnectTimeline();
}

// ---- Mapping ----

int TimeControlBaseWidget::FrameAtPosition(int x, int left, int right, int start, int end)
{
    if (end < start)
    {
        return 0;
    }
    long long const pixels = static_cast<long long>(right) - left + 1;
    if (pixels <= 0)
    {
        return start;
    }
    long long const frames = static_cast<long long>(end) - start + 1;
    long long const frame = start + FloorDiv((static_cast<long long>(x) - left) * frames, pixels);
    return static_cast<int>(std::clamp<long long>(frame, start, end));
}

int TimeControlBaseWidget::PositionAtFrame(int frame, int left, int right, int start, int end)
{
    if (end < start)
    {
        return 0;
    }
    long long const pixels = static_cast<long long>(right) - left + 1;
    if (pixels <= 0)
    {
        return left;
    }
    long long const frames = static_cast<long long>(end) - start + 1;
    long long const position = left + CeilDiv((static_cast<long long>(frame) - start) * pixels, frames);
    return static_cast<int>(std::clamp<long long>(position, INT_MIN, INT_MAX));
}

int TimeControlBaseWidget::FrameAtPosition(int x) const
{
    return FrameAtPosition(x, mTimelineRect.left(), mTimelineRect.right(), StartFrame(), EndFrame());
}

int TimeControlBaseWidget::PositionAtFrame(int frame) const
{
    if (!mTimeline)
    {
        return 0;
    }
    return PositionAtFrame(frame, mTimelineRect.left(), mTimelineRect.right(), StartFrame(), EndFrame());
}

int TimeControlBaseWidget::FrameWidth(int frame) const
{
    if (!mTimeline)
    {
        return 0;
    }
    return PositionAtFrame(frame + 1) - PositionAtFrame(frame);
}

// ---- Accessors ----

int TimeControlBaseWidget::StartFrame() const { return 0; }
int TimeControlBaseWidget::EndFrame() const { return mEndFrame; }
Timeline* TimeControlBaseWidget::TimelinePtr() const { return mTimeline; }
int TimeControlBaseWidget::PlaybackFrame() const { return mPlaybackFrame; }
int TimeControlBaseWidget::RangeStartFrame() const { return mRangeStart; }
int TimeControlBaseWidget::RangeEndFrame() const { return mRangeEnd; }
int TimeControlBaseWidget::TimelineEndFrame() const { return mEndFrame; }
int TimeControlBaseWidget::CacheStartFrame() const { return mCacheStart; }
int TimeControlBaseWidget::CacheEndFrame() const { return mCacheEnd; }
bool TimeControlBaseWidget::CachePollActive() const { return mCacheTimer.isActive(); }
QRect TimeControlBaseWidget::EditRangeStartRect() const { return mRangeStartHandle; }
QRect TimeControlBaseWidget::EditRangeEndRect() const { return mRangeEndHandle; }
QRect TimeControlBaseWidget::TimelineRect() const { return mTimelineRect; }
QRect TimeControlBaseWidget::BarRect() const { return mBarRect; }
QRect TimeControlBaseWidget::RangeRect() const { return mRangeRect; }
TimeControlDisplayFormat TimeControlBaseWidget::DisplayFormat() const { return mDisplayFormat; }
QList<TimeControlBaseWidget::ClipFrameRange> const& TimeControlBaseWidget::ClipFrameRanges() const
{
    return mClipFrameRanges;
}
QList<TimeControlBaseWidget::FrameBookmarkMark> const& TimeControlBaseWidget::FrameBookmarks() const
{
    return mFrameBookmarks;
}

int TimeControlBaseWidget::DisplayedFrameOffset() const
{
    return mTimeline ? mTimeline->TimeControlFrameOffset() : 0;
}

bool TimeControlBaseWidget::AudioScrubOnDragEnabled() const
{
    return Settings::audioOnScrubType == 0 || Settings::audioOnScrubType == 2;
}

bool TimeControlBaseWidget::AudioScrubOnFrameStepEnabled() const
{
    return Settings::audioOnScrubType < 2;
}

QPoint TimeControlBaseWidget::CursorPosition() const
{
    QPoint position = mapFromGlobal(QCursor::pos());
    if (Settings::HardwareRenderingInUse())
    {
        position -= mViewerPosition;
        position.ry() -= mViewerMouseYOffset;
    }
    return position;
}

bool TimeControlBaseWidget::IsDragging() const
{
    return mDraggingRange || mDraggingStartHandle || mDraggingEndHandle;
}

bool TimeControlBaseWidget::IsUnderMouse() const
{
    return underMouse() || mUnderMouseFromViewer;
}

int TimeControlBaseWidget::MaximumFrame() const
{
    return std::max(mEndFrame, 0);
}

// ---- Settings binding ----

void TimeControlBaseWidget::SetDisplayFormatSetting(int* setting)
{
    if (!setting)
    {
        return;
    }
    if (*setting < 0 || *setting > 3)
    {
        *setting = 0;
    }
    mDisplayFormatSetting = setting;
    mDisplayFormat = static_cast<TimeControlDisplayFormat>(*setting);
    RepaintTimeline();
}

void TimeControlBaseWidget::SetPositionTopSetting(bool* setting)
{
    if (setting)
    {
        mPositionTopSetting = setting;
    }
}

void TimeControlBaseWidget::SetBookmarksVisibleSettings(bool* frameBookmarks, bool* rangeBookmarks)
{
    if (frameBookmarks)
    {
        mFrameBookmarksVisibleSetting = frameBookmarks;
    }
    if (rangeBookmarks)
    {
        mRangeBookmarksVisibleSetting = rangeBookmarks;
    }
}

void TimeControlBaseWidget::SetCacheVisibleSetting(bool* setting)
{
    if (setting)
    {
        mCacheVisibleSetting = setting;
    }
}

// ---- Seeking ----

void TimeControlBaseWidget::SetPlaybackTime(long long time, bool playAudio, bool onlyWhenCached, bool audioForward)
{
    if (!mAvManager)
    {
        return;
    }
    if (mAvManager->IsPlaying() && Settings::pausePlaybackOnSeek)
    {
        mAvManager->Pause(DecodeBias::None);
    }
    mAvManager->SetPlaybackTime(time, playAudio, onlyWhenCached, false, audioForward);
}

void TimeControlBaseWidget::SetPlaybackTimeByFrame(int frame, bool playAudio, bool onlyWhenCached)
{
    if (!mTimeline || !mAvManager)
    {
        return;
    }
    // From the frame last asked for: the bar's number stays on the picture
    // on screen until the sought one is there.
    int const clockFrame = mTimeline->FrameAtTime(mAvManager->PlaybackTime());
    if (frame == clockFrame)
    {
        return;
    }
    if (mAvManager->IsPlaying() && Settings::pausePlaybackOnSeek)
    {
        mAvManager->Pause(DecodeBias::None);
    }
    mAvManager->SetPlaybackTime(mTimeline->TimeAtFrame(frame, false), playAudio, onlyWhenCached, false,
                                clockFrame < frame);
}

void TimeControlBaseWidget::SeekToFrame(int frame)
{
    SetPlaybackTimeByFrame(frame, false, false);
}

// ---- Range ----

void TimeControlBaseWidget::ReadRangeFromTimeline()
{
    if (mTimeline)
    {
        mRangeStart = mTimeline->PlaybackRangeStartFrame();
        mRangeEnd = mTimeline->PlaybackRangeEndFrame();
    }
}

void TimeControlBaseWidget::CommitRange(Timeline* timeline, int start, int end, int previousStart, int previousEnd)
{
    if (!mProjectManager || !timeline)
    {
        return;
    }
    mProjectManager->DoSetPlaybackRangeCmd(timeline, start, end, previousStart, previousEnd);
}

void TimeControlBaseWidget::SetPlaybackRangeByFrame(int start, int end)
{
    if (!mTimeline)
    {
        return;
    }
    int const maximum = MaximumFrame();
    start = std::clamp(start, 0, maximum);
    end = std::clamp(end, 0, maximum);
    // The model refuses an inverted range: asking for one would only leave an
    // empty undo step behind.
    if (start > end || (start == mRangeStart && end == mRangeEnd))
    {
        return;
    }
    if (!IsDragging())
    {
        CommitRange(mTimeline, start, end, mRangeStart, mRangeEnd);
        ReadRangeFromTimeline();
        UpdateRangeGeometry();
        RepaintTimeline();
        return;
    }
    if (!DragTimelineIsCurrent())
    {
        return;
    }
    if (!mRangeChangedInDrag)
    {
        mRangeAtDragStartStart = mRangeStart;
        mRangeAtDragStartEnd = mRangeEnd;
    }
    mTimeline->SetPlaybackRangeByFrame(start, end);
    mRangeChangedInDrag = true;
    ReadRangeFromTimeline();
    UpdateRangeGeometry();
    RepaintTimeline();
}

void TimeControlBaseWidget::RangeStartToCurrent()
{
    // Pinned at the other bound, as a handle drag is.
    SetPlaybackRangeByFrame(std::min(mPlaybackFrame, mRangeEnd), mRangeEnd);
}

void TimeControlBaseWidget::RangeEndToCurrent()
{
    SetPlaybackRangeByFrame(mRangeStart, std::max(mPlaybackFrame, mRangeStart));
}

void TimeControlBaseWidget::SetRangeStartFromSender()
{
    if (auto const* const action = qobject_cast<QAction*>(sender()))
    {
        SetPlaybackRangeByFrame(std::min(action->data().toInt(), mRangeEnd), mRangeEnd);
    }
}

void TimeControlBaseWidget::SetRangeEndFromSender()
{
    if (auto const* const action = qobject_cast<QAction*>(sender()))
    {
        SetPlaybackRangeByFrame(mRangeStart, std::max(action->data().toInt(), mRangeStart));
    }
}

void TimeControlBaseWidget::ResetRange()
{
    SetPlaybackRangeByFrame(std::min(mEndFrame, 0), std::max(mEndFrame, 0));
}

void TimeControlBaseWidget::SetRangeToPreviousRangeBookmark()
{
    SetRangeToNeighbourRangeBookmark(false);
}

void TimeControlBaseWidget::SetRangeToNextRangeBookmark()
{
    SetRangeToNeighbourRangeBookmark(true);
}

void TimeControlBaseWidget::SetRangeToNeighbourRangeBookmark(bool next)
{
    if (!mTimeline || mRangeBookmarks.isEmpty())
    {
        return;
    }
    // Ordered by start, then end: the map keeps equal starts in insertion order.
    QList<QPair<int, int>> pairs;
    for (auto it = mRangeBookmarks.cbegin(); it != mRangeBookmarks.cend(); ++it)
    {
        pairs.append({it.key(), it.value()});
    }
    std::sort(pairs.begin(), pairs.end());
    QPair<int, int> const chosen = WrappedNeighbour(pairs, qMakePair(mRangeStart, mRangeEnd), next,
                                                    [](QPair<int, int> const& pair) { return pair; });
    SetPlaybackRangeByFrame(chosen.first, chosen.second);
    if (mPlaybackFrame != mRangeStart)
    {
        SeekToFrame(mRangeStart);
    }
}

// ---- Bookmarks ----

void TimeControlBaseWidget::ToggleFrameBookmark()
{
    if (mTimeline && mProjectManager)
    {
        mProjectManager->ToggleFrameBookmark(mTimeline, mPlaybackFrame);
    }
}

void TimeControlBaseWidget::ToggleRangeBookmark()
{
    if (mTimeline && mProjectManager)
    {
        mProjectManager->DoToggleRangeBookmarkCmd(mTimeline, mRangeStart, mRangeEnd);
    }
}

void TimeControlBaseWidget::RemoveBookmarks(bool frameBookmarks, bool rangeBookmarks, bool onlyInRange,
                                            QString const& macroName)
{
    if (mTimeline && mProjectManager)
    {
        mProjectManager->RemoveBookmarks(mTimeline, frameBookmarks, rangeBookmarks, onlyInRange, macroName);
    }
}

// ---- Display ----

QString TimeControlBaseWidget::FrameToDisplayFormat(int frame, bool withOffset) const
{
    int const offset = withOffset ? DisplayedFrameOffset() : 0;
    switch (mDisplayFormat)
    {
    case TimeControlDisplayFormat::GlobalFrames:
        return QString::number(static_cast<long long>(frame) + offset);
    case TimeControlDisplayFormat::RangeFrames:
        return QString::number(static_cast<long long>(frame) + offset - mRangeStart);
    case TimeControlDisplayFormat::TimeCode:
    {
        double const rate = mTimeline ? mTimeline->FrameRateAtFrame(mPlaybackFrame, 0) : DEFAULT_TIME_CODE_FPS;
        long long fps = std::llround(rate);
        // A slideshow rate rounds to 0 and an empty timeline has none.
        if (!std::isfinite(rate) || fps < 1)
        {
            fps = DEFAULT_TIME_CODE_FPS;
        }
        long long const value = frame;
        long long const hours = value / (fps * 3600);
        long long const minutes = value / (fps * 60);
        long long const seconds = value / fps;
        long long const frames = value % fps;
        QString text = QStringLiteral("%1:%2:%3").arg(TwoDigits(minutes % 60), TwoDigits(seconds % 60),
                                                     TwoDigits(frames));
        if (hours > 0)
        {
            text.prepend(TwoDigits(hours) + QLatin1Char(':'));
        }
        return text;
    }
    case TimeControlDisplayFormat::Seconds:
    default:
    {
        long long time = mTimeline ? mTimeline->TimeAtFrame(frame, false) : 0;
        time = std::clamp(time, 0LL, std::max(mEndTime, 0LL));
        return QString::number(static_cast<double>(time) / 1000000.0, 'f', 2);
    }
    }
}

void TimeControlBaseWidget::SetDisplayFormat(TimeControlDisplayFormat format)
{
    int const value = static_cast<int>(format);
    if (value < 0 || value > 3)
    {
        return;
    }
    if (format != mDisplayFormat)
    {
        mDisplayFormat = format;
        RepaintTimeline();
    }
    if (mDisplayFormatSetting)
    {
        *mDisplayFormatSetting = value;
    }
}

void TimeControlBaseWidget::SetDisplayTypeFromSender()
{
    auto const* const action = qobject_cast<QAction*>(sender());
    if (!action)
    {
        return;
    }
    SetDisplayFormat(static_cast<TimeControlDisplayFormat>(action->data().toInt()));
}

void TimeControlBaseWidget::RepaintTimeline()
{
    if (isVisible())
    {
        update();
    }
    else
    {
        emit UpdateRequested();
    }
}

void TimeControlBaseWidget::TogglePosition()
{
    emit TogglePositionRequested(this);
}

void TimeControlBaseWidget::ToggleSetting(bool* setting)
{
    if (setting)
    {
        *setting = !*setting;
    }
    RepaintTimeline();
}

void TimeControlBaseWidget::ToggleFrameBookmarkVisibility()
{
    ToggleSetting(mFrameBookmarksVisibleSetting);
}

void TimeControlBaseWidget::ToggleRangeBookmarkVisibility()
{
    ToggleSetting(mRangeBookmarksVisibleSetting);
}

void TimeControlBaseWidget::ToggleCacheVisibility()
{
    ToggleSetting(mCacheVisibleSetting);
}

// ---- Engine slots ----

void TimeControlBaseWidget::OnPlaybackFrameChanged(int frame)
{
    if (!mTimeline || frame == mPlaybackFrame)
    {
        return;
    }
    mPlaybackFrame = frame;
    RepaintTimeline();
    emit PlaybackFrameChanged(frame, DisplayedFrameOffset());
}

void TimeControlBaseWidget::OnPlaybackEndTimeChanged(long long time)
{
    UpdateClipFrameRanges();
    UpdateBookmarks();
    mEndTime = time;
    int const endFrame = mClipFrameRanges.isEmpty() ? 0 : mClipFrameRanges.constLast().last;
    if (endFrame != mEndFrame)
    {
        mEndFrame = endFrame;
        UpdateRangeGeometry();
        RepaintTimeline();
    }
}

void TimeControlBaseWidget::OnPlaybackRangeChanged(long long startTime, long long endTime)
{
    if (!mTimeline)
    {
        return;
    }
    // The timeline's own frames: the times of an open end resolve there.
    int const start = mTimeline->PlaybackRangeStartFrame();
    int const end = mTimeline->PlaybackRangeEndFrame();
    Q_UNUSED(startTime)
    Q_UNUSED(endTime)
    if (start != mRangeStart || end != mRangeEnd)
    {
        mRangeStart = start;
        mRangeEnd = end;
        UpdateRangeGeometry();
        RepaintTimeline();
    }
}

void TimeControlBaseWidget::FollowPrimaryTimeline()
{
    if (mAvManager && mAvManager->PrimaryTimeline())
    {
        OnPrimaryTimelineChanged(mAvManager->PrimaryTimeline(), true);
        mPlaybackFrame = mTimeline ? mTimeline->PlaybackFrame() : -1;
    }
}

void TimeControlBaseWidget::DisconnectTimeline()
{
    for (QMetaObject::Connection const& connection : std::as_const(mTimelineConnections))
    {
        disconnect(connection);
    }
    mTimelineConnections.clear();
}

void TimeControlBaseWidget::OnVideoFrameChanged(int outputId, std::shared_ptr<VideoFrame> frame)
{
    if (!mTimeline || mTimeline->OutputId() != outputId)
    {
        return;
    }
    mDisplayedFrameStart = frame ? frame->adjustedStartTime : -1;
    mDisplayedFrameEnd = frame ? frame->adjustedEndTime.load() : -1;
}

long long TimeControlBaseWidget::DisplayedFrameStartTime() const
{
    return mDisplayedFrameStart;
}

long long TimeControlBaseWidget::DisplayedFrameEndTime() const
{
    return mDisplayedFrameEnd;
}

void TimeControlBaseWidget::OnPrimaryTimelineChanged(Timeline* timeline, bool notSwitching)
{
    if (timeline && timeline == mTimeline)
    {
        return;
    }
    mDisplayedFrameStart = -1;
    mDisplayedFrameEnd = -1;
    if (!timeline && !notSwitching)
    {
        // While the engine switches timelines the bar keeps showing the old one.
        if (mLastPicture.isNull() && width() > 0 && height() > 0)
        {
            mLastPicture = grab();
        }
    }
    else
    {
        mLastPicture = QPixmap();
    }
    DisconnectTimeline();
    mTimeline = timeline;
    if (mTimeline)
    {
        mTimelineConnections << connect(mTimeline, &Timeline::TimelineUpdated, this,
                                        &TimeControlBaseWidget::OnTimelineUpdated);
        mTimelineConnections << connect(mTimeline, &Timeline::TimeControlFrameOffsetChanged, this,
                                        &TimeControlBaseWidget::OnTimelineUpdated);
        mTimelineConnections << connect(mTimeline, &Timeline::BookmarksChanged, this,
                                        &TimeControlBaseWidget::UpdateBookmarks);
        OnTimelineUpdated();
    }
    else
    {
        mPlaybackFrame = -1;
        mClipFrameRanges.clear();
        UpdateBookmarks();
        mCacheStart = -1;
        mCacheEnd = -1;
    }
    UpdateRangeGeometry();
    RepaintTimeline();
}

void TimeControlBaseWidget::OnTimelineUpdated()
{
    if (!mTimeline)
    {
        return;
    }
    // Clips, bookmarks and the end first: the frame's listeners see them new.
    OnPlaybackEndTimeChanged(mTimeline->Duration());
    bool const primary = mAvManager && mAvManager->PrimaryTimeline() == mTimeline;
    int const frame =
        mTimeline->FrameAtTime(primary ? mAvManager->DisplayedPlaybackTime() : mTimeline->PlaybackTime());
    if (frame != mPlaybackFrame)
    {
        mPlaybackFrame = frame;
        RepaintTimeline();
        emit PlaybackFrameChanged(frame, DisplayedFrameOffset());
    }
    OnPlaybackRangeChanged(mTimeline->PlaybackRangeStart(), mTimeline->PlaybackRangeEnd());
}

void TimeControlBaseWidget::UpdateClipFrameRanges()
{
    mClipFrameRanges.clear();
    if (!mTimeline)
    {
        return;
    }
    int first = 0;
    for (int const count : mTimeline->FramesPerClip())
    {
        mClipFrameRanges.append({first, first + count - 1, count});
        first += count;
    }
}

void TimeControlBaseWidget::UpdateBookmarks()
{
    mFrameBookmarks.clear();
    mAnnotatedFrames.clear();
    mRangeBookmarks.clear();
    if (mTimeline)
    {
        for (FrameBookmark const* const bookmark : mTimeline->FrameBookmarkList())
        {
            if (!bookmark || bookmark->timelineFrame < 0)
            {
                continue;
            }
            bool const annotated = !bookmark->strokes.isEmpty();
            mFrameBookmarks.append({bookmark->timelineFrame, annotated});
            if (annotated)
            {
                mAnnotatedFrames.insert(bookmark->timelineFrame);
            }
        }
        std::sort(mFrameBookmarks.begin(), mFrameBookmarks.end(),
                  [](FrameBookmarkMark const& a, FrameBookmarkMark const& b) { return a.frame < b.frame; });
        for (RangeBookmark const* const bookmark : mTimeline->RangeBookmarkList())
        {
            mRangeBookmarks.insert(bookmark->startFrame, bookmark->endFrame);
        }
    }
    RepaintTimeline();
}

void TimeControlBaseWidget::UpdateCache()
{
    int start = -1;
    int end = -1;
    if (mTimeline)
    {
        long long const startTime = mTimeline->VideoCacheAdjustedStartTime();
        long long const endTime = mTimeline->VideoCacheAdjustedEndTime();
        if (startTime >= 0 && endTime >= startTime)
        {
            start = mTimeline->FrameAtTime(startTime);
            end = mTimeline->FrameAtTime(endTime);
        }
    }
    if (start == mCacheStart && end == mCacheEnd)
    {
        return;
    }
    mCacheStart = start;
    mCacheEnd = end;
    if (mCacheVisibleSetting && *mCacheVisibleSetting)
    {
        RepaintTimeline();
    }
}

// ---- OpenGL viewer entry points ----

void TimeControlBaseWidget::UpdateGeometryGL(int width, QPoint const& position)
{
    resize(std::max(width, 1), height());
    mUnderMouseFromViewer = false;
    mViewerPosition = position;
    UpdateGeometry(width);
}

void TimeControlBaseWidget::PaintGL(QPainter& painter)
{
    DoPaint(painter);
}

void TimeControlBaseWidget::ViewerMousePressEvent(QMouseEvent* event)
{
    mousePressEvent(event);
}

void TimeControlBaseWidget::ViewerMouseReleaseEvent(QMouseEvent* event)
{
    mouseReleaseEvent(event);
}

void TimeControlBaseWidget::ViewerMouseMoveEvent(QMouseEvent* event)
{
    mouseMoveEvent(event);
}

void TimeControlBaseWidget::SetViewerMousePosOffsetY(int offset)
{
    mViewerMouseYOffset = offset;
}

void TimeControlBaseWidget::SetUnderMouseFromViewer(bool underMouse)
{
    if (underMouse != mUnderMouseFromViewer)
    {
        mUnderMouseFromViewer = underMouse;
        RepaintTimeline();
    }
}

void TimeControlBaseWidget::SetHwMouseOffset(QPoint const& offset)
{
    mHwMouseOffset = offset;
}

void TimeControlBaseWidget::OnVisibilityChangedGL(bool visible)
{
    SetCachePollWanted(visible);
}

void TimeControlBaseWidget::SetCachePollWanted(bool wanted)
{
    mCachePollWanted = wanted;
    if (wanted)
    {
        UpdateCache();
        mCacheTimer.start();
    }
    else
    {
        mCacheTimer.stop();
    }
}

void TimeControlBaseWidget::ResumeCachePoll()
{
    // Restarted even when running: a tick that comes a whole interval after
    // the engine was woken finds it awake.
    if (mCachePollWanted)
    {
        mCacheTimer.start();
    }
}

void TimeControlBaseWidget::PollCache()
{
    int const start = mCacheStart;
    int const end = mCacheEnd;
    UpdateCache();
    bool const settled = mCacheStart == start && mCacheEnd == end;
    if (settled && mAvManager && !mAvManager->IsPlaying() && mAvManager->DecodingIdle(mTimeline))
    {
        mCacheTimer.stop();
    }
}

// ---- Context menu ----

QMenu* TimeControlBaseWidget::ContextMenu(QPoint const& pos)
{
    if (QGuiApplication::mouseButtons() != Qt::NoButton)
    {
        return nullptr;
    }
    if (!mContextMenu)
    {
        mContextMenu = new QMenu(this);
        auto add = [this](QString const& text, auto slot) {
            QAction* const action = mContextMenu->addAction(text);
            connect(action, &QAction::triggered, this, slot);
            mContextMenuActions.append(action);
            return action;
        };
        add(QString(), &TimeControlBaseWidget::SetRangeStartFromSender);
        add(QString(), &TimeControlBaseWidget::SetRangeEndFromSender);
        add(QStringLiteral("Reset Playback Range"), &TimeControlBaseWidget::ResetRange);
        mContextMenu->addSeparator();
        auto* const formats = new QActionGroup(mContextMenu);
        QList<QPair<QString, TimeControlDisplayFormat>> const formatItems {
            {QStringLiteral("Frame Numbers (Global)"), TimeControlDisplayFormat::GlobalFrames},
            {QStringLiteral("Frame Numbers (Range)"), TimeControlDisplayFormat::RangeFrames},
            {QStringLiteral("Time Code"), TimeControlDisplayFormat::TimeCode},
            {QStringLiteral("Seconds"), TimeControlDisplayFormat::Seconds}};
        for (auto const& item : formatItems)
        {
            QAction* const action = add(item.first, &TimeControlBaseWidget::SetDisplayTypeFromSender);
            action->setCheckable(true);
            action->setData(static_cast<int>(item.second));
            formats->addAction(action);
        }
        mContextMenu->addSeparator();
        add(QString(), &TimeControlBaseWidget::TogglePosition);
        mContextMenu->addSeparator();
        add(QString(), &TimeControlBaseWidget::ToggleFrameBookmarkVisibility);
        if (mRangeBookmarksVisibleSetting)
        {
            add(QString(), &TimeControlBaseWidget::ToggleRangeBookmarkVisibility);
        }
        else
        {
            mContextMenuActions.append(nullptr);
        }
        add(QString(), &TimeControlBaseWidget::ToggleCacheVisibility);
    }

    int const frame = FrameAtPosition(pos.x());
    bool const current = frame == mPlaybackFrame;
    QString const frameText = FrameToDisplayFormat(frame, true);
    QAction* const startAction = mContextMenuActions.at(RangeStartItem);
    startAction->setText(current ? QStringLiteral("Range Start to Current")
                                 : QStringLiteral("Range Start to ") + frameText);
    startAction->setData(current ? mPlaybackFrame : frame);
    QAction* const endAction = mContextMenuActions.at(RangeEndItem);
    endAction->setText(current ? QStringLiteral("Range End to Current") : QStringLiteral("Range End to ") + frameText);
    endAction->setData(current ? mPlaybackFrame : frame);
    for (int item = GlobalFramesItem; item <= SecondsItem; ++item)
    {
        QAction* const action = mContextMenuActions.at(item);
        action->setChecked(action->data().toInt() == static_cast<int>(mDisplayFormat));
    }
    bool const top = mPositionTopSetting && *mPositionTopSetting;
    mContextMenuActions.at(PositionItem)->setText(QStringLiteral("Move to %1").arg(top ? "Bottom" : "Top"));
    auto showHide = [](bool* setting) {
        return setting && *setting ? QStringLiteral("Hide") : QStringLiteral("Show");
    };
    mContextMenuActions.at(FrameBookmarksItem)
        ->setText(QStringLiteral("%1 Frame Bookmarks").arg(showHide(mFrameBookmarksVisibleSetting)));
    if (QAction* const action = mContextMenuActions.at(RangeBookmarksItem))
    {
        action->setText(QStringLiteral("%1 Range Bookmarks").arg(showHide(mRangeBookmarksVisibleSetting)));
    }
    mContextMenuActions.at(CacheItem)->setText(QStringLiteral("%1 Cache").arg(showHide(mCacheVisibleSetting)));
    return mContextMenu;
}

void TimeControlBaseWidget::ShowContextMenu(QPoint const& pos)
{
    if (QMenu* const menu = ContextMenu(pos))
    {
        menu->popup(mapToGlobal(pos + mHwMouseOffset));
    }
}

// ---- Mouse ----

QPoint TimeControlBaseWidget::EventPosition(QMouseEvent const* event) const
{
    QPoint position = event->position().toPoint();
    position.ry() -= mViewerMouseYOffset;
    return position;
}

bool TimeControlBaseWidget::DragTimelineIsCurrent() const
{
    return mDragTimeline && mDragTimeline == mTimeline;
}

void TimeControlBaseWidget::UpdateHover(QPoint const& pos)
{
    mHoverStartHandle = mRangeStartHandle.contains(pos);
    mHoverEndHandle = mRangeEndHandle.contains(pos);
    mHoverRange = mRangeRect.contains(pos) || (mHoverStartHandle && mHoverEndHandle);
}

void TimeControlBaseWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !mTimeline)
    {
        return;
    }
    QPoint const pos = EventPosition(event);
    mAnchorX = pos.x();
    mDragTimeline = mTimeline;
    int const frame = FrameAtPosition(pos.x());
    bool const wholeSpan = mRangeStart == StartFrame() && mRangeEnd == EndFrame();
    if (mHoverRange && !wholeSpan)
    {
        mPressFrame = frame;
        mRangeAtPressStart = mRangeStart;
        mRangeAtPressEnd = mRangeEnd;
        mDraggingRange = true;
    }
    else if (mHoverStartHandle)
    {
        mDraggingStartHandle = true;
        if (mHandleDragWithoutSeek)
        {
            return;
        }
    }
    else if (mHoverEndHandle)
    {
        mDraggingEndHandle = true;
        if (mHandleDragWithoutSeek)
        {
            return;
        }
    }
    if (!mBarRect.contains(pos))
    {
        return;
    }
    if (mAvManager && mAvManager->IsPlaying())
    {
        if (Settings::pausePlaybackOnSeek || !mPlaybackControl)
        {
            mAvManager->Pause(DecodeBias::None);
        }
        else
        {
            mPlaybackControl->SetLeftMousePauseEnabled(true);
        }
    }
    if (mDraggingStartHandle)
    {
        mGrabOffset = mAnchorX - PositionAtFrame(mRangeStart);
        SeekToFrame(mRangeStart);
    }
    else if (mDraggingEndHandle)
    {
        mEndGrabOffset = mAnchorX - PositionAtFrame(mRangeEnd);
        SeekToFrame(mRangeEnd);
    }
    else
    {
        SeekToFrame(frame);
    }
    mLeftPressed = true;
}

void TimeControlBaseWidget::mouseMoveEvent(QMouseEvent* event)
{
    QPoint const pos = EventPosition(event);
    bool const gesture = mLeftPressed || IsDragging();
    if (event->buttons() == Qt::NoButton && !gesture)
    {
        UpdateHover(pos);
        UpdateCursor();
        RepaintTimeline();
        return;
    }
    if (!gesture)
    {
        QWidget::mouseMoveEvent(event);
        return;
    }
    if (!(event->buttons() & Qt::LeftButton))
    {
        // The release went elsewhere: the gesture is over all the same.
        EndGesture(pos);
        return;
    }
    // A gesture acts only on the timeline it began on.
    if (DragTimelineIsCurrent())
    {
        LeftMouseDragUpdate(pos.x(), event->modifiers());
    }
}

void TimeControlBaseWidget::EndGesture(QPoint const& pos)
{
    if (mRangeChangedInDrag && mDragTimeline)
    {
        int const start = mDragTimeline->PlaybackRangeStartFrame();
        int const end = mDragTimeline->PlaybackRangeEndFrame();
        if (start != mRangeAtDragStartStart || end != mRangeAtDragStartEnd)
        {
            CommitRange(mDragTimeline, start, end, mRangeAtDragStartStart, mRangeAtDragStartEnd);
        }
    }
    mRangeChangedInDrag = false;
    mRangeAtDragStartStart = -1;
    mRangeAtDragStartEnd = -1;
    mDraggingRange = false;
    mDraggingStartHandle = false;
    mDraggingEndHandle = false;
    mDragTimeline = nullptr;
    mHoverStartHandle = mRangeStartHandle.contains(pos);
    mHoverEndHandle = mRangeEndHandle.contains(pos);
    if (mPlaybackControl && mPlaybackControl->IsLeftMousePauseEnabled())
    {
        mPlaybackControl->SetLeftMousePauseEnabled(false);
    }
    mLeftPressed = false;
    UpdateCursor();
    RepaintTimeline();
}

void TimeControlBaseWidget::mouseReleaseEvent(QMouseEvent* event)
{
    // Whatever happened to the timeline meanwhile, a release ends the gesture.
    if (event->button() == Qt::LeftButton)
    {
        EndGesture(EventPosition(event));
    }
}

void TimeControlBaseWidget::leaveEvent(QEvent* event)
{
    mHoverRange = false;
    mHoverStartHandle = false;
    mHoverEndHandle = false;
    UpdateCursor();
    RepaintTimeline();
    QWidget::leaveEvent(event);
}

// ---- Painting and geometry ----

void TimeControlBaseWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DoPaint(painter);
}

void TimeControlBaseWidget::DoPaint(QPainter& painter)
{
    if (!mTimeline && !mLastPicture.isNull())
    {
        painter.drawPixmap(0, 0, mLastPicture);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(Settings::timeControlFont);
    painter.fillRect(mBarRect, BackgroundColor());
}

void TimeControlBaseWidget::PaintTime(QPainter& painter, int frame, bool playhead)
{
    using namespace TimeControlColors;
    bool const annotated = mAnnotatedFrames.contains(frame);
    int const x = PositionAtFrame(frame);
    int const frameWidth = FrameWidth(frame);
    QColor const marker = playhead ? (annotated ? AnnotationGreen : PlayheadWhite) : HoverGrey;
    QColor const cell = playhead ? (annotated ? CellGreen : CellWhite) : HoverCell;
    painter.fillRect(QRect(x, mMarkerY, 2, mMarkerHeight), marker);
    if (frameWidth >= 3)
    {
        int const right = frame >= EndFrame() ? mTimelineRect.right() : x + frameWidth - 1;
        painter.fillRect(QRect(QPoint(x + 2, mCellTop), QPoint(right, mCellBottom)), cell);
    }
    painter.setPen(marker);
    painter.drawText(QRect(QPoint(x - 100, 0), QPoint(x + 99, mTimeTextBottom)), Qt::AlignCenter,
                     FrameToDisplayFormat(frame, true));
}

void TimeControlBaseWidget::PaintFrameBookmarks(QPainter& painter, bool rangeOnly)
{
    if (!mFrameBookmarksVisibleSetting || !*mFrameBookmarksVisibleSetting)
    {
        return;
    }
    int previousX = INT_MIN;
    for (FrameBookmarkMark const& bookmark : std::as_const(mFrameBookmarks))
    {
        if (rangeOnly && (bookmark.frame < mRangeStart || bookmark.frame > mRangeEnd))
        {
            continue;
        }
        int const x = PositionAtFrame(bookmark.frame);
        if (x == previousX)
        {
            continue;
        }
        previousX = x;
        QColor const color =
            bookmark.hasAnnotation ? TimeControlColors::AnnotationGreen : TimeControlColors::BookmarkGrey;
        painter.fillRect(QRect(x, mMarkerY, 1, mMarkerHeight), color);
        QPainterPath triangle;
        triangle.moveTo(x, mMarkerY);
        triangle.lineTo(x - 3, mMarkerY - 3);
        triangle.lineTo(x + 4, mMarkerY - 3);
        triangle.closeSubpath();
        painter.fillPath(triangle, color);
    }
}

void TimeControlBaseWidget::PaintCachedSpan(QPainter& painter, int top, int bottom)
{
    if (mCacheStart < 0 || mCacheEnd < 0 || !mCacheVisibleSetting || !*mCacheVisibleSetting)
    {
        return;
    }
    int const x0 = std::max(PositionAtFrame(std::max(mCacheStart, StartFrame())), mTimelineRect.left());
    int const x1 = std::min(PositionAtFrame(std::min(mCacheEnd, EndFrame()) + 1), mTimelineRect.right() + 1);
    if (x1 > x0)
    {
        painter.fillRect(QRect(QPoint(x0, top), QPoint(x1 - 1, bottom)), TimeControlColors::CacheBlue);
    }
}

void TimeControlBaseWidget::LeftMouseDragUpdate(int, Qt::KeyboardModifiers)
{
}

void TimeControlBaseWidget::UpdateRangeGeometry()
{
}

QColor TimeControlBaseWidget::BackgroundColor() const
{
    return QColor(0, 0, 0);
}

void TimeControlBaseWidget::UpdateCursor()
{
}

void TimeControlBaseWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (Settings::HardwareRenderingInUse())
    {
        return; // the OpenGL viewer gives the geometry
    }
    UpdateGeometry(-1);
}

void TimeControlBaseWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    SetCachePollWanted(true);
}

void TimeControlBaseWidget::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    SetCachePollWanted(false);
}
