// TESSARIN_TEST: xvfb
// The project browser on the real project manager and engine: every edit is one
// undo step whose undo and redo give back the saved project byte for byte;
// drops on the tree and the clip list; the project dialogs; Save Source As.

#include "support/ModalAnswer.h"
#include "support/TestMedia.h"
#include "support/TestFiles.h"

#include "app/FileHelpers.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/Clip.h"
#include "model/FolderItem.h"
#include "model/FrameBookmark.h"
#include "model/ParseSourceData.h"
#include "model/ProjectManager.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"
#include "model/Track.h"
#include "panels/AudioOverrideLineEdit.h"
#include "panels/DuplicateSourceOptionsDialog.h"
#include "panels/FlatButton.h"
#include "panels/ProjectPanel.h"
#include "panels/AboutDialog.h"
#include "panels/ProjectSettingsDialog.h"
#include "panels/ProjectTreeWidget.h"
#include "panels/SideBarWidget.h"
#include "panels/TimelineOverviewListWidget.h"
#include "panels/TimelineOverviewPanel.h"
#include "panels/TimelinePanel.h"
#include "panels/TimelinePropertiesPanel.h"
#include "panels/TimelineViewWidget.h"
#include "panels/UiHelpers.h"

#include <QAction>
#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QUndoStack>
#include <QVBoxLayout>
#include <QElapsedTimer>
#include <QtTest>

#include <algorithm>

#include <functional>
#include <memory>

namespace
{
QString Media(char const* name)
{
    return TestMedia::Path(QString::fromLatin1(name));
}

using TestFiles::ReadAll;

// Sends a drag enter, a move and, when asked, a drop at pos to a widget;
// returns whether the drop (or, without one, the move) was accepted.
bool Drag(QWidget* target, QMimeData* data, QPoint const& pos, bool drop = true)
{
    QDragEnterEvent enter(pos, Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
    {
        return false;
    }
    QDragMoveEvent move(pos, Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    if (!drop)
    {
        return move.isAccepted();
    }
    QDropEvent dropEvent(pos, Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropEvent);
    return dropEvent.isAccepted();
}

QMimeData* UrlData(QStringList const& paths)
{
    auto* data = new QMimeData();
    QList<QUrl> urls;
    for (QString const& path : paths)
    {
        urls.append(QUrl::fromLocalFile(path));
    }
    data->setUrls(urls);
    return data;
}

// Clicks the button of the next message box whose text is given, with the
// mouse, as soon as the box shows; the text the box said is kept.
void AnswerNextMessageBox(QString const& button, QString* said)
{
    auto* poll = new QTimer();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, button, said] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
        {
            return;
        }
        poll->stop();
        poll->deleteLater();
        *said = box->text();
        for (QAbstractButton* candidate : box->buttons())
        {
            if (candidate->text().remove(QLatin1Char('&')) == button)
            {
                QTest::mouseClick(candidate, Qt::LeftButton);
            }
        }
    });
    poll->start(10);
}

QMimeData* IdData(QString const& format, QList<QUuid> const& ids)
{
    auto* data = new QMimeData();
    data->setData(format, UiHelpers::WriteIdList(ids));
    return data;
}
} // namespace

class TestProjectPanel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void TreeEditsAreSingleUndoSteps();
    void ImportsAndDropsOnTheTree();
    void TreeRefusesForeignAndStaleDrops();
    void ClipListEditsAndDrops();
    void AudioOverrideDrops();
    void DuplicateKeepsItsOptions();
    void ProjectSettingsDialogClampsAndNeverWritesThePath();
    void DialogsNameTheirControlsAndTheApplication();
    void SaveSourceAsNeverLosesAFile();
    void ContextMenuActsOnTheRow();
    void SaveOverAChangedFileAsksFirst();
    void ClosingAProjectAsksByTheSetting();
    void SavedProjectsGetTheirExtension();

private:
    ProjectPanel* Panel() const { return mSideBar->ProjectPanelPtr(); }
    ProjectTreeWidget* Tree() const { return Panel()->TreeWidget(); }
    QUndoStack* Stack() const { return mManager->UndoStackPtr(); }
    QByteArray Saved();
    // Runs an edit and checks that it is one undo step, that undo gives the
    // saved project of before and redo the one of after, byte for byte.
    void CheckOneStep(char const* what, std::function<void()> const& edit);
    QList<QUuid> AddSources(QStringList const& names, QUuid const& folder = QUuid());
    // The row of an id once the rows are rebuilt from the project.
    ProjectTreeWidgetItem* Row(QUuid const& id) const
    {
        Panel()->FlushPendingRefresh();
        return Tree()->FindItemById(id);
    }
    void Select(QList<QUuid> const& ids);
    QUuid NewEditTimelineWithClips(QList<QUuid> const& sources);
    QPoint RowCentre(QUuid const& id) const;

    std::unique_ptr<QTemporaryDir> mDir;
    std::unique_ptr<ProjectManager> mManager;
    std::unique_ptr<QWidget> mWindow;
    SideBarWidget* mSideBar = nullptr;
    QString mProjectPath;
};

void TestProjectPanel::initTestCase()
{
    QVERIFY(QFileInfo::exists(Media("h264_cfr25.mp4")));
    Settings::autoPlayEnabled = false;
    Settings::resizeToFit = false;
    Settings::activateWindowOnFileDrop = false;
}

void TestProjectPanel::init()
{
    mDir = std::make_unique<QTemporaryDir>();
    QVERIFY(mDir->isValid());
    mManager = std::make_unique<ProjectManager>();
    mManager->NewProject(false);
    mWindow = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(mWindow.get());
    mSideBar = new SideBarWidget(mManager.get(), nullptr, mWindow.get());
    layout->addWidget(mSideBar);
    mWindow->resize(360, 800);
    mWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));
    mProjectPath = mDir->filePath(QStringLiteral("project.zeph"));
    mManager->SetProjectPath(mProjectPath);
    Panel()->RefreshProject();
}

