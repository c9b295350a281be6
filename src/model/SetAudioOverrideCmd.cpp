#include "model/SetAudioOverrideCmd.h"

#include "model/Project.h"
#include "model/Timeline.h"

SetAudioOverrideCmd::SetAudioOverrideCmd(Project* project, QUuid const& timelineId, QUuid const& overrideId)
    : mProject(project)
    , mTimelineId(timelineId)
    , mOverrideId(overrideId)
{
    setText(QStringLiteral("SetAudioOverride"));
}

void SetAudioOverrideCmd::SwapAudioOverride()
{
    TimelineItem* item = mProject->FindTimelineById(mTimelineId, true);
    if (!item || !item->TimelinePtr())
    {
        return;
    }
    QUuid const old = item->TimelinePtr()->AudioOverrideTimelineId();
    item->TimelinePtr()->SetAudioOverrideTimelineId(mOverrideId);
    mOverrideId = old;
}

void SetAudioOverrideCmd::redo()
{
    SwapAudioOverride();
}

void SetAudioOverrideCmd::undo()
{
    SwapAudioOverride();
}
