#include "ModelFixtures.h"

#include "model/Clip.h"
#include "model/FrameBookmark.h"
#include "model/Source.h"
#include "model/Track.h"

#include <QtTest>

#include <memory>

using namespace ModelFixtures;

class TestTrack : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void EmptyTrackHasNoLength();
    void SourceTrackWrapsOneParsedSource();
    void MixedFractionalRatesJoinWithoutGaps();
    void EveryFrameMapsBackAcrossClipBoundaries();
    void CutsAndUnparsedClipsShapeTheTrack();
    void SourceCutChangeRetimesEditTracks();
    void InsertRemoveAndMove();
    void ClipOrderRules();
    void BookmarksRouteToTheClipUnderTheFrame();
    void DuplicateSharesSourcesAndIsOwnedByTheCaller();
    void AudioOverrideRetimingCutsAtTheRangeEnd();

private:
    Clip* MakeSourceClip(QString const& name, double rate, int frames);

    QList<Clip*> mSourceClips; // the clips that own the sources used below
};

void TestTrack::init()
{
    mSourceClips.clear();
}

void TestTrack::cleanup()
{
    qDeleteAll(mSourceClips);
    mSourceClips.clear();
}

Clip* TestTrack::MakeSourceClip(QString const& name, double rate, int frames)
{
    auto* clip = new Clip(MissingMoviePath(name), QString(), QUuid(), nullptr);
    FakeParsedMovie(clip->SourcePtr(), rate, frames, true);
    mSourceClips.append(clip);
    return clip;
}

void TestTrack::EmptyTrackHasNoLength()
{
    Track track;
    QCOMPARE(track.Duration(), 0LL);
    QCOMPARE(track.EndTime(), 0LL);
    QCOMPARE(track.FrameCount(), 0);
    QCOMPARE(track.EndFrame(), 0);
    QCOMPARE(track.TimeAtFrame(0, false), -1LL);
    QCOMPARE(track.FrameAtTime(0), -1);
    QCOMPARE(track.FrameRateAtFrame(0), -1.0);
    QVERIFY(!track.HasAudio());
    QVERIFY(track.IsUndoClean());
}

void TestTrack::SourceTrackWrapsOneParsedSource()
{
    Track track(MissingMoviePath(QStringLiteral("src")), QString(), QUuid(), nullptr);
    QVERIFY(track.IsSourceTrack());
    QVERIFY(track.SourcePtr());
    QSignalSpy parsed(&track, &Track::SourceParsed);
    FakeParsedMovie(track.SourcePtr(), RATE_2997, 30);
    QCOMPARE(parsed.count(), 1);
    // 30 frames at 29.97 end one µs before ceil(30 × 33366.67).
    QCOMPARE(track.EndTime(), 1000999LL);
    QCOMPARE(track.Duration(), 1001000LL);
    QCOMPARE(track.FrameCount(), 30);
    QCOMPARE(track.EndFrame(), 29);
    QCOMPARE(track.FrameAtTime(1000999), 29);
    QCOMPARE(track.TimeAtFrame(29, false), 967634LL);
    QCOMPARE(track.FrameRateAtFrame(5), 29.97);
}

