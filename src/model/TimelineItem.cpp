#include "model/TimelineItem.h"

#include "model/Clip.h"
#include "model/Source.h"
#include "model/Timeline.h"

namespace
{
QString const DEFAULT_TIMELINE_ITEM_NAME = QStringLiteral("New Timeline");
}

TimelineItem::TimelineItem(Timeline* timeline, QString const& name, QObject* parent)
    : ProjectItem(parent)
    , mTimeline(timeline)
{
    if (mTimeline)
    {
        mTimeline->setParent(this);
    }
    else
    {
        mTimeline = new Timeline(this, true);
    }
    connect(mTimeline, &Timeline::TimelineUpdated, this, &TimelineItem::OnTimelineUpdated);
    connect(mTimeline, &Timeline::SourceParsed, this, &TimelineItem::OnSourceParsed);
    if (!name.isEmpty())
    {
        SetName(name);
    }
    else if (Source* source = SourcePtr())
    {
        SetName(source->MediaName());
    }
    else
    {
        SetName(DEFAULT_TIMELINE_ITEM_NAME);
    }
}

ProjectItemType TimelineItem::ItemType() const
{
    return IsSourceTimeline() ? ProjectItemType::SourceTimeline : ProjectItemType::Timeline;
}

void TimelineItem::OnTimelineUpdated()
{
    emit TimelineUpdated(Id());
}

void TimelineItem::OnSourceParsed()
{
    emit SourceParsed(Id());
}

bool TimelineItem::IsSourceTimeline() const
{
    return mTimeline && mTimeline->IsSourceTimeline();
}

Timeline* TimelineItem::TimelinePtr() const
{
    return mTimeline;
}

Clip* TimelineItem::SourceClip() const
{
    return IsSourceTimeline() ? mTimeline->SourceClip() : nullptr;
}

Source* TimelineItem::SourcePtr() const
{
    return IsSourceTimeline() ? mTimeline->SourcePtr() : nullptr;
}

QString TimelineItem::ToolTip() const
{
    Source const* source = SourcePtr();
    return source ? source->MediaPath() : Name();
}

bool TimelineItem::HasErrors() const
{
    return mTimeline && mTimeline->HasErrors();
}

QString TimelineItem::ErrorString() const
{
    Source const* source = SourcePtr();
    return source ? source->ErrorString() : QString();
}

int TimelineItem::ViewportIndex() const
{
    return mTimeline ? mTimeline->OutputId() : -1;
}
