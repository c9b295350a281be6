#pragma once

#include <QModelIndex>
#include <QStyledItemDelegate>

// The project tree's delegate: tells when an edit of a row's name was stored.
class TreeWidgetEditingFinishedDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void setModelData(QWidget* editor, QAbstractItemModel* model, QModelIndex const& index) const override;

Q_SIGNALS:
    void editingFinished(QModelIndex const& index) const;
};
