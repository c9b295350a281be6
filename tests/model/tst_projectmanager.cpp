// TESSARIN_TEST: own-home
#include "support/LoggedMessages.h"
#include "support/TaskHold.h"
#include "support/TestMedia.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/Clip.h"
#include "model/FolderItem.h"
#include "model/DeleteFolderCmd.h"
#include "model/FrameBookmark.h"
#include "model/Project.h"
#include "model/ProjectManager.h"
#include "model/RangeBookmark.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"

#include "app/Logger.h"

#include <QtTest>


#include <functional>
#include <memory>

namespace
{
QString Media(char const* name)
{
    return TestMedia::Path(QString::fromLatin1(name));
}

QString Strokes(FrameBookmark const* bookmark)
{
    QStringList parts;
    for (StrokeData const& stroke : bookmark->strokes)
    {
        QStringList points;
        for (QPointF const& point : stroke.points)
        {
            points.append(QStringLiteral("%1,%2").arg(point.x()).arg(point.y()));
        }
        parts.append(QStringLiteral("%1:%2:%3").arg(stroke.type).arg(stroke.color.name(), points.join(' ')));
    }
    return parts.join('|');
}

QString TimelineText(Timeline const* timeline)
{
    QStringList lines;
    lines.append(QStringLiteral("range %1-%2 override %3")
                     .arg(timeline->PlaybackRangeStartFrame())
                     .arg(timeline->PlaybackRangeEndFrame())
                     .arg(timeline->AudioOverrideTimelineId().toString()));
    for (int i = 0; i < timeline->ClipCount(); ++i)
    {
        Clip const* clip = timeline->ClipAtIndex(i);
        Source const* source = clip->SourcePtr();
        lines.append(QStringLiteral("clip %1 source %2 frames %3-%4 cut %5-%6 delay %7")
                         .arg(clip->Id().toString(), source ? source->Id().toString() : QString())
                         .arg(clip->StartFrame())
                         .arg(clip->EndFrame())
                         .arg(source ? source->CutInFrame() : 0)
                         .arg(source ? source->CutOutFrame() : 0)
                         .arg(source ? source->AudioDelay() : 0));
        for (FrameBookmark const* bookmark : clip->FrameBookmarkList())
        {
            lines.append(QStringLiteral("  bookmark %1/%2 %3")
                             .arg(bookmark->frame)
                             .arg(bookmark->timelineFrame)
                             .arg(Strokes(bookmark)));
        }
    }
    for (RangeBookmark const* range : timeline->RangeBookmarkList())
    {
        lines.append(QStringLiteral("range bookmark %1-%2").arg(range->startFrame).arg(range->endFrame));
    }
    lines.append(QStringLiteral("background %1").arg(Strokes(timeline->BackgroundFrameBookmark())));
    return lines.join('\n');
}

void ItemText(ProjectItem const* item, int depth, QStringList& lines)
{
    QString const indent(depth * 2, QLatin1Char(' '));
    lines.append(QStringLiteral("%1%2 %3 %4 parent %5")
                     .arg(indent)
                     .arg(int(item->ItemType()))
                     .arg(item->Id().toString(), item->Name(), item->ParentId().toString()));
    if (item->ItemType() == ProjectItemType::Folder)
    {
        for (ProjectItem const* child : static_cast<FolderItem const*>(item)->ChildItems())
        {
            ItemText(child, depth + 1, lines);
        }
        return;
    }
    auto const* timeline = static_cast<TimelineItem const*>(item);
    for (QString const& line : TimelineText(timeline->TimelinePtr()).split('\n'))
    {
        lines.append(indent + QStringLiteral("  ") + line);
    }
}

// The whole project as text: tree order, ids, names, clips with their times
// and sources, ranges, bookmarks and strokes, and the two timeline maps.
QString Fingerprint(Project const* project)
{
    QStringList lines;
    for (FolderItem const* folder : project->TopLevelFolders())
    {
        ItemText(folder, 0, lines);
    }
    QStringList ids;
    for (QUuid const& id : project->Timelines().keys())
    {
        ids.append(id.toString());
    }
    lines.append(QStringLiteral("timelines ") + ids.join(' '));
    ids.clear();
    for (QUuid const& id : project->SourceTimelines().keys())
    {
        ids.append(id.toString());
    }
    lines.append(QStringLiteral("sources ") + ids.join(' '));
    lines.append(QStringLiteral("default ") + project->DefaultTimelineId().toString());
    return lines.join('\n');
}

StrokeData Stroke(int type, qreal x)
{
    StrokeData stroke;
    stroke.type = type;
    stroke.color = QColor(200, 30, 40);
    stroke.points = {QPointF(x, 1.5), QPointF(x + 2.25, 3.0)};
    stroke.path.moveTo(stroke.points.first());
    stroke.path.lineTo(stroke.points.last());
    return stroke;
}
} // namespace

class TestProjectManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void EveryCommandRedoesExactly();
    void DeletingASourceUsedTwiceIsOneStep();
    void BookmarkStepsThatDidNothingUndoAsNothing();
    void DuplicateKeepsItsIdsAcrossRedo();
    void DeletingAFolderEmptiesTheMaps();
    void ImportMakesANewProjectShownInSlotZero();
    void UnsupportedPathsChangeNothing();
    void ProjectReplacementWaitsForTheParse();
    void UndoCleanFollowsEditsAndStrokes();
    void ViewerCommands();
    void UndoLimitWithProjectUndoOff();
    void ResizeToFitNeedsAParsedVideoStream();
    void TakenOutItemsOutliveTheirTasks();
    void AbandonedParseHoldsNothingUp();
    void UndoneDeleteReadsTheFileAgain();
    void RestartBetweenTheSpotsReTimesTheSourceInPlace_data();
    void RestartBetweenTheSpotsReTimesTheSourceInPlace();

private:
    // Three parsed sources (two movies and a sound) and an edit timeline that
    // uses them, with bookmarks and strokes.
    void BuildProject();
    // Runs the operation, then undo, redo, undo, redo, comparing the whole
    // project after each step with the state before or after the first run.
    void CheckRedoUndoRedo(QString const& what, std::function<void()> const& operation, int expectedSteps = 1);
    Timeline* EditTimeline() const;

    std::unique_ptr<ProjectManager> mManager;
    QList<QUuid> mSources;
    QUuid mEdit;
};

void TestProjectManager::init()
{
    Settings::projectUndoEnabled = true;
    Settings::resizeToFit = false;
    mManager = std::make_unique<ProjectManager>();
    mManager->NewProject(false);
}

void TestProjectManager::cleanup()
{
    if (mManager)
    {
        mManager->Shutdown();
        mManager.reset();
    }
}

Timeline* TestProjectManager::EditTimeline() const
{
    TimelineItem* item = mManager->FindTimelineById(mEdit);
    return item ? item->TimelinePtr() : nullptr;
}

void TestProjectManager::BuildProject()
{
    QList<ParseSourceData> records;
    for (char const* name : {"h264_cfr25.mp4", "tone.wav", "numbered_av.mp4"})
    {
        ParseSourceData data;
        data.path = Media(name);
        records.append(data);
    }
    mManager->DoAddSourceTimelinesCmd(records);
    mSources.clear();
    for (TimelineItem* item : mManager->ProjectPtr()->SourceTimelines())
    {
        QVERIFY(item->SourcePtr()->IsParsed());
    }
    QList<ProjectItem*> const children = mManager->ProjectPtr()->SourceTimelineFolder()->ChildItems();
    QCOMPARE(children.size(), 3);
    for (ProjectItem* child : children)
    {
        mSources.append(child->Id());
    }
    mEdit = mManager->DoAddTimelineCmd(QStringLiteral("Edit"), QUuid());
    mManager->DoInsertClipsCmd(EditTimeline(), {mSources.at(0), mSources.at(2), mSources.at(0)}, -1);
    QCOMPARE(EditTimeline()->ClipCount(), 3);
    Timeline* movie = mManager->FindTimelineById(mSources.at(0))->TimelinePtr();
    mManager->DoInsertFrameBookmarkCmd(movie, 12);
    movie->FrameBookmarkAt(12)->strokes = {Stroke(0, 1.0), Stroke(7, 4.0)};
    movie->BackgroundFrameBookmark()->strokes = {Stroke(2, 9.0)};
    mManager->DoInsertFrameBookmarkCmd(EditTimeline(), 110);
    EditTimeline()->FrameBookmarkAt(110)->strokes = {Stroke(4, 0.5)};
    mManager->DoToggleRangeBookmarkCmd(EditTimeline(), 3, 9);
    mManager->UndoStackPtr()->clear();
}

void TestProjectManager::CheckRedoUndoRedo(QString const& what, std::function<void()> const& operation,
                                           int expectedSteps)
{
    QUndoStack* stack = mManager->UndoStackPtr();
    int const index = stack->index();
    QString const before = Fingerprint(mManager->ProjectPtr());
    operation();
    QString const after = Fingerprint(mManager->ProjectPtr());
    QVERIFY2(before != after, qPrintable(what + QStringLiteral(": changed nothing")));
    QVERIFY2(stack->index() == index + expectedSteps, qPrintable(what + QStringLiteral(": undo steps")));
    for (int round = 0; round < 2; ++round)
    {
        for (int i = 0; i < expectedSteps; ++i)
        {
            stack->undo();
        }
        QString const undone = Fingerprint(mManager->ProjectPtr());
        if (undone != before)
        {
            qWarning().noquote() << "expected\n" << before << "\nfound\n" << undone;
        }
        QVERIFY2(undone == before, qPrintable(what + QStringLiteral(": undo round %1").arg(round)));
        for (int i = 0; i < expectedSteps; ++i)
        {
            stack->redo();
        }
        QString const redone = Fingerprint(mManager->ProjectPtr());
        if (redone != after)
        {
            qWarning().noquote() << "expected\n" << after << "\nfound\n" << redone;
        }
        QVERIFY2(redone == after, qPrintable(what + QStringLiteral(": redo round %1").arg(round)));
    }
}

