#pragma once

// Shared by the preferences dialog tests: a key-binding table with one action
// per row (as the main window makes), the dialog under test, real key input
// helpers, modal-dialog answering and a dump of every setting the dialog edits.

#include "app/FileHelpers.h"
#include "app/KeyBindings.h"
#include "app/Settings.h"
#include "panels/PreferencesDialog.h"
#include "support/BoundTable.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QHash>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace PreferencesFixture
{
template <typename T>
T* Find(QObject* parent, char const* name)
{
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    if (!child)
        qWarning("no child named %s", name);
    return child;
}

// Ctrl+A and typing, as the user replaces a field's text.
inline void TypeInto(QWidget* widget, QString const& text)
{
    QTest::keyClick(widget, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(widget, Qt::Key_Backspace);
    QTest::keyClicks(widget, text);
}

// Space toggles a check box and checks a radio button.
inline void PressSpace(QAbstractButton* button)
{
    QTest::keyClick(button, Qt::Key_Space);
}

// Runs `answer` on the next application-modal window that is not the dialog
// under test, once it is shown (message boxes and the codec dialog run their
// own event loops).
inline void WhenModalShown(std::function<void(QWidget*)> answer)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        answer(modal);
    });
    timer->start();
}

inline void AnswerMessageBox(QMessageBox::StandardButton button, QString* text = nullptr)
{
    WhenModalShown([button, text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
        {
            modal->close();
            return;
        }
        if (text)
            *text = box->text();
        QTest::mouseClick(box->button(button), Qt::LeftButton);
    });
}

inline QByteArray ReadFile(QString const& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

#define PREFS_DUMP(name) lines.append(QStringLiteral(#name "=") + QVariant::fromValue(Settings::name).toString())

// The stored variables the dialog edits, as a new process reads them back.
inline QStringList StoredSettingsDump()
{
    QStringList lines;
    PREFS_DUMP(tempDirPath);
    PREFS_DUMP(cacheSize);
    PREFS_DUMP(numRecentFiles);
    PREFS_DUMP(numRecentProjects);
    PREFS_DUMP(openMediaInNewPlayers);
    PREFS_DUMP(resizeToFit);
    PREFS_DUMP(pausePlaybackOnSeek);
    PREFS_DUMP(pausePlaybackOnScrub);
    PREFS_DUMP(endlessMouseScrub);
    PREFS_DUMP(panZoomMouseControls);
    PREFS_DUMP(playbackControlsSeekRangeStartEnd);
    PREFS_DUMP(audioOnBackwardsPlayback);
    PREFS_DUMP(hideVolumeControl);
    PREFS_DUMP(clientApiPort);
    PREFS_DUMP(clientApiPortEnabled);
    PREFS_DUMP(mayaCommandPort);
    PREFS_DUMP(mayaOffsetPort);
    PREFS_DUMP(mayaSyncTimeout);
    PREFS_DUMP(hardwareRenderingEnabled);
    PREFS_DUMP(scrubFrameInterval);
    PREFS_DUMP(scrubFrameIntervalShift);
    PREFS_DUMP(scrubFrameIntervalAlt);
    PREFS_DUMP(audioOnScrubType);
    return lines;
}

// Everything the dialog edits, the variables kept in memory only included.
inline QStringList AllSettingsDump()
{
    QStringList lines = StoredSettingsDump();
    PREFS_DUMP(confirmOnClose);
    PREFS_DUMP(hideAnnotationToolbarOnLaunch);
    PREFS_DUMP(highlightCurrentSourceInTimelinePanel);
    PREFS_DUMP(defaultSourceRootDirPath);
    PREFS_DUMP(defaultImageSequenceFrameRate);
    PREFS_DUMP(defaultTimeControlFrameOffset);
    PREFS_DUMP(addDefaultTimeline);
    PREFS_DUMP(activateDefaultTimeline);
    PREFS_DUMP(restorePanZoomOnProjectLoad);
    PREFS_DUMP(restoreHoldAnnotationsOnProjectLoad);
    PREFS_DUMP(showAnnotationTextBox);
    PREFS_DUMP(annotationTextBoxWidthScaler);
    PREFS_DUMP(annotationTextBoxHeightScaler);
    PREFS_DUMP(annotationDrawArrowTipToBase);
    PREFS_DUMP(ffmpegExePath);
    PREFS_DUMP(exportDirPath);
    PREFS_DUMP(exportFileFormat);
    PREFS_DUMP(h264Quality);
    PREFS_DUMP(h264Preset);
    PREFS_DUMP(exportImagePadding);
    PREFS_DUMP(exportImageNumberingType);
    PREFS_DUMP(exportGlobalWidth);
    PREFS_DUMP(exportGlobalHeight);
    PREFS_DUMP(exportViewer);
    PREFS_DUMP(exportIgnoreRange);
    PREFS_DUMP(exportExcludeAudio);
    PREFS_DUMP(exportUseFrameNumbering);
    PREFS_DUMP(exportExcludeAnnotations);
    PREFS_DUMP(exportForceOverwrite);
    PREFS_DUMP(imageSequenceThreadCount);
    PREFS_DUMP(projectUndoEnabled);
    return lines;
}

#undef PREFS_DUMP

// Every editable row's shortcuts, one line per row.
inline QStringList KeyBindingsDump(KeyBindings& bindings)
{
    QStringList lines;
    for (KeySequence const* row : bindings.GetKeySequences())
    {
        if (!row->active || row->fixed)
            continue;
        QStringList sequences;
        for (QKeySequence const& sequence : row->userSequences)
            sequences.append(sequence.toString(QKeySequence::PortableText));
        lines.append(row->name + QLatin1Char('=') + sequences.join(QLatin1Char(';')));
    }
    return lines;
}

inline QString SettingsPath() { return FileHelpers::GetUserConfigFilePath(); }
inline QString BindingsPath() { return KeyBindings::GetUserKeyBindingsPath(); }
} // namespace PreferencesFixture
