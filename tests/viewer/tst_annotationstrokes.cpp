#include "OverlayFixtures.h"

#include "model/ProjectManager.h"
#include "model/TimelineItem.h"
#include "viewer/AnnotationClearCmd.h"
#include "viewer/AnnotationStrokeCmd.h"

#include <QtTest>

#include <cmath>
#include <memory>

using namespace OverlayFixtures;

// The life of a stroke on real bookmarks of a timeline: tools, smoothing,
// shapes, the laser fade, and the agreement of a bookmark's strokes with its
// undo stack whatever cuts a stroke off.
class TestAnnotationStrokes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void ClickLeavesADotOnANewBookmark();
    void SmoothingDropsSamplesAndWeighsTheWindow();
    void ShiftMakesStraightLinesAndSquares();
    void ArrowHeadFollowsTheSetting();
    void LaserFadesAndNeverEntersABookmark();
    void PushUndoRedoKeepExactlyOneCopy();
    void CutOffStrokeKeepsItsCommand();
    void ShortcutsMidDragCommitTheLiveStroke();
    void PasteIsOneUndoableCommand();
    void ReplacedBookmarksAreNeverTouched();

private:
    QPoint At(double x, double y) const
    {
        return Scene::Screen(QPointF(x, y));
    }

    std::unique_ptr<Clip> mSource;
    std::unique_ptr<ProjectManager> mProjectManager;
    Timeline* mTimeline = nullptr; // an edit timeline of the project
    std::unique_ptr<Scene> mScene;
    Qt::KeyboardModifiers mModifiers = Qt::NoModifier;
};

void TestAnnotationStrokes::initTestCase()
{
    UseSoftwareRendering();
}

void TestAnnotationStrokes::init()
{
    ResetAnnotationSettings();
    mModifiers = Qt::NoModifier;
    // A project with one edit timeline holding a clip of a 100-frame movie.
    mSource = std::make_unique<Clip>(ModelFixtures::MissingMoviePath(QStringLiteral("strokes")), QString(), QUuid());
    ModelFixtures::FakeParsedMovie(mSource->SourcePtr(), 25.0, 100);
    mProjectManager = std::make_unique<ProjectManager>();
    mProjectManager->NewProject(true);
    QUuid const id = mProjectManager->DoAddTimelineCmd(QStringLiteral("Review"), mProjectManager->TimelineFolderId());
    QVERIFY(mProjectManager->FindTimelineById(id));
    mTimeline = mProjectManager->FindTimelineById(id)->TimelinePtr();
    mTimeline->InsertClipAtIndex(new Clip(mSource.get(), nullptr), -1, false);
    mTimeline->RefreshClipStartTimes();
    mTimeline->OnTrackUpdated();
    mTimeline->SetOutputId(0);
    mTimeline->SetPlaybackFrame(10);
    QCOMPARE(mTimeline->PlaybackFrame(), 10);
    mProjectManager->SetUndoClean();
    mScene = std::make_unique<Scene>(mTimeline, mProjectManager.get());
    mScene->overlay->SetKeyboardModifiersQuery([this] { return mModifiers; });
}

void TestAnnotationStrokes::cleanup()
{
    mScene.reset();
    mTimeline = nullptr;
    mProjectManager.reset();
    mSource.reset();
}

