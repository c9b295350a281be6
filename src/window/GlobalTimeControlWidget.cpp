#include "window/GlobalTimeControlWidget.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/Timeline.h"

#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cmath>

using namespace TimeControlColors;

namespace
{
constexpr long long LOOP_END_MARGIN_US = 1000;
constexpr long long STEP_BACK_MARGIN_US = 100;
} // namespace

GlobalTimeControlWidget::GlobalTimeControlWidget(ProjectManager* projectManager,
                                                 PlaybackControlWidget* playbackControl, QWidget* parent)
    : TimeControlBaseWidget(projectManager, playbackControl, parent)
{
    setFixedHeight(40);
    SetDisplayFormatSetting(&Settings::globalTimeControlDisplayFormat);
    SetPositionTopSetting(&Settings::globalTimeControlPositionTop);
    SetBookmarksVisibleSettings(&Settings::globalTimeControlFrameBookmarksVisible,
                                &Settings::globalTimeControlRangeBookmarksVisible);
    SetCacheVisibleSetting(&Settings::globalTimeControlCacheVisible);
    UpdateGeometry(-1);
    FollowPrimaryTimeline();
}

float GlobalTimeControlWidget::Fps() const
{
    return mFps;
}

float GlobalTimeControlWidget::PlaybackSpeedMultiplier() const
{
    return mSpeedMultiplier;
}

bool GlobalTimeControlWidget::IsSteppedPlaybackEnabled() const
{
    return mSteppedPlayback;
}

// ---- Geometry ----

void GlobalTimeControlWidget::UpdateGeometry(int width)
{
    int const h = height();
    int const w = width >= 1 ? width : this->width();
    int const c = 3 * h / 4;
    mBarWidth = w;
    mBarRect = QRect(QPoint(0, 0), QPoint(w - 1, h - 1));
    mTimelineRect = QRect(QPoint(106, c - 3), QPoint(w - 108, c + 2));
    mMarkerY = c - 5;
    mMarkerHeight = 10;
    mCellTop = mTimelineRect.top();
    mCellBottom = mTimelineRect.bottom();
    mTimeTextBottom = h / 2 - 1;
    mLeftTextRect = QRect(QPoint(6, 0), QPoint(99, h - 1));
    mRightTextRect = QRect(QPoint(w - 94, 0), QPoint(w - 7, h - 1));
    UpdateRangeGeometry();
}

void GlobalTimeControlWidget::UpdateRangeGeometry()
{
    int const c = 3 * height() / 4;
    int const xs = PositionAtFrame(mRangeStart);
    int const xe = PositionAtFrame(mRangeEnd + 1);
    mRangeRect = QRect(QPoint(xs, c - 4), QPoint(xe - 1, c + 3));
    mInnerRangeRect = QRect(QPoint(xs + 2, c - 5), QPoint(xe - 2, c + 4));
    mRangeStartHandle = QRect(QPoint(xs - 8, c - 6), QPoint(xs + 1, c + 5));
    mRangeEndHandle = QRect(QPoint(xe - 2, c - 6), QPoint(xe + 7, c + 5));
    int const my = mMarkerY;
    mStartTriangle = QPainterPath();
    mStartTriangle.moveTo(xs - 14, my + 5);
    mStartTriangle.lineTo(xs, my - 2);
    mStartTriangle.lineTo(xs, my + 12);
    mStartTriangle.closeSubpath();
    mEndTriangle = QPainterPath();
    mEndTriangle.moveTo(xe + 15, my + 5);
    mEndTriangle.lineTo(xe + 1, my - 2);
    mEndTriangle.lineTo(xe + 1, my + 12);
    mEndTriangle.closeSubpath();
}

// ---- Painting ----

