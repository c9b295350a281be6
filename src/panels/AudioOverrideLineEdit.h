#pragma once

#include <QLineEdit>
#include <QUuid>

class QMimeData;

// The read-only field that shows an edit timeline's audio override and takes a
// single project timeline, other than the timeline itself, dropped on it.
class AudioOverrideLineEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit AudioOverrideLineEdit(QWidget* parent);

    void SetParentTimelineId(QUuid const& id);
    QUuid ParentTimelineId() const;
    // The one id the data offers as an override, or null.
    QUuid SetTimelineIdFromMimeData(QMimeData const* data);

Q_SIGNALS:
    void AudioOverrideChanged(QUuid const& id);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QUuid mCandidateId;
    QUuid mParentTimelineId;
};
