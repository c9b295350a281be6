#pragma once

#include "model/ParseSourceData.h"

#include <QList>
#include <QMultiMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUuid>

class Project;
class QEventLoop;
class TimelineItem;

// The queue of a project that turns requests for new sources into parsed
// source timelines, finished in request order: each batch waits for the one
// before it, its sources are asked for at once, and a source parsed is
// finished (put in the project with the state it was read with, its frame
// bookmarks, or in place of the source it replaces) once every source before
// it in the batch is. A batch that makes no progress for the time-out fails
// its unparsed sources. Acts on its project through the project's own calls.
// Main thread only.
class SourceParseQueue : public QObject
{
    Q_OBJECT

public:
    // A batch that makes no progress for this long fails its unparsed sources.
    static constexpr int DEFAULT_TIMEOUT_MS = 60000;

    explicit SourceParseQueue(Project& project);
    ~SourceParseQueue() override;

    static void SetTimeout(int milliseconds);
    static int Timeout();

    // An item added to the project, waiting for the next batch.
    void Add(ParseListEntry const& entry);
    // Makes the items added since the last batch a batch of their own and
    // returns when every queued source has been parsed and finished (or has
    // failed).
    void ParseAdded();
    bool InProgress() const;
    // Parses the item's source again from paths; its successor takes its
    // place once finished, and a failure leaves it as it was.
    void Replace(TimelineItem* item, QList<QString> const& paths);
    // Parses again the sources read from the file at path (it changed).
    void ReloadSourcesOf(QString const& path);
    // Parses again the sources whose media was missing, from their paths
    // relative to the source root folder.
    void RelinkMissingSources();
    // The source was given up while its parse may still answer.
    bool WasAbandoned(QUuid const& id) const;

    // Frame bookmarks that wait for the parse of their timeline's source.
    void AddPendingBookmarks(QUuid const& timelineItemId, PendingBookmarks const& bookmarks);
    QList<PendingBookmarks> TakePendingBookmarks(QUuid const& timelineItemId);
    void ClearPendingBookmarks();

public Q_SLOTS:
    void OnSourceParsed(QUuid const& id);

private Q_SLOTS:
    void OnTimeout();

private:
    void Wait();
    bool Empty() const;
    void CheckDrained();
    void StartNextBatch();
    // Finishes the parsed sources at the head of the active batch.
    void FinishParsedEntries();
    // Puts one parsed source in the project; false when it failed.
    bool FinishParsed(ParseListEntry const& entry);
    void RestoreStoredState(TimelineItem* item, ParseSourceData const& data);
    // A stand-in for a source read from a file whose parse was given up: the
    // same id, paths and name, never parsed, so that what the file said of it
    // stays in the project.
    TimelineItem* MakeUnopenedStandIn(ParseListEntry const& entry);
    void TakeOverReplacedSource(TimelineItem* oldItem, TimelineItem* item);
    // Puts a source timeline that a failed replacement took out back in the
    // new item's place.
    void PutBackReplacedItem(TimelineItem* oldItem, TimelineItem* failedItem);
    // Takes a failed item out of the project for good. An item whose parse may
    // still be running goes to the releaser, or without one is kept
    // (detached) until the project is destroyed, so no parser thread ever
    // writes into a released source.
    void DiscardFailedItem(TimelineItem* item, bool parseMayBeRunning);

    Project& mProject;
    // The batch being finished, the batches waiting their turn, and the
    // items added for the next one.
    QList<ParseListEntry> mActiveParseList;
    QList<QList<ParseListEntry>> mParseWaitQueue;
    QList<ParseListEntry> mNewParseList;
    bool mInProgress = false;
    // Waits nest: a call made while another waits adds its batch and waits
    // with it.
    int mWaitDepth = 0;
    QList<QEventLoop*> mWaitLoops;
    QTimer mTimer;
    // Items given up while their parse may still answer, kept until the
    // project goes when it has no releaser, and their ids.
    QList<TimelineItem*> mAbandonedItems;
    QSet<QUuid> mAbandonedIds;
    QMultiMap<QUuid, PendingBookmarks> mPendingBookmarks;
    // Replacements asked for while one runs, run after it.
    bool mReplacing = false;
    QList<QPair<QUuid, QList<QString>>> mPendingReplacements;

    static int sTimeoutMs;
};
