// The project's JSON views for the client API, kept beside the command server.

#include "model/Project.h"

#include "model/FolderItem.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

QJsonObject Project::ToCmdJsonObj(QString const& text)
{
    QJsonParseError error;
    QJsonDocument const document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
    {
        return {};
    }
    return document.object();
}

QJsonObject Project::TimelineToJson(QUuid const& id) const
{
    QJsonObject json;
    TimelineItem const* const item = FindTimelineById(id, true);
    if (!item)
    {
        return json;
    }
    json.insert(QStringLiteral("id"), item->Id().toString(QUuid::WithBraces));
    json.insert(QStringLiteral("name"), item->Name());

    QUuid const parentId = item->ParentId();
    json.insert(QStringLiteral("parent_id"), parentId.isNull() ? QString() : parentId.toString(QUuid::WithBraces));
    int parentIndex = -1;
    if (!parentId.isNull())
    {
        ProjectItem* const parent = FindItemById(parentId);
        if (parent && parent->ItemType() == ProjectItemType::Folder)
        {
            parentIndex = static_cast<FolderItem*>(parent)->ProjectItemIndex(const_cast<TimelineItem*>(item));
        }
    }
    json.insert(QStringLiteral("parent_index"), parentIndex);

    Timeline const* const timeline = item->TimelinePtr();
    if (!timeline)
    {
        return json;
    }
    long long const offset = timeline->TimeControlFrameOffset();
    json.insert(QStringLiteral("playback_frame"), qint64(timeline->PlaybackFrame() + offset));
    json.insert(QStringLiteral("range_start_frame"), qint64(timeline->PlaybackRangeStartFrame() + offset));
    json.insert(QStringLiteral("range_end_frame"), qint64(timeline->PlaybackRangeEndFrame() + offset));
    json.insert(QStringLiteral("output_id"), timeline->OutputId());
    json.insert(QStringLiteral("is_source"), item->IsSourceTimeline());

    Source const* const source = timeline->SourcePtr();
    if (!source)
    {
        json.insert(QStringLiteral("path"), QString());
        return json;
    }
    json.insert(QStringLiteral("path"), source->MediaPath());
    json.insert(QStringLiteral("audio_delay"), qint64(source->AudioDelay()));
    return json;
}
