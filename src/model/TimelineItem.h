#pragma once

#include "model/ProjectItem.h"

class Clip;
class Source;
class Timeline;

// A project-tree node that owns one timeline: a source timeline of one source,
// or an edit timeline. Deleting the item deletes its timeline.
class TimelineItem : public ProjectItem
{
    Q_OBJECT

public:
    // Without a timeline, a new empty edit timeline is made.
    TimelineItem(Timeline* timeline, QString const& name, QObject* parent = nullptr);

    ProjectItemType ItemType() const override;

    bool IsSourceTimeline() const;
    Timeline* TimelinePtr() const;
    Clip* SourceClip() const;
    Source* SourcePtr() const;
    QString ToolTip() const;
    bool HasErrors() const;
    QString ErrorString() const;
    int ViewportIndex() const;

Q_SIGNALS:
    void TimelineUpdated(QUuid id);
    void SourceParsed(QUuid id);

public Q_SLOTS:
    void OnTimelineUpdated();
    void OnSourceParsed();

private:
    Timeline* mTimeline = nullptr;
};
