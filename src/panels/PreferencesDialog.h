#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>

class KeyBindings;
class KeySequenceLineEdit;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QGroupBox;
struct KeySequence;

// The modeless dialog in which the user edits the stored preferences and the
// key bindings. Each time it opens, every control is loaded from Settings and
// the keyboard page works on fresh copies of the key-binding rows; nothing
// changes until OK, which applies everything and writes both user files. A
// write that fails is reported, puts everything back as it was and leaves the
// dialog open.
class PreferencesDialog : public QDialog
{
    Q_OBJECT

public:
    PreferencesDialog(QString const& mostRecentProjectDirPath, KeyBindings* keyBindings, QWidget* parent = nullptr);
    ~PreferencesDialog() override;

    // Path-taking twins of the Browse buttons: an empty path leaves the field
    // as it is.
    void SetTempDirPath(QString const& path);
    void SetSourceRootDirPath(QString const& path);
    void SetFFmpegPath(QString const& path);
    void SetDefaultExportDirPath(QString const& path);

Q_SIGNALS:
    // OK changed Settings::cacheSize from the value loaded when the dialog opened.
    void CacheSizeChanged();

public Q_SLOTS:
    void SetCurrentPage(int row);
    void LoadSettings();
    void accept() override;

    void SelectSourceRootDir();
    void BrowseForTempDir();
    void BrowseForFFmpegPath();
    void BrowseForDefaultExportDir();
    void UpdateEncodingOptionVisibility();
    void ShowVideoCodecSettingsDialog();

    // Keyboard page.
    void LoadKeyBindings();
    void OnSelectedItemChanged();
    void RefreshCurrentKeyBindings();
    void UpdateExistingKeyBindingDisplay(QString const& text);
    void AssignKeyBinding();
    void RemoveCurrentKeyBinding();
    void RemoveKeyBinding(QString const& text);
    void RestoreDefaultKeyBindings();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // One control bound to one Settings variable: how the control is filled,
    // how the variable is written, and a copy of the variable to put back.
    struct SettingLink
    {
        std::function<void()> load;
        std::function<void()> store;
        std::function<std::function<void()>()> snapshot;
    };

    template <typename T, typename Load, typename Store>
    void Link(T& setting, Load load, Store store);
    void LinkCheckBox(QCheckBox* checkBox, bool& setting);
    void LinkSpinBox(QSpinBox* spinBox, int& setting);

    void BuildForm();
    QWidget* BuildGeneralPage();
    QWidget* BuildProjectPage();
    QWidget* BuildKeyboardPage();
    QWidget* BuildAnnotationPage();
    QWidget* BuildExportPage();
    QWidget* BuildNetworkPage();
    QWidget* BuildAdvancedPage();
    void LinkSettings();
    void CopyKeySequences();
    void AddBinding(KeySequence* keySequence);
    KeySequence* CurrentKeySequence() const;
    // The copy that holds the text: a permanent row by its built-in
    // sequences, any other by its own.
    KeySequence* KeySequenceHolding(QString const& text) const;
    void ReportSaveFailure(bool keyBindingsSaved, bool settingsSaved);

    QString mMostRecentProjectDirPath;
    KeyBindings* mKeyBindings = nullptr; // not owned
    QList<KeySequence*> mEditedKeySequences; // owned
    QList<int> mPageIndexes;
    QList<SettingLink> mLinks;
    int mLoadedCacheSize = -1;
    int mH264Quality = 0;
    int mH264Preset = 0;
    int mImagePadding = 4;
    int mImageNumberingType = 0;

    // The form; every widget is a child of the dialog.
    QListWidget* mMenuList = nullptr;
    QStackedWidget* mStack = nullptr;
    QPushButton* mOkButton = nullptr;
    QPushButton* mCancelButton = nullptr;

