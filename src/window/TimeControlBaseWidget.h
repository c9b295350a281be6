#pragma once

#include "window/TimeControlDisplayFormat.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QMultiMap>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <iterator>
#include <memory>

class AvManager;
class QPainter;
class PlaybackControlWidget;
class ProjectManager;
class QAction;
class QMenu;
class Timeline;
struct VideoFrame;

// The colours of the time bars.
namespace TimeControlColors
{
inline QColor const DarkGrey {64, 64, 64, 255};
inline QColor const Grey74 {74, 74, 74, 255};
inline QColor const Light {200, 200, 200, 255};
inline QColor const SliderGrey {140, 140, 140, 255};
inline QColor const SliderGrey160 {160, 160, 160, 255};
inline QColor const CacheBlue {0, 54, 143, 127};
inline QColor const RangeBookmarkYellow {200, 200, 0, 127};
inline QColor const BookmarkGrey {200, 200, 200, 200};
inline QColor const AnnotationGreen {30, 200, 30, 200};
inline QColor const PlayheadWhite {255, 255, 255, 200};
inline QColor const CellWhite {255, 255, 255, 127};
inline QColor const CellGreen {30, 200, 30, 127};
inline QColor const HoverGrey {200, 200, 200, 90};
inline QColor const HoverCell {200, 200, 200, 70};
} // namespace TimeControlColors

// The base of the monitor's two time bars. It follows the engine's primary
// timeline, keeps playhead, range, clips, cache and bookmarks in frames, maps
// frames to x positions and back exactly, prints frame numbers in four
// formats, seeks, scrubs and drags the range with the left button (a drag is
// one undo step on release) and offers a context menu. Under hardware
// rendering the OpenGL viewer paints the bar inside its own frame and
// forwards mouse events to it through the GL entry points.
class TimeControlBaseWidget : public QWidget
{
    Q_OBJECT

public:
    struct ClipFrameRange
    {
        int first = 0;
        int last = 0;
        int count = 0;
    };

    struct FrameBookmarkMark
    {
        int frame = 0;
        bool hasAnnotation = false;
    };

    TimeControlBaseWidget(ProjectManager* projectManager, PlaybackControlWidget* playbackControl,
                          QWidget* parent = nullptr);
    ~TimeControlBaseWidget() override;

    // Exact mapping of N = end - start + 1 frames over W = right - left + 1
    // pixels, in 64-bit integers: pixel x is frame start + floor((x - left) N / W)
    // clamped to [start, end]; frame f starts at left + ceil((f - start) W / N).
    static int FrameAtPosition(int x, int left, int right, int start, int end);
    static int PositionAtFrame(int frame, int left, int right, int start, int end);

    virtual int StartFrame() const;
    virtual int EndFrame() const;

    Timeline* TimelinePtr() const;
    int PlaybackFrame() const;
    int RangeStartFrame() const;
    int RangeEndFrame() const;
    int TimelineEndFrame() const;
    int CacheStartFrame() const;
    int CacheEndFrame() const;
    // The cache span is being polled: shown, and the cache may still change.
    bool CachePollActive() const;
    int DisplayedFrameOffset() const;
    // Start and end time (µs) of the picture last shown for the followed
    // timeline; -1, -1 before one is shown.
    long long DisplayedFrameStartTime() const;
    long long DisplayedFrameEndTime() const;
    QRect EditRangeStartRect() const;
    QRect EditRangeEndRect() const;
    QRect TimelineRect() const;
    QRect BarRect() const;
    QRect RangeRect() const;
    bool AudioScrubOnDragEnabled() const;
    bool AudioScrubOnFrameStepEnabled() const;
    QPoint CursorPosition() const;
    TimeControlDisplayFormat DisplayFormat() const;
    bool IsDragging() const;
    QList<ClipFrameRange> const& ClipFrameRanges() const;
    QList<FrameBookmarkMark> const& FrameBookmarks() const;

    void SetDisplayFormatSetting(int* setting);
    void SetPositionTopSetting(bool* setting);
    void SetBookmarksVisibleSettings(bool* frameBookmarks, bool* rangeBookmarks);
    void SetCacheVisibleSetting(bool* setting);

