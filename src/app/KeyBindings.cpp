#include "app/KeyBindings.h"

#include "app/FileHelpers.h"
#include "app/Logger.h"
#include "app/PrivateIniCopy.h"
#include "app/Settings.h"
#include "app/UserFileGuard.h"

#include <QAction>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QStringList>

namespace
{
// A stored value that stands for the row's built-in shortcuts.
QString const UNDEFINED_KEY = QStringLiteral("UndefinedKey");
// More shortcuts than any command needs; a file that lists more for one
// command is cut there.
constexpr qsizetype MAXIMUM_SEQUENCES_PER_COMMAND = 16;
} // namespace

KeyBindings::KeyBindings()
{
    InitializeBindings();
}

KeyBindings::~KeyBindings()
{
    qDeleteAll(mKeySequences);
    mKeySequences.clear();
}

KeySequence* KeyBindings::InitializeBinding(KeySequenceType type, QString const& name, QString const& label,
                                            QKeySequence const& defaultSequence, bool fixed, bool active)
{
    auto* keySequence = new KeySequence;
    keySequence->type = type;
    keySequence->name = name;
    keySequence->label = label;
    keySequence->fixed = fixed;
    keySequence->active = active;
    if (active)
    {
        keySequence->defaultSequences.append(defaultSequence);
        keySequence->userSequences.append(defaultSequence);
    }
    mKeySequences.append(keySequence);
    return keySequence;
}

