#include "ModelFixtures.h"

#include "app/Settings.h"
#include "model/Clip.h"
#include "model/FrameBookmark.h"
#include "model/RangeBookmark.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/Track.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

using namespace ModelFixtures;

class TestTimeline : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void SourceTimelineFollowsItsSource();
    void MovingTheRangeKeepsTheCutsConsistent();
    void InvertedRangeIsRefused();
    void RangeReachingTheEndIsStoredOpen();
    void ShorteningReportsInOrder();
    void RangeTimesFollowClipEdits();
    void PlaybackTimeIsClampedToTheEnd();
    void EditOperationsApplyOnlyToTheirKind();
    void UseSourceSwitches();
    void RangeBookmarksStaySortedAndUnique();
    void FrameBookmarksAndTheBackgroundLayer();
    void DecodeCopiesAreOwnedAndRenewedAlongTheOverrideChain();
    void ExportCopyIsDetached();
    void DecodeThreadCopiesWhileTheTimelineChanges();

private:
    std::unique_ptr<Timeline> MakeEditTimeline(QList<Clip*> const& sourceClips);
};

std::unique_ptr<Timeline> TestTimeline::MakeEditTimeline(QList<Clip*> const& sourceClips)
{
    auto timeline = std::make_unique<Timeline>(nullptr, true);
    for (Clip* clip : sourceClips)
    {
        timeline->InsertClipAtIndex(new Clip(clip, nullptr), -1, false);
    }
    return timeline;
}

void TestTimeline::SourceTimelineFollowsItsSource()
{
    Timeline timeline(MissingMoviePath(QStringLiteral("src")), QString(), QUuid(), nullptr);
    QVERIFY(timeline.IsSourceTimeline());
    QSignalSpy parsed(&timeline, &Timeline::SourceParsed);
    FakeParsedMovie(timeline.SourcePtr(), RATE_23976, 240);
    QCOMPARE(parsed.count(), 1);
    QCOMPARE(timeline.EndFrame(), 239);
    QCOMPARE(timeline.PlaybackRangeEndFrame(), 239);
    QCOMPARE(timeline.PlaybackRangeEnd(), timeline.EndTime());
    QCOMPARE(timeline.FrameRateAtFrame(10, 0), 23.976);
    QCOMPARE(timeline.FrameRateAtFrame(10, 1), -1.0);
    QCOMPARE(timeline.FrameStepAtFrame(10), AvHelpers::FrameRateToFrameStep(23.976));
    int width = 0;
    int height = 0;
    QVERIFY(timeline.GlobalWidthHeight(width, height));
    QCOMPARE(width, 320);

    timeline.SetAudioDelay(2500);
    QCOMPARE(timeline.SourcePtr()->AudioDelay(), 2500LL);
    QCOMPARE(timeline.AudioDelay(), 2500LL);
}

void TestTimeline::MovingTheRangeKeepsTheCutsConsistent()
{
    Timeline timeline(MissingMoviePath(QStringLiteral("range")), QString(), QUuid(), nullptr);
    FakeParsedMovie(timeline.SourcePtr(), 25.0, 100);
    Source* source = timeline.SourcePtr();

    timeline.SetPlaybackRangeByFrame(10, 20);
    QCOMPARE(source->CutInFrame(), 10);
    QCOMPARE(source->CutOutFrame(), 20);
    timeline.SetPlaybackRangeByFrame(30, 40); // forward past the old cut out
    QCOMPARE(source->CutInFrame(), 30);
    QCOMPARE(source->CutOutFrame(), 40);
    timeline.SetPlaybackRangeByFrame(5, 8); // back before the old cut in
    QCOMPARE(source->CutInFrame(), 5);
    QCOMPARE(source->CutOutFrame(), 8);
    timeline.SetPlaybackRangeByFrame(60, -1);
    QCOMPARE(source->CutInFrame(), 60);
    QCOMPARE(source->CutOutFrame(), 99);
    QCOMPARE(timeline.PlaybackRangeStart(), 2400000LL);
    QCOMPARE(timeline.PlaybackRangeEnd(), 3999999LL);

    // An edit timeline's range leaves the sources alone.
    auto edit = MakeEditTimeline({timeline.SourceClip()});
    edit->SetPlaybackRangeByFrame(1, 2);
    QCOMPARE(source->CutInFrame(), 60);
    QCOMPARE(edit->PlaybackRangeStartFrame(), 1);
}

