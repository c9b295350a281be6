#pragma once

#include "model/FolderItem.h"
#include "model/HeldTimelineStates.h"
#include "model/ParseSourceData.h"
#include "model/ProjectFileStamp.h"
#include "model/SourceParseQueue.h"
#include "model/TimelineItem.h"

#include <QFileSystemWatcher>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMultiMap>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <functional>

class QEventLoop;
class QJsonDocument;
class QJsonObject;
class Source;
class Timeline;

// The open project document: the three top-level folders and the tree below
// them, the edit and source timelines by id, the default timeline, the notes,
// and the queue that turns requests for new sources into parsed source
// timelines (SourceParseQueue). Its files are written and read by
// ProjectFileWriter, ProjectFileReader and the older formats' readers through
// its public calls. Main thread only.
class Project : public QObject
{
    Q_OBJECT

public:
    // A batch that makes no progress for this long fails its unparsed sources.
    static constexpr int DEFAULT_PARSE_TIMEOUT_MS = SourceParseQueue::DEFAULT_TIMEOUT_MS;
    // A project file whose folders nest deeper than this below the project
    // folder is refused.
    static constexpr int MAXIMUM_FOLDER_DEPTH = 256;

    explicit Project(QObject* parent = nullptr);
    ~Project() override;

    static void SetParseTimeout(int milliseconds);
    static int ParseTimeout();

    // ---- Settings kept in Settings ----
    void SetProjectPath(QString const& path);
    QString ProjectName() const;
    void SetSourceRootDirPath(QString const& path, bool relink);
    void SetImageSequenceFrameRate(double rate);
    double ImageSequenceFrameRate() const;
    void SetTimeControlFrameOffset(int offset);
    int TimeControlFrameOffset() const;
    void SetNotes(QString const& notes);
    QString Notes() const;

    // ---- Folders ----
    FolderItem* AddFolder(QString const& name, QUuid const& parentId, bool expand);
    void InsertFolder(FolderItem* folder, QUuid const& parentId, int index);
    void RemoveFolder(QUuid const& id);
    FolderItem* FindFolderById(QUuid const& id) const;
    FolderItem* ProjectFolder() const;
    FolderItem* SourceTimelineFolder() const;
    FolderItem* TimelineFolder() const;
    void TopLevelFolderIds(QList<QUuid>& ids) const;
    void ChildFolders(FolderItem* folder, QList<FolderItem*>& folders) const;
    QList<FolderItem*> TopLevelFolders() const;

    // ---- Edit timelines ----
    TimelineItem* AddTimeline(QString const& name, QUuid const& parentId, bool expand, QUuid id = QUuid(),
                              int index = -1);
    void InsertTimeline(TimelineItem* item, QUuid const& parentId, int index);
    void RemoveTimeline(QUuid const& id);
    QMap<QUuid, TimelineItem*> const& Timelines() const;

    // ---- Source timelines ----
    void AddSourceTimeline(ParseSourceData& data);
    // Returns when every queued source has been parsed and finished (or has
    // failed); the records receive their ids.
    void AddSourceTimelines(QList<ParseSourceData>& dataList);
    void InsertSourceTimeline(TimelineItem* item, QUuid const& parentId, int index);
    void RemoveSourceTimeline(QUuid const& id);
    void InsertSourceTimelineItemInMap(TimelineItem* item);
    void RemoveSourceTimelineItemFromMap(QUuid const& id);
    TimelineItem* FindSourceTimelineById(QUuid const& id) const;
    QMap<QUuid, TimelineItem*> const& SourceTimelines() const;
    void RefreshSource(TimelineItem* item);
    void ReplaceSource(TimelineItem* item, QList<QString> const& paths);
    void UpdateSourceRelativePaths();
    bool SourceParsingInProgress() const;
    // The queue the sources added one by one (AddSourceTimeline) wait in,
    // with the frame bookmarks that wait for them.
    SourceParseQueue& ParseQueue();
    // The file values held for timelines read without their media.
    HeldTimelineStates& HeldStates();
    HeldTimelineStates const& HeldStates() const;
    QFileSystemWatcher const* FileWatcher() const;
    // An item of the source timelines follows its timeline's changes and its
    // source's parse.
    void ConnectSourceTimelineItem(TimelineItem* item);
    void DisconnectSourceTimelineItem(TimelineItem* item);

    // Deletes an item taken out of the project for good (by a command that
    // held it, or a failed parse). With a releaser set, the releaser takes it
    // over instead: it must keep the item until no media task can use it.
    void ReleaseItem(ProjectItem* item);
    void SetItemReleaser(std::function<void(ProjectItem*)> releaser);
    bool HasItemReleaser() const;

