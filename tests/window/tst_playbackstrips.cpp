// TESSARIN_TEST: xvfb
#include "../media/EngineTestRig.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "panels/FlatButton.h"
#include "panels/PopUpWidget.h"
#include "window/MonitorComboBox.h"
#include "window/PlaybackControlWidget.h"
#include "window/PlaybackOptionsWidget.h"
#include "window/PlaybackSpeedWidget.h"

#include "model/FrameBookmark.h"

#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QListWidget>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>

using namespace EngineTestRig;

namespace
{
// The centre of the play icon is filled; the pause icon has its gap there.
bool ShowsPause(FlatButton* button)
{
    QImage const image = button->grab().toImage();
    return qAlpha(image.pixel(image.width() / 2, image.height() / 2)) < 60 ||
           image.pixelColor(image.width() / 2, image.height() / 2) == button->palette().color(button->backgroundRole());
}

void ChooseRow(MonitorComboBox* combo, int row)
{
    if (combo->PopUp())
    {
        QVERIFY(QTest::qWaitFor([&] { return combo->PopUp()->ReadyToReopen(); }, 2000));
    }
    QTest::mouseClick(combo, Qt::LeftButton);
    QVERIFY(combo->PopUp() && combo->PopUp()->isVisible());
    QListWidget* const list = combo->List();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(list->item(row)).center());
}

// The first count distinct picture numbers the viewer is handed while the
// loop runs (fewer when playback stalls for 10 s).
QList<int> ShownNumbers(AvManager& av, ViewerProbe& probe, int count)
{
    QList<int> numbers;
    QMetaObject::Connection const connection =
        QObject::connect(&av, &AvManager::PlaybackTimeChanged, &av, [&](long long) {
            if (probe.shown && !probe.shown->emptyFrame && numbers.size() < count)
            {
                int const number = ReadNumber(*probe.shown);
                if (numbers.isEmpty() || numbers.constLast() != number)
                {
                    numbers.append(number);
                }
            }
        });
    // A stall shows as too few numbers: the callers check the count.
    static_cast<void>(QTest::qWaitFor([&] { return numbers.size() >= count; }, 10000));
    QObject::disconnect(connection);
    return numbers;
}

// The frame playback shows now.
int PlayheadFrame(AvManager const& av, Timeline const& timeline)
{
    return timeline.FrameAtTime(av.PlaybackTime());
}

} // namespace

class TestPlaybackStrips : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void PlayButtonsPlayPauseAndReverse();
    void ModifierClickPlaysOnlyTheBookmarkedFrames();
    void SpeedRowsReachTheEngineAndMirrorIt();
    void CustomSpeedSendsOnlyWhatIsTyped();
    void LoopRowsDecideTheEndOfPlayback();
    void LeftMousePauseResumesAsPlaybackRan();
    void RequestButtonsEmitTheirRequests();
    void NarrowOptionsStripHidesButtonsAndOverrideIconFollowsTheSpeed();

private:
    void Seek(int frame);

    std::unique_ptr<Timeline> mTimeline;
    std::unique_ptr<AvManager> mAv;
    std::unique_ptr<ViewerProbe> mProbe;
    std::unique_ptr<QWidget> mHost;
    PlaybackControlWidget* mControl = nullptr;
    PlaybackOptionsWidget* mOptions = nullptr;
};

void TestPlaybackStrips::initTestCase()
{
    Settings::hardwareRenderingEnabled = false;
    Settings::LatchHardwareRendering();
    Settings::loopState = 1;
    mTimeline = SourceTimeline("numbered_gop250.mp4");
    QCOMPARE(mTimeline->FrameCount(), 300);
    mAv = std::make_unique<AvManager>();
    mProbe = std::make_unique<ViewerProbe>(mAv.get(), mTimeline.get());
    mAv->DecodeTimeline(mTimeline.get(), 0, false, true, false);
    QCOMPARE(mAv->PrimaryTimeline(), mTimeline.get());

    mHost = std::make_unique<QWidget>();
    mControl = new PlaybackControlWidget(mAv.get(), nullptr, mHost.get());
    mOptions = new PlaybackOptionsWidget(mAv.get(), nullptr, mHost.get());
    auto* const layout = new QHBoxLayout(mHost.get());
    layout->addWidget(mControl);
    layout->addWidget(mOptions);
    mHost->resize(900, 60);
    mHost->show();
    QVERIFY(QTest::qWaitForWindowExposed(mHost.get()));
}