void TestTrack::MixedFractionalRatesJoinWithoutGaps()
{
    Track track;
    track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("a"), RATE_23976, 10), nullptr), -1);
    track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("b"), RATE_2997, 5), nullptr), -1);
    track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("c"), 25.0, 3), nullptr), -1);

    // a: frames 0–9, 10 × 41708.33 µs; b starts at the first µs after it.
    QCOMPARE(track.ClipAtIndex(0)->EndTime(), 417083LL);
    QCOMPARE(track.ClipAtIndex(1)->StartTime(), 417084LL);
    QCOMPARE(track.ClipAtIndex(1)->StartFrame(), 10);
    QCOMPARE(track.TimeAtFrame(12, false), 417084LL + 66734);
    QCOMPARE(track.FrameAtTime(417083), 9);
    QCOMPARE(track.FrameAtTime(417084), 10);
    QCOMPARE(track.FrameRateAtFrame(9), 23.976);
    QCOMPARE(track.FrameRateAtFrame(10), 29.97);
    QCOMPARE(track.FrameRateAtFrame(15), 25.0);
    QCOMPARE(track.FrameCount(), 18);
    QCOMPARE(track.FramesPerClip(), QList<int>({10, 5, 3}));
    QCOMPARE(track.ClipIndexAtTime(track.ClipAtIndex(2)->StartTime()), 2);
    QCOMPARE(track.ClipIndexAtFrame(14), 1);
    // A frame past the end is measured from the last clip's start.
    QCOMPARE(track.TimeAtFrame(20, false), track.ClipAtIndex(2)->TimelineTimeAtFrameStart(5));
}

void TestTrack::EveryFrameMapsBackAcrossClipBoundaries()
{
    Track track;
    track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("a"), RATE_2997, 47), nullptr), -1);
    track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("b"), RATE_23976, 61), nullptr), -1);
    track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("c"), RATE_2997, 33), nullptr), -1);
    for (int frame = 0; frame <= track.EndFrame(); ++frame)
    {
        long long const start = track.TimeAtFrame(frame, false);
        long long const end = track.TimeAtFrame(frame, true);
        QVERIFY2(start <= end, qPrintable(QString::number(frame)));
        QCOMPARE(track.FrameAtTime(start), frame);
        QCOMPARE(track.FrameAtTime(end), frame);
        if (frame > 0)
        {
            QCOMPARE(track.TimeAtFrame(frame - 1, true) + 1, start);
        }
    }
    QCOMPARE(track.TimeAtFrame(track.EndFrame(), true), track.EndTime());
}

void TestTrack::CutsAndUnparsedClipsShapeTheTrack()
{
    Clip* a = MakeSourceClip(QStringLiteral("a"), RATE_23976, 48);
    a->SourcePtr()->SetCutInFrame(12);
    a->SourcePtr()->SetCutOutFrame(23);
    auto* unparsed = new Clip(MissingMoviePath(QStringLiteral("unparsed")), QString(), QUuid(), nullptr);
    mSourceClips.append(unparsed);

    Track track;
    track.InsertClipAtIndex(new Clip(a, nullptr), -1);
    track.InsertClipAtIndex(new Clip(unparsed, nullptr), -1);
    track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("c"), RATE_2997, 10), nullptr), -1);

    QCOMPARE(track.ClipAtIndex(0)->FrameCount(), 12);
    QCOMPARE(track.ClipAtIndex(0)->EndTime(), 500499LL); // 12 frames at 23.976
    // The clip without frames takes no time: the next one follows at once.
    QCOMPARE(track.ClipAtIndex(1)->FrameCount(), 0);
    QCOMPARE(track.ClipAtIndex(2)->StartTime(), 500500LL);
    QCOMPARE(track.ClipAtIndex(2)->StartFrame(), 12);
    QCOMPARE(track.FrameAtTime(500500), 12);
    QCOMPARE(track.ClipAtTime(500500), track.ClipAtIndex(2));
    QCOMPARE(track.FrameCount(), 22);

    track.SetUseSourceInOutsEnabled(false);
    track.RefreshClipStartTimes();
    QCOMPARE(track.ClipAtIndex(2)->StartFrame(), 48);
}