void TestTimeline::InvertedRangeIsRefused()
{
    Timeline timeline(MissingMoviePath(QStringLiteral("inverted")), QString(), QUuid(), nullptr);
    FakeParsedMovie(timeline.SourcePtr(), 25.0, 100);
    timeline.SetPlaybackRangeByFrame(10, 20);
    QSignalSpy changed(&timeline, &Timeline::PlaybackRangeChanged);
    timeline.SetPlaybackRangeByFrame(30, 15);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(timeline.PlaybackRangeStartFrame(), 10);
    QCOMPARE(timeline.PlaybackRangeEndFrame(), 20);
    QCOMPARE(timeline.SourcePtr()->CutInFrame(), 10);
}

void TestTimeline::RangeReachingTheEndIsStoredOpen()
{
    Timeline timeline(MissingMoviePath(QStringLiteral("open")), QString(), QUuid(), nullptr);
    FakeParsedMovie(timeline.SourcePtr(), 25.0, 50);
    QSignalSpy changed(&timeline, &Timeline::PlaybackRangeChanged);
    timeline.SetPlaybackRangeByFrame(5, 49);
    timeline.SetPlaybackRangeByFrame(5, 49);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).toLongLong(), 200000LL);
    QCOMPARE(changed.first().at(1).toLongLong(), 1999999LL);
    QCOMPARE(timeline.PlaybackRangeEndFrame(), 49);
    QCOMPARE(timeline.PlaybackRangeEndFrameUnresolved(), -1);
    timeline.SetPlaybackRangeByFrame(-3, 500);
    QCOMPARE(timeline.PlaybackRangeStartFrame(), 0);
    QCOMPARE(timeline.PlaybackRangeEndFrameUnresolved(), -1);
}

void TestTimeline::ShorteningReportsInOrder()
{
    Clip a(MissingMoviePath(QStringLiteral("a")), QString(), QUuid(), nullptr);
    Clip b(MissingMoviePath(QStringLiteral("b")), QString(), QUuid(), nullptr);
    FakeParsedMovie(a.SourcePtr(), 25.0, 50);
    FakeParsedMovie(b.SourcePtr(), 25.0, 50);
    auto timeline = MakeEditTimeline({&a, &b});
    timeline->SetPlaybackRangeByFrame(10, 80);
    timeline->SetPlaybackTime(3500000);

    QStringList order;
    connect(timeline.get(), &Timeline::EndTimeChanged, this, [&order] { order << QStringLiteral("end"); });
    connect(timeline.get(), &Timeline::PlaybackRangeChanged, this, [&order] { order << QStringLiteral("range"); });
    connect(timeline.get(), &Timeline::TimelineUpdated, this, [&order] { order << QStringLiteral("updated"); });
    std::unique_ptr<Clip> removed(timeline->RemoveClipAtIndex(1, true));

    QCOMPARE(timeline->PlaybackTime(), 1999999LL);
    // The range end lay beyond the new end: the range falls back to all of it.
    QCOMPARE(timeline->PlaybackRangeStartFrame(), 0);
    QCOMPARE(timeline->PlaybackRangeEndFrameUnresolved(), -1);
    QCOMPARE(order, QStringList({"range", "end", "range", "updated"}));
}

void TestTimeline::RangeTimesFollowClipEdits()
{
    Clip fast(MissingMoviePath(QStringLiteral("fast")), QString(), QUuid(), nullptr);
    Clip slow(MissingMoviePath(QStringLiteral("slow")), QString(), QUuid(), nullptr);
    FakeParsedMovie(fast.SourcePtr(), 50.0, 10);
    FakeParsedMovie(slow.SourcePtr(), 25.0, 30);
    auto timeline = MakeEditTimeline({&fast, &slow});
    timeline->SetPlaybackRangeByFrame(12, 20);
    QCOMPARE(timeline->PlaybackRangeStart(), timeline->TimeAtFrame(12, false));

    timeline->MoveClip(0, 1); // the same frames now lie elsewhere in time
    QCOMPARE(timeline->PlaybackRangeStart(), timeline->TimeAtFrame(12, false));
    QCOMPARE(timeline->PlaybackRangeEnd(), timeline->TimeAtFrame(20, true));
}

