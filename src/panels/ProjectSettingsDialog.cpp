#include "panels/ProjectSettingsDialog.h"

#include "app/FileHelpers.h"
#include "app/Settings.h"
#include "model/ProjectManager.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

ProjectSettingsDialog::ProjectSettingsDialog(ProjectManager* projectManager, QWidget* parent)
    : QDialog(parent)
    , mProjectManager(projectManager)
{
    setWindowTitle(tr("Project Settings"));
    resize(511, 285);
    auto* form = new QFormLayout();
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto const label = [this](QString const& text, QString const& tip) {
        auto* l = new QLabel(text, this);
        l->setToolTip(tip);
        return l;
    };

    QString const pathTip = tr("The path to the project file");
    mProjectPath = new QLineEdit(this);
    mProjectPath->setReadOnly(true);
    mProjectPath->setToolTip(pathTip);
    mProjectPath->setPlaceholderText(QStringLiteral("<not_set>"));
    form->addRow(label(tr("Project Path:"), pathTip), mProjectPath);

    mSourceRootDir = new QLineEdit(this);
    mSourceRootDir->setMinimumWidth(240);
    mSourceRootDir->setToolTip(
        tr("The root directory for relative path sources. Use [PROJECT_DIR] if empty."));
    mSourceRootDirButton = new QPushButton(tr("Browse..."), this);
    auto* rootRow = new QHBoxLayout();
    rootRow->addWidget(mSourceRootDir);
    rootRow->addWidget(mSourceRootDirButton);
    form->addRow(label(tr("Source Root Directory:"),
                       tr("The root directory for relative path sources. Use project dir if empty.")),
                 rootRow);

    QString const rateTip = tr("Default image sequence frame rate");
    mFrameRate = new QDoubleSpinBox(this);
    mFrameRate->setDecimals(3);
    mFrameRate->setRange(Settings::MINIMUM_IMAGE_SEQUENCE_FRAME_RATE, Settings::MAXIMUM_IMAGE_SEQUENCE_FRAME_RATE);
    mFrameRate->setButtonSymbols(QAbstractSpinBox::NoButtons);
    mFrameRate->setAlignment(Qt::AlignRight);
    mFrameRate->setToolTip(rateTip);
    mFrameRateDefaultButton = new QPushButton(tr("Default"), this);
    auto* rateRow = new QHBoxLayout();
    rateRow->addWidget(mFrameRate);
    rateRow->addWidget(mFrameRateDefaultButton);
    form->addRow(label(tr("Sequence Frame Rate:"), rateTip), rateRow);

    mFrameNumberOffset = new QSpinBox(this);
    mFrameNumberOffset->setRange(0, Settings::MAXIMUM_TIME_CONTROL_FRAME_OFFSET);
    mFrameNumberOffset->setButtonSymbols(QAbstractSpinBox::NoButtons);
    mFrameNumberOffset->setAlignment(Qt::AlignRight);
    mFrameNumberOffsetDefaultButton = new QPushButton(tr("Default"), this);
    auto* offsetRow = new QHBoxLayout();
    offsetRow->addWidget(mFrameNumberOffset);
    offsetRow->addWidget(mFrameNumberOffsetDefaultButton);
    form->addRow(new QLabel(tr("TC Frame Offset:"), this), offsetRow);

    mNotes = new QPlainTextEdit(this);
    mNotes->setToolTip(tr("Notes"));
    form->addRow(label(tr("Notes:"), tr("Notes")), mNotes);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    // The controls' names, by which style sheets and tests find them.
    mProjectPath->setObjectName(QStringLiteral("projectPathLineEdit"));
    mSourceRootDir->setObjectName(QStringLiteral("sourceRootDirLineEdit"));
    mSourceRootDirButton->setObjectName(QStringLiteral("sourceRootDirBtn"));
    mFrameRate->setObjectName(QStringLiteral("frameRateDoubleSpinBox"));
    mFrameRateDefaultButton->setObjectName(QStringLiteral("frameRateDefaultBtn"));
    mFrameNumberOffset->setObjectName(QStringLiteral("frameNumberOffsetSB"));
    mFrameNumberOffsetDefaultButton->setObjectName(QStringLiteral("frameNumberOffsetDefaultBtn"));
    mNotes->setObjectName(QStringLiteral("notesTextEdit"));

    connect(buttons, &QDialogButtonBox::accepted, this, &ProjectSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ProjectSettingsDialog::reject);
    connect(mSourceRootDirButton, &QPushButton::clicked, this, &ProjectSettingsDialog::SelectSourceRootDir);
    connect(mFrameRateDefaultButton, &QPushButton::clicked, this,
            &ProjectSettingsDialog::ResetImageSequenceFrameRate);
    connect(mFrameNumberOffsetDefaultButton, &QPushButton::clicked, this,
            &ProjectSettingsDialog::ResetFrameNumberOffset);
    // Another project, or the same one saved elsewhere: show what is open now.
    connect(mProjectManager, &ProjectManager::ProjectUpdated, this, &ProjectSettingsDialog::OnProjectUpdated);
    connect(mProjectManager, &ProjectManager::ProjectPathChanged, this, &ProjectSettingsDialog::OnProjectUpdated);
}

