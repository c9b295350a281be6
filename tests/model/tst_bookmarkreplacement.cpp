#include "ModelFixtures.h"

#include "model/Clip.h"
#include "model/FrameBookmark.h"
#include "model/Timeline.h"

#include <QtTest>

#include <memory>

using namespace ModelFixtures;

// Holders of bookmark pointers hear of every replacement synchronously, with
// the new bookmarks in place and the old ones still alive.
class TestBookmarkReplacement : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void BackgroundSwapAndTake();
    void ClipListReplacedRemovedOrHandedAway();
    void ClipLeavingTheTimeline();
};

void TestBookmarkReplacement::BackgroundSwapAndTake()
{
    Timeline timeline(nullptr, true);
    FrameBookmark* old = timeline.BackgroundFrameBookmark();
    old->strokes.append(StrokeData());
    auto* replacement = new FrameBookmark();
    int heard = 0;
    connect(&timeline, &Timeline::FrameBookmarksReplaced, this, [&] {
        ++heard;
        QCOMPARE(timeline.BackgroundFrameBookmark(), replacement);
        QCOMPARE(old->strokes.size(), 1); // still alive under ASan
    });
    timeline.SetBackgroundFrameBookmark(replacement);
    QCOMPARE(heard, 1);
    timeline.SetBackgroundFrameBookmark(replacement);
    QCOMPARE(heard, 1);

    disconnect(&timeline, &Timeline::FrameBookmarksReplaced, this, nullptr);
    QSignalSpy taken(&timeline, &Timeline::FrameBookmarksReplaced);
    std::unique_ptr<FrameBookmark> owned(timeline.TakeBackgroundFrameBookmark());
    QCOMPARE(owned.get(), replacement);
    QCOMPARE(taken.count(), 1);
}

void TestBookmarkReplacement::ClipListReplacedRemovedOrHandedAway()
{
    Timeline timeline(MissingMoviePath(QStringLiteral("replace")), QString(), QUuid::createUuid());
    FakeParsedMovie(timeline.SourcePtr(), 25.0, 50);
    timeline.OnTrackUpdated();
    timeline.InsertFrameBookmark(4);
    FrameBookmark* old = timeline.FrameBookmarkAt(4);
    old->strokes.append(StrokeData());
    auto* fresh = new FrameBookmark(7);
    int heard = 0;
    auto connection = connect(&timeline, &Timeline::FrameBookmarksReplaced, this, [&] {
        ++heard;
        QCOMPARE(timeline.FrameBookmarkList(), QList<FrameBookmark*>({fresh}));
        QCOMPARE(timeline.FrameBookmarkAt(7)->timelineFrame, 7);
        QCOMPARE(old->strokes.size(), 1);
    });
    timeline.SourceClip()->SetFrameBookmarks({fresh});
    QCOMPARE(heard, 1);
    disconnect(connection);

    QSignalSpy replaced(&timeline, &Timeline::FrameBookmarksReplaced);
    std::unique_ptr<FrameBookmark> removed(timeline.RemoveFrameBookmark(7));
    QCOMPARE(removed.get(), fresh);
    QCOMPARE(replaced.count(), 1);
    timeline.InsertFrameBookmark(9);
    QList<FrameBookmark*> handed;
    timeline.SourceClip()->RemoveAllFrameBookmarks(handed);
    QCOMPARE(replaced.count(), 2);
    qDeleteAll(handed);
}

void TestBookmarkReplacement::ClipLeavingTheTimeline()
{
    Clip source(MissingMoviePath(QStringLiteral("leave")), QString(), QUuid(), nullptr);
    FakeParsedMovie(source.SourcePtr(), 25.0, 20);
    Timeline edit(nullptr, true);
    edit.InsertClipAtIndex(new Clip(&source, nullptr), -1, false);
    edit.RefreshClipStartTimes();
    edit.InsertFrameBookmark(3);
    QVERIFY(edit.FrameBookmarkAt(3));
    QSignalSpy replaced(&edit, &Timeline::FrameBookmarksReplaced);
    std::unique_ptr<Clip> clip(edit.RemoveClipAtIndex(0, true));
    QVERIFY(clip);
    QCOMPARE(replaced.count(), 1);
    QVERIFY(!edit.FrameBookmarkAt(3));
    // A clip that left no longer speaks for the timeline.
    clip->SetFrameBookmarks({});
    QCOMPARE(replaced.count(), 1);
}

QTEST_MAIN(TestBookmarkReplacement)
#include "tst_bookmarkreplacement.moc"
