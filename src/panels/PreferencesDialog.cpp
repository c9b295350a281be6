#include "panels/PreferencesDialog.h"

#include "app/FileHelpers.h"
#include "app/KeyBindings.h"
#include "app/KeySequence.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "panels/KeySequenceLineEdit.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <cmath>

namespace
{
// Rows of the page list, which are also the pages' indexes in the stack.
enum Page
{
    GeneralPage = 0,
    ProjectPage = 1,
    KeyboardPage = 2,
    AnnotationPage = 3,
    ExportPage = 4,
    NetworkPage = 5,
    AdvancedPage = 6
};

QString const PERMANENT_SUFFIX = QStringLiteral(" (Permanent)");

QString PortableText(QKeySequence const& sequence)
{
    return sequence.toString(QKeySequence::PortableText);
}

QSpinBox* NewSpinBox(QString const& name, int minimum, int maximum)
{
    auto* spinBox = new QSpinBox;
    spinBox->setObjectName(name);
    spinBox->setRange(minimum, maximum);
    spinBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    spinBox->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return spinBox;
}

QCheckBox* NewCheckBox(QString const& name, QString const& text)
{
    auto* checkBox = new QCheckBox(text);
    checkBox->setObjectName(name);
    return checkBox;
}

QRadioButton* NewRadioButton(QString const& name, QString const& text)
{
    auto* radioButton = new QRadioButton(text);
    radioButton->setObjectName(name);
    return radioButton;
}

QPushButton* NewBrowseButton(QString const& name)
{
    auto* button = new QPushButton(QObject::tr("Browse..."));
    button->setObjectName(name);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    return button;
}

QLineEdit* NewLineEdit(QString const& name)
{
    auto* lineEdit = new QLineEdit;
    lineEdit->setObjectName(name);
    return lineEdit;
}

// A group box with a vertical layout whose top and bottom margins are 6.
QGroupBox* NewGroup(QString const& name, QString const& title, QVBoxLayout** layout, int spacing = -1)
{
    auto* group = new QGroupBox(title);
    group->setObjectName(name);
    auto* vertical = new QVBoxLayout(group);
    QMargins margins = vertical->contentsMargins();
    margins.setTop(6);
    margins.setBottom(6);
    vertical->setContentsMargins(margins);
    if (spacing >= 0)
    {
        vertical->setSpacing(spacing);
    }
    *layout = vertical;
    return group;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets, bool stretch = true)
{
    auto* row = new QHBoxLayout;
    for (QWidget* widget : widgets)
    {
        row->addWidget(widget);
    }
    if (stretch)
    {
        row->addStretch(1);
    }
    return row;
}

KeySequence* CopyOf(KeySequence const& row)
{
    auto* copy = new KeySequence;
    copy->type = row.type;
    copy->defaultSequences = row.defaultSequences;
    copy->userSequences = row.userSequences;
    copy->name = row.name;
    copy->label = row.label;
    copy->fixed = row.fixed;
    copy->active = row.active;
    return copy; // the action stays null
}
} // namespace

PreferencesDialog::PreferencesDialog(QString const& mostRecentProjectDirPath, KeyBindings* keyBindings,
                                     QWidget* parent)
    : QDialog(parent)
    , mMostRecentProjectDirPath(mostRecentProjectDirPath)
    , mKeyBindings(keyBindings)
{
    BuildForm();

    for (int row = 0; row < mMenuList->count(); ++row)
    {
        mPageIndexes.append(row);
    }
    // Project, annotation and export pages are not offered; their controls are
    // still loaded and saved.
    mConfirmCloseGroup->hide();
    for (int const row : {int(ExportPage), int(AnnotationPage), int(ProjectPage)})
    {
        delete mMenuList->takeItem(row);
        mPageIndexes.removeAt(row);
    }
    mHideAnnotationToolbarCheck->hide();
    mHighlightCurrentSourceCheck->hide();
    mProjectUndoCheck->hide();
    mImageSeqThreadCountGroup->hide();
    mOpenMediaInNewPlayersCheck->hide();

    mMenuList->setCurrentRow(0);
    mStack->setCurrentIndex(0);

    CopyKeySequences();

    for (QString const& format : Settings::EXPORT_FILE_FORMATS)
    {
        mExportContainerCombo->addItem(format);
    }
    mExportVideoCodecCombo->addItem(QStringLiteral("h264"));

    connect(mMenuList, &QListWidget::currentRowChanged, this, &PreferencesDialog::SetCurrentPage);
    connect(mOkButton, &QPushButton::clicked, this, &PreferencesDialog::accept);
    connect(mCancelButton, &QPushButton::clicked, this, &PreferencesDialog::reject);
    connect(findChild<QPushButton*>(QStringLiteral("tempDirBrowseBtn")), &QPushButton::clicked, this,
            &PreferencesDialog::BrowseForTempDir);
    connect(findChild<QPushButton*>(QStringLiteral("sourceRootDirBrowseBtn")), &QPushButton::clicked, this,
            &PreferencesDialog::SelectSourceRootDir);
    connect(mFFmpegBrowseButton, &QPushButton::clicked, this, &PreferencesDialog::BrowseForFFmpegPath);
    connect(findChild<QPushButton*>(QStringLiteral("exportOutputDirBrowseBtn")), &QPushButton::clicked, this,
            &PreferencesDialog::BrowseForDefaultExportDir);
    connect(mCommandList, &QListWidget::currentItemChanged, this, &PreferencesDialog::OnSelectedItemChanged);
    connect(mPressShortcutKeysEdit, &QLineEdit::textChanged, this,
            &PreferencesDialog::UpdateExistingKeyBindingDisplay);
    connect(mAssignShortcutButton, &QPushButton::clicked, this, &PreferencesDialog::AssignKeyBinding);
    connect(mRemoveShortcutButton, &QPushButton::clicked, this, &PreferencesDialog::RemoveCurrentKeyBinding);
    connect(mRestoreDefaultsButton, &QPushButton::clicked, this, &PreferencesDialog::RestoreDefaultKeyBindings);
    connect(mExportContainerCombo, &QComboBox::currentTextChanged, this,
            &PreferencesDialog::UpdateEncodingOptionVisibility);
    connect(mExportCodecSettingsButton, &QPushButton::clicked, this,
            &PreferencesDialog::ShowVideoCodecSettingsDialog);

    LinkSettings();
}

PreferencesDialog::~PreferencesDialog()
{
    qDeleteAll(mEditedKeySequences);
}

// ---- Form ----