void GlobalTimeControlWidget::DoPaint(QPainter& painter)
{
    TimeControlBaseWidget::DoPaint(painter);
    if (!mTimeline || mEndTime < 1)
    {
        return;
    }
    QRect const scale = mTimelineRect;
    bool const wholeSpan = mRangeStart == StartFrame() && mRangeEnd == EndFrame();

    // 1. Clip stripes on the frame scale.
    PaintClipStripes(painter);

    // 2. The range slider.
    PaintRangeSlider(painter, wholeSpan);

    // 3. The cached span.
    PaintCachedSpan(painter, scale.top() + 3, scale.bottom());

    // 4. Range bookmarks under the scale.
    if (mRangeBookmarksVisibleSetting && *mRangeBookmarksVisibleSetting)
    {
        for (auto it = mRangeBookmarks.cbegin(); it != mRangeBookmarks.cend(); ++it)
        {
            int const x0 = PositionAtFrame(it.key());
            int const x1 = PositionAtFrame(it.value() + 1) - 1;
            painter.fillRect(QRect(QPoint(x0, scale.bottom() + 1), QPoint(x1, scale.bottom() + 2)),
                             RangeBookmarkYellow);
        }
    }

    // 5. Range ticks.
    painter.fillRect(QRect(mRangeRect.left(), mMarkerY, 2, mMarkerHeight), SliderGrey);
    painter.fillRect(QRect(mRangeRect.right() - 1, mMarkerY, 2, mMarkerHeight), SliderGrey);

    // 6. Handles.
    if ((mHoverRange && !wholeSpan) || mHoverStartHandle)
    {
        painter.fillPath(mStartTriangle, Light);
        painter.fillRect(QRect(mRangeRect.left(), mMarkerY - 2, 2, 14), Light);
    }
    if ((mHoverRange && !wholeSpan) || mHoverEndHandle)
    {
        painter.fillPath(mEndTriangle, Light);
        painter.fillRect(QRect(mRangeRect.right() - 1, mMarkerY - 2, 2, 14), Light);
    }

    // 7. Frame bookmarks.
    PaintFrameBookmarks(painter, false);

    // 8. Texts.
    PaintTimes(painter, wholeSpan);
    PaintRangeLength(painter);
    PaintPlaybackInfo(painter);
}

void GlobalTimeControlWidget::PaintClipStripes(QPainter& painter)
{
    QRect const scale = mTimelineRect;
    int const clipCount = static_cast<int>(mClipFrameRanges.size());
    if (clipCount < 2)
    {
        painter.fillRect(scale, DarkGrey);
    }
    else
    {
        for (int i = 0; i < clipCount; ++i)
        {
            int const x = PositionAtFrame(mClipFrameRanges.at(i).first);
            painter.fillRect(QRect(QPoint(x, scale.top()), QPoint(scale.right(), scale.bottom())),
                             i % 2 == 0 ? DarkGrey : Grey74);
        }
    }
}

void GlobalTimeControlWidget::PaintRangeSlider(QPainter& painter, bool wholeSpan)
{
    int const clipCount = static_cast<int>(mClipFrameRanges.size());
    if (mHoverRange && !wholeSpan)
    {
        painter.fillRect(mInnerRangeRect, Light);
    }
    if (clipCount < 2)
    {
        painter.fillRect(mRangeRect, SliderGrey);
    }
    else
    {
        for (int i = 0; i < clipCount; ++i)
        {
            ClipFrameRange const& clip = mClipFrameRanges.at(i);
            if (clip.last < mRangeStart || clip.first > mRangeEnd)
            {
                continue;
            }
            int const x = clip.first <= mRangeStart ? mRangeRect.left() : PositionAtFrame(clip.first);
            painter.fillRect(QRect(QPoint(x, mRangeRect.top()), QPoint(mRangeRect.right(), mRangeRect.bottom())),
                             i % 2 == 0 ? SliderGrey : SliderGrey160);
        }
    }
}

void GlobalTimeControlWidget::PaintTimes(QPainter& painter, bool wholeSpan)
{
    QFont font = painter.font();
    font.setPointSize(15);
    painter.setFont(font);
    int const hoverFrame = FrameAtPosition(CursorPosition().x());
    bool const leftOnly = QGuiApplication::mouseButtons() == Qt::LeftButton;
    bool const handleHovered = (mHoverRange && !wholeSpan) || mHoverStartHandle || mHoverEndHandle;
    if (IsUnderMouse() && !leftOnly && !handleHovered && hoverFrame != mPlaybackFrame)
    {
        PaintTime(painter, hoverFrame, false);
    }
    if (mPlaybackFrame >= 0)
    {
        PaintTime(painter, mPlaybackFrame, true);
    }
    if (!wholeSpan && mPlaybackFrame >= 0)
    {
        long long const number = mDisplayFormat == TimeControlDisplayFormat::RangeFrames
                                     ? mPlaybackFrame
                                     : static_cast<long long>(DisplayedFrameOffset()) + mPlaybackFrame - mRangeStart;
        painter.setPen(PlayheadWhite);
        painter.drawText(QRect(mLeftTextRect.left(), mLeftTextRect.top(), mLeftTextRect.width(), height() / 2),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::number(number));
    }
}