    void SetPlaybackTime(long long time, bool playAudio, bool onlyWhenCached, bool audioForward);
    void SetPlaybackTimeByFrame(int frame, bool playAudio, bool onlyWhenCached);

    QString FrameToDisplayFormat(int frame, bool withOffset) const;

    int FrameAtPosition(int x) const;
    int PositionAtFrame(int frame) const;
    int FrameWidth(int frame) const;

    // Entry points of the OpenGL viewer, which paints the bar in its frame.
    void UpdateGeometryGL(int width, QPoint const& position);
    void PaintGL(QPainter& painter);
    void ViewerMousePressEvent(QMouseEvent* event);
    void ViewerMouseReleaseEvent(QMouseEvent* event);
    void ViewerMouseMoveEvent(QMouseEvent* event);
    void SetViewerMousePosOffsetY(int offset);
    void SetUnderMouseFromViewer(bool underMouse);

    // The context menu for a position (built on first use, updated for the
    // position); null while a mouse button is held.
    QMenu* ContextMenu(QPoint const& pos);

Q_SIGNALS:
    void TogglePositionRequested(TimeControlBaseWidget* widget);
    void PlaybackFrameChanged(int frame, int offset);
    void UpdateRequested();

public Q_SLOTS:
    void SetPlaybackRangeByFrame(int start, int end);
    void RangeStartToCurrent();
    void RangeEndToCurrent();
    void SetRangeStartFromSender();
    void SetRangeEndFromSender();
    void ResetRange();
    void SetRangeToPreviousRangeBookmark();
    void SetRangeToNextRangeBookmark();
    void ToggleFrameBookmark();
    void ToggleRangeBookmark();
    void RemoveBookmarks(bool frameBookmarks, bool rangeBookmarks, bool onlyInRange, QString const& macroName);
    void SetDisplayFormat(TimeControlDisplayFormat format);
    void SetDisplayTypeFromSender();
    void RepaintTimeline();
    void TogglePosition();
    void ToggleFrameBookmarkVisibility();
    void ToggleRangeBookmarkVisibility();
    void ToggleCacheVisibility();
    void OnPlaybackFrameChanged(int frame);
    void OnPlaybackEndTimeChanged(long long time);
    void OnPlaybackRangeChanged(long long startTime, long long endTime);
    void OnPrimaryTimelineChanged(Timeline* timeline, bool notSwitching);
    void OnVideoFrameChanged(int outputId, std::shared_ptr<VideoFrame> frame);
    void OnTimelineUpdated();
    void UpdateClipFrameRanges();
    void UpdateBookmarks();
    void UpdateCache();
    void SetHwMouseOffset(QPoint const& offset);
    void OnVisibilityChangedGL(bool visible);
    void ShowContextMenu(QPoint const& pos);
    // The engine may change the cache again: polling resumes while shown.
    void ResumeCachePoll();

protected:
    virtual void DoPaint(QPainter& painter);
    virtual void LeftMouseDragUpdate(int x, Qt::KeyboardModifiers modifiers);
    virtual void UpdateGeometry(int width) = 0;
    virtual void UpdateRangeGeometry();
    virtual QColor BackgroundColor() const;
    virtual void UpdateCursor();

    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

    // In a list sorted by key: the key of the first item after current, or
    // (next false) of the last item before it, wrapping around past either
    // end. The list must not be empty.
    template <typename List, typename Key, typename KeyOf>
    static Key WrappedNeighbour(List const& sorted, Key const& current, bool next, KeyOf keyOf)
    {
        if (next)
        {
            auto const it = std::upper_bound(sorted.cbegin(), sorted.cend(), current,
                                             [&](Key const& key, auto const& item) { return key < keyOf(item); });
            return keyOf(it != sorted.cend() ? *it : sorted.constFirst());
        }
        auto const it = std::lower_bound(sorted.cbegin(), sorted.cend(), current,
                                         [&](auto const& item, Key const& key) { return keyOf(item) < key; });
        return keyOf(it != sorted.cbegin() ? *std::prev(it) : sorted.constLast());
    }

    // The playhead's or the hover's mark for a frame: its marker, its cell on
    // the scale and its time above.
    void PaintTime(QPainter& painter, int frame, bool playhead);
    // The frame bookmarks (with rangeOnly, those inside the range), when shown.
    void PaintFrameBookmarks(QPainter& painter, bool rangeOnly);
    // The cached frames the scale shows, between rows top and bottom, when shown.
    void PaintCachedSpan(QPainter& painter, int top, int bottom);