void TestProjectManager::EveryCommandRedoesExactly()
{
    BuildProject();
    Project* project = mManager->ProjectPtr();
    Timeline* edit = EditTimeline();
    QVERIFY(edit);

    QUuid folder;
    CheckRedoUndoRedo("add folder with items", [&] {
        folder = mManager->DoAddFolderCmd(QStringLiteral("Shots"), mManager->ProjectFolderId(), {mEdit, mSources.at(1)});
    });
    QCOMPARE(project->FindItemById(mEdit)->ParentId(), folder);
    CheckRedoUndoRedo("move within its own folder", [&] {
        mManager->DoMoveProjectItemsCmd({mSources.at(0)}, mManager->SourceTimelineFolderId(), 2);
    });
    CheckRedoUndoRedo("move to another folder", [&] {
        mManager->DoMoveProjectItemsCmd({mSources.at(2), mSources.at(0)}, folder, 0);
    });
    CheckRedoUndoRedo("rename folder", [&] { mManager->DoRenameProjectItemCmd(folder, QStringLiteral("Plates")); });
    mManager->DoRenameProjectItemCmd(mSources.at(1), QStringLiteral("music"));
    CheckRedoUndoRedo("rename source back to its media name",
                      [&] { mManager->DoRenameProjectItemCmd(mSources.at(1), QString()); });
    QCOMPARE(project->ProjectItemName(mSources.at(1)), QStringLiteral("tone.wav"));
    CheckRedoUndoRedo("add timeline", [&] { mManager->DoAddTimelineCmd(QString(), folder); });
    CheckRedoUndoRedo("insert clips at an index", [&] {
        mManager->DoInsertClipsCmd(edit, {mSources.at(2), mSources.at(1)}, 1);
    });
    CheckRedoUndoRedo("insert one clip", [&] {
        mManager->DoInsertClipCmd(edit, project->FindSourceTimelineById(mSources.at(0))->SourceClip(), -1);
    });
    CheckRedoUndoRedo("clip order", [&] {
        QList<QUuid> order = edit->OrderedClipIds();
        std::reverse(order.begin(), order.end());
        mManager->DoSetClipOrderCmd(edit, order);
    });
    CheckRedoUndoRedo("playback range", [&] { mManager->DoSetPlaybackRangeCmd(edit, 5, 40, -1, -1); });
    CheckRedoUndoRedo("audio override", [&] { mManager->DoSetAudioOverrideCmd(edit, mSources.at(1)); });
    CheckRedoUndoRedo("frame bookmark", [&] { mManager->DoInsertFrameBookmarkCmd(edit, 30); });
    CheckRedoUndoRedo("remove frame bookmark with strokes",
                      [&] { mManager->DoRemoveFrameBookmarkCmd(edit, edit->FrameBookmarkList().first()->timelineFrame); });
    CheckRedoUndoRedo("range bookmark", [&] { mManager->DoToggleRangeBookmarkCmd(edit, 20, 25); });
    CheckRedoUndoRedo("remove all bookmarks",
                      [&] { mManager->RemoveBookmarks(edit, true, true, false, QStringLiteral("RemoveBookmarks")); });
    CheckRedoUndoRedo("delete clips with a repeated index", [&] {
        QList<int> indices {1, 3, 1};
        int const count = edit->ClipCount();
        QUuid const kept = edit->ClipAtIndex(2)->Id();
        mManager->DoDeleteClipsCmd(edit, indices);
        QCOMPARE(indices, QList<int>({3, 1, 1}));
        QCOMPARE(edit->ClipCount(), count - 2);
        QCOMPARE(edit->ClipAtIndex(1)->Id(), kept);
    });
    CheckRedoUndoRedo("duplicate source", [&] { mManager->DoDuplicateSourceCmd(mSources.at(2)); });
    CheckRedoUndoRedo("add sources", [&] {
        ParseSourceData data;
        data.path = Media("h264_cfr25.mp4");
        data.targetTimelineId = mEdit;
        data.targetClipIndex = 0;
        mManager->DoAddSourceTimelinesCmd({data});
    });
    CheckRedoUndoRedo("delete edit timeline", [&] { mManager->DoDeleteTimelineCmd(mEdit); });
    CheckRedoUndoRedo("delete source in use",
                      [&] { mManager->DoDeleteSourceTimelineCmd(mSources.at(0)); });
    CheckRedoUndoRedo("delete a selection", [&] {
        mManager->DoDeleteProjectObjectsCmd({folder}, {mEdit}, {mSources.at(1)});
    });
}