void KeyBindings::InitializeBindings()
{
    using T = KeySequenceType;
    auto const add = [this](T type, char const* name, char const* label, QKeySequence const& sequence) {
        return InitializeBinding(type, QString::fromLatin1(name), QString::fromLatin1(label), sequence, false, true);
    };
    auto const addInactive = [this](T type, char const* name, char const* label) {
        InitializeBinding(type, QString::fromLatin1(name), QString::fromLatin1(label), QKeySequence(), false, false);
    };
    auto const addFixed = [this](T type, char const* name, char const* label, QKeySequence const& sequence) {
        InitializeBinding(type, QString::fromLatin1(name), QString::fromLatin1(label), sequence, true, true);
    };
    QKeySequence const none;

    add(T::ImportFile, "importFile", "Open File", QKeySequence::Open);
    add(T::ImportRecentFile, "importRecentFile", "Open Recent File", Qt::CTRL | Qt::META | Qt::Key_O);
    addInactive(T::ImportFolder, "importFolder", "Import Folder");
    add(T::NewProject, "newProject", "New Project", QKeySequence::New);
    add(T::OpenProject, "openProject", "Open Project", Qt::CTRL | Qt::SHIFT | Qt::Key_O);
    add(T::OpenRecentProject, "openRecentProject", "Open Recent Project", Qt::CTRL | Qt::META | Qt::SHIFT | Qt::Key_O);
    add(T::SaveProject, "saveProject", "Save Project", QKeySequence::Save);
    add(T::SaveProjectAs, "saveProjectAs", "Save Project As", Qt::CTRL | Qt::SHIFT | Qt::Key_S);
    addInactive(T::ExportToFile, "exportToFile", "Export to File");
    add(T::SaveSourceAs, "saveSourceAs", "Save Source As", Qt::CTRL | Qt::Key_D);
    add(T::ReplaceSource, "replaceSource", "Replace Source", none);
    add(T::CaptureToClipboard, "captureToClipboard", "Capture to Clipboard", Qt::CTRL | Qt::Key_C);
    add(T::CaptureToFolder, "captureToFolder", "Capture to Folder", Qt::CTRL | Qt::SHIFT | Qt::Key_C);
    add(T::ShowInFolder, "showInFolder", "Show in Folder", Qt::CTRL | Qt::Key_F);
    add(T::OpenNewInstance, "openNewInstance", "Open New Instance", none);
    add(T::Exit, "exit", "Exit", QKeySequence::Quit);
    addInactive(T::Undo, "undo", "Undo");
    addInactive(T::Redo, "redo", "Redo");
    add(T::RangeStartToCurrent, "rangeStartToCurrent", "Range Start to Current", Qt::Key_Comma);
    add(T::RangeEndToCurrent, "rangeEndToCurrent", "Range End to Current", Qt::Key_Period);
    add(T::ResetRange, "resetRange", "Reset Range", Qt::CTRL | Qt::Key_P);
    add(T::ToggleAlwaysOnTop, "toggleAlwaysOnTop", "Toggle Always on Top", Qt::CTRL | Qt::Key_K);
    addInactive(T::ShowProjectSettings, "showProjectSettings", "Show Project Settings");
    add(T::ShowPreferences, "showPreferences", "Show Preferences", Qt::CTRL | Qt::Key_Comma);
    add(T::PlayPause, "playPause", "Play/Pause", Qt::Key_Space);
    add(T::PlayPauseBookmarksOnly, "playPauseBookmarksOnly", "Play/Pause (Bookmarks Only)", Qt::ALT | Qt::Key_Space);
    add(T::PlayForwards, "playForwards", "Play Forwards/Pause", Qt::Key_L);
    add(T::PlayBackwards, "playBackwards", "Play Backwards/Pause", Qt::Key_J);
    add(T::Pause, "pause", "Pause", Qt::Key_K);
    add(T::StepForwards, "stepForwards", "Step Forwards", Qt::Key_Right);
    add(T::StepBackwards, "stepBackwards", "Step Backwards", Qt::Key_Left);
    add(T::MultiStepForwards, "multiStepForwards", "Multi-Step Forwards", Qt::ALT | Qt::Key_Right);
    add(T::MultiStepBackwards, "multiStepBackwards", "Multi-Step Backwards", Qt::ALT | Qt::Key_Left);
    add(T::SeekStart, "seekStart", "Go to Start", Qt::Key_Home);
    add(T::SeekEnd, "seekEnd", "Go to End", Qt::Key_End);
    add(T::SeekRangeStart, "seekRangeStart", "Go to Range Start", Qt::CTRL | Qt::Key_Left);
    add(T::SeekRangeEnd, "seekRangeEnd", "Go to Range End", Qt::CTRL | Qt::Key_Right);
    add(T::SeekPreviousEdit, "seekPreviousEdit", "Go to Previous Edit", Qt::SHIFT | Qt::Key_Left);
    add(T::SeekNextEdit, "seekNextEdit", "Go to Next Edit", Qt::SHIFT | Qt::Key_Right);
    add(T::ToggleLoop, "toggleLoop", "Toggle Loop", Qt::CTRL | Qt::Key_L);
    // The stored name keeps its historical spelling: users' files use it.
    add(T::TogglePingPong, "tooglePingPong", "Toggle Ping Pong", Qt::CTRL | Qt::SHIFT | Qt::Key_L);
    add(T::ToggleLoopOnStepScrub, "toggleLoopOnStepScrub", "Toggle Loop on Step/Scrub",
        Qt::CTRL | Qt::SHIFT | Qt::Key_Semicolon);
    add(T::ToggleLoopStepScrubToRange, "toggleLoopStepScrubToRange", "Toggle Loop Step/Scrub to Range", none);
    add(T::ToggleLockStepScrubToRange, "toggleLockStepScrubToRange", "Toggle Lock Step/Scrub to Range", none);
    add(T::ToggleAutoplay, "toggleAutoplay", "Toggle Autoplay", Qt::CTRL | Qt::Key_A);
    add(T::PlaybackSpeedNormal, "playbackSpeedNormal", "Playback Speed Normal", Qt::Key_0);
    add(T::PlaybackSpeedHalf, "playbackSpeedHalf", "Playback Speed Half", Qt::Key_9);
    add(T::PlaybackSpeedQuarter, "playbackSpeedQuarter", "Playback Speed Quarter", Qt::Key_8);
    add(T::TogglePlaybackSpeed, "togglePlaybackSpeed", "Toggle Playback Speed", Qt::CTRL | Qt::Key_0);
    KeySequence* const increaseSpeed =
        add(T::IncreasePlaybackSpeed, "increasePlaybackSpeed", "Increase Playback Speed", Qt::Key_Plus);
    add(T::DecreasePlaybackSpeed, "decreasePlaybackSpeed", "Decrease Playback Speed", Qt::Key_Minus);
    add(T::ToggleAudioScrub, "toggleAudioScrub", "Toggle Audio Scrub", Qt::CTRL | Qt::SHIFT | Qt::Key_A);
    add(T::IncreaseVolume, "increaseVolume", "Increase Volume", Qt::SHIFT | Qt::Key_Up);
    add(T::DecreaseVolume, "decreaseVolume", "Decrease Volume", Qt::SHIFT | Qt::Key_Down);
    add(T::ToggleMute, "toggleMute", "Toggle Mute", Qt::CTRL | Qt::Key_M);
    addInactive(T::ToggleViewerAOverB, "toggleViewerAOverB", "Toggle Viewer A/B");
    addInactive(T::ToggleViewerHorizontal, "toggleViewerHorizontal", "Toggle Viewer Horizontal");
    addInactive(T::ToggleViewerVertical, "toggleViewerVertical", "Toggle Viewer Vertical");
    addInactive(T::ToggleViewerGrid, "toggleViewerGrid", "Toggle Viewer Grid");
    addInactive(T::AnnotationsOn, "annotationsOn", "Annotations On");
    addInactive(T::AnnotationsOffDuringPlayback, "annotationsOffDuringPlayback", "Annoations Off During Playback");
    addInactive(T::AnnotationsOff, "annotationsOff", "Annoatations Off");
    add(T::OverlayOff, "overlayOff", "Overlay Off", none);
    add(T::OverlaySafeArea, "overlaySafeArea", "Overlay Safe Area", none);
    add(T::OverlayGrid, "overlayGrid", "Overlay Grid", none);
    add(T::OverlayCenter, "overlayCenter", "Overlay Center", none);
    add(T::ResizeToOriginal, "resizeToOriginal", "Resize to Original", Qt::CTRL | Qt::Key_1);
    add(T::ResizeToHalf, "resizeToHalf", "Resize to Half", Qt::CTRL | Qt::Key_2);
    add(T::ResizeToQuarter, "resizeToQuarter", "Resize to Quarter", Qt::CTRL | Qt::Key_3);
    add(T::ResizeToDouble, "resizeToDouble", "Resize to Double", Qt::CTRL | Qt::SHIFT | Qt::Key_2);
    add(T::ToggleFullscreen, "toggleFullscreen", "Toggle Fullscreen", Qt::CTRL | Qt::META | Qt::Key_F);
    KeySequence* const zoomIn = add(T::ZoomIn, "zoomIn", "Zoom In", Qt::CTRL | Qt::Key_Plus);
    add(T::ZoomOut, "zoomOut", "Zoom Out", Qt::CTRL | Qt::Key_Minus);
    add(T::TogglePanZoom, "togglePanZoom", "Toggle Pan/Zoom", Qt::Key_Backslash);
    add(T::ResetPanZoom, "resetPanZoom", "Reset Pan/Zoom", Qt::CTRL | Qt::Key_Backslash);
    add(T::FlipHorizontal, "flipHorizontal", "Flip Horizontal", Qt::CTRL | Qt::Key_X);
    add(T::FlipVertical, "flipVertical", "Flip Vertical", Qt::CTRL | Qt::SHIFT | Qt::Key_X);
    add(T::RotateCW, "rotateCW", "Rotate CW", Qt::CTRL | Qt::SHIFT | Qt::Key_M);
    add(T::RotateCCW, "rotateCCW", "Rotate CCW", Qt::CTRL | Qt::SHIFT | Qt::Key_N);
    add(T::ResetFlipRotate, "resetFlipRotate", "Reset Flip/Rotate", Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_X);
    addInactive(T::ToggleABWipe, "toggleABWipe", "Toggle A/B Wipe");
    addInactive(T::ResetABWipe, "resetABWipe", "Reset A/B Wipe");
    addInactive(T::ToggleABWipeSnap, "toggleABWipeSnap", "Toggle A/B Wipe Snap");
    addInactive(T::ToggleABWipeSnapGuides, "toggleABWipeSnapGuides", "Toggle A/B Wipe Snap Guides");
    add(T::ToggleBookmark, "toggleBookmark", "Toggle Bookmark", Qt::Key_F);
    add(T::ToggleRangeBookmark, "toggleRangeBookmark", "Toggle Range Bookmark", Qt::Key_R);
    add(T::CutBookmark, "cutBookmark", "Cut Bookmark", Qt::SHIFT | Qt::Key_X);
    add(T::CopyBookmark, "copyBookmark", "Copy Bookmark", Qt::SHIFT | Qt::Key_C);
    add(T::PasteBookmark, "pasteBookmark", "Paste Bookmark", Qt::SHIFT | Qt::Key_V);
    add(T::RemoveBookmarks, "removeBookmarks", "Remove Bookmarks", Qt::CTRL | Qt::SHIFT | Qt::Key_F);
    add(T::RemoveBookmarksInRange, "removeBookmarksInRange", "Remove Bookmarks in Range", Qt::CTRL | Qt::ALT | Qt::Key_F);
    add(T::RemoveRangeBookmarks, "removeRangeBookmarks", "Remove Range Bookmarks", Qt::CTRL | Qt::SHIFT | Qt::Key_R);
    add(T::ClearAllBookmarks, "clearAllBookmarks", "Clear All Bookmarks", Qt::CTRL | Qt::SHIFT | Qt::ALT | Qt::Key_F);
    add(T::PreviousBookmark, "previousBookmark", "Previous Bookmark", Qt::Key_BracketLeft);
    add(T::NextBookmark, "nextBookmark", "Next Bookmark", Qt::Key_BracketRight);
    add(T::PreviousRangeBookmark, "previousRangeBookmark", "Previous Range Bookmark", Qt::CTRL | Qt::Key_BracketLeft);
    add(T::NextRangeBookmark, "nextRangeBookmark", "Next Range Bookmark", Qt::CTRL | Qt::Key_BracketRight);
    addInactive(T::SwapABTimelines, "swapABTimelines", "Swap A/B Timelines");
    addInactive(T::ClearAllViewerTimelines, "clearAllViewerTimelines", "Clear All Viewer Timelines");
    add(T::SwapTimeControls, "swapTimeControls", "Swap Time Controls", Qt::CTRL | Qt::SHIFT | Qt::Key_T);
    add(T::ToggleGlobalTimeControl, "toggleGlobalTimeControl", "Toggle Time Control", Qt::Key_F2);
    add(T::ToggleRangeTimeControl, "toggleRangeTimeControl", "Toggle Range Time Control", Qt::Key_F3);
    add(T::TogglePlaybackControls, "togglePlaybackControls", "Toggle Playback Controls", Qt::Key_F4);
    addInactive(T::ToggleViewerControls, "toggleViewerControls", "Toggle Viewer Controls");
    add(T::ToggleMenuBar, "toggleMenuBar", "Toggle Menu Bar", Qt::Key_F6);
    addInactive(T::ToggleSideBar, "toggleSideBar", "Toggle Side Bar");
    addInactive(T::MoveSideBar, "moveSideBar", "Move Side Bar");
    addInactive(T::ToggleAnnotationTools, "toggleAnnotationTools", "Toggle Annotation Tools");
    add(T::ToggleMediaInfo, "toggleMediaInfo", "Toggle Media Info", Qt::Key_F9);
    add(T::ToggleConsole, "toggleConsole", "Toggle Console", Qt::Key_F10);
    add(T::ShowMayaTools, "showMayaTools", "Show Maya Tools", Qt::CTRL | Qt::ALT | Qt::Key_M);
    addInactive(T::ActivatePencil, "activatePencil", "Activate Pencil");
    addInactive(T::ActivateLaserPointer, "activateLaserPointer", "Activate Laser Pointer");
    addInactive(T::ActivateEraser, "activateEraser", "Activate Eraser");
    addInactive(T::ActivateText, "activateText", "Activate Text");
    addInactive(T::ActivateArrow, "activateArrow", "Activate Arrow");
    addInactive(T::ActivateEllipse, "activateEllipse", "Activate Ellipse");
    addInactive(T::ActivateRectangle, "activateRectangle", "Activate Rectangle");
    addInactive(T::ActivateEyedropper, "activateEyedropper", "Activate Eyedropper");
    add(T::IncreaseToolSize, "increaseToolSize", "Increase Tool Size", none);
    add(T::DecreaseToolSize, "decreaseToolSize", "Decrease Tool Size", none);
    addInactive(T::ToggleHoldAnnotations, "toggleHoldAnnotations", "Toggle Hold Annotations");
    addInactive(T::ToggleGhosting, "toggleGhosting", "Toggle Ghosting");
    add(T::OpenDocumentation, "openDocumentation", "Open Documentation", none);
    addFixed(T::ApplicationEsc, "applicationEsc", "Application", Qt::Key_Escape);
    addFixed(T::ApplicationDel, "applicationDel", "Application", Qt::Key_Delete);

    // Commands with a second built-in shortcut: the same key with and without Shift.
    AddSecondDefault(increaseSpeed, QKeySequence(Qt::Key_Equal));
    AddSecondDefault(zoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal));
}