void TestAnnotationStrokes::ClickLeavesADotOnANewBookmark()
{
    AnnotationsOverlay* overlay = mScene->overlay;
    QVERIFY(!mTimeline->FrameBookmarkAt(10));
    overlay->BeginStroke(QPoint(150, 120));
    overlay->EndStroke();

    // Drawing on a frame without a bookmark makes one, then the stroke.
    FrameBookmark* bookmark = mTimeline->FrameBookmarkAt(10);
    QVERIFY(bookmark);
    QCOMPARE(overlay->ForegroundBookmark(), bookmark);
    QCOMPARE(mProjectManager->UndoStackPtr()->count(), 2);
    QCOMPARE(bookmark->strokes.size(), 1);
    QCOMPARE(bookmark->undoStack.count(), 1);
    StrokeData const& stroke = bookmark->strokes.first();
    QCOMPARE(stroke.type, 0);
    QCOMPARE(stroke.points, (QList<QPointF>{QPointF(150, 120), QPointF(150.001, 120)}));
    QCOMPARE(stroke.path.elementCount(), 2);
    QPointF const start = stroke.path.elementAt(0);
    QPointF const end = stroke.path.elementAt(1);
    QCOMPARE(start, QPointF(-50.0 / IMAGE_WIDTH, -30.0 / IMAGE_WIDTH));
    QVERIFY(std::abs(end.x() - start.x() - 0.000001) < 1e-12);
    QCOMPARE(stroke.color, QColor(255, 0, 0, 255));
    QCOMPARE(stroke.width, 10.0f);

    // The bookmark is a project command: the project is modified, and its
    // undo takes the bookmark away from the overlay; redo brings the same
    // bookmark back with its stroke.
    QVERIFY(!mProjectManager->IsUndoClean());
    mProjectManager->UndoStackPtr()->undo();
    QVERIFY(!mTimeline->FrameBookmarkAt(10));
    QVERIFY(!overlay->ForegroundBookmark());
    mProjectManager->UndoStackPtr()->redo();
    QCOMPARE(overlay->ForegroundBookmark(), mTimeline->FrameBookmarkAt(10));
    QCOMPARE(overlay->ForegroundBookmark()->strokes.size(), 1);
    bookmark = overlay->ForegroundBookmark();

    // Without a bookmark to draw on (background layer of no timeline), no stroke.
    overlay->SetActiveLayer(AnnotationLayer::Background);
    overlay->SetBackgroundFrameBookmark(nullptr);
    overlay->BeginStroke(QPoint(10, 10));
    QVERIFY(!overlay->ActiveStroke());
    overlay->EndStroke();
    QCOMPARE(bookmark->strokes.size(), 1);
}

void TestAnnotationStrokes::SmoothingDropsSamplesAndWeighsTheWindow()
{
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->BeginStroke(QPoint(100, 100));
    StrokeData const* stroke = overlay->ActiveStroke();
    QVERIFY(stroke);
    // The press point again lies closer than a tenth of the width to the
    // stroke's last point: dropped.
    overlay->AppendToStroke(QPoint(100, 100), false);
    QCOMPARE(overlay->ActiveStroke()->path.elementCount(), 2);

    // The dropped sample left the window: (2 * 110 + 100) / 3.
    overlay->AppendToStroke(QPoint(110, 100), false);
    stroke = overlay->ActiveStroke();
    QCOMPARE(stroke->path.elementCount(), 3);
    QCOMPARE(stroke->points.size(), 2);
    QVERIFY(std::abs(stroke->points.at(1).x() - 320.0 / 3.0) < 1e-4);
    QPointF const last = stroke->path.elementAt(2);
    QVERIFY(std::abs(last.x() - (320.0 / 3.0 - 200.0) / IMAGE_WIDTH) < 1e-6);
    QVERIFY(std::abs(last.y() - (100.0 - 150.0) / IMAGE_WIDTH) < 1e-6);

    // A full window weighs 5, 4, 3, 2, 1 over 15.
    overlay->EndStroke();
    overlay->BeginStroke(QPoint(100, 100));
    for (int x : {110, 120, 130, 140})
    {
        overlay->AppendToStroke(QPoint(x, 100), false);
    }
    overlay->AppendToStroke(QPoint(150, 100), false);
    double const expected = (5 * 150 + 4 * 140 + 3 * 130 + 2 * 120 + 110) / 15.0;
    QVERIFY2(std::abs(overlay->ActiveStroke()->points.at(1).x() - expected) < 1e-3,
             qPrintable(QString::number(overlay->ActiveStroke()->points.at(1).x())));
    overlay->EndStroke();
    QCOMPARE(mTimeline->FrameBookmarkAt(10)->strokes.size(), 2);
    QCOMPARE(mTimeline->FrameBookmarkAt(10)->undoStack.count(), 2);
}

