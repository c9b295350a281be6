#include "panels/SideBarViewWidget.h"

#include "panels/FlatButton.h"
#include "panels/ProjectTreeWidgetItem.h"
#include "panels/SideBarOverlayWidget.h"

#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

SideBarViewWidget::SideBarViewWidget(KeyBindings* keyBindings, QWidget* parent)
    : QWidget(parent)
    , mKeyBindings(keyBindings)
{
    ProjectTreeWidgetItem::LoadIcons(); // also registers the side bar's images
    setAutoFillBackground(true);
    setFocusPolicy(Qt::WheelFocus);
    mCollapsedPixmap = QPixmap(":/icons/view_collapsed.png").scaled(12, 12, Qt::KeepAspectRatio,
                                                                    Qt::SmoothTransformation);
    mExpandedPixmap = QPixmap(":/icons/view_expanded.png").scaled(12, 12, Qt::KeepAspectRatio,
                                                                  Qt::SmoothTransformation);
    mArrowLabel = new QLabel(this);
    mArrowLabel->setPixmap(mExpandedPixmap);
    mArrowLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    mNameLabel = new QLabel(QStringLiteral("UNTITLED"), this);
    mNameLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    mNameLabel->setMinimumWidth(1);
    mNameLabel->setFixedHeight(TITLE_BAR_HEIGHT);

    mTitleLayout = new QHBoxLayout();
    mTitleLayout->setContentsMargins(0, 0, 0, 0);
    mTitleLayout->setSpacing(2);
    mTitleLayout->addWidget(mArrowLabel);
    mTitleLayout->addWidget(mNameLabel);
    mTitleLayout->addStretch();

    mMainLayout = new QVBoxLayout(this);
    mMainLayout->setContentsMargins(0, 0, 0, 0);
    mMainLayout->setSpacing(0);
    mMainLayout->addLayout(mTitleLayout);

    mOverlay = new SideBarOverlayWidget(this);
    mOverlay->hide();
}

void SideBarViewWidget::SetViewName(QString const& name)
{
    mNameLabel->setText(QStringLiteral("<strong>%1</strong>").arg(name).toUpper());
}

QString SideBarViewWidget::ViewNameText() const
{
    return mNameLabel->text();
}

bool SideBarViewWidget::IsExpanded() const
{
    return mExpanded;
}

void SideBarViewWidget::SetExpanded(bool expanded)
{
    if (!mCollapsible)
    {
        return;
    }
    mExpanded = expanded;
    UpdateVisibility();
    if (!expanded)
    {
        for (FlatButton* button : mTitleBarButtons)
        {
            button->hide();
        }
        UpdateNameWidth();
    }
    Q_EMIT ExpandedStateChanged();
}

void SideBarViewWidget::SetCollapsible(bool collapsible)
{
    mCollapsible = collapsible;
}

void SideBarViewWidget::UpdateVisibility()
{
    mArrowLabel->setPixmap(mExpanded ? mExpandedPixmap : mCollapsedPixmap);
    if (mExpanded)
    {
        setMinimumHeight(EXPANDED_MINIMUM_HEIGHT);
        setMaximumHeight(QWIDGETSIZE_MAX);
    }
    else
    {
        setFixedHeight(TITLE_BAR_HEIGHT);
    }
}

void SideBarViewWidget::ApplyButtonVisibility(bool asked)
{
    bool const visible = mExpanded && !mButtonsDisabled && (mButtonsAlwaysVisible || asked);
    for (FlatButton* button : mTitleBarButtons)
    {
        button->setVisible(visible);
    }
    UpdateNameWidth();
}

void SideBarViewWidget::SetTitleBarButtonsVisible(bool visible)
{
    ApplyButtonVisibility(visible);
}

void SideBarViewWidget::SetTitleBarButtonsAlwaysVisible(bool visible)
{
    mButtonsAlwaysVisible = visible;
    ApplyButtonVisibility(false);
}

