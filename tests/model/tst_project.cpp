// TESSARIN_TEST: own-home
#include "ModelFixtures.h"
#include "support/TestMedia.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/Clip.h"
#include "model/FolderItem.h"
#include "model/FrameBookmark.h"
#include "model/Project.h"
#include "model/RangeBookmark.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"

#include <QtTest>

#include <functional>
#include <memory>

using namespace ModelFixtures;

namespace
{
// Stands in for the media engine: records parse requests and answers them
// only when the test says so, in any order.
struct FakeEngine
{
    explicit FakeEngine(Project* project)
    {
        QObject::connect(project, &Project::ParseSourceRequested, [this](TimelineItem* item) {
            requested.append(item);
            if (onRequest)
            {
                onRequest(item);
            }
        });
    }
    static void Finish(TimelineItem* item, int frames = 50)
    {
        FakeParsedMovie(item->SourcePtr(), 25.0, frames);
    }
    QList<QPointer<TimelineItem>> requested;
    std::function<void(TimelineItem*)> onRequest;
};

ParseSourceData Record(QString const& name, QUuid const& parent = QUuid())
{
    ParseSourceData data;
    data.path = MissingMoviePath(name);
    data.parentId = parent;
    return data;
}

QStringList Names(FolderItem const* folder)
{
    QStringList names;
    for (ProjectItem const* child : folder->ChildItems())
    {
        names.append(child->Name());
    }
    return names;
}
} // namespace

class TestProject : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void ItemsAndRootRecognition();
    void FindingByIdFollowsEveryChangeOfTheTree();
    void NewProjectAndPlacementRules();
    void PositionsAndMoves();
    void FolderNeverMovesIntoItsOwnSubtree();
    void ProjectSettingsAreClamped();
    void BatchFinishesInRequestOrder();
    void StoredStateIsAppliedAfterTheRealParse();
    void SourceWithMissingFileStaysWithItsError();
    void ParseThatNeverCompletesEndsTheWait();
    void FailedReplacementKeepsTheOldSource();
    void ReplacementSwapsClipsInPlace();
    void ReloadOfAFileBeingWrittenOnlyRearmsTheWatcher();
};

void TestProject::init()
{
    Project::SetParseTimeout(Project::DEFAULT_PARSE_TIMEOUT_MS);
}

void TestProject::ItemsAndRootRecognition()
{
    FolderItem root(FolderItemType::ProjectFolder, Settings::projectFolderName);
    QVERIFY(root.IsProjectRootFolder());
    auto* nested = new FolderItem(FolderItemType::ProjectFolder, Settings::projectFolderName);
    root.InsertProjectItem(nested, -1);
    QVERIFY(!nested->IsProjectRootFolder());
    QCOMPARE(nested->ParentId(), root.Id());

    FolderItem timelines(FolderItemType::TimelinesFolder, Settings::timelinesFolderName);
    QVERIFY(timelines.IsTimelinesRootFolder());
    timelines.SetName(QStringLiteral("Cuts"));
    QVERIFY(!timelines.IsTimelinesRootFolder());

    QSignalSpy renamed(&timelines, &ProjectItem::NameChanged);
    timelines.SetName(QString());
    timelines.SetName(QStringLiteral("Edits"));
    timelines.SetName(QStringLiteral("Edits"));
    QCOMPARE(renamed.count(), 1);
    QCOMPARE(timelines.Name(), QStringLiteral("Edits"));

    QUuid const id = timelines.Id();
    timelines.SetId(QUuid());
    QCOMPARE(timelines.Id(), id);

    QCOMPARE(FolderItem(FolderItemType::ProjectFolder, QString()).Name(), QStringLiteral("New Folder"));
    TimelineItem edit(nullptr, QString());
    QCOMPARE(edit.Name(), QStringLiteral("New Timeline"));
    QCOMPARE(edit.ItemType(), ProjectItemType::Timeline);
    TimelineItem source(new Timeline(QStringLiteral("/nowhere/shot_010.mov"), QString(), QUuid()), QString());
    QCOMPARE(source.Name(), QStringLiteral("shot_010.mov"));
    QCOMPARE(source.ItemType(), ProjectItemType::SourceTimeline);
    QCOMPARE(source.ToolTip(), QStringLiteral("/nowhere/shot_010.mov"));
}