void TestPlaybackStrips::init()
{
    mAv->SetPlaybackSpeed(1.0f);
    mAv->SetLoopState(LoopState::Loop);
    mTimeline->SetPlaybackRangeByFrame(0, -1);
    Seek(0);
}

void TestPlaybackStrips::cleanup()
{
    mControl->SetLeftMousePauseEnabled(false);
    mAv->Pause(DecodeBias::None);
    for (FrameBookmark* bookmark : mTimeline->FrameBookmarkList())
    {
        delete mTimeline->RemoveFrameBookmark(bookmark->timelineFrame);
    }
}

void TestPlaybackStrips::Seek(int frame)
{
    mAv->SetPlaybackTime(mTimeline->TimeAtFrame(frame, false), false, false, true, true);
    QVERIFY(QTest::qWaitFor([&] { return mProbe->Shows(mAv->PlaybackTime()); }, 20000));
}

void TestPlaybackStrips::PlayButtonsPlayPauseAndReverse()
{
    QVERIFY(!ShowsPause(mControl->PlayForwardsButton()));
    QTest::mouseClick(mControl->PlayForwardsButton(), Qt::LeftButton);
    QVERIFY(mAv->IsPlaying() && mAv->IsPlayForward());
    QVERIFY(QTest::qWaitFor([&] { return ShowsPause(mControl->PlayForwardsButton()); }, 2000));
    QVERIFY(!ShowsPause(mControl->PlayBackwardsButton()));
    QCOMPARE(mControl->PlayForwardsButton()->toolTip(), QStringLiteral("Pause"));
    QList<int> const forward = ShownNumbers(*mAv, *mProbe, 10);
    QVERIFY2(forward.size() >= 5, qPrintable(QString::number(forward.size())));
    QVERIFY(std::is_sorted(forward.cbegin(), forward.cend()));

    // A second click pauses.
    QTest::mouseClick(mControl->PlayForwardsButton(), Qt::LeftButton);
    QVERIFY(!mAv->IsPlaying());
    QVERIFY(QTest::qWaitFor([&] { return !ShowsPause(mControl->PlayForwardsButton()); }, 2000));
    QCOMPARE(mControl->PlayForwardsButton()->toolTip(), QStringLiteral("Play Forwards"));

    // Playing forwards, the backwards button reverses.
    // (Far enough in that the numbers backwards stay clear of the wrap at frame 0.)
    QTest::mouseClick(mControl->PlayForwardsButton(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return PlayheadFrame(*mAv, *mTimeline) >= 30; }, 10000));
    QTest::mouseClick(mControl->PlayBackwardsButton(), Qt::LeftButton);
    QVERIFY(mAv->IsPlaying() && !mAv->IsPlayForward());
    QVERIFY(mControl->IsPlayingBackwards());
    QVERIFY(QTest::qWaitFor([&] { return ShowsPause(mControl->PlayBackwardsButton()); }, 2000));
    QVERIFY(!ShowsPause(mControl->PlayForwardsButton()));
    QList<int> const backward = ShownNumbers(*mAv, *mProbe, 10);
    QVERIFY2(backward.size() >= 5, qPrintable(QString::number(backward.size())));
    QVERIFY(std::is_sorted(backward.crbegin(), backward.crend()));
    QVERIFY2(mProbe->mismatches.isEmpty(), qPrintable(mProbe->mismatches.join('\n')));
}