void PreferencesDialog::BuildForm()
{
    setWindowTitle(tr("Preferences"));
    resize(638, 709);
    setMinimumSize(0, 0);
    setMaximumSize(2000, 2000);

    mMenuList = new QListWidget;
    mMenuList->setObjectName(QStringLiteral("menuListWdg"));
    mMenuList->setMaximumWidth(130);
    mMenuList->addItems({tr("General"), tr("Project"), tr("Keyboard"), tr("Annotation"), tr("Export"),
                         tr("Network"), tr("Advanced")});

    mStack = new QStackedWidget;
    mStack->setObjectName(QStringLiteral("preferencesStackedWdg"));
    mStack->addWidget(BuildGeneralPage());
    mStack->addWidget(BuildProjectPage());
    mStack->addWidget(BuildKeyboardPage());
    mStack->addWidget(BuildAnnotationPage());
    mStack->addWidget(BuildExportPage());
    mStack->addWidget(BuildNetworkPage());
    mStack->addWidget(BuildAdvancedPage());

    mOkButton = new QPushButton(tr("OK"));
    mOkButton->setObjectName(QStringLiteral("okButton"));
    mCancelButton = new QPushButton(tr("Cancel"));
    mCancelButton->setObjectName(QStringLiteral("cancelButton"));
    for (QPushButton* button : {mOkButton, mCancelButton})
    {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    auto* top = new QHBoxLayout;
    top->addWidget(mMenuList);
    top->addWidget(mStack, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(mOkButton);
    buttons->addWidget(mCancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);
}

QWidget* PreferencesDialog::BuildGeneralPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("generalPage"));
    auto* layout = new QVBoxLayout(page);
    QVBoxLayout* group = nullptr;

    layout->addWidget(NewGroup(QStringLiteral("tempDirGroupBox"), tr("Temp Directory"), &group, 2));
    mTempDirEdit = NewLineEdit(QStringLiteral("tempDirLE"));
    auto* tempRow = Row({mTempDirEdit, NewBrowseButton(QStringLiteral("tempDirBrowseBtn"))}, false);
    group->addLayout(tempRow);

    layout->addWidget(NewGroup(QStringLiteral("cacheGroupBox"), tr("Cache"), &group, 2));
    mCacheSizeSpinBox = NewSpinBox(QStringLiteral("cacheSizeSB"), Settings::MINIMUM_CACHE_SIZE,
                                   Settings::MAXIMUM_CACHE_SIZE);
    group->addLayout(Row({new QLabel(tr("Size:")), mCacheSizeSpinBox, new QLabel(tr("MB"))}));

    layout->addWidget(NewGroup(QStringLiteral("fileGroupBox"), tr("File"), &group, 2));
    mNumRecentFilesSpinBox = NewSpinBox(QStringLiteral("numRecentFilesSB"), 0, FileHelpers::MAXIMUM_RECENT_FILES);
    mNumRecentProjectsSpinBox =
        NewSpinBox(QStringLiteral("numRecentProjectsSB"), 0, FileHelpers::MAXIMUM_RECENT_PROJECTS);
    auto* fileForm = new QFormLayout;
    fileForm->addRow(tr("Recent Files:"), mNumRecentFilesSpinBox);
    fileForm->addRow(tr("Recent Projects:"), mNumRecentProjectsSpinBox);
    group->addLayout(fileForm);

    mConfirmCloseGroup = NewGroup(QStringLiteral("confirmCloseGroupBox"), tr("Confirm Close"), &group);
    layout->addWidget(mConfirmCloseGroup);
    mConfirmAlwaysRadio = NewRadioButton(QStringLiteral("confirmCloseAlwaysRB"), tr("Always"));
    mConfirmChangesRadio = NewRadioButton(QStringLiteral("confirmCloseChangesRB"), tr("Saved Project Changes"));
    mConfirmDisabledRadio = NewRadioButton(QStringLiteral("confirmCloseDisabledRB"), tr("Disabled"));
    group->addWidget(mConfirmAlwaysRadio);
    group->addWidget(mConfirmChangesRadio);
    group->addWidget(mConfirmDisabledRadio);

    layout->addWidget(NewGroup(QStringLiteral("generalOptionsGroupBox"), tr("Options"), &group));
    mOpenMediaInNewPlayersCheck =
        NewCheckBox(QStringLiteral("openMediaInNewPlayersCB"), tr("Open media in new players"));
    mResizeToFitCheck = NewCheckBox(QStringLiteral("resizeToFitCB"), tr("Resize to fit video"));
    mPausePlaybackOnSeekCheck = NewCheckBox(QStringLiteral("pausePlaybackOnSeekCB"), tr("Pause playback on seek"));
    mPausePlaybackOnScrubCheck =
        NewCheckBox(QStringLiteral("pausePlaybackOnScrubCB"), tr("Pause playback on scrub"));
    mEndlessMouseScrubCheck = NewCheckBox(QStringLiteral("endlessMouseScrubCB"), tr("Endless mouse scrub"));
    mPanZoomMouseControlsCheck =
        NewCheckBox(QStringLiteral("panZoomMouseControlsCB"), tr("Pan/zoom mouse controls enabled"));
    mHideAnnotationToolbarCheck =
        NewCheckBox(QStringLiteral("hideAnnotationToolbarOnLaunchCB"), tr("Hide annotation toolbar on launch"));
    mHighlightCurrentSourceCheck = NewCheckBox(QStringLiteral("highlightCurrentSourceCB"),
                                               tr("Highlight current source in Timeline Panel"));
    mSeekRangeStartEndCheck = NewCheckBox(QStringLiteral("playbackControlsSeekRangeStartEndCB"),
                                          tr("Playback controls seek range start/end"));
    mAudioOnBackwardsPlaybackCheck =
        NewCheckBox(QStringLiteral("audioOnBackwardsPlaybackCB"), tr("Audio output on backwards playback"));
    mHideVolumeControlCheck =
        NewCheckBox(QStringLiteral("hideVolumeControlCB"), tr("Hide volume control (requires restart)"));
    for (QCheckBox* checkBox :
         {mOpenMediaInNewPlayersCheck, mResizeToFitCheck, mPausePlaybackOnSeekCheck, mPausePlaybackOnScrubCheck,
          mEndlessMouseScrubCheck, mPanZoomMouseControlsCheck, mHideAnnotationToolbarCheck,
          mHighlightCurrentSourceCheck, mSeekRangeStartEndCheck, mAudioOnBackwardsPlaybackCheck,
          mHideVolumeControlCheck})
    {
        group->addWidget(checkBox);
    }
    layout->addStretch(1);
    return page;
}

