#pragma once

#include <QPlainTextEdit>

class QPoint;

// The console's read-only log pane; adds a context menu to clear it.
class ConsoleOutput : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit ConsoleOutput(QWidget* parent = nullptr);

private Q_SLOTS:
    void ShowContextMenu(QPoint const& point);
};
