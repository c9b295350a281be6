#include "window/PlaybackControlWidget.h"

#include "app/KeyBindings.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "panels/FlatButton.h"

#include <QGuiApplication>
#include <QHBoxLayout>

namespace
{
QString const PLAY_ICON = QStringLiteral(":/icons/play.png");
QString const PAUSE_ICON = QStringLiteral(":/icons/pause.png");
QString const NEXT_FRAME_ICON = QStringLiteral(":/icons/next_frame.png");
QString const NEXT_BOOKMARK_ICON = QStringLiteral(":/icons/next_bookmark.png");
QString const SEEK_END_ICON = QStringLiteral(":/icons/seek_end.png");
QString const RANGE_TO_CURRENT_ICON = QStringLiteral(":/icons/range_start_to_current.png");

QString const PLAY_FORWARDS_TEXT = QStringLiteral("Play Forwards");
QString const PLAY_BACKWARDS_TEXT = QStringLiteral("Play Backwards");
QString const PAUSE_TEXT = QStringLiteral("Pause");
QString const PREVIOUS_FRAME_TEXT = QStringLiteral("Previous Frame");
QString const NEXT_FRAME_TEXT = QStringLiteral("Next Frame");
QString const PREVIOUS_BOOKMARK_TEXT = QStringLiteral("Previous Bookmark or Edit");
QString const NEXT_BOOKMARK_TEXT = QStringLiteral("Next Bookmark or Edit");
QString const GO_TO_RANGE_START_TEXT = QStringLiteral("Go to Range Start");
QString const GO_TO_START_TEXT = QStringLiteral("Go to Start");
QString const GO_TO_RANGE_END_TEXT = QStringLiteral("Go to Range End");
QString const GO_TO_END_TEXT = QStringLiteral("Go to End");
QString const RANGE_START_TO_CURRENT_TEXT = QStringLiteral("Range Start to Current");
QString const RANGE_END_TO_CURRENT_TEXT = QStringLiteral("Range End to Current");

constexpr int LEFT_MOUSE_PAUSE_POLL_MS = 10;

QImage Mirrored(QString const& path)
{
    return QImage(path).mirrored(true, false);
}
} // namespace

PlaybackControlWidget::PlaybackControlWidget(AvManager* avManager, KeyBindings* keyBindings, QWidget* parent)
    : QWidget(parent)
    , mAvManager(avManager)
    , mKeyBindings(keyBindings)
    , mPlayImage(PLAY_ICON)
    , mPlayMirroredImage(Mirrored(PLAY_ICON))
    , mPauseImage(PAUSE_ICON)
{
    QSize const large(26, 26);
    QSize const small(22, 22);
    mPlayForwardsButton = FlatButton::CreateButton(mPlayImage, large, 1, QString());
    mPlayBackwardsButton = FlatButton::CreateButton(mPlayMirroredImage, large, 1, QString());
    mPreviousFrameButton = FlatButton::CreateButton(Mirrored(NEXT_FRAME_ICON), small, 4, QString());
    mNextFrameButton = FlatButton::CreateButton(QImage(NEXT_FRAME_ICON), small, 4, QString());
    mPreviousBookmarkButton = FlatButton::CreateButton(Mirrored(NEXT_BOOKMARK_ICON), small, 4, QString());
    mNextBookmarkButton = FlatButton::CreateButton(QImage(NEXT_BOOKMARK_ICON), small, 4, QString());
    mGoToStartButton = FlatButton::CreateButton(Mirrored(SEEK_END_ICON), small, 4, QString());
    mGoToEndButton = FlatButton::CreateButton(QImage(SEEK_END_ICON), small, 4, QString());
    mRangeStartToCurrentButton = FlatButton::CreateButton(QImage(RANGE_TO_CURRENT_ICON), small, 4, QString());
    mRangeEndToCurrentButton = FlatButton::CreateButton(Mirrored(RANGE_TO_CURRENT_ICON), small, 4, QString());

    auto* const layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 5, 0, 5);
    layout->setSpacing(0);
    layout->addStretch();
    for (FlatButton* const button :
         {mRangeStartToCurrentButton, mGoToStartButton, mPreviousBookmarkButton, mPreviousFrameButton,
          mPlayBackwardsButton, mPlayForwardsButton, mNextFrameButton, mNextBookmarkButton, mGoToEndButton,
          mRangeEndToCurrentButton})
    {
        layout->addWidget(button);
    }
    layout->addStretch();

    if (mAvManager)
    {
        connect(mAvManager, &AvManager::PlaybackStateChanged, this, &PlaybackControlWidget::OnPlaybackStateChanged);
    }
    // Only a click on the button itself may ask for stepped playback.
    connect(mPlayForwardsButton, &FlatButton::clicked, this, [this] {
        Qt::KeyboardModifiers const modifiers = QGuiApplication::keyboardModifiers();
        PlayForwardsStepped(modifiers & (Qt::ControlModifier | Qt::AltModifier));
    });
    connect(mPlayBackwardsButton, &FlatButton::clicked, this, &PlaybackControlWidget::PlayBackwards);
    connect(mPreviousFrameButton, &FlatButton::clicked, this, &PlaybackControlWidget::FrameStepBackward);
    connect(mNextFrameButton, &FlatButton::clicked, this, &PlaybackControlWidget::FrameStepForward);
    connect(mPreviousBookmarkButton, &FlatButton::clicked, this, &PlaybackControlWidget::SeekPreviousBookmarkOrEdit);
    connect(mNextBookmarkButton, &FlatButton::clicked, this, &PlaybackControlWidget::SeekNextBookmarkOrEdit);
    connect(mGoToStartButton, &FlatButton::clicked, this, &PlaybackControlWidget::SeekStart);
    connect(mGoToEndButton, &FlatButton::clicked, this, &PlaybackControlWidget::SeekEnd);
    connect(mRangeStartToCurrentButton, &FlatButton::clicked, this, &PlaybackControlWidget::RangeStartToCurrent);
    connect(mRangeEndToCurrentButton, &FlatButton::clicked, this, &PlaybackControlWidget::RangeEndToCurrent);

    mLeftMousePauseTimer.setInterval(LEFT_MOUSE_PAUSE_POLL_MS);
    connect(&mLeftMousePauseTimer, &QTimer::timeout, this, &PlaybackControlWidget::EndLeftMousePause);

    UpdateToolTips();
}

