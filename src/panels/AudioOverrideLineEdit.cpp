#include "panels/AudioOverrideLineEdit.h"

#include "panels/UiHelpers.h"

#include <QDragEnterEvent>
#include <QMimeData>

AudioOverrideLineEdit::AudioOverrideLineEdit(QWidget* parent)
    : QLineEdit(parent)
{
    setReadOnly(true);
    setAcceptDrops(true);
}

void AudioOverrideLineEdit::SetParentTimelineId(QUuid const& id)
{
    mParentTimelineId = id;
}

QUuid AudioOverrideLineEdit::ParentTimelineId() const
{
    return mParentTimelineId;
}

QUuid AudioOverrideLineEdit::SetTimelineIdFromMimeData(QMimeData const* data)
{
    mCandidateId = QUuid();
    if (data && data->hasFormat(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE))
    {
        QList<QUuid> const ids = UiHelpers::ReadIdList(data->data(UiHelpers::PROJECT_VIEW_TIMELINES_MIME_TYPE));
        if (ids.size() == 1 && ids.first() != mParentTimelineId)
        {
            mCandidateId = ids.first();
        }
    }
    return mCandidateId;
}

void AudioOverrideLineEdit::dragEnterEvent(QDragEnterEvent* event)
{
    if (mParentTimelineId.isNull() || SetTimelineIdFromMimeData(event->mimeData()).isNull())
    {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void AudioOverrideLineEdit::dragLeaveEvent(QDragLeaveEvent* event)
{
    mCandidateId = QUuid();
    event->accept();
}

void AudioOverrideLineEdit::dropEvent(QDropEvent* event)
{
    if (!mCandidateId.isNull())
    {
        QUuid const id = mCandidateId;
        mCandidateId = QUuid();
        Q_EMIT AudioOverrideChanged(id);
    }
    setFocus(Qt::OtherFocusReason);
    event->accept();
}