QWidget* PreferencesDialog::BuildProjectPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("projectPage"));
    auto* layout = new QVBoxLayout(page);
    QVBoxLayout* group = nullptr;

    layout->addWidget(NewGroup(QStringLiteral("sourceRootDirGroupBox"), tr("Source Root Directory"), &group));
    mSourceRootDirEdit = NewLineEdit(QStringLiteral("sourceRootDirLE"));
    mSourceRootDirEdit->setPlaceholderText(QStringLiteral("{project_directory}"));
    group->addLayout(Row({mSourceRootDirEdit, NewBrowseButton(QStringLiteral("sourceRootDirBrowseBtn"))}, false));

    layout->addWidget(NewGroup(QStringLiteral("imageSequencesGroupBox"), tr("Image Sequences"), &group));
    mImageSeqFrameRateSpinBox = new QDoubleSpinBox;
    mImageSeqFrameRateSpinBox->setObjectName(QStringLiteral("imageSeqFrameRateSpinBox"));
    mImageSeqFrameRateSpinBox->setDecimals(3);
    mImageSeqFrameRateSpinBox->setRange(Settings::MINIMUM_IMAGE_SEQUENCE_FRAME_RATE,
                                        Settings::MAXIMUM_IMAGE_SEQUENCE_FRAME_RATE);
    mImageSeqFrameRateSpinBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    mImageSeqFrameRateSpinBox->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    group->addLayout(Row({new QLabel(tr("Frame Rate:")), mImageSeqFrameRateSpinBox}));

    layout->addWidget(NewGroup(QStringLiteral("frameNumberingGroupBox"), tr("Frame Numbering"), &group));
    mTimeControlFrameOffsetSpinBox =
        NewSpinBox(QStringLiteral("timeControlFrameOffsetSB"), 0, Settings::MAXIMUM_TIME_CONTROL_FRAME_OFFSET);
    group->addLayout(Row({new QLabel(tr("Time Control Offset:")), mTimeControlFrameOffsetSpinBox}));

    layout->addWidget(NewGroup(QStringLiteral("projectOptionsGroupBox"), tr("Options"), &group));
    mAddDefaultTimelineCheck =
        NewCheckBox(QStringLiteral("addDefaultTimelineCB"), tr("Add default timeline to new project"));
    mActivateDefaultTimelineCheck = NewCheckBox(QStringLiteral("activateDefaultTimelineCB"),
                                                tr("Set default timeline active in new project"));
    mRestorePanZoomCheck =
        NewCheckBox(QStringLiteral("restorePanZoomOnProjectLoadCB"), tr("Restore pan/zoom on project load"));
    mRestoreHoldAnnotationsCheck = NewCheckBox(QStringLiteral("restoreHoldAnnotationsOnProjectLoadCB"),
                                               tr("Restore hold annotations on project load"));
    for (QCheckBox* checkBox :
         {mAddDefaultTimelineCheck, mActivateDefaultTimelineCheck, mRestorePanZoomCheck, mRestoreHoldAnnotationsCheck})
    {
        group->addWidget(checkBox);
    }
    layout->addStretch(1);
    return page;
}

QWidget* PreferencesDialog::BuildKeyboardPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("keyboardPage"));
    auto* layout = new QVBoxLayout(page);

    mCommandList = new QListWidget;
    mCommandList->setObjectName(QStringLiteral("keyboardCommandListWdg"));
    layout->addWidget(mCommandList, 1);

    mAssignedShortcutCombo = new QComboBox;
    mAssignedShortcutCombo->setObjectName(QStringLiteral("assignedShortcutCmb"));
    mRemoveShortcutButton = new QPushButton(tr("Remove"));
    mRemoveShortcutButton->setObjectName(QStringLiteral("removeShortcutBtn"));
    mPressShortcutKeysEdit = new KeySequenceLineEdit;
    mPressShortcutKeysEdit->setObjectName(QStringLiteral("pressShortcutKeysLE"));
    mAssignShortcutButton = new QPushButton(tr("Assign"));
    mAssignShortcutButton->setObjectName(QStringLiteral("assignShortcutBtn"));
    mShortcutUsedByEdit = NewLineEdit(QStringLiteral("shortcutCurrentlyUsedByLE"));
    mShortcutUsedByEdit->setReadOnly(true);
    mRestoreDefaultsButton = new QPushButton(tr("Restore Defaults"));
    mRestoreDefaultsButton->setObjectName(QStringLiteral("restoreDefaultsBtn"));
    for (QPushButton* button : {mRemoveShortcutButton, mAssignShortcutButton, mRestoreDefaultsButton})
    {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
    }

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Assigned Shortcut:")), 0, 0);
    grid->addWidget(mAssignedShortcutCombo, 0, 1);
    grid->addWidget(mRemoveShortcutButton, 0, 2);
    grid->addWidget(new QLabel(tr("Press Shortcut Keys:")), 1, 0);
    grid->addWidget(mPressShortcutKeysEdit, 1, 1);
    grid->addWidget(mAssignShortcutButton, 1, 2);
    grid->addWidget(new QLabel(tr("Shortcut currently used by:")), 2, 0);
    grid->addWidget(mShortcutUsedByEdit, 2, 1);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    layout->addLayout(Row({mRestoreDefaultsButton}));
    return page;
}

QWidget* PreferencesDialog::BuildAnnotationPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("annotationPage"));
    auto* layout = new QVBoxLayout(page);
    QVBoxLayout* group = nullptr;

    layout->addWidget(NewGroup(QStringLiteral("textToolGroupBox"), tr("Text Tool"), &group));
    mShowTextBoxCheck = NewCheckBox(QStringLiteral("showAnnotationTextBoxCB"), QString());
    mTextBoxWidthSpinBox = NewSpinBox(QStringLiteral("annotationTextEditWidthSB"), 10, 100);
    mTextBoxWidthSpinBox->setSuffix(QStringLiteral("%"));
    mTextBoxHeightSpinBox = NewSpinBox(QStringLiteral("annotationTextEditHeightSB"), 5, 100);
    mTextBoxHeightSpinBox->setSuffix(QStringLiteral("%"));
    auto* form = new QFormLayout;
    form->addRow(tr("Enable Text Dialog:"), mShowTextBoxCheck);
    form->addRow(tr("Text Dialog Size:"),
                 Row({mTextBoxWidthSpinBox, new QLabel(QStringLiteral("x")), mTextBoxHeightSpinBox}));
    group->addLayout(form);

    layout->addWidget(NewGroup(QStringLiteral("annotationOptionsGroupBox"), tr("Options"), &group));
    mArrowTipToBaseCheck = NewCheckBox(QStringLiteral("annotationDrawArrowTipToBaseCB"), tr("Draw arrow tip to base"));
    group->addWidget(mArrowTipToBaseCheck);
    layout->addStretch(1);
    return page;
}