void TestProjectManager::DeletingASourceUsedTwiceIsOneStep()
{
    BuildProject();
    Project* project = mManager->ProjectPtr();
    QUuid const other = mManager->DoAddTimelineCmd(QStringLiteral("Other"), QUuid());
    Timeline* second = mManager->FindTimelineById(other)->TimelinePtr();
    mManager->DoInsertClipsCmd(second, {mSources.at(0)}, -1);
    mManager->DoSetAudioOverrideCmd(second, mSources.at(0));
    QString const before = Fingerprint(project);
    int const index = mManager->UndoStackPtr()->index();

    mManager->DoDeleteSourceTimelineCmd(mSources.at(0));
    QCOMPARE(mManager->UndoStackPtr()->index(), index + 1);
    QCOMPARE(EditTimeline()->ClipCount(), 1);
    QCOMPARE(second->ClipCount(), 0);
    QVERIFY(second->AudioOverrideTimelineId().isNull());
    QVERIFY(!project->FindSourceTimelineById(mSources.at(0)));

    mManager->UndoStackPtr()->undo();
    QCOMPARE(Fingerprint(project), before);
    Source* source = project->FindSourceTimelineById(mSources.at(0))->SourcePtr();
    QCOMPARE(EditTimeline()->ClipAtIndex(0)->SourcePtr(), source);
    QCOMPARE(EditTimeline()->ClipAtIndex(2)->SourcePtr(), source);
    QCOMPARE(second->ClipAtIndex(0)->SourcePtr(), source);
}

void TestProjectManager::BookmarkStepsThatDidNothingUndoAsNothing()
{
    BuildProject();
    Timeline* movie = mManager->FindTimelineById(mSources.at(0))->TimelinePtr();
    FrameBookmark* existing = movie->FrameBookmarkAt(12);
    QVERIFY(existing);
    QString const before = Fingerprint(mManager->ProjectPtr());

    // Inserting where a bookmark is already, then undoing, keeps it and its strokes.
    mManager->DoInsertFrameBookmarkCmd(movie, 12);
    mManager->UndoStackPtr()->undo();
    QCOMPARE(movie->FrameBookmarkAt(12), existing);
    QCOMPARE(existing->strokes.size(), 2);
    mManager->UndoStackPtr()->redo();
    QCOMPARE(movie->FrameBookmarkAt(12), existing);

    // Removing where there is none does nothing either way.
    mManager->DoRemoveFrameBookmarkCmd(movie, 40);
    mManager->UndoStackPtr()->undo();
    QVERIFY(!movie->FrameBookmarkAt(40));
    QCOMPARE(Fingerprint(mManager->ProjectPtr()), before);

    // A removed bookmark comes back as the same object, strokes kept and its
    // annotation history empty.
    existing->undoStack.push(new QUndoCommand(QStringLiteral("stroke")));
    mManager->DoRemoveFrameBookmarkCmd(movie, 12);
    QVERIFY(!movie->FrameBookmarkAt(12));
    mManager->UndoStackPtr()->undo();
    QCOMPARE(movie->FrameBookmarkAt(12), existing);
    QCOMPARE(existing->strokes.size(), 2);
    QCOMPARE(existing->undoStack.count(), 0);
}

void TestProjectManager::DuplicateKeepsItsIdsAcrossRedo()
{
    BuildProject();
    Project* project = mManager->ProjectPtr();
    QUndoStack* stack = mManager->UndoStackPtr();
    mManager->DoDuplicateSourceCmd(mSources.at(0));
    FolderItem* sources = project->SourceTimelineFolder();
    QCOMPARE(sources->ChildCount(), 4);
    QUuid const duplicate = sources->ChildItems().at(1)->Id();
    TimelineItem* copy = project->FindSourceTimelineById(duplicate);
    QVERIFY(copy);
    QCOMPARE(copy->SourcePtr()->MediaPath(), Media("h264_cfr25.mp4"));
    QCOMPARE(copy->TimelinePtr()->FrameBookmarkList().size(), 1);
    QCOMPARE(copy->TimelinePtr()->FrameBookmarkList().first()->strokes.size(), 2);
    QCOMPARE(copy->TimelinePtr()->BackgroundFrameBookmark()->strokes.size(), 1);

    // A later command names the duplicate; undoing both and redoing both must
    // find it again.
    mManager->DoRenameProjectItemCmd(duplicate, QStringLiteral("alt take"));
    QString const after = Fingerprint(project);
    stack->undo();
    stack->undo();
    QVERIFY(!project->FindSourceTimelineById(duplicate));
    stack->redo();
    stack->redo();
    QCOMPARE(project->ProjectItemName(duplicate), QStringLiteral("alt take"));
    QCOMPARE(Fingerprint(project), after);
}

void TestProjectManager::DeletingAFolderEmptiesTheMaps()
{
    BuildProject();
    Project* project = mManager->ProjectPtr();
    QUuid const folder = mManager->DoAddFolderCmd(QStringLiteral("F"), QUuid(), {mEdit});
    QUuid const inner = mManager->DoAddFolderCmd(QStringLiteral("G"), folder, {mSources.at(2)});
    Q_UNUSED(inner);
    CheckRedoUndoRedo("delete folder", [&] { mManager->DoDeleteFolderCmd(folder); });
    QVERIFY(!project->FindTimelineById(mEdit, true));
    QVERIFY(!project->FindSourceTimelineById(mSources.at(2)));
    QVERIFY(!project->FindItemById(folder));

    // The SOURCES folder alone: every source goes, the folder stays.
    mManager->DoDeleteProjectObjectsCmd({mManager->SourceTimelineFolderId()}, {}, {});
    QVERIFY(project->SourceTimelines().isEmpty());
    QVERIFY(project->SourceTimelineFolder());
}

