// TESSARIN_TEST: xvfb
// The side bar on the real project manager and engine: collapsing, swapping and
// keeping the views' order and sizes, the range and delay boxes, the title-bar
// buttons and what a grab of the bar shows.

#include "support/TestMedia.h"

#include "app/FileHelpers.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/FolderItem.h"
#include "model/ParseSourceData.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"
#include "panels/FlatButton.h"
#include "panels/ProjectPanel.h"
#include "panels/ProjectTreeWidget.h"
#include "panels/ProjectViewWidget.h"
#include "panels/SideBarWidget.h"
#include "panels/TimelineOverviewListWidget.h"
#include "panels/TimelineOverviewPanel.h"
#include "panels/TimelinePanel.h"
#include "panels/TimelinePropertiesPanel.h"
#include "panels/TimelineViewWidget.h"
#include "panels/UiHelpers.h"

#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QLabel>
#include <QMimeData>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

namespace
{
QString Media(char const* name)
{
    return TestMedia::Path(QString::fromLatin1(name));
}

// Whether the image has, inside rect, a pixel far from the colour at its
// top-left corner: something is drawn there.
bool HasInk(QImage const& image, QRect const& rect)
{
    QRect const area = rect.intersected(image.rect());
    if (area.isEmpty())
    {
        return false;
    }
    QColor const background = image.pixelColor(area.topLeft());
    for (int y = area.top(); y <= area.bottom(); ++y)
    {
        for (int x = area.left(); x <= area.right(); ++x)
        {
            QColor const c = image.pixelColor(x, y);
            if (std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
                    std::abs(c.blue() - background.blue()) >
                120)
            {
                return true;
            }
        }
    }
    return false;
}

QPoint TitlePoint(SideBarWidget* bar, SideBarViewWidget* view)
{
    QRect const title = view->TitleBarGeometry();
    return bar->Splitter()->mapTo(bar, QPoint(title.width() / 3, title.center().y()));
}
} // namespace

class TestSideBar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void ViewsCollapseSwapAndKeepTheirArrangement();
    void RangeAndDelayBoxesApplyFinishedEntries();
    void OneTitleButtonPressRunsOnce();
    void GrabShowsTitleRowsSlotAndDefault();
    void ViewFrameRules();
    void PropertiesFollowTheTimelineKind();
    void TreeKeysAndCurrentFolder();

private:
    void MakeSideBar();
    QUuid AddSource(char const* name);

    std::unique_ptr<ProjectManager> mManager;
    std::unique_ptr<QWidget> mWindow;
    SideBarWidget* mSideBar = nullptr;
};

void TestSideBar::initTestCase()
{
    Settings::autoPlayEnabled = false;
    Settings::resizeToFit = false;
}

void TestSideBar::init()
{
    Settings::sideBarOrder.clear();
    Settings::sideBarViewState.clear();
    Settings::sideBarProjectExpanded = true;
    Settings::sideBarTimelineExpanded = true;
    Settings::timeControlFrameOffset = 0;
    mManager = std::make_unique<ProjectManager>();
    mManager->NewProject(false);
    MakeSideBar();
}

void TestSideBar::MakeSideBar()
{
    mWindow = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(mWindow.get());
    layout->setContentsMargins(0, 0, 0, 0);
    mSideBar = new SideBarWidget(mManager.get(), nullptr, mWindow.get());
    layout->addWidget(mSideBar);
    mWindow->resize(320, 700);
    mWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));
    mWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
}

void TestSideBar::cleanup()
{
    mWindow.reset();
    mManager->Shutdown();
    mManager.reset();
}

QUuid TestSideBar::AddSource(char const* name)
{
    ParseSourceData data;
    data.path = Media(name);
    data.parentId = mManager->SourceTimelineFolderId();
    data.addToDefaultTimeline = false;
    mManager->DoAddSourceTimelinesCmd({data});
    QList<TimelineItem*> timelines;
    mManager->FindFolderById(mManager->SourceTimelineFolderId())->ChildTimelines(timelines);
    return timelines.isEmpty() ? QUuid() : timelines.last()->Id();
}