QWidget* PreferencesDialog::BuildExportPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("exportPage"));
    auto* layout = new QVBoxLayout(page);
    QVBoxLayout* group = nullptr;

    layout->addWidget(NewGroup(QStringLiteral("ffmpegPathGroupBox"), tr("FFmpeg Path"), &group));
    mFFmpegPathEdit = NewLineEdit(QStringLiteral("ffmpegPathLE"));
    mFFmpegBrowseButton = NewBrowseButton(QStringLiteral("ffmpegPathBrowseBtn"));
    group->addLayout(Row({mFFmpegPathEdit, mFFmpegBrowseButton}, false));
    mFFmpegEnvVarLabel = new QLabel(tr("** Path set using environment variable: VORNA2_FFMPEG_OVERRIDE_PATH **"));
    mFFmpegEnvVarLabel->setObjectName(QStringLiteral("ffmpegEnvVarLbl"));
    group->addWidget(mFFmpegEnvVarLabel);

    layout->addWidget(NewGroup(QStringLiteral("exportOutputGroupBox"), tr("Output"), &group));
    mExportDirEdit = NewLineEdit(QStringLiteral("exportOutputDirLE"));
    mExportContainerCombo = new QComboBox;
    mExportContainerCombo->setObjectName(QStringLiteral("exportContainerCmb"));
    mExportVideoCodecCombo = new QComboBox;
    mExportVideoCodecCombo->setObjectName(QStringLiteral("exportVideoCodecCmb"));
    mExportCodecSettingsButton = new QPushButton(tr("Settings..."));
    mExportCodecSettingsButton->setObjectName(QStringLiteral("exportCodecSettingsBtn"));
    mExportCodecSettingsButton->setAutoDefault(false);
    auto* outputGrid = new QGridLayout;
    outputGrid->addWidget(new QLabel(tr("Directory:")), 0, 0);
    outputGrid->addLayout(Row({mExportDirEdit, NewBrowseButton(QStringLiteral("exportOutputDirBrowseBtn"))}, false),
                          0, 1);
    outputGrid->addWidget(new QLabel(tr("Format")), 1, 0);
    outputGrid->addLayout(Row({mExportContainerCombo, mExportVideoCodecCombo, mExportCodecSettingsButton}), 1, 1);
    group->addLayout(outputGrid);

    layout->addWidget(NewGroup(QStringLiteral("exportOptionsGroupBox"), tr("Options"), &group));
    // Narrower than the stored range allows: smaller pictures are of no use here.
    mExportWidthSpinBox =
        NewSpinBox(QStringLiteral("exportDimensionsWidthSB"), 240, Settings::MAXIMUM_EXPORT_RESOLUTION);
    mExportHeightSpinBox =
        NewSpinBox(QStringLiteral("exportDimensionsHeightSB"), 240, Settings::MAXIMUM_EXPORT_RESOLUTION);
    mExportTimelineSourcesRadio = NewRadioButton(QStringLiteral("exportTimelineSourcesRB"), tr("Timeline Sources"));
    mExportViewerCaptureRadio = NewRadioButton(QStringLiteral("exportViewerCaptureRB"), tr("Viewer Capture"));
    auto* optionsForm = new QFormLayout;
    optionsForm->addRow(tr("Resolution:"),
                        Row({mExportWidthSpinBox, new QLabel(QStringLiteral("x")), mExportHeightSpinBox}));
    optionsForm->addRow(tr("Video Input:"), Row({mExportTimelineSourcesRadio, mExportViewerCaptureRadio}));
    group->addLayout(optionsForm);
    mExportIgnoreRangeCheck = NewCheckBox(QStringLiteral("exportIgnoreRangeCB"), tr("Ignore Range"));
    mExportExcludeAudioCheck = NewCheckBox(QStringLiteral("exportExcludeAudioCB"), tr("Exclude Audio"));
    mExportFrameNumberingCheck = NewCheckBox(QStringLiteral("exportFrameNumberingCB"), tr("Frame Numbering"));
    mExportExcludeAnnotationsCheck =
        NewCheckBox(QStringLiteral("exportExcludeAnnotationsCB"), tr("Exclude Annotations"));
    mExportForceOverwriteCheck = NewCheckBox(QStringLiteral("exportForceOverwriteCB"), tr("Force Overwrite"));
    for (QCheckBox* checkBox : {mExportIgnoreRangeCheck, mExportExcludeAudioCheck, mExportFrameNumberingCheck,
                                mExportExcludeAnnotationsCheck, mExportForceOverwriteCheck})
    {
        group->addWidget(checkBox);
    }
    layout->addStretch(1);
    return page;
}

QWidget* PreferencesDialog::BuildNetworkPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("networkPage"));
    auto* layout = new QVBoxLayout(page);
    QVBoxLayout* group = nullptr;

    layout->addWidget(NewGroup(QStringLiteral("clientApiGroupBox"), tr("Client API (restart required)"), &group));
    // Port 0 would not survive the next start: the settings reader replaces it.
    mClientApiPortSpinBox = NewSpinBox(QStringLiteral("portSB"), 1, 65535);
    mClientApiEnabledRadio = NewRadioButton(QStringLiteral("clientApiEnabledRB"), tr("Enabled"));
    mClientApiDisabledRadio = NewRadioButton(QStringLiteral("clientApiDisabledRB"), tr("Disabled"));
    group->addLayout(Row({new QLabel(tr("Port:")), mClientApiPortSpinBox}));
    group->addLayout(Row({mClientApiEnabledRadio, mClientApiDisabledRadio}));

    layout->addWidget(NewGroup(QStringLiteral("mayaToolsGroupBox"), tr("Maya Tools"), &group));
    mMayaCommandPortSpinBox = NewSpinBox(QStringLiteral("mayaCmdPortSB"), 0, 65535);
    mMayaSyncTimeoutSpinBox = NewSpinBox(QStringLiteral("mayaSyncTimeoutSB"), 0, 65535);
    auto* form = new QFormLayout;
    form->addRow(tr("CommandPort:"), mMayaCommandPortSpinBox);
    form->addRow(tr("Timeout (ms):"), mMayaSyncTimeoutSpinBox);
    group->addLayout(form);
    layout->addStretch(1);
    return page;
}

