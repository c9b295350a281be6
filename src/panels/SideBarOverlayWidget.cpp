#include "panels/SideBarOverlayWidget.h"

#include <QPainter>

SideBarOverlayWidget::SideBarOverlayWidget(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SideBarOverlayWidget::paintEvent(QPaintEvent*)
{
    if (parentWidget())
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(255, 255, 255, 50));
    }
}