void TestAnnotationStrokes::ShiftMakesStraightLinesAndSquares()
{
    AnnotationsOverlay* overlay = mScene->overlay;
    // Pencil with Shift held at the press draws a straight line.
    mModifiers = Qt::ShiftModifier;
    overlay->BeginStroke(At(-0.1, 0.0));
    mModifiers = Qt::NoModifier;
    overlay->AppendToStroke(At(0.1, 0.05), false);
    StrokeData const* line = overlay->ActiveStroke();
    QCOMPARE(line->type, 4);
    QCOMPARE(line->path.elementCount(), 2);
    QCOMPARE(QPointF(line->path.elementAt(1)), QPointF(0.1, 0.05));
    overlay->EndStroke();

    // Rectangle from (0, 0) to (0.3, -0.1) with Shift: the smaller extent.
    overlay->OnActiveToolChanged(AnnotationToolType::Rectangle);
    overlay->BeginStroke(At(0.0, 0.0));
    mModifiers = Qt::ShiftModifier;
    overlay->AppendToStroke(At(0.3, -0.1), false);
    StrokeData const* rectangle = overlay->ActiveStroke();
    QCOMPARE(rectangle->type, 7);
    QCOMPARE(rectangle->points.at(1), QPointF(0.1, -0.1));
    // Without Shift the drag point is taken as it is.
    mModifiers = Qt::NoModifier;
    overlay->AppendToStroke(At(0.3, -0.1), false);
    QCOMPARE(overlay->ActiveStroke()->points.at(1), QPointF(0.3, -0.1));
    QCOMPARE(overlay->ActiveStroke()->path.boundingRect(), QRectF(QPointF(0.0, -0.1), QPointF(0.3, 0.0)));
    overlay->EndStroke();

    // Ellipse squares on the other axis, towards the drag.
    overlay->OnActiveToolChanged(AnnotationToolType::Ellipse);
    overlay->BeginStroke(At(0.0, 0.0));
    mModifiers = Qt::ShiftModifier;
    overlay->AppendToStroke(At(-0.05, 0.2), false);
    QCOMPARE(overlay->ActiveStroke()->points.at(1), QPointF(-0.05, 0.05));
    QCOMPARE(overlay->ActiveStroke()->type, 6);
    overlay->EndStroke();
    QCOMPARE(mTimeline->FrameBookmarkAt(10)->strokes.size(), 3);
}

void TestAnnotationStrokes::ArrowHeadFollowsTheSetting()
{
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->OnActiveToolChanged(AnnotationToolType::Arrow);
    for (bool tipToBase : {false, true})
    {
        Settings::annotationDrawArrowTipToBase = tipToBase;
        overlay->BeginStroke(At(-0.25, 0.0));
        overlay->AppendToStroke(At(0.25, 0.0), false);
        StrokeData const* arrow = overlay->ActiveStroke();
        QCOMPARE(arrow->type, 5);
        QCOMPARE(arrow->path.elementCount(), 5);
        QPointF const tip = arrow->path.elementAt(1);
        QPointF const wing1 = arrow->path.elementAt(2);
        QPointF const wing2 = arrow->path.elementAt(4);
        QCOMPARE(QPointF(arrow->path.elementAt(3)), tip);
        QCOMPARE(tip, tipToBase ? QPointF(-0.25, 0.0) : QPointF(0.25, 0.0));
        // Wings 0.022 long, 36 degrees either side of the shaft, behind the tip.
        double const c = std::cos(36.0 * M_PI / 180.0);
        double const s = std::sin(36.0 * M_PI / 180.0);
        double const back = tipToBase ? 1.0 : -1.0;
        QVERIFY(std::abs(wing1.x() - (tip.x() + back * 0.022 * c)) < 1e-6);
        QVERIFY(std::abs(wing2.x() - (tip.x() + back * 0.022 * c)) < 1e-6);
        QVERIFY(std::abs(std::abs(wing1.y()) - 0.022 * s) < 1e-6);
        QVERIFY(wing1.y() * wing2.y() < 0.0);
        overlay->EndStroke();
    }
}

