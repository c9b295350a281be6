#include "panels/TimelinePropertiesPanel.h"

#include "app/FileHelpers.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/ProjectItem.h"
#include "model/ProjectManager.h"
#include "model/Source.h"
#include "model/Timeline.h"
#include "model/TimelineItem.h"
#include "panels/AudioOverrideLineEdit.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace
{
QSpinBox* MakeFrameBox(QWidget* parent, int width)
{
    auto* box = new QSpinBox(parent);
    box->setButtonSymbols(QAbstractSpinBox::NoButtons);
    box->setFixedWidth(width);
    box->setAlignment(Qt::AlignRight);
    return box;
}

QDoubleSpinBox* MakeDoubleBox(QWidget* parent, double minimum, double maximum, int decimals)
{
    auto* box = new QDoubleSpinBox(parent);
    box->setButtonSymbols(QAbstractSpinBox::NoButtons);
    box->setFixedWidth(54);
    box->setAlignment(Qt::AlignRight);
    box->setRange(minimum, maximum);
    box->setSingleStep(0.1);
    box->setDecimals(decimals);
    return box;
}

QPushButton* MakeResetButton(QString const& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFixedWidth(54);
    return button;
}
} // namespace

TimelinePropertiesPanel::TimelinePropertiesPanel(ProjectManager* projectManager, QWidget* parent)
    : QWidget(parent)
    , mProjectManager(projectManager)
{
    mSourcePath = new QLineEdit(this);
    mSourcePath->setEnabled(false);
    mReplace = new QPushButton(tr("Replace"), this);
    mSourceRootCaption = new QLabel(tr("Source Root:   "), this);
    mSourceRootValue = new QLabel(tr("<not set>"), this);
    mRelativePathCaption = new QLabel(tr("Relative Path:  "), this);
    mRelativePathValue = new QLabel(tr("<not available>"), this);
    for (QLabel* value : {mSourceRootValue, mRelativePathValue})
    {
        value->setMinimumWidth(1);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setTextFormat(Qt::PlainText);
    }
    mShowRelativePath = new QCheckBox(tr("Show Relative Path"), this);
    mAudioOverride = new AudioOverrideLineEdit(this);
    mClearOverride = new QPushButton(tr("Clear"), this);
    mClearOverride->setFixedWidth(54);

    // The range boxes apply a finished entry or an arrow step, never every
    // keystroke, and never go below the frame offset.
    mRangeStart = MakeFrameBox(this, 82);
    mRangeEnd = MakeFrameBox(this, 82);
    for (QSpinBox* box : {mRangeStart, mRangeEnd})
    {
        box->setKeyboardTracking(false);
        box->setRange(0, 0);
    }
    mRangeReset = MakeResetButton(tr("Reset"), this);
    mPanX = MakeDoubleBox(this, -1.0, 1.0, 2);
    mPanY = MakeDoubleBox(this, -1.0, 1.0, 2);
    mZoom = MakeDoubleBox(this, Settings::ZOOM_FACTOR_MINIMUM, Settings::ZOOM_FACTOR_MAXIMUM, 1);
    mPanZoomEnabled = new QCheckBox(tr("Enabled"), this);
    mPanZoomReset = MakeResetButton(tr("Reset"), this);
    mAudioDelay = MakeFrameBox(this, 82);
    mAudioDelay->setRange(-999999, 999999);
    mAudioDelay->setKeyboardTracking(false);
    mAudioDelayReset = MakeResetButton(tr("Reset"), this);
    mUseSourceInOuts = new QCheckBox(tr("Use Source In/Outs"), this);
    mUseSourceInOuts->setChecked(true);
    mUseSourceAudioDelay = new QCheckBox(tr("Use Source Audio Delay"), this);
    mUseSourceAudioDelay->setChecked(true);

    mSourceGroup = new QGroupBox(tr("Source Input"), this);
    mOverrideGroup = new QGroupBox(tr("Audio Override"), this);
    mRangeGroup = new QGroupBox(tr("Range"), this);
    mPanZoomGroup = new QGroupBox(tr("Pan/Zoom"), this);
    mAudioDelayGroup = new QGroupBox(tr("Audio Delay (ms)"), this);
    mOptionsGroup = new QGroupBox(tr("Options"), this);

    auto* sourceLayout = new QVBoxLayout(mSourceGroup);
    sourceLayout->setContentsMargins(6, 6, 6, 6);
    auto* pathRow = new QHBoxLayout();
    pathRow->addWidget(mSourcePath);
    pathRow->addWidget(mReplace);
    sourceLayout->addLayout(pathRow);
    auto* pathForm = new QFormLayout();
    pathForm->addRow(mSourceRootCaption, mSourceRootValue);
    pathForm->addRow(mRelativePathCaption, mRelativePathValue);
    sourceLayout->addLayout(pathForm);
    sourceLayout->addWidget(mShowRelativePath);

    auto* overrideLayout = new QHBoxLayout(mOverrideGroup);
    overrideLayout->setContentsMargins(6, 6, 6, 6);
    overrideLayout->addWidget(mAudioOverride);
    overrideLayout->addWidget(mClearOverride);

    auto* rangeLayout = new QHBoxLayout(mRangeGroup);
    rangeLayout->setContentsMargins(6, 6, 6, 6);
    rangeLayout->setSpacing(2);
    rangeLayout->addWidget(mRangeStart);
    rangeLayout->addWidget(mRangeEnd);
    rangeLayout->addWidget(mRangeReset);
    rangeLayout->addStretch();

    auto* delayLayout = new QHBoxLayout(mAudioDelayGroup);
    delayLayout->setContentsMargins(6, 6, 6, 6);
    delayLayout->addWidget(mAudioDelay);
    delayLayout->addWidget(mAudioDelayReset);
    delayLayout->addStretch();

    auto* panZoomLayout = new QVBoxLayout(mPanZoomGroup);
    panZoomLayout->setContentsMargins(6, 6, 6, 6);
    panZoomLayout->setSpacing(2);
    auto* panRow = new QHBoxLayout();
    panRow->setContentsMargins(0, 0, 0, 0);
    panRow->addWidget(mPanX);
    panRow->addWidget(mPanY);
    panRow->addWidget(mZoom);
    panRow->addWidget(mPanZoomReset);
    panRow->addStretch();
    auto* enabledRow = new QHBoxLayout();
    enabledRow->setContentsMargins(0, 0, 0, 0);
    enabledRow->addWidget(mPanZoomEnabled);
    enabledRow->addStretch();
    panZoomLayout->addLayout(panRow);
    panZoomLayout->addLayout(enabledRow);

    auto* optionsLayout = new QVBoxLayout(mOptionsGroup);
    optionsLayout->setContentsMargins(6, 6, 6, 6);
    optionsLayout->addWidget(mUseSourceInOuts);
    optionsLayout->addWidget(mUseSourceAudioDelay);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    for (QGroupBox* group : {mSourceGroup, mOverrideGroup, mRangeGroup, mAudioDelayGroup, mPanZoomGroup, mOptionsGroup})
    {
        layout->addWidget(group);
        group->hide();
    }
    layout->addStretch();
    SetRelativePathVisible(false);

    connect(mProjectManager, &ProjectManager::ProjectPathChanged, this, &TimelinePropertiesPanel::UpdateSourcePath);
    connect(mProjectManager, &ProjectManager::SourceRootDirPathChanged, this,
            &TimelinePropertiesPanel::UpdateSourcePath);
    connect(mProjectManager->AvManagerPtr(), &AvManager::PrimaryTimelineChanged, this,
            &TimelinePropertiesPanel::SetTimeline);
    connect(mReplace, &QPushButton::clicked, this, &TimelinePropertiesPanel::ReplaceSource);
    connect(mShowRelativePath, &QCheckBox::toggled, this, &TimelinePropertiesPanel::SetRelativePathVisible);
    connect(mAudioOverride, &AudioOverrideLineEdit::AudioOverrideChanged, this,
            &TimelinePropertiesPanel::SetAudioOverride);
    connect(mClearOverride, &QPushButton::clicked, this, &TimelinePropertiesPanel::ClearAudioOverride);
    connect(mRangeStart, &QSpinBox::valueChanged, this, [this] { ApplyRange(true); });
    connect(mRangeStart, &QSpinBox::editingFinished, this, [this] { ApplyRange(true); });
    connect(mRangeEnd, &QSpinBox::valueChanged, this, [this] { ApplyRange(false); });
    connect(mRangeEnd, &QSpinBox::editingFinished, this, [this] { ApplyRange(false); });
    connect(mRangeReset, &QPushButton::clicked, this, &TimelinePropertiesPanel::ResetPlaybackRange);
    for (QDoubleSpinBox* box : {mPanX, mPanY, mZoom})
    {
        connect(box, &QDoubleSpinBox::valueChanged, this, &TimelinePropertiesPanel::SetPanZoom);
        connect(box, &QDoubleSpinBox::editingFinished, this, &TimelinePropertiesPanel::SetPanZoom);
    }
    connect(mPanZoomEnabled, &QCheckBox::toggled, this, &TimelinePropertiesPanel::SetPanZoom);
    connect(mPanZoomReset, &QPushButton::clicked, this, &TimelinePropertiesPanel::ResetPanZoom);
    connect(mAudioDelay, &QSpinBox::editingFinished, this, &TimelinePropertiesPanel::SetAudioDelay);
    connect(mAudioDelayReset, &QPushButton::clicked, this, &TimelinePropertiesPanel::ResetAudioDelay);
    connect(mUseSourceInOuts, &QCheckBox::clicked, this, &TimelinePropertiesPanel::SetUseSourceInOuts);
    connect(mUseSourceAudioDelay, &QCheckBox::clicked, this, &TimelinePropertiesPanel::SetUseSourceAudioDelay);
}

