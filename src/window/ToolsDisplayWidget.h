#pragma once

#include <QWidget>

class FlatButton;
class KeyBindings;
class QFrame;

// Six toggle buttons under the viewer: side bar, viewer controls, annotation
// tools, the two time bars and the media information. The monitor panel
// connects and shows them.
class ToolsDisplayWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ToolsDisplayWidget(KeyBindings* keyBindings, QWidget* parent = nullptr);

    FlatButton* SideBarButton() const;
    FlatButton* AnnotationToolsButton() const;
    FlatButton* ViewerControlsButton() const;
    FlatButton* GlobalTimeControlButton() const;
    FlatButton* RangeTimeControlButton() const;
    FlatButton* MediaInfoButton() const;
    QFrame* Separator() const;

public Q_SLOTS:
    void UpdateToolTips();

private:
    KeyBindings* mKeyBindings;
    FlatButton* mSideBarButton;
    FlatButton* mAnnotationToolsButton;
    FlatButton* mViewerControlsButton;
    FlatButton* mGlobalTimeControlButton;
    FlatButton* mRangeTimeControlButton;
    FlatButton* mMediaInfoButton;
    QFrame* mSeparator;
};