QWidget* PreferencesDialog::BuildAdvancedPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("advancedPage"));
    auto* layout = new QVBoxLayout(page);
    QVBoxLayout* group = nullptr;

    layout->addWidget(
        NewGroup(QStringLiteral("scrubSpeedGroupBox"), tr("Viewer Scrub Speed (pixels per frame)"), &group));
    mScrubNormalSpinBox = NewSpinBox(QStringLiteral("scrubSpeedNormalSB"), 1, Settings::VIEWER_SCRUB_MAX_PIXELS_PER_FRAME);
    mScrubAltSpinBox = NewSpinBox(QStringLiteral("scrubSpeedAltSB"), 1, Settings::VIEWER_SCRUB_MAX_PIXELS_PER_FRAME);
    mScrubShiftSpinBox = NewSpinBox(QStringLiteral("scrubSpeedShiftSB"), 1, Settings::VIEWER_SCRUB_MAX_PIXELS_PER_FRAME);
    auto* scrubForm = new QFormLayout;
    scrubForm->addRow(tr("No Modifiers"), mScrubNormalSpinBox);
    scrubForm->addRow(tr("Alt Modifier"), mScrubAltSpinBox);
    scrubForm->addRow(tr("Shift Modifier"), mScrubShiftSpinBox);
    group->addLayout(scrubForm);

    mImageSeqThreadCountGroup = NewGroup(QStringLiteral("imageSeqThreadCountGroupBox"),
                                         tr("Image Sequence Thread Count (requires restart)"), &group);
    layout->addWidget(mImageSeqThreadCountGroup);
    mImageSeqThreadCountSpinBox = NewSpinBox(QStringLiteral("imageSeqThreadCountSB"), 2, 32);
    group->addLayout(Row({mImageSeqThreadCountSpinBox, new QLabel(tr("(default: 4)"))}));

    layout->addWidget(NewGroup(QStringLiteral("audioOnScrubGroupBox"), tr("Audio on Scrub"), &group));
    mAudioOnScrubAllRadio = NewRadioButton(QStringLiteral("audioOnScrubAllRB"), tr("All"));
    mAudioOnScrubViewerRadio = NewRadioButton(QStringLiteral("audioOnScrubViewerRB"), tr("Viewer Scrub/Frame Step"));
    mAudioOnScrubTimeControlRadio =
        NewRadioButton(QStringLiteral("audioOnScrubTimeControlRB"), tr("Time Control Scrub"));
    group->addWidget(mAudioOnScrubAllRadio);
    group->addWidget(mAudioOnScrubViewerRadio);
    group->addWidget(mAudioOnScrubTimeControlRadio);

    layout->addWidget(NewGroup(QStringLiteral("advancedOptionsGroupBox"), tr("Options (requires restart)"), &group));
    mProjectUndoCheck = NewCheckBox(QStringLiteral("projectUndoCB"), tr("Project Undo/Redo"));
    mSoftwareRendererCheck = NewCheckBox(QStringLiteral("softwareRendererCB"), tr("Software renderer (experimental)"));
    group->addWidget(mProjectUndoCheck);
    group->addWidget(mSoftwareRendererCheck);
    layout->addStretch(1);
    return page;
}

// ---- Settings ----

template <typename T, typename Load, typename Store>
void PreferencesDialog::Link(T& setting, Load load, Store store)
{
    SettingLink link;
    link.load = [&setting, load] { load(setting); };
    link.store = [&setting, store] { store(setting); };
    link.snapshot = [&setting] { return std::function<void()>([&setting, saved = setting] { setting = saved; }); };
    mLinks.append(std::move(link));
}

void PreferencesDialog::LinkCheckBox(QCheckBox* checkBox, bool& setting)
{
    Link(setting, [checkBox](bool value) { checkBox->setChecked(value); },
         [checkBox](bool& value) { value = checkBox->isChecked(); });
}

void PreferencesDialog::LinkSpinBox(QSpinBox* spinBox, int& setting)
{
    // A stored value outside the control's range shows, and is saved, clamped.
    Link(setting, [spinBox](int value) { spinBox->setValue(value); },
         [spinBox](int& value) { value = spinBox->value(); });
}

