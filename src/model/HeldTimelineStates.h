#pragma once

#include "model/HeldTimelineState.h"

#include <QHash>
#include <QUuid>

class Source;
class TimelineItem;

// The file values held for the timelines of a project that were read
// without their media (see HeldTimelineState), by item id, and what a save
// writes for each timeline. Main thread only.
class HeldTimelineStates
{
public:
    // A source that could be opened: it has frames and no error.
    static bool HasMedia(Source const* source);
    // A source timeline with its media, or an edit timeline whose every clip
    // has its media.
    static bool ItemHasMedia(TimelineItem const* item);
    // The playback frame and range (cut in and out for a source) a save
    // writes for the item as it stands.
    static void LiveFrameState(TimelineItem const* item, int& playbackFrame, int& start, int& end);

    // What a save writes for the item: the live state, or the file's values
    // while they are held for it (see InEffect).
    void SavedFrameState(TimelineItem const* item, int& playbackFrame, int& start, int& end) const;
    // Keeps a file's values for an item that lacks its media, beside what
    // the item made of them; forgets them for an item that has its media.
    void HoldIfMediaMissing(TimelineItem* item, int playbackFrame, int start, int end);
    // The file's values while the item still lacks its media and still shows
    // what it made of them; null once the user changed them or the media is
    // back.
    HeldTimelineState const* InEffect(TimelineItem const* item) const;
    // Puts a timeline whose file values were held back to them, once more
    // of its media (or all of it) is there.
    void Reapply(TimelineItem* item, HeldTimelineState const& held);
    void Forget(QUuid const& id);

private:
    QHash<QUuid, HeldTimelineState> mStates;
};