void TestProject::FindingByIdFollowsEveryChangeOfTheTree()
{
    // Checked against a plain pre-order walk after each change.
    std::function<ProjectItem*(FolderItem const*, QUuid const&)> walk = [&walk](FolderItem const* folder,
                                                                              QUuid const& id) -> ProjectItem* {
        for (ProjectItem* child : folder->ChildItems())
        {
            if (child->Id() == id)
            {
                return child;
            }
            if (child->ItemType() == ProjectItemType::Folder)
            {
                if (ProjectItem* found = walk(static_cast<FolderItem*>(child), id))
                {
                    return found;
                }
            }
        }
        return nullptr;
    };
    QList<ProjectItem*> everything;
    auto agree = [&]() {
        for (ProjectItem* item : std::as_const(everything))
        {
            if (item->ItemType() != ProjectItemType::Folder)
            {
                continue;
            }
            auto* folder = static_cast<FolderItem*>(item);
            for (ProjectItem* other : std::as_const(everything))
            {
                if (folder->FindChildById(other->Id()) != walk(folder, other->Id()))
                {
                    return false;
                }
            }
        }
        return true;
    };
    FolderItem root(FolderItemType::ProjectFolder, QStringLiteral("root"));
    auto* a = new FolderItem(FolderItemType::ProjectFolder, QStringLiteral("a"));
    auto* b = new FolderItem(FolderItemType::ProjectFolder, QStringLiteral("b"));
    auto* c = new FolderItem(FolderItemType::ProjectFolder, QStringLiteral("c"));
    auto* t = new TimelineItem(nullptr, QStringLiteral("t"));
    everything = {&root, a, b, c, t};
    root.InsertProjectItem(a, -1);
    a->InsertProjectItem(b, -1);
    b->InsertProjectItem(t, -1);
    root.InsertProjectItem(c, -1);
    QVERIFY(agree());
    QCOMPARE(root.FindChildById(t->Id()), t);
    QVERIFY(!c->FindChildById(t->Id()));

    // An id given after insertion; a subtree moved; a subtree taken out and
    // searched on its own.
    QUuid const newId = QUuid::createUuid();
    t->SetId(newId);
    QCOMPARE(root.FindChildById(newId), t);
    a->RemoveProjectItem(b);
    c->InsertProjectItem(b, 0);
    QVERIFY(agree());
    QCOMPARE(c->FindChildById(newId), t);
    QVERIFY(!a->FindChildById(newId));
    c->RemoveProjectItem(b);
    QVERIFY(!root.FindChildById(newId));
    QCOMPARE(b->FindChildById(newId), t);
    QVERIFY(agree());

    // Two nodes under one id (a source beside its successor): the first in
    // pre-order answers.
    auto* twin = new TimelineItem(nullptr, QStringLiteral("twin"));
    twin->SetId(newId);
    a->InsertProjectItem(twin, -1);
    root.InsertProjectItem(b, 0);
    everything.append(twin);
    QCOMPARE(root.FindChildById(newId), t);
    root.RemoveProjectItem(b);
    QCOMPARE(root.FindChildById(newId), twin);
    QVERIFY(agree());
    delete b;
}