void PreferencesDialog::LinkSettings()
{
    // General page.
    Link(Settings::tempDirPath,
         [this](QString const& path) {
             mTempDirEdit->setText(path);
             mTempDirEdit->setPlaceholderText(FileHelpers::GetDefaultUserTempDirPath());
         },
         [this](QString&) { FileHelpers::SetUserTempDirPath(mTempDirEdit->text()); });
    Link(Settings::cacheSize,
         [this](int value) {
             mCacheSizeSpinBox->setRange(Settings::MINIMUM_CACHE_SIZE, Settings::MAXIMUM_CACHE_SIZE);
             mCacheSizeSpinBox->setValue(value);
             mLoadedCacheSize = value;
         },
         [this](int& value) { value = mCacheSizeSpinBox->value(); });
    LinkSpinBox(mNumRecentFilesSpinBox, Settings::numRecentFiles);
    LinkSpinBox(mNumRecentProjectsSpinBox, Settings::numRecentProjects);
    Link(Settings::confirmOnClose,
         [this](int value) {
             (value == 0 ? mConfirmAlwaysRadio : value == 2 ? mConfirmDisabledRadio : mConfirmChangesRadio)
                 ->setChecked(true);
         },
         [this](int& value) { value = mConfirmAlwaysRadio->isChecked() ? 0 : mConfirmDisabledRadio->isChecked() ? 2 : 1; });
    LinkCheckBox(mOpenMediaInNewPlayersCheck, Settings::openMediaInNewPlayers);
    LinkCheckBox(mResizeToFitCheck, Settings::resizeToFit);
    LinkCheckBox(mPausePlaybackOnSeekCheck, Settings::pausePlaybackOnSeek);
    LinkCheckBox(mPausePlaybackOnScrubCheck, Settings::pausePlaybackOnScrub);
    LinkCheckBox(mEndlessMouseScrubCheck, Settings::endlessMouseScrub);
    LinkCheckBox(mPanZoomMouseControlsCheck, Settings::panZoomMouseControls);
    LinkCheckBox(mHideAnnotationToolbarCheck, Settings::hideAnnotationToolbarOnLaunch);
    LinkCheckBox(mHighlightCurrentSourceCheck, Settings::highlightCurrentSourceInTimelinePanel);
    LinkCheckBox(mSeekRangeStartEndCheck, Settings::playbackControlsSeekRangeStartEnd);
    LinkCheckBox(mAudioOnBackwardsPlaybackCheck, Settings::audioOnBackwardsPlayback);
    LinkCheckBox(mHideVolumeControlCheck, Settings::hideVolumeControl);

    // Project page.
    Link(Settings::defaultSourceRootDirPath, [this](QString const& path) { mSourceRootDirEdit->setText(path); },
         [this](QString& path) { path = mSourceRootDirEdit->text(); });
    Link(Settings::defaultImageSequenceFrameRate,
         [this](double value) { mImageSeqFrameRateSpinBox->setValue(value); },
         [this](double& value) { value = mImageSeqFrameRateSpinBox->value(); });
    LinkSpinBox(mTimeControlFrameOffsetSpinBox, Settings::defaultTimeControlFrameOffset);
    LinkCheckBox(mAddDefaultTimelineCheck, Settings::addDefaultTimeline);
    LinkCheckBox(mActivateDefaultTimelineCheck, Settings::activateDefaultTimeline);
    LinkCheckBox(mRestorePanZoomCheck, Settings::restorePanZoomOnProjectLoad);
    LinkCheckBox(mRestoreHoldAnnotationsCheck, Settings::restoreHoldAnnotationsOnProjectLoad);

    // Annotation page: the text box scalers are fractions shown as percent.
    LinkCheckBox(mShowTextBoxCheck, Settings::showAnnotationTextBox);
    auto const linkPercent = [this](QSpinBox* spinBox, float& setting) {
        Link(setting,
             [spinBox](float value) {
                 float const percent = value * 100.0f;
                 spinBox->setValue(std::isfinite(percent) ? int(std::trunc(percent)) : spinBox->minimum());
             },
             [spinBox](float& value) { value = float(spinBox->value()) / 100.0f; });
    };
    linkPercent(mTextBoxWidthSpinBox, Settings::annotationTextBoxWidthScaler);
    linkPercent(mTextBoxHeightSpinBox, Settings::annotationTextBoxHeightScaler);
    LinkCheckBox(mArrowTipToBaseCheck, Settings::annotationDrawArrowTipToBase);

    // Export page.
    Link(Settings::ffmpegExePath,
         [this](QString const& path) {
             mFFmpegPathEdit->setText(path);
             mFFmpegEnvVarLabel->setVisible(Settings::ffmpegPathIsEnvVar);
             mFFmpegPathEdit->setEnabled(!Settings::ffmpegPathIsEnvVar);
             mFFmpegBrowseButton->setEnabled(!Settings::ffmpegPathIsEnvVar);
         },
         [this](QString& path) { path = mFFmpegPathEdit->text(); });
    Link(Settings::exportDirPath, [this](QString const& path) { mExportDirEdit->setText(path); },
         [this](QString& path) { path = mExportDirEdit->text(); });
    Link(Settings::exportFileFormat,
         [this](QString const& format) {
             int const index = mExportContainerCombo->findText(format, Qt::MatchFixedString | Qt::MatchCaseSensitive);
             if (index >= 0)
             {
                 mExportContainerCombo->setCurrentIndex(index);
             }
         },
         [this](QString& format) { format = mExportContainerCombo->currentText(); });
    Link(Settings::h264Quality, [this](int value) { mH264Quality = value; }, [this](int& value) { value = mH264Quality; });
    Link(Settings::h264Preset, [this](int value) { mH264Preset = value; }, [this](int& value) { value = mH264Preset; });
    Link(Settings::exportImagePadding, [this](int value) { mImagePadding = value; },
         [this](int& value) { value = mImagePadding; });
    Link(Settings::exportImageNumberingType, [this](int value) { mImageNumberingType = value; },
         [this](int& value) { value = mImageNumberingType; });
    LinkSpinBox(mExportWidthSpinBox, Settings::exportGlobalWidth);
    LinkSpinBox(mExportHeightSpinBox, Settings::exportGlobalHeight);
    Link(Settings::exportViewer,
         [this](bool viewer) { (viewer ? mExportViewerCaptureRadio : mExportTimelineSourcesRadio)->setChecked(true); },
         [this](bool& viewer) { viewer = mExportViewerCaptureRadio->isChecked(); });
    LinkCheckBox(mExportIgnoreRangeCheck, Settings::exportIgnoreRange);
    LinkCheckBox(mExportExcludeAudioCheck, Settings::exportExcludeAudio);
    LinkCheckBox(mExportFrameNumberingCheck, Settings::exportUseFrameNumbering);
    LinkCheckBox(mExportExcludeAnnotationsCheck, Settings::exportExcludeAnnotations);
    LinkCheckBox(mExportForceOverwriteCheck, Settings::exportForceOverwrite);

    // Network page.
    LinkSpinBox(mClientApiPortSpinBox, Settings::clientApiPort);
    Link(Settings::clientApiPortEnabled,
         [this](bool enabled) { (enabled ? mClientApiEnabledRadio : mClientApiDisabledRadio)->setChecked(true); },
         [this](bool& enabled) { enabled = mClientApiEnabledRadio->isChecked(); });
    Link(Settings::mayaCommandPort, [this](quint16 port) { mMayaCommandPortSpinBox->setValue(port); },
         [this](quint16& port) { port = quint16(mMayaCommandPortSpinBox->value()); });
    // As the settings reader does: the offset port follows the command port.
    Link(Settings::mayaOffsetPort, [](quint16) {},
         [](quint16& port) { port = quint16(Settings::mayaCommandPort + Settings::MAYA_OFFSET_PORT_DISTANCE); });
    LinkSpinBox(mMayaSyncTimeoutSpinBox, Settings::mayaSyncTimeout);

    // Advanced page.
    LinkSpinBox(mScrubNormalSpinBox, Settings::scrubFrameInterval);
    LinkSpinBox(mScrubAltSpinBox, Settings::scrubFrameIntervalAlt);
    LinkSpinBox(mScrubShiftSpinBox, Settings::scrubFrameIntervalShift);
    LinkSpinBox(mImageSeqThreadCountSpinBox, Settings::imageSequenceThreadCount);
    Link(Settings::audioOnScrubType,
         [this](int type) {
             (type == 2 ? mAudioOnScrubTimeControlRadio : type == 1 ? mAudioOnScrubViewerRadio : mAudioOnScrubAllRadio)
                 ->setChecked(true);
         },
         [this](int& type) {
             type = mAudioOnScrubViewerRadio->isChecked() ? 1 : mAudioOnScrubTimeControlRadio->isChecked() ? 2 : 0;
         });
    LinkCheckBox(mProjectUndoCheck, Settings::projectUndoEnabled);
    // Only the stored choice: this run keeps the mode it started with.
    Link(Settings::hardwareRenderingEnabled, [this](bool hardware) { mSoftwareRendererCheck->setChecked(!hardware); },
         [this](bool& hardware) { hardware = !mSoftwareRendererCheck->isChecked(); });
}

void PreferencesDialog::SetCurrentPage(int row)
{
    if (row >= 0 && row < mPageIndexes.size())
    {
        mStack->setCurrentIndex(mPageIndexes.at(row));
    }
}

void PreferencesDialog::LoadSettings()
{
    for (SettingLink const& link : std::as_const(mLinks))
    {
        link.load();
    }
    UpdateEncodingOptionVisibility();
    mRemoveShortcutButton->setEnabled(true);
    mAssignShortcutButton->setEnabled(true);
    mRestoreDefaultsButton->setEnabled(true);
}

void PreferencesDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The window system shows the dialog again after un-minimising or a
    // desktop switch: that keeps the edits. Only opening it reloads.
    if (event->spontaneous())
    {
        return;
    }
    LoadSettings();
    CopyKeySequences();
    LoadKeyBindings();
}

