#pragma once

#include <QDialog>

class QLabel;
class QTextBrowser;

// Shows the application's title and version.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent);

    QLabel* TitleLabel() const { return mTitle; }
    QLabel* VersionLabel() const { return mVersion; }

private:
    QLabel* mTitle;
    QLabel* mVersion;
    QTextBrowser* mText;
};