void TestSideBar::ViewsCollapseSwapAndKeepTheirArrangement()
{
    ProjectViewWidget* project = mSideBar->ProjectViewPtr();
    TimelineViewWidget* timeline = mSideBar->TimelineViewPtr();

    // Collapsing both through the title bars re-expands the other one.
    QTest::mouseDClick(mSideBar, Qt::LeftButton, Qt::NoModifier, TitlePoint(mSideBar, project));
    QVERIFY(!project->IsExpanded());
    QCOMPARE(project->height(), SideBarViewWidget::TITLE_BAR_HEIGHT);
    QVERIFY(!Settings::sideBarProjectExpanded);
    QTest::mouseDClick(mSideBar, Qt::LeftButton, Qt::NoModifier, TitlePoint(mSideBar, timeline));
    QVERIFY(!timeline->IsExpanded());
    QVERIFY(project->IsExpanded());
    QVERIFY(!mSideBar->StretchWidget()->isVisible());
    QTest::mouseDClick(mSideBar, Qt::LeftButton, Qt::NoModifier, TitlePoint(mSideBar, timeline));
    QVERIFY(timeline->IsExpanded());

    // A view drop swaps the views and is saved at once as "1", "0"; a drop of a
    // view on itself changes nothing; a payload of the wrong length is ignored.
    QMimeData self;
    self.setData(UiHelpers::SIDE_BAR_VIEW_MIME_TYPE, QByteArray(1, char(0)));
    QPoint const onProject = mSideBar->Splitter()->mapTo(mSideBar, project->geometry().center());
    QPoint const onTimeline = mSideBar->Splitter()->mapTo(mSideBar, timeline->geometry().center());
    QCOMPARE(mSideBar->DropIndexAt(&self, onProject), 0);
    QDragEnterEvent enterSelf(onProject, Qt::MoveAction, &self, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(mSideBar, &enterSelf);
    QVERIFY(!project->IsOverlayVisible());
    QMimeData wrong;
    wrong.setData(UiHelpers::SIDE_BAR_VIEW_MIME_TYPE, QByteArray(2, char(0)));
    QCOMPARE(mSideBar->DropIndexAt(&wrong, onTimeline), -1);

    QDragMoveEvent move(onTimeline, Qt::MoveAction, &self, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(mSideBar, &move);
    QVERIFY(timeline->IsOverlayVisible());
    QDropEvent drop(onTimeline, Qt::MoveAction, &self, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(mSideBar, &drop);
    QVERIFY(!timeline->IsOverlayVisible());
    QCOMPARE(mSideBar->Splitter()->indexOf(timeline), 0);
    QCOMPARE(Settings::sideBarOrder, QStringList({"1", "0"}));

    // Moving the splitter handle is saved at once; hiding and showing keep it.
    QSplitterHandle* handle = mSideBar->Splitter()->handle(1);
    QPoint const start(handle->width() / 2, 0);
    QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, start);
    QTest::mouseMove(handle, start + QPoint(0, 120));
    QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, start + QPoint(0, 120));
    QList<int> const sizes = mSideBar->Splitter()->sizes();
    QCOMPARE(Settings::sideBarViewState, mSideBar->Splitter()->saveState());
    mSideBar->hide();
    mSideBar->show();
    QCOMPARE(mSideBar->Splitter()->sizes(), sizes);
    QCOMPARE(mSideBar->Splitter()->indexOf(timeline), 0);

    // What another run reads back from the settings file gives the same
    // order and sizes.
    mSideBar->SaveState();
    QVERIFY(FileHelpers::SaveUserSettings());
    QByteArray const state = Settings::sideBarViewState;
    Settings::sideBarOrder.clear();
    Settings::sideBarViewState.clear();
    FileHelpers::LoadUserSettings();
    QCOMPARE(Settings::sideBarOrder, QStringList({"1", "0"}));
    QCOMPARE(Settings::sideBarViewState, state);
    MakeSideBar();
    QCOMPARE(mSideBar->Splitter()->indexOf(mSideBar->TimelineViewPtr()), 0);
    QCOMPARE(mSideBar->Splitter()->sizes(), sizes);
}

void TestSideBar::RangeAndDelayBoxesApplyFinishedEntries()
{
    QUuid const id = AddSource("h264_cfr25.mp4");
    mManager->SetTimeControlFrameOffset(1001);
    mManager->DoOpenTimelinesInViewerCmd({id}, 0, false);
    TimelinePropertiesPanel* properties = mSideBar->TimelineViewPtr()->TimelinePropertiesPanelPtr();
    Timeline* timeline = mManager->FindTimelineById(id)->TimelinePtr();
    QTRY_COMPARE(properties->TimelinePtr(), timeline);
    mSideBar->TimelineViewPtr()->TimelinePanelPtr()->TabWidget()->setCurrentIndex(1);
    QSpinBox* start = properties->RangeStartSpinBox();
    QSpinBox* end = properties->RangeEndSpinBox();
    QCOMPARE(start->value(), 1001);
    // Any frame number may be typed; the timeline clamps what it is given.
    QCOMPARE(start->minimum(), 0);
    QCOMPARE(end->minimum(), 0);
    QCOMPARE(end->value(), 1001 + timeline->EndFrame());

    // Typing 1010 and Return is one change to frame 9, nothing per keystroke,
    // made directly: no undo step.
    QSignalSpy changes(timeline, &Timeline::PlaybackRangeChanged);
    int const index = mManager->UndoStackPtr()->index();
    start->setFocus();
    start->selectAll();
    QTest::keyClicks(start, QStringLiteral("1010"));
    QCOMPARE(changes.count(), 0);
    QTest::keyClick(start, Qt::Key_Return);
    QCOMPARE(timeline->PlaybackRangeStartFrame(), 9);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(mManager->UndoStackPtr()->index(), index);
    QCOMPARE(start->value(), 1010);

    // A start below the offset is the first frame.
    start->setFocus();
    start->selectAll();
    QTest::keyClicks(start, QStringLiteral("5"));
    QTest::keyClick(start, Qt::Key_Return);
    QCOMPARE(timeline->PlaybackRangeStartFrame(), 0);
    QCOMPARE(start->value(), 1001);
    QCOMPARE(changes.count(), 2);
    QCOMPARE(mManager->UndoStackPtr()->index(), index);

    // The end never goes below the start, nor below the offset.
    end->setFocus();
    end->selectAll();
    QTest::keyClicks(end, QStringLiteral("1005"));
    QTest::keyClick(end, Qt::Key_Return);
    QVERIFY(timeline->PlaybackRangeEndFrame() >= timeline->PlaybackRangeStartFrame());
    QVERIFY(timeline->PlaybackRangeEndFrame() >= 0);

    // The audio delay box: milliseconds in, microseconds stored, on finishing.
    QSpinBox* delay = properties->AudioDelaySpinBox();
    delay->setFocus();
    delay->selectAll();
    QTest::keyClicks(delay, QStringLiteral("40"));
    QCOMPARE(timeline->AudioDelay(), 0LL);
    QTest::keyClick(delay, Qt::Key_Return);
    QCOMPARE(timeline->AudioDelay(), 40000LL);
    timeline->SetAudioDelay(-1500);
    properties->UpdateAudioDelay();
    QCOMPARE(delay->value(), -1);
}

void TestSideBar::OneTitleButtonPressRunsOnce()
{
    QList<QUuid> sources {AddSource("h264_cfr25.mp4"), AddSource("tone.wav"), AddSource("numbered_gop250.mp4")};
    QUuid const editId = mManager->DoAddTimelineCmd(QStringLiteral("Edit"), mManager->TimelineFolderId());
    Timeline* timeline = mManager->FindTimelineById(editId)->TimelinePtr();
    mManager->DoInsertClipsCmd(timeline, sources, -1);
    mManager->DoOpenTimelinesInViewerCmd({editId}, 0, false);
    TimelineViewWidget* view = mSideBar->TimelineViewPtr();
    TimelineOverviewListWidget* list = view->TimelineOverviewPanelPtr()->ListWidget();
    QTRY_COMPARE(list->count(), 3);
    QTabWidget* tabs = view->TimelinePanelPtr()->TabWidget();
    QVERIFY(tabs->isTabVisible(0));
    tabs->setCurrentIndex(0);

    // Select the last clip with a real click: the list takes the focus and
    // the title-bar buttons show.
    QRect const last = list->visualItemRect(list->item(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, last.center());
    QTRY_VERIFY(list->hasFocus());
    FlatButton* moveUp = view->TitleBarButtons().first();
    QTRY_VERIFY(moveUp->isVisible());

    QUndoStack* stack = mManager->UndoStackPtr();
    int const index = stack->index();
    QTest::mouseMove(moveUp, moveUp->rect().center());
    QTest::mouseClick(moveUp, Qt::LeftButton, Qt::NoModifier, moveUp->rect().center());
    // A deferred action queued by the press would run before this marker.
    bool flushed = false;
    QTimer::singleShot(0, view, [&flushed] { flushed = true; });
    QVERIFY(QTest::qWaitFor([&flushed] { return flushed; }));
    QCOMPARE(stack->index(), index + 1);
    QCOMPARE(list->item(1)->text(), QStringLiteral("numbered_gop250.mp4"));
    QTRY_VERIFY(list->hasFocus());
}

void TestSideBar::GrabShowsTitleRowsSlotAndDefault()
{
    QUuid const source = AddSource("h264_cfr25.mp4");
    QUuid const editId = mManager->DoAddTimelineCmd(QStringLiteral("Edit"), mManager->TimelineFolderId());
    mManager->SetDefaultTimeline(editId);
    mManager->DoOpenTimelinesInViewerCmd({source}, 0, false);
    ProjectPanel* panel = mSideBar->ProjectPanelPtr();
    panel->RefreshProject();
    mManager->SetProjectPath(QStringLiteral("/tmp/Review Session.zeph"));
    ProjectTreeWidget* tree = panel->TreeWidget();
    tree->expandAll();
    panel->FlushPendingRefresh();

    QTRY_VERIFY(mSideBar->ProjectViewPtr()->ViewNameText().contains(QStringLiteral("REVIEW SESSION")));
    ProjectTreeWidgetItem* sourceRow = tree->FindItemById(source);
    ProjectTreeWidgetItem* editRow = tree->FindItemById(editId);
    QCOMPARE(sourceRow->text(1), QStringLiteral("A"));
    QCOMPARE(editRow->text(2), QStringLiteral("*"));
    QCOMPARE(editRow->text(1), QString());
    QCOMPARE(tree->topLevelItemCount(), 3);

    QImage const image = mSideBar->grab().toImage();
    auto const inBar = [this, tree](QRect const& rect) {
        return QRect(tree->viewport()->mapTo(mSideBar, rect.topLeft()), rect.size());
    };
    QLabel* title = mSideBar->ProjectViewPtr()->NameLabel();
    QVERIFY(HasInk(image, QRect(title->mapTo(mSideBar, QPoint(0, 0)), title->size())));
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
    {
        QTreeWidgetItem* row = tree->topLevelItem(i);
        QRect rect = tree->visualItemRect(row);
        rect.setWidth(tree->columnWidth(0));
        QVERIFY(HasInk(image, inBar(rect)));
    }
    auto const cell = [tree](QTreeWidgetItem* row, int column) {
        QRect rect = tree->visualItemRect(row);
        int x = 0;
        for (int c = 0; c < column; ++c)
        {
            x += tree->columnWidth(c);
        }
        return QRect(x, rect.top(), tree->columnWidth(column), rect.height());
    };
    QVERIFY(HasInk(image, inBar(cell(sourceRow, 1))));
    QVERIFY(!HasInk(image, inBar(cell(sourceRow, 2))));
    QVERIFY(HasInk(image, inBar(cell(editRow, 2))));
    QVERIFY(!HasInk(image, inBar(cell(editRow, 1))));
}

void TestSideBar::ViewFrameRules()
{
    SideBarViewWidget view(nullptr, nullptr);
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.AppendTitleBarButton(nullptr);
    QVERIFY(view.TitleBarButtons().isEmpty());
    auto* first = FlatButton::CreateButton(QImage(), view.GetTitleBarButtonSize(), 3, QString());
    auto* second = FlatButton::CreateButton(QImage(), view.GetTitleBarButtonSize(), 3, QString());
    for (FlatButton* button : {first, second})
    {
        button->setParent(&view);
        view.AppendTitleBarButton(button);
    }
    QSignalSpy expanded(&view, &SideBarViewWidget::ExpandedStateChanged);

    // Two visible 18 px buttons and the arrow: the name may take the rest less 54.
    view.SetTitleBarButtonsAlwaysVisible(true);
    QVERIFY(first->isVisible() && second->isVisible());
    QLabel* arrow = nullptr;
    for (QLabel* label : view.findChildren<QLabel*>())
    {
        if (label != view.NameLabel())
        {
            arrow = label;
        }
    }
    QVERIFY(arrow);
    QCOMPARE(view.NameLabel()->maximumWidth(), view.width() - arrow->width() - 2 * (18 + 3) - 12);

    // Disabled buttons stay hidden until enabled and asked for again.
    view.SetTitleBarButtonsEnabled(false);
    QVERIFY(!first->isVisible());
    QCOMPARE(view.NameLabel()->maximumWidth(), QWIDGETSIZE_MAX);
    view.SetTitleBarButtonsVisible(true);
    QVERIFY(!first->isVisible());
    view.SetTitleBarButtonsEnabled(true);
    QVERIFY(!first->isVisible());
    view.SetTitleBarButtonsVisible(true);
    QVERIFY(first->isVisible());

    // A collapsed view is one title bar high and shows no button.
    view.SetExpanded(false);
    QCOMPARE(expanded.count(), 1);
    QTRY_COMPARE(view.height(), SideBarViewWidget::TITLE_BAR_HEIGHT);
    view.SetTitleBarButtonsVisible(true);
    QVERIFY(!first->isVisible());
    // Not collapsible: nothing changes, nothing is announced.
    view.SetCollapsible(false);
    view.SetExpanded(true);
    QVERIFY(!view.IsExpanded());
    QCOMPARE(expanded.count(), 1);
    view.SetViewName(QStringLiteral("Shots"));
    QCOMPARE(view.ViewNameText(), QStringLiteral("<STRONG>SHOTS</STRONG>"));
}

void TestSideBar::PropertiesFollowTheTimelineKind()
{
    QUuid const source = AddSource("h264_cfr25.mp4");
    QUuid const edit = mManager->DoAddTimelineCmd(QStringLiteral("Cut"), mManager->TimelineFolderId());
    TimelineViewWidget* view = mSideBar->TimelineViewPtr();
    TimelinePropertiesPanel* properties = view->TimelinePropertiesPanelPtr();
    QTabWidget* tabs = view->TimelinePanelPtr()->TabWidget();
    QSignalSpy names(mSideBar, &SideBarWidget::TimelineNameChanged);

    mManager->DoOpenTimelinesInViewerCmd({edit}, 0, false);
    QTRY_VERIFY(properties->TimelinePtr());
    QVERIFY(tabs->isTabVisible(0));
    tabs->setCurrentIndex(0);
    QCOMPARE(view->ViewNameText(), QStringLiteral("<STRONG>CUT</STRONG>"));
    QVERIFY(!names.isEmpty());
    QCOMPARE(names.last().first().toString(), QStringLiteral("Cut"));
    QVERIFY(properties->AudioOverrideGroup()->isVisibleTo(properties));
    QVERIFY(properties->OptionsGroup()->isVisibleTo(properties));
    QVERIFY(!properties->SourceInputGroup()->isVisibleTo(properties));
    QCOMPARE(properties->RangeGroup()->title(), QStringLiteral("Range"));

    // A source timeline shows its properties alone, without tabs; back on the
    // edit timeline the clip list is current again.
    mManager->DoOpenTimelinesInViewerCmd({source}, 0, false);
    QTRY_COMPARE(properties->TimelinePtr(), mManager->FindTimelineById(source)->TimelinePtr());
    QVERIFY(!tabs->isTabVisible(0));
    QCOMPARE(tabs->currentIndex(), 1);
    QVERIFY(properties->SourceInputGroup()->isVisibleTo(properties));
    QVERIFY(properties->AudioDelayGroup()->isVisibleTo(properties));
    QVERIFY(!properties->AudioOverrideGroup()->isVisibleTo(properties));
    QCOMPARE(properties->RangeGroup()->title(), QStringLiteral("Source In/Out"));
    QCOMPARE(properties->SourcePathEdit()->text(), Media("h264_cfr25.mp4"));
    mManager->DoOpenTimelinesInViewerCmd({edit}, 0, false);
    QTRY_VERIFY(tabs->isTabVisible(0));
    QCOMPARE(tabs->currentIndex(), 0);

    // Pan and zoom: a request per change; Reset asks for no pan, zoom 1, off.
    QSignalSpy panZoom(mSideBar, &SideBarWidget::PanZoomChangeRequested);
    properties->PanXSpinBox()->setValue(0.5);
    QCOMPARE(panZoom.count(), 1);
    QTest::mouseClick(properties->PanZoomResetButton(), Qt::LeftButton);
    QCOMPARE(panZoom.count(), 2);
    QCOMPARE(panZoom.last().at(0).toPointF(), QPointF(0, 0));
    QCOMPARE(panZoom.last().at(1).toFloat(), 1.0f);
    QCOMPARE(panZoom.last().at(2).toBool(), false);
}

void TestSideBar::TreeKeysAndCurrentFolder()
{
    QUuid const source = AddSource("h264_cfr25.mp4");
    QUuid const folder = mManager->DoAddFolderCmd(QStringLiteral("F"), mManager->ProjectFolderId(), {});
    ProjectPanel* panel = mSideBar->ProjectPanelPtr();
    panel->RefreshProject();
    ProjectTreeWidget* tree = panel->TreeWidget();
    tree->expandAll();
    panel->FlushPendingRefresh();

    auto const select = [tree](QList<QUuid> const& ids) {
        tree->clearSelection();
        for (QUuid const& id : ids)
        {
            tree->FindItemById(id)->setSelected(true);
        }
    };
    select({source});
    QCOMPARE(tree->CurrentFolder()->ProjectItemId(), mManager->SourceTimelineFolderId());
    select({folder});
    QCOMPARE(tree->CurrentFolder()->ProjectItemId(), folder);
    select({folder, source});
    QVERIFY(!tree->CurrentFolder());
    tree->clearSelection();
    QVERIFY(!tree->CurrentFolder());

    // F2 on a root does nothing; on a user folder it opens the editor; arrow
    // keys do nothing.
    tree->setFocus();
    select({mManager->SourceTimelineFolderId()});
    tree->setCurrentItem(tree->FindItemById(mManager->SourceTimelineFolderId()));
    QTest::keyClick(tree, Qt::Key_F2);
    QVERIFY(!tree->InEditingState());
    QTreeWidgetItem* current = tree->currentItem();
    QTest::keyClick(tree, Qt::Key_Down);
    QCOMPARE(tree->currentItem(), current);
    select({folder});
    QTest::keyClick(tree, Qt::Key_F2);
    QVERIFY(tree->InEditingState());
}

QTEST_MAIN(TestSideBar)
#include "tst_sidebar.moc"