void TestPlaybackStrips::ModifierClickPlaysOnlyTheBookmarkedFrames()
{
    for (int frame : {10, 20, 30})
    {
        QVERIFY(mTimeline->InsertFrameBookmark(frame) >= 0);
    }
    mTimeline->SetPlaybackRangeByFrame(0, 40);
    // A plain call of the slot (a shortcut) is never stepped.
    mControl->PlayForwards();
    QVERIFY(mAv->IsPlaying() && !mAv->IsSteppedPlayback());
    mControl->PlayForwards();
    QVERIFY(!mAv->IsPlaying());

    // The pictures the engine delivers to show: the bookmarked ones only.
    QList<int> shown;
    QMetaObject::Connection const connection = connect(
        mAv.get(), &AvManager::VideoFrameChanged, this,
        [&](int, FramePtr current, FramePtr, FramePtr) {
            if (current && !current->emptyFrame)
            {
                shown.append(ReadNumber(*current));
            }
        });
    QTest::mouseClick(mControl->PlayForwardsButton(), Qt::LeftButton, Qt::ControlModifier);
    QVERIFY(mAv->IsPlaying() && mAv->IsSteppedPlayback());
    QVERIFY(QTest::qWaitFor([&] { return shown.contains(30); }, 5000));
    disconnect(connection);
    for (int number : shown)
    {
        QVERIFY2(number == 10 || number == 20 || number == 30, qPrintable(QString::number(number)));
    }
}

void TestPlaybackStrips::SpeedRowsReachTheEngineAndMirrorIt()
{
    MonitorComboBox* const speed = mOptions->SpeedComboBox();
    QSignalSpy rows(speed, &MonitorComboBox::CurrentRowChanged);

    // The rate over a fixed span of frames past the start-up, timed between
    // the engine's own frame changes.
    auto framesPerSecond = [&] {
        constexpr int START_FRAME = 7;
        constexpr int SPAN = 36;
        Seek(0);
        int first = -1;
        int last = -1;
        QElapsedTimer timer;
        qint64 elapsed = 0;
        QMetaObject::Connection const connection =
            connect(mAv.get(), &AvManager::PlaybackTimeChanged, this, [&](long long time) {
                int const frame = mTimeline->FrameAtTime(time);
                if (first < 0 && frame >= START_FRAME)
                {
                    first = frame;
                    timer.start();
                }
                else if (first >= 0 && last < 0 && frame >= first + SPAN)
                {
                    last = frame;
                    elapsed = timer.nsecsElapsed();
                }
            });
        QTest::mouseClick(mControl->PlayForwardsButton(), Qt::LeftButton);
        bool const measured = QTest::qWaitFor([&] { return last >= 0; }, 20000);
        disconnect(connection);
        mAv->Pause(DecodeBias::None);
        return measured && elapsed > 0 ? (last - first) * 1e9 / static_cast<double>(elapsed) : 0.0;
    };
    double const normal = framesPerSecond();
    ChooseRow(speed, 4); // "2.0x"
    QCOMPARE(mAv->PlaybackSpeed(), 2.0f);
    QCOMPARE(speed->CurrentRow(), 4);
    double const doubled = framesPerSecond();
    qInfo("frames per second at 1.0x %.1f, at 2.0x %.1f", normal, doubled);
    QVERIFY2(doubled / normal > 1.6 && doubled / normal < 2.4, qPrintable(QString::number(doubled / normal)));

    // A speed set on the engine selects its row, or "Custom...", silently.
    int const emitted = rows.count();
    mAv->SetPlaybackSpeed(0.75f);
    QCOMPARE(speed->CurrentRow(), 5);
    mAv->SetPlaybackSpeed(0.5f);
    QCOMPARE(speed->CurrentRow(), 1);
    QCOMPARE(rows.count(), emitted);

    // The toggle and the steps.
    mOptions->SetPlaybackSpeed(1.5f);
    mOptions->SetPlaybackSpeed(0.0f);
    QCOMPARE(mAv->PlaybackSpeed(), 1.0f);
    mOptions->SetPlaybackSpeed(0.0f);
    QCOMPARE(mAv->PlaybackSpeed(), 1.5f);
    mOptions->SetPlaybackSpeed(0.5f);
    mOptions->DecreasePlaybackSpeed();
    QCOMPARE(mAv->PlaybackSpeed(), 0.25f);
    mOptions->DecreasePlaybackSpeed(); // reaches 0: the toggle, to 1.0
    QCOMPARE(mAv->PlaybackSpeed(), 1.0f);

    // "Custom...": a value typed in the pop-up acts at once; closing selects its row.
    ChooseRow(speed, 5);
    PopUpWidget* const popUp = mOptions->SpeedPopUp();
    QVERIFY(popUp && popUp->isVisible());
    PlaybackSpeedWidget* const custom = mOptions->SpeedWidget();
    QCOMPARE(custom->TimelineFps(), 25.0);
    custom->TypeButton()->click();
    QVERIFY(custom->IsFrameRateMode());
    custom->SpinBox()->setValue(12.5);
    QCOMPARE(mAv->PlaybackSpeed(), 0.5f);
    QCOMPARE(custom->ValueLabel()->text(), QStringLiteral("0.50x"));
    popUp->close();
    QCOMPARE(speed->CurrentRow(), 1);

    // At 1.0, "Custom..." closed without a change selects "Source" again.
    mAv->SetPlaybackSpeed(1.0f);
    QVERIFY(QTest::qWaitFor([&] { return popUp->ReadyToReopen(); }, 2000));
    ChooseRow(speed, 5);
    QVERIFY(popUp->isVisible());
    popUp->close();
    QCOMPARE(speed->CurrentRow(), 2);
    QCOMPARE(mAv->PlaybackSpeed(), 1.0f);
    custom->SetTimelineFps(0.0);
    QCOMPARE(custom->TimelineFps(), 24.0);
}

