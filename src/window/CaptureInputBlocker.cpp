#include "window/CaptureInputBlocker.h"

#include <QApplication>
#include <QEvent>

CaptureInputBlocker::CaptureInputBlocker(QObject* parent)
    : QObject(parent)
{
}

CaptureInputBlocker::~CaptureInputBlocker()
{
    SetCaptureInputBlocked(false);
}

void CaptureInputBlocker::SetExportDialog(QObject* exportDialog)
{
    mExportDialog = exportDialog;
}

bool CaptureInputBlocker::IsCaptureInputBlocked() const
{
    return mCaptureInputBlocked;
}

void CaptureInputBlocker::SetCaptureInputBlocked(bool blocked)
{
    if (blocked == mCaptureInputBlocked)
    {
        return;
    }
    mCaptureInputBlocked = blocked;
    if (blocked)
    {
        qApp->installEventFilter(this);
    }
    else
    {
        qApp->removeEventFilter(this);
    }
}

bool CaptureInputBlocker::IsInsideExportDialog(QObject* object) const
{
    for (QObject* o = object; o; o = o->parent())
    {
        if (mExportDialog && o == mExportDialog)
        {
            return true;
        }
    }
    return false;
}

bool CaptureInputBlocker::eventFilter(QObject* watched, QEvent* event)
{
    if (!mCaptureInputBlocked)
    {
        return QObject::eventFilter(watched, event);
    }
    switch (event->type())
    {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        // The export dialog (and its Cancel) stays live; the rest of the
        // player waits for the capture to end.
        if (IsInsideExportDialog(watched))
        {
            return false;
        }
        if (watched->isWidgetType() || watched->isWindowType())
        {
            return true;
        }
        return event->type() == QEvent::Shortcut;
    default:
        return false;
    }
}