void TestTrack::SourceCutChangeRetimesEditTracks()
{
    Clip* a = MakeSourceClip(QStringLiteral("a"), 25.0, 50);
    Track first;
    Track second;
    first.InsertClipAtIndex(new Clip(a, nullptr), -1);
    first.InsertClipAtIndex(new Clip(a, nullptr), -1); // the same source twice
    second.InsertClipAtIndex(new Clip(a, nullptr), -1);
    QSignalSpy firstUpdated(&first, &Track::TrackUpdated);
    QSignalSpy secondUpdated(&second, &Track::TrackUpdated);

    a->SourcePtr()->SetCutOutFrame(9);
    QCOMPARE(firstUpdated.count(), 1);
    QCOMPARE(secondUpdated.count(), 1);
    QCOMPARE(first.ClipAtIndex(1)->StartFrame(), 10);
    QCOMPARE(second.EndTime(), 399999LL);

    // Removing one of two clips of a source keeps the track following it.
    std::unique_ptr<Clip> removed(first.RemoveClipAtIndex(0));
    a->SourcePtr()->SetCutOutFrame(19);
    QCOMPARE(first.EndFrame(), 19);
}

void TestTrack::InsertRemoveAndMove()
{
    Track track;
    QSignalSpy updated(&track, &Track::TrackUpdated);
    QCOMPARE(track.InsertClipAtIndex(nullptr, 0), -1);
    QCOMPARE(track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("a"), 25.0, 10), nullptr), 5), 0);
    QCOMPARE(track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("b"), 25.0, 20), nullptr), -1), 1);
    QCOMPARE(track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("c"), 25.0, 30), nullptr), 0), 0);
    QCOMPARE(updated.count(), 3);
    QCOMPARE(track.FramesPerClip(), QList<int>({30, 10, 20}));
    QCOMPARE(track.ClipAtIndex(1)->parent(), &track);

    std::unique_ptr<Clip> first(track.RemoveClipAtIndex(0));
    QVERIFY(first);
    QVERIFY(!first->parent());
    QCOMPARE(track.ClipAtIndex(0)->StartTime(), 0LL);
    QCOMPARE(track.ClipAtIndex(0)->StartFrame(), 0);
    QVERIFY(!track.RemoveClipAtIndex(2));

    track.MoveClip(0, 1);
    QCOMPARE(track.FramesPerClip(), QList<int>({20, 10}));
    QCOMPARE(track.ClipAtIndex(1)->StartFrame(), 20);
    track.MoveClip(0, 2); // out of range: nothing
    QCOMPARE(track.FramesPerClip(), QList<int>({20, 10}));
}

void TestTrack::ClipOrderRules()
{
    Track track;
    for (int frames : {1, 2, 3, 4})
    {
        track.InsertClipAtIndex(
            new Clip(MakeSourceClip(QStringLiteral("o%1").arg(frames), 25.0, frames), nullptr), -1);
    }
    QList<QUuid> const ids = track.OrderedClipIds();
    QSignalSpy updated(&track, &Track::TrackUpdated);
    track.SetClipOrder({QUuid::createUuid()});
    QCOMPARE(updated.count(), 0);
    QCOMPARE(track.OrderedClipIds(), ids);

    track.SetClipOrder({ids.at(2), ids.at(0)});
    QCOMPARE(updated.count(), 1);
    QCOMPARE(track.FramesPerClip(), QList<int>({3, 1, 2, 4}));
    QCOMPARE(track.ClipAtIndex(1)->StartFrame(), 3);
}


void TestTrack::BookmarksRouteToTheClipUnderTheFrame()
{
    Clip* b = MakeSourceClip(QStringLiteral("b"), 25.0, 20);
    b->SourcePtr()->SetCutInFrame(5);
    Track track;
    track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("a"), 25.0, 10), nullptr), -1);
    track.InsertClipAtIndex(new Clip(b, nullptr), -1);

    QCOMPARE(track.InsertFrameBookmark(12), 0);
    QCOMPARE(track.ClipAtIndex(1)->FrameBookmarkList().first()->frame, 7);
    QCOMPARE(track.InsertFrameBookmark(3), 0);
    QCOMPARE(track.InsertFrameBookmark(500), -1);
    QCOMPARE(track.FrameBookmarkList().size(), 2);
    QCOMPARE(track.FrameBookmarkList().first()->timelineFrame, 3);
    QCOMPARE(track.FrameBookmarkList().last()->timelineFrame, 12);
    QVERIFY(track.FrameBookmarkAt(12));

    // Moving the clip carries its bookmark along.
    track.MoveClip(1, 0);
    QCOMPARE(track.FrameBookmarkList().first()->timelineFrame, 2);
    QVERIFY(track.FrameBookmarkAt(2));
    std::unique_ptr<FrameBookmark> removed(track.RemoveFrameBookmark(2));
    QVERIFY(removed);
    QCOMPARE(removed->frame, 7);
}