void TestPlaybackStrips::CustomSpeedSendsOnlyWhatIsTyped()
{
    // A strip of its own: its pop-up is built by the first choice of "Custom...".
    auto* const options = new PlaybackOptionsWidget(mAv.get(), nullptr, mHost.get());
    auto const removeStrip = qScopeGuard([options] { delete options; });
    mHost->layout()->addWidget(options);
    QTRY_VERIFY(options->isVisible());
    QSignalSpy speeds(mAv.get(), &AvManager::PlaybackSpeedChanged);
    ChooseRow(options->SpeedComboBox(), 5);
    PopUpWidget* const popUp = options->SpeedPopUp();
    QVERIFY(popUp && popUp->isVisible());
    QCOMPARE(mAv->PlaybackSpeed(), 1.0f);
    popUp->close();
    QCOMPARE(options->SpeedComboBox()->CurrentRow(), 2);
    QCOMPARE(speeds.count(), 0);
    // Nothing but 1.0 was ever asked for: the toggle from 1.0 stays there.
    options->SetPlaybackSpeed(0.0f);
    QCOMPARE(mAv->PlaybackSpeed(), 1.0f);

    // Frames per second on a 23.976 fps timeline: the box shows 23.98, which
    // is no change the user made; reopening sends nothing, typing does.
    PlaybackSpeedWidget speed;
    QSignalSpy values(&speed, &PlaybackSpeedWidget::ValueChanged);
    speed.SetMultiplier(1.0);
    speed.SetTimelineFps(24000.0 / 1001.0);
    speed.show();
    QVERIFY(QTest::qWaitForWindowExposed(&speed));
    QTest::mouseClick(speed.TypeButton(), Qt::LeftButton);
    QVERIFY(speed.IsFrameRateMode());
    speed.hide();
    speed.show();
    QVERIFY(QTest::qWaitForWindowExposed(&speed));
    QCOMPARE(values.count(), 0);
    QCOMPARE(speed.Multiplier(), 1.0);
    speed.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&speed));
    speed.SpinBox()->selectAll();
    QTest::keyClicks(speed.SpinBox(), QStringLiteral("12"));
    QVERIFY(!values.isEmpty());
    QCOMPARE(values.last().at(0).toDouble(), 12.0 / (24000.0 / 1001.0));
}

