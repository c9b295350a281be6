#pragma once

#include <QByteArrayView>
#include <QStringView>

#include <type_traits>

// Walks a comma-separated list (bookmarked frames, range ends) part by part
// over the text it was given, without making a list of the parts: a file's
// list may hold millions of entries of which only the first few thousand
// are used. Empty parts are passed over, as a split that skips them would.
// The text must outlive the reader. Any thread; no shared state.
template <typename View>
class CommaListReader
{
public:
    explicit CommaListReader(View text)
        : mText(text)
    {
    }

    // The next non-empty part, untrimmed; false at the end of the text.
    bool Next(View& part)
    {
        while (mPosition < mText.size())
        {
            qsizetype end = mText.indexOf(Comma(), mPosition);
            if (end < 0)
            {
                end = mText.size();
            }
            View const found = mText.sliced(mPosition, end - mPosition);
            mPosition = end + 1;
            if (!found.isEmpty())
            {
                part = found;
                return true;
            }
        }
        return false;
    }

    // How many non-empty parts are left, without reading them.
    qsizetype CountRest() const
    {
        qsizetype count = 0;
        qsizetype position = mPosition;
        while (position < mText.size())
        {
            qsizetype end = mText.indexOf(Comma(), position);
            if (end < 0)
            {
                end = mText.size();
            }
            count += end > position ? 1 : 0;
            position = end + 1;
        }
        return count;
    }

private:
    static auto Comma()
    {
        if constexpr (std::is_same_v<View, QStringView>)
        {
            return QChar(u',');
        }
        else
        {
            return ',';
        }
    }

    View mText;
    qsizetype mPosition = 0;
};