void GlobalTimeControlWidget::PaintRangeLength(QPainter& painter)
{
    QFont font = painter.font();
    font.setPointSize(8);
    painter.setFont(font);
    painter.setPen(SliderGrey);
    int const length = mRangeEnd - mRangeStart + 1;
    QString lengthText;
    switch (mDisplayFormat)
    {
    case TimeControlDisplayFormat::GlobalFrames:
    case TimeControlDisplayFormat::RangeFrames:
        lengthText = QString::number(length) + QStringLiteral(" frames");
        break;
    case TimeControlDisplayFormat::TimeCode:
        lengthText = FrameToDisplayFormat(length, false);
        break;
    case TimeControlDisplayFormat::Seconds:
    default:
        lengthText = FrameToDisplayFormat(length, false) + QStringLiteral(" sec");
        break;
    }
    painter.drawText(QRect(QPoint(mLeftTextRect.left(), 21), QPoint(mLeftTextRect.right(), 40)),
                     Qt::AlignLeft | Qt::AlignVCenter, lengthText);
}

void GlobalTimeControlWidget::PaintPlaybackInfo(QPainter& painter)
{
    QRect const info(QPoint(mRightTextRect.left(), 21), QPoint(mRightTextRect.right(), 40));
    double const rate = mTimeline->FrameRateAtFrame(mPlaybackFrame, 0);
    QStringList texts {QString::number(rate, 'f', 2)};
    QColor secondColor = SliderGrey;
    if (mSteppedPlayback)
    {
        secondColor = Light;
        texts << QStringLiteral("Stepped");
    }
    else if (mSpeedMultiplier != 1.0f)
    {
        secondColor = Light;
        texts << QStringLiteral("%1x").arg(static_cast<double>(mSpeedMultiplier), 0, 'f', 2);
    }
    else
    {
        texts << QString::number(static_cast<double>(mFps), 'f', 1) << QStringLiteral("fps");
    }
    mPlaybackInfoRects = PlaybackInfoLayout(painter.fontMetrics(), info, texts);
    for (int i = 0; i < texts.size(); ++i)
    {
        painter.setPen(i == 1 ? secondColor : SliderGrey);
        painter.drawText(mPlaybackInfoRects.at(i), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, texts.at(i));
    }
}

QList<QRect> GlobalTimeControlWidget::PlaybackInfoLayout(QFontMetrics const& metrics, QRect const& area,
                                                         QStringList const& texts)
{
    // The frame rate at the area's left, the next text at 40 % of its width
    // and the unit at 70 %; a text that reaches too near the next one's place
    // pushes it to the right, so that at least a figure's width lies between
    // two texts and they read as two (a blank alone runs the figures together).
    int const areaWidth = area.width() + 1;
    int const stops[] = {0, static_cast<int>(areaWidth * 0.4), static_cast<int>(areaWidth * 0.7)};
    int const gap = metrics.horizontalAdvance(QLatin1Char('0'));
    QList<QRect> rects;
    int x = area.left();
    for (int i = 0; i < texts.size(); ++i)
    {
        int const stop = area.left() + stops[std::min(i, 2)];
        if (i > 0)
        {
            x = std::max(stop, rects.constLast().right() + 1 + gap);
        }
        rects.append(QRect(x, area.top(), metrics.horizontalAdvance(texts.at(i)), area.height()));
    }
    return rects;
}

QList<QRect> GlobalTimeControlWidget::PlaybackInfoRects() const
{
    return mPlaybackInfoRects;
}

// ---- Dragging ----

