#pragma once

#include <QString>

// One snapshot request, filled by the caller.
struct SnapshotProperties
{
    QString dirPath;
    QString name;
    QString extension; // empty: Settings::snapshotFileType
    // 0 current frame, 1 start to end frame, 2 playback range, 3 frame
    // bookmarks from start to end, 4 frame bookmarks in the playback range.
    int mode = 0;
    // 1: numbered by frame plus the export's frame-number offset; otherwise
    // by a running index from 0.
    int numbering = 1;
    int numberWidth = 4;
    // Bookmark modes: each bookmark's image also stands for the frames up to
    // the next bookmark.
    bool stepped = false;
    // Emit the images instead of writing files.
    bool forExport = false;
};
