#pragma once

#include <QList>
#include <QPixmap>
#include <QRect>
#include <QWidget>

class FlatButton;
class KeyBindings;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;
class SideBarOverlayWidget;

// A collapsible view of the side bar: a title bar (expand arrow, bold upper-case
// name, small buttons) above a body that a subclass fills.
class SideBarViewWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int TITLE_BAR_HEIGHT = 20;
    static constexpr int EXPANDED_MINIMUM_HEIGHT = 100;

    SideBarViewWidget(KeyBindings* keyBindings, QWidget* parent);

    virtual void SetViewName(QString const& name);
    QString ViewNameText() const;
    bool IsExpanded() const;
    void SetExpanded(bool expanded);
    void SetCollapsible(bool collapsible);
    virtual void UpdateVisibility();

    void SetTitleBarButtonsVisible(bool visible);
    void SetTitleBarButtonsAlwaysVisible(bool visible);
    void SetTitleBarButtonsEnabled(bool enabled);
    // Puts button (hidden until the title bar shows its buttons) at the right
    // of the title bar; a click runs RunTitleBarButtonAction with its index.
    void AppendTitleBarButton(FlatButton* button);
    QList<FlatButton*> TitleBarButtons() const;
    QSize GetTitleBarButtonSize() const;
    // In the parent's coordinates.
    QRect TitleBarGeometry() const;
    void SetOverlayVisible(bool visible);
    bool IsOverlayVisible() const;
    QLabel* NameLabel() const;

Q_SIGNALS:
    void ExpandedStateChanged();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

    // A press on a title-bar button first moves the focus to the view (the
    // buttons take none): the clip list or tree loses it and the buttons may
    // hide before the press is delivered. The subclass's focus-in calls this
    // with the press's focus reason; the button's action then runs exactly once,
    // from its click when the press reaches it, else from here.
    void HandleTitleBarFocusPress(Qt::FocusReason reason);
    virtual void RunTitleBarButtonAction(int index);
    // A new title-bar button of the standard size showing image.
    void AppendTitleBarButton(QString const& image, QString const& toolTip);

    KeyBindings* GetKeyBindings() const;
    QVBoxLayout* GetMainLayout() const;

private:
    void ApplyButtonVisibility(bool asked);
    void UpdateNameWidth();

    KeyBindings* mKeyBindings;
    bool mExpanded = true;
    bool mCollapsible = true;
    bool mButtonsAlwaysVisible = false;
    bool mButtonsDisabled = false;
    QHBoxLayout* mTitleLayout;
    QVBoxLayout* mMainLayout;
    QLabel* mArrowLabel;
    QLabel* mNameLabel;
    QPixmap mCollapsedPixmap;
    QPixmap mExpandedPixmap;
    QList<FlatButton*> mTitleBarButtons;
    SideBarOverlayWidget* mOverlay;
    int mPendingButton = -1;
    bool mPendingPressSeen = false;
};