void TestProject::NewProjectAndPlacementRules()
{
    Project project;
    QList<FolderItem*> const top = project.TopLevelFolders();
    QCOMPARE(top.size(), 3);
    QCOMPARE(top.at(0)->Name(), QStringLiteral("PROJECT"));
    QCOMPARE(top.at(1)->Name(), QStringLiteral("SOURCES"));
    QCOMPARE(top.at(2)->Name(), QStringLiteral("TIMELINES"));
    for (FolderItem const* folder : top)
    {
        QVERIFY(folder->IsExpanded());
        QCOMPARE(folder->ChildCount(), 0);
    }
    QVERIFY(project.DefaultTimelineId().isNull());

    // Folders go below PROJECT unless their parent is a user folder.
    FolderItem* a = project.AddFolder(QStringLiteral("A"), project.SourceTimelineFolder()->Id(), false);
    FolderItem* b = project.AddFolder(QStringLiteral("B"), project.TimelineFolder()->Id(), false);
    project.AddFolder(QStringLiteral("C"), QUuid::createUuid(), false);
    FolderItem* d = project.AddFolder(QStringLiteral("D"), a->Id(), true);
    QCOMPARE(Names(project.ProjectFolder()), QStringList({"A", "B", "C"}));
    QCOMPARE(d->ParentId(), a->Id());
    QVERIFY(a->IsExpanded());

    // Edit timelines never go into SOURCES.
    TimelineItem* t1 = project.AddTimeline(QString(), project.SourceTimelineFolder()->Id(), false);
    TimelineItem* t2 = project.AddTimeline(QStringLiteral("Edit"), b->Id(), false);
    QCOMPARE(t1->ParentId(), project.TimelineFolder()->Id());
    QCOMPARE(t2->ParentId(), b->Id());
    QCOMPARE(project.FindTimelineById(t2->Id(), false), t2);

    // A source whose parent is TIMELINES goes to the end of SOURCES.
    FakeEngine engine(&project);
    engine.onRequest = [](TimelineItem* item) { FakeEngine::Finish(item); };
    QList<ParseSourceData> records {Record("s1", project.TimelineFolder()->Id()), Record("s2", d->Id())};
    records[0].index = 0;
    project.AddSourceTimelines(records);
    TimelineItem* s1 = project.FindSourceTimelineById(records.at(0).id);
    TimelineItem* s2 = project.FindSourceTimelineById(records.at(1).id);
    QVERIFY(s1 && s2);
    QCOMPARE(s1->ParentId(), project.SourceTimelineFolder()->Id());
    QCOMPARE(s2->ParentId(), d->Id());
    QCOMPARE(s1->SourcePtr()->Id(), s1->Id());

    // Default timeline: never a source timeline, no signal for the same id.
    QSignalSpy changed(&project, &Project::DefaultTimelineChanged);
    project.SetDefaultTimeline(s1->Id());
    project.SetDefaultTimeline(t1->Id());
    project.SetDefaultTimeline(t1->Id());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(project.DefaultTimelineId(), t1->Id());
}

void TestProject::PositionsAndMoves()
{
    FolderItem folder(FolderItemType::ProjectFolder, QStringLiteral("F"));
    // Edit timeline T1, source S1, folder F2, edit timeline T2, source S2.
    auto* t1 = new TimelineItem(nullptr, QStringLiteral("T1"));
    auto* s1 = new TimelineItem(new Timeline(MissingMoviePath("s1"), QString(), QUuid()), QStringLiteral("S1"));
    auto* f2 = new FolderItem(FolderItemType::ProjectFolder, QStringLiteral("F2"));
    auto* t2 = new TimelineItem(nullptr, QStringLiteral("T2"));
    auto* s2 = new TimelineItem(new Timeline(MissingMoviePath("s2"), QString(), QUuid()), QStringLiteral("S2"));
    for (ProjectItem* item : QList<ProjectItem*> {t1, s1, f2, t2})
    {
        folder.InsertProjectItem(item, 1000);
    }
    folder.InsertProjectItem(s2, -1);
    QCOMPARE(folder.ProjectItemIndex(s2), 4);
    QCOMPARE(folder.SourceTimelineSaveIndex(s2), 2);
    TimelineItem stray(nullptr, QStringLiteral("stray"));
    QCOMPARE(folder.ProjectItemIndex(&stray), -1);
    QCOMPARE(folder.SourceTimelineSaveIndex(&stray), -1);
    QVERIFY(!stray.HasParent());

    QList<TimelineItem*> timelines {t1};
    folder.DescendentTimelines(timelines);
    QCOMPARE(timelines, QList<TimelineItem*>({t1, t1, s1, t2, s2}));

    // Moving within one folder: a drop index counts the item itself, an exact
    // index does not.
    Project project;
    FolderItem* parent = project.AddFolder(QStringLiteral("P"), QUuid(), false);
    QList<FolderItem*> kids;
    for (int i = 0; i < 5; ++i)
    {
        kids.append(project.AddFolder(QString::number(i), parent->Id(), false));
    }
    project.MoveProjectItem(kids.at(1), parent->Id(), 3, false, false);
    QCOMPARE(parent->ProjectItemIndex(kids.at(1)), 2);
    project.MoveProjectItem(kids.at(1), parent->Id(), 1, true, false);
    project.MoveProjectItem(kids.at(1), parent->Id(), 3, true, false);
    QCOMPARE(parent->ProjectItemIndex(kids.at(1)), 3);

    // Removal by index keeps the parent id for an undo record.
    parent->RemoveProjectItemAtIndex(0);
    QCOMPARE(kids.at(0)->ParentId(), parent->Id());
    QVERIFY(kids.at(0)->parent() == nullptr);
    delete kids.at(0);

    QVERIFY(!project.MoveDestinationIsValid({}, parent->Id()));
    QVERIFY(!project.MoveDestinationIsValid({parent->Id()}, parent->Id()));
    QVERIFY(!project.MoveDestinationIsValid({parent->Id()}, kids.at(2)->Id()));
    TimelineItem* edit = project.AddTimeline(QString(), QUuid(), false);
    QVERIFY(project.MoveDestinationIsValid({edit->Id()}, kids.at(2)->Id()));
    QCOMPARE(project.SortProjectItemsForMove({kids.at(3)->Id(), QUuid::createUuid(), parent->Id(), parent->Id()}),
             QList<QUuid>({parent->Id(), kids.at(3)->Id()}));
}

