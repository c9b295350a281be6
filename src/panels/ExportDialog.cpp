#include "panels/ExportDialog.h"

#include "app/FileHelpers.h"
#include "app/Settings.h"
#include "media/ExportManager.h"
#include "media/ExportProperties.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace
{
int const PROGRESS_MAXIMUM = 1000;
int const PROGRESS_INTERVAL_MS = 100;
} // namespace

ExportDialog::ExportDialog(QWidget* parent)
    : QDialog(parent)
    , mTimelineWidth(Settings::exportGlobalWidth)
    , mTimelineHeight(Settings::exportGlobalHeight)
{
    // Requests may also travel through queued connections.
    qRegisterMetaType<ExportProperties>("ExportProperties");
    setWindowTitle(QStringLiteral("Export"));
    setMinimumSize(500, 460);
    mProgressTimer.setInterval(PROGRESS_INTERVAL_MS);
    CreateWidgets();
    CreateLayout();
    CreateConnections();
    RefreshUi();
    OnOutputDisplayTypeChanged();
}

ExportDialog::~ExportDialog() = default;

void ExportDialog::CreateWidgets()
{
    mOutputDirEdit = new QLineEdit(this);
    mOutputDirEdit->setObjectName(QStringLiteral("outputDir"));
    mOutputDirEdit->setPlaceholderText(QStringLiteral("<default>"));
    mSelectPathButton = new QToolButton(this);
    mSelectPathButton->setObjectName(QStringLiteral("selectPath"));
    mSelectPathButton->setText(QStringLiteral("..."));
    mSelectPathButton->setToolTip(QStringLiteral("Set Output File Path"));
    mShowInFolderButton = new QPushButton(this);
    mShowInFolderButton->setObjectName(QStringLiteral("showInFolder"));
    QIcon folderIcon(QStringLiteral(":/icons/folder.png"));
    if (folderIcon.isNull())
    {
        folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    }
    mShowInFolderButton->setIcon(folderIcon);
    mShowInFolderButton->setToolTip(QStringLiteral("Show in Folder"));

    mFileNameEdit = new QLineEdit(this);
    mFileNameEdit->setObjectName(QStringLiteral("fileName"));
    mFileNameEdit->setPlaceholderText(QStringLiteral("output"));
    mDotLabel = new QLabel(QStringLiteral("."), this);
    mPaddingCombo = new QComboBox(this);
    mPaddingCombo->setObjectName(QStringLiteral("padding"));
    for (int digits = 1; digits <= 6; ++digits)
    {
        mPaddingCombo->addItem(QString(digits, QLatin1Char('#')), digits);
    }
    mPaddingCombo->setCurrentIndex(std::clamp(Settings::exportImagePadding - 1, 0, 5));
    mFormatCombo = new QComboBox(this);
    mFormatCombo->setObjectName(QStringLiteral("format"));
    mFormatCombo->addItems(Settings::EXPORT_FILE_FORMATS);
    mFormatCombo->setCurrentText(Settings::exportFileFormat);
    mForceOverwriteCheck = new QCheckBox(QStringLiteral("Force overwrite"), this);
    mForceOverwriteCheck->setObjectName(QStringLiteral("forceOverwrite"));
    mForceOverwriteCheck->setChecked(Settings::exportForceOverwrite);
    mResolvedPathLabel = new QLabel(QStringLiteral("<resolved output path>"), this);
    mResolvedPathLabel->setObjectName(QStringLiteral("resolvedPath"));

    auto const makeSizeSpin = [this](QString const& name, int value) {
        auto* spin = new QSpinBox(this);
        spin->setObjectName(name);
        spin->setRange(Settings::MINIMUM_EXPORT_RESOLUTION, Settings::MAXIMUM_EXPORT_RESOLUTION);
        // H.264 in 4:2:0 takes even sizes only.
        spin->setSingleStep(2);
        spin->setMinimumWidth(50);
        spin->setValue(value);
        return spin;
    };
    mWidthSpin = makeSizeSpin(QStringLiteral("width"), Settings::exportGlobalWidth);
    mHeightSpin = makeSizeSpin(QStringLiteral("height"), Settings::exportGlobalHeight);
    mTimelineButton = new QPushButton(QStringLiteral("Timeline"), this);
    mTimelineButton->setObjectName(QStringLiteral("matchTimeline"));
    mDefaultButton = new QPushButton(QStringLiteral("Default"), this);
    mDefaultButton->setObjectName(QStringLiteral("matchDefault"));

    mTimelineSourcesRadio = new QRadioButton(QStringLiteral("Timeline Sources"), this);
    mTimelineSourcesRadio->setObjectName(QStringLiteral("timelineSources"));
    mViewerCaptureRadio = new QRadioButton(QStringLiteral("Viewer Capture"), this);
    mViewerCaptureRadio->setObjectName(QStringLiteral("viewerCapture"));
    mAllFramesRadio = new QRadioButton(QStringLiteral("All Frames"), this);
    mAllFramesRadio->setObjectName(QStringLiteral("allFrames"));
    mSteppedRadio = new QRadioButton(QStringLiteral("Stepped (Bookmarks)"), this);
    mSteppedRadio->setObjectName(QStringLiteral("stepped"));
    mOnlyBookmarksRadio = new QRadioButton(QStringLiteral("Only Bookmarks"), this);
    mOnlyBookmarksRadio->setObjectName(QStringLiteral("onlyBookmarks"));
    // The input pair and the frame choices are two separate choices.
    auto* inputGroup = new QButtonGroup(this);
    inputGroup->addButton(mTimelineSourcesRadio);
    inputGroup->addButton(mViewerCaptureRadio);
    auto* framesGroup = new QButtonGroup(this);
    framesGroup->addButton(mAllFramesRadio);
    framesGroup->addButton(mSteppedRadio);
    framesGroup->addButton(mOnlyBookmarksRadio);
    mAllFramesRadio->setChecked(true);
    (Settings::exportViewer ? mViewerCaptureRadio : mTimelineSourcesRadio)->setChecked(true);

    mIgnoreRangeCheck = new QCheckBox(QStringLiteral("Ignore Range"), this);
    mIgnoreRangeCheck->setObjectName(QStringLiteral("ignoreRange"));
    mIgnoreRangeCheck->setChecked(Settings::exportIgnoreRange);
    mExcludeAudioCheck = new QCheckBox(QStringLiteral("Exclude Audio"), this);
    mExcludeAudioCheck->setObjectName(QStringLiteral("excludeAudio"));
    mExcludeAudioCheck->setChecked(Settings::exportExcludeAudio);
    mExcludeAnnotationsCheck = new QCheckBox(QStringLiteral("Exclude Annotations"), this);
    mExcludeAnnotationsCheck->setObjectName(QStringLiteral("excludeAnnotations"));
    mExcludeAnnotationsCheck->setChecked(Settings::exportExcludeAnnotations);

    mLogSelector = new QComboBox(this);
    mLogSelector->setObjectName(QStringLiteral("logSelector"));
    mLogSelector->addItem(QStringLiteral("General"), 0);
    mLogSelector->addItem(QStringLiteral("Audio"), 1);
    mLogSelector->addItem(QStringLiteral("Video"), 2);
    mClearButton = new QPushButton(QStringLiteral("Clear"), this);
    mClearButton->setObjectName(QStringLiteral("clear"));
    char const* const paneNames[3] = {"generalLog", "audioLog", "videoLog"};
    for (int i = 0; i < 3; ++i)
    {
        mLogPanes[i] = new QPlainTextEdit(this);
        mLogPanes[i]->setObjectName(QLatin1String(paneNames[i]));
        mLogPanes[i]->setReadOnly(true);
    }
    mProgressBar = new QProgressBar(this);
    mProgressBar->setObjectName(QStringLiteral("progress"));
    mProgressBar->setRange(0, PROGRESS_MAXIMUM);
    mProgressBar->setValue(0);
    mProgressBar->hide();
    mExportButton = new QPushButton(QStringLiteral("Export"), this);
    mExportButton->setObjectName(QStringLiteral("export"));
    mExportButton->setFocusPolicy(Qt::NoFocus);
    mExportButton->setAutoDefault(false);
    mCloseButton = new QPushButton(QStringLiteral("Close"), this);
    mCloseButton->setObjectName(QStringLiteral("close"));
    mCloseButton->setFocusPolicy(Qt::NoFocus);
    mCloseButton->setAutoDefault(false);
}