void TestTrack::DuplicateSharesSourcesAndIsOwnedByTheCaller()
{
    Clip* a = MakeSourceClip(QStringLiteral("a"), RATE_23976, 24);
    Track track;
    track.InsertClipAtIndex(new Clip(a, nullptr), -1);
    track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("b"), RATE_2997, 30), nullptr), -1);
    track.InsertFrameBookmark(5);

    std::unique_ptr<Track> copy(track.Duplicate());
    QVERIFY(!copy->parent());
    QVERIFY(!copy->IsSourceTrack());
    QCOMPARE(copy->ClipCount(), 2);
    QCOMPARE(copy->ClipAtIndex(0)->Type(), ClipType::Media);
    QCOMPARE(copy->ClipAtIndex(0)->SourcePtr(), a->SourcePtr());
    QVERIFY(copy->ClipAtIndex(0)->Id() != track.ClipAtIndex(0)->Id());
    QCOMPARE(copy->EndTime(), track.EndTime());
    QVERIFY(copy->FrameBookmarkList().isEmpty());

    // The copy follows its sources' cuts on its own.
    a->SourcePtr()->SetCutOutFrame(11);
    QCOMPARE(copy->ClipAtIndex(1)->StartFrame(), 12);

    Track sourceTrack(MissingMoviePath(QStringLiteral("s")), QString(), QUuid(), nullptr);
    std::unique_ptr<Track> sourceCopy(sourceTrack.Duplicate());
    QVERIFY(sourceCopy->IsSourceTrack());
    QCOMPARE(sourceCopy->SourceClip()->Type(), ClipType::MediaSource);
    QCOMPARE(sourceCopy->SourcePtr(), sourceTrack.SourcePtr());
}

void TestTrack::AudioOverrideRetimingCutsAtTheRangeEnd()
{
    Track track;
    track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("a"), 25.0, 25), nullptr), -1); // 0–999999
    track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("b"), 25.0, 25), nullptr), -1); // to 1999999
    track.InsertClipAtIndex(new Clip(MakeSourceClip(QStringLiteral("c"), 25.0, 25), nullptr), -1);

    track.UpdateClipTimesForAudioOverride(400000, 1500000, 5000000);
    QCOMPARE(track.ClipCount(), 4);
    QCOMPARE(track.ClipAtIndex(0)->StartTime(), -400000LL);
    QCOMPARE(track.ClipAtIndex(0)->EndTime(), 599999LL);
    QCOMPARE(track.ClipAtIndex(1)->StartTime(), 600000LL);
    QCOMPARE(track.ClipAtIndex(1)->EndTime(), 1100000LL);
    Clip const* silence = track.ClipAtIndex(2);
    QCOMPARE(silence->Type(), ClipType::Empty);
    QCOMPARE(silence->StartTime(), 1100001LL);
    QCOMPARE(silence->EndTime(), 5000000LL);
    QCOMPARE(silence->StartFrame(), 2); // frame fields hold clip indices here
    QCOMPARE(track.ClipAtTime(3000000), silence);

    // The re-laid copy no longer follows cut changes.
    track.ClipAtIndex(0)->SourcePtr()->SetCutOutFrame(5);
    QCOMPARE(track.ClipAtIndex(1)->StartTime(), 600000LL);

    Track untouched;
    untouched.UpdateClipTimesForAudioOverride(0, 100, 200);
    QCOMPARE(untouched.ClipCount(), 0);
}

QTEST_GUILESS_MAIN(TestTrack)
#include "tst_track.moc"
