#pragma once

#include <QWidget>

// A translucent cover over a side-bar view that marks it as the target of a
// view drag.
class SideBarOverlayWidget : public QWidget
{
    Q_OBJECT

public:
    explicit SideBarOverlayWidget(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};