void TestPlaybackStrips::LoopRowsDecideTheEndOfPlayback()
{
    MonitorComboBox* const loop = mOptions->LoopComboBox();
    QCOMPARE(loop->CurrentRow(), 1);
    // A toggle on the engine moves the row, silently.
    QSignalSpy rows(loop, &MonitorComboBox::CurrentRowChanged);
    mAv->ToggleLoopState();
    QCOMPARE(loop->CurrentRow(), static_cast<int>(mAv->ActiveLoopState()));
    QCOMPARE(rows.count(), 0);

    ChooseRow(loop, 0); // "Play Once"
    QCOMPARE(mAv->ActiveLoopState(), LoopState::Off);
    mTimeline->SetPlaybackRangeByFrame(0, 20);
    Seek(10);
    QTest::mouseClick(mControl->PlayForwardsButton(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return !mAv->IsPlaying(); }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return !ShowsPause(mControl->PlayForwardsButton()); }, 2000));
    QCOMPARE(mTimeline->FrameAtTime(mAv->PlaybackTime()), 20);

    ChooseRow(loop, 1); // "Loop"
    QCOMPARE(mAv->ActiveLoopState(), LoopState::Loop);
    Seek(15);
    bool wrapped = false;
    long long last = mAv->PlaybackTime();
    QMetaObject::Connection const connection = connect(mAv.get(), &AvManager::PlaybackTimeChanged, this,
                                                       [&](long long time) {
                                                           wrapped = wrapped || time < last;
                                                           last = time;
                                                       });
    QTest::mouseClick(mControl->PlayForwardsButton(), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return wrapped; }, 10000));
    QVERIFY(mAv->IsPlaying());
    disconnect(connection);
}