    // Takes on the engine's current primary timeline; for a bar made while
    // a timeline is open already.
    void FollowPrimaryTimeline();
    // Moves the playhead to a frame as a seek from the bar (pausing first
    // when the settings ask for it).
    void SeekToFrame(int frame);
    // Whether this press/drag gesture still acts on the timeline it began on.
    bool DragTimelineIsCurrent() const;
    bool IsUnderMouse() const;
    int MaximumFrame() const;

    ProjectManager* mProjectManager;
    AvManager* mAvManager;
    PlaybackControlWidget* mPlaybackControl;
    QPointer<Timeline> mTimeline;
    QList<ClipFrameRange> mClipFrameRanges;
    QList<FrameBookmarkMark> mFrameBookmarks;
    QSet<int> mAnnotatedFrames;
    QMultiMap<int, int> mRangeBookmarks;
    int mPlaybackFrame = -1;
    long long mEndTime = 0;
    int mEndFrame = 0;
    int mRangeStart = 0;
    int mRangeEnd = 0;
    bool mRangeChangedInDrag = false;
    int mRangeAtDragStartStart = -1;
    int mRangeAtDragStartEnd = -1;
    long long mDisplayedFrameStart = -1;
    long long mDisplayedFrameEnd = -1;
    int mCacheStart = -1;
    int mCacheEnd = -1;
    TimeControlDisplayFormat mDisplayFormat = TimeControlDisplayFormat::GlobalFrames;
    int* mDisplayFormatSetting = nullptr;
    bool* mPositionTopSetting = nullptr;
    bool* mFrameBookmarksVisibleSetting = nullptr;
    bool* mRangeBookmarksVisibleSetting = nullptr;
    bool* mCacheVisibleSetting = nullptr;
    QRect mBarRect;
    int mBarWidth = 0;
    QRect mTimelineRect;
    QRect mRangeRect;
    QRect mLeftTextRect;
    QRect mRightTextRect;
    QRect mRangeStartHandle;
    QRect mRangeEndHandle;
    bool mHandleDragWithoutSeek = false;
    bool mHoverRange = false;
    bool mHoverStartHandle = false;
    bool mHoverEndHandle = false;
    bool mDraggingRange = false;
    bool mDraggingStartHandle = false;
    bool mDraggingEndHandle = false;
    bool mLeftPressed = false;
    int mAnchorX = 0;
    int mGrabOffset = 0;
    int mEndGrabOffset = 0;
    int mPressFrame = 0;
    int mRangeAtPressStart = 0;
    int mRangeAtPressEnd = 0;
    int mMarkerY = 0;
    // Set by UpdateGeometry: the height of the marks from mMarkerY down, the
    // rows a frame's cell fills and the bottom of the time text.
    int mMarkerHeight = 0;
    int mCellTop = 0;
    int mCellBottom = 0;
    int mTimeTextBottom = 0;
    // The timeline a press began on: moves and the release's command go to it.
    QPointer<Timeline> mDragTimeline;
    QMenu* mContextMenu = nullptr;
    QList<QAction*> mContextMenuActions;
    QTimer mCacheTimer;
    // Shown (as a widget or in the viewer): the cache span is followed.
    bool mCachePollWanted = false;
    QPixmap mLastPicture;
    int mViewerMouseYOffset = 0;
    QPoint mViewerPosition;
    bool mUnderMouseFromViewer = false;
    QPoint mHwMouseOffset;

private:
    // Polls the cache span; stops once it has settled with the clock
    // stopped and the decoding asleep (ResumeCachePoll starts it again).
    void PollCache();
    void SetCachePollWanted(bool wanted);
    void SetRangeToNeighbourRangeBookmark(bool next);
    void ToggleSetting(bool* setting);
    void CommitRange(Timeline* timeline, int start, int end, int previousStart, int previousEnd);
    void ReadRangeFromTimeline();
    void UpdateHover(QPoint const& pos);
    void EndGesture(QPoint const& pos);
    QPoint EventPosition(QMouseEvent const* event) const;
    void DisconnectTimeline();
    QList<QMetaObject::Connection> mTimelineConnections;
};