void TestAnnotationStrokes::LaserFadesAndNeverEntersABookmark()
{
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->OnActiveToolChanged(AnnotationToolType::LaserPointer);
    overlay->BeginStroke(QPoint(100, 100));
    overlay->AppendToStroke(QPoint(140, 100), false);
    overlay->EndStroke();
    QVERIFY(overlay->ActiveStroke());
    QCOMPARE(overlay->ActiveStroke()->type, 1);
    QVERIFY(!mTimeline->FrameBookmarkAt(10));

    // Four ticks at full opacity, then 0.1 less per tick until it is gone.
    for (int tick = 1; tick <= 4; ++tick)
    {
        overlay->UpdateLaserPointerOpacity();
        QCOMPARE(overlay->ActiveStroke()->color.alpha(), 255);
    }
    int ticks = 4;
    while (overlay->ActiveStroke() && ticks < 40)
    {
        overlay->UpdateLaserPointerOpacity();
        ++ticks;
    }
    QVERIFY2(ticks >= 14 && ticks <= 16, qPrintable(QString::number(ticks)));

    // A press during the fade with the same size and colour continues the
    // stroke as a new sub-path at full opacity; another colour starts anew.
    overlay->BeginStroke(QPoint(100, 100));
    overlay->AppendToStroke(QPoint(140, 100), false);
    overlay->EndStroke();
    for (int tick = 0; tick < 7; ++tick)
    {
        overlay->UpdateLaserPointerOpacity();
    }
    QVERIFY(overlay->ActiveStroke()->color.alpha() < 255);
    int const elements = overlay->ActiveStroke()->path.elementCount();
    overlay->BeginStroke(QPoint(200, 200));
    overlay->AppendToStroke(QPoint(240, 200), true);
    QCOMPARE(overlay->ActiveStroke()->color.alpha(), 255);
    QVERIFY(overlay->ActiveStroke()->path.elementCount() > elements);
    overlay->EndStroke();
    Settings::annotationToolColor = QColor(0, 0, 255);
    overlay->BeginStroke(QPoint(50, 50));
    QCOMPARE(overlay->ActiveStroke()->color.rgb(), QColor(0, 0, 255).rgb());
    QCOMPARE(overlay->ActiveStroke()->path.elementCount(), 2);
    overlay->EndStroke();
    overlay->ResetActiveStroke();
    QVERIFY(!overlay->ActiveStroke());
    QVERIFY(!mTimeline->FrameBookmarkAt(10));
}

void TestAnnotationStrokes::PushUndoRedoKeepExactlyOneCopy()
{
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->BeginStroke(QPoint(100, 100));
    overlay->AppendToStroke(QPoint(150, 120), false);
    overlay->EndStroke();
    FrameBookmark* bookmark = overlay->ForegroundBookmark();
    QVERIFY(bookmark);
    QCOMPARE(bookmark->strokes.size(), 1);
    StrokeData const drawn = bookmark->strokes.first();

    overlay->Undo();
    QCOMPARE(bookmark->strokes.size(), 0);
    overlay->Undo(); // nothing left to undo
    overlay->Redo();
    QCOMPARE(bookmark->strokes.size(), 1);
    QCOMPARE(bookmark->strokes.first().path, drawn.path);
    overlay->Redo();
    QCOMPARE(bookmark->strokes.size(), 1);

    // Clear is one command; on an empty list it pushes nothing.
    overlay->Clear();
    QCOMPARE(bookmark->strokes.size(), 0);
    QCOMPARE(bookmark->undoStack.count(), 2);
    overlay->Clear();
    QCOMPARE(bookmark->undoStack.count(), 2);
    overlay->Undo();
    QCOMPARE(bookmark->strokes.size(), 1);

    // A stroke command undone on an empty list takes nothing and gives
    // nothing back.
    FrameBookmark empty;
    AnnotationStrokeCmd command(&empty);
    command.undo();
    command.redo();
    QVERIFY(empty.strokes.isEmpty());
    AnnotationStrokeCmd orphan(nullptr);
    orphan.undo();
    orphan.redo();
    AnnotationClearCmd clearOrphan(nullptr);
    clearOrphan.redo();
    clearOrphan.undo();
}

