#include "panels/VolumeSlider.h"

#include "app/Settings.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

VolumeSlider::VolumeSlider(bool large, QWidget* parent)
    : QWidget(parent)
    , mTextRect(large ? QRect(QPoint(5, 2), QPoint(30, 15)) : QRect(QPoint(0, 0), QPoint(25, 13)))
    , mFontPointSize(large ? 8 : 7)
{
    setFixedSize(large ? QSize(130, 30) : QSize(80, 22));
}

int VolumeSlider::Volume() const
{
    return mVolume;
}

int VolumeSlider::Maximum() const
{
    return mMaximum;
}

void VolumeSlider::Refresh()
{
    // The OpenGL viewer may hold the GUI thread busy: let pending events
    // through before asking for the repaint.
    if (Settings::HardwareRenderingInUse())
    {
        QCoreApplication::processEvents();
    }
    update();
}

void VolumeSlider::SetVolume(int volume)
{
    int const clamped = std::max(mMinimum, std::min(volume, mMaximum));
    if (clamped == mVolume)
    {
        return;
    }
    mVolume = clamped;
    Refresh();
    emit VolumeChanged(volume);
}

void VolumeSlider::SetMaximum(int maximum)
{
    mMaximum = std::max(1, maximum);
    if (mVolume > mMaximum)
    {
        int const lowered = std::max(mMaximum, mMinimum);
        if (lowered != mVolume)
        {
            mVolume = lowered;
            Refresh();
            emit VolumeChanged(mMaximum);
        }
    }
    update();
}

void VolumeSlider::SetMuted(bool muted)
{
    mVolume = muted ? 0 : Settings::volume;
    update();
}

int VolumeSlider::VolumeAtPosition(int x) const
{
    int const w = std::max(1, width());
    int volume = static_cast<int>(static_cast<float>(mMaximum) / static_cast<float>(w) * static_cast<float>(x));
    if (volume >= 99 && volume <= 101)
    {
        volume = 100;
    }
    return volume;
}

void VolumeSlider::SetFromPosition(int x)
{
    SetVolume(VolumeAtPosition(x));
}

void VolumeSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
    {
        SetFromPosition(event->position().toPoint().x());
    }
}

void VolumeSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() == Qt::LeftButton)
    {
        SetFromPosition(event->position().toPoint().x());
    }
}

void VolumeSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette().color(QPalette::Window));

    int const w = width();
    int const h = height();
    QPainterPath wedge;
    wedge.moveTo(0, h - 1);
    wedge.lineTo(w - 1, h - 1);
    wedge.lineTo(w - 1, 0);
    wedge.closeSubpath();

    int const filled = static_cast<int>(static_cast<float>(mVolume) / static_cast<float>(mMaximum) * static_cast<float>(w));
    painter.setClipRect(QRect(0, 0, filled, h));
    painter.fillPath(wedge, Qt::gray);
    painter.setClipping(false);
    painter.setPen(QPen(Qt::gray, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(wedge);

    QFont font = painter.font();
    font.setFixedPitch(true);
    font.setPointSize(mFontPointSize);
    painter.setFont(font);
    painter.drawText(mTextRect, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("%1%").arg(mVolume));
}
