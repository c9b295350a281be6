#pragma once

#include "media/AvWorkerTaskType.h"

#include <QList>
#include <QSet>

class Source;
class Timeline;
struct AvWorkerProperties;

// The engine front's worker records by the state of their task, and what the
// front asks of them. Owned by the AvManager and used on the main thread only.
//   active:   the task runs;
//   expired:  the task ended or was told to end, its thread is ending;
//   detached: abandoned parses and tasks that outlived a wait for their end,
//             out of every count until their threads finish.
// The records are the AvManager's to create and delete; this only holds them.
struct AvWorkerRecords
{
    QList<AvWorkerProperties*> active;
    QList<AvWorkerProperties*> expired;
    QList<AvWorkerProperties*> detached;

    // A decode task of a timeline (sound or pictures).
    static bool IsDecodeTask(AvWorkerProperties const* record);

    int ActiveIndex(int id) const;
    int ExpiredIndex(int id) const;
    AvWorkerProperties* FindActive(int id) const;
    AvWorkerProperties* FindExpired(int id) const;
    // Active and expired: what a wait for the tasks' ends waits for.
    int TotalCount() const { return static_cast<int>(active.size() + expired.size()); }
    // Active tasks of the type.
    int CountOf(AvWorkerTaskType type) const;
    // The timelines the active decode tasks decode, each once, in task order.
    QList<Timeline*> DecodedTimelines() const;
    // The active task of the type for the timeline; -1 when none.
    int IdOf(AvWorkerTaskType type, Timeline const* timeline) const;
    // The timeline an active picture decode task shows in the output.
    Timeline* VideoTimelineWithOutputId(int outputId) const;
    // The ids of every record, whatever its state.
    QSet<int> Ids() const;
    // A parse or a task of any state but the audio output reads the very
    // object (the timeline's own source or a clip's, the audio override's).
    bool SourceInUse(Source const* source) const;
    // A detached decode task of the timeline may still write its caches.
    bool TimelineLeftRunning(Timeline const* timeline) const;
    bool HasTasksLeftRunning() const;
};