Timeline* TimelinePropertiesPanel::TimelinePtr() const
{
    return mTimeline;
}

bool TimelinePropertiesPanel::IsEditTimelineItem() const
{
    return mTimelineItem && mTimelineItem->ItemType() == ProjectItemType::Timeline;
}

void TimelinePropertiesPanel::SetTimeline(Timeline* timeline, bool force)
{
    if (timeline == mTimeline)
    {
        return;
    }
    if (mTimeline)
    {
        disconnect(mTimeline, nullptr, this, nullptr);
    }
    mTimeline = timeline;
    if (mTimeline)
    {
        connect(mTimeline, &Timeline::TimeControlFrameOffsetChanged, this,
                &TimelinePropertiesPanel::UpdatePlaybackRangeWidgetValues);
        connect(mTimeline, &Timeline::PlaybackRangeChanged, this,
                &TimelinePropertiesPanel::UpdatePlaybackRangeWidgetValues);
        connect(mTimeline, &Timeline::AudioOverrideTimelineChanged, this,
                &TimelinePropertiesPanel::UpdateAudioOverride);
        connect(mTimeline, &Timeline::PanZoomChanged, this, &TimelinePropertiesPanel::UpdatePanZoomWidgetValues);
        connect(mTimeline, &Timeline::UseSourcePropertiesInTimelineChanged, this,
                &TimelinePropertiesPanel::UpdateUseSourcePropertiesInTimeline);
    }
    if (mTimelineItem)
    {
        disconnect(mTimelineItem, &ProjectItem::NameChanged, this, &TimelinePropertiesPanel::OnTimelineNameChanged);
    }
    mTimelineItem = mProjectManager->PrimaryTimelineItem();
    if (mTimelineItem)
    {
        connect(mTimelineItem, &ProjectItem::NameChanged, this, &TimelinePropertiesPanel::OnTimelineNameChanged);
    }
    if (!mTimeline && !force)
    {
        return;
    }
    UpdateWidgetVisibility();
    UpdateSourcePath();
    for (QLabel* label : {mSourceRootCaption, mSourceRootValue, mRelativePathCaption, mRelativePathValue})
    {
        label->hide();
    }
    UpdateAudioOverride();
    UpdatePlaybackRangeWidgetValues();
    UpdatePanZoomWidgetValues();
    if (mTimeline)
    {
        QSignalBlocker const blocker(mAudioDelay);
        mAudioDelay->setValue(int(mTimeline->AudioDelay() / 1000));
        mUseSourceInOuts->setChecked(mTimeline->IsUseSourceInOutsEnabled());
        mUseSourceAudioDelay->setChecked(mTimeline->IsUseSourceAudioDelayEnabled());
    }
    else
    {
        mUseSourceInOuts->setChecked(false);
        mUseSourceAudioDelay->setChecked(false);
    }
    Q_EMIT TimelineNameChanged(mTimelineItem ? mTimelineItem->Name() : QString(), IsEditTimelineItem());
}

