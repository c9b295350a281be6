#include "window/ToolsDisplayWidget.h"

#include "app/KeyBindings.h"
#include "panels/FlatButton.h"
#include "panels/UiHelpers.h"

#include <QFrame>
#include <QHBoxLayout>

namespace
{
FlatButton* Button(QString const& icon, int margin)
{
    return FlatButton::CreateButton(QImage(icon), QSize(24, 24), margin, QString());
}
} // namespace

ToolsDisplayWidget::ToolsDisplayWidget(KeyBindings* keyBindings, QWidget* parent)
    : QWidget(parent)
    , mKeyBindings(keyBindings)
    , mSideBarButton(Button(QStringLiteral(":/icons/sidebar.png"), 4))
    , mAnnotationToolsButton(Button(QStringLiteral(":/icons/annotation_tools.png"), 4))
    , mViewerControlsButton(Button(QStringLiteral(":/icons/viewer_controls.png"), 4))
    , mGlobalTimeControlButton(Button(QStringLiteral(":/icons/time_control_global.png"), 2))
    , mRangeTimeControlButton(Button(QStringLiteral(":/icons/time_control_range.png"), 2))
    , mMediaInfoButton(Button(QStringLiteral(":/icons/media_info.png"), 4))
    , mSeparator(UiHelpers::CreateVerticalLine())
{
    setMinimumWidth(180);
    auto* const layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 5, 0, 5);
    layout->setSpacing(0);
    layout->addWidget(mSideBarButton);
    layout->addWidget(mViewerControlsButton);
    layout->addWidget(mAnnotationToolsButton);
    layout->addSpacing(4);
    layout->addWidget(mSeparator);
    layout->addSpacing(4);
    layout->addWidget(mGlobalTimeControlButton);
    layout->addWidget(mRangeTimeControlButton);
    layout->addSpacing(2);
    layout->addWidget(UiHelpers::CreateVerticalLine());
    layout->addSpacing(2);
    layout->addWidget(mMediaInfoButton);
    layout->addStretch();

    mSideBarButton->hide();
    mAnnotationToolsButton->hide();
    mViewerControlsButton->hide();
    mSeparator->hide();
    UpdateToolTips();
}

FlatButton* ToolsDisplayWidget::SideBarButton() const { return mSideBarButton; }
FlatButton* ToolsDisplayWidget::AnnotationToolsButton() const { return mAnnotationToolsButton; }
FlatButton* ToolsDisplayWidget::ViewerControlsButton() const { return mViewerControlsButton; }
FlatButton* ToolsDisplayWidget::GlobalTimeControlButton() const { return mGlobalTimeControlButton; }
FlatButton* ToolsDisplayWidget::RangeTimeControlButton() const { return mRangeTimeControlButton; }
FlatButton* ToolsDisplayWidget::MediaInfoButton() const { return mMediaInfoButton; }
QFrame* ToolsDisplayWidget::Separator() const { return mSeparator; }

void ToolsDisplayWidget::UpdateToolTips()
{
    auto tip = [this](KeySequenceType type, QString const& text) {
        return mKeyBindings ? mKeyBindings->CreateToolTip(type, text) : text;
    };
    mSideBarButton->setToolTip(tip(KeySequenceType::ToggleSideBar, QStringLiteral("Toggle Side Bar")));
    mViewerControlsButton->setToolTip(
        tip(KeySequenceType::ToggleViewerControls, QStringLiteral("Toggle Viewer Controls")));
    mAnnotationToolsButton->setToolTip(
        tip(KeySequenceType::ToggleAnnotationTools, QStringLiteral("Toggle Annotation Tools")));
    mGlobalTimeControlButton->setToolTip(
        tip(KeySequenceType::ToggleGlobalTimeControl, QStringLiteral("Toggle Global Time Control")));
    mRangeTimeControlButton->setToolTip(
        tip(KeySequenceType::ToggleRangeTimeControl, QStringLiteral("Toggle Range Time Control")));
    mMediaInfoButton->setToolTip(tip(KeySequenceType::ToggleMediaInfo, QStringLiteral("Toggle Media Info")));
}
