#include "app/ConsoleHighlighter.h"

#include <QRegularExpression>

ConsoleHighlighter::ConsoleHighlighter(QTextDocument* document)
    : QSyntaxHighlighter(document)
{
    mErrorFormat.setForeground(Qt::red);
    mWarningFormat.setForeground(Qt::yellow);
}

void ConsoleHighlighter::highlightBlock(QString const& text)
{
    static QRegularExpression const errorMarker(QStringLiteral("\\[ERROR\\]"));
    static QRegularExpression const warningMarker(QStringLiteral("\\[WARNING\\]"));
    for (auto const& [marker, format] : {std::pair{&errorMarker, &mErrorFormat}, std::pair{&warningMarker, &mWarningFormat}})
    {
        QRegularExpressionMatch const match = marker->match(text);
        if (match.hasMatch())
        {
            setFormat(int(match.capturedStart()), int(match.capturedLength()), *format);
        }
    }
}