void TestProjectPanel::cleanup()
{
    mWindow.reset();
    mManager->Shutdown();
    mManager.reset();
    Settings::projectPath.clear();
    mDir.reset();
}

QByteArray TestProjectPanel::Saved()
{
    if (!mManager->SaveProject())
    {
        return QByteArray("<save failed>");
    }
    return ReadAll(mProjectPath);
}

void TestProjectPanel::CheckOneStep(char const* what, std::function<void()> const& edit)
{
    QByteArray const before = Saved();
    int const index = Stack()->index();
    edit();
    QVERIFY2(Stack()->index() == index + 1, what);
    QVERIFY2(Stack()->count() == index + 1, what);
    QByteArray const after = Saved();
    QVERIFY2(after != before, what);
    Stack()->undo();
    QVERIFY2(Saved() == before, what);
    Stack()->redo();
    QVERIFY2(Saved() == after, what);
}

QList<QUuid> TestProjectPanel::AddSources(QStringList const& names, QUuid const& folder)
{
    QList<ParseSourceData> records;
    for (QString const& name : names)
    {
        ParseSourceData data;
        data.path = Media(name.toLatin1().constData());
        data.parentId = folder.isNull() ? mManager->SourceTimelineFolderId() : folder;
        data.addToDefaultTimeline = false;
        records.append(data);
    }
    mManager->DoAddSourceTimelinesCmd(records);
    QList<QUuid> ids;
    FolderItem* parent = mManager->FindFolderById(folder.isNull() ? mManager->SourceTimelineFolderId() : folder);
    for (ProjectItem* item : parent->ChildItems())
    {
        if (item->ItemType() == ProjectItemType::SourceTimeline)
        {
            ids.append(item->Id());
        }
    }
    return ids.mid(ids.size() - names.size());
}

void TestProjectPanel::Select(QList<QUuid> const& ids)
{
    Tree()->clearSelection();
    for (QUuid const& id : ids)
    {
        ProjectTreeWidgetItem* row = Row(id);
        QVERIFY(row);
        row->setSelected(true);
    }
}

QUuid TestProjectPanel::NewEditTimelineWithClips(QList<QUuid> const& sources)
{
    QUuid const id = mManager->DoAddTimelineCmd(QStringLiteral("Edit"), mManager->TimelineFolderId());
    Timeline* timeline = mManager->FindTimelineById(id)->TimelinePtr();
    mManager->DoInsertClipsCmd(timeline, sources, -1);
    return id;
}

QPoint TestProjectPanel::RowCentre(QUuid const& id) const
{
    ProjectTreeWidgetItem* row = Row(id);
    return row ? Tree()->visualItemRect(row).center() : QPoint();
}

void TestProjectPanel::TreeEditsAreSingleUndoSteps()
{
    QList<QUuid> const sources = AddSources({"h264_cfr25.mp4", "tone.wav"});
    QCOMPARE(sources.size(), 2);
    Panel()->RefreshProject();
    QUuid const project = mManager->ProjectFolderId();

    // New Folder on a selected folder makes an empty subfolder.
    Select({project});
    CheckOneStep("new folder", [this] { Panel()->NewFolder(); });
    FolderItem* root = mManager->FindFolderById(project);
    QList<FolderItem*> folders;
    root->ChildFolders(folders);
    QVERIFY(!folders.isEmpty());
    QUuid const userFolder = folders.last()->Id();
    QCOMPARE(folders.last()->ChildCount(), 0);

    // Move to New Folder on one timeline makes the folder in the timeline's
    // folder and moves the timeline into it.
    mManager->SetFolderExpanded(mManager->SourceTimelineFolderId(), true);
    Select({sources.first()});
    CheckOneStep("move to new folder", [this] { Panel()->NewFolder(); });
    TimelineItem* moved = mManager->FindTimelineById(sources.first());
    FolderItem* holder = mManager->FindFolderById(moved->ParentId());
    QVERIFY(holder && !holder->IsRootFolder());

    mManager->SetFolderExpanded(userFolder, true); // a new row is shown, so its folder opens
    Select({userFolder});
    CheckOneStep("new timeline", [this] { Panel()->NewTimeline(); });

    // A blank name keeps a folder's name and changes nothing; a source's blank
    // name gives it back its media name, a real rename is one step.
    Panel()->RefreshProject();
    ProjectTreeWidgetItem* folderRow = Row(userFolder);
    QString const folderName = folderRow->Name();
    int const index = Stack()->index();
    folderRow->setText(0, QStringLiteral("   "));
    QCOMPARE(Stack()->index(), index);
    QCOMPARE(Row(userFolder)->Text(), folderName);
    CheckOneStep("rename", [this, userFolder] { Row(userFolder)->setText(0, QStringLiteral("  Shots  ")); });
    QCOMPARE(mManager->FindFolderById(userFolder)->Name(), QStringLiteral("Shots"));
    CheckOneStep("rename source", [this, &sources] { Row(sources.last())->setText(0, QStringLiteral("Tone A")); });
    CheckOneStep("blank source name", [this, &sources] { Row(sources.last())->setText(0, QStringLiteral("  ")); });
    QCOMPARE(mManager->FindTimelineById(sources.last())->Name(), QStringLiteral("tone.wav"));

    // A tree move, as the tree asks for it after its own drag.
    CheckOneStep("tree move", [this, &sources, userFolder] {
        Q_EMIT Tree()->MoveProjectItemsRequested({sources.last()}, userFolder, 0);
    });
    QCOMPARE(mManager->FindTimelineById(sources.last())->ParentId(), userFolder);

    CheckOneStep("duplicate", [this, &sources] { Panel()->DuplicateSource(sources.first()); });

    // A mixed selection with a root folder deletes what it may, in one step.
    Panel()->RefreshProject();
    Select({userFolder, sources.first(), mManager->TimelineFolderId()});
    CheckOneStep("delete mixed", [this] { Panel()->DeleteItems(); });
    QVERIFY(!mManager->FindFolderById(userFolder));
    QVERIFY(!mManager->FindTimelineById(sources.first()));
    QVERIFY(mManager->FindFolderById(mManager->TimelineFolderId()));
}

