#include "ModelFixtures.h"

#include "model/Clip.h"
#include "model/FrameBookmark.h"
#include "model/Source.h"

#include <QtTest>

#include <memory>

using namespace ModelFixtures;

class TestClip : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void CopiesShareTheSourceAndKeepTheirOwnIdentity();
    void InsAndOutsApplyOnlyToMediaClipsThatUseThem();
    void MapsTimesAndFramesAtFractionalRate();
    void ClipOfSourceWithoutFramesHasNoLength();
    void CutInBeyondShorterFileNeverGivesNegativeLength();
    void BookmarksStaySortedAndRefuseDuplicates();
    void BookmarksFollowTheCutRange();
    void BookmarkOwnershipPassesCleanly();
};

void TestClip::CopiesShareTheSourceAndKeepTheirOwnIdentity()
{
    Clip original(MissingMoviePath(QStringLiteral("a")), QString(), QUuid(), nullptr);
    QCOMPARE(original.Type(), ClipType::MediaSource);
    QCOMPARE(original.TypeString(), QStringLiteral("Media Source"));
    QCOMPARE(original.SourceClip(), &original);
    QCOMPARE(original.Name(), QStringLiteral("a.mov"));

    std::unique_ptr<Clip> copy(original.Duplicate(nullptr, false));
    QCOMPARE(copy->Type(), ClipType::Media);
    QCOMPARE(copy->SourcePtr(), original.SourcePtr());
    QCOMPARE(copy->SourceClip(), &original);
    QVERIFY(copy->Id() != original.Id());
    std::unique_ptr<Clip> kept(original.Duplicate(nullptr, true));
    QCOMPARE(kept->Type(), ClipType::MediaSource);

    Clip empty(nullptr, nullptr);
    QCOMPARE(empty.Type(), ClipType::Empty);
    QCOMPARE(empty.Name(), QStringLiteral("Unnamed Clip"));
    QCOMPARE(empty.FrameCount(), 0);
    std::unique_ptr<Clip> emptyCopy(empty.Duplicate(nullptr, false));
    QCOMPARE(emptyCopy->Type(), ClipType::Empty); // no Media clip without a source

    QSignalSpy parsed(copy.get(), &Clip::SourceParsed);
    FakeParsedMovie(original.SourcePtr(), 25.0, 10);
    QCOMPARE(parsed.count(), 1);
}

void TestClip::InsAndOutsApplyOnlyToMediaClipsThatUseThem()
{
    Clip original(MissingMoviePath(QStringLiteral("b")), QString(), QUuid(), nullptr);
    FakeParsedMovie(original.SourcePtr(), 25.0, 100);
    original.SourcePtr()->SetCutInFrame(10);
    original.SourcePtr()->SetCutOutFrame(19);
    Clip copy(&original, nullptr);

    QCOMPARE(original.FrameCount(), 100); // a source clip ignores the cuts
    QCOMPARE(original.CutInFrame(), 0);
    QCOMPARE(original.CutOutFrame(), 99);
    QCOMPARE(copy.FrameCount(), 10);
    QCOMPARE(copy.CutInFrame(), 10);
    QCOMPARE(copy.CutIn(), 400000LL);
    QCOMPARE(copy.CutOut(), 799999LL);

    copy.SetUseSourceInOutsEnabled(false);
    QCOMPARE(copy.FrameCount(), 100);
    QCOMPARE(copy.CutInFrame(), 0);
    QCOMPARE(copy.CutOut(), original.SourcePtr()->Duration() - 1);
}

void TestClip::MapsTimesAndFramesAtFractionalRate()
{
    Clip original(MissingMoviePath(QStringLiteral("c")), QString(), QUuid(), nullptr);
    FakeParsedMovie(original.SourcePtr(), RATE_23976, 48);
    Clip copy(&original, nullptr);
    copy.SetStartTime(1000000, 30);
    // 23.976: frame n starts at ceil(n * 41708.33) µs after the clip start.
    QCOMPARE(copy.TimelineTimeAtFrameStart(0), 1000000LL);
    QCOMPARE(copy.TimelineTimeAtFrameStart(3), 1125125LL);
    QCOMPARE(copy.TimelineTimeAtFrameEnd(2), 1125124LL);
    QCOMPARE(copy.FrameAtTimelineTime(1125124), 32);
    QCOMPARE(copy.FrameAtTimelineTime(1125125), 33);
    QCOMPARE(copy.FrameAtClipTime(41709), 1);
    QCOMPARE(copy.EndFrame(), 30 + 48 - 1);

    original.SourcePtr()->SetCutInFrame(4);
    QCOMPARE(copy.TimelineFrameToSourceFrame(30), 4);
    QCOMPARE(copy.SourceFrameToTimelineFrame(10), 36);
    QCOMPARE(original.TimelineFrameToSourceFrame(0), 0);
}

