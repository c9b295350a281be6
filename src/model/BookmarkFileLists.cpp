#include "model/BookmarkFileLists.h"

BookmarkFileLists::BookmarkFileLists(QByteArray const& bytes)
    : mBytes(bytes)
{
    QByteArrayView const all(mBytes);
    QByteArrayView section;
    qsizetype lineStart = 0;
    while (lineStart < all.size())
    {
        qsizetype lineEnd = all.indexOf('\n', lineStart);
        lineEnd = lineEnd < 0 ? all.size() : lineEnd + 1;
        QByteArrayView const line = all.sliced(lineStart, lineEnd - lineStart);
        QByteArrayView const trimmed = line.trimmed();
        bool taken = false;
        if (trimmed.startsWith('[') && trimmed.endsWith(']'))
        {
            section = trimmed.sliced(1, trimmed.size() - 2);
        }
        else if (section == QByteArrayView("main"))
        {
            qsizetype const equals = line.indexOf('=');
            QByteArrayView const key = equals < 0 ? QByteArrayView() : line.first(equals).trimmed();
            bool const listKey = key == QByteArrayView("frames") || key == QByteArrayView("ranges");
            if (listKey)
            {
                QByteArrayView const value = line.sliced(equals + 1).trimmed();
                if (!value.contains('\\') && !value.contains(';') && !value.startsWith('@'))
                {
                    qsizetype const start = value.isEmpty() ? 0 : value.data() - all.data();
                    if (key == QByteArrayView("frames"))
                    {
                        mFramesStart = start;
                        mFramesLength = value.size();
                    }
                    else
                    {
                        mRangesStart = start;
                        mRangesLength = value.size();
                    }
                    taken = true;
                }
            }
        }
        if (!taken)
        {
            mOtherLines.append(line);
        }
        lineStart = lineEnd;
    }
}

QByteArrayView BookmarkFileLists::Frames() const
{
    return HasFrames() ? QByteArrayView(mBytes).sliced(mFramesStart, mFramesLength) : QByteArrayView();
}

QByteArrayView BookmarkFileLists::Ranges() const
{
    return HasRanges() ? QByteArrayView(mBytes).sliced(mRangesStart, mRangesLength) : QByteArrayView();
}