void GlobalTimeControlWidget::LeftMouseDragUpdate(int x, Qt::KeyboardModifiers)
{
    if (mDraggingRange)
    {
        int const frame = FrameAtPosition(x);
        // The whole range moves with its length kept: the shift stops where a
        // bound would leave the timeline.
        int const shift = std::clamp(frame - mPressFrame, -mRangeAtPressStart, MaximumFrame() - mRangeAtPressEnd);
        SetPlaybackRangeByFrame(mRangeAtPressStart + shift, mRangeAtPressEnd + shift);
        SeekToFrame(frame);
    }
    else if (mDraggingStartHandle)
    {
        int const start = std::min(FrameAtPosition(x - mGrabOffset), mRangeEnd);
        SetPlaybackRangeByFrame(start, mRangeEnd);
        SeekToFrame(mRangeStart);
    }
    else if (mDraggingEndHandle)
    {
        int const end = std::max(mRangeStart, FrameAtPosition(x - mEndGrabOffset));
        SetPlaybackRangeByFrame(mRangeStart, end);
        SeekToFrame(mRangeEnd);
    }
    else if (mLeftPressed)
    {
        SetPlaybackTimeByFrame(FrameAtPosition(x), AudioScrubOnDragEnabled(), false);
    }
}

// ---- Navigation ----

void GlobalTimeControlWidget::SeekTimelineStart()
{
    SetPlaybackTimeByFrame(0, false, false);
}

void GlobalTimeControlWidget::SeekTimelineEnd()
{
    SetPlaybackTimeByFrame(mEndFrame, false, false);
}

void GlobalTimeControlWidget::SeekRangeStart()
{
    SetPlaybackTimeByFrame(mRangeStart, false, false);
}

void GlobalTimeControlWidget::SeekRangeEnd()
{
    SetPlaybackTimeByFrame(mRangeEnd, false, false);
}

void GlobalTimeControlWidget::FrameStepBackward()
{
    if (!mTimeline || !mAvManager)
    {
        return;
    }
    mAvManager->Pause(DecodeBias::StepBackward);
    long long const time = mTimeline->TimeAtFrame(ClockFrame() - 1, true) - STEP_BACK_MARGIN_US;
    UpdateAndSetFrameStepTime(time, AudioScrubOnFrameStepEnabled(), false);
}

void GlobalTimeControlWidget::FrameStepForward()
{
    if (!mTimeline || !mAvManager)
    {
        return;
    }
    mAvManager->Pause(DecodeBias::StepForward);
    UpdateAndSetFrameStepTime(mTimeline->TimeAtFrame(ClockFrame() + 1, false), AudioScrubOnFrameStepEnabled(), true);
}

void GlobalTimeControlWidget::MultiFrameStepBackward()
{
    if (!mTimeline || !mAvManager)
    {
        return;
    }
    mAvManager->Pause(DecodeBias::StepBackward);
    // Before the first frame the track has no time: count from frame 0.
    int const frame = ClockFrame() - Settings::multiFrameStepSize;
    long long const time = frame < 0 ? frame : mTimeline->TimeAtFrame(frame, false);
    UpdateAndSetFrameStepTime(time, false, false);
}

void GlobalTimeControlWidget::MultiFrameStepForward()
{
    if (!mTimeline || !mAvManager)
    {
        return;
    }
    mAvManager->Pause(DecodeBias::StepForward);
    int const frame = ClockFrame() + Settings::multiFrameStepSize;
    long long const time = frame > mEndFrame ? mEndTime + 1 : mTimeline->TimeAtFrame(frame, false);
    UpdateAndSetFrameStepTime(time, false, true);
}

int GlobalTimeControlWidget::ClockFrame() const
{
    // The clock's own time, not the frame this bar last heard of: a step
    // goes from the frame just asked for, whatever has reached the bar.
    return mAvManager ? mTimeline->FrameAtTime(mAvManager->PlaybackTime()) : mPlaybackFrame;
}