void KeyBindings::AddSecondDefault(KeySequence* row, QKeySequence const& second)
{
    row->defaultSequences.append(second);
    row->userSequences.append(second);
}

QString KeyBindings::GetUserKeyBindingsPath()
{
    QString const configDirPath = FileHelpers::GetUserConfigDirPath();
    if (configDirPath.isEmpty())
    {
        return QString();
    }
    return QStringLiteral("%1/%2_bindings.ini").arg(configDirPath, Settings::userDirName);
}

void KeyBindings::ReadUserKeyBindings()
{
    QString const path = GetUserKeyBindingsPath();
    // QSettings parses the bytes that were read, never the path again: what
    // the path names may change in between.
    PrivateIniCopy copy;
    QString reason;
    if (!path.isEmpty() && !copy.Read(path, UserFileGuard::MAXIMUM_USER_FILE_SIZE, reason))
    {
        // A FIFO would block the start for good, a huge file hold it for
        // minutes: the built-in shortcuts stand, and the file is kept.
        mUserFileRefused = true;
        Logger::GetInstance()->Warning(QStringLiteral("Failed to read the key-binding file: %1 (%2)").arg(path, reason));
    }
    else if (!path.isEmpty() && QFileInfo::exists(path))
    {
        if (copy.InMemory())
        {
            mUserFileReadOnly = true;
            Logger::GetInstance()->Warning(
                QStringLiteral("No folder could take a private copy of the key-binding file, so it was read in memory "
                               "and this session's key bindings will not be saved: %1 (%2)")
                    .arg(path, copy.FolderProblems()));
        }
        QSettings& settings = copy.Settings();
        settings.beginGroup(QStringLiteral("user_bindings"));
        for (KeySequence* keySequence : std::as_const(mKeySequences))
        {
            if (keySequence->active && !keySequence->fixed)
            {
                ReadKeyBinding(settings, keySequence);
            }
        }
        settings.endGroup();
    }
    Update();
}