void TimelinePropertiesPanel::OnTimelineNameChanged(QString const& name)
{
    Q_EMIT TimelineNameChanged(name, IsEditTimelineItem());
}

void TimelinePropertiesPanel::UpdateWidgetVisibility()
{
    if (!mTimeline)
    {
        for (QGroupBox* group :
             {mSourceGroup, mOverrideGroup, mRangeGroup, mPanZoomGroup, mAudioDelayGroup, mOptionsGroup})
        {
            group->hide();
        }
        return;
    }
    bool const source = mTimeline->IsSourceTimeline();
    mSourceGroup->setVisible(source);
    mAudioDelayGroup->setVisible(source);
    mOverrideGroup->setVisible(!source);
    mOptionsGroup->setVisible(!source);
    mRangeGroup->setVisible(true);
    mPanZoomGroup->setVisible(true);
    mRangeGroup->setTitle(source ? tr("Source In/Out") : tr("Range"));
}

void TimelinePropertiesPanel::UpdateSourcePath()
{
    mSourcePath->clear();
    mSourceRootValue->setText(tr("<not set>"));
    mRelativePathValue->setText(tr("<not available>"));
    if (!mTimeline || !mTimeline->IsSourceTimeline() || !mTimeline->SourcePtr())
    {
        return;
    }
    Source* source = mTimeline->SourcePtr();
    mSourcePath->setText(source->MediaPath());
    mSourcePath->setCursorPosition(0);
    QString const root = FileHelpers::ResolvedSourceRootDirPath();
    if (!root.isEmpty())
    {
        mSourceRootValue->setText(root);
    }
    QString const relative = source->RelativeMediaPath();
    mRelativePathValue->setText(relative.isEmpty() ? source->MediaPath() : relative);
}

