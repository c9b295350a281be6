#pragma once

#include "app/KeySequence.h"

#include <QKeySequence>
#include <QList>
#include <QString>

class QAction;
class QSettings;

// The table of the player's 126 bindable commands. The main window attaches one
// action per command it offers; Update() then puts the shortcuts in force on the
// actions so that no key sequence is on two of them (the smaller id wins). The
// user's choices live in their own INI file beside the settings file.
class KeyBindings
{
public:
    KeyBindings();
    ~KeyBindings();

    KeyBindings(KeyBindings const&) = delete;
    KeyBindings& operator=(KeyBindings const&) = delete;

    static QString GetUserKeyBindingsPath();

    void ReadUserKeyBindings();
    // Replaces the file in one rename once the new content is complete. False
    // (and logged) when it could not be written; the old file is then kept.
    // A file the read refused is never written over by this table.
    bool WriteUserKeyBindings();
    void Update();

    QList<KeySequence*>& GetKeySequences();
    void UpdateUserSequences(QList<KeySequence*> const& sequences);
    void SetAction(KeySequenceType type, QAction* action);
    QKeySequence GetShortcut(KeySequenceType type) const;
    QString CreateToolTip(KeySequenceType type, QString const& text) const;

private:
    KeySequence* InitializeBinding(KeySequenceType type, QString const& name, QString const& label,
                                   QKeySequence const& defaultSequence, bool fixed, bool active);
    void InitializeBindings();
    // Gives a command a second built-in shortcut beside its first.
    static void AddSecondDefault(KeySequence* row, QKeySequence const& second);
    void ReadKeyBinding(QSettings& settings, KeySequence* keySequence);
    void WriteKeyBinding(QSettings& settings, KeySequence* keySequence);
    KeySequence* Find(KeySequenceType type) const;

    QList<KeySequence*> mKeySequences;
    // The user's file was there but refused at the read: it stays as it is.
    bool mUserFileRefused = false;
    // The user's file was read in memory, as no folder could take a private
    // copy: the run's bindings are not written back over it.
    bool mUserFileReadOnly = false;
};
