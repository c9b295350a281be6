#pragma once

#include <QDialog>
#include <QUuid>

class QCheckBox;
class QPushButton;

// Chooses what a duplicate of a source timeline copies and asks for the
// duplicate. The choices live in the settings until the program ends; they are
// never written to the settings file.
class DuplicateSourceOptionsDialog : public QDialog
{
    Q_OBJECT

public:
    DuplicateSourceOptionsDialog(QUuid const& sourceTimelineId, QWidget* parent);

    QCheckBox* PlaybackTimeCheckBox() const { return mPlaybackTime; }
    QCheckBox* InOutCheckBox() const { return mInOut; }
    QCheckBox* AudioDelayCheckBox() const { return mAudioDelay; }
    QCheckBox* FrameBookmarksCheckBox() const { return mFrameBookmarks; }
    QCheckBox* RangeBookmarksCheckBox() const { return mRangeBookmarks; }
    QCheckBox* AnnotationsCheckBox() const { return mAnnotations; }
    QPushButton* DuplicateButton() const { return mDuplicateButton; }
    QPushButton* CloseButton() const { return mCloseButton; }

public Q_SLOTS:
    void Duplicate();
    void SaveAndClose();

Q_SIGNALS:
    void DuplicateSourceRequested(QUuid const& id);

private:
    void StoreOptions();

    QCheckBox* mPlaybackTime;
    QCheckBox* mInOut;
    QCheckBox* mAudioDelay;
    QCheckBox* mFrameBookmarks;
    QCheckBox* mRangeBookmarks;
    QCheckBox* mAnnotations;
    QPushButton* mCloseButton;
    QPushButton* mDuplicateButton;
    QUuid mSourceTimelineId;
};