void TestAnnotationStrokes::CutOffStrokeKeepsItsCommand()
{
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->BeginStroke(QPoint(100, 100));
    overlay->EndStroke();
    FrameBookmark* first = overlay->ForegroundBookmark();
    QCOMPARE(first->strokes.size(), 1);

    // A second stroke is cut off by a change of frame mid-drag.
    overlay->BeginStroke(QPoint(200, 100));
    overlay->AppendToStroke(QPoint(250, 130), false);
    mTimeline->SetPlaybackFrame(11);
    overlay->UpdateForegroundBookmark();
    QVERIFY(!overlay->ForegroundBookmark());
    QVERIFY(!overlay->ActiveStroke());
    QCOMPARE(first->strokes.size(), 2);
    QCOMPARE(first->undoStack.count(), 2);
    overlay->AppendToStroke(QPoint(260, 140), false);
    overlay->EndStroke();
    QCOMPARE(first->strokes.size(), 2);

    // Back on the frame, undo takes the strokes in reverse order, and no
    // further undo takes from an empty list.
    mTimeline->SetPlaybackFrame(10);
    overlay->UpdateForegroundBookmark();
    StrokeData const second = first->strokes.at(1);
    overlay->Undo();
    QCOMPARE(first->strokes.size(), 1);
    QVERIFY(first->strokes.first().path != second.path);
    overlay->Undo();
    overlay->Undo();
    QCOMPARE(first->strokes.size(), 0);
    overlay->Redo();
    overlay->Redo();
    QCOMPARE(first->strokes.size(), 2);
    QCOMPARE(first->strokes.at(1).path, second.path);

    // ResetActiveStroke also commits.
    overlay->BeginStroke(QPoint(120, 160));
    overlay->ResetActiveStroke();
    QCOMPARE(first->strokes.size(), 3);
    QCOMPARE(first->undoStack.count(), 3);
}

void TestAnnotationStrokes::ShortcutsMidDragCommitTheLiveStroke()
{
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->BeginStroke(QPoint(100, 100));
    overlay->EndStroke();
    FrameBookmark* bookmark = overlay->ForegroundBookmark();

    // Undo mid-drag undoes the live stroke, and the drag goes on into nothing.
    overlay->BeginStroke(QPoint(200, 100));
    overlay->AppendToStroke(QPoint(220, 110), false);
    overlay->Undo();
    QCOMPARE(bookmark->strokes.size(), 1);
    for (int x = 230; x < 300; x += 10)
    {
        overlay->AppendToStroke(QPoint(x, 120), false);
    }
    overlay->EndStroke();
    QCOMPARE(bookmark->strokes.size(), 1);
    QCOMPARE(bookmark->undoStack.index(), 1);

    // Redo mid-drag.
    overlay->BeginStroke(QPoint(120, 200));
    overlay->Redo();
    overlay->AppendToStroke(QPoint(140, 210), false);
    overlay->EndStroke();
    QCOMPARE(bookmark->strokes.size(), 2);
    QCOMPARE(bookmark->undoStack.count(), 2);

    // Clear mid-drag takes the live stroke too; undo brings all back.
    overlay->BeginStroke(QPoint(50, 50));
    overlay->AppendToStroke(QPoint(80, 60), false);
    overlay->Clear();
    overlay->AppendToStroke(QPoint(90, 70), false);
    overlay->EndStroke();
    QCOMPARE(bookmark->strokes.size(), 0);
    overlay->Undo();
    QCOMPARE(bookmark->strokes.size(), 3);

    // Cut and paste mid-drag.
    overlay->Copy();
    overlay->BeginStroke(QPoint(60, 60));
    overlay->AppendToStroke(QPoint(70, 80), false);
    overlay->Paste();
    overlay->AppendToStroke(QPoint(75, 90), false);
    overlay->EndStroke();
    QCOMPARE(bookmark->strokes.size(), 3);
    overlay->Undo();
    QCOMPARE(bookmark->strokes.size(), 4);
    overlay->BeginStroke(QPoint(60, 60));
    overlay->Cut();
    overlay->AppendToStroke(QPoint(75, 90), false);
    overlay->EndStroke();
    QCOMPARE(overlay->ClipboardStrokes().size(), 5);
    QVERIFY(!mTimeline->FrameBookmarkAt(10));
    QVERIFY(!overlay->ForegroundBookmark());
    mProjectManager->UndoStackPtr()->undo();
    QCOMPARE(overlay->ForegroundBookmark(), mTimeline->FrameBookmarkAt(10));
    QCOMPARE(overlay->ForegroundBookmark()->strokes.size(), 5);
}

