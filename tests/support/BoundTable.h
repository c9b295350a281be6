#pragma once

#include "app/KeyBindings.h"

#include <QAction>
#include <QHash>
#include <QList>
#include <QObject>

// A KeyBindings whose every row has an action of its own, as the main window
// makes them. With applyNow the shortcuts go onto the actions at once
// (KeyBindings::Update); otherwise the actions stay bare until the test applies
// them.
class BoundTable
{
public:
    explicit BoundTable(bool applyNow = true)
    {
        for (KeySequence* row : mBindings.GetKeySequences())
        {
            auto* action = new QAction(row->label, &mOwner);
            mActions.insert(row->type, action);
            mBindings.SetAction(row->type, action);
        }
        if (applyNow)
        {
            mBindings.Update();
        }
    }
    KeyBindings& Bindings() { return mBindings; }
    QAction* Action(KeySequenceType type) const { return mActions.value(type); }
    // The shortcuts in force on the action (an empty sequence binds nothing).
    QList<QKeySequence> Shortcuts(KeySequenceType type) const
    {
        QList<QKeySequence> shortcuts = mActions.value(type)->shortcuts();
        shortcuts.removeAll(QKeySequence());
        return shortcuts;
    }
    KeySequence* Row(KeySequenceType type) { return mBindings.GetKeySequences().at(int(type) - 1); }

private:
    QObject mOwner;
    KeyBindings mBindings;
    QHash<KeySequenceType, QAction*> mActions;
};
