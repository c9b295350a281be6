#pragma once

#include "window/TimeControlBaseWidget.h"

#include <QFontMetrics>
#include <QPainterPath>
#include <QStringList>

// The time bar over the whole timeline: clip stripes, the playback range as a
// slider with draggable ends, bookmarks, the cached span, playhead and hover
// times, range length and playback information. It also carries the monitor's
// navigation commands (seeks, frame steps, edit and bookmark jumps).
class GlobalTimeControlWidget : public TimeControlBaseWidget
{
    Q_OBJECT

public:
    GlobalTimeControlWidget(ProjectManager* projectManager, PlaybackControlWidget* playbackControl,
                            QWidget* parent = nullptr);

    // The next edit (clip start) or frame bookmark before or after the
    // playhead, wrapping around; -1 when there is none.
    int NextEditFrame(bool next) const;
    int NextBookmarkFrame(bool next) const;
    float Fps() const;
    float PlaybackSpeedMultiplier() const;
    bool IsSteppedPlaybackEnabled() const;
    // Where the last painting put the texts of the playback information (the
    // frame rate, then the speed, "Stepped" or the measured rate and its unit).
    QList<QRect> PlaybackInfoRects() const;
    static QList<QRect> PlaybackInfoLayout(QFontMetrics const& metrics, QRect const& area, QStringList const& texts);

public Q_SLOTS:
    void SeekTimelineStart();
    void SeekTimelineEnd();
    void SeekRangeStart();
    void SeekRangeEnd();
    void FrameStepBackward();
    void FrameStepForward();
    void MultiFrameStepBackward();
    void MultiFrameStepForward();
    void UpdateAndSetFrameStepTime(long long time, bool audio, bool forward);
    void SeekPreviousEdit();
    void SeekNextEdit();
    void SeekPreviousBookmark();
    void SeekNextBookmark();
    void SeekPreviousBookmarkOrEdit();
    void SeekNextBookmarkOrEdit();
    void SetFps(float fps, bool repaint);
    void SetPlaybackSpeedMultiplier(float multiplier);
    void SetSteppedPlaybackEnabled(bool enabled);

protected:
    void DoPaint(QPainter& painter) override;
    void LeftMouseDragUpdate(int x, Qt::KeyboardModifiers modifiers) override;
    void UpdateGeometry(int width) override;
    void UpdateRangeGeometry() override;

private:
    // The frame of the clock's time, which every step starts from.
    int ClockFrame() const;
    // The nearer of the next bookmark and the next edit in that direction; a
    // jump that wraps around loses to one that does not. -1 when there is none.
    int NextBookmarkOrEditFrame(bool next) const;
    void SeekToFoundFrame(int frame);
    // The steps of DoPaint: the stripes of the clips on the frame scale,
    // the range slider, the hovered and playback times, the length of the
    // range, and the frame rate with the playback speed.
    void PaintClipStripes(QPainter& painter);
    void PaintRangeSlider(QPainter& painter, bool wholeSpan);
    void PaintTimes(QPainter& painter, bool wholeSpan);
    void PaintRangeLength(QPainter& painter);
    void PaintPlaybackInfo(QPainter& painter);

    QRect mInnerRangeRect;
    QPainterPath mStartTriangle;
    QPainterPath mEndTriangle;
    float mFps = 0.0f;
    float mSpeedMultiplier = 1.0f;
    bool mSteppedPlayback = false;
    QList<QRect> mPlaybackInfoRects;
};