void TestAnnotationStrokes::PasteIsOneUndoableCommand()
{
    AnnotationsOverlay* overlay = mScene->overlay;
    overlay->BeginStroke(QPoint(100, 100));
    overlay->EndStroke();
    overlay->BeginStroke(QPoint(150, 100));
    overlay->EndStroke();
    overlay->Copy();
    QCOMPARE(overlay->ClipboardStrokes().size(), 2);

    // Onto a frame with a stroke of its own: replaced, undo restores it,
    // redo pastes again, and the earlier history stays.
    mTimeline->SetPlaybackFrame(20);
    overlay->UpdateForegroundBookmark();
    overlay->OnActiveToolChanged(AnnotationToolType::Rectangle);
    overlay->BeginStroke(QPoint(10, 10));
    overlay->AppendToStroke(QPoint(30, 30), false);
    overlay->EndStroke();
    FrameBookmark* target = overlay->ForegroundBookmark();
    QCOMPARE(target->strokes.size(), 1);
    QSignalSpy annotated(overlay, &AnnotationsOverlay::BookmarkIsAnnotationChanged);
    overlay->Paste();
    QCOMPARE(target->strokes.size(), 2);
    QCOMPARE(target->strokes.first().type, 0);
    QCOMPARE(target->undoStack.count(), 2);
    QVERIFY(!annotated.isEmpty());
    QCOMPARE(annotated.last().at(0).toInt(), 20);
    QCOMPARE(annotated.last().at(1).toBool(), true);
    overlay->Undo();
    QCOMPARE(target->strokes.size(), 1);
    QCOMPARE(target->strokes.first().type, 7);
    overlay->Redo();
    QCOMPARE(target->strokes.size(), 2);
    overlay->Undo();
    overlay->Undo();
    QCOMPARE(target->strokes.size(), 0);

    // Into an existing bookmark without strokes, after a save: the project
    // counts as modified.
    mTimeline->SetPlaybackFrame(30);
    mTimeline->InsertFrameBookmark(30);
    overlay->UpdateForegroundBookmark();
    FrameBookmark* blank = overlay->ForegroundBookmark();
    QVERIFY(blank && blank->strokes.isEmpty());
    mProjectManager->SetUndoClean();
    QVERIFY(mProjectManager->IsUndoClean());
    QSignalSpy cleanChanged(mProjectManager.get(), &ProjectManager::UndoCleanChanged);
    overlay->Paste();
    QCOMPARE(blank->strokes.size(), 2);
    QVERIFY(!blank->undoStack.isClean());
    QVERIFY(!mProjectManager->IsUndoClean());
    QVERIFY(!cleanChanged.isEmpty());
    overlay->Undo();
    QVERIFY(blank->strokes.isEmpty());
    QVERIFY(mProjectManager->IsUndoClean());

    // Onto a frame without a bookmark: made through the project, then pasted.
    mTimeline->SetPlaybackFrame(40);
    overlay->UpdateForegroundBookmark();
    overlay->Paste();
    QVERIFY(mTimeline->FrameBookmarkAt(40));
    QCOMPARE(mTimeline->FrameBookmarkAt(40)->strokes.size(), 2);
    QCOMPARE(overlay->ForegroundBookmark(), mTimeline->FrameBookmarkAt(40));
}