void KeyBindings::ReadKeyBinding(QSettings& settings, KeySequence* keySequence)
{
    keySequence->userSequences.clear();
    QStringList const values = settings.value(keySequence->name, QStringList{UNDEFINED_KEY}).toStringList();
    bool cut = false;
    for (QString const& value : values)
    {
        if (value == UNDEFINED_KEY)
        {
            keySequence->userSequences = keySequence->defaultSequences;
        }
        else if (keySequence->userSequences.size() < MAXIMUM_SEQUENCES_PER_COMMAND)
        {
            keySequence->userSequences.append(QKeySequence(value));
        }
        else
        {
            cut = true;
        }
    }
    if (cut)
    {
        Logger::GetInstance()->Warning(QStringLiteral("Too many shortcuts for %1 in the key-binding file: the first %2 are kept")
                                           .arg(keySequence->label)
                                           .arg(MAXIMUM_SEQUENCES_PER_COMMAND));
    }
}

bool KeyBindings::WriteUserKeyBindings()
{
    QString const path = GetUserKeyBindingsPath();
    if (path.isEmpty() || mUserFileReadOnly)
    {
        return false;
    }
    // A file that was not read holds the user's bindings: it is kept,
    // unsaved. Keys it holds for other names stay.
    auto const keep = [&path]
    {
        Logger::GetInstance()->Warning(
            QStringLiteral("The key-binding file was not read, so it is kept and this session's key bindings are not "
                           "saved: %1").arg(path));
        return false;
    };
    if (mUserFileRefused)
    {
        return keep();
    }
    auto const failed = [&path](QString const& reason)
    {
        Logger::GetInstance()->Warning(QStringLiteral("Failed to write key bindings: %1 (%2)").arg(path, reason));
        return false;
    };
    // One that may not be read now (or no private copy can be made of) is
    // left as it is too.
    PrivateIniCopy copy;
    QString reason;
    if (!copy.Read(path, UserFileGuard::MAXIMUM_USER_FILE_SIZE, reason))
    {
        return failed(reason);
    }
    // A copy in memory is never written back.
    if (copy.InMemory())
    {
        return failed(QStringLiteral("no private copy (%1)").arg(copy.FolderProblems()));
    }
    QSettings& settings = copy.Settings();
    settings.beginGroup(QStringLiteral("main"));
    settings.setValue(QStringLiteral("version"), 1);
    settings.endGroup();
    settings.beginGroup(QStringLiteral("user_bindings"));
    for (KeySequence* keySequence : std::as_const(mKeySequences))
    {
        if (keySequence->active && !keySequence->fixed)
        {
            WriteKeyBinding(settings, keySequence);
        }
    }
    settings.endGroup();
    // The new file replaces the old one in one rename, once complete.
    switch (copy.WriteTo(path, reason))
    {
    case PrivateIniCopy::WriteResult::Written:
        return true;
    case PrivateIniCopy::WriteResult::Refused:
        return keep();
    case PrivateIniCopy::WriteResult::Failed:
        break;
    }
    return failed(reason);
}

