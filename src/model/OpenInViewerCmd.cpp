#include "model/OpenInViewerCmd.h"

#include "media/AvManager.h"
#include "model/Project.h"
#include "model/Timeline.h"

OpenInViewerCmd::OpenInViewerCmd(Project* project, AvManager* avManager, QUuid const& timelineId, int outputId,
                                 bool keepPreviousOutput)
    : mProject(project)
    , mAvManager(avManager)
    , mTimelineId(timelineId)
    , mOutputId(outputId)
    , mKeepPreviousOutput(keepPreviousOutput)
{
    setText(QStringLiteral("OpenInViewer"));
}

void OpenInViewerCmd::Open(QUuid const& timelineId, int outputId)
{
    mAvManager->Pause(DecodeBias::None);
    TimelineItem* item = mProject->FindTimelineById(timelineId, true);
    if (!item || !item->TimelinePtr())
    {
        mAvManager->EndDecodingTask(outputId, true, true);
        return;
    }
    mAvManager->DecodeTimeline(item->TimelinePtr(), outputId, true, true, mKeepPreviousOutput);
}

void OpenInViewerCmd::redo()
{
    if (!mRecorded)
    {
        TimelineItem* item = mProject->FindTimelineById(mTimelineId, true);
        mPreviousOutputId = item && item->TimelinePtr() ? item->TimelinePtr()->OutputId() : -1;
        TimelineItem* shown = mProject->FindTimelineByOutputId(mOutputId);
        mPreviousTimelineId = shown ? shown->Id() : QUuid();
        mRecorded = true;
    }
    Open(mTimelineId, mOutputId);
}

void OpenInViewerCmd::undo()
{
    Open(mPreviousTimelineId, mOutputId);
    if (mPreviousOutputId >= 0)
    {
        Open(mTimelineId, mPreviousOutputId);
    }
}
