#include "panels/FlatButton.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

// The icons live in a static library: their resource must be registered by
// hand (a global-scope function, as the macro requires).
static void InitWidgetIconResources()
{
    Q_INIT_RESOURCE(widget_icons);
}

namespace
{
struct WidgetIconResources
{
    WidgetIconResources() { InitWidgetIconResources(); }
} const widgetIconResources;
} // namespace

FlatButton::FlatButton(QWidget* parent)
    : QWidget(parent)
    , mButtonDownColor(ButtonDownColor())
{
    mDefaultColor = palette().color(backgroundRole());
    mColor = mDefaultColor;
    mFillColor = mDefaultColor;
    setFixedSize(30, 30);
}

QColor FlatButton::ButtonDownColor()
{
    return QColor(235, 235, 235);
}

FlatButton* FlatButton::CreateButton(QImage const& image, QSize const& size, int margin, QString const& toolTip)
{
    auto* const button = new FlatButton();
    button->setFixedSize(size);
    button->SetImage(image, margin);
    button->setToolTip(toolTip);
    return button;
}

void FlatButton::SetColor(QColor const& color, QColor const& tint)
{
    QColor const chosen = color.isValid() ? color : mDefaultColor;
    mColor = chosen;
    mFillColor = chosen;
    mTintColor = tint;
    UpdateIcon(false);
}

QColor FlatButton::GetColor() const
{
    return mColor;
}

void FlatButton::SetImage(QImage const& image, int margin)
{
    mImage = image;
    mImageMargin = margin;
    UpdateIcon(false);
}

void FlatButton::SetChecked(bool checked)
{
    if (checked == mChecked)
    {
        return;
    }
    mChecked = checked;
    UpdateIcon(false);
}

bool FlatButton::IsChecked() const
{
    return mChecked;
}

void FlatButton::SetMouseOverEnabled(bool enabled)
{
    mMouseOverEnabled = enabled;
}

void FlatButton::UpdateIcon(bool hovered)
{
    QPixmap pixmap;
    if (!mImage.isNull())
    {
        pixmap = QPixmap::fromImage(mImage);
        if (mTintColor.isValid() || hovered || mChecked)
        {
            QPainter painter(&pixmap);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(pixmap.rect(), mTintColor.isValid() ? mTintColor : mButtonDownColor);
        }
    }
    mIcon = pixmap.isNull() ? QIcon() : QIcon(pixmap);
    mIconRect = QRect(QPoint(mImageMargin, mImageMargin),
                      QPoint(width() - 1 - mImageMargin, height() - 1 - mImageMargin));
    update();
}

void FlatButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
    {
        emit rightPressed();
    }
    else if (event->button() == Qt::LeftButton)
    {
        emit pressed();
    }
}

void FlatButton::mouseReleaseEvent(QMouseEvent* event)
{
    bool const inside = rect().contains(event->position().toPoint());
    if (event->button() == Qt::RightButton)
    {
        emit rightReleased();
        if (inside)
        {
            emit rightClicked();
        }
    }
    else if (event->button() == Qt::LeftButton)
    {
        emit released();
        if (inside)
        {
            emit clicked();
        }
    }
}

void FlatButton::enterEvent(QEnterEvent* event)
{
    if (mMouseOverEnabled && isEnabled())
    {
        UpdateIcon(true);
    }
    QWidget::enterEvent(event);
}

void FlatButton::leaveEvent(QEvent* event)
{
    if (mMouseOverEnabled && isEnabled())
    {
        UpdateIcon(false);
    }
    QWidget::leaveEvent(event);
}

void FlatButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!mIcon.isNull() && mIconRect.isValid())
    {
        mIcon.paint(&painter, mIconRect, Qt::AlignCenter, QIcon::Normal, QIcon::Off);
    }
    else
    {
        painter.fillRect(mIconRect, mFillColor);
    }
}

void FlatButton::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    UpdateIcon(false);
}

void FlatButton::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    UpdateIcon(mMouseOverEnabled && isEnabled() && rect().contains(mapFromGlobal(QCursor::pos())));
}