void TestProjectManager::ImportMakesANewProjectShownInSlotZero()
{
    BuildProject();
    // The old project is being decoded and played while it is replaced.
    mManager->DoOpenTimelineInViewerCmd(mEdit, 0);
    mManager->AvManagerPtr()->Play(true, false);
    QTRY_VERIFY(mManager->AvManagerPtr()->PlaybackTime() > 0);
    Project const* old = mManager->ProjectPtr();
    QSignalSpy blocked(mManager.get(), &ProjectManager::BlockUserInputChanged);
    mManager->ImportFilesByPath({Media("tone.wav"), Media("h264_cfr25.mp4"), Media("fake.txt")}, QUuid(), -1, 0, 1,
                                false, QUuid(), -1, -1, true);
    Project* project = mManager->ProjectPtr();
    QVERIFY(project != old);
    QCOMPARE(project->SourceTimelines().size(), 1);
    TimelineItem* item = project->SourceTimelines().first();
    QCOMPARE(item->SourcePtr()->MediaPath(), Media("h264_cfr25.mp4"));
    QCOMPARE(item->TimelinePtr()->OutputId(), 0);
    QCOMPARE(mManager->AvManagerPtr()->PrimaryTimeline(), item->TimelinePtr());
    QCOMPARE(mManager->PrimaryTimelineItem(), item);
    int width = 0;
    int height = 0;
    QVERIFY(mManager->PrimaryTimelineWidthHeight(width, height));
    QCOMPARE(QSize(width, height), QSize(320, 240));
    QCOMPARE(blocked.count(), 2);
    QVERIFY(mManager->IsUndoClean());

    // With a target clip index the last in sorted order is kept; "@" skips the test.
    mManager->ImportFilesByPath({Media("h264_cfr25.mp4"), Media("tone.wav") + QLatin1Char('@')}, QUuid(), -1, -1, 1,
                                false, QUuid(), -1, 0, true);
    QCOMPARE(mManager->ProjectPtr()->SourceTimelines().first()->SourcePtr()->MediaPath(), Media("tone.wav"));
}

void TestProjectManager::UnsupportedPathsChangeNothing()
{
    BuildProject();
    Project const* project = mManager->ProjectPtr();
    int const count = mManager->UndoStackPtr()->count();
    mManager->ImportFilesByPath({QStringLiteral("/tmp/notes.txt"), QStringLiteral("/tmp/project.zeph")}, QUuid(), -1,
                                0, 1, true, QUuid(), -1, -1, true);
    QCOMPARE(mManager->ProjectPtr(), project);
    QCOMPARE(mManager->UndoStackPtr()->count(), count);
}

void TestProjectManager::ProjectReplacementWaitsForTheParse()
{
    Project const* first = mManager->ProjectPtr();
    Project const* during = nullptr;
    bool waited = false;
    connect(mManager.get(), &ProjectManager::BlockUserInputChanged, this, [&](bool blocked) {
        if (blocked && !waited)
        {
            waited = true;
            // As a message from another instance would, inside the wait.
            mManager->NewProject(false);
            during = mManager->ProjectPtr();
        }
    });
    ParseSourceData data;
    data.path = Media("h264_cfr25.mp4");
    mManager->DoAddSourceTimelinesCmd({data});
    QVERIFY(waited);
    QCOMPARE(during, first);
    QCOMPARE(mManager->ProjectPtr(), first);
    QCOMPARE(first->SourceTimelines().size(), 1);
    QTRY_VERIFY(mManager->ProjectPtr() != first);
    QVERIFY(mManager->ProjectPtr()->SourceTimelines().isEmpty());
}

void TestProjectManager::UndoCleanFollowsEditsAndStrokes()
{
    BuildProject();
    mManager->SetUndoClean();
    QVERIFY(mManager->IsUndoClean());
    QSignalSpy changed(mManager.get(), &ProjectManager::UndoCleanChanged);
    mManager->DoToggleRangeBookmarkCmd(EditTimeline(), 1, 2);
    QVERIFY(!mManager->IsUndoClean());
    QVERIFY(changed.count() >= 1);
    mManager->UndoStackPtr()->undo();
    QVERIFY(mManager->IsUndoClean());

    // A stroke drawn on a bookmark is an unsaved change of its own.
    FrameBookmark* bookmark = EditTimeline()->FrameBookmarkAt(110);
    bookmark->undoStack.push(new QUndoCommand(QStringLiteral("stroke")));
    QVERIFY(!mManager->IsUndoClean());
    mManager->SetUndoClean();
    QVERIFY(mManager->IsUndoClean());

    mManager->ClearUndoStackAndSetModified();
    QVERIFY(!mManager->IsUndoClean());
    QCOMPARE(mManager->UndoStackPtr()->count(), 0);
    mManager->SetUndoClean();
    QVERIFY(mManager->IsUndoClean());

    // A save that fails leaves the changes unsaved.
    mManager->DoToggleRangeBookmarkCmd(EditTimeline(), 1, 2);
    QVERIFY(!mManager->SaveProject());
    QVERIFY(!mManager->IsUndoClean());
}