void TestProject::FolderNeverMovesIntoItsOwnSubtree()
{
    Project project;
    FolderItem* outer = project.AddFolder(QStringLiteral("outer"), QUuid(), false);
    FolderItem* inner = project.AddFolder(QStringLiteral("inner"), outer->Id(), false);
    FolderItem* deepest = project.AddFolder(QStringLiteral("deepest"), inner->Id(), false);
    QList<QUuid> const before = project.ProjectTreeDepthFirstHierarchy();

    // A view that already shows the dropped folder at its refused place
    // rebuilds from the project: the refusal still tells it so.
    QSignalSpy updated(&project, &Project::ProjectUpdated);
    project.MoveProjectItem(outer, deepest->Id(), -1, false, true);
    project.MoveProjectItem(outer, outer->Id(), -1, false, true);
    QCOMPARE(updated.count(), 2);
    QCOMPARE(project.ProjectTreeDepthFirstHierarchy(), before);
    QCOMPARE(outer->ParentId(), project.ProjectFolder()->Id());
    QCOMPARE(project.FindItemById(deepest->Id()), deepest);

    // A legal move still works.
    project.MoveProjectItem(deepest, outer->Id(), 0, false, true);
    QCOMPARE(outer->ChildItems().first(), deepest);
}

void TestProject::ProjectSettingsAreClamped()
{
    Project project;
    project.SetTimeControlFrameOffset(-5);
    QCOMPARE(project.TimeControlFrameOffset(), 0);
    QSignalSpy rate(&project, &Project::ImageSequenceFrameRateChanged);
    project.SetImageSequenceFrameRate(0.5);
    QCOMPARE(project.ImageSequenceFrameRate(), 1.0);
    project.SetImageSequenceFrameRate(240.0);
    QCOMPARE(project.ImageSequenceFrameRate(), 120.0);
    project.SetImageSequenceFrameRate(120.0);
    QCOMPARE(rate.count(), 2);
    QCOMPARE(project.ProjectName(), QStringLiteral("untitled"));
    project.SetProjectPath(QStringLiteral("/work/reviews/day 3.v2.zeph"));
    QCOMPARE(project.ProjectName(), QStringLiteral("day 3.v2"));
    Project fresh;
    QVERIFY(Settings::projectPath.isEmpty());
    fresh.SetTimeControlFrameOffset(Settings::defaultTimeControlFrameOffset);
}

