#include "panels/KeySequenceLineEdit.h"

#include <QKeyEvent>
#include <QKeySequence>

namespace
{
bool IsModifierOrUnknown(int key)
{
    switch (key)
    {
    case 0:
    case Qt::Key_unknown:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return true;
    default:
        return false;
    }
}
} // namespace

KeySequenceLineEdit::KeySequenceLineEdit(QWidget* parent)
    : QLineEdit(parent)
{
}

bool KeySequenceLineEdit::event(QEvent* event)
{
    // Claim every combination before a window shortcut can take it, so that
    // a combination already bound elsewhere can still be captured.
    if (event->type() == QEvent::ShortcutOverride)
    {
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        if (!IsModifierOrUnknown(keyEvent->key()))
        {
            event->accept();
            return true;
        }
    }
    return QLineEdit::event(event);
}

void KeySequenceLineEdit::keyPressEvent(QKeyEvent* event)
{
    int const key = event->key();
    if (IsModifierOrUnknown(key))
    {
        event->accept();
        return;
    }
    Qt::KeyboardModifiers const modifiers =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    QString const text = QKeySequence(QKeyCombination(modifiers, Qt::Key(key))).toString(QKeySequence::PortableText);
    setText(text);
    emit textEdited(text);
    event->accept();
}