void TestTimeline::PlaybackTimeIsClampedToTheEnd()
{
    Timeline timeline(MissingMoviePath(QStringLiteral("time")), QString(), QUuid(), nullptr);
    FakeParsedMovie(timeline.SourcePtr(), RATE_2997, 60);
    timeline.SetPlaybackTime(timeline.EndTime() + 10);
    QVERIFY(timeline.DurationExceeded());
    QCOMPARE(timeline.PlaybackTime(), timeline.EndTime());
    timeline.SetPlaybackFrame(30);
    QVERIFY(!timeline.DurationExceeded());
    QCOMPARE(timeline.PlaybackFrame(), 30);
    QCOMPARE(timeline.PlaybackTime(), 1001000LL);
    timeline.SetPlaybackFrame(1000);
    QCOMPARE(timeline.PlaybackFrame(), 59);
    timeline.SetPlaybackFrame(-4);
    QCOMPARE(timeline.PlaybackTime(), 0LL);
    QCOMPARE(timeline.SourceAtPlaybackTime(0), timeline.SourcePtr());
    QCOMPARE(timeline.CurrentClipIndex(), 0);

    Timeline empty(nullptr, true);
    empty.SetPlaybackFrame(3);
    QCOMPARE(empty.PlaybackTime(), 0LL);
}

void TestTimeline::EditOperationsApplyOnlyToTheirKind()
{
    Timeline source(MissingMoviePath(QStringLiteral("kind")), QString(), QUuid(), nullptr);
    FakeParsedMovie(source.SourcePtr(), 25.0, 10);
    QSignalSpy edited(&source, &Timeline::MasterTrackEdited);
    auto* stray = new Clip(source.SourceClip(), nullptr);
    QCOMPARE(source.InsertClipAtIndex(stray, 0, true), -1);
    delete stray;
    QVERIFY(!source.RemoveClipAtIndex(0, true));
    source.SetAudioOverrideTimelineId(QUuid::createUuid());
    QVERIFY(source.AudioOverrideTimelineId().isNull());
    QCOMPARE(edited.count(), 0);

    auto edit = MakeEditTimeline({source.SourceClip()});
    QVERIFY(!edit->SourcePtr());
    QCOMPARE(edit->AudioDelay(), 0LL);
    QSignalSpy editEdited(edit.get(), &Timeline::MasterTrackEdited);
    QSignalSpy overrideChanged(edit.get(), &Timeline::AudioOverrideTimelineChanged);
    QUuid const overrideId = QUuid::createUuid();
    edit->SetAudioOverrideTimelineId(overrideId);
    edit->SetAudioOverrideTimelineId(overrideId);
    QCOMPARE(editEdited.count(), 1);
    QCOMPARE(overrideChanged.count(), 1);
    QCOMPARE(edit->InsertClipAtIndex(new Clip(source.SourceClip(), nullptr), 0, true), 0);
    QCOMPARE(editEdited.count(), 2);
    QCOMPARE(edit->ClipCount(), 2);
}

void TestTimeline::UseSourceSwitches()
{
    Clip a(MissingMoviePath(QStringLiteral("switch")), QString(), QUuid(), nullptr);
    FakeParsedMovie(a.SourcePtr(), 25.0, 40);
    a.SourcePtr()->SetCutInFrame(10);
    auto timeline = MakeEditTimeline({&a});
    QCOMPARE(timeline->FrameCount(), 30);

    QSignalSpy changed(timeline.get(), &Timeline::UseSourcePropertiesInTimelineChanged);
    timeline->SetUseSourceAudioDelayEnabled(false);
    QVERIFY(timeline->ClipAtIndex(0)->IsUseSourceInOutsEnabled());
    timeline->SetUseSourceInOutsEnabled(false);
    timeline->SetUseSourceInOutsEnabled(false);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(timeline->FrameCount(), 40);
    // New clips take the timeline's switch.
    timeline->InsertClipAtIndex(new Clip(&a, nullptr), -1, false);
    QCOMPARE(timeline->FrameCount(), 80);
}