void TimelinePropertiesPanel::SetRelativePathVisible(bool visible)
{
    for (QLabel* label : {mSourceRootCaption, mSourceRootValue, mRelativePathCaption, mRelativePathValue})
    {
        label->setVisible(visible);
    }
}

void TimelinePropertiesPanel::UpdatePlaybackRangeWidgetValues()
{
    QSignalBlocker const startBlocker(mRangeStart);
    QSignalBlocker const endBlocker(mRangeEnd);
    if (mTimeline)
    {
        mFrameOffset = mTimeline->TimeControlFrameOffset();
        int const end = std::max(0, mTimeline->EndFrame());
        for (QSpinBox* box : {mRangeStart, mRangeEnd})
        {
            box->setRange(0, end + mFrameOffset);
        }
        mRangeStart->setValue(mTimeline->PlaybackRangeStartFrame() + mFrameOffset);
        mRangeEnd->setValue(mTimeline->PlaybackRangeEndFrame() + mFrameOffset);
    }
    else
    {
        for (QSpinBox* box : {mRangeStart, mRangeEnd})
        {
            box->setRange(0, 0);
            box->setValue(0);
        }
    }
}

void TimelinePropertiesPanel::ApplyRange(bool startEdited)
{
    if (!mTimeline)
    {
        return;
    }
    int start = mRangeStart->value() - mFrameOffset;
    int end = mRangeEnd->value() - mFrameOffset;
    // The edited box gives way: start never passes end.
    if (start > end)
    {
        if (startEdited)
        {
            start = end;
        }
        else
        {
            end = start;
        }
    }
    if (start == mTimeline->PlaybackRangeStartFrame() && end == mTimeline->PlaybackRangeEndFrame())
    {
        UpdatePlaybackRangeWidgetValues();
        return;
    }
    // Set directly, not as an undo step; the timeline clamps the range.
    mTimeline->SetPlaybackRangeByFrame(start, end);
    UpdatePlaybackRangeWidgetValues();
}

void TimelinePropertiesPanel::SetPlaybackRange()
{
    ApplyRange(true);
}

void TimelinePropertiesPanel::ResetPlaybackRange()
{
    if (mTimeline)
    {
        mTimeline->SetPlaybackRangeByFrame(0, -1);
        UpdatePlaybackRangeWidgetValues();
    }
}

