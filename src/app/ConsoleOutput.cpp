#include "app/ConsoleOutput.h"

#include <QMenu>

ConsoleOutput::ConsoleOutput(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &ConsoleOutput::ShowContextMenu);
}

void ConsoleOutput::ShowContextMenu(QPoint const& point)
{
    QMenu menu(this);
    menu.addAction(tr("Clear Output"), this, &QPlainTextEdit::clear);
    menu.exec(mapToGlobal(point));
}