void KeyBindings::WriteKeyBinding(QSettings& settings, KeySequence* keySequence)
{
    QStringList values;
    for (QKeySequence const& sequence : std::as_const(keySequence->userSequences))
    {
        if (!sequence.isEmpty())
        {
            values.append(sequence.toString(QKeySequence::PortableText));
        }
    }
    // One empty string, not an empty list: it reads back as "no shortcut",
    // while a missing key reads back as the built-in shortcuts.
    if (values.isEmpty())
    {
        values.append(QString());
    }
    settings.setValue(keySequence->name, values);
}

void KeyBindings::Update()
{
    QSet<QKeySequence> taken;
    for (KeySequence* keySequence : std::as_const(mKeySequences))
    {
        if (!keySequence->action || !keySequence->active)
        {
            continue;
        }
        QList<QKeySequence> const given =
            keySequence->fixed ? keySequence->defaultSequences : keySequence->userSequences;
        // A sequence listed twice for one command is ambiguous to Qt, which
        // then fires neither: its first occurrence only is kept. One pass, one
        // warning per sequence however often it is listed.
        QSet<QKeySequence> seen;
        QSet<QKeySequence> warned;
        QList<QKeySequence> sequences;
        for (QKeySequence const& sequence : given)
        {
            bool const duplicate = !sequence.isEmpty() && (seen.contains(sequence) || taken.contains(sequence));
            seen.insert(sequence);
            if (!duplicate)
            {
                sequences.append(sequence);
            }
            else if (!warned.contains(sequence))
            {
                warned.insert(sequence);
                Logger::GetInstance()->Warning(QStringLiteral("Duplicate hotkey detected: %1 (%2)")
                                                   .arg(keySequence->label,
                                                        sequence.toString(QKeySequence::PortableText)));
            }
        }
        bool const removed = sequences.size() != given.size();
        if (removed && !keySequence->fixed)
        {
            if (sequences.isEmpty())
            {
                sequences.append(QKeySequence());
            }
            keySequence->userSequences = sequences;
        }
        keySequence->action->setShortcuts(sequences);
        for (QKeySequence const& sequence : std::as_const(sequences))
        {
            taken.insert(sequence);
        }
    }
}

