#include "media/AvWorkerRecords.h"

#include "media/AvWorkerProperties.h"
#include "media/AvWorkerTask.h"
#include "model/Clip.h"
#include "model/Timeline.h"

#include <QThread>

#include <algorithm>

namespace
{
int IndexOf(QList<AvWorkerProperties*> const& records, int id)
{
    for (int i = 0; i < records.size(); ++i)
    {
        if (records.at(i)->id == id)
        {
            return i;
        }
    }
    return -1;
}
} // namespace

bool AvWorkerRecords::IsDecodeTask(AvWorkerProperties const* record)
{
    AvWorkerTaskType const type = record->task->type;
    return record->task->timeline && (type == AvWorkerTaskType::DecodeAudio || type == AvWorkerTaskType::DecodeVideo);
}

int AvWorkerRecords::ActiveIndex(int id) const
{
    return IndexOf(active, id);
}

int AvWorkerRecords::ExpiredIndex(int id) const
{
    return IndexOf(expired, id);
}

AvWorkerProperties* AvWorkerRecords::FindActive(int id) const
{
    int const index = ActiveIndex(id);
    return index >= 0 ? active.at(index) : nullptr;
}

AvWorkerProperties* AvWorkerRecords::FindExpired(int id) const
{
    int const index = ExpiredIndex(id);
    return index >= 0 ? expired.at(index) : nullptr;
}

int AvWorkerRecords::CountOf(AvWorkerTaskType type) const
{
    return static_cast<int>(std::count_if(active.cbegin(), active.cend(),
                                          [type](auto const* record) { return record->task->type == type; }));
}

QList<Timeline*> AvWorkerRecords::DecodedTimelines() const
{
    QList<Timeline*> timelines;
    for (AvWorkerProperties const* record : active)
    {
        if (IsDecodeTask(record) && !timelines.contains(record->task->timeline))
        {
            timelines.append(record->task->timeline);
        }
    }
    return timelines;
}

int AvWorkerRecords::IdOf(AvWorkerTaskType type, Timeline const* timeline) const
{
    for (AvWorkerProperties const* record : active)
    {
        if (record->task->type == type && record->task->timeline && record->task->timeline == timeline)
        {
            return record->id;
        }
    }
    return -1;
}

Timeline* AvWorkerRecords::VideoTimelineWithOutputId(int outputId) const
{
    for (AvWorkerProperties const* record : active)
    {
        if (IsDecodeTask(record) && record->task->type == AvWorkerTaskType::DecodeVideo &&
            record->task->timeline->OutputId() == outputId)
        {
            return record->task->timeline;
        }
    }
    return nullptr;
}

QSet<int> AvWorkerRecords::Ids() const
{
    QSet<int> ids;
    for (QList<AvWorkerProperties*> const* list : {&active, &expired, &detached})
    {
        for (AvWorkerProperties const* record : *list)
        {
            ids.insert(record->id);
        }
    }
    return ids;
}

bool AvWorkerRecords::SourceInUse(Source const* source) const
{
    if (!source)
    {
        return false;
    }
    // The very object, not its id: a source being replaced keeps its id, and
    // its old object may still be read while the new one is parsed.
    auto reads = [source](Timeline const* timeline) {
        if (!timeline)
        {
            return false;
        }
        if (timeline->SourcePtr() == source)
        {
            return true;
        }
        for (int i = 0; i < timeline->ClipCount(); ++i)
        {
            Clip const* clip = timeline->ClipAtIndex(i);
            if (clip && clip->SourcePtr() == source)
            {
                return true;
            }
        }
        return false;
    };
    for (QList<AvWorkerProperties*> const* list : {&active, &expired, &detached})
    {
        for (AvWorkerProperties const* record : *list)
        {
            AvWorkerTask const* task = record->task;
            if (task->type == AvWorkerTaskType::AudioOutput)
            {
                continue; // plays from the caches, never from the source
            }
            if (reads(task->timeline) || (task->timeline && reads(task->timeline->AudioOverrideTimeline())))
            {
                return true;
            }
        }
    }
    return false;
}

bool AvWorkerRecords::TimelineLeftRunning(Timeline const* timeline) const
{
    return std::any_of(detached.cbegin(), detached.cend(), [timeline](auto const* record) {
        return IsDecodeTask(record) && record->task->timeline == timeline;
    });
}

bool AvWorkerRecords::HasTasksLeftRunning() const
{
    return std::any_of(detached.cbegin(), detached.cend(),
                       [](auto const* record) { return !record->thread->isFinished(); });
}