void TimelinePropertiesPanel::UpdatePanZoomWidgetValues()
{
    QSignalBlocker const b1(mPanX);
    QSignalBlocker const b2(mPanY);
    QSignalBlocker const b3(mZoom);
    QSignalBlocker const b4(mPanZoomEnabled);
    if (mTimeline)
    {
        QPointF const pan = mTimeline->PanInterpolation();
        mPanX->setValue(pan.x());
        mPanY->setValue(pan.y());
        mZoom->setValue(mTimeline->ZoomFactor());
        mPanZoomEnabled->setChecked(mTimeline->IsPanAndZoomEnabled());
    }
    else
    {
        mPanX->setValue(0.0);
        mPanY->setValue(0.0);
        mZoom->setValue(0.0);
        mPanZoomEnabled->setChecked(false);
    }
}

void TimelinePropertiesPanel::SetPanZoom()
{
    if (mTimeline)
    {
        Q_EMIT PanZoomChangeRequested(QPointF(mPanX->value(), mPanY->value()), float(mZoom->value()),
                                      mPanZoomEnabled->isChecked());
    }
}

void TimelinePropertiesPanel::ResetPanZoom()
{
    if (mTimeline)
    {
        Q_EMIT PanZoomChangeRequested(QPointF(0, 0), 1.0f, false);
    }
}

void TimelinePropertiesPanel::UpdateAudioDelay()
{
    if (mTimeline)
    {
        QSignalBlocker const blocker(mAudioDelay);
        mAudioDelay->setValue(int(mTimeline->AudioDelay() / 1000));
    }
}

void TimelinePropertiesPanel::SetAudioDelay()
{
    if (mTimeline && mTimeline->IsSourceTimeline())
    {
        mTimeline->SetAudioDelay(static_cast<long long>(mAudioDelay->value()) * 1000);
        UpdateAudioDelay();
    }
}

void TimelinePropertiesPanel::ResetAudioDelay()
{
    if (mTimeline && mTimeline->IsSourceTimeline())
    {
        mTimeline->SetAudioDelay(0);
        UpdateAudioDelay();
    }
}

void TimelinePropertiesPanel::SetUseSourceInOuts(bool on)
{
    if (mTimeline)
    {
        mTimeline->SetUseSourceInOutsEnabled(on);
    }
}

void TimelinePropertiesPanel::SetUseSourceAudioDelay(bool on)
{
    if (mTimeline)
    {
        mTimeline->SetUseSourceAudioDelayEnabled(on);
    }
}

void TimelinePropertiesPanel::UpdateUseSourcePropertiesInTimeline()
{
    mUseSourceInOuts->setChecked(mTimeline && mTimeline->IsUseSourceInOutsEnabled());
    mUseSourceAudioDelay->setChecked(mTimeline && mTimeline->IsUseSourceAudioDelayEnabled());
}

void TimelinePropertiesPanel::UpdateAudioOverride()
{
    if (mTimeline && !mTimeline->IsSourceTimeline())
    {
        mAudioOverride->SetParentTimelineId(mTimelineItem ? mTimelineItem->Id() : QUuid());
        TimelineItem* found = mProjectManager->FindTimelineById(mTimeline->AudioOverrideTimelineId());
        if (!mTimeline->AudioOverrideTimelineId().isNull() && found)
        {
            mAudioOverride->setText(found->Name());
            mAudioOverride->setCursorPosition(0);
            return;
        }
    }
    mAudioOverride->clear();
}

void TimelinePropertiesPanel::SetAudioOverride(QUuid const& id)
{
    if (mTimeline && !mTimeline->IsSourceTimeline())
    {
        mProjectManager->DoSetAudioOverrideCmd(mTimeline, id);
    }
}

void TimelinePropertiesPanel::ClearAudioOverride()
{
    SetAudioOverride(QUuid());
}

void TimelinePropertiesPanel::ReplaceSource()
{
    if (mTimelineItem)
    {
        Q_EMIT ReplaceSourceRequested(mTimelineItem->Id());
    }
}

void TimelinePropertiesPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Q_EMIT VisibilityChanged(true);
}