void TestProject::BatchFinishesInRequestOrder()
{
    Project project;
    FakeEngine engine(&project);
    QSignalSpy updated(&project, &Project::ProjectUpdated);
    QSignalSpy active(&project, &Project::ParseSourceActiveStateChanged);
    QList<bool> finishedFirstEarly;
    // Parses complete in reverse order: nothing may be finished before the
    // first one is.
    engine.onRequest = [&](TimelineItem*) {
        if (engine.requested.size() < 3)
        {
            return;
        }
        QTimer::singleShot(0, [&] {
            FakeEngine::Finish(engine.requested.at(2));
            FakeEngine::Finish(engine.requested.at(1));
            finishedFirstEarly.append(project.SourceTimelines().size() > 0);
            updated.clear();
            FakeEngine::Finish(engine.requested.at(0));
        });
    };
    QList<ParseSourceData> records {Record("a"), Record("b"), Record("c")};
    project.AddSourceTimelines(records);
    QCOMPARE(finishedFirstEarly, QList<bool>({false}));
    QCOMPARE(updated.count(), 1);
    QCOMPARE(project.SourceTimelines().size(), 3);
    QCOMPARE(Names(project.SourceTimelineFolder()), QStringList({"a.mov", "b.mov", "c.mov"}));
    QCOMPARE(active.count(), 2);
    QCOMPARE(active.at(0).at(0).toBool(), true);
    QCOMPARE(active.at(1).at(0).toBool(), false);
    QVERIFY(!project.SourceParsingInProgress());

    // A second batch asked for while the first waits runs after it, and the
    // first call returns with both done.
    engine.requested.clear();
    engine.onRequest = [&](TimelineItem* item) {
        if (engine.requested.size() == 1)
        {
            QList<ParseSourceData> more {Record("d")};
            QTimer::singleShot(0, [&project, more]() mutable { project.AddSourceTimelines(more); });
        }
        QTimer::singleShot(5, [item] { FakeEngine::Finish(item); });
    };
    QList<ParseSourceData> next {Record("e")};
    project.AddSourceTimelines(next);
    QTRY_COMPARE(project.SourceTimelines().size(), 5);
}

void TestProject::StoredStateIsAppliedAfterTheRealParse()
{
    Project project;
    AvManager engine;
    connect(&project, &Project::ParseSourceRequested,
            [&engine](TimelineItem* item) { engine.ParseSource(item->TimelinePtr()); });
    ParseSourceData data;
    data.path = TestMedia::Path(QStringLiteral("h264_cfr25.mp4"));
    data.id = QUuid::createUuid();
    data.playbackFrame = 30;
    data.cutInFrame = 10;
    data.cutOutFrame = 60;
    data.audioDelay = 40000;
    data.panX = 0.25;
    data.panY = -0.5;
    data.zoom = 2.0f;
    data.panZoomEnabled = true;
    data.holdAnnotations = true;
    data.rangeBookmarks = {{12, 20}, {30, 40}};
    auto* marked = new FrameBookmark(15);
    marked->strokes.append(StrokeData());
    project.ParseQueue().AddPendingBookmarks(data.id, PendingBookmarks {0, {marked}});
    auto* background = new FrameBookmark(0);
    background->strokes.append(StrokeData());
    background->strokes.append(StrokeData());
    project.ParseQueue().AddPendingBookmarks(data.id, PendingBookmarks {-1, {background}});
    // A record without stored state next to it.
    ParseSourceData plain;
    plain.path = TestMedia::Path(QStringLiteral("tone.wav"));
    QList<ParseSourceData> records {data, plain};
    project.AddSourceTimelines(records);

    TimelineItem* item = project.FindSourceTimelineById(data.id);
    QVERIFY(item);
    Timeline* timeline = item->TimelinePtr();
    Source* source = item->SourcePtr();
    QVERIFY(source->IsParsed());
    QVERIFY(!source->HasErrors());
    QCOMPARE(source->CutInFrame(), 10);
    QCOMPARE(source->CutOutFrame(), 60);
    QCOMPARE(source->AudioDelay(), 40000LL);
    QCOMPARE(timeline->PlaybackRangeStartFrame(), 10);
    QCOMPARE(timeline->PlaybackRangeEndFrame(), 60);
    QCOMPARE(timeline->PlaybackFrame(), 30);
    QVERIFY(timeline->IsPanAndZoomEnabled());
    QCOMPARE(timeline->ZoomFactor(), 2.0f);
    QCOMPARE(timeline->RangeBookmarkList().size(), 2);
    QVERIFY(timeline->HoldAnnotationFramesEnabled());
    QCOMPARE(item->SourceClip()->FrameBookmarkList(), QList<FrameBookmark*>({marked}));
    QCOMPARE(timeline->BackgroundFrameBookmark(), background);
    QVERIFY(project.FileWatcher()->files().contains(data.path));

    TimelineItem* wav = project.FindSourceTimelineById(records.at(1).id);
    QVERIFY(wav && wav->SourcePtr()->IsParsed());
    QCOMPARE(wav->SourcePtr()->CutInFrame(), 0);
    QCOMPARE(wav->TimelinePtr()->RangeBookmarkList().size(), 0);
    engine.Shutdown();
}