void ProjectSettingsDialog::ResetImageSequenceFrameRate()
{
    mFrameRate->setValue(Settings::defaultImageSequenceFrameRate);
}

void ProjectSettingsDialog::ResetFrameNumberOffset()
{
    mFrameNumberOffset->setValue(Settings::defaultTimeControlFrameOffset);
}

void ProjectSettingsDialog::SelectSourceRootDir()
{
    QString start = mSourceRootDir->text();
    if (start.isEmpty())
    {
        start = FileHelpers::ProjectDirPath();
    }
    if (start.isEmpty())
    {
        start = FileHelpers::GetRootDir();
    }
    SetSourceRootDirByPath(QFileDialog::getExistingDirectory(this, tr("Source Root Directory"), start,
                                                             QFileDialog::ShowDirsOnly));
}

void ProjectSettingsDialog::SetSourceRootDirByPath(QString const& path)
{
    if (!path.isEmpty())
    {
        mSourceRootDir->setText(path);
    }
}

void ProjectSettingsDialog::LoadValues()
{
    mLoadedProject = mProjectManager->ProjectPtr();
    mProjectPath->setText(FileHelpers::ProjectPath());
    mSourceRootDir->setText(mLoadedSourceRootDir = FileHelpers::SourceRootDirPath());
    mFrameRate->setValue(mProjectManager->ImageSequenceFrameRate());
    mLoadedFrameRate = mFrameRate->value();
    mFrameNumberOffset->setValue(mLoadedFrameNumberOffset = mProjectManager->TimeControlFrameOffset());
    mNotes->setPlainText(mLoadedNotes = mProjectManager->Notes());
    mSourceRootDir->setPlaceholderText(Settings::defaultSourceRootDirPath.isEmpty()
                                           ? QStringLiteral("<project_root>")
                                           : Settings::defaultSourceRootDirPath);
}

void ProjectSettingsDialog::OnProjectUpdated()
{
    // Another project replaces everything; the old one is still alive while
    // its successor is announced, so the pointers never match by chance.
    if (mProjectManager->ProjectPtr() != mLoadedProject)
    {
        LoadValues();
        return;
    }
    mProjectPath->setText(FileHelpers::ProjectPath());
    if (mSourceRootDir->text() == mLoadedSourceRootDir)
    {
        mSourceRootDir->setText(mLoadedSourceRootDir = FileHelpers::SourceRootDirPath());
    }
    if (mFrameRate->value() == mLoadedFrameRate)
    {
        mFrameRate->setValue(mProjectManager->ImageSequenceFrameRate());
        mLoadedFrameRate = mFrameRate->value();
    }
    if (mFrameNumberOffset->value() == mLoadedFrameNumberOffset)
    {
        mFrameNumberOffset->setValue(mLoadedFrameNumberOffset = mProjectManager->TimeControlFrameOffset());
    }
    if (mNotes->toPlainText() == mLoadedNotes)
    {
        mNotes->setPlainText(mLoadedNotes = mProjectManager->Notes());
    }
}

void ProjectSettingsDialog::showEvent(QShowEvent* event)
{
    LoadValues();
    QDialog::showEvent(event);
}

void ProjectSettingsDialog::accept()
{
    mProjectManager->SetSourceRootDirPath(mSourceRootDir->text(), true);
    mProjectManager->SetImageSequenceFrameRate(std::clamp(mFrameRate->value(),
                                                          Settings::MINIMUM_IMAGE_SEQUENCE_FRAME_RATE,
                                                          Settings::MAXIMUM_IMAGE_SEQUENCE_FRAME_RATE));
    mProjectManager->SetTimeControlFrameOffset(
        std::clamp(mFrameNumberOffset->value(), 0, int(Settings::MAXIMUM_TIME_CONTROL_FRAME_OFFSET)));
    mProjectManager->SetNotes(mNotes->toPlainText());
    QDialog::accept();
}