    // ---- Project files ----
    // Writes the whole project to Settings::projectPath (ProjectFileWriter::Save).
    bool SaveProject();
    // What the file at the project path looked like when this project last
    // read or wrote it; a save over a file that changed since would lose
    // someone else's work.
    void SetFileStamp(ProjectFileStamp const& stamp);
    ProjectFileStamp FileStamp() const;
    bool FileChangedOnDisk() const;
    bool WriteProject(QJsonObject& root) const;
    // Reads a project file as the project itself (open) or into it; with
    // open, the project takes the stamp of the bytes it read.
    bool ImportProject(QString const& path, bool open);
    bool ReadProject(QJsonDocument const& document, QString const& path, bool open);
    // Checks that a file can be read as a project of its kind (its "_meta"),
    // logging why not, without touching the open project; hands back what it
    // read, so that the file is read once: its bytes, their JSON document and
    // the stamp of those very bytes. A .bmk file holds no JSON: it must name
    // its media, and the document stays empty.
    static bool IsAcceptedProjectFile(QString const& path, QJsonDocument& document, QByteArray& bytes,
                                      ProjectFileStamp& stamp);
    // An accepted file read as the project itself (open) or into it, as the
    // file's kind says.
    bool ReadAcceptedProjectFile(QJsonDocument const& document, QByteArray const& bytes, QString const& path,
                                 bool open);

    // Reads an older-format project file as the project itself (open) or into
    // it; the project path stays as it is. A bookmark file is always read
    // into the project.
    bool ImportLegacyVornaProject(QString const& path, bool open);
    bool ImportLegacyYarvProject(QString const& path);

    // ---- Client API views ----
    // The message as a JSON object; an empty object for anything else.
    static QJsonObject ToCmdJsonObj(QString const& text);
    // A timeline item as the client API describes it; empty for an unknown id.
    QJsonObject TimelineToJson(QUuid const& id) const;

    // ---- Queries ----
    ProjectItem* FindItemById(QUuid const& id) const;
    FolderItem* ParentFolderOf(ProjectItem* item) const;
    TimelineItem* FindTimelineById(QUuid const& id, bool includeSources) const;
    TimelineItem* FindTimelineItemByTimeline(Timeline* timeline) const;
    TimelineItem* FindTimelineByOutputId(int outputId) const;
    QList<TimelineItem*> FindTimelinesContainingSource(QUuid const& sourceId) const;
    QList<TimelineItem*> FindTimelinesWithAudioOverride(QUuid const& id) const;
    bool ContainsClipWithSource(QUuid const& sourceId) const;
    bool TimelineHasSource(QUuid const& timelineId, QUuid const& sourceId) const;
    bool FolderHasSource(QUuid const& folderId, QUuid const& sourceId) const;
    bool MediaPathExistsInProject(QString const& path) const;
    QUuid SourceTimelineIdWithMediaPath(QString path) const;
    QList<QUuid> ProjectTreeDepthFirstHierarchy() const;
    QList<QUuid> SortProjectItemsForMove(QList<QUuid> const& ids) const;
    bool IsDescendentOfFolder(QUuid const& id, FolderItem* folder) const;
    bool MoveDestinationIsValid(QList<QUuid> const& ids, QUuid const& destinationId) const;
    void MoveProjectItem(ProjectItem* item, QUuid const& destinationId, int index, bool keepIndex, bool expand);
    void SetProjectItemName(QUuid const& id, QString const& name);
    QString ProjectItemName(QUuid const& id) const;
    void SetDefaultTimeline(QUuid const& id);
    QUuid DefaultTimelineId() const;
    bool IsUndoClean() const;
    void SetUndoClean();

Q_SIGNALS:
    void ParseSourceRequested(TimelineItem* item);
    void ParseSourceActiveStateChanged(bool active);
    void ProjectUpdated();
    void FolderUpdated(QUuid id);
    void TimelineUpdated(QUuid id);
    void DefaultTimelineChanged(QUuid id);
    void PausePlaybackRequested();
    void OpenInViewerRequested(QUuid const& id, int outputId, bool keepPrevious);
    void OpenInViewerReplaceRequested(QUuid const& id, int outputId);
    void ImageSequenceFrameRateChanged();
    void ProjectPathChanged(QString const& path);
    void SourceRootDirPathChanged(QString const& path);
    // The parse of the item's source was given up while it may still run; the
    // item leaves through ReleaseItem right after.
    void SourceParseAbandoned(TimelineItem* item);

public Q_SLOTS:
    void OnTimelineUpdated(QUuid const& id);
    void ReloadWatchedSource(QString const& path);

private:
    // An import: the file checked as its kind says and read, once.
    bool ImportCheckedFile(QString const& path, bool open);
    FolderItem* FolderForSourceTimeline(QUuid const& parentId) const;
    FolderItem* FolderForTimeline(QUuid const& parentId) const;
    FolderItem* FolderForFolder(QUuid const& parentId) const;

    QList<FolderItem*> mTopLevelFolders;
    QMap<QUuid, TimelineItem*> mTimelines;
    QMap<QUuid, TimelineItem*> mSourceTimelines;
    QString mNotes;
    QUuid mDefaultTimelineId;
    QFileSystemWatcher* mFileWatcher = nullptr;
    SourceParseQueue mParseQueue;
    std::function<void(ProjectItem*)> mItemReleaser;
    HeldTimelineStates mHeldStates;
    ProjectFileStamp mFileStamp;
};