void TestPlaybackStrips::LeftMousePauseResumesAsPlaybackRan()
{
    // Not playing: nothing to pause.
    mControl->SetLeftMousePauseEnabled(true);
    QVERIFY(!mControl->IsLeftMousePauseEnabled());

    QWidget elsewhere;
    elsewhere.resize(100, 100);
    elsewhere.move(1000, 500);
    elsewhere.show();
    QVERIFY(QTest::qWaitForWindowExposed(&elsewhere));

    for (bool stepped : {false, true})
    {
        if (stepped)
        {
            for (int frame : {10, 20, 30})
            {
                mTimeline->InsertFrameBookmark(frame);
            }
        }
        QTest::mouseClick(mControl->PlayForwardsButton(), Qt::LeftButton,
                          stepped ? Qt::ControlModifier : Qt::NoModifier);
        QVERIFY(mAv->IsPlaying());
        QCOMPARE(mAv->IsSteppedPlayback(), stepped);

        QTest::mousePress(&elsewhere, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        mControl->SetLeftMousePauseEnabled(true);
        QVERIFY(mControl->IsLeftMousePauseEnabled());
        QVERIFY(!mAv->IsPlaying());
        // The buttons keep showing playback, and clicks on them do nothing.
        QVERIFY(ShowsPause(mControl->PlayForwardsButton()));
        mControl->PlayBackwards();
        QVERIFY(!mAv->IsPlaying());
        // Proves that nothing resumes while the button is held: the pause polls
        // the buttons every 10 ms and signals nothing while it holds, so the
        // test lets several polls pass.
        QTest::qWait(50);
        QVERIFY(!mAv->IsPlaying());

        QElapsedTimer timer;
        QTest::mouseRelease(&elsewhere, Qt::LeftButton, Qt::NoModifier, QPoint(60, 60));
        timer.start();
        QVERIFY(QTest::qWaitFor([&] { return mAv->IsPlaying(); }, 2000));
        qInfo("resumed %lld ms after the release", static_cast<long long>(timer.elapsed()));
        QVERIFY2(timer.elapsed() < 50, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!mControl->IsLeftMousePauseEnabled());
        QVERIFY(mAv->IsPlayForward());
        QCOMPARE(mAv->IsSteppedPlayback(), stepped);
        QVERIFY(ShowsPause(mControl->PlayForwardsButton()));
        mAv->Pause(DecodeBias::None);
    }
}

void TestPlaybackStrips::RequestButtonsEmitTheirRequests()
{
    struct Row
    {
        FlatButton* button;
        void (PlaybackControlWidget::*signal)();
    };
    QList<Row> const rows {
        {mControl->PreviousFrameButton(), &PlaybackControlWidget::FrameStepBackwardRequested},
        {mControl->NextFrameButton(), &PlaybackControlWidget::FrameStepForwardRequested},
        {mControl->PreviousBookmarkButton(), &PlaybackControlWidget::SeekPreviousBookmarkOrEditRequested},
        {mControl->NextBookmarkButton(), &PlaybackControlWidget::SeekNextBookmarkOrEditRequested},
        {mControl->RangeStartToCurrentButton(), &PlaybackControlWidget::RangeStartToCurrentRequested},
        {mControl->RangeEndToCurrentButton(), &PlaybackControlWidget::RangeEndToCurrentRequested},
    };
    for (Row const& row : rows)
    {
        QSignalSpy spy(mControl, row.signal);
        QTest::mouseClick(row.button, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
    }
    for (bool range : {true, false})
    {
        Settings::playbackControlsSeekRangeStartEnd = range;
        mControl->UpdateToolTips();
        QSignalSpy start(mControl, range ? &PlaybackControlWidget::SeekRangeStartRequested
                                         : &PlaybackControlWidget::SeekTimelineStartRequested);
        QSignalSpy end(mControl, range ? &PlaybackControlWidget::SeekRangeEndRequested
                                       : &PlaybackControlWidget::SeekTimelineEndRequested);
        QTest::mouseClick(mControl->GoToStartButton(), Qt::LeftButton);
        QTest::mouseClick(mControl->GoToEndButton(), Qt::LeftButton);
        QCOMPARE(start.count(), 1);
        QCOMPARE(end.count(), 1);
        QCOMPARE(mControl->GoToStartButton()->toolTip(),
                 range ? QStringLiteral("Go to Range Start") : QStringLiteral("Go to Start"));
    }
    Settings::playbackControlsSeekRangeStartEnd = true;
}

void TestPlaybackStrips::NarrowOptionsStripHidesButtonsAndOverrideIconFollowsTheSpeed()
{
    PlaybackOptionsWidget strip(mAv.get(), nullptr);
    strip.resize(300, 34);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    QVERIFY(strip.FullscreenButton()->isVisible());
    QVERIFY(strip.ResizeComboBox()->isVisible());
    strip.resize(235, 34);
    QVERIFY(QTest::qWaitFor([&] { return strip.width() == 235; }, 2000));
    QVERIFY(!strip.FullscreenButton()->isVisible());
    QVERIFY(strip.ResizeComboBox()->isVisible());
    strip.resize(215, 34);
    QVERIFY(QTest::qWaitFor([&] { return strip.width() == 215; }, 2000));
    QVERIFY(!strip.ResizeComboBox()->isVisible());
    strip.resize(300, 34);
    QVERIFY(QTest::qWaitFor([&] { return strip.FullscreenButton()->isVisible(); }, 2000));

    // The speed icon is plain at "Source" and light grey at any other speed.
    auto iconCentre = [&] { return strip.SpeedComboBox()->grab().toImage().pixelColor(12, 13); };
    mAv->SetPlaybackSpeed(1.0f);
    QColor const plain = iconCentre();
    mAv->SetPlaybackSpeed(2.0f);
    QCOMPARE(iconCentre(), MonitorComboBox::HighlightColor());
    mAv->SetPlaybackSpeed(1.0f);
    QCOMPARE(iconCentre(), plain);

    strip.SetFullscreenState(true);
    QCOMPARE(strip.FullscreenButton()->toolTip(), QStringLiteral("Exit full screen"));
}

QTEST_MAIN(TestPlaybackStrips)
#include "tst_playbackstrips.moc"
