#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

class AvManager;
class FlatButton;
class KeyBindings;

// The transport strip under the viewer: play forwards and backwards, frame
// steps, seeks, bookmark or edit jumps and range-to-current requests, and the
// left-mouse pause that the time bars and the viewer hold while the left
// button is down.
class PlaybackControlWidget : public QWidget
{
    Q_OBJECT

public:
    PlaybackControlWidget(AvManager* avManager, KeyBindings* keyBindings, QWidget* parent = nullptr);

    bool IsPlayingForwards() const;
    bool IsPlayingBackwards() const;
    // True while a left-mouse pause is in force.
    bool IsLeftMousePauseEnabled() const;

    FlatButton* PlayForwardsButton() const;
    FlatButton* PlayBackwardsButton() const;
    FlatButton* PreviousFrameButton() const;
    FlatButton* NextFrameButton() const;
    FlatButton* PreviousBookmarkButton() const;
    FlatButton* NextBookmarkButton() const;
    FlatButton* GoToStartButton() const;
    FlatButton* GoToEndButton() const;
    FlatButton* RangeStartToCurrentButton() const;
    FlatButton* RangeEndToCurrentButton() const;

public Q_SLOTS:
    void PlayForwards();
    void PlayBackwards();
    void Pause();
    void TogglePlayPause();
    void TogglePlayPauseBookmarksOnly();
    void SeekStart();
    void SeekEnd();
    void FrameStepForward();
    void FrameStepBackward();
    void SeekPreviousBookmarkOrEdit();
    void SeekNextBookmarkOrEdit();
    void RangeStartToCurrent();
    void RangeEndToCurrent();
    void OnPlaybackStateChanged(bool playing, bool forward);
    // On: pauses playback, only while the engine plays, until the left mouse
    // button is up (polled) or this is called with off; then playback resumes
    // as it was when the pause began.
    void SetLeftMousePauseEnabled(bool enabled);
    void EndLeftMousePause();
    void UpdateToolTips();

Q_SIGNALS:
    void SeekTimelineStartRequested();
    void SeekTimelineEndRequested();
    void SeekRangeStartRequested();
    void SeekRangeEndRequested();
    void FrameStepForwardRequested();
    void FrameStepBackwardRequested();
    void SeekPreviousBookmarkOrEditRequested();
    void SeekNextBookmarkOrEditRequested();
    void RangeStartToCurrentRequested();
    void RangeEndToCurrentRequested();

private:
    void PlayForwardsStepped(bool stepped);
    void ResumeAfterLeftMousePause();
    void ShowPlaybackState(bool playing, bool forward);

    AvManager* mAvManager;
    KeyBindings* mKeyBindings;
    FlatButton* mPlayForwardsButton;
    FlatButton* mPlayBackwardsButton;
    FlatButton* mPreviousFrameButton;
    FlatButton* mNextFrameButton;
    FlatButton* mPreviousBookmarkButton;
    FlatButton* mNextBookmarkButton;
    FlatButton* mGoToStartButton;
    FlatButton* mGoToEndButton;
    FlatButton* mRangeStartToCurrentButton;
    FlatButton* mRangeEndToCurrentButton;
    QImage mPlayImage;
    QImage mPlayMirroredImage;
    QImage mPauseImage;
    QTimer mLeftMousePauseTimer;
    // How playback ran when the left-mouse pause began.
    bool mPausedForward = true;
    bool mPausedStepped = false;
};