void TestProject::SourceWithMissingFileStaysWithItsError()
{
    Project project;
    AvManager engine;
    connect(&project, &Project::ParseSourceRequested,
            [&engine](TimelineItem* item) { engine.ParseSource(item->TimelinePtr()); });
    QList<ParseSourceData> records {Record("gone"), ParseSourceData()};
    records[0].addToRecentFiles = true;
    Settings::recentFiles.clear();
    project.AddSourceTimelines(records);
    TimelineItem* item = project.FindSourceTimelineById(records.at(0).id);
    QVERIFY(item);
    QVERIFY(item->HasErrors());
    QVERIFY(!item->ErrorString().isEmpty());
    QVERIFY(Settings::recentFiles.isEmpty());
    // The empty record made nothing.
    QCOMPARE(project.SourceTimelineFolder()->ChildCount(), 1);
    engine.Shutdown();
}

void TestProject::ParseThatNeverCompletesEndsTheWait()
{
    Project::SetParseTimeout(150);
    Project project;
    FakeEngine engine(&project);
    // The second answers, the first never does.
    engine.onRequest = [&engine](TimelineItem* item) {
        if (engine.requested.size() == 2)
        {
            QTimer::singleShot(0, [item] { FakeEngine::Finish(item); });
        }
    };
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    QList<ParseSourceData> records {Record("stuck"), Record("fine")};
    QElapsedTimer elapsed;
    elapsed.start();
    project.AddSourceTimelines(records);
    QVERIFY(elapsed.elapsed() < 10000);
    QVERIFY(!project.SourceParsingInProgress());
    QVERIFY(!project.FindItemById(records.at(0).id));
    QVERIFY(!project.FindSourceTimelineById(records.at(0).id));
    QVERIFY(project.FindSourceTimelineById(records.at(1).id));
    QCOMPARE(Names(project.SourceTimelineFolder()), QStringList({"fine.mov"}));
    QCOMPARE(errors.count(), 1);
    QVERIFY(errors.at(0).at(0).toString().contains(QStringLiteral("stuck.mov")));

    // A late answer for the failed source changes nothing.
    FakeEngine::Finish(engine.requested.at(0));
    QCOMPARE(project.SourceTimelines().size(), 1);
}

void TestProject::FailedReplacementKeepsTheOldSource()
{
    Project project;
    FakeEngine engine(&project);
    engine.onRequest = [](TimelineItem* item) { FakeEngine::Finish(item, 80); };
    QList<ParseSourceData> records {Record("take1")};
    project.AddSourceTimelines(records);
    TimelineItem* old = project.FindSourceTimelineById(records.at(0).id);
    old->TimelinePtr()->InsertRangeBookmark(5, 9);
    old->TimelinePtr()->InsertFrameBookmark(7);
    TimelineItem* edit = project.AddTimeline(QString(), QUuid(), false);
    edit->TimelinePtr()->InsertClipAtIndex(old->SourceClip()->Duplicate(nullptr, false), -1, false);

    Project::SetParseTimeout(150);
    engine.onRequest = nullptr; // the new parse never completes
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    project.ReplaceSource(old, {MissingMoviePath("take2")});
    QCOMPARE(errors.count(), 1);
    QCOMPARE(project.FindSourceTimelineById(records.at(0).id), old);
    QCOMPARE(project.FindItemById(records.at(0).id), old);
    QCOMPARE(project.SourceTimelineFolder()->ChildItems(), QList<ProjectItem*>({old}));
    QVERIFY(old->SourcePtr()->IsParsed());
    QCOMPARE(old->SourcePtr()->MediaPath(), MissingMoviePath("take1"));
    QCOMPARE(old->TimelinePtr()->RangeBookmarkList().size(), 1);
    QCOMPARE(old->SourceClip()->FrameBookmarkList().size(), 1);
    QCOMPARE(edit->TimelinePtr()->ClipAtIndex(0)->SourcePtr(), old->SourcePtr());
}

