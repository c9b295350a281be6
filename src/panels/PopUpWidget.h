#pragma once

#include <QList>
#include <QTimer>
#include <QWidget>

// A borderless pop-up container. A short guard after every show and close
// swallows the press that opened it and keeps its owner from reopening it
// with the very click that closed it.
class PopUpWidget : public QWidget
{
    Q_OBJECT

public:
    explicit PopUpWidget(QWidget* parent = nullptr);

    // Reparents the widget into the pop-up; UpdateLayout() lays it out.
    void AddWidget(QWidget* widget);
    void UpdateLayout();
    // False for a short while after the pop-up was shown or closed.
    bool ReadyToReopen() const;

Q_SIGNALS:
    void Finished();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QList<QWidget*> mWidgets;
    QTimer mReopenTimer;
};
