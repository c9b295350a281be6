// The project's JSON views for the client API, kept beside the command server.

#include "model/Project.h"

#include "model/FolderItem.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace
{
// A request is a handful of members. Parsed JSON costs far more memory than
// its text (a 16 MiB request of nested empty arrays takes over a gigabyte),
// so what a request may hold is bounded before it is parsed.
constexpr int MAXIMUM_REQUEST_DEPTH = 32;
constexpr int MAXIMUM_REQUEST_VALUES = 10000;

// Counts containers and separators outside strings: true when the text stays
// within both bounds.
bool IsWithinRequestBounds(QByteArray const& text)
{
    int depth = 0;
    int values = 0;
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i)
    {
        char const c = text.at(i);
        if (inString)
        {
            if (c == '\\')
            {
                ++i;
            }
            else if (c == '"')
            {
                inString = false;
            }
            continue;
        }
        switch (c)
        {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > MAXIMUM_REQUEST_DEPTH || ++values > MAXIMUM_REQUEST_VALUES)
            {
                return false;
            }
            break;
        case ']':
        case '}':
            --depth;
            break;
        case ',':
            if (++values > MAXIMUM_REQUEST_VALUES)
            {
                return false;
            }
            break;
        default:
            break;
        }
    }
    return true;
}
} // namespace

QJsonObject Project::ToCmdJsonObj(QString const& text)
{
    QByteArray const utf8 = text.toUtf8();
    if (!IsWithinRequestBounds(utf8))
    {
        return {}; // answered as malformed
    }
    QJsonParseError error;
    QJsonDocument const document = QJsonDocument::fromJson(utf8, &error);
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