void TestTimeline::RangeBookmarksStaySortedAndUnique()
{
    Timeline timeline(nullptr, true);
    QSignalSpy changed(&timeline, &Timeline::BookmarksChanged);
    QCOMPARE(timeline.InsertRangeBookmark(10, 20), 0);
    QCOMPARE(timeline.InsertRangeBookmark(5, 8), 0);
    QCOMPARE(timeline.InsertRangeBookmark(10, 15), 1);
    QCOMPARE(timeline.InsertRangeBookmark(10, 15), -1);
    QCOMPARE(changed.count(), 3);
    QList<QPair<int, int>> ranges;
    for (RangeBookmark const* range : timeline.RangeBookmarkList())
    {
        ranges.append({range->startFrame, range->endFrame});
    }
    QCOMPARE(ranges, (QList<QPair<int, int>>({{5, 8}, {10, 15}, {10, 20}})));
    QVERIFY(timeline.ToggleRangeBookmark(10, 15));
    QVERIFY(!timeline.RangeBookmarkExists(10, 15));
    QVERIFY(!timeline.RemoveRangeBookmark(10, 15));
    QCOMPARE(changed.count(), 4);

    // Many at once: the list one by one would give, with one signal.
    Timeline one(nullptr, true);
    Timeline bulk(nullptr, true);
    QList<QPair<int, int>> const given {{7, 9}, {3, 4}, {7, 9}, {5, 8}, {7, 2}, {0, 0}};
    for (Timeline* target : {&one, &bulk})
    {
        target->InsertRangeBookmark(5, 8);
        target->InsertRangeBookmark(20, 21);
    }
    for (auto const& range : given)
    {
        one.InsertRangeBookmark(range.first, range.second);
    }
    QSignalSpy bulkChanged(&bulk, &Timeline::BookmarksChanged);
    QCOMPARE(bulk.InsertRangeBookmarks(given), 4);
    QCOMPARE(bulkChanged.count(), 1);
    auto pairs = [](Timeline const& target) {
        QList<QPair<int, int>> result;
        for (RangeBookmark const* range : target.RangeBookmarkList())
        {
            result.append({range->startFrame, range->endFrame});
        }
        return result;
    };
    QCOMPARE(pairs(bulk), pairs(one));
    QCOMPARE(bulk.InsertRangeBookmarks(given), 0);
    QCOMPARE(bulkChanged.count(), 1);
}

void TestTimeline::FrameBookmarksAndTheBackgroundLayer()
{
    Timeline timeline(MissingMoviePath(QStringLiteral("bookmarks")), QString(), QUuid(), nullptr);
    FakeParsedMovie(timeline.SourcePtr(), 25.0, 30);
    QSignalSpy changed(&timeline, &Timeline::BookmarksChanged);
    QCOMPARE(timeline.InsertFrameBookmark(4), 0);
    QCOMPARE(timeline.InsertFrameBookmark(4), -1);
    QCOMPARE(changed.count(), 1);
    std::unique_ptr<FrameBookmark> removed(timeline.RemoveFrameBookmark(4));
    QVERIFY(removed);
    QCOMPARE(changed.count(), 2);

    FrameBookmark* background = timeline.BackgroundFrameBookmark();
    QVERIFY(background);
    QCOMPARE(background->timelineFrame, -1);
    std::unique_ptr<FrameBookmark> taken(timeline.TakeBackgroundFrameBookmark());
    QCOMPARE(taken.get(), background);
    QVERIFY(timeline.BackgroundFrameBookmark());
    QVERIFY(timeline.BackgroundFrameBookmark()->strokes.isEmpty());
    timeline.SetBackgroundFrameBookmark(taken.release());
    timeline.SetBackgroundFrameBookmark(nullptr);
    QVERIFY(timeline.BackgroundFrameBookmark());

    timeline.BackgroundFrameBookmark()->undoStack.push(new QUndoCommand(QStringLiteral("stroke")));
    QVERIFY(!timeline.IsUndoClean());
    timeline.SetUndoClean();
    QVERIFY(timeline.IsUndoClean());
}


void TestTimeline::DecodeCopiesAreOwnedAndRenewedAlongTheOverrideChain()
{
    Clip a(MissingMoviePath(QStringLiteral("a")), QString(), QUuid(), nullptr);
    FakeParsedMovie(a.SourcePtr(), 25.0, 20);
    auto first = MakeEditTimeline({&a});
    auto second = MakeEditTimeline({&a, &a});
    QVERIFY(!first->DuplicateDecodeVideoTrack());

    // A cycle of overrides: each timeline is visited once.
    first->SetAudioOverrideTimeline(second.get());
    second->SetAudioOverrideTimeline(first.get());
    first->UpdateDecodeTracks();
    std::unique_ptr<Track> audio(second->DuplicateDecodeAudioTrack());
    QVERIFY(audio);
    QCOMPARE(audio->ClipCount(), 2);

    // Renewing releases the previous copies; a copy taken earlier stays valid.
    std::unique_ptr<Track> video(first->DuplicateDecodeVideoTrack());
    first->InsertClipAtIndex(new Clip(&a, nullptr), -1, true);
    first->UpdateDecodeTracks();
    std::unique_ptr<Track> renewed(first->DuplicateDecodeVideoTrack());
    QCOMPARE(video->ClipCount(), 1);
    QCOMPARE(renewed->ClipCount(), 2);

    // What a decode loop reads besides the track is taken with the copies,
    // not read live.
    Timeline::DecodeState state = first->DecodeStateSnapshot();
    QCOMPARE(state.audioOverride, second.get());
    QCOMPARE(state.endTime, first->EndTime());
    QVERIFY(state.useSourceAudioDelay);
    first->SetAudioOverrideTimeline(nullptr);
    first->SetUseSourceAudioDelayEnabled(false);
    first->SetPlaybackRangeByFrame(5, 30);
    QCOMPARE(first->DecodeStateSnapshot().audioOverride, second.get());
    first->UpdateDecodeTracks();
    state = first->DecodeStateSnapshot();
    QVERIFY(!state.audioOverride);
    QVERIFY(!state.useSourceAudioDelay);
    QCOMPARE(state.playbackRangeStart, first->PlaybackRangeStart());
    QCOMPARE(state.playbackRangeEnd, first->PlaybackRangeEnd());
}