    QLineEdit* mTempDirEdit = nullptr;
    QSpinBox* mCacheSizeSpinBox = nullptr;
    QSpinBox* mNumRecentFilesSpinBox = nullptr;
    QSpinBox* mNumRecentProjectsSpinBox = nullptr;
    QGroupBox* mConfirmCloseGroup = nullptr;
    QRadioButton* mConfirmAlwaysRadio = nullptr;
    QRadioButton* mConfirmChangesRadio = nullptr;
    QRadioButton* mConfirmDisabledRadio = nullptr;
    QCheckBox* mOpenMediaInNewPlayersCheck = nullptr;
    QCheckBox* mResizeToFitCheck = nullptr;
    QCheckBox* mPausePlaybackOnSeekCheck = nullptr;
    QCheckBox* mPausePlaybackOnScrubCheck = nullptr;
    QCheckBox* mEndlessMouseScrubCheck = nullptr;
    QCheckBox* mPanZoomMouseControlsCheck = nullptr;
    QCheckBox* mHideAnnotationToolbarCheck = nullptr;
    QCheckBox* mHighlightCurrentSourceCheck = nullptr;
    QCheckBox* mSeekRangeStartEndCheck = nullptr;
    QCheckBox* mAudioOnBackwardsPlaybackCheck = nullptr;
    QCheckBox* mHideVolumeControlCheck = nullptr;

    QLineEdit* mSourceRootDirEdit = nullptr;
    QDoubleSpinBox* mImageSeqFrameRateSpinBox = nullptr;
    QSpinBox* mTimeControlFrameOffsetSpinBox = nullptr;
    QCheckBox* mAddDefaultTimelineCheck = nullptr;
    QCheckBox* mActivateDefaultTimelineCheck = nullptr;
    QCheckBox* mRestorePanZoomCheck = nullptr;
    QCheckBox* mRestoreHoldAnnotationsCheck = nullptr;

    QListWidget* mCommandList = nullptr;
    QComboBox* mAssignedShortcutCombo = nullptr;
    QPushButton* mRemoveShortcutButton = nullptr;
    KeySequenceLineEdit* mPressShortcutKeysEdit = nullptr;
    QPushButton* mAssignShortcutButton = nullptr;
    QLineEdit* mShortcutUsedByEdit = nullptr;
    QPushButton* mRestoreDefaultsButton = nullptr;

    QCheckBox* mShowTextBoxCheck = nullptr;
    QSpinBox* mTextBoxWidthSpinBox = nullptr;
    QSpinBox* mTextBoxHeightSpinBox = nullptr;
    QCheckBox* mArrowTipToBaseCheck = nullptr;

    QLineEdit* mFFmpegPathEdit = nullptr;
    QPushButton* mFFmpegBrowseButton = nullptr;
    QLabel* mFFmpegEnvVarLabel = nullptr;
    QLineEdit* mExportDirEdit = nullptr;
    QComboBox* mExportContainerCombo = nullptr;
    QComboBox* mExportVideoCodecCombo = nullptr;
    QPushButton* mExportCodecSettingsButton = nullptr;
    QSpinBox* mExportWidthSpinBox = nullptr;
    QSpinBox* mExportHeightSpinBox = nullptr;
    QRadioButton* mExportTimelineSourcesRadio = nullptr;
    QRadioButton* mExportViewerCaptureRadio = nullptr;
    QCheckBox* mExportIgnoreRangeCheck = nullptr;
    QCheckBox* mExportExcludeAudioCheck = nullptr;
    QCheckBox* mExportFrameNumberingCheck = nullptr;
    QCheckBox* mExportExcludeAnnotationsCheck = nullptr;
    QCheckBox* mExportForceOverwriteCheck = nullptr;

    QSpinBox* mClientApiPortSpinBox = nullptr;
    QRadioButton* mClientApiEnabledRadio = nullptr;
    QRadioButton* mClientApiDisabledRadio = nullptr;
    QSpinBox* mMayaCommandPortSpinBox = nullptr;
    QSpinBox* mMayaSyncTimeoutSpinBox = nullptr;

    QSpinBox* mScrubNormalSpinBox = nullptr;
    QSpinBox* mScrubAltSpinBox = nullptr;
    QSpinBox* mScrubShiftSpinBox = nullptr;
    QGroupBox* mImageSeqThreadCountGroup = nullptr;
    QSpinBox* mImageSeqThreadCountSpinBox = nullptr;
    QRadioButton* mAudioOnScrubAllRadio = nullptr;
    QRadioButton* mAudioOnScrubViewerRadio = nullptr;
    QRadioButton* mAudioOnScrubTimeControlRadio = nullptr;
    QCheckBox* mProjectUndoCheck = nullptr;
    QCheckBox* mSoftwareRendererCheck = nullptr;
};
