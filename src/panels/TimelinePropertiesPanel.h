#pragma once

#include <QPointF>
#include <QPointer>
#include <QUuid>
#include <QWidget>

class AudioOverrideLineEdit;
class ProjectItem;
class ProjectManager;
class QCheckBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class Timeline;

// The properties of the viewer's active timeline: source file, audio override,
// playback range (a source timeline's cut), audio delay, pan and zoom, and the
// source options of an edit timeline.
class TimelinePropertiesPanel : public QWidget
{
    Q_OBJECT

public:
    TimelinePropertiesPanel(ProjectManager* projectManager, QWidget* parent);

    Timeline* TimelinePtr() const;
    QLineEdit* SourcePathEdit() const { return mSourcePath; }
    AudioOverrideLineEdit* AudioOverrideEdit() const { return mAudioOverride; }
    QSpinBox* RangeStartSpinBox() const { return mRangeStart; }
    QSpinBox* RangeEndSpinBox() const { return mRangeEnd; }
    QSpinBox* AudioDelaySpinBox() const { return mAudioDelay; }
    QDoubleSpinBox* PanXSpinBox() const { return mPanX; }
    QDoubleSpinBox* PanYSpinBox() const { return mPanY; }
    QDoubleSpinBox* ZoomSpinBox() const { return mZoom; }
    QCheckBox* PanZoomEnabledCheckBox() const { return mPanZoomEnabled; }
    QPushButton* PanZoomResetButton() const { return mPanZoomReset; }
    QPushButton* ClearOverrideButton() const { return mClearOverride; }
    QGroupBox* SourceInputGroup() const { return mSourceGroup; }
    QGroupBox* AudioOverrideGroup() const { return mOverrideGroup; }
    QGroupBox* RangeGroup() const { return mRangeGroup; }
    QGroupBox* PanZoomGroup() const { return mPanZoomGroup; }
    QGroupBox* AudioDelayGroup() const { return mAudioDelayGroup; }
    QGroupBox* OptionsGroup() const { return mOptionsGroup; }

public Q_SLOTS:
    void SetTimeline(Timeline* timeline, bool force);
    void UpdatePlaybackRangeWidgetValues();
    void UpdateAudioOverride();
    void UpdatePanZoomWidgetValues();
    void UpdateUseSourcePropertiesInTimeline();
    void UpdateWidgetVisibility();
    void UpdateSourcePath();
    void UpdateAudioDelay();
    void OnTimelineNameChanged(QString const& name);
    void ReplaceSource();
    void SetAudioOverride(QUuid const& id);
    void ClearAudioOverride();
    void SetPlaybackRange();
    void ResetPlaybackRange();
    void SetPanZoom();
    void ResetPanZoom();
    void SetAudioDelay();
    void ResetAudioDelay();
    void SetUseSourceInOuts(bool on);
    void SetUseSourceAudioDelay(bool on);
    void SetRelativePathVisible(bool visible);

Q_SIGNALS:
    void TimelineNameChanged(QString const& name, bool editTimeline);
    void PanZoomChangeRequested(QPointF pan, float zoom, bool enabled);
    void ReplaceSourceRequested(QUuid const& timelineItemId);
    void VisibilityChanged(bool visible);

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool IsEditTimelineItem() const;
    void ApplyRange(bool startEdited);

    ProjectManager* mProjectManager;
    QPointer<Timeline> mTimeline;
    QPointer<ProjectItem> mTimelineItem;
    QLineEdit* mSourcePath;
    QPushButton* mReplace;
    QLabel* mSourceRootCaption;
    QLabel* mSourceRootValue;
    QLabel* mRelativePathCaption;
    QLabel* mRelativePathValue;
    QCheckBox* mShowRelativePath;
    AudioOverrideLineEdit* mAudioOverride;
    QPushButton* mClearOverride;
    QSpinBox* mRangeStart;
    QSpinBox* mRangeEnd;
    QPushButton* mRangeReset;
    QDoubleSpinBox* mPanX;
    QDoubleSpinBox* mPanY;
    QDoubleSpinBox* mZoom;
    QCheckBox* mPanZoomEnabled;
    QPushButton* mPanZoomReset;
    QSpinBox* mAudioDelay;
    QPushButton* mAudioDelayReset;
    QCheckBox* mUseSourceInOuts;
    QCheckBox* mUseSourceAudioDelay;
    QGroupBox* mSourceGroup;
    QGroupBox* mOverrideGroup;
    QGroupBox* mRangeGroup;
    QGroupBox* mPanZoomGroup;
    QGroupBox* mAudioDelayGroup;
    QGroupBox* mOptionsGroup;
    int mFrameOffset = 0;
};