void TestProject::ReplacementSwapsClipsInPlace()
{
    Project project;
    FakeEngine engine(&project);
    engine.onRequest = [](TimelineItem* item) { QTimer::singleShot(1, [item] { FakeEngine::Finish(item, 50); }); };
    QList<ParseSourceData> records {Record("plate"), Record("other")};
    project.AddSourceTimelines(records);
    TimelineItem* plate = project.FindSourceTimelineById(records.at(0).id);
    TimelineItem* other = project.FindSourceTimelineById(records.at(1).id);
    plate->SetName(QStringLiteral("hero plate"));
    plate->SourcePtr()->SetCutInFrame(5);
    plate->SourcePtr()->SetCutOutFrame(30);
    plate->TimelinePtr()->InsertRangeBookmark(6, 8);

    TimelineItem* edit = project.AddTimeline(QString(), QUuid(), false);
    Timeline* timeline = edit->TimelinePtr();
    for (TimelineItem* source : {plate, other, plate})
    {
        timeline->InsertClipAtIndex(source->SourceClip()->Duplicate(nullptr, false), -1, false);
    }
    timeline->ClipAtIndex(2)->InsertFrameBookmark(timeline->ClipAtIndex(2)->StartFrame() + 3);
    timeline->SetPlaybackRangeByFrame(4, 40);
    timeline->SetPlaybackFrame(20);
    int const clipCount = timeline->ClipCount();
    long long const time = timeline->PlaybackTime();

    project.RefreshSource(plate);
    TimelineItem* fresh = project.FindSourceTimelineById(records.at(0).id);
    QVERIFY(fresh && fresh != plate);
    QCOMPARE(fresh->Name(), QStringLiteral("hero plate"));
    QCOMPARE(project.SourceTimelineFolder()->ProjectItemIndex(fresh), 0);
    QCOMPARE(project.SourceTimelineFolder()->ChildCount(), 2);
    QCOMPARE(fresh->SourcePtr()->CutInFrame(), 5);
    QCOMPARE(fresh->SourcePtr()->CutOutFrame(), 30);
    QCOMPARE(fresh->TimelinePtr()->RangeBookmarkList().size(), 1);
    QCOMPARE(timeline->ClipCount(), clipCount);
    QCOMPARE(timeline->ClipAtIndex(0)->SourcePtr(), fresh->SourcePtr());
    QCOMPARE(timeline->ClipAtIndex(1)->SourcePtr(), other->SourcePtr());
    QCOMPARE(timeline->ClipAtIndex(2)->SourcePtr(), fresh->SourcePtr());
    QCOMPARE(timeline->ClipAtIndex(2)->FrameBookmarkList().size(), 1);
    QCOMPARE(timeline->PlaybackRangeStartFrame(), 4);
    QCOMPARE(timeline->PlaybackRangeEndFrame(), 40);
    QCOMPARE(timeline->PlaybackTime(), time);
}

void TestProject::ReloadOfAFileBeingWrittenOnlyRearmsTheWatcher()
{
    QTemporaryDir dir;
    QString const path = dir.filePath(QStringLiteral("render.mov"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    Project project;
    FakeEngine engine(&project);
    engine.onRequest = [](TimelineItem* item) { FakeEngine::Finish(item); };
    ParseSourceData data;
    data.path = path;
    QList<ParseSourceData> records {data};
    project.AddSourceTimelines(records);
    QVERIFY(project.FileWatcher()->files().contains(path));
    engine.requested.clear();
    project.ReloadWatchedSource(path);
    QVERIFY(project.FileWatcher()->files().contains(path));
    QVERIFY(engine.requested.isEmpty());
}

QTEST_MAIN(TestProject)
#include "tst_project.moc"