void TestProjectPanel::ImportsAndDropsOnTheTree()
{
    // A directory tree: one folder per level, files into their level's folder.
    QDir base(mDir->path());
    QVERIFY(base.mkpath(QStringLiteral("shots/a/deep")));
    QVERIFY(base.mkpath(QStringLiteral("shots/b")));
    QVERIFY(QFile::copy(Media("h264_cfr25.mp4"), base.filePath("shots/clip.mp4")));
    QVERIFY(QFile::copy(Media("numbered_gop250.mp4"), base.filePath("shots/a/deep/deep.mp4")));
    QVERIFY(QFile::copy(Media("h264_cfr25.mp4"), base.filePath("shots/b/other.mp4")));
    QFile text(base.filePath("shots/b/notes.txt"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not media");
    text.close();

    Panel()->RefreshProject();
    QString const shots = base.filePath("shots");
    // Directories dropped on empty space go under the project root, in one step.
    QPoint const empty(20, Tree()->viewport()->height() - 5);
    QVERIFY(!Tree()->itemAt(empty));
    std::unique_ptr<QMimeData> dirs(UrlData({shots}));
    CheckOneStep("folder import", [&] { QVERIFY(Drag(Tree()->viewport(), dirs.get(), empty)); });
    FolderItem* root = mManager->FindFolderById(mManager->ProjectFolderId());
    QList<FolderItem*> top;
    root->ChildFolders(top);
    QCOMPARE(top.size(), 1);
    FolderItem* shotsFolder = top.first();
    QCOMPARE(shotsFolder->Name(), QStringLiteral("shots"));
    QList<FolderItem*> levels;
    shotsFolder->ChildFolders(levels);
    QCOMPARE(levels.size(), 2);
    QList<TimelineItem*> timelines;
    shotsFolder->ChildTimelines(timelines);
    QCOMPARE(timelines.size(), 1);
    QList<TimelineItem*> all;
    shotsFolder->DescendentTimelines(all);
    QStringList allNames;
    for (TimelineItem* item : all)
    {
        allNames.append(item->Name());
    }
    allNames.sort();
    QCOMPARE(allNames, QStringList({"clip.mp4", "deep.mp4", "other.mp4"}));
    for (FolderItem* level : levels)
    {
        QList<FolderItem*> sub;
        level->ChildFolders(sub);
        QCOMPARE(sub.size(), level->Name() == QLatin1String("a") ? 1 : 0);
    }

    // Undoing and redoing the whole import rebuilds the rows once each, not
    // once per source and folder. A step that parses its sources again also
    // rebuilds them once per refresh interval of the panel (250 ms) while the
    // parse lasts, which a slow machine makes longer.
    QSignalSpy rebuilds(Panel(), &ProjectPanel::ProjectNameChanged);
    auto const checkOneRebuild = [&rebuilds](auto&& step, char const* name) {
        rebuilds.clear();
        QElapsedTimer clock;
        clock.start();
        step();
        QCoreApplication::processEvents();
        int const allowed = 1 + static_cast<int>(clock.elapsed() / 250);
        QVERIFY2(rebuilds.count() >= 1 && rebuilds.count() <= allowed,
                 qPrintable(QStringLiteral("%1: %2 rebuilds in %3 ms")
                                .arg(QLatin1String(name))
                                .arg(rebuilds.count())
                                .arg(clock.elapsed())));
    };
    checkOneRebuild([this] { Stack()->undo(); }, "undo");
    checkOneRebuild([this] { Stack()->redo(); }, "redo");

    // Files dropped on a row go in at that row and open in no viewer.
    Panel()->RefreshProject();
    QUuid const sourcesRoot = mManager->SourceTimelineFolderId();
    QList<QUuid> const existing = AddSources({"h264_cfr25.mp4", "tone.wav"});
    Panel()->RefreshProject();
    QRect const second = Tree()->visualItemRect(Row(existing.last()));
    std::unique_ptr<QMimeData> files(UrlData({Media("numbered_gop250.mp4")}));
    CheckOneStep("file drop", [&] { QVERIFY(Drag(Tree()->viewport(), files.get(), second.topLeft() + QPoint(30, 4))); });
    FolderItem* sourcesFolder = mManager->FindFolderById(sourcesRoot);
    QList<ProjectItem*> const children = sourcesFolder->ChildItems();
    int const at = children.indexOf(mManager->FindTimelineById(existing.last()));
    QVERIFY(at > 0);
    auto* dropped = static_cast<TimelineItem*>(children.at(at - 1));
    QCOMPARE(dropped->Name(), QStringLiteral("numbered_gop250.mp4"));
    QCOMPARE(dropped->ViewportIndex(), -1);
    QVERIFY(mManager->PrimaryTimelineItem() != dropped);

    // Files and a directory together are refused on entry; files on the
    // timelines root are refused.
    std::unique_ptr<QMimeData> mixed(UrlData({Media("tone.wav"), shots}));
    int const index = Stack()->index();
    QVERIFY(!Drag(Tree()->viewport(), mixed.get(), empty));
    QVERIFY(!Drag(Tree()->viewport(), files.get(), RowCentre(mManager->TimelineFolderId())));
    // A directory on the sources root is refused.
    QVERIFY(!Drag(Tree()->viewport(), dirs.get(), RowCentre(sourcesRoot)));
    QCOMPARE(Stack()->index(), index);

    // Importing from the panel with a source in the viewer opens the first file
    // in viewer A; with an edit timeline there it opens nothing.
    Panel()->ImportFilesByPath({Media("h264_cfr25.mp4")}, QUuid(), -1, -1, 0, false, QUuid(), -1, -1);
    TimelineItem* primary = mManager->PrimaryTimelineItem();
    QVERIFY(primary);
    QVERIFY(primary->IsSourceTimeline());
    QCOMPARE(primary->ViewportIndex(), 0);
    QCOMPARE(primary->Name(), QStringLiteral("h264_cfr25.mp4"));
    QUuid const edit = mManager->DoAddTimelineCmd(QStringLiteral("Edit"), mManager->TimelineFolderId());
    mManager->DoOpenTimelinesInViewerCmd({edit}, 0, false);
    QCOMPARE(mManager->PrimaryTimelineItem()->Id(), edit);
    Panel()->ImportFilesByPath({Media("numbered_gop250.mp4")}, QUuid(), -1, -1, 0, false, QUuid(), -1, -1);
    QCOMPARE(mManager->PrimaryTimelineItem()->Id(), edit);

    // A dropped folder keeps its whole name: a dot in it is no extension.
    for (QString const name : {QStringLiteral("Shot_010.v2"), QStringLiteral(".review")})
    {
        QVERIFY(base.mkpath(name));
        QVERIFY(QFile::copy(Media("h264_cfr25.mp4"), base.filePath(name + "/plate.mp4")));
        Panel()->RefreshProject();
        Panel()->FlushPendingRefresh();
        QPoint const below(20, Tree()->viewport()->height() - 5);
        QVERIFY(!Tree()->itemAt(below));
        std::unique_ptr<QMimeData> folder(UrlData({base.filePath(name)}));
        QVERIFY(Drag(Tree()->viewport(), folder.get(), below));
        QList<FolderItem*> folders;
        mManager->FindFolderById(mManager->ProjectFolderId())->ChildFolders(folders);
        QStringList names;
        for (FolderItem* item : folders)
        {
            names.append(item->Name());
        }
        QVERIFY2(names.contains(name), qPrintable(names.join(", ")));
    }
}

void TestProjectPanel::TreeRefusesForeignAndStaleDrops()
{
    QList<QUuid> const sources = AddSources({"h264_cfr25.mp4", "tone.wav"});
    QUuid const folder = mManager->DoAddFolderCmd(QStringLiteral("F"), mManager->ProjectFolderId(), {});
    Panel()->RefreshProject();
    QSignalSpy moves(Tree(), &ProjectTreeWidget::MoveProjectItemsRequested);
    QSignalSpy imports(Tree(), &ProjectTreeWidget::ImportFilesByUrlRequested);
    QPoint const onFolder = RowCentre(folder);
    QPoint const onTimelines = RowCentre(mManager->TimelineFolderId());

    // The decision for the tree's own drag: a source into a user folder is
    // fine, into the timelines root it is not; a folder never goes into a root
    // of timelines or sources.
    std::unique_ptr<QMimeData> own(IdData(UiHelpers::PROJECT_VIEW_INTERNAL_MIME_TYPE, {sources.first()}));
    Select({sources.first()});
    ProjectTreeWidget::DropDecision decision = Tree()->DecideDrop(own.get(), onFolder, Tree());
    QCOMPARE(decision.targetId, folder);
    QCOMPARE(decision.index, -1);
    QVERIFY(!Tree()->DecideDrop(own.get(), onTimelines, Tree()).IsValid());

    // The same payload from elsewhere (another widget or instance), garbage,
    // a truncated list, a huge count and unknown ids are all refused.
    QVERIFY(!Tree()->DecideDrop(own.get(), onFolder, nullptr).IsValid());
    QVERIFY(!Tree()->DecideDrop(own.get(), onFolder, mSideBar).IsValid());
    QByteArray const good = UiHelpers::WriteIdList({sources.first()});
    for (QByteArray const& bad :
         {QByteArray("garbage bytes"), good.left(good.size() - 3), QByteArray::fromHex("ffffffff0000"),
          QByteArray::fromHex("fffffffeffffffffffffffff"), UiHelpers::WriteIdList({QUuid::createUuid()})})
    {
        QMimeData data;
        data.setData(UiHelpers::PROJECT_VIEW_INTERNAL_MIME_TYPE, bad);
        QVERIFY(!Tree()->DecideDrop(&data, onFolder, Tree()).IsValid());
        QVERIFY(!Drag(Tree()->viewport(), &data, onFolder));
    }
    // A synthetic drop has no drag source of this tree: refused.
    QVERIFY(!Drag(Tree()->viewport(), own.get(), onFolder));
    QCOMPARE(moves.count(), 0);

    // A refill during the hover is harmless; a target gone by the drop refuses it.
    std::unique_ptr<QMimeData> files(UrlData({Media("numbered_gop250.mp4")}));
    QVERIFY(Drag(Tree()->viewport(), files.get(), onFolder, false));
    Panel()->RefreshProject();
    mManager->DoDeleteFolderCmd(folder);
    QDropEvent drop(onFolder, Qt::MoveAction, files.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Tree()->viewport(), &drop);
    QVERIFY(!drop.isAccepted());
    QCOMPARE(imports.count(), 0);
}

void TestProjectPanel::ClipListEditsAndDrops()
{
    QList<QUuid> const sources = AddSources({"h264_cfr25.mp4", "tone.wav", "numbered_gop250.mp4"});
    QUuid const editId = NewEditTimelineWithClips(sources);
    Timeline* timeline = mManager->FindTimelineById(editId)->TimelinePtr();
    TimelineOverviewListWidget* list = mSideBar->TimelineViewPtr()->TimelineOverviewPanelPtr()->ListWidget();
    mManager->DoOpenTimelinesInViewerCmd({editId}, 0, false);
    QTRY_COMPARE(list->TimelinePtr(), timeline);
    QCOMPARE(list->count(), 3);
    auto const names = [list] {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
        {
            texts.append(list->item(i)->text());
        }
        return texts;
    };

    // Rows 2 and 3 move up as a block and stay selected.
    list->item(1)->setSelected(true);
    list->item(2)->setSelected(true);
    CheckOneStep("clip move", [list] { list->MoveSelectedUp(); });
    QCOMPARE(names(), QStringList({"tone.wav", "numbered_gop250.mp4", "h264_cfr25.mp4"}));
    list->item(1)->setSelected(true);
    list->MoveSelectedDown();
    QCOMPARE(names(), QStringList({"tone.wav", "h264_cfr25.mp4", "numbered_gop250.mp4"}));
    QCOMPARE(list->SelectedItemClipIds(), QList<QUuid>({list->item(2)->data(Qt::UserRole).toUuid()}));
    list->item(0)->setSelected(true);
    int index = Stack()->index();
    list->MoveSelectedUp(); // the first row is selected: nothing
    QCOMPARE(Stack()->index(), index);

    CheckOneStep("sort", [list] { list->SortClips(true); });
    QCOMPARE(names(), QStringList({"h264_cfr25.mp4", "numbered_gop250.mp4", "tone.wav"}));

    // Sorting the sorted list and dropping a clip where it stands change
    // nothing: no step, and the saved project stays saved.
    mManager->SetUndoClean();
    TimelineViewWidget* view = mSideBar->TimelineViewPtr();
    view->TimelinePanelPtr()->TabWidget()->setCurrentIndex(0);
    mWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
    list->clearSelection();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(list->item(1)).center());
    QTRY_VERIFY(list->hasFocus());
    FlatButton* sortAscending = view->TitleBarButtons().at(2);
    QCOMPARE(sortAscending->toolTip(), QStringLiteral("Sort Ascending"));
    QTRY_VERIFY(sortAscending->isVisible());
    index = Stack()->index();
    QTest::mouseMove(sortAscending, sortAscending->rect().center());
    QTest::mouseClick(sortAscending, Qt::LeftButton, Qt::NoModifier, sortAscending->rect().center());
    QCOMPARE(names(), QStringList({"h264_cfr25.mp4", "numbered_gop250.mp4", "tone.wav"}));
    QCOMPARE(Stack()->index(), index);
    QVERIFY(mManager->IsUndoClean());
    list->clearSelection();
    list->item(1)->setSelected(true);
    auto reorder = std::make_unique<QMimeData>();
    reorder->setData(UiHelpers::TIMELINE_VIEW_INTERNAL_MIME_TYPE, QByteArray());
    QVERIFY(Drag(list->viewport(), reorder.get(), list->visualItemRect(list->item(1)).topLeft() + QPoint(5, 2)));
    QCOMPARE(names(), QStringList({"h264_cfr25.mp4", "numbered_gop250.mp4", "tone.wav"}));
    QCOMPARE(Stack()->index(), index);
    QVERIFY(mManager->IsUndoClean());

    list->clearSelection();
    list->item(1)->setSelected(true);
    CheckOneStep("clip delete", [list] { list->DeleteSelected(); });
    QCOMPARE(list->count(), 2);

    // Source timelines dropped on a row go in at that row; an edit timeline
    // among them refuses the drop.
    QRect const second = list->visualItemRect(list->item(1));
    std::unique_ptr<QMimeData> timelines(
        IdData(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE, {sources.at(1), sources.at(2)}));
    CheckOneStep("insert", [&] { QVERIFY(Drag(list->viewport(), timelines.get(), second.topLeft() + QPoint(5, 2))); });
    QCOMPARE(names(), QStringList({"h264_cfr25.mp4", "tone.wav", "numbered_gop250.mp4", "tone.wav"}));
    std::unique_ptr<QMimeData> withEdit(IdData(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE, {sources.at(0), editId}));
    index = Stack()->index();
    QVERIFY(!Drag(list->viewport(), withEdit.get(), second.center()));
    QCOMPARE(Stack()->index(), index);
    QCOMPARE(list->count(), 4);

    // Files dropped on a row are imported and go in at that row.
    std::unique_ptr<QMimeData> files(UrlData({Media("numbered_gop250.mp4")}));
    QRect const first = list->visualItemRect(list->item(0));
    QVERIFY(Drag(list->viewport(), files.get(), first.topLeft() + QPoint(5, 2)));
    QCOMPARE(list->count(), 5);
    QCOMPARE(list->item(0)->text(), QStringLiteral("numbered_gop250.mp4"));
}

void TestProjectPanel::AudioOverrideDrops()
{
    QList<QUuid> const sources = AddSources({"tone.wav"});
    QUuid const editId = NewEditTimelineWithClips({});
    QUuid const otherId = mManager->DoAddTimelineCmd(QStringLiteral("Other"), mManager->TimelineFolderId());
    mManager->DoOpenTimelinesInViewerCmd({editId}, 0, false);
    TimelinePropertiesPanel* properties = mSideBar->TimelineViewPtr()->TimelinePropertiesPanelPtr();
    QTRY_VERIFY(properties->TimelinePtr() == mManager->FindTimelineById(editId)->TimelinePtr());
    AudioOverrideLineEdit* edit = properties->AudioOverrideEdit();
    QCOMPARE(edit->ParentTimelineId(), editId);

    int const index = Stack()->index();
    std::unique_ptr<QMimeData> itself(IdData(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE, {editId}));
    std::unique_ptr<QMimeData> two(IdData(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE, {sources.first(), otherId}));
    QVERIFY(!Drag(edit, itself.get(), edit->rect().center()));
    QVERIFY(!Drag(edit, two.get(), edit->rect().center()));
    QCOMPARE(Stack()->index(), index);
    std::unique_ptr<QMimeData> one(IdData(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE, {sources.first()}));
    CheckOneStep("audio override", [&] { QVERIFY(Drag(edit, one.get(), edit->rect().center())); });
    QCOMPARE(edit->text(), QStringLiteral("tone.wav"));
}

void TestProjectPanel::DuplicateKeepsItsOptions()
{
    QList<QUuid> const sources = AddSources({"h264_cfr25.mp4"});
    Timeline* original = mManager->FindTimelineById(sources.first())->TimelinePtr();
    mManager->DoInsertFrameBookmarkCmd(original, 5);
    QCOMPARE(original->FrameBookmarkList().size(), 1);
    StrokeData stroke;
    stroke.points = {QPointF(1, 2), QPointF(3, 4)};
    original->FrameBookmarkList().first()->strokes.append(stroke);

    DuplicateSourceOptionsDialog dialog(sources.first(), Panel());
    connect(&dialog, &DuplicateSourceOptionsDialog::DuplicateSourceRequested, Panel(), &ProjectPanel::DuplicateSource);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.AnnotationsCheckBox(), Qt::LeftButton);
    QTest::mouseClick(dialog.FrameBookmarksCheckBox(), Qt::LeftButton);
    int const index = Stack()->index();
    QTest::mouseClick(dialog.DuplicateButton(), Qt::LeftButton);
    QTest::mouseClick(dialog.DuplicateButton(), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QCOMPARE(Stack()->index(), index + 2);
    QList<TimelineItem*> timelines;
    mManager->FindFolderById(mManager->SourceTimelineFolderId())->ChildTimelines(timelines);
    QCOMPARE(timelines.size(), 3);
    for (TimelineItem* item : timelines)
    {
        int const expected = item->Id() == sources.first() ? 1 : 0;
        QCOMPARE(item->TimelinePtr()->FrameBookmarkList().size(), expected);
    }
    QCOMPARE(original->FrameBookmarkList().first()->strokes.size(), 1);
    QTest::mouseClick(dialog.CloseButton(), Qt::LeftButton);
    QVERIFY(!Settings::dupSrcAnnotations);

    // Redo after the options changed rebuilds the same duplicate.
    Stack()->undo();
    Settings::dupSrcAnnotations = true;
    Settings::dupSrcFrameBookmarks = true;
    Stack()->redo();
    timelines.clear();
    mManager->FindFolderById(mManager->SourceTimelineFolderId())->ChildTimelines(timelines);
    QCOMPARE(timelines.size(), 3);
    for (TimelineItem* item : timelines)
    {
        QCOMPARE(item->TimelinePtr()->FrameBookmarkList().size(), item->Id() == sources.first() ? 1 : 0);
    }

    // The options never reach the settings file.
    QVERIFY(FileHelpers::SaveUserSettings());
    QByteArray const file = ReadAll(FileHelpers::GetUserConfigFilePath());
    QVERIFY(!file.isEmpty());
    QVERIFY(!file.contains("dupSrc"));
}

void TestProjectPanel::ProjectSettingsDialogClampsAndNeverWritesThePath()
{
    QVERIFY(Panel()->SaveProjectAsByPath(mProjectPath));
    QByteArray const oldBytes = ReadAll(mProjectPath);
    ProjectSettingsDialog dialog(mManager.get(), nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.ProjectPathEdit()->text(), mProjectPath);

    // Out-of-range values reach the project clamped; Cancel changes nothing.
    dialog.FrameRateSpinBox()->setValue(500.0);
    dialog.FrameNumberOffsetSpinBox()->setValue(5000000);
    dialog.reject();
    QCOMPARE(mManager->ImageSequenceFrameRate(), Settings::defaultImageSequenceFrameRate);
    dialog.show();
    dialog.FrameRateSpinBox()->setValue(0.1);
    dialog.FrameNumberOffsetSpinBox()->setValue(-20);
    dialog.accept();
    QCOMPARE(mManager->ImageSequenceFrameRate(), 1.0);
    QCOMPARE(mManager->TimeControlFrameOffset(), 0);
    dialog.show();
    dialog.FrameRateSpinBox()->setValue(500.0);
    dialog.FrameNumberOffsetSpinBox()->setValue(5000000);
    dialog.accept();
    QCOMPARE(mManager->ImageSequenceFrameRate(), 120.0);
    QCOMPARE(mManager->TimeControlFrameOffset(), 999999);

    // Save As while the dialog is open, then OK and Save: the old file keeps
    // its bytes and the new one takes the change.
    QVERIFY(Panel()->SaveProjectAsByPath(mProjectPath));
    QByteArray const savedBytes = ReadAll(mProjectPath);
    dialog.show();
    QString const newPath = mDir->filePath(QStringLiteral("renamed.zeph"));
    QVERIFY(Panel()->SaveProjectAsByPath(newPath));
    QCOMPARE(dialog.ProjectPathEdit()->text(), newPath);
    dialog.NotesEdit()->setPlainText(QStringLiteral("after save as"));
    dialog.accept();
    Panel()->SaveProject();
    QCOMPARE(FileHelpers::ProjectPath(), newPath);
    QCOMPARE(ReadAll(mProjectPath), savedBytes);
    QVERIFY(ReadAll(newPath).contains("after save as"));
    QVERIFY(oldBytes != savedBytes);

    // What the user types survives an import and its parse; the fields left
    // alone still follow the project, and another project loads its own.
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.NotesEdit()->viewport(), Qt::LeftButton);
    QTest::keyClick(dialog.NotesEdit(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(dialog.NotesEdit(), QStringLiteral("typed while a file arrives"));
    QTest::mouseClick(dialog.FrameNumberOffsetSpinBox(), Qt::LeftButton);
    QTest::keyClick(dialog.FrameNumberOffsetSpinBox(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(dialog.FrameNumberOffsetSpinBox(), QStringLiteral("12"));
    QSignalSpy updates(mManager.get(), &ProjectManager::ProjectUpdated);
    QString const moved = mDir->filePath(QStringLiteral("moved.zeph"));
    QVERIFY(Panel()->SaveProjectAsByPath(moved));
    Panel()->ImportFilesByPath({Media("h264_cfr25.mp4")}, QUuid(), -1, -2, 0, false, QUuid(), -1, -1);
    QTRY_VERIFY(!updates.isEmpty());
    QTRY_VERIFY(!mManager->SourceParsingInProgress());
    QCOMPARE(dialog.NotesEdit()->toPlainText(), QStringLiteral("typed while a file arrives"));
    QCOMPARE(dialog.FrameNumberOffsetSpinBox()->value(), 12);
    QCOMPARE(dialog.ProjectPathEdit()->text(), moved);
    mManager->NewProject(true);
    QCOMPARE(dialog.NotesEdit()->toPlainText(), QString());
    QCOMPARE(dialog.ProjectPathEdit()->text(), FileHelpers::ProjectPath());
}

void TestProjectPanel::DialogsNameTheirControlsAndTheApplication()
{
    ProjectSettingsDialog settings(mManager.get(), nullptr);
    QCOMPARE(settings.findChild<QLineEdit*>(QStringLiteral("projectPathLineEdit")), settings.ProjectPathEdit());
    QCOMPARE(settings.findChild<QLineEdit*>(QStringLiteral("sourceRootDirLineEdit")), settings.SourceRootDirEdit());
    QCOMPARE(settings.findChild<QDoubleSpinBox*>(QStringLiteral("frameRateDoubleSpinBox")),
             settings.FrameRateSpinBox());
    QCOMPARE(settings.findChild<QSpinBox*>(QStringLiteral("frameNumberOffsetSB")),
             settings.FrameNumberOffsetSpinBox());
    QCOMPARE(settings.findChild<QPlainTextEdit*>(QStringLiteral("notesTextEdit")), settings.NotesEdit());
    QCOMPARE(settings.findChild<QPushButton*>(QStringLiteral("sourceRootDirBtn"))->text(), QStringLiteral("Browse..."));
    for (char const* name : {"frameRateDefaultBtn", "frameNumberOffsetDefaultBtn"})
    {
        QPushButton const* button = settings.findChild<QPushButton*>(QString::fromLatin1(name));
        QVERIFY2(button && button->text() == QStringLiteral("Default"), name);
    }

    // The about dialog takes the application's title, version and font.
    QString const title = Settings::applicationTitle;
    QVERIFY(!title.isEmpty());
    AboutDialog about(nullptr);
    QCOMPARE(about.windowTitle(), QStringLiteral("About ") + title);
    QStringList labels;
    for (QLabel const* label : about.findChildren<QLabel*>())
    {
        labels.append(label->text());
    }
    QVERIFY(labels.contains(Settings::applicationVersion));
    QString const family = Settings::generalFont.family();
    QVERIFY2(std::any_of(labels.cbegin(), labels.cend(),
                         [&](QString const& text) {
                             return text.contains(title) &&
                                    text.contains(QStringLiteral("font-size:20pt;")) &&
                                    !text.contains(QStringLiteral("&lt;Application Name&gt;")) &&
                                    (family == QStringLiteral("Segoe UI") || !text.contains(QStringLiteral("Segoe UI")));
                         }),
             qPrintable(labels.join(QLatin1Char('|'))));
    QTextBrowser const* text = about.findChild<QTextBrowser*>();
    QVERIFY(text && text->isReadOnly());
    QString const plain = text->toPlainText();
    QVERIFY2(plain.contains(title) && plain.contains(Settings::QT_RUNTIME_VERSION) &&
                 plain.contains(QString::number(QDate::currentDate().year())) && !plain.contains(QLatin1Char('<')),
             qPrintable(plain));
    QVERIFY(text->toHtml().contains(QStringLiteral("12pt")));
}

void TestProjectPanel::SaveSourceAsNeverLosesAFile()
{
    QString const copy = mDir->filePath(QStringLiteral("source.mp4"));
    QVERIFY(QFile::copy(Media("h264_cfr25.mp4"), copy));
    QList<ParseSourceData> records(1);
    records[0].path = copy;
    records[0].parentId = mManager->SourceTimelineFolderId();
    records[0].addToDefaultTimeline = false;
    mManager->DoAddSourceTimelinesCmd(records);
    QList<TimelineItem*> timelines;
    mManager->FindFolderById(mManager->SourceTimelineFolderId())->ChildTimelines(timelines);
    QCOMPARE(timelines.size(), 1);
    QUuid const id = timelines.first()->Id();
    QByteArray const original = ReadAll(copy);
    QVERIFY(!original.isEmpty());

    // Onto itself, also through another spelling of the path: nothing happens.
    QVERIFY(!Panel()->SaveSourceAsByPath(id, copy));
    QVERIFY(!Panel()->SaveSourceAsByPath(id, mDir->path() + QStringLiteral("/./source.mp4")));
    QCOMPARE(ReadAll(copy), original);

    // A good copy replaces an existing target.
    QString const target = mDir->filePath(QStringLiteral("target.mp4"));
    QFile existing(target);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("old target");
    existing.close();
    QVERIFY(Panel()->SaveSourceAsByPath(id, target));
    QCOMPARE(ReadAll(target), original);

    // A copy that fails leaves the target as it was and no stray file.
    QFile::remove(target);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("old target");
    existing.close();
    QVERIFY(QFile::remove(copy));
    QVERIFY(!Panel()->SaveSourceAsByPath(id, target));
    QCOMPARE(ReadAll(target), QByteArray("old target"));
    QCOMPARE(QDir(mDir->path()).entryList(QDir::Files | QDir::Hidden).filter(".part").size(), 0);
}

void TestProjectPanel::ContextMenuActsOnTheRow()
{
    QList<QUuid> const sources = AddSources({"h264_cfr25.mp4", "tone.wav"});
    Panel()->RefreshProject();
    mManager->DoOpenTimelinesInViewerCmd({sources.first()}, 0, false);
    Panel()->RefreshProject();
    Select({sources.last()});
    QList<QAction*> const actions = Panel()->ContextMenuActions();
    QStringList texts;
    QAction* saveAs = nullptr;
    for (QAction* action : actions)
    {
        texts.append(action->text());
        if (action->text() == QLatin1String("Save Source As..."))
        {
            saveAs = action;
        }
    }
    QVERIFY(!texts.contains(QStringLiteral("Remove From Viewer")));
    QVERIFY(texts.contains(QStringLiteral("Open in Viewer A")));
    QVERIFY(saveAs);
    // The row's own source, not the one in the viewer.
    QCOMPARE(saveAs->data().toUuid(), sources.last());

    Select({sources.first()});
    texts.clear();
    for (QAction* action : Panel()->ContextMenuActions())
    {
        texts.append(action->text());
    }
    QVERIFY(texts.contains(QStringLiteral("Remove From Viewer")));
    QVERIFY(!texts.contains(QStringLiteral("Open in Viewer A")));
    QCOMPARE(Row(sources.first())->text(1), QStringLiteral("A"));
}
void TestProjectPanel::SaveOverAChangedFileAsksFirst()
{
    QVERIFY(mManager->SaveProject());
    // Another player saved the project meanwhile.
    QByteArray const theirs = ReadAll(mProjectPath) + "\n";
    {
        QFile file(mProjectPath);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(theirs);
    }
    mManager->DoAddFolderCmd(QStringLiteral("Mine"), QUuid(), {});

    QString said;
    AnswerNextMessageBox(QStringLiteral("Cancel"), &said);
    Panel()->SaveProject();
    QVERIFY(said.contains(QDir::toNativeSeparators(mProjectPath)));
    QCOMPARE(ReadAll(mProjectPath), theirs);
    QVERIFY(!mManager->IsUndoClean());

    said.clear();
    AnswerNextMessageBox(QStringLiteral("Overwrite"), &said);
    Panel()->SaveProject();
    QVERIFY(!said.isEmpty());
    QVERIFY(ReadAll(mProjectPath).contains("Mine"));
    QVERIFY(mManager->IsUndoClean());
}


void TestProjectPanel::ClosingAProjectAsksByTheSetting()
{
    mManager->SetUndoClean();
    {
        // Nothing unsaved: no question, unless the setting says always.
        ModalAnswer cancel(QMessageBox::Cancel);
        QVERIFY(Panel()->ConfirmProjectClose());
        Settings::confirmOnClose = 0;
        QVERIFY(!Panel()->ConfirmProjectClose());
        QCOMPARE(cancel.Asked(), 1);
        QVERIFY(cancel.LastText().contains(QStringLiteral("unsaved changes")));

        // Unsaved: asked by default, never with 2; Cancel keeps the project.
        Settings::confirmOnClose = 2;
        AddSources({QStringLiteral("h264_cfr25.mp4")});
        QVERIFY(Panel()->ConfirmProjectClose());
        Settings::confirmOnClose = 1;
        QVERIFY(!Panel()->ConfirmProjectClose());
        QCOMPARE(cancel.Asked(), 2);
    }
    {
        ModalAnswer discard(QMessageBox::Discard);
        QVERIFY(Panel()->ConfirmProjectClose());
        QVERIFY(!mManager->IsUndoClean()); // discarding writes nothing
    }
    ModalAnswer save(QMessageBox::Save);
    QVERIFY(Panel()->ConfirmProjectClose());
    QCOMPARE(save.Asked(), 1);
    QVERIFY(mManager->IsUndoClean());
    QVERIFY(ReadAll(mProjectPath).contains("h264_cfr25.mp4"));
}

void TestProjectPanel::SavedProjectsGetTheirExtension()
{
    // A name typed without the extension would not open as a project again.
    QString const bare = mDir->filePath(QStringLiteral("show"));
    QVERIFY(Panel()->SaveProjectAsByPath(bare));
    QVERIFY(QFile::exists(bare + QStringLiteral(".zeph")));
    QVERIFY(!QFile::exists(bare));
    QCOMPARE(FileHelpers::ProjectPath(), bare + QStringLiteral(".zeph"));
    QString const dotted = mDir->filePath(QStringLiteral("Shot_010.v2"));
    QVERIFY(Panel()->SaveProjectAsByPath(dotted));
    QVERIFY(QFile::exists(dotted + QStringLiteral(".zeph")));

    // Dotted version names are common: "cut.v2" is written as "cut.v2.zeph",
    // and when that is another project the user is asked first.
    QString const cut = mDir->filePath(QStringLiteral("cut.v2"));
    QString const other = cut + QStringLiteral(".zeph");
    QByteArray const otherBytes("{\"_meta\": {\"format\": \"zeph\", \"version\": 1}, \"other\": true}");
    {
        QFile file(other);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(otherBytes), otherBytes.size());
    }
    {
        ModalAnswer no(QMessageBox::No);
        QVERIFY(!Panel()->SaveProjectAsByPath(cut));
        QCOMPARE(no.Asked(), 1);
        QCOMPARE(no.LastText(), QStringLiteral("cut.v2.zeph already exists.\nDo you want to replace it?"));
        QCOMPARE(ReadAll(other), otherBytes);
        QCOMPARE(FileHelpers::ProjectPath(), dotted + QStringLiteral(".zeph"));
        QVERIFY(!QFile::exists(cut));
    }
    {
        ModalAnswer yes(QMessageBox::Yes);
        QVERIFY(Panel()->SaveProjectAsByPath(cut));
        QCOMPARE(yes.Asked(), 1);
        QVERIFY(ReadAll(other) != otherBytes);
        QCOMPARE(FileHelpers::ProjectPath(), other);

        // A name that has the extension was chosen as it is: no question.
        QVERIFY(Panel()->SaveProjectAsByPath(other));
        QCOMPARE(yes.Asked(), 1);
    }
}

QTEST_MAIN(TestProjectPanel)
#include "tst_projectpanel.moc"
