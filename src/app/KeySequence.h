#pragma once

#include "app/KeySequenceType.h"

#include <QKeySequence>
#include <QList>
#include <QString>

class QAction;

// One row of the key-binding table: a command with its built-in and its
// user-chosen shortcuts. A plain record owned by KeyBindings; the preferences
// dialog edits copies of it.
struct KeySequence
{
    KeySequenceType type = KeySequenceType::None;
    QList<QKeySequence> defaultSequences; // empty for an inactive row
    QList<QKeySequence> userSequences;    // in force for an editable row
    QString name;                         // key in the key-binding file
    QString label;                        // shown in the preferences and warnings
    QAction* action = nullptr;            // not owned
    bool fixed = false;                   // always uses its defaults, never stored
    bool active = false;                  // takes part in reading, writing and applying
};