void TestTimeline::ExportCopyIsDetached()
{
    Timeline timeline(MissingMoviePath(QStringLiteral("export")), QString(), QUuid(), nullptr);
    FakeParsedMovie(timeline.SourcePtr(), RATE_23976, 100);
    timeline.SetPlaybackRangeByFrame(10, 50);
    timeline.SetPlaybackFrame(20);

    std::unique_ptr<Timeline> copy(timeline.DuplicateForExport());
    QVERIFY(!copy->parent());
    QVERIFY(copy->IsSourceTimeline());
    QCOMPARE(copy->SourcePtr(), timeline.SourcePtr());
    QCOMPARE(copy->PlaybackTime(), timeline.PlaybackTime());
    QCOMPARE(copy->PlaybackRangeStartFrame(), 10);
    QCOMPARE(copy->PlaybackRangeEndFrame(), 50);
    QCOMPARE(copy->PlaybackRangeEnd(), timeline.PlaybackRangeEnd());
    QCOMPARE(copy->MasterTrack()->parent(), copy.get());
    std::unique_ptr<Track> decode(copy->DuplicateDecodeVideoTrack());
    QVERIFY(decode);
    QCOMPARE(decode->EndTime(), timeline.EndTime());
}

void TestTimeline::DecodeThreadCopiesWhileTheTimelineChanges()
{
    // A decode thread copies the decode track and reads the playback state
    // while the user interface renews the copies, changes cuts and moves the
    // playhead. Run under the sanitizers.
    Clip a(MissingMoviePath(QStringLiteral("a")), QString(), QUuid(), nullptr);
    FakeParsedMovie(a.SourcePtr(), RATE_23976, 500);
    auto timeline = MakeEditTimeline({&a, &a, &a});
    timeline->UpdateDecodeTracks();
    std::atomic<bool> done {false};
    std::atomic<int> copies {0};
    std::atomic<int> torn {0};

    std::thread decoder([&] {
        while (!done)
        {
            std::unique_ptr<Track> copy(timeline->DuplicateDecodeVideoTrack());
            if (copy && copy->ClipCount() == 3 && copy->ClipAtIndex(1)->StartFrame() > 0
                && timeline->PlaybackTime() >= 0)
            {
                ++copies;
            }
            timeline->IsDecodeForward();
            timeline->DurationExceeded();
            Timeline::DecodeState const state = timeline->DecodeStateSnapshot();
            if (state.playbackRangeStart > state.playbackRangeEnd || state.playbackRangeEnd > state.endTime)
            {
                ++torn;
            }
        }
    });
    for (int i = 0; i < 300 || copies == 0; ++i)
    {
        a.SourcePtr()->SetCutOutFrame(100 + i % 50); // re-times the live copies
        timeline->SetPlaybackFrame(i);
        timeline->SetDecodeBias(i % 2 ? DecodeBias::PlayBackward : DecodeBias::PlayForward);
        timeline->SetPlaybackRangeByFrame(i % 7, 100 + i % 11);
        timeline->SetUseSourceAudioDelayEnabled(i % 3 == 0);
        if (i % 10 == 0)
        {
            timeline->UpdateDecodeTracks();
        }
    }
    done = true;
    decoder.join();
    QVERIFY(copies > 0);
    QCOMPARE(torn.load(), 0);
}

QTEST_GUILESS_MAIN(TestTimeline)
#include "tst_timeline.moc"
