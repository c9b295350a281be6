#pragma once

#include <QMessageBox>
#include <QString>
#include <QTimer>

// Answers every message box that opens while it lives by a mouse click on one
// of its buttons, and counts the questions and keeps the last one's text.
class ModalAnswer
{
public:
    explicit ModalAnswer(QMessageBox::StandardButton answer);
    int Asked() const { return mAsked; }
    QString const& LastText() const { return mLastText; }

private:
    QTimer mTimer;
    QMessageBox::StandardButton mAnswer;
    int mAsked = 0;
    QString mLastText;
};
