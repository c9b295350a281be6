#include "window/MonitorComboBox.h"

#include "panels/PopUpWidget.h"
#include "panels/UiHelpers.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

namespace
{
constexpr int ROW_HEIGHT = 26;
constexpr int SEPARATOR_HEIGHT = 4;

QPixmap Filled(QPixmap const& pixmap, QColor const& color)
{
    QPixmap copy = pixmap;
    QPainter painter(&copy);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(copy.rect(), color);
    return copy;
}
} // namespace

MonitorComboBox::MonitorComboBoxItemDelegate::MonitorComboBoxItemDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
{
}

void MonitorComboBox::MonitorComboBoxItemDelegate::paint(QPainter* painter, QStyleOptionViewItem const& option,
                                                         QModelIndex const& index) const
{
    QStyleOptionViewItem styled = option;
    initStyleOption(&styled, index);
    if (styled.state & QStyle::State_MouseOver)
    {
        styled.icon = QIcon(styled.icon.pixmap(styled.decorationSize, QIcon::Active));
    }
    QStyle* const style = styled.widget ? styled.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &styled, painter, styled.widget);
}

MonitorComboBox::MonitorComboBox(QString const& toolTip, QWidget* parent)
    : QWidget(parent)
    , mToolTip(toolTip)
{
    setToolTip(toolTip);
    setFixedSize(100, 24);
}

MonitorComboBox::~MonitorComboBox()
{
    // Rows the list took are its own; the others are ours.
    for (QListWidgetItem* const item : std::as_const(mRows))
    {
        if (!item->listWidget())
        {
            delete item;
        }
    }
}

QColor MonitorComboBox::HighlightColor()
{
    return QColor(235, 235, 235);
}

QIcon MonitorComboBox::CreateIcon(QString const& path, bool fillBlack, bool highlight)
{
    QPixmap const pixmap(path);
    QIcon icon(pixmap);
    if (!fillBlack)
    {
        icon.addPixmap(pixmap, QIcon::Selected, QIcon::Off);
        icon.addPixmap(pixmap, QIcon::Active, QIcon::Off);
        return icon;
    }
    if (highlight)
    {
        icon.addPixmap(Filled(pixmap, HighlightColor()), QIcon::Disabled, QIcon::Off);
    }
    QPixmap const black = Filled(pixmap, Qt::black);
    icon.addPixmap(black, QIcon::Selected, QIcon::Off);
    icon.addPixmap(black, QIcon::Active, QIcon::Off);
    return icon;
}

void MonitorComboBox::AddItem(QString const& text, QVariant const& data, bool momentary)
{
    auto* const item = new QListWidgetItem(text);
    item->setData(Qt::UserRole, data);
    item->setData(MOMENTARY_ROLE, momentary);
    item->setData(SEPARATOR_ROLE, false);
    mRows.append(item);
}

void MonitorComboBox::AddItem(QIcon const& icon, QString const& text, QVariant const& data, bool momentary)
{
    AddItem(text, data, momentary);
    mRows.constLast()->setIcon(icon);
}

void MonitorComboBox::AddSeparator()
{
    auto* const item = new QListWidgetItem();
    item->setFlags(Qt::NoItemFlags);
    item->setData(MOMENTARY_ROLE, false);
    item->setData(SEPARATOR_ROLE, true);
    mRows.append(item);
}

int MonitorComboBox::Count() const
{
    return static_cast<int>(mRows.size());
}

QVariant MonitorComboBox::Data(int row) const
{
    if (row < 0 || row >= mRows.size())
    {
        return {};
    }
    return mRows.at(row)->data(Qt::UserRole);
}

int MonitorComboBox::CurrentRow() const
{
    return mCurrentRow;
}

QString MonitorComboBox::Text(int row) const
{
    if (row < 0 || row >= mRows.size())
    {
        return {};
    }
    return mRows.at(row)->text();
}

void MonitorComboBox::SetCurrentRow(int row)
{
    mCurrentRow = row;
    if (mList && row >= 0 && row < mList->count())
    {
        QSignalBlocker const blocker(mList);
        mList->setCurrentRow(row);
    }
    update();
}

void MonitorComboBox::SetPopUpLocation(PopUpLocation location)
{
    mPopUpLocation = location;
    update();
}

void MonitorComboBox::SetSelectedTextVisible(bool visible)
{
    mTextVisible = visible;
    update();
}

void MonitorComboBox::SetSelectedIconOverride(QImage const& image, int row)
{
    if (image.isNull())
    {
        mOverrideIcon = QIcon();
        mHighlightedOverrideIcon = QIcon();
        mOverrideRow = -1;
    }
    else
    {
        QPixmap const pixmap = QPixmap::fromImage(image);
        mOverrideIcon = QIcon(pixmap);
        mHighlightedOverrideIcon = QIcon(Filled(pixmap, HighlightColor()));
        mOverrideRow = row;
    }
    update();
}

void MonitorComboBox::SetHighlightCurrentEnabled(bool enabled)
{
    mSelectedColor = enabled ? QStringLiteral("black") : QStringLiteral("white");
    mSelectedBackground = enabled ? QStringLiteral("rgb(140, 140, 140)") : QStringLiteral("transparent");
}

void MonitorComboBox::SetHighlightSelectedIconIndexGtZero(bool enabled)
{
    mHighlightAboveRowZero = enabled;
}

PopUpWidget* MonitorComboBox::PopUp() const
{
    return mPopUp;
}

QListWidget* MonitorComboBox::List() const
{
    return mList;
}

void MonitorComboBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
    {
        ShowPopUp();
    }
}