void GlobalTimeControlWidget::UpdateAndSetFrameStepTime(long long time, bool audio, bool forward)
{
    if (!mTimeline)
    {
        return;
    }
    long long const rangeStart = mTimeline->TimeAtFrame(mRangeStart, false);
    long long const rangeEnd = mTimeline->TimeAtFrame(mRangeEnd, false);
    long long const rangeEndTime = mTimeline->TimeAtFrame(mRangeEnd, true);
    if (!Settings::loopOnStepScrub)
    {
        if (Settings::lockStepScrubToRange)
        {
            time = std::clamp(time, rangeStart, rangeEnd);
        }
        if (time == mTimeline->PlaybackTime())
        {
            return;
        }
    }
    else if (Settings::loopStepScrubToRange || Settings::lockStepScrubToRange)
    {
        if (time < rangeStart || time > rangeEndTime)
        {
            time = mTimeline->PlaybackTime() > time ? rangeEnd : rangeStart;
        }
    }
    else
    {
        if (time < 0)
        {
            time = mEndTime - LOOP_END_MARGIN_US;
        }
        else if (time > mEndTime)
        {
            time = 0;
        }
    }
    // Every step lands, cached or not: the clock waits there for its picture,
    // and the next step goes on from it, so no press of a burst is lost
    // while the decoder goes back to a key picture.
    SetPlaybackTime(time, audio, false, forward);
}

int GlobalTimeControlWidget::NextEditFrame(bool next) const
{
    if (!mTimeline || mClipFrameRanges.isEmpty())
    {
        return -1;
    }
    return WrappedNeighbour(mClipFrameRanges, ClockFrame(), next,
                            [](ClipFrameRange const& clip) { return clip.first; });
}

int GlobalTimeControlWidget::NextBookmarkFrame(bool next) const
{
    if (!mTimeline || mFrameBookmarks.isEmpty())
    {
        return -1;
    }
    return WrappedNeighbour(mFrameBookmarks, ClockFrame(), next,
                            [](FrameBookmarkMark const& bookmark) { return bookmark.frame; });
}

int GlobalTimeControlWidget::NextBookmarkOrEditFrame(bool next) const
{
    int const p = ClockFrame();
    int const b = NextBookmarkFrame(next);
    int const e = NextEditFrame(next);
    // One on the playhead goes nowhere.
    if (b < 0 || b == p)
    {
        return e;
    }
    if (e < 0 || e == p)
    {
        return b;
    }
    auto const ahead = [&](int frame) { return next ? frame > p : frame < p; };
    if (ahead(b) != ahead(e))
    {
        return ahead(b) ? b : e;
    }
    return next ? std::min(b, e) : std::max(b, e);
}

void GlobalTimeControlWidget::SeekToFoundFrame(int frame)
{
    if (frame >= 0)
    {
        SeekToFrame(frame);
    }
}

void GlobalTimeControlWidget::SeekPreviousEdit()
{
    SeekToFoundFrame(NextEditFrame(false));
}

void GlobalTimeControlWidget::SeekNextEdit()
{
    SeekToFoundFrame(NextEditFrame(true));
}

void GlobalTimeControlWidget::SeekPreviousBookmark()
{
    SeekToFoundFrame(NextBookmarkFrame(false));
}

void GlobalTimeControlWidget::SeekNextBookmark()
{
    SeekToFoundFrame(NextBookmarkFrame(true));
}

void GlobalTimeControlWidget::SeekPreviousBookmarkOrEdit()
{
    SeekToFoundFrame(NextBookmarkOrEditFrame(false));
}

void GlobalTimeControlWidget::SeekNextBookmarkOrEdit()
{
    SeekToFoundFrame(NextBookmarkOrEditFrame(true));
}

// ---- Playback information ----

void GlobalTimeControlWidget::SetFps(float fps, bool repaint)
{
    mFps = static_cast<float>(std::round(static_cast<double>(fps) * 10.0) / 10.0);
    if (repaint)
    {
        RepaintTimeline();
    }
}

void GlobalTimeControlWidget::SetPlaybackSpeedMultiplier(float multiplier)
{
    if (multiplier != mSpeedMultiplier)
    {
        mSpeedMultiplier = multiplier;
        RepaintTimeline();
    }
}

void GlobalTimeControlWidget::SetSteppedPlaybackEnabled(bool enabled)
{
    if (enabled != mSteppedPlayback)
    {
        mSteppedPlayback = enabled;
        RepaintTimeline();
    }
}