QList<KeySequence*>& KeyBindings::GetKeySequences()
{
    return mKeySequences;
}

void KeyBindings::UpdateUserSequences(QList<KeySequence*> const& sequences)
{
    for (KeySequence const* given : sequences)
    {
        if (KeySequence* keySequence = Find(given->type))
        {
            keySequence->userSequences = given->userSequences;
        }
    }
    Update();
}

void KeyBindings::SetAction(KeySequenceType type, QAction* action)
{
    if (KeySequence* keySequence = Find(type))
    {
        keySequence->action = action;
    }
}

QKeySequence KeyBindings::GetShortcut(KeySequenceType type) const
{
    KeySequence const* keySequence = Find(type);
    if (!keySequence || keySequence->userSequences.isEmpty())
    {
        return QKeySequence();
    }
    return keySequence->userSequences.first();
}

QString KeyBindings::CreateToolTip(KeySequenceType type, QString const& text) const
{
    QString const shortcut = GetShortcut(type).toString(QKeySequence::PortableText);
    return shortcut.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, shortcut);
}

KeySequence* KeyBindings::Find(KeySequenceType type) const
{
    if (type == KeySequenceType::None)
    {
        return nullptr;
    }
    for (KeySequence* keySequence : mKeySequences)
    {
        if (keySequence->type == type)
        {
            return keySequence;
        }
    }
    return nullptr;
}
