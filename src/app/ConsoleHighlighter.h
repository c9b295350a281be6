#pragma once

#include <QSyntaxHighlighter>
#include <QTextCharFormat>

// Colours the "[ERROR]" and "[WARNING]" markers of the console's lines; the rest
// of a line keeps the default format.
class ConsoleHighlighter : public QSyntaxHighlighter
{
public:
    explicit ConsoleHighlighter(QTextDocument* document);

protected:
    void highlightBlock(QString const& text) override;

private:
    QTextCharFormat mErrorFormat;
    QTextCharFormat mWarningFormat;
};