void PreferencesDialog::accept()
{
    // What is in force now, to put back should a file not be written.
    QList<std::function<void()>> restoreSettings;
    for (SettingLink const& link : std::as_const(mLinks))
    {
        restoreSettings.append(link.snapshot());
    }
    QList<KeySequence*> keySequencesInForce;
    for (KeySequence const* row : std::as_const(mKeyBindings->GetKeySequences()))
    {
        keySequencesInForce.append(CopyOf(*row));
    }

    mKeyBindings->UpdateUserSequences(mEditedKeySequences);
    bool const keyBindingsSaved = mKeyBindings->WriteUserKeyBindings();
    for (SettingLink const& link : std::as_const(mLinks))
    {
        link.store();
    }
    bool const settingsSaved = FileHelpers::SaveUserSettings();

    if (!keyBindingsSaved || !settingsSaved)
    {
        for (auto const& restore : std::as_const(restoreSettings))
        {
            restore();
        }
        mKeyBindings->UpdateUserSequences(keySequencesInForce);
        qDeleteAll(keySequencesInForce);
        // A file that was written holds what is no longer in force.
        if (keyBindingsSaved)
        {
            mKeyBindings->WriteUserKeyBindings();
        }
        if (settingsSaved)
        {
            FileHelpers::SaveUserSettings();
        }
        ReportSaveFailure(keyBindingsSaved, settingsSaved);
        return;
    }
    qDeleteAll(keySequencesInForce);

    if (mLoadedCacheSize != Settings::cacheSize)
    {
        mLoadedCacheSize = Settings::cacheSize;
        emit CacheSizeChanged();
    }
    QDialog::accept();
}

