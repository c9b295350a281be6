#pragma once

#include <QLineEdit>

class QKeyEvent;

// A field that captures one key combination as it is pressed: its text becomes
// the combination in portable text ("Ctrl+Shift+A"). A modifier pressed alone
// changes nothing; every other key, Backspace and the arrows included, is part
// of a combination and never edits the text.
class KeySequenceLineEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit KeySequenceLineEdit(QWidget* parent = nullptr);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
