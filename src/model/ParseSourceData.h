#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QUuid>

struct FrameBookmark;
class TimelineItem;

// One source to be added to a project, with the state to restore once it is
// parsed. Copied by value.
struct ParseSourceData
{
    QUuid id;       // null: the new source makes one; filled in once added
    QUuid parentId; // folder to put the item in
    qint32 index = -1;
    bool expandParent = true;
    QString path; // empty: the record does nothing
    QString relativePath;
    QString name; // empty: the media name
    // -1: no stored state; 0 or more: everything below is restored after the parse.
    qint32 playbackFrame = -1;
    qint32 cutInFrame = 0;
    qint32 cutOutFrame = -1; // -1 is the end
    qint64 audioDelay = 0;
    qint32 viewerIndex = -1;
    double panX = 0.0;
    double panY = 0.0;
    float zoom = 1.0f;
    bool panZoomEnabled = false;
    bool holdAnnotations = false;
    QUuid targetTimelineId;
    qint32 targetClipIndex = -1;
    bool addToDefaultTimeline = true;
    bool addToRecentFiles = false;
    // Filled and consumed by the older-format reader; the parse step leaves them.
    QList<FrameBookmark*> frameBookmarks;
    QList<QPair<qint32, qint32>> rangeBookmarks;
    QUuid replaceSourceId; // set: the new source replaces this source timeline
};

struct ParseListEntry
{
    TimelineItem* item = nullptr;
    ParseSourceData data;
    bool parsed = false;
};

// Frame bookmarks read from a project file before their timeline exists.
struct PendingBookmarks
{
    qint32 clipIndex = -1; // -1: the timeline's background bookmark
    QList<FrameBookmark*> bookmarks;
};
