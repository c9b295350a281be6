#include "window/RangeTimeControlWidget.h"

#include "app/Settings.h"
#include "model/Timeline.h"

#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

using namespace TimeControlColors;

RangeTimeControlWidget::RangeTimeControlWidget(ProjectManager* projectManager,
                                               PlaybackControlWidget* playbackControl, QWidget* parent)
    : TimeControlBaseWidget(projectManager, playbackControl, parent)
{
    setFixedHeight(46);
    mHandleDragWithoutSeek = true;
    SetDisplayFormatSetting(&Settings::rangeTimeControlDisplayFormat);
    SetPositionTopSetting(&Settings::rangeTimeControlPositionTop);
    SetBookmarksVisibleSettings(&Settings::rangeTimeControlFrameBookmarksVisible, nullptr);
    SetCacheVisibleSetting(&Settings::rangeTimeControlCacheVisible);
    UpdateGeometry(-1);
    FollowPrimaryTimeline();
}

int RangeTimeControlWidget::StartFrame() const
{
    return mRangeStart;
}

int RangeTimeControlWidget::EndFrame() const
{
    return mRangeEnd;
}

void RangeTimeControlWidget::UpdateGeometry(int width)
{
    int const h = height();
    int const w = width >= 1 ? width : this->width();
    mBarWidth = w;
    mBarRect = QRect(QPoint(0, 0), QPoint(w - 1, h - 1));
    mTimelineRect = QRect(QPoint(50, 32), QPoint(w - 51, 32));
    mMarkerY = 20;
    mMarkerHeight = 24;
    mCellTop = mMarkerY;
    mCellBottom = mMarkerY + mMarkerHeight - 1;
    mTimeTextBottom = mMarkerY - 5;
    mLeftTextRect = QRect();
    mRightTextRect = QRect();
    mRangeStartHandle = QRect(QPoint(0, 20), QPoint(44, h - 1));
    mRangeEndHandle = QRect(QPoint(w - 45, 20), QPoint(w - 1, h - 1));
    UpdateRangeGeometry();
}

void RangeTimeControlWidget::UpdateCursor()
{
    setCursor(mHoverStartHandle || mHoverEndHandle ? Qt::SizeHorCursor : Qt::ArrowCursor);
}

void RangeTimeControlWidget::LeftMouseDragUpdate(int x, Qt::KeyboardModifiers modifiers)
{
    if (mLeftPressed)
    {
        SetPlaybackTimeByFrame(FrameAtPosition(x), AudioScrubOnDragEnabled(), false);
        return;
    }
    if (!mDraggingStartHandle && !mDraggingEndHandle)
    {
        return;
    }
    int const step = modifiers & Qt::ControlModifier ? 1 : (modifiers & Qt::ShiftModifier ? 20 : 5);
    int const delta = x - mAnchorX;
    if (std::abs(delta) < step)
    {
        return;
    }
    int const frames = delta / step;
    // The pixels left over count towards the next step.
    mAnchorX += frames * step;
    if (mDraggingStartHandle)
    {
        int const start = std::clamp(mRangeStart + frames, 0, MaximumFrame());
        SetPlaybackRangeByFrame(start, std::max(mRangeEnd, start));
        if (mPlaybackFrame < mRangeStart)
        {
            SeekToFrame(mRangeStart);
        }
    }
    else
    {
        int const end = std::clamp(mRangeEnd + frames, 0, MaximumFrame());
        SetPlaybackRangeByFrame(std::min(end, mRangeStart), end);
        if (mPlaybackFrame > mRangeEnd)
        {
            SeekToFrame(mRangeEnd);
        }
    }
}

void RangeTimeControlWidget::DoPaint(QPainter& painter)
{
    TimeControlBaseWidget::DoPaint(painter);
    if (!mTimeline || mEndTime < 1)
    {
        return;
    }
    QRect const scale = mTimelineRect;
    painter.fillRect(scale, DarkGrey);

    PaintCachedSpan(painter, scale.top(), scale.bottom());

    painter.fillRect(QRect(scale.left(), mMarkerY, 2, mMarkerHeight), DarkGrey);
    painter.fillRect(QRect(scale.right() - 1, mMarkerY, 2, mMarkerHeight), DarkGrey);

    PaintFrameBookmarks(painter, true);

    QFont font = painter.font();
    font.setPointSize(13);
    painter.setFont(font);
    QPoint const cursor = CursorPosition();
    int const hoverFrame = FrameAtPosition(cursor.x());
    bool const leftOnly = QGuiApplication::mouseButtons() == Qt::LeftButton;
    bool const onHandle = mRangeStartHandle.contains(cursor) || mRangeEndHandle.contains(cursor);
    if (IsUnderMouse() && !leftOnly && !onHandle && hoverFrame != mPlaybackFrame && hoverFrame >= mRangeStart &&
        hoverFrame <= mRangeEnd)
    {
        PaintTime(painter, hoverFrame, false);
    }
    if (mPlaybackFrame >= mRangeStart && mPlaybackFrame <= mRangeEnd)
    {
        PaintTime(painter, mPlaybackFrame, true);
    }

    font.setPointSize(8);
    painter.setFont(font);
    painter.setPen(SliderGrey);
    painter.drawText(QRect(QPoint(0, mMarkerY - 1), QPoint(44, mMarkerY + 22)), Qt::AlignRight | Qt::AlignVCenter,
                     FrameToDisplayFormat(mRangeStart, true));
    painter.drawText(QRect(QPoint(mBarWidth - 45, mMarkerY - 1), QPoint(mBarWidth - 1, mMarkerY + 22)),
                     Qt::AlignLeft | Qt::AlignVCenter, FrameToDisplayFormat(mRangeEnd, true));
}