void MonitorComboBox::ShowPopUp()
{
    if (mPopUp)
    {
        if (!mPopUp->ReadyToReopen())
        {
            return; // closed a moment ago by this very click
        }
    }
    else
    {
        mPopUp = new PopUpWidget(this);
        if (!mToolTip.isEmpty())
        {
            mTitleLabel = new QLabel(QStringLiteral("<strong><i>%1</i></strong>").arg(mToolTip));
            mTitleLabel->setAlignment(Qt::AlignCenter);
            mPopUp->AddWidget(mTitleLabel);
        }
        mList = new QListWidget();
        mList->setItemDelegate(new MonitorComboBoxItemDelegate(mList));
        mList->setIconSize(QSize(16, 16));
        mList->setStyleSheet(QStringLiteral("QListWidget::item:selected {color:%1;background-color:%2;} "
                                            "QListWidget::item:hover "
                                            "{color:palette(highlighted-text);background-color:palette(highlight);}")
                                 .arg(mSelectedColor, mSelectedBackground));
        connect(mList, &QListWidget::itemClicked, this, &MonitorComboBox::OnItemSelected);
        for (QListWidgetItem* const item : std::as_const(mRows))
        {
            mList->addItem(item);
        }
        int totalHeight = 0;
        for (int row = 0; row < mList->count(); ++row)
        {
            QListWidgetItem* const item = mList->item(row);
            int const w = mList->sizeHintForColumn(0);
            bool const separator = item->data(SEPARATOR_ROLE).toBool();
            if (w < 0)
            {
                item->setData(Qt::SizeHintRole, QVariant());
            }
            else
            {
                item->setSizeHint(QSize(w, separator ? SEPARATOR_HEIGHT : ROW_HEIGHT));
            }
            if (separator)
            {
                auto* const line = new QFrame();
                line->setFrameShape(QFrame::HLine);
                mList->setItemWidget(item, line);
                totalHeight += SEPARATOR_HEIGHT + 1;
            }
            else
            {
                totalHeight += ROW_HEIGHT;
            }
        }
        if (mCurrentRow >= 0 && mCurrentRow < mList->count())
        {
            mList->setCurrentRow(mCurrentRow);
        }
        int const titleWidth = mTitleLabel ? mTitleLabel->sizeHint().width() : 0;
        mList->setFixedSize(std::max(mList->sizeHintForColumn(0), titleWidth) + 40, totalHeight + 5);
        mList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        mList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        mPopUp->AddWidget(mList);
        mPopUp->UpdateLayout();
    }

    QPoint const g = mapToGlobal(QPoint(0, 0));
    int const cw = width();
    int const ch = height();
    int const pw = mPopUp->width();
    int const ph = mPopUp->height();
    QPoint position = mPopUp->pos();
    switch (mPopUpLocation)
    {
    case PopUpLocation::Above:
        position = QPoint(static_cast<int>(g.x() + cw / 2.0 - pw / 2.0), g.y() - ph - 10);
        break;
    case PopUpLocation::Below:
        position = QPoint(static_cast<int>(g.x() + cw / 2.0 - pw / 2.0), g.y() + ch + 4);
        break;
    case PopUpLocation::Left:
        position = QPoint(g.x() - pw, g.y());
        break;
    case PopUpLocation::Right:
        position = QPoint(g.x() + cw + 4, g.y());
        break;
    }
    // Keep the pop-up inside the main window's right edge, when there is one.
    if (QMainWindow const* const window = UiHelpers::MainWindow())
    {
        int const windowRight = window->mapToGlobal(QPoint(window->width() - 1, 0)).x();
        if (position.x() + pw - 1 > windowRight)
        {
            position.setX(windowRight - 4 - pw + 1);
        }
    }
    mPopUp->move(position);
    mPopUp->show();
    setFocus(Qt::PopupFocusReason);
}

void MonitorComboBox::OnItemSelected(QListWidgetItem* item)
{
    if (!mList || !item)
    {
        return;
    }
    int const row = mList->row(item);
    if (row < 0 || item->data(SEPARATOR_ROLE).toBool() || !(item->flags() & Qt::ItemIsEnabled))
    {
        return; // separators cannot be chosen
    }
    if (item->data(MOMENTARY_ROLE).toBool())
    {
        QSignalBlocker const blocker(mList);
        mList->setCurrentRow(mCurrentRow);
    }
    else
    {
        mCurrentRow = row;
    }
    mPopUp->hide();
    emit CurrentRowChanged(row);
    update();
}

void MonitorComboBox::paintEvent(QPaintEvent*)
{
    if (mCurrentRow < 0 || mCurrentRow >= mRows.size())
    {
        return;
    }
    QListWidgetItem const* const item = mRows.at(mCurrentRow);
    QPainter painter(this);
    int const h = height();
    QRect const iconRect(QPoint(4, 4), QPoint(h - 5, h - 5));
    if (mOverrideIcon.isNull())
    {
        QIcon const icon = item->icon();
        if (!icon.isNull())
        {
            QIcon::Mode const mode = mHighlightAboveRowZero && mCurrentRow > 0 ? QIcon::Disabled : QIcon::Normal;
            icon.paint(&painter, iconRect, Qt::AlignVCenter, mode, QIcon::Off);
        }
    }
    else
    {
        QIcon const& icon = mOverrideRow < 0 || mOverrideRow == mCurrentRow ? mOverrideIcon : mHighlightedOverrideIcon;
        icon.paint(&painter, iconRect, Qt::AlignCenter, QIcon::Normal, QIcon::Off);
    }
    QString const text = item->text();
    if (mTextVisible && !text.isEmpty())
    {
        painter.drawText(QRect(h + 4, 0, 76, h), Qt::AlignVCenter | Qt::AlignLeft, text);
    }
}
