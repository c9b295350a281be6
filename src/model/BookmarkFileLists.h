#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The two lists of an older bookmark file (the keys "frames" and "ranges" of
// its group "main"), taken out of the INI bytes before QSettings parses the
// rest: QSettings would make a string of every entry, and a list may hold
// millions of them of which only one per frame of the clip is used. A line
// QSettings must unescape (a backslash, a comment mark or a typed "@" value)
// is left in the rest for QSettings to read as before. Any thread.
class BookmarkFileLists
{
public:
    explicit BookmarkFileLists(QByteArray const& bytes);

    // The bytes without the lines taken out, for QSettings.
    QByteArray const& OtherLines() const { return mOtherLines; }
    // The raw values, valid while this object lives; empty views when the
    // key was not taken out.
    bool HasFrames() const { return mFramesLength >= 0; }
    QByteArrayView Frames() const;
    bool HasRanges() const { return mRangesLength >= 0; }
    QByteArrayView Ranges() const;

private:
    QByteArray mBytes; // shares the caller's bytes
    QByteArray mOtherLines;
    qsizetype mFramesStart = 0;
    qsizetype mFramesLength = -1;
    qsizetype mRangesStart = 0;
    qsizetype mRangesLength = -1;
};
