#pragma once

#include <QDialog>

class Project;
class ProjectManager;
class QDoubleSpinBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

// Edits the open project's source root, image-sequence frame rate, time-control
// frame offset and notes. Modeless and kept: it reloads on every show and when
// another project opens; while the same project changes (a drop, a parse, a
// save elsewhere) only the fields the user has not edited follow it. OK never
// writes the read-only project path back (a Save As while it is open must not
// be undone by OK).
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
    void OnProjectUpdated();
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
    // What LoadValues put in the fields, and for which project: a field
    // that still shows it was not edited.
    Project const* mLoadedProject = nullptr;
    QString mLoadedSourceRootDir;
    double mLoadedFrameRate = 0.0;
    int mLoadedFrameNumberOffset = 0;
    QString mLoadedNotes;
};
