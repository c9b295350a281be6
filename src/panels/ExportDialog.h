#pragma once

#include "media/ExportLoggingMsgType.h"

#include <QByteArray>
#include <QDialog>
#include <QTimer>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QToolButton;
struct ExportProperties;

// Where the user sets up an export of the active timeline, starts and stops
// it, follows its progress and reads the encoder's log. It fills an export
// request and emits it; the monitor runs the export and reports back
// through SetExporting, the progress weights and AppendToOutput. Made once
// and reused: field values and geometry stay between showings.
class ExportDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ExportDialog(QWidget* parent = nullptr);
    ~ExportDialog() override;

    void SetWidthHeight(int width, int height);
    void SetTimelineWidthHeight(int width, int height);
    void SetProgressBarWeights(float audio, float video, float stage, float final);
    void SetProgressBarValue(int value);
    void SetExporting(bool exporting, ExportProperties* request);
    bool IsExporting() const;

    QString OutputDirPath() const;
    QString OutputFileName() const;
    QString OutputFilePath() const;
    bool IsImageSequence() const;
    bool IsAudioOnly() const;
    QString Extension() const;
    int ImageSequencePadding() const;
    QString ImageSequencePaddingStr() const;

    // Asks "Stop the export process?"; true for Yes, false when idle.
    bool ConfirmStop();

public Q_SLOTS:
    void AppendToOutput(QString const& message, ExportLoggingMsgType type, bool isError);
    void ClearOutputText();
    void UpdateOutputPath();
    void SelectOutputFilePath();
    // What choosing a file in SelectOutputFilePath does with the chosen path.
    void SetOutputFilePath(QString const& path);
    void ShowInFolder();
    void RefreshUi();
    void MatchTimelineResolution();
    void MatchGlobalResolution();
    void OnOutputDisplayTypeChanged();
    void Export();
    void Cancel();
    void reject() override;

Q_SIGNALS:
    void ExportRequested(ExportProperties const& properties);
    void CancelRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private Q_SLOTS:
    void UpdateProgress();

private:
    void CreateWidgets();
    void CreateLayout();
    void CreateConnections();
    void SaveGeometry();

    bool mExporting = false;
    int mTimelineWidth;
    int mTimelineHeight;
    bool mShownOnce = false;

    QLineEdit* mOutputDirEdit = nullptr;
    QToolButton* mSelectPathButton = nullptr;
    QPushButton* mShowInFolderButton = nullptr;
    QLineEdit* mFileNameEdit = nullptr;
    QLabel* mDotLabel = nullptr;
    QComboBox* mPaddingCombo = nullptr;
    QComboBox* mFormatCombo = nullptr;
    QCheckBox* mForceOverwriteCheck = nullptr;
    QLabel* mResolvedPathLabel = nullptr;
    QSpinBox* mWidthSpin = nullptr;
    QSpinBox* mHeightSpin = nullptr;
    QPushButton* mTimelineButton = nullptr;
    QPushButton* mDefaultButton = nullptr;
    QRadioButton* mTimelineSourcesRadio = nullptr;
    QRadioButton* mViewerCaptureRadio = nullptr;
    QRadioButton* mAllFramesRadio = nullptr;
    QRadioButton* mSteppedRadio = nullptr;
    QRadioButton* mOnlyBookmarksRadio = nullptr;
    QCheckBox* mIgnoreRangeCheck = nullptr;
    QCheckBox* mExcludeAudioCheck = nullptr;
    QCheckBox* mExcludeAnnotationsCheck = nullptr;
    QComboBox* mLogSelector = nullptr;
    QPushButton* mClearButton = nullptr;
    QPlainTextEdit* mLogPanes[3] = {nullptr, nullptr, nullptr}; // general, audio, video
    QProgressBar* mProgressBar = nullptr;
    QPushButton* mExportButton = nullptr;
    QPushButton* mCloseButton = nullptr;

    QFormLayout* mOptionsForm = nullptr;
    QWidget* mResolutionRow = nullptr;
    QWidget* mInputRow = nullptr;
    QWidget* mFramesRow = nullptr;
    QHBoxLayout* mButtonRow = nullptr;

    bool mEncoderMissing = false;
    ExportProperties* mRequest = nullptr; // the running export's, not owned
    float mWeights[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    QByteArray mSavedGeometry;
    QTimer mProgressTimer;
};
