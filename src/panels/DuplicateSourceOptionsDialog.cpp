#include "panels/DuplicateSourceOptionsDialog.h"

#include "app/Settings.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

DuplicateSourceOptionsDialog::DuplicateSourceOptionsDialog(QUuid const& sourceTimelineId, QWidget* parent)
    : QDialog(parent)
    , mSourceTimelineId(sourceTimelineId)
{
    setWindowTitle(tr("Duplicate Source"));
    setFixedSize(420, 120);
    auto const box = [this](QString const& text, bool checked) {
        auto* check = new QCheckBox(text, this);
        check->setChecked(checked);
        return check;
    };
    mPlaybackTime = box(tr("Playback Time"), Settings::dupSrcPlaybackTime);
    mInOut = box(tr("Source In/Out"), Settings::dupSrcInOut);
    mAudioDelay = box(tr("Audio Delay"), Settings::dupSrcAudioDelay);
    mFrameBookmarks = box(tr("Frame Bookmarks"), Settings::dupSrcFrameBookmarks);
    mRangeBookmarks = box(tr("Range Bookmarks"), Settings::dupSrcRangeBookmarks);
    mAnnotations = box(tr("Annotations"), Settings::dupSrcAnnotations);
    mDuplicateButton = new QPushButton(tr("Duplicate"), this);
    mCloseButton = new QPushButton(tr("Close"), this);

    auto* first = new QHBoxLayout();
    first->addWidget(mPlaybackTime);
    first->addWidget(mInOut);
    first->addWidget(mAudioDelay);
    auto* second = new QHBoxLayout();
    second->addWidget(mFrameBookmarks);
    second->addWidget(mRangeBookmarks);
    second->addWidget(mAnnotations);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(mDuplicateButton);
    buttons->addWidget(mCloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(first);
    layout->addLayout(second);
    layout->addStretch();
    layout->addLayout(buttons);

    connect(mCloseButton, &QPushButton::clicked, this, &DuplicateSourceOptionsDialog::SaveAndClose);
    connect(mDuplicateButton, &QPushButton::clicked, this, &DuplicateSourceOptionsDialog::Duplicate);
}

void DuplicateSourceOptionsDialog::StoreOptions()
{
    Settings::dupSrcPlaybackTime = mPlaybackTime->isChecked();
    Settings::dupSrcInOut = mInOut->isChecked();
    Settings::dupSrcAudioDelay = mAudioDelay->isChecked();
    Settings::dupSrcFrameBookmarks = mFrameBookmarks->isChecked();
    Settings::dupSrcRangeBookmarks = mRangeBookmarks->isChecked();
    Settings::dupSrcAnnotations = mAnnotations->isChecked();
}

void DuplicateSourceOptionsDialog::Duplicate()
{
    StoreOptions();
    Q_EMIT DuplicateSourceRequested(mSourceTimelineId);
}

void DuplicateSourceOptionsDialog::SaveAndClose()
{
    StoreOptions();
    close();
}