void SideBarViewWidget::SetTitleBarButtonsEnabled(bool enabled)
{
    mButtonsDisabled = !enabled;
    if (!enabled)
    {
        for (FlatButton* button : mTitleBarButtons)
        {
            button->hide();
        }
        UpdateNameWidth();
    }
}

void SideBarViewWidget::AppendTitleBarButton(QString const& image, QString const& toolTip)
{
    AppendTitleBarButton(FlatButton::CreateButton(QImage(image), GetTitleBarButtonSize(), 3, toolTip));
}

void SideBarViewWidget::AppendTitleBarButton(FlatButton* button)
{
    if (!button)
    {
        return;
    }
    button->setParent(this);
    button->hide();
    mTitleLayout->addWidget(button);
    int const index = int(mTitleBarButtons.size());
    mTitleBarButtons.append(button);
    connect(button, &FlatButton::pressed, this, [this] { mPendingPressSeen = true; });
    connect(button, &FlatButton::clicked, this, [this, index] { RunTitleBarButtonAction(index); });
}

QList<FlatButton*> SideBarViewWidget::TitleBarButtons() const
{
    return mTitleBarButtons;
}

QSize SideBarViewWidget::GetTitleBarButtonSize() const
{
    return QSize(18, 18);
}

QRect SideBarViewWidget::TitleBarGeometry() const
{
    return QRect(0, geometry().top(), width(), mNameLabel->height());
}

void SideBarViewWidget::SetOverlayVisible(bool visible)
{
    if (visible)
    {
        mOverlay->raise();
        mOverlay->setGeometry(rect());
    }
    mOverlay->setVisible(visible);
}

bool SideBarViewWidget::IsOverlayVisible() const
{
    return mOverlay->isVisible();
}

QLabel* SideBarViewWidget::NameLabel() const
{
    return mNameLabel;
}

void SideBarViewWidget::UpdateNameWidth()
{
    int buttons = 0;
    bool any = false;
    for (FlatButton* button : mTitleBarButtons)
    {
        if (button->isVisibleTo(this))
        {
            any = true;
            buttons += button->width() + 3;
        }
    }
    if (!any)
    {
        mNameLabel->setMaximumWidth(QWIDGETSIZE_MAX);
        return;
    }
    int const arrow = mArrowLabel->isVisibleTo(this) ? mArrowLabel->width() : 0;
    mNameLabel->setMaximumWidth(std::max(1, width() - arrow - buttons - 12));
}

void SideBarViewWidget::enterEvent(QEnterEvent*)
{
}

void SideBarViewWidget::leaveEvent(QEvent*)
{
}

void SideBarViewWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    UpdateNameWidth();
    if (mOverlay->isVisible())
    {
        mOverlay->setGeometry(rect());
    }
}

void SideBarViewWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    SetTitleBarButtonsVisible(rect().contains(mapFromGlobal(QCursor::pos())));
}

void SideBarViewWidget::HandleTitleBarFocusPress(Qt::FocusReason reason)
{
    if (reason != Qt::MouseFocusReason || !mExpanded)
    {
        return;
    }
    QPoint const cursor = QCursor::pos();
    for (int i = 0; i < mTitleBarButtons.size(); ++i)
    {
        FlatButton* button = mTitleBarButtons.at(i);
        if (button->rect().contains(button->mapFromGlobal(cursor)))
        {
            mPendingButton = i;
            mPendingPressSeen = false;
            // The press is delivered right after this focus change; a button that
            // received it acts on its click instead.
            QTimer::singleShot(0, this, [this, i] {
                if (mPendingButton == i && !mPendingPressSeen)
                {
                    RunTitleBarButtonAction(i);
                }
                mPendingButton = -1;
            });
            return;
        }
    }
}

void SideBarViewWidget::RunTitleBarButtonAction(int)
{
}

KeyBindings* SideBarViewWidget::GetKeyBindings() const
{
    return mKeyBindings;
}

QVBoxLayout* SideBarViewWidget::GetMainLayout() const
{
    return mMainLayout;
}
