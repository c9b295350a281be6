#include "panels/SmoothSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

#include <cmath>

SmoothSlider::SmoothSlider(Qt::Orientation orientation, QWidget* parent)
    : QSlider(orientation, parent)
{
}

int SmoothSlider::ValueAtPosition(int x, bool edgeMargins) const
{
    int const w = std::max(1, width());
    int value = 0;
    int const edge = static_cast<int>(w * 0.005);
    if (edgeMargins && x < edge)
    {
        value = minimum();
    }
    else if (edgeMargins && x > w - edge)
    {
        value = maximum();
    }
    else
    {
        value = static_cast<int>(std::lround(minimum() + static_cast<double>(x) * (maximum() - minimum()) / w));
    }
    if (invertedAppearance())
    {
        value = maximum() - value;
    }
    return value;
}

void SmoothSlider::SetValueFromPosition(int x, bool edgeMargins)
{
    int const value = ValueAtPosition(x, edgeMargins);
    if (value != this->value() && value >= minimum() && value <= maximum())
    {
        setValue(value);
        emit SliderPositionChanged();
    }
}

void SmoothSlider::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    QPoint const pos = event->position().toPoint();
    if (!rect().contains(pos))
    {
        if (!parentWidget())
        {
            hide();
        }
        return;
    }
    if (event->button() != Qt::LeftButton)
    {
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    QRect const handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    if (handle.contains(pos))
    {
        return; // the drag follows through moves
    }
    SetValueFromPosition(pos.x(), true);
}

void SmoothSlider::mouseReleaseEvent(QMouseEvent* event)
{
    clearFocus();
    event->accept();
}

void SmoothSlider::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (event->buttons() == Qt::LeftButton)
    {
        SetValueFromPosition(qRound(event->position().x()), false);
    }
}

void SmoothSlider::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
    {
        hide();
        event->accept();
        return;
    }
    event->ignore();
}