FlatButton* PlaybackControlWidget::PlayForwardsButton() const { return mPlayForwardsButton; }
FlatButton* PlaybackControlWidget::PlayBackwardsButton() const { return mPlayBackwardsButton; }
FlatButton* PlaybackControlWidget::PreviousFrameButton() const { return mPreviousFrameButton; }
FlatButton* PlaybackControlWidget::NextFrameButton() const { return mNextFrameButton; }
FlatButton* PlaybackControlWidget::PreviousBookmarkButton() const { return mPreviousBookmarkButton; }
FlatButton* PlaybackControlWidget::NextBookmarkButton() const { return mNextBookmarkButton; }
FlatButton* PlaybackControlWidget::GoToStartButton() const { return mGoToStartButton; }
FlatButton* PlaybackControlWidget::GoToEndButton() const { return mGoToEndButton; }
FlatButton* PlaybackControlWidget::RangeStartToCurrentButton() const { return mRangeStartToCurrentButton; }
FlatButton* PlaybackControlWidget::RangeEndToCurrentButton() const { return mRangeEndToCurrentButton; }

bool PlaybackControlWidget::IsPlayingForwards() const
{
    return mAvManager && mAvManager->IsPlaying() && mAvManager->IsPlayForward();
}

bool PlaybackControlWidget::IsPlayingBackwards() const
{
    return mAvManager && mAvManager->IsPlaying() && !mAvManager->IsPlayForward();
}

bool PlaybackControlWidget::IsLeftMousePauseEnabled() const
{
    return mLeftMousePauseTimer.isActive();
}

void PlaybackControlWidget::PlayForwards()
{
    PlayForwardsStepped(false);
}

void PlaybackControlWidget::PlayForwardsStepped(bool stepped)
{
    if (!mAvManager || IsLeftMousePauseEnabled())
    {
        return;
    }
    if (IsPlayingForwards())
    {
        mAvManager->Pause(DecodeBias::None);
    }
    else
    {
        mAvManager->Play(true, stepped);
    }
    UpdateToolTips();
}

void PlaybackControlWidget::PlayBackwards()
{
    if (!mAvManager || IsLeftMousePauseEnabled())
    {
        return;
    }
    if (IsPlayingBackwards())
    {
        mAvManager->Pause(DecodeBias::None);
    }
    else
    {
        mAvManager->Play(false, false);
    }
    UpdateToolTips();
}

void PlaybackControlWidget::Pause()
{
    if (mAvManager && !IsLeftMousePauseEnabled())
    {
        mAvManager->Pause(DecodeBias::None);
    }
}

void PlaybackControlWidget::TogglePlayPause()
{
    if (mAvManager && !IsLeftMousePauseEnabled())
    {
        mAvManager->TogglePlayPause(false);
    }
}

void PlaybackControlWidget::TogglePlayPauseBookmarksOnly()
{
    if (mAvManager && !IsLeftMousePauseEnabled())
    {
        mAvManager->TogglePlayPause(true);
    }
}

void PlaybackControlWidget::SeekStart()
{
    if (IsLeftMousePauseEnabled())
    {
        return;
    }
    if (Settings::playbackControlsSeekRangeStartEnd)
    {
        emit SeekRangeStartRequested();
    }
    else
    {
        emit SeekTimelineStartRequested();
    }
}

void PlaybackControlWidget::SeekEnd()
{
    if (IsLeftMousePauseEnabled())
    {
        return;
    }
    if (Settings::playbackControlsSeekRangeStartEnd)
    {
        emit SeekRangeEndRequested();
    }
    else
    {
        emit SeekTimelineEndRequested();
    }
}

