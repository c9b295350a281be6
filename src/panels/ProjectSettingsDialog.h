#pragma once

#include <QDialog>

class ProjectManager;
class QDoubleSpinBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

// Edits the open project's source root, image-sequence frame rate, time-control
// frame offset and notes. Modeless and kept: it reloads on every show and
// whenever the project or its path changes, and OK never writes the read-only
// project path back (a Save As while it is open must not be undone by OK).
class ProjectSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    ProjectSettingsDialog(ProjectManager* projectManager, QWidget* parent);

    QLineEdit* ProjectPathEdit() const { return mProjectPath; }
    QLineEdit* SourceRootDirEdit() const { return mSourceRootDir; }
    QDoubleSpinBox* FrameRateSpinBox() const { return mFrameRate; }
    QSpinBox* FrameNumberOffsetSpinBox() const { return mFrameNumberOffset; }
    QPlainTextEdit* NotesEdit() const { return mNotes; }

public Q_SLOTS:
    void ResetImageSequenceFrameRate();
    void ResetFrameNumberOffset();
    void SelectSourceRootDir();
    // The twin of the folder chooser: an empty path leaves the field.
    void SetSourceRootDirByPath(QString const& path);
    void LoadValues();
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    ProjectManager* mProjectManager;
    QLineEdit* mProjectPath;
    QLineEdit* mSourceRootDir;
    QPushButton* mSourceRootDirButton;
    QDoubleSpinBox* mFrameRate;
    QPushButton* mFrameRateDefaultButton;
    QSpinBox* mFrameNumberOffset;
    QPushButton* mFrameNumberOffsetDefaultButton;
    QPlainTextEdit* mNotes;
};
