#include "panels/PopUpWidget.h"

#include "app/Settings.h"

#include <QCloseEvent>
#include <QVBoxLayout>

PopUpWidget::PopUpWidget(QWidget* parent)
    : QWidget(parent, Qt::Popup)
{
    setFocusPolicy(Qt::NoFocus);
    mReopenTimer.setSingleShot(true);
    mReopenTimer.setInterval(Settings::menuWaitBetweenMousePresses);
}

void PopUpWidget::AddWidget(QWidget* widget)
{
    if (!widget)
    {
        return;
    }
    widget->setParent(this);
    mWidgets.append(widget);
}

void PopUpWidget::UpdateLayout()
{
    delete layout();
    auto* const box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    for (QWidget* const widget : std::as_const(mWidgets))
    {
        box->addWidget(widget);
    }
    resize(sizeHint());
}

bool PopUpWidget::ReadyToReopen() const
{
    return !mReopenTimer.isActive();
}

void PopUpWidget::mousePressEvent(QMouseEvent* event)
{
    if (Settings::menuWaitBetweenMousePressesEnabled && mReopenTimer.isActive())
    {
        return;
    }
    QWidget::mousePressEvent(event);
}

void PopUpWidget::closeEvent(QCloseEvent* event)
{
    emit Finished();
    mReopenTimer.start();
    QWidget::closeEvent(event);
}

void PopUpWidget::showEvent(QShowEvent* event)
{
    mReopenTimer.start();
    QWidget::showEvent(event);
}
