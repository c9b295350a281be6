#pragma once

// Timelines of the project manager's project over the generated media, for
// the tests of widgets that edit timelines through undoable commands.

#include "model/ParseSourceData.h"
#include "model/Project.h"
#include "model/ProjectManager.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"

#include "support/TestMedia.h"

#include <QFileInfo>
#include <QList>
#include <QUndoStack>
#include <QUuid>

namespace ProjectTimelines
{

inline TimelineItem* ItemOf(ProjectManager& manager, Timeline const* timeline)
{
    for (TimelineItem* item : manager.ProjectPtr()->SourceTimelines())
    {
        if (item->TimelinePtr() == timeline)
        {
            return item;
        }
    }
    return nullptr;
}

// A parsed source timeline of the project, cut to [cutIn, cutOut] (-1: the
// end). The undo stack is left empty.
inline Timeline* AddSource(ProjectManager& manager, QString const& name, int cutIn = 0, int cutOut = -1)
{
    if (!manager.ProjectPtr())
    {
        manager.NewProject(true);
    }
    ParseSourceData data;
    data.path = TestMedia::Path(name);
    data.addToDefaultTimeline = false;
    manager.DoAddSourceTimelinesCmd({data});
    QString const wanted = QFileInfo(data.path).canonicalFilePath();
    for (TimelineItem* item : manager.ProjectPtr()->SourceTimelines())
    {
        Timeline* timeline = item->TimelinePtr();
        if (timeline->SourcePtr() && QFileInfo(timeline->SourcePtr()->MediaPath()).canonicalFilePath() == wanted)
        {
            timeline->SetPlaybackRangeByFrame(cutIn, cutOut);
            manager.UndoStackPtr()->clear();
            return timeline;
        }
    }
    return nullptr;
}

// An edit timeline of the project holding one clip of each source timeline.
inline Timeline* AddEdit(ProjectManager& manager, QList<Timeline*> const& sources)
{
    QUuid const id = manager.DoAddTimelineCmd(QStringLiteral("Edit"), QUuid());
    Timeline* edit = manager.FindTimelineById(id)->TimelinePtr();
    QList<QUuid> ids;
    for (Timeline const* source : sources)
    {
        ids.append(ItemOf(manager, source)->Id());
    }
    manager.DoInsertClipsCmd(edit, ids, -1);
    manager.UndoStackPtr()->clear();
    return edit;
}

} // namespace ProjectTimelines