void TestClip::ClipOfSourceWithoutFramesHasNoLength()
{
    Clip original(MissingMoviePath(QStringLiteral("d")), QString(), QUuid(), nullptr);
    Clip copy(&original, nullptr);
    copy.SetStartTime(500, 7);
    QCOMPARE(copy.FrameCount(), 0);
    QCOMPARE(copy.EndFrame(), 6);
}

void TestClip::CutInBeyondShorterFileNeverGivesNegativeLength()
{
    // Cut stored against a longer render, then the file is parsed again shorter.
    Clip original(MissingMoviePath(QStringLiteral("e")), QString(), QUuid(), nullptr);
    FakeParsedMovie(original.SourcePtr(), 25.0, 100);
    original.SourcePtr()->SetCutInFrame(80);
    FakeParsedMovie(original.SourcePtr(), 25.0, 30);
    Clip copy(&original, nullptr);
    copy.SetStartTime(0, 12);
    QCOMPARE(copy.FrameCount(), 0);
    QCOMPARE(copy.EndFrame(), 11);
}

void TestClip::BookmarksStaySortedAndRefuseDuplicates()
{
    Clip clip(MissingMoviePath(QStringLiteral("f")), QString(), QUuid(), nullptr);
    FakeParsedMovie(clip.SourcePtr(), 25.0, 100);
    clip.SetStartTime(0, 0);
    QCOMPARE(clip.InsertFrameBookmark(40), 0);
    QCOMPARE(clip.InsertFrameBookmark(10), 0);
    QCOMPARE(clip.InsertFrameBookmark(25), 1);
    QCOMPARE(clip.InsertFrameBookmark(90), 3);

    auto* given = new FrameBookmark(0);
    given->strokes.append(StrokeData());
    QCOMPARE(clip.InsertFrameBookmark(25, given), -1); // the caller keeps it
    QCOMPARE(given->strokes.size(), 1);
    delete given;

    QList<int> frames;
    for (FrameBookmark const* bookmark : clip.FrameBookmarkList())
    {
        frames.append(bookmark->frame);
    }
    QCOMPARE(frames, QList<int>({10, 25, 40, 90}));
    QVERIFY(clip.FrameBookmarkAt(25));
    QVERIFY(!clip.FrameBookmarkAt(26));
}

void TestClip::BookmarksFollowTheCutRange()
{
    Clip original(MissingMoviePath(QStringLiteral("g")), QString(), QUuid(), nullptr);
    FakeParsedMovie(original.SourcePtr(), 25.0, 100);
    Clip copy(&original, nullptr);
    copy.SetStartTime(0, 200);
    QCOMPARE(copy.InsertFrameBookmark(215), 0); // source frame 15
    FrameBookmark const* bookmark = copy.FrameBookmarkAt(215);
    QCOMPARE(bookmark->frame, 15);
    QCOMPARE(bookmark->timelineFrame, 215);

    original.SourcePtr()->SetCutInFrame(20);
    copy.UpdateFrameBookmarks();
    QCOMPARE(bookmark->timelineFrame, -1);
    original.SourcePtr()->SetCutInFrame(10);
    copy.UpdateFrameBookmarks();
    QCOMPARE(bookmark->timelineFrame, 205);
    original.SourcePtr()->SetCutOutFrame(12);
    copy.UpdateFrameBookmarks();
    QCOMPARE(bookmark->timelineFrame, -1);
}

void TestClip::BookmarkOwnershipPassesCleanly()
{
    // Run under AddressSanitizer: every bookmark below is freed exactly once.
    Clip clip(MissingMoviePath(QStringLiteral("h")), QString(), QUuid(), nullptr);
    FakeParsedMovie(clip.SourcePtr(), 25.0, 50);
    clip.InsertFrameBookmark(3);
    clip.InsertFrameBookmark(7);

    std::unique_ptr<FrameBookmark> removed(clip.RemoveFrameBookmark(3));
    QVERIFY(removed);
    QVERIFY(!clip.RemoveFrameBookmark(3));

    QList<FrameBookmark*> taken;
    clip.RemoveAllFrameBookmarks(taken);
    QCOMPARE(taken.size(), 1);
    QVERIFY(clip.FrameBookmarkList().isEmpty());

    // Handing a held bookmark back with the new list keeps it alive.
    clip.SetFrameBookmarks(taken);
    clip.SetFrameBookmarks({clip.FrameBookmarkList().first(), new FrameBookmark(9)});
    QCOMPARE(clip.FrameBookmarkList().size(), 2);
    QCOMPARE(clip.FrameBookmarkList().last()->timelineFrame, 9);

    QVERIFY(clip.IsUndoClean());
    clip.FrameBookmarkList().first()->undoStack.push(new QUndoCommand(QStringLiteral("stroke")));
    QVERIFY(!clip.IsUndoClean());
    clip.SetUndoClean();
    QVERIFY(clip.IsUndoClean());
}


QTEST_GUILESS_MAIN(TestClip)
#include "tst_clip.moc"