void TestProjectManager::ViewerCommands()
{
    BuildProject();
    AvManager* engine = mManager->AvManagerPtr();
    QUndoStack* stack = mManager->UndoStackPtr();
    int const count = stack->count();
    mManager->DoOpenTimelinesInViewerCmd({mEdit}, 1, false);
    QCOMPARE(stack->count(), count);

    mManager->DoOpenTimelineInViewerCmd(mEdit, 0);
    QCOMPARE(EditTimeline()->OutputId(), 0);
    int const opened = stack->count();
    mManager->DoOpenTimelineInViewerCmd(mEdit, 0);
    QCOMPARE(stack->index(), opened);
    QCOMPARE(stack->command(opened - 1)->childCount(), 1);

    mManager->DoOpenTimelineInViewerCmd(mSources.at(0), 0);
    Timeline* movie = mManager->FindTimelineById(mSources.at(0))->TimelinePtr();
    QCOMPARE(movie->OutputId(), 0);
    QCOMPARE(EditTimeline()->OutputId(), -1);
    stack->undo();
    QCOMPARE(EditTimeline()->OutputId(), 0);
    QCOMPARE(engine->PrimaryTimeline(), EditTimeline());
    stack->undo();
    QCOMPARE(EditTimeline()->OutputId(), -1);
    QVERIFY(!engine->PrimaryTimeline());

    // With only output 0 in use, swapping clears it.
    stack->redo();
    mManager->SwapABViewerTimelines();
    QVERIFY(!engine->PrimaryTimeline());
    int w = 0;
    int h = 0;
    QVERIFY(!mManager->PrimaryTimelineWidthHeight(w, h));
    QCOMPARE(QPair(w, h), QPair(-1, -1));
}

void TestProjectManager::UndoLimitWithProjectUndoOff()
{
    Settings::projectUndoEnabled = false;
    ProjectManager manager;
    manager.NewProject(false);
    manager.DoAddFolderCmd(QStringLiteral("a"), QUuid(), {});
    manager.DoAddFolderCmd(QStringLiteral("b"), QUuid(), {});
    QCOMPARE(manager.UndoStackPtr()->count(), 1);
    manager.Shutdown();
}

void TestProjectManager::ResizeToFitNeedsAParsedVideoStream()
{
    Settings::resizeToFit = true;
    QSignalSpy resized(mManager.get(), &ProjectManager::ResizeViewerRequested);
    for (QString const& path : {Media("tone.wav"), QStringLiteral("/nonexistent-tessarin-media/gone.mov"),
                                Media("empty.mp4"), Media("h264_cfr25.mp4")})
    {
        ParseSourceData data;
        data.path = path;
        data.viewerIndex = 0;
        mManager->DoAddSourceTimelinesCmd({data});
    }
    QCOMPARE(resized.count(), 1);
    QCOMPARE(resized.at(0).at(0).toInt(), 320);
    QCOMPARE(resized.at(0).at(1).toInt(), 240);
    Settings::resizeToFit = false;
}

void TestProjectManager::TakenOutItemsOutliveTheirTasks()
{
    AvManager* engine = mManager->AvManagerPtr();
    QUndoStack* stack = mManager->UndoStackPtr();
    // An import shown in slot 0 and playing is undone, then dropped with the
    // undo stack: its source timeline goes only after its decoding has ended.
    for (int round = 0; round < 3; ++round)
    {
        mManager->ImportFilesByPath({Media("numbered_av.mp4")}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1, false);
        QCOMPARE(mManager->ProjectPtr()->SourceTimelines().size(), 1);
        QPointer<Timeline> imported = mManager->ProjectPtr()->SourceTimelines().first()->TimelinePtr();
        QCOMPARE(imported->OutputId(), 0);
        engine->Play(true, false);
        QTRY_VERIFY(engine->PlaybackTime() > 0);
        stack->undo();
        QVERIFY(mManager->ProjectPtr()->SourceTimelines().isEmpty());
        QVERIFY(!engine->PrimaryTimeline());
        stack->clear();
        QTRY_VERIFY(!imported);
        QTRY_COMPARE(engine->TotalWorkerCount(), 1);
    }

    // A source deleted while an edit timeline that used it plays: the edit
    // timeline's decoding may still read the source, so the released source
    // timeline waits for that decoding to end.
    BuildProject();
    mManager->DoOpenTimelineInViewerCmd(mEdit, 0);
    engine->Play(true, false);
    QTRY_VERIFY(engine->PlaybackTime() > 0);
    QPointer<Timeline> movie = mManager->FindTimelineById(mSources.at(0))->TimelinePtr();
    mManager->DoDeleteSourceTimelineCmd(mSources.at(0));
    QCOMPARE(EditTimeline()->OutputId(), 0);
    QCOMPARE(EditTimeline()->ClipCount(), 1);
    stack->clear();
    QVERIFY(movie);
    mManager->DoOpenTimelineInViewerCmd(QUuid(), 0);
    QTRY_VERIFY(!movie);

    // A held folder takes the timelines below it along, also one that shows.
    QUuid const folder = mManager->DoAddFolderCmd(QStringLiteral("Shots"), QUuid(), {mEdit});
    QPointer<Timeline> edit = EditTimeline();
    mManager->DoOpenTimelineInViewerCmd(mEdit, 0);
    QCOMPARE(edit->OutputId(), 0);
    stack->push(new DeleteFolderCmd(mManager->ProjectPtr(), folder));
    stack->clear();
    QVERIFY(!engine->PrimaryTimeline());
    QTRY_VERIFY(!edit);
    QTRY_COMPARE(engine->TotalWorkerCount(), 1);
}