void PlaybackControlWidget::FrameStepForward()
{
    emit FrameStepForwardRequested();
}

void PlaybackControlWidget::FrameStepBackward()
{
    emit FrameStepBackwardRequested();
}

void PlaybackControlWidget::SeekPreviousBookmarkOrEdit()
{
    emit SeekPreviousBookmarkOrEditRequested();
}

void PlaybackControlWidget::SeekNextBookmarkOrEdit()
{
    emit SeekNextBookmarkOrEditRequested();
}

void PlaybackControlWidget::RangeStartToCurrent()
{
    emit RangeStartToCurrentRequested();
}

void PlaybackControlWidget::RangeEndToCurrent()
{
    emit RangeEndToCurrentRequested();
}

void PlaybackControlWidget::OnPlaybackStateChanged(bool playing, bool forward)
{
    // During a left-mouse pause the buttons keep showing playback.
    if (IsLeftMousePauseEnabled())
    {
        return;
    }
    ShowPlaybackState(playing, forward);
}

void PlaybackControlWidget::ShowPlaybackState(bool playing, bool forward)
{
    bool const pauseForwards = playing && forward;
    bool const pauseBackwards = playing && !forward;
    mPlayForwardsButton->SetImage(pauseForwards ? mPauseImage : mPlayImage, pauseForwards ? 2 : 1);
    mPlayBackwardsButton->SetImage(pauseBackwards ? mPauseImage : mPlayMirroredImage, pauseBackwards ? 2 : 1);
    UpdateToolTips();
}

void PlaybackControlWidget::SetLeftMousePauseEnabled(bool enabled)
{
    if (!mAvManager)
    {
        return;
    }
    if (enabled)
    {
        if (!IsLeftMousePauseEnabled() && mAvManager->IsPlaying())
        {
            mPausedForward = mAvManager->IsPlayForward();
            mPausedStepped = mAvManager->IsSteppedPlayback();
            mLeftMousePauseTimer.start();
            mAvManager->Pause(DecodeBias::None);
        }
    }
    else if (IsLeftMousePauseEnabled())
    {
        ResumeAfterLeftMousePause();
    }
}

void PlaybackControlWidget::EndLeftMousePause()
{
    if (IsLeftMousePauseEnabled() && !(QGuiApplication::mouseButtons() & Qt::LeftButton))
    {
        ResumeAfterLeftMousePause();
    }
}

void PlaybackControlWidget::ResumeAfterLeftMousePause()
{
    mLeftMousePauseTimer.stop();
    // The engine's pause cleared the stepped mode: resume as playback ran when
    // the pause began, then show what the engine really does (it may not play
    // again, e.g. when the timeline lost its clips meanwhile).
    mAvManager->Play(mPausedForward, mPausedStepped);
    ShowPlaybackState(mAvManager->IsPlaying(), mAvManager->IsPlayForward());
}

void PlaybackControlWidget::UpdateToolTips()
{
    auto tip = [this](KeySequenceType type, QString const& text) {
        return mKeyBindings ? mKeyBindings->CreateToolTip(type, text) : text;
    };
    mPlayForwardsButton->setToolTip(
        tip(KeySequenceType::PlayForwards, IsPlayingForwards() ? PAUSE_TEXT : PLAY_FORWARDS_TEXT));
    mPlayBackwardsButton->setToolTip(
        tip(KeySequenceType::PlayBackwards, IsPlayingBackwards() ? PAUSE_TEXT : PLAY_BACKWARDS_TEXT));
    mPreviousFrameButton->setToolTip(tip(KeySequenceType::StepBackwards, PREVIOUS_FRAME_TEXT));
    mNextFrameButton->setToolTip(tip(KeySequenceType::StepForwards, NEXT_FRAME_TEXT));
    mPreviousBookmarkButton->setToolTip(PREVIOUS_BOOKMARK_TEXT);
    mNextBookmarkButton->setToolTip(NEXT_BOOKMARK_TEXT);
    bool const range = Settings::playbackControlsSeekRangeStartEnd;
    mGoToStartButton->setToolTip(range ? tip(KeySequenceType::SeekRangeStart, GO_TO_RANGE_START_TEXT)
                                       : tip(KeySequenceType::SeekStart, GO_TO_START_TEXT));
    mGoToEndButton->setToolTip(range ? tip(KeySequenceType::SeekRangeEnd, GO_TO_RANGE_END_TEXT)
                                     : tip(KeySequenceType::SeekEnd, GO_TO_END_TEXT));
    mRangeStartToCurrentButton->setToolTip(tip(KeySequenceType::RangeStartToCurrent, RANGE_START_TO_CURRENT_TEXT));
    mRangeEndToCurrentButton->setToolTip(tip(KeySequenceType::RangeEndToCurrent, RANGE_END_TO_CURRENT_TEXT));
}