void ExportDialog::CreateLayout()
{
    auto* outputForm = new QFormLayout();
    auto* dirRow = new QHBoxLayout();
    dirRow->addWidget(mOutputDirEdit, 1);
    dirRow->addWidget(mSelectPathButton);
    dirRow->addWidget(mShowInFolderButton);
    outputForm->addRow(QStringLiteral("Output Dir:"), dirRow);
    auto* nameRow = new QHBoxLayout();
    nameRow->addWidget(mFileNameEdit, 1);
    nameRow->addWidget(mDotLabel);
    nameRow->addWidget(mPaddingCombo);
    nameRow->addWidget(mFormatCombo);
    nameRow->addWidget(mForceOverwriteCheck);
    outputForm->addRow(QStringLiteral("File Name:"), nameRow);
    outputForm->addRow(QString(), mResolvedPathLabel);

    auto* options = new QGroupBox(QStringLiteral("Options"), this);
    mOptionsForm = new QFormLayout(options);
    mResolutionRow = new QWidget(options);
    auto* resolution = new QHBoxLayout(mResolutionRow);
    resolution->setContentsMargins(0, 0, 0, 0);
    resolution->addWidget(mWidthSpin);
    resolution->addWidget(new QLabel(QStringLiteral("x"), mResolutionRow));
    resolution->addWidget(mHeightSpin);
    resolution->addWidget(mTimelineButton);
    resolution->addWidget(mDefaultButton);
    resolution->addStretch(1);
    mOptionsForm->addRow(QStringLiteral("Resolution:"), mResolutionRow);
    mInputRow = new QWidget(options);
    auto* input = new QHBoxLayout(mInputRow);
    input->setContentsMargins(0, 0, 0, 0);
    input->addWidget(mTimelineSourcesRadio);
    input->addWidget(mViewerCaptureRadio);
    input->addStretch(1);
    mOptionsForm->addRow(QStringLiteral("Input:  "), mInputRow);
    mFramesRow = new QWidget(options);
    auto* frames = new QHBoxLayout(mFramesRow);
    frames->setContentsMargins(0, 0, 0, 0);
    frames->addWidget(mAllFramesRadio);
    frames->addWidget(mSteppedRadio);
    frames->addWidget(mOnlyBookmarksRadio);
    frames->addStretch(1);
    mOptionsForm->addRow(QString(), mFramesRow);
    mOptionsForm->addRow(QString(), mIgnoreRangeCheck);
    mOptionsForm->addRow(QString(), mExcludeAudioCheck);
    mOptionsForm->addRow(QString(), mExcludeAnnotationsCheck);

    auto* log = new QGroupBox(QStringLiteral("Output Log"), this);
    auto* logLayout = new QVBoxLayout(log);
    auto* logBar = new QHBoxLayout();
    logBar->addWidget(mLogSelector);
    logBar->addStretch(1);
    logBar->addWidget(mClearButton);
    logLayout->addLayout(logBar);
    for (QPlainTextEdit* pane : mLogPanes)
    {
        logLayout->addWidget(pane);
    }

    mButtonRow = new QHBoxLayout();
    mButtonRow->addStretch(1);
    mButtonRow->addWidget(mProgressBar, 1);
    mButtonRow->addWidget(mExportButton);
    mButtonRow->addWidget(mCloseButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(outputForm);
    layout->addWidget(options);
    layout->addWidget(log, 1);
    layout->addLayout(mButtonRow);
}

void ExportDialog::CreateConnections()
{
    connect(mOutputDirEdit, &QLineEdit::textChanged, this, &ExportDialog::UpdateOutputPath);
    connect(mFileNameEdit, &QLineEdit::textChanged, this, &ExportDialog::UpdateOutputPath);
    connect(mPaddingCombo, &QComboBox::currentIndexChanged, this, &ExportDialog::UpdateOutputPath);
    connect(mSelectPathButton, &QToolButton::clicked, this, &ExportDialog::SelectOutputFilePath);
    connect(mShowInFolderButton, &QPushButton::clicked, this, &ExportDialog::ShowInFolder);
    connect(mFormatCombo, &QComboBox::currentIndexChanged, this, &ExportDialog::RefreshUi);
    connect(mTimelineSourcesRadio, &QRadioButton::clicked, this, &ExportDialog::RefreshUi);
    connect(mViewerCaptureRadio, &QRadioButton::clicked, this, &ExportDialog::RefreshUi);
    connect(mTimelineButton, &QPushButton::clicked, this, &ExportDialog::MatchTimelineResolution);
    connect(mDefaultButton, &QPushButton::clicked, this, &ExportDialog::MatchGlobalResolution);
    connect(mLogSelector, &QComboBox::currentIndexChanged, this, &ExportDialog::OnOutputDisplayTypeChanged);
    connect(mClearButton, &QPushButton::clicked, this, &ExportDialog::ClearOutputText);
    connect(mExportButton, &QPushButton::clicked, this, &ExportDialog::Export);
    connect(mCloseButton, &QPushButton::clicked, this, &ExportDialog::Cancel);
    connect(&mProgressTimer, &QTimer::timeout, this, &ExportDialog::UpdateProgress);
}

// ---- Sizes and progress ----

void ExportDialog::SetWidthHeight(int width, int height)
{
    mWidthSpin->setValue(width);
    mHeightSpin->setValue(height);
}

void ExportDialog::SetTimelineWidthHeight(int width, int height)
{
    mTimelineWidth = width < 2 ? Settings::exportGlobalWidth : width;
    mTimelineHeight = height < 2 ? Settings::exportGlobalHeight : height;
}

void ExportDialog::MatchTimelineResolution()
{
    SetWidthHeight(mTimelineWidth, mTimelineHeight);
}

void ExportDialog::MatchGlobalResolution()
{
    SetWidthHeight(Settings::exportGlobalWidth, Settings::exportGlobalHeight);
}

void ExportDialog::SetProgressBarWeights(float audio, float video, float stage, float final)
{
    mWeights[0] = audio;
    mWeights[1] = video;
    mWeights[2] = stage;
    mWeights[3] = final;
}

void ExportDialog::SetProgressBarValue(int value)
{
    mProgressBar->setValue(value);
}

void ExportDialog::UpdateProgress()
{
    if (!mRequest)
    {
        return;
    }
    // The weights are taken relative to their sum, so that a finished
    // export fills the bar exactly, whatever weights the monitor passed.
    float const sum = mWeights[0] + mWeights[1] + mWeights[2] + mWeights[3];
    if (sum <= 0.0f)
    {
        return;
    }
    double const progress = mRequest->audioProgress * mWeights[0] + mRequest->videoProgress * mWeights[1] +
                            mRequest->stageProgress * mWeights[2] + mRequest->finalProgress * mWeights[3];
    long const value = std::lround(10.0 * progress / sum);
    if (value >= 0 && value <= PROGRESS_MAXIMUM)
    {
        mProgressBar->setValue(static_cast<int>(value));
    }
}

void ExportDialog::SetExporting(bool exporting, ExportProperties* request)
{
    if (exporting)
    {
        mRequest = request;
        mProgressBar->setValue(0);
        mProgressTimer.start();
    }
    else
    {
        // The bar shows where the export ended before the request goes.
        UpdateProgress();
        mRequest = nullptr;
        mProgressTimer.stop();
    }
    mExporting = exporting;
    mOutputDirEdit->setEnabled(!exporting);
    mSelectPathButton->setEnabled(!exporting);
    mWidthSpin->setEnabled(!exporting);
    mHeightSpin->setEnabled(!exporting);
    mIgnoreRangeCheck->setEnabled(!exporting);
    mProgressBar->setVisible(exporting);
    mExportButton->setVisible(!exporting);
    mCloseButton->setText(exporting ? QStringLiteral("Stop") : QStringLiteral("Close"));
    // The leading stretch gives way to the bar while it shows.
    mButtonRow->setStretch(0, exporting ? 0 : 1);
}

bool ExportDialog::IsExporting() const
{
    return mExporting;
}

// ---- Paths ----

QString ExportDialog::OutputDirPath() const
{
    QString const text = mOutputDirEdit->text();
    QString path;
    if (text.isEmpty())
    {
        path = FileHelpers::GetExportDirPath();
    }
    else if (QDir::isRelativePath(text))
    {
        path = QStringLiteral("%1/%2").arg(FileHelpers::GetExportDirPath(), text);
    }
    else
    {
        path = text;
    }
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString ExportDialog::OutputFileName() const
{
    QString const text = mFileNameEdit->text();
    return text.isEmpty() ? mFileNameEdit->placeholderText() : text;
}

bool ExportDialog::IsImageSequence() const
{
    QString const format = Extension();
    return format == QLatin1String("png") || format == QLatin1String("jpg");
}

bool ExportDialog::IsAudioOnly() const
{
    return Extension() == QLatin1String("wav");
}

QString ExportDialog::Extension() const
{
    return mFormatCombo->currentText();
}

int ExportDialog::ImageSequencePadding() const
{
    return mPaddingCombo->currentData().toInt();
}

QString ExportDialog::ImageSequencePaddingStr() const
{
    return mPaddingCombo->currentText();
}

QString ExportDialog::OutputFilePath() const
{
    QString const path = IsImageSequence() ? QStringLiteral("%1/%2.%3.%4").arg(OutputDirPath(), OutputFileName(),
                                                                                 ImageSequencePaddingStr(), Extension())
                                           : QStringLiteral("%1/%2.%3").arg(OutputDirPath(), OutputFileName(), Extension());
    return QFileInfo(path).absoluteFilePath();
}

void ExportDialog::UpdateOutputPath()
{
    mResolvedPathLabel->setText(OutputFilePath());
}

void ExportDialog::SelectOutputFilePath()
{
    QString start = OutputFilePath();
    if (!QFileInfo(start).absoluteDir().exists())
    {
        start = QStringLiteral("%1/%2.%3").arg(FileHelpers::GetExportDirPath(), OutputFileName(), Extension());
    }
    QString const filter = QStringLiteral("%1 (*.%2)").arg(Extension().toUpper(), Extension());
    QString const chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Export File Path"), start, filter);
    if (!chosen.isEmpty())
    {
        SetOutputFilePath(chosen);
    }
}

void ExportDialog::SetOutputFilePath(QString const& path)
{
    QFileInfo const info(path);
    mOutputDirEdit->setText(info.absolutePath());
    mFileNameEdit->setText(info.completeBaseName());
}

void ExportDialog::ShowInFolder()
{
    QString const file = OutputFilePath();
    QString const folder = OutputDirPath();
    if (QFileInfo::exists(file))
    {
        FileHelpers::ShowInFolder(file);
    }
    else if (QFileInfo(folder).isDir())
    {
        FileHelpers::ShowInFolder(folder);
    }
    else
    {
        AppendToOutput(QStringLiteral("Output directory does not exist: %1").arg(folder), ExportLoggingMsgType::General,
                       true);
    }
}

// ---- Rows ----

void ExportDialog::RefreshUi()
{
    bool const notWav = !IsAudioOnly();
    bool const viewer = mViewerCaptureRadio->isChecked();
    bool const sequence = IsImageSequence();
    mOptionsForm->setRowVisible(mResolutionRow, notWav);
    mOptionsForm->setRowVisible(mInputRow, notWav);
    mOptionsForm->setRowVisible(mFramesRow, notWav && viewer);
    mOptionsForm->setRowVisible(mExcludeAnnotationsCheck, notWav && viewer);
    mOnlyBookmarksRadio->setVisible(viewer && sequence);
    if (mOnlyBookmarksRadio->isChecked() && !mOnlyBookmarksRadio->isVisibleTo(this))
    {
        mAllFramesRadio->setChecked(true); // a hidden choice is never in force
    }
    mOptionsForm->setRowVisible(mExcludeAudioCheck, notWav && !sequence);
    mDotLabel->setVisible(sequence);
    mPaddingCombo->setVisible(sequence);
    UpdateOutputPath();
}

// ---- Log ----

void ExportDialog::AppendToOutput(QString const& message, ExportLoggingMsgType type, bool isError)
{
    QString const text = isError ? QStringLiteral("[ERROR] %1").arg(message) : message;
    int const pane = type == ExportLoggingMsgType::Video ? 2 : type == ExportLoggingMsgType::Audio ? 1 : 0;
    mLogPanes[pane]->appendPlainText(text);
    if (isError && pane == 0)
    {
        mLogSelector->setCurrentIndex(mLogSelector->findData(0));
    }
}

void ExportDialog::ClearOutputText()
{
    for (QPlainTextEdit* pane : mLogPanes)
    {
        pane->clear();
    }
}

void ExportDialog::OnOutputDisplayTypeChanged()
{
    int const shown = mLogSelector->currentData().toInt();
    for (int i = 0; i < 3; ++i)
    {
        mLogPanes[i]->setVisible(i == shown);
    }
}

// ---- Export and stop ----

void ExportDialog::Export()
{
    if (mExporting)
    {
        return;
    }
    ClearOutputText();
    QString const path = OutputFilePath();
    if (path.isEmpty())
    {
        QMessageBox::critical(this, QStringLiteral("Error"), QStringLiteral("The output path is not set."));
        AppendToOutput(QStringLiteral("Export failed. The output path is not set."), ExportLoggingMsgType::General, true);
        return;
    }
    if (QDir::isRelativePath(path))
    {
        AppendToOutput(QStringLiteral("Export failed. Invaild Output Path: %1").arg(path), ExportLoggingMsgType::General,
                       true);
        return;
    }
    bool const sequence = IsImageSequence();
    if (QFileInfo::exists(path) && !mForceOverwriteCheck->isChecked() && !sequence)
    {
        AppendToOutput(QStringLiteral("Export failed. Output file already exists (enable force overwrite to continue)."),
                       ExportLoggingMsgType::General, true);
        return;
    }
    ExportProperties properties;
    properties.outputFilePath = path;
    properties.width = mWidthSpin->value();
    properties.height = mHeightSpin->value();
    properties.noAudio = mExcludeAudioCheck->isChecked();
    properties.excludeAnnotations = mExcludeAnnotationsCheck->isChecked();
    properties.ignoreRange = mIgnoreRangeCheck->isChecked();
    properties.viewerCapture = mViewerCaptureRadio->isChecked();
    properties.framesMode = mOnlyBookmarksRadio->isChecked() ? 1 : mSteppedRadio->isChecked() ? 2 : 0;
    properties.imageSequence = sequence;
    if (sequence)
    {
        properties.imageDirPath = OutputDirPath();
        properties.imageBaseName = OutputFileName();
        properties.imagePadding = ImageSequencePadding();
        properties.imageExtension = Extension();
        properties.imageNumberingType = Settings::exportImageNumberingType;
        properties.overwriteExisting = mForceOverwriteCheck->isChecked();
    }
    properties.h264Quality = Settings::h264Quality;
    properties.h264Preset = Settings::h264Preset;
    emit ExportRequested(properties);
}

bool ExportDialog::ConfirmStop()
{
    if (!mExporting)
    {
        return false;
    }
    return QMessageBox::question(this, QStringLiteral("Stop Export"), QStringLiteral("Stop the export process?"),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void ExportDialog::Cancel()
{
    if (!mExporting)
    {
        close();
        return;
    }
    if (ConfirmStop())
    {
        emit CancelRequested();
    }
}

void ExportDialog::reject()
{
    if (mExporting)
    {
        if (!ConfirmStop())
        {
            return;
        }
        emit CancelRequested();
    }
    else if (mEncoderMissing)
    {
        ClearOutputText();
    }
    QDialog::reject();
}

// ---- Showing and closing ----

void ExportDialog::showEvent(QShowEvent* event)
{
    if (!mSavedGeometry.isEmpty())
    {
        restoreGeometry(mSavedGeometry);
    }
    mShownOnce = true;
    QString const configured = Settings::ffmpegExePath;
    QFileInfo const encoder(ExportManager::FfmpegExecutablePath());
    if (!encoder.filePath().isEmpty() && encoder.isFile())
    {
        mEncoderMissing = false;
        mExportButton->setEnabled(true);
    }
    else
    {
        ClearOutputText();
        AppendToOutput(configured.isEmpty() ? QStringLiteral("The ffmpeg path is not set (Preferences->Export)")
                                            : QStringLiteral("The ffmpeg path does not exist: %1").arg(configured),
                       ExportLoggingMsgType::General, true);
        mEncoderMissing = true;
        mExportButton->setEnabled(false);
    }
    UpdateOutputPath();
    QDialog::showEvent(event);
}

void ExportDialog::closeEvent(QCloseEvent* event)
{
    SaveGeometry();
    QDialog::closeEvent(event);
}

void ExportDialog::hideEvent(QHideEvent* event)
{
    SaveGeometry();
    QDialog::hideEvent(event);
}

void ExportDialog::SaveGeometry()
{
    mSavedGeometry = saveGeometry();
}