void TestAnnotationStrokes::ReplacedBookmarksAreNeverTouched()
{
    AnnotationsOverlay* overlay = mScene->overlay;

    // The background bookmark swapped mid-drag on the background layer.
    overlay->SetActiveLayer(AnnotationLayer::Background);
    overlay->BeginStroke(QPoint(100, 100));
    overlay->AppendToStroke(QPoint(150, 150), false);
    auto* replacement = new FrameBookmark();
    replacement->strokes.append(DotStroke(QPointF(0.1, 0.1), Qt::green));
    mTimeline->SetBackgroundFrameBookmark(replacement);
    QCOMPARE(overlay->BackgroundBookmark(), replacement);
    QCOMPARE(overlay->ActiveBookmark(), replacement);
    QVERIFY(!overlay->ActiveStroke());
    overlay->AppendToStroke(QPoint(160, 160), false);
    overlay->Undo();
    QCOMPARE(replacement->strokes.size(), 1);
    delete mTimeline->TakeBackgroundFrameBookmark();
    QVERIFY(overlay->BackgroundBookmark() != replacement);
    overlay->EndStroke();

    // The clip's bookmarks replaced while a stroke is drawn on one of them.
    overlay->SetActiveLayer(AnnotationLayer::Foreground);
    overlay->BeginStroke(QPoint(100, 100));
    overlay->AppendToStroke(QPoint(120, 100), false);
    QVERIFY(overlay->ForegroundBookmark());
    auto* fresh = new FrameBookmark(10);
    fresh->strokes.append(DotStroke(QPointF(0.0, 0.0), Qt::blue));
    mTimeline->ClipAtIndex(0)->SetFrameBookmarks({fresh});
    QCOMPARE(overlay->ForegroundBookmark(), fresh);
    overlay->AppendToStroke(QPoint(130, 100), false);
    overlay->EndStroke();
    overlay->Undo();
    QCOMPARE(fresh->strokes.size(), 1);

    // The clip is deleted from the timeline with its bookmark on show, and
    // the cleared undo stack then releases it.
    overlay->BeginStroke(QPoint(100, 100));
    overlay->AppendToStroke(QPoint(110, 110), false);
    QList<int> first {0};
    mProjectManager->DoDeleteClipsCmd(mTimeline, first);
    QCOMPARE(mTimeline->ClipCount(), 0);
    QVERIFY(!overlay->ForegroundBookmark());
    mProjectManager->UndoStackPtr()->clear();
    overlay->AppendToStroke(QPoint(120, 120), false);
    overlay->EndStroke();
    overlay->Undo();
    overlay->Redo();
    mScene->Grab();

    // A standalone edit timeline as the primary one.
    auto edit = std::make_unique<Timeline>(nullptr, true);
    edit->InsertClipAtIndex(new Clip(mSource.get(), nullptr), -1, false);
    edit->RefreshClipStartTimes();
    edit->OnTrackUpdated();
    edit->SetOutputId(0);
    edit->SetPlaybackFrame(5);
    edit->InsertFrameBookmark(5);
    overlay->SetPrimaryTimeline(edit.get());
    overlay->SetBackgroundFrameBookmark(edit->BackgroundFrameBookmark());
    overlay->UpdateForegroundBookmark();
    QVERIFY(overlay->ForegroundBookmark());

    // The timeline itself goes away.
    overlay->BeginStroke(QPoint(100, 100));
    edit.reset();
    QVERIFY(!overlay->BackgroundBookmark());
    overlay->AppendToStroke(QPoint(120, 120), false);
    overlay->EndStroke();
    mScene->Grab();
}

QTEST_MAIN(TestAnnotationStrokes)
#include "tst_annotationstrokes.moc"