void PreferencesDialog::ReportSaveFailure(bool keyBindingsSaved, bool settingsSaved)
{
    QStringList paths;
    if (!settingsSaved)
    {
        paths.append(FileHelpers::GetUserConfigFilePath());
    }
    if (!keyBindingsSaved)
    {
        paths.append(KeyBindings::GetUserKeyBindingsPath());
    }
    QString const text = tr("The preferences could not be saved, so nothing was changed. Check that this can be "
                            "written, then press OK again:\n%1")
                             .arg(paths.join(QLatin1Char('\n')));
    Logger::GetInstance()->Error(QStringLiteral("Failed to save the preferences: %1").arg(paths.join(QStringLiteral(", "))));
    auto* box = new QMessageBox(QMessageBox::Warning, Settings::applicationTitle, text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("saveFailedMessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// ---- Browse buttons ----

void PreferencesDialog::BrowseForTempDir()
{
    QString const start = mTempDirEdit->text().isEmpty() ? mTempDirEdit->placeholderText() : mTempDirEdit->text();
    SetTempDirPath(QFileDialog::getExistingDirectory(this, tr("Select Temp Directory"), start,
                                                     QFileDialog::ShowDirsOnly));
}

void PreferencesDialog::SelectSourceRootDir()
{
    QString const text = mSourceRootDirEdit->text();
    QString const start = !text.isEmpty() && QFileInfo::exists(text) ? text : mMostRecentProjectDirPath;
    SetSourceRootDirPath(QFileDialog::getExistingDirectory(this, tr("Select Source Directory"), start,
                                                           QFileDialog::ShowDirsOnly));
}

void PreferencesDialog::BrowseForFFmpegPath()
{
    QString const start = mFFmpegPathEdit->text().isEmpty() ? FileHelpers::GetRootDir() : mFFmpegPathEdit->text();
    SetFFmpegPath(QFileDialog::getOpenFileName(this, tr("Select ffmpeg Executable"), start));
}

void PreferencesDialog::BrowseForDefaultExportDir()
{
    QString const start = mExportDirEdit->text().isEmpty() ? FileHelpers::GetRootDir() : mExportDirEdit->text();
    SetDefaultExportDirPath(QFileDialog::getExistingDirectory(this, tr("Select Export Directory"), start,
                                                              QFileDialog::ShowDirsOnly));
}

void PreferencesDialog::SetTempDirPath(QString const& path)
{
    if (!path.isEmpty())
    {
        mTempDirEdit->setText(path);
    }
}

void PreferencesDialog::SetSourceRootDirPath(QString const& path)
{
    if (!path.isEmpty())
    {
        mSourceRootDirEdit->setText(path);
    }
}

void PreferencesDialog::SetFFmpegPath(QString const& path)
{
    if (!path.isEmpty())
    {
        mFFmpegPathEdit->setText(path);
    }
}

void PreferencesDialog::SetDefaultExportDirPath(QString const& path)
{
    if (!path.isEmpty())
    {
        mExportDirEdit->setText(path);
    }
}

// ---- Export encoding ----

void PreferencesDialog::UpdateEncodingOptionVisibility()
{
    QString const format = mExportContainerCombo->currentText();
    bool const video = format == QStringLiteral("mp4") || format == QStringLiteral("mov");
    bool const images = format == QStringLiteral("png") || format == QStringLiteral("jpg");
    mExportVideoCodecCombo->setVisible(video);
    mExportCodecSettingsButton->setVisible(video || images);
}

void PreferencesDialog::ShowVideoCodecSettingsDialog()
{
    QString const format = mExportContainerCombo->currentText();
    bool const video = format == QStringLiteral("mp4") || format == QStringLiteral("mov");
    bool const images = format == QStringLiteral("png") || format == QStringLiteral("jpg");
    if (!video && !images)
    {
        return;
    }

    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("codecSettingsDialog"));
    dialog.setModal(true);
    dialog.setMinimumWidth(220);
    auto* layout = new QVBoxLayout(&dialog);
    layout->setContentsMargins(6, 6, 6, 10);
    auto* form = new QFormLayout;
    layout->addLayout(form);

    // There are no OK or Cancel buttons: the values are taken however the
    // dialog is closed. They reach Settings only through OK of this dialog.
    if (video)
    {
        dialog.setWindowTitle(tr("Codec Settings (%1)").arg(mExportVideoCodecCombo->currentText()));
        auto* quality = new QComboBox;
        quality->setObjectName(QStringLiteral("codecQualityCmb"));
        QStringList const qualities = {tr("Very High  "), tr("High"), tr("Medium"), tr("Low")};
        for (int i = 0; i < qualities.size(); ++i)
        {
            quality->addItem(qualities.at(i), i);
        }
        quality->setCurrentIndex(quality->findData(mH264Quality));
        auto* preset = new QComboBox;
        preset->setObjectName(QStringLiteral("codecPresetCmb"));
        QStringList const presets = {tr("Very Slow"), tr("Slow"), tr("Medium"), tr("Fast"), tr("Very Fast"),
                                     tr("Ultra Fast")};
        for (int i = 0; i < presets.size(); ++i)
        {
            preset->addItem(presets.at(i), i);
        }
        preset->setCurrentIndex(preset->findData(mH264Preset));
        form->addRow(tr("Quality:"), quality);
        form->addRow(tr("Preset:"), preset);
        dialog.exec();
        if (quality->currentIndex() >= 0)
        {
            mH264Quality = quality->currentData().toInt();
        }
        if (preset->currentIndex() >= 0)
        {
            mH264Preset = preset->currentData().toInt();
        }
        return;
    }

    dialog.setWindowTitle(tr("Image Sequence Settings"));
    auto* zeroBased = NewRadioButton(QStringLiteral("zeroBasedRB"), tr("Zero Based"));
    auto* oneBased = NewRadioButton(QStringLiteral("oneBasedRB"), tr("One Based"));
    auto* matchFrame = NewRadioButton(QStringLiteral("matchFrameRB"), tr("Match Frame"));
    auto* numbering = new QButtonGroup(&dialog);
    numbering->addButton(zeroBased);
    numbering->addButton(oneBased);
    numbering->addButton(matchFrame);
    (mImageNumberingType == 1 ? oneBased : mImageNumberingType == 2 ? matchFrame : zeroBased)->setChecked(true);
    auto* padding = NewSpinBox(QStringLiteral("imagePaddingSB"), 1, Settings::MAXIMUM_IMAGE_SEQ_PADDING);
    padding->setFixedWidth(40);
    padding->setValue(mImagePadding);
    form->addRow(tr("Numbering:"), Row({zeroBased, oneBased, matchFrame}));
    form->addRow(tr("Padding:"), padding);
    dialog.exec();
    mImagePadding = padding->value();
    mImageNumberingType = oneBased->isChecked() ? 1 : matchFrame->isChecked() ? 2 : 0;
}

// ---- Keyboard page ----

void PreferencesDialog::CopyKeySequences()
{
    // The list's rows point at the copies: empty it first.
    {
        QSignalBlocker const blocker(mCommandList);
        mCommandList->clear();
    }
    qDeleteAll(mEditedKeySequences);
    mEditedKeySequences.clear();
    if (!mKeyBindings)
    {
        return;
    }
    for (KeySequence const* row : std::as_const(mKeyBindings->GetKeySequences()))
    {
        if (row->active)
        {
            mEditedKeySequences.append(CopyOf(*row));
        }
    }
}

void PreferencesDialog::LoadKeyBindings()
{
    {
        QSignalBlocker const blocker(mCommandList);
        mCommandList->clear();
    }
    mAssignedShortcutCombo->clear();
    for (KeySequence* keySequence : std::as_const(mEditedKeySequences))
    {
        if (!keySequence->fixed)
        {
            AddBinding(keySequence);
        }
    }
    if (mCommandList->count() > 0)
    {
        mCommandList->setCurrentRow(0);
    }
    // Make sure the page reflects the first row even when it was current before.
    OnSelectedItemChanged();
}

void PreferencesDialog::AddBinding(KeySequence* keySequence)
{
    auto* item = new QListWidgetItem(keySequence->label, mCommandList);
    item->setData(Qt::UserRole, QVariant::fromValue(static_cast<void*>(keySequence)));
}

KeySequence* PreferencesDialog::CurrentKeySequence() const
{
    QListWidgetItem const* item = mCommandList->currentItem();
    return item ? static_cast<KeySequence*>(item->data(Qt::UserRole).value<void*>()) : nullptr;
}

void PreferencesDialog::OnSelectedItemChanged()
{
    mPressShortcutKeysEdit->clear();
    RefreshCurrentKeyBindings();
}

void PreferencesDialog::RefreshCurrentKeyBindings()
{
    mAssignedShortcutCombo->clear();
    if (KeySequence const* current = CurrentKeySequence())
    {
        for (QKeySequence const& sequence : current->userSequences)
        {
            mAssignedShortcutCombo->addItem(PortableText(sequence));
        }
    }
    UpdateExistingKeyBindingDisplay(mPressShortcutKeysEdit->text());
}

KeySequence* PreferencesDialog::KeySequenceHolding(QString const& text) const
{
    for (KeySequence* keySequence : mEditedKeySequences)
    {
        // A permanent row always has its built-in sequences.
        QList<QKeySequence> const& sequences =
            keySequence->fixed ? keySequence->defaultSequences : keySequence->userSequences;
        for (QKeySequence const& sequence : sequences)
        {
            if (!sequence.isEmpty() && PortableText(sequence) == text)
            {
                return keySequence;
            }
        }
    }
    return nullptr;
}

void PreferencesDialog::UpdateExistingKeyBindingDisplay(QString const& text)
{
    mShortcutUsedByEdit->clear();
    mAssignShortcutButton->setEnabled(true);
    if (text.isEmpty())
    {
        return;
    }
    if (KeySequence const* holder = KeySequenceHolding(text))
    {
        if (holder->fixed)
        {
            mShortcutUsedByEdit->setText(holder->label + PERMANENT_SUFFIX);
            mAssignShortcutButton->setEnabled(false);
        }
        else
        {
            mShortcutUsedByEdit->setText(holder->label);
        }
    }
}

void PreferencesDialog::AssignKeyBinding()
{
    KeySequence* current = CurrentKeySequence();
    QString const text = mPressShortcutKeysEdit->text();
    if (!current || text.isEmpty())
    {
        return;
    }
    KeySequence const* holder = KeySequenceHolding(text);
    if (holder && holder->fixed)
    {
        return;
    }
    QKeySequence const sequence = QKeySequence::fromString(text, QKeySequence::PortableText);
    if (sequence.isEmpty())
    {
        return;
    }
    RemoveKeyBinding(text);
    current->userSequences.append(sequence);
    if (current->userSequences.size() >= 2 && current->userSequences.first().isEmpty())
    {
        current->userSequences.removeFirst();
    }
    RefreshCurrentKeyBindings();
    int const index = mAssignedShortcutCombo->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (index >= 0)
    {
        mAssignedShortcutCombo->setCurrentIndex(index);
    }
    mPressShortcutKeysEdit->clear();
}

void PreferencesDialog::RemoveCurrentKeyBinding()
{
    RemoveKeyBinding(mAssignedShortcutCombo->currentText());
}

void PreferencesDialog::RemoveKeyBinding(QString const& text)
{
    if (text.isEmpty())
    {
        return;
    }
    for (KeySequence* keySequence : std::as_const(mEditedKeySequences))
    {
        if (keySequence->fixed)
        {
            continue;
        }
        qsizetype const removed = keySequence->userSequences.removeIf(
            [&text](QKeySequence const& sequence) { return PortableText(sequence) == text; });
        if (removed > 0 && keySequence->userSequences.isEmpty())
        {
            keySequence->userSequences.append(QKeySequence());
        }
    }
    RefreshCurrentKeyBindings();
}

void PreferencesDialog::RestoreDefaultKeyBindings()
{
    QMessageBox::StandardButton const answer =
        QMessageBox::warning(this, Settings::applicationTitle,
                             tr("Keyboard mappings will reset to their default values. Continue?"),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::Yes)
    {
        for (KeySequence* keySequence : std::as_const(mEditedKeySequences))
        {
            if (!keySequence->fixed)
            {
                keySequence->userSequences = keySequence->defaultSequences;
            }
        }
    }
    RefreshCurrentKeyBindings();
}