void TestProjectManager::AbandonedParseHoldsNothingUp()
{
    AvManager* engine = mManager->AvManagerPtr();
    QPointer<TimelineItem> stuck;
    QMetaObject::Connection const connection =
        connect(mManager.get(), &ProjectManager::BlockUserInputChanged, this, [&](bool blocked) {
            QList<ProjectItem*> const items = mManager->ProjectPtr()->SourceTimelineFolder()->ChildItems();
            if (blocked && !items.isEmpty())
            {
                stuck = qobject_cast<TimelineItem*>(items.first());
            }
        });
    // Logged by the stuck parse's thread as well as this one.
    LoggedMessages errors(&Logger::ErrorLogged);
    auto hold = std::make_unique<TaskHold>(engine, AvWorkerTaskType::ParseSource);
    Project::SetParseTimeout(300);
    mManager->ImportFilesByPath({Media("numbered_av.mp4")}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1, false);
    Project::SetParseTimeout(Project::DEFAULT_PARSE_TIMEOUT_MS);
    disconnect(connection);
    QVERIFY(stuck);
    QVERIFY(mManager->ProjectPtr()->SourceTimelines().isEmpty());
    QStringList const logged = errors.Messages();
    QVERIFY(std::any_of(logged.cbegin(), logged.cend(), [](QString const& error) {
        return error.contains(QStringLiteral("abandoned"));
    }));

    // The stuck parse no longer counts: a new project and an import into it
    // go ahead at once, and the abandoned item is kept for the parser.
    QCOMPARE(engine->TotalWorkerCount(), 1);
    TaskHold* const first = hold.release();
    mManager->NewProject(false);
    mManager->ImportFilesByPath({Media("h264_cfr25.mp4")}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1, false);
    QVERIFY(!first->Released());
    QCOMPARE(mManager->ProjectPtr()->SourceTimelines().size(), 1);
    QCOMPARE(mManager->ProjectPtr()->SourceTimelines().first()->TimelinePtr()->OutputId(), 0);
    QVERIFY(stuck);

    // Once the parse does end, its thread and item go.
    first->Release();
    QTRY_VERIFY(!stuck);
    delete first;

    // A decode task that would not end holds up no new project: the old one
    // is kept until that task has ended.
    auto decodeHold = std::make_unique<TaskHold>(engine, AvWorkerTaskType::DecodeVideo);
    mManager->ImportFilesByPath({Media("numbered_av.mp4")}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1, false);
    QVERIFY(decodeHold->WaitUntilHeld());
    QPointer<Project> const old = mManager->ProjectPtr();
    mManager->NewProject(false);
    QVERIFY(!decodeHold->Released());
    QVERIFY(mManager->ProjectPtr() != old);
    QCOMPARE(engine->TotalWorkerCount(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(old);
    decodeHold->Release();
    QTRY_VERIFY(!old);

    // A task still stuck when the player quits holds up neither the shutdown
    // nor the destruction of the manager. The hold stays reachable from a
    // static until the process ends, as the player leaves such a task.
    static TaskHold* last = nullptr;
    last = new TaskHold(engine, AvWorkerTaskType::DecodeVideo);
    mManager->ImportFilesByPath({Media("numbered_av.mp4")}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1, false);
    QVERIFY(last->WaitUntilHeld());
    mManager->Shutdown();
    mManager.reset();
    QVERIFY(!last->Released());
    last->Release();
}


void TestProjectManager::UndoneDeleteReadsTheFileAgain()
{
    // A render replaced on disk while its source was deleted: undo brings the
    // source back with what the file holds now, under the same ids, with its
    // bookmarks and the edit timeline's clip.
    QTemporaryDir dir;
    QString const render = dir.filePath(QStringLiteral("render.mp4"));
    QVERIFY(QFile::copy(Media("h264_cfr25.mp4"), render));
    ParseSourceData data;
    data.path = render;
    mManager->DoAddSourceTimelinesCmd({data});
    Project* project = mManager->ProjectPtr();
    QCOMPARE(project->SourceTimelines().size(), 1);
    QUuid const id = project->SourceTimelines().firstKey();
    TimelineItem* item = project->FindSourceTimelineById(id);
    QCOMPARE(item->SourcePtr()->FrameCount(), 100);
    QUuid const sourceClipId = item->SourceClip()->Id();
    mManager->DoInsertFrameBookmarkCmd(item->TimelinePtr(), 12);
    mEdit = mManager->DoAddTimelineCmd(QStringLiteral("Edit"), QUuid());
    mManager->DoInsertClipsCmd(EditTimeline(), {id}, -1);
    QUuid const editClipId = EditTimeline()->ClipAtIndex(0)->Id();
    QCOMPARE(EditTimeline()->ClipAtIndex(0)->EndFrame(), 99);

    mManager->DoDeleteSourceTimelineCmd(id);
    QVERIFY(!project->FindSourceTimelineById(id));
    QVERIFY(QFile::remove(render));
    QVERIFY(QFile::copy(Media("h264_gop250.mp4"), render));
    mManager->UndoStackPtr()->undo();

    item = project->FindSourceTimelineById(id);
    QVERIFY(item);
    QCOMPARE(item->SourcePtr()->FrameCount(), 288);
    QCOMPARE(item->SourceClip()->Id(), sourceClipId);
    QVERIFY(item->TimelinePtr()->FrameBookmarkAt(12));
    QCOMPARE(project->SourceTimelineFolder()->ChildItems(), QList<ProjectItem*>({item}));
    Clip const* clip = EditTimeline()->ClipAtIndex(0);
    QCOMPARE(clip->Id(), editClipId);
    QCOMPARE(clip->SourcePtr(), item->SourcePtr());
    QCOMPARE(clip->EndFrame(), 287);

    // The steps before it still undo and redo on the re-read source.
    mManager->UndoStackPtr()->redo();
    QVERIFY(!project->FindSourceTimelineById(id));
    QCOMPARE(EditTimeline()->ClipCount(), 0);
    mManager->UndoStackPtr()->undo();
    mManager->UndoStackPtr()->undo();
    QCOMPARE(EditTimeline()->ClipCount(), 0);
    mManager->UndoStackPtr()->redo();
    QCOMPARE(EditTimeline()->ClipAtIndex(0)->SourcePtr(), project->FindSourceTimelineById(id)->SourcePtr());
}

void TestProjectManager::RestartBetweenTheSpotsReTimesTheSourceInPlace_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("pictures");
    QTest::newRow("step back") << QStringLiteral("numbered_stepback_long.ts") << 1050;
    QTest::newRow("splice") << QStringLiteral("numbered_splice_long.ts") << 1000;
    QTest::newRow("stretch on another clock") << QStringLiteral("numbered_stretch_long.ts") << 1050;
}

void TestProjectManager::RestartBetweenTheSpotsReTimesTheSourceInPlace()
{
    // Above 16 MiB the open reads spots of a transport stream, which pass
    // over these restarts; the whole read behind the parse finds them, and
    // the source, open in the viewer and placed in an edit timeline, is read
    // again in place with one frame for each picture, keeping its state.
    QFETCH(QString, name);
    QFETCH(int, pictures);
    LoggedMessages infos(&Logger::InfoLogged);
    ParseSourceData data;
    data.path = TestMedia::Path(name);
    data.playbackFrame = 700;
    data.cutOutFrame = 800;
    data.viewerIndex = 0;
    mManager->DoAddSourceTimelinesCmd({data});
    QCOMPARE(mManager->ProjectPtr()->SourceTimelines().size(), 1);
    QUuid const id = mManager->ProjectPtr()->SourceTimelines().firstKey();
    QUuid const edit = mManager->DoAddTimelineCmd(QStringLiteral("Edit"), QUuid());
    Timeline* editTimeline = mManager->FindTimelineById(edit)->TimelinePtr();
    mManager->DoInsertClipsCmd(editTimeline, {id}, -1);
    auto source = [this, id]() -> Source* {
        TimelineItem const* item = mManager->ProjectPtr()->FindSourceTimelineById(id);
        return item ? item->SourcePtr() : nullptr;
    };
    QVERIFY(source());
    QTRY_COMPARE_WITH_TIMEOUT(source()->FrameCount(), pictures, 60000);
    QVERIFY(source()->VideoStreamInfoAtIndex(0, 0)->timestampsRestart);
    QCOMPARE(source()->CutOutFrame(), 800);
    Timeline const* timeline = mManager->FindTimelineById(id)->TimelinePtr();
    QCOMPARE(timeline->PlaybackFrame(), 700);
    // The viewer opens it again once the parse has let go of the input.
    QTRY_COMPARE(mManager->FindTimelineById(id)->TimelinePtr()->OutputId(), 0);
    QCOMPARE(mManager->FindTimelineById(edit)->TimelinePtr()->ClipAtIndex(0)->SourcePtr(), source());
    QStringList const messages = infos.Messages();
    QCOMPARE(std::count_if(messages.cbegin(), messages.cend(),
                           [](QString const& message) { return message.startsWith(QLatin1String("Re-timing source")); }),
             1);
}

QTEST_MAIN(TestProjectManager)
#include "tst_projectmanager.moc"
